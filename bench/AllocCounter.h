// Heap accounting for the benchmark programs. AllocCounter.cpp replaces the
// global operator new and delete of the program (and so of every library it
// loads, the shared QXSymbols included): each allocation is counted, and the
// bytes in use and their high-water mark are tracked.
#pragma once

#include <cstdint>

namespace qxsym::bench {

struct AllocStats {
  std::uint64_t allocations = 0;  // operator new calls so far
  std::uint64_t live_bytes = 0;   // bytes allocated and not yet freed
  std::uint64_t peak_bytes = 0;   // highest live_bytes since the last ResetPeak
};

AllocStats CurrentAllocStats();
// Starts a new high-water mark at the bytes in use now.
void ResetAllocPeak();

// While one exists, allocations of this thread are not counted (their bytes
// still are): for the peer side of an in-process exchange.
class AllocCountPause {
 public:
  AllocCountPause();
  ~AllocCountPause();
  AllocCountPause(const AllocCountPause&) = delete;
  AllocCountPause& operator=(const AllocCountPause&) = delete;
};

}  // namespace qxsym::bench
