#include "SendCounter.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace qxsym::bench {
namespace {

std::atomic<std::uint64_t> g_sends{0};
std::atomic<std::uint64_t> g_frames{0};
std::atomic<std::uint64_t> g_bytes_sent{0};
std::atomic<std::uint64_t> g_recvs{0};
std::atomic<std::uint64_t> g_bytes_received{0};
std::atomic<std::uint64_t> g_polls{0};
std::mutex g_last_mutex;
std::vector<std::uint8_t> g_last_frame;

}  // namespace

SocketStats CurrentSocketStats() {
  SocketStats s;
  s.sends = g_sends.load();
  s.request_frames = g_frames.load();
  s.bytes_sent = g_bytes_sent.load();
  s.recvs = g_recvs.load();
  s.bytes_received = g_bytes_received.load();
  s.polls = g_polls.load();
  return s;
}

std::vector<std::uint8_t> LastRequestFrame() {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  return g_last_frame;
}

SocketStats operator-(const SocketStats& a, const SocketStats& b) {
  SocketStats d;
  d.sends = a.sends - b.sends;
  d.request_frames = a.request_frames - b.request_frames;
  d.bytes_sent = a.bytes_sent - b.bytes_sent;
  d.recvs = a.recvs - b.recvs;
  d.bytes_received = a.bytes_received - b.bytes_received;
  d.polls = a.polls - b.polls;
  return d;
}

}  // namespace qxsym::bench

using namespace qxsym::bench;

extern "C" {

ssize_t send(int fd, const void* buf, size_t n, int flags) {
  const long r = ::syscall(SYS_sendto, fd, buf, n, flags, nullptr, 0);
  g_sends.fetch_add(1, std::memory_order_relaxed);
  const auto* bytes = static_cast<const std::uint8_t*>(buf);
  if (n != 0 && bytes[0] == 0x10) {
    g_frames.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(g_last_mutex);
    g_last_frame.assign(bytes, bytes + n);
  }
  if (r > 0) g_bytes_sent.fetch_add(static_cast<std::uint64_t>(r), std::memory_order_relaxed);
  return r;
}

ssize_t recv(int fd, void* buf, size_t n, int flags) {
  const long r = ::syscall(SYS_recvfrom, fd, buf, n, flags, nullptr, nullptr);
  g_recvs.fetch_add(1, std::memory_order_relaxed);
  if (r > 0) g_bytes_received.fetch_add(static_cast<std::uint64_t>(r), std::memory_order_relaxed);
  return r;
}

int poll(struct pollfd* fds, nfds_t n, int timeout) {
  g_polls.fetch_add(1, std::memory_order_relaxed);
  if (timeout < 0) return static_cast<int>(::syscall(SYS_ppoll, fds, n, nullptr, nullptr, 0));
  struct timespec ts;
  ts.tv_sec = timeout / 1000;
  ts.tv_nsec = static_cast<long>(timeout % 1000) * 1000000L;
  return static_cast<int>(::syscall(SYS_ppoll, fds, n, &ts, nullptr, 0));
}

}  // extern "C"
