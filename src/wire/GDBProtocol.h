// Constants of the framed binary protocol spoken with the controller: control
// bytes, frame sizes and internal error codes of the frame codec (the
// fragment messages are in FragmentMessages.h). The client's channel and the
// simulator's server both take them from here.
#pragma once

#include <cstdint>

namespace qxsym {
namespace gdb {

// Control bytes. Every byte of a frame except the request start byte that has
// one of these values travels as kEscape, (value | kEscapeBit).
constexpr std::uint8_t kStart = 0x10;
constexpr std::uint8_t kXon = 0x11;
constexpr std::uint8_t kXoff = 0x13;
constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kEscapeBit = 0x40;
constexpr std::uint8_t kUnescapeMask = 0xBF;

// One-byte acknowledgements, neither framed nor stuffed.
constexpr std::uint8_t kAckGood = '+';
constexpr std::uint8_t kAckBad = '-';

inline constexpr bool NeedsStuffing(std::uint8_t b) {
  return b == kStart || b == kXon || b == kXoff || b == kEscape;
}

// Frames are encoded into a buffer of this size; the port can hold one byte
// less for a single flush.
constexpr std::uint32_t kFrameBufferSize = 4096;
constexpr std::uint16_t kDefaultTimeoutMs = 10000;

// Internal error codes of the frame codec (lastError). Reply statuses 1 to 10
// are kept as they are; the others are folded by StatusToError.
constexpr std::uint16_t kErrStatus11 = 13;
constexpr std::uint16_t kErrOtherStatus = 12;
constexpr std::uint16_t kErrOverflow = 11;
constexpr std::uint16_t kErrAck = 14;
constexpr std::uint16_t kErrTimeout = 15;
constexpr std::uint16_t kErrConnectionLost = 19;
constexpr std::uint16_t kErrInvalidParameter = 6;
// A reply with an error status whose data did not fit the caller's buffer.
constexpr std::uint8_t kStatusOverflow = 20;

inline constexpr std::uint16_t StatusToError(std::uint8_t status) {
  if (status <= 10) return status;
  if (status == 11) return kErrStatus11;
  if (status == 20) return kErrOverflow;
  return kErrOtherStatus;
}

// Symbol-service messages up to this size go in one "Y" frame.
constexpr std::uint32_t kMaxMessage = 1024;
// Most data bytes one reply frame can carry (its count is 16-bit).
constexpr std::uint32_t kMaxReplyFrame = 0xFFFF;

// Memory commands move at most this many bytes each.
constexpr std::uint32_t kMemoryChunk = 1024;
// Variable commands.
constexpr std::uint32_t kVariableReplyCapacity = 256;
constexpr std::uint32_t kVariableReplySkip = 3;
constexpr std::uint32_t kVariableRequestLimit = 256;
constexpr std::uint32_t kVariableRequestHeader = 4;
constexpr std::uint32_t kWriteVariableReplyCapacity = 10;

}  // namespace gdb
}  // namespace qxsym
