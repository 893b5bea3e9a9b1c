// The bridge cycle with the EFIS reader thread running, between korvan-sim and korvan-efis in
// other processes: servo frames drive the simulator's controls, QNH frames reach it, the
// watchdog restarts a silent reader, and the reader's thread comes and goes cleanly. Nothing
// here waits for a time a busy machine may not keep: each step waits for the state it needs,
// with a generous bound.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "efis/SharedState.h"
#include "platform/null/null_toolkit.h"
#include "tests/integration/cycle_fixture.h"
#include "tests/support/child_process.h"

namespace {

using namespace cycletest;

// True once `ready` holds; false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& ready, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Entries of a /proc/self directory: the threads (task) or the open files (fd) of this process.
int CountEntries(const char* dir) {
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
  closedir(d);
  return n - (std::string(dir) == "/proc/self/fd" ? 1 : 0);  // the directory's own descriptor
}
int Threads() {
  return CountEntries("/proc/self/task");
}
int OpenFiles() {
  return CountEntries("/proc/self/fd");
}

std::string Hex16(std::int16_t value) {
  const auto u = static_cast<std::uint16_t>(value);
  char text[5];
  std::snprintf(text, sizeof text, "%02X%02X", u & 0xFF, u >> 8);
  return text;
}

class ReaderCycle : public BridgeCycle {
 protected:
  void TearDown() override {
    BridgeCycle::TearDown();
    efis_.Stop();
  }

  // korvan-efis with `args`, korvan-sim, then the window: the bridge connects to both.
  void Start(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--verbose"};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_TRUE(efis_.Start(KORVAN_EFIS_PATH, all));
    ASSERT_TRUE(efis_.WaitForLine("korvan-efis ready", 10000));
    StartSim(sim_, "sim");
    CreateWindow();
    ASSERT_TRUE(SimConnected);
    ASSERT_TRUE(EfisLink.EfisConnected);
  }

  // The window's first activation, as the window system reports it: the reader starts.
  void Activate() {
    NullToolkitActivate(true);
    ASSERT_NE(ReaderThread, nullptr);
  }

  // After a tick: waits until the reader has decoded a servo frame that came after it (each
  // tick counts ReaderIdleTicks up, each servo frame puts it back to 0).
  void AwaitServoFrame() {
    ASSERT_TRUE(WaitUntil([] { return ReaderIdleTicks.load() == 0; }));
  }

  // Waits until the unit has said it fell silent and the reader has decoded all it had sent:
  // nothing resets the marker left in ReaderIdleTicks for half a second.
  void AwaitSilence() {
    ASSERT_TRUE(efis_.WaitForLine("falling silent", 20000));
    for (int tries = 0; tries < 40; ++tries) {
      ReaderIdleTicks = 7;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      if (ReaderIdleTicks.load() == 7) return;
    }
    FAIL() << "servo frames still arrive";
  }

  // The frames of `type` korvan-efis has received, once the attitude frame of one more fast
  // tick, sent after all of them, has arrived too.
  int FramesOfType(int type) {
    const std::size_t sent = FrameTypes(efis_).size();
    FastTick();
    std::vector<int> types;
    EXPECT_TRUE(WaitUntil([&] {
      types = FrameTypes(efis_);
      return types.size() >= sent + 2 && types.back() == 11;
    }));
    int n = 0;
    for (int t : types) n += t == type ? 1 : 0;
    return n;
  }

