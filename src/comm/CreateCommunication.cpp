#include <cstdint>
#include <cstring>
#include <memory>

#include "CCommunication.h"
#include "CGDBCommunication.h"
#if defined(_WIN32)
#include "CFerrolinkCommunication.h"
#endif

namespace qxsym {

std::unique_ptr<CCommunication> CreateCommunication(const QXSymServerAddress* address) {
  if (address == nullptr) return nullptr;
  // The caller may store any 32-bit value in the field; read it as an
  // integer rather than as the enumeration.
  std::int32_t protocol = 0;
  std::memcpy(&protocol, &address->protocol, sizeof(protocol));
  std::unique_ptr<CCommunication> channel;
  switch (protocol) {
    case symProtGDB_TCP:
      channel = std::make_unique<CGDBCommunication>();
      break;
#if defined(_WIN32)
    case symProtFerrolink:
      channel = std::make_unique<CFerrolinkCommunication>();
      break;
#endif
    default:
      // The COM channel (protocol 1) exists only where COM does; direct
      // access and unknown values have no channel at all.
      return nullptr;
  }
  if (!channel->Open(address)) return nullptr;
  return channel;
}

}  // namespace qxsym
