// PNM and WBMP files against netpbm and PIL.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iepnm.h"
#include "iewbmp.h"
#include "imageryio.h"
#include "misc_util.h"

using namespace iotest;
using namespace misctest;

namespace {

// A plain ("P1" .. "P3") file that netpbm printed: its values.
struct PlainImage {
  char kind = 0;
  int width = 0, height = 0, maximum = 1;
  std::vector<int> values;  // per sample, top row first
};

PlainImage ReadPlain(const std::string& winPath) {
  std::vector<uint8_t> f = FileBytes(winPath);
  std::string text(f.begin(), f.end());
  std::string clean;
  for (size_t i = 0; i < text.size(); ++i) {  // comments out
    if (text[i] == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
    }
    if (i < text.size()) clean += text[i];
  }
  std::istringstream in(clean);
  PlainImage p;
  std::string magic;
  in >> magic >> p.width >> p.height;
  p.kind = magic.size() == 2 ? magic[1] : 0;
  if (p.kind != '1') in >> p.maximum;
  if (p.kind == '1') {  // digits may run together
    char c;
    while (in >> c)
      if (c == '0' || c == '1') p.values.push_back(c - '0');
  } else {
    int v;
    while (in >> v) p.values.push_back(v);
  }
  return p;
}

// The colour the codec gives a plain image's pixel: Trunc(v / maximum x 255); "P1" 1 = black.
TIERGB Expected(const PlainImage& p, int x, int y) {
  const size_t i = size_t(y) * p.width + x;
  if (p.kind == '1') return p.values[i] ? IEMakeRGB(0, 0, 0) : IEMakeRGB(255, 255, 255);
  auto s = [&](int v) { return uint8_t(int64_t(v) * 255 / p.maximum); };
  if (p.kind == '2') return IEMakeRGB(s(p.values[i]), s(p.values[i]), s(p.values[i]));
  return IEMakeRGB(s(p.values[3 * i]), s(p.values[3 * i + 1]), s(p.values[3 * i + 2]));
}

void ExpectPlainPixels(TIEBitmap& b, const PlainImage& p, const std::string& what) {
  ASSERT_EQ(b.GetImageWidth(), p.width) << what;
  ASSERT_EQ(b.GetImageHeight(), p.height) << what;
  ASSERT_EQ(p.values.size(), size_t(p.width) * p.height * (p.kind == '3' ? 3 : 1)) << what;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const TIERGB e = Expected(p, x, y), g = b.GetPixelRGB(x, y);
      if (!IESameRGB(e, g)) {
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(g.r) << " " << int(g.g) << " " << int(g.b)
                      << ", netpbm says " << int(e.r) << " " << int(e.g) << " " << int(e.b);
        return;
      }
    }
}

void Load(TIEBitmap& b, const std::string& name, TIEFileFormatCode type) {
  TImageryIO io(&b);
  io.LoadAsFileType(W(tq::WorkFile(name)), type);
  EXPECT_FALSE(io.Aborting) << name;
}

}  // namespace

TEST(PNMRead, NetpbmFilesOfEveryKindAndDepth) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  TIEBitmap src;
  MakePicture(src, 29, 13);
  ASSERT_TRUE(WritePPM(src, tq::WorkFile("src.ppm")));
  // each file is made by netpbm and printed back by netpbm as plain numbers
  const char* kFiles[][2] = {
      {"p6.ppm", "ppmtoppm < src.ppm > p6.ppm"},
      {"p3.ppm", "ppmtoppm -plain < src.ppm > p3.ppm"},
      {"p5.pgm", "ppmtopgm src.ppm > p5.pgm"},
      {"p2.pgm", "ppmtopgm -plain src.ppm > p2.pgm"},
      {"p4.pbm", "ppmtopgm src.ppm | pamditherbw -threshold | pamtopnm > p4.pbm"},
      {"p1.pbm", "ppmtopgm src.ppm | pamditherbw -threshold | pamtopnm -plain > p1.pbm"},
      {"p6_15.ppm", "pamdepth 15 src.ppm > p6_15.ppm"},
      {"p5_15.pgm", "ppmtopgm src.ppm | pamdepth 15 > p5_15.pgm"},
      {"p6_65535.ppm", "pamdepth 65535 src.ppm | pamfunc -multiplier=0.999 > p6_65535.ppm"},
      {"p5_65535.pgm", "ppmtopgm src.ppm | pamdepth 65535 | pamfunc -multiplier=0.97 > p5_65535.pgm"},
      {"p3_65535.ppm", "pamdepth 65535 src.ppm | pamfunc -multiplier=0.999 | pnmtoplainpnm > p3_65535.ppm"},
  };
  for (const auto& f : kFiles) {
    Host(f[1]);
    Host(std::string("pnmtoplainpnm ") + f[0] + " > " + f[0] + ".plain");
    TIEBitmap b;
    Load(b, f[0], iffPXM);
    ExpectPlainPixels(b, ReadPlain(tq::WorkFile(std::string(f[0]) + ".plain")), f[0]);
  }
}

