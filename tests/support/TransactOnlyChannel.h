// Base of the test channels that serve only symbol-service exchanges: the
// memory, bit and variable commands, which the objects never use, answer
// symResNotImplemented.
#pragma once

#include <cstdint>

#include "CCommunication.h"

namespace qxsym {

class TransactOnlyChannel : public CCommunication {
 public:
  QXSymResult ReadMemory(std::uint32_t, std::int32_t, void*) override { return Unused(); }
  QXSymResult WriteMemory(std::uint32_t, std::int32_t, const void*) override { return Unused(); }
  QXSymResult WriteBit(std::uint32_t, std::uint32_t, std::uint8_t) override { return Unused(); }
  QXSymResult WriteBits(std::uint32_t, std::uint32_t, std::uint8_t, const void*) override {
    return Unused();
  }
  QXSymResult ReadMemory64(std::uint64_t, std::int32_t, void*) override { return Unused(); }
  QXSymResult WriteMemory64(std::uint64_t, std::int32_t, const void*) override { return Unused(); }
  QXSymResult WriteBit64(std::uint64_t, std::uint32_t, std::uint8_t) override { return Unused(); }
  QXSymResult WriteBits64(std::uint64_t, std::uint32_t, std::uint8_t, const void*) override {
    return Unused();
  }
  QXSymResult ReadVariable(std::uint16_t, std::uint32_t, void*, std::uint16_t,
                           std::uint8_t) override {
    return Unused();
  }
  QXSymResult WriteVariable(std::uint16_t, std::uint32_t, const void*, std::uint16_t,
                            std::uint8_t) override {
    return Unused();
  }

 private:
  static QXSymResult Unused() { return symResNotImplemented; }
};

}  // namespace qxsym
