// The EFIS link's view of the operating system: enumerating the interfaces of a device interface
// class and the synchronous file calls on a device and its pipes.
//
// Win32: SetupDiGetClassDevsA, SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA,
// SetupDiDestroyDeviceInfoList, CreateFileA, ReadFile, WriteFile and FlushFileBuffers with the
// caller's arguments passed through. POSIX: the device contract of design.md under the namespace
// root of posix/posix_root.h (interface entries in R/devices/<class>/, devices and pipes as
// SOCK_SEQPACKET sockets). Failures are reported as Windows reports them: a false (or invalid)
// result and an error code readable with LastError() of platform/ipc.h. Each declaration says
// what it returns, its errors, threads and waits as platform/ipc.h lays out.
//
// Threads: the bridge makes the interface-set calls and OpenDeviceFile on its user-interface
// thread, reads on the reader thread and writes on the user-interface thread. A handle may be
// closed (CloseKernelHandle) on one thread while another blocks in ReadDeviceFile on it: the
// blocked read then fails instead of holding the close up. POSIX: a read or write is one call
// on the handle's own socket (a read on a StartThread thread also polls its kill event); the
// close shuts the socket down first, which ends a blocked call at once.
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
// holds the interfaces of that interface class, with kDigcfPresent only those present now.
// Returns  the set (close it with CloseDeviceInterfaceSet); a class without interfaces gives an
//          empty set, not a failure. kInvalidDeviceInfoSet on failure.
// Errors   kErrorInvalidFlags: flag bits SetupAPI does not know.
//          POSIX: kErrorInvalidParameter when 16 sets are open at once (Windows has no such
//          limit; the bridge holds one at a time).
// Thread   any.   Blocks  no.
// POSIX: the set is a snapshot of R/devices/<class in braces form>/, entries in ascending byte
// order of their names, an entry present while its owner holds an flock on it.
DeviceInfoSet OpenDeviceInterfaceSet(const DeviceClassGuid& interfaceClass, std::uint32_t flags);

// SetupDiEnumDeviceInterfaces(set, NULL, &interfaceClass, index, data): the interface at
// `index` of the set into *data, whose cbSize the caller sets.
// Returns  true with *data filled; false on failure.
// Errors   kErrorNoMoreItems: the set has no interface of the class at `index` (the end of an
//          enumeration).
//          kErrorInvalidUserBuffer: data->cbSize is not kDeviceInterfaceDataSize.
//          kErrorInvalidHandle: a set that is not open.
// Thread   any.   Blocks  no.
bool EnumDeviceInterface(DeviceInfoSet set, const DeviceClassGuid& interfaceClass,
                         std::uint32_t index, DeviceInterfaceData* data);

// SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, requiredSize, NULL): the
// interface's device path. The sizing call passes detail null and detailSize 0. The filling call
// passes a buffer whose first 4 bytes hold kDeviceInterfaceDetailSize and its size; it writes
// the path from offset 4 and never more than detailSize bytes.
// Returns  true once the path is written; the sizing call always fails. Both store the bytes the
//          detail needs (4 + path length + 1) in *requiredSize; requiredSize may be null.
// Errors   kErrorInsufficientBuffer: the sizing call, or a detailSize below what is needed.
//          kErrorInvalidUserBuffer: a cbSize other than kDeviceInterfaceDetailSize in the
//          buffer, or a buffer too small to hold it.
//          kErrorInvalidHandle: a set that is not open. POSIX: kErrorInvalidParameter for data
//          that EnumDeviceInterface did not fill from this set.
// Thread   any.   Blocks  no.
bool GetDeviceInterfaceDetail(DeviceInfoSet set, DeviceInterfaceData* data, void* detail,
                              std::uint32_t detailSize, std::uint32_t* requiredSize);

// SetupDiDestroyDeviceInfoList.
// Returns  true; false with kErrorInvalidHandle for a set that is not open.
// Thread   any.   Blocks  no.
bool CloseDeviceInterfaceSet(DeviceInfoSet set);

