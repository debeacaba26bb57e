// The wide list view, progress bar and up-down control on real windows: the native control shows
// the wide captions and sub-items through its wide text callbacks, the header the wide column
// captions; the progress bar and the up-down control are Unicode windows.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelComCtrls.h"
#include "VelControls.h"
#include "VelForms.h"
#include "VelStdCtrls.h"
#include "uiimglist.h"
#include "published.h"
#include "surface.h"
#include "uiforms.h"

using namespace ui;

namespace {

// What the native control shows in a cell (asks the view through LVN_GETDISPINFOW).
std::wstring CellText(HWND list, int row, int column, int bufferChars = 256) {
  std::wstring buffer(static_cast<size_t>(bufferChars), L'\0');
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = &buffer[0];
  item.cchTextMax = bufferChars;
  const LRESULT n = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return std::wstring(item.pszText, static_cast<size_t>(n));
}

std::wstring HeaderText(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  wchar_t buffer[128] = {};
  HDITEMW item = {};
  item.mask = HDI_TEXT;
  item.pszText = buffer;
  item.cchTextMax = 128;
  SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  return buffer;
}

std::wstring Row(int i) { return L"\u6587\u4EF6 " + std::to_wstring(i) + L" \u263A"; }
std::wstring Pattern(int i) { return L"*.\u03B1" + std::to_wstring(i); }

class ComCtrls : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TVelForm>(nullptr);
    form->SetBounds(20, 20, 500, 400);
    list = New<TVelListView>(form);
    list->SetParent(form);
    list->SetBounds(8, 8, 300, 300);
    list->SetViewStyle(vsReport);
    list->SetRowSelect(true);
    list->SetReadOnly(true);
    TVelListColumn* c0 = list->GetColumns()->Add();
    c0->SetCaptionText(L"Image format \u0394");
    c0->SetWidth(100);
    TVelListColumn* c1 = list->GetColumns()->Add();
    c1->SetCaptionText(L"File type \u4E2D");
    c1->SetWidth(100);
    for (int i = 0; i < 12; ++i) {
      TVelListItem* item = list->AddItem();
      item->SetCaption(Row(i));
      item->SubItems()->Add(Pattern(i));
    }
    form->Show();
  }
  void TearDown() override { form->Free(); }
  TVelForm* form = nullptr;
  TVelListView* list = nullptr;
};

TEST_F(ComCtrls, ListViewShowsWideCaptionsSubItemsAndColumns) {
  HWND h = list->GetHandle();
  ASSERT_TRUE(IsWindowUnicode(h));
  ASSERT_EQ(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0), 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(CellText(h, i, 0), Row(i));
    EXPECT_EQ(CellText(h, i, 1), Pattern(i));
  }
  EXPECT_EQ(HeaderText(h, 0), L"Image format \u0394");
  EXPECT_EQ(HeaderText(h, 1), L"File type \u4E2D");
  // The base holds the 8-bit forms.
  EXPECT_EQ(list->Item(3)->TListItem::GetCaption(), WideToAnsi(Row(3)));
  EXPECT_EQ(list->Item(3)->TListItem::SubItems()->Get(0), WideToAnsi(Pattern(3)));
  // A cell beyond the sub-items is empty; a short buffer gets what fits, terminated.
  EXPECT_EQ(CellText(h, 0, 2), L"");
  EXPECT_EQ(CellText(h, 0, 0, 4), Row(0).substr(0, 3));

  // Re-creating the window keeps the wide texts.
  list->SetShowColumnHeaders(false);
  list->SetShowColumnHeaders(true);
  h = list->GetHandle();
  EXPECT_EQ(CellText(h, 11, 0), Row(11));
  EXPECT_EQ(CellText(h, 11, 1), Pattern(11));
  EXPECT_EQ(HeaderText(h, 1), L"File type \u4E2D");
}

TEST_F(ComCtrls, ListViewReportsItsSelection) {
  HWND h = list->GetHandle();
  EXPECT_EQ(list->GetSelected(), nullptr);
  TListItem* reported = nullptr;
  list->OnSelectItem = [&](TObject*, TListItem* item, bool selected) {
    if (selected) reported = item;
  };
  LVITEMW state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(h, LVM_SETITEMSTATE, 7, reinterpret_cast<LPARAM>(&state));
  ASSERT_NE(list->GetSelected(), nullptr);
  EXPECT_EQ(reported, list->GetSelected());
  EXPECT_EQ(list->GetSelected()->GetCaption(), Row(7));
  EXPECT_EQ(list->GetSelected()->SubItems()->GetItemAt(0), Pattern(7));
}

