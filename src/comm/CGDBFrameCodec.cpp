#include "CGDBFrameCodec.h"

#include <algorithm>
#include <cstring>

namespace qxsym {
namespace {

using gdb::kEscape;

constexpr std::uint8_t kHandshakeAck[] = {'!', 'N', 'A', '!'};
constexpr std::uint8_t kHandshakeSequence[] = {'!', 'S', '!'};

// Appends one byte, stuffed, to out[*n..capacity). False when it does not fit.
inline bool PutStuffed(std::uint8_t b, std::uint8_t* out, std::uint32_t capacity,
                       std::uint32_t* n) {
  if (gdb::NeedsStuffing(b)) {
    if (capacity - *n < 2) return false;
    out[(*n)++] = kEscape;
    out[(*n)++] = static_cast<std::uint8_t>(b | gdb::kEscapeBit);
  } else {
    if (capacity == *n) return false;
    out[(*n)++] = b;
  }
  return true;
}

inline bool PutStuffedRun(const std::uint8_t* p, std::uint32_t len, std::uint8_t* sum,
                          std::uint8_t* out, std::uint32_t capacity, std::uint32_t* n) {
  std::uint8_t s = *sum;
  for (std::uint32_t i = 0; i < len; ++i) {
    s = static_cast<std::uint8_t>(s + p[i]);
    if (!PutStuffed(p[i], out, capacity, n)) return false;
  }
  *sum = s;
  return true;
}

}  // namespace

std::uint32_t CGDBFrameCodec::EncodeRequest(bool sequenceMode, std::uint16_t sequence,
                                            const std::uint8_t* part1, std::uint16_t length1,
                                            const std::uint8_t* part2, std::uint16_t length2,
                                            std::uint8_t* out, std::uint32_t capacity) {
  const std::uint32_t length = std::uint32_t{length1} + length2 + (sequenceMode ? 2u : 0u);
  if (length > 0xFFFF || capacity == 0) return 0;
  std::uint32_t n = 0;
  out[n++] = gdb::kStart;  // the only byte never stuffed
  std::uint8_t sum = 0;
  const std::uint8_t header[4] = {
      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(sequence >> 8)};
  if (!PutStuffedRun(header, sequenceMode ? 4 : 2, &sum, out, capacity, &n)) return 0;
  if (!PutStuffedRun(part1, length1, &sum, out, capacity, &n)) return 0;
  if (!PutStuffedRun(part2, length2, &sum, out, capacity, &n)) return 0;
  if (!PutStuffed(sum, out, capacity, &n)) return 0;
  return n;
}

bool CGDBFrameCodec::SendFrame(const std::uint8_t* part1, std::uint16_t length1,
                               const std::uint8_t* part2, std::uint16_t length2) {
  if (port_ == nullptr || !port_->connected()) return false;
  if (std::uint32_t{length1} + length2 + 3 >= gdb::kFrameBufferSize) return false;
  // The stuffed form may be up to twice as long: refuse it before sending
  // anything when it would not fit the buffer or one flush of the port.
  const std::uint32_t limit = std::min(gdb::kFrameBufferSize, port_->TransmitLimit());
  frame_length_ = EncodeRequest(sequence_mode_, sequence_, part1, length1, part2, length2,
                                frame_buffer_, limit);
  if (frame_length_ == 0) return false;

  port_->Clear();
  for (int attempt = 0;; ++attempt) {
    if (!port_->Append(frame_buffer_, static_cast<std::int32_t>(frame_length_)) ||
        !port_->Flush()) {
      return false;
    }
    if (!ack_mode_) return true;
    std::uint8_t ack = 0;
    if (!port_->GetByte(timeout_ms_, &ack)) {
      last_error_ = port_->connected() ? gdb::kErrTimeout : gdb::kErrConnectionLost;
      return false;
    }
    if (ack == gdb::kAckGood) return true;
    if (ack == gdb::kAckBad && attempt == 0) continue;  // one repetition, same bytes
    last_error_ = gdb::kErrAck;
    return false;
  }
}

bool CGDBFrameCodec::ReceiveByte(std::uint8_t* byte) {
  std::uint8_t b = 0;
  if (!port_->GetByte(timeout_ms_, &b)) return false;
  if (b == kEscape) {
    if (!port_->GetByte(timeout_ms_, &b)) return false;
    b &= gdb::kUnescapeMask;
  }
  *byte = b;
  return true;
}

int CGDBFrameCodec::ReadFailed() {
  last_error_ = port_->connected() ? gdb::kErrTimeout : gdb::kErrConnectionLost;
  return -1;
}

bool CGDBFrameCodec::FeedFrame(GDBReplyDecoder* decoder, GDBReplyDecoder::Event* event) {
  // Every wait for more bytes is bounded by the time-out; the decoder takes
  // what arrived, up to the end of one frame, straight from the port's buffer.
  *event = GDBReplyDecoder::Event::kNeedMore;
  while (*event == GDBReplyDecoder::Event::kNeedMore) {
    const std::uint8_t* data = nullptr;
    std::uint32_t available = 0;
    if (!port_->Window(timeout_ms_, &data, &available)) return false;
    port_->Consume(static_cast<std::uint32_t>(decoder->Feed(data, available, event)));
  }
  return true;
}

void CGDBFrameCodec::Acknowledge(std::uint8_t ack) {
  if (!ack_mode_) return;
  port_->Append(&ack, 1);
  port_->Flush();
}

int CGDBFrameCodec::ReceiveFrame(void* buffer, std::uint16_t capacity) {
  if (port_ == nullptr || !port_->connected()) return -1;
  GDBReplyDecoder decoder(sequence_mode_, static_cast<std::uint8_t*>(buffer), capacity);
  const std::uint16_t expected = sequence_;
  int rejected = 0;
  int stale = 0;
  for (;; decoder.Next()) {
    GDBReplyDecoder::Event event{};
    if (!FeedFrame(&decoder, &event)) return ReadFailed();
    const GDBReplyFrame& frame = decoder.frame();
    reply_status_ = frame.status;
    if (event == GDBReplyDecoder::Event::kBadLength) {
      last_error_ = gdb::kErrTimeout;
      return -1;
    }
    // An error status whose data did not fit the buffer.
    if (frame.dropped() && reply_status_ != 0) reply_status_ = gdb::kStatusOverflow;
    if (!frame.checksum_ok) {
      Acknowledge(gdb::kAckBad);
      if (++rejected < 2) continue;  // read the repeated frame
      last_error_ = gdb::kErrAck;
      return -1;
    }
    Acknowledge(gdb::kAckGood);
    if (reply_status_ != 0) {
      last_error_ = gdb::StatusToError(reply_status_);
      return -1;
    }
    if (!sequence_mode_ || frame.sequence == expected) return static_cast<int>(frame.stored);
    // A late reply to an earlier request: skip it and read the next one.
    if (++stale > kMaxStaleReplies) {
      last_error_ = gdb::kErrTimeout;
      return -1;
    }
  }
}

void CGDBFrameCodec::Negotiate() {
  std::uint8_t reply = 0;
  if (ack_mode_) {
    if (SendFrame(kHandshakeAck, sizeof(kHandshakeAck), nullptr, 0) &&
        ReceiveFrame(&reply, 1) >= 1) {
      ack_mode_ = reply == 0;
    } else {
      // Perhaps a peer without acknowledgements: ask again without them.
      ack_mode_ = false;
      if (!(SendFrame(kHandshakeAck, sizeof(kHandshakeAck), nullptr, 0) &&
            ReceiveFrame(&reply, 1) >= 1)) {
        ack_mode_ = true;
      }
    }
  }
  if (!sequence_mode_) {
    if (SendFrame(kHandshakeSequence, sizeof(kHandshakeSequence), nullptr, 0) &&
        ReceiveFrame(&reply, 1) >= 1) {
      sequence_mode_ = reply == 0;
    } else {
      // Perhaps a peer that insists on sequence numbers: ask again with them.
      sequence_mode_ = true;
      if (!(SendFrame(kHandshakeSequence, sizeof(kHandshakeSequence), nullptr, 0) &&
            ReceiveFrame(&reply, 1) >= 1)) {
        sequence_mode_ = false;
      }
    }
  }
}

}  // namespace qxsym
