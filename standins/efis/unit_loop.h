// korvan-efis while it serves: what the portable unit (efis_unit.cpp) and its platform's loop
// (posix_efis_unit.cpp, win32_efis_unit.cpp) share. The device (platform/device_server.h)
// serves on a thread of its own and hands the frames and events in there; the unit's thread
// sends its outputs, reads the keys and shows the panel. The report, the panel and the outputs
// are shared between the two under the unit's lock.
#pragma once

#include <mutex>

#include "platform/device_server.h"
#include "standins/efis/efis_outputs.h"
#include "standins/efis/efis_unit.h"
#include "standins/efis/unit_panel.h"
#include "standins/efis/unit_report.h"

namespace efisunit {

struct RunningUnit {
  const UnitOptions* options = nullptr;
  std::mutex lock;
  FrameReport report;
  UnitPanel panel;
  UnitOutputs* outputs = nullptr;
  platform::DeviceServer* device = nullptr;
  bool dropped = false;  // --drop-after has dropped its connections
};

// One turn of the unit's thread, under the lock: the keys when `keys` (standard input is
// readable, or the platform polls it), the engagement, the frames due and the panel. Returns
// the milliseconds it may wait before the next turn.
int UnitTurn(RunningUnit& unit, bool keys);

// The platform's: prepares the stop (signals or the console's Ctrl-C) and the wake-up. False when
// it cannot.
bool BeginUnitLoop();
// Wakes the unit's thread for a turn now (PIPE00 has opened). Any thread.
void WakeUnitLoop();
// Turns until the unit is stopped (or its panel window closed); opens and closes the panel
// window when asked for. False when the window was asked for, is needed and did not open.
bool ServeUnitLoop(RunningUnit& unit);
// --replay: the recorded frames through the panel, no device and no bridge. The exit code.
int RunReplay(const UnitOptions& options);

}  // namespace efisunit
