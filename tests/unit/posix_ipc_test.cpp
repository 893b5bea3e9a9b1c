// What the POSIX emulation of the simulator IPC alone has, checked against the files, sockets
// and bytes its contract prescribes, so other programs speaking it meet the same things: the
// namespace root, its files and modes, the reclaiming of what dead processes left, the socket
// framing and connections, the handle table. What both backends share is
// tests/contract/ipc_contract_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc.h"
#include "platform/ipc_server.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/posix_root.h"
#include "tests/contract/served_window.h"
#include "tests/support/child_process.h"
#include "tests/support/posix_holder.h"

namespace {

using namespace platform;
using testsupport::ServedWindow;
using testsupport::Serving;

class PosixIpc : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = testsupport::MakeTestRuntimeDir("posix-ipc");
    root_ = runtime_ + "/korvan-win32";
    SetLastError(0);
  }
  void TearDown() override {
    umask(022);
    testsupport::RemoveTree(runtime_);
  }
  std::string runtime_;
  std::string root_;
};

int ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

bool Exists(const std::string& path) {
  return ModeOf(path) >= 0;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

sockaddr_un AddressAt(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// A socket file with no one listening: what a crashed server leaves.
void LeaveStaleSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  const sockaddr_un address = AddressAt(path);
  ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

// A raw server of the class: a listening socket at its place in the root, as another program
// speaking the contract makes it. -1 when it cannot be made.
int ListenAs(const std::string& root, const char* className) {
  if (posix::NamespaceDir("windows").empty()) return -1;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  const sockaddr_un address = AddressAt(root + "/windows/" + className);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// --- registered messages -------------------------------------------------------------------

// FNV-1a written out from its definition, independent of the backend's loop.
std::uint32_t ExpectedMessageId(const std::string& name) {
  std::uint64_t hash = 0x811C9DC5u;
  for (unsigned char c : name) {
    hash ^= static_cast<unsigned char>(std::toupper(c));
    hash = (hash * 0x01000193u) % 0x100000000u;
  }
  return static_cast<std::uint32_t>(0xC000u + hash % 0x4000u);
}

TEST(PosixIpcMessage, IdsAreTheUpperCasedHashInTheRegisteredRange) {
  // Worked out by hand for the simulator link's name: FNV-1a("FSASMLIB:IPC") = 0x0EE9BB60.
  EXPECT_EQ(RegisterMessageName("FsasmLib:IPC"), 0xFB60u);
  for (const char* name : {"FsasmLib:IPC", "fsasmlib:ipc", "FSASMLIB:IPC", "a", "x/y z", "Äb"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RegisterMessageName(name), ExpectedMessageId(name));
  }
  EXPECT_EQ(RegisterMessageName(std::string(255, 'q').c_str()),
            ExpectedMessageId(std::string(255, 'q')));
}

// --- atoms ---------------------------------------------------------------------------------

TEST_F(PosixIpc, AtomsTakeTheFirstFreeValueAndHoldTheirName) {
  umask(0777);  // the modes hold whatever the umask
  EXPECT_EQ(AddGlobalAtom("FsasmLib:IPC:2C:1"), 0xC000);
  EXPECT_EQ(AddGlobalAtom("two"), 0xC001);
  EXPECT_EQ(Contents(root_ + "/atoms/C000"), "FsasmLib:IPC:2C:1");
  EXPECT_EQ(ModeOf(root_ + "/atoms/C000"), 0600);
  EXPECT_EQ(ModeOf(root_ + "/atoms"), 0700);
  DeleteGlobalAtom(0xC000);
  EXPECT_FALSE(Exists(root_ + "/atoms/C000"));
  EXPECT_EQ(AddGlobalAtom("three"), 0xC000);
  // A value another process holds (its lock on the file) is skipped; names are upper-case hex.
  std::ofstream(root_ + "/atoms/C002") << "theirs";
  const int theirs = open((root_ + "/atoms/C002").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(theirs, LOCK_SH), 0);
  for (int i = 3; i <= 0xA; ++i) AddGlobalAtom("more");
  EXPECT_EQ(AddGlobalAtom("eleventh"), 0xC00B);
  EXPECT_EQ(Contents(root_ + "/atoms/C00B"), "eleventh");
  EXPECT_EQ(Contents(root_ + "/atoms/C002"), "theirs");
  close(theirs);
  char buffer[16];
  EXPECT_EQ(GetGlobalAtomName(0x1234, buffer, sizeof buffer), 0u);  // no values below 0xC000
}

// What a process that adds an atom and dies without deleting it leaves: the file, unlocked.
void LeaveAbandonedAtom(const std::string& root, unsigned atom, const char* name) {
  char path[512];
  std::snprintf(path, sizeof path, "%s/atoms/%04X", root.c_str(), atom);
  std::ofstream(path) << name;
}

TEST_F(PosixIpc, AtomsOfProcessesThatAreGoneAreTakenAgain) {
  ASSERT_FALSE(posix::NamespaceDir("atoms").empty());
  // A bridge killed 16,384 times, each time before it deleted its atom: every value is taken by
  // a process that no longer exists. None of them is anyone's: the first goes to the next adder.
  for (unsigned atom = 0xC000; atom <= 0xFFFF; ++atom) LeaveAbandonedAtom(root_, atom, "gone");
  EXPECT_EQ(AddGlobalAtom("FsasmLib:IPC:2C:1"), 0xC000);
  EXPECT_EQ(Contents(root_ + "/atoms/C000"), "FsasmLib:IPC:2C:1");
  EXPECT_EQ(AddGlobalAtom("next"), 0xC001);
  EXPECT_EQ(Contents(root_ + "/atoms/C002"), "gone");  // reclaimed only when its value is wanted

  // A child that adds an atom and ends without deleting it: the value is free again. While it
  // lives it keeps it.
  auto addAtom = [](const char* name) -> std::uint32_t { return AddGlobalAtom(name); };
  for (bool lives : {true, false}) {
    testsupport::ChildHolder child(addAtom, "child's");
    EXPECT_EQ(child.taken(), 0xC002u);
    if (!lives) child.Release();
    EXPECT_EQ(AddGlobalAtom("after the child"), lives ? 0xC003 : 0xC002) << "child lives " << lives;
    DeleteGlobalAtom(lives ? 0xC003 : 0xC002);
    char name[32] = {};
    EXPECT_EQ(GetGlobalAtomName(0xC002, name, sizeof name) > 0, lives);
    EXPECT_STREQ(name, lives ? "child's" : "");
  }
  DeleteGlobalAtom(0xC000);
  DeleteGlobalAtom(0xC001);
}

// --- shared areas --------------------------------------------------------------------------

TEST_F(PosixIpc, AFreshAreaIsAPrivateZeroedFileOfItsSize) {
  umask(0777);  // the modes hold whatever the umask
  const Handle area = CreateSharedArea("FsasmLib:IPC:2C:1", 0x8000);
  ASSERT_NE(area, 0u);
  EXPECT_EQ(LastError(), 0u);
  const std::string path = root_ + "/mappings/FsasmLib:IPC:2C:1";
  EXPECT_EQ(ModeOf(path), 0600);
  EXPECT_EQ(ModeOf(root_ + "/mappings"), 0700);
  EXPECT_EQ(ModeOf(root_), 0700);
  auto* view = static_cast<unsigned char*>(MapSharedArea(area));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(SharedAreaSize(view), 0x8000u);
  EXPECT_EQ(Contents(path), std::string(0x8000, '\0'));
  EXPECT_TRUE(UnmapSharedArea(view));
  EXPECT_TRUE(CloseKernelHandle(area));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(testsupport::FilesUnder(root_), std::vector<std::string>{});
}

TEST_F(PosixIpc, AFileNobodyLocksIsReplaced) {
  ASSERT_FALSE(posix::NamespaceDir("mappings").empty());
  const std::string path = root_ + "/mappings/left";
  std::ofstream(path) << "garbage left by a crash";
  const Handle area = CreateSharedArea("left", 64);
  ASSERT_NE(area, 0u);
  EXPECT_EQ(LastError(), 0u);
  EXPECT_EQ(Contents(path), std::string(64, '\0'));
  EXPECT_TRUE(CloseKernelHandle(area));
  std::ofstream(path) << "again";
  EXPECT_EQ(OpenSharedArea("left"), 0u);  // a dead area cannot be opened ...
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_FALSE(Exists(path));  // ... and is cleared away
}

TEST_F(PosixIpc, AreasOfProcessesThatAreGoneAreClearedAwayByTheNextCreate) {
  ASSERT_FALSE(posix::NamespaceDir("mappings").empty());
  // Two areas a killed bridge left, under other names than the one made next.
  std::ofstream(root_ + "/mappings/FsasmLib:IPC:3E8:1") << std::string(64, 'x');
  std::ofstream(root_ + "/mappings/FsasmLib:IPC:3E9:1") << std::string(64, 'y');
  const std::string held = root_ + "/mappings/held by the living";
  std::ofstream(held) << "z";
  const int holder = open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_SH), 0);
  const Handle area = CreateSharedArea("FsasmLib:IPC:2C:1", 64);
  ASSERT_NE(area, 0u);
  EXPECT_EQ(testsupport::FilesUnder(root_ + "/mappings"),
            (std::vector<std::string>{"FsasmLib:IPC:2C:1", "held by the living"}));
  EXPECT_TRUE(CloseKernelHandle(area));
  close(holder);
}

TEST_F(PosixIpc, AnAreaCutShortUnderItsViewReadsZerosAndIsNoLongerIntact) {
  const Handle cut = CreateSharedArea("cut", 0x8000);
  const Handle whole = CreateSharedArea("whole", 0x8000);
  ASSERT_TRUE(cut != 0 && whole != 0);
  auto* view = static_cast<volatile unsigned char*>(MapSharedArea(cut));
  auto* other = static_cast<unsigned char*>(MapSharedArea(whole));
  ASSERT_TRUE(view != nullptr && other != nullptr);
  view[0x7FFF] = 0x11;
  other[5] = 0x22;
  EXPECT_TRUE(SharedAreaIntact(const_cast<unsigned char*>(view)));
  // Any process of the user can do this to an area; reading on would die of SIGBUS.
  ASSERT_EQ(truncate((root_ + "/mappings/cut").c_str(), 0), 0);
  EXPECT_EQ(view[0x7FFF], 0);  // private zeros where the pages were
  view[0x100] = 0x33;          // and writes land in them
  EXPECT_EQ(view[0x100], 0x33);
  EXPECT_FALSE(SharedAreaIntact(const_cast<unsigned char*>(view)));
  EXPECT_TRUE(SharedAreaIntact(other));
  EXPECT_EQ(other[5], 0x22);
  EXPECT_TRUE(UnmapSharedArea(const_cast<unsigned char*>(view)));
  EXPECT_TRUE(UnmapSharedArea(other));
  EXPECT_TRUE(CloseKernelHandle(cut));
  EXPECT_TRUE(CloseKernelHandle(whole));
  EXPECT_EQ(testsupport::FilesUnder(root_), std::vector<std::string>{});
  // A new area of the name is whole again.
  const Handle again = CreateSharedArea("cut", 0x8000);
  auto* fresh = static_cast<unsigned char*>(MapSharedArea(again));
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(SharedAreaIntact(fresh));
  EXPECT_EQ(fresh[0x7FFF], 0);
  UnmapSharedArea(fresh);
  CloseKernelHandle(again);
  int local = 0;
  EXPECT_FALSE(SharedAreaIntact(&local));
  EXPECT_FALSE(SharedAreaIntact(nullptr));
}

TEST_F(PosixIpc, ABusErrorOutsideEveryAreaStillEndsTheProcess) {
  const Handle area = CreateSharedArea("installs the handler", 64);
  void* view = MapSharedArea(area);
  ASSERT_NE(view, nullptr);
  const std::string path = runtime_ + "/not an area";
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ftruncate(fd, 4096) != 0) _exit(3);
    auto* bytes = static_cast<volatile unsigned char*>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) _exit(4);
    bytes[10] = 1;  // SIGBUS, and none of the layer's
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // Killed by the signal, or (under a sanitizer) its report's exit: never a clean run.
  EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
              (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3 &&
               WEXITSTATUS(status) != 4))
      << "status " << status;
  UnmapSharedArea(view);
  CloseKernelHandle(area);
}

