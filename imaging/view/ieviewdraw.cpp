#include "ieviewdraw.h"

#include <algorithm>

#include "uigraphics.h"

void IEShadeOutsideRect(ui::TCanvas* canvas, int outerX, int outerY, int outerWidth, int outerHeight, int innerLeft,
                        int innerTop, int innerRight, int innerBottom) {
  if (!canvas || innerRight <= innerLeft || innerBottom <= innerTop) return;
  TIECanvas c(canvas);
  c.GetBrush()->SetColor(ui::clBlack);
  c.GetBrush()->SetStyle(ui::bsSolid);
  c.GetBrush()->SetTransparency(150);
  const int R = outerX + outerWidth + 1, B = outerY + outerHeight + 1;
  c.FillRect(RECT{outerX, outerY, innerLeft + 2, B});
  c.FillRect(RECT{innerRight, outerY, R, B});
  c.FillRect(RECT{innerLeft + 1, outerY, innerRight + 1, innerTop + 2});
  c.FillRect(RECT{innerLeft + 1, innerBottom + 1, innerRight + 1, B});
}

void IEDrawBevelFrameIE(TIECanvas* canvas, int x1, int y1, int x2, int y2, ui::TColor colour1, ui::TColor colour2) {
  if (!canvas) return;
  TIEPen* pen = canvas->GetPen();
  pen->SetStyle(ui::psSolid);
  pen->SetWidth(1);
  pen->SetTransparency(255);
  pen->SetColor(colour1);
  canvas->MoveTo(x1, y2);
  canvas->LineTo(x1, y1);
  canvas->LineTo(x2, y1);
  pen->SetColor(colour2);
  canvas->MoveTo(x1, y2);
  canvas->LineTo(x2, y2);
  canvas->LineTo(x2, y1);
}

void IEDrawInfoBox(ui::TCanvas* canvas, int& x, int& y, const std::string& measure, const std::string& text) {
  if (!canvas) return;
  TIECanvas c(canvas, true, true);
  ui::TFont* font = c.GetFont();
  font->SetName("Arial");
  font->SetSize(9);
  font->SetColor(ui::clBlack);
  c.GetBrush()->SetColor(0x60FFFF);
  c.GetBrush()->SetStyle(ui::bsSolid);
  c.GetBrush()->SetTransparency(128);
  const int width = std::max(c.TextWidth(measure), c.TextWidth(text)) + 12, height = c.TextHeight(text) + 12;
  x = std::max(0, x);
  y = std::max(0, y);
  c.FillRect(RECT{x + 6, y + 6, x + width, y + height});
  IEDrawBevelFrameIE(&c, x + 6, y + 6, x + width, y + height, ui::clWhite, 0x808080);
  c.GetBrush()->SetStyle(ui::bsClear);
  canvas->Brush()->SetStyle(ui::bsClear);
  c.TextOut(x + 9, y + 9, text);
}
