#include "uithemes.h"

#include <map>

namespace ui {

// Entry points of the theme library, looked up by name: older systems have no such library.
struct TThemeServices::Impl {
  HMODULE lib = nullptr;
  using HTHEME_ = void*;
  BOOL(WINAPI* IsThemeActive)() = nullptr;
  BOOL(WINAPI* IsAppThemed)() = nullptr;
  HTHEME_(WINAPI* OpenThemeData)(HWND, LPCWSTR) = nullptr;
  HRESULT(WINAPI* CloseThemeData)(HTHEME_) = nullptr;
  HRESULT(WINAPI* DrawThemeBackground)(HTHEME_, HDC, int, int, const RECT*, const RECT*) = nullptr;
  HRESULT(WINAPI* GetThemeBackgroundContentRect)(HTHEME_, HDC, int, int, const RECT*, RECT*) = nullptr;
  HRESULT(WINAPI* DrawThemeParentBackground)(HWND, HDC, const RECT*) = nullptr;
  BOOL(WINAPI* IsThemeBackgroundPartiallyTransparent)(HTHEME_, int, int) = nullptr;
  std::map<std::wstring, HTHEME_> themes;
};

template <class F>
static void Bind(HMODULE lib, F& f, const char* name) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

TThemeServices::TThemeServices() : impl_(new Impl) {
  impl_->lib = LoadLibraryA("uxtheme.dll");
  if (!impl_->lib) return;
  Bind(impl_->lib, impl_->IsThemeActive, "IsThemeActive");
  Bind(impl_->lib, impl_->IsAppThemed, "IsAppThemed");
  Bind(impl_->lib, impl_->OpenThemeData, "OpenThemeData");
  Bind(impl_->lib, impl_->CloseThemeData, "CloseThemeData");
  Bind(impl_->lib, impl_->DrawThemeBackground, "DrawThemeBackground");
  Bind(impl_->lib, impl_->GetThemeBackgroundContentRect, "GetThemeBackgroundContentRect");
  Bind(impl_->lib, impl_->DrawThemeParentBackground, "DrawThemeParentBackground");
  Bind(impl_->lib, impl_->IsThemeBackgroundPartiallyTransparent, "IsThemeBackgroundPartiallyTransparent");
}

TThemeServices::~TThemeServices() {
  UpdateThemes();
  if (impl_->lib) FreeLibrary(impl_->lib);
  delete impl_;
}

bool TThemeServices::ThemesEnabled() const {
  return impl_->IsThemeActive && impl_->IsAppThemed && impl_->OpenThemeData && impl_->DrawThemeBackground &&
         impl_->IsThemeActive() && impl_->IsAppThemed();
}

void TThemeServices::UpdateThemes() {
  if (impl_->CloseThemeData)
    for (auto& t : impl_->themes)
      if (t.second) impl_->CloseThemeData(t.second);
  impl_->themes.clear();
}

void* TThemeServices::Theme(const std::wstring& cls) {
  auto it = impl_->themes.find(cls);
  if (it != impl_->themes.end()) return it->second;
  void* h = impl_->OpenThemeData(nullptr, cls.c_str());
  impl_->themes[cls] = h;
  return h;
}

bool TThemeServices::DrawElement(HDC dc, const TThemedElementDetails& d, const RECT& r, const RECT* clip) {
  if (!ThemesEnabled()) return false;
  void* h = Theme(d.ClassName);
  return h && SUCCEEDED(impl_->DrawThemeBackground(h, dc, d.Part, d.State, &r, clip));
}

RECT TThemeServices::ContentRect(HDC dc, const TThemedElementDetails& d, const RECT& bounds) {
  RECT out = bounds;
  if (!ThemesEnabled() || !impl_->GetThemeBackgroundContentRect) return out;
  void* h = Theme(d.ClassName);
  if (!h || FAILED(impl_->GetThemeBackgroundContentRect(h, dc, d.Part, d.State, &bounds, &out))) out = bounds;
  return out;
}

bool TThemeServices::DrawParentBackground(HWND child, HDC dc, const RECT* r) {
  return ThemesEnabled() && impl_->DrawThemeParentBackground &&
         SUCCEEDED(impl_->DrawThemeParentBackground(child, dc, r));
}

bool TThemeServices::HasTransparentParts(const TThemedElementDetails& d) {
  if (!ThemesEnabled() || !impl_->IsThemeBackgroundPartiallyTransparent) return false;
  void* h = Theme(d.ClassName);
  return h && impl_->IsThemeBackgroundPartiallyTransparent(h, d.Part, d.State);
}

TThemeServices& ThemeServices() {
  static TThemeServices services;
  return services;
}

}  // namespace ui
