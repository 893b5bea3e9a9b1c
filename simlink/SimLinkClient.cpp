// The client side of the data-exchange module's IPC: open/close and the request batch.
#include "simlink/SimLinkClient.h"

#include <cstdio>
#include <cstring>

TSimLink SimLink = {0, 0, 2005, 0, 0, 0, 0, nullptr, nullptr};

const char* const SimTexts[25] = {
    "Any",
    "FS98",
    "FS2K",
    "CFS2",
    "CFS1",
    "FLY",
    "FS2002",
    "FS2004",
    "FSX",
    "Okay",
    "Attempt to Open when already Open",
    "Cannot link to FSUIPC or WideClient",
    "Failed to Register common message with Windows",
    "Failed to create Atom for mapping filename",
    "Failed to create a file mapping object",
    "Failed to open a view to the file map",
    "Incorrect version of FSUIPC, or not FSUIPC",
    "Sim is not version requested",
    "Call cannot execute, link not Open",
    "Call cannot execute: no requests accumulated",
    "IPC timed out all retries",
    "IPC sendmessage failed all retries",
    "IPC request contains bad data",
    "Maybe running on WideClient, but FS not running on Server, or wrong FSUIPC",
    "Read or Write request cannot be added, memory for Process is full",
};

namespace {

constexpr std::uint32_t kMinimumVersion = 0x19980005;
constexpr std::uint32_t kSimIdMark = 0xFADE;
constexpr int kHandshakeTries = 5;
constexpr std::uint32_t kHandshakePauseMs = 100;
constexpr int kSendAttempts = 10;
constexpr std::uint32_t kSendTimeoutMs = 400;
constexpr std::uint32_t kSendPauseMs = 10;
constexpr std::uint32_t kReadHeader = 16;
constexpr std::uint32_t kWriteHeader = 12;
constexpr std::uint32_t kTerminator = 4;

// What this batch queued, in order. The area carries only an index into this table (index + 1
// for reads with a destination, 0 for none), so nothing the server leaves there can steer a
// copy anywhere but into a destination the caller gave. The smallest record is 12 bytes, so a
// batch holds at most this many.
constexpr std::uint32_t kMaxRecords = kSimBatchLimit / kWriteHeader + 1;

struct QueuedRecord {
  std::uint32_t id;
  std::uint32_t offset;
  std::uint32_t size;
  std::uint32_t reference;
  void* destination;
};

QueuedRecord Queued[kMaxRecords];
std::uint32_t QueuedCount = 0;

void Put32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint32_t UsedBytes() {
  return static_cast<std::uint32_t>(SimLink.WritePos - SimLink.AreaView);
}

// Whether a record of `header` and `size` bytes may be queued: the link is open, and the room
// rule holds in unsigned 32-bit arithmetic. A size near 2^32 would wrap the sum below the limit
// and run the record past the area, so no size above the limit is taken at all.
bool CanQueue(std::uint32_t header, std::uint32_t size, SimResult& code) {
  if (SimLink.AreaView == nullptr) {
    code = SimNotOpen;
    return false;
  }
  if (size > kSimBatchLimit || UsedBytes() + header + size + kTerminator > kSimBatchLimit) {
    code = SimAreaFull;
    return false;
  }
  return true;
}

std::uint32_t Queue(std::uint32_t id, std::uint32_t offset, std::uint32_t size, void* destination) {
  QueuedRecord& record = Queued[QueuedCount];
  record.id = id;
  record.offset = offset;
  record.size = size;
  record.destination = destination;
  record.reference = destination != nullptr ? QueuedCount + 1 : 0;
  ++QueuedCount;
  return record.reference;
}

// The module's reply, taken out of the area in one copy before anything in it is judged: what the
// module (still running, or truncating the area) does to the area afterwards changes nothing.
std::uint8_t Reply[kSimBatchLimit];

// True when every record of the reply stands as this client laid it out. The module promises to
// leave ids, sizes and references alone; one that changed any has not handled this batch. The
// offset is not part of that promise and the copy-back never uses it.
bool BatchIntact() {
  std::uint32_t position = 0;
  for (std::uint32_t index = 0; index < QueuedCount; ++index) {
    const QueuedRecord& record = Queued[index];
    const std::uint8_t* at = Reply + position;
    if (Get32(at) != record.id || Get32(at + 8) != record.size) return false;
    if (record.id == kSimReadId) {
      if (Get32(at + 12) != record.reference) return false;
      position += kReadHeader + record.size;
    } else {
      position += kWriteHeader + record.size;
    }
  }
  return true;
}

// Copies each read's data into its destination. Positions, sizes and destinations all come from
// this client's own table, so nothing in the reply can steer a copy elsewhere.
void CopyBack() {
  std::uint32_t position = 0;
  for (std::uint32_t index = 0; index < QueuedCount; ++index) {
    const QueuedRecord& record = Queued[index];
    if (record.id == kSimReadId) {
      if (record.destination != nullptr && record.size != 0)
        std::memcpy(record.destination, Reply + position + kReadHeader, record.size);
      position += kReadHeader + record.size;
    } else {
      position += kWriteHeader + record.size;
    }
  }
}

// Ends a failed exchange: the batch is spent.
bool FailExchange(SimResult failure, SimResult& code) {
  QueuedCount = 0;
  code = failure;
  return false;
}

}  // namespace

