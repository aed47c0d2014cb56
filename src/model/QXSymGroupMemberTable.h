// The member table of a group: which tags are members, where each member's
// value lies in the value buffer, and the buffer itself.
//
// Members lie back to back in insertion order: the first at offset 0, each
// next one right after the previous. Every change of membership lays the
// members out again and replaces the buffer by a zero-filled one; the read
// flag, set by the first successful read, is never cleared.
//
// The table is shared by the registered group and its copies. A read on a
// copy may store values while the registered group changes membership in
// another thread, so every member function takes the table's own mutex. A
// read or write remembers the layout it was made for (its generation) and is
// refused with symResInvalidGroupSize when the membership changed meanwhile,
// so values never land in another member's place.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "QXSymbols.h"

namespace qxsym {

class QXSymGroupMemberTable {
 public:
  struct Member {
    QXSymTagHandle handle;
    std::uint32_t offset;
    std::uint32_t size;
  };
  struct Layout {
    std::uint32_t total_size;
    std::uint64_t generation;
  };

  // Largest value buffer a group may have. Member sizes come from the
  // source; a sum above this is refused rather than allocated.
  static constexpr std::uint32_t kMaxTotalSize = 64u * 1024u * 1024u;

  QXSymGroupMemberTable() = default;
  QXSymGroupMemberTable(const QXSymGroupMemberTable&) = delete;
  QXSymGroupMemberTable& operator=(const QXSymGroupMemberTable&) = delete;

  // Appends a member of `size` bytes. symResHandleAlreadyExists when handle
  // is a member; symResMemoryAllocError when the entry or the new buffer
  // cannot be had (the table is then unchanged).
  QXSymResult Add(QXSymTagHandle handle, std::uint32_t size);
  // Removes a member and lays the rest out again. symResNotOk when handle is
  // not a member or memory runs out (the table is then unchanged).
  QXSymResult Remove(QXSymTagHandle handle);
  // Removes every member.
  void Clear();

  Layout CurrentLayout() const;
  // Stores the values of a read made for `layout` (total_size bytes) and
  // sets the read flag; symResInvalidGroupSize when the layout changed.
  QXSymResult StoreRead(const std::uint8_t* values, const Layout& layout);
  // Copies the value buffer for a write made for `layout`;
  // symResInvalidGroupSize when the layout changed.
  QXSymResult CopyForWrite(std::uint8_t* dst, const Layout& layout) const;

  // One member's value out of / into the buffer; exactly the member's size
  // is copied. See QXSymClientGroup for the results.
  QXSymResult GetValue(QXSymTagHandle handle, void* buffer, std::uint32_t size) const;
  QXSymResult SetValue(QXSymTagHandle handle, const void* data, std::uint32_t size);

  void GetInfo(std::uint32_t* count, std::uint32_t* total_size) const;
  bool IsMember(QXSymTagHandle handle) const;
  bool IsRead() const;
  // The members in insertion order.
  std::vector<Member> Members() const;
  // A copy of the value buffer.
  std::vector<std::uint8_t> Values() const;

 private:
  mutable std::mutex mutex_;
  std::map<QXSymTagHandle, Member> members_;
  std::vector<QXSymTagHandle> order_;
  std::uint32_t count_ = 0;
  std::uint32_t total_size_ = 0;
  bool read_ = false;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t generation_ = 0;
};

}  // namespace qxsym
