// The parameters of every page of a large multi-page TIFF (24 uncompressed 4000 x 1800 RGB pages,
// about 520 MB, written by our writer to /tmp/tq-tiff-params-bench once) read through a file stream:
// the time per pass and the process's peak memory, measured in a child process that does nothing
// else, against the file's size; then the pixels of the last page. Reading the parameters should cost
// the directories, not the file, and reading one page that page.
// Usage: tiffparams [rounds]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "benchcommon.h"
#include "tifdecode.h"
#include "tifencode.h"
#include "vodevovur.h"

namespace {

constexpr int kPages = 24, kWidth = 4000, kHeight = 1800;
const wchar_t kFile[] = L"Z:\\tmp\\tq-tiff-params-bench\\pages.tif";

int64_t FileSize() {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(kFile, GetFileExInfoStandard, &a)) return 0;
  return int64_t(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
}

// Writes the file page by page (each page appended to the chain) unless it is there already.
bool MakeFile() {
  const int64_t expected = int64_t(kPages) * kWidth * kHeight * 3;
  if (FileSize() >= expected) return true;
  CreateDirectoryW(L"Z:\\tmp\\tq-tiff-params-bench", nullptr);
  TIEBitmap page(kWidth, kHeight, ie24RGB);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* r = page.GetRowAddress(y);
    for (int x = 0; x < kWidth * 3; ++x) r[x] = uint8_t(x * 7 + y * 3);
  }
  for (int i = 0; i < kPages; ++i) {
    TIEWideFileStream s(kFile, i == 0 ? fmCreate : fmOpenReadWrite);
    TIOParamsVals p(nullptr);
    p.TIFFImageIndex = kPages;  // after the last page
    std::atomic<bool> abort{false};
    TIECodecProgress progress;
    progress.Aborting = &abort;
    IETIFFWrite(s, i > 0, &page, p, progress);
    if (abort) return false;
  }
  return true;
}

struct Memory {
  size_t peakWorkingSet = 0, peakPrivate = 0;
};

Memory PeakMemory() {
  PROCESS_MEMORY_COUNTERS c = {};
  c.cb = sizeof(c);
  Memory m;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c))) {
    m.peakWorkingSet = c.PeakWorkingSetSize;
    m.peakPrivate = c.PeakPagefileUsage;
  }
  return m;
}

// The child: reads the parameters of every page `rounds` times and prints its figures.
int ReadParams(int rounds) {
  const Memory before = PeakMemory();
  double best = 1e9;
  int pages = 0, bad = 0;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    TIEWideFileStream s(kFile, fmOpenRead);
    for (int i = 0; i < kPages; ++i) {
      TIOParamsVals p(nullptr);
      p.TIFFImageIndex = i;
      TIEBitmap none;
      TIEBitmap* alpha = nullptr;
      std::atomic<bool> abort{false};
      TIECodecProgress progress;
      progress.Aborting = &abort;
      s.SetPosition(0);
      IETIFFRead(none, s, pages, &p, progress, true, alpha, true, false, false);
      if (abort || p.Width != kWidth || p.Height != kHeight) ++bad;
    }
    best = std::min(best, BenchNow() - t0);
  }
  const Memory after = PeakMemory();
  const double mb = 1024.0 * 1024.0;
  std::printf("ours  params of %d pages (%.0f MB file): %.2f ms a pass (best of %d)%s\n", pages, FileSize() / mb,
              best * 1000, rounds, bad ? "  FAILED" : "");
  std::printf("ours  peak working set %.1f MB (%.1f MB before reading), peak private %.1f MB (%.1f MB before)\n",
              after.peakWorkingSet / mb, before.peakWorkingSet / mb, after.peakPrivate / mb, before.peakPrivate / mb);
  const double file = double(std::max<int64_t>(FileSize(), 1));
  std::printf("ours  peak working set %.1f%% of the file; peak private growth while reading %.2f%% of it\n",
              100.0 * double(after.peakWorkingSet) / file, 100.0 * double(after.peakPrivate - before.peakPrivate) / file);
  // then the pixels of the last page: what one page costs, whatever the file holds before it
  {
    const double t0 = BenchNow();
    TIEWideFileStream s(kFile, fmOpenRead);
    TIOParamsVals p(nullptr);
    p.TIFFImageIndex = kPages - 1;
    TIEBitmap page;
    TIEBitmap* alpha = nullptr;
    std::atomic<bool> abort{false};
    TIECodecProgress progress;
    progress.Aborting = &abort;
    IETIFFRead(page, s, pages, &p, progress, false, alpha, true, false, false);
    const double t = BenchNow() - t0;
    const Memory m = PeakMemory();
    std::printf("ours  pixels of the last page (%.1f MB of rows): %.0f ms, peak working set %.1f MB%s\n",
                double(kWidth) * kHeight * 3 / mb, t * 1000, m.peakWorkingSet / mb,
                abort || page.GetImageWidth() != kWidth ? "  FAILED" : "");
    if (abort) ++bad;
  }
  return bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  IELibraryStaticInit();
  if (argc > 2 && std::string(argv[1]) == "read") return ReadParams(std::max(1, std::atoi(argv[2])));
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (!MakeFile()) {
    std::printf("could not write the file\n");
    return 1;
  }
  // the reading runs in a process of its own, so that its peak is not the writing's
  const int rc = BenchRunSelf("read " + std::to_string(rounds));
  if (rc < 0) std::printf("could not start the reading process\n");
  return rc < 0 ? 1 : rc;
}
