// Scan conversion of the canvas's simple shapes (rectangles, ellipses, straight lines) straight into
// the pixels of a 24- or 32-bit DIB section: exact-area antialiasing, or pixel-centre sampling without
// it, blended by the colour's alpha. Fills cover the area between their coordinates with pixel i
// spanning [i, i + 1], so a box [0, 10] fills pixels 0 to 9 exactly and boxes that share an edge meet
// without a seam; pens are centred on pixel centres, so a one-pixel pen along y = 5 covers row 5.
// The canvas draws through it where a call into the graphics library per shape would cost far more
// than the shape itself.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

class TIERaster {
 public:
  TIERaster();
  ~TIERaster();
  TIERaster(const TIERaster&) = delete;
  TIERaster& operator=(const TIERaster&) = delete;

  // Takes the DIB section selected into dc, with dc's clip region. False when dc draws elsewhere (a
  // window, a printer, a palette or 16-bit bitmap) or maps coordinates (origins, map mode, world
  // transform): the caller then keeps to the graphics library.
  bool Bind(HDC dc);

  // A filled axis-aligned rectangle [x0, x1] x [y0, y1] (x0 <= x1, y0 <= y1).
  void FillRect(double x0, double y0, double x1, double y1, uint32_t argb, bool antialias);
  // Its outline under a pen of the given width centred on the edges, with mitred corners.
  void StrokeRect(double x0, double y0, double x1, double y1, double width, uint32_t argb, bool antialias);
  // The ellipse inscribed in [x, x + w] x [y, y + h], filled or outlined.
  void FillEllipse(double x, double y, double w, double h, uint32_t argb, bool antialias);
  void StrokeEllipse(double x, double y, double w, double h, double width, uint32_t argb, bool antialias);
  // A straight line with flat ends.
  void StrokeLine(double x1, double y1, double x2, double y2, double width, uint32_t argb, bool antialias);

  // path pieces, public for the per-thread scratch that keeps them between shapes
  struct Cell {
    int X;
    float Cover, Area;
  };
  struct Edge {
    double X0, Y0, X1, Y1;
  };
  struct Crossing {
    float X;
    int Winding;
  };
  struct Span {
    int Left, Right;  // inclusive device columns
  };
  struct TScratch;

 private:
  uint8_t* Row(int y) const { return Bits + ptrdiff_t(TopDown ? y : Height - 1 - y) * Stride; }
  bool ReadClipRegion(HDC dc, const RECT& whole);  // the rectangles of a clip region of several
  // Device columns of the clip region on row y (the bound rectangle's own when there is no region).
  const std::vector<Span>& ClipSpans(int y);
  void SetColor(uint32_t argb);
  int AlphaOf(double coverage) const;  // the colour's alpha times a coverage clamped to [0, 1]
  void BlendSpan(int y, int x0, int x1, int alpha);  // alpha 0..255 over device columns x0..x1
  void BoxCoverage(double a, double c, double b, double d, const double* inner);

  // Polygon filling (nonzero): contours in edge space, where pixel i spans [i, i + 1].
  void BeginPath();
  void AddPolygon(const double* xy, int count, bool reverse);
  void AddEllipsePath(double cx, double cy, double rx, double ry, bool reverse);
  void FillPath(uint32_t argb, bool antialias);
  void AddCells(int row, double xa, double xb, double dy);
  void AddCellsInside(int row, double xl, double xr, double dy);
  void PushCell(int row, int x, float cover, float area);

  TScratch& Work();  // the path scratch, taken on first use

  TScratch* Scratch = nullptr;
  std::unique_ptr<TScratch> OwnScratch;
  HGDIOBJ LastBitmap = nullptr;  // the bitmap bound last and its orientation
  void* LastBits = nullptr;
  bool LastTopDown = false;
  uint8_t* Bits = nullptr;
  int Width = 0, Height = 0, Stride = 0, Bytes = 3;
  bool TopDown = false;
  RECT Bounds{0, 0, 0, 0};      // the clip region's bounding box in device pixels, right/bottom exclusive
  std::vector<RECT> ClipRects;  // the region's rectangles (y-x banded); empty: Bounds alone
  std::vector<Span> RowSpans;
  int RowSpansY = -1;

  int ColorA = 0, ColorR = 0, ColorG = 0, ColorB = 0;
  int PathTop = 0, PathRows = 0;
  double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
};
