// Wide menu captions and shortcut texts in the native menu of a form, the hot-key helpers, the
// right-to-left refresh of the first menu item and the wide hints of popup items.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelForms.h"
#include "VelMenus.h"
#include "uibitmap.h"
#include "road.h"

using namespace ui;

namespace {

std::wstring MenuString(HMENU menu, UINT position) {
  wchar_t buffer[128] = {};
  GetMenuStringW(menu, position, buffer, 128, MF_BYPOSITION);
  return buffer;
}

void SetNativeString(HMENU menu, UINT position, const wchar_t* text) {
  MENUITEMINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<wchar_t*>(text);
  ASSERT_TRUE(SetMenuItemInfoW(menu, position, TRUE, &info));
}

TVelMenuItem* MakeItem(TComponent* owner, TMenuItem* parent, const std::wstring& caption, int shortCut = 0) {
  auto* item = New<TVelMenuItem>(owner);
  item->SetCaptionText(caption);
  item->SetShortCut(shortCut);
  parent->Add(item);
  return item;
}

TEST(VelMenus, NativeMenuShowsWideCaptionsAndShortcuts) {
  TVelForm* form = TCustomForm::CreateNew<TVelForm>(nullptr);
  form->SetBounds(20, 20, 400, 300);
  auto* menu = New<TVelMainMenu>(form);
  menu->SetAutoHotkeys(maManual);
  TVelMenuItem* file = MakeItem(form, menu->Items(), L"&F\u00EFle \u263A", scCtrl | 'F');
  TVelMenuItem* save = MakeItem(form, file, L"Save \u4E2D", scCtrl | 'S');
  MakeItem(form, file, L"-");
  TVelMenuItem* help = MakeItem(form, file, L"\u0397elp", VK_F1);
  MakeItem(form, file, L"Quit", scShift | scAlt | VK_DELETE);
  MakeItem(form, menu->Items(), L"\u03A9 About");
  form->SetMenu(menu);
  form->Show();

  HMENU bar = GetMenu(form->GetHandle());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(MenuString(bar, 0), L"&F\u00EFle \u263A");  // no shortcut on the menu bar
  EXPECT_EQ(MenuString(bar, 1), L"\u03A9 About");
  HMENU sub = GetSubMenu(bar, 0);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(MenuString(sub, 0), L"Save \u4E2D\tCtrl+S");
  EXPECT_EQ(GetMenuState(sub, 1, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
  EXPECT_EQ(MenuString(sub, 2), L"\u0397elp\tF1");
  // The key's name is the system's ("Del", "Delete", ...).
  EXPECT_EQ(MenuString(sub, 3).substr(0, 15), L"Quit\tShift+Alt+");
  EXPECT_GT(MenuString(sub, 3).size(), 15u);

  // A later change reaches the native menu.
  save->SetCaptionText(L"Speichern \u263A");
  sub = GetSubMenu(GetMenu(form->GetHandle()), 0);
  EXPECT_EQ(MenuString(sub, 0), L"Speichern \u263A\tCtrl+S");
  // The 8-bit caption holds the ANSI form; a caption changed through the base wins.
  EXPECT_EQ(save->GetCaption(), WideToAnsi(L"Speichern \u263A"));
  help->SetCaption("Help");
  EXPECT_EQ(help->GetCaptionText(), L"Help");
  EXPECT_EQ(MenuString(GetSubMenu(GetMenu(form->GetHandle()), 0), 2), L"Help\tF1");

  // Automatic hot keys that the library puts into the 8-bit captions appear in the wide ones, with
  // their own characters kept.
  // (The library rebuilds without a change notification here, so the menu is attached anew.)
  form->SetMenu(nullptr);
  menu->SetAutoHotkeys(maAutomatic);
  form->SetMenu(menu);
  EXPECT_EQ(MenuString(GetMenu(form->GetHandle()), 1), L"&\u03A9 About");
  EXPECT_EQ(MenuString(GetSubMenu(GetMenu(form->GetHandle()), 0), 0).substr(0, 1), L"&");

  // Clicking through WM_COMMAND still reaches the item.
  int clicks = 0;
  save->OnClick = [&](TObject*) { ++clicks; };
  SendMessageW(form->GetHandle(), WM_COMMAND, save->Command(), 0);
  EXPECT_EQ(clicks, 1);
  form->Free();
}

TEST(VelMenus, HotKeys) {
  struct Case {
    const wchar_t* caption;
    int position;
    const wchar_t* stripped;
  };
  const Case kCases[] = {
      {L"&File", 2, L"File"},       {L"Fi&le", 4, L"File"},          {L"a&&b", 0, L"a&b"},
      {L"a&&b&c", 6, L"a&bc"},     {L"&a&b", 4, L"ab"},             {L"end&", 0, L"end"},
      {L"&\u263A x", 2, L"\u263A x"}, {L"", 0, L""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.caption)));
    EXPECT_EQ(HotKeyPosition(c.caption), c.position);
    EXPECT_EQ(StripHotKeys(c.caption), c.stripped);
  }
  EXPECT_EQ(HotKeyOfCaption(L"Sa&ve"), L"v");
  EXPECT_TRUE(CaptionsMatch(L"&Open", L"OPEN"));
  EXPECT_FALSE(CaptionsMatchExactly(L"&Open", L"OPEN"));
  EXPECT_TRUE(CaptionsMatchExactly(L"&Open", L"Op&en"));

  // Markers the library put into the 8-bit caption move into the wide one, its characters kept.
  std::wstring dest = L"F\u00EFle";
  SyncHotKeyPosition(L"&F\u00EFle", dest);
  EXPECT_EQ(dest, L"&F\u00EFle");
  auto* item = New<TVelMenuItem>(nullptr);
  item->SetCaptionText(L"Fi\u263Ale");
  item->SetCaption("&" + item->GetCaption());  // as automatic hot keys would
  EXPECT_EQ(item->GetCaptionText(), L"&Fi\u263Ale");
  item->Free();
}

TEST(VelMenus, ShortcutTexts) {
  EXPECT_EQ(ShortCutToWideText(scCtrl | 'S'), L"Ctrl+S");
  EXPECT_EQ(ShortCutToWideText(scShift | scCtrl | scAlt | '7'), L"Shift+Ctrl+Alt+7");
  EXPECT_EQ(ShortCutToWideText(VK_F12), L"F12");
  EXPECT_EQ(ShortCutToWideText(0), L"");
  EXPECT_EQ(KeyboardCharOfKey('Q'), L'Q');
  EXPECT_FALSE(KeyNameOfShortCut(VK_RETURN).empty());
}

}  // namespace

