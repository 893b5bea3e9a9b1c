// A device server of platform/device_server.h on POSIX: its state, shared by the file that
// starts, sends and stops (posix_device_server.cpp) and the one that serves
// (posix_device_serve.cpp). Internal to the POSIX backend.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/device_server.h"

namespace platform {

namespace posix {
inline constexpr int kDeviceOpeners = 8;
}

struct DeviceServer {
  DeviceServerSetup setup;
  std::string unit;
  std::string paths[kDeviceChannels];  // P, P\PIPE00, P\PIPE01
  std::string entryPath;               // published: R/devices/{G}/<unit>
  int entryFd = -1;
  int listeners[kDeviceChannels] = {-1, -1, -1};
  int wakeRead = -1;  // self-pipe: the serving poll wakes for a stop, a drop or a hold
  int wakeWrite = -1;
  // The openers' connections: the serving thread's own, but for PIPE00's, which senders use
  // under sendLock (the serving thread changes it only under that lock).
  int device[posix::kDeviceOpeners] = {-1, -1, -1, -1, -1, -1, -1, -1};
  int readConn = -1;
  int writeConn = -1;
  std::mutex sendLock;
  std::atomic<bool> readOpen{false};
  std::atomic<bool> stop{false};
  std::atomic<bool> drop{false};
  std::atomic<bool> held{false};
  std::thread thread;
};

namespace posix {

// The serving thread's body: until `stop`.
void ServeDevice(DeviceServer& server);
// Ends every connection without telling the handler (the stop's).
void EndDeviceConnections(DeviceServer& server);
// Wakes the serving poll. Any thread.
void WakeDeviceServer(DeviceServer& server);

}  // namespace posix

}  // namespace platform
