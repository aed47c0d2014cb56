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

bool CGDBFrameCodec::ReadData(std::uint8_t* out, std::uint32_t capacity, std::uint32_t length,
                              std::uint8_t* sum, std::uint32_t* stored, bool* dropped) {
  std::uint8_t s = *sum;
  std::uint32_t kept = 0;
  bool escape = false;
  // Runs without an escape byte are summed and copied in one go, straight
  // from the port's buffer; stuffed pairs are taken one at a time, without
  // a search, so data made mostly of control bytes stays fast too.
  while (length != 0) {
    const std::uint8_t* data = nullptr;
    std::uint32_t available = 0;
    if (!port_->Window(timeout_ms_, &data, &available)) {
      *sum = s;
      *stored = kept;
      return false;
    }
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + available;
    while (p != end && length != 0) {
      if (escape || *p == kEscape) {
        if (!escape) {
          ++p;  // the escape byte itself
          if (p == end) {
            escape = true;  // its pair continues in the next block
            break;
          }
        }
        const auto b = static_cast<std::uint8_t>(*p++ & gdb::kUnescapeMask);
        escape = false;
        s = static_cast<std::uint8_t>(s + b);
        if (kept < capacity) {
          out[kept++] = b;
        } else {
          *dropped = true;
        }
        --length;
        continue;
      }
      const std::uint32_t span = std::min(static_cast<std::uint32_t>(end - p), length);
      const auto* esc = static_cast<const std::uint8_t*>(std::memchr(p, kEscape, span));
      const std::uint32_t run = esc != nullptr ? static_cast<std::uint32_t>(esc - p) : span;
      std::uint32_t run_sum = 0;
      for (std::uint32_t i = 0; i < run; ++i) run_sum += p[i];
      s = static_cast<std::uint8_t>(s + run_sum);
      const std::uint32_t room = capacity - kept;
      const std::uint32_t copy = std::min(run, room);
      if (copy != 0) std::memcpy(out + kept, p, copy);
      kept += copy;
      if (run > copy) *dropped = true;
      p += run;
      length -= run;
      if (esc != nullptr) {
        ++p;  // the escape byte itself; the next byte is the stuffed value
        escape = true;
      }
    }
    port_->Consume(static_cast<std::uint32_t>(p - data));
  }
  *sum = s;
  *stored = kept;
  return true;
}

int CGDBFrameCodec::ReceiveFrame(void* buffer, std::uint16_t capacity) {
  if (port_ == nullptr || !port_->connected()) return -1;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint16_t expected = sequence_;
  int rejected = 0;
  int stale = 0;
  for (;;) {
    std::uint8_t lo = 0, hi = 0, status = 0;
    if (!ReceiveByte(&lo) || !ReceiveByte(&hi) || !ReceiveByte(&status)) return ReadFailed();
    reply_status_ = status;
    // Data length in 16-bit arithmetic, as the length field is.
    auto length = static_cast<std::uint16_t>((lo | (hi << 8)) - 1);
    std::uint16_t received_sequence = 0;
    if (sequence_mode_) {
      if (length < 2) {
        last_error_ = gdb::kErrTimeout;
        return -1;
      }
      length = static_cast<std::uint16_t>(length - 2);
      std::uint8_t s0 = 0, s1 = 0;
      if (!ReceiveByte(&s0) || !ReceiveByte(&s1)) return ReadFailed();
      received_sequence = static_cast<std::uint16_t>(s0 | (s1 << 8));
    }
    // The checksum covers length, status and data, not the sequence number.
    auto sum = static_cast<std::uint8_t>(lo + hi + status);
    std::uint32_t stored = 0;
    bool dropped = false;
    if (!ReadData(out, capacity, length, &sum, &stored, &dropped)) return ReadFailed();
    if (dropped && reply_status_ != 0) reply_status_ = gdb::kStatusOverflow;
    std::uint8_t checksum = 0;
    if (!ReceiveByte(&checksum)) return ReadFailed();

    if (checksum == sum) {
      if (ack_mode_) {
        port_->Append(&gdb::kAckGood, 1);
        port_->Flush();
      }
      if (reply_status_ != 0) {
        last_error_ = gdb::StatusToError(reply_status_);
        return -1;
      }
      if (!sequence_mode_ || received_sequence == expected) return static_cast<int>(stored);
      // A late reply to an earlier request: skip it and read the next one.
      if (++stale > kMaxStaleReplies) {
        last_error_ = gdb::kErrTimeout;
        return -1;
      }
      continue;
    }
    if (ack_mode_) {
      port_->Append(&gdb::kAckBad, 1);
      port_->Flush();
    }
    if (++rejected < 2) continue;  // read the repeated frame
    last_error_ = gdb::kErrAck;
    return -1;
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
