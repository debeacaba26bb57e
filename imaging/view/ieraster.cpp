#include "ieraster.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Below this a coverage sum is rounding left over from closed contours, not paint.
constexpr float kCoverEpsilon = 1.0f / 1024;

// The part of pixel i (spanning [i, i + 1]) inside [lo, hi].
double Overlap(int i, double lo, double hi) { return std::max(0.0, std::min(i + 1.0, hi) - std::max(double(i), lo)); }

// Rounding to pixel indices. Coordinates far outside any bitmap are held at a distance that still is
// (and that an int holds), so loops clipped to the bitmap never see an overflowed index.
constexpr double kFar = double(1 << 28);
int Floor(double v) { return int(std::floor(std::clamp(v, -kFar, kFar))); }
int Ceil(double v) { return int(std::ceil(std::clamp(v, -kFar, kFar))); }

// The first pixel whose centre, at integer coordinates, is at or after v (pens' space; a fill's
// coordinates are half a pixel further on).
int First(double v) { return Ceil(v); }

int Div255(int v) { return (v + 128 + ((v + 128) >> 8)) >> 8; }

}  // namespace

// The path scratch, kept between shapes so that drawing allocates only while it grows. One is shared
// by whichever raster takes it first; a raster drawing meanwhile (another thread) makes its own.
struct TIERaster::TScratch {
  std::vector<std::vector<Cell>> Cells;
  std::vector<std::vector<Crossing>> Crossings;
  std::vector<Edge> Edges;
  std::vector<double> Points;
};

namespace {

TIERaster::TScratch g_sharedScratch;
std::atomic<bool> g_sharedScratchTaken{false};

// GetObject does not tell a top-down DIB section from a bottom-up one: a pixel written through GDI
// shows which memory row holds it. Bitmaps seen lately are remembered (a handle carries a reuse count,
// so a new bitmap never takes an old one's entry).
struct TOrientation {
  HGDIOBJ Bitmap;
  void* Bits;
  bool TopDown;
};
std::mutex g_orientationLock;
TOrientation g_orientations[16];
unsigned g_nextOrientation = 0;

bool KnownOrientation(HGDIOBJ bitmap, void* bits, bool& topDown) {
  std::lock_guard<std::mutex> lock(g_orientationLock);
  for (const TOrientation& o : g_orientations)
    if (o.Bitmap == bitmap && o.Bits == bits) {
      topDown = o.TopDown;
      return true;
    }
  return false;
}

// Writes pixel (x, y), which the device context's clip lets through, and looks at which of its two
// possible memory rows (not the same one) it landed in; both are restored. False when it is in neither.
bool ProbeTopDown(HDC dc, HGDIOBJ bitmap, uint8_t* bits, int height, int stride, int bytes, int x, int y,
                  bool& topDown) {
  const int other = height - 1 - y;
  uint8_t* asTop = bits + ptrdiff_t(y) * stride + ptrdiff_t(x) * bytes;
  uint8_t* asBottom = bits + ptrdiff_t(other) * stride + ptrdiff_t(x) * bytes;
  uint8_t savedTop[4], savedBottom[4];
  std::copy(asTop, asTop + bytes, savedTop);
  std::copy(asBottom, asBottom + bytes, savedBottom);
  uint8_t mark = 1;  // a blue level neither pixel holds
  while (mark == asTop[0] || mark == asBottom[0]) ++mark;
  SaveDC(dc);
  SelectClipRgn(dc, nullptr);
  SetPixelV(dc, x, y, RGB(0, 0, mark));
  GdiFlush();
  RestoreDC(dc, -1);
  const bool inTop = asTop[0] == mark, inBottom = asBottom[0] == mark;
  std::copy(savedTop, savedTop + bytes, asTop);
  std::copy(savedBottom, savedBottom + bytes, asBottom);
  if (inTop == inBottom) return false;  // the pixel went nowhere we can see: nothing learnt
  topDown = inTop;
  std::lock_guard<std::mutex> lock(g_orientationLock);
  g_orientations[g_nextOrientation++ % 16] = TOrientation{bitmap, bits, topDown};
  return true;
}

}  // namespace

