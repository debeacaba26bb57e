// PSD reading: files ImageMagick wrote against its own decoding and PIL's layers, hand-built files for
// the corners, and mutated files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iecmyk.h"
#include "iepsd.h"
#include "imageryio.h"
#include "psd_util.h"

using namespace iotest;
using namespace psdtest;

namespace {

// A grey PSD of the given rows, PackBits-compressed with the given packed bytes per row.
std::vector<uint8_t> GreyPackBits(int width, const std::vector<std::vector<uint8_t>>& rows) {
  Bytes img;
  img.u16(1);
  for (const auto& r : rows) img.u16(int(r.size()));
  for (const auto& r : rows) img.raw(r);
  return MakePSD(1, width, int(rows.size()), 8, 1, {}, {}, {}, img.b);
}

bool Load(const std::vector<uint8_t>& file, TImageryIO& io) {
  TIEMemStream s(file.data(), int64_t(file.size()));
  io.LoadStreamAsFileType(s, iffPSD);
  return !io.Aborting;
}

// The layers of a file read with LoadLayers on (native pixel formats when asked); false when the read
// set the abort flag.
bool ReadLayers(const std::vector<uint8_t>& file, TIEPSDLayerList& layers, bool native = false) {
  TIEMemStream s(file.data(), int64_t(file.size()));
  TIEBitmap bitmap;
  CodecCall call;
  call.params.IsNativePixelFormat = native;
  IEPSDRead(s, &bitmap, call.params, call.progress, true, &layers);
  return !call.abort;
}

TEST(PSDRead, ImageMagickFilesGiveItsMergedImage) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap src;
  ASSERT_TRUE(WriteSourcePicture(src, 48, 36, "src.ppm"));
  struct Case {
    const char* name;
    const char* options;
    bool pil;       // decoded by PIL (ImageMagick cannot read back its own indexed files)
    int tolerance;  // 16-bit samples are rounded differently
  };
  const Case kCases[] = {
      {"rgb_rle", "-type TrueColor -depth 8 -compress RLE", false, 0},
      {"rgb_raw", "-type TrueColor -depth 8 -compress None", false, 0},
      {"grey", "-type Grayscale -depth 8", false, 0},
      {"rgb16", "-type TrueColor -depth 16", false, 1},
      {"grey16", "-type Grayscale -depth 16", false, 1},
      {"indexed", "-colors 40 -type Palette", true, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string psd = std::string(c.name) + ".psd", ref = std::string(c.name) + ".ppm";
    Host(std::string("convert src.ppm ") + c.options + " " + psd + " && " +
         (c.pil ? "/usr/bin/python3 -c \"from PIL import Image; Image.open('" + psd + "').convert('RGB').save('" + ref + "')\""
                : "convert '" + psd + "[0]' -depth 8 " + ref));
    TIEBitmap back;
    TImageryIO io(&back);
    EXPECT_EQ(io.DetectFileType(misctest::W(tq::WorkFile(psd)), false), iffPSD);
    io.LoadByContent(misctest::W(tq::WorkFile(psd)));
    ASSERT_FALSE(io.Aborting);
    int w, h;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(ReadPPM(tq::WorkFile(ref), w, h, rgb));
    ASSERT_EQ(back.GetImageWidth(), w);
    ASSERT_EQ(back.GetImageHeight(), h);
    EXPECT_EQ(back.GetPixelFormat(), ie24RGB);
    EXPECT_LE(MaxDiff(RGBOf(back), rgb), c.tolerance);
  }
  // CMYK natively: the samples as stored, 255 = no ink (PIL reports ink amounts)
  Host("convert src.ppm -colorspace CMYK -depth 8 cmyk.psd && /usr/bin/python3 -c \"from PIL import Image; "
       "open('cmyk.raw', 'wb').write(Image.open('cmyk.psd').tobytes())\"");
  TIEBitmap back;
  TImageryIO io(&back);
  io.Params.IsNativePixelFormat = true;
  io.LoadAsFileType(misctest::W(tq::WorkFile("cmyk.psd")), iffPSD);
  ASSERT_EQ(back.GetPixelFormat(), ieCMYK);
  std::vector<uint8_t> ours, pil = misctest::FileBytes(tq::WorkFile("cmyk.raw"));
  for (int y = 0; y < back.GetImageHeight(); ++y) {
    const uint8_t* r = back.GetRowAddress(y);
    for (int i = 0; i < back.GetImageWidth() * 4; ++i) ours.push_back(uint8_t(255 - r[i]));
  }
  EXPECT_EQ(ours, pil);
}

TEST(PSDRead, ResolutionAndNativeFormats) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap src;
  ASSERT_TRUE(WriteSourcePicture(src, 20, 10, "small.ppm"));
  Host("convert small.ppm -type TrueColor -depth 16 -units PixelsPerInch -density 72 r16.psd");
  TIEBitmap back;
  TImageryIO io(&back);
  io.Params.IsNativePixelFormat = true;
  io.LoadAsFileType(misctest::W(tq::WorkFile("r16.psd")), iffPSD);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.DpiX, 72);
  EXPECT_EQ(io.Params.DpiY, 72);
  EXPECT_EQ(back.GetPixelFormat(), ieRGB48);
  EXPECT_EQ(io.Params.BitsPerSample, 16);
  // 16-bit samples keep their low byte
  Host("convert small.ppm -type TrueColor -depth 16 -evaluate add 0.3% r16b.psd && "
       "convert 'r16b.psd[0]' -depth 16 -compress none r16b.ppm");
  io.LoadAsFileType(misctest::W(tq::WorkFile("r16b.psd")), iffPSD);
  std::vector<unsigned char> plain;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("r16b.ppm"), plain));
  std::istringstream in(std::string(plain.begin(), plain.end()));
  std::string magic;
  int w, h, maxval;
  in >> magic >> w >> h >> maxval;
  ASSERT_EQ(maxval, 65535);
  int diffs = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TIERGB48 p = back.GetRGB48(x, y);
      int r, g, b;
      in >> r >> g >> b;
      diffs += (p.r != r) + (p.g != g) + (p.b != b);
    }
  EXPECT_EQ(diffs, 0);
}