std::string SimNameOf(std::int32_t simId) {
  if (simId >= 0 && simId <= 8) return SimNames[simId];
  char text[24];
  std::snprintf(text, sizeof text, "id %d", simId);
  return text;
}

void SimLinkClose() {
  SimLink.ServerWindow = 0;
  SimLink.IpcMessage = 0;
  SimLink.WritePos = nullptr;
  QueuedCount = 0;
  if (SimLink.AreaAtom != 0) {
    platform::DeleteGlobalAtom(SimLink.AreaAtom);
    SimLink.AreaAtom = 0;
  }
  if (SimLink.AreaView != nullptr) {
    platform::UnmapSharedArea(SimLink.AreaView);
    SimLink.AreaView = nullptr;
  }
  if (SimLink.AreaMapping != 0) {
    platform::CloseKernelHandle(SimLink.AreaMapping);
    SimLink.AreaMapping = 0;
  }
}

bool SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination, SimResult& code) {
  if (!CanQueue(kReadHeader, size, code)) return false;
  const std::uint32_t reference = Queue(kSimReadId, offset, size, destination);
  Put32(SimLink.WritePos, kSimReadId);
  Put32(SimLink.WritePos + 4, offset);
  Put32(SimLink.WritePos + 8, size);
  Put32(SimLink.WritePos + 12, reference);
  SimLink.WritePos += kReadHeader;
  if (size != 0) {
    std::memset(SimLink.WritePos, 0, size);
    SimLink.WritePos += size;
  }
  code = SimOkay;
  return true;
}

bool SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimResult& code) {
  if (!CanQueue(kWriteHeader, size, code)) return false;
  Queue(kSimWriteId, offset, size, nullptr);
  Put32(SimLink.WritePos, kSimWriteId);
  Put32(SimLink.WritePos + 4, offset);
  Put32(SimLink.WritePos + 8, size);
  SimLink.WritePos += kWriteHeader;
  if (size != 0) {
    std::memcpy(SimLink.WritePos, source, size);
    SimLink.WritePos += size;
  }
  code = SimOkay;
  return true;
}

namespace {

// The exchange with up to `attempts` sends of 400 ms, 10 ms apart.
bool ProcessBatch(int attempts, SimResult& code) {
  if (SimLink.AreaView == nullptr) {
    code = SimNotOpen;
    return false;
  }
  if (SimLink.WritePos == SimLink.AreaView) {
    code = SimNoRequests;
    return false;
  }
  const std::uint32_t used = UsedBytes();
  Put32(SimLink.WritePos, 0);
  SimLink.WritePos = SimLink.AreaView;
  // An area cut short under the link (POSIX) lost the batch: there is nothing to send.
  if (!platform::SharedAreaIntact(SimLink.AreaView)) return FailExchange(SimBadData, code);

  bool sent = false;
  std::uintptr_t reply = 0;
  for (int attempt = 0; attempt < attempts && !sent; ++attempt) {
    sent = platform::SendMessageWithTimeout(SimLink.ServerWindow, SimLink.IpcMessage,
                                            SimLink.AreaAtom, 0, kSendTimeoutMs, &reply);
    // The one-attempt exchange of a close has its 400 ms and no more.
    if (!sent && attempts > 1) platform::SleepMs(kSendPauseMs);
  }
  if (!sent) {
    // Windows reports a timed-out send as ERROR_TIMEOUT, not 0: both mean the module is there
    // but does not answer.
    const std::uint32_t error = platform::LastError();
    const bool timedOut = error == 0 || error == platform::kErrorTimeout;
    return FailExchange(timedOut ? SimTimedOut : SimSendFailed, code);
  }
  if (reply != 1) return FailExchange(SimBadData, code);
  std::memcpy(Reply, SimLink.AreaView, used);
  if (!platform::SharedAreaIntact(SimLink.AreaView) || !BatchIntact())
    return FailExchange(SimBadData, code);
  CopyBack();
  QueuedCount = 0;
  code = SimOkay;
  return true;
}

}  // namespace

