// The log's folder of a test on Windows: the user's Local AppData folder in the registry.
#include <windows.h>

#include <stdexcept>

#include "tests/support/log_home.h"

namespace testsupport {
namespace {

const wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kLocalAppData[] = L"Local AppData";

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return wide;
}

HKEY OpenShellFolders() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS)
    throw std::runtime_error("cannot open the User Shell Folders key");
  return key;
}

}  // namespace

TestLogHome::TestLogHome(const std::string& base) : folder_(base + "\\Korvan EFIS bridge\\") {
  HKEY key = OpenShellFolders();
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, kLocalAppData, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    saved_.resize(size);
    hadSaved_ = RegQueryValueExW(key, kLocalAppData, nullptr, &type,
                                 reinterpret_cast<BYTE*>(saved_.data()), &size) == ERROR_SUCCESS;
    saved_.resize(size);
    savedType_ = type;
  }
  const std::wstring wide = Wide(base);
  const LSTATUS status = RegSetValueExW(key, kLocalAppData, 0, REG_EXPAND_SZ,
                                        reinterpret_cast<const BYTE*>(wide.c_str()),
                                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) throw std::runtime_error("cannot set the Local AppData folder");
}

TestLogHome::~TestLogHome() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  if (hadSaved_)
    RegSetValueExW(key, kLocalAppData, 0, savedType_, reinterpret_cast<const BYTE*>(saved_.data()),
                   static_cast<DWORD>(saved_.size()));
  else
    RegDeleteValueW(key, kLocalAppData);
  RegCloseKey(key);
}

}  // namespace testsupport
