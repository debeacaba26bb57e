// The resamplers of the calling thread: nearest stretch in every format, the area average, the fast
// linear boxes, the projections and the 1-bit to grey paths.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ieresample.h"
#include "ieresamplers.h"

namespace {

void FillRandom(TIEBitmap& b, unsigned seed) {
  std::mt19937 rng(seed);
  const int bytes = (b.GetImageWidth() * b.GetBitCount() + 7) / 8;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < bytes; ++x) r[x] = uint8_t(rng());
  }
}

TEST(StretchNearest, EveryFormatCopiesWholePixelsFromTheMappedPlace) {
  const TIEPixelFormat kFormats[] = {ie1g, ie8p, ie8g, ie16g, ie24RGB, ie32f, ieCMYK, ieRGB48, ieCIELab, ie32RGB};
  struct Size {
    int sw, sh, dw, dh;
  };
  const Size kSizes[] = {{4, 3, 2, 5}, {13, 7, 29, 3}, {9, 1, 9, 4}};
  for (TIEPixelFormat f : kFormats) {
    for (const Size& s : kSizes) {
      TIEBitmap src(s.sw, s.sh, f);
      FillRandom(src, unsigned(f) * 31 + s.sw);
      if (f == ie8p) src.SetPaletteEntry(7, IEMakeRGB(1, 2, 3));
      TIEBitmap dst(s.dw, s.dh, f == ie8g ? ie24RGB : f);  // a wrong format is replaced by the source's
      IEStretchNearest(&src, &dst, nullptr, TIEProgressEvent());
      ASSERT_EQ(dst.GetPixelFormat(), f);
      const int bytes = src.GetBitCount() / 8;
      for (int j = 0; j < s.dh; ++j)
        for (int i = 0; i < s.dw; ++i) {
          const int sx = i * s.sw / s.dw, sy = j * s.sh / s.dh;
          if (f == ie1g) {
            ASSERT_EQ(IEGetRowBit(dst.GetRowAddress(j), i), IEGetRowBit(src.GetRowAddress(sy), sx)) << i << "," << j;
          } else {
            ASSERT_EQ(std::memcmp(dst.GetRowAddress(j) + i * bytes, src.GetRowAddress(sy) + sx * bytes, bytes), 0)
                << "format " << int(f) << " " << i << "," << j;
          }
        }
      if (f == ie8p) {
        EXPECT_TRUE(IESameRGB(dst.GetPaletteEntry(7), IEMakeRGB(1, 2, 3)));
      }
    }
  }
  // 4 -> 2 columns take source columns 0 and 2
  TIEBitmap a(4, 1, ie8g), b(2, 1, ie8g);
  for (int x = 0; x < 4; ++x) a.GetRowAddress(0)[x] = uint8_t(10 * x);
  IEStretchNearest(&a, &b, nullptr, TIEProgressEvent());
  EXPECT_EQ(b.GetRowAddress(0)[0], 0);
  EXPECT_EQ(b.GetRowAddress(0)[1], 20);
}