// In a child: a fresh area of 32 bytes, mapped, with 0x77 at 7; 1 when it was made.
std::uint32_t TakeFreshArea(const char* name) {
  const Handle area = CreateSharedArea(name, 32);
  const bool fresh = area != 0 && LastError() == 0;
  auto* view = static_cast<unsigned char*>(MapSharedArea(area));
  if (view != nullptr) view[7] = 0x77;
  return fresh && view != nullptr;
}

TEST_F(PosixIpc, AnAreaHeldByAnotherProcessIsLiveUntilItDies) {
  testsupport::ChildHolder holder(TakeFreshArea, "held");
  ASSERT_EQ(holder.taken(), 1u);
  const Handle joined = CreateSharedArea("held", 32);
  ASSERT_NE(joined, 0u);
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  auto* view = static_cast<unsigned char*>(MapSharedArea(joined));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[7], 0x77);
  UnmapSharedArea(view);
  CloseKernelHandle(joined);
  EXPECT_TRUE(Exists(root_ + "/mappings/held"));  // the child still holds it
  holder.Release();
  const Handle fresh = CreateSharedArea("held", 32);
  ASSERT_NE(fresh, 0u);
  EXPECT_EQ(LastError(), 0u);
  view = static_cast<unsigned char*>(MapSharedArea(fresh));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[7], 0);
  UnmapSharedArea(view);
  CloseKernelHandle(fresh);
}

