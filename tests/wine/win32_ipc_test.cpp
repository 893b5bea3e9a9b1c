// The Win32 IPC backend on its own, under Wine: shared areas, atoms, registered messages and a
// serving window on a thread of the test, reached through real window messages.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ipc.h"
#include "platform/ipc_server.h"

namespace {

// How long a sender waits for a serving window that does answer: far more than it ever takes,
// so a busy machine slows a test down but never fails it.
constexpr std::uint32_t kAnswerMs = 30000;

std::string UniqueName(const char* tag) {
  static int counter = 0;
  return std::string("KorvanTest:") + tag + ":" + std::to_string(::GetCurrentProcessId()) + ":" +
         std::to_string(++counter);
}

TEST(Win32SharedArea, FreshThenExistingNameSharesTheSameBytes) {
  const std::string name = UniqueName("area");
  platform::SetLastError(77);
  const platform::Handle first = platform::CreateSharedArea(name.c_str(), 0x8000);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(platform::LastError(), 0u);

  const platform::Handle second = platform::CreateSharedArea(name.c_str(), 0x8000);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(platform::LastError(), platform::kErrorAlreadyExists);
  const platform::Handle opened = platform::OpenSharedArea(name.c_str());
  ASSERT_NE(opened, 0u);

  auto* a = static_cast<unsigned char*>(platform::MapSharedArea(first));
  auto* b = static_cast<unsigned char*>(platform::MapSharedArea(opened));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(platform::SharedAreaSize(a), 0x8000u);
  EXPECT_EQ(platform::SharedAreaSize(b), 0x8000u);
  // Paging-file areas start zeroed; the last byte is inside the area.
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[0x7FFF], 0);
  a[0] = 0x5A;
  a[0x7FFF] = 0xA5;
  EXPECT_EQ(b[0], 0x5A);
  EXPECT_EQ(b[0x7FFF], 0xA5);

  EXPECT_TRUE(platform::UnmapSharedArea(a));
  EXPECT_TRUE(platform::UnmapSharedArea(b));
  EXPECT_TRUE(platform::CloseKernelHandle(first));
  EXPECT_TRUE(platform::CloseKernelHandle(second));
  EXPECT_TRUE(platform::CloseKernelHandle(opened));
  // Gone with its last handle: a fresh one of the same name is new and zeroed.
  EXPECT_EQ(platform::OpenSharedArea(name.c_str()), 0u);
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  const platform::Handle again = platform::CreateSharedArea(name.c_str(), 0x8000);
  ASSERT_NE(again, 0u);
  EXPECT_EQ(platform::LastError(), 0u);
  auto* c = static_cast<unsigned char*>(platform::MapSharedArea(again));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c[0], 0);
  EXPECT_TRUE(platform::UnmapSharedArea(c));
  EXPECT_TRUE(platform::CloseKernelHandle(again));
}

TEST(Win32SharedArea, SizeIsWholePagesAndUnknownAddressesHaveNone) {
  const std::string name = UniqueName("small");
  const platform::Handle mapping = platform::CreateSharedArea(name.c_str(), 100);
  ASSERT_NE(mapping, 0u);
  void* view = platform::MapSharedArea(mapping);
  ASSERT_NE(view, nullptr);
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  EXPECT_EQ(platform::SharedAreaSize(view), system.dwPageSize);
  int local = 0;
  EXPECT_EQ(platform::SharedAreaSize(&local), 0u);
  EXPECT_EQ(platform::SharedAreaSize(nullptr), 0u);
  EXPECT_EQ(platform::SharedAreaSize(static_cast<char*>(view) + 1), 0u);
  EXPECT_TRUE(platform::UnmapSharedArea(view));
  EXPECT_TRUE(platform::CloseKernelHandle(mapping));
}

TEST(Win32SharedArea, FailuresReportFalse) {
  EXPECT_EQ(platform::MapSharedArea(0), nullptr);
  EXPECT_FALSE(platform::UnmapSharedArea(nullptr));
  EXPECT_FALSE(platform::CloseKernelHandle(0));
  EXPECT_EQ(platform::OpenSharedArea(UniqueName("absent").c_str()), 0u);
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
}

TEST(Win32Atoms, NameRoundTripsAndIsGoneAfterDelete) {
  const std::string name = "FsasmLib:IPC:" + std::to_string(::GetCurrentProcessId()) + ":1";
  const std::uint16_t atom = platform::AddGlobalAtom(name.c_str());
  ASSERT_GE(atom, 0xC000u);
  char buffer[64];
  ASSERT_EQ(platform::GetGlobalAtomName(atom, buffer, sizeof buffer), name.size());
  EXPECT_STREQ(buffer, name.c_str());
  // Cut to the room given, still terminated.
  char small[5];
  EXPECT_EQ(platform::GetGlobalAtomName(atom, small, sizeof small), 4u);
  EXPECT_STREQ(small, name.substr(0, 4).c_str());

  platform::DeleteGlobalAtom(atom);
  buffer[0] = 'x';
  EXPECT_EQ(platform::GetGlobalAtomName(atom, buffer, sizeof buffer), 0u);
  EXPECT_EQ(buffer[0], '\0');
  platform::DeleteGlobalAtom(atom);  // again: harmless
  EXPECT_EQ(platform::GetGlobalAtomName(atom, nullptr, 0), 0u);
}

