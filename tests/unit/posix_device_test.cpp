// What the POSIX device backend alone has (the contract both backends keep is
// tests/contract/device_contract_test.cpp's): interface entries and their locks, the open's
// answer byte, the error codes of a unit that goes, the flush that asks nothing of the socket,
// the close that shuts the socket down at once; the server's files and modes under the namespace
// root; and the threads of platform/thread.h, whose kill ends a blocked read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/device_server.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/posix_root.h"
#include "platform/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/test_unit.h"

namespace {

using namespace platform;

constexpr DeviceClassGuid kClass = testsupport::kEfisClass;
constexpr char kClassDir[] = "/devices/{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}";

class PosixDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::MakeTestRuntimeDir("device");
    root = posix::NamespaceRoot();
  }
  void TearDown() override {
    for (int fd : held) close(fd);
    for (int fd : listeners) close(fd);
    testsupport::RemoveTree(dir);
  }

  // An interface entry holding `path`; its lock is held when `present`.
  void Entry(const std::string& name, const std::string& path, bool present) {
    const std::string classDir = root + kClassDir;
    mkdir((root + "/devices").c_str(), 0700);
    mkdir(classDir.c_str(), 0700);
    int fd = open((classDir + "/" + name).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, path.data(), path.size()), static_cast<ssize_t>(path.size()));
    if (present) {
      ASSERT_EQ(flock(fd, LOCK_SH), 0);
      held.push_back(fd);
    } else {
      close(fd);
    }
  }

  std::vector<std::string> Enumerate(std::uint32_t flags) {
    std::vector<std::string> paths;
    DeviceInfoSet set = OpenDeviceInterfaceSet(kClass, flags);
    EXPECT_NE(set, kInvalidDeviceInfoSet);
    for (std::uint32_t i = 0;; ++i) {
      DeviceInterfaceData data{};
      data.cbSize = kDeviceInterfaceDataSize;
      if (!EnumDeviceInterface(set, kClass, i, &data)) {
        EXPECT_EQ(LastError(), kErrorNoMoreItems);
        break;
      }
      alignas(8) char detail[512];
      const std::uint32_t cb = kDeviceInterfaceDetailSize;
      std::memcpy(detail, &cb, 4);
      EXPECT_TRUE(GetDeviceInterfaceDetail(set, &data, detail, sizeof detail, nullptr));
      paths.emplace_back(detail + 4);
    }
    EXPECT_TRUE(CloseDeviceInterfaceSet(set));
    return paths;
  }

  int Listener(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(fd, 4), 0);
    listeners.push_back(fd);
    return fd;
  }

  // Opens `path` while a thread accepts on `listener` and answers `answer`; returns the handle
  // and, in *peer, the unit's end of the connection.
  Handle OpenAnswered(const std::string& path, int listener, unsigned char answer, int* peer,
                      std::uint32_t access = kGenericRead | kGenericWrite) {
    std::thread unit([&] {
      *peer = accept(listener, nullptr, nullptr);
      send(*peer, &answer, 1, MSG_NOSIGNAL);
    });
    Handle h = OpenDeviceFile(path.c_str(), access, 0, kOpenExisting, 0);
    unit.join();
    return h;
  }

  // The test unit's PIPE00 opened for reading.
  Handle OpenReadPipe() {
    EXPECT_TRUE(unit.Start()) << unit.ErrorText();
    const Handle h = OpenDeviceFile(unit.Path("PIPE00").c_str(), kGenericRead, 0, kOpenExisting, 0);
    EXPECT_TRUE(unit.WaitForEvent("open PIPE00"));
    return h;
  }

  testsupport::TestUnit unit;
  std::string dir, root;
  std::vector<int> held, listeners;
};

TEST_F(PosixDeviceTest, PresentEntriesInByteOrderOfTheirNames) {
  Entry("b", "/dev/b", true);
  Entry("B", "/dev/B", true);
  Entry("a", "/dev/a", true);
  Entry("\xC3\xA9", "/dev/e-acute", true);  // a byte above 0x7F sorts last
  Entry("stale", "/dev/stale", false);      // no owner holds it: not present
  Entry(".making", "/dev/hidden", true);    // an entry being published
  EXPECT_EQ(Enumerate(kDigcfPresent | kDigcfDeviceInterface),
            (std::vector<std::string>{"/dev/B", "/dev/a", "/dev/b", "/dev/e-acute"}));
  EXPECT_EQ(Enumerate(kDigcfDeviceInterface),
            (std::vector<std::string>{"/dev/B", "/dev/a", "/dev/b", "/dev/stale", "/dev/e-acute"}));
}

