#include "platform/gtk/gtk_stop_signals.h"

#include <glib-unix.h>

#include <csignal>

#include "platform/toolkit.h"
#include "platform/toolkit_backend.h"

namespace {

gboolean OnStopSignal(gpointer) {
  ToolkitGuard([] {
    if (Application->MainForm != nullptr) {
      Application->MainForm->Close();
    } else {
      Application->Terminate();
    }
  });
  return G_SOURCE_CONTINUE;  // a second signal closes again (the close is never refused)
}

}  // namespace

void GtkCloseOnStopSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(signal, OnStopSignal, nullptr);
}
