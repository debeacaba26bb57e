// PNG reading and writing, checked against the host's PIL, pnmtopng, ImageMagick and pngcheck.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"
#include "pngfilt.h"
#include "pngfiltw.h"

using namespace iotest;

namespace {

using misctest::FileBytes;
using misctest::W;

// R, G, B, A of every pixel; alpha 255 without an alpha channel.
std::vector<uint8_t> RGBAOf(TIEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      const TIERGB c = b.GetPixelRGB(x, y);
      out.push_back(c.r);
      out.push_back(c.g);
      out.push_back(c.b);
      out.push_back(b.AlphaPresent() ? b.GetAlphaAt(x, y) : 255);
    }
  return out;
}

// Index of the first differing pixel, -1 when equal.
int FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return int(i / 4);
  return -1;
}

// The lines of NAME.txt that png_dump.py wrote, as key -> value.
std::map<std::string, std::string> PILInfo(const std::string& name) {
  std::vector<uint8_t> t = FileBytes(tq::WorkFile(name + ".txt"));
  std::map<std::string, std::string> m;
  std::istringstream in(std::string(t.begin(), t.end()));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return m;
}

// Chunk data of the first chunk of that type.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& png, const char* type) {
  for (size_t i = 8; i + 12 <= png.size();) {
    const size_t len = IEReadU32BE(&png[i]);
    if (std::memcmp(&png[i + 4], type, 4) == 0 && i + 8 + len <= png.size())
      return std::vector<uint8_t>(png.begin() + long(i) + 8, png.begin() + long(i + 8 + len));
    i += 12 + len;
  }
  return {};
}

void AppendChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  uint8_t len[4] = {uint8_t(data.size() >> 24), uint8_t(data.size() >> 16), uint8_t(data.size() >> 8), uint8_t(data.size())};
  png.insert(png.end(), len, len + 4);
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  const uLong crc = crc32(0, &png[start], uInt(png.size() - start));
  const uint8_t c[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  png.insert(png.end(), c, c + 4);
}

bool ToolsHere() { return tq::UnderWine() && tq::RunHost("test -x /usr/bin/pngcheck && test -x /usr/bin/pnmtopng") == 0; }

// The host-made files, made once for the whole program in the folder "fx".
const std::vector<std::string>& HostFiles() {
  static std::vector<std::string> names;
  static bool made = false;
  if (!made) {
    made = true;
    std::string out;
    const int rc = tq::RunHost(
        "rm -rf fx && mkdir fx && cd fx && /usr/bin/python3 \"$TQ_SOURCE_DIR/tests/codecs_png/tools/png_fixtures.py\"",
        &out);
    EXPECT_EQ(rc, 0) << out;
    std::istringstream in(out);
    std::string name;
    int w, h;
    while (in >> name >> w >> h) names.push_back(name);
  }
  return names;
}

TIEBitmap* LoadFx(TImageryIO& io, const std::string& name) {
  io.LoadByContent(W(tq::WorkFile("fx\\" + name + ".png")));
  return io.GetIEBitmap();
}

}  // namespace

TEST(PNGRead, EveryColourTypeAndDepthGivesPILsPixelsAndAlpha) {
  if (!ToolsHere()) GTEST_SKIP() << "host tools unreachable";
  const std::vector<std::string>& names = HostFiles();
  ASSERT_EQ(names.size(), 20u);
  for (const std::string& n : names) {
    TIEBitmap b;
    TImageryIO io(&b);
    LoadFx(io, n);
    ASSERT_FALSE(io.Aborting) << n;
    EXPECT_EQ(io.Params.FileType, iffPNG) << n;
    const std::vector<uint8_t> pil = FileBytes(tq::WorkFile("fx\\" + n + ".rgba"));
    const int diff = FirstDifference(RGBAOf(b), pil);
    EXPECT_EQ(diff, -1) << n << ": pixel " << diff << " differs from PIL's";
  }
}

