// Drawing the vector objects: straight onto a target through the canvas, or through a cached 24-bit
// intermediate with an 8-bit alpha channel where an object needs alpha work (shadow, highlight, blend
// operation, translucent text, software antialias); the kind drawing rules, line ends and grips.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "iebitmaprender.h"
#include "iegdiplus.h"
#include "ieplatformbitmap.h"
#include "ieresample.h"
#include "ieshadow.h"
#include "ietextutils.h"
#include "ievect.h"
#include "uibitmap.h"
#include "uipicture.h"

using namespace ui;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr RECT kEmptyDrawn{2000000000, 2000000000, -2000000000, -2000000000};

void Grow(RECT& r, int x, int y) {
  r.left = std::min<LONG>(r.left, x);
  r.top = std::min<LONG>(r.top, y);
  r.right = std::max<LONG>(r.right, x);
  r.bottom = std::max<LONG>(r.bottom, y);
}

void Grow(RECT& r, const RECT& b) {
  Grow(r, b.left, b.top);
  Grow(r, b.right, b.bottom);
}

RECT Ordered(int x1, int y1, int x2, int y2) {
  return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

// Intersection of two inclusive rectangles; right < left when they do not meet.
RECT Intersect(const RECT& a, const RECT& b) {
  return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

bool IsEmptyRect(const RECT& r) { return r.right < r.left || r.bottom < r.top; }

ui::TColor Grey(int v) {
  v = std::clamp(v, 0, 255);
  return ui::TColor(v | (v << 8) | (v << 16));
}

// Fonts realised for drawing, kept for the next objects: the objects of a view share a few fonts, and
// creating one costs more than drawing a short text with it. The most recently used come first; the
// least recently used goes when the cache is full (never while selected: every use selects it only for
// the drawing of one object).
class TFontCache {
 public:
  TFontCache() = default;
  ~TFontCache() {
    for (const Entry& e : Entries) DeleteObject(e.Font);
  }
  TFontCache(const TFontCache&) = delete;
  TFontCache& operator=(const TFontCache&) = delete;

  HFONT Get(const LOGFONTA& lf) {
    for (size_t i = 0; i < Entries.size(); ++i)
      if (std::memcmp(&Entries[i].Key, &lf, sizeof lf) == 0) {
        std::rotate(Entries.begin(), Entries.begin() + ptrdiff_t(i), Entries.begin() + ptrdiff_t(i) + 1);
        return Entries[0].Font;
      }
    HFONT font = CreateFontIndirectA(&lf);
    if (!font) return nullptr;
    if (Entries.size() == kCapacity) {
      DeleteObject(Entries.back().Font);
      Entries.pop_back();
    }
    Entries.insert(Entries.begin(), Entry{lf, font});
    return font;
  }

 private:
  static constexpr size_t kCapacity = 16;
  struct Entry {
    LOGFONTA Key;
    HFONT Font;
  };
  std::vector<Entry> Entries;
};

thread_local TFontCache g_fonts;

// A font of the record's description with the height and quality given; nullptr without a record.
// The cache owns it.
HFONT RealiseFont(const LOGFONTA* font, int height, uint8_t quality, int escapement) {
  if (!font) return nullptr;
  LOGFONTA lf = *font;
  // what follows the name's end is not part of the description
  const size_t n = strnlen(lf.lfFaceName, LF_FACESIZE);
  std::memset(lf.lfFaceName + n, 0, LF_FACESIZE - n);
  lf.lfHeight = height;
  static const BYTE kQuality[3] = {4, 5, 6};
  lf.lfQuality = kQuality[std::min<int>(quality, 2)];
  lf.lfEscapement = escapement;
  lf.lfOrientation = escapement;
  return g_fonts.Get(lf);
}

// Selects a font into a device context for a scope; the previous font comes back.
class TFontScope {
 public:
  TFontScope(HDC dc, HFONT font) : DC(dc), Font(font) {
    if (Font) Old = SelectObject(DC, Font);
  }
  ~TFontScope() {
    if (Font) SelectObject(DC, Old);
  }
  TFontScope(const TFontScope&) = delete;
  TFontScope& operator=(const TFontScope&) = delete;

 private:
  HDC DC;
  HFONT Font;
  HGDIOBJ Old = nullptr;
};

}  // namespace

struct TImageryVect::TDrawContext {
  TIEVObjectRecord* R;
  int Hobj;
  TIEBitmap* Target;        // the bitmap drawn into (24-bit, or the 8-bit alpha channel)
  TIEBitmap* Intermediate;  // given: bitmap objects write their own alpha into it
  TIECanvas* Canvas;
  ui::TCanvas* PlainCanvas;
  bool AlphaPass, ViewCoords;
  int F;
  double ZX, ZY;
  int X1, Y1, X2, Y2;
  int Width;
  int ConvX(TImageryVect* v, int x) const { return ViewCoords ? v->ImageToClientX(x) * F : x * F; }
  int ConvY(TImageryVect* v, int y) const { return ViewCoords ? v->ImageToClientY(y) * F : y * F; }
  void SetFill() const {
    Canvas->GetBrush()->SetColor(R->BrushColor);
    Canvas->GetBrush()->SetStyle(ui::TBrushStyle(R->BrushStyle));
  }
};

RECT TImageryVect::VisibleImageArea() {
  const int left = std::max(0, ImageToClientX(0)), top = std::max(0, ImageToClientY(0));
  const int right = std::min(GetViewportWidth(), ImageToClientX(GetImageWidth()));
  const int bottom = std::min(GetViewportHeight(), ImageToClientY(GetImageHeight()));
  return RECT{left, top, right - 1, bottom - 1};
}

TIEBitmap* TImageryVect::IntermediateOfSize(int width, int height) {
  if (!Intermediate || Intermediate->GetImageWidth() != width || Intermediate->GetImageHeight() != height) {
    Intermediate.reset();
    auto b = std::make_unique<TIEBitmap>();
    b->SetLocation(ieTBitmap);
    b->Allocate(width, height, ie24RGB);
    TIEBitmap* alpha = b->GetAlphaChannel();
    alpha->SetLocation(ieTBitmap);
    RGBQUAD grey[256];
    for (int i = 0; i < 256; ++i) grey[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    alpha->GetTBitmap()->SetColorTable(grey, 256);
    Intermediate = std::move(b);
  }
  return Intermediate.get();
}

void TImageryVect::DrawObjectsToBitmap(TIEBitmap* bitmap, bool antialias, int hobj) {
  if (!bitmap || bitmap->IsEmpty()) return;
  const bool savedSoft = SoftAntialias, savedFast = FastDrawing;
  struct Restore {
    TImageryVect* V;
    bool Soft, Fast;
    ~Restore() {
      V->SoftAntialias = Soft;
      V->FastDrawing = Fast;
    }
  } restore{this, savedSoft, savedFast};
  if (antialias) SoftAntialias = true;
  FastDrawing = false;
  if (bitmap->GetPixelFormat() == ie24RGB && bitmap->GetLocation() == ieTBitmap) {
    DrawObjectsTo(bitmap, true, hobj, antialias);
    return;
  }
  const TIEPixelFormat former = bitmap->GetPixelFormat();
  TIEBitmap tmp;
  tmp.CopyImageFrom(bitmap);
  tmp.ConvertPixelFormat(ie24RGB);
  tmp.SetLocation(ieTBitmap);
  DrawObjectsTo(&tmp, true, hobj, antialias);
  tmp.SetLocation(ieTempFile);
  tmp.ConvertPixelFormat(former);
  tmp.CopyRectTo(bitmap, 0, 0, 0, 0, tmp.GetImageWidth(), tmp.GetImageHeight());
}

void TImageryVect::RenderObjectsIntoImage(bool antialias) {
  DrawObjectsToBitmap(GetIEBitmap(), antialias, IEV_ALL);
  UpdateView();
  ImageChange();
}

void TImageryVect::DrawObjectsTo(TIEBitmap* target, bool toImage, int hobj, bool antialias) {
  if (SuspendDrawing || !target || target->IsEmpty()) return;
  const bool pathA = !SoftAntialias || ObjectList.empty() || IEGdiPlusAvailable();
  std::vector<int> handles;
  if (hobj == IEV_ALL) handles = ObjectList;
  else handles.push_back(Resolve(hobj, false));
  for (int h : handles) {
    TIEVObjectRecord& r = *Records[size_t(h)];
    if (pathA) {
      const bool plain = !r.Shadow.Enabled && !r.Highlight && r.BlendOperation == 0 &&
                         (r.Transparency == 255 || (r.Kind != ievkTEXT && r.Kind != ievkMEMO));
      if (plain || (FastDrawing && AllowFastDrawing)) DrawObject(r, h, false, 1, nullptr, !toImage, !toImage, target);
      else DrawThroughIntermediate(r, h, target, toImage, 1);
    } else {
      DrawThroughIntermediate(r, h, target, toImage, antialias ? 2 : 1);
    }
  }
}

void TImageryVect::DrawThroughIntermediate(TIEVObjectRecord& r, int hobj, TIEBitmap* target, bool toImage, int F) {
  if (!toImage && !ReachesView(r, F)) {
    // nothing of it is visible: the call only records that nothing was drawn
    DrawObject(r, hobj, false, F, nullptr, true, true, target);
    return;
  }
  const int W = target->GetImageWidth() * F, H = target->GetImageHeight() * F;
  TIEBitmap* I = IntermediateOfSize(W, H);
  TIEBitmap* alpha = I->GetAlphaChannel();
  const RECT whole{0, 0, W - 1, H - 1};

  // Only the part of the intermediate that the object can reach is prepared and merged: the box grown
  // by the pen and the line ends (a text on no curve is clipped to its box); kinds whose text or marks
  // may leave the box, and shadows, use all.
  auto conv = [&](int x, bool horizontal) {
    if (!toImage) return (horizontal ? ImageToClientX(x) : ImageToClientY(x)) * F;
    return x * F;
  };
  RECT box = Ordered(conv(r.X1, true), conv(r.Y1, false), conv(r.X2 + 1, true), conv(r.Y2 + 1, false));
  RECT prep = whole;
  const bool boxed = r.Kind == ievkLINE || r.Kind == ievkBOX || r.Kind == ievkELLIPSE || r.Kind == ievkARC ||
                     r.Kind == ievkBITMAP || r.Kind == ievkPOLYLINE || (r.Kind == ievkTEXT && r.CurveCount() == 0);
  if (boxed && !r.Shadow.Enabled) {
    const double z = toImage ? F : std::max(GetZoomX(), GetZoomY()) / 100.0 * F;
    // a pen that does not zoom keeps its width in the intermediate's pixels
    const double pen = ZoomObjectsWidth ? z * std::max(r.PenWidth, 1) : std::max(r.PenWidth, 1);
    const int reach = int(std::ceil(pen + z * std::max(r.ShapeWidth, r.ShapeHeight))) + 4;
    prep = Intersect(RECT{box.left - reach, box.top - reach, box.right + reach, box.bottom + reach}, whole);
  }
  if (IsEmptyRect(prep)) return;

  // Fill with the pen colour: the colour that antialiased edges blend towards.
  const TIERGB fill{uint8_t(r.PenColor >> 16), uint8_t(r.PenColor >> 8), uint8_t(r.PenColor)};
  for (int y = prep.top; y <= prep.bottom; ++y) {
    TIERGB* row = reinterpret_cast<TIERGB*>(I->GetRowAddress(y));
    std::fill(row + prep.left, row + prep.right + 1, fill);
  }
  if (r.Highlight) {
    // The pixels under the box, as far as the box lies inside the target.
    const RECT under = Intersect(RECT{box.left, box.top, box.right - 1, box.bottom - 1}, prep);
    if (!IsEmptyRect(under)) {
      for (int y = under.top; y <= under.bottom; ++y) {
        TIERGB* row = reinterpret_cast<TIERGB*>(I->GetRowAddress(y));
        TIERGB* src = reinterpret_cast<TIERGB*>(target->GetRowAddress(y / F));
        for (int x = under.left; x <= under.right; ++x) row[x] = src[x / F];
      }
    }
  }
  if (!DrawObject(r, hobj, false, F, nullptr, !toImage, !toImage, I)) return;

  for (int y = prep.top; y <= prep.bottom; ++y) std::fill_n(alpha->GetRowAddress(y) + prep.left, prep.right - prep.left + 1, 0);
  alpha->IsAll255 = false;
  if (r.Kind == ievkBITMAP && SharedBitmap(r.BitmapIndex)) {
    DrawObject(r, hobj, false, F, I, !toImage, !toImage, I);
  } else {
    const ui::TColor saved[4] = {r.PenColor, r.BrushColor, r.LabelBrushColor, r.MemoBorderColor};
    r.PenColor = r.BrushColor = r.LabelBrushColor = r.MemoBorderColor = Grey(r.Transparency);
    try {
      DrawObject(r, hobj, true, F, nullptr, !toImage, !toImage, alpha);
    } catch (...) {
      r.PenColor = saved[0], r.BrushColor = saved[1], r.LabelBrushColor = saved[2], r.MemoBorderColor = saved[3];
      throw;
    }
    r.PenColor = saved[0], r.BrushColor = saved[1], r.LabelBrushColor = saved[2], r.MemoBorderColor = saved[3];
  }

  RECT m = Ordered(r.DrawnBox.left - r.DrawnMargin, r.DrawnBox.top - r.DrawnMargin, r.DrawnBox.right + r.DrawnMargin,
                   r.DrawnBox.bottom + r.DrawnMargin);
  m = Intersect(m, prep);
  if (F > 1) m = RECT{m.left + 2, m.top + 2, m.right - 2, m.bottom - 2};
  if (IsEmptyRect(m)) return;
  if (r.Shadow.Enabled) {
    const TIEVSoftShadow& s = r.Shadow;
    const uint32_t colour = (uint32_t(s.Color.r) << 16) | (uint32_t(s.Color.g) << 8) | s.Color.b;
    const int border = IEAddSoftShadow(I, s.OffsetX * F, s.OffsetY * F, TIERect{int(m.left), int(m.top), int(m.right), int(m.bottom)},
                                       colour, s.Intensity, s.Radius * F);
    // the shadow spreads on every side; pixels it left transparent merge as nothing
    m = Intersect(RECT{m.left - border, m.top - border, m.right + border, m.bottom + border}, whole);
  }
  const TIEBlendOperation op = TIEBlendOperation(r.BlendOperation);
  if (F == 1) {
    IERenderZoomedInto(I, target, nullptr, nullptr, m.left, m.top, m.right - m.left + 1, m.bottom - m.top + 1, m.left,
                       m.top, m.right - m.left + 1, m.bottom - m.top + 1, true, false, 255, op);
    return;
  }
  // F x F down-sampling with the alpha as weight: each target pixel takes its block of the intermediate.
  const int tw = target->GetImageWidth(), th = target->GetImageHeight();
  const int tx1 = std::max(0, int(m.left) / F), ty1 = std::max(0, int(m.top) / F);
  const int tx2 = std::min(tw - 1, int(m.right) / F), ty2 = std::min(th - 1, int(m.bottom) / F);
  for (int ty = ty1; ty <= ty2; ++ty) {
    TIERGB* trow = reinterpret_cast<TIERGB*>(target->GetRowAddress(ty));
    for (int tx = tx1; tx <= tx2; ++tx) {
      int sa = 0, sr = 0, sg = 0, sb = 0;
      for (int j = 0; j < F; ++j) {
        const TIERGB* irow = reinterpret_cast<const TIERGB*>(I->GetRowAddress(ty * F + j));
        const uint8_t* arow = alpha->GetRowAddress(ty * F + j);
        for (int i = 0; i < F; ++i) {
          const int a = arow[tx * F + i];
          const TIERGB& p = irow[tx * F + i];
          sa += a, sr += a * p.r, sg += a * p.g, sb += a * p.b;
        }
      }
      if (sa == 0) continue;
      const int n = F * F;
      const int a = sa / n;
      TIERGB& d = trow[tx];
      d.r = uint8_t((sr / sa * a + d.r * (255 - a)) / 255);
      d.g = uint8_t((sg / sa * a + d.g * (255 - a)) / 255);
      d.b = uint8_t((sb / sa * a + d.b * (255 - a)) / 255);
    }
  }
}

bool TImageryVect::DrawObject(TIEVObjectRecord& r, int hobj, bool alphaPass, int F, TIEBitmap* intermediate,
                              bool viewCoords, bool clip, TIEBitmap* target) {
  if (SuspendDrawing) return false;
  TDrawContext c{};
  c.R = &r, c.Hobj = hobj, c.Target = target, c.Intermediate = intermediate, c.AlphaPass = alphaPass;
  c.ViewCoords = viewCoords, c.F = F;
  PlaceObject(c);
  r.DrawnBox = kEmptyDrawn;
  r.DrawnMargin = c.Width;
  if (!(r.Flags & ievfVisible)) return false;
  if (clip && !InView(c)) return false;
  ui::TCanvas* plain = target->GetCanvas();
  if (!plain) return false;
  const bool useGdiPlus = target->GetPixelFormat() == ie24RGB;  // GDI+ does not draw on 8-bit surfaces
  TIECanvas canvas(plain, ObjAntialias && !(FastDrawing && AllowFastDrawing), useGdiPlus);
  c.Canvas = &canvas, c.PlainCanvas = plain;
  TIEPen* pen = canvas.GetPen();
  pen->SetStyle(ui::TPenStyle(r.PenStyle));
  pen->SetWidth(float(c.Width));
  pen->SetColor(r.PenColor);
  pen->SetTransparency(r.Transparency);
  canvas.GetBrush()->SetTransparency(r.Transparency);
  plain->Pen()->SetWidth(c.Width);

  const RECT destRect{c.X1, c.Y1, c.X2, c.Y2};
  bool handled = false;
  if (OnBeforeDrawObject) {
    OnBeforeDrawObject(this, hobj, target, destRect, alphaPass, handled);
    Grow(r.DrawnBox, Ordered(c.X1, c.Y1, c.X2, c.Y2));
  }
  if (!handled) {
    DrawKind(c);
    ++DrawnCount;
  }
  if (OnAfterDrawObject) {
    bool after = handled;
    OnAfterDrawObject(this, hobj, target, destRect, alphaPass, after);
    Grow(r.DrawnBox, Ordered(c.X1, c.Y1, c.X2, c.Y2));
  }
  GdiFlush();
  return true;
}

void TImageryVect::PlaceObject(TDrawContext& c) {
  TIEVObjectRecord& r = *c.R;
  const int F = c.F;
  c.ZX = (c.ViewCoords ? GetZoomX() / 100.0 : 1.0) * F;
  c.ZY = (c.ViewCoords ? GetZoomY() / 100.0 : 1.0) * F;
  c.X1 = c.ConvX(this, r.X1), c.Y1 = c.ConvY(this, r.Y1), c.X2 = c.ConvX(this, r.X2), c.Y2 = c.ConvY(this, r.Y2);
  if (r.Highlight) r.PenWidth = 1;
  c.Width = ZoomObjectsWidth ? int(std::ceil(std::max(std::min(c.ZX, c.ZY) * r.PenWidth, 1.0))) : r.PenWidth;
  if (r.Kind == ievkBITMAP && c.ViewCoords) {
    if (c.ZX != F) c.X2 = c.ConvX(this, r.X2 + 1) - 1;
    if (c.ZY != F) c.Y2 = c.ConvY(this, r.Y2 + 1) - 1;
  }
}

bool TImageryVect::InView(const TDrawContext& c) {
  const int F = c.F;
  RECT vis = VisibleImageArea();
  vis = RECT{vis.left * F, vis.top * F, (vis.right + 1) * F - 1, (vis.bottom + 1) * F - 1};
  const RECT b = Ordered(c.X1, c.Y1, c.X2, c.Y2);
  const RECT reach{b.left - c.Width, b.top - c.Width, b.right + c.Width, b.bottom + c.Width};
  return !IsEmptyRect(Intersect(reach, vis));
}

bool TImageryVect::ReachesView(TIEVObjectRecord& r, int F) {
  TDrawContext c{};
  c.R = &r, c.ViewCoords = true, c.F = F;
  PlaceObject(c);
  return InView(c);
}

void TImageryVect::DrawLineEnd(TDrawContext& c, int shape, POINT tip, POINT other) {
  if (shape != 1 && shape != 2) return;
  const double w = std::trunc(c.R->ShapeWidth * c.ZX), h = std::trunc(c.R->ShapeHeight * c.ZY);
  double a;
  if (tip.x == other.x) a = other.y > tip.y ? kPi / 2 : -kPi / 2;
  else a = std::atan2(double(other.y - tip.y), double(other.x - tip.x));
  const double ux = std::cos(a), uy = std::sin(a), px = -uy, py = ux;
  POINT p[3];
  if (shape == 1) {
    p[0] = POINT{LONG(std::trunc(tip.x + px * w / 2)), LONG(std::trunc(tip.y + py * w / 2))};
    p[1] = POINT{LONG(std::trunc(tip.x - px * w / 2)), LONG(std::trunc(tip.y - py * w / 2))};
    p[2] = POINT{LONG(std::trunc(tip.x + ux * h)), LONG(std::trunc(tip.y + uy * h))};
  } else {
    const double bx = tip.x + ux * h, by = tip.y + uy * h;
    p[0] = tip;
    p[1] = POINT{LONG(std::trunc(bx + px * w / 2)), LONG(std::trunc(by + py * w / 2))};
    p[2] = POINT{LONG(std::trunc(bx - px * w / 2)), LONG(std::trunc(by - py * w / 2))};
  }
  c.SetFill();
  c.Canvas->Polygon(p, 2);
  for (const POINT& q : p) Grow(c.R->DrawnBox, q.x, q.y);
}

void TImageryVect::DrawBitmapObject(TDrawContext& c) {
  TIEVObjectRecord& r = *c.R;
  TIEBitmap* bmp = SharedBitmap(r.BitmapIndex);
  const RECT b = Ordered(c.X1, c.Y1, c.X2, c.Y2);
  Grow(r.DrawnBox, b);
  if (!bmp || bmp->IsEmpty()) {
    // a placeholder: the diagonals and the frame
    c.Canvas->DrawLine(c.X1, c.Y1, c.X2, c.Y2);
    c.Canvas->DrawLine(c.X2, c.Y1, c.X1, c.Y2);
    c.PlainCanvas->Brush()->SetStyle(ui::bsClear);
    GdiFlush();
    c.PlainCanvas->Rectangle(b.left, b.top, b.right + 1, b.bottom + 1);
    return;
  }
  if (c.AlphaPass) return;
  GdiFlush();
  TIEBitmap* dest = c.Intermediate ? c.Intermediate : c.Target;
  const int w = b.right - b.left + 1, h = b.bottom - b.top + 1;
  if (r.BitmapBorder) {
    const int m = std::min({r.DrawnMargin, w, h});
    TIEBitmap* alpha = c.Intermediate ? c.Intermediate->GetAlphaChannel() : nullptr;
    const TIERGB pc{uint8_t(r.PenColor >> 16), uint8_t(r.PenColor >> 8), uint8_t(r.PenColor)};
    for (int y = std::max<int>(b.top, 0); y <= std::min<int>(b.bottom, dest->GetImageHeight() - 1); ++y) {
      TIERGB* row = reinterpret_cast<TIERGB*>(dest->GetRowAddress(y));
      uint8_t* arow = alpha ? alpha->GetRowAddress(y) : nullptr;
      for (int x = std::max<int>(b.left, 0); x <= std::min<int>(b.right, dest->GetImageWidth() - 1); ++x) {
        if (x - b.left < m || b.right - x < m || y - b.top < m || b.bottom - y < m) {
          row[x] = pc;
          if (arow) arow[x] = 255;
        }
      }
    }
  }
  // With a filter the bitmap is first resampled to the box's size (not while a drag changes objects).
  std::unique_ptr<TIEBitmap> filtered;
  if (BitmapResampleFilter != rfNone && !NoResampleWhileDragging && (w != bmp->GetImageWidth() || h != bmp->GetImageHeight()) &&
      w > 0 && h > 0) {
    filtered = std::make_unique<TIEBitmap>();
    filtered->Allocate(w, h, ie24RGB);
    IEResample(bmp, filtered.get(), BitmapResampleFilter, nullptr, TIEProgressEvent());
    bmp = filtered.get();
  }
  const int sw = bmp->GetImageWidth(), sh = bmp->GetImageHeight();
  if (c.Intermediate) IEResampleRectInto(bmp, c.Intermediate, b.left, b.top, w, h, 0, 0, sw, sh, r.Transparency);
  else IERenderZoomedInto(bmp, c.Target, nullptr, nullptr, b.left, b.top, w, h, 0, 0, sw, sh, true, false, r.Transparency, ieboNormal);
}

void TImageryVect::DrawLineLabel(TDrawContext& c) {
  TIEVObjectRecord& r = *c.R;
  if (r.Text.empty() || !r.Font) return;
  HDC dc = c.Canvas->GetHandle();
  const int esc = r.Font->lfEscapement;
  TFontScope font(dc, RealiseFont(r.Font.get(), int(r.Font->lfHeight * c.ZY), r.TextQuality, esc));
  SIZE sz{0, 0};
  GetTextExtentPoint32A(dc, r.Text.data(), int(r.Text.size()), &sz);
  const int w = sz.cx, h = sz.cy;
  const double a = esc / 10.0 * kPi / 180.0;
  const POINT anchor = r.LabelAtEnd == 1 ? POINT{c.X2, c.Y2} : POINT{c.X1, c.Y1};
  const POINT other = r.LabelAtEnd == 1 ? POINT{c.X1, c.Y1} : POINT{c.X2, c.Y2};
  const int bx = anchor.x < other.x ? anchor.x - w : anchor.x;
  const int by = anchor.y < other.y ? anchor.y - h : anchor.y;
  int ox;
  switch (r.TextAlign) {
    case 0: ox = std::abs(int(std::trunc(std::sin(a) * h))); break;
    case 1: ox = int(std::trunc(w - std::cos(a) * w)); break;
    default: ox = int((w - std::cos(a) * w - std::sin(a) * h) / 2);
  }
  const int oy = int((h - std::cos(a) * h + std::sin(a) * w) / 2);
  c.Canvas->GetBrush()->SetColor(r.LabelBrushColor);
  c.Canvas->GetBrush()->SetStyle(ui::TBrushStyle(r.LabelBrushStyle));
  c.Canvas->GetPen()->SetColor(r.PenColor);
  if (r.LabelBorder == 0) c.Canvas->GetPen()->SetStyle(ui::psClear);
  if (r.LabelBorder == 2) c.Canvas->RoundRect(bx, by, bx + w, by + h, 10, 10);
  else if (r.LabelBorder == 3) c.Canvas->Ellipse(bx, by - h, bx + w, by + 2 * h);
  else c.Canvas->Rectangle(bx, by, bx + w, by + h);
  GdiFlush();
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, r.PenColor);
  const RECT clipBox{bx, by, bx + w, by + h};
  ExtTextOutA(dc, bx + ox, by + oy, ETO_CLIPPED, &clipBox, r.Text.data(), UINT(r.Text.size()), nullptr);
  Grow(r.DrawnBox, RECT{bx, by, bx + w, by + h});
  auto back = [&](int v, bool horizontal) {
    if (!c.ViewCoords) return v / c.F;
    return horizontal ? ClientToImageX(v / c.F) : ClientToImageY(v / c.F);
  };
  r.LabelBox = RECT{back(bx, true), back(by, false), back(bx + w, true), back(by + h, false)};
}

void TImageryVect::DrawPlainText(TDrawContext& c) {
  TIEVObjectRecord& r = *c.R;
  const RECT b = Ordered(c.X1, c.Y1, c.X2, c.Y2);
  Grow(r.DrawnBox, b);
  c.Canvas->Rectangle(c.X1, c.Y1, c.X2 + 1, c.Y2 + 1);
  GdiFlush();
  if (r.Text.empty() || !r.Font) return;
  HDC dc = c.Canvas->GetHandle();
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, r.PenColor);
  const int height = r.Font->lfHeight != 0 ? int(r.Font->lfHeight * c.ZY) : (c.Y2 - c.Y1);
  if (r.CurveCount() > 0) {
    // characters along the path, one per step of the path length
    const UINT oldAlign = SetTextAlign(dc, TA_BASELINE | TA_CENTER);
    const double bw = c.X2 - c.X1, bh = c.Y2 - c.Y1;
    std::vector<std::pair<double, double>> pts;
    for (const auto& p : r.CurvePoints) pts.emplace_back(p.first * bw, p.second * bh);
    double length = 0;
    for (size_t i = 1; i < pts.size(); ++i) length += std::hypot(pts[i].first - pts[i - 1].first, pts[i].second - pts[i - 1].second);
    const int step = int(std::trunc(length / double(r.Text.size())));
    auto pointAt = [&](double d, double& x, double& y) {
      for (size_t i = 1; i < pts.size(); ++i) {
        const double seg = std::hypot(pts[i].first - pts[i - 1].first, pts[i].second - pts[i - 1].second);
        if (d <= seg && seg > 0) {
          x = pts[i - 1].first + (pts[i].first - pts[i - 1].first) * d / seg;
          y = pts[i - 1].second + (pts[i].second - pts[i - 1].second) * d / seg;
          return true;
        }
        d -= seg;
      }
      return false;
    };
    if (step > 0 || pts.size() == 1) {
      for (size_t k = 0; k < r.Text.size(); ++k) {
        double x, y;
        if (pts.size() == 1) x = pts[0].first, y = pts[0].second;
        else if (!pointAt(double(k) * step, x, y)) break;
        int esc = r.CurveEscapement;
        if (esc == -10) {
          double nx = x, ny = y;
          if (!pointAt(double(k + 1) * step, nx, ny)) nx = pts.back().first, ny = pts.back().second;
          const double dx = nx - x, dy = ny - y;
          if (std::fabs(dx) < 0.01) esc = dy > 0 ? 2700 : 900;
          else esc = int(std::lround((std::atan(-dy / dx) + (dx < 0 ? kPi : 0)) * 1800 / kPi));
        }
        HFONT f = RealiseFont(r.Font.get(), height, r.TextQuality, esc);
        if (!f) continue;
        TFontScope scope(dc, f);
        const int px = c.X1 + int(std::trunc(x)), py = c.Y1 + int(std::trunc(y));
        TextOutA(dc, px, py, &r.Text[k], 1);
        GLYPHMETRICS gm{};
        const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        if (GetGlyphOutlineA(dc, UINT(uint8_t(r.Text[k])), GGO_METRICS, &gm, 0, nullptr, &identity) != GDI_ERROR) {
          Grow(r.DrawnBox, RECT{px + gm.gmptGlyphOrigin.x - int(gm.gmBlackBoxX), py - gm.gmptGlyphOrigin.y,
                                px + gm.gmptGlyphOrigin.x + int(gm.gmBlackBoxX), py - gm.gmptGlyphOrigin.y + int(gm.gmBlackBoxY)});
        }
      }
    }
    SetTextAlign(dc, oldAlign);
    return;
  }
  const int esc = r.Font->lfEscapement;
  TFontScope font(dc, RealiseFont(r.Font.get(), height, r.TextQuality, esc));
  SIZE sz{0, 0};
  GetTextExtentPoint32A(dc, r.Text.data(), int(r.Text.size()), &sz);
  const double a = esc / 10.0 * kPi / 180.0;
  const int w = sz.cx, h = sz.cy, boxW = c.X2 - c.X1, boxH = c.Y2 - c.Y1;
  const int penPad = r.PenStyle == ui::psClear ? 0 : int(std::lround(c.ZX * (r.PenWidth + 1)));
  int ox;
  switch (r.TextAlign) {
    case 0: ox = std::abs(int(std::trunc(std::sin(a) * h))) + penPad; break;
    case 1: ox = int(std::trunc(boxW - std::cos(a) * w)) - penPad; break;
    default: ox = int((boxW - std::cos(a) * w - std::sin(a) * h) / 2);
  }
  const int oy = int((boxH - std::cos(a) * h + std::sin(a) * w) / 2);
  const RECT clipBox{b.left, b.top, b.right + 1, b.bottom + 1};
  ExtTextOutA(dc, c.X1 + ox, c.Y1 + oy, ETO_CLIPPED, &clipBox, r.Text.data(), UINT(r.Text.size()), nullptr);
}

