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

#include <memory>

#include "ieplatformbitmap.h"

class TIEBitmap;
class TIEDibbitmap;

// Copies size, pixel format, colour table and pixels of `source` into `target`; an empty source
// makes the target a 1 x 1 bitmap of its pixel format.
void IECopyTBitmap(TIEPlatformBitmap* source, TIEPlatformBitmap* target);
// A new platform bitmap holding a copy of `source`.
std::unique_ptr<TIEPlatformBitmap> IECloneTBitmap(TIEPlatformBitmap* source);

// Packs the rectangle (x1, y1)-(x2, y2) of `bitmap` (x2 = 0: the width, y2 = 0: the height; the
// rectangle is limited to the image) into a movable global memory block: BITMAPINFOHEADER, colour
// table, rows bottom-up. ie1g, ie8p, ie8g and ie24RGB are packed as they are, other formats as
// ie24RGB. nullptr when the block cannot be had or the rectangle is empty.
HGLOBAL _CopyBitmaptoDIBEx(TIEBitmap* bitmap, int x1, int y1, int x2, int y2, int xDpi, int yDpi);

// Draws a packed DIB (through GDI's DIB transfer) (a global handle, or a pointer when isPointer) into `target`, allocated at the
// DIB's size with 1 bit for 1-bit DIBs and 24 bits otherwise; `bits` (or nullptr) replaces the pixel
// start. Returns the DIB's bit count (0 for a header that does not hold together).
int IEDrawDIBToDibbitmap(void* dib, TIEDibbitmap* target, const void* bits, bool isPointer);