TEST(PNGRead, ParametersFromTheChunks) {
  if (!ToolsHere()) GTEST_SKIP() << "host tools unreachable";
  HostFiles();
  struct Case {
    const char* name;
    int bits, samples, dpi;
    bool interlaced;
    std::vector<std::string> texts;  // key, value, key, value ...
  };
  const Case cases[] = {
      {"pil_rgb8", 8, 3, 72, false, {"Title", "Seven slides", "Comment", "second text"}},
      {"pil_rgba8", 8, 4, 300, false, {}},  // no pHYs: the library default
      {"pnm_rgb_interlaced_bkgd", 8, 3, 300, true, {"Author", "Tevarnic", "Software", "slides"}},
      {"pil_greyalpha8", 8, 2, 300, false, {}},
      {"pil_palette4_trns", 2, 1, 300, false, {}},
      {"im_rgba16", 16, 4, 300, false, {}},
  };
  for (const Case& c : cases) {
    TIEBitmap b;
    TImageryIO io(&b);
    LoadFx(io, c.name);
    ASSERT_FALSE(io.Aborting) << c.name;
    EXPECT_EQ(io.Params.BitsPerSample, c.bits) << c.name;
    EXPECT_EQ(io.Params.SamplesPerPixel, c.samples) << c.name;
    EXPECT_EQ(io.Params.DpiX, c.dpi) << c.name;
    EXPECT_EQ(io.Params.PNGInterlaced, c.interlaced) << c.name;
    std::vector<std::string> texts;
    for (size_t i = 0; i < io.Params.PNGTextKeys.size(); ++i) {
      if (io.Params.PNGTextKeys[i].rfind("date:", 0) == 0) continue;  // ImageMagick's own stamps
      texts.push_back(io.Params.PNGTextKeys[i]);
      texts.push_back(io.Params.PNGTextValues[i]);
    }
    EXPECT_EQ(texts, c.texts) << c.name;
  }
  TIEBitmap b;
  TImageryIO io(&b);
  LoadFx(io, "pnm_rgb_interlaced_bkgd");
  EXPECT_EQ(io.Params.PNGBackground.r, 0x12);
  EXPECT_EQ(io.Params.PNGBackground.g, 0x34);
  EXPECT_EQ(io.Params.PNGBackground.b, 0x56);
  LoadFx(io, "pil_palette200_trns");
  EXPECT_EQ(io.Params.ColorMapCount, 200);
  EXPECT_EQ(io.Params.ColorMap[1].r, 53);
}

TEST(PNGRead, NativeFormatsKeepSamplesAndIndexes) {
  if (!ToolsHere()) GTEST_SKIP() << "host tools unreachable";
  HostFiles();
  TIEBitmap b;
  TImageryIO io(&b);
  io.Params.IsNativePixelFormat = true;
  LoadFx(io, "pil_grey16");
  ASSERT_FALSE(io.Aborting);
  ASSERT_EQ(b.GetPixelFormat(), ie16g);
  EXPECT_EQ(b.GetWord(5, 7), uint16_t((5 * 1733 + 7 * 911) & 0xFFFF));
  EXPECT_EQ(b.GetWord(36, 22), uint16_t((36 * 1733 + 22 * 911) & 0xFFFF));

  io.Params.IsNativePixelFormat = true;
  LoadFx(io, "pil_palette16_trns");
  ASSERT_FALSE(io.Aborting);
  ASSERT_EQ(b.GetPixelFormat(), ie8p);
  for (int x : {0, 5, 36}) {
    const int ix = (x * 3 + 2) % 16;
    EXPECT_EQ(b.GetByte(x, 2), ix);
    EXPECT_EQ(b.GetAlphaAt(x, 2), (ix * 41) & 255);
    EXPECT_EQ(b.GetPaletteEntry(ix).g, (ix * 97 + 30) & 255);
  }
}

