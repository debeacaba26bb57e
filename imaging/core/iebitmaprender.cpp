// Rendering into 24-bit rows: geometry and tables, the per-format row fetch, adjustments, blend
// operation and alpha; the scaled copy with alpha; DrawDib through the platform module.
//
// Every source row is first turned into 24-bit colours for the visible columns (one loop per pixel
// format), then adjusted, combined with the destination by the blend operation, and written or mixed
// by alpha. 1:1 opaque ie24RGB without adjustments is a plain row copy.
#include "iebitmaprender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "iebitmap.h"
#include "iebitmapservices.h"
#include "ieutils.h"

namespace {

constexpr int64_t kFixedOne = 16384;  // 14-bit fixed point of the scale factors

// Contrast c as a 16.16 factor: c < 0 gives 1 - sqrt(-c) / 10, else c / 10 + 1.
int64_t ContrastFactor(int c) {
  double k = c < 0 ? 1 - std::sqrt(double(-c)) / 10 : double(c) / 10 + 1;
  return int64_t(k * 65536);
}

// The display adjustments of a source bitmap, precomputed once per call.
struct Shading {
  bool adjust = false;  // brightness offsets and contrast (AdjustEnabled or Contrast)
  int64_t k = 65536;    // contrast factor, 16.16
  double kReal = 1;
  int offR = 0, offG = 0, offB = 0;
  bool range = false;  // grey input range
  double low = 0, high = 0;
  int tLow = 0, tHigh = 0;

