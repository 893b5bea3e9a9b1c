// korvan-efis on every platform: what the unit shows and does with the bridge's frames, and how
// a person works it. The panel session (efis_panel.h) takes each well-formed frame; the unit
// holds the simulator's altimeter setting as its own unless it announces its own (--qnh-every);
// the autopilot steps on each attitude frame and its positions go out in the servo frames; keys
// (of the terminal or console, or the window's) engage it, move the heading bug and set QNH.
// The panel's line once a second, the text panel every --panel-every seconds. Runs on the unit's
// thread, or under its lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standins/efis/efis_panel.h"
#include "standins/efis/efis_unit.h"
#include "standins/efis/unit_report.h"

namespace efisunit {

struct UnitPanel {
  const UnitOptions* options = nullptr;
  UnitOutputs* outputs = nullptr;
  FrameReport* report = nullptr;  // the record gets the autopilot's lines and the sent frames
  PanelSession session;
  bool news = false;  // a frame changed the panel since its last line
  std::uint64_t nextLineMs = 0;
  std::uint64_t nextTextMs = 0;
  std::uint64_t engageAtMs = 0;  // --engage-after: when, once PIPE00 has opened; 0 none
  void (*redraw)() = nullptr;    // the panel window's, while there is one
};

// Ties the panel to the unit: the outputs' keys and sent frames go through it from now on, and
// the servo frames carry the options' modes and positions until the autopilot engages.
void BeginPanel(UnitPanel& panel, const UnitOptions& options, UnitOutputs& outputs,
                FrameReport& report);
// The bridge opened PIPE00: the outputs' schedule starts over, and --engage-after counts from
// the first open.
void PanelPipeOpened(UnitPanel& panel, std::uint64_t now);
// A frame from the bridge that ReportFrame found well-formed.
void PanelTakeFrame(UnitPanel& panel, const std::uint8_t* frame, std::size_t size);
// A key of the terminal, the console or the window, or a button (`context`: the UnitPanel).
void PanelKey(void* context, char key);
// --engage-after: engages once due and the panel has attitude and air data.
void EngageWhenDue(UnitPanel& panel);
// The panel's line and the text panel when they are due. Returns the milliseconds until the
// next of them, a frame or the engagement check is due: the unit's wait.
int ShowPanel(UnitPanel& panel);

// --replay: the frames of a record file into `session`, then the panel's line and the text
// panel on standard output. The number of frames shown; -1 when the file does not open.
long ReplayRecording(const UnitOptions& options, PanelSession& session);

}  // namespace efisunit