void TImageryVect::DrawMemo(TDrawContext& c) {
  TIEVObjectRecord& r = *c.R;
  const RECT b = Ordered(c.X1, c.Y1, c.X2, c.Y2);
  Grow(r.DrawnBox, b);
  // The control borrows the object's text and formats for the drawing; they come back however the
  // drawing ends (the control may have re-allocated them).
  TIETextControl* tc = New<TIETextControl>(nullptr);
  tc->Text = std::move(r.Text);
  tc->Formats = std::move(r.MemoFormats);
  tc->CharFormats = std::move(r.MemoCharFormats);
  struct GiveBack {
    TIEVObjectRecord& R;
    TIETextControl* C;
    ~GiveBack() {
      R.Text = std::move(C->Text);
      R.MemoFormats = std::move(C->Formats);
      R.MemoCharFormats = std::move(C->CharFormats);
      C->Free();
    }
  } giveBack{r, tc};
  tc->ZoomFactor = c.ZY;
  tc->MarginLeft = r.MemoMargins[0], tc->MarginTop = r.MemoMargins[1];
  tc->MarginRight = r.MemoMargins[2], tc->MarginBottom = r.MemoMargins[3];
  if (r.Font) {
    tc->TextFont->SetName(r.Font->lfFaceName);
    tc->TextFont->SetStyle(IELogFontToStyleBits(r.Font.get()));
    tc->TextFont->SetHeight(r.Font->lfHeight);
  }
  tc->TextFont->SetColor(r.PenColor);
  tc->TextBrush->SetColor(r.BrushColor);
  tc->TextBrush->SetStyle(ui::TBrushStyle(r.MemoBackgroundStyle));
  tc->Alignment = r.TextAlign;
  tc->BackgroundBrush->SetColor(r.BrushColor);
  tc->BackgroundBrush->SetStyle(ui::TBrushStyle(r.BrushStyle));
  tc->FixedColors = c.AlphaPass;
  tc->CollectText = c.AlphaPass;
  tc->SetUniformFormat(r.MemoUniformFormat);
  tc->AutoHeight = r.AutoSize;
  tc->LineSpacing = r.MemoLineSpacing;
  tc->BorderPen->SetColor(r.MemoBorderColor);
  tc->BorderPen->SetStyle(ui::TPenStyle(r.MemoBorderStyle));
  tc->FixedLineHeight = r.MemoLineHeight;
  tc->Init();
  GdiFlush();
  tc->DrawText(c.Canvas, b.left, b.top, std::abs(r.X2 - r.X1) + 1, std::abs(r.Y2 - r.Y1) + 1);
}

