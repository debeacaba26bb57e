// Area operations on pixel buffers: filling a rectangle with a colour, cropping to a rectangle or to
// the area that is not fully transparent, and matching an image's histograms to a reference's.
#pragma once
#include <cstdint>

#include "iedefs.h"
#include "ieutils.h"

class TIEBitmap;

// A rectangle of pixels; Right and Bottom belong to it (a 1 x 1 rectangle has Left == Right).
struct TIERect {
  int Left = 0, Top = 0, Right = -1, Bottom = -1;
  bool IsEmpty() const { return Right < Left || Bottom < Top; }
};

// The rectangle limited to a width x height image (empty when nothing of it lies inside).
TIERect IEClipRect(const TIERect& r, int width, int height);

// Fills the rectangle (clipped to the image) with `color`: ie1g white when the red channel is not 0,
// black otherwise; ie8g the library's grey of the colour; ie8p the nearest palette entry; ie32RGB
// keeps its fourth byte; other formats the colour in their own terms. Progress per row.
void IEFillRect(TIEBitmap* bitmap, const TIERect& rect, TIERGB color, void* Sender, const TIEProgressEvent& progress);

// Crops the bitmap and its alpha channel to the rectangle, clipped to the image first. False (and the
// bitmap unchanged) when nothing of the rectangle lies inside; a rectangle covering the whole image
// changes nothing.
bool IECropBitmap(TIEBitmap* bitmap, const TIERect& rect);

// The smallest rectangle holding every pixel whose alpha is not 0; the whole image without an alpha
// channel; an empty rectangle when every pixel is transparent.
TIERect IEFindOpaqueBounds(TIEBitmap* bitmap);
// Crops to IEFindOpaqueBounds; a fully transparent image is left as it is (false).
bool IECropToOpaqueArea(TIEBitmap* bitmap);

// Maps each of blue, green and red of `target` (ie24RGB or ieRGB48) so that its cumulative histogram
// follows the reference's (ie24RGB). Nothing for other formats or empty images.
void IEMatchHistograms(TIEBitmap* reference, TIEBitmap* target);
// One channel (0 blue, 1 green, 2 red) against a reference histogram of `count` pixels.
void IEMatchChannelHistogram(TIEBitmap* target, int channel, const uint32_t referenceHistogram[256], uint64_t count);
