// Incremental decoder of request frames as a controller receives them:
// start byte 0x10, then stuffed length (u16), body (optional sequence number
// and payload) and an 8-bit additive checksum over length and body.
//
// The decoder knows no sockets: bytes are pushed one at a time and it says
// what each byte meant. A raw start byte always begins a new frame, even in
// the middle of one, so a client that gave up on a frame resynchronises at
// once. Memory is bounded by the 16-bit length field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GDBProtocol.h"

namespace qxsym::sim {

// The control bytes under the names the server uses.
constexpr std::uint8_t kFrameStart = gdb::kStart;
constexpr std::uint8_t kStuffEscape = gdb::kEscape;
constexpr std::uint8_t kAckByte = gdb::kAckGood;
constexpr std::uint8_t kNakByte = gdb::kAckBad;
using gdb::NeedsStuffing;

class RequestFrameDecoder {
 public:
  enum class Event {
    kInFrame,       // the byte belongs to a frame still being read
    kOutside,       // a byte between frames (an acknowledgement, or noise)
    kFrame,         // a frame is complete: body() and checksum_ok() describe it
    kFrameAborted,  // a start byte cut the frame being read short; a new one begins
  };

  Event Push(std::uint8_t byte);

  // Inside a frame body, takes the leading bytes of data[0..n) that travel
  // unstuffed (no control byte among them), up to the end of the body, in
  // one go. Returns how many it took; 0 when not inside a body or when
  // data[0] must go through Push. Same result as pushing them one by one.
  std::size_t TakeBodyRun(const std::uint8_t* data, std::size_t n);

  // The unstuffed bytes between length and checksum of the last complete
  // frame. Valid until the next Push.
  const std::uint8_t* body() const { return body_.data(); }
  std::size_t body_size() const { return body_.size(); }
  bool checksum_ok() const { return checksum_ok_; }
  // True while a frame has been started and not finished.
  bool in_frame() const { return state_ != State::kIdle; }

 private:
  enum class State { kIdle, kLengthLow, kLengthHigh, kBody, kChecksum };

  void Begin();
  Event Take(std::uint8_t value);

  State state_ = State::kIdle;
  bool escape_ = false;
  std::uint16_t length_ = 0;
  std::uint8_t sum_ = 0;
  bool checksum_ok_ = false;
  std::vector<std::uint8_t> body_;
};

}  // namespace qxsym::sim
