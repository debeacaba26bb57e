// Headerless raw pixel data against ImageMagick's raw output, and the metafile content tests on
// metafiles that GDI draws.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iemetafile.h"
#include "imageryio.h"
#include "misc_util.h"

using namespace iotest;
using namespace misctest;

namespace {

struct RawSetup {
  int width, height;
  TIEPixelFormat format;
  int headerSize = 0, rowAlign = 8;
  uint8_t dataFormat = 0, planar = 0, channelOrder = 0;
};

// Loads `data` as raw pixels into a bitmap of the setup's size and format.
bool LoadRaw(TIEBitmap& b, const std::vector<uint8_t>& data, const RawSetup& r) {
  EXPECT_TRUE(b.Allocate(r.width, r.height, r.format));
  TImageryIO io(&b);
  io.Params.RawBitmapHeaderSize = r.headerSize;
  io.Params.RawBitmapRowAlign = r.rowAlign;
  io.Params.RawBitmapDataFormat = r.dataFormat;
  io.Params.RawBitmapPlanar = r.planar;
  io.Params.RawBitmapChannelOrder = r.channelOrder;
  TIEMemStream s(data.data(), int64_t(data.size()));
  io.LoadStreamAsFileType(s, iffRawBitmap);
  EXPECT_EQ(io.Params.FileType, iffRawBitmap);
  EXPECT_TRUE(io.Params.FileName.empty());
  return !io.Aborting;
}

}  // namespace

TEST(RawBitmap, ImageMagickRawDataEqualsItsSource) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  TIEBitmap src;
  MakePicture(src, 29, 13);
  ASSERT_TRUE(WritePPM(src, tq::WorkFile("raw_src.ppm")));
  Host("convert raw_src.ppm -depth 8 rgb:interleaved.rgb && convert raw_src.ppm -depth 8 -interlace plane rgb:planar.rgb && "
       "convert raw_src.ppm bmp3:raw_src.bmp");
  TIEBitmap b;
  ASSERT_TRUE(LoadRaw(b, FileBytes(tq::WorkFile("interleaved.rgb")), {29, 13, ie24RGB}));
  ExpectSamePixels(src, b);
  RawSetup planar{29, 13, ie24RGB};
  planar.planar = 1;
  ASSERT_TRUE(LoadRaw(b, FileBytes(tq::WorkFile("planar.rgb")), planar));
  ExpectSamePixels(src, b);
  // a 24-bit bitmap file: 54 header bytes, rows of B, G, R padded to 32 bits, bottom row first
  RawSetup bmp{29, 13, ie24RGB, 54, 32};
  bmp.channelOrder = 1;
  const std::vector<uint8_t> f = FileBytes(tq::WorkFile("raw_src.bmp"));
  ASSERT_EQ(f.size(), 54u + 13 * 88);
  ASSERT_TRUE(LoadRaw(b, f, bmp));
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 29; x += 7) EXPECT_TRUE(IESameRGB(b.GetPixelRGB(x, y), src.GetPixelRGB(x, 12 - y))) << x << "," << y;
}

TEST(RawBitmap, SixteenBitGreyFromImageMagick) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  const int w = 17, h = 5;
  std::string pgm = "P5\n17 5\n65535\n";
  for (int i = 0; i < w * h; ++i) {
    const uint16_t v = uint16_t(i * 771 + 5);
    pgm += char(v >> 8);
    pgm += char(v & 255);
  }
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("g16.pgm"), pgm.data(), pgm.size()));
  Host("convert g16.pgm -depth 16 -endian LSB gray:g16.raw");
  TIEBitmap b;
  ASSERT_TRUE(LoadRaw(b, FileBytes(tq::WorkFile("g16.raw")), {w, h, ie16g}));
  for (int i = 0; i < w * h; i += 6) EXPECT_EQ(b.GetWord(i % w, i / w), uint16_t(i * 771 + 5)) << i;
}

