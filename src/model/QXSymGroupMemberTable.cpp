#include "QXSymGroupMemberTable.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qxsym {

QXSymResult QXSymGroupMemberTable::Add(QXSymTagHandle handle, std::uint32_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (members_.count(handle) != 0) return symResHandleAlreadyExists;
  const std::uint64_t new_total = static_cast<std::uint64_t>(total_size_) + size;
  if (new_total > kMaxTotalSize) return symResMemoryAllocError;
  try {
    std::vector<std::uint8_t> fresh(static_cast<std::size_t>(new_total));
    order_.reserve(order_.size() + 1);
    members_.emplace(handle, Member{handle, total_size_, size});
    // Nothing below throws: the table changes all at once.
    order_.push_back(handle);
    buffer_.swap(fresh);
  } catch (const std::bad_alloc&) {
    return symResMemoryAllocError;
  }
  total_size_ = static_cast<std::uint32_t>(new_total);
  ++count_;
  ++generation_;
  return symResOk;
}

QXSymResult QXSymGroupMemberTable::Remove(QXSymTagHandle handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = members_.find(handle);
  if (found == members_.end()) return symResNotOk;
  std::vector<std::uint8_t> fresh;
  try {
    fresh.resize(total_size_ - found->second.size);
  } catch (const std::bad_alloc&) {
    return symResNotOk;
  }
  members_.erase(found);
  order_.erase(std::find(order_.begin(), order_.end(), handle));
  std::uint32_t offset = 0;
  for (QXSymTagHandle h : order_) {
    Member& m = members_.at(h);
    m.offset = offset;
    offset += m.size;
  }
  total_size_ = offset;
  --count_;
  buffer_.swap(fresh);
  ++generation_;
  return symResOk;
}

void QXSymGroupMemberTable::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  members_.clear();
  order_.clear();
  std::vector<std::uint8_t>().swap(buffer_);
  count_ = 0;
  total_size_ = 0;
  ++generation_;
}

QXSymGroupMemberTable::Layout QXSymGroupMemberTable::CurrentLayout() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return Layout{total_size_, generation_};
}

QXSymResult QXSymGroupMemberTable::StoreRead(const std::uint8_t* values, const Layout& layout) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (layout.generation != generation_ || layout.total_size != total_size_) {
    return symResInvalidGroupSize;
  }
  if (total_size_ != 0) std::memcpy(buffer_.data(), values, total_size_);
  read_ = true;
  return symResOk;
}

QXSymResult QXSymGroupMemberTable::CopyForWrite(std::uint8_t* dst, const Layout& layout) const {
  std::lock_guard<std::mutex> guard(mutex_);
  if (layout.generation != generation_ || layout.total_size != total_size_) {
    return symResInvalidGroupSize;
  }
  if (total_size_ != 0) std::memcpy(dst, buffer_.data(), total_size_);
  return symResOk;
}

QXSymResult QXSymGroupMemberTable::GetValue(QXSymTagHandle handle, void* buffer,
                                            std::uint32_t size) const {
  if (buffer == nullptr) return symResInvalidBuffer;
  std::lock_guard<std::mutex> guard(mutex_);
  if (!read_) return symResGroupMustBeRead;
  const auto found = members_.find(handle);
  if (found == members_.end()) return symResInvalidHandle;
  const Member& m = found->second;
  if (m.size > size) return symResInvalidTagSize;
  if (m.size != 0) std::memcpy(buffer, buffer_.data() + m.offset, m.size);
  return symResOk;
}

QXSymResult QXSymGroupMemberTable::SetValue(QXSymTagHandle handle, const void* data,
                                            std::uint32_t size) {
  if (data == nullptr) return symResInvalidBuffer;
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = members_.find(handle);
  if (found == members_.end()) return symResInvalidHandle;
  const Member& m = found->second;
  if (m.size > size) return symResInvalidTagSize;
  if (m.size != 0) std::memcpy(buffer_.data() + m.offset, data, m.size);
  return symResOk;
}

void QXSymGroupMemberTable::GetInfo(std::uint32_t* count, std::uint32_t* total_size) const {
  std::lock_guard<std::mutex> guard(mutex_);
  if (count != nullptr) *count = count_;
  if (total_size != nullptr) *total_size = total_size_;
}

bool QXSymGroupMemberTable::IsMember(QXSymTagHandle handle) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return members_.count(handle) != 0;
}

bool QXSymGroupMemberTable::IsRead() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return read_;
}

std::vector<QXSymGroupMemberTable::Member> QXSymGroupMemberTable::Members() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<Member> out;
  out.reserve(order_.size());
  for (QXSymTagHandle h : order_) out.push_back(members_.at(h));
  return out;
}

std::vector<std::uint8_t> QXSymGroupMemberTable::Values() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return buffer_;
}

}  // namespace qxsym
