// Layer blend operations: one table of cases, the hue/saturation operations against Python's
// colorsys, and two layers composed by the renderer against ImageMagick's -compose.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "iebitmaprender.h"
#include "ieblend.h"
#include "ieutils.h"
#include "vodevovur.h"

namespace {

struct RGB3 { int r, g, b; };

TIERGB Px(RGB3 c) { return IEMakeRGB(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)); }

class Blend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { IEBuildCosineTable(); }
};

TEST_F(Blend, TableOfCases) {
  struct Case {
    TIEBlendOperation op;
    RGB3 s, d;  // layer, destination
    RGB3 want;
    int row;
  };
  auto G = [](int v) { return RGB3{v, v, v}; };
  const Case kCases[] = {
      {ieboNormal, G(10), G(200), G(10), 0},
      {ieboAdd, G(200), G(100), G(255), 0},
      {ieboAdd, G(20), G(100), G(120), 0},
      {ieboDifference, {9, 80, 200}, {9, 80, 200}, G(0), 0},
      {ieboDifference, G(30), G(100), G(70), 0},
      {ieboDivide, G(0), G(77), G(77), 0},
      {ieboDivide, G(3), G(100), G(33), 0},
      {ieboMultiply, G(255), {255, 77, 0}, {255, 77, 0}, 0},  // white is neutral
      {ieboMultiply, G(128), G(100), G(50), 0},
      {ieboOr, G(0x0F), G(0xF0), G(0xFF), 0},
      {ieboAnd, G(0x3C), G(0x0F), G(0x0C), 0},
      {ieboXor, G(0xFF), G(0x0F), G(0xF0), 0},
      {ieboLighten, {10, 200, 5}, {200, 10, 5}, {200, 200, 5}, 0},
      {ieboDarken, {10, 200, 5}, {200, 10, 5}, {10, 10, 5}, 0},
      {ieboAverage, G(3), G(4), G(3), 0},
      {ieboScreen, G(0), {123, 7, 255}, {123, 7, 255}, 0},
      {ieboScreen, G(100), G(100), G(160), 0},
      {ieboNegation, G(100), G(100), G(200), 0},
      {ieboExclusion, G(100), G(100), G(122), 0},
      {ieboExclusion, G(255), G(255), G(0), 0},
      {ieboExclusion, G(0), G(77), G(77), 0},
      {ieboOverlay, G(200), G(64), G(100), 0},
      {ieboOverlay, G(64), G(200), G(173), 0},
      {ieboHardLight, G(200), G(64), G(173), 0},
      {ieboHardLight, G(64), G(200), G(100), 0},
      {ieboSoftLight, G(255), G(64), G(127), 0},
      {ieboSoftLight, G(0), G(64), G(16), 0},
      {ieboSoftLight2, G(128), G(128), G(128), 0},
      {ieboColorDodge, G(255), G(0), G(255), 0},
      {ieboColorDodge, G(128), G(100), G(201), 0},
      {ieboColorBurn, G(0), G(200), G(0), 0},
      {ieboColorBurn, G(128), G(100), G(0), 0},
      {ieboColorBurn, G(200), G(200), G(185), 0},
      {ieboInverseDodge, G(0), G(255), G(255), 0},
      {ieboInverseDodge, G(100), G(128), G(201), 0},
      {ieboInverseBurn, G(200), G(0), G(0), 0},
      {ieboInverseBurn, G(200), G(200), G(185), 0},
      {ieboSoftDodge, G(100), G(100), G(82), 0},
      {ieboSoftDodge, G(200), G(200), G(220), 0},
      {ieboSoftBurn, G(100), G(100), G(82), 0},
      {ieboSoftBurn, G(200), G(100), G(156), 0},
      {ieboReflect, G(255), G(3), G(255), 0},
      {ieboReflect, G(100), G(100), G(64), 0},
      {ieboGlow, G(3), G(255), G(255), 0},
      {ieboGlow, G(100), G(100), G(64), 0},
      {ieboFreeze, G(0), G(100), G(0), 0},
      {ieboFreeze, G(100), G(200), G(225), 0},
      {ieboHeat, G(100), G(0), G(0), 0},
      {ieboHeat, G(200), G(100), G(225), 0},
      {ieboSubtract, G(200), G(100), G(44), 0},
      {ieboSubtract, G(10), G(10), G(0), 0},
      {ieboCosine, G(0), G(255), G(128), 0},
      {ieboCosine, G(255), G(255), G(255), 0},
      {ieboLinearLight, G(100), G(100), G(44), 0},
      {ieboLinearLight, G(200), G(200), G(255), 0},
      {ieboRedOnly, {1, 2, 3}, {100, 110, 120}, {1, 110, 120}, 0},
      {ieboGreenOnly, {1, 2, 3}, {100, 110, 120}, {100, 2, 120}, 0},
      {ieboBlueOnly, {1, 2, 3}, {100, 110, 120}, {100, 110, 3}, 0},
      {ieboGrayMix, {10, 20, 30}, {100, 150, 200}, {143, 18, 18}, 0},
      {ieboCyanFromLayer, {1, 2, 3}, {100, 110, 120}, {100, 2, 3}, 0},
      {ieboAnaglyph, {30, 180, 220}, {200, 100, 50}, {133, 127, 242}, 0},
      {ieboAnaglyph, G(0), G(255), {255, 0, 0}, 0},
      {ieboEvenRows, G(9), G(50), G(9), 4},
      {ieboEvenRows, G(9), G(50), G(50), 5},
      {ieboOddRows, G(9), G(50), G(50), 4},
      {ieboOddRows, G(9), G(50), G(9), 5},
      {TIEBlendOperation(43), G(9), G(50), G(50), 0},
      {TIEBlendOperation(255), G(9), G(50), G(50), 0},
      // hue, saturation, colour and hue-lightness: expected values made by Python's colorsys
      {ieboHue, {90, 200, 30}, {180, 60, 120}, {102, 180, 60}, 0},
      {ieboSaturation, {90, 200, 30}, {180, 60, 120}, {209, 31, 120}, 0},
      {ieboColor, {90, 200, 30}, {180, 60, 120}, {94, 209, 31}, 0},
      {ieboHueLightness, {90, 200, 30}, {180, 60, 120}, {98, 172, 57}, 0},
      {ieboHue, {255, 255, 0}, {30, 40, 50}, {50, 50, 30}, 0},
      {ieboSaturation, {255, 255, 0}, {30, 40, 50}, {0, 40, 80}, 0},
      {ieboColor, {255, 255, 0}, {30, 40, 50}, {80, 80, 0}, 0},
      {ieboHueLightness, {255, 255, 0}, {30, 40, 50}, {159, 159, 96}, 0},
      {ieboHue, {200, 40, 90}, {20, 160, 240}, {240, 20, 89}, 0},
      {ieboSaturation, {200, 40, 90}, {20, 160, 240}, {47, 153, 213}, 0},
      {ieboColor, {200, 40, 90}, {20, 160, 240}, {213, 47, 99}, 0},
      {ieboHueLightness, {200, 40, 90}, {20, 160, 240}, {226, 14, 80}, 0},
      {ieboHueLightness, {0, 0, 255}, {255, 255, 255}, {128, 128, 128}, 0},
  };
  for (const Case& c : kCases) {
    TIERGB d = Px(c.d);
    IEBlendPixel(Px(c.s), d, c.op, c.row);
    EXPECT_EQ(d.r, c.want.r) << "op " << int(c.op) << " s " << c.s.r << " d " << c.d.r;
    EXPECT_EQ(d.g, c.want.g) << "op " << int(c.op) << " s " << c.s.g << " d " << c.d.g;
    EXPECT_EQ(d.b, c.want.b) << "op " << int(c.op) << " s " << c.s.b << " d " << c.d.b;
  }
}

