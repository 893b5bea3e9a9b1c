// A device server on POSIX: its sockets and entry as docs/posix-platform.md lays them out, the
// frames it sends on PIPE00, and its end. The serving itself is posix_device_serve.cpp's.
#include "platform/posix/posix_device_server.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/device_server.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_device_socket.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_root.h"

namespace platform {

const std::uint32_t kRefusedOpenError = kErrorSharingViolation;

namespace {

constexpr std::size_t kMaxUnitName = 64;
constexpr int kBacklog = 8;
const char* const kChannelSuffix[kDeviceChannels] = {"", "\\PIPE00", "\\PIPE01"};

// Why a start failed: the layer, what failed and the system's text; LastError gets `code`.
bool Fail(char* why, std::size_t whySize, std::uint32_t code, const char* format, ...) {
  if (why != nullptr && whySize > 0) {
    const int used = std::snprintf(why, whySize, "POSIX: ");
    va_list args;
    va_start(args, format);
    if (used >= 0 && static_cast<std::size_t>(used) < whySize)
      std::vsnprintf(why + used, whySize - static_cast<std::size_t>(used), format, args);
    va_end(args);
  }
  SetLastError(code);
  return false;
}

// A system call on `object` failed with errno.
bool FailCall(char* why, std::size_t whySize, const char* call, const std::string& object) {
  const int err = errno;
  return Fail(why, whySize, posix::ErrorFromErrno(err), "%s %s failed: %s (errno %d)", call,
              object.c_str(), std::strerror(err), err);
}

bool ValidUnit(const std::string& unit) {
  return posix::IsObjectName(unit.c_str()) && unit.size() <= kMaxUnitName && unit[0] != '.' &&
         unit.find('\\') == std::string::npos;
}

// The channels' paths, and the entry's when published; a live published server of the name
// already there is refused.
bool MakePaths(DeviceServer& s, char* why, std::size_t whySize) {
  const std::string usb = posix::NamespaceDir("usb");
  const std::string classDir =
      s.setup.publish ? posix::NamespaceDir(posix::ClassEntriesDir(s.setup.interfaceClass).c_str())
                      : usb;
  if (usb.empty() || classDir.empty())
    return Fail(why, whySize, kErrorAccessDenied, "the namespace directories cannot be made");
  for (int c = 0; c < kDeviceChannels; ++c) s.paths[c] = usb + "/" + s.unit + kChannelSuffix[c];
  if (!s.setup.publish) return true;
  s.entryPath = classDir + "/" + s.unit;
  const int fd = open(s.entryPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  const bool present = fd >= 0 && posix::EntryHeld(fd);
  if (fd >= 0) close(fd);
  if (present)
    return Fail(why, whySize, kErrorAlreadyExists, "unit %s is already present", s.unit.c_str());
  return true;
}

int Listen(const std::string& path, char* why, std::size_t whySize) {
  sockaddr_un address;
  if (!posix::DeviceSocketAddress(path.c_str(), &address)) {
    Fail(why, whySize, kErrorFilenameTooLong, "socket path too long (%zu bytes): %s", path.size(),
         path.c_str());
    return -1;
  }
  unlink(path.c_str());  // a stale socket of a server that died; a live one was ruled out
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const char* call = fd < 0 ? "socket"
                     : bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ? "bind"
                     : chmod(path.c_str(), 0600) != 0 ? "chmod"
                     : listen(fd, kBacklog) != 0      ? "listen"
                                                      : nullptr;
  if (call == nullptr) return fd;
  FailCall(why, whySize, call, path);
  if (fd >= 0) close(fd);
  return -1;
}

// The entry is made under a dot name, locked, then renamed into place: no one ever sees it
// unlocked.
bool Publish(DeviceServer& s, char* why, std::size_t whySize) {
  const std::size_t slash = s.entryPath.rfind('/');
  const std::string temp =
      s.entryPath.substr(0, slash + 1) + "." + s.unit + "." + std::to_string(getpid());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return FailCall(why, whySize, "open", temp);
  const std::string& path = s.paths[0];
  const char* call = fchmod(fd, 0600) != 0     ? "fchmod"
                     : flock(fd, LOCK_EX) != 0 ? "flock"
                     : write(fd, path.data(), path.size()) != static_cast<ssize_t>(path.size())
                         ? "write"
                     : rename(temp.c_str(), s.entryPath.c_str()) != 0 ? "rename"
                                                                      : nullptr;
  if (call == nullptr) {
    s.entryFd = fd;
    return true;
  }
  FailCall(why, whySize, call, temp);
  unlink(temp.c_str());
  close(fd);
  return false;
}

bool MakeChannels(DeviceServer& s, char* why, std::size_t whySize) {
  for (int c = 0; c < kDeviceChannels; ++c) {
    s.listeners[c] = Listen(s.paths[c], why, whySize);
    if (s.listeners[c] < 0) return false;
  }
  if (s.setup.publish && !Publish(s, why, whySize)) return false;
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return FailCall(why, whySize, "pipe2", "(wake)");
  s.wakeRead = wake[0];
  s.wakeWrite = wake[1];
  return true;
}

// Removes what the server made: the entry first, so no one finds a unit that no longer serves.
void Unmake(DeviceServer& s) {
  if (s.entryFd >= 0) {
    unlink(s.entryPath.c_str());
    close(s.entryFd);
  }
  for (int c = 0; c < kDeviceChannels; ++c) {
    if (s.listeners[c] < 0) continue;
    close(s.listeners[c]);
    unlink(s.paths[c].c_str());
  }
  for (int fd : {s.wakeRead, s.wakeWrite}) {
    if (fd >= 0) close(fd);
  }
}

// Until the opener has read all that was sent on `fd` (nothing waits in the socket any more and
// its end is still there), or `deadline` passes.
bool ReadByDeadline(int fd, std::uint64_t deadline) {
  for (;;) {
    int waiting = 0;
    if (ioctl(fd, SIOCOUTQ, &waiting) != 0) return false;
    if (waiting == 0) {
      pollfd p{fd, POLLRDHUP, 0};
      return poll(&p, 1, 0) == 0;
    }
    if (posix::MonotonicMs() >= deadline) return false;
    usleep(1000);
  }
}

}  // namespace

DeviceServer* StartDeviceServer(const DeviceServerSetup& setup, char* why, std::size_t whySize) {
  auto s = std::make_unique<DeviceServer>();
  s->setup = setup;
  s->unit = setup.unit != nullptr ? setup.unit : "";
  s->setup.unit = s->unit.c_str();
  if (!ValidUnit(s->unit)) {
    Fail(why, whySize, kErrorInvalidName,
         "bad unit name \"%s\" (no '/', '\\' or leading '.', at most 64 bytes)", s->unit.c_str());
    return nullptr;
  }
  if (!MakePaths(*s, why, whySize) || !MakeChannels(*s, why, whySize)) {
    const std::uint32_t code = LastError();
    Unmake(*s);
    SetLastError(code);
    return nullptr;
  }
  s->thread = std::thread(posix::ServeDevice, std::ref(*s));
  return s.release();
}

const char* DeviceServerPath(const DeviceServer* server) {
  return server->paths[0].c_str();
}

bool DeviceReadPipeOpen(const DeviceServer* server) {
  return server->readOpen.load();
}

bool SendDeviceFrame(DeviceServer* server, const void* frame, std::uint32_t size,
                     std::uint32_t waitMs) {
  if (size == 0 || size > kServedFrameBytes) return false;
  int fd = -1;
  {
    std::lock_guard<std::mutex> hold(server->sendLock);
    if (server->readConn < 0) return false;
    const ssize_t sent = send(server->readConn, frame, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(size)) return false;
    if (waitMs == 0) return true;
    fd = fcntl(server->readConn, F_DUPFD_CLOEXEC, 0);  // the serving thread may end it meanwhile
  }
  if (fd < 0) return false;
  const bool read = ReadByDeadline(fd, posix::MonotonicMs() + waitMs);
  close(fd);
  return read;
}

void HoldDeviceFrames(DeviceServer* server, bool held) {
  server->held.store(held);
  posix::WakeDeviceServer(*server);
}

void DropDeviceConnections(DeviceServer* server) {
  server->drop.store(true);
  posix::WakeDeviceServer(*server);
}

void StopDeviceServer(DeviceServer* server) {
  if (server == nullptr) return;
  server->stop.store(true);
  posix::WakeDeviceServer(*server);
  server->thread.join();
  posix::EndDeviceConnections(*server);
  Unmake(*server);
  delete server;
}

}  // namespace platform
