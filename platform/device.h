// The EFIS link's view of the operating system: enumerating the interfaces of a device interface
// class and the synchronous file calls on a device and its pipes.
//
// Win32: SetupDiGetClassDevsA, SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA,
// SetupDiDestroyDeviceInfoList, CreateFileA, ReadFile, WriteFile and FlushFileBuffers with the
// caller's arguments passed through. POSIX: the device contract of design.md under the namespace
// root of posix/posix_root.h (interface entries in R/devices/<class>/, devices and pipes as
// SOCK_SEQPACKET sockets). Failures are reported as Windows reports them: a false (or invalid)
// result and an error code readable with LastError() of platform/ipc.h.
//
// Threads: the interface-set calls and OpenDeviceFile run on the user-interface thread. The file
// calls may run on any thread; a handle may be closed (CloseKernelHandle) on one thread while
// another blocks in ReadDeviceFile on it: the blocked read then fails instead of holding the
// close up.
#pragma once

#include <cstdint>

#include "platform/ipc.h"

namespace platform {

// Error codes of this area beyond those of ipc.h, numbered as Windows numbers them.
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorInvalidFlags = 1004;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
inline constexpr std::uint32_t kErrorOperationAborted = 995;  // the reading thread was killed

// Argument values of the calls below, as Windows defines them.
inline constexpr std::uint32_t kDigcfPresent = 0x02;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10;
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 1;
inline constexpr std::uint32_t kFileShareWrite = 2;
inline constexpr std::uint32_t kOpenExisting = 3;

// A GUID in its binary layout.
struct DeviceClassGuid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

// SP_DEVICE_INTERFACE_DATA, field for field. Its size is that of the build: 28 bytes for 32-bit
// code, 32 for x86_64, where the last field is 8 bytes wide and the record 8-aligned. SetupAPI
// refuses any other cbSize with kErrorInvalidUserBuffer, so a 64-bit program that sets the
// 32-bit value never finds a device.
struct DeviceInterfaceData {
  std::uint32_t cbSize;
  DeviceClassGuid InterfaceClassGuid;
  std::uint32_t Flags;
  std::uintptr_t Reserved;  // the set's own reference to the interface
};
inline constexpr std::uint32_t kDeviceInterfaceDataSize = sizeof(DeviceInterfaceData);

// SP_DEVICE_INTERFACE_DETAIL_DATA_A is a 32-bit cbSize followed by the NUL-terminated device
// path from offset 4. The cbSize it demands is sizeof of the SDK struct: 5 for 32-bit code (the
// SDK packs it to 1 byte there), 8 for x86_64 (4-byte alignment pads 5 to 8). The caller's
// buffer size is separate and counts the whole path.
inline constexpr std::uint32_t kDeviceInterfaceDetailSize = sizeof(void*) == 8 ? 8 : 5;
inline constexpr std::uint32_t kDeviceInterfaceDetailPathOffset = 4;

// A device information set (HDEVINFO). kInvalidDeviceInfoSet is INVALID_HANDLE_VALUE.
using DeviceInfoSet = std::uintptr_t;
inline constexpr DeviceInfoSet kInvalidDeviceInfoSet = ~DeviceInfoSet{0};

// SetupDiGetClassDevsA(&interfaceClass, NULL, NULL, flags). With kDigcfDeviceInterface the set
// holds the interfaces of that interface class, with kDigcfPresent only those present now. A
// class without interfaces gives an empty set, not a failure. Returns kInvalidDeviceInfoSet on
// failure (kErrorInvalidFlags for flag bits SetupAPI does not know). POSIX: the set is a snapshot
// of R/devices/<class in braces form>/, entries in ascending byte order of their names, an entry
// present while its owner holds an flock on it.
DeviceInfoSet OpenDeviceInterfaceSet(const DeviceClassGuid& interfaceClass, std::uint32_t flags);

// SetupDiEnumDeviceInterfaces(set, NULL, &interfaceClass, index, data). data->cbSize must be
// kDeviceInterfaceDataSize, else false with kErrorInvalidUserBuffer. False with
// kErrorNoMoreItems when the set has no interface of the class at `index`; kErrorInvalidHandle
// for a set that is not open.
bool EnumDeviceInterface(DeviceInfoSet set, const DeviceClassGuid& interfaceClass,
                         std::uint32_t index, DeviceInterfaceData* data);

// SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, requiredSize, NULL). The
// sizing call passes detail null and detailSize 0: it fails with kErrorInsufficientBuffer and
// stores the bytes the detail needs (4 + path length + 1) in *requiredSize. The filling call
// passes a buffer whose first 4 bytes hold kDeviceInterfaceDetailSize (anything else:
// kErrorInvalidUserBuffer) and its size; it writes the path from offset 4 and never more than
// detailSize bytes: a smaller size fails with kErrorInsufficientBuffer. requiredSize may be null.
bool GetDeviceInterfaceDetail(DeviceInfoSet set, DeviceInterfaceData* data, void* detail,
                              std::uint32_t detailSize, std::uint32_t* requiredSize);

// SetupDiDestroyDeviceInfoList. False with kErrorInvalidHandle for a set that is not open.
bool CloseDeviceInterfaceSet(DeviceInfoSet set);

// CreateFileA(path, access, share, NULL, creation, flags, NULL) on a device or one of its pipes.
// Returns kInvalidHandle on failure: kErrorFileNotFound when nothing serves the path,
// kErrorSharingViolation when the device refuses the open (a pipe has its one opener already).
// POSIX: a connect to the socket at `path`, then one answer byte from the unit (1 opened,
// 0 refused); a unit that does not answer within 2 s gives kErrorSemTimeout. Only kOpenExisting
// is meaningful for a device (others: kErrorInvalidParameter). Calls made on the user-interface
// thread.
// CloseKernelHandle closes the handle, and the close is complete when it returns, as on
// Windows: a pipe's one opener may open it again at once. POSIX: the socket is shut down before
// the call returns (even while another thread's read holds it), so the unit sees the close
// before any later open and counts it first.
Handle OpenDeviceFile(const char* path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t creation, std::uint32_t flags);

// ReadFile(file, buffer, size, done, NULL): blocks until the device delivers one frame and
// stores at most `size` bytes of it; *done gets the count. The rest of a longer frame: POSIX
// drops it; a Windows message-mode pipe keeps it for the next read and fails this one with
// ERROR_MORE_DATA (234), *done still counting the bytes stored. Fails with kErrorDeviceNotConnected
// when the device is gone, kErrorAccessDenied without read access, kErrorInvalidHandle when the
// handle is not open or is closed during the read. POSIX, on a thread of platform/thread.h: the
// read also waits on the thread's kill event and, once it is set, fails with
// kErrorOperationAborted without taking a frame (the next reader gets it). Any thread (the EFIS
// reader's).
bool ReadDeviceFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* done);

// WriteFile(file, buffer, size, done, NULL): hands the whole buffer to the device as one frame.
// Fails with kErrorDeviceNotConnected when the device is gone, kErrorAccessDenied without write
// access, kErrorInvalidHandle for a handle that is not open. done may be null. Any thread.
bool WriteDeviceFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* done);

// FlushFileBuffers(file): true while the device is connected (POSIX: nothing is buffered on our
// side); kErrorDeviceNotConnected once it is gone, kErrorAccessDenied without write access.
bool FlushDeviceFile(Handle file);

}  // namespace platform
