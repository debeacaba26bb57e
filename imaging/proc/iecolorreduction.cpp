#include "iecolorreduction.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "iebitmapservices.h"
#include "iequantizer.h"

namespace {

// Colours above 1024 leave the image as it is.
constexpr int kMaxConvertColors = 1024;
// Maximum-entropy scores at or below this count as 0: a picture of two grey levels scores 0 at
// every threshold up to rounding noise of about 1e-16.
constexpr double kEntropyEpsilon = 1e-9;

// The 8 x 8 Bayer index matrix, indexed [x mod 8][y mod 8].
constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

inline int Grey(int r, int g, int b) { return (r * IEGrayWeightRed + g * IEGrayWeightGreen + b * IEGrayWeightBlue) / 100; }
inline int Grey(TIERGB c) { return Grey(c.r, c.g, c.b); }

void Report(const TIEReductionProgress& p, int rowsDone, int height) {
  if (p.OnProgress) p.OnProgress(p.Sender, int(rowsDone * 100 / (height + 0.5)));
}

bool HandlesFormat(TIEPixelFormat f) {
  return f == ie1g || f == ie8p || f == ie8g || f == ie16g || f == ie24RGB || f == ie32f || f == ieCMYK ||
         f == ieRGB48 || f == ieCIELab || f == ie32RGB;
}

int MaxEntropyThreshold(const int counts[256], double total) {
  double p[256], h = 0;
  for (int i = 0; i < 256; ++i) {
    p[i] = counts[i] / total;
    if (p[i] > 0) h -= p[i] * std::log(p[i]);
  }
  double best = kEntropyEpsilon, sumP = 0, hb = 0;
  int threshold = -1;
  for (int t = 1; t < 256; ++t) {
    sumP += p[t - 1];
    if (p[t - 1] > 0) hb -= p[t - 1] * std::log(p[t - 1]);
    if (sumP <= 0 || sumP >= 1) continue;
    double score = std::log(sumP - sumP * sumP) + hb / sumP + (h - hb) / (1 - sumP);
    if (score > best) {
      best = score;
      threshold = t;
    }
  }
  return threshold;
}

}  // namespace

void IEGrayHistogram(TIEBitmap* bitmap, int counts[256]) {
  std::memset(counts, 0, 256 * sizeof(int));
  if (!bitmap || bitmap->IsEmpty()) return;
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  if (!HandlesFormat(f)) return;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  TIEScopedRowAccess guard(bitmap, iraRead);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = bitmap->GetRowAddress(y);
    if (f == ie24RGB) {
      for (int x = 0; x < w; ++x, row += 3) ++counts[Grey(row[2], row[1], row[0])];
    } else if (f == ie1g) {
      for (int x = 0; x < w; ++x) ++counts[(row[x >> 3] >> (7 - (x & 7))) & 1];
    } else {
      for (int x = 0; x < w; ++x) ++counts[Grey(IEDecodePixelRGB(bitmap, row, x))];
    }
  }
}

void IEMeanColor(TIEBitmap* bitmap, int& red, int& green, int& blue) {
  red = green = blue = 0;
  if (!bitmap || bitmap->IsEmpty()) return;
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  if (!HandlesFormat(f)) return;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  TIEScopedRowAccess guard(bitmap, iraRead);
  int64_t sr = 0, sg = 0, sb = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = bitmap->GetRowAddress(y);
    int64_t rr = 0, rg = 0, rb = 0;
    for (int x = 0; x < w; ++x) {
      if (f == ieRGB48) {
        TIERGB48 p;
        std::memcpy(&p, row + 6 * x, 6);
        rr += p.r * 255 / 65535;
        rg += p.g * 255 / 65535;
        rb += p.b * 255 / 65535;
      } else {
        TIERGB c = IEDecodePixelRGB(bitmap, row, x);
        rr += c.r;
        rg += c.g;
        rb += c.b;
      }
    }
    sr += rr / w;
    sg += rg / w;
    sb += rb / w;
  }
  red = int(sr / h);
  green = int(sg / h);
  blue = int(sb / h);
}