TEST(PNGRead, InterlacedProgressRunsOverAllPassesTo100) {
  if (!ToolsHere()) GTEST_SKIP() << "host tools unreachable";
  HostFiles();
  std::vector<uint8_t> f = FileBytes(tq::WorkFile("fx\\im_palette_interlaced.png"));
  TIEMemStream s(f.data(), int64_t(f.size()));
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  std::atomic<bool> abort{false};
  std::vector<int> seen;
  TIECodecProgress progress;
  progress.Aborting = &abort;
  progress.OnProgress = [&seen](void*, int per) { seen.push_back(per); };
  IEPNGRead(s, b, p, progress, false);
  ASSERT_FALSE(abort);
  ASSERT_FALSE(seen.empty());
  EXPECT_GE(seen.back(), 99);  // Trunc(161 x 100 / 161) may fall a hair short in floating point
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GT(seen.size(), 50u);  // 7 passes over 23 rows, one report per new percentage
}

TEST(PNGRead, HeadersClaimingMoreThanTheFileHoldsAreRefusedBeforeAllocating) {
  const uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  struct Case {
    uint32_t width, height;
  };
  for (const Case c : {Case{30000, 30000}, Case{(1u << 20) + 1, 1}, Case{16, 0x7FFFFFFF}}) {
    std::vector<uint8_t> png(sig, sig + 8);
    std::vector<uint8_t> ihdr(13, 0);
    for (int i = 0; i < 4; ++i) {
      ihdr[size_t(i)] = uint8_t(c.width >> (24 - 8 * i));
      ihdr[size_t(4 + i)] = uint8_t(c.height >> (24 - 8 * i));
    }
    ihdr[8] = 8;
    ihdr[9] = 2;
    AppendChunk(png, "IHDR", ihdr);
    std::vector<uint8_t> raw(64, 0), packed(256);
    uLongf n = uLongf(packed.size());
    compress(packed.data(), &n, raw.data(), uLong(raw.size()));
    packed.resize(n);
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", {});
    TIEMemStream s(png.data(), int64_t(png.size()));
    TIEBitmap b;
    ASSERT_TRUE(b.Allocate(3, 3, ie24RGB));
    TImageryIO io(&b);
    io.LoadStreamAsFileType(s, iffPNG);
    EXPECT_TRUE(io.Aborting) << c.width << " x " << c.height;
    EXPECT_LE(int64_t(b.GetImageWidth()) * b.GetImageHeight(), 9) << c.width << " x " << c.height;
  }
}

namespace {

enum TSource { srcBW, srcColours, srcGrey, srcFull, srcGrey16, srcOddGreyPalette };

struct WriteCase {
  const char* name;
  TSource source;
  int samples, bits;
  bool alpha, interlaced;
  uint8_t filter;
  int colourType, depth;  // expected IHDR
};

const WriteCase kWriteCases[] = {
    {"bw1", srcBW, 1, 1, false, false, 0, 0, 1},
    {"palette8", srcColours, 1, 8, false, false, 0, 3, 8},
    {"palette_from16", srcColours, 1, 16, false, false, 0, 3, 8},
    {"grey_found", srcGrey, 1, 8, false, false, 0, 0, 8},
    {"rgb", srcFull, 3, 8, false, false, 0, 2, 8},
    {"rgb_sub", srcFull, 3, 8, false, false, 1, 2, 8},
    {"rgb_paeth_interlaced", srcFull, 3, 8, false, true, 2, 2, 8},
    {"rgba", srcFull, 3, 8, true, false, 2, 6, 8},
    {"rgba_interlaced", srcFull, 3, 8, true, true, 1, 6, 8},
    {"palette_transparent0", srcColours, 1, 8, true, false, 0, 3, 8},
    {"grey16", srcGrey16, 1, 16, false, true, 2, 0, 16},
    {"odd_grey_palette", srcOddGreyPalette, 1, 8, false, false, 0, 3, 8},
};

void MakeSource(TIEBitmap& b, TSource s) {
  const int w = 41, h = 27;
  switch (s) {
    case srcBW:
      MakePicture(b, w, h, 2);
      b.SetPixelFormat(ie1g);
      break;
    case srcColours: MakePicture(b, w, h, 100); break;
    case srcFull: MakePicture(b, w, h); break;
    case srcGrey:
      MakePicture(b, w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t g = uint8_t(x * 6 + y);
          b.SetRGB(x, y, IEMakeRGB(g, g, g));
        }
      break;
    case srcGrey16:
      b.Allocate(w, h, ie16g);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetWord(x, y, uint16_t(x * 1601 + y * 257 + 3));
      break;
    case srcOddGreyPalette:
      b.Allocate(w, h, ie8p);
      for (int i = 0; i < 256; ++i) b.SetPaletteEntry(i, IEMakeRGB(uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i)));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetByte(x, y, uint8_t(x * 5 + y));
      break;
  }
}

