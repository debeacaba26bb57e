// What the image library's benchmarks share: a wall clock and a photograph-like test picture.
#pragma once
#include <windows.h>

#include <cmath>
#include <cstdint>

#include "iebitmap.h"

// Seconds on the performance counter.
inline double BenchNow() {
  static LARGE_INTEGER f = [] { LARGE_INTEGER v; QueryPerformanceFrequency(&v); return v; }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / double(f.QuadPart);
}

// Smooth shading with texture and some flat areas, as a rendered slide with a photograph would have.
inline void BenchMakePhoto(TIEBitmap& b, int w, int h) {
  b.Allocate(w, h, ie24RGB);
  uint32_t seed = 7;
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245 + 12345;
      const int n = int((seed >> 16) & 7);
      const bool flat = y < h / 5;
      r[3 * x] = uint8_t(flat ? 230 : (128 + 100 * std::sin(x * 0.01) + n));
      r[3 * x + 1] = uint8_t(flat ? 230 : (128 + 90 * std::cos(y * 0.013) + n));
      r[3 * x + 2] = uint8_t(flat ? 240 : ((x + y) / 8 % 256));
    }
  }
}
