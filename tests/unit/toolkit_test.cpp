// The portable toolkit on the headless backend: ownership and loading, the controls' state and
// their peers, closing, the message loop, activation and the message hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/null/null_toolkit.h"
#include "platform/toolkit.h"
#include "platform/toolkit_backend.h"

namespace {

std::vector<std::string> Events;

class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, std::string name) : TComponent(owner), name_(std::move(name)) {}
  ~TProbe() override { Events.push_back("destroy " + name_); }
  void Loaded() override {
    Events.push_back("loaded " + name_ + (Loading() ? " loading" : "") +
                     (Owner() && Owner()->Loading() ? " owner-loading" : ""));
  }

 private:
  std::string name_;
};

struct TRecordingPeer : TPeer {
  int changes = 0;
  std::vector<std::string> lines;
  bool overrideLineAdded = false;
  void StateChanged(const TControl&) override { ++changes; }
  void LineAdded(const TControl& control, const std::string& line) override {
    if (!overrideLineAdded) return TPeer::LineAdded(control, line);
    lines.push_back(line);
  }
};

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NullToolkitReset();
    Events.clear();
    Application->Title = "Title of the test";
  }
  void TearDown() override { NullToolkitReset(); }

  TForm* NewMainForm() {
    auto* form = new TForm(Application);
    Application->CreateForm(form, nullptr);
    return form;
  }
};

TEST_F(ToolkitTest, OwnerDestroysWhatItOwnsNewestFirst) {
  auto* root = new TProbe(nullptr, "root");
  new TProbe(root, "a");
  auto* b = new TProbe(root, "b");
  new TProbe(b, "b1");
  new TProbe(root, "c");
  delete root;
  EXPECT_EQ(Events, (std::vector<std::string>{"destroy root", "destroy c", "destroy b",
                                              "destroy b1", "destroy a"}));
}

TEST_F(ToolkitTest, ComponentDestroyedEarlyLeavesItsOwner) {
  auto* root = new TProbe(nullptr, "root");
  auto* a = new TProbe(root, "a");
  new TProbe(root, "b");
  delete a;
  delete root;  // would free a twice if a were still listed
  EXPECT_EQ(Events, (std::vector<std::string>{"destroy a", "destroy root", "destroy b"}));
}

TEST_F(ToolkitTest, LoadingCoversLaterComponentsAndEndsBeforeAnyLoaded) {
  TProbe root(nullptr, "root");
  new TProbe(&root, "early");
  root.BeginLoading();
  auto* late = new TProbe(&root, "late");
  EXPECT_TRUE(root.Loading());
  EXPECT_TRUE(late->Loading()) << "created while its owner loads";
  root.EndLoading();
  EXPECT_FALSE(root.Loading());
  EXPECT_FALSE(late->Loading());
  EXPECT_EQ(Events, (std::vector<std::string>{"loaded early", "loaded late", "loaded root"}));
  Events.clear();
  TProbe after(&root, "after");
  EXPECT_FALSE(after.Loading());
}

TEST_F(ToolkitTest, CreateFormBuildsWhileLoadingThenLoadedThenOnCreate) {
  auto* form = new TForm(Application);
  form->OnCreate = [&](TObject* sender) {
    EXPECT_EQ(sender, form);
    EXPECT_EQ(Application->MainForm, form);
    Events.push_back("create");
  };
  Application->CreateForm(form, [&](TForm& f) {
    EXPECT_TRUE(f.Loading());
    auto* probe = new TProbe(&f, "timer");
    EXPECT_TRUE(probe->Loading());
    Events.push_back("build");
  });
  EXPECT_EQ(Events, (std::vector<std::string>{"build", "loaded timer", "create"}));
  EXPECT_FALSE(form->Loading());

  auto* second = new TForm(Application);
  Application->CreateForm(second, nullptr);
  EXPECT_EQ(Application->MainForm, form) << "only the first form is the main form";
}

TEST_F(ToolkitTest, ErrorInOnCreateIsShownAndTheProgramGoesOn) {
  auto* form = new TForm(Application);
  form->OnCreate = [](TObject*) { throw std::runtime_error("no simulator today"); };
  Application->CreateForm(form, nullptr);
  ASSERT_EQ(NullToolkitMessageBoxCount(), 1);
  EXPECT_EQ(NullToolkitLastMessageBox().Title, "Title of the test");
  EXPECT_EQ(NullToolkitLastMessageBox().Text, "no simulator today");
  EXPECT_EQ(Application->MainForm, form);
}

