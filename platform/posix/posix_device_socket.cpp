#include "platform/posix/posix_device_socket.h"

#include <sys/file.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform::posix {

std::string ClassEntriesDir(const DeviceClassGuid& g) {
  char text[48];
  std::snprintf(text, sizeof text, "devices/{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool DeviceSocketAddress(const char* path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  const std::size_t length = std::strlen(path);
  if (length >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path, length);
  return true;
}

// If we can take it exclusively, no one holds it.
bool EntryHeld(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

}  // namespace platform::posix
