// The simulator link (simlink/) as the bridge runs it, against korvan-sim in another process:
// the handshake, batches byte for byte, the module's refusals, a module that is silent, slow,
// gone or stopped, and senders that are not the link. One list of cases, built against the
// POSIX backend with korvan-sim and against the Win32 backend with korvan-sim.exe under Wine;
// where the backends differ, the answer is one of ipc_backend.h.
#include <algorithm>
#include <chrono>
#include <ostream>
#include <set>
#include <thread>

#include "tests/contract/simlink_fixture.h"

namespace simtest {
namespace {

using contract::kBackend;
using testsupport::ChildProcess;
using testsupport::Stream;

class SimLinkContract : public SimLinkSimTest {};

// Distinct batch numbers in the record log that read `offset`.
int BatchesReading(const std::vector<std::string>& record, const char* offset) {
  std::set<std::string> batches;
  const std::string needle = std::string(" id 1 offset ") + offset + " ";
  for (const auto& line : record)
    if (line.find(needle) != std::string::npos) batches.insert(line.substr(0, line.find(" id ")));
  return static_cast<int>(batches.size());
}

std::string AtomName(std::uint16_t atom) {
  char name[256] = {};
  platform::GetGlobalAtomName(atom, name, sizeof name);
  return name;
}

// The handshake, and a reconnect to the module that still runs: the same name, a fresh
// handshake each time.
TEST_F(SimLinkContract, HandshakeFindsFsxInOneExchangeOverTheNamedAreaAgainOnEachOpen) {
  StartSim({"--verbose"});
  Open();
  EXPECT_EQ(SimLink.ServerVersion, 0x19980005u);
  EXPECT_EQ(SimLink.SimId, 8);
  EXPECT_EQ(SimNameOf(SimLink.SimId), "FSX");
  EXPECT_EQ(SimLink.ServerWindow, platform::FindTopLevelWindow("UIPCMAIN"));
  EXPECT_EQ(SimLink.IpcMessage, platform::RegisterMessageName("FsasmLib:IPC"));
  // The atom and the area carry the one name the module looks up.
  EXPECT_EQ(AtomName(SimLink.AreaAtom), AreaName());
  EXPECT_TRUE(AreaOpens(AreaName()));
  // Both values came with the first answer: one exchange, with the 2005 write in it.
  EXPECT_TRUE(sim_.WaitForLine("exchange 1: 2 reads, 1 writes, reply 1", kWaitMs));
  EXPECT_EQ(sim_.CountLines("exchange "), 1);
  EXPECT_EQ(Record(), (std::vector<std::string>{"batch 1 id 1 offset 0x3304 size 4",
                                                "batch 1 id 1 offset 0x3308 size 4",
                                                "batch 1 id 2 offset 0x330A size 2 data D507"}));

  // Opening again is refused and changes nothing.
  const std::uint8_t* view = SimLink.AreaView;
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimAlreadyOpen);
  EXPECT_EQ(SimLink.AreaView, view);

  // Closing releases the atom and the area; each open after it makes them again.
  for (int open = 2; open <= 3; ++open) {
    const std::uint16_t atom = SimLink.AreaAtom;
    SimLinkClose();
    EXPECT_EQ(AtomName(atom), "") << "open " << open;
    EXPECT_FALSE(AreaOpens(AreaName())) << "open " << open;
    Open(open == 3 ? 8 : 0);
    EXPECT_EQ(SimLink.SimId, 8) << "open " << open;
    EXPECT_EQ(AtomName(SimLink.AreaAtom), AreaName()) << "open " << open;
  }
  EXPECT_TRUE(sim_.WaitForLine("exchange 3: 2 reads, 1 writes, reply 1", kWaitMs));
}

TEST_F(SimLinkContract, ThirtyReadBatchReturnsTheFixedStateByteForByte) {
  StartSim({"--verbose"});
  Open();
  constexpr std::size_t kTail = 4;  // bytes after each destination that must stay as they are
  const auto& group = SlowGroup();
  std::vector<Bytes> destinations;
  for (int round = 0; round < 3; ++round) {
    destinations.clear();
    for (const auto& read : group) destinations.emplace_back(read.expected.size() + kTail, 0xEE);
    SimResult code = SimAlreadyOpen;
    for (std::size_t i = 0; i < group.size(); ++i)
      ASSERT_TRUE(SimLinkRead(group[i].offset, static_cast<std::uint32_t>(group[i].expected.size()),
                              destinations[i].data(), code));
    ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
    EXPECT_EQ(code, SimOkay);
    for (std::size_t i = 0; i < group.size(); ++i) {
      Bytes expected = group[i].expected;
      expected.insert(expected.end(), kTail, 0xEE);
      EXPECT_EQ(destinations[i], expected) << "offset " << std::hex << group[i].offset;
    }
  }
  EXPECT_TRUE(sim_.WaitForLine("exchange 4: 30 reads, 0 writes, reply 1", kWaitMs));
  // The batch is spent.
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimNoRequests);
}

