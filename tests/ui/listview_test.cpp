// List view: owner data, sorting, label editing, owner drawing, check boxes, the item class, copying
// the selection, the text messages that descendants watch in the window procedure, and column widths
// set through the header.
#include <gtest/gtest.h>

#include <algorithm>

#include "formfixture.h"
#include "uicomctrls.h"
#include "uiforms.h"

using namespace ui;

namespace {

class TTaggedItem : public TListItem {
  UI_DECLARE_CLASS(TTaggedItem, TListItem)
 public:
  int Tag = 7;
};
UI_IMPLEMENT_CLASS(TTaggedItem, TListItem, DefaultFactory<TTaggedItem>, nullptr, nullptr, nullptr)

// Callbacks of the system use its calling convention, which lambdas do not have on x86.
int CALLBACK ReverseByCaption(LPARAM a, LPARAM b, LPARAM data) {
  EXPECT_EQ(99, data);
  return lstrcmpA(reinterpret_cast<TListItem*>(b)->GetCaption().c_str(), reinterpret_cast<TListItem*>(a)->GetCaption().c_str());
}

class ListViewTest : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    form->SetBounds(60, 60, 420, 320);
    lv = Add<TListView>(8, 8, 380, 260);
    lv->SetViewStyle(vsReport);
    lv->GetColumns()->Add()->SetCaption("Name");
    lv->GetColumns()->Add()->SetCaption("Value");
  }
  void AddRows(std::initializer_list<const char*> captions) {
    for (const char* c : captions) {
      TListItem* i = lv->GetItems()->Add();
      i->SetCaption(c);
      i->SubItems()->Add(std::string(c) + "!");
    }
  }
  // What the native control shows in row `row`, column `sub`.
  std::string Shown(int row, int sub = 0) {
    char buf[64] = {};
    LVITEMA it{};
    it.iSubItem = sub;
    it.pszText = buf;
    it.cchTextMax = sizeof buf;
    SendMessageA(lv->GetHandle(), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
    return buf;
  }
  std::vector<std::string> Captions() {
    std::vector<std::string> out;
    for (int i = 0; i < lv->GetItems()->Count(); ++i) out.push_back(lv->GetItems()->Item(i)->GetCaption());
    return out;
  }
  std::vector<std::string> ShownColumn() {
    std::vector<std::string> out;
    int n = static_cast<int>(SendMessageA(lv->GetHandle(), LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) out.push_back(Shown(i));
    return out;
  }
  TListView* lv = nullptr;
};

TEST_F(ListViewTest, ColumnWidthsSetThroughTheHeaderSurviveANewWindow) {
  lv->GetColumns()->Items(0)->SetWidth(100);
  HWND header = reinterpret_cast<HWND>(SendMessageA(lv->GetHandle(), LVM_GETHEADER, 0, 0));

  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(99, 5));
  SendMessageA(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(59, 5));
  SendMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(59, 5));
  ASSERT_EQ(lv->GetColumns()->Items(0)->GetWidth(), 60);
  lv->RecreateWnd();
  EXPECT_EQ(lv->GetColumns()->Items(0)->GetWidth(), 60);
  // The width that the control forwards to the form while a divider is dragged.
  HDITEMA item = {};
  item.mask = HDI_WIDTH;
  item.cxy = 77;
  NMHEADERA tracked = {};
  tracked.hdr.hwndFrom = lv->GetHandle();
  tracked.hdr.code = static_cast<UINT>(HDN_TRACKA);
  tracked.iItem = 1;
  tracked.pitem = &item;
  SendMessageA(form->GetHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&tracked));
  lv->RecreateWnd();
  EXPECT_EQ(lv->GetColumns()->Items(1)->GetWidth(), 77);
}

