// Window lookup, registered messages and the synchronous message exchange over the window's
// SOCK_SEQPACKET socket (posix_window_socket.h); the per-thread last error. Atoms and shared
// areas have files of their own (posix_atoms.cpp, posix_mapping.cpp).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/ipc.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_send.h"
#include "platform/posix/posix_window_socket.h"

namespace platform {
namespace {

thread_local std::uint32_t ThreadLastError = 0;

// Windows found so far, one entry per class: a WindowHandle is its index + 1. The entry keeps
// the socket address, so a send needs no lookup and no allocation, and the one connection that
// carries this process's messages to the window, kept from one message to the next.
struct FoundWindow {
  bool used = false;
  char className[256] = {};
  sockaddr_un address{};
  std::uint32_t generation = 0;  // a new find: the kept connection may lead to another server
  std::mutex sending;            // one message at a time on the kept connection
  int connection = -1;           // this and the two below: guarded by `sending`
  int timeoutSet = -1;           // the receive timeout last set on it, in ms
  std::uint32_t connectionGeneration = 0;
};
constexpr int kMaxFoundWindows = 32;
// A server that kept what an atom named releases it once our end is closed; we wait this long
// for it to close its end before an atom goes.
constexpr int kEndConnectionMs = 1000;
std::mutex FoundLock;
FoundWindow FoundWindows[kMaxFoundWindows];

FoundWindow* FoundEntry(WindowHandle window, sockaddr_un* address, std::uint32_t* generation) {
  if (window == 0 || window > static_cast<WindowHandle>(kMaxFoundWindows)) return nullptr;
  std::lock_guard<std::mutex> hold(FoundLock);
  FoundWindow& entry = FoundWindows[window - 1];
  if (!entry.used) return nullptr;
  *address = entry.address;
  *generation = entry.generation;
  return &entry;
}

// Outcome of one step of the exchange; the error code is what the caller reports.
// Unread: the connection ended before the server read the message (it closed the connection
// after an earlier reply, as a server may), so the message may go again on a new one.
enum class Step { Done, TimedOut, Lost, Unread };

// A unix connect never waits for the server to accept; EAGAIN only means its backlog is full,
// so a busy window is retried until the deadline, as a hung window holds a Windows sender.
Step ConnectBy(int fd, const sockaddr_un& address, std::uint64_t deadline) {
  for (;;) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      return Step::Done;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return Step::Lost;
    if (posix::PollTimeoutUntil(deadline) == 0) return Step::TimedOut;
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

bool Unread(int error) {
  return error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ECONNREFUSED;
}

// The packet goes at once when the socket has room, as it has for every message but one
// sent while the server has not yet read the one before; only then does it wait for room.
Step SendBy(int fd, const unsigned char* packet, std::size_t size, std::uint64_t deadline) {
  const ssize_t sent = posix::SendPacketBy(fd, packet, size, deadline);
  if (sent == static_cast<ssize_t>(size)) return Step::Done;
  if (sent < 0 && errno == ETIMEDOUT) return Step::TimedOut;
  if (sent < 0 && Unread(errno)) return Step::Unread;
  return Step::Lost;
}

// The reply, waited for in the receive itself (the socket blocks, its receive timeout set to
// what is left): one system call when the server answers. The timeout is set again only when
// what is left differs by more than the clock's millisecond from the last one set.
Step ReceiveReply(int fd, std::uint32_t* result, std::uint64_t deadline, int* timeoutSet) {
  for (;;) {
    const int left = posix::PollTimeoutUntil(deadline);
    if (left == 0) return Step::TimedOut;
    if (*timeoutSet < left || *timeoutSet > left + 1) {
      const timeval limit{left / 1000, static_cast<suseconds_t>(left % 1000) * 1000};
      if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return Step::Lost;
      *timeoutSet = left;
    }
    // One byte more than a reply, so an oversized packet shows as malformed, not as a reply.
    unsigned char reply[posix::kReplyPacketSize + 1];
    const ssize_t got = recv(fd, reply, sizeof reply, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      *timeoutSet = -1;  // what is left next time differs
      if (posix::PollTimeoutUntil(deadline) == 0) return Step::TimedOut;
      continue;
    }
    if (got < 0 && errno == ECONNRESET) return Step::Unread;
    if (got != static_cast<ssize_t>(posix::kReplyPacketSize)) return Step::Lost;
    *result = posix::GetReplyPacket(reply);
    return Step::Done;
  }
}

// A new connection to the window, blocking for the reply's wait (sends never block: they use
// MSG_DONTWAIT).
int Connect(const sockaddr_un& address, std::uint64_t deadline, Step* step) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *step = Step::Lost;
    return -1;
  }
  *step = ConnectBy(fd, address, deadline);
  if (*step == Step::Done) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) *step = Step::Lost;
  }
  if (*step == Step::Done) return fd;
  close(fd);
  return -1;
}

