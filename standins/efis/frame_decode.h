// The unit's own reading of the engine and flight frames: what the instrument shows from each.
// Written apart from the bridge's code, from the frame layouts alone, so one checks the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace efisunit {

struct EngineReadout {
  bool seen = false;
  int rpm = 0;
  int exhaustC = 0;       // offsets 10 and 12, repeated at 44 to 54
  int fuelFlow = 0;       // offset 14, in the unit's own scale
  int manifoldHpa = 0;    // offset 16
  int oilC = 0;           // offset 24
  double oilBar = 0;      // offset 26, 0.1 bar
  int cylinderHeadC = 0;  // offsets 32 to 42
  bool auxSeen = false;   // its auxiliary frame arrived with its constants (2300, 0)
};

// Everything the panel shows, in the panel's units; each part valid once its frame arrived.
struct PanelReadout {
  bool airData = false;  // sensor frame
  int altitudeFt = 0;
  int iasMph = 0;
  int tasMph = 0;
  int verticalSpeedFpm = 0;
  int outsideAirC = 0;

  bool attitude = false;
  double bankDeg = 0;
  double pitchDeg = 0;  // nose up positive
  double headingDeg = 0;
  double gyroHeadingDeg = 0;
  double correctedHeadingDeg = 0;
  double variationDeg = 0;
  double loadG = 0;
  int turn = 0;

  bool position = false;  // GPS 1
  double latitudeDeg = 0;
  double longitudeDeg = 0;
  double gpsAltitudeFt = 0;

  bool track = false;  // GPS 2
  double groundSpeedKt = 0;
  double trackDeg = 0;

  bool gpsStatus = false;  // GPS 3: constants only, nothing to show

  bool qnh = false;
  double qnhHpa = 0;

  EngineReadout engine[2];
};

// Takes one well-formed outbound frame (see CheckOutboundFrame) into `panel`. False for a kind
// the panel does not show (the servo status frame) or a frame too short for its kind.
bool TakeFrame(const std::uint8_t* frame, std::size_t size, PanelReadout& panel);

// The panel as one readable line (no line end), cut to fit `textSize`. Only the parts whose
// frames have arrived appear.
void FormatPanel(const PanelReadout& panel, char* text, std::size_t textSize);

// A frame's little-endian signed 16-bit field at `at`.
int S16(const std::uint8_t* frame, std::size_t at);

// Appends printf-formatted pieces to `text`, keeping it NUL-terminated within its `room`.
struct TextAppender {
  char* text;
  std::size_t room;
  std::size_t used = 0;

  void Add(const char* format, ...);
};

}  // namespace efisunit
