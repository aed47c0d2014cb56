#include "ModelBackend.h"

#include <utility>

namespace qxsym::sim {

ModelBackend::ModelBackend(std::shared_ptr<SymbolService> service) : service_(std::move(service)) {}

void ModelBackend::HandleMessage(const std::uint8_t* request, std::size_t size,
                                 std::vector<std::uint8_t>& reply) {
  service_->Handle(request, size, reply);
}

bool ModelBackend::ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) {
  return service_->program()->ReadMemory(address, n, out);
}

bool ModelBackend::WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data) {
  return service_->program()->WriteMemory(address, n, data);
}

std::uint8_t ModelBackend::ReadVariable(std::uint16_t index, std::uint8_t wire_type,
                                        std::vector<std::uint8_t>& value) {
  const QXSymResult r = service_->program()->ReadVariable(index, wire_type, &value);
  if (r == symResOk) return kStatusOk;
  return r == symResInvalidParameter ? kStatusBadParameter : kStatusRefused;
}

std::uint8_t ModelBackend::WriteVariable(std::uint16_t index, std::uint8_t wire_type,
                                         const std::uint8_t* data, std::size_t size) {
  const QXSymResult r = service_->program()->WriteVariable(index, wire_type, data, size);
  if (r == symResOk) return kStatusOk;
  return r == symResInvalidParameter ? kStatusBadParameter : kStatusRefused;
}

}  // namespace qxsym::sim
