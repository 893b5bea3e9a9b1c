// korvan-bridge.exe end to end under Wine, beside korvan-sim.exe (owning "UIPCMAIN", then
// "FS98MAIN") and an EFIS unit served by this program (tests/support/test_unit.h), which
// the bridge finds through its own SetupAPI discovery. Everything is read from outside the
// bridge, as another program on the desktop would: its windows through window messages, its
// frames at the unit's pipes, its simulator writes in korvan-sim's record, its threads and
// handles through the system's lists.
#include <windows.h>
// windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "simlink/SimLinkClient.h"
#include "standins/efis/frame_check.h"
#include "tests/support/child_process.h"
#include "tests/support/log_home.h"
#include "tests/support/test_unit.h"
#include "tests/wine/bridge_window.h"
#include "tests/wine/wine_handles.h"

namespace {

using Frame = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const char kTitle[] = "Korvan EFIS to Flightsim bridge";
const char kCaption[] = "Microsoft FlightSim to Korvan Avionics EFIS bridge";

// Far more than Wine ever takes: a busy machine slows the tests down but never fails them.
constexpr DWORD kWaitMs = 60000;

const Lines kConnectedLog = {"Connected to FSX", "EFIS detected on USB, driver initialized.",
                             "EFIS data read channel OK", "EFIS data write channel OK"};

bool WaitUntil(const std::function<bool()>& ready, DWORD timeoutMs = kWaitMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!ready()) {
    if (GetTickCount64() > end) return false;
    Sleep(20);
  }
  return true;
}

// The build gives Unix paths; under Wine drive Z: is the Unix root.
std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string Hex(const Frame& frame) {
  char text[2 * 512 + 1];
  efisunit::HexBytes(frame.data(), frame.size(), text, sizeof text);
  return text;
}

Frame FromHex(const std::string& hex) {
  Frame frame;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    frame.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return frame;
}

Frame ServoFrame(int bankMode, int bankPos, int pitchMode, int pitchPos) {
  return {8,
          0,
          1,
          14,
          static_cast<std::uint8_t>(bankMode),
          0,
          static_cast<std::uint8_t>(bankPos >> 7),
          static_cast<std::uint8_t>(bankPos & 0x7F),
          static_cast<std::uint8_t>(pitchMode),
          0,
          static_cast<std::uint8_t>(pitchPos >> 7),
          static_cast<std::uint8_t>(pitchPos & 0x7F)};
}

// ---- Windows of another process ----

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The top-level windows of a process, of a class (any when null).
std::vector<HWND> WindowsOf(DWORD process, const char* windowClass) {
  struct Search {
    DWORD process;
    const char* windowClass;
    std::vector<HWND> found;
  } search{process, windowClass, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->process && (s->windowClass == nullptr || ClassOf(window) == s->windowClass))
          s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindowOf(DWORD process, const char* windowClass) {
  HWND found = nullptr;
  WaitUntil([&] {
    std::vector<HWND> windows = WindowsOf(process, windowClass);
    found = windows.empty() ? nullptr : windows.front();
    return found != nullptr;
  });
  return found;
}

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// ---- The log file ----

// The folder of the bridge's log: a name no code page holds, so only wide calls reach it.
const char kLogHome[] = "\\Pilot \u00c5s\u00e9 \u2708 \u822a\u7a7a";

bool IsStamp(const std::string& text) {
  const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
  if (text.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

// The lines of a log file's text without their stamps; a line without one is kept whole, marked.
Lines WithoutStamps(const Lines& lines) {
  Lines text;
  for (const std::string& line : lines)
    text.push_back(IsStamp(line) ? line.substr(24) : "?" + line);
  return text;
}

std::string RegistryText(const char* name) {
  char value[64] = {};
  DWORD size = sizeof value;
  RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", name,
               RRF_RT_REG_SZ, nullptr, value, &size);
  return value;
}

// The system as its registry says it (not the version calls of the bridge): Windows 10 and 11
// keep "6.3" in CurrentVersion and give the real numbers apart.
std::string ExpectedSystem() {
  DWORD major = 0, minor = 0, size = sizeof major;
  const char* key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  std::string version = RegistryText("CurrentVersion");
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, "CurrentMajorVersionNumber", RRF_RT_REG_DWORD, nullptr,
                   &major, &size) == ERROR_SUCCESS) {
    size = sizeof minor;
    RegGetValueA(HKEY_LOCAL_MACHINE, key, "CurrentMinorVersionNumber", RRF_RT_REG_DWORD, nullptr,
                 &minor, &size);
    version = std::to_string(major) + "." + std::to_string(minor);
  }
  std::string system = "Windows " + version + "." + RegistryText("CurrentBuildNumber");
  using WineVersion = const char*(CDECL*)();
  FARPROC wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
  if (wine != nullptr)
    system += std::string(" under Wine ") +
              reinterpret_cast<WineVersion>(reinterpret_cast<void (*)()>(wine))();
  return system;
}

