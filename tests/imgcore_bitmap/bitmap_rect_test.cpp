// Rectangles, fills, pixel access and reshaping of TIEBitmap, in memory and in a temporary file.
#include <gtest/gtest.h>

#include <vector>

#include "iebitmap.h"

namespace {

class OnLocation : public ::testing::TestWithParam<TIELocation> {
 protected:
  void Make(TIEBitmap& b, int w, int h, TIEPixelFormat f) {
    b.SetMemoryThreshold(GetParam() == ieTempFile ? 0 : (1 << 24));
    b.SetLocation(GetParam());
    ASSERT_TRUE(b.Allocate(w, h, f));
    ASSERT_EQ(b.GetLocation(), GetParam());
  }
  // 8g image whose pixel (x, y) is 10 x y + x + 1
  void Numbered(TIEBitmap& b, int w, int h) {
    Make(b, w, h, ie8g);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetByte(x, y, uint8_t(10 * y + x + 1));
  }
};

TEST_P(OnLocation, CopyRectClipsNegativeDestination) {
  TIEBitmap s, d;
  Numbered(s, 8, 2);
  Make(d, 8, 2, ie8g);
  d.Fill(0);
  s.CopyRectTo(&d, 1, 0, -3, 0, 6, 2);  // from column 1 + 3, three columns narrower
  EXPECT_EQ(d.GetByte(0, 0), 5);
  EXPECT_EQ(d.GetByte(2, 1), 17);
  EXPECT_EQ(d.GetByte(3, 0), 0);
  TIEBitmap rgb;
  Make(rgb, 8, 2, ie24RGB);
  rgb.Fill(0);
  s.CopyRectTo(&rgb, 0, 0, 0, 0, 8, 2);  // no rule between 8g and 24-bit: nothing copied
  EXPECT_TRUE(rgb.IsAllZero());
}

TEST_P(OnLocation, CopyRectOfBitsKeepsTheBitsAround) {
  TIEBitmap s, d;
  Make(s, 16, 1, ie1g);
  Make(d, 16, 1, ie1g);
  s.Fill(0);
  d.Fill(1);
  s.CopyRectTo(&d, 0, 0, 6, 0, 3, 1);
  uint8_t* r = d.GetRowAddress(0);
  EXPECT_EQ(r[0], 0xFC);
  EXPECT_EQ(r[1], 0x7F);
}

TEST_P(OnLocation, FillsAndTheirFlags) {
  TIEBitmap g, f, c;
  Make(g, 5, 5, ie8g);
  g.Fill(255);
  EXPECT_TRUE(g.IsAll255);
  g.FillRect(-5, -5, 2, 2, 0);
  EXPECT_EQ(g.GetByte(2, 2), 0);
  EXPECT_EQ(g.GetByte(3, 2), 255);
  EXPECT_EQ(g.GetByte(2, 3), 255);
  Make(c, 3, 1, ie32RGB);
  c.SetDWord(1, 0, 0x7F000000);
  c.Fill(0xFFFFFF);
  EXPECT_TRUE(c.IsAll255);
  EXPECT_EQ(c.GetDWord(1, 0), 0x7FFFFFFFu);  // the fourth byte is kept
  if (GetParam() == ieTBitmap) return;  // no float samples in a platform bitmap
  Make(f, 2, 2, ie32f);
  f.Fill(0.5);
  EXPECT_EQ(f.GetFloat(1, 1), 0.5f);
  f.FillRect(0, 0, 0, 0, 0.5);  // a whole number: the fraction is dropped
  EXPECT_EQ(f.GetFloat(0, 0), 0.0f);
}

TEST_P(OnLocation, PixelAsColourAndScans) {
  TIEBitmap w, f, one;
  Make(one, 3, 2, ie1g);
  one.Fill(0);
  for (int y = 0; y < 2; ++y) one.GetRowAddress(y)[0] = 0xE0;  // three pixels set, the rest clear
  one.UpdateOpaqueFlag();
  EXPECT_FALSE(one.IsAll255);  // whole bytes are tested
  if (GetParam() == ieTBitmap) return;  // no 16-bit or float samples in a platform bitmap
  Make(w, 1, 1, ie16g);
  w.SetWord(0, 0, 0x1234);
  EXPECT_EQ(w.GetPixelRGB(0, 0).g, 0x12);
  EXPECT_TRUE(w.HasOnlyGrays());
  Make(f, 1, 1, ie32f);
  f.SetFloat(0, 0, 0.5f);
  EXPECT_EQ(f.GetPixelRGB(0, 0).r, 127);
}

TEST_P(OnLocation, SetImageWidthKeepsPixelsPaletteAndClearsNewColumns) {
  TIEBitmap b;
  Make(b, 3, 2, ie8p);
  b.SetPaletteEntry(7, TIERGB{7, 7, 7});
  b.Fill(200);
  b.SetImageWidth(6);
  ASSERT_EQ(b.GetImageWidth(), 6);
  EXPECT_EQ(b.GetByte(2, 1), 200);
  EXPECT_EQ(b.GetByte(5, 1), 0);
  EXPECT_EQ(b.GetPaletteEntry(7).g, 7);
  b.GetAlphaChannel();
  b.SetImageHeight(5);
  EXPECT_EQ(b.GetByte(0, 4), 0);
  EXPECT_EQ(b.GetAlphaChannel()->GetImageHeight(), 5);
}

TEST_P(OnLocation, ResizeCanvasPlacesTheOldContent) {
  struct Case { int fromW, toW; uint8_t place; int firstOldColumn; };
  const Case kCases[] = {{4, 8, 1, 2}, {4, 8, 2, 4}, {4, 8, 0, 0}, {8, 4, 1, -1}};
  for (const Case& c : kCases) {
    TIEBitmap b;
    Numbered(b, c.fromW, 4);
    b.ResizeCanvas(c.toW, 4, 99, 255, c.place, 0);
    ASSERT_EQ(b.GetImageWidth(), c.toW);
    if (c.firstOldColumn < 0) {  // shrinking 8 -> 4 centred keeps old columns 2..5
      for (int x = 0; x < 4; ++x) EXPECT_EQ(b.GetByte(x, 1), 10 + x + 2 + 1);
      continue;
    }
    for (int x = 0; x < c.toW; ++x) {
      int old = x - c.firstOldColumn;
      EXPECT_EQ(b.GetByte(x, 1), old >= 0 && old < c.fromW ? 10 + old + 1 : 99) << "place " << int(c.place) << " x " << x;
    }
  }
}

TEST_P(OnLocation, ResizeCanvasVerticallyCentred) {
  TIEBitmap b;
  Numbered(b, 2, 2);
  b.GetAlphaChannel()->Fill(7);
  b.ResizeCanvas(2, 4, 99, 0, 0, 1);
  const int expected[4] = {99, 1, 11, 99};
  for (int y = 0; y < 4; ++y) EXPECT_EQ(b.GetByte(0, y), expected[y]) << y;
  EXPECT_EQ(b.GetAlphaAt(0, 0), 0);
  EXPECT_EQ(b.GetAlphaAt(0, 1), 7);
}

TEST(Reshape, SamplesAPlatformBitmapCannotHoldAreConverted) {
  TIEBitmap b(2, 1, ie16g);
  b.SetWord(1, 0, 0x8000);
  b.SetLocation(ieTBitmap);
  EXPECT_EQ(b.GetPixelFormat(), ie8g);
  EXPECT_EQ(b.GetByte(1, 0), 0x80);
  TIEBitmap lab(1, 1, ie24RGB);
  lab.Fill(0xFFFFFF);
  lab.ConvertPixelFormat(ieCIELab);
  lab.SetLocation(ieTBitmap);
  EXPECT_EQ(lab.GetPixelFormat(), ie24RGB);
  EXPECT_GE(lab.GetRGB(0, 0).g, 245);  // L 100 is stored as 250 and read back as 98.04
}

TEST(Reshape, RowAlignmentChangesRowLengthInMemoryOnly) {
  TIEBitmap b(3, 2, ie24RGB);
  b.SetRGB(2, 1, TIERGB{1, 2, 3});
  EXPECT_EQ(b.GetRowLength(), 12);
  b.SetRowAlignment(8);
  EXPECT_EQ(b.GetRowLength(), 9);
  EXPECT_EQ(b.GetRGB(2, 1).r, 3);
  TIEBitmap t;
  t.SetMemoryThreshold(0);
  ASSERT_TRUE(t.Allocate(3, 2, ie24RGB));
  t.SetRowAlignment(8);
  EXPECT_EQ(t.GetRowLength(), 12);
}

TEST(Reshape, LocationsKeepThePixels) {
  TIEBitmap b(5, 4, ie24RGB);
  b.SetRGB(4, 3, TIERGB{9, 8, 7});
  b.SetMemoryThreshold(0);
  b.SetLocation(ieTempFile);
  ASSERT_EQ(b.GetLocation(), ieTempFile);
  EXPECT_EQ(b.GetRGB(4, 3).r, 7);
  ASSERT_NE(b.GetTBitmap(), nullptr);
  ASSERT_EQ(b.GetLocation(), ieTBitmap);
  EXPECT_EQ(b.GetRGB(4, 3).g, 8);
  b.SetMemoryThreshold(1 << 20);
  b.SetLocation(ieMemory);
  EXPECT_EQ(b.GetRGB(4, 3).b, 9);
}

INSTANTIATE_TEST_SUITE_P(Locations, OnLocation, ::testing::Values(ieMemory, ieTempFile, ieTBitmap));

}  // namespace

