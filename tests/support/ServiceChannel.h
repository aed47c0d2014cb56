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
#include "TransactOnlyChannel.h"
#include "Wire.h"

namespace qxsym {
namespace test {

class ServiceChannel : public TransactOnlyChannel {
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

 private:
  std::shared_ptr<sim::SymbolService> service_;
  std::atomic<bool> closed_{false};
};

}  // namespace test
}  // namespace qxsym