TEST(RawBitmap, TextDataLayoutsAndRefusals) {
  auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  TIEBitmap b;
  RawSetup dec{3, 1, ie8g};
  dec.dataFormat = 1;
  ASSERT_TRUE(LoadRaw(b, bytes("255, 0 and\n17"), dec));
  EXPECT_EQ(b.GetByte(0, 0), 255);
  EXPECT_EQ(b.GetByte(1, 0), 0);
  EXPECT_EQ(b.GetByte(2, 0), 17);
  RawSetup hex = dec;
  hex.dataFormat = 2;
  ASSERT_TRUE(LoadRaw(b, bytes("FF-00 x 11"), hex));
  EXPECT_EQ(b.GetByte(0, 0), 255);
  EXPECT_EQ(b.GetByte(2, 0), 17);
  RawSetup hex16{2, 1, ie16g};
  hex16.dataFormat = 2;
  ASSERT_TRUE(LoadRaw(b, bytes("ABCD 1"), hex16));
  EXPECT_EQ(b.GetWord(0, 0), 0xABCD);
  EXPECT_EQ(b.GetWord(1, 0), 1);
  // decimal RGB, file order kept
  RawSetup rgb{2, 1, ie24RGB};
  rgb.dataFormat = 1;
  rgb.channelOrder = 1;
  ASSERT_TRUE(LoadRaw(b, bytes("1 2 3 4 5 6"), rgb));
  EXPECT_EQ(b.GetRowAddress(0)[0], 1);
  EXPECT_EQ(b.GetRowAddress(0)[5], 6);
  // numbers for a 1-bit image: one a pixel, nothing beyond the row
  RawSetup bits{10, 2, ie1g};
  bits.dataFormat = 1;
  ASSERT_TRUE(b.Allocate(10, 2, ie1g));
  ASSERT_TRUE(LoadRaw(b, bytes("1 0 1 0 1 0 1 0 1 1  0 0 0 0 0 0 0 0 0 1"), bits));
  EXPECT_EQ(b.GetRowAddress(0)[0], 0xAA);
  EXPECT_EQ(b.GetRowAddress(0)[1] & 0xC0, 0xC0);
  EXPECT_EQ(b.GetRowAddress(1)[1] & 0xC0, 0x40);
  // 3 x 2 R, G, B bytes, planar and interleaved alike
  const std::vector<uint8_t> inter = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  std::vector<uint8_t> plane;
  for (int c = 0; c < 3; ++c)
    for (int p = 0; p < 6; ++p) plane.push_back(inter[size_t(p * 3 + c)]);
  TIEBitmap a, c;
  ASSERT_TRUE(LoadRaw(a, inter, {3, 2, ie24RGB}));
  RawSetup pl{3, 2, ie24RGB};
  pl.planar = 1;
  ASSERT_TRUE(LoadRaw(c, plane, pl));
  EXPECT_EQ(a.GetRowAddress(0)[0], 3);  // stored R, G, B: held as B, G, R
  EXPECT_EQ(a.GetRowAddress(1)[2], 10);
  ExpectSamePixels(a, c);

  struct Bad {
    RawSetup setup;
    std::vector<uint8_t> data;
  };
  RawSetup align0{3, 2, ie24RGB};
  align0.rowAlign = 0;
  RawSetup header{3, 2, ie24RGB};
  header.headerSize = 100;
  RawSetup lab{3, 2, ieCIELab};
  const Bad bad[] = {{align0, inter}, {header, inter}, {{3, 3, ie24RGB}, inter}, {dec, bytes("1 2")}, {lab, inter}};
  for (const Bad& x : bad) {
    TIEBitmap t;
    EXPECT_FALSE(LoadRaw(t, x.data, x.setup));
  }
  // truncated data of every size
  for (size_t n = 0; n < inter.size(); ++n) {
    TIEBitmap t;
    EXPECT_FALSE(LoadRaw(t, std::vector<uint8_t>(inter.begin(), inter.begin() + long(n)), {3, 2, ie24RGB})) << n;
  }
}