TEST_F(ComCtrls, WideAndEightBitCopiesStayInStep) {
  HWND h = list->GetHandle();
  TVelListItem* item = list->Item(0);
  // Changed through the base: the widened 8-bit text shows.
  item->TListItem::SetCaption("plain");
  EXPECT_EQ(item->GetCaption(), L"plain");
  EXPECT_EQ(CellText(h, 0, 0), L"plain");
  item->TListItem::SubItems()->Put(0, "sub");
  item->TListItem::SubItems()->Add("more");
  EXPECT_EQ(CellText(h, 0, 1), L"sub");
  EXPECT_EQ(CellText(h, 0, 2), L"more");
  EXPECT_EQ(item->SubItems()->Count(), 2);

  // A wide sub-item with an object: both lists see the object.
  TStringList marker;
  item->SubItems()->AddWithObject(L"\u263A", &marker);
  EXPECT_EQ(item->TListItem::SubItems()->Count(), 3);
  EXPECT_EQ(item->TListItem::SubItems()->GetObject(2), &marker);
  EXPECT_EQ(item->SubItems()->GetObjectAt(2), &marker);
  item->SubItems()->Delete(0);
  EXPECT_EQ(item->TListItem::SubItems()->Get(0), "more");
  EXPECT_EQ(CellText(h, 0, 2), L"\u263A");

  // Assigning one item to another copies the wide texts.
  list->Item(1)->Assign(list->Item(0));
  EXPECT_EQ(CellText(h, 1, 0), L"plain");
  EXPECT_EQ(CellText(h, 1, 2), L"\u263A");

  // A column caption set through the base reads back widened and shows in the header.
  list->GetColumns()->Items(0)->SetCaption("Format");
  EXPECT_EQ(list->GetColumns()->Items(0)->GetCaptionText(), L"Format");
  EXPECT_EQ(HeaderText(list->GetHandle(), 0), L"Format");
  EXPECT_EQ(list->WideChangeCount(), 0);
}

