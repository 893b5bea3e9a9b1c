// The bridge cycle: one tick of FrameTimer1. Each running tick steps the ten-phase schedule,
// queues one group of simulator requests, makes one exchange and hands the values on to the
// EFIS senders.
#include <cstdint>
#include <exception>
#include <string>

#include "app/TickFaults.h"
#include "app/Unit1.h"
#include "efis/EfisFrames.h"
#include "efis/FlightFrames.h"
#include "efis/SharedState.h"
#include "efis/SimSnapshot.h"
#include "simlink/SimLinkClient.h"

bool SimConnected = false;
std::uint8_t PhaseCounter = 0;
std::uint16_t DisconnectRefreshTicks = 0;
std::uint8_t DisconnectFlags = 0;

namespace {

struct TSimRead {
  std::uint32_t Offset;
  std::uint32_t Size;
  void* Field;
};

// The size of each read is its field's size.
template <typename T>
constexpr TSimRead ReadOf(std::uint32_t offset, T& field) {
  return TSimRead{offset, sizeof(T), &field};
}

constexpr TSimRead kFastReads[] = {
    ReadOf(0x2F70, SimSnapshot.Pitch2F70),       ReadOf(0x2F78, SimSnapshot.Bank2F78),
    ReadOf(0x037C, SimSnapshot.Turn037C),        ReadOf(0x02CC, SimSnapshot.CompassHeading02CC),
    ReadOf(0x2B00, SimSnapshot.GyroHeading2B00), ReadOf(0x11BA, SimSnapshot.GForce11BA),
};

// 0x0580 is a 4-byte value read into the lower half of its 64-bit field.
constexpr TSimRead kSlowReads[] = {
    ReadOf(0x6010, SimSnapshot.Latitude6010),      ReadOf(0x6018, SimSnapshot.Longitude6018),
    TSimRead{0x0580, 4, &SimSnapshot.Track0580},   ReadOf(0x6030, SimSnapshot.GroundSpeed6030),
    ReadOf(0x6020, SimSnapshot.GpsAltitude6020),   ReadOf(0x0574, SimSnapshot.Altitude0574),
    ReadOf(0x02BC, SimSnapshot.Airspeed02BC),      ReadOf(0x02C8, SimSnapshot.VerticalSpeed02C8),
    ReadOf(0x0E8C, SimSnapshot.OutsideTemp0E8C),   ReadOf(0x28C8, SimSnapshot.AmbientPressure28C8),
    ReadOf(0x2840, SimSnapshot.Sensor2840),        ReadOf(0x2848, SimSnapshot.Sensor2848),
    ReadOf(0x0898, SimSnapshot.Eng1SpeedA0898),    ReadOf(0x0930, SimSnapshot.Eng2SpeedA0930),
    ReadOf(0x08C8, SimSnapshot.Eng1ScalerB08C8),   ReadOf(0x0960, SimSnapshot.Eng2ScalerB0960),
    ReadOf(0x3B70, SimSnapshot.Eng1RankineR3B70),  ReadOf(0x3AB0, SimSnapshot.Eng2RankineR3AB0),
    ReadOf(0x3B58, SimSnapshot.Eng1RankineQ3B58),  ReadOf(0x3B60, SimSnapshot.Eng1PressureP3B60),
    ReadOf(0x3A98, SimSnapshot.Eng2RankineQ3A98),  ReadOf(0x3AA0, SimSnapshot.Eng2PressureP3AA0),
    ReadOf(0x08C0, SimSnapshot.Eng1ManifoldM08C0), ReadOf(0x0918, SimSnapshot.Eng1ValueF0918),
    ReadOf(0x0958, SimSnapshot.Eng2ManifoldM0958), ReadOf(0x09B0, SimSnapshot.Eng2ValueF09B0),
    ReadOf(0x08E8, SimSnapshot.Eng1TempH08E8),     ReadOf(0x0980, SimSnapshot.Eng2TempH0980),
    ReadOf(0x0330, SimSnapshot.Qnh0330),           ReadOf(0x02A0, SimSnapshot.Variation02A0),
};

static_assert(sizeof(kFastReads) / sizeof(kFastReads[0]) == 6);
static_assert(sizeof(kSlowReads) / sizeof(kSlowReads[0]) == 30);

constexpr std::uint32_t kQnhOffset = 0x0330;
constexpr std::uint32_t kDisconnectOffset = 0x310A;
constexpr std::uint32_t kAileronOffset = 0x0BB6;
constexpr std::uint32_t kElevatorOffset = 0x0BB2;

// Made once: a caption built from a literal on every fast tick would allocate each time.
const std::string kEngagedCaption = "AutoPilot is engaged";
const std::string kNotEngagedCaption = "AutoPilot is not engaged";

constexpr std::uint16_t kRefreshEveryEngagedTicks = 30;
constexpr std::uint8_t kReaderRestartTicks = 20;

// The write sources must outlive only the SimLinkWrite call (it copies), but the read
// destinations must outlive the exchange: module state, like the snapshot.
std::uint16_t QnhToWrite;
std::int16_t BankCmdToWrite;
std::int16_t PitchCmdToWrite;
// The simulator's own inputs land here first; the shared values take them once the exchange
// has succeeded, so the reader thread never sees bytes being copied.
std::int16_t AileronInputRead;
std::int16_t ElevatorInputRead;
bool InputReadsQueued;
// What the running tick works on, for the fault report: set when its group is chosen.
bool TickGroupChosen;
TTickKind TickGroup;

void QueueRead(const TSimRead& read) {
  SimResult ignored;
  SimLinkRead(read.Offset, read.Size, read.Field, ignored);
}

void QueueWrite(std::uint32_t offset, std::uint32_t size, const void* source) {
  SimResult ignored;
  SimLinkWrite(offset, size, source, ignored);
}

bool IsFastPhase(std::uint8_t phase) {
  return phase % 2 == 0;
}
bool IsSlowPhase(std::uint8_t phase) {
  return phase == 1 || phase == 5;
}

// Counts a fast tick off an engaged autopilot. True when this tick ran the countdown out.
// The reader may set the countdown back to 20 at any moment; that refresh must not be lost.
bool CountdownRanOut() {
  std::uint16_t left = DisengageCountdown.load();
  while (left > 0 && !DisengageCountdown.compare_exchange_weak(left, left - 1)) {
  }
  return left == 1;
}

}  // namespace

