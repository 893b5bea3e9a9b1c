#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "tests/integration/simlink_sim_fixture.h"

namespace simtest {
namespace {

using testsupport::ChildProcess;
using testsupport::Stream;

// Distinct batch numbers in the record log that read `offset`.
int BatchesReading(const std::vector<std::string>& record, const char* offset) {
  std::set<std::string> batches;
  const std::string needle = std::string(" id 1 offset ") + offset + " ";
  for (const auto& line : record)
    if (line.find(needle) != std::string::npos) batches.insert(line.substr(0, line.find(" id ")));
  return static_cast<int>(batches.size());
}

TEST_F(SimLinkSimTest, HandshakeFindsFsxInOneExchange) {
  StartSim();
  Open();
  EXPECT_EQ(SimLink.ServerVersion, 0x19980005u);
  EXPECT_EQ(SimLink.SimId, 8);
  EXPECT_EQ(SimNameOf(SimLink.SimId), "FSX");
  EXPECT_EQ(Record(), (std::vector<std::string>{"batch 1 id 1 offset 0x3304 size 4",
                                                "batch 1 id 1 offset 0x3308 size 4",
                                                "batch 1 id 2 offset 0x330A size 2 data D507"}));
}

TEST_F(SimLinkSimTest, ReopeningAgainstTheSameModuleSucceedsUnderTheSameName) {
  StartSim();
  for (int open = 0; open < 3; ++open) {
    Open();
    EXPECT_EQ(SimLink.SimId, 8) << "open " << open;
    SimLinkClose();
  }
}

// The module looks the atom and its area up once for the link's connection, not for every
// message: with the atom's file gone behind its back it still serves the link. The link's close
// ends the connection, the module lets the area go, and nothing is left.
TEST_F(SimLinkSimTest, AConnectionsExchangesNeedNoFurtherLookup) {
  StartSim();
  Open();
  char atomFile[16];
  std::snprintf(atomFile, sizeof atomFile, "/%04X", static_cast<unsigned>(SimLink.AreaAtom));
  ASSERT_EQ(unlink((runtimeDir_ + "/korvan-win32/atoms" + atomFile).c_str()), 0);
  for (int round = 0; round < 3; ++round) {
    std::uint16_t qnh = 0;
    SimResult code = SimAlreadyOpen;
    ASSERT_TRUE(SimLinkRead(0x0330, 2, &qnh, code));
    ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
    EXPECT_EQ(qnh, 16211);
  }
  SimLinkClose();
  EXPECT_EQ(testsupport::FilesUnder(runtimeDir_ + "/korvan-win32/mappings"),
            std::vector<std::string>{});
}

TEST_F(SimLinkSimTest, ThirtyReadBatchReturnsTheFixedStateByteForByte) {
  StartSim();
  Open();
  const auto& group = SlowGroup();
  std::vector<Bytes> destinations;
  for (const auto& read : group) destinations.emplace_back(read.expected.size(), 0xEE);
  for (int round = 0; round < 3; ++round) {
    SimResult code = SimAlreadyOpen;
    for (std::size_t i = 0; i < group.size(); ++i)
      ASSERT_TRUE(SimLinkRead(group[i].offset, static_cast<std::uint32_t>(destinations[i].size()),
                              destinations[i].data(), code));
    ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
    for (std::size_t i = 0; i < group.size(); ++i)
      EXPECT_EQ(destinations[i], group[i].expected) << "offset " << std::hex << group[i].offset;
  }
}

TEST_F(SimLinkSimTest, WritesReachTheModuleAndReadBack) {
  StartSim();
  Open();
  const std::int16_t aileron = -1234, elevator = 4321;
  const std::uint8_t disconnect = 3;
  const std::uint16_t qnh = 16000;
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(SimLinkWrite(0x0330, 2, &qnh, code));
  ASSERT_TRUE(SimLinkWrite(0x310A, 1, &disconnect, code));
  ASSERT_TRUE(SimLinkWrite(0x0BB6, 2, &aileron, code));
  ASSERT_TRUE(SimLinkWrite(0x0BB2, 2, &elevator, code));
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];

