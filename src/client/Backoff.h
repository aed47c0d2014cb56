// When a session whose connection was lost tries to open it again: the
// first attempt one step after the loss, each failed attempt doubling the
// step up to a ceiling. Attempts are made by the calls that find one due;
// nothing runs in between.
#pragma once

#include <chrono>
#include <cstdint>

namespace qxsym::client {

class Backoff {
 public:
  using Clock = std::chrono::steady_clock;

  // The ceiling taken when none is given, and the largest step accepted.
  static constexpr std::uint32_t kDefaultMaxMs = 5000;
  static constexpr std::uint32_t kLongestMs = 3600000;

  // False when the steps are out of range: first_ms above kLongestMs, or
  // max_ms (0: kDefaultMaxMs, or first_ms when that is longer) below
  // first_ms or above kLongestMs. first_ms 0 turns attempts off.
  bool Set(std::uint32_t first_ms, std::uint32_t max_ms);

  bool on() const { return first_.count() != 0; }
  std::chrono::milliseconds first() const { return first_; }
  std::chrono::milliseconds ceiling() const { return max_; }
  // The step that follows the next failed attempt.
  std::chrono::milliseconds step() const { return step_; }

  // The connection was lost at now: the first attempt is one step later.
  void Lost(Clock::time_point now);
  // The attempt made at now failed: the next one waits twice as long.
  void Failed(Clock::time_point now);
  bool Due(Clock::time_point now) const { return now >= next_; }
  Clock::time_point next() const { return next_; }

 private:
  std::chrono::milliseconds first_{0};
  std::chrono::milliseconds max_{0};
  std::chrono::milliseconds step_{0};
  Clock::time_point next_{};
};

}  // namespace qxsym::client
