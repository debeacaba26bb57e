// The wide hint action: assignment from actions and controls, and the application object putting it in
// place of the library's hint action; with it the application's other hint services (menu selection
// in a form, the idle control of a main form that is not a Unicode form).
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelForms.h"
#include "VelMenus.h"
#include "VelStdActns.h"
#include "uiactions.h"
#include "uiforms.h"
#include "uistdctrls.h"

namespace {

TEST(VelHintAction, AssignedFromAWideHintActionTakesItsAnsiForm) {
  TVelHintAction* source = ui::New<TVelHintAction>(nullptr);
  source->SetHintText(L"Open \u263A");
  TVelHintAction* target = ui::New<TVelHintAction>(nullptr);
  target->Assign(source);
  EXPECT_EQ(target->GetHint(), "Open ?");
  EXPECT_EQ(target->GetHintText(), L"Open ?");
  // A target whose own wide hint already has that ANSI form keeps it.
  TVelHintAction* same = ui::New<TVelHintAction>(nullptr);
  same->SetHintText(L"Open \u4E2D");
  same->Assign(source);
  EXPECT_EQ(same->GetHintText(), L"Open \u4E2D");
  same->Free();
  target->Free();
  source->Free();
}

TEST(VelHintAction, AssignedFromAControlTakesItsWideTextAndHint) {
  ui::TLabel* label = ui::New<ui::TLabel>(nullptr);
  WideSetControlText(label, L"Caf\u00E9 \u263A");
  WideSetControlHint(label, L"Tip \u263A");
  TVelHintAction* action = ui::New<TVelHintAction>(nullptr);
  action->Assign(label);
  EXPECT_EQ(action->GetCaption(), "Caf\xE9 ?");
  EXPECT_EQ(action->GetHint(), "Tip ?");
  action->Free();
  label->Free();
}

TEST(VelHintAction, TakesThePlaceOfTheLibrarysHintAction) {
  struct Seen {
    std::string className;
    std::wstring wideHint;
  };
  std::vector<Seen> seen;
  ui::Application->OnActionExecute = ui::TActionEvent([&](ui::TBasicAction* action, bool& handled) {
    std::wstring wide;
    if (auto* h = ui::As<TVelHintAction>(action)) wide = h->GetHintText();
    seen.push_back({action->ClassName(), wide});
    handled = false;
  });
  VelApplication->SetHintText(L"Open \u263A");
  ui::Application->OnActionExecute = ui::TActionEvent();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].className, "THintAction");
  EXPECT_EQ(seen[1].className, "TVelHintAction");
  EXPECT_EQ(seen[1].wideHint, L"Open \u263A");
  VelApplication->SetHintText(L"");
}

TEST(VelFormMenuSelect, TheSelectedItemsLongHintBecomesTheApplicationsHint) {
  TVelForm* form = ui::New<TVelForm>(nullptr);
  auto* menu = ui::New<TVelMainMenu>(form);
  auto* file = ui::New<TVelMenuItem>(form);
  file->SetCaptionText(L"&File");
  menu->Items()->Add(file);
  auto* open = ui::New<TVelMenuItem>(form);
  open->SetCaptionText(L"&Open");
  open->SetHintText(L"Open|Opens \u263A");
  file->Add(open);
  form->SetMenu(menu);
  HWND h = form->GetHandle();
  SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(open->Command(), MF_STRING), reinterpret_cast<LPARAM>(file->GetHandle()));
  EXPECT_EQ(VelApplication->GetHintText(), L"Opens \u263A");
  SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);  // the menu closes
  EXPECT_EQ(VelApplication->GetHintText(), L"");
  form->Free();
}

TEST(VelAppIdleEventControl, OneOnAMainFormThatIsNotAUnicodeForm) {
  ui::TForm* main = nullptr;
  ui::Application->CreateForm(main);
  ASSERT_EQ(ui::Application->MainForm(), main);
  for (int i = 0; i < 3; ++i) {
    PostMessageW(nullptr, WM_NULL, 0, 0);
    ui::Application->ProcessMessages();
  }
  int idle = 0;
  for (int i = 0; i < main->ControlCount(); ++i)
    if (main->Controls(i)->Is<TVelAppIdleEventControl>()) ++idle;
  EXPECT_EQ(idle, 1);
  main->Free();
}

}  // namespace
