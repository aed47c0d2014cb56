#include "QXSymClientGroupDirect.h"

#include <new>

#include "DirectCall.h"
#include "NoThrowNew.h"
#include "QXSymClientTagDirect.h"
#include "ScratchBuffer.h"

namespace qxsym {

namespace {

constexpr std::size_t kValuesInline = 512;

// The tag's identifier, for a tag already accepted by Accepts.
std::uint32_t TagId(const QXSymClientTag& tag) {
  return static_cast<const QXSymClientTagDirect&>(tag).id();
}

}  // namespace

bool QXSymClientGroupDirect::Accepts(const QXSymClientTag& tag) const {
  const auto* direct = dynamic_cast<const QXSymClientTagDirect*>(&tag);
  return direct != nullptr && direct->table() == table_ && direct->context() == context_;
}

QXSymResult QXSymClientGroupDirect::SourceAdd(const QXSymClientTag& tag, std::uint32_t* size) {
  return CallEntry(table_, &QXSymDirectAccessTable::GroupAddTag, context_, id_, TagId(tag), size);
}

QXSymResult QXSymClientGroupDirect::SourceRemove(const QXSymClientTag& tag) {
  return CallEntry(table_, &QXSymDirectAccessTable::GroupRemoveTag, context_, id_, TagId(tag));
}

QXSymResult QXSymClientGroupDirect::SourceDelete() {
  return CallEntry(table_, &QXSymDirectAccessTable::GroupDelete, context_, id_);
}

QXSymResult QXSymClientGroupDirect::Read() {
  if (!members_) return symResNotOk;
  const QXSymGroupMemberTable::Layout layout = members_->CurrentLayout();
  const std::uint32_t total = layout.total_size;
  if (total == 0) return symResGroupIsEmpty;
  ScratchBuffer<kValuesInline> values(total);
  if (!values.ok()) return symResMemoryAllocError;
  const QXSymResult r = CallEntry(table_, &QXSymDirectAccessTable::GroupRead, context_, id_,
                                  static_cast<void*>(values.data()), total);
  if (r != symResOk) return r;
  return members_->StoreRead(values.data(), layout);
}

QXSymResult QXSymClientGroupDirect::Write() {
  if (!members_) return symResNotOk;
  const QXSymGroupMemberTable::Layout layout = members_->CurrentLayout();
  const std::uint32_t total = layout.total_size;
  if (total == 0) return symResGroupIsEmpty;
  ScratchBuffer<kValuesInline> values(total);
  if (!values.ok()) return symResMemoryAllocError;
  const QXSymResult copied = members_->CopyForWrite(values.data(), layout);
  if (copied != symResOk) return copied;
  return CallEntry(table_, &QXSymDirectAccessTable::GroupWrite, context_, id_,
                   static_cast<const void*>(values.data()), total);
}

std::unique_ptr<QXSymClientGroup> QXSymClientGroupDirect::Clone() const {
  return NewOrNull<QXSymClientGroupDirect>(table_, context_, id_, members_, true);
}

WorkspaceKey QXSymClientGroupDirect::GetWorkspaceKey() const {
  return WorkspaceKey{table_, context_, 0};
}

}  // namespace qxsym