  testsupport::ChildProcess efis_;
};

// Servo positions 5600 and 8400 ask for +4096 and -4096: 16384 - 4200 x 2048 / 700 and
// 16384 - 7000 x 2048 / 700.
const std::vector<std::string> kEngagedUnit = {"--bank-mode", "3",           "--bank-pos",
                                               "5600",        "--pitch-pos", "8400"};
const Record kBankWrite = Write(0x0BB6, 2, Hex16(4096));
const Record kPitchWrite = Write(0x0BB2, 2, Hex16(-4096));

TEST_F(ReaderCycle, EngagedServoFramesDriveTheControlsAtEveryFastTick) {
  Start(kEngagedUnit);
  Activate();
  ASSERT_TRUE(WaitUntil([] { return BankServoCmd.load() == 4096; }))
      << "the frame that engages computes nothing; the next one does";
  EXPECT_EQ(PitchServoCmd.load(), -4096);
  EXPECT_EQ(AutopilotEngaged.load(), 1);

  const std::vector<Record> engaged = Join(kFastReads, {kBankWrite, kPitchWrite});
  const std::vector<Record> refresh =
      Join(kFastReads, {Write(0x310A, 1, "03"), kBankWrite, kPitchWrite});
  for (int engagedTick = 1; engagedTick <= 62; ++engagedTick) {
    FastTick();
    SCOPED_TRACE("engaged fast tick " + std::to_string(engagedTick));
    EXPECT_EQ(sim_.LastBatch(), engagedTick % 31 == 0 ? refresh : engaged);
    EXPECT_EQ(Form1->Label7->Caption(), "AutoPilot is engaged");
    // Twice the command over 32: 8192 / 32, and minus -8192 / 32 for the pitch slider.
    EXPECT_EQ(Form1->TrackBar1->Position(), 256);
    EXPECT_EQ(Form1->TrackBar2->Position(), 256);
    AwaitServoFrame();
  }
  // The reader reports the shown deflection back: -8192 / 32 and 8192 / 32.
  const std::string status =
      std::string("1000010f") + "0000" + "00ff" + "0000" + "0001" + std::string(16, '0');
  EXPECT_TRUE(efis_.WaitForLine("frame type 15, 20 bytes: " + status, 10000));
  EXPECT_EQ(CountLog("Cannot send"), 0);
}

TEST_F(ReaderCycle, WithoutModeThreeFramesTheTwentiethFastTickDisengages) {
  Start({"--bank-mode", "3", "--bank-pos", "5600", "--pitch-pos", "8400", "--silent-after", "1"});
  Activate();
  ASSERT_TRUE(WaitUntil([] { return BankServoCmd.load() == 4096; }));
  AwaitSilence();
  ASSERT_EQ(AutopilotEngaged.load(), 1);
  ASSERT_EQ(DisengageCountdown.load(), 20) << "as the last servo frame left it";

  int fastTicks = 0;
  while (AutopilotEngaged.load() != 0) {
    ASSERT_LT(fastTicks, 25);
    FastTick();
    ++fastTicks;
    if (AutopilotEngaged.load() != 0) {
      EXPECT_EQ(sim_.LastBatch(), Join(kFastReads, {kBankWrite, kPitchWrite})) << fastTicks;
    }
  }
  EXPECT_EQ(fastTicks, 20);
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch());
  EXPECT_EQ(Form1->Label7->Caption(), "AutoPilot is not engaged");
  for (int i = 0; i < 5; ++i) {
    FastTick();
    EXPECT_EQ(sim_.LastBatch(), DisengagedBatch()) << "0 at 0x310A on every fast tick";
  }
}

TEST_F(ReaderCycle, EfisQnhIsWrittenAtTheNextFastTickAndNotSentBack) {
  Start({"--servo-rate", "0", "--qnh", "10000"});  // 1000.0 hPa: 16000 sixteenths
  Tick();  // phase 1: the simulator's 16211 goes to the unit (HeldQnh was 0)
  ASSERT_EQ(HeldQnh.load(), 16211);
  Activate();  // the unit's QNH frame waits in the pipe since the connect
  ASSERT_TRUE(WaitUntil([] { return QnhFromEfis.load() != 0; }));
  EXPECT_EQ(HeldQnh.load(), 16000);
  Tick();  // phase 2
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch({Write(0x0330, 2, "803E")}));
  EXPECT_EQ(QnhFromEfis.load(), 0);
  Tick();  // 3
  Tick();  // 4: no second write
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch());
  Tick();  // 5: the simulator reads back what was written
  EXPECT_EQ(HeldQnh.load(), 16000);
  EXPECT_EQ(FramesOfType(6), 1) << "only the first slow tick's QNH frame went to the unit";
}

// A setting from the EFIS that the slow tick finds not yet written is the newer one: the
// simulator's older value does not take it back.
TEST_F(ReaderCycle, EfisQnhJustBeforeASlowTickIsWrittenNotOverruled) {
  Start({"--servo-rate", "0", "--qnh", "10000"});
  TickUntilNextIs(5);
  Activate();
  ASSERT_TRUE(WaitUntil([] { return QnhFromEfis.load() != 0; }));
  ASSERT_EQ(HeldQnh.load(), 16000);
  Tick();  // phase 5: the simulator still holds 16211
  EXPECT_EQ(HeldQnh.load(), 16000);
  Tick();  // phase 6 writes the EFIS setting
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch({Write(0x0330, 2, "803E")}));
  TickUntilNextIs(1);
  Tick();  // phase 1 reads it back
  EXPECT_EQ(HeldQnh.load(), 16000);
  EXPECT_EQ(FramesOfType(6), 1) << "only the first slow tick's QNH frame went to the unit";
}

