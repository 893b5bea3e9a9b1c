// Making a file of the namespace root appear whole: it is created private and prepared under a
// temporary name, then linked into place. No one ever finds it half-made, and two processes
// creating at once never both get one name (link fails on a name that exists). Used for the
// shared areas (posix_mapping.cpp) and the atoms (posix_atoms.cpp). Any thread.
//
// Such a file belongs to the processes that hold a shared flock on it (the prepare step takes
// the creator's): one that no process holds was left by processes that no longer exist, and is
// reclaimed.
#pragma once

#include <cstdint>
#include <string>

namespace platform::posix {

// What a fresh file gets before anyone can see it (its size, its lock, its content). False with
// errno set.
using PrepareFile = bool (*)(int fd, const void* context);
// The path of the name to try at `index` (0, 1, ...); false when there are no more names.
using NameFile = bool (*)(std::uint32_t index, const void* context, std::string* path);

// Creates a file of this user (mode 0600, close-on-exec) in `dir` under a dot name that no
// lookup of the layer reads, runs `prepare` on it, then links it to the first name of `nameAt`
// that is free; a name held by nobody (RemoveIfAbandoned) counts as free. With nameAt null it
// keeps no name at all (an unnamed area). Whatever the outcome, the temporary name is gone when
// this returns.
//
// Returns the open fd, with the index of the name it took in *taken (may be null); -1 with errno
// on failure: EEXIST when every name was taken, else the reason the system or `prepare` gave.
// Never waits for another process.
int CreatePrivateFile(const std::string& dir, PrepareFile prepare, NameFile nameAt,
                      const void* context, std::uint32_t* taken);

// True when `path` names the file open at `fd` (so removing the name removes that file).
bool NamesFile(const char* path, int fd);

// Removes `path` when it is a regular file that no process holds a lock on; true when it did.
// While it holds the file exclusively no one can take it, so a name that a live process holds,
// or that someone is making or replacing right now, is never removed. Never waits.
bool RemoveIfAbandoned(const char* path);

// RemoveIfAbandoned on every file of `dir` but the dot names (files still being made).
void RemoveAbandonedIn(const std::string& dir);

}  // namespace platform::posix
