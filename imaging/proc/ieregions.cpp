#include "ieregions.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "uibitmap.h"

namespace {
constexpr int kRegionGrowth = 500;           // rectangles added to the list's buffer at a time
constexpr int kRegionHeaderSize = 32;        // RGNDATAHEADER
constexpr int kRegionRectSize = 16;          // one RECT
constexpr RECT kEmptyExtent{INT_MAX, INT_MAX, -INT_MAX, -INT_MAX};
constexpr int kRegionRun = 64;               // rectangles given to the platform in one call

void Extend(RECT& extent, const RECT& r) {
  extent.left = std::min(extent.left, r.left);
  extent.top = std::min(extent.top, r.top);
  extent.right = std::max(extent.right, r.right);
  extent.bottom = std::max(extent.bottom, r.bottom);
}

// The region of the `count` rectangles that follow the header space at the start of `data`.
HRGN RegionOfRects(std::vector<uint8_t>& data, int count, const RECT& extent) {
  RGNDATAHEADER h{};
  h.dwSize = kRegionHeaderSize;
  h.iType = RDH_RECTANGLES;
  h.nCount = DWORD(count);
  h.nRgnSize = kRegionRectSize;
  h.rcBound = extent;
  std::memcpy(data.data(), &h, sizeof h);
  return ExtCreateRegion(nullptr, DWORD(36 + kRegionRectSize * count), reinterpret_cast<const RGNDATA*>(data.data()));
}

}  // namespace

int TIERandom::Random(int n) {
  Seed = Seed * 1664525u + 1013904223u;
  if (n <= 0) return 0;
  return int((uint64_t(Seed) * uint32_t(n)) >> 32);
}

void TComplexRegion::Clear() {
  Data.clear();
  Data.shrink_to_fit();
  Count = Capacity = 0;
  RegionExtent = kEmptyExtent;
}

void TComplexRegion::AddRect(int left, int top, int right, int bottom) {
  if (Count == Capacity) {
    Capacity += kRegionGrowth;
    // Four bytes beyond the last slot, as the platform call is given 36 + 16 x Count bytes.
    Data.resize(size_t(36) + size_t(kRegionRectSize) * size_t(Capacity));
  }
  RECT r{left, top, right, bottom};
  std::memcpy(Data.data() + kRegionHeaderSize + size_t(kRegionRectSize) * size_t(Count), &r, sizeof r);
  ++Count;
  Extend(RegionExtent, r);
}

const RECT* TComplexRegion::Rects() const {
  return Data.empty() ? nullptr : reinterpret_cast<const RECT*>(Data.data() + kRegionHeaderSize);
}

HRGN TComplexRegion::CreateRegion() {
  if (Data.empty()) return nullptr;
  if (Count <= kRegionRun) return RegionOfRects(Data, Count, RegionExtent);
  // The platform builds the region of a list one rectangle at a time, copying the region made so far
  // at each, which grows with the square of the count: a long list (the speckles, thousands a frame)
  // is made as regions of short runs, merged in pairs.
  std::vector<HRGN> parts;
  std::vector<uint8_t> run(size_t(36) + size_t(kRegionRectSize) * kRegionRun);
  for (int i = 0; i < Count; i += kRegionRun) {
    const int n = std::min(kRegionRun, Count - i);
    std::memcpy(run.data() + kRegionHeaderSize, Rects() + i, size_t(kRegionRectSize) * size_t(n));
    RECT extent = kEmptyExtent;
    for (const RECT* r = Rects() + i; r < Rects() + i + n; ++r) Extend(extent, *r);
    parts.push_back(RegionOfRects(run, n, extent));
  }
  while (parts.size() > 1) {
    size_t kept = 0;
    for (size_t k = 0; k < parts.size(); k += 2) {
      HRGN merged = parts[k];
      if (k + 1 < parts.size()) {
        if (!merged || !parts[k + 1]) {
          merged = merged ? merged : parts[k + 1];
        } else {
          CombineRgn(merged, merged, parts[k + 1], RGN_OR);
          DeleteObject(parts[k + 1]);
        }
      }
      parts[kept++] = merged;
    }
    parts.resize(kept);
  }
  return parts[0];
}