namespace {

// An item drawn by itself onto a white bitmap.
std::vector<COLORREF> DrawItem(TMenuItem* item, int state) {
  TBitmap* bitmap = Create<TBitmap>();
  bitmap->SetSize(200, 20);
  RECT r = {0, 0, 200, 20};
  bitmap->Canvas()->Brush()->SetColor(clWhite);
  bitmap->Canvas()->FillRect(r);
  item->AdvancedDrawItem(bitmap->Canvas(), r, state, false);
  std::vector<COLORREF> pixels;
  HDC dc = bitmap->Canvas()->GetHandle();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 200; ++x) pixels.push_back(GetPixel(dc, x, y));
  bitmap->Free();
  return pixels;
}

TEST(VelMenus, OwnerDrawnItemsShowWideText) {
  auto* menu = New<TPopupMenu>(nullptr);
  menu->SetOwnerDraw(true);
  menu->SetAutoHotkeys(maManual);
  auto* wide = New<TVelMenuItem>(nullptr);
  auto* narrow = New<TVelMenuItem>(nullptr);
  menu->Items()->Add(wide);
  menu->Items()->Add(narrow);
  wide->SetCaptionText(L"\u4E2D\u6587 \u263A");
  wide->SetShortCut(scCtrl | 'S');
  narrow->SetCaptionText(AnsiToWide(WideToAnsi(L"\u4E2D\u6587 \u263A")));
  narrow->SetShortCut(scCtrl | 'S');

  const std::vector<COLORREF> a = DrawItem(wide, 0), b = DrawItem(narrow, 0);
  EXPECT_NE(a, b);
  // The caption and shortcut the library drew without come back.
  EXPECT_EQ(wide->GetCaptionText(), L"\u4E2D\u6587 \u263A");
  EXPECT_EQ(wide->GetShortCut(), scCtrl | 'S');

  // Measuring takes the wide text's width.
  TBitmap* bitmap = Create<TBitmap>();
  bitmap->SetSize(10, 10);
  int wideWidth = 0, narrowWidth = 0, h = 0;
  wide->SetCaptionText(L"\u4E2D\u4E2D\u4E2D\u4E2D\u4E2D\u4E2D\u4E2D\u4E2D");
  narrow->SetCaptionText(L"\u4E2D");  // the same "?" count would differ: one character
  wide->MeasureItem(bitmap->Canvas(), wideWidth, h);
  narrow->MeasureItem(bitmap->Canvas(), narrowWidth, h);
  EXPECT_GT(wideWidth, narrowWidth);
  int called = 0;
  wide->OnMeasureItem = [&](TObject*, TCanvas*, int& w, int&) {
    ++called;
    w = 77;
  };
  wide->MeasureItem(bitmap->Canvas(), wideWidth, h);
  EXPECT_EQ(called, 1);
  EXPECT_EQ(wideWidth, 77);
  bitmap->Free();
  menu->Free();
}

