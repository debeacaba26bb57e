// The codecs on their own: the run-length coders' exact packets, the writers' short writes, headers
// that claim more than their file holds, and mutated files of every format.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <vector>

#include "bmpfilt.h"
#include "hostenv.h"
#include "iej2000.h"
#include "ietgafil.h"
#include "imageryio.h"
#include "iotest_util.h"
#include "pcxfilter.h"

using namespace iotest;

namespace {

// A destination that takes at most `limit` bytes in all, like a full disk.
class LimitedStream : public TIEMemoryStream {
 public:
  explicit LimitedStream(int64_t limit) : limit_(limit) {}
  int32_t Write(const void* b, int32_t count) override {
    const int64_t room = std::max<int64_t>(0, limit_ - GetPosition());
    const int32_t n = int32_t(std::min<int64_t>(count, room));
    return n > 0 ? TIEMemoryStream::Write(b, n) : 0;
  }

 private:
  int64_t limit_;
};

std::vector<uint8_t> Encode8(const std::vector<uint8_t>& ix) {
  std::vector<uint8_t> out(ix.size() * 10 + 16);
  out.resize(size_t(IEBMPEncodeRLE8Row(ix.data(), int(ix.size()), out.data())));
  return out;
}
std::vector<uint8_t> Encode4(const std::vector<uint8_t>& ix) {
  std::vector<uint8_t> out(ix.size() * 10 + 16);
  out.resize(size_t(IEBMPEncodeRLE4Row(ix.data(), int(ix.size()), out.data())));
  return out;
}

// A bottom-up run-length bitmap (RLE8, or RLE4 when bits is 4) with a grey palette around `runs`.
std::vector<uint8_t> RLEBitmapFile(int w, int h, int bits, const std::vector<uint8_t>& runs) {
  const uint32_t colours = 1u << bits, dataAt = 14 + 40 + 4 * colours;
  std::vector<uint8_t> f(dataAt, 0);
  f[0] = 'B';
  f[1] = 'M';
  IEWriteU32LE(&f[2], uint32_t(dataAt + runs.size()));
  IEWriteU32LE(&f[10], dataAt);
  IEWriteU32LE(&f[14], 40);
  IEWriteU32LE(&f[18], uint32_t(w));
  IEWriteU32LE(&f[22], uint32_t(h));
  f[26] = 1;
  f[28] = uint8_t(bits);
  f[30] = bits == 8 ? 1 : 2;
  IEWriteU32LE(&f[34], uint32_t(runs.size()));
  for (uint32_t i = 0; i < colours; ++i) std::memset(&f[54 + 4 * i], int(i), 3);
  f.insert(f.end(), runs.begin(), runs.end());
  return f;
}

std::vector<uint8_t> Save(TIEBitmap& b, TIEFileFormatCode type, TIOParamsVals* setup = nullptr) {
  TImageryIO io(&b);
  if (setup) io.Params.Assign(*setup);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, type);
  EXPECT_FALSE(io.Aborting);
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.GetSize());
}

}  // namespace

