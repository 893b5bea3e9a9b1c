// The simulator link as the bridge runs it on Windows: the real client and the Win32 backend,
// against korvan-sim.exe in another process, with real windows, atoms, mappings and messages.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ipc.h"
#include "simlink/SimLinkClient.h"
#include "tests/support/child_process.h"

namespace {

using testsupport::ChildProcess;

// The longest a test waits for korvan-sim: far more than Wine ever takes, so a busy machine
// slows a test down but never fails it.
constexpr int kReadyMs = 60000;

// korvan-sim running with `args`, ready to serve; stopped (and checked) at the end.
class Sim {
 public:
  explicit Sim(std::vector<std::string> args) {
    started_ = child.Start(KORVAN_SIM_EXE, args);
    ready_ = started_ && child.WaitForLine("korvan-sim ready", kReadyMs);
  }
  ~Sim() { child.Stop(2000); }
  bool Ready() const { return ready_; }
  std::string Why() const {
    std::string text = child.ErrorText();
    for (const auto& line : child.Lines(testsupport::Stream::Err)) text += "\n" + line;
    return text;
  }

  ChildProcess child;

 private:
  bool started_ = false;
  bool ready_ = false;
};

// Every test starts and ends with a closed link and no module window of ours around.
class SimLinkWine : public ::testing::Test {
 protected:
  void SetUp() override {
    SimLinkClose();
    ASSERT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u) << "a module window is left over";
    ASSERT_EQ(platform::FindTopLevelWindow("FS98MAIN"), 0u) << "a module window is left over";
  }
  void TearDown() override { SimLinkClose(); }

  static std::string AreaName() {
    char name[64];
    std::snprintf(name, sizeof name, "FsasmLib:IPC:%lX:1", ::GetCurrentProcessId());
    return name;
  }
};

TEST_F(SimLinkWine, HandshakeFindsFsxAndSetsUpTheNamedArea) {
  Sim sim({"--verbose"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimOkay);
  EXPECT_EQ(SimLink.ServerVersion, 0x19980005u);
  EXPECT_EQ(SimLink.SimId, 8);
  EXPECT_STREQ(SimNames[SimLink.SimId], "FSX");
  EXPECT_EQ(SimLink.ServerWindow, platform::FindTopLevelWindow("UIPCMAIN"));
  EXPECT_EQ(SimLink.IpcMessage, ::RegisterWindowMessageA("FsasmLib:IPC"));

  // The atom and the mapping carry the one name the module looks up.
  char atomName[64] = {};
  ASSERT_NE(::GlobalGetAtomNameA(SimLink.AreaAtom, atomName, sizeof atomName), 0u);
  EXPECT_EQ(AreaName(), atomName);
  HANDLE byName = ::OpenFileMappingA(FILE_MAP_READ, FALSE, atomName);
  ASSERT_NE(byName, nullptr);
  ::CloseHandle(byName);

  // Both values came with the first answer: one exchange, with the 2005 write in it.
  EXPECT_TRUE(sim.child.WaitForLine("exchange 1: 2 reads, 1 writes, reply 1", kReadyMs));
  EXPECT_EQ(sim.child.CountLines("exchange "), 1);

  // Opening again is refused and changes nothing.
  const std::uint8_t* view = SimLink.AreaView;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimAlreadyOpen);
  EXPECT_EQ(SimLink.AreaView, view);

  // Closing releases the atom and the area.
  const std::uint16_t atom = SimLink.AreaAtom;
  SimLinkClose();
  EXPECT_EQ(::GlobalGetAtomNameA(atom, atomName, sizeof atomName), 0u);
  EXPECT_EQ(::OpenFileMappingA(FILE_MAP_READ, FALSE, AreaName().c_str()), nullptr);
}

