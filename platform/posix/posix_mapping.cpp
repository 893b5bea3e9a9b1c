// Named shared areas: R/mappings/<name>, a file mapped shared. Every process that holds the
// area keeps a shared flock on it, so "no lock can be had exclusively" means "someone alive
// holds it"; a file nobody locks was left by a process that died, and is replaced. A fresh
// file is sized and locked under a private name before it is linked to its name, so no one
// ever finds it unlocked or short.
//
// Any process of the user can still cut an area's file short under our views (ftruncate). An
// access past the new end would raise SIGBUS; as Wayland's wl_shm does with a client's pool,
// the handler here covers the whole view with private zero-filled memory, marks the view
// broken (SharedAreaIntact) and lets the access complete.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/ipc.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/posix_private_file.h"
#include "platform/posix/posix_root.h"

namespace platform {
namespace {

using posix::NamesFile;

// One open area of this process, shared by its handle and its views: the file goes away with
// the last of them (as a Windows section outlives its handle while a view is mapped).
struct Area {
  bool used = false;
  int fd = -1;
  int refs = 0;
  char path[1024] = {};  // empty for an unnamed area
};

struct View {
  void* address = nullptr;
  std::uint32_t size = 0;
  Area* area = nullptr;
};

constexpr int kAreas = 64;
constexpr int kViews = 64;
// Attempts while another process is in the middle of replacing or removing the same name.
constexpr int kBusyAttempts = 500;

std::mutex AreaLock;
Area Areas[kAreas];
View Views[kViews];

// The views as the SIGBUS handler sees them, slot for slot with Views. A handler can take no
// lock: a slot's start is published after its mapping exists and withdrawn before it goes.
struct GuardedView {
  std::atomic<std::uintptr_t> start{0};
  std::atomic<std::size_t> size{0};
  std::atomic<bool> broken{false};
};
GuardedView Guarded[kViews];
struct sigaction PreviousBusAction;
std::once_flag BusHandlerInstalled;

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (GuardedView& view : Guarded) {
    const std::uintptr_t start = view.start.load(std::memory_order_acquire);
    const std::size_t size = view.size.load(std::memory_order_relaxed);
    if (start == 0 || address - start >= size) continue;
    // The pages past the file's new end are gone; private zeros take the view's place, so the
    // faulting access and all that follow complete there.
    if (mmap(reinterpret_cast<void*>(start), size, PROT_READ | PROT_WRITE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
      break;
    }
    view.broken.store(true, std::memory_order_release);
    return;
  }
  // Not one of ours: to the handler from before, or the default action.
  if ((PreviousBusAction.sa_flags & SA_SIGINFO) != 0 && PreviousBusAction.sa_sigaction != nullptr) {
    PreviousBusAction.sa_sigaction(signal, info, context);
    return;
  }
  if (PreviousBusAction.sa_handler != SIG_DFL && PreviousBusAction.sa_handler != SIG_IGN) {
    PreviousBusAction.sa_handler(signal);
    return;
  }
  sigaction(SIGBUS, &PreviousBusAction, nullptr);
  // A fault comes back when the access is retried; a sent SIGBUS is sent again.
  if (info->si_code <= 0) raise(signal);
}

void InstallBusHandler() {
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &PreviousBusAction);
}

void PauseBriefly() {
  const timespec pause{0, 1000000};
  nanosleep(&pause, nullptr);
}

// True when no other process holds the area file at `fd` (stale, or our own last hold): it is
// then ours alone, nobody can take or replace it, and it loses its name. False: flock's errno.
bool RemoveIfNobodyHolds(int fd, const char* path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  if (NamesFile(path, fd)) unlink(path);
  return true;
}

// Called with AreaLock held.
void ReleaseArea(Area* area) {
  if (--area->refs > 0) return;
  // The last holder anywhere takes the name with it.
  if (area->path[0] != '\0') RemoveIfNobodyHolds(area->fd, area->path);
  close(area->fd);
  *area = Area{};
}

void CloseAreaHandle(posix::HandleEntry& entry) {
  std::lock_guard<std::mutex> hold(AreaLock);
  ReleaseArea(static_cast<Area*>(entry.data));
  entry.fd = -1;
}

// A handle for an fd that holds its shared lock; takes the fd.
Handle WrapArea(int fd, const char* path) {
  Area* area = nullptr;
  {
    std::lock_guard<std::mutex> hold(AreaLock);
    for (Area& candidate : Areas) {
      if (!candidate.used) {
        area = &candidate;
        break;
      }
    }
    if (area != nullptr) {
      area->used = true;
      area->fd = fd;
      area->refs = 1;
      std::strncpy(area->path, path, sizeof area->path - 1);
    }
  }
  if (area == nullptr) {
    close(fd);
    SetLastError(kErrorTooManyOpenFiles);
    return 0;
  }
  const Handle handle = posix::AllocateHandle(fd, CloseAreaHandle, area);
  if (handle == 0) {
    std::lock_guard<std::mutex> hold(AreaLock);
    ReleaseArea(area);
  }
  return handle;
}

enum class Join { Joined, Stale, Busy, Failed };

// Decides what the existing file open at `fd` is: a live area (joined: we now hold a shared
// lock on it), a stale one (removed from its name), or a moment of someone else's change.
Join JoinExisting(int fd, const char* path) {
  if (RemoveIfNobodyHolds(fd, path)) return Join::Stale;
  if (errno != EWOULDBLOCK) return Join::Failed;
  // Held exclusively right now: its last holder is closing it, or a replacer is at work.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK ? Join::Busy : Join::Failed;
  // It may have lost its name between our open and our lock.
  if (!NamesFile(path, fd)) return Join::Busy;
  return Join::Joined;
}

enum class Fresh { Created, NameTaken, Failed };

struct FreshArea {
  const char* path;  // "" for an unnamed area, which no one finds and so needs no lock
  std::uint32_t size;
};

// Sized, and held with the shared lock every holder keeps, before anyone can find it.
bool SizeAndHold(int fd, const void* context) {
  const auto& area = *static_cast<const FreshArea*>(context);
  if (ftruncate(fd, static_cast<off_t>(area.size)) != 0) return false;
  return area.path[0] == '\0' || flock(fd, LOCK_SH) == 0;
}

bool AreaName(std::uint32_t index, const void* context, std::string* path) {
  if (index > 0) return false;
  *path = static_cast<const FreshArea*>(context)->path;
  return true;
}

Fresh CreateFresh(const std::string& dir, const char* path, std::uint32_t size, int* out) {
  const FreshArea area{path, size};
  *out = posix::CreatePrivateFile(dir, SizeAndHold, AreaName, &area, nullptr);
  if (*out >= 0) return Fresh::Created;
  return errno == EEXIST ? Fresh::NameTaken : Fresh::Failed;
}

bool MappingPath(const char* name, std::string* dir, std::string* path) {
  if (!posix::IsObjectName(name)) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  *dir = posix::NamespaceDir("mappings");
  if (dir->empty()) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  *path = *dir + "/" + name;
  if (path->size() >= sizeof Area{}.path) {
    SetLastError(kErrorFilenameTooLong);
    return false;
  }
  return true;
}

Handle CreateUnnamedArea(std::uint32_t size) {
  const std::string dir = posix::NamespaceDir("mappings");
  if (dir.empty()) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  const FreshArea area{"", size};
  const int fd = posix::CreatePrivateFile(dir, SizeAndHold, nullptr, &area, nullptr);
  if (fd < 0) {
    SetLastError(posix::ErrorFromErrno(errno));
    return 0;
  }
  const Handle handle = WrapArea(fd, "");
  if (handle != 0) SetLastError(0);
  return handle;
}

struct MapRequest {
  void* address = nullptr;
  std::uint32_t error = kErrorInvalidHandle;
};

// Runs while the handle cannot be closed, so its area stays the one the handle names.
void MapArea(posix::HandleEntry& entry, void* context) {
  MapRequest& request = *static_cast<MapRequest*>(context);
  if (entry.closer != CloseAreaHandle) return;
  Area* area = static_cast<Area*>(entry.data);
  std::lock_guard<std::mutex> hold(AreaLock);
  View* slot = nullptr;
  for (View& view : Views) {
    if (view.address == nullptr) {
      slot = &view;
      break;
    }
  }
  if (slot == nullptr) {
    request.error = kErrorNotEnoughMemory;
    return;
  }
  struct stat st {};
  if (fstat(area->fd, &st) != 0) {
    request.error = posix::ErrorFromErrno(errno);
    return;
  }
  // An area is sized by whoever made it; one that is empty or beyond 4 GiB is not ours.
  if (st.st_size <= 0 || static_cast<std::uint64_t>(st.st_size) > 0xFFFFFFFFu) {
    request.error = kErrorInvalidParameter;
    return;
  }
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, area->fd, 0);
  if (address == MAP_FAILED) {
    request.error = posix::ErrorFromErrno(errno);
    return;
  }
  slot->address = address;
  slot->size = static_cast<std::uint32_t>(size);
  slot->area = area;
  ++area->refs;
  GuardedView& guard = Guarded[slot - Views];
  guard.size.store(size, std::memory_order_relaxed);
  guard.broken.store(false, std::memory_order_relaxed);
  guard.start.store(reinterpret_cast<std::uintptr_t>(address), std::memory_order_release);
  request.address = address;
}

}  // namespace

