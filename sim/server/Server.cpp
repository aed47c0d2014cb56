#include "Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "Session.h"

namespace qxsym::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReceiveBuffer = 64 * 1024;
constexpr std::size_t kFlushThreshold = 256 * 1024;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

struct Server::Connection final : SessionIo {
  Connection(Server& s, int socket_fd, std::uint64_t conn_id)
      : server(s), fd(socket_fd), id(conn_id) {}
  ~Connection() override { CloseFd(fd); }

  void Write(const std::uint8_t* data, std::size_t n) override {
    if (failed) return;
    out.insert(out.end(), data, data + n);
    // A client that sends many requests in one go without reading gets its
    // replies as they come, so the output never piles up.
    if (out.size() >= kFlushThreshold) Flush();
  }

  void Delay(std::uint32_t ms) override {
    Flush();
    pollfd p{server.stop_pipe_[0], POLLIN, 0};
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return;
      const int r = ::poll(&p, 1, static_cast<int>(left));
      if (r > 0) return;  // the server stops
      if (r < 0 && errno != EINTR) return;
    }
  }

  bool broken() const override { return failed; }

  void Log(const std::string& line) override {
    std::lock_guard<std::mutex> lock(server.log_mutex_);
    std::fprintf(stderr, "[conn %llu] %s\n", static_cast<unsigned long long>(id), line.c_str());
  }

  // Sends everything queued; a peer that takes more than the idle time to
  // accept it loses its connection. Each send also stops at that time-out
  // (SO_SNDTIMEO), so a peer that trickles never holds the thread longer.
  bool Flush() {
    std::size_t sent = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(server.options_.idle_timeout_ms);
    while (sent < out.size() && !failed) {
      const ssize_t r = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
      if (r > 0) {
        sent += static_cast<std::size_t>(r);
        if (sent < out.size() && Clock::now() >= until) failed = true;
      } else if (r < 0 && errno == EINTR) {
        continue;
      } else {
        failed = true;
      }
    }
    out.clear();
    return !failed;
  }

  Server& server;
  int fd;
  std::uint64_t id;
  std::uint32_t peer = 0;  // the client's IPv4 address, network order
  std::vector<std::uint8_t> out;
  bool failed = false;
  std::thread thread;
  std::atomic<bool> done{false};
};

Server::Server(ServerOptions options, std::shared_ptr<ControllerBackend> backend)
    : options_(std::move(options)), backend_(std::move(backend)) {
  if (::pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    stop_pipe_[0] = stop_pipe_[1] = -1;
  }
}

Server::~Server() {
  Stop();
  Reap(true);
  CloseFd(listen_fd_);
  CloseFd(stop_pipe_[0]);
  CloseFd(stop_pipe_[1]);
}

bool Server::Listen(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    CloseFd(listen_fd_);
    return false;
  };
  if (stop_pipe_[0] < 0) return fail(std::string("pipe: ") + std::strerror(errno));
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port_text = std::to_string(options_.port);
  const int gai = ::getaddrinfo(options_.host.c_str(), port_text.c_str(), &hints, &found);
  if (gai != 0 || found == nullptr) {
    return fail("cannot resolve " + options_.host + ": " + ::gai_strerror(gai));
  }
  sockaddr_in addr{};
  std::memcpy(&addr, found->ai_addr, sizeof addr);
  ::freeaddrinfo(found);

  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    return fail("cannot bind " + options_.host + ":" + port_text + ": " + std::strerror(errno));
  }
  if (::listen(listen_fd_, 64) != 0) return fail(std::string("listen: ") + std::strerror(errno));
  socklen_t len = sizeof addr;
  if (::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return fail(std::string("getsockname: ") + std::strerror(errno));
  }
  port_ = ntohs(addr.sin_port);
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text) != nullptr) options_.host = text;
  return true;
}

void Server::Stop() {
  if (stop_pipe_[1] >= 0) {
    const char b = 's';
    [[maybe_unused]] ssize_t r = ::write(stop_pipe_[1], &b, 1);
  }
}

void Server::Run() {
  if (listen_fd_ < 0) return;
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    const int r = ::poll(p, 2, 1000);
    Reap(false);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[1].revents != 0) break;
    if ((p[0].revents & POLLIN) == 0) continue;
    sockaddr_in peer{};
    socklen_t peer_size = sizeof peer;
    const int fd =
        ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &peer_size, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (!Admit(peer.sin_addr.s_addr)) {
      ::close(fd);
      continue;
    }
    Start(fd, peer.sin_addr.s_addr);
  }
  CloseFd(listen_fd_);
  Stop();
  Reap(true);
}

bool Server::Admit(std::uint32_t peer) {
  std::string refusal;
  if (active_.load() >= options_.max_connections) {
    refusal = std::to_string(options_.max_connections) + " connections already";
  } else {
    std::uint32_t from_peer = 0;
    for (const auto& c : connections_) {
      if (!c->done.load() && c->peer == peer) ++from_peer;
    }
    if (from_peer >= options_.max_connections_per_peer) {
      char text[INET_ADDRSTRLEN] = {};
      in_addr a{};
      a.s_addr = peer;
      ::inet_ntop(AF_INET, &a, text, sizeof text);
      refusal = std::to_string(from_peer) + " connections from " + text + " already";
    }
  }
  if (refusal.empty()) return true;
  if (options_.verbose) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    std::fprintf(stderr, "connection refused: %s\n", refusal.c_str());
  }
  return false;
}

void Server::Start(int fd, std::uint32_t peer) {
  auto c = std::make_unique<Connection>(*this, fd, next_id_++);
  Connection& ref = *c;
  ref.peer = peer;
  ++active_;
  connections_.push_back(std::move(c));
  ref.thread = std::thread([this, &ref] {
    try {
      Serve(ref);
    } catch (const std::exception& e) {
      ref.Log(std::string("connection ended by an error: ") + e.what());
    }
    ::shutdown(ref.fd, SHUT_RDWR);
    --active_;
    ref.done = true;
  });
}

void Server::Reap(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || (*it)->done.load()) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::Serve(Connection& c) {
  const int one = 1;
  ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const std::uint32_t idle = options_.idle_timeout_ms;
  timeval send_timeout{static_cast<time_t>(idle / 1000),
                       static_cast<suseconds_t>((idle % 1000) * 1000)};
  ::setsockopt(c.fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  if (options_.verbose) c.Log("connected");

  Session session(options_.session, *backend_, c, options_.verbose);
  std::vector<std::uint8_t> buffer(kReceiveBuffer);
  auto deadline = Clock::now() + std::chrono::milliseconds(idle);
  std::string reason = "peer closed the connection";
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      reason = "idle time-out";
      break;
    }
    pollfd p[2] = {{c.fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    const int r = ::poll(p, 2, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (r < 0) {
      if (errno == EINTR) continue;
      reason = std::string("poll: ") + std::strerror(errno);
      break;
    }
    if (p[1].revents != 0) {
      reason = "server stopping";
      break;
    }
    if (r == 0) continue;  // the deadline is checked above
    const ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) reason = std::string("recv: ") + std::strerror(errno);
      break;
    }
    const std::uint64_t before = session.command_frames();
    session.Receive(buffer.data(), static_cast<std::size_t>(n));
    if (!c.Flush()) {
      reason = "send failed";
      break;
    }
    if (session.closed()) {
      reason = session.close_reason();
      break;
    }
    if (session.command_frames() != before) {
      deadline = Clock::now() + std::chrono::milliseconds(idle);
    }
  }
  if (options_.verbose) c.Log("disconnected: " + reason);
}

}  // namespace qxsym::sim
