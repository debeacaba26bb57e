// Colour reduction: the exact nearest-colour lookup against the platform's, the fixed lookups, the
// octree quantizer's palette and every ditherer's kernel, from small pictures with known results.
#include <windows.h>

#include <algorithm>
#include <map>
#include <random>

#include "gifdither.h"
#include "gifoctree.h"
#include "giftesthelp.h"

namespace {

HPALETTE MakePlatformPalette(const TGIFPalette& p) {
  std::vector<uint8_t> buf(sizeof(LOGPALETTE) + p.size() * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = WORD(p.size());
  for (size_t i = 0; i < p.size(); ++i) lp->palPalEntry[i] = {p[i].Red, p[i].Green, p[i].Blue, 0};
  return CreatePalette(lp);
}

}  // namespace

// The lookup answers exactly as GetNearestPaletteIndex does, ties and duplicate entries included.
TEST(GifColorLookup, MatchesPlatformNearestIndex) {
  std::mt19937 rng(11);
  auto rnd = [&](int n) { return uint8_t(rng() % uint32_t(n)); };
  std::vector<TGIFPalette> palettes = {CreateWebSafePalette(), CreateGray4Palette(), {{7, 7, 7}}};
  TGIFPalette octreeLike(256, TGIFColor{0, 0, 0});  // trailing black entries, as the octree leaves them
  for (int i = 0; i < 150; ++i) octreeLike[size_t(i)] = {rnd(256), rnd(256), rnd(256)};
  palettes.push_back(octreeLike);
  // A plain picture's octree palette: one colour and 255 black entries, which most cells all keep.
  TGIFPalette plain(256, TGIFColor{0, 0, 0});
  plain[0] = {255, 255, 255};
  palettes.push_back(plain);
  TGIFPalette coarse;  // few levels: many equal distances
  for (int i = 0; i < 64; ++i) coarse.push_back({uint8_t(rnd(4) * 85), uint8_t(rnd(4) * 85), uint8_t(rnd(4) * 85)});
  palettes.push_back(coarse);
  for (const TGIFPalette& palette : palettes) {
    HPALETTE platform = MakePlatformPalette(palette);
    ASSERT_NE(platform, nullptr);
    TSlowColorLookup lookup(palette);
    EXPECT_EQ(lookup.ColorCount(), int(palette.size()));
    std::vector<TGIFColor> probes;
    for (int i = 0; i < 20000; ++i) probes.push_back({rnd(256), rnd(256), rnd(256)});
    for (const TGIFColor& c : palette)
      for (int d : {-43, -1, 0, 1, 42})
        probes.push_back({uint8_t(std::clamp(c.Red + d, 0, 255)), c.Green, uint8_t(std::clamp(c.Blue - d, 0, 255))});
    size_t mismatches = 0;
    for (const TGIFColor& c : probes) {
      uint8_t r = 1, g = 2, b = 3;
      const int ours = lookup.FindIndex(c.Red, c.Green, c.Blue, r, g, b);
      const int theirs = int(GetNearestPaletteIndex(platform, RGB(c.Red, c.Green, c.Blue)));
      if (ours != theirs) ++mismatches;
      EXPECT_TRUE(palette[size_t(ours)] == (TGIFColor{r, g, b}));
    }
    EXPECT_EQ(mismatches, 0u) << palette.size() << " entries";
    DeleteObject(platform);
  }
}

TEST(GifColorLookup, FixedPaletteLookups) {
  uint8_t r, g, b;
  TNetscapeColorLookup cube;
  EXPECT_EQ(cube.FindIndex(128, 200, 30, r, g, b), 90);
  EXPECT_EQ((TGIFColor{r, g, b}), (TGIFColor{102, 153, 0}));
  const TGIFPalette web = CreateWebSafePalette();
  EXPECT_TRUE(web[90] == (TGIFColor{102, 153, 0}));
  for (int level : {48, 99, 150, 201, 252}) {
    cube.FindIndex(uint8_t(level), 0, 0, r, g, b);
    EXPECT_EQ(r, (level + 3) / 51 * 51) << level;
    cube.FindIndex(uint8_t(level - 1), 0, 0, r, g, b);
    EXPECT_EQ(r, (level - 48) / 51 * 51) << level;
  }
  TMonochromeLookup mono;
  EXPECT_EQ(mono.FindIndex(127, 127, 127, r, g, b), 0);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(mono.FindIndex(128, 128, 128, r, g, b), 1);
  EXPECT_EQ(r, 255);
  TGrayScaleLookup grey;
  EXPECT_EQ(grey.FindIndex(255, 0, 0, r, g, b), 76);  // 77 x 255 / 256
  EXPECT_EQ(grey.FindIndex(255, 255, 255, r, g, b), 255);
}

TEST(GifColorReduction, PipelineOutcomes) {
  TGIFBitmap picture = giftest::Picture(12, 5, [](int x, int y) { return TGIFColor{uint8_t(x * 20), uint8_t(y * 50), 90}; });
  auto copy = MakePalettedBitmap(picture, gpNone, TGIFDitherStyle(9), 8, nullptr);
  EXPECT_EQ(copy->BitsPerPixel(), 24);
  EXPECT_EQ(std::vector<uint8_t>(copy->Row(4), copy->Row(4) + 36), std::vector<uint8_t>(picture.Row(4), picture.Row(4) + 36));
  EXPECT_TRUE(MakePalettedBitmap(picture, TGIFPaletteMode(10), gdNearest, 8, nullptr)->Empty());
  EXPECT_TRUE(MakePalettedBitmap(picture, gpGivenPalette, gdNearest, 8, nullptr)->Empty());
  EXPECT_TRUE(MakePalettedBitmap(picture, gpWebSafe216, TGIFDitherStyle(7), 8, nullptr)->Empty());
  // gdNearest is the plain lookup of every pixel, whatever the direction of travel.
  auto web = MakePalettedBitmap(picture, gpWebSafe216, gdNearest, 8, nullptr);
  ASSERT_EQ(web->BitsPerPixel(), 8);
  EXPECT_EQ(web->Palette().size(), 216u);
  TNetscapeColorLookup cube;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 12; ++x) {
      uint8_t r, g, b;
      const uint8_t* s = picture.Row(y) + 3 * x;
      EXPECT_EQ(web->Row(y)[x], cube.FindIndex(s[2], s[1], s[0], r, g, b));
    }
  const TGIFPalette given = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}};
  auto mapped = MakePalettedBitmap(picture, gpGivenPalette, gdFloydSteinberg, 8, &given);
  EXPECT_EQ(mapped->Palette().size(), 3u);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_LT(mapped->Row(y)[x], 3);
}

