// The NeuQuant quantizer: a self-organising network of n colour neurons learns a 24-bit picture and
// becomes a palette of n entries, then answers nearest-colour queries through an index on green.
// Integer arithmetic throughout, so the same picture and settings always give the same palette.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "iedefs.h"

class TIEBitmap;

// The learned network and its search index.
class TIENeuQuantNet {
 public:
  struct Neuron {
    int32_t b, g, r, index;  // channels (x 16 while learning), then the palette index
  };
  int NetSize = 0;
  int SamplingFactor = 1;
  int AlphaDecrement = 30;
  int InitialRadius = 0;  // n div 8
  std::vector<Neuron> Network;
  int32_t GreenIndex[256] = {};
  std::vector<int32_t> Bias, Frequency, RadiusPower;
};

// The sampling factor for a picture of `pixels` pixels when no quality is given: 1 below 2000
// pixels, then growing with the size up to 30.
int NeuQuantAutoSampleFactor(int64_t pixels);
// The sampling factor for `quality` (0..100; -1 automatic from the pixel count).
int NeuQuantSampleFactor(int quality, int64_t pixels);

// Learns the ie24RGB `bitmap` and writes palette[0 .. colorCount - 1]. nullptr (palette untouched)
// when the bitmap is empty or not ie24RGB, or colorCount < 1.
std::unique_ptr<TIENeuQuantNet> IENeuQuantPalette(TIEBitmap* bitmap, TIERGB* palette, int colorCount, int quality);
// The palette index nearest to `color` (red shl 16 or green shl 8 or blue); always 0 .. n - 1.
int NeuQuantIndexOf(const TIENeuQuantNet& net, uint32_t color);
// The same for the colour b, g, r (0..255 each), walking out from green index[g].
int NeuQuantSearch(const TIENeuQuantNet& net, int b, int g, int r);
