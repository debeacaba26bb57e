// Wide menu items and the wide main menu: shortcut texts, hot keys and the native string refresh.
#include "VelMenus.h"

#include <vector>

#include "VelActnList.h"
#include "VelClasses.h"
#include "VelControls.h"
#include "VelForms.h"
#include "VelSysUtils.h"
#include "VelWideStrings.h"
#include "VelWindows.h"
#include "uiimglist.h"
#include "uifiler.h"

using namespace ui;

namespace {

constexpr int kKeyNameChars = 256;
// GetMenuItemInfoW answers the entry's type into a scratch buffer of this many characters.
constexpr UINT kScratchChars = 80;

// Keys whose names are the library's own rather than a character of the keyboard layout.
bool HasLibraryKeyName(UINT key) {
  return key == VK_BACK || key == VK_TAB || key == VK_RETURN || key == VK_ESCAPE ||
         (key >= VK_SPACE && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE ||
         (key >= VK_F1 && key <= VK_F24);
}

bool IsFarEastGroup(const std::wstring& s, size_t amp) {
  // "(&X)": the marker after "(" with one character and ")" following.
  return SysLocaleFarEast && amp > 0 && s[amp - 1] == L'(' && amp + 2 < s.size() && s[amp + 2] == L')';
}

std::vector<TPropInfo> VelMenuItemProps() {
  using T = TVelMenuItem;
  TPropInfo caption = prop::WStr("Caption", &T::GetCaptionText, &T::SetCaptionText);
  caption.Stored = [](TObject* o) { return static_cast<T*>(o)->IsCaptionStored(); };
  TPropInfo hint = prop::WStr("Hint", &T::GetHintText, &T::SetHintText);
  hint.Stored = [](TObject* o) { return static_cast<T*>(o)->IsHintStored(); };
  return {caption, hint};
}

}  // namespace

UI_IMPLEMENT_CLASS(TVelMenuItem, TMenuItem, DefaultFactory<TVelMenuItem>, VelMenuItemProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelMainMenu, TMainMenu, DefaultFactory<TVelMainMenu>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelMenuActionLink, TMenuActionLink, DefaultFactory<TVelMenuActionLink>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelPopupList, TPopupList, nullptr, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TVelMenuItem::StaticClassInfo, &TVelMainMenu::StaticClassInfo}); }
} registered;
}  // namespace

std::wstring KeyNameOfShortCut(int shortCut) {
  if (!IsUnicodePlatform) throw EAssertionFailed("VEL Internal Error: KeyNameOfShortCut needs the Unicode platform.");
  const LONG scan = static_cast<LONG>(MapVirtualKeyW(static_cast<UINT>(shortCut & 0xFF), 0) << 16);
  if (scan == 0) return std::wstring();
  wchar_t name[kKeyNameChars] = {};
  GetKeyNameTextW(scan, name, kKeyNameChars);
  return name;
}

wchar_t KeyboardCharOfKey(UINT key) {
  if (!IsUnicodePlatform) throw EAssertionFailed("VEL Internal Error: KeyboardCharOfKey needs the Unicode platform.");
  wchar_t c = static_cast<wchar_t>(MapVirtualKeyW(key, 2) & 0xFFFF);
  if (key >= '0' && key <= '9') {
    const wchar_t digit = static_cast<wchar_t>(key);
    if (c != digit && LOBYTE(VkKeyScanW(digit)) == key) return digit;
  }
  return c;
}

std::wstring ShortCutToWideText(int shortCut) {
  const UINT key = static_cast<UINT>(shortCut & 0xFF);
  if (!IsUnicodePlatform || HasLibraryKeyName(key)) return AnsiToWide(ShortCutToText(shortCut));
  std::wstring name;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= VK_NUMPAD0 && key <= VK_NUMPAD9)) {
    const wchar_t c = KeyboardCharOfKey(key);
    if (c) name.assign(1, c);
  } else {
    name = KeyNameOfShortCut(shortCut);
  }
  if (name.empty()) return name;
  std::wstring text;
  if (shortCut & scShift) text += AnsiToWide(SmkcShift);
  if (shortCut & scCtrl) text += AnsiToWide(SmkcCtrl);
  if (shortCut & scAlt) text += AnsiToWide(SmkcAlt);
  return text + name;
}

