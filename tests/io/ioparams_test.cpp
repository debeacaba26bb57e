// The parameters across loads and saves: what one file's reader took never reaches a later save,
// writers leave the caller's parameters as they were, and sizes a format cannot hold are refused
// before the target is touched. Every outcome is judged by the host's own decoders.
#include "imageryio.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "hostenv.h"
#include "iotest_util.h"

using namespace iotest;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// PIL's view of a file: size, mode, the plain entries of its info and a digest of its RGBA pixels.
const char kDescribe[] =
    "import sys, hashlib\n"
    "from PIL import Image\n"
    "im = Image.open(sys.argv[1])\n"
    "print(im.size, im.mode, sorted((k, v) for k, v in im.info.items() if isinstance(v, (str, int, tuple))))\n"
    "print(hashlib.md5(im.convert('RGBA').tobytes()).hexdigest())\n";

// What an independent decoder says of a file: "pil", "tiffinfo" or "opj".
std::string Describe(const std::string& decoder, const std::string& file) {
  if (decoder == "tiffinfo") return HostOutput("/usr/bin/tiffinfo " + file + " 2>&1");
  if (decoder == "opj") return HostOutput("/usr/bin/opj_dump -i " + file + " 2>&1");
  return HostOutput("/usr/bin/python3 describe.py " + file);
}

// The fixtures, written by PIL and ImageMagick: each keeps "as read" state of its format.
class ParamsAcrossFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!tq::UnderWine()) return;
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("describe.py"), kDescribe, sizeof kDescribe - 1));
    const std::string make =
        "from PIL import Image, TiffImagePlugin\n"
        "rgb = Image.new('RGB', (6, 6))\n"
        "rgb.putdata([((x * 40) % 256, (y * 50) % 256, 0 if (x + y) % 3 else 255) if x % 4 else (0, 0, 0)\n"
        "             for y in range(6) for x in range(6)])\n"
        "rgb.save('colour.png')\n"
        "rgb.save('colour.bmp')\n"
        "g = Image.new('P', (6, 6))\n"
        "g.putpalette([0, 0, 0, 255, 0, 0] + [9] * 762)\n"
        "g.putdata([0] * 35 + [1])\n"
        "g.save('transparent.gif', transparency=0)\n"
        "Image.new('L', (6, 6), 90).save('grey.jpg')\n"
        "Image.new('L', (6, 6), 90).save('grey.tga')\n"
        "Image.new('L', (6, 6), 90).save('grey.jp2')\n"
        "p = Image.new('P', (20, 10))\n"
        "p.putpalette([(i * 37) % 256 for i in range(600)] + [0] * 168)\n"
        "p.putdata([(x + 20 * y) % 200 for y in range(10) for x in range(20)])\n"
        "p.save('c200.gif')\n"
        "info = TiffImagePlugin.ImageFileDirectory_v2()\n"
        "info[297] = (2, 5)\n"
        "info[285] = 'first page'\n"
        "info[286] = 3.0\n"
        "info[287] = 2.0\n"
        "rgb.save('paged.tif', tiffinfo=info)\n";
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("make.py"), make.data(), make.size()));
    Host("/usr/bin/python3 make.py");
    Host("/usr/bin/convert colour.png -interlace PNG -set comment 'first file' inter.png");
    Host("/usr/bin/convert colour.png BMP2:core.bmp");
  }
};

// Load A, load B, save: the file equals a fresh component's save of B to the host's decoder.
struct ReadStateCase {
  const char* name;
  const char* first;   // the file whose state must not travel on
  const char* second;  // the file that is saved
  const char* ext;     // format of the save
  const char* decoder;
};
const ReadStateCase kReadStateCases[] = {
    {"gif_transparency", "transparent.gif", "colour.png", "gif", "pil"},
    {"jpeg_grey", "grey.jpg", "colour.png", "jpg", "pil"},
    {"tga_grey", "grey.tga", "c200.gif", "tga", "pil"},
    {"tiff_page_and_position", "paged.tif", "colour.png", "tif", "tiffinfo"},
    {"jp2_grey", "grey.jp2", "colour.png", "jp2", "opj"},
    {"png_interlace_and_text", "inter.png", "colour.bmp", "png", "pil"},
    {"bmp_core_header", "core.bmp", "colour.png", "bmp", "pil"},
};

