// When a poller runs: at start + k * interval, never drifting with how long
// the polls take. A poll that ends after the next tick skips the ticks it
// ran over, and so does a caller who comes late: skipped ticks are counted,
// never queued, so a slow controller or caller never builds up a backlog.
#pragma once

#include <chrono>
#include <cstdint>

namespace qxsym::client {

class TickSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  // The tick a poll serves, from Begin.
  struct Begun {
    Clock::time_point tick;
    std::uint64_t skipped = 0;  // ticks that passed before the poll began
    Clock::time_point first_skipped;
  };
  // Ticks a poll missed, from Finish.
  struct Missed {
    std::uint64_t ticks = 0;  // before it began and while it ran
    Clock::duration late{0};  // from the first missed tick to the poll's end
  };

  explicit TickSchedule(Clock::duration interval) : interval_(interval) {}

  bool started() const { return started_; }
  Clock::duration interval() const { return interval_; }
  // The next tick (meaningful once started).
  Clock::time_point next() const { return next_; }
  // True when a poll is due at now: always before the first one.
  bool Due(Clock::time_point now) const { return !started_ || now >= next_; }

  // Begins the poll due at now: the first starts the schedule at now; later
  // ones serve the latest tick not after now, skipping the older ones.
  Begun Begin(Clock::time_point now);
  // The poll begun with begun ended at end: the ticks it ran over are
  // skipped, and the next tick is the first one after end.
  Missed Finish(const Begun& begun, Clock::time_point end);

 private:
  Clock::duration interval_;
  Clock::time_point next_{};
  bool started_ = false;
};

}  // namespace qxsym::client