int HotKeyPosition(const std::wstring& s) {
  int result = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != L'&') continue;
    if (i + 1 >= s.size()) break;
    if (s[i + 1] == L'&') {
      ++i;
      continue;
    }
    result = static_cast<int>(i) + 2;
    ++i;
  }
  return result;
}

std::wstring HotKeyOfCaption(const std::wstring& s) {
  const int position = HotKeyPosition(s);
  return position ? s.substr(static_cast<size_t>(position) - 1, 1) : std::wstring();
}

std::wstring StripHotKeys(const std::wstring& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != L'&') {
      out += s[i];
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == L'&') {
      out += L'&';
      ++i;
    } else if (IsFarEastGroup(s, i)) {
      out.pop_back();  // the "("
      i += 2;          // the character and ")"
    }
  }
  return out;
}

bool CaptionsMatch(const std::wstring& a, const std::wstring& b) {
  return WideCompareText(StripHotKeys(a), StripHotKeys(b)) == 0;
}

bool CaptionsMatchExactly(const std::wstring& a, const std::wstring& b) {
  return WideCompareStr(StripHotKeys(a), StripHotKeys(b)) == 0;
}

void SyncHotKeyPosition(const std::wstring& source, std::wstring& dest) {
  if (WideToAnsi(source) == WideToAnsi(dest)) return;
  if (!CaptionsMatchExactly(AnsiToWide(WideToAnsi(source)), AnsiToWide(WideToAnsi(dest)))) return;
  dest = StripHotKeys(dest);
  for (size_t i = 0; i < source.size(); ++i) {
    if (source[i] != L'&') continue;
    if (IsFarEastGroup(source, i)) {
      dest.insert(std::min(i - 1, dest.size()), source.substr(i - 1, 4));
      i += 2;
    } else {
      dest.insert(std::min(i, dest.size()), 1, L'&');
      ++i;
    }
  }
  if (WideToAnsi(source) != WideToAnsi(dest))
    throw EVelInternalError(Format("Internal Error: SyncHotKeyPosition Failed (\"%s\" <> \"%s\").",
                                   WideToAnsi(source).c_str(), WideToAnsi(dest).c_str()));
}

// ---- TVelMenuItem ---------------------------------------------------------------------------

std::wstring TVelMenuItem::GetCaptionText() const {
  const std::string base = GetCaption();
  if (WideToAnsi(caption_) != base && CaptionsMatchExactly(AnsiToWide(base), AnsiToWide(WideToAnsi(caption_))))
    SyncHotKeyPosition(AnsiToWide(base), caption_);
  return SyncWideText(caption_, base);
}

void TVelMenuItem::SetCaptionText(const std::wstring& value) {
  GetCaptionText();
  SetSyncedWideText(value, caption_, GetCaption(), [this](const std::string& s) { SetCaption(s); });
}

std::wstring TVelMenuItem::GetHintText() const { return SyncWideText(hint_, GetHint()); }

void TVelMenuItem::SetHintText(const std::wstring& value) {
  SetSyncedWideText(value, hint_, GetHint(), [this](const std::string& s) { SetHint(s); });
}

void TVelMenuItem::DefineProperties(TFiler* filer) {
  inherited::DefineProperties(filer);
  DefineWidePropertyFilers(filer, this);
}

std::wstring MenuItemWideHint(TMenuItem* item) {
  if (auto* wide = dynamic_cast<TVelMenuItem*>(item)) return wide->GetHintText();
  return AnsiToWide(item->GetHint());
}

void TVelMenuItem::MenuChanged(bool rebuild) {
  if (ignoreMenuChanged_) return;
  inherited::MenuChanged(rebuild);
  RefreshMenuItemStrings(this, GetParentMenu());
  RefreshFirstVisibleMenuItem(GetParentMenu());
}

