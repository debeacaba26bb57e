// JPEG encode and decode speed at 4000 x 3000 (quality 80, 4:2:0, the writer's defaults), best of N:
// - encode from the bitmap into a memory stream; decode from that stream into the bitmap the previous
//   round left (its storage is kept: the rows are written, not first touched);
// - loads of the written file by name through the component into one bitmap, as an application that
//   opens picture after picture of one size does;
// - decodes into a new bitmap, and, beside them, the first write to that much new memory alone.
// The picture goes to /tmp/tq-jpeg-bench as a PPM, our file as ours.jpg and our encode and decode
// figures as ours.txt, where compare.sh times cjpeg and djpeg on the same pixels and sets the figures
// side by side. MB/s counts the 24-bit pixel bytes.
// Usage: jpegcodec [rounds]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "benchcommon.h"
#include "imageryio.h"
#include "jpegfilt.h"
#include "vodevovur.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  IELibraryStaticInit();
  const int w = 4000, h = 3000;
  const std::string dir = "Z:\\tmp\\tq-jpeg-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  DeleteFileA((dir + "\\ours.txt").c_str());  // compare.sh sets no figures of an earlier run beside its own
  TIEBitmap picture;
  BenchMakePhoto(picture, w, h);
  BenchWritePPM(picture, dir + "\\pic.ppm");
  const double mb = double(w) * h * 3 / 1e6;

  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  double bestEnc = 1e9, bestDec = 1e9;
  TIEMemoryStream encoded;
  for (int r = 0; r < rounds; ++r) {
    TIOParamsVals params(nullptr);
    encoded.Clear();
    const double t0 = BenchNow();
    IEJPEGWrite(encoded, picture, params, progress);
    bestEnc = std::min(bestEnc, BenchNow() - t0);
  }
  BenchWriteFile(dir + "\\ours.jpg", encoded.Memory(), size_t(encoded.GetSize()));
  double bestFresh = 1e9, bestTouch = 1e9;
  TIEBitmap back;
  for (int r = 0; r < rounds; ++r) {
    for (bool fresh : {false, true}) {
      TIOParamsVals params(nullptr);
      TIEBitmap newBitmap;
      encoded.SetPosition(0);
      const double t0 = BenchNow();
      IEJPEGRead(encoded, nullptr, fresh ? newBitmap : back, params, progress, false, false, true, false, false, true, -1,
                 false);
      double& best = fresh ? bestFresh : bestDec;
      best = std::min(best, BenchNow() - t0);
    }
    TIEBitmap untouched;
    untouched.Allocate(w, h, ie24RGB);
    const double t0 = BenchNow();
    for (int y = 0; y < h; ++y) std::memset(untouched.GetRowAddress(y), 1, size_t(w) * 3);
    bestTouch = std::min(bestTouch, BenchNow() - t0);
  }
  const std::wstring file = L"Z:\\tmp\\tq-jpeg-bench\\ours.jpg";
  double bestLoad = 1e9;
  bool loadFailed = false;
  TIEBitmap loaded;
  TImageryIO reader(&loaded);
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    reader.LoadAsFileType(file, iffJPEG);
    bestLoad = std::min(bestLoad, BenchNow() - t0);
    loadFailed = loadFailed || reader.Aborting || loaded.GetImageWidth() != w;
  }
  std::printf("%dx%d ours:  encode %7.1f MB/s  decode %7.1f MB/s  %10lld bytes%s (best of %d; memory to memory)\n", w,
              h, mb / bestEnc, mb / bestDec, (long long)encoded.GetSize(), abort ? " ABORTED" : "", rounds);
  std::printf("%dx%d ours:  file loads into one bitmap %7.1f MB/s%s; decode into a new bitmap %.1f MB/s, where the "
              "first write to %.0f MB of new memory alone takes %.1f ms\n",
              w, h, mb / bestLoad, loadFailed ? " FAILED" : "", mb / bestFresh, mb, bestTouch * 1e3);
  if (FILE* f = std::fopen((dir + "\\ours.txt").c_str(), "w")) {
    std::fprintf(f, "%.1f %.1f %.1f\n", mb / bestEnc, mb / bestDec, mb / bestLoad);
    std::fclose(f);
  }
  IELibraryStaticFini();
  return abort || loadFailed ? 1 : 0;
}
