// platform/logfile.h for a program on recording stand-ins: there is no log folder, so the bridge
// keeps its log in the window alone.
#include "platform/logfile.h"

namespace platform {

bool MakeLogFolder(std::string* folder) {
  folder->clear();
  return false;
}
Handle OpenLogFile(const std::string&, std::uint64_t*) {
  return kInvalidHandle;
}
bool WriteLogFile(Handle, const char*, std::uint32_t) {
  return false;
}
void CloseLogFile(Handle) {}
bool ReplaceLogFile(const std::string&, const std::string&) {
  return false;
}
LocalTime LocalTimeNow() {
  return {2026, 1, 1, 0, 0, 0, 0};
}
std::string SystemVersion() {
  return "a test";
}
const char* TextLineEnd() {
  return "\n";
}
void DebugOutput(const char*) {}

}  // namespace platform
