// Wireless bitmaps of type 0: one bit a pixel, 1 = white, rows top first. There is no format test:
// the extension chooses the codec. Failures set the abort flag.
#pragma once
#include <cstdint>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// One multi-byte integer: 7 bits a byte, most significant group first, bit 7 = more follows; at
// most 4 bytes are read. -1 when the stream ends inside it.
int32_t IEWBMPReadMultiByte(TIEStream& Stream);
void IEWBMPRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                bool ParamsOnly);
// Writes an ie1g image (a copy converted to black and white otherwise) no larger than 255 x 255: a
// larger image is scaled down to fit, keeping its proportions. The caller's bitmap is never changed.
void IEWBMPWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
