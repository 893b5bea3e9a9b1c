// The bridge's work by hand (work_floor.h): the batches in the shared area, the exchange, the
// frames and the reader thread, on the platform layer's client calls alone.
#include "tests/bench/work_floor.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/device.h"
#include "platform/ipc.h"
#include "platform/thread.h"
#include "tests/bench/sim_records.h"

namespace workfloor {
namespace {

constexpr std::uint32_t kAreaSize = 0x8000;
constexpr std::uint32_t kSendTimeoutMs = 400;
constexpr platform::DeviceClassGuid kEfisClass = {
    0x0577ABC6, 0xB5F2, 0x4025, {0x82, 0x30, 0xAA, 0x4F, 0x8C, 0x0E, 0x9E, 0x60}};

// The link.
platform::WindowHandle Server = 0;
std::uint32_t Message = 0;
std::uint16_t Atom = 0;
std::uint8_t* Area = nullptr;

// The batch being laid out: where the next record goes, and where each read's value is copied.
std::uint32_t At = 0;
struct Pending {
  std::uint32_t position, size;
  std::uint8_t* destination;
};
Pending Reads[40];
std::uint32_t ReadCount = 0;

// The raw values of the last exchanges, and the two reads of the simulator's inputs.
std::uint8_t FastValues[64];
std::uint8_t SlowValues[256];
std::uint8_t Inputs[4];

// The EFIS.
bool WithEfis = false;
platform::Handle WritePipe = platform::kInvalidHandle;
platform::Handle ReadPipe = platform::kInvalidHandle;
// The last servo frame's bank and pitch position bytes (6-7 and 10-11), as the reader took them.
std::atomic<std::uint32_t> ServoBytes{0};

// The schedule.
int Phase = 0;
int RefreshTicks = 0;
std::uint16_t HeldQnh = 0;
int ShownBank = 1000, ShownPitch = 1000;
const char* ShownCaption = nullptr;

// The frames: a header (payload length, 0, 1, type) and the payload.
struct Frame {
  std::uint8_t bytes[64];
  std::uint32_t size;
};
Frame MakeFrame(std::uint32_t size, std::uint8_t type) {
  Frame frame{{static_cast<std::uint8_t>(size - 4), 0, 1, type}, size};
  return frame;
}
Frame Sensor = MakeFrame(30, 0), Engine1 = MakeFrame(64, 1), Engine2 = MakeFrame(64, 2),
      Gps3 = MakeFrame(20, 3), Gps1 = MakeFrame(43, 4), Gps2 = MakeFrame(24, 5),
      Qnh = MakeFrame(6, 6), Attitude = MakeFrame(37, 11), Engine1Aux = MakeFrame(9, 12),
      Engine2Aux = MakeFrame(9, 13), ServoStatus = MakeFrame(20, 15);

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "work floor: %s (error %u)\n", what,
               static_cast<unsigned>(platform::LastError()));
  std::exit(1);
}

void Put32(std::uint32_t value) {
  std::memcpy(Area + At, &value, 4);
  At += 4;
}

void QueueRead(std::uint32_t offset, std::uint32_t size, std::uint8_t* destination) {
  Reads[ReadCount++] = {At + 16, size, destination};
  Put32(1);
  Put32(offset);
  Put32(size);
  Put32(ReadCount);
  std::memset(Area + At, 0, size);
  At += size;
}

void QueueWrite(std::uint32_t offset, std::uint32_t size, const void* source) {
  Put32(2);
  Put32(offset);
  Put32(size);
  std::memcpy(Area + At, source, size);
  At += size;
}

void QueueGroup(const bench::SimRecord* records, int count, std::uint8_t* values) {
  for (int i = 0; i < count; ++i) {
    QueueRead(records[i].offset, records[i].size, values);
    values += records[i].size;
  }
}