void AddAlpha(TIEBitmap& b) {
  TIEBitmap* a = b.GetAlphaChannel();
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) a->SetByte(x, y, x < 4 ? 0 : y < 5 ? uint8_t(x * 9) : 255);
  a->IsAll255 = false;
}

}  // namespace

class PNGWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(PNGWriteTest, PassesPngcheckAndPILReadsThePixels) {
  if (!ToolsHere()) GTEST_SKIP() << "host tools unreachable";
  const WriteCase& c = GetParam();
  TIEBitmap b;
  MakeSource(b, c.source);
  if (c.alpha) AddAlpha(b);
  TImageryIO io(&b);
  io.Params.SamplesPerPixel = c.samples;
  io.Params.BitsPerSample = c.bits;
  io.Params.PNGInterlaced = c.interlaced;
  io.Params.PNGFilter = c.filter;
  io.Params.PNGBackground = IEMakeRGB(10, 20, 30);
  io.Params.SetDpiX(300);
  io.Params.SetDpiY(150);
  io.Params.PNGTextKeys = {"Title", "Description"};
  io.Params.PNGTextValues = {"Slide 4", "written by us"};
  const std::string name = std::string("w_") + c.name;
  io.SaveByExtension(W(tq::WorkFile(name + ".png")));
  ASSERT_FALSE(io.Aborting);
  std::string out;
  EXPECT_EQ(tq::RunHost("pngcheck -v " + name + ".png", &out), 0) << out;
  Host("/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/codecs_png/tools/png_dump.py\" " + name);

  const std::vector<uint8_t> f = FileBytes(tq::WorkFile(name + ".png"));
  const std::vector<uint8_t> ihdr = Chunk(f, "IHDR");
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(ihdr[8], c.depth);
  EXPECT_EQ(ihdr[9], c.colourType);
  EXPECT_EQ(ihdr[12], c.interlaced ? 1 : 0);
  const std::vector<uint8_t> phys = Chunk(f, "pHYs");
  ASSERT_EQ(phys.size(), 9u);
  EXPECT_EQ(IEReadU32BE(&phys[0]), 11811u);  // Round(300 / 2.54 x 100)
  EXPECT_EQ(IEReadU32BE(&phys[4]), 5906u);
  EXPECT_EQ(phys[8], 1);

  std::vector<uint8_t> expected = RGBAOf(b);
  if (c.alpha && c.samples == 1)  // transparent pixels become palette entry 0, the background
    for (size_t i = 0; i < expected.size(); i += 4)
      if (expected[i + 3] != 255) {
        expected[i] = 10; expected[i + 1] = 20; expected[i + 2] = 30; expected[i + 3] = 0;
      }
  const int diff = FirstDifference(FileBytes(tq::WorkFile(name + ".rgba")), expected);
  EXPECT_EQ(diff, -1) << "pixel " << diff;
  if (c.source == srcGrey16) {
    const std::vector<uint8_t> g16 = FileBytes(tq::WorkFile(name + ".g16"));
    ASSERT_EQ(g16.size(), size_t(41 * 27 * 2));
    EXPECT_EQ(g16[2 * (3 * 41 + 7)] | (g16[2 * (3 * 41 + 7) + 1] << 8), 7 * 1601 + 3 * 257 + 3);  // the whole sample
  }
  std::map<std::string, std::string> info = PILInfo(name);
  EXPECT_EQ(info["text:Title"], "Slide 4");
  EXPECT_EQ(info["text:Description"], "written by us");
  if (c.alpha && c.samples == 1) {
    const std::vector<uint8_t> trns = Chunk(f, "tRNS");
    EXPECT_EQ(trns, std::vector<uint8_t>{0});
    const std::vector<uint8_t> plte = Chunk(f, "PLTE");
    ASSERT_EQ(plte.size(), 256u * 3);
    EXPECT_EQ(std::vector<uint8_t>(plte.begin(), plte.begin() + 3), (std::vector<uint8_t>{10, 20, 30}));
  }
  if (c.colourType == 2) {
    EXPECT_NE(out.find("red = 0x000a, green = 0x0014, blue = 0x001e"), std::string::npos) << out;
  }

