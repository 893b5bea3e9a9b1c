// Device interfaces, devices and pipes on POSIX, as design.md's contract lays them out.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_device_socket.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/posix_root.h"
#include "platform/posix/posix_send.h"
#include "platform/posix/posix_thread.h"

namespace platform {
namespace {

using posix::HandleEntry;

constexpr int kAnswerTimeoutMs = 2000;
constexpr std::size_t kMaxEntryBytes = 32768;  // no device path is longer
constexpr std::uint32_t kKnownDigcfFlags = 0x1F;
constexpr std::size_t kMaxSets = 16;

struct InterfaceSet {
  DeviceClassGuid interfaceClass;
  std::vector<std::string> paths;
};

std::mutex SetsLock;
std::unique_ptr<InterfaceSet> Sets[kMaxSets];

bool SameGuid(const DeviceClassGuid& a, const DeviceClassGuid& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The device path an entry holds; "" for an unreadable or empty one. A single trailing line end
// is not part of the path, so entries written by hand work too.
std::string EntryPath(int fd) {
  std::string path;
  char chunk[4096];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    path.append(chunk, static_cast<std::size_t>(n));
    if (path.size() > kMaxEntryBytes) return "";
  }
  path.resize(std::strlen(path.c_str()));
  if (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}

void LoadEntries(const std::string& dir, bool presentOnly, std::vector<std::string>& paths) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;  // no interface of the class was ever published
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);  // dot files: entries being made
  }
  closedir(d);
  std::sort(names.begin(), names.end());  // char_traits<char> compares as unsigned bytes
  for (const std::string& name : names) {
    int fd = open((dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    if (!presentOnly || posix::EntryHeld(fd)) {
      std::string path = EntryPath(fd);
      if (!path.empty()) paths.push_back(std::move(path));
    }
    close(fd);
  }
}

InterfaceSet* FindSet(DeviceInfoSet set) {
  if (set == 0 || set > kMaxSets) return nullptr;
  return Sets[set - 1].get();
}

// --- files ---------------------------------------------------------------------------------

void CloseDeviceEntry(HandleEntry& entry) {
  // Ends a read blocked on a dup of this fd, and the unit sees the close now rather than when
  // that read lets go: the pipe is free for the next open once CloseKernelHandle returns.
  posix::CloseSocketEntry(entry);
}

std::uint32_t AccessOf(const HandleEntry& entry) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entry.data));
}

// Per handle: a transfer has found the unit gone. Set by the call that saw it, cleared when the
// handle's number is given to a new open.
std::atomic<bool> UnitGone[posix::kHandleTableSize];

std::atomic<bool>& UnitGoneOf(Handle file) {
  return UnitGone[(file - 1) % posix::kHandleTableSize];
}

// A read, write or flush, run on the handle's own fd while the handle cannot be closed under
// it (a close meanwhile shuts the socket down, which ends a blocked read at once).
struct Transfer {
  void (*call)(HandleEntry& entry, Transfer& transfer);
  Handle file;
  std::uint32_t access;
  void* buffer;
  std::uint32_t size;
  std::uint32_t done = 0;
  std::uint32_t error = kErrorInvalidHandle;  // 0: succeeded
};

void RunTransfer(HandleEntry& entry, void* context) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  if (entry.closer != CloseDeviceEntry) return;  // a mapping or other kind: not a device file
  if ((AccessOf(entry) & transfer.access) == 0) {
    transfer.error = kErrorAccessDenied;
    return;
  }
  transfer.call(entry, transfer);
}

// Runs `transfer`, and reports its outcome as the calls of device.h do.
bool Run(Transfer& transfer, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  posix::WithHandle(transfer.file, RunTransfer, &transfer);
  if (transfer.error != 0) {
    SetLastError(transfer.error);
    return false;
  }
  if (done != nullptr) *done = transfer.done;
  return true;
}

struct OpenCheck {
  bool open = false;
};

void MarkOpen(HandleEntry&, void* context) {
  static_cast<OpenCheck*>(context)->open = true;
}

// A read or write that saw the connection end: the device is gone, unless our own handle was
// closed underneath the call.
std::uint32_t EndedError(Handle file) {
  OpenCheck check;
  posix::WithHandle(file, MarkOpen, &check);
  if (!check.open) return kErrorInvalidHandle;
  UnitGoneOf(file).store(true);
  return kErrorDeviceNotConnected;
}