void ResetCycleState() {
  SimConnected = false;
  PhaseCounter = 0;
  DisconnectRefreshTicks = 0;
  DisconnectFlags = 0;
  InputReadsQueued = false;
  SimSnapshot = TSimSnapshot{};
  FlightDerived = TFlightDerived{};
  ResetTickFaults();
}

void TForm1::FrameTimer1Timer(TObject*, std::int32_t) {
  TickGroupChosen = false;
  try {
    RunTick();
    if (TickGroupChosen) TickRanClean(TickGroup);
  } catch (const std::exception& fault) {
    ReportTickFault(fault.what());
  } catch (...) {
    ReportTickFault("Unexpected fault in the bridge cycle");
  }
}

void TForm1::ReportTickFault(const char* text) {
  // A fault before the group was chosen (the watchdog's restart) is remembered with the fast
  // ticks, the more frequent kind.
  const TTickKind kind = TickGroupChosen ? TickGroup : TTickKind::Fast;
  if (TickFaultToShow(kind, text)) Application->ShowException(text);
}

void TForm1::RunTick() {
  if (!SimConnected) return;

  if (ServoFrameSeen.load() != 0) {
    // fetch_add: a reset by the reader between our read and write is not lost.
    const std::uint8_t idle = static_cast<std::uint8_t>(ReaderIdleTicks.fetch_add(1) + 1);
    if (idle >= kReaderRestartTicks) {
      Button3Click(nullptr);
      ReaderIdleTicks.store(0);
    }
  }

  ++PhaseCounter;
  if (PhaseCounter >= 10) PhaseCounter = 0;

  if (IsFastPhase(PhaseCounter)) {
    TickGroupChosen = true;
    TickGroup = TTickKind::Fast;
    QueueFastGroup();
    if (!Exchange()) return;
    AfterFastExchange();
  } else if (IsSlowPhase(PhaseCounter)) {
    TickGroupChosen = true;
    TickGroup = TTickKind::Slow;
    for (const TSimRead& read : kSlowReads) {
      if (read.Field == &SimSnapshot.Track0580) SimSnapshot.Track0580 = 0;
      QueueRead(read);
    }
    if (!Exchange()) return;
    AfterSlowExchange();
  }
}

