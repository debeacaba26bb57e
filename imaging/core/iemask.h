// TIEMask, the image library's selection mask: a raster of 1 bit (selected or not) or 8 bits (0 = not
// selected .. 255 = fully selected) per pixel, the bounding box of the selected pixels, and a flag
// telling that every pixel is fully selected. Views draw it (inverted, animated border, shaded
// outside), processing copies pixels through it, codecs use 8-bit masks as alpha planes.
//
// Rows are stored bottom-up, 32-bit aligned, so that 1-bit masks can be drawn by the platform as they
// are. Coordinates are image pixels: x = column, y = row, 0 at the top.
//
// AllSet is exact after every operation of this class. Code that writes rows through GetRowAddress
// runs CheckAllSet (and RecomputeBoundingBox) afterwards.
#pragma once
#include <windows.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "iedefs.h"

class TIEBitmap;
class TIEPlatformBitmap;

// A point whose x is this value separates two polygons in a point list (DrawPolygons).
constexpr int kIEPolygonSeparator = 0xFFFFF;

class TIEMask {
 public:
  TIEMask();
  TIEMask(const TIEMask&) = delete;
  TIEMask& operator=(const TIEMask&) = delete;

  int Width = 0, Height = 0;
  int MaskBitDepth = 0;  // 1 or 8; 0 before Allocate
  int RowLength = 0;     // bytes per row: the row's bits rounded up to whole 32-bit words
  // Bounding box of the selected pixels, inclusive; empty when BoxX1 = INT_MAX. The box grows with
  // the writers that select pixels and never shrinks on its own (RecomputeBoundingBox, Clear).
  int BoxX1 = INT_MAX, BoxY1 = INT_MAX, BoxX2 = 0, BoxY2 = 0;

  // Frees, then allocates zero-filled rows (bitsPerPixel 1 or 8); empty box. False on a bad argument
  // or when the rows cannot be had.
  bool Allocate(int width, int height, int bitsPerPixel);
  void Free();  // rows and the drawing cache; the box is kept
  // New size keeping the top-left content (new pixels 0); the box is recomputed.
  bool Resize(int width, int height);
  uint8_t* GetRowAddress(int y);

  bool AllSet() const { return Width > 0 && Height > 0 && UnsetCount == 0; }
  // 1-bit: 0 or the bit's weight within its byte (only the test against 0 means something);
  // 8-bit: the byte; 0 outside the mask.
  int GetPixel(int x, int y) const;
  bool IsSelected(int x, int y) const { return GetPixel(x, y) != 0; }
  // Ignored outside. 1-bit: any non-zero value sets the pixel (the same rule as Fill and FillSpan);
  // 8-bit: the low byte. A non-zero value grows the box; zero never shrinks it.
  void SetPixel(int x, int y, int value);
  // Every pixel: 1-bit set for a non-zero value, 8-bit the low byte. The box is not changed.
  void Fill(int value);
  void Clear();  // Fill(0) and an empty box
  // Pixels x1 .. x2 of row y; columns are clipped, a row outside the mask writes nothing. Returns the
  // number of pixels written. The box is not changed.
  int FillSpan(int value, int x1, int x2, int y);
  // Even-odd scan-line fill of the polygon's half-open area: a pixel is filled when its centre lies
  // inside, so the right and bottom edges stay outside. A non-zero value grows the box.
  void FillPolygon(int value, const POINT* points, int count);
  // FillPolygon on every part of a list split at kIEPolygonSeparator points.
  void DrawPolygons(int value, const POINT* points, int count);

  bool IsEmpty() const { return BoxX1 == INT_MAX; }
  void RecomputeBoundingBox();
  // Recounts the pixels that are not fully selected from the rows (after writes through
  // GetRowAddress); returns AllSet().
  bool CheckAllSet();

  // Moves the selection by (dx, dy). With clip, pixels that would leave the mask are dropped;
  // without, the offsets are limited so that the box stays inside, and written back.
  void Translate(int& dx, int& dy, bool clip);

  // Copies source pixels into destination where the mask selects them, over the box. With
  // sourceOffset (destOffset) that bitmap holds only the box: mask pixel (x, y) is its pixel
  // (x - BoxX1, y - BoxY1). 1-bit masks copy selected pixels of equal formats; 8-bit masks mix by the
  // mask value (d + round(m x (s - d) / 255)). withAlpha then runs CopyMaskedAlpha.
  void CopyMaskedPixels(TIEBitmap* dest, TIEBitmap* source, bool destOffset, bool sourceOffset, bool withAlpha);
  // The destination's alpha (created when missing) becomes, over the box, min(source alpha, mask
  // value) where selected and 0 elsewhere.
  void CopyMaskedAlpha(TIEBitmap* dest, TIEBitmap* source, bool sourceOffset, bool destOffset);

  // ---- Drawing (source rectangle of the mask scaled to a destination rectangle) ----
  // 1-bit masks: inverts the selected area on dc.
  void DrawInverted(HDC dc, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh);
  // The animated border: selected pixels on the edge of the selection drawn in diagonal stripes of
  // four pixels, colour2 where (screen x + screen y + phase) mod 8 < 4, else colour1. The covered
  // area is read from dc once, drawn into and written back once. `rect` (or nullptr) receives the
  // covered area inset by one pixel.
  void DrawBorder(HDC dc, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh, int phase,
                  TColor colour1, TColor colour2, RECT* rect);
  // Marks the unselected area on a 24-bit platform bitmap: opacity -1 greys (97, 97, 97) a checker
  // pattern, any other opacity mixes `colour` in by opacity / 255.
  void DrawOverlay(TIEPlatformBitmap* target, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                   int opacity, TColor colour);

 private:
  struct Geometry {
    int64_t xScale = 0, yScale = 0;  // source pixels per destination pixel, 14-bit fixed point
  };
  static Geometry ScalesFor(int dw, int dh, int sw, int sh);
  void StretchToBuffer(int dw, int dh, int sx, int sy, int sw, int sh);
  bool StretchedAt(int c, int r) const { return StretchBuffer[size_t(r) * StretchWidth + c] != 0; }
  bool Full(const uint8_t* row, int x) const;  // the pixel is fully selected
  void GrowBox(int x, int y);
  int64_t CountUnset(const uint8_t* row, int x1, int x2) const;

  std::vector<uint8_t> Rows;  // RowLength x Height bytes, bottom-up
  int64_t UnsetCount = 0;     // pixels not fully selected; AllSet when 0
  // Drawing cache: the mask stretched to the last drawing size, one byte per pixel (0 or 1), top-down.
  std::vector<uint8_t> StretchBuffer;
  int StretchWidth = 0, StretchHeight = 0;
};
