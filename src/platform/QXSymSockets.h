// The socket calls the TCP port uses, with one spelling for BSD sockets and
// for Winsock: the handle type, errors, blocking mode, time-outs, waiting
// and the start and stop of the socket layer (Winsock 2.0 on Windows,
// nothing elsewhere).
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qxsym {
namespace net {

// A socket handle held as a signed integer: -1 is no socket on both systems
// (Winsock's INVALID_SOCKET is all bits set).
using Handle = std::intptr_t;
constexpr Handle kNoSocket = -1;

#if defined(_WIN32)
using RawSocket = SOCKET;
inline RawSocket Raw(Handle h) { return static_cast<SOCKET>(h); }
inline int LastError() { return WSAGetLastError(); }
inline bool IsInterrupted(int e) { return e == WSAEINTR; }
inline bool IsInProgress(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
inline bool IsTimeout(int e) { return e == WSAEWOULDBLOCK || e == WSAETIMEDOUT; }
constexpr int kShutdownBoth = SD_BOTH;
constexpr int kSendFlags = 0;

inline bool Start() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}
inline void Stop() { WSACleanup(); }
// A non-blocking stream socket, as on the other systems.
inline int CloseSocket(Handle h);
inline bool SetNonBlocking(Handle h, bool on);
inline Handle OpenStream() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  const Handle h = static_cast<Handle>(s);
  if (!SetNonBlocking(h, true)) {
    CloseSocket(h);
    return kNoSocket;
  }
  return h;
}
inline int CloseSocket(Handle h) { return ::closesocket(Raw(h)); }
inline bool SetNonBlocking(Handle h, bool on) {
  u_long mode = on ? 1 : 0;
  return ::ioctlsocket(Raw(h), FIONBIO, &mode) == 0;
}
inline int Poll(Handle h, short events, int timeout_ms, short* revents) {
  WSAPOLLFD p{};
  p.fd = Raw(h);
  p.events = events;
  const int r = ::WSAPoll(&p, 1, timeout_ms);
  if (r >= 0) *revents = p.revents;
  return r;
}
inline bool SetTimeout(Handle h, int option, int ms) {
  const DWORD v = static_cast<DWORD>(ms);
  return ::setsockopt(Raw(h), SOL_SOCKET, option, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}
inline bool ParseIPv4(const char* text, in_addr* out) {
  return ::inet_pton(AF_INET, text, out) == 1;
}
inline bool SocketError(Handle h, int* error) {
  int len = sizeof(*error);
  return ::getsockopt(Raw(h), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(error), &len) == 0;
}
inline void NoDelay(Handle h) {
  const BOOL one = TRUE;
  ::setsockopt(Raw(h), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}
// recv that takes only what is there when dont_wait is set.
inline long Receive(Handle h, void* buffer, std::uint32_t size, bool dont_wait) {
  if (dont_wait) {
    short revents = 0;
    if (Poll(h, POLLRDNORM, 0, &revents) == 0) {
      WSASetLastError(WSAEWOULDBLOCK);
      return -1;
    }
  }
  return ::recv(Raw(h), static_cast<char*>(buffer), static_cast<int>(size), 0);
}
inline long Send(Handle h, const void* data, std::uint32_t size) {
  return ::send(Raw(h), static_cast<const char*>(data), static_cast<int>(size), 0);
}
#else
using RawSocket = int;
inline RawSocket Raw(Handle h) { return static_cast<int>(h); }
inline int LastError() { return errno; }
inline bool IsInterrupted(int e) { return e == EINTR; }
inline bool IsInProgress(int e) { return e == EINPROGRESS; }
inline bool IsTimeout(int e) { return e == EAGAIN || e == EWOULDBLOCK; }
constexpr int kShutdownBoth = SHUT_RDWR;

inline bool Start() { return true; }
inline void Stop() {}
// A non-blocking stream socket, closed on exec.
inline Handle OpenStream() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
}
inline int CloseSocket(Handle h) { return ::close(Raw(h)); }
inline bool SetNonBlocking(Handle h, bool on) {
  const int flags = ::fcntl(Raw(h), F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(Raw(h), F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}
inline int Poll(Handle h, short events, int timeout_ms, short* revents) {
  pollfd p{};
  p.fd = Raw(h);
  p.events = events;
  const int r = ::poll(&p, 1, timeout_ms);
  if (r >= 0) *revents = p.revents;
  return r;
}
inline bool SetTimeout(Handle h, int option, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return ::setsockopt(Raw(h), SOL_SOCKET, option, &tv, sizeof(tv)) == 0;
}
inline bool ParseIPv4(const char* text, in_addr* out) { return ::inet_aton(text, out) != 0; }
inline bool SocketError(Handle h, int* error) {
  socklen_t len = sizeof(*error);
  return ::getsockopt(Raw(h), SOL_SOCKET, SO_ERROR, error, &len) == 0;
}
inline void NoDelay(Handle h) {
  const int one = 1;
  ::setsockopt(Raw(h), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}
inline long Receive(Handle h, void* buffer, std::uint32_t size, bool dont_wait) {
  return ::recv(Raw(h), buffer, size, dont_wait ? MSG_DONTWAIT : 0);
}
// MSG_NOSIGNAL keeps a closed peer from raising SIGPIPE.
inline long Send(Handle h, const void* data, std::uint32_t size) {
  return ::send(Raw(h), data, size, MSG_NOSIGNAL);
}
#endif

}  // namespace net
}  // namespace qxsym