TEST_F(SimLinkContract, WritesReachTheModuleAndReadBackInLaterBatches) {
  StartSim();
  Open();
  std::int16_t aileron = -1234;
  const std::int16_t elevator = 4321;
  const std::uint8_t disconnect = 3;
  const std::uint16_t qnh = 16000;
  std::int16_t before = 0x1111;
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(SimLinkRead(0x0BB6, 2, &before, code));
  ASSERT_TRUE(SimLinkWrite(0x0330, 2, &qnh, code));
  ASSERT_TRUE(SimLinkWrite(0x310A, 1, &disconnect, code));
  ASSERT_TRUE(SimLinkWrite(0x0BB6, 2, &aileron, code));
  ASSERT_TRUE(SimLinkWrite(0x0BB2, 2, &elevator, code));
  aileron = 1;  // copied when queued: the change is not sent
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(before, 0);  // read before the batch's writes

  std::int16_t gotAileron = 0, gotElevator = 0;
  std::uint16_t gotQnh = 0;
  std::uint8_t gotDisconnect = 0;
  std::uint32_t nothing = 0xDEADBEEF;
  ASSERT_TRUE(SimLinkRead(0x0BB6, 2, &gotAileron, code));
  ASSERT_TRUE(SimLinkRead(0x0BB2, 2, &gotElevator, code));
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &gotQnh, code));
  ASSERT_TRUE(SimLinkRead(0x310A, 1, &gotDisconnect, code));
  ASSERT_TRUE(SimLinkRead(0x0574, 0, &nothing, code));  // size 0: nothing comes back
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(gotAileron, -1234);
  EXPECT_EQ(gotElevator, elevator);
  EXPECT_EQ(gotQnh, qnh);
  EXPECT_EQ(gotDisconnect, disconnect);
  EXPECT_EQ(nothing, 0xDEADBEEFu);

  const auto record = Record();
  ASSERT_GE(record.size(), 8u);
  // -1234 = 0xFB2E, 4321 = 0x10E1, 16000 = 0x3E80.
  EXPECT_EQ(std::vector<std::string>(record.begin() + 3, record.begin() + 8),
            (std::vector<std::string>{"batch 2 id 1 offset 0x0BB6 size 2",
                                      "batch 2 id 2 offset 0x0330 size 2 data 803E",
                                      "batch 2 id 2 offset 0x310A size 1 data 03",
                                      "batch 2 id 2 offset 0x0BB6 size 2 data 2EFB",
                                      "batch 2 id 2 offset 0x0BB2 size 2 data E110"}));
}

TEST_F(SimLinkContract, NoModuleGivesCode2AndLeavesNothing) {
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimNoServer);
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
  EXPECT_EQ(SimLink.AreaMapping, 0u);
  EXPECT_FALSE(contract::AtomNamed(AreaName()));
  EXPECT_FALSE(AreaOpens(AreaName()));
}

struct Refusal {
  const char* name;
  std::vector<std::string> args;
  std::int32_t requested;
  SimResult code;
  int exchanges;        // what the module saw
  std::size_t records;  // lines of the record log: two reads a batch, the one 2005 write
};

void PrintTo(const Refusal& c, std::ostream* os) {
  *os << c.name;
}

