// korvan-efis on POSIX: the serving side of the device contract. One thread, one poll loop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_root.h"
#include "standins/efis/efis_unit.h"
#include "standins/efis/panel_window.h"
#include "standins/efis/unit_panel.h"
#include "standins/efis/unit_report.h"

namespace efisunit {
namespace {

constexpr char kInterfaceClass[] = "{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}";
constexpr int kMaxDeviceOpeners = 8;

enum Channel { kDevice, kReadPipe, kWritePipe, kChannels };
const char* const kChannelNames[kChannels] = {"device", "PIPE00", "PIPE01"};
const char* const kChannelSuffix[kChannels] = {"", "\\PIPE00", "\\PIPE01"};

int stopPipe[2] = {-1, -1};

struct Unit {
  const UnitOptions* options;
  std::string socketPaths[kChannels];
  std::string entryPath;
  int entryFd = -1;
  int listeners[kChannels] = {-1, -1, -1};
  int deviceConns[kMaxDeviceOpeners];
  int readConn = -1;
  int writeConn = -1;
  FrameReport report;
  UnitPanel panel;  // what the panel shows, the autopilot
  bool dropped = false;
  UnitOutputs* outputs = nullptr;  // what the unit sends on PIPE00
  bool window = false;             // the panel window was opened
};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(stopPipe[1], &byte, 1);
}

// An open or a close: in the record always, on stdout when verbose.
void Event(Unit& unit, const char* what, Channel channel) {
  ReportChannel(unit.report, what, kChannelNames[channel]);
}

bool EntryHeld(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

int Listen(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "korvan-efis: socket path too long (%zu bytes): %s\n", path.size(),
                 path.c_str());
    return -1;
  }
  std::strcpy(address.sun_path, path.c_str());
  unlink(path.c_str());  // a stale socket of a unit that died; a live one was ruled out
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
    std::fprintf(stderr, "korvan-efis: cannot serve %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// The entry is made under a dot name, locked, then renamed into place: no one ever sees it
// unlocked.
bool Publish(Unit& unit, const std::string& devicesDir) {
  const std::string temp = devicesDir + "/." + unit.options->unit + "." + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "korvan-efis: cannot make %s: %s\n", temp.c_str(), std::strerror(errno));
    return false;
  }
  const std::string& path = unit.socketPaths[kDevice];
  bool ok = fchmod(fd, 0600) == 0 && flock(fd, LOCK_EX) == 0 &&
            write(fd, path.data(), path.size()) == static_cast<ssize_t>(path.size()) &&
            rename(temp.c_str(), unit.entryPath.c_str()) == 0;
  if (!ok) {
    std::fprintf(stderr, "korvan-efis: cannot publish %s: %s\n", unit.entryPath.c_str(),
                 std::strerror(errno));
    unlink(temp.c_str());
    close(fd);
    return false;
  }
  unit.entryFd = fd;
  return true;
}

bool Answer(int fd, bool opened) {
  const unsigned char byte = opened ? 1 : 0;
  return send(fd, &byte, 1, MSG_NOSIGNAL) == 1;
}

void ReceiveFrame(Unit& unit);
void WatchConn(Unit& unit, int& fd, Channel channel);

