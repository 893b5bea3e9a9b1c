// korvan-efis.exe: the unit on Windows. The device (win32_efis_device.h) publishes the interface
// and serves the pipes on threads of its own; this thread sends the unit's outputs and shows the
// panel. Frames are taken in on the device's serving thread, under the unit's lock.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "standins/efis/efis_unit.h"
#include "standins/efis/unit_report.h"
#include "standins/efis/win32_efis_device.h"

namespace efisunit {
namespace {

constexpr DWORD kKeyPollMs = 100;

HANDLE StopEvent = nullptr;

struct Unit {
  const UnitOptions* options = nullptr;
  std::mutex mutex;  // the report, shared with the serving thread
  FrameReport report;
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
  ReportFrame(unit.report, frame, size);
  if (unit.options->dropAfter > 0 && !unit.dropped &&
      unit.report.frames >= unit.options->dropAfter) {
    unit.dropped = true;
    unit.device->DropConnections();
    Record(unit.report, "drop after %ld frames", unit.report.frames);
    Say("dropped every connection after %ld frames", unit.report.frames);
  }
}

DWORD ShowPanelNow(Unit& unit) {
  std::lock_guard<std::mutex> lock(unit.mutex);
  return static_cast<DWORD>(ShowPanel(unit.report));
}

void Serve(Unit& unit, Win32EfisDevice& device) {
  UnitOutputs outputs(unit.options->outputs);
  OutputDevice = &device;
  outputs.Begin();
  long opens = 0;
  HANDLE waits[2] = {StopEvent, unit.wake};
  for (;;) {
    if (unit.readOpens.load() != opens) {
      opens = unit.readOpens.load();
      outputs.ReadPipeOpened(UnitNowMs());
    }
    outputs.KeysReady(UnitNowMs());
    outputs.SendDue(device.ToBridgeOpen() ? 0 : -1, UnitNowMs());
    DWORD wait = ShowPanelNow(unit);
    const int due = outputs.MsUntilDue(UnitNowMs());
    if (due >= 0 && static_cast<DWORD>(due) < wait) wait = static_cast<DWORD>(due);
    if (outputs.KeyFd() >= 0 && wait > kKeyPollMs) wait = kKeyPollMs;
    if (WaitForMultipleObjects(2, waits, FALSE, wait) == WAIT_OBJECT_0) break;
  }
  outputs.End();
  OutputDevice = nullptr;
}

}  // namespace

std::uint64_t UnitNowMs() {
  return GetTickCount64();
}

int RunUnit(const UnitOptions& options) {
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

  Win32EfisDevice device(
      [](const std::uint8_t* frame, std::size_t size) { Frame(unit, frame, size); },
      [](UnitPipe pipe, bool opened) { Channel(unit, pipe, opened); });
  unit.device = &device;
  DeviceOptions deviceOptions;
  deviceOptions.linkDevice = !options.failDevice;
  deviceOptions.serveRead = !options.refuseRead;
  deviceOptions.serveWrite = !options.refuseWrite;
  deviceOptions.description = "Korvan EFIS stand-in " + options.unit;
  std::string error;
  const bool ok = device.Start(deviceOptions, &error);
  if (ok) {
    Say("korvan-efis ready: unit %s, device %s", options.unit.c_str(), device.DevicePath().c_str());
    Serve(unit, device);
    device.Stop();
    SayLastFrames(unit.report);
    Say("korvan-efis stopped after %ld frames", unit.report.frames);
  } else {
    std::fprintf(stderr, "korvan-efis: %s\n", error.c_str());
  }
  if (unit.report.record != nullptr) std::fclose(unit.report.record);
  return ok ? 0 : 1;
}

}  // namespace efisunit