int IEResolveThreshold(TIEBitmap* source, int threshold) {
  if (threshold != kIEThresholdMean && threshold != kIEThresholdMaxEntropy) return threshold;
  int counts[256];
  IEGrayHistogram(source, counts);
  int levels = 0, level = 0;
  for (int i = 0; i < 256; ++i)
    if (counts[i]) {
      ++levels;
      level = i;
    }
  // One grey level: "below the threshold" against its own mean would turn a black page white.
  if (levels == 1) return level < 128 ? level + 1 : level;
  if (threshold == kIEThresholdMaxEntropy) {
    double total = double(source->GetImageWidth()) * source->GetImageHeight();
    int t = MaxEntropyThreshold(counts, total);
    if (t >= 0) return t;
  }
  int r, g, b;
  IEMeanColor(source, r, g, b);
  return Grey(r, g, b);
}

void IEThresholdTo1Bit(TIEBitmap* source, TIEBitmap* dest, int threshold, const TIEReductionProgress& progress) {
  if (!source || !dest || source->IsEmpty()) return;
  const int w = source->GetImageWidth(), h = source->GetImageHeight();
  if (dest->GetPixelFormat() != ie1g || dest->GetImageWidth() != w || dest->GetImageHeight() != h) return;
  const TIEPixelFormat f = source->GetPixelFormat();
  if (!HandlesFormat(f)) return;
  const size_t outBytes = size_t(w + 7) / 8;
  if (f == ie1g) {
    TIEScopedRowAccess sg(source, iraRead), dg(dest, iraRead | iraWrite);
    std::vector<uint8_t> row(outBytes);
    for (int y = 0; y < h; ++y) {
      std::memcpy(row.data(), source->GetRowAddress(y), outBytes);
      std::memcpy(dest->GetRowAddress(y), row.data(), outBytes);
      Report(progress, y + 1, h);
    }
    return;
  }
  threshold = IEResolveThreshold(source, threshold);
  TIEScopedRowAccess sg(source, iraRead), dg(dest, iraRead | iraWrite);
  std::vector<uint8_t> out(outBytes);
  for (int y = 0; y < h; ++y) {
    std::memset(out.data(), 0, out.size());
    const uint8_t* row = source->GetRowAddress(y);
    if (f == ie24RGB) {
      for (int x = 0; x < w; ++x, row += 3)
        if (Grey(row[2], row[1], row[0]) >= threshold) out[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
    } else {
      for (int x = 0; x < w; ++x)
        if (Grey(IEDecodePixelRGB(source, row, x)) >= threshold) out[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    std::memcpy(dest->GetRowAddress(y), out.data(), out.size());
    Report(progress, y + 1, h);
  }
}

void IEThresholdTo1BitInPlace(TIEBitmap* bitmap, int threshold, const TIEReductionProgress& progress) {
  if (!bitmap || bitmap->IsEmpty() || bitmap->GetPixelFormat() != ie24RGB) return;
  TIEBitmap bw;
  if (!bw.Allocate(bitmap->GetImageWidth(), bitmap->GetImageHeight(), ie1g)) return;
  IEThresholdTo1Bit(bitmap, &bw, threshold, progress);
  bitmap->CopyImageFrom(&bw);
}

void IEOrderedDitherTo1Bit(TIEBitmap* bitmap, const TIEReductionProgress& progress) {
  if (!bitmap || bitmap->IsEmpty() || bitmap->GetPixelFormat() != ie24RGB) return;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  TIEBitmap bw;
  if (!bw.Allocate(w, h, ie1g)) return;
  {
    TIEScopedRowAccess guard(bitmap, iraRead);
    std::vector<uint8_t> out(size_t(w + 7) / 8);
    for (int y = 0; y < h; ++y) {
      std::memset(out.data(), 0, out.size());
      const uint8_t* p = bitmap->GetRowAddress(y);
      for (int x = 0; x < w; ++x, p += 3) {
        // near-white counts as 64 so that it stays white against the matrix's largest value 63
        int d = (p[0] >= 251 && p[1] >= 251 && p[2] >= 251) ? 64 : Grey(p[2], p[1], p[0]) >> 2;
        if (d > kBayer[x & 7][y & 7]) out[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
      }
      std::memcpy(bw.GetRowAddress(y), out.data(), out.size());
      Report(progress, y + 1, h);
    }
  }
  bitmap->CopyImageFrom(&bw);
}

void IEQuantizeInPlace(TIEBitmap* bitmap, int numColors, TIERGB* palette, void* sender, const TIEProgressEvent& onProgress) {
  if (!bitmap || bitmap->IsEmpty() || bitmap->GetPixelFormat() != ie24RGB || numColors < 1) return;
  std::vector<TIERGB> own;
  if (!palette) {
    own.assign(size_t(numColors), IEMakeRGB(0, 0, 0));
    palette = own.data();
  }
  TIEQuantizer quantizer(bitmap, palette, numColors);
  TIEReductionProgress progress{sender, onProgress};
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  TIEScopedRowAccess guard(bitmap, iraRead | iraWrite);
  for (int y = 0; y < h; ++y) {
    TIERGB* row = reinterpret_cast<TIERGB*>(bitmap->GetRowAddress(y));
    for (int x = 0; x < w; ++x) row[x] = palette[quantizer.RGBToIndex(row[x])];
    Report(progress, y + 1, h);
  }
}

bool IEConvertToColors(TIEBitmap* bitmap, int numColors, bool threshold, const TIEReductionProgress& progress) {
  if (!bitmap || bitmap->GetPixelFormat() != ie24RGB) return false;
  if (numColors < 3) {
    if (threshold)
      IEThresholdTo1BitInPlace(bitmap, kIEThresholdMean, progress);
    else
      IEOrderedDitherTo1Bit(bitmap, progress);
    return true;
  }
  if (numColors > kMaxConvertColors) return false;
  IEQuantizeInPlace(bitmap, numColors, nullptr, progress.Sender, progress.OnProgress);
  return true;
}

bool IEConvertToPaletteColors(TIEBitmap* bitmap, int numColors, TIERGB* palette, bool threshold,
                              const TIEReductionProgress& progress) {
  if (numColors == 0 || !palette || !bitmap || bitmap->GetPixelFormat() != ie24RGB) return false;
  if (numColors < 3) {
    palette[0] = IEMakeRGB(0, 0, 0);
    palette[1] = IEMakeRGB(255, 255, 255);
    return IEConvertToColors(bitmap, numColors, threshold, progress);
  }
  if (numColors > kMaxConvertColors) return false;
  IEQuantizeInPlace(bitmap, numColors, palette, progress.Sender, progress.OnProgress);
  return true;
}

std::unique_ptr<TIEBitmap> IEConvertTwoColorTo1Bit(TIEBitmap* bitmap, TIERGB& color0, TIERGB& color1) {
  if (!bitmap || bitmap->IsEmpty() || !HandlesFormat(bitmap->GetPixelFormat())) return nullptr;
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  auto bw = std::make_unique<TIEBitmap>();
  if (!bw->Allocate(w, h, ie1g)) return nullptr;
  const size_t bytes = size_t(w + 7) / 8;
  std::vector<uint8_t> out(bytes);
  int colours = 0;
  {
    TIEScopedRowAccess guard(bitmap, iraRead);
    for (int y = 0; y < h && colours <= 2; ++y) {
      std::memset(out.data(), 0, bytes);
      const uint8_t* row = bitmap->GetRowAddress(y);
      for (int x = 0; x < w; ++x) {
        TIERGB c = IEDecodePixelRGB(bitmap, row, x);
        if (colours == 0) {
          color0 = c;
          colours = 1;
        } else if (!IESameRGB(c, color0)) {
          if (colours == 1) {
            color1 = c;
            colours = 2;
          } else if (!IESameRGB(c, color1)) {
            colours = 3;
          }
          out[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
        }
      }
      std::memcpy(bw->GetRowAddress(y), out.data(), bytes);
    }
  }
  if (colours != 2) return nullptr;
  auto weighted = [](TIERGB c) { return IERound((c.r * IEGrayWeightRed + c.g * IEGrayWeightGreen + c.b * IEGrayWeightBlue) / 100.0); };
  if (weighted(color1) < weighted(color0)) {
    // the darker colour becomes 0: complement the bits of every row, keeping the padding clear
    const uint8_t lastMask = uint8_t(0xFF << ((8 - (w & 7)) & 7));
    for (int y = 0; y < h; ++y) {
      uint8_t* row = bw->GetRowAddress(y);
      for (size_t i = 0; i < bytes; ++i) row[i] = uint8_t(~row[i]);
      row[bytes - 1] &= lastMask;
    }
    std::swap(color0, color1);
  }
  return bw;
}

int IENearestPaletteIndex(const TIERGB* palette, int count, uint32_t color) {
  const int r = int((color >> 16) & 255), g = int((color >> 8) & 255), b = int(color & 255);
  int best = 0, bestD = 1000;
  for (int i = 0; palette && i < count; ++i) {
    int d = std::abs(palette[i].r - r) + std::abs(palette[i].g - g) + std::abs(palette[i].b - b);
    if (d < bestD) {
      bestD = d;
      best = i;
    }
  }
  return best;
}

int IEConvertRowBitDepth(const uint8_t* src, uint8_t* dst, int srcBits, const TIEQuantizer* quantizer,
                         const TIERGB* palette, int count, int dstBits) {
  int result = 0;
  switch (dstBits) {
    case 1: result = (count + 7) / 8; break;
    case 4: result = (count + 1) / 2; break;
    case 8: result = count; break;
    case 24: result = 3 * count; break;
    default: return 0;
  }
  if (!src || !dst || count <= 0) return result;
  auto rgbAt = [&](int i) { TIERGB c; std::memcpy(&c, src + 3 * i, 3); return c; };
  auto bitAt = [&](int i) { return (src[i >> 3] >> (7 - (i & 7))) & 1; };
  auto nibbleAt = [&](int i) { return (i & 1) ? src[i >> 1] & 15 : src[i >> 1] >> 4; };
  auto putNibble = [&](int i, int v) { dst[i >> 1] |= uint8_t((i & 1) ? v : v << 4); };
  auto putColor = [&](int i, int index) {
    TIERGB c = palette ? palette[index] : IEMakeRGB(0, 0, 0);
    std::memcpy(dst + 3 * i, &c, 3);
  };
  auto indexOf = [&](int i) { return quantizer ? quantizer->RGBToIndex(rgbAt(i)) : 0; };
  const int pair = srcBits * 100 + dstBits;
  switch (pair) {
    case 2404:
      // an index above 15 would spill into the neighbouring nibble
      for (int i = 0; i < count; ++i) putNibble(i, IEMin(indexOf(i), 15));
      break;
    case 2408:
      for (int i = 0; i < count; ++i) dst[i] = uint8_t(IEMin(indexOf(i), 255));
      break;
    case 2424: std::memcpy(dst, src, size_t(count) * 3); break;
    case 3224:
      for (int i = 0; i < count; ++i) std::memcpy(dst + 3 * i, src + 4 * i, 3);
      break;
    case 801:
      std::memset(dst, 0, size_t(result));
      for (int i = 0; i < count; ++i) dst[i >> 3] |= uint8_t((src[i] & 1) << (7 - (i & 7)));
      break;
    case 808: std::memcpy(dst, src, size_t(count)); break;
    case 824:
      for (int i = 0; i < count; ++i) putColor(i, src[i]);
      break;
    case 101: std::memcpy(dst, src, size_t(result)); break;
    case 104:
      for (int i = 0; i < count; ++i) putNibble(i, bitAt(i));
      break;
    case 108:
      for (int i = 0; i < count; ++i) dst[i] = uint8_t(bitAt(i));
      break;
    case 124:
      for (int i = 0; i < count; ++i) putColor(i, bitAt(i));
      break;
    case 404: std::memcpy(dst, src, size_t(result)); break;
    case 408:
      for (int i = 0; i < count; ++i) dst[i] = uint8_t(nibbleAt(i));
      break;
    case 424:
      for (int i = 0; i < count; ++i) putColor(i, nibbleAt(i));
      break;
    default: break;
  }
  return result;
}

namespace {

void ServiceThreshold(TIEBitmap* src, TIEBitmap* dst, int threshold) { IEThresholdTo1Bit(src, dst, threshold, {}); }

// The ie24RGB -> ie8p conversion: a quantizer on a cleared 256-entry palette; entries it does not
// fill stay black.
void ServiceQuantize(TIEBitmap* src, TIEBitmap* dst, int colours) {
  const int w = src->GetImageWidth(), h = src->GetImageHeight();
  if (colours < 1 || colours > 256) colours = 256;
  TIERGB palette[256];
  std::memset(palette, 0, sizeof palette);
  TIEQuantizer quantizer(src, palette, colours);
  for (int i = 0; i < 256; ++i) dst->SetPaletteEntry(i, palette[i]);
  TIEScopedRowAccess sg(src, iraRead), dg(dst, iraRead | iraWrite);
  std::vector<uint8_t> out(static_cast<size_t>(w));
  std::vector<TIERGB> row(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    std::memcpy(row.data(), src->GetRowAddress(y), size_t(w) * 3);
    for (int x = 0; x < w; ++x) out[size_t(x)] = uint8_t(quantizer.RGBToIndex(row[size_t(x)]));
    std::memcpy(dst->GetRowAddress(y), out.data(), out.size());
  }
}

}  // namespace

void IEInstallColorReductionServices() {
  IEConversionServices.ThresholdTo1Bit = ServiceThreshold;
  IEConversionServices.QuantizeToPalette = ServiceQuantize;
}
