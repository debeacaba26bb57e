// JPEG 2000 codec over OpenJPEG: JP2 box files and bare code streams. Failures set the progress
// record's abort flag.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

bool IEJP2Test(TIEStream& Stream);  // JP2 signature box; the position is restored
bool IEJ2KTest(TIEStream& Stream);  // code stream markers SOC and SIZ; the position is restored
// Reads a JP2 file or a code stream (grey, RGB or YCbCr) into an ie24RGB (ie1g for 1-bit grey) bitmap;
// an opacity component after the colour components fills the bitmap's alpha channel. With
// KeepGreyPrecision grey of 9 to 16 bits becomes ie16g holding the samples as the stream codes them
// (signed ones in two's complement), for readers that map the values themselves. A header claiming
// far more samples than its code stream could carry is refused.
void IEJ2000Read(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                 bool ParamsOnly, bool KeepGreyPrecision = false);
// Format 0 writes a JP2 file, 1 a code stream. Params.J2000Rate below 1 is lossy at that fraction of
// the raw size, 1 and above lossless; 0 and below is refused. Samples take Params.BitsPerSample bits
// (at most 16), but never fewer than 8 unless the bitmap is ie1g.
void IEJ2000Write(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                  int Format);

// Start-up step of the module: the YCbCr-to-RGB tables.
void IEJ2000StaticInit();
void IEJ2000StaticFini();
