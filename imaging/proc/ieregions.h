// Region and geometry routines of the transition painters: a growable rectangle list turned into one
// platform region in a single call, builders of bar, shred and speckle regions, polygon builders (fans,
// coordinate lists, triangles), point rotation, a mirrored stretch, and the small pseudo-random
// generator the random layouts draw from. Every builder returns a region the caller owns and deletes
// (0 when no region is made).
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

namespace ui {
class TCanvas;
class TBitmap;
}  // namespace ui

// A seedable linear congruential generator; each transition engine owns one, so runs are repeatable
// and no global state is shared between engines.
class TIERandom {
 public:
  explicit TIERandom(uint32_t seed = 0) : Seed(seed) {}
  // 0 <= r < n; 0 when n <= 0.
  int Random(int n);
  uint32_t Seed;
};

// A list of rectangles in the platform's region-data layout (a 32-byte header, then 16-byte RECTs).
class TComplexRegion {
 public:
  TComplexRegion() { Clear(); }
  TComplexRegion(const TComplexRegion&) = delete;
  TComplexRegion& operator=(const TComplexRegion&) = delete;
  void Clear();
  // Stored unchanged, empty or inverted rectangles included; the buffer grows by 500 slots.
  void AddRect(int left, int top, int right, int bottom);
  // 0 while nothing was ever added; the list stays as it is.
  HRGN CreateRegion();
  int GetCount() const { return Count; }
  int GetCapacity() const { return Capacity; }
  RECT GetRegionExtent() const { return RegionExtent; }
  const RECT* Rects() const;  // the stored rectangles; nullptr while empty

 private:
  std::vector<uint8_t> Data;
  int Capacity = 0;
  int Count = 0;
  RECT RegionExtent{};
};

// X and Y are the extents reached along the horizontal and vertical axis, W and H the frame size;
// mode 0 adds nothing on that axis (the modes are described with each builder in the source).
HRGN CreateBarsRegion(int X, int Y, int W, int H, int horizontalMode, int verticalMode);
HRGN CreateShreddedRegion(int X, int Y, int W, int H, int horizontalMode, int verticalMode, TIERandom& rng);
HRGN CreateSpeckledRegion(int X, int Y, int W, int H, int horizontalMode, int verticalMode, TIERandom& rng);
// The centre and count + 1 rim points from the first angle to the last (radians, clockwise on the
// screen); 0 for a count below 1.
HRGN CreateFanRegion(int centreX, int centreY, int radius, double firstAngle, double lastAngle, int count);
// coords = x0, y0, x1, y1, ...; highIndex is the highest index used. Winding fill.
HRGN CreatePolygonFromCoords(const int* coords, int highIndex);
HRGN CreateTriangleRegion(int x0, int y0, int x1, int y1, int x2, int y2);
// Rotates points 0..lastIndex in place about the centre; a positive angle turns clockwise on the screen.
void RotatePointsRadians(POINT* points, int lastIndex, int centreX, int centreY, double angle);
// One HALFTONE stretch of the source rectangle (clipped to the bitmap) into the destination rectangle
// (both left, top, right, bottom), mirrored along the chosen axes.
void StretchDrawMirrored(ui::TCanvas* canvas, RECT dest, ui::TBitmap* bitmap, RECT source, bool mirrorHorizontally,
                         bool mirrorVertically);