TEST(BMPRunLength, RowEncodings) {
  EXPECT_EQ(Encode8(std::vector<uint8_t>(256, 7)), (std::vector<uint8_t>{255, 7, 1, 7, 0, 0}));
  EXPECT_EQ(Encode8({1, 2, 3}), (std::vector<uint8_t>{0, 3, 1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(Encode4({1, 2, 3}), (std::vector<uint8_t>{0, 3, 0x12, 0x30, 0, 0}));
  EXPECT_EQ(Encode8({1, 2}), (std::vector<uint8_t>{1, 1, 1, 2, 0, 0}));
  EXPECT_EQ(Encode4({1, 2}), (std::vector<uint8_t>{2, 0x12, 0, 0}));
}

TEST(BMPRunLength, DecoderStaysInsideTheBitmap) {
  TIEBitmap b;
  ASSERT_TRUE(b.Allocate(4, 3, ie8p));
  b.Fill(9);
  std::atomic<bool> abort{false};
  TIECodecProgress p;
  p.Aborting = &abort;
  // a run longer than the row, a literal whose data is cut, a delta out of the bitmap
  const uint8_t runs[] = {2, 5, 200, 6, 0, 0, 0, 2, 3, 9, 0, 9, 1, 2};
  IEBMPDecodeRLE8ToIndex(b, runs, sizeof runs, 0, p);
  EXPECT_EQ(b.GetRowAddress(2)[0], 5);
  EXPECT_EQ(b.GetRowAddress(2)[3], 6);
  EXPECT_EQ(b.GetRowAddress(1)[0], 9);  // the delta left it as allocated
}

TEST(BMPRunLength, RunsPastTheRowEndAreDroppedHoweverFar) {
  struct Case {
    int bits;
    size_t runsPast;  // codes of 255 pixels after the row's own two
  };
  // a few runs past a 2-pixel row, and enough of them to carry the position past INT_MAX
  const Case cases[] = {{8, 4}, {4, 4}, {8, size_t(INT_MAX) / 255 + 1}};
  for (const Case& c : cases) {
    const bool four = c.bits == 4;
    std::vector<uint8_t> runs = {2, uint8_t(four ? 0x55 : 5)};
    runs.reserve(2 * c.runsPast + 8);
    for (size_t i = 0; i < c.runsPast; ++i) {
      runs.push_back(255);
      runs.push_back(four ? 0x66 : 6);
    }
    // end of line, the top row, end of bitmap
    for (uint8_t b : {0, 0, 2, four ? 0x77 : 7, 0, 1}) runs.push_back(b);
    std::vector<uint8_t> f = RLEBitmapFile(2, 2, c.bits, runs);
    TIEMemStream s(f.data(), int64_t(f.size()));
    TIEBitmap back;
    TImageryIO io(&back);
    io.Params.IsNativePixelFormat = true;
    io.LoadStreamAsFileType(s, iffBMP);
    EXPECT_FALSE(io.Aborting) << c.runsPast;
    ASSERT_EQ(back.GetPixelFormat(), ie8p);
    ASSERT_EQ(back.GetImageWidth(), 2);
    ASSERT_EQ(back.GetImageHeight(), 2);
    const uint8_t* bottom = back.GetRowAddress(1);
    const uint8_t* top = back.GetRowAddress(0);
    EXPECT_EQ(std::vector<uint8_t>(bottom, bottom + 2), (std::vector<uint8_t>{5, 5})) << c.runsPast;
    EXPECT_EQ(std::vector<uint8_t>(top, top + 2), (std::vector<uint8_t>{7, 7})) << c.runsPast;
  }
}

TEST(TGAWriter, RunAndRawPacketsStayWithinTheirRow) {
  TIEBitmap same, diff;
  ASSERT_TRUE(same.Allocate(300, 1, ie24RGB));
  same.Fill(0x40);
  MakePicture(diff, 200, 1);
  for (int x = 0; x < 200; ++x) diff.GetRowAddress(0)[3 * x] = uint8_t(x);  // every pixel differs from the next
  std::vector<uint8_t> a = Save(same, iffTGA), b = Save(diff, iffTGA);
  const size_t data = 18 + 1;
  EXPECT_EQ(a[2], 10);
  EXPECT_EQ(std::vector<uint8_t>({a[data], a[data + 4], a[data + 8]}), (std::vector<uint8_t>{0xFF, 0xFF, 0x80 | 43}));
  EXPECT_EQ(b[data], 126);  // raw packet of 127
  EXPECT_EQ(b[data + 1 + 127 * 3], 72);
}

TEST(PCXWriter, LineRunsAndPadding) {
  TIEBitmap b;
  ASSERT_TRUE(b.Allocate(101, 1, ie24RGB));
  b.Fill(0);
  b.GetRowAddress(0)[3 * 100 + 2] = 200;  // red of the last pixel
  std::vector<uint8_t> f = Save(b, iffPCX);
  ASSERT_GT(f.size(), 128u);
  EXPECT_EQ(f[66] | (f[67] << 8), 102);  // even bytes per line
  // red line: 63 zeros, 37 zeros, the 200 as C1 C8, then the pad byte 0
  const std::vector<uint8_t> red(f.begin() + 128, f.begin() + 128 + 7);
  EXPECT_EQ(red, (std::vector<uint8_t>{0xFF, 0, 0xC0 + 37, 0, 0xC1, 200, 0}));
}

// Every header, depth and coding the bitmap writer offers, read back by a host decoder. Each tool
// has a blind spot here: PIL 9.4 misplaces the pixels of 4-bit run-length files, ImageMagick misreads
// the 64-byte header.
TEST(Writers, BitmapVariantsDecodeOnTheHost) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  const char* pil =
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2], 'PPM')\" {in} {out}";
  const char* magick = "/usr/bin/convert {in} -depth 8 {out}";
  struct Case {
    const char* name;
    int bits, samples, version, compression;
    const char* decoder;
  };
  const Case kCases[] = {
      {"v4.bmp", 4, 1, 1, 0, pil},        {"v4rle.bmp", 4, 1, 1, 1, magick},
      {"v8.bmp", 8, 1, 1, 0, pil},        {"v8rle.bmp", 8, 1, 1, 1, pil},
      {"v24.bmp", 8, 3, 1, 0, pil},       {"v24core.bmp", 8, 3, 2, 0, magick},
      {"v8h64rle.bmp", 8, 1, 3, 1, pil},  {"v4core.bmp", 4, 1, 2, 1, pil},  // no RLE in a core header
  };
  TIEBitmap b;
  MakePicture(b, 37, 21, 16);  // odd sizes: row padding and a half byte at 4 bits
  for (const Case& c : kCases) {
    TIOParamsVals p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.BMPVersion = c.version;
    p.BMPCompression = c.compression;
    const std::vector<uint8_t> f = Save(b, iffBMP, &p);
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(c.name), f.data(), f.size())) << c.name;
    ExpectHostDecodes(b, c.name, c.decoder);
  }
}

