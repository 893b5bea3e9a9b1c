// The simulator link: the client side of the data-exchange module's IPC. One link per process,
// used from the user-interface thread only. No operation raises; each returns a success flag and
// a SimResult code, which callers show through SimResultText.
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

struct TSimLink {
  std::uint32_t ServerVersion;
  std::int32_t SimId;
  std::int32_t HandshakeWord;
  platform::WindowHandle ServerWindow;
  std::uint32_t IpcMessage;
  std::uint16_t AreaAtom;
  platform::Handle AreaMapping;
  std::uint8_t* AreaView;  // null: the link is closed
  std::uint8_t* WritePos;
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
// requestedSimId 0 accepts any simulator.
bool SimLinkOpen(std::int32_t requestedSimId, SimResult& code);
// Releases whatever the link holds; safe in any state.
void SimLinkClose();

// Queue a read of `size` bytes at `offset`; the value lands in `destination` (which must stay
// valid until the next SimLinkProcess returns) during a successful SimLinkProcess.
bool SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination, SimResult& code);
// Queue a write of `size` bytes from `source`, copied at once.
bool SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimResult& code);
// Send the batch and copy the read results back. The batch is spent whatever the outcome.
bool SimLinkProcess(SimResult& code);
