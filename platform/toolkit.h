// The window toolkit: portable control objects that hold their state (lines, caption, enabled,
// position) and mirror it into a native peer when one exists. Backends: Win32, GTK 3 and none
// (headless, for tests). All of it lives on the user-interface thread: nothing here may be called
// from another (a backend's ToolkitBackendWake and the headless NullToolkitPost are the only
// exceptions, see toolkit_backend.h and null/null_toolkit.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TControl;

// The native side of a control, created by the backend when the form is shown. The portable
// object calls it after every change of its state.
class TPeer {
 public:
  virtual ~TPeer() = default;
  virtual void StateChanged(const TControl& control) = 0;
  // A line appended to a memo; the default rewrites the whole text through StateChanged.
  virtual void LineAdded(const TControl& control, const std::string& line);
};

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// A component owned by another: the owner destroys what it owns, in reverse order of creation,
// so an owned component is created with new. One destroyed earlier leaves its owner's list.
// While a form is being built from its design every component it owns is Loading (also those
// created while it is Loading); when the design has been applied each gets Loaded().
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  bool Loading() const { return loading_; }
  bool Designing() const { return false; }  // no form designer in this program
  void BeginLoading();                      // marks this and what it owns as Loading
  void EndLoading();                        // clears Loading, then Loaded() on each
  virtual void Loaded() {}
  // What this owns, in order of creation.
  std::size_t ComponentCount() const { return owned_.size(); }
  TComponent* Components(std::size_t index) const { return owned_[index]; }

 protected:
  // Destroys what this owns, newest first; for owners whose members the owned still use.
  void DestroyComponents();

 private:
  TComponent* owner_;
  std::vector<TComponent*> owned_;
  bool loading_ = false;
};

class TControl : public TComponent {
 public:
  using TComponent::TComponent;
  ~TControl() override;  // the backend drops the native peer first
  std::string Name;
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int TabOrder = 0;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);

  // Attached by the backend; the control does not own it.
  TPeer* Peer = nullptr;

 protected:
  void Changed();

 private:
  bool enabled_ = true;
  std::string caption_;
};

// The lines of a memo. Lines are only ever appended.
class TStrings {
 public:
  explicit TStrings(TControl& owner) : owner_(owner) {}
  void Add(const std::string& line);
  std::size_t Count() const { return lines_.size(); }
  const std::string& operator[](std::size_t index) const { return lines_[index]; }
  const std::vector<std::string>& All() const { return lines_; }
  // The lines joined by "\r\n", as a native edit control holds them.
  std::string Text() const;
  // Told of each line once it is added, before the native control shows it and the echo (the
  // program's log file: whoever sees the line finds it in the file).
  std::function<void(const std::string& line)> OnAdd;

 private:
  TControl& owner_;
  std::vector<std::string> lines_;
};

class TMemo : public TControl {
 public:
  using TControl::TControl;
  TStrings Lines{*this};
  bool WordWrap = true;
  bool ReadOnly = false;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  TNotifyEvent OnClick;
  // What a press of the button does: OnClick, if the button is enabled.
  void Click();
};

enum class TTextAlign { Left, Center };

class TLabel : public TControl {
 public:
  using TControl::TControl;
  bool AutoSize = true;
  bool WordWrap = false;
  TTextAlign Alignment = TTextAlign::Left;
};

enum class TTrackBarOrientation { Horizontal, Vertical };
enum class TTickMarks { TopLeft, BottomRight, Both };

class TTrackBar : public TControl {
 public:
  using TControl::TControl;
  int Min = 0, Max = 10;
  int Frequency = 1;
  TTrackBarOrientation Orientation = TTrackBarOrientation::Horizontal;
  TTickMarks TickMarks = TTickMarks::BottomRight;

  int Position() const { return position_; }
  // Positions outside Min..Max show at the nearer end, as a native slider does.
  void SetPosition(int position);
  // The user moved the native slider: the position follows it, the peer is not told again.
  void PositionMovedByUser(int position);

 private:
  int position_ = 0;
};

// A message of the application's own window, as the message hooks see it.
struct TMessage {
  std::uint32_t Msg;
  std::uintptr_t WParam;
  std::intptr_t LParam;
  std::intptr_t Result;
};

