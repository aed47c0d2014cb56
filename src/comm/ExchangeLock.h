// The lock that keeps one exchange on a connection whole: a waiter gives up
// after its time-out instead of waiting for ever. Built on a mutex and a
// condition variable rather than a timed mutex, whose timed wait the thread
// sanitizer cannot follow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qxsym {

class ExchangeLock {
 public:
  // Takes the lock, waiting at most timeoutMs for its holder to let go.
  bool TryLockFor(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!free_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return !held_; })) {
      return false;
    }
    held_ = true;
    return true;
  }
  void Unlock() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      held_ = false;
    }
    free_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  bool held_ = false;
};

}  // namespace qxsym
