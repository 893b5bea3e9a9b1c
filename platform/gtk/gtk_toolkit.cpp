// The toolkit on GTK 3: one GtkWindow per form, its controls placed absolutely in a GtkFixed at
// the design's client-area coordinates.
#include "platform/gtk/gtk_toolkit.h"
#include "platform/gtk/gtk_stop_signals.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/toolkit_backend.h"

namespace {

struct ControlPeer : TControlPeer {
  GtkWidget* Outer = nullptr;  // what sits in the GtkFixed
  GtkWidget* Inner = nullptr;  // what takes the focus and the content
  std::size_t LinesShown = 0;  // memo: lines put into the buffer

  void StateChanged(const TControl& control) override;
  void LineAdded(const TControl& control, const std::string& line) override;
};

struct FormPeer : TFormPeer {
  GtkWidget* Window = nullptr;
  GtkWidget* Fixed = nullptr;
  GtkCssProvider* Css = nullptr;
  bool OuterSizeFixed = false;
  bool HadFocus = false;
  guint ActivationCheck = 0;  // the pending CheckActivation source

  void StateChanged(const TControl& control) override;
};

FormPeer* FormPeerOf(const TForm* form) {
  return static_cast<FormPeer*>(ToolkitFormPeer(form));
}

ControlPeer* ControlPeerOf(const TControl& control) {
  return static_cast<ControlPeer*>(ToolkitControlPeer(control));
}

bool Initialized = false;
std::atomic<bool> WakeRequested{false};

// The timed wait's end: a timerfd on CLOCK_MONOTONIC (the clock of platform/clock.h, and
// GLib's), armed to the microsecond for each timed wait and watched by one source of ours. A
// GLib timeout would round the wait up to a whole millisecond past its moment, and re-arming
// one wakes the main context each time. Watched only while armed, by its poll record's events,
// which GLib reads afresh at each iteration.
GSource* WakeSource = nullptr;
GPollFD WakePoll = {-1, 0, 0};
bool WakeTimeCame = false;

void EnsureInitialized() {
  if (Initialized) return;
  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "GTK: cannot open the display \"%s\"\n", display ? display : "");
    std::exit(1);
  }
  Initialized = true;
  GtkCloseOnStopSignals();
}

// ---- The peers mirror the portable state ----

void ShowMemoText(ControlPeer& peer, const TMemo& memo) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(peer.Inner));
  std::string text;
  for (std::size_t i = 0; i < memo.Lines.Count(); ++i) {
    if (i > 0) text += '\n';
    text += memo.Lines[i];
  }
  gtk_text_buffer_set_text(buffer, text.c_str(), static_cast<int>(text.size()));
  peer.LinesShown = memo.Lines.Count();
}

void ControlPeer::StateChanged(const TControl& control) {
  gtk_widget_set_sensitive(Outer, control.Enabled());
  if (auto* memo = dynamic_cast<const TMemo*>(&control)) {
    ShowMemoText(*this, *memo);
  } else if (dynamic_cast<const TButton*>(&control) != nullptr) {
    gtk_button_set_label(GTK_BUTTON(Inner), control.Caption().c_str());
  } else if (dynamic_cast<const TLabel*>(&control) != nullptr) {
    gtk_label_set_text(GTK_LABEL(Inner), control.Caption().c_str());
  } else if (auto* bar = dynamic_cast<const TTrackBar*>(&control)) {
    gtk_range_set_value(GTK_RANGE(Inner), bar->Position());
  }
}

void ControlPeer::LineAdded(const TControl&, const std::string& line) {
  // Appended to what the buffer holds, typing included, like an edit control's log.
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(Inner));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  if (LinesShown > 0 || gtk_text_buffer_get_char_count(buffer) > 0) {
    gtk_text_buffer_insert(buffer, &end, "\n", 1);
  }
  gtk_text_buffer_insert(buffer, &end, line.c_str(), static_cast<int>(line.size()));
  ++LinesShown;
  GtkTextMark* mark = gtk_text_buffer_get_insert(buffer);
  gtk_text_buffer_place_cursor(buffer, &end);
  gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(Inner), mark);
}