TEST(PNMRead, HeaderEdgeCasesAndNativeSamples) {
  struct Case {
    const char* text;
    int width, height;
    std::vector<uint32_t> rgb;  // 0xRRGGBB of every pixel, or empty to expect Aborting
  };
  const Case cases[] = {
      {"P1 3 2 010111", 3, 2, {0xFFFFFF, 0x000000, 0xFFFFFF, 0, 0, 0}},
      {"P1\n3 2\n0 1\n0\n1 1\n1\n", 3, 2, {0xFFFFFF, 0x000000, 0xFFFFFF, 0, 0, 0}},
      {"P2 # a comment\n2 1 15\n15 7", 2, 1, {0xFFFFFF, 0x777777}},
      {"P5 2 1 15\n\x0f\x07", 2, 1, {0xFFFFFF, 0x777777}},
      {"P3 1 1 255 1 2 3", 1, 1, {0x010203}},
      {"P5 2 1 0\n\x01\x02", 0, 0, {}},           // maximum 0
      {"P6 2 1 70000\n123456789012", 0, 0, {}},  // maximum above 65535
      {"P7 2 1 255\n\x01\x02", 0, 0, {}},
      {"P5 0 1 255\n", 0, 0, {}},
      {"P5 20000 20000 255\n\x01\x02", 0, 0, {}},  // more than the file holds
      {"P2 3 1 255 1 2", 0, 0, {}},                // the raster ends early
  };
  for (const Case& c : cases) {
    const std::string t = c.text;
    TIEMemStream s(t.data(), int64_t(t.size()));
    TIEBitmap b;
    TImageryIO io(&b);
    io.LoadStreamAsFileType(s, iffPXM);
    if (c.rgb.empty()) {
      EXPECT_TRUE(io.Aborting) << t;
      EXPECT_LE(int64_t(b.GetImageWidth()) * b.GetImageHeight(), 8) << t;
      continue;
    }
    ASSERT_FALSE(io.Aborting) << t;
    ASSERT_EQ(b.GetImageWidth(), c.width) << t;
    ASSERT_EQ(b.GetImageHeight(), c.height) << t;
    for (int i = 0; i < c.width * c.height; ++i) {
      const TIERGB p = b.GetPixelRGB(i % c.width, i / c.width);
      EXPECT_EQ(uint32_t(p.r << 16 | p.g << 8 | p.b), c.rgb[size_t(i)]) << t << " pixel " << i;
    }
  }
  // 16-bit samples kept whole in native mode, in file order
  const char samples[] = {'\x12', '\x34', '\xAB', '\xCD', '\x00', '\x01'};
  const std::string wide = std::string("P6 1 1 65535\n") + std::string(samples, sizeof samples);
  TIEMemStream s(wide.data(), int64_t(wide.size()));
  TIEBitmap b;
  TImageryIO io(&b);
  io.Params.IsNativePixelFormat = true;
  io.LoadStreamAsFileType(s, iffPXM);
  ASSERT_FALSE(io.Aborting);
  ASSERT_EQ(b.GetPixelFormat(), ieRGB48);
  const TIERGB48 px = b.GetRGB48(0, 0);
  EXPECT_EQ(px.r, 0x1234);
  EXPECT_EQ(px.g, 0xABCD);
  EXPECT_EQ(px.b, 0x0001);
  EXPECT_EQ(io.Params.BitsPerSample, 16);
}

