#include "LibraryState.h"

#include <utility>

#include "QXSymSockets.h"

namespace qxsym {

LibraryState& LibraryState::Get() {
  // Never destroyed: exported calls may run in other threads while the
  // process exits, and must never find a destroyed lock or registry.
  static LibraryState* state = new LibraryState();
  return *state;
}

QXSymResult LibraryState::Init() {
  std::vector<std::shared_ptr<void>> forgotten;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (started_.load(std::memory_order_relaxed)) return symResOk;
    // Winsock 2.0 on Windows; nothing to start elsewhere.
    if (!net::Start()) return symResSocketInitError;
    if (start_counter_ == 0) forgotten = registry_.Clear();
    ++start_counter_;
    started_.store(true, std::memory_order_release);
  }
  forgotten.clear();
  ReleaseRetired();
  return symResOk;
}

QXSymResult LibraryState::Shutdown() {
  std::vector<std::shared_ptr<void>> forgotten;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!started_.load(std::memory_order_relaxed)) return symResNotInited;
    if (start_counter_ > 0) --start_counter_;
    // Handles still open are forgotten and their objects released here,
    // locally: nothing is sent to a source.
    if (start_counter_ == 0) forgotten = registry_.Clear();
    started_.store(false, std::memory_order_release);
  }
  // Destroying a workspace closes its channel and retires it, so the objects
  // go first and the retired lists after them.
  forgotten.clear();
  ReleaseRetired();
  // Balances the start in Init. Channels still held by a running call keep
  // their sockets until it ends; their exchanges then fail.
  net::Stop();
  return symResOk;
}

void LibraryState::RetireChannel(std::shared_ptr<void> channel) {
  if (!channel) return;
  std::lock_guard<std::mutex> guard(retired_lock_);
  retired_channels_.push_back(std::move(channel));
}

void LibraryState::RetireGroupData(std::shared_ptr<void> memberTable) {
  if (!memberTable) return;
  std::lock_guard<std::mutex> guard(retired_lock_);
  retired_group_data_.push_back(std::move(memberTable));
}

void LibraryState::ReleaseRetired() {
  std::vector<std::shared_ptr<void>> channels;
  std::vector<std::shared_ptr<void>> groups;
  {
    std::lock_guard<std::mutex> guard(retired_lock_);
    channels.swap(retired_channels_);
    groups.swap(retired_group_data_);
  }
  // Destroyed here, outside retired_lock_; an object still in use by a
  // running call lives on until that call lets go of it.
}

std::size_t LibraryState::retired_count() {
  std::lock_guard<std::mutex> guard(retired_lock_);
  return retired_channels_.size() + retired_group_data_.size();
}

}  // namespace qxsym
