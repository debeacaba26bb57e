// Gaussian and 3x3 blurs (the Gaussian against vips) and the soft shadow.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ieshadow.h"

namespace {

TEST(ShadowTest, GaussianKernelShape) {
  TIEGaussianKernel k;
  IEBuildGaussianKernel(k, 1);
  EXPECT_EQ(k.HalfWidth, 4);
  EXPECT_EQ(k.Taps[kIEGaussianMaxHalfWidth], 26145);
  IEBuildGaussianKernel(k, 2);
  EXPECT_EQ(k.HalfWidth, 9);
  IEBuildGaussianKernel(k, 1000);
  EXPECT_EQ(k.HalfWidth, kIEGaussianMaxHalfWidth);
}

TEST(ShadowTest, BlurLineLimitsInsteadOfWrapping) {
  // a radius whose rounded taps add up to more than 1.0: a white line must stay white, not wrap to 0
  TIEGaussianKernel k;
  bool found = false;
  for (int i = 30; i < 600 && !found; ++i) {
    IEBuildGaussianKernel(k, i / 100.0);
    int64_t sum = 0;
    for (int32_t t : k.Taps) sum += t;
    found = sum > 65536;
  }
  ASSERT_TRUE(found);
  std::vector<uint8_t> white(40, 255), out(40, 0);
  IEBlurLine(k, white.data(), out.data(), 40);
  for (uint8_t v : out) EXPECT_EQ(v, 255);
}

TEST(ShadowTest, GaussianBlurMatchesVips) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's vips";
  const int W = 64, H = 48;
  TIEBitmap b(W, H, ie8g);
  std::string pgm = "P5\n64 48\n255\n";
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint8_t v = uint8_t(((x / 7 + y / 5) % 2) ? 230 : 20) ^ uint8_t(x * 3);
      b.SetByte(x, y, v);
      pgm += char(v);
    }
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("blur.pgm"), pgm.data(), pgm.size()));
  for (double sigma : {1.0, 2.5}) {
    SCOPED_TRACE(sigma);
    TIEBitmap c;
    c.Assign(&b);
    IEGaussianBlurGray8(&c, TIERect{0, 0, W - 1, H - 1}, sigma);
    std::string out, s = std::to_string(sigma);
    ASSERT_EQ(tq::RunHost("vips gaussblur blur.pgm blur.v " + s + " --min-ampl 0.001 --precision float && "
                          "vips csvsave blur.v blur.csv", &out), 0) << out;
    std::vector<unsigned char> csv;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("blur.csv"), csv));
    std::istringstream in(std::string(csv.begin(), csv.end()));
    const int margin = int(sigma * 4) + 2;
    int checked = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        double v = 0;
        ASSERT_TRUE(in >> v);
        if (x < margin || y < margin || x >= W - margin || y >= H - margin) continue;
        ++checked;
        ASSERT_NEAR(c.GetByte(x, y), v, 2.0) << x << "," << y;
      }
    EXPECT_GT(checked, 300);
  }
}

TEST(ShadowTest, ZeroRadiusBlursNothing) {
  TIEBitmap b(8, 8, ie8g);
  b.SetByte(4, 4, 200);
  IEGaussianBlurGray8(&b, TIERect{0, 0, 7, 7}, 0);
  EXPECT_EQ(b.GetByte(4, 4), 200);
  EXPECT_EQ(b.GetByte(4, 5), 0);
}

TEST(ShadowTest, Filter3x3) {
  TIEBitmap b(6, 5, ie8g);
  b.Fill(90);
  const int32_t edges[9] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
  IEApplyFilter3x3Gray8(&b, edges, 1, TIERect{0, 0, 5, 4});
  EXPECT_EQ(b.GetByte(0, 0), 0);
  EXPECT_EQ(b.GetByte(5, 4), 0);  // the last column and row are filtered too
  b.Fill(90);
  b.SetByte(2, 2, 180);
  const int32_t box[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  IEApplyFilter3x3Gray8(&b, box, 9, TIERect{-5, -5, 50, 50});  // clipped
  EXPECT_EQ(b.GetByte(1, 1), 100);
  EXPECT_EQ(b.GetByte(4, 4), 90);
}

// A 40 x 40 white image, transparent but for the opaque square 15..24.
void MakeObject(TIEBitmap& b, TIEPixelFormat f) {
  b.Allocate(40, 40, f);
  b.Fill(f == ie1g ? 1 : 0xFFFFFF);
  TIEBitmap* a = b.GetAlphaChannel();
  a->Fill(0);
  for (int y = 15; y <= 24; ++y)
    for (int x = 15; x <= 24; ++x) a->SetByte(x, y, 255);
}

TEST(ShadowTest, SoftShadowBorderAndPixels) {
  TIEBitmap b;
  MakeObject(b, ie24RGB);
  EXPECT_EQ(IEAddSoftShadow(&b, 0, 0, TIERect{15, 15, 24, 24}, 0, 100, 0), 10);

  MakeObject(b, ie24RGB);
  EXPECT_EQ(IEAddSoftShadow(&b, 3, 3, TIERect{15, 15, 24, 24}, 0x0000FF, 100, 2), 16);
  // opaque: colour and alpha kept
  EXPECT_EQ(b.GetAlphaAt(20, 20), 255);
  EXPECT_EQ(b.GetRGB(20, 20).b, 255);
  EXPECT_EQ(b.GetRGB(20, 20).r, 255);
  // in the shadow, below and right of the object: the shadow colour, the blurred alpha
  TIERGB s = b.GetRGB(26, 26);
  EXPECT_EQ(s.r, 0);
  EXPECT_EQ(s.b, 255);
  EXPECT_GT(b.GetAlphaAt(26, 26), 60);
  EXPECT_LT(b.GetAlphaAt(26, 26), 255);
  // the shadow is offset: more of it below right than above left
  EXPECT_GT(b.GetAlphaAt(26, 26), b.GetAlphaAt(13, 13));
  // far away: still transparent and unchanged
  EXPECT_EQ(b.GetAlphaAt(1, 1), 0);
  EXPECT_EQ(b.GetRGB(1, 1).r, 255);

  // intensity 0 fades the shadow to a third
  TIEBitmap c;
  MakeObject(c, ie24RGB);
  IEAddSoftShadow(&c, 3, 3, TIERect{15, 15, 24, 24}, 0, 0, 2);
  EXPECT_NEAR(c.GetAlphaAt(26, 26), b.GetAlphaAt(26, 26) / 3, 1);

  // 1 bit: shadow pixels turn black
  TIEBitmap d;
  MakeObject(d, ie1g);
  IEAddSoftShadow(&d, 3, 3, TIERect{15, 15, 24, 24}, 0, 100, 2);
  EXPECT_EQ(d.GetRowAddress(26)[26 / 8] & (0x80 >> (26 % 8)), 0);
  EXPECT_NE(d.GetRowAddress(20)[20 / 8] & (0x80 >> (20 % 8)), 0);
}

TEST(ShadowTest, SemiTransparentPixelOverShadow) {
  TIEBitmap b;
  MakeObject(b, ie24RGB);
  b.GetAlphaChannel()->SetByte(25, 25, 128);  // a half-transparent white pixel at the rim
  IEAddSoftShadow(&b, 3, 3, TIERect{15, 15, 25, 25}, 0, 100, 2);
  // over a dark shadow it darkens, and grows more opaque
  EXPECT_LT(b.GetRGB(25, 25).g, 255);
  EXPECT_GT(b.GetRGB(25, 25).g, 100);
  EXPECT_GT(b.GetAlphaAt(25, 25), 128);
}

}  // namespace
