#include "gifbitmap.h"

#include "gifutil.h"

TGIFBitmap::TGIFBitmap(int width, int height, int bitsPerPixel)
    : width_(width), height_(height), bits_(bitsPerPixel) {
  if (width < 0 || height < 0) RaiseGIFError("Invalid image dimensions");
  stride_ = AlignedRowBytes(static_cast<uint32_t>(width), static_cast<uint32_t>(bitsPerPixel), 32);
  pixels_.assign(stride_ * static_cast<size_t>(height), 0);
}

std::unique_ptr<TGIFBitmap> TGIFBitmap::Copy24(const TGIFPixelSource& source) {
  auto copy = std::make_unique<TGIFBitmap>(source.Width(), source.Height(), 24);
  const int bits = source.BitsPerPixel();
  const TGIFPalette& pal = source.Palette();
  for (int y = 0; y < source.Height(); ++y) {
    const uint8_t* s = source.Row(y);
    uint8_t* d = copy->Row(y);
    for (int x = 0; x < source.Width(); ++x, d += 3) {
      if (bits == 24) {
        d[0] = s[3 * x]; d[1] = s[3 * x + 1]; d[2] = s[3 * x + 2];
        continue;
      }
      int index = bits == 8   ? s[x]
                  : bits == 4 ? (s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15
                              : (s[x >> 3] >> (7 - (x & 7))) & 1;
      TGIFColor c = index < int(pal.size()) ? pal[size_t(index)] : TGIFColor{0, 0, 0};
      d[0] = c.Blue; d[1] = c.Green; d[2] = c.Red;
    }
  }
  return copy;
}
