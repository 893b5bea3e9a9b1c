// A device server on Windows: message-mode named pipes served with overlapped I/O on one
// thread, and the frames for PIPE00 written one at a time on another. Publishing is
// win32_device_publish.cpp's.
#include "platform/win32/win32_device_server.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace platform {

const std::uint32_t kRefusedOpenError = kErrorFileNotFound;
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrorInvalidName == ERROR_INVALID_NAME);

namespace win32 {

bool Fail(char* why, std::size_t whySize, const char* layer, const std::string& step, DWORD code) {
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
  if (n == 0) std::snprintf(text, sizeof text, "unknown error");
  if (why != nullptr && whySize > 0) {
    std::snprintf(why, whySize, "%s: %s failed: %s (error %lu)", layer, step.c_str(), text,
                  static_cast<unsigned long>(code));
  }
  SetLastError(code);
  return false;
}

}  // namespace win32

namespace {

using win32::Channel;
using win32::Slot;

constexpr DWORD kPipeBuffer = 4096;
constexpr std::size_t kMaxUnitName = 64;
const char* const kChannelSuffix[kDeviceChannels] = {"", "\\PIPE00", "\\PIPE01"};

// --- one pipe instance ---------------------------------------------------------------------

// An operation was started: `ok` is what its call returned.
void Started(Slot& slot, BOOL ok) {
  slot.error = 0;
  if (ok) return;  // done at once: the event is set
  const DWORD code = GetLastError();
  if (code == ERROR_IO_PENDING) return;
  if (code == ERROR_MORE_DATA) {  // done at once, with the first part of a longer message
    SetEvent(slot.io.hEvent);
    return;
  }
  if (code == ERROR_PIPE_CONNECTED) {
    slot.atOnce = true;  // the opener came before the wait
  } else {
    slot.error = code;
  }
  SetEvent(slot.io.hEvent);
}

void Listen(Slot& slot) {
  ResetEvent(slot.io.hEvent);
  slot.atOnce = false;
  Started(slot, ConnectNamedPipe(slot.pipe, &slot.io));
}

// A read into the buffer, or into the rest while a longer message's rest is being dropped.
void Read(Slot& slot) {
  ResetEvent(slot.io.hEvent);
  slot.reading = true;
  Started(slot, ReadFile(slot.pipe, slot.more ? slot.rest : slot.buffer, kServedFrameBytes, nullptr,
                         &slot.io));
}

// The listener's wait ended: true when an opener is connected.
bool Connected(Slot& slot) {
  DWORD ignored = 0;
  return slot.error == 0 &&
         (slot.atOnce || GetOverlappedResult(slot.pipe, &slot.io, &ignored, FALSE));
}

enum class Outcome { Whole, Part, Failed };

// The read ended: a whole message (or its last part), a part of a longer one, or the end.
Outcome Finish(Slot& slot, DWORD* done) {
  *done = 0;
  slot.reading = false;
  if (slot.error != 0) return Outcome::Failed;
  if (GetOverlappedResult(slot.pipe, &slot.io, done, FALSE)) return Outcome::Whole;
  return GetLastError() == ERROR_MORE_DATA ? Outcome::Part : Outcome::Failed;
}

// Abandons the pending operation and the instance.
void Close(Slot& slot) {
  if (!slot.Open()) return;
  DWORD ignored = 0;
  if (CancelIoEx(slot.pipe, &slot.io)) GetOverlappedResult(slot.pipe, &slot.io, &ignored, TRUE);
  DisconnectNamedPipe(slot.pipe);
  CloseHandle(slot.pipe);
  slot.pipe = INVALID_HANDLE_VALUE;
  slot.reading = slot.more = false;
  slot.total = 0;
}

bool MakeListener(Channel& c, bool first) {
  const DWORD flags = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                      (first ? static_cast<DWORD>(FILE_FLAG_FIRST_PIPE_INSTANCE) : 0);
  c.listener.pipe =
      CreateNamedPipeA(c.name.c_str(), flags, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                       PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, nullptr);
  return c.listener.Open();
}

// --- serving -------------------------------------------------------------------------------

void Tell(DeviceServer& s, DeviceChannel channel, DeviceEvent event) {
  if (s.setup.event != nullptr) s.setup.event(s.setup.context, channel, event);
}

void SetToOpener(DeviceServer& s, HANDLE pipe) {
  win32::SendLock lock(s);
  s.toOpener = pipe;
  s.readOpen.store(pipe != nullptr);
  s.stale = s.queued;
}

void EndConnection(DeviceServer& s, Channel& c, Slot& conn, bool told) {
  if (!conn.Open()) return;
  if (c.which == DeviceChannel::ReadPipe) SetToOpener(s, nullptr);
  Close(conn);
  if (told) Tell(s, c.which, DeviceEvent::Closed);
}

void DropAll(DeviceServer& s) {
  s.drop.store(false);
  for (Channel& c : s.channels) {
    for (Slot& conn : c.conns) EndConnection(s, c, conn, true);
  }
}

// Every connection reads, so its opener's close ends the read; held, PIPE01's takes no frame
// (the rest of a longer message it is in is still dropped).
void NextRead(DeviceServer& s, Channel& c, Slot& conn) {
  if (c.which == DeviceChannel::WritePipe && s.held.load() && !conn.more) return;
  Read(conn);
}

void ResumeReads(DeviceServer& s) {
  for (Slot& conn : s.channels[2].conns) {
    if (conn.Open() && !conn.reading) NextRead(s, s.channels[2], conn);
  }
}

// The connection's read ended: a frame (PIPE01's are told), part of one, or the opener's close.
void ConnectionDone(DeviceServer& s, Channel& c, Slot& conn) {
  DWORD got = 0;
  const Outcome outcome = Finish(conn, &got);
  if (outcome == Outcome::Failed) return EndConnection(s, c, conn, true);
  conn.total += got;
  if (outcome == Outcome::Part) {
    conn.more = true;
    return Read(conn);
  }
  const std::uint32_t size = conn.total;
  conn.total = 0;
  conn.more = false;
  if (c.which == DeviceChannel::WritePipe && s.setup.frame != nullptr)
    s.setup.frame(s.setup.context, conn.buffer, size);
  if (s.drop.load()) return DropAll(s);
  NextRead(s, c, conn);
}

Slot* FreeConnection(Channel& c) {
  for (int i = 0; i < c.openers; ++i) {
    if (!c.conns[i].Open()) return &c.conns[i];
  }
  return nullptr;
}

void Accept(DeviceServer& s, Channel& c) {
  const bool connected = Connected(c.listener);
  // An opener's close counts before its next open, as it came first: the closing handle's read
  // has ended by the time its CloseHandle returns.
  for (int i = 0; i < c.openers; ++i) {
    Slot& conn = c.conns[i];
    while (conn.Open() && conn.reading && WaitForSingleObject(conn.io.hEvent, 0) == WAIT_OBJECT_0)
      ConnectionDone(s, c, conn);
  }
  Slot* slot = connected ? FreeConnection(c) : nullptr;
  if (slot != nullptr) {
    std::swap(*slot, c.listener);
  } else {
    Close(c.listener);
  }
  // The next opener's instance is there before this one is told.
  if (MakeListener(c, false)) Listen(c.listener);
  if (slot != nullptr) {
    if (c.which == DeviceChannel::ReadPipe) SetToOpener(s, slot->pipe);
    Tell(s, c.which, DeviceEvent::Opened);
    NextRead(s, c, *slot);
  } else if (connected) {
    Tell(s, c.which, DeviceEvent::Refused);  // the pipe has its opener: this one is cut off
  }
}

// What the serving thread waits for: the stop, the wake, the listeners and the reads.
struct Waits {
  static constexpr int kMost = 2 + kDeviceChannels * (1 + win32::kDeviceOpeners);
  HANDLE events[kMost];
  Channel* channels[kMost] = {};
  Slot* slots[kMost] = {};
  DWORD count = 0;

