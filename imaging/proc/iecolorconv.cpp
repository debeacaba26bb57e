// Hue, saturation and lightness conversions.
#include "iecolorconv.h"

#include <algorithm>

#include "ieutils.h"

void IERGBToHSL(double& hue, double& saturation, double& lightness, uint32_t packedRGB) {
  double r = ((packedRGB >> 16) & 255) / 255.0, g = ((packedRGB >> 8) & 255) / 255.0, b = (packedRGB & 255) / 255.0;
  double mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  lightness = (mx + mn) / 2;
  if (mx == mn) {
    hue = saturation = 0;
    return;
  }
  double d = mx - mn;
  saturation = lightness >= 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
  double h;
  if (mx == r)
    h = (g - b) / d;
  else if (mx != g)  // blue is the maximum
    h = (r - g) / d + 4;
  else
    h = (b - r) / d + 2;
  hue = h / 6;
  if (hue < 0) hue += 1;
}

double IEHueToChannel(double t, double q, double p) {
  if (t < 0) t += 1;
  if (t > 1) t -= 1;
  if (6 * t < 1) return p + (q - p) * 6 * t;
  if (2 * t < 1) return q;
  if (3 * t < 2) return p + (q - p) * (2.0 / 3 - t) * 6;
  return p;
}

void IEHSLToRGB(TIERGB& rgb, double hue, double saturation, double lightness) {
  if (hue < 0) hue += 1;
  if (hue > 1) hue -= 1;
  double s = std::min(1.0, std::max(0.0, saturation)), l = std::min(1.0, std::max(0.0, lightness));
  double r, g, b;
  if (s == 0) {
    r = g = b = l;
  } else {
    double q = l <= 0.5 ? l * (1 + s) : l + s - l * s;
    double p = 2 * l - q;
    r = IEHueToChannel(hue + 1.0 / 3, q, p);
    g = IEHueToChannel(hue, q, p);
    b = IEHueToChannel(hue - 1.0 / 3, q, p);
  }
  rgb.r = uint8_t(IEClampToByte(IERound(r * 255)));
  rgb.g = uint8_t(IEClampToByte(IERound(g * 255)));
  rgb.b = uint8_t(IEClampToByte(IERound(b * 255)));
}
