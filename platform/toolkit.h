// The window toolkit: portable control objects that hold their state (lines, caption, enabled,
// position) and mirror it into a native peer when one exists. Backends: Win32, GTK 3 and none
// (headless, for tests). All of it lives on the user-interface thread.
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

class TControl : public TObject {
 public:
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

 private:
  TControl& owner_;
  std::vector<std::string> lines_;
};

class TMemo : public TControl {
 public:
  TStrings Lines{*this};
  bool WordWrap = true;
  bool ReadOnly = false;
};

class TButton : public TControl {
 public:
  TNotifyEvent OnClick;
  // What a press of the button does: OnClick, if the button is enabled.
  void Click();
};

enum class TTextAlign { Left, Center };

class TLabel : public TControl {
 public:
  bool AutoSize = true;
  bool WordWrap = false;
  TTextAlign Alignment = TTextAlign::Left;
};

enum class TTrackBarOrientation { Horizontal, Vertical };
enum class TTickMarks { TopLeft, BottomRight, Both };

class TTrackBar : public TControl {
 public:
  int Min = 0, Max = 10;
  int Frequency = 1;
  TTrackBarOrientation Orientation = TTrackBarOrientation::Horizontal;
  TTickMarks TickMarks = TTickMarks::BottomRight;

  int Position() const { return position_; }
  // Positions outside Min..Max show at the nearer end, as a native slider does.
  void SetPosition(int position);

 private:
  int position_ = 0;
};
