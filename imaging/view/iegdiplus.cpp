#include "iegdiplus.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "iegeom.h"
#include "ieraster.h"
#include "ieutils.h"
#include "vodevovur.h"

bool IEGdiPlusEnabled = false;

namespace {

// Flat GDI+ types as the entry points see them: handles are opaque, coordinates 32-bit floats.
using GpStatus = int;
struct GpPointI {
  INT X, Y;
};
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
constexpr int kUnitPixel = 2;
constexpr int kFillModeAlternate = 0;

HMODULE g_lib = nullptr;
int g_useCount = 0;
ULONG_PTR g_token = 0;

#define IE_GDIP(name, ret, args) \
  using name##_t = ret(WINAPI*) args; \
  name##_t p##name = nullptr;
IE_GDIP(GdiplusStartup, GpStatus, (ULONG_PTR*, const GdiplusStartupInput*, void*))
IE_GDIP(GdiplusShutdown, void, (ULONG_PTR))
IE_GDIP(GdipCreateFromHDC, GpStatus, (HDC, void**))
IE_GDIP(GdipDeleteGraphics, GpStatus, (void*))
IE_GDIP(GdipCreatePen1, GpStatus, (UINT32, float, int, void**))
IE_GDIP(GdipDeletePen, GpStatus, (void*))
IE_GDIP(GdipDrawLine, GpStatus, (void*, void*, float, float, float, float))
IE_GDIP(GdipSetSmoothingMode, GpStatus, (void*, int))
IE_GDIP(GdipSetPenWidth, GpStatus, (void*, float))
IE_GDIP(GdipSetPenColor, GpStatus, (void*, UINT32))
IE_GDIP(GdipSetPenDashStyle, GpStatus, (void*, int))
IE_GDIP(GdipSetPenDashArray, GpStatus, (void*, const float*, INT))
IE_GDIP(GdipDeleteBrush, GpStatus, (void*))
IE_GDIP(GdipCreateSolidFill, GpStatus, (UINT32, void**))
IE_GDIP(GdipFillRectangle, GpStatus, (void*, void*, float, float, float, float))
IE_GDIP(GdipDrawRectangle, GpStatus, (void*, void*, float, float, float, float))
IE_GDIP(GdipCreateHatchBrush, GpStatus, (int, UINT32, UINT32, void**))
IE_GDIP(GdipDrawEllipse, GpStatus, (void*, void*, float, float, float, float))
IE_GDIP(GdipFillEllipse, GpStatus, (void*, void*, float, float, float, float))
IE_GDIP(GdipDrawPolygonI, GpStatus, (void*, void*, const GpPointI*, INT))
IE_GDIP(GdipFillPolygonI, GpStatus, (void*, void*, const GpPointI*, INT, int))
IE_GDIP(GdipDrawLinesI, GpStatus, (void*, void*, const GpPointI*, INT))
IE_GDIP(GdipDrawArc, GpStatus, (void*, void*, float, float, float, float, float, float))
IE_GDIP(GdipCreatePath, GpStatus, (int, void**))
IE_GDIP(GdipAddPathArc, GpStatus, (void*, float, float, float, float, float, float))
IE_GDIP(GdipDrawPath, GpStatus, (void*, void*, void*))
IE_GDIP(GdipFillPath, GpStatus, (void*, void*, void*))
IE_GDIP(GdipDeletePath, GpStatus, (void*))
IE_GDIP(GdipAddPathLine, GpStatus, (void*, float, float, float, float))
IE_GDIP(GdipSetPenLineJoin, GpStatus, (void*, int))
#undef IE_GDIP

// Bound with the others though this module draws without them: world transforms, matrices and the
// graphics' device context are for callers that need more than the canvas gives.
void* pOptional[9] = {};
const char* const kOptionalNames[9] = {"GdipSetWorldTransform", "GdipGetWorldTransform", "GdipResetWorldTransform",
                                       "GdipCreateMatrix",      "GdipCreateMatrix2",     "GdipDeleteMatrix",
                                       "GdipGetDC",             "GdipReleaseDC",         "GdipFlush"};

template <class F>
void Bind(F& slot, const char* name) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_lib, name)));
}

