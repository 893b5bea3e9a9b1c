// The window/IPC contract (platform/ipc.h, platform/ipc_server.h) as both backends keep it:
// registered messages, atoms, named shared areas, serving windows and the message exchange
// between a sender and a server window of the test's own. Built against the POSIX backend on
// Linux and against the Win32 backend under Wine; where the contract lets them differ, the
// answer is one of ipc_backend.h.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc.h"
#include "platform/ipc_server.h"
#include "tests/contract/ipc_backend.h"
#include "tests/contract/served_window.h"
#include "tests/support/child_process.h"

namespace {

using contract::kBackend;
using namespace platform;
using testsupport::ServedReply;
using testsupport::ServedWindow;
using testsupport::Serving;

// How long a sender waits for a window that does answer: far more than it ever takes, so a busy
// machine slows a test down but never fails it.
constexpr std::uint32_t kAnswerMs = 30000;

// Names no other process of the session uses (Win32 shares atoms, areas and classes among all
// of a session's programs; POSIX tests each have a root of their own).
std::string UniqueName(const char* tag) {
  static std::atomic<int> counter{0};
  return std::string("KorvanTest:") + tag + ":" + std::to_string(contract::SystemProcessId()) +
         ":" + std::to_string(++counter);
}

class IpcContract : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = testsupport::MakeTestRuntimeDir("ipc");
    SetLastError(0);
  }
  void TearDown() override {
    // POSIX: every atom, area and window leaves its file with it.
    EXPECT_EQ(testsupport::FilesUnder(runtime_), std::vector<std::string>{})
        << "left in the namespace root";
    testsupport::RemoveTree(runtime_);
  }
  std::string runtime_;
};

// A window of a class of the test's own, served on a thread of its own, as a sender finds it.
struct FoundWindow {
  FoundWindow(const char* tag, bool answer) : name(UniqueName(tag)) {
    serving.answer = answer;
    server = std::make_unique<ServedWindow>(name.c_str(), &serving);
    window = server->Created() ? FindTopLevelWindow(name.c_str()) : 0;
  }
  std::string name;
  Serving serving;
  std::unique_ptr<ServedWindow> server;
  WindowHandle window = 0;
};

// Runs work(0) and work(1) on two threads let go at the same moment.
template <class Work>
void AtOnce(Work work) {
  std::atomic<int> ready{0};
  auto run = [&](int who) {
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
    work(who);
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
}

// --- registered messages -------------------------------------------------------------------

TEST_F(IpcContract, ANameHasOneRegisteredIdWhateverItsCase) {
  const std::uint32_t id = RegisterMessageName("FsasmLib:IPC");
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  for (const char* name : {"fsasmlib:ipc", "FSASMLIB:IPC", "FsAsMlIb:IpC"}) {
    EXPECT_EQ(RegisterMessageName(name), id) << name;
  }
  EXPECT_NE(RegisterMessageName("FsasmLib:IPD"), id);
  EXPECT_NE(RegisterMessageName("FsasmLib:IPC2"), id);
  const std::string longest(255, 'q');
  EXPECT_GE(RegisterMessageName(longest.c_str()), 0xC000u);
  for (const std::string& bad : {std::string(), std::string(256, 'q')}) {
    SetLastError(0);
    EXPECT_EQ(RegisterMessageName(bad.c_str()), 0u) << bad.size();
    EXPECT_EQ(LastError(), kErrorInvalidParameter) << bad.size();
  }
  SetLastError(0);
  EXPECT_EQ(RegisterMessageName(nullptr), 0u);
  if (kBackend.nullMessageNameError != contract::kAnyCode) {
    EXPECT_EQ(LastError(), kBackend.nullMessageNameError);
  }
}

// --- atoms ---------------------------------------------------------------------------------

TEST_F(IpcContract, AnAtomHoldsItsNameOf1To255CharactersCutToTheBufferUntilDeleted) {
  const std::string name = UniqueName("atom");  // 20 characters or more
  const auto length = static_cast<std::uint32_t>(name.size());
  const std::uint16_t atom = AddGlobalAtom(name.c_str());
  ASSERT_GE(atom, 0xC000u);
  EXPECT_TRUE(contract::AtomNamed(name));
  struct Case {
    std::uint32_t size;
    std::uint32_t copied;
  };
  for (const Case& c : {Case{100, length}, Case{length + 1, length}, Case{length, length - 1},
                        Case{5, 4}, Case{1, 0}}) {
    char buffer[100];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetGlobalAtomName(atom, buffer, c.size), c.copied) << c.size;
    EXPECT_EQ(std::string(buffer), name.substr(0, c.copied)) << c.size;
  }
  char buffer[16] = "unchanged";
  EXPECT_EQ(GetGlobalAtomName(atom, nullptr, 16), 0u);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  SetLastError(0);
  EXPECT_EQ(GetGlobalAtomName(atom, buffer, 0), 0u);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_STREQ(buffer, "unchanged");

  std::string longest = UniqueName("atom");
  longest.resize(255, 'n');
  const std::uint16_t longAtom = AddGlobalAtom(longest.c_str());
  ASSERT_NE(longAtom, 0);
  DeleteGlobalAtom(atom);
  EXPECT_FALSE(contract::AtomNamed(name));
  SetLastError(0);
  EXPECT_EQ(GetGlobalAtomName(atom, buffer, sizeof buffer), 0u);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_STREQ(buffer, "");
  DeleteGlobalAtom(atom);  // again, and one that never was: harmless to the others
  DeleteGlobalAtom(0x0001);
  char whole[300];
  EXPECT_EQ(GetGlobalAtomName(longAtom, whole, sizeof whole), 255u);
  EXPECT_EQ(std::string(whole), longest);
  DeleteGlobalAtom(longAtom);
  for (const std::string& bad : {std::string(), std::string(256, 'n')}) {
    SetLastError(0);
    EXPECT_EQ(AddGlobalAtom(bad.c_str()), 0) << bad.size();
    EXPECT_EQ(LastError(), kErrorInvalidParameter) << bad.size();
  }
}