TEST(PSDRead, LayersAsPILSeesThem) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  Host("convert \\( -size 40x30 xc:red \\) "
       "\\( -size 10x8 gradient:blue-yellow -alpha set -channel A -fx 'i/w' +channel -repage +5+7 -set label top \\) "
       "\\( -size 6x4 xc:lime -repage +20+3 -set label small \\) -depth 8 layers.psd");
  const std::vector<PilLayer> pil = PilLayers("layers.psd", true);
  ASSERT_EQ(pil.size(), 2u);
  std::vector<uint8_t> file = misctest::FileBytes(tq::WorkFile("layers.psd"));
  TIEMemStream s(file.data(), int64_t(file.size()));
  TIEBitmap bitmap;
  bitmap.Allocate(3, 3, ie8g);
  CodecCall call;
  TIEPSDLayerList layers;
  IEPSDRead(s, &bitmap, call.params, call.progress, true, &layers);
  ASSERT_FALSE(call.abort);
  ASSERT_EQ(layers.size(), pil.size());
  EXPECT_EQ(bitmap.GetImageWidth(), 3) << "the merged image is not read when the layers are";
  for (size_t i = 0; i < pil.size(); ++i) {
    SCOPED_TRACE(pil[i].name);
    TIEPSDLayer& l = layers[i];
    EXPECT_EQ(l.Name, pil[i].name);
    EXPECT_EQ(l.PosX, pil[i].x0);
    EXPECT_EQ(l.PosY, pil[i].y0);
    EXPECT_EQ(l.Bitmap->GetImageWidth(), pil[i].x1 - pil[i].x0);
    EXPECT_EQ(l.Bitmap->GetImageHeight(), pil[i].y1 - pil[i].y0);
    EXPECT_EQ(RGBAOf(*l.Bitmap), pil[i].rgba);
    EXPECT_TRUE(l.Visible);
    EXPECT_EQ(l.Transparency, 255);
  }
  // without layer loading the file gives the merged image only
  TIEPSDLayerList none;
  s.SetPosition(0);
  IEPSDRead(s, &bitmap, call.params, call.progress, false, &none);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(bitmap.GetImageWidth(), 40);
  EXPECT_EQ(bitmap.GetPixelRGB(0, 0).r, 255);
}

