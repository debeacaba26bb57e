// Resampling of a TIEBitmap to a new size with one of the 14 filters: the dispatcher every caller in
// the library uses (IEResample), the general resampler for sources that are not 1-bit and the
// separable two-pass kernel resampler behind it, whose passes run on one worker per core.
#pragma once
#include <cstdint>
#include <new>
#include <vector>

#include "iebitmap.h"
#include "ieutils.h"

// TResampleFilter, the 14 filters, is declared with the pixel buffer (iedefs.h), whose rendering takes one.

// Kernels of the eight kernel filters (0 outside their radius).
double IESinc(double x);
double IEKernelTriangle(double x);
double IEKernelHermite(double x);
double IEKernelBell(double x);
double IEKernelBSpline(double x);
double IEKernelLanczos3(double x);
double IEKernelMitchell(double x);
double IEKernelBox(double x);
double IEKernelLinear(double x);

struct TIEResampleKernel {
  double (*Kernel)(double);
  double Radius;
};
// Indexed by filter value 1 .. 8 (row 0 unused).
extern const TIEResampleKernel IEResampleKernels[9];

// Weights of the kernel resampler are 14-bit fixed point (16384 = 1.0) and every list sums to exactly
// 16384, so that a flat image stays flat at any scale.
constexpr int kIEWeightBits = 14;
constexpr int kIEWeightOne = 1 << kIEWeightBits;

struct TIEContributor {
  int32_t Pixel;
  int32_t Weight;
};
// The contributor lists of every destination pixel of one axis, packed: list i is
// Items[First[i] .. First[i + 1] - 1].
struct TIEContributorLists {
  std::vector<int32_t> First;
  std::vector<TIEContributor> Items;
};
// Lists for scaling an axis of srcSize pixels to dstSize pixels with corner-aligned scale (the first
// and last output pixels sit on the first and last source pixels) and reflected edges.
void IEBuildContributors(TIEContributorLists& lists, int srcSize, int dstSize, double (*kernel)(double), double radius);

// The kernel resampler's SSE2 rows (on by default where the build has SSE2); they give the same bytes
// as the portable rows, which run when this is false.
extern bool IEResampleUseSimd;

// Sizes an intermediate buffer of `count` elements (a 64-bit product of the image sides); false when
// it does not fit this process's address space or memory, so that a 32-bit build never wraps.
template <typename T>
bool IEAllocWorkBuffer(std::vector<T>& buffer, uint64_t count) {
  if (count > uint64_t(SIZE_MAX / sizeof(T))) return false;
  try {
    buffer.resize(size_t(count));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// `dest` must already have the wanted size; it receives the scaled image and alpha channel. A 1-bit
// source gives ie1g for the projections and ie24RGB otherwise; a source of a format other than ie8g,
// ie24RGB (and ie16g / ieRGB48 with rfBilinear / rfBicubic) gives ie24RGB.
void IEResample(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter, void* Sender, const TIEProgressEvent& progress);
// The general resampler for sources that are not 1-bit (no alpha channel handling).
void IEResampleRGB24(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter, void* Sender, const TIEProgressEvent& progress);

// The kernel resampler on one channel in the calling thread, without progress: ie8g into ie8g, or
// the bits of an ie1g source (set = 255) into the grey levels of an ie24RGB destination.
void IEKernelResample8(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter);

// The kernel resampler on an ie24RGB source into an ie24RGB destination of the wanted size. Both passes
// run in bands on `workers` threads (0: one per processor core; one worker is the calling thread); a
// source in a temporary file is read by one worker, and a destination there is written by the calling
// thread. Progress is reported from
// the calling thread, rising and below 100. The result does not depend on the worker count.
void IEKernelResample24(TIEBitmap* source, TIEBitmap* dest, TResampleFilter filter, void* Sender,
                        const TIEProgressEvent& progress, int workers = 0);
