// The log file on POSIX: the XDG state folder, plain file calls, the local time and uname.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/logfile.h"
#include "platform/posix/posix_errors.h"

namespace platform {
namespace {

bool Fail(std::uint32_t code) {
  SetLastError(code);
  return false;
}

bool FailWithErrno() {
  return Fail(posix::ErrorFromErrno(errno));
}

// XDG: a variable that is not an absolute path is to be ignored.
bool StateHome(std::string* path) {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    *path = state;
    return true;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return false;
  *path = home;
  *path += "/.local/state";
  return true;
}

// mkdir -p, each folder it makes private.
bool MakeDirectories(const std::string& path) {
  for (std::size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    if (mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) return FailWithErrno();
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return FailWithErrno();
  if (!S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  return true;
}

}  // namespace

bool MakeLogFolder(std::string* folder) {
  folder->clear();
  std::string path;
  if (!StateHome(&path)) return Fail(kErrorFileNotFound);
  path += "/korvan-bridge";
  if (!MakeDirectories(path)) return false;
  *folder = path + "/";
  return true;
}

Handle OpenLogFile(const std::string& path, std::uint64_t* size) {
  // O_NONBLOCK: opening a FIFO for writing would wait for a reader; a regular file ignores it.
  const int fd =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    FailWithErrno();
    return kInvalidHandle;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    Fail(kErrorAccessDenied);
    return kInvalidHandle;
  }
  *size = static_cast<std::uint64_t>(st.st_size);
  return static_cast<Handle>(fd);
}

bool WriteLogFile(Handle file, const char* data, std::uint32_t size) {
  ssize_t written;
  do {
    written = write(static_cast<int>(file), data, size);
  } while (written < 0 && errno == EINTR);
  if (written < 0) return FailWithErrno();
  // Only a full disk writes part of a line.
  if (static_cast<std::size_t>(written) != size) return Fail(posix::ErrorFromErrno(ENOSPC));
  return true;
}

void CloseLogFile(Handle file) {
  if (file != kInvalidHandle) close(static_cast<int>(file));
}

bool ReplaceLogFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 || FailWithErrno();
}

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {static_cast<std::uint16_t>(local.tm_year + 1900),
          static_cast<std::uint16_t>(local.tm_mon + 1),
          static_cast<std::uint16_t>(local.tm_mday),
          static_cast<std::uint16_t>(local.tm_hour),
          static_cast<std::uint16_t>(local.tm_min),
          static_cast<std::uint16_t>(local.tm_sec),
          static_cast<std::uint16_t>(now.tv_nsec / 1000000)};
}

std::string SystemVersion() {
  utsname name{};
  if (uname(&name) != 0) return "POSIX";
  return std::string(name.sysname) + " " + name.release;
}

const char* TextLineEnd() {
  return "\n";
}

void DebugOutput(const char*) {}

}  // namespace platform