// A reconnect to the module that is still running: same name, a fresh handshake.
TEST_F(SimLinkWine, OpenAfterCloseUsesTheSameNameAgain) {
  Sim sim({"--verbose"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(0, code)) << SimResultText[code];
  SimLinkClose();
  ASSERT_TRUE(SimLinkOpen(8, code)) << SimResultText[code];
  EXPECT_EQ(SimLink.SimId, 8);
  char atomName[64] = {};
  ASSERT_NE(::GlobalGetAtomNameA(SimLink.AreaAtom, atomName, sizeof atomName), 0u);
  EXPECT_EQ(AreaName(), atomName);
  EXPECT_TRUE(sim.child.WaitForLine("exchange 2: 2 reads, 1 writes, reply 1", kReadyMs));
}

// One read of the slow group as the cycle queues it, with the value korvan-sim's fixed flight
// state holds there, encoded here from the documented state.
struct SlowRead {
  std::uint32_t offset;
  std::uint32_t size;
  enum { S16, U16, S32, U32, F64 } kind;
  double value;
};

constexpr SlowRead kSlowGroup[30] = {
    {0x6010, 8, SlowRead::F64, 52.3086},    {0x6018, 8, SlowRead::F64, 4.7639},
    {0x0580, 4, SlowRead::U32, 0x40000000}, {0x6030, 8, SlowRead::F64, 53.8},
    {0x6020, 8, SlowRead::F64, 914.4},      {0x0574, 4, SlowRead::S32, 914},
    {0x02BC, 4, SlowRead::S32, 12800},      {0x02C8, 4, SlowRead::S32, 0},
    {0x0E8C, 2, SlowRead::S16, 2304},       {0x28C8, 8, SlowRead::F64, 1896.6},
    {0x2840, 8, SlowRead::F64, 12.0},       {0x2848, 8, SlowRead::F64, 5.0},
    {0x0898, 2, SlowRead::U16, 9600},       {0x0930, 2, SlowRead::U16, 9600},
    {0x08C8, 2, SlowRead::U16, 16384},      {0x0960, 2, SlowRead::U16, 16384},
    {0x3B70, 8, SlowRead::F64, 816.0},      {0x3AB0, 8, SlowRead::F64, 816.0},
    {0x3B58, 8, SlowRead::F64, 645.0},      {0x3B60, 8, SlowRead::F64, 9400.0},
    {0x3A98, 8, SlowRead::F64, 645.0},      {0x3AA0, 8, SlowRead::F64, 9400.0},
    {0x08C0, 2, SlowRead::U16, 24576},      {0x0918, 8, SlowRead::F64, 60.0},
    {0x0958, 2, SlowRead::U16, 24576},      {0x09B0, 8, SlowRead::F64, 60.0},
    {0x08E8, 8, SlowRead::F64, 1295.0},     {0x0980, 8, SlowRead::F64, 1295.0},
    {0x0330, 2, SlowRead::U16, 16211},      {0x02A0, 2, SlowRead::S16, 364},
};

void Encode(const SlowRead& read, std::uint8_t* out) {
  std::uint64_t bits = 0;
  switch (read.kind) {
    case SlowRead::S16:
      bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(read.value));
      break;
    case SlowRead::U16:
      bits = static_cast<std::uint16_t>(read.value);
      break;
    case SlowRead::S32:
      bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(read.value));
      break;
    case SlowRead::U32:
      bits = static_cast<std::uint32_t>(read.value);
      break;
    case SlowRead::F64:
      std::memcpy(&bits, &read.value, 8);
      break;
  }
  for (std::uint32_t i = 0; i < read.size; ++i) out[i] = static_cast<std::uint8_t>(bits >> 8 * i);
}

TEST_F(SimLinkWine, SlowGroupOfThirtyReadsReturnsTheModulesValues) {
  Sim sim({"--verbose"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(0, code)) << SimResultText[code];

  // Destinations pre-filled with a pattern: each must be overwritten exactly, and no further.
  std::uint8_t got[30][12];
  std::memset(got, 0xEE, sizeof got);
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(SimLinkRead(kSlowGroup[i].offset, kSlowGroup[i].size, got[i], code)) << i;
  }
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(code, SimOkay);
  for (int i = 0; i < 30; ++i) {
    std::uint8_t want[12];
    std::memset(want, 0xEE, sizeof want);
    Encode(kSlowGroup[i], want);
    EXPECT_EQ(0, std::memcmp(got[i], want, sizeof want))
        << "offset 0x" << std::hex << kSlowGroup[i].offset;
  }
  EXPECT_TRUE(sim.child.WaitForLine("exchange 2: 30 reads, 0 writes, reply 1", kReadyMs));
  // The batch is spent.
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimNoRequests);
}

