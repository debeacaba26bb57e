// The GIF image as a graphic of the user-interface library: the bridges between that library's
// bitmaps and streams and the codec's own pixel and byte-stream interfaces, and the registration of
// the image as the picture file format "gif".
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "gifbitmap.h"
#include "gifimage.h"
#include "gifutil.h"

namespace ui {
class TBitmap;
class TStream;
}  // namespace ui

// Reads a user-interface bitmap as a picture of the codec. 1-, 4-, 8- and 24-bit bitmaps are read in
// place (the bitmap must outlive the source and stay unchanged); any other depth is read from a
// 24-bit copy taken when the source is made.
class TBitmapPixelSource : public TGIFPixelSource {
 public:
  explicit TBitmapPixelSource(ui::TBitmap* bitmap);
  ~TBitmapPixelSource() override;
  TBitmapPixelSource(const TBitmapPixelSource&) = delete;
  TBitmapPixelSource& operator=(const TBitmapPixelSource&) = delete;
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int BitsPerPixel() const override { return bits_; }
  const uint8_t* Row(int y) const override;
  const TGIFPalette& Palette() const override { return palette_; }
  // A transparent bitmap's mask (from its transparent colour), or the one given by SetMask.
  const uint8_t* MaskRow(int y) const override;
  // One byte per pixel, rows of Width() bytes, non-zero where the picture is transparent; an empty
  // vector takes the mask away.
  void SetMask(std::vector<uint8_t> mask);

 private:
  ui::TBitmap* bitmap_;            // the bitmap read: the caller's or the owned 24-bit copy
  ui::TBitmap* copy_ = nullptr;    // owned
  std::vector<uint8_t> mask_;
  int width_ = 0, height_ = 0, bits_ = 24;
  TGIFPalette palette_;
};

// A user-interface stream as the codec's byte stream (the stream stays the caller's).
class TGIFStreamAdapter : public TGIFByteStream {
 public:
  explicit TGIFStreamAdapter(ui::TStream* stream) : stream_(stream) {}
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  uint64_t Position() const override;
  void SetPosition(uint64_t position) override;
  uint64_t Size() const override;

 private:
  ui::TStream* stream_;
};

// One byte per pixel (rows of `width` bytes), non-zero where the monochrome `bitmap` has a set bit: the
// first `height` rows of it. Empty when the bitmap is smaller than that.
std::vector<uint8_t> MaskFromMonochrome(HBITMAP bitmap, int width, int height);

// Calls draw(x, y) with the top-left corner of every `w` x `h` tile laid from area's top-left corner
// over `area` that meets the device context's clip box: tiles nobody can see are not visited, and
// none is stored (a 1 x 1 image tiled over a large area has millions).
template <class F>
void ForEachTile(HDC dc, const RECT& area, int w, int h, F draw) {
  if (w <= 0 || h <= 0) return;
  RECT visible = area, clip;
  const int region = GetClipBox(dc, &clip);
  if (region == NULLREGION) return;
  if (region != ERROR && !IntersectRect(&visible, &area, &clip)) return;
  const int64_t left = area.left + (int64_t(visible.left) - area.left) / w * w;
  const int64_t top = area.top + (int64_t(visible.top) - area.top) / h * h;
  for (int64_t y = top; y < visible.bottom; y += h)
    for (int64_t x = left; x < visible.right; x += w) draw(int(x), int(y));
}

// True when `drawOptions` ask for drawing dithered to the 216-colour cube on this screen.
bool GIFDitherWanted(uint16_t drawOptions);

// Registers TGIFImage as the picture file format "gif" and notes whether the screen is paletted.
// Counted: the first call acts, and GIFImageFinalize undoes it when the count returns to 0. The unit
// calls it at start-up.
void GIFImageInitialize();
void GIFImageFinalize();

// The clipboard format "GIF Image" (registered by GIFImageInitialize; 0 before).
extern UINT CF_GIF;

// True when the screen shows 8 or fewer bits per pixel; set by GIFImageInitialize.
extern bool GIFScreenIsPaletted;
