// korvan-efis on POSIX: the serving side of the device contract. One thread, one poll loop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/posix_root.h"
#include "standins/efis/efis_panel.h"
#include "standins/efis/efis_replay.h"
#include "standins/efis/efis_unit.h"
#include "standins/efis/frame_check.h"
#include "standins/efis/frame_decode.h"
#include "standins/efis/panel_window.h"

namespace efisunit {
namespace {

constexpr char kInterfaceClass[] = "{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}";
constexpr int kMaxDeviceOpeners = 8;
constexpr std::size_t kMaxFrame = 512;  // larger than any frame; longer ones are only reported

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
  FILE* record = nullptr;
  long frames = 0;
  bool dropped = false;
  UnitOutputs* outputs = nullptr;  // what the unit sends on PIPE00
  std::uint8_t last[16][kMaxFrame];
  std::size_t lastSize[16] = {};
  PanelSession session;    // what the panel shows, the autopilot
  bool panelNews = false;  // a frame changed the panel since its last line
  std::uint64_t nextPanelMs = 0;
  std::uint64_t nextTextPanelMs = 0;
  bool window = false;           // the panel window was opened
  std::uint64_t engageAtMs = 0;  // --engage-after: when, once PIPE00 has opened; 0 none
};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(stopPipe[1], &byte, 1);
}

std::uint64_t NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::uint64_t>(t.tv_sec) * 1000 +
         static_cast<std::uint64_t>(t.tv_nsec) / 1000000;
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

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

// An open or a close: in the record always, on stdout when verbose.
void Event(Unit& unit, const char* what, Channel channel) {
  Record(unit, "%s %s", what, kChannelNames[channel]);
  if (unit.options->verbose) Say("%s %s", what, kChannelNames[channel]);
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
  if (channel == kReadPipe) {
    unit.outputs->ReadPipeOpened(NowMs());
    if (unit.options->engageAfterS >= 0 && unit.engageAtMs == 0)
      unit.engageAtMs = NowMs() + static_cast<std::uint64_t>(unit.options->engageAfterS * 1000);
  }
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
  Record(unit, "drop after %ld frames", unit.frames);
  Say("dropped every connection after %ld frames", unit.frames);
}

// The servo frames carry the autopilot's modes and positions while it is engaged, the options'
// otherwise.
void ShowServos(Unit& unit) {
  const OutputOptions& o = unit.options->outputs;
  const PanelSession& s = unit.session;
  if (s.engagedMode) {
    unit.outputs->SetServos(3, s.bankPos, 3, s.pitchPos);
  } else {
    unit.outputs->SetServos(o.bankMode, o.bankPos, o.pitchMode, o.pitchPos);
    unit.session.bankPos = static_cast<std::uint16_t>(o.bankPos);
    unit.session.pitchPos = static_cast<std::uint16_t>(o.pitchPos);
  }
}

// The setting the unit shows is the one it holds: its own knob, or the bridge's last frame.
void ShowQnh(Unit& unit, long tenths) {
  unit.session.qnhTenths = tenths;
  unit.session.readout.qnh = true;
  unit.session.readout.qnhHpa = static_cast<double>(tenths) / 10;
  unit.panelNews = true;
}

void TakeBridgeFrame(Unit& unit, const std::uint8_t* frame, std::size_t size) {
  if (!TakeSessionFrame(frame, size, unit.session)) return;
  unit.panelNews = true;
  // The unit takes the simulator's setting as its own, unless it is one that keeps announcing
  // its own (--qnh-every).
  if (frame[3] == 6 && unit.options->outputs.qnhEveryMs == 0)
    unit.outputs->TakeQnh(unit.session.qnhTenths);
  if (frame[3] == 11 && unit.session.ap.engaged) {
    StepSessionAutopilot(unit.session, static_cast<double>(NowMs()) / 1000);
    ShowServos(unit);
  }
  RedrawPanelWindow();
}