bool SimLinkProcess(SimResult& code) {
  return ProcessBatch(kSendAttempts, code);
}

bool SimLinkProcessOnce(SimResult& code) {
  return ProcessBatch(1, code);
}

// The steps of SimLinkOpen, in its order. Each sets `code` when it fails.
namespace {

// The module's window ("UIPCMAIN", else "FS98MAIN") and the IPC message. Acquires nothing.
bool FindServer(bool& viaFs98Window, SimResult& code) {
  viaFs98Window = false;
  SimLink.ServerWindow = platform::FindTopLevelWindow("UIPCMAIN");
  if (SimLink.ServerWindow == 0) {
    viaFs98Window = true;
    SimLink.ServerWindow = platform::FindTopLevelWindow("FS98MAIN");
  }
  if (SimLink.ServerWindow == 0) {
    code = SimNoServer;
    return false;
  }
  SimLink.IpcMessage = platform::RegisterMessageName("FsasmLib:IPC");
  if (SimLink.IpcMessage == 0) {
    code = SimNoRegisterMessage;
    return false;
  }
  return true;
}

// The atom naming the area, the area and its view, and an empty batch in it.
bool CreateArea(SimResult& code) {
  unsigned counter = 0;
  ++counter;
  char areaName[64];
  std::snprintf(areaName, sizeof areaName, "%s:%X:%X", "FsasmLib:IPC",
                static_cast<unsigned>(platform::CurrentProcessId()), counter);

  SimLink.AreaAtom = platform::AddGlobalAtom(areaName);
  if (SimLink.AreaAtom == 0) {
    code = SimNoAtom;
    return false;
  }
  SimLink.AreaMapping = platform::CreateSharedArea(areaName, kSimAreaSize);
  if (SimLink.AreaMapping == 0 || platform::LastError() == platform::kErrorAlreadyExists) {
    code = SimNoMapping;
    return false;
  }
  SimLink.AreaView = static_cast<std::uint8_t*>(platform::MapSharedArea(SimLink.AreaMapping));
  if (SimLink.AreaView == nullptr) {
    code = SimNoView;
    return false;
  }
  SimLink.WritePos = SimLink.AreaView;
  QueuedCount = 0;
  return true;
}

// Up to five exchanges of the version and the simulator id, each followed by a pause; the
// first also writes the handshake word. Fails with the code of a failed queue or exchange.
bool Handshake(SimResult& code) {
  for (int tries = 0;
       tries < kHandshakeTries && !(SimLink.ServerVersion != 0 && SimLink.SimId != 0);) {
    ++tries;
    bool ok = SimLinkRead(0x3304, 4, &SimLink.ServerVersion, code) &&
              SimLinkRead(0x3308, 4, &SimLink.SimId, code);
    // The low two bytes of the little-endian word are 2005.
    if (ok && tries == 1) ok = SimLinkWrite(0x330A, 2, &SimLink.HandshakeWord, code);
    if (ok) ok = SimLinkProcess(code);
    if (!ok) return false;
    platform::SleepMs(kHandshakePauseMs);
  }
  return true;
}

// The version test, then the simulator asked for; SimId keeps the id alone.
bool CheckVersion(std::int32_t requestedSimId, bool viaFs98Window, SimResult& code) {
  const std::uint32_t idWord = static_cast<std::uint32_t>(SimLink.SimId);
  if (SimLink.ServerVersion < kMinimumVersion || (idWord >> 16) != kSimIdMark) {
    code = viaFs98Window ? SimWrongVersionViaFs98 : SimWrongVersion;
    return false;
  }
  SimLink.SimId = static_cast<std::int32_t>(idWord & 0xFFFF);
  if (requestedSimId != 0 && requestedSimId != SimLink.SimId) {
    code = SimWrongSim;
    return false;
  }
  return true;
}

}  // namespace

bool SimLinkOpen(std::int32_t requestedSimId, SimResult& code) {
  if (SimLink.AreaView != nullptr) {
    code = SimAlreadyOpen;
    return false;
  }
  SimLink.ServerVersion = 0;
  SimLink.SimId = 0;
  bool viaFs98Window = false;
  // Nothing is held before the area: a missing server leaves nothing to close.
  if (!FindServer(viaFs98Window, code)) return false;
  if (!CreateArea(code) || !Handshake(code) || !CheckVersion(requestedSimId, viaFs98Window, code)) {
    SimLinkClose();
    return false;
  }
  code = SimOkay;
  return true;
}
