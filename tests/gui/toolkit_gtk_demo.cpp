// A window with one control of each kind on the GTK backend, for the read-back test: it reports
// what GTK laid out, how often the idle wake ran, and what the user did, on standard output
// (the log's lines go to standard error).
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/gtk/gtk_toolkit.h"
#include "platform/toolkit.h"
#include "toolkit_demo_form.h"

namespace {

using namespace demo;

bool GeometryReported = false;
bool IdleReported = false;
int IdleCalls = 0;
std::chrono::steady_clock::time_point RunStart;

void Say(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void ReportGeometry() {
  const TControl* controls[] = {Memo1, Button1, Button2, TrackBar1, TrackBar2, Label1, Label6};
  std::string report;
  for (const TControl* control : controls) {
    int left, top, width, height;
    if (!GtkToolkitAllocation(*control, left, top, width, height)) return;
    report += "geometry " + control->Name + " " + std::to_string(left) + " " + std::to_string(top) +
              " " + std::to_string(width) + " " + std::to_string(height) + "\n";
  }
  GeometryReported = true;
  std::printf("%s", report.c_str());
  std::fflush(stdout);
}

// Like the frame timer: never done, next wanted 50 ms later. The loop must sleep in between.
void Idle(TObject*, bool& done) {
  if (!GeometryReported) ReportGeometry();
  if (IdleReported) return;
  ++IdleCalls;
  auto spent = std::chrono::steady_clock::now() - RunStart;
  if (spent >= std::chrono::milliseconds(1000)) {
    IdleReported = true;
    Say("idle calls in 1000 ms: " + std::to_string(IdleCalls));
    return;
  }
  done = false;
  Application->IdleWakeAfter(50);
}

}  // namespace

int main() {
  Application->Initialize();
  Application->Title = "Korvan EFIS to Flightsim bridge";
  auto* form = new TForm(Application);
  Application->CreateForm(form, Build);
  form->OnCloseQuery = [](TObject*, bool&) { Say("close query"); };
  TrackBar1->SetPosition(-600);  // clamps to -512
  TrackBar2->SetPosition(128);
  Application->OnIdle = Idle;
  TMessageHook hook = [](TMessage& m) {
    Say("message " + std::to_string(m.Msg));
    return false;
  };
  Application->HookMainWindow(&hook);
  RunStart = std::chrono::steady_clock::now();
  Application->Run();
  Say("run ended, log lines: " + std::to_string(Memo1->Lines.Count()));
  return 0;
}