TEST_F(ToolkitTest, SettersTellThePeerOnlyOfChanges) {
  TRecordingPeer peer;
  TButton button(nullptr);
  button.Peer = &peer;
  button.SetCaption("Reconnect to EFIS ");
  button.SetCaption("Reconnect to EFIS ");
  EXPECT_EQ(button.Caption(), "Reconnect to EFIS ");
  button.SetEnabled(true);  // already enabled
  EXPECT_EQ(peer.changes, 1);
  button.SetEnabled(false);
  EXPECT_FALSE(button.Enabled());
  EXPECT_EQ(peer.changes, 2);

  TLabel label(nullptr);
  label.SetCaption("AutoPilot is engaged");  // no peer: only the state
  EXPECT_EQ(label.Caption(), "AutoPilot is engaged");
  button.Peer = nullptr;
}

TEST_F(ToolkitTest, LinesAppendAndReachThePeerStandardErrorAndOnAdd) {
  TRecordingPeer peer;
  TMemo memo(nullptr);
  memo.Peer = &peer;
  testing::internal::CaptureStderr();
  memo.Lines.Add("EFIS data read channel OK");
  peer.overrideLineAdded = true;
  // Told once the memo holds the line, before the peer has it: the line, the count, the peer's.
  std::vector<std::string> told;
  memo.Lines.OnAdd = [&](const std::string& line) {
    told.push_back(line + "|" + std::to_string(memo.Lines.Count()) + "|" +
                   std::to_string(peer.lines.size()));
  };
  memo.Lines.Add("");
  memo.Lines.Add("EFIS data write channel OK");
  std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(echoed, "EFIS data read channel OK\n\nEFIS data write channel OK\n");
  EXPECT_EQ(peer.changes, 1) << "the default LineAdded rewrites through StateChanged";
  EXPECT_EQ(peer.lines, (std::vector<std::string>{"", "EFIS data write channel OK"}));
  EXPECT_EQ(told, (std::vector<std::string>{"|2|0", "EFIS data write channel OK|3|1"}));
  ASSERT_EQ(memo.Lines.Count(), 3u);
  EXPECT_EQ(memo.Lines[0], "EFIS data read channel OK");
  EXPECT_EQ(memo.Lines[2], "EFIS data write channel OK");
  memo.Peer = nullptr;
}

TEST_F(ToolkitTest, TextJoinsLinesAsAnEditControlHoldsThem) {
  struct Case {
    std::vector<std::string> lines;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{"a"}, "a"},
      {{"", ""}, "\r\n"},
      {{"Connected to FSX", "Cannot find EFIS"}, "Connected to FSX\r\nCannot find EFIS"},
      {{"a", "b", ""}, "a\r\nb\r\n"},
  };
  testing::internal::CaptureStderr();
  for (const Case& c : cases) {
    TMemo memo(nullptr);
    for (const auto& line : c.lines) memo.Lines.Add(line);
    EXPECT_EQ(memo.Lines.Text(), c.text);
    EXPECT_EQ(memo.Lines.All(), c.lines);
  }
  testing::internal::GetCapturedStderr();
}

TEST_F(ToolkitTest, TrackBarPositionShowsAtTheNearerEnd) {
  struct Case {
    int min, max, set, expected;
  };
  const Case cases[] = {
      {-512, 512, 0, 0},
      {-512, 512, 512, 512},
      {-512, 512, 513, 512},
      {-512, 512, -512, -512},
      {-512, 512, -513, -512},
      {-512, 512, INT_MAX, 512},
      {-512, 512, INT_MIN, -512},
      {-512, 512, -16, -16},
      {0, 0, 5, 0},
      {10, 0, 5, 10},  // an inverted range keeps Min, as the native slider does
  };
  for (const Case& c : cases) {
    TTrackBar bar(nullptr);
    bar.Min = c.min;
    bar.Max = c.max;
    bar.SetPosition(c.set);
    EXPECT_EQ(bar.Position(), c.expected) << c.min << ".." << c.max << " set " << c.set;
  }
}

TEST_F(ToolkitTest, TrackBarTellsThePeerOfRealChangesOnlyAndFollowsTheUser) {
  TRecordingPeer peer;
  TTrackBar bar(nullptr);
  bar.Min = -512;
  bar.Max = 512;
  bar.Peer = &peer;
  bar.SetPosition(600);
  bar.SetPosition(513);  // clamps to the same 512
  EXPECT_EQ(peer.changes, 1);
  bar.PositionMovedByUser(-700);
  EXPECT_EQ(bar.Position(), -512);
  EXPECT_EQ(peer.changes, 1) << "the native slider already shows it";
  bar.SetPosition(512);  // puts the slider back after a move by hand
  EXPECT_EQ(peer.changes, 2);
  bar.Peer = nullptr;
}

