#include "iestretchblt.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>


namespace {

// The pixels of the 24-bit DIB section selected into a device context, when it is one.
struct DibPixels {
  uint8_t* bits = nullptr;
  int width = 0, height = 0;
  ptrdiff_t stride = 0;  // from one row to the next, top row first (negative for bottom-up DIBs)
  uint8_t* top = nullptr;
  HGDIOBJ object = nullptr;

  bool From(HDC dc) {
    object = GetCurrentObject(dc, OBJ_BITMAP);
    DIBSECTION ds{};
    if (!object || GetObjectW(object, sizeof ds, &ds) != int(sizeof ds)) return false;
    if (ds.dsBm.bmBitsPixel != 24 || !ds.dsBm.bmBits || ds.dsBmih.biCompression != BI_RGB) return false;
    bits = static_cast<uint8_t*>(ds.dsBm.bmBits);
    width = ds.dsBm.bmWidth;
    height = ds.dsBm.bmHeight;
    const ptrdiff_t rowBytes = ptrdiff_t(ds.dsBm.bmWidthBytes);
    if (ds.dsBmih.biHeight > 0) {  // bottom-up
      top = bits + rowBytes * (height - 1);
      stride = -rowBytes;
    } else {
      top = bits;
      stride = rowBytes;
    }
    return width > 0 && height > 0;
  }
  uint8_t* Row(int y) const { return top + stride * y; }
};

// A device context drawing at plain device coordinates, without a clip region of its own.
bool PlainDC(HDC dc) {
  POINT p{};
  if (GetMapMode(dc) != MM_TEXT || !GetWindowOrgEx(dc, &p) || p.x || p.y || !GetViewportOrgEx(dc, &p) || p.x || p.y)
    return false;
  HRGN probe = CreateRectRgn(0, 0, 0, 0);
  const int clip = GetClipRgn(dc, probe);
  DeleteObject(probe);
  return clip == 0;
}

// The source span [first, first + count) behind each destination index of a d-long run taken from
// an s-long one starting at `origin`: whole boxes when shrinking, the pixel under the centre otherwise.
void Spans(int origin, int s, int d, std::vector<int>& first, std::vector<int>& count) {
  first.resize(size_t(d));
  count.resize(size_t(d));
  for (int i = 0; i < d; ++i) {
    if (s >= d) {
      const int a = int(int64_t(i) * s / d), b = int(int64_t(i + 1) * s / d);
      first[size_t(i)] = origin + a;
      count[size_t(i)] = std::max(b - a, 1);
    } else {
      first[size_t(i)] = origin + int((int64_t(2) * i + 1) * s / (int64_t(2) * d));
      count[size_t(i)] = 1;
    }
  }
}

}  // namespace

