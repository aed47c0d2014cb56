#include "ReplyEncoder.h"

#include "FrameDecoder.h"

namespace qxsym::sim {
namespace {

// Writes b at w, stuffed when it is a control byte; returns the next free byte.
inline std::uint8_t* PutStuffed(std::uint8_t* w, std::uint8_t b) {
  if (NeedsStuffing(b)) {
    *w++ = kStuffEscape;
    *w++ = static_cast<std::uint8_t>(b | 0x40);
  } else {
    *w++ = b;
  }
  return w;
}

}  // namespace

void AppendStuffed(std::vector<std::uint8_t>& out, std::uint8_t b) {
  if (NeedsStuffing(b)) {
    out.push_back(kStuffEscape);
    out.push_back(static_cast<std::uint8_t>(b | 0x40));
  } else {
    out.push_back(b);
  }
}

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
  for (std::size_t i = 0; i < size; ++i) {
    sum = static_cast<std::uint8_t>(sum + data[i]);
    w = PutStuffed(w, data[i]);
  }
  w = PutStuffed(w, static_cast<std::uint8_t>(sum + checksum_error));
  out.resize(static_cast<std::size_t>(w - out.data()));
  return true;
}

}  // namespace qxsym::sim
