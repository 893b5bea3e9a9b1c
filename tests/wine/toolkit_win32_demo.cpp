// The toolkit's demonstration window on the Win32 backend, read back by toolkit-win32-check.
// Its idle handler asks to run every 50 ms, as the frame timer does; the exit code is the
// number of idle calls per second of the run (a loop that spins makes thousands).
#include <chrono>
#include <cstdlib>

#include "../gui/toolkit_demo_form.h"
#include "platform/toolkit.h"

int main() {
  Application->Initialize();
  Application->Title = "Korvan EFIS to Flightsim bridge";
  auto* form = new TForm(Application);
  Application->CreateForm(form, demo::Build);
  // Its own class: the bridge's window, with the same caption, may be up in the same Wine.
  form->ClassName = "TToolkitDemo";
  demo::TrackBar1->SetPosition(-600);  // shows at -512
  demo::TrackBar2->SetPosition(128);
  static long long idleCalls = 0;
  Application->OnIdle = [](TObject*, bool& done) {
    ++idleCalls;
    done = false;
    // DEMO_SPIN: no wake hint, to see the check fail.
    if (std::getenv("DEMO_SPIN") == nullptr) Application->IdleWakeAfter(50);
  };
  auto start = std::chrono::steady_clock::now();
  Application->Run();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  if (demo::Memo1->Lines.Count() < 2) return 255;
  long long perSecond = idleCalls * 1000 / (ms > 0 ? ms : 1);
  return static_cast<int>(perSecond < 250 ? perSecond : 250);
}
