#include "standins/efis/unit_report.h"

#include <cstdarg>
#include <cstring>

#include "standins/efis/frame_check.h"

namespace efisunit {

void Record(FrameReport& report, const char* format, ...) {
  if (report.record == nullptr) return;
  std::fprintf(report.record, "%llu ", static_cast<unsigned long long>(UnitNowMs()));
  va_list args;
  va_start(args, format);
  std::vfprintf(report.record, format, args);
  va_end(args);
  std::fputc('\n', report.record);
  std::fflush(report.record);
}

void ReportChannel(FrameReport& report, const char* what, const char* channel) {
  Record(report, "%s %s", what, channel);
  if (report.verbose) Say("%s %s", what, channel);
}

bool ReportFrame(FrameReport& report, const std::uint8_t* frame, std::size_t size) {
  ++report.frames;
  const std::size_t kept = size < kMaxFrame ? size : kMaxFrame;
  char hex[2 * kMaxFrame + 1];
  HexBytes(frame, kept, hex, sizeof hex);
  char reason[96];
  if (const char* bad = CheckOutboundFrame(frame, size, reason, sizeof reason)) {
    Say("bad frame (%s): %s", bad, hex);
    Record(report, "bad %zu %s: %s", size, bad, hex);
    return false;
  }
  // A catalogue frame: short, and its type below 16.
  std::memcpy(report.last[frame[3]], frame, size);
  report.lastSize[frame[3]] = size;
  if (report.verbose) Say("frame type %u, %zu bytes: %s", frame[3], size, hex);
  Record(report, "frame %u %zu %s", frame[3], size, hex);
  return true;
}

void SayLastFrames(const FrameReport& report) {
  for (int type = 0; type < 16; ++type) {
    if (report.lastSize[type] == 0) continue;
    char hex[2 * kMaxFrame + 1];
    HexBytes(report.last[type], report.lastSize[type], hex, sizeof hex);
    Say("last frame type %d: %s", type, hex);
  }
}

}  // namespace efisunit