void BindAll() {
#define IE_BIND(name) Bind(p##name, #name);
  IE_BIND(GdiplusStartup) IE_BIND(GdiplusShutdown) IE_BIND(GdipCreateFromHDC) IE_BIND(GdipDeleteGraphics)
  IE_BIND(GdipCreatePen1) IE_BIND(GdipDeletePen) IE_BIND(GdipDrawLine) IE_BIND(GdipSetSmoothingMode)
  IE_BIND(GdipSetPenWidth) IE_BIND(GdipSetPenColor) IE_BIND(GdipSetPenDashStyle) IE_BIND(GdipSetPenDashArray)
  IE_BIND(GdipDeleteBrush) IE_BIND(GdipCreateSolidFill) IE_BIND(GdipFillRectangle) IE_BIND(GdipDrawRectangle)
  IE_BIND(GdipCreateHatchBrush) IE_BIND(GdipDrawEllipse) IE_BIND(GdipFillEllipse) IE_BIND(GdipDrawPolygonI)
  IE_BIND(GdipFillPolygonI) IE_BIND(GdipDrawLinesI) IE_BIND(GdipDrawArc) IE_BIND(GdipCreatePath)
  IE_BIND(GdipAddPathArc) IE_BIND(GdipDrawPath) IE_BIND(GdipFillPath) IE_BIND(GdipDeletePath)
  IE_BIND(GdipAddPathLine) IE_BIND(GdipSetPenLineJoin)
#undef IE_BIND
  for (int i = 0; i < 9; ++i) Bind(pOptional[i], kOptionalNames[i]);
}

// A missing entry point is a call that does nothing (status 1, GenericError).
template <class F, class... A>
GpStatus Call(F fn, A... args) {
  return fn ? fn(args...) : 1;
}

const TIEStaticStepRegistrar g_gdiPlusStep(iessGdiPlus, IEGdiPlusStaticInit, IEGdiPlusStaticFini);

}  // namespace

void IEGdiPlusStaticInit() {
  IEGdiPlusEnabled = true;
  g_lib = nullptr;
  g_useCount = 0;
}

void IEGdiPlusStaticFini() {}

void IEGdiPlusLoad() {
  ++g_useCount;
  if (!IEGdiPlusEnabled || g_lib) return;
  g_lib = LoadLibraryW(L"gdiplus.dll");
  if (!g_lib) return;
  BindAll();
  GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  if (Call(pGdiplusStartup, &g_token, &input, nullptr) != 0) {
    // a library that does not start is as good as a missing one
    FreeLibrary(g_lib);
    g_lib = nullptr;
  }
}

void IEGdiPlusUnload() {
  --g_useCount;
  if (g_lib && g_useCount <= 0) {
    if (pGdiplusShutdown) pGdiplusShutdown(g_token);
    FreeLibrary(g_lib);
    g_lib = nullptr;
  }
}

bool IEGdiPlusLoaded() { return g_lib != nullptr; }
bool IEGdiPlusAvailable() { return IEGdiPlusEnabled && g_lib != nullptr; }
int IEGdiPlusUseCount() { return g_useCount; }

// ---- TIEPen ----

// The GDI+ pen and brush are made when a GDI+ call first needs them, from the settings kept here.
TIEPen::TIEPen(ui::TPen* pen)
    : Pen(pen), Color(pen->GetColor()), Width(float(pen->GetWidth())), Style(pen->GetStyle()), Mode(pen->GetMode()) {}

void TIEPen::SetMode(ui::TPenMode m) {
  Mode = m;
  Pen->SetMode(m);
}

void* TIEPen::GetGdiPen() {
  if (!GdiPen && IEGdiPlusAvailable()) CreateGdiPen();
  return GdiPen;
}

TIEPen::~TIEPen() {
  if (GdiPen && IEGdiPlusAvailable()) Call(pGdipDeletePen, GdiPen);
}

