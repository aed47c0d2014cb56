#include "QXSymClientWorkspaceRemote.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "NoThrowNew.h"
#include "QXSymClientGroupRemote.h"
#include "QXSymClientTagRemote.h"
#include "RemoteCall.h"
#include "WorkspaceMessages.h"

namespace qxsym {

QXSymClientWorkspaceRemote::~QXSymClientWorkspaceRemote() {
  if (channel_ && !is_copy_) {
    channel_->Close();
    if (retired_sink_) retired_sink_->RetireChannel(std::move(channel_));
  }
}

bool QXSymClientWorkspaceRemote::Attach(const QXSymServerAddress* address) {
  std::unique_ptr<CCommunication> made = CreateCommunication(address);
  if (!made) return false;
  channel_ = std::move(made);
  return true;
}

QXSymResult QXSymClientWorkspaceRemote::OpenOnServer(std::uint8_t selector) {
  std::uint8_t req[kOpenWorkspaceRequestSize];
  WireWriter w(req, sizeof req);
  PackOpenWorkspaceRequest(w, selector);
  SymRef ref;
  const QXSymResult r = ExchangeForRef(channel_.get(), w, &ref);
  if (r != symResOk) return r;
  workspace_ = ref;
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::GetServerVersion(std::uint8_t* major, std::uint8_t* minor,
                                                         std::uint8_t* revision,
                                                         std::uint8_t* build) {
  if (major == nullptr || minor == nullptr || revision == nullptr || build == nullptr) {
    return symResInvalidParameter;
  }
  *major = *minor = *revision = *build = 0;
  std::uint8_t req[kServerVersionRequestSize];
  WireWriter w(req, sizeof req);
  PackServerVersionRequest(w);
  std::uint8_t reply[kVersionReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  std::uint8_t v[4];
  if (!UnpackServerVersionReply(payload, v)) return symResNotOk;
  *major = v[0];
  *minor = v[1];
  *revision = v[2];
  *build = v[3];
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::CloseOnServer() {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PackWorkspaceHeader(w, kCmdCloseWorkspace, workspace_);
  return ExchangeStatus(channel_.get(), w);
}

QXSymResult QXSymClientWorkspaceRemote::IsValid() {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PackWorkspaceHeader(w, kCmdIsValidWorkspace, workspace_);
  return ExchangeStatus(channel_.get(), w);
}

QXSymResult QXSymClientWorkspaceRemote::GetSymbolTableSize(std::uint32_t* size) {
  if (size == nullptr) return symResInvalidParameter;
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PackWorkspaceHeader(w, kCmdGetSymbolTableSize, workspace_);
  std::uint8_t reply[kU32ReplyCapacity];
  WireReader payload(nullptr, 0);
  bool answered = false;
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload, &answered);
  if (r == symResOk) {
    std::uint32_t value = 0;
    if (!UnpackU32Reply(payload, &value)) return symResNotOk;
    *size = value;
  } else if (answered) {
    // The service refused: no table to fetch.
    *size = 0;
  }
  return r;
}

QXSymResult QXSymClientWorkspaceRemote::ReadSymbolTable(std::uint32_t size, void* buffer) {
  return ReadSymbolTableReporting(size, buffer, TransferProgress{});
}

QXSymResult QXSymClientWorkspaceRemote::ReadSymbolTableReporting(std::uint32_t size, void* buffer,
                                                                 const TransferProgress& progress) {
  if (buffer == nullptr && size != 0) return symResInvalidParameter;
  if (size > std::numeric_limits<std::uint32_t>::max() - kTableReplyOverhead) {
    return symResMemoryAllocError;
  }
  std::uint8_t req[kReadSymbolTableRequestSize];
  WireWriter w(req, sizeof req);
  PackReadSymbolTableRequest(w, workspace_, size);
  const std::uint32_t capacity = size + kTableReplyOverhead;
  std::unique_ptr<std::uint8_t[]> reply;
  QXSymResult r = MakeBuffer(&reply, capacity);
  if (r != symResOk) return r;
  WireReader payload(nullptr, 0);
  r = Exchange(channel_.get(), w, reply.get(), capacity, &payload, nullptr, &progress);
  if (r != symResOk) return r;
  if (!UnpackReadSymbolTableReply(payload, buffer, size)) return symResNotOk;
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::GetGlobalTag(const TCHAR* name,
                                                     std::unique_ptr<QXSymClientTag>* tag) {
  if (tag == nullptr) return symResInvalidParameter;
  std::uint8_t req[kGlobalTagRequestCapacity];
  WireWriter w(req, sizeof req);
  PackGlobalTagRequest(w, workspace_, name);
  std::uint8_t reply[kGlobalTagReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  GlobalTagReply got;
  if (!UnpackGlobalTagReply(payload, &got)) return symResNotOk;
  std::unique_ptr<QXSymClientTag> made;
  const QXSymResult m = MakeObject<QXSymClientTagRemote>(&made, channel_, workspace_, got.tag);
  if (m != symResOk) return m;
  made->SetCachedDataTypeVar(got.data_type_var);
  made->SetCachedDataSize(got.data_size);
  made->SetCachedDataFullSize(got.data_full_size);
  *tag = std::move(made);
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::TakeTagList(const WireWriter& request, TagList* tags,
                                                    std::uint32_t capacity) {
  if (tags == nullptr) return symResInvalidParameter;
  std::unique_ptr<std::uint8_t[]> reply;
  QXSymResult r = MakeBuffer(&reply, kTagListReplyCapacity);
  if (r != symResOk) return r;
  WireReader payload(nullptr, 0);
  r = Exchange(channel_.get(), request, reply.get(), kTagListReplyCapacity, &payload);
  if (r != symResOk) return r;

  std::uint32_t count = 0;
  if (!UnpackTagListReply(payload, &count)) return symResNotOk;
  // More tags than the caller can hold, or than one reply can carry: the
  // list cannot be taken whole, so none of it is.
  if (count > capacity || count > kTagListMaxEntries) return symResBufferOverflow;
  const std::uint8_t* entries = UnpackTagListEntries(payload, count);
  if (entries == nullptr) return symResNotOk;

  return MakeList(
      count,
      [&](std::uint32_t i) -> std::unique_ptr<QXSymClientTag> {
        return NewOrNull<QXSymClientTagRemote>(channel_, workspace_, TagListEntry(entries, i));
      },
      tags);
}

QXSymResult QXSymClientWorkspaceRemote::GetGlobalTags(TagList* tags, std::uint32_t capacity) {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PackWorkspaceHeader(w, kCmdGetGlobalTags, workspace_);
  return TakeTagList(w, tags, capacity);
}

QXSymResult QXSymClientWorkspaceRemote::QueryGlobalTags(const TCHAR* filter, TagList* tags,
                                                        std::uint32_t capacity) {
  std::uint8_t req[kFilterRequestSize];
  WireWriter w(req, sizeof req);
  PackFilterRequest(w, kCmdQueryGlobalTags, workspace_, filter);
  return TakeTagList(w, tags, capacity);
}

QXSymResult QXSymClientWorkspaceRemote::AskCount(const WireWriter& request, std::uint32_t* count) {
  return ExchangeForU32(channel_.get(), request, count);
}

QXSymResult QXSymClientWorkspaceRemote::GetGlobalTagsNum(std::uint32_t* count) {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PackWorkspaceHeader(w, kCmdGetGlobalTagsNum, workspace_);
  return AskCount(w, count);
}

QXSymResult QXSymClientWorkspaceRemote::QueryGlobalTagsNum(const TCHAR* filter,
                                                           std::uint32_t* count) {
  std::uint8_t req[kFilterRequestSize];
  WireWriter w(req, sizeof req);
  PackFilterRequest(w, kCmdQueryGlobalTagsNum, workspace_, filter);
  return AskCount(w, count);
}

QXSymResult QXSymClientWorkspaceRemote::CreateGroup(std::unique_ptr<QXSymClientGroup>* group) {
  if (group == nullptr) return symResInvalidParameter;
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PackWorkspaceHeader(w, kCmdCreateGroup, workspace_);
  SymRef ref;
  const QXSymResult r = ExchangeForRef(channel_.get(), w, &ref);
  if (r != symResOk) return r;
  std::shared_ptr<QXSymGroupMemberTable> members;
  try {
    members = std::make_shared<QXSymGroupMemberTable>();
  } catch (const std::bad_alloc&) {
    return symResNotOk;
  }
  return MakeObject<QXSymClientGroupRemote>(group, channel_, workspace_, ref, std::move(members));
}

std::unique_ptr<QXSymClientWorkspace> QXSymClientWorkspaceRemote::Clone() const {
  return NewOrNull<QXSymClientWorkspaceRemote>(channel_, workspace_, true);
}

WorkspaceKey QXSymClientWorkspaceRemote::GetWorkspaceKey() const {
  return WorkspaceKey{channel_.get(), workspace_.w0, workspace_.w1};
}

}  // namespace qxsym