TEST_F(PosixDeviceTest, NoClassDirectoryIsAnEmptySet) {
  EXPECT_TRUE(Enumerate(kDigcfPresent | kDigcfDeviceInterface).empty());
  EXPECT_EQ(OpenDeviceInterfaceSet(kClass, 0x100), kInvalidDeviceInfoSet);
  EXPECT_EQ(LastError(), kErrorInvalidFlags);
}

TEST_F(PosixDeviceTest, RecordSizesAreCheckedAsSetupApiChecksThem) {
  const std::string path = "/some/device/path";
  Entry("u", path, true);
  DeviceInfoSet set = OpenDeviceInterfaceSet(kClass, kDigcfPresent | kDigcfDeviceInterface);
  ASSERT_NE(set, kInvalidDeviceInfoSet);
  DeviceInterfaceData data{};
  data.cbSize = 28;  // the 32-bit layout: refused by a 64-bit build
  if (kDeviceInterfaceDataSize != 28) {
    EXPECT_FALSE(EnumDeviceInterface(set, kClass, 0, &data));
    EXPECT_EQ(LastError(), kErrorInvalidUserBuffer);
  }
  data.cbSize = kDeviceInterfaceDataSize;
  ASSERT_TRUE(EnumDeviceInterface(set, kClass, 0, &data));

  std::uint32_t required = 0;
  EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, nullptr, 0, &required));
  EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(required, 4 + path.size() + 1);

  alignas(8) char detail[64];
  std::memset(detail, '#', sizeof detail);
  std::uint32_t cb = 5;
  std::memcpy(detail, &cb, 4);
  if (kDeviceInterfaceDetailSize != 5) {
    EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, detail, required, nullptr));
    EXPECT_EQ(LastError(), kErrorInvalidUserBuffer);
  }
  cb = kDeviceInterfaceDetailSize;
  std::memcpy(detail, &cb, 4);
  EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, detail, required - 1, nullptr));
  EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(detail[4], '#');  // nothing written on failure
  ASSERT_TRUE(GetDeviceInterfaceDetail(set, &data, detail, required, nullptr));
  EXPECT_EQ(std::string(detail + 4), path);
  EXPECT_EQ(detail[required], '#');  // not one byte past the size given

  EXPECT_TRUE(CloseDeviceInterfaceSet(set));
  EXPECT_FALSE(EnumDeviceInterface(set, kClass, 0, &data));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(CloseDeviceInterfaceSet(set));
}