// What OutputDebugStringA gives a debug viewer such as DebugView, by the DBWIN_BUFFER protocol
// that Wine keeps too: each string with the process that sent it, taken on a thread of its own.
// (Wine's WINEDEBUG=warn+debugstr prints them on the standard error of the Unix process that
// started Wine, not on the bridge's own.)
class DebugViewer {
 public:
  DebugViewer()
      : bufferReady_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY")),
        dataReady_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")),
        buffer_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize,
                                   "DBWIN_BUFFER")),
        view_(static_cast<const char*>(MapViewOfFile(buffer_, FILE_MAP_READ, 0, 0, kSize))),
        thread_([this] { Run(); }) {}
  ~DebugViewer() {
    running_ = false;
    thread_.join();
    UnmapViewOfFile(view_);
    for (HANDLE handle : {buffer_, dataReady_, bufferReady_}) CloseHandle(handle);
  }
  bool Ready() const {
    return view_ != nullptr && bufferReady_ != nullptr && dataReady_ != nullptr;
  }
  Lines From(DWORD process) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lines found;
    for (const auto& [sender, text] : strings_)
      if (sender == process) found.push_back(text);
    return found;
  }

 private:
  static constexpr DWORD kSize = 4096;  // the sender's id, then the NUL-terminated text

  void Run() {
    if (!Ready()) return;
    SetEvent(bufferReady_);
    while (running_.load()) {
      if (WaitForSingleObject(dataReady_, 100) != WAIT_OBJECT_0) continue;
      DWORD sender = 0;
      std::memcpy(&sender, view_, sizeof sender);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        strings_.emplace_back(
            sender, std::string(view_ + sizeof sender, strnlen(view_ + sizeof sender, kSize - 4)));
      }
      SetEvent(bufferReady_);
    }
  }

  HANDLE bufferReady_, dataReady_, buffer_;
  const char* view_;
  std::atomic<bool> running_{true};
  std::mutex mutex_;
  std::vector<std::pair<DWORD, std::string>> strings_;
  std::thread thread_;
};

// ---- Threads and handles of another process ----

// Each thread of the process, by id and creation time (Wine reuses ids).
std::set<std::pair<DWORD, ULONGLONG>> ThreadsOf(DWORD process) {
  std::set<std::pair<DWORD, ULONGLONG>> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;  // ended meanwhile
    FILETIME created{}, exited{}, kernel{}, user{};
    DWORD code = 0;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user) &&
        GetExitCodeThread(thread, &code) && code == STILL_ACTIVE) {
      threads.emplace(entry.th32ThreadID,
                      static_cast<ULONGLONG>(created.dwHighDateTime) << 32 | created.dwLowDateTime);
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return threads;
}

std::string Describe(const HandleTypes& types) {
  std::string text;
  for (const auto& [name, count] : types) {
    text += std::string(name.begin(), name.end()) + ":" + std::to_string(count) + " ";
  }
  return text;
}

// ---- The EFIS unit ----

using Unit = testsupport::TestUnit;

// The unit's opens and closes, without its frames, sorted.
Lines ChannelEvents(Unit& unit) {
  Lines events;
  for (const std::string& event : unit.Events()) {
    if (event.rfind("frame ", 0) != 0) events.push_back(event);
  }
  std::sort(events.begin(), events.end());
  return events;
}

