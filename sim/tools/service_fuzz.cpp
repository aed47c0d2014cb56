// Fuzz entry for the symbol service: the input is a sequence of requests,
// each a 16-bit little-endian length and that many bytes, run against a
// fresh service over the demo model. A reference field holding the pair
// (k, 0) stands for the k-th reference the service handed out so far, so the
// fuzzer reaches tags, types and groups without guessing check words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "SymbolModel.h"
#include "SymbolService.h"
#include "Wire.h"

using qxsym::SymRef;
using qxsym::sim::SymbolModel;
using qxsym::sim::SymbolService;

namespace {

std::shared_ptr<SymbolModel> Model() {
  static std::shared_ptr<SymbolModel> model = [] {
    std::string error;
    auto m = SymbolModel::LoadFile(QXSYM_SIM_DEMO_MODEL, &error);
    if (!m) std::abort();
    return m;
  }();
  return model;
}

void Collect(const std::vector<std::uint8_t>& reply, std::vector<SymRef>* issued) {
  if (reply.size() < 4 || qxsym::LoadU16(&reply[2]) != symResOk) return;
  auto ref_at = [&](std::size_t at) {
    if (reply.size() >= at + 8) {
      issued->push_back(SymRef{qxsym::LoadU32(&reply[at]), qxsym::LoadU32(&reply[at + 4])});
    }
  };
  switch (qxsym::LoadU16(&reply[0])) {
    case 4:
    case 10:
    case 70:
    case 83:
    case 84:
    case 100:
      ref_at(4);
      break;
    case 91:
    case 110:
      for (std::size_t at = 20; at + 8 <= reply.size(); at += 8) ref_at(at);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SymbolService service(Model());
  std::vector<SymRef> issued;
  std::vector<std::uint8_t> request, reply;
  std::size_t pos = 0;
  while (pos + 2 <= size) {
    std::size_t n = qxsym::LoadU16(data + pos);
    pos += 2;
    if (n > size - pos) n = size - pos;
    request.assign(data + pos, data + pos + n);
    pos += n;
    for (std::size_t at : {2u, 10u, 18u}) {
      if (request.size() < at + 8) break;
      const std::uint32_t w0 = qxsym::LoadU32(&request[at]), w1 = qxsym::LoadU32(&request[at + 4]);
      if (w1 == 0 && w0 < issued.size()) {
        qxsym::StoreU32(&request[at], issued[w0].w0);
        qxsym::StoreU32(&request[at + 4], issued[w0].w1);
      }
    }
    service.Handle(request.data(), request.size(), reply);
    if (reply.size() < 4) std::abort();
    Collect(reply, &issued);
  }
  return 0;
}
