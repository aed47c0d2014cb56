// The client's reply decoder on its own. The first byte picks the sequence
// mode and the buffer's capacity, the second the seed of the piece sizes;
// the rest is the controller's byte stream, decoded frame after frame twice:
// once in pieces, once a byte at a time. Both must hand out the same frames,
// take every byte of a piece unless a frame ended in it, and never write
// beyond the buffer they were given.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "GDBReplyDecoder.h"

using qxsym::GDBReplyDecoder;
using qxsym::GDBReplyFrame;
using Event = GDBReplyDecoder::Event;

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardSize = 16;

struct Decoded {
  Event event;
  GDBReplyFrame frame;
  std::vector<std::uint8_t> data;
};

// Decodes one frame from stream[*at..), in pieces of the sizes `piece`
// returns. False when the stream ended inside the frame.
template <typename Piece>
bool DecodeOne(GDBReplyDecoder* d, const std::uint8_t* stream, std::size_t size, std::size_t* at,
               Piece piece, Decoded* out) {
  Event event = Event::kNeedMore;
  while (event == Event::kNeedMore) {
    if (*at == size) return false;
    const std::size_t n = std::min(piece(), size - *at);
    const std::size_t taken = d->Feed(stream + *at, n, &event);
    Require(taken <= n && taken != 0);
    if (event == Event::kNeedMore) Require(taken == n);
    *at += taken;
  }
  out->event = event;
  out->frame = d->frame();
  out->data.clear();
  if (out->frame.stored != 0) {
    out->data.assign(out->frame.data, out->frame.data + out->frame.stored);
  }
  return true;
}

bool Same(const Decoded& a, const Decoded& b) {
  if (a.event != b.event || a.frame.status != b.frame.status) return false;
  if (a.event == Event::kBadLength) return true;
  return a.frame.sequence == b.frame.sequence && a.frame.length == b.frame.length &&
         a.frame.stored == b.frame.stored && a.frame.checksum_ok == b.frame.checksum_ok &&
         a.data == b.data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool sequence_mode = (data[0] & 1) != 0;
  const auto capacity = static_cast<std::uint32_t>(data[0] >> 1) * 9u;  // 0 to 1143
  std::uint32_t seed = data[1] | 1u;
  const std::uint8_t* stream = data + 2;
  const std::size_t length = size - 2;

  std::vector<std::uint8_t> chunked(capacity + kGuardSize, kGuard);
  std::vector<std::uint8_t> single(capacity + kGuardSize, kGuard);
  GDBReplyDecoder a(sequence_mode, chunked.data(), capacity);
  GDBReplyDecoder b(sequence_mode, single.data(), capacity);
  auto pieces = [&seed]() -> std::size_t {
    seed = seed * 1103515245u + 12345u;
    return 1 + ((seed >> 16) % 97);
  };
  auto one = []() -> std::size_t { return 1; };

  std::size_t at_a = 0, at_b = 0;
  for (;;) {
    Decoded da, db;
    const bool got_a = DecodeOne(&a, stream, length, &at_a, pieces, &da);
    const bool got_b = DecodeOne(&b, stream, length, &at_b, one, &db);
    Require(got_a == got_b && at_a == at_b);
    if (!got_a) break;
    Require(Same(da, db));
    if (da.event == Event::kFrame) {
      Require(da.frame.stored == std::min(da.frame.length, capacity));
      Require(da.frame.dropped() == (da.frame.length > capacity));
    }
    a.Next();
    b.Next();
  }
  for (std::size_t i = capacity; i < chunked.size(); ++i) {
    Require(chunked[i] == kGuard && single[i] == kGuard);
  }
  return 0;
}
