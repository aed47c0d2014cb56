// The channel to a controller: the abstract interface every transport
// implements, and the factory that opens one for a server address.
#pragma once

#include <cstdint>
#include <memory>

#include "QXSymbols.h"
#include "TransferProgress.h"

namespace qxsym {

class CCommunication {
 public:
  virtual ~CCommunication() = default;

  // Connect and make the channel ready. Called once, by the factory.
  virtual bool Open(const QXSymServerAddress* address) = 0;
  // Drop the connection; always true, a second call is harmless. Safe while
  // another thread is inside an exchange on this channel: that exchange ends
  // with a failure result, never touches freed memory.
  virtual bool Close() = 0;

  virtual QXSymResult ReadMemory(std::uint32_t address, std::int32_t size, void* buffer) = 0;
  virtual QXSymResult WriteMemory(std::uint32_t address, std::int32_t size, const void* data) = 0;
  virtual QXSymResult WriteBit(std::uint32_t address, std::uint32_t bitOffset,
                               std::uint8_t value) = 0;
  virtual QXSymResult WriteBits(std::uint32_t address, std::uint32_t bitOffset,
                                std::uint8_t bitWidth, const void* value) = 0;
  virtual QXSymResult ReadMemory64(std::uint64_t address, std::int32_t size, void* buffer) = 0;
  virtual QXSymResult WriteMemory64(std::uint64_t address, std::int32_t size, const void* data) = 0;
  virtual QXSymResult WriteBit64(std::uint64_t address, std::uint32_t bitOffset,
                                 std::uint8_t value) = 0;
  virtual QXSymResult WriteBits64(std::uint64_t address, std::uint32_t bitOffset,
                                  std::uint8_t bitWidth, const void* value) = 0;
  virtual QXSymResult ReadVariable(std::uint16_t index, std::uint32_t reserved, void* buffer,
                                   std::uint16_t bufferSize, std::uint8_t ioType) = 0;
  virtual QXSymResult WriteVariable(std::uint16_t index, std::uint32_t reserved, const void* data,
                                    std::uint16_t size, std::uint8_t ioType) = 0;

  // One symbol-service exchange. *responseSize is the capacity of response
  // on entry; after a reply it holds the number of bytes stored (never more
  // than the capacity). Results: symResOk; symResProtocolError (other
  // command code); symResSocketError; symResTimeoutError;
  // symResSegmentationError; symResNotOk (reply
  // shorter than two bytes); symResNotImplemented.
  virtual QXSymResult Transact(const void* request, std::uint32_t requestSize, void* response,
                               std::uint32_t* responseSize) = 0;
  // As Transact, telling progress how much of a reply that comes in
  // fragments has arrived. Channels without fragments report nothing.
  virtual QXSymResult TransactWithProgress(const void* request, std::uint32_t requestSize,
                                           void* response, std::uint32_t* responseSize,
                                           const TransferProgress& progress) {
    (void)progress;
    return Transact(request, requestSize, response, responseSize);
  }

  bool connected() const { return connected_; }

 protected:
  bool connected_ = false;
};

// Creates and opens the channel for address->protocol; null for a null
// address, an unknown protocol or a failed Open.
std::unique_ptr<CCommunication> CreateCommunication(const QXSymServerAddress* address);

}  // namespace qxsym
