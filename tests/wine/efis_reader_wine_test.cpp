// The EFIS reader of the Windows build, for real under Wine: the reader thread reads servo and
// QNH frames from a unit served by the test (tests/support/test_unit.h, message-mode named
// pipes), TerminateThread abandons its blocked read, and the window's close kills the reader
// before it closes the handles.
#include <windows.h>
// windows.h first.
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "efis/SharedState.h"
#include "platform/null/null_toolkit.h"
#include "tests/support/test_unit.h"
#include "tests/wine/wine_handles.h"

namespace {

using testsupport::Frame;

Frame Qnh(std::uint16_t tenths) {
  return {2, 0, 1, 6, static_cast<std::uint8_t>(tenths), static_cast<std::uint8_t>(tenths >> 8)};
}

bool WaitUntil(const std::function<bool()>& ready, DWORD timeoutMs = 10000) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!ready()) {
    if (GetTickCount64() > end) return false;
    Sleep(1);
  }
  return true;
}

// The ids of this process's threads.
std::vector<DWORD> ThreadIds() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return ids;
}

HandleTypes OwnHandles() {
  return HandlesByType(GetCurrentProcessId());
}

bool ThreadEnded(DWORD id) {
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
  if (thread == nullptr) return true;  // gone altogether
  const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

// Time for a reader that has just decoded a frame to be back waiting in its next read. The
// kills below land there, as the watchdog's do (a second after the last servo frame): Wine
// runs part of a read in the process itself, and a thread killed in that part can leave a lock
// of the process held for good.
constexpr DWORD kBackInItsReadMs = 10;

class EfisReaderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    EfisAttachWindow(nullptr, nullptr);
    ASSERT_TRUE(unit.Start()) << unit.ErrorText();
  }
  void TearDown() override {
    reader.Kill();
    EfisCloseHandles();
  }

  // The unit sends a QNH frame; true once the reader has decoded it.
  bool Decoded(std::uint16_t tenths) {
    QnhFromEfis = 0;
    if (!unit.Send(Qnh(tenths))) return false;
    const std::uint16_t held = static_cast<std::uint16_t>(tenths * 16 / 10);
    return WaitUntil([&] { return QnhFromEfis.load() != 0 && HeldQnh.load() == held; });
  }

  // One try at a reader start; a refused one is counted.
  bool StartedNow() {
    try {
      reader.Start();
      return true;
    } catch (const std::runtime_error&) {
      ++refusedStarts;
      return false;
    }
  }

  // The bridge's side opens the unit's device and pipes.
  void Open() {
    EfisLink.DevicePath = unit.Path();
    EfisLink.EfisConnected = true;
    EfisOpenChannels();
    ASSERT_TRUE(EfisLink.EfisConnected);
    ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));  // the unit sends from now on
  }

  testsupport::TestUnit unit;
  TMyThread reader;
  int refusedStarts = 0;
};

TEST_F(EfisReaderWine, ReaderDecodesServoAndQnhFramesFromTheMessagePipe) {
  Open();
  reader.Start();
  // One frame at a time: the bridge's end reads the pipe in byte mode, where messages that
  // wait together arrive together (the unit's driver never does that).
  // Engages (nothing computed), then computes from positions 1400 and 12600.
  ASSERT_TRUE(unit.Send({8, 0, 1, 14, 3, 0, 0x36, 0x58, 0, 0, 0x36, 0x58}));
  ASSERT_TRUE(WaitUntil([] { return AutopilotEngaged.load() != 0; }));
  EXPECT_EQ(BankServoCmd.load(), 0);
  EXPECT_EQ(ServoFrameSeen.load(), 1);
  ASSERT_TRUE(unit.Send({8, 0, 1, 14, 3, 0, 0x0A, 0x78, 0, 0, 0x62, 0x38}));
  EXPECT_TRUE(WaitUntil([] { return BankServoCmd.load() == 16384; }));
  EXPECT_EQ(PitchServoCmd.load(), -16384);
  ASSERT_TRUE(unit.Send(Qnh(10132)));
  EXPECT_TRUE(WaitUntil([] { return QnhFromEfis.load() != 0; }));
  EXPECT_EQ(HeldQnh.load(), 16211);
}

