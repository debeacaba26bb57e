// Reduction to black and white and to n colours, the colour services of the writers.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "iecolorreduction.h"
#include "iequantizer.h"
#include "quantfixtures.h"

namespace {

bool Bit(TIEBitmap& b, int x, int y) { return (b.GetRowAddress(y)[x >> 3] >> (7 - (x & 7))) & 1; }

TIEBitmap* Flat(TIEBitmap* b, TIERGB c) {
  for (int y = 0; y < b->GetImageHeight(); ++y)
    for (int x = 0; x < b->GetImageWidth(); ++x) b->SetRGB(x, y, c);
  return b;
}

// The Bayer matrix as the dither reads it: M(x mod 8, y mod 8), row 0 and column 0 as published.
int M(int x, int y) {
  static const int m[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                              {12, 44, 4, 36, 14, 46, 6, 38},  {60, 28, 52, 20, 62, 30, 54, 22},
                              {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
                              {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};
  return m[x & 7][y & 7];
}

TEST(OrderedDither, FlatColours) {
  struct Case {
    TIERGB color;
    int whiteCount;  // of the 64 cells of one 8 x 8 tile
    bool (*white)(int m);
  };
  const Case cases[] = {
      {IEMakeRGB(255, 255, 255), 64, [](int) { return true; }},
      {IEMakeRGB(250, 255, 255), 63, [](int m) { return m != 63; }},
      {IEMakeRGB(128, 128, 128), 32, [](int m) { return m < 32; }},
      {IEMakeRGB(0, 0, 0), 0, [](int) { return false; }},
  };
  for (const Case& c : cases) {
    TIEBitmap b(19, 11, ie24RGB);
    IEOrderedDitherTo1Bit(Flat(&b, c.color), {});
    ASSERT_EQ(b.GetPixelFormat(), ie1g);
    int white = 0;
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 19; ++x) {
        ASSERT_EQ(Bit(b, x, y), c.white(M(x, y))) << int(c.color.r) << " at " << x << "," << y;
        if (x < 8 && y < 8) white += Bit(b, x, y);
      }
    EXPECT_EQ(white, c.whiteCount);
  }
}

TEST(ConvertTo, TwoColoursThresholdKeepsTextAndDitherFollowsTheMatrix) {
  // black text on white: threshold at the mean keeps both
  TIEBitmap page(64, 32, ie24RGB);
  Flat(&page, IEMakeRGB(255, 255, 255));
  for (int x = 10; x < 50; ++x) page.SetRGB(x, 15, IEMakeRGB(0, 0, 0));
  ASSERT_TRUE(IEConvertToColors(&page, 2, true, {}));
  ASSERT_EQ(page.GetPixelFormat(), ie1g);
  EXPECT_FALSE(Bit(page, 20, 15));
  EXPECT_TRUE(Bit(page, 20, 14));
  EXPECT_TRUE(Bit(page, 5, 15));

  TIEBitmap grey(16, 16, ie24RGB);
  ASSERT_TRUE(IEConvertToColors(Flat(&grey, IEMakeRGB(128, 128, 128)), 2, false, {}));
  EXPECT_EQ(Bit(grey, 1, 0), M(1, 0) < 32);
}

TEST(ConvertTo, ColourCountsAndLimits) {
  auto photo = quant::PhotoLike(60, 40, 4);
  TIEBitmap b;
  b.Assign(photo.get());
  int reports = 0, last = -1;
  TIEReductionProgress prog{&b, [&](void* s, int per) { EXPECT_EQ(s, &b); ++reports; last = per; }};
  ASSERT_TRUE(IEConvertToColors(&b, 3, false, prog));
  EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
  std::set<uint32_t> colours;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      TIERGB c = b.GetRGB(x, y);
      colours.insert((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b);
    }
  EXPECT_LE(colours.size(), 3u);
  EXPECT_EQ(reports, 40);
  EXPECT_EQ(last, 98);  // trunc(40 x 100 / 40.5)

  // above 1024 colours, and ConvertToPalette with 0 colours, change nothing
  TIEBitmap c;
  c.Assign(photo.get());
  EXPECT_FALSE(IEConvertToColors(&c, 2000, false, {}));
  std::vector<TIERGB> pal(4, IEMakeRGB(9, 9, 9));
  EXPECT_FALSE(IEConvertToPaletteColors(&c, 0, pal.data(), false, {}));
  EXPECT_EQ(pal[0].r, 9);
  for (int y = 0; y < 40; ++y)
    ASSERT_EQ(0, memcmp(c.GetRowAddress(y), photo->GetRowAddress(y), 60 * 3));

  // ConvertToPalette: black and white for 2 colours; the quantizer's entries for more
  ASSERT_TRUE(IEConvertToPaletteColors(&c, 2, pal.data(), true, {}));
  EXPECT_TRUE(IESameRGB(pal[0], IEMakeRGB(0, 0, 0)));
  EXPECT_TRUE(IESameRGB(pal[1], IEMakeRGB(255, 255, 255)));
  EXPECT_EQ(pal[2].r, 9);
  TIEBitmap d;
  d.Assign(photo.get());
  std::vector<TIERGB> pal4(4, IEMakeRGB(9, 9, 9));
  ASSERT_TRUE(IEConvertToPaletteColors(&d, 4, pal4.data(), false, {}));
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      TIERGB px = d.GetRGB(x, y);
      bool found = false;
      for (const TIERGB& e : pal4) found = found || IESameRGB(e, px);
      ASSERT_TRUE(found);
    }
}

TEST(Threshold, MeanMaxEntropyAndSingleLevels) {
  // bimodal greys around 60 and 190: the maximum-entropy threshold lies between the modes
  TIEBitmap bi(100, 100, ie8g);
  uint32_t s = 1;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      s = s * 1664525u + 1013904223u;
      int n = int((s >> 24) % 31) - 15;
      bi.GetRowAddress(y)[x] = uint8_t((x < 40 ? 60 : 190) + n);
    }
  int t = IEResolveThreshold(&bi, kIEThresholdMaxEntropy);
  EXPECT_GT(t, 75);
  EXPECT_LE(t, 175);

