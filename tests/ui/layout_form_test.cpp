// A form read from its layout resource (edit, label, list view, up-down with its edit, progress bar,
// menu), shown and driven through real window messages.
#include <gtest/gtest.h>

#include "uicomctrls.h"
#include "uiforms.h"
#include "uimenus.h"
#include "uistdctrls.h"

using namespace ui;

namespace {

class TMainTestForm : public TForm {
  UI_DECLARE_CLASS(TMainTestForm, TForm)
 public:
  TLabel* Label1 = nullptr;
  TEdit* Edit1 = nullptr;
  TEdit* Edit2 = nullptr;
  TUpDown* UpDown1 = nullptr;
  TListView* ListView1 = nullptr;
  TProgressBar* ProgressBar1 = nullptr;
  TMainMenu* MainMenu1 = nullptr;
  TMenuItem* ExitItem = nullptr;

  std::vector<std::string> log;
  int changes = 0, exits = 0;
  TListItem* changedItem = nullptr;
  void EditChange(TObject*) { ++changes; }
  void ControlEnter(TObject* s) { log.push_back("enter " + static_cast<TComponent*>(s)->GetName()); }
  void ControlExit(TObject* s) { log.push_back("exit " + static_cast<TComponent*>(s)->GetName()); }
  void ListChange(TObject*, TListItem* item, TItemChange change) {
    if (change == ctState) changedItem = item;
  }
  void ExitClick(TObject*) { ++exits; }
};

std::vector<TFieldInfo> Fields() {
  using T = TMainTestForm;
  return {PublishedField("Label1", &T::Label1),         PublishedField("Edit1", &T::Edit1),
          PublishedField("Edit2", &T::Edit2),           PublishedField("UpDown1", &T::UpDown1),
          PublishedField("ListView1", &T::ListView1),   PublishedField("ProgressBar1", &T::ProgressBar1),
          PublishedField("MainMenu1", &T::MainMenu1),   PublishedField("ExitItem", &T::ExitItem)};
}
std::vector<TMethodInfo> Methods() {
  using T = TMainTestForm;
  return {PublishedMethod("EditChange", &T::EditChange), PublishedMethod("ControlEnter", &T::ControlEnter),
          PublishedMethod("ControlExit", &T::ControlExit), PublishedMethod("ListChange", &T::ListChange),
          PublishedMethod("ExitClick", &T::ExitClick)};
}
UI_IMPLEMENT_CLASS(TMainTestForm, TForm, DefaultFactory<TMainTestForm>, nullptr, Fields, Methods)

class LayoutFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TMainTestForm>(nullptr);
    form->Show();
    Pump();
  }
  void TearDown() override {
    if (form) form->Free();
  }
  static void Pump() {
    for (int i = 0; i < 3; ++i) {
      Application->ProcessMessages();
      Sleep(10);
    }
  }
  std::string WindowText(HWND h) {
    char buf[256] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
  }
  TMainTestForm* form = nullptr;
};

