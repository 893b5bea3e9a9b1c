// The simulator link against an in-process module whose every answer the test chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "simlink/SimLinkClient.h"
#include "tests/unit/fake_ipc.h"

namespace {

constexpr std::uint32_t kVersion = 0x19980005;
constexpr std::uint32_t kFsx = 0xFADE0008;

std::uint32_t At32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

int Count(const std::string& call) {
  const auto& calls = fake_ipc::Get().calls;
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

class SimLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimLinkClose();
    fake_ipc::Reset();
    module.Set32(0x3304, kVersion);
    module.Set32(0x3308, kFsx);
    UseModule();
  }
  void TearDown() override { SimLinkClose(); }

  void UseModule() {
    fake_ipc::Get().server = [this](std::uint8_t* area, std::uintptr_t* reply) {
      return module.Serve(area, reply);
    };
  }

  void Open() {
    SimResult code = SimAreaFull;
    ASSERT_TRUE(SimLinkOpen(0, code));
    ASSERT_EQ(code, SimOkay);
    fake_ipc::Get().calls.clear();
    fake_ipc::Get().exchanges.clear();
  }

  fake_ipc::Module module;
};

TEST_F(SimLinkTest, AreaAndAtomAreNamedAfterTheProcessAndStayTheSameOnReopen) {
  Open();
  EXPECT_EQ(fake_ipc::Get().atomName, "FsasmLib:IPC:2C:1");
  EXPECT_EQ(fake_ipc::Get().mappingName, "FsasmLib:IPC:2C:1");
  SimLinkClose();
  Open();
  EXPECT_EQ(fake_ipc::Get().atomName, "FsasmLib:IPC:2C:1");
  EXPECT_EQ(fake_ipc::Get().liveAtoms, 1);
  EXPECT_EQ(fake_ipc::Get().liveMappings, 1);
}

TEST_F(SimLinkTest, SuccessfulOpenKeepsTheSimulatorIdAndTheServerVersion) {
  Open();
  EXPECT_EQ(SimLink.SimId, 8);
  EXPECT_EQ(SimLink.ServerVersion, kVersion);
  EXPECT_EQ(SimNameOf(SimLink.SimId), "FSX");
  EXPECT_EQ(SimLink.WritePos, SimLink.AreaView);
}

TEST_F(SimLinkTest, OpeningAnOpenLinkChangesNothing) {
  Open();
  const TSimLink before = SimLink;
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimAlreadyOpen);
  EXPECT_EQ(std::memcmp(&before, &SimLink, sizeof before), 0);
  EXPECT_TRUE(fake_ipc::Get().calls.empty());
}

TEST_F(SimLinkTest, NoServerWindowAcquiresNothing) {
  fake_ipc::Get().uipcWindow = false;
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimNoServer);
  const std::vector<std::string> expected = {"find UIPCMAIN", "find FS98MAIN"};
  EXPECT_EQ(fake_ipc::Get().calls, expected);
  EXPECT_EQ(SimLink.AreaView, nullptr);
}

struct AcquireFailure {
  const char* name;
  void (*arrange)(fake_ipc::State&);
  SimResult code;
};

void PrintTo(const AcquireFailure& c, std::ostream* os) {
  *os << c.name;
}

class SimLinkAcquireTest : public SimLinkTest,
                           public ::testing::WithParamInterface<AcquireFailure> {};

