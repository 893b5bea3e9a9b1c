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

bool ReadDeviceFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD count = 0;
  BOOL ok = ReadFile(AsHandle(file), buffer, size, &count, nullptr);
  if (done != nullptr) *done = count;
  return ok != FALSE;
}

bool WriteDeviceFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  DWORD count = 0;
  BOOL ok = WriteFile(AsHandle(file), buffer, size, &count, nullptr);
  if (done != nullptr) *done = count;
  return ok != FALSE;
}

bool FlushDeviceFile(Handle file) {
  return FlushFileBuffers(AsHandle(file)) != FALSE;
}

}  // namespace platform
