// Test helper: a device unit that the test serves itself, through platform/device_server.h, so
// a test reads as "a unit and an opener". It keeps every frame and event the server sees; the
// test reads them from its own thread and waits for them with generous bounds. Portable: the
// same helper serves on both backends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_server.h"

namespace testsupport {

using Frame = std::vector<std::uint8_t>;

// What a wait gives the unit by default: far more than any machine takes.
inline constexpr int kUnitWaitMs = 60000;

// The EFIS class, {0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}.
inline constexpr platform::DeviceClassGuid kEfisClass = {
    0x0577ABC6, 0xB5F2, 0x4025, {0x82, 0x30, 0xAA, 0x4F, 0x8C, 0x0E, 0x9E, 0x60}};

struct UnitSetup {
  std::string name;  // empty: a name of its own (UniqueUnitName("unit"))
  bool publish = false;
  bool refuse[platform::kDeviceChannels] = {false, false, false};
};

class TestUnit {
 public:
  TestUnit() = default;
  ~TestUnit() { Stop(); }
  TestUnit(const TestUnit&) = delete;
  TestUnit& operator=(const TestUnit&) = delete;

  // Starts serving; false with ErrorText() saying why.
  bool Start(const UnitSetup& setup = {});
  // Stops serving (the openers' handles break). Harmless when not serving.
  void Stop();
  const std::string& ErrorText() const { return error_; }

  // P, or P followed by "\" and `pipe` ("PIPE00", "PIPE01").
  std::string Path(const char* pipe = nullptr) const;
  platform::DeviceServer* Server() const { return server_; }

  // A frame on PIPE00; with waitMs, once the opener has read it (SendDeviceFrame).
  bool Send(const Frame& frame, std::uint32_t waitMs = 0);
  void Hold(bool held) { platform::HoldDeviceFrames(server_, held); }
  void Drop() { platform::DropDeviceConnections(server_); }

  // The frames taken from PIPE01 so far (their kept bytes), and their whole sizes.
  std::vector<Frame> Frames();
  std::vector<std::uint32_t> FrameSizes();
  std::size_t FrameCount();
  // The frames of one type since the `from`th frame.
  std::vector<Frame> FramesOfType(std::uint8_t type, std::size_t from = 0);
  // Every event so far, as "open PIPE00", "close device", "refuse PIPE01"; the frames among them
  // as "frame N" (N: the frame's size).
  std::vector<std::string> Events();
  // Waits until `count` frames have come, or `count` events equal to `event`.
  bool WaitForFrames(std::size_t count, int timeoutMs = kUnitWaitMs);
  bool WaitForEvent(const std::string& event, int count = 1, int timeoutMs = kUnitWaitMs);
  // Called on the serving thread with each event as Events() words it, before it is kept.
  void OnEvent(std::function<void(const std::string&)> hook);

 private:
  static void TakeFrame(void* context, const std::uint8_t* frame, std::uint32_t size);
  static void TakeEvent(void* context, platform::DeviceChannel channel,
                        platform::DeviceEvent event);
  void Keep(const std::string& event);
  int CountEvent(const std::string& event) const;  // under mutex_

  platform::DeviceServer* server_ = nullptr;
  std::string error_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> sizes_;
  std::vector<std::string> events_;
  std::function<void(const std::string&)> hook_;
};

// A unit name no other test run has at the same time: `tag`, the process id and a count.
std::string UniqueUnitName(const char* tag);

}  // namespace testsupport
