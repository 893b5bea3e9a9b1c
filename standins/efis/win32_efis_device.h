// The Korvan EFIS unit's USB side on Windows, for korvan-efis.exe and the Windows tests: a device
// interface of the EFIS class whose path leads to two message-mode named pipes served here, so
// the bridge's own SetupAPI discovery finds the unit and opens it as it opens the real one.
//
// What the unit publishes: a root device "ROOT\KORVAN\NNNN" with an interface of class
// {0577ABC6-B5F2-4025-8230-AA4F8C0E9E60} (its `Linked` value set, as the unit's driver sets it,
// so that DIGCF_PRESENT lists it), and an NT symbolic link from the interface's path to the
// named-pipe root. The device path then opens the pipe root, and the path followed by "\PIPE00"
// or "\PIPE01" the pipe of that name: \\.\pipe\PIPE00 (the unit writes, the bridge reads) and
// \\.\pipe\PIPE01 (the bridge writes). So there is one unit per Wine prefix or Windows session.
// The link goes with the process, whatever ends it; the device entry is removed by Stop, and one
// left by a unit that was killed is removed by the next unit's Start.
#pragma once

#include <windows.h>
// windows.h first: SetupAPI builds on its types.
#include <setupapi.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace efisunit {

enum class UnitPipe { ToBridge, FromBridge };  // PIPE00, PIPE01

struct DeviceOptions {
  bool linkDevice = true;  // false: the path does not open (a unit whose driver fails)
  bool serveRead = true;   // false: no PIPE00, its open fails
  bool serveWrite = true;  // false: no PIPE01
  std::string description = "Korvan EFIS (stand-in)";
};

class Win32EfisDevice {
 public:
  // `frame` gets every frame arriving on PIPE01, whole; `channel` every open and close of a pipe
  // (one opener at a time: a second one is cut off at once). Both run on the serving thread.
  using FrameHandler = std::function<void(const std::uint8_t* frame, std::size_t size)>;
  using ChannelHandler = std::function<void(UnitPipe pipe, bool opened)>;

  Win32EfisDevice(FrameHandler frame, ChannelHandler channel)
      : frame_(std::move(frame)), channel_(std::move(channel)) {}
  ~Win32EfisDevice() { Stop(); }
  Win32EfisDevice(const Win32EfisDevice&) = delete;
  Win32EfisDevice& operator=(const Win32EfisDevice&) = delete;

  // Makes the pipes, publishes the interface and starts serving. False with `error` saying which
  // step failed and its Windows error; what was made is undone.
  bool Start(const DeviceOptions& options, std::string* error);
  // Stops serving (the bridge's handles break), removes the interface and the link.
  void Stop();

  // The interface's path, as the SetupAPI gives it to the bridge.
  const std::string& DevicePath() const { return path_; }
  bool ToBridgeOpen() const { return toBridgeOpen_.load(); }

  // Queues one frame for PIPE00 and returns at once; the frames are written one at a time, each
  // once the bridge has read the one before: so each reaches the bridge in a read of its own
  // (its end reads the pipe in byte mode, where messages that wait together are read
  // together). False when PIPE00 is not open or the queue is full (the bridge does not read).
  // Frames queued for a connection that ends are not written.
  bool Queue(const std::uint8_t* frame, std::size_t size) { return QueueFrame(frame, size) != 0; }
  // Queues one frame and waits up to `timeoutMs` until the bridge has read it. False when it
  // could not be queued, its write failed, or it was not read in time.
  bool Send(const std::uint8_t* frame, std::size_t size, DWORD timeoutMs);
  // Ends both pipes' connections, as a unit unplugged and plugged in again would.
  void DropConnections();

 private:
  struct Slot;
  struct Pipe;
  void Serve();
  std::uint64_t QueueFrame(const std::uint8_t* frame, std::size_t size);
  void SendLoop();
  void ToBridgeChanged(HANDLE pipe);
  bool Publish(std::string* error);
  void Withdraw();

  FrameHandler frame_;
  ChannelHandler channel_;
  DeviceOptions options_;
  std::string path_;
  Pipe* pipes_ = nullptr;  // [2]
  HANDLE stop_ = nullptr;
  HANDLE drop_ = nullptr;
  HANDLE link_ = nullptr;
  HDEVINFO deviceSet_ = INVALID_HANDLE_VALUE;  // holds the one device
  SP_DEVINFO_DATA device_{};
  std::thread server_;
  std::atomic<bool> toBridgeOpen_{false};

  // The sender: the frames queued for PIPE00, written one at a time on its own thread.
  struct Outgoing {
    std::uint8_t bytes[512];
    std::size_t size;
    bool ok;
  };
  static constexpr std::size_t kQueueLength = 8;
  std::thread sender_;
  std::mutex sendMutex_;
  std::condition_variable sendChanged_;
  Outgoing queue_[kQueueLength] = {};
  std::uint64_t queued_ = 0;  // frames queued so far
  std::uint64_t done_ = 0;    // frames read by the bridge, or failed, so far
  std::uint64_t stale_ = 0;   // frames before this one belong to a connection that ended
  bool stopping_ = false;
  HANDLE toBridge_ = nullptr;  // the connected PIPE00 instance (the server's end)
};

// The device korvan-efis.exe's outputs (UnitOutputs) queue their frames on, while it serves.
extern Win32EfisDevice* OutputDevice;

}  // namespace efisunit