TEST_F(ToolkitTest, ClickRunsOnClickOnlyWhenEnabled) {
  TButton button(nullptr);
  std::vector<TObject*> senders;
  button.Click();  // no handler: nothing
  button.OnClick = [&](TObject* sender) { senders.push_back(sender); };
  button.Click();
  button.SetEnabled(false);
  button.Click();
  button.SetEnabled(true);
  button.Click();
  EXPECT_EQ(senders, (std::vector<TObject*>{&button, &button}));
}

TEST_F(ToolkitTest, CloseAsksOnCloseQueryAndOnlyTheMainFormEndsTheApplication) {
  TForm* main = NewMainForm();
  auto* other = new TForm(Application);
  Application->CreateForm(other, nullptr);
  bool allow = false;
  int queries = 0;
  main->OnCloseQuery = [&](TObject* sender, bool& canClose) {
    EXPECT_EQ(sender, main);
    EXPECT_TRUE(canClose) << "asked with the close allowed";
    ++queries;
    canClose = allow;
  };
  NullToolkitPost([&] { main->Close(); });  // refused
  NullToolkitPost([&] { other->Close(); });
  NullToolkitPost([&] { EXPECT_FALSE(Application->Terminated()); });
  NullToolkitPost([&] {
    allow = true;
    main->Close();
  });
  Application->Run();
  EXPECT_EQ(queries, 2);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_FALSE(NullToolkitFormVisible(*main));
  EXPECT_FALSE(NullToolkitFormVisible(*other));
}

TEST_F(ToolkitTest, RunShowsTheMainFormAndCountsItsFirstShowingAsActivation) {
  TForm* main = NewMainForm();
  std::vector<std::uint32_t> seen;
  TMessageHook hook = [&](TMessage& m) {
    seen.push_back(m.Msg);
    return false;
  };
  Application->HookMainWindow(&hook);
  int activations = 0;
  main->OnActivate = [&](TObject* sender) {
    EXPECT_EQ(sender, main);
    ++activations;
  };
  NullToolkitPost([&] {
    EXPECT_TRUE(NullToolkitFormVisible(*main));
    EXPECT_TRUE(Application->Active());
    NullToolkitActivate(true);  // the platform reporting it again changes nothing
    NullToolkitActivate(false);
    NullToolkitActivate(false);
    NullToolkitActivate(true);
    main->Close();
  });
  Application->Run();
  Application->UnhookMainWindow(&hook);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{kAppActivateMessage, kAppDeactivateMessage,
                                              kAppActivateMessage}));
  EXPECT_EQ(activations, 2);
}

TEST_F(ToolkitTest, RunWithoutMainFormOrAfterTerminateReturnsAtOnce) {
  Application->Run();
  NewMainForm();
  Application->Terminate();
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(ToolkitTest, DoneLeftTrueWaitsForTheNextEvent) {
  int idles = 0, events = 0;
  std::thread poster;
  Application->OnIdle = [&](TObject* sender, bool& done) {
    EXPECT_EQ(sender, Application);
    EXPECT_TRUE(done);
    ++idles;
    if (idles == 1) poster = std::thread([&] { NullToolkitPost([&] { ++events; }); });
    if (idles == 2) Application->Terminate();
  };
  // Bounded only as a safety net: the run ends by Terminate at the second idle call.
  std::uint64_t calls = NullToolkitRunFor(60000);
  poster.join();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(calls, 2u);
  EXPECT_EQ(events, 1);
}

TEST_F(ToolkitTest, DoneLeftTrueWithNoEventsMakesOneIdleCallPerRun) {
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool&) { ++idles; };
  EXPECT_EQ(NullToolkitRunFor(100), 1u);
  EXPECT_EQ(idles, 1);
}

TEST_F(ToolkitTest, DoneFalseWithAWakeHintDoesNotSpin) {
  std::uint64_t idles = 0;
  Application->OnIdle = [&](TObject*, bool& done) {
    done = false;
    Application->IdleWakeAfter(20);
    ++idles;
  };
  std::uint64_t calls = NullToolkitRunFor(300);
  EXPECT_EQ(calls, idles);
  EXPECT_GE(calls, 1u);
  // About 15 when the waits keep time; a spinning loop makes hundreds of thousands.
  EXPECT_LE(calls, 40u);
}