// A layer section of one 2 x 2 RGB layer at (3, 1): the given channels (id, raw rows), an optional
// user mask (rectangle and its bytes).
std::vector<uint8_t> OneLayerSection(const std::vector<std::pair<int, std::vector<uint8_t>>>& channels,
                                     bool hidden, int opacity, const std::vector<int>& maskRect = {}) {
  Bytes rec;
  rec.u32(1).u32(3).u32(3).u32(5).u16(int(channels.size()));
  for (const auto& c : channels) rec.u16(c.first & 0xFFFF).u32(uint32_t(2 + c.second.size()));
  rec.str("8BIMnorm").u8(opacity).u8(0).u8(hidden ? 2 : 0).u8(0);
  Bytes extra;
  if (maskRect.empty()) {
    extra.u32(0);
  } else {
    extra.u32(20).u32(uint32_t(maskRect[0])).u32(uint32_t(maskRect[1])).u32(uint32_t(maskRect[2]))
        .u32(uint32_t(maskRect[3])).u8(0).u8(0).u16(0);
  }
  extra.u32(0).u8(3).str("abc");
  rec.block(extra.b);
  for (const auto& c : channels) rec.u16(0).raw(c.second);
  Bytes info;
  info.u16(1).raw(rec.b);
  Bytes section;
  section.block(info.b).u32(0);
  return section.b;
}

TEST(PSDRead, HandBuiltCorners) {
  // PackBits: a run that passes the row's end is cut there and the next row starts on its own bytes
  {
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.IsNativePixelFormat = true;
    ASSERT_TRUE(Load(GreyPackBits(4, {{uint8_t(-9), 7}, {3, 1, 2, 3, 4}}), io));
    const uint8_t* r0 = b.GetRowAddress(0);
    const uint8_t* r1 = b.GetRowAddress(1);
    EXPECT_EQ(std::vector<uint8_t>(r0, r0 + 4), std::vector<uint8_t>(4, 7));
    EXPECT_EQ(std::vector<uint8_t>(r1, r1 + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  }
  // a layer section whose layer information is empty: the merged image follows it
  {
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.IsNativePixelFormat = true;
    Bytes section;
    section.u32(0).u32(0);
    Bytes img;
    img.u16(0).u8(11).u8(22);
    ASSERT_TRUE(Load(MakePSD(1, 2, 1, 8, 1, {}, {}, section.b, img.b), io));
    EXPECT_EQ(b.GetRowAddress(0)[1], 22);
  }
  // 1 bit, width 10: all ten pixels of each row, black stored as 1 reads as 0
  {
    Bytes img;
    img.u16(0).u8(0x80).u8(0x40).u8(0x3F).u8(0xC0);
    TIEBitmap b;
    TImageryIO io(&b);
    ASSERT_TRUE(Load(MakePSD(1, 10, 2, 1, 0, {}, {}, {}, img.b), io));
    ASSERT_EQ(b.GetPixelFormat(), ie1g);
    std::string bits;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 10; ++x) bits += b.GetPixelRGB(x, y).r ? '1' : '0';
    EXPECT_EQ(bits, "0111111110" "1100000000");
  }
  // indexed with transparency index 255: those pixels get alpha 0
  {
    std::vector<uint8_t> pal(768, 0);
    pal[1] = 200;  // red of index 1
    Bytes idx;
    idx.u16(255);
    Bytes img;
    img.u16(0).u8(1).u8(255).u8(0).u8(255);
    TIEBitmap b;
    TImageryIO io(&b);
    ASSERT_TRUE(Load(MakePSD(1, 4, 1, 8, 2, pal, Resource(1047, idx.b), {}, img.b), io));
    ASSERT_TRUE(b.AlphaPresent());
    const uint8_t* a = b.GetAlphaChannel()->GetRowAddress(0);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 4), (std::vector<uint8_t>{255, 0, 255, 0}));
    EXPECT_EQ(b.GetPixelRGB(0, 0).r, 200);
  }
  // channel ids beyond the mode's channels are skipped; the user mask becomes a hidden mask layer of
  // the mask rectangle's size right after its layer
  {
    const std::vector<uint8_t> px = {10, 20, 30, 40};
    Bytes img;
    img.u16(0).raw(std::vector<uint8_t>(30 * 3 * 2 / 2, 9));
    std::vector<uint8_t> file = MakePSD(
        3, 10, 3, 8, 3, {}, {},
        OneLayerSection({{0, px}, {1, px}, {2, px}, {-1, {255, 128, 0, 1}}, {9, px}, {-2, {1, 2, 3, 4, 5, 6}}}, true, 128,
                        {0, 1, 2, 4}),
        std::vector<uint8_t>());
    file.insert(file.end(), img.b.begin(), img.b.end());
    TIEPSDLayerList layers;
    ASSERT_TRUE(ReadLayers(file, layers));
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].Name, "abc");
    EXPECT_FALSE(layers[0].Visible);
    EXPECT_EQ(layers[0].Transparency, 128);
    EXPECT_EQ(layers[0].PosX, 3);
    EXPECT_EQ(layers[0].PosY, 1);
    EXPECT_EQ(layers[0].Bitmap->GetPixelRGB(1, 1).r, 40);
    EXPECT_EQ(layers[0].Bitmap->GetAlphaChannel()->GetRowAddress(0)[1], 128);
    EXPECT_TRUE(layers[1].IsMask);
    EXPECT_FALSE(layers[1].Visible);
    EXPECT_EQ(layers[1].PosX, 1);
    EXPECT_EQ(layers[1].PosY, 0);
    EXPECT_EQ(layers[1].Bitmap->GetImageWidth(), 3);
    EXPECT_EQ(layers[1].Bitmap->GetImageHeight(), 2);
    EXPECT_EQ(layers[1].Bitmap->GetRowAddress(1)[2], 6);
  }
}

