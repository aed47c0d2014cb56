// Encoding of the frames a controller sends: a reply frame is the stuffed
// length (u16), status byte, optional echoed sequence number (u16), data and
// checksum. The checksum adds the length bytes, the status and the data;
// the sequence number is left out of it. Reply frames have no start byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qxsym::sim {

// Largest data length of one reply frame: the length field also counts the
// status byte and the sequence number.
constexpr std::size_t kMaxReplyData = 0xFFFF - 3;

// Appends one stuffed reply frame to out. checksum_error is added to the
// correct checksum (0 for a sound frame; fault injection uses 1). Returns
// false, appending nothing, when the data does not fit one frame.
bool AppendReplyFrame(std::vector<std::uint8_t>& out, std::uint8_t status,
                      std::optional<std::uint16_t> sequence, const std::uint8_t* data,
                      std::size_t size, std::uint8_t checksum_error = 0);

}  // namespace qxsym::sim