// --- octree ---

namespace {
uint32_t TreeKey(const TGIFColor& c) {  // interleaved bits r7 g7 b7 r6 g6 b6 ...
  uint32_t k = 0;
  for (int bit = 7; bit >= 0; --bit)
    k = (k << 3) | (((c.Red >> bit) & 1u) << 2) | (((c.Green >> bit) & 1u) << 1) | ((c.Blue >> bit) & 1u);
  return k;
}
TGIFBitmap Strip(const std::vector<TGIFColor>& colors) {
  return giftest::Picture(int(colors.size()), 1, [&](int x, int) { return colors[size_t(x)]; });
}
}  // namespace

TEST(GifOctree, FewColorsKeptExactlyInTreeOrder) {
  const TGIFPalette one = BuildOctreePalette(Strip({{10, 20, 30}, {10, 20, 30}}), 256, 8, false);
  ASSERT_EQ(one.size(), 256u);
  EXPECT_TRUE(one[0] == (TGIFColor{10, 20, 30}));
  EXPECT_TRUE(std::all_of(one.begin() + 1, one.end(), [](const TGIFColor& c) { return c == TGIFColor{0, 0, 0}; }));

  std::mt19937 rng(3);
  std::vector<TGIFColor> colors = {{255, 255, 255}, {0, 0, 0}};
  while (colors.size() < 256) colors.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
  std::vector<TGIFColor> expected = colors;
  std::sort(expected.begin(), expected.end(), [](const TGIFColor& a, const TGIFColor& b) { return TreeKey(a) < TreeKey(b); });
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  std::shuffle(colors.begin(), colors.end(), rng);
  const TGIFPalette palette = BuildOctreePalette(Strip(colors), 256, 8, false);
  ASSERT_GE(palette.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), palette.begin()));
  EXPECT_TRUE(palette[0] == (TGIFColor{0, 0, 0}));
  EXPECT_TRUE(palette[expected.size() - 1] == (TGIFColor{255, 255, 255}));
}