TIERaster::TIERaster() = default;

TIERaster::~TIERaster() {
  if (Scratch == &g_sharedScratch) g_sharedScratchTaken.store(false, std::memory_order_release);
}

TIERaster::TScratch& TIERaster::Work() {
  if (!Scratch) {
    if (!g_sharedScratchTaken.exchange(true, std::memory_order_acquire)) {
      Scratch = &g_sharedScratch;
    } else {
      OwnScratch = std::make_unique<TScratch>();
      Scratch = OwnScratch.get();
    }
  }
  return *Scratch;
}

bool TIERaster::Bind(HDC dc) {
  Bits = nullptr;
  RowSpansY = -1;
  if (!dc) return false;
  HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
  DIBSECTION ds{};
  if (!bitmap || GetObjectW(bitmap, sizeof(ds), &ds) != int(sizeof(ds)) || !ds.dsBm.bmBits) return false;
  const int bpp = ds.dsBm.bmBitsPixel;
  if ((bpp != 24 && bpp != 32) || ds.dsBmih.biCompression != BI_RGB) return false;
  if (GetMapMode(dc) != MM_TEXT || GetGraphicsMode(dc) != GM_COMPATIBLE) return false;
  POINT window{}, viewport{};
  if (!GetWindowOrgEx(dc, &window) || !GetViewportOrgEx(dc, &viewport) || window.x || window.y || viewport.x ||
      viewport.y)
    return false;
  Width = ds.dsBm.bmWidth;
  Height = std::abs(ds.dsBmih.biHeight);
  Stride = ds.dsBm.bmWidthBytes;
  Bytes = bpp / 8;
  if (Width <= 0 || Height <= 0 || Stride < Width * Bytes) return false;

  // The clip: its box says it all when it is a single rectangle (the common case, and one call);
  // otherwise the region's rectangles. A meta region is left to the graphics library.
  const RECT whole{0, 0, Width, Height};
  ClipRects.clear();
  RECT box{};
  const int kind = GetClipBox(dc, &box);
  if (kind == ERROR) return false;
  if (kind == NULLREGION || !IntersectRect(&Bounds, &box, &whole)) Bounds = RECT{0, 0, 0, 0};
  if (kind == COMPLEXREGION && !ReadClipRegion(dc, whole)) return false;

  // The orientation, learnt where the clip lets a pixel through. With nothing to draw on, or with
  // only the middle row, where both orientations meet, it does not matter and nothing is learnt.
  uint8_t* bits = static_cast<uint8_t*>(ds.dsBm.bmBits);
  if (bitmap != LastBitmap || bits != LastBits) {
    bool topDown = false, known = KnownOrientation(bitmap, bits, topDown);
    if (!known && !IsRectEmpty(&Bounds)) {
      int y = Bounds.top;
      if (y == Height - 1 - y) y = Bounds.bottom - 1;
      known = y != Height - 1 - y && ProbeTopDown(dc, bitmap, bits, Height, Stride, Bytes, Bounds.left, y, topDown);
    }
    if (known) {
      LastBitmap = bitmap;
      LastBits = bits;
      LastTopDown = topDown;
    }
    TopDown = topDown;
  } else {
    TopDown = LastTopDown;
  }
  GdiFlush();  // whatever the library still holds back lands before our own writes
  Bits = bits;
  return true;
}

bool TIERaster::ReadClipRegion(HDC dc, const RECT& whole) {
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  if (!rgn) return false;
  bool ok = GetMetaRgn(dc, rgn) != 1 && GetClipRgn(dc, rgn) == 1;
  if (ok) {
    const DWORD size = GetRegionData(rgn, 0, nullptr);
    std::vector<uint8_t> data(size);
    auto* rd = reinterpret_cast<RGNDATA*>(data.data());
    ok = size >= sizeof(RGNDATAHEADER) && GetRegionData(rgn, size, rd) == size;
    if (ok) {
      const RECT* r = reinterpret_cast<const RECT*>(rd->Buffer);
      for (DWORD i = 0; i < rd->rdh.nCount; ++i) {
        RECT c;
        if (IntersectRect(&c, &r[i], &whole)) ClipRects.push_back(c);
      }
      if (ClipRects.empty()) Bounds = RECT{0, 0, 0, 0};  // the region misses the bitmap
    }
  }
  DeleteObject(rgn);
  return ok;
}

