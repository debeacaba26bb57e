// Page control with tab sheets and the track bar, driven through their windows' messages.
#include <gtest/gtest.h>

#include "uiforms.h"
#include "uitabs.h"

#include <commctrl.h>

using namespace ui;

namespace {

class TabsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(100, 100, 420, 300);
  }
  void TearDown() override {
    if (form) form->Free();
  }
  TTabSheet* AddSheet(TPageControl* pc, const char* caption) {
    TTabSheet* s = New<TTabSheet>(form);
    s->SetPageControl(pc);
    s->SetCaption(caption);
    return s;
  }
  std::string TabText(TPageControl* pc, int i) {
    char buf[64] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = buf;
    item.cchTextMax = sizeof buf;
    SendMessageA(pc->GetHandle(), TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    return buf;
  }
  // What the tab control tells its parent when the user clicks tab `i`.
  void UserSelects(TPageControl* pc, int i) {
    NMHDR hdr{pc->GetHandle(), 0, static_cast<UINT>(TCN_SELCHANGING)};
    if (SendMessageA(form->GetHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&hdr))) return;  // refused
    SendMessageA(pc->GetHandle(), TCM_SETCURSEL, static_cast<WPARAM>(i), 0);
    hdr.code = static_cast<UINT>(TCN_SELCHANGE);
    SendMessageA(form->GetHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&hdr));
  }
  TForm* form = nullptr;
};

TEST_F(TabsTest, PagesShowAsTabsAndOnlyTheActivePageIsVisible) {
  TPageControl* pc = New<TPageControl>(form);
  pc->SetParent(form);
  pc->SetBounds(8, 8, 400, 250);
  TTabSheet* jpeg = AddSheet(pc, "JPEG");
  TTabSheet* tiff = AddSheet(pc, "TIFF");
  TTabSheet* gif = AddSheet(pc, "GIF");
  pc->SetActivePage(tiff);
  form->Show();
  ASSERT_EQ(3, pc->PageCount());
  EXPECT_EQ(3, SendMessageA(pc->GetHandle(), TCM_GETITEMCOUNT, 0, 0));
  EXPECT_EQ("GIF", TabText(pc, 2));
  EXPECT_EQ(1, SendMessageA(pc->GetHandle(), TCM_GETCURSEL, 0, 0));
  EXPECT_TRUE(IsWindowVisible(tiff->GetHandle()));
  EXPECT_FALSE(jpeg->GetVisible());
  // The page fills the display area below the tabs.
  RECT d = pc->DisplayRect();
  EXPECT_EQ(d.left, tiff->GetLeft());
  EXPECT_EQ(d.top, tiff->GetTop());
  EXPECT_GT(d.top, 10);
  EXPECT_EQ(d.right - d.left, tiff->GetWidth());

  // A user click: OnChanging may refuse, OnChange follows an accepted change.
  std::vector<std::string> events;
  bool allow = false;
  pc->OnChanging = [&](TObject*, bool& a) {
    events.push_back("changing");
    a = allow;
  };
  pc->OnChange = [&](TObject*) { events.push_back("change " + pc->GetActivePage()->GetCaption()); };
  UserSelects(pc, 2);
  EXPECT_EQ(tiff, pc->GetActivePage());
  allow = true;
  UserSelects(pc, 2);
  EXPECT_EQ(gif, pc->GetActivePage());
  EXPECT_TRUE(IsWindowVisible(gif->GetHandle()));
  EXPECT_FALSE(IsWindowVisible(tiff->GetHandle()));
  EXPECT_EQ((std::vector<std::string>{"changing", "changing", "change GIF"}), events);

  // A caption change renames the tab; setting the page from the program fires nothing.
  events.clear();
  jpeg->SetCaption("JPEG 2");
  EXPECT_EQ("JPEG 2", TabText(pc, 0));
  pc->SetActivePageIndex(0);
  EXPECT_EQ(jpeg, pc->GetActivePage());
  EXPECT_TRUE(events.empty());
}

TEST_F(TabsTest, HiddenTabsLeaveTheTabRowAndHidingTheActiveOneMovesOn) {
  TPageControl* pc = New<TPageControl>(form);
  pc->SetParent(form);
  pc->SetBounds(8, 8, 400, 250);
  TTabSheet* a = AddSheet(pc, "A");
  TTabSheet* b = AddSheet(pc, "B");
  TTabSheet* c = AddSheet(pc, "C");
  pc->SetActivePage(b);
  form->Show();
  b->SetTabVisible(false);
  EXPECT_EQ(2, SendMessageA(pc->GetHandle(), TCM_GETITEMCOUNT, 0, 0));
  EXPECT_EQ("C", TabText(pc, 1));
  EXPECT_EQ(c, pc->GetActivePage());
  EXPECT_EQ(-1, b->TabIndex());
  EXPECT_EQ(1, c->TabIndex());
  c->SetTabVisible(false);
  EXPECT_EQ(a, pc->GetActivePage());  // none after it: the one before
  a->SetTabVisible(false);
  EXPECT_EQ(nullptr, pc->GetActivePage());
  EXPECT_EQ(0, SendMessageA(pc->GetHandle(), TCM_GETITEMCOUNT, 0, 0));
  // Showing tabs again activates nothing by itself; the program picks the page.
  c->SetTabVisible(true);
  a->SetTabVisible(true);
  EXPECT_EQ(nullptr, pc->GetActivePage());
  pc->SetActivePage(c);
  EXPECT_EQ(1, SendMessageA(pc->GetHandle(), TCM_GETCURSEL, 0, 0));
  // A freed page leaves the control; a shown neighbour takes over.
  c->Free();
  EXPECT_EQ(2, pc->PageCount());
  EXPECT_EQ(a, pc->GetActivePage());
  EXPECT_EQ(1, SendMessageA(pc->GetHandle(), TCM_GETITEMCOUNT, 0, 0));
  EXPECT_TRUE(IsWindowVisible(a->GetHandle()));
}

TEST_F(TabsTest, TrackBarRangeTicksPositionAndScrollNotifications) {
  TTrackBar* tb = New<TTrackBar>(form);
  tb->SetParent(form);
  tb->SetBounds(8, 8, 200, 40);
  tb->SetMax(100);
  tb->SetFrequency(5);
  tb->SetThumbLength(10);
  std::vector<int> changes;
  tb->OnChange = [&](TObject*) { changes.push_back(tb->GetPosition()); };
  tb->SetPosition(40);
  tb->SetPosition(400);  // clamped
  form->Show();
  HWND h = tb->GetHandle();
  EXPECT_EQ(100, SendMessageA(h, TBM_GETRANGEMAX, 0, 0));
  EXPECT_EQ(100, SendMessageA(h, TBM_GETPOS, 0, 0));
  EXPECT_EQ(10, SendMessageA(h, TBM_GETTHUMBLENGTH, 0, 0));
  EXPECT_EQ(21, SendMessageA(h, TBM_GETNUMTICS, 0, 0));  // 0, 5, ... 100
  // The user drags the thumb: the control moves and tells its parent.
  SendMessageA(h, TBM_SETPOS, TRUE, 35);
  SendMessageA(form->GetHandle(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 35), reinterpret_cast<LPARAM>(h));
  SendMessageA(form->GetHandle(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(h));
  EXPECT_EQ((std::vector<int>{40, 100, 35}), changes);
  EXPECT_EQ(35, tb->GetPosition());
}

}  // namespace
