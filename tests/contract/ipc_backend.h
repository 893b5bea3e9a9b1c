// Where the two backends of platform/ipc.h and ipc_server.h differ as the contract allows, for
// the suites of tests/contract/: one list of cases, built once against each backend. Each
// difference is one named answer here, never a copy of a case. One definition per backend:
// ipc_backend_posix.cpp, ipc_backend_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ipc.h"

namespace contract {

// For an error Windows documents no code of: any code is taken.
inline constexpr std::uint32_t kAnyCode = 0xFFFFFFFF;

struct Backend {
  // ServerMessage::senderPid tells the sender's process id (POSIX); Win32 gives 0.
  bool senderPidTold;
  // The handler sees the system's own messages such as WM_NULL (POSIX); Win32 hands it
  // registered and application messages only.
  bool handlerSeesSystemMessages;
  // Win32: a message the handler holds keeps the one window procedure, and every later sender
  // waits behind it (a stop is the only way out; a module's WM_CLOSE waits too). POSIX serves
  // the others meanwhile, and a stop signal ends a module at once.
  bool aHeldMessageHoldsTheWindow;
  // What the sender of a held message gets when the server stops: Win32 the procedure's return
  // (sent, reply 0); POSIX its connection closed (not sent, kErrorInvalidWindowHandle).
  bool heldSenderSentAtStop;
  std::uint32_t heldSenderErrorAtStop;
  // An area's name can still be opened while a view maps it after its last handle is closed
  // (POSIX: the file is held); Windows takes the name with the last handle.
  bool aViewKeepsTheName;
  // CreateServerWindow's error for a class name null, empty or of 256 characters or more:
  // Win32 kErrorInvalidParameter, POSIX kErrorInvalidName (no file of the root has that name).
  std::uint32_t badClassNameError;
  // RegisterMessageName(nullptr)'s error: POSIX kErrorInvalidParameter; Windows documents none
  // (Wine leaves the last error as it was).
  std::uint32_t nullMessageNameError;
  // The atom a fresh table gives first, atoms being numbered first-free from there: POSIX
  // 0xC000 (each test has a root of its own); 0 where the system decides (Win32).
  std::uint16_t firstAtomOfAFreshTable;
};

extern const Backend kBackend;

// The process id as the system itself gives it.
std::uint32_t SystemProcessId();

// SharedAreaSize of a view of an area of `size` bytes: POSIX `size`, Win32 whole pages.
std::uint32_t ViewSizeFor(std::uint32_t size);

// Whether an atom of `name` exists (POSIX: in the test's own root).
bool AtomNamed(const std::string& name);

// A live handle of this layer that is not a mapping; the caller closes it.
platform::Handle HandleOfAnotherKind();

}  // namespace contract