uint32_t TIEPen::GetARGB() const {
  return Style == ui::psClear ? 0 : IEColorToRGBA(TColor(ui::ColorToRGB(Color)), uint8_t(Transparency));
}

void TIEPen::CreateGdiPen() {
  if (GdiPen) Call(pGdipDeletePen, GdiPen);
  GdiPen = nullptr;
  Call(pGdipCreatePen1, GetARGB(), Width, kUnitPixel, &GdiPen);
  if (!GdiPen) throw std::runtime_error("Cannot create TIEPen. GdipCreatePen1 failed.");
  SetStyle(Style);
  SetLineJoin(LineJoin);
}

void TIEPen::SetColor(ui::TColor c) {
  Color = c;
  if (GdiPen && IEGdiPlusAvailable()) Call(pGdipSetPenColor, GdiPen, GetARGB());
  Pen->SetColor(c);
}

void TIEPen::SetTransparency(int value) {
  Transparency = value;
  if (GdiPen && IEGdiPlusAvailable()) Call(pGdipSetPenColor, GdiPen, GetARGB());
}

void TIEPen::SetWidth(float w) {
  Width = w;
  if (GdiPen && IEGdiPlusAvailable()) Call(pGdipSetPenWidth, GdiPen, w);
  Pen->SetWidth(int(w));
}

void TIEPen::SetStyle(ui::TPenStyle s) {
  Style = s;
  if (GdiPen && IEGdiPlusAvailable()) {
    // GetARGB gives alpha 0 for psClear: the pen draws nothing but keeps its colour
    Call(pGdipSetPenColor, GdiPen, GetARGB());
    if (s == ui::psClear || s == ui::psInsideFrame)
      Call(pGdipSetPenDashStyle, GdiPen, 0);
    else
      Call(pGdipSetPenDashStyle, GdiPen, int(s));
  }
  Pen->SetStyle(s);
}

void TIEPen::SetLineJoin(TIELineJoin j) {
  LineJoin = j;
  if (GdiPen && IEGdiPlusAvailable()) Call(pGdipSetPenLineJoin, GdiPen, int(j));
}

// ---- TIEBrush ----

TIEBrush::TIEBrush(ui::TBrush* brush) : Brush(brush), Color(brush->GetColor()), Style(brush->GetStyle()) {}

void* TIEBrush::GetGdiBrush() {
  if (!GdiBrush && IEGdiPlusAvailable()) CreateGdiBrush();
  return GdiBrush;
}

TIEBrush::~TIEBrush() {
  if (GdiBrush && IEGdiPlusAvailable()) Call(pGdipDeleteBrush, GdiBrush);
}

uint32_t TIEBrush::GetARGB() const {
  return Style == ui::bsClear ? 0 : IEColorToRGBA(TColor(ui::ColorToRGB(Color)), uint8_t(Transparency));
}

void TIEBrush::CreateGdiBrush() {
  if (GdiBrush) Call(pGdipDeleteBrush, GdiBrush);
  GdiBrush = nullptr;
  if (Style == ui::bsSolid || Style == ui::bsClear) {
    Call(pGdipCreateSolidFill, GetARGB(), &GdiBrush);
    if (!GdiBrush) throw std::runtime_error("Cannot create TIEBrush. GdipCreateSolidFill failed.");
  } else {
    const uint32_t back = IEColorToRGBA(TColor(ui::ColorToRGB(HatchBackColor)), uint8_t(HatchBackAlpha));
    Call(pGdipCreateHatchBrush, int(Style) - 2, GetARGB(), back, &GdiBrush);
    if (!GdiBrush) throw std::runtime_error("Cannot create TIEBrush. GdipCreateHatchBrush failed.");
  }
}

void TIEBrush::SetColor(ui::TColor c) {
  Color = c;
  if (GdiBrush && IEGdiPlusAvailable()) CreateGdiBrush();
  Brush->SetColor(c);
}

void TIEBrush::SetTransparency(int value) {
  Transparency = value;
  if (GdiBrush && IEGdiPlusAvailable()) CreateGdiBrush();
}

