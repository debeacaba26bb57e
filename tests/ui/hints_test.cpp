// Hints: the hint window over a control after the pause, the hint-show record, OnShowHint, shortcuts in
// hints, the hint window class and what ends a hint.
#include <gtest/gtest.h>

#include "uiactions.h"
#include "uiforms.h"
#include "uimenus.h"
#include "uistdctrls.h"

using namespace ui;

namespace {

// A hint window that records how the application used it.
class TRecordingHintWindow : public THintWindow {
  UI_DECLARE_CLASS(TRecordingHintWindow, THintWindow)
 public:
  static int calcs, activations;
  static void* lastData;
  RECT CalcHintRect(int maxWidth, const std::string& hint, void* data) override {
    ++calcs;
    return THintWindow::CalcHintRect(maxWidth, hint, data);
  }
  void ActivateHintData(RECT r, const std::string& hint, void* data) override {
    ++activations;
    lastData = data;
    THintWindow::ActivateHintData(r, hint, data);
  }
};
int TRecordingHintWindow::calcs = 0;
int TRecordingHintWindow::activations = 0;
void* TRecordingHintWindow::lastData = nullptr;
UI_IMPLEMENT_CLASS(TRecordingHintWindow, THintWindow, DefaultFactory<TRecordingHintWindow>, nullptr, nullptr, nullptr)

class HintsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(140, 140, 300, 160);
    form->SetShowHint(true);
    button = New<TButton>(form);
    button->SetParent(form);
    button->SetBounds(20, 20, 100, 30);
    button->SetCaption("Convert");
    button->SetHint("Convert|Converts every slide");
    label = New<TLabel>(form);
    label->SetParent(form);
    label->SetBounds(150, 20, 100, 20);
    label->SetCaption("No hint");
    label->SetShowHint(false);
    Application->HintPause = 150;
    Application->HintHidePause = 10000;
  }
  void TearDown() override {
    Application->CancelHint();
    Application->OnShowHint = nullptr;
    Application->HintWindowClass = &THintWindow::StaticClassInfo;
    Application->HintPause = 500;
    Application->HintHidePause = 2500;
    if (form) form->Free();
  }
  // Moves the mouse over `c` (centre) and tells the control, as the system would.
  static POINT MoveOver(TControl* c) {
    POINT centre{c->GetWidth() / 2, c->GetHeight() / 2};
    POINT screen = c->ClientToScreen(centre);
    SetCursorPos(screen.x, screen.y);
    TWinControl* target = As<TWinControl>(c);
    POINT local = centre;
    if (!target) {
      target = c->GetParent();
      local = POINT{c->GetLeft() + centre.x, c->GetTop() + centre.y};
    }
    SendMessageA(target->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(local.x, local.y));
    return screen;
  }
  static bool HintShowing() {
    THintWindow* w = Application->HintWindow();
    return w && w->HandleAllocated() && IsWindowVisible(w->GetHandle());
  }
  static bool PumpUntilHint(int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
      Application->ProcessMessages();
      if (HintShowing()) return true;
      Sleep(10);
    }
    return HintShowing();
  }
  TForm* form = nullptr;
  TButton* button = nullptr;
  TLabel* label = nullptr;
};

