// The simulator link's view of the operating system: window lookup, registered messages, global
// atoms, named shared areas and the synchronous message exchange. Everything here is called on
// the user-interface thread of the bridge (or the serving thread of a stand-in); nothing is
// thread-safe unless it says so.
//
// Both backends give the same observable behaviour. The Win32 backend passes the documented
// arguments straight to the Windows API; the POSIX backend emulates it under the namespace root
// of posix/posix_root.h. Failures are reported as Windows reports them: a 0/false result and an
// error code readable with LastError().
#pragma once

#include <cstdint>

namespace platform {

// A kernel object (a mapping, a file, a pipe). 0 means none.
using Handle = std::uintptr_t;
// A top-level window. 0 means none.
using WindowHandle = std::uintptr_t;

// What CreateFile returns on failure (INVALID_HANDLE_VALUE).
inline constexpr Handle kInvalidHandle = ~Handle{0};

// Error codes, numbered as Windows numbers them.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr std::uint32_t kErrorClassAlreadyExists = 1410;
inline constexpr std::uint32_t kErrorTimeout = 1460;

// FindWindowExA(null, null, className, null): the first top-level window of the class, or 0.
// POSIX: a window exists while its socket accepts connections. Does not change LastError on
// success.
WindowHandle FindTopLevelWindow(const char* className);

// RegisterWindowMessageA: the same id for the same name in every process (case-insensitive),
// in 0xC000..0xFFFF; 0 on failure.
std::uint32_t RegisterMessageName(const char* name);

// GlobalAddAtomA: a system-wide atom naming `name`; 0 on failure (LastError set).
std::uint16_t AddGlobalAtom(const char* name);
// GlobalDeleteAtom. Deleting an atom that does not exist is harmless.
void DeleteGlobalAtom(std::uint16_t atom);
// GlobalGetAtomNameA: copies the name (NUL-terminated, cut to size - 1) and returns its length,
// or 0 when the atom does not exist (LastError set).
std::uint32_t GetGlobalAtomName(std::uint16_t atom, char* buffer, std::uint32_t size);

// CreateFileMappingA(INVALID_HANDLE_VALUE, null, PAGE_READWRITE, 0, size, name): a named area
// backed by the paging file. Returns 0 on failure. When a live area of that name already
// exists it returns a handle to it and LastError() is kErrorAlreadyExists; otherwise LastError()
// is 0 after success.
Handle CreateSharedArea(const char* name, std::uint32_t size);
// OpenFileMappingA(FILE_MAP_WRITE, FALSE, name): the serving side's way to an existing area.
// Returns 0 with kErrorFileNotFound when there is none.
Handle OpenSharedArea(const char* name);
// MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0): the whole area, read and write; null on
// failure. SharedAreaSize gives the size of a mapped view.
void* MapSharedArea(Handle mapping);
std::uint32_t SharedAreaSize(const void* view);
// UnmapViewOfFile.
bool UnmapSharedArea(void* view);

// CloseHandle, for every kind of Handle of this layer (mappings, files, pipes).
bool CloseKernelHandle(Handle handle);

// SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_NORMAL, timeoutMs, &reply). Returns
// true once the window's procedure has returned, with its whole result (LRESULT) in *reply. On
// false: timed out (kErrorTimeout), or no such window / connection lost
// (kErrorInvalidWindowHandle).
bool SendMessageWithTimeout(WindowHandle window, std::uint32_t msg, std::uint32_t wParam,
                            std::uint32_t lParam, std::uint32_t timeoutMs, std::uintptr_t* reply);

// GetLastError / SetLastError: per thread.
std::uint32_t LastError();
void SetLastError(std::uint32_t code);

// Sleep.
void SleepMs(std::uint32_t milliseconds);
// GetCurrentProcessId.
std::uint32_t CurrentProcessId();

}  // namespace platform
