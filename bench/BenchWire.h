// Frame helpers of the benchmarks: a reply frame as a controller sends it,
// and the unstuffed body of a request frame. Kept apart from the library's
// codec (the stuffing is the tests' own, FrameStuffing.h) so that the
// benchmarks do not measure the codec with itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "FrameStuffing.h"

namespace qxsym::bench {

// Appends a reply frame: length, status, optional sequence, data, checksum.
inline void AppendReply(std::vector<std::uint8_t>& out, std::uint8_t status,
                        std::optional<std::uint16_t> sequence, const std::uint8_t* data,
                        std::size_t size) {
  const std::size_t length = 1 + (sequence ? 2 : 0) + size;
  const auto lo = static_cast<std::uint8_t>(length);
  const auto hi = static_cast<std::uint8_t>(length >> 8);
  auto sum = static_cast<std::uint8_t>(lo + hi + status);
  test::AppendStuffed(out, lo);
  test::AppendStuffed(out, hi);
  test::AppendStuffed(out, status);
  if (sequence) {
    test::AppendStuffed(out, static_cast<std::uint8_t>(*sequence));
    test::AppendStuffed(out, static_cast<std::uint8_t>(*sequence >> 8));
  }
  for (std::size_t i = 0; i < size; ++i) {
    sum = static_cast<std::uint8_t>(sum + data[i]);
    test::AppendStuffed(out, data[i]);
  }
  test::AppendStuffed(out, sum);
}

// Unstuffs a request frame that starts at data[0] (the start byte) and
// returns its body (length field excluded, checksum excluded), or nothing
// when the bytes do not hold one whole frame. *used receives the bytes the
// frame took.
inline std::optional<std::vector<std::uint8_t>> TakeRequest(const std::uint8_t* data, std::size_t n,
                                                            std::size_t* used) {
  if (n == 0 || data[0] != test::kStartByte) return std::nullopt;
  std::vector<std::uint8_t> plain;
  std::size_t i = 1;
  std::size_t want = 3;  // the length field and the checksum, for now
  while (plain.size() < want) {
    if (i >= n) return std::nullopt;
    std::uint8_t b = data[i++];
    if (b == test::kEscapeByte) {
      if (i >= n) return std::nullopt;
      b = test::Unescaped(data[i++]);
    }
    plain.push_back(b);
    if (plain.size() == 2) want = 3 + (plain[0] | (plain[1] << 8));
  }
  *used = i;
  return std::vector<std::uint8_t>(plain.begin() + 2, plain.end() - 1);
}

}  // namespace qxsym::bench
