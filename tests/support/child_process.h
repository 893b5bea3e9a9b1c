// Test helper: runs another program of the project (korvan-sim, korvan-efis, korvan-bridge) as a
// child process, collects what it prints and stops it. Used from the test's own thread; the
// output is collected on helper threads, so every query may be called at any time.
//
// One implementation per backend: child_process_posix.cpp, child_process_win32.cpp.
// child_process_common.cpp holds the parts that are the same everywhere.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// Which output stream a line came from.
enum class Stream { Out, Err };

// How RequestStop asks the program to end.
//   Terminate: POSIX SIGTERM; Windows WM_CLOSE to the program's top-level windows.
//   Interrupt: POSIX SIGINT;  Windows Ctrl-C (CTRL_C_EVENT to the child's console group).
enum class StopKind { Terminate, Interrupt };

class ChildProcess {
 public:
  ChildProcess();
  // Stops a child that still runs (Stop with the default grace) and joins the reader threads.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` with `args` (argv[1..], passed unchanged, no shell). The child inherits the
  // current environment with `extraEnv` entries ("NAME=value") added or replacing. Its stdin is
  // empty (/dev/null, NUL); stdout and stderr are read line by line on helper threads.
  // Returns false when the program could not be started (ErrorText() says why) or when this
  // object already runs a child.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& extraEnv = {});

  // True once a line of `stream` containing `text` has been printed, counting lines printed
  // before the call; waits up to `timeoutMs`. False on timeout, or at once when the child has
  // exited and its output is drained without such a line.
  bool WaitForLine(const std::string& text, int timeoutMs, Stream stream = Stream::Out);

  // As WaitForLine, until `count` such lines have been printed. A line the child printed is
  // collected on a helper thread, so one printed just before an answer the test has received
  // may not be counted yet: wait for it with this, never with CountLines alone.
  bool WaitForLines(const std::string& text, int count, int timeoutMs, Stream stream = Stream::Out);

  // Number of lines of `stream` so far that contain `text`.
  int CountLines(const std::string& text, Stream stream = Stream::Out) const;

  // Every complete line of `stream` so far, without the line end ("\n" or "\r\n").
  std::vector<std::string> Lines(Stream stream = Stream::Out) const;

  // Asks the child to end (see StopKind) and returns at once. False when no child runs.
  bool RequestStop(StopKind kind = StopKind::Terminate);

  // Waits up to `timeoutMs` for the child to exit by itself; true when it has exited (or never
  // ran). Output is fully collected once this returns true.
  bool WaitForExit(int timeoutMs);

  // RequestStop(Terminate), then up to `graceMs` for it to exit; after that it is killed
  // (SIGKILL, TerminateProcess). Returns ExitCode(). Harmless when no child runs.
  int Stop(int graceMs = 5000);

  // True while the child runs.
  bool Running();

  // The exit status once the child has exited: its exit code, or on POSIX 128 + signal number
  // when a signal ended it (SIGKILL: 137). -1 while it runs or when none was started.
  int ExitCode() const;

  // The child's process id, 0 when none was started.
  std::uint32_t ProcessId() const;

  // Why the last Start failed.
  std::string ErrorText() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Sets (or with value null, removes) an environment variable of the test process itself.
void SetTestEnvironment(const char* name, const char* value);

// Makes a fresh, empty temporary directory (mode 0700 where that means something), points
// XDG_RUNTIME_DIR of the current process at it and XDG_STATE_HOME at its state/ (where a bridge
// started from here keeps its log file), and returns its path. Each call gives a new directory;
// `tag` becomes part of its name. Throws std::runtime_error when none can be made.
std::string MakeTestRuntimeDir(const char* tag);

// Paths (relative to `dir`) of every regular file, socket or other non-directory entry below
// `dir`, sorted; empty when `dir` does not exist. For "nothing left behind" checks.
std::vector<std::string> FilesUnder(const std::string& dir);

// Removes `dir` and everything below it; errors are ignored.
void RemoveTree(const std::string& dir);

}  // namespace testsupport