namespace {

// One sequence of operations on a few-megabyte image gives byte-identical results (compared through
// the raw stream) in memory, in a temporary file and in a platform bitmap.
TEST(AcrossLocations, SameOperationsSamePixels) {
  std::vector<uint8_t> results[3];
  const TIELocation where[3] = {ieMemory, ieTempFile, ieTBitmap};
  for (int i = 0; i < 3; ++i) {
    TIEBitmap b;
    b.SetMemoryThreshold(where[i] == ieTempFile ? 0 : (int64_t(1) << 30));
    b.SetLocation(where[i]);
    ASSERT_TRUE(b.Allocate(1500, 1000, ie24RGB));
    ASSERT_EQ(b.GetLocation(), where[i]);
    for (int y = 0; y < 1000; ++y) {
      uint8_t* r = b.GetRowAddress(y);
      for (int x = 0; x < 4500; ++x) r[x] = uint8_t(x * 7 + y * 3);
    }
    b.SetAlphaAt(10, 10, 3);
    b.FillRect(100, 100, 300, 200, 0x336699);
    b.MoveRect(0, 0, 99, 99, 1400, 900, 0xFFFFFF, true);
    b.ResizeCanvas(1600, 1100, 0x000080, 128, 1, 2);
    TIEBitmap copy;
    copy.SetMemoryThreshold(b.GetMemoryThreshold());
    copy.SetLocation(where[i]);
    copy.Assign(&b);
    copy.ConvertPixelFormat(ie32RGB);
    copy.ConvertPixelFormat(ie8g);
    copy.CopyRectTo(&copy, 0, 0, 5, 5, 50, 50);
    TIEBitmap one;
    one.SetMemoryThreshold(b.GetMemoryThreshold());
    one.SetLocation(where[i]);
    one.Assign(&copy);
    one.BlackWhiteMethod = 0;
    one.ConvertPixelFormat(ie1g);
    b.WriteRawImageStream(results[i]);
    copy.WriteRawImageStream(results[i]);
    one.WriteRawImageStream(results[i]);
  }
  ASSERT_GT(results[0].size(), 6000000u);
  EXPECT_TRUE(results[0] == results[1]) << "memory and temporary file differ";
  EXPECT_TRUE(results[0] == results[2]) << "memory and platform bitmap differ";
}

}  // namespace
