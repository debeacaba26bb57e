// Small services of the processing unit that the rest of the library shares: copying runs of bits
// between 1-bit rows, the table that expands 1-bit pixels to 24-bit ones, packing a rectangle of a
// pixel buffer into a global-memory DIB, and drawing a packed DIB into a TIEDibbitmap.
#pragma once
#include <windows.h>

#include <cstdint>

// Copies `count` bits (most significant bit first) from bit `srcBit` of `src` to bit `dstBit` of
// `dst`; the destination bits around the run keep their values; at most srcBytes - srcBit / 8 bytes of
// the source are read. Nothing happens when count < 1 or a bit position is negative.
void IECopyBits(uint8_t* dst, const uint8_t* src, int dstBit, int srcBit, int count, int srcBytes);
// The same effect, one bit at a time.
void IECopyBitsOneByOne(uint8_t* dst, const uint8_t* src, int dstBit, int srcBit, int count, int extra);

// 256 entries of 24 bytes: the 8 pixels of byte b, most significant bit first, as 3 x 255 or 3 x 0.
extern uint8_t IEProcExpandTable[256][24];
void IEProcBuildExpandTable();