TEST_F(PosixIpc, AreaNamesThatCannotBeFilesOfTheRootAreInvalid) {
  const std::string tooLong(256, 'n');
  for (const char* name : {"a/b", "..", ".", "", tooLong.c_str()}) {
    SCOPED_TRACE(name);
    SetLastError(0);
    EXPECT_EQ(CreateSharedArea(name, 16), 0u);
    EXPECT_EQ(LastError(), kErrorInvalidName);
  }
  EXPECT_EQ(OpenSharedArea("a/b"), 0u);
  EXPECT_EQ(LastError(), kErrorInvalidName);
  EXPECT_EQ(testsupport::FilesUnder(root_), std::vector<std::string>{});
}

// --- windows and the exchange --------------------------------------------------------------

TEST_F(PosixIpc, WindowsAreFoundWhileTheirSocketAccepts) {
  const std::string path = root_ + "/windows/UIPCMAIN";
  EXPECT_EQ(FindTopLevelWindow("UIPCMAIN"), 0u);
  ASSERT_FALSE(posix::NamespaceDir("windows").empty());
  LeaveStaleSocket(path);
  EXPECT_EQ(FindTopLevelWindow("UIPCMAIN"), 0u);  // a socket file alone is no window
  Serving serving;
  {
    ServedWindow uipc("UIPCMAIN", &serving);  // replaces the stale file
    ASSERT_TRUE(uipc.Created()) << uipc.CreateError();
    EXPECT_NE(FindTopLevelWindow("UIPCMAIN"), 0u);
    umask(0);
    ServedWindow fs98("FS98MAIN", &serving);
    EXPECT_EQ(ModeOf(root_ + "/windows/FS98MAIN") & 0777, 0600);
    EXPECT_TRUE(uipc.Stop());
    EXPECT_FALSE(Exists(path));
  }
  EXPECT_EQ(FindTopLevelWindow("a/b"), 0u);
  EXPECT_EQ(testsupport::FilesUnder(root_), std::vector<std::string>{});
}