class SimLinkRefusal : public SimLinkContract, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SimLinkRefusal, OpenFailsWithTheCodeAndReleasesEverything) {
  const Refusal& c = GetParam();
  std::vector<std::string> args = c.args;
  args.push_back("--verbose");
  StartSim(args);
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(c.requested, code));
  EXPECT_EQ(code, c.code) << SimResultText[code];
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
  EXPECT_EQ(SimLink.AreaMapping, 0u);
  EXPECT_FALSE(contract::AtomNamed(AreaName()));
  EXPECT_FALSE(AreaOpens(AreaName()));
  EXPECT_TRUE(sim_.WaitForLines("exchange ", c.exchanges, kWaitMs));
  EXPECT_EQ(sim_.CountLines("exchange "), c.exchanges);
  const auto record = Record();
  EXPECT_EQ(record.size(), c.records);
  EXPECT_EQ(BatchesReading(record, "0x3304"), c.exchanges);
  EXPECT_EQ(BatchesReading(record, "0x3308"), c.exchanges);
  EXPECT_EQ(std::count_if(record.begin(), record.end(),
                          [](const std::string& l) { return l.find("0x330A") != l.npos; }),
            1);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SimLinkRefusal,
    ::testing::Values(Refusal{"OldVersion", {"--version", "0x19980004"}, 0, SimWrongVersion, 1, 3},
                      Refusal{"OldVersionViaFs98",
                              {"--class", "FS98MAIN", "--version", "0x19980004"},
                              0,
                              SimWrongVersionViaFs98,
                              1,
                              3},
                      Refusal{"ZerosFiveTimes", {"--zeros"}, 0, SimWrongVersion, 5, 11},
                      Refusal{"Reply0", {"--reply", "0"}, 0, SimBadData, 1, 3},
                      Refusal{"Reply2", {"--reply", "2"}, 0, SimBadData, 1, 3},
                      Refusal{"OtherSimulator", {"--sim-id", "7"}, 8, SimWrongSim, 1, 3}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// The lowest version taken and the highest there is, from an FS98MAIN window.
TEST_F(SimLinkContract, AnyVersionFromTheMinimumUpIsTakenEvenAllOnes) {
  for (const std::uint32_t version : {0x19980005u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(version);
    char text[16];
    std::snprintf(text, sizeof text, "%X", version);
    ChildProcess sim;
    ASSERT_TRUE(StartSimIn(sim, {"--version", text, "--class", "FS98MAIN", "--sim-id", "7"}));
    Open(7);
    EXPECT_EQ(SimLink.ServerVersion, version);
    EXPECT_EQ(SimLink.SimId, 7);
    EXPECT_EQ(SimNameOf(SimLink.SimId), "FS2004");
    SimLinkClose();
    EXPECT_EQ(sim.Stop(), 0);
  }
}

// Ten unanswered attempts, each really timed out: Windows reports that as last error 1460, not
// 0, and so does the POSIX layer; the link counts both as timed out (code 11), not a failed send.
TEST_F(SimLinkContract, NeverAnsweringModuleTimesOutAllTenAttempts) {
  StartSim({"--never-answer", "--verbose"});
  SimResult code = SimOkay;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SimLinkOpen(0, code));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(code, SimTimedOut) << SimResultText[code];
  EXPECT_EQ(platform::LastError(), platform::kErrorTimeout);
  EXPECT_GE(took, std::chrono::milliseconds(10 * 400));
  EXPECT_EQ(SimLink.AreaView, nullptr);
  ASSERT_TRUE(sim_.WaitForLine("exchange 1: not answered", kWaitMs));
  // Win32: the first attempt holds the window; the others never reach it.
  if (!kBackend.aHeldMessageHoldsTheWindow) {
    ASSERT_TRUE(sim_.WaitForLine("exchange 10: not answered", kWaitMs));
    EXPECT_EQ(sim_.CountLines("not answered"), 10);
  }
  EXPECT_EQ(Record(), std::vector<std::string>{});
  // A module holding a sender still stops cleanly on Ctrl-C (SIGINT).
  ASSERT_TRUE(sim_.RequestStop(testsupport::StopKind::Interrupt));
  ASSERT_TRUE(sim_.WaitForExit(kWaitMs));
  EXPECT_EQ(sim_.ExitCode(), 0);
}

// Win32: WM_CLOSE waits behind a held sender, so the helper's last resort ends the module;
// POSIX: the stop signal ends it at once. Either way the sender is let go and the window goes.
TEST_F(SimLinkContract, AModuleHoldingASenderEndsOnItsStop) {
  StartSim({"--never-answer", "--verbose"});
  const platform::WindowHandle window = platform::FindTopLevelWindow("UIPCMAIN");
  // The sender waits longer than the test does: Wine withdraws a sent message its window has
  // not taken yet when the timeout ends, so with a short one a busy machine could hold nothing.
  bool sent = true;
  std::thread sender([window, &sent] {
    std::uintptr_t reply = 0;
    sent = platform::SendMessageWithTimeout(window, platform::RegisterMessageName("FsasmLib:IPC"),
                                            0, 0, 2 * kWaitMs, &reply);
  });
  EXPECT_TRUE(sim_.WaitForLine("exchange 1: not answered", kWaitMs));
  const bool held = kBackend.aHeldMessageHoldsTheWindow;
  EXPECT_EQ(sim_.Stop(held ? 500 : kWaitMs), held ? 137 : 0);
  SimEnded();
  EXPECT_FALSE(sim_.Running());
  sender.join();
  EXPECT_FALSE(sent);
  for (int i = 0; i < kWaitMs / 10 && platform::FindTopLevelWindow("UIPCMAIN") != 0; ++i) {
    platform::SleepMs(10);
  }
  EXPECT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u);
}