TEST(PNMWrite, OurFilesReadAlikeWithNetpbmAndPIL) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  TIEBitmap colour, bw;
  MakePicture(colour, 31, 17);
  MakePicture(bw, 31, 17, 2);
  bw.SetPixelFormat(ie1g);
  struct Case {
    const char* file;
    TIEBitmap* bitmap;
    int bits, samples;
    const char* magic;
  };
  const Case cases[] = {
      {"w4.pbm", &bw, 8, 3, "P4 "},  // an ie1g image is always P4
      {"w5.pgm", &colour, 8, 1, "P5 "},
      {"w6.ppm", &colour, 8, 3, "P6 "},
      {"w6_16.ppm", &colour, 16, 3, "P6 "},
  };
  for (const Case& c : cases) {
    TImageryIO io(c.bitmap);
    io.Params.BitsPerSample = c.bits;
    io.Params.SamplesPerPixel = c.samples;
    io.SaveByExtension(W(tq::WorkFile(c.file)));
    ASSERT_FALSE(io.Aborting) << c.file;
    std::vector<uint8_t> f = FileBytes(tq::WorkFile(c.file));
    ASSERT_GT(f.size(), 3u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 3), c.magic);
    TIEBitmap expected;
    expected.Assign(c.bitmap);
    if (c.samples == 1 && c.bits == 8)  // grey with the library's weights
      for (int y = 0; y < expected.GetImageHeight(); ++y)
        for (int x = 0; x < expected.GetImageWidth(); ++x) {
          const uint8_t g = uint8_t(IERGBToGray(expected.GetPixelRGB(x, y)));
          expected.SetRGB(x, y, IEMakeRGB(g, g, g));
        }
    // netpbm: to 8-bit plain numbers
    Host(std::string("pnmdepth 255 ") + c.file + " | pnmtoplainpnm > " + c.file + ".plain");
    PlainImage p = ReadPlain(tq::WorkFile(std::string(c.file) + ".plain"));
    ExpectPlainPixels(expected, p, c.file);
    // PIL: RGB bytes
    Host(std::string("/usr/bin/python3 -c \"from PIL import Image; import sys; "
                     "sys.stdout.buffer.write(Image.open('") + c.file + "').convert('RGB').tobytes())\" > " + c.file + ".pil");
    EXPECT_TRUE(FileBytes(tq::WorkFile(std::string(c.file) + ".pil")) == RGBOf(expected)) << c.file << " PIL disagrees";
  }
}

TEST(PNMWrite, CommentsRoundTrip) {
  const std::string file = "P6\n# first line\n#second  \n2 1\n255\nabcdef";
  TIEMemStream s(file.data(), int64_t(file.size()));
  TIEBitmap b;
  TImageryIO io(&b);
  io.LoadStreamAsFileType(s, iffPXM);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.PXMComments, (std::vector<std::string>{"first line", "second"}));
  TIEMemoryStream out;
  io.SaveStreamAsFileType(out, iffPXM);
  ASSERT_FALSE(io.Aborting);
  const char* m = static_cast<const char*>(out.Memory());
  EXPECT_EQ(std::string(m, size_t(out.GetSize())), "P6 \n# first line\n\n# second\n2 1 255\nabcdef");
}

TEST(WBMP, NetpbmFilesLoadAndNetpbmReadsOurs) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  TIEBitmap src;
  MakePicture(src, 53, 19, 2);
  ASSERT_TRUE(WritePPM(src, tq::WorkFile("wsrc.ppm")));
  Host("ppmtopgm wsrc.ppm | pamditherbw -threshold | pamtopnm > wsrc.pbm && pbmtowbmp wsrc.pbm > theirs.wbmp && "
       "pnmtoplainpnm wsrc.pbm > wsrc.plain");
  TIEBitmap theirs;
  Load(theirs, "theirs.wbmp", iffWBMP);
  ExpectPlainPixels(theirs, ReadPlain(tq::WorkFile("wsrc.plain")), "pbmtowbmp");

  TIEBitmap ours;
  MakePicture(ours, 200, 100, 2);
  ours.SetPixelFormat(ie1g);
  TImageryIO io(&ours);
  io.SaveByExtension(W(tq::WorkFile("ours.wbmp")));
  ASSERT_FALSE(io.Aborting);
  std::vector<uint8_t> f = FileBytes(tq::WorkFile("ours.wbmp"));
  ASSERT_EQ(f.size(), 5u + 100 * 25);
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 5), (std::vector<uint8_t>{0, 0, 0x81, 0x48, 0x64}));
  Host("wbmptopbm ours.wbmp | pnmtoplainpnm > ours.plain");
  ExpectPlainPixels(ours, ReadPlain(tq::WorkFile("ours.plain")), "wbmptopbm");
}