// The Targa writer's depths and codings, read back by netpbm.
TEST(Writers, TargaVariantsDecodeOnTheHost) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  struct Case {
    const char* name;
    int bits, samples;
    bool compressed;
  };
  const Case kCases[] = {
      {"t4.tga", 4, 1, true},  // 16 colours as an 8-bit map, never run-length coded
      {"t8.tga", 8, 1, false}, {"t8rle.tga", 8, 1, true}, {"t24.tga", 8, 3, false}, {"t24rle.tga", 8, 3, true},
  };
  TIEBitmap b;
  MakePicture(b, 37, 21, 16);
  for (const Case& c : kCases) {
    TIOParamsVals p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.TGACompressed = c.compressed;
    const std::vector<uint8_t> f = Save(b, iffTGA, &p);
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(c.name), f.data(), f.size())) << c.name;
    ExpectHostDecodes(b, c.name, "/usr/bin/tgatoppm {in} > {out}");
  }
}

TEST(Writers, ShortWritesSetTheAbortFlag) {
  TIEBitmap b;
  MakePicture(b, 64, 48);
  for (TIEFileFormatCode t : {iffBMP, iffTGA, iffPCX, iffJP2, iffJ2K}) {
    TImageryIO io(&b);
    LimitedStream s(300);
    io.SaveStreamAsFileType(s, t);
    EXPECT_TRUE(io.Aborting) << t;
  }
}

// A picture of more than 4096 x 4096 pixels goes to the codec tile by tile (tiles of 1024, narrow
// ones at the right and bottom edges); the host decoder gives back every pixel, and a smaller
// picture stays one tile.
TEST(Writers, Large2000PicturesAreWrittenInTiles) {
  struct Case {
    int w, h;
    uint32_t tileWidth;
    TIEFileFormatCode type;
    const char* name;
  };
  const Case cases[] = {{4100, 4100, 1024, iffJ2K, "tiled.j2k"}, {4100, 4100, 1024, iffJP2, "tiled.jp2"},
                        {640, 480, 640, iffJ2K, "whole.j2k"}};
  for (const Case& c : cases) {
    TIEBitmap b;
    MakePicture(b, c.w, c.h);
    const std::vector<uint8_t> f = Save(b, c.type);
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(c.name), f.data(), f.size())) << c.name;
    if (c.type == iffJ2K) {
      ASSERT_GT(f.size(), 32u);
      EXPECT_EQ(uint32_t(f[24]) << 24 | uint32_t(f[25]) << 16 | uint32_t(f[26]) << 8 | f[27], c.tileWidth) << c.name;
    }
    ExpectHostDecodes(b, c.name, "/usr/bin/opj_decompress -quiet -i {in} -o {out}");
  }
}

TEST(Writers, Lossy2000StaysWithinItsBudget) {
  TIEBitmap b;
  MakePicture(b, 128, 96);
  TIOParamsVals p(nullptr);
  p.J2000Rate = 0.1;
  std::vector<uint8_t> f = Save(b, iffJ2K, &p);
  EXPECT_LE(f.size(), size_t(128 * 96 * 3 / 10 + 400));
  p.J2000Rate = 0;
  TImageryIO io(&b);
  io.Params.J2000Rate = 0;
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffJP2);
  EXPECT_TRUE(io.Aborting);  // a rate of 0 is refused
}

TEST(Readers, SizesClaimedBeyondTheFileAreRefusedBeforeAllocating) {
  TIEBitmap b;
  MakePicture(b, 16, 16);
  struct Case {
    TIEFileFormatCode type;
    size_t widthAt, heightAt;
    bool sixteenBit;
  };
  const Case cases[] = {{iffBMP, 18, 22, false}, {iffTGA, 12, 14, true}, {iffPCX, 8, 10, true}};
  for (const Case& c : cases) {
    std::vector<uint8_t> f = Save(b, c.type);
    if (c.sixteenBit) {
      f[c.widthAt] = f[c.widthAt + 1] = 0xFF;
      f[c.heightAt] = f[c.heightAt + 1] = 0xFF;
    } else {
      IEWriteU32LE(&f[c.widthAt], 0x7FFFFFF0);
      IEWriteU32LE(&f[c.heightAt], 0x80000000u);  // the most negative height
    }
    TIEMemStream s(f.data(), int64_t(f.size()));
    TIEBitmap back;
    TImageryIO io(&back);
    io.LoadStreamAsFileType(s, c.type);
    EXPECT_TRUE(io.Aborting) << c.type;
    EXPECT_LE(int64_t(back.GetImageWidth()) * back.GetImageHeight(), 16 * 16) << c.type;
  }
}

