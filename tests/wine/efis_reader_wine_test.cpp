// The EFIS reader of the Windows build, for real under Wine: the reader thread reads servo and
// QNH frames from a message-mode named pipe standing for \PIPE00, TerminateThread abandons its
// blocked read, and the window's close kills the reader before it closes the handles.
#include <windows.h>
// windows.h first.
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <winternl.h>

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
#include "tests/wine/efis_pipes.h"

namespace {

using Frame = std::vector<std::uint8_t>;

// The unit's ends of the device pipe and its two pipes.
struct Unit : EfisPipes {
  Unit() : EfisPipes("korvan-reader-") {}
  bool Send(const Frame& frame) const {
    DWORD put = 0;
    return WriteFile(toBridge, frame.data(), static_cast<DWORD>(frame.size()), &put, nullptr) &&
           put == frame.size();
  }
};

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

// SYSTEM_HANDLE_INFORMATION of NtQuerySystemInformation, class 16.
struct SystemHandleEntry {
  USHORT ProcessId;
  USHORT CreatorBackTraceIndex;
  UCHAR ObjectType;
  UCHAR Attributes;
  USHORT Value;
  PVOID Object;
  ULONG GrantedAccess;
};
struct SystemHandles {
  ULONG Count;
  SystemHandleEntry Entries[1];
};

// The handles this process holds, by the name of their object type ("Thread", "File", ...).
// Wine's own wait handle of a synchronous read has a type without a name: a thread killed
// while it waits in its read leaves that one behind (Windows has no such handle).
using HandleTypes = std::map<std::wstring, int>;
HandleTypes HandlesByType() {
  std::vector<char> buffer(1 << 20);
  ULONG length = 0;
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16),
                                            buffer.data(), static_cast<ULONG>(buffer.size()),
                                            &length)) == static_cast<NTSTATUS>(0xC0000004L)) {
    buffer.resize(buffer.size() * 2);  // STATUS_INFO_LENGTH_MISMATCH
  }
  HandleTypes types;
  if (status != 0) return types;
  const auto* handles = reinterpret_cast<const SystemHandles*>(buffer.data());
  for (ULONG i = 0; i < handles->Count; ++i) {
    const SystemHandleEntry& entry = handles->Entries[i];
    if (entry.ProcessId != static_cast<USHORT>(GetCurrentProcessId())) continue;
    alignas(8) char info[1024];
    ULONG size = 0;
    std::wstring name = L"(unknown)";
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.Value));
    if (NtQueryObject(handle, ObjectTypeInformation, info, sizeof info, &size) == 0) {
      const auto* type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(info);
      name.assign(type->TypeName.Buffer, type->TypeName.Length / sizeof(wchar_t));
    }
    ++types[name];
  }
  return types;
}

// The handles of every named type.
HandleTypes NamedHandles() {
  HandleTypes types = HandlesByType();
  types.erase(L"");
  return types;
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
    ASSERT_TRUE(unit.Made()) << GetLastError();
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
    EfisLink.DevicePath = unit.base;
    EfisLink.EfisConnected = true;
    EfisOpenChannels();
    ASSERT_TRUE(EfisLink.EfisConnected);
  }

  Unit unit;
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
  const HandleTypes handles = HandlesByType();
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
  EXPECT_TRUE(WaitUntil([&] { return NamedHandles() == named; }, 30000));
  EXPECT_EQ(NamedHandles(), named) << "threads, files, events...: every handle of ours";
  EXPECT_TRUE(WaitUntil([&] { return ThreadIds().size() <= threads; }, 30000));
  EXPECT_EQ(ThreadIds().size(), threads);
  const HandleTypes after = HandlesByType();
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

  // The device pipe's end reports the bridge's close of the device handle, the last of three.
  bool readerGoneAtDeviceClose = false;
  std::thread watcher([&] {
    std::uint8_t byte;
    DWORD got = 0;
    ReadFile(unit.device, &byte, 1, &got, nullptr);  // fails when the bridge closes its end
    readerGoneAtDeviceClose = ThreadEnded(readerId);
  });
  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  watcher.join();
  EXPECT_TRUE(canClose);
  EXPECT_TRUE(readerGoneAtDeviceClose);
  EXPECT_EQ(ReaderThread, nullptr);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return ThreadIds().size() == before.size(); }));
  // The unit's end of PIPE00 has no reader any more.
  EXPECT_FALSE(unit.Send(Qnh(10000)));

  NullToolkitReset();
  Form1 = nullptr;
}

}  // namespace
