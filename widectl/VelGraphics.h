// Wide text on the library's canvas, whose own text operations take 8-bit strings: drawn and measured
// with the W text functions of the graphics interface on every platform (they exist on both
// families). Sizes are in logical units of the canvas's device context.
#pragma once
#include <windows.h>

#include <string>

#include "uigraphics.h"
#include "uipicture.h"

// Draws at (x, y) and leaves the pen after the text. On a right-to-left device context the text
// starts at x + its width + 1.
void WideCanvasTextOut(ui::TCanvas* canvas, int x, int y, const std::wstring& text);
SIZE WideCanvasTextExtent(ui::TCanvas* canvas, const std::wstring& text);
int WideCanvasTextWidth(ui::TCanvas* canvas, const std::wstring& text);
int WideCanvasTextHeight(ui::TCanvas* canvas, const std::wstring& text);
// (0, 0) when the device context cannot measure.
SIZE WideTextExtent(HDC dc, const std::wstring& text);

// The picture of the layer's image control.
class TVelPicture : public ui::TPicture {
  UI_DECLARE_CLASS(TVelPicture, ui::TPicture)
 public:
  TVelPicture() = default;
};