// One message on `*connection` (made when there is none), and its reply. A message the server
// never read on a connection kept from before goes once more on a new one.
Step Exchange(int* connection, int* timeoutSet, const sockaddr_un& address,
              const unsigned char (&packet)[posix::kMessagePacketSize], std::uint64_t deadline,
              std::uint32_t* result) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool kept = *connection >= 0;
    Step step = Step::Done;
    if (!kept) {
      *connection = Connect(address, deadline, &step);
      *timeoutSet = -1;
      if (step != Step::Done) return step == Step::TimedOut ? step : Step::Lost;
    }
    step = SendBy(*connection, packet, sizeof packet, deadline);
    if (step == Step::Done) step = ReceiveReply(*connection, result, deadline, timeoutSet);
    if (step == Step::Done) return step;
    // Whatever else happened, the connection is done with: a late reply to this message must
    // never be taken for the reply to the next.
    close(*connection);
    *connection = -1;
    if (step != Step::Unread || !kept) return step == Step::Unread ? Step::Lost : step;
  }
  return Step::Lost;
}

}  // namespace

WindowHandle FindTopLevelWindow(const char* className) {
  sockaddr_un address{};
  std::uint32_t error = 0;
  if (!posix::WindowSocketAddress(className, &address, &error)) return 0;
  if (posix::ProbeWindowSocket(address) != posix::WindowState::Live) return 0;
  std::lock_guard<std::mutex> hold(FoundLock);
  int freeSlot = -1;
  for (int i = 0; i < kMaxFoundWindows; ++i) {
    if (!FoundWindows[i].used) {
      if (freeSlot < 0) freeSlot = i;
      continue;
    }
    if (std::strcmp(FoundWindows[i].className, className) == 0) {
      // Same class: same handle; the address follows the current root, and the next message
      // goes on a new connection to whatever listens there now.
      FoundWindows[i].address = address;
      ++FoundWindows[i].generation;
      return static_cast<WindowHandle>(i + 1);
    }
  }
  if (freeSlot < 0) {
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  FoundWindow& entry = FoundWindows[freeSlot];
  entry.used = true;
  std::strncpy(entry.className, className, sizeof entry.className - 1);
  entry.address = address;
  return static_cast<WindowHandle>(freeSlot + 1);
}

std::uint32_t RegisterMessageName(const char* name) {
  // Windows keeps these names in its atom table: 1 to 255 characters.
  if (name == nullptr || name[0] == '\0' || strnlen(name, 256) > 255) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  // FNV-1a, 32 bits, over the name upper-cased in ASCII: every process derives the same id.
  std::uint32_t hash = 2166136261u;
  for (const char* c = name; *c != '\0'; ++c) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
    hash ^= byte;
    hash *= 16777619u;
  }
  return 0xC000u + hash % 0x4000u;
}

bool SendMessageWithTimeout(WindowHandle window, std::uint32_t msg, std::uint32_t wParam,
                            std::uint32_t lParam, std::uint32_t timeoutMs, std::uintptr_t* reply) {
  sockaddr_un address{};
  std::uint32_t generation = 0;
  FoundWindow* entry = FoundEntry(window, &address, &generation);
  if (entry == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  const std::uint64_t deadline = posix::MonotonicMs() + timeoutMs;
  unsigned char packet[posix::kMessagePacketSize];
  posix::PutMessagePacket(packet, ServerMessage{msg, wParam, lParam, CurrentProcessId()});
  std::uint32_t result = 0;
  Step step;
  std::unique_lock<std::mutex> sending(entry->sending, std::try_to_lock);
  if (sending.owns_lock()) {
    if (entry->connection >= 0 && entry->connectionGeneration != generation) {
      close(entry->connection);
      entry->connection = -1;
    }
    entry->connectionGeneration = generation;
    step = Exchange(&entry->connection, &entry->timeoutSet, address, packet, deadline, &result);
  } else {
    // Another thread's message holds the kept connection: this one goes on its own.
    int connection = -1, timeoutSet = -1;
    step = Exchange(&connection, &timeoutSet, address, packet, deadline, &result);
    if (connection >= 0) close(connection);
  }
  if (step != Step::Done) {
    SetLastError(step == Step::TimedOut ? kErrorTimeout : kErrorInvalidWindowHandle);
    return false;
  }
  if (reply != nullptr) *reply = result;
  return true;
}

namespace posix {

void EndWindowConnections() {
  const std::uint64_t deadline = MonotonicMs() + kEndConnectionMs;
  for (FoundWindow& entry : FoundWindows) {
    std::lock_guard<std::mutex> hold(entry.sending);
    if (entry.connection < 0) continue;
    // Our end goes first; the end of the server's says it has let go of what it kept.
    shutdown(entry.connection, SHUT_WR);
    for (;;) {
      pollfd wait{entry.connection, POLLIN, 0};
      const int ready = poll(&wait, 1, PollTimeoutUntil(deadline));
      if (ready == 0 || (ready < 0 && errno != EINTR)) break;
      if (ready < 0) continue;
      unsigned char late[posix::kReplyPacketSize + 1];  // a reply that came after its time
      const ssize_t got = recv(entry.connection, late, sizeof late, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    close(entry.connection);
    entry.connection = -1;
  }
}

}  // namespace posix

std::uint32_t LastError() {
  return ThreadLastError;
}

void SetLastError(std::uint32_t code) {
  ThreadLastError = code;
}

void SleepMs(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // Interrupted sleeps resume with what is left; errno is the only thing touched, never the
  // last error.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::uint32_t CurrentProcessId() {
  // Asked for every message: kept rather than asked of the kernel each time. A forked child
  // (tests start programs that way) execs at once and never sends.
  static const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  return pid;
}

}  // namespace platform
