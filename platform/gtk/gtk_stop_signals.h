// The GTK backend's answer to the signals that ask a Linux program to end: SIGTERM (kill, a
// session's end), SIGINT (Ctrl-C in its terminal) and SIGHUP (its terminal closed). Each closes
// the main window as its close button does, so the close handler runs and the program ends
// through its normal exit, releasing the simulator link's atom and area. A signal that comes
// while a handler blocks (an exchange, a write) takes effect when the loop runs again.
// User-interface thread.
#pragma once

// Installs the handling, once; from then on the signals no longer end the process at once.
void GtkCloseOnStopSignals();
