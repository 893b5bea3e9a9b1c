// The panel drawn with cairo: attitude in the middle, airspeed and altitude tapes beside it,
// vertical speed beside the altitude, heading below; GPS, the engines and the servos on the
// right. Every value comes from the session, that is from the frames the unit received.
#include <gtk/gtk.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "standins/efis/panel_window.h"

namespace efisunit {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Window {
  const PanelSession* session = nullptr;
  PanelKeyHandler onKey = nullptr;
  void* context = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  GtkWidget* autopilotButton = nullptr;
  bool open = false;
};
Window Panel;

// ---- Drawing helpers ----

void Color(cairo_t* cr, unsigned rgb, double alpha = 1) {
  cairo_set_source_rgba(cr, (rgb >> 16 & 0xFF) / 255.0, (rgb >> 8 & 0xFF) / 255.0,
                        (rgb & 0xFF) / 255.0, alpha);
}

enum class Align { Left, Center, Right };

void Print(cairo_t* cr, double x, double y, double size, Align align, const char* text,
           bool bold = false) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text, &extents);
  double left = x;
  if (align == Align::Center) left = x - extents.width / 2 - extents.x_bearing;
  if (align == Align::Right) left = x - extents.width - extents.x_bearing;
  cairo_move_to(cr, left, y);
  cairo_show_text(cr, text);
}

void Box(cairo_t* cr, double x, double y, double w, double h, unsigned fill, unsigned line) {
  cairo_rectangle(cr, x, y, w, h);
  Color(cr, fill);
  cairo_fill_preserve(cr);
  Color(cr, line);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

void Line(cairo_t* cr, double x1, double y1, double x2, double y2, double width) {
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, x1, y1);
  cairo_line_to(cr, x2, y2);
  cairo_stroke(cr);
}

// A section whose frames have not come: its place crossed out, as instruments flag it.
void NoData(cairo_t* cr, double x, double y, double w, double h, const char* what) {
  Color(cr, 0x2A2F36);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
  Color(cr, 0xD03030);
  Line(cr, x, y, x + w, y + h, 2);
  Line(cr, x + w, y, x, y + h, 2);
  Print(cr, x + w / 2, y + h / 2 + 6, 16, Align::Center, what, true);
}

// ---- The instruments ----

constexpr double kAdiX = 160, kAdiY = 50, kAdiSize = 300;
constexpr double kPixelsPerDegree = 6;

// The sky, the ground and the pitch ladder, turned with the bank and moved with the pitch.
void DrawHorizon(cairo_t* cr, double cx, double cy, const PanelReadout& r) {
  cairo_save(cr);
  cairo_rectangle(cr, kAdiX, kAdiY, kAdiSize, kAdiSize);
  cairo_clip(cr);
  cairo_translate(cr, cx, cy);
  cairo_rotate(cr, -r.bankDeg * kPi / 180);
  cairo_translate(cr, 0, r.pitchDeg * kPixelsPerDegree);
  Color(cr, 0x3C7FD0);
  cairo_rectangle(cr, -400, -800, 800, 800);
  cairo_fill(cr);
  Color(cr, 0x8A5A2E);
  cairo_rectangle(cr, -400, 0, 800, 800);
  cairo_fill(cr);
  Color(cr, 0xFFFFFF);
  Line(cr, -400, 0, 400, 0, 2);
  for (int deg = -30; deg <= 30; deg += 5) {
    if (deg == 0) continue;
    const double y = -deg * kPixelsPerDegree;
    const double half = deg % 10 == 0 ? 40 : 20;
    Line(cr, -half, y, half, y, 1.5);
    if (deg % 10 == 0) {
      char label[8];
      std::snprintf(label, sizeof label, "%d", deg < 0 ? -deg : deg);
      Print(cr, -half - 6, y + 5, 12, Align::Right, label);
      Print(cr, half + 6, y + 5, 12, Align::Left, label);
    }
  }
  cairo_restore(cr);
}

