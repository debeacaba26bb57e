// The quantizer front end: exact colours, grey ramp, the bitmap's own palette, the choice of
// quantizer, and indices that always fall inside the palette.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "iebitmapservices.h"
#include "iecolorreduction.h"
#include "iequantizer.h"
#include "quantfixtures.h"

namespace {

std::vector<TIERGB> DistinctColors(int n) {
  std::vector<TIERGB> c;
  for (int i = 0; i < n; ++i) c.push_back(IEMakeRGB(uint8_t(i * 37), uint8_t(i * 101 + i / 256 * 50), uint8_t(i)));
  return c;
}

// Restores the process-wide settings a test changes.
struct SettingsGuard {
  int a = IEColorReductionAlgorithm, q = IEColorReductionQuality;
  ~SettingsGuard() {
    IEColorReductionAlgorithm = a;
    IEColorReductionQuality = q;
  }
};

TEST(Quantizer, ExactColorsKeepTheirOrderAndIndex) {
  for (int n : {2, 16, 256}) {
    auto colors = DistinctColors(n);
    auto bmp = quant::FromColors(64, 64, colors);
    std::string ppm = quant::WritePPM(bmp.get(), "exact" + std::to_string(n) + ".ppm");
    ASSERT_FALSE(ppm.empty());
    EXPECT_EQ(quant::PilColorCount(ppm), n);
    std::vector<TIERGB> pal(static_cast<size_t>(n));
    TIEQuantizer q(bmp.get(), pal.data(), n);
    ASSERT_EQ(q.Method(), TIEQuantizer::qmExact) << n;
    ASSERT_EQ(q.EntryCount(), n);
    // first appearance order is the fill order: pixel i holds colors[i * 7 % n]
    for (int i = 0; i < n; ++i) {
      EXPECT_TRUE(IESameRGB(pal[size_t(i)], colors[size_t(i) * 7 % size_t(n)])) << n << " " << i;
      EXPECT_EQ(q.RGBToIndex(pal[size_t(i)]), i);
    }
    // one colour more runs a real quantizer
    auto more = DistinctColors(n + 1);
    auto bmp2 = quant::FromColors(64, 64, more);
    std::vector<TIERGB> pal2(static_cast<size_t>(n));
    TIEQuantizer q2(bmp2.get(), pal2.data(), n);
    EXPECT_TRUE(q2.Method() == TIEQuantizer::qmNeuQuant || q2.Method() == TIEQuantizer::qmMedianCut) << n;
  }
}

TEST(Quantizer, EveryPathKeepsIndicesInsideThePalette) {
  auto photo = quant::PhotoLike(120, 90, 3);
  auto exact = quant::FromColors(16, 16, DistinctColors(5));
  TIEBitmap grey(16, 16, ie8g);
  TIEBitmap pal8(16, 16, ie8p);
  for (int i = 0; i < 256; ++i) pal8.SetPaletteEntry(i, IEMakeRGB(uint8_t(i), uint8_t(255 - i), 7));
  TIEBitmap bw(16, 16, ie1g);
  struct Case {
    const char* name;
    TIEBitmap* bitmap;
    int n;
    TIEQuantizer::TMethod method;
  };
  const Case cases[] = {
      {"neuquant", photo.get(), 200, TIEQuantizer::qmNeuQuant},   {"mediancut", photo.get(), 12, TIEQuantizer::qmMedianCut},
      {"exact", exact.get(), 8, TIEQuantizer::qmExact},          {"grey", &grey, 16, TIEQuantizer::qmGreyRamp},
      {"ie8p", &pal8, 16, TIEQuantizer::qmBitmapPalette},         {"ie1g", &bw, 2, TIEQuantizer::qmGreyRamp},
  };
  srand(7);
  for (const Case& c : cases) {
    std::vector<TIERGB> pal(static_cast<size_t>(c.n));
    TIEQuantizer q(c.bitmap, pal.data(), c.n);
    EXPECT_EQ(q.Method(), c.method) << c.name;
    ASSERT_GT(q.EntryCount(), 0) << c.name;
    for (int k = 0; k < 2000; ++k) {
      TIERGB col = IEMakeRGB(uint8_t(rand()), uint8_t(rand()), uint8_t(rand()));
      int i = q.RGBToIndex(col);
      ASSERT_GE(i, 0) << c.name;
      ASSERT_LT(i, q.EntryCount()) << c.name;
    }
  }
}

TEST(Quantizer, GreyPicturesGetAnEvenRampToWhite) {
  struct Case {
    int n;
    std::vector<int> ramp;
    int probe, index;
  };
  const Case cases[] = {{2, {0, 255}, 255, 1}, {4, {0, 85, 170, 255}, 200, 2}, {16, {0, 17, 34}, 255, 15}};
  for (const Case& c : cases) {
    auto bmp = quant::FromColors(8, 8, {IEMakeRGB(10, 10, 10), IEMakeRGB(200, 200, 200), IEMakeRGB(255, 255, 255)});
    std::vector<TIERGB> pal(static_cast<size_t>(c.n));
    TIEQuantizer q(bmp.get(), pal.data(), c.n);
    ASSERT_EQ(q.Method(), TIEQuantizer::qmGreyRamp);
    for (size_t i = 0; i < c.ramp.size(); ++i) EXPECT_EQ(pal[i].r, c.ramp[i]) << c.n << " " << i;
    EXPECT_EQ(pal[size_t(c.n) - 1].g, 255);
    EXPECT_EQ(q.RGBToIndex(IEMakeRGB(uint8_t(c.probe), uint8_t(c.probe), uint8_t(c.probe))), c.index) << c.n;
  }
}

TEST(Quantizer, PalettedBitmapGivesItsPaletteAndNearestForStrangers) {
  TIEBitmap b(4, 4, ie8p);
  for (int i = 0; i < 256; ++i) b.SetPaletteEntry(i, i < 16 ? IEMakeRGB(uint8_t(i * 16), 0, 0) : IEMakeRGB(0, 0, 255));
  std::vector<TIERGB> pal(16);
  TIEQuantizer q(&b, pal.data(), 16);
  ASSERT_EQ(q.Method(), TIEQuantizer::qmBitmapPalette);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(pal[size_t(i)].r, i * 16);
    EXPECT_EQ(q.RGBToIndex(pal[size_t(i)]), i);
  }
  // blue is entry 16 of the bitmap, outside the 16 asked for: the nearest of the 16 answers
  EXPECT_EQ(q.RGBToIndex(IEMakeRGB(0, 0, 255)), 0);
  EXPECT_EQ(q.RGBToIndex(IEMakeRGB(250, 3, 3)), 15);

