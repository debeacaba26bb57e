// TIFF decode speed from memory: LZW with the horizontal predictor, Deflate and PackBits on a
// 4000 x 3000 photograph, G4 on a 2480 x 3508 bilevel page (A4 at 300 dpi). The files are written by
// our writer to /tmp/tq-tiff-read-bench, where compare.sh times vips on the same files. MB/s counts
// the decoded pixel bytes (24-bit, and 1-bit for the page).
// Usage: tiffread [rounds]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tifdecode.h"
#include "tifencoders.h"
#include "tiffbench.h"
#include "tiflzw.h"
#include "vodevovur.h"

namespace {

double Best(TIEMemoryStream& file, int rounds, bool& failed) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    TIOParamsVals p(nullptr);
    TIEBitmap b;
    std::atomic<bool> abort{false};
    TIECodecProgress progress;
    progress.Aborting = &abort;
    file.SetPosition(0);
    const double t0 = BenchNow();
    IETIFFRead(file, b, p, progress, false);
    best = std::min(best, BenchNow() - t0);
    failed = failed || abort;
  }
  return best;
}

// The LZW decoder alone on the photograph's rows (differenced) coded as one strip, a row per call.
double LZWCoderOnly(TIEBitmap& photo, int rounds) {
  const int rowBytes = photo.GetImageWidth() * 3;
  std::string rows;
  std::vector<const uint8_t*> pointers;
  BenchDifferencedRows(photo, rows, pointers);
  const std::vector<uint8_t> strip = IELZWEncodeRows(pointers, rowBytes);
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    TIETIFFLZWDecoderState* st = nullptr;
    for (int y = 0; y < photo.GetImageHeight(); ++y)
      if (!IETIFFLZWDecompress(strip.data(), int64_t(strip.size()), rowBytes, st, 1)) break;
    IETIFFLZWDecompress(nullptr, 0, 0, st, 1);
    best = std::min(best, BenchNow() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  IELibraryStaticInit();
  const std::string dir = "Z:\\tmp\\tq-tiff-read-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  TTIFFBenchPictures pictures;
  const struct {
    const TTIFFBenchCoding& coding;
    const char* file;
  } runs[] = {{kTIFFBenchLZW, "lzw.tif"}, {kTIFFBenchDeflate, "zip.tif"}, {kTIFFBenchPackBits, "packbits.tif"},
              {kTIFFBenchG4, "g4.tif"}};
  for (auto& r : runs) {
    TIEMemoryStream file;
    TIFFBenchEncode(TIFFBenchPicture(pictures, r.coding), r.coding, file);
    BenchWriteFile(dir + "\\" + r.file, file.Memory(), size_t(file.GetSize()));
    bool failed = false;
    const double t = Best(file, rounds, failed);
    std::printf("ours  %-16s decode %8.1f MB/s  %10lld bytes (best of %d)%s\n", r.coding.name,
                TIFFBenchMB(pictures, r.coding) / t, (long long)file.GetSize(), rounds, failed ? "  FAILED" : "");
  }
  std::printf("ours  %-16s decode %8.1f MB/s  (the coder alone, best of %d)\n", "LZW rows",
              pictures.photoMB / LZWCoderOnly(pictures.photo, rounds), rounds);
  IELibraryStaticFini();
  return 0;
}