// The bank scale, fixed, and its pointer, turning with the bank.
void DrawBankScale(cairo_t* cr, double cx, double cy, const PanelReadout& r) {
  const double radius = 130;
  Color(cr, 0xFFFFFF);
  for (int deg : {-60, -45, -30, -20, -10, 0, 10, 20, 30, 45, 60}) {
    const double a = (deg - 90) * kPi / 180;
    const double inner = deg % 30 == 0 ? radius - 14 : radius - 8;
    Line(cr, cx + inner * std::cos(a), cy + inner * std::sin(a), cx + radius * std::cos(a),
         cy + radius * std::sin(a), 2);
  }
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  cairo_rotate(cr, -r.bankDeg * kPi / 180);
  Color(cr, 0xFFD200);
  cairo_move_to(cr, 0, -radius + 16);
  cairo_line_to(cr, -8, -radius + 30);
  cairo_line_to(cr, 8, -radius + 30);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_restore(cr);
}

// The aircraft, fixed.
void DrawAircraft(cairo_t* cr, double cx, double cy) {
  Color(cr, 0xFFD200);
  cairo_set_line_width(cr, 5);
  cairo_move_to(cr, cx - 70, cy);
  cairo_line_to(cr, cx - 25, cy);
  cairo_line_to(cr, cx - 12, cy + 10);
  cairo_move_to(cr, cx + 70, cy);
  cairo_line_to(cr, cx + 25, cy);
  cairo_line_to(cr, cx + 12, cy + 10);
  cairo_stroke(cr);
  cairo_arc(cr, cx, cy, 4, 0, 2 * kPi);
  cairo_fill(cr);
}

void DrawAttitude(cairo_t* cr, const PanelReadout& r) {
  if (!r.attitude) {
    NoData(cr, kAdiX, kAdiY, kAdiSize, kAdiSize, "ATT");
    return;
  }
  const double cx = kAdiX + kAdiSize / 2, cy = kAdiY + kAdiSize / 2;
  DrawHorizon(cr, cx, cy, r);
  DrawBankScale(cr, cx, cy, r);
  DrawAircraft(cr, cx, cy);
  char text[48];
  std::snprintf(text, sizeof text, "BANK %c%.1f°", r.bankDeg < 0 ? 'L' : 'R', std::fabs(r.bankDeg));
  Color(cr, 0xFFFFFF);
  Print(cr, kAdiX + 6, kAdiY + kAdiSize - 8, 13, Align::Left, text, true);
  std::snprintf(text, sizeof text, "PITCH %+.1f°", r.pitchDeg);
  Print(cr, kAdiX + kAdiSize - 6, kAdiY + kAdiSize - 8, 13, Align::Right, text, true);
}

// A vertical tape: `value` in the middle, `span` units shown, ticks every `tick`, labels every
// `label`.
void DrawTape(cairo_t* cr, double x, double w, double value, double span, int tick, int label,
              const char* title, const char* sub, bool bugShown, double bug) {
  const double y = kAdiY, h = kAdiSize, cy = y + h / 2;
  const double scale = h / span;
  Box(cr, x, y, w, h, 0x2A2F36, 0x5A6270);
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  Color(cr, 0xE0E0E0);
  const long first = static_cast<long>(std::floor((value - span / 2) / tick)) * tick;
  for (long v = first; v <= value + span / 2 + tick; v += tick) {
    const double ty = cy - (v - value) * scale;
    const bool labelled = v % label == 0;
    Line(cr, x + w - (labelled ? 14 : 8), ty, x + w, ty, 1.5);
    if (labelled) {
      char text[16];
      std::snprintf(text, sizeof text, "%ld", v);
      Print(cr, x + w - 18, ty + 5, 13, Align::Right, text);
    }
  }
  if (bugShown) {
    const double by = cy - (bug - value) * scale;
    Color(cr, 0x30D0E0);
    cairo_rectangle(cr, x + w - 6, by - 6, 6, 12);
    cairo_fill(cr);
  }
  cairo_restore(cr);
  Box(cr, x - 4, cy - 16, w + 8, 32, 0x000000, 0xFFFFFF);
  char text[16];
  std::snprintf(text, sizeof text, "%.0f", value);
  Color(cr, 0xFFFFFF);
  Print(cr, x + w / 2, cy + 8, 20, Align::Center, text, true);
  Color(cr, 0xB0B8C4);
  Print(cr, x + w / 2, y - 8, 13, Align::Center, title, true);
  Print(cr, x + w / 2, y + h + 18, 13, Align::Center, sub);
}