void TImageryVect::DrawKind(TDrawContext& c) {
  TIEVObjectRecord& r = *c.R;
  TIECanvas& cv = *c.Canvas;
  switch (r.Kind) {
    case ievkLINE:
    case ievkLINELABEL:
      cv.DrawLine(c.X1, c.Y1, c.X2, c.Y2);
      Grow(r.DrawnBox, c.X1, c.Y1);
      Grow(r.DrawnBox, c.X2, c.Y2);
      c.SetFill();
      DrawLineEnd(c, r.StartShape, POINT{c.X1, c.Y1}, POINT{c.X2, c.Y2});
      DrawLineEnd(c, r.EndShape, POINT{c.X2, c.Y2}, POINT{c.X1, c.Y1});
      if (r.Kind == ievkLINELABEL) DrawLineLabel(c);
      break;
    case ievkBOX: {
      c.SetFill();
      cv.GetPen()->SetLineJoin(ieljMiter);
      const RECT b = Ordered(c.X1, c.Y1, c.X2, c.Y2);
      Grow(r.DrawnBox, b);
      if (!r.Highlight) {
        cv.Rectangle(c.X1, c.Y1, c.X2 + 1, c.Y2 + 1);
        break;
      }
      GdiFlush();
      TIEBitmap* t = c.Target;
      const RECT cl = Intersect(b, RECT{0, 0, t->GetImageWidth() - 1, t->GetImageHeight() - 1});
      if (IsEmptyRect(cl)) break;
      const uint8_t cr = uint8_t(r.BrushColor), cg = uint8_t(r.BrushColor >> 8), cb = uint8_t(r.BrushColor >> 16);
      for (int y = cl.top; y <= cl.bottom; ++y) {
        uint8_t* row = t->GetRowAddress(y);
        if (t->GetPixelFormat() == ie24RGB) {
          TIERGB* p = reinterpret_cast<TIERGB*>(row);
          for (int x = cl.left; x <= cl.right; ++x) p[x].r &= cr, p[x].g &= cg, p[x].b &= cb;
        } else if (t->GetPixelFormat() == ie8g) {
          std::fill(row + cl.left, row + cl.right + 1, cr);
        }
      }
      break;
    }
    case ievkELLIPSE:
      c.SetFill();
      cv.Ellipse(c.X1, c.Y1, c.X2 + 1, c.Y2 + 1);
      Grow(r.DrawnBox, Ordered(c.X1, c.Y1, c.X2, c.Y2));
      break;
    case ievkARC: {
      c.SetFill();
      const double rx = (c.X2 - c.X1) / 2.0, ry = (c.Y2 - c.Y1) / 2.0;
      const int sx = c.X1 + int(std::trunc(rx + std::cos(r.ArcStart) * rx));
      const int sy = c.Y1 + int(std::trunc(ry + std::sin(r.ArcStart) * ry));
      const int ex = c.X1 + int(std::trunc(rx + std::cos(r.ArcEnd) * rx));
      const int ey = c.Y1 + int(std::trunc(ry + std::sin(r.ArcEnd) * ry));
      cv.Arc(c.X1, c.Y1, c.X2 + 1, c.Y2 + 1, sx, sy, ex, ey);
      Grow(r.DrawnBox, Ordered(c.X1, c.Y1, c.X2, c.Y2));
      break;
    }
    case ievkBITMAP:
      c.SetFill();
      DrawBitmapObject(c);
      break;
    case ievkTEXT:
      cv.GetPen()->SetLineJoin(ieljMiter);
      if (c.Hobj == EditIndex && c.ViewCoords) {
        // the editor shows the text: only its frame is drawn
        cv.GetBrush()->SetStyle(ui::bsClear);
        cv.Rectangle(c.X1 - 1, c.Y1 - 1, c.X2 + 1, c.Y2 + 1);
        Grow(r.DrawnBox, Ordered(c.X1 - 1, c.Y1 - 1, c.X2 + 1, c.Y2 + 1));
        break;
      }
      c.SetFill();
      DrawPlainText(c);
      break;
    case ievkMEMO:
      cv.GetPen()->SetLineJoin(ieljMiter);
      if (c.Hobj == EditIndex && c.ViewCoords) break;  // the text control shows it
      c.SetFill();
      if (r.MemoHasBitmap && SharedBitmap(r.BitmapIndex)) DrawBitmapObject(c);
      DrawMemo(c);
      break;
    case ievkRULER: {
      cv.GetPen()->SetLineJoin(ieljMiter);
      c.SetFill();
      double ux, uy;
      ComputeUnitFactors(r.RulerUnit, ux, uy);
      const double len = std::hypot((r.X2 - r.X1) * ux, (r.Y2 - r.Y1) * uy);
      Grow(r.DrawnBox, DrawRuler(&cv, POINT{c.X1, c.Y1}, POINT{c.X2, c.Y2}, r.Font.get(), c.ZX, c.ZY, r.RulerType,
                                 c.Width, r.PenColor, r.RulerUnit, len));
      break;
    }
    case ievkPOLYLINE: {
      c.SetFill();
      cv.GetPen()->SetLineJoin(ieljRound);
      const RECT& pb = r.PolyBounds;
      if ((pb.right == pb.left && pb.bottom == pb.top) || r.PolyPoints.empty()) break;
      const double sx = pb.right != pb.left ? double(r.X2 - r.X1) / (pb.right - pb.left) : 1.0;
      const double sy = pb.bottom != pb.top ? double(r.Y2 - r.Y1) / (pb.bottom - pb.top) : 1.0;
      r.DrawnPoints.resize(r.PolyPoints.size());
      for (size_t i = 0; i < r.PolyPoints.size(); ++i) {
        const int ix = r.X1 + int(std::lround((r.PolyPoints[i].x - pb.left) * sx));
        const int iy = r.Y1 + int(std::lround((r.PolyPoints[i].y - pb.top) * sy));
        r.DrawnPoints[i] = POINT{c.ConvX(this, ix), c.ConvY(this, iy)};
        Grow(r.DrawnBox, r.DrawnPoints[i].x, r.DrawnPoints[i].y);
      }
      const int last = int(r.DrawnPoints.size()) - 1;
      if (r.PolyClosed) cv.Polygon(r.DrawnPoints.data(), last);
      else cv.Polyline(r.DrawnPoints.data(), last);
      if (c.F != 1)
        for (POINT& p : r.DrawnPoints) p.x /= c.F, p.y /= c.F;
      break;
    }
    case ievkANGLE: {
      cv.GetPen()->SetLineJoin(ieljMiter);
      c.SetFill();
      POINT pts[3];
      for (int i = 0; i < 3; ++i)
        pts[i] = r.AnglePoints[i].x == IEV_POINT_UNSET
                     ? POINT{IEV_POINT_UNSET, IEV_POINT_UNSET}
                     : POINT{c.ConvX(this, r.AnglePoints[i].x), c.ConvY(this, r.AnglePoints[i].y)};
      Grow(r.DrawnBox, DrawAngle(&cv, pts, r.Font.get(), c.ZY, c.Width, r.PenColor));
      break;
    }
    case ievkEXTENDED:
      c.SetFill();
      if (!r.Extended) break;  // a record read without its instance draws nothing
      if (auto* adapter = dynamic_cast<TIETBitmapAdapter*>(c.Target->GetTBitmap())) {
        GdiFlush();
        r.Extended->Draw(adapter->GetBitmap(), c.X1, c.Y1, c.X2, c.Y2, c.ZX, c.ZY, c.AlphaPass);
      }
      Grow(r.DrawnBox, Ordered(c.X1, c.Y1, c.X2, c.Y2));
      break;
    default:
      break;
  }
}

