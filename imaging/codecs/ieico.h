// Windows icons (read and write) and cursors (read): a directory of 16-byte entries, each pointing at
// a bitmap image (information header with doubled height, palette, colour rows, AND rows) or, in
// icons, at a PNG stream. With Params.IsResourceImage the stream holds one image without directory
// (a cursor's hot spot first). Failures set the abort flag.
#pragma once
#include <vector>

#include "iebitmap.h"
#include "iestreams.h"
#include "ioparams.h"

// A plausible directory of the type (1 icon, 2 cursor); the position is restored.
bool IEICOTest(TIEStream& Stream);
bool IECURTest(TIEStream& Stream);
// Reads image Params.ICOImageIndex (nothing at all when it is outside the directory). A file that is
// really a Windows bitmap ("BM") is read as one. AlphaMask: nullptr on entry; receives a new ie8g
// bitmap of the image size (caller-owned) when the image has transparent pixels and IgnoreAlpha is
// false. Params.ICOSizes and Params.ICOBitCount receive the directory.
void IEICORead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TIECodecProgress& Progress, TIEBitmap*& AlphaMask, bool IgnoreAlpha);
// Reads cursor image Params.CURImageIndex with its hot spot; unless IgnoreAlpha the alpha mask is
// always returned.
void IECURRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TIECodecProgress& Progress, TIEBitmap*& AlphaMask, bool IgnoreAlpha);
// Writes one icon image per entry of Sizes (1 .. 256 pixels a side; anything else is refused), each
// resampled from the bitmap, at the depth of the same entry of BitCounts (1, 4, 8, 24, 32; 0 takes
// Params' depth; a missing entry is 0). The bitmap's alpha channel gives the transparency.
void IEICOWrite(TIEStream& Stream, TIEBitmap& Bitmap, const TIOParamsVals& Params, TIECodecProgress& Progress,
                const std::vector<TIEICOSize>& Sizes, const std::vector<int>& BitCounts);