TEST(AreaResample, HalvingGreyIsTheRounded2x2MeanAndAgreesWithPIL) {
  const int w = 64, h = 38;
  TIEBitmap src(w, h, ie8g);
  FillRandom(src, 11);
  for (int mode = 0; mode < 2; ++mode) {
    TIEBitmap dst(w / 2, h / 2, ie8g);
    IEResample(&src, &dst, mode ? rfBicubic : rfBilinear, nullptr, TIEProgressEvent());
    ASSERT_EQ(dst.GetPixelFormat(), ie8g);
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) {
        const int sum = src.GetRowAddress(2 * y)[2 * x] + src.GetRowAddress(2 * y)[2 * x + 1] +
                        src.GetRowAddress(2 * y + 1)[2 * x] + src.GetRowAddress(2 * y + 1)[2 * x + 1];
        ASSERT_EQ(dst.GetRowAddress(y)[x], IERound(sum / 4.0)) << x << "," << y;
      }
  }
  // PIL's reduce(2) rounds halves up; elsewhere it must agree
  std::string pgm = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> file(pgm.begin(), pgm.end());
  for (int y = 0; y < h; ++y) file.insert(file.end(), src.GetRowAddress(y), src.GetRowAddress(y) + w);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("half.pgm"), file.data(), file.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; "
                        "Image.open('half.pgm').reduce(2).save('half_pil.pgm')\"",
                        &out),
            0)
      << out;
  std::vector<unsigned char> pil;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("half_pil.pgm"), pil));
  ASSERT_GE(pil.size(), size_t(w / 2 * h / 2));
  const unsigned char* p = pil.data() + pil.size() - w / 2 * h / 2;
  TIEBitmap dst(w / 2, h / 2, ie8g);
  IEResample(&src, &dst, rfBilinear, nullptr, TIEProgressEvent());
  int compared = 0;
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      const int sum = src.GetRowAddress(2 * y)[2 * x] + src.GetRowAddress(2 * y)[2 * x + 1] +
                      src.GetRowAddress(2 * y + 1)[2 * x] + src.GetRowAddress(2 * y + 1)[2 * x + 1];
      if (sum % 4 == 2) continue;
      EXPECT_EQ(dst.GetRowAddress(y)[x], p[y * (w / 2) + x]) << x << "," << y;
      ++compared;
    }
  EXPECT_GT(compared, w * h / 8);
}

TEST(AreaResample, SixteenBitAndEnlargingStayInRange) {
  TIEBitmap src(5, 4, ie16g);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) reinterpret_cast<uint16_t*>(src.GetRowAddress(y))[x] = uint16_t((x + y) % 2 ? 65535 : 0);
  for (TResampleFilter f : {rfBilinear, rfBicubic}) {
    TIEBitmap dst(17, 9, ie16g);
    IEResample(&src, &dst, f, nullptr, TIEProgressEvent());
    ASSERT_EQ(dst.GetPixelFormat(), ie16g);
    bool hasMiddle = false;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 17; ++x) {
        const uint16_t v = reinterpret_cast<uint16_t*>(dst.GetRowAddress(y))[x];
        hasMiddle |= v > 1000 && v < 64535;
      }
    EXPECT_TRUE(hasMiddle) << int(f);
  }
}

std::vector<uint8_t> Pixels(TIEBitmap& b) {
  std::vector<uint8_t> out;
  const int bytes = (b.GetImageWidth() * b.GetBitCount() + 7) / 8;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    const uint8_t* r = b.GetRowAddress(y);
    out.insert(out.end(), r, r + bytes);
  }
  return out;
}