// The messages of a process go on one connection, which the server sees end when an atom is
// deleted (what it kept for the connection may have been what that atom named).
TEST_F(PosixIpc, OneConnectionCarriesTheMessagesUntilAnAtomIsDeleted) {
  Serving serving;
  ServedWindow server("UIPCMAIN", &serving);
  const WindowHandle window = FindTopLevelWindow("UIPCMAIN");
  std::uintptr_t reply = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(SendMessageWithTimeout(window, 1, 2, 3, 30000, &reply));
  std::vector<std::uint32_t> connections;
  {
    std::lock_guard<std::mutex> hold(serving.lock);
    connections = serving.connections;
    EXPECT_TRUE(serving.ended.empty());
  }
  ASSERT_EQ(connections.size(), 3u);
  EXPECT_NE(connections[0], 0u);
  EXPECT_EQ(connections[1], connections[0]);
  EXPECT_EQ(connections[2], connections[0]);

  const std::uint16_t atom = AddGlobalAtom("korvan-test-name");
  ASSERT_NE(atom, 0);
  DeleteGlobalAtom(atom);  // returns once the server has closed its end
  {
    std::lock_guard<std::mutex> hold(serving.lock);
    EXPECT_EQ(serving.ended, std::vector<std::uint32_t>{connections[0]});
  }
  // The next message opens a new connection, with a number of its own.
  ASSERT_TRUE(SendMessageWithTimeout(window, 1, 2, 3, 30000, &reply));
  std::lock_guard<std::mutex> hold(serving.lock);
  ASSERT_EQ(serving.connections.size(), 4u);
  EXPECT_NE(serving.connections[3], connections[0]);
  EXPECT_NE(serving.connections[3], 0u);
}

