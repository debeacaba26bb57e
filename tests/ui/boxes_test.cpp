// Check box and combo box driven through their windows' messages.
#include <gtest/gtest.h>

#include "uiboxes.h"
#include "uiforms.h"

using namespace ui;

namespace {

class BoxesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(80, 80, 320, 240);
  }
  void TearDown() override {
    Application->OnException = nullptr;
    if (form) form->Free();
  }
  template <class T>
  T* Add(int x, int y, int w, int h) {
    T* c = New<T>(form);
    c->SetParent(form);
    c->SetBounds(x, y, w, h);
    return c;
  }
  TForm* form = nullptr;
};

TEST_F(BoxesTest, CheckBoxTogglesOnClicksAndOnProgramChangesAndFiresOnClick) {
  TCheckBox* cb = Add<TCheckBox>(8, 8, 120, 17);
  cb->SetCaption("&Lock");
  int clicks = 0;
  cb->OnClick = [&](TObject*) { ++clicks; };
  cb->SetChecked(true);  // before the window exists
  form->Show();
  EXPECT_EQ(BST_CHECKED, SendMessageA(cb->GetHandle(), BM_GETCHECK, 0, 0));
  SendMessageA(cb->GetHandle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(cb->GetChecked());
  EXPECT_EQ(BST_UNCHECKED, SendMessageA(cb->GetHandle(), BM_GETCHECK, 0, 0));
  cb->SetChecked(true);
  cb->SetChecked(true);  // no change, no click
  EXPECT_EQ(BST_CHECKED, SendMessageA(cb->GetHandle(), BM_GETCHECK, 0, 0));
  EXPECT_EQ(3, clicks);
  // Alt+L reaches it through the form.
  EXPECT_EQ(1, form->Perform(CM_DIALOGCHAR, 'l', 0));
  EXPECT_FALSE(cb->GetChecked());
  EXPECT_EQ(4, clicks);
}

TEST_F(BoxesTest, ComboBoxItemsIndexAndSelectionEvents) {
  TComboBox* combo = Add<TComboBox>(8, 8, 150, 21);
  combo->SetStyle(csDropDownList);
  for (const char* s : {"RGB", "GrayScale", "YCbCr"}) combo->GetItems()->Add(s);
  combo->SetItemIndex(1);  // no window yet
  EXPECT_EQ(1, combo->GetItemIndex());
  std::vector<std::string> events;
  combo->OnClick = [&](TObject*) { events.push_back("click " + std::to_string(combo->GetItemIndex())); };
  combo->OnChange = [&](TObject*) { events.push_back("change " + combo->GetText()); };
  form->Show();
  HWND h = combo->GetHandle();
  EXPECT_EQ(3, SendMessageA(h, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(1, SendMessageA(h, CB_GETCURSEL, 0, 0));
  EXPECT_EQ("GrayScale", combo->GetText());
  EXPECT_TRUE(events.empty());  // setting the index is not a user change

  // The user picks an item: the list selects it and tells the parent.
  SendMessageA(h, CB_SETCURSEL, 2, 0);
  SendMessageA(form->GetHandle(), WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(h));
  EXPECT_EQ((std::vector<std::string>{"click 2", "change YCbCr"}), events);
  EXPECT_EQ(2, combo->GetItemIndex());

  // Items change under the window; the selection stays on its index while it exists.
  combo->GetItems()->Add("CMYK");
  EXPECT_EQ(4, SendMessageA(h, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(2, combo->GetItemIndex());
  combo->GetItems()->Delete(3);
  combo->GetItems()->Delete(2);
  EXPECT_EQ(-1, combo->GetItemIndex());
  combo->SetItemIndex(5);  // out of range: nothing selected
  EXPECT_EQ(-1, combo->GetItemIndex());

  // A new style makes a new window with the same items and selection.
  combo->SetItemIndex(0);
  combo->SetStyle(csDropDown);
  EXPECT_NE(h, combo->GetHandle());
  EXPECT_EQ(2, SendMessageA(combo->GetHandle(), CB_GETCOUNT, 0, 0));
  EXPECT_EQ(0, combo->GetItemIndex());
  EXPECT_EQ("RGB", combo->GetText());
}

TEST_F(BoxesTest, OwnerDrawnComboBoxAsksItsHandlerForEveryItemPainted) {
  TComboBox* combo = Add<TComboBox>(8, 8, 150, 21);
  combo->SetStyle(csOwnerDrawFixed);
  combo->SetItemHeight(18);
  combo->GetItems()->Add("one");
  combo->GetItems()->Add("two");
  combo->SetItemIndex(1);
  std::vector<int> drawn;
  combo->OnDrawItem = [&](TWinControl* c, int index, const RECT& r, unsigned) {
    EXPECT_EQ(combo, c);
    drawn.push_back(index);
    combo->Canvas()->Brush()->SetColor(clRed);
    combo->Canvas()->FillRect(r);
  };
  form->Show();
  EXPECT_EQ(18, SendMessageA(combo->GetHandle(), CB_GETITEMHEIGHT, 0, 0));
  RedrawWindow(combo->GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(1, drawn.back());  // the selected item shows in the closed box
  // What the handler painted is on the screen.
  HDC dc = GetDC(combo->GetHandle());
  EXPECT_EQ(RGB(255, 0, 0), GetPixel(dc, 6, 6));
  ReleaseDC(combo->GetHandle(), dc);
}

}  // namespace