  void Add(HANDLE event, Channel* channel, Slot* slot) {
    channels[count] = channel;
    slots[count] = slot;
    events[count++] = event;
  }
};

void Gather(DeviceServer& s, Waits& w) {
  w.Add(s.stop, nullptr, nullptr);
  w.Add(s.wake, nullptr, nullptr);
  for (Channel& c : s.channels) {
    if (c.listener.Open()) w.Add(c.listener.io.hEvent, &c, &c.listener);
    for (Slot& conn : c.conns) {
      if (conn.Open() && conn.reading) w.Add(conn.io.hEvent, &c, &conn);
    }
  }
}

void Serve(DeviceServer& s) {
  for (;;) {
    Waits w;
    Gather(s, w);
    const DWORD woke = WaitForMultipleObjects(w.count, w.events, FALSE, INFINITE);
    const DWORD index = woke - WAIT_OBJECT_0;
    if (woke == WAIT_FAILED || index == 0 || index >= w.count) break;
    if (index == 1) {
      if (s.drop.load()) DropAll(s);
      ResumeReads(s);
    } else if (w.slots[index] == &w.channels[index]->listener) {
      Accept(s, *w.channels[index]);
    } else {
      ConnectionDone(s, *w.channels[index], *w.slots[index]);
    }
  }
  for (Channel& c : s.channels) {
    for (Slot& conn : c.conns) EndConnection(s, c, conn, false);
    Close(c.listener);
  }
}

// --- sending -------------------------------------------------------------------------------

std::uint64_t Queue(DeviceServer& s, const void* frame, std::uint32_t size) {
  win32::SendLock lock(s);
  if (s.toOpener == nullptr || size == 0 || size > kServedFrameBytes ||
      s.queued - s.done >= DeviceServer::kQueueLength) {
    return 0;
  }
  win32::Outgoing& out = s.queue[s.queued % DeviceServer::kQueueLength];
  std::memcpy(out.bytes, frame, size);
  out.size = size;
  out.ok = false;
  ++s.queued;
  WakeAllConditionVariable(&s.sendChanged);
  return s.queued;
}

// One frame through a handle of its own on the connected instance, so the serving thread may
// end the connection at any moment: the write or the flush then fails. Returns once the opener
// has read it (the flush).
bool WriteOne(HANDLE pipe, const win32::Outgoing& out, OVERLAPPED& io) {
  DWORD put = 0;
  ResetEvent(io.hEvent);
  bool ok = WriteFile(pipe, out.bytes, static_cast<DWORD>(out.size), nullptr, &io) ||
            GetLastError() == ERROR_IO_PENDING;
  ok = ok && GetOverlappedResult(pipe, &io, &put, TRUE) && put == out.size;
  return ok && FlushFileBuffers(pipe);
}

void SendLoop(DeviceServer& s) {
  OVERLAPPED io{};
  io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  AcquireSRWLockExclusive(&s.sendLock);
  for (;;) {
    while (!s.stopping && s.done >= s.queued)
      SleepConditionVariableSRW(&s.sendChanged, &s.sendLock, INFINITE, 0);
    if (s.stopping) break;
    win32::Outgoing& out = s.queue[s.done % DeviceServer::kQueueLength];
    HANDLE pipe = nullptr;
    if (s.toOpener != nullptr && s.done >= s.stale) {
      DuplicateHandle(GetCurrentProcess(), s.toOpener, GetCurrentProcess(), &pipe, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    }
    bool ok = false;
    if (pipe != nullptr) {
      ReleaseSRWLockExclusive(&s.sendLock);  // the frame's slot stays ours: only `done` frees it
      ok = WriteOne(pipe, out, io);
      CloseHandle(pipe);
      AcquireSRWLockExclusive(&s.sendLock);
    }
    out.ok = ok;
    ++s.done;
    WakeAllConditionVariable(&s.sendChanged);
  }
  ReleaseSRWLockExclusive(&s.sendLock);
  CloseHandle(io.hEvent);
}

// --- making and unmaking -------------------------------------------------------------------

bool ValidUnit(const std::string& unit) {
  return !unit.empty() && unit.size() <= kMaxUnitName && unit[0] != '.' &&
         unit.find_first_of("/\\") == std::string::npos;
}

bool Refuse(char* why, std::size_t whySize, DWORD code, const char* format, ...) {
  if (why != nullptr && whySize > 0) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(why, whySize, format, args);
    va_end(args);
  }
  SetLastError(code);
  return false;
}

// The first instance of each served name: a name served by another unit is refused. (Wine does
// not refuse a second first instance; it does tell whether a name is served.)
bool MakeChannel(DeviceServer& s, int index, char* why, std::size_t whySize) {
  Channel& c = s.channels[index];
  c.which = static_cast<DeviceChannel>(index);
  c.name = "\\\\.\\pipe\\korvan-usb-" + s.unit + kChannelSuffix[index];
  c.served = !s.setup.refuse[index];
  c.openers = index == 0 ? win32::kDeviceOpeners : 1;
  c.listener.io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  for (Slot& conn : c.conns) conn.io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (WaitNamedPipeA(c.name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND)
    return Refuse(why, whySize, ERROR_ALREADY_EXISTS, "named pipes: another unit serves %s",
                  c.name.c_str());
  if (!c.served || MakeListener(c, true)) return true;
  if (GetLastError() == ERROR_ACCESS_DENIED)
    return Refuse(why, whySize, ERROR_ALREADY_EXISTS, "named pipes: another unit serves %s",
                  c.name.c_str());
  return win32::Fail(why, whySize, "named pipes", "CreateNamedPipeA " + c.name, GetLastError());
}

bool Make(DeviceServer& s, char* why, std::size_t whySize) {
  if (!ValidUnit(s.unit)) {
    return Refuse(why, whySize, ERROR_INVALID_NAME,
                  "named pipes: bad unit name \"%s\" (no '/', '\\' or leading '.', at most 64 "
                  "bytes)",
                  s.unit.c_str());
  }
  for (int c = 0; c < kDeviceChannels; ++c) {
    if (!MakeChannel(s, c, why, whySize)) return false;
  }
  s.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  s.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (s.stop == nullptr || s.wake == nullptr)
    return win32::Fail(why, whySize, "kernel", "CreateEventA", GetLastError());
  if (!s.setup.publish) {
    s.path = s.channels[0].name;
    return true;
  }
  return win32::PublishDevice(s, why, whySize);
}

void Unmake(DeviceServer& s) {
  win32::WithdrawDevice(s);
  auto release = [](Slot& slot) {
    Close(slot);
    if (slot.io.hEvent != nullptr) CloseHandle(slot.io.hEvent);
  };
  for (Channel& c : s.channels) {
    release(c.listener);
    for (Slot& conn : c.conns) release(conn);
  }
  for (HANDLE event : {s.stop, s.wake}) {
    if (event != nullptr) CloseHandle(event);
  }
}

}  // namespace

DeviceServer* StartDeviceServer(const DeviceServerSetup& setup, char* why, std::size_t whySize) {
  auto s = std::make_unique<DeviceServer>();
  s->setup = setup;
  s->unit = setup.unit != nullptr ? setup.unit : "";
  s->description = setup.description != nullptr ? setup.description : "";
  s->setup.unit = s->unit.c_str();
  s->setup.description = s->description.c_str();
  if (!Make(*s, why, whySize)) {
    const DWORD code = GetLastError();
    Unmake(*s);
    SetLastError(code);
    return nullptr;
  }
  for (Channel& c : s->channels) {
    if (c.served) Listen(c.listener);
  }
  DeviceServer& server = *s;
  server.server = std::thread([&server] { Serve(server); });
  server.sender = std::thread([&server] { SendLoop(server); });
  return s.release();
}

const char* DeviceServerPath(const DeviceServer* server) {
  return server->path.c_str();
}

bool DeviceReadPipeOpen(const DeviceServer* server) {
  return server->readOpen.load();
}

bool SendDeviceFrame(DeviceServer* server, const void* frame, std::uint32_t size,
                     std::uint32_t waitMs) {
  const std::uint64_t number = Queue(*server, frame, size);
  if (number == 0) return false;
  if (waitMs == 0) return true;
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  win32::SendLock lock(*server);
  while (server->done < number && !server->stopping) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    SleepConditionVariableSRW(&server->sendChanged, &server->sendLock,
                              static_cast<DWORD>(deadline - now), 0);
  }
  return server->done >= number && server->queue[(number - 1) % DeviceServer::kQueueLength].ok;
}

void HoldDeviceFrames(DeviceServer* server, bool held) {
  server->held.store(held);
  SetEvent(server->wake);
}

void DropDeviceConnections(DeviceServer* server) {
  server->drop.store(true);
  SetEvent(server->wake);
}

// The server first: ending the connections ends a write the sender waits in.
void StopDeviceServer(DeviceServer* server) {
  if (server == nullptr) return;
  SetEvent(server->stop);
  server->server.join();
  {
    win32::SendLock lock(*server);
    server->stopping = true;
  }
  WakeAllConditionVariable(&server->sendChanged);
  server->sender.join();
  Unmake(*server);
  delete server;
}

}  // namespace platform
