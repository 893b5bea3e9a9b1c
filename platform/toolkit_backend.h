// What the portable toolkit (toolkit.cpp) asks of a window-system backend, and what it offers
// back to one. Exactly one backend is linked into a program, as an object library directly into
// the executable: korvan_toolkit_null (headless), or korvan_toolkit_native (GTK 3 on Linux,
// Win32 on Windows). Every function here runs on the user-interface thread unless it says
// otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/toolkit.h"

// ---- Implemented by each backend ----

// Connects to the window system. Called by TApplication::Initialize, once; the backend also
// calls it itself before its first native call if the program never did. Failure is fatal: the
// backend writes the layer and the reason to standard error and exits with status 1.
void ToolkitBackendInitialize();

// Creates the native window of `form` and the peers of the controls it owns (if not done yet),
// then shows it. Returns true when the window system will report the window's activation
// itself; false when it will not (headless, or an X server without a window manager), and the
// toolkit then counts this showing as the activation.
bool ToolkitBackendShowForm(TForm& form);

// Hides the native window of a form whose close was allowed. Nothing when it has none.
void ToolkitBackendHideForm(TForm& form);

// The control is being destroyed: the backend destroys its native peer and sets Peer to null.
// Only called while control.Peer is not null.
void ToolkitBackendDestroyPeer(TControl& control);

// Dispatches the native events pending now, without waiting. Returns true when at least one was
// dispatched. Handlers it calls run inside it.
bool ToolkitBackendDispatchPending();

// Waits until a native event is pending, ToolkitBackendWake is called, or `timeoutMs` have
// passed (kToolkitWaitForever: no limit). Never dispatches and never spins.
inline constexpr std::uint32_t kToolkitWaitForever = 0xFFFFFFFFu;
void ToolkitBackendWait(std::uint32_t timeoutMs);

// Ends a ToolkitBackendWait in progress or makes the next one return at once. Any thread.
void ToolkitBackendWake();

// The message loop starts / has ended. Win32 raises the scheduler precision in between; every
// backend destroys its native windows at the end (the portable objects stay).
void ToolkitBackendRunBegins();
void ToolkitBackendRunEnded();

// The application's error report: a modal message box with `text` under `title`. Linux
// backends also write the text to standard error.
void ToolkitBackendMessageBox(const std::string& title, const std::string& text);

// A line added to a memo. Linux backends write it to standard error as one line; Win32 does
// nothing.
void ToolkitBackendEchoLine(const std::string& line);

// ---- Offered by the portable toolkit to the backends ----

// The window system says the application became active (true) or inactive (false): delivers
// kAppActivateMessage / kAppDeactivateMessage through TApplication::Perform when that differs
// from Application->Active(). Returns whether it delivered.
bool ToolkitAppActivation(bool active);

// The window system says `form` became the active window: its OnActivate.
void ToolkitFormActivated(TForm& form);

// Runs a handler called from the window system; an exception escaping it goes to
// Application->ShowException instead of unwinding through native frames.
void ToolkitGuard(const std::function<void()>& handler);

// The loop and its state, for backends and their test entries.
struct TApplicationAccess {
  // One pass with an empty queue: forgets the wake hint, calls OnIdle with done = true (errors
  // shown) and returns the done flag it left.
  static bool IdleOnce(TApplication& app);
  // The message loop until Terminate or, when `limitMs` is not kToolkitWaitForever, until that
  // many milliseconds have passed. Returns the number of idle calls made.
  static std::uint64_t Loop(TApplication& app, std::uint32_t limitMs);
  // Back to a fresh application: forms destroyed, no main form, not terminated, inactive, no
  // idle handler and no hint. Hooks stay: they belong to the components that set them.
  static void Reset(TApplication& app);
};