TEST_P(SimLinkAcquireTest, FailureReleasesEverythingAcquiredSoFar) {
  GetParam().arrange(fake_ipc::Get());
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, GetParam().code);
  EXPECT_EQ(fake_ipc::Get().liveAtoms, 0);
  EXPECT_EQ(fake_ipc::Get().liveMappings, 0);
  EXPECT_EQ(fake_ipc::Get().liveViews, 0);
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(SimLink.AreaAtom, 0);
  EXPECT_EQ(SimLink.AreaMapping, 0u);
  EXPECT_TRUE(fake_ipc::Get().exchanges.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SimLinkAcquireTest,
    ::testing::Values(
        AcquireFailure{"register", [](fake_ipc::State& s) { s.registerFails = true; },
                       SimNoRegisterMessage},
        AcquireFailure{"atom", [](fake_ipc::State& s) { s.atomFails = true; }, SimNoAtom},
        AcquireFailure{"mapping", [](fake_ipc::State& s) { s.mappingFails = true; }, SimNoMapping},
        AcquireFailure{"existing", [](fake_ipc::State& s) { s.mappingExists = true; },
                       SimNoMapping},
        AcquireFailure{"view", [](fake_ipc::State& s) { s.viewFails = true; }, SimNoView}),
    [](const auto& info) { return std::string(info.param.name); });

struct VersionCase {
  std::uint32_t version;
  std::uint32_t idWord;
  bool viaFs98;
  SimResult code;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << std::hex << "version 0x" << c.version << ", id word 0x" << c.idWord << std::dec
      << (c.viaFs98 ? ", as FS98MAIN" : ", as UIPCMAIN");
}

class SimLinkVersionTest : public SimLinkTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(SimLinkVersionTest, VersionAndMarkDecideTheOpen) {
  const VersionCase& c = GetParam();
  module.Set32(0x3304, c.version);
  module.Set32(0x3308, c.idWord);
  fake_ipc::Get().uipcWindow = !c.viaFs98;
  fake_ipc::Get().fs98Window = c.viaFs98;
  SimResult code = SimAreaFull;
  EXPECT_EQ(SimLinkOpen(0, code), c.code == SimOkay);
  EXPECT_EQ(code, c.code);
  if (c.code != SimOkay) {
    EXPECT_EQ(SimLink.AreaView, nullptr);
    EXPECT_EQ(fake_ipc::Get().liveMappings, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, SimLinkVersionTest,
    ::testing::Values(VersionCase{0x19980004, kFsx, false, SimWrongVersion},
                      VersionCase{0x19980004, kFsx, true, SimWrongVersionViaFs98},
                      VersionCase{0x19980005, kFsx, false, SimOkay},
                      VersionCase{0x19980005, kFsx, true, SimOkay},
                      VersionCase{0xFFFFFFFF, kFsx, false, SimOkay},
                      VersionCase{0x80000000, kFsx, false, SimOkay},
                      VersionCase{kVersion, 0xFADE0007, false, SimOkay},
                      VersionCase{kVersion, 0xFADF0007, false, SimWrongVersion},
                      VersionCase{kVersion, 0x0000FADE, false, SimWrongVersion},
                      VersionCase{kVersion, 0x0000FADE, true, SimWrongVersionViaFs98}));

TEST_F(SimLinkTest, MarkWithIdSevenLeavesFs2004) {
  module.Set32(0x3308, 0xFADE0007);
  Open();
  EXPECT_EQ(SimLink.SimId, 7);
  EXPECT_EQ(SimNameOf(SimLink.SimId), "FS2004");
}

TEST_F(SimLinkTest, CompleteFirstAnswerCostsOneExchangeAndOnePause) {
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(0, code));
  const auto& exchanges = fake_ipc::Get().exchanges;
  ASSERT_EQ(exchanges.size(), 1u);
  EXPECT_EQ(fake_ipc::Sleeps(), std::vector<std::uint32_t>{100});
  // Two reads and the 2-byte write of 2005 to 0x330A, then the terminator.
  const std::vector<std::uint8_t> expected = {
      1, 0, 0, 0, 0x04, 0x33, 0, 0, 4, 0, 0, 0, 1,    0,    0, 0, 0, 0, 0, 0,
      1, 0, 0, 0, 0x08, 0x33, 0, 0, 4, 0, 0, 0, 2,    0,    0, 0, 0, 0, 0, 0,
      2, 0, 0, 0, 0x0A, 0x33, 0, 0, 2, 0, 0, 0, 0xD5, 0x07, 0, 0, 0, 0};
  EXPECT_EQ(exchanges[0].batch, expected);
  EXPECT_EQ(exchanges[0].msg, 0xC0DEu);
  EXPECT_EQ(exchanges[0].wParam, 0xC123u);
  EXPECT_EQ(exchanges[0].lParam, 0u);
  EXPECT_EQ(exchanges[0].timeoutMs, 400u);
}

TEST_F(SimLinkTest, WriteOf2005GoesOutInTheFirstTryOnly) {
  int served = 0;
  fake_ipc::Get().server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    // The version appears only from the third exchange on.
    if (++served == 3) module.Set32(0x3304, kVersion);
    return module.Serve(area, reply);
  };
  module.Set32(0x3304, 0);
  SimResult code;
  ASSERT_TRUE(SimLinkOpen(0, code));
  const auto& exchanges = fake_ipc::Get().exchanges;
  ASSERT_EQ(exchanges.size(), 3u);
  EXPECT_EQ(exchanges[0].batch.size(), 58u);
  EXPECT_EQ(exchanges[1].batch.size(), 44u);
  EXPECT_EQ(exchanges[2].batch.size(), 44u);
  EXPECT_EQ(fake_ipc::Sleeps(), (std::vector<std::uint32_t>{100, 100, 100}));
}

