#include "Session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "ReplyEncoder.h"
#include "Wire.h"

namespace qxsym::sim {
namespace {

// Payload of a stale reply: never a valid message, so a client that takes
// it for the answer notices.
constexpr std::uint8_t kStaleData[] = {0xEE, 0xEE, 0xEE, 0xEE};

bool Equals(const std::uint8_t* p, std::size_t n, const char* text) {
  const std::size_t len = std::strlen(text);
  return n == len && std::memcmp(p, text, len) == 0;
}

std::string Describe(const std::uint8_t* p, std::size_t n) {
  char buf[96];
  if (n == 0) return "empty payload";
  if (p[0] == 'Y' && n >= 3) {
    std::snprintf(buf, sizeof buf, "Y code=%u size=%zu", LoadU16(p + 1), n - 1);
  } else if (p[0] == 'm' && n == 7) {
    std::snprintf(buf, sizeof buf, "m addr=0x%08x count=%u", LoadU32(p + 1), LoadU16(p + 5));
  } else if (p[0] == 'M' && n >= 5) {
    std::snprintf(buf, sizeof buf, "M addr=0x%08x count=%zu", LoadU32(p + 1), n - 5);
  } else if (n >= 3 && p[0] == '6' && p[1] == '4') {
    std::snprintf(buf, sizeof buf, "64%c payload=%zu", p[2], n);
  } else if ((p[0] == 'i' || p[0] == 'I') && n >= 4) {
    std::snprintf(buf, sizeof buf, "%c index=%u type=%u payload=%zu", p[0], LoadU16(p + 1), p[3],
                  n);
  } else {
    std::snprintf(buf, sizeof buf, "command 0x%02x payload=%zu", p[0], n);
  }
  return buf;
}

}  // namespace

Session::Session(const SessionOptions& options, ControllerBackend& backend, SessionIo& io,
                 bool verbose)
    : options_(options), backend_(backend), io_(io), verbose_(verbose) {
  options_.reply_fragment_size =
      std::clamp<std::uint32_t>(options_.reply_fragment_size, kMinReplyFragmentSize,
                                static_cast<std::uint32_t>(kMaxReplyData));
}

void Session::Trace(const std::string& line) {
  if (verbose_) io_.Log(line);
}

void Session::Close(std::string reason) {
  if (closed_) return;
  closed_ = true;
  close_reason_ = std::move(reason);
  Trace("closing: " + close_reason_);
}

void Session::Receive(const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n && !closed_ && !io_.broken();) {
    // Plain bytes of a frame body go in runs; everything else byte by byte.
    if (const std::size_t run = decoder_.TakeBodyRun(data + i, n - i); run != 0) {
      i += run;
      continue;
    }
    const std::uint8_t b = data[i++];
    switch (decoder_.Push(b)) {
      case RequestFrameDecoder::Event::kInFrame:
        if (b == kFrameStart) OnFrameStart();
        break;
      case RequestFrameDecoder::Event::kFrameAborted:
        OnBadFrame("frame cut short by a new start byte");
        OnFrameStart();
        break;
      case RequestFrameDecoder::Event::kOutside:
        OnOutsideByte(b);
        break;
      case RequestFrameDecoder::Event::kFrame:
        OnFrame();
        break;
    }
  }
}

void Session::OnFrameStart() {
  // A client that starts a new frame has stopped waiting for the reply it
  // did not acknowledge.
  if (in_flight_ || !queue_.empty()) {
    Trace("new frame before the acknowledgement: pending reply dropped");
    queue_.clear();
    in_flight_ = false;
  }
}

void Session::OnBadFrame(const char* why) {
  ++bad_frames_;
  Trace(std::string("<- broken frame: ") + why);
  if (bad_frames_ > options_.max_bad_frames) Close("too many broken frames");
}

void Session::OnOutsideByte(std::uint8_t b) {
  if (in_flight_ && (b == kAckByte || b == kNakByte)) {
    OnAck(b == kAckByte);
    return;
  }
  if (++noise_ > options_.max_noise) Close("too many bytes outside frames");
}

void Session::OnAck(bool good) {
  if (good) {
    queue_.pop_front();
    in_flight_ = false;
    Pump();
    return;
  }
  if (!resent_) {
    Trace("<- \"-\": repeating the reply");
    resent_ = true;
    Transmit(queue_.front());
    return;
  }
  // The client gives up after a second negative acknowledgement.
  Trace("<- second \"-\": reply abandoned");
  queue_.clear();
  in_flight_ = false;
}

void Session::OnFrame() {
  if (!decoder_.checksum_ok()) {
    if (options_.ack) io_.Write(&kNakByte, 1);
    OnBadFrame("checksum mismatch, answered \"-\"");
    return;
  }
  const Frame frame = ReadFrame();
  ++good_frames_;
  bad_frames_ = 0;
  noise_ = 0;

  if (frame.handshake != Handshake::kNone) {
    if (options_.ack) io_.Write(&kAckByte, 1);
    HandleHandshake(frame.handshake, frame.sequence);
    return;
  }
  ++command_frames_;
  if (verbose_) {
    std::string line = "<- ";
    if (frame.sequence) line += "seq=" + std::to_string(*frame.sequence) + " ";
    Trace(line + Describe(frame.payload, frame.size));
  }
  if (CommandFaultTakes()) return;
  if (options_.ack) io_.Write(&kAckByte, 1);
  AnswerCommand(frame);
}