// Servo frames at about 20 Hz, each once the bridge has read the one before, while it runs.
class ServoSender {
 public:
  ServoSender(Unit& unit, const Frame& frame) : unit_(unit), frame_(frame) {
    thread_ = std::thread([this] {
      while (running_.load()) {
        Frame frame;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          frame = frame_;
        }
        unit_.Send(frame, kWaitMs);
        Sleep(50);
      }
    });
  }
  ~ServoSender() {
    running_ = false;
    thread_.join();
  }
  void Set(const Frame& frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_ = frame;
  }

 private:
  Unit& unit_;
  std::mutex mutex_;
  Frame frame_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

// ---- The scenario ----

struct Setting {
  const char* windowClass;
  int restarts;  // the reader restarts the watchdog test waits through
};

void PrintTo(const Setting& setting, std::ostream* out) {
  *out << setting.windowClass;
}

class BridgeE2E : public ::testing::TestWithParam<Setting> {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "korvan-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << GetLastError();
    simRecord_ = dir_ + "\\sim.record";
    // The bridge's log folder, with a previous run's file and an older one for its start.
    logHome_ = std::make_unique<testsupport::TestLogHome>(dir_ + kLogHome);
    log_ = logHome_->Folder() + "korvan-bridge.log";
    ASSERT_TRUE(testsupport::MakeFolders(logHome_->Folder()));
    ASSERT_TRUE(testsupport::WriteWholeFile(log_ + ".1", "older run\r\n"));
    ASSERT_TRUE(testsupport::WriteWholeFile(log_, "previous run\r\n"));
    testsupport::UnitSetup published;
    published.publish = true;
    ASSERT_TRUE(unit_.Start(published)) << unit_.ErrorText();
    StartSim();
    debugViewer_ = std::make_unique<DebugViewer>();
    ASSERT_TRUE(debugViewer_->Ready()) << GetLastError();
    ASSERT_TRUE(bridge_.Start(KORVAN_BRIDGE_EXE, {})) << bridge_.ErrorText();
    form_ = WaitForWindowOf(bridge_.ProcessId(), "TForm1");
    ASSERT_NE(form_, nullptr) << "no TForm1 window";
    ASSERT_TRUE(WaitUntil([this] { return GetDlgItem(form_, kLabel7) != nullptr; }));
    memo_ = GetDlgItem(form_, kMemo1);
    ASSERT_TRUE(WaitUntil([this] { return Log().size() >= kConnectedLog.size(); })) << Text();
  }

  void TearDown() override {
    if (simLinkOpen_) SimLinkClose();
    if (bridge_.Running()) {
      PostMessageA(form_, WM_CLOSE, 0, 0);
      EXPECT_TRUE(bridge_.WaitForExit(kWaitMs));
      EXPECT_EQ(bridge_.ExitCode(), 0);
    }
    if (sim_) sim_->Stop();
    unit_.Stop();
    debugViewer_.reset();
    logHome_.reset();
    testsupport::RemoveTree(dir_);
  }

  std::string LogFile(const char* suffix = "") {
    std::string content;
    EXPECT_TRUE(testsupport::ReadWholeFile(log_ + suffix, &content)) << log_ << suffix;
    return content;
  }
  // What the bridge said at its start: the file's first line, then the window's lines.
  Lines LogFileText(const Lines& windowLines) {
    Lines text = {"korvan-bridge 1.1 started on " + ExpectedSystem()};
    text.insert(text.end(), windowLines.begin(), windowLines.end());
    return text;
  }

  void StartSim() {
    sim_ = std::make_unique<testsupport::ChildProcess>();
    ASSERT_TRUE(
        sim_->Start(KORVAN_SIM_EXE, {"--class", GetParam().windowClass, "--record", simRecord_}))
        << sim_->ErrorText();
    ASSERT_TRUE(sim_->WaitForLine("korvan-sim ready", kWaitMs));
  }

  Lines Log() { return SplitLines(TextOf(memo_)); }
  std::string Text() { return TextOf(memo_); }
  int Slider(int id) {
    return static_cast<int>(SendMessageA(GetDlgItem(form_, id), TBM_GETPOS, 0, 0));
  }
  std::string Label7() { return TextOf(GetDlgItem(form_, kLabel7)); }

  // The data of every write korvan-sim took at `offset`, in hex, oldest first.
  std::vector<std::string> SimWrites(unsigned offset) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "id 2 offset 0x%04X ", offset);
    std::vector<std::string> writes;
    std::ifstream in(simRecord_);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t at = line.find(wanted);
      const std::size_t data = line.find(" data ");
      if (at != std::string::npos && data != std::string::npos)
        writes.push_back(line.substr(data + 6));
    }
    return writes;
  }
  // The records of korvan-sim's latest batch, each as "id 2 offset 0x310A size 1 data 00".
  Lines LastBatch() {
    Lines batch;
    std::string number;
    std::ifstream in(simRecord_);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string word, n;
      if (!(words >> word >> n) || word != "batch") continue;
      if (n != number) batch.clear();
      number = n;
      batch.push_back(line.substr(line.find(' ', 6) + 1));
    }
    return batch;
  }
  bool SimWroteLast(unsigned offset, const std::string& hex) {
    const std::vector<std::string> writes = SimWrites(offset);
    return !writes.empty() && writes.back() == hex;
  }

  // The test's own link to korvan-sim, beside the bridge's.
  void OpenSimLink() {
    SimResult code = SimOkay;
    ASSERT_TRUE(SimLinkOpen(0, code)) << code;
    simLinkOpen_ = true;
  }
  template <typename T>
  void SimulatorHolds(std::uint32_t offset, T value) {
    static T source;
    source = value;
    SimResult code = SimOkay;
    ASSERT_TRUE(SimLinkWrite(offset, sizeof source, &source, code));
    ASSERT_TRUE(SimLinkProcess(code)) << code;
  }
  std::uint16_t SimulatorU16(std::uint32_t offset) {
    static std::uint16_t value;
    value = 0;
    SimResult code = SimOkay;
    EXPECT_TRUE(SimLinkRead(offset, sizeof value, &value, code));
    EXPECT_TRUE(SimLinkProcess(code)) << code;
    return value;
  }

  // A QNH from the unit, sent once just after a slow tick's sensor frame (`hex`, the write's
  // bytes): the simulator takes it, whenever in the cycle it comes.
  bool QnhReachesSimulator(std::uint16_t tenths, const std::string& hex) {
    const Frame qnh = {
        2, 0, 1, 6, static_cast<std::uint8_t>(tenths), static_cast<std::uint8_t>(tenths >> 8)};
    const std::size_t from = unit_.FrameCount();
    if (!WaitUntil([&] { return !unit_.FramesOfType(0, from).empty(); })) return false;
    if (!unit_.Send(qnh, kWaitMs)) return false;
    return WaitUntil([&] { return SimWroteLast(0x0330, hex); }, 3000);
  }

  // The bridge's modal message box, once one shows.
  HWND WaitForMessageBox() {
    HWND box = nullptr;
    WaitUntil([&] {
      for (HWND window : WindowsOf(bridge_.ProcessId(), "#32770")) {
        if (IsWindowVisible(window)) box = window;
      }
      return box != nullptr;
    });
    return box;
  }

  std::string dir_;
  std::string simRecord_;
  std::unique_ptr<testsupport::TestLogHome> logHome_;
  std::string log_;
  std::unique_ptr<DebugViewer> debugViewer_;
  Unit unit_;
  std::unique_ptr<testsupport::ChildProcess> sim_;
  testsupport::ChildProcess bridge_;
  HWND form_ = nullptr;
  HWND memo_ = nullptr;
  bool simLinkOpen_ = false;
};

