// Blurs of 8-bit grey images (a separable Gaussian and a 3x3 convolution) and the soft shadow built
// from them under the opaque part of an image's alpha channel.
#pragma once
#include <cstdint>

#include "ieareaops.h"
#include "iegaussian.h"

class TIEBitmap;

// Blurs the rectangle (clipped to the image) of an ie8g bitmap, rows then columns; nothing for a
// radius of 0 or less or another format.
void IEGaussianBlurGray8(TIEBitmap* bitmap, const TIERect& rect, double radius);

// 3x3 convolution of the rectangle (clipped) of an ie8g bitmap: nine coefficients row by row from the
// top left, |sum| div divisor (0 counts as 1) limited to 255; neighbours outside the image repeat the
// edge pixels.
void IEApplyFilter3x3Gray8(TIEBitmap* bitmap, const int32_t coefficients[9], int32_t divisor, const TIERect& rect);

// Adds a soft shadow of `color` (0xRRGGBB) under the opaque area `object` of the bitmap's alpha
// channel (created when missing), offset by (dx, dy), blurred by `radius` (0: the 3x3 box blur) with
// `intensity` 0..100. Returns the border width by which the caller grew the drawing area.
int IEAddSoftShadow(TIEBitmap* bitmap, int dx, int dy, const TIERect& object, uint32_t color, int intensity,
                    double radius);
