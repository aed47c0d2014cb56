#include "GDBReplyDecoder.h"

#include <algorithm>
#include <cstring>

#include "GDBProtocol.h"

namespace qxsym {

void GDBReplyDecoder::Next() {
  state_ = State::kLengthLow;
  escape_ = false;
  length_ = 0;
  remaining_ = 0;
  sum_ = 0;
  done_ = Event::kNeedMore;
  frame_ = GDBReplyFrame{};
}

std::size_t GDBReplyDecoder::Feed(const std::uint8_t* data, std::size_t n, Event* event) {
  *event = Event::kNeedMore;
  std::size_t i = 0;
  while (i < n && state_ != State::kDone) {
    if (state_ == State::kData && !escape_ && data[i] != gdb::kEscape) {
      i += TakeData(data + i, n - i);
      continue;
    }
    // The client takes every other byte as it comes, start and flow-control
    // bytes included; only the escape pairs are undone.
    std::uint8_t b = data[i++];
    if (escape_) {
      escape_ = false;
      b &= gdb::kUnescapeMask;
    } else if (b == gdb::kEscape) {
      escape_ = true;
      continue;
    }
    if (state_ == State::kData) {
      Keep(b);
      continue;
    }
    done_ = Take(b);
  }
  // A finished frame takes nothing more and reports again how it ended.
  if (state_ == State::kDone) *event = done_;
  return i;
}

GDBReplyDecoder::Event GDBReplyDecoder::Take(std::uint8_t value) {
  switch (state_) {
    case State::kLengthLow:
      length_ = value;
      sum_ = value;
      state_ = State::kLengthHigh;
      break;
    case State::kLengthHigh:
      length_ = static_cast<std::uint16_t>(length_ | (value << 8));
      sum_ = static_cast<std::uint8_t>(sum_ + value);
      state_ = State::kStatus;
      break;
    case State::kStatus: {
      frame_.status = value;
      sum_ = static_cast<std::uint8_t>(sum_ + value);
      // Data length in 16-bit arithmetic, as the length field is.
      const auto data_length = static_cast<std::uint16_t>(length_ - 1);
      if (!sequence_mode_) {
        remaining_ = data_length;
        AfterHeader();
      } else if (data_length < 2) {
        state_ = State::kDone;
        return Event::kBadLength;
      } else {
        remaining_ = data_length - 2u;
        state_ = State::kSequenceLow;
      }
      break;
    }
    // The checksum does not cover the sequence number.
    case State::kSequenceLow:
      frame_.sequence = value;
      state_ = State::kSequenceHigh;
      break;
    case State::kSequenceHigh:
      frame_.sequence = static_cast<std::uint16_t>(frame_.sequence | (value << 8));
      AfterHeader();
      break;
    case State::kChecksum:
      frame_.checksum_ok = value == sum_;
      frame_.data = out_;
      state_ = State::kDone;
      return Event::kFrame;
    case State::kData:
    case State::kDone:
      break;
  }
  return Event::kNeedMore;
}

void GDBReplyDecoder::AfterHeader() {
  frame_.length = remaining_;
  state_ = remaining_ != 0 ? State::kData : State::kChecksum;
}

void GDBReplyDecoder::Keep(std::uint8_t value) {
  sum_ = static_cast<std::uint8_t>(sum_ + value);
  if (frame_.stored < capacity_) out_[frame_.stored++] = value;
  if (--remaining_ == 0) state_ = State::kChecksum;
}

std::size_t GDBReplyDecoder::TakeData(const std::uint8_t* data, std::size_t n) {
  // A run without an escape byte is summed and copied in one go, so large
  // replies cost a search and a copy, not a state step per byte.
  const std::size_t span = std::min<std::size_t>(n, remaining_);
  const auto* esc = static_cast<const std::uint8_t*>(std::memchr(data, gdb::kEscape, span));
  const std::size_t run = esc != nullptr ? static_cast<std::size_t>(esc - data) : span;
  std::uint32_t run_sum = 0;
  for (std::size_t i = 0; i < run; ++i) run_sum += data[i];
  sum_ = static_cast<std::uint8_t>(sum_ + run_sum);
  const std::size_t copy = std::min<std::size_t>(run, capacity_ - frame_.stored);
  if (copy != 0) std::memcpy(out_ + frame_.stored, data, copy);
  frame_.stored += static_cast<std::uint32_t>(copy);
  remaining_ -= static_cast<std::uint32_t>(run);
  if (remaining_ == 0) state_ = State::kChecksum;
  return run;
}

}  // namespace qxsym
