// The kernel resampler and the dispatcher: flat images stay flat, the kernel filters agree with a
// double-precision reference computed on the host, the result does not depend on the worker count or
// the source's storage, and progress comes from the caller's thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ieresample.h"
#include "ieutils.h"

namespace {

void FillRandom(TIEBitmap& b, unsigned seed) {
  std::mt19937 rng(seed);
  const int bytes = (b.GetImageWidth() * b.GetBitCount() + 7) / 8;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < bytes; ++x) r[x] = uint8_t(rng());
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

const TResampleFilter kAllFilters[] = {rfNone,   rfTriangle, rfHermite,    rfBell,     rfBSpline, rfLanczos3, rfMitchell,
                                       rfNearest, rfLinear,  rfFastLinear, rfBilinear, rfBicubic};

TEST(Resample, FlatImagesStayFlatWithEveryFilterAtEverySize) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case kCases[] = {{37, 23, 80, 50}, {37, 23, 11, 7}, {37, 23, 37, 5}, {4000, 3000, 8, 6}, {10000, 20, 20, 1},
                         {5, 5, 1, 1},     {1, 1, 7, 3},    {3, 1, 7, 1},    {2, 9, 300, 4}};
  for (TIEPixelFormat f : {ie24RGB, ie8g}) {
    for (const Case& c : kCases) {
      TIEBitmap src(c.sw, c.sh, f);
      src.Fill(0);
      for (int y = 0; y < c.sh; ++y) {
        uint8_t* r = src.GetRowAddress(y);
        for (int x = 0; x < c.sw; ++x) {
          if (f == ie24RGB) {
            r[x * 3] = 17, r[x * 3 + 1] = 128, r[x * 3 + 2] = 250;
          } else {
            r[x] = 201;
          }
        }
      }
      for (TResampleFilter filter : kAllFilters) {
        TIEBitmap dst(c.dw, c.dh, f);
        dst.Fill(0);
        IEResample(&src, &dst, filter, nullptr, TIEProgressEvent());
        ASSERT_EQ(dst.GetImageWidth(), c.dw);
        ASSERT_EQ(dst.GetPixelFormat(), f);
        bool flat = true;
        for (int y = 0; y < c.dh && flat; ++y) {
          const uint8_t* r = dst.GetRowAddress(y);
          for (int x = 0; x < c.dw && flat; ++x)
            flat = f == ie24RGB ? r[x * 3] == 17 && r[x * 3 + 1] == 128 && r[x * 3 + 2] == 250 : r[x] == 201;
        }
        EXPECT_TRUE(flat) << "format " << int(f) << " filter " << int(filter) << " " << c.sw << "x" << c.sh << " -> "
                          << c.dw << "x" << c.dh;
      }
    }
  }
}

TEST(Resample, KernelFiltersAgreeWithDoublePrecisionReference) {
  ASSERT_TRUE(tq::UnderWine());
  const std::string script = tq::UnixPath(tq::SourceDir() + "\\tests\\proc_resample\\kernel_reference.py");
  struct Size {
    int dw, dh;
  };
  const int sw = 31, sh = 17;
  const Size kSizes[] = {{67, 41}, {9, 5}, {50, 8}};
  TIEBitmap src(sw, sh, ie24RGB);
  // smooth gradients with a sharp edge and noise: ringing filters must clamp, not wrap
  std::mt19937 rng(7);
  for (int y = 0; y < sh; ++y) {
    uint8_t* r = src.GetRowAddress(y);
    for (int x = 0; x < sw; ++x) {
      r[x * 3] = uint8_t(x * 8);
      r[x * 3 + 1] = x > 15 ? 255 : 0;
      r[x * 3 + 2] = uint8_t(rng());
    }
  }
  std::vector<uint8_t> in(8);
  IEWriteU32LE(in.data(), sw);
  IEWriteU32LE(in.data() + 4, sh);
  const std::vector<uint8_t> px = Pixels(src);
  in.insert(in.end(), px.begin(), px.end());
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("kin.raw"), in.data(), in.size()));
  for (int filter = rfTriangle; filter <= rfLinear; ++filter) {
    for (const Size& s : kSizes) {
      TIEBitmap dst(s.dw, s.dh, ie24RGB);
      IEResample(&src, &dst, TResampleFilter(filter), nullptr, TIEProgressEvent());
      std::string out;
      const std::string cmd = "/usr/bin/python3 " + tq::ShellQuote(script) + " kin.raw kout.raw " + std::to_string(filter) +
                              " " + std::to_string(s.dw) + " " + std::to_string(s.dh);
      ASSERT_EQ(tq::RunHost(cmd, &out), 0) << out;
      std::vector<unsigned char> ref;
      ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("kout.raw"), ref));
      const std::vector<uint8_t> got = Pixels(dst);
      ASSERT_EQ(ref.size(), got.size() + 8);
      int worst = 0;
      for (size_t k = 0; k < got.size(); ++k) worst = IEMax(worst, std::abs(int(got[k]) - int(ref[k + 8])));
      EXPECT_LE(worst, 1) << "filter " << filter << " -> " << s.dw << "x" << s.dh;
    }
  }
}

