// Socket-call accounting for qxsym-bench-api. SendCounter.cpp defines send,
// recv and poll in the program itself; the shared library's calls bind to
// these definitions first, which count each call and its bytes and then make
// the system call. A request frame starts with 0x10, so the sends that begin
// with it count the library's exchanges.
#pragma once

#include <cstdint>
#include <vector>

namespace qxsym::bench {

struct SocketStats {
  std::uint64_t sends = 0;
  std::uint64_t request_frames = 0;  // sends whose first byte starts a frame
  std::uint64_t bytes_sent = 0;
  std::uint64_t recvs = 0;
  std::uint64_t bytes_received = 0;
  std::uint64_t polls = 0;
};

SocketStats CurrentSocketStats();
// The bytes of the last send that started a request frame.
std::vector<std::uint8_t> LastRequestFrame();
SocketStats operator-(const SocketStats& a, const SocketStats& b);

}  // namespace qxsym::bench