  // and our own reader gives the same back
  TIEBitmap back;
  TImageryIO in(&back);
  in.LoadByContent(W(tq::WorkFile(name + ".png")));
  ASSERT_FALSE(in.Aborting);
  EXPECT_EQ(FirstDifference(RGBAOf(back), FileBytes(tq::WorkFile(name + ".rgba"))), -1);
}

INSTANTIATE_TEST_SUITE_P(Paths, PNGWriteTest, ::testing::ValuesIn(kWriteCases),
                         [](const ::testing::TestParamInfo<WriteCase>& i) { return std::string(i.param.name); });

TEST(PNGWrite, ParameterFixupsAndShortWrites) {
  TIEBitmap b;
  MakePicture(b, 20, 10, 30);
  TImageryIO io(&b);
  io.Params.SamplesPerPixel = 1;
  io.Params.BitsPerSample = 3;
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffPNG);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.BitsPerSample, 3);  // written as 8 bits; the parameters are other writers' too

  misctest::LimitedStream limited(100);
  io.SaveStreamAsFileType(limited, iffPNG);
  EXPECT_TRUE(io.Aborting);
  // a format the writer does not encode goes through a converted copy; the caller's bitmap stays
  TIEBitmap wide;
  ASSERT_TRUE(wide.Allocate(3, 2, ieRGB48));
  for (int i = 0; i < 6; ++i) wide.SetRGB48(i % 3, i / 3, TIERGB48{uint16_t(i * 10000), 0xFFFF, uint16_t(0x1234)});
  for (int samples : {1, 3}) {
    TImageryIO w(&wide);
    w.Params.SamplesPerPixel = samples;
    w.Params.BitsPerSample = 8;
    TIEMemoryStream out;
    w.SaveStreamAsFileType(out, iffPNG);
    ASSERT_FALSE(w.Aborting);
    EXPECT_EQ(wide.GetPixelFormat(), ieRGB48);
    out.SetPosition(0);
    TIEBitmap back;
    TImageryIO r(&back);
    r.LoadStreamAsFileType(out, iffPNG);
    ASSERT_FALSE(r.Aborting);
    for (int i = 0; i < 6; ++i) {
      const TIERGB c = back.GetPixelRGB(i % 3, i / 3);
      EXPECT_EQ(c.r, (i * 10000) >> 8) << samples << " " << i;
      EXPECT_EQ(c.g, 255);
      EXPECT_EQ(c.b, 0x12);
    }
  }
}

// Truncations and random byte flips of valid files never crash or hang; truncations always abort.
TEST(PNGRead, MutatedFilesNeverCrash) {
  struct Variant {
    TSource source;
    int samples, bits;
    bool alpha, interlaced;
  };
  const Variant variants[] = {{srcFull, 3, 8, false, false}, {srcFull, 3, 8, true, true}, {srcColours, 1, 8, true, false},
                              {srcGrey16, 1, 16, false, true}, {srcBW, 1, 1, false, false}};
  for (const Variant& v : variants) {
    TIEBitmap b;
    MakeSource(b, v.source);
    if (v.alpha) AddAlpha(b);
    TImageryIO io(&b);
    io.Params.SamplesPerPixel = v.samples;
    io.Params.BitsPerSample = v.bits;
    io.Params.PNGInterlaced = v.interlaced;
    io.Params.PNGTextKeys = {"k"};
    io.Params.PNGTextValues = {"v"};
    TIEMemoryStream s;
    io.SaveStreamAsFileType(s, iffPNG);
    misctest::Mutate(misctest::StreamBytes(s), 300, iffPNG);
  }
}
