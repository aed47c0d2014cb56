#include "Backoff.h"

#include <algorithm>

namespace qxsym::client {

const std::uint32_t Backoff::kDefaultMaxMs;
const std::uint32_t Backoff::kLongestMs;

bool Backoff::Set(std::uint32_t first_ms, std::uint32_t max_ms) {
  if (first_ms == 0) {
    first_ = max_ = step_ = std::chrono::milliseconds(0);
    return true;
  }
  if (max_ms == 0) max_ms = std::max(kDefaultMaxMs, first_ms);
  if (first_ms > kLongestMs || max_ms > kLongestMs || max_ms < first_ms) return false;
  first_ = std::chrono::milliseconds(first_ms);
  max_ = std::chrono::milliseconds(max_ms);
  step_ = first_;
  return true;
}

void Backoff::Lost(Clock::time_point now) {
  step_ = first_;
  Failed(now);
}

void Backoff::Failed(Clock::time_point now) {
  next_ = now + step_;
  step_ = std::min(max_, step_ * 2);
}

}  // namespace qxsym::client
