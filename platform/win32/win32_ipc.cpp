// The simulator IPC on the real Windows API: each call passes the documented arguments straight
// through, so what the simulator's module sees is what any Windows client would send it.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/ipc.h"

namespace platform {

// The codes of ipc.h are Windows' own.
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorTooManyOpenFiles == ERROR_TOO_MANY_OPEN_FILES);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrorFilenameTooLong == ERROR_FILENAME_EXCED_RANGE);
static_assert(kErrorInvalidAddress == ERROR_INVALID_ADDRESS);
static_assert(kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED);
static_assert(kErrorInvalidWindowHandle == ERROR_INVALID_WINDOW_HANDLE);
static_assert(kErrorClassAlreadyExists == ERROR_CLASS_ALREADY_EXISTS);
static_assert(kErrorTimeout == ERROR_TIMEOUT);

namespace {

HANDLE AsNative(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}
Handle FromNative(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}
HWND AsWindow(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

}  // namespace

WindowHandle FindTopLevelWindow(const char* className) {
  const DWORD before = ::GetLastError();
  HWND found = ::FindWindowExA(nullptr, nullptr, className, nullptr);
  if (found != nullptr) ::SetLastError(before);
  return reinterpret_cast<WindowHandle>(found);
}

std::uint32_t RegisterMessageName(const char* name) {
  return ::RegisterWindowMessageA(name);
}

std::uint16_t AddGlobalAtom(const char* name) {
  return ::GlobalAddAtomA(name);
}

void DeleteGlobalAtom(std::uint16_t atom) {
  ::GlobalDeleteAtom(atom);
}

std::uint32_t GetGlobalAtomName(std::uint16_t atom, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Atom names are at most 255 characters. Reading the whole name first gives the same cut on
  // every system: Wine refuses a short buffer where Windows truncates.
  char name[256];
  UINT length = ::GlobalGetAtomNameA(atom, name, sizeof name);
  if (length >= size) length = size - 1;
  std::memcpy(buffer, name, length);
  buffer[length] = '\0';
  return length;
}

Handle CreateSharedArea(const char* name, std::uint32_t size) {
  ::SetLastError(ERROR_SUCCESS);
  HANDLE mapping =
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
  // Callers tell a fresh area from an existing one by LastError alone.
  if (mapping != nullptr && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    ::SetLastError(ERROR_SUCCESS);
  }
  return FromNative(mapping);
}

Handle OpenSharedArea(const char* name) {
  return FromNative(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name));
}

void* MapSharedArea(Handle mapping) {
  return ::MapViewOfFile(AsNative(mapping), FILE_MAP_WRITE, 0, 0, 0);
}

std::uint32_t SharedAreaSize(const void* view) {
  // A view is one region of committed mapped pages; its size is the mapping's size rounded up
  // to whole pages, all of it accessible.
  if (view == nullptr) return 0;
  MEMORY_BASIC_INFORMATION info{};
  if (::VirtualQuery(view, &info, sizeof info) != sizeof info) return 0;
  if (info.Type != MEM_MAPPED || info.AllocationBase != view || info.State != MEM_COMMIT) {
    return 0;
  }
  return info.RegionSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(info.RegionSize);
}

bool SharedAreaIntact(const void* view) {
  // A section never shrinks under its views.
  return SharedAreaSize(view) != 0;
}

bool UnmapSharedArea(void* view) {
  return ::UnmapViewOfFile(view) != FALSE;
}

bool CloseKernelHandle(Handle handle) {
  return ::CloseHandle(AsNative(handle)) != FALSE;
}

bool SendMessageWithTimeout(WindowHandle window, std::uint32_t msg, std::uint32_t wParam,
                            std::uint32_t lParam, std::uint32_t timeoutMs, std::uintptr_t* reply) {
  DWORD_PTR result = 0;
  const LRESULT sent =
      ::SendMessageTimeoutA(AsWindow(window), msg, wParam, lParam, SMTO_NORMAL, timeoutMs, &result);
  if (sent == 0) return false;
  if (reply != nullptr) *reply = result;
  return true;
}

std::uint32_t LastError() {
  return ::GetLastError();
}

void SetLastError(std::uint32_t code) {
  ::SetLastError(code);
}

std::string ErrorText(std::uint32_t code) {
  char text[512] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message.empty() ? "unknown error" : message;
}

void SleepMs(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::uint32_t CurrentProcessId() {
  return ::GetCurrentProcessId();
}

}  // namespace platform
