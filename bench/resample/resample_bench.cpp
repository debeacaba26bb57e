// A 4928 x 3279 photograph-like picture scaled to 852 x 567 (the size of published resize figures)
// with Lanczos3, Triangle, Bilinear, Bicubic and FastLinear, on 1 worker and on one per core, the
// picture and the result in memory; best of several rounds. The picture goes to
// /tmp/tq-resample-bench (PPM) and the times to ours.txt there, where compare.sh times vips and
// ImageMagick in their own processes on the same pixels and prints the ratios.
// Usage: resample [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchcommon.h"
#include "iebitmap.h"
#include "ieresample.h"
#include "vodevovur.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int cores = IEProcessorCount();
  const int sw = 4928, sh = 3279, dw = 852, dh = 567;
  TIEBitmap photo;
  photo.SetMemoryThreshold(int64_t(1) << 40);
  BenchMakePhoto(photo, sw, sh);
  const std::string dir = "Z:\\tmp\\tq-resample-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  BenchWritePPM(photo, dir + "\\photo.ppm");

  TIEBitmap small;
  small.SetMemoryThreshold(int64_t(1) << 40);
  small.Allocate(dw, dh, ie24RGB);
  struct Filter {
    const char* name;
    TResampleFilter f;
  } filters[] = {{"Lanczos3", rfLanczos3}, {"Triangle", rfTriangle}, {"Bilinear", rfBilinear},
                 {"Bicubic", rfBicubic},   {"FastLinear", rfFastLinear}};
  std::string figures;
  for (int workers : {1, cores}) {
    IEProcessorCountCache = workers;  // what the resampler's passes take as the core count
    for (const Filter& fl : filters) {
      double best = 1e9;
      for (int i = 0; i < rounds; ++i) {
        const double t0 = BenchNow();
        IEResample(&photo, &small, fl.f, nullptr, nullptr);
        best = std::min(best, BenchNow() - t0);
      }
      std::printf("ours  %-10s %d worker(s)  %dx%d -> %dx%d %8.1f ms  (best of %d)\n", fl.name, workers, sw, sh, dw,
                  dh, best * 1000, rounds);
      figures += std::string(fl.name) + " " + std::to_string(workers) + " " + std::to_string(best * 1000) + "\n";
    }
  }
  // the portable rows, for the gain of the vector ones
  IEProcessorCountCache = 1;
  IEResampleUseSimd = false;
  for (const Filter& fl : {filters[0], filters[1]}) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
      const double t0 = BenchNow();
      IEResample(&photo, &small, fl.f, nullptr, nullptr);
      best = std::min(best, BenchNow() - t0);
    }
    std::printf("ours  %-10s 1 worker(s)  portable rows %8.1f ms  (best of %d)\n", fl.name, best * 1000, rounds);
  }
  IEResampleUseSimd = true;
  IEProcessorCountCache = -1;
  BenchWriteFile(dir + "\\ours.txt", figures.data(), figures.size());
  return 0;
}
