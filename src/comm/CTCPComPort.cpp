#include "CTCPComPort.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "GDBProtocol.h"
#include "QXSymSockets.h"

namespace qxsym {
namespace {

using Clock = std::chrono::steady_clock;

// Waits for events on the socket for at most timeout_ms, resuming after
// signals with the time that is left. Returns poll's result.
int PollFor(net::Handle socket, short events, int timeout_ms, short* revents) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const int r = net::Poll(socket, events, timeout_ms, revents);
    if (r >= 0) return r;
    if (!net::IsInterrupted(net::LastError())) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    timeout_ms = left > 0 ? static_cast<int>(left) : 0;
  }
}

// Host names being resolved by resolver threads that their caller has
// stopped waiting for. Bounded, so that a resolver that hangs cannot make
// threads pile up: past the bound a name is refused at once.
constexpr int kMaxPendingResolutions = 8;
std::atomic<int> pending_resolutions{0};

// One resolution, shared by the waiting caller and the resolver thread;
// whichever lets go last frees it.
struct Resolution {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  bool found = false;
  in_addr address{};
};

// Resolves a host name on a thread of its own and waits at most until
// deadline. The thread ends when the resolver answers, even after the
// caller has given up.
bool ResolveName(const std::string& host, Clock::time_point deadline, in_addr* out) {
  if (pending_resolutions.fetch_add(1) >= kMaxPendingResolutions) {
    pending_resolutions.fetch_sub(1);
    return false;
  }
  std::shared_ptr<Resolution> job;
  try {
    job = std::make_shared<Resolution>();
    std::thread([job, host] {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      hints.ai_protocol = IPPROTO_TCP;
      addrinfo* list = nullptr;
      bool found = false;
      in_addr address{};
      if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0 && list != nullptr) {
        if (list->ai_addr != nullptr && list->ai_addrlen >= sizeof(sockaddr_in)) {
          address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
          found = true;
        }
        ::freeaddrinfo(list);
      }
      {
        std::lock_guard<std::mutex> guard(job->mutex);
        job->done = true;
        job->found = found;
        job->address = address;
      }
      job->done_cv.notify_all();
      pending_resolutions.fetch_sub(1);
    }).detach();
  } catch (const std::exception&) {  // no memory or no thread
    pending_resolutions.fetch_sub(1);
    return false;
  }
  std::unique_lock<std::mutex> lock(job->mutex);
  if (!job->done_cv.wait_until(lock, deadline, [&] { return job->done; })) return false;
  if (!job->found) return false;
  *out = job->address;
  return true;
}

// Dotted IPv4 text is taken as it is, without the resolver; anything else
// is a host name, resolved before deadline. The ip field need not be
// terminated: at most its 60 bytes are read.
bool ResolveIPv4(const char (&ip)[60], Clock::time_point deadline, in_addr* out) {
  std::size_t n = 0;
  while (n < sizeof(ip) && ip[n] != '\0') ++n;
  if (n == 0) return false;
  const std::string host(ip, n);
  if (net::ParseIPv4(host.c_str(), out)) return true;
  return ResolveName(host, deadline, out);
}

}  // namespace

CTCPComPort::CTCPComPort() = default;

CTCPComPort::~CTCPComPort() { Close(); }

