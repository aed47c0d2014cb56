// Client TCP connection used as a byte port. Output is collected in a
// 4096-byte transmit buffer and sent with one call; input is read in blocks
// of up to 4096 bytes and handed out from memory.
#pragma once

#include <cstdint>
#include <mutex>

#include "CComPort.h"
#include "ExchangeLock.h"

namespace qxsym {

class CTCPComPort final : public CComPort {
 public:
  static constexpr std::uint32_t kBufferSize = 4096;

  CTCPComPort();
  ~CTCPComPort() override;

  // Takes address->ip as dotted IPv4 text, or else resolves it as a host
  // name, and connects to address->port. Resolving and connecting together
  // give up after address->timeout milliseconds (10000 when 0), so neither a
  // slow resolver nor an unreachable host blocks for minutes; numeric text
  // never reaches the resolver.
  bool Open(const QXSymServerAddress* address) override;
  int Close() override;
  bool Append(const void* data, std::int32_t length) override;
  void Clear() override;
  bool Flush() override;
  // The lock of this connection only.
  bool Lock(std::uint32_t timeoutMs) override;
  bool Unlock() override;
  void Shutdown() override;
  std::uint32_t TransmitLimit() const override { return kBufferSize - 1; }

 protected:
  bool Refill(std::uint16_t timeoutMs) override;

 private:
  bool SocketOpen() const { return socket_ >= 0; }

  std::intptr_t socket_ = -1;   // a BSD socket or a Winsock SOCKET; -1: none
  int receive_timeout_ms_ = 0;  // SO_RCVTIMEO now set on socket_ (0: none)
  std::uint32_t tx_count_ = 0;
  std::uint8_t tx_buffer_[kBufferSize];
  std::uint8_t rx_buffer_[kBufferSize];
  ExchangeLock lock_;  // one exchange at a time on this connection
};

}  // namespace qxsym