TEST_F(ListViewTest, OwnerDataRowsComeFromOnDataAndFindFromOnDataFind) {
  lv->SetOwnerData(true);
  lv->GetItems()->SetCount(1000);
  int fetches = 0;
  lv->OnData = [&](TObject* sender, TListItem* item) {
    EXPECT_EQ(lv, sender);
    ++fetches;
    item->SetCaption("Row " + std::to_string(item->Index()));
    item->SubItems()->Add(std::to_string(item->Index() * 2));
  };
  struct Find {
    TItemFind find;
    std::string text;
    int start;
  } seen{ifNearest, "", -1};
  lv->OnDataFind = [&](TObject*, TItemFind find, const std::string& text, const POINT&, void*, int start, TSearchDirection,
                       bool, int& index) {
    seen = {find, text, start};
    if (text.rfind("Row ", 0) == 0) index = std::stoi(text.substr(4));
  };
  form->Show();
  EXPECT_EQ(1000, SendMessageA(lv->GetHandle(), LVM_GETITEMCOUNT, 0, 0));
  EXPECT_EQ("Row 500", Shown(500));
  EXPECT_EQ("1000", Shown(500, 1));
  EXPECT_EQ("", Shown(500, 2));  // beyond the sub-items
  EXPECT_EQ(1000, lv->GetItems()->Count());
  EXPECT_EQ("Row 7", lv->GetItems()->Item(7)->GetCaption());
  EXPECT_EQ(7, lv->GetItems()->Item(7)->Index());
  EXPECT_GT(fetches, 0);

  LVFINDINFOA fi{};
  fi.flags = LVFI_STRING;
  fi.psz = "Row 42";
  EXPECT_EQ(42, SendMessageA(lv->GetHandle(), LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&fi)));
  EXPECT_EQ(ifExactString, seen.find);
  EXPECT_EQ("Row 42", seen.text);
  fi.psz = "nothing";
  EXPECT_EQ(-1, SendMessageA(lv->GetHandle(), LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&fi)));

  // Selection works on rows; the view holds no items of its own.
  lv->SetItemIndex(3);
  ASSERT_NE(nullptr, lv->GetSelected());
  EXPECT_EQ("Row 3", lv->GetSelected()->GetCaption());
  EXPECT_THROW(lv->GetItems()->Add(), EInvalidOperation);
  lv->SetOwnerData(false);
  EXPECT_THROW(lv->GetItems()->SetCount(5), EInvalidOperation);
}

TEST_F(ListViewTest, SortingByCaptionByOnCompareAndByACustomProcedure) {
  AddRows({"pear", "apple", "fig", "banana"});
  // Without a window the items themselves are ordered.
  EXPECT_TRUE(lv->AlphaSort());
  EXPECT_EQ((std::vector<std::string>{"apple", "banana", "fig", "pear"}), Captions());
  form->Show();
  EXPECT_EQ(Captions(), ShownColumn());
  // OnCompare decides when set: longest first.
  lv->OnCompare = [](TObject*, TListItem* a, TListItem* b, LPARAM data, int& compare) {
    EXPECT_EQ(0, data);
    compare = static_cast<int>(b->GetCaption().size()) - static_cast<int>(a->GetCaption().size());
  };
  lv->AlphaSort();
  EXPECT_EQ((std::vector<std::string>{"banana", "apple", "pear", "fig"}), Captions());
  EXPECT_EQ(Captions(), ShownColumn());
  EXPECT_EQ("apple!", Shown(1, 1));
  // A procedure of the caller's, with its own value.
  lv->CustomSort(ReverseByCaption, 99);
  EXPECT_EQ((std::vector<std::string>{"pear", "fig", "banana", "apple"}), Captions());
  // SortType keeps the order when a caption changes.
  lv->OnCompare = nullptr;
  lv->SetSortType(stText);
  EXPECT_EQ((std::vector<std::string>{"apple", "banana", "fig", "pear"}), Captions());
  lv->GetItems()->Item(0)->SetCaption("zucchini");
  EXPECT_EQ((std::vector<std::string>{"banana", "fig", "pear", "zucchini"}), Captions());
  EXPECT_EQ(Captions(), ShownColumn());
}

TEST_F(ListViewTest, AFailingComparisonReachesTheApplicationNotTheControl) {
  AddRows({"b", "a"});
  form->Show();
  std::string error;
  Application->OnException = [&](TObject*, const std::exception& e) { error = e.what(); };
  lv->OnCompare = [](TObject*, TListItem*, TListItem*, LPARAM, int&) { throw EConvertError("no order"); };
  lv->AlphaSort();
  EXPECT_EQ("no order", error);
  EXPECT_EQ(Captions(), ShownColumn());  // whatever the order, both sides agree
}