  struct Case {
    TIERGB colour;
    int threshold;
    bool white;
  };
  // single levels keep their level; two levels fall back to the mean
  const Case cases[] = {{IEMakeRGB(0, 0, 0), kIEThresholdMean, false},       {IEMakeRGB(0, 0, 0), kIEThresholdMaxEntropy, false},
                        {IEMakeRGB(255, 255, 255), kIEThresholdMean, true},  {IEMakeRGB(255, 255, 255), kIEThresholdMaxEntropy, true},
                        {IEMakeRGB(100, 100, 100), 100, true},               {IEMakeRGB(100, 100, 100), 101, false}};
  for (const Case& c : cases) {
    TIEBitmap b(9, 3, ie24RGB), out(9, 3, ie1g);
    IEThresholdTo1Bit(Flat(&b, c.colour), &out, c.threshold, {});
    for (int x = 0; x < 9; ++x) ASSERT_EQ(Bit(out, x, 1), c.white) << int(c.colour.r) << " " << c.threshold;
  }
  TIEBitmap text(40, 10, ie24RGB), out(40, 10, ie1g);
  Flat(&text, IEMakeRGB(255, 255, 255));
  for (int x = 5; x < 30; ++x) text.SetRGB(x, 4, IEMakeRGB(0, 0, 0));
  IEThresholdTo1Bit(&text, &out, kIEThresholdMaxEntropy, {});
  EXPECT_FALSE(Bit(out, 10, 4));
  EXPECT_TRUE(Bit(out, 10, 5));
}

TEST(HistogramAndMean, ByFormat) {
  TIEBitmap bw(10, 2, ie1g);
  bw.GetRowAddress(0)[0] = 0xF0;
  int counts[256];
  IEGrayHistogram(&bw, counts);
  EXPECT_EQ(counts[0], 16);
  EXPECT_EQ(counts[1], 4);
  int r, g, b;
  TIEBitmap rgb(2, 1, ie24RGB);
  rgb.SetRGB(0, 0, IEMakeRGB(100, 0, 9));
  rgb.SetRGB(1, 0, IEMakeRGB(201, 50, 0));
  IEMeanColor(&rgb, r, g, b);
  EXPECT_EQ(r, 150);
  EXPECT_EQ(g, 25);
  EXPECT_EQ(b, 4);
  IEGrayHistogram(&rgb, counts);
  EXPECT_EQ(counts[(100 * 21 + 9 * 8) / 100], 1);
}

