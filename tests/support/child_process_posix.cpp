// The child-process helper on POSIX: fork/execve with both output streams on pipes, one reader
// thread per stream and one thread that waits for the exit.
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/child_state.h"

extern char** environ;

namespace testsupport {

struct ChildProcess::Impl : ChildState {
  pid_t pid = 0;

  void ReadStream(int fd, int index) {
    std::string partial;
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      AddOutput(index, partial, buffer, static_cast<size_t>(got));
    }
    close(fd);
    EndOutput(index, partial);
  }

  // Waits without reaping, so the pid cannot be reused while a signal may still be sent to it;
  // the reap happens under the lock that guards every kill().
  void WaitExit() {
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    exited = true;
    changed.notify_all();
  }
};

ChildState& StateOf(ChildProcess::Impl& impl) {
  return impl;
}

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
  Stop();
  impl_->Join();
}

static bool EnvNameMatches(const char* entry, const std::string& assignment) {
  const size_t equals = assignment.find('=');
  const size_t length = equals == std::string::npos ? assignment.size() : equals;
  return std::strncmp(entry, assignment.c_str(), length) == 0 && entry[length] == '=';
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
  Impl& s = *impl_;
  if (s.started) {
    s.error = "a child is already started";
    return false;
  }
  // Everything the child needs is built before fork: only async-signal-safe calls after it.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry) {
    bool replaced = false;
    for (const auto& extra : extraEnv) replaced = replaced || EnvNameMatches(*entry, extra);
    if (!replaced) envp.push_back(*entry);
  }
  for (const auto& extra : extraEnv) envp.push_back(const_cast<char*>(extra.c_str()));
  envp.push_back(nullptr);

  int out[2], err[2], status[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    s.error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(err, O_CLOEXEC) != 0 || pipe2(status, O_CLOEXEC) != 0) {
    s.error = std::string("pipe: ") + std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return false;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    s.error = std::string("fork: ") + std::strerror(errno);
    for (int fd : {out[0], out[1], err[0], err[1], status[0], status[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    const int nullFd = open("/dev/null", O_RDONLY);
    if (nullFd >= 0) dup2(nullFd, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(program.c_str(), argv.data(), envp.data());
    const int code = errno;
    (void)!write(status[1], &code, sizeof code);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(status[1]);
  int execError = 0;
  ssize_t got;
  while ((got = read(status[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  close(status[0]);

  s.pid = pid;
  s.started = true;
  s.readers[0] = std::thread([&s, fd = out[0]] { s.ReadStream(fd, 0); });
  s.readers[1] = std::thread([&s, fd = err[0]] { s.ReadStream(fd, 1); });
  s.waiter = std::thread([&s] { s.WaitExit(); });
  if (got > 0) {
    s.error = "cannot run " + program + ": " + std::strerror(execError);
    WaitForExit(5000);
    return false;
  }
  return true;
}

bool ChildProcess::RequestStop(StopKind kind) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->started || impl_->exited) return false;
  return kill(impl_->pid, kind == StopKind::Terminate ? SIGTERM : SIGINT) == 0;
}

int ChildProcess::Stop(int graceMs) {
  Impl& s = *impl_;
  if (!s.started) return -1;
  RequestStop(StopKind::Terminate);
  if (!WaitForExit(graceMs)) {
    {
      std::lock_guard lock(s.mutex);
      if (!s.exited) kill(s.pid, SIGKILL);
    }
    WaitForExit(60000);
  }
  return ExitCode();
}

std::uint32_t ChildProcess::ProcessId() const {
  std::lock_guard lock(impl_->mutex);
  return static_cast<std::uint32_t>(impl_->pid);
}

void SetTestEnvironment(const char* name, const char* value) {
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

}  // namespace testsupport