TEST(VelMenus, RightToLeftSystemsRefreshTheFirstVisibleItem) {
  // A menu of no form: nothing else refreshes it meanwhile.
  auto* menu = New<TVelMainMenu>(nullptr);
  menu->SetAutoHotkeys(maManual);
  MakeItem(menu, menu->Items(), L"Hidden")->SetVisible(false);
  MakeItem(menu, menu->Items(), L"\u05E7\u05D5\u05D1\u05E5");
  MakeItem(menu, menu->Items(), L"\u05E2\u05D6\u05E8\u05D4");
  HMENU bar = menu->GetHandle();
  ASSERT_NE(bar, nullptr);

  const bool saved = SysLocaleMiddleEast;
  for (bool middleEast : {false, true}) {
    SCOPED_TRACE(middleEast ? "right-to-left locale" : "other locale");
    SetNativeString(bar, 0, L"stale");
    SetNativeString(bar, 1, L"stale");
    SysLocaleMiddleEast = middleEast;
    RefreshFirstVisibleMenuItem(menu);
    SysLocaleMiddleEast = saved;
    EXPECT_EQ(MenuString(bar, 0), middleEast ? L"\u05E7\u05D5\u05D1\u05E5" : L"stale");
    EXPECT_EQ(MenuString(bar, 1), L"stale");  // only the first visible item
  }
  menu->Free();
}

class VelPopupListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = PopupList;
    PopupList = VelPopupList();
    popup = New<TPopupMenu>(nullptr);
    open = MakeItem(popup, popup->Items(), L"Open");
    open->SetHintText(L"Open|Opens \u263A");
    more = MakeItem(popup, popup->Items(), L"More");
    more->SetHintText(L"\u4E2D\u6587");
    MakeItem(popup, more, L"Inner");
    window = VelPopupList()->Window();
  }
  void TearDown() override {
    PopupList = saved;
    if (popup) popup->Free();
  }
  void Select(UINT id, UINT flags, HMENU menu) {
    SendMessageW(window, WM_MENUSELECT, MAKEWPARAM(id, flags), reinterpret_cast<LPARAM>(menu));
  }
  TPopupList* saved = nullptr;
  TPopupMenu* popup = nullptr;
  TVelMenuItem* open = nullptr;
  TVelMenuItem* more = nullptr;
  HWND window = nullptr;
};

TEST_F(VelPopupListTest, SelectedItemsGiveTheApplicationTheirWideHint) {
  ASSERT_EQ(VelPopupList()->LibraryPopupList(), saved);
  HMENU native = popup->GetHandle();
  Select(open->Command(), MF_STRING, native);
  EXPECT_EQ(VelApplication->GetHintText(), L"Opens \u263A");  // the long part
  // A sub-menu is found by its handle, at its position in the native menu.
  Select(1, MF_POPUP, native);
  EXPECT_EQ(VelApplication->GetHintText(), L"\u4E2D\u6587");
  Select(0, 0xFFFF, nullptr);  // the menu closes
  EXPECT_EQ(VelApplication->GetHintText(), L"");
  EXPECT_EQ(Application->GetHint(), "");
}

TEST_F(VelPopupListTest, MenuLoopPutsTheLibrarysListBack) {
  SendMessageW(window, WM_ENTERMENULOOP, TRUE, 0);
  EXPECT_EQ(PopupList, saved);
  // A menu that joined the wide list leaves it when freed, although that list is no longer in place.
  ASSERT_EQ(VelPopupList()->Count(), 1);
  popup->Free();
  popup = nullptr;
  EXPECT_EQ(VelPopupList()->Count(), 0);
}

}  // namespace
