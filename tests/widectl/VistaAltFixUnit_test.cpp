// The Alt-key repaint fix on real forms: Wine reports Windows 6.1 with themes on, so it is active.
// Wine sends no WM_UPDATEUISTATE on Alt, so the tests send it themselves.
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "VistaAltFixUnit.h"
#include "uibuttons.h"
#include "uistdctrls.h"

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
    // Idle must not wait for the next message.
    Application->OnIdle = [](TObject*, bool& done) { done = false; };
  }
  void TearDown() override {
    Application->OnIdle = nullptr;
    if (form) form->Free();
  }
  void CountPaints(TWinControl* c) {
    TWndMethod previous = c->WindowProc;
    c->WindowProc = [this, c, previous](TMessage& m) {
      if (m.Msg == WM_PAINT) ++paints[c];
      previous(m);
    };
  }
  void Pump() {
    for (int i = 0; i < 5; ++i) Application->ProcessMessages();
  }
  // Runs one idle step of the application (the queue is empty after Pump).
  void Idle() {
    Pump();
    Application->HandleMessage();
  }
  void ResetCounts() {
    Pump();
    paints.clear();
  }
  TForm* form = nullptr;
  TPanel* panel = nullptr;
  TButton* button = nullptr;
  TEdit* edit = nullptr;
  TBitBtn* bitBtn = nullptr;
  std::map<TWinControl*, int> paints;
};

TEST_F(AltFixTest, RepaintsEveryWindowedControlOnceAtTheNextIdleMoment) {
  ASSERT_TRUE(VistaAltFixNeeded());
  auto* fix = New<TVistaAltFix>(form);
  ASSERT_TRUE(fix->Active());
  EXPECT_TRUE(fix->GetRepaintAll());
  Idle();  // the form is watched from this idle step on
  EXPECT_EQ(fix->WatchedFormCount(), 1);

  // A form that never receives the message is never repainted.
  ResetCounts();
  Idle();
  EXPECT_TRUE(paints.empty());

  SendMessageA(form->GetHandle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
  ResetCounts();
  EXPECT_EQ(paints[button], 0) << "not at once";
  Idle();
  EXPECT_EQ(paints[form], 1);
  EXPECT_EQ(paints[panel], 1);
  EXPECT_EQ(paints[button], 1);
  EXPECT_EQ(paints[edit], 1);
  EXPECT_EQ(paints[bitBtn], 1);
  ResetCounts();
  Idle();
  EXPECT_EQ(paints[button], 0) << "once per message";
}

TEST_F(AltFixTest, SelectiveWalkRepaintsOnlyPlainButtons) {
  auto* fix = New<TVistaAltFix>(form);
  fix->SetRepaintAll(false);
  Idle();
  SendMessageA(form->GetHandle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
  ResetCounts();
  Idle();
  EXPECT_EQ(paints[button], 1);  // found inside the panel
  EXPECT_EQ(paints[form], 0);
  EXPECT_EQ(paints[panel], 0);
  EXPECT_EQ(paints[edit], 0);
  EXPECT_EQ(paints[bitBtn], 0);
}

TEST_F(AltFixTest, WatchesLaterFormsAndLetsGoOfFreedOnes) {
  auto* fix = New<TVistaAltFix>(nullptr);
  Idle();
  const int before = fix->WatchedFormCount();
  TForm* second = TCustomForm::CreateNew<TForm>(nullptr);
  Idle();
  EXPECT_EQ(fix->WatchedFormCount(), before + 1);
  second->Free();
  Idle();
  EXPECT_EQ(fix->WatchedFormCount(), before);

  // Freeing the component gives the form its own procedure back: the message still works and
  // nothing calls the freed watcher.
  fix->Free();
  SendMessageA(form->GetHandle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
  ResetCounts();
  Idle();
  EXPECT_EQ(paints[button], 0);
}

}  // namespace
