// Colour-space conversions of the processing unit: hue, saturation and lightness to and from 24-bit
// colours (used by the layer blend operations).
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
