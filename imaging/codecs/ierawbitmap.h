// Headerless raw pixel data: the caller sizes the bitmap and gives it the pixel format that
// describes the data; Params.RawBitmap* say how the rows are stored (header bytes to skip, row
// alignment, binary or ASCII numbers, interleaved or planar, channel order). Failures set the
// abort flag.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

void IERawBitmapRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress);