std::vector<Frame> FirstCycleFrames() {
  std::ifstream in(WindowsPath(KORVAN_FIRST_CYCLE_FRAMES));
  std::vector<Frame> frames;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    int type = -1;
    std::string hex;
    words >> type >> hex;
    Frame frame = FromHex(hex);
    EXPECT_TRUE(frame.size() > 3 && frame[3] == type) << line;
    frames.push_back(frame);
  }
  return frames;
}

TEST_P(BridgeE2E, ConnectsBothLinksAndSendsTheFirstCycleByteForByteAsTheLinuxBridge) {
  EXPECT_EQ(Log(), kConnectedLog);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(form_, kButton1)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(form_, kButton2)));
  const std::vector<Frame> expected = FirstCycleFrames();
  ASSERT_EQ(expected.size(), 24u);
  ASSERT_TRUE(WaitUntil([&] { return unit_.FrameCount() >= expected.size(); }));
  const std::vector<Frame> frames = unit_.Frames();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Hex(frames[i]), Hex(expected[i])) << "frame " << i;
  }
  EXPECT_EQ(ChannelEvents(unit_), (Lines{"open PIPE00", "open PIPE01", "open device"}));
  EXPECT_TRUE(WaitUntil([this] { return Label7() == "AutoPilot is not engaged"; })) << Label7();

  // The log file in its folder of any script: the previous run moved to .log.1, the older one
  // gone; the start line and the window's lines stamped, each with its CR LF; the same text to
  // the debugger's output.
  EXPECT_EQ(LogFile(".1"), "previous run\r\n");
  const std::string file = LogFile();
  EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
  const Lines fileLines = SplitLines(file);
  EXPECT_EQ(WithoutStamps(fileLines), LogFileText(kConnectedLog)) << file;
  Lines debugged;
  for (const std::string& text : debugViewer_->From(bridge_.ProcessId())) debugged.push_back(text);
  Lines ended;
  for (const std::string& line : fileLines) ended.push_back(line + "\r\n");
  EXPECT_EQ(debugged, ended);
}

