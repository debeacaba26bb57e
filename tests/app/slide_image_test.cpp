// Slide images: a 4:3 metafile of known rectangles written in every format this build has, each file
// decoded by an independent decoder on the host, at exactly the requested size with the right colours.
#include "slide_image.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "gdiplus_runtime.h"
#include "host_decode.h"
#include "hostenv.h"
#include "slide_painter.h"
#include "uisysutils.h"
#include "vodevovur.h"

namespace {

using app_test::Near;
using app_test::Ppm;
using app_test::ReadPpm;

constexpr COLORREF kBackground = RGB(0x20, 0x30, 0x40);
constexpr COLORREF kRed = RGB(0xE0, 0x10, 0x10);
constexpr COLORREF kGreen = RGB(0x10, 0xC0, 0x10);
constexpr COLORREF kBlue = RGB(0x10, 0x10, 0xE0);

presenter::ShapeModel Box(double x0, double y0, double x1, double y1, COLORREF fill) {
  presenter::ShapeModel s;
  s.kind = presenter::ShapeModel::Rectangle;
  s.x = x0 * presenter::kEmuPerInch;
  s.y = y0 * presenter::kEmuPerInch;
  s.cx = (x1 - x0) * presenter::kEmuPerInch;
  s.cy = (y1 - y0) * presenter::kEmuPerInch;
  s.hasFill = true;
  s.fill = fill;
  return s;
}

// A 10 x 7.5 inch slide: red top left, green top right, a blue band along the bottom.
presenter::Deck FourByThreeDeck() {
  presenter::Deck deck;
  deck.cx = 9144000;
  deck.cy = 6858000;
  presenter::SlideModel slide;
  slide.background = kBackground;
  slide.shapes = {Box(0.5, 0.5, 4.5, 3.5, kRed), Box(5.5, 0.5, 9.5, 3.5, kGreen), Box(0.5, 4.5, 9.5, 7.0, kBlue)};
  deck.slides.push_back(slide);
  return deck;
}

// Samples as fractions of the output: the top and bottom ones land in the bars a letter-boxed square
// output would have.
struct Sample {
  double fx, fy;
  COLORREF expect;
  const char* what;
};
const Sample kSamples[] = {
    {0.25, 0.27, kRed, "red box"},        {0.75, 0.27, kGreen, "green box"},
    {0.50, 0.90, kBlue, "blue band"},     {0.50, 0.02, kBackground, "top edge"},
    {0.50, 0.53, kBackground, "between"}, {0.98, 0.98, kBackground, "bottom right corner"},
};

struct Format {
  const wchar_t* key;
  const char* ext;
  const char* toPpm;  // host command, %s = input, output is out.ppm
  int tolerance;
};
const Format kFormats[] = {
    {L"BMP", ".bmp", "/usr/bin/bmptoppm %s > out.ppm", 2},
    {L"JPEG", ".jpg", "/usr/bin/djpeg -pnm -outfile out.ppm %s", 24},
    {L"PNG", ".png",
     "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGB').save('out.ppm')\" %s", 2},
    {L"TIFF", ".tif", "/usr/bin/tifftopnm %s > out.ppm", 2},
    {L"GIF", ".gif", "/usr/bin/giftopnm %s > out.ppm", 16},
    {L"TGA", ".tga", "/usr/bin/tgatoppm %s > out.ppm", 2},
    {L"PCX", ".pcx", "/usr/bin/pcxtoppm %s > out.ppm", 2},
    {L"JP2", ".jp2", "/usr/bin/opj_decompress -quiet -i %s -o out.ppm", 24},
    {L"JP2K", ".j2k", "/usr/bin/opj_decompress -quiet -i %s -o out.ppm", 24},
    {L"RLE", ".rle", "/usr/bin/bmptoppm %s > out.ppm", 2},
};

class SlideImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    IELibraryStaticInit();
    std::string error;
    metafile_ = tq::WorkFile("slide.emf");
    ASSERT_TRUE(presenter::ExportSlide(FourByThreeDeck(), 0, std::wstring(metafile_.begin(), metafile_.end()),
                                       presenter::MetafileFormat::Emf, 800, 600, error))
        << error;
  }
  app::GdiplusRuntime gdiplus_;
  static std::string metafile_;
};
std::string SlideImage::metafile_;

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST_F(SlideImage, EveryFormatDecodesAtTheRequestedSizeStretchedWithTheSlidesColours) {
  ASSERT_TRUE(gdiplus_.ok());
  const struct {
    int w, h;
  } sizes[] = {{640, 480}, {640, 640}, {4000, 3000}};
  for (const Format& f : kFormats) {
    for (const auto& size : sizes) {
      const std::string name = "out_" + std::to_string(size.w) + "x" + std::to_string(size.h) + f.ext;
      const std::string context = name;
      const std::string path = tq::WorkFile(name);
      DeleteFileA(path.c_str());
      app::SaveSlideImage(metafile_, path, size.w, size.h, 90, f.key);
      ASSERT_TRUE(FileExists(path)) << context;

      char command[512];
      snprintf(command, sizeof command, f.toPpm, tq::ShellQuote(name).c_str());
      std::string output;
      ASSERT_EQ(tq::RunHost(command, &output), 0) << context << ": " << output;
      Ppm ppm;
      ASSERT_TRUE(ReadPpm(tq::WorkFile("out.ppm"), ppm)) << context;
      EXPECT_EQ(ppm.width, size.w) << context;
      EXPECT_EQ(ppm.height, size.h) << context;
      if (ppm.width != size.w || ppm.height != size.h) continue;
      for (const Sample& s : kSamples) {
        const int x = int(s.fx * size.w), y = int(s.fy * size.h);
        const COLORREF got = ppm.At(x, y);
        EXPECT_TRUE(Near(got, s.expect, f.tolerance))
            << context << " " << s.what << " at " << x << "," << y << ": got " << std::hex << got;
      }
      DeleteFileA(path.c_str());
    }
  }
}

