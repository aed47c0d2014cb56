// The byte stuffing of the controller protocol as the tests, benchmarks and
// fuzzers write and undo it. Written from the wire format and sharing no
// code with the library or the simulator, so that it checks their encoders
// rather than repeating them: each of the four control bytes travels as the
// escape byte followed by the value with bit 6 set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxsym::test {

constexpr std::uint8_t kStartByte = 0x10;
constexpr std::uint8_t kEscapeByte = 0x1B;

inline bool IsControlByte(std::uint8_t b) {
  return b == 0x10 || b == 0x11 || b == 0x13 || b == 0x1B;
}

// Appends b to out, stuffed when it is a control byte.
inline void AppendStuffed(std::vector<std::uint8_t>& out, std::uint8_t b) {
  if (IsControlByte(b)) {
    out.push_back(kEscapeByte);
    out.push_back(static_cast<std::uint8_t>(b | 0x40));
  } else {
    out.push_back(b);
  }
}

// The value that follows an escape byte stands for.
inline std::uint8_t Unescaped(std::uint8_t b) { return static_cast<std::uint8_t>(b & 0xBF); }

// Undoes the stuffing of data[0..size): an escape byte and the one after it
// become one value; an escape byte at the very end stays as it is.
inline std::vector<std::uint8_t> Unstuff(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> plain;
  plain.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    std::uint8_t b = data[i];
    if (b == kEscapeByte && i + 1 < size) b = Unescaped(data[++i]);
    plain.push_back(b);
  }
  return plain;
}

}  // namespace qxsym::test
