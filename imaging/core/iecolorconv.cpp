// Hue, saturation and lightness conversions, grey, inversion, channel order and YUV colours.
#include "iecolorconv.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "iebitmap.h"
#include "ieplatformbitmap.h"

#include "ieutils.h"

void IERGBToHSL(double& hue, double& saturation, double& lightness, uint32_t packedRGB) {
  double r = ((packedRGB >> 16) & 255) / 255.0, g = ((packedRGB >> 8) & 255) / 255.0, b = (packedRGB & 255) / 255.0;
  double mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  lightness = (mx + mn) / 2;
  if (mx == mn) {
    hue = saturation = 0;
    return;
  }
  double d = mx - mn;
  saturation = lightness >= 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
  double h;
  if (mx == r)
    h = (g - b) / d;
  else if (mx != g)  // blue is the maximum
    h = (r - g) / d + 4;
  else
    h = (b - r) / d + 2;
  hue = h / 6;
  if (hue < 0) hue += 1;
}

double IEHueToChannel(double t, double q, double p) {
  if (t < 0) t += 1;
  if (t > 1) t -= 1;
  if (6 * t < 1) return p + (q - p) * 6 * t;
  if (2 * t < 1) return q;
  if (3 * t < 2) return p + (q - p) * (2.0 / 3 - t) * 6;
  return p;
}

void IEHSLToRGB(TIERGB& rgb, double hue, double saturation, double lightness) {
  if (hue < 0) hue += 1;
  if (hue > 1) hue -= 1;
  double s = std::min(1.0, std::max(0.0, saturation)), l = std::min(1.0, std::max(0.0, lightness));
  double r, g, b;
  if (s == 0) {
    r = g = b = l;
  } else {
    double q = l <= 0.5 ? l * (1 + s) : l + s - l * s;
    double p = 2 * l - q;
    r = IEHueToChannel(hue + 1.0 / 3, q, p);
    g = IEHueToChannel(hue, q, p);
    b = IEHueToChannel(hue - 1.0 / 3, q, p);
  }
  rgb.r = uint8_t(IEClampToByte(IERound(r * 255)));
  rgb.g = uint8_t(IEClampToByte(IERound(g * 255)));
  rgb.b = uint8_t(IEClampToByte(IERound(b * 255)));
}

// ---- Grey, inversion, channel order ----

namespace {

void ReportRows(int done, int rows, void* Sender, const TIEProgressEvent& OnProgress) {
  if (OnProgress) OnProgress(Sender, int(done * 100 / (rows + 0.5)));
}

}  // namespace

void IEConvertToGrayRect(TIEBitmap* bitmap, int x1, int y1, int x2, int y2, void* Sender,
                         const TIEProgressEvent& OnProgress) {
  if (!bitmap || bitmap->GetPixelFormat() != ie24RGB) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, bitmap->GetImageWidth());
  y2 = std::min(y2, bitmap->GetImageHeight());
  if (x1 >= x2 || y1 >= y2) return;
  const int rows = y2 - y1;
  for (int y = y1; y < y2; ++y) {
    TIERGB* p = reinterpret_cast<TIERGB*>(bitmap->GetRowAddress(y)) + x1;
    for (int x = x1; x < x2; ++x, ++p) {
      uint8_t g = uint8_t(IERGBToGray(*p));
      p->r = p->g = p->b = g;
    }
    ReportRows(y - y1 + 1, rows, Sender, OnProgress);
  }
}

bool IEExpand1BitTBitmapTo24(TIEPlatformBitmap* source, TIEPlatformBitmap* dest, void* Sender,
                             const TIEProgressEvent& OnProgress) {
  if (!source || !dest || source->GetPixelFormat() != iepf1bit) return false;
  const int w = source->GetWidth(), h = source->GetHeight();
  dest->SetSize(1, 1);
  if (!dest->SetPixelFormat(iepf24bit) || !dest->SetSize(w, h)) return false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = source->ScanLine(y);
    uint8_t* d = dest->ScanLine(y);
    for (int x = 0; x < w; ++x) std::memset(d + 3 * x, (s[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0, 3);
    ReportRows(y + 1, h, Sender, OnProgress);
  }
  return true;
}

void IEInvertBytes(uint8_t* buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) buffer[i] = uint8_t(~buffer[i]);
}

void IEInvertBitmapBits(TIEBitmap* bitmap) {
  if (!bitmap || bitmap->IsEmpty()) return;
  const int len = bitmap->GetRowLength();
  for (int y = 0; y < bitmap->GetImageHeight(); ++y) {
    // A temporary-file row view is written back only when released.
    IEInvertBytes(bitmap->AcquireRow(y), size_t(len));
    bitmap->ReleaseRow(y);
  }
}

bool IEReorderChannels(TIEBitmap* bitmap, const std::string& specification, void* Sender,
                       const TIEProgressEvent& OnProgress) {
  if (!bitmap || specification.size() < 3) return false;
  const TIEPixelFormat f = bitmap->GetPixelFormat();
  if (f != ie24RGB && f != ieRGB48) return false;
  // Source channel of the new blue, green and red: 0 blue, 1 green, 2 red, 3 zero.
  int src[3];
  for (int i = 0; i < 3; ++i) {
    switch (std::toupper(static_cast<unsigned char>(specification[size_t(i)]))) {
      case 'B': src[i] = 0; break;
      case 'G': src[i] = 1; break;
      case 'R': src[i] = 2; break;
      case '0': src[i] = 3; break;
      default: return false;
    }
  }
  const int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bitmap->AcquireRow(y);
    for (int x = 0; x < w; ++x) {
      if (f == ie24RGB) {
        TIERGB& p = reinterpret_cast<TIERGB*>(row)[x];
        const uint8_t c[4] = {p.b, p.g, p.r, 0};
        p.b = c[src[0]]; p.g = c[src[1]]; p.r = c[src[2]];
      } else {
        TIERGB48 p;
        std::memcpy(&p, row + 6 * size_t(x), sizeof p);
        const uint16_t c[4] = {p.b, p.g, p.r, 0};
        p.b = c[src[0]]; p.g = c[src[1]]; p.r = c[src[2]];
        std::memcpy(row + 6 * size_t(x), &p, sizeof p);
      }
    }
    bitmap->ReleaseRow(y);
    if (OnProgress) OnProgress(Sender, int(double(y) / h * 100));
  }
  return true;
}

void IEYUVToRGB(int y, int u, int v, TIERGB& rgb) {
  const double yy = 1.164 * (y - 16);
  rgb.b = uint8_t(IEClampToByte(IERound(yy + 2.018 * (u - 128))));
  rgb.g = uint8_t(IEClampToByte(IERound(yy - 0.813 * (v - 128) - 0.391 * (u - 128))));
  rgb.r = uint8_t(IEClampToByte(IERound(yy + 1.596 * (v - 128))));
}