TEST_F(SimLinkTest, ServerAnsweringZerosCostsFiveExchangesThenVersionRefusal) {
  module.Set32(0x3304, 0);
  module.Set32(0x3308, 0);
  SimResult code;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimWrongVersion);
  EXPECT_EQ(fake_ipc::Get().exchanges.size(), 5u);
  EXPECT_EQ(fake_ipc::Sleeps().size(), 5u);
  EXPECT_EQ(fake_ipc::Get().liveMappings, 0);
}

TEST_F(SimLinkTest, RequestedSimulatorMustMatch) {
  module.Set32(0x3308, 0xFADE0008);
  SimResult code;
  EXPECT_FALSE(SimLinkOpen(7, code));
  EXPECT_EQ(code, SimWrongSim);
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_TRUE(SimLinkOpen(8, code));
}

TEST_F(SimLinkTest, FailedHandshakeExchangeClosesTheLinkWithItsCode) {
  module.reply = 0;
  SimResult code;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimBadData);
  EXPECT_EQ(SimLink.AreaView, nullptr);
  EXPECT_EQ(fake_ipc::Get().liveAtoms, 0);
}

TEST_F(SimLinkTest, RoomRuleExactFits) {
  Open();
  std::vector<std::uint8_t> big(32496, 0x5A);
  SimResult code;
  EXPECT_TRUE(SimLinkRead(0, 32492, big.data(), code));
  EXPECT_FALSE(SimLinkRead(0, 1, big.data(), code)) << "the batch is full";
  ASSERT_TRUE(SimLinkProcess(code));

  EXPECT_FALSE(SimLinkRead(0, 32493, big.data(), code));
  EXPECT_EQ(code, SimAreaFull);
  EXPECT_TRUE(SimLinkWrite(0, 32496, big.data(), code));
  ASSERT_TRUE(SimLinkProcess(code));
  EXPECT_FALSE(SimLinkWrite(0, 32497, big.data(), code));
  EXPECT_EQ(code, SimAreaFull);
}

TEST_F(SimLinkTest, RefusedRequestLeavesEarlierOnesQueued) {
  Open();
  module.Set32(0x0100, 0xAABBCCDD);
  std::uint32_t value = 0;
  std::vector<std::uint8_t> big(32480);
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x0100, 4, &value, code));
  EXPECT_FALSE(SimLinkRead(0, 32480, big.data(), code));
  EXPECT_EQ(code, SimAreaFull);
  ASSERT_TRUE(SimLinkProcess(code));
  EXPECT_EQ(value, 0xAABBCCDDu);
  ASSERT_EQ(fake_ipc::Get().exchanges.size(), 1u);
  EXPECT_EQ(fake_ipc::Get().exchanges[0].batch.size(), 24u);
}

