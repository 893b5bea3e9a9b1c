// The parts of the child-process helper that need nothing but the standard library.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/child_process.h"

namespace fs = std::filesystem;

namespace testsupport {

std::string MakeTestRuntimeDir(const char* tag) {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) throw std::runtime_error("no temporary directory: " + error.message());
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = base / ("korvan-" + std::string(tag) + "-" + std::to_string(stamp) + "-" +
                                 std::to_string(counter.fetch_add(1)));
    if (fs::create_directory(dir, error)) {
      fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, error);
      const std::string path = dir.string();
      SetTestEnvironment("XDG_RUNTIME_DIR", path.c_str());
      return path;
    }
  }
  throw std::runtime_error("cannot make a temporary directory under " + base.string());
}

std::vector<std::string> FilesUnder(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return files;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_directory(error)) files.push_back(fs::relative(it->path(), dir, error).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void RemoveTree(const std::string& dir) {
  std::error_code error;
  fs::remove_all(dir, error);
}

}  // namespace testsupport
