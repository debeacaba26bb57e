// The pixel-format conversion matrix, with values from the conversion formulas, run on every storage
// location; and the whole-image copies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "iebitmap.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes U16(std::initializer_list<uint16_t> v) {
  Bytes b;
  for (uint16_t s : v) { b.push_back(uint8_t(s)); b.push_back(uint8_t(s >> 8)); }
  return b;
}
Bytes F32(float f) {
  Bytes b(4);
  std::memcpy(b.data(), &f, 4);
  return b;
}

struct Case {
  const char* name;
  TIEPixelFormat from;
  Bytes pixel;           // the first pixel of a 1-pixel source (1-bit: the first byte)
  TIEPixelFormat to;
  Bytes expected;        // the first pixel of the result
};

const Case kCases[] = {
    // from ie24RGB (bytes B, G, R): red 255 -> grey 255 x 21 div 100 = 53; green 255 -> 181
    {"rgb red to 8g", ie24RGB, {0, 0, 255}, ie8g, {53}},
    {"rgb green to 8g", ie24RGB, {0, 255, 0}, ie8g, {181}},
    {"rgb white to 8g", ie24RGB, {255, 255, 255}, ie8g, {255}},
    {"rgb white to 16g", ie24RGB, {255, 255, 255}, ie16g, U16({65535})},
    {"rgb red to 16g", ie24RGB, {0, 0, 255}, ie16g, U16({13893})},  // 255 x 54484 div 1000
    {"rgb white to 32f", ie24RGB, {255, 255, 255}, ie32f, F32(1.0f)},
    {"rgb to rgb48", ie24RGB, {1, 2, 3}, ieRGB48, U16({3 * 257, 2 * 257, 1 * 257})},
    {"rgb to 32rgb", ie24RGB, {1, 2, 3}, ie32RGB, {1, 2, 3, 255}},
    {"rgb to cmyk", ie24RGB, {0, 128, 255}, ieCMYK, {255, 128, 0, 255}},  // R255 G128 B0
    {"rgb black to cmyk", ie24RGB, {0, 0, 0}, ieCMYK, {0, 0, 0, 1}},
    {"rgb white to lab", ie24RGB, {255, 255, 255}, ieCIELab, {250, 0, 0}},
    // from ie8g
    {"8g to 16g", ie8g, {128}, ie16g, U16({32896})},
    {"8g to 24", ie8g, {128}, ie24RGB, {128, 128, 128}},
    {"8g to 32f", ie8g, {51}, ie32f, F32(float(51 / 255.0))},
    {"8g to 8p", ie8g, {77}, ie8p, {77}},
    {"8g to rgb48", ie8g, {2}, ieRGB48, U16({514, 514, 514})},
    {"8g to 32rgb", ie8g, {9}, ie32RGB, {9, 9, 9, 255}},
    {"8g to cmyk", ie8g, {255}, ieCMYK, {255, 255, 255, 255}},
    // from ie16g
    {"16g to 8g", ie16g, U16({0x1234}), ie8g, {0x12}},
    {"16g to 8p", ie16g, U16({0xAB00}), ie8p, {0xAB}},
    {"16g to 24", ie16g, U16({0x1234}), ie24RGB, {0x12, 0x12, 0x12}},
    {"16g to 32f", ie16g, U16({65535}), ie32f, F32(1.0f)},
    {"16g to rgb48", ie16g, U16({0x1234}), ieRGB48, U16({0x1234, 0x1234, 0x1234})},
    {"16g to 32rgb", ie16g, U16({0xFF00}), ie32RGB, {255, 255, 255, 255}},
    // from ie1g (a set bit is white)
    {"1g to 8g", ie1g, {0x80}, ie8g, {255}},
    {"1g to 16g", ie1g, {0x80}, ie16g, U16({65535})},
    {"1g black to 24", ie1g, {0x00}, ie24RGB, {0, 0, 0}},
    {"1g to 32f", ie1g, {0x80}, ie32f, F32(1.0f)},
    {"1g to 8p", ie1g, {0x80}, ie8p, {1}},
    {"1g to rgb48", ie1g, {0x80}, ieRGB48, U16({65535, 65535, 65535})},
    {"1g to 32rgb", ie1g, {0x00}, ie32RGB, {0, 0, 0, 255}},
    {"1g to cmyk", ie1g, {0x80}, ieCMYK, {255, 255, 255, 255}},
    {"1g to lab", ie1g, {0x80}, ieCIELab, {250, 0, 0}},
    // from ie8p: entry 5 is R 10, G 20, B 30
    {"8p to 24", ie8p, {5}, ie24RGB, {30, 20, 10}},
    {"8p to 8g", ie8p, {5}, ie8g, {18}},  // (210 + 1420 + 240) div 100
    {"8p to 16g", ie8p, {5}, ie16g, U16({4787})},
    {"8p to rgb48", ie8p, {5}, ieRGB48, U16({2570, 5140, 7710})},
    {"8p to 32rgb", ie8p, {5}, ie32RGB, {30, 20, 10, 255}},
    // from ie32f (samples outside 0..1 are limited)
    {"32f to 8g", ie32f, F32(0.5f), ie8g, {127}},
    {"32f to 16g", ie32f, F32(0.5f), ie16g, U16({32767})},
    {"32f to 24", ie32f, F32(0.5f), ie24RGB, {127, 127, 127}},
    {"32f to 8p", ie32f, F32(1.0f), ie8p, {255}},
    {"32f to rgb48", ie32f, F32(0.25f), ieRGB48, U16({16383, 16383, 16383})},
    {"32f above 1 to 8g", ie32f, F32(1.5f), ie8g, {255}},
    {"32f below 0 to 8g", ie32f, F32(-0.5f), ie8g, {0}},
    // from ieRGB48 (R, G, B samples)
    {"rgb48 to 24", ieRGB48, U16({0x1234, 0x5678, 0x9ABC}), ie24RGB, {0x9A, 0x56, 0x12}},
    {"rgb48 to 8g", ieRGB48, U16({0x1234, 0x5678, 0x9ABC}), ie8g, {77}},
    {"rgb48 to 16g", ieRGB48, U16({0x1234, 0x5678, 0x9ABC}), ie16g, U16({19741})},
    {"rgb48 to 32rgb", ieRGB48, U16({0x1234, 0x5678, 0x9ABC}), ie32RGB, {0x9A, 0x56, 0x12, 255}},
    {"rgb48 to 8p", ieRGB48, U16({0x1234, 0x5678, 0x9ABC}), ie8p, {0}},
    // from ieCMYK (stored inverted: 255 = no ink), plain formulas
    {"cmyk white to 24", ieCMYK, {255, 255, 255, 255}, ie24RGB, {255, 255, 255}},
    {"cmyk black to 24", ieCMYK, {0, 0, 0, 255}, ie24RGB, {0, 0, 0}},
    {"cmyk to 32rgb", ieCMYK, {255, 0, 0, 255}, ie32RGB, {0, 0, 255, 255}},
    {"cmyk white to 8g", ieCMYK, {255, 255, 255, 255}, ie8g, {255}},
    {"cmyk white to lab", ieCMYK, {255, 255, 255, 255}, ieCIELab, {250, 0, 0}},
    // from ieCIELab: L 250 is L* 98.04, which comes back as 249.3 in every channel
    {"lab to 24", ieCIELab, {250, 0, 0}, ie24RGB, {249, 249, 249}},
    {"lab to 32rgb", ieCIELab, {250, 0, 0}, ie32RGB, {249, 249, 249, 255}},
    {"lab black to 8g", ieCIELab, {0, 0, 0}, ie8g, {0}},
    // from ie32RGB
    {"32rgb to 24", ie32RGB, {1, 2, 3, 99}, ie24RGB, {1, 2, 3}},
    {"32rgb to 8g", ie32RGB, {1, 2, 3, 99}, ie8g, {2}},  // (63 + 142 + 8) div 100
    {"32rgb to 16g", ie32RGB, {255, 255, 255, 0}, ie16g, U16({65535})},
};

