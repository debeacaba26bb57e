#include "ieshadow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "iebitmap.h"

namespace {

// The box blur of the shadow when no radius is given.
const int32_t kBlurFilter[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr int32_t kBlurDivisor = 9;
constexpr double kDefaultShadowRadius = 2;

}  // namespace

void IEGaussianBlurGray8(TIEBitmap* bitmap, const TIERect& rect, double radius) {
  if (!bitmap || bitmap->GetPixelFormat() != ie8g || bitmap->IsEmpty() || !(radius > 0)) return;
  const TIERect r = IEClipRect(rect, bitmap->GetImageWidth(), bitmap->GetImageHeight());
  if (r.IsEmpty()) return;
  TIEGaussianKernel kernel;
  IEBuildGaussianKernel(kernel, radius);
  const int w = r.Right - r.Left + 1, h = r.Bottom - r.Top + 1;
  std::vector<uint8_t> area(size_t(w) * h), line(std::max(w, h)), out(std::max(w, h));
  TIEScopedRowAccess keep(bitmap, iraRead);
  for (int y = 0; y < h; ++y) {
    IEBlurLine(kernel, bitmap->GetRowAddress(r.Top + y) + r.Left, &area[size_t(y) * w], w);
  }
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) line[y] = area[size_t(y) * w + x];
    IEBlurLine(kernel, line.data(), out.data(), h);
    for (int y = 0; y < h; ++y) area[size_t(y) * w + x] = out[y];
  }
  bitmap->RowAccess = iraRead | iraWrite;
  for (int y = 0; y < h; ++y) std::memcpy(bitmap->GetRowAddress(r.Top + y) + r.Left, &area[size_t(y) * w], w);
  bitmap->IsAll255 = false;
}

void IEApplyFilter3x3Gray8(TIEBitmap* bitmap, const int32_t coefficients[9], int32_t divisor, const TIERect& rect) {
  if (!bitmap || bitmap->GetPixelFormat() != ie8g || bitmap->IsEmpty()) return;
  const int W = bitmap->GetImageWidth(), H = bitmap->GetImageHeight();
  const TIERect r = IEClipRect(rect, W, H);
  if (r.IsEmpty()) return;
  if (divisor == 0) divisor = 1;
  // the rectangle plus one pixel around it, edges repeated
  const int w = r.Right - r.Left + 1, h = r.Bottom - r.Top + 1;
  std::vector<uint8_t> src(size_t(w + 2) * (h + 2));
  TIEScopedRowAccess keep(bitmap, iraRead);
  for (int y = -1; y <= h; ++y) {
    const uint8_t* row = bitmap->GetRowAddress(std::clamp(r.Top + y, 0, H - 1));
    for (int x = -1; x <= w; ++x) src[size_t(y + 1) * (w + 2) + (x + 1)] = row[std::clamp(r.Left + x, 0, W - 1)];
  }
  bitmap->RowAccess = iraRead | iraWrite;
  for (int y = 0; y < h; ++y) {
    uint8_t* out = bitmap->GetRowAddress(r.Top + y) + r.Left;
    for (int x = 0; x < w; ++x) {
      int64_t sum = 0;
      for (int m = 0; m < 3; ++m)
        for (int n = 0; n < 3; ++n) sum += int64_t(coefficients[3 * m + n]) * src[size_t(y + m) * (w + 2) + x + n];
      out[x] = uint8_t(std::min<int64_t>(std::llabs(sum) / std::llabs(int64_t(divisor)), 255));
    }
  }
  bitmap->IsAll255 = false;
}

int IEAddSoftShadow(TIEBitmap* bitmap, int dx, int dy, const TIERect& object, uint32_t color, int intensity,
                    double radius) {
  const bool box = radius == 0;
  if (box) radius = kDefaultShadowRadius;
  const int border = std::max(2 * std::max(std::abs(dx), std::abs(dy)) + int(std::trunc(radius * 5)), 1);
  if (!bitmap || bitmap->IsEmpty()) return border;
  const int half = border / 2;
  const int W = bitmap->GetImageWidth(), H = bitmap->GetImageHeight();
  TIEBitmap* alpha = bitmap->GetAlphaChannel();
  alpha->IsAll255 = false;
  TIEBitmap original;
  original.Assign(alpha);
  const TIERect blurRect{object.Left - half, object.Top - half, object.Right + half, object.Bottom + half};
  if (box) IEApplyFilter3x3Gray8(alpha, kBlurFilter, kBlurDivisor, blurRect);
  else IEGaussianBlurGray8(alpha, blurRect, radius);
  if (dx != 0 || dy != 0) {
    const TIERect b = IEClipRect(blurRect, W, H);
    if (!b.IsEmpty()) alpha->MoveRect(b.Left, b.Top, b.Right, b.Bottom, b.Left + dx, b.Top + dy, 0, true);
  }
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  if (f != ie1g && f != ie24RGB) return border;
  const TIERect c = IEClipRect(
      TIERect{object.Left - border, object.Top - border, object.Right + border, object.Bottom + border}, W, H);
  if (c.IsEmpty()) return border;
  intensity = std::clamp(intensity, 0, 100);
  const uint8_t shadow[3] = {uint8_t(color), uint8_t(color >> 8), uint8_t(color >> 16)};  // B, G, R
  const double fade = 3 - 2 * intensity / 100.0;
  for (int y = c.Top; y <= c.Bottom; ++y) {
    const uint8_t* orow = original.GetRowAddress(y);
    uint8_t* arow = alpha->GetRowAddress(y);
    uint8_t* row = bitmap->GetRowAddress(y);
    for (int x = c.Left; x <= c.Right; ++x) {
      const int o = orow[x], a = arow[x];
      if (o != 0 || o == a) {
        if (f == ie24RGB && o > 0 && o < 255) {
          // the pixel over the shadow beneath it, both partly transparent
          const double N = a / 255.0, R = o / 255.0;
          for (int k = 0; k < 3; ++k) {
            const int under = int(N * shadow[k] + (1 - N) * row[3 * x + k]);
            row[3 * x + k] = uint8_t(R * row[3 * x + k] + (1 - R) * under);
          }
          arow[x] = uint8_t((R + N * (1 - R)) * 255);
        } else {
          arow[x] = uint8_t(o);
        }
      } else if (f == ie1g) {
        row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
      } else {
        std::memcpy(row + 3 * x, shadow, 3);
        if (fade != 1) arow[x] = uint8_t(a / fade);
      }
    }
  }
  bitmap->IsAll255 = false;
  return border;
}