void TIEBrush::SetStyle(ui::TBrushStyle s) {
  Style = s;
  if (GdiBrush && IEGdiPlusAvailable()) CreateGdiBrush();
  Brush->SetStyle(s);
}

// ---- TIECanvas ----
// On the GDI+ road a pen or brush of alpha 0 is not handed to GDI+ at all: over the default
// source-over compositing it changes no pixel, and some implementations take their slowest road
// (an alpha blend through a temporary bitmap) for it.
// Rectangles, ellipses and straight lines in a solid colour on a 24- or 32-bit DIB section are scan
// converted by the canvas itself, with the same geometry and blending: a GDI+ call costs tens of
// microseconds on some implementations, far more than the shape. Dashes, hatches, wide pens with
// rounded or bevelled corners, polygons, arcs and other surfaces stay with GDI+.

TIECanvas::TIECanvas(ui::TCanvas* canvas, bool antialias, bool useGdiPlus)
    : Canvas(canvas),
      Pen(new TIEPen(canvas->Pen())),
      Brush(new TIEBrush(canvas->Brush())),
      UseGdiPlus(useGdiPlus && IEGdiPlusAvailable()) {
  SetSmoothingMode(antialias ? 5 : 2);
}

void* TIECanvas::Gfx() {
  if (!Graphics && UseGdiPlus) {
    Call(pGdipCreateFromHDC, Canvas->GetHandle(), &Graphics);
    if (!Graphics) throw std::runtime_error("Cannot create TIECanvas. GdipCreateFromHDC failed.");
    Call(pGdipSetSmoothingMode, Graphics, SmoothingMode - 1);
  }
  return Graphics;
}

TIECanvas::~TIECanvas() {
  delete Brush;
  delete Pen;
  if (Graphics) Call(pGdipDeleteGraphics, Graphics);
}

void TIECanvas::SetSmoothingMode(int value) {
  SmoothingMode = value;
  Antialias = value == 3 || value == 5;  // high quality or antialias
  if (Graphics) Call(pGdipSetSmoothingMode, Graphics, value - 1);
}

TIERaster* TIECanvas::BoundRaster() {
  if (!UseGdiPlus) return nullptr;
  if (!Raster) Raster = std::make_unique<TIERaster>();  // a canvas that only writes text needs none
  return Raster->Bind(Canvas->GetHandle()) ? Raster.get() : nullptr;
}

bool TIECanvas::PenRasterable() const {
  return (Pen->GetStyle() == ui::psSolid || Pen->GetStyle() == ui::psInsideFrame) && Pen->GetWidth() >= 1.0f;
}

bool TIECanvas::BrushRasterable() const { return Brush->GetStyle() == ui::bsSolid; }

bool TIECanvas::ReadsRightToLeft() {
  return (Canvas->TextFlags & ETO_RTLREADING) != 0 && (GetLayout(Canvas->GetHandle()) & LAYOUT_RTL) != 0;
}

void TIECanvas::ClippedTextOut(const RECT& r, int x, int y, const std::string& text) {
  if (ReadsRightToLeft()) x += TextWidth(text) + 1;
  ExtTextOutA(Canvas->GetHandle(), x, y, UINT(Canvas->TextFlags) | ETO_CLIPPED, &r, text.data(), UINT(text.size()),
              nullptr);
}

void TIECanvas::MoveTo(int x, int y) {
  PenPos = POINT{x, y};
  if (!UseGdiPlus) Canvas->MoveTo(x, y);
}

void TIECanvas::LineTo(int x, int y) {
  if (!UseGdiPlus)
    Canvas->LineTo(x, y);
  else if (Pen->Paints())
    DrawLine(PenPos.x, PenPos.y, x, y);
  // both roads keep the position, so that a caller reading it sees the same on either
  PenPos = POINT{x, y};
}

void TIECanvas::DrawLine(int x1, int y1, int x2, int y2) {
  if (UseGdiPlus) {
    if (!Pen->Paints()) return;
    if (TIERaster* r = PenRasterable() ? BoundRaster() : nullptr)
      r->StrokeLine(x1, y1, x2, y2, Pen->GetWidth(), Pen->GetARGB(), Antialias);
    else
      Call(pGdipDrawLine, Gfx(), Pen->GetGdiPen(), float(x1), float(y1), float(x2), float(y2));
  } else {
    const POINT pts[2] = {{x1, y1}, {x2, y2}};
    Canvas->Polygon(pts, 2);
  }
}

