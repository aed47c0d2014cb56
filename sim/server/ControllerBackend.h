// What the server reaches behind the wire: the symbol service, the memory
// image and the variable table. The server's sessions only see this
// interface, so their tests can use a scripted backend. Implementations are
// shared by all connections and must be safe to call from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxsym::sim {

// Statuses of reply frames sent by the server. Statuses 1 to 10 reach the
// client's channel as its internal error of the same number.
enum ReplyStatus : std::uint8_t {
  kStatusOk = 0,
  kStatusBadCommand = 1,    // unknown command or malformed payload
  kStatusMemoryRange = 2,   // memory access outside the image
  kStatusFragment = 3,      // fragment out of order, unknown transfer, inconsistent lengths
  kStatusTooLarge = 4,      // announced request total beyond the reassembly limit
  kStatusBadParameter = 6,  // variable index or wire type refused
  kStatusRefused = 7,       // variable access refused (read-only, wrong size)
};

class ControllerBackend {
 public:
  virtual ~ControllerBackend() = default;

  // One symbol-service request; reply receives the whole reply message.
  virtual void HandleMessage(const std::uint8_t* request, std::size_t size,
                             std::vector<std::uint8_t>& reply) = 0;
  // False when any byte lies outside the memory image.
  virtual bool ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) = 0;
  virtual bool WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data) = 0;
  // Reply status for the variable commands (kStatusOk on success).
  virtual std::uint8_t ReadVariable(std::uint16_t index, std::uint8_t wire_type,
                                    std::vector<std::uint8_t>& value) = 0;
  virtual std::uint8_t WriteVariable(std::uint16_t index, std::uint8_t wire_type,
                                     const std::uint8_t* data, std::size_t size) = 0;
};

}  // namespace qxsym::sim
