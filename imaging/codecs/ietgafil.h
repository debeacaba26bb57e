// Targa codec: colour-mapped, true-colour and grey images, plain or run-length coded, with the
// TGA 2.0 extension area and footer. Failures set the progress record's abort flag.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

bool IETGATest(TIEStream& Stream);  // the 18-byte header is plausible; the position is restored
// Reads the image at the stream's position into an ie24RGB (ie1g for depth 1) bitmap. AlphaMask:
// nullptr on entry; receives a new ie8g bitmap (caller-owned) when the file carries alpha that is not
// all zero and IgnoreAlpha is false.
void IETGARead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly, TIEBitmap*& AlphaMask, bool IgnoreAlpha);
// Writes the bitmap; AlphaMask (ie8g of the bitmap's size, or nullptr) makes a 32-bit file.
void IETGAWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                TIEBitmap* AlphaMask);