TEST(Win32Messages, RegisteredIdIsSharedAndCaseInsensitive) {
  const std::uint32_t id = platform::RegisterMessageName("FsasmLib:IPC");
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  EXPECT_EQ(platform::RegisterMessageName("FSASMLIB:ipc"), id);
  EXPECT_NE(platform::RegisterMessageName("FsasmLib:IPC2"), id);
  EXPECT_EQ(platform::CurrentProcessId(), ::GetCurrentProcessId());
}

// A serving window on a thread of its own, answering with a reply derived from the message.
struct Served {
  std::atomic<int> count{0};
  std::atomic<bool> answer{true};
  std::atomic<std::uint32_t> lastMsg{0}, lastWParam{0}, lastLParam{0};
};

bool Answer(void* context, const platform::ServerMessage& message, std::uint32_t* reply) {
  auto* served = static_cast<Served*>(context);
  served->lastMsg = message.msg;
  served->lastWParam = message.wParam;
  served->lastLParam = message.lParam;
  ++served->count;
  if (!served->answer) return false;
  *reply = message.wParam ^ 0xA5A5A5A5u;
  return true;
}

class ServerThread {
 public:
  explicit ServerThread(const char* className) : className_(className) {
    thread_ = std::thread([this] {
      window_ = platform::CreateServerWindow(className_, Answer, &served);
      createError_ = platform::LastError();
      ready_ = true;
      if (window_ == nullptr) return;
      runResult_ = platform::RunServerWindow(window_);
      platform::DestroyServerWindow(window_);
    });
    while (!ready_) ::Sleep(1);
  }
  ~ServerThread() { Stop(); }
  bool Created() const { return window_ != nullptr; }
  std::uint32_t CreateError() const { return createError_; }
  void Stop() {
    if (thread_.joinable()) {
      if (window_) platform::RequestServerStop(window_);
      thread_.join();
    }
  }
  bool RunResult() const { return runResult_; }
  platform::ServerWindow* Window() const { return window_; }

  Served served;

 private:
  const char* className_;
  std::thread thread_;
  std::atomic<bool> ready_{false};
  platform::ServerWindow* window_ = nullptr;
  std::uint32_t createError_ = 0;
  bool runResult_ = false;
};

TEST(Win32Server, AnswersRegisteredAndUserMessages) {
  ServerThread server("KorvanTestServerA");
  ASSERT_TRUE(server.Created()) << server.CreateError();
  const platform::WindowHandle window = platform::FindTopLevelWindow("KorvanTestServerA");
  ASSERT_NE(window, 0u);
  const std::uint32_t ipc = platform::RegisterMessageName("FsasmLib:IPC");

  struct Case {
    std::uint32_t msg, wParam, lParam;
  };
  for (const Case& c : {Case{ipc, 0xC123, 0}, Case{ipc, 0xFFFFFFFF, 7}, Case{WM_USER + 5, 0, 1},
                        Case{0xFFFF, 0x12345678, 0}}) {
    std::uintptr_t reply = 0;
    platform::SetLastError(0);
    ASSERT_TRUE(
        platform::SendMessageWithTimeout(window, c.msg, c.wParam, c.lParam, kAnswerMs, &reply))
        << c.msg;
    EXPECT_EQ(reply, c.wParam ^ 0xA5A5A5A5u);
    EXPECT_EQ(server.served.lastMsg.load(), c.msg);
    EXPECT_EQ(server.served.lastWParam.load(), c.wParam);
    EXPECT_EQ(server.served.lastLParam.load(), c.lParam);
  }
  EXPECT_EQ(server.served.count.load(), 4);

  // System messages are the window's own business, not the handler's.
  std::uintptr_t reply = 1;
  EXPECT_TRUE(platform::SendMessageWithTimeout(window, WM_NULL, 0, 0, kAnswerMs, &reply));
  EXPECT_EQ(server.served.count.load(), 4);
  server.Stop();
  EXPECT_TRUE(server.RunResult());
}

TEST(Win32Server, SecondWindowOfAClassIsRefusedAndTheClassIsFreeAfterward) {
  {
    ServerThread first("KorvanTestServerB");
    ASSERT_TRUE(first.Created());
    ServerThread second("KorvanTestServerB");
    EXPECT_FALSE(second.Created());
    EXPECT_EQ(second.CreateError(), platform::kErrorClassAlreadyExists);
  }
  EXPECT_EQ(platform::FindTopLevelWindow("KorvanTestServerB"), 0u);
  ServerThread again("KorvanTestServerB");
  EXPECT_TRUE(again.Created()) << again.CreateError();
}