TEST_F(EfisReaderWine, TerminateThreadAbandonsABlockedReadAndTheNextReaderGetsTheNextFrame) {
  Open();
  reader.Start();
  ASSERT_TRUE(Decoded(8990));
  for (std::uint16_t tenths = 9000; tenths < 9020; ++tenths) {
    SCOPED_TRACE(tenths);
    Sleep(kBackInItsReadMs);
    reader.Kill();  // its read is abandoned: the frame below is not taken by it
    reader.Start();
    ASSERT_TRUE(Decoded(tenths));
  }
}

TEST_F(EfisReaderWine, AThousandRestartsLeaveTheHandlesWhereTheyWere) {
  Open();
  reader.Start();
  ASSERT_TRUE(Decoded(8000));
  Sleep(kBackInItsReadMs);
  const HandleTypes handles = OwnHandles();
  const std::size_t threads = ThreadIds().size();
  ASSERT_GT(handles.count(L"Thread") + handles.count(L"File"), 0u) << "the handle list is read";
  for (int i = 0; i < 1000; ++i) {
    const DWORD id = GetThreadId(reinterpret_cast<HANDLE>(reader.Handle()));
    reader.Kill();
    // Wine makes a thread only as fast as killed ones go: CreateThread fails with 87 while
    // too many are still being torn down.
    ASSERT_TRUE(WaitUntil([&] { return ThreadEnded(id); })) << "restart " << i;
    ASSERT_TRUE(WaitUntil([&] { return StartedNow(); })) << "restart " << i;
    ASSERT_TRUE(Decoded(static_cast<std::uint16_t>(9000 + i % 2))) << "restart " << i;
    Sleep(kBackInItsReadMs);
  }
  HandleTypes named = handles;
  named.erase(L"");
  EXPECT_TRUE(WaitUntil([&] { return Named(OwnHandles()) == named; }, 30000));
  EXPECT_EQ(Named(OwnHandles()), named) << "threads, files, events...: every handle of ours";
  EXPECT_TRUE(WaitUntil([&] { return ThreadIds().size() <= threads; }, 30000));
  EXPECT_EQ(ThreadIds().size(), threads);
  const HandleTypes after = OwnHandles();
  const int waits =
      (after.count(L"") ? after.at(L"") : 0) - (handles.count(L"") ? handles.at(L"") : 0);
  EXPECT_LE(waits, 1000);
  std::printf(
      "Wine's read wait handles left by the killed readers: %d; starts refused for a "
      "while (error 87): %d\n",
      waits, refusedStarts);
}

// The window's close: the reader, blocked in its read, is killed first, then the write pipe,
// the read pipe and the device close. The unit learns of the device's close last, and by then
// the reader is gone.
TEST_F(EfisReaderWine, CloseKillsTheReaderBeforeTheHandlesClose) {
  NullToolkitReset();
  Application->Title = "Korvan EFIS to Flightsim bridge";
  Form1 = new TForm1(Application);
  // The window's own connect finds no EFIS under Wine; the test's unit is opened instead.
  Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
  Open();

  const std::vector<DWORD> before = ThreadIds();
  Form1->FormActivate(Form1);
  DWORD readerId = 0;
  for (DWORD id : ThreadIds()) {
    bool old = false;
    for (DWORD b : before) old = old || b == id;
    if (!old) readerId = id;
  }
  ASSERT_NE(readerId, 0u);
  ASSERT_TRUE(Decoded(10132));
  Sleep(kBackInItsReadMs);  // and waits in its next read

  // The unit sees the bridge's close of the device handle, the last of three.
  std::atomic<bool> readerGoneAtDeviceClose{false};
  unit.OnEvent([&](const std::string& event) {
    if (event == "close device") readerGoneAtDeviceClose = ThreadEnded(readerId);
  });
  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_TRUE(unit.WaitForEvent("close device"));
  unit.OnEvent(nullptr);
  EXPECT_TRUE(readerGoneAtDeviceClose.load());
  EXPECT_EQ(ReaderThread, nullptr);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return ThreadIds().size() == before.size(); }));
  // PIPE00 has no reader any more.
  EXPECT_FALSE(unit.Send(Qnh(10000), 10000));

  NullToolkitReset();
  Form1 = nullptr;
}

}  // namespace
