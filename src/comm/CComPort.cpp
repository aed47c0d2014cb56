#include "CComPort.h"

#include <algorithm>
#include <cstring>

namespace qxsym {

bool CComPort::Receive(std::uint8_t* buffer, std::uint16_t timeoutMs, std::uint32_t count) {
  if (!connected()) return false;
  while (count != 0) {
    const std::uint8_t* data = nullptr;
    std::uint32_t available = 0;
    if (!Window(timeoutMs, &data, &available)) return false;
    const std::uint32_t n = std::min(available, count);
    std::memcpy(buffer, data, n);
    Consume(n);
    buffer += n;
    count -= n;
  }
  return true;
}

}  // namespace qxsym
