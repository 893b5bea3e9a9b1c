// What the portable toolkit (toolkit.cpp) asks of a window-system backend, and what it offers
// back to one. Exactly one backend is linked into a program, as an object library directly into
// the executable: korvan_toolkit_null (headless), or korvan_toolkit_native (GTK 3 on Linux,
// Win32 on Windows). Every function here runs on the user-interface thread unless it says
// otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/toolkit.h"

// ---- The native peers: the backend makes them, the portable toolkit keeps them ----

struct TFormPeer;

// The native widget of a control. The backend derives its own and lists it with
// ToolkitAddControlPeer.
struct TControlPeer : TPeer {
  TControl* Control = nullptr;
  TFormPeer* Form = nullptr;
};

// The native window of a form, with the peers of its controls in the order they were listed.
// The backend derives its own and lists it with ToolkitAddFormPeer.
struct TFormPeer : TPeer {
  TForm* Form = nullptr;
  std::vector<TControlPeer*> Controls;
};

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

// A form's native window goes, and with it the widgets of its controls: the form is destroyed,
// or the loop has ended. Its control peers are already detached and deleted, and the toolkit
// deletes the form's peer after this. Only for a peer the backend listed.
void ToolkitBackendDestroyWindow(TFormPeer& form);

// A control is destroyed while its form's window stays: its native widget goes. The toolkit has
// taken the peer off its form's list and deletes it after this.
void ToolkitBackendDestroyWidget(TControlPeer& control);

// Dispatches the native events pending now, without waiting. Returns true when at least one was
// dispatched. Handlers it calls run inside it.
bool ToolkitBackendDispatchPending();

// Waits until a native event is pending, ToolkitBackendWake is called, or the millisecond clock
// of platform/clock.h has moved on by `timeoutMs` from its reading now (kToolkitWaitForever: no
// limit): the wait ends as that millisecond begins, not `timeoutMs` after this moment within
// the current one. Never spins. A backend may dispatch the events that end the wait (GTK does:
// one main-context iteration is the wait).
// Returns true when the time came (the loop then calls the idle handler without looking for
// events first: the wait has just looked); false for an event, a wake or no limit.
inline constexpr std::uint32_t kToolkitWaitForever = 0xFFFFFFFFu;
bool ToolkitBackendWait(std::uint32_t timeoutMs);

// Ends a ToolkitBackendWait in progress or makes the next one return at once. Any thread.
void ToolkitBackendWake();

// The message loop starts / has ended; at the end the toolkit has destroyed every native window
// already (the portable objects stay). Win32 raises the scheduler precision in between.
void ToolkitBackendRunBegins();
void ToolkitBackendRunEnded();

// The application's error report: a modal message box with `text` under `title`. Linux
// backends also write the text to standard error.
void ToolkitBackendMessageBox(const std::string& title, const std::string& text);

// TApplication::ShowRunningCopy: the other copy's application window is the one titled
// `title`, its main form the window of class `formClass` it owns. Nothing on GTK and headless.
void ToolkitBackendShowRunningCopy(const std::string& title, const std::string& formClass);

// A line added to a memo. Linux backends write it to standard error as one line; Win32 does
// nothing.
void ToolkitBackendEchoLine(const std::string& line);

// ---- Offered by the portable toolkit to the backends ----

// Lists the new native window of `form` as its Peer, and the new native widget of `control` on
// `form`'s window as its Peer. From here the toolkit owns the peer: it deletes it when its control
// is destroyed (after ToolkitBackendDestroyWidget or ToolkitBackendDestroyWindow) or when the loop
// ends.
void ToolkitAddFormPeer(TForm& form, TFormPeer* peer);
void ToolkitAddControlPeer(TFormPeer& form, TControl& control, TControlPeer* peer);

// The peer the backend listed for `form` / `control`, or null: none, or a peer of another kind
// (a test's own).
TFormPeer* ToolkitFormPeer(const TForm* form);
TControlPeer* ToolkitControlPeer(const TControl& control);

// The controls of a form in keyboard order: those that take the focus (every kind but a label)
// by TabOrder, ties in order of creation, then the labels in order of creation. Index is the
// control's place among the form's components.
struct TTabStop {
  TControl* Control;
  int Index;
  bool TakesFocus;
};
std::vector<TTabStop> ToolkitTabOrder(const TForm& form);

// The application's title: Application->Title, or without one the name of the program's file
// (`programPath`, as the system gives it) without its folder and extension.
std::string ToolkitAppTitle(const std::string& programPath);

// The application is minimized as a whole: returns the form windows to hide with it, those that
// `shows` says are showing now. The toolkit keeps them (until their forms are destroyed), and
// ToolkitAppRestored returns them, once, when the application is restored, to show again.
std::vector<TFormPeer*> ToolkitAppMinimized(const std::function<bool(const TFormPeer&)>& shows);
std::vector<TFormPeer*> ToolkitAppRestored();

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
