// The simulator link: the client side of the data-exchange module's IPC. One link per process,
// used from the user-interface thread only, with no lock. No operation raises; each returns a
// success flag (true exactly when the code is SimOkay) and a SimResult code, which callers show
// through SimResultText. Each operation below lists the codes it can give, and how long it may
// block its caller.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ipc.h"

enum SimResult : std::int32_t {
  SimOkay = 0,
  SimAlreadyOpen = 1,
  SimNoServer = 2,
  SimNoRegisterMessage = 3,
  SimNoAtom = 4,
  SimNoMapping = 5,
  SimNoView = 6,
  SimWrongVersion = 7,
  SimWrongSim = 8,
  SimNotOpen = 9,
  SimNoRequests = 10,
  SimTimedOut = 11,
  SimSendFailed = 12,
  SimBadData = 13,
  SimWrongVersionViaFs98 = 14,
  SimAreaFull = 15,
};

// The one link of the process. It is open exactly when AreaView is not null; then AreaAtom and
// AreaMapping are valid and WritePos lies in the area, at most kSimBatchLimit bytes from its
// start. Program start: every field 0 or null but HandshakeWord.
struct TSimLink {
  std::uint32_t ServerVersion;          // read from 0x3304 by the handshake; kept by a close
  std::int32_t SimId;                   // after an open, the simulator id (index of SimNames)
  std::int32_t HandshakeWord;           // 2005 for the whole run; its low two bytes go to 0x330A
  platform::WindowHandle ServerWindow;  // the module's window found by the open
  std::uint32_t IpcMessage;             // the message registered for "FsasmLib:IPC"
  std::uint16_t AreaAtom;               // the atom naming the area; 0: none
  platform::Handle AreaMapping;         // the named area; 0: none
  std::uint8_t* AreaView;               // the area mapped; null: the link is closed
  std::uint8_t* WritePos;               // where the batch's next record goes
};

extern TSimLink SimLink;

// The simulator names (ids 0 to 8) followed by the result texts (codes 0 to 15).
extern const char* const SimTexts[25];
inline const char* const* const SimNames = SimTexts;
inline const char* const* const SimResultText = SimTexts + 9;

// The name shown after "Connected to ": SimNames for ids 0 to 8, "id N" above.
std::string SimNameOf(std::int32_t simId);

// Size of the shared area, and the part of it that a batch may use, terminator included.
inline constexpr std::uint32_t kSimAreaSize = 0x8000;
inline constexpr std::uint32_t kSimBatchLimit = 0x7F00;
// Record ids in the shared area.
inline constexpr std::uint32_t kSimReadId = 1;
inline constexpr std::uint32_t kSimWriteId = 2;

// Finds the module's window, sets up the shared area and runs the version handshake.
// requestedSimId 0 accepts any simulator. On success the link is open with an empty batch and
// SimId holds the simulator id; on any failure but SimAlreadyOpen it is closed, holding nothing.
// Codes    SimAlreadyOpen: the link is open (it stays so, untouched).
//          SimNoServer: no "UIPCMAIN" nor "FS98MAIN" window.
//          SimNoRegisterMessage, SimNoAtom, SimNoMapping (also when the area's name exists
//          already), SimNoView: that step of the setup failed.
//          SimTimedOut, SimSendFailed, SimBadData: a handshake exchange failed (SimLinkProcess).
//          SimWrongVersion (found as "UIPCMAIN") or SimWrongVersionViaFs98 (as "FS98MAIN"): the
//          version is below 0x19980005, or the id word's high half is not 0xFADE.
//          SimWrongSim: another simulator than requestedSimId runs.
// Blocks   one to five exchanges, each followed by a 100 ms pause; about 4.1 s more for each
//          exchange the module leaves unanswered.
bool SimLinkOpen(std::int32_t requestedSimId, SimResult& code);

// Releases whatever the link holds, in the order atom, view, mapping; clears ServerWindow,
// IpcMessage, WritePos and the batch. Safe in any state and more than once. Blocks: no.
void SimLinkClose();

// Queues a read of `size` bytes at `offset`; the value lands in `destination` (which must stay
// valid until the next SimLinkProcess returns) during a successful SimLinkProcess. Null
// destination: read, not copied.
// Codes    SimNotOpen: the link is closed. SimAreaFull: the record and the terminator would not
//          fit the batch (kSimBatchLimit).
// Blocks   no.
bool SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination, SimResult& code);

// Queues a write of `size` bytes from `source`, copied at once.
// Codes    SimNotOpen, SimAreaFull: as SimLinkRead.   Blocks  no.
bool SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimResult& code);

// Sends the batch (up to ten attempts of 400 ms, 10 ms apart) and copies the read results back.
// The batch is spent whatever the outcome; a failure does not close the link.
// Codes    SimNotOpen: the link is closed. SimNoRequests: nothing queued.
//          SimTimedOut: no attempt answered and the last error was 0 or kErrorTimeout (1460,
//          what Windows and the POSIX layer report for a module that does not answer).
//          SimSendFailed: no attempt answered, any other last error (the window is gone).
//          SimBadData: the answer was not 1, the module changed a record's id, size or
//          reference (then nothing is copied back; a changed offset is no fault), or the area
//          was cut short under the link (POSIX: then nothing is sent either, and only a new
//          open makes a usable area).
// Blocks   until the module answers; about 4.1 s when it never does.
bool SimLinkProcess(SimResult& code);

// SimLinkProcess with a single attempt of 400 ms and no pause: for the last exchange of a close,
// which must not hold the closing window for seconds. Codes and outcome as SimLinkProcess.
// Blocks   until the module answers; at most about 400 ms.
bool SimLinkProcessOnce(SimResult& code);