// Two threads at once: never one atom for two names, always one area for one name.
TEST_F(IpcContract, TwoThreadsAtOnceNeverShareAnAtomAndGetOneAreaBetweenThem) {
  constexpr int kEach = 40;
  const std::string prefix = UniqueName("race");
  auto nameOf = [&](int who, int i) {
    return prefix + "-" + std::to_string(who) + "-" + std::to_string(i);
  };
  std::vector<std::uint16_t> got[2];
  AtOnce([&](int who) {
    for (int i = 0; i < kEach; ++i) got[who].push_back(AddGlobalAtom(nameOf(who, i).c_str()));
  });
  std::set<std::uint16_t> distinct;
  for (int who = 0; who < 2; ++who) {
    for (int i = 0; i < kEach; ++i) {
      char name[300] = {};
      ASSERT_NE(got[who][i], 0);
      distinct.insert(got[who][i]);
      GetGlobalAtomName(got[who][i], name, sizeof name);
      EXPECT_EQ(std::string(name), nameOf(who, i));
    }
  }
  EXPECT_EQ(distinct.size(), 2u * kEach);
  // Where atoms are numbered first-free, no value was skipped either.
  if (const std::uint16_t first = kBackend.firstAtomOfAFreshTable; first != 0) {
    EXPECT_EQ(*distinct.begin(), first);
    EXPECT_EQ(*distinct.rbegin(), first + 2 * kEach - 1);
  }
  for (std::uint16_t atom : distinct) DeleteGlobalAtom(atom);

  for (int round = 0; round < 30; ++round) {
    const std::string name = UniqueName("race");
    Handle handles[2] = {};
    std::uint32_t errors[2] = {};
    AtOnce([&](int who) {
      handles[who] = CreateSharedArea(name.c_str(), 128);
      errors[who] = LastError();
    });
    ASSERT_NE(handles[0], 0u);
    ASSERT_NE(handles[1], 0u);
    EXPECT_EQ(std::multiset<std::uint32_t>({errors[0], errors[1]}),
              std::multiset<std::uint32_t>({0u, kErrorAlreadyExists}));
    auto* first = static_cast<unsigned char*>(MapSharedArea(handles[0]));
    auto* second = static_cast<unsigned char*>(MapSharedArea(handles[1]));
    ASSERT_TRUE(first != nullptr && second != nullptr);
    first[1] = 9;
    EXPECT_EQ(second[1], 9);
    UnmapSharedArea(first);
    UnmapSharedArea(second);
    CloseKernelHandle(handles[0]);
    CloseKernelHandle(handles[1]);
  }
}

// --- shared areas --------------------------------------------------------------------------