// The thumbnail resource (a cjpeg file behind its 28-byte header) fills ExifThumbnail and, with
// ReadThumbnail, stands in for the image; our writer's thumbnail reads back the same way.
TEST(PSDRead, ThumbnailResource) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap small;
  ASSERT_TRUE(WriteSourcePicture(small, 16, 12, "thumb.ppm"));
  Host("cjpeg -quality 95 thumb.ppm > thumb.jpg");
  const std::vector<uint8_t> jpeg = misctest::FileBytes(tq::WorkFile("thumb.jpg"));
  Bytes res;
  res.u32(1).u32(16).u32(12).u32(48).u32(16 * 12 * 3).u32(uint32_t(jpeg.size())).u16(24).u16(1).raw(jpeg);
  Bytes img;
  img.u16(0).raw(std::vector<uint8_t>(4 * 3, 50));
  const std::vector<uint8_t> file = MakePSD(1, 4, 3, 8, 1, {}, Resource(1036, res.b), {}, img.b);
  for (bool thumbnail : {false, true}) {
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.ReadThumbnail = thumbnail;
    ASSERT_TRUE(Load(file, io));
    ASSERT_TRUE(io.Params.ExifThumbnail);
    EXPECT_EQ(io.Params.ExifThumbnail->GetImageWidth(), 16);
    EXPECT_EQ(b.GetImageWidth(), thumbnail ? 16 : 4);
    EXPECT_EQ(b.GetImageHeight(), thumbnail ? 12 : 3);
  }
  TIEBitmap merged(8, 8, ie24RGB);
  merged.Fill(0);
  TImageryIO out(&merged);
  out.Params.ExifThumbnail = std::make_shared<TIEBitmap>();
  out.Params.ExifThumbnail->Assign(&small);
  TIEMemoryStream m;
  out.SaveStreamAsFileType(m, iffPSD);
  TIEBitmap back;
  TImageryIO in(&back);
  in.Params.ReadThumbnail = true;
  ASSERT_TRUE(Load(misctest::StreamBytes(m), in));
  EXPECT_EQ(back.GetImageWidth(), 16);
  EXPECT_EQ(back.GetImageHeight(), 12);
}

