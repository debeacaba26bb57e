// Icons and cursors against icotool, PIL and ImageMagick, and the icon writer.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "ieico.h"
#include "ieresample.h"
#include "imageryio.h"
#include "misc_util.h"

using namespace iotest;
using namespace misctest;

namespace {

struct HostImage {
  std::string file;
  int index, width, height;
};

// The host-made icons and cursors, made once in the folder "ico".
const std::vector<HostImage>& HostIcons() {
  static std::vector<HostImage> images;
  static bool made = false;
  if (!made) {
    made = true;
    std::string out;
    EXPECT_EQ(tq::RunHost("rm -rf ico && mkdir ico && cd ico && "
                          "/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/codecs_misc/tools/ico_fixtures.py\"",
                          &out),
              0)
        << out;
    std::istringstream in(out);
    HostImage h;
    while (in >> h.file >> h.index >> h.width >> h.height) images.push_back(h);
  }
  return images;
}

TIEFileFormatCode TypeOf(const std::string& file) { return file.substr(file.size() - 4) == ".cur" ? iffCUR : iffICO; }

void LoadImage(TImageryIO& io, const std::string& winPath, int index) {
  io.Params.ICOImageIndex = io.Params.CURImageIndex = index;
  io.LoadAsFileType(W(winPath), TypeOf(winPath));
}

// Alpha everywhere and colour where opaque must equal the R, G, B, A bytes.
void ExpectRGBA(TIEBitmap& b, const std::vector<uint8_t>& rgba, const std::string& what) {
  ASSERT_EQ(rgba.size(), size_t(b.GetImageWidth()) * b.GetImageHeight() * 4) << what;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      const uint8_t* e = &rgba[(size_t(y) * b.GetImageWidth() + x) * 4];
      const uint8_t a = b.AlphaPresent() ? b.GetAlphaAt(x, y) : 255;
      const TIERGB c = b.GetPixelRGB(x, y);
      if (a != e[3] || (a == 255 && (c.r != e[0] || c.g != e[1] || c.b != e[2]))) {
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(c.r) << " " << int(c.g) << " " << int(c.b)
                      << " alpha " << int(a) << ", expected " << int(e[0]) << " " << int(e[1]) << " " << int(e[2])
                      << " alpha " << int(e[3]);
        return;
      }
    }
}

// A one-image icon (type 1) or cursor (type 2) of `bits` with the given colour and AND rows (bottom
// row first, padded) and palette quads.
std::vector<uint8_t> BuildIcon(int type, int w, int h, int bits, const std::vector<uint8_t>& palette,
                               const std::vector<uint8_t>& colour, const std::vector<uint8_t>& andRows,
                               int entryWidth = -1, int entryColours = 0) {
  std::vector<uint8_t> f(6 + 16 + 40, 0);
  f[2] = uint8_t(type);
  f[4] = 1;
  f[6] = uint8_t(entryWidth >= 0 ? entryWidth : w);
  f[7] = uint8_t(h);
  f[8] = uint8_t(entryColours);
  IEWriteU16LE(&f[10], type == 2 ? 3 : 1);
  IEWriteU16LE(&f[12], type == 2 ? 4 : uint16_t(bits));
  IEWriteU32LE(&f[14], uint32_t(40 + palette.size() + colour.size() + andRows.size()));
  IEWriteU32LE(&f[18], 22);
  uint8_t* ih = &f[22];
  IEWriteU32LE(ih, 40);
  IEWriteU32LE(ih + 4, uint32_t(w));
  IEWriteU32LE(ih + 8, uint32_t(2 * h));
  IEWriteU16LE(ih + 12, 1);
  IEWriteU16LE(ih + 14, uint16_t(bits));
  f.insert(f.end(), palette.begin(), palette.end());
  f.insert(f.end(), colour.begin(), colour.end());
  f.insert(f.end(), andRows.begin(), andRows.end());
  return f;
}

