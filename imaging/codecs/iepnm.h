// Portable bitmap, greymap and pixmap files: reading of "P1" to "P6", writing of "P4", "P5" and
// "P6". Header comments travel through Params.PXMComments. Failures set the abort flag.
#pragma once
#include <string>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// A header is plausible: magic, width and height above 0. The position is restored.
bool IEPNMTest(TIEStream& Stream);
// The next run of letters and digits (the byte that ends it is consumed), or "#" and the trimmed
// comment when a comment comes first, or "" at the end of the stream.
void IEPNMReadToken(TIEStream& Stream, std::string& Token);
// Bitmaps: ie1g for "P1" and "P4", ie24RGB for the others (with Params.IsNativePixelFormat, ie16g
// and ieRGB48 for samples above 255).
void IEPNMRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly);
// "P4" for ie1g bitmaps or 1-bit Params, "P5" for 8-bit grey Params, "P6" (8 or 16 bits a sample)
// otherwise. Params that fit no case write nothing and set the abort flag.
void IEPNMWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