TEST_F(ListViewTest, LabelEditingAsksOnEditingAndDeliversTheTextToOnEdited) {
  AddRows({"first", "second"});
  bool allow = false;
  TListItem* editing = nullptr;
  lv->OnEditing = [&](TObject*, TListItem* item, bool& a) {
    editing = item;
    a = allow;
  };
  lv->OnEdited = [&](TObject*, TListItem* item, std::string& s) {
    EXPECT_EQ(lv->GetItems()->Item(1), item);
    for (char& c : s) c = static_cast<char>(toupper(c));
  };
  form->Show();
  lv->SetFocus();
  EXPECT_EQ(nullptr, reinterpret_cast<HWND>(SendMessageA(lv->GetHandle(), LVM_EDITLABELA, 1, 0)));
  EXPECT_EQ(lv->GetItems()->Item(1), editing);
  allow = true;
  auto edit = reinterpret_cast<HWND>(SendMessageA(lv->GetHandle(), LVM_EDITLABELA, 1, 0));
  ASSERT_NE(nullptr, edit);
  SetWindowTextA(edit, "renamed");
  SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
  Application->ProcessMessages();
  EXPECT_EQ("RENAMED", lv->GetItems()->Item(1)->GetCaption());
  EXPECT_EQ("RENAMED", Shown(1));
}

TEST_F(ListViewTest, OwnerDrawnRowsArePaintedByOnDrawItem) {
  AddRows({"one", "two", "three"});
  lv->SetOwnerDraw(true);
  std::vector<std::string> drawn;
  lv->OnDrawItem = [&](TCustomListView* sender, TListItem* item, const RECT& r, unsigned) {
    EXPECT_EQ(lv, sender);
    drawn.push_back(item->GetCaption());
    sender->Canvas()->Brush()->SetColor(item->Index() == 1 ? clRed : clBlue);
    sender->Canvas()->FillRect(r);
  };
  form->Show();
  RedrawWindow(lv->GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ASSERT_GE(drawn.size(), 3u);
  RECT row{};
  row.left = LVIR_BOUNDS;
  ASSERT_TRUE(SendMessageA(lv->GetHandle(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row)));
  HDC dc = GetDC(lv->GetHandle());
  EXPECT_EQ(RGB(255, 0, 0), GetPixel(dc, row.left + 5, (row.top + row.bottom) / 2));
  ReleaseDC(lv->GetHandle(), dc);
}

TEST_F(ListViewTest, CheckBoxesFollowItemsAndSurviveANewWindow) {
  AddRows({"a", "b", "c"});
  lv->SetCheckboxes(true);
  lv->GetItems()->Item(1)->SetChecked(true);  // before the window
  form->Show();
  auto stateImage = [&](int row) {
    return static_cast<UINT>(SendMessageA(lv->GetHandle(), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK)) >> 12;
  };
  EXPECT_EQ(1u, stateImage(0));
  EXPECT_EQ(2u, stateImage(1));
  // The user ticks row 2.
  LVITEMA it{};
  it.stateMask = LVIS_STATEIMAGEMASK;
  it.state = INDEXTOSTATEIMAGEMASK(2);
  SendMessageA(lv->GetHandle(), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&it));
  EXPECT_TRUE(lv->GetItems()->Item(2)->GetChecked());
  lv->SetGridLines(true);
  lv->SetMultiSelect(true);  // a new window
  EXPECT_EQ(2u, stateImage(1));
  EXPECT_EQ(2u, stateImage(2));
  EXPECT_EQ(1u, stateImage(0));
}

