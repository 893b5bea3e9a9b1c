#include "standins/efis/win32_efis_device.h"

#include <winternl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

// ntdll's; MinGW's headers do not declare it.
extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access,
                                                     POBJECT_ATTRIBUTES attributes,
                                                     PUNICODE_STRING target);

namespace efisunit {
namespace {

const GUID kEfisClass = {
    0x0577ABC6, 0xB5F2, 0x4025, {0x82, 0x30, 0xAA, 0x4F, 0x8C, 0x0E, 0x9E, 0x60}};
constexpr char kClassKey[] =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{0577abc6-b5f2-4025-8230-aa4f8c0e9e60}";
constexpr char kDeviceName[] = "KORVAN";  // the root device is ROOT\KORVAN\NNNN
constexpr char kInstancePrefix[] = "ROOT\\KORVAN\\";
constexpr ACCESS_MASK kSymbolicLinkAllAccess = 0xF0001;  // SYMBOLIC_LINK_ALL_ACCESS
constexpr wchar_t kPipeRoot[] = L"\\Device\\NamedPipe";
constexpr DWORD kPipeBuffer = 4096;
const char* const kPipeNames[2] = {"\\\\.\\pipe\\PIPE00", "\\\\.\\pipe\\PIPE01"};

std::string Failed(const std::string& what) {
  return what + " (error " + std::to_string(GetLastError()) + ")";
}

// The device entries left by units that were killed: no live unit holds the pipes now.
void RemoveStaleDevices() {
  HDEVINFO set = SetupDiGetClassDevsA(&kEfisClass, nullptr, nullptr, 0);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  DWORD count = 0;
  while (SetupDiEnumDeviceInfo(set, count, &device)) ++count;
  // From the last: a removal may take its element out of the set.
  for (DWORD i = count; i-- > 0;) {
    char id[200] = {};  // MAX_DEVICE_ID_LEN
    if (!SetupDiEnumDeviceInfo(set, i, &device) ||
        !SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr)) {
      continue;
    }
    if (std::strncmp(id, kInstancePrefix, sizeof kInstancePrefix - 1) == 0) {
      SetupDiRemoveDevice(set, &device);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

// One pipe instance and its pending operation: a wait for an opener, or a read.
struct Win32EfisDevice::Slot {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED io{};
  DWORD error = 0;  // the operation failed as it was started
  std::uint8_t buffer[512] = {};

  bool Open() const { return pipe != INVALID_HANDLE_VALUE; }
  // The operation's outcome once its event is set; `done` gets the bytes read.
  bool Finished(DWORD* done) {
    *done = 0;
    if (error != 0) return false;
    if (GetOverlappedResult(pipe, &io, done, FALSE)) return true;
    return GetLastError() == ERROR_MORE_DATA;  // a longer message: its first part
  }
  // An operation was started: `ok` is what its call returned.
  void Started(BOOL ok) {
    error = 0;
    if (ok) return;  // done at once: the event is set
    const DWORD code = GetLastError();
    if (code == ERROR_IO_PENDING) return;
    if (code == ERROR_PIPE_CONNECTED) {  // the opener came before the wait
      SetEvent(io.hEvent);
      return;
    }
    error = code;
    SetEvent(io.hEvent);
  }
  void Listen() {
    ResetEvent(io.hEvent);
    Started(ConnectNamedPipe(pipe, &io));
  }
  void Read() {
    ResetEvent(io.hEvent);
    Started(ReadFile(pipe, buffer, sizeof buffer, nullptr, &io));
  }
  // Abandons the pending operation and the instance.
  void Close() {
    if (!Open()) return;
    DWORD ignored = 0;
    if (CancelIoEx(pipe, &io)) GetOverlappedResult(pipe, &io, &ignored, TRUE);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
  }
};

struct Win32EfisDevice::Pipe {
  UnitPipe which = UnitPipe::ToBridge;
  const char* name = nullptr;
  bool served = false;
  Slot listener;  // waits for the next opener
  Slot conn;      // the opener's connection, while there is one

  bool MakeListener(bool first) {
    const DWORD flags = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                        (first ? static_cast<DWORD>(FILE_FLAG_FIRST_PIPE_INSTANCE) : 0);
    listener.pipe =
        CreateNamedPipeA(name, flags, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, nullptr);
    return listener.Open();
  }
};

bool Win32EfisDevice::Start(const DeviceOptions& options, std::string* error) {
  Stop();
  options_ = options;
  pipes_ = new Pipe[2];
  for (int i = 0; i < 2; ++i) {
    Pipe& pipe = pipes_[i];
    pipe.which = i == 0 ? UnitPipe::ToBridge : UnitPipe::FromBridge;
    pipe.name = kPipeNames[i];
    pipe.served = i == 0 ? options.serveRead : options.serveWrite;
    for (Slot* slot : {&pipe.listener, &pipe.conn}) {
      slot->io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (!pipe.served) continue;
    // The first instance of its name: another unit holding it is one too many. (Wine does not
    // refuse a second first instance; it does tell whether the name is served.)
    if (WaitNamedPipeA(pipe.name, 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
      *error = std::string("another EFIS unit serves ") + pipe.name;
      Stop();
      return false;
    }
    if (!pipe.MakeListener(true)) {
      *error = GetLastError() == ERROR_ACCESS_DENIED
                   ? std::string("another EFIS unit serves ") + pipe.name
                   : Failed(std::string("cannot make the pipe ") + pipe.name);
      Stop();
      return false;
    }
  }
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  drop_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (stop_ == nullptr || drop_ == nullptr) {
    *error = Failed("cannot make the unit's events");
    Stop();
    return false;
  }
  if (!Publish(error)) {
    Stop();
    return false;
  }
  for (int i = 0; i < 2; ++i) {
    if (pipes_[i].served) pipes_[i].listener.Listen();
  }
  stopping_ = false;
  queued_ = done_ = stale_ = 0;
  server_ = std::thread([this] { Serve(); });
  sender_ = std::thread([this] { SendLoop(); });
  return true;
}

void Win32EfisDevice::Stop() {
  // The server first: ending the connections ends a write the sender waits in.
  if (stop_ != nullptr) SetEvent(stop_);
  if (server_.joinable()) server_.join();
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    stopping_ = true;
  }
  sendChanged_.notify_all();
  if (sender_.joinable()) sender_.join();
  Withdraw();
  if (pipes_ != nullptr) {
    for (int i = 0; i < 2; ++i) {
      for (Slot* slot : {&pipes_[i].listener, &pipes_[i].conn}) {
        slot->Close();
        if (slot->io.hEvent != nullptr) CloseHandle(slot->io.hEvent);
      }
    }
    delete[] pipes_;
    pipes_ = nullptr;
  }
  for (HANDLE* event : {&stop_, &drop_}) {
    if (*event != nullptr) CloseHandle(*event);
    *event = nullptr;
  }
}

bool Win32EfisDevice::Publish(std::string* error) {
  RemoveStaleDevices();
  deviceSet_ = SetupDiCreateDeviceInfoList(&kEfisClass, nullptr);
  if (deviceSet_ == INVALID_HANDLE_VALUE) {
    *error = Failed("SetupDiCreateDeviceInfoList failed");
    return false;
  }
  device_ = {};
  device_.cbSize = sizeof device_;
  if (!SetupDiCreateDeviceInfoA(deviceSet_, kDeviceName, &kEfisClass, options_.description.c_str(),
                                nullptr, DICD_GENERATE_ID, &device_)) {
    *error = Failed("SetupDiCreateDeviceInfoA failed");
    return false;
  }
  if (!SetupDiRegisterDeviceInfo(deviceSet_, &device_, 0, nullptr, nullptr, nullptr)) {
    *error = Failed("SetupDiRegisterDeviceInfo failed");
    SetupDiDeleteDeviceInfo(deviceSet_, &device_);
    device_.cbSize = 0;
    return false;
  }
  SP_DEVICE_INTERFACE_DATA face{};
  face.cbSize = sizeof face;
  if (!SetupDiCreateDeviceInterfaceA(deviceSet_, &device_, &kEfisClass, nullptr, 0, &face)) {
    *error = Failed("SetupDiCreateDeviceInterfaceA failed");
    return false;
  }
  union {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[1024];
  } detail{};
  detail.detail.cbSize = sizeof detail.detail;
  if (!SetupDiGetDeviceInterfaceDetailA(deviceSet_, &face, &detail.detail, sizeof detail, nullptr,
                                        nullptr)) {
    *error = Failed("SetupDiGetDeviceInterfaceDetailA failed");
    return false;
  }
  path_ = detail.detail.DevicePath;
  if (path_.rfind("\\\\?\\", 0) != 0) {
    *error = "the interface's path " + path_ + " does not start with \\\\?\\";
    return false;
  }
  const std::string tail = path_.substr(4);

  // The driver marks the interface enabled; DIGCF_PRESENT lists only such interfaces.
  const std::string control = std::string(kClassKey) + "\\##?#" + tail + "\\#\\Control";
  HKEY key = nullptr;
  const DWORD linked = 1;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, control.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                            sizeof linked);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    *error = "cannot set Linked under HKLM\\" + control + " (error " + std::to_string(status) + ")";
    return false;
  }

  if (!options_.linkDevice) return true;
  // \??\<tail> -> the pipe root: the path opens the root, the path and "\PIPE00" that pipe.
  std::wstring name = L"\\??\\" + std::wstring(tail.begin(), tail.end());
  std::wstring target = kPipeRoot;
  UNICODE_STRING nameString{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                            static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
  UNICODE_STRING targetString{static_cast<USHORT>(target.size() * sizeof(wchar_t)),
                              static_cast<USHORT>(target.size() * sizeof(wchar_t)), target.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &nameString, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  const NTSTATUS linkStatus =
      NtCreateSymbolicLinkObject(&link_, kSymbolicLinkAllAccess, &attributes, &targetString);
  if (linkStatus != 0) {
    link_ = nullptr;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(linkStatus));
    *error = "cannot link the device path to the pipes (status " + std::string(code) + ")";
    return false;
  }
  return true;
}

void Win32EfisDevice::Withdraw() {
  if (link_ != nullptr) CloseHandle(link_);  // a temporary object: it goes with its handle
  link_ = nullptr;
  if (deviceSet_ != INVALID_HANDLE_VALUE) {
    if (device_.cbSize != 0) SetupDiRemoveDevice(deviceSet_, &device_);
    SetupDiDestroyDeviceInfoList(deviceSet_);
  }
  deviceSet_ = INVALID_HANDLE_VALUE;
  device_ = {};
  path_.clear();
}

void Win32EfisDevice::DropConnections() {
  if (drop_ != nullptr) SetEvent(drop_);
}

void Win32EfisDevice::Serve() {
  auto closeConn = [this](Pipe& pipe) {
    if (!pipe.conn.Open()) return;
    if (pipe.which == UnitPipe::ToBridge) ToBridgeChanged(nullptr);
    pipe.conn.Close();
    channel_(pipe.which, false);
  };
  // The connection's read ended: a frame (PIPE01), or the opener's close.
  auto connDone = [&](Pipe& pipe) {
    DWORD got = 0;
    if (pipe.conn.Finished(&got)) {
      if (pipe.which == UnitPipe::FromBridge) frame_(pipe.conn.buffer, got);
      pipe.conn.Read();
      return;
    }
    closeConn(pipe);
  };
  auto accept = [&](Pipe& pipe) {
    DWORD ignored = 0;
    const bool connected = pipe.listener.Finished(&ignored);
    // An opener's close counts before its next open, as it came first: the closing handle's
    // read has ended by the time its CloseHandle returns.
    while (pipe.conn.Open() && WaitForSingleObject(pipe.conn.io.hEvent, 0) == WAIT_OBJECT_0) {
      connDone(pipe);
    }
    if (connected && !pipe.conn.Open()) {
      std::swap(pipe.conn, pipe.listener);
      if (pipe.which == UnitPipe::ToBridge) ToBridgeChanged(pipe.conn.pipe);
      channel_(pipe.which, true);
      pipe.conn.Read();  // ends with the opener's close (PIPE00 carries nothing our way)
    } else {
      pipe.listener.Close();  // failed, or one opener at a time: this one is cut off
    }
    if (pipe.MakeListener(false)) pipe.listener.Listen();
  };

  for (;;) {
    HANDLE events[2 + 4];
    Pipe* owners[2 + 4] = {};
    bool isListener[2 + 4] = {};
    DWORD count = 0;
    events[count++] = stop_;
    events[count++] = drop_;
    for (int i = 0; i < 2; ++i) {
      Pipe& pipe = pipes_[i];
      if (pipe.listener.Open()) {
        owners[count] = &pipe;
        isListener[count] = true;
        events[count++] = pipe.listener.io.hEvent;
      }
      if (pipe.conn.Open()) {
        owners[count] = &pipe;
        events[count++] = pipe.conn.io.hEvent;
      }
    }
    const DWORD woke = WaitForMultipleObjects(count, events, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      for (int i = 0; i < 2; ++i) closeConn(pipes_[i]);
      continue;
    }
    const DWORD index = woke - WAIT_OBJECT_0;
    if (index >= count) continue;
    if (isListener[index]) {
      accept(*owners[index]);
    } else {
      connDone(*owners[index]);
    }
  }
  for (int i = 0; i < 2; ++i) {
    closeConn(pipes_[i]);
    pipes_[i].listener.Close();
  }
}

void Win32EfisDevice::ToBridgeChanged(HANDLE pipe) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  toBridge_ = pipe;
  toBridgeOpen_ = pipe != nullptr;
  stale_ = queued_;
}

std::uint64_t Win32EfisDevice::QueueFrame(const std::uint8_t* frame, std::size_t size) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  if (toBridge_ == nullptr || size > sizeof queue_[0].bytes || queued_ - done_ >= kQueueLength) {
    return 0;
  }
  Outgoing& out = queue_[queued_ % kQueueLength];
  std::memcpy(out.bytes, frame, size);
  out.size = size;
  out.ok = false;
  ++queued_;
  sendChanged_.notify_all();
  return queued_;
}

bool Win32EfisDevice::Send(const std::uint8_t* frame, std::size_t size, DWORD timeoutMs) {
  const std::uint64_t number = QueueFrame(frame, size);
  if (number == 0) return false;
  std::unique_lock<std::mutex> lock(sendMutex_);
  sendChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return done_ >= number || stopping_; });
  return done_ >= number && queue_[(number - 1) % kQueueLength].ok;
}

