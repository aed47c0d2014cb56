// A group: tags of one workspace whose values travel in one exchange.
//
// Members are keyed by the tag's registry handle. The member table is shared
// by the registered group (the one the workspace made) and its copies; the
// registered group hands it to its RetiredSink when it is destroyed, a copy
// only lets go of it.
//
// Results of the operations on members:
//  - AddTag: symResInvalidHandle for a tag of another workspace (nothing
//    sent); the source's failure unchanged; symResHandleAlreadyExists or
//    symResMemoryAllocError after the source accepted the tag, in which case
//    the add is undone at the source.
//  - RemoveTag: symResInvalidHandle (other workspace), symResNotOk (not a
//    member; nothing sent), else the source's answer; the member is gone
//    from the table even when the source refuses.
//  - Read / Write: symResGroupIsEmpty when the total size is 0 (nothing
//    sent); symResInvalidGroupSize for a read reply of the wrong length or
//    when the membership changed during the exchange.
//  - GetTagValue: symResInvalidBuffer (null buffer), symResGroupMustBeRead,
//    symResInvalidHandle (not a member), symResInvalidTagSize (size smaller
//    than the member); SetTagValue the same without the read check.
//
// A group used after its workspace was closed gets what the closed channel
// answers (symResConnectionLost for a Remote group).
#pragma once

#include <cstdint>
#include <memory>

#include "QXSymGroupMemberTable.h"
#include "QXSymbols.h"
#include "RetiredSink.h"
#include "WorkspaceKey.h"

namespace qxsym {

class QXSymClientTag;

class QXSymClientGroup {
 public:
  virtual ~QXSymClientGroup();

  // Empties the member table and removes the group at the source.
  virtual QXSymResult Delete();
  virtual QXSymResult AddTag(QXSymTagHandle handle, const QXSymClientTag& tag);
  virtual QXSymResult RemoveTag(QXSymTagHandle handle, const QXSymClientTag& tag);
  virtual QXSymResult Read() = 0;
  virtual QXSymResult Write() = 0;
  virtual QXSymResult GetTagValue(QXSymTagHandle handle, void* buffer, std::uint32_t size);
  virtual QXSymResult SetTagValue(QXSymTagHandle handle, const void* data, std::uint32_t size);
  // A copy sharing the member table and the link; null when memory runs out.
  virtual std::unique_ptr<QXSymClientGroup> Clone() const = 0;

  virtual WorkspaceKey GetWorkspaceKey() const = 0;

  // Member count and total value size.
  void GetInfo(std::uint32_t* count, std::uint32_t* size) const;
  bool isCopy() const { return is_copy_; }
  const std::shared_ptr<QXSymGroupMemberTable>& memberTable() const { return members_; }
  // Given to the registered group by its owner; receives the member table
  // when the group is destroyed.
  void SetRetiredSink(RetiredSink* sink) { retired_sink_ = sink; }

 protected:
  QXSymClientGroup(std::shared_ptr<QXSymGroupMemberTable> table, bool is_copy)
      : members_(std::move(table)), is_copy_(is_copy) {}
  QXSymClientGroup(const QXSymClientGroup&) = delete;
  QXSymClientGroup& operator=(const QXSymClientGroup&) = delete;

  // Whether tag belongs to this group's workspace (and source kind).
  virtual bool Accepts(const QXSymClientTag& tag) const = 0;
  // Tells the source about a new member and learns its size.
  virtual QXSymResult SourceAdd(const QXSymClientTag& tag, std::uint32_t* size) = 0;
  // Tells the source that a member left (also the undo of an add).
  virtual QXSymResult SourceRemove(const QXSymClientTag& tag) = 0;
  virtual QXSymResult SourceDelete() = 0;

  std::shared_ptr<QXSymGroupMemberTable> members_;
  bool is_copy_;
  RetiredSink* retired_sink_ = nullptr;
};

}  // namespace qxsym
