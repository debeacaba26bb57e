// The resamplers beside the threaded kernel resampler: nearest-pixel stretch for every pixel format,
// the single-channel kernel resampler for grey images and alpha channels, the 1-bit resamplers, the
// fast fixed-point linear resamplers, the projections into 1-bit, and the area-sampling bilinear and
// bicubic resamplers for 8- and 16-bit samples. Each writes into a destination that already has the
// wanted size (the projections re-allocate it as ie1g) in the calling thread.
#pragma once
#include "iebitmap.h"
#include "ieresample.h"
#include "ieutils.h"

// The SSE2 rows of the 24-bit area-sampling bilinear resampler and of the fast linear boxes (on by
// default where the build has SSE2); they give the same bytes as the portable rows, which run when
// this is false.
extern bool IEResamplersUseSimd;

// Any pixel format; the destination is given the source's format (and palette).
void IEStretchNearest(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress);
// One 8-bit channel (ie8g images, alpha channels) into an ie8g destination.
void IEResampleGray8(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter);
// An ie1g source: ie1g for the projections, grey levels in ie24RGB for every other filter.
void IEResampleBW(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter);
// Linear interpolation when enlarging an axis, box averages when shrinking it, a copy when it is kept.
void IEResampleFastLinear(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress);
void IEResampleFastLinear8(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress);
// Projections into ie1g: with whiteOnBlack a pixel is white when any covered source pixel is white
// (all channels above 128), else black when any is black (all channels below 128).
void IEResampleProject24(TIEBitmap* source, TIEBitmap* dest, bool whiteOnBlack, void* Sender, const TIEProgressEvent& progress);
void IEResampleProjectBW(TIEBitmap* source, TIEBitmap* dest, bool whiteOnBlack, void* Sender, const TIEProgressEvent& progress);
// 1-bit into grey levels of an ie24RGB destination.
void IEResampleBWLinear(TIEBitmap* source, TIEBitmap* dest, void* Sender, const TIEProgressEvent& progress);
void IEShrinkBWToGray(TIEBitmap* source, int x1, int y1, int x2, int y2, TIEBitmap* dest);
// Area sampling with interpolation: each destination pixel is the area-weighted mean of the source
// it covers, the source read as a bilinear (mode 0) or bicubic (mode 1) surface along every axis that
// is enlarged. ie24RGB / ie8g (8-bit) and ieRGB48 / ie16g (16-bit); the destination of the same format.
void IEResampleBilinearBicubic8(TIEBitmap* source, TIEBitmap* dest, int mode, void* Sender, const TIEProgressEvent& progress);
void IEResampleBilinearBicubic16(TIEBitmap* source, TIEBitmap* dest, int mode, void* Sender, const TIEProgressEvent& progress);
// The cubic convolution (a = -1) of four samples at fraction x of the way from p0 to p1, limited to
// minimum .. maximum.
double IECubicInterpolate(double pm1, double p0, double p1, double p2, double maximum, double minimum, double x);