// Too many colours: the level-7 node made last is merged first (even one holding a single colour),
// then the one before it, each becoming the truncated average of its pixels.
TEST(GifOctree, MergesDeepestMostRecentNode) {
  const std::vector<TGIFColor> pixels = {{0, 0, 0}, {0, 0, 1}, {2, 0, 0}, {2, 0, 1}, {2, 0, 1}, {2, 0, 1}, {4, 0, 0}};
  const TGIFPalette palette = BuildOctreePalette(Strip(pixels), 4, 8, false);
  const TGIFPalette expected = {{0, 0, 0}, {0, 0, 1}, {2, 0, 0}, {4, 0, 0}};
  EXPECT_EQ(palette, expected);

  // Two colours far apart and a third sharing the first one's level-7 node. Inserting alone never
  // merges; reading a picture with room for two merges the far colour's node (made last, no
  // change) and then the shared one, whose average is truncated.
  TColorQuantizer q(2, 8);
  q.InsertColor(0, 0, 0);
  q.InsertColor(200, 0, 0);
  q.InsertColor(1, 1, 1);
  q.InsertColor(1, 1, 1);
  EXPECT_EQ(q.LeafCount(), 3);
  TGIFBitmap pic = Strip({{0, 0, 0}, {200, 0, 0}, {1, 1, 1}, {1, 1, 1}});
  TColorQuantizer q2(2, 8);
  q2.AddBitmapColors(pic);
  EXPECT_EQ(q2.LeafCount(), 2);
  EXPECT_EQ(q2.CollectLeafColors(), (TGIFPalette{{0, 0, 0}, {200, 0, 0}}));  // (0 + 1 + 1) / 3 = 0
}

// One colour over more than 2^24 pixels (a plain 5120 x 3840 slide has 19.7 million) keeps its
// value, alone in its leaf and merged with a neighbour; the picture repeats one row, so it costs
// one row of memory.
TEST(GifOctree, SumsOfMoreThanTwoToTheTwentyFourPixelsDoNotWrap) {
  class RepeatedRow : public TGIFPixelSource {
   public:
    RepeatedRow(const std::vector<TGIFColor>& row, int height) : height_(height) {
      for (const TGIFColor& c : row) bgr_.insert(bgr_.end(), {c.Blue, c.Green, c.Red});
    }
    int Width() const override { return int(bgr_.size() / 3); }
    int Height() const override { return height_; }
    int BitsPerPixel() const override { return 24; }
    const uint8_t* Row(int) const override { return bgr_.data(); }
    const TGIFPalette& Palette() const override { return palette_; }

   private:
    std::vector<uint8_t> bgr_;
    int height_;
    TGIFPalette palette_;
  };
  constexpr int kWidth = 4096, kHeight = 4200;  // 17.2 million pixels
  static_assert(int64_t(kWidth) * kHeight > (int64_t(1) << 24), "not past 2^24");
  for (const TGIFColor c : {TGIFColor{255, 255, 255}, TGIFColor{0, 160, 0}}) {
    const TGIFPalette palette = BuildOctreePalette(RepeatedRow(std::vector<TGIFColor>(kWidth, c), kHeight), 256, 8, false);
    EXPECT_TRUE(palette[0] == c) << int(palette[0].Red) << "," << int(palette[0].Green) << "," << int(palette[0].Blue);
  }
  // Room for one colour: white and one pixel per row of (250, 250, 250) share a leaf whose average
  // is 255 - 5 / 4096, truncated to 254.
  std::vector<TGIFColor> row(kWidth, TGIFColor{255, 255, 255});
  row.back() = {250, 250, 250};
  TColorQuantizer q(1, 8);
  q.AddBitmapColors(RepeatedRow(row, kHeight));
  EXPECT_EQ(q.CollectLeafColors(), (TGIFPalette{{254, 254, 254}}));
}

TEST(GifOctree, KeepStaticFramesThePalette) {
  const TGIFPalette stock = StockPalette20();
  ASSERT_EQ(stock.size(), 20u);
  const TGIFPalette palette = BuildOctreePalette(Strip({{10, 20, 30}, {50, 60, 70}}), 256, 8, true);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_TRUE(std::equal(stock.begin(), stock.begin() + 10, palette.begin()));
  EXPECT_TRUE(std::equal(stock.begin() + 10, stock.end(), palette.begin() + 246));
  EXPECT_TRUE(palette[10] == (TGIFColor{10, 20, 30}));
  EXPECT_TRUE(palette[11] == (TGIFColor{50, 60, 70}));
}

// --- ditherers ---

namespace {

// A lookup that answers each colour with itself (no error), except for the calls given, which
// answer with a fixed palette value; it records the red value it was asked for at each call.
class ProbeLookup : public TColorLookup {
 public:
  explicit ProbeLookup(std::map<int, int> answers) : answers_(std::move(answers)) { colorCount_ = 256; }
  uint8_t FindIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& r, uint8_t& g, uint8_t& b) override {
    asked.push_back(red);
    auto it = answers_.find(int(asked.size()) - 1);
    r = it != answers_.end() ? uint8_t(it->second) : red;
    g = green;
    b = blue;
    return 0;
  }
  std::vector<int> asked;

 private:
  std::map<int, int> answers_;
};

