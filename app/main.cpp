// Program entry of korvan-bridge: the application, its one window, the message loop.
#include "app/LogFile.h"
#include "app/Unit1.h"
#include "efis/FrameMath.h"
#include "platform/toolkit.h"
#include "simlink/SimLinkClient.h"

int main() {
  // This thread runs the bridge cycle, and with it every frame conversion.
  SetExtendedPrecision();
  LogFileOpen();
  Application->Initialize();
  Application->Title = "Korvan EFIS to Flightsim bridge";
  Form1 = new TForm1(Application);
  Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
  Application->Run();
  // The link's area and atom are system-wide: release them however the loop ended.
  SimLinkClose();
  LogFileExit();
  return 0;
}
