#include "app/LogFile.h"

#include <limits>

namespace {

constexpr char kProgram[] = "korvan-bridge " KORVAN_BRIDGE_VERSION;

bool Started = false;
platform::Handle File = platform::kInvalidHandle;
std::string Path;          // korvan-bridge.log
std::string PreviousPath;  // korvan-bridge.log.1
std::uint64_t Limit = kLogFileLimit;
std::uint64_t Size = 0;      // of the open file
std::uint64_t RotateAt = 0;  // the size that ends it
// The line being written: stamp, text, line end. Kept, so a line costs no allocation once the
// longest has been seen.
std::string Buffer;

// `count` decimal digits of `value`, the low ones.
char* Digits(char* out, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + count;
}

void OpenFile() {
  File = platform::OpenLogFile(Path, &Size);
  // A file still over the limit could not be moved away (a viewer holds the old name): it
  // grows by another limit's worth before the next try, not a try per line.
  RotateAt = Size < Limit ? Limit : Size + Limit;
}

void Rotate() {
  platform::CloseLogFile(File);
  platform::ReplaceLogFile(Path, PreviousPath);
  OpenFile();
}

void CloseFile() {
  platform::CloseLogFile(File);
  File = platform::kInvalidHandle;
}

void WriteLine(const std::string& line) {
  char stamp[kLogStampLength + 1];
  FormatLogStamp(platform::LocalTimeNow(), stamp);
  Buffer.assign(stamp, kLogStampLength);
  Buffer += line;
  Buffer += platform::TextLineEnd();
  platform::DebugOutput(Buffer.c_str());
  if (File == platform::kInvalidHandle) return;
  if (Buffer.size() > std::numeric_limits<std::uint32_t>::max()) return;
  const auto size = static_cast<std::uint32_t>(Buffer.size());
  if (!platform::WriteLogFile(File, Buffer.data(), size)) {
    CloseFile();
    return;
  }
  Size += size;
  if (Size >= RotateAt) Rotate();
}

}  // namespace

void FormatLogStamp(const platform::LocalTime& time, char* out) {
  char* at = Digits(out, time.Year, 4);
  *at++ = '-';
  at = Digits(at, time.Month, 2);
  *at++ = '-';
  at = Digits(at, time.Day, 2);
  *at++ = ' ';
  at = Digits(at, time.Hour, 2);
  *at++ = ':';
  at = Digits(at, time.Minute, 2);
  *at++ = ':';
  at = Digits(at, time.Second, 2);
  *at++ = '.';
  at = Digits(at, time.Milliseconds, 3);
  *at++ = ' ';
  *at = '\0';
}

void LogFileOpen(std::uint64_t limit) {
  if (Started) return;
  Started = true;
  Limit = limit;
  std::string folder;
  if (platform::MakeLogFolder(&folder)) {
    Path = folder + "korvan-bridge.log";
    PreviousPath = Path + ".1";
    Rotate();
  }
  WriteLine(std::string(kProgram) + " started on " + platform::SystemVersion());
}

void LogFileLine(const std::string& line) {
  if (Started) WriteLine(line);
}

void LogFileExit() {
  if (!Started) return;
  WriteLine(std::string(kProgram) + " exits");
  CloseFile();
  Started = false;
}
