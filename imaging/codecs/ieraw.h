// Camera raw files: the sensor data decoded by LibRaw and turned into a 24- or 48-bit bitmap through
// a gamma curve whose white point comes from a brightness histogram; the embedded preview; the CIFF
// heap metadata of Canon CRW files.
#pragma once
#include "iebitmap.h"
#include "ioparams.h"

// True when the decoder identifies the stream; the position is restored.
bool IECameraRAWTest(TIEStream& Stream);

void IECameraRAWRead(TIEStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, TIECodecProgress& Progress,
                     bool ParamsOnly);

// The camera metadata of a TIFF-structured raw file whose TIFF header is at the stream's position,
// and the larger of the images of its first two directories (those of thumbnail size, up to 400
// pixels either way, that are not all zero) as Params.ExifThumbnail, emptied when neither gives one.
// The position is restored.
void IELoadExifFromRawStream(TIEStream& Stream, TIOParamsVals& Params);

// Turns a bitmap (ie24RGB or ieRGB48) that holds a sensor's 45-degree layout upright. A first row
// without the layout's black lead-in (nothing to measure the diamond by) leaves the bitmap as it is.
void IERAWFujiUnrotate(TIEBitmap& Bitmap);

// The curve and white point of the conversion, per 16-bit linear pixel: brightness value of a pixel
// (the root of the mean square of its three samples) and the white point of an 8192-bin histogram of
// those values (bins of 8) with `fraction` of the pixels above it; 1 when the histogram is empty.
int IERAWBrightness(int r, int g, int b);
int IERAWWhitePoint(const std::vector<uint32_t>& histogram, double fraction, int64_t pixels);
