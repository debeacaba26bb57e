// Wide (UTF-16) menu captions and hints. The library builds its native menus from 8-bit captions;
// after it has done so, the wide main menu rewrites each item's native string with the wide caption
// and the shortcut text rendered for the current keyboard layout.
#pragma once
#include <windows.h>

#include <string>

#include "uimenus.h"

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
  void DefineProperties(ui::TFiler* filer) override;
  // Writes the wide string into the item's native entry when the entry is a string that differs.
  void RefreshNativeString(ui::TMenu* menu);
  // The next idle-time update first refreshes the native string when the keyboard layout changed.
  void InitiateAction() override;
  // Owner drawing: the library draws the item without text, then the wide caption and shortcut
  // text are drawn where the library puts its own.
  void AdvancedDrawItem(ui::TCanvas* canvas, RECT r, int state, bool topLevel) override;
  // The library's measure, corrected by the width difference of the wide and the 8-bit texts.
  void MeasureItem(ui::TCanvas* canvas, int& width, int& height) override;

 protected:
  void MenuChanged(bool rebuild) override;
  void Loaded() override;
  void ActionChange(ui::TObject* sender, bool checkDefaults) override;
  ui::TClass GetActionLinkClass() override;

 private:
  // Draws (or with DT_CALCRECT measures) a wide text of the item.
  void WideDoDrawText(ui::TCanvas* canvas, std::wstring text, RECT& r, bool selected, UINT flags);
  int WideTextWidth(ui::TCanvas* canvas, const std::wstring& text);
  mutable std::wstring caption_;
  mutable std::wstring hint_;
  HKL keyboardLayout_ = nullptr;  // the layout in use at the last refresh
  bool ignoreMenuChanged_ = false;
};

// A menu item counts as showing its action's caption when the two differ only in hot-key markers
// or letter case; new captions and hints reach the item wide.
class TVelMenuActionLink : public ui::TMenuActionLink {
  UI_DECLARE_CLASS(TVelMenuActionLink, ui::TMenuActionLink)
 public:
  bool IsCaptionLinked() override;
  bool IsHintLinked() override;
  void SetCaption(const std::string& v) override;
  void SetHint(const std::string& v) override;
};

// The wide hint of a wide menu item, else the item's 8-bit hint widened.
std::wstring MenuItemWideHint(ui::TMenuItem* item);
// Refreshes the native strings of the item's sub-items (last to first, recursively), then its own.
void RefreshMenuItemStrings(ui::TMenuItem* item, ui::TMenu* menu);
// The same for every item of `menu`, and for the items merged into it.
void RefreshMenuStrings(ui::TMenu* menu);
// On a right-to-left system the menu bar shows its first item from the native string only after a
// refresh: the first visible top-level item of `menu` gets its native string refreshed.
void RefreshFirstVisibleMenuItem(ui::TMenu* menu);

class TVelMainMenu : public ui::TMainMenu {
  UI_DECLARE_CLASS(TVelMainMenu, ui::TMainMenu)
 public:
  HMENU GetHandle() override;
  void Changed(ui::TMenuItem* source, bool rebuild) override;
};

// The popup list window of the layer: while it is the library's popup list, a popup item selected
// in a menu gives the application its wide hint. Entering a menu loop puts the library's own popup
// list back in place.
class TVelPopupList : public ui::TPopupList {
  UI_DECLARE_CLASS(TVelPopupList, ui::TPopupList)
 public:
  explicit TVelPopupList(ui::TPopupList* libraryList = nullptr) : libraryList_(libraryList) {}
  ui::TPopupList* LibraryPopupList() const { return libraryList_; }
  void WndProc(ui::TMessage& m) override;

 private:
  ui::TPopupList* libraryList_;
};

// The process-wide popup list window of the layer, made on first use remembering the library's popup
// list; like the library's own, it lives until the process ends.
TVelPopupList* VelPopupList();
