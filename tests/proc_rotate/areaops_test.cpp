// Fill, crop, crop to the opaque area and histogram matching.
#include <gtest/gtest.h>

#include <random>

#include "iebitmap.h"
#include "ieareaops.h"

namespace {

bool BitAt(TIEBitmap& b, int x, int y) { return (b.GetRowAddress(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }

TEST(AreaOpsTest, FillByFormat) {
  TIEBitmap g(12, 4, ie1g);
  IEFillRect(&g, TIERect{2, 0, 9, 3}, TIERGB{0, 0, 1}, nullptr, nullptr);  // red 1: white
  EXPECT_TRUE(BitAt(g, 2, 0));
  EXPECT_TRUE(BitAt(g, 9, 3));
  EXPECT_FALSE(BitAt(g, 10, 3));
  EXPECT_FALSE(BitAt(g, 1, 0));
  IEFillRect(&g, TIERect{0, 0, 11, 3}, TIERGB{255, 255, 0}, nullptr, nullptr);  // red 0: black
  EXPECT_FALSE(BitAt(g, 5, 2));

  TIEBitmap grey(5, 5, ie8g);
  int last = 0;
  IEFillRect(&grey, TIERect{-3, -3, 99, 2}, TIERGB{0, 0, 255}, nullptr, [&](void*, int per) { last = per; });
  EXPECT_EQ(grey.GetByte(4, 2), 255 * IEGrayWeightRed / 100);
  EXPECT_EQ(grey.GetByte(4, 3), 0);
  EXPECT_EQ(last, 85);  // 3 rows of 3.5

  TIEBitmap rgb(4, 4, ie32RGB);
  rgb.SetDWord(1, 1, 0x7F000000);
  IEFillRect(&rgb, TIERect{0, 0, 3, 3}, TIERGB{1, 2, 3}, nullptr, nullptr);
  EXPECT_EQ(rgb.GetDWord(1, 1), 0x7F030201u);
}

TEST(AreaOpsTest, CropClipsAndTakesTheAlphaAlong) {
  TIEBitmap b(10, 8, ie24RGB);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) b.SetRGB(x, y, TIERGB{uint8_t(x), uint8_t(y), 0});
  b.GetAlphaChannel()->SetByte(6, 5, 7);
  ASSERT_TRUE(IECropBitmap(&b, TIERect{4, 3, 20, 20}));  // reaches outside: clipped first
  EXPECT_EQ(b.GetImageWidth(), 6);
  EXPECT_EQ(b.GetImageHeight(), 5);
  EXPECT_EQ(b.GetRGB(0, 0).b, 4);
  EXPECT_EQ(b.GetRGB(5, 4).g, 7);
  EXPECT_EQ(b.GetAlphaChannel()->GetImageWidth(), 6);
  EXPECT_EQ(b.GetAlphaAt(2, 2), 7);
  EXPECT_FALSE(IECropBitmap(&b, TIERect{50, 50, 60, 60}));
  EXPECT_FALSE(IECropBitmap(&b, TIERect{3, 3, 2, 2}));
  EXPECT_EQ(b.GetImageWidth(), 6);
}

TEST(AreaOpsTest, CropToOpaqueArea) {
  TIEBitmap b(10, 8, ie8g);
  TIERect all = IEFindOpaqueBounds(&b);
  EXPECT_EQ(all.Right, 9);
  EXPECT_EQ(all.Bottom, 7);
  b.GetAlphaChannel()->Fill(0);
  EXPECT_TRUE(IEFindOpaqueBounds(&b).IsEmpty());
  EXPECT_FALSE(IECropToOpaqueArea(&b));  // fully transparent: left as it is
  EXPECT_EQ(b.GetImageWidth(), 10);
  b.SetAlphaAt(2, 6, 1);
  b.SetAlphaAt(7, 3, 1);
  ASSERT_TRUE(IECropToOpaqueArea(&b));
  EXPECT_EQ(b.GetImageWidth(), 6);
  EXPECT_EQ(b.GetImageHeight(), 4);
  EXPECT_EQ(b.GetAlphaAt(0, 3), 1);
}

// Cumulative histogram of one channel, as fractions.
std::vector<double> Cumulative(TIEBitmap& b, int c) {
  std::vector<double> h(256, 0);
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) h[b.GetRowAddress(y)[3 * x + c]] += 1;
  double s = 0;
  for (double& v : h) v = (s += v) / (b.GetImageWidth() * b.GetImageHeight());
  return h;
}

TEST(AreaOpsTest, HistogramMatchingFollowsTheReference) {
  std::mt19937 rng(5);
  TIEBitmap ref(80, 60, ie24RGB), target(70, 50, ie24RGB);
  std::normal_distribution<double> dark(60, 20), bright(190, 30);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      ref.SetRGB(x, y, TIERGB{uint8_t(std::clamp(dark(rng), 0.0, 255.0)), uint8_t(std::clamp(bright(rng), 0.0, 255.0)),
                              uint8_t(x * 3)});
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 70; ++x) target.SetRGB(x, y, TIERGB{uint8_t(rng()), uint8_t(rng() % 100), uint8_t(y * 5)});
  IEMatchHistograms(&ref, &target);
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    std::vector<double> a = Cumulative(ref, c), b = Cumulative(target, c);
    double worst = 0;
    for (int i = 0; i < 256; ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
    EXPECT_LT(worst, 0.06);
  }
}

}  // namespace
