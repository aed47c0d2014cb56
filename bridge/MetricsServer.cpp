// The operations endpoint: a tiny HTTP/1.x server on one thread. It is for a
// scraper on the same host, so it keeps to what that needs and bounds the
// rest: loopback only, a head of at most kMaxHeadBytes read within
// kReadTimeout, one request per connection, at most kMaxConnections at once.
// A poll() loop serves every connection, so a client that sends nothing only
// holds its own slot until its time runs out.
#include "MetricsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "Config.h"
#include "HttpRequest.h"

namespace qxsym::bridge {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxConnections = 16;
constexpr auto kReadTimeout = std::chrono::seconds(2);
constexpr auto kWriteTimeout = std::chrono::seconds(10);
// After the answer, what the client still sends is read and dropped for a
// little while: closing with unread bytes would reset the connection and
// could destroy the answer before the client reads it.
constexpr auto kDrainTime = std::chrono::milliseconds(500);
constexpr std::size_t kMaxDrainBytes = 64 * 1024;
// When accept() fails for want of descriptors, the listener is left alone
// this long instead of spinning on it.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr std::size_t kMaxAcceptBatch = 64;

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(-1); }
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

struct Connection {
  enum class State { kReading, kWriting, kDraining };
  Fd fd;
  State state = State::kReading;
  std::string in;
  std::string out;
  std::size_t sent = 0;
  std::size_t drained = 0;
  Clock::time_point deadline;
  bool done = false;
};

}  // namespace

struct MetricsServer::Impl {
  Handlers handlers;
  Fd listener;
  Fd stop_read;
  Fd stop_write;
  std::uint16_t port = 0;
  std::vector<Connection> connections;
  Clock::time_point accept_paused_until;
  std::thread thread;

  void Listen(const std::string& host, std::uint16_t wanted_port);
  void Run();
  int PollTimeoutMs(Clock::time_point now) const;
  void Accept(Clock::time_point now);
  void OnReadable(Connection& c);
  void OnWritable(Connection& c);
  void Answer(Connection& c, const HttpResponse& response);
  void Expire(Clock::time_point now);
};

void MetricsServer::Impl::Listen(const std::string& host, std::uint16_t wanted_port) {
  if (!IsLoopbackIPv4(host)) {
    throw MetricsError("metrics host '" + host + "' is not a loopback IPv4 address (127.x.x.x)");
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(wanted_port);
  ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
  listener = Fd(::socket(AF_INET, SOCK_STREAM, 0));
  if (listener.get() < 0) throw MetricsError(Errno("metrics socket"));
  const int one = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const std::string where = host + ":" + std::to_string(wanted_port);
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    throw MetricsError(Errno(("cannot listen on " + where).c_str()));
  }
  if (::listen(listener.get(), 64) != 0 || !SetNonBlocking(listener.get())) {
    throw MetricsError(Errno(("cannot listen on " + where).c_str()));
  }
  socklen_t len = sizeof addr;
  if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw MetricsError(Errno("metrics getsockname"));
  }
  port = ntohs(addr.sin_port);
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw MetricsError(Errno("metrics pipe"));
  stop_read = Fd(pipe_fds[0]);
  stop_write = Fd(pipe_fds[1]);
}

int MetricsServer::Impl::PollTimeoutMs(Clock::time_point now) const {
  Clock::time_point next = Clock::time_point::max();
  for (const Connection& c : connections) next = std::min(next, c.deadline);
  if (accept_paused_until > now) next = std::min(next, accept_paused_until);
  if (next == Clock::time_point::max()) return -1;
  if (next <= now) return 0;
  // Round up, so the loop does not wake just before a deadline and spin.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
  return static_cast<int>(std::min<long long>(ms, 60 * 1000));
}