TEST_F(SimLinkWine, WritesReachTheModuleAndReadBackInLaterBatches) {
  Sim sim({});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(0, code)) << SimResultText[code];

  std::int16_t aileron = -12345;
  std::uint16_t qnh = 16000;
  std::uint8_t disconnect = 3;
  std::int16_t before = 0x1111;
  ASSERT_TRUE(SimLinkRead(0x0BB6, 2, &before, code));
  ASSERT_TRUE(SimLinkWrite(0x0BB6, 2, &aileron, code));
  ASSERT_TRUE(SimLinkWrite(0x0330, 2, &qnh, code));
  ASSERT_TRUE(SimLinkWrite(0x310A, 1, &disconnect, code));
  aileron = 1;  // copied when queued: the change must not be sent
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(before, 0);

  std::int16_t aileronNow = 0;
  std::uint16_t qnhNow = 0;
  std::uint8_t disconnectNow = 0;
  std::uint32_t nothing = 0xDEADBEEF;
  ASSERT_TRUE(SimLinkRead(0x0BB6, 2, &aileronNow, code));
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &qnhNow, code));
  ASSERT_TRUE(SimLinkRead(0x310A, 1, &disconnectNow, code));
  ASSERT_TRUE(SimLinkRead(0x0574, 0, &nothing, code));  // size 0: nothing comes back
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(aileronNow, -12345);
  EXPECT_EQ(qnhNow, 16000);
  EXPECT_EQ(disconnectNow, 3);
  EXPECT_EQ(nothing, 0xDEADBEEFu);
}

TEST_F(SimLinkWine, NoModuleWindowGivesCode2AndLeavesNothing) {
  SimResult code;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimNoServer);
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
  EXPECT_EQ(SimLink.AreaMapping, 0u);
  EXPECT_EQ(::GlobalFindAtomA(AreaName().c_str()), 0);
  EXPECT_EQ(::OpenFileMappingA(FILE_MAP_READ, FALSE, AreaName().c_str()), nullptr);
}

struct Refusal {
  const char* name;
  std::vector<std::string> args;
  std::int32_t requested;
  SimResult code;
  int exchanges;  // how many the module saw; 0: not counted
};

void PrintTo(const Refusal& c, std::ostream* out) {
  *out << c.name;
}

