// The portable half of the toolkit: the objects' state and the message loop. Everything native
// goes through toolkit_backend.h.
#include "platform/toolkit.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "platform/toolkit_backend.h"

namespace {

TApplication TheApplication;

bool MainFormShown = false;

// The native windows the backend made, oldest first.
std::vector<TFormPeer*> FormPeers;
// Those of them the application's minimizing hid.
std::vector<TFormPeer*> HiddenWithApp;

void Forget(std::vector<TFormPeer*>& peers, TFormPeer* peer) {
  peers.erase(std::remove(peers.begin(), peers.end(), peer), peers.end());
}

void DeleteNewestOwned(std::vector<TComponent*>& owned) {
  // The owned component's destructor takes itself out of the list.
  while (!owned.empty()) delete owned.back();
}

void DestroyFormPeer(TFormPeer* peer) {
  for (TControlPeer* control : peer->Controls) {
    control->Control->Peer = nullptr;
    delete control;
  }
  peer->Controls.clear();
  peer->Form->Peer = nullptr;
  ToolkitBackendDestroyWindow(*peer);
  Forget(FormPeers, peer);
  Forget(HiddenWithApp, peer);
  delete peer;
}

void DestroyControlPeer(TControlPeer* peer) {
  auto& siblings = peer->Form->Controls;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), peer), siblings.end());
  ToolkitBackendDestroyWidget(*peer);
  peer->Control->Peer = nullptr;
  delete peer;
}

void DestroyFormPeers() {
  while (!FormPeers.empty()) DestroyFormPeer(FormPeers.back());
}

bool TakesFocus(const TControl& control) {
  return dynamic_cast<const TLabel*>(&control) == nullptr;
}

std::uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace

TApplication* Application = &TheApplication;

// ---- TPeer ----

void TPeer::LineAdded(const TControl& control, const std::string&) {
  StateChanged(control);
}

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ == nullptr) return;
  owner_->owned_.push_back(this);
  loading_ = owner_->loading_;
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_ == nullptr) return;
  auto& siblings = owner_->owned_;
  auto it = std::find(siblings.rbegin(), siblings.rend(), this);
  if (it != siblings.rend()) siblings.erase(std::next(it).base());
}

void TComponent::DestroyComponents() {
  DeleteNewestOwned(owned_);
}

void TComponent::BeginLoading() {
  loading_ = true;
  for (TComponent* c : owned_) c->BeginLoading();
}

void TComponent::EndLoading() {
  loading_ = false;
  for (TComponent* c : owned_) c->loading_ = false;
  // By index: a Loaded() may create further components.
  for (std::size_t i = 0; i < owned_.size(); ++i) owned_[i]->EndLoading();
  Loaded();
}

// ---- TControl and the controls ----

TControl::~TControl() {
  if (auto* form = dynamic_cast<TFormPeer*>(Peer)) {
    DestroyFormPeer(form);
  } else if (auto* control = dynamic_cast<TControlPeer*>(Peer)) {
    DestroyControlPeer(control);
  }
  Peer = nullptr;  // or a peer of another kind: its owner's to delete
}

void TControl::Changed() {
  if (Peer != nullptr) Peer->StateChanged(*this);
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed();
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  Changed();
}

void TStrings::Add(const std::string& line) {
  lines_.push_back(line);
  if (OnAdd) OnAdd(line);
  if (owner_.Peer != nullptr) owner_.Peer->LineAdded(owner_, line);
  ToolkitBackendEchoLine(line);
}

std::string TStrings::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines_[i];
  }
  return text;
}

void TButton::Click() {
  if (Enabled() && OnClick) OnClick(this);
}

static int ClampToRange(int position, int min, int max) {
  // With Min above Max the native slider keeps Min; so does this.
  if (position > max) position = max;
  if (position < min) position = min;
  return position;
}