TEST(Resample, SameBytesWithAnyWorkerCountAndFromTemporaryFile) {
  TIEBitmap src(257, 131, ie24RGB);
  FillRandom(src, 3);
  TIEBitmap tmp;
  tmp.SetMemoryThreshold(0);
  ASSERT_TRUE(tmp.Allocate(257, 131, ie24RGB));
  ASSERT_EQ(tmp.GetLocation(), ieTempFile);
  for (int y = 0; y < 131; ++y) std::memcpy(tmp.GetRowAddress(y), src.GetRowAddress(y), 257 * 3);
  for (TResampleFilter filter : {rfLanczos3, rfTriangle, rfMitchell}) {
    for (auto size : {std::make_pair(100, 300), std::make_pair(600, 40)}) {
      TIEBitmap one(size.first, size.second, ie24RGB), eight(size.first, size.second, ie24RGB),
          file(size.first, size.second, ie24RGB);
      IEKernelResample24(&src, &one, filter, nullptr, TIEProgressEvent(), 1);
      IEKernelResample24(&src, &eight, filter, nullptr, TIEProgressEvent(), 8);
      IEKernelResample24(&tmp, &file, filter, nullptr, TIEProgressEvent(), 8);
      TIEBitmap toFile;  // a destination in a temporary file is written by the calling thread
      toFile.SetMemoryThreshold(0);
      ASSERT_TRUE(toFile.Allocate(size.first, size.second, ie24RGB));
      ASSERT_EQ(toFile.GetLocation(), ieTempFile);
      IEKernelResample24(&src, &toFile, filter, nullptr, TIEProgressEvent(), 8);
      EXPECT_EQ(Pixels(one), Pixels(eight)) << int(filter);
      EXPECT_EQ(Pixels(one), Pixels(file)) << int(filter);
      EXPECT_EQ(Pixels(one), Pixels(toFile)) << int(filter);
    }
  }
}

// The SSE2 rows against the portable ones: odd widths (vector tails), one-pixel sides, ringing kernels
// on hard edges that must clamp, every kernel filter, 24-bit, grey and 1-bit sources.
TEST(Resample, VectorRowsGiveThePortableBytes) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case kCases[] = {{37, 23, 81, 51}, {37, 23, 11, 7}, {1, 9, 5, 4},   {9, 1, 1, 3},     {2, 2, 1, 1},
                         {17, 5, 16, 33},  {301, 7, 3, 99}, {1000, 9, 17, 2}, {13, 600, 15, 5}, {3, 3, 300, 1}};
  struct Restore {
    ~Restore() { IEResampleUseSimd = true; }
  } restore;
  for (TIEPixelFormat f : {ie24RGB, ie8g, ie1g}) {
    for (const Case& c : kCases) {
      TIEBitmap src(c.sw, c.sh, f);
      FillRandom(src, unsigned(c.sw * 31 + c.dw));
      const size_t run = f == ie1g ? size_t(c.sw) / 16 : size_t(c.sw) / 2;  // bytes of one value at the start
      for (int y = 0; y < c.sh; y += 3) std::memset(src.GetRowAddress(y), y % 2 ? 255 : 0, run);
      for (int filter = rfTriangle; filter <= rfLinear; ++filter) {
        TIEBitmap vec(c.dw, c.dh, f), port(c.dw, c.dh, f);
        IEResampleUseSimd = true;
        IEResample(&src, &vec, TResampleFilter(filter), nullptr, TIEProgressEvent());
        IEResampleUseSimd = false;
        IEResample(&src, &port, TResampleFilter(filter), nullptr, TIEProgressEvent());
        EXPECT_EQ(Pixels(vec), Pixels(port)) << "format " << int(f) << " filter " << filter << " " << c.sw << "x"
                                             << c.sh << " -> " << c.dw << "x" << c.dh;
      }
    }
  }
}