// The application's window carries the title: the task bar shows what an unowned, visible window
// without WS_EX_TOOLWINDOW says, and owned windows only with WS_EX_APPWINDOW. The message box
// carries it too.
TEST_P(BridgeE2E, TheTaskBarAndTheMessageBoxesShowTheApplicationTitle) {
  std::vector<HWND> onTaskBar;
  for (HWND window : WindowsOf(bridge_.ProcessId(), nullptr)) {
    const LONG_PTR exStyle = GetWindowLongPtrA(window, GWL_EXSTYLE);
    const bool unowned = GetWindow(window, GW_OWNER) == nullptr;
    if (IsWindowVisible(window) && !(exStyle & WS_EX_TOOLWINDOW) &&
        (unowned || (exStyle & WS_EX_APPWINDOW)))
      onTaskBar.push_back(window);
  }
  ASSERT_EQ(onTaskBar.size(), 1u);
  HWND app = onTaskBar.front();
  EXPECT_EQ(ClassOf(app), "TApplication");
  EXPECT_EQ(TextOf(app), kTitle);
  EXPECT_EQ(GetWindow(form_, GW_OWNER), app);
  EXPECT_EQ(TextOf(form_), kCaption);

  // Minimizing the window minimizes the application: the button stays, the window goes.
  PostMessageA(form_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(WaitUntil([&] { return IsIconic(app) && !IsWindowVisible(form_); }, 5000))
      << IsIconic(app) << IsWindowVisible(form_) << IsIconic(form_);
  PostMessageA(app, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsIconic(app) && IsWindowVisible(form_); }));

  // A value the cycle cannot convert: the error's box, under the title.
  OpenSimLink();
  SimulatorHolds<double>(0x2848, std::numeric_limits<double>::quiet_NaN());
  HWND box = WaitForMessageBox();
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(TextOf(box), kTitle);
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "Invalid floating point operation");
  SimulatorHolds<double>(0x2848, 5.0);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
  // The program goes on: the next cycle sends its sensor frame again.
  const std::size_t before = unit_.FrameCount();
  EXPECT_TRUE(WaitUntil([&] { return !unit_.FramesOfType(0, before).empty(); }));
  EXPECT_EQ(Log(), kConnectedLog);
}

