// The fragment messages that carry a symbol-service message too long for one
// "Y" frame, one pack and one unpack per message. The client's channel and
// the simulator's server both use them.
//
// A request longer than kMaxMessage goes out as request fragments; the
// controller acknowledges each with the offset it wants next. A reply longer
// than one frame comes back as reply fragments; the client acknowledges each
// with the number of bytes it holds so far. Every field is little-endian:
//   request fragment      u16 code, 8 zeros, u32 transfer, u32 total,
//                         u32 offset, u32 length, u8 last, data (27 + length)
//   fragment ack          u16 code, 10 zeros, u32 transfer, u32 next offset (20)
//   reply fragment        u16 code, 10 zeros, u32 transfer, u32 total,
//                         u32 offset, u32 length, u8 last, data (29 + length)
//   reply fragment ack    u16 code, 8 zeros, u32 transfer, u32 received (18)
//
// A fragment unpacks only when its length field names exactly the data that
// follows; an acknowledgement ignores bytes after its last field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "GDBProtocol.h"
#include "Wire.h"

namespace qxsym {
namespace gdb {

// Message codes. The four are consecutive: kCodeReplyFragment is the lowest.
constexpr std::uint16_t kCodeReplyFragment = 0xFDE8;     // controller to client
constexpr std::uint16_t kCodeReplyFragmentAck = 0xFDE9;  // client to controller
constexpr std::uint16_t kCodeRequestFragment = 0xFDEA;   // client to controller
constexpr std::uint16_t kCodeFragmentAck = 0xFDEB;       // controller to client
constexpr std::uint16_t kCodeFragmentFirst = kCodeReplyFragment;
constexpr std::uint16_t kCodeFragmentLast = kCodeFragmentAck;

inline constexpr bool IsFragmentCode(std::uint16_t code) {
  return code >= kCodeFragmentFirst && code <= kCodeFragmentLast;
}

// Sizes of the fixed parts.
constexpr std::uint32_t kRequestFragmentHeader = 27;
constexpr std::uint32_t kFragmentAckSize = 20;
constexpr std::uint32_t kReplyFragmentHeader = 29;
constexpr std::uint32_t kReplyFragmentAckSize = 18;
// Zero bytes between the code and the transfer number.
constexpr std::uint32_t kRequestFragmentPad = 8;
constexpr std::uint32_t kFragmentAckPad = 10;
constexpr std::uint32_t kReplyFragmentPad = 10;
constexpr std::uint32_t kReplyFragmentAckPad = 8;

static_assert(kRequestFragmentHeader == 2 + kRequestFragmentPad + 4 * 4 + 1, "request fragment");
static_assert(kFragmentAckSize == 2 + kFragmentAckPad + 2 * 4, "fragment ack");
static_assert(kReplyFragmentHeader == 2 + kReplyFragmentPad + 4 * 4 + 1, "reply fragment");
static_assert(kReplyFragmentAckSize == 2 + kReplyFragmentAckPad + 2 * 4, "reply fragment ack");

// Most data bytes one request fragment carries: the fragment fits one "Y"
// frame's message.
constexpr std::uint32_t kMaxFragmentData = kMaxMessage - kRequestFragmentHeader;

// A request or reply fragment. `data` points at `length` bytes: the caller's
// when packing, inside the unpacked message when unpacking.
struct Fragment {
  std::uint32_t transfer = 0;
  std::uint32_t total = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  bool last = false;
  const std::uint8_t* data = nullptr;
};

// An acknowledgement: the next offset wanted (fragment ack) or the bytes
// received so far (reply fragment ack).
struct FragmentAck {
  std::uint32_t transfer = 0;
  std::uint32_t position = 0;
};

namespace fragment_detail {

inline void PackFragment(WireWriter& w, std::uint16_t code, std::uint32_t pad, const Fragment& f) {
  w.U16(code).Zeros(pad).U32(f.transfer).U32(f.total).U32(f.offset).U32(f.length);
  w.U8(f.last ? 1 : 0).Bytes(f.data, f.length);
}

inline bool UnpackFragment(WireReader r, std::uint16_t code, std::uint32_t pad, Fragment* out) {
  std::uint16_t got_code = 0;
  std::uint8_t last = 0;
  Fragment f;
  if (!r.U16(&got_code) || got_code != code || !r.Skip(pad) || !r.U32(&f.transfer) ||
      !r.U32(&f.total) || !r.U32(&f.offset) || !r.U32(&f.length) || !r.U8(&last) ||
      r.remaining() != f.length) {
    return false;
  }
  f.last = last != 0;
  f.data = r.View(f.length);
  *out = f;
  return true;
}

inline void PackAck(WireWriter& w, std::uint16_t code, std::uint32_t pad, const FragmentAck& a) {
  w.U16(code).Zeros(pad).U32(a.transfer).U32(a.position);
}

inline bool UnpackAck(WireReader r, std::uint16_t code, std::uint32_t pad, FragmentAck* out) {
  std::uint16_t got_code = 0;
  FragmentAck a;
  if (!r.U16(&got_code) || got_code != code || !r.Skip(pad) || !r.U32(&a.transfer) ||
      !r.U32(&a.position)) {
    return false;
  }
  *out = a;
  return true;
}

}  // namespace fragment_detail

// Each Unpack reads the whole message of `size` bytes from its first byte
// (the code) and answers false, leaving *out untouched, when the message is of another kind
// or malformed.

inline void PackRequestFragment(WireWriter& w, const Fragment& f) {
  fragment_detail::PackFragment(w, kCodeRequestFragment, kRequestFragmentPad, f);
}
inline bool UnpackRequestFragment(const void* message, std::size_t size, Fragment* out) {
  return fragment_detail::UnpackFragment(WireReader(message, size), kCodeRequestFragment,
                                         kRequestFragmentPad, out);
}

inline void PackReplyFragment(WireWriter& w, const Fragment& f) {
  fragment_detail::PackFragment(w, kCodeReplyFragment, kReplyFragmentPad, f);
}
inline bool UnpackReplyFragment(const void* message, std::size_t size, Fragment* out) {
  return fragment_detail::UnpackFragment(WireReader(message, size), kCodeReplyFragment,
                                         kReplyFragmentPad, out);
}

inline void PackFragmentAck(WireWriter& w, const FragmentAck& a) {
  fragment_detail::PackAck(w, kCodeFragmentAck, kFragmentAckPad, a);
}
inline bool UnpackFragmentAck(const void* message, std::size_t size, FragmentAck* out) {
  return fragment_detail::UnpackAck(WireReader(message, size), kCodeFragmentAck, kFragmentAckPad,
                                    out);
}

inline void PackReplyFragmentAck(WireWriter& w, const FragmentAck& a) {
  fragment_detail::PackAck(w, kCodeReplyFragmentAck, kReplyFragmentAckPad, a);
}
inline bool UnpackReplyFragmentAck(const void* message, std::size_t size, FragmentAck* out) {
  return fragment_detail::UnpackAck(WireReader(message, size), kCodeReplyFragmentAck,
                                    kReplyFragmentAckPad, out);
}

}  // namespace gdb
}  // namespace qxsym