TEST_F(IpcContract, ANamedAreaIsSharedByItsHandlesAndLivesWhileAViewMapsIt) {
  const std::string name = UniqueName("area");
  SetLastError(77);
  const Handle first = CreateSharedArea(name.c_str(), 0x8000);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(LastError(), 0u);
  // A second create joins the live area, whatever size it asks for.
  const Handle second = CreateSharedArea(name.c_str(), 0x10000);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  const Handle opened = OpenSharedArea(name.c_str());
  ASSERT_NE(opened, 0u);
  auto* a = static_cast<unsigned char*>(MapSharedArea(first));
  auto* b = static_cast<unsigned char*>(MapSharedArea(second));
  auto* c = static_cast<unsigned char*>(MapSharedArea(opened));
  ASSERT_TRUE(a != nullptr && b != nullptr && c != nullptr);
  for (const void* view : {a, b, c}) {
    EXPECT_EQ(SharedAreaSize(view), 0x8000u);
    EXPECT_TRUE(SharedAreaIntact(view));
  }
  EXPECT_EQ(a[0], 0);  // fresh areas are zero-filled
  EXPECT_EQ(a[0x7FFF], 0);
  a[0] = 0x5A;
  b[0x7FFF] = 0xA5;
  EXPECT_EQ(c[0], 0x5A);
  EXPECT_EQ(a[0x7FFF], 0xA5);

  EXPECT_TRUE(UnmapSharedArea(a));
  EXPECT_TRUE(CloseKernelHandle(first));
  EXPECT_TRUE(CloseKernelHandle(second));
  EXPECT_TRUE(CloseKernelHandle(opened));
  // The views of b and c keep the area, and its bytes, after the last handle; POSIX its name
  // too, while Windows takes the name with the last handle.
  EXPECT_EQ(c[0], 0x5A);
  b[1] = 0x77;
  EXPECT_EQ(c[1], 0x77);
  const Handle again = OpenSharedArea(name.c_str());
  EXPECT_EQ(again != 0, kBackend.aViewKeepsTheName);
  if (again != 0) {
    EXPECT_TRUE(CloseKernelHandle(again));
  }
  EXPECT_TRUE(UnmapSharedArea(b));
  EXPECT_TRUE(UnmapSharedArea(c));
  // Gone with its last view: the name is free, and a new area of it is zeroed.
  EXPECT_EQ(OpenSharedArea(name.c_str()), 0u);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  const Handle fresh = CreateSharedArea(name.c_str(), 0x8000);
  ASSERT_NE(fresh, 0u);
  EXPECT_EQ(LastError(), 0u);
  auto* view = static_cast<unsigned char*>(MapSharedArea(fresh));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  EXPECT_TRUE(UnmapSharedArea(view));
  EXPECT_TRUE(CloseKernelHandle(fresh));
}

TEST_F(IpcContract, AViewIsKnownAtItsStartAndBadAreaCallsFailWithTheirCodes) {
  const Handle small = CreateSharedArea(UniqueName("small").c_str(), 100);
  ASSERT_NE(small, 0u);
  void* view = MapSharedArea(small);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(SharedAreaSize(view), contract::ViewSizeFor(100));
  int local = 0;
  for (const void* notAView : {static_cast<const void*>(&local), static_cast<const void*>(nullptr),
                               static_cast<const void*>(static_cast<char*>(view) + 1)}) {
    EXPECT_EQ(SharedAreaSize(notAView), 0u);
  }
  EXPECT_FALSE(SharedAreaIntact(&local));
  EXPECT_FALSE(SharedAreaIntact(nullptr));
  EXPECT_TRUE(UnmapSharedArea(view));
  EXPECT_EQ(SharedAreaSize(view), 0u);  // unmapped
  EXPECT_TRUE(CloseKernelHandle(small));

  EXPECT_EQ(CreateSharedArea(UniqueName("empty").c_str(), 0), 0u);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(OpenSharedArea(UniqueName("absent").c_str()), 0u);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  SetLastError(0);
  EXPECT_EQ(MapSharedArea(0), nullptr);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  const Handle other = contract::HandleOfAnotherKind();
  ASSERT_NE(other, 0u);
  SetLastError(0);
  EXPECT_EQ(MapSharedArea(other), nullptr);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_TRUE(CloseKernelHandle(other));
  SetLastError(0);
  EXPECT_FALSE(CloseKernelHandle(other));  // closed once only
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  SetLastError(0);
  EXPECT_FALSE(CloseKernelHandle(0));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  for (void* notAView : {static_cast<void*>(nullptr), static_cast<void*>(&local)}) {
    SetLastError(0);
    EXPECT_FALSE(UnmapSharedArea(notAView));
    EXPECT_EQ(LastError(), kErrorInvalidAddress);
  }
}

