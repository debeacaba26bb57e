#include "iedibroutines.h"

#include <cstring>

void IECopyBits(uint8_t* dst, const uint8_t* src, int dstBit, int srcBit, int count, int srcBytes) {
  if (count < 1 || dstBit < 0 || srcBit < 0) return;
  // a run is never read past the source's end, however long the caller says it is
  int64_t avail = (int64_t(srcBytes) - srcBit / 8) * 8 - (srcBit & 7);
  if (avail < count) count = avail > 0 ? int(avail) : 0;
  if (count < 1) return;
  if ((dstBit & 7) == 0 && (srcBit & 7) == 0) {
    int whole = count / 8;
    std::memcpy(dst + dstBit / 8, src + srcBit / 8, size_t(whole));
    dstBit += whole * 8;
    srcBit += whole * 8;
    count -= whole * 8;
  }
  for (int i = 0; i < count; ++i) {
    int s = srcBit + i, d = dstBit + i;
    uint8_t m = uint8_t(0x80 >> (d & 7));
    if (src[s >> 3] & (0x80 >> (s & 7)))
      dst[d >> 3] |= m;
    else
      dst[d >> 3] &= uint8_t(~m);
  }
}

void IECopyBitsOneByOne(uint8_t* dst, const uint8_t* src, int dstBit, int srcBit, int count, int /*extra*/) {
  if (count < 1 || dstBit < 0 || srcBit < 0) return;
  for (int i = 0; i < count; ++i) {
    int s = srcBit + i, d = dstBit + i;
    uint8_t m = uint8_t(0x80 >> (d & 7));
    if (src[s >> 3] & (0x80 >> (s & 7)))
      dst[d >> 3] |= m;
    else
      dst[d >> 3] &= uint8_t(~m);
  }
}

uint8_t IEProcExpandTable[256][24];

void IEProcBuildExpandTable() {
  for (int b = 0; b < 256; ++b)
    for (int i = 0; i < 8; ++i) std::memset(&IEProcExpandTable[b][3 * i], (b & (0x80 >> i)) ? 255 : 0, 3);
}
