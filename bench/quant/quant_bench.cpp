// Colour reduction to 256 and 16 colours on photograph-like pictures of 1920 x 1080 and 4000 x 3000:
// time (palette making plus mapping every pixel, best of three) and mean error (|dr| + |dg| + |db| per
// pixel) for NeuQuant and median cut. The pictures are left as PPM files in /tmp/tq-quant-bench for
// compare.sh, which runs the same reductions through ImageMagick, PIL and pngquant.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "iecolorreduction.h"
#include "iequantizer.h"

namespace {

constexpr int kRuns = 3;
const char* const kFolder = "Z:\\tmp\\tq-quant-bench";

double Seconds() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

uint8_t Clamp(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Sky gradient, textured foliage, a shaded object with hard edges, noise and a white patch.
void PhotoLike(TIEBitmap& b, int w, int h) {
  b.Allocate(w, h, ie24RGB);
  uint32_t s = 12345;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      int n = int((s >> 24) & 0xFF) / 16 - 8;
      int r, g, bl;
      double fx = double(x) / w, fy = double(y) / h;
      if (fy < 0.35) {
        r = int(80 + 80 * fy) + n;
        g = int(130 + 90 * fy) + n;
        bl = int(235 - 30 * fx) + n;
      } else if (fx < 0.5) {
        r = 30 + (x * 37 + y * 11) % 60 + n;
        g = 90 + (x * 13 + y * 29) % 110 + n;
        bl = 20 + (x * y) % 40 + n;
      } else {
        double d = (fx - 0.75) * (fx - 0.75) + (fy - 0.65) * (fy - 0.65);
        r = int(230 - 900 * d) + n;
        g = int((fx > 0.8 ? 120 : 40) + 200 * d) + n;
        bl = int(60 + 80 * fx) + n;
      }
      if (fx < 0.1 && fy < 0.1) r = g = bl = 255;
      row[3 * x] = Clamp(bl);
      row[3 * x + 1] = Clamp(g);
      row[3 * x + 2] = Clamp(r);
    }
  }
}

void WritePPM(TIEBitmap& b, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  std::fprintf(f, "P6\n%d %d\n255\n", w, h);
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      row[3 * size_t(x)] = p[3 * x + 2];
      row[3 * size_t(x) + 1] = p[3 * x + 1];
      row[3 * size_t(x) + 2] = p[3 * x];
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
}

double MeanError(TIEBitmap& a, TIEBitmap& b) {
  const int w = a.GetImageWidth(), h = a.GetImageHeight();
  double sum = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = a.GetRowAddress(y);
    const uint8_t* q = b.GetRowAddress(y);
    int64_t s = 0;
    for (int i = 0; i < 3 * w; ++i) s += std::abs(int(p[i]) - int(q[i]));
    sum += double(s);
  }
  return sum / (double(w) * h);
}

void Run(TIEBitmap& src, const char* name, int algorithm, int colors) {
  IEColorReductionAlgorithm = algorithm;
  double best = 1e30, err = 0;
  for (int i = 0; i < kRuns; ++i) {
    TIEBitmap work;
    work.Assign(&src);
    double t0 = Seconds();
    IEQuantizeInPlace(&work, colors, nullptr, nullptr, nullptr);
    double t = Seconds() - t0;
    if (t < best) best = t;
    err = MeanError(src, work);
  }
  std::printf("  %-12s %3d colours  %8.1f ms  mean error %6.2f\n", name, colors, best * 1000, err);
}

}  // namespace

int main() {
  CreateDirectoryA(kFolder, nullptr);
  const int sizes[2][2] = {{1920, 1080}, {4000, 3000}};
  for (const auto& s : sizes) {
    TIEBitmap src;
    PhotoLike(src, s[0], s[1]);
    std::string name = std::string(kFolder) + "\\photo" + std::to_string(s[0]) + "x" + std::to_string(s[1]) + ".ppm";
    WritePPM(src, name);
    std::printf("this library, %d x %d (best of %d; palette and mapping)\n", s[0], s[1], kRuns);
    for (int colors : {256, 16}) {
      Run(src, "NeuQuant", 0, colors);
      Run(src, "median cut", 1, colors);
    }
  }
  IEColorReductionAlgorithm = -1;
  return 0;
}
