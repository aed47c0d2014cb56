// The controller's side of one connection: decodes request frames,
// acknowledges them, answers the mode handshakes, runs the memory, variable
// and symbol-service commands against a backend, reassembles fragmented
// requests and sends long replies in fragments, and injects the faults it
// was asked for. It knows no sockets: received bytes go in through
// Receive, output and waits go out through a SessionIo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "ControllerBackend.h"
#include "FragmentMessages.h"
#include "FrameDecoder.h"

namespace qxsym::sim {

struct SessionOptions {
  bool ack = true;       // send and expect one-byte acknowledgements
  bool sequence = true;  // accept sequence numbers when a client asks for them
  // Largest symbol-service reply sent in one frame; longer replies go in
  // fragments of at most this many message bytes (header included).
  std::uint32_t reply_fragment_size = 1024;
  // Largest request accepted in fragments (the announced total).
  std::uint32_t max_request = 1u << 20;

  // Fault injection; 0 disables each. Handshake frames are neither counted
  // nor faulted.
  std::uint32_t bad_checksum_every = 0;  // every Nth reply frame sent goes out with a bad checksum
  std::uint32_t nak_every = 0;           // every Nth command frame received is answered with "-"
  std::uint32_t stale_every = 0;  // before every Nth reply, a reply with an old sequence number
  std::uint32_t delay_ms = 0;     // wait before every command reply
  std::uint32_t close_after = 0;  // close when the Nth command frame arrives, unanswered
  bool short_reply = false;       // value replies carry one byte less than the value

  // Protection against garbage: the connection is closed after this many
  // bytes outside frames, or this many broken frames in a row, without a
  // sound frame in between.
  std::uint32_t max_noise = 64 * 1024;
  std::uint32_t max_bad_frames = 16;
};

// Smallest useful reply fragment: the 29-byte header and one data byte.
constexpr std::uint32_t kMinReplyFragmentSize = gdb::kReplyFragmentHeader + 1;

class SessionIo {
 public:
  virtual ~SessionIo() = default;
  // Queues bytes for the peer; the connection sends them in one go when the
  // received bytes are processed, or before a delay.
  virtual void Write(const std::uint8_t* data, std::size_t n) = 0;
  // Sends what is queued, then waits (cut short when the server stops).
  virtual void Delay(std::uint32_t ms) = 0;
  // One line of the verbose trace.
  virtual void Log(const std::string& line) = 0;
  // True once the peer can no longer be written to; the session then stops
  // working on what is left of the received bytes.
  virtual bool broken() const { return false; }
};

class Session {
 public:
  Session(const SessionOptions& options, ControllerBackend& backend, SessionIo& io,
          bool verbose = false);

  // Processes received bytes. Stops early once the session is closed or
  // its output is broken.
  void Receive(const std::uint8_t* data, std::size_t n);

  // Set when the connection must be dropped (fault injection, garbage).
  bool closed() const { return closed_; }
  const std::string& close_reason() const { return close_reason_; }

  bool ack_mode() const { return options_.ack; }
  bool sequence_mode() const { return sequence_mode_; }
  // Sound frames received so far, handshakes included.
  std::uint64_t good_frames() const { return good_frames_; }
  // Command frames received so far (repetitions included, handshakes not);
  // the connection's idle clock restarts on each, so a client that only
  // repeats handshakes still goes idle.
  std::uint64_t command_frames() const { return command_frames_; }

 private:
  enum class Handshake { kNone, kNoAck, kSequence };
  struct Reply {
    std::uint8_t status = kStatusOk;
    std::optional<std::uint16_t> sequence;
    std::vector<std::uint8_t> data;
    bool faultable = true;  // counted by the checksum fault; handshakes are not
    std::string note;       // verbose trace
  };

  // A sound frame's body as the session reads it.
  struct Frame {
    const std::uint8_t* payload = nullptr;  // after the sequence number, if any
    std::size_t size = 0;
    std::optional<std::uint16_t> sequence;
    bool short_for_sequence = false;  // too short to carry the sequence number
    Handshake handshake = Handshake::kNone;
  };

  void OnFrameStart();
  void OnFrame();
  Frame ReadFrame() const;
  // Injected faults that take a command frame instead of answering it.
  bool CommandFaultTakes();
  void AnswerCommand(const Frame& frame);
  void OnBadFrame(const char* why);
  void OnOutsideByte(std::uint8_t b);
  void OnAck(bool good);
  void Close(std::string reason);

  void HandleHandshake(Handshake hs, std::optional<std::uint16_t> sequence);
  // Runs one command; fills status and data of the reply
  // (SessionCommands.cpp). Each handler gets the whole command payload.
  void Dispatch(const std::uint8_t* p, std::size_t n, Reply& reply);
  void HandleMemory(const std::uint8_t* p, std::size_t n, Reply& reply);
  void HandleMemory64(const std::uint8_t* p, std::size_t n, Reply& reply);
  void HandleMemoryRead(std::uint64_t address, std::uint16_t count, Reply& reply);
  void HandleReadVariable(const std::uint8_t* p, std::size_t n, Reply& reply);
  void HandleWriteVariable(const std::uint8_t* p, std::size_t n, Reply& reply);
  // Symbol-service messages and their fragments (SessionMessages.cpp).
  void HandleMessage(const std::uint8_t* m, std::size_t n, Reply& reply);
  void HandleRequestFragment(const std::uint8_t* m, std::size_t n, Reply& reply);
  // Adds a fragment of the transfer under way; true once the request is
  // whole. Otherwise the reply asks for the next offset, or the transfer was
  // dropped for a fragment that does not fit it.
  bool AddRequestFragment(const gdb::Fragment& f, Reply& reply);
  void HandleReplyFragmentAck(const std::uint8_t* m, std::size_t n, Reply& reply);
  void RunService(const std::uint8_t* m, std::size_t n, Reply& reply);
  // The short-reply fault: drops a value's last byte and counts it out.
  static void ShortenValue(std::vector<std::uint8_t>& message);
  void BuildReplyFragment(std::uint32_t offset, Reply& reply);
  void BuildFragmentAck(std::uint32_t transfer, std::uint32_t next_offset, Reply& reply);

  void Queue(Reply reply);
  void Pump();
  void Transmit(const Reply& reply);
  void Trace(const std::string& line);

  SessionOptions options_;
  ControllerBackend& backend_;
  SessionIo& io_;
  bool verbose_;

  RequestFrameDecoder decoder_;
  bool sequence_mode_ = false;

  bool closed_ = false;
  std::string close_reason_;
  std::uint64_t good_frames_ = 0;
  std::uint32_t noise_ = 0;
  std::uint32_t bad_frames_ = 0;

  // Fault counters.
  std::uint64_t command_frames_ = 0;
  std::uint64_t command_replies_ = 0;
  std::uint64_t frames_sent_ = 0;

  // Reply frames not yet acknowledged: the front one is on the wire when
  // in_flight_ is set.
  std::deque<Reply> queue_;
  bool in_flight_ = false;
  bool resent_ = false;

  // A request arriving in fragments.
  struct Reassembly {
    bool active = false;
    std::uint32_t transfer = 0;
    std::uint32_t total = 0;
    std::vector<std::uint8_t> data;
  } reassembly_;
  // A reply leaving in fragments.
  struct Outgoing {
    bool active = false;
    std::uint32_t transfer = 0;
    std::vector<std::uint8_t> data;
  } outgoing_;
  std::uint32_t next_transfer_ = 1;

  std::vector<std::uint8_t> out_;  // encoding scratch
};

}  // namespace qxsym::sim
