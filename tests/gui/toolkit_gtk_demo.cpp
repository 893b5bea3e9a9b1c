// A window with one control of each kind on the GTK backend, for the read-back test: it reports
// what GTK laid out, how often the idle wake ran, and what the user did, on standard output
// (the log's lines go to standard error).
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/gtk/gtk_toolkit.h"
#include "platform/toolkit.h"

namespace {

TMemo* Memo1;
TButton* Button1;
TButton* Button2;
TTrackBar* TrackBar1;
TTrackBar* TrackBar2;
TLabel* Label1;
TLabel* Label6;
bool GeometryReported = false;
bool IdleReported = false;
int IdleCalls = 0;
std::chrono::steady_clock::time_point RunStart;

void Say(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

template <class T>
T* Place(TForm& form, const char* name, int left, int top, int width, int height, int tab) {
  auto* control = new T(&form);
  control->Name = name;
  control->Left = left;
  control->Top = top;
  control->Width = width;
  control->Height = height;
  control->TabOrder = tab;
  return control;
}

void Build(TForm& form) {
  form.Name = "Form1";
  form.ClassName = "TForm1";
  form.SetCaption("Microsoft FlightSim to Korvan Avionics EFIS bridge");
  form.Left = 262;
  form.Top = 250;
  form.Width = 587;
  form.Height = 430;
  Memo1 = Place<TMemo>(form, "Memo1", 8, 8, 553, 161, 0);
  Button1 = Place<TButton>(form, "Button1", 16, 184, 169, 25, 1);
  Button1->SetCaption("Reconnect to Flight simulator");
  Button1->OnClick = [](TObject*) { Memo1->Lines.Add("Button1 clicked"); };
  Button2 = Place<TButton>(form, "Button2", 16, 216, 169, 25, 2);
  Button2->SetCaption("Reconnect to EFIS ");
  Button2->OnClick = [](TObject*) { Memo1->Lines.Add("Button2 clicked"); };
  Button2->SetEnabled(false);
  TrackBar1 = Place<TTrackBar>(form, "TrackBar1", 328, 240, 150, 41, 3);
  TrackBar2 = Place<TTrackBar>(form, "TrackBar2", 496, 184, 33, 150, 4);
  for (TTrackBar* bar : {TrackBar1, TrackBar2}) {
    bar->Min = -512;
    bar->Max = 512;
    bar->Frequency = 64;
    bar->TickMarks = TTickMarks::TopLeft;
  }
  TrackBar2->Orientation = TTrackBarOrientation::Vertical;
  Label1 = Place<TLabel>(form, "Label1", 24, 360, 183, 13, 0);
  Label1->SetCaption("Version 1.1 released 29/October/2010");
  Label6 = Place<TLabel>(form, "Label6", 472, 336, 89, 41, 0);
  Label6->SetCaption("Pitch servo (Trio Varex port 2)");
  Label6->AutoSize = false;
  Label6->WordWrap = true;
  Label6->Alignment = TTextAlign::Center;
  form.ActiveControl = Memo1;
  form.OnActivate = [](TObject*) { Memo1->Lines.Add("activated"); };
  form.OnCloseQuery = [](TObject*, bool&) { Say("close query"); };
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
