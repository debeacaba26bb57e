// PNG reading over libpng, and the PNG signature test. Every failure (bad data, short input, a
// library error) sets the progress record's abort flag; nothing leaves the reader as an exception.
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// The PNG signature at the stream's position; the position is restored.
bool IEPNGTest(TIEStream& Stream);
// Reads the image at the stream's position. Grey of depth 1 gives ie1g; with
// Params.IsNativePixelFormat palette images give ie8p and 8- and 16-bit grey ie8g and ie16g; every
// other image gives ie24RGB (16-bit samples keep their high byte). Alpha (an alpha channel or tRNS)
// goes into the bitmap's own alpha channel.
void IEPNGRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
               bool ParamsOnly);
