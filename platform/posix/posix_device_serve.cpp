// The serving thread of a device on POSIX: one poll of the three listeners and the openers'
// connections at a time; each open is answered with its byte, PIPE01's packets are taken.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/device_server.h"
#include "platform/posix/posix_device_server.h"
#include "platform/posix/posix_device_socket.h"

namespace platform {

namespace {

using posix::kDeviceOpeners;

void Tell(DeviceServer& s, DeviceChannel channel, DeviceEvent event) {
  if (s.setup.event != nullptr) s.setup.event(s.setup.context, channel, event);
}

// Shut down first: a sender's duplicate of PIPE00's fd must not keep the connection alive.
void EndConnection(DeviceServer& s, int& fd, DeviceChannel channel, bool told) {
  shutdown(fd, SHUT_RDWR);
  if (channel == DeviceChannel::ReadPipe) {
    std::lock_guard<std::mutex> hold(s.sendLock);
    s.readOpen.store(false);
    close(fd);
    fd = -1;
  } else {
    close(fd);
    fd = -1;
  }
  if (told) Tell(s, channel, DeviceEvent::Closed);
}

// One frame from PIPE01's opener, or its close.
void TakeFrame(DeviceServer& s) {
  std::uint8_t frame[kServedFrameBytes];
  const ssize_t n = recv(s.writeConn, frame, sizeof frame, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    EndConnection(s, s.writeConn, DeviceChannel::WritePipe, true);
    return;
  }
  if (s.setup.frame != nullptr)
    s.setup.frame(s.setup.context, frame, static_cast<std::uint32_t>(n));
}

// Nothing is expected from the device's and PIPE00's openers: only their close matters.
void Watch(DeviceServer& s, int& fd, DeviceChannel channel) {
  std::uint8_t bytes[kServedFrameBytes];
  const ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) EndConnection(s, fd, channel, true);
}

void Take(DeviceServer& s, int& fd, DeviceChannel channel) {
  if (channel == DeviceChannel::WritePipe) {
    TakeFrame(s);
  } else {
    Watch(s, fd, channel);
  }
}

// True once the opener has closed its end. The opener's close is complete when its call returns
// (the layer shuts the socket down), so this is already true when its next open arrives, even
// if this thread has not yet woken for the close.
bool OpenerGone(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  int rc;
  do {
    rc = poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc == 1 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

// Takes in what a gone opener still sent and sees its close, as the loop would have.
void Settle(DeviceServer& s, int& fd, DeviceChannel channel) {
  if (channel == DeviceChannel::WritePipe && s.held.load()) return;
  while (fd >= 0 && OpenerGone(fd)) Take(s, fd, channel);
}

// Where a new opener of `channel` goes: null when the channel has its openers.
int* FreeSlot(DeviceServer& s, DeviceChannel channel) {
  if (channel == DeviceChannel::ReadPipe) return s.readConn < 0 ? &s.readConn : nullptr;
  if (channel == DeviceChannel::WritePipe) return s.writeConn < 0 ? &s.writeConn : nullptr;
  for (int& conn : s.device) {
    if (conn < 0) return &conn;
  }
  return nullptr;
}

bool Answer(int fd, unsigned char byte) {
  return send(fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
}

void Accept(DeviceServer& s, DeviceChannel channel) {
  const int c = static_cast<int>(channel);
  const int fd = accept4(s.listeners[c], nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // A reopen may come in the same wake-up as the close before it: the close counts first, as
  // on Windows, where a pipe is free again once CloseHandle has returned.
  if (channel == DeviceChannel::Device) {
    for (int& conn : s.device) Settle(s, conn, channel);
  } else {
    Settle(s, channel == DeviceChannel::ReadPipe ? s.readConn : s.writeConn, channel);
  }
  int* slot = FreeSlot(s, channel);
  if (s.setup.refuse[c] || slot == nullptr || !Answer(fd, posix::kOpenTaken)) {
    Answer(fd, posix::kOpenRefused);
    close(fd);
    Tell(s, channel, DeviceEvent::Refused);
    return;
  }
  if (channel == DeviceChannel::ReadPipe) {
    std::lock_guard<std::mutex> hold(s.sendLock);
    *slot = fd;
    s.readOpen.store(true);
  } else {
    *slot = fd;
  }
  Tell(s, channel, DeviceEvent::Opened);
}

void DropAll(DeviceServer& s) {
  s.drop.store(false);
  for (int& conn : s.device) {
    if (conn >= 0) EndConnection(s, conn, DeviceChannel::Device, true);
  }
  if (s.readConn >= 0) EndConnection(s, s.readConn, DeviceChannel::ReadPipe, true);
  if (s.writeConn >= 0) EndConnection(s, s.writeConn, DeviceChannel::WritePipe, true);
}

void DrainWake(int fd) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
}

// One wait for the wake pipe, the listeners and the connections, and what it brought. A drop
// asked for by a handler ends the round: the fds it polled are gone.
void ServeOnce(DeviceServer& s) {
  constexpr int kMost = 1 + kDeviceChannels + kDeviceOpeners + 2;
  pollfd fds[kMost];
  int* owners[kMost] = {};
  DeviceChannel channels[kMost] = {};
  nfds_t count = 0;
  fds[count++] = {s.wakeRead, POLLIN, 0};
  for (int listener : s.listeners) fds[count++] = {listener, POLLIN, 0};
  auto watch = [&](int& fd, DeviceChannel channel) {
    if (fd < 0) return;
    owners[count] = &fd;
    channels[count] = channel;
    fds[count++] = {fd, POLLIN, 0};
  };
  for (int& conn : s.device) watch(conn, DeviceChannel::Device);
  watch(s.readConn, DeviceChannel::ReadPipe);
  if (!s.held.load()) watch(s.writeConn, DeviceChannel::WritePipe);
  if (poll(fds, count, -1) < 0) return;  // EINTR; nothing else can fail on these fds
  if (fds[0].revents != 0) DrainWake(s.wakeRead);
  if (s.stop.load()) return;
  if (s.drop.load()) return DropAll(s);
  for (int c = 0; c < kDeviceChannels; ++c) {
    if (fds[1 + c].revents & POLLIN) Accept(s, static_cast<DeviceChannel>(c));
    if (s.drop.load()) return DropAll(s);
  }
  for (nfds_t i = 1 + kDeviceChannels; i < count; ++i) {
    if (fds[i].revents == 0 || *owners[i] != fds[i].fd) continue;  // ended meanwhile
    Take(s, *owners[i], channels[i]);
    if (s.drop.load()) return DropAll(s);
  }
}

}  // namespace

namespace posix {

void ServeDevice(DeviceServer& s) {
  while (!s.stop.load()) ServeOnce(s);
}

void EndDeviceConnections(DeviceServer& s) {
  for (int& conn : s.device) {
    if (conn >= 0) EndConnection(s, conn, DeviceChannel::Device, false);
  }
  if (s.readConn >= 0) EndConnection(s, s.readConn, DeviceChannel::ReadPipe, false);
  if (s.writeConn >= 0) EndConnection(s, s.writeConn, DeviceChannel::WritePipe, false);
}

void WakeDeviceServer(DeviceServer& s) {
  const char byte = 1;
  // A full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t written = write(s.wakeWrite, &byte, 1);
}

}  // namespace posix

}  // namespace platform
