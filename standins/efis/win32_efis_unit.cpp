// korvan-efis.exe: the unit on Windows. The device (win32_efis_device.h) publishes the interface
// and serves the pipes on threads of its own; this thread sends the unit's outputs, reads the
// console's keys and shows the panel. Frames are taken in on the device's serving thread: the
// report, the panel and the outputs are shared with it under the unit's lock.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "standins/efis/efis_unit.h"
#include "standins/efis/unit_panel.h"
#include "standins/efis/unit_report.h"
#include "standins/efis/win32_efis_device.h"

namespace efisunit {
namespace {

constexpr DWORD kKeyPollMs = 100;

HANDLE StopEvent = nullptr;

struct Unit {
  const UnitOptions* options = nullptr;
  std::mutex mutex;  // the report, the panel and the outputs, shared with the serving thread
  FrameReport report;
  UnitPanel panel;
  bool dropped = false;
  std::atomic<long> readOpens{0};  // PIPE00 opens, for the outputs' schedule
  HANDLE wake = nullptr;
  Win32EfisDevice* device = nullptr;
};

BOOL WINAPI OnConsoleStop(DWORD) {
  SetEvent(StopEvent);
  return TRUE;
}

void Channel(Unit& unit, UnitPipe pipe, bool opened) {
  {
    std::lock_guard<std::mutex> lock(unit.mutex);
    ReportChannel(unit.report, opened ? "open" : "close",
                  pipe == UnitPipe::ToBridge ? "PIPE00" : "PIPE01");
  }
  if (pipe == UnitPipe::ToBridge && opened) {
    ++unit.readOpens;
    SetEvent(unit.wake);
  }
}

void Frame(Unit& unit, const std::uint8_t* frame, std::size_t size) {
  std::lock_guard<std::mutex> lock(unit.mutex);
  if (ReportFrame(unit.report, frame, size)) PanelTakeFrame(unit.panel, frame, size);
  if (unit.options->dropAfter > 0 && !unit.dropped &&
      unit.report.frames >= unit.options->dropAfter) {
    unit.dropped = true;
    unit.device->DropConnections();
    Record(unit.report, "drop after %ld frames", unit.report.frames);
    Say("dropped every connection after %ld frames", unit.report.frames);
  }
}

// One turn of the unit's thread: what is due now. Returns how long it may wait.
DWORD Turn(Unit& unit, UnitOutputs& outputs, long& opens) {
  std::lock_guard<std::mutex> lock(unit.mutex);
  if (unit.readOpens.load() != opens) {
    opens = unit.readOpens.load();
    PanelPipeOpened(unit.panel, UnitNowMs());
  }
  outputs.KeysReady(UnitNowMs());
  EngageWhenDue(unit.panel);
  outputs.SendDue(unit.device->ToBridgeOpen() ? 0 : -1, UnitNowMs());
  DWORD wait = static_cast<DWORD>(ShowPanel(unit.panel));
  if (outputs.KeyFd() >= 0 && wait > kKeyPollMs) wait = kKeyPollMs;
  return wait;
}

void Serve(Unit& unit, UnitOutputs& outputs) {
  long opens = 0;
  HANDLE waits[2] = {StopEvent, unit.wake};
  for (;;) {
    const DWORD wait = Turn(unit, outputs, opens);
    if (WaitForMultipleObjects(2, waits, FALSE, wait) == WAIT_OBJECT_0) break;
  }
}

// --replay: the recorded frames through the panel, no device and no bridge.
int RunReplay(const UnitOptions& options) {
  static PanelSession session;
  return ReplayRecording(options, session) > 0 ? 0 : 1;
}

}  // namespace

const bool kUnitHasPanelWindow = false;

std::uint64_t UnitNowMs() {
  return GetTickCount64();
}

int RunUnit(const UnitOptions& options) {
  if (!options.replay.empty()) return RunReplay(options);
  static Unit unit;  // large (the last frames); one per process
  unit.options = &options;
  unit.report.verbose = options.verbose;
  if (!options.record.empty()) {
    unit.report.record = std::fopen(options.record.c_str(), "a");
    if (unit.report.record == nullptr) {
      std::fprintf(stderr, "korvan-efis: cannot open %s\n", options.record.c_str());
      return 1;
    }
  }
  StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  unit.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleStop, TRUE);

  // Ready before the device serves: its first frame may come at once.
  UnitOutputs outputs(options.outputs);
  BeginPanel(unit.panel, options, outputs, unit.report);
  Win32EfisDevice device(
      [](const std::uint8_t* frame, std::size_t size) { Frame(unit, frame, size); },
      [](UnitPipe pipe, bool opened) { Channel(unit, pipe, opened); });
  unit.device = &device;
  OutputDevice = &device;
  DeviceOptions deviceOptions;
  deviceOptions.linkDevice = !options.failDevice;
  deviceOptions.serveRead = !options.refuseRead;
  deviceOptions.serveWrite = !options.refuseWrite;
  deviceOptions.description = "Korvan EFIS stand-in " + options.unit;
  std::string error;
  const bool ok = device.Start(deviceOptions, &error);
  if (ok) {
    Say("korvan-efis ready: unit %s, device %s", options.unit.c_str(), device.DevicePath().c_str());
    outputs.Begin();
    Serve(unit, outputs);
    device.Stop();
    outputs.End();
    SayLastFrames(unit.report);
    Say("korvan-efis stopped after %ld frames", unit.report.frames);
  } else {
    std::fprintf(stderr, "korvan-efis: %s\n", error.c_str());
  }
  OutputDevice = nullptr;
  if (unit.report.record != nullptr) std::fclose(unit.report.record);
  return ok ? 0 : 1;
}

}  // namespace efisunit