Handle CreateSharedArea(const char* name, std::uint32_t size) {
  if (size == 0) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (name == nullptr) return CreateUnnamedArea(size);
  std::string dir, path;
  if (!MappingPath(name, &dir, &path)) return 0;
  // Areas of processes that are gone take memory for nothing: they go now.
  posix::RemoveAbandonedIn(dir);
  for (int attempt = 0; attempt < kBusyAttempts; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      const Join join = JoinExisting(fd, path.c_str());
      if (join == Join::Joined) {
        const Handle handle = WrapArea(fd, path.c_str());
        if (handle != 0) SetLastError(kErrorAlreadyExists);
        return handle;
      }
      const int err = errno;
      close(fd);
      if (join == Join::Failed) {
        SetLastError(posix::ErrorFromErrno(err));
        return 0;
      }
      if (join == Join::Busy) PauseBriefly();
      continue;
    }
    if (errno != ENOENT) {
      SetLastError(posix::ErrorFromErrno(errno));
      return 0;
    }
    int created = -1;
    const Fresh fresh = CreateFresh(dir, path.c_str(), size, &created);
    if (fresh == Fresh::Created) {
      const Handle handle = WrapArea(created, path.c_str());
      if (handle != 0) SetLastError(0);
      return handle;
    }
    if (fresh == Fresh::Failed) {
      SetLastError(posix::ErrorFromErrno(errno));
      return 0;
    }
  }
  SetLastError(kErrorAccessDenied);
  return 0;
}

