// The simulator's side of a connection: received bytes from the input go
// into a session (request-frame decoder, acknowledgements, handshakes,
// fragment reassembly, memory, variable and symbol-service commands over
// the demo model), with its settings and fault injection taken from the
// first bytes. The same bytes also go through a bare frame decoder, whose
// frames must stay within the 16-bit length field.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FrameDecoder.h"
#include "ModelBackend.h"
#include "Session.h"
#include "SymbolModel.h"
#include "SymbolService.h"

using qxsym::sim::ModelBackend;
using qxsym::sim::RequestFrameDecoder;
using qxsym::sim::Session;
using qxsym::sim::SessionIo;
using qxsym::sim::SessionOptions;
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

// The model's memory as loaded: every input starts from it, so that an
// input that fails does so again when it is replayed alone.
const std::vector<std::uint8_t>& PristineMemory() {
  static const std::vector<std::uint8_t> image = [] {
    std::vector<std::uint8_t> bytes(Model()->memory_size());
    if (!Model()->ReadMemory(Model()->memory_base(), bytes.size(), bytes.data())) std::abort();
    return bytes;
  }();
  return image;
}

class CountingIo final : public SessionIo {
 public:
  void Write(const std::uint8_t*, std::size_t n) override { written += n; }
  void Delay(std::uint32_t) override {}
  void Log(const std::string& line) override { logged += line.size(); }
  std::size_t written = 0;
  std::size_t logged = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  RequestFrameDecoder decoder;
  for (std::size_t i = 4; i < size; ++i) {
    if (decoder.Push(data[i]) == RequestFrameDecoder::Event::kFrame && decoder.body_size() > 0xFFFF)
      std::abort();
  }

  SessionOptions options;
  const std::uint8_t flags = data[0];
  options.ack = (flags & 1) == 0;
  options.sequence = (flags & 2) == 0;
  options.reply_fragment_size = 30 + data[1] * 4u;
  options.max_request = (flags & 4) ? 1u << 20 : 1u + data[2] * 16u;
  const std::uint8_t faults = data[3];
  if (flags & 8) options.bad_checksum_every = 1 + (faults & 3);
  if (flags & 16) options.nak_every = 1 + ((faults >> 2) & 3);
  if (flags & 32) options.stale_every = 1 + ((faults >> 4) & 3);
  if (flags & 64) options.close_after = 1 + (faults >> 6) * 4u;
  options.max_bad_frames = 4 + (faults & 15);
  options.max_noise = 256;

  const auto& image = PristineMemory();
  Model()->WriteMemory(Model()->memory_base(), image.size(), image.data());
  auto service = std::make_shared<SymbolService>(Model());
  ModelBackend backend(service);
  CountingIo io;
  Session session(options, backend, io, (flags & 128) != 0);
  // Received in pieces, as a socket delivers them.
  std::size_t at = 4;
  std::size_t piece = 1 + (faults % 64);
  while (at < size && !session.closed()) {
    const std::size_t n = std::min(piece, size - at);
    session.Receive(data + at, n);
    at += n;
    piece = piece * 3 % 97 + 1;
  }
  return 0;
}
