// One copy of a program per session: a named claim held for the life of the process. Each
// declaration says what it returns, its errors, threads and waits as platform/ipc.h lays out.
#pragma once

#include "platform/ipc.h"

namespace platform {

// Claims `name` for this process until it ends (the system lets go at exit, however the
// process ends: nothing to release). Win32: CreateMutexA(NULL, FALSE, "Local\\" + name), the
// handle kept open; another copy holds the claim when the mutex exists already, or when Windows
// refuses to open it (a copy at a higher privilege level made it). POSIX: an exclusive flock
// on the file R/instances/<name> (0600), kept open. A second claim of the same name in the same
// process is refused too.
// Returns  false when another holder has the claim; true when this process has it, and also
//          when whether another holds it cannot be told (no namespace root, a system error): a
//          program that cannot check runs rather than refuses.
// Errors   when false: kErrorAlreadyExists, or kErrorAccessDenied (Win32: held at a higher
//          privilege level). When true, LastError is as the system left it.
// Thread   any.   Blocks  no.
bool ClaimOnlyInstance(const char* name);

}  // namespace platform
