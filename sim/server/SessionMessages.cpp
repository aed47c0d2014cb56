// The session's symbol-service messages: a message that fits one "Y" frame
// goes straight to the backend; a longer request arrives in fragments that
// are reassembled here, and a longer reply leaves in fragments, one per
// acknowledgement of the client.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FragmentMessages.h"
#include "Session.h"
#include "SymbolMessages.h"
#include "Wire.h"

namespace qxsym::sim {

void Session::HandleMessage(const std::uint8_t* m, std::size_t n, Reply& reply) {
  if (n < 2) return;  // kStatusBadCommand
  switch (LoadU16(m)) {
    case gdb::kCodeRequestFragment:
      HandleRequestFragment(m, n, reply);
      return;
    case gdb::kCodeReplyFragmentAck:
      HandleReplyFragmentAck(m, n, reply);
      return;
    case gdb::kCodeReplyFragment:
    case gdb::kCodeFragmentAck:
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
  gdb::Fragment f;
  if (!gdb::UnpackRequestFragment(m, n, &f) || f.total == 0) return;
  if (f.total > options_.max_request) {
    reassembly_ = Reassembly{};
    reply.status = kStatusTooLarge;
    reply.note = "request of " + std::to_string(f.total) + " bytes refused";
    return;
  }
  if (!reassembly_.active || reassembly_.transfer != f.transfer) {
    if (f.offset != 0) {
      // Unknown transfer: ask for it from the start.
      BuildFragmentAck(f.transfer, 0, reply);
      return;
    }
    reassembly_ = Reassembly{};
    outgoing_ = Outgoing{};
    reassembly_.active = true;
    reassembly_.transfer = f.transfer;
    reassembly_.total = f.total;
  }
  if (!AddRequestFragment(f, reply)) return;
  std::vector<std::uint8_t> request = std::move(reassembly_.data);
  reassembly_ = Reassembly{};
  if (request.size() >= 2 && gdb::IsFragmentCode(LoadU16(request.data()))) {
    reply.status = kStatusBadCommand;
    return;
  }
  RunService(request.data(), request.size(), reply);
}

bool Session::AddRequestFragment(const gdb::Fragment& f, Reply& reply) {
  Reassembly& ra = reassembly_;
  if (f.total != ra.total) {
    ra = Reassembly{};
    return false;
  }
  const auto received = static_cast<std::uint32_t>(ra.data.size());
  if (f.offset != received) {
    // A repeat or a gap: name the offset that comes next.
    BuildFragmentAck(f.transfer, received, reply);
    return false;
  }
  if (f.length > f.total - received) {
    ra = Reassembly{};
    return false;
  }
  ra.data.insert(ra.data.end(), f.data, f.data + f.length);
  const bool complete = ra.data.size() == ra.total;
  if (f.last != complete) {
    // The flag and the byte count disagree.
    ra = Reassembly{};
    return false;
  }
  if (!complete) {
    BuildFragmentAck(f.transfer, static_cast<std::uint32_t>(ra.data.size()), reply);
    return false;
  }
  return true;
}

void Session::HandleReplyFragmentAck(const std::uint8_t* m, std::size_t n, Reply& reply) {
  reply.status = kStatusFragment;
  gdb::FragmentAck ack;
  if (!gdb::UnpackReplyFragmentAck(m, n, &ack)) return;
  if (!outgoing_.active || outgoing_.transfer != ack.transfer ||
      ack.position >= outgoing_.data.size()) {
    return;
  }
  BuildReplyFragment(ack.position, reply);
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
  gdb::Fragment f;
  f.transfer = outgoing_.transfer;
  f.total = static_cast<std::uint32_t>(outgoing_.data.size());
  f.offset = offset;
  f.length = std::min(f.total - offset, options_.reply_fragment_size - gdb::kReplyFragmentHeader);
  f.last = offset + f.length == f.total;
  f.data = outgoing_.data.data() + offset;
  reply.status = kStatusOk;
  reply.data.resize(gdb::kReplyFragmentHeader + f.length);
  WireWriter w(reply.data.data(), reply.data.size());
  gdb::PackReplyFragment(w, f);
  if (verbose_) {
    reply.note = "reply fragment " + std::to_string(offset) + "+" + std::to_string(f.length) + "/" +
                 std::to_string(f.total);
  }
  if (f.last) outgoing_ = Outgoing{};
}

void Session::BuildFragmentAck(std::uint32_t transfer, std::uint32_t next_offset, Reply& reply) {
  reply.status = kStatusOk;
  reply.data.resize(gdb::kFragmentAckSize);
  WireWriter w(reply.data.data(), reply.data.size());
  gdb::PackFragmentAck(w, gdb::FragmentAck{transfer, next_offset});
  if (verbose_) reply.note = "fragment acknowledgement, next offset " + std::to_string(next_offset);
}

}  // namespace qxsym::sim
