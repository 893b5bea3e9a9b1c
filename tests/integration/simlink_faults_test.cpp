// What the simulator link meets on POSIX alone, against korvan-sim: the module's connections
// (one lookup of the area for all of a connection's batches, replies to connections that are
// gone), a module that falls silent, and the shared namespace: an area cut short under the link,
// an area name another live process holds, names and files that lead out of the namespace. What
// both backends share is tests/contract/simlink_contract_test.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/ipc.h"
#include "tests/contract/simlink_fixture.h"
#include "tests/support/posix_holder.h"

namespace simtest {
namespace {

std::string AreaPath(const std::string& runtimeDir) {
  return runtimeDir + "/korvan-win32/mappings/" + AreaName();
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
    ASSERT_TRUE(ReadQnh(&qnh, code)) << SimResultText[code];
    EXPECT_EQ(qnh, 16211);
  }
  SimLinkClose();
  EXPECT_EQ(testsupport::FilesUnder(runtimeDir_ + "/korvan-win32/mappings"),
            std::vector<std::string>{});
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

// A module that answered the handshake and then hangs: every later exchange costs its ten
// attempts of 400 ms and ends as timed out, code 11.
TEST_F(SimLinkSimTest, AModuleThatFallsSilentTimesOut) {
  StartSim({"--silent-after", "1", "--verbose"});
  Open();
  std::uint16_t qnh = 0;
  SimResult code = SimOkay;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ReadQnh(&qnh, code));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(code, SimTimedOut) << SimResultText[code];
  EXPECT_GE(took, std::chrono::milliseconds(10 * 400 + 10 * 10));
  EXPECT_EQ(qnh, 0);
  EXPECT_TRUE(sim_.WaitForLine("exchange 11: not answered", kWaitMs));
}

// Any process of the user may cut the area's file short. The link's next access past the new
// end would have died of SIGBUS: now the exchange fails as bad data, and a new open makes a new
// area. (An access inside what is left is an ordinary one.)
TEST_F(SimLinkSimTest, AnAreaCutShortUnderTheLinkIsBadDataAndANewOpenWorks) {
  StartSim();
  struct Cut {
    std::uint32_t length;    // what is left of the file
    std::uint32_t readSize;  // a read reaching past it
  };
  for (const Cut cut : {Cut{0, 2}, Cut{4096, 8000}}) {
    SCOPED_TRACE(cut.length);
    Open();
    Bytes big(cut.readSize, 0xEE);
    SimResult code = SimOkay;
    ASSERT_TRUE(SimLinkRead(0x0330, cut.readSize, big.data(), code));
    ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
    EXPECT_EQ(big[0] | big[1] << 8, 16211);
    // Cut between two batches: the next one is written into the cut area.
    ASSERT_EQ(truncate(AreaPath(runtimeDir_).c_str(), cut.length), 0);
    big.assign(cut.readSize, 0xEE);
    ASSERT_TRUE(SimLinkRead(0x0330, cut.readSize, big.data(), code));
    EXPECT_FALSE(SimLinkProcess(code));
    EXPECT_EQ(code, SimBadData) << SimResultText[code];
    EXPECT_EQ(big, Bytes(cut.readSize, 0xEE));
    // The reconnect: close, open a new area, exchange as before.
    SimLinkClose();
    Open();
    std::uint16_t qnh = 0;
    ASSERT_TRUE(ReadQnh(&qnh, code)) << SimResultText[code];
    EXPECT_EQ(qnh, 16211);
    // Cut with a batch queued: the exchange has nothing left to send.
    ASSERT_TRUE(SimLinkRead(0x0330, cut.readSize, big.data(), code));
    ASSERT_EQ(truncate(AreaPath(runtimeDir_).c_str(), 0), 0);
    EXPECT_FALSE(SimLinkProcess(code));
    EXPECT_EQ(code, SimBadData) << SimResultText[code];
    SimLinkClose();
  }
}

// In a child: an area of the name, mapped, as another live bridge would hold this process's if
// process ids were reused while it still ran; 1 when it was made.
std::uint32_t TakeArea(const char* name) {
  const platform::Handle area = platform::CreateSharedArea(name, kSimAreaSize);
  return area != 0 && platform::MapSharedArea(area) != nullptr;
}

TEST_F(SimLinkSimTest, AnAreaNameAnotherLiveProcessHoldsIsRefusedAndADeadOnesIsReplaced) {
  StartSim();
  testsupport::ChildHolder holder(TakeArea, AreaName().c_str());
  ASSERT_EQ(holder.taken(), 1u);
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimNoMapping) << SimResultText[code];
  EXPECT_EQ(SimLink.AreaView, nullptr);
  holder.Release();  // it ends holding the area: a stale file nobody holds
  Open();
  std::uint16_t qnh = 0;
  ASSERT_TRUE(ReadQnh(&qnh, code)) << SimResultText[code];
  EXPECT_EQ(qnh, 16211);
}

// A symlink planted under the area's name is never followed: the open fails with code 5 and
// the file it points at is not touched.
TEST_F(SimLinkSimTest, ASymlinkUnderTheAreaNameIsRefused) {
  StartSim();
  const std::string target = scratchDir_ + "/precious";
  std::ofstream(target) << "keep";
  const std::string mappings = runtimeDir_ + "/korvan-win32/mappings";
  ASSERT_TRUE(mkdir(mappings.c_str(), 0700) == 0 || errno == EEXIST);
  const std::string path = AreaPath(runtimeDir_);
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  SimResult code = SimOkay;
  EXPECT_FALSE(SimLinkOpen(0, code));
  EXPECT_EQ(code, SimNoMapping) << SimResultText[code];
  EXPECT_EQ(ReadLines(target), std::vector<std::string>{"keep"});
  unlink(path.c_str());
  Open();  // with the link gone, the name is free
}

// An atom names the area the module is to open: a name that leads out of the namespace's
// mappings is refused by the module's open, which replies 0, whatever file it names.
TEST_F(SimLinkSimTest, AnAtomNamingAPathOutsideTheNamespaceGetsReply0) {
  StartSim({"--verbose"});
  const std::string outside = scratchDir_ + "/outside";
  std::ofstream(outside) << std::string(0x8000, 'x');
  const std::uint16_t atom = platform::AddGlobalAtom("../../../outside");
  ASSERT_NE(atom, 0);
  const platform::WindowHandle window = platform::FindTopLevelWindow("UIPCMAIN");
  ASSERT_NE(window, 0u);
  std::uintptr_t reply = 77;
  ASSERT_TRUE(platform::SendMessageWithTimeout(
      window, platform::RegisterMessageName("FsasmLib:IPC"), atom, 0, kWaitMs, &reply));
  EXPECT_EQ(reply, 0u);
  EXPECT_TRUE(sim_.WaitForLine("cannot open area ../../../outside (error 123)", kWaitMs));
  EXPECT_EQ(ReadLines(outside), std::vector<std::string>{std::string(0x8000, 'x')});
  platform::DeleteGlobalAtom(atom);
}

}  // namespace
}  // namespace simtest
