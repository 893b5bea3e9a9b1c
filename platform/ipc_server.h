// The serving side of the simulator IPC: a top-level window of a given class that answers the
// messages sent to it. Used by the stand-in module (korvan-sim) and by tests; the bridge itself
// never serves.
//
// Win32: a real window of the class, with its own window procedure and message loop on the
// calling thread. POSIX: the listening socket of posix/posix_root.h at R/windows/<class>.
#pragma once

#include <cstdint>

namespace platform {

// One message as the server sees it. The reply goes back to the sender when the handler
// answers; a handler that does not answer holds the sender until it gives up (its timeout).
struct ServerMessage {
  std::uint32_t msg;
  std::uint32_t wParam;
  std::uint32_t lParam;
  std::uint32_t senderPid;  // 0 where the platform does not tell
};

// Called on the serving thread for each message; returns true and sets *reply to answer.
using ServerHandler = bool (*)(void* context, const ServerMessage& message, std::uint32_t* reply);

struct ServerWindow;

// Creates the window of `className`. Null on failure, LastError set (kErrorClassAlreadyExists
// when a live window of that class exists).
ServerWindow* CreateServerWindow(const char* className, ServerHandler handler, void* context);

// Serves messages on the calling thread until RequestServerStop or, on Windows, WM_CLOSE.
// Returns false on an operating-system error.
bool RunServerWindow(ServerWindow* window);

// Ends RunServerWindow soon. Safe to call from a signal handler and from any thread.
void RequestServerStop(ServerWindow* window);

// True once a stop has been requested; a handler that stalls on purpose polls it.
bool ServerStopRequested(const ServerWindow* window);

// Closes the window and removes what it left in the system (the POSIX socket file).
void DestroyServerWindow(ServerWindow* window);

}  // namespace platform