void FormPeer::StateChanged(const TControl& control) {
  gtk_window_set_title(GTK_WINDOW(Window), control.Caption().c_str());
  gtk_widget_set_sensitive(Fixed, control.Enabled());
}

// ---- Signals ----

void OnButtonClicked(GtkButton*, gpointer data) {
  auto* button = static_cast<TButton*>(data);
  ToolkitGuard([button] { button->Click(); });
}

void OnScaleMoved(GtkRange* range, gpointer data) {
  auto* bar = static_cast<TTrackBar*>(data);
  bar->PositionMovedByUser(static_cast<int>(std::lround(gtk_range_get_value(range))));
}

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  auto* form = static_cast<TForm*>(data);
  ToolkitGuard([form] { form->Close(); });
  return TRUE;  // the toolkit hides the window itself when the close is allowed
}

// X reports a window's focus in bursts (in, out, in within a millisecond while it maps): the
// state is read once the burst has been handled, and only a change is reported. A window that
// never had the focus cannot lose it, so the activation counted at the first showing stays.
gboolean CheckActivation(gpointer data) {
  auto* peer = static_cast<FormPeer*>(data);
  peer->ActivationCheck = 0;
  if (gtk_window_is_active(GTK_WINDOW(peer->Window))) {
    peer->HadFocus = true;
    if (ToolkitAppActivation(true)) ToolkitFormActivated(*peer->Form);
  } else if (peer->HadFocus) {
    ToolkitAppActivation(false);
  }
  return G_SOURCE_REMOVE;
}

gboolean OnFocusChanged(GtkWidget*, GdkEvent*, gpointer data) {
  auto* peer = static_cast<FormPeer*>(data);
  if (peer->ActivationCheck == 0) {
    peer->ActivationCheck = g_idle_add_full(G_PRIORITY_HIGH_IDLE, CheckActivation, peer, nullptr);
  }
  return FALSE;
}

// The design gives the outer size; GTK sizes the client area. Once the window manager's frame
// is known, the client area shrinks by it.
gboolean OnMapped(GtkWidget* widget, GdkEvent*, gpointer data) {
  auto* peer = static_cast<FormPeer*>(data);
  if (peer->OuterSizeFixed) return FALSE;
  peer->OuterSizeFixed = true;
  GdkWindow* gdkWindow = gtk_widget_get_window(widget);
  GdkRectangle frame;
  gdk_window_get_frame_extents(gdkWindow, &frame);
  int frameWidth = frame.width - gdk_window_get_width(gdkWindow);
  int frameHeight = frame.height - gdk_window_get_height(gdkWindow);
  if (frameWidth > 0 || frameHeight > 0) {
    gtk_window_resize(GTK_WINDOW(widget), std::max(1, peer->Form->Width - frameWidth),
                      std::max(1, peer->Form->Height - frameHeight));
  }
  return FALSE;
}

gboolean PrepareWake(GSource*, gint* timeout) {
  *timeout = -1;
  return FALSE;
}

gboolean CheckWake(GSource*) {
  return (WakePoll.revents & G_IO_IN) != 0;
}

// The time has come: no longer watched until the next timed wait arms it again.
gboolean DispatchWake(GSource*, GSourceFunc, gpointer) {
  WakePoll.events = 0;
  WakeTimeCame = true;
  return G_SOURCE_CONTINUE;
}

GSourceFuncs WakeFuncs = {PrepareWake, CheckWake, DispatchWake, nullptr, nullptr, nullptr};

