#include "FrameDecoder.h"

namespace qxsym::sim {

void RequestFrameDecoder::Begin() {
  state_ = State::kLengthLow;
  escape_ = false;
  length_ = 0;
  sum_ = 0;
  checksum_ok_ = false;
  body_.clear();
}

RequestFrameDecoder::Event RequestFrameDecoder::Push(std::uint8_t byte) {
  if (byte == kFrameStart) {
    const bool aborted = state_ != State::kIdle;
    Begin();
    return aborted ? Event::kFrameAborted : Event::kInFrame;
  }
  if (state_ == State::kIdle) return Event::kOutside;
  if (escape_) {
    escape_ = false;
    return Take(static_cast<std::uint8_t>(byte & gdb::kUnescapeMask));
  }
  if (byte == kStuffEscape) {
    escape_ = true;
    return Event::kInFrame;
  }
  // Raw flow-control bytes are never part of a frame; a sender stuffs them.
  if (byte == gdb::kXon || byte == gdb::kXoff) return Event::kInFrame;
  return Take(byte);
}

std::size_t RequestFrameDecoder::TakeBodyRun(const std::uint8_t* data, std::size_t n) {
  if (state_ != State::kBody || escape_) return 0;
  const std::size_t room = length_ - body_.size();
  const std::size_t limit = n < room ? n : room;
  std::size_t k = 0;
  auto sum = sum_;
  while (k < limit && !NeedsStuffing(data[k])) {
    sum = static_cast<std::uint8_t>(sum + data[k]);
    ++k;
  }
  if (k == 0) return 0;
  body_.insert(body_.end(), data, data + k);
  sum_ = sum;
  if (body_.size() == length_) state_ = State::kChecksum;
  return k;
}

RequestFrameDecoder::Event RequestFrameDecoder::Take(std::uint8_t value) {
  switch (state_) {
    case State::kLengthLow:
      length_ = value;
      sum_ = value;
      state_ = State::kLengthHigh;
      return Event::kInFrame;
    case State::kLengthHigh:
      length_ = static_cast<std::uint16_t>(length_ | (value << 8));
      sum_ = static_cast<std::uint8_t>(sum_ + value);
      state_ = length_ == 0 ? State::kChecksum : State::kBody;
      return Event::kInFrame;
    case State::kBody:
      body_.push_back(value);
      sum_ = static_cast<std::uint8_t>(sum_ + value);
      if (body_.size() == length_) state_ = State::kChecksum;
      return Event::kInFrame;
    case State::kChecksum:
      checksum_ok_ = value == sum_;
      state_ = State::kIdle;
      return Event::kFrame;
    case State::kIdle:
      break;
  }
  return Event::kOutside;
}

}  // namespace qxsym::sim