TEST_F(SimLinkTest, SizesThatWrapTheRoomSumAreRefused) {
  Open();
  std::uint8_t byte = 0;
  SimResult code;
  EXPECT_FALSE(SimLinkRead(0, 0xFFFFFFF0u, &byte, code));
  EXPECT_EQ(code, SimAreaFull);
  EXPECT_FALSE(SimLinkWrite(0, 0xFFFFFFF4u, &byte, code));
  EXPECT_EQ(code, SimAreaFull);
  EXPECT_EQ(SimLink.WritePos, SimLink.AreaView);
}

TEST_F(SimLinkTest, MixedBatchWithEmptyRecordsAndNoDestination) {
  Open();
  module.Set32(0x0200, 0x11223344);
  module.Set32(0x0300, 0x55667788);
  std::uint32_t first = 0, second = 0;
  std::uint16_t written = 0x4321;
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x0200, 0, &first, code));
  ASSERT_TRUE(SimLinkWrite(0x0400, 2, &written, code));
  written = 0xFFFF;  // the request already holds its bytes
  ASSERT_TRUE(SimLinkWrite(0x0500, 0, &written, code));
  ASSERT_TRUE(SimLinkRead(0x0300, 4, nullptr, code));
  ASSERT_TRUE(SimLinkRead(0x0200, 4, &second, code));
  ASSERT_TRUE(SimLinkProcess(code));

  EXPECT_EQ(first, 0u) << "a size-0 read copies nothing";
  EXPECT_EQ(second, 0x11223344u);
  EXPECT_EQ(module.space[0x0400], 0x21);
  EXPECT_EQ(module.space[0x0401], 0x43);
  const auto& batch = fake_ipc::Get().exchanges[0].batch;
  ASSERT_EQ(batch.size(), 16u + 14 + 12 + 20 + 20 + 4);
  EXPECT_EQ(At32(batch, 0), 1u);
  EXPECT_EQ(At32(batch, 8), 0u);
  EXPECT_EQ(At32(batch, 16), 2u);
  EXPECT_EQ(At32(batch, 30), 2u);
  EXPECT_EQ(At32(batch, 38), 0u);
  EXPECT_EQ(At32(batch, 42 + 12), 0u) << "no destination is reference 0";
  EXPECT_NE(At32(batch, 62 + 12), 0u);
  EXPECT_EQ(At32(batch, 82), 0u) << "terminator";
}

TEST_F(SimLinkTest, UntouchedReadDataDeliversZeros) {
  Open();
  fake_ipc::Get().server = [](std::uint8_t*, std::uintptr_t* reply) {
    *reply = 1;
    return true;
  };
  std::uint64_t value = ~0ull;
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x1000, 8, &value, code));
  ASSERT_TRUE(SimLinkProcess(code));
  EXPECT_EQ(value, 0u);
}

TEST_F(SimLinkTest, RepliesOtherThanOneAreBadDataAndCopyNothing) {
  Open();
  // The whole reply counts: a pointer-wide one whose low half is 1 is not 1.
  const std::uintptr_t wide = sizeof(std::uintptr_t) > 4 ? std::uintptr_t(1) << 32 | 1 : 3;
  for (std::uintptr_t reply : {std::uintptr_t{0}, std::uintptr_t{2}, wide}) {
    module.reply = reply;
    module.Set32(0x0100, 0x12345678);
    std::uint32_t value = 7;
    SimResult code;
    ASSERT_TRUE(SimLinkRead(0x0100, 4, &value, code));
    EXPECT_FALSE(SimLinkProcess(code));
    EXPECT_EQ(code, SimBadData);
    EXPECT_EQ(value, 7u);
    EXPECT_NE(SimLink.AreaView, nullptr) << "a failed exchange leaves the link open";
    EXPECT_FALSE(SimLinkProcess(code));
    EXPECT_EQ(code, SimNoRequests) << "the failed batch was spent";
  }
}

