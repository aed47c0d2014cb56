// Test-side encoder and decoder of the controller protocol's frames, written
// independently of the library's codec so that each checks the other, and
// GdbPeer, which plays the controller's half of the protocol on a
// FakeConnection (acknowledgements, sequence numbers, handshakes).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "FakeController.h"
#include "FrameStuffing.h"

namespace qxsym {
namespace test {

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Le16(std::uint16_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}
inline Bytes Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}
inline Bytes Le64(std::uint64_t v) {
  return Cat({Le32(static_cast<std::uint32_t>(v)), Le32(static_cast<std::uint32_t>(v >> 32))});
}
inline std::uint16_t GetLe16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t GetLe32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(GetLe16(b, at)) |
         (static_cast<std::uint32_t>(GetLe16(b, at + 2)) << 16);
}

// A request frame as the client must send it.
inline Bytes RequestFrame(const Bytes& payload, std::optional<std::uint16_t> sequence = {}) {
  Bytes unstuffed;
  const std::size_t length = payload.size() + (sequence ? 2 : 0);
  unstuffed.push_back(static_cast<std::uint8_t>(length));
  unstuffed.push_back(static_cast<std::uint8_t>(length >> 8));
  if (sequence) {
    unstuffed.push_back(static_cast<std::uint8_t>(*sequence));
    unstuffed.push_back(static_cast<std::uint8_t>(*sequence >> 8));
  }
  unstuffed.insert(unstuffed.end(), payload.begin(), payload.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : unstuffed) sum = static_cast<std::uint8_t>(sum + b);
  Bytes out{kStartByte};
  for (std::uint8_t b : unstuffed) AppendStuffed(out, b);
  AppendStuffed(out, sum);
  return out;
}

// A reply frame as the controller sends it. length_adjust changes the length
// field only (for malformed frames); bad_checksum spoils the checksum.
inline Bytes ReplyFrame(std::uint8_t status, const Bytes& data,
                        std::optional<std::uint16_t> sequence = {}, bool bad_checksum = false,
                        int length_adjust = 0) {
  const int length = 1 + (sequence ? 2 : 0) + static_cast<int>(data.size()) + length_adjust;
  const auto lo = static_cast<std::uint8_t>(length);
  const auto hi = static_cast<std::uint8_t>(length >> 8);
  std::uint8_t sum = static_cast<std::uint8_t>(lo + hi + status);
  for (std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  if (bad_checksum) sum = static_cast<std::uint8_t>(sum + 1);
  Bytes out;
  AppendStuffed(out, lo);
  AppendStuffed(out, hi);
  AppendStuffed(out, status);
  if (sequence) {
    AppendStuffed(out, static_cast<std::uint8_t>(*sequence));
    AppendStuffed(out, static_cast<std::uint8_t>(*sequence >> 8));
  }
  for (std::uint8_t b : data) AppendStuffed(out, b);
  AppendStuffed(out, sum);
  return out;
}

struct Request {
  Bytes payload;
  std::uint16_t sequence = 0;
  bool checksum_ok = false;
  Bytes before;  // bytes seen before the start byte (the client's acknowledgements)
};

// Reads one request frame (skipping the client's acknowledgement bytes
// before its start byte).
inline bool ReadRequestFrame(FakeConnection& c, bool sequence_mode, Request* out,
                             int timeout_ms = FakeConnection::kDefaultWaitMs) {
  *out = Request{};
  std::uint8_t b = 0;
  for (;;) {
    if (!c.ReadByte(&b, timeout_ms)) return false;
    if (b == kStartByte) break;
    out->before.push_back(b);
  }
  auto next = [&](std::uint8_t* v) {
    if (!c.ReadByte(v, timeout_ms)) return false;
    if (*v == kEscapeByte) {
      if (!c.ReadByte(v, timeout_ms)) return false;
      *v = Unescaped(*v);
    }
    return true;
  };
  std::uint8_t lo = 0, hi = 0;
  if (!next(&lo) || !next(&hi)) return false;
  std::uint8_t sum = static_cast<std::uint8_t>(lo + hi);
  std::size_t length = static_cast<std::size_t>(lo | (hi << 8));
  if (sequence_mode) {
    std::uint8_t s0 = 0, s1 = 0;
    if (length < 2 || !next(&s0) || !next(&s1)) return false;
    sum = static_cast<std::uint8_t>(sum + s0 + s1);
    out->sequence = static_cast<std::uint16_t>(s0 | (s1 << 8));
    length -= 2;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (!next(&b)) return false;
    sum = static_cast<std::uint8_t>(sum + b);
    out->payload.push_back(b);
  }
  std::uint8_t checksum = 0;
  if (!next(&checksum)) return false;
  out->checksum_ok = checksum == sum;
  return true;
}

// The controller's half of the protocol on one connection.
class GdbPeer {
 public:
  GdbPeer(FakeConnection& c, bool ack_mode = true, bool sequence_mode = true)
      : c_(c), ack_(ack_mode), seq_(sequence_mode) {}

  // Answers "!NA!" and "!S!" so that the client ends in this peer's modes
  // (the peer must have been built with both modes it wants).
  bool Handshake() {
    Request r;
    // "!NA!" arrives without sequence number; the client expects "+" first.
    if (!ReadRequestFrame(c_, false, &r) || r.payload != Text("!NA!")) return false;
    if (!c_.Write(Cat({Bytes{'+'}, ReplyFrame(0, {static_cast<std::uint8_t>(ack_ ? 0 : 1)})})))
      return false;
    if (!ReadRequestFrame(c_, false, &r) || r.payload != Text("!S!")) return false;
    Bytes reply = ack_ ? Bytes{'+'} : Bytes{};
    return c_.Write(Cat({reply, ReplyFrame(0, {static_cast<std::uint8_t>(seq_ ? 0 : 1)})}));
  }

  // Reads one request and acknowledges it with "+" (in acknowledgement mode).
  bool Read(Request* r) {
    if (!ReadRequestFrame(c_, seq_, r)) return false;
    last_sequence_ = r->sequence;
    return !ack_ || c_.Write(Bytes{'+'});
  }
  // Sends a reply frame echoing the last request's sequence number.
  bool Reply(const Bytes& data, std::uint8_t status = 0) {
    return c_.Write(ReplyFrame(status, data, Sequence()));
  }
  std::optional<std::uint16_t> Sequence() const {
    return seq_ ? std::optional<std::uint16_t>(last_sequence_) : std::nullopt;
  }
  FakeConnection& connection() { return c_; }

 private:
  FakeConnection& c_;
  bool ack_;
  bool seq_;
  std::uint16_t last_sequence_ = 0;
};

}  // namespace test
}  // namespace qxsym
