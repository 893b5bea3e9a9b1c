// Program entry of korvan-bridge: the application, its one window, the message loop.
#include <cstdio>

#include "app/LogFile.h"
#include "app/Unit1.h"
#include "efis/FrameMath.h"
#include "platform/instance.h"
#include "platform/toolkit.h"
#include "simlink/SimLinkClient.h"

namespace {

// The session's one claim: a second copy would find no EFIS, and its disengaged ticks would
// write 0 at the control disconnect under the first copy's engaged autopilot.
constexpr char kInstanceName[] = "Korvan EFIS bridge";

}  // namespace

int main() {
  Application->Title = "Korvan EFIS to Flightsim bridge";
  // Before anything touches the simulator link, the EFIS or the log.
  if (!platform::ClaimOnlyInstance(kInstanceName)) {
    std::fputs("korvan-bridge: another copy runs in this session; this one exits\n", stderr);
    Application->ShowRunningCopy("TForm1");
    return 0;
  }
  // This thread runs the bridge cycle, and with it every frame conversion.
  SetExtendedPrecision();
  LogFileOpen();
  Application->Initialize();
  Form1 = new TForm1(Application);
  Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
  Application->Run();
  // The link's area and atom are system-wide: release them however the loop ended.
  SimLinkClose();
  LogFileExit();
  return 0;
}
