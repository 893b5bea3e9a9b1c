#include "efis/EfisLink.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "efis/FrameBuffers.h"
#include "platform/device.h"
#include "platform/thread.h"
#include "platform/toolkit.h"

TEfisLink EfisLink;

namespace {

TMemo* LogMemo = nullptr;
TButton* ReconnectButton = nullptr;

constexpr platform::DeviceClassGuid kEfisInterfaceClass = {
    0x0577ABC6, 0xB5F2, 0x4025, {0x82, 0x30, 0xAA, 0x4F, 0x8C, 0x0E, 0x9E, 0x60}};

// Room for a 256-character path and its NUL after the 32-bit size field.
constexpr std::uint32_t kDetailRecordSize = 261;
alignas(8) std::uint8_t DetailRecord[kDetailRecordSize];
// A longer path is read here instead, grown to the size the interface asks for; the record is
// never written past its end.
std::vector<std::uint64_t> LongDetail;
platform::DeviceInterfaceData InterfaceData;

// Steps 1 to 4 of one interface: false ends the enumeration.
bool ReadInterfacePath(platform::DeviceInfoSet set, std::uint32_t index) {
  InterfaceData.cbSize = platform::kDeviceInterfaceDataSize;
  if (!platform::EnumDeviceInterface(set, kEfisInterfaceClass, index, &InterfaceData)) {
    return false;
  }
  std::uint32_t required = 0;
  platform::GetDeviceInterfaceDetail(set, &InterfaceData, nullptr, 0, &required);

  std::uint8_t* detail = DetailRecord;
  if (required > kDetailRecordSize) {
    if (LongDetail.size() * sizeof(std::uint64_t) < required) {
      LongDetail.resize((required + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    }
    detail = reinterpret_cast<std::uint8_t*>(LongDetail.data());
  }
  const std::uint32_t cbSize = platform::kDeviceInterfaceDetailSize;
  std::memcpy(detail, &cbSize, sizeof cbSize);
  if (!platform::GetDeviceInterfaceDetail(set, &InterfaceData, detail, required, nullptr)) {
    return false;
  }
  // Up to the NUL, and never beyond what the call was allowed to fill.
  const char* path =
      reinterpret_cast<const char*>(detail) + platform::kDeviceInterfaceDetailPathOffset;
  std::size_t room = required > platform::kDeviceInterfaceDetailPathOffset
                         ? required - platform::kDeviceInterfaceDetailPathOffset
                         : 0;
  EfisLink.DevicePath.assign(path, strnlen(path, room));
  return true;
}

void CloseIfOpen(platform::Handle handle) {
  if (EfisHandleOpen(handle)) platform::CloseKernelHandle(handle);
}

// Sets or resets ReadChannelOpen, made first if it is not yet.
void MarkReadChannelOpen(bool open) {
  EfisPrepareReaderWait();
  const platform::Handle event = EfisLink.ReadChannelOpen.load();
  if (event == 0) return;
  if (open) {
    platform::SetManualEvent(event);
  } else {
    platform::ResetManualEvent(event);
  }
}

}  // namespace

void EfisAttachWindow(TMemo* log, TButton* reconnect) {
  LogMemo = log;
  ReconnectButton = reconnect;
}

void EfisLogLine(const char* line) {
  if (LogMemo != nullptr) LogMemo->Lines.Add(line);
}

void EfisSetReconnectEnabled(bool enabled) {
  if (ReconnectButton != nullptr) ReconnectButton->SetEnabled(enabled);
}

bool FindEfisDevice() {
  platform::DeviceInfoSet set = platform::OpenDeviceInterfaceSet(
      kEfisInterfaceClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  if (set == platform::kInvalidDeviceInfoSet) return false;
  bool found = false;
  for (std::uint32_t index = 0; ReadInterfacePath(set, index); ++index) found = true;
  platform::CloseDeviceInterfaceSet(set);
  return found;
}

void EfisPrepareReaderWait() {
  if (EfisLink.ReadChannelOpen.load() != 0) return;
  const platform::Handle event = platform::CreateManualEvent();
  if (event != 0 && EfisHandleOpen(EfisLink.ReadChannel.load())) platform::SetManualEvent(event);
  EfisLink.ReadChannelOpen.store(event);
}

void EfisCloseHandles() {
  // Reset before the pipe goes: a reader that finds it empty then waits for the next connect.
  MarkReadChannelOpen(false);
  CloseIfOpen(EfisLink.WriteChannel);
  CloseIfOpen(EfisLink.ReadChannel.load());
  CloseIfOpen(EfisLink.DeviceHandle);
  EfisLink.WriteChannel = 0;
  EfisLink.ReadChannel.store(0);
  EfisLink.DeviceHandle = 0;
}

void EfisOpenChannels() {
  EfisLink.DeviceHandle = platform::OpenDeviceFile(
      EfisLink.DevicePath.c_str(), platform::kGenericRead | platform::kGenericWrite,
      platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting, 0);
  if (!EfisHandleOpen(EfisLink.DeviceHandle)) {
    EfisLogLine("Cannot get device handle for EFIS USB connection");
    EfisLink.EfisConnected = false;
    return;
  }
  const std::string readPath = EfisLink.DevicePath + "\\PIPE00";
  const std::string writePath = EfisLink.DevicePath + "\\PIPE01";
  EfisLink.ReadChannel.store(platform::OpenDeviceFile(readPath.c_str(), platform::kGenericRead, 0,
                                                      platform::kOpenExisting, 0));
  EfisLink.WriteChannel = platform::OpenDeviceFile(writePath.c_str(), platform::kGenericWrite, 0,
                                                   platform::kOpenExisting, 0);
  if (EfisHandleOpen(EfisLink.ReadChannel.load())) {
    EfisLogLine("EFIS data read channel OK");
    // Set after the pipe is stored: a reader woken by it finds the pipe.
    MarkReadChannelOpen(true);
  } else {
    EfisLogLine("Cannot open data read channel to EFIS");
    EfisLink.EfisConnected = false;
  }
  if (EfisHandleOpen(EfisLink.WriteChannel)) {
    EfisLogLine("EFIS data write channel OK");
  } else {
    EfisLogLine("Cannot open data write channel to EFIS");
    EfisLink.EfisConnected = false;
  }
}

void EfisConnect() {
  EfisCloseHandles();
  if (FindEfisDevice()) {
    EfisLogLine("EFIS detected on USB, driver initialized.");
    EfisLink.EfisConnected = true;
  } else {
    EfisLogLine("Cannot find EFIS on USB. EFIS not responding or driver not installed.");
    EfisLink.EfisConnected = false;
  }
  if (EfisLink.EfisConnected) EfisOpenChannels();
  InitEfisFrames();
  if (EfisLink.EfisConnected) EfisSetReconnectEnabled(false);
}
