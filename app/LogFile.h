// The log file a pilot can send: every line of the window's log, after the local date and time
// to the millisecond, in korvan-bridge.log of the folder platform/logfile.h names; before them
// a line with the version and the system, and at a normal exit a last one. The previous run's
// file is kept as korvan-bridge.log.1. Each line is one write, so the system has it when the
// window shows it.
//
// The file changes nothing else: a folder or file that cannot be written leaves the program
// running as it would without it, and a write that fails ends the file for the run (no system
// call per line after that). Everything here runs on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/logfile.h"

// A write that makes the file this long ends it: it becomes korvan-bridge.log.1 and a fresh
// file goes on. The line that reached the size is whole in the older file.
inline constexpr std::uint64_t kLogFileLimit = 1048576;

// "2026-12-09 14:03:27.415 ": the stamp before each line of the file.
inline constexpr std::size_t kLogStampLength = 24;

// At program start: the previous run's file becomes korvan-bridge.log.1 (replacing an older
// one) and a new file begins with the start line. `limit` is the size that ends a file.
void LogFileOpen(std::uint64_t limit = kLogFileLimit);

// A line of the window's log (Memo1's lines are forwarded here): stamped, to the file and to
// the debugger's output (platform::DebugOutput), the same text to both. Nothing before
// LogFileOpen or after LogFileExit, so a form made by a test writes no file.
void LogFileLine(const std::string& line);

// At a normal exit: the exit line, then the file is closed.
void LogFileExit();

// The stamp of `time` into `out`, which has room for kLogStampLength + 1 (it ends with a NUL).
// Each field keeps its fixed width: a value too wide for it keeps its low digits.
void FormatLogStamp(const platform::LocalTime& time, char* out);
