#include "app/Unit1.h"

#include <string>

#include "app/LogFile.h"
#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "simlink/SimLinkClient.h"

TForm1* Form1 = nullptr;

bool FirstActivation = false;
TMyThread* ReaderThread = nullptr;

namespace {

// The one reader object: a restart kills its thread and starts another in it.
TMyThread Reader;

// The control's name and its place in the form's client area.
void Place(TControl& control, const char* name, int left, int top, int width, int height) {
  control.Name = name;
  control.Left = left;
  control.Top = top;
  control.Width = width;
  control.Height = height;
}

}  // namespace

const char* SimResultTextOf(SimResult code) {
  // The table has codes 0 to 15; anything else would read past it.
  if (code < 0 || code > 15) return "Unknown result";
  return SimResultText[code];
}

TForm1::TForm1(TComponent* owner) : TForm(owner) {}

void TForm1::CreateLabel(TLabel*& label, const char* name, int left, int top, int width, int height,
                         const char* caption) {
  label = new TLabel(this);
  Place(*label, name, left, top, width, height);
  label->SetCaption(caption);
}

void TForm1::CreateMemo(TMemo*& memo, const char* name, int left, int top, int width, int height,
                        int tabOrder) {
  memo = new TMemo(this);
  Place(*memo, name, left, top, width, height);
  memo->TabOrder = tabOrder;
  memo->WordWrap = true;
  memo->ReadOnly = false;
}

void TForm1::CreateFrameTimer(TFrameTimer*& timer, std::uint32_t interval) {
  timer = new TFrameTimer(this);
  timer->SetActiveOnly(false);
  timer->SetEnabled(true);
  timer->SetInterval(interval);
  timer->OnTimer = [this](TObject* sender, std::int32_t lagCount) {
    FrameTimer1Timer(sender, lagCount);
  };
}

void TForm1::CreateButton(TButton*& button, const char* name, int left, int top, int width,
                          int height, const char* caption, int tabOrder,
                          void (TForm1::*click)(TObject*)) {
  button = new TButton(this);
  Place(*button, name, left, top, width, height);
  button->SetCaption(caption);
  button->TabOrder = tabOrder;
  button->OnClick = [this, click](TObject* sender) { (this->*click)(sender); };
}

void TForm1::CreateTrackBar(TTrackBar*& bar, const char* name, int left, int top, int width,
                            int height, TTrackBarOrientation orientation, int tabOrder) {
  bar = new TTrackBar(this);
  Place(*bar, name, left, top, width, height);
  bar->Min = -512;
  bar->Max = 512;
  bar->Frequency = 64;
  bar->Orientation = orientation;
  // Marks above a horizontal track, left of a vertical one.
  bar->TickMarks = TTickMarks::TopLeft;
  bar->TabOrder = tabOrder;
  bar->SetPosition(0);
}

void TForm1::CreateDesign() {
  Place(*this, "Form1", 262, 250, 587, 430);  // outer geometry on the screen
  ClassName = "TForm1";
  SetCaption("Microsoft FlightSim to Korvan Avionics EFIS bridge");
  FontName = "MS Sans Serif";
  FontPoints = 8;
  OnCreate = [this](TObject* sender) { FormCreate(sender); };
  OnActivate = [this](TObject* sender) { FormActivate(sender); };
  OnCloseQuery = [this](TObject* sender, bool& canClose) { FormCloseQuery(sender, canClose); };

  CreateMemo(Memo1, "Memo1", 8, 8, 553, 161, 0);
  Memo1->Lines.OnAdd = LogFileLine;
  CreateFrameTimer(FrameTimer1, 50);
  CreateButton(Button1, "Button1", 16, 184, 169, 25, "Reconnect to Flight simulator", 1,
               &TForm1::Button1Click);
  CreateButton(Button2, "Button2", 16, 216, 169, 25, "Reconnect to EFIS ", 2,
               &TForm1::Button2Click);

  CreateLabel(Label1, "Label1", 24, 360, 183, 13, "Version 1.1 released 29/October/2010");
  CreateTrackBar(TrackBar1, "TrackBar1", 328, 240, 150, 41, TTrackBarOrientation::Horizontal, 3);
  // Vertical sliders grow downwards: -512 sits at the top.
  CreateTrackBar(TrackBar2, "TrackBar2", 496, 184, 33, 150, TTrackBarOrientation::Vertical, 4);
  CreateLabel(Label5, "Label5", 328, 288, 150, 13, "Bank servo (Trio Varex port 1)");
  CreateLabel(Label6, "Label6", 472, 336, 89, 41, "Pitch servo (Trio Varex port 2)");
  Label6->AutoSize = false;
  Label6->Alignment = TTextAlign::Center;
  Label6->WordWrap = true;
  CreateLabel(Label7, "Label7", 352, 312, 104, 13, "Autopilot not engaged");
  CreateLabel(Label2, "Label2", 336, 224, 18, 13, "Left");
  CreateLabel(Label3, "Label3", 446, 224, 25, 13, "Right");
  CreateLabel(Label4, "Label4", 536, 192, 14, 13, "Up");
  CreateLabel(Label8, "Label8", 536, 312, 28, 13, "Down");
  CreateLabel(Label9, "Label9", 336, 336, 137, 41,
              "100% of active servo range corresponds to 50% of control surface range");
  Label9->AutoSize = false;
  Label9->WordWrap = true;

  ActiveControl = Memo1;
}

void TForm1::FormCreate(TObject*) {
  EfisAttachWindow(Memo1, Button2);
  EfisLink.WriteChannel = 0;
  EfisLink.ReadChannel = 0;
  EfisLink.DeviceHandle = 0;
  Button1Click(nullptr);
  Button2Click(nullptr);
  ReaderThread = nullptr;
  FirstActivation = true;
}

void TForm1::FormActivate(TObject*) {
  if (!FirstActivation) return;
  StartFirstReader();
  FirstActivation = false;
}

void TForm1::StartFirstReader() {
  // A restart may have come first (the watchdog runs before any activation); one reader only.
  if (ReaderThread != nullptr) return;
  Reader.Start();
  ReaderThread = &Reader;
}

void TForm1::FormCloseQuery(TObject*, bool&) {
  HandBackControls();
  KillReader();
  EfisCloseHandles();
}

void TForm1::KillReader() {
  if (ReaderThread == nullptr) return;
  ReaderThread->Kill();
  ReaderThread = nullptr;
}

void TForm1::SetSimConnected(bool connected) {
  SimConnected = connected;
  // A tick without the link does nothing: the timer rests meanwhile, and the loop with it.
  FrameTimer1->SetEnabled(connected);
}

void TForm1::Button1Click(TObject*) {
  SetSimConnected(false);
  if (SimLink.AreaView != nullptr) SimLinkClose();
  SimResult code = SimOkay;
  std::string line;
  if (SimLinkOpen(0, code)) {
    line = "Connected to " + SimNameOf(SimLink.SimId);
    SetSimConnected(true);
    Button1->SetEnabled(false);
  } else {
    line = std::string("Cannot connect to Flight Simulator - ") + SimResultTextOf(code);
  }
  Memo1->Lines.Add(line);
}

void TForm1::Button2Click(TObject*) {
  EfisConnect();
}

void TForm1::Button3Click(TObject*) {
  KillReader();
  Reader.Start();
  ReaderThread = &Reader;
}