// True once the opener has closed its end. The opener's close is complete when its call returns
// (the layer shuts the socket down), so this is already true when its next open arrives, even
// if this loop has not yet woken for the close.
bool OpenerGone(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  int rc;
  do {
    rc = poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc == 1 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

// Takes in what a gone opener still sent and records its close, as the loop would have.
void Settle(Unit& unit, int& fd, Channel channel) {
  while (fd >= 0 && OpenerGone(fd)) {
    if (channel == kWritePipe) {
      ReceiveFrame(unit);
    } else {
      WatchConn(unit, fd, channel);
    }
  }
}

void AcceptOn(Unit& unit, Channel channel) {
  int fd = accept4(unit.listeners[channel], nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // A reopen may come in the same wake-up as the close before it: the close counts first, as
  // on Windows, where a pipe is free again once CloseHandle has returned.
  if (channel == kDevice) {
    for (int& conn : unit.deviceConns) Settle(unit, conn, kDevice);
  } else {
    Settle(unit, channel == kReadPipe ? unit.readConn : unit.writeConn, channel);
  }
  int* slot = nullptr;
  bool refused = false;
  if (channel == kDevice) {
    refused = unit.options->failDevice;
    for (int& conn : unit.deviceConns) {
      if (conn < 0) {
        slot = &conn;
        break;
      }
    }
  } else {
    int& conn = channel == kReadPipe ? unit.readConn : unit.writeConn;
    refused = (channel == kReadPipe ? unit.options->refuseRead : unit.options->refuseWrite);
    if (conn < 0) slot = &conn;  // one opener at a time
  }
  if (refused || slot == nullptr || !Answer(fd, true)) {
    Answer(fd, false);
    close(fd);
    Event(unit, "refuse", channel);
    return;
  }
  *slot = fd;
  Event(unit, "open", channel);
  if (channel == kReadPipe) PanelPipeOpened(unit.panel, UnitNowMs());
}

void CloseConn(Unit& unit, int& fd, Channel channel) {
  close(fd);
  fd = -1;
  Event(unit, "close", channel);
}

void DropAll(Unit& unit) {
  for (int& conn : unit.deviceConns) {
    if (conn >= 0) CloseConn(unit, conn, kDevice);
  }
  if (unit.readConn >= 0) CloseConn(unit, unit.readConn, kReadPipe);
  if (unit.writeConn >= 0) CloseConn(unit, unit.writeConn, kWritePipe);
  Record(unit.report, "drop after %ld frames", unit.report.frames);
  Say("dropped every connection after %ld frames", unit.report.frames);
}

void ReceiveFrame(Unit& unit) {
  std::uint8_t frame[kMaxFrame];
  ssize_t n = recv(unit.writeConn, frame, sizeof frame, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    CloseConn(unit, unit.writeConn, kWritePipe);
    return;
  }
  const std::size_t size = static_cast<std::size_t>(n);
  if (ReportFrame(unit.report, frame, size)) PanelTakeFrame(unit.panel, frame, size);
  if (unit.options->dropAfter > 0 && !unit.dropped &&
      unit.report.frames >= unit.options->dropAfter) {
    unit.dropped = true;
    DropAll(unit);
  }
}

// Nothing is expected from the bridge on the device or the read pipe: only the close matters.
void WatchConn(Unit& unit, int& fd, Channel channel) {
  std::uint8_t byte[kMaxFrame];
  ssize_t n = recv(fd, byte, sizeof byte, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) CloseConn(unit, fd, channel);
}

// The poll's wait: until the next line, frame or engagement check is due; 20 ms while a window
// needs its events handled.
int Timeout(Unit& unit) {
  const int wait = ShowPanel(unit.panel);
  return unit.window && wait > 20 ? 20 : wait;
}

void Serve(Unit& unit) {
  for (;;) {
    pollfd fds[1 + kChannels + kMaxDeviceOpeners + 3];
    int* owners[1 + kChannels + kMaxDeviceOpeners + 3] = {};
    Channel channels[1 + kChannels + kMaxDeviceOpeners + 3] = {};
    nfds_t count = 0;
    fds[count++] = {stopPipe[0], POLLIN, 0};
    for (int c = 0; c < kChannels; ++c) fds[count++] = {unit.listeners[c], POLLIN, 0};
    auto watch = [&](int& fd, Channel channel) {
      if (fd < 0) return;
      owners[count] = &fd;
      channels[count] = channel;
      fds[count++] = {fd, POLLIN, 0};
    };
    for (int& conn : unit.deviceConns) watch(conn, kDevice);
    watch(unit.readConn, kReadPipe);
    watch(unit.writeConn, kWritePipe);
    const nfds_t keys = count;
    fds[count++] = {unit.outputs->KeyFd(), POLLIN, 0};  // -1: not watched

    if (poll(fds, count, Timeout(unit)) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "korvan-efis: poll: %s\n", std::strerror(errno));
      return;
    }
    if (fds[0].revents != 0) return;
    for (int c = 0; c < kChannels; ++c) {
      if (fds[1 + c].revents & POLLIN) AcceptOn(unit, static_cast<Channel>(c));
    }
    for (nfds_t i = 1 + kChannels; i < keys; ++i) {
      if (fds[i].revents == 0 || *owners[i] != fds[i].fd) continue;  // dropped meanwhile
      if (channels[i] == kWritePipe) {
        ReceiveFrame(unit);
      } else {
        WatchConn(unit, *owners[i], channels[i]);
      }
    }
    if (fds[keys].revents != 0) unit.outputs->KeysReady(UnitNowMs());
    EngageWhenDue(unit.panel);
    unit.outputs->SendDue(unit.readConn, UnitNowMs());
    if (unit.window) {
      PumpPanelWindow();
      if (!PanelWindowOpen()) {
        Say("panel window closed");
        return;
      }
    }
  }
}

void Cleanup(Unit& unit) {
  if (unit.entryFd >= 0) {
    unlink(unit.entryPath.c_str());
    close(unit.entryFd);
  }
  for (int& conn : unit.deviceConns) {
    if (conn >= 0) close(conn);
  }
  if (unit.readConn >= 0) close(unit.readConn);
  if (unit.writeConn >= 0) close(unit.writeConn);
  for (int c = 0; c < kChannels; ++c) {
    if (unit.listeners[c] >= 0) {
      close(unit.listeners[c]);
      unlink(unit.socketPaths[c].c_str());
    }
  }
  if (unit.report.record != nullptr) std::fclose(unit.report.record);
}

bool ValidUnitName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos;
}

void SetStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// --replay: the recorded frames through the panel, no device and no bridge; the panel line and
// the text panel at the end, and the window until it is closed when one is asked for.
int RunReplay(const UnitOptions& options) {
  static PanelSession session;
  if (ReplayRecording(options, session) <= 0) return 1;
  if (!options.windowPanel) return 0;
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  SetStopSignals();
  if (!OpenPanelWindow(&session, nullptr, nullptr)) return options.panelOptional ? 0 : 1;
  Say("panel window open: close it (or SIGTERM) to end");
  pollfd stop{stopPipe[0], POLLIN, 0};
  while (PanelWindowOpen() && poll(&stop, 1, 20) <= 0) PumpPanelWindow();
  ClosePanelWindow();
  return 0;
}

}  // namespace

