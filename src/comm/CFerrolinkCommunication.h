// Channel through the COM communication server: memory, bit and variable
// access delegated to the server's target interface. It carries no symbol
// service, so Transact and WriteVariable answer symResNotImplemented.
#pragma once

#include <cstdint>

#include "CCommunication.h"
#include "FerrolinkInterfaces.h"

namespace qxsym {

class CFerrolinkCommunication final : public CCommunication {
 public:
  // Largest generic read: the answer carries the data and a marker byte.
  static constexpr std::uint32_t kMaxGenericRead = 4096;
  static constexpr std::uint8_t kMarker = 0xAA;

  CFerrolinkCommunication() = default;
  ~CFerrolinkCommunication() override;
  CFerrolinkCommunication(const CFerrolinkCommunication&) = delete;
  CFerrolinkCommunication& operator=(const CFerrolinkCommunication&) = delete;

  // Creates the server through COM, connects it to address->ip and asks the
  // target's protocol. False (and no server held) when any step fails.
  bool Open(const QXSymServerAddress* address) override;
  // Releases the server; always true.
  bool Close() override;

  // Results: symResOk; symResMemReadError / symResMemWriteError (server
  // failed, generic read above 4096 bytes, answer without the 0xAA marker,
  // negative size); symResNotInited (no server).
  QXSymResult ReadMemory(std::uint32_t address, std::int32_t size, void* buffer) override;
  QXSymResult WriteMemory(std::uint32_t address, std::int32_t size, const void* data) override;
  // symResNotInited without a server; symResMemWriteError when it fails;
  // WriteBits: widths 1, 8, 16 and 32 only (else symResInvalidParameter).
  QXSymResult WriteBit(std::uint32_t address, std::uint32_t bitOffset, std::uint8_t value) override;
  QXSymResult WriteBits(std::uint32_t address, std::uint32_t bitOffset, std::uint8_t bitWidth,
                        const void* value) override;
  // The 64-bit forms use the low 32 bits of the address.
  QXSymResult ReadMemory64(std::uint64_t address, std::int32_t size, void* buffer) override;
  QXSymResult WriteMemory64(std::uint64_t address, std::int32_t size, const void* data) override;
  QXSymResult WriteBit64(std::uint64_t address, std::uint32_t bitOffset,
                         std::uint8_t value) override;
  QXSymResult WriteBits64(std::uint64_t address, std::uint32_t bitOffset, std::uint8_t bitWidth,
                          const void* value) override;
  // One variable of the server's table. Numbers: the value field's bytes,
  // at most its 8, the rest of buffer zero. Text: 8-bit, cut to bufferSize
  // and terminated. symResTimeoutError when the server reports a time-out,
  // symResNotOk when it delivered no value.
  QXSymResult ReadVariable(std::uint16_t index, std::uint32_t reserved, void* buffer,
                           std::uint16_t bufferSize, std::uint8_t ioType) override;
  QXSymResult WriteVariable(std::uint16_t index, std::uint32_t reserved, const void* data,
                            std::uint16_t size, std::uint8_t ioType) override;
  QXSymResult Transact(const void* request, std::uint32_t requestSize, void* response,
                       std::uint32_t* responseSize) override;

  bool direct_memory() const { return direct_memory_; }
  std::uint16_t request_target() const { return request_target_; }

  // The VARTYPE asked of the server for a variable's I/O type.
  static VARTYPE VarTypeOf(std::uint8_t ioType);

 private:
  void Release();

  IFerrolinkTarget* server_ = nullptr;
  bool direct_memory_ = false;
  std::uint16_t request_target_ = 0;
  std::uint8_t response_buffer_[kMaxGenericRead + 4] = {};
};

}  // namespace qxsym
