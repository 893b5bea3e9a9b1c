// work-gtk-window [--no-efis]: the floor that does the bridge's work (work_floor.h) in the
// bridge's window on GTK, ticked by a 50 ms GLib timer. Prints "work floor ready" once it is
// connected and its window is up; runs until killed, or ends with 1 when its work fails.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "tests/bench/bare_gtk_widgets.h"
#include "tests/bench/work_floor.h"

namespace {

BareGtkWidgets Widgets;

void ShowSliders(void*, int bank, int pitch) {
  gtk_range_set_value(GTK_RANGE(Widgets.bank), bank);
  gtk_range_set_value(GTK_RANGE(Widgets.pitch), pitch);
}

void ShowCaption(void*, const char* caption) {
  gtk_label_set_text(GTK_LABEL(Widgets.autopilot), caption);
}

const workfloor::Window kWindow = {ShowSliders, ShowCaption, nullptr};

gboolean Tick(gpointer) {
  workfloor::Tick(kWindow);
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  const bool efis = !(argc == 2 && std::strcmp(argv[1], "--no-efis") == 0);
  if (argc > 2 || (argc == 2 && efis)) {
    std::fprintf(stderr, "usage: work-gtk-window [--no-efis]\n");
    return 2;
  }
  gtk_init(nullptr, nullptr);
  bare_gtk_widgets_show("work GTK window", &Widgets);
  if (!workfloor::Open(efis)) return 1;
  g_timeout_add(50, Tick, nullptr);
  std::printf("work floor ready\n");
  std::fflush(stdout);
  gtk_main();
  return 0;
}
