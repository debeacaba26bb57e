// Colour reduction of the processing unit: to black and white (ordered dither or a grey threshold,
// fixed, mean or maximum-entropy), to n colours in place through TIEQuantizer, and the colour
// services of the format writers (two-colour detection, nearest palette index, row bit-depth
// conversion). Grey here is (21 red + 71 green + 8 blue) div 100 with the library's weights; 1-bit
// rows hold the leftmost pixel in the most significant bit, a set bit being white.
#pragma once
#include <cstdint>
#include <memory>

#include "iedefs.h"
#include "ieutils.h"

class TIEBitmap;
class TIEQuantizer;

// Thresholds with a meaning of their own.
constexpr int kIEThresholdMean = -1;        // the grey of the image's mean colour
constexpr int kIEThresholdMaxEntropy = -2;  // the grey level of maximum entropy

// Progress of a long routine: reported after each row, only when OnProgress is set, as
// trunc(rows done x 100 / (height + 0.5)).
struct TIEReductionProgress {
  void* Sender = nullptr;
  TIEProgressEvent OnProgress;
};

// The pixel work of the processing component's ConvertTo on an ie24RGB bitmap: below 3 colours the
// image becomes 1-bit (threshold at the mean grey, or the ordered dither); from 3 to 1024 colours it
// is quantized in place and stays 24-bit; above 1024 it is left as it is. True when it changed.
bool IEConvertToColors(TIEBitmap* bitmap, int numColors, bool threshold, const TIEReductionProgress& progress);
// The same for ConvertToPalette: below 3 colours palette[0] and palette[1] become black and white;
// from 3 to 1024 the quantizer fills the entries it makes. numColors 0 changes nothing.
bool IEConvertToPaletteColors(TIEBitmap* bitmap, int numColors, TIERGB* palette, bool threshold,
                              const TIEReductionProgress& progress);

// Replaces each pixel of an ie24RGB bitmap by its colour in `palette` (a palette of numColors
// entries is made when `palette` is nullptr).
void IEQuantizeInPlace(TIEBitmap* bitmap, int numColors, TIERGB* palette, void* sender, const TIEProgressEvent& onProgress);
// Replaces an ie24RGB bitmap by its 8 x 8 ordered dither in 1 bit.
void IEOrderedDitherTo1Bit(TIEBitmap* bitmap, const TIEReductionProgress& progress);
// Replaces an ie24RGB bitmap by its thresholded 1-bit version.
void IEThresholdTo1BitInPlace(TIEBitmap* bitmap, int threshold, const TIEReductionProgress& progress);
// Fills `dest` (ie1g, the source's size): a bit is clear when the pixel's grey is below the
// threshold. A picture of a single grey level keeps it (white from 128 up) under the mean and
// maximum-entropy thresholds; maximum entropy falls back to the mean where no level separates.
void IEThresholdTo1Bit(TIEBitmap* source, TIEBitmap* dest, int threshold, const TIEReductionProgress& progress);
// The threshold that IEThresholdTo1Bit uses for `threshold` on `source`.
int IEResolveThreshold(TIEBitmap* source, int threshold);

// Pixels per grey level; a 1-bit image counts its 0 and 1 pixels in counts[0] and counts[1].
void IEGrayHistogram(TIEBitmap* bitmap, int counts[256]);
// Row means of each channel averaged over the rows.
void IEMeanColor(TIEBitmap* bitmap, int& red, int& green, int& blue);

// A 1-bit copy of a bitmap that holds exactly two colours, color0 (the darker; the first seen when
// both are equally grey) as 0 and color1 as 1; nullptr for one colour or more than two.
std::unique_ptr<TIEBitmap> IEConvertTwoColorTo1Bit(TIEBitmap* bitmap, TIERGB& color0, TIERGB& color1);

// The first entry with the smallest |dr| + |dg| + |db| to `color` (red shl 16 or green shl 8 or
// blue); 0 for an empty palette.
int IENearestPaletteIndex(const TIERGB* palette, int count, uint32_t color);

// Converts `count` pixels of one row between bit depths (pairs 24 -> 4, 8, 24; 32 -> 24; 8 -> 1, 8,
// 24; 1 -> 1, 4, 8, 24; 4 -> 4, 8, 24). 24-bit pixels go to indices through `quantizer` (indices
// above 15 clamped for 4 bits); indices go to colours through `palette` (2^sourceBits entries).
// The 4-bit destinations of 24 and 1 bits are combined by OR into a destination the caller supplies
// zeroed. Returns the destination's byte count for the depth; other pairs write nothing.
int IEConvertRowBitDepth(const uint8_t* source, uint8_t* dest, int sourceBits, const TIEQuantizer* quantizer,
                         const TIERGB* palette, int count, int destBits);

// Makes the pixel buffer's conversions to ie1g (threshold) and to ie8p (quantizer) use these routines.
void IEInstallColorReductionServices();
