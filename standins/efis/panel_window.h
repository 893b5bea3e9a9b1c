// korvan-efis's panel in a window (GTK 3): the instrument drawn from the frames it received,
// with buttons for the autopilot, the heading bug and the altimeter setting. Runs on the unit's
// one thread: the unit's loop pumps it between its own waits.
#pragma once

#include "standins/efis/efis_panel.h"

namespace efisunit {

// A key or a button: the same characters as the terminal's keys (KeyAction).
using PanelKeyHandler = void (*)(void* context, char key);

// Opens the window on the display. False, with a line on standard error, when there is none.
// `session` is read whenever the window draws; it must outlive the window.
bool OpenPanelWindow(const PanelSession* session, PanelKeyHandler onKey, void* context);
// Handles what the window system has for the window; never blocks.
void PumpPanelWindow();
// The session changed: the window draws again soon.
void RedrawPanelWindow();
// False once the window was closed by its user (or never opened).
bool PanelWindowOpen();
void ClosePanelWindow();

}  // namespace efisunit
