// TIFF reading options: native 8- and 16-bit formats against samples we wrote through netpbm and
// tiffcp, turning pages upright by their orientation against PIL, the embedded profile against
// ImageMagick, and the reader's own arguments (page count without parameters, thumbnail limit,
// alpha mask, offsets from a stream position or from its start).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iecmyk.h"
#include "imageryio.h"
#include "tifdecode.h"
#include "tifencode.h"
#include "vodevovur.h"

using namespace iotest;
using namespace misctest;

namespace {

class TIFFReadOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/tiffcp") != 0) GTEST_SKIP() << "needs wine with libtiff tools";
  }
};

uint16_t Sample16(int x, int y, int c) { return uint16_t(x * 977 + y * 131 + c * 20011); }

// A binary PGM or PPM of maxval 65535 holding Sample16 (samples are big-endian in the file).
void WriteWidePNM(const std::string& name, int w, int h, int channels) {
  std::string d = std::string(channels == 1 ? "P5" : "P6") + "\n" + std::to_string(w) + " " + std::to_string(h) +
                  "\n65535\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const uint16_t v = Sample16(x, y, c);
        d += char(v >> 8);
        d += char(v & 0xFF);
      }
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(name), d.data(), d.size()));
}

TIEBitmap* LoadNative(TIEBitmap& b, TImageryIO& io, const std::string& file, bool native) {
  io.Params.IsNativePixelFormat = native;
  io.LoadByContent(W(tq::WorkFile(file)));
  return &b;
}

}  // namespace

// 16-bit grey and RGB keep every sample with the native format (ie16g, ieRGB48), through the layouts
// tiffcp makes, big-endian files included; without it they arrive as 24-bit colours of their high
// bytes. 8-bit grey is ie8g only with the native format.
TEST_F(TIFFReadOptions, NativeFormatsKeepSixteenBitSamples) {
  const int w = 37, h = 21;
  WriteWidePNM("g16.pgm", w, h, 1);
  WriteWidePNM("c16.ppm", w, h, 3);
  Host("pnmtotiff g16.pgm > g16.tif 2>/dev/null && pnmtotiff c16.ppm > c16.tif 2>/dev/null");
  const char* variants[] = {"-c none", "-c none -B", "-c lzw:2", "-c zip", "-c packbits -t -w 16 -l 16",
                            "-c lzw:2 -B"};
  for (int channels : {1, 3}) {
    int v = 0;
    for (const char* variant : variants) {
      const std::string src = channels == 1 ? "g16.tif" : "c16.tif";
      const std::string file = std::to_string(channels) + "_" + std::to_string(v++) + ".tif";
      const std::string what = src + " " + variant;
      ASSERT_EQ(tq::RunHost("tiffcp " + std::string(variant) + " " + src + " " + file + " 2>/dev/null"), 0) << what;
      for (bool native : {true, false}) {
        TIEBitmap b;
        TImageryIO io(&b);
        LoadNative(b, io, file, native);
        ASSERT_FALSE(io.Aborting) << what;
        ASSERT_EQ(b.GetImageWidth(), w) << what;
        ASSERT_EQ(io.Params.TIFFByteOrder, std::string(variant).find("-B") != std::string::npos ? 0 : 1) << what;
        if (!native) {
          ASSERT_EQ(b.GetPixelFormat(), ie24RGB) << what;
          const TIERGB p = b.GetRGB(5, 7);
          EXPECT_EQ(p.r, Sample16(5, 7, 0) >> 8) << what;
          EXPECT_EQ(p.b, Sample16(5, 7, channels == 1 ? 0 : 2) >> 8) << what;
          continue;
        }
        ASSERT_EQ(b.GetPixelFormat(), channels == 1 ? ie16g : ieRGB48) << what;
        int bad = 0;
        for (int y = 0; y < h && !bad; ++y)
          for (int x = 0; x < w && !bad; ++x)
            for (int c = 0; c < channels && !bad; ++c) {
              const uint16_t got = channels == 1 ? b.GetWord(x, y)
                                                 : (c == 0 ? b.GetRGB48(x, y).r : c == 1 ? b.GetRGB48(x, y).g
                                                                                         : b.GetRGB48(x, y).b);
              if (got != Sample16(x, y, c)) {
                ADD_FAILURE() << what << ": sample " << x << "," << y << "," << c << " is " << got << ", file has "
                              << Sample16(x, y, c);
                bad = 1;
              }
            }
      }
    }
  }
  // 8-bit grey
  Host("pamdepth 255 g16.pgm | pnmtotiff > g8.tif 2>/dev/null");
  for (bool native : {true, false}) {
    TIEBitmap b;
    TImageryIO io(&b);
    LoadNative(b, io, "g8.tif", native);
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(b.GetPixelFormat(), native ? ie8g : ie24RGB);
  }
}

