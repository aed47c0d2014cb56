#include "QXSymClientGroupRemote.h"

#include <new>

#include "GroupMessages.h"
#include "NoThrowNew.h"
#include "QXSymClientTagRemote.h"
#include "RemoteCall.h"
#include "ScratchBuffer.h"

namespace qxsym {

namespace {

constexpr std::size_t kValuesInline = 512;

// The tag's reference, for a tag already accepted by Accepts.
const SymRef& TagRef(const QXSymClientTag& tag) {
  return static_cast<const QXSymClientTagRemote&>(tag).tagRef();
}

}  // namespace

bool QXSymClientGroupRemote::Accepts(const QXSymClientTag& tag) const {
  const auto* remote = dynamic_cast<const QXSymClientTagRemote*>(&tag);
  return remote != nullptr && remote->channel().get() == channel_.get() &&
         remote->workspaceRef() == workspace_;
}

QXSymResult QXSymClientGroupRemote::SourceAdd(const QXSymClientTag& tag, std::uint32_t* size) {
  std::uint8_t req[kGroupMemberRequestSize];
  WireWriter w(req, sizeof req);
  PackGroupMemberRequest(w, kCmdGroupAddTag, workspace_, group_, TagRef(tag));
  std::uint8_t reply[kU32ReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  if (!UnpackU32Reply(payload, size)) {
    // The service accepted the member but did not say its size: undo.
    (void)SourceRemove(tag);
    return symResNotOk;
  }
  return symResOk;
}

QXSymResult QXSymClientGroupRemote::SourceRemove(const QXSymClientTag& tag) {
  std::uint8_t req[kGroupMemberRequestSize];
  WireWriter w(req, sizeof req);
  PackGroupMemberRequest(w, kCmdGroupRemoveTag, workspace_, group_, TagRef(tag));
  return ExchangeStatus(channel_.get(), w);
}

QXSymResult QXSymClientGroupRemote::SourceDelete() {
  return AskStatus(RemoteObject{channel_.get(), workspace_, group_}, kCmdGroupDelete);
}

QXSymResult QXSymClientGroupRemote::Read() {
  if (!members_) return symResNotOk;
  const QXSymGroupMemberTable::Layout layout = members_->CurrentLayout();
  const std::uint32_t total = layout.total_size;
  if (total == 0) return symResGroupIsEmpty;

  std::uint8_t req[kGroupSizedRequestSize];
  WireWriter w(req, sizeof req);
  PackGroupReadRequest(w, workspace_, group_, total);

  const std::uint32_t capacity = total + kGroupReadReplyOverhead;
  ScratchBuffer<kValuesInline + kGroupReadReplyOverhead> reply(capacity);
  if (!reply.ok()) return symResMemoryAllocError;
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply.data(), capacity, &payload);
  if (r != symResOk) return r;
  std::uint32_t length = 0;
  const std::uint8_t* values = nullptr;
  if (!UnpackGroupReadReply(payload, &length, &values)) return symResNotOk;
  if (length != total) return symResInvalidGroupSize;
  if (values == nullptr) return symResNotOk;
  return members_->StoreRead(values, layout);
}

QXSymResult QXSymClientGroupRemote::Write() {
  if (!members_) return symResNotOk;
  const QXSymGroupMemberTable::Layout layout = members_->CurrentLayout();
  const std::uint32_t total = layout.total_size;
  if (total == 0) return symResGroupIsEmpty;

  const std::uint32_t request_size = kGroupWriteValuesAt + total;
  ScratchBuffer<kValuesInline + kGroupWriteValuesAt> req(request_size);
  if (!req.ok()) return symResMemoryAllocError;
  WireWriter w(req.data(), request_size);
  PackGroupWriteRequest(w, workspace_, group_, total);
  if (!w.ok()) return symResNotOk;
  // The values are copied in place, over the zeros just reserved for them.
  const QXSymResult copied = members_->CopyForWrite(req.data() + kGroupWriteValuesAt, layout);
  if (copied != symResOk) return copied;

  return ExchangeStatus(channel_.get(), w);
}

std::unique_ptr<QXSymClientGroup> QXSymClientGroupRemote::Clone() const {
  return NewOrNull<QXSymClientGroupRemote>(channel_, workspace_, group_, members_, true);
}

WorkspaceKey QXSymClientGroupRemote::GetWorkspaceKey() const {
  return WorkspaceKey{channel_.get(), workspace_.w0, workspace_.w1};
}

}  // namespace qxsym
