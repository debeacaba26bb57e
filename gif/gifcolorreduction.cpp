#include "gifcolorreduction.h"

#include <windows.h>

#include <algorithm>

#include "gifdither.h"
#include "gifoctree.h"

namespace {

TGIFPalette EntriesOf(HPALETTE palette) {
  TGIFPalette out;
  if (!palette) return out;
  const UINT n = GetPaletteEntries(palette, 0, 0, nullptr);
  if (n == 0) return out;
  std::vector<PALETTEENTRY> entries(n);
  GetPaletteEntries(palette, 0, n, entries.data());
  for (const PALETTEENTRY& e : entries) out.push_back({e.peRed, e.peGreen, e.peBlue});
  return out;
}

// Squared distance from a value to the range [lo, hi] of one channel, and to its far end.
inline int NearSq(int v, int lo, int hi) {
  const int d = v < lo ? lo - v : (v > hi ? v - hi : 0);
  return d * d;
}
inline int FarSq(int v, int lo, int hi) {
  const int d = std::max(std::abs(v - lo), std::abs(v - hi));
  return d * d;
}

}  // namespace

TGIFPalette CreateWebSafePalette() {
  TGIFPalette p;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back({uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b)});
  return p;
}

TGIFPalette CreateGray256Palette() {
  TGIFPalette p;
  for (int i = 0; i < 256; ++i) p.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
  return p;
}

TGIFPalette CreateGray4Palette() { return {{0, 0, 0}, {128, 128, 128}, {192, 192, 192}, {255, 255, 255}}; }

TGIFPalette CreateBlackWhitePalette() { return {{0, 0, 0}, {255, 255, 255}}; }

TGIFPalette StockPalette20() { return EntriesOf(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE))); }

TGIFPalette CreateScreenHalftonePalette() {
  HDC screen = GetDC(nullptr);
  if (!screen) RaiseGIFError("Out of system resources");
  HPALETTE halftone = CreateHalftonePalette(screen);
  ReleaseDC(nullptr, screen);
  if (!halftone) RaiseGIFError("Out of system resources");
  TGIFPalette p = EntriesOf(halftone);
  DeleteObject(halftone);
  return p;
}

// --- lookups ---

TSlowColorLookup::TSlowColorLookup(const TGIFPalette& palette)
    : entries_(palette.begin(), palette.begin() + std::min<size_t>(palette.size(), 256)) {
  colorCount_ = int(palette.size());
  if (entries_.empty()) return;
  // For each cell of RGB space keep the entries that can be nearest to some colour in it: those not
  // farther at their nearest point than the best entry is at its farthest. Any entry left out is
  // strictly farther than that one for every colour of the cell, so it can neither win nor tie.
  const int cells = 1 << kCellBits, side = 256 / cells;
  cellStart_.reserve(size_t(cells * cells * cells) + 1);
  std::vector<int> nearSq(entries_.size());
  for (int rc = 0; rc < cells; ++rc)
    for (int gc = 0; gc < cells; ++gc)
      for (int bc = 0; bc < cells; ++bc) {
        const int r0 = rc * side, g0 = gc * side, b0 = bc * side;
        int bestFar = INT32_MAX;
        for (size_t i = 0; i < entries_.size(); ++i) {
          const TGIFColor& e = entries_[i];
          nearSq[i] = NearSq(e.Red, r0, r0 + side - 1) + NearSq(e.Green, g0, g0 + side - 1) +
                      NearSq(e.Blue, b0, b0 + side - 1);
          bestFar = std::min(bestFar, FarSq(e.Red, r0, r0 + side - 1) + FarSq(e.Green, g0, g0 + side - 1) +
                                          FarSq(e.Blue, b0, b0 + side - 1));
        }
        cellStart_.push_back(uint32_t(candidates_.size()));
        for (size_t i = 0; i < entries_.size(); ++i)
          if (nearSq[i] <= bestFar) candidates_.push_back(uint8_t(i));
      }
  cellStart_.push_back(uint32_t(candidates_.size()));
  cacheKey_.assign(kCacheSize, 0);
  cacheIndex_.assign(kCacheSize, 0);
}

int TSlowColorLookup::Nearest(uint8_t red, uint8_t green, uint8_t blue) {
  if (entries_.empty()) return 0;
  const uint32_t key = (uint32_t(red) << 16 | uint32_t(green) << 8 | blue) + 1;
  const size_t slot = (key * 2654435761u) >> (32 - 14);
  if (cacheKey_[slot] == key) return cacheIndex_[slot];
  const int shift = 8 - kCellBits;
  const size_t cell = (size_t(red >> shift) << (2 * kCellBits)) | (size_t(green >> shift) << kCellBits) | (blue >> shift);
  int best = 0, bestDist = INT32_MAX;
  for (uint32_t k = cellStart_[cell]; k < cellStart_[cell + 1]; ++k) {
    const TGIFColor& e = entries_[candidates_[k]];
    const int dr = e.Red - red, dg = e.Green - green, db = e.Blue - blue;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = candidates_[k];
    }
  }
  cacheKey_[slot] = key;
  cacheIndex_[slot] = uint8_t(best);
  return best;
}

