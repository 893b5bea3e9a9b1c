// korvan-efis.exe: the unit on Windows. The device (win32_efis_device.h) publishes the interface
// and serves the pipes on threads of its own; this thread sends the unit's outputs and shows the
// panel. Frames are taken in on the device's serving thread, under the unit's lock.
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "standins/efis/efis_unit.h"
#include "standins/efis/frame_check.h"
#include "standins/efis/frame_decode.h"
#include "standins/efis/win32_efis_device.h"

namespace efisunit {
namespace {

constexpr std::size_t kMaxFrame = 512;
constexpr DWORD kKeyPollMs = 100;

HANDLE StopEvent = nullptr;

struct Unit {
  const UnitOptions* options = nullptr;
  std::mutex mutex;  // what follows, shared with the serving thread
  FILE* record = nullptr;
  long frames = 0;
  bool dropped = false;
  std::uint8_t last[16][kMaxFrame] = {};
  std::size_t lastSize[16] = {};
  PanelReadout panel;
  bool panelNews = false;
  std::uint64_t nextPanelMs = 0;
  std::atomic<long> readOpens{0};  // PIPE00 opens, for the outputs' schedule
  HANDLE wake = nullptr;
  Win32EfisDevice* device = nullptr;
};

BOOL WINAPI OnConsoleStop(DWORD) {
  SetEvent(StopEvent);
  return TRUE;
}

std::uint64_t NowMs() {
  return GetTickCount64();
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Under the unit's lock.
void Record(Unit& unit, const char* format, ...) {
  if (unit.record == nullptr) return;
  std::fprintf(unit.record, "%llu ", static_cast<unsigned long long>(NowMs()));
  va_list args;
  va_start(args, format);
  std::vfprintf(unit.record, format, args);
  va_end(args);
  std::fputc('\n', unit.record);
  std::fflush(unit.record);
}

void Channel(Unit& unit, UnitPipe pipe, bool opened) {
  const char* name = pipe == UnitPipe::ToBridge ? "PIPE00" : "PIPE01";
  {
    std::lock_guard<std::mutex> lock(unit.mutex);
    Record(unit, "%s %s", opened ? "open" : "close", name);
  }
  if (unit.options->verbose) Say("%s %s", opened ? "open" : "close", name);
  if (pipe == UnitPipe::ToBridge && opened) {
    ++unit.readOpens;
    SetEvent(unit.wake);
  }
}

void Frame(Unit& unit, const std::uint8_t* frame, std::size_t size) {
  char hex[2 * kMaxFrame + 1];
  HexBytes(frame, size, hex, sizeof hex);
  char reason[96];
  std::lock_guard<std::mutex> lock(unit.mutex);
  if (const char* bad = CheckOutboundFrame(frame, size, reason, sizeof reason)) {
    Say("bad frame (%s): %s", bad, hex);
    Record(unit, "bad %zu %s: %s", size, bad, hex);
  } else {
    std::memcpy(unit.last[frame[3]], frame, size);
    unit.lastSize[frame[3]] = size;
    if (TakeFrame(frame, size, unit.panel)) unit.panelNews = true;
    if (unit.options->verbose) Say("frame type %u, %zu bytes: %s", frame[3], size, hex);
    Record(unit, "frame %u %zu %s", frame[3], size, hex);
  }
  ++unit.frames;
  if (unit.options->dropAfter > 0 && !unit.dropped && unit.frames >= unit.options->dropAfter) {
    unit.dropped = true;
    unit.device->DropConnections();
    Record(unit, "drop after %ld frames", unit.frames);
    Say("dropped every connection after %ld frames", unit.frames);
  }
}

// The panel line, once a second while frames come in; the time until the next one.
DWORD ShowPanel(Unit& unit) {
  std::lock_guard<std::mutex> lock(unit.mutex);
  const std::uint64_t now = NowMs();
  if (now >= unit.nextPanelMs) {
    if (unit.panelNews) {
      char line[1024];
      FormatPanel(unit.panel, line, sizeof line);
      Say("%s", line);
      unit.panelNews = false;
    }
    unit.nextPanelMs = now + 1000;
  }
  return static_cast<DWORD>(unit.nextPanelMs - now);
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
      outputs.ReadPipeOpened(NowMs());
    }
    outputs.KeysReady(NowMs());
    outputs.SendDue(device.ToBridgeOpen() ? 0 : -1, NowMs());
    DWORD wait = ShowPanel(unit);
    const int due = outputs.MsUntilDue(NowMs());
    if (due >= 0 && static_cast<DWORD>(due) < wait) wait = static_cast<DWORD>(due);
    if (outputs.KeyFd() >= 0 && wait > kKeyPollMs) wait = kKeyPollMs;
    if (WaitForMultipleObjects(2, waits, FALSE, wait) == WAIT_OBJECT_0) break;
  }
  outputs.End();
  OutputDevice = nullptr;
}

}  // namespace

int RunUnit(const UnitOptions& options) {
  static Unit unit;  // large (the last frames); one per process
  unit.options = &options;
  if (!options.record.empty()) {
    unit.record = std::fopen(options.record.c_str(), "a");
    if (unit.record == nullptr) {
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
    for (int type = 0; type < 16; ++type) {
      if (unit.lastSize[type] == 0) continue;
      char hex[2 * kMaxFrame + 1];
      HexBytes(unit.last[type], unit.lastSize[type], hex, sizeof hex);
      Say("last frame type %d: %s", type, hex);
    }
    Say("korvan-efis stopped after %ld frames", unit.frames);
  } else {
    std::fprintf(stderr, "korvan-efis: %s\n", error.c_str());
  }
  if (unit.record != nullptr) std::fclose(unit.record);
  return ok ? 0 : 1;
}

}  // namespace efisunit
