// Pictures for the quantizer tests and the independent measurements made with PIL on the host.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "ieutils.h"

namespace quant {

// A photograph-like ie24RGB picture: smooth gradients, a sky, noise, hard edges and a pure white
// patch at the top left; the same seed always gives the same picture.
std::unique_ptr<TIEBitmap> PhotoLike(int width, int height, uint32_t seed);
// An ie24RGB picture filled with `colors` in turn (pixel i gets colors[(i * 7) % n]).
std::unique_ptr<TIEBitmap> FromColors(int width, int height, const std::vector<TIERGB>& colors);
// Writes the picture as a binary PPM into the test's work folder; returns the Unix path ("" on failure).
std::string WritePPM(TIEBitmap* bitmap, const std::string& name);
// Mean of |dr| + |dg| + |db| per pixel between two ie24RGB pictures of the same size.
double MeanError(TIEBitmap* a, TIEBitmap* b);
// PIL's figure for the same: quantize(n, MEDIANCUT, no dither) of the PPM at `unixPath`; -1 on failure.
double PilMedianCutError(const std::string& unixPath, int colors);
// PIL's count of distinct colours of the PPM at `unixPath`; -1 on failure.
int PilColorCount(const std::string& unixPath);

}  // namespace quant
