// The floor that does the bridge's work and nothing else, shared by its two windows
// (work_gtk_window.cpp, work_win32_window.cpp): on each 50 ms tick the bridge's ten-phase
// schedule of exchanges with the data-exchange module (the same 6 and 30 reads, the writes of an
// engaged autopilot or, with no EFIS, the disengaged writes and reads), the same frames to the
// EFIS in the same order with the same flushes, and a thread that reads the EFIS's frames. The
// batches and frames are written by hand on the platform layer's client calls: nothing of the
// bridge's own code, no conversions (a frame's payload is the exchange's raw bytes). A failed
// exchange or frame write ends the program (exit code 1, a line on stderr): a floor that stopped
// working would look cheap.
#pragma once

namespace workfloor {

// What the window shows; the floor calls each only when its value changes.
struct Window {
  void (*ShowSliders)(void* context, int bank, int pitch);  // -512..512 each
  void (*ShowCaption)(void* context, const char* caption);
  void* context;
};

// Connects to the module's window ("UIPCMAIN") and, with `efis`, opens the EFIS (the first
// interface of its class, its device and both pipes) and starts the reader thread. False (after
// a line on stderr) when any step fails. Call once, on the thread that then ticks.
bool Open(bool efis);

// One tick of the schedule. The thread of Open.
void Tick(const Window& window);

}  // namespace workfloor
