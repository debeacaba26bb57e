// The Alt-key repaint fix on real forms: Wine reports Windows 6.1 with themes on, so it is active.
// Wine sends no WM_UPDATEUISTATE on Alt, so the tests send it themselves.
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "VistaAltFixUnit.h"
#include "uibuttons.h"
#include "uistdctrls.h"
#include "uitabs.h"

using namespace ui;

namespace {

class AltFixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(40, 40, 320, 220);
    panel = New<TPanel>(form);
    panel->SetParent(form);
    panel->SetBounds(0, 0, 200, 120);
    button = New<TButton>(form);
    button->SetParent(panel);
    button->SetBounds(8, 8, 80, 24);
    edit = New<TEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(8, 150, 100, 24);
    bitBtn = New<TBitBtn>(form);
    bitBtn->SetParent(form);
    bitBtn->SetBounds(120, 150, 80, 24);
    form->Show();
    const std::vector<TWinControl*> all{form, panel, button, edit, bitBtn};
    for (TWinControl* c : all) CountPaints(c);
    // Idle must not wait for the next message; paints count while an idle step runs.
    Application->OnIdle = [this](TObject*, bool& done) {
      ++idleSteps;
      counting = true;
      done = false;
    };
  }
  void TearDown() override {
    Application->OnIdle = nullptr;
    if (form) form->Free();
  }
  void CountPaints(TWinControl* c) {
    TWndMethod previous = c->WindowProc;
    c->WindowProc = [this, c, previous](TMessage& m) {
      if (m.Msg == WM_PAINT && counting) ++paints[c];
      previous(m);
    };
  }
  // Serves the queue until the application has run one idle step (which it does only once the
  // queue is empty, pending paints included), for at most 10 s. The paints counted are those of
  // that idle step alone: exposures from windows of other processes on the shared display are
  // painted while the queue is served, and never count.
  bool Idle() {
    paints.clear();
    const int before = idleSteps;
    const DWORD start = GetTickCount();
    while (idleSteps == before && GetTickCount() - start < 10000) {
      counting = false;
      Application->HandleMessage();
    }
    counting = false;
    return idleSteps != before;
  }
  // WM_UPDATEUISTATE as Alt would bring it; the paints counted are those made while it is handled.
  void SendAlt() {
    paints.clear();
    counting = true;
    SendMessageA(form->GetHandle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
    counting = false;
  }
  TForm* form = nullptr;
  TPanel* panel = nullptr;
  TButton* button = nullptr;
  TEdit* edit = nullptr;
  TBitBtn* bitBtn = nullptr;
  std::map<TWinControl*, int> paints;
  int idleSteps = 0;
  bool counting = false;
};

TEST_F(AltFixTest, RepaintsEveryWindowedControlOnceAtTheNextIdleMoment) {
  ASSERT_TRUE(VistaAltFixNeeded());
  auto* fix = New<TVistaAltFix>(form);
  ASSERT_TRUE(fix->Active());
  EXPECT_TRUE(fix->GetRepaintAll());
  ASSERT_TRUE(Idle());  // the form is watched from this idle step on
  EXPECT_EQ(fix->WatchedFormCount(), 1);

  // A form that never receives the message is never repainted.
  ASSERT_TRUE(Idle());
  EXPECT_TRUE(paints.empty());

  SendAlt();
  EXPECT_EQ(paints[button], 0) << "not at once";
  ASSERT_TRUE(Idle());
  EXPECT_EQ(paints[form], 1);
  EXPECT_EQ(paints[panel], 1);
  EXPECT_EQ(paints[button], 1);
  EXPECT_EQ(paints[edit], 1);
  EXPECT_EQ(paints[bitBtn], 1);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(paints[button], 0) << "once per message";
}

TEST_F(AltFixTest, SelectiveWalkRepaintsOnlyPlainButtons) {
  // Buttons on the shown page of a page control are repainted, those on a hidden page are not.
  auto* pages = New<TPageControl>(form);
  pages->SetParent(form);
  pages->SetBounds(210, 0, 100, 140);
  auto* shown = New<TTabSheet>(form);
  shown->SetPageControl(pages);
  auto* hidden = New<TTabSheet>(form);
  hidden->SetPageControl(pages);
  pages->SetActivePage(shown);
  auto* onShown = New<TButton>(form);
  onShown->SetParent(shown);
  auto* onHidden = New<TButton>(form);
  onHidden->SetParent(hidden);
  onShown->HandleNeeded();
  onHidden->HandleNeeded();
  CountPaints(onShown);
  CountPaints(onHidden);

  auto* fix = New<TVistaAltFix>(form);
  fix->SetRepaintAll(false);
  ASSERT_TRUE(Idle());
  SendAlt();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(paints[button], 1);  // found inside the panel
  EXPECT_EQ(paints[form], 0);
  EXPECT_EQ(paints[panel], 0);
  EXPECT_EQ(paints[edit], 0);
  EXPECT_EQ(paints[bitBtn], 0);
  EXPECT_EQ(paints[onShown], 1);
  EXPECT_EQ(paints[onHidden], 0);
}

TEST_F(AltFixTest, WatchesLaterFormsAndLetsGoOfFreedOnes) {
  auto* fix = New<TVistaAltFix>(nullptr);
  ASSERT_TRUE(Idle());
  const int before = fix->WatchedFormCount();
  TForm* second = TCustomForm::CreateNew<TForm>(nullptr);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(fix->WatchedFormCount(), before + 1);
  second->Free();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(fix->WatchedFormCount(), before);

  // Freeing the component gives the form its own procedure back: the message still works and
  // nothing calls the freed watcher.
  fix->Free();
  SendAlt();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(paints[button], 0);
}

}  // namespace