TEST_F(ParamsAcrossFiles, EveryLoadStartsFromTheDefaults) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's decoders";
  for (const ReadStateCase& c : kReadStateCases) {
    SCOPED_TRACE(c.name);
    const std::string reused = std::string("reused_") + c.name + "." + c.ext;
    const std::string fresh = std::string("fresh_") + c.name + "." + c.ext;
    TIEBitmap a, b;
    TImageryIO io(&a);
    io.LoadByExtension(W(tq::WorkFile(c.first)));
    ASSERT_FALSE(io.Aborting) << c.first;
    io.LoadByExtension(W(tq::WorkFile(c.second)));
    ASSERT_FALSE(io.Aborting) << c.second;
    io.SaveByExtension(W(tq::WorkFile(reused)));
    ASSERT_FALSE(io.Aborting);
    TImageryIO once(&b);
    once.LoadByExtension(W(tq::WorkFile(c.second)));
    once.SaveByExtension(W(tq::WorkFile(fresh)));
    ASSERT_FALSE(once.Aborting);
    EXPECT_EQ(Describe(c.decoder, reused), Describe(c.decoder, fresh));
  }
}

TEST_F(ParamsAcrossFiles, ReadWarningsBelongToTheirFile) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's fixtures";
  std::vector<unsigned char> gif;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("c200.gif"), gif));
  gif.resize(gif.size() * 9 / 10);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("cut.gif"), gif.data(), gif.size()));
  TIEBitmap bmp;
  TImageryIO io(&bmp);
  io.LoadByExtension(W(tq::WorkFile("cut.gif")));
  EXPECT_FALSE(io.Params.GIFWarning.empty());
  io.LoadByExtension(W(tq::WorkFile("colour.png")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_TRUE(io.Params.GIFWarning.empty());
}

// The fields writers used to store their own choices in, with the general ones around them.
std::string ParamsDigest(const TIOParamsVals& p) {
  std::ostringstream s;
  s << p.BitsPerSample << ' ' << p.SamplesPerPixel << ' ' << p.DpiX << ' ' << p.DpiY << ' ' << p.ColorMapCount
    << ' ' << p.ColorMap.size() << ' ' << p.TIFFCompression << ' ' << p.TIFFPhotometric << ' '
    << int(p.J2000ColorSpace) << ' ' << p.GIFFlagTranspColor << ' ' << p.GIFXPos << ' ' << p.GIFYPos << ' '
    << p.TGACompressed << ' ' << p.TGAGrayLevel << ' ' << int(p.JPEGColorSpace) << ' ' << int(p.PDFCompression)
    << ' ' << int(p.PSCompression) << ' ' << int(p.BMPVersion) << ' ' << int(p.BMPCompression) << ' '
    << p.PCXVersion << ' ' << int(p.PCXCompression) << ' ' << p.ICOSizes[0].Width << ' ' << p.ICOBitCount[0]
    << ' ' << p.ImageCount << ' ' << p.FileType;
  for (const TIERGB& c : p.ColorMap) s << ' ' << int(c.r) << ',' << int(c.g) << ',' << int(c.b);
  s << " markers";
  for (int i = 0; i < p.JPEGMarkerList.Count(); ++i) s << ' ' << p.JPEGMarkerList.GetMarkerType(i);
  return s.str();
}

// One writer, the parameters it is given and an image that once made it store its choice back.
struct WriterCase {
  const char* ext;
  const char* decoder;  // of the next save; nullptr: compared as bytes (no host reader)
  std::function<void(TIOParamsVals&)> settings;
  std::function<void(TIEBitmap&)> image;
};

void OneBit(TIEBitmap& b) {
  b.Allocate(19, 5, ie1g);
  for (int y = 0; y < 5; ++y)
    for (int i = 0; i < b.GetRowLength(); ++i) b.GetRowAddress(y)[i] = uint8_t(0xA5 ^ (y * 17));
}
void WithAlpha(TIEBitmap& b) {
  MakePicture(b, 12, 9);
  TIEBitmap* a = b.GetAlphaChannel();
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) a->GetRowAddress(y)[x] = x < 4 ? 0 : 255;
  a->IsAll255 = false;
}
void Plain(TIEBitmap& b) { MakePicture(b, 12, 9); }
void Grey(TIEBitmap& b) {
  MakePicture(b, 12, 9);
  b.SetPixelFormat(ie8g);
}