void TIECanvas::FillRect(const RECT& r) {
  if (UseGdiPlus) {
    if (!Brush->Paints()) return;
    int x1 = r.left, y1 = r.top, x2 = r.right, y2 = r.bottom;
    IEOrderCorners(x1, y1, x2, y2);
    if (TIERaster* raster = BrushRasterable() ? BoundRaster() : nullptr)
      raster->FillRect(x1, y1, x2 - 1, y2 - 1, Brush->GetARGB(), Antialias);
    else
      Call(pGdipFillRectangle, Gfx(), Brush->GetGdiBrush(), float(x1), float(y1), float(x2 - x1 - 1),
           float(y2 - y1 - 1));
  } else {
    Canvas->FillRect(r);
  }
}

void TIECanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (UseGdiPlus) {
    IEOrderCorners(x1, y1, x2, y2);
    const float w = float(x2 - x1 - 1), h = float(y2 - y1 - 1);
    const bool fill = Brush->Paints(), stroke = Pen->Paints();
    const bool rasterFill = fill && BrushRasterable() && w >= 0 && h >= 0;
    // a one-pixel pen's corners are the same whatever the join
    const bool rasterStroke = stroke && PenRasterable() && w >= 0 && h >= 0 &&
                              (Pen->GetLineJoin() == ieljMiter || Pen->GetWidth() <= 1.0f);
    TIERaster* raster = rasterFill || rasterStroke ? BoundRaster() : nullptr;
    if (fill) {
      if (raster && rasterFill) raster->FillRect(x1, y1, x1 + w, y1 + h, Brush->GetARGB(), Antialias);
      else Call(pGdipFillRectangle, Gfx(), Brush->GetGdiBrush(), float(x1), float(y1), w, h);
    }
    if (stroke) {
      if (raster && rasterStroke) raster->StrokeRect(x1, y1, x1 + w, y1 + h, Pen->GetWidth(), Pen->GetARGB(), Antialias);
      else Call(pGdipDrawRectangle, Gfx(), Pen->GetGdiPen(), float(x1), float(y1), w, h);
    }
  } else {
    Canvas->Rectangle(x1, y1, x2, y2);
  }
}

void TIECanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (!UseGdiPlus) {
    Canvas->Ellipse(x1, y1, x2, y2);
    return;
  }
  const float pw = Pen->GetWidth();
  if (pw != 1.0f) {
    // keeps tiny and inverted ellipses visible under wide pens; ordinary rectangles stay as they are
    const int e = int(std::nearbyint(pw / 2));
    auto adjust = [e](int& a1, int& a2) {
      if (a1 > a2) a1 += e;
      if (a1 <= a2 && e >= a2 - a1 - 1) a2 = a1 + e;
      if (a1 > a2 && e >= a1 - a2 - 1) a2 = a1 - e;
    };
    adjust(x1, x2);
    adjust(y1, y2);
    if (x1 == x2 - e) x1 -= e;
    if (y1 == y2 - e) y1 -= e;
    if (x1 == x2) x1 -= e + 1, x2 -= e + 1;
    if (y1 == y2) y1 -= e + 1, y2 -= e + 1;
    if (x1 > x2) x1 -= e, x2 -= e - 1;
  }
  const float w = float(x2 - x1 - 1), h = float(y2 - y1 - 1);
  const bool fill = Brush->Paints(), stroke = Pen->Paints();
  const bool rasterFill = fill && BrushRasterable() && w > 0 && h > 0;
  const bool rasterStroke = stroke && PenRasterable() && w > 0 && h > 0;
  TIERaster* raster = rasterFill || rasterStroke ? BoundRaster() : nullptr;
  if (fill) {
    if (raster && rasterFill) raster->FillEllipse(x1, y1, w, h, Brush->GetARGB(), Antialias);
    else Call(pGdipFillEllipse, Gfx(), Brush->GetGdiBrush(), float(x1), float(y1), w, h);
  }
  if (stroke) {
    if (raster && rasterStroke) raster->StrokeEllipse(x1, y1, w, h, Pen->GetWidth(), Pen->GetARGB(), Antialias);
    else Call(pGdipDrawEllipse, Gfx(), Pen->GetGdiPen(), float(x1), float(y1), w, h);
  }
}