Handle OpenSharedArea(const char* name) {
  std::string dir, path;
  if (!MappingPath(name, &dir, &path)) return 0;
  for (int attempt = 0; attempt < kBusyAttempts; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      SetLastError(errno == ENOENT ? kErrorFileNotFound : posix::ErrorFromErrno(errno));
      return 0;
    }
    const Join join = JoinExisting(fd, path.c_str());
    if (join == Join::Joined) return WrapArea(fd, path.c_str());
    const int err = errno;
    close(fd);
    if (join == Join::Stale) {
      SetLastError(kErrorFileNotFound);
      return 0;
    }
    if (join == Join::Failed) {
      SetLastError(posix::ErrorFromErrno(err));
      return 0;
    }
    PauseBriefly();
  }
  SetLastError(kErrorAccessDenied);
  return 0;
}

void* MapSharedArea(Handle mapping) {
  std::call_once(BusHandlerInstalled, InstallBusHandler);
  MapRequest request;
  if (!posix::WithHandle(mapping, MapArea, &request)) return nullptr;
  if (request.address == nullptr) SetLastError(request.error);
  return request.address;
}

std::uint32_t SharedAreaSize(const void* view) {
  if (view == nullptr) return 0;
  std::lock_guard<std::mutex> hold(AreaLock);
  for (const View& entry : Views) {
    if (entry.address == view) return entry.size;
  }
  return 0;
}

bool SharedAreaIntact(const void* view) {
  if (view == nullptr) return false;
  std::lock_guard<std::mutex> hold(AreaLock);
  for (int i = 0; i < kViews; ++i) {
    if (Views[i].address == view) return !Guarded[i].broken.load(std::memory_order_acquire);
  }
  return false;
}

bool UnmapSharedArea(void* view) {
  std::lock_guard<std::mutex> hold(AreaLock);
  for (View& entry : Views) {
    if (view == nullptr || entry.address != view) continue;
    Guarded[&entry - Views].start.store(0, std::memory_order_release);
    munmap(entry.address, entry.size);
    ReleaseArea(entry.area);
    entry = View{};
    return true;
  }
  SetLastError(kErrorInvalidAddress);
  return false;
}

}  // namespace platform