TEST_F(ReaderCycle, WatchdogRestartsTheSilentReaderEveryTwentyTicksOnlyWhileConnected) {
  Start({"--silent-after", "1"});
  EXPECT_EQ(ReaderThread, nullptr) << "no reader before the first activation";
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ(ReaderIdleTicks.load(), 0) << "disarmed before the first servo frame";
  Activate();
  ASSERT_TRUE(WaitUntil([] { return ServoFrameSeen.load() != 0; }));
  AwaitSilence();

  ReaderIdleTicks = 0;
  const int threads = Threads();
  for (int restart = 1; restart <= 3; ++restart) {
    const platform::Handle before = ReaderThread->Handle();
    for (int i = 1; i < 20; ++i) Tick();
    EXPECT_EQ(ReaderThread->Handle(), before) << "restart " << restart;
    EXPECT_EQ(ReaderIdleTicks.load(), 19);
    Tick();
    EXPECT_NE(ReaderThread->Handle(), before) << "restart " << restart;
    EXPECT_EQ(ReaderIdleTicks.load(), 0);
  }
  EXPECT_TRUE(WaitUntil([&] { return Threads() <= threads; })) << "the killed readers ended";

  // The simulator goes: the failed exchange stops the cycle, and with it the watchdog.
  sim_.Stop();
  for (int i = 0; i < 10 && SimConnected; ++i) Tick();
  ASSERT_FALSE(SimConnected);
  const platform::Handle stopped = ReaderThread->Handle();
  const std::uint8_t idle = ReaderIdleTicks.load();
  for (int i = 0; i < 60; ++i) Tick();
  EXPECT_EQ(ReaderThread->Handle(), stopped);
  EXPECT_EQ(ReaderIdleTicks.load(), idle);
}

TEST_F(ReaderCycle, AThousandRestartsLeaveThreadsAndOpenFilesWhereTheyWere) {
  Start({"--servo-rate", "0", "--qnh", "10000", "--qnh-every", "500"});
  Activate();
  ASSERT_TRUE(WaitUntil([] { return QnhFromEfis.load() != 0; }));
  // Counted while the reader waits in its read, which holds a descriptor of its own; a sample
  // taken in the instant it decodes a frame counts one less.
  int threads = 0, files = 0;
  for (int i = 0; i < 3; ++i) {
    threads = std::max(threads, Threads());
    files = std::max(files, OpenFiles());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (int i = 0; i < 1000; ++i) Form1->Button3Click(nullptr);
  // The killed readers end on their own, shortly.
  EXPECT_TRUE(WaitUntil([&] { return Threads() <= threads && OpenFiles() <= files; }, 30000));
  EXPECT_EQ(Threads(), threads);
  EXPECT_EQ(OpenFiles(), files);

  // The last one reads on.
  QnhFromEfis = 0;
  EXPECT_TRUE(WaitUntil([] { return QnhFromEfis.load() != 0; }));
}

TEST_F(ReaderCycle, ReactivationStartsNoSecondReader) {
  Start({});
  const int threads = Threads();
  Activate();
  const platform::Handle reader = ReaderThread->Handle();
  EXPECT_EQ(Threads(), threads + 1);
  EXPECT_FALSE(FirstActivation);
  for (int i = 0; i < 3; ++i) {
    NullToolkitActivate(false);
    NullToolkitActivate(true);
  }
  EXPECT_EQ(ReaderThread->Handle(), reader);
  EXPECT_EQ(Threads(), threads + 1);

  // A restart before any activation (the watchdog runs from the first tick) also counts.
  ReaderThread->Kill();
  ReaderThread = nullptr;
  FirstActivation = true;
  Form1->Button3Click(nullptr);
  const platform::Handle restarted = ReaderThread->Handle();
  Form1->FormActivate(Form1);
  EXPECT_EQ(ReaderThread->Handle(), restarted);
  EXPECT_TRUE(WaitUntil([&] { return Threads() == threads + 1; }));
}

TEST_F(ReaderCycle, CloseKillsTheReaderThenClosesTheHandles) {
  Start({"--servo-rate", "0"});
  const int threads = Threads();
  const int files = OpenFiles();
  Activate();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader blocks in its read
  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_EQ(ReaderThread, nullptr);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 0u);
  EXPECT_EQ(EfisLink.WriteChannel, 0u);
  EXPECT_EQ(EfisLink.DeviceHandle, 0u);
  EXPECT_TRUE(efis_.WaitForLine("close PIPE00", 10000));
  EXPECT_TRUE(efis_.WaitForLine("close PIPE01", 10000));
  EXPECT_TRUE(WaitUntil([&] { return Threads() == threads; }));
  EXPECT_TRUE(WaitUntil([&] { return OpenFiles() == files - 3; })) << "the three EFIS handles";
}

TEST_F(ReaderCycle, ClosingBeforeAnyActivationClosesTheHandlesAndStartsNothing) {
  Start({});
  const int threads = Threads();
  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_EQ(ReaderThread, nullptr);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 0u);
  EXPECT_TRUE(efis_.WaitForLine("close device", 10000));
  EXPECT_EQ(Threads(), threads);
}

}  // namespace
