// Pieces shared by the controller-side fuzz targets: a reader of the
// request frames the library flushes to an in-memory port, and the
// handshake answers that put the library into a chosen pair of
// acknowledgement and sequence modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GdbTestWire.h"

namespace qxsym {
namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

struct SeenRequest {
  bool valid = false;
  std::uint16_t sequence = 0;
  Bytes payload;  // after the sequence number, before the checksum
};

// Undoes the stuffing of one flushed request frame. Blocks that do not start
// with the start byte (the library's own acknowledgements) give valid false.
inline SeenRequest ReadRequest(const std::uint8_t* data, std::size_t size, bool sequence_mode) {
  SeenRequest out;
  if (size == 0 || data[0] != test::kStartByte) return out;
  const Bytes plain = test::Unstuff(data + 1, size - 1);
  if (plain.size() < 3) return out;
  std::size_t at = 2;
  std::size_t length = static_cast<std::size_t>(plain[0] | (plain[1] << 8));
  if (sequence_mode) {
    if (plain.size() < 5 || length < 2) return out;
    out.sequence = static_cast<std::uint16_t>(plain[2] | (plain[3] << 8));
    at = 4;
    length -= 2;
  }
  if (at + length + 1 > plain.size()) return out;
  out.payload.assign(plain.begin() + static_cast<std::ptrdiff_t>(at),
                     plain.begin() + static_cast<std::ptrdiff_t>(at + length));
  out.valid = true;
  return out;
}

inline bool IsHandshake(const SeenRequest& r) {
  return r.payload == test::Text("!NA!") || r.payload == test::Text("!S!");
}

// The answer to handshake frame `step` (0: "!NA!", 1: "!S!") that leaves
// the library with acknowledgements `ack` and sequence numbers `seq`.
inline Bytes HandshakeAnswer(int step, bool ack, bool seq) {
  if (step == 0) {
    return test::Cat({Bytes{'+'}, test::ReplyFrame(0, {static_cast<std::uint8_t>(ack ? 0 : 1)})});
  }
  return test::Cat(
      {ack ? Bytes{'+'} : Bytes{}, test::ReplyFrame(0, {static_cast<std::uint8_t>(seq ? 0 : 1)})});
}

}  // namespace fuzz
}  // namespace qxsym
