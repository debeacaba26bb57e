// TIFF reading: the page chain, strips and tiles, contiguous or planar samples, uncompressed, LZW
// (with the horizontal predictor), Deflate and PackBits data of 1 to 16 bits per sample.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// Reads page Params.ImageIndex of the TIFF at the stream's position (offsets count from there).
// Bilevel pages become ie1g, grey ie8g, palette ie8p, RGB ie24RGB, CMYK ieCMYK with
// Params.IsNativePixelFormat and ie24RGB otherwise; an alpha extra sample fills the alpha channel
// (premultiplied colours are brought back to full strength); 16-bit samples keep their high
// byte. Params receives the page's size, samples, resolution and the page count. A page past the
// last leaves the bitmap untouched without an error. Unreadable or unsupported data sets the abort
// flag.
void IETIFFRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                bool ParamsOnly);
