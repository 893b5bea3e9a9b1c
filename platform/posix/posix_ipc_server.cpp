// The serving side of a window: a SOCK_SEQPACKET listener at R/windows/<class>. Each sender
// keeps its connection and sends its messages on it one after the other; the messages of all
// connections are handled one at a time, as one window procedure would.
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

namespace {

constexpr int kConnections = 16;

struct Connection {
  int fd = -1;
  std::uint32_t id = 0;
  bool spoke = false;               // a whole message came: the 2 s start rule is over
  bool held = false;                // its message is unanswered: wait for the sender to go
  std::uint64_t silentUntilMs = 0;  // dropped past this time unless it has spoken
};

}  // namespace

struct ServerWindow {
  bool used = false;
  int listener = -1;
  int wakeRead = -1;  // self-pipe: RequestServerStop writes, the serving poll wakes
  int wakeWrite = -1;
  std::atomic<bool> stop{false};
  ServerHandler handler = nullptr;
  ServerConnectionEnd end = nullptr;
  void* context = nullptr;
  Connection connections[kConnections];
  std::uint32_t lastConnectionId = 0;
  sockaddr_un address{};
  dev_t socketDevice = 0;  // the socket file we bound, so we only ever remove our own
  ino_t socketInode = 0;
};

namespace {

constexpr int kServerWindows = 8;
constexpr int kBacklog = 64;
static_assert(kConnections + 2 <= 64, "the poll set is on the stack");
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
      window.end = nullptr;
      for (Connection& connection : window.connections) connection = Connection{};
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
  Answered,    // the reply went back: the connection stays for the next message
  Unanswered,  // the handler holds the sender
  Finished,    // the sender's end, or a malformed packet: the connection goes
};

// Reads a packet of a connection and lets the handler answer it.
Served ServePacket(ServerWindow* window, Connection& connection) {
  // One byte more than a packet, so an oversized packet shows as malformed.
  unsigned char packet[posix::kMessagePacketSize + 1];
  const ssize_t got = recv(connection.fd, packet, sizeof packet, MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Served::NotYet;
  if (got != static_cast<ssize_t>(posix::kMessagePacketSize)) return Served::Finished;
  connection.spoke = true;
  ServerMessage message = posix::GetMessagePacket(packet);
  message.connection = connection.id;
  std::uint32_t result = 0;
  if (!window->handler(window->context, message, &result)) return Served::Unanswered;
  unsigned char reply[posix::kReplyPacketSize];
  posix::PutReplyPacket(reply, result);
  // The sender may have given up already; its loss is not the server's failure.
  if (send(connection.fd, reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
      errno != EAGAIN) {
    return Served::Finished;
  }
  return Served::Answered;
}

// The handler lets go of what it kept first: the sender takes our close as the sign of that.
void EndConnection(ServerWindow* window, Connection& connection) {
  if (connection.spoke && window->end != nullptr) window->end(window->context, connection.id);
  close(connection.fd);
  connection = Connection{};
}

void EndAllConnections(ServerWindow* window) {
  for (Connection& connection : window->connections) {
    if (connection.fd >= 0) EndConnection(window, connection);
  }
}

// Takes the next sender into a free slot. False on a system error.
bool AcceptOne(ServerWindow* window, Connection& slot) {
  const int fd = accept4(window->listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd >= 0) {
    slot.fd = fd;
    slot.id =
        ++window->lastConnectionId == 0 ? ++window->lastConnectionId : window->lastConnectionId;
    slot.silentUntilMs = posix::MonotonicMs() + kFirstPacketMs;
    return true;
  }
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

// A connection with something to read: its next message, its end, or (while its message is
// held) anything at all, which ends it.
void Serve(ServerWindow* window, Connection& connection) {
  if (connection.held) {
    EndConnection(window, connection);
    return;
  }
  switch (ServePacket(window, connection)) {
    case Served::NotYet:
    case Served::Answered:
      break;
    case Served::Unanswered:
      connection.held = true;
      break;
    case Served::Finished:
      EndConnection(window, connection);
      break;
  }
}

// One wait for the wake pipe, the listener (while a slot is free) and every connection, and
// what it brought. False on a system error.
bool ServeOnce(ServerWindow* window) {
  pollfd fds[kConnections + 2];
  Connection* owners[kConnections + 2] = {};
  nfds_t count = 0;
  fds[count++] = {window->wakeRead, POLLIN, 0};
  Connection* freeSlot = nullptr;
  std::uint64_t firstSilence = 0;
  for (Connection& connection : window->connections) {
    if (connection.fd < 0) {
      if (freeSlot == nullptr) freeSlot = &connection;
      continue;
    }
    if (!connection.spoke && (firstSilence == 0 || connection.silentUntilMs < firstSilence))
      firstSilence = connection.silentUntilMs;
    owners[count] = &connection;
    fds[count++] = {connection.fd, POLLIN, 0};
  }
  const nfds_t listenerAt = count;
  if (freeSlot != nullptr) fds[count++] = {window->listener, POLLIN, 0};
  const int timeout = firstSilence == 0 ? -1 : posix::PollTimeoutUntil(firstSilence);
  const int ready = poll(fds, count, timeout);
  if (ready < 0) {
    if (errno == EINTR) return true;
    SetLastError(posix::ErrorFromErrno(errno));
    return false;
  }
  if (fds[0].revents != 0) {
    DrainWake(window->wakeRead);
    return true;
  }
  for (nfds_t i = 1; i < listenerAt && !window->stop.load(); ++i) {
    if (fds[i].revents != 0) Serve(window, *owners[i]);
  }
  // Senders silent since they connected: dropped so they cannot hold a slot from everyone else.
  const std::uint64_t now = posix::MonotonicMs();
  for (Connection& connection : window->connections) {
    if (connection.fd >= 0 && !connection.spoke && now >= connection.silentUntilMs)
      EndConnection(window, connection);
  }
  if (freeSlot != nullptr && fds[listenerAt].revents != 0 && !window->stop.load())
    return AcceptOne(window, *freeSlot);
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
  bool ok = true;
  while (ok && !window->stop.load()) ok = ServeOnce(window);
  EndAllConnections(window);
  return ok;
}

void SetServerConnectionEnd(ServerWindow* window, ServerConnectionEnd end) {
  if (window != nullptr) window->end = end;
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