TEST(Resample, ProgressRisesOnTheCallersThreadBelowOneHundred) {
  TIEBitmap src(1200, 900, ie24RGB);
  FillRandom(src, 5);
  TIEBitmap dst(500, 700, ie24RGB);
  std::vector<int> values;
  bool otherThread = false;
  const DWORD me = GetCurrentThreadId();
  IEKernelResample24(&src, &dst, rfLanczos3, nullptr,
                     [&](void*, int p) {
                       values.push_back(p);
                       otherThread |= GetCurrentThreadId() != me;
                     },
                     8);
  EXPECT_FALSE(otherThread);
  ASSERT_FALSE(values.empty());
  for (size_t k = 1; k < values.size(); ++k) EXPECT_GT(values[k], values[k - 1]);
  EXPECT_GE(values.front(), 0);
  EXPECT_LT(values.back(), 100);
  EXPECT_GE(values.back(), 98);
}

TEST(Resample, ContributorListsSumToOneAndReflectAtEdges) {
  // 3 -> 7 with the triangle: output column 3 sits on source pixel 1 and takes it alone
  TIEContributorLists l;
  IEBuildContributors(l, 3, 7, IEKernelTriangle, 1.0);
  ASSERT_EQ(l.First[4] - l.First[3], 1);
  EXPECT_EQ(l.Items[l.First[3]].Pixel, 1);
  EXPECT_EQ(l.Items[l.First[3]].Weight, kIEWeightOne);
  // large shrinks keep their weights, every list sums to exactly one and stays in the image
  for (auto sd : {std::make_pair(10000, 20), std::make_pair(4000, 8), std::make_pair(5, 2), std::make_pair(9, 31)}) {
    IEBuildContributors(l, sd.first, sd.second, IEKernelLanczos3, 3.0);
    for (int i = 0; i < sd.second; ++i) {
      int total = 0;
      for (int k = l.First[i]; k < l.First[i + 1]; ++k) {
        total += l.Items[k].Weight;
        EXPECT_GE(l.Items[k].Pixel, 0);
        EXPECT_LT(l.Items[k].Pixel, sd.first);
      }
      EXPECT_EQ(total, kIEWeightOne) << sd.first << "->" << sd.second << " list " << i;
    }
  }
}

TEST(Resample, AlphaChannelIsScaledWithTheImage) {
  TIEBitmap src(40, 20, ie24RGB);
  FillRandom(src, 9);
  TIEBitmap* a = src.GetAlphaChannel();
  a->Fill(0);
  for (int y = 0; y < 20; ++y)
    for (int x = 20; x < 40; ++x) a->GetRowAddress(y)[x] = 255;
  TIEBitmap dst(20, 10, ie24RGB);
  IEResample(&src, &dst, rfTriangle, nullptr, TIEProgressEvent());
  ASSERT_TRUE(dst.AlphaPresent());
  EXPECT_EQ(dst.GetAlphaChannel()->GetImageWidth(), 20);
  EXPECT_EQ(dst.GetAlphaChannel()->GetRowAddress(5)[0], 0);
  EXPECT_EQ(dst.GetAlphaChannel()->GetRowAddress(5)[19], 255);
}

}  // namespace
