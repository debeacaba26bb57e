// GIF LZW encode and decode speed on 4000 x 3000 8-bit indices (shaded areas with texture, as a
// quantized photograph gives), from and to memory. The indices go to /tmp/tq-giflzw-bench/idx.raw,
// where compare.sh times PIL's GIF coder on them. MB/s counts the index bytes.
// Usage: giflzw [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "giflzw.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int w = 4000, h = 3000;
  std::vector<uint8_t> index(size_t(w) * h);
  uint32_t seed = 11;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245 + 12345;
      const int texture = (seed >> 16) % 9 == 0 ? int((seed >> 20) & 3) : 0;
      index[size_t(y) * w + x] = uint8_t((x / 40 + y / 30 * 7 + texture) % 256);
    }
  CreateDirectoryA("Z:\\tmp\\tq-giflzw-bench", nullptr);
  if (FILE* f = std::fopen("Z:\\tmp\\tq-giflzw-bench\\idx.raw", "wb")) {
    std::fwrite(index.data(), 1, index.size(), f);
    std::fclose(f);
  }

  const double mb = double(w) * h / 1e6;
  double bestEnc = 1e9, bestDec = 1e9;
  TIEMemoryStream encoded;
  for (int r = 0; r < rounds; ++r) {
    encoded.SetSize(0);  // keeps the memory of the previous round
    const double t0 = BenchNow();
    IEGIFLZWCompress(encoded, h, w, false, index.data(), 8);
    bestEnc = std::min(bestEnc, BenchNow() - t0);
  }
  std::vector<uint8_t> back(index.size());
  bool same = true;
  for (int r = 0; r < rounds; ++r) {
    encoded.SetPosition(0);
    const double t0 = BenchNow();
    IEGIFLZWDecompress(encoded, h, w, false, back.data());
    bestDec = std::min(bestDec, BenchNow() - t0);
    same = same && back == index;
  }
  std::printf("4000x3000 ours: encode %7.1f MB/s  decode %7.1f MB/s  %10lld bytes%s (best of %d)\n", mb / bestEnc,
              mb / bestDec, (long long)encoded.GetSize(), same ? "" : " MISMATCH", rounds);
  return same ? 0 : 1;
}