// CreateFileA(path, access, share, NULL, creation, flags, NULL) on a device or one of its pipes.
// POSIX: a connect to the socket at `path`, then one answer byte from the unit (1 opened,
// 0 refused); share and flags are not looked at (sharing is the unit's decision).
// Returns  the handle (close it with CloseKernelHandle: the close is complete when that returns,
//          as on Windows, so a pipe's one opener may open it again at once; POSIX shuts the
//          socket down before returning, even while another thread's read holds it, so the
//          unit sees the close before any later open); kInvalidHandle on failure.
// Errors   kErrorFileNotFound: nothing serves the path.
//          kErrorSharingViolation: the device refuses the open (a pipe has its one opener).
//          kErrorAccessDenied: the path may not be opened by this user.
//          POSIX: kErrorInvalidParameter for a null path or a creation other than
//          kOpenExisting; kErrorSemTimeout when the unit does not answer within 2 s;
//          kErrorDeviceNotConnected when it goes before answering; kErrorTooManyOpenFiles.
// Thread   any (the bridge: the user-interface thread).
// Blocks   Win32: as the driver takes. POSIX: up to 2 s for the unit's answer.
Handle OpenDeviceFile(const char* path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t creation, std::uint32_t flags);

// ReadFile(file, buffer, size, done, NULL): one frame of the device, of which at most `size`
// bytes are stored; *done (done may be null) gets the count, 0 on failure. The rest of a longer
// frame is dropped, so it is never taken for a frame of its own: POSIX drops the rest of the
// packet; a Windows message-mode pipe keeps it and fails the read with ERROR_MORE_DATA, so the
// Win32 backend reads on until that message is consumed and returns the head as the frame. A
// size of 0 succeeds at once (POSIX).
// Returns  true with a frame; false on failure.
// Errors   kErrorDeviceNotConnected: the device is gone.
//          kErrorAccessDenied: the handle has no read access.
//          kErrorInvalidHandle: the handle is not open, or is closed during the read.
//          POSIX: kErrorOperationAborted when the calling thread (one of platform/thread.h) is
//          killed: the read gives up without taking a frame (the next reader gets it);
//          kErrorInvalidParameter for a null buffer.
// Thread   any (the bridge: the EFIS reader thread).
// Blocks   until a frame comes, the device goes, or the handle is closed; POSIX also until the
//          thread is killed. No time limit.
bool ReadDeviceFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* done);

// WriteFile(file, buffer, size, done, NULL): hands the whole buffer to the device as one frame;
// *done (done may be null) gets the count written. A size of 0 succeeds and sends nothing
// (POSIX). A write the device has not taken within kDeviceWriteBoundMs fails: a unit that
// stops reading its pipe costs its writer that long, not as long as it hangs. Win32 cancels
// the synchronous WriteFile (CancelSynchronousIo from a timer); POSIX sends without blocking
// and waits for room only while the socket is full.
// Returns  true once the device has the frame; false on failure.
// Errors   kErrorDeviceNotConnected: the device is gone.
//          kErrorOperationAborted: the device did not take the frame within the bound.
//          kErrorAccessDenied: the handle has no write access.
//          kErrorInvalidHandle: the handle is not open.
//          POSIX: kErrorInvalidParameter for a null buffer or a frame too large for the socket.
// Thread   any (the bridge: the user-interface thread). Win32: the writes and flushes of a
//          process are made one at a time.
// Blocks   while the device does not take the frame, at most about kDeviceWriteBoundMs.
inline constexpr std::uint32_t kDeviceWriteBoundMs = 2000;
bool WriteDeviceFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* done);

// FlushFileBuffers(file).
// Returns  true while the device is connected. POSIX: nothing is buffered on our side, so the
//          flush makes no system call: true unless a read or write on the handle has found the
//          device gone (one gone since is found by the next read or write).
// Errors   kErrorDeviceNotConnected: the device is gone. kErrorAccessDenied: no write access.
//          kErrorInvalidHandle: the handle is not open.
//          Win32: kErrorOperationAborted when it has not returned within kDeviceWriteBoundMs.
// Thread   any (the bridge: the user-interface thread).
// Blocks   Win32: until the driver has passed on what was written (a named pipe: until the other
//          end has read it), at most about kDeviceWriteBoundMs. POSIX: no.
bool FlushDeviceFile(Handle file);

}  // namespace platform