TEST_F(HintsTest, HintWindowShowsOverTheControlAfterThePause) {
  std::vector<THintInfo> shows;
  TWndMethod original = button->WindowProc;
  button->WindowProc = [&](TMessage& m) {
    if (m.Msg == CM_HINTSHOW) shows.push_back(*reinterpret_cast<THintInfo*>(m.LParam));
    original(m);
  };
  form->Show();
  Application->ProcessMessages();
  DWORD start = GetTickCount();
  POINT cursor = MoveOver(button);
  Application->ProcessMessages();
  EXPECT_FALSE(HintShowing());  // not before the pause
  ASSERT_TRUE(PumpUntilHint(3000));
  EXPECT_GE(GetTickCount() - start, 140u);
  THintWindow* w = Application->HintWindow();
  char text[64] = {};
  GetWindowTextA(w->GetHandle(), text, sizeof text);
  EXPECT_STREQ("Convert", text);  // the short part of the hint
  RECT r;
  GetWindowRect(w->GetHandle(), &r);
  EXPECT_GT(r.top, cursor.y);  // below the cursor
  EXPECT_GT(r.right - r.left, 6);
  EXPECT_TRUE(GetWindowLongPtrA(w->GetHandle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  ASSERT_EQ(1u, shows.size());
  EXPECT_EQ(button, shows[0].HintControl);
  EXPECT_EQ(&THintWindow::StaticClassInfo, shows[0].HintWindowClass);
  EXPECT_EQ("Convert", shows[0].HintStr);
  EXPECT_EQ(nullptr, shows[0].HintData);
  EXPECT_EQ(button->GetWidth() / 2, shows[0].CursorPos.x);

  // A click ends it; so does moving to a control that shows no hint.
  MSG click{button->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5), 0, {}};
  EXPECT_TRUE(w->IsHintMsg(click));
  Application->CancelHint();
  EXPECT_FALSE(HintShowing());
  button->WindowProc = original;
}

TEST_F(HintsTest, OnShowHintShortcutsAndTheHintWindowClassShapeTheHint) {
  TAction* action = New<TAction>(form);
  action->SetCaption("Convert");
  action->SetHint("Convert|Converts every slide");
  action->SetShortCut(ShortCut('K', ssCtrl));
  button->SetAction(action);
  Application->HintWindowClass = &TRecordingHintWindow::StaticClassInfo;
  int payload = 7;
  std::string seen;
  Application->OnShowHint = [&](std::string& hint, bool& canShow, THintInfo& info) {
    seen = hint;
    EXPECT_TRUE(canShow);
    info.HintData = &payload;
    hint += "!";
  };
  form->Show();
  Application->ProcessMessages();
  POINT cursor = MoveOver(button);
  Application->ActivateHint(cursor);
  EXPECT_EQ("Convert (Ctrl+K)", seen);
  ASSERT_TRUE(HintShowing());
  EXPECT_TRUE(Application->HintWindow()->Is<TRecordingHintWindow>());
  EXPECT_EQ(1, TRecordingHintWindow::calcs);
  EXPECT_EQ(1, TRecordingHintWindow::activations);
  EXPECT_EQ(&payload, TRecordingHintWindow::lastData);
  char text[64] = {};
  GetWindowTextA(Application->HintWindow()->GetHandle(), text, sizeof text);
  EXPECT_STREQ("Convert (Ctrl+K)!", text);

  // Without shortcuts in hints, and with a handler that cancels.
  Application->HintShortCuts = false;
  Application->OnShowHint = [&](std::string& hint, bool& canShow, THintInfo&) {
    seen = hint;
    canShow = false;
  };
  Application->ActivateHint(cursor);
  Application->HintShortCuts = true;
  EXPECT_EQ("Convert", seen);
  EXPECT_FALSE(HintShowing());
}

TEST_F(HintsTest, ControlsThatShowNoHintCancelIt) {
  form->Show();
  Application->ProcessMessages();
  MoveOver(button);
  ASSERT_TRUE(PumpUntilHint(3000));
  MoveOver(label);  // ShowHint off: the hint goes
  EXPECT_FALSE(HintShowing());
  // A control answering the hint-show message with a non-zero result shows none either.
  button->WindowProc = [orig = button->WindowProc](TMessage& m) {
    if (m.Msg == CM_HINTSHOW) {
      m.Result = 1;
      return;
    }
    orig(m);
  };
  POINT cursor = MoveOver(button);
  Application->ActivateHint(cursor);
  EXPECT_FALSE(HintShowing());
}

TEST(HintText, ShortAndLongPartsAndTheNearestParentsHint) {
  EXPECT_EQ("Open", GetShortHint("Open|Opens a file"));
  EXPECT_EQ("Opens a file", GetLongHint("Open|Opens a file"));
  EXPECT_EQ("Plain", GetShortHint("Plain"));
  EXPECT_EQ("Plain", GetLongHint("Plain"));
  EXPECT_EQ("", GetLongHint("Only|"));
  TForm* f = TCustomForm::CreateNew<TForm>(nullptr);
  f->SetHint("Form hint");
  TButton* b = New<TButton>(f);
  b->SetParent(f);
  EXPECT_EQ("Form hint", GetHintOfControlOrParent(b));
  b->SetHint("Own");
  EXPECT_EQ("Own", GetHintOfControlOrParent(b));
  // ShowHint follows the parent until the control sets its own.
  f->SetShowHint(true);
  EXPECT_TRUE(b->GetShowHint());
  b->SetShowHint(false);
  EXPECT_FALSE(b->GetParentShowHint());
  EXPECT_FALSE(b->GetShowHint());
  f->Free();
}

}  // namespace