// ".bmp" and ".rle" alike: an uncompressed Windows bitmap of 24 bits per pixel.
TEST_F(SlideImage, BmpAndRleAreUncompressedTwentyFourBitBitmaps) {
  for (const wchar_t* key : {L"BMP", L"RLE"}) {
    const std::string path = tq::WorkFile(key == std::wstring(L"BMP") ? "depth.bmp" : "depth.rle");
    app::SaveSlideImage(metafile_, path, 64, 48, 90, key);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(tq::ReadFileBytes(path, bytes));
    ASSERT_GT(bytes.size(), 34u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(bytes[28] | (bytes[29] << 8), 24);
    EXPECT_EQ(bytes[30] | bytes[31] << 8 | bytes[32] << 16 | bytes[33] << 24, 0) << "BI_RGB";
  }
}

// The quality is the JPEG encoder's one parameter: EncoderQuality, one Long value. (The encoder under
// Wine ignores it, so the parameter itself is what is checked.)
TEST_F(SlideImage, JpegQualityIsTheOneEncoderParameter) {
  for (int quality : {0, 50, 90, 100}) {
    const app::JpegQualityParameter param(quality);
    const Gdiplus::EncoderParameters* p = param.Get();
    ASSERT_EQ(p->Count, 1u);
    CLSID expected;
    ASSERT_EQ(CLSIDFromString(L"{1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}", &expected), S_OK);
    EXPECT_TRUE(IsEqualGUID(p->Parameter[0].Guid, expected));
    EXPECT_EQ(p->Parameter[0].NumberOfValues, 1u);
    EXPECT_EQ(p->Parameter[0].Type, 4u);
    EXPECT_EQ(*static_cast<const LONG*>(p->Parameter[0].Value), quality);
  }
}

TEST_F(SlideImage, EncodersAreFoundByExactMimeType) {
  CLSID clsid;
  for (const wchar_t* mime : {L"image/jpeg", L"image/png", L"image/tiff", L"image/bmp"})
    EXPECT_GE(app::FindEncoderByMime(mime, &clsid), 0) << "missing";
  for (const wchar_t* mime : {L"IMAGE/JPEG", L"image/jpe", L"image/x-none", L""})
    EXPECT_EQ(app::FindEncoderByMime(mime, &clsid), -1);
}

// Unknown keys write nothing quietly; bad sizes and a missing metafile raise instead of writing a
// blank or nothing.
TEST_F(SlideImage, KeysAndInputsThatWriteNothing) {
  const std::string path = tq::WorkFile("nothing.out");
  DeleteFileA(path.c_str());
  for (const wchar_t* key : {L"jpeg", L"Png", L"XYZ", L""}) {
    EXPECT_NO_THROW(app::SaveSlideImage(metafile_, path, 64, 48, 90, key));
    EXPECT_FALSE(FileExists(path));
  }
  EXPECT_THROW(app::SaveSlideImage(metafile_, path, 0, 48, 90, L"PNG"), ui::Exception);
  EXPECT_THROW(app::SaveSlideImage(metafile_, path, 64, -1, 90, L"PNG"), ui::Exception);
  EXPECT_THROW(app::SaveSlideImage(metafile_, path, app::kMaxSlideImageSide + 1, 48, 90, L"PNG"), ui::Exception);
  EXPECT_THROW(app::SaveSlideImage(tq::WorkFile("missing.emf"), path, 64, 48, 90, L"PNG"), ui::Exception);
  EXPECT_FALSE(FileExists(path));
}

// Every object is made and freed per call: private bytes do not grow over a run of slides.
TEST_F(SlideImage, MemoryDoesNotGrowOverRepeatedCalls) {
  auto privateBytes = [] {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
    // Wine leaves PrivateUsage at zero; the commit charge counts the same private pages there.
    return uint64_t(pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage);
  };
  const std::string base = tq::WorkFile("loop");
  auto run = [&](int n) {
    for (int i = 0; i < n; ++i) {
      // TIFF is left out: Wine's TIFF encoder keeps about one image's worth of memory per save, while
      // the code path here is the same as for PNG.
      const Format& f = kFormats[i % 3];
      app::SaveSlideImage(metafile_, base + f.ext, 1024, 768, 90, f.key);
    }
  };
  run(8);  // settle caches of GDI+ and the heap
  const uint64_t before = privateBytes();
  run(30);
  const uint64_t after = privateBytes();
  ASSERT_GT(before, 0u);
  // One 1024 x 768 bitmap is 2.25 MiB; a leak of one per call would pass 60 MiB.
  EXPECT_LT(after, before + 4 * 1024 * 1024) << "before " << before << " after " << after;
}

// An output file held open without sharing by another program is an error, not a slide done.
TEST_F(SlideImage, LockedOutputFileRaises) {
  for (const Format& f : kFormats) {
    const std::string path = tq::WorkFile(std::string("locked") + f.ext);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_THROW(app::SaveSlideImage(metafile_, path, 64, 48, 90, f.key), ui::Exception) << f.ext;
    CloseHandle(h);
  }
}