TEST(WBMP, LargeImagesAreScaledIntoTheLimitAndTheCallersBitmapStays) {
  TIEBitmap b;
  ASSERT_TRUE(b.Allocate(600, 300, ie24RGB));
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 600; ++x) b.SetRGB(x, y, x < 450 ? IEMakeRGB(0, 0, 0) : IEMakeRGB(255, 255, 255));
  TImageryIO io(&b);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffWBMP);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(b.GetImageWidth(), 600);
  EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
  s.SetPosition(0);
  TIEBitmap back;
  TImageryIO in(&back);
  in.LoadStreamAsFileType(s, iffWBMP);
  ASSERT_FALSE(in.Aborting);
  ASSERT_EQ(back.GetImageWidth(), 255);
  ASSERT_EQ(back.GetImageHeight(), 127);
  // scaled, not cut: the white quarter on the right is still there
  EXPECT_EQ(back.GetPixelRGB(250, 60).r, 255);
  EXPECT_EQ(back.GetPixelRGB(180, 60).r, 0);

  const uint8_t type1[] = {1, 0, 2, 2, 0, 0};
  TIEMemStream t(type1, sizeof type1);
  in.LoadStreamAsFileType(t, iffWBMP);
  EXPECT_TRUE(in.Aborting);
  const uint8_t huge[] = {0, 0, 0x8F, 0xFF, 0x7F, 0x8F, 0xFF, 0x7F, 0};  // 262143 x 262143 in one byte
  TIEMemStream h(huge, sizeof huge);
  in.LoadStreamAsFileType(h, iffWBMP);
  EXPECT_TRUE(in.Aborting);
  EXPECT_EQ(back.GetImageWidth(), 255);

  TIEBitmap nine;
  ASSERT_TRUE(nine.Allocate(9, 2, ie1g));
  TImageryIO n(&nine);
  TIEMemoryStream ns;
  n.SaveStreamAsFileType(ns, iffWBMP);
  EXPECT_EQ(ns.GetSize(), 4 + 2 * 2);  // rows of 2 bytes
  LimitedStream limited(6);
  n.SaveStreamAsFileType(limited, iffWBMP);
  EXPECT_TRUE(n.Aborting);
}

TEST(PNMAndWBMP, MutatedFilesNeverCrash) {
  TIEBitmap colour, bw;
  MakePicture(colour, 23, 11);
  MakePicture(bw, 23, 11, 2);
  bw.SetPixelFormat(ie1g);
  struct Variant {
    TIEBitmap* bitmap;
    TIEFileFormatCode type;
    int bits, samples;
  };
  const Variant variants[] = {{&colour, iffPXM, 8, 3}, {&colour, iffPXM, 16, 3}, {&colour, iffPXM, 8, 1},
                              {&bw, iffPXM, 1, 1}, {&bw, iffWBMP, 1, 1}};
  std::vector<std::vector<uint8_t>> files;
  for (const Variant& v : variants) {
    TImageryIO io(v.bitmap);
    io.Params.BitsPerSample = v.bits;
    io.Params.SamplesPerPixel = v.samples;
    io.Params.PXMComments = {"note"};
    TIEMemoryStream s;
    io.SaveStreamAsFileType(s, v.type);
    const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
    files.emplace_back(p, p + s.GetSize());
  }
  files.push_back(std::vector<uint8_t>({'P', '3', ' ', '4', ' ', '2', ' ', '9', ' '}));
  for (int i = 0; i < 24; ++i) files.back().push_back(uint8_t('0' + i % 10)), files.back().push_back(' ');
  for (size_t k = 0; k < files.size(); ++k)
    Mutate(files[k], 300, k < 4 || k == 5 ? iffPXM : iffWBMP);
}