int ConnectTo(const char* path) {
  sockaddr_un address;
  if (!posix::DeviceSocketAddress(path, &address)) {
    SetLastError(kErrorFileNotFound);  // no socket can be bound at such a path
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetLastError(kErrorFileNotFound);
    return -1;
  }
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    SetLastError(errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound);
    close(fd);
    return -1;
  }
  return fd;
}

// The unit's one-byte answer to an open: 1 opened, 0 refused.
bool AwaitAnswer(int fd) {
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = poll(&p, 1, kAnswerTimeoutMs);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) {
    SetLastError(kErrorSemTimeout);
    return false;
  }
  unsigned char answer = 0;
  ssize_t n;
  do {
    n = recv(fd, &answer, 1, 0);
  } while (n < 0 && errno == EINTR);
  if (n == 1 && answer == posix::kOpenTaken) return true;
  SetLastError(n == 1 ? kErrorSharingViolation : kErrorDeviceNotConnected);
  return false;
}

// On a thread of StartThread a read also waits on the thread's kill event: false once it is
// set, even with a packet waiting. Elsewhere the read simply blocks in recv.
bool AwaitPacketOrKill(int fd) {
  const int killEvent = posix::CurrentKillEvent();
  if (killEvent < 0) return true;
  pollfd p[2] = {{killEvent, POLLIN, 0}, {fd, POLLIN, 0}};
  for (;;) {
    const int rc = poll(p, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return true;  // recv says what is wrong
    if (p[0].revents != 0) return false;
    if (p[1].revents != 0) return true;  // a packet, or the end (recv then says which)
  }
}

// On a thread of StartThread the read also gives up when the thread is killed, taking no frame.
void ReadCall(HandleEntry& entry, Transfer& transfer) {
  if (!AwaitPacketOrKill(entry.fd)) {
    transfer.error = kErrorOperationAborted;  // killed: the packet stays for the next reader
    return;
  }
  ssize_t n;
  do {
    n = recv(entry.fd, transfer.buffer, transfer.size, 0);  // one packet, cut to `size`
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    transfer.error = EndedError(transfer.file);
    return;
  }
  transfer.done = static_cast<std::uint32_t>(n);
  transfer.error = 0;
}

// A unit that takes nothing within the bound fails the write (ETIMEDOUT) rather than holding
// the caller for as long as it hangs.
void WriteCall(HandleEntry& entry, Transfer& transfer) {
  const ssize_t n = posix::SendPacketBy(entry.fd, transfer.buffer, transfer.size,
                                        posix::MonotonicMs() + kDeviceWriteBoundMs);
  if (n < 0) {
    transfer.error = errno == ETIMEDOUT  ? kErrorOperationAborted
                     : errno == EMSGSIZE ? kErrorInvalidParameter
                                         : EndedError(transfer.file);
    return;
  }
  transfer.done = static_cast<std::uint32_t>(n);
  transfer.error = 0;
}

// Nothing is buffered on our side: the flush has nothing to wait for, and tells only whether a
// transfer has found the unit gone (one gone since is found by the next transfer).
void FlushCall(HandleEntry&, Transfer& transfer) {
  transfer.error = UnitGoneOf(transfer.file).load() ? kErrorDeviceNotConnected : 0;
}

// A size of 0 succeeds at once (an empty packet would read as the end of the connection) once
// the handle and its access are checked; a null buffer with a size fails.
void EmptyCall(HandleEntry&, Transfer& transfer) {
  transfer.error = transfer.size == 0 ? 0 : kErrorInvalidParameter;
}

}  // namespace

DeviceInfoSet OpenDeviceInterfaceSet(const DeviceClassGuid& interfaceClass, std::uint32_t flags) {
  if ((flags & ~kKnownDigcfFlags) != 0) {
    SetLastError(kErrorInvalidFlags);
    return kInvalidDeviceInfoSet;
  }
  auto set = std::make_unique<InterfaceSet>();
  set->interfaceClass = interfaceClass;
  // An unsafe root ("") holds no devices: never look under /devices instead.
  const std::string root = posix::NamespaceRoot();
  if ((flags & kDigcfDeviceInterface) != 0 && !root.empty()) {
    LoadEntries(root + "/" + posix::ClassEntriesDir(interfaceClass), (flags & kDigcfPresent) != 0,
                set->paths);
  }
  std::lock_guard<std::mutex> lock(SetsLock);
  for (std::size_t i = 0; i < kMaxSets; ++i) {
    if (!Sets[i]) {
      Sets[i] = std::move(set);
      return i + 1;
    }
  }
  SetLastError(kErrorInvalidParameter);  // too many sets open at once
  return kInvalidDeviceInfoSet;
}

