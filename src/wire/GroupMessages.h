// The group messages of the symbol service, one pack and one unpack per
// layout (who packs and who unpacks: see WorkspaceMessages.h). Every request
// starts with the object header; delete (101) is the bare header with a
// status-only reply.
#pragma once

#include <cstdint>

#include "MessageFields.h"

namespace qxsym {

// ---- Members: add 102 (reply: u32 member size), remove 103 (status only):
// header, the tag's reference ----

constexpr std::uint32_t kGroupMemberRequestSize = kObjectHeaderSize + 8;
inline void PackGroupMemberRequest(WireWriter& w, std::uint16_t code, const SymRef& workspace,
                                   const SymRef& group, const SymRef& tag) {
  PackObjectHeader(w, code, workspace, group);
  PackRef(w, tag);
}
inline bool UnpackGroupMemberRequest(WireReader& r, SymRef* tag) {
  return UnpackRef(r, tag) && r.remaining() == 0;
}

// ---- Read (104): header, u32 total; reply: u32 length, the values ----

constexpr std::uint32_t kGroupSizedRequestSize = kObjectHeaderSize + 4;
inline void PackGroupReadRequest(WireWriter& w, const SymRef& workspace, const SymRef& group,
                                 std::uint32_t total) {
  PackObjectHeader(w, kCmdGroupRead, workspace, group);
  w.U32(total);
}
inline bool UnpackGroupReadRequest(WireReader& r, std::uint32_t* total) {
  return r.U32(total) && r.remaining() == 0;
}
inline std::size_t GroupReadPayloadSize(std::size_t total) { return 4 + total; }
inline void PackGroupReadReply(WireWriter& w, const void* values, std::uint32_t total) {
  w.U32(total).Bytes(values, total);
}
// False when the length is missing; *values is null when fewer than
// *length bytes follow it.
inline bool UnpackGroupReadReply(WireReader& r, std::uint32_t* length,
                                 const std::uint8_t** values) {
  if (!r.U32(length)) return false;
  *values = r.View(*length);
  return true;
}

// ---- Write (105): header, u32 total, the values; reply: status only ----
// The pack reserves the values as zeros at kGroupWriteValuesAt, for the
// caller to fill in place.

constexpr std::uint32_t kGroupWriteValuesAt = kGroupSizedRequestSize;
inline void PackGroupWriteRequest(WireWriter& w, const SymRef& workspace, const SymRef& group,
                                  std::uint32_t total) {
  PackObjectHeader(w, kCmdGroupWrite, workspace, group);
  w.U32(total).Zeros(total);
}
inline bool UnpackGroupWriteRequest(WireReader& r, std::uint32_t* total,
                                    const std::uint8_t** values) {
  if (!r.U32(total) || r.remaining() != *total) return false;
  *values = r.View(*total);
  return true;
}

}  // namespace qxsym
