// Hand-written encoding of the controller protocol for the server's tests:
// request frames as a client sends them and a reader of reply frames. It is
// written from the wire format and shares no code with the server or the
// client library (its stuffing is the tests' own, FrameStuffing.h), so the
// tests check the server's bytes independently.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FrameStuffing.h"

namespace qxsym::test::simwire {

using Bytes = std::vector<std::uint8_t>;

using test::AppendStuffed;

inline void PutU16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutU64(Bytes& b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline std::uint16_t GetU16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t GetU32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b.at(at + i)) << (8 * i);
  return v;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A request frame: start byte, then stuffed length, optional sequence
// number, payload and checksum (over length, sequence and payload).
inline Bytes RequestFrame(const Bytes& payload, std::optional<std::uint16_t> seq = std::nullopt,
                          std::uint8_t checksum_error = 0) {
  Bytes body;
  if (seq) PutU16(body, *seq);
  body.insert(body.end(), payload.begin(), payload.end());
  Bytes out{kStartByte};
  const auto length = static_cast<std::uint16_t>(body.size());
  std::uint8_t sum = static_cast<std::uint8_t>((length & 0xFF) + (length >> 8));
  AppendStuffed(out, static_cast<std::uint8_t>(length));
  AppendStuffed(out, static_cast<std::uint8_t>(length >> 8));
  for (std::uint8_t b : body) {
    sum = static_cast<std::uint8_t>(sum + b);
    AppendStuffed(out, b);
  }
  AppendStuffed(out, static_cast<std::uint8_t>(sum + checksum_error));
  return out;
}

struct ReplyFrame {
  std::uint8_t status = 0;
  std::optional<std::uint16_t> seq;
  Bytes data;
  bool checksum_ok = false;
};

// Reads one reply frame through next(), which yields the next raw byte or
// -1 when none comes. Empty when the bytes ran out.
inline std::optional<ReplyFrame> ReadReply(const std::function<int()>& next, bool seq_mode) {
  auto unstuffed = [&]() -> int {
    int b = next();
    if (b == kEscapeByte) {
      b = next();
      if (b < 0) return -1;
      return Unescaped(static_cast<std::uint8_t>(b));
    }
    return b;
  };
  const int lo = unstuffed();
  const int hi = unstuffed();
  const int status = unstuffed();
  if (lo < 0 || hi < 0 || status < 0) return std::nullopt;
  ReplyFrame f;
  f.status = static_cast<std::uint8_t>(status);
  std::size_t length = static_cast<std::size_t>(lo | (hi << 8));
  std::uint8_t sum = static_cast<std::uint8_t>(lo + hi + status);
  if (length < 1) return std::nullopt;
  length -= 1;
  if (seq_mode) {
    if (length < 2) return std::nullopt;
    const int s0 = unstuffed();
    const int s1 = unstuffed();
    if (s0 < 0 || s1 < 0) return std::nullopt;
    f.seq = static_cast<std::uint16_t>(s0 | (s1 << 8));
    length -= 2;
  }
  for (std::size_t i = 0; i < length; ++i) {
    const int b = unstuffed();
    if (b < 0) return std::nullopt;
    sum = static_cast<std::uint8_t>(sum + b);
    f.data.push_back(static_cast<std::uint8_t>(b));
  }
  const int c = unstuffed();
  if (c < 0) return std::nullopt;
  f.checksum_ok = c == sum;
  return f;
}

// Payloads of the commands.
// Sized once and filled in place: growing a one-byte vector by insert makes
// GCC 12 at -O3 report a false -Warray-bounds in the inlined reallocation.
inline Bytes Y(const Bytes& message) {
  Bytes p(1 + message.size());
  p[0] = 'Y';
  std::copy(message.begin(), message.end(), p.begin() + 1);
  return p;
}
inline Bytes ReadMem(std::uint32_t address, std::uint16_t count) {
  Bytes p{'m'};
  PutU32(p, address);
  PutU16(p, count);
  return p;
}
inline Bytes WriteMem(std::uint32_t address, const Bytes& data) {
  Bytes p{'M'};
  PutU32(p, address);
  p.insert(p.end(), data.begin(), data.end());
  return p;
}
inline Bytes ReadMem64(std::uint64_t address, std::uint16_t count) {
  Bytes p{'6', '4', 'm'};
  PutU64(p, address);
  PutU16(p, count);
  return p;
}
inline Bytes WriteMem64(std::uint64_t address, const Bytes& data) {
  Bytes p{'6', '4', 'M'};
  PutU64(p, address);
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

// Fragment messages carried by "Y".
constexpr std::uint16_t kReplyFragment = 65000;
constexpr std::uint16_t kReplyFragmentAck = 65001;
constexpr std::uint16_t kRequestFragment = 65002;
constexpr std::uint16_t kFragmentAck = 65003;

inline Bytes RequestFragment(std::uint32_t transfer, std::uint32_t total, std::uint32_t offset,
                             const std::uint8_t* data, std::uint32_t n, bool last) {
  Bytes m;
  PutU16(m, kRequestFragment);
  m.resize(10, 0);
  PutU32(m, transfer);
  PutU32(m, total);
  PutU32(m, offset);
  PutU32(m, n);
  m.push_back(last ? 1 : 0);
  m.insert(m.end(), data, data + n);
  return m;
}
inline Bytes ReplyFragmentAck(std::uint32_t transfer, std::uint32_t received) {
  Bytes m;
  PutU16(m, kReplyFragmentAck);
  m.resize(10, 0);
  PutU32(m, transfer);
  PutU32(m, received);
  return m;
}

// Fields of a reply fragment.
struct ReplyFragmentView {
  std::uint32_t transfer = 0;
  std::uint32_t total = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  bool last = false;
  Bytes data;
};
inline std::optional<ReplyFragmentView> ParseReplyFragment(const Bytes& m) {
  if (m.size() < 29 || GetU16(m, 0) != kReplyFragment) return std::nullopt;
  ReplyFragmentView v;
  v.transfer = GetU32(m, 12);
  v.total = GetU32(m, 16);
  v.offset = GetU32(m, 20);
  v.length = GetU32(m, 24);
  v.last = m[28] != 0;
  v.data.assign(m.begin() + 29, m.end());
  return v;
}

}  // namespace qxsym::test::simwire