TEST_F(ListViewTest, OnCreateItemClassPicksTheItemClassAndRefusesOthers) {
  TClass wanted = &TTaggedItem::StaticClassInfo;
  lv->OnCreateItemClass = [&](TCustomListView* sender, TClass& cls) {
    EXPECT_EQ(lv, sender);
    cls = wanted;
  };
  TListItem* item = lv->GetItems()->Add();
  ASSERT_NE(nullptr, As<TTaggedItem>(item));
  EXPECT_EQ(7, static_cast<TTaggedItem*>(item)->Tag);
  wanted = &TListColumn::StaticClassInfo;
  EXPECT_THROW(lv->GetItems()->Add(), EInvalidOperation);
  EXPECT_EQ(1, lv->GetItems()->Count());
}

TEST_F(ListViewTest, CopySelectionHandsSelectedItemsToAnotherListControl) {
  AddRows({"x", "y", "z"});
  TObject* tag = lv;
  lv->GetItems()->Item(2)->Data = tag;
  lv->SetMultiSelect(true);
  TComboBox* combo = New<TComboBox>(form);
  combo->SetParent(form);
  form->Show();
  lv->GetItems()->Item(0)->SetSelected(true);
  lv->GetItems()->Item(2)->SetSelected(true);
  lv->CopySelection(combo);
  ASSERT_EQ(2, combo->GetItems()->GetCount());
  EXPECT_EQ("x", combo->GetItems()->Get(0));
  EXPECT_EQ("z", combo->GetItems()->Get(1));
  EXPECT_EQ(tag, combo->GetItems()->GetObject(1));
  combo->SetItemIndex(1);
  combo->CopySelection(lv);
  EXPECT_EQ("z", lv->GetItems()->Item(3)->GetCaption());
  EXPECT_EQ(tag, lv->GetItems()->Item(3)->Data);
}

TEST_F(ListViewTest, TextChangesAreAnnouncedAsCallbackMessagesInTheWindowProcedure) {
  AddRows({"a"});
  struct Seen {
    UINT msg;
    WPARAM w;
    int sub;
    std::string text;  // "<cb>" for the callback marker
  };
  std::vector<Seen> seen;
  TWndMethod original = lv->WindowProc;
  lv->WindowProc = [&](TMessage& m) {
    if (m.Msg == LVM_SETITEMTEXTA) {
      auto* it = reinterpret_cast<LVITEMA*>(m.LParam);
      seen.push_back({m.Msg, m.WParam, it->iSubItem, it->pszText == LPSTR_TEXTCALLBACKA ? "<cb>" : it->pszText});
    } else if (m.Msg == LVM_SETCOLUMNA) {
      auto* col = reinterpret_cast<LVCOLUMNA*>(m.LParam);
      if (col->mask & LVCF_TEXT) seen.push_back({m.Msg, m.WParam, -1, col->pszText});
    } else if (m.Msg == LVM_UPDATE) {
      seen.push_back({m.Msg, m.WParam, -1, ""});
    }
    original(m);
  };
  form->Show();  // the window is made: captions, sub-items and column texts are announced
  auto has = [&](UINT msg, WPARAM w, int sub, const std::string& text) {
    for (auto& s : seen)
      if (s.msg == msg && s.w == w && s.sub == sub && s.text == text) return true;
    return false;
  };
  EXPECT_TRUE(has(LVM_SETITEMTEXTA, 0, 0, "<cb>"));
  EXPECT_TRUE(has(LVM_SETITEMTEXTA, 0, 1, "<cb>"));
  EXPECT_TRUE(has(LVM_SETCOLUMNA, 1, -1, "Value"));
  EXPECT_EQ(1, lv->GetColumns()->Items(1)->GetOrderTag());
  seen.clear();
  lv->GetItems()->Add()->SetCaption("b");
  lv->GetItems()->Item(1)->SubItems()->Add("s1");
  lv->GetItems()->Item(1)->SubItems()->Add("s2");
  EXPECT_TRUE(has(LVM_SETITEMTEXTA, 1, 0, "<cb>"));
  EXPECT_TRUE(has(LVM_SETITEMTEXTA, 1, 2, "<cb>"));
  EXPECT_TRUE(has(LVM_UPDATE, 1, -1, ""));
  EXPECT_EQ("s2", Shown(1, 2));
  lv->WindowProc = original;
}