uint8_t TSlowColorLookup::FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) {
  const int index = Nearest(red, green, blue);
  if (!entries_.empty()) {
    r = entries_[size_t(index)].Red;
    g = entries_[size_t(index)].Green;
    b = entries_[size_t(index)].Blue;
  }
  return uint8_t(index);
}

uint8_t TNetscapeColorLookup::FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) {
  const int qr = (red + 3) / 51, qg = (green + 3) / 51, qb = (blue + 3) / 51;
  r = uint8_t(51 * qr);
  g = uint8_t(51 * qg);
  b = uint8_t(51 * qb);
  return uint8_t(36 * qr + 6 * qg + qb);
}

uint8_t TGrayScaleLookup::FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) {
  const uint8_t grey = uint8_t((77 * red + 150 * green + 29 * blue) >> 8);
  r = g = b = grey;
  return grey;
}

uint8_t TMonochromeLookup::FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) {
  const bool white = 77 * red + 150 * green + 29 * blue > 32512;
  r = g = b = white ? 255 : 0;
  return white ? 1 : 0;
}

// --- pipeline ---

void DitherToWebSafe(uint8_t* rows, size_t stride, int width, int height, const uint8_t* skip) {
  TNetscapeColorLookup lookup;
  TFloydSteinbergDitherer ditherer(width, &lookup);
  uint8_t r, g, b;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = rows + size_t(y) * stride;
    const uint8_t* skipRow = skip ? skip + size_t(y) * size_t(width) : nullptr;
    for (int x = ditherer.Column(); x >= 0 && x < width; x += ditherer.Direction()) {
      if (skipRow && skipRow[x]) {
        ditherer.AdvanceColumn();
        continue;
      }
      uint8_t* p = row + 3 * size_t(x);
      ditherer.ProcessPixel(p[2], p[1], p[0], r, g, b);
      p[0] = b;
      p[1] = g;
      p[2] = r;
    }
    ditherer.NextRow();
  }
}

std::unique_ptr<TGIFBitmap> MakePalettedBitmap(const TGIFPixelSource& source, TGIFPaletteMode mode,
                                               TGIFDitherStyle dither, int paletteBits,
                                               const TGIFPalette* givenPalette) {
  if (mode == gpNone) return TGIFBitmap::Copy24(source);
  if (mode > gpGivenPalette) return std::make_unique<TGIFBitmap>();
  // The pipeline reads 24-bit rows; other sources are read through a 24-bit copy.
  std::unique_ptr<TGIFBitmap> copy;
  const TGIFPixelSource* rgb = &source;
  if (source.BitsPerPixel() != 24) {
    copy = TGIFBitmap::Copy24(source);
    rgb = copy.get();
  }
  TGIFPalette palette;
  std::unique_ptr<TColorLookup> lookup;
  switch (mode) {
    case gpStock20: palette = StockPalette20(); break;
    case gpHalftone: palette = CreateScreenHalftonePalette(); break;
    case gpGray4: palette = CreateGray4Palette(); break;
    case gpBlackWhite: palette = CreateBlackWhitePalette(); lookup = std::make_unique<TMonochromeLookup>(); break;
    case gpGray256: palette = CreateGray256Palette(); lookup = std::make_unique<TGrayScaleLookup>(); break;
    case gpWebSafe216: palette = CreateWebSafePalette(); lookup = std::make_unique<TNetscapeColorLookup>(); break;
    case gpOctree: palette = BuildOctreePalette(*rgb, 1 << std::max(0, std::min(paletteBits, 8)), 8, false); break;
    case gpOctreeKeepStatic: palette = BuildOctreePalette(*rgb, 256, 8, true); break;
    case gpGivenPalette: if (givenPalette) palette = *givenPalette; break;
    default: break;
  }
  if (!lookup) lookup = std::make_unique<TSlowColorLookup>(palette);
  if (lookup->ColorCount() == 0) return std::make_unique<TGIFBitmap>();
  const int width = rgb->Width(), height = rgb->Height();
  std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(dither, width, lookup.get());
  if (!ditherer) return std::make_unique<TGIFBitmap>();
  auto result = std::make_unique<TGIFBitmap>(width, height, 8);
  palette.resize(std::min<size_t>(palette.size(), 256));
  result->SetPalette(palette);
  uint8_t r, g, b;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = rgb->Row(y);
    uint8_t* d = result->Row(y);
    for (int x = ditherer->Column(); x >= 0 && x < width; x += ditherer->Direction())
      d[x] = ditherer->ProcessPixel(s[3 * x + 2], s[3 * x + 1], s[3 * x], r, g, b);
    ditherer->NextRow();
  }
  return result;
}
