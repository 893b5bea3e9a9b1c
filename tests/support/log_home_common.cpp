// The file helpers of log_home.h: std::filesystem over UTF-8 paths, so a folder in any script
// works on Windows too (a narrow path there is read in the ANSI code page).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "tests/support/log_home.h"

namespace fs = std::filesystem;

namespace testsupport {
namespace {

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out.flush());
}

bool MakeFolders(const std::string& path) {
  std::error_code error;
  fs::create_directories(PathOf(path), error);
  return fs::is_directory(PathOf(path), error);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return Utf8(PathOf(folder) / PathOf(name));
}

std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;
  const fs::path root = PathOf(dir);
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_directory(error)) files.push_back(Utf8(fs::relative(it->path(), root, error)));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace testsupport