Session::Frame Session::ReadFrame() const {
  const std::uint8_t* body = decoder_.body();
  const std::size_t n = decoder_.body_size();
  Frame f;
  f.payload = body;
  f.size = n;
  if (sequence_mode_) {
    if (n >= 2) {
      f.sequence = LoadU16(body);
      f.payload = body + 2;
      f.size = n - 2;
    } else {
      f.short_for_sequence = true;
    }
  }
  auto handshake_of = [](const std::uint8_t* q, std::size_t m) {
    if (Equals(q, m, "!NA!")) return Handshake::kNoAck;
    if (Equals(q, m, "!S!")) return Handshake::kSequence;
    return Handshake::kNone;
  };
  // Handshakes are recognised with and without a sequence number whatever
  // the current mode: a client probes the other mode when its first
  // handshake failed.
  f.handshake = handshake_of(f.payload, f.size);
  if (f.handshake == Handshake::kNone) {
    if (!sequence_mode_ && n >= 2 && handshake_of(body + 2, n - 2) != Handshake::kNone) {
      f.handshake = handshake_of(body + 2, n - 2);
      f.sequence = LoadU16(body);
    } else if (sequence_mode_ && handshake_of(body, n) != Handshake::kNone) {
      f.handshake = handshake_of(body, n);
      f.sequence.reset();
    }
  }
  return f;
}

bool Session::CommandFaultTakes() {
  if (options_.close_after != 0 && command_frames_ >= options_.close_after) {
    Close("fault injection: command frame " + std::to_string(command_frames_));
    return true;
  }
  if (options_.ack && options_.nak_every != 0 && command_frames_ % options_.nak_every == 0) {
    io_.Write(&kNakByte, 1);
    Trace("fault injection: answered \"-\"");
    return true;
  }
  return false;
}

void Session::AnswerCommand(const Frame& frame) {
  Reply reply;
  reply.sequence = frame.sequence;
  if (frame.short_for_sequence) {
    reply.status = kStatusBadCommand;
    reply.note = "frame too short for its sequence number";
  } else {
    try {
      Dispatch(frame.payload, frame.size, reply);
    } catch (const std::exception& e) {
      reply.status = kStatusBadCommand;
      reply.data.clear();
      reply.note = std::string("failed: ") + e.what();
    }
  }

  if (options_.delay_ms != 0) io_.Delay(options_.delay_ms);
  ++command_replies_;
  if (options_.stale_every != 0 && command_replies_ % options_.stale_every == 0) {
    Reply stale;
    if (frame.sequence) stale.sequence = static_cast<std::uint16_t>(*frame.sequence - 1);
    stale.data.assign(std::begin(kStaleData), std::end(kStaleData));
    stale.note = "fault injection: stale reply";
    Queue(std::move(stale));
  }
  Queue(std::move(reply));
}

void Session::HandleHandshake(Handshake hs, std::optional<std::uint16_t> sequence) {
  Reply reply;
  reply.faultable = false;
  reply.sequence = sequence;
  if (sequence && !options_.sequence) {
    // A controller without sequence numbers cannot read this frame.
    reply.sequence.reset();
    reply.status = kStatusBadCommand;
    reply.note = "handshake with a sequence number refused";
    Trace("<- handshake with a sequence number");
    Queue(std::move(reply));
    return;
  }
  if (hs == Handshake::kNoAck) {
    // 0: acknowledgements stay on; anything else: the client drops them.
    reply.data.push_back(options_.ack ? 0 : 1);
    reply.note = "!NA!";
    Trace("<- !NA!");
    Queue(std::move(reply));
  } else {
    reply.data.push_back(options_.sequence ? 0 : 1);
    reply.note = "!S!";
    Trace("<- !S!");
    Queue(std::move(reply));
    // Frames after this reply carry sequence numbers when both sides have them.
    sequence_mode_ = options_.sequence;
  }
}

void Session::Queue(Reply reply) {
  queue_.push_back(std::move(reply));
  Pump();
}

void Session::Pump() {
  while (!in_flight_ && !queue_.empty()) {
    Transmit(queue_.front());
    if (options_.ack) {
      in_flight_ = true;
      resent_ = false;
      return;
    }
    queue_.pop_front();
  }
}

void Session::Transmit(const Reply& reply) {
  std::uint8_t error = 0;
  if (reply.faultable) {
    ++frames_sent_;
    if (options_.bad_checksum_every != 0 && frames_sent_ % options_.bad_checksum_every == 0) {
      error = 1;
    }
  }
  out_.clear();
  AppendReplyFrame(out_, reply.status, reply.sequence, reply.data.data(), reply.data.size(), error);
  io_.Write(out_.data(), out_.size());
  if (verbose_) {
    std::string line = "-> status=" + std::to_string(reply.status);
    if (reply.sequence) line += " seq=" + std::to_string(*reply.sequence);
    line += " data=" + std::to_string(reply.data.size());
    if (!reply.note.empty()) line += " (" + reply.note + ")";
    if (error != 0) line += " [fault injection: bad checksum]";
    Trace(line);
  }
}

}  // namespace qxsym::sim
