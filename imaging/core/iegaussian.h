// The Gaussian kernel and line blur shared by the core's soft edges and the processing unit's blurs.
#pragma once
#include <cstdint>

constexpr int kIEGaussianMaxHalfWidth = 100;

// Taps for offsets -100..100 in 16.16 fixed point (Taps[kIEGaussianMaxHalfWidth + i] for offset i)
// and the half width: the largest offset whose tap is not 0, at least 1.
struct TIEGaussianKernel {
  int32_t Taps[2 * kIEGaussianMaxHalfWidth + 1];
  int HalfWidth;
};

// Kernel of the Gaussian whose standard deviation is `radius` (> 0).
void IEBuildGaussianKernel(TIEGaussianKernel& kernel, double radius);
// Convolves `count` samples, repeating the end samples outside; results are limited to 0..255.
void IEBlurLine(const TIEGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count);