bool EnumDeviceInterface(DeviceInfoSet set, const DeviceClassGuid& interfaceClass,
                         std::uint32_t index, DeviceInterfaceData* data) {
  std::lock_guard<std::mutex> lock(SetsLock);
  InterfaceSet* s = FindSet(set);
  if (s == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (data == nullptr || data->cbSize != kDeviceInterfaceDataSize) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (!SameGuid(interfaceClass, s->interfaceClass) || index >= s->paths.size()) {
    SetLastError(kErrorNoMoreItems);
    return false;
  }
  data->InterfaceClassGuid = interfaceClass;
  data->Flags = 1;  // SPINT_ACTIVE
  data->Reserved = index + 1;
  return true;
}

bool GetDeviceInterfaceDetail(DeviceInfoSet set, DeviceInterfaceData* data, void* detail,
                              std::uint32_t detailSize, std::uint32_t* requiredSize) {
  std::lock_guard<std::mutex> lock(SetsLock);
  InterfaceSet* s = FindSet(set);
  if (s == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (data == nullptr || data->cbSize != kDeviceInterfaceDataSize || data->Reserved == 0 ||
      data->Reserved > s->paths.size()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const std::string& path = s->paths[data->Reserved - 1];
  const std::size_t need = kDeviceInterfaceDetailPathOffset + path.size() + 1;
  if (requiredSize != nullptr) *requiredSize = static_cast<std::uint32_t>(need);
  if (detail == nullptr) {
    SetLastError(detailSize == 0 ? kErrorInsufficientBuffer : kErrorInvalidUserBuffer);
    return false;
  }
  std::uint32_t cbSize = 0;
  if (detailSize >= sizeof cbSize) std::memcpy(&cbSize, detail, sizeof cbSize);
  if (detailSize < kDeviceInterfaceDetailSize || cbSize != kDeviceInterfaceDetailSize) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (detailSize < need) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  std::memcpy(static_cast<char*>(detail) + kDeviceInterfaceDetailPathOffset, path.c_str(),
              path.size() + 1);
  return true;
}

bool CloseDeviceInterfaceSet(DeviceInfoSet set) {
  std::lock_guard<std::mutex> lock(SetsLock);
  if (FindSet(set) == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  Sets[set - 1].reset();
  return true;
}

Handle OpenDeviceFile(const char* path, std::uint32_t access, std::uint32_t /*share*/,
                      std::uint32_t creation, std::uint32_t /*flags*/) {
  // Sharing is the unit's decision: it answers 0 to an opener it does not take.
  if (path == nullptr || creation != kOpenExisting) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  int fd = ConnectTo(path);
  if (fd < 0) return kInvalidHandle;
  if (!AwaitAnswer(fd)) {
    close(fd);
    return kInvalidHandle;
  }
  Handle handle = posix::AllocateHandle(fd, CloseDeviceEntry,
                                        reinterpret_cast<void*>(std::uintptr_t{access}), true);
  if (handle == 0) {
    std::uint32_t error = LastError();
    shutdown(fd, SHUT_RDWR);
    close(fd);
    SetLastError(error);
    return kInvalidHandle;
  }
  UnitGoneOf(handle).store(false);
  return handle;
}

bool ReadDeviceFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* done) {
  Transfer transfer{size != 0 && buffer != nullptr ? ReadCall : EmptyCall, file, kGenericRead,
                    buffer, size};
  return Run(transfer, done);
}

bool WriteDeviceFile(Handle file, const void* buffer, std::uint32_t size, std::uint32_t* done) {
  Transfer transfer{size != 0 && buffer != nullptr ? WriteCall : EmptyCall, file, kGenericWrite,
                    const_cast<void*>(buffer), size};
  return Run(transfer, done);
}

bool FlushDeviceFile(Handle file) {
  Transfer transfer{FlushCall, file, kGenericWrite, nullptr, 0};
  return Run(transfer, nullptr);
}

}  // namespace platform
