// The session's commands: memory reads and writes (32- and 64-bit
// addresses), variable reads and writes, and "Y", which carries a
// symbol-service message (SessionMessages.cpp).
#include <cstdint>
#include <vector>

#include "ReplyEncoder.h"
#include "Session.h"
#include "Wire.h"

namespace qxsym::sim {
namespace {

// Reply data of the variable read: index (2) and wire type (1) echoed before the value.
constexpr std::size_t kVariableEcho = 3;
// Requests: "m" u32 address u16 count; "64m" u64 address u16 count; the
// writes carry their data after the address.
constexpr std::size_t kReadMemorySize = 7;
constexpr std::size_t kWriteMemoryHeader = 5;
constexpr std::size_t kReadMemory64Size = 13;
constexpr std::size_t kWriteMemory64Header = 11;
// "i" and "I": u16 index, u8 wire type (then the data of a write).
constexpr std::size_t kVariableHeader = 4;

}  // namespace

void Session::Dispatch(const std::uint8_t* p, std::size_t n, Reply& reply) {
  reply.status = kStatusBadCommand;
  if (n == 0) return;
  switch (p[0]) {
    case 'm':
    case 'M':
      HandleMemory(p, n, reply);
      return;
    case '6':
      if (n >= 3 && p[1] == '4') HandleMemory64(p, n, reply);
      return;
    case 'i':
      HandleReadVariable(p, n, reply);
      return;
    case 'I':
      HandleWriteVariable(p, n, reply);
      return;
    case 'Y':
      HandleMessage(p + 1, n - 1, reply);
      return;
    default:
      return;
  }
}

void Session::HandleMemory(const std::uint8_t* p, std::size_t n, Reply& reply) {
  WireReader r(p + 1, n - 1);
  std::uint32_t address = 0;
  if (p[0] == 'm') {
    std::uint16_t count = 0;
    if (n != kReadMemorySize || !r.U32(&address) || !r.U16(&count)) return;
    HandleMemoryRead(address, count, reply);
    return;
  }
  if (n < kWriteMemoryHeader || !r.U32(&address)) return;
  reply.status = backend_.WriteMemory(address, n - kWriteMemoryHeader, p + kWriteMemoryHeader)
                     ? kStatusOk
                     : kStatusMemoryRange;
}

void Session::HandleMemory64(const std::uint8_t* p, std::size_t n, Reply& reply) {
  WireReader r(p + 3, n - 3);
  std::uint64_t address = 0;
  if (p[2] == 'm') {
    std::uint16_t count = 0;
    if (n != kReadMemory64Size || !r.U64(&address) || !r.U16(&count)) return;
    HandleMemoryRead(address, count, reply);
  } else if (p[2] == 'M') {
    if (n < kWriteMemory64Header || !r.U64(&address)) return;
    reply.status = backend_.WriteMemory(address, n - kWriteMemory64Header, p + kWriteMemory64Header)
                       ? kStatusOk
                       : kStatusMemoryRange;
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

void Session::HandleReadVariable(const std::uint8_t* p, std::size_t n, Reply& reply) {
  WireReader r(p + 1, n - 1);
  std::uint16_t index = 0;
  std::uint8_t type = 0;
  if (n != kVariableHeader || !r.U16(&index) || !r.U8(&type)) return;
  std::vector<std::uint8_t> value;
  reply.status = backend_.ReadVariable(index, type, value);
  if (reply.status != kStatusOk) return;
  if (value.size() + kVariableEcho > kMaxReplyData) {
    reply.status = kStatusBadParameter;
    return;
  }
  reply.data.assign(p + 1, p + 1 + kVariableEcho);
  reply.data.insert(reply.data.end(), value.begin(), value.end());
}

void Session::HandleWriteVariable(const std::uint8_t* p, std::size_t n, Reply& reply) {
  WireReader r(p + 1, n - 1);
  std::uint16_t index = 0;
  std::uint8_t type = 0;
  if (n < kVariableHeader || !r.U16(&index) || !r.U8(&type)) return;
  reply.status = backend_.WriteVariable(index, type, p + kVariableHeader, n - kVariableHeader);
}

}  // namespace qxsym::sim
