// Slide images: a 4:3 metafile of known rectangles written in every format this build has, each file
// decoded by an independent decoder on the host, at exactly the requested size with the right colours.
// The metafile's and the outputs' names hold Greek and Chinese, which no 8-bit code page holds both of.
#include "slide_image.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
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

using app_test::FilesIn;
using app_test::FromUtf8;
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
    metafile_ = FromUtf8(tq::WorkFile("slide_Ελλάδα_幻灯片.emf"));
    ASSERT_TRUE(presenter::ExportSlide(FourByThreeDeck(), 0, metafile_,
                                       presenter::MetafileFormat::Emf, 800, 600, error))
        << error;
  }
  app::GdiplusRuntime gdiplus_;
  static std::wstring metafile_;
};
std::wstring SlideImage::metafile_;

bool FileExists(const std::string& path) {
  return GetFileAttributesW(FromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TEST_F(SlideImage, EveryFormatDecodesAtTheRequestedSizeStretchedWithTheSlidesColours) {
  ASSERT_TRUE(gdiplus_.ok());
  const struct {
    int w, h;
  } sizes[] = {{640, 480}, {640, 640}, {4000, 3000}};
  for (const Format& f : kFormats) {
    for (const auto& size : sizes) {
      const std::string name = "Ελλάδα_幻灯片_" + std::to_string(size.w) + "x" + std::to_string(size.h) + f.ext;
      const std::string context = name;
      const std::string path = tq::WorkFile(name);
      DeleteFileW(FromUtf8(path).c_str());
      app::SaveSlideImage(metafile_, FromUtf8(path), size.w, size.h, 90, f.key);
      // Found under its exact name, by the host as well: nothing became a question mark on the way.
      ASSERT_TRUE(FileExists(path)) << context;

      char command[512];
      snprintf(command, sizeof command, f.toPpm, tq::ShellQuote(tq::UnixPath(path)).c_str());
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
      DeleteFileW(FromUtf8(path).c_str());
    }
  }
}

// Chinese text on a slide comes out in its own shapes, not as the empty boxes of a missing font: two
// lines of four different characters each, set alike, must differ in their ink (boxes would be the
// same shapes in both), and each must hold some.
TEST_F(SlideImage, ChineseTextRendersGlyphsNotBoxes) {
  presenter::Deck deck;
  presenter::SlideModel slide;
  slide.background = RGB(255, 255, 255);
  for (const auto& line : {std::make_pair(1.0, L"永和九年"), std::make_pair(4.0, L"岁在癸丑")}) {
    presenter::ShapeModel text = Box(1.0, line.first, 9.0, line.first + 2.0, RGB(255, 255, 255));
    text.hasFill = false;
    presenter::TextParagraph p;
    p.text = line.second;
    p.sizeHundredthPt = 4000;
    text.paragraphs.push_back(p);
    slide.shapes.push_back(text);
  }
  deck.slides.push_back(slide);
  const std::wstring metafile = FromUtf8(tq::WorkFile("chinese.emf"));
  std::string error;
  ASSERT_TRUE(presenter::ExportSlide(deck, 0, metafile, presenter::MetafileFormat::Emf, 800, 600, error)) << error;
  // 80 pixels per inch: the lines' boxes are 640 x 160 pixels at (80, 80) and (80, 320).
  app::SaveSlideImage(metafile, FromUtf8(tq::WorkFile("chinese.bmp")), 800, 600, 90, L"BMP");
  std::string output;
  ASSERT_EQ(tq::RunHost("/usr/bin/bmptoppm chinese.bmp > out.ppm", &output), 0) << output;
  Ppm ppm;
  ASSERT_TRUE(ReadPpm(tq::WorkFile("out.ppm"), ppm));
  auto ink = [&](int x, int y) { return GetGValue(ppm.At(x, y)) < 128; };
  int inkFirst = 0, inkSecond = 0, differ = 0;
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 640; ++x) {
      const bool a = ink(80 + x, 80 + y), b = ink(80 + x, 320 + y);
      inkFirst += a;
      inkSecond += b;
      differ += a != b;
    }
  ASSERT_GT(inkFirst, 500);
  ASSERT_GT(inkSecond, 500);
  EXPECT_GT(differ, (inkFirst + inkSecond) / 4) << "ink " << inkFirst << " and " << inkSecond;
}

// ".bmp" and ".rle" alike: an uncompressed Windows bitmap of 24 bits per pixel.
TEST_F(SlideImage, BmpAndRleAreUncompressedTwentyFourBitBitmaps) {
  for (const wchar_t* key : {L"BMP", L"RLE"}) {
    const std::string path = tq::WorkFile(key == std::wstring(L"BMP") ? "depth.bmp" : "depth.rle");
    app::SaveSlideImage(metafile_, FromUtf8(path), 64, 48, 90, key);
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
  const std::wstring path = FromUtf8(tq::WorkFile("nothing.out"));
  DeleteFileW(path.c_str());
  for (const wchar_t* key : {L"jpeg", L"Png", L"XYZ", L""}) {
    EXPECT_NO_THROW(app::SaveSlideImage(metafile_, path, 64, 48, 90, key));
    EXPECT_FALSE(FileExists(app_test::ToUtf8(path)));
  }
  EXPECT_THROW(app::SaveSlideImage(metafile_, path, 0, 48, 90, L"PNG"), ui::Exception);
  EXPECT_THROW(app::SaveSlideImage(metafile_, path, 64, -1, 90, L"PNG"), ui::Exception);
  EXPECT_THROW(app::SaveSlideImage(metafile_, path, app::kMaxSlideImageSide + 1, 48, 90, L"PNG"), ui::Exception);
  EXPECT_THROW(app::SaveSlideImage(FromUtf8(tq::WorkFile("missing.emf")), path, 64, 48, 90, L"PNG"), ui::Exception);
  EXPECT_FALSE(FileExists(app_test::ToUtf8(path)));
}

// Every object is made and freed per call: private bytes do not grow over a run of slides.
TEST_F(SlideImage, MemoryDoesNotGrowOverRepeatedCalls) {
  const std::wstring base = FromUtf8(tq::WorkFile("loop"));
  auto run = [&](int n) {
    for (int i = 0; i < n; ++i) {
      // TIFF is left out: Wine's TIFF encoder keeps about one image's worth of memory per save, while
      // the code path here is the same as for PNG.
      const Format& f = kFormats[i % 3];
      app::SaveSlideImage(metafile_, base + FromUtf8(f.ext), 1024, 768, 90, f.key);
    }
  };
  run(8);  // settle caches of GDI+ and the heap
  const uint64_t before = app_test::PrivateBytes();
  run(30);
  const uint64_t after = app_test::PrivateBytes();
  ASSERT_GT(before, 0u);
  // One 1024 x 768 bitmap is 2.25 MiB; a leak of one per call would pass 60 MiB.
  EXPECT_LT(after, before + 4 * 1024 * 1024) << "before " << before << " after " << after;
}

// On every road a write that cannot be made is an error naming the output with the system's reason,
// not a slide done: a folder gone, an output held open without sharing by another program. The held
// file keeps what it had and no temporary file stays behind.
TEST_F(SlideImage, FailedWritesNameTheFileAndTheReason) {
  const std::string folder = app_test::FreshFolder("failing");
  auto messageOf = [&](const std::string& path, const wchar_t* key) {
    try {
      app::SaveSlideImage(metafile_, FromUtf8(path), 64, 48, 90, key);
    } catch (const ui::Exception& e) {
      return e.Message();
    }
    return std::string("<no error>");
  };
  std::vector<std::string> held;
  for (const Format& f : kFormats) {
    // The image library asks the platform for its temporary name, which gives its own reason.
    const std::string gone = folder + "\\gone\\s" + f.ext;
    const std::string named = "Cannot create file \"" + gone + "\". ";
    const std::string message = messageOf(gone, f.key);
    EXPECT_EQ(message.substr(0, named.size()), named);
    EXPECT_GT(message.size(), named.size() + 4) << message;
    if (app::EncoderForKey(f.key) != app::SlideEncoder::ImageLibrary) {
      EXPECT_EQ(message, named + ui::SysErrorMessage(ERROR_PATH_NOT_FOUND));
    }
    const std::string locked = folder + "\\locked" + f.ext;
    ASSERT_TRUE(tq::WriteFileBytes(locked, "held", 4));
    HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(messageOf(locked, f.key),
              "Cannot create file \"" + locked + "\". " + ui::SysErrorMessage(ERROR_SHARING_VIOLATION));
    CloseHandle(h);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(tq::ReadFileBytes(locked, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "held") << f.ext;
    held.push_back(std::string("locked") + f.ext);
  }
  std::sort(held.begin(), held.end());
  EXPECT_EQ(FilesIn(folder), held);
}

// A plain white slide at 5120 x 3840 is 19.7 million pixels of one colour: as GIF it stays white.
TEST_F(SlideImage, LargeWhiteSlideStaysWhiteAsGif) {
  presenter::Deck deck;
  deck.cx = 9144000;
  deck.cy = 6858000;
  presenter::SlideModel slide;
  slide.background = RGB(255, 255, 255);
  deck.slides.push_back(slide);
  const std::wstring metafile = FromUtf8(tq::WorkFile("white.emf"));
  std::string error;
  ASSERT_TRUE(presenter::ExportSlide(deck, 0, metafile, presenter::MetafileFormat::Emf, 800, 600, error)) << error;
  app::SaveSlideImage(metafile, FromUtf8(tq::WorkFile("white.gif")), 5120, 3840, 90, L"GIF");
  std::string output;
  // A picture of white alone comes out of the decoder as a bitmap: ppmtoppm makes it colour.
  ASSERT_EQ(tq::RunHost("/usr/bin/giftopnm white.gif | /usr/bin/ppmtoppm > out.ppm", &output), 0) << output;
  Ppm ppm;
  ASSERT_TRUE(ReadPpm(tq::WorkFile("out.ppm"), ppm));
  ASSERT_EQ(ppm.width, 5120);
  ASSERT_EQ(ppm.height, 3840);
  const size_t notWhite = size_t(std::count_if(ppm.rgb.begin(), ppm.rgb.end(), [](unsigned char v) { return v != 255; }));
  EXPECT_EQ(notWhite, 0u) << "first pixel " << std::hex << ppm.At(0, 0);
  DeleteFileW(FromUtf8(tq::WorkFile("white.gif")).c_str());
}