TEST_F(ComCtrls, InPlaceEditDeliversWideText) {
  std::wstring edited;
  list->OnEdited = [&](TObject*, TVelListItem* item, std::wstring& s) {
    EXPECT_EQ(item, list->Item(2));
    edited = s;
    s += L"!";
  };
  wchar_t text[] = L"\u65B0 \u263A";
  NMLVDISPINFOW info = {};
  info.hdr.hwndFrom = list->GetHandle();
  info.hdr.code = static_cast<UINT>(LVN_ENDLABELEDITW);
  info.item.iItem = 2;
  info.item.pszText = text;
  SendMessageW(form->GetHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(edited, text);
  EXPECT_EQ(list->Item(2)->GetCaption(), std::wstring(text) + L"!");
  EXPECT_EQ(CellText(list->GetHandle(), 2, 0), std::wstring(text) + L"!");

  // Without the wide event the library's 8-bit one sees the text in 8 bits.
  list->OnEdited = nullptr;
  std::string seen;
  static_cast<TCustomListView*>(list)->OnEdited = [&](TObject*, TListItem*, std::string& s) { seen = s; };
  SendMessageW(form->GetHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(seen, WideToAnsi(text));
  EXPECT_EQ(list->Item(2)->GetCaption(), AnsiToWide(WideToAnsi(text)));
}

TEST_F(ComCtrls, SortsByWideCaptions) {
  // Captions whose 8-bit forms are all alike ("?"): only the wide comparison orders them.
  const wchar_t* kCaptions[] = {L"\u4E2D", L"\u03B2", L"\u263A", L"\u03B1"};
  list->GetItems()->Clear();
  for (const wchar_t* c : kCaptions) list->AddItem()->SetCaption(c);
  ASSERT_TRUE(list->AlphaSort());
  std::vector<std::wstring> order;
  for (int i = 0; i < 4; ++i) order.push_back(list->Item(i)->GetCaption());
  std::vector<std::wstring> expected(kCaptions, kCaptions + 4);
  std::sort(expected.begin(), expected.end(),
            [](const std::wstring& a, const std::wstring& b) { return lstrcmpW(a.c_str(), b.c_str()) < 0; });
  EXPECT_EQ(order, expected);
  EXPECT_EQ(CellText(list->GetHandle(), 0, 0), expected[0]);

  // OnCompare decides when assigned: reverse order.
  list->OnCompare = [](TObject*, TListItem* a, TListItem* b, LPARAM, int& result) {
    result = -lstrcmpW(static_cast<TVelListItem*>(a)->GetCaption().c_str(),
                       static_cast<TVelListItem*>(b)->GetCaption().c_str());
  };
  ASSERT_TRUE(list->AlphaSort());
  EXPECT_EQ(list->Item(0)->GetCaption(), expected[3]);
}

TEST_F(ComCtrls, OwnerDataShowsAndFindsWideRows) {
  // Rows with characters outside the code page.
  const std::vector<std::wstring> rows = {L"\u03B1\u03B1", L"\u03B2\u03B2", L"\u4E2D\u6587", L"\u263A"};
  list->SetOwnerData(true);
  list->OnData = [&](TObject*, TListItem* item) {
    auto* wide = static_cast<TVelListItem*>(item);
    const int i = item->Index();
    wide->SetCaption(rows[static_cast<size_t>(i)]);
    if (i % 2 == 0) wide->SubItems()->Add(L"\u00B5" + std::to_wstring(i));
  };
  list->GetItems()->SetCount(static_cast<int>(rows.size()));
  HWND h = list->GetHandle();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(CellText(h, i, 0), rows[static_cast<size_t>(i)]) << i;
    // An odd row has no sub-item: nothing of the even row fetched before it may show.
    EXPECT_EQ(CellText(h, i, 1), i % 2 == 0 ? L"\u00B5" + std::to_wstring(i) : L"") << i;
  }
  EXPECT_EQ(list->Item(1)->GetCaption(), rows[1]);

  // A handler that gives only 8-bit texts: the wide text fetched before (of the same 8-bit form)
  // must not come back.
  const TLVOwnerDataEvent wide = list->OnData;
  EXPECT_EQ(CellText(h, 2, 0), rows[2]);
  list->OnData = [&](TObject*, TListItem* item) { item->SetCaption(WideToAnsi(rows[static_cast<size_t>(item->Index())])); };
  EXPECT_EQ(CellText(h, 2, 0), AnsiToWide(WideToAnsi(rows[2])));
  list->OnData = wide;

  // The control's search asks the view in the wide form.
  std::wstring asked;
  TItemFind askedFind = ifData;
  list->OnDataFind = [&](TObject*, TItemFind find, const std::wstring& text, const POINT&, void*, int, TSearchDirection,
                         bool, int& index) {
    asked = text;
    askedFind = find;
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].compare(0, text.size(), text) == 0) index = static_cast<int>(i);
  };
  auto find = [&](const std::wstring& text, UINT flags) {
    LVFINDINFOW info = {};
    info.flags = flags;
    info.psz = text.c_str();
    return SendMessageW(h, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&info));
  };
  EXPECT_EQ(find(rows[2], LVFI_STRING), 2);
  EXPECT_EQ(asked, rows[2]);
  EXPECT_EQ(askedFind, ifExactString);
  EXPECT_EQ(find(L"\u263A", LVFI_STRING | LVFI_PARTIAL), 3);
  EXPECT_EQ(askedFind, ifPartialString);

  // Without the wide handler the library's 8-bit one gets the text in 8 bits; without either, no row.
  list->OnDataFind = nullptr;
  std::string seen;
  static_cast<TCustomListView*>(list)->OnDataFind = [&](TObject*, TItemFind, const std::string& text, const POINT&,
                                                        void*, int, TSearchDirection, bool, int& index) {
    seen = text;
    index = 1;
  };
  EXPECT_EQ(find(rows[1], LVFI_STRING), 1);
  EXPECT_EQ(seen, WideToAnsi(rows[1]));
  static_cast<TCustomListView*>(list)->OnDataFind = nullptr;
  EXPECT_EQ(find(rows[1], LVFI_STRING), -1);
}