void TVelMenuItem::Loaded() {
  inherited::Loaded();
  RefreshNativeString(GetParentMenu());
}

void TVelMenuItem::ActionChange(TObject* sender, bool checkDefaults) {
  auto* action = As<TCustomAction>(sender);
  if (action && IsWideAction(action)) {
    if (!checkDefaults || GetCaptionText().empty()) SetCaptionText(WideActionCaption(action));
    if (!checkDefaults || GetHintText().empty()) SetHintText(WideActionHint(action));
  }
  inherited::ActionChange(sender, checkDefaults);
}

TClass TVelMenuItem::GetActionLinkClass() { return &TVelMenuActionLink::StaticClassInfo; }

bool TVelMenuActionLink::IsCaptionLinked() {
  auto* item = dynamic_cast<TVelMenuItem*>(client_);
  return inherited::IsCaptionLinked() && item && CaptionsMatch(WideActionCaption(CustomAction()), item->GetCaptionText());
}

bool TVelMenuActionLink::IsHintLinked() {
  auto* item = dynamic_cast<TVelMenuItem*>(client_);
  return inherited::IsHintLinked() && item && WideActionHint(CustomAction()) == item->GetHintText();
}

void TVelMenuActionLink::SetCaption(const std::string& v) {
  if (IsCaptionLinked())
    static_cast<TVelMenuItem*>(client_)->SetCaptionText(WideActionNewCaption(CustomAction(), AnsiToWide(v)));
}

void TVelMenuActionLink::SetHint(const std::string& v) {
  if (IsHintLinked()) static_cast<TVelMenuItem*>(client_)->SetHintText(WideActionNewHint(CustomAction(), AnsiToWide(v)));
}

void TVelMenuItem::InitiateAction() {
  if (GetKeyboardLayout(0) != keyboardLayout_) MenuChanged(false);
  inherited::InitiateAction();
}

// ---- Owner drawing --------------------------------------------------------------------------

