// korvan-efis on POSIX: the unit's thread waits in one poll for a stop signal, a wake-up from
// the device's serving thread, the terminal's keys and the next turn; with the panel window it
// pumps the window between its waits (the window draws under the unit's lock).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "standins/efis/panel_window.h"
#include "standins/efis/unit_loop.h"

namespace efisunit {

namespace {

constexpr int kWindowPumpMs = 20;

int StopPipe[2] = {-1, -1};
int WakePipe[2] = {-1, -1};
// A frame or a key changed the panel: the window draws again at its next pump.
std::atomic<bool> RedrawWanted{false};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(StopPipe[1], &byte, 1);
}

void WantRedraw() {
  RedrawWanted = true;
}

void Drain(int fd) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
}

// Waits up to `waitMs` for a stop, a wake-up or a key: false on a stop; *keys when the keys are
// readable.
bool Wait(int waitMs, int keyFd, bool* keys) {
  pollfd fds[3] = {{StopPipe[0], POLLIN, 0}, {WakePipe[0], POLLIN, 0}, {keyFd, POLLIN, 0}};
  *keys = false;
  if (poll(fds, 3, waitMs) < 0) return true;  // EINTR: the signal's byte is in the pipe
  if (fds[0].revents != 0) return false;
  if (fds[1].revents != 0) Drain(WakePipe[0]);
  *keys = fds[2].revents != 0;
  return true;
}

bool OpenWindow(RunningUnit& unit) {
  std::lock_guard<std::mutex> hold(unit.lock);
  if (!OpenPanelWindow(&unit.panel.session, PanelKey, &unit.panel)) return false;
  unit.panel.redraw = WantRedraw;
  return true;
}

// The window's events; false once its user has closed it.
bool PumpWindow(RunningUnit& unit) {
  std::lock_guard<std::mutex> hold(unit.lock);
  if (RedrawWanted.exchange(false)) RedrawPanelWindow();
  PumpPanelWindow();
  if (PanelWindowOpen()) return true;
  Say("panel window closed");
  return false;
}

void CloseWindow(RunningUnit& unit) {
  std::lock_guard<std::mutex> hold(unit.lock);
  ClosePanelWindow();
  unit.panel.redraw = nullptr;
}

}  // namespace

const bool kUnitHasPanelWindow = true;

bool BeginUnitLoop() {
  if (pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

void WakeUnitLoop() {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(WakePipe[1], &byte, 1);
}

bool ServeUnitLoop(RunningUnit& unit) {
  const bool window = unit.options->windowPanel && OpenWindow(unit);
  if (unit.options->windowPanel && !window && !unit.options->panelOptional) return false;
  bool keys = false;
  for (;;) {
    int wait = UnitTurn(unit, keys);
    if (window && wait > kWindowPumpMs) wait = kWindowPumpMs;
    if (!Wait(wait, unit.outputs->KeyFd(), &keys)) break;
    if (window && !PumpWindow(unit)) break;
  }
  if (window) CloseWindow(unit);
  return true;
}

// The panel line and the text panel at the end, and the window until it is closed when one is
// asked for.
int RunReplay(const UnitOptions& options) {
  static PanelSession session;
  if (ReplayRecording(options, session) <= 0) return 1;
  if (!options.windowPanel) return 0;
  if (!BeginUnitLoop()) return 1;
  if (!OpenPanelWindow(&session, nullptr, nullptr)) return options.panelOptional ? 0 : 1;
  Say("panel window open: close it (or SIGTERM) to end");
  pollfd stop{StopPipe[0], POLLIN, 0};
  while (PanelWindowOpen() && poll(&stop, 1, kWindowPumpMs) <= 0) PumpPanelWindow();
  ClosePanelWindow();
  return 0;
}

}  // namespace efisunit