TEST_P(BridgeE2E, ServoFramesFlyTheSimulatorTheSlidersFollowAndTheStatusComesBack) {
  OpenSimLink();
  // Positions 5600 and 7700 give the commands 4096 and -2048 (16384 - (P - 1400) x 2048 / 700):
  // the aileron and elevator writes, the sliders at 4096 x 2 / 32 = 256 and -(-2048 x 2 / 32) =
  // 128, and the status values -8192 / 32 = -256 and 4096 / 32 = 128.
  ServoSender sender(unit_, ServoFrame(3, 5600, 0, 7700));
  EXPECT_TRUE(WaitUntil([this] { return Label7() == "AutoPilot is engaged"; })) << Label7();
  EXPECT_TRUE(WaitUntil([this] { return Slider(kTrackBar1) == 256 && Slider(kTrackBar2) == 128; }))
      << Slider(kTrackBar1) << " " << Slider(kTrackBar2);
  EXPECT_TRUE(WaitUntil([this] { return SimWroteLast(0x0BB6, "0010"); }));
  EXPECT_TRUE(WaitUntil([this] { return SimWroteLast(0x0BB2, "00F8"); }));
  const std::string engagedStatus =
      "1000010f000000ff0000800000000000"
      "00000000";
  EXPECT_TRUE(WaitUntil([&] {
    const std::vector<Frame> status = unit_.FramesOfType(15);
    return !status.empty() && Hex(status.back()) == engagedStatus;
  }));

  // Disengaged: the sliders show the simulator's own inputs, and the status frame them.
  sender.Set(ServoFrame(0, 7000, 0, 7000));
  EXPECT_TRUE(WaitUntil([this] { return Label7() == "AutoPilot is not engaged"; })) << Label7();
  SimulatorHolds<std::int16_t>(0x0BB6, -3200);
  SimulatorHolds<std::int16_t>(0x0BB2, 1600);
  EXPECT_TRUE(WaitUntil([this] { return Slider(kTrackBar1) == -100 && Slider(kTrackBar2) == -50; }))
      << Slider(kTrackBar1) << " " << Slider(kTrackBar2);
  EXPECT_TRUE(WaitUntil([&] {
    const std::vector<Frame> status = unit_.FramesOfType(15);
    return !status.empty() && Hex(status.back()) ==
                                  "1000010f0000640000"
                                  "00ceff0000000000000000";
  }));

  // A QNH set on the unit: 1000.0 hPa is 16000 sixteenths at 0x0330.
  EXPECT_TRUE(QnhReachesSimulator(10000, "803E"));
  EXPECT_EQ(SimulatorU16(0x0330), 16000);
  // And one set in the simulator goes to the unit: 16227 sixteenths is 10141 tenths.
  const std::size_t before = unit_.FrameCount();
  SimulatorHolds<std::uint16_t>(0x0330, 16227);
  EXPECT_TRUE(WaitUntil([&] {
    const std::vector<Frame> qnh = unit_.FramesOfType(6, before);
    return !qnh.empty() && Hex(qnh.back()) == "020001069d27";
  }));
  EXPECT_EQ(Log(), kConnectedLog);
}

TEST_P(BridgeE2E, TheWatchdogRestartsTheSilentReaderWithTheHandlesFlat) {
  HANDLE process =
      OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION, FALSE, bridge_.ProcessId());
  ASSERT_NE(process, nullptr);
  // One servo frame arms the watchdog; then the unit falls silent, and the bridge kills its
  // blocked reader and starts another about once a second.
  ASSERT_TRUE(unit_.Send(ServoFrame(0, 7000, 0, 7000), kWaitMs));
  std::set<std::pair<DWORD, ULONGLONG>> seen = ThreadsOf(bridge_.ProcessId());
  int restarts = 0;
  auto countRestarts = [&] {
    for (const auto& thread : ThreadsOf(bridge_.ProcessId())) {
      if (seen.insert(thread).second) ++restarts;
    }
  };
  const int warmUp = 3;
  ASSERT_TRUE(WaitUntil(
      [&] {
        countRestarts();
        return restarts >= warmUp;
      },
      30000));
  Sleep(300);  // the new reader waits in its read, the old one is gone
  const HandleTypes before = HandlesByType(bridge_.ProcessId(), process);
  const std::size_t threads = ThreadsOf(bridge_.ProcessId()).size();
  ASSERT_GT(before.count(L"Thread") + before.count(L"File"), 0u) << Describe(before);

  const int wanted = warmUp + GetParam().restarts;
  ASSERT_TRUE(WaitUntil(
      [&] {
        countRestarts();
        return restarts >= wanted;
      },
      static_cast<DWORD>(GetParam().restarts) * 3000 + 30000))
      << restarts << " restarts";
  Sleep(300);
  HandleTypes after;
  EXPECT_TRUE(WaitUntil(
      [&] {
        after = HandlesByType(bridge_.ProcessId(), process);
        return Named(after) == Named(before);
      },
      30000))
      << "before: " << Describe(before) << "\nafter:  " << Describe(after);
  EXPECT_EQ(ThreadsOf(bridge_.ProcessId()).size(), threads);
  const int waits =
      (after.count(L"") ? after.at(L"") : 0) - (before.count(L"") ? before.at(L"") : 0);
  std::printf(
      "%d reader restarts; the bridge's handles by type: %s; Wine's read wait handles "
      "left by the killed readers: %d\n",
      restarts - warmUp, Describe(after).c_str(), waits);
  CloseHandle(process);

  // The reader of now still reads: a QNH from the unit reaches the simulator.
  EXPECT_TRUE(QnhReachesSimulator(10010, "903E"));  // 1001.0 hPa: 16016 sixteenths
  EXPECT_EQ(Log(), kConnectedLog);
}

