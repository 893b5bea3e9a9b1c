// korvan-efis on every platform: what the unit keeps of the bridge's frames and how it reports
// them. Each frame is checked against the catalogue, the last of each kind kept for the summary
// at the end, and every frame, open and close written to the record with a time stamp (on
// standard output too when verbose). What the panel makes of the frames is unit_panel.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "standins/common/say.h"

namespace efisunit {

inline constexpr std::size_t kMaxFrame = 512;  // larger than any frame; longer ones are cut

struct FrameReport {
  bool verbose = false;
  std::FILE* record = nullptr;
  long frames = 0;
  std::uint8_t last[16][kMaxFrame] = {};
  std::size_t lastSize[16] = {};
};

// The unit's millisecond clock, of its platform's unit file.
std::uint64_t UnitNowMs();

using standins::Say;
// A line in the record, after the time stamp.
void Record(FrameReport& report, const char* format, ...);
// An open, close or refusal of a channel ("device", "PIPE00", "PIPE01").
void ReportChannel(FrameReport& report, const char* what, const char* channel);
// A frame from the bridge: `size` bytes long, of which the first min(size, kMaxFrame) are there.
// True when it is a well-formed frame of the catalogue, for the panel to take.
bool ReportFrame(FrameReport& report, const std::uint8_t* frame, std::size_t size);
// The last frame of each kind, at the end.
void SayLastFrames(const FrameReport& report);

}  // namespace efisunit
