// The bridge's main form on the headless toolkit, opened as the program opens it (connecting
// to whatever stand-ins run) and closed again, for tests and measurements that drive its ticks
// by hand.
#pragma once

#include "app/Unit1.h"
#include "efis/FrameMath.h"
#include "efis/SharedState.h"
#include "platform/null/null_toolkit.h"
#include "simlink/SimLinkClient.h"

namespace testsupport {

inline void OpenBridgeForm() {
  SetExtendedPrecision();  // the cycle converts on this thread
  NullToolkitReset();
  ResetCycleState();
  ResetSharedState();
  Application->Title = "Korvan EFIS to Flightsim bridge";
  Form1 = new TForm1(Application);
  Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
}

inline void CloseBridgeForm() {
  SimLinkClose();
  NullToolkitReset();
  Form1 = nullptr;
}

}  // namespace testsupport
