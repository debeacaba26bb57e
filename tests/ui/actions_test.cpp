// Actions and their links: values reaching buttons and menu items, execution through clicks and the
// application window, the idle-time update and the life of the link.
#include <gtest/gtest.h>

#include "uiactions.h"
#include "uibuttons.h"
#include "uicomctrls.h"
#include "uifiler.h"
#include "uiforms.h"
#include "uimenus.h"

using namespace ui;

namespace {

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(80, 80, 320, 200);
    action = New<TAction>(form);
    action->SetName("Action1");
    action->SetCaption("Open");
    action->SetHint("Open|Opens a file");
  }
  void TearDown() override {
    Application->OnActionExecute = nullptr;
    if (form) form->Free();
  }
  static void Pump() {
    for (int i = 0; i < 3; ++i) {
      Application->ProcessMessages();
      Sleep(10);
    }
  }
  TButton* AddButton() {
    TButton* b = New<TButton>(form);
    b->SetParent(form);
    b->SetBounds(8, 8, 90, 25);
    return b;
  }
  TMenuItem* AddMenuItem() {
    TMainMenu* menu = New<TMainMenu>(form);
    TMenuItem* file = New<TMenuItem>(form);
    file->SetCaption("&File");
    TMenuItem* item = New<TMenuItem>(form);
    file->Add(item);
    menu->Items()->Add(file);
    form->SetMenu(menu);
    return item;
  }
  TForm* form = nullptr;
  TAction* action = nullptr;
};

// The native text of the first sub-item of the first menu of the form's menu bar.
std::string NativeSubItemText(TForm* form) {
  HMENU sub = GetSubMenu(GetMenu(form->GetHandle()), 0);
  char text[64] = {};
  GetMenuStringA(sub, 0, text, sizeof text, MF_BYPOSITION);
  return text;
}

TEST_F(ActionsTest, CaptionChangeReachesLinkedButtonAndMenuItem) {
  TButton* button = AddButton();
  TMenuItem* item = AddMenuItem();
  button->SetAction(action);
  item->SetAction(action);
  form->Show();
  EXPECT_EQ("Open", button->GetCaption());
  // The menu gave the item a hot key of its own; it still shows the action's caption.
  EXPECT_EQ("&Open", item->GetCaption());
  EXPECT_TRUE(item->ActionLink()->IsCaptionLinked());

  action->SetCaption("&Open file");
  EXPECT_EQ("&Open file", button->GetCaption());
  char text[64] = {};
  GetWindowTextA(button->GetHandle(), text, sizeof text);
  EXPECT_STREQ("&Open file", text);
  EXPECT_EQ("&Open file", item->GetCaption());
  EXPECT_EQ("&Open file", NativeSubItemText(form));

  // Hint, enabled and visible follow the same way.
  action->SetEnabled(false);
  EXPECT_FALSE(button->GetEnabled());
  EXPECT_FALSE(IsWindowEnabled(button->GetHandle()));
  EXPECT_FALSE(item->GetEnabled());
  action->SetHint("Other");
  EXPECT_EQ("Other", button->GetHint());
  EXPECT_EQ("Other", item->GetHint());
}

TEST_F(ActionsTest, LinksSeeTheOldValueWhileTheyAreToldAndHandChangedValuesStay) {
  TButton* button = AddButton();
  TButton* other = AddButton();
  button->SetAction(action);
  other->SetAction(action);
  other->SetCaption("Mine");  // no longer shows the action's caption
  std::vector<std::string> seen;
  struct Spy : TControlActionLink {
    std::vector<std::string>* seen = nullptr;
    void SetCaption(const std::string& v) override {
      seen->push_back(CustomAction()->GetCaption() + "->" + v);
      TControlActionLink::SetCaption(v);
    }
  };
  // A link made by hand for a third client records what the action holds while it is told.
  TLabel* label = New<TLabel>(form);
  label->SetCaption("Open");
  Spy spy;
  spy.seen = &seen;
  spy.AssignClient(label);
  spy.SetAction(action);
  action->SetCaption("Close");
  EXPECT_EQ((std::vector<std::string>{"Open->Close"}), seen);
  EXPECT_EQ("Close", label->GetCaption());
  EXPECT_EQ("Close", button->GetCaption());
  EXPECT_EQ("Mine", other->GetCaption());
  spy.SetAction(nullptr);
  EXPECT_EQ(2, action->ClientCount());
}