TEST(Win32Server, FindKeepsLastErrorOnSuccessAndGoneWindowFailsWith1400) {
  platform::WindowHandle stale = 0;
  {
    ServerThread server("KorvanTestServerC");
    ASSERT_TRUE(server.Created());
    platform::SetLastError(1234);
    stale = platform::FindTopLevelWindow("KorvanTestServerC");
    ASSERT_NE(stale, 0u);
    EXPECT_EQ(platform::LastError(), 1234u);
  }
  EXPECT_EQ(platform::FindTopLevelWindow("KorvanTestServerC"), 0u);
  std::uintptr_t reply = 99;
  platform::SetLastError(0);
  EXPECT_FALSE(platform::SendMessageWithTimeout(stale, 0xC001, 0, 0, 400, &reply));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidWindowHandle);
  EXPECT_EQ(reply, 99u);
}

TEST(Win32Server, UnansweredMessageTimesOutWith1460UntilStopReleasesIt) {
  ServerThread server("KorvanTestServerD");
  ASSERT_TRUE(server.Created());
  server.served.answer = false;
  const platform::WindowHandle window = platform::FindTopLevelWindow("KorvanTestServerD");
  // The first sender waits longer than the test does: Wine withdraws a sent message its window
  // has not taken yet when the timeout ends, so with a short one a busy machine could hold
  // nothing.
  std::thread held([window] {
    std::uintptr_t reply = 42;
    // The stop ends the hold: the window's procedure returns 0.
    EXPECT_TRUE(platform::SendMessageWithTimeout(window, 0xC002, 1, 0, 2 * kAnswerMs, &reply));
    EXPECT_EQ(reply, 0u);
  });
  for (std::uint32_t i = 0; i < kAnswerMs / 10 && server.served.count.load() == 0; ++i) ::Sleep(10);
  EXPECT_EQ(server.served.count.load(), 1);
  // Held: the next message cannot get through, and its sender times out with 1460.
  std::uintptr_t reply = 42;
  platform::SetLastError(0);
  EXPECT_FALSE(platform::SendMessageWithTimeout(window, 0xC002, 2, 0, 200, &reply));
  EXPECT_EQ(platform::LastError(), platform::kErrorTimeout);
  EXPECT_EQ(reply, 42u);
  EXPECT_FALSE(platform::ServerStopRequested(server.Window()));
  // The queued message is not handed over while the first one is held.
  EXPECT_EQ(server.served.count.load(), 1);
  // The stop comes from another thread and ends the hold and the loop.
  server.Stop();
  held.join();
  EXPECT_TRUE(server.RunResult());
}

TEST(Win32Server, CloseMessageEndsTheLoop) {
  ServerThread server("KorvanTestServerE");
  ASSERT_TRUE(server.Created());
  const platform::WindowHandle window = platform::FindTopLevelWindow("KorvanTestServerE");
  // Sent rather than posted: the loop must end even though GetMessage never returns for it.
  std::uintptr_t reply = 0;
  EXPECT_TRUE(platform::SendMessageWithTimeout(window, WM_CLOSE, 0, 0, kAnswerMs, &reply));
  for (int i = 0; i < 6000 && !platform::ServerStopRequested(server.Window()); ++i) ::Sleep(10);
  EXPECT_TRUE(platform::ServerStopRequested(server.Window()));
  server.Stop();
  EXPECT_TRUE(server.RunResult());
}

TEST(Win32Server, TwoSendersAtOnceEachGetTheirOwnReply) {
  ServerThread server("KorvanTestServerF");
  ASSERT_TRUE(server.Created());
  const platform::WindowHandle window = platform::FindTopLevelWindow("KorvanTestServerF");
  std::atomic<int> wrong{0};
  auto send = [&](std::uint32_t base) {
    for (std::uint32_t i = 0; i < 200; ++i) {
      std::uintptr_t reply = 0;
      if (!platform::SendMessageWithTimeout(window, 0xC003, base + i, 0, kAnswerMs, &reply) ||
          reply != ((base + i) ^ 0xA5A5A5A5u)) {
        ++wrong;
      }
    }
  };
  std::thread a(send, 0x10000u), b(send, 0x20000u);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server.served.count.load(), 400);
}

TEST(Win32Server, BadArgumentsAreRefused) {
  EXPECT_EQ(platform::CreateServerWindow(nullptr, Answer, nullptr), nullptr);
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidParameter);
  EXPECT_EQ(platform::CreateServerWindow("", Answer, nullptr), nullptr);
  EXPECT_EQ(platform::CreateServerWindow("KorvanTestServerG", nullptr, nullptr), nullptr);
  EXPECT_EQ(platform::CreateServerWindow(std::string(300, 'x').c_str(), Answer, nullptr), nullptr);
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidParameter);
}

}  // namespace