// The SSE2 rows of the area average and of the fast linear boxes against the portable ones, and a
// source in memory against the same pixels in a temporary file: odd widths and widths whose rows end
// on a four-byte boundary (the vector rows read pixels as four bytes), one-pixel sides, shrinking by
// little and by much, enlarging, every format.
TEST(AreaResample, VectorRowsAndEveryLocationGiveThePortableBytes) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case kCases[] = {{37, 23, 11, 7},  {64, 38, 32, 19}, {40, 9, 13, 4},   {37, 23, 36, 22}, {1000, 9, 17, 2},
                         {9, 7, 1, 1},     {1, 9, 1, 4},     {5, 1, 2, 1},     {2, 2, 1, 1},     {301, 7, 3, 5},
                         {37, 23, 81, 51}, {9, 1, 20, 3},    {13, 60, 15, 5},  {60, 13, 5, 15},  {1, 1, 3, 2},
                         {50, 20, 177, 61}, {1000, 3, 3, 2}};  // the last: boxes wider than 257 pixels
  struct Restore {
    ~Restore() { IEResamplersUseSimd = true; }
  } restore;
  for (TIEPixelFormat f : {ie24RGB, ie8g, ieRGB48, ie16g}) {
    for (const Case& c : kCases) {
      TIEBitmap src(c.sw, c.sh, f);
      FillRandom(src, unsigned(c.sw * 31 + c.dw));
      // flat runs and extremes: the sums must round alike at 0 and at the top
      for (int y = 0; y < c.sh; y += 3) std::memset(src.GetRowAddress(y), y % 2 ? 255 : 0, size_t(c.sw) / 2);
      TIEBitmap tmp;
      tmp.SetMemoryThreshold(0);
      ASSERT_TRUE(tmp.Allocate(c.sw, c.sh, f));
      ASSERT_EQ(tmp.GetLocation(), ieTempFile);
      const size_t rowBytes = size_t(c.sw) * src.GetBitCount() / 8;
      for (int y = 0; y < c.sh; ++y) std::memcpy(tmp.GetRowAddress(y), src.GetRowAddress(y), rowBytes);
      for (TResampleFilter filter : {rfBilinear, rfBicubic, rfFastLinear}) {
        TIEBitmap vec(c.dw, c.dh, f), port(c.dw, c.dh, f), file(c.dw, c.dh, f);
        IEResamplersUseSimd = true;
        IEResample(&src, &vec, filter, nullptr, TIEProgressEvent());
        IEResample(&tmp, &file, filter, nullptr, TIEProgressEvent());
        IEResamplersUseSimd = false;
        IEResample(&src, &port, filter, nullptr, TIEProgressEvent());
        const std::string what = "format " + std::to_string(int(f)) + " filter " + std::to_string(int(filter)) + " " +
                                 std::to_string(c.sw) + "x" + std::to_string(c.sh) + " -> " + std::to_string(c.dw) +
                                 "x" + std::to_string(c.dh);
        EXPECT_EQ(Pixels(vec), Pixels(port)) << what;
        EXPECT_EQ(Pixels(file), Pixels(port)) << what;
      }
    }
  }
}

TEST(FastLinear, KeptWidthIsCopiedAndShrunkHeightAveragesHalfOpenBoxes) {
  TIEBitmap src(6, 4, ie8g);
  FillRandom(src, 13);
  TIEBitmap dst(6, 2, ie8g);
  IEResampleFastLinear8(&src, &dst, nullptr, TIEProgressEvent());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(dst.GetRowAddress(y)[x], (src.GetRowAddress(2 * y)[x] + src.GetRowAddress(2 * y + 1)[x]) / 2) << x << "," << y;
  // enlarging interpolates between neighbours; a two-pixel ramp keeps its ends
  TIEBitmap ramp(2, 1, ie24RGB), big(5, 1, ie24RGB);
  std::memset(ramp.GetRowAddress(0), 0, 3);
  std::memset(ramp.GetRowAddress(0) + 3, 200, 3);
  IEResampleFastLinear(&ramp, &big, nullptr, TIEProgressEvent());
  for (int x = 1; x < 5; ++x) EXPECT_GE(big.GetRowAddress(0)[3 * x], big.GetRowAddress(0)[3 * (x - 1)]);
  EXPECT_EQ(big.GetRowAddress(0)[0], 0);
  EXPECT_GT(big.GetRowAddress(0)[3 * 2], 100);
  EXPECT_LT(big.GetRowAddress(0)[3 * 2], 200);
  EXPECT_EQ(big.GetRowAddress(0)[3 * 4], 200);
}

// Progress runs over every source row and then every destination row, as two whole passes would
// report it, also now that the rows are streamed: a shrunk and an enlarged height.
TEST(FastLinear, ProgressCountsSourceRowsThenDestinationRows) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case kCases[] = {{7, 11, 3, 4}, {7, 5, 3, 11}, {5, 9, 9, 9}};
  for (const Case& c : kCases) {
    TIEBitmap src(c.sw, c.sh, ie24RGB), dst(c.dw, c.dh, ie24RGB);
    FillRandom(src, 17);
    std::vector<int> got, expected;
    IEResampleFastLinear(&src, &dst, nullptr, [&](void*, int p) { got.push_back(p); });
    const double factor = 100.0 / (c.sh + c.dh + 0.5);
    for (int r = 0; r < c.sh + c.dh; ++r) expected.push_back(int(factor * r));
    EXPECT_EQ(got, expected) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
  }
}

