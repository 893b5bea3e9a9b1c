#include "platform/posix/posix_handles.h"

#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "platform/posix/posix_errors.h"

namespace platform::posix {
namespace {

struct Slot {
  HandleEntry entry;
  bool live = false;
  bool closing = false;  // set by CloseKernelHandle: no new users, waits for the current ones
  int users = 0;
};

std::mutex TableLock;
// Never destroyed: a killed thread, which nobody waits for, may still be leaving WithHandle
// while the process exits.
std::condition_variable& UsersDone = *new std::condition_variable;
Slot Table[kHandleTableSize];
// Allocation starts after the last value handed out, so a just-closed handle is not at once
// the name of something new (a stale handle then fails instead of reaching another object).
int NextSlot = 0;

Slot* LiveSlot(Handle handle) {
  if (handle == 0 || handle > static_cast<Handle>(kHandleTableSize)) return nullptr;
  Slot& slot = Table[handle - 1];
  return slot.live && !slot.closing ? &slot : nullptr;
}

}  // namespace

Handle AllocateHandle(int fd, HandleCloser closer, void* data, bool socket) {
  std::lock_guard<std::mutex> hold(TableLock);
  for (int i = 0; i < kHandleTableSize; ++i) {
    const int index = (NextSlot + i) % kHandleTableSize;
    Slot& slot = Table[index];
    if (slot.live) continue;
    slot.entry = HandleEntry{fd, closer, data, socket};
    slot.live = true;
    slot.closing = false;
    slot.users = 0;
    NextSlot = (index + 1) % kHandleTableSize;
    return static_cast<Handle>(index + 1);
  }
  SetLastError(kErrorTooManyOpenFiles);
  return 0;
}

bool WithHandle(Handle handle, void (*use)(HandleEntry& entry, void* context), void* context) {
  Slot* slot = nullptr;
  {
    std::lock_guard<std::mutex> hold(TableLock);
    slot = LiveSlot(handle);
    if (slot == nullptr) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    ++slot->users;
  }
  use(slot->entry, context);
  {
    std::lock_guard<std::mutex> hold(TableLock);
    --slot->users;
  }
  UsersDone.notify_all();
  return true;
}

void CloseFdEntry(HandleEntry& entry) {
  if (entry.fd >= 0) close(entry.fd);
  entry.fd = -1;
}

void CloseSocketEntry(HandleEntry& entry) {
  if (entry.fd >= 0) shutdown(entry.fd, SHUT_RDWR);
  CloseFdEntry(entry);
}

}  // namespace platform::posix

namespace platform {

bool CloseKernelHandle(Handle handle) {
  using namespace platform::posix;
  HandleEntry entry;
  {
    std::unique_lock<std::mutex> hold(TableLock);
    Slot* slot = LiveSlot(handle);
    if (slot == nullptr) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    slot->closing = true;
    // A call blocked on a socket (a read waiting for a frame) ends now instead of holding us.
    if (slot->users > 0 && slot->entry.socket) shutdown(slot->entry.fd, SHUT_RDWR);
    UsersDone.wait(hold, [slot] { return slot->users == 0; });
    entry = slot->entry;
    slot->entry = HandleEntry{};
    slot->live = false;
    slot->closing = false;
  }
  // Outside the lock: a closer may block briefly (a flock) and must not stall other handles.
  if (entry.closer != nullptr) {
    entry.closer(entry);
  } else {
    CloseFdEntry(entry);
  }
  return true;
}

}  // namespace platform
