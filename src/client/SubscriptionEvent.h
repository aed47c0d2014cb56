// What a subscription tells its waiter: a leaf value that changed (or is
// told again for its heartbeat, or went stale or bad), a completed poll,
// a poll that ran over the next tick, and what became of the session's
// connection and the controller's program.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <string>

#include "LeafCodec.h"

namespace qxsym::client {

// Numbered as the C interface's event kinds.
enum class EventKind : std::uint32_t {
  kChange = 1,
  kCycle = 2,
  kOverrun = 3,
  kConnectionLost = 4,  // the session's connection was lost (result: how)
  kConnectionBack = 5,  // the session opened its workspace again
  kOnlineChange = 6,    // the controller's program changed; paths described again
};

// How far a value can be trusted. kStale: the controller does not answer,
// the value is the last one told; kBad: the value cannot be read (result
// says why) while the controller answers.
enum class ValueStatus : std::uint32_t { kGood = 0, kStale = 1, kBad = 2 };

struct Event {
  EventKind kind = EventKind::kChange;
  std::string path;  // kChange: the leaf value's path; else empty
  LeafValue value;
  LeafValue previous;  // the value told before, when has_previous
  bool has_previous = false;
  std::int64_t timestamp_us = 0;  // UTC, since the Unix epoch
  ValueStatus status = ValueStatus::kGood;
  QXSymResult result = symResOk;
  std::uint64_t duration_us = 0;  // kCycle: how long the poll took
  std::uint64_t late_us = 0;      // kOverrun: from the first missed tick to the poll's end
  std::uint64_t missed = 0;       // kOverrun: ticks skipped
};

}  // namespace qxsym::client