// The in-place edit window of a caption edit, started by the control itself.
HWND StartLabelEdit(TVelListView* list, int row) {
  return reinterpret_cast<HWND>(SendMessageW(list->GetHandle(), LVM_EDITLABELW, static_cast<WPARAM>(row), 0));
}

TEST_F(ComCtrls, InPlaceEditWindowReachesTheViewsKeyEvents) {
  list->SetReadOnly(false);
  std::vector<WORD> keysDown;
  list->OnKeyDown = [&](TObject*, WORD& key, int) {
    keysDown.push_back(key);
    if (key == VK_F2) key = 0;  // swallowed
  };
  list->OnKeyPress = [](TObject*, char& key) {
    if (key == 'x') key = 0;  // swallowed
  };
  std::wstring edited;
  list->OnEdited = [&](TObject*, TVelListItem*, std::wstring& s) { edited = s; };

  HWND edit = StartLabelEdit(list, 4);
  ASSERT_NE(edit, nullptr);
  ASSERT_TRUE(IsWindowUnicode(edit));
  SetWindowTextW(edit, L"");
  // Characters outside the code page pass whole; a swallowed key never reaches the edit window.
  for (wchar_t c : std::wstring(L"a\u263Ax\u4E2D")) SendMessageW(edit, WM_CHAR, c, 1);
  wchar_t text[32] = {};
  GetWindowTextW(edit, text, 32);
  EXPECT_STREQ(text, L"a\u263A\u4E2D");
  SendMessageW(edit, WM_KEYDOWN, VK_F2, 1);
  EXPECT_EQ(keysDown, std::vector<WORD>{VK_F2});

  // Return ends the edit; the item shows the wide text.
  SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
  EXPECT_EQ(edited, L"a\u263A\u4E2D");
  EXPECT_EQ(list->Item(4)->GetCaption(), L"a\u263A\u4E2D");
  EXPECT_EQ(CellText(list->GetHandle(), 4, 0), L"a\u263A\u4E2D");

  // An exception of a key handler goes to the application, never through the edit window.
  list->OnKeyDown = [](TObject*, WORD&, int) { throw std::runtime_error("key handler failed"); };
  std::string reported;
  const TExceptionEvent keep = Application->OnException;
  Application->OnException = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, list);
    reported = e.what();
  };
  edit = StartLabelEdit(list, 5);
  ASSERT_NE(edit, nullptr);
  SendMessageW(edit, WM_KEYDOWN, 'Q', 1);
  Application->OnException = keep;
  EXPECT_EQ(reported, "key handler failed");
  list->OnKeyDown = nullptr;
  SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);

  // OnEditing may refuse: no edit window.
  static_cast<TCustomListView*>(list)->OnEditing = [](TObject*, TListItem*, bool& allow) { allow = false; };
  EXPECT_EQ(StartLabelEdit(list, 6), nullptr);
}

TEST_F(ComCtrls, CheckBoxesBringSubItemImagesAndInfoTips) {
  const DWORD extra = LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP;
  auto exStyle = [&] { return static_cast<DWORD>(SendMessageW(list->GetHandle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)); };
  EXPECT_EQ(exStyle() & (extra | LVS_EX_CHECKBOXES), 0u);
  list->SetCheckboxes(true);
  EXPECT_EQ(exStyle() & (extra | LVS_EX_CHECKBOXES), extra | LVS_EX_CHECKBOXES);
  // Any later change of the extended style keeps them, as does a new window.
  list->SetGridLines(true);
  list->SetShowColumnHeaders(false);
  EXPECT_EQ(exStyle() & (extra | LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES), extra | LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
}

TEST_F(ComCtrls, InfoTipRequestAnsweredInTheWideBuffer) {
  auto ask = [&](int row, const std::wstring& offered, int bufferChars) {
    std::wstring buffer(static_cast<size_t>(bufferChars), L'\0');
    std::copy(offered.begin(), offered.end(), buffer.begin());
    NMLVGETINFOTIPW info = {};
    info.hdr.hwndFrom = list->GetHandle();
    info.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list->GetHandle()));
    info.hdr.code = static_cast<UINT>(LVN_GETINFOTIPW);
    info.pszText = &buffer[0];
    info.cchTextMax = bufferChars;
    info.iItem = row;
    SendMessageW(form->GetHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return std::wstring(buffer.c_str());
  };
  // Without a handler the control's own text stays, wide characters and all.
  EXPECT_EQ(ask(3, Row(3), 80), Row(3));

  TListItem* tipped = nullptr;
  std::string offered;
  list->OnInfoTip = [&](TObject*, TListItem* item, std::string& tip) {
    tipped = item;
    offered = tip;
    tip = "Row " + std::to_string(item->Index()) + " of twelve";
  };
  EXPECT_EQ(ask(3, L"\u00E9t\u00E9", 80), L"Row 3 of twelve");
  EXPECT_EQ(tipped, list->Item(3));
  EXPECT_EQ(offered, WideToAnsi(L"\u00E9t\u00E9"));
  // A tip longer than the buffer is cut to what fits, terminated.
  EXPECT_EQ(ask(7, L"", 6), L"Row 7");
}