TEST_F(PosixDeviceTest, OpenOutcomes) {
  const std::string usb = posix::NamespaceDir("usb");
  EXPECT_EQ(OpenDeviceFile((usb + "/none").c_str(), kGenericRead, 0, kOpenExisting, 0),
            kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorFileNotFound);

  // A socket file left by a unit that is gone.
  const std::string stale = usb + "/stale";
  close(Listener(stale));
  listeners.pop_back();
  EXPECT_EQ(OpenDeviceFile(stale.c_str(), kGenericRead, 0, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorFileNotFound);

  const std::string pipe = usb + "/u\\PIPE00";
  int listener = Listener(pipe);
  int peer = -1;
  EXPECT_EQ(OpenAnswered(pipe, listener, 0, &peer), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  close(peer);
  Handle h = OpenAnswered(pipe, listener, 1, &peer);
  EXPECT_TRUE(h != 0 && h != kInvalidHandle);
  EXPECT_TRUE(CloseKernelHandle(h));
  close(peer);

  EXPECT_EQ(OpenDeviceFile(pipe.c_str(), kGenericRead, 0, 2 /* CREATE_ALWAYS */, 0),
            kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
}

// The unit goes: each transfer says so with its own code, and the closed handle with another.
TEST_F(PosixDeviceTest, AUnitThatGoesIsNotConnectedAndAClosedHandleInvalid) {
  ASSERT_TRUE(unit.Start()) << unit.ErrorText();
  const Handle fromUnit =
      OpenDeviceFile(unit.Path("PIPE00").c_str(), kGenericRead, 0, kOpenExisting, 0);
  const Handle toUnit =
      OpenDeviceFile(unit.Path("PIPE01").c_str(), kGenericWrite, 0, kOpenExisting, 0);
  ASSERT_TRUE(fromUnit != kInvalidHandle && toUnit != kInvalidHandle);
  const std::uint8_t frame[6] = {2, 0, 1, 6, 0x91, 0x27};
  std::uint8_t buffer[64];
  std::uint32_t done = 0;
  ASSERT_TRUE(WriteDeviceFile(toUnit, frame, sizeof frame, &done));
  unit.Stop();
  EXPECT_FALSE(ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done));
  EXPECT_EQ(LastError(), kErrorDeviceNotConnected);
  EXPECT_FALSE(WriteDeviceFile(toUnit, frame, sizeof frame, &done));
  EXPECT_EQ(LastError(), kErrorDeviceNotConnected);
  EXPECT_TRUE(CloseKernelHandle(fromUnit));
  EXPECT_TRUE(CloseKernelHandle(toUnit));
  EXPECT_FALSE(WriteDeviceFile(toUnit, frame, sizeof frame, &done));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

// Nothing is buffered on our side, so a flush asks nothing of the socket: it tells what the
// last transfer found. A unit gone since is found by the next read or write, and from then on
// the flush fails too; a new open under the same handle number starts afresh.
TEST_F(PosixDeviceTest, AFlushTellsWhatTheTransfersFound) {
  const std::string path = posix::NamespaceDir("usb") + "/u\\PIPE01";
  const int listener = Listener(path);
  int peer = -1;
  Handle h = OpenAnswered(path, listener, 1, &peer);
  ASSERT_NE(h, kInvalidHandle);
  const std::uint8_t frame[6] = {2, 0, 1, 6, 0x91, 0x27};
  std::uint32_t done = 0;
  ASSERT_TRUE(WriteDeviceFile(h, frame, sizeof frame, &done));
  EXPECT_TRUE(FlushDeviceFile(h));
  close(peer);  // the unit goes; nothing has tried the pipe since
  EXPECT_TRUE(FlushDeviceFile(h));
  EXPECT_FALSE(WriteDeviceFile(h, frame, sizeof frame, &done));
  EXPECT_EQ(LastError(), kErrorDeviceNotConnected);
  EXPECT_FALSE(FlushDeviceFile(h));
  EXPECT_EQ(LastError(), kErrorDeviceNotConnected);
  EXPECT_TRUE(CloseKernelHandle(h));
  EXPECT_FALSE(FlushDeviceFile(h));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  const Handle readOnly = OpenAnswered(path, listener, 1, &peer, kGenericRead);
  EXPECT_FALSE(FlushDeviceFile(readOnly));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  CloseKernelHandle(readOnly);
  close(peer);
  // Every other number first, then this one again: a fresh open is not marked gone.
  std::vector<Handle> others;
  Handle again = kInvalidHandle;
  for (int i = 0; i < posix::kHandleTableSize && again == kInvalidHandle; ++i) {
    const Handle next = OpenAnswered(path, listener, 1, &peer);
    ASSERT_NE(next, kInvalidHandle);
    if (next == h) {
      again = next;
    } else {
      others.push_back(next);
      close(peer);
    }
  }
  ASSERT_EQ(again, h);
  EXPECT_TRUE(FlushDeviceFile(again));
  EXPECT_TRUE(WriteDeviceFile(again, frame, sizeof frame, &done));
  CloseKernelHandle(again);
  close(peer);
  for (Handle other : others) CloseKernelHandle(other);
}

TEST_F(PosixDeviceTest, CloseOnAnotherThreadEndsABlockedRead) {
  const std::string path = posix::NamespaceDir("usb") + "/u\\PIPE00";
  int peer = -1;
  Handle h = OpenAnswered(path, Listener(path), 1, &peer, kGenericRead);
  ASSERT_NE(h, kInvalidHandle);
  std::atomic<bool> ended{false};
  std::uint32_t error = 0;
  std::thread reader([&] {
    std::uint8_t buffer[64];
    std::uint32_t done;
    bool ok = ReadDeviceFile(h, buffer, sizeof buffer, &done);
    error = ok ? 0 : LastError();
    ended = true;
  });
  // The read is blocked (no frame comes); the close must neither wait for it nor leave it.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(ended.load());
  EXPECT_TRUE(CloseKernelHandle(h));
  // The unit sees the close as the call returns, whether or not the read has let go yet: a
  // reopen that follows at once finds the pipe free.
  pollfd p{peer, POLLIN | POLLRDHUP, 0};
  EXPECT_EQ(poll(&p, 1, 0), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  reader.join();
  EXPECT_TRUE(ended.load());
  EXPECT_EQ(error, kErrorInvalidHandle);
  close(peer);
}

// --- the server's files ----------------------------------------------------------------------

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// A published unit: its three sockets and its entry, private to this user; the entry holds the
// device path and is held while the server lives. All of it goes with the server.
TEST_F(PosixDeviceTest, AServedUnitsFilesArePrivateAndGoWithIt) {
  testsupport::UnitSetup setup;
  setup.name = "efis7";
  setup.publish = true;
  ASSERT_TRUE(unit.Start(setup)) << unit.ErrorText();
  const std::string usb = root + "/usb/efis7";
  EXPECT_EQ(unit.Path(), usb);
  for (const std::string& socketPath : {usb, usb + "\\PIPE00", usb + "\\PIPE01"}) {
    EXPECT_EQ(ModeOf(socketPath), static_cast<mode_t>(S_IFSOCK | 0600)) << socketPath;
  }
  const std::string entry = root + kClassDir + "/efis7";
  EXPECT_EQ(ModeOf(entry), static_cast<mode_t>(S_IFREG | 0600));
  EXPECT_EQ(ModeOf(root + kClassDir), static_cast<mode_t>(S_IFDIR | 0700));
  std::ifstream in(entry);
  std::string held;
  std::getline(in, held);
  EXPECT_EQ(held, usb);
  const int fd = open(entry.c_str(), O_RDONLY);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), -1) << "held by the server";
  close(fd);

  // A second server of the name is refused while the first lives.
  testsupport::TestUnit second;
  EXPECT_FALSE(second.Start(setup));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_EQ(second.ErrorText(), "POSIX: unit efis7 is already present");
  unit.Stop();
  EXPECT_EQ(testsupport::FilesUnder(root), std::vector<std::string>{});
}

// An entry no one holds was left by a unit that died: the next server of its name takes it over.
TEST_F(PosixDeviceTest, AStaleEntryIsTakenOverAndBadNamesAreRefused) {
  Entry("efis0", "/dev/stale", false);
  testsupport::UnitSetup setup;
  setup.name = "efis0";
  setup.publish = true;
  ASSERT_TRUE(unit.Start(setup)) << unit.ErrorText();
  EXPECT_EQ(Enumerate(kDigcfPresent | kDigcfDeviceInterface),
            std::vector<std::string>{unit.Path()});
  unit.Stop();
  for (const std::string& bad :
       {std::string(".hidden"), std::string("a/b"), std::string("a\\b"), std::string(65, 'x')}) {
    setup.name = bad;
    testsupport::TestUnit refused;
    EXPECT_FALSE(refused.Start(setup)) << bad;
    EXPECT_EQ(LastError(), kErrorInvalidName) << bad;
  }
}

// --- threads ---------------------------------------------------------------------------------

void ProbeBody(void* context);

// A test thread: pauses `pauseMs`, reads `pipe` once (when it is not 0), and says what it saw.
// Filled by the thread, read by the test once `ended` is set.
struct ThreadProbe {
  explicit ThreadProbe(Handle readFrom = 0, std::uint32_t pauseFirstMs = 0)
      : pipe(readFrom), pauseMs(pauseFirstMs) {}
  Handle Start() { return StartThread(&start); }

  const ThreadStart start{ProbeBody, this};
  const Handle pipe;
  const std::uint32_t pauseMs;
  std::atomic<bool> started{false};
  std::atomic<bool> ended{false};
  bool readOk = false;
  std::uint32_t error = 0, done = 0;
  std::uint8_t frame[64] = {};
  bool killedSeen = false;
};

void ProbeBody(void* context) {
  auto& probe = *static_cast<ThreadProbe*>(context);
  probe.started = true;
  if (probe.pauseMs > 0) PauseThread(probe.pauseMs);
  if (probe.pipe != 0) {
    probe.readOk = ReadDeviceFile(probe.pipe, probe.frame, sizeof probe.frame, &probe.done);
    probe.error = probe.readOk ? 0 : LastError();
  }
  probe.killedSeen = ThreadKilled();
  probe.ended = true;
}

// Waits (up to 10 s) for the probe's thread to end.
bool Ended(const ThreadProbe& probe) {
  for (int i = 0; i < 1000 && !probe.ended.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return probe.ended.load();
}

TEST_F(PosixDeviceTest, ThreadRunsItsBodyAndItsHandleGoesWithTheKill) {
  ThreadProbe probe;
  Handle thread = probe.Start();
  ASSERT_NE(thread, 0u);
  ASSERT_TRUE(Ended(probe));
  EXPECT_FALSE(probe.killedSeen);
  EXPECT_FALSE(ThreadKilled()) << "the test's own thread was never killed";
  EXPECT_TRUE(KillThread(thread)) << "an ended thread's handle still goes with the kill";
  EXPECT_FALSE(KillThread(thread));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(KillThread(0));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(StartThread(nullptr), 0u);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);

  // A device handle is no thread: refused, and left open.
  Handle pipe = OpenReadPipe();
  EXPECT_FALSE(KillThread(pipe));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_TRUE(CloseKernelHandle(pipe));
}

TEST_F(PosixDeviceTest, KillEndsABlockedReadAndTheNextReaderGetsTheFrame) {
  Handle pipe = OpenReadPipe();
  ASSERT_NE(pipe, kInvalidHandle);

  ThreadProbe first(pipe);
  Handle thread = first.Start();
  ASSERT_NE(thread, 0u);
  // Blocked in its read (or about to be: the kill is seen either way).
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(first.ended.load());
  EXPECT_TRUE(KillThread(thread));
  ASSERT_TRUE(Ended(first));
  EXPECT_FALSE(first.readOk);
  EXPECT_EQ(first.error, kErrorOperationAborted);
  EXPECT_TRUE(first.killedSeen);

  const std::uint8_t frame[12] = {8, 0, 1, 14, 3, 0, 0x36, 0x58, 0, 0, 0x0A, 0x78};
  ASSERT_TRUE(unit.Send(testsupport::Frame(frame, frame + 12)));
  ThreadProbe next(pipe);
  Handle nextThread = next.Start();
  ASSERT_TRUE(Ended(next));
  EXPECT_TRUE(next.readOk);
  EXPECT_EQ(next.done, 12u);
  EXPECT_EQ(std::memcmp(next.frame, frame, 12), 0);
  EXPECT_TRUE(KillThread(nextThread));
  EXPECT_TRUE(CloseKernelHandle(pipe));
}

TEST_F(PosixDeviceTest, AKilledThreadTakesNoWaitingFrameAndItsPauseEndsEarly) {
  Handle pipe = OpenReadPipe();
  const std::uint8_t frame[6] = {2, 0, 1, 6, 0x94, 0x27};
  ASSERT_TRUE(unit.Send(testsupport::Frame(frame, frame + 6)));  // in the socket: it waits there

  // A frame waits; the thread is killed in a long pause and then reads.
  ThreadProbe killed(pipe, 600000);
  Handle thread = killed.Start();
  for (int i = 0; i < 1000 && !killed.started.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(KillThread(thread));
  ASSERT_TRUE(Ended(killed)) << "the pause ends at the kill";
  EXPECT_FALSE(killed.readOk);
  EXPECT_EQ(killed.error, kErrorOperationAborted);

  // The frame is still there for a reader that was not killed.
  std::uint8_t buffer[64];
  std::uint32_t done = 0;
  ASSERT_TRUE(ReadDeviceFile(pipe, buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 6u);
  EXPECT_EQ(std::memcmp(buffer, frame, 6), 0);

  // On a thread not made by StartThread a pause is a plain sleep.
  const auto before = std::chrono::steady_clock::now();
  PauseThread(20);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
  EXPECT_TRUE(CloseKernelHandle(pipe));
}

}  // namespace
