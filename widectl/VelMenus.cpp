// Wide menu items and the wide main menu: shortcut texts, hot keys and the native string refresh.
#include "VelMenus.h"

#include <vector>

#include "VelClasses.h"
#include "VelSysUtils.h"
#include "VelWideStrings.h"
#include "uifiler.h"

using namespace ui;

namespace {

constexpr int kKeyNameChars = 256;
const wchar_t kShiftPrefix[] = L"Shift+";
const wchar_t kCtrlPrefix[] = L"Ctrl+";
const wchar_t kAltPrefix[] = L"Alt+";

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
  return {prop::WStr("Caption", &T::GetCaptionText, &T::SetCaptionText),
          prop::WStr("Hint", &T::GetHintText, &T::SetHintText)};
}

}  // namespace

UI_IMPLEMENT_CLASS(TVelMenuItem, TMenuItem, DefaultFactory<TVelMenuItem>, VelMenuItemProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelMainMenu, TMainMenu, DefaultFactory<TVelMainMenu>, nullptr, nullptr, nullptr)

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
  std::wstring name;
  if (!IsUnicodePlatform || HasLibraryKeyName(key)) {
    // The library keeps no key-name table of its own: the system's names serve both roads.
    const LONG scan = static_cast<LONG>(MapVirtualKeyA(key, 0) << 16) |
                      ((key >= VK_PRIOR && key <= VK_DELETE) ? (1L << 24) : 0);  // extended keys
    char buffer[kKeyNameChars] = {};
    if (scan) GetKeyNameTextA(scan, buffer, kKeyNameChars);
    name = AnsiToWide(buffer);
  } else if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= VK_NUMPAD0 && key <= VK_NUMPAD9)) {
    const wchar_t c = KeyboardCharOfKey(key);
    if (c) name.assign(1, c);
  } else {
    name = KeyNameOfShortCut(shortCut);
  }
  if (name.empty()) return name;
  std::wstring text;
  if (shortCut & scShift) text += kShiftPrefix;
  if (shortCut & scCtrl) text += kCtrlPrefix;
  if (shortCut & scAlt) text += kAltPrefix;
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

std::wstring TVelMenuItem::NativeString() const {
  std::wstring text = GetCaptionText();
  const TMenuItem* parent = Parent();
  const bool menuBarItem = parent && !parent->Parent() && dynamic_cast<TMainMenu*>(parent->GetParentMenu());
  if (Count() == 0 && GetShortCut() != 0 && !menuBarItem) {
    const std::wstring shortCut = ShortCutToWideText(GetShortCut());
    if (!shortCut.empty()) text += L'\t' + shortCut;
  }
  return text;
}

std::wstring MenuItemWideHint(TMenuItem* item) {
  if (auto* wide = dynamic_cast<TVelMenuItem*>(item)) return wide->GetHintText();
  return AnsiToWide(item->GetHint());
}

// ---- TVelMainMenu ---------------------------------------------------------------------------

namespace {

// The native menu holds the visible items of `parent` in order: each wide item gets its string.
// Separators, bitmaps and owner-drawn entries are never rewritten.
void RefreshNativeStrings(HMENU menu, TMenuItem* parent) {
  UINT position = 0;
  for (int i = 0; i < parent->Count(); ++i) {
    TMenuItem* item = parent->Items(i);
    if (!item->GetVisible()) continue;
    const UINT pos = position++;
    if (item->Count() > 0)
      if (HMENU sub = GetSubMenu(menu, static_cast<int>(pos))) RefreshNativeStrings(sub, item);
    auto* wide = dynamic_cast<TVelMenuItem*>(item);
    if (!wide) continue;
    wchar_t scratch[80];
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_TYPE;
    info.dwTypeData = scratch;
    info.cch = sizeof scratch / sizeof scratch[0];
    if (!GetMenuItemInfoW(menu, pos, TRUE, &info) || (info.fType & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)))
      continue;
    std::wstring wanted = wide->NativeString();
    const int length = GetMenuStringW(menu, pos, nullptr, 0, MF_BYPOSITION);
    std::wstring current(static_cast<size_t>(length) + 1, L'\0');
    if (length > 0) current.resize(static_cast<size_t>(GetMenuStringW(menu, pos, &current[0], length + 1, MF_BYPOSITION)));
    else current.clear();
    if (current == wanted) continue;
    info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_TYPE;
    info.fType = MFT_STRING;
    info.dwTypeData = &wanted[0];
    info.cch = static_cast<UINT>(wanted.size());
    WideWin32Check(SetMenuItemInfoW(menu, pos, TRUE, &info));
  }
}

}  // namespace

HMENU TVelMainMenu::GetHandle() {
  HMENU menu = inherited::GetHandle();
  RefreshMenuItemStrings();
  return menu;
}

void TVelMainMenu::Changed() {
  inherited::Changed();
  if (!handle_) return;
  RefreshMenuItemStrings();
  if (WindowHandle) DrawMenuBar(WindowHandle);
}

void TVelMainMenu::RefreshMenuItemStrings() {
  if (!IsUnicodePlatform || !handle_ || InState(csLoading | csDestroying)) return;
  RefreshNativeStrings(handle_, Items());
}
