// A 4000 x 3000 CMYK picture into 24-bit rows through the built-in CMYK profile and the system sRGB
// profile (the colour engine of the platform), best of several rounds: row by row as the codecs
// call it, and the whole picture in one call (bands of rows on a few threads). The pixels and the profile are
// left in /tmp/tq-cmyk-bench; compare.sh converts them with PIL's ImageCms (the same profiles).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "iecmyk.h"
#include "ieicc.h"
#include "vodevovur.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  if (!IELoadCMYKProfile()) {
    std::printf("no colour management here: the profiles did not load\n");
    return 1;
  }
  const int w = 4000, h = 3000;
  std::vector<uint8_t> cmyk(size_t(w) * h * 4);
  uint32_t seed = 11;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &cmyk[(size_t(y) * w + x) * 4];
      seed = seed * 1103515245 + 12345;
      p[0] = uint8_t(255 - (x * 255 / w));
      p[1] = uint8_t(255 - (y * 255 / h));
      p[2] = uint8_t(255 - ((x + y) / 16 % 256));
      p[3] = uint8_t(200 + ((seed >> 16) & 55));  // 255 = no ink
    }
  CreateDirectoryA("Z:\\tmp\\tq-cmyk-bench", nullptr);
  if (FILE* f = std::fopen("Z:\\tmp\\tq-cmyk-bench\\pixels.cmyk", "wb")) {
    std::fwrite(cmyk.data(), 1, cmyk.size(), f);
    std::fclose(f);
  }
  if (FILE* f = std::fopen("Z:\\tmp\\tq-cmyk-bench\\cmyk.icc", "wb")) {
    const std::vector<uint8_t>& raw = IECMYKProfile->Raw();
    std::fwrite(raw.data(), 1, raw.size(), f);
    std::fclose(f);
  }
  std::vector<TIERGB> rgb(size_t(w) * h), banded(size_t(w) * h);
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    for (int y = 0; y < h; ++y) IECMYKRowToRGB(&cmyk[size_t(y) * w * 4], &rgb[size_t(y) * w], w);
    best = std::min(best, BenchNow() - t0);
  }
  std::printf("CMYK to 24-bit, 4000 x 3000, row by row   ours: %8.1f ms  (best of %d)\n", best * 1000, rounds);
  best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    IECMYKRowsToRGB(cmyk.data(), w * 4, banded.data(), w * 3, w, h);
    best = std::min(best, BenchNow() - t0);
  }
  const bool same = std::equal(rgb.begin(), rgb.end(), banded.begin(), [](const TIERGB& a, const TIERGB& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
  });
  std::printf("CMYK to 24-bit, 4000 x 3000, one call     ours: %8.1f ms  (best of %d, %d cores)%s\n", best * 1000,
              rounds, IEProcessorCount(), same ? "" : "  DIFFERS FROM ROW BY ROW");
  IELibraryStaticFini();
  return 0;
}