TEST(TwoColour, DarkerBecomesZero) {
  struct Case {
    TIERGB first, second;
    bool two;
  };
  const Case cases[] = {{IEMakeRGB(250, 250, 0), IEMakeRGB(0, 0, 200), true},
                        {IEMakeRGB(0, 0, 200), IEMakeRGB(250, 250, 0), true},
                        {IEMakeRGB(10, 10, 10), IEMakeRGB(10, 10, 10), false}};
  for (const Case& c : cases) {
    TIEBitmap b(13, 3, ie24RGB);
    Flat(&b, c.first);
    b.SetRGB(5, 1, c.second);
    TIERGB c0, c1;
    auto bw = IEConvertTwoColorTo1Bit(&b, c0, c1);
    ASSERT_EQ(bool(bw), c.two);
    if (!bw) continue;
    EXPECT_TRUE(IESameRGB(c0, IEMakeRGB(0, 0, 200)));
    EXPECT_TRUE(IESameRGB(c1, IEMakeRGB(250, 250, 0)));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(Bit(*bw, x, y), IESameRGB(b.GetRGB(x, y), c1));
    EXPECT_EQ(bw->GetRowAddress(0)[1] & 0x07, 0);  // padding stays clear
  }
  TIEBitmap three(4, 1, ie24RGB);
  three.SetRGB(1, 0, IEMakeRGB(1, 2, 3));
  three.SetRGB(2, 0, IEMakeRGB(4, 5, 6));
  TIERGB c0, c1;
  EXPECT_FALSE(IEConvertTwoColorTo1Bit(&three, c0, c1));
}

TEST(NearestPaletteIndex, FirstOfTheClosest) {
  const TIERGB pal[] = {IEMakeRGB(0, 0, 0), IEMakeRGB(100, 100, 100), IEMakeRGB(100, 100, 100), IEMakeRGB(255, 0, 0)};
  EXPECT_EQ(IENearestPaletteIndex(pal, 4, 0x646464), 1);
  EXPECT_EQ(IENearestPaletteIndex(pal, 4, 0xF00505), 3);
  EXPECT_EQ(IENearestPaletteIndex(pal, 0, 0xF00505), 0);
}

TEST(RowBitDepth, FourteenPairs) {
  // three pixels: colours red, black, blue in 24 and 32 bits; indices 1, 0, 1 in 8, 4 and 1 bits
  const TIERGB pal[16] = {IEMakeRGB(0, 0, 0), IEMakeRGB(255, 0, 0), IEMakeRGB(0, 0, 255)};
  const uint8_t px24[] = {0, 0, 255, 0, 0, 0, 255, 0, 0};
  const uint8_t px32[] = {0, 0, 255, 9, 0, 0, 0, 9, 255, 0, 0, 9};
  const uint8_t px8[] = {1, 0, 2};
  const uint8_t px8bits[] = {1, 0, 1};
  const uint8_t px4[] = {0x10, 0x20};
  const uint8_t px1[] = {0xA0};
  auto bmp = quant::FromColors(3, 1, {IEMakeRGB(0, 0, 0), IEMakeRGB(255, 0, 0), IEMakeRGB(0, 0, 255)});
  std::vector<TIERGB> qp(16);
  TIEQuantizer q(bmp.get(), qp.data(), 16);  // exact, in order of appearance: black 0, red 1, blue 2
  struct Case {
    int from, to;
    const uint8_t* src;
    std::vector<uint8_t> want;
    int bytes;
  };
  const Case cases[] = {
      {24, 4, px24, {0x10, 0x20}, 2},
      {24, 8, px24, {1, 0, 2}, 3},
      {24, 24, px24, {0, 0, 255, 0, 0, 0, 255, 0, 0}, 9},
      {32, 24, px32, {0, 0, 255, 0, 0, 0, 255, 0, 0}, 9},
      {8, 1, px8bits, {0xA0}, 1},
      {8, 8, px8, {1, 0, 2}, 3},
      {8, 24, px8, {0, 0, 255, 0, 0, 0, 255, 0, 0}, 9},
      {1, 1, px1, {0xA0}, 1},
      {1, 4, px1, {0x10, 0x10}, 2},
      {1, 8, px1, {1, 0, 1}, 3},
      {1, 24, px1, {0, 0, 255, 0, 0, 0, 0, 0, 255}, 9},
      {4, 4, px4, {0x10, 0x20}, 2},
      {4, 8, px4, {1, 0, 2}, 3},
      {4, 24, px4, {0, 0, 255, 0, 0, 0, 255, 0, 0}, 9},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> dst(16, 0);
    int n = IEConvertRowBitDepth(c.src, dst.data(), c.from, &q, pal, 3, c.to);
    EXPECT_EQ(n, c.bytes) << c.from << "->" << c.to;
    dst.resize(c.want.size());
    EXPECT_EQ(dst, c.want) << c.from << "->" << c.to;
  }
  std::vector<uint8_t> dst(8, 0x77);
  EXPECT_EQ(IEConvertRowBitDepth(px8, dst.data(), 8, &q, pal, 3, 4), 2);
  EXPECT_EQ(dst[0], 0x77);  // 8 -> 4 is not a pair: nothing written
  EXPECT_EQ(IEConvertRowBitDepth(px8, dst.data(), 8, &q, pal, 3, 16), 0);
}

}  // namespace