// Paints the view's client area into a memory bitmap (the control's own WM_PRINTCLIENT) and counts,
// per row, the pixels that `match` accepts.
template <class Match>
std::vector<int> RowPixelCounts(TListView* lv, int rows, Match match) {
  HWND h = lv->GetHandle();
  RECT client;
  GetClientRect(h, &client);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SendMessageA(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  std::vector<int> counts;
  for (int i = 0; i < rows; ++i) {
    RECT r{};
    r.left = LVIR_BOUNDS;
    SendMessageA(h, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, client.right); ++x) n += match(GetPixel(dc, x, y));
    counts.push_back(n);
  }
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return counts;
}

bool IsPureRed(COLORREF c) { return c == RGB(255, 0, 0); }
bool IsReddish(COLORREF c) { return GetRValue(c) > 160 && GetGValue(c) < 90 && GetBValue(c) < 90; }

TEST_F(ListViewTest, SmallImagesDrawTheIconThatTheItemOrOnGetImageIndexNames) {
  auto* images = New<TImageList>(form);
  TBitmap strip;
  strip.SetPixelFormat(pf24bit);
  strip.SetWidth(32);
  strip.SetHeight(16);
  strip.Canvas()->Brush()->SetColor(clBlue);
  strip.Canvas()->FillRect(RECT{0, 0, 16, 16});
  strip.Canvas()->Brush()->SetColor(clRed);
  strip.Canvas()->FillRect(RECT{16, 0, 32, 16});
  ASSERT_EQ(0, images->Add(&strip, nullptr));
  lv->SetSmallImages(images);
  AddRows({"own image", "asked", "none"});
  lv->GetItems()->Item(0)->SetImageIndex(1);
  lv->GetItems()->Item(2)->SetImageIndex(-1);
  lv->OnGetImageIndex = [](TObject*, TListItem* item) {
    if (item->Index() == 1) item->SetImageIndex(1);
  };
  form->Show();
  const std::vector<int> red = RowPixelCounts(lv, 3, IsPureRed);
  EXPECT_GE(red[0], 16 * 10) << "the item's own image";
  EXPECT_GE(red[1], 16 * 10) << "the image OnGetImageIndex named";
  EXPECT_EQ(0, red[2]);
  // The image list going away leaves the view without it.
  images->Free();
  EXPECT_EQ(nullptr, lv->GetSmallImages());
  EXPECT_EQ(0, SendMessageA(lv->GetHandle(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
}

TEST_F(ListViewTest, CustomDrawChangesTheTextColourOfOneItem) {
  AddRows({"WWWWWW", "WWWWWW", "WWWWWW"});
  lv->GetColumns()->Items(0)->SetWidth(150);
  std::vector<std::string> stages;
  lv->OnCustomDraw = [&](TCustomListView*, const RECT&, bool&) { stages.push_back("view"); };
  lv->OnCustomDrawItem = [&](TCustomListView* sender, TListItem* item, unsigned, bool&) {
    if (item->Index() == 1) sender->Canvas()->Font()->SetColor(clRed);
  };
  lv->OnAdvancedCustomDrawSubItem = [&](TCustomListView*, TListItem* item, int sub, unsigned, TCustomDrawStage stage,
                                        bool&) {
    if (item->Index() == 0 && stage == cdPrePaint) stages.push_back("sub " + std::to_string(sub));
  };
  form->Show();
  const std::vector<int> red = RowPixelCounts(lv, 3, IsReddish);
  EXPECT_EQ(0, red[0]);
  EXPECT_GT(red[1], 10);
  EXPECT_EQ(0, red[2]);
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ("view", stages.front());
  EXPECT_NE(std::find(stages.begin(), stages.end(), "sub 1"), stages.end());

  // DefaultDraw false leaves an item to the handler alone.
  lv->OnCustomDrawItem = [](TCustomListView*, TListItem* item, unsigned, bool& defaultDraw) {
    defaultDraw = item->Index() != 2;
  };
  const std::vector<int> dark = RowPixelCounts(lv, 3, [](COLORREF c) { return GetRValue(c) < 80 && GetGValue(c) < 80; });
  EXPECT_GT(dark[0], 10);
  EXPECT_EQ(0, dark[2]);
}

TEST_F(ListViewTest, ColumnClickNamesTheClickedColumn) {
  AddRows({"a", "b"});
  TListColumn* clicked = nullptr;
  int clicks = 0;
  lv->OnColumnClick = [&](TObject* sender, TListColumn* column) {
    EXPECT_EQ(lv, sender);
    clicked = column;
    ++clicks;
  };
  form->Show();
  Pump();
  HWND header = reinterpret_cast<HWND>(SendMessageA(lv->GetHandle(), LVM_GETHEADER, 0, 0));
  ASSERT_NE(nullptr, header);
  RECT r{};
  SendMessageA(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(header, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(1, clicks);
  EXPECT_EQ(lv->GetColumns()->Items(1), clicked);
}

TEST_F(ListViewTest, InsertAndDeletionEventsNameTheItem) {
  std::vector<std::string> log;
  lv->OnInsert = [&](TObject*, TListItem* item) { log.push_back("insert " + std::to_string(item->Index())); };
  lv->OnDeletion = [&](TObject*, TListItem* item) { log.push_back("delete " + item->GetCaption()); };
  form->Show();
  lv->GetItems()->Add()->SetCaption("x");
  lv->GetItems()->Insert(0)->SetCaption("y");
  lv->GetItems()->Delete(1);
  lv->GetItems()->Clear();
  EXPECT_EQ((std::vector<std::string>{"insert 0", "insert 0", "delete x", "delete y"}), log);
}

TEST_F(ListViewTest, SubItemImagesComeFromOnGetSubItemImage) {
  lv->OnGetSubItemImage = [](TObject*, TListItem* item, int sub, int& image) { image = 10 * item->Index() + sub + 3; };
  AddRows({"a", "b"});
  lv->GetItems()->Item(1)->SubItems()->Add("second");
  form->Show();
  auto imageOf = [&](int row, int sub) {
    LVITEMA it{};
    it.mask = LVIF_IMAGE;
    it.iItem = row;
    it.iSubItem = sub;
    SendMessageA(lv->GetHandle(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return it.iImage;
  };
  EXPECT_EQ(3, imageOf(0, 1));
  EXPECT_EQ(14, imageOf(1, 2));
  EXPECT_TRUE(SendMessageA(lv->GetHandle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_SUBITEMIMAGES);
}

TEST_F(ListViewTest, OwnerDataViewHintsTheRowsItIsAboutToShow) {
  lv->SetOwnerData(true);
  lv->OnData = [](TObject*, TListItem* item) { item->SetCaption("row " + std::to_string(item->Index())); };
  int from = -1, to = -1;
  lv->OnDataHint = [&](TObject*, int start, int end) {
    from = start;
    to = end;
  };
  form->Show();
  lv->GetItems()->SetCount(5);
  RowPixelCounts(lv, 1, IsPureRed);
  EXPECT_EQ(0, from);
  EXPECT_EQ(4, to);
}

TEST_F(ListViewTest, StyleAndTimingPropertiesReachTheControl) {
  form->Show();
  HWND h = lv->GetHandle();
  auto ex = [&] { return static_cast<DWORD>(SendMessageA(lv->GetHandle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)); };
  lv->SetHotTrack(true);
  lv->SetHotTrackStyles((1u << htHandPoint) | (1u << htUnderlineHot));
  lv->SetFullDrag(true);
  EXPECT_EQ(static_cast<DWORD>(LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_UNDERLINEHOT | LVS_EX_HEADERDRAGDROP),
            ex() & (LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_UNDERLINECOLD | LVS_EX_UNDERLINEHOT |
                    LVS_EX_HEADERDRAGDROP));
  lv->SetHoverTime(700);
  EXPECT_EQ(700, SendMessageA(h, LVM_GETHOVERTIME, 0, 0));
  lv->GetIconOptions()->SetArrangement(iaLeft);
  lv->GetIconOptions()->SetAutoArrange(true);
  lv->GetIconOptions()->SetWrapText(false);
  const LONG_PTR style = GetWindowLongPtrA(lv->GetHandle(), GWL_STYLE);
  EXPECT_EQ(LVS_ALIGNLEFT, style & LVS_ALIGNMASK);
  EXPECT_TRUE(style & LVS_AUTOARRANGE);
  EXPECT_TRUE(style & LVS_NOLABELWRAP);
  // The new window keeps what the old one was told.
  EXPECT_EQ(700, lv->GetHoverTime());
  EXPECT_TRUE(ex() & LVS_EX_HEADERDRAGDROP);
}

TEST_F(ListViewTest, OnChangingCanKeepAnItemFromBeingSelected) {
  AddRows({"a", "b"});
  int asked = 0;
  lv->OnChanging = [&](TObject*, TListItem* item, TItemChange change, bool& allow) {
    ++asked;
    EXPECT_EQ(ctState, change);
    allow = item->Index() != 1;
  };
  form->Show();
  lv->GetItems()->Item(1)->SetSelected(true);
  EXPECT_FALSE(lv->GetItems()->Item(1)->GetSelected());
  lv->GetItems()->Item(0)->SetSelected(true);
  EXPECT_TRUE(lv->GetItems()->Item(0)->GetSelected());
  EXPECT_GE(asked, 2);
}

TEST_F(ListViewTest, HeaderDragAndRightClickReachTheColumnEvents) {
  AddRows({"a"});
  lv->SetFullDrag(true);
  int dragged = 0;
  TListColumn* rightClicked = nullptr;
  POINT at{};
  lv->OnColumnDragged = [&](TObject*) { ++dragged; };
  lv->OnColumnRightClick = [&](TObject*, TListColumn* column, POINT p) {
    rightClicked = column;
    at = p;
  };
  form->Show();
  Pump();
  HWND header = reinterpret_cast<HWND>(SendMessageA(lv->GetHandle(), LVM_GETHEADER, 0, 0));
  RECT first{}, second{};
  SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
  SendMessageA(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
  const int y = (first.top + first.bottom) / 2;
  // The right click is placed where the pointer is when the header reports it.
  POINT onHeader{(second.left + second.right) / 2, y};
  POINT screen = onHeader;
  ClientToScreen(header, &screen);
  SetCursorPos(screen.x, screen.y);
  PostMessageA(header, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(onHeader.x, onHeader.y));
  PostMessageA(header, WM_RBUTTONUP, 0, MAKELPARAM(onHeader.x, onHeader.y));
  Pump();
  EXPECT_EQ(lv->GetColumns()->Items(1), rightClicked);
  POINT onView = screen;
  ScreenToClient(lv->GetHandle(), &onView);
  EXPECT_EQ(onView.x, at.x);
  EXPECT_EQ(onView.y, at.y);

  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(first.left + 5, y));
  SendMessageA(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(first.left + 20, y));
  SendMessageA(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(second.right - 5, y));
  SendMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(second.right - 5, y));
  Pump();  // the event follows once the new order is in place
  EXPECT_EQ(1, dragged);

  // The column dragged to the right now shows where the second one was.
  PostMessageA(header, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(onHeader.x, onHeader.y));
  PostMessageA(header, WM_RBUTTONUP, 0, MAKELPARAM(onHeader.x, onHeader.y));
  Pump();
  EXPECT_EQ(lv->GetColumns()->Items(0), rightClicked);
}

TEST_F(ListViewTest, ShownWorkAreasAreOutlinedInTheirColour) {
  lv->SetViewStyle(vsIcon);
  AddRows({"a"});
  TWorkArea* area = lv->GetWorkAreas()->Add();
  area->SetRect(RECT{10, 10, 150, 100});
  area->SetColor(clRed);
  form->Show();
  auto redOnTopEdge = [&] {
    HWND h = lv->GetHandle();
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 200, 150);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    SendMessageA(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    int n = 0;
    for (int x = 10; x < 150; ++x) n += IsPureRed(GetPixel(dc, x, 10));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return n;
  };
  EXPECT_EQ(0, redOnTopEdge());
  lv->SetShowWorkAreas(true);
  EXPECT_GT(redOnTopEdge(), 100);
}

}  // namespace