const std::vector<TIERaster::Span>& TIERaster::ClipSpans(int y) {
  if (y == RowSpansY) return RowSpans;
  RowSpansY = y;
  RowSpans.clear();
  if (ClipRects.empty()) {
    if (y >= Bounds.top && y < Bounds.bottom && Bounds.left < Bounds.right)
      RowSpans.push_back(Span{int(Bounds.left), int(Bounds.right) - 1});
    return RowSpans;
  }
  for (const RECT& r : ClipRects)
    if (y >= r.top && y < r.bottom) RowSpans.push_back(Span{int(r.left), int(r.right) - 1});
  return RowSpans;
}

void TIERaster::SetColor(uint32_t argb) {
  ColorA = int(argb >> 24);
  ColorR = int((argb >> 16) & 0xFF);
  ColorG = int((argb >> 8) & 0xFF);
  ColorB = int(argb & 0xFF);
}

int TIERaster::AlphaOf(double coverage) const {
  if (coverage <= 0) return 0;
  return int(std::min(coverage, 1.0) * ColorA + 0.5);
}

void TIERaster::BlendSpan(int y, int x0, int x1, int alpha) {
  if (alpha <= 0 || !Bits) return;
  for (const Span& s : ClipSpans(y)) {
    const int a = std::max(x0, s.Left), b = std::min(x1, s.Right);
    if (a > b) continue;
    uint8_t* p = Row(y) + ptrdiff_t(a) * Bytes;
    if (alpha >= 255) {
      for (int x = a; x <= b; ++x, p += Bytes) p[0] = uint8_t(ColorB), p[1] = uint8_t(ColorG), p[2] = uint8_t(ColorR);
      continue;
    }
    const int ia = 255 - alpha, sb = ColorB * alpha, sg = ColorG * alpha, sr = ColorR * alpha;
    for (int x = a; x <= b; ++x, p += Bytes) {
      p[0] = uint8_t(Div255(sb + p[0] * ia));
      p[1] = uint8_t(Div255(sg + p[1] * ia));
      p[2] = uint8_t(Div255(sr + p[2] * ia));
    }
  }
}

// ---- axis-aligned boxes ----

void TIERaster::FillRect(double x0, double y0, double x1, double y1, uint32_t argb, bool antialias) {
  SetColor(argb);
  if (!Bits || ColorA == 0 || x1 <= x0 || y1 <= y0) return;
  if (!antialias) {
    // every pixel whose centre lies in the box, left and top edges included, right and bottom not
    const int top = std::max(First(y0 - 0.5), int(Bounds.top)), bottom = std::min(First(y1 - 0.5) - 1, int(Bounds.bottom) - 1);
    for (int y = top; y <= bottom; ++y) BlendSpan(y, First(x0 - 0.5), First(x1 - 0.5) - 1, ColorA);
    return;
  }
  BoxCoverage(x0, y0, x1, y1, nullptr);
}

void TIERaster::StrokeRect(double x0, double y0, double x1, double y1, double width, uint32_t argb, bool antialias) {
  SetColor(argb);
  if (!Bits || ColorA == 0 || x1 < x0 || y1 < y0) return;
  const double h = width / 2;
  const double ox0 = x0 - h, oy0 = y0 - h, ox1 = x1 + h, oy1 = y1 + h;
  const double ix0 = x0 + h, iy0 = y0 + h, ix1 = x1 - h, iy1 = y1 - h;
  const bool hole = ix0 < ix1 && iy0 < iy1;
  if (!antialias) {
    const int top = std::max(First(oy0), int(Bounds.top)), bottom = std::min(First(oy1) - 1, int(Bounds.bottom) - 1);
    const int left = First(ox0), right = First(ox1) - 1;
    const int htop = First(iy0), hbottom = First(iy1) - 1, hleft = First(ix0), hright = First(ix1) - 1;
    for (int y = top; y <= bottom; ++y) {
      if (!hole || y < htop || y > hbottom || hleft > hright) {
        BlendSpan(y, left, right, ColorA);
      } else {
        BlendSpan(y, left, hleft - 1, ColorA);
        BlendSpan(y, hright + 1, right, ColorA);
      }
    }
    return;
  }
  if (!hole) {
    BoxCoverage(ox0 + 0.5, oy0 + 0.5, ox1 + 0.5, oy1 + 0.5, nullptr);
    return;
  }
  const double inner[4] = {ix0 + 0.5, iy0 + 0.5, ix1 + 0.5, iy1 + 0.5};
  BoxCoverage(ox0 + 0.5, oy0 + 0.5, ox1 + 0.5, oy1 + 0.5, inner);
}

