// Theme services: whether visual themes are active, and drawing of theme elements. The theme library
// is loaded at run time; without it (or with themes off) every call reports "not themed".
#pragma once
#include <windows.h>

#include <string>

namespace ui {

// One element of a theme class: part and state as the system's theme library numbers them.
struct TThemedElementDetails {
  std::wstring ClassName;  // e.g. L"BUTTON"
  int Part;
  int State;
};

class TThemeServices {
 public:
  TThemeServices();
  ~TThemeServices();
  TThemeServices(const TThemeServices&) = delete;
  TThemeServices& operator=(const TThemeServices&) = delete;
  // Themes are available in this process and switched on for it.
  bool ThemesEnabled() const;
  // Draws `d` into `r`; false when not themed (the caller then draws the classic look).
  bool DrawElement(HDC dc, const TThemedElementDetails& d, const RECT& r, const RECT* clip = nullptr);
  // The content rectangle of `d` inside `bounds` (bounds itself when not themed).
  RECT ContentRect(HDC dc, const TThemedElementDetails& d, const RECT& bounds);
  // Paints the parent's background under the child window `child` into `dc`.
  bool DrawParentBackground(HWND child, HDC dc, const RECT* r);
  bool HasTransparentParts(const TThemedElementDetails& d);
  // Forgets open theme handles (after WM_THEMECHANGED).
  void UpdateThemes();

 private:
  void* Theme(const std::wstring& cls);
  struct Impl;
  Impl* impl_;
};

// The process's theme services, made on first use.
TThemeServices& ThemeServices();

}  // namespace ui
