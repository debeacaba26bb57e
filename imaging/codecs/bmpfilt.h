// Windows bitmap codec (".bmp", ".dib", ".rle" and header-less resource bitmaps) with its RLE4 and
// RLE8 run-length coders. Failures set the progress record's abort flag; nothing is raised for bad data.
#pragma once
#include <cstdint>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// Reads the bitmap at the stream's position. DataSize: bytes of the image from that position (0 or
// less: the file header gives it). NoFileHeader (or Params.IsResourceImage): the stream starts with the
// bitmap header. AlphaMask: nullptr on entry; for 32-bit files with alpha (unless IgnoreAlpha) it
// receives a new ie8g bitmap of the image size that the caller owns.
void IEBMPRead(TIEStream& Stream, TIEBitmap& Bitmap, int32_t DataSize, TIOParamsVals& Params,
               TIECodecProgress& Progress, bool ParamsOnly, bool NoFileHeader, TIEBitmap*& AlphaMask,
               bool IgnoreAlpha);
// Writes the bitmap at the stream's position: depth from Params.BitsPerSample / SamplesPerPixel and
// the alpha channel, header by Params.BMPVersion, RLE4/RLE8 by Params.BMPCompression. SaveAlpha stores
// the alpha channel in the fourth byte of 32-bit pixels (else 255).
void IEBMPWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                bool SaveAlpha);

// RLE decoders over the whole compressed block into an allocated bitmap: the RGB forms into ie24RGB
// rows through Palette (256 entries), the index forms into ie8p rows. TopRow is height - 1 for a
// top-down file, 0 for a bottom-up one.
void IEBMPDecodeRLE4ToRGB(TIEBitmap& Bitmap, const uint8_t* Data, int64_t DataSize, int TopRow,
                          TIECodecProgress& Progress, const TIERGB* Palette);
void IEBMPDecodeRLE8ToRGB(TIEBitmap& Bitmap, const uint8_t* Data, int64_t DataSize, int TopRow,
                          TIECodecProgress& Progress, const TIERGB* Palette);
void IEBMPDecodeRLE4ToIndex(TIEBitmap& Bitmap, const uint8_t* Data, int64_t DataSize, int TopRow,
                            TIECodecProgress& Progress);
void IEBMPDecodeRLE8ToIndex(TIEBitmap& Bitmap, const uint8_t* Data, int64_t DataSize, int TopRow,
                            TIECodecProgress& Progress);
// One row of indices (one byte a pixel) coded with its end-of-line code; Output holds at least
// Count x 10 bytes. Returns the bytes written.
int IEBMPEncodeRLE4Row(const uint8_t* Indices, int Count, uint8_t* Output);
int IEBMPEncodeRLE8Row(const uint8_t* Indices, int Count, uint8_t* Output);
