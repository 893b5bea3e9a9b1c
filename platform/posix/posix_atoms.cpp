// Global atoms: R/atoms/HHHH holding the name. A fresh atom file is written in full under a
// private name and then linked to the first free value, so no reader ever sees it half-written
// and two processes adding at once never get the same value.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ipc.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_private_file.h"
#include "platform/posix/posix_root.h"
#include "platform/posix/posix_window_socket.h"

namespace platform {
namespace {

constexpr std::uint32_t kFirstAtom = 0xC000;
constexpr std::uint32_t kLastAtom = 0xFFFF;

void AtomPath(const std::string& dir, std::uint32_t atom, char* path, std::size_t size) {
  std::snprintf(path, size, "%s/%04X", dir.c_str(), static_cast<unsigned>(atom));
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

struct FreshAtom {
  const std::string& dir;
  const char* name;
};

bool WriteName(int fd, const void* context) {
  const char* name = static_cast<const FreshAtom*>(context)->name;
  return WriteAll(fd, name, std::strlen(name));
}

// The atoms in order: the first free one is taken.
bool AtomName(std::uint32_t index, const void* context, std::string* path) {
  if (kFirstAtom + index > kLastAtom) return false;
  char file[4096];
  AtomPath(static_cast<const FreshAtom*>(context)->dir, kFirstAtom + index, file, sizeof file);
  *path = file;
  return true;
}

}  // namespace

std::uint16_t AddGlobalAtom(const char* name) {
  if (name == nullptr || name[0] == '\0' || strnlen(name, 256) > 255) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  const std::string dir = posix::NamespaceDir("atoms");
  if (dir.empty()) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  const FreshAtom fresh{dir, name};
  std::uint32_t taken = 0;
  const int fd = posix::CreatePrivateFile(dir, WriteName, AtomName, &fresh, &taken);
  if (fd < 0) {
    // Every value taken: the table is full.
    SetLastError(errno == EEXIST ? kErrorNotEnoughMemory : posix::ErrorFromErrno(errno));
    return 0;
  }
  close(fd);
  return static_cast<std::uint16_t>(kFirstAtom + taken);
}

void DeleteGlobalAtom(std::uint16_t atom) {
  if (atom < kFirstAtom) return;
  // A server may still hold what this atom named for one of our connections.
  posix::EndWindowConnections();
  const std::string dir = posix::NamespaceDir("atoms");
  if (dir.empty()) return;
  char path[4096];
  AtomPath(dir, atom, path, sizeof path);
  unlink(path);
}

std::uint32_t GetGlobalAtomName(std::uint16_t atom, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  buffer[0] = '\0';
  const std::string dir = atom >= kFirstAtom ? posix::NamespaceDir("atoms") : std::string();
  if (dir.empty()) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  char path[4096];
  AtomPath(dir, atom, path, sizeof path);
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  // A name is at most 255 bytes; anything longer in the file is not part of it.
  char name[255];
  std::size_t length = 0;
  while (length < sizeof name) {
    const ssize_t got = read(fd, name + length, sizeof name - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<std::size_t>(got);
  }
  close(fd);
  if (length == 0) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  const std::size_t copied = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, name, copied);
  buffer[copied] = '\0';
  return static_cast<std::uint32_t>(copied);
}

}  // namespace platform
