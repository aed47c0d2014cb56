// A channel that hands each request straight to an in-process symbol service
// of the simulator, for tests that run the objects against real answers
// without a socket. It keeps the channel's contract: the reply is cut to the
// capacity offered, a reply to another command is symResProtocolError, one
// shorter than two bytes symResNotOk, and a closed channel answers
// symResConnectionLost.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "CCommunication.h"
#include "SymbolService.h"
#include "Wire.h"

namespace qxsym {
namespace test {

class ServiceChannel : public CCommunication {
 public:
  explicit ServiceChannel(std::shared_ptr<sim::SymbolService> service)
      : service_(std::move(service)) {
    connected_ = true;
  }

  bool Open(const QXSymServerAddress*) override { return true; }
  bool Close() override {
    closed_ = true;
    connected_ = false;
    return true;
  }
  QXSymResult Transact(const void* request, std::uint32_t requestSize, void* response,
                       std::uint32_t* responseSize) override {
    if (closed_) return symResConnectionLost;
    std::vector<std::uint8_t> reply;
    service_->Handle(static_cast<const std::uint8_t*>(request), requestSize, reply);
    if (reply.size() < 2) return symResNotOk;
    const std::size_t n = std::min<std::size_t>(reply.size(), *responseSize);
    std::memcpy(response, reply.data(), n);
    *responseSize = static_cast<std::uint32_t>(n);
    if (requestSize >= 2 &&
        LoadU16(reply.data()) != LoadU16(static_cast<const std::uint8_t*>(request))) {
      return symResProtocolError;
    }
    return symResOk;
  }

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

  std::shared_ptr<sim::SymbolService> service_;
  std::atomic<bool> closed_{false};
};

}  // namespace test
}  // namespace qxsym