class SimLinkWineRefusal : public SimLinkWine, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SimLinkWineRefusal, OpenFailsWithTheCodeAndReleasesEverything) {
  const Refusal& c = GetParam();
  std::vector<std::string> args = c.args;
  args.push_back("--verbose");
  Sim sim(args);
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(c.requested, code));
  EXPECT_EQ(code, c.code) << SimResultText[code];
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
  EXPECT_EQ(::GlobalFindAtomA(AreaName().c_str()), 0);
  EXPECT_EQ(::OpenFileMappingA(FILE_MAP_READ, FALSE, AreaName().c_str()), nullptr);
  if (c.exchanges > 0) {
    EXPECT_TRUE(sim.child.WaitForLine("exchange " + std::to_string(c.exchanges) + ":", kReadyMs));
    EXPECT_EQ(sim.child.CountLines("exchange "), c.exchanges);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modules, SimLinkWineRefusal,
    ::testing::Values(
        Refusal{"OldVersionAsUipcmain", {"--version", "0x19980004"}, 0, SimWrongVersion, 1},
        Refusal{"OldVersionAsFs98main",
                {"--class", "FS98MAIN", "--version", "0x19980004"},
                0,
                SimWrongVersionViaFs98,
                1},
        Refusal{"ZerosFiveTimes", {"--zeros"}, 0, SimWrongVersion, 5},
        Refusal{"ReplyZeroIsBadData", {"--reply", "0"}, 0, SimBadData, 1},
        Refusal{"ReplyTwoIsBadData", {"--reply", "2"}, 0, SimBadData, 1},
        Refusal{"OtherSimulatorRequested", {"--sim-id", "8"}, 7, SimWrongSim, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimLinkWine, LowestAcceptedVersionAndFs98WindowOpen) {
  Sim sim({"--class", "FS98MAIN", "--version", "0x19980005", "--sim-id", "7"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(7, code)) << SimResultText[code];
  EXPECT_EQ(SimLink.SimId, 7);
  EXPECT_STREQ(SimNames[SimLink.SimId], "FS2004");
}

// A module window that never replies: every SendMessageTimeout really times out, which
// Windows reports as last error 1460, not 0; the link counts both as timed out (code 11).
TEST_F(SimLinkWine, ModuleThatNeverAnswersTimesOutWithCode11) {
  Sim sim({"--never-answer"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  const platform::WindowHandle window = platform::FindTopLevelWindow("UIPCMAIN");
  ASSERT_NE(window, 0u);
  std::uintptr_t reply = 77;
  platform::SetLastError(0);
  EXPECT_FALSE(platform::SendMessageWithTimeout(
      window, platform::RegisterMessageName("FsasmLib:IPC"), 0, 0, 400, &reply));
  const std::uint32_t timeoutError = platform::LastError();
  EXPECT_EQ(timeoutError, platform::kErrorTimeout);
  EXPECT_EQ(reply, 77u);

  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimTimedOut) << SimResultText[code];
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(::GlobalFindAtomA(AreaName().c_str()), 0);

  // A module holding a sender still stops cleanly, on Ctrl-C as on WM_CLOSE.
  ASSERT_TRUE(sim.child.RequestStop(testsupport::StopKind::Interrupt));
  EXPECT_TRUE(sim.child.WaitForExit(kReadyMs));
  EXPECT_EQ(sim.child.ExitCode(), 0);
}

// WM_CLOSE waits behind a held sender; the helper's last resort ends the module anyway.
TEST_F(SimLinkWine, ModuleHoldingASenderIsKilledAfterTheGrace) {
  Sim sim({"--never-answer", "--verbose"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  const platform::WindowHandle window = platform::FindTopLevelWindow("UIPCMAIN");
  // The sender waits longer than the test does: Wine withdraws a sent message its window has
  // not taken yet when the timeout ends, so with a short one a busy machine could hold nothing.
  std::thread sender([window] {
    std::uintptr_t reply = 0;
    EXPECT_FALSE(platform::SendMessageWithTimeout(
        window, platform::RegisterMessageName("FsasmLib:IPC"), 0, 0, 2 * kReadyMs, &reply));
  });
  EXPECT_TRUE(sim.child.WaitForLine("exchange 1: not answered", kReadyMs));
  EXPECT_EQ(sim.child.Stop(500), 137);
  EXPECT_FALSE(sim.child.Running());
  sender.join();
  for (int i = 0; i < kReadyMs / 10 && platform::FindTopLevelWindow("UIPCMAIN") != 0; ++i) {
    ::Sleep(10);
  }
  EXPECT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u);
}

// The module goes away under an open link: the exchange fails on a dead window (1400), the link
// stays open, and the next exchange needs new requests.
TEST_F(SimLinkWine, ModuleGoneAfterOpenGivesCode12AndKeepsTheLinkOpen) {
  Sim sim({"--exit-after", "1"});
  ASSERT_TRUE(sim.Ready()) << sim.Why();
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(0, code)) << SimResultText[code];
  ASSERT_TRUE(sim.child.WaitForExit(kReadyMs));
  EXPECT_EQ(sim.child.ExitCode(), 0);
  EXPECT_TRUE(sim.child.WaitForLine("korvan-sim stopped after 1 exchanges", 1000));

  std::int32_t altitude = 0x5555;
  ASSERT_TRUE(SimLinkRead(0x0574, 4, &altitude, code));
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimSendFailed);
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidWindowHandle);
  EXPECT_EQ(altitude, 0x5555);
  EXPECT_NE(SimLink.AreaView, nullptr);
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimNoRequests);
}

TEST_F(SimLinkWine, SecondModuleOfTheSameClassIsRefusedAndCloseEndsTheFirstCleanly) {
  Sim first({});
  ASSERT_TRUE(first.Ready()) << first.Why();
  ChildProcess second;
  ASSERT_TRUE(second.Start(KORVAN_SIM_EXE, {}));
  ASSERT_TRUE(second.WaitForExit(kReadyMs));
  EXPECT_EQ(second.ExitCode(), 1);
  EXPECT_EQ(second.CountLines("one is already running", testsupport::Stream::Err), 1);

  // WM_CLOSE to its window ends it with exit code 0.
  ASSERT_TRUE(first.child.RequestStop(testsupport::StopKind::Terminate));
  ASSERT_TRUE(first.child.WaitForExit(kReadyMs));
  EXPECT_EQ(first.child.ExitCode(), 0);
  EXPECT_TRUE(first.child.WaitForLine("korvan-sim stopped after 0 exchanges", 1000));
  EXPECT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u);
}

}  // namespace