std::vector<uint8_t> SaveIcon(TIEBitmap& b, const std::vector<TIEICOSize>& sizes, const std::vector<int>& bits,
                              bool* aborted = nullptr) {
  TImageryIO io(&b);
  for (size_t i = 0; i < kIEICOMaxSizes; ++i) {
    io.Params.ICOSizes[i] = i < sizes.size() ? sizes[i] : TIEICOSize();
    io.Params.ICOBitCount[i] = i < bits.size() ? bits[i] : 0;
  }
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffICO);
  if (aborted) *aborted = io.Aborting;
  else EXPECT_FALSE(io.Aborting);
  return StreamBytes(s);
}

void MakeAlphaPicture(TIEBitmap& b, int w, int h, int colours) {
  MakePicture(b, w, h, colours);
  TIEBitmap* a = b.GetAlphaChannel();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) a->SetByte(x, y, x < w / 4 ? 0 : y < h / 3 ? uint8_t(x * 4) : 255);
  a->IsAll255 = false;
}

}  // namespace

TEST(IconRead, HostMadeIconsAndCursorsGiveIcotoolsPixelsAndAlpha) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  const std::vector<HostImage>& images = HostIcons();
  ASSERT_EQ(images.size(), 16u);
  for (const HostImage& h : images) {
    const std::string what = h.file + " #" + std::to_string(h.index);
    TIEBitmap b;
    TImageryIO io(&b);
    LoadImage(io, tq::WorkFile("ico\\" + h.file), h.index);
    ASSERT_FALSE(io.Aborting) << what;
    EXPECT_EQ(io.Params.FileType, TypeOf(h.file)) << what;
    ExpectRGBA(b, FileBytes(tq::WorkFile("ico\\" + h.file + "_" + std::to_string(h.index + 1) + ".rgba")), what);
    if (TypeOf(h.file) == iffCUR) {
      EXPECT_TRUE(b.AlphaPresent()) << what;  // a cursor always brings its mask
      const bool big = h.file == "big.cur";
      EXPECT_EQ(io.Params.CURHotSpotX, big ? 7 : 2) << what;
      EXPECT_EQ(io.Params.CURHotSpotY, big ? 9 : 3) << what;
    }
  }
  // the directory as the reader records it: 256 (stored as 0) is left out
  TIEBitmap b;
  TImageryIO io(&b);
  LoadImage(io, tq::WorkFile("ico\\depths.ico"), 6);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(b.GetImageWidth(), 256);  // the PNG entry
  const int widths[] = {32, 32, 5, 24, 48, 40, 0}, bits[] = {1, 4, 4, 8, 24, 32, 0};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(io.Params.ICOSizes[i].Width, widths[i]) << i;
    EXPECT_EQ(io.Params.ICOBitCount[i], bits[i]) << i;
  }
  // big.cur's directory says width 0: 256
  const std::vector<uint8_t> cur = FileBytes(tq::WorkFile("ico\\big.cur"));
  ASSERT_GT(cur.size(), 8u);
  EXPECT_EQ(cur[6], 0);
}

TEST(IconRead, TransparencyBackgroundAndNativeIndexes) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  HostIcons();
  TIEBitmap b;
  TImageryIO io(&b);
  LoadImage(io, tq::WorkFile("ico\\opaque4.ico"), 0);
  ASSERT_FALSE(io.Aborting);
  EXPECT_FALSE(b.AlphaPresent());  // every AND bit clear: no mask
  EXPECT_EQ(b.GetImageWidth(), 32);

  io.Params.ICOBackground = IEMakeRGB(1, 2, 3);
  LoadImage(io, tq::WorkFile("ico\\depths.ico"), 1);  // 4 bits, every fourth pixel transparent
  ASSERT_FALSE(io.Aborting);
  ASSERT_TRUE(b.AlphaPresent());
  EXPECT_EQ(b.GetAlphaAt(0, 0), 0);
  EXPECT_TRUE(IESameRGB(b.GetPixelRGB(0, 0), IEMakeRGB(1, 2, 3)));
  EXPECT_EQ(b.GetAlphaAt(1, 0), 255);

  io.Params.IsNativePixelFormat = true;
  LoadImage(io, tq::WorkFile("ico\\depths.ico"), 2);  // 5 x 3 at 4 bits: an odd width
  ASSERT_FALSE(io.Aborting);
  ASSERT_EQ(b.GetPixelFormat(), ie8p);
  const std::vector<uint8_t> e = FileBytes(tq::WorkFile("ico\\depths.ico_3.rgba"));
  for (int x = 1; x < 5; ++x) {
    const TIERGB c = b.GetPaletteEntry(b.GetByte(x, 2));
    const uint8_t* p = &e[size_t(2 * 5 + x) * 4];
    if (p[3] == 255) {
      EXPECT_TRUE(c.r == p[0] && c.g == p[1] && c.b == p[2]) << x;
    }
  }
}