bool TImageryVect::PointInGrip(int gx, int gy, int x, int y) const {
  const RECT r{gx - GripSize, gy - GripSize, gx + GripSize, gy + GripSize};
  return PtInRect(&r, POINT{x, y}) != FALSE;
}

void TImageryVect::DrawGrip(TIECanvas* canvas, ui::TCanvas* plain, int shape, int x, int y) {
  TGraphic* g = ObjGripImage ? ObjGripImage->GetGraphic() : nullptr;
  if (g && !g->Empty() && shape != 2) {
    GdiFlush();
    const int w = g->GetWidth(), h = g->GetHeight();
    plain->Draw(x - w / 2, y - h / 2, g);
    return;
  }
  if (shape == 0) canvas->Rectangle(x - GripSize, y - GripSize, x + GripSize, y + GripSize);
  else if (shape == 1) canvas->Ellipse(x - GripSize, y - GripSize, x + GripSize, y + GripSize);
  else {
    const POINT p[4] = {{x, y - GripSize}, {x + GripSize, y}, {x, y + GripSize}, {x - GripSize, y}};
    canvas->Polygon(p, 3);
  }
}

void TImageryVect::DrawSelectionGrips(ui::TCanvas* canvas) {
  if (!canvas || SelectionList.empty()) return;
  TIECanvas cv(canvas, true, true);
  cv.GetPen()->SetColor(GripPenColor);
  cv.GetPen()->SetStyle(ui::psSolid);
  cv.GetPen()->SetWidth(1);
  cv.GetPen()->SetTransparency(180);
  cv.GetBrush()->SetColor(GripBrushColor);
  cv.GetBrush()->SetStyle(ui::bsSolid);
  cv.GetBrush()->SetTransparency(180);
  const RECT vis = VisibleImageArea();
  for (int h : SelectionList) {
    TIEVObjectRecord& r = *Records[size_t(h)];
    if (!(r.Flags & ievfSelectable)) continue;
    const int x1 = ImageToClientX(r.X1), y1 = ImageToClientY(r.Y1);
    const int x2 = ImageToClientX(r.X2), y2 = ImageToClientY(r.Y2);
    const RECT b = Ordered(x1, y1, x2, y2);
    if (IsEmptyRect(Intersect(RECT{b.left - GripSize, b.top - GripSize, b.right + GripSize, b.bottom + GripSize}, vis)))
      continue;
    if (r.Kind == ievkANGLE) {
      for (const POINT& p : r.AnglePoints) DrawGrip(&cv, canvas, GripShape, ImageToClientX(p.x), ImageToClientY(p.y));
      continue;
    }
    DrawGrip(&cv, canvas, GripShape, x1, y1);
    DrawGrip(&cv, canvas, GripShape, x2, y2);
    if (r.Kind != ievkLINE && r.Kind != ievkRULER && r.Kind != ievkLINELABEL) {
      DrawGrip(&cv, canvas, GripShape, x2, y1);
      DrawGrip(&cv, canvas, GripShape, x1, y2);
      DrawGrip(&cv, canvas, GripShape, x1, (y1 + y2) / 2);
      DrawGrip(&cv, canvas, GripShape, x2, (y1 + y2) / 2);
      DrawGrip(&cv, canvas, GripShape, (x1 + x2) / 2, y1);
      DrawGrip(&cv, canvas, GripShape, (x1 + x2) / 2, y2);
    }
    if (CenterGrip) {
      cv.GetPen()->SetWidth(1);
      DrawGrip(&cv, canvas, 2, (x1 + x2) / 2, (y1 + y2) / 2);
    }
  }
}

