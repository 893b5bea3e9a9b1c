// The serving side of the simulator IPC: a top-level window of a given class that answers the
// messages sent to it (SendMessageWithTimeout of platform/ipc.h). Used by the stand-in module
// (korvan-sim) and by tests; the bridge itself never serves. Declarations say what they return,
// their errors, threads and waits as platform/ipc.h lays out.
//
// Win32: a real window of the class, with its own window procedure and message loop. A window
// belongs to the thread that made it: CreateServerWindow, RunServerWindow and
// DestroyServerWindow of one window run on one thread. POSIX: the listening socket of
// posix/posix_window_socket.h at R/windows/<class>; the same one-thread use works there too.
#pragma once

#include <cstdint>

namespace platform {

// One message as the server sees it. The reply goes back to the sender when the handler
// answers; a handler that does not answer holds the sender until it gives up (its timeout).
struct ServerMessage {
  std::uint32_t msg;
  std::uint32_t wParam;
  std::uint32_t lParam;
  std::uint32_t senderPid;  // 0 where the platform does not tell (Win32)
  // The sender's connection (POSIX): a number no other connection of this window gets, for as
  // long as it lasts. What the handler looks up for an atom of this connection's messages it
  // may keep until the connection ends (see SetServerConnectionEnd) or a message names another
  // atom. 0 where there are no connections (Win32): then nothing may be kept.
  std::uint32_t connection = 0;
};

// Called on the serving thread for each message, one at a time; returns true and sets *reply to
// answer. Win32 hands it registered messages (0xC000 and up) and WM_USER..0xBFFF only, POSIX
// every message.
using ServerHandler = bool (*)(void* context, const ServerMessage& message, std::uint32_t* reply);

struct ServerWindow;

// Called on the serving thread when a connection that carried at least one message ends.
using ServerConnectionEnd = void (*)(void* context, std::uint32_t connection);

// Creates the window of `className`, served by `handler` with `context`.
// Returns  the window; null on failure.
// Errors   kErrorClassAlreadyExists: a live window of that class exists (in any process).
//          kErrorInvalidParameter: handler null; Win32 also className null, empty or of 256
//          characters or more.
//          POSIX: kErrorInvalidName for a class name that cannot be a file of R;
//          kErrorNotEnoughMemory when this process serves 8 windows; the codes of
//          posix_window_socket.h's WindowSocketAddress; the errno's code of a failed call.
// Thread   the one that will run and destroy it.
// Blocks   no (POSIX: briefly holds a lock on R/windows shared by all creators).
ServerWindow* CreateServerWindow(const char* className, ServerHandler handler, void* context);

// Has `end` called (with the window's context) as each connection of the window ends; null:
// nothing is called. POSIX only: Win32 has no connections and never calls it.
// Thread   the one that runs the window, before RunServerWindow.   Blocks  no.
void SetServerConnectionEnd(ServerWindow* window, ServerConnectionEnd end);

// Serves messages on the calling thread, one message at a time, until RequestServerStop; Win32
// also on WM_CLOSE (a console Ctrl-C, Ctrl-Break or close posts one) and on WM_QUIT, which it
// posts again for an outer loop.
// POSIX serves up to 16 connections at once, each carrying its sender's messages one after the
// other; more senders wait to be accepted until one ends. A connection that sends nothing
// within 2 s of its start, or sends a malformed packet, is dropped.
// A message the handler does not answer: POSIX holds that sender until it gives up (and ends
// its connection) and serves the others meanwhile; Win32 holds the window procedure, and with
// it every later sender, until a stop is requested.
// Returns  true once stopped; false on an operating-system error. `window` must not be null
//          (POSIX: false with kErrorInvalidParameter).
// Errors   POSIX: the errno's code of a failed poll or accept. Win32: GetMessage's code.
// Thread   the one that created the window.
// Blocks   until stopped.
bool RunServerWindow(ServerWindow* window);

// Ends RunServerWindow soon (POSIX: at once; Win32: within 20 ms of a held message). Null does
// nothing. No result; errno and LastError unchanged (POSIX).
// Thread   any, and from a signal handler.   Blocks  no.
void RequestServerStop(ServerWindow* window);

// True once a stop has been requested (Win32: also a console stop); a handler that holds a
// sender on purpose polls it. `window` is one of CreateServerWindow.
// Thread   any.   Blocks  no.
bool ServerStopRequested(const ServerWindow* window);

// Closes the window and removes what it left in the system: Win32 its window class, POSIX its
// socket file (only if it is still the one this window bound). Null does nothing.
// Thread   the one that created it, after RunServerWindow has returned.   Blocks  no.
void DestroyServerWindow(ServerWindow* window);

}  // namespace platform
