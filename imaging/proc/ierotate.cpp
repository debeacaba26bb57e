// Every rotation works on a packed copy of the pixels (rows without padding) rather than on the
// bitmap's rows: a bitmap in a temporary file shows one row view at a time, while a rotation reads
// the source in any order. The result is written back row by row.
#include "ierotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "iebitmap.h"
#include "iebands.h"
#include "vodevovur.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlendOne = 4096;  // shear blending weights are in units of 1/4096
constexpr int kFrame = 3;        // border of background around the antialiased source (bicubic reach + 1)

// Leaves new elements uninitialised (for buffers every byte of which is written before it is read).
template <class T>
struct TUninitAlloc : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TUninitAlloc<U>;
  };
  TUninitAlloc() = default;
  template <class U>
  TUninitAlloc(const TUninitAlloc<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};

// A packed copy of a bitmap's pixels.
struct Raster {
  int w = 0, h = 0;
  TIEPixelFormat fmt = ieNoFormat;
  int pb = 0;  // bytes per pixel; 0 for ie1g
  size_t stride = 0;
  std::vector<uint8_t, TUninitAlloc<uint8_t>> px;

  // zero: every byte starts at 0; otherwise the caller writes every byte before reading any.
  bool Init(int width, int height, TIEPixelFormat f, bool zero = true) {
    w = width;
    h = height;
    fmt = f;
    pb = IEPixelFormatBitCount[f] / 8;
    const uint64_t rowBytes = pb ? uint64_t(w) * pb : (uint64_t(w) + 7) / 8;
    // a turned canvas can outgrow a 32-bit address space even when the source fits
    if (w < 1 || h < 1 || rowBytes * uint64_t(h) > uint64_t(SIZE_MAX)) return false;
    stride = size_t(rowBytes);
    try {
      if (zero) px.assign(stride * size_t(h), 0);
      else px.resize(stride * size_t(h));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  uint8_t* Row(int y) { return px.data() + size_t(y) * stride; }
  const uint8_t* Row(int y) const { return px.data() + size_t(y) * stride; }
  bool Bit(int x, int y) const { return (Row(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }
  void SetBit(int x, int y, bool on) {
    uint8_t& b = Row(y)[x >> 3];
    if (on) b |= uint8_t(0x80 >> (x & 7)); else b &= uint8_t(~(0x80 >> (x & 7)));
  }
  // Copies pixel (sx, sy) of `s` to (x, y) of this raster (same format).
  void CopyPixel(int x, int y, const Raster& s, int sx, int sy) {
    if (pb) std::memcpy(Row(y) + size_t(x) * pb, s.Row(sy) + size_t(sx) * pb, pb);
    else SetBit(x, y, s.Bit(sx, sy));
  }
  void FillWith(const uint8_t* pixel) {
    if (!pb) {
      std::memset(px.data(), pixel[0] ? 0xFF : 0, px.size());
      return;
    }
    for (int y = 0; y < h; ++y) {
      uint8_t* r = Row(y);
      for (int x = 0; x < w; ++x) std::memcpy(r + size_t(x) * pb, pixel, pb);
    }
  }
};

bool Load(TIEBitmap* b, Raster& r) {
  if (!b || b->IsEmpty()) return false;
  if (!r.Init(b->GetImageWidth(), b->GetImageHeight(), b->GetPixelFormat())) return false;
  TIEScopedRowAccess keep(b, iraRead);
  for (int y = 0; y < r.h; ++y) std::memcpy(r.Row(y), b->GetRowAddress(y), r.stride);
  return true;
}

void WriteRows(const Raster& r, TIEBitmap* b) {
  TIEScopedRowAccess keep(b, iraRead | iraWrite);
  for (int y = 0; y < r.h; ++y) std::memcpy(b->GetRowAddress(y), r.Row(y), r.stride);
  b->IsAll255 = false;
}

// `dest` becomes the raster, with `paletteFrom`'s palette (it may be dest itself).
bool StoreTo(const Raster& r, TIEBitmap* dest, TIEBitmap* paletteFrom) {
  std::vector<TIERGB> pal;
  if (paletteFrom && paletteFrom->GetPalette())
    pal.assign(paletteFrom->GetPalette(), paletteFrom->GetPalette() + paletteFrom->GetPaletteCount());
  if (!dest->Allocate(r.w, r.h, r.fmt)) return false;
  for (size_t i = 0; i < pal.size(); ++i) dest->SetPaletteEntry(int(i), pal[i]);
  WriteRows(r, dest);
  return true;
}

// The bitmap's pixels become the raster; its alpha channel and palette stay.
bool StoreInPlace(const Raster& r, TIEBitmap* b) {
  TIEBitmap* alpha = b->DetachAlphaChannel();
  bool ok = StoreTo(r, b, b);
  if (alpha) delete b->AttachAlphaChannel(alpha);
  return ok;
}

// quarter: 1 counter-clockwise, 2 half a turn, 3 clockwise.
bool Turn(const Raster& s, int quarter, Raster& d) {
  const bool swap = quarter != 2;
  if (!d.Init(swap ? s.h : s.w, swap ? s.w : s.h, s.fmt)) return false;
  for (int j = 0; j < d.h; ++j) {
    for (int i = 0; i < d.w; ++i) {
      int sx, sy;
      switch (quarter) {
        case 1: sx = s.w - 1 - j; sy = i; break;          // the right column becomes the top row
        case 3: sx = j; sy = s.h - 1 - i; break;          // the bottom row becomes the left column
        default: sx = s.w - 1 - i; sy = s.h - 1 - j; break;
      }
      d.CopyPixel(i, j, s, sx, sy);
    }
  }
  return true;
}

void FlipRaster(Raster& r, TIEFlipAxis axis) {
  if (axis == faVertical) {
    std::vector<uint8_t> tmp(r.stride);
    for (int y = 0; y < r.h / 2; ++y) {
      std::memcpy(tmp.data(), r.Row(y), r.stride);
      std::memcpy(r.Row(y), r.Row(r.h - 1 - y), r.stride);
      std::memcpy(r.Row(r.h - 1 - y), tmp.data(), r.stride);
    }
    return;
  }
  Raster src = r;
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) r.CopyPixel(x, y, src, r.w - 1 - x, y);
}

// Quarter turns of a right angle (0 for none), the angle taken modulo 360 with the sign kept.
int QuarterTurns(double angle) {
  int q = int(std::fmod(angle, 360.0)) / 90;  // -3..3
  return (q + 4) % 4;
}

void Progress(const TIEProgressEvent& p, void* sender, int per) {
  if (p) p(sender, per);
}

int RoundEven(double v) { return int(std::nearbyint(v)); }

// Nearest-pixel inverse mapping of `s` into `d` (already sized and filled with the background).
// Destination pixel (i, j) takes source pixel R(a) x ((i, j) - centre') + centre, which turns the
// image counter-clockwise on a y-down screen.
void MapNearest(const Raster& s, Raster& d, double a, void* sender, const TIEProgressEvent& progress) {
  const double ca = std::cos(a), sa = std::sin(a);
  const double cx = (s.w - 1) / 2.0, cy = (s.h - 1) / 2.0, cx2 = (d.w - 1) / 2.0, cy2 = (d.h - 1) / 2.0;
  for (int j = 0; j < d.h; ++j) {
    const double v = j - cy2;
    for (int i = 0; i < d.w; ++i) {
      const double u = i - cx2;
      const int sx = int(std::floor(u * ca - v * sa + cx + 0.5));
      const int sy = int(std::floor(u * sa + v * ca + cy + 0.5));
      if (sx >= 0 && sy >= 0 && sx < s.w && sy < s.h) d.CopyPixel(i, j, s, sx, sy);
    }
    Progress(progress, sender, int(int64_t(j) * 100 / d.h));
  }
}

// Rotates `s` by nearest mapping into a canvas of the grown size; `truncSize` takes the sizes of the
// 1- and 8-bit routines (truncated rather than rounded).
bool RotateNearestRaster(const Raster& s, const uint8_t* bg, double angle, bool truncSize, void* sender,
                         const TIEProgressEvent& progress, Raster& d) {
  if (!std::isfinite(angle)) return false;
  if (IEIsRightAngle(angle)) {
    int q = QuarterTurns(angle);
    if (q == 0) {
      d = s;
      return true;
    }
    return Turn(s, q, d);
  }
  const double a = angle * kPi / 180.0;
  const double w2 = std::fabs(std::cos(a) * s.w) + std::fabs(std::sin(a) * s.h);
  const double h2 = std::fabs(std::sin(a) * s.w) + std::fabs(std::cos(a) * s.h);
  const int nw = std::max(1, truncSize ? int(w2) : RoundEven(w2));
  const int nh = std::max(1, truncSize ? int(h2) : RoundEven(h2));
  if (!d.Init(nw, nh, s.fmt)) return false;
  d.FillWith(bg);
  MapNearest(s, d, a, sender, progress);
  return true;
}

// ---- three shears ----

// Writes `count` pixels (pb bytes each, `sstep` bytes apart) into a line of `dcount` pixels
// (`dstep` apart) moved by `offset` and the fraction f / 4096: each target pixel is f parts of the
// previous source pixel and 4096 - f parts of its own, so the line moves by exactly offset + f / 4096.
void ShearLine(const uint8_t* s, ptrdiff_t sstep, int count, uint8_t* d, ptrdiff_t dstep, int dcount, int offset,
               int f, const uint8_t* bg, int pb, bool blend) {
  for (int i = 0; i < dcount; ++i) std::memcpy(d + i * dstep, bg, pb);
  blend = blend && f > 0;
  const int g = kBlendOne - f;
  auto mix = [&](uint8_t* t, const uint8_t* carried, const uint8_t* cur) {
    for (int c = 0; c < pb; ++c) t[c] = uint8_t((carried[c] * f + cur[c] * g + kBlendOne / 2) >> 12);
  };
  const int k0 = std::max(0, -offset), k1 = std::min(count, dcount - offset);  // source range landing inside
  for (int k = k0; k < k1; ++k) {
    uint8_t* t = d + ptrdiff_t(k + offset) * dstep;
    const uint8_t* cur = s + k * sstep;
    if (blend) mix(t, k > 0 ? cur - sstep : bg, cur);
    else std::memcpy(t, cur, pb);
  }
  const int tail = offset + count;
  if (blend && count > 0 && tail >= 0 && tail < dcount) mix(d + ptrdiff_t(tail) * dstep, s + (count - 1) * sstep, bg);
}

// ShearLine on a run of columns at once (the vertical pass): the columns `first`..`first + count - 1`
// of `s` (sh rows) into the same columns of `d` (dh rows), column x moved down by offsets[x] and
// fractions[x] / 4096. The same pixels as a ShearLine per column, but walked row by row so that
// neighbouring columns share the cache lines of each row instead of striding down the image.
void ShearColumns(const uint8_t* s, size_t sstride, int sh, uint8_t* d, size_t dstride, int dh, int first,
                  int count, const int* offsets, const int* fractions, const uint8_t* bg, int pb, bool blend) {
  for (int i = 0; i < dh; ++i) {
    uint8_t* row = d + i * dstride + size_t(first) * pb;
    for (int c = 0; c < count; ++c) std::memcpy(row + size_t(c) * pb, bg, pb);
  }
  for (int k = 0; k < sh; ++k) {
    const uint8_t* src = s + k * sstride;
    for (int c = 0; c < count; ++c) {
      const int x = first + c, at = k + offsets[x];
      if (at < 0 || at >= dh) continue;
      const uint8_t* cur = src + size_t(x) * pb;
      uint8_t* t = d + at * dstride + size_t(x) * pb;
      const int f = fractions[x];
      if (blend && f > 0) {
        const uint8_t* carried = k > 0 ? cur - sstride : bg;
        const int g = kBlendOne - f;
        for (int b = 0; b < pb; ++b) t[b] = uint8_t((carried[b] * f + cur[b] * g + kBlendOne / 2) >> 12);
      } else {
        std::memcpy(t, cur, pb);
      }
    }
  }
  if (sh <= 0) return;
  const uint8_t* last = s + (sh - 1) * sstride;
  for (int c = 0; c < count; ++c) {
    const int x = first + c, tail = offsets[x] + sh, f = fractions[x];
    if (!blend || f <= 0 || tail < 0 || tail >= dh) continue;
    const uint8_t* carried = last + size_t(x) * pb;
    uint8_t* t = d + tail * dstride + size_t(x) * pb;
    for (int b = 0; b < pb; ++b) t[b] = uint8_t((carried[b] * f + bg[b] * (kBlendOne - f) + kBlendOne / 2) >> 12);
  }
}

// Splits a shift into its floor and the fraction in 1/4096 (0 <= f < 4096).
void SplitShift(double F, int& n, int& f) {
  double fl = std::floor(F);
  n = int(fl);
  f = int(std::lround((F - fl) * kBlendOne));
  if (f >= kBlendOne) {
    ++n;
    f = 0;
  }
}

// The three-shear rotation of a raster of 1- or 3-byte pixels; `blend` is off for palette indices.
bool ShearRaster(Raster& img, bool blend, const uint8_t* bg, double angle, void* sender,
                 const TIEProgressEvent& progress) {
  // thousandths of a degree, so that an angle within 0.0005 of a right angle is one
  if (!std::isfinite(angle)) return false;
  const int t = int(std::fmod(std::trunc(angle * 1000.0), 360000.0));
  double c = t / 1000.0;
  int quarter = 0;
  while (c > 45) { quarter += 1; c -= 90; }
  while (c < -45) { quarter += 3; c += 90; }
  quarter %= 4;
  if (quarter) {
    Raster turned;
    if (!Turn(img, quarter, turned)) return false;
    img = std::move(turned);
  }
  if (c == 0) return true;
  const double phi = c * kPi / 180.0;
  const double T = std::fabs(std::tan(phi / 2)), S = std::fabs(std::sin(phi));
  const int W0 = img.w, H0 = img.h, pb = img.pb;
  const int W1 = RoundEven(H0 * T + W0 + 1);
  const int dy = RoundEven((W1 - W0) * S);
  int H2 = RoundEven(W1 * S + H0 + 1);
  const int dx = RoundEven((H2 - H0 - dy) * T);
  H2 = RoundEven(H2 - 2.0 * dy);
  const int W3 = RoundEven(H2 * T + W1 + 1 - 2.0 * dx);
  const double factor = 100.0 / (H0 + W1 + H2);
  Raster p1, p2, p3;
  if (!p1.Init(W1, H0, img.fmt, false)) return false;
  IEForBands(H0, [&](int first, int count) {
    for (int r = first; r < first + count; ++r) {
      int n, f;
      SplitShift((phi > 0 ? r : H0 - r) * T, n, f);
      ShearLine(img.Row(r), pb, W0, p1.Row(r), pb, W1, n, f, bg, pb, blend);
    }
  });
  Progress(progress, sender, int(H0 * factor));
  img.px.clear();
  img.px.shrink_to_fit();
  if (!p2.Init(W1, H2, img.fmt, false)) return false;
  std::vector<int> offsets(static_cast<size_t>(W1)), fractions(static_cast<size_t>(W1));
  for (int x = 0; x < W1; ++x) {
    int m, f;
    SplitShift((phi > 0 ? W1 - x : x) * S, m, f);
    offsets[size_t(x)] = m - dy;
    fractions[size_t(x)] = f;
  }
  IEForBands(W1, [&](int first, int count) {
    constexpr int kColumnRun = 32;  // columns walked together: a few cache lines of every row
    for (int x = first; x < first + count; x += kColumnRun)
      ShearColumns(p1.Row(0), p1.stride, H0, p2.Row(0), p2.stride, H2, x, std::min(kColumnRun, first + count - x),
                   offsets.data(), fractions.data(), bg, pb, blend);
  });
  Progress(progress, sender, int((H0 + W1) * factor));
  p1.px.clear();
  p1.px.shrink_to_fit();
  if (!p3.Init(W3, H2, img.fmt, false)) return false;
  IEForBands(H2, [&](int first, int count) {
    for (int y = first; y < first + count; ++y) {
      int m, f;
      SplitShift((phi > 0 ? y : H2 - y) * T, m, f);
      ShearLine(p2.Row(y), pb, W1, p3.Row(y), pb, W3, m - dx, f, bg, pb, blend);
    }
  });
  Progress(progress, sender, 100);
  img = std::move(p3);
  return true;
}

// ---- antialiased mapping ----

// Cubic convolution weights (a = -1) of the four samples around a fraction f.
void CubicWeights(double f, double w[4]) {
  const double f2 = f * f, f3 = f2 * f;
  w[0] = -f * (1 - f) * (1 - f);
  w[1] = 1 - 2 * f2 + f3;
  w[2] = f + f2 - f3;
  w[3] = f3 - f2;
}

// Antialiased rotation of a raster of pb one-byte channels; quality 1 or 2.
bool AntialiasRaster(Raster& img, const uint8_t* bg, int quality, double angle, void* sender,
                     const TIEProgressEvent& progress) {
  const int pb = img.pb;
  if (!std::isfinite(angle)) return false;
  // A frame of background around the image lets samples reach outside it and blend its edge with the
  // background; the frame is not built: coordinates below are in the framed image, and every sample
  // outside the image proper reads the background.
  const int fw = img.w + 2 * kFrame, fh = img.h + 2 * kFrame;
  const double a = angle * kPi / 180.0, ca = std::cos(a), sa = std::sin(a);
  // at least one pixel is left once the frame is taken off again
  const int nw = std::max(2 * kFrame + 1, RoundEven(std::fabs(sa * (fh - 1)) + std::fabs(ca * (fw - 1))));
  const int nh = std::max(2 * kFrame + 1, RoundEven(std::fabs(ca * (fh - 1)) + std::fabs(sa * (fw - 1))));
  Raster d;
  if (!d.Init(nw - 2 * kFrame, nh - 2 * kFrame, img.fmt)) return false;
  const double cx = (fw - 1) / 2.0, cy = (fh - 1) / 2.0, cx2 = (nw - 1) / 2.0, cy2 = (nh - 1) / 2.0;
  const Raster& src = img;
  auto pixel = [&](int x, int y) -> const uint8_t* {
    x -= kFrame;
    y -= kFrame;
    return (x < 0 || y < 0 || x >= src.w || y >= src.h) ? bg : src.Row(y) + size_t(x) * pb;
  };
  const ptrdiff_t sstride = ptrdiff_t(src.stride);
  IEForBands(d.h, [&](int firstRow, int rowCount) {
    for (int j = firstRow; j < firstRow + rowCount; ++j) {
      const double v = j + kFrame - cy2;
      uint8_t* out = d.Row(j);
      for (int i = 0; i < d.w; ++i, out += pb) {
        const double u = i + kFrame - cx2;
        const double sx = u * ca - v * sa + cx, sy = u * sa + v * ca + cy;
        const double flx = std::floor(sx), fly = std::floor(sy);
        const int x0 = int(flx), y0 = int(fly);
        const double fx = sx - flx, fy = sy - fly;
        if (quality == 1) {
          const uint8_t *p00 = pixel(x0, y0), *p10 = pixel(x0 + 1, y0), *p01 = pixel(x0, y0 + 1),
                        *p11 = pixel(x0 + 1, y0 + 1);
          for (int c = 0; c < pb; ++c) {
            const double top = p00[c] + (p10[c] - p00[c]) * fx, bottom = p01[c] + (p11[c] - p01[c]) * fx;
            out[c] = uint8_t(std::clamp(std::floor(top + (bottom - top) * fy + 0.5), 0.0, 255.0));
          }
          continue;
        }
        double wx[4], wy[4];
        CubicWeights(fx, wx);
        CubicWeights(fy, wy);
        double sum[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        const int ix = x0 - kFrame, iy = y0 - kFrame;
        if (ix >= 1 && iy >= 1 && ix + 2 < src.w && iy + 2 < src.h) {
          // all sixteen samples inside the image: straight from its rows, the sums of each row first
          const uint8_t* row = src.Row(iy - 1) + size_t(ix - 1) * pb;
          for (int m = 0; m < 4; ++m, row += sstride) {
            if (pb == 3) {
              double r0 = 0, r1 = 0, r2 = 0;
              for (int n = 0; n < 4; ++n) {
                r0 += row[3 * n] * wx[n];
                r1 += row[3 * n + 1] * wx[n];
                r2 += row[3 * n + 2] * wx[n];
              }
              sum[0] += r0 * wy[m];
              sum[1] += r1 * wy[m];
              sum[2] += r2 * wy[m];
            } else {
              for (int n = 0; n < 4; ++n)
                for (int c = 0; c < pb; ++c) sum[c] += row[n * pb + c] * (wx[n] * wy[m]);
            }
          }
        } else {
          for (int m = 0; m < 4; ++m)
            for (int n = 0; n < 4; ++n) {
              const uint8_t* p = pixel(x0 - 1 + n, y0 - 1 + m);
              const double wgt = wx[n] * wy[m];
              for (int c = 0; c < pb; ++c) sum[c] += p[c] * wgt;
            }
        }
        // the kernel overshoots at hard edges: clamping (not mirroring) keeps black black and white white
        for (int c = 0; c < pb; ++c) out[c] = uint8_t(std::clamp(std::floor(sum[c] + 0.5), 0.0, 255.0));
      }
    }
  });
  Progress(progress, sender, 100);
  img = std::move(d);
  return true;
}

}  // namespace

bool IEIsRightAngle(double angle) {
  if (angle != std::trunc(angle) || std::fabs(angle) > 2e9) return false;
  return int64_t(angle) % 90 == 0;
}

static void TurnBitmap(TIEBitmap* source, TIEBitmap* dest, int quarter) {
  Raster s, d;
  if (!source || !dest || !Load(source, s) || !Turn(s, quarter, d)) return;
  StoreTo(d, dest, source);
}

void IETurnCCW(TIEBitmap* source, TIEBitmap* dest) { TurnBitmap(source, dest, 1); }
void IETurnCW(TIEBitmap* source, TIEBitmap* dest) { TurnBitmap(source, dest, 3); }
void IETurn180(TIEBitmap* source, TIEBitmap* dest) { TurnBitmap(source, dest, 2); }

void IEFlip(TIEBitmap* bitmap, TIEFlipAxis axis) {
  Raster r;
  if (!Load(bitmap, r)) return;
  FlipRaster(r, axis);
  WriteRows(r, bitmap);
  if (bitmap->AlphaPresent()) IEFlip(bitmap->GetAlphaChannel(), axis);
}

void IEBackgroundPixel(TIEBitmap* bitmap, TColor color, uint8_t out[8]) {
  std::memset(out, 0, 8);
  const TIERGB c = IEColorToRGB(color);
  const int grey = IERGBToGray(c);
  switch (bitmap->GetPixelFormat()) {
    case ie1g: out[0] = (c.r && c.g && c.b) ? 0xFF : 0; break;
    case ie8g: out[0] = uint8_t(grey); break;
    case ie8p: {
      int best = 0, bestD = INT32_MAX;
      for (int i = 0; i < bitmap->GetPaletteCount(); ++i) {
        TIERGB p = bitmap->GetPaletteEntry(i);
        int d = (p.r - c.r) * (p.r - c.r) + (p.g - c.g) * (p.g - c.g) + (p.b - c.b) * (p.b - c.b);
        if (d < bestD) { bestD = d; best = i; }
      }
      out[0] = uint8_t(best);
      break;
    }
    case ie16g: { uint16_t v = uint16_t(grey * 257); std::memcpy(out, &v, 2); break; }
    case ie32f: { float v = grey / 255.0f; std::memcpy(out, &v, 4); break; }
    case ie24RGB: out[0] = c.b; out[1] = c.g; out[2] = c.r; break;
    case ie32RGB: out[0] = c.b; out[1] = c.g; out[2] = c.r; out[3] = 255; break;
    case ieCMYK: {
      // stored inverted: 255 = no ink
      const int k = std::min({255 - c.r, 255 - c.g, 255 - c.b});
      const int den = 255 - k;
      auto ink = [&](int v) { return den ? (255 - v - k) * 255 / den : 0; };
      out[0] = uint8_t(255 - ink(c.r)); out[1] = uint8_t(255 - ink(c.g)); out[2] = uint8_t(255 - ink(c.b));
      out[3] = uint8_t(255 - k);
      break;
    }
    case ieRGB48: {
      uint16_t v[3] = {uint16_t(c.r * 257), uint16_t(c.g * 257), uint16_t(c.b * 257)};
      std::memcpy(out, v, 6);
      break;
    }
    case ieCIELab: out[0] = uint8_t(grey); break;  // a neutral of the background's lightness
    default: break;
  }
}

void IERotateNearest(TIEBitmap* source, TIEBitmap* dest, const uint8_t* background, void* Sender,
                     const TIEProgressEvent& progress, double angle) {
  Raster s, d;
  if (!source || !dest || !Load(source, s)) return;
  if (RotateNearestRaster(s, background, angle, false, Sender, progress, d)) StoreTo(d, dest, source);
}

bool IERotateNearestInPlace(TIEBitmap* bitmap, const uint8_t* background, void* Sender,
                            const TIEProgressEvent& progress, double angle) {
  Raster s, d;
  return Load(bitmap, s) && RotateNearestRaster(s, background, angle, false, Sender, progress, d) &&
         StoreInPlace(d, bitmap);
}

bool IERotate1Bit(TIEBitmap* bitmap, bool whiteBackground, const TIEProgressEvent& progress, double angle) {
  Raster s, d;
  if (!bitmap || bitmap->GetPixelFormat() != ie1g || !Load(bitmap, s)) return false;
  const uint8_t bg[8] = {uint8_t(whiteBackground ? 0xFF : 0)};
  if (!RotateNearestRaster(s, bg, angle, true, nullptr, progress, d)) return false;
  return StoreInPlace(d, bitmap);
}

bool IERotate8Bit(TIEBitmap* bitmap, uint8_t background, double angle) {
  Raster s, d;
  if (!bitmap || (bitmap->GetPixelFormat() != ie8g && bitmap->GetPixelFormat() != ie8p) || !Load(bitmap, s))
    return false;
  const uint8_t bg[8] = {background};
  if (!RotateNearestRaster(s, bg, angle, true, nullptr, nullptr, d)) return false;
  return StoreInPlace(d, bitmap);
}

bool IERotateShear(TIEBitmap* bitmap, bool antialias, void* Sender, const TIEProgressEvent& progress,
                   TIERGB background, double angle) {
  if (!bitmap || bitmap->IsEmpty()) return false;
  if (bitmap->GetPixelFormat() == ie1g)
    return IERotate1Bit(bitmap, background.r && background.g && background.b, progress, angle);
  if (bitmap->GetPixelFormat() != ie24RGB) return false;
  Raster r;
  if (!Load(bitmap, r)) return false;
  const uint8_t bg[8] = {background.b, background.g, background.r};
  if (!ShearRaster(r, antialias, bg, angle, Sender, progress)) return false;
  return StoreInPlace(r, bitmap);
}

bool IERotateShear8(TIEBitmap* bitmap, bool antialias, uint8_t background, void* Sender,
                    const TIEProgressEvent& progress, double angle) {
  if (!bitmap) return false;
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  Raster r;
  if ((f != ie8g && f != ie8p) || !Load(bitmap, r)) return false;
  const uint8_t bg[8] = {background};
  if (!ShearRaster(r, antialias && f == ie8g, bg, angle, Sender, progress)) return false;
  return StoreInPlace(r, bitmap);
}

bool IERotateAntialias(TIEBitmap* bitmap, TIERGB background, int quality, void* Sender,
                       const TIEProgressEvent& progress, double angle) {
  Raster r;
  if (!bitmap || bitmap->GetPixelFormat() != ie24RGB || quality < 1 || quality > 2 || !Load(bitmap, r))
    return false;
  const uint8_t bg[8] = {background.b, background.g, background.r};
  if (!AntialiasRaster(r, bg, quality, angle, Sender, progress)) return false;
  return StoreInPlace(r, bitmap);
}

bool IERotateAntialias8(TIEBitmap* bitmap, uint8_t background, int quality, double angle) {
  Raster r;
  if (!bitmap || bitmap->GetPixelFormat() != ie8g || quality < 1 || quality > 2 || !Load(bitmap, r)) return false;
  const uint8_t bg[8] = {background};
  if (!AntialiasRaster(r, bg, quality, angle, nullptr, nullptr)) return false;
  return StoreInPlace(r, bitmap);
}

bool IERotateBitmap(TIEBitmap* bitmap, bool antialias, int quality, TColor background, double angle,
                    void* Sender, const TIEProgressEvent& progress) {
  if (!bitmap || bitmap->IsEmpty() || quality < 0 || quality > 2 || !std::isfinite(angle)) return false;
  if (angle == 0) return true;
  uint8_t bg[8];
  IEBackgroundPixel(bitmap, background, bg);
  const uint8_t clear[8] = {0};  // the area the turned image leaves uncovered is transparent
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  std::unique_ptr<TIEBitmap> alpha(bitmap->DetachAlphaChannel());
  // the image first: when it cannot be turned, the alpha channel goes back as it was
  bool ok;
  if (!antialias || (f != ie24RGB && f != ie1g)) {
    ok = IERotateNearestInPlace(bitmap, bg, Sender, progress, angle);
    if (ok && alpha) IERotateNearestInPlace(alpha.get(), clear, nullptr, nullptr, angle);
  } else if (quality != 0 && !IEIsRightAngle(angle) && f == ie24RGB) {
    ok = IERotateAntialias(bitmap, TIERGB{bg[0], bg[1], bg[2]}, quality, Sender, progress, angle);
    if (ok && alpha) IERotateAntialias8(alpha.get(), 0, quality, angle);
  } else {
    ok = IERotateShear(bitmap, antialias, Sender, progress, IEColorToRGB(background), angle);
    if (ok && alpha) {
      if (f == ie1g) IERotate8Bit(alpha.get(), 0, angle);
      else IERotateShear8(alpha.get(), antialias, 0, nullptr, nullptr, angle);
    }
  }
  if (alpha) {
    // the alpha channel follows the image's new size even where the two methods round it differently
    if (alpha->GetImageWidth() != bitmap->GetImageWidth() || alpha->GetImageHeight() != bitmap->GetImageHeight())
      alpha->ResizeCanvas(bitmap->GetImageWidth(), bitmap->GetImageHeight(), 0, -1, 1, 1);
    delete bitmap->AttachAlphaChannel(alpha.release());
  }
  return ok;
}
