// Threads on POSIX: detached pthreads, each with a kill event (an eventfd) in place of
// TerminateThread. The thread's record is shared by its handle and the thread itself and goes
// with the last of the two, so neither the killer nor the killed one ever waits for the other.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/posix_thread.h"
#include "platform/thread.h"

namespace platform {
namespace {

struct ThreadRecord {
  ThreadStart start;
  int killEvent = -1;
  std::atomic<bool> killed{false};
  std::atomic<int> holders{2};  // the handle and the running thread
};

thread_local ThreadRecord* CurrentThread = nullptr;

void Release(ThreadRecord* record) {
  if (record->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  close(record->killEvent);
  delete record;
}

void CloseThreadEntry(posix::HandleEntry& entry) {
  Release(static_cast<ThreadRecord*>(entry.data));
  entry.data = nullptr;
}

void* RunThread(void* argument) {
  auto* record = static_cast<ThreadRecord*>(argument);
  CurrentThread = record;
  record->start.Body(record->start.Context);
  CurrentThread = nullptr;
  Release(record);
  return nullptr;
}

void SetKill(posix::HandleEntry& entry, void* context) {
  auto& found = *static_cast<bool*>(context);
  if (entry.closer != CloseThreadEntry) return;  // some other kind of handle
  auto* record = static_cast<ThreadRecord*>(entry.data);
  record->killed.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(record->killEvent, &one, sizeof one);
  found = true;
}

}  // namespace

namespace posix {

int CurrentKillEvent() {
  return CurrentThread != nullptr ? CurrentThread->killEvent : -1;
}

}  // namespace posix

Handle StartThread(const ThreadStart* start) {
  if (start == nullptr || start->Body == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  auto* record = new ThreadRecord;
  record->start = *start;
  record->killEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (record->killEvent < 0) {
    SetLastError(posix::ErrorFromErrno(errno));
    delete record;
    return 0;
  }
  const Handle handle = posix::AllocateHandle(-1, CloseThreadEntry, record);
  if (handle == 0) {
    const std::uint32_t error = LastError();
    close(record->killEvent);
    delete record;
    SetLastError(error);
    return 0;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attributes, RunThread, record);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    record->holders.store(1);  // no thread will hold it: the handle's close frees it
    CloseKernelHandle(handle);
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  return handle;
}

bool KillThread(Handle thread) {
  bool found = false;
  if (!posix::WithHandle(thread, SetKill, &found) || !found) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  CloseKernelHandle(thread);
  return true;
}

bool ThreadKilled() {
  return CurrentThread != nullptr && CurrentThread->killed.load(std::memory_order_acquire);
}

void PauseThread(std::uint32_t milliseconds) {
  const int killEvent = posix::CurrentKillEvent();
  const std::uint64_t end = posix::MonotonicMs() + milliseconds;
  while (posix::MonotonicMs() < end) {
    // Without a kill event poll() on no descriptor is a plain sleep.
    pollfd event{killEvent, POLLIN, 0};
    const int rc = poll(&event, killEvent >= 0 ? 1 : 0, posix::PollTimeoutUntil(end));
    if (rc > 0) return;  // killed
  }
}

// ---- Manual-reset events ----
//
// A socket pair: the event is set while a byte waits in it. Waiters poll the read end and never
// read it; only a reset drains it. A socket, so that a close shuts it down and a wait blocked on
// it ends (posix/posix_handles.h).

namespace {

struct EventRecord {
  int writeEnd = -1;
  std::mutex lock;  // set and reset one at a time
  bool set = false;
};

void CloseEventEntry(posix::HandleEntry& entry) {
  auto* record = static_cast<EventRecord*>(entry.data);
  close(record->writeEnd);
  delete record;
  entry.data = nullptr;
  posix::CloseSocketEntry(entry);
}

bool IsEvent(const posix::HandleEntry& entry) {
  return entry.closer == CloseEventEntry;
}

struct EventChange {
  bool set;
  bool found = false;
};

void ChangeEvent(posix::HandleEntry& entry, void* context) {
  auto& change = *static_cast<EventChange*>(context);
  if (!IsEvent(entry)) return;
  change.found = true;
  auto* record = static_cast<EventRecord*>(entry.data);
  std::lock_guard<std::mutex> hold(record->lock);
  if (change.set && !record->set) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = send(record->writeEnd, &byte, 1, MSG_NOSIGNAL);
  } else if (!change.set && record->set) {
    char byte;
    while (recv(entry.fd, &byte, 1, MSG_DONTWAIT) > 0) {
    }
  }
  record->set = change.set;
}

bool Change(Handle event, bool set) {
  EventChange change{set};
  if (!posix::WithHandle(event, ChangeEvent, &change) || !change.found) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

enum class WaitEnd { Set, Killed, Closed, NotAnEvent };

void WaitOnEvent(posix::HandleEntry& entry, void* context) {
  auto& end = *static_cast<WaitEnd*>(context);
  if (!IsEvent(entry)) return;
  const int killEvent = posix::CurrentKillEvent();
  pollfd fds[2] = {{entry.fd, POLLIN, 0}, {killEvent, POLLIN, 0}};
  for (;;) {
    const int rc = poll(fds, killEvent >= 0 ? 2 : 1, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0 || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      end = WaitEnd::Closed;
    } else if ((fds[1].revents & POLLIN) != 0) {
      end = WaitEnd::Killed;
    } else if ((fds[0].revents & POLLIN) != 0) {
      end = WaitEnd::Set;
    } else {
      continue;
    }
    return;
  }
}

}  // namespace

Handle CreateManualEvent() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
    SetLastError(posix::ErrorFromErrno(errno));
    return 0;
  }
  auto* record = new EventRecord;
  record->writeEnd = ends[1];
  const Handle handle = posix::AllocateHandle(ends[0], CloseEventEntry, record, true);
  if (handle == 0) {
    close(ends[0]);
    close(ends[1]);
    delete record;
  }
  return handle;
}

bool SetManualEvent(Handle event) {
  return Change(event, true);
}

bool ResetManualEvent(Handle event) {
  return Change(event, false);
}

bool WaitForManualEvent(Handle event) {
  WaitEnd end = WaitEnd::NotAnEvent;
  if (!posix::WithHandle(event, WaitOnEvent, &end) || end == WaitEnd::NotAnEvent ||
      end == WaitEnd::Closed) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (end == WaitEnd::Killed) {
    SetLastError(kErrorOperationAborted);
    return false;
  }
  return true;
}

}  // namespace platform