void ArmWake(std::uint32_t timeoutMs) {
  if (WakeSource == nullptr) {
    WakePoll.fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (WakePoll.fd < 0) {
      std::perror("GTK: cannot make the loop's timer");
      std::exit(1);
    }
    WakeSource = g_source_new(&WakeFuncs, sizeof(GSource));
    // A source that may not recurse is blocked around its dispatch: its poll record taken out
    // and put back, each of which wakes the main context (an eventfd write, and one more poll
    // to read it). Ours does nothing that could recurse.
    g_source_set_can_recurse(WakeSource, TRUE);
    g_source_add_poll(WakeSource, &WakePoll);
    g_source_attach(WakeSource, nullptr);
  }
  // The millisecond the clock reads now, moved on by the wait: its first microsecond.
  const gint64 dueMs = g_get_monotonic_time() / 1000 + timeoutMs;
  itimerspec due{};
  due.it_value.tv_sec = static_cast<time_t>(dueMs / 1000);
  due.it_value.tv_nsec = static_cast<long>(dueMs % 1000) * 1000000L;
  timerfd_settime(WakePoll.fd, TFD_TIMER_ABSTIME, &due, nullptr);  // also clears a past expiry
  WakePoll.events = G_IO_IN;
  WakePoll.revents = 0;
}

// GtkFixed gives each child at least its minimum size, and GTK's themes make buttons and
// sliders larger than the design. The design's sizes win: each fixed-size control gets exactly
// its rectangle after GtkFixed has placed it.
void OnFixedAllocated(GtkWidget* fixed, GdkRectangle* area, gpointer data) {
  auto* form = static_cast<FormPeer*>(data);
  (void)fixed;
  for (TControlPeer* peer : form->Controls) {
    const TControl& c = *peer->Control;
    auto* label = dynamic_cast<const TLabel*>(&c);
    if (label != nullptr && label->AutoSize) continue;
    GtkAllocation exact = {area->x + c.Left, area->y + c.Top, c.Width, c.Height};
    gtk_widget_size_allocate(static_cast<ControlPeer*>(peer)->Outer, &exact);
  }
}

// ---- Building the native window ----

GtkWidget* NewMemo(TMemo& memo, ControlPeer& peer) {
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view),
                              memo.WordWrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), !memo.ReadOnly);
  // Scrollable by the caret, but without scroll bars and without growing with its text.
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_EXTERNAL,
                                 GTK_POLICY_EXTERNAL);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  peer.Inner = view;
  return scroller;
}

GtkWidget* NewButton(TButton& button, ControlPeer& peer) {
  GtkWidget* widget = gtk_button_new_with_label(button.Caption().c_str());
  g_signal_connect(widget, "clicked", G_CALLBACK(OnButtonClicked), &button);
  peer.Inner = widget;
  return widget;
}

