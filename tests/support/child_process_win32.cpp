// The child-process helper on Windows: CreateProcess with both output streams on anonymous
// pipes, one reader thread per stream and one thread that waits for the exit.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/child_state.h"

namespace testsupport {

namespace {

// Pipe ends must not leak into a child started at the same time by another thread, or that
// child would keep our pipe open and its reader would never see the end.
std::mutex SpawnMutex;

// Exit code given to a child that had to be killed, the same number as a POSIX SIGKILL death.
constexpr UINT kKilledExitCode = 137;
// How often a reader looks for new output.
constexpr DWORD kPollMs = 5;

std::string LastErrorText(const char* what) {
  const DWORD code = ::GetLastError();
  char text[256] = {};
  ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
  for (size_t n = std::strlen(text); n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n');) {
    text[--n] = '\0';
  }
  return std::string(what) + ": error " + std::to_string(code) + (text[0] ? " (" : "") + text +
         (text[0] ? ")" : "");
}

// One argument quoted the way the C runtime splits a command line back into argv.
void AppendQuoted(std::string& line, const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += arg;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      line.append(backslashes * 2 + 1, '\\');
    else
      line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

// Under Wine the build hands us Unix paths; drive Z: is the Unix root there.
std::string NativePath(const std::string& program) {
  if (program.empty() || program[0] != '/') return program;
  std::string path = "Z:" + program;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool SameName(const char* entry, const std::string& assignment) {
  const size_t equals = assignment.find('=');
  const size_t length = equals == std::string::npos ? assignment.size() : equals;
  return _strnicmp(entry, assignment.c_str(), length) == 0 && entry[length] == '=';
}

// The current environment with the extra entries added or replacing, as a CreateProcess block.
std::string EnvironmentBlock(const std::vector<std::string>& extraEnv) {
  std::string block;
  if (char* strings = ::GetEnvironmentStringsA()) {
    for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1) {
      bool replaced = false;
      for (const auto& extra : extraEnv) replaced = replaced || SameName(entry, extra);
      if (!replaced) block.append(entry).push_back('\0');
    }
    ::FreeEnvironmentStringsA(strings);
  }
  for (const auto& extra : extraEnv) block.append(extra).push_back('\0');
  block.push_back('\0');
  return block;
}

BOOL CALLBACK CloseWindowOf(HWND hwnd, LPARAM lParam) {
  auto* wanted = reinterpret_cast<std::pair<DWORD, int>*>(lParam);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == wanted->first && ::PostMessageA(hwnd, WM_CLOSE, 0, 0)) ++wanted->second;
  return TRUE;
}

// Ctrl-C on the child's own console: join it for the moment of the event, ignoring the event
// ourselves, then leave it again (back to the parent's console when the test had one).
bool SendControlC(DWORD pid) {
  std::lock_guard spawn(SpawnMutex);
  const bool hadConsole = ::GetConsoleWindow() != nullptr;
  ::FreeConsole();
  bool sent = false;
  if (::AttachConsole(pid)) {
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
    ::FreeConsole();
  }
  if (hadConsole) ::AttachConsole(ATTACH_PARENT_PROCESS);
  return sent;
}

}  // namespace

struct ChildProcess::Impl : ChildState {
  HANDLE process = nullptr;
  DWORD pid = 0;

  // Polls instead of blocking in ReadFile: a process that Wine or the child starts (explorer,
  // a grandchild) may inherit the write end and keep the pipe open long after the child is
  // gone, so the end of the output is "the child has exited and the pipe is drained".
  void ReadStream(HANDLE pipe, int index) {
    std::string partial;
    char buffer[4096];
    for (;;) {
      bool childGone;
      {
        std::lock_guard lock(mutex);
        childGone = exited;
      }
      DWORD available = 0;
      if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) break;
      if (available == 0) {
        // Exit seen before this peek: everything the child wrote is already in the pipe.
        if (childGone) break;
        ::Sleep(kPollMs);
        continue;
      }
      DWORD got = 0;
      const DWORD want = available < sizeof buffer ? available : sizeof buffer;
      if (!::ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) break;
      AddOutput(index, partial, buffer, got);
    }
    ::CloseHandle(pipe);
    EndOutput(index, partial);
  }