// --- windows and the exchange --------------------------------------------------------------

// One window of a class at a time; the class is free again once it is destroyed, and its old
// window is no window at all.
TEST_F(IpcContract, AClassHasOneWindowAtATimeAndIsFreeOnceItIsDestroyed) {
  const std::string uipc = UniqueName("UIPC"), fs98 = UniqueName("FS98");
  Serving serving;
  WindowHandle stale = 0;
  std::uintptr_t reply = 99;
  {
    ServedWindow first(uipc.c_str(), &serving);
    ASSERT_TRUE(first.Created()) << first.CreateError();
    ServedWindow other(fs98.c_str(), &serving);
    ASSERT_TRUE(other.Created()) << other.CreateError();
    SetLastError(1234);
    stale = FindTopLevelWindow(uipc.c_str());
    EXPECT_NE(stale, 0u);
    EXPECT_EQ(LastError(), 1234u);  // a success leaves it
    EXPECT_EQ(FindTopLevelWindow(uipc.c_str()), stale);
    EXPECT_NE(FindTopLevelWindow(fs98.c_str()), 0u);
    EXPECT_NE(FindTopLevelWindow(fs98.c_str()), stale);
    EXPECT_TRUE(SendMessageWithTimeout(stale, 0xC001, 0, 0, kAnswerMs, &reply));
    ServedWindow second(uipc.c_str(), &serving);
    EXPECT_FALSE(second.Created());
    EXPECT_EQ(second.CreateError(), kErrorClassAlreadyExists);
    EXPECT_TRUE(first.Stop());
    EXPECT_EQ(FindTopLevelWindow(uipc.c_str()), 0u);
    EXPECT_NE(FindTopLevelWindow(fs98.c_str()), 0u);
  }
  for (const WindowHandle gone : {stale, WindowHandle{0}}) {
    reply = 99;
    SetLastError(0);
    EXPECT_FALSE(SendMessageWithTimeout(gone, 0xC001, 0, 0, 400, &reply));
    EXPECT_EQ(LastError(), kErrorInvalidWindowHandle);
    EXPECT_EQ(reply, 99u);
  }
  ServedWindow again(uipc.c_str(), &serving);
  EXPECT_TRUE(again.Created()) << again.CreateError();
  EXPECT_EQ(serving.handled.load(), 1);

  SetLastError(0);
  EXPECT_EQ(CreateServerWindow(UniqueName("nohandler").c_str(), nullptr, nullptr), nullptr);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  const std::string tooLong(300, 'x');
  for (const char* name : {static_cast<const char*>(nullptr), "", tooLong.c_str()}) {
    SetLastError(0);
    EXPECT_EQ(CreateServerWindow(name, testsupport::AnswerServed, nullptr), nullptr);
    EXPECT_EQ(LastError(), kBackend.badClassNameError) << (name ? std::strlen(name) : 0);
  }
}

TEST_F(IpcContract, MessagesGoThereAndBackWithTheWholeReply) {
  FoundWindow s("messages", true);
  ASSERT_NE(s.window, 0u) << s.server->CreateError();
  const std::uint32_t ipc = RegisterMessageName("FsasmLib:IPC");
  struct Case {
    std::uint32_t msg, wParam, lParam;
  };
  // Registered and application messages; replies with the top bit set come back unextended.
  for (const Case& c : {Case{ipc, 0xC123, 0}, Case{ipc, 0xFFFFFFFF, 7}, Case{0x0405, 0, 1},
                        Case{0xFFFF, 0x12345678, 0x80000000}, Case{0xBFFF, 0x33333333, 0}}) {
    std::uintptr_t reply = 0xDEAD;
    ASSERT_TRUE(SendMessageWithTimeout(s.window, c.msg, c.wParam, c.lParam, kAnswerMs, &reply))
        << c.msg;
    EXPECT_EQ(reply, std::uintptr_t{ServedReply(c.msg, c.wParam, c.lParam)}) << c.msg;
    EXPECT_EQ(s.serving.lastMsg.load(), c.msg);
    EXPECT_EQ(s.serving.lastWParam.load(), c.wParam);
    EXPECT_EQ(s.serving.lastLParam.load(), c.lParam);
    EXPECT_EQ(s.serving.senderPid.load(),
              (kBackend.senderPidTold ? contract::SystemProcessId() : 0u));
  }
  EXPECT_EQ(s.serving.handled.load(), 5);
  EXPECT_TRUE(SendMessageWithTimeout(s.window, ipc, 1, 1, kAnswerMs, nullptr));  // reply not wanted
  // The system's own messages (WM_NULL) are the window's business on Win32.
  std::uintptr_t reply = 0xDEAD;
  EXPECT_TRUE(SendMessageWithTimeout(s.window, 0, 0, 0, kAnswerMs, &reply));
  EXPECT_EQ(reply, 0u);
  EXPECT_EQ(s.serving.handled.load(), kBackend.handlerSeesSystemMessages ? 7 : 6);
  EXPECT_TRUE(s.server->Stop());
}