TEST(IconRead, HandMadeEdgeCases) {
  // 2 x 2 at 32 bits, every alpha byte 0: the AND rows (bottom row first) decide
  const std::vector<uint8_t> px = {10, 20, 30, 0, 11, 21, 31, 0, 12, 22, 32, 0, 13, 23, 33, 0};
  const std::vector<uint8_t> andRows = {0x40, 0, 0, 0, 0x80, 0, 0, 0};  // bottom: x=1; top: x=0
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    TIEFileFormatCode type;
    int width, height;
    std::vector<int> alpha;  // top row first
  };
  std::vector<uint8_t> palette16(64, 0);
  for (int i = 0; i < 16; ++i) palette16[size_t(4 * i + 2)] = uint8_t(i * 16);
  const Case cases[] = {
      {"alpha from AND", BuildIcon(1, 2, 2, 32, {}, px, andRows), iffICO, 2, 2, {0, 255, 255, 0}},
      {"no AND rows: opaque", BuildIcon(1, 2, 2, 32, {}, px, {}), iffICO, 2, 2, {255, 255, 255, 255}},
      // 3 x 1 cursor at 8 bits whose palette has 16 entries: indexes past it read as black
      {"index past the palette", BuildIcon(2, 3, 1, 8, palette16, {1, 200, 255, 0}, {0, 0, 0, 0}, -1, 16), iffCUR, 3, 1,
       {255, 255, 255}},
  };
  for (const Case& c : cases) {
    TIEMemStream s(c.file.data(), int64_t(c.file.size()));
    TIEBitmap b;
    TImageryIO io(&b);
    io.LoadStreamAsFileType(s, c.type);
    ASSERT_FALSE(io.Aborting) << c.name;
    ASSERT_EQ(b.GetImageWidth(), c.width) << c.name;
    for (int i = 0; i < c.width * c.height; ++i)
      EXPECT_EQ(b.AlphaPresent() ? b.GetAlphaAt(i % c.width, i / c.width) : 255, c.alpha[size_t(i)]) << c.name << " " << i;
  }
  {
    const std::vector<uint8_t> f = cases[2].file;
    TIEMemStream s(f.data(), int64_t(f.size()));
    TIEBitmap b;
    TImageryIO io(&b);
    io.LoadStreamAsFileType(s, iffCUR);
    EXPECT_EQ(b.GetPixelRGB(0, 0).r, 16);
    EXPECT_EQ(b.GetPixelRGB(1, 0).r, 0);
  }
  // a cursor entry of width 0 is 256 wide
  std::vector<uint8_t> wide = BuildIcon(2, 256, 1, 1, {0, 0, 0, 0, 255, 255, 255, 0}, std::vector<uint8_t>(32, 0xF0),
                                        std::vector<uint8_t>(32, 0), 0, 2);
  TIEMemStream ws(wide.data(), int64_t(wide.size()));
  TIEBitmap wb;
  TImageryIO wio(&wb);
  wio.LoadStreamAsFileType(ws, iffCUR);
  ASSERT_FALSE(wio.Aborting);
  EXPECT_EQ(wb.GetImageWidth(), 256);
  EXPECT_EQ(wio.Params.CURHotSpotX, 3);
  EXPECT_EQ(wio.Params.CURHotSpotY, 4);

  // an index outside the directory reads nothing: the bitmap stays, and the load, which yielded no
  // image, has failed
  TIEMemStream again(cases[0].file.data(), int64_t(cases[0].file.size()));
  TIEBitmap untouched;
  ASSERT_TRUE(untouched.Allocate(7, 7, ie24RGB));
  TImageryIO out(&untouched);
  out.Params.ICOImageIndex = 1;
  out.LoadStreamAsFileType(again, iffICO);
  EXPECT_TRUE(out.Aborting);
  EXPECT_EQ(untouched.GetImageWidth(), 7);

  // a directory that claims more images than the file holds
  std::vector<uint8_t> many = cases[0].file;
  many[4] = 0xFF;
  many[5] = 0xFF;
  TIEMemStream ms(many.data(), int64_t(many.size()));
  TImageryIO mio(&untouched);
  mio.Params.ICOImageIndex = 60000;
  mio.LoadStreamAsFileType(ms, iffICO);
  EXPECT_TRUE(mio.Aborting);
}

