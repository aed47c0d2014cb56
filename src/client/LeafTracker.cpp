#include "LeafTracker.h"

#include <cmath>
#include <cstring>

namespace qxsym::client {
namespace {

// |a - b| of two integers, exact over their whole range.
template <typename T>
std::uint64_t Distance(T a, T b) {
  return a > b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
               : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

bool FloatMoved(double a, double b, double deadband) {
  if (deadband <= 0) {
    // Any change of the stored value, NaNs and the sign of zero included.
    return std::memcmp(&a, &b, sizeof a) != 0;
  }
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) != std::isnan(b);
  if (a == b) return false;  // infinities of one sign
  return std::fabs(a - b) > deadband;
}

}  // namespace

bool Moved(const LeafValue& last, const LeafValue& now, double deadband) {
  if (last.kind != now.kind) return true;
  switch (now.kind) {
    case ValueKind::kNone:
      return false;
    case ValueKind::kBool:
      return last.b != now.b;
    case ValueKind::kSigned:
      if (deadband <= 0) return last.i != now.i;
      return static_cast<double>(Distance(last.i, now.i)) > deadband;
    case ValueKind::kUnsigned:
      if (deadband <= 0) return last.u != now.u;
      return static_cast<double>(Distance(last.u, now.u)) > deadband;
    case ValueKind::kFloat:
      return FloatMoved(last.f, now.f, deadband);
    case ValueKind::kText:
      return last.text != now.text;
    case ValueKind::kBytes:
      return last.bytes != now.bytes;
  }
  return true;
}

Event& LeafTracker::Tell(ValueStatus status, QXSymResult code, std::vector<Event>* out) {
  Event& e = out->emplace_back();
  e.kind = EventKind::kChange;
  e.path = path_;
  e.status = status;
  e.result = code;
  status_ = status;
  code_ = code;
  any_ = true;
  return e;
}

void LeafTracker::Good(const LeafValue& value, Clock::time_point tick, Clock::duration heartbeat,
                       std::vector<Event>* out) {
  bool tell = !any_ || status_ != ValueStatus::kGood || Moved(last_, value, deadband_);
  if (!tell && heartbeat > Clock::duration::zero()) tell = tick - told_at_ >= heartbeat;
  if (!tell) return;
  Event& e = Tell(ValueStatus::kGood, symResOk, out);
  e.value = value;
  if (told_) {
    e.previous = std::move(last_);
    e.has_previous = true;
  }
  last_ = value;
  told_ = true;
  told_at_ = tick;
}

void LeafTracker::Stale(QXSymResult code, std::vector<Event>* out) {
  if (any_ && status_ == ValueStatus::kStale) return;
  Event& e = Tell(ValueStatus::kStale, code, out);
  // The value it had when last heard of.
  if (told_) e.value = last_;
}

void LeafTracker::Bad(QXSymResult code, std::vector<Event>* out) {
  if (any_ && status_ == ValueStatus::kBad && code_ == code) return;
  Tell(ValueStatus::kBad, code, out);
}

}  // namespace qxsym::client
