#include "FakeController.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace qxsym {
namespace test {
namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(const Bytes& bytes) {
  std::string s;
  char buf[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof(buf), "%02X ", b);
    s += buf;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

// ---- FakeConnection ---------------------------------------------------------

bool FakeConnection::stopping() const { return owner_->stopping_.load(); }

bool FakeConnection::Read(std::size_t n, Bytes* out, int timeout_ms) {
  out->clear();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::uint8_t buf[4096];
  while (out->size() < n) {
    if (fd_ < 0 || stopping()) return false;
    pollfd p[2] = {{fd_, POLLIN, 0}, {owner_->wake_pipe_[0], POLLIN, 0}};
    const int r = ::poll(p, 2, MillisecondsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p[1].revents & POLLIN) != 0) return false;
    const std::size_t want = std::min(sizeof(buf), n - out->size());
    const ssize_t got = ::recv(fd_, buf, want, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    owner_->Record(buf, static_cast<std::size_t>(got));
    out->insert(out->end(), buf, buf + got);
  }
  return true;
}

bool FakeConnection::ReadByte(std::uint8_t* byte, int timeout_ms) {
  Bytes one;
  if (!Read(1, &one, timeout_ms)) return false;
  *byte = one[0];
  return true;
}

bool FakeConnection::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size != 0) {
    if (fd_ < 0) return false;
    const ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void FakeConnection::Close() {
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
}

bool FakeConnection::DrainUntilClosed(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::uint8_t buf[4096];
  for (;;) {
    if (fd_ < 0 || stopping()) return false;
    pollfd p[2] = {{fd_, POLLIN, 0}, {owner_->wake_pipe_[0], POLLIN, 0}};
    const int r = ::poll(p, 2, MillisecondsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p[1].revents & POLLIN) != 0) return false;
    const ssize_t got = ::recv(fd_, buf, sizeof(buf), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    owner_->Record(buf, static_cast<std::size_t>(got));
  }
}

// ---- FakeController ---------------------------------------------------------

FakeController::FakeController() = default;

FakeController::~FakeController() { Stop(); }

void FakeController::Expect(Bytes request, Bytes reply) {
  script_.push_back(Step{Step::kExpect, std::move(request), std::move(reply)});
}
void FakeController::Send(Bytes bytes) {
  script_.push_back(Step{Step::kSend, {}, std::move(bytes)});
}
void FakeController::ExpectThenSilence(Bytes request) {
  script_.push_back(Step{Step::kSilence, std::move(request), {}});
}
void FakeController::Hangup() { script_.push_back(Step{Step::kHangup, {}, {}}); }

void FakeController::SetHandler(Handler handler) { handler_ = std::move(handler); }

bool FakeController::Start() {
  if (listen_fd_ >= 0) return false;
  if (::pipe2(wake_pipe_, O_CLOEXEC) != 0) return false;
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(listen_fd_, 8) != 0) {
    return false;
  }
  socklen_t len = sizeof(addr);
  if (::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return false;
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void FakeController::Stop() {
  if (stopping_.exchange(true)) return;
  if (wake_pipe_[1] >= 0) {
    const char x = 'x';
    (void)!::write(wake_pipe_[1], &x, 1);
  }
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
  for (int& fd : wake_pipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

QXSymServerAddress FakeController::Address(std::uint16_t timeout_ms) const {
  QXSymServerAddress address{};
  address.protocol = symProtGDB_TCP;
  std::snprintf(address.ip, sizeof(address.ip), "127.0.0.1");
  address.port = port_;
  address.timeout = timeout_ms;
  return address;
}

void FakeController::Serve() {
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    const int r = ::poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (p[1].revents & POLLIN) != 0 || stopping_.load()) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Acknowledgements and frames go out as separate small writes; without
    // this each would wait for the client's delayed ACK.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    const int count = ++connections_;
    FakeConnection connection(this, fd);
    if (handler_) {
      handler_(connection);
    } else if (count == 1) {
      PlayScript(connection);
    } else {
      connection.DrainUntilClosed(60000);
    }
    connection.Close();
  }
}

void FakeController::PlayScript(FakeConnection& connection) {
  for (std::size_t i = 0; i < script_.size(); ++i) {
    const Step& step = script_[i];
    if (step.kind == Step::kExpect || step.kind == Step::kSilence) {
      Bytes got;
      if (!connection.Read(step.request.size(), &got)) {
        Mismatch("step " + std::to_string(i) + ": expected " + Hex(step.request) + ", got only " +
                 Hex(got));
        return;
      }
      if (got != step.request) {
        Mismatch("step " + std::to_string(i) + ": expected " + Hex(step.request) + ", got " +
                 Hex(got));
      }
    }
    switch (step.kind) {
      case Step::kExpect:
      case Step::kSend:
        connection.Write(step.reply);
        break;
      case Step::kSilence:
        script_done_ = true;
        connection.DrainUntilClosed(60000);
        return;
      case Step::kHangup:
        script_done_ = true;
        connection.Close();
        return;
    }
  }
  script_done_ = true;
  connection.DrainUntilClosed(60000);
}

void FakeController::Record(const std::uint8_t* data, std::size_t size) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    received_.insert(received_.end(), data, data + size);
  }
  received_cv_.notify_all();
}

void FakeController::Mismatch(std::string what) {
  std::lock_guard<std::mutex> guard(mutex_);
  mismatches_.push_back(std::move(what));
}

Bytes FakeController::received() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}

bool FakeController::WaitForReceived(std::size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return received_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                               [&] { return received_.size() >= n; });
}

std::vector<std::string> FakeController::mismatches() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return mismatches_;
}

}  // namespace test
}  // namespace qxsym
