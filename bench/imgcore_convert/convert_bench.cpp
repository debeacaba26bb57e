// Pixel-format conversion throughput of the pixel buffer at 4000 x 3000, in memory and in a temporary
// file: 24 -> 32 bits, 32 -> 24 bits, 24-bit -> 8-bit grey, 24-bit -> 1 bit (threshold at the mean
// grey, the default). MB/s counts source bytes (1 MB = 1,000,000 bytes); best of five runs.
#include <windows.h>

#include <cstdio>

#include "iebitmap.h"

namespace {

constexpr int kWidth = 4000, kHeight = 3000, kRuns = 5;

double Seconds() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

void Prepare(TIEBitmap& b, TIELocation where, TIEPixelFormat f) {
  b.SetMemoryThreshold(where == ieTempFile ? 0 : (int64_t(1) << 40));
  b.SetLocation(where);
  b.Allocate(kWidth, kHeight, f);
}

void Run(const char* name, TIEPixelFormat from, TIEPixelFormat to, TIELocation where) {
  TIEBitmap src, dst;
  Prepare(src, where, ie24RGB);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* r = src.GetRowAddress(y);
    for (int x = 0; x < kWidth * 3; ++x) r[x] = uint8_t(x * 7 + y * 13);
  }
  if (from != ie24RGB) src.ConvertPixelFormat(from);
  Prepare(dst, where, to);
  double best = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    double t0 = Seconds();
    dst.ConvertFrom(&src);
    double t = Seconds() - t0;
    if (t < best) best = t;
  }
  double mb = double(src.GetRowLength()) * kHeight / 1e6;
  std::printf("%-22s %-9s %8.1f MB/s  (%.1f ms)\n", name, where == ieTempFile ? "tempfile" : "memory",
              mb / best, best * 1000);
}

}  // namespace

int main() {
  std::printf("pixel buffer conversions, %d x %d, best of %d\n", kWidth, kHeight, kRuns);
  for (TIELocation where : {ieMemory, ieTempFile}) {
    Run("24-bit -> 32-bit", ie24RGB, ie32RGB, where);
    Run("32-bit -> 24-bit", ie32RGB, ie24RGB, where);
    Run("24-bit -> 8-bit grey", ie24RGB, ie8g, where);
    Run("24-bit -> 1-bit", ie24RGB, ie1g, where);
  }
  return 0;
}
