// The headless toolkit backend: no native windows. Forms are "shown" in name only, the loop's
// wait is a plain sleep until the wake time, a posted event or Terminate, and a message box is
// recorded and written to standard error. The entries below let tests drive the loop; all of
// them run on the user-interface thread (the test's thread) except NullToolkitPost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/toolkit.h"

// Back to a fresh application: destroys the forms Application owns, forgets the main form, the
// terminate request, the active state, the idle handler and its hint, the posted events and
// the recorded message boxes.
void NullToolkitReset();

// Runs the message loop for about `milliseconds` (or until Terminate), without showing any
// form. Returns the number of idle calls it made.
std::uint64_t NullToolkitRunFor(std::uint32_t milliseconds);

// One pass of the loop with an empty queue: runs the posted events, then the idle handler
// with done = true. Returns the done flag the handler left.
bool NullToolkitProcessIdle();

// Queues `event` as a native event: the loop runs it on its thread and wakes for it. Any thread.
void NullToolkitPost(std::function<void()> event);

// The window system's activation report: the application becomes active (kAppActivateMessage,
// then the main form's OnActivate) or inactive (kAppDeactivateMessage). A repeated report does
// nothing.
void NullToolkitActivate(bool active);

// Whether ToolkitBackendShowForm showed the form and no allowed close has hidden it since.
bool NullToolkitFormVisible(const TForm& form);

// The message boxes shown since the last reset, the latest one's title and text.
struct NullMessageBox {
  std::string Title;
  std::string Text;
};
int NullToolkitMessageBoxCount();
NullMessageBox NullToolkitLastMessageBox();
