// Test helper (POSIX): a child process that takes something of the namespace root (an atom, an
// area) and holds it until released; it then ends without giving it back, as a process that
// crashed would. It ends too when the test process is gone (its pipe closes).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

namespace testsupport {

class ChildHolder {
 public:
  // `take` runs in the child with `name`; what it returns (0: it failed) comes to taken().
  ChildHolder(std::uint32_t (*take)(const char* name), const char* name) {
    int toChild[2], toParent[2];
    if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(toChild[1]);
      close(toParent[0]);
      std::uint32_t value = take(name);
      (void)!write(toParent[1], &value, sizeof value);
      (void)!read(toChild[0], &value, 1);  // the release: the end of the pipe
      _exit(0);
    }
    close(toChild[0]);
    close(toParent[1]);
    release_ = toChild[1];
    if (read(toParent[0], &taken_, sizeof taken_) != sizeof taken_) taken_ = 0;
    close(toParent[0]);
  }
  ~ChildHolder() { Release(); }
  ChildHolder(const ChildHolder&) = delete;
  ChildHolder& operator=(const ChildHolder&) = delete;

  std::uint32_t taken() const { return taken_; }

  // Ends the child, holding what it took, and waits for it.
  void Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  std::uint32_t taken_ = 0;
};

}  // namespace testsupport