bool CTCPComPort::Open(const QXSymServerAddress* address) {
  if (address == nullptr || SocketOpen()) return false;
  // Resolving and connecting share one time-out.
  const int timeout_ms = address->timeout != 0 ? address->timeout : gdb::kDefaultTimeoutMs;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  in_addr host{};
  if (!ResolveIPv4(address->ip, deadline, &host)) return false;

  socket_ = net::OpenStream();
  if (!SocketOpen()) return false;

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(address->port);
  peer.sin_addr = host;

  bool ok = false;
  if (::connect(net::Raw(socket_), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) == 0) {
    ok = true;
  } else if (net::IsInProgress(net::LastError())) {
    short revents = 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left > 0 && PollFor(socket_, POLLOUT, static_cast<int>(left), &revents) > 0) {
      int error = 0;
      ok = net::SocketError(socket_, &error) && error == 0;
    }
  }
  if (ok) {
    // Back to blocking mode for sends; waits for input use poll. A send that
    // cannot progress gives up after the time-out instead of hanging.
    ok = net::SetNonBlocking(socket_, false);
    net::SetTimeout(socket_, SO_SNDTIMEO, timeout_ms);
    // Frames and one-byte acknowledgements alternate; without this the
    // acknowledgement would wait for the peer's delayed ACK.
    net::NoDelay(socket_);
  }
  if (!ok) {
    Close();
    return false;
  }
  tx_count_ = 0;
  rx_pending_ = 0;
  receive_timeout_ms_ = 0;
  SetConnected(true);
  return true;
}

int CTCPComPort::Close() {
  if (!SocketOpen()) return -1;
  const int r = net::CloseSocket(socket_);
  socket_ = net::kNoSocket;
  return r;
}

bool CTCPComPort::Refill(std::uint16_t timeoutMs) {
  if (!connected() || !SocketOpen()) return false;
  // The wait happens inside recv (SO_RCVTIMEO): one system call per block of
  // input rather than a poll and a recv. A wait of 0 only takes what is there.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int wait_ms = timeoutMs;
  for (;;) {
    if (wait_ms != 0 && wait_ms != receive_timeout_ms_) {
      if (!net::SetTimeout(socket_, SO_RCVTIMEO, wait_ms)) {
        SetConnected(false);
        return false;
      }
      receive_timeout_ms_ = wait_ms;
    }
    const long n = net::Receive(socket_, rx_buffer_, sizeof(rx_buffer_), wait_ms == 0);
    const int error = n < 0 ? net::LastError() : 0;
    if (n > 0) {
      rx_next_ = rx_buffer_;
      rx_pending_ = static_cast<std::uint32_t>(n);
      return true;
    }
    if (n < 0 && net::IsTimeout(error)) return false;  // the wait ran out
    if (n < 0 && net::IsInterrupted(error)) {
      // A signal cut the wait short: wait for what is left of it.
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      wait_ms = static_cast<int>(left);
      continue;
    }
    SetConnected(false);  // closed by the peer, or a socket error
    return false;
  }
}

bool CTCPComPort::Append(const void* data, std::int32_t length) {
  if (!connected() || !SocketOpen() || length < 0) return false;
  if (tx_count_ + static_cast<std::uint32_t>(length) >= kBufferSize) return false;
  if (length != 0) std::memcpy(tx_buffer_ + tx_count_, data, static_cast<std::size_t>(length));
  tx_count_ += static_cast<std::uint32_t>(length);
  return true;
}

void CTCPComPort::Clear() {
  tx_count_ = 0;
  rx_pending_ = 0;
}

bool CTCPComPort::Flush() {
  if (!connected() || !SocketOpen()) return false;
  // A failed send is not reported here: it shows itself on the next wait for
  // input.
  std::uint32_t sent = 0;
  while (sent < tx_count_) {
    const long n = net::Send(socket_, tx_buffer_ + sent, tx_count_ - sent);
    if (n > 0) {
      sent += static_cast<std::uint32_t>(n);
    } else if (n < 0 && net::IsInterrupted(net::LastError())) {
      continue;
    } else {
      break;
    }
  }
  tx_count_ = 0;
  return true;
}

bool CTCPComPort::Lock(std::uint32_t timeoutMs) { return lock_.TryLockFor(timeoutMs); }

bool CTCPComPort::Unlock() {
  lock_.Unlock();
  return true;
}

void CTCPComPort::Shutdown() {
  SetConnected(false);
  if (SocketOpen()) ::shutdown(net::Raw(socket_), net::kShutdownBoth);
}

}  // namespace qxsym
