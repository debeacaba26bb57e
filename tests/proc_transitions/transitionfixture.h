// Pictures the transition tests start from.
#pragma once
#include <memory>

#include "uibitmap.h"

// A 24-bit bitmap of one colour.
inline std::unique_ptr<ui::TBitmap> Flat(int w, int h, ui::TColor c) {
  auto b = std::make_unique<ui::TBitmap>();
  b->SetPixelFormat(ui::pf24bit);
  b->SetSize(w, h);
  b->Canvas()->Brush()->SetColor(c);
  b->Canvas()->FillRect(RECT{0, 0, w, h});
  return b;
}
