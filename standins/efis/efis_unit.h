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
  bool verbose = false;        // a line per frame and per open and close on stdout
  OutputOptions outputs;       // what the unit sends on PIPE00
};

// Publishes the interface, serves the device and its pipes until SIGINT or SIGTERM, then
// removes everything it made. Returns the exit code.
int RunUnit(const UnitOptions& options);

}  // namespace efisunit
