// Fields that many symbol-service messages share: the request headers, the
// texts of requests and replies, and the payloads that carry one 8-bit
// answer, one 32-bit value or one reference. The pack functions write into
// a bounded WireWriter (a writer without room fails and stays failed); the
// unpack functions read from a WireReader bounded by what arrived and leave
// their outputs untouched when a field is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "SymbolMessages.h"
#include "Wire.h"

namespace qxsym {

// ---- Request headers ----

// Code and workspace reference (10 bytes): requests about an open workspace.
inline void PackWorkspaceHeader(WireWriter& w, std::uint16_t code, const SymRef& workspace) {
  w.U16(code).U32(workspace.w0).U32(workspace.w1);
}

// Code, workspace reference and object reference (18 bytes): requests about
// a tag, type or group.
inline void PackObjectHeader(WireWriter& w, std::uint16_t code, const SymRef& workspace,
                             const SymRef& object) {
  PackWorkspaceHeader(w, code, workspace);
  w.U32(object.w0).U32(object.w1);
}

// A reference: word 0, then word 1.
inline void PackRef(WireWriter& w, const SymRef& ref) { w.U32(ref.w0).U32(ref.w1); }
inline bool UnpackRef(WireReader& r, SymRef* ref) {
  SymRef got;
  if (!r.U32(&got.w0) || !r.U32(&got.w1)) return false;
  *ref = got;
  return true;
}

// ---- Texts ----

// Characters of `text` that go on the wire: up to its first zero, at most
// 259. A null text is empty.
inline std::size_t SentTextLength(const char* text) {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (n < kMaxSentTextChars && text[n] != '\0') ++n;
  return n;
}

// A text with its length: u16 N (counting the terminator), then N bytes.
inline std::size_t TextSize(const char* text) { return 2 + SentTextLength(text) + 1; }
inline void PackText(WireWriter& w, const char* text) {
  const std::size_t n = SentTextLength(text);
  w.U16(static_cast<std::uint16_t>(n + 1)).Bytes(text, n).U8(0);
}

// A text in a fixed field: u16 N, then the text and zeros up to 260 bytes.
constexpr std::uint32_t kTextFieldSize = 2 + kFilterFieldSize;
inline void PackTextField(WireWriter& w, const char* text) {
  const std::size_t n = SentTextLength(text);
  w.U16(static_cast<std::uint16_t>(n + 1)).Bytes(text, n).Zeros(kFilterFieldSize - n);
}

namespace wire_detail {
inline bool UnpackStoredText(WireReader& r, std::size_t field, std::string* out) {
  std::uint16_t n = 0;
  if (!r.U16(&n) || n < 1 || n > kMaxText) return false;
  const std::size_t stored = field != 0 ? field : n;
  if (n > stored) return false;
  const std::uint8_t* p = r.View(stored);
  if (p == nullptr || p[n - 1] != 0) return false;
  out->assign(reinterpret_cast<const char*>(p));
  return true;
}
}  // namespace wire_detail

// The service's reading of a request text: N from 1 to 260, and the N bytes
// (the field's 260 bytes) present and ending in a zero. False otherwise.
inline bool UnpackText(WireReader& r, std::string* out) {
  return wire_detail::UnpackStoredText(r, 0, out);
}
inline bool UnpackTextField(WireReader& r, std::string* out) {
  return wire_detail::UnpackStoredText(r, kFilterFieldSize, out);
}

// The client's reading of a reply text (either form): L from 1 to 260 and
// L bytes present; *text points at them, unchecked for a terminator.
inline bool UnpackReplyText(WireReader& r, const std::uint8_t** text, std::uint16_t* length) {
  std::uint16_t n = 0;
  if (!r.U16(&n) || n == 0 || n > kMaxText) return false;
  const std::uint8_t* p = r.View(n);
  if (p == nullptr) return false;
  *text = p;
  *length = n;
  return true;
}

// ---- One-value reply payloads ----

constexpr std::uint32_t kU8PayloadSize = 1;
constexpr std::uint32_t kU32PayloadSize = 4;
constexpr std::uint32_t kRefPayloadSize = 8;

inline void PackU8Reply(WireWriter& w, std::uint8_t v) { w.U8(v); }
inline bool UnpackU8Reply(WireReader& r, std::uint8_t* v) { return r.U8(v); }
inline void PackU32Reply(WireWriter& w, std::uint32_t v) { w.U32(v); }
inline bool UnpackU32Reply(WireReader& r, std::uint32_t* v) { return r.U32(v); }
inline void PackRefReply(WireWriter& w, const SymRef& ref) { PackRef(w, ref); }
inline bool UnpackRefReply(WireReader& r, SymRef* ref) { return UnpackRef(r, ref); }

}  // namespace qxsym