TEST(IconRead, ABitmapFileNamedIcoLoadsAsABitmap) {
  TIEBitmap src;
  MakePicture(src, 19, 7);
  {
    TImageryIO io(&src);
    TIEWideFileStream f(W(tq::WorkFile("bitmap.ico")), fmCreate);
    io.SaveStreamAsFileType(f, iffBMP);
  }
  TIEBitmap b;
  TImageryIO io(&b);
  io.LoadByExtension(W(tq::WorkFile("bitmap.ico")));
  ASSERT_FALSE(io.Aborting);
  ExpectSamePixels(src, b);
}

TEST(IconWrite, DefaultSaveIsOne64x64EightBitImage) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  TIEBitmap b;
  MakeAlphaPicture(b, 100, 80, 0);
  TImageryIO io(&b);
  io.SaveByExtension(W(tq::WorkFile("default.ico")));
  ASSERT_FALSE(io.Aborting);
  std::string out;
  ASSERT_EQ(tq::RunHost("icotool -l default.ico 2>/dev/null", &out), 0) << out;
  EXPECT_EQ(out, "--icon --index=1 --width=64 --height=64 --bit-depth=8 --palette-size=256\n");
  const std::vector<uint8_t> f = FileBytes(tq::WorkFile("default.ico"));
  ASSERT_GT(f.size(), 22u + 40 + 4);
  EXPECT_EQ(f[8], 255);                                  // colour count
  EXPECT_EQ(IEReadU16LE(&f[10]) | IEReadU16LE(&f[12]), 0);  // planes and bit count 0
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 62, f.begin() + 66), (std::vector<uint8_t>{0, 0, 0, 0}));  // black first
  // the information header's image size counts the padded AND rows
  EXPECT_EQ(IEReadU32LE(&f[22 + 20]), uint32_t(64 * 64 + 64 * 8));
}

