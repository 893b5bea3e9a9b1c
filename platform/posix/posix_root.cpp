#include "platform/posix/posix_root.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::posix {
namespace {

// Makes `path` a directory of this user with mode 0700, creating it when missing. A path that
// is a symlink, not a directory, or someone else's is refused: in a shared /tmp another user
// could otherwise plant the root and watch or feed every exchange.
bool EnsurePrivateDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  // mkdir applied the umask; the mode is the contract's whatever the umask says.
  if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) return false;
  return true;
}

bool IsDirectory(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string NamespaceRoot() {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  std::string root;
  if (runtime != nullptr && runtime[0] == '/' && IsDirectory(runtime)) {
    root = runtime;
    root += "/korvan-win32";
  } else {
    root = "/tmp/korvan-win32-" + std::to_string(geteuid());
  }
  if (!EnsurePrivateDir(root)) return "";
  return root;
}

std::string NamespaceDir(const char* sub) {
  if (sub == nullptr || sub[0] == '\0' || sub[0] == '/') return "";
  std::string path = NamespaceRoot();
  if (path.empty()) return "";
  // Nested names (devices/{...}) are made one level at a time, each level private.
  const char* part = sub;
  while (*part != '\0') {
    const char* end = std::strchr(part, '/');
    const std::size_t len =
        end != nullptr ? static_cast<std::size_t>(end - part) : std::strlen(part);
    const std::string name(part, len);
    if (name.empty() || name == "." || name == "..") return "";
    path += '/';
    path += name;
    if (!EnsurePrivateDir(path)) return "";
    part += len;
    if (*part == '/') ++part;
  }
  return path;
}

bool IsObjectName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  const std::size_t length = strnlen(name, 256);
  if (length > 255 || std::strchr(name, '/') != nullptr) return false;
  return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace platform::posix