// The outer box [a, b] x [c, d] in edge space less the inner one (nullptr: none), each pixel by the
// area covered.
void TIERaster::BoxCoverage(double a, double c, double b, double d, const double* inner) {
  const int top = std::max<int>(Floor(c), Bounds.top);
  const int bottom = std::min<int>(Ceil(d) - 1, Bounds.bottom - 1);
  const int left = std::max<int>(Floor(a), Bounds.left);
  const int right = std::min<int>(Ceil(b) - 1, Bounds.right - 1);
  if (left > right) return;
  for (int y = top; y <= bottom; ++y) {
    const double cy = Overlap(y, c, d);
    const double iy = inner ? Overlap(y, inner[1], inner[3]) : 0.0;
    // columns where both boxes cover the whole pixel width give one span of cy - iy
    int midL = Floor(a) + 1, midR = Ceil(b) - 2;
    if (iy > 0) midL = std::max(midL, Ceil(inner[0])), midR = std::min(midR, Floor(inner[2]) - 1);
    for (int x = left; x <= right; ++x) {
      if (x >= midL && x <= midR) {
        BlendSpan(y, x, std::min(midR, right), AlphaOf(cy - iy));
        x = midR;
        continue;
      }
      double cov = cy * Overlap(x, a, b);
      if (iy > 0) cov -= iy * Overlap(x, inner[0], inner[2]);
      BlendSpan(y, x, x, AlphaOf(cov));
    }
  }
}

// ---- paths ----

void TIERaster::BeginPath() {
  Work().Edges.clear();
  MinX = MinY = 1e300;
  MaxX = MaxY = -1e300;
}

void TIERaster::AddPolygon(const double* xy, int count, bool reverse) {
  auto& edges = Scratch->Edges;
  for (int i = 0; i < count; ++i) {
    const int j = (i + 1) % count;
    const double x0 = xy[2 * i], y0 = xy[2 * i + 1], x1 = xy[2 * j], y1 = xy[2 * j + 1];
    if (reverse) edges.push_back(Edge{x1, y1, x0, y0});
    else edges.push_back(Edge{x0, y0, x1, y1});
    MinX = std::min(MinX, x0), MaxX = std::max(MaxX, x0);
    MinY = std::min(MinY, y0), MaxY = std::max(MaxY, y0);
  }
}

void TIERaster::AddEllipsePath(double cx, double cy, double rx, double ry, bool reverse) {
  // enough vertices that a chord strays at most a twentieth of a pixel from the curve
  const double r = std::max(rx, ry);
  int n = 8;
  if (r > 0.1) n = Ceil(kPi / std::acos(std::max(-1.0, 1.0 - 0.1 / r)));
  n = std::clamp(n, 8, 4096);
  auto& pts = Scratch->Points;
  pts.resize(size_t(n) * 2);
  const double step = 2 * kPi / n, cs = std::cos(step), sn = std::sin(step);
  // vertices a little outside the curve, so that the chords' middles fall as far inside as they do
  const double out = 2 / (1 + std::cos(step / 2));
  rx *= out;
  ry *= out;
  double ux = 1, uy = 0;
  for (int i = 0; i < n; ++i) {
    pts[2 * size_t(i)] = cx + rx * ux;
    pts[2 * size_t(i) + 1] = cy + ry * uy;
    const double nx = ux * cs - uy * sn;
    uy = ux * sn + uy * cs;
    ux = nx;
  }
  AddPolygon(pts.data(), n, reverse);
}

