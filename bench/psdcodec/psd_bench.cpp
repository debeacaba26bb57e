// PSD merged-image read speed at 4000 x 3000 RGB (PackBits, as the writer stores it), from memory.
// The file goes to /tmp/tq-psd-bench/ours.psd, where compare.sh times ImageMagick reading the same
// file. MB/s counts the 24-bit pixel bytes.
// Usage: psdcodec [rounds]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchcommon.h"
#include "iepsd.h"
#include "vodevovur.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  IELibraryStaticInit();
  const int w = 4000, h = 3000;
  const std::string dir = "Z:\\tmp\\tq-psd-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  TIEBitmap picture;
  BenchMakePhoto(picture, w, h);
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  TIEMemoryStream file;
  {
    TIOParamsVals params(nullptr);
    TIEPSDLayerList none;
    IEPSDWrite(file, params, progress, &picture, none);
  }
  if (FILE* f = std::fopen((dir + "\\ours.psd").c_str(), "wb")) {
    std::fwrite(file.Memory(), 1, size_t(file.GetSize()), f);
    std::fclose(f);
  }
  const double mb = double(w) * h * 3 / 1e6;
  double best = 1e9;
  TIEBitmap back;
  for (int r = 0; r < rounds; ++r) {
    TIOParamsVals params(nullptr);
    file.SetPosition(0);
    const double t0 = BenchNow();
    IEPSDRead(file, &back, params, progress, false, nullptr);
    best = std::min(best, BenchNow() - t0);
  }
  std::printf("%dx%d ours:  read %7.1f MB/s  %10lld bytes%s (best of %d)\n", w, h, mb / best,
              (long long)file.GetSize(), abort ? " ABORTED" : "", rounds);
  IELibraryStaticFini();
  return abort ? 1 : 0;
}