TEST(Readers, TargaColourMapPastTheLibraryPaletteIsBounded) {
  // 4 x 1 colour-mapped image whose map starts at entry 250 and holds 20 entries
  std::vector<uint8_t> f = {0, 1, 1, 250, 0, 20, 0, 24, 0, 0, 0, 0, 4, 0, 1, 0, 8, 0x20};
  for (int i = 0; i < 20; ++i) {
    f.push_back(uint8_t(i)); f.push_back(uint8_t(2 * i)); f.push_back(uint8_t(3 * i));
  }
  for (uint8_t ix : {250, 251, 255, 0}) f.push_back(ix);
  TIEMemStream s(f.data(), int64_t(f.size()));
  TIEBitmap back;
  TImageryIO io(&back);
  io.LoadStreamAsFileType(s, iffTGA);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(back.GetPixelRGB(1, 0).r, 3);  // entry 251 = map entry 1 (B 1, G 2, R 3)
  EXPECT_EQ(back.GetPixelRGB(2, 0).r, 15);  // entry 255 = map entry 5
  EXPECT_EQ(back.GetPixelRGB(3, 0).b, 60);  // entry 0 keeps the default ramp
}

TEST(Readers, TargaDepth4IsDecoded) {
  // 3 x 1 uncompressed colour-mapped image of 4-bit indexes 1, 2, 3
  std::vector<uint8_t> f = {0, 1, 1, 0, 0, 4, 0, 24, 0, 0, 0, 0, 3, 0, 1, 0, 4, 0x20};
  for (int i = 0; i < 4; ++i) {
    f.push_back(uint8_t(10 * i)); f.push_back(uint8_t(20 * i)); f.push_back(uint8_t(30 * i));
  }
  f.push_back(0x12);
  f.push_back(0x30);
  TIEMemStream s(f.data(), int64_t(f.size()));
  TIEBitmap back;
  TImageryIO io(&back);
  io.LoadStreamAsFileType(s, iffTGA);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(back.GetPixelRGB(0, 0).r, 30);
  EXPECT_EQ(back.GetPixelRGB(2, 0).b, 30);
}

// Every format: truncations and random byte flips of valid files never crash or hang; truncations
// that cut into the image data always set the abort flag.
struct MutationCase {
  TIEFileFormatCode type;
  size_t tail;  // bytes at the end that are not image data (Targa extension area and footer)
};
class MutationTest : public ::testing::TestWithParam<MutationCase> {};

TEST_P(MutationTest, NeverCrashesAndTruncationsAbort) {
  const MutationCase& c = GetParam();
  TIEBitmap b;
  MakePicture(b, 37, 23);
  std::vector<uint8_t> valid = Save(b, c.type);
  uint32_t seed = 0x9E3779B9u ^ uint32_t(c.type);
  auto rnd = [&seed] { seed = seed * 1664525u + 1013904223u; return seed >> 8; };
  const size_t dataEnd = valid.size() - c.tail;
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> f = valid;
    const bool truncate = i % 2 == 0;
    if (truncate) {
      f.resize(size_t(rnd() % (dataEnd - 1)));
    } else {
      const int flips = 1 + int(rnd() % 8);
      for (int k = 0; k < flips; ++k) f[rnd() % f.size()] = uint8_t(rnd());
    }
    TIEMemStream s(f.data(), int64_t(f.size()));
    TIEBitmap back;
    TImageryIO io(&back);
    io.LoadStreamAsFileType(s, c.type);
    if (truncate) {
      EXPECT_TRUE(io.Aborting) << "format " << c.type << " cut at " << f.size();
    }
    EXPECT_LE(uint64_t(back.GetImageWidth()) * back.GetImageHeight(), uint64_t(1) << 22);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, MutationTest,
                         ::testing::Values(MutationCase{iffBMP, 0}, MutationCase{iffTGA, 495 + 26},
                                           MutationCase{iffPCX, 0}, MutationCase{iffDCX, 0},
                                           MutationCase{iffJP2, 0}, MutationCase{iffJ2K, 0}),
                         [](const ::testing::TestParamInfo<MutationCase>& i) { return "type" + std::to_string(i.param.type); });
