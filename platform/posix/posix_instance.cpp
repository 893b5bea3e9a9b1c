// The one-copy claim on POSIX: an exclusive flock on a file of the namespace root. The lock
// goes with the process's last descriptor of the file, so a copy that was killed leaves no
// claim behind.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/instance.h"
#include "platform/posix/posix_root.h"

namespace platform {

bool ClaimOnlyInstance(const char* name) {
  if (name == nullptr || !posix::IsObjectName(name)) return true;
  const std::string dir = posix::NamespaceDir("instances");
  if (dir.empty()) return true;
  const std::string path = dir + "/" + name;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // kept open for the process's life
  const bool held = errno == EWOULDBLOCK;
  close(fd);
  if (held) SetLastError(kErrorAlreadyExists);
  return !held;
}

}  // namespace platform