namespace {

UINT AlignmentOf(TMenuItem* item) {
  if (auto* popup = dynamic_cast<TPopupMenu*>(item->GetParentMenu())) {
    static const UINT kAlign[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
    return kAlign[popup->GetAlignment()];
  }
  return DT_LEFT;
}

}  // namespace

void TVelMenuItem::WideDoDrawText(TCanvas* canvas, std::wstring text, RECT& r, bool selected, UINT flags) {
  if ((flags & DT_CALCRECT) && (text.empty() || text == L"&")) text += L' ';
  canvas->Brush()->SetStyle(bsClear);
  if (GetDefault()) canvas->Font()->SetStyle(canvas->Font()->GetStyle() | fsBold);
  if (!GetEnabled() && !(flags & DT_CALCRECT)) {
    if (!selected) {
      RECT embossed = r;
      OffsetRect(&embossed, 1, 1);
      canvas->Font()->SetColor(clBtnHighlight);
      WideDrawText(canvas->GetHandle(), text.c_str(), -1, &embossed, flags);
    }
    const bool sameAsShadow = ColorToRGB(clHighlight) == ColorToRGB(clBtnShadow);
    canvas->Font()->SetColor(selected && sameAsShadow ? clBtnHighlight : clBtnShadow);
  }
  WideDrawText(canvas->GetHandle(), text.c_str(), -1, &r, flags);
}

int TVelMenuItem::WideTextWidth(TCanvas* canvas, const std::wstring& text) {
  RECT r = {0, 0, 0, 0};
  WideDoDrawText(canvas, text, r, false, AlignmentOf(this) | DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE);
  return r.right - r.left;
}

void TVelMenuItem::AdvancedDrawItem(TCanvas* canvas, RECT r, int state, bool topLevel) {
  TMenu* menu = GetParentMenu();
  if (!IsUnicodePlatform || IsLine() || (menu && menu->IsOwnerDraw() && (OnAdvancedDrawItem || OnDrawItem))) {
    inherited::AdvancedDrawItem(canvas, r, state, topLevel);
    return;
  }
  // The library draws background, check mark and glyph; its text is taken away meanwhile.
  const std::wstring caption = GetCaptionText();
  const std::string baseCaption = GetCaption();
  const int shortCut = GetShortCut();
  ignoreMenuChanged_ = true;
  auto restore = [&] {
    SetCaption(baseCaption);
    SetShortCut(shortCut);
    ignoreMenuChanged_ = false;
  };
  try {
    SetCaption(std::string());
    SetShortCut(0);
    inherited::AdvancedDrawItem(canvas, r, state, topLevel);
  } catch (...) {
    restore();
    throw;
  }
  restore();

  // The text where the library puts its own: right of the glyph column, the shortcut right-aligned.
  const bool selected = (state & odSelected) != 0;
  TCustomImageList* images = menu ? menu->GetImages() : nullptr;
  int glyphRight = r.left + 1;
  if (!topLevel) glyphRight += images ? images->GetWidth() : GetSystemMetrics(SM_CXMENUCHECK);
  RECT text = r;
  text.left = glyphRight + 3;
  text.right -= 1;
  canvas->Font()->SetColor(selected ? clHighlightText : clMenuText);
  UINT flags = AlignmentOf(this) | DT_EXPANDTABS | DT_SINGLELINE | DT_VCENTER;
  if ((state & odNoAccel) && Win32MajorVersion >= 5) flags |= DT_HIDEPREFIX;  // Windows 2000 and later
  if (!caption.empty()) WideDoDrawText(canvas, caption, text, selected, flags);
  if (shortCut && !topLevel) {
    RECT s = r;
    s.right -= 10;
    WideDoDrawText(canvas, ShortCutToWideText(shortCut), s, selected, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
  }
}

void TVelMenuItem::MeasureItem(TCanvas* canvas, int& width, int& height) {
  if (!IsUnicodePlatform || IsLine()) {
    inherited::MeasureItem(canvas, width, height);
    return;
  }
  const TMenuMeasureItemEvent handler = OnMeasureItem;
  OnMeasureItem = nullptr;
  try {
    inherited::MeasureItem(canvas, width, height);
  } catch (...) {
    OnMeasureItem = handler;
    throw;
  }
  OnMeasureItem = handler;
  width += WideTextWidth(canvas, GetCaptionText()) - WideTextWidth(canvas, AnsiToWide(GetCaption()));
  if (GetShortCut())
    width += WideTextWidth(canvas, ShortCutToWideText(GetShortCut())) -
             WideTextWidth(canvas, AnsiToWide(ShortCutToText(GetShortCut())));
  if (OnMeasureItem) OnMeasureItem(this, canvas, width, height);
}

namespace {

// The entry of `command` in `menu` when it is a string (not a separator, bitmap or owner-drawn).
bool IsStringEntry(HMENU menu, UINT command, MENUITEMINFOW& info, wchar_t* scratch) {
  info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_TYPE;
  info.dwTypeData = scratch;
  info.cch = kScratchChars;
  return GetMenuItemInfoW(menu, command, FALSE, &info) && !(info.fType & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW));
}

}  // namespace

void TVelMenuItem::RefreshNativeString(TMenu* menu) {
  keyboardLayout_ = GetKeyboardLayout(0);
  TMenuItem* parent = Parent();
  if (!IsUnicodePlatform || !parent || !menu || InState(csLoading | csDestroying) || !GetVisible()) return;
  TMenuItem* shownIn = parent->MergedWith() ? parent->MergedWith() : parent;
  if (!shownIn->HandleAllocated()) return;
  HMENU parentHandle = shownIn->GetHandle();
  wchar_t scratch[kScratchChars];
  MENUITEMINFOW info;
  if (!IsStringEntry(parentHandle, Command(), info, scratch)) return;

  std::wstring wanted = GetCaptionText();
  const bool menuBarItem = !parent->Parent() && dynamic_cast<TMainMenu*>(parent->GetParentMenu());
  if (Count() == 0 && GetShortCut() != 0 && !menuBarItem) wanted += L'\t' + ShortCutToWideText(GetShortCut());

  std::wstring current;
  const int length = GetMenuStringW(parentHandle, Command(), nullptr, 0, MF_BYCOMMAND);
  if (length > 0) {
    current.assign(static_cast<size_t>(length) + 1, L'\0');
    current.resize(static_cast<size_t>(GetMenuStringW(parentHandle, Command(), &current[0], length + 1, MF_BYCOMMAND)));
  }
  if (current == wanted) return;
  if (!IsStringEntry(parentHandle, Command(), info, scratch)) return;
  info.dwTypeData = &wanted[0];
  info.cch = static_cast<UINT>(wanted.size());
  WideWin32Check(SetMenuItemInfoW(parentHandle, Command(), FALSE, &info));
  auto* mainMenu = dynamic_cast<TMainMenu*>(menu);
  if (!parent->Parent() && mainMenu && mainMenu->WindowHandle) DrawMenuBar(mainMenu->WindowHandle);
}

void RefreshMenuItemStrings(TMenuItem* item, TMenu* menu) {
  if (!item || item->InState(csLoading | csDestroying)) return;
  for (int i = item->Count() - 1; i >= 0; --i) RefreshMenuItemStrings(item->Items(i), menu);
  if (auto* wide = dynamic_cast<TVelMenuItem*>(item)) wide->RefreshNativeString(menu);
}

void RefreshMenuStrings(TMenu* menu) {
  if (!menu) return;
  RefreshMenuItemStrings(menu->Items(), menu);
  if (TMenuItem* merged = menu->Items()->Merged()) RefreshMenuItemStrings(merged, menu);
}

void RefreshFirstVisibleMenuItem(TMenu* menu) {
  if (!SysLocaleMiddleEast || !menu) return;
  TMenuItem* root = menu->Items();
  for (int i = 0; i < root->Count(); ++i) {
    TMenuItem* item = root->Items(i);
    if (!item->GetVisible()) continue;
    if (auto* wide = dynamic_cast<TVelMenuItem*>(item)) wide->RefreshNativeString(menu);
    return;
  }
}

// ---- TVelMainMenu ---------------------------------------------------------------------------

HMENU TVelMainMenu::GetHandle() {
  HMENU menu = inherited::GetHandle();
  RefreshMenuStrings(this);
  return menu;
}

void TVelMainMenu::Changed(TMenuItem* source, bool rebuild) {
  inherited::Changed(source, rebuild);
  if (!HandleAllocated() || InState(csLoading | csDestroying)) return;
  RefreshMenuStrings(this);
}

// ---- TVelPopupList --------------------------------------------------------------------------

void TVelPopupList::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_MENUSELECT: {
      const UINT flags = HIWORD(m.WParam), id = LOWORD(m.WParam);
      for (int i = 0; i < Count(); ++i) {
        TPopupMenu* menu = Items(i);
        TMenuItem* item;
        if (flags & MF_POPUP) {
          const HMENU sub = m.LParam ? GetSubMenu(reinterpret_cast<HMENU>(m.LParam), static_cast<int>(id))
                                     : reinterpret_cast<HMENU>(-1);
          item = menu->FindItem(reinterpret_cast<UINT_PTR>(sub), true);
        } else {
          item = menu->FindItem(id, false);
        }
        if (item) {
          if (VelApplication) VelApplication->SetHintText(WideGetLongHint(MenuItemWideHint(item)));
          m.Result = 0;
          return;
        }
      }
      if (VelApplication) VelApplication->SetHintText(std::wstring());
      break;
    }
    case WM_ENTERMENULOOP:
      PopupList = libraryList_;
      for (int i = 0; i < Count(); ++i) RefreshFirstVisibleMenuItem(Items(i));
      break;
    default:
      break;
  }
  inherited::WndProc(m);
}

TVelPopupList* VelPopupList() {
  static TVelPopupList* list = new TVelPopupList(PopupList);
  return list;
}