TEST_F(SimLinkTest, UnansweredSendsCostTenAttemptsAndTheCodeFollowsTheLastError) {
  Open();
  fake_ipc::Get().server = nullptr;
  for (std::uint32_t lastError : {0u, 1460u, 1400u}) {
    fake_ipc::Get().calls.clear();
    fake_ipc::Get().lastErrorAfterFailedSend = lastError;
    std::uint32_t value = 9;
    SimResult code;
    ASSERT_TRUE(SimLinkRead(0x0100, 4, &value, code));
    EXPECT_FALSE(SimLinkProcess(code));
    // A module that does not answer: Windows says 1460 (ERROR_TIMEOUT), not 0. A gone window
    // (1400) is a failed send.
    EXPECT_EQ(code, lastError == 1400 ? SimSendFailed : SimTimedOut) << lastError;
    EXPECT_EQ(Count("send"), 10);
    EXPECT_EQ(fake_ipc::Sleeps(), std::vector<std::uint32_t>(10, 10));
    EXPECT_EQ(fake_ipc::Get().calls.back(), "sleep 10") << "the pause follows the tenth attempt";
    EXPECT_EQ(value, 9u);
    EXPECT_FALSE(SimLinkProcess(code));
    EXPECT_EQ(code, SimNoRequests);
  }
}

TEST_F(SimLinkTest, LateAnswerEndsTheAttempts) {
  Open();
  int attempts = 0;
  fake_ipc::Get().server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    return ++attempts == 3 && module.Serve(area, reply);
  };
  std::uint32_t value = 0;
  module.Set32(0x0100, 42);
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x0100, 4, &value, code));
  ASSERT_TRUE(SimLinkProcess(code));
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(Count("send"), 3);
  EXPECT_EQ(fake_ipc::Sleeps().size(), 2u);
}

TEST_F(SimLinkTest, ClosedLinkRefusesEverythingWithNine) {
  std::uint32_t value = 0;
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkRead(0, 4, &value, code));
  EXPECT_EQ(code, SimNotOpen);
  EXPECT_FALSE(SimLinkWrite(0, 4, &value, code));
  EXPECT_EQ(code, SimNotOpen);
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimNotOpen);
  EXPECT_TRUE(fake_ipc::Get().calls.empty());
}

TEST_F(SimLinkTest, EmptyBatchSendsNothing) {
  Open();
  SimResult code;
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimNoRequests);
  EXPECT_TRUE(fake_ipc::Get().exchanges.empty());
}

TEST_F(SimLinkTest, CloseOnAClosedLinkReleasesNothing) {
  SimLinkClose();
  SimLinkClose();
  EXPECT_TRUE(fake_ipc::Get().calls.empty());
  EXPECT_EQ(SimLink.HandshakeWord, 2005);
}

// A server that changes what it was given has not handled the batch: bad data, nothing copied,
// and nothing written anywhere but the caller's destinations.
struct Tamper {
  const char* name;
  std::size_t at;  // byte offset into the second record
  std::uint32_t value;
};

void PrintTo(const Tamper& c, std::ostream* os) {
  *os << c.name;
}

class SimLinkTamperTest : public SimLinkTest, public ::testing::WithParamInterface<Tamper> {};

TEST_P(SimLinkTamperTest, ChangedRecordIsBadDataAndNothingIsCopied) {
  Open();
  module.Set32(0x0100, 0x01010101);
  module.Set32(0x0200, 0x02020202);
  module.Set32(0x0300, 0x03030303);
  fake_ipc::Get().server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    module.Serve(area, reply);
    std::memcpy(area + 20 + GetParam().at, &GetParam().value, 4);
    return true;
  };
  struct Guarded {
    std::uint32_t before = 0xDEADBEEF, value = 0x77777777, after = 0xDEADBEEF;
  } first, second, third;
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x0100, 4, &first.value, code));
  ASSERT_TRUE(SimLinkRead(0x0200, 4, &second.value, code));
  ASSERT_TRUE(SimLinkRead(0x0300, 4, &third.value, code));
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimBadData);
  for (const Guarded* g : {&first, &second, &third}) {
    EXPECT_EQ(g->value, 0x77777777u);
    EXPECT_EQ(g->before, 0xDEADBEEFu);
    EXPECT_EQ(g->after, 0xDEADBEEFu);
  }
  EXPECT_NE(SimLink.AreaView, nullptr) << "the link stays open";
}

