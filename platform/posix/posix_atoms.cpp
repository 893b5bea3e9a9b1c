// Global atoms: R/atoms/HHHH holding the name. A fresh atom file is written in full under a
// private name and then linked to the first free value, so no reader ever sees it half-written
// and two processes adding at once never get the same value. The process that added an atom
// holds a shared flock on its file until it deletes it: an atom that nobody holds was left by a
// process that no longer exists, and its value is free again (posix_private_file.h).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
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

// The fd (+ 1; 0: none) by which this process holds each atom it added.
std::mutex HeldLock;
int HeldAtoms[kLastAtom - kFirstAtom + 1];

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

// The name, and the hold of its adder, before anyone can find it.
bool WriteName(int fd, const void* context) {
  const char* name = static_cast<const FreshAtom*>(context)->name;
  return WriteAll(fd, name, std::strlen(name)) && flock(fd, LOCK_SH) == 0;
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
  {
    std::lock_guard<std::mutex> hold(HeldLock);
    // An atom of ours under this value that another process deleted: ours no longer.
    if (HeldAtoms[taken] != 0) close(HeldAtoms[taken] - 1);
    HeldAtoms[taken] = fd + 1;
  }
  return static_cast<std::uint16_t>(kFirstAtom + taken);
}

void DeleteGlobalAtom(std::uint16_t atom) {
  if (atom < kFirstAtom) return;
  // A server may still hold what this atom named for one of our connections.
  posix::EndWindowConnections();
  int held = -1;
  {
    std::lock_guard<std::mutex> hold(HeldLock);
    held = HeldAtoms[atom - kFirstAtom] - 1;
    HeldAtoms[atom - kFirstAtom] = 0;
  }
  // Ours or another process's: Windows lets any process delete a global atom.
  const std::string dir = posix::NamespaceDir("atoms");
  if (!dir.empty()) {
    char path[4096];
    AtomPath(dir, atom, path, sizeof path);
    unlink(path);
  }
  if (held >= 0) close(held);
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