GtkWidget* NewLabel(TLabel& label, ControlPeer& peer) {
  GtkWidget* widget = gtk_label_new(label.Caption().c_str());
  bool centred = label.Alignment == TTextAlign::Center;
  gtk_label_set_xalign(GTK_LABEL(widget), centred ? 0.5f : 0.0f);
  gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
  gtk_label_set_justify(GTK_LABEL(widget), centred ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
  gtk_label_set_line_wrap(GTK_LABEL(widget), label.WordWrap);
  peer.Inner = widget;
  return widget;
}

GtkPositionType MarkSide(const TTrackBar& bar, bool first) {
  bool vertical = bar.Orientation == TTrackBarOrientation::Vertical;
  bool topLeft =
      bar.TickMarks == TTickMarks::TopLeft || (bar.TickMarks == TTickMarks::Both && first);
  if (vertical) return topLeft ? GTK_POS_LEFT : GTK_POS_RIGHT;
  return topLeft ? GTK_POS_TOP : GTK_POS_BOTTOM;
}

GtkWidget* NewTrackBar(TTrackBar& bar, ControlPeer& peer) {
  bool vertical = bar.Orientation == TTrackBarOrientation::Vertical;
  int min = bar.Min, max = std::max(bar.Min, bar.Max);
  // A vertical GtkScale runs from its minimum at the top, as the native slider does.
  GtkWidget* widget =
      gtk_scale_new_with_range(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                               min, max > min ? max : min + 1, 1);
  gtk_scale_set_draw_value(GTK_SCALE(widget), FALSE);
  gtk_range_set_round_digits(GTK_RANGE(widget), 0);
  if (bar.Frequency > 0) {
    for (long long v = min; v <= max; v += bar.Frequency) {
      gtk_scale_add_mark(GTK_SCALE(widget), static_cast<double>(v), MarkSide(bar, true), nullptr);
      if (bar.TickMarks == TTickMarks::Both) {
        gtk_scale_add_mark(GTK_SCALE(widget), static_cast<double>(v), MarkSide(bar, false),
                           nullptr);
      }
    }
  }
  gtk_range_set_value(GTK_RANGE(widget), bar.Position());
  g_signal_connect(widget, "value-changed", G_CALLBACK(OnScaleMoved), &bar);
  peer.Inner = widget;
  return widget;
}

void AddControl(FormPeer& form, TControl& control) {
  auto* peer = new ControlPeer;
  bool fixedSize = true;
  if (auto* memo = dynamic_cast<TMemo*>(&control)) {
    peer->Outer = NewMemo(*memo, *peer);
  } else if (auto* button = dynamic_cast<TButton*>(&control)) {
    peer->Outer = NewButton(*button, *peer);
  } else if (auto* label = dynamic_cast<TLabel*>(&control)) {
    peer->Outer = NewLabel(*label, *peer);
    fixedSize = !label->AutoSize;
  } else if (auto* bar = dynamic_cast<TTrackBar*>(&control)) {
    peer->Outer = NewTrackBar(*bar, *peer);
  } else {
    delete peer;
    return;
  }
  gtk_widget_set_name(peer->Outer, control.Name.c_str());
  if (fixedSize) gtk_widget_set_size_request(peer->Outer, control.Width, control.Height);
  gtk_fixed_put(GTK_FIXED(form.Fixed), peer->Outer, control.Left, control.Top);
  ToolkitAddControlPeer(form, control, peer);
  peer->StateChanged(control);
}

void SetFocusChain(FormPeer& form) {
  GList* chain = nullptr;
  for (const TTabStop& stop : ToolkitTabOrder(*form.Form)) {
    ControlPeer* peer = ControlPeerOf(*stop.Control);
    if (stop.TakesFocus && peer != nullptr) chain = g_list_append(chain, peer->Outer);
  }
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(form.Fixed), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);
}

