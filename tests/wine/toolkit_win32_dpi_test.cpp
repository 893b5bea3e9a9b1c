// The Win32 form on a monitor of another DPI, under Wine: WM_DPICHANGED, sent here as Windows
// sends it (Wine never does), moves the window to the rectangle it suggests and scales every
// control of the table and the font from the 96-DPI design; back at 96 nothing has moved.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../gui/toolkit_demo_form.h"
#include "platform/toolkit_backend.h"
#include "tests/wine/window_geometry.h"

namespace {

BOOL CALLBACK FindDemo(HWND window, LPARAM found) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  if (std::string(name) != "TDpiDemo") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The demonstration form shown on this thread, at 96 DPI (the shared Wine prefix's).
class Win32Dpi : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->CreateForm(new TForm(Application), [](TForm& form) {
      demo::Build(form);
      form.ClassName = "TDpiDemo";
    });
    ToolkitBackendShowForm(*Application->MainForm);
    EnumThreadWindows(GetCurrentThreadId(), FindDemo, reinterpret_cast<LPARAM>(&form_));
    ASSERT_NE(form_, nullptr);
  }
  void TearDown() override {
    TApplicationAccess::Reset(*Application);
    ToolkitBackendRunEnded();
  }

  std::string RectOf(int id) const { return Describe(ClientRectOf(form_, GetDlgItem(form_, id))); }
  std::string WindowRect() const {
    RECT r;
    GetWindowRect(form_, &r);
    return Describe(r);
  }
  LOGFONTA FontOf(int id) const {
    LOGFONTA font = {};
    auto handle = reinterpret_cast<HGDIOBJ>(SendMessageA(GetDlgItem(form_, id), WM_GETFONT, 0, 0));
    EXPECT_NE(GetObjectA(handle, sizeof(font), &font), 0) << "control " << id << " has no font";
    return font;
  }
  void SendDpiChanged(int dpi, const RECT* suggested) {
    SendMessageA(form_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(suggested));
  }

  HWND form_ = nullptr;
};

struct AtDpi {
  int dpi;
  RECT suggested;
  const char* window;
  int fontHeight;
  const char* face;
  // Memo1, Button1, Button2, TrackBar1, TrackBar2, Label6 (fixed size); Label1's place.
  const char* controls[6];
  POINT label1;
};

constexpr int kIds[6] = {1001, 1002, 1003, 1004, 1005, 1016};

// The table at 96 (8,8 553x161; 16,184 169x25; 16,216 169x25; 328,240 150x41;
// 496,184 33x150; 472,336 89x41; Label1 at 24,360) times DPI / 96, halves rounded up.
const AtDpi kDpis[] = {
    {144,
     {40, 30, 921, 675},
     "40,30 881x645",
     -16,
     "Microsoft Sans Serif",
     {"12,12 830x242", "24,276 254x38", "24,324 254x38", "492,360 225x62", "744,276 50x225",
      "708,504 134x62"},
     {36, 540}},
    {120,
     {300, 200, 1034, 738},
     "300,200 734x538",
     -13,
     "Microsoft Sans Serif",
     {"10,10 691x201", "20,230 211x31", "20,270 211x31", "410,300 188x51", "620,230 41x188",
      "590,420 111x51"},
     {30, 450}},
    {192,
     {0, 0, 1174, 860},
     "0,0 1174x860",
     -21,
     "Microsoft Sans Serif",
     {"16,16 1106x322", "32,368 338x50", "32,432 338x50", "656,480 300x82", "992,368 66x300",
      "944,672 178x82"},
     {48, 720}},
    {96,
     {262, 250, 849, 680},
     "262,250 587x430",
     -11,
     "MS Sans Serif",
     {"8,8 553x161", "16,184 169x25", "16,216 169x25", "328,240 150x41", "496,184 33x150",
      "472,336 89x41"},
     {24, 360}},
};

// One case: under Wine without a window manager each window's close waits 2 s for a state
// that never comes, so the form is made once for all of it.
TEST_F(Win32Dpi, MovedToAnotherDpiTheWindowTakesTheSuggestedRectAndScalesTheTableAndFont) {
  // One after the other, as a window dragged across monitors: each from the design, so no
  // rounding of one step carries into the next, and the last, back at 96, is the design.
  for (const AtDpi& at : kDpis) {
    SCOPED_TRACE(testing::Message() << at.dpi << " DPI");
    SendDpiChanged(at.dpi, &at.suggested);
    EXPECT_EQ(WindowRect(), at.window);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(RectOf(kIds[i]), at.controls[i]) << "control " << kIds[i];
    for (int id : {1001, 1002, 1011, 1016}) {
      const LOGFONTA font = FontOf(id);
      EXPECT_EQ(font.lfHeight, at.fontHeight) << "control " << id;
      EXPECT_STREQ(font.lfFaceName, at.face) << "control " << id;
    }
    // The label that sizes itself: at its scaled place, as big as its text in that font.
    const SIZE text = TextSize(demo::Label1->Caption(), at.fontHeight, at.face);
    EXPECT_EQ(RectOf(1011),
              Describe({at.label1.x, at.label1.y, at.label1.x + text.cx, at.label1.y + text.cy}));
  }

  // Without a rectangle only the inside scales; a DPI of 0 changes nothing.
  const std::string before = WindowRect();
  SendDpiChanged(144, nullptr);
  EXPECT_EQ(WindowRect(), before);
  EXPECT_EQ(RectOf(1002), "24,276 254x38");
  const RECT tiny = {0, 0, 100, 100};
  SendDpiChanged(0, &tiny);
  EXPECT_EQ(WindowRect(), before);
  EXPECT_EQ(RectOf(1002), "24,276 254x38");
  EXPECT_EQ(FontOf(1002).lfHeight, -16);

  // A new text: the label sizes itself in the scaled font.
  demo::Label1->SetCaption("Version 1.1");
  const SIZE text = TextSize("Version 1.1", -16, "Microsoft Sans Serif");
  EXPECT_EQ(RectOf(1011), Describe({36, 540, 36 + text.cx, 540 + text.cy}));
}

}  // namespace
