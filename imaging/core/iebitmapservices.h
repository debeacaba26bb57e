// Colour services that the pixel buffer's conversions call but that belong to the processing and
// input/output layers (CMYK colour management, the 1-bit threshold, the palette quantizer). Those
// layers install theirs into IEConversionServices at their start-up; until then the defaults below
// serve: the plain CMYK formulas used when colour management is off, a threshold at the grey of the
// image's mean colour, and a palette of the image's first colours with nearest-colour mapping.
#pragma once
#include <cstdint>

#include "iedefs.h"

class TIEBitmap;

struct TIEConversionServices {
  // Packed CMYK (C bits 0-7 .. K bits 24-31, stored inverted) to a colour.
  void (*CMYKToRGB)(uint32_t cmyk, TIERGB& rgb);
  // 0x00RRGGBB to packed CMYK.
  uint32_t (*RGBToCMYK)(uint32_t rgb);
  // Fills `dst` (ie1g, the source's size): a bit is set (white) when the pixel's grey is not below
  // the threshold; -1 takes the grey of the image's mean colour.
  void (*ThresholdTo1Bit)(TIEBitmap* src, TIEBitmap* dst, int threshold);
  // Fills `dst` (ie8p, the size of the ie24RGB `src`) with a palette of up to `colours` entries (the
  // rest black) and the index of every pixel.
  void (*QuantizeToPalette)(TIEBitmap* src, TIEBitmap* dst, int colours);
  // n packed CMYK pixels (bytes C, M, Y, K, stored inverted) into n colours, a row per call.
  void (*CMYKRowToRGB)(const uint8_t* src, TIERGB* dst, int n);
};

extern TIEConversionServices IEConversionServices;

// The filtered resamplers the pixel buffer's filtered rendering calls; the processing layer installs
// them at its start-up. Until then (nullptr) rendering with a filter draws unfiltered.
struct TIEResampleServices {
  // ie1g source: ie1g destination for the projections, grey levels in ie24RGB for the other filters.
  void (*ResampleBW)(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter);
  void (*ResampleRGB24)(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter);
  void (*ResampleGray8)(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter);
  // The ie1g rectangle (x1, y1)-(x2, y2) shrunk into grey levels of the allocated ie24RGB dest.
  void (*ShrinkBWToGray)(TIEBitmap* source, int x1, int y1, int x2, int y2, TIEBitmap* dest);
};

extern TIEResampleServices IEResampleServices;

// Pixel x of a row of `b` as a colour (the rule of TIEBitmap::GetPixelRGB).
TIERGB IEDecodePixelRGB(TIEBitmap* b, const uint8_t* row, int x);

// The defaults, also for the layers that install their own to fall back on.
void IEDefaultCMYKToRGB(uint32_t cmyk, TIERGB& rgb);
uint32_t IEDefaultRGBToCMYK(uint32_t rgb);
void IEDefaultThresholdTo1Bit(TIEBitmap* src, TIEBitmap* dst, int threshold);
void IEDefaultQuantizeToPalette(TIEBitmap* src, TIEBitmap* dst, int colours);
void IEDefaultCMYKRowToRGB(const uint8_t* src, TIERGB* dst, int n);  // CMYKToRGB per pixel
