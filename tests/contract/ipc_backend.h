// Where the two backends of platform/ipc.h and ipc_server.h differ as the contract allows, for
// the suites of tests/contract/: one list of cases, built once against each backend. Each
// difference is one named answer here, never a copy of a case. One definition per backend:
// ipc_backend_posix.cpp, ipc_backend_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ipc.h"

namespace contract {

// The process id as the system itself gives it.
std::uint32_t SystemProcessId();

// ServerMessage::senderPid of a message from this process: POSIX its id, Win32 0 (not told).
std::uint32_t SenderPidSeen();

// SharedAreaSize of a view of an area of `size` bytes: POSIX `size`, Win32 whole pages.
std::uint32_t ViewSizeFor(std::uint32_t size);

// Whether a named area can still be opened by its name once every handle is closed while a view
// still maps it: POSIX yes (the file is held); Windows takes the name with the last handle and
// keeps only the memory for the views.
bool AViewKeepsTheName();

// For an error Windows documents no code of: any code is taken.
inline constexpr std::uint32_t kAnyCode = 0xFFFFFFFF;

// RegisterMessageName(nullptr)'s error: POSIX kErrorInvalidParameter; Windows documents none
// (Wine leaves the last error as it was): kAnyCode.
std::uint32_t NullMessageNameError();

// The atom a fresh atom table gives first, so that atoms are numbered first-free from there:
// POSIX 0xC000 (each test has a root of its own); 0 where the system decides (Win32).
std::uint16_t FirstAtomOfAFreshTable();

// CreateServerWindow's error for a class name null, empty or of 256 characters or more:
// Win32 kErrorInvalidParameter, POSIX kErrorInvalidName (no file of the root has that name).
std::uint32_t BadClassNameError();

// Win32 hands the handler registered and application messages only; POSIX every message.
bool HandlerSeesSystemMessages();

// Win32: a message the handler holds keeps the one window procedure, and every later sender
// waits behind it (a stop is the only way out; a module's WM_CLOSE waits too). POSIX serves
// the others meanwhile, and a stop signal ends a module at once.
bool AHeldMessageHoldsTheWindow();

// What the sender of a held message gets when the server stops: Win32 the procedure's return
// (sent, reply 0); POSIX its connection closed (not sent, kErrorInvalidWindowHandle).
struct HeldSenderAtStop {
  bool sent;
  std::uint32_t error;  // when not sent
};
HeldSenderAtStop HeldSenderOutcome();

// Whether an atom of `name` exists (POSIX: in the test's own root).
bool AtomNamed(const std::string& name);

// A live handle of this layer that is not a mapping; the caller closes it.
platform::Handle HandleOfAnotherKind();

}  // namespace contract
