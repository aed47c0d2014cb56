#include "QXSymClientWorkspaceDirect.h"

#include <cstring>
#include <new>

#include "DirectCall.h"
#include "NoThrowNew.h"
#include "QXSymClientGroupDirect.h"
#include "QXSymClientTagDirect.h"

namespace qxsym {

namespace {

// The host sees an empty filter where the caller gave none.
const char* FilterOrEmpty(const TCHAR* filter) { return filter != nullptr ? filter : ""; }

}  // namespace

bool QXSymClientWorkspaceDirect::Attach(const QXSymServerAddress* address) {
  if (address == nullptr) return false;
  const QXSymDirectAccessTable* table = nullptr;
  static_assert(sizeof(table) <= sizeof(address->ip), "a pointer fits the address field");
  std::memcpy(&table, address->ip, sizeof(table));
  table_ = table;
  return table_ != nullptr;
}

QXSymResult QXSymClientWorkspaceDirect::OpenOnServer(std::uint8_t selector) {
  std::uint32_t context = 0;
  const QXSymResult r = CallEntry(table_, &QXSymDirectAccessTable::Open, std::uint32_t{0},
                                  std::uint32_t{selector}, std::uint32_t{0}, &context);
  if (r == symResOk) context_ = context;
  return r;
}

QXSymResult QXSymClientWorkspaceDirect::GetServerVersion(std::uint8_t* major, std::uint8_t* minor,
                                                         std::uint8_t* revision,
                                                         std::uint8_t* build) {
  if (major == nullptr || minor == nullptr || revision == nullptr || build == nullptr) {
    return symResInvalidParameter;
  }
  return CallEntry(table_, &QXSymDirectAccessTable::GetServerVersion, major, minor, revision,
                   build);
}

QXSymResult QXSymClientWorkspaceDirect::CloseOnServer() {
  return CallEntry(table_, &QXSymDirectAccessTable::Close, context_);
}

QXSymResult QXSymClientWorkspaceDirect::IsValid() {
  return CallEntry(table_, &QXSymDirectAccessTable::IsValid, context_);
}

QXSymResult QXSymClientWorkspaceDirect::GetSymbolTableSize(std::uint32_t*) {
  return symResNotImplemented;
}

QXSymResult QXSymClientWorkspaceDirect::ReadSymbolTable(std::uint32_t, void*) {
  return symResNotImplemented;
}

QXSymResult QXSymClientWorkspaceDirect::GetGlobalTag(const TCHAR* name,
                                                     std::unique_ptr<QXSymClientTag>* tag) {
  if (tag == nullptr) return symResInvalidParameter;
  std::uint32_t id = 0, type_var = 0, data_size = 0, full_size = 0;
  const QXSymResult r = CallEntry(table_, &QXSymDirectAccessTable::GetGlobalTag, context_, name,
                                  &id, &type_var, &data_size, &full_size);
  if (r != symResOk) return r;
  std::unique_ptr<QXSymClientTag> made;
  const QXSymResult m = MakeObject<QXSymClientTagDirect>(&made, table_, context_, id);
  if (m != symResOk) return m;
  made->SetCachedDataTypeVar(type_var);
  made->SetCachedDataSize(data_size);
  made->SetCachedDataFullSize(full_size);
  *tag = std::move(made);
  return symResOk;
}

QXSymResult QXSymClientWorkspaceDirect::TakeIdList(QXSymResult entry_result, std::uint32_t* ids,
                                                   std::uint32_t count, TagList* tags,
                                                   std::uint32_t capacity) {
  // The host allocated the array with new[]; it goes back on every path.
  const std::unique_ptr<std::uint32_t[]> owned(ids);
  if (entry_result != symResOk) return entry_result;
  if (count != 0 && ids == nullptr) return symResNotOk;
  if (count > capacity) {
    // The host opened every tag it listed; none reaches the caller, so each
    // is closed again rather than left open at the host.
    for (std::uint32_t i = 0; i < count; ++i) {
      CallEntry(table_, &QXSymDirectAccessTable::TagClose, context_, ids[i]);
    }
    return symResBufferOverflow;
  }

  return MakeList(
      count,
      [&](std::uint32_t i) -> std::unique_ptr<QXSymClientTag> {
        return NewOrNull<QXSymClientTagDirect>(table_, context_, ids[i]);
      },
      tags);
}

QXSymResult QXSymClientWorkspaceDirect::GetGlobalTags(TagList* tags, std::uint32_t capacity) {
  if (tags == nullptr) return symResInvalidParameter;
  std::uint32_t* ids = nullptr;
  std::uint32_t count = 0;
  const QXSymResult r =
      CallEntry(table_, &QXSymDirectAccessTable::GetGlobalTags, context_, &ids, &count);
  return TakeIdList(r, ids, count, tags, capacity);
}

QXSymResult QXSymClientWorkspaceDirect::QueryGlobalTags(const TCHAR* filter, TagList* tags,
                                                        std::uint32_t capacity) {
  if (tags == nullptr) return symResInvalidParameter;
  std::uint32_t* ids = nullptr;
  std::uint32_t count = 0;
  const QXSymResult r = CallEntry(table_, &QXSymDirectAccessTable::QueryGlobalTags, context_,
                                  FilterOrEmpty(filter), &ids, &count);
  return TakeIdList(r, ids, count, tags, capacity);
}

QXSymResult QXSymClientWorkspaceDirect::GetGlobalTagsNum(std::uint32_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::GetGlobalTagsNum, context_, count);
}

QXSymResult QXSymClientWorkspaceDirect::QueryGlobalTagsNum(const TCHAR* filter,
                                                           std::uint32_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  return CallEntry(table_, &QXSymDirectAccessTable::QueryGlobalTagsNum, context_,
                   FilterOrEmpty(filter), count);
}

QXSymResult QXSymClientWorkspaceDirect::CreateGroup(std::unique_ptr<QXSymClientGroup>* group) {
  if (group == nullptr) return symResInvalidParameter;
  std::uint32_t id = 0;
  const QXSymResult r = CallEntry(table_, &QXSymDirectAccessTable::CreateGroup, context_, &id);
  if (r != symResOk) return r;
  std::shared_ptr<QXSymGroupMemberTable> members;
  try {
    members = std::make_shared<QXSymGroupMemberTable>();
  } catch (const std::bad_alloc&) {
    return symResNotOk;
  }
  return MakeObject<QXSymClientGroupDirect>(group, table_, context_, id, std::move(members));
}

std::unique_ptr<QXSymClientWorkspace> QXSymClientWorkspaceDirect::Clone() const {
  return NewOrNull<QXSymClientWorkspaceDirect>(table_, context_, true);
}

WorkspaceKey QXSymClientWorkspaceDirect::GetWorkspaceKey() const {
  return WorkspaceKey{table_, context_, 0};
}

}  // namespace qxsym