TEST_P(BridgeE2E, AKilledSimulatorGivesOneProblemLineAndReconnectConnectsAgain) {
  HANDLE sim = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, sim_->ProcessId());
  ASSERT_NE(sim, nullptr);
  ASSERT_TRUE(TerminateProcess(sim, 9));
  WaitForSingleObject(sim, kWaitMs);
  CloseHandle(sim);
  ASSERT_TRUE(sim_->WaitForExit(kWaitMs));
  ASSERT_TRUE(WaitUntil([this] { return Log().size() > kConnectedLog.size(); })) << Text();
  const Lines problem = Log();
  // Its window is gone: SendMessageTimeout fails at once (error 1400), not by timing out.
  EXPECT_EQ(problem.back(), "FlightSim problem: IPC sendmessage failed all retries");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(form_, kButton1)));
  Sleep(1500);  // the cycle stands still: no second line
  EXPECT_EQ(Log(), problem);
  const std::size_t stopped = unit_.FramesOfType(11).size();
  Sleep(500);
  EXPECT_EQ(unit_.FramesOfType(11).size(), stopped) << "no attitude frame without the simulator";

  StartSim();
  // The button pressed from this process, as a click would.
  SendMessageA(GetDlgItem(form_, kButton1), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Log().size() > problem.size(); })) << Text();
  Lines expected = problem;
  expected.push_back("Connected to FSX");
  EXPECT_EQ(Log(), expected);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(form_, kButton1)));
  EXPECT_TRUE(WaitUntil([&] { return unit_.FramesOfType(11).size() > stopped + 5; }))
      << "the cycle goes on";
  // Each line of the window, in the file too.
  EXPECT_EQ(WithoutStamps(SplitLines(LogFile())), LogFileText(expected));
}

