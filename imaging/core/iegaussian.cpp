#include "iegaussian.h"

#include <algorithm>
#include <cmath>

void IEBuildGaussianKernel(TIEGaussianKernel& kernel, double radius) {
  const int n = kIEGaussianMaxHalfWidth;
  double e[2 * kIEGaussianMaxHalfWidth + 1];
  double sum = 0;
  for (int i = -n; i <= n; ++i) {
    const double q = i / radius;
    e[i + n] = std::exp(-q * q / 2);
    sum += e[i + n];
  }
  for (int i = -n; i <= n; ++i) kernel.Taps[i + n] = int32_t(std::nearbyint(e[i + n] * 65536.0 / sum));
  kernel.HalfWidth = 1;
  for (int i = n; i >= 1; --i)
    if (kernel.Taps[n + i] != 0 || kernel.Taps[n - i] != 0) {
      kernel.HalfWidth = i;
      break;
    }
}

void IEBlurLine(const TIEGaussianKernel& kernel, const uint8_t* source, uint8_t* dest, int count) {
  if (count <= 0) return;
  const int n = kernel.HalfWidth;
  const int32_t* tap = kernel.Taps + kIEGaussianMaxHalfWidth;  // tap[k] for offset k
  for (int i = 0; i < count; ++i) {
    uint32_t sum = 32768;
    for (int k = -n; k <= n; ++k) {
      const int j = std::clamp(i + k, 0, count - 1);  // the end samples repeat
      sum += uint32_t(tap[k]) * source[j];
    }
    // rounded taps may add up to a little more than 1.0: limit, never wrap
    dest[i] = uint8_t(std::min<uint32_t>(sum >> 16, 255));
  }
}
