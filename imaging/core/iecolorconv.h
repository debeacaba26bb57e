// Colour-space conversions of the processing unit: hue, saturation and lightness to and from 24-bit
// colours (used by the layer blend operations), grey conversion of a rectangle, expansion of 1-bit
// platform bitmaps, byte and row inversion, channel reordering and the YUV colour formula.
#pragma once
#include <cstdint>

#include "iedefs.h"

// Hue, saturation and lightness (each 0..1) of a packed colour (blue in bits 0-7, red in 16-23).
void IERGBToHSL(double& hue, double& saturation, double& lightness, uint32_t packedRGB);
// The colour of (hue, saturation, lightness): the hue wrapped once into 0..1, saturation and
// lightness limited to 0..1, each channel rounded (halves to even).
void IEHSLToRGB(TIERGB& rgb, double hue, double saturation, double lightness);
// One channel of IEHSLToRGB at hue position t.
double IEHueToChannel(double t, double q, double p);

#include <string>

#include "ieutils.h"

class TIEBitmap;
class TIEPlatformBitmap;

// Grey of the rectangle x1..x2-1, y1..y2-1 of an ie24RGB bitmap (the rectangle is limited to the
// image), with the library's grey weights; progress after every row. Other formats: nothing.
void IEConvertToGrayRect(TIEBitmap* bitmap, int x1, int y1, int x2, int y2, void* Sender,
                         const TIEProgressEvent& OnProgress);
// `dest` becomes a 24-bit copy of the 1-bit `source`: a set bit is white, a clear bit black,
// whatever the source's colour table. False (dest untouched) when the source is not 1-bit.
bool IEExpand1BitTBitmapTo24(TIEPlatformBitmap* source, TIEPlatformBitmap* dest, void* Sender,
                             const TIEProgressEvent& OnProgress);
// Every byte of the buffer complemented.
void IEInvertBytes(uint8_t* buffer, size_t length);
// Every row of the bitmap complemented over its whole row length.
void IEInvertBitmapBits(TIEBitmap* bitmap);
// Rewrites every pixel of an ie24RGB or ieRGB48 bitmap: the first three characters of
// `specification` (case ignored) name the source of the new blue, green and red channel: 'B', 'G',
// 'R' or '0' (zero). "RGB" exchanges red and blue. False, and the bitmap unchanged, for other
// formats, a specification shorter than three characters or another character among the three.
bool IEReorderChannels(TIEBitmap* bitmap, const std::string& specification, void* Sender,
                       const TIEProgressEvent& OnProgress);
// BT.601 studio-range YUV to RGB, each channel rounded and limited to 0..255.
void IEYUVToRGB(int y, int u, int v, TIERGB& rgb);