namespace {

std::vector<uint8_t> DrawnEMF() {
  const std::string path = tq::WorkFile("drawn.emf");
  HDC dc = CreateEnhMetaFileA(nullptr, path.c_str(), nullptr, "test\0\0");
  EXPECT_NE(dc, nullptr);
  Rectangle(dc, 1, 2, 30, 40);
  DeleteEnhMetaFile(CloseEnhMetaFile(dc));
  return FileBytes(path);
}

std::vector<uint8_t> DrawnWMF() {
  const std::string path = tq::WorkFile("drawn.wmf");
  HDC dc = CreateMetaFileA(path.c_str());
  EXPECT_NE(dc, nullptr);
  Rectangle(dc, 1, 2, 30, 40);
  Ellipse(dc, 3, 3, 20, 20);
  DeleteMetaFile(CloseMetaFile(dc));
  return FileBytes(path);
}

// The same metafile behind a placeable header.
std::vector<uint8_t> Placeable(const std::vector<uint8_t>& wmf) {
  std::vector<uint8_t> h(22, 0);
  IEWriteU32LE(&h[0], 0x9AC6CDD7u);
  IEWriteU16LE(&h[10], 30);
  IEWriteU16LE(&h[12], 40);
  IEWriteU16LE(&h[14], 1440);
  uint16_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum ^= IEReadU16LE(&h[size_t(i)]);
  IEWriteU16LE(&h[20], sum);
  h.insert(h.end(), wmf.begin(), wmf.end());
  return h;
}

// The tests at position 5 of a stream; the position must come back.
void Tests(const std::vector<uint8_t>& file, bool& emf, bool& wmf, TIEFileFormatCode& detected) {
  std::vector<uint8_t> data(5, 0x55);
  data.insert(data.end(), file.begin(), file.end());
  TIEMemStream s(data.data(), int64_t(data.size()));
  s.SetPosition(5);
  emf = IEEMFTest(s);
  EXPECT_EQ(s.GetPosition(), 5);
  wmf = IEWMFTest(s);
  EXPECT_EQ(s.GetPosition(), 5);
  TImageryIO io;
  detected = io.DetectStreamType(s);
  EXPECT_EQ(s.GetPosition(), 5);
}

}  // namespace

TEST(Metafiles, DrawnFilesAreRecognisedAndShortStreamsAreNot) {
  const std::vector<uint8_t> emf = DrawnEMF(), wmf = DrawnWMF(), placeable = Placeable(wmf);
  ASSERT_GT(emf.size(), 100u);
  ASSERT_GT(wmf.size(), 18u);
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    bool emf, wmf;
    TIEFileFormatCode type;
  };
  const Case cases[] = {
      {"emf", emf, true, false, iffEMF},
      {"wmf", wmf, false, true, iffWMF},
      {"placeable wmf", placeable, false, true, iffWMF},
      {"emf cut to 99 bytes", std::vector<uint8_t>(emf.begin(), emf.begin() + 99), false, false, 0},
      {"wmf cut to 17 bytes", std::vector<uint8_t>(wmf.begin(), wmf.begin() + 17), false, false, 0},
      {"placeable wmf cut in its header", std::vector<uint8_t>(placeable.begin(), placeable.begin() + 30), false, false, 0},
      {"empty", {}, false, false, 0},
  };
  for (const Case& c : cases) {
    bool e = false, w = false;
    TIEFileFormatCode t = -1;
    Tests(c.data, e, w, t);
    EXPECT_EQ(e, c.emf) << c.name;
    EXPECT_EQ(w, c.wmf) << c.name;
    EXPECT_EQ(t, c.type) << c.name;
  }
  // mutated metafiles: the tests never read beyond what they hold
  uint32_t seed = 77;
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1664525u + 1013904223u;
    std::vector<uint8_t> f = i % 3 == 0 ? emf : i % 3 == 1 ? wmf : placeable;
    if (i % 2) f.resize((seed >> 8) % f.size());
    else f[(seed >> 8) % f.size()] ^= uint8_t(seed >> 24 | 1);
    bool e, w;
    TIEFileFormatCode t;
    Tests(f, e, w, t);
  }
}