// The application's window is told when the application becomes active and inactive.
inline constexpr std::uint32_t kAppActivateMessage = 0xB000;
inline constexpr std::uint32_t kAppDeactivateMessage = 0xB001;

using TIdleEvent = std::function<void(TObject* sender, bool& done)>;
// Sees every message of the application window before default handling; true consumes it.
using TMessageHook = std::function<bool(TMessage& message)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

// Win32: each control's window has a fixed control ID, so another process can find it with
// GetDlgItem: Memo1 1001, Button1 1002, Button2 1003, TrackBar1 1004, TrackBar2 1005,
// Label1..Label9 1011..1019 (by Name); any other control 1100 + its index among the form's
// components. The form's window class is ClassName.
// A top-level window; its controls are the TControls it owns. Left, Top, Width and Height are
// the outer geometry on the screen; the controls are placed in its client area.
class TForm : public TControl {
 public:
  using TControl::TControl;
  TNotifyEvent OnCreate;
  TNotifyEvent OnActivate;
  TCloseQueryEvent OnCloseQuery;
  std::string ClassName = "TForm";  // the native window class (Win32) or X11 class (GTK)
  std::string FontName = "MS Sans Serif";
  int FontPoints = 8;
  TControl* ActiveControl = nullptr;  // initial keyboard focus

  // Asks OnCloseQuery; when allowed, the window closes (the main form's close ends Run).
  void Close();
};

class TApplication : public TComponent {
 public:
  TApplication() : TComponent(nullptr) {}
  ~TApplication() override;  // destroys its forms while the hooks and handlers still exist
  // Connects to the window system (GTK: the display; exits with a message when there is none).
  void Initialize();
  std::string Title;
  TForm* MainForm = nullptr;

  // Builds the form with `build` (which creates and sets up its controls while the form is
  // Loading), ends its loading, makes it the main form if it is the first, and runs OnCreate.
  void CreateForm(TForm* form, const std::function<void(TForm&)>& build);
  // Shows the main form, then the message loop until the main form has closed or Terminate:
  // blocks for the program's life. Errors escaping a handler or the idle event are shown with
  // ShowException; the loop goes on. The native windows are destroyed when it returns.
  void Run();
  void Terminate();  // user-interface thread
  bool Terminated() const { return terminated_; }

  // The single idle-handler slot, called whenever the message queue is empty.
  TIdleEvent OnIdle;
  // An idle handler that leaves done false may say when it next needs to run: the loop then
  // waits for a message until that moment instead of calling it again at once. The moment is
  // counted on the millisecond clock of platform/clock.h: the wait ends as the clock, read at
  // the call, has moved on by `milliseconds`, so a handler that measures with that clock finds
  // exactly that many elapsed, however far into its millisecond it asked.
  // The hint is forgotten before each idle call.
  void IdleWakeAfter(std::uint32_t milliseconds) {
    idleWakeAfter_ = milliseconds;
    idleWakeGiven_ = true;
  }
  bool IdleWakeGiven() const { return idleWakeGiven_; }
  std::uint32_t IdleWakeHint() const { return idleWakeAfter_; }

  void HookMainWindow(TMessageHook* hook);
  void UnhookMainWindow(TMessageHook* hook);
  // Delivers a message to the application window: the hooks, then default handling
  // (kAppActivateMessage / kAppDeactivateMessage set Active()).
  void Perform(TMessage& message);
  bool Active() const { return active_; }

  // The error report: a message box with the text under Title (on Linux also on stderr). Modal:
  // returns once the user has closed the box (headless: at once).
  void ShowException(const std::string& text);

  // Another copy of this program runs: brings its main form, of window class `formClass`, to
  // the front, restored when its application is minimized, as far as the window system lets one
  // program raise another's window (best effort, never an error). The other copy is found by
  // Title. Win32 does it; GTK and headless do nothing. Needs no Initialize. Waits at most about
  // 2 s for a busy copy.
  void ShowRunningCopy(const std::string& formClass);

 private:
  bool terminated_ = false;
  bool active_ = false;
  std::uint32_t idleWakeAfter_ = 0;
  bool idleWakeGiven_ = false;
  std::vector<TMessageHook*> hooks_;
  friend struct TApplicationAccess;  // the backends' view of the loop state
};

extern TApplication* Application;
