// Colour reduction of true-colour pictures to 8-bit paletted ones: the fixed palettes, the colour
// lookups that map a colour to a palette index, and MakePalettedBitmap, which ties palette, lookup
// and ditherer together.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "gifbitmap.h"
#include "gifimage.h"

TGIFPalette CreateWebSafePalette();   // 216 entries, entry 36r + 6g + b is (51r, 51g, 51b)
TGIFPalette CreateGray256Palette();   // entry i is (i, i, i)
TGIFPalette CreateGray4Palette();     // 0, 128, 192, 255
TGIFPalette CreateBlackWhitePalette();
TGIFPalette StockPalette20();         // the platform's default palette (20 static colours)
TGIFPalette CreateScreenHalftonePalette();

class TColorLookup {
 public:
  virtual ~TColorLookup() = default;
  // Number of palette entries the lookup can return; 0 means unusable.
  int ColorCount() const { return colorCount_; }
  // The palette index for a colour; R, G, B receive that entry's colour.
  virtual uint8_t FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) = 0;

 protected:
  int colorCount_ = 0;
};

// Nearest palette entry by squared RGB distance, the first of equals winning: the answers of the
// platform's GetNearestPaletteIndex. Entries are searched only among those that can be nearest for
// the colour's cell of RGB space, and recent answers are cached per colour.
class TSlowColorLookup : public TColorLookup {
 public:
  explicit TSlowColorLookup(const TGIFPalette& palette);
  uint8_t FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
  int Nearest(uint8_t red, uint8_t green, uint8_t blue);

 private:
  static constexpr int kCellBits = 3;                   // 8 x 8 x 8 cells of 32 levels
  static constexpr int kCacheSize = 1 << 14;
  TGIFPalette entries_;
  // Per cell, into candidates_ (one extra end). 32 bits: with repeated entries (a palette padded
  // with black) a cell can keep every entry, and 512 cells of 256 pass 65535.
  std::vector<uint32_t> cellStart_;
  std::vector<uint8_t> candidates_;                     // entry indices, ascending per cell
  std::vector<uint32_t> cacheKey_;                      // colour + 1, 0 = empty
  std::vector<uint8_t> cacheIndex_;
};

class TNetscapeColorLookup : public TColorLookup {
 public:
  TNetscapeColorLookup() { colorCount_ = 216; }
  uint8_t FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
};

class TGrayScaleLookup : public TColorLookup {
 public:
  TGrayScaleLookup() { colorCount_ = 256; }
  uint8_t FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
};

class TMonochromeLookup : public TColorLookup {
 public:
  TMonochromeLookup() { colorCount_ = 2; }
  uint8_t FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
};

// Dithers blue-green-red rows in place to colours of the 216-colour cube (Floyd-Steinberg, serpentine
// rows), for drawing on a paletted screen. Pixels whose `skip` byte (one per pixel, rows of `width`
// bytes; may be null) is non-zero keep their colour and take no error.
void DitherToWebSafe(uint8_t* rows, size_t stride, int width, int height, const uint8_t* skip);

// Reduces a 24-bit picture to an 8-bit one whose palette is chosen by `mode` and whose pixels are
// found through `dither`. gpNone gives a 24-bit copy; a mode or dither style out of range, or
// gpGivenPalette without a palette, gives an empty picture.
std::unique_ptr<TGIFBitmap> MakePalettedBitmap(const TGIFPixelSource& source, TGIFPaletteMode mode,
                                               TGIFDitherStyle dither, int paletteBits,
                                               const TGIFPalette* givenPalette);