// A 10 x 7 RGB file with one 6 x 4 layer "zipl" at (2, 1): channels -1, 0, 1, 2 ZIP-compressed
// (compression 2, or 3 with prediction), its layer information in the layer section or, for 16-bit
// files, in an "Lr16" block behind the global layer mask information. Sample (c, x, y) of channel c
// (alpha counted as 3) is (40c + 30x + 50y + 7) mod 256, at 16 bits that times 257 plus x.
int ZipSample(int c, int x, int y, int depth) {
  const int v = (40 * c + 30 * x + 50 * y + 7) % 256;
  return depth == 16 ? v * 257 + x : v;
}

std::vector<uint8_t> ZipLayerFile(int depth, int compression, bool lr16) {
  const int W = 6, H = 4;
  const int ids[] = {-1, 0, 1, 2};
  std::vector<std::vector<uint8_t>> data;
  for (int id : ids) {
    const int c = id < 0 ? 3 : id;
    Bytes rows;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        // with prediction each sample is stored as its difference to the one on its left
        int v = ZipSample(c, x, y, depth);
        if (compression == 3 && x > 0) v -= ZipSample(c, x - 1, y, depth);
        if (depth == 16) rows.u16(v & 0xFFFF);
        else rows.u8(v & 0xFF);
      }
    uLongf n = compressBound(uLong(rows.b.size()));
    std::vector<uint8_t> z(n);
    EXPECT_EQ(compress(z.data(), &n, rows.b.data(), uLong(rows.b.size())), Z_OK);
    z.resize(n);
    data.push_back(Bytes().u16(compression).raw(z).b);
  }
  Bytes info;
  info.u16(1).u32(1).u32(2).u32(1 + H).u32(2 + W).u16(4);
  for (size_t i = 0; i < 4; ++i) info.u16(ids[i] & 0xFFFF).u32(uint32_t(data[i].size()));
  info.str("8BIMnorm").u8(255).u8(0).u8(0).u8(0).block(Bytes().u32(0).u32(0).u8(4).str("zipl").u8(0).u8(0).u8(0).b);
  for (const auto& d : data) info.raw(d);
  if (info.b.size() & 1) info.u8(0);
  Bytes section;
  if (lr16) {
    Bytes block;
    block.str("8BIMLr16").block(info.b);
    while (block.b.size() % 4) block.u8(0);
    section.u32(0).u32(0).raw(block.b);
  } else {
    section.block(info.b).u32(0);
  }
  Bytes img;
  img.u16(0);
  for (int c = 0; c < 3; ++c) img.raw(std::vector<uint8_t>(size_t(10 * 7 * depth / 8), uint8_t(0x11 * (c + 1))));
  return MakePSD(3, 10, 7, depth, 3, {}, {}, section.b, img.b);
}