void TIECanvas::Polygon(const POINT* points, int lastIndex) {
  if (lastIndex < 0) return;
  if (UseGdiPlus) {
    static_assert(sizeof(GpPointI) == sizeof(POINT), "point layout");
    const auto* p = reinterpret_cast<const GpPointI*>(points);
    if (Pen->Paints()) Call(pGdipDrawPolygonI, Gfx(), Pen->GetGdiPen(), p, lastIndex + 1);
    if (Brush->Paints()) Call(pGdipFillPolygonI, Gfx(), Brush->GetGdiBrush(), p, lastIndex + 1, kFillModeAlternate);
  } else {
    Canvas->Polygon(points, lastIndex + 1);
  }
}

void TIECanvas::Polyline(const POINT* points, int lastIndex) {
  if (lastIndex < 0) return;
  if (UseGdiPlus) {
    if (Pen->Paints())
      Call(pGdipDrawLinesI, Gfx(), Pen->GetGdiPen(), reinterpret_cast<const GpPointI*>(points), lastIndex + 1);
  } else {
    Canvas->Polyline(points, lastIndex + 1);
  }
}

void TIECanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  if (UseGdiPlus) {
    if (!Pen->Paints()) return;
    constexpr double kDeg = 57.295779513082320877;
    const int cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    const double start = -IELineAngle(cx, cy, x4, y4) * kDeg;
    const double sweep = IEAngleAtVertex(x3, y3, cx, cy, x4, y4) * kDeg;
    Call(pGdipDrawArc, Gfx(), Pen->GetGdiPen(), float(x1), float(y1), float(x2 - x1 + 1), float(y2 - y1 + 1),
         float(start), float(sweep));
  } else {
    Canvas->RequiredState(ui::TCanvas::csHandleValid | ui::TCanvas::csPenValid);
    ::Arc(Canvas->GetHandle(), x1, y1, x2, y2, x3, y3, x4, y4);
  }
}

void TIECanvas::RoundRect(int x1, int y1, int x2, int y2, int w, int h) {
  if (!UseGdiPlus) {
    Canvas->RequiredState(ui::TCanvas::csHandleValid | ui::TCanvas::csPenValid | ui::TCanvas::csBrushValid);
    ::RoundRect(Canvas->GetHandle(), x1, y1, x2, y2, w, h);
    return;
  }
  if (!Brush->Paints() && !Pen->Paints()) return;
  IEOrderCorners(x1, y1, x2, y2);
  w = std::min(w, x2 - x1);
  h = std::min(h, y2 - y1);
  void* path = nullptr;
  Call(pGdipCreatePath, kFillModeAlternate, &path);
  if (!path) return;
  const float fw = float(w), fh = float(h);
  Call(pGdipAddPathArc, path, float(x1), float(y1), fw, fh, 180.0f, 90.0f);
  Call(pGdipAddPathArc, path, float(x2 - w), float(y1), fw, fh, 270.0f, 90.0f);
  Call(pGdipAddPathArc, path, float(x2 - w), float(y2 - h), fw, fh, 0.0f, 90.0f);
  Call(pGdipAddPathArc, path, float(x1), float(y2 - h), fw, fh, 90.0f, 90.0f);
  Call(pGdipAddPathLine, path, float(x1), float(y2 - h), float(x1), float(y1) + fh / 2);
  if (Brush->Paints()) Call(pGdipFillPath, Gfx(), Brush->GetGdiBrush(), path);
  if (Pen->Paints()) Call(pGdipDrawPath, Gfx(), Pen->GetGdiPen(), path);
  Call(pGdipDeletePath, path);
}
