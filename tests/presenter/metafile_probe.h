// Plays an exported metafile back the way the conversion program does (GDI+, stretched into a
// 24-bit bitmap of the requested size) and reads pixels of the result.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace presenter_test {

struct Playback {
  bool loaded = false;
  UINT imageWidth = 0, imageHeight = 0;  // as GDI+ reports the metafile
  int width = 0, height = 0;             // of the bitmap drawn into
  std::vector<BYTE> bgr;                 // top-down rows, 3 bytes per pixel, 4-byte aligned

  COLORREF At(int x, int y) const {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    const BYTE* p = &bgr[size_t(y) * stride + size_t(x) * 3];
    return RGB(p[2], p[1], p[0]);
  }
};

inline Playback PlayMetafile(const std::wstring& path, int width, int height) {
  using namespace Gdiplus;
  Playback out;
  GpImage* image = nullptr;
  if (DllExports::GdipLoadImageFromFile(path.c_str(), &image) != Ok) return out;
  out.loaded = true;
  DllExports::GdipGetImageWidth(image, &out.imageWidth);
  DllExports::GdipGetImageHeight(image, &out.imageHeight);
  out.width = width;
  out.height = height;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
  memset(bits, 255, stride * height);
  GpGraphics* g = nullptr;
  DllExports::GdipCreateFromHDC(dc, &g);
  DllExports::GdipSetInterpolationMode(g, InterpolationModeHighQualityBicubic);
  DllExports::GdipDrawImageRectRectI(g, image, 0, 0, width, height, 0, 0, INT(out.imageWidth), INT(out.imageHeight),
                                     UnitPixel, nullptr, nullptr, nullptr);
  DllExports::GdipDeleteGraphics(g);
  GdiFlush();
  out.bgr.assign(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + stride * height);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  DllExports::GdipDisposeImage(image);
  return out;
}

inline bool Near(COLORREF a, COLORREF b, int tolerance = 12) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

inline std::string Hex(COLORREF c) {
  char s[8];
  snprintf(s, sizeof s, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return s;
}

// A point of the slide in inches, for a slide of (slideW x slideH) inches drawn at (w x h) pixels.
struct Sample {
  double xIn, yIn;
  COLORREF expect;
  const char* what;
};

}  // namespace presenter_test