TEST_F(ParamsAcrossFiles, WritersLeaveTheParametersAsTheyWere) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's decoders";
  auto none = [](TIOParamsVals&) {};
  auto palette8 = [](TIOParamsVals& p) {
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
  };
  const WriterCase kCases[] = {
      {"jp2", "opj", none, OneBit},
      {"gif", "pil", none, WithAlpha},
      {"tga", "pil", none, WithAlpha},
      {"tga", "pil", palette8, Plain},
      {"tif", "tiffinfo", [](TIOParamsVals& p) { p.BitsPerSample = 16; p.SamplesPerPixel = 1; }, Plain},
      {"tif", "tiffinfo", [](TIOParamsVals& p) { p.TIFFCompression = 7; p.TIFFPhotometric = 6; }, Grey},
      {"bmp", "pil", palette8, Plain},
      {"ico", "pil", none, OneBit},
      {"pcx", "pil", palette8, Plain},
      {"png", "pil", palette8, WithAlpha},
      {"ppm", "pil", none, OneBit},
      {"psd", "pil", none, Plain},
      {"jpg", "pil", [](TIOParamsVals& p) {
         const uint8_t text[] = "second";
         p.JPEGMarkerList.AddMarker(0xFE, text, 6);
         p.JPEGMarkerList.AddMarker(0xE2, text, 6);
         p.JPEGColorSpace = 1;
       }, Plain},
      {"pdf", nullptr, [](TIOParamsVals& p) { p.PDFCompression = 4; p.JPEGColorSpace = 3; }, OneBit},
      {"ps", nullptr, [](TIOParamsVals& p) { p.PSCompression = 3; p.JPEGColorSpace = 4; }, Plain},
  };
  int row = 0;
  for (const WriterCase& c : kCases) {
    const std::string tag = std::to_string(row++) + "." + c.ext;
    SCOPED_TRACE(tag);
    TIEBitmap first, second;
    c.image(first);
    Plain(second);
    TImageryIO io(&first);
    c.settings(io.Params);
    io.Params.FileType = IEFileTypeOfExtension(c.ext);  // the one field a save sets
    const std::string before = ParamsDigest(io.Params);
    io.SaveByExtension(W(tq::WorkFile("first" + tag)));
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(ParamsDigest(io.Params), before);

    // the next save of another image is the one a fresh component with the same settings makes
    io.AttachBitmap(&second);
    io.SaveByExtension(W(tq::WorkFile("next" + tag)));
    ASSERT_FALSE(io.Aborting);
    TImageryIO fresh(&second);
    c.settings(fresh.Params);
    fresh.SaveByExtension(W(tq::WorkFile("fresh" + tag)));
    ASSERT_FALSE(fresh.Aborting);
    if (c.decoder) { EXPECT_EQ(Describe(c.decoder, "next" + tag), Describe(c.decoder, "fresh" + tag)); }
  }
}

// Sizes the format's fields cannot state: refused, the old file keeps its bytes, no temporary file.
struct SizeCase {
  const char* file;
  int w, h;
  std::function<void(TIOParamsVals&)> settings;
};

TEST(WriterLimits, SizesAFormatCannotHoldAreRefusedBeforeTheTargetIsTouched) {
  auto none = [](TIOParamsVals&) {};
  const SizeCase kCases[] = {
      {"wide.gif", 70000, 1, none},
      {"tall.gif", 1, 65536, none},
      {"placed.gif", 65000, 1, [](TIOParamsVals& p) { p.GIFXPos = 600; }},
      {"wide.psd", 30001, 1, none},
      {"tall.psd", 1, 40000, none},
      {"wide.tga", 65536, 1, none},
      {"wide.pcx", 65536, 1, none},
      {"wide.jpg", 65501, 1, none},
      {"core.bmp", 65536, 1, [](TIOParamsVals& p) { p.BMPVersion = 2; }},
  };
  const std::string old = "bytes of an earlier save";
  const int temporaryBefore = TemporaryFiles();
  for (const SizeCase& c : kCases) {
    SCOPED_TRACE(c.file);
    TIEBitmap big;
    ASSERT_TRUE(big.Allocate(c.w, c.h, ie24RGB));
    big.Fill(0);
    const std::string path = tq::WorkFile(c.file);
    ASSERT_TRUE(tq::WriteFileBytes(path, old.data(), old.size()));
    TImageryIO io(&big);
    c.settings(io.Params);
    io.SaveByExtension(W(path));
    EXPECT_TRUE(io.Aborting);
    std::vector<unsigned char> now;
    ASSERT_TRUE(tq::ReadFileBytes(path, now));
    EXPECT_EQ(std::string(now.begin(), now.end()), old);
    EXPECT_EQ(TemporaryFiles(), temporaryBefore) << "a temporary file stayed";
  }
}

}  // namespace
