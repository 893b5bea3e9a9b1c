#include "platform/posix/posix_private_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {
namespace {

// Links `temp` to the first free name; EEXIST once every name was tried.
bool LinkToFirstFree(const std::string& temp, NameFile nameAt, const void* context,
                     std::uint32_t* taken) {
  std::string path;
  for (std::uint32_t index = 0; nameAt(index, context, &path); ++index) {
    bool linked = link(temp.c_str(), path.c_str()) == 0;
    if (!linked && errno != EEXIST) return false;
    // Taken by processes that are gone: theirs no longer.
    if (!linked && RemoveIfAbandoned(path.c_str())) linked = link(temp.c_str(), path.c_str()) == 0;
    if (linked) {
      if (taken != nullptr) *taken = index;
      return true;
    }
  }
  errno = EEXIST;
  return false;
}

}  // namespace

bool NamesFile(const char* path, int fd) {
  struct stat named {
  }, held{};
  return lstat(path, &named) == 0 && fstat(fd, &held) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

bool RemoveIfAbandoned(const char* path) {
  const int err = errno;  // left as it was
  // Non-blocking: a FIFO planted under the name must not hold the open up.
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    errno = err;
    return false;
  }
  struct stat st {};
  bool removed = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      NamesFile(path, fd)) {
    removed = unlink(path) == 0;
  }
  close(fd);
  errno = err;
  return removed;
}

void RemoveAbandonedIn(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') RemoveIfAbandoned((dir + "/" + e->d_name).c_str());
  }
  closedir(d);
}

int CreatePrivateFile(const std::string& dir, PrepareFile prepare, NameFile nameAt,
                      const void* context, std::uint32_t* taken) {
  std::string temp = dir + "/.korvan-new-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  bool made = fchmod(fd, 0600) == 0 && (prepare == nullptr || prepare(fd, context));
  if (made && nameAt != nullptr) made = LinkToFirstFree(temp, nameAt, context, taken);
  const int err = errno;
  unlink(temp.c_str());
  if (!made) {
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace platform::posix