TEST_F(ComCtrls, CopySelectionGivesWideCaptionsInItemOrder) {
  list->SetMultiSelect(true);
  TStringList a, b, c;
  list->Item(9)->Data = &a;
  list->Item(2)->Data = &b;
  list->Item(5)->Data = &c;
  for (int row : {9, 2, 5}) {
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageW(list->GetHandle(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
  }
  auto* wide = New<TVelListView>(form);
  wide->SetParent(form);
  auto* plain = New<TListView>(form);
  plain->SetParent(form);
  list->CopySelection(wide);
  list->CopySelection(plain);
  ASSERT_EQ(wide->GetItems()->Count(), 3);
  ASSERT_EQ(plain->GetItems()->Count(), 3);
  const int rows[] = {2, 5, 9};
  const void* data[] = {&b, &c, &a};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(wide->Item(i)->GetCaption(), Row(rows[i]));
    EXPECT_EQ(CellText(wide->GetHandle(), i, 0), Row(rows[i]));
    EXPECT_EQ(wide->Item(i)->Data, data[i]);
    // A control without wide captions gets the 8-bit form.
    EXPECT_EQ(plain->GetItems()->Item(i)->GetCaption(), WideToAnsi(Row(rows[i])));
    EXPECT_EQ(plain->GetItems()->Item(i)->Data, data[i]);
  }
}

TEST_F(ComCtrls, OwnerDrawnRowsShowWideCaptions) {
  // Two captions with the same 8-bit form ("?"): drawn wide, the two rows differ.
  list->SetOwnerDraw(true);
  list->Item(0)->SetCaption(L"\u0436\u0436\u0436");
  list->Item(1)->SetCaption(L"\u043F\u043F\u043F");
  ASSERT_EQ(list->Item(0)->TListItem::GetCaption(), list->Item(1)->TListItem::GetCaption());
  HWND h = list->GetHandle();
  RECT rows[2];
  for (int i = 0; i < 2; ++i) {
    rows[i].left = LVIR_BOUNDS;
    SendMessageW(h, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&rows[i]));
  }
  RECT client;
  GetClientRect(h, &client);
  MemorySurface surface(client.right, client.bottom);
  SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT | PRF_ERASEBKGND);
  auto rowPixels = [&](const RECT& r) {
    std::vector<COLORREF> p;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < std::min<LONG>(r.left + 100, client.right); ++x) p.push_back(GetPixel(surface.dc(), x, y));
    return p;
  };
  const std::vector<COLORREF> first = rowPixels(rows[0]), second = rowPixels(rows[1]);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_TRUE(std::any_of(first.begin(), first.end(), IsDark)) << "row 0 shows no text";
  EXPECT_NE(first, second);
}