// The library's own 16- and 48-bit files, little- and big-endian, come back sample for sample.
TEST_F(TIFFReadOptions, OwnSixteenBitFilesRoundTrip) {
  for (TIEPixelFormat f : {ie16g, ieRGB48})
    for (int order : {1, 0}) {
      SCOPED_TRACE(testing::Message() << "format " << int(f) << " byte order " << order);
      TIEBitmap src;
      ASSERT_TRUE(src.Allocate(19, 11, f));
      const int n = f == ie16g ? 1 : 3;
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 19 * n; ++x) reinterpret_cast<uint16_t*>(src.GetRowAddress(y))[x] = Sample16(x, y, 0);
      TImageryIO out(&src);
      out.Params.TIFFByteOrder = order;
      out.Params.BitsPerSample = 16;
      out.Params.SamplesPerPixel = n;
      out.Params.TIFFCompression = 5;
      out.SaveByExtension(W(tq::WorkFile("own16.tif")));
      ASSERT_FALSE(out.Aborting);
      TIEBitmap back;
      TImageryIO in(&back);
      LoadNative(back, in, "own16.tif", true);
      ASSERT_FALSE(in.Aborting);
      ASSERT_EQ(back.GetPixelFormat(), f);
      EXPECT_EQ(in.Params.TIFFByteOrder, order);
      ExpectSamePixels(src, back);
    }
}

// Orientation 6 (stored turned a quarter) comes upright when asked, as PIL turns it when it loads a
// page; otherwise the
// page stays as stored and keeps its orientation.
TEST_F(TIFFReadOptions, OrientationTurnsThePageWhenAsked) {
  if (tq::RunHost("/usr/bin/python3 -c 'import PIL'") != 0) GTEST_SKIP() << "needs PIL";
  TIEBitmap pic;
  MakePicture(pic, 13, 7);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("o.ppm")));
  Host("pnmtotiff o.ppm > o.tif 2>/dev/null && tiffset -s 274 6 o.tif && "
       "/usr/bin/python3 -c \"from PIL import Image; Image.open('o.tif').convert('RGB').save('o_up.ppm')\"");
  for (bool adjust : {true, false}) {
    SCOPED_TRACE(adjust);
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.TIFFEnableAdjustOrientation = adjust;
    io.LoadByContent(W(tq::WorkFile("o.tif")));
    ASSERT_FALSE(io.Aborting);
    if (adjust) {
      EXPECT_EQ(io.Params.TIFFOrientation, 1);
      int w = 0, h = 0;
      std::vector<uint8_t> up;
      ASSERT_TRUE(ReadPPM(tq::WorkFile("o_up.ppm"), w, h, up));
      ASSERT_EQ(w, 7);
      EXPECT_EQ(RGBOf(b), up);
    } else {
      EXPECT_EQ(io.Params.TIFFOrientation, 6);
      ExpectSamePixels(pic, b);
    }
  }
}

// With colour management on, a page's embedded profile takes its colours to sRGB (a profile that
// swaps red and green shows it), as ImageMagick converts them; off, the samples stay as stored.
TEST_F(TIFFReadOptions, EmbeddedProfileConvertsWhenColourManagementIsOn) {
  const std::string swapped = "/usr/share/color/icc/colord/SwappedRedAndGreen.icc";
  const std::string srgb = "/usr/share/color/icc/sRGB.icc";
  if (tq::RunHost("test -r " + swapped + " && test -r " + srgb + " && test -x /usr/bin/convert") != 0)
    GTEST_SKIP() << "no test profiles";
  TIEBitmap pic;
  MakePicture(pic, 16, 10);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("icc_src.ppm")));
  // 8-bit samples, and 16-bit ones kept whole (their high bytes compared)
  Host("convert icc_src.ppm -profile " + swapped + " -compress lzw icc.tif && convert icc.tif -profile " + srgb +
       " -depth 8 icc_srgb.ppm && convert icc_src.ppm -depth 16 -profile " + swapped + " icc16.tif");
  int w = 0, h = 0;
  std::vector<uint8_t> ref;
  ASSERT_TRUE(ReadPPM(tq::WorkFile("icc_srgb.ppm"), w, h, ref));
  for (const char* file : {"icc.tif", "icc16.tif"})
    for (bool managed : {false, true}) {
      SCOPED_TRACE(std::string(file) + (managed ? " managed" : ""));
      IEApplyICCProfiles = managed;
      TIEBitmap b;
      TImageryIO io(&b);
      io.Params.IsNativePixelFormat = true;
      io.LoadByContent(W(tq::WorkFile(file)));
      IEApplyICCProfiles = false;
      ASSERT_FALSE(io.Aborting);
      EXPECT_EQ(io.Params.InputICCProfile.Applied, managed);
      std::vector<uint8_t> got;
      if (b.GetPixelFormat() == ieRGB48) {
        for (int y = 0; y < b.GetImageHeight(); ++y)
          for (int x = 0; x < 3 * b.GetImageWidth(); ++x) got.push_back(b.GetRowAddress(y)[2 * x + 1]);
      } else {
        got = RGBOf(b);
      }
      const std::vector<uint8_t> stored = RGBOf(pic);
      const std::vector<uint8_t>& expected = managed ? ref : stored;
      ASSERT_EQ(got.size(), expected.size());
      int worst = 0;
      for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(expected[i])));
      EXPECT_LE(worst, managed ? 3 : 1);
    }
}

