// The tag messages of the symbol service, one pack and one unpack per
// layout (who packs and who unpacks: see WorkspaceMessages.h). Every request
// starts with the object header. Messages with a bare header or a one-value
// reply use the shared fields of MessageFields.h:
//   close 11                              status only
//   name 18, data type 19, description 23 text reply
//   data size 20, full size 89, type 27   u32 reply
//   read-only 21, bit address 22          u8 reply
//   type 70                               reference reply
#pragma once

#include <cstdint>
#include <string>

#include "MessageFields.h"

namespace qxsym {

// Three array indices, as element requests carry them.
constexpr std::uint32_t kIndicesSize = 12;
inline void PackIndices(WireWriter& w, const std::uint32_t indices[3]) {
  w.U32(indices[0]).U32(indices[1]).U32(indices[2]);
}
inline bool UnpackIndices(WireReader& r, std::uint32_t indices[3]) {
  std::uint32_t got[3];
  if (!r.U32(&got[0]) || !r.U32(&got[1]) || !r.U32(&got[2])) return false;
  for (int i = 0; i < 3; ++i) indices[i] = got[i];
  return true;
}

// ---- Attribute (17): header, text; reply: text ----

constexpr std::uint32_t kTagAttributeRequestCapacity = kObjectHeaderSize + 2 + kMaxText;
inline void PackTagAttributeRequest(WireWriter& w, const SymRef& workspace, const SymRef& tag,
                                    const char* name) {
  PackObjectHeader(w, kCmdTagGetAttribute, workspace, tag);
  PackText(w, name);
}
inline bool UnpackTagAttributeRequest(WireReader& r, std::string* name) {
  return UnpackText(r, name) && r.remaining() == 0;
}

// ---- Dimensions (24): header; reply: three u32 ----

constexpr std::uint32_t kTagDimsPayloadSize = 12;
inline void PackTagDimsReply(WireWriter& w, const std::uint32_t dims[3]) { PackIndices(w, dims); }
inline bool UnpackTagDimsReply(WireReader& r, std::uint32_t dims[3]) {
  return UnpackIndices(r, dims);
}

// ---- Element address (26): header, indices; reply: u64 address, u32 bit ----

constexpr std::uint32_t kTagIndexedRequestSize = kObjectHeaderSize + kIndicesSize;
constexpr std::uint32_t kArrayAddressPayloadSize = 12;
inline void PackArrayAddressRequest(WireWriter& w, const SymRef& workspace, const SymRef& tag,
                                    const std::uint32_t indices[3]) {
  PackObjectHeader(w, kCmdTagGetArrayAddress, workspace, tag);
  PackIndices(w, indices);
}
inline bool UnpackArrayAddressRequest(WireReader& r, std::uint32_t indices[3]) {
  return UnpackIndices(r, indices) && r.remaining() == 0;
}
inline void PackArrayAddressReply(WireWriter& w, std::uint64_t address, std::uint32_t bit) {
  w.U64(address).U32(bit);
}
inline bool UnpackArrayAddressReply(WireReader& r, std::uint64_t* address, std::uint32_t* bit) {
  std::uint64_t a = 0;
  std::uint32_t b = 0;
  if (!r.U64(&a) || !r.U32(&b)) return false;
  *address = a;
  *bit = b;
  return true;
}

// ---- Values: whole (40 read, 41 write) or one element (42, 43, indices) ----
// Read request: header [, indices]. Reply: u16 length, the value.
// Write request: header [, indices], u16 length (the low 16 bits of the
// value's size), the value; reply: status only.

inline bool IsElementValueCommand(std::uint16_t code) {
  return code == kCmdTagGetArrayValue || code == kCmdTagSetArrayValue;
}
inline void PackValueReadRequest(WireWriter& w, std::uint16_t code, const SymRef& workspace,
                                 const SymRef& tag, const std::uint32_t* indices) {
  PackObjectHeader(w, code, workspace, tag);
  if (IsElementValueCommand(code)) PackIndices(w, indices);
}
inline bool UnpackValueReadRequest(WireReader& r, std::uint16_t code, std::uint32_t indices[3]) {
  return (!IsElementValueCommand(code) || UnpackIndices(r, indices)) && r.remaining() == 0;
}
inline std::size_t ValueReplyPayloadSize(std::size_t size) { return 2 + size; }
inline void PackValueReply(WireWriter& w, const void* value, std::uint16_t size) {
  w.U16(size).Bytes(value, size);
}
// False when the length is missing; *value is null when fewer than *size
// bytes follow it.
inline bool UnpackValueReply(WireReader& r, std::uint16_t* size, const std::uint8_t** value) {
  if (!r.U16(size)) return false;
  *value = r.View(*size);
  return true;
}

inline std::size_t ValueWriteRequestSize(std::uint16_t code, std::size_t size) {
  return kObjectHeaderSize + (IsElementValueCommand(code) ? kIndicesSize : 0) + 2 + size;
}
inline void PackValueWriteRequest(WireWriter& w, std::uint16_t code, const SymRef& workspace,
                                  const SymRef& tag, const std::uint32_t* indices,
                                  const void* value, std::uint32_t size) {
  PackObjectHeader(w, code, workspace, tag);
  if (IsElementValueCommand(code)) PackIndices(w, indices);
  w.U16(static_cast<std::uint16_t>(size)).Bytes(value, size);
}
// The value is the rest of the request; its length field must match.
inline bool UnpackValueWriteRequest(WireReader& r, std::uint16_t code, std::uint32_t indices[3],
                                    const std::uint8_t** value, std::size_t* size) {
  std::uint16_t length = 0;
  if ((IsElementValueCommand(code) && !UnpackIndices(r, indices)) || !r.U16(&length)) {
    return false;
  }
  const std::size_t n = r.remaining();
  if ((n & 0xFFFF) != length) return false;
  *size = n;
  *value = r.View(n);
  return true;
}

// ---- Raw memory (44 read, 45 write): header, u32 offset, u32 size ----
// Read reply: u32 length, the bytes. Write request: the bytes follow the
// size; reply: status only.

constexpr std::uint32_t kRawRequestSize = kObjectHeaderSize + 8;
inline void PackRawReadRequest(WireWriter& w, const SymRef& workspace, const SymRef& tag,
                               std::uint32_t offset, std::uint32_t size) {
  PackObjectHeader(w, kCmdTagGetRawValue, workspace, tag);
  w.U32(offset).U32(size);
}
inline bool UnpackRawReadRequest(WireReader& r, std::uint32_t* offset, std::uint32_t* size) {
  return r.U32(offset) && r.U32(size) && r.remaining() == 0;
}
inline std::size_t RawReplyPayloadSize(std::size_t size) { return 4 + size; }
inline void PackRawReply(WireWriter& w, const void* bytes, std::uint32_t size) {
  w.U32(size).Bytes(bytes, size);
}
// False when the length is missing; *bytes is null when fewer than *size
// bytes follow it.
inline bool UnpackRawReply(WireReader& r, std::uint32_t* size, const std::uint8_t** bytes) {
  if (!r.U32(size)) return false;
  *bytes = r.View(*size);
  return true;
}

inline void PackRawWriteRequest(WireWriter& w, const SymRef& workspace, const SymRef& tag,
                                std::uint32_t offset, const void* bytes, std::uint32_t size) {
  PackObjectHeader(w, kCmdTagSetRawValue, workspace, tag);
  w.U32(offset).U32(size).Bytes(bytes, size);
}
inline bool UnpackRawWriteRequest(WireReader& r, std::uint32_t* offset, std::uint32_t* size,
                                  const std::uint8_t** bytes) {
  if (!r.U32(offset) || !r.U32(size) || r.remaining() != *size) return false;
  *bytes = r.View(*size);
  return true;
}

}  // namespace qxsym
