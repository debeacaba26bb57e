// TIFF decode speed from memory: LZW with the horizontal predictor, Deflate and PackBits on a
// 4000 x 3000 photograph, G4 on a 2480 x 3508 bilevel page (A4 at 300 dpi). The files are written by
// our writer to /tmp/tq-tiff-read-bench, where compare.sh times vips on the same files. MB/s counts
// the decoded pixel bytes (24-bit, and 1-bit for the page).
// Usage: tiffread [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchcommon.h"
#include "tifdecode.h"
#include "tifencode.h"
#include "tifencoders.h"
#include "tiflzw.h"
#include "vodevovur.h"

namespace {

bool SaveFile(const std::string& path, TIEMemoryStream& s) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const size_t n = size_t(s.GetSize());
  const bool ok = std::fwrite(s.Memory(), 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

void Encode(TIEBitmap& b, int compression, int bits, TIEMemoryStream& out) {
  TIOParamsVals p(nullptr);
  p.TIFFCompression = compression;
  if (bits == 1) p.BitsPerSample = 1, p.SamplesPerPixel = 1;
  bool abort = false;
  TIECodecProgress progress;
  progress.Aborting = &abort;
  IETIFFWrite(out, false, &b, p, progress);
}

double Best(TIEMemoryStream& file, int rounds, bool& failed) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    TIOParamsVals p(nullptr);
    TIEBitmap b;
    bool abort = false;
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
  TIEBitmap photo, page;
  BenchMakePhoto(photo, 4000, 3000);
  BenchMakePage(page, 2480, 3508);
  const double photoMB = 4000.0 * 3000 * 3 / 1e6, pageMB = 2480.0 / 8 * 3508 / 1e6;
  const struct {
    const char* name;
    const char* file;
    TIEBitmap* bitmap;
    int compression, bits;
    double mb;
  } runs[] = {{"LZW + predictor", "lzw.tif", &photo, 5, 8, photoMB},
              {"Deflate", "zip.tif", &photo, 9, 8, photoMB},
              {"PackBits", "packbits.tif", &photo, 8, 8, photoMB},
              {"G4 page", "g4.tif", &page, 4, 1, pageMB}};
  for (auto& r : runs) {
    TIEMemoryStream file;
    Encode(*r.bitmap, r.compression, r.bits, file);
    SaveFile(dir + "\\" + r.file, file);
    bool failed = false;
    const double t = Best(file, rounds, failed);
    std::printf("ours  %-16s decode %8.1f MB/s  %10lld bytes (best of %d)%s\n", r.name, r.mb / t,
                (long long)file.GetSize(), rounds, failed ? "  FAILED" : "");
  }
  std::printf("ours  %-16s decode %8.1f MB/s  (the coder alone, best of %d)\n", "LZW rows", photoMB / LZWCoderOnly(photo, rounds), rounds);
  IELibraryStaticFini();
  return 0;
}
