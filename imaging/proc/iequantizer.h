// TIEQuantizer: the image library's single way to make a palette of up to n colours for a
// TIEBitmap and to map colours to that palette. It takes the cheapest way that is exact for the
// bitmap (a grey ramp, the bitmap's own palette, its own distinct colours) and otherwise runs
// NeuQuant or median cut, as the process-wide settings below choose.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "iedefs.h"

class TIEBitmap;
class TIENeuQuantNet;
class TIEMedianCutState;

// -1 automatic (NeuQuant for 128 colours and more, median cut below), 0 NeuQuant, 1 median cut; any
// other value behaves as 0. -1 after the library's start-up.
extern int IEColorReductionAlgorithm;
// -1 automatic, else 0..100: NeuQuant's sampling (100 visits every pixel). Median cut ignores it.
extern int IEColorReductionQuality;

// A set of distinct colours with their positions, hashed on the packed value 0x00RRGGBB.
class TIEColorIndexMap {
 public:
  explicit TIEColorIndexMap(int capacity);
  // The colour's position, or -1 when it is not in the set.
  int Find(uint32_t color) const;
  // Adds a colour not yet in the set at position `index`.
  void Insert(uint32_t color, int index);

 private:
  std::vector<uint32_t> keys_;  // colour + 1, 0 = empty slot
  std::vector<int32_t> values_;
  uint32_t mask_;
};

class TIEQuantizer {
 public:
  // Fills palette[0 .. colorCount - 1] (fewer entries when the bitmap holds fewer exact colours;
  // `palette` must hold colorCount entries) and prepares the index search. Images in formats other
  // than ie24RGB, ie8p and the grey formats are reduced as colour through a 24-bit copy.
  TIEQuantizer(TIEBitmap* bitmap, TIERGB* palette, int colorCount);
  ~TIEQuantizer();
  TIEQuantizer(const TIEQuantizer&) = delete;
  TIEQuantizer& operator=(const TIEQuantizer&) = delete;

  // The palette index for `color`: always inside the palette that was filled (0 when none was).
  // Not safe to call from several threads at once on one quantizer (the NeuQuant search is cached).
  int RGBToIndex(TIERGB color) const;

  // How the palette was made.
  enum TMethod {
    qmNone,           // nothing to quantize (empty bitmap, no colour asked); every colour maps to 0
    qmExact,          // the bitmap's own distinct colours
    qmGreyRamp,       // an even grey ramp from 0 to 255
    qmBitmapPalette,  // the palette of an ie8p bitmap
    qmNeuQuant,
    qmMedianCut,
  };
  TMethod Method() const { return method_; }
  int EntryCount() const { return entries_; }  // palette entries filled

 private:
  bool CollectExactColors(TIEBitmap* bitmap, TIERGB* palette);
  int Nearest(uint32_t color) const;

  TMethod method_ = qmNone;
  int colorCount_ = 0;
  int entries_ = 0;
  std::vector<TIERGB> colors_;  // the exact colours or the bitmap's palette, for searching
  std::unique_ptr<TIEColorIndexMap> index_;
  std::unique_ptr<TIENeuQuantNet> neuQuant_;
  // Direct-mapped cache of NeuQuant answers: key colour + 1 (0 = empty) and the index.
  mutable std::vector<uint32_t> cacheKeys_;
  mutable std::vector<int32_t> cacheValues_;
  std::unique_ptr<TIEMedianCutState> medianCut_;
};