void DrawVerticalSpeed(cairo_t* cr, double x, const PanelReadout& r) {
  const double y = kAdiY, h = kAdiSize, cy = y + h / 2, w = 26;
  Box(cr, x, y, w, h, 0x2A2F36, 0x5A6270);
  Color(cr, 0xE0E0E0);
  for (int fpm = -2000; fpm <= 2000; fpm += 500) {
    const double ty = cy - fpm * (h / 2 - 10) / 2000.0;
    Line(cr, x, ty, x + (fpm % 1000 == 0 ? 12 : 7), ty, 1.5);
  }
  const double vs = r.verticalSpeedFpm > 2000    ? 2000
                    : r.verticalSpeedFpm < -2000 ? -2000
                                                 : r.verticalSpeedFpm;
  Color(cr, 0x40E060);
  Line(cr, x + 4, cy, x + w - 2, cy - vs * (h / 2 - 10) / 2000.0, 3);
  char text[16];
  std::snprintf(text, sizeof text, "%+d", r.verticalSpeedFpm);
  Color(cr, 0xB0B8C4);
  Print(cr, x + w / 2, y - 8, 13, Align::Center, "VS", true);
  Print(cr, x + w / 2, y + h + 18, 13, Align::Center, text);
}

void DrawHeading(cairo_t* cr, const PanelReadout& r, const Autopilot& ap) {
  const double x = kAdiX, y = kAdiY + kAdiSize + 30, w = kAdiSize, h = 44, cx = x + w / 2;
  if (!r.attitude) {
    NoData(cr, x, y, w, h, "HDG");
    return;
  }
  const double scale = w / 80.0;  // 80 degrees across
  Box(cr, x, y, w, h, 0x2A2F36, 0x5A6270);
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  Color(cr, 0xE0E0E0);
  const long first = static_cast<long>(std::floor((r.headingDeg - 45) / 5)) * 5;
  for (long d = first; d <= r.headingDeg + 45; d += 5) {
    const double tx = cx + (d - r.headingDeg) * scale;
    const long shown = ((d % 360) + 360) % 360;
    Line(cr, tx, y, tx, y + (shown % 10 == 0 ? 12 : 7), 1.5);
    if (shown % 10 == 0) {
      char text[8];
      const char* cardinal = shown == 0     ? "N"
                             : shown == 90  ? "E"
                             : shown == 180 ? "S"
                             : shown == 270 ? "W"
                                            : nullptr;
      std::snprintf(text, sizeof text, "%ld", shown / 10);
      Print(cr, tx, y + 30, 13, Align::Center, cardinal ? cardinal : text, cardinal != nullptr);
    }
  }
  if (ap.engaged && ap.headingHold) {
    double off = std::fmod(ap.headingBugDeg - r.headingDeg + 540, 360.0) - 180;
    off = off > 40 ? 40 : off < -40 ? -40 : off;
    Color(cr, 0x30D0E0);
    cairo_rectangle(cr, cx + off * scale - 7, y + h - 8, 14, 8);
    cairo_fill(cr);
  }
  cairo_restore(cr);
  Box(cr, cx - 28, y - 24, 56, 24, 0x000000, 0xFFFFFF);
  char text[16];
  std::snprintf(text, sizeof text, "%03.0f°", std::fmod(std::round(r.headingDeg) + 360, 360.0));
  Color(cr, 0xFFFFFF);
  Print(cr, cx, y - 6, 17, Align::Center, text, true);
}

