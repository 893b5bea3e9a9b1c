// The serving side of the device contract of platform/device.h: a device of an interface class
// with its two pipes, as a unit and its driver offer them. Used by the stand-in unit
// (korvan-efis) and by tests; the bridge itself never serves, and this library is not part of
// it. Declarations say what they return, their errors, threads and waits as platform/ipc.h lays
// out.
//
// A server serves one unit. Its device path P opens the device (up to 8 openers at once),
// P + "\PIPE00" the pipe the server writes and its opener reads, P + "\PIPE01" the pipe its
// opener writes; each pipe takes one opener at a time. One write of the opener is one frame
// here, one frame sent here is one read of the opener.
//
// Win32: message-mode named pipes \\.\pipe\korvan-usb-<unit> (the device), and that name
// followed by \PIPE00 and \PIPE01. Published, a root device ROOT\KORVAN\<UNIT> registered through
// SetupAPI, with an interface of the class (marked linked in the registry, as the unit's driver
// does, so that DIGCF_PRESENT lists it) whose reference string is the device pipe's name, and an
// NT symbolic link from the device's part of the path to the named-pipe root: P, the interface's
// path, then opens the device's pipe. The link goes with the process, whatever ends it; the
// device entry goes with StopDeviceServer, and one whose link has gone (its unit was killed)
// with the next published start.
// POSIX: the SOCK_SEQPACKET sockets R/usb/<unit>, R/usb/<unit>\PIPE00 and R/usb/<unit>\PIPE01
// of docs/posix-platform.md, answering each opener's connect with its one byte; published, the
// entry R/devices/<class in braces form>/<unit> holding P, locked while the server lives.
//
// Serving runs on a thread of the server's own. The handlers are called there, one at a time,
// in the order things happened to each channel; an opener's close is seen before its next open.
// Win32: each channel has one instance waiting for an opener, made again before an open is
// told; an opener that comes before that finds the pipe busy (ERROR_PIPE_BUSY, 231). A second
// opener of a pipe is taken and cut off at once (POSIX refuses it at its open).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device.h"

namespace platform {

// The device itself, PIPE00 and PIPE01; their names as the stand-in and the tests report them.
enum class DeviceChannel : std::uint8_t { Device, ReadPipe, WritePipe };
inline constexpr int kDeviceChannels = 3;
inline constexpr const char* kDeviceChannelNames[kDeviceChannels] = {"device", "PIPE00", "PIPE01"};

// What happened on a channel, and its word in the reports. Refused: an opener was turned away
// (a refused channel on POSIX, a second opener of a pipe on both).
enum class DeviceEvent : std::uint8_t { Opened, Closed, Refused };
inline constexpr const char* kDeviceEventNames[3] = {"open", "close", "refuse"};

// The bytes of a frame the server keeps; a longer frame is taken whole, its size told, and the
// bytes past these dropped.
inline constexpr std::uint32_t kServedFrameBytes = 512;

// A frame the opener of PIPE01 wrote: `size` bytes long, of which the first
// min(size, kServedFrameBytes) are at `frame` for the length of the call.
using DeviceFrameHandler = void (*)(void* context, const std::uint8_t* frame, std::uint32_t size);
using DeviceEventHandler = void (*)(void* context, DeviceChannel channel, DeviceEvent event);

struct DeviceServerSetup {
  DeviceClassGuid interfaceClass{};
  // The unit's name: a file name of its own (not empty, no '/' or '\', not starting with '.',
  // at most 64 bytes). A second published server of a name is refused while the first serves
  // (Win32: any second server); POSIX: an unpublished one takes the name's sockets over.
  const char* unit = "efis0";
  // False: served, but listed by no interface set: the opener must be given P. For tests that
  // open P themselves beside others that enumerate the class.
  bool publish = true;
  // Refuse every opener of a channel (indexed by DeviceChannel): POSIX answers it 0; Win32 does
  // not serve that pipe, so its open fails and the server sees nothing of it.
  bool refuse[kDeviceChannels] = {false, false, false};
  DeviceFrameHandler frame = nullptr;  // null: frames are taken and dropped
  DeviceEventHandler event = nullptr;  // null: nothing is told
  void* context = nullptr;
  const char* description = "Korvan EFIS (stand-in)";  // Win32: the device's in SetupAPI
};

// The code an opener of a refused channel reads from LastError(): POSIX
// kErrorSharingViolation, Win32 kErrorFileNotFound (the pipe is not served).
extern const std::uint32_t kRefusedOpenError;

struct DeviceServer;

// Makes the channels, publishes the interface when asked and starts serving.
// Returns  the server; null on failure, with `why` (whySize bytes, may be null) saying which
//          layer and step failed and the system's text for its error, e.g. "SetupAPI:
//          SetupDiCreateDeviceInterfaceA failed: Access is denied. (error 5)". What was made is
//          undone.
// Errors   kErrorInvalidName: a unit name that cannot be one. kErrorAlreadyExists: a live
//          server serves the unit's name (POSIX: a published one, whose entry is held).
//          Otherwise the code of the step that failed (POSIX: the errno's code).
// Thread   any.   Blocks  while it publishes (Win32: SetupAPI and the registry).
DeviceServer* StartDeviceServer(const DeviceServerSetup& setup, char* why, std::size_t whySize);

// P, as an opener passes it to OpenDeviceFile (and, published, as the interface's detail gives
// it). Valid until StopDeviceServer. Thread: any. Blocks: no.
const char* DeviceServerPath(const DeviceServer* server);

// True while PIPE00 has its opener. Thread: any. Blocks: no.
bool DeviceReadPipeOpen(const DeviceServer* server);

// Sends one frame on PIPE00 (at most kServedFrameBytes bytes).
// Returns  waitMs 0: true once the frame is handed over (POSIX: in the socket; Win32: queued,
//          written once the opener has read the frames before it); false when PIPE00 has no
//          opener, the frame is too long, or there is no room (an opener that does not read: the
//          frame is not sent, and the server never waits for it).
//          waitMs > 0: true once the opener has read it; false as above, or when its write
//          failed, the opener went, or it was not read within waitMs.
// Thread   any, also a handler.   Blocks  waitMs 0: no; else up to waitMs.
bool SendDeviceFrame(DeviceServer* server, const void* frame, std::uint32_t size,
                     std::uint32_t waitMs);

// Held: the server takes no frame from PIPE01 (a unit that stops reading its pipe): its opener's
// writes wait once the pipe is full. Released: the frames come in order, whole. While held, the
// opener's close of PIPE01 is seen when the hold ends. Thread: any. Blocks: no.
void HoldDeviceFrames(DeviceServer* server, bool held);

// Ends every opener's connection, as a unit unplugged and plugged in again would: each is told
// Closed, the openers' next reads and writes fail, and new opens are taken. Thread: any, also a
// handler (then before the next frame or event). Blocks: no.
void DropDeviceConnections(DeviceServer* server);

// Stops serving: every connection ends (without events; the openers' calls fail), the interface
// is withdrawn, the channels are removed and the server is freed. Null does nothing.
// Thread   any but the serving thread (not a handler).   Blocks  until the serving thread ends.
void StopDeviceServer(DeviceServer* server);

}  // namespace platform
