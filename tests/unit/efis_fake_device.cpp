#include "tests/unit/efis_fake_device.h"

#include <cstdio>
#include <cstring>

#include "platform/device.h"
#include "platform/thread.h"

namespace fakedevice {

Config config;
std::vector<std::string> calls;
std::vector<std::vector<std::uint8_t>> written;
std::vector<std::string> eventCalls;
bool waitResult = true;
int writes = 0;

namespace {
platform::Handle nextHandle = 100;
std::set<platform::Handle> openHandles;
constexpr platform::DeviceInfoSet kSet = 0x5E7;
}  // namespace

std::uint32_t lastError = 0;
void FakeError(std::uint32_t code) {
  lastError = code;
}

void Reset() {
  config = Config{};
  calls.clear();
  written.clear();
  writes = 0;
  nextHandle = 100;
  openHandles.clear();
  eventCalls.clear();
  waitResult = true;
}

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) out.push_back(call);
  }
  return out;
}

}  // namespace fakedevice

namespace platform {

using namespace fakedevice;

DeviceInfoSet OpenDeviceInterfaceSet(const DeviceClassGuid& g, std::uint32_t flags) {
  char text[80];
  std::snprintf(text, sizeof text, "set 0x%X %08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                flags, g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  calls.push_back(text);
  return config.noSet ? kInvalidDeviceInfoSet : kSet;
}

bool EnumDeviceInterface(DeviceInfoSet set, const DeviceClassGuid&, std::uint32_t index,
                         DeviceInterfaceData* data) {
  calls.push_back("enum " + std::to_string(index));
  if (set != kSet || data->cbSize != kDeviceInterfaceDataSize) {
    FakeError(kErrorInvalidUserBuffer);
    return false;
  }
  if (index >= config.paths.size()) {
    FakeError(kErrorNoMoreItems);
    return false;
  }
  data->Reserved = index + 1;
  return true;
}

bool GetDeviceInterfaceDetail(DeviceInfoSet, DeviceInterfaceData* data, void* detail,
                              std::uint32_t detailSize, std::uint32_t* requiredSize) {
  const std::size_t index = data->Reserved - 1;
  const std::string& path = config.paths.at(index);
  const std::uint32_t need = static_cast<std::uint32_t>(4 + path.size() + 1);
  if (detail == nullptr) {
    calls.push_back("size " + std::to_string(index) + " " + std::to_string(detailSize));
    if (requiredSize != nullptr) *requiredSize = need;
    FakeError(kErrorInsufficientBuffer);
    return false;
  }
  std::uint32_t cbSize;
  std::memcpy(&cbSize, detail, 4);
  calls.push_back("fill " + std::to_string(index) + " " + std::to_string(detailSize) + " cb " +
                  std::to_string(cbSize));
  if (cbSize != kDeviceInterfaceDetailSize || detailSize < need) {
    FakeError(cbSize != kDeviceInterfaceDetailSize ? kErrorInvalidUserBuffer
                                                   : kErrorInsufficientBuffer);
    return false;
  }
  if (static_cast<int>(index) == config.detailFailsAt) {
    FakeError(kErrorInvalidParameter);
    return false;
  }
  // Like the real call: the whole path and its NUL, so AddressSanitizer sees any short buffer.
  std::memcpy(static_cast<char*>(detail) + 4, path.c_str(), path.size() + 1);
  return true;
}

bool CloseDeviceInterfaceSet(DeviceInfoSet) {
  calls.push_back("free");
  return true;
}

Handle OpenDeviceFile(const char* path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t creation, std::uint32_t flags) {
  char text[64];
  std::snprintf(text, sizeof text, " 0x%X %u %u %u", access, share, creation, flags);
  calls.push_back("open " + std::string(path) + text);
  if (config.refusedOpens.count(path) != 0) {
    FakeError(kErrorSharingViolation);
    return kInvalidHandle;
  }
  Handle handle = nextHandle++;
  openHandles.insert(handle);
  return handle;
}

bool ReadDeviceFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  calls.push_back("read " + std::to_string(file) + " " + std::to_string(size));
  if (done != nullptr) *done = 0;
  if (config.reads.empty()) {
    FakeError(kErrorDeviceNotConnected);
    return false;
  }
  const Config::Read read = config.reads.front();
  config.reads.pop_front();
  if (!read.ok) {
    FakeError(kErrorDeviceNotConnected);
    return false;
  }
  // At most `size` bytes, as the real read cuts a longer frame.
  const std::size_t n = read.bytes.size() < size ? read.bytes.size() : size;
  if (n > 0) std::memcpy(buffer, read.bytes.data(), n);
  if (done != nullptr) *done = static_cast<std::uint32_t>(n);
  return true;
}

bool WriteDeviceFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  calls.push_back("write " + std::to_string(file) + " " + std::to_string(size));
  const int n = writes++;
  if (openHandles.count(file) == 0 || n == config.writeFailsAt) {
    FakeError(kErrorDeviceNotConnected);
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  written.emplace_back(bytes, bytes + size);
  if (done != nullptr) *done = size;
  return true;
}

bool FlushDeviceFile(Handle file) {
  calls.push_back("flush " + std::to_string(file));
  return true;
}

void PauseThread(std::uint32_t milliseconds) {
  calls.push_back("pause " + std::to_string(milliseconds));
}

bool ThreadKilled() {
  return false;
}

Handle CreateManualEvent() {
  fakedevice::eventCalls.push_back("create 400");
  return 400;
}

bool SetManualEvent(Handle event) {
  fakedevice::eventCalls.push_back("set " + std::to_string(event));
  return true;
}

bool ResetManualEvent(Handle event) {
  fakedevice::eventCalls.push_back("reset " + std::to_string(event));
  return true;
}

bool WaitForManualEvent(Handle event) {
  fakedevice::eventCalls.push_back("wait " + std::to_string(event));
  return fakedevice::waitResult;
}

bool CloseKernelHandle(Handle handle) {
  calls.push_back("close " + std::to_string(handle));
  return openHandles.erase(handle) == 1;
}

}  // namespace platform
