// Frame codec of the controller protocol: request frames with byte stuffing
// and an additive checksum, reply frames taken apart by a GDBReplyDecoder fed
// from the port's buffer, optional one-byte acknowledgements and 16-bit sequence
// numbers, and the handshake that switches those two modes on or off.
//
// The codec owns no port and takes no lock: the channel points it at the
// port of the exchange that holds the port's lock.
#pragma once

#include <cstdint>

#include "CComPort.h"
#include "GDBProtocol.h"
#include "GDBReplyDecoder.h"

namespace qxsym {

class CGDBFrameCodec {
 public:
  CGDBFrameCodec() = default;
  CGDBFrameCodec(const CGDBFrameCodec&) = delete;
  CGDBFrameCodec& operator=(const CGDBFrameCodec&) = delete;

  void set_port(CComPort* port) { port_ = port; }
  CComPort* port() const { return port_; }

  // Encodes part1 followed by part2 as one request frame and sends it. With
  // acknowledgements on, waits for "+", repeating the identical frame once
  // after a "-". False when the port is not connected or the stuffed frame
  // would not fit the frame buffer or the port (nothing sent, last_error()
  // unchanged), or when the acknowledgement failed (last_error() 14, 15 or 19).
  bool SendFrame(const std::uint8_t* part1, std::uint16_t length1, const std::uint8_t* part2,
                 std::uint16_t length2);
  // Receives one reply frame and stores its first `capacity` data bytes in
  // buffer. Returns the number stored, or -1 with last_error() set (not set
  // when the port is not connected). Replies carrying an old sequence number
  // are acknowledged and skipped; a bad checksum is answered with "-" and the
  // repetition read once.
  int ReceiveFrame(void* buffer, std::uint16_t capacity);
  // Reads one byte and undoes the stuffing.
  bool ReceiveByte(std::uint8_t* byte);

  // Runs the acknowledgement and then the sequence-number handshake. Never
  // fails: the modes simply end up on or off.
  void Negotiate();

  std::uint16_t NextSequence() { return ++sequence_; }
  std::uint16_t sequence() const { return sequence_; }
  bool sequence_mode() const { return sequence_mode_; }
  bool ack_mode() const { return ack_mode_; }
  void set_sequence_mode(bool on) { sequence_mode_ = on; }
  void set_ack_mode(bool on) { ack_mode_ = on; }
  std::uint16_t last_error() const { return last_error_; }
  std::uint8_t reply_status() const { return reply_status_; }
  std::uint16_t timeout_ms() const { return timeout_ms_; }
  void set_timeout_ms(std::uint16_t ms) { timeout_ms_ = ms; }

  // Encodes a request frame into out (capacity bytes). Returns the encoded
  // length, or 0 when it does not fit.
  static std::uint32_t EncodeRequest(bool sequenceMode, std::uint16_t sequence,
                                     const std::uint8_t* part1, std::uint16_t length1,
                                     const std::uint8_t* part2, std::uint16_t length2,
                                     std::uint8_t* out, std::uint32_t capacity);

  // Most replies with an old sequence number skipped while waiting for one
  // reply; a peer that keeps sending them gets a time-out instead of an
  // endless loop.
  static constexpr int kMaxStaleReplies = 64;

 private:
  int ReadFailed();
  // Feeds the decoder from the port until one frame is complete or its
  // length proved bad. False when a wait for bytes failed.
  bool FeedFrame(GDBReplyDecoder* decoder, GDBReplyDecoder::Event* event);
  // Sends a one-byte acknowledgement when acknowledgements are on.
  void Acknowledge(std::uint8_t ack);

  CComPort* port_ = nullptr;
  std::uint16_t sequence_ = 0;
  bool sequence_mode_ = false;
  bool ack_mode_ = true;
  std::uint16_t last_error_ = 0;
  std::uint8_t reply_status_ = 0;
  std::uint16_t timeout_ms_ = gdb::kDefaultTimeoutMs;
  std::uint32_t frame_length_ = 0;
  std::uint8_t frame_buffer_[gdb::kFrameBufferSize];
};

}  // namespace qxsym
