// Octree colour quantizer: one pass over the picture keeps at most the wanted number of leaves,
// merging the deepest, most recently made interior node whenever there are too many.
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "gifbitmap.h"

class TOctreeNode {
 public:
  bool Leaf = false;
  // 64 bits: one colour covering more than 2^24 pixels (a plain 4096 x 4096 slide) would wrap the
  // 32-bit sums and turn the colour into another.
  uint64_t PixelCount = 0;
  uint64_t RedSum = 0, GreenSum = 0, BlueSum = 0;
  TOctreeNode* NextReducible = nullptr;
  std::array<std::unique_ptr<TOctreeNode>, 8> Children;
};

class TColorQuantizer {
 public:
  TColorQuantizer(int maxColors, int colorBits);
  ~TColorQuantizer();
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;
  // Inserts every pixel of a 24-bit picture, top row first, reducing after each one as needed.
  void AddBitmapColors(const TGIFPixelSource& picture);
  void InsertColor(uint8_t red, uint8_t green, uint8_t blue);
  int LeafCount() const { return leafCount_; }
  // The leaf colours in tree order (children 0..7 depth first).
  TGIFPalette CollectLeafColors() const;

 private:
  void MergeDeepestNode();
  std::unique_ptr<TOctreeNode> root_;
  int leafCount_ = 0;
  std::array<TOctreeNode*, 8> reducible_{};
  int maxColors_, colorBits_;
};

// A palette of `colors` entries (black beyond the colours found). With keepStatic the palette has
// 256 entries: the platform's 20 static colours in slots 0..9 and 246..255 and 236 found colours.
TGIFPalette BuildOctreePalette(const TGIFPixelSource& picture, int colors, int colorBits, bool keepStatic);
