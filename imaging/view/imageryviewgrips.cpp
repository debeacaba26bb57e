// The decorations the view draws into its back buffer over the composed layers: each layer's frame
// and grips for the mouse's layer modes, the dimmed surroundings of the current layer, and the pixel
// grid of a strong zoom. The grip squares computed here are also what the mouse hit-tests.
#include <algorithm>
#include <cmath>

#include "iebitmap.h"
#include "iegdiplus.h"
#include "ielayer.h"
#include "iemask.h"
#include "ieviewglobals.h"
#include "imageryview.h"

namespace {
int Round(double v) { return int(std::lrint(v)); }

// Runs `draw` on the bitmap's device context with `pen` drawn with the raster operation `rop2`
// (inverting: R2_NOT), no brush and transparent gaps between dots.
template <typename F>
void WithPen(ui::TCanvas* canvas, HPEN pen, int rop2, F draw) {
  HDC dc = canvas->GetHandle();
  const int saved = SaveDC(dc);
  SelectObject(dc, pen);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SetROP2(dc, rop2);
  SetBkMode(dc, TRANSPARENT);
  draw(dc);
  RestoreDC(dc, saved);
}
}  // namespace

void TImageryView::GetLayerGripRects(int index, RECT rects[9]) {
  TIELayer* layer = GetLayer(index);
  const int s = LayerGripSize;
  POINT c[9];
  if (layer->GetRotation() != 0) {
    POINT k[4];
    for (int i = 0; i < 4; ++i) k[i] = POINT{layer->DrawInfo[8 + 2 * i], layer->DrawInfo[9 + 2 * i]};
    auto mid = [](POINT a, POINT b) { return POINT{(a.x + b.x) / 2, (a.y + b.y) / 2}; };
    c[0] = k[0];
    c[1] = k[1];
    c[2] = k[2];
    c[3] = k[3];
    c[4] = mid(k[0], k[3]);
    c[5] = mid(k[1], k[2]);
    c[6] = mid(k[0], k[1]);
    c[7] = mid(k[2], k[3]);
  } else {
    const RECT& r = layer->ClientRect;
    const LONG mx = (r.left + r.right) / 2, my = (r.top + r.bottom) / 2;
    c[0] = POINT{r.left, r.top};
    c[1] = POINT{r.right, r.top};
    c[2] = POINT{r.right, r.bottom};
    c[3] = POINT{r.left, r.bottom};
    c[4] = POINT{r.left, my};
    c[5] = POINT{r.right, my};
    c[6] = POINT{mx, r.top};
    c[7] = POINT{mx, r.bottom};
  }
  TIEBitmap* b = layer->Bitmap;
  c[8] = POINT{layer->BitmapToClientX(Round(b->GetImageWidth() * layer->RotationCenterX)),
               layer->BitmapToClientY(Round(b->GetImageHeight() * layer->RotationCenterY))};
  for (int i = 0; i < 9; ++i) rects[i] = RECT{c[i].x - s, c[i].y - s, c[i].x + s, c[i].y + s};
}

TIEGrip TImageryView::FindLayerGrip(int x, int y) {
  RECT rects[9];
  GetLayerGripRects(CurrentLayer, rects);
  const int last = (MouseInteract & IEMouseBit(miRotateLayers)) ? 9 : 8;
  for (int i = 0; i < last; ++i) {
    const RECT& r = rects[i];
    if (x >= r.left && x <= r.right && y >= r.top && y <= r.bottom) return TIEGrip(i + 1);
  }
  return ieNone;
}

void TImageryView::DrawLayerBox(TIEBitmap* bitmap, int index) {
  if (OnDrawLayerBox) {
    OnDrawLayerBox(this, bitmap, index);
    return;
  }
  ui::TCanvas* canvas = bitmap->GetCanvas();
  if (!canvas) return;
  TIELayer* layer = GetLayer(index);
  // the pen as the application set it: style, colour, width and mode
  WithPen(canvas, LayerBoxPen->GetHandle(), LayerBoxPen->GetRop2(), [&](HDC dc) {
    if (layer->GetRotation() != 0) {
      POINT k[4];
      for (int i = 0; i < 4; ++i) k[i] = POINT{layer->DrawInfo[8 + 2 * i], layer->DrawInfo[9 + 2 * i]};
      Polygon(dc, k, 4);
    } else {
      const RECT& r = layer->ClientRect;
      Rectangle(dc, r.left, r.top, r.right, r.bottom);
    }
  });
}

namespace {
void SetUpGripCanvas(TIECanvas& c, ui::TColor pen, ui::TColor brush, ui::TBrushStyle brushStyle) {
  c.GetPen()->SetStyle(ui::psSolid);
  c.GetPen()->SetColor(pen);
  c.GetPen()->SetWidth(1);
  c.GetBrush()->SetStyle(brushStyle);
  c.GetBrush()->SetColor(brush);
}
}  // namespace

