// The project's own COM communication server: an in-process class that
// serves the connection and target interfaces the COM channel calls, from a
// memory image (or any other backend). While a FerrolinkReferenceServer
// lives, CoCreateInstance of kFerrolinkServerClass creates it in this
// process. The shared state scripts its answers and records every call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FerrolinkInterfaces.h"

namespace qxsym::test {

class FerrolinkBackend {
 public:
  virtual ~FerrolinkBackend() = default;
  // False when any byte lies outside the memory.
  virtual bool ReadMemory(std::uint32_t address, std::uint32_t n, std::uint8_t* out) = 0;
  virtual bool WriteMemory(std::uint32_t address, std::uint32_t n, const std::uint8_t* data) = 0;
  // The variable as a VARIANT of type vt; false when there is none.
  virtual bool ReadVariable(std::uint16_t index, VARTYPE vt, VARIANT* value) = 0;
};

// A memory image from base on, and variables kept as numbers or texts.
class MemoryBackend final : public FerrolinkBackend {
 public:
  MemoryBackend(std::uint32_t base, std::uint32_t size) : base_(base), memory_(size) {}
  bool ReadMemory(std::uint32_t address, std::uint32_t n, std::uint8_t* out) override;
  bool WriteMemory(std::uint32_t address, std::uint32_t n, const std::uint8_t* data) override;
  bool ReadVariable(std::uint16_t index, VARTYPE vt, VARIANT* value) override;

  std::vector<std::uint8_t>& memory() { return memory_; }
  std::map<std::uint16_t, std::int64_t> numbers;
  std::map<std::uint16_t, std::u16string> texts;

 private:
  bool Range(std::uint32_t address, std::uint32_t n) const;
  std::uint32_t base_;
  std::vector<std::uint8_t> memory_;
};

struct FerrolinkServerState {
  // Script.
  std::u16string protocol = u"GDB";  // what GetProtocolName reports
  bool fail_connect = false;
  bool fail_get_target = false;
  bool fail_protocol_name = false;
  std::uint8_t marker = 0xAA;  // last byte of every generic answer
  bool send_marker = true;     // false: read answers end after the data
  bool value_valid = true;
  bool timed_out = false;
  std::shared_ptr<FerrolinkBackend> backend;

  // Record: calls per method position, and the last arguments seen.
  int calls[64] = {};
  int live_objects = 0;
  std::u16string connected_to;
  long last_target = -1;
  std::vector<std::uint8_t> last_request;
  long last_capacity = 0;
  std::uint32_t last_address = 0;
  long last_size = 0;
  std::uint32_t last_bit_offset = 0;
  unsigned last_bit_width = 0;
  std::uint32_t last_value = 0;
  unsigned last_index = 0;
  VARTYPE last_type = VT_EMPTY;
};

class FerrolinkReferenceServer {
 public:
  // Registers the class for the process (the caller has called CoInitialize).
  explicit FerrolinkReferenceServer(std::shared_ptr<FerrolinkServerState> state);
  ~FerrolinkReferenceServer();
  FerrolinkReferenceServer(const FerrolinkReferenceServer&) = delete;
  FerrolinkReferenceServer& operator=(const FerrolinkReferenceServer&) = delete;

  bool registered() const { return registered_; }

 private:
  DWORD cookie_ = 0;
  bool registered_ = false;
};

}  // namespace qxsym::test
