// The library's process-wide state: whether it is started, the library lock,
// the handle registry and the retired channels and group data.
//
// The lock is a plain static mutex that lives for the whole process, so a
// call racing QXSym_Init or QXSym_Shutdown never touches a destroyed lock;
// `started` is atomic so the not-started check needs no lock.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "HandleRegistry.h"
#include "QXSymbols.h"
#include "RetiredSink.h"

namespace qxsym {

class LibraryState final : public RetiredSink {
 public:
  static LibraryState& Get();

  QXSymResult Init();
  QXSymResult Shutdown();
  bool started() const { return started_.load(std::memory_order_acquire); }

  // Guards the registry. Held for lookups, registrations, copies and the
  // short group operations, never while a copy talks to a source.
  std::mutex& lock() { return lock_; }
  HandleRegistry& registry() { return registry_; }

  void RetireChannel(std::shared_ptr<void> channel) override;
  void RetireGroupData(std::shared_ptr<void> memberTable) override;
  // Drops every retired channel and member table.
  void ReleaseRetired();
  std::size_t retired_count();

 private:
  LibraryState() = default;

  std::atomic<bool> started_{false};
  int start_counter_ = 0;  // guarded by lock_
  std::mutex lock_;
  HandleRegistry registry_;

  // Retired objects have a lock of their own: they are handed over from
  // destructors that may run with or without the library lock held.
  std::mutex retired_lock_;
  std::vector<std::shared_ptr<void>> retired_channels_;
  std::vector<std::shared_ptr<void>> retired_group_data_;
};

}  // namespace qxsym