void MetricsServer::Impl::Run() {
  std::vector<pollfd> fds;
  for (;;) {
    Clock::time_point now = Clock::now();
    const bool accepting = accept_paused_until <= now;
    fds.assign({{stop_read.get(), POLLIN, 0}, {accepting ? listener.get() : -1, POLLIN, 0}});
    for (const Connection& c : connections) {
      fds.push_back({c.fd.get(),
                     static_cast<short>(c.state == Connection::State::kWriting ? POLLOUT : POLLIN),
                     0});
    }
    const int ready = ::poll(fds.data(), fds.size(), PollTimeoutMs(now));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;  // asked to stop
    now = Clock::now();
    // Only the connections polled above; Accept() appends after them.
    for (std::size_t i = 0; ready > 0 && i + 2 < fds.size(); ++i) {
      const short ev = fds[i + 2].revents;
      if (ev == 0) continue;
      Connection& c = connections[i];
      if (c.state == Connection::State::kWriting) {
        OnWritable(c);
      } else {
        OnReadable(c);
      }
    }
    Expire(now);
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) Accept(now);
    connections.erase(std::remove_if(connections.begin(), connections.end(),
                                     [](const Connection& c) { return c.done; }),
                      connections.end());
  }
}

void MetricsServer::Impl::Accept(Clock::time_point now) {
  // A bounded batch per wake, so that a stream of connections cannot keep
  // the loop from serving the ones it holds.
  for (std::size_t batch = 0; batch < kMaxAcceptBatch; ++batch) {
    Fd fd(::accept(listener.get(), nullptr, nullptr));
    if (fd.get() < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        accept_paused_until = now + kAcceptPause;
      }
      return;  // EAGAIN: none left; anything else: try again at the next wake
    }
    std::size_t open = 0;
    for (const Connection& c : connections) open += c.done ? 0 : 1;
    // Beyond the limit a connection is closed at once: a scraper retries,
    // and a flood cannot make the bridge hold more.
    if (open >= kMaxConnections || !SetNonBlocking(fd.get())) continue;
    Connection c;
    c.fd = std::move(fd);
    c.deadline = now + kReadTimeout;
    connections.push_back(std::move(c));
  }
}

void MetricsServer::Impl::OnReadable(Connection& c) {
  char buf[4096];
  const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
  if (n < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.done = true;
    return;
  }
  if (n == 0) {
    c.done = true;  // the client closed; an unfinished head gets no answer
    return;
  }
  if (c.state == Connection::State::kDraining) {
    c.drained += static_cast<std::size_t>(n);
    if (c.drained > kMaxDrainBytes) c.done = true;
    return;
  }
  c.in.append(buf, static_cast<std::size_t>(n));
  const std::size_t end = HttpHeadEnd(c.in);
  if (end == std::string::npos ? c.in.size() > kMaxHeadBytes : end > kMaxHeadBytes) {
    Answer(c, HttpError(431));
  } else if (end != std::string::npos) {
    Answer(c, HandleHttpRequest(c.in.substr(0, end), handlers));
  }
}

void MetricsServer::Impl::Answer(Connection& c, const HttpResponse& response) {
  c.out = response.Serialize();
  c.in.clear();
  c.state = Connection::State::kWriting;
  c.deadline = Clock::now() + kWriteTimeout;
  OnWritable(c);  // most answers fit the socket's buffer at once
}

void MetricsServer::Impl::OnWritable(Connection& c) {
  while (c.sent < c.out.size()) {
    const ssize_t n =
        ::send(c.fd.get(), c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.done = true;
      return;
    }
    c.sent += static_cast<std::size_t>(n);
  }
  ::shutdown(c.fd.get(), SHUT_WR);
  c.out.clear();
  c.state = Connection::State::kDraining;
  c.deadline = Clock::now() + kDrainTime;
}

void MetricsServer::Impl::Expire(Clock::time_point now) {
  for (Connection& c : connections) {
    if (c.done || c.deadline > now) continue;
    if (c.state == Connection::State::kReading) {
      Answer(c, HttpError(408));  // tells the client why before closing
      if (c.state == Connection::State::kWriting) c.deadline = now + kDrainTime;
    } else {
      c.done = true;
    }
  }
}

MetricsServer::MetricsServer(const std::string& host, std::uint16_t port, Handlers handlers)
    : impl_(std::make_unique<Impl>()) {
  impl_->handlers = std::move(handlers);
  impl_->Listen(host, port);
  impl_->thread = std::thread([this] { impl_->Run(); });
}

MetricsServer::~MetricsServer() {
  const char byte = 0;
  while (::write(impl_->stop_write.get(), &byte, 1) < 0 && errno == EINTR) {
  }
  impl_->thread.join();
}

std::uint16_t MetricsServer::port() const { return impl_->port; }

}  // namespace qxsym::bridge
