// A 4000 x 3000 photograph-like picture scaled down to 1000 x 750 and the result back up to
// 4000 x 3000 with Lanczos3, Triangle, Bicubic and FastLinear, on 1 worker and on one per core; best
// of several rounds. compare.sh scales the same picture, which this program leaves in
// /tmp/tq-resample-bench, with vips (1 and 8 threads) and ImageMagick.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "iebitmap.h"
#include "ieresample.h"
#include "vodevovur.h"

namespace {

void SavePpm(TIEBitmap& b, const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return;
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  std::fprintf(f, "P6 %d %d 255\n", w, h);
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      row[3 * x] = s[3 * x + 2];
      row[3 * x + 1] = s[3 * x + 1];
      row[3 * x + 2] = s[3 * x];
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) rounds = 1;
  const int cores = IEProcessorCount();
  TIEBitmap photo;
  photo.SetMemoryThreshold(int64_t(1) << 40);
  BenchMakePhoto(photo, 4000, 3000);
  CreateDirectoryA("Z:\\tmp\\tq-resample-bench", nullptr);
  SavePpm(photo, "Z:\\tmp\\tq-resample-bench\\photo.ppm");

  TIEBitmap small, big;
  small.SetMemoryThreshold(int64_t(1) << 40);
  big.SetMemoryThreshold(int64_t(1) << 40);
  small.Allocate(1000, 750, ie24RGB);
  big.Allocate(4000, 3000, ie24RGB);
  struct Filter {
    const char* name;
    TResampleFilter f;
  } filters[] = {{"Lanczos3", rfLanczos3}, {"Triangle", rfTriangle}, {"Bicubic", rfBicubic}, {"FastLinear", rfFastLinear}};
  for (int workers : {1, cores}) {
    IEProcessorCountCache = workers;  // what the resampler's passes take as the core count
    for (const Filter& fl : filters) {
      double down = 1e9, up = 1e9;
      for (int i = 0; i < rounds; ++i) {
        double t0 = BenchNow();
        IEResample(&photo, &small, fl.f, nullptr, nullptr);
        down = std::min(down, BenchNow() - t0);
        t0 = BenchNow();
        IEResample(&small, &big, fl.f, nullptr, nullptr);
        up = std::min(up, BenchNow() - t0);
      }
      std::printf("%-10s %d worker(s)  ours: down %7.1f ms  up %7.1f ms  (best of %d)\n", fl.name, workers,
                  down * 1000, up * 1000, rounds);
    }
  }
  IEProcessorCountCache = -1;
  return 0;
}
