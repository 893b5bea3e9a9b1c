// korvan-sim: the stand-in data-exchange module. One window, one message, one offset space;
// every batch is handled on the serving thread before the reply goes back.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/ipc.h"
#include "platform/ipc_server.h"
#include "standins/common/failure.h"
#include "standins/common/say.h"
#include "standins/sim/sim_exchange.h"
#include "standins/sim/sim_flight.h"
#include "standins/sim/sim_options.h"
#include "standins/sim/sim_record.h"
#include "standins/sim/sim_rewrite.h"
#include "standins/sim/sim_space.h"

namespace {

sim::SimOptions Options;
std::uint32_t IpcMessage = 0;
std::uint32_t Exchanges = 0;
std::atomic<platform::ServerWindow*> Window{nullptr};
volatile std::sig_atomic_t StopSignalled = 0;
// The flight model's clock: it runs from the first exchange on, in the model's own steps.
bool FlightClockStarted = false;
std::uint32_t FlightClockMs = 0;
double NextFlightLineS = 0;
// --exchange-log and --step-bank: both on the steady clock, in microseconds.
std::FILE* ExchangeLog = nullptr;
std::int64_t BankStepsFromUs = 0;

const char* const kSimNames[] = {"Any", "FS98",   "FS2K",   "CFS2", "CFS1",
                                 "FLY", "FS2002", "FS2004", "FSX"};

using standins::Say;

void OnStopSignal(int) {
  StopSignalled = 1;
  if (platform::ServerWindow* window = Window.load()) platform::RequestServerStop(window);
}

// Waits out --delay-ms, but not past a stop request.
void Delay(std::uint32_t ms) {
  while (ms > 0 && !platform::ServerStopRequested(Window.load())) {
    const std::uint32_t step = ms < 10 ? ms : 10;
    platform::SleepMs(step);
    ms -= step;
  }
}

// Brings the flight up to now before a batch is read, and says where it is once a second.
void Fly() {
  const std::uint32_t now = platform::TimeGetTime();
  if (!FlightClockStarted) {
    FlightClockStarted = true;
    FlightClockMs = now;
  }
  const std::uint32_t elapsed = now - FlightClockMs;  // modulo 2^32
  FlightClockMs = now;
  // A stalled client is not made up for with minutes of flight in one go.
  sim::AdvanceFlight(elapsed < 2000 ? elapsed / 1000.0 : 2.0);
  if (sim::FlightTimeS() >= NextFlightLineS) {
    const sim::FlightView view = sim::ViewFlight();
    char line[400];
    sim::FormatFlight(view, line, sizeof line);
    Say("%s", line);
    NextFlightLineS = view.timeS + 1;
  }
}

std::int64_t SteadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// --step-bank: the fixed state's bank as it stands now, 1 to 20 degrees, a step every period.
void StepBank() {
  const std::int64_t steps = (SteadyMicros() - BankStepsFromUs) / (Options.stepBankMs * 1000LL);
  sim::SpacePutDouble(0x2F78, static_cast<double>(1 + steps % 20));
}

// Every handled record goes to the record log; a write may take or hand back the controls.
void OnRecord(void* context, const sim::RecordView& record) {
  sim::RecordLine(context, record);
  if (Options.fly && record.id == sim::kWriteRecordId)
    sim::FlightClientWrote(record.offset, record.size);
}

// --poison-doubles: clean and poisoned episodes in turn, the poisons in their order. Said once
// as each episode begins.
void PoisonForThisExchange() {
  if (Options.poisonCount == 0) return;
  const std::uint32_t episode = (Exchanges - 1) / Options.poisonEpisode;
  const bool begins = (Exchanges - 1) % Options.poisonEpisode == 0;
  if (episode % 2 == 0) {
    if (!Options.fly) sim::RestoreFixedDoubles();
    if (begins) Say("korvan-sim: episode %u from exchange %u: clean doubles", episode, Exchanges);
    return;
  }
  const double value = Options.poison[(episode / 2) % Options.poisonCount];
  sim::PoisonFixedDoubles(value);
  if (begins)
    Say("korvan-sim: episode %u from exchange %u: every double is %g", episode, Exchanges, value);
}

// The area a message's atom names, mapped. A connection's senders name one area message after
// message, so it is looked up once per connection and kept until the connection ends (or names
// another atom); without connections (Win32) it is looked up for each message.
struct Area {
  std::uint32_t connection = 0;  // 0: a free slot
  std::uint32_t atom = 0;
  platform::Handle mapping = 0;
  void* view = nullptr;
  std::uint32_t size = 0;
};
constexpr int kKeptAreas = 16;
Area KeptAreas[kKeptAreas];

void ReleaseArea(Area& area) {
  if (area.view != nullptr) platform::UnmapSharedArea(area.view);
  if (area.mapping != 0) platform::CloseKernelHandle(area.mapping);
  area = Area{};
}

// Maps the area named by `atom` into `area`; false (after a line) when it cannot.
bool MapArea(std::uint32_t atom, Area& area) {
  char name[256];
  if (atom == 0 || atom > 0xFFFF ||
      platform::GetGlobalAtomName(static_cast<std::uint16_t>(atom), name, sizeof name) == 0) {
    Say("korvan-sim: exchange %u: no atom 0x%X (error %u), reply 0", Exchanges, atom,
        platform::LastError());
    return false;
  }
  area.mapping = platform::OpenSharedArea(name);
  if (area.mapping == 0) {
    Say("korvan-sim: exchange %u: cannot open area %s (error %u), reply 0", Exchanges, name,
        platform::LastError());
    return false;
  }
  area.view = platform::MapSharedArea(area.mapping);
  if (area.view == nullptr) {
    Say("korvan-sim: exchange %u: cannot map area %s (error %u), reply 0", Exchanges, name,
        platform::LastError());
    ReleaseArea(area);
    return false;
  }
  area.atom = atom;
  area.size = platform::SharedAreaSize(area.view);
  return true;
}

// The connection's kept area when it names the same atom, else a fresh one (kept when the
// connection allows). Null when the area cannot be had.
Area* AreaFor(std::uint32_t connection, std::uint32_t atom, Area& unkept) {
  if (connection == 0) return MapArea(atom, unkept) ? &unkept : nullptr;
  Area* slot = nullptr;
  for (Area& area : KeptAreas) {
    if (area.connection == connection) {
      if (area.atom == atom) return &area;
      ReleaseArea(area);
      slot = &area;
      break;
    }
    if (slot == nullptr && area.connection == 0) slot = &area;
  }
  if (slot == nullptr) return MapArea(atom, unkept) ? &unkept : nullptr;
  if (!MapArea(atom, *slot)) return nullptr;
  slot->connection = connection;
  return slot;
}

void OnConnectionEnd(void*, std::uint32_t connection) {
  for (Area& area : KeptAreas) {
    if (area.connection == connection) ReleaseArea(area);
  }
}

// Handles the batch in the area named by `atom`; returns the reply.
std::uint32_t ServeBatch(const platform::ServerMessage& message, std::int64_t arrivedUs) {
  Area unkept;
  Area* mapped = AreaFor(message.connection, message.wParam, unkept);
  if (mapped == nullptr) return 0;
  auto* area = static_cast<std::uint8_t*>(mapped->view);
  const std::uint32_t size = mapped->size;

  sim::BeginRecordBatch(Exchanges);
  if (Options.fly) Fly();
  if (Options.stepBankMs != 0 && !Options.fly) StepBank();
  PoisonForThisExchange();
  const sim::ExchangeResult result = sim::RunExchange(area, size, OnRecord, nullptr);
  char damage[256] = "";
  if (!result.accepted) {
    sim::RecordRefusal(result.problem);
    Say("korvan-sim: exchange %u: bad batch: %s, reply 0", Exchanges, result.problem);
  } else if (Options.rewrite != 0 && Exchanges > Options.rewriteAfter) {
    sim::RewriteArea(area, size, result.length, Options.rewrite, Exchanges, damage, sizeof damage);
  }
  sim::EndRecordBatch();
  ReleaseArea(unkept);

  const std::uint32_t reply = result.accepted ? Options.reply : 0;
  if (ExchangeLog != nullptr)
    std::fprintf(ExchangeLog, "%lld %u %u\n", static_cast<long long>(arrivedUs), result.reads,
                 result.writes);
  if (Options.verbose && result.accepted)
    Say("exchange %u: %u reads, %u writes, reply %u%s%s", Exchanges, result.reads, result.writes,
        reply, damage[0] ? ", rewrote " : "", damage);
  return reply;
}

bool HandleMessage(void*, const platform::ServerMessage& message, std::uint32_t* reply) {
  if (message.msg != IpcMessage) {
    *reply = 0;
    return true;
  }
  ++Exchanges;
  bool answered = false;
  if (Options.neverAnswer || (Options.silentAfter != 0 && Exchanges > Options.silentAfter)) {
    if (Options.verbose) Say("exchange %u: not answered", Exchanges);
  } else {
    const std::int64_t arrivedUs = ExchangeLog != nullptr ? SteadyMicros() : 0;
    Delay(Options.delayMs);
    *reply = ServeBatch(message, arrivedUs);
    answered = true;
  }
  if (Options.exitAfter != 0 && Exchanges >= Options.exitAfter)
    platform::RequestServerStop(Window.load());
  return answered;
}

const char* SimName(std::uint16_t id, char* buffer, std::size_t size) {
  if (id < sizeof kSimNames / sizeof kSimNames[0]) return kSimNames[id];
  std::snprintf(buffer, size, "id %u", id);
  return buffer;
}

// The offset space, and the record and exchange logs the options ask for. False (after a line)
// when a log does not open.
bool Prepare() {
  if (Options.recordPath != nullptr && !sim::OpenRecordLog(Options.recordPath)) {
    standins::SayLibraryFailure("korvan-sim",
                                std::string("fopen record file ") + Options.recordPath, errno);
    return false;
  }
  if (Options.fly) {
    sim::BeginFlight(Options.flight, Options.version, Options.simId);
  } else {
    sim::LoadFixedState(Options.version, Options.simId);
  }
  sim::SetHandshakeHidden(Options.zeros);
  if (Options.exchangeLogPath != nullptr) {
    ExchangeLog = std::fopen(Options.exchangeLogPath, "w");
    if (ExchangeLog == nullptr) {
      standins::SayLibraryFailure(
          "korvan-sim", std::string("fopen exchange log ") + Options.exchangeLogPath, errno);
      sim::CloseRecordLog();
      return false;
    }
  }
  if (Options.stepBankMs != 0 && !Options.fly) {
    BankStepsFromUs = SteadyMicros();
    Say("bank steps every %u ms from %lld us", Options.stepBankMs,
        static_cast<long long>(BankStepsFromUs));
  }
  return true;
}

// The stop signals, the message and the window of the class. Null (after a line) on failure.
platform::ServerWindow* OpenWindow() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  IpcMessage = platform::RegisterMessageName("FsasmLib:IPC");
  if (IpcMessage == 0) {
    standins::SayFailure("korvan-sim", "IPC", "RegisterMessageName FsasmLib:IPC",
                         platform::LastError());
    return nullptr;
  }
  platform::ServerWindow* window =
      platform::CreateServerWindow(Options.windowClass, HandleMessage, nullptr);
  if (window == nullptr) {
    const std::uint32_t code = platform::LastError();
    standins::SayFailure(
        "korvan-sim", "IPC", std::string("CreateServerWindow ") + Options.windowClass, code,
        code == platform::kErrorClassAlreadyExists ? "one is already running" : nullptr);
    return nullptr;
  }
  platform::SetServerConnectionEnd(window, OnConnectionEnd);
  Window.store(window);
  if (StopSignalled) platform::RequestServerStop(window);
  return window;
}