TEST_F(IpcContract, TwoSendersAtOnceEachGetTheirOwnReplies) {
  FoundWindow s("two", true);
  ASSERT_NE(s.window, 0u) << s.server->CreateError();
  std::atomic<int> wrong{0};
  auto send = [&](std::uint32_t base) {
    for (std::uint32_t i = 0; i < 200; ++i) {
      std::uintptr_t reply = 0;
      if (!SendMessageWithTimeout(s.window, 0xC003, base + i, 0, kAnswerMs, &reply) ||
          reply != ServedReply(0xC003, base + i, 0)) {
        ++wrong;
      }
    }
  };
  std::thread a(send, 0x10000u), b(send, 0x20000u);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(s.serving.handled.load(), 400);
}

// The first sender waits longer than the test does: Wine withdraws a sent message its window has
// not taken yet when the timeout ends, so with a short one a busy machine could hold nothing.
TEST_F(IpcContract, AnUnansweredMessageTimesOutAndAStopReleasesItsSender) {
  FoundWindow s("held", false);
  ASSERT_NE(s.window, 0u) << s.server->CreateError();
  struct Held {
    bool sent = false;
    std::uint32_t error = 0;
    std::uintptr_t reply = 42;
  } held;
  std::thread holder([&] {
    held.sent = SendMessageWithTimeout(s.window, 0xC002, 1, 0, 2 * kAnswerMs, &held.reply);
    held.error = LastError();
  });
  for (std::uint32_t i = 0; i < kAnswerMs && s.serving.handled.load() == 0; ++i) SleepMs(1);
  ASSERT_EQ(s.serving.handled.load(), 1);

  std::uintptr_t reply = 42;
  SetLastError(0);
  EXPECT_FALSE(SendMessageWithTimeout(s.window, 0xC002, 2, 0, 200, &reply));
  EXPECT_EQ(LastError(), kErrorTimeout);
  EXPECT_EQ(reply, 42u);
  if (kBackend.aHeldMessageHoldsTheWindow) {
    EXPECT_EQ(s.serving.handled.load(), 1);  // not handed over behind the held one
  } else {
    EXPECT_EQ(s.serving.handled.load(), 2);
    s.serving.answer = true;  // the others are served meanwhile
    EXPECT_TRUE(SendMessageWithTimeout(s.window, 0xC002, 3, 0, kAnswerMs, &reply));
    EXPECT_EQ(reply, std::uintptr_t{ServedReply(0xC002, 3, 0)});
  }
  EXPECT_FALSE(ServerStopRequested(s.server->window()));
  RequestServerStop(s.server->window());
  EXPECT_TRUE(ServerStopRequested(s.server->window()));
  holder.join();
  EXPECT_EQ(held.sent, kBackend.heldSenderSentAtStop);
  if (held.sent) {
    EXPECT_EQ(held.reply, 0u);
  } else {
    EXPECT_EQ(held.error, kBackend.heldSenderErrorAtStop);  // closed, not timed out
    EXPECT_EQ(held.reply, 42u);
  }
  EXPECT_TRUE(s.server->Stop());
}

// --- the last error, the process -----------------------------------------------------------

// Nothing but the layer's calls between the set and the checks: starting and joining a thread
// may change the last error itself (MinGW's threads under Wine do).
TEST_F(IpcContract, TheLastErrorIsPerThreadAndSleepKeepsIt) {
  std::atomic<int> step{0};
  std::uint32_t seen = 99;
  std::thread other([&] {
    while (step.load() != 1) {
    }
    seen = LastError();
    SetLastError(kErrorAccessDenied);
    step = 2;
  });
  SetLastError(kErrorTimeout);
  step = 1;
  while (step.load() != 2) {
  }
  EXPECT_EQ(LastError(), kErrorTimeout);
  SleepMs(1);
  EXPECT_EQ(LastError(), kErrorTimeout);
  other.join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(CurrentProcessId(), contract::SystemProcessId());
}

}  // namespace
