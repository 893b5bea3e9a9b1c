// Window lookup, registered messages and the synchronous message exchange over the window's
// SOCK_SEQPACKET socket (posix_window_socket.h); the per-thread last error. Atoms and shared
// areas have files of their own (posix_atoms.cpp, posix_mapping.cpp).
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/ipc.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_window_socket.h"

namespace platform {
namespace {

thread_local std::uint32_t ThreadLastError = 0;

// Windows found so far, one entry per class: a WindowHandle is its index + 1. The entry keeps
// the socket address, so a send needs no lookup and no allocation.
struct FoundWindow {
  bool used = false;
  char className[256] = {};
  sockaddr_un address{};
};
constexpr int kMaxFoundWindows = 32;
std::mutex FoundLock;
FoundWindow FoundWindows[kMaxFoundWindows];

bool AddressOf(WindowHandle window, sockaddr_un* address) {
  if (window == 0 || window > static_cast<WindowHandle>(kMaxFoundWindows)) return false;
  std::lock_guard<std::mutex> hold(FoundLock);
  const FoundWindow& entry = FoundWindows[window - 1];
  if (!entry.used) return false;
  *address = entry.address;
  return true;
}

// Outcome of one step of the exchange; the error code is what the caller reports.
enum class Step { Done, TimedOut, Lost };

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

Step SendBy(int fd, const unsigned char* packet, std::size_t size, std::uint64_t deadline) {
  for (;;) {
    const ssize_t sent = send(fd, packet, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(size)) return Step::Done;
    if (sent >= 0 || (errno != EAGAIN && errno != EINTR)) return Step::Lost;
    pollfd wait{fd, POLLOUT, 0};
    const int ready = poll(&wait, 1, posix::PollTimeoutUntil(deadline));
    if (ready == 0) return Step::TimedOut;
    if (ready < 0 && errno != EINTR) return Step::Lost;
  }
}

Step ReceiveReply(int fd, std::uint32_t* result, std::uint64_t deadline) {
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, posix::PollTimeoutUntil(deadline));
    if (ready == 0) return Step::TimedOut;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Step::Lost;
    }
    // One byte more than a reply, so an oversized packet shows as malformed, not as a reply.
    unsigned char reply[posix::kReplyPacketSize + 1];
    const ssize_t got = recv(fd, reply, sizeof reply, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got != static_cast<ssize_t>(posix::kReplyPacketSize)) return Step::Lost;
    *result = posix::GetReplyPacket(reply);
    return Step::Done;
  }
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
      // Same class: same handle; the address follows the current root.
      FoundWindows[i].address = address;
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
  if (!AddressOf(window, &address)) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  const std::uint64_t deadline = posix::MonotonicMs() + timeoutMs;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    SetLastError(posix::ErrorFromErrno(errno));
    return false;
  }
  unsigned char packet[posix::kMessagePacketSize];
  posix::PutMessagePacket(packet, ServerMessage{msg, wParam, lParam, CurrentProcessId()});
  std::uint32_t result = 0;
  Step step = ConnectBy(fd, address, deadline);
  if (step == Step::Done) step = SendBy(fd, packet, sizeof packet, deadline);
  if (step == Step::Done) step = ReceiveReply(fd, &result, deadline);
  close(fd);
  if (step != Step::Done) {
    SetLastError(step == Step::TimedOut ? kErrorTimeout : kErrorInvalidWindowHandle);
    return false;
  }
  if (reply != nullptr) *reply = result;
  return true;
}

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
  return static_cast<std::uint32_t>(getpid());
}

}  // namespace platform