void PanelAct(Unit& unit, PanelAction action) {
  char line[160];
  if (const char* what = ApplyAutopilotAction(unit.session, action, line, sizeof line)) {
    Say("%s", what);
    Record(unit, "%s", what);
  }
  ShowServos(unit);
  unit.panelNews = true;
  RedrawPanelWindow();
}

// A key of the terminal or the window, or a button: the QNH keys are the outputs' own.
void OnKey(void* context, char key) {
  Unit& unit = *static_cast<Unit*>(context);
  const PanelAction action = KeyAction(key);
  if (action == PanelAction::QnhUp || action == PanelAction::QnhDown) {
    unit.outputs->Key(action == PanelAction::QnhUp ? '+' : '-', NowMs());
    ShowQnh(unit, unit.outputs->Qnh());
    RedrawPanelWindow();
  } else if (action != PanelAction::None) {
    PanelAct(unit, action);
  }
}

// Every frame the unit sends goes to the record too: "MS sent TYPE SIZE HEX".
void OnSent(void* context, const std::uint8_t* frame, std::size_t size) {
  Unit& unit = *static_cast<Unit*>(context);
  if (unit.record == nullptr || !unit.options->recordSent) return;
  char hex[2 * kMaxFrame + 1];
  HexBytes(frame, size, hex, sizeof hex);
  Record(unit, "sent %u %zu %s", frame[3], size, hex);
}