void FillSource(TIEBitmap& b, const Case& c) {
  ASSERT_TRUE(b.Allocate(1, 1, c.from));
  if (c.from == ie8p) b.SetPaletteEntry(5, TIERGB{30, 20, 10});
  std::memcpy(b.GetRowAddress(0), c.pixel.data(), c.pixel.size());
}

class ConversionMatrix : public ::testing::TestWithParam<TIELocation> {};

TEST_P(ConversionMatrix, EveryPairGivesTheFormulaValue) {
  for (const Case& c : kCases) {
    TIEBitmap b;
    b.SetMemoryThreshold(GetParam() == ieTempFile ? 0 : (1 << 20));
    b.SetLocation(GetParam());
    FillSource(b, c);
    ASSERT_EQ(b.GetLocation(), GetParam()) << c.name;
    b.ConvertPixelFormat(c.to);
    ASSERT_EQ(b.GetPixelFormat(), c.to) << c.name;
    ASSERT_EQ(b.GetImageWidth(), 1) << c.name;
    const uint8_t* p = b.GetRowAddress(0);
    if (c.to == ie32f) {
      float got, want;
      std::memcpy(&got, p, 4);
      std::memcpy(&want, c.expected.data(), 4);
      EXPECT_NEAR(got, want, 1e-6) << c.name;
    } else {
      EXPECT_EQ(Bytes(p, p + c.expected.size()), c.expected) << c.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Locations, ConversionMatrix, ::testing::Values(ieMemory, ieTempFile));

// The formats a platform bitmap holds convert there too.
TEST(Conversion, PlatformBitmapLocation) {
  for (const Case& c : kCases) {
    bool held = [](TIEPixelFormat f) { return f == ie1g || f == ie8p || f == ie8g || f == ie24RGB || f == ie32RGB; }(c.to);
    if (!held || !(c.from == ie24RGB || c.from == ie8g || c.from == ie32RGB || c.from == ie1g)) continue;
    TIEBitmap b;
    b.SetLocation(ieTBitmap);
    FillSource(b, c);
    ASSERT_EQ(b.GetLocation(), ieTBitmap);
    b.ConvertPixelFormat(c.to);
    EXPECT_EQ(b.GetLocation(), ieTBitmap) << c.name;
    const uint8_t* p = b.GetRowAddress(0);
    EXPECT_EQ(Bytes(p, p + c.expected.size()), c.expected) << c.name;
  }
}

// Whole rows from 32 to 24 bits, with and without row padding: every pixel keeps B, G, R and no
// fourth byte lands in a pixel or past the row.
TEST(Conversion, ThirtyTwoToTwentyFourBitRows) {
  for (int w : {1, 2, 4, 5, 7}) {
    TIEBitmap src(w, 2, ie32RGB);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < w; ++x) src.SetDWord(x, y, 0xEE000000u | uint32_t(y * 100 + x * 3) * 0x010101u);
    TIEBitmap dst(w, 2, ie24RGB);
    for (int y = 0; y < 2; ++y) std::memset(dst.GetRowAddress(y), 0x5A, size_t(dst.GetRowLength()));
    dst.ConvertFrom(&src);
    for (int y = 0; y < 2; ++y) {
      const uint8_t* r = dst.GetRowAddress(y);
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(r[3 * x + k], uint8_t(y * 100 + x * 3)) << w << " " << x << "," << y;
      for (int i = 3 * w; i < dst.GetRowLength(); ++i) EXPECT_EQ(r[i], 0x5A) << "padding, width " << w;
    }
  }
}

TEST(Conversion, ThroughRGBLeavesTheCallersSourceAlone) {
  TIEBitmap src(8, 1, ie1g);
  src.GetRowAddress(0)[0] = 0xF0;
  TIEBitmap dst(8, 1, ieCMYK);
  dst.ConvertFrom(&src);
  EXPECT_EQ(src.GetPixelFormat(), ie1g);
  EXPECT_EQ(src.GetRowAddress(0)[0], 0xF0);
  EXPECT_EQ(dst.GetDWord(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(dst.GetDWord(7, 0), 0x01000000u);  // black: K = 1, no ink
}

TEST(Conversion, OneBitByOrderedDitherAndThreshold) {
  // ordered dither: grey 4 (level 1) is white only where the matrix entry is 0 (x and y multiples of
  // 8); grey 255 (level 63) everywhere except where the entry is 63 (x = 7, y = 0)
  TIEBitmap g(16, 16, ie8g);
  g.Fill(4);
  g.BlackWhiteMethod = 0;
  g.ConvertPixelFormat(ie1g);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(g.GetPixelRGB(x, y).r == 255, x % 8 == 0 && y % 8 == 0) << x << "," << y;
  TIEBitmap w(8, 8, ie8g);
  w.Fill(255);
  w.BlackWhiteMethod = 0;
  w.ConvertPixelFormat(ie1g);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(w.GetPixelRGB(x, y).r == 255, !(x == 7 && y == 0)) << x << "," << y;
  // threshold at the mean grey (method 1, the default): dark half black, light half white
  TIEBitmap t(4, 1, ie24RGB);
  t.SetRGB(0, 0, TIERGB{10, 10, 10});
  t.SetRGB(1, 0, TIERGB{20, 20, 20});
  t.SetRGB(2, 0, TIERGB{200, 200, 200});
  t.SetRGB(3, 0, TIERGB{250, 250, 250});
  t.ConvertPixelFormat(ie1g);
  EXPECT_EQ(t.GetRowAddress(0)[0] & 0xF0, 0x30);
}

TEST(Conversion, SixteenBitInputRangeOnTheDestination) {
  struct Case { uint16_t v; uint8_t expected; };
  const Case kRange[] = {{500, 0}, {1000, 0}, {1500, 127}, {2500, 255}};
  for (const Case& c : kRange) {
    TIEBitmap src(1, 1, ie16g);
    src.SetWord(0, 0, c.v);
    TIEBitmap dst(1, 1, ie24RGB);
    dst.InputRangeLow = 1000;
    dst.InputRangeHigh = 2000;
    dst.ConvertFrom(&src);
    EXPECT_EQ(dst.GetRGB(0, 0).g, c.expected) << c.v;
  }
}

TEST(Conversion, PaletteFromTwentyFourBitAndGreyPalettes) {
  TIEBitmap b(3, 1, ie24RGB);
  b.SetRGB(0, 0, TIERGB{1, 2, 3});
  b.SetRGB(1, 0, TIERGB{4, 5, 6});
  b.SetRGB(2, 0, TIERGB{1, 2, 3});
  b.ConvertPixelFormat(ie8p);
  ASSERT_EQ(b.GetPaletteCount(), 256);
  TIERGB p0 = b.GetPixelRGB(0, 0), p1 = b.GetPixelRGB(1, 0), p2 = b.GetPixelRGB(2, 0);
  EXPECT_EQ(p0.b, 1);
  EXPECT_EQ(p1.r, 6);
  EXPECT_EQ(b.GetByte(0, 0), b.GetByte(2, 0));
  (void)p2;
  TIEBitmap one(2, 1, ie1g);
  one.ConvertPixelFormat(ie8p);
  EXPECT_EQ(one.GetPaletteEntry(0).r, 0);
  EXPECT_EQ(one.GetPaletteEntry(1).r, 255);
  TIEBitmap g(1, 1, ie8g);
  g.ConvertPixelFormat(ie8p);
  EXPECT_EQ(g.GetPaletteEntry(200).g, 200);
}

TEST(Conversion, ConvertFromOtherSizeDoesNothingAndAlphaFollows) {
  TIEBitmap a(2, 2, ie8g), b(3, 2, ie24RGB);
  b.Fill(0x0000FF);
  b.ConvertFrom(&a);
  EXPECT_EQ(b.GetRGB(0, 0).r, 255);
  TIEBitmap c(2, 2, ie24RGB);
  c.SetAlphaAt(1, 1, 7);
  c.ConvertPixelFormat(ie8g);
  ASSERT_TRUE(c.AlphaPresent());
  EXPECT_EQ(c.GetAlphaAt(1, 1), 7);
}

TEST(Copy, AssignAndCopyImageFrom) {
  TIEBitmap src(2, 2, ie8p);
  src.SetPaletteEntry(3, TIERGB{1, 2, 3});
  src.PaletteColorTarget = 64;
  src.SetByte(1, 1, 3);
  TIEBitmap dst(5, 5, ie24RGB);
  dst.GetAlphaChannel();
  dst.Assign(&src);
  EXPECT_EQ(dst.GetPixelFormat(), ie8p);
  EXPECT_EQ(dst.GetPaletteEntry(3).r, 3);
  EXPECT_EQ(dst.PaletteColorTarget, 64);
  EXPECT_EQ(dst.GetByte(1, 1), 3);
  EXPECT_FALSE(dst.AlphaPresent());  // the source has none

  TIEBitmap keep(4, 4, ie24RGB);
  keep.SetAlphaAt(0, 0, 9);
  keep.IsAll255 = true;
  TIEBitmap rgb(4, 4, ie24RGB);
  rgb.IsAll255 = true;
  keep.CopyImageFrom(&rgb);
  EXPECT_FALSE(keep.IsAll255);
  ASSERT_TRUE(keep.AlphaPresent());
  EXPECT_EQ(keep.GetAlphaAt(0, 0), 9);
}

TEST(Copy, TemporaryFileToTemporaryFile) {
  TIEBitmap a, b;
  a.SetMemoryThreshold(0);
  b.SetMemoryThreshold(0);
  ASSERT_TRUE(a.Allocate(300, 200, ie24RGB));
  for (int y = 0; y < 200; ++y) a.SetRGB(y, y, TIERGB{uint8_t(y), 1, 2});
  b.SetLocation(ieTempFile);
  b.Assign(&a);
  ASSERT_EQ(b.GetLocation(), ieTempFile);
  for (int y = 0; y < 200; ++y) ASSERT_EQ(b.GetRGB(y, y).b, uint8_t(y));
}

}  // namespace