TEST_F(ActionsTest, ClickExecutesTheActionUnlessOnClickIsAssignedOrTheActionIsDisabled) {
  TButton* button = AddButton();
  TMenuItem* item = AddMenuItem();
  int executed = 0;
  action->OnExecute = [&](TObject* s) {
    EXPECT_EQ(action, s);
    ++executed;
  };
  button->SetAction(action);
  item->SetAction(action);
  form->Show();
  SendMessageA(button->GetHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(1, executed);
  SendMessageA(form->GetHandle(), WM_COMMAND, MAKEWPARAM(item->Command(), 0), 0);
  EXPECT_EQ(2, executed);
  int own = 0;
  button->OnClick = [&](TObject*) { ++own; };
  button->Click();
  EXPECT_EQ(1, own);
  EXPECT_EQ(2, executed);
  action->SetEnabled(false);
  EXPECT_FALSE(action->Execute());
  item->Click();
  EXPECT_EQ(2, executed);
}

TEST_F(ActionsTest, CheckDefaultsKeepTheControlsOwnValues) {
  TButton* named = AddButton();
  named->SetName("Button1");
  named->SetCaption("Button1");  // the caption a new button gets from its name counts as a default
  TButton* custom = AddButton();
  custom->SetCaption("Custom");
  custom->SetHint("Own hint");
  // Assigned while loading, the action only fills what still holds its default.
  for (TButton* b : {named, custom}) {
    b->SetLoading(true);
    b->SetAction(action);
    b->SetLoading(false);
  }
  EXPECT_EQ("Open", named->GetCaption());
  EXPECT_EQ("Open|Opens a file", named->GetHint());
  EXPECT_EQ("Custom", custom->GetCaption());
  EXPECT_EQ("Own hint", custom->GetHint());
}

TEST_F(ActionsTest, IdleTimeUpdateReachesActionsOfVisibleControlsAndMenuItems) {
  TButton* button = AddButton();
  button->SetAction(action);
  TAction* menuAction = New<TAction>(form);
  TMenuItem* item = AddMenuItem();
  item->SetAction(menuAction);
  int buttonUpdates = 0, menuUpdates = 0;
  action->OnUpdate = [&](TObject*) {
    ++buttonUpdates;
    action->SetEnabled(false);
  };
  menuAction->OnUpdate = [&](TObject*) { ++menuUpdates; };
  form->Show();
  Pump();
  // The loop runs the idle step when its queue is empty; a timer wakes it up again afterwards. It is
  // served until both actions were updated, for at most 10 s.
  SetTimer(form->GetHandle(), 7, 30, nullptr);
  const DWORD start = GetTickCount();
  while ((buttonUpdates < 1 || menuUpdates < 1) && GetTickCount() - start < 10000) Application->HandleMessage();
  KillTimer(form->GetHandle(), 7);
  EXPECT_GE(buttonUpdates, 1);
  EXPECT_GE(menuUpdates, 1);
  EXPECT_FALSE(button->GetEnabled());

  // Hidden controls are left alone.
  buttonUpdates = 0;
  button->SetVisible(false);
  form->UpdateActions();
  EXPECT_EQ(0, buttonUpdates);
}

// A control that takes hint actions, as a status line would.
class THintTaker : public TCustomControl {
  UI_DECLARE_CLASS(THintTaker, TCustomControl)
 public:
  std::vector<std::string> hints;
  bool ExecuteAction(TBasicAction* a) override {
    if (auto* h = As<THintAction>(a)) {
      hints.push_back(h->GetHint());
      return true;
    }
    return false;
  }
};
UI_IMPLEMENT_CLASS(THintTaker, TCustomControl, nullptr, nullptr, nullptr, nullptr)

TEST_F(ActionsTest, ApplicationHintGoesOutAsHintActionThroughTheApplicationWindow) {
  // The application window offers actions to the active form and then to the main form; the main
  // form does not depend on which window of the shared display is active.
  TForm* main = nullptr;
  Application->CreateForm(main);
  ASSERT_EQ(main, Application->MainForm());
  THintTaker* taker = New<THintTaker>(main);
  taker->SetParent(main);
  taker->SetBounds(0, 150, 320, 20);
  main->Show();
  Pump();
  std::vector<UINT> hooked;
  TWindowHook hook = [&](TMessage& m) {
    if (m.Msg == CM_ACTIONEXECUTE && As<THintAction>(reinterpret_cast<TObject*>(m.LParam))) hooked.push_back(m.Msg);
    return false;
  };
  Application->HookMainWindow(hook);
  Application->SetHint("Saves the file");
  Application->SetHint("");
  Application->UnhookMainWindow(hook);
  EXPECT_EQ((std::vector<std::string>{"Saves the file", ""}), taker->hints);
  EXPECT_EQ(2u, hooked.size());

  // The application's own handler comes first and can take an action.
  TBasicAction* took = nullptr;
  Application->OnActionExecute = [&](TBasicAction* a, bool& handled) {
    took = a;
    handled = true;
  };
  EXPECT_TRUE(action->Execute());
  EXPECT_EQ(action, took);
  main->Free();
}

TEST_F(ActionsTest, FreeingTheActionUnlinksItsClients) {
  TButton* button = AddButton();
  TMenuItem* item = AddMenuItem();
  button->SetAction(action);
  item->SetAction(action);
  ASSERT_EQ(2, action->ClientCount());
  action->Free();
  action = nullptr;
  EXPECT_EQ(nullptr, button->GetAction());
  EXPECT_EQ(nullptr, button->ActionLink());
  EXPECT_EQ(nullptr, item->GetAction());
  EXPECT_EQ("Open", button->GetCaption());  // what the client showed stays
}

TEST_F(ActionsTest, ControlsGetTheLinkClassOfTheirFamily) {
  struct Case {
    TControl* control;
    TClass link;
  };
  TSpeedButton* sb = New<TSpeedButton>(form);
  TListView* lv = New<TListView>(form);
  TLabel* label = New<TLabel>(form);
  TEdit* edit = New<TEdit>(form);
  const Case cases[] = {{AddButton(), &TButtonActionLink::StaticClassInfo},
                        {sb, &TSpeedButtonActionLink::StaticClassInfo},
                        {lv, &TListViewActionLink::StaticClassInfo},
                        {label, &TControlActionLink::StaticClassInfo},
                        {edit, &TWinControlActionLink::StaticClassInfo}};
  for (const Case& c : cases) {
    c.control->SetAction(action);
    ASSERT_NE(nullptr, c.control->ActionLink()) << c.control->ClassName();
    EXPECT_EQ(c.link, c.control->ActionLink()->ClassType()) << c.control->ClassName();
  }
  // A speed button of an all-up group shows the action's Checked as Down.
  sb->SetGroupIndex(3);
  sb->SetAllowAllUp(true);
  action->SetChecked(true);
  EXPECT_TRUE(sb->GetDown());
}

TEST_F(ActionsTest, LinkedValuesAreNotStoredAndTheActionReferenceSurvivesALayoutRoundTrip) {
  form->SetName("ActionForm");
  TButton* button = AddButton();
  button->SetName("Button1");
  button->SetAction(action);
  TButton* own = AddButton();
  own->SetName("Button2");
  own->SetAction(action);
  own->SetCaption("Own");
  EXPECT_FALSE(button->IsCaptionStored());
  EXPECT_FALSE(button->IsHintStored());
  EXPECT_TRUE(own->IsCaptionStored());
  TMemoryStream ms;
  WriteComponentToStream(&ms, form);
  ms.SetPosition(0);
  auto* copy = static_cast<TForm*>(ReadComponentFromStream(&ms, nullptr));
  auto* a2 = As<TAction>(copy->FindComponent("Action1"));
  auto* b1 = As<TButton>(copy->FindComponent("Button1"));
  auto* b2 = As<TButton>(copy->FindComponent("Button2"));
  ASSERT_TRUE(a2 && b1 && b2);
  EXPECT_EQ(a2, b1->GetAction());
  EXPECT_EQ("Open", b1->GetCaption());
  EXPECT_EQ("Own", b2->GetCaption());
  a2->SetCaption("Changed");
  EXPECT_EQ("Changed", b1->GetCaption());
  copy->Free();
}

}  // namespace
