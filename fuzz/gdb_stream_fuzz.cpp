// The controller's byte stream, as the fuzzer writes it, into the channel's
// reply-frame decoder: each request frame the channel sends is answered with
// the next piece of the input, raw (acknowledgement bytes, length, status,
// sequence number, data and checksum are all the fuzzer's). The first byte
// picks one of the four acknowledgement and sequence modes and how the port
// splits its input; the operations run are memory, variable and
// symbol-service commands with sizes from the input. The mode handshakes
// may come from the input too. Every call must end with one of its
// documented results, within the caller's buffer, and with the port
// unlocked.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "CGDBCommunication.h"
#include "CMemoryComPort.h"
#include "FuzzPeer.h"

using qxsym::CGDBCommunication;
using qxsym::CMemoryComPort;

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void RequireIn(QXSymResult r, const std::set<int>& allowed) { Require(allowed.count(r) == 1); }

const std::set<int> kMemoryRead = {symResOk, symResInvalidParameter, symResTimeoutError,
                                   symResConnectionLost, symResMemReadError};
const std::set<int> kMemoryWrite = {symResOk, symResInvalidParameter, symResTimeoutError,
                                    symResConnectionLost, symResMemWriteError};
const std::set<int> kVariableRead = {
    symResOk,           symResInvalidBuffer, symResInvalidParameter,
    symResTimeoutError, symResMemReadError,  symResConnectionLost};
const std::set<int> kVariableWrite = {
    symResOk,           symResInvalidBuffer, symResInvalidParameter,
    symResTimeoutError, symResMemWriteError, symResConnectionLost};
const std::set<int> kTransact = {symResOk,
                                 symResProtocolError,
                                 symResSocketError,
                                 symResTimeoutError,
                                 symResSegmentationError,
                                 symResNotOk,
                                 symResInvalidParameter,
                                 symResConnectionLost};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool ack = (data[0] & 1) != 0;
  const bool seq = (data[0] & 2) != 0;
  // With bit 2 the mode handshakes are answered from the input as well, and
  // the channel ends up in whatever modes that gives.
  const bool raw_handshake = (data[0] & 4) != 0;
  const std::uint8_t block = data[1];
  FuzzedDataProvider in(data + 2, size - 2);

  auto port = std::make_shared<CMemoryComPort>();
  port->set_record_sent(false);
  if (block != 0) port->set_max_block(block);
  Require(port->Open(nullptr));

  int handshakes = 0;
  bool negotiated = false;
  port->SetPeer([&](const std::uint8_t* bytes, std::size_t n) {
    if (!negotiated && !raw_handshake) {
      const auto r = qxsym::fuzz::ReadRequest(bytes, n, false);
      if (r.valid && qxsym::fuzz::IsHandshake(r) && handshakes < 2) {
        port->Feed(qxsym::fuzz::HandshakeAnswer(handshakes++, ack, seq));
      }
      return;
    }
    if (n == 0 || bytes[0] != 0x10) return;  // the channel's own acknowledgement
    const std::string piece = in.ConsumeRandomLengthString(4096);
    port->Feed(piece.data(), piece.size());
  });

  CGDBCommunication channel;
  Require(channel.OpenOnPort(port, 50));
  Require(raw_handshake || (channel.ack_mode() == ack && channel.sequence_mode() == seq));
  negotiated = true;

  for (int ops = 0; ops < 32 && in.remaining_bytes() > 0; ++ops) {
    const std::uint8_t op = in.ConsumeIntegral<std::uint8_t>();
    const std::uint32_t n = in.ConsumeIntegralInRange<std::uint32_t>(0, 3000);
    const std::uint32_t address = in.ConsumeIntegral<std::uint32_t>();
    std::vector<std::uint8_t> buffer(n == 0 ? 1 : n);
    switch (op % 8) {
      case 0: {
        auto out = std::make_unique<std::uint8_t[]>(n + 1);
        RequireIn(channel.ReadMemory(address, static_cast<std::int32_t>(n), out.get()),
                  kMemoryRead);
        break;
      }
      case 1:
        RequireIn(channel.WriteMemory(address, static_cast<std::int32_t>(n), buffer.data()),
                  kMemoryWrite);
        break;
      case 2: {
        auto out = std::make_unique<std::uint8_t[]>(n + 1);
        RequireIn(channel.ReadMemory64(static_cast<std::uint64_t>(address) << (op & 32),
                                       static_cast<std::int32_t>(n), out.get()),
                  kMemoryRead);
        break;
      }
      case 3: {
        const auto capacity = static_cast<std::uint16_t>(n % 300);
        auto out = std::make_unique<std::uint8_t[]>(capacity == 0 ? 1 : capacity);
        RequireIn(channel.ReadVariable(static_cast<std::uint16_t>(address), 0, out.get(), capacity,
                                       static_cast<std::uint8_t>(address >> 16)),
                  kVariableRead);
        break;
      }
      case 4:
        RequireIn(channel.WriteVariable(static_cast<std::uint16_t>(address), 0, buffer.data(),
                                        static_cast<std::uint16_t>(n % 300),
                                        static_cast<std::uint8_t>(address >> 16)),
                  kVariableWrite);
        break;
      case 5:
        port->ClosePeer();
        break;
      default: {
        // A symbol-service exchange: the request is n bytes (fragmented
        // beyond 1024), the reply capacity comes from the address word.
        if (n >= 2) {
          buffer[0] = static_cast<std::uint8_t>(address);
          buffer[1] = static_cast<std::uint8_t>(address >> 8);
        }
        const std::uint32_t capacity = address % 70000;
        auto response = std::make_unique<std::uint8_t[]>(capacity);
        std::uint32_t got = capacity;
        RequireIn(channel.Transact(buffer.data(), n, response.get(), &got), kTransact);
        Require(got <= capacity);
        break;
      }
    }
    Require(port->lock_depth() == 0);
  }
  channel.Close();
  return 0;
}
