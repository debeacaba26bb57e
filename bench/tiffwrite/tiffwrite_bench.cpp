// TIFF encode speed into memory: LZW with the horizontal predictor and Deflate (on one worker per
// core and on one) on a 4000 x 3000 photograph, G4 on a 2480 x 3508 bilevel page (A4 at 300 dpi).
// The pictures go to /tmp/tq-tiff-bench as PPM and PBM and the figures to ours.txt there, where
// compare.sh times tiffcp and vips on the same pixels. MB/s counts the pixel bytes (24-bit, and 1-bit
// for the page).
// Usage: tiffwrite [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tifencoders.h"
#include "tiffbench.h"
#include "vodevovur.h"

namespace {

// One output stream for every round, emptied each time: from the second round on the file goes into
// memory already touched, as the tools' files go into the page cache (the first touch of fresh
// memory costs far more under wine than the coding itself).
double Best(TIEBitmap& b, const TTIFFBenchCoding& c, int rounds, int64_t& size) {
  double best = 1e9;
  TIEMemoryStream s;
  for (int r = 0; r < rounds; ++r) {
    s.SetSize(0);
    const double t0 = BenchNow();
    TIFFBenchEncode(b, c, s);
    best = std::min(best, BenchNow() - t0);
    size = s.GetSize();
  }
  return best;
}

// The LZW encoder alone on the photograph's rows (differenced), a row per call, into one strip.
double LZWCoderOnly(TIEBitmap& photo, int rounds) {
  const int rowBytes = photo.GetImageWidth() * 3;
  std::string rows;
  std::vector<const uint8_t*> pointers;
  BenchDifferencedRows(photo, rows, pointers);
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    const std::vector<uint8_t> strip = IELZWEncodeRows(pointers, rowBytes);
    best = std::min(best, BenchNow() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  IELibraryStaticInit();
  const std::string dir = "Z:\\tmp\\tq-tiff-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  TTIFFBenchPictures pictures;
  BenchWritePPM(pictures.photo, dir + "\\pic.ppm");
  BenchWritePBM(pictures.page, dir + "\\page.pbm");
  std::string figures;  // for compare.sh: name|MB/s per line
  for (const TTIFFBenchCoding& c : {kTIFFBenchLZW, kTIFFBenchDeflate, kTIFFBenchG4}) {
    int64_t size = 0;
    const double t = Best(TIFFBenchPicture(pictures, c), c, rounds, size);
    const double mbs = TIFFBenchMB(pictures, c) / t;
    std::printf("ours  %-16s encode %8.1f MB/s  %10lld bytes (best of %d)\n", c.name, mbs, (long long)size, rounds);
    figures += std::string(c.name) + "|" + std::to_string(mbs) + "\n";
  }
  {
    IEProcessorCountCache = 1;  // the Deflate strips compressed one at a time
    int64_t size = 0;
    const double mbs = pictures.photoMB / Best(pictures.photo, kTIFFBenchDeflate, rounds, size);
    IEProcessorCountCache = -1;
    std::printf("ours  %-16s encode %8.1f MB/s  %10lld bytes (1 worker, best of %d)\n", "Deflate", mbs, (long long)size,
                rounds);
    figures += "Deflate 1 worker|" + std::to_string(mbs) + "\n";
  }
  BenchWriteFile(dir + "\\ours.txt", figures.data(), figures.size());
  std::printf("ours  %-16s encode %8.1f MB/s  (the coder alone, best of %d)\n", "LZW rows",
              pictures.photoMB / LZWCoderOnly(pictures.photo, rounds), rounds);
  IELibraryStaticFini();
  return 0;
}