// Writes each frame through a handle of its own on the connected instance, so the serving
// thread may end the connection at any moment: the write or the flush then fails.
void Win32EfisDevice::SendLoop() {
  OVERLAPPED io{};
  io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::unique_lock<std::mutex> lock(sendMutex_);
  for (;;) {
    sendChanged_.wait(lock, [this] { return stopping_ || done_ < queued_; });
    if (stopping_) break;
    Outgoing& out = queue_[done_ % kQueueLength];
    HANDLE pipe = nullptr;
    if (toBridge_ != nullptr && done_ >= stale_) {
      DuplicateHandle(GetCurrentProcess(), toBridge_, GetCurrentProcess(), &pipe, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    }
    bool ok = false;
    if (pipe != nullptr) {
      lock.unlock();  // the frame's slot stays ours: only done_ frees it
      DWORD put = 0;
      ResetEvent(io.hEvent);
      ok = WriteFile(pipe, out.bytes, static_cast<DWORD>(out.size), nullptr, &io) ||
           GetLastError() == ERROR_IO_PENDING;
      ok = ok && GetOverlappedResult(pipe, &io, &put, TRUE) && put == out.size;
      // Returns once the bridge has read everything written.
      ok = ok && FlushFileBuffers(pipe);
      CloseHandle(pipe);
      lock.lock();
    }
    out.ok = ok;
    ++done_;
    sendChanged_.notify_all();
  }
  CloseHandle(io.hEvent);
}

}  // namespace efisunit
