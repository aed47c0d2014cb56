// A byte port: the transport under the frame codec. It collects outgoing
// bytes and sends them with one Flush, and hands received bytes out of a
// buffer that it refills as needed. The codec reads through Window/Consume
// (or GetByte) so that a whole buffered block costs one virtual call, not one
// per byte; Receive remains for callers that want bytes copied out.
#pragma once

#include <atomic>
#include <cstdint>

#include "QXSymbols.h"

namespace qxsym {

class CComPort {
 public:
  CComPort() = default;
  CComPort(const CComPort&) = delete;
  CComPort& operator=(const CComPort&) = delete;
  virtual ~CComPort() = default;

  // Connects to the peer named by address. False when it cannot.
  virtual bool Open(const QXSymServerAddress* address) = 0;
  // Releases the connection: the close call's result, -1 when none was open.
  virtual int Close() = 0;
  // Copies count bytes into buffer; each wait for input lasts at most
  // timeoutMs. False on a time-out (connected() stays true) or when the peer
  // is gone (connected() turns false). count 0 succeeds at once.
  virtual bool Receive(std::uint8_t* buffer, std::uint16_t timeoutMs, std::uint32_t count);
  // Adds bytes to the pending output. False, with nothing added, when the
  // port is not connected or the bytes would exceed TransmitLimit().
  virtual bool Append(const void* data, std::int32_t length) = 0;
  // Discards pending output and buffered, unread input.
  virtual void Clear() = 0;
  // Sends all pending output at once. False (output kept) when not connected.
  virtual bool Flush() = 0;
  // Makes one exchange on this port exclusive; exchanges on other ports are
  // not held up. Waits at most timeoutMs for an exchange of another thread
  // to end: false, with the lock not taken, when it did not.
  virtual bool Lock(std::uint32_t timeoutMs) = 0;
  virtual bool Unlock() = 0;

  // Wakes a thread waiting for input on this port and makes later operations
  // fail as for a lost connection. Safe to call from another thread while an
  // exchange runs; the port itself stays valid until destroyed.
  virtual void Shutdown() = 0;
  // Largest number of bytes that may be pending for one Flush.
  virtual std::uint32_t TransmitLimit() const = 0;

  bool connected() const { return connected_.load(std::memory_order_acquire); }

  // Shows the buffered input, waiting (at most timeoutMs) for more when none
  // is buffered. On success *available >= 1. Failure as for Receive.
  bool Window(std::uint16_t timeoutMs, const std::uint8_t** data, std::uint32_t* available) {
    if (rx_pending_ == 0 && !Refill(timeoutMs)) return false;
    *data = rx_next_;
    *available = rx_pending_;
    return true;
  }
  // Marks the first n bytes shown by Window as handed out (n <= available).
  void Consume(std::uint32_t n) {
    rx_next_ += n;
    rx_pending_ -= n;
  }
  // Hands out one byte, refilling when the buffer is empty.
  bool GetByte(std::uint16_t timeoutMs, std::uint8_t* out) {
    if (rx_pending_ == 0 && !Refill(timeoutMs)) return false;
    *out = *rx_next_++;
    --rx_pending_;
    return true;
  }

 protected:
  // Waits at most timeoutMs for input and sets rx_next_/rx_pending_ to show
  // at least one byte. Returns false on a time-out (connected_ unchanged) or
  // when the connection is gone (connected_ cleared).
  virtual bool Refill(std::uint16_t timeoutMs) = 0;

  void SetConnected(bool value) { connected_.store(value, std::memory_order_release); }

  const std::uint8_t* rx_next_ = nullptr;
  std::uint32_t rx_pending_ = 0;

 private:
  std::atomic<bool> connected_{false};
};

}  // namespace qxsym
