// Selection mask: storage, writers with an exact all-set count, polygon fill, translation, masked
// copies and drawing.
#include "iemask.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "iebitmap.h"
#include "ieblend.h"
#include "iedibroutines.h"
#include "ieutils.h"

namespace {

// A mask larger than this in bytes is refused (a 32-bit process could not hold it anyway).
constexpr int64_t kMaxMaskBytes = int64_t(1) << 30;
constexpr int kFixedOne = 16384;  // 14-bit fixed point

int PopCount8(uint8_t b) {
  int n = 0;
  for (; b; b &= uint8_t(b - 1)) ++n;
  return n;
}

// Floor division for the polygon's edge stepping (dy > 0).
int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

TIEMask::TIEMask() = default;

bool TIEMask::Allocate(int width, int height, int bitsPerPixel) {
  Free();
  BoxX1 = BoxY1 = INT_MAX;
  BoxX2 = BoxY2 = 0;
  UnsetCount = 0;
  if (width <= 0 || height <= 0 || (bitsPerPixel != 1 && bitsPerPixel != 8)) return false;
  int64_t rowLength = ((int64_t(width) * bitsPerPixel + 31) / 32) * 4;
  if (rowLength * height > kMaxMaskBytes) return false;
  try {
    Rows.assign(size_t(rowLength * height), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  Width = width;
  Height = height;
  MaskBitDepth = bitsPerPixel;
  RowLength = int(rowLength);
  UnsetCount = int64_t(width) * height;
  return true;
}

void TIEMask::Free() {
  std::vector<uint8_t>().swap(StretchBuffer);
  std::vector<uint8_t>().swap(Rows);
  StretchWidth = StretchHeight = 0;
  Width = Height = MaskBitDepth = RowLength = 0;
  UnsetCount = 0;
}

bool TIEMask::Resize(int width, int height) {
  if (width <= 0 || height <= 0 || MaskBitDepth == 0) return false;
  int oldWidth = Width, oldHeight = Height, oldRowLength = RowLength;
  std::vector<uint8_t> old;
  old.swap(Rows);
  int depth = MaskBitDepth;
  if (!Allocate(width, height, depth)) return false;
  int rows = std::min(oldHeight, height);
  int bytes = std::min(oldRowLength, RowLength);
  for (int y = 0; y < rows; ++y) {
    uint8_t* d = GetRowAddress(y);
    std::memcpy(d, &old[size_t(oldRowLength) * (oldHeight - 1 - y)], size_t(bytes));
    // a narrower 1-bit row keeps the old pixels past its width in its last byte: clear them
    // pixels past the kept width (old row padding, or pixels cut off) must not show up
    int keep = std::min(oldWidth, width);
    int usedBytes = depth == 1 ? (keep + 7) / 8 : keep;
    if (depth == 1 && (keep & 7)) d[keep >> 3] &= uint8_t(0xFF00 >> (keep & 7));
    std::memset(d + usedBytes, 0, size_t(RowLength - usedBytes));
  }
  RecomputeBoundingBox();
  CheckAllSet();
  return true;
}

uint8_t* TIEMask::GetRowAddress(int y) { return &Rows[size_t(RowLength) * (Height - 1 - y)]; }

bool TIEMask::Full(const uint8_t* row, int x) const {
  return MaskBitDepth == 1 ? (row[x >> 3] & (0x80 >> (x & 7))) != 0 : row[x] == 255;
}

int TIEMask::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return 0;
  const uint8_t* row = &Rows[size_t(RowLength) * (Height - 1 - y)];
  return MaskBitDepth == 1 ? row[x >> 3] & (0x80 >> (x & 7)) : row[x];
}

void TIEMask::GrowBox(int x, int y) {
  if (BoxX1 == INT_MAX) {
    BoxX1 = BoxX2 = x;
    BoxY1 = BoxY2 = y;
    return;
  }
  BoxX1 = std::min(BoxX1, x); BoxX2 = std::max(BoxX2, x);
  BoxY1 = std::min(BoxY1, y); BoxY2 = std::max(BoxY2, y);
}

void TIEMask::SetPixel(int x, int y, int value) {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return;
  uint8_t* row = GetRowAddress(y);
  bool was = Full(row, x);
  if (MaskBitDepth == 1) {
    if (value != 0)
      row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    else
      row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
  } else {
    row[x] = uint8_t(value);
  }
  bool now = Full(row, x);
  UnsetCount += int(was) - int(now);
  if (uint8_t(value) != 0 || (MaskBitDepth == 1 && value != 0)) GrowBox(x, y);
}

void TIEMask::Fill(int value) {
  if (Rows.empty()) return;
  bool set = MaskBitDepth == 1 ? value != 0 : uint8_t(value) == 255;
  std::memset(Rows.data(), MaskBitDepth == 1 ? (value != 0 ? 0xFF : 0) : (value & 0xFF), Rows.size());
  UnsetCount = set ? 0 : int64_t(Width) * Height;
}

void TIEMask::Clear() {
  Fill(0);
  BoxX1 = BoxY1 = INT_MAX;
  BoxX2 = BoxY2 = 0;
}

int64_t TIEMask::CountUnset(const uint8_t* row, int x1, int x2) const {
  int64_t full = 0;
  if (MaskBitDepth == 8) {
    for (int x = x1; x <= x2; ++x) full += row[x] == 255;
  } else {
    int x = x1;
    for (; x <= x2 && (x & 7); ++x) full += (row[x >> 3] >> (7 - (x & 7))) & 1;
    for (; x + 7 <= x2; x += 8) full += PopCount8(row[x >> 3]);
    for (; x <= x2; ++x) full += (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
  return int64_t(x2 - x1 + 1) - full;
}

int TIEMask::FillSpan(int value, int x1, int x2, int y) {
  // a polygon reaching past the top or bottom must not smear onto the edge rows
  if (y < 0 || y >= Height) return 0;
  x1 = std::max(x1, 0);
  x2 = std::min(x2, Width - 1);
  if (x2 < x1) return 0;
  uint8_t* row = GetRowAddress(y);
  int64_t unsetBefore = CountUnset(row, x1, x2);
  int n = x2 - x1 + 1;
  if (MaskBitDepth == 8) {
    std::memset(row + x1, value & 0xFF, size_t(n));
    UnsetCount += (uint8_t(value) == 255 ? 0 : n) - unsetBefore;
    return n;
  }
  bool set = value != 0;
  int x = x1;
  for (; x <= x2 && (x & 7); ++x) IESetRowBit(row, x, set);
  if (x + 7 <= x2) {
    int whole = (x2 + 1 - x) / 8;
    std::memset(row + (x >> 3), set ? 0xFF : 0, size_t(whole));
    x += whole * 8;
  }
  for (; x <= x2; ++x) IESetRowBit(row, x, set);
  UnsetCount += (set ? 0 : n) - unsetBefore;
  return n;
}

void TIEMask::FillPolygon(int value, const POINT* points, int count) {
  if (count < 3 || Rows.empty()) return;
  int minX = INT_MAX, minY = INT_MAX, maxX = INT_MIN, maxY = INT_MIN;
  for (int i = 0; i < count; ++i) {
    minX = std::min<int>(minX, points[i].x); maxX = std::max<int>(maxX, points[i].x);
    minY = std::min<int>(minY, points[i].y); maxY = std::max<int>(maxY, points[i].y);
  }
  struct Edge {
    int yTop, yBottom;  // the edge covers the scan lines yTop .. yBottom - 1
    int64_t x, q, r, err, dy;  // x = floor of the exact crossing; x += q and err += r per line
    int64_t dxTotal;  // for ordering equal x by slope
  };
  std::vector<Edge> edges;
  edges.reserve(size_t(count));
  for (int i = 0; i < count; ++i) {
    POINT a = points[i], b = points[(i + 1) % count];
    if (a.y == b.y) continue;
    if (a.y > b.y) std::swap(a, b);
    Edge e;
    e.yTop = a.y; e.yBottom = b.y;
    e.dy = int64_t(b.y) - a.y;
    int64_t dx = int64_t(b.x) - a.x;
    e.q = FloorDiv(dx, e.dy);
    e.r = dx - e.q * e.dy;  // 0 <= r < dy
    e.x = a.x;
    e.err = 0;
    e.dxTotal = dx;
    edges.push_back(e);
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.yTop < b.yTop; });
  // Scan lines outside the mask write nothing: the walk starts at the first one that can, with the
  // edges already crossing it advanced there in one step.
  int yFirst = std::max(minY, 0), yLast = std::min(maxY - 1, Height - 1);
  std::vector<Edge> active;
  size_t next = 0;
  int64_t written = 0;
  auto advance = [](Edge& e, uint64_t steps) {
    e.x += e.q * int64_t(steps);
    uint64_t t = uint64_t(e.r) * steps + uint64_t(e.err);  // r, err < dy < 2^33: no overflow for int input
    e.x += int64_t(t / uint64_t(e.dy));
    e.err = int64_t(t % uint64_t(e.dy));
  };
  for (; next < edges.size() && edges[next].yTop < yFirst; ++next) {
    if (edges[next].yBottom <= yFirst) continue;
    Edge e = edges[next];
    advance(e, uint64_t(int64_t(yFirst) - e.yTop));
    active.push_back(e);
  }
  // smallest column whose centre (x + 0.5) lies right of the edge's exact crossing x + err / dy
  auto firstInside = [](const Edge& e) -> int64_t { return e.x + FloorDiv(2 * e.err - e.dy, 2 * e.dy) + 1; };
  for (int y = yFirst; y <= yLast; ++y) {
    if (y > yFirst) {
      // edges ending here leave; the others step one scan line
      active.erase(std::remove_if(active.begin(), active.end(), [y](const Edge& e) { return e.yBottom <= y; }),
                   active.end());
      for (Edge& e : active) advance(e, 1);
    }
    for (; next < edges.size() && edges[next].yTop == y; ++next) active.push_back(edges[next]);
    std::sort(active.begin(), active.end(), [](const Edge& a, const Edge& b) {
      if (a.x != b.x) return a.x < b.x;
      uint64_t l = uint64_t(a.err) * uint64_t(b.dy), r = uint64_t(b.err) * uint64_t(a.dy);
      if (l != r) return l < r;
      return double(a.dxTotal) / double(a.dy) < double(b.dxTotal) / double(b.dy);
    });
    for (size_t i = 0; i + 1 < active.size(); i += 2) {
      int64_t left = std::max<int64_t>(firstInside(active[i]), -1);
      int64_t right = std::min<int64_t>(firstInside(active[i + 1]), int64_t(Width) + 1);
      if (right - 1 >= left) written += FillSpan(value, int(left), int(right - 1), y);
    }
  }
  if (value != 0) {
    if (written == 0) return;  // nothing selected: the box stays as it was
    // the polygon's extent grows the box, limited to the mask
    int bx1 = IEClamp(minX, 0, Width - 1), by1 = IEClamp(minY, 0, Height - 1);
    int bx2 = IEClamp(maxX - 1, 0, Width - 1), by2 = IEClamp(maxY - 1, 0, Height - 1);
    GrowBox(bx1, by1);
    GrowBox(bx2, by2);
  }
}

void TIEMask::DrawPolygons(int value, const POINT* points, int count) {
  int start = 0;
  for (int i = 0; i <= count; ++i) {
    if (i == count || points[i].x == kIEPolygonSeparator) {
      if (i - start >= 3) FillPolygon(value, points + start, i - start);
      start = i + 1;
    }
  }
}

void TIEMask::RecomputeBoundingBox() {
  BoxX1 = BoxY1 = INT_MAX;
  BoxX2 = BoxY2 = 0;
  for (int y = 0; y < Height; ++y) {
    const uint8_t* row = GetRowAddress(y);
    int first = -1, last = -1;
    for (int x = 0; x < Width; ++x) {
      bool sel = MaskBitDepth == 1 ? (row[x >> 3] & (0x80 >> (x & 7))) != 0 : row[x] != 0;
      if (sel) {
        if (first < 0) first = x;
        last = x;
      }
    }
    if (first >= 0) { GrowBox(first, y); GrowBox(last, y); }
  }
}

bool TIEMask::CheckAllSet() {
  UnsetCount = 0;
  for (int y = 0; y < Height; ++y) UnsetCount += CountUnset(GetRowAddress(y), 0, Width - 1);
  return AllSet();
}

void TIEMask::Translate(int& dx, int& dy, bool clip) {
  if (Rows.empty()) return;
  if (IsEmpty()) RecomputeBoundingBox();
  if (IsEmpty()) return;
  int x1 = BoxX1, y1 = BoxY1, x2 = BoxX2, y2 = BoxY2;
  if (clip) {
    if (int64_t(x1) + dx < 0) x1 = -dx;
    if (int64_t(x2) + dx >= Width) x2 = Width - dx - 1;
    if (int64_t(y1) + dy < 0) y1 = -dy;
    if (int64_t(y2) + dy >= Height) y2 = Height - dy - 1;
  } else {
    dx = IEClamp(dx, -x1, Width - 1 - x2);
    dy = IEClamp(dy, -y1, Height - 1 - y2);
  }
  if (dx == 0 && dy == 0) return;
  if (x2 < x1 || y2 < y1) {  // nothing stays inside
    Clear();
    return;
  }
  std::vector<uint8_t> old(Rows);
  std::fill(Rows.begin(), Rows.end(), 0);
  for (int y = y1; y <= y2; ++y) {
    const uint8_t* s = &old[size_t(RowLength) * (Height - 1 - y)];
    uint8_t* d = GetRowAddress(y + dy);
    if (MaskBitDepth == 1)
      IECopyBits(d, s, x1 + dx, x1, x2 - x1 + 1, RowLength);
    else
      std::memcpy(d + x1 + dx, s + x1, size_t(x2 - x1 + 1));
  }
  BoxX1 = IEClamp(x1 + dx, 0, Width - 1);
  BoxX2 = IEClamp(x2 + dx, 0, Width - 1);
  BoxY1 = IEClamp(y1 + dy, 0, Height - 1);
  BoxY2 = IEClamp(y2 + dy, 0, Height - 1);
  CheckAllSet();
}

namespace {

// The part of the box that both bitmaps can address: [x1, x2] x [y1, y2] in mask coordinates.
struct Span2D { int x1, y1, x2, y2; };

Span2D CopyArea(const TIEMask& m, TIEBitmap* a, bool aOffset, TIEBitmap* b, bool bOffset) {
  Span2D s{std::max(m.BoxX1, 0), std::max(m.BoxY1, 0), std::min(m.BoxX2, m.Width - 1),
           std::min(m.BoxY2, m.Height - 1)};
  for (int i = 0; i < 2; ++i) {
    TIEBitmap* bm = i == 0 ? a : b;
    bool off = i == 0 ? aOffset : bOffset;
    if (!bm) continue;
    int ox = off ? m.BoxX1 : 0, oy = off ? m.BoxY1 : 0;
    s.x2 = std::min<int64_t>(s.x2, int64_t(ox) + bm->GetImageWidth() - 1);
    s.y2 = std::min<int64_t>(s.y2, int64_t(oy) + bm->GetImageHeight() - 1);
    s.x1 = std::max(s.x1, ox);
    s.y1 = std::max(s.y1, oy);
  }
  return s;
}

int SampleBytes(TIEPixelFormat f) { return IEPixelFormatBitCount[f] / 8; }

}  // namespace

void TIEMask::CopyMaskedPixels(TIEBitmap* dest, TIEBitmap* source, bool destOffset, bool sourceOffset,
                               bool withAlpha) {
  if (!dest || !source || Rows.empty() || IsEmpty()) return;
  TIEPixelFormat f = source->GetPixelFormat();
  if (f != dest->GetPixelFormat() || f == ieNoFormat) return;
  Span2D a = CopyArea(*this, dest, destOffset, source, sourceOffset);
  if (a.x2 >= a.x1 && a.y2 >= a.y1) {
    int sox = sourceOffset ? BoxX1 : 0, soy = sourceOffset ? BoxY1 : 0;
    int dox = destOffset ? BoxX1 : 0, doy = destOffset ? BoxY1 : 0;
    int bytes = SampleBytes(f);
    for (int y = a.y1; y <= a.y2; ++y) {
      const uint8_t* m = GetRowAddress(y);
      const uint8_t* s = source->GetRowAddress(y - soy);
      uint8_t* d = dest->GetRowAddress(y - doy);
      for (int x = a.x1; x <= a.x2; ++x) {
        int mv = MaskBitDepth == 1 ? ((m[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0) : m[x];
        if (mv == 0) continue;
        int sx = x - sox, dx = x - dox;
        if (f == ie1g) {
          IESetRowBit(d, dx, IEGetRowBit(s, sx));
          continue;
        }
        uint8_t* dp = d + size_t(dx) * bytes;
        const uint8_t* sp = s + size_t(sx) * bytes;
        if (mv == 255) {
          std::memcpy(dp, sp, size_t(bytes));
          continue;
        }
        // a partly selected pixel: every sample moves toward the source by the mask value
        switch (f) {
          case ie8p:  // palette indices cannot be mixed: the pixel is copied where the mask leans to it
            if (mv >= 128) *dp = *sp;
            break;
          case ie16g:
          case ieRGB48:
            for (int k = 0; k < bytes / 2; ++k) {
              uint16_t dv, sv;
              std::memcpy(&dv, dp + 2 * k, 2);
              std::memcpy(&sv, sp + 2 * k, 2);
              uint16_t r = uint16_t(IEAlphaMixInt(dv, sv, mv));
              std::memcpy(dp + 2 * k, &r, 2);
            }
            break;
          case ie32f: {
            float dv, sv;
            std::memcpy(&dv, dp, 4);
            std::memcpy(&sv, sp, 4);
            float r = dv + (sv - dv) * float(mv) / 255.0f;
            std::memcpy(dp, &r, 4);
            break;
          }
          case ieCIELab:  // L unsigned, a and b signed
            dp[0] = IEAlphaMix(dp[0], sp[0], mv);
            for (int k = 1; k < 3; ++k) dp[k] = uint8_t(IEAlphaMixInt(int8_t(dp[k]), int8_t(sp[k]), mv));
            break;
          default:  // ie8g, ie24RGB, ie32RGB, ieCMYK: bytes
            for (int k = 0; k < bytes; ++k) dp[k] = IEAlphaMix(dp[k], sp[k], mv);
            break;
        }
      }
    }
    dest->IsAll255 = false;
  }
  if (withAlpha) CopyMaskedAlpha(dest, source, sourceOffset, destOffset);
}

void TIEMask::CopyMaskedAlpha(TIEBitmap* dest, TIEBitmap* source, bool sourceOffset, bool destOffset) {
  if (!dest || !source || Rows.empty() || IsEmpty()) return;
  TIEBitmap* da = dest->GetAlphaChannel();
  if (!da) return;
  TIEBitmap* sa = source->AlphaPresent() ? source->GetAlphaChannel() : nullptr;
  Span2D a = CopyArea(*this, dest, destOffset, source, sourceOffset);
  if (a.x2 < a.x1 || a.y2 < a.y1) return;
  int sox = sourceOffset ? BoxX1 : 0, soy = sourceOffset ? BoxY1 : 0;
  int dox = destOffset ? BoxX1 : 0, doy = destOffset ? BoxY1 : 0;
  for (int y = a.y1; y <= a.y2; ++y) {
    const uint8_t* m = GetRowAddress(y);
    const uint8_t* s = sa ? sa->GetRowAddress(y - soy) : nullptr;
    uint8_t* d = da->GetRowAddress(y - doy);
    for (int x = a.x1; x <= a.x2; ++x) {
      int limit = MaskBitDepth == 1 ? ((m[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0) : m[x];
      int sv = s ? s[x - sox] : 255;
      d[x - dox] = uint8_t(limit ? std::min(sv, limit) : 0);
    }
  }
  da->IsAll255 = false;
}

// ---- Drawing ----

TIEMask::Geometry TIEMask::ScalesFor(int dw, int dh, int sw, int sh) {
  Geometry g;
  // at least one sixteen-thousandth of a pixel per step, so that the divisions below stay defined
  g.xScale = std::max<int64_t>(1, int64_t(double(sw) / dw * kFixedOne));
  g.yScale = std::max<int64_t>(1, int64_t(double(sh) / dh * kFixedOne));
  return g;
}

void TIEMask::StretchToBuffer(int dw, int dh, int sx, int sy, int sw, int sh) {
  if (dw != StretchWidth || dh != StretchHeight) {
    StretchBuffer.assign(size_t(dw) * dh, 0);
    StretchWidth = dw;
    StretchHeight = dh;
  } else {
    std::fill(StretchBuffer.begin(), StretchBuffer.end(), 0);
  }
  Geometry g = ScalesFor(dw, dh, sw, sh);
  // only the destination rows and columns that cover the box
  int r0 = int(std::max<int64_t>(0, (int64_t(BoxY1) - sy) * dh / sh));
  int r1 = int(std::min<int64_t>(dh - 1, (int64_t(BoxY2) - sy + 1) * dh / sh));
  int c0 = int(std::max<int64_t>(0, (int64_t(BoxX1) - sx) * dw / sw));
  int c1 = int(std::min<int64_t>(dw - 1, (int64_t(BoxX2) - sx + 1) * dw / sw));
  std::vector<int> cols;
  for (int c = c0; c <= c1; ++c) cols.push_back(int(sx + ((int64_t(c) * g.xScale) >> 14)));
  for (int r = r0; r <= r1; ++r) {
    int64_t y = sy + ((int64_t(r) * g.yScale) >> 14);
    if (y < 0 || y >= Height) continue;
    const uint8_t* row = GetRowAddress(int(y));
    uint8_t* out = &StretchBuffer[size_t(r) * dw];
    for (int c = c0; c <= c1; ++c) {
      int x = cols[size_t(c - c0)];
      if (x < 0 || x >= Width) continue;
      out[c] = MaskBitDepth == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1 : row[x] != 0;
    }
  }
}

void TIEMask::DrawInverted(HDC dc, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh) {
  if (MaskBitDepth != 1 || IsEmpty() || Rows.empty()) return;
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[2];
  } info = {};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = Width;
  info.h.biHeight = Height;
  info.h.biPlanes = 1;
  info.h.biBitCount = 1;
  info.h.biCompression = BI_RGB;
  info.colours[1].rgbRed = info.colours[1].rgbGreen = info.colours[1].rgbBlue = 255;
  // DIB rows count from the bottom
  StretchDIBits(dc, dx, dy, dw, dh, sx, Height - sh - sy, sw, sh, Rows.data(),
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCINVERT);
}

void TIEMask::DrawBorder(HDC dc, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh, int phase,
                         TColor colour1, TColor colour2, RECT* rect) {
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || IsEmpty() || Rows.empty()) return;
  TIERGB c1 = IEColorToRGB(colour1), c2 = IEColorToRGB(colour2);
  StretchToBuffer(dw, dh, sx, sy, sw, sh);
  Geometry g = ScalesFor(dw, dh, sw, sh);
  int r0 = int(std::max<int64_t>(0, ((int64_t(BoxY1) - sy) << 14) / g.yScale));
  int r1 = int(std::min<int64_t>(dh - 1, ((int64_t(BoxY2) - sy + 1) << 14) / g.yScale + 1));
  int k0 = int(std::max<int64_t>(0, ((int64_t(BoxX1) - sx) << 14) / g.xScale));
  int k1 = int(std::min<int64_t>(dw - 1, ((int64_t(BoxX2) - sx + 1) << 14) / g.xScale + 1));
  if (rect) {
    rect->left = dx + k0 + 1;
    rect->top = dy + r0 + 1;
    rect->right = dx + k1 - 1;
    rect->bottom = dy + r1 - 1;
  }
  if (r1 < r0 || k1 < k0) return;
  int bw = k1 - k0 + 1, bh = r1 - r0 + 1;
  // The covered area goes through one 32-bit buffer: read from the device once, the border pixels
  // written into it, and written back once (a blit per pixel costs microseconds each under Wine).
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = bw;
  bi.bmiHeader.biHeight = -bh;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!section) return;
  HDC mem = CreateCompatibleDC(dc);
  if (!mem) {
    DeleteObject(section);
    return;
  }
  HGDIOBJ oldBitmap = SelectObject(mem, section);
  BitBlt(mem, 0, 0, bw, bh, dc, dx + k0, dy + r0, SRCCOPY);
  GdiFlush();
  uint32_t* px = static_cast<uint32_t*>(bits);
  auto mapX = [&](int c) { return int64_t(sx) + ((int64_t(c) * g.xScale) >> 14); };
  auto mapY = [&](int r) { return int64_t(sy) + ((int64_t(r) * g.yScale) >> 14); };
  auto setAt = [&](int c, int r) { return c >= 0 && r >= 0 && c < dw && r < dh && StretchedAt(c, r); };
  for (int r = r0; r <= r1; ++r) {
    for (int c = k0; c <= k1; ++c) {
      if (!StretchedAt(c, r)) continue;
      bool border;
      if (c == 0 && mapX(c) <= BoxX1) border = true;
      else if (c == dw - 1 && (mapX(c) >= BoxX2 || sw == Width)) border = true;
      else if (r == 0 && mapY(r) <= BoxY1) border = true;
      else if (r == dh - 1 && (mapY(r) >= BoxY2 || sh == Height)) border = true;
      else if (c == 0 || c == dw - 1 || r == 0 || r == dh - 1) border = false;
      else
        border = !setAt(c - 1, r - 1) || !setAt(c, r - 1) || !setAt(c + 1, r - 1) || !setAt(c - 1, r) ||
                 !setAt(c + 1, r) || !setAt(c - 1, r + 1) || !setAt(c, r + 1) || !setAt(c + 1, r + 1);
      if (!border) continue;
      int64_t sxp = int64_t(dx) + c, syp = int64_t(dy) + r;
      int64_t stripe = ((sxp + syp + phase) % 8 + 8) % 8;
      TIERGB col = stripe < 4 ? c2 : c1;
      px[size_t(r - r0) * bw + (c - k0)] = uint32_t(col.b) | (uint32_t(col.g) << 8) | (uint32_t(col.r) << 16);
    }
  }
  BitBlt(dc, dx + k0, dy + r0, bw, bh, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldBitmap);
  DeleteDC(mem);
  DeleteObject(section);
}

void TIEMask::DrawOverlay(TIEPlatformBitmap* target, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                          int sh, int opacity, TColor colour) {
  if (!target || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || IsEmpty() || Rows.empty()) return;
  if (target->GetPixelFormat() != iepf24bit) return;
  // A destination starting above or left of the target: the hidden part is cut from both rectangles.
  if (dy < 0) {
    int64_t hidden = -int64_t(dy);
    int64_t srcHidden = IERound(double(hidden) * sh / dh);
    dh -= int(hidden);
    sy += int(srcHidden);
    sh -= int(srcHidden);
    dy = 0;
  }
  if (dx < 0) {
    int64_t hidden = -int64_t(dx);
    int64_t srcHidden = IERound(double(hidden) * sw / dw);
    dw -= int(hidden);
    sx += int(srcHidden);
    sw -= int(srcHidden);
    dx = 0;
  }
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  StretchToBuffer(dw, dh, sx, sy, sw, sh);
  Geometry g = ScalesFor(dw, dh, sw, sh);
  TIERGB col = IEColorToRGB(colour);
  int tw = target->GetWidth(), th = target->GetHeight();
  // every destination pixel that shows a pixel of the mask (not only the box) is covered
  for (int r = 0; r < dh; ++r) {
    int64_t my = sy + ((int64_t(r) * g.yScale) >> 14), ty = int64_t(dy) + r;
    if (my < 0) continue;
    if (my >= Height || ty >= th) break;
    uint8_t* row = target->ScanLine(int(ty));
    for (int c = 0; c < dw; ++c) {
      int64_t mx = sx + ((int64_t(c) * g.xScale) >> 14), tx = int64_t(dx) + c;
      if (mx < 0) continue;
      if (mx >= Width || tx >= tw) break;
      if (StretchedAt(c, r)) continue;
      uint8_t* p = row + tx * 3;  // B, G, R
      if (opacity == -1) {
        if (((r ^ c) & 1) == 0) p[0] = p[1] = p[2] = 97;
      } else {
        p[0] = IEAlphaMix(p[0], col.b, opacity);
        p[1] = IEAlphaMix(p[1], col.g, opacity);
        p[2] = IEAlphaMix(p[2], col.r, opacity);
      }
    }
  }
}
