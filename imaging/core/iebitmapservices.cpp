#include "iebitmapservices.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "ieutils.h"

TIEConversionServices IEConversionServices = {IEDefaultCMYKToRGB, IEDefaultRGBToCMYK,
                                              IEDefaultThresholdTo1Bit, IEDefaultQuantizeToPalette,
                                              IEDefaultCMYKRowToRGB};

TIEResampleServices IEResampleServices = {nullptr, nullptr, nullptr, nullptr};

void IEDefaultCMYKRowToRGB(const uint8_t* src, TIERGB* dst, int n) {
  for (int x = 0; x < n; ++x) {
    uint32_t packed;
    std::memcpy(&packed, src + 4 * x, 4);
    IEConversionServices.CMYKToRGB(packed, dst[x]);
  }
}

void IEDefaultCMYKToRGB(uint32_t c, TIERGB& rgb) {
  uint32_t C = c & 255, M = (c >> 8) & 255, Y = (c >> 16) & 255, K = c >> 24;
  rgb.r = uint8_t(C * K / 255);
  rgb.g = uint8_t(M * K / 255);
  rgb.b = uint8_t(Y * K / 255);
}

uint32_t IEDefaultRGBToCMYK(uint32_t v) {
  uint32_t R = (v >> 16) & 255, G = (v >> 8) & 255, B = v & 255;
  uint32_t K = R > G ? R : G;
  if (B > K) K = B;
  if (K == 0) K = 1;
  return (R * 255 / K) | ((G * 255 / K) << 8) | ((B * 255 / K) << 16) | (K << 24);
}

namespace {

// Channels of one pixel of a row copy for the threshold's mean colour: 48-bit samples scaled by
// 255 / 65535, everything else as the pixel's colour.
void MeanSample(TIEBitmap* b, const uint8_t* row, int x, int& r, int& g, int& bl) {
  if (b->GetPixelFormat() == ieRGB48) {
    TIERGB48 p;
    std::memcpy(&p, row + 6 * x, 6);
    r = int(p.r * 255u / 65535u);
    g = int(p.g * 255u / 65535u);
    bl = int(p.b * 255u / 65535u);
    return;
  }
  TIERGB c = IEDecodePixelRGB(b, row, x);
  r = c.r;
  g = c.g;
  bl = c.b;
}

}  // namespace

void IEDefaultThresholdTo1Bit(TIEBitmap* src, TIEBitmap* dst, int threshold) {
  int w = src->GetImageWidth(), h = src->GetImageHeight();
  if (dst->GetPixelFormat() != ie1g || dst->GetImageWidth() != w || dst->GetImageHeight() != h) return;
  if (src->GetPixelFormat() == ie1g) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = src->GetRowAddress(y);
      std::memcpy(dst->GetRowAddress(y), row, size_t(std::min(dst->GetRowLength(), src->GetRowLength())));
    }
    return;
  }
  const bool rgb = src->GetPixelFormat() == ie24RGB;
  if (threshold == -1) {
    int64_t sr = 0, sg = 0, sb = 0;
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = src->GetRowAddress(y);
      int64_t rr = 0, rg = 0, rb = 0;
      for (int x = 0; rgb && x < w; ++x) {
        rb += row[3 * x];
        rg += row[3 * x + 1];
        rr += row[3 * x + 2];
      }
      for (int x = 0; !rgb && x < w; ++x) {
        int r, g, b;
        MeanSample(src, row, x, r, g, b);
        rr += r;
        rg += g;
        rb += b;
      }
      sr += rr / w;
      sg += rg / w;
      sb += rb / w;
    }
    threshold = IERGBToGray(IEMakeRGB(uint8_t(sr / h), uint8_t(sg / h), uint8_t(sb / h)));
  }
  std::vector<uint8_t> out(size_t(dst->GetRowLength()));
  for (int y = 0; y < h; ++y) {
    std::memset(out.data(), 0, out.size());
    const uint8_t* row = src->GetRowAddress(y);
    if (rgb) {
      const int wr = IEGrayWeightRed, wg = IEGrayWeightGreen, wb = IEGrayWeightBlue;
      for (int x = 0; x < w; ++x, row += 3)
        if ((row[2] * wr + row[1] * wg + row[0] * wb) / 100 >= threshold) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    } else {
      for (int x = 0; x < w; ++x)
        if (IERGBToGray(IEDecodePixelRGB(src, row, x)) >= threshold) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    std::memcpy(dst->GetRowAddress(y), out.data(), out.size());
  }
}

void IEDefaultQuantizeToPalette(TIEBitmap* src, TIEBitmap* dst, int colours) {
  int w = src->GetImageWidth(), h = src->GetImageHeight();
  if (colours < 1 || colours > 256) colours = 256;
  std::vector<TIERGB> pal;
  // first pass: the image's first `colours` distinct colours
  for (int y = 0; y < h && int(pal.size()) < colours; ++y) {
    const TIERGB* row = reinterpret_cast<const TIERGB*>(src->GetRowAddress(y));
    for (int x = 0; x < w && int(pal.size()) < colours; ++x) {
      bool known = false;
      for (const TIERGB& p : pal) known = known || IESameRGB(p, row[x]);
      if (!known) pal.push_back(row[x]);
    }
  }
  for (int i = 0; i < 256; ++i) dst->SetPaletteEntry(i, i < int(pal.size()) ? pal[i] : TIERGB{0, 0, 0});
  std::vector<uint8_t> out(size_t(dst->GetRowLength()), 0);
  for (int y = 0; y < h; ++y) {
    const TIERGB* row = reinterpret_cast<const TIERGB*>(src->GetRowAddress(y));
    for (int x = 0; x < w; ++x) {
      int best = 0, bestD = 1000;
      for (int i = 0; i < int(pal.size()) && bestD > 0; ++i) {
        int d = std::abs(pal[i].r - row[x].r) + std::abs(pal[i].g - row[x].g) + std::abs(pal[i].b - row[x].b);
        if (d < bestD) { bestD = d; best = i; }
      }
      out[x] = uint8_t(best);
    }
    std::memcpy(dst->GetRowAddress(y), out.data(), out.size());
  }
}