void TIERaster::PushCell(int row, int x, float cover, float area) {
  auto& cells = Scratch->Cells[size_t(row - PathTop)];
  if (!cells.empty() && cells.back().X == x) {
    cells.back().Cover += cover;
    cells.back().Area += area;
  } else {
    cells.push_back(Cell{x, cover, area});
  }
}

// One edge's piece inside a row, from xa to xb with signed height dy: its cover goes to the cells it
// crosses, each with the area of the piece to the left of it within the cell.
void TIERaster::AddCells(int row, double xa, double xb, double dy) {
  // Only the columns of the clip bounds get cells: what lies left of them counts as a vertical edge
  // on their first column (its cover reaches every pixel to the right), what lies right is dropped.
  const double lo = Bounds.left, hi = Bounds.right;
  const double xl = std::min(xa, xb), xr = std::max(xa, xb);
  if (xr <= lo) {
    PushCell(row, int(lo), float(dy), 0.0f);
    return;
  }
  if (xl >= hi) return;
  if (xl < lo || xr > hi) {
    const double total = xr - xl;
    const double left = xl < lo ? (lo - xl) / total : 0.0, right = xr > hi ? (xr - hi) / total : 0.0;
    if (left > 0) PushCell(row, int(lo), float(dy * left), 0.0f);
    AddCellsInside(row, std::max(xl, lo), std::min(xr, hi), dy * (1 - left - right));
    return;
  }
  AddCellsInside(row, xl, xr, dy);
}

// A piece from xl to xr (xl <= xr) within the clip columns: its cover goes to the cells it crosses,
// each with the area of the piece to the left of it within the cell. Which end is the top does not
// matter: the area depends on the piece's height and mean x only.
void TIERaster::AddCellsInside(int row, double xl, double xr, double dy) {
  const int il = Floor(xl), ir = Floor(xr);
  if (il == ir || xl == xr) {
    PushCell(row, il, float(dy), float(dy * ((xl + xr) / 2 - il)));
    return;
  }
  const double perX = dy / (xr - xl);
  for (int cell = il; cell < xr; ++cell) {
    const double s0 = std::max(xl, double(cell)), s1 = std::min(xr, cell + 1.0);
    if (s1 <= s0) continue;
    const double part = perX * (s1 - s0);
    PushCell(row, cell, float(part), float(part * ((s0 + s1) / 2 - cell)));
  }
}