  void WaitExit() {
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    std::lock_guard lock(mutex);
    exitCode = static_cast<int>(code);
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
  if (impl_->process) ::CloseHandle(impl_->process);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
  Impl& s = *impl_;
  if (s.started) {
    s.error = "a child is already started";
    return false;
  }
  const std::string path = NativePath(program);
  std::string commandLine;
  AppendQuoted(commandLine, path);
  for (const auto& arg : args) {
    commandLine += ' ';
    AppendQuoted(commandLine, arg);
  }
  std::string environment = EnvironmentBlock(extraEnv);

  std::lock_guard spawn(SpawnMutex);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd[2] = {nullptr, nullptr}, writeEnd[2] = {nullptr, nullptr};
  auto closeAll = [&] {
    for (HANDLE h : {readEnd[0], readEnd[1], writeEnd[0], writeEnd[1]})
      if (h) ::CloseHandle(h);
  };
  for (int i = 0; i < 2; ++i) {
    if (!::CreatePipe(&readEnd[i], &writeEnd[i], &inherit, 0) ||
        !::SetHandleInformation(readEnd[i], HANDLE_FLAG_INHERIT, 0)) {
      s.error = LastErrorText("CreatePipe");
      closeAll();
      return false;
    }
  }
  HANDLE nul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nul == INVALID_HANDLE_VALUE ? nullptr : nul;
  startup.hStdOutput = writeEnd[0];
  startup.hStdError = writeEnd[1];
  PROCESS_INFORMATION info{};
  // A (hidden) console of its own: the one way to hand it a Ctrl-C without hitting the test,
  // and the test under Wine has no console to share anyway.
  const BOOL created =
      ::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE,
                       environment.data(), nullptr, &startup, &info);
  if (!created) s.error = LastErrorText(("CreateProcess " + path).c_str());
  if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
  ::CloseHandle(writeEnd[0]);
  ::CloseHandle(writeEnd[1]);
  if (!created) {
    ::CloseHandle(readEnd[0]);
    ::CloseHandle(readEnd[1]);
    return false;
  }
  ::CloseHandle(info.hThread);

  std::lock_guard lock(s.mutex);
  s.process = info.hProcess;
  s.pid = info.dwProcessId;
  s.started = true;
  s.readers[0] = std::thread([&s, pipe = readEnd[0]] { s.ReadStream(pipe, 0); });
  s.readers[1] = std::thread([&s, pipe = readEnd[1]] { s.ReadStream(pipe, 1); });
  s.waiter = std::thread([&s] { s.WaitExit(); });
  return true;
}

bool ChildProcess::RequestStop(StopKind kind) {
  DWORD pid = 0;
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->started || impl_->exited) return false;
    pid = impl_->pid;
  }
  if (kind == StopKind::Terminate) {
    std::pair<DWORD, int> wanted{pid, 0};
    ::EnumWindows(CloseWindowOf, reinterpret_cast<LPARAM>(&wanted));
    if (wanted.second > 0) return true;
  }
  // A program without a window gets the Ctrl-C for Terminate too.
  return SendControlC(pid);
}

int ChildProcess::Stop(int graceMs) {
  Impl& s = *impl_;
  if (!s.started) return -1;
  RequestStop(StopKind::Terminate);
  if (!WaitForExit(graceMs)) {
    {
      std::lock_guard lock(s.mutex);
      if (!s.exited) ::TerminateProcess(s.process, kKilledExitCode);
    }
    WaitForExit(60000);
  }
  return ExitCode();
}

std::uint32_t ChildProcess::ProcessId() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->pid;
}

void SetTestEnvironment(const char* name, const char* value) {
  // Both copies: the C runtime's (getenv) and the process block that children inherit.
  _putenv_s(name, value ? value : "");
  ::SetEnvironmentVariableA(name, value);
}

}  // namespace testsupport
