// Telling TIFF, camera raw and HD Photo streams apart, and rewriting a TIFF structure's metadata.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "tifcontainer.h"
#include "tifdecode.h"

using namespace iotest;
using namespace misctest;

namespace {

// One entry of a hand-made first directory: a value of up to 4 bytes, inline.
struct TEntrySpec {
  uint16_t tag, type;
  uint32_t count, value;
};

// A TIFF header and a first directory at offset 8 holding `entries` (in the given byte order), padded
// with zeros to `size` bytes at least.
std::vector<uint8_t> HandMade(bool bigEndian, const std::vector<TEntrySpec>& entries, size_t size = 64) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * (bigEndian ? n - 1 - i : i))));
  };
  b.push_back(bigEndian ? 'M' : 'I');
  b.push_back(bigEndian ? 'M' : 'I');
  put(42, 2);
  put(8, 4);
  put(uint32_t(entries.size()), 2);
  for (const TEntrySpec& e : entries) {
    put(e.tag, 2);
    put(e.type, 2);
    put(e.count, 4);
    if (e.type == 3 && e.count == 1) put(e.value, 2), put(0, 2);  // a SHORT sits at the entry's start
    else put(e.value, 4);
  }
  put(0, 4);
  if (b.size() < size) b.resize(size, 0);
  return b;
}

struct TAnswers {
  bool tiff, raw, hdPhoto;
};

TAnswers Ask(const std::vector<uint8_t>& bytes) {
  TIEMemStream s(bytes.data(), int64_t(bytes.size()));
  s.SetPosition(0);
  TAnswers a{IETIFFTest(s), IETIFFCameraRAWTest(s), IEHDPhotoTest(s)};
  EXPECT_EQ(s.GetPosition(), 0);
  return a;
}

class TIFFContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/tiffcp && test -x /usr/bin/exiftool") != 0)
      GTEST_SKIP() << "needs wine with libtiff tools and exiftool";
  }
};

TEST_F(TIFFContainer, StreamsAreToldApart) {
  // files the host's tools wrote: a TIFF in both byte orders whose byte 8 is 0xBA, and HD Photo
  TIEBitmap pic;
  MakePicture(pic, 20, 10);
  pic.GetRowAddress(0)[2] = 0xBA;  // the first pixel's red: the first data byte
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("pic.ppm")));
  Host("pnmtotiff -truecolor pic.ppm > le.tif 2>/dev/null && tiffcp -B le.tif be.tif && ppmtobmp -bpp 24 pic.ppm > pic.bmp 2>/dev/null"
       " && JxrEncApp -i pic.bmp -o pic.wdp >/dev/null 2>&1");
  const std::vector<uint8_t> le = FileBytes(tq::WorkFile("le.tif")), be = FileBytes(tq::WorkFile("be.tif"));
  ASSERT_TRUE(le.size() > 8 && be.size() > 8);
  ASSERT_EQ(le[8], 0xBA);
  ASSERT_EQ(be[8], 0xBA);
  const std::vector<TEntrySpec> size160 = {{256, 3, 1, 160}, {257, 3, 1, 120}, {330, 4, 1, 100}, {37398, 1, 4, 0x00000001}};
  std::vector<TEntrySpec> size640 = size160;
  size640[0].value = 640, size640[1].value = 480;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    TAnswers want;
  } cases[] = {
      {"8 bytes", std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0}, {false, false, false}},
      {"little-endian TIFF", le, {true, false, false}},
      {"big-endian TIFF with 0xBA at 8", be, {false, false, false}},
      {"DNG", HandMade(false, {{256, 3, 1, 64}, {257, 3, 1, 48}, {50706, 1, 4, 0x00000401}}), {true, true, false}},
      {"colour filter array", HandMade(true, {{256, 4, 1, 64}, {257, 4, 1, 48}, {262, 3, 1, 32803}}), {true, true, false}},
      {"linear raw", HandMade(false, {{256, 4, 1, 64}, {257, 4, 1, 48}, {262, 3, 1, 34892}}), {true, true, false}},
      {"TIFF/EP 160 x 120 preview", HandMade(false, size160), {true, true, false}},
      {"TIFF/EP 640 x 480", HandMade(false, size640), {true, false, false}},
      {"no image size", HandMade(false, {{262, 3, 1, 2}}), {false, false, false}},
      {"directory past the end", std::vector<uint8_t>{'I', 'I', 42, 0, 200, 0, 0, 0, 0, 0}, {false, false, false}},
      {"HD Photo", FileBytes(tq::WorkFile("pic.wdp")), {false, false, true}},
      {"big-endian HD Photo tags", HandMade(true, {{0xBC80, 4, 1, 1}, {0xBC81, 4, 1, 1}, {0xBC01, 1, 4, 0}, {0xBCC0, 4, 1, 9}, {0xBCC1, 4, 1, 9}}),
       {false, false, false}},
  };
  for (auto& c : cases) {
    ASSERT_FALSE(c.bytes.empty()) << c.what;
    const TAnswers a = Ask(c.bytes);
    EXPECT_EQ(a.tiff, c.want.tiff) << c.what;
    EXPECT_EQ(a.raw, c.want.raw) << c.what;
    EXPECT_EQ(a.hdPhoto, c.want.hdPhoto) << c.what;
  }
}

