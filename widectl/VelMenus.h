// Wide (UTF-16) menu captions and hints. The library builds its native menus from 8-bit captions;
// after it has done so, the wide main menu rewrites each item's native string with the wide caption
// and the shortcut text rendered for the current keyboard layout.
#pragma once
#include <windows.h>

#include <string>

#include "uimenus.h"

// Shortcut values: low byte the virtual-key code, plus these modifier bits.
enum : int { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000 };

// The system's name of the shortcut's key (Unicode platform only).
std::wstring KeyNameOfShortCut(int shortCut);
// The character the key produces on the current keyboard layout; a digit key that gives the digit
// only with a shift state still answers the digit (Unicode platform only).
wchar_t KeyboardCharOfKey(UINT key);
// "Shift+", "Ctrl+", "Alt+" and the key's name.
std::wstring ShortCutToWideText(int shortCut);

// 1-based position of the character after the last single "&" ("&&" is a literal ampersand, a
// final "&" counts for nothing); 0 when there is none.
int HotKeyPosition(const std::wstring& s);
std::wstring HotKeyOfCaption(const std::wstring& s);
// Removes hot-key markers: single "&" go, "&&" becomes "&"; on Far-East systems a "(&X)" group goes.
std::wstring StripHotKeys(const std::wstring& s);
bool CaptionsMatch(const std::wstring& a, const std::wstring& b);         // ignoring case
bool CaptionsMatchExactly(const std::wstring& a, const std::wstring& b);  // case-sensitive
// Gives Dest the hot-key markers of Source when the two differ only in them (as 8-bit texts).
// Raises EVelInternalError when the 8-bit forms still differ afterwards.
void SyncHotKeyPosition(const std::wstring& source, std::wstring& dest);

class TVelMenuItem : public ui::TMenuItem {
  UI_DECLARE_CLASS(TVelMenuItem, ui::TMenuItem)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);
  // What the native menu shows for the item: the caption, and for a command item below the menu
  // bar a tab and the shortcut text.
  std::wstring NativeString() const;

 private:
  mutable std::wstring caption_;
  mutable std::wstring hint_;
};

// The wide hint of a wide menu item, else the item's 8-bit hint widened.
std::wstring MenuItemWideHint(ui::TMenuItem* item);

class TVelMainMenu : public ui::TMainMenu {
  UI_DECLARE_CLASS(TVelMainMenu, ui::TMainMenu)
 public:
  HMENU GetHandle() override;
  void Changed() override;

 private:
  // Rewrites the native strings of the wide items after the library built the menu.
  void RefreshMenuItemStrings();
};