// Bars b pixels thick: every other band gets a bar first; the bands between fill in a second phase once
// the extent passes the frame size. Horizontal modes: 1 from the right, 2 from the left, 4 left then
// right, 5 right then left, 3 even bands from the right and odd bands from the left (first phase only).
// Vertical modes likewise with 1 the bottom and 2 the top.
HRGN CreateBarsRegion(int X, int Y, int W, int H, int horizontalMode, int verticalMode) {
  TComplexRegion list;
  const int b = std::min(W, H) / 50 + 1;
  const int hm = horizontalMode, vm = verticalMode;
  if (hm != 0) {
    if (W < X) {
      for (int s = b; s < H + b; s += 2 * b) {
        if (hm == 1 || hm == 4) list.AddRect(2 * W - X, s, W, s + b);
        if (hm == 2 || hm == 5) list.AddRect(0, s, X - W, s + b);
        list.AddRect(0, s - b, W, s);
      }
    } else {
      for (int s = 0; s < H + b; s += 2 * b) {
        if (hm == 1 || hm == 5) list.AddRect(W - X, s, W, s + b);
        if (hm == 2 || hm == 4) list.AddRect(0, s, X, s + b);
        if (hm == 3) {
          list.AddRect(0, s + b, X, s + 2 * b);
          list.AddRect(W - X, s, W, s + b);
        }
      }
    }
  }
  if (vm != 0) {
    if (Y > H) {
      for (int s = b; s < W + b; s += 2 * b) {
        if (vm == 1 || vm == 4) list.AddRect(s, 2 * H - Y, s + b, H);
        if (vm == 2 || vm == 5) list.AddRect(s, 0, s + b, Y - H);
        list.AddRect(s - b, 0, s, H);
      }
    } else {
      for (int s = 0; s < W + b; s += 2 * b) {
        if (vm == 1 || vm == 5) list.AddRect(s, H - Y, s + b, H);
        if (vm == 2 || vm == 4) list.AddRect(s, 0, s + b, Y);
        if (vm == 3) {
          list.AddRect(s, H - Y, s + b, H);
          list.AddRect(s + b, 0, s + 2 * b, Y);
        }
      }
    }
  }
  return list.CreateRegion();
}

// Bands of a random jagged length around the extent (jitter of a tenth of the frame until the extent
// reaches the frame size). Modes: 1 from the right (bottom), 2 from the left (top), 3 out from the
// centre line, any other in from both edges. Each band is extended by the remainder of the frame size
// so the last one reaches the edge.
HRGN CreateShreddedRegion(int X, int Y, int W, int H, int horizontalMode, int verticalMode, TIERandom& rng) {
  TComplexRegion list;
  const int b = std::min(W, H) / 200 + 1;
  const int rx = W % b, ry = H % b, cx = W / 2, cy = H / 2;
  if (horizontalMode != 0) {
    const int j = X < W ? W / 10 : 0;
    for (int s = 0; s < H; s += b) {
      const int L = rng.Random(2 * j) - j + X, h = L / 2, e = s + b + ry;
      switch (horizontalMode) {
        case 1: list.AddRect(W - L, s, W, e); break;
        case 2: list.AddRect(0, s, L, e); break;
        case 3:
          list.AddRect(cx - h, s, cx, e);
          list.AddRect(cx, s, cx + h, e);
          break;
        default:
          list.AddRect(W - h, s, W, e);
          list.AddRect(0, s, h, e);
      }
    }
  }
  if (verticalMode != 0) {
    const int j = Y < H ? H / 10 : 0;
    for (int s = 0; s < W; s += b) {
      const int L = rng.Random(2 * j) + Y - j, h = L / 2, e = s + b + rx;
      switch (verticalMode) {
        case 1: list.AddRect(s, H - L, e, H); break;
        case 2: list.AddRect(s, 0, e, L); break;
        case 3:
          list.AddRect(s, cy - h, e, cy);
          list.AddRect(s, cy, e, cy + h);
          break;
        default:
          list.AddRect(s, H - h, e, H);
          list.AddRect(s, 0, e, h);
      }
    }
  }
  return list.CreateRegion();
}

namespace {
// Whether the speckle cell i steps ahead of the edge is taken: always for i <= 2 within the near part,
// with probability 2 / i further in it, 1 / i beyond it.
bool TakeSpeckle(TIERandom& rng, int i, int t) { return rng.Random(i) <= (i <= t ? 1 : 0); }
}  // namespace

