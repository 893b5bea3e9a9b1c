/* The bridge's window on GTK without the bridge (bare_gtk_widgets.h). */
#include "bare_gtk_widgets.h"

#include "bare_window_layout.h"

static void put(GtkWidget* fixed, GtkWidget* widget, int x, int y, int width, int height) {
  gtk_widget_set_size_request(widget, width, height);
  gtk_fixed_put(GTK_FIXED(fixed), widget, x, y);
}

static GtkWidget* slider(GtkOrientation orientation) {
  GtkWidget* scale = gtk_scale_new_with_range(orientation, -512, 512, 1);
  gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
  for (int v = -512; v <= 512; v += 64)
    gtk_scale_add_mark(GTK_SCALE(scale), v,
                       orientation == GTK_ORIENTATION_VERTICAL ? GTK_POS_LEFT : GTK_POS_TOP, NULL);
  return scale;
}

void bare_gtk_widgets_show(const char* title, BareGtkWidgets* out) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_default_size(GTK_WINDOW(window), 587, 430);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(window), fixed);
  GtkWidget* memo = gtk_scrolled_window_new(NULL, NULL);
  GtkWidget* log = gtk_text_view_new();
  gtk_container_add(GTK_CONTAINER(memo), log);
  put(fixed, memo, 8, 8, 553, 161);
  put(fixed, gtk_button_new_with_label("Reconnect to Flight simulator"), 16, 184, 169, 25);
  put(fixed, gtk_button_new_with_label("Reconnect to EFIS "), 16, 216, 169, 25);
  out->bank = slider(GTK_ORIENTATION_HORIZONTAL);
  out->pitch = slider(GTK_ORIENTATION_VERTICAL);
  put(fixed, out->bank, 328, 240, 150, 41);
  put(fixed, out->pitch, 496, 184, 33, 150);
  for (int i = 0; i < kBareLabels; ++i) {
    GtkWidget* label = gtk_label_new(kBareLabel[i].text);
    gtk_fixed_put(GTK_FIXED(fixed), label, kBareLabel[i].left, kBareLabel[i].top);
    if (i == kBareAutopilotLabel) out->autopilot = label;
  }
  gtk_widget_show_all(window);
  gtk_widget_grab_focus(log); /* the bridge's log has the focus, its cursor blinking */
  out->window = window;
}