// A server of the first version of the contract: one message per connection, closed after its
// reply. Every message still goes through: the sender connects again.
TEST_F(PosixIpc, AServerThatClosesAfterEachReplyStillWorks) {
  const int listener = ListenAs(root_, "ONESHOT");
  ASSERT_GE(listener, 0);
  std::atomic<int> messages{0};
  std::thread oneShot([&] {
    while (messages.load() < 5) {
      const int connection = accept(listener, nullptr, nullptr);
      unsigned char packet[16];
      if (recv(connection, packet, sizeof packet, 0) == 16) {
        const unsigned char reply[8] = {packet[0], 0, 0, 0, 0, 0, 0, 0};
        send(connection, reply, sizeof reply, MSG_NOSIGNAL);
        messages.fetch_add(1);
      }
      close(connection);  // the lookup's probe sends nothing
    }
  });
  const WindowHandle window = FindTopLevelWindow("ONESHOT");
  ASSERT_NE(window, 0u);
  for (std::uint32_t msg = 1; msg <= 5; ++msg) {
    std::uintptr_t reply = 0;
    EXPECT_TRUE(SendMessageWithTimeout(window, msg, 0, 0, 30000, &reply)) << msg;
    EXPECT_EQ(reply, msg);
  }
  oneShot.join();
  close(listener);
}