  // an all-grey palette still maps through the palette, not through a ramp
  TIEBitmap g(4, 4, ie8p);
  for (int i = 0; i < 256; ++i) g.SetPaletteEntry(i, IEMakeRGB(uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i)));
  std::vector<TIERGB> gp(4);
  TIEQuantizer gq(&g, gp.data(), 4);
  EXPECT_EQ(gp[0].r, 255);
  EXPECT_EQ(gq.RGBToIndex(IEMakeRGB(255, 255, 255)), 0);
  EXPECT_EQ(gq.RGBToIndex(IEMakeRGB(253, 253, 253)), 2);
}

TEST(Quantizer, SettingsChooseTheQuantizer) {
  SettingsGuard guard;
  auto photo = quant::PhotoLike(100, 80, 1);
  struct Case {
    int algorithm, n;
    TIEQuantizer::TMethod method;
  };
  const Case cases[] = {{-1, 100, TIEQuantizer::qmMedianCut}, {-1, 128, TIEQuantizer::qmNeuQuant},
                        {1, 200, TIEQuantizer::qmMedianCut},  {0, 16, TIEQuantizer::qmNeuQuant},
                        {7, 16, TIEQuantizer::qmNeuQuant}};
  for (const Case& c : cases) {
    IEColorReductionAlgorithm = c.algorithm;
    std::vector<TIERGB> pal(static_cast<size_t>(c.n));
    TIEQuantizer q(photo.get(), pal.data(), c.n);
    EXPECT_EQ(q.Method(), c.method) << c.algorithm << " " << c.n;
  }
}

TEST(Quantizer, ColourInOtherFormatsIsQuantizedAsColour) {
  // ie32RGB and CMYK pictures of two colours keep the two colours (not a grey ramp)
  TIEBitmap rgb32(8, 8, ie32RGB);
  TIEBitmap cmyk(8, 8, ieCMYK);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint8_t* p = rgb32.GetRowAddress(y) + 4 * x;
      p[0] = x < 4 ? 200 : 10;  // blue
      p[1] = 20;
      p[2] = x < 4 ? 30 : 240;  // red
      p[3] = 255;
      uint8_t* c = cmyk.GetRowAddress(y) + 4 * x;
      c[0] = x < 4 ? 255 : 0;  // inverted: 255 = no cyan
      c[1] = 0;
      c[2] = 255;
      c[3] = 255;
    }
  for (TIEBitmap* b : {&rgb32, &cmyk}) {
    std::vector<TIERGB> pal(4);
    TIEQuantizer q(b, pal.data(), 4);
    EXPECT_EQ(q.Method(), TIEQuantizer::qmExact);
    EXPECT_EQ(q.EntryCount(), 2);
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(pal[size_t(i)].r == pal[size_t(i)].g && pal[size_t(i)].g == pal[size_t(i)].b);
  }
}

TEST(Quantizer, PixelFormatConversionUsesTheQuantizer) {
  IEInstallColorReductionServices();
  // a grey picture reduced to 2 colours gets black and white, and each pixel the nearer of them
  auto bmp = quant::FromColors(10, 10, {IEMakeRGB(10, 10, 10), IEMakeRGB(200, 200, 200), IEMakeRGB(255, 255, 255)});
  TIEBitmap p8;
  p8.Assign(bmp.get());
  p8.PaletteColorTarget = 2;
  p8.SetPixelFormat(ie8p);
  ASSERT_EQ(p8.GetPixelFormat(), ie8p);
  EXPECT_TRUE(IESameRGB(p8.GetPaletteEntry(0), IEMakeRGB(0, 0, 0)));
  EXPECT_TRUE(IESameRGB(p8.GetPaletteEntry(1), IEMakeRGB(255, 255, 255)));
  EXPECT_TRUE(IESameRGB(p8.GetPaletteEntry(2), IEMakeRGB(0, 0, 0)));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(p8.GetPixelRGB(x, y).r, bmp->GetRGB(x, y).r < 128 ? 0 : 255);
}

}  // namespace