TEST_F(ComCtrls, ColumnWidthsFromTheHeaderSurviveRecreation) {
  auto header = [&] { return reinterpret_cast<HWND>(SendMessageW(list->GetHandle(), LVM_GETHEADER, 0, 0)); };
  auto width = [&](int column) { return list->GetColumns()->Items(column)->GetWidth(); };
  // The user drags the divider of the first column (at x = 100) 40 pixels to the right.
  SendMessageW(header(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(99, 5));
  SendMessageW(header(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(139, 5));
  SendMessageW(header(), WM_LBUTTONUP, 0, MAKELPARAM(139, 5));
  ASSERT_EQ(width(0), 140);
  list->RecreateWnd();
  EXPECT_EQ(width(0), 140);
  // A double click on the second column's divider fits the column to its texts.
  SendMessageW(header(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(239, 5));
  const int fitted = width(1);
  EXPECT_NE(fitted, 100);
  list->RecreateWnd();
  EXPECT_EQ(width(1), fitted);
  // The width the control forwards while a divider is dragged.
  HDITEMW item = {};
  item.mask = HDI_WIDTH;
  item.cxy = 77;
  NMHEADERW tracked = {};
  tracked.hdr.hwndFrom = list->GetHandle();
  tracked.hdr.code = static_cast<UINT>(HDN_TRACKW);
  tracked.iItem = 1;
  tracked.pitem = &item;
  list->Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&tracked));
  EXPECT_EQ(tracked.hdr.code, static_cast<UINT>(HDN_TRACKW));
  list->RecreateWnd();
  EXPECT_EQ(width(1), 77);
}

TEST_F(ComCtrls, ItemClassMustBeWide) {
  EXPECT_NE(As<TVelListItems>(static_cast<TCustomListView*>(list)->GetItems()), nullptr);
  list->OnCreateItemClass = [](TCustomListView*, TClass& cls) { cls = &TListItem::StaticClassInfo; };
  const int before = list->GetItems()->Count();
  EXPECT_THROW(list->AddItem(), EVelInternalError);
  EXPECT_EQ(list->GetItems()->Count(), before);
  list->OnCreateItemClass = nullptr;
  EXPECT_NE(list->TemporaryItem(), nullptr);
}

TEST_F(ComCtrls, ProgressBarAndUpDownAreUnicodeWindows) {
  auto* progress = New<TVelProgressBar>(form);
  progress->SetParent(form);
  progress->SetBounds(320, 8, 150, 16);
  progress->SetMax(12);
  progress->SetPosition(5);
  ASSERT_TRUE(IsWindowUnicode(progress->GetHandle()));
  EXPECT_EQ(SendMessageW(progress->GetHandle(), PBM_GETPOS, 0, 0), 5);
  progress->SetPosition(9);
  EXPECT_EQ(SendMessageW(progress->GetHandle(), PBM_GETPOS, 0, 0), 9);
  progress->SetHintText(L"\u263A busy");
  EXPECT_EQ(progress->GetHintText(), L"\u263A busy");

  auto* edit = New<TVelEdit>(form);
  edit->SetParent(form);
  edit->SetBounds(320, 40, 60, 24);
  auto* updown = New<TVelUpDown>(form);
  updown->SetParent(form);
  updown->SetBounds(380, 40, 16, 24);
  updown->SetMin(1);
  updown->SetMax(100);
  updown->SetAssociate(edit);
  updown->SetPosition(75);
  ASSERT_TRUE(IsWindowUnicode(updown->GetHandle()));
  EXPECT_EQ(edit->GetText(), L"75");
  EXPECT_EQ(updown->GetPosition(), 75);
  // The arrow writes the next value into the edit.
  SendMessageW(updown->GetHandle(), UDM_SETPOS32, 0, 80);
  EXPECT_EQ(updown->GetPosition(), 80);
}

TEST(ComCtrlsPublished, ListViewProgressBarAndUpDownPublishTheirWholeSets) {
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelListView::StaticClassInfo,
                        {"Action", "Align", "AllocBy", "Anchors", "BevelEdges", "BevelInner", "BevelOuter", "BevelKind",
                         "BevelWidth", "BiDiMode", "BorderStyle", "BorderWidth", "Checkboxes", "Color", "Columns",
                         "ColumnClick", "Constraints", "Ctl3D", "DragCursor", "DragKind", "DragMode", "Enabled", "Font",
                         "FlatScrollBars", "FullDrag", "GridLines", "HideSelection", "Hint", "HotTrack", "HotTrackStyles",
                         "HoverTime", "IconOptions", "Items", "LargeImages", "MultiSelect", "OwnerData", "OwnerDraw",
                         "ReadOnly", "RowSelect", "ParentBiDiMode", "ParentColor", "ParentFont", "ParentShowHint",
                         "PopupMenu", "ShowColumnHeaders", "ShowWorkAreas", "ShowHint", "SmallImages", "SortType",
                         "StateImages", "TabOrder", "TabStop", "ViewStyle", "Visible", "OnAdvancedCustomDraw",
                         "OnAdvancedCustomDrawItem", "OnAdvancedCustomDrawSubItem", "OnChange", "OnChanging",
                         "OnClick", "OnColumnClick", "OnColumnDragged", "OnColumnRightClick", "OnCompare",
                         "OnContextPopup", "OnCustomDraw", "OnCustomDrawItem", "OnCustomDrawSubItem", "OnData",
                         "OnDataFind", "OnDataHint", "OnDataStateChange", "OnDblClick", "OnDeletion", "OnDrawItem",
                         "OnEdited", "OnEditing", "OnEndDock", "OnEndDrag", "OnEnter", "OnExit", "OnGetImageIndex",
                         "OnGetSubItemImage", "OnDragDrop", "OnDragOver", "OnInfoTip", "OnInsert", "OnKeyDown",
                         "OnKeyPress", "OnKeyUp", "OnMouseDown", "OnMouseMove", "OnMouseUp", "OnResize",
                         "OnSelectItem", "OnStartDock", "OnStartDrag"}));
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelProgressBar::StaticClassInfo,
                        {"Align", "Anchors", "BorderWidth", "DragCursor", "DragKind", "DragMode", "Enabled",
                         "Constraints", "Hint", "Min", "Max", "Orientation", "ParentShowHint", "PopupMenu", "Position",
                         "Smooth", "Step", "ShowHint", "TabOrder", "TabStop", "Visible", "OnContextPopup", "OnDragDrop",
                         "OnDragOver", "OnEndDock", "OnEndDrag", "OnEnter", "OnExit", "OnMouseDown", "OnMouseMove",
                         "OnMouseUp", "OnStartDock", "OnStartDrag"}));
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelUpDown::StaticClassInfo,
                        {"AlignButton", "Anchors", "Associate", "ArrowKeys", "Enabled", "Hint", "Min", "Max",
                         "Increment", "Constraints", "Orientation", "ParentShowHint", "PopupMenu", "Position",
                         "ShowHint", "TabOrder", "TabStop", "Thousands", "Visible", "Wrap", "OnChanging", "OnChangingEx",
                         "OnContextPopup", "OnClick", "OnEnter", "OnExit", "OnMouseDown", "OnMouseMove", "OnMouseUp"}));
}

