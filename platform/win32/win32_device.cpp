// Device interfaces and device files through SetupAPI and the kernel, arguments passed through.
#include <windows.h>
// windows.h first: SetupAPI builds on its types.
#include <setupapi.h>

#include <cstddef>

#include "platform/device.h"

namespace platform {

// The codes and argument values of device.h are Windows' own.
static_assert(kErrorSemTimeout == ERROR_SEM_TIMEOUT);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kErrorInvalidFlags == ERROR_INVALID_FLAGS);
static_assert(kErrorInvalidUserBuffer == ERROR_INVALID_USER_BUFFER);
static_assert(kErrorOperationAborted == ERROR_OPERATION_ABORTED);
static_assert(kDigcfPresent == DIGCF_PRESENT);
static_assert(kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(kGenericRead == GENERIC_READ);
static_assert(kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ);
static_assert(kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kOpenExisting == OPEN_EXISTING);

// Our records are the SDK's, so the sizes the caller sets are the ones this build's SetupAPI
// demands (32 and 8 on x86_64, 28 and 5 on 32-bit Windows).
static_assert(sizeof(DeviceClassGuid) == sizeof(GUID));
static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, InterfaceClassGuid) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(offsetof(DeviceInterfaceData, Flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(DeviceInterfaceData, Reserved) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(kDeviceInterfaceDetailSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
static_assert(kDeviceInterfaceDetailPathOffset ==
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));

namespace {

HDEVINFO AsSet(DeviceInfoSet set) {
  return reinterpret_cast<HDEVINFO>(set);
}
HANDLE AsHandle(Handle file) {
  return reinterpret_cast<HANDLE>(file);
}
const GUID* AsGuid(const DeviceClassGuid& guid) {
  return reinterpret_cast<const GUID*>(&guid);
}

}  // namespace

DeviceInfoSet OpenDeviceInterfaceSet(const DeviceClassGuid& interfaceClass, std::uint32_t flags) {
  HDEVINFO set = SetupDiGetClassDevsA(AsGuid(interfaceClass), nullptr, nullptr, flags);
  return reinterpret_cast<DeviceInfoSet>(set);
}

bool EnumDeviceInterface(DeviceInfoSet set, const DeviceClassGuid& interfaceClass,
                         std::uint32_t index, DeviceInterfaceData* data) {
  return SetupDiEnumDeviceInterfaces(AsSet(set), nullptr, AsGuid(interfaceClass), index,
                                     reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
}

bool GetDeviceInterfaceDetail(DeviceInfoSet set, DeviceInterfaceData* data, void* detail,
                              std::uint32_t detailSize, std::uint32_t* requiredSize) {
  DWORD required = 0;
  BOOL ok = SetupDiGetDeviceInterfaceDetailA(
      AsSet(set), reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
      static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail), detailSize,
      requiredSize != nullptr ? &required : nullptr, nullptr);
  if (requiredSize != nullptr) *requiredSize = required;
  return ok != FALSE;
}

bool CloseDeviceInterfaceSet(DeviceInfoSet set) {
  return SetupDiDestroyDeviceInfoList(AsSet(set)) != FALSE;
}

Handle OpenDeviceFile(const char* path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t creation, std::uint32_t flags) {
  HANDLE file = CreateFileA(path, access, share, nullptr, creation, flags, nullptr);
  return reinterpret_cast<Handle>(file);
}

namespace {

// Reads what is left of a message a read took only the head of. The tail is part of that frame,
// never one of its own: it goes, as POSIX drops the rest of a packet. A failure here is for the
// next read to find.
void DropRestOfMessage(HANDLE file) {
  std::uint8_t rest[256];
  DWORD ignored = 0;
  while (!ReadFile(file, rest, sizeof rest, &ignored, nullptr) &&
         GetLastError() == ERROR_MORE_DATA) {
  }
}

}  // namespace

bool ReadDeviceFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD count = 0;
  BOOL ok = ReadFile(AsHandle(file), buffer, size, &count, nullptr);
  if (!ok && GetLastError() == ERROR_MORE_DATA) {
    DropRestOfMessage(AsHandle(file));
    ok = TRUE;  // the head is the frame
  }
  if (done != nullptr) *done = count;
  return ok != FALSE;
}

namespace {

// The call in progress, for the timer that cancels it once the bound has passed. Calls go one
// at a time (BoundLock), so one timer serves them all.
struct PendingCall {
  HANDLE thread = nullptr;  // the calling thread, for CancelSynchronousIo
  HANDLE file = nullptr;
  bool active = false;
  bool cancelled = false;
};

SRWLOCK BoundLock = SRWLOCK_INIT;
CRITICAL_SECTION PendingLock;
PendingCall Pending;
PTP_TIMER BoundTimer = nullptr;
INIT_ONCE BoundTimerMade = INIT_ONCE_STATIC_INIT;

void CALLBACK OnBoundPassed(PTP_CALLBACK_INSTANCE, void*, PTP_TIMER) {
  EnterCriticalSection(&PendingLock);
  if (Pending.active && !Pending.cancelled) {
    Pending.cancelled = true;
    // Either reaches a synchronous call on a pipe or a driver's device; the second is for a
    // system without the first.
    if (!CancelSynchronousIo(Pending.thread)) CancelIoEx(Pending.file, nullptr);
  }
  LeaveCriticalSection(&PendingLock);
}

BOOL CALLBACK MakeBoundTimer(PINIT_ONCE, void*, void**) {
  InitializeCriticalSection(&PendingLock);
  BoundTimer = CreateThreadpoolTimer(OnBoundPassed, nullptr, nullptr);
  return TRUE;
}

// A real handle on the calling thread, opened once per thread (the one thread that writes to
// the unit lives as long as the program's window).
HANDLE ThisThread() {
  thread_local HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
  return thread;
}

// Runs the synchronous `call` on `file`, cancelled if it has not returned within
// kDeviceWriteBoundMs. A call that came back after its cancel fails with ERROR_OPERATION_ABORTED
// whatever it says: its caller is told it took too long.
template <typename Call>
bool WithinBound(HANDLE file, Call call) {
  InitOnceExecuteOnce(&BoundTimerMade, MakeBoundTimer, nullptr, nullptr);
  AcquireSRWLockExclusive(&BoundLock);
  EnterCriticalSection(&PendingLock);
  Pending = PendingCall{ThisThread(), file, true, false};
  LeaveCriticalSection(&PendingLock);
  // Negative: relative to now, in 100 ns units.
  const auto due = static_cast<ULONGLONG>(-static_cast<LONGLONG>(kDeviceWriteBoundMs) * 10000);
  FILETIME dueTime{static_cast<DWORD>(due), static_cast<DWORD>(due >> 32)};
  SetThreadpoolTimer(BoundTimer, &dueTime, 0, 0);

  const BOOL ok = call();
  const DWORD error = GetLastError();

  SetThreadpoolTimer(BoundTimer, nullptr, 0, 0);
  WaitForThreadpoolTimerCallbacks(BoundTimer, TRUE);  // no late callback reaches the next call
  EnterCriticalSection(&PendingLock);
  const bool cancelled = Pending.cancelled;
  Pending.active = false;
  LeaveCriticalSection(&PendingLock);
  ReleaseSRWLockExclusive(&BoundLock);

  if (ok && !cancelled) return true;
  SetLastError(cancelled ? ERROR_OPERATION_ABORTED : error);
  return false;
}

}  // namespace

bool WriteDeviceFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD count = 0;
  const bool ok = WithinBound(
      AsHandle(file), [&] { return WriteFile(AsHandle(file), buffer, size, &count, nullptr); });
  if (done != nullptr) *done = count;
  return ok;
}

// A named pipe's flush waits until the other end has read everything: as long as a write.
bool FlushDeviceFile(Handle file) {
  return WithinBound(AsHandle(file), [&] { return FlushFileBuffers(AsHandle(file)); });
}

}  // namespace platform
