// What korvan-efis shows and how a person works it: the readout of the frames (frame_decode.h),
// what the bridge reports of its servo sliders, the autopilot and the altimeter setting, drawn as
// a compact text panel or in a window (panel_window.h). Portable; the unit's loop feeds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standins/efis/efis_autopilot.h"
#include "standins/efis/frame_decode.h"

namespace efisunit {

// The servo status frame (type 15): the bridge's sliders, as -shown / 32 for each servo.
struct ServoStatus {
  bool seen = false;
  int bank = 0;
  int pitch = 0;
};

struct PanelSession {
  PanelReadout readout;
  ServoStatus status;
  Autopilot ap;
  long qnhTenths = 0;  // the unit's altimeter setting: its own knob, or the bridge's last frame
  std::uint16_t bankPos = 7000, pitchPos = 7000;  // the servo frame's positions
  bool engagedMode = false;                       // the servo frame's modes are 3
};

// Takes a servo status frame; false for anything else.
bool TakeStatusFrame(const std::uint8_t* frame, std::size_t size, ServoStatus& status);

// Takes one well-formed frame from the bridge into the session (the readout, the status, the
// altimeter setting of a QNH frame). False for a frame the panel does not show.
bool TakeSessionFrame(const std::uint8_t* frame, std::size_t size, PanelSession& session);

// What a key (or a button) asks for.
enum class PanelAction {
  None,
  ToggleAutopilot,  // a
  HeadingLeft,      // [  heading bug 10 degrees left (heading hold from then on)
  HeadingRight,     // ]
  QnhUp,            // +  1 hPa
  QnhDown,          // -
};
PanelAction KeyAction(char key);
extern const char kPanelKeysHelp[];  // one line

// Engages or disengages, with what the unit shows now; a heading key while engaged moves the bug.
// Returns a line saying what happened, for the unit's output ("autopilot engaged: ...").
const char* ApplyAutopilotAction(PanelSession& session, PanelAction action, char* line,
                                 std::size_t lineSize);

// One autopilot step on a new attitude; sets the servo frame's modes and positions.
void StepSessionAutopilot(PanelSession& session, double timeS);

// The autopilot's state in a few words: "AP OFF", "AP LVL ALT 3000", "AP HDG 180 ALT 3000".
void FormatAutopilot(const Autopilot& ap, char* text, std::size_t textSize);

// The compact text panel: a few lines, each ending in '\n'.
void FormatTextPanel(const PanelSession& session, char* text, std::size_t textSize);

}  // namespace efisunit