// --engage-after: the autopilot engages once the panel has attitude and air data, with its
// heading bug set when one is given.
void EngageWhenDue(Unit& unit) {
  if (unit.engageAtMs == 0 || NowMs() < unit.engageAtMs) return;
  const PanelReadout& r = unit.session.readout;
  if (!r.attitude || !r.airData) return;
  unit.engageAtMs = 0;
  if (unit.session.ap.engaged) return;
  char line[160];
  ApplyAutopilotAction(unit.session, PanelAction::ToggleAutopilot, line, sizeof line);
  if (unit.options->headingBug >= 0) {
    SelectHeading(unit.session.ap, unit.options->headingBug);
    char state[48];
    FormatAutopilot(unit.session.ap, state, sizeof state);
    std::snprintf(line, sizeof line, "autopilot engaged: %s", state);
  }
  Say("%s", line);
  Record(unit, "%s", line);
  ShowServos(unit);
  unit.panelNews = true;
  RedrawPanelWindow();
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
  const std::size_t kept = size < sizeof frame ? size : sizeof frame;
  char hex[2 * kMaxFrame + 1];
  HexBytes(frame, kept, hex, sizeof hex);
  char reason[96];
  if (const char* bad = CheckOutboundFrame(frame, size, reason, sizeof reason)) {
    Say("bad frame (%s): %s", bad, hex);
    Record(unit, "bad %zu %s: %s", size, bad, hex);
  } else {
    std::memcpy(unit.last[frame[3]], frame, size);
    unit.lastSize[frame[3]] = size;
    TakeBridgeFrame(unit, frame, size);
    if (unit.options->verbose) Say("frame type %u, %zu bytes: %s", frame[3], size, hex);
    Record(unit, "frame %u %zu %s", frame[3], size, hex);
  }
  ++unit.frames;
  if (unit.options->dropAfter > 0 && !unit.dropped && unit.frames >= unit.options->dropAfter) {
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

// The panel line, once a second while frames come in; the text panel every --panel-every
// seconds when it is asked for.
int ShowPanel(Unit& unit) {
  const std::uint64_t now = NowMs();
  if (now >= unit.nextPanelMs) {
    if (unit.panelNews) {
      char line[1024];
      FormatPanel(unit.session.readout, line, sizeof line);
      Say("%s", line);
      unit.panelNews = false;
    }
    unit.nextPanelMs = now + 1000;
  }
  int wait = static_cast<int>(unit.nextPanelMs - now);
  if (unit.options->textPanel) {
    if (now >= unit.nextTextPanelMs) {
      char text[1024];
      FormatTextPanel(unit.session, text, sizeof text);
      std::fputs(text, stdout);
      std::fflush(stdout);
      unit.nextTextPanelMs = now + static_cast<std::uint64_t>(unit.options->panelEveryS * 1000);
    }
    const int textWait = static_cast<int>(unit.nextTextPanelMs - now);
    if (textWait < wait) wait = textWait;
  }
  return wait;
}

// The poll's wait: until the next line, frame or engagement is due; 20 ms while a window needs
// its events handled.
int Timeout(Unit& unit) {
  int wait = ShowPanel(unit);
  const int due = unit.outputs->MsUntilDue(NowMs());
  if (due >= 0 && due < wait) wait = due;
  if (unit.engageAtMs != 0 && wait > 100) wait = 100;
  if (unit.window && wait > 20) wait = 20;
  return wait;
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
    if (fds[keys].revents != 0) unit.outputs->KeysReady(NowMs());
    EngageWhenDue(unit);
    unit.outputs->SendDue(unit.readConn, NowMs());
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
  if (unit.record != nullptr) std::fclose(unit.record);
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
  static Unit unit;
  unit.options = &options;
  FILE* in = std::fopen(options.replay.c_str(), "r");
  if (in == nullptr) {
    std::fprintf(stderr, "korvan-efis: cannot open %s: %s\n", options.replay.c_str(),
                 std::strerror(errno));
    return 1;
  }
  static ReplayFrame frame;
  char line[4096];
  long frames = 0;
  while (std::fgets(line, sizeof line, in) != nullptr) {
    if (!ParseRecordedFrame(line, frame)) continue;
    char reason[96];
    if (CheckOutboundFrame(frame.bytes, frame.size, reason, sizeof reason) != nullptr) continue;
    TakeSessionFrame(frame.bytes, frame.size, unit.session);
    ++frames;
  }
  std::fclose(in);
  Say("replayed %ld frames from %s", frames, options.replay.c_str());
  char text[1024];
  FormatPanel(unit.session.readout, text, sizeof text);
  Say("%s", text);
  FormatTextPanel(unit.session, text, sizeof text);
  std::fputs(text, stdout);
  std::fflush(stdout);
  if (frames == 0) return 1;
  if (!options.windowPanel) return 0;
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  SetStopSignals();
  if (!OpenPanelWindow(&unit.session, nullptr, nullptr)) return options.panelOptional ? 0 : 1;
  Say("panel window open: close it (or SIGTERM) to end");
  pollfd stop{stopPipe[0], POLLIN, 0};
  while (PanelWindowOpen() && poll(&stop, 1, 20) <= 0) PumpPanelWindow();
  ClosePanelWindow();
  return 0;
}

}  // namespace

int RunUnit(const UnitOptions& options) {
  if (!options.replay.empty()) return RunReplay(options);
  static Unit unit;  // large (the last frames); one per process
  unit.options = &options;
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
    unit.record = std::fopen(options.record.c_str(), "a");
    if (unit.record == nullptr) {
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
    outputs.SetHooks(OnKey, OnSent, &unit);
    unit.session.qnhTenths = outputs.Qnh();
    ShowServos(unit);
    outputs.Begin();
    if (options.windowPanel) unit.window = OpenPanelWindow(&unit.session, OnKey, &unit);
    if (options.windowPanel && !unit.window && !options.panelOptional) ok = false;
    if (ok) Serve(unit);
    if (unit.window) ClosePanelWindow();
    outputs.End();
    for (int type = 0; type < 16; ++type) {
      if (unit.lastSize[type] == 0) continue;
      char hex[2 * kMaxFrame + 1];
      HexBytes(unit.last[type], unit.lastSize[type], hex, sizeof hex);
      Say("last frame type %d: %s", type, hex);
    }
  }
  Cleanup(unit);
  if (ok) Say("korvan-efis stopped after %ld frames", unit.frames);
  return ok ? 0 : 1;
}

}  // namespace efisunit
