// The variance median-cut quantizer: a 32 x 32 x 32 histogram of a 24-bit picture is split into at
// most 256 boxes, always the box with the largest spread, at the position that best separates its
// two parts; each box becomes one palette entry (the true mean of its pixels) and an inverse map of
// the same grid answers colour-to-index queries.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "iedefs.h"

class TIEBitmap;

// The box table holds at most this many boxes, so at most this many palette entries are made.
constexpr int kIEMedianCutMaxBoxes = 256;

class TIEMedianCutState {
 public:
  struct Box {
    double Score = 0;      // spread: the sum of the three axes' variances, per picture pixel
    double Mean[3] = {};   // cell units 0..31, axes red, green, blue
    // Pixel counts in 64 bits, as the sums: a picture may hold more than 2^32 pixels in a 64-bit process.
    uint64_t Count = 0;
    uint64_t Projection[3][32] = {};  // pixels per red, green and blue cell
    int Lower[3] = {};  // inclusive cell bounds
    int Upper[3] = {};  // exclusive
  };
  std::vector<uint64_t> Histogram;  // 32768 cells, (r5 shl 10) or (g5 shl 5) or b5
  std::vector<uint64_t> Sums;       // per cell: the pixels' red, green and blue sums (3 per cell)
  std::vector<Box> Boxes;
  std::vector<uint8_t> InverseMap;  // 32768 cells -> palette index
  uint64_t PixelCount = 0;
  int MaxColors = 0;
  int BoxCount = 0;
};

// Builds up to min(colorCount, 256) boxes from the ie24RGB `bitmap` and writes palette[0 .. k - 1]
// for the k boxes made; other entries are not touched. nullptr when the bitmap is empty or not
// ie24RGB, or colorCount < 1.
std::unique_ptr<TIEMedianCutState> IEMedianCutPalette(TIEBitmap* bitmap, TIERGB* palette, int colorCount);
// The palette index of `color` (red shl 16 or green shl 8 or blue); always 0 .. k - 1.
int IEMedianCutIndex(const TIEMedianCutState& state, uint32_t color);