// The metadata of one page of a three-page file is rewritten; the other pages and every page's
// pixels stay as they were.
TEST_F(TIFFContainer, UpdateTagsChangesOnePage) {
  TIEBitmap a, b, c;
  MakePicture(a, 30, 20);
  MakePicture(b, 25, 15, 20);
  MakePicture(c, 40, 10);
  ASSERT_TRUE(WritePPM(a, tq::WorkFile("a.ppm")));
  ASSERT_TRUE(WritePPM(b, tq::WorkFile("b.ppm")));
  ASSERT_TRUE(WritePPM(c, tq::WorkFile("c.ppm")));
  Host("for f in a b c; do pnmtotiff -lzw $f.ppm > $f.tif 2>/dev/null; done"
       " && exiftool -q -overwrite_original -Artist=Kept -Make=Old b.tif && tiffcp a.tif b.tif c.tif three.tif"
       " && tiffcp -B three.tif threebe.tif");
  const std::vector<uint8_t> three = FileBytes(tq::WorkFile("three.tif"));
  TIOParamsVals p(nullptr);
  p.HasExifData = true;
  p.ExifMake = "New make";
  p.ExifCopyright = "Mine";
  p.SetExifFNumber(4);
  p.GPSVersionID = "2.2.0.0";
  p.GPSLatitudeRef = "N";
  p.GPSLatitude[0] = 45;

  TIEMemStream in(three.data(), int64_t(three.size()));
  TIEMemoryStream out;
  ASSERT_TRUE(IETIFFUpdateTags(&in, &out, L"", p, 1, L""));
  const std::vector<uint8_t> bytes = StreamBytes(out);
  tq::WriteFileBytes(tq::WorkFile("updated.tif"), bytes.data(), bytes.size());

  const std::string script =
      "from PIL import Image\n"
      "import sys\n"
      "im = Image.open('updated.tif')\n"
      "for i, ppm in enumerate(['a.ppm', 'b.ppm', 'c.ppm']):\n"
      "    im.seek(i)\n"
      "    e = im.getexif()\n"
      "    x = e.get_ifd(0x8769)\n"
      "    g = e.get_ifd(0x8825)\n"
      "    same = im.convert('RGB').tobytes() == Image.open(ppm).convert('RGB').tobytes()\n"
      "    print(i, e.get(271), e.get(315), e.get(33432), float(x.get(33437, 0)), g.get(1), float(g[2][0]) if 2 in g else None, same)\n";
  tq::WriteFileBytes(tq::WorkFile("pages.py"), script.data(), script.size());
  std::string out1;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 pages.py", &out1), 0) << out1;
  EXPECT_EQ(out1,
            "0 None None None 0.0 None None True\n"
            "1 New make Kept Mine 4.0 N 45.0 True\n"
            "2 None None None 0.0 None None True\n");
  std::string out2;
  EXPECT_EQ(tq::RunHost("tiffinfo -D updated.tif > /dev/null", &out2), 0) << out2;

  // a big-endian target and a missing file are refused
  const std::vector<uint8_t> be = FileBytes(tq::WorkFile("threebe.tif"));
  TIEMemStream inBE(be.data(), int64_t(be.size()));
  TIEMemoryStream outBE;
  EXPECT_FALSE(IETIFFUpdateTags(&inBE, &outBE, L"", p, 1, L""));
  EXPECT_FALSE(IETIFFUpdateTags(nullptr, nullptr, W(tq::WorkFile("missing.tif")), p, 0, W(tq::WorkFile("never.tif"))));
}

}  // namespace
