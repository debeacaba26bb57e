// The colour-map optimizer: replaces the colour maps of all frames by one global map that holds only
// the colours the frames show, most used first, and rewrites every frame's pixels to it.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "gifimage.h"

// One colour of a colour map and what becomes of it.
struct THistogramEntry {
  static constexpr int kUnassigned = 256;
  uint64_t Count = 0;  // pixels seen (64 bits: the frames that share a map may hold more than 2^31)
  int OldIndex = 0;
  int NewIndex = kUnassigned;
  TGIFColor Color{};
  const THistogramEntry* MergedInto = nullptr;  // the entry of the same colour that took over the count
};

// The use of one colour map's entries by the frames counted into it.
class THistogram {
 public:
  explicit THistogram(const TGIFColorMap& colorMap);
  THistogram(const THistogram&) = delete;
  THistogram& operator=(const THistogram&) = delete;
  // Counts the frame's pixels; true when the frame shows its transparent colour. Pixels beyond the
  // map become 0 with the warning "Color not in color table"; a transparent frame that never shows its
  // transparent index loses its transparency.
  bool CountFrame(TGIFSubImage& frame);
  // Cuts the entry list to the entries in use, most used first; returns their number.
  int DropUnused();
  // The listed entries (all entries until DropUnused).
  const std::vector<THistogramEntry*>& List() const { return list_; }
  bool HasFrames() const { return !frames_.empty(); }
  // Rewrites the counted frames' pixels to the entries' new indices; with `useTransparency` the
  // transparent frames' transparent pixels take `newTransparentIndex`.
  void RemapFrames(bool useTransparency, uint8_t newTransparentIndex);

 private:
  std::vector<THistogramEntry> entries_;
  int colorCount_;
  std::vector<THistogramEntry*> list_;
  std::vector<TGIFSubImage*> frames_;
};

// Merges all colour maps of an image into its global map. Create, Run, then destroy.
class TColorMapOptimizer {
 public:
  explicit TColorMapOptimizer(TGIFImage& image) : image_(image) {}
  TColorMapOptimizer(const TColorMapOptimizer&) = delete;
  TColorMapOptimizer& operator=(const TColorMapOptimizer&) = delete;
  void Run();

 private:
  void CountColors();
  void MergeEqualColors();
  // Keeps the most used colours (255 and a black transparent slot when any frame shows transparency);
  // every other colour goes to the kept colour nearest to it by squared RGB distance.
  void BuildColorMap();
  void ApplyColorMap();

  TGIFImage& image_;
  std::vector<std::unique_ptr<THistogram>> histograms_;
  std::vector<THistogramEntry*> merged_;  // the entries in use of all histograms
  TGIFPalette colorMap_;
  int finalCount_ = 0;
  bool useTransparency_ = false;
  uint8_t newTransparentIndex_ = 0;
};
