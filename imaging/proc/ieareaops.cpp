#include "ieareaops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "iebitmap.h"
#include "ierotate.h"

TIERect IEClipRect(const TIERect& r, int width, int height) {
  TIERect c{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, width - 1), std::min(r.Bottom, height - 1)};
  if (c.IsEmpty()) return TIERect{};
  return c;
}

void IEFillRect(TIEBitmap* bitmap, const TIERect& rect, TIERGB color, void* Sender, const TIEProgressEvent& progress) {
  if (!bitmap || bitmap->IsEmpty()) return;
  const TIERect r = IEClipRect(rect, bitmap->GetImageWidth(), bitmap->GetImageHeight());
  if (r.IsEmpty()) return;
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  uint8_t px[8];
  IEBackgroundPixel(bitmap, IERGBToColor(color), px);
  // 1-bit fills follow the red channel alone, as black-and-white pens do
  const bool white = color.r != 0;
  const int pb = IEPixelFormatBitCount[f] / 8;
  const int written = f == ie32RGB ? 3 : pb;  // the fourth byte of ie32RGB is not colour
  const int rows = r.Bottom - r.Top + 1;
  TIEScopedRowAccess keep(bitmap, iraRead | iraWrite);
  for (int y = r.Top; y <= r.Bottom; ++y) {
    uint8_t* row = bitmap->GetRowAddress(y);
    if (f == ie1g) {
      for (int x = r.Left; x <= r.Right; ++x) {
        if (white) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
        else row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
      }
    } else {
      for (int x = r.Left; x <= r.Right; ++x) std::memcpy(row + size_t(x) * pb, px, written);
    }
    if (progress) progress(Sender, int((y - r.Top + 1) * 100 / (rows + 0.5)));
  }
  bitmap->IsAll255 = false;
}

static bool CropOne(TIEBitmap* bitmap, const TIERect& r) {
  TIEBitmap tmp;
  if (!tmp.Allocate(r.Right - r.Left + 1, r.Bottom - r.Top + 1, bitmap->GetPixelFormat())) return false;
  bitmap->CopyRectTo(&tmp, r.Left, r.Top, 0, 0, tmp.GetImageWidth(), tmp.GetImageHeight());
  bitmap->CopyPaletteTo(&tmp);
  bitmap->CopyImageFrom(&tmp);
  return true;
}

bool IECropBitmap(TIEBitmap* bitmap, const TIERect& rect) {
  if (!bitmap || bitmap->IsEmpty()) return false;
  const int W = bitmap->GetImageWidth(), H = bitmap->GetImageHeight();
  // clipped first, so no part of the result is left without pixels
  const TIERect r = IEClipRect(rect, W, H);
  if (r.IsEmpty()) return false;
  if (r.Left == 0 && r.Top == 0 && r.Right == W - 1 && r.Bottom == H - 1) return true;
  std::unique_ptr<TIEBitmap> alpha(bitmap->DetachAlphaChannel());
  const bool ok = CropOne(bitmap, r) && (!alpha || CropOne(alpha.get(), r));
  if (alpha) delete bitmap->AttachAlphaChannel(alpha.release());
  return ok;
}

TIERect IEFindOpaqueBounds(TIEBitmap* bitmap) {
  if (!bitmap || bitmap->IsEmpty()) return TIERect{};
  const int W = bitmap->GetImageWidth(), H = bitmap->GetImageHeight();
  if (!bitmap->AlphaPresent()) return TIERect{0, 0, W - 1, H - 1};
  TIEBitmap* a = bitmap->GetAlphaChannel();
  TIERect r{W, H, -1, -1};
  for (int y = 0; y < H; ++y) {
    const uint8_t* row = a->GetRowAddress(y);
    for (int x = 0; x < W; ++x)
      if (row[x]) {
        r.Left = std::min(r.Left, x);
        r.Right = std::max(r.Right, x);
        r.Top = std::min(r.Top, y);
        r.Bottom = y;
      }
  }
  if (r.IsEmpty()) return TIERect{};
  return r;
}

bool IECropToOpaqueArea(TIEBitmap* bitmap) {
  const TIERect r = IEFindOpaqueBounds(bitmap);
  return !r.IsEmpty() && IECropBitmap(bitmap, r);
}

void IEMatchHistograms(TIEBitmap* reference, TIEBitmap* target) {
  if (!reference || !target || reference->GetPixelFormat() != ie24RGB || reference->IsEmpty() || target->IsEmpty())
    return;
  uint32_t hist[3][256] = {};
  for (int y = 0; y < reference->GetImageHeight(); ++y) {
    const uint8_t* row = reference->GetRowAddress(y);
    for (int x = 0; x < reference->GetImageWidth(); ++x)
      for (int c = 0; c < 3; ++c) ++hist[c][row[3 * x + c]];
  }
  const uint64_t count = uint64_t(reference->GetImageWidth()) * uint64_t(reference->GetImageHeight());
  for (int c = 0; c < 3; ++c) IEMatchChannelHistogram(target, c, hist[c], count);
}

void IEMatchChannelHistogram(TIEBitmap* target, int channel, const uint32_t referenceHistogram[256], uint64_t count) {
  if (!target || target->IsEmpty() || channel < 0 || channel > 2 || count == 0) return;
  const TIEPixelFormat f = target->GetPixelFormat();
  if (f != ie24RGB && f != ieRGB48) return;
  const int W = target->GetImageWidth(), H = target->GetImageHeight();
  // ieRGB48 holds R, G, B: blue is its third sample
  const int sample = f == ie24RGB ? channel : 2 - channel;
  auto level = [&](const uint8_t* row, int x) -> int {
    if (f == ie24RGB) return row[3 * x + sample];
    uint16_t v;
    std::memcpy(&v, row + 6 * x + 2 * sample, 2);
    return v >> 8;
  };
  // 1. equalising map of the target channel
  uint64_t hist[256] = {};
  for (int y = 0; y < H; ++y) {
    const uint8_t* row = target->GetRowAddress(y);
    for (int x = 0; x < W; ++x) ++hist[level(row, x)];
  }
  const double total = double(W) * double(H);
  int equal[256];
  uint64_t cum = 0;
  for (int v = 0; v < 256; ++v) {
    cum += hist[v];
    equal[v] = int(std::trunc(cum * 255.0 / total));
  }
  // 2. the reference's cumulative curve on the same 0..255 scale, 3. its inverse
  double ref[256];
  cum = 0;
  for (int i = 0; i < 256; ++i) {
    cum += referenceHistogram[i];
    ref[i] = 255.0 * double(cum) / double(count);
  }
  int inverse[256];
  for (int i = 0; i < 256; ++i) {
    int best = 0;
    for (int j = 1; j < 256; ++j)
      if (std::fabs(ref[j] - i) < std::fabs(ref[best] - i)) best = j;
    inverse[i] = best;
  }
  int map[256];
  for (int v = 0; v < 256; ++v) map[v] = inverse[equal[v]];
  // 4. both maps at once
  TIEScopedRowAccess keep(target, iraRead | iraWrite);
  for (int y = 0; y < H; ++y) {
    uint8_t* row = target->GetRowAddress(y);
    for (int x = 0; x < W; ++x) {
      const int m = map[level(row, x)];
      if (f == ie24RGB) {
        row[3 * x + sample] = uint8_t(m);
      } else {
        uint16_t v = uint16_t(m * 257);
        std::memcpy(row + 6 * x + 2 * sample, &v, 2);
      }
    }
  }
  target->IsAll255 = false;
}