// Runs a ditherer over a w x h picture of value `base` in every channel; returns what the lookup
// was asked for each pixel, by position.
std::vector<int> Probe(TGIFDitherStyle style, int w, int h, int base, const std::map<int, int>& answers) {
  ProbeLookup lookup(answers);
  auto ditherer = CreateDitherer(style, w, &lookup);
  std::vector<int> seen(size_t(w) * size_t(h), -1);
  uint8_t r, g, b;
  for (int y = 0; y < h; ++y) {
    for (int x = ditherer->Column(); x >= 0 && x < w; x += ditherer->Direction()) {
      ditherer->ProcessPixel(uint8_t(base), uint8_t(base), uint8_t(base), r, g, b);
      seen[size_t(y) * size_t(w) + size_t(x)] = lookup.asked.back();
    }
    ditherer->NextRow();
  }
  return seen;
}

struct Weight {
  int row, offset, weight;  // offset along the direction of travel
};
struct Kernel {
  TGIFDitherStyle style;
  int divisor;
  std::vector<Weight> weights;
};

}  // namespace

// One pixel with an error equal to the kernel's divisor: every later pixel then receives exactly
// its weight, at the kernel's offsets, mirrored on right-to-left rows. The other pixels answer
// with themselves and pass no error on, so only the seed's error shows.
TEST(GifDither, KernelsAndDirections) {
  const Kernel kKernels[] = {
      {gdFloydSteinberg, 16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}},
      {gdStucki, 42, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                      {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}},
      {gdSierra, 32, {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                      {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}},
      {gdJaJuNi, 48, {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                      {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}},
      {gdSteveArche, 200, {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12},
                           {2, 0, 26}, {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}},
      {gdBurkes, 32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}},
  };
  const int w = 11, h = 6, x0 = 5;
  for (const Kernel& k : kKernels) {
    for (int y0 : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "style " << int(k.style) << " seed row " << y0);
      const int d = y0 == 0 ? 1 : -1;
      const int seedCall = y0 * w + (d == 1 ? x0 : w - 1 - x0);
      // A flat picture of value `divisor`; the seed answers with palette value 0, so its error is
      // the divisor.
      const int flat = k.divisor;
      std::map<int, int> answers = {{seedCall, 0}};
      std::vector<int> expected(size_t(w) * size_t(h), flat);
      for (const Weight& wt : k.weights) {
        const int x = x0 + wt.offset * d, y = y0 + wt.row;
        if (x >= 0 && x < w && y < h) expected[size_t(y) * size_t(w) + size_t(x)] = std::min(255, flat + wt.weight);
      }
      EXPECT_EQ(Probe(k.style, w, h, flat, answers), expected);
    }
  }
}

TEST(GifDither, FloydSteinbergRoundingClampAndEdges) {
  // 2 x 2, row 0 left to right (calls 0, 1), row 1 right to left (calls 2 = (1,1), 3 = (0,1)).
  struct Case {
    const char* what;
    int w, h, base;
    std::map<int, int> answers;  // call -> palette value
    int x, y, expected;          // what the lookup is asked for at (x, y)
  };
  const Case kCases[] = {
      {"-23/16 changes nothing", 2, 2, 100, {{0, 98}, {1, 105}}, 1, 1, 100},  // 1 x 2 + 5 x -5
      {"-24/16 lowers by 1", 2, 2, 100, {{1, 108}}, 0, 1, 99},               // 3 x -8
      {"+7/16 changes nothing", 2, 1, 100, {{0, 99}}, 1, 0, 100},            // 7 x 1
      {"+8/16 raises by 1", 2, 2, 100, {{0, 92}}, 1, 1, 101},                // 1 x 8
      {"one pixel wide: straight below only", 1, 3, 100, {{0, 84}}, 0, 1, 105},
      {"one pixel wide: nothing two rows down", 1, 3, 100, {{0, 84}}, 0, 2, 100},
      // 250 + 7 clamps to 255; its error is taken from 255 (5, not 12), so the third pixel gets
      // 250 + (35 + 8) / 16 = 252.
      {"clamped channel's error", 3, 1, 250, {{0, 234}, {1, 250}}, 2, 0, 252},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<int> seen = Probe(gdFloydSteinberg, c.w, c.h, c.base, c.answers);
    EXPECT_EQ(seen[size_t(c.y) * size_t(c.w) + size_t(c.x)], c.expected);
  }
}

// With a real palette: black and white with Floyd-Steinberg keep a flat grey's mean level.
TEST(GifDither, FloydSteinbergKeepsMeanLevel) {
  TGIFBitmap grey = giftest::Picture(64, 64, [](int, int) { return TGIFColor{64, 64, 64}; });
  auto out = MakePalettedBitmap(grey, gpBlackWhite, gdFloydSteinberg, 8, nullptr);
  int white = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) white += out->Row(y)[x];
  EXPECT_NEAR(white / 4096.0, 64 / 255.0, 0.01);
}
