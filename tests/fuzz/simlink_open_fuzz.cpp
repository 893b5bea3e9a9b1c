// Fuzz target of SimLinkOpen against arbitrary handshake replies: a fake module whose every
// answer comes from the input. Built on the link's own file (simlink/SimLinkClient.cpp) over the
// in-process platform of tests/unit/fake_ipc.cpp.
//
// Input: byte 0 says which module windows exist (bits 0 and 1) and which simulator is asked for
// (bits 2 and 3: any, 7, 8, or byte 1). Then 12 bytes per attempt to send, in turn: a control
// byte (bit 0: the send fails, bits 1-2 its last error: 0, 1460, 1400 or 5; bit 3: reply byte
// 1 is the reply, else 1), the reply, the 4 bytes the module puts into a read of 0x3304, the 4
// it puts into a read of 0x3308, and a byte of the first 64 it XORs with the last. Attempts past
// the input are answered with zeros.
//
// Checked: the code is one an open can give; a failed open leaves the link closed and nothing
// held (atom, mapping, view); a successful one holds one of each, took at most five exchanges
// (each at most ten attempts),
// and its version and simulator word pass the open's tests. A send that never got through
// gives 11 exactly when the last error was 0 or 1460 (a module that does not answer).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simlink/SimLinkClient.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/unit/fake_ipc.h"

namespace {

constexpr std::size_t kChunk = 12;

using fuzzsupport::Check;
using fuzzsupport::Get32;

// Puts `chunk`'s words into the reads of 0x3304 and 0x3308, walking the records as a module
// does, then its stray change.
void Answer(std::uint8_t* area, const std::uint8_t* chunk) {
  std::uint32_t position = 0;
  while (position + 16 <= 0x7F00 && area[position] != 0) {
    const std::uint32_t id = Get32(area + position);
    const std::uint32_t offset = Get32(area + position + 4);
    const std::uint32_t size = Get32(area + position + 8);
    if ((id != 1 && id != 2) || size > 8) break;
    if (id == 1 && size == 4 && (offset == 0x3304 || offset == 0x3308))
      std::memcpy(area + position + 16, chunk + (offset == 0x3304 ? 2 : 6), 4);
    position += (id == 1 ? 16 : 12) + size;
  }
  area[chunk[10] % 64] ^= chunk[11];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  SimLinkClose();
  fake_ipc::Reset();
  fake_ipc::State& state = fake_ipc::Get();
  state.uipcWindow = (data[0] & 1) != 0;
  state.fs98Window = (data[0] & 2) != 0;
  const std::int32_t requested[] = {0, 7, 8, data[1]};
  const std::int32_t wanted = requested[(data[0] >> 2) & 3];

  std::size_t next = 2;
  std::uint32_t lastError = 0;
  bool lastFailed = false;
  state.server = [&](std::uint8_t* area, std::uintptr_t* reply) {
    std::uint8_t chunk[kChunk] = {};
    if (next + kChunk <= size) std::memcpy(chunk, data + next, kChunk);
    next += kChunk;
    const std::uint32_t errors[] = {0, 1460, 1400, 5};
    lastFailed = (chunk[0] & 1) != 0;
    if (lastFailed) {
      lastError = errors[(chunk[0] >> 1) & 3];
      state.lastErrorAfterFailedSend = lastError;
      return false;
    }
    Answer(area, chunk);
    *reply = (chunk[0] & 8) != 0 ? chunk[1] : 1;
    return true;
  };

  SimResult code = SimAlreadyOpen;
  const bool open = SimLinkOpen(wanted, code);

  Check(open == (code == SimOkay), "the result and the code disagree");
  switch (code) {
    case SimOkay:
    case SimNoServer:
    case SimWrongVersion:
    case SimWrongSim:
    case SimTimedOut:
    case SimSendFailed:
    case SimBadData:
    case SimWrongVersionViaFs98:
      break;
    default:
      Check(false, "a code an open cannot give");
  }
  // Each handshake exchange that succeeds is followed by its pause; each has ten attempts.
  Check(std::count(state.calls.begin(), state.calls.end(), "sleep 100") <= 5,
        "more than five handshake exchanges");
  Check(state.exchanges.size() <= 5 * 10, "more than ten attempts an exchange");
  if (!state.uipcWindow && !state.fs98Window) Check(code == SimNoServer, "no window, yet");
  if (code == SimTimedOut || code == SimSendFailed) {
    Check(lastFailed, "a send failure without a failed send");
    const bool timedOut = lastError == 0 || lastError == 1460;
    Check(timedOut == (code == SimTimedOut), "timed out and failed sends confused");
  }
  if (code == SimWrongVersionViaFs98) Check(!state.uipcWindow, "FS98MAIN code with UIPCMAIN");
  if (code == SimWrongVersion) Check(state.uipcWindow, "UIPCMAIN code without it");
  if (!open) {
    Check(SimLink.AreaView == nullptr && SimLink.AreaAtom == 0 && SimLink.AreaMapping == 0,
          "a failed open left the link open");
    Check(state.liveAtoms == 0 && state.liveMappings == 0 && state.liveViews == 0,
          "a failed open holds something");
    return 0;
  }
  Check(state.liveAtoms == 1 && state.liveMappings == 1 && state.liveViews == 1,
        "an open link holds one atom, one mapping, one view");
  Check(SimLink.ServerVersion >= 0x19980005, "a version below the minimum was taken");
  Check(SimLink.SimId >= 0 && SimLink.SimId <= 0xFFFF, "the simulator id is not 16 bits");
  Check(wanted == 0 || SimLink.SimId == wanted, "another simulator than asked for");
  Check(SimLink.WritePos == SimLink.AreaView, "an open link's batch is not empty");
  return 0;
}
