// Encode and decode speed of the Targa, PCX, Windows bitmap, JPEG 2000 (lossless and rate 0.1) and
// PNG (filter Paeth, zlib level 5) codecs on a photograph-like picture at 1920 x 1080 and 4000 x 3000.
// The pictures are also written as PPM files to /tmp/tq-io-bench, where compare.sh times netpbm's,
// OpenJPEG's and libvips' tools on them; the encode times go to ours.txt there.
// MB/s counts the 24-bit pixel bytes. Usage: io_formats [rounds]
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchcommon.h"
#include "imageryio.h"
#include "vodevovur.h"

namespace {

void WritePPM(TIEBitmap& b, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fprintf(f, "P6\n%d %d\n255\n", b.GetImageWidth(), b.GetImageHeight());
  std::string row(size_t(b.GetImageWidth()) * 3, '\0');
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    const uint8_t* s = b.GetRowAddress(y);
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      row[3 * x] = char(s[3 * x + 2]); row[3 * x + 1] = char(s[3 * x + 1]); row[3 * x + 2] = char(s[3 * x]);
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  IELibraryStaticInit();
  CreateDirectoryA("Z:\\tmp\\tq-io-bench", nullptr);
  struct Size { int w, h; const char* name; } sizes[] = {{1920, 1080, "1920x1080"}, {4000, 3000, "4000x3000"}};
  struct Codec { const char* name; TIEFileFormatCode type; double rate; } codecs[] = {
      {"TGA", iffTGA, 1}, {"PCX", iffPCX, 1}, {"BMP", iffBMP, 1}, {"J2K lossless", iffJ2K, 1}, {"J2K rate 0.1", iffJ2K, 0.1},
      {"PNG Paeth 5", iffPNG, 1}};
  std::string figures;  // for compare.sh: size|codec|encode ms per line
  for (const Size& s : sizes) {
    TIEBitmap picture;
    BenchMakePhoto(picture, s.w, s.h);
    WritePPM(picture, std::string("Z:\\tmp\\tq-io-bench\\") + s.name + ".ppm");
    const double mb = double(s.w) * s.h * 3 / 1e6;
    for (const Codec& c : codecs) {
      double bestEnc = 1e9, bestDec = 1e9;
      int64_t bytes = 0;
      for (int r = 0; r < rounds; ++r) {
        TImageryIO io(&picture);
        io.Params.J2000Rate = c.rate;
        io.Params.PNGFilter = 2;  // Paeth
        io.Params.PNGCompression = 5;
        TIEMemoryStream m;
        double t0 = BenchNow();
        io.SaveStreamAsFileType(m, c.type);
        bestEnc = std::min(bestEnc, BenchNow() - t0);
        bytes = m.GetSize();
        TIEBitmap back;
        TImageryIO reader(&back);
        m.SetPosition(0);
        t0 = BenchNow();
        reader.LoadStreamAsFileType(m, c.type);
        bestDec = std::min(bestDec, BenchNow() - t0);
        if (io.Aborting || reader.Aborting) std::printf("  %s failed\n", c.name);
      }
      std::printf("%-9s %-13s ours: encode %7.1f MB/s  decode %7.1f MB/s  %10lld bytes\n", s.name, c.name,
                  mb / bestEnc, mb / bestDec, static_cast<long long>(bytes));
      figures += std::string(s.name) + "|" + c.name + "|" + std::to_string(bestEnc * 1000) + "\n";
    }
  }
  BenchWriteFile("Z:\\tmp\\tq-io-bench\\ours.txt", figures.data(), figures.size());
  IELibraryStaticFini();
  return 0;
}
