#include "iepackbits.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMaxRecord = 128;

}  // namespace

void IEPackBitsEncodeRow(const uint8_t* row, int length, std::vector<uint8_t>& out) {
  int literalStart = 0, literalLength = 0;
  auto flushLiteral = [&] {
    if (literalLength == 0) return;
    out.push_back(uint8_t(literalLength - 1));
    out.insert(out.end(), row + literalStart, row + literalStart + literalLength);
    literalLength = 0;
  };
  int i = 0;
  while (i < length) {
    int run = 1;
    while (i + run < length && run < kMaxRecord && row[i + run] == row[i]) ++run;
    if (run >= 4) {
      flushLiteral();
      out.push_back(uint8_t(1 - run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    for (int k = 0; k < run; ++k) {
      if (literalLength == 0) literalStart = i + k;
      if (++literalLength == kMaxRecord) flushLiteral();
    }
    i += run;
  }
  flushLiteral();
}

size_t IEUnpackBits(const uint8_t* src, size_t size, uint8_t* out, size_t n) {
  size_t i = 0, o = 0;
  while (i < size && o < n) {
    const int h = int8_t(src[i++]);
    if (h >= 0) {
      const size_t k = std::min({size_t(h) + 1, size - i, n - o});
      std::memcpy(out + o, src + i, k);
      i += std::min(size_t(h) + 1, size - i);
      o += k;
    } else if (h != -128) {
      if (i >= size) break;
      const size_t k = std::min(size_t(1 - h), n - o);
      std::memset(out + o, src[i++], k);
      o += k;
    }
  }
  return o;
}