  explicit Shading(TIEBitmap* b) {
    adjust = b->AdjustEnabled || b->Contrast != 0;
    if (b->AdjustEnabled) {
      offR = b->BrightnessOffsets[0];
      offG = b->BrightnessOffsets[1];
      offB = b->BrightnessOffsets[2];
    }
    k = ContrastFactor(b->Contrast);
    kReal = double(k) / 65536;
    low = b->InputRangeLow;
    high = b->InputRangeHigh;
    range = high - low != 0;
    tLow = int(low);
    tHigh = int(high);
  }
  uint8_t Contrast8(int v, int off) const {
    return uint8_t(IEClampToByte(int((int64_t(v) + off - 128) * k / 65536 + 128)));
  }
  uint8_t Contrast16(int v, int off) const {
    double t = (double(v) + double(off) * 256 - 32768) * kReal + 32768;
    return uint8_t(IEClampToByte(int(int64_t(t) >> 8)));
  }
  // A grey sample limited to the range and stretched to 0..255.
  uint8_t RangeOf(double v, double lo, double hi) const {
    v = std::min(std::max(v, lo), hi);
    return uint8_t(IEClampToByte(int((v - low) / (high - low) * 255)));
  }
  uint8_t RangeChannel(uint8_t v) const {
    int c = std::min(std::max(int(v), tLow), tHigh);
    return uint8_t(IEClampToByte(int((c - tLow) / (high - low) * 255)));
  }
};

// Row r of the source as colours at the columns of the x table.
void FetchRow(TIEBitmap* src, const uint8_t* row, const int* xt, int n, const Shading& sh, TIERGB* out) {
  switch (src->GetPixelFormat()) {
    case ie24RGB:
      for (int i = 0; i < n; ++i) std::memcpy(&out[i], row + size_t(xt[i]) * 3, 3);
      break;
    case ie32RGB:
      for (int i = 0; i < n; ++i) std::memcpy(&out[i], row + size_t(xt[i]) * 4, 3);
      break;
    case ie1g:
      for (int i = 0; i < n; ++i) {
        uint8_t v = (row[xt[i] >> 3] & (0x80 >> (xt[i] & 7))) ? 255 : 0;
        out[i] = IEMakeRGB(v, v, v);
      }
      break;
    case ie8g:
      for (int i = 0; i < n; ++i) {
        uint8_t v = row[xt[i]];
        if (sh.range) v = sh.RangeOf(v, sh.tLow, sh.tHigh);
        out[i] = IEMakeRGB(v, v, v);
      }
      break;
    case ie16g:
      for (int i = 0; i < n; ++i) {
        uint16_t s;
        std::memcpy(&s, row + size_t(xt[i]) * 2, 2);
        uint8_t v = sh.range ? sh.RangeOf(s, sh.tLow, sh.tHigh) : uint8_t(s >> 8);
        out[i] = IEMakeRGB(v, v, v);
      }
      break;
    case ie32f:
      for (int i = 0; i < n; ++i) {
        float s;
        std::memcpy(&s, row + size_t(xt[i]) * 4, 4);
        // samples outside 0..1 are shown as black or white, not wrapped
        uint8_t v = sh.range ? sh.RangeOf(s, sh.low, sh.high)
                             : uint8_t(s > 0 ? (s < 1 ? int(double(s) * 255) : 255) : 0);
        out[i] = IEMakeRGB(v, v, v);
      }
      break;
    case ieRGB48:
      for (int i = 0; i < n; ++i) {
        uint16_t s[3];
        std::memcpy(s, row + size_t(xt[i]) * 6, 6);
        if (sh.adjust)
          out[i] = IEMakeRGB(sh.Contrast16(s[0], sh.offR), sh.Contrast16(s[1], sh.offG), sh.Contrast16(s[2], sh.offB));
        else
          out[i] = IEMakeRGB(uint8_t(s[0] >> 8), uint8_t(s[1] >> 8), uint8_t(s[2] >> 8));
      }
      break;
    default:  // ie8p, ieCMYK, ieCIELab
      for (int i = 0; i < n; ++i) out[i] = IEDecodePixelRGB(src, row, xt[i]);
      break;
  }
}

// The bitmap's alpha channel when it is to be read: present, not all 255, and covering the image (a
// channel of another size would be read past its rows).
TIEBitmap* AlphaToRead(TIEBitmap* b) {
  if (!b->AlphaPresent()) return nullptr;
  TIEBitmap* a = b->GetAlphaChannel();
  if (a->IsAll255 || a->GetPixelFormat() != ie8g || a->GetImageWidth() < b->GetImageWidth() ||
      a->GetImageHeight() < b->GetImageHeight())
    return nullptr;
  return a;
}

bool IsGrey(TIEPixelFormat f) { return f == ie8g || f == ie16g || f == ie32f; }

void RenderRows(TIEBitmap* src, TIERenderTables& t, int c0, int c1, int r0, int r1, int dx, int dy,
                int sx, int sy, bool reuseRows, int transparency, bool alphaInUse, TIEBlendOperation op) {
  TIEPixelFormat f = src->GetPixelFormat();
  Shading sh(src);
  bool colourAdjust = sh.adjust && (f == ie24RGB || f == ie32RGB);
  bool channelRange = sh.range && !IsGrey(f);
  bool opaque = transparency >= 255 && !alphaInUse;
  int n = c1 - c0 + 1;
  // 1:1 opaque 24-bit without adjustments: one copy per row
  if (f == ie24RGB && t.XTable.empty() && !colourAdjust && !sh.range && op == ieboNormal && opaque) {
    for (int r = r0; r <= r1; ++r)
      std::memcpy(t.Rows[size_t(r)] + size_t(c0) * 3, src->GetRowAddress(r + sy - dy) + size_t(c0 + sx - dx) * 3,
                  size_t(n) * 3);
    return;
  }
  TIEBitmap* alpha = alphaInUse ? src->GetAlphaChannel() : nullptr;
  TIEScopedRowAccess alphaReadOnly(alpha, iraRead);
  // Rows with an earlier row's source are copies of it only where nothing depends on the destination.
  bool reuse = reuseRows && opaque && op == ieboNormal;
  std::vector<TIERGB> line(static_cast<size_t>(n));
  const int* xt = t.XTable.data();
  int prevSource = -1;
  for (int r = r0; r <= r1; ++r) {
    int srow = t.YTable[size_t(r - r0)];
    uint8_t* d = t.Rows[size_t(r)] + size_t(c0) * 3;
    if (reuse && srow == prevSource && r > r0) {
      std::memcpy(d, t.Rows[size_t(r - 1)] + size_t(c0) * 3, size_t(n) * 3);
      continue;
    }
    prevSource = srow;
    if (f == ie8p && !src->GetPalette()) continue;  // nothing to show without a palette
    FetchRow(src, src->GetRowAddress(srow), xt, n, sh, line.data());
    if (colourAdjust || channelRange) {
      for (TIERGB& c : line) {
        if (colourAdjust) {
          c.r = sh.Contrast8(c.r, sh.offR);
          c.g = sh.Contrast8(c.g, sh.offG);
          c.b = sh.Contrast8(c.b, sh.offB);
        }
        if (channelRange) {
          c.r = sh.RangeChannel(c.r);
          c.g = sh.RangeChannel(c.g);
          c.b = sh.RangeChannel(c.b);
        }
      }
    }
    if (op != ieboNormal) {
      for (int i = 0; i < n; ++i) {
        TIERGB dp;
        std::memcpy(&dp, d + size_t(i) * 3, 3);
        IEBlendPixel(line[size_t(i)], dp, op, r);
        line[size_t(i)] = dp;
      }
    }
    if (opaque) {
      std::memcpy(d, line.data(), size_t(n) * 3);
      continue;
    }
    const uint8_t* arow = alpha ? alpha->GetRowAddress(srow) : nullptr;
    for (int i = 0; i < n; ++i) {
      int m = arow ? std::min(transparency, int(arow[xt[i]])) : transparency;
      uint8_t* p = d + size_t(i) * 3;
      p[0] = IEAlphaMix(p[0], line[size_t(i)].b, m);
      p[1] = IEAlphaMix(p[1], line[size_t(i)].g, m);
      p[2] = IEAlphaMix(p[2], line[size_t(i)].r, m);
    }
  }
}

// The source rectangle (sx, sy, sw, sh) scaled by the filter to dw x dh, with its alpha channel when
// withAlpha and it is in use: an ie1g source shrinking without alpha (and not projected) becomes grey
// levels, projections stay ie1g, other ie1g and ie24RGB sources ie24RGB (other formats as the
// resampler gives them). nullptr when no resampler is installed or memory fails; the caller then
// draws unfiltered.
TIEBitmap* ScaledCopy(TIEBitmap* source, int sx, int sy, int sw, int sh, int dw, int dh, bool withAlpha,
                      TResampleFilter filter) {
  const TIEResampleServices& r = IEResampleServices;
  if (!r.ResampleBW || !r.ResampleRGB24 || !r.ResampleGray8 || !r.ShrinkBWToGray) return nullptr;
  const TIEPixelFormat f = source->GetPixelFormat();
  TIEBitmap* alpha = withAlpha ? AlphaToRead(source) : nullptr;
  const bool project = filter == rfProjectBW || filter == rfProjectWB;
  std::unique_ptr<TIEBitmap> out(new TIEBitmap());
  if (f == ie1g && !alpha && !project && sw >= dw) {
    if (!out->Allocate(dw, dh, ie24RGB)) return nullptr;
    TIEScopedRowAccess readOnly(source, iraRead);
    r.ShrinkBWToGray(source, sx, sy, sx + sw - 1, sy + sh - 1, out.get());
  } else {
    TIEBitmap part;
    if (!part.Allocate(sw, sh, f)) return nullptr;
    if (f == ie8p) source->CopyPaletteTo(&part);
    source->CopyRectTo(&part, sx, sy, 0, 0, sw, sh);
    if (!out->Allocate(dw, dh, f == ie1g && project ? ie1g : ie24RGB)) return nullptr;
    if (f == ie1g) r.ResampleBW(&part, out.get(), filter);
    else r.ResampleRGB24(&part, out.get(), filter);
    out->DiscardAlphaChannel(false);
    if (alpha) {
      TIEBitmap partAlpha;
      if (!partAlpha.Allocate(sw, sh, ie8g)) return nullptr;
      alpha->CopyRectTo(&partAlpha, sx, sy, 0, 0, sw, sh);
      TIEBitmap* outAlpha = out->GetAlphaChannel();
      r.ResampleGray8(&partAlpha, outAlpha, filter);
      outAlpha->IsAll255 = false;
    }
  }
  out->BrightnessOffsets[0] = source->BrightnessOffsets[0];
  out->BrightnessOffsets[1] = source->BrightnessOffsets[1];
  out->BrightnessOffsets[2] = source->BrightnessOffsets[2];
  out->BrightnessOffsets[3] = source->BrightnessOffsets[3];
  out->AdjustEnabled = source->AdjustEnabled;
  out->Contrast = source->Contrast;
  return out.release();
}

// The filtered render: the source rectangle scaled to the destination size, then drawn 1:1 with the
// same operation, transparency, row reuse and clip. False when no scaled copy could be made.
bool RenderFiltered(TIEBitmap* source, TIEBitmap* dest, const RECT* clip, int dx, int dy, int dw, int dh, int sx,
                    int sy, int sw, int sh, bool useAlpha, bool reuseRows, int transparency, TIEBlendOperation op,
                    TResampleFilter filter) {
  std::unique_ptr<TIEBitmap> scaled(ScaledCopy(source, sx, sy, sw, sh, dw, dh, useAlpha, filter));
  if (!scaled) return false;
  IERenderZoomedInto(scaled.get(), dest, nullptr, clip, dx, dy, dw, dh, 0, 0, dw, dh, useAlpha, reuseRows,
                     transparency, op, rfNone);
  return true;
}

}  // namespace

