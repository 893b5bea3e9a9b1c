// The unit's own reading of the outbound frame catalogue: what a frame arriving on the write
// pipe must look like. Written apart from the bridge's code so one checks the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace efisunit {

// The frame size of an outbound type, 0 for a type the bridge never sends.
std::size_t OutboundFrameSize(std::uint8_t type);

// Null when `frame` is a well-formed outbound frame (known type in byte 3, the size of that
// type, byte 0 = size - 4, byte 1 = 0, byte 2 = 1); else why not, written into `reason`.
const char* CheckOutboundFrame(const std::uint8_t* frame, std::size_t size, char* reason,
                               std::size_t reasonSize);

// Lower-case hex of the bytes, no separators, NUL-terminated and cut to fit `textSize`.
void HexBytes(const std::uint8_t* bytes, std::size_t size, char* text, std::size_t textSize);

}  // namespace efisunit