// A wake hint counts on the millisecond clock of platform/clock.h: the next idle call finds it
// moved on by the hint, never by less, however far into its millisecond the hint was given.
TEST_F(ToolkitTest, AWakeHintIsCountedOnTheMillisecondClock) {
  std::vector<std::uint32_t> clock;
  Application->OnIdle = [&](TObject*, bool& done) {
    done = false;
    clock.push_back(platform::TimeGetTime());
    if (clock.size() == 20) Application->Terminate();
    Application->IdleWakeAfter(3);
  };
  NullToolkitRunFor(10000);
  ASSERT_EQ(clock.size(), 20u);
  for (std::size_t i = 1; i < clock.size(); ++i) EXPECT_GE(clock[i] - clock[i - 1], 3u) << i;
}

TEST_F(ToolkitTest, DoneFalseWithoutAHintCallsAgainAtOnce) {
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& done) {
    done = false;
    if (++idles == 5000) Application->Terminate();
  };
  // A loop that waited between these calls would reach the limit long before 5000 calls.
  EXPECT_EQ(NullToolkitRunFor(60000), 5000u);
}

TEST_F(ToolkitTest, HintZeroMeansDueNowAndTheHintIsForgottenBeforeEachCall) {
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& done) {
    EXPECT_FALSE(Application->IdleWakeGiven());
    done = false;
    Application->IdleWakeAfter(0);
    if (++idles == 1000) Application->Terminate();
  };
  EXPECT_EQ(NullToolkitRunFor(60000), 1000u);
  EXPECT_TRUE(Application->IdleWakeGiven());
  EXPECT_EQ(Application->IdleWakeHint(), 0u);
}

TEST_F(ToolkitTest, ProcessIdleRunsPostedEventsThenTheIdleHandler) {
  std::vector<std::string> order;
  NullToolkitPost([&] { order.push_back("event"); });
  EXPECT_TRUE(NullToolkitProcessIdle()) << "no handler leaves done true";
  Application->OnIdle = [&](TObject*, bool& done) {
    order.push_back("idle");
    done = false;
  };
  NullToolkitPost([&] { order.push_back("event"); });
  EXPECT_FALSE(NullToolkitProcessIdle());
  EXPECT_EQ(order, (std::vector<std::string>{"event", "event", "idle"}));
}

TEST_F(ToolkitTest, ErrorsInIdleAndEventsAreShownAndTheLoopGoesOn) {
  int idles = 0;
  NullToolkitPost([] { throw std::runtime_error("bad event"); });
  NullToolkitPost([] { throw 42; });
  Application->OnIdle = [&](TObject*, bool& done) {
    done = false;
    Application->IdleWakeAfter(0);
    if (++idles == 1) throw std::runtime_error("Invalid floating point operation");
    Application->Terminate();
  };
  testing::internal::CaptureStderr();
  NullToolkitRunFor(60000);
  std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(idles, 2);
  EXPECT_EQ(NullToolkitMessageBoxCount(), 3);
  EXPECT_EQ(NullToolkitLastMessageBox().Title, "Title of the test");
  EXPECT_EQ(NullToolkitLastMessageBox().Text, "Invalid floating point operation");
  EXPECT_EQ(echoed, "bad event\nUnknown error\nInvalid floating point operation\n");
}

TEST_F(ToolkitTest, HooksSeeMessagesInOrderAndOneCanConsume) {
  std::vector<std::string> calls;
  bool consume = false;
  TMessageHook first = [&](TMessage& m) {
    calls.push_back("first " + std::to_string(m.Msg));
    return consume;
  };
  TMessageHook second = [&](TMessage& m) {
    calls.push_back("second " + std::to_string(m.Msg));
    return false;
  };
  Application->HookMainWindow(&first);
  Application->HookMainWindow(&second);
  Application->HookMainWindow(&first);  // already there
  TMessage activate{kAppActivateMessage, 0, 0, 0};
  Application->Perform(activate);
  EXPECT_TRUE(Application->Active());
  consume = true;
  TMessage deactivate{kAppDeactivateMessage, 0, 0, 0};
  Application->Perform(deactivate);
  EXPECT_TRUE(Application->Active()) << "a consumed message gets no default handling";
  Application->UnhookMainWindow(&first);
  Application->Perform(deactivate);
  EXPECT_FALSE(Application->Active());
  TMessage other{0x0400, 1, 2, 0};
  Application->Perform(other);
  EXPECT_FALSE(Application->Active());
  Application->UnhookMainWindow(&second);
  EXPECT_EQ(calls, (std::vector<std::string>{"first 45056", "second 45056", "first 45057",
                                             "second 45057", "second 1024"}));
}

