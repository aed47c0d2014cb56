// One leaf value of a subscription: what was last told about it, and the
// rules for telling again. A value is told when it moved from the last one
// told by more than the deadband (numbers; a deadband of 0 or below: any
// change) or at all (BOOL, texts, bytes); on its first reading; and once
// per heartbeat while it stays. Stale and bad are told once each, until the
// leaf is read again (bad again when the reason changes).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "SubscriptionEvent.h"

namespace qxsym::client {

// True when now differs from last by more than deadband (see above).
// Values of different kinds always differ.
bool Moved(const LeafValue& last, const LeafValue& now, double deadband);

class LeafTracker {
 public:
  using Clock = std::chrono::steady_clock;

  LeafTracker(std::string path, double deadband) : path_(std::move(path)), deadband_(deadband) {}

  const std::string& path() const { return path_; }
  double deadband() const { return deadband_; }
  ValueStatus status() const { return status_; }
  bool told() const { return told_; }
  const LeafValue& last() const { return last_; }

  // The leaf was read at tick; heartbeat 0 for none. Appends an event when
  // the value is to be told (timestamps are the caller's).
  void Good(const LeafValue& value, Clock::time_point tick, Clock::duration heartbeat,
            std::vector<Event>* out);
  // The controller did not answer (code says how); the event carries the
  // value last told.
  void Stale(QXSymResult code, std::vector<Event>* out);
  void Bad(QXSymResult code, std::vector<Event>* out);

  // A poll in which the leaf was handled already (paths that overlap).
  bool SeenIn(std::uint64_t poll) {
    if (poll_ == poll) return true;
    poll_ = poll;
    return false;
  }

 private:
  Event& Tell(ValueStatus status, QXSymResult code, std::vector<Event>* out);

  std::string path_;
  double deadband_;
  bool told_ = false;  // a good value was told: last_ holds it
  bool any_ = false;   // anything was told
  LeafValue last_;
  ValueStatus status_ = ValueStatus::kGood;
  QXSymResult code_ = symResOk;
  Clock::time_point told_at_{};
  std::uint64_t poll_ = 0;
};

}  // namespace qxsym::client