void IEStretchBltHalftone(HDC dst, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw, int sh) {
  auto platform = [&] {
    SetStretchBltMode(dst, HALFTONE);
    SetBrushOrgEx(dst, 0, 0, nullptr);
    StretchBlt(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, SRCCOPY);
  };
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) {
    platform();
    return;
  }
  DibPixels d, s;
  if (!d.From(dst) || !s.From(src) || !PlainDC(dst) || sx < 0 || sy < 0 || sx + sw > s.width ||
      sy + sh > s.height) {
    platform();
    return;
  }
  GdiFlush();
  // the visible destination columns and rows
  const int x1 = std::max(dx, 0), x2 = std::min<int64_t>(int64_t(dx) + dw, d.width);
  const int y1 = std::max(dy, 0), y2 = std::min<int64_t>(int64_t(dy) + dh, d.height);
  if (x1 >= x2 || y1 >= y2) return;
  std::vector<int> colFirst, colCount, rowFirst, rowCount;
  Spans(sx, sw, dw, colFirst, colCount);
  Spans(sy, sh, dh, rowFirst, rowCount);
  // A picture stretched onto itself (the squeezes) must read its former pixels. Rows that only read
  // rows at or below themselves are drawn from the top, rows that only read rows at or above from the
  // bottom, so no row is overwritten while a later one still needs it; a row that reads itself pixel by
  // pixel reads a copy of it. Other overlaps read a copy of the whole source. (A whole copy of every
  // frame is what made the squeezes slow: fresh pages of that size cost far more than the stretch.)
  bool downwards = true, rowCopy = false;
  std::vector<uint8_t> copy;
  const uint8_t* srcTop = s.top;
  ptrdiff_t srcStride = s.stride;
  const size_t rowBytes = size_t(s.width) * 3;
  if (s.object == d.object) {
    bool fromTop = true, fromBottom = true;
    for (int y = y1; y < y2; ++y) {
      const int r0 = rowFirst[size_t(y - dy)], rn = rowCount[size_t(y - dy)];
      fromTop = fromTop && r0 >= y;
      fromBottom = fromBottom && r0 + rn - 1 <= y;
    }
    if (fromTop || fromBottom) {
      downwards = fromTop;
      rowCopy = true;
      copy.resize(rowBytes);
    } else {
      copy.resize(rowBytes * size_t(s.height));
      for (int y = sy; y < sy + sh; ++y) std::memcpy(&copy[rowBytes * size_t(y)], s.Row(y), rowBytes);
      srcTop = copy.data();
      srcStride = ptrdiff_t(rowBytes);
    }
  }
  const int n = x2 - x1;
  // Means by multiplication: q = (v * inv[area]) >> 40 equals v / area for every v up to 256 areas
  // while the area stays below 65536 (the error term v * area / 2^40 is then below one step).
  const int* cf = colFirst.data() + (x1 - dx);
  const int* cc = colCount.data() + (x1 - dx);
  const int maxCols = *std::max_element(cc, cc + n);
  const int maxRows = *std::max_element(rowCount.begin() + (y1 - dy), rowCount.begin() + (y2 - dy));
  const uint64_t maxArea = uint64_t(maxCols) * uint64_t(maxRows);
  std::vector<uint64_t> inv(maxArea < 65536 ? size_t(maxArea) + 1 : 0);
  for (size_t k = 1; k < inv.size(); ++k) inv[k] = ((uint64_t(1) << 40) + k - 1) / k;
  auto mean = [&](uint32_t sum, uint32_t area) -> uint8_t {
    const uint32_t v = sum + area / 2;
    return uint8_t(area < inv.size() ? (v * inv[area]) >> 40 : v / area);
  };
  // One thread: workers started per frame cost more than they save on a busy machine.
  std::vector<uint32_t> acc(size_t(n) * 3);
  for (int k = 0; k < y2 - y1; ++k) {
    const int y = downwards ? y1 + k : y2 - 1 - k;
    const int r0 = rowFirst[size_t(y - dy)], rn = rowCount[size_t(y - dy)];
    uint8_t* out = d.Row(y) + 3 * ptrdiff_t(x1);
    if (rn == 1) {  // one source row: each pixel straight from its columns
      const uint8_t* row = srcTop + srcStride * r0;
      if (rowCopy && r0 == y) {
        std::memcpy(copy.data(), row, rowBytes);
        row = copy.data();
      }
      for (int i = 0; i < n; ++i, out += 3) {
        const uint8_t* p = row + 3 * ptrdiff_t(cf[i]);
        if (cc[i] == 1) {
          std::memcpy(out, p, 3);
          continue;
        }
        if (cc[i] == 2) {  // the common case of a mild squeeze
          out[0] = uint8_t((p[0] + p[3] + 1) >> 1);
          out[1] = uint8_t((p[1] + p[4] + 1) >> 1);
          out[2] = uint8_t((p[2] + p[5] + 1) >> 1);
          continue;
        }
        uint32_t b = 0, g = 0, r = 0;
        for (int k = 0; k < cc[i]; ++k, p += 3) {
          b += p[0];
          g += p[1];
          r += p[2];
        }
        const uint32_t area = uint32_t(cc[i]);
        out[0] = mean(b, area);
        out[1] = mean(g, area);
        out[2] = mean(r, area);
      }
      continue;
    }
    std::fill(acc.begin(), acc.end(), 0u);
    for (int r = r0; r < r0 + rn; ++r) {
      const uint8_t* row = srcTop + srcStride * r;
      uint32_t* a = acc.data();
      for (int i = 0; i < n; ++i, a += 3) {
        const uint8_t* p = row + 3 * ptrdiff_t(cf[i]);
        for (int k = 0; k < cc[i]; ++k, p += 3) {
          a[0] += p[0];
          a[1] += p[1];
          a[2] += p[2];
        }
      }
    }
    const uint32_t* a = acc.data();
    for (int i = 0; i < n; ++i, a += 3, out += 3) {
      const uint32_t area = uint32_t(rn) * uint32_t(cc[i]);
      out[0] = mean(a[0], area);
      out[1] = mean(a[1], area);
      out[2] = mean(a[2], area);
    }
  }
}
