// Decoder of reply frames as the client receives them: stuffed length (u16),
// status, the sequence number when that mode is on, data and an 8-bit
// additive checksum over length, status and data.
//
// The decoder knows no port and no clock: the channel feeds it whatever bytes
// have arrived and takes out complete frames. It never allocates: data goes
// into the buffer given at construction, whose size is the most data bytes
// kept of one frame; further data bytes are still checked, then dropped.
// Acknowledgements, repetitions, stale sequence numbers and time-outs are the
// channel's business.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxsym {

// One complete reply frame.
struct GDBReplyFrame {
  std::uint8_t status = 0;
  std::uint16_t sequence = 0;  // 0 without sequence numbers
  const std::uint8_t* data = nullptr;
  std::uint32_t stored = 0;  // data bytes kept in the decoder's buffer
  std::uint32_t length = 0;  // data bytes the frame carried
  bool checksum_ok = false;

  bool dropped() const { return length > stored; }
};

class GDBReplyDecoder {
 public:
  enum class Event {
    kNeedMore,   // every byte fed was taken; the frame is not complete yet
    kFrame,      // a frame is complete: frame() describes it
    kBadLength,  // the length cannot hold the sequence number; nothing more is read
  };

  // sequence_mode: frames carry the 16-bit sequence number after the status.
  // out, capacity: where the first `capacity` data bytes of each frame go.
  GDBReplyDecoder(bool sequence_mode, std::uint8_t* out, std::uint32_t capacity)
      : sequence_mode_(sequence_mode), out_(out), capacity_(capacity) {}

  // Takes bytes from data[0..n) up to the end of one frame (or the point
  // where its length proved bad) and sets *event. Returns how many it took;
  // the rest belong to whatever follows. After kFrame or kBadLength, Next()
  // starts the next frame.
  std::size_t Feed(const std::uint8_t* data, std::size_t n, Event* event);

  // Forgets the finished frame and waits for the next one, into the same
  // buffer.
  void Next();

  const GDBReplyFrame& frame() const { return frame_; }
  // True while a frame has been started and not finished.
  bool in_frame() const { return state_ != State::kLengthLow || escape_; }

 private:
  enum class State {
    kLengthLow,
    kLengthHigh,
    kStatus,
    kSequenceLow,
    kSequenceHigh,
    kData,
    kChecksum,
    kDone
  };

  // One unstuffed header or checksum byte. Returns the event it ends with.
  Event Take(std::uint8_t value);
  // Unstuffed data bytes straight from data[0..n); returns how many it took.
  std::size_t TakeData(const std::uint8_t* data, std::size_t n);
  void Keep(std::uint8_t value);
  void AfterHeader();

  const bool sequence_mode_;
  std::uint8_t* const out_;
  const std::uint32_t capacity_;

  State state_ = State::kLengthLow;
  bool escape_ = false;
  std::uint16_t length_ = 0;
  std::uint32_t remaining_ = 0;  // data bytes still to come
  std::uint8_t sum_ = 0;
  Event done_ = Event::kNeedMore;  // how the frame ended, once state_ is kDone
  GDBReplyFrame frame_;
};

}  // namespace qxsym