TEST_F(ToolkitTest, HookMayUnhookItselfAndOthersWhileAMessageGoesRound) {
  int secondCalls = 0, thirdCalls = 0;
  TMessageHook second = [&](TMessage&) {
    ++secondCalls;
    return false;
  };
  TMessageHook third = [&](TMessage&) {
    ++thirdCalls;
    return false;
  };
  TMessageHook first;
  first = [&](TMessage&) {
    Application->UnhookMainWindow(&first);
    Application->UnhookMainWindow(&second);
    return false;
  };
  Application->HookMainWindow(&first);
  Application->HookMainWindow(&second);
  Application->HookMainWindow(&third);
  TMessage m{kAppActivateMessage, 0, 0, 0};
  Application->Perform(m);
  Application->Perform(m);
  Application->UnhookMainWindow(&third);
  EXPECT_EQ(secondCalls, 0);
  EXPECT_EQ(thirdCalls, 2);
}

TEST_F(ToolkitTest, EventsPostedFromSeveralThreadsAreEachDispatchedOnce) {
  constexpr int kThreads = 4, kEach = 2000;
  int dispatched = 0;  // only the loop's thread touches it
  std::atomic<bool> go{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) {
        NullToolkitPost([&] {
          if (++dispatched == kThreads * kEach) Application->Terminate();
        });
      }
    });
  }
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool&) { ++idles; };  // done true: waits between bursts
  go = true;
  NullToolkitRunFor(60000);
  for (auto& t : posters) t.join();
  EXPECT_EQ(dispatched, kThreads * kEach);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_GE(idles, 1);
}

TEST_F(ToolkitTest, ResetDestroysFormsAndForgetsTheApplicationState) {
  auto* form = NewMainForm();
  new TProbe(form, "probe");
  Application->OnIdle = [](TObject*, bool&) {};
  Application->IdleWakeAfter(7);
  NullToolkitActivate(true);
  Application->Terminate();
  NullToolkitReset();
  EXPECT_EQ(Events, (std::vector<std::string>{"destroy probe"}));
  EXPECT_EQ(Application->MainForm, nullptr);
  EXPECT_FALSE(Application->Terminated());
  EXPECT_FALSE(Application->Active());
  EXPECT_FALSE(Application->OnIdle);
  EXPECT_FALSE(Application->IdleWakeGiven());
}

// A native window as a backend would list it, showing or not.
struct TShowingPeer : TFormPeer {
  bool showing = false;
  void StateChanged(const TControl&) override {}
};

TEST_F(ToolkitTest, AppTitleIsTheTitleElseTheProgramFileWithoutFolderOrExtension) {
  EXPECT_EQ(ToolkitAppTitle("C:\\Korvan\\korvan-bridge.exe"), "Title of the test");
  Application->Title.clear();
  const struct {
    const char* path;
    const char* title;
  } cases[] = {
      {"C:\\Program Files\\Korvan\\korvan-bridge.exe", "korvan-bridge"},
      {"/usr/local/bin/korvan-bridge", "korvan-bridge"},
      {"Z:\\build.1\\bin\\bridge", "bridge"},  // a dot in a folder is not an extension
      {"bridge.test.exe", "bridge.test"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ToolkitAppTitle(c.path), c.title) << c.path;
}

TEST_F(ToolkitTest, MinimizingHidesTheShowingFormsAndRestoringShowsThemOnce) {
  TForm* forms[3] = {NewMainForm(), NewMainForm(), NewMainForm()};
  TShowingPeer* peers[3];
  for (int i = 0; i < 3; ++i) {
    peers[i] = new TShowingPeer;
    ToolkitAddFormPeer(*forms[i], peers[i]);
  }
  peers[0]->showing = peers[2]->showing = true;
  auto shows = [](const TFormPeer& peer) { return static_cast<const TShowingPeer&>(peer).showing; };
  EXPECT_EQ(ToolkitAppMinimized(shows), (std::vector<TFormPeer*>{peers[0], peers[2]}));
  for (TShowingPeer* peer : peers) peer->showing = false;
  // Minimized again while they are hidden: nothing more to hide, and nothing forgotten.
  EXPECT_TRUE(ToolkitAppMinimized(shows).empty());
  EXPECT_EQ(ToolkitAppRestored(), (std::vector<TFormPeer*>{peers[0], peers[2]}));
  EXPECT_TRUE(ToolkitAppRestored().empty());

  // A form destroyed while hidden is not shown again.
  peers[0]->showing = peers[1]->showing = true;
  EXPECT_EQ(ToolkitAppMinimized(shows), (std::vector<TFormPeer*>{peers[0], peers[1]}));
  delete forms[0];
  EXPECT_EQ(ToolkitAppRestored(), (std::vector<TFormPeer*>{peers[1]}));
}

}  // namespace
