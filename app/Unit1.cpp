#include "app/Unit1.h"

#include <string>

#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "simlink/SimLinkClient.h"

TForm1* Form1 = nullptr;

bool FirstActivation = false;
TMyThread* ReaderThread = nullptr;

namespace {

// The one reader object: a restart kills its thread and starts another in it.
TMyThread Reader;

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
  label->Name = name;
  label->Left = left;
  label->Top = top;
  label->Width = width;
  label->Height = height;
  label->SetCaption(caption);
}

void TForm1::CreateTrackBar(TTrackBar*& bar, const char* name, int left, int top, int width,
                            int height, TTrackBarOrientation orientation, int tabOrder) {
  bar = new TTrackBar(this);
  bar->Name = name;
  bar->Left = left;
  bar->Top = top;
  bar->Width = width;
  bar->Height = height;
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
  Name = "Form1";
  ClassName = "TForm1";
  Left = 262;
  Top = 250;
  Width = 587;
  Height = 430;
  SetCaption("Microsoft FlightSim to Korvan Avionics EFIS bridge");
  FontName = "MS Sans Serif";
  FontPoints = 8;
  OnCreate = [this](TObject* sender) { FormCreate(sender); };
  OnActivate = [this](TObject* sender) { FormActivate(sender); };
  OnCloseQuery = [this](TObject* sender, bool& canClose) { FormCloseQuery(sender, canClose); };

  Memo1 = new TMemo(this);
  Memo1->Name = "Memo1";
  Memo1->Left = 8;
  Memo1->Top = 8;
  Memo1->Width = 553;
  Memo1->Height = 161;
  Memo1->TabOrder = 0;
  Memo1->WordWrap = true;
  Memo1->ReadOnly = false;

  FrameTimer1 = new TFrameTimer(this);
  FrameTimer1->SetActiveOnly(false);
  FrameTimer1->SetEnabled(true);
  FrameTimer1->SetInterval(50);
  FrameTimer1->OnTimer = [this](TObject* sender, std::int32_t lagCount) {
    FrameTimer1Timer(sender, lagCount);
  };

  Button1 = new TButton(this);
  Button1->Name = "Button1";
  Button1->Left = 16;
  Button1->Top = 184;
  Button1->Width = 169;
  Button1->Height = 25;
  Button1->SetCaption("Reconnect to Flight simulator");
  Button1->TabOrder = 1;
  Button1->OnClick = [this](TObject* sender) { Button1Click(sender); };

  Button2 = new TButton(this);
  Button2->Name = "Button2";
  Button2->Left = 16;
  Button2->Top = 216;
  Button2->Width = 169;
  Button2->Height = 25;
  Button2->SetCaption("Reconnect to EFIS ");
  Button2->TabOrder = 2;
  Button2->OnClick = [this](TObject* sender) { Button2Click(sender); };

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
  KillReader();
  EfisCloseHandles();
}

void TForm1::KillReader() {
  if (ReaderThread == nullptr) return;
  ReaderThread->Kill();
  ReaderThread = nullptr;
}

void TForm1::Button1Click(TObject*) {
  SimConnected = false;
  if (SimLink.AreaView != nullptr) SimLinkClose();
  SimResult code = SimOkay;
  std::string line;
  if (SimLinkOpen(0, code)) {
    line = "Connected to " + SimNameOf(SimLink.SimId);
    SimConnected = true;
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
