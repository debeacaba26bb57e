// PNG writing over libpng. The depth and colour type come from Params (SamplesPerPixel,
// BitsPerSample) and the alpha mask; palettes come from TIEQuantizer. A short write sets the abort
// flag; an error inside libpng raises ui::EInvalidGraphic "Error on creating PNG".
#pragma once
#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// AlphaMask: an ie8g bitmap of the bitmap's size (255 opaque), or nullptr. Params.BitsPerSample
// becomes 8 when SamplesPerPixel is 1 and it is not 1, 8 or 16. The caller's bitmap is never
// converted.
void IEPNGWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                TIEBitmap* AlphaMask);