void TTrackBar::SetPosition(int position) {
  position = ClampToRange(position, Min, Max);
  if (position == position_) return;
  position_ = position;
  Changed();
}

void TTrackBar::PositionMovedByUser(int position) {
  position_ = ClampToRange(position, Min, Max);
}

void TForm::Close() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  if (!canClose) return;
  ToolkitBackendHideForm(*this);
  if (Application->MainForm == this) Application->Terminate();
}

// ---- TApplication ----

TApplication::~TApplication() {
  DestroyComponents();
}

void TApplication::Initialize() {
  ToolkitBackendInitialize();
}

void TApplication::CreateForm(TForm* form, const std::function<void(TForm&)>& build) {
  form->BeginLoading();
  if (build) build(*form);
  form->EndLoading();
  if (MainForm == nullptr) MainForm = form;
  if (form->OnCreate) ToolkitGuard([form] { form->OnCreate(form); });
}

void TApplication::Run() {
  if (MainForm == nullptr || terminated_) return;
  ToolkitBackendRunBegins();
  TForm* form = MainForm;
  bool reportsActivation = ToolkitBackendShowForm(*form);
  if (!reportsActivation && !MainFormShown && ToolkitAppActivation(true)) {
    ToolkitFormActivated(*form);
  }
  MainFormShown = true;
  TApplicationAccess::Loop(*this, kToolkitWaitForever);
  DestroyFormPeers();
  ToolkitBackendRunEnded();
}

void TApplication::Terminate() {
  terminated_ = true;
  ToolkitBackendWake();
}

void TApplication::HookMainWindow(TMessageHook* hook) {
  if (hook == nullptr || std::find(hooks_.begin(), hooks_.end(), hook) != hooks_.end()) return;
  hooks_.push_back(hook);
}

void TApplication::UnhookMainWindow(TMessageHook* hook) {
  hooks_.erase(std::remove(hooks_.begin(), hooks_.end(), hook), hooks_.end());
}

void TApplication::Perform(TMessage& message) {
  // A copy: a hook may unhook itself or another while the message goes round.
  std::vector<TMessageHook*> hooks = hooks_;
  for (TMessageHook* hook : hooks) {
    if (std::find(hooks_.begin(), hooks_.end(), hook) == hooks_.end()) continue;
    if ((*hook)(message)) return;
  }
  if (message.Msg == kAppActivateMessage) active_ = true;
  if (message.Msg == kAppDeactivateMessage) active_ = false;
}

void TApplication::ShowException(const std::string& text) {
  ToolkitBackendMessageBox(Title, text);
}

void TApplication::ShowRunningCopy(const std::string& formClass) {
  ToolkitBackendShowRunningCopy(Title, formClass);
}

// ---- Offered to the backends ----

bool ToolkitAppActivation(bool active) {
  if (active == Application->Active()) return false;
  TMessage message{active ? kAppActivateMessage : kAppDeactivateMessage, 0, 0, 0};
  ToolkitGuard([&message] { Application->Perform(message); });
  return true;
}

void ToolkitAddFormPeer(TForm& form, TFormPeer* peer) {
  peer->Form = &form;
  form.Peer = peer;
  FormPeers.push_back(peer);
}

void ToolkitAddControlPeer(TFormPeer& form, TControl& control, TControlPeer* peer) {
  peer->Control = &control;
  peer->Form = &form;
  form.Controls.push_back(peer);
  control.Peer = peer;
}

TFormPeer* ToolkitFormPeer(const TForm* form) {
  return form != nullptr ? dynamic_cast<TFormPeer*>(form->Peer) : nullptr;
}

TControlPeer* ToolkitControlPeer(const TControl& control) {
  return dynamic_cast<TControlPeer*>(control.Peer);
}

