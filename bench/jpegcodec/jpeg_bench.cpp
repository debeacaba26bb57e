// JPEG encode and decode speed at 4000 x 3000 (quality 80, 4:2:0, the writer's defaults), from and to
// memory. The picture goes to /tmp/tq-jpeg-bench as a PPM and our file as ours.jpg, where compare.sh
// times cjpeg and djpeg on the same pixels. MB/s counts the 24-bit pixel bytes.
// Usage: jpegcodec [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchcommon.h"
#include "jpegfilt.h"
#include "vodevovur.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  IELibraryStaticInit();
  const int w = 4000, h = 3000;
  const std::string dir = "Z:\\tmp\\tq-jpeg-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  TIEBitmap picture;
  BenchMakePhoto(picture, w, h);
  BenchWritePPM(picture, dir + "\\pic.ppm");
  const double mb = double(w) * h * 3 / 1e6;

  bool abort = false;
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
  // Decoding into a bitmap the previous round left allocated times the codec; into a new one it
  // also times the first touch of 36 MB of fresh pixel memory.
  double bestFresh = 1e9;
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
  }
  std::printf("%dx%d ours:  encode %7.1f MB/s  decode %7.1f MB/s  %10lld bytes%s (best of %d; decode into a new "
              "bitmap %.1f MB/s)\n",
              w, h, mb / bestEnc, mb / bestDec, (long long)encoded.GetSize(), abort ? " ABORTED" : "", rounds,
              mb / bestFresh);
  IELibraryStaticFini();
  return abort ? 1 : 0;
}
