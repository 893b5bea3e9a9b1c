#include "standins/efis/frame_check.h"

#include <cstdio>

namespace efisunit {

std::size_t OutboundFrameSize(std::uint8_t type) {
  switch (type) {
    case 0:
      return 30;  // sensor
    case 1:
      return 64;  // ZENDA1
    case 2:
      return 64;  // ZENDA2
    case 3:
      return 20;  // GPS 3
    case 4:
      return 43;  // GPS 1
    case 5:
      return 24;  // GPS 2
    case 6:
      return 6;  // QNH
    case 11:
      return 37;  // attitude
    case 12:
      return 9;  // ZENDA1a
    case 13:
      return 9;  // ZENDA2a
    case 15:
      return 20;  // servo status
    default:
      return 0;
  }
}

const char* CheckOutboundFrame(const std::uint8_t* frame, std::size_t size, char* reason,
                               std::size_t reasonSize) {
  if (size < 4) {
    std::snprintf(reason, reasonSize, "%zu bytes, shorter than a header", size);
    return reason;
  }
  const std::size_t expected = OutboundFrameSize(frame[3]);
  if (expected == 0) {
    std::snprintf(reason, reasonSize, "unknown type %u", frame[3]);
  } else if (size != expected) {
    std::snprintf(reason, reasonSize, "type %u has %zu bytes, not %zu", frame[3], size, expected);
  } else if (frame[0] != expected - 4) {
    std::snprintf(reason, reasonSize, "type %u: byte 0 is %u, not %zu", frame[3], frame[0],
                  expected - 4);
  } else if (frame[1] != 0) {
    std::snprintf(reason, reasonSize, "type %u: byte 1 is %u, not 0", frame[3], frame[1]);
  } else if (frame[2] != 1) {
    std::snprintf(reason, reasonSize, "type %u: byte 2 is %u, not 1", frame[3], frame[2]);
  } else {
    return nullptr;
  }
  return reason;
}

void HexBytes(const std::uint8_t* bytes, std::size_t size, char* text, std::size_t textSize) {
  static const char digits[] = "0123456789abcdef";
  std::size_t out = 0;
  for (std::size_t i = 0; i < size && out + 2 < textSize; ++i) {
    text[out++] = digits[bytes[i] >> 4];
    text[out++] = digits[bytes[i] & 15];
  }
  if (textSize > 0) text[out] = '\0';
}

}  // namespace efisunit