  std::int16_t gotAileron = 0, gotElevator = 0;
  std::uint16_t gotQnh = 0;
  std::uint8_t gotDisconnect = 0;
  ASSERT_TRUE(SimLinkRead(0x0BB6, 2, &gotAileron, code));
  ASSERT_TRUE(SimLinkRead(0x0BB2, 2, &gotElevator, code));
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &gotQnh, code));
  ASSERT_TRUE(SimLinkRead(0x310A, 1, &gotDisconnect, code));
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(gotAileron, aileron);
  EXPECT_EQ(gotElevator, elevator);
  EXPECT_EQ(gotQnh, qnh);
  EXPECT_EQ(gotDisconnect, disconnect);

  const auto record = Record();
  ASSERT_GE(record.size(), 11u);
  // -1234 = 0xFB2E, 4321 = 0x10E1, 16000 = 0x3E80.
  EXPECT_EQ(std::vector<std::string>(record.begin() + 3, record.begin() + 7),
            (std::vector<std::string>{"batch 2 id 2 offset 0x0330 size 2 data 803E",
                                      "batch 2 id 2 offset 0x310A size 1 data 03",
                                      "batch 2 id 2 offset 0x0BB6 size 2 data 2EFB",
                                      "batch 2 id 2 offset 0x0BB2 size 2 data E110"}));
}

TEST_F(SimLinkSimTest, NoModuleGivesCode2AndLeavesNothing) {
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimNoServer);
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
}

struct RefusedCase {
  const char* name;
  std::vector<std::string> args;
  std::int32_t requested;
  SimResult code;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << c.name;
}

class SimLinkRefusedTest : public SimLinkSimTest,
                           public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(SimLinkRefusedTest, OpenFailsWithTheCodeAndClosesTheLink) {
  StartSim(GetParam().args);
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(GetParam().requested, code));
  EXPECT_EQ(code, GetParam().code) << SimResultText[code];
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
  EXPECT_EQ(SimLink.AreaMapping, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SimLinkRefusedTest,
    ::testing::Values(RefusedCase{"OldVersion", {"--version", "0x19980004"}, 0, SimWrongVersion},
                      RefusedCase{"OldVersionViaFs98",
                                  {"--class", "FS98MAIN", "--version", "0x19980004"},
                                  0,
                                  SimWrongVersionViaFs98},
                      RefusedCase{"Reply0", {"--reply", "0"}, 0, SimBadData},
                      RefusedCase{"Reply2", {"--reply", "2"}, 0, SimBadData},
                      RefusedCase{"OtherSimulator", {"--sim-id", "7"}, 8, SimWrongSim}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(SimLinkSimTest, AnyVersionFromTheMinimumUpIsTakenEvenAllOnes) {
  StartSim({"--version", "FFFFFFFF", "--class", "FS98MAIN", "--sim-id", "7"});
  Open(7);
  EXPECT_EQ(SimLink.ServerVersion, 0xFFFFFFFFu);
  EXPECT_EQ(SimNameOf(SimLink.SimId), "FS2004");
}

// Ten unanswered attempts; the POSIX layer reports a timeout as error 1460, as Windows does,
// and that is a timed-out module (code 11), not a failed send.
TEST_F(SimLinkSimTest, NeverAnsweringModuleTimesOutAllTenAttempts) {
  StartSim({"--never-answer", "--verbose"});
  SimResult code = SimOkay;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SimLinkOpen(0, code));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(code, SimTimedOut) << SimResultText[code];
  EXPECT_EQ(platform::LastError(), platform::kErrorTimeout);
  EXPECT_GE(took, std::chrono::milliseconds(10 * 400));
  ASSERT_TRUE(sim_.WaitForLine("exchange 10: not answered", kWaitMs));
  EXPECT_EQ(sim_.CountLines("not answered"), 10);
  EXPECT_EQ(Record(), std::vector<std::string>{});
}

// The module takes 250 ms over each batch, inside the link's 400 ms. A link that gave up
// sooner than that would time out every one of its ten attempts, since the module works
// through the abandoned batches one after another. A busy machine may push one attempt past
// the timeout; the next is answered in time, so the exchange succeeds either way.
TEST_F(SimLinkSimTest, ADelayWithinTheTimeoutStillSucceeds) {
  StartSim({"--delay-ms", "250", "--verbose"});
  const auto start = std::chrono::steady_clock::now();
  Open();
  std::uint16_t qnh = 0;
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &qnh, code));
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(qnh, 16211);
  // Both exchanges waited for the module's answer.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 250));
}

// Senders that gave up while the module was busy: every attempt times out, and the module
// survives replying to closed connections and batches whose area is gone.
TEST_F(SimLinkSimTest, ADelayBeyondTheTimeoutFailsTheOpenButTheModuleSurvives) {
  StartSim({"--delay-ms", "600"});
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimTimedOut) << SimResultText[code];
  EXPECT_TRUE(sim_.WaitForLine("no atom", kWaitMs));
  EXPECT_TRUE(sim_.Running());
}

