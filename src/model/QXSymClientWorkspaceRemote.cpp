#include "QXSymClientWorkspaceRemote.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "QXSymClientGroupRemote.h"
#include "QXSymClientTagRemote.h"
#include "RemoteCall.h"

namespace qxsym {

namespace {

constexpr std::uint32_t kOpenRequestSize = 3;
constexpr std::uint32_t kVersionRequestSize = 2;
constexpr std::uint32_t kTableRequestSize = kWorkspaceHeaderSize + 4;
constexpr std::uint32_t kGlobalTagRequestCapacity = kWorkspaceHeaderSize + 2 + kMaxText;
constexpr std::uint32_t kTagListHeaderSkip = 8;  // two words the service keeps for itself

}  // namespace

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
  std::uint8_t req[kOpenRequestSize];
  WireWriter w(req, sizeof req);
  w.U16(kCmdOpenWorkspace).U8(selector);
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
  std::uint8_t req[kVersionRequestSize];
  WireWriter w(req, sizeof req);
  w.U16(kCmdGetServerVersion);
  std::uint8_t reply[kVersionReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  std::uint8_t v[4];
  if (!payload.Bytes(v, sizeof v)) return symResNotOk;
  *major = v[0];
  *minor = v[1];
  *revision = v[2];
  *build = v[3];
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::CloseOnServer() {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdCloseWorkspace, workspace_);
  return ExchangeStatus(channel_.get(), w);
}

QXSymResult QXSymClientWorkspaceRemote::IsValid() {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdIsValidWorkspace, workspace_);
  return ExchangeStatus(channel_.get(), w);
}

QXSymResult QXSymClientWorkspaceRemote::GetSymbolTableSize(std::uint32_t* size) {
  if (size == nullptr) return symResInvalidParameter;
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdGetSymbolTableSize, workspace_);
  std::uint8_t reply[kU32ReplyCapacity];
  WireReader payload(nullptr, 0);
  bool answered = false;
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload, &answered);
  if (r == symResOk) {
    std::uint32_t value = 0;
    if (!payload.U32(&value)) return symResNotOk;
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
  std::uint8_t req[kTableRequestSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdReadSymbolTable, workspace_);
  w.U32(size);
  const std::uint32_t capacity = size + kTableReplyOverhead;
  std::unique_ptr<std::uint8_t[]> reply(new (std::nothrow) std::uint8_t[capacity]);
  if (!reply) return symResMemoryAllocError;
  WireReader payload(nullptr, 0);
  const QXSymResult r =
      Exchange(channel_.get(), w, reply.get(), capacity, &payload, nullptr, &progress);
  if (r != symResOk) return r;
  if (!payload.Bytes(buffer, size)) return symResNotOk;
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::GetGlobalTag(const TCHAR* name,
                                                     std::unique_ptr<QXSymClientTag>* tag) {
  if (tag == nullptr) return symResInvalidParameter;
  std::uint8_t req[kGlobalTagRequestCapacity];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdGetGlobalTag, workspace_);
  PutText(w, name);
  std::uint8_t reply[kGlobalTagReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel_.get(), w, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  SymRef ref;
  std::uint32_t type_var = 0, data_size = 0, full_size = 0;
  if (!payload.U32(&ref.w0) || !payload.U32(&ref.w1) || !payload.U32(&type_var) ||
      !payload.U32(&data_size) || !payload.U32(&full_size)) {
    return symResNotOk;
  }
  std::unique_ptr<QXSymClientTag> made(new (std::nothrow)
                                           QXSymClientTagRemote(channel_, workspace_, ref));
  if (!made) return symResNotOk;
  made->SetCachedDataTypeVar(type_var);
  made->SetCachedDataSize(data_size);
  made->SetCachedDataFullSize(full_size);
  *tag = std::move(made);
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::TakeTagList(const WireWriter& request, TagList* tags,
                                                    std::uint32_t capacity) {
  if (tags == nullptr) return symResInvalidParameter;
  std::unique_ptr<std::uint8_t[]> reply(new (std::nothrow) std::uint8_t[kTagListReplyCapacity]);
  if (!reply) return symResMemoryAllocError;
  WireReader payload(nullptr, 0);
  const QXSymResult r =
      Exchange(channel_.get(), request, reply.get(), kTagListReplyCapacity, &payload);
  if (r != symResOk) return r;

  std::uint32_t byte_length = 0;
  std::uint32_t count = 0;
  if (!payload.Skip(kTagListHeaderSkip) || !payload.U32(&byte_length) || !payload.U32(&count)) {
    return symResNotOk;
  }
  if (static_cast<std::uint64_t>(count) * 8 != byte_length) return symResNotOk;
  // More tags than the caller can hold, or than one reply can carry: the
  // list cannot be taken whole, so none of it is.
  if (count > capacity || count > kTagListMaxEntries) return symResBufferOverflow;
  const std::uint8_t* entries = payload.View(byte_length);
  if (entries == nullptr) return symResNotOk;

  TagList made;
  try {
    made.reserve(count);
  } catch (const std::bad_alloc&) {
    return symResMemoryAllocError;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const SymRef ref{LoadU32(entries + 8 * i), LoadU32(entries + 8 * i + 4)};
    std::unique_ptr<QXSymClientTag> tag(new (std::nothrow)
                                            QXSymClientTagRemote(channel_, workspace_, ref));
    if (!tag) return symResMemoryAllocError;  // `made` destroys the tags so far
    made.push_back(std::move(tag));
  }
  *tags = std::move(made);
  return symResOk;
}

QXSymResult QXSymClientWorkspaceRemote::GetGlobalTags(TagList* tags, std::uint32_t capacity) {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdGetGlobalTags, workspace_);
  return TakeTagList(w, tags, capacity);
}

QXSymResult QXSymClientWorkspaceRemote::QueryGlobalTags(const TCHAR* filter, TagList* tags,
                                                        std::uint32_t capacity) {
  std::uint8_t req[kFilterRequestSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdQueryGlobalTags, workspace_);
  PutTextField(w, filter);
  return TakeTagList(w, tags, capacity);
}

QXSymResult QXSymClientWorkspaceRemote::AskCount(const WireWriter& request, std::uint32_t* count) {
  return ExchangeForU32(channel_.get(), request, count);
}

QXSymResult QXSymClientWorkspaceRemote::GetGlobalTagsNum(std::uint32_t* count) {
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdGetGlobalTagsNum, workspace_);
  return AskCount(w, count);
}