TEST(PSDRead, ZipChannelsAndLr16BlocksAsImageMagickReadsThem) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  struct Case {
    const char* name;
    int depth, compression;
    bool lr16;
  };
  const Case kCases[] = {
      {"zip8", 8, 2, false},         {"zippred8", 8, 3, false},    {"zippred16", 16, 3, false},
      {"lr16_zippred", 16, 3, true}, {"lr16_zip", 16, 2, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file = ZipLayerFile(c.depth, c.compression, c.lr16);
    const std::string name = std::string(c.name) + ".psd";
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(name), file.data(), file.size()));
    // ImageMagick's 16-bit RGBA of the layer, and its box
    Host("convert '" + name + "[1]' -depth 16 -endian MSB RGBA:" + c.name + ".rgba && convert '" + name +
         "[1]' -format '%l %X %Y %w %h' info: > " + c.name + ".box");
    const std::vector<uint8_t> im = misctest::FileBytes(tq::WorkFile(std::string(c.name) + ".rgba"));
    const std::vector<uint8_t> box = misctest::FileBytes(tq::WorkFile(std::string(c.name) + ".box"));
    EXPECT_EQ(std::string(box.begin(), box.end()), "zipl +2 +1 6 4");
    ASSERT_EQ(im.size(), 6u * 4 * 8);
    TIEPSDLayerList layers;
    ASSERT_TRUE(ReadLayers(file, layers, true));
    ASSERT_EQ(layers.size(), 1u);
    TIEBitmap& l = *layers[0].Bitmap;
    EXPECT_EQ(layers[0].Name, "zipl");
    EXPECT_EQ(layers[0].PosX, 2);
    EXPECT_EQ(layers[0].PosY, 1);
    ASSERT_EQ(l.GetImageWidth(), 6);
    ASSERT_EQ(l.GetImageHeight(), 4);
    ASSERT_EQ(l.GetPixelFormat(), c.depth == 16 ? ieRGB48 : ie24RGB);
    int wrong = 0;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        const uint8_t* p = &im[size_t(y * 6 + x) * 8];
        const int want[4] = {IEReadU16BE(p), IEReadU16BE(p + 2), IEReadU16BE(p + 4), IEReadU16BE(p + 6)};
        int got[3];
        if (c.depth == 16) {
          const TIERGB48 q = l.GetRGB48(x, y);
          got[0] = q.r, got[1] = q.g, got[2] = q.b;
        } else {
          const TIERGB q = l.GetRGB(x, y);
          got[0] = q.r * 257, got[1] = q.g * 257, got[2] = q.b * 257;
        }
        for (int k = 0; k < 3; ++k) wrong += got[k] != want[k];
        // the alpha channel keeps the high byte
        wrong += l.GetAlphaChannel()->GetRowAddress(y)[x] != want[3] >> 8;
      }
    EXPECT_EQ(wrong, 0);
    // cut inside the layer data: refused, nothing delivered
    const std::vector<uint8_t> cut(file.begin(), file.end() - 10 * 7 * 3 * c.depth / 8 - 20);
    TIEPSDLayerList none;
    EXPECT_FALSE(ReadLayers(cut, none, true));
    EXPECT_TRUE(none.empty());
  }
  // ImageMagick's own ZIP-compressed layers (compression 2), 8 and 16 bits
  TIEBitmap src;
  ASSERT_TRUE(WriteSourcePicture(src, 12, 9, "zsrc.ppm"));
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    const std::string name = "imzip" + std::to_string(depth) + ".psd";
    Host("convert \\( -size 20x14 xc:navy \\) \\( zsrc.ppm -alpha set -channel A -fx 'j/h' +channel -repage +4+3 "
         "-set label pic \\) -depth " + std::to_string(depth) + " -compress Zip " + name);
    const std::vector<PilLayer> im = PilLayers(name, false);
    ASSERT_EQ(im.size(), 1u);
    TIEPSDLayerList layers;
    ASSERT_TRUE(ReadLayers(misctest::FileBytes(tq::WorkFile(name)), layers));
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].PosX, 4);
    EXPECT_EQ(layers[0].PosY, 3);
    EXPECT_LE(MaxDiff(RGBAOf(*layers[0].Bitmap), im[0].rgba), depth == 16 ? 1 : 0);
  }
}