void TForm1::QueueFastGroup() {
  for (const TSimRead& read : kFastReads) QueueRead(read);

  if (TakeQnhFromEfis(&QnhToWrite)) QueueWrite(kQnhOffset, sizeof QnhToWrite, &QnhToWrite);

  InputReadsQueued = false;
  if (AutopilotEngaged.load() != 0) {
    Label7->SetCaption(kEngagedCaption);
    // A countdown already at 0 keeps the autopilot engaged: only counting it out disengages.
    if (CountdownRanOut()) {
      QueueDisengagedControls();
    } else {
      QueueEngagedControls();
    }
  } else {
    QueueDisengagedControls();
  }

  ShowServos();
  SendServoStatusFrame();
}

void TForm1::QueueEngagedControls() {
  if (DisconnectRefreshTicks == kRefreshEveryEngagedTicks) {
    DisconnectRefreshTicks = 0;
    DisconnectFlags = 3;
    QueueWrite(kDisconnectOffset, sizeof DisconnectFlags, &DisconnectFlags);
  } else {
    ++DisconnectRefreshTicks;
  }
  BankCmdToWrite = BankServoCmd.load();
  PitchCmdToWrite = PitchServoCmd.load();
  QueueWrite(kAileronOffset, sizeof BankCmdToWrite, &BankCmdToWrite);
  QueueWrite(kElevatorOffset, sizeof PitchCmdToWrite, &PitchCmdToWrite);
  // Doubled for the sliders' scale; a product outside 16 bits wraps.
  BankServoShown.store(static_cast<std::int16_t>(BankCmdToWrite * 2));
  PitchServoShown.store(static_cast<std::int16_t>(PitchCmdToWrite * 2));
}

void TForm1::QueueDisengagedControls() {
  Label7->SetCaption(kNotEngagedCaption);
  AutopilotEngaged.store(0);
  DisconnectFlags = 0;
  QueueWrite(kDisconnectOffset, sizeof DisconnectFlags, &DisconnectFlags);
  // Start from the shown values: a read the exchange leaves unfilled keeps them.
  AileronInputRead = BankServoShown.load();
  ElevatorInputRead = PitchServoShown.load();
  QueueRead(TSimRead{kAileronOffset, sizeof AileronInputRead, &AileronInputRead});
  QueueRead(TSimRead{kElevatorOffset, sizeof ElevatorInputRead, &ElevatorInputRead});
  InputReadsQueued = true;
}

void TForm1::ShowServos() {
  // Integer division truncates toward zero; the trackbars clamp to their range.
  TrackBar1->SetPosition(BankServoShown.load() / 32);
  TrackBar2->SetPosition(-(PitchServoShown.load() / 32));
}

bool TForm1::Exchange() {
  SimResult code = SimOkay;
  if (SimLinkProcess(code)) return true;
  const std::string line = std::string("FlightSim problem: ") + SimResultTextOf(code);
  SetSimConnected(false);
  Button1->SetEnabled(true);
  Memo1->Lines.Add(line);
  return false;
}

void TForm1::HandBackControls() {
  // Left at 3, the yoke would stay disconnected and the surfaces held at the last servo command
  // until the module's own limit ran out. DisconnectFlags still 3 covers a disengagement the
  // next fast tick has yet to write.
  if (!SimConnected || (AutopilotEngaged.load() == 0 && DisconnectFlags != 3)) return;
  DisconnectFlags = 0;
  QueueWrite(kDisconnectOffset, sizeof DisconnectFlags, &DisconnectFlags);
  // One attempt: the window is closing, and a failure has nobody left to tell.
  SimResult ignored;
  SimLinkProcessOnce(ignored);
}

void TForm1::AfterFastExchange() {
  if (InputReadsQueued) {
    BankServoShown.store(AileronInputRead);
    PitchServoShown.store(ElevatorInputRead);
  }
  ConvertFastGroup();
  SendAttitudeFrame();
}

void TForm1::AfterSlowExchange() {
  ConvertSlowGroup();
  SendSensorFrame();
  if (PhaseCounter == 5) SendGpsFrames();
  SendEngine1Frame();
  SendEngine1AuxFrame();
  SendEngine2Frame();
  SendEngine2AuxFrame();
  // A setting from the EFIS that the next fast tick has yet to write is the newer one: the
  // simulator's older value must not overrule it, or the pilot's turn of the knob is lost. The
  // exchange leaves HeldQnh alone should the reader store a setting meanwhile.
  std::uint16_t held = HeldQnh.load();
  if (SimSnapshot.Qnh0330 != held && QnhFromEfis.load(std::memory_order_acquire) == 0 &&
      HeldQnh.compare_exchange_strong(held, SimSnapshot.Qnh0330))
    SendQnhFrame();
}
