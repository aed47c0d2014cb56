// The type messages of the symbol service, one pack and one unpack per
// layout (who packs and who unpacks: see WorkspaceMessages.h). Every request
// starts with the object header. Messages with a bare header or a one-value
// reply use the shared fields of MessageFields.h:
//   is-basic 71 to is-integer 79          u8 reply
//   size 80, child count 82, dimension count 86, properties 90   u32 reply
//   name 81                               text reply in a 260-byte field
#pragma once

#include <cstdint>
#include <string>

#include "MessageFields.h"

namespace qxsym {

// ---- Indexed questions: child 83 (reference), child name 85 (text in a
// field), array dimension 87 (u32): header, u32 index ----

constexpr std::uint32_t kTypeIndexRequestSize = kObjectHeaderSize + 4;
inline void PackTypeIndexRequest(WireWriter& w, std::uint16_t code, const SymRef& workspace,
                                 const SymRef& type, std::uint32_t index) {
  PackObjectHeader(w, code, workspace, type);
  w.U32(index);
}
inline bool UnpackTypeIndexRequest(WireReader& r, std::uint32_t* index) {
  return r.U32(index) && r.remaining() == 0;
}

// ---- Child by name (84): header, text; reply: reference ----

constexpr std::uint32_t kChildByNameRequestCapacity = kObjectHeaderSize + 2 + kMaxText;
inline void PackChildByNameRequest(WireWriter& w, const SymRef& workspace, const SymRef& type,
                                   const char* name) {
  PackObjectHeader(w, kCmdTypeGetChildByName, workspace, type);
  PackText(w, name);
}
inline bool UnpackChildByNameRequest(WireReader& r, std::string* name) {
  return UnpackText(r, name) && r.remaining() == 0;
}

// ---- Array dimensions (88): header; reply: u32 count, count x u32 ----

inline std::size_t ArrayDimensionsPayloadSize(std::size_t count) { return 4 + 4 * count; }
inline void PackArrayDimensionsReply(WireWriter& w, const std::uint32_t* counts,
                                     std::uint32_t count) {
  w.U32(count);
  for (std::uint32_t i = 0; i < count; ++i) w.U32(counts[i]);
}
// False when the count is missing; *counts is null when fewer than *count
// values follow it. ArrayDimensionEntry reads value i.
inline bool UnpackArrayDimensionsReply(WireReader& r, std::uint32_t* count,
                                       const std::uint8_t** counts) {
  if (!r.U32(count)) return false;
  *counts = r.View(4 * static_cast<std::size_t>(*count));
  return true;
}
inline std::uint32_t ArrayDimensionEntry(const std::uint8_t* counts, std::uint32_t i) {
  return LoadU32(counts + 4 * i);
}

}  // namespace qxsym