TEST_F(SimLinkSimTest, ZerosMakeFiveHandshakeExchangesThenCode7) {
  StartSim({"--zeros", "--verbose"});
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimWrongVersion);
  const auto record = Record();
  EXPECT_EQ(BatchesReading(record, "0x3304"), 5);
  EXPECT_EQ(BatchesReading(record, "0x3308"), 5);
  EXPECT_EQ(std::count_if(record.begin(), record.end(),
                          [](const std::string& l) { return l.find("0x330A") != l.npos; }),
            1);
  EXPECT_EQ(record.size(), 11u);
  EXPECT_TRUE(sim_.WaitForLines("exchange ", 5, kWaitMs));
  EXPECT_EQ(sim_.CountLines("exchange "), 5);
}

TEST_F(SimLinkSimTest, ExitAfterEndsTheModuleCleanlyAndTheNextExchangeFails) {
  StartSim({"--exit-after", "2"});
  Open();
  std::uint16_t qnh = 0;
  SimResult code = SimAlreadyOpen;
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &qnh, code));
  ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  ASSERT_TRUE(sim_.WaitForExit(kWaitMs));
  EXPECT_EQ(sim_.ExitCode(), 0);
  EXPECT_TRUE(sim_.WaitForLine("korvan-sim stopped after 2 exchanges", 1000));
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &qnh, code));
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimSendFailed);
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidWindowHandle);
}

TEST_F(SimLinkSimTest, StopSignalsEndTheModuleWithCode0AndRemoveItsWindow) {
  for (auto kind : {testsupport::StopKind::Terminate, testsupport::StopKind::Interrupt}) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(KORVAN_SIM_PATH, {}, {"XDG_RUNTIME_DIR=" + runtimeDir_}));
    ASSERT_TRUE(sim.WaitForLine("korvan-sim ready", kWaitMs));
    EXPECT_NE(platform::FindTopLevelWindow("UIPCMAIN"), 0u);
    Open();
    SimLinkClose();
    ASSERT_TRUE(sim.RequestStop(kind));
    ASSERT_TRUE(sim.WaitForExit(kWaitMs));
    EXPECT_EQ(sim.ExitCode(), 0);
    EXPECT_TRUE(sim.WaitForLine("korvan-sim stopped after 1 exchanges", 1000));
    EXPECT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u);
    EXPECT_EQ(testsupport::FilesUnder(runtimeDir_), std::vector<std::string>{});
  }
}

// A sender that is not the link: other messages, unknown atoms and malformed batches each get
// reply 0 and one line, and the module goes on serving.
TEST_F(SimLinkSimTest, BadRequestsFromARawSenderGetReply0) {
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

  const char* name = "korvan-test-area";
  const std::uint16_t atom = platform::AddGlobalAtom(name);
  ASSERT_NE(atom, 0);
  const platform::Handle mapping = platform::CreateSharedArea(name, kSimAreaSize);
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

TEST_F(SimLinkSimTest, ASecondModuleOfTheSameClassIsRefused) {
  StartSim();
  ChildProcess second;
  ASSERT_TRUE(second.Start(KORVAN_SIM_PATH, {}, {"XDG_RUNTIME_DIR=" + runtimeDir_}));
  ASSERT_TRUE(second.WaitForExit(kWaitMs));
  EXPECT_EQ(second.ExitCode(), 1);
  EXPECT_TRUE(second.WaitForLine("error 1410", 0, Stream::Err));
  Open();  // the first one still serves
}

TEST_F(SimLinkSimTest, BadOptionsExitWithCode2AndSayWhy) {
  const std::vector<std::vector<std::string>> bad = {
      {"--sim-id", "70000"}, {"--rewrite", "nonsense"}, {"--frobnicate"}, {"--record"}};
  for (const auto& args : bad) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(KORVAN_SIM_PATH, args, {"XDG_RUNTIME_DIR=" + runtimeDir_}));
    ASSERT_TRUE(sim.WaitForExit(kWaitMs));
    EXPECT_EQ(sim.ExitCode(), 2) << args[0];
    EXPECT_TRUE(sim.WaitForLine("korvan-sim: ", 0, Stream::Err)) << args[0];
    EXPECT_EQ(sim.Lines(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace simtest
