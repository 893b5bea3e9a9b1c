// Threads on POSIX: detached pthreads, each with a kill event (an eventfd) in place of
// TerminateThread. The thread's record is shared by its handle and the thread itself and goes
// with the last of the two, so neither the killer nor the killed one ever waits for the other.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

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

}  // namespace platform
