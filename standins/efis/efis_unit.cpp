// korvan-efis on every platform: the unit served through platform/device_server.h. Frames and
// events come in on the device's serving thread and are taken under the unit's lock; the
// platform's loop turns on the unit's own thread.
#include "standins/efis/efis_unit.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "standins/common/failure.h"
#include "standins/efis/unit_loop.h"

namespace efisunit {

namespace {

constexpr platform::DeviceClassGuid kEfisClass = {
    0x0577ABC6, 0xB5F2, 0x4025, {0x82, 0x30, 0xAA, 0x4F, 0x8C, 0x0E, 0x9E, 0x60}};

void OnEvent(void* context, platform::DeviceChannel channel, platform::DeviceEvent event) {
  RunningUnit& unit = *static_cast<RunningUnit*>(context);
  const bool readPipeOpened =
      channel == platform::DeviceChannel::ReadPipe && event == platform::DeviceEvent::Opened;
  {
    std::lock_guard<std::mutex> hold(unit.lock);
    ReportChannel(unit.report, platform::kDeviceEventNames[static_cast<int>(event)],
                  platform::kDeviceChannelNames[static_cast<int>(channel)]);
    if (readPipeOpened) PanelPipeOpened(unit.panel, UnitNowMs());
  }
  if (readPipeOpened) WakeUnitLoop();  // the outputs start now
}

// Each frame to the report and the panel; --drop-after unplugs the unit once.
void OnFrame(void* context, const std::uint8_t* frame, std::uint32_t size) {
  RunningUnit& unit = *static_cast<RunningUnit*>(context);
  std::lock_guard<std::mutex> hold(unit.lock);
  if (ReportFrame(unit.report, frame, size)) PanelTakeFrame(unit.panel, frame, size);
  const long after = unit.options->dropAfter;
  if (after > 0 && !unit.dropped && unit.report.frames >= after) {
    unit.dropped = true;
    platform::DropDeviceConnections(unit.device);
    Record(unit.report, "drop after %ld frames", unit.report.frames);
    Say("dropped every connection after %ld frames", unit.report.frames);
  }
}

bool SendFrame(void* context, const std::uint8_t* frame, std::size_t size) {
  return platform::SendDeviceFrame(static_cast<platform::DeviceServer*>(context), frame,
                                   static_cast<std::uint32_t>(size), 0);
}

bool ValidUnitName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos;
}

bool OpenRecord(const UnitOptions& options, FrameReport& report) {
  if (options.record.empty()) return true;
  report.record = std::fopen(options.record.c_str(), "a");
  if (report.record != nullptr) return true;
  standins::SayLibraryFailure("korvan-efis", "fopen " + options.record, errno);
  return false;
}

platform::DeviceServer* StartDevice(RunningUnit& unit) {
  const UnitOptions& options = *unit.options;
  const std::string description = "Korvan EFIS stand-in " + options.unit;
  platform::DeviceServerSetup setup;
  setup.interfaceClass = kEfisClass;
  setup.unit = options.unit.c_str();
  setup.refuse[0] = options.failDevice;
  setup.refuse[1] = options.refuseRead;
  setup.refuse[2] = options.refuseWrite;
  setup.frame = OnFrame;
  setup.event = OnEvent;
  setup.context = &unit;
  setup.description = description.c_str();
  char why[512] = "";
  platform::DeviceServer* device = platform::StartDeviceServer(setup, why, sizeof why);
  if (device == nullptr) std::fprintf(stderr, "korvan-efis: %s\n", why);
  return device;
}

// Serves until stopped; false when the panel window it needs did not open.
bool Serve(RunningUnit& unit, UnitOutputs& outputs) {
  {
    std::lock_guard<std::mutex> hold(unit.lock);
    Say("korvan-efis ready: unit %s, device %s", unit.options->unit.c_str(),
        platform::DeviceServerPath(unit.device));
    outputs.Begin();
  }
  const bool served = ServeUnitLoop(unit);
  platform::StopDeviceServer(unit.device);
  unit.device = nullptr;
  outputs.End();
  SayLastFrames(unit.report);
  return served;
}

}  // namespace

std::uint64_t UnitNowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

int UnitTurn(RunningUnit& unit, bool keys) {
  std::lock_guard<std::mutex> hold(unit.lock);
  if (keys) unit.outputs->KeysReady(UnitNowMs());
  EngageWhenDue(unit.panel);
  unit.outputs->SendDue(platform::DeviceReadPipeOpen(unit.device), UnitNowMs());
  return ShowPanel(unit.panel);
}

int RunUnit(const UnitOptions& options) {
  if (!options.replay.empty()) return RunReplay(options);
  if (!ValidUnitName(options.unit)) {
    std::fprintf(stderr, "korvan-efis: bad unit name \"%s\" (no '/', '\\' or leading '.')\n",
                 options.unit.c_str());
    return 2;
  }
  static RunningUnit unit;  // large (the last frames); one per process
  unit.options = &options;
  unit.report.verbose = options.verbose;
  if (!OpenRecord(options, unit.report) || !BeginUnitLoop()) return 1;
  // Ready before the device serves: its first frame may come at once.
  UnitOutputs outputs(options.outputs);
  unit.outputs = &outputs;
  BeginPanel(unit.panel, options, outputs, unit.report);
  unit.device = StartDevice(unit);
  bool ok = unit.device != nullptr;
  if (ok) {
    outputs.SetSink(SendFrame, unit.device);
    ok = Serve(unit, outputs);
  }
  if (unit.report.record != nullptr) std::fclose(unit.report.record);
  if (ok) Say("korvan-efis stopped after %ld frames", unit.report.frames);
  return ok ? 0 : 1;
}

}  // namespace efisunit
