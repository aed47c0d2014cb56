#include "ReplyEncoder.h"

#include "FrameDecoder.h"

namespace qxsym::sim {

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
  // Worst case every byte doubles.
  out.reserve(out.size() + 2 * (length + 3));
  std::uint8_t sum = static_cast<std::uint8_t>(len_lo + len_hi + status);
  AppendStuffed(out, len_lo);
  AppendStuffed(out, len_hi);
  AppendStuffed(out, status);
  if (sequence) {
    AppendStuffed(out, static_cast<std::uint8_t>(*sequence));
    AppendStuffed(out, static_cast<std::uint8_t>(*sequence >> 8));
  }
  for (std::size_t i = 0; i < size; ++i) {
    sum = static_cast<std::uint8_t>(sum + data[i]);
    AppendStuffed(out, data[i]);
  }
  AppendStuffed(out, static_cast<std::uint8_t>(sum + checksum_error));
  return true;
}

}  // namespace qxsym::sim