const bool kUnitHasPanelWindow = true;

std::uint64_t UnitNowMs() {
  return platform::posix::MonotonicMs();
}

int RunUnit(const UnitOptions& options) {
  if (!options.replay.empty()) return RunReplay(options);
  static Unit unit;  // large (the last frames); one per process
  unit.options = &options;
  unit.report.verbose = options.verbose;
  for (int& conn : unit.deviceConns) conn = -1;
  if (!ValidUnitName(options.unit)) {
    std::fprintf(stderr, "korvan-efis: bad unit name \"%s\" (no '/', '\\' or leading '.')\n",
                 options.unit.c_str());
    return 2;
  }
  const std::string usbDir = platform::posix::NamespaceDir("usb");
  std::string devicesDir = platform::posix::NamespaceDir("devices");
  if (usbDir.empty() || devicesDir.empty()) {
    std::fprintf(stderr, "korvan-efis: cannot make the namespace directories\n");
    return 1;
  }
  devicesDir += "/";
  devicesDir += kInterfaceClass;
  if (mkdir(devicesDir.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "korvan-efis: cannot make %s: %s\n", devicesDir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  chmod(devicesDir.c_str(), 0700);
  unit.entryPath = devicesDir + "/" + options.unit;
  if (EntryHeld(unit.entryPath)) {
    std::fprintf(stderr, "korvan-efis: unit %s is already present\n", options.unit.c_str());
    return 1;
  }
  for (int c = 0; c < kChannels; ++c) {
    unit.socketPaths[c] = usbDir + "/" + options.unit + kChannelSuffix[c];
  }
  if (!options.record.empty()) {
    unit.report.record = std::fopen(options.record.c_str(), "a");
    if (unit.report.record == nullptr) {
      std::fprintf(stderr, "korvan-efis: cannot open %s: %s\n", options.record.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  SetStopSignals();

  bool ok = true;
  for (int c = 0; c < kChannels && ok; ++c) {
    unit.listeners[c] = Listen(unit.socketPaths[c]);
    ok = unit.listeners[c] >= 0;
  }
  ok = ok && Publish(unit, devicesDir);
  if (ok) {
    Say("korvan-efis ready: unit %s, device %s", options.unit.c_str(),
        unit.socketPaths[kDevice].c_str());
    UnitOutputs outputs(options.outputs);
    unit.outputs = &outputs;
    BeginPanel(unit.panel, options, outputs, unit.report);
    outputs.Begin();
    if (options.windowPanel)
      unit.window = OpenPanelWindow(&unit.panel.session, PanelKey, &unit.panel);
    if (options.windowPanel && !unit.window && !options.panelOptional) ok = false;
    if (unit.window) unit.panel.redraw = RedrawPanelWindow;
    if (ok) Serve(unit);
    if (unit.window) ClosePanelWindow();
    unit.panel.redraw = nullptr;
    outputs.End();
    SayLastFrames(unit.report);
  }
  Cleanup(unit);
  if (ok) Say("korvan-efis stopped after %ld frames", unit.report.frames);
  return ok ? 0 : 1;
}

}  // namespace efisunit
