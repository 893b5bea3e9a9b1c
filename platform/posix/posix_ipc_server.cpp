// The serving side of a window: a SOCK_SEQPACKET listener at R/windows/<class>. One connection
// carries one message; connections are served one at a time, as one window procedure would.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/ipc.h"
#include "platform/ipc_server.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_root.h"
#include "platform/posix/posix_window_socket.h"

namespace platform {

struct ServerWindow {
  bool used = false;
  int listener = -1;
  int wakeRead = -1;  // self-pipe: RequestServerStop writes, the serving poll wakes
  int wakeWrite = -1;
  std::atomic<bool> stop{false};
  ServerHandler handler = nullptr;
  void* context = nullptr;
  sockaddr_un address{};
  dev_t socketDevice = 0;  // the socket file we bound, so we only ever remove our own
  ino_t socketInode = 0;
};

namespace {

constexpr int kServerWindows = 8;
constexpr int kBacklog = 64;
// A sender writes its packet right after connecting; a connection silent this long is
// dropped so it cannot hold the window from everyone else.
constexpr int kFirstPacketMs = 2000;

std::mutex PoolLock;
ServerWindow Pool[kServerWindows];

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

ServerWindow* TakeSlot() {
  std::lock_guard<std::mutex> hold(PoolLock);
  for (ServerWindow& window : Pool) {
    if (!window.used) {
      window.used = true;
      window.listener = window.wakeRead = window.wakeWrite = -1;
      window.stop.store(false);
      return &window;
    }
  }
  return nullptr;
}

void FreeSlot(ServerWindow* window) {
  CloseFd(&window->listener);
  CloseFd(&window->wakeRead);
  CloseFd(&window->wakeWrite);
  std::lock_guard<std::mutex> hold(PoolLock);
  window->used = false;
}

// Binds and listens at the window's address. Creators of the same class are serialised by a
// lock on the windows directory, so two of them never both take a stale file for their own.
std::uint32_t Listen(ServerWindow* window) {
  const std::string dir = posix::NamespaceDir("windows");
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return posix::ErrorFromErrno(errno);
  flock(dirFd, LOCK_EX);
  std::uint32_t error = 0;
  const sockaddr* address = reinterpret_cast<const sockaddr*>(&window->address);
  const char* path = window->address.sun_path;
  window->listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (window->listener < 0) {
    error = posix::ErrorFromErrno(errno);
  } else if (bind(window->listener, address, sizeof window->address) != 0) {
    if (errno != EADDRINUSE) {
      error = posix::ErrorFromErrno(errno);
    } else if (posix::ProbeWindowSocket(window->address) == posix::WindowState::Live) {
      error = kErrorClassAlreadyExists;
    } else if (unlink(path) != 0 || bind(window->listener, address, sizeof window->address) != 0) {
      // A stale file: its server died without removing it.
      error = posix::ErrorFromErrno(errno);
    }
  }
  struct stat st {};
  if (error == 0 && (chmod(path, 0600) != 0 || lstat(path, &st) != 0)) {
    error = posix::ErrorFromErrno(errno);
  }
  if (error == 0) {
    window->socketDevice = st.st_dev;
    window->socketInode = st.st_ino;
    if (listen(window->listener, kBacklog) != 0) {
      error = posix::ErrorFromErrno(errno);
      unlink(path);
    }
  }
  close(dirFd);
  return error;
}

void DrainWake(int fd) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
}

// What became of a connection's packet.
enum class Served {
  NotYet,      // nothing to read after all
  Unanswered,  // the handler holds the sender
  Finished,    // answered, or malformed: the connection goes
};

// Reads the packet of a connection and lets the handler answer it.
Served ServePacket(ServerWindow* window, int connection) {
  // One byte more than a packet, so an oversized packet shows as malformed.
  unsigned char packet[posix::kMessagePacketSize + 1];
  const ssize_t got = recv(connection, packet, sizeof packet, MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Served::NotYet;
  if (got != static_cast<ssize_t>(posix::kMessagePacketSize)) return Served::Finished;
  std::uint32_t result = 0;
  if (!window->handler(window->context, posix::GetMessagePacket(packet), &result)) {
    return Served::Unanswered;
  }
  unsigned char reply[posix::kReplyPacketSize];
  posix::PutReplyPacket(reply, result);
  // The sender may have given up already; its loss is not the server's failure.
  send(connection, reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
  return Served::Finished;
}

// What a wait for the wake pipe and one descriptor saw.
enum class Ready {
  Again,     // the wake pipe (drained) or a signal: look at the stop flag, then wait again
  Fd,        // the descriptor is readable, or at its end
  TimedOut,  // nothing within the time
  Failed,    // poll failed; LastError set
};

Ready WaitFor(ServerWindow* window, int fd, int timeoutMs) {
  pollfd fds[2] = {{window->wakeRead, POLLIN, 0}, {fd, POLLIN, 0}};
  const int ready = poll(fds, 2, timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return Ready::Again;
    SetLastError(posix::ErrorFromErrno(errno));
    return Ready::Failed;
  }
  if (ready == 0) return Ready::TimedOut;
  if (fds[0].revents != 0) {
    DrainWake(window->wakeRead);
    return Ready::Again;
  }
  return Ready::Fd;
}

// Waits for the next sender and takes its connection into *connection: -1 when there is none
// to take this time (a wake, a signal, a moment without descriptors). False on a system error.
bool AcceptOne(ServerWindow* window, int* connection) {
  *connection = -1;
  const Ready ready = WaitFor(window, window->listener, -1);
  if (ready != Ready::Fd) return ready != Ready::Failed;
  *connection = accept4(window->listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (*connection >= 0) return true;
  if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
    // Out of descriptors for a moment: the sender waits in the backlog, we retry.
    const timespec pause{0, 10000000};
    nanosleep(&pause, nullptr);
    return true;
  }
  if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return true;
  SetLastError(posix::ErrorFromErrno(errno));
  return false;
}

// Serves one connection until it can go: its packet answered (or malformed), silent past its
// time, its sender gone after an unanswered packet (or sending more), or a stop. The caller
// closes it. False on a system error.
bool ServeOne(ServerWindow* window, int connection) {
  const std::uint64_t packetDeadline = posix::MonotonicMs() + kFirstPacketMs;
  bool unanswered = false;  // the handler holds the sender: wait for it to give up
  while (!window->stop.load()) {
    const int timeout = unanswered ? -1 : posix::PollTimeoutUntil(packetDeadline);
    const Ready ready = WaitFor(window, connection, timeout);
    if (ready == Ready::Failed) return false;
    if (ready == Ready::Again) continue;
    // Silent past its time; or, with the one message held, anything more or the end.
    if (ready == Ready::TimedOut || unanswered) return true;
    const Served served = ServePacket(window, connection);
    if (served == Served::Finished) return true;
    unanswered = served == Served::Unanswered;
  }
  return true;
}

}  // namespace

ServerWindow* CreateServerWindow(const char* className, ServerHandler handler, void* context) {
  if (handler == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  ServerWindow* window = TakeSlot();
  if (window == nullptr) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  window->handler = handler;
  window->context = context;
  std::uint32_t error = 0;
  if (!posix::WindowSocketAddress(className, &window->address, &error) ||
      (error = Listen(window)) != 0) {
    FreeSlot(window);
    SetLastError(error);
    return nullptr;
  }
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetLastError(posix::ErrorFromErrno(errno));
    DestroyServerWindow(window);
    return nullptr;
  }
  window->wakeRead = wake[0];
  window->wakeWrite = wake[1];
  return window;
}

bool RunServerWindow(ServerWindow* window) {
  if (window == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  while (!window->stop.load()) {
    int connection = -1;
    if (!AcceptOne(window, &connection)) return false;
    if (connection < 0) continue;
    const bool served = ServeOne(window, connection);
    close(connection);
    if (!served) return false;
  }
  return true;
}

void RequestServerStop(ServerWindow* window) {
  if (window == nullptr) return;
  const int savedErrno = errno;
  window->stop.store(true);
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing else can go wrong that matters here.
  [[maybe_unused]] const ssize_t written = write(window->wakeWrite, &byte, 1);
  errno = savedErrno;
}

bool ServerStopRequested(const ServerWindow* window) {
  return window != nullptr && window->stop.load();
}

void DestroyServerWindow(ServerWindow* window) {
  if (window == nullptr) return;
  struct stat st {};
  if (window->listener >= 0 && lstat(window->address.sun_path, &st) == 0 &&
      st.st_dev == window->socketDevice && st.st_ino == window->socketInode) {
    unlink(window->address.sun_path);
  }
  FreeSlot(window);
}

}  // namespace platform
