/* The floor of the bridge's window on GTK: the same widgets at the same places, and a 50 ms
 * GLib timer that does nothing. Runs until killed. */
#include "bare_gtk_widgets.h"

static gboolean tick(gpointer data) {
  (void)data;
  return G_SOURCE_CONTINUE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  BareGtkWidgets widgets;
  bare_gtk_widgets_show("bare GTK window", &widgets);
  g_timeout_add(50, tick, NULL);
  gtk_main();
  return 0;
}
