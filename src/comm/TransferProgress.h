// Where a channel reports how much of a long reply has arrived, as its
// fragments come in: bytes of the reply so far and the total it announced.
#pragma once

#include <cstdint>

namespace qxsym {

struct TransferProgress {
  void (*report)(std::uint32_t received, std::uint32_t total, void* context) = nullptr;
  void* context = nullptr;

  void operator()(std::uint32_t received, std::uint32_t total) const {
    if (report != nullptr) report(received, total, context);
  }
};

}  // namespace qxsym