void TImageryView::DrawLayerGrips(TIEBitmap* bitmap, int index) {
  RECT rects[9];
  GetLayerGripRects(index, rects);
  if (OnDrawLayerGrip) {
    for (int i = 0; i < 9; ++i) OnDrawLayerGrip(this, bitmap, index, i, rects[i]);
    return;
  }
  ui::TCanvas* canvas = bitmap->GetCanvas();
  if (!canvas) return;
  TIECanvas c(canvas, true);
  SetUpGripCanvas(c, LayerGripPenColour, LayerGripBrushColour, LayerGripBrushStyle);
  for (int i = 0; i < 8; ++i) {
    if (LayerGripShape == 0)
      c.Rectangle(rects[i]);
    else
      c.Ellipse(rects[i]);
  }
}

void TImageryView::DrawRotationGrip(TIEBitmap* bitmap, int index) {
  RECT rects[9];
  GetLayerGripRects(index, rects);
  ui::TCanvas* canvas = bitmap->GetCanvas();
  if (!canvas) return;
  TIECanvas c(canvas, true);
  SetUpGripCanvas(c, LayerGripPenColour, LayerGripBrushColour, LayerGripBrushStyle);
  c.Ellipse(rects[8]);
}

void TImageryView::DimOutsideLayer(TIEBitmap* bitmap, int index) {
  if (bitmap->GetPixelFormat() != ie24RGB) return;
  const RECT r = GetLayer(index)->ClientRect;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bitmap->GetRowAddress(y);
    const bool rowOutside = y < r.top || y > r.bottom;
    for (int x = (y & 1); x < w; x += 2) {  // row and column both even or both odd
      if (rowOutside || x < r.left || x > r.right) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 97;
    }
  }
}

void TImageryView::DrawPixelGrid(TIEBitmap* bitmap) {
  if (!ShowPixelGrid) return;
  TIELayer* layer = GetCurrentLayer();
  if (!layer->Visible) return;
  if (ZoomX < IEPixelGridZoom && ZoomY < IEPixelGridZoom) return;
  if (IEBitmap->GetImageWidth() <= 1 && IEBitmap->GetImageHeight() <= 1) return;
  ui::TCanvas* canvas = bitmap->GetCanvas();
  if (!canvas) return;
  const int* d = layer->DrawInfo;
  const int dx = d[0], dy = d[1], dw = d[2], dh = d[3], sw = d[6], sh = d[7];
  if (sw <= 0 || sh <= 0) return;
  ui::TPen gridPen;  // solid, 1 pixel
  WithPen(canvas, gridPen.GetHandle(), R2_NOT, [&](HDC dc) {
    for (int i = 0; i <= sw; ++i) {
      const int x = Round(dx + double(i) * dw / sw);
      MoveToEx(dc, x, dy, nullptr);
      LineTo(dc, x, dy + dh);
    }
    for (int j = 0; j <= sh; ++j) {
      const int y = Round(dy + double(j) * dh / sh);
      MoveToEx(dc, dx, y, nullptr);
      LineTo(dc, dx + dw, y);
    }
  });
  if (HighlightedGridPixel.x < 0 || HighlightedGridPixel.y < 0) return;
  const int px = HighlightedGridPixel.x, py = HighlightedGridPixel.y;
  TIECanvas c(canvas, true);
  c.GetPen()->SetStyle(ui::psSolid);
  c.GetPen()->SetColor(255);
  c.GetPen()->SetWidth(2);
  c.GetBrush()->SetStyle(ui::bsClear);
  c.RoundRect(layer->BitmapToClientX(px), layer->BitmapToClientY(py), layer->BitmapToClientX(px + 1),
              layer->BitmapToClientY(py + 1), 5, 5);
}

void TImageryView::DrawLayerDecorations(int index, TIEBitmap* dest) {
  TIELayer* layer = Layers[size_t(index)];
  if (layer->BoxVisible) {
    if (index == CurrentLayer) {
      if (MouseInteract & (IEMouseBit(miMoveLayers) | IEMouseBit(miResizeLayers))) DrawLayerBox(dest, index);
      if ((MouseInteract & IEMouseBit(miResizeLayers)) && !layer->Locked) DrawLayerGrips(dest, index);
      if (MouseInteract & IEMouseBit(miRotateLayers)) DrawRotationGrip(dest, index);
    } else if (ShowAllLayerBoxes) {
      DrawLayerBox(dest, index);
    }
  }
  if (layer->DimOutside && index == CurrentLayer) DimOutsideLayer(dest, index);
}

void TImageryView::DrawSelectionOverlays(TIEBitmap* bitmap) {
  if (!SelectionPolygon || !SelectionPolygon->Shown || !SelectionPresent || SelectionMask->IsEmpty()) return;
  const bool filled = (SelectionOptions & IESelOpt(iesoFilled)) != 0;
  const bool markOuter = (SelectionOptions & IESelOpt(iesoMarkOuter)) != 0;
  if (!filled && !markOuter) return;
  const int* d = GetCurrentLayer()->DrawInfo;
  if (filled) {
    if (ui::TCanvas* canvas = bitmap->GetCanvas())
      SelectionMask->DrawInverted(canvas->GetHandle(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
  }
  if (markOuter && bitmap->GetPixelFormat() == ie24RGB)
    SelectionMask->DrawOverlay(bitmap->GetTBitmap(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7],
                               MarkOuterOpacity, TColor(ui::ColorToRGB(MarkOuterColour)));
}
