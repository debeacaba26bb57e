// Wide text on the library's canvas.
#include "VelGraphics.h"

namespace {

// The canvas tells its listeners around every drawing; those notifications are the library's own.
struct CanvasNotify : ui::TCanvas {
  static constexpr void (ui::TCanvas::*kChanging)() = &CanvasNotify::Changing;
  static constexpr void (ui::TCanvas::*kChanged)() = &CanvasNotify::Changed;
};

}  // namespace

UI_IMPLEMENT_CLASS(TVelPicture, ui::TPicture, ui::DefaultFactory<TVelPicture>, nullptr, nullptr, nullptr)

SIZE WideTextExtent(HDC dc, const std::wstring& text) {
  SIZE size = {0, 0};
  if (!GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size)) size = SIZE{0, 0};
  return size;
}

SIZE WideCanvasTextExtent(ui::TCanvas* canvas, const std::wstring& text) {
  canvas->RequiredState(ui::TCanvas::csHandleValid | ui::TCanvas::csFontValid);
  return WideTextExtent(canvas->GetHandle(), text);
}

int WideCanvasTextWidth(ui::TCanvas* canvas, const std::wstring& text) { return WideCanvasTextExtent(canvas, text).cx; }

int WideCanvasTextHeight(ui::TCanvas* canvas, const std::wstring& text) {
  return WideCanvasTextExtent(canvas, text).cy;
}

void WideCanvasTextOut(ui::TCanvas* canvas, int x, int y, const std::wstring& text) {
  (canvas->*CanvasNotify::kChanging)();
  canvas->RequiredState(ui::TCanvas::csHandleValid | ui::TCanvas::csFontValid | ui::TCanvas::csBrushValid);
  HDC dc = canvas->GetHandle();
  const int width = WideTextExtent(dc, text).cx;
  if (GetLayout(dc) & LAYOUT_RTL) x += width + 1;
  ExtTextOutW(dc, x, y, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
  MoveToEx(dc, x + width, y, nullptr);
  (canvas->*CanvasNotify::kChanged)();
}
