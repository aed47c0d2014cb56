// The bridge's payload decoder on commands from the network. Whatever the
// bytes, decoding either fails with a message or yields a payload that
// encodes and decodes again to the same metrics; restamping takes every
// payload decoding takes (it also takes values of another kind than their
// datatype, which only decoding refuses).
#include <Sparkplug.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using qxsym::bridge::Payload;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Payload payload;
  std::string error;
  const bool ok = qxsym::bridge::DecodePayload(data, size, &payload, &error);
  Require(ok || !error.empty());
  std::vector<std::uint8_t> restamped;
  const bool restamp_ok = qxsym::bridge::RestampPayload(
      std::vector<std::uint8_t>(data, data + size), 1, true, &restamped);
  Require(!ok || restamp_ok);
  if (!ok) return 0;
  const std::vector<std::uint8_t> again = qxsym::bridge::EncodePayload(payload);
  Payload back;
  Require(qxsym::bridge::DecodePayload(again.data(), again.size(), &back, &error));
  Require(back.metrics.size() == payload.metrics.size());
  for (std::size_t k = 0; k < back.metrics.size(); ++k) {
    Require(back.metrics[k].name == payload.metrics[k].name);
    Require(back.metrics[k].alias == payload.metrics[k].alias);
    Require(back.metrics[k].value.is_null == payload.metrics[k].value.is_null);
    Require(back.metrics[k].properties.size() == payload.metrics[k].properties.size());
  }
  return 0;
}