std::vector<TTabStop> ToolkitTabOrder(const TForm& form) {
  std::vector<TTabStop> stops;
  for (std::size_t i = 0; i < form.ComponentCount(); ++i) {
    if (auto* control = dynamic_cast<TControl*>(form.Components(i))) {
      stops.push_back({control, static_cast<int>(i), TakesFocus(*control)});
    }
  }
  std::stable_sort(stops.begin(), stops.end(), [](const TTabStop& a, const TTabStop& b) {
    if (a.TakesFocus != b.TakesFocus) return a.TakesFocus;
    return a.TakesFocus && a.Control->TabOrder < b.Control->TabOrder;
  });
  return stops;
}

std::string ToolkitAppTitle(const std::string& programPath) {
  if (!Application->Title.empty()) return Application->Title;
  const std::string file = programPath.substr(programPath.find_last_of("\\/") + 1);
  return file.substr(0, file.find_last_of('.'));
}

std::vector<TFormPeer*> ToolkitAppMinimized(const std::function<bool(const TFormPeer&)>& shows) {
  std::vector<TFormPeer*> hide;
  for (TFormPeer* peer : FormPeers) {
    if (!shows(*peer)) continue;
    hide.push_back(peer);
    if (std::find(HiddenWithApp.begin(), HiddenWithApp.end(), peer) == HiddenWithApp.end()) {
      HiddenWithApp.push_back(peer);
    }
  }
  return hide;
}

std::vector<TFormPeer*> ToolkitAppRestored() {
  std::vector<TFormPeer*> show;
  show.swap(HiddenWithApp);
  return show;
}

void ToolkitFormActivated(TForm& form) {
  if (form.OnActivate) ToolkitGuard([&form] { form.OnActivate(&form); });
}

void ToolkitGuard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    Application->ShowException(error.what());
  } catch (...) {
    Application->ShowException("Unknown error");
  }
}

bool TApplicationAccess::IdleOnce(TApplication& app) {
  app.idleWakeGiven_ = false;
  bool done = true;
  if (app.OnIdle) {
    // On an error the flag stays as the handler left it.
    ToolkitGuard([&app, &done] { app.OnIdle(&app, done); });
  }
  return done;
}

std::uint64_t TApplicationAccess::Loop(TApplication& app, std::uint32_t limitMs) {
  const auto start = std::chrono::steady_clock::now();
  const bool limited = limitMs != kToolkitWaitForever;
  std::uint64_t idleCalls = 0;
  bool timeCame = false;  // the last wait ended at its time, having just looked for events
  while (!app.terminated_) {
    if (limited && MillisecondsSince(start) >= limitMs) break;
    if (!timeCame) {
      bool dispatched = false;
      ToolkitGuard([&dispatched] { dispatched = ToolkitBackendDispatchPending(); });
      if (dispatched) continue;
    }
    timeCame = false;
    if (app.terminated_) break;
    ++idleCalls;
    bool done = IdleOnce(app);
    if (app.terminated_) break;
    std::uint32_t wait;
    if (done) {
      wait = kToolkitWaitForever;
    } else if (app.idleWakeGiven_) {
      wait = app.idleWakeAfter_;
    } else {
      continue;  // the handler wants to run again at once
    }
    bool untilTheLimit = false;
    if (limited) {
      std::uint32_t spent = MillisecondsSince(start);
      if (spent >= limitMs) break;
      untilTheLimit = limitMs - spent <= wait;
      wait = std::min(wait, limitMs - spent);
    }
    if (wait > 0) timeCame = ToolkitBackendWait(wait);
    // A wait to the limit ends with the clock's millisecond: up to one before the limit.
    if (timeCame && untilTheLimit) break;
  }
  return idleCalls;
}

void TApplicationAccess::Reset(TApplication& app) {
  app.DestroyComponents();
  app.MainForm = nullptr;
  app.terminated_ = false;
  app.active_ = false;
  app.OnIdle = nullptr;
  app.idleWakeAfter_ = 0;
  app.idleWakeGiven_ = false;
  MainFormShown = false;
}
