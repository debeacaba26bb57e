// PCX images and DCX multi-page containers of PCX pages. Failures set the progress record's abort flag.
#pragma once
#include <cstdint>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// DataSize: bytes of the PCX data from the stream's position (the stream size for a plain file).
void IEPCXRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, int64_t DataSize,
               TIECodecProgress& Progress, bool ParamsOnly);
void IEPCXWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
bool IEDCXTest(TIEStream& Stream);  // the position is restored
// Reads page Params.DCXImageIndex (clamped to the pages present).
void IEDCXRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly);
// Rewrites the DCX held from the stream's position with the bitmap inserted as page
// Params.DCXImageIndex; an empty stream gives a one-page DCX. What precedes the position is kept.
void IEDCXInsertPage(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress);
