// The drawing surface of the image view, the vector editor and the text control: TIECanvas draws
// lines, rectangles, ellipses, polygons, arcs and rounded rectangles through GDI+ when it is loaded
// (antialiasing, per-colour opacity) and through the wrapped TCanvas (plain GDI) otherwise; text always
// goes through the TCanvas. gdiplus.dll is never imported: it is loaded by name while at least one view
// holds a use of it (IEGdiPlusLoad / IEGdiPlusUnload) and its flat entry points are bound by name.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "uigraphics.h"

class TIERaster;

// Allows GDI+ at all; set by the canvas module's start-up step. While it is false every canvas takes the
// plain GDI road (the use count is still kept).
extern bool IEGdiPlusEnabled;
void IEGdiPlusStaticInit();
void IEGdiPlusStaticFini();

void IEGdiPlusLoad();    // use count + 1; the first use loads and starts GDI+ (when allowed)
void IEGdiPlusUnload();  // use count - 1; the last one shuts GDI+ down and frees the library
bool IEGdiPlusLoaded();
bool IEGdiPlusAvailable();  // allowed and loaded
int IEGdiPlusUseCount();

// Line joins of GDI+ by ordinal.
enum TIELineJoin : uint8_t { ieljMiter = 0, ieljBevel = 1, ieljRound = 2, ieljMiterClipped = 3 };

class TIEPen {
 public:
  explicit TIEPen(ui::TPen* pen);
  ~TIEPen();
  TIEPen(const TIEPen&) = delete;
  TIEPen& operator=(const TIEPen&) = delete;

  ui::TColor GetColor() const { return Color; }
  void SetColor(ui::TColor c);
  int GetTransparency() const { return Transparency; }
  void SetTransparency(int value);  // 0..255, 255 opaque
  float GetWidth() const { return Width; }
  void SetWidth(float w);
  ui::TPenStyle GetStyle() const { return Style; }
  void SetStyle(ui::TPenStyle s);
  TIELineJoin GetLineJoin() const { return LineJoin; }
  void SetLineJoin(TIELineJoin j);
  // The platform pen's mode and handle only: GDI+ pens have no raster operation.
  ui::TPenMode GetMode() const { return Mode; }
  void SetMode(ui::TPenMode m);
  void SetHandle(HPEN h) { Pen->SetHandle(h); }
  uint32_t GetARGB() const;  // alpha 0 for psClear
  bool Paints() const { return (GetARGB() >> 24) != 0; }  // false: every stroke leaves the pixels as they were
  void* GetGdiPen();  // made on first use (nullptr without GDI+)

 private:
  void CreateGdiPen();
  void* GdiPen = nullptr;
  ui::TPen* Pen;
  ui::TColor Color;
  int Transparency = 255;
  float Width;
  ui::TPenStyle Style;
  ui::TPenMode Mode;
  TIELineJoin LineJoin = ieljRound;
};

class TIEBrush {
 public:
  explicit TIEBrush(ui::TBrush* brush);
  ~TIEBrush();
  TIEBrush(const TIEBrush&) = delete;
  TIEBrush& operator=(const TIEBrush&) = delete;

  ui::TColor GetColor() const { return Color; }
  void SetColor(ui::TColor c);
  int GetTransparency() const { return Transparency; }
  void SetTransparency(int value);
  ui::TBrushStyle GetStyle() const { return Style; }
  void SetStyle(ui::TBrushStyle s);
  uint32_t GetARGB() const;  // alpha 0 for bsClear
  // false: every fill leaves the pixels as they were (a hatch's background counts too)
  bool Paints() const { return (GetARGB() >> 24) != 0 || (Style != ui::bsSolid && Style != ui::bsClear && HatchBackAlpha != 0); }
  void* GetGdiBrush();  // made on first use (nullptr without GDI+)

 private:
  void CreateGdiBrush();
  void* GdiBrush = nullptr;
  ui::TBrush* Brush;
  ui::TColor Color;
  int Transparency = 255;
  // no operation changes these two: hatch backgrounds stay fully transparent
  ui::TColor HatchBackColor = 0;
  int HatchBackAlpha = 0;
  ui::TBrushStyle Style;
};

class TIECanvas {
 public:
  // Raises "Cannot create TIECanvas. GdipCreateFromHDC failed." when GDI+ was to be used and made no
  // graphics object on the canvas's device context (when the first drawing needs it: shapes the canvas
  // draws itself need none).
  TIECanvas(ui::TCanvas* canvas, bool antialias = true, bool useGdiPlus = true);
  ~TIECanvas();
  TIECanvas(const TIECanvas&) = delete;
  TIECanvas& operator=(const TIECanvas&) = delete;

  bool UsesGdiPlus() const { return UseGdiPlus; }
  void SetSmoothingMode(int value);  // 5 antialiased, 2 high speed
  HDC GetHandle() { return Canvas->GetHandle(); }
  ui::TFont* GetFont() { return Canvas->Font(); }
  TIEPen* GetPen() { return Pen; }
  TIEBrush* GetBrush() { return Brush; }
  int GetTextFlags() const { return Canvas->TextFlags; }

  int TextWidth(const std::string& text) { return Canvas->TextWidth(text); }
  int TextHeight(const std::string& text) { return Canvas->TextHeight(text); }
  void TextOut(int x, int y, const std::string& text) { Canvas->TextOut(x, y, text); }
  void TextRect(const RECT& r, int x, int y, const std::string& text) { Canvas->TextRect(r, x, y, text); }
  // The text clipped to r with the canvas's text flags; right-to-left reading on a right-to-left
  // device context starts it its own width + 1 further right.
  void ClippedTextOut(const RECT& r, int x, int y, const std::string& text);
  // The canvas's text flags ask for right-to-left reading and its device context lays out right to left.
  bool ReadsRightToLeft();

  void MoveTo(int x, int y);
  void SetPenPos(POINT p) { MoveTo(p.x, p.y); }
  POINT GetPenPos() const { return PenPos; }
  void LineTo(int x, int y);
  void DrawLine(int x1, int y1, int x2, int y2);
  void FillRect(const RECT& r);
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const RECT& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
  void Ellipse(int x1, int y1, int x2, int y2);
  void Ellipse(const RECT& r) { Ellipse(r.left, r.top, r.right, r.bottom); }
  void Polygon(const POINT* points, int lastIndex);
  void Polyline(const POINT* points, int lastIndex);
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h);

 private:
  // The scan converter bound to the canvas's bitmap for one call, or nullptr: GDI+ draws.
  TIERaster* BoundRaster();
  void* Gfx();  // the GDI+ graphics, made on first use
  bool PenRasterable() const;
  bool BrushRasterable() const;

  void* Graphics = nullptr;
  ui::TCanvas* Canvas;  // not owned
  TIEPen* Pen;
  POINT PenPos{0, 0};
  TIEBrush* Brush;
  bool UseGdiPlus;
  std::unique_ptr<TIERaster> Raster;
  bool Antialias = true;
  int SmoothingMode = 5;
};
