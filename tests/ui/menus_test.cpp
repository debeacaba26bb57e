// Menus: shortcut texts, native entries, automatic hot keys, owner drawing, merging, popup menus,
// hints of menu items and shortcut keys.
#include <gtest/gtest.h>

#include "uiforms.h"
#include "uimenus.h"

using namespace ui;

namespace {

TEST(ShortCutText, TableOfKeysAndShiftStates) {
  struct Case {
    int shortCut;
    const char* text;
  };
  const Case cases[] = {
      {ShortCut('S', ssCtrl), "Ctrl+S"},
      {ShortCut('4', ssAlt), "Alt+4"},
      {ShortCut(VK_F1, 0), "F1"},
      {ShortCut(VK_F24, ssShift), "Shift+F24"},
      {ShortCut(VK_DELETE, ssShift | ssCtrl | ssAlt), "Shift+Ctrl+Alt+Del"},
      {ShortCut(VK_RETURN, ssCtrl), "Ctrl+Enter"},
      {ShortCut(VK_ESCAPE, 0), "Esc"},
      {ShortCut(VK_TAB, ssShift), "Shift+Tab"},
      {ShortCut(VK_BACK, ssAlt), "Alt+BkSp"},
      {ShortCut(VK_SPACE, ssCtrl), "Ctrl+Space"},
      {ShortCut(VK_PRIOR, 0), "PgUp"},
      {ShortCut(VK_NEXT, 0), "PgDn"},
      {ShortCut(VK_HOME, 0), "Home"},
      {ShortCut(VK_END, 0), "End"},
      {ShortCut(VK_LEFT, 0), "Left"},
      {ShortCut(VK_UP, 0), "Up"},
      {ShortCut(VK_RIGHT, 0), "Right"},
      {ShortCut(VK_DOWN, 0), "Down"},
      {ShortCut(VK_INSERT, ssCtrl), "Ctrl+Ins"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, ShortCutToText(c.shortCut)) << std::hex << c.shortCut;
    EXPECT_EQ(c.shortCut, TextToShortCut(c.text)) << c.text;
  }
  EXPECT_EQ(scCtrl | 'S', ShortCut('S', ssCtrl));
  EXPECT_EQ(ShortCut('S', ssCtrl), TextToShortCut("ctrl+s"));  // without regard to case
  EXPECT_EQ("", ShortCutToText(0));
  EXPECT_EQ(0, TextToShortCut(""));
  EXPECT_EQ(0, TextToShortCut("Ctrl+"));
  EXPECT_EQ(0, TextToShortCut("Ctrl+NoSuchKey"));
  EXPECT_EQ(0, ShortCut(0x1234, ssCtrl));  // not a key of one byte
  WORD key;
  int shift;
  ShortCutToKey(ShortCut(VK_F5, ssShift | ssAlt), key, shift);
  EXPECT_EQ(VK_F5, key);
  EXPECT_EQ(ssShift | ssAlt, shift);
}

class MenusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(100, 100, 320, 200);
    menu = New<TMainMenu>(form);
  }
  void TearDown() override {
    Application->SetHint("");
    if (form) form->Free();
  }
  TMenuItem* Item(TMenuItem* parent, const std::string& caption) {
    TMenuItem* i = New<TMenuItem>(form);
    i->SetCaption(caption);
    parent->Add(i);
    return i;
  }
  static std::string Text(HMENU h, int pos) {
    char text[80] = {};
    GetMenuStringA(h, static_cast<UINT>(pos), text, sizeof text, MF_BYPOSITION);
    return text;
  }
  HMENU Bar() { return GetMenu(form->GetHandle()); }
  TForm* form = nullptr;
  TMainMenu* menu = nullptr;
};