void TImageryVect::PaintOverLayers(TIEBitmap* backBuffer, const RECT* clip) {
  if (HideObjects || ObjectsCount() == 0) return;
  // Objects are drawn over the whole buffer: a part left from the last composition already holds
  // them, so it is composed again rather than drawn over twice.
  if (clip) DrawLayers(backBuffer, nullptr, nullptr, true, true);
  DrawObjectsTo(backBuffer, false, IEV_ALL, ObjAntialias);
  ui::TBitmap* b = GetBackBufferBitmap();
  if (!b) return;
  DrawSelectionGrips(b->Canvas());
  // the vertices of the one selected polyline while they are edited
  if ((ObjectInteract & IEVI(iviEditPolylinePoints)) && SelectionList.size() == 1) {
    const TIEVObjectRecord& r = *Records[size_t(SelectionList[0])];
    if (r.Kind != ievkPOLYLINE) return;
    TCanvas* cv = b->Canvas();
    cv->Brush()->SetColor(0x0000FF);
    cv->Brush()->SetStyle(ui::bsSolid);
    cv->Pen()->SetColor(0x000000);
    cv->Pen()->SetStyle(ui::psSolid);
    cv->Pen()->SetWidth(1);
    for (const POINT& p : r.DrawnPoints) cv->Ellipse(p.x - 3, p.y - 3, p.x + 3, p.y + 3);
  }
}

// While the primary button is held everything is drawn straight and without antialias; a timer looks
// at the button and draws once more at full quality when it is up.
void TImageryVect::Paint() {
  // fast drawing an application turned on itself (with AllowFastDrawing) is left to the application
  if (FastDrawingTimer && !FastDrawingTimer->GetEnabled() && (!FastDrawing || !AllowFastDrawing) &&
      IEIsPrimaryButtonDown()) {
    FastDrawing = true;
    FastDrawingTimer->SetEnabled(true);
  }
  inherited::Paint();
  PaintMeasureHint();
}

void TImageryVect::FastDrawingTick(ui::TObject* Sender) {
  (void)Sender;
  if (IEIsPrimaryButtonDown()) return;
  FastDrawingTimer->SetEnabled(false);
  FastDrawing = false;
  InvalidateRectDirty(nullptr);
}
