#include "tests/support/test_unit.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/ipc.h"

namespace testsupport {

bool TestUnit::Start(const UnitSetup& setup) {
  Stop();
  const std::string name = setup.name.empty() ? UniqueUnitName("unit") : setup.name;
  platform::DeviceServerSetup server;
  server.interfaceClass = kEfisClass;
  server.unit = name.c_str();
  server.publish = setup.publish;
  std::copy(std::begin(setup.refuse), std::end(setup.refuse), std::begin(server.refuse));
  server.frame = TakeFrame;
  server.event = TakeEvent;
  server.context = this;
  char why[512] = "";
  server_ = platform::StartDeviceServer(server, why, sizeof why);
  error_ = why;
  return server_ != nullptr;
}

void TestUnit::Stop() {
  platform::StopDeviceServer(server_);
  server_ = nullptr;
}

std::string TestUnit::Path(const char* pipe) const {
  std::string path = platform::DeviceServerPath(server_);
  if (pipe != nullptr) path = path + "\\" + pipe;
  return path;
}

bool TestUnit::Send(const Frame& frame, std::uint32_t waitMs) {
  return platform::SendDeviceFrame(server_, frame.data(), static_cast<std::uint32_t>(frame.size()),
                                   waitMs);
}

std::vector<Frame> TestUnit::Frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<std::uint32_t> TestUnit::FrameSizes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sizes_;
}

std::size_t TestUnit::FrameCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

std::vector<Frame> TestUnit::FramesOfType(std::uint8_t type, std::size_t from) {
  std::vector<Frame> found;
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = from; i < frames_.size(); ++i) {
    if (frames_[i].size() > 3 && frames_[i][3] == type) found.push_back(frames_[i]);
  }
  return found;
}

std::vector<std::string> TestUnit::Events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

bool TestUnit::WaitForFrames(std::size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return frames_.size() >= count; });
}

bool TestUnit::WaitForEvent(const std::string& event, int count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return CountEvent(event) >= count; });
}

int TestUnit::CountEvent(const std::string& event) const {
  return static_cast<int>(std::count(events_.begin(), events_.end(), event));
}

void TestUnit::OnEvent(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

void TestUnit::Keep(const std::string& event) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook = hook_;
  }
  if (hook) hook(event);
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(event);
  changed_.notify_all();
}

void TestUnit::TakeFrame(void* context, const std::uint8_t* frame, std::uint32_t size) {
  auto& unit = *static_cast<TestUnit*>(context);
  {
    std::lock_guard<std::mutex> lock(unit.mutex_);
    unit.frames_.emplace_back(frame, frame + std::min(size, platform::kServedFrameBytes));
    unit.sizes_.push_back(size);
  }
  unit.Keep("frame " + std::to_string(size));
}

void TestUnit::TakeEvent(void* context, platform::DeviceChannel channel,
                         platform::DeviceEvent event) {
  auto& unit = *static_cast<TestUnit*>(context);
  unit.Keep(std::string(platform::kDeviceEventNames[static_cast<int>(event)]) + " " +
            platform::kDeviceChannelNames[static_cast<int>(channel)]);
}

std::string UniqueUnitName(const char* tag) {
  static std::atomic<int> count{0};
  return std::string(tag) + "-" + std::to_string(platform::CurrentProcessId()) + "-" +
         std::to_string(++count);
}

}  // namespace testsupport
