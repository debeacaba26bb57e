// The pixels the codec takes in and hands out, independent of any user-interface bitmap class: a
// picture adapter (a platform bitmap, a DIB section) implements TGIFPixelSource; TGIFBitmap is the
// codec's own in-memory picture, used for the paletted result of the colour reduction.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// One colour of a palette or colour map.
struct TGIFColor {
  uint8_t Red, Green, Blue;
  bool operator==(const TGIFColor& o) const { return Red == o.Red && Green == o.Green && Blue == o.Blue; }
};
using TGIFPalette = std::vector<TGIFColor>;

// A picture read row by row, top row first. 24-bit rows hold blue, green, red per pixel; 1-, 4- and
// 8-bit rows hold palette indices (most significant bits first) into Palette().
class TGIFPixelSource {
 public:
  virtual ~TGIFPixelSource() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int BitsPerPixel() const = 0;  // 1, 4, 8 or 24
  virtual const uint8_t* Row(int y) const = 0;
  virtual const TGIFPalette& Palette() const = 0;
  // Transparency mask of the picture (one byte per pixel, non-zero = transparent), or null for none.
  virtual const uint8_t* MaskRow(int /*y*/) const { return nullptr; }
};

// A picture in memory with rows of AlignedRowBytes(width, bits, 32) bytes, top row first.
class TGIFBitmap : public TGIFPixelSource {
 public:
  TGIFBitmap() = default;
  TGIFBitmap(int width, int height, int bitsPerPixel);
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int BitsPerPixel() const override { return bits_; }
  const uint8_t* Row(int y) const override { return pixels_.data() + size_t(y) * stride_; }
  uint8_t* Row(int y) { return pixels_.data() + size_t(y) * stride_; }
  const TGIFPalette& Palette() const override { return palette_; }
  void SetPalette(TGIFPalette palette) { palette_ = std::move(palette); }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // A 24-bit copy of any source.
  static std::unique_ptr<TGIFBitmap> Copy24(const TGIFPixelSource& source);

 private:
  int width_ = 0, height_ = 0, bits_ = 24;
  size_t stride_ = 0;
  std::vector<uint8_t> pixels_;
  TGIFPalette palette_;
};
