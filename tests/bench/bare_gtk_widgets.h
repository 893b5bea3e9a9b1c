/* The bridge's window on GTK without the bridge, for the floors: the same widgets at the same
 * places. */
#pragma once

#include <gtk/gtk.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  GtkWidget* window;
  GtkWidget* bank;      /* the horizontal slider, -512..512 */
  GtkWidget* pitch;     /* the vertical one */
  GtkWidget* autopilot; /* the autopilot's line */
} BareGtkWidgets;

/* Builds the window (gtk_init done) and shows it. */
void bare_gtk_widgets_show(const char* title, BareGtkWidgets* out);

#ifdef __cplusplus
}
#endif
