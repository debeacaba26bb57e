// A 4000 x 3000 photograph-like picture turned by 30 degrees (the canvas grows to hold it) through the
// three shears (antialiased) and through bicubic sampling; best of several rounds. compare.sh turns
// the same picture, which this program leaves in /tmp/tq-rotate-bench, with ImageMagick and PIL.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "iebitmap.h"
#include "ierotate.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) rounds = 1;
  const int w = 4000, h = 3000;
  TIEBitmap photo;
  photo.SetMemoryThreshold(int64_t(1) << 40);
  BenchMakePhoto(photo, w, h);

  // The same pixels for the other tools, as a binary PPM (rows bottom-up in memory are BGR).
  CreateDirectoryA("Z:\\tmp\\tq-rotate-bench", nullptr);
  if (FILE* f = std::fopen("Z:\\tmp\\tq-rotate-bench\\photo.ppm", "wb")) {
    std::fprintf(f, "P6 %d %d 255\n", w, h);
    std::vector<uint8_t> row(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = photo.GetRowAddress(y);
      for (int x = 0; x < w; ++x) {
        row[3 * x] = s[3 * x + 2];
        row[3 * x + 1] = s[3 * x + 1];
        row[3 * x + 2] = s[3 * x];
      }
      std::fwrite(row.data(), 1, row.size(), f);
    }
    std::fclose(f);
  }

  const TIERGB white{255, 255, 255};
  struct Case {
    const char* name;
    bool shear;
  } cases[] = {{"three shears, antialiased", true}, {"bicubic sampling", false}};
  for (const Case& c : cases) {
    double best = 1e9;
    int outW = 0, outH = 0;
    for (int i = 0; i < rounds; ++i) {
      TIEBitmap work;
      work.SetMemoryThreshold(int64_t(1) << 40);
      work.Assign(&photo);
      const double t0 = BenchNow();
      const bool ok = c.shear ? IERotateShear(&work, true, nullptr, nullptr, white, 30.0)
                              : IERotateAntialias(&work, white, 2, nullptr, nullptr, 30.0);
      const double t = BenchNow() - t0;
      if (!ok) {
        std::printf("%s: refused\n", c.name);
        return 1;
      }
      outW = work.GetImageWidth();
      outH = work.GetImageHeight();
      if (t < best) best = t;
    }
    std::printf("%-28s ours: %8.1f ms  (%d x %d, best of %d)\n", c.name, best * 1000, outW, outH, rounds);
  }
  return 0;
}