// The terminator, the message, and each read's value out of the area.
void Exchange() {
  std::memset(Area + At, 0, 4);
  std::uintptr_t reply = 0;
  if (!platform::SendMessageWithTimeout(Server, Message, Atom, 0, kSendTimeoutMs, &reply) ||
      reply != 1)
    Fail("the exchange failed");
  for (std::uint32_t i = 0; i < ReadCount; ++i)
    std::memcpy(Reads[i].destination, Area + Reads[i].position, Reads[i].size);
  At = 0;
  ReadCount = 0;
}

void Send(Frame& frame, const std::uint8_t* payload) {
  std::memcpy(frame.bytes + 4, payload, frame.size - 4);
  std::uint32_t done = 0;
  if (!platform::WriteDeviceFile(WritePipe, frame.bytes, frame.size, &done))
    Fail("a frame write failed");
}

void Flush() {
  platform::FlushDeviceFile(WritePipe);
}

std::int16_t Signed16(std::uint32_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

int SliderAt(int value) {
  const int position = value / 32;
  return position < -512 ? -512 : position > 512 ? 512 : position;
}

void Show(const Window& window, int bank, int pitch, const char* caption) {
  if (caption != ShownCaption) {
    ShownCaption = caption;
    window.ShowCaption(window.context, caption);
  }
  if (bank != ShownBank || pitch != ShownPitch) {
    ShownBank = bank;
    ShownPitch = pitch;
    window.ShowSliders(window.context, bank, pitch);
  }
}

// The engaged autopilot's writes: 3 at 0x310A every 31st tick, the two servo positions.
void QueueEngaged(const Window& window) {
  static const std::uint8_t kDisconnect = 3;
  if (RefreshTicks == 30) {
    RefreshTicks = 0;
    QueueWrite(0x310A, 1, &kDisconnect);
  } else {
    ++RefreshTicks;
  }
  const std::uint32_t servos = ServoBytes.load(std::memory_order_relaxed);
  QueueWrite(0x0BB6, 2, &servos);
  QueueWrite(0x0BB2, 2, reinterpret_cast<const std::uint8_t*>(&servos) + 2);
  Show(window, SliderAt(Signed16(servos)), -SliderAt(Signed16(servos >> 16)),
       "AutoPilot is engaged");
}

// Disengaged: 0 at 0x310A, the simulator's two inputs read (shown from the last exchange's).
void QueueDisengaged(const Window& window) {
  static const std::uint8_t kConnect = 0;
  QueueWrite(0x310A, 1, &kConnect);
  std::int16_t bank, pitch;
  std::memcpy(&bank, Inputs, 2);
  std::memcpy(&pitch, Inputs + 2, 2);
  QueueRead(0x0BB6, 2, Inputs);
  QueueRead(0x0BB2, 2, Inputs + 2);
  Show(window, SliderAt(bank), -SliderAt(pitch), "AutoPilot is not engaged");
}

void FastTick(const Window& window) {
  QueueGroup(bench::kFastGroup, 6, FastValues);
  if (WithEfis) {
    QueueEngaged(window);
    const std::uint32_t servos = ServoBytes.load(std::memory_order_relaxed);
    std::uint8_t status[16] = {};
    std::memcpy(status + 2, &servos, 4);
    Send(ServoStatus, status);
  } else {
    QueueDisengaged(window);
  }
  Exchange();
  if (!WithEfis) return;
  Send(Attitude, FastValues);
  Flush();
}

void SlowTick() {
  QueueGroup(bench::kSlowGroup, 30, SlowValues);
  Exchange();
  if (!WithEfis) return;
  Send(Sensor, SlowValues);
  Flush();
  if (Phase == 5) {
    Send(Gps1, SlowValues);
    Send(Gps2, SlowValues);
    Send(Gps3, SlowValues);
    Flush();
  }
  for (Frame* frame : {&Engine1, &Engine1Aux, &Engine2, &Engine2Aux}) {
    Send(*frame, SlowValues + 32);
    Flush();
  }
  std::uint16_t qnh;
  std::memcpy(&qnh, SlowValues + 166, 2);  // 0x0330, the 29th of the thirty
  if (qnh != HeldQnh) {
    HeldQnh = qnh;
    Send(Qnh, SlowValues + 166);
  }
}

// The reader: blocks on the read pipe; a servo frame's position bytes for the next fast tick.
void ReadFrames(void*) {
  std::uint8_t input[64];
  while (!platform::ThreadKilled()) {
    std::uint32_t count = 0;
    if (!platform::ReadDeviceFile(ReadPipe, input, sizeof input, &count)) return;
    if (count < 12 || input[3] != 14) continue;
    ServoBytes.store(static_cast<std::uint32_t>(input[6] << 8 | input[7]) |
                         static_cast<std::uint32_t>(input[10] << 8 | input[11]) << 16,
                     std::memory_order_relaxed);
  }
}
const platform::ThreadStart kReader = {ReadFrames, nullptr};

bool OpenLink() {
  Server = platform::FindTopLevelWindow("UIPCMAIN");
  Message = platform::RegisterMessageName("FsasmLib:IPC");
  char name[64];
  std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1",
                static_cast<unsigned>(platform::CurrentProcessId()));
  Atom = Server != 0 && Message != 0 ? platform::AddGlobalAtom(name) : 0;
  const platform::Handle mapping = Atom != 0 ? platform::CreateSharedArea(name, kAreaSize) : 0;
  Area = mapping != 0 ? static_cast<std::uint8_t*>(platform::MapSharedArea(mapping)) : nullptr;
  return Area != nullptr;
}