void TIERaster::FillPath(uint32_t argb, bool antialias) {
  SetColor(argb);
  auto& edges = Work().Edges;
  if (!Bits || ColorA == 0 || edges.empty() || MaxX <= Bounds.left || MinX >= Bounds.right) return;
  PathTop = std::max<int>(Floor(MinY), Bounds.top);
  const int last = std::min<int>(Ceil(MaxY) - 1, Bounds.bottom - 1);
  if (last < PathTop) return;
  PathRows = last - PathTop + 1;

  if (!antialias) {
    // the winding number at each pixel centre, row by row
    auto& rows = Scratch->Crossings;
    if (rows.size() < size_t(PathRows)) rows.resize(size_t(PathRows));
    for (const Edge& e : edges) {
      if (e.Y0 == e.Y1) continue;
      const int dir = e.Y1 > e.Y0 ? 1 : -1;
      const double ylo = std::min(e.Y0, e.Y1), yhi = std::max(e.Y0, e.Y1), slope = (e.X1 - e.X0) / (e.Y1 - e.Y0);
      const int r0 = std::max(Ceil(ylo - 0.5), PathTop), r1 = std::min(Ceil(yhi - 0.5) - 1, last);
      for (int y = r0; y <= r1; ++y)
        rows[size_t(y - PathTop)].push_back(Crossing{float(e.X0 + (y + 0.5 - e.Y0) * slope), dir});
    }
    for (int i = 0; i < PathRows; ++i) {
      auto& cr = rows[size_t(i)];
      std::sort(cr.begin(), cr.end(), [](const Crossing& p, const Crossing& q) { return p.X < q.X; });
      int winding = 0;
      double start = 0;
      for (const Crossing& c : cr) {
        const int before = winding;
        winding += c.Winding;
        if (before == 0 && winding != 0) start = c.X;
        else if (before != 0 && winding == 0)
          BlendSpan(PathTop + i, Ceil(start - 0.5), Ceil(c.X - 0.5) - 1, ColorA);
      }
      cr.clear();
    }
    return;
  }

  auto& rows = Scratch->Cells;
  if (rows.size() < size_t(PathRows)) rows.resize(size_t(PathRows));
  for (const Edge& e : edges) {
    if (e.Y0 == e.Y1) continue;
    const double dir = e.Y1 > e.Y0 ? 1.0 : -1.0;
    const bool down = e.Y1 > e.Y0;
    const double xt = down ? e.X0 : e.X1, yt = down ? e.Y0 : e.Y1, yb = down ? e.Y1 : e.Y0;
    const double slope = (e.X1 - e.X0) / (e.Y1 - e.Y0);
    const int r0 = std::max(Floor(yt), PathTop), r1 = std::min(Ceil(yb) - 1, last);
    for (int y = r0; y <= r1; ++y) {
      const double ya = std::max(yt, double(y)), yz = std::min(yb, y + 1.0);
      if (yz <= ya) continue;
      AddCells(y, xt + (ya - yt) * slope, xt + (yz - yt) * slope, dir * (yz - ya));
    }
  }
  const int right = Bounds.right;
  for (int i = 0; i < PathRows; ++i) {
    auto& cells = rows[size_t(i)];
    if (cells.empty()) continue;
    std::sort(cells.begin(), cells.end(), [](const Cell& p, const Cell& q) { return p.X < q.X; });
    const int y = PathTop + i;
    float acc = 0;
    int prev = Bounds.left - 1;
    for (size_t k = 0; k < cells.size();) {
      const int x = cells[k].X;
      float cover = 0, area = 0;
      for (; k < cells.size() && cells[k].X == x; ++k) cover += cells[k].Cover, area += cells[k].Area;
      if (x >= right) break;
      if (std::fabs(acc) > kCoverEpsilon && x > prev + 1) BlendSpan(y, prev + 1, x - 1, AlphaOf(std::fabs(acc)));
      BlendSpan(y, x, x, AlphaOf(std::fabs(acc + cover - area)));
      acc += cover;
      prev = x;
    }
    // the shape goes on past the clip's right side
    if (std::fabs(acc) > kCoverEpsilon) BlendSpan(y, prev + 1, right - 1, AlphaOf(std::fabs(acc)));
    cells.clear();
  }
}

// ---- shapes ----

void TIERaster::FillEllipse(double x, double y, double w, double h, uint32_t argb, bool antialias) {
  if (!Bits || w <= 0 || h <= 0) return;
  BeginPath();
  AddEllipsePath(x + w / 2, y + h / 2, w / 2, h / 2, false);
  FillPath(argb, antialias);
}

void TIERaster::StrokeEllipse(double x, double y, double w, double h, double width, uint32_t argb, bool antialias) {
  if (!Bits || w <= 0 || h <= 0) return;
  const double cx = x + w / 2 + 0.5, cy = y + h / 2 + 0.5, half = width / 2;
  BeginPath();
  AddEllipsePath(cx, cy, w / 2 + half, h / 2 + half, false);
  if (w / 2 > half && h / 2 > half) AddEllipsePath(cx, cy, w / 2 - half, h / 2 - half, true);
  FillPath(argb, antialias);
}

void TIERaster::StrokeLine(double x1, double y1, double x2, double y2, double width, uint32_t argb, bool antialias) {
  if (!Bits) return;
  const double dx = x2 - x1, dy = y2 - y1, len = std::hypot(dx, dy);
  if (len == 0) return;
  const double nx = -dy / len * width / 2, ny = dx / len * width / 2;
  const double pts[8] = {x1 + nx + 0.5, y1 + ny + 0.5, x2 + nx + 0.5, y2 + ny + 0.5,
                         x2 - nx + 0.5, y2 - ny + 0.5, x1 - nx + 0.5, y1 - ny + 0.5};
  BeginPath();
  AddPolygon(pts, 4, false);
  FillPath(argb, antialias);
}
