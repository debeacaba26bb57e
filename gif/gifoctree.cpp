#include "gifoctree.h"

#include <algorithm>


#include "gifcolorreduction.h"

TColorQuantizer::TColorQuantizer(int maxColors, int colorBits) : maxColors_(maxColors), colorBits_(colorBits) {}

TColorQuantizer::~TColorQuantizer() = default;

void TColorQuantizer::InsertColor(uint8_t red, uint8_t green, uint8_t blue) {
  std::unique_ptr<TOctreeNode>* slot = &root_;
  for (int level = 0;; ++level) {
    if (!*slot) {
      *slot = std::make_unique<TOctreeNode>();
      TOctreeNode* created = slot->get();
      if (level == colorBits_) {
        created->Leaf = true;
        ++leafCount_;
      } else {
        created->NextReducible = reducible_[size_t(level)];
        reducible_[size_t(level)] = created;
      }
    }
    TOctreeNode* node = slot->get();
    if (node->Leaf) {
      ++node->PixelCount;
      node->RedSum += red;
      node->GreenSum += green;
      node->BlueSum += blue;
      return;
    }
    const int mask = 0x80 >> level, shift = 7 - level;
    const int child = (((red & mask) >> shift) << 2) | (((green & mask) >> shift) << 1) | ((blue & mask) >> shift);
    slot = &node->Children[size_t(child)];
  }
}

void TColorQuantizer::MergeDeepestNode() {
  int level = colorBits_ - 1;
  while (level > 0 && !reducible_[size_t(level)]) --level;
  TOctreeNode* node = reducible_[size_t(level)];
  if (!node) return;
  reducible_[size_t(level)] = node->NextReducible;
  node->NextReducible = nullptr;
  int merged = 0;
  for (auto& child : node->Children) {
    if (!child) continue;
    node->RedSum += child->RedSum;
    node->GreenSum += child->GreenSum;
    node->BlueSum += child->BlueSum;
    node->PixelCount += child->PixelCount;
    child.reset();
    ++merged;
  }
  node->Leaf = true;
  leafCount_ -= merged - 1;
}

void TColorQuantizer::AddBitmapColors(const TGIFPixelSource& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    const uint8_t* p = picture.Row(y);
    for (int x = 0; x < picture.Width(); ++x, p += 3) {
      InsertColor(p[2], p[1], p[0]);
      while (leafCount_ > maxColors_) MergeDeepestNode();
    }
  }
}

namespace {
void Collect(const TOctreeNode* node, TGIFPalette& out) {
  if (!node) return;
  if (node->Leaf) {
    if (node->PixelCount == 0)
      out.push_back({0, 0, 0});
    else
      out.push_back({uint8_t(node->RedSum / node->PixelCount), uint8_t(node->GreenSum / node->PixelCount),
                     uint8_t(node->BlueSum / node->PixelCount)});
    return;
  }
  for (const auto& child : node->Children) Collect(child.get(), out);
}
}  // namespace

TGIFPalette TColorQuantizer::CollectLeafColors() const {
  TGIFPalette colors;
  Collect(root_.get(), colors);
  return colors;
}

TGIFPalette BuildOctreePalette(const TGIFPixelSource& picture, int colors, int colorBits, bool keepStatic) {
  int start = 0, wanted = colors;
  TGIFPalette palette;
  if (keepStatic) {
    palette.assign(256, TGIFColor{0, 0, 0});
    const TGIFPalette stock = StockPalette20();
    for (size_t i = 0; i < 10 && i < stock.size(); ++i) palette[i] = stock[i];
    for (size_t i = 10; i < 20 && i < stock.size(); ++i) palette[236 + i] = stock[i];
    start = 10;
    wanted = 236;
  } else {
    palette.assign(size_t(std::max(colors, 0)), TGIFColor{0, 0, 0});
  }
  TColorQuantizer quantizer(wanted, colorBits);
  quantizer.AddBitmapColors(picture);
  const TGIFPalette found = quantizer.CollectLeafColors();
  for (size_t i = 0; i < found.size() && int(i) < wanted && start + i < palette.size(); ++i)
    palette[start + i] = found[i];
  return palette;
}
