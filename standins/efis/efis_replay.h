// Frames recorded by korvan-efis --record, read back: "MS frame TYPE SIZE HEX" lines (the frames
// the bridge sent). Lets the panel be drawn and checked from frames alone, with no bridge.
#pragma once

#include <cstddef>
#include <cstdint>

namespace efisunit {

inline constexpr std::size_t kReplayMaxFrame = 512;

struct ReplayFrame {
  std::uint64_t ms = 0;
  std::size_t size = 0;
  std::uint8_t bytes[kReplayMaxFrame];
};

// One line of a record file. True for a well-formed frame line whose hex has SIZE bytes;
// false for every other line (opens, closes, sent frames, anything malformed).
bool ParseRecordedFrame(const char* line, ReplayFrame& frame);

}  // namespace efisunit
