// TIFF writing: one page, little- or big-endian, as a new file or inserted into an existing TIFF,
// uncompressed, CCITT (MH, G3 1D/2D, G4), LZW with the horizontal predictor, old-style and
// new-style JPEG, PackBits or Deflate.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// Writes Bitmap as a TIFF page at the stream position. InsertPage false: a new file of one page
// (returns 1), big-endian ("MM") when Params.TIFFByteOrder is 0. InsertPage true: the stream holds
// a TIFF of either byte order at its position, whose byte order the new page takes; the page goes
// before page Params.TIFFImageIndex, or last when the index is at least the page count, and the
// result is the new page count (0, with the abort flag set, when the stream is no such TIFF).
// Without a bitmap only the metadata directory (and its EXIF and GPS directories) is written.
// Params' BitsPerSample, SamplesPerPixel, TIFFPhotometric and TIFFCompression are what is asked for;
// the page is stored as near to it as the bitmap allows (the parameters stay as they are). Short
// writes set the abort flag, and so does a page that could take the file past 4 GiB, before anything
// is written.
int IETIFFWrite(TIEStream& Stream, bool InsertPage, TIEBitmap* Bitmap, const TIOParamsVals& Params,
                TIECodecProgress& Progress);
