// NeuQuant: sampling factors, exactness on simple pictures, determinism, and error against PIL.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "ieneuquant.h"
#include "quantfixtures.h"

namespace {

// Each pixel replaced by its palette entry through the quantizer's own search.
std::unique_ptr<TIEBitmap> Remap(TIEBitmap* src, const TIENeuQuantNet& net, const std::vector<TIERGB>& pal) {
  const int w = src->GetImageWidth(), h = src->GetImageHeight();
  auto out = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TIERGB c = src->GetRGB(x, y);
      int i = NeuQuantIndexOf(net, (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b);
      out->SetRGB(x, y, pal[size_t(i)]);
    }
  return out;
}

TEST(NeuQuant, SamplingFactor) {
  struct Case {
    int quality;
    int64_t pixels;
    int factor;
  };
  const Case cases[] = {{-1, 200 * 150, 4}, {-1, 800 * 600, 30}, {-1, 1999, 1}, {100, 1999, 1},
                        {0, 1999, 30},      {50, 10, 15},         {-1, 2000, 2}};
  for (const Case& c : cases) EXPECT_EQ(NeuQuantSampleFactor(c.quality, c.pixels), c.factor) << c.quality << " " << c.pixels;
}

TEST(NeuQuant, SimplePicturesComeOutExact) {
  struct Case {
    std::vector<TIERGB> colors;
    int n;
  };
  const Case cases[] = {
      {{IEMakeRGB(255, 255, 255)}, 2},
      {{IEMakeRGB(255, 255, 255)}, 256},
      {{IEMakeRGB(10, 20, 200), IEMakeRGB(250, 240, 5)}, 2},
      {{IEMakeRGB(0, 0, 0), IEMakeRGB(255, 255, 255)}, 2},
  };
  for (const Case& c : cases) {
    // smaller than the 499-pixel stride, under and over the 2000-pixel sampling limit
    for (int size : {5, 40, 300}) {
      auto bmp = quant::FromColors(size, size, c.colors);
      std::vector<TIERGB> pal(static_cast<size_t>(c.n));
      auto net = IENeuQuantPalette(bmp.get(), pal.data(), c.n, -1);
      ASSERT_TRUE(net);
      for (const TIERGB& col : c.colors) {
        int i = NeuQuantIndexOf(*net, (uint32_t(col.r) << 16) | (uint32_t(col.g) << 8) | col.b);
        ASSERT_GE(i, 0);
        ASSERT_LT(i, c.n);
        EXPECT_TRUE(IESameRGB(pal[size_t(i)], col))
            << size << " n=" << c.n << " want " << int(col.r) << "," << int(col.g) << "," << int(col.b) << " got "
            << int(pal[size_t(i)].r) << "," << int(pal[size_t(i)].g) << "," << int(pal[size_t(i)].b);
      }
    }
  }
}

TEST(NeuQuant, SameInputSamePalette) {
  auto bmp = quant::PhotoLike(160, 120, 9);
  std::vector<TIERGB> a(64), b(64);
  auto na = IENeuQuantPalette(bmp.get(), a.data(), 64, -1);
  auto nb = IENeuQuantPalette(bmp.get(), b.data(), 64, -1);
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(IESameRGB(a[size_t(i)], b[size_t(i)])) << i;
  TIEBitmap p8(4, 4, ie8p);
  EXPECT_FALSE(IENeuQuantPalette(&p8, a.data(), 64, -1));
}

TEST(NeuQuant, ErrorCloseToPilMedianCut) {
  auto bmp = quant::PhotoLike(240, 180, 5);
  std::string ppm = quant::WritePPM(bmp.get(), "neuquant.ppm");
  ASSERT_FALSE(ppm.empty());
  for (int n : {256, 16, 2}) {
    std::vector<TIERGB> pal(static_cast<size_t>(n));
    auto net = IENeuQuantPalette(bmp.get(), pal.data(), n, -1);
    ASSERT_TRUE(net);
    auto out = Remap(bmp.get(), *net, pal);
    double ours = quant::MeanError(bmp.get(), out.get()), pil = quant::PilMedianCutError(ppm, n);
    ASSERT_GT(pil, 0) << n;
    EXPECT_LE(ours, pil * 1.25) << "n=" << n << " ours " << ours << " PIL " << pil;
    if (n >= 16) {  // the white patch stays pure white
      EXPECT_TRUE(IESameRGB(out->GetRGB(0, 0), IEMakeRGB(255, 255, 255))) << n;
    }
    std::printf("neuquant n=%d mean error %.2f, PIL median cut %.2f\n", n, ours, pil);
  }
}

}  // namespace
