// The backend of the real server: a symbol service and the model it serves,
// shared by every connection. Both guard their own state, so connections
// run their requests side by side. The memory and variable commands reach
// the model the service serves at that moment, so they follow a reload.
#pragma once

#include <memory>

#include "ControllerBackend.h"
#include "SymbolModel.h"
#include "SymbolService.h"

namespace qxsym::sim {

class ModelBackend final : public ControllerBackend {
 public:
  explicit ModelBackend(std::shared_ptr<SymbolService> service);

  void HandleMessage(const std::uint8_t* request, std::size_t size,
                     std::vector<std::uint8_t>& reply) override;
  bool ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) override;
  bool WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data) override;
  std::uint8_t ReadVariable(std::uint16_t index, std::uint8_t wire_type,
                            std::vector<std::uint8_t>& value) override;
  std::uint8_t WriteVariable(std::uint16_t index, std::uint8_t wire_type, const std::uint8_t* data,
                             std::size_t size) override;

 private:
  std::shared_ptr<SymbolService> service_;
};

}  // namespace qxsym::sim