// With colour management on, the embedded profile converts every layer and the merged image into
// sRGB (a profile that swaps red and green shows it); with it off the samples stay as stored.
TEST(PSDRead, EmbeddedProfileConvertsWhenColourManagementIsOn) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  const std::string swapped = "/usr/share/color/icc/colord/SwappedRedAndGreen.icc";
  const std::string srgb = "/usr/share/color/icc/sRGB.icc";
  if (tq::RunHost("test -r " + swapped + " && test -r " + srgb) != 0) GTEST_SKIP() << "no test profiles";
  TIEBitmap src;
  ASSERT_TRUE(WriteSourcePicture(src, 16, 10, "icc_src.ppm"));
  // ImageMagick's conversion through the embedded profile into sRGB is the reference
  Host("convert icc_src.ppm -profile " + swapped + " -type TrueColor -depth 8 icc.psd && "
       "convert 'icc.psd[0]' -profile " + srgb + " -depth 8 icc_srgb.ppm && "
       "convert \\( -size 8x4 xc:'rgb(200,60,20)' \\) \\( -size 3x2 xc:'rgb(10,100,250)' -repage +1+1 \\) "
       "\\( -size 2x2 xc:'rgb(90,30,160)' -repage +4+1 \\) -profile " + swapped + " -depth 8 iccl.psd && "
       "convert 'iccl.psd[1]' -profile " + srgb + " -depth 8 iccl1.ppm && "
       "convert 'iccl.psd[2]' -profile " + srgb + " -depth 8 iccl2.ppm");
  int w, h;
  std::vector<uint8_t> managedRef;
  ASSERT_TRUE(ReadPPM(tq::WorkFile("icc_srgb.ppm"), w, h, managedRef));
  for (bool managed : {false, true}) {
    SCOPED_TRACE(managed);
    IEApplyICCProfiles = managed;
    TIEBitmap b;
    TImageryIO io(&b);
    io.LoadAsFileType(misctest::W(tq::WorkFile("icc.psd")), iffPSD);
    IEApplyICCProfiles = false;
    ASSERT_FALSE(io.Aborting);
    EXPECT_FALSE(io.Params.InputICCProfile.Raw().empty());
    if (managed) EXPECT_LE(MaxDiff(RGBOf(b), managedRef), 3);
    else EXPECT_EQ(MaxDiff(RGBOf(b), RGBOf(src)), 0);
  }
  // layers: every one of them goes through the profile, not only the first
  TIEPSDLayerList layers;
  IEApplyICCProfiles = true;
  const bool read = ReadLayers(misctest::FileBytes(tq::WorkFile("iccl.psd")), layers);
  IEApplyICCProfiles = false;
  ASSERT_TRUE(read);
  ASSERT_EQ(layers.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> ref;
    ASSERT_TRUE(ReadPPM(tq::WorkFile("iccl" + std::to_string(i + 1) + ".ppm"), w, h, ref));
    EXPECT_LE(MaxDiff(RGBOf(*layers[size_t(i)].Bitmap), ref), 3);
  }
}

// A 1 x 1 grey file whose one image resource has a name that runs 196 bytes past the end of its
// 12-byte section; there, further in the file, stands a resource size of `size` and eight bytes.
std::vector<uint8_t> ResourceNameBeyondItsSection(uint32_t size) {
  Bytes res;
  res.str("8BIM").u16(1005).u8(200).raw(std::vector<uint8_t>(5, 0));
  Bytes img;
  img.u16(0).u8(77);
  std::vector<uint8_t> f = MakePSD(1, 1, 1, 8, 1, {}, res.b, {}, img.b);
  const size_t sizeAt = 26 + 4 + 4 + 7 + 201;  // header, colour data, section length, signature, id, name length, name
  f.resize(sizeAt, 0);
  Bytes tail;
  tail.u32(size).raw(std::vector<uint8_t>(8, 1));
  f.insert(f.end(), tail.b.begin(), tail.b.end());
  return f;
}