// The reader's arguments: without parameters only the pages are counted; a thumbnail is at most 400
// pixels either way; the alpha sample goes to a mask the caller owns, or nowhere with IgnoreAlpha;
// offsets count from the stream's position, or from its start when the data say so.
TEST_F(TIFFReadOptions, ReaderArguments) {
  Host("ppmmake red 401 3 | pnmtotiff > wide.tif 2>/dev/null && ppmmake red 400 3 | pnmtotiff > fits.tif 2>/dev/null && "
       "tiffcp wide.tif fits.tif two.tif && convert -size 6x4 xc:'rgba(10,20,30,0.5)' -depth 8 rgba.tif");
  const std::vector<uint8_t> two = FileBytes(tq::WorkFile("two.tif"));
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  TIEBitmap b;
  TIEBitmap* alpha = nullptr;
  int pages = 0;
  {
    TIEMemStream s(two.data(), int64_t(two.size()));
    IETIFFRead(b, s, pages, nullptr, progress, false, alpha, true, false, false);
    EXPECT_EQ(pages, 2);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_FALSE(aborting);
  }
  auto params = std::make_unique<TIOParamsVals>(nullptr);
  for (int page : {0, 1}) {
    SCOPED_TRACE(page);
    // a TIFF behind 12 other bytes, its offsets counting from its own start
    std::vector<uint8_t> shifted(12 + two.size(), 0xAB);
    std::copy(two.begin(), two.end(), shifted.begin() + 12);
    TIEMemStream s(shifted.data(), int64_t(shifted.size()));
    s.SetPosition(12);
    params->TIFFImageIndex = page;
    aborting = false;
    IETIFFRead(b, s, pages, params.get(), progress, false, alpha, true, false, true);
    EXPECT_EQ(aborting, page == 0);  // 401 pixels wide is no thumbnail
    if (page == 1) {
      EXPECT_EQ(b.GetImageWidth(), 400);
    }
  }
  {
    // our writer behind 12 other bytes stores stream positions: offsets from the stream's start
    TIEMemoryStream s;
    const uint8_t junk[12] = {};
    s.Write(junk, 12);
    TIEBitmap pic;
    MakePicture(pic, 9, 5);
    TIOParamsVals wp(nullptr);
    ASSERT_EQ(IETIFFWrite(s, false, &pic, wp, progress), 1);
    params->TIFFImageIndex = 0;
    for (bool fromStart : {false, true}) {
      SCOPED_TRACE(fromStart);
      s.SetPosition(12);
      aborting = false;
      TIEBitmap back;
      IETIFFRead(back, s, pages, params.get(), progress, false, alpha, fromStart, false, false);
      if (fromStart) {
        EXPECT_TRUE(aborting || back.GetImageWidth() != 9);
      } else {
        ASSERT_FALSE(aborting);
        ExpectSamePixels(pic, back);
      }
    }
  }
  const std::vector<uint8_t> rgba = FileBytes(tq::WorkFile("rgba.tif"));
  for (bool ignore : {false, true}) {
    SCOPED_TRACE(ignore);
    TIEMemStream s(rgba.data(), int64_t(rgba.size()));
    params->TIFFImageIndex = 0;
    aborting = false;
    IETIFFRead(b, s, pages, params.get(), progress, false, alpha, true, ignore, false);
    ASSERT_FALSE(aborting);
    EXPECT_FALSE(b.AlphaPresent());
    ASSERT_EQ(alpha != nullptr, !ignore);
    if (alpha) {
      ASSERT_EQ(alpha->GetImageWidth(), 6);
      EXPECT_NEAR(alpha->GetByte(2, 2), 128, 1);
      delete alpha;
      alpha = nullptr;
    }
  }
}