// The first interface's path, as the detail record gives it.
bool FindEfis(std::string& path) {
  const platform::DeviceInfoSet set = platform::OpenDeviceInterfaceSet(
      kEfisClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  if (set == platform::kInvalidDeviceInfoSet) return false;
  platform::DeviceInterfaceData data{};
  data.cbSize = platform::kDeviceInterfaceDataSize;
  alignas(8) std::uint8_t detail[1024] = {};
  std::uint32_t required = 0;
  bool found = platform::EnumDeviceInterface(set, kEfisClass, 0, &data);
  if (found) {
    platform::GetDeviceInterfaceDetail(set, &data, nullptr, 0, &required);
    std::memcpy(detail, &platform::kDeviceInterfaceDetailSize, 4);
    found = required <= sizeof detail &&
            platform::GetDeviceInterfaceDetail(set, &data, detail, required, nullptr);
  }
  platform::CloseDeviceInterfaceSet(set);
  if (found) path = reinterpret_cast<const char*>(detail + 4);
  return found;
}

bool OpenEfis() {
  std::string path;
  if (!FindEfis(path)) return false;
  const platform::Handle device = platform::OpenDeviceFile(
      path.c_str(), platform::kGenericRead | platform::kGenericWrite,
      platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting, 0);
  ReadPipe = platform::OpenDeviceFile((path + "\\PIPE00").c_str(), platform::kGenericRead, 0,
                                      platform::kOpenExisting, 0);
  WritePipe = platform::OpenDeviceFile((path + "\\PIPE01").c_str(), platform::kGenericWrite, 0,
                                       platform::kOpenExisting, 0);
  return device != platform::kInvalidHandle && ReadPipe != platform::kInvalidHandle &&
         WritePipe != platform::kInvalidHandle && platform::StartThread(&kReader) != 0;
}

}  // namespace

bool Open(bool efis) {
  WithEfis = efis;
  if (!OpenLink()) {
    std::fprintf(stderr, "work floor: no link to the module (error %u)\n",
                 static_cast<unsigned>(platform::LastError()));
    return false;
  }
  if (efis && !OpenEfis()) {
    std::fprintf(stderr, "work floor: cannot open the EFIS (error %u)\n",
                 static_cast<unsigned>(platform::LastError()));
    return false;
  }
  return true;
}

void Tick(const Window& window) {
  Phase = Phase == 9 ? 0 : Phase + 1;
  if (Phase % 2 == 0) {
    FastTick(window);
  } else if (Phase == 1 || Phase == 5) {
    SlowTick();
  }
}

}  // namespace workfloor
