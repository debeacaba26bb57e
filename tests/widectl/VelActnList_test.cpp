// Wide actions and their links: the wide caption and hint of an action reach the button, label,
// list view and menu item linked to it, also when only characters without an 8-bit form change.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "VelActnList.h"
#include "VelComCtrls.h"
#include "VelForms.h"
#include "VelMenus.h"
#include "VelStdCtrls.h"

using namespace ui;

namespace {

std::wstring WindowText(HWND h) {
  wchar_t buffer[128] = {};
  SendMessageW(h, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

class ActionLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TVelForm>(nullptr);
    form->SetBounds(20, 20, 300, 200);
    action = New<TVelAction>(form);
    action->SetCaptionText(L"\u03A9 run");
    action->SetHintText(L"Runs \u263A|Runs it all \u263A");
    button = New<TVelButton>(form);
    button->SetParent(form);
    button->SetBounds(8, 8, 100, 24);
    label = New<TVelLabel>(form);
    label->SetParent(form);
    label->SetBounds(8, 40, 100, 20);
    auto* menu = New<TVelMainMenu>(form);
    menu->SetAutoHotkeys(maManual);
    item = New<TVelMenuItem>(form);
    menu->Items()->Add(item);
    form->SetMenu(menu);
    form->Show();
    button->SetAction(action);
    label->SetAction(action);
    item->SetAction(action);
  }
  void TearDown() override { form->Free(); }
  std::wstring MenuBarText() {
    wchar_t buffer[64] = {};
    GetMenuStringW(GetMenu(form->GetHandle()), 0, buffer, 64, MF_BYPOSITION);
    return buffer;
  }
  TVelForm* form = nullptr;
  TVelAction* action = nullptr;
  TVelButton* button = nullptr;
  TVelLabel* label = nullptr;
  TVelMenuItem* item = nullptr;
};

TEST_F(ActionLinks, WideCaptionAndHintReachLinkedControls) {
  EXPECT_EQ(WindowText(button->GetHandle()), L"\u03A9 run");
  EXPECT_EQ(label->GetCaptionText(), L"\u03A9 run");
  EXPECT_EQ(item->GetCaptionText(), L"\u03A9 run");
  EXPECT_EQ(MenuBarText(), L"\u03A9 run");
  EXPECT_EQ(button->GetHintText(), L"Runs \u263A|Runs it all \u263A");

  action->SetCaptionText(L"\u03A9 walk");
  EXPECT_EQ(WindowText(button->GetHandle()), L"\u03A9 walk");
  EXPECT_EQ(label->GetCaptionText(), L"\u03A9 walk");
  EXPECT_EQ(MenuBarText(), L"\u03A9 walk");

  // Only characters without an 8-bit form change: the 8-bit caption stays "? walk".
  action->SetCaptionText(L"\u4E2D walk");
  ASSERT_EQ(WideToAnsi(L"\u6587 walk"), WideToAnsi(L"\u4E2D walk"));
  action->SetCaptionText(L"\u6587 walk");
  EXPECT_EQ(WindowText(button->GetHandle()), L"\u6587 walk");
  EXPECT_EQ(label->GetCaptionText(), L"\u6587 walk");
  EXPECT_EQ(item->GetCaptionText(), L"\u6587 walk");
  EXPECT_EQ(action->GetCaptionText(), L"\u6587 walk");

  action->SetHintText(L"\u4E2D");
  EXPECT_EQ(label->GetHintText(), L"\u4E2D");
  EXPECT_EQ(item->GetHintText(), L"\u4E2D");
}

TEST_F(ActionLinks, HandChangedCaptionIsKept) {
  button->SetCaptionText(L"mine \u263A");
  action->SetCaptionText(L"\u263A stop");
  EXPECT_EQ(WindowText(button->GetHandle()), L"mine \u263A");
  EXPECT_EQ(label->GetCaptionText(), L"\u263A stop");
  // A menu item differing only in hot-key marker and case still follows the action.
  item->SetCaptionText(L"\u263A &STOP");
  EXPECT_TRUE(item->ActionLink()->IsCaptionLinked());
  action->SetCaptionText(L"\u263A halt");
  EXPECT_EQ(item->GetCaptionText(), L"\u263A halt");
  // Another wide character is another caption.
  item->SetCaptionText(L"\u4E2D halt");
  EXPECT_FALSE(item->ActionLink()->IsCaptionLinked());
}

TEST_F(ActionLinks, DefaultsAreTakenOnlyWhereTheControlHasNone) {
  auto* named = New<TVelButton>(form);
  named->SetName("Button7");
  named->SetCaptionText(L"Button7");
  auto* own = New<TVelButton>(form);
  own->SetCaptionText(L"own \u263A");
  ApplyWideActionText(named, action, true);
  ApplyWideActionText(own, action, true);
  EXPECT_EQ(named->GetCaptionText(), L"\u03A9 run");
  EXPECT_EQ(own->GetCaptionText(), L"own \u263A");
  ApplyWideActionText(own, action, false);
  EXPECT_EQ(own->GetCaptionText(), L"\u03A9 run");
}

TEST(ActionStorage, PlainActionsAndLinkClasses) {
  auto* plain = New<TAction>(nullptr);
  EXPECT_FALSE(IsWideAction(plain));
  EXPECT_EQ(ActionWideHelper(plain), nullptr);
  SetWideActionCaption(plain, L"\u263A x");
  EXPECT_EQ(plain->GetCaption(), WideToAnsi(L"\u263A x"));
  EXPECT_THROW(ActionWideHelper(nullptr), EAssertionFailed);

  auto* wide = New<TVelAction>(nullptr);
  wide->Assign(plain);
  EXPECT_EQ(wide->GetCaptionText(), AnsiToWide(plain->GetCaption()));
  // A value set through the 8-bit property wins.
  wide->SetCaptionText(L"\u263A");
  wide->SetCaption("plain");
  EXPECT_EQ(wide->GetCaptionText(), L"plain");
  EXPECT_EQ(ActionWideHelper(wide), ActionWideHelper(wide));  // one storage per action

  auto* list = New<TVelListView>(nullptr);
  EXPECT_EQ(ChooseWideActionLinkClass(list, &TListViewActionLink::StaticClassInfo),
            &TVelListViewActionLink::StaticClassInfo);
  EXPECT_THROW(ChooseWideActionLinkClass(list, &TControlActionLink::StaticClassInfo), EAssertionFailed);
  list->Free();
  wide->Free();
  plain->Free();
}

}  // namespace
