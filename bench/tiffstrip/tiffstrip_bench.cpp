// Peak memory of reading a large uncompressed RGB TIFF: 7000 x 7000 pixels (147 MB of samples) in
// one strip, as PIL writes it, against the same image in strips of 16 rows. Reading one strip row by
// row should cost about the bitmap alone, as the many small strips do. Each file is read in a process
// of its own, so the peaks do not mask each other. The files go to /tmp/tq-tiff-strip-bench.
// Usage: tiffstrip            writes both files and reads each in a child process
//        tiffstrip read FILE  reads FILE and prints its peaks
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "benchcommon.h"
#include "imageryio.h"
#include "vodevovur.h"

namespace {

constexpr uint32_t kSide = 7000;
constexpr double kMiB = 1024.0 * 1024.0;

void Put(std::vector<uint8_t>& b, uint32_t v, int n) {
  for (int k = 0; k < n; ++k) b.push_back(uint8_t(v >> (8 * k)));
}

// An uncompressed little-endian RGB TIFF of kSide x kSide pixels in strips of `rowsPerStrip` rows,
// written row by row; false when the file cannot be written.
bool WriteTIFF(const std::string& path, uint32_t rowsPerStrip) {
  const uint32_t rowBytes = kSide * 3, strips = (kSide + rowsPerStrip - 1) / rowsPerStrip;
  // header, the directory (10 entries), then bits per sample, the offsets and counts, then the data
  const uint32_t dirAt = 8, dirBytes = 2 + 10 * 12 + 4, bpsAt = dirAt + dirBytes;
  const uint32_t offsAt = bpsAt + 6, countsAt = offsAt + 4 * strips, dataAt = countsAt + 4 * strips;
  std::vector<uint8_t> head = {'I', 'I', 42, 0};
  Put(head, dirAt, 4);
  Put(head, 10, 2);
  auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
    Put(head, tag, 2);
    Put(head, type, 2);
    Put(head, count, 4);
    Put(head, value, 4);
  };
  entry(256, 4, 1, kSide);
  entry(257, 4, 1, kSide);
  entry(258, 3, 3, bpsAt);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 2);
  entry(273, 4, strips, strips == 1 ? dataAt : offsAt);
  entry(277, 3, 1, 3);
  entry(278, 4, 1, rowsPerStrip);
  entry(279, 4, strips, strips == 1 ? kSide * rowBytes : countsAt);
  entry(284, 3, 1, 1);
  Put(head, 0, 4);
  for (int k = 0; k < 3; ++k) Put(head, 8, 2);
  for (uint32_t s = 0; s < strips; ++s) Put(head, dataAt + s * rowsPerStrip * rowBytes, 4);
  for (uint32_t s = 0; s < strips; ++s) Put(head, std::min(rowsPerStrip, kSide - s * rowsPerStrip) * rowBytes, 4);
  head.resize(dataAt, 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
  std::vector<uint8_t> row(rowBytes);
  for (uint32_t y = 0; y < kSide && ok; ++y) {
    for (uint32_t x = 0; x < kSide; ++x) {
      row[3 * x] = uint8_t(x * 255 / kSide);
      row[3 * x + 1] = uint8_t(y * 255 / kSide);
      row[3 * x + 2] = uint8_t((x ^ y) & 0xFF);
    }
    ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
  }
  return std::fclose(f) == 0 && ok;
}

int Read(const std::string& path) {
  IELibraryStaticInit();
  PROCESS_MEMORY_COUNTERS before = {}, after = {};
  before.cb = after.cb = sizeof before;
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  const double t0 = BenchNow();
  bool failed = false;
  {
    TIEBitmap b;
    TImageryIO io(&b);
    io.LoadByContent(std::wstring(path.begin(), path.end()));
    failed = io.Aborting || b.GetImageWidth() != int(kSide);
  }
  const double t = BenchNow() - t0;
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  const double image = double(kSide) * kSide * 3 / kMiB;
  std::printf("%-40s %6.2f s  peak working set +%7.1f MiB, peak commit +%7.1f MiB (the image %.1f MiB)%s\n",
              path.c_str(), t, double(after.PeakWorkingSetSize - before.PeakWorkingSetSize) / kMiB,
              double(after.PeakPagefileUsage - before.PeakPagefileUsage) / kMiB, image, failed ? "  FAILED" : "");
  IELibraryStaticFini();
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) return Read(argv[2]);
  const std::string dir = "Z:\\tmp\\tq-tiff-strip-bench";
  CreateDirectoryA(dir.c_str(), nullptr);
  const struct {
    const char* file;
    uint32_t rowsPerStrip;
  } files[] = {{"\\one-strip.tif", kSide}, {"\\strips-of-16.tif", 16}};
  int failures = 0;
  for (const auto& f : files) {
    const std::string path = dir + f.file;
    if (!WriteTIFF(path, f.rowsPerStrip)) {
      std::printf("cannot write %s\n", path.c_str());
      return 1;
    }
    const int rc = BenchRunSelf("read \"" + path + "\"");
    if (rc < 0) std::printf("cannot start the reader\n");
    failures += rc != 0;
  }
  return failures;
}