// The module takes 250 ms over each batch, inside the link's 400 ms. A link that gave up
// sooner than that would time out every one of its ten attempts, since the module works
// through the abandoned batches one after another. A busy machine may push one attempt past
// the timeout; the next is answered in time, so the exchange succeeds either way.
TEST_F(SimLinkContract, ADelayWithinTheTimeoutStillSucceeds) {
  StartSim({"--delay-ms", "250", "--verbose"});
  const auto start = std::chrono::steady_clock::now();
  Open();
  std::uint16_t qnh = 0;
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(ReadQnh(&qnh, code)) << SimResultText[code];
  EXPECT_EQ(qnh, 16211);
  // Both exchanges waited for the module's answer.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 250));
}

// The module goes away under an open link: the exchange fails on a dead window (1400), copies
// nothing, the link stays open, and the next exchange needs new requests.
TEST_F(SimLinkContract, AModuleGoneUnderAnOpenLinkIsCode12AndTheLinkStaysOpen) {
  StartSim({"--exit-after", "2"});
  Open();
  std::uint16_t qnh = 0;
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(ReadQnh(&qnh, code)) << SimResultText[code];
  EXPECT_EQ(qnh, 16211);
  ASSERT_TRUE(sim_.WaitForExit(kWaitMs));
  EXPECT_EQ(sim_.ExitCode(), 0);
  EXPECT_TRUE(sim_.WaitForLine("korvan-sim stopped after 2 exchanges", 1000));
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

// A sender that is not the link: other messages, unknown atoms and malformed batches each get
// reply 0 and one line, and the module goes on serving.
TEST_F(SimLinkContract, BadRequestsFromARawSenderGetReply0) {
  StartSim({"--verbose"});
  const platform::WindowHandle window = platform::FindTopLevelWindow("UIPCMAIN");
  ASSERT_NE(window, 0u);
  const std::uint32_t ipc = platform::RegisterMessageName("FsasmLib:IPC");
  std::uintptr_t reply = 77;
  ASSERT_TRUE(platform::SendMessageWithTimeout(window, ipc ^ 1, 0, 0, kWaitMs, &reply));
  EXPECT_EQ(reply, 0u);

  reply = 77;
  ASSERT_TRUE(platform::SendMessageWithTimeout(window, ipc, 0xFFFE, 0, kWaitMs, &reply));
  EXPECT_EQ(reply, 0u);
  EXPECT_TRUE(sim_.WaitForLine("exchange 1: no atom 0xFFFE", kWaitMs));

  const std::string name = "korvan-test-area:" + std::to_string(platform::CurrentProcessId());
  const std::uint16_t atom = platform::AddGlobalAtom(name.c_str());
  ASSERT_NE(atom, 0);
  const platform::Handle mapping = platform::CreateSharedArea(name.c_str(), kSimAreaSize);
  ASSERT_NE(mapping, 0u);
  auto* area = static_cast<std::uint8_t*>(platform::MapSharedArea(mapping));
  ASSERT_NE(area, nullptr);
  const std::uint8_t badSize[] = {1, 0, 0, 0, 0x30, 0x03, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0};
  std::memcpy(area, badSize, sizeof badSize);
  reply = 77;
  ASSERT_TRUE(platform::SendMessageWithTimeout(window, ipc, atom, 0, kWaitMs, &reply));
  EXPECT_EQ(reply, 0u);
  EXPECT_TRUE(sim_.WaitForLine("exchange 2: bad batch: record at 0x0 runs past the area", kWaitMs));
  EXPECT_EQ(std::memcmp(area, badSize, sizeof badSize), 0);

  // The same area, now well formed: served.
  const std::uint8_t good[] = {1, 0, 0, 0, 0x30, 0x03, 0, 0, 2, 0, 0,
                               0, 1, 0, 0, 0,    0,    0, 0, 0, 0, 0};
  std::memcpy(area, good, sizeof good);
  ASSERT_TRUE(platform::SendMessageWithTimeout(window, ipc, atom, 0, kWaitMs, &reply));
  EXPECT_EQ(reply, 1u);
  EXPECT_EQ(area[16], 0x53);
  EXPECT_EQ(area[17], 0x3F);
  EXPECT_EQ(Record(),
            (std::vector<std::string>{
                "batch 2 refused: record at 0x0 runs past the area (id 1, size 2147483647)",
                "batch 3 id 1 offset 0x0330 size 2"}));
  platform::UnmapSharedArea(area);
  platform::CloseKernelHandle(mapping);
  platform::DeleteGlobalAtom(atom);
}

// One module of a class at a time; a stop request ends it with code 0 and takes its window:
// SIGTERM and SIGINT on POSIX, WM_CLOSE and Ctrl-C on Windows.
TEST_F(SimLinkContract, ASecondModuleIsRefusedAndAStopRequestEndsTheFirstWithCode0) {
  StartSim();
  ChildProcess second;
  ASSERT_TRUE(second.Start(KORVAN_SIM_PROGRAM, {}, {"XDG_RUNTIME_DIR=" + runtimeDir_}));
  ASSERT_TRUE(second.WaitForExit(kWaitMs));
  EXPECT_EQ(second.ExitCode(), 1);
  EXPECT_EQ(second.CountLines("(error 1410: one is already running)", Stream::Err), 1);
  struct Stop {
    ChildProcess* sim;
    testsupport::StopKind kind;
  };
  ChildProcess again;
  for (const Stop stop : {Stop{&sim_, testsupport::StopKind::Terminate},
                          Stop{&again, testsupport::StopKind::Interrupt}}) {
    if (stop.sim == &again) {
      ASSERT_TRUE(StartSimIn(again, {}));
    }
    Open();  // the one running serves
    SimLinkClose();
    ASSERT_TRUE(stop.sim->RequestStop(stop.kind));
    ASSERT_TRUE(stop.sim->WaitForExit(kWaitMs));
    EXPECT_EQ(stop.sim->ExitCode(), 0);
    EXPECT_TRUE(stop.sim->WaitForLine("korvan-sim stopped after 1 exchanges", 1000));
    EXPECT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u);
    EXPECT_EQ(testsupport::FilesUnder(runtimeDir_), std::vector<std::string>{});
  }
}

// Each bad option is the parser's (its unit test); here what the program does with one, and
// with a record file it cannot open.
TEST_F(SimLinkContract, BadOptionsExitWithCode2AndSayWhy) {
  const std::vector<std::vector<std::string>> bad = {
      {"--frobnicate"}, {"--record", scratchDir_ + "/no such folder/record.txt"}};
  for (const auto& args : bad) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(KORVAN_SIM_PROGRAM, args, {"XDG_RUNTIME_DIR=" + runtimeDir_}));
    ASSERT_TRUE(sim.WaitForExit(kWaitMs));
    EXPECT_EQ(sim.ExitCode(), 2) << args[0];
    EXPECT_TRUE(sim.WaitForLine("korvan-sim: ", 0, Stream::Err)) << args[0];
    EXPECT_EQ(sim.Lines(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace simtest
