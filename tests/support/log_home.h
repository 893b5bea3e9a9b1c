// Test helper: a folder of the test's own for the bridge's log file (app/LogFile.h), so that no
// test writes where a user's log lives, and the files a test reads are its bridge's alone.
//   POSIX  XDG_STATE_HOME of this process, which the children it starts inherit.
//   Win32  the user's Local AppData folder as the registry's User Shell Folders key names it:
//          the place SHGetKnownFolderPath reads, on Windows as under Wine (Wine ignores the
//          LOCALAPPDATA and USERPROFILE variables a program is started with). It holds for
//          every program of the user (of the Wine prefix) until this object goes, so the tests
//          that use it run one at a time (RESOURCE_LOCK korvan-wine-local-app-data).
// Paths are UTF-8, any script. Throws std::runtime_error when the place cannot be given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class TestLogHome {
 public:
  explicit TestLogHome(const std::string& base);
  ~TestLogHome();  // gives back what was there before
  TestLogHome(const TestLogHome&) = delete;
  TestLogHome& operator=(const TestLogHome&) = delete;

  // The folder the bridge's log goes to, ending in the separator: POSIX base/korvan-bridge/,
  // Win32 base\Korvan EFIS bridge\.
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  bool hadSaved_ = false;
  std::string saved_;  // POSIX the variable, Win32 the registry value's bytes
  std::uint32_t savedType_ = 0;
};

// The whole file, byte for byte; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content);
// Makes the file hold exactly `content` (its folders must exist); false on failure.
bool WriteWholeFile(const std::string& path, const std::string& content);
// mkdir -p; false on failure.
bool MakeFolders(const std::string& path);
// `folder` + "/" + `name` with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
// The paths below `dir` (relative, the system's separator) of everything but folders, sorted.
std::vector<std::string> FilesBelow(const std::string& dir);

}  // namespace testsupport
