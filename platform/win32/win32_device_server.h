// A device server of platform/device_server.h on Windows: its state, shared by the file that
// serves the pipes (win32_device_server.cpp) and the one that publishes the interface
// (win32_device_publish.cpp). Internal to the Win32 backend.
#pragma once

#include <windows.h>
// windows.h first: SetupAPI builds on its types.
#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/device_server.h"

namespace platform {

namespace win32 {

inline constexpr int kDeviceOpeners = 8;

// One pipe instance and its pending operation: a wait for an opener, or a read.
struct Slot {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED io{};
  DWORD error = 0;          // the operation failed as it was started
  bool atOnce = false;      // the listener's opener came before its wait began
  bool reading = false;     // a read is pending (or done and not yet looked at)
  bool more = false;        // the message read has more than the buffer: its rest is being dropped
  std::uint32_t total = 0;  // the bytes of the message so far
  std::uint8_t buffer[kServedFrameBytes] = {};
  std::uint8_t rest[kServedFrameBytes] = {};  // where the rest of a longer message goes

  bool Open() const { return pipe != INVALID_HANDLE_VALUE; }
};

// A channel's named pipe: its instance waiting for the next opener, and its openers'.
struct Channel {
  DeviceChannel which = DeviceChannel::Device;
  std::string name;
  bool served = false;
  int openers = 1;  // how many at once
  Slot listener;
  Slot conns[kDeviceOpeners];
};

// A frame queued for PIPE00.
struct Outgoing {
  std::uint8_t bytes[kServedFrameBytes];
  std::size_t size;
  bool ok;
};

// SetupAPI's record of the published device, and the link from its interface's path.
struct Publication {
  HDEVINFO set = INVALID_HANDLE_VALUE;  // holds the one device
  SP_DEVINFO_DATA device{};
  HANDLE link = nullptr;
};

}  // namespace win32

struct DeviceServer {
  DeviceServerSetup setup;
  std::string unit;
  std::string description;
  std::string path;  // P
  win32::Channel channels[kDeviceChannels];
  win32::Publication published;
  HANDLE stop = nullptr;  // manual: the serving thread ends
  HANDLE wake = nullptr;  // auto: a drop or a hold changed
  std::atomic<bool> drop{false};
  std::atomic<bool> held{false};
  std::atomic<bool> readOpen{false};
  std::thread server;

  // The sender: the frames queued for PIPE00, written one at a time on its own thread, each once
  // the opener has read the one before (its end may read the pipe in byte mode, where messages
  // that wait together are read together).
  static constexpr std::size_t kQueueLength = 8;
  std::thread sender;
  // Windows' own lock and condition: they make no handle as they are first contended (a
  // process's handles stay where they were, as its leak tests check).
  SRWLOCK sendLock = SRWLOCK_INIT;
  CONDITION_VARIABLE sendChanged = CONDITION_VARIABLE_INIT;
  win32::Outgoing queue[kQueueLength] = {};
  std::uint64_t queued = 0;  // frames queued so far
  std::uint64_t done = 0;    // frames read by the opener, or failed, so far
  std::uint64_t stale = 0;   // frames before this one belong to a connection that ended
  bool stopping = false;
  HANDLE toOpener = nullptr;  // PIPE00's connected instance (the server's end)
};

namespace win32 {

// Holds the sender's lock for a scope.
class SendLock {
 public:
  explicit SendLock(DeviceServer& s) : lock_(s.sendLock) { AcquireSRWLockExclusive(&lock_); }
  ~SendLock() { ReleaseSRWLockExclusive(&lock_); }
  SendLock(const SendLock&) = delete;
  SendLock& operator=(const SendLock&) = delete;

 private:
  SRWLOCK& lock_;
};

// The layer, the step and the system's text for `code` into `why`; LastError gets `code`.
bool Fail(char* why, std::size_t whySize, const char* layer, const std::string& step, DWORD code);

// Publishes the device and its interface, linked to the device's pipe; sets server.path. False
// with `why`; what was made is left for WithdrawDevice.
bool PublishDevice(DeviceServer& server, char* why, std::size_t whySize);
void WithdrawDevice(DeviceServer& server);

}  // namespace win32

}  // namespace platform
