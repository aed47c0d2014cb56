#include "TickSchedule.h"

namespace qxsym::client {

TickSchedule::Begun TickSchedule::Begin(Clock::time_point now) {
  Begun b;
  if (!started_) {
    started_ = true;
    next_ = now;
  }
  if (now <= next_) {
    // Asked for early, the poll serves the next tick: the schedule stays.
    b.tick = next_;
    return b;
  }
  b.skipped = static_cast<std::uint64_t>((now - next_) / interval_);
  b.first_skipped = next_;
  b.tick = next_ + b.skipped * interval_;
  return b;
}

TickSchedule::Missed TickSchedule::Finish(const Begun& begun, Clock::time_point end) {
  Missed m;
  // Ticks strictly before the end were run over; one that falls on the end
  // is due at once.
  std::uint64_t over = 0;
  if (end > begun.tick + interval_) {
    over = static_cast<std::uint64_t>((end - begun.tick - Clock::duration(1)) / interval_);
  }
  m.ticks = begun.skipped + over;
  if (m.ticks != 0) {
    const Clock::time_point first =
        begun.skipped != 0 ? begun.first_skipped : begun.tick + interval_;
    m.late = end - first;
  }
  next_ = begun.tick + (over + 1) * interval_;
  return m;
}

}  // namespace qxsym::client
