#include "iequantizer.h"

#include <cstdlib>
#include <cstring>

#include "iebitmap.h"
#include "iebitmapservices.h"
#include "iemediancut.h"
#include "ieneuquant.h"
#include "ieutils.h"

int IEColorReductionAlgorithm = -1;
int IEColorReductionQuality = -1;

namespace {

// 64K cached NeuQuant answers (512 KB): enough for the colours of a row band of a photograph.
constexpr int kNeuQuantCacheBits = 16;
constexpr size_t kNeuQuantCacheSize = size_t(1) << kNeuQuantCacheBits;

inline uint32_t Pack(TIERGB c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

// A 24-bit copy of a bitmap in a colour format the quantizers do not read directly.
std::unique_ptr<TIEBitmap> To24Bit(TIEBitmap* bitmap) {
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  auto copy = std::make_unique<TIEBitmap>();
  if (!copy->Allocate(w, h, ie24RGB)) return nullptr;
  TIEScopedRowAccess saved(bitmap, iraRead);
  std::vector<TIERGB> row(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bitmap->GetRowAddress(y);
    for (int x = 0; x < w; ++x) row[size_t(x)] = IEDecodePixelRGB(bitmap, src, x);
    std::memcpy(copy->GetRowAddress(y), row.data(), size_t(w) * 3);
  }
  return copy;
}

}  // namespace

TIEColorIndexMap::TIEColorIndexMap(int capacity) {
  uint32_t size = 16;
  while (size < uint32_t(capacity) * 4) size <<= 1;  // at most a quarter full: short probe runs
  keys_.assign(size, 0);
  values_.assign(size, -1);
  mask_ = size - 1;
}

int TIEColorIndexMap::Find(uint32_t color) const {
  uint32_t key = color + 1;
  for (uint32_t i = (color * 2654435761u) >> 8 & mask_;; i = (i + 1) & mask_) {
    if (keys_[i] == key) return values_[i];
    if (keys_[i] == 0) return -1;
  }
}

void TIEColorIndexMap::Insert(uint32_t color, int index) {
  uint32_t key = color + 1;
  uint32_t i = (color * 2654435761u) >> 8 & mask_;
  while (keys_[i] != 0 && keys_[i] != key) i = (i + 1) & mask_;
  keys_[i] = key;
  values_[i] = index;
}

TIEQuantizer::TIEQuantizer(TIEBitmap* bitmap, TIERGB* palette, int colorCount) : colorCount_(colorCount) {
  if (!bitmap || !palette || colorCount < 1 || bitmap->IsEmpty()) return;
  TIEPixelFormat f = bitmap->GetPixelFormat();
  if (f == ie8p) {
    // The bitmap's own palette; entries past its end repeat the last one.
    const int count = bitmap->GetPaletteCount();
    TIERGB last = IEMakeRGB(0, 0, 0);
    for (int i = 0; i < colorCount; ++i) {
      if (i < count) last = bitmap->GetPaletteEntry(i);
      palette[i] = last;
    }
    const int searched = count < colorCount ? count : colorCount;
    colors_.assign(palette, palette + (searched > 0 ? searched : 1));
    index_ = std::make_unique<TIEColorIndexMap>(int(colors_.size()));
    for (size_t i = 0; i < colors_.size(); ++i)
      if (index_->Find(Pack(colors_[i])) < 0) index_->Insert(Pack(colors_[i]), int(i));
    method_ = qmBitmapPalette;
    entries_ = colorCount;
    return;
  }
  // ie24RGB is read as it is; the other colour formats through a 24-bit copy; ie1g, ie8g, ie16g and
  // ie32f hold only greys.
  std::unique_ptr<TIEBitmap> copy;
  TIEBitmap* source = bitmap;
  if (f == ie32RGB || f == ieRGB48 || f == ieCMYK || f == ieCIELab) {
    copy = To24Bit(bitmap);
    if (!copy) return;
    source = copy.get();
  }
  const bool grey = source->GetPixelFormat() != ie24RGB || source->HasOnlyGrays();
  if (grey) {
    // An even ramp from black to white: entry i is round(255 i / (n - 1)).
    for (int i = 0; i < colorCount; ++i) {
      uint8_t v = colorCount > 1 ? uint8_t((510 * i + (colorCount - 1)) / (2 * (colorCount - 1))) : 0;
      palette[i] = IEMakeRGB(v, v, v);
    }
    method_ = qmGreyRamp;
    entries_ = colorCount;
    return;
  }
  if (CollectExactColors(source, palette)) return;
  const bool median = IEColorReductionAlgorithm == 1 || (IEColorReductionAlgorithm == -1 && colorCount < 128);
  if (median) {
    medianCut_ = IEMedianCutPalette(source, palette, colorCount);
    if (medianCut_) {
      method_ = qmMedianCut;
      entries_ = medianCut_->BoxCount;
    }
  } else {
    neuQuant_ = IENeuQuantPalette(source, palette, colorCount, IEColorReductionQuality);
    if (neuQuant_) {
      cacheKeys_.assign(kNeuQuantCacheSize, 0);
      cacheValues_.assign(kNeuQuantCacheSize, 0);
      method_ = qmNeuQuant;
      entries_ = colorCount;
    }
  }
}

TIEQuantizer::~TIEQuantizer() = default;

bool TIEQuantizer::CollectExactColors(TIEBitmap* bitmap, TIERGB* palette) {
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  auto index = std::make_unique<TIEColorIndexMap>(colorCount_ + 1);
  std::vector<TIERGB> colors;
  TIEScopedRowAccess saved(bitmap, iraRead);
  bool ok = true;
  for (int y = 0; y < h && ok; ++y) {
    const TIERGB* row = reinterpret_cast<const TIERGB*>(bitmap->GetRowAddress(y));
    uint32_t previous = 0xFFFFFFFFu;  // runs of one colour skip the lookup
    for (int x = 0; x < w; ++x) {
      uint32_t c = Pack(row[x]);
      if (c == previous) continue;
      previous = c;
      if (index->Find(c) >= 0) continue;
      if (int(colors.size()) == colorCount_) {
        ok = false;
        break;
      }
      index->Insert(c, int(colors.size()));
      colors.push_back(row[x]);
    }
  }
  if (!ok) return false;
  for (size_t i = 0; i < colors.size(); ++i) palette[i] = colors[i];
  colors_ = std::move(colors);
  index_ = std::move(index);
  method_ = qmExact;
  entries_ = int(colors_.size());
  return true;
}

int TIEQuantizer::Nearest(uint32_t color) const {
  int r = int(color >> 16), g = int((color >> 8) & 255), b = int(color & 255);
  int best = 0, bestD = 1000;
  for (size_t i = 0; i < colors_.size(); ++i) {
    int d = std::abs(colors_[i].r - r) + std::abs(colors_[i].g - g) + std::abs(colors_[i].b - b);
    if (d < bestD) {
      bestD = d;
      best = int(i);
    }
  }
  return best;
}

int TIEQuantizer::RGBToIndex(TIERGB color) const {
  const uint32_t c = Pack(color);
  switch (method_) {
    case qmExact:
    case qmBitmapPalette: {
      // a colour the palette does not hold takes the nearest entry, so writers never see an index
      // outside their palette
      int i = index_->Find(c);
      return i >= 0 ? i : Nearest(c);
    }
    case qmGreyRamp:
      return colorCount_ > 1 ? (color.r * (colorCount_ - 1) * 2 + 255) / 510 : 0;
    case qmNeuQuant: {
      // pictures repeat their colours: a cache hit saves the network search
      uint32_t slot = (c * 2654435761u) >> (32 - kNeuQuantCacheBits);
      if (cacheKeys_[slot] != c + 1) {
        cacheKeys_[slot] = c + 1;
        cacheValues_[slot] = NeuQuantIndexOf(*neuQuant_, c);
      }
      return cacheValues_[slot];
    }
    case qmMedianCut:
      return IEMedianCutIndex(*medianCut_, c);
    case qmNone:
      break;
  }
  return 0;
}