// A server that closes a connection with a message in it unread: the sender's wait for the
// reply ends with ECONNRESET, and the message goes once more on a new connection.
TEST_F(PosixIpc, AMessageTheServerNeverReadGoesAgainOnANewConnection) {
  const int listener = ListenAs(root_, "DROPSNEXT");
  ASSERT_GE(listener, 0);
  std::vector<std::uint32_t> read;  // the messages the server read, in order
  std::thread server([&] {
    int connection = -1;
    auto next = [&] {
      for (;;) {
        connection = accept(listener, nullptr, nullptr);
        unsigned char packet[16];
        if (recv(connection, packet, sizeof packet, 0) == 16) return packet[0];
        close(connection);  // the probe
      }
    };
    read.push_back(next());
    const unsigned char reply[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    send(connection, reply, sizeof reply, MSG_NOSIGNAL);
    pollfd second{connection, POLLIN, 0};
    poll(&second, 1, 30000);  // the second message has come: leave it unread
    close(connection);
    read.push_back(next());
    send(connection, reply, sizeof reply, MSG_NOSIGNAL);
    close(connection);
  });
  const WindowHandle window = FindTopLevelWindow("DROPSNEXT");
  ASSERT_NE(window, 0u);
  std::uintptr_t reply = 0;
  EXPECT_TRUE(SendMessageWithTimeout(window, 0x41, 0, 0, 30000, &reply));
  EXPECT_TRUE(SendMessageWithTimeout(window, 0x42, 0, 0, 30000, &reply));
  EXPECT_EQ(reply, 1u);
  server.join();
  close(listener);
  EXPECT_EQ(read, (std::vector<std::uint32_t>{0x41, 0x42}));
}

TEST_F(PosixIpc, NoWindowOrALostConnectionIsAnInvalidWindow) {
  std::uintptr_t reply = 0;
  // Numbers no lookup gave: an unused entry of the found windows' table, and one past its end.
  for (WindowHandle bogus : {WindowHandle{31}, WindowHandle{100000}}) {
    SetLastError(0);
    EXPECT_FALSE(SendMessageWithTimeout(bogus, 1, 0, 0, 100, &reply));
    EXPECT_EQ(LastError(), kErrorInvalidWindowHandle);
  }

  // A server that reads the packet and hangs up: the bytes are checked on the way.
  const int listener = ListenAs(root_, "DROPPER");
  ASSERT_GE(listener, 0);
  std::vector<unsigned char> packet;
  std::thread dropper([&] {
    for (;;) {
      const int connection = accept(listener, nullptr, nullptr);
      unsigned char bytes[32];
      const ssize_t got = recv(connection, bytes, sizeof bytes, 0);
      close(connection);
      if (got > 0) {  // the lookup's probe connects and sends nothing
        packet.assign(bytes, bytes + got);
        return;
      }
    }
  });
  const WindowHandle dropping = FindTopLevelWindow("DROPPER");
  ASSERT_NE(dropping, 0u);
  EXPECT_FALSE(SendMessageWithTimeout(dropping, 0x11223344, 0xC001, 0x80, 5000, &reply));
  EXPECT_EQ(LastError(), kErrorInvalidWindowHandle);
  dropper.join();
  close(listener);
  // msg, wParam, lParam and the sender's pid, each 32 bits little-endian.
  std::vector<unsigned char> expected = {0x44, 0x33, 0x22, 0x11, 0x01, 0xC0, 0, 0, 0x80, 0, 0, 0};
  for (int shift = 0; shift < 32; shift += 8) expected.push_back(getpid() >> shift & 0xFF);
  EXPECT_EQ(packet, expected);
}

TEST_F(PosixIpc, TheServerDropsMalformedPacketsAndRepliesInEightBytes) {
  Serving serving;
  ServedWindow server("UIPCMAIN", &serving);
  ASSERT_NE(server.window(), nullptr);
  const sockaddr_un address = AddressAt(root_ + "/windows/UIPCMAIN");
  auto exchange = [&](const std::vector<unsigned char>& packet) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    if (!packet.empty()) send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
    unsigned char reply[32];
    const ssize_t got = recv(fd, reply, sizeof reply, 0);
    close(fd);
    return std::vector<unsigned char>(reply, reply + (got > 0 ? got : 0));
  };
  EXPECT_EQ(exchange({}), std::vector<unsigned char>{});  // silent: dropped in time
  EXPECT_EQ(exchange({1, 2, 3, 4, 5, 6, 7, 8}), std::vector<unsigned char>{});
  EXPECT_EQ(exchange(std::vector<unsigned char>(17, 1)), std::vector<unsigned char>{});
  EXPECT_EQ(serving.handled.load(), 0);
  // msg 0x100, wParam 2, lParam 1: reply 0x300 + 10 + 1 = 0x30B, then a zero word.
  const std::vector<unsigned char> good = {0, 1, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0};
  EXPECT_EQ(exchange(good), (std::vector<unsigned char>{0x0B, 0x03, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(serving.senderPid.load(), 9u);
}

ServerWindow* signalledWindow = nullptr;
void StopOnSignal(int) {
  RequestServerStop(signalledWindow);
}

TEST_F(PosixIpc, AStopMayComeFromASignalHandler) {
  Serving serving;
  ServedWindow server("UIPCMAIN", &serving);
  signalledWindow = server.window();
  struct sigaction action {};
  action.sa_handler = StopOnSignal;
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  // Once the window answers, its thread is inside its poll.
  std::uintptr_t reply = 0;
  ASSERT_TRUE(SendMessageWithTimeout(FindTopLevelWindow("UIPCMAIN"), 1, 1, 1, 30000, &reply));
  pthread_kill(server.thread().native_handle(), SIGUSR1);
  server.thread().join();
  EXPECT_TRUE(server.StopWasRequested());
  EXPECT_TRUE(server.Stop());
  signal(SIGUSR1, SIG_DFL);
}

// --- the namespace root and the handle table ----------------------------------------------

TEST_F(PosixIpc, TheRootFollowsXdgRuntimeDirWhenItIsADirectory) {
  umask(0777);
  EXPECT_EQ(posix::NamespaceRoot(), root_);
  EXPECT_EQ(ModeOf(root_), 0700);
  const std::string nested = posix::NamespaceDir("devices/{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}");
  EXPECT_EQ(nested, root_ + "/devices/{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}");
  EXPECT_EQ(ModeOf(root_ + "/devices"), 0700);
  EXPECT_EQ(ModeOf(nested), 0700);
  EXPECT_EQ(posix::NamespaceDir("../escape"), "");
  EXPECT_EQ(posix::NamespaceDir("/abs"), "");
  umask(022);

  const std::string fallback = "/tmp/korvan-win32-" + std::to_string(geteuid());
  const std::string file = runtime_ + "/not-a-dir";
  std::ofstream(file) << "x";
  for (const char* value : {file.c_str(), "relative/dir", static_cast<const char*>(nullptr)}) {
    testsupport::SetTestEnvironment("XDG_RUNTIME_DIR", value);
    EXPECT_EQ(posix::NamespaceRoot(), fallback);
    EXPECT_EQ(ModeOf(fallback), 0700);
  }
  // A root that is not a private directory of ours is refused, not used.
  testsupport::SetTestEnvironment("XDG_RUNTIME_DIR", runtime_.c_str());
  testsupport::RemoveTree(root_);
  ASSERT_EQ(mkdir((runtime_ + "/elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(symlink((runtime_ + "/elsewhere").c_str(), root_.c_str()), 0);
  EXPECT_EQ(posix::NamespaceRoot(), "");
  EXPECT_EQ(CreateSharedArea("x", 16), 0u);
  EXPECT_EQ(AddGlobalAtom("x"), 0);
}

// Another local user who made the root, or a directory in it, first could watch or feed every
// exchange: such a directory is refused, never used nor taken over. Only root can hand a
// directory to another user, so elsewhere there is nothing to plant.
TEST_F(PosixIpc, ARootOrDirectoryOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a directory to another user";
  const uid_t other = 65534;
  ASSERT_EQ(mkdir(root_.c_str(), 0700), 0);
  ASSERT_EQ(chown(root_.c_str(), other, other), 0);
  EXPECT_EQ(posix::NamespaceRoot(), "");
  EXPECT_EQ(CreateSharedArea("x", 16), 0u);
  EXPECT_EQ(AddGlobalAtom("x"), 0);
  EXPECT_EQ(posix::NamespaceDir("mappings"), "");
  EXPECT_FALSE(Exists(root_ + "/mappings"));
  struct stat st {};
  ASSERT_EQ(lstat(root_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, other);  // not taken over

  // The root ours, one level in someone else's.
  ASSERT_EQ(chown(root_.c_str(), geteuid(), getegid()), 0);
  ASSERT_EQ(mkdir((root_ + "/mappings").c_str(), 0700), 0);
  ASSERT_EQ(chown((root_ + "/mappings").c_str(), other, other), 0);
  ASSERT_EQ(mkdir((root_ + "/atoms").c_str(), 0700), 0);
  ASSERT_EQ(chown((root_ + "/atoms").c_str(), other, other), 0);
  EXPECT_EQ(CreateSharedArea("x", 16), 0u);
  EXPECT_EQ(AddGlobalAtom("x"), 0);
  EXPECT_FALSE(Exists(root_ + "/mappings/x"));
}

TEST(PosixHandles, HandlesAreSmallAndClosedOnce) {
  std::vector<Handle> handles;
  for (;;) {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const Handle handle = posix::AllocateHandle(fd, nullptr, nullptr);
    if (handle == 0) {
      EXPECT_EQ(LastError(), 4u);
      close(fd);
      break;
    }
    EXPECT_LE(handle, static_cast<Handle>(posix::kHandleTableSize));
    handles.push_back(handle);
    ASSERT_LE(handles.size(), static_cast<std::size_t>(posix::kHandleTableSize));
  }
  EXPECT_EQ(handles.size(), static_cast<std::size_t>(posix::kHandleTableSize));
  EXPECT_EQ(std::set<Handle>(handles.begin(), handles.end()).size(), handles.size());
  for (Handle handle : handles) EXPECT_TRUE(CloseKernelHandle(handle));
  EXPECT_FALSE(CloseKernelHandle(handles[0]));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  bool used = false;
  EXPECT_FALSE(posix::WithHandle(
      handles[0], [](posix::HandleEntry&, void* flag) { *static_cast<bool*>(flag) = true; },
      &used));
  EXPECT_FALSE(used);
  EXPECT_FALSE(CloseKernelHandle(0));
  EXPECT_FALSE(CloseKernelHandle(kInvalidHandle));
}

// A call blocked on a socket handle's own fd (no copy of it) ends once the handle is closed on
// another thread, and the close waits for it to have ended before the fd goes.
TEST(PosixHandles, ClosingASocketEndsACallBlockedOnIt) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
  const Handle handle = posix::AllocateHandle(pair[0], posix::CloseSocketEntry, nullptr, true);
  ASSERT_NE(handle, 0u);
  struct Blocked {
    std::atomic<bool> inside{false};
    ssize_t got = -2;
  } blocked;
  std::thread reader([&] {
    posix::WithHandle(
        handle,
        [](posix::HandleEntry& entry, void* context) {
          auto& b = *static_cast<Blocked*>(context);
          b.inside = true;
          char byte;
          b.got = read(entry.fd, &byte, 1);
        },
        &blocked);
  });
  while (!blocked.inside) SleepMs(1);
  SleepMs(20);  // well inside its read
  EXPECT_TRUE(CloseKernelHandle(handle));
  EXPECT_EQ(blocked.got, 0);  // ended before the close returned
  reader.join();
  close(pair[1]);
}

}  // namespace
