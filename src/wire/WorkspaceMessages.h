// The workspace messages of the symbol service, one pack and one unpack per
// layout. Requests are packed whole (header included) by the client and
// unpacked by the service after it has read the header; reply payloads (what
// follows code and status) are packed by the service and unpacked by the
// client. Messages whose request is the bare header or whose reply is one
// value use the shared fields of MessageFields.h:
//   close 5, is-valid 6             header; status only
//   symbol table size 8, tag counts 12 and 111   header (111: filter); u32
//   create group 100                header; reference
#pragma once

#include <cstdint>
#include <string>

#include "MessageFields.h"

namespace qxsym {

// ---- Open workspace (4): u16 code, u8 selector; reply: reference ----

constexpr std::uint32_t kOpenWorkspaceRequestSize = 3;
inline void PackOpenWorkspaceRequest(WireWriter& w, std::uint8_t selector) {
  w.U16(kCmdOpenWorkspace).U8(selector);
}
inline bool UnpackOpenWorkspaceRequest(WireReader& r, std::uint8_t* selector) {
  return r.U8(selector) && r.remaining() == 0;
}

// ---- Server version (7): u16 code; reply: major, minor, revision, build ----

constexpr std::uint32_t kServerVersionRequestSize = 2;
constexpr std::uint32_t kServerVersionPayloadSize = 4;
inline void PackServerVersionRequest(WireWriter& w) { w.U16(kCmdGetServerVersion); }
inline bool UnpackServerVersionRequest(const WireReader& r) { return r.remaining() == 0; }
inline void PackServerVersionReply(WireWriter& w, const std::uint8_t version[4]) {
  w.Bytes(version, kServerVersionPayloadSize);
}
inline bool UnpackServerVersionReply(WireReader& r, std::uint8_t version[4]) {
  return r.Bytes(version, kServerVersionPayloadSize);
}

// ---- Read symbol table (9): header, u32 size; reply: the table's bytes ----

constexpr std::uint32_t kReadSymbolTableRequestSize = kWorkspaceHeaderSize + 4;
inline void PackReadSymbolTableRequest(WireWriter& w, const SymRef& workspace, std::uint32_t size) {
  PackWorkspaceHeader(w, kCmdReadSymbolTable, workspace);
  w.U32(size);
}
inline bool UnpackReadSymbolTableRequest(WireReader& r, std::uint32_t* size) {
  return r.U32(size) && r.remaining() == 0;
}
inline void PackReadSymbolTableReply(WireWriter& w, const void* table, std::uint32_t size) {
  w.Bytes(table, size);
}
inline bool UnpackReadSymbolTableReply(WireReader& r, void* table, std::uint32_t size) {
  return r.Bytes(table, size);
}

// ---- Global tag (10): header, text; reply: reference, type, sizes ----

struct GlobalTagReply {
  SymRef tag;
  std::uint32_t data_type_var = 0;
  std::uint32_t data_size = 0;
  std::uint32_t data_full_size = 0;
};
constexpr std::uint32_t kGlobalTagRequestCapacity = kWorkspaceHeaderSize + 2 + kMaxText;
constexpr std::uint32_t kGlobalTagPayloadSize = 20;
inline void PackGlobalTagRequest(WireWriter& w, const SymRef& workspace, const char* name) {
  PackWorkspaceHeader(w, kCmdGetGlobalTag, workspace);
  PackText(w, name);
}
inline bool UnpackGlobalTagRequest(WireReader& r, std::string* name) {
  return UnpackText(r, name) && r.remaining() == 0;
}
inline void PackGlobalTagReply(WireWriter& w, const GlobalTagReply& tag) {
  PackRef(w, tag.tag);
  w.U32(tag.data_type_var).U32(tag.data_size).U32(tag.data_full_size);
}
inline bool UnpackGlobalTagReply(WireReader& r, GlobalTagReply* tag) {
  GlobalTagReply got;
  if (!UnpackRef(r, &got.tag) || !r.U32(&got.data_type_var) || !r.U32(&got.data_size) ||
      !r.U32(&got.data_full_size)) {
    return false;
  }
  *tag = got;
  return true;
}

// ---- Filtered requests (110 tags, 111 tag count): header, text field ----

inline void PackFilterRequest(WireWriter& w, std::uint16_t code, const SymRef& workspace,
                              const char* filter) {
  PackWorkspaceHeader(w, code, workspace);
  PackTextField(w, filter);
}
inline bool UnpackFilterRequest(WireReader& r, std::string* filter) {
  return UnpackTextField(r, filter) && r.remaining() == 0;
}

// ---- Tag lists (91 all, 110 filtered) ----
// Reply: u32 matched, u32 0 (words the service keeps for itself, not read),
// u32 byte length (8 per tag), u32 count, then count references.

constexpr std::uint32_t kTagListHeaderSkip = 8;
inline std::size_t TagListPayloadSize(std::size_t count) {
  return kTagListOffset - kReplyHeaderSize + 8 * count;
}
inline void PackTagListReply(WireWriter& w, std::uint32_t matched, const SymRef* tags,
                             std::uint32_t count) {
  w.U32(matched).U32(0).U32(8 * count).U32(count);
  for (std::uint32_t i = 0; i < count; ++i) PackRef(w, tags[i]);
}
// The list's header: false when missing or when the byte length is not
// 8 per tag. The references follow, read by UnpackTagListEntries.
inline bool UnpackTagListReply(WireReader& r, std::uint32_t* count) {
  std::uint32_t byte_length = 0, n = 0;
  if (!r.Skip(kTagListHeaderSkip) || !r.U32(&byte_length) || !r.U32(&n)) return false;
  if (static_cast<std::uint64_t>(n) * 8 != byte_length) return false;
  *count = n;
  return true;
}
// The `count` references after the header; null when they did not all arrive.
inline const std::uint8_t* UnpackTagListEntries(WireReader& r, std::uint32_t count) {
  return r.View(8 * static_cast<std::size_t>(count));
}
inline SymRef TagListEntry(const std::uint8_t* entries, std::uint32_t i) {
  return SymRef{LoadU32(entries + 8 * i), LoadU32(entries + 8 * i + 4)};
}

}  // namespace qxsym
