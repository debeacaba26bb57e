// The last frame of a 200-frame 640 x 480 animated GIF as it is shown (every frame before it drawn
// in turn), loaded through the input/output component, best of several rounds. The file is made once
// from one-frame GIFs of our writer, each frame's own colours moved into a local table, and kept in
// /tmp/tq-gifframes-bench; compare.sh times PIL seeking to the same frame of the same file.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "giffilter.h"
#include "imageryio.h"
#include "vodevovur.h"

namespace {

constexpr int kFrames = 200, kW = 640, kH = 480;
const wchar_t kFile[] = L"Z:\\tmp\\tq-gifframes-bench\\anim.gif";

// A moving, shaded picture: every frame differs everywhere, as a video clip would.
void MakeFrame(TIEBitmap& b, int n) {
  b.Allocate(kW, kH, ie24RGB);
  for (int y = 0; y < kH; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < kW; ++x) {
      r[3 * x] = uint8_t(128 + 100 * std::sin((x + 3 * n) * 0.02));
      r[3 * x + 1] = uint8_t(128 + 100 * std::cos((y + 2 * n) * 0.017));
      r[3 * x + 2] = uint8_t((x + y + 5 * n) / 4 % 256);
    }
  }
}

bool MakeFile() {
  std::vector<uint8_t> out;
  TIEBitmap frame;
  for (int n = 0; n < kFrames; ++n) {
    MakeFrame(frame, n);
    TImageryIO io(&frame);
    io.Params.BitsPerSample = 8;
    TIEMemoryStream one;
    io.SaveStreamAsFileType(one, iffGIF);
    if (io.Aborting) return false;
    const uint8_t* g = static_cast<const uint8_t*>(one.Memory());
    const size_t size = size_t(one.GetSize());
    const size_t table = size_t(3) << ((g[10] & 7) + 1);
    const size_t body = 13 + table;  // graphic control (8 bytes), descriptor (10), data, comment, trailer
    if (size < body + 19 || g[body] != 0x21 || g[body + 8] != 0x2C) return false;
    if (n == 0) {
      out.assign(g, g + 13);
      out[10] = 0;  // no global table: every frame carries its own
      const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
      out.insert(out.end(), loop, loop + sizeof loop);
    }
    const uint8_t control[] = {0x21, 0xF9, 0x04, 0x04, 4, 0, 0, 0};  // keep the frame, 40 ms
    out.insert(out.end(), control, control + sizeof control);
    out.insert(out.end(), g + body + 8, g + body + 18);
    out.back() = uint8_t(0x80 | (g[10] & 7));  // a local table of the size the global one had
    out.insert(out.end(), g + 13, g + 13 + table);
    out.insert(out.end(), g + body + 18, g + size - 1);  // data and comment, not the trailer
  }
  out.push_back(0x3B);
  CreateDirectoryW(L"Z:\\tmp\\tq-gifframes-bench", nullptr);
  FILE* f = _wfopen(kFile, L"wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  if (GetFileAttributesW(kFile) == INVALID_FILE_ATTRIBUTES && !MakeFile()) {
    std::printf("could not make the animated file\n");
    return 1;
  }
  TIEBitmap shown;
  TImageryIO io(&shown);
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    io.Params.GIFImageIndex = kFrames - 1;
    const double t0 = BenchNow();
    io.LoadAsFileType(kFile, iffGIF);
    best = std::min(best, BenchNow() - t0);
  }
  std::printf("GIF frame %d of %d, 640 x 480, as shown     ours: %8.1f ms  (best of %d; %d frames, %s)\n", kFrames,
              kFrames, best * 1000, rounds, io.Params.ImageCount, io.Aborting ? "ABORTED" : "ok");
  IELibraryStaticFini();
  return 0;
}