TEST_F(MenusTest, NativeEntriesShowShortcutsAndFollowChangesInPlace) {
  TMenuItem* file = Item(menu->Items(), "&File");
  TMenuItem* save = Item(file, "&Save");
  TMenuItem* line = Item(file, "-");
  TMenuItem* quit = Item(file, "E&xit");
  save->SetShortCut(ShortCut('S', ssCtrl));
  file->SetShortCut(ShortCut('F', ssAlt));  // a menu bar item never shows its shortcut
  form->SetMenu(menu);
  form->Show();
  HMENU sub = GetSubMenu(Bar(), 0);
  ASSERT_NE(nullptr, sub);
  EXPECT_EQ("&File", Text(Bar(), 0));
  EXPECT_EQ("&Save\tCtrl+S", Text(sub, 0));
  EXPECT_EQ(MF_SEPARATOR, GetMenuState(sub, 1, MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_EQ(quit->Command(), GetMenuItemID(sub, 2));

  save->SetCaption("Save &as");
  save->SetChecked(true);
  quit->SetEnabled(false);
  EXPECT_EQ("Save &as\tCtrl+S", Text(sub, 0));
  EXPECT_TRUE(GetMenuState(sub, 0, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_TRUE(GetMenuState(sub, 2, MF_BYPOSITION) & MF_GRAYED);
  // Hiding an item builds the sub-menu again without it.
  line->SetVisible(false);
  EXPECT_EQ(2, GetMenuItemCount(sub));
  EXPECT_EQ(quit->Command(), GetMenuItemID(sub, 1));
  EXPECT_EQ(file, menu->FindItem(reinterpret_cast<UINT_PTR>(sub), true));
  EXPECT_EQ(quit, menu->FindItem(quit->Command(), false));
}

TEST_F(MenusTest, AutomaticHotKeysAvoidTheLettersOfSiblings) {
  TMenuItem* file = Item(menu->Items(), "File");
  TMenuItem* format = Item(menu->Items(), "Format");
  TMenuItem* help = Item(menu->Items(), "&Help");
  TMenuItem* fix = Item(menu->Items(), "Fix");
  TMenuItem* open = Item(file, "Open");
  TMenuItem* other = Item(file, "Open again");
  form->SetMenu(menu);
  form->Show();
  EXPECT_EQ("&File", file->GetCaption());
  EXPECT_EQ("F&ormat", format->GetCaption());
  EXPECT_EQ("&Help", help->GetCaption());
  EXPECT_EQ("F&ix", fix->GetCaption());
  EXPECT_EQ("&Open", open->GetCaption());
  EXPECT_EQ("Open &again", other->GetCaption());  // first letters of words before other letters
  EXPECT_EQ("F&ormat", Text(Bar(), 1));

  // Manual menus keep their captions as given.
  TMainMenu* manual = New<TMainMenu>(form);
  manual->SetAutoHotkeys(maManual);
  TMenuItem* plain = Item(manual->Items(), "Plain");
  form->SetMenu(manual);
  EXPECT_EQ("Plain", plain->GetCaption());
  // An item can opt out on its own.
  TMenuItem* sub = New<TMenuItem>(form);
  sub->SetCaption("About");
  sub->SetAutoHotkeys(maiManual);
  help->Add(sub);
  help->GetHandle();
  EXPECT_EQ("About", sub->GetCaption());
}

TEST_F(MenusTest, MenuSelectSetsTheApplicationHintAndPopupOpeningUpdatesActions) {
  TMenuItem* file = Item(menu->Items(), "&File");
  TMenuItem* open = Item(file, "&Open");
  TAction* action = New<TAction>(form);
  int updates = 0;
  action->OnUpdate = [&](TObject*) { ++updates; };
  open->SetAction(action);
  open->SetHint("Open|Opens a file");
  form->SetMenu(menu);
  form->Show();
  HMENU sub = GetSubMenu(Bar(), 0);
  std::string hint;
  Application->OnHint = [&](TObject*) { hint = Application->GetHint(); };
  SendMessageA(form->GetHandle(), WM_MENUSELECT, MAKEWPARAM(open->Command(), MF_HILITE), reinterpret_cast<LPARAM>(sub));
  EXPECT_EQ("Opens a file", hint);
  SendMessageA(form->GetHandle(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);  // the menu closed
  EXPECT_EQ("", hint);
  SendMessageA(form->GetHandle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), 0);
  EXPECT_EQ(1, updates);
  Application->OnHint = nullptr;
}

TEST_F(MenusTest, ShortcutKeysClickEnabledVisibleItems) {
  TMenuItem* file = Item(menu->Items(), "&File");
  TMenuItem* save = Item(file, "&Save");
  save->SetShortCut(ShortCut('S', ssCtrl));
  int clicks = 0;
  save->OnClick = [&](TObject*) { ++clicks; };
  form->SetMenu(menu);
  EXPECT_TRUE(form->IsShortCut('S', ssCtrl));
  EXPECT_FALSE(form->IsShortCut('S', 0));
  EXPECT_EQ(1, clicks);
  save->SetEnabled(false);
  EXPECT_FALSE(form->IsShortCut('S', ssCtrl));
  save->SetEnabled(true);
  file->SetVisible(false);
  EXPECT_FALSE(form->IsShortCut('S', ssCtrl));
  EXPECT_EQ(1, clicks);
}

TEST_F(MenusTest, MergedItemsTakeThePlacesOfTheirGroupAndReceiveTheirCommands) {
  TMenuItem* file = Item(menu->Items(), "&File");
  TMenuItem* window = Item(menu->Items(), "&Window");
  window->SetGroupIndex(5);
  Item(window, "&Tile");
  TMainMenu* child = New<TMainMenu>(form);
  TMenuItem* edit = Item(child->Items(), "&Edit");
  edit->SetGroupIndex(1);
  TMenuItem* cut = Item(edit, "Cu&t");
  TMenuItem* window2 = Item(child->Items(), "&Arrange");
  window2->SetGroupIndex(5);
  Item(window2, "&Cascade");
  form->SetMenu(menu);
  form->Show();
  menu->Merge(child);
  ASSERT_EQ(3, GetMenuItemCount(Bar()));
  EXPECT_EQ("&File", Text(Bar(), 0));
  EXPECT_EQ("&Edit", Text(Bar(), 1));
  EXPECT_EQ("&Arrange", Text(Bar(), 2));
  EXPECT_EQ(child->Items(), menu->Items()->Merged());
  EXPECT_EQ(menu->Items(), child->Items()->MergedWith());
  int cuts = 0;
  cut->OnClick = [&](TObject*) { ++cuts; };
  SendMessageA(form->GetHandle(), WM_COMMAND, MAKEWPARAM(cut->Command(), 0), 0);
  EXPECT_EQ(1, cuts);
  // A change of a merged item shows in the menu bar it is merged into.
  edit->SetCaption("&Edit it");
  EXPECT_EQ("&Edit it", Text(Bar(), 1));
  menu->Unmerge(child);
  ASSERT_EQ(2, GetMenuItemCount(Bar()));
  EXPECT_EQ("&Window", Text(Bar(), 1));
  EXPECT_EQ(file, menu->Items()->Items(0));
}

// Closes whatever menu is being tracked once it had time to draw.
void CALLBACK EndMenuTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  EndMenu();
}

TEST_F(MenusTest, OwnerDrawnPopupItemsGetTheirDrawAndMeasureEvents) {
  TPopupMenu* popup = New<TPopupMenu>(form);
  popup->SetOwnerDraw(true);
  TMenuItem* custom = Item(popup->Items(), "&Custom");
  TMenuItem* plain = Item(popup->Items(), "&Plain");
  TMenuItem* drawnByBase = Item(popup->Items(), "&Base");
  drawnByBase->SetShortCut(ShortCut('B', ssCtrl));
  drawnByBase->SetChecked(true);
  Item(popup->Items(), "-");
  int measured = 0, drawn = 0, plainDrawn = 0;
  RECT drawnRect{};
  custom->OnMeasureItem = [&](TObject* s, TCanvas* c, int& w, int& h) {
    EXPECT_EQ(custom, s);
    EXPECT_NE(nullptr, c);
    EXPECT_GT(w, 0);  // the library measured first
    ++measured;
    w = 150;
    h = 30;
  };
  custom->OnAdvancedDrawItem = [&](TObject* s, TCanvas* c, RECT r, int state) {
    EXPECT_EQ(custom, s);
    (void)state;
    c->Brush()->SetColor(clRed);
    c->FillRect(r);
    drawnRect = r;
    ++drawn;
  };
  plain->OnDrawItem = [&](TObject*, TCanvas*, RECT, bool) { ++plainDrawn; };
  form->Show();
  SetTimer(nullptr, 0, 300, EndMenuTimer);
  popup->Popup(form->GetLeft() + 20, form->GetTop() + 20);
  EXPECT_GE(measured, 1);
  EXPECT_GE(drawn, 1);
  EXPECT_GE(plainDrawn, 1);
  EXPECT_EQ(30, drawnRect.bottom - drawnRect.top);
  EXPECT_GE(drawnRect.right - drawnRect.left, 150);
}

TEST_F(MenusTest, OwnerDrawnMenuBarItemsAreMeasuredAndDrawnByTheLibraryOrTheirHandler) {
  menu->SetOwnerDraw(true);
  TMenuItem* file = Item(menu->Items(), "&File");
  TMenuItem* view = Item(menu->Items(), "&View");
  Item(file, "&New");
  int measured = 0, drawn = 0;
  view->OnMeasureItem = [&](TObject*, TCanvas*, int&, int&) { ++measured; };
  view->OnDrawItem = [&](TObject*, TCanvas*, RECT r, bool selected) {
    EXPECT_FALSE(selected);
    EXPECT_GT(r.right, r.left);
    ++drawn;
  };
  form->SetMenu(menu);
  form->Show();
  RedrawWindow(form->GetHandle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  DrawMenuBar(form->GetHandle());
  Application->ProcessMessages();
  EXPECT_GE(measured, 1);
  EXPECT_GE(drawn, 1);
  MENUITEMINFOA mi{};
  mi.cbSize = sizeof mi;
  mi.fMask = MIIM_FTYPE;
  GetMenuItemInfoA(Bar(), 0, TRUE, &mi);
  EXPECT_TRUE(mi.fType & MFT_OWNERDRAW);
}

TEST_F(MenusTest, ContextMenuMessagePopsUpTheControlsPopupMenu) {
  TPopupMenu* popup = New<TPopupMenu>(form);
  Item(popup->Items(), "&One");
  TCustomControl* box = New<TCustomControl>(form);
  box->SetParent(form);
  box->SetBounds(10, 10, 100, 60);
  box->SetPopupMenu(popup);
  int popups = 0;
  popup->OnPopup = [&](TObject* s) {
    EXPECT_EQ(popup, s);
    ++popups;
  };
  form->Show();
  SetTimer(nullptr, 0, 200, EndMenuTimer);
  // From the keyboard (-1, -1): the menu opens over the control's middle.
  EXPECT_EQ(1, SendMessageA(box->GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(box->GetHandle()), MAKELPARAM(-1, -1)));
  EXPECT_EQ(1, popups);
  EXPECT_EQ(box, popup->PopupComponent);
  // Without AutoPopup the control leaves the message alone; a freed menu is forgotten.
  popup->SetAutoPopup(false);
  SendMessageA(box->GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(box->GetHandle()), MAKELPARAM(-1, -1));
  EXPECT_EQ(1, popups);
  popup->Free();
  EXPECT_EQ(nullptr, box->GetPopupMenu());
}

TEST_F(MenusTest, PopupListWindowRoutesCommandsOfPopupMenus) {
  TPopupMenu* popup = New<TPopupMenu>(form);
  TMenuItem* one = Item(popup->Items(), "&One");
  int clicks = 0;
  one->OnClick = [&](TObject*) { ++clicks; };
  ASSERT_NE(nullptr, PopupList);
  EXPECT_GE(PopupList->Count(), 1);
  popup->GetHandle();
  SendMessageA(PopupList->Window(), WM_COMMAND, MAKEWPARAM(one->Command(), 0), 0);
  EXPECT_EQ(1, clicks);
  popup->Free();
  for (int i = 0; i < PopupList->Count(); ++i) EXPECT_NE(popup, PopupList->Items(i));
}

// The rebuild hook that a descendant (a wide menu item) extends.
class TRecordingItem : public TMenuItem {
  UI_DECLARE_CLASS(TRecordingItem, TMenuItem)
 public:
  std::vector<bool> changes;

 protected:
  void MenuChanged(bool rebuild) override {
    TMenuItem::MenuChanged(rebuild);
    changes.push_back(rebuild);
  }
};
UI_IMPLEMENT_CLASS(TRecordingItem, TMenuItem, nullptr, nullptr, nullptr, nullptr)

TEST_F(MenusTest, MenuChangedTellsWhetherTheNativeMenuWasRebuilt) {
  menu->SetAutoHotkeys(maManual);
  TRecordingItem* item = New<TRecordingItem>(form);
  item->SetCaption("Item");
  menu->Items()->Add(item);
  form->SetMenu(menu);
  item->changes.clear();
  item->SetChecked(true);
  item->SetCaption("Other");
  item->SetVisible(false);
  EXPECT_EQ((std::vector<bool>{false, false, true}), item->changes);
}

}  // namespace