void DrawEngine(cairo_t* cr, double cx, double cy, const EngineReadout& e, const char* name) {
  const double radius = 42;
  const double from = 135 * kPi / 180, sweep = 270 * kPi / 180;
  Color(cr, 0x2A2F36);
  cairo_arc(cr, cx, cy, radius + 6, 0, 2 * kPi);
  cairo_fill(cr);
  Color(cr, 0x5A6270);
  cairo_set_line_width(cr, 6);
  cairo_arc(cr, cx, cy, radius, from, from + sweep);
  cairo_stroke(cr);
  Color(cr, 0x40C060);  // the green arc: 2100 to 2700 rpm
  cairo_arc(cr, cx, cy, radius, from + sweep * 2100 / 3000, from + sweep * 2700 / 3000);
  cairo_stroke(cr);
  Color(cr, 0xB0B8C4);
  Print(cr, cx, cy - radius - 12, 13, Align::Center, name, true);
  if (!e.seen) {
    Color(cr, 0xD03030);
    Print(cr, cx, cy + 5, 14, Align::Center, "--", true);
    return;
  }
  const double rpm = e.rpm > 3000 ? 3000 : e.rpm;
  const double a = from + sweep * rpm / 3000;
  Color(cr, 0xFFFFFF);
  Line(cr, cx, cy, cx + (radius - 6) * std::cos(a), cy + (radius - 6) * std::sin(a), 3);
  char text[32];
  std::snprintf(text, sizeof text, "%d", e.rpm);
  Print(cr, cx, cy + 26, 15, Align::Center, text, true);
  Color(cr, 0xB0B8C4);
  Print(cr, cx, cy + 40, 11, Align::Center, "RPM");
  const double ty = cy + radius + 26;
  Color(cr, 0xE0E0E0);
  std::snprintf(text, sizeof text, "MAP %d hPa", e.manifoldHpa);
  Print(cr, cx, ty, 12, Align::Center, text);
  std::snprintf(text, sizeof text, "OIL %d °C %.1f bar", e.oilC, e.oilBar);
  Print(cr, cx, ty + 16, 12, Align::Center, text);
  std::snprintf(text, sizeof text, "CHT %d °C", e.cylinderHeadC);
  Print(cr, cx, ty + 32, 12, Align::Center, text);
  std::snprintf(text, sizeof text, "EGT %d °C", e.exhaustC);
  Print(cr, cx, ty + 48, 12, Align::Center, text);
}

void DrawRightColumn(cairo_t* cr, const PanelSession& s) {
  const PanelReadout& r = s.readout;
  const double x = 640;
  char text[64];
  Color(cr, 0xB0B8C4);
  Print(cr, x, 62, 13, Align::Left, "GPS", true);
  Color(cr, 0xE0E0E0);
  if (r.position) {
    std::snprintf(text, sizeof text, "%c %.5f°", r.latitudeDeg < 0 ? 'S' : 'N',
                  std::fabs(r.latitudeDeg));
    Print(cr, x, 82, 14, Align::Left, text);
    std::snprintf(text, sizeof text, "%c %.5f°", r.longitudeDeg < 0 ? 'W' : 'E',
                  std::fabs(r.longitudeDeg));
    Print(cr, x, 100, 14, Align::Left, text);
  } else {
    Color(cr, 0xD03030);
    Print(cr, x, 82, 14, Align::Left, "no position");
    Color(cr, 0xE0E0E0);
  }
  if (r.track) {
    std::snprintf(text, sizeof text, "GS %.0f kt  TRK %03.0f°", r.groundSpeedKt, r.trackDeg);
    Print(cr, x, 118, 14, Align::Left, text);
  }
  DrawEngine(cr, x + 50, 200, r.engine[0], "ENGINE 1");
  DrawEngine(cr, x + 160, 200, r.engine[1], "ENGINE 2");

  Color(cr, 0xB0B8C4);
  Print(cr, x, 348, 13, Align::Left, "SERVOS", true);
  Color(cr, 0xE0E0E0);
  std::snprintf(text, sizeof text, "sent: bank %u  pitch %u%s", s.bankPos, s.pitchPos,
                s.engagedMode ? "  mode 3" : "");
  Print(cr, x, 366, 12, Align::Left, text);
  if (s.status.seen) {
    std::snprintf(text, sizeof text, "bridge sliders: bank %d  pitch %d", -s.status.bank,
                  s.status.pitch);
  } else {
    std::snprintf(text, sizeof text, "bridge sliders: no report yet");
  }
  Print(cr, x, 384, 12, Align::Left, text);
}

void DrawTop(cairo_t* cr, const PanelSession& s, double width) {
  Color(cr, 0x1C2128);
  cairo_rectangle(cr, 0, 0, width, 28);
  cairo_fill(cr);
  char text[64];
  FormatAutopilot(s.ap, text, sizeof text);
  Color(cr, s.ap.engaged ? 0x40E060 : 0x808890);
  Print(cr, 12, 19, 15, Align::Left, text, true);
  std::snprintf(text, sizeof text, "QNH %ld.%ld hPa", s.qnhTenths / 10, s.qnhTenths % 10);
  Color(cr, 0x30D0E0);
  Print(cr, width / 2, 19, 15, Align::Center, text, true);
  Color(cr, 0x808890);
  Print(cr, width - 12, 19, 12, Align::Right, "Korvan EFIS (stand-in)");
}

gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer) {
  const PanelSession& s = *Panel.session;
  const PanelReadout& r = s.readout;
  const double width = gtk_widget_get_allocated_width(widget);
  Color(cr, 0x101418);
  cairo_paint(cr);
  DrawTop(cr, s, width);
  DrawAttitude(cr, r);
  if (r.airData) {
    char sub[24];
    std::snprintf(sub, sizeof sub, "TAS %d", r.tasMph);
    DrawTape(cr, 70, 76, r.iasMph, 80, 5, 10, "IAS mph", sub, false, 0);
    std::snprintf(sub, sizeof sub, "%s", "");
    DrawTape(cr, 478, 80, r.altitudeFt, 800, 50, 100, "ALT ft", sub, s.ap.engaged,
             s.ap.altitudeTargetFt);
    DrawVerticalSpeed(cr, 570, r);
  } else {
    NoData(cr, 70, kAdiY, 76, kAdiSize, "IAS");
    NoData(cr, 478, kAdiY, 118, kAdiSize, "ALT");
  }
  DrawHeading(cr, r, s.ap);
  DrawRightColumn(cr, s);
  return FALSE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer) {
  const guint32 c = gdk_keyval_to_unicode(event->keyval);
  if (c == 0 || c > 127 || Panel.onKey == nullptr) return FALSE;
  Panel.onKey(Panel.context, static_cast<char>(c));
  return TRUE;
}

void OnButton(GtkButton*, gpointer key) {
  if (Panel.onKey != nullptr) Panel.onKey(Panel.context, static_cast<char>(GPOINTER_TO_INT(key)));
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer) {
  Panel.open = false;
  return FALSE;  // let it be destroyed
}

void OnDestroy(GtkWidget*, gpointer) {
  Panel.open = false;
  Panel.window = nullptr;
}

GtkWidget* AddButton(GtkWidget* row, const char* label, char key) {
  GtkWidget* button = gtk_button_new_with_label(label);
  gtk_widget_set_can_focus(button, FALSE);  // keys stay with the window
  g_signal_connect(button, "clicked", G_CALLBACK(OnButton), GINT_TO_POINTER(key));
  gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);
  return button;
}

}  // namespace

bool OpenPanelWindow(const PanelSession* session, PanelKeyHandler onKey, void* context) {
  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "korvan-efis: GTK: cannot open the display \"%s\" for the panel window\n",
                 display ? display : "");
    return false;
  }
  Panel.session = session;
  Panel.onKey = onKey;
  Panel.context = context;
  Panel.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(Panel.window), "Korvan EFIS panel (korvan-efis)");
  gtk_window_set_resizable(GTK_WINDOW(Panel.window), FALSE);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  Panel.area = gtk_drawing_area_new();
  gtk_widget_set_size_request(Panel.area, 900, 450);
  g_signal_connect(Panel.area, "draw", G_CALLBACK(OnDraw), nullptr);
  gtk_box_pack_start(GTK_BOX(column), Panel.area, FALSE, FALSE, 0);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(row), 6);
  Panel.autopilotButton = AddButton(row, "Autopilot on/off (a)", 'a');
  AddButton(row, "HDG −10 ([)", '[');
  AddButton(row, "HDG +10 (])", ']');
  AddButton(row, "QNH −1 (-)", '-');
  AddButton(row, "QNH +1 (+)", '+');
  gtk_box_pack_start(GTK_BOX(column), row, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(Panel.window), column);
  g_signal_connect(Panel.window, "key-press-event", G_CALLBACK(OnKey), nullptr);
  g_signal_connect(Panel.window, "delete-event", G_CALLBACK(OnDelete), nullptr);
  g_signal_connect(Panel.window, "destroy", G_CALLBACK(OnDestroy), nullptr);
  gtk_widget_show_all(Panel.window);
  Panel.open = true;
  PumpPanelWindow();
  return true;
}

void PumpPanelWindow() {
  if (Panel.session == nullptr) return;
  for (int i = 0; i < 100 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

void RedrawPanelWindow() {
  if (Panel.open && Panel.area != nullptr) gtk_widget_queue_draw(Panel.area);
}

bool PanelWindowOpen() {
  return Panel.open;
}

void ClosePanelWindow() {
  if (Panel.window != nullptr) gtk_widget_destroy(Panel.window);
  Panel.window = nullptr;
  Panel.open = false;
  PumpPanelWindow();
}

}  // namespace efisunit
