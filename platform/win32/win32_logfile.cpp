// The log file on Windows: the user's local application data folder and the wide file calls.
// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include <cstdio>

#include "platform/logfile.h"

namespace platform {
namespace {

// UTF-8 to UTF-16 and back; false (ERROR_NO_UNICODE_TRANSLATION) for what is not valid text.
bool ToWide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide->resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide->data(),
                             length) == length;
}

bool ToUtf8(const std::wstring& wide, std::string* text) {
  text->clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) return false;
  text->resize(static_cast<std::size_t>(length));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, text->data(), length,
                             nullptr, nullptr) == length;
}

bool LocalAppData(std::wstring* path) {
  PWSTR found = nullptr;
  const HRESULT result =
      SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &found);
  if (SUCCEEDED(result)) *path = found;
  CoTaskMemFree(found);  // also on failure, as the call documents
  if (FAILED(result)) {
    SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                            : ERROR_PATH_NOT_FOUND);
  }
  return SUCCEEDED(result);
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The function of `name` in ntdll, or null.
template <typename Function>
Function NtdllFunction(const char* name) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  FARPROC found = ntdll != nullptr ? GetProcAddress(ntdll, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

}  // namespace

bool MakeLogFolder(std::string* folder) {
  folder->clear();
  std::wstring path;
  if (!LocalAppData(&path)) return false;
  path += L"\\Korvan EFIS bridge";
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  if (!IsDirectory(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return ToUtf8(path + L"\\", folder);
}

Handle OpenLogFile(const std::string& path, std::uint64_t* size) {
  std::wstring wide;
  if (!ToWide(path, &wide)) return kInvalidHandle;
  HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHandle;
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(file, &length)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return kInvalidHandle;
  }
  *size = static_cast<std::uint64_t>(length.QuadPart);
  return reinterpret_cast<Handle>(file);
}

bool WriteLogFile(Handle file, const char* data, std::uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(file), data, size, &written, nullptr)) return false;
  if (written == size) return true;
  SetLastError(ERROR_DISK_FULL);
  return false;
}

void CloseLogFile(Handle file) {
  if (file != kInvalidHandle) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool ReplaceLogFile(const std::string& from, const std::string& to) {
  std::wstring wideFrom, wideTo;
  if (!ToWide(from, &wideFrom) || !ToWide(to, &wideTo)) return false;
  return MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

LocalTime LocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::string SystemVersion() {
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  using WineVersionFunction = const char*(CDECL*)();
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  const auto getVersion = NtdllFunction<GetVersionFunction>("RtlGetVersion");
  if (getVersion == nullptr || getVersion(&version) != 0) return "Windows";
  char text[96];
  std::snprintf(text, sizeof text, "Windows %lu.%lu.%lu", version.dwMajorVersion,
                version.dwMinorVersion, version.dwBuildNumber);
  std::string system = text;
  const auto wineVersion = NtdllFunction<WineVersionFunction>("wine_get_version");
  if (wineVersion != nullptr) system += std::string(" under Wine ") + wineVersion();
  return system;
}

const char* TextLineEnd() {
  return "\r\n";
}

void DebugOutput(const char* text) {
  OutputDebugStringA(text);
}

}  // namespace platform