// A solid part of the given extent and, ahead of its edge, cells chosen at random, denser near the edge.
// Mode 1 grows from the right (bottom), any other from the left (top).
HRGN CreateSpeckledRegion(int X, int Y, int W, int H, int horizontalMode, int verticalMode, TIERandom& rng) {
  TComplexRegion list;
  if (horizontalMode != 0) {
    const int g = X < W ? W / 10 : 0, c = std::max(g / 20, 2), n = g / c, t = (3 * g) / (4 * c);
    for (int s = 0; s < H; s += c / 2) {
      if (horizontalMode == 1) {
        list.AddRect(W - X, s, W, s + c);
        for (int i = n; i >= 1; --i)
          if (TakeSpeckle(rng, i, t)) list.AddRect(W - X - i * c, s, W - X - i * c + c, s + c);
      } else {
        list.AddRect(0, s, X, s + c);
        for (int i = n; i >= 1; --i)
          if (TakeSpeckle(rng, i, t)) list.AddRect(X + i * c - c, s, X + i * c, s + c);
      }
    }
  }
  if (verticalMode != 0) {
    const int g = Y < H ? H / 10 : 0, c = std::max(g / 20, 2), n = g / c, t = (3 * g) / (4 * c);
    for (int s = 0; s < W; s += c / 2) {
      if (verticalMode == 1) {
        list.AddRect(s, H - Y, s + c, H);
        for (int i = n; i >= 1; --i)
          if (TakeSpeckle(rng, i, t)) list.AddRect(s, H - Y - i * c, s + c, H - Y - i * c + c);
      } else {
        list.AddRect(s, 0, s + c, Y);
        for (int i = n; i >= 1; --i)
          if (TakeSpeckle(rng, i, t)) list.AddRect(s, Y + i * c - c, s + c, Y + i * c);
      }
    }
  }
  return list.CreateRegion();
}

HRGN CreateFanRegion(int centreX, int centreY, int radius, double firstAngle, double lastAngle, int count) {
  if (count < 1) return nullptr;
  // The rim runs from the first angle to the last one inclusive, so a fan of count steps covers all of
  // them (a sweep at full progress closes the circle).
  const double step = (lastAngle - firstAngle) / count;
  std::vector<POINT> pts(size_t(count) + 2);
  pts[0] = POINT{centreX, centreY};
  for (int k = 0; k <= count; ++k) {
    const double a = firstAngle + k * step;
    pts[size_t(k) + 1] = POINT{centreX + LONG(std::lrint(radius * std::cos(a))),
                               centreY + LONG(std::lrint(radius * std::sin(a)))};
  }
  return CreatePolygonRgn(pts.data(), int(pts.size()), WINDING);
}

HRGN CreatePolygonFromCoords(const int* coords, int highIndex) {
  const int n = (highIndex + 1) / 2;
  if (n < 1) return nullptr;
  std::vector<POINT> pts(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) pts[size_t(i)] = POINT{coords[2 * i], coords[2 * i + 1]};
  return CreatePolygonRgn(pts.data(), n, WINDING);
}

HRGN CreateTriangleRegion(int x0, int y0, int x1, int y1, int x2, int y2) {
  const POINT pts[3] = {{x0, y0}, {x1, y1}, {x2, y2}};
  return CreatePolygonRgn(pts, 3, WINDING);
}

void RotatePointsRadians(POINT* points, int lastIndex, int centreX, int centreY, double angle) {
  const double s = std::sin(angle), c = std::cos(angle);
  for (int i = 0; i <= lastIndex; ++i) {
    const double dx = points[i].x - centreX, dy = points[i].y - centreY;
    points[i].x = centreX + LONG(std::lrint(dx * c - dy * s));
    points[i].y = centreY + LONG(std::lrint(dx * s + dy * c));
  }
}

void StretchDrawMirrored(ui::TCanvas* canvas, RECT dest, ui::TBitmap* bitmap, RECT source, bool mirrorHorizontally,
                         bool mirrorVertically) {
  const RECT bounds{0, 0, bitmap->GetWidth(), bitmap->GetHeight()};
  RECT src;
  if (!IntersectRect(&src, &source, &bounds)) return;
  // A negative extent covers the pixels (origin + extent, origin]: starting on the last pixel of the
  // destination keeps the mirrored copy on exactly the destination's pixels, unscaled when the sizes match.
  int x = dest.left, w = dest.right - dest.left, y = dest.top, h = dest.bottom - dest.top;
  if (mirrorHorizontally) {
    x = dest.right - 1;
    w = -w;
  }
  if (mirrorVertically) {
    y = dest.bottom - 1;
    h = -h;
  }
  HDC dc = canvas->GetHandle();
  SetStretchBltMode(dc, HALFTONE);
  StretchBlt(dc, x, y, w, h, bitmap->Canvas()->GetHandle(), src.left, src.top, src.right - src.left,
             src.bottom - src.top, SRCCOPY);
}