INSTANTIATE_TEST_SUITE_P(Fields, SimLinkTamperTest,
                         ::testing::Values(Tamper{"id", 0, 2}, Tamper{"size", 8, 0x7FFF},
                                           Tamper{"hugeSize", 8, ~0u}, Tamper{"reference", 12, 1},
                                           Tamper{"terminator", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// The module promises to leave ids, sizes and references alone, not offsets, and the copy-back
// never uses them: a module that rewrites every offset has still answered the batch.
TEST_F(SimLinkTest, ChangedOffsetsAreNoFault) {
  Open();
  module.Set32(0x0100, 0x01010101);
  module.Set32(0x0200, 0x02020202);
  fake_ipc::Get().server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    module.Serve(area, reply);
    for (std::uint32_t at : {0u, 20u, 40u}) {
      const std::uint32_t changed = 0xFFFFFFFF - at;
      std::memcpy(area + at + 4, &changed, 4);
    }
    return true;
  };
  std::uint32_t first = 0, second = 0;
  const std::uint16_t qnh = 16211;
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x0100, 4, &first, code));
  ASSERT_TRUE(SimLinkRead(0x0200, 4, &second, code));
  ASSERT_TRUE(SimLinkWrite(0x0330, 2, &qnh, code));
  EXPECT_TRUE(SimLinkProcess(code)) << SimResultText[code];
  EXPECT_EQ(code, SimOkay);
  EXPECT_EQ(first, 0x01010101u);
  EXPECT_EQ(second, 0x02020202u);
}

// POSIX: another process cut the area's file short. The layer has put zeros in its place; the
// batch is gone, so nothing is sent; a cut during the exchange copies nothing back.
TEST_F(SimLinkTest, AnAreaCutShortIsBadDataAndCopiesNothing) {
  Open();
  module.Set32(0x0100, 0x01010101);
  std::uint32_t value = 7;
  SimResult code;
  ASSERT_TRUE(SimLinkRead(0x0100, 4, &value, code));
  fake_ipc::Get().areaCut = true;
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimBadData);
  EXPECT_EQ(Count("send"), 0);
  EXPECT_EQ(value, 7u);

  fake_ipc::Get().areaCut = false;
  fake_ipc::Get().server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    module.Serve(area, reply);
    fake_ipc::Get().areaCut = true;
    return true;
  };
  ASSERT_TRUE(SimLinkRead(0x0100, 4, &value, code));
  EXPECT_FALSE(SimLinkProcess(code));
  EXPECT_EQ(code, SimBadData);
  EXPECT_EQ(Count("send"), 1);
  EXPECT_EQ(value, 7u);
  EXPECT_NE(SimLink.AreaView, nullptr) << "the link stays open until a reconnect closes it";
}

TEST(SimNames, TablesHoldTheirTexts) {
  EXPECT_STREQ(SimNames[0], "Any");
  EXPECT_STREQ(SimNames[8], "FSX");
  EXPECT_STREQ(SimResultText[0], "Okay");
  EXPECT_STREQ(SimResultText[2], "Cannot link to FSUIPC or WideClient");
  EXPECT_STREQ(SimResultText[15],
               "Read or Write request cannot be added, memory for Process is full");
  EXPECT_EQ(SimNameOf(9), "id 9");
  EXPECT_EQ(SimNameOf(65535), "id 65535");
}

}  // namespace