// Files that must be refused with the abort flag, never allocating what they claim.
TEST(PSDRead, RefusedFiles) {
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  };
  Bytes one;
  one.u16(0).u8(5);
  Bytes packedHuge;  // a million rows of PackBits counts the file does not hold
  packedHuge.u16(1).u16(2).u8(0x81).u8(0);
  Bytes hugeLayer;  // a layer rectangle of 60000 x 60000 with six bytes of data
  hugeLayer.u16(1).u32(0).u32(0).u32(60000).u32(60000).u16(1).u16(0).u32(6).str("8BIMnorm").u32(0xFF000000u).u32(8)
      .u32(0).u32(0).u16(0).u32(0);
  Bytes hugeSection;
  hugeSection.block(hugeLayer.b).u32(0);
  const Case kCases[] = {
      {"colour mode 5", MakePSD(1, 1, 1, 8, 5, {}, {}, {}, one.b)},
      {"depth 4", MakePSD(1, 2, 1, 4, 1, {}, {}, {}, one.b)},
      {"CMYK at 1 bit", MakePSD(4, 8, 1, 1, 4, {}, {}, {}, one.b)},
      {"ZIP image data", MakePSD(1, 1, 1, 8, 1, {}, {}, {}, Bytes().u16(2).u8(0).u8(0).b)},
      {"rows the file does not hold", MakePSD(1, 1000, 1000000, 8, 1, {}, {}, {}, packedHuge.b)},
      {"raw rows the file does not hold", MakePSD(3, 40000, 40000, 8, 3, {}, {}, {}, one.b)},
      {"a resource section beyond the file", MakePSD(1, 1, 1, 8, 1, {}, std::vector<uint8_t>(3), {}, one.b)},
      {"a resource name beyond its section", ResourceNameBeyondItsSection(8)},
      {"a resource name beyond its section, then a 4 GiB size", ResourceNameBeyondItsSection(0xFFFFFFF0u)},
      {"bad signature", std::vector<uint8_t>{'8', 'B', 'P', 'X', 0, 1}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> f = c.file;
    if (std::string(c.what) == "a resource section beyond the file") f[29] = 0x7F;  // its length
    TIEBitmap b;
    TImageryIO io(&b);
    EXPECT_FALSE(Load(f, io));
    EXPECT_LE(uint64_t(b.GetImageWidth()) * b.GetImageHeight(), 1000u);
  }
  // the layer path: a rectangle whose channels cannot hold it
  TIEPSDLayerList layers;
  EXPECT_FALSE(ReadLayers(MakePSD(3, 4, 4, 8, 3, {}, {}, hugeSection.b, one.b), layers));
  EXPECT_TRUE(layers.empty());
}

TEST(PSDRead, MutatedFilesNeverCrash) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  TIEBitmap src;
  ASSERT_TRUE(WriteSourcePicture(src, 24, 16, "m.ppm"));
  Host("convert m.ppm -type TrueColor -depth 8 -compress RLE m_rle.psd && "
       "convert m.ppm -type TrueColor -depth 16 -compress None m_raw16.psd && "
       "convert \\( -size 20x12 xc:red \\) \\( m.ppm -alpha set -channel A -fx 'i/w' +channel -repage +3+2 \\) "
       "\\( -size 5x4 xc:lime -repage +9+1 \\) -depth 8 m_layers.psd");
  for (const char* f : {"m_rle.psd", "m_raw16.psd"}) misctest::Mutate(misctest::FileBytes(tq::WorkFile(f)), 150, iffPSD);
  // the layer path: ImageMagick's layers, ZIP channels, an "Lr16" block
  uint32_t seed = 77;
  auto rnd = [&seed] { seed = seed * 1664525u + 1013904223u; return seed >> 8; };
  const std::vector<std::vector<uint8_t>> valids = {misctest::FileBytes(tq::WorkFile("m_layers.psd")),
                                                     ZipLayerFile(8, 3, false), ZipLayerFile(16, 2, true)};
  for (const std::vector<uint8_t>& valid : valids) {
    for (int i = 0; i < 200; ++i) {
      std::vector<uint8_t> f = valid;
      if (i % 2 == 0) f.resize(rnd() % (valid.size() - 1));
      else
        for (int k = 1 + int(rnd() % 8); k > 0; --k) f[rnd() % f.size()] = uint8_t(rnd());
      TIEPSDLayerList layers;
      ReadLayers(f, layers);
      uint64_t pixels = 0;
      for (TIEPSDLayer& l : layers) pixels += uint64_t(l.Bitmap->GetImageWidth()) * l.Bitmap->GetImageHeight();
      EXPECT_LE(pixels, uint64_t(1) << 22);
    }
  }
}

}  // namespace