TEST_F(LayoutFormTest, ReadsEveryControlFromTheResource) {
  ASSERT_NE(nullptr, form->Edit1);
  ASSERT_NE(nullptr, form->ListView1);
  EXPECT_EQ("Layout test", WindowText(form->GetHandle()));
  EXPECT_EQ("first", WindowText(form->Edit1->GetHandle()));
  EXPECT_EQ(form->Edit1, form->Label1->GetFocusControl());
  EXPECT_EQ(form->Edit2, form->UpDown1->GetAssociate());
  EXPECT_EQ(30, form->ProgressBar1->GetPosition());
  EXPECT_EQ(30, SendMessageA(form->ProgressBar1->GetHandle(), PBM_GETPOS, 0, 0));
  EXPECT_EQ(form->MainMenu1, form->GetMenu());
  HWND lv = form->ListView1->GetHandle();
  EXPECT_EQ(12, SendMessageA(lv, LVM_GETITEMCOUNT, 0, 0));
  HWND header = reinterpret_cast<HWND>(SendMessageA(lv, LVM_GETHEADER, 0, 0));
  EXPECT_EQ(2, SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  EXPECT_EQ(100, SendMessageA(lv, LVM_GETCOLUMNWIDTH, 1, 0));
  // Texts are served by callback from the items.
  char buf[64] = {};
  LVITEMA it{};
  it.iSubItem = 1;
  it.pszText = buf;
  it.cchTextMax = sizeof buf;
  SendMessageA(lv, LVM_GETITEMTEXTA, 7, reinterpret_cast<LPARAM>(&it));
  EXPECT_STREQ("*.f7", buf);
  EXPECT_TRUE(SendMessageA(lv, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
  EXPECT_FALSE(GetWindowLongPtrA(lv, GWL_STYLE) & LVS_EDITLABELS);  // ReadOnly
}

TEST_F(LayoutFormTest, TypingIntoTheEditFiresOnChangeSynchronously) {
  HWND e = form->Edit1->GetHandle();
  int before = form->changes;
  SendMessageA(e, WM_CHAR, 'x', 1);
  EXPECT_EQ(before + 1, form->changes);
  SendMessageA(e, WM_CHAR, 'y', 1);
  EXPECT_EQ(before + 2, form->changes);
  EXPECT_NE(std::string::npos, form->Edit1->GetText().find("xy"));
}

TEST_F(LayoutFormTest, TabMovesFocusWithExitBeforeEnter) {
  form->Edit1->SetFocus();
  Pump();
  ASSERT_EQ(form->Edit1->GetHandle(), GetFocus());
  form->log.clear();
  PostMessageA(form->Edit1->GetHandle(), WM_KEYDOWN, VK_TAB, 1);
  Pump();
  EXPECT_EQ(form->Edit2->GetHandle(), GetFocus());
  EXPECT_EQ((std::vector<std::string>{"exit Edit1", "enter Edit2"}), form->log);
  EXPECT_EQ(form->Edit2, form->GetActiveControl());
}

TEST_F(LayoutFormTest, AltAcceleratorOfALabelFocusesItsControl) {
  form->Edit2->SetFocus();
  Pump();
  PostMessageA(form->Edit2->GetHandle(), WM_SYSCHAR, 'n', 0x20000000);
  Pump();
  EXPECT_EQ(form->Edit1->GetHandle(), GetFocus());
}

TEST_F(LayoutFormTest, ListViewSelectionChangeFiresOnChange) {
  TListView* lv = form->ListView1;
  lv->GetItems()->Item(3)->SetSelected(true);
  EXPECT_EQ(lv->GetItems()->Item(3), form->changedItem);
  EXPECT_EQ(lv->GetItems()->Item(3), lv->GetSelected());
  EXPECT_EQ("Format3", lv->GetSelected()->GetCaption());
  EXPECT_EQ("*.f3", lv->GetSelected()->SubItems()->Get(0));
  // A click on another row, as the user makes it.
  RECT r{LVIR_BOUNDS, 0, 0, 0};
  SendMessageA(lv->GetHandle(), LVM_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&r));
  LPARAM at = MAKELPARAM(r.left + 10, (r.top + r.bottom) / 2);
  SendMessageA(lv->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(lv->GetHandle(), WM_LBUTTONUP, 0, at);
  Pump();
  EXPECT_EQ(lv->GetItems()->Item(5), lv->GetSelected());
  EXPECT_EQ(lv->GetItems()->Item(5), form->changedItem);
}

TEST_F(LayoutFormTest, UpDownWritesItsPositionIntoItsEdit) {
  TUpDown* ud = form->UpDown1;
  EXPECT_EQ("5", form->Edit2->GetText());
  ud->SetPosition(42);
  EXPECT_EQ("42", form->Edit2->GetText());
  // The up arrow, pressed with the mouse.
  RECT r;
  GetClientRect(ud->GetHandle(), &r);
  LPARAM at = MAKELPARAM(r.right / 2, 2);
  SendMessageA(ud->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(ud->GetHandle(), WM_LBUTTONUP, 0, at);
  Pump();
  EXPECT_EQ(43, ud->GetPosition());
  EXPECT_EQ("43", form->Edit2->GetText());
  // A handler can refuse the change; it is told the value and the direction.
  int proposed = 0;
  TUpDownDirection dir = updNone;
  ud->OnChangingEx = [&](TObject*, bool& allow, int value, TUpDownDirection d) {
    proposed = value;
    dir = d;
    allow = false;
  };
  SendMessageA(ud->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(ud->GetHandle(), WM_LBUTTONUP, 0, at);
  Pump();
  EXPECT_EQ(44, proposed);
  EXPECT_EQ(updUp, dir);
  EXPECT_EQ(43, ud->GetPosition());
  EXPECT_EQ("43", form->Edit2->GetText());
}

TEST_F(LayoutFormTest, MenuCommandReachesItsOnClick) {
  HMENU bar = GetMenu(form->GetHandle());
  ASSERT_NE(nullptr, bar);
  HMENU file = GetSubMenu(bar, 0);
  ASSERT_NE(nullptr, file);
  UINT id = GetMenuItemID(file, 0);
  EXPECT_EQ(form->ExitItem->Command(), id);
  PostMessageA(form->GetHandle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
  Pump();
  EXPECT_EQ(1, form->exits);
}

}  // namespace