TEST_F(Blend, AlphaRuleKeepsTheEnds) {
  EXPECT_EQ(IEAlphaMix(0, 255, 255), 255);
  EXPECT_EQ(IEAlphaMix(77, 3, 0), 77);
  EXPECT_EQ(IEAlphaMix(0, 255, 128), 128);
  EXPECT_EQ(IEAlphaMix(255, 0, 128), 127);
  EXPECT_EQ(IEAlphaMix(0, 200, 128), 100);
  for (int d = 0; d < 256; d += 15)
    for (int v = 0; v < 256; v += 17) {
      EXPECT_EQ(IEAlphaMix(uint8_t(d), uint8_t(v), 255), v);
      EXPECT_EQ(IEAlphaMix(uint8_t(d), uint8_t(v), 0), d);
    }
}

// Two layers, every pair of a 64-level grid of values in each channel, composed by the renderer and by
// ImageMagick (destination first, layer second).
std::vector<uint8_t> Ppm(int w, int h, const std::vector<TIERGB>& px) {
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> out(head.begin(), head.end());
  for (const TIERGB& c : px) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
  return out;
}

TEST_F(Blend, ComposedLayersMatchImageMagick) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's ImageMagick";
  const int n = 64, w = n, h = n;
  std::vector<TIERGB> dst(size_t(w * h)), lay(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int a = x * 255 / (n - 1), b = y * 255 / (n - 1);
      dst[size_t(y * w + x)] = IEMakeRGB(uint8_t(a), uint8_t(255 - a), uint8_t((a + 85) % 256));
      lay[size_t(y * w + x)] = IEMakeRGB(uint8_t(b), uint8_t((b * 7) % 256), uint8_t(255 - b));
    }
  std::vector<uint8_t> d = Ppm(w, h, dst), l = Ppm(w, h, lay);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("dst.ppm"), d.data(), d.size()));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("layer.ppm"), l.data(), l.size()));
  struct Case { const char* name; TIEBlendOperation op; };
  const Case kCases[] = {{"Multiply", ieboMultiply}, {"Screen", ieboScreen},       {"Difference", ieboDifference},
                         {"Lighten", ieboLighten},   {"Darken", ieboDarken},       {"Overlay", ieboOverlay},
                         {"HardLight", ieboHardLight}, {"Exclusion", ieboExclusion}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string out = std::string("out_") + c.name + ".ppm", log;
    ASSERT_EQ(tq::RunHost(std::string("/usr/bin/convert dst.ppm layer.ppm -compose ") + c.name +
                              " -composite -depth 8 " + out, &log), 0) << log;
    std::vector<uint8_t> im;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(out), im));
    ASSERT_GE(im.size(), size_t(w * h * 3));
    const uint8_t* p = im.data() + im.size() - size_t(w * h * 3);  // the pixels end the file
    // the layer rendered over the destination with the operation
    TIEBitmap target(w, h, ie24RGB), layer(w, h, ie24RGB);
    for (int i = 0; i < w * h; ++i) {
      target.SetRGB(i % w, i / w, dst[size_t(i)]);
      layer.SetRGB(i % w, i / w, lay[size_t(i)]);
    }
    IERenderInto(&layer, &target, 0, 0, w, h, 0, 0, w, h, 255, c.op);
    int worst = 0;
    for (int i = 0; i < w * h; ++i) {
      TIERGB r = target.GetRGB(i % w, i / w);
      worst = std::max({worst, std::abs(r.r - p[3 * i]), std::abs(r.g - p[3 * i + 1]), std::abs(r.b - p[3 * i + 2])});
    }
    EXPECT_LE(worst, 2);
  }
}

}  // namespace
