// Wide menu captions and shortcut texts in the native menu of a form, and the hot-key helpers.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "VelForms.h"
#include "VelMenus.h"
#include "road.h"

using namespace ui;

namespace {

std::wstring MenuString(HMENU menu, UINT position) {
  wchar_t buffer[128] = {};
  GetMenuStringW(menu, position, buffer, 128, MF_BYPOSITION);
  return buffer;
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