QXSymResult QXSymClientWorkspaceRemote::QueryGlobalTagsNum(const TCHAR* filter,
                                                           std::uint32_t* count) {
  std::uint8_t req[kFilterRequestSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdQueryGlobalTagsNum, workspace_);
  PutTextField(w, filter);
  return AskCount(w, count);
}

QXSymResult QXSymClientWorkspaceRemote::CreateGroup(std::unique_ptr<QXSymClientGroup>* group) {
  if (group == nullptr) return symResInvalidParameter;
  std::uint8_t req[kWorkspaceHeaderSize];
  WireWriter w(req, sizeof req);
  PutWorkspaceHeader(w, kCmdCreateGroup, workspace_);
  SymRef ref;
  const QXSymResult r = ExchangeForRef(channel_.get(), w, &ref);
  if (r != symResOk) return r;
  std::shared_ptr<QXSymGroupMemberTable> members;
  try {
    members = std::make_shared<QXSymGroupMemberTable>();
  } catch (const std::bad_alloc&) {
    return symResNotOk;
  }
  std::unique_ptr<QXSymClientGroup> made(
      new (std::nothrow) QXSymClientGroupRemote(channel_, workspace_, ref, std::move(members)));
  if (!made) return symResNotOk;
  *group = std::move(made);
  return symResOk;
}

std::unique_ptr<QXSymClientWorkspace> QXSymClientWorkspaceRemote::Clone() const {
  return std::unique_ptr<QXSymClientWorkspace>(
      new (std::nothrow) QXSymClientWorkspaceRemote(channel_, workspace_, true));
}

WorkspaceKey QXSymClientWorkspaceRemote::GetWorkspaceKey() const {
  return WorkspaceKey{channel_.get(), workspace_.w0, workspace_.w1};
}

}  // namespace qxsym
