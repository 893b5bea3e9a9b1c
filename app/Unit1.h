// The main window TForm1: the log, the two reconnect buttons, the servo sliders and the
// autopilot line, its handlers, and the bridge cycle that its frame timer drives. Everything
// here runs on the user-interface thread.
#pragma once

#include <cstdint>

#include "platform/toolkit.h"
#include "simlink/SimLinkClient.h"
#include "timer/FrameTimer.h"

class TMyThread;

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* owner);

  // Creates the controls and the frame timer as the window is designed. Runs while the form is
  // Loading (TApplication::CreateForm); the timer starts when the loading ends.
  void CreateDesign();

  // Controls, in declaration order. Owned by the form.
  TMemo* Memo1 = nullptr;
  TFrameTimer* FrameTimer1 = nullptr;
  TButton* Button1 = nullptr;
  TButton* Button2 = nullptr;
  TLabel* Label1 = nullptr;
  TTrackBar* TrackBar1 = nullptr;
  TTrackBar* TrackBar2 = nullptr;
  TLabel* Label5 = nullptr;
  TLabel* Label6 = nullptr;
  TLabel* Label7 = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* Label3 = nullptr;
  TLabel* Label4 = nullptr;
  TLabel* Label8 = nullptr;
  TLabel* Label9 = nullptr;

  // Window creation: clears the EFIS handles, connects to the simulator, then to the EFIS.
  void FormCreate(TObject* sender);
  // A close request: an engaged autopilot hands the controls back, the reader goes, the EFIS
  // handles close; the close is never refused.
  void FormCloseQuery(TObject* sender, bool& canClose);
  // The bridge cycle: one tick of the frame timer. Both arguments are ignored.
  void FrameTimer1Timer(TObject* sender, std::int32_t lagCount);
  // EFIS connect and reconnect.
  void Button2Click(TObject* sender);
  // Simulator connect and reconnect; a link a failed exchange left open is closed first.
  void Button1Click(TObject* sender);
  // Every activation; the first one starts the EFIS reader.
  void FormActivate(TObject* sender);
  // Reader restart, called by the cycle's watchdog; bound to no control.
  void Button3Click(TObject* sender);

 private:
  // Seams of the EFIS reader thread: the first start, and the kill at close.
  void StartFirstReader();
  void KillReader();
  // The parts of the design, one kind each; the created control is stored in the first argument.
  void CreateMemo(TMemo*& memo, const char* name, int left, int top, int width, int height,
                  int tabOrder);
  // Its ticks run FrameTimer1Timer.
  void CreateFrameTimer(TFrameTimer*& timer, std::uint32_t interval);
  void CreateButton(TButton*& button, const char* name, int left, int top, int width, int height,
                    const char* caption, int tabOrder, void (TForm1::*click)(TObject*));
  void CreateLabel(TLabel*& label, const char* name, int left, int top, int width, int height,
                   const char* caption);
  void CreateTrackBar(TTrackBar*& bar, const char* name, int left, int top, int width, int height,
                      TTrackBarOrientation orientation, int tabOrder);
  // SimConnected, and the frame timer running only while it is set.
  void SetSimConnected(bool connected);
  void RunTick();
  void QueueFastGroup();
  void QueueEngagedControls();
  void QueueDisengagedControls();
  void ShowServos();
  bool Exchange();
  // The close's last exchange: 0 at the control disconnect while the autopilot holds the yoke.
  void HandBackControls();
  void AfterFastExchange();
  void AfterSlowExchange();
  void ReportTickFault(const char* text);
};

extern TForm1* Form1;

// The simulator link is usable; gates the whole tick.
extern bool SimConnected;
// Phase of the current tick, 0..9; the first tick after the first connection is phase 1.
extern std::uint8_t PhaseCounter;
// Engaged fast ticks since the control-disconnect byte was last written as 3 (0..30).
extern std::uint16_t DisconnectRefreshTicks;
// The byte written to the control-disconnect offset: 3 engaged, 0 disengaged.
extern std::uint8_t DisconnectFlags;
// Set at the end of window creation, cleared when the reader thread is started.
extern bool FirstActivation;
// The running reader thread, or none.
extern TMyThread* ReaderThread;

// SimResultText[code], or a fixed text for a code outside the table.
const char* SimResultTextOf(SimResult code);

// Puts the cycle state back to its start, for tests that run several scenarios in one process.
void ResetCycleState();
