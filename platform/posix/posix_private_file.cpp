#include "platform/posix/posix_private_file.h"

#include <fcntl.h>
#include <stdlib.h>
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
    if (link(temp.c_str(), path.c_str()) == 0) {
      if (taken != nullptr) *taken = index;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

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
