// Median cut: true means, box limits, uncovered cells, and error against PIL.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <vector>

#include "iemediancut.h"
#include "quantfixtures.h"

namespace {

uint32_t Pack(TIERGB c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

TEST(MedianCut, EntriesAreTrueMeans) {
  struct Case {
    std::vector<TIERGB> colors;
    int n, entries;
  };
  const Case cases[] = {
      {{IEMakeRGB(255, 0, 130)}, 8, 1},
      {{IEMakeRGB(255, 255, 255)}, 2, 1},
      {{IEMakeRGB(10, 20, 200), IEMakeRGB(250, 240, 5)}, 2, 2},
      {{IEMakeRGB(0, 0, 0), IEMakeRGB(255, 255, 255)}, 2, 2},
      // all colours in one cell cannot be split: one entry, their mean
      {{IEMakeRGB(64, 64, 64), IEMakeRGB(66, 66, 66)}, 16, 1},
  };
  for (const Case& c : cases) {
    auto bmp = quant::FromColors(30, 30, c.colors);
    std::vector<TIERGB> pal(static_cast<size_t>(c.n), IEMakeRGB(1, 2, 3));
    auto st = IEMedianCutPalette(bmp.get(), pal.data(), c.n);
    ASSERT_TRUE(st);
    ASSERT_EQ(st->BoxCount, c.entries);
    if (c.entries == 2 || c.colors.size() == 1) {  // each colour is its own entry
      for (const TIERGB& col : c.colors) EXPECT_TRUE(IESameRGB(pal[size_t(IEMedianCutIndex(*st, Pack(col)))], col));
    } else {
      EXPECT_EQ(pal[0].r, 65);
    }
    // entries past the boxes made are left alone
    if (c.n > c.entries) {
      EXPECT_EQ(pal[size_t(c.entries)].b, 3);
    }
  }
}

TEST(MedianCut, AtMost256BoxesAndUncoveredCellsMapNearest) {
  auto bmp = quant::PhotoLike(200, 150, 2);
  std::vector<TIERGB> pal(1000);
  auto st = IEMedianCutPalette(bmp.get(), pal.data(), 1000);
  ASSERT_TRUE(st);
  EXPECT_LE(st->BoxCount, 256);
  EXPECT_GT(st->BoxCount, 128);

  // two clusters: a colour far from both (in no box) goes to the nearer entry, not to entry 0
  auto two = quant::FromColors(20, 20, {IEMakeRGB(250, 250, 250), IEMakeRGB(5, 5, 5)});
  std::vector<TIERGB> p2(2);
  auto s2 = IEMedianCutPalette(two.get(), p2.data(), 2);
  int white = IEMedianCutIndex(*s2, Pack(IEMakeRGB(250, 250, 250)));
  EXPECT_EQ(IEMedianCutIndex(*s2, Pack(IEMakeRGB(230, 220, 240))), white);
  EXPECT_NE(IEMedianCutIndex(*s2, Pack(IEMakeRGB(20, 40, 10))), white);
}

TEST(MedianCut, WideImagesAreCountedWhole) {
  // a width beyond 16 bits: every pixel still counts
  TIEBitmap b(70000, 1, ie24RGB);
  for (int x = 0; x < 70000; ++x) b.SetRGB(x, 0, x < 60000 ? IEMakeRGB(0, 0, 255) : IEMakeRGB(255, 0, 0));
  std::vector<TIERGB> pal(2);
  auto st = IEMedianCutPalette(&b, pal.data(), 2);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->PixelCount, 70000u);
  ASSERT_EQ(st->BoxCount, 2);
  std::set<uint32_t> got = {Pack(pal[0]), Pack(pal[1])};
  EXPECT_EQ(got, (std::set<uint32_t>{0xFF0000u, 0x0000FFu}));
}

TEST(MedianCut, ErrorCloseToPilMedianCut) {
  auto bmp = quant::PhotoLike(240, 180, 5);
  std::string ppm = quant::WritePPM(bmp.get(), "mediancut.ppm");
  ASSERT_FALSE(ppm.empty());
  for (int n : {256, 16, 2}) {
    std::vector<TIERGB> pal(static_cast<size_t>(n));
    auto st = IEMedianCutPalette(bmp.get(), pal.data(), n);
    ASSERT_TRUE(st);
    TIEBitmap out(240, 180, ie24RGB);
    for (int y = 0; y < 180; ++y)
      for (int x = 0; x < 240; ++x) out.SetRGB(x, y, pal[size_t(IEMedianCutIndex(*st, Pack(bmp->GetRGB(x, y))))]);
    double ours = quant::MeanError(bmp.get(), &out), pil = quant::PilMedianCutError(ppm, n);
    ASSERT_GT(pil, 0) << n;
    EXPECT_LE(ours, pil * 1.25) << "n=" << n << " ours " << ours << " PIL " << pil;
    if (n >= 16) {  // the white patch stays pure white
      EXPECT_TRUE(IESameRGB(out.GetRGB(0, 0), IEMakeRGB(255, 255, 255))) << n;
    }
    std::printf("median cut n=%d mean error %.2f, PIL median cut %.2f\n", n, ours, pil);
  }
}

}  // namespace
