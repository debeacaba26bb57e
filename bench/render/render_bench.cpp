// A view's paint: a 4000 x 3000 24-bit picture rendered into a 1920 x 1080 back buffer, fitted
// (1440 x 1080, nearest pixel) opaque and at transparency 128, and 1:1 (the top-left 1920 x 1080).
// Frames per second, best of several rounds; compare.sh times PIL on the same sizes.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "iebitmap.h"
#include "iebitmaprender.h"

namespace {

const int kSrcW = 4000, kSrcH = 3000, kDstW = 1920, kDstH = 1080;

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (rounds < 1) rounds = 1;
  TIEBitmap src;
  src.SetMemoryThreshold(int64_t(1) << 40);  // keep the picture in memory
  src.Allocate(kSrcW, kSrcH, ie24RGB);
  for (int y = 0; y < kSrcH; ++y) {
    uint8_t* r = src.GetRowAddress(y);
    for (int x = 0; x < kSrcW; ++x) {
      r[3 * x] = uint8_t(x ^ y);
      r[3 * x + 1] = uint8_t(x + y);
      r[3 * x + 2] = uint8_t(x * 3);
    }
  }
  TIEBitmap dst(kDstW, kDstH, ie24RGB);
  struct Case {
    const char* name;
    int dw, dh, sw, sh, transparency;
  };
  const Case kCases[] = {{"fit, opaque", 1440, 1080, kSrcW, kSrcH, 255},
                         {"fit, transparency 128", 1440, 1080, kSrcW, kSrcH, 128},
                         {"1:1, opaque", kDstW, kDstH, kDstW, kDstH, 255}};
  for (const Case& c : kCases) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
      const int frames = 10;
      double t0 = Now();
      for (int f = 0; f < frames; ++f)
        IERenderInto(&src, &dst, 0, 0, c.dw, c.dh, 0, 0, c.sw, c.sh, c.transparency, ieboNormal);
      double per = (Now() - t0) / frames;
      if (per < best) best = per;
    }
    std::printf("%-24s ours: %7.2f ms per frame, %6.1f frames/s (best of %d)\n", c.name, best * 1000, 1 / best, rounds);
  }
  return 0;
}
