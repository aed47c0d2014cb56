#include "Session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "ReplyEncoder.h"
#include "SymbolMessages.h"
#include "Wire.h"

namespace qxsym::sim {
namespace {

// Fragment messages carried inside "Y".
using gdb::kCodeFragmentAck;       // controller to client
using gdb::kCodeReplyFragment;     // controller to client
using gdb::kCodeReplyFragmentAck;  // client to controller
using gdb::kCodeRequestFragment;   // client to controller
using gdb::kReplyFragmentAckSize;
using gdb::kRequestFragmentHeader;
constexpr std::size_t kFragmentAckSize = gdb::kFragmentAckMinSize;

// Reply data of the variable read: index (2) and wire type (1) echoed before the value.
constexpr std::size_t kVariableEcho = 3;

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

void Session::Dispatch(const std::uint8_t* p, std::size_t n, Reply& reply) {
  reply.status = kStatusBadCommand;
  if (n == 0) return;
  WireReader r(p + 1, n - 1);
  switch (p[0]) {
    case 'm': {
      std::uint32_t address = 0;
      std::uint16_t count = 0;
      if (n != 7 || !r.U32(&address) || !r.U16(&count)) return;
      HandleMemoryRead(address, count, reply);
      return;
    }
    case 'M': {
      std::uint32_t address = 0;
      if (n < 5 || !r.U32(&address)) return;
      reply.status = backend_.WriteMemory(address, n - 5, p + 5) ? kStatusOk : kStatusMemoryRange;
      return;
    }
    case '6': {
      if (n < 3 || p[1] != '4') return;
      WireReader r64(p + 3, n - 3);
      std::uint64_t address = 0;
      if (p[2] == 'm') {
        std::uint16_t count = 0;
        if (n != 13 || !r64.U64(&address) || !r64.U16(&count)) return;
        HandleMemoryRead(address, count, reply);
      } else if (p[2] == 'M') {
        if (n < 11 || !r64.U64(&address)) return;
        reply.status =
            backend_.WriteMemory(address, n - 11, p + 11) ? kStatusOk : kStatusMemoryRange;
      }
      return;
    }
    case 'i': {
      std::uint16_t index = 0;
      std::uint8_t type = 0;
      if (n != 4 || !r.U16(&index) || !r.U8(&type)) return;
      std::vector<std::uint8_t> value;
      reply.status = backend_.ReadVariable(index, type, value);
      if (reply.status != kStatusOk) return;
      if (value.size() + kVariableEcho > kMaxReplyData) {
        reply.status = kStatusBadParameter;
        return;
      }
      reply.data.assign(p + 1, p + 4);
      reply.data.insert(reply.data.end(), value.begin(), value.end());
      return;
    }
    case 'I': {
      std::uint16_t index = 0;
      std::uint8_t type = 0;
      if (n < 4 || !r.U16(&index) || !r.U8(&type)) return;
      reply.status = backend_.WriteVariable(index, type, p + 4, n - 4);
      return;
    }
    case 'Y':
      HandleMessage(p + 1, n - 1, reply);
      return;
    default:
      return;
  }
}

void Session::HandleMemoryRead(std::uint64_t address, std::uint16_t count, Reply& reply) {
  // A u16 count always fits one reply frame except for the last three values.
  if (count > kMaxReplyData) return;
  reply.data.resize(count);
  if (!backend_.ReadMemory(address, count, reply.data.data())) {
    reply.data.clear();
    reply.status = kStatusMemoryRange;
    return;
  }
  reply.status = kStatusOk;
}

void Session::HandleMessage(const std::uint8_t* m, std::size_t n, Reply& reply) {
  if (n < 2) return;  // kStatusBadCommand
  switch (LoadU16(m)) {
    case kCodeRequestFragment:
      HandleRequestFragment(m, n, reply);
      return;
    case kCodeReplyFragmentAck:
      HandleReplyFragmentAck(m, n, reply);
      return;
    case kCodeReplyFragment:
    case kCodeFragmentAck:
      return;  // only the controller sends these
    default:
      // A new exchange abandons whatever transfer was under way.
      reassembly_ = Reassembly{};
      outgoing_ = Outgoing{};
      RunService(m, n, reply);
      return;
  }
}

void Session::HandleRequestFragment(const std::uint8_t* m, std::size_t n, Reply& reply) {
  reply.status = kStatusFragment;
  if (n < kRequestFragmentHeader) return;
  const std::uint32_t transfer = LoadU32(m + gdb::kRequestFragmentTransferAt);
  const std::uint32_t total = LoadU32(m + gdb::kRequestFragmentTotalAt);
  const std::uint32_t offset = LoadU32(m + gdb::kRequestFragmentOffsetAt);
  const std::uint32_t length = LoadU32(m + gdb::kRequestFragmentLengthAt);
  const bool last = m[gdb::kRequestFragmentLastAt] != 0;
  if (length != n - kRequestFragmentHeader || total == 0) return;
  if (total > options_.max_request) {
    reassembly_ = Reassembly{};
    reply.status = kStatusTooLarge;
    reply.note = "request of " + std::to_string(total) + " bytes refused";
    return;
  }
  if (!reassembly_.active || reassembly_.transfer != transfer) {
    if (offset != 0) {
      // Unknown transfer: ask for it from the start.
      BuildFragmentAck(transfer, 0, reply);
      return;
    }
    reassembly_ = Reassembly{};
    outgoing_ = Outgoing{};
    reassembly_.active = true;
    reassembly_.transfer = transfer;
    reassembly_.total = total;
  }
  Reassembly& ra = reassembly_;
  if (total != ra.total) {
    ra = Reassembly{};
    return;
  }
  const auto received = static_cast<std::uint32_t>(ra.data.size());
  if (offset != received) {
    // A repeat or a gap: name the offset that comes next.
    BuildFragmentAck(transfer, received, reply);
    return;
  }
  if (length > total - received) {
    ra = Reassembly{};
    return;
  }
  ra.data.insert(ra.data.end(), m + kRequestFragmentHeader, m + n);
  const bool complete = ra.data.size() == ra.total;
  if (last != complete) {
    // The flag and the byte count disagree.
    ra = Reassembly{};
    return;
  }
  if (!complete) {
    BuildFragmentAck(transfer, static_cast<std::uint32_t>(ra.data.size()), reply);
    return;
  }
  std::vector<std::uint8_t> request = std::move(ra.data);
  ra = Reassembly{};
  if (request.size() >= 2 && LoadU16(request.data()) >= kCmdFragmentFirst &&
      LoadU16(request.data()) <= kCmdFragmentLast) {
    reply.status = kStatusBadCommand;
    return;
  }
  RunService(request.data(), request.size(), reply);
}

void Session::HandleReplyFragmentAck(const std::uint8_t* m, std::size_t n, Reply& reply) {
  reply.status = kStatusFragment;
  if (n < kReplyFragmentAckSize) return;
  const std::uint32_t transfer = LoadU32(m + gdb::kReplyFragmentAckTransferAt);
  const std::uint32_t received = LoadU32(m + gdb::kReplyFragmentAckReceivedAt);
  if (!outgoing_.active || outgoing_.transfer != transfer || received >= outgoing_.data.size()) {
    return;
  }
  BuildReplyFragment(received, reply);
}

void Session::RunService(const std::uint8_t* m, std::size_t n, Reply& reply) {
  std::vector<std::uint8_t> message;
  backend_.HandleMessage(m, n, message);
  if (options_.short_reply) ShortenValue(message);
  reply.status = kStatusOk;
  if (message.size() <= options_.reply_fragment_size) {
    reply.data = std::move(message);
    return;
  }
  if (message.size() > UINT32_MAX) {
    reply.status = kStatusTooLarge;
    return;
  }
  outgoing_.active = true;
  outgoing_.transfer = next_transfer_++;
  if (next_transfer_ == 0) next_transfer_ = 1;
  outgoing_.data = std::move(message);
  BuildReplyFragment(0, reply);
}

void Session::ShortenValue(std::vector<std::uint8_t>& message) {
  // code, status, then a 16-bit (tag values) or 32-bit (group read) length.
  if (message.size() < 4 || LoadU16(message.data() + 2) != 0) return;
  const std::uint16_t code = LoadU16(message.data());
  if (code == kCmdTagGetValue || code == kCmdTagGetArrayValue) {
    if (message.size() < 7) return;
    StoreU16(message.data() + 4, static_cast<std::uint16_t>(LoadU16(message.data() + 4) - 1));
  } else if (code == kCmdGroupRead) {
    if (message.size() < 9) return;
    StoreU32(message.data() + 4, LoadU32(message.data() + 4) - 1);
  } else {
    return;
  }
  message.pop_back();
}

void Session::BuildReplyFragment(std::uint32_t offset, Reply& reply) {
  const auto total = static_cast<std::uint32_t>(outgoing_.data.size());
  const std::uint32_t chunk =
      std::min(total - offset, options_.reply_fragment_size - kReplyFragmentHeader);
  const bool last = offset + chunk == total;
  reply.status = kStatusOk;
  reply.data.resize(kReplyFragmentHeader + chunk);
  WireWriter w(reply.data.data(), reply.data.size());
  w.U16(kCodeReplyFragment)
      .Zeros(10)
      .U32(outgoing_.transfer)
      .U32(total)
      .U32(offset)
      .U32(chunk)
      .U8(last ? 1 : 0)
      .Bytes(outgoing_.data.data() + offset, chunk);
  if (verbose_) {
    reply.note = "reply fragment " + std::to_string(offset) + "+" + std::to_string(chunk) + "/" +
                 std::to_string(total);
  }
  if (last) outgoing_ = Outgoing{};
}

void Session::BuildFragmentAck(std::uint32_t transfer, std::uint32_t next_offset, Reply& reply) {
  reply.status = kStatusOk;
  reply.data.resize(kFragmentAckSize);
  WireWriter w(reply.data.data(), reply.data.size());
  w.U16(kCodeFragmentAck).Zeros(10).U32(transfer).U32(next_offset);
  if (verbose_) reply.note = "fragment acknowledgement, next offset " + std::to_string(next_offset);
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