void IERenderZoomedInto(TIEBitmap* source, TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, int dx, int dy,
                        int dw, int dh, int sx, int sy, int sw, int sh, bool useAlpha, bool reuseRows,
                        int transparency, TIEBlendOperation op, TResampleFilter filter) {
  if (!source || !dest || dest->GetPixelFormat() != ie24RGB || source->GetPixelFormat() == ieNoFormat) return;
  // the row table needs row addresses that stay valid: a destination in a temporary file has none
  if (dest->GetLocation() == ieTempFile || source == dest) return;
  TIEScopedRowAccess readOnly(source, iraRead);
  int destW = dest->GetImageWidth(), destH = dest->GetImageHeight();
  int srcW = source->GetImageWidth(), srcH = source->GetImageHeight();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || dx > destW - 1 || dy > destH - 1) return;
  transparency = IEClamp(transparency, 0, 255);
  double yr = double(sh) / dh, xr = double(sw) / dw;
  // clipping against the destination: the hidden part is removed from both rectangles
  if (dy < 0) {
    int k = IERound(-double(dy) * yr);
    sy += k; sh -= k; dh += dy; dy = 0;
  }
  if (dx < 0) {
    int k = IERound(-double(dx) * xr);
    sx += k; sw -= k; dw += dx; dx = 0;
  }
  if (int64_t(dy) + dh > destH) {
    int e = int(int64_t(dy) + dh - destH);
    dh -= e; sh -= int(e * yr);
  }
  if (int64_t(dx) + dw > destW) {
    int e = int(int64_t(dx) + dw - destW);
    dw -= e; sw -= int(e * xr);
  }
  dx = IEClamp(dx, 0, destW - 1); dy = IEClamp(dy, 0, destH - 1);
  dw = IEClamp(dw, 0, destW); dh = IEClamp(dh, 0, destH);
  sx = IEClamp(sx, 0, srcW - 1); sy = IEClamp(sy, 0, srcH - 1);
  sw = IEClamp(sw, 0, srcW); sh = IEClamp(sh, 0, srcH);
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return;
  if (filter != rfNone && (sw != dw || sh != dh) &&
      (source->GetPixelFormat() == ie1g || source->GetPixelFormat() == ie24RGB)) {
    if (RenderFiltered(source, dest, clip, dx, dy, dw, dh, sx, sy, sw, sh, useAlpha, reuseRows, transparency, op,
                       filter))
      return;
  }

  TIERenderTables own;
  TIERenderTables& t = tables ? *tables : own;
  try {
    if (t.Rows.empty()) {
      t.Rows.resize(size_t(destH));
      for (int r = 0; r < destH; ++r) t.Rows[size_t(r)] = dest->GetRowAddress(r);
    }
    int64_t yScale = int64_t(double(sh) / dh * kFixedOne), xScale = int64_t(double(sw) / dw * kFixedOne);
    int c0 = std::max(dx, 0), c1 = int(std::min<int64_t>(int64_t(dx) + dw - 1, destW - 1));
    int r0 = std::max(dy, 0), r1 = int(std::min<int64_t>(int64_t(dy) + dh - 1, destH - 1));
    if (clip) {
      c0 = std::max<int>(c0, clip->left); c1 = std::min<int>(c1, clip->right);
      r0 = std::max<int>(r0, clip->top); r1 = std::min<int>(r1, clip->bottom);
    }
    if (c1 < c0 || r1 < r0) return;
    bool alphaInUse = useAlpha && AlphaToRead(source);
    TIEPixelFormat f = source->GetPixelFormat();
    bool plainCopy = f == ie24RGB && xScale == kFixedOne && yScale == kFixedOne && transparency == 255 &&
                     !alphaInUse && !source->AdjustEnabled && source->Contrast == 0 && op == ieboNormal &&
                     source->InputRangeLow == 0 && source->InputRangeHigh == 0;
    if (plainCopy && t.XTable.empty()) {
      // a source rectangle reaching past the source's right or bottom edge shows only what exists
      c1 = int(std::min<int64_t>(c1, int64_t(srcW) - 1 - sx + dx));
      r1 = int(std::min<int64_t>(r1, int64_t(srcH) - 1 - sy + dy));
      if (c1 < c0 || r1 < r0) return;
    }
    if (!plainCopy || !t.XTable.empty()) {
      if (t.XTable.empty()) {
        for (int c = c0; c <= c1; ++c) t.XTable.push_back(IEClamp(int((c - dx) * xr + sx), 0, srcW - 1));
        for (int r = r0; r <= r1; ++r) t.YTable.push_back(IEClamp(int((r - dy) * yr + sy), 0, srcH - 1));
      }
      // tables of another call: only as far as they reach and point inside the source
      c1 = std::min<int>(c1, c0 + int(t.XTable.size()) - 1);
      r1 = std::min<int>(r1, r0 + int(t.YTable.size()) - 1);
      while (c1 >= c0 && t.XTable[size_t(c1 - c0)] >= srcW) --c1;
      while (r1 >= r0 && t.YTable[size_t(r1 - r0)] >= srcH) --r1;
      if (c1 < c0 || r1 < r0) return;
    }
    RenderRows(source, t, c0, c1, r0, r1, dx, dy, sx, sy, reuseRows, transparency, alphaInUse, op);
  } catch (...) {
    // a failure while drawing ends the render quietly: the destination may be partly drawn
  }
}