TEST_F(ComCtrls, WideViewDrawsSmallImagesAndCustomColoursAndReportsColumnClicks) {
  auto* images = New<TImageList>(form);
  TBitmap red;
  red.SetPixelFormat(pf24bit);
  red.SetWidth(16);
  red.SetHeight(16);
  red.Canvas()->Brush()->SetColor(clRed);
  red.Canvas()->FillRect(RECT{0, 0, 16, 16});
  images->Add(&red, nullptr);
  list->SetSmallImages(images);
  list->Item(0)->SetImageIndex(0);
  list->OnCustomDrawItem = [](TCustomListView* sender, TListItem* item, unsigned, bool&) {
    if (item->Index() == 2) sender->Canvas()->Font()->SetColor(clBlue);
  };
  HWND h = list->GetHandle();
  RECT client;
  GetClientRect(h, &client);
  MemorySurface surface(client.right, client.bottom);
  SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT | PRF_ERASEBKGND);
  auto count = [&](int row, bool (*match)(COLORREF)) {
    RECT r{};
    r.left = LVIR_BOUNDS;
    SendMessageW(h, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, client.right); ++x) n += match(GetPixel(surface.dc(), x, y));
    return n;
  };
  auto isRed = [](COLORREF c) { return c == RGB(255, 0, 0); };
  auto isBlue = [](COLORREF c) { return GetBValue(c) > 160 && GetRValue(c) < 90 && GetGValue(c) < 90; };
  EXPECT_GE(count(0, isRed), 16 * 10);
  EXPECT_EQ(0, count(1, isRed));
  EXPECT_GT(count(2, isBlue), 10);
  EXPECT_EQ(0, count(1, isBlue));

  TListColumn* clicked = nullptr;
  list->OnColumnClick = [&](TObject*, TListColumn* column) { clicked = column; };
  HWND header = reinterpret_cast<HWND>(SendMessageW(h, LVM_GETHEADER, 0, 0));
  RECT r{};
  SendMessageW(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(header, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(list->GetColumns()->Items(1), clicked);
}

}  // namespace
