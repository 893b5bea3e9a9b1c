// What the bridge's log file needs of the operating system: its folder, the file calls on it,
// the local time to the millisecond, the system's name and version, and the debugger's output.
// Nothing else of the program touches these files. Each declaration says what it returns, its
// errors, threads and waits as platform/ipc.h lays out; the log ignores every error code (a log
// that cannot be written changes nothing else), so the codes are the system's own.
//
// Paths are UTF-8 strings. Win32 turns them into UTF-16 and calls the wide functions
// (SHGetKnownFolderPath, CreateDirectoryW, CreateFileW, MoveFileExW), so a user name in any
// script works. POSIX passes them as they are.
//
// Thread: the user-interface thread (the log is written where the window's log is). Blocks: a
// call on a local disk's file, never a wait for another process or a lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ipc.h"

namespace platform {

// The folder the log lives in, made when missing (with the folders above it).
//   Win32  SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE) + "\Korvan EFIS bridge\"
//   POSIX  $XDG_STATE_HOME/korvan-bridge/, or $HOME/.local/state/korvan-bridge/ when the variable
//          is unset, empty or not an absolute path; every folder it makes has mode 0700.
// Returns  true with *folder the path, ending in the separator, so a file name can follow;
//          false when there is no such folder and none can be made (*folder then empty).
// Errors   LastError() the system's code. POSIX: kErrorFileNotFound when neither variable
//          names an absolute path; kErrorAccessDenied when the path ends in something that is
//          not a directory; else the errno's code of posix/posix_errors.h.
bool MakeLogFolder(std::string* folder);

// Opens `path` for appending, creating it when missing; *size is its length in bytes.
//   Win32  CreateFileW(FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ |
//          FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS): a pilot may open, copy or
//          delete the file while the bridge writes it.
//   POSIX  open(O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600); anything but a
//          regular file is refused (a FIFO planted there must not hold the bridge up).
// Returns  a handle for WriteLogFile and CloseLogFile only (not for CloseKernelHandle);
//          kInvalidHandle on failure.
// Errors   LastError() the system's code; POSIX also kErrorAccessDenied for what is not a
//          regular file.
Handle OpenLogFile(const std::string& path, std::uint64_t* size);

// WriteFile / write: `size` bytes at the end of the file, in one system call. When it returns
// the system has them: a program that ends or is killed afterwards loses none.
// Returns  true when every byte was written; false otherwise (a full disk writes a part).
// Errors   LastError() the system's code.
bool WriteLogFile(Handle file, const char* data, std::uint32_t size);

// CloseHandle / close. Nothing for kInvalidHandle. No result.
void CloseLogFile(Handle file);

// MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) / rename: `from` takes the name `to`,
// replacing a file of that name. Neither may be open here (Win32 refuses a name held without
// FILE_SHARE_DELETE, as an editor may hold it).
// Returns  true when moved; false otherwise, `from` then stays where it was.
// Errors   LastError() the system's code; kErrorFileNotFound when there is no `from`.
bool ReplaceLogFile(const std::string& from, const std::string& to);

// The local date and time to the millisecond.
struct LocalTime {
  std::uint16_t Year;          // e.g. 2026
  std::uint16_t Month;         // 1..12
  std::uint16_t Day;           // 1..31
  std::uint16_t Hour;          // 0..23
  std::uint16_t Minute;        // 0..59
  std::uint16_t Second;        // 0..60 (a leap second)
  std::uint16_t Milliseconds;  // 0..999
};

// Win32 GetLocalTime; POSIX clock_gettime(CLOCK_REALTIME) and localtime_r. Never fails.
LocalTime LocalTimeNow();

// The system and its version, for the log's first line.
//   Win32  "Windows 10.0.19045" from RtlGetVersion (GetVersionEx reports 6.2 to a program
//          without a manifest), with " under Wine 8.0" when ntdll exports wine_get_version.
//   POSIX  uname's system name and release, "Linux 6.1.0-18-amd64".
// Never fails: "Windows" or "POSIX" alone when the version cannot be read.
std::string SystemVersion();

// The end of a line in a text file of this system: "\r\n" Win32, "\n" POSIX.
const char* TextLineEnd();

// OutputDebugStringA(text): what a debugger or a debug viewer shows (under Wine,
// WINEDEBUG=warn+debugstr prints it on standard error). POSIX: nothing (the toolkit already
// echoes every log line on standard error). No result, no error.
void DebugOutput(const char* text);

}  // namespace platform