void IERenderInto(TIEBitmap* source, TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                  int transparency, TIEBlendOperation op, TResampleFilter filter) {
  IERenderZoomedInto(source, dest, nullptr, nullptr, dx, dy, dw, dh, sx, sy, sw, sh, true, false, transparency, op,
                     filter);
}

void IERenderZoomedIntoPlatformBitmap(TIEBitmap* source, TIEPlatformBitmap* dest, TIERenderTables* tables,
                                      const RECT* clip, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                                      int sh, bool useAlpha, bool reuseRows, int transparency, TIEBlendOperation op,
                                      TResampleFilter filter) {
  if (!dest) return;
  TIEBitmap wrapper;
  wrapper.AttachTBitmap(dest, false);
  IERenderZoomedInto(source, &wrapper, tables, clip, dx, dy, dw, dh, sx, sy, sw, sh, useAlpha, reuseRows,
                     transparency, op, filter);
}

void IEResampleRectInto(TIEBitmap* source, TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                        int sh, int opacity, TResampleFilter filter) {
  if (!source || !dest || dest->GetPixelFormat() != ie24RGB || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  // a source without pixels (its storage freed, say) draws nothing
  if (source->IsEmpty() || dest->IsEmpty() || source->GetPixelFormat() == ieNoFormat) return;
  if (filter != rfNone && (sw != dw || sh != dh)) {
    std::unique_ptr<TIEBitmap> scaled(ScaledCopy(source, sx, sy, sw, sh, dw, dh, true, filter));
    if (scaled) {
      IEResampleRectInto(scaled.get(), dest, dx, dy, dw, dh, 0, 0, dw, dh, opacity, rfNone);
      return;
    }
  }
  TIEScopedRowAccess readOnly(source, iraRead);
  try {
    int64_t yScale = int64_t(double(sh) / dh * kFixedOne), xScale = int64_t(double(sw) / dw * kFixedOne);
    int destW = dest->GetImageWidth(), destH = dest->GetImageHeight();
    int srcW = source->GetImageWidth(), srcH = source->GetImageHeight();
    int c0 = std::max(dx, 0), c1 = int(std::min<int64_t>(int64_t(dx) + dw - 1, destW - 1));
    int r0 = std::max(dy, 0), r1 = int(std::min<int64_t>(int64_t(dy) + dh - 1, destH - 1));
    if (c1 < c0 || r1 < r0) return;
    std::vector<int> xt, yt;
    for (int c = c0; c <= c1; ++c) xt.push_back(IEClamp(int(sx + ((int64_t(c - dx) * xScale) >> 14)), 0, srcW - 1));
    for (int r = r0; r <= r1; ++r) yt.push_back(IEClamp(int(sy + ((int64_t(r - dy) * yScale) >> 14)), 0, srcH - 1));
    opacity = IEClamp(opacity, 0, 255);
    TIEBitmap* da = dest->GetAlphaChannel();
    if (TIEBitmap* sa = AlphaToRead(source)) {
      TIEScopedRowAccess alphaReadOnly(sa, iraRead);
      for (int r = r0; r <= r1; ++r) {
        const uint8_t* s = sa->GetRowAddress(yt[size_t(r - r0)]);
        uint8_t* d = da->GetRowAddress(r);
        for (int c = c0; c <= c1; ++c) d[c] = uint8_t(std::min(int(s[xt[size_t(c - c0)]]), opacity));
      }
      da->IsAll255 = false;
    } else {
      da->FillRect(c0, r0, c1, r1, opacity);
    }
    Shading none(source);
    none.adjust = none.range = false;  // a copy shows the pixels as they are
    std::vector<TIERGB> line(size_t(c1 - c0 + 1));
    for (int r = r0; r <= r1; ++r) {
      FetchRow(source, source->GetRowAddress(yt[size_t(r - r0)]), xt.data(), int(line.size()), none, line.data());
      std::memcpy(dest->GetRowAddress(r) + size_t(c0) * 3, line.data(), line.size() * 3);
    }
    dest->IsAll255 = false;
  } catch (...) {
    // as rendering: a failure ends the copy quietly
  }
}

void TIEBitmap::RenderZoomedInto(TIEBitmap* dest, TIERenderTables* tables, const RECT* clip, int dx, int dy, int dw,
                                 int dh, int sx, int sy, int sw, int sh, bool useAlpha, bool reuseRows,
                                 int transparency, TResampleFilter filter, TIEBlendOperation op) {
  IERenderZoomedInto(this, dest, tables, clip, dx, dy, dw, dh, sx, sy, sw, sh, useAlpha, reuseRows, transparency, op,
                     filter);
}

void TIEBitmap::RenderInto(TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                           int transparency, TResampleFilter filter, TIEBlendOperation op) {
  IERenderInto(this, dest, dx, dy, dw, dh, sx, sy, sw, sh, transparency, op, filter);
}

void TIEBitmap::RenderZoomedIntoPlatformBitmap(TIEPlatformBitmap* dest, TIERenderTables* tables, const RECT* clip,
                                               int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                                               bool useAlpha, bool reuseRows, int transparency,
                                               TResampleFilter filter, TIEBlendOperation op) {
  IERenderZoomedIntoPlatformBitmap(this, dest, tables, clip, dx, dy, dw, dh, sx, sy, sw, sh, useAlpha, reuseRows,
                                   transparency, op, filter);
}

void TIEBitmap::RenderIntoPlatformBitmap(TIEPlatformBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy,
                                         int sw, int sh, int transparency, TResampleFilter filter,
                                         TIEBlendOperation op) {
  IERenderZoomedIntoPlatformBitmap(this, dest, nullptr, nullptr, dx, dy, dw, dh, sx, sy, sw, sh, true, false,
                                   transparency, op, filter);
}

void TIEBitmap::ResampleRectInto(TIEBitmap* dest, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh,
                                 TResampleFilter filter, int opacity) {
  IEResampleRectInto(this, dest, dx, dy, dw, dh, sx, sy, sw, sh, opacity, filter);
}

// ---- DrawDib ----

namespace {

struct DrawDibEntries {
  HMODULE module = nullptr;
  HANDLE(WINAPI* open)() = nullptr;
  BOOL(WINAPI* close)(HANDLE) = nullptr;
  BOOL(WINAPI* draw)(HANDLE, HDC, int, int, int, int, BITMAPINFOHEADER*, void*, int, int, int, int, UINT) = nullptr;
  UINT(WINAPI* realize)(HANDLE, HDC, BOOL) = nullptr;
};

// Loaded once and kept for the process (the module stays loaded as the platform's own import would).
const DrawDibEntries& Entries() {
  static const DrawDibEntries e = [] {
    DrawDibEntries r;
    r.module = LoadLibraryA("msvfw32.dll");
    if (r.module) {
      r.open = reinterpret_cast<decltype(r.open)>(reinterpret_cast<void*>(GetProcAddress(r.module, "DrawDibOpen")));
      r.close = reinterpret_cast<decltype(r.close)>(reinterpret_cast<void*>(GetProcAddress(r.module, "DrawDibClose")));
      r.draw = reinterpret_cast<decltype(r.draw)>(reinterpret_cast<void*>(GetProcAddress(r.module, "DrawDibDraw")));
      r.realize =
          reinterpret_cast<decltype(r.realize)>(reinterpret_cast<void*>(GetProcAddress(r.module, "DrawDibRealize")));
    }
    return r;
  }();
  return e;
}

}  // namespace

HANDLE IEDrawDibOpen() { return Entries().open ? Entries().open() : nullptr; }

BOOL IEDrawDibClose(HANDLE hdd) { return Entries().close ? Entries().close(hdd) : FALSE; }

BOOL IEDrawDibDraw(HANDLE hdd, HDC dc, int xDst, int yDst, int dxDst, int dyDst, BITMAPINFOHEADER* header, void* bits,
                   int xSrc, int ySrc, int dxSrc, int dySrc, UINT flags) {
  if (Entries().draw && Entries().draw(hdd, dc, xDst, yDst, dxDst, dyDst, header, bits, xSrc, ySrc, dxSrc, dySrc, flags))
    return TRUE;
  if (!header || !bits) return FALSE;
  // DrawDib's -1 extents mean the source size
  int w = header->biWidth, h = std::abs(header->biHeight);
  if (dxSrc < 0) dxSrc = w;
  if (dySrc < 0) dySrc = h;
  if (dxDst < 0) dxDst = dxSrc;
  if (dyDst < 0) dyDst = dySrc;
  // StretchDIBits counts source rows from the bottom of a bottom-up DIB
  int srcY = header->biHeight > 0 ? h - dySrc - ySrc : ySrc;
  int old = SetStretchBltMode(dc, COLORONCOLOR);
  int lines = StretchDIBits(dc, xDst, yDst, dxDst, dyDst, xSrc, srcY, dxSrc, dySrc, bits,
                            reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS, SRCCOPY);
  SetStretchBltMode(dc, old);
  return lines > 0;
}

UINT IEDrawDibRealize(HANDLE hdd, HDC dc, BOOL background) {
  return Entries().realize ? Entries().realize(hdd, dc, background) : 0;
}