// Serves until stopped, then lets go of everything. The exit code.
int Serve(platform::ServerWindow* window) {
  char nameBuffer[16];
  Say("korvan-sim ready: window %s, FSUIPC 0x%08X, simulator %u (%s)%s", Options.windowClass,
      Options.version, Options.simId, SimName(Options.simId, nameBuffer, sizeof nameBuffer),
      !Options.fly                                   ? ""
      : Options.flight.pilot == sim::PilotMode::Hold ? ", flying (pilot holds bank and altitude)"
                                                     : ", flying (pilot on a tour)");
  const bool served = platform::RunServerWindow(window);
  const std::uint32_t code = served ? 0 : platform::LastError();
  Window.store(nullptr);
  for (Area& area : KeptAreas) ReleaseArea(area);
  platform::DestroyServerWindow(window);
  sim::CloseRecordLog();
  if (ExchangeLog != nullptr) std::fclose(ExchangeLog);
  if (!served) {
    standins::SayFailure("korvan-sim", "IPC", "RunServerWindow", code);
    return 1;
  }
  Say("korvan-sim stopped after %u exchanges", Exchanges);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  char error[200];
  switch (sim::ParseSimOptions(argc, argv, Options, error, sizeof error)) {
    case sim::ParseOutcome::Help:
      std::fputs(sim::kSimHelpText, stdout);
      return 0;
    case sim::ParseOutcome::Error:
      std::fprintf(stderr, "korvan-sim: %s (see --help)\n", error);
      return 2;
    case sim::ParseOutcome::Run:
      break;
  }
  if (!Prepare()) return 2;
  platform::ServerWindow* window = OpenWindow();
  if (window == nullptr) {
    sim::CloseRecordLog();
    if (ExchangeLog != nullptr) std::fclose(ExchangeLog);
    return 1;
  }
  return Serve(window);
}
