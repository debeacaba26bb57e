// Scan-line seed fill with a stack of segments, and a tracer that walks the region's outer border
// along pixel edges. The tracer works on the region's bit map only (one bit per pixel of its
// bounding box), so its memory stays bounded by the image, not by a finer grid.
#include "iemagicwand.h"

#include <algorithm>
#include <cstdlib>

#include "iebitmap.h"
#include "iemask.h"

bool IEGetBit(const uint8_t* row, int n) { return (row[n >> 3] & (0x80 >> (n & 7))) != 0; }

void IESetBit(uint8_t* row, int n, bool value) {
  if (value)
    row[n >> 3] |= uint8_t(0x80 >> (n & 7));
  else
    row[n >> 3] &= uint8_t(~(0x80 >> (n & 7)));
}

namespace {

bool IEWandColorMatch(TIERGB a, TIERGB b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// The visited pixels of one flood and their bounding box.
struct Region {
  int width = 0, height = 0, rowBytes = 0;
  std::vector<uint8_t> bits;
  int x1 = 0, y1 = 0, x2 = -1, y2 = -1;  // inclusive box
  bool Has(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height && IEGetBit(&bits[size_t(y) * rowBytes], x);
  }
  void Mark(int x, int y) {
    IESetBit(&bits[size_t(y) * rowBytes], x, true);
    x1 = std::min(x1, x); x2 = std::max(x2, x);
    y1 = std::min(y1, y); y2 = std::max(y2, y);
  }
};

// Heckbert's seed fill: segments (y, left, right, dy) of the row above or below still to scan.
bool Flood(TIEBitmap* bitmap, int seedX, int seedY, int tolerance, Region& r) {
  if (!bitmap || bitmap->IsEmpty()) return false;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  if (seedX < 0 || seedY < 0 || seedX >= w || seedY >= h) return false;
  r.width = w;
  r.height = h;
  r.rowBytes = w / 8 + 1;
  r.bits.assign(size_t(r.rowBytes) * h, 0);
  r.x1 = seedX; r.x2 = seedX; r.y1 = seedY; r.y2 = seedY;
  const TIERGB seed = bitmap->GetPixelRGB(seedX, seedY);
  auto qualifies = [&](int x, int y) {
    return x >= 0 && x < w && !r.Has(x, y) && IEWandColorMatch(bitmap->GetPixelRGB(x, y), seed, tolerance);
  };
  struct Segment { int y, x1, x2, dy; };
  std::vector<Segment> stack;
  stack.reserve(size_t(2) * w);
  stack.push_back({seedY, seedX, seedX, 1});
  stack.push_back({seedY + 1, seedX, seedX, -1});
  while (!stack.empty()) {
    const Segment s = stack.back();
    stack.pop_back();
    const int y = s.y + s.dy;
    if (y < 0 || y >= h) continue;
    int x = s.x1;
    while (qualifies(x, y)) { r.Mark(x, y); --x; }
    int l;
    if (x >= s.x1) {
      ++x;
      while (x <= s.x2 && !qualifies(x, y)) ++x;
      l = x;
      if (x > s.x2) continue;
    } else {
      l = x + 1;
      if (l < s.x1) stack.push_back({y, l, s.x1 - 1, -s.dy});
      x = s.x1 + 1;
    }
    for (;;) {
      while (qualifies(x, y)) { r.Mark(x, y); ++x; }
      stack.push_back({y, l, x - 1, s.dy});
      if (x > s.x2 + 1) stack.push_back({y, s.x2 + 1, x - 1, -s.dy});
      ++x;
      while (x <= s.x2 && !qualifies(x, y)) ++x;
      l = x;
      if (x > s.x2) break;
    }
  }
  return true;
}

// The region grown by one pixel in all eight directions, limited to the image.
void Dilate(Region& r) {
  Region d = r;
  for (int y = r.y1; y <= r.y2; ++y)
    for (int x = r.x1; x <= r.x2; ++x) {
      if (!r.Has(x, y)) continue;
      for (int j = std::max(y - 1, 0); j <= std::min(y + 1, r.height - 1); ++j)
        for (int i = std::max(x - 1, 0); i <= std::min(x + 1, r.width - 1); ++i) d.Mark(i, j);
    }
  r = std::move(d);
}

}  // namespace

bool IEMagicWandFill(TIEBitmap* bitmap, int seedX, int seedY, int maskValue, TIEMask* mask, int tolerance,
                     bool dilate) {
  Region r;
  if (!mask || !Flood(bitmap, seedX, seedY, tolerance, r)) return false;
  if (dilate) Dilate(r);
  for (int y = r.y1; y <= r.y2; ++y)
    for (int x = r.x1; x <= r.x2; ++x)
      if (r.Has(x, y)) mask->SetPixel(x, y, maskValue);
  return true;
}

std::vector<POINT> IEMagicWandOutline(TIEBitmap* bitmap, int seedX, int seedY, int tolerance, bool dilate) {
  std::vector<POINT> points;
  Region r;
  if (!Flood(bitmap, seedX, seedY, tolerance, r)) return points;
  if (dilate) Dilate(r);
  // The first region pixel of the top row: nothing of the region lies above it or on its left, so
  // its top-left corner is on the outer border and is passed once.
  int sx = r.x1;
  while (!r.Has(sx, r.y1)) ++sx;
  const int sy = r.y1;
  // Directions east, south, west, north (y down); the region stays on the right of the walk. At a
  // corner vertex the two pixels ahead decide: the right one outside turns right, else the left
  // one inside turns left (a diagonal contact is not followed: the region is 4-connected).
  static const int kStep[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  // Offsets of the pixels ahead-left and ahead-right of a vertex, per direction.
  static const int kLeft[4][2] = {{0, -1}, {0, 0}, {-1, 0}, {-1, -1}};
  static const int kRight[4][2] = {{0, 0}, {-1, 0}, {-1, -1}, {0, -1}};
  int vx = sx, vy = sy, dir = 0;
  points.push_back(POINT{vx, vy});
  do {
    vx += kStep[dir][0];
    vy += kStep[dir][1];
    if (vx == sx && vy == sy) break;
    int next = dir;
    if (!r.Has(vx + kRight[dir][0], vy + kRight[dir][1]))
      next = (dir + 1) & 3;
    else if (r.Has(vx + kLeft[dir][0], vy + kLeft[dir][1]))
      next = (dir + 3) & 3;
    if (next != dir) {
      // Each corner twice, as the outline has always been given to its users.
      points.push_back(POINT{vx, vy});
      points.push_back(POINT{vx, vy});
      dir = next;
    }
  } while (true);
  points.push_back(POINT{sx, sy});
  return points;
}

bool IESelectSimilarColors(TIEBitmap* bitmap, int seedX, int seedY, int maskValue, TIEMask* mask, int tolerance) {
  if (!bitmap || !mask || bitmap->IsEmpty()) return false;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  if (seedX < 0 || seedY < 0 || seedX >= w || seedY >= h) return false;
  const TIERGB seed = bitmap->GetPixelRGB(seedX, seedY);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (IEWandColorMatch(bitmap->GetPixelRGB(x, y), seed, tolerance)) mask->SetPixel(x, y, maskValue);
  return true;
}
