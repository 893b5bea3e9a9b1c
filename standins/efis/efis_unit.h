// korvan-efis: the stand-in for the Korvan EFIS and its USB driver.
#pragma once

#include <string>

#include "standins/efis/efis_outputs.h"

namespace efisunit {

struct UnitOptions {
  std::string unit = "efis0";  // entry name and the last part of the device path
  bool failDevice = false;     // refuse every open of the device
  bool refuseRead = false;     // refuse every open of PIPE00
  bool refuseWrite = false;    // refuse every open of PIPE01
  long dropAfter = 0;          // > 0: drop every connection after that many frames, once
  std::string record;          // file getting every event and frame with a time stamp
  bool recordSent = false;     // ... and the frames the unit sends
  bool verbose = false;        // a line per frame and per open and close on stdout
  OutputOptions outputs;       // what the unit sends on PIPE00
  // The panel: a window, the text panel on standard output, or neither (the panel line only).
  bool windowPanel = false;
  bool panelOptional = false;  // no display: go on without the window
  bool textPanel = false;
  double panelEveryS = 2;    // the text panel's period
  double engageAfterS = -1;  // >= 0: engage the autopilot that long after PIPE00 opens
  double headingBug = -1;    // >= 0: with it, heading hold to this heading
  std::string replay;        // a record file: show its frames instead of serving
};

// Whether this platform's unit has the panel window (GTK's; korvan-efis.exe shows text only).
extern const bool kUnitHasPanelWindow;

// Publishes the interface, serves the device and its pipes until SIGINT or SIGTERM, then
// removes everything it made. Returns the exit code.
int RunUnit(const UnitOptions& options);

}  // namespace efisunit