void ApplyFont(FormPeer& peer) {
  std::string css = "* { font-family: \"" + peer.Form->FontName +
                    "\", sans-serif; font-size: " + std::to_string(peer.Form->FontPoints) +
                    "pt; }\nbutton { padding: 0 4px; min-height: 0; min-width: 0; }\n";
  peer.Css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(peer.Css, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(peer.Window),
                                            GTK_STYLE_PROVIDER(peer.Css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

FormPeer& CreateFormPeer(TForm& form) {
  auto* peer = new FormPeer;
  peer->Window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  ToolkitAddFormPeer(form, peer);
  GtkWindow* window = GTK_WINDOW(peer->Window);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_window_set_wmclass(window, form.ClassName.c_str(), form.ClassName.c_str());
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_window_set_resizable(window, TRUE);
  gtk_window_set_gravity(window, GDK_GRAVITY_NORTH_WEST);
  gtk_window_move(window, form.Left, form.Top);
  gtk_window_set_default_size(window, form.Width, form.Height);
  peer->Fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(peer->Window), peer->Fixed);
  g_signal_connect_after(peer->Fixed, "size-allocate", G_CALLBACK(OnFixedAllocated), peer);
  ApplyFont(*peer);
  g_signal_connect(peer->Window, "delete-event", G_CALLBACK(OnDeleteEvent), &form);
  g_signal_connect(peer->Window, "focus-in-event", G_CALLBACK(OnFocusChanged), peer);
  g_signal_connect(peer->Window, "focus-out-event", G_CALLBACK(OnFocusChanged), peer);
  g_signal_connect(peer->Window, "map-event", G_CALLBACK(OnMapped), peer);
  for (std::size_t i = 0; i < form.ComponentCount(); ++i) {
    if (auto* control = dynamic_cast<TControl*>(form.Components(i))) AddControl(*peer, *control);
  }
  SetFocusChain(*peer);
  peer->StateChanged(form);
  return *peer;
}

// Without a window manager an X server tells no window that it became active.
bool WindowSystemReportsActivation(GtkWidget* window) {
  GdkScreen* screen = gtk_widget_get_screen(window);
  if (!GDK_IS_X11_SCREEN(screen)) return true;
  return gdk_x11_screen_supports_net_wm_hint(screen,
                                             gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"));
}

}  // namespace

// ---- The backend ----

void ToolkitBackendInitialize() {
  EnsureInitialized();
}

bool ToolkitBackendShowForm(TForm& form) {
  EnsureInitialized();
  FormPeer* peer = FormPeerOf(&form);
  if (peer == nullptr) peer = &CreateFormPeer(form);
  gtk_widget_show_all(peer->Window);
  gtk_window_present(GTK_WINDOW(peer->Window));
  if (form.ActiveControl != nullptr) {
    if (ControlPeer* focus = ControlPeerOf(*form.ActiveControl))
      gtk_widget_grab_focus(focus->Inner);
  }
  return WindowSystemReportsActivation(peer->Window);
}

void ToolkitBackendHideForm(TForm& form) {
  if (FormPeer* peer = FormPeerOf(&form)) gtk_widget_hide(peer->Window);
}

void ToolkitBackendDestroyWindow(TFormPeer& form) {
  auto& peer = static_cast<FormPeer&>(form);
  if (peer.ActivationCheck != 0) g_source_remove(peer.ActivationCheck);
  gtk_style_context_remove_provider_for_screen(gtk_widget_get_screen(peer.Window),
                                               GTK_STYLE_PROVIDER(peer.Css));
  g_object_unref(peer.Css);
  gtk_widget_destroy(peer.Window);  // and the widgets in it
}

void ToolkitBackendDestroyWidget(TControlPeer& control) {
  gtk_widget_destroy(static_cast<ControlPeer&>(control).Outer);
}

bool ToolkitBackendDispatchPending() {
  if (!Initialized) return false;
  return g_main_context_iteration(nullptr, FALSE);
}

bool ToolkitBackendWait(std::uint32_t timeoutMs) {
  EnsureInitialized();
  WakeTimeCame = false;
  if (timeoutMs != kToolkitWaitForever) ArmWake(timeoutMs);
  // One iteration is the wait; a wake without anything to dispatch (ToolkitBackendWake from
  // another thread) ends it too.
  while (!WakeRequested.exchange(false) && !g_main_context_iteration(nullptr, TRUE)) {
  }
  WakePoll.events = 0;  // an event ended the wait first: the timer is not watched meanwhile
  return WakeTimeCame;
}

void ToolkitBackendWake() {
  WakeRequested = true;
  g_main_context_wakeup(nullptr);
}

void ToolkitBackendRunBegins() {
  EnsureInitialized();
}

void ToolkitBackendRunEnded() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

void ToolkitBackendMessageBox(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  if (!Initialized) return;
  GtkWindow* parent = nullptr;
  if (FormPeer* peer = FormPeerOf(Application->MainForm)) parent = GTK_WINDOW(peer->Window);
  GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                          GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

void ToolkitBackendEchoLine(const std::string& line) {
  std::string out = line + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

// The window manager decides what comes to the front; the second copy just leaves.
void ToolkitBackendShowRunningCopy(const std::string&, const std::string&) {}

// ---- Test entry ----

bool GtkToolkitAllocation(const TControl& control, int& left, int& top, int& width, int& height) {
  ControlPeer* peer = ControlPeerOf(control);
  if (peer == nullptr || !gtk_widget_get_realized(peer->Outer)) return false;
  GtkAllocation area;
  gtk_widget_get_allocation(peer->Outer, &area);
  if (area.width <= 1 && area.height <= 1) return false;
  // GtkFixed has no window of its own: child allocations are in the toplevel's coordinates,
  // the client area.
  left = area.x;
  top = area.y;
  width = area.width;
  height = area.height;
  return true;
}
