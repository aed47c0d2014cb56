#include "ReplyEncoder.h"

#include <cstring>

#include "FrameDecoder.h"

namespace qxsym::sim {
namespace {

// Writes b at w, stuffed when it is a control byte; returns the next free byte.
inline std::uint8_t* PutStuffed(std::uint8_t* w, std::uint8_t b) {
  if (NeedsStuffing(b)) {
    *w++ = kStuffEscape;
    *w++ = static_cast<std::uint8_t>(b | gdb::kEscapeBit);
  } else {
    *w++ = b;
  }
  return w;
}

// Length of the leading part of p[0..n) that needs no stuffing. Words of
// eight bytes none of which lies in 0x10..0x1F (where the four control bytes
// are) are passed whole; only a word that has such a byte is looked at byte
// by byte.
std::size_t PlainRun(const std::uint8_t* p, std::size_t n) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::size_t k = 0;
  while (k < n) {
    while (n - k >= 8) {
      std::uint64_t x;
      std::memcpy(&x, p + k, sizeof x);
      const std::uint64_t t = (x & (kOnes * 0xF0)) ^ (kOnes * 0x10);  // 0 where 0x1?
      if (((t - kOnes) & ~t & kHigh) != 0) break;
      k += 8;
    }
    const std::size_t stop = n - k < 8 ? n : k + 8;
    while (k < stop && !NeedsStuffing(p[k])) ++k;
    if (k < stop) return k;
  }
  return k;
}

}  // namespace

bool AppendReplyFrame(std::vector<std::uint8_t>& out, std::uint8_t status,
                      std::optional<std::uint16_t> sequence, const std::uint8_t* data,
                      std::size_t size, std::uint8_t checksum_error) {
  if (size > kMaxReplyData) return false;
  const std::size_t length = 1 + (sequence ? 2 : 0) + size;
  const auto len_lo = static_cast<std::uint8_t>(length);
  const auto len_hi = static_cast<std::uint8_t>(length >> 8);
  // Room for the worst case, every byte doubled, written through a pointer
  // and trimmed afterwards: long replies (table fragments) cost a few
  // instructions per byte rather than a growth check each.
  const std::size_t start = out.size();
  out.resize(start + 2 * (length + 3));
  std::uint8_t* w = out.data() + start;
  auto sum = static_cast<std::uint8_t>(len_lo + len_hi + status);
  w = PutStuffed(w, len_lo);
  w = PutStuffed(w, len_hi);
  w = PutStuffed(w, status);
  if (sequence) {
    w = PutStuffed(w, static_cast<std::uint8_t>(*sequence));
    w = PutStuffed(w, static_cast<std::uint8_t>(*sequence >> 8));
  }
  // The checksum in a loop of its own, which the compiler vectorises; the
  // data copied in runs between the bytes that need stuffing.
  std::uint8_t data_sum = 0;  // modulo 256, as the checksum is
  for (std::size_t i = 0; i < size; ++i) data_sum = static_cast<std::uint8_t>(data_sum + data[i]);
  sum = static_cast<std::uint8_t>(sum + data_sum);
  const std::uint8_t* p = data;
  const std::uint8_t* const end = data + size;
  while (p != end) {
    const std::size_t run = PlainRun(p, static_cast<std::size_t>(end - p));
    if (run != 0) std::memcpy(w, p, run);
    w += run;
    p += run;
    if (p == end) break;
    w = PutStuffed(w, *p++);
  }
  w = PutStuffed(w, static_cast<std::uint8_t>(sum + checksum_error));
  out.resize(static_cast<std::size_t>(w - out.data()));
  return true;
}

}  // namespace qxsym::sim