TEST(IconWrite, SeveralSizesAndDepthsInOrder) {
  if (!HostToolsHere()) GTEST_SKIP() << "host tools unreachable";
  TIEBitmap b;
  MakeAlphaPicture(b, 96, 96, 0);
  std::vector<uint8_t> f = SaveIcon(b, {{48, 48}, {32, 32}, {16, 16}, {256, 256}}, {32, 8, 4, 24});
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("sizes.ico"), f.data(), f.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("icotool -l sizes.ico 2>/dev/null", &out), 0) << out;
  EXPECT_EQ(out,
            "--icon --index=1 --width=48 --height=48 --bit-depth=32 --palette-size=0\n"
            "--icon --index=2 --width=32 --height=32 --bit-depth=8 --palette-size=256\n"
            "--icon --index=3 --width=16 --height=16 --bit-depth=4 --palette-size=16\n"
            "--icon --index=4 --width=256 --height=256 --bit-depth=24 --palette-size=0\n");
  EXPECT_EQ(f[6 + 3 * 16], 0);  // 256 is written as 0
  Host("rm -rf sizes.x && mkdir sizes.x && icotool -x -o sizes.x sizes.ico 2>/dev/null && cd sizes.x && for f in *.png; do "
       "/usr/bin/python3 -c \"from PIL import Image; import sys; "
       "sys.stdout.buffer.write(Image.open('$f').convert('RGBA').tobytes())\" > $f.rgba; done");
  const char* extracted[] = {"sizes_1_48x48x32.png", "sizes_2_32x32x8.png", "sizes_3_16x16x4.png", "sizes_4_256x256x24.png"};
  const int side[] = {48, 32, 16, 256};
  for (int i = 0; i < 4; ++i) {
    const std::vector<uint8_t> rgba = FileBytes(tq::WorkFile(std::string("sizes.x\\") + extracted[i] + ".rgba"));
    TIEBitmap expected(side[i], side[i], ie24RGB);
    IEResample(&b, &expected, rfFastLinear, nullptr, TIEProgressEvent());
    ASSERT_EQ(rgba.size(), size_t(side[i] * side[i] * 4)) << i;
    if (i == 0) {  // 32 bits: our resampled image and its alpha as they are
      ExpectRGBA(expected, rgba, extracted[i]);
      continue;
    }
    // the palette and 24-bit entries: the AND rows give the transparency, and icotool decodes what we do
    TIEBitmap back;
    TImageryIO io(&back);
    io.Params.ICOImageIndex = i;
    TIEMemStream s(f.data(), int64_t(f.size()));
    io.LoadStreamAsFileType(s, iffICO);
    ASSERT_FALSE(io.Aborting) << i;
    ExpectRGBA(back, rgba, std::string("our reading of ") + extracted[i]);
    for (int y = 0; y < side[i]; y += 5)
      for (int x = 0; x < side[i]; x += 3)
        EXPECT_EQ(rgba[(size_t(y) * side[i] + x) * 4 + 3], expected.GetAlphaAt(x, y) == 255 ? 255 : 0) << i;
  }
}

TEST(IconWrite, RefusalsShortWritesAndAnAbortMidway) {
  TIEBitmap b;
  MakeAlphaPicture(b, 40, 40, 20);
  bool aborted = false;
  EXPECT_TRUE(SaveIcon(b, {{300, 300}}, {32}, &aborted).empty());
  EXPECT_TRUE(aborted);
  EXPECT_TRUE(SaveIcon(b, {{32, 0}}, {32}, &aborted).empty());
  EXPECT_TRUE(aborted);

  TImageryIO io(&b);
  LimitedStream limited(500);
  io.SaveStreamAsFileType(limited, iffICO);
  EXPECT_TRUE(io.Aborting);

  // the second image is refused by an abort: the directory lists the first only
  TImageryIO stop(&b);
  stop.Params.ICOSizes[1] = TIEICOSize{16, 16};
  stop.Params.ICOBitCount[1] = 32;
  int reports = 0;
  stop.OnProgress = [&](void*, int) {
    if (++reports == 2) stop.Aborting = true;
  };
  TIEMemoryStream s;
  stop.SaveStreamAsFileType(s, iffICO);
  EXPECT_TRUE(stop.Aborting);
  const std::vector<uint8_t> f = StreamBytes(s);
  ASSERT_GT(f.size(), 38u);
  EXPECT_EQ(IEReadU16LE(&f[4]), 1);
  EXPECT_EQ(f[6], 64);
  EXPECT_EQ(IEReadU32LE(&f[6 + 12]), 38u);
  TIEMemStream in(f.data(), int64_t(f.size()));
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadStreamAsFileType(in, iffICO);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(back.GetImageWidth(), 64);
}

TEST(IconAndCursor, MutatedFilesNeverCrash) {
  TIEBitmap b;
  MakeAlphaPicture(b, 21, 13, 0);
  for (int bits : {1, 4, 8, 24, 32}) {
    TIEBitmap src;
    src.Assign(&b);
    if (bits == 1) src.SetPixelFormat(ie1g);
    Mutate(SaveIcon(src, {{bits == 1 ? 17 : 21, 13}}, {bits}), 200, iffICO);
  }
  if (!HostToolsHere()) return;
  HostIcons();
  Mutate(FileBytes(tq::WorkFile("ico\\big.cur")), 100, iffCUR);  // one image: every cut is a truncation
  // the PNG entry alone, as a one-image icon
  Host("cd ico && icotool -c -o png_only.ico -r s256.png");
  Mutate(FileBytes(tq::WorkFile("ico\\png_only.ico")), 200, iffICO);
}