TEST(Projection, TheMidpointCountsAsNeitherWhiteNorBlack) {
  struct Case {
    uint8_t r, g, b;
    bool whiteOnBlack;
    bool expectWhite;
  };
  const Case kCases[] = {{128, 200, 200, false, true},  {128, 200, 200, true, false}, {129, 129, 129, true, true},
                         {127, 127, 127, false, false}, {128, 0, 0, false, true},     {0, 0, 0, true, false}};
  for (const Case& c : kCases) {
    TIEBitmap src(4, 4, ie24RGB), dst(2, 2, ie24RGB);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) src.SetRGB(x, y, IEMakeRGB(x == 1 && y == 1 ? c.r : (c.whiteOnBlack ? 0 : 255),
                                                             x == 1 && y == 1 ? c.g : (c.whiteOnBlack ? 0 : 255),
                                                             x == 1 && y == 1 ? c.b : (c.whiteOnBlack ? 0 : 255)));
    IEResample(&src, &dst, c.whiteOnBlack ? rfProjectWB : rfProjectBW, nullptr, TIEProgressEvent());
    ASSERT_EQ(dst.GetPixelFormat(), ie1g);
    EXPECT_EQ(IEGetRowBit(dst.GetRowAddress(0), 0), c.expectWhite) << int(c.r) << " " << c.whiteOnBlack;
    EXPECT_EQ(IEGetRowBit(dst.GetRowAddress(1), 1), !c.whiteOnBlack);
  }
  // 1-bit halving: white on black turns white when any covered pixel is white, black on white the reverse
  TIEBitmap bw(4, 4, ie1g);
  bw.Fill(0);
  IESetRowBit(bw.GetRowAddress(1), 1, true);
  TIEBitmap wb(2, 2, ie1g), bwd(2, 2, ie1g);
  IEResample(&bw, &wb, rfProjectWB, nullptr, TIEProgressEvent());
  IEResample(&bw, &bwd, rfProjectBW, nullptr, TIEProgressEvent());
  EXPECT_TRUE(IEGetRowBit(wb.GetRowAddress(0), 0));
  EXPECT_FALSE(IEGetRowBit(wb.GetRowAddress(1), 1));
  EXPECT_FALSE(IEGetRowBit(bwd.GetRowAddress(0), 0));
  // the last column and row of a shrink are not dropped
  bw.Fill(0);
  IESetRowBit(bw.GetRowAddress(3), 3, true);
  IEResample(&bw, &wb, rfProjectWB, nullptr, TIEProgressEvent());
  EXPECT_TRUE(IEGetRowBit(wb.GetRowAddress(1), 1));
}

TEST(BitsToGrey, EnlargingAndShrinkingGiveGreyLevelsIn24Bit) {
  TIEBitmap src(8, 8, ie1g);
  src.Fill(0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) IESetRowBit(src.GetRowAddress(y), x, (x + y) % 2 == 0);
  struct Case {
    TResampleFilter filter;
    int dw, dh;
  };
  const Case kCases[] = {{rfBicubic, 21, 19}, {rfLanczos3, 21, 19}, {rfTriangle, 3, 3}, {rfFastLinear, 4, 4}};
  for (const Case& c : kCases) {
    TIEBitmap dst(c.dw, c.dh, ie1g);
    IEResample(&src, &dst, c.filter, nullptr, TIEProgressEvent());
    ASSERT_EQ(dst.GetPixelFormat(), ie24RGB) << int(c.filter);
    bool grey = false, neutral = true;
    for (int y = 0; y < c.dh; ++y)
      for (int x = 0; x < c.dw; ++x) {
        TIERGB p = dst.GetRGB(x, y);
        grey |= p.r > 30 && p.r < 225;
        neutral &= p.r == p.g && p.g == p.b;
      }
    EXPECT_TRUE(grey) << int(c.filter);
    EXPECT_TRUE(neutral) << int(c.filter);
  }
  // a checkerboard shrunk by 4 averages to half grey
  TIEBitmap small(2, 2, ie24RGB);
  IEShrinkBWToGray(&src, 0, 0, 7, 7, &small);
  EXPECT_NEAR(small.GetRGB(1, 1).r, 127, 20);
}

}  // namespace
