// Hue-saturation-lightness (against Python's colorsys), grey, inversion and channel reordering.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "iecolorconv.h"
#include "ieplatformbitmap.h"

namespace {

// Python writes, per line, a packed colour with its (h, s, l) and a random (h, s, l) with the bytes
// colorsys gives for it (rounded as Python's round does: halves to even).
const char kHslScript[] = R"PY(
import colorsys, random
random.seed(7)
cases = [0xFF0000, 0x0000FF, 0x00FF00, 0x808080, 0, 0xFFFFFF, 0x123456, 0xFEFF01]
cases += [random.randrange(1 << 24) for _ in range(400)]
for c in cases:
    r, g, b = (c >> 16) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0
    h, l, s = colorsys.rgb_to_hls(r, g, b)
    H, S, L = random.random(), random.random(), random.random()
    if random.random() < 0.1: S = 0.0
    R, G, B = colorsys.hls_to_rgb(H, L, S)
    print(c, repr(h), repr(s), repr(l), repr(H), repr(S), repr(L), round(R * 255), round(G * 255), round(B * 255))
)PY";

TEST(ColorConv, HslMatchesColorsys) {
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("hsl.py"), kHslScript, sizeof kHslScript - 1));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 hsl.py", &out), 0) << out;
  std::istringstream in(out);
  int lines = 0;
  uint32_t c;
  double h, s, l, H, S, L;
  int R, G, B;
  while (in >> c >> h >> s >> l >> H >> S >> L >> R >> G >> B) {
    ++lines;
    double hh, ss, ll;
    IERGBToHSL(hh, ss, ll, c);
    EXPECT_NEAR(hh, h, 1e-9) << std::hex << c;
    EXPECT_NEAR(ss, s, 1e-9) << std::hex << c;
    EXPECT_NEAR(ll, l, 1e-9) << std::hex << c;
    TIERGB rgb;
    IEHSLToRGB(rgb, H, S, L);
    // The same rounding in both, but the two formulas may differ in the last bit of a product.
    EXPECT_NEAR(rgb.r, R, 1) << H << " " << S << " " << L;
    EXPECT_NEAR(rgb.g, G, 1);
    EXPECT_NEAR(rgb.b, B, 1);
  }
  EXPECT_EQ(lines, 408);
  TIERGB rgb;
  IEHSLToRGB(rgb, 0.5, 0, 0.25);  // 63.75
  EXPECT_EQ(rgb.r, 64);
  EXPECT_EQ(rgb.b, 64);
}

TEST(ColorConv, GrayRectIsClippedAndWeighted) {
  TIEBitmap bmp(4, 3, ie24RGB);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) bmp.SetRGB(x, y, TIERGB{0, 0, 255});
  std::vector<int> progress;
  IEConvertToGrayRect(&bmp, 1, -5, 100, 2, nullptr, [&](void*, int p) { progress.push_back(p); });
  EXPECT_EQ(bmp.GetRGB(0, 0).r, 255);  // left of the rectangle
  EXPECT_EQ(bmp.GetRGB(1, 0).r, 53);   // 255 x 21 div 100
  EXPECT_EQ(bmp.GetRGB(1, 0).b, 53);
  EXPECT_EQ(bmp.GetRGB(3, 1).g, 53);
  EXPECT_EQ(bmp.GetRGB(3, 2).r, 255);  // y2 exclusive
  EXPECT_EQ(progress, (std::vector<int>{40, 80}));
}

TEST(ColorConv, InvertBitmapBitsCoversEveryRow) {
  TIEBitmap bmp(10, 3, ie1g);
  bmp.Fill(0);
  bmp.SetByte(0, 2, 0x0F);
  IEInvertBitmapBits(&bmp);
  EXPECT_EQ(bmp.GetRowAddress(0)[0], 0xFF);
  EXPECT_EQ(bmp.GetRowAddress(0)[1], 0xFF);
  EXPECT_EQ(bmp.GetRowAddress(2)[0], 0xF0);
}

TEST(ColorConv, ReorderChannels) {
  struct Case {
    const char* spec;
    bool ok;
    TIERGB want;  // from (b 1, g 2, r 3)
  };
  const Case kCases[] = {
      {"RGB", true, {3, 2, 1}}, {"rgb", true, {3, 2, 1}}, {"BG0", true, {1, 2, 0}}, {"BGR", true, {1, 2, 3}},
      {"GGG", true, {2, 2, 2}}, {"RG", false, {1, 2, 3}}, {"", false, {1, 2, 3}},   {"RGX", false, {1, 2, 3}},
  };
  for (const Case& c : kCases) {
    TIEBitmap bmp(3, 2, ie24RGB);
    TIEBitmap b48(3, 2, ieRGB48);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        bmp.SetRGB(x, y, TIERGB{1, 2, 3});
        b48.SetRGB48(x, y, TIERGB48{3000, 2000, 1000});
      }
    EXPECT_EQ(IEReorderChannels(&bmp, c.spec, nullptr, nullptr), c.ok) << c.spec;
    EXPECT_EQ(IEReorderChannels(&b48, c.spec, nullptr, nullptr), c.ok) << c.spec;
    TIERGB p = bmp.GetRGB(2, 1);
    EXPECT_EQ(p.b, c.want.b) << c.spec;
    EXPECT_EQ(p.g, c.want.g) << c.spec;
    EXPECT_EQ(p.r, c.want.r) << c.spec;
    TIERGB48 q = b48.GetRGB48(2, 1);
    EXPECT_EQ(q.b, c.want.b * 1000) << c.spec;
    EXPECT_EQ(q.g, c.want.g * 1000) << c.spec;
    EXPECT_EQ(q.r, c.want.r * 1000) << c.spec;
  }
  TIEBitmap grey(2, 2, ie8g);
  EXPECT_FALSE(IEReorderChannels(&grey, "RGB", nullptr, nullptr));
}

TEST(ColorConv, Expand1BitIgnoresThePalette) {
  TIEDIBSectionBitmap src, dst;
  ASSERT_TRUE(src.SetPixelFormat(iepf1bit));
  ASSERT_TRUE(src.SetSize(11, 2));
  RGBQUAD inverted[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
  src.SetColorTable(inverted, 2);
  src.ScanLine(0)[0] = 0x80;
  src.ScanLine(0)[1] = 0x20;  // pixel 10
  src.ScanLine(1)[0] = 0x00;
  src.ScanLine(1)[1] = 0x00;
  ASSERT_TRUE(IEExpand1BitTBitmapTo24(&src, &dst, nullptr, nullptr));
  ASSERT_EQ(dst.GetWidth(), 11);
  ASSERT_EQ(dst.GetPixelFormat(), iepf24bit);
  EXPECT_EQ(dst.ScanLine(0)[0], 255);
  EXPECT_EQ(dst.ScanLine(0)[3], 0);
  EXPECT_EQ(dst.ScanLine(0)[30], 255);
  EXPECT_EQ(dst.ScanLine(1)[30], 0);
}

}  // namespace
