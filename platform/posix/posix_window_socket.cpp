#include "platform/posix/posix_window_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ipc.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_root.h"

namespace platform::posix {
namespace {

void PutU32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t GetU32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

bool WindowSocketAddress(const char* className, sockaddr_un* address, std::uint32_t* error) {
  if (!IsObjectName(className)) {
    *error = kErrorInvalidName;
    return false;
  }
  const std::string dir = NamespaceDir("windows");
  if (dir.empty()) {
    *error = kErrorAccessDenied;
    return false;
  }
  const std::size_t length = dir.size() + 1 + std::strlen(className);
  if (length >= sizeof address->sun_path) {
    *error = kErrorFilenameTooLong;
    return false;
  }
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, dir.data(), dir.size());
  address->sun_path[dir.size()] = '/';
  std::memcpy(address->sun_path + dir.size() + 1, className, std::strlen(className));
  return true;
}

WindowState ProbeWindowSocket(const sockaddr_un& address) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return WindowState::None;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  const int err = rc == 0 ? 0 : errno;
  close(fd);
  if (rc == 0 || err == EAGAIN) return WindowState::Live;
  // A socket file without a listener refuses; so does a socket of another type there.
  if (err == ECONNREFUSED || err == EPROTOTYPE) return WindowState::Stale;
  return WindowState::None;
}

void PutMessagePacket(unsigned char (&packet)[kMessagePacketSize], const ServerMessage& message) {
  PutU32(packet, message.msg);
  PutU32(packet + 4, message.wParam);
  PutU32(packet + 8, message.lParam);
  PutU32(packet + 12, message.senderPid);
}

ServerMessage GetMessagePacket(const unsigned char* packet) {
  return ServerMessage{GetU32(packet), GetU32(packet + 4), GetU32(packet + 8), GetU32(packet + 12)};
}

void PutReplyPacket(unsigned char (&packet)[kReplyPacketSize], std::uint32_t result) {
  PutU32(packet, result);
  PutU32(packet + 4, 0);
}

std::uint32_t GetReplyPacket(const unsigned char* packet) {
  return GetU32(packet);
}

}  // namespace platform::posix
