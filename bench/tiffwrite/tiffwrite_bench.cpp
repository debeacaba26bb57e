// TIFF encode speed into memory: LZW with the horizontal predictor and Deflate on a 4000 x 3000
// photograph, G4 on a 2480 x 3508 bilevel page (A4 at 300 dpi). The pictures go to
// /tmp/tq-tiff-bench as PPM and PBM, where compare.sh times vips on the same pixels. MB/s counts the
// pixel bytes (24-bit, and 1-bit for the page).
// Usage: tiffwrite [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchcommon.h"
#include "tifencode.h"
#include "tifencoders.h"
#include "vodevovur.h"

namespace {

bool WriteFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

void WritePPM(TIEBitmap& b, const std::string& path) {
  const int w = b.GetImageWidth(), h = b.GetImageHeight();
  std::string all = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  const size_t head = all.size();
  all.resize(head + size_t(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = b.GetRowAddress(y);
    char* d = &all[head + size_t(y) * w * 3];
    for (int x = 0; x < w; ++x) d[3 * x] = char(s[3 * x + 2]), d[3 * x + 1] = char(s[3 * x + 1]), d[3 * x + 2] = char(s[3 * x]);
  }
  WriteFile(path, all);
}

void WritePBM(TIEBitmap& b, const std::string& path) {
  const int w = b.GetImageWidth(), h = b.GetImageHeight(), rowBytes = (w + 7) / 8;
  std::string all = "P4\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = b.GetRowAddress(y);
    for (int i = 0; i < rowBytes; ++i) all.push_back(char(~s[i]));  // PBM: 1 = black
  }
  WriteFile(path, all);
}

double Best(TIEBitmap& b, int compression, int bits, int rounds, int64_t& size) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    TIOParamsVals p(nullptr);
    p.TIFFCompression = compression;
    if (bits == 1) p.BitsPerSample = 1, p.SamplesPerPixel = 1;
    TIEMemoryStream s;
    bool abort = false;
    TIECodecProgress progress;
    progress.Aborting = &abort;
    const double t0 = BenchNow();
    IETIFFWrite(s, false, &b, p, progress);
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
  TIEBitmap photo, page;
  BenchMakePhoto(photo, 4000, 3000);
  BenchMakePage(page, 2480, 3508);
  WritePPM(photo, dir + "\\pic.ppm");
  WritePBM(page, dir + "\\page.pbm");
  const double photoMB = 4000.0 * 3000 * 3 / 1e6, pageMB = 2480.0 / 8 * 3508 / 1e6;
  const struct {
    const char* name;
    TIEBitmap* bitmap;
    int compression, bits;
    double mb;
  } runs[] = {{"LZW + predictor", &photo, 5, 8, photoMB}, {"Deflate", &photo, 9, 8, photoMB}, {"G4 page", &page, 4, 1, pageMB}};
  for (auto& r : runs) {
    int64_t size = 0;
    const double t = Best(*r.bitmap, r.compression, r.bits, rounds, size);
    std::printf("ours  %-16s encode %8.1f MB/s  %10lld bytes (best of %d)\n", r.name, r.mb / t, (long long)size, rounds);
  }
  std::printf("ours  %-16s encode %8.1f MB/s  (the coder alone, best of %d)\n", "LZW rows", photoMB / LZWCoderOnly(photo, rounds), rounds);
  IELibraryStaticFini();
  return 0;
}