TEST_P(BridgeE2E, ClosingTheWindowEndsTheProcessWithItsHandlesClosed) {
  char areaName[64];
  std::snprintf(areaName, sizeof areaName, "FsasmLib:IPC:%X:1",
                static_cast<unsigned>(bridge_.ProcessId()));
  EXPECT_NE(GlobalFindAtomA(areaName), 0) << areaName;
  PostMessageA(form_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(bridge_.WaitForExit(kWaitMs));
  EXPECT_EQ(bridge_.ExitCode(), 0);
  // Disengaged, the fast ticks wrote 0 at 0x310A themselves: the close added no exchange.
  EXPECT_NE(LastBatch(), Lines{"id 2 offset 0x310A size 1 data 00"});
  // Its pipes were closed, and its atom deleted (a global atom outlives its process).
  EXPECT_TRUE(WaitUntil([&] {
    return ChannelEvents(unit_) == Lines{"close PIPE00", "close PIPE01", "close device",
                                         "open PIPE00",  "open PIPE01",  "open device"};
  }));
  EXPECT_EQ(GlobalFindAtomA(areaName), 0) << areaName;
  HANDLE area = OpenFileMappingA(FILE_MAP_READ, FALSE, areaName);
  EXPECT_EQ(area, nullptr);
  if (area != nullptr) CloseHandle(area);
  EXPECT_TRUE(WindowsOf(bridge_.ProcessId(), nullptr).empty());
  // The file's last line, its own.
  Lines text = LogFileText(kConnectedLog);
  text.push_back("korvan-bridge 1.1 exits");
  EXPECT_EQ(WithoutStamps(SplitLines(LogFile())), text);
}

// Engaged, the yoke is disconnected (3 at 0x310A): a close hands it back with one last
// exchange, and so does a logoff, which Windows may end the process after at any moment.
TEST_P(BridgeE2E, AnEngagedCloseOrLogoffHandsTheControlsBackInOneLastExchange) {
  ServoSender sender(unit_, ServoFrame(3, 5600, 0, 7700));
  ASSERT_TRUE(WaitUntil([this] { return SimWroteLast(0x0BB6, "0010"); }));
  if (std::string(GetParam().windowClass) == "UIPCMAIN") {
    PostMessageA(form_, WM_CLOSE, 0, 0);
  } else {
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(form_, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                    kWaitMs, &answer));
    EXPECT_EQ(answer, TRUE) << "a logoff is never refused";
    PostMessageA(form_, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  }
  ASSERT_TRUE(bridge_.WaitForExit(kWaitMs));
  EXPECT_EQ(bridge_.ExitCode(), 0);
  EXPECT_EQ(LastBatch(), Lines{"id 2 offset 0x310A size 1 data 00"});
}

// A second start (a double click beside an automatic one) leaves at once and brings the first
// forward; the first keeps its link, its EFIS and its one handshake.
TEST_P(BridgeE2E, ASecondStartExitsAndBringsTheFirstForward) {
  if (std::string(GetParam().windowClass) != "UIPCMAIN") GTEST_SKIP() << "one class is enough";
  HWND app = GetWindow(form_, GW_OWNER);
  PostMessageA(form_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsIconic(app) && !IsWindowVisible(form_); }, 5000));
  testsupport::ChildProcess second;
  const ULONGLONG started = GetTickCount64();
  ASSERT_TRUE(second.Start(KORVAN_BRIDGE_EXE, {})) << second.ErrorText();
  ASSERT_TRUE(second.WaitForExit(kWaitMs));
  std::printf("the second copy exited after %llu ms\n", GetTickCount64() - started);
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsIconic(app) && IsWindowVisible(form_); }))
      << "the first copy is restored";
  EXPECT_TRUE(WindowsOf(second.ProcessId(), nullptr).empty());
  // Untouched: one handshake at the module, one opener of each pipe, the same log.
  EXPECT_EQ(SimWrites(0x330A).size(), 1u);
  EXPECT_EQ(ChannelEvents(unit_), (Lines{"open PIPE00", "open PIPE01", "open device"}));
  EXPECT_EQ(Log(), kConnectedLog);
  const std::size_t before = unit_.FrameCount();
  EXPECT_TRUE(WaitUntil([&] { return !unit_.FramesOfType(11, before).empty(); }))
      << "the first copy's cycle goes on";
}

INSTANTIATE_TEST_SUITE_P(Classes, BridgeE2E,
                         ::testing::Values(Setting{"UIPCMAIN", 100}, Setting{"FS98MAIN", 5}),
                         [](const ::testing::TestParamInfo<Setting>& info) {
                           return std::string(info.param.windowClass);
                         });

// The exe a pilot downloads: its version resource and its icon.
TEST(BridgeExe, CarriesItsVersionAndIcon) {
  const std::string path = WindowsPath(KORVAN_BRIDGE_EXE);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << GetLastError();
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
  auto value = [&](const char* name) {
    char* text = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
      return std::string("(none)");
    return std::string(text);
  };
  EXPECT_EQ(value("ProductName"), kTitle);
  EXPECT_EQ(value("FileDescription"), kTitle);
  EXPECT_EQ(value("ProductVersion"), "1.1");
  EXPECT_EQ(value("FileVersion"), "1.1");
  EXPECT_EQ(value("OriginalFilename"), "korvan-bridge.exe");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // The main icon, resource 1: one image, 32 x 32 in 16 colours.
  HMODULE exe = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr) << GetLastError();
  HRSRC group = FindResourceA(exe, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(exe, group)));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[4] | bytes[5] << 8, 1) << "images";
  EXPECT_EQ(bytes[6], 32) << "width";
  EXPECT_EQ(bytes[7], 32) << "height";
  EXPECT_EQ(bytes[8], 16) << "colours";
  FreeLibrary(exe);
}

}  // namespace
