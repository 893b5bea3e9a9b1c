// What the GTK 3 backend shows of its native side, for programs that check the real window.
// User-interface thread.
#pragma once

#include "platform/toolkit.h"

// The allocation of a control's native widget in its form's client area, in pixels. False when
// the control has no native widget or GTK has not laid it out yet.
bool GtkToolkitAllocation(const TControl& control, int& left, int& top, int& width, int& height);
