// The library's GIF reader and writer against netpbm (ppmtogif, giftopnm), ImageMagick and PIL:
// every frame of their files reads as giftopnm reads it, with the position, delay, disposal and
// transparency PIL reports; what we write has the fixed layout and decodes in giftopnm and PIL.
#include "giffilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "coder_fixtures.h"
#include "hostenv.h"
#include "imageryio.h"
#include "iotest_util.h"

using fx::Bytes;
using namespace iotest;

namespace {

struct TGif {
  bool aborted = false;
  int count = 0;
  std::unique_ptr<TIEBitmap> mask;
};

TGif ReadGif(const Bytes& file, int index, TIEBitmap& b, TIOParamsVals& p, bool paramsOnly = false) {
  TIEMemStream s(file.data(), int64_t(file.size()));
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  TGif r;
  TIEBitmap* mask = nullptr;
  p.GIFImageIndex = index;
  IEGIFRead(s, b, r.count, p, progress, paramsOnly, mask, false);
  r.mask.reset(mask);
  r.aborted = abort;
  return r;
}

Bytes WriteGif(TIEBitmap& b, TIOParamsVals& p, bool* aborted = nullptr) {
  TIEMemoryStream s;
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  IEGIFWrite(s, b, p, progress);
  if (aborted) *aborted = abort;
  return fx::StreamBytes(s);
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Shell(const std::string& command) {
  int rc = 0;
  const std::string out = fx::Host(command, &rc);
  EXPECT_EQ(rc, 0) << command << "\n" << out;
  return out;
}

std::string Python(const std::string& name, const std::string& script, const std::string& args = "") {
  EXPECT_TRUE(fx::WriteWork(name, Text(script)));
  return Shell("/usr/bin/python3 " + name + " " + args);
}

// A PNM file as R, G, B bytes (PBM 1 = black, PGM grey).
Bytes PnmRGB(const std::string& name, int& w, int& h) {
  fx::Pnm pnm;
  EXPECT_TRUE(fx::ParsePnm(fx::ReadWork(name), pnm)) << name;
  w = pnm.width;
  h = pnm.height;
  Bytes out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t r, g, b;
      if (pnm.kind == '4') {
        r = g = b = (pnm.data[size_t(y) * ((w + 7) / 8) + x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
      } else if (pnm.kind == '5') {
        r = g = b = pnm.data[size_t(y) * w + x];
      } else {
        const uint8_t* p = &pnm.data[(size_t(y) * w + x) * 3];
        r = p[0], g = p[1], b = p[2];
      }
      out.insert(out.end(), {r, g, b});
    }
  return out;
}

// Per frame, as PIL sees it: "left top width height duration disposal transparency|-".
const char kPilFrames[] =
    "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
    "for n in range(im.n_frames):\n"
    "    im.seek(n)\n"
    "    x0, y0, x1, y1 = im.tile[0][1]\n"
    "    t = im.info.get('transparency')\n"
    "    print(x0, y0, x1 - x0, y1 - y0, im.info.get('duration', 0), im.disposal_method,"
    " '-' if t is None else t)\n";

// Every frame of the file equals giftopnm's reading of it, alpha included, and carries what PIL
// reports. Returns the frame count.
int ExpectFramesAsTools(const std::string& name) {
  SCOPED_TRACE(name);
  const Bytes file = fx::ReadWork(name);
  EXPECT_TRUE(fx::WriteWork("pil_frames.py", Text(kPilFrames)));
  int rc = 0;
  std::istringstream frames(fx::Host("/usr/bin/python3 pil_frames.py " + name, &rc));
  EXPECT_EQ(rc, 0);
  if (rc != 0) return 0;
  int n = 0;
  std::string line;
  while (std::getline(frames, line)) {
    SCOPED_TRACE("frame " + std::to_string(n));
    std::istringstream f(line);
    int x, y, w, h, duration, disposal;
    std::string transparency;
    f >> x >> y >> w >> h >> duration >> disposal >> transparency;
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    const TGif r = ReadGif(file, n, b, p);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(p.GIFXPos, x);
    EXPECT_EQ(p.GIFYPos, y);
    EXPECT_EQ(b.GetImageWidth(), w);
    EXPECT_EQ(b.GetImageHeight(), h);
    EXPECT_EQ(p.GIFDelayTime * 10, duration);
    EXPECT_EQ(p.GIFAction, disposal);
    if (n == 0) {
      EXPECT_EQ(p.GIFFlagTranspColor, transparency != "-");  // PIL names it for frame 0 only
    }

    const std::string ppm = name + "." + std::to_string(n) + ".pnm", pgm = name + ".alpha.pgm";
    Shell("giftopnm -image=" + std::to_string(n + 1) + " -alphaout=" + pgm + " " + name + " > " + ppm);
    int tw = 0, th = 0;
    const Bytes rgb = PnmRGB(ppm, tw, th);
    EXPECT_EQ(tw, w);
    EXPECT_EQ(th, h);
    EXPECT_TRUE(RGBOf(b) == rgb);
    const Bytes alpha = PnmRGB(pgm, tw, th);
    int transparent = 0;
    for (int i = 0; i < w * h; ++i) {
      const int ours = r.mask ? r.mask->GetRowAddress(i / w)[i % w] : 255;
      EXPECT_EQ(ours, alpha[size_t(i) * 3]) << "pixel " << i;
      if (ours != alpha[size_t(i) * 3]) break;
      transparent += ours == 0;
    }
    if (r.mask) {
      EXPECT_GT(transparent, 0);  // a mask is kept only when a pixel uses it
    }
    if (transparent > 0) {
      EXPECT_TRUE(p.GIFFlagTranspColor);
    }
    ++n;
  }
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  const TGif all = ReadGif(file, 0, b, p, true);
  EXPECT_EQ(all.count, n);
  EXPECT_EQ(p.ImageCount, n);
  return n;
}

// A one-frame GIF with a global table of `tableBits` around LZW data.
Bytes MakeGif(int width, int height, int tableBits, const Bytes& lzw, int background = 0,
              int transparentIndex = -1) {
  Bytes g = Text("GIF89a");
  auto put16 = [&](int v) { g.insert(g.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  put16(width);
  put16(height);
  g.insert(g.end(), {uint8_t(0x80 | ((tableBits - 1) << 4) | (tableBits - 1)), uint8_t(background), 0});
  for (int i = 0; i < (1 << tableBits); ++i) g.insert(g.end(), {uint8_t(i * 5), uint8_t(255 - i), uint8_t(i * 37)});
  if (transparentIndex >= 0) g.insert(g.end(), {0x21, 0xF9, 4, 1, 0, 0, uint8_t(transparentIndex), 0});
  g.push_back(0x2C);
  put16(0);
  put16(0);
  put16(width);
  put16(height);
  g.push_back(0);
  g.insert(g.end(), lzw.begin(), lzw.end());
  g.push_back(0x3B);
  return g;
}

// LZW data (code size 8) whose encoder, once the table is full, keeps coding with it instead of
// sending a clear code, as GIF89a allows.
Bytes EncodeDeferredClear(const Bytes& pixels) {
  Bytes out = {8};
  Bytes block;
  uint32_t acc = 0;
  int bits = 0, width = 9, next = 258;
  auto emit = [&](int code) {
    acc |= uint32_t(code) << bits;
    bits += width;
    while (bits >= 8) {
      block.push_back(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  std::map<std::pair<int, int>, int> table;
  emit(256);
  int current = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    auto it = table.find({current, pixels[i]});
    if (it != table.end()) {
      current = it->second;
      continue;
    }
    emit(current);
    if (next < 4096) {
      table[{current, pixels[i]}] = next++;
      if (next > (1 << width) && width < 12) ++width;
    }
    current = pixels[i];
  }
  emit(current);
  emit(257);
  if (bits > 0) block.push_back(uint8_t(acc));
  for (size_t p = 0; p < block.size(); p += 255) {
    const size_t n = std::min<size_t>(255, block.size() - p);
    out.push_back(uint8_t(n));
    out.insert(out.end(), block.begin() + long(p), block.begin() + long(p + n));
  }
  out.push_back(0);
  return out;
}

}  // namespace

// Files of netpbm (interlaced, transparent, comment), PIL (animation with local tables, positions,
// delays, disposals, transparency, a 1-bit red and blue image) and ImageMagick (frames at an offset),
// and 1-bit black and white of width 9.
TEST(GIFRead, FramesOfOtherToolsEqualGiftopnm) {
  TIEBitmap picture;
  MakePicture(picture, 53, 31, 40);
  ASSERT_TRUE(WritePPM(picture, tq::WorkFile("pic.ppm")));
  const TIERGB t = picture.GetRGB(5, 5);
  char colour[32];
  std::snprintf(colour, sizeof colour, "rgb:%02x/%02x/%02x", t.r, t.g, t.b);
  Shell("pamtogif -interlace -comment 'from netpbm' pic.ppm > netpbm_i.gif 2>/dev/null");
  Shell(std::string("ppmtogif -transparent ") + colour + " pic.ppm > netpbm_t.gif 2>/dev/null");
  Shell("pnmscale -xsize 9 -ysize 5 pic.ppm | ppmtopgm | pgmtopbm > nine.pbm && ppmtogif nine.pbm > nine.gif 2>/dev/null");
  Python("make_pil.py",
         "from PIL import Image\n"
         "def frame(shift):\n"
         "    im = Image.new('P', (40, 30))\n"
         "    im.putpalette([(i * 7 + shift) % 256 for i in range(768)])\n"
         "    im.putdata([((x // 5 + y // 3) * 3 + shift) % 64 for y in range(30) for x in range(40)])\n"
         "    return im\n"
         "a, b, c = frame(0), frame(11), frame(11)\n"
         "c.paste(frame(29).crop((10, 5, 30, 20)), (10, 5))\n"
         "a.save('pil_anim.gif', save_all=True, append_images=[b, c], duration=[100, 250, 40],"
         " disposal=[0, 1, 2], transparency=3, comment=b'pil comment', optimize=False)\n"
         "m = Image.new('P', (9, 4))\nm.putpalette([255, 0, 0, 0, 0, 255])\n"
         "m.putdata([(x + y) % 2 for y in range(4) for x in range(9)])\nm.save('redblue.gif')\n");
  Shell("convert -size 20x10 gradient:red-blue f1.ppm && "
      "convert -delay 7 -dispose Background f1.ppm -dispose Previous -delay 9 -page +5+3 "
      "\\( -size 8x6 xc:green \\) im_anim.gif");

  for (const char* name : {"netpbm_i.gif", "netpbm_t.gif", "nine.gif", "pil_anim.gif", "redblue.gif", "im_anim.gif"})
    ExpectFramesAsTools(name);

  TIEBitmap b;
  TIOParamsVals p(nullptr);
  ReadGif(fx::ReadWork("netpbm_i.gif"), 0, b, p);
  EXPECT_TRUE(p.GIFInterlaced);
  ASSERT_EQ(p.GIFComments.size(), 1u);
  EXPECT_EQ(p.GIFComments[0], "from netpbm");
  ReadGif(fx::ReadWork("nine.gif"), 0, b, p);
  EXPECT_EQ(b.GetPixelFormat(), ie1g);
  ReadGif(fx::ReadWork("redblue.gif"), 0, b, p);
  EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
  p.IsNativePixelFormat = true;
  const TGif third = ReadGif(fx::ReadWork("pil_anim.gif"), 2, b, p);
  EXPECT_EQ(third.count, 3);
  EXPECT_EQ(b.GetPixelFormat(), ie8p);
  EXPECT_EQ(p.ColorMapCount, 1 << p.BitsPerSample);
}

// A stream that keeps coding with the full table (no clear) reads in full, as in PIL and giftopnm.
TEST(GIFRead, DeferredClearStreamReadsInFull) {
  const int w = 180, h = 160;
  Bytes pixels(size_t(w) * h);
  fx::Rng rng(5);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(rng.Below(256) < 200 ? (i / 7) % 256 : rng.Below(256));
  ASSERT_TRUE(fx::WriteWork("deferred.gif", MakeGif(w, h, 8, EncodeDeferredClear(pixels))));
  ExpectFramesAsTools("deferred.gif");
  const Bytes pil = Text(Python("pil_idx.py",
                                "from PIL import Image\nimport sys\n"
                                "sys.stdout.write(Image.open('deferred.gif').tobytes().hex())\n"));
  std::string hex;
  for (uint8_t v : pixels) {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", v);
    hex += b;
  }
  EXPECT_TRUE(pil == Text(hex));
}

// Indices beyond the table, a background or transparent index beyond it, and a frame larger than its
// data could fill.
TEST(GIFRead, ValuesFromTheFileAreBounded) {
  Bytes pixels(40);
  for (int i = 0; i < 40; ++i) pixels[size_t(i)] = uint8_t(i % 2 ? 200 : 1);
  TIEMemoryStream lzw;
  ASSERT_TRUE(IEGIFLZWCompress(lzw, 4, 10, false, pixels.data(), 8));
  const Bytes data = fx::StreamBytes(lzw);
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  const TGif r = ReadGif(MakeGif(10, 4, 2, data, 9, 77), 0, b, p);
  EXPECT_FALSE(r.aborted);
  EXPECT_EQ(b.GetRGB(1, 0).r, 0);  // index 200 of a 4-entry table: black
  EXPECT_EQ(b.GetRGB(0, 0).r, 5);
  EXPECT_EQ(p.GIFBackground.r, 0);
  EXPECT_EQ(p.GIFTranspColor.r, 0);

  Bytes huge = MakeGif(10, 4, 2, data);
  // 16000 x 16000: a size the library allows, but far more pixels than 60 bytes of data can fill
  huge[13 + 12 + 5] = huge[13 + 12 + 7] = 0x80;
  huge[13 + 12 + 6] = huge[13 + 12 + 8] = 0x3E;
  TIEBitmap untouched(3, 3, ie24RGB);
  const TGif big = ReadGif(huge, 0, untouched, p);
  EXPECT_TRUE(big.aborted);
  EXPECT_EQ(untouched.GetImageWidth(), 3);
}

TEST(GIFRead, MutatedFilesNeverCrash) {
  TIEBitmap picture;
  MakePicture(picture, 37, 23, 90);
  TIOParamsVals p(nullptr);
  p.GIFInterlaced = true;
  p.GIFComments = {"mutation"};
  picture.GetAlphaChannel()->SetByte(3, 3, 0);
  const Bytes ours = WriteGif(picture, p);
  ASSERT_TRUE(WritePPM(picture, tq::WorkFile("mut.ppm")));
  Shell("convert mut.ppm -colors 16 \\( mut.ppm -flip -colors 7 \\) mut_im.gif");
  int seed = 1;
  for (const Bytes& valid : {ours, fx::ReadWork("mut_im.gif")}) {
    for (const Bytes& m : fx::Mutations(valid, 400, uint32_t(seed++))) {
      for (int frame : {0, 1}) {
        TIEBitmap b;
        TIOParamsVals q(nullptr);
        q.IsNativePixelFormat = frame == 1;
        const TGif r = ReadGif(m, frame, b, q);
        EXPECT_LE(b.GetImageWidth(), 65535);
      }
    }
  }
}

// A default save of a 24-bit bitmap: the fixed layout byte for byte, and giftopnm reads our indices.
TEST(GIFWrite, DefaultLayout) {
  TIEBitmap picture;
  MakePicture(picture, 53, 31, 40);
  TImageryIO io(&picture);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffGIF);
  EXPECT_FALSE(io.Aborting);
  const Bytes g = fx::StreamBytes(s);
  ASSERT_GT(g.size(), 800u);
  EXPECT_TRUE(Bytes(g.begin(), g.begin() + 6) == Text("GIF89a"));
  EXPECT_TRUE(Bytes(g.begin() + 6, g.begin() + 13) == (Bytes{53, 0, 31, 0, 0xF7, g[11], 0}));
  const size_t gce = 13 + 768;
  EXPECT_TRUE(Bytes(g.begin() + long(gce), g.begin() + long(gce) + 6) == (Bytes{0x21, 0xF9, 4, 8, 0, 0}));
  EXPECT_EQ(g[gce + 7], 0);
  EXPECT_TRUE(Bytes(g.begin() + long(gce) + 8, g.begin() + long(gce) + 19) ==
              (Bytes{0x2C, 0, 0, 0, 0, 53, 0, 31, 0, 0, 8}));
  EXPECT_TRUE(Bytes(g.end() - 4, g.end()) == (Bytes{0x21, 0xFE, 0, 0x3B}));
  ASSERT_TRUE(fx::WriteWork("default.gif", g));
  Shell("giftopnm default.gif > default.ppm");
  int w = 0, h = 0;
  EXPECT_TRUE(PnmRGB("default.ppm", w, h) == RGBOf(picture));  // 40 colours: every one exact
}

// A frame placed away from the origin lies inside the logical screen written with it.
TEST(GIFWrite, TheScreenHoldsAPlacedFrame) {
  TIEBitmap picture;
  MakePicture(picture, 30, 20, 16);
  TIOParamsVals p(nullptr);
  p.GIFXPos = 5;
  p.GIFYPos = 4;
  const Bytes g = WriteGif(picture, p);
  ASSERT_TRUE(fx::WriteWork("placed.gif", g));
  const std::string out = Python("pil_placed.py",
                                 "from PIL import Image\nim = Image.open('placed.gif')\n"
                                 "print(im.size, im.tile[0][1])\n");
  EXPECT_EQ(out.substr(0, out.find_last_not_of("\r\n") + 1), "(35, 24) (5, 4, 35, 24)");
}

// One bit (also for bit depths below 1) uses code size 2; depths above 8 write 8.
TEST(GIFWrite, BitDepthsAndCodeSize) {
  TIEBitmap bw(21, 7, ie24RGB);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 21; ++x) bw.SetRGB(x, y, (x * y + x) % 3 ? TIERGB{255, 255, 255} : TIERGB{0, 0, 0});
  for (int bits : {1, 0}) {
    TIOParamsVals p(nullptr);
    p.BitsPerSample = bits;
    const Bytes g = WriteGif(bw, p);
    ASSERT_GT(g.size(), 40u);
    EXPECT_EQ(g[10], 0x80);
    EXPECT_EQ(g[13 + 6 + 8 + 10], 2);  // after table, control extension and descriptor
    ASSERT_TRUE(fx::WriteWork("bw.gif", g));
    Shell("giftopnm bw.gif > bw.pnm");
    int w = 0, h = 0;
    EXPECT_TRUE(PnmRGB("bw.pnm", w, h) == RGBOf(bw)) << bits;
  }
  TIOParamsVals p(nullptr);
  p.BitsPerSample = 12;
  EXPECT_EQ(WriteGif(bw, p)[10], 0xF7);
}

// 256 x 256 noise: data in 254-byte sub-blocks; giftopnm gives every pixel a colour of our table.
TEST(GIFWrite, NoiseUsesFullSubBlocks) {
  TIEBitmap noise(256, 256, ie24RGB);
  fx::Rng rng(77);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      noise.SetRGB(x, y, TIERGB{uint8_t(rng.Below(256)), uint8_t(rng.Below(256)), uint8_t(rng.Below(256))});
  TIOParamsVals p(nullptr);
  const Bytes g = WriteGif(noise, p);
  size_t i = 13 + 768 + 8 + 10 + 1;
  std::vector<int> blocks;
  while (i < g.size() && g[i] != 0) {
    blocks.push_back(g[i]);
    i += g[i] + 1u;
  }
  ASSERT_GT(blocks.size(), 10u);
  for (size_t k = 0; k + 1 < blocks.size(); ++k) ASSERT_EQ(blocks[k], 254) << k;
  ASSERT_TRUE(fx::WriteWork("noise.gif", g));
  Shell("giftopnm noise.gif > noise.ppm");
  int w = 0, h = 0;
  const Bytes rgb = PnmRGB("noise.ppm", w, h);
  ASSERT_EQ(rgb.size(), size_t(256 * 256 * 3));
  std::map<uint32_t, int> table;
  for (int k = 0; k < 256; ++k) table[(uint32_t(g[13 + 3 * k]) << 16) | (g[14 + 3 * k] << 8) | g[15 + 3 * k]] = k;
  for (size_t k = 0; k < rgb.size(); k += 3)
    ASSERT_TRUE(table.count((uint32_t(rgb[k]) << 16) | (rgb[k + 1] << 8) | rgb[k + 2])) << k / 3;
}

// With an alpha channel: 255 colours, index 255 marks transparent pixels, as PIL reports; comment
// lines longer than a sub-block continue in the next sub-blocks.
TEST(GIFWrite, AlphaAndLongComments) {
  TIEBitmap picture;
  MakePicture(picture, 30, 20);
  TIEBitmap* alpha = picture.GetAlphaChannel();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) alpha->SetByte(x, y, x < 10 ? 0 : (x < 12 ? 128 : 255));
  TIOParamsVals p(nullptr);
  const std::string longLine(300, 'x');
  p.GIFComments = {longLine + "end", "short"};
  const Bytes g = WriteGif(picture, p);
  EXPECT_FALSE(p.GIFFlagTranspColor);  // the file marks its transparent index; the parameters stay
  ASSERT_TRUE(fx::WriteWork("alpha.gif", g));
  const std::string out = Python("pil_alpha.py",
                                 "from PIL import Image\nim = Image.open('alpha.gif')\n"
                                 "px = list(im.getdata())\nw = im.size[0]\n"
                                 "print(im.info['transparency'], all((px[i] == 255) == (i % w < 12) for i in range(len(px))))\n");
  EXPECT_EQ(out, "255 True\n");
  // the 303-character line goes out as sub-blocks of 255 and 48 characters
  EXPECT_EQ(Shell("giftopnm -comments alpha.gif 2>&1 >/dev/null"),
            "giftopnm: gif comment: " + std::string(255, 'x') + "\ngiftopnm: gif comment: " + std::string(45, 'x') +
                "end\ngiftopnm: gif comment: short\n");
}

// Through the component: a bitmap with alpha saved as GIF loads back with its transparent pixels.
TEST(GIFWrite, AlphaThroughTheComponent) {
  TIEBitmap picture;
  MakePicture(picture, 16, 9, 20);
  picture.GetAlphaChannel()->SetByte(4, 2, 0);
  TImageryIO io(&picture);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffGIF);
  EXPECT_FALSE(io.Aborting);
  TIEBitmap back;
  TImageryIO reader(&back);
  s.SetPosition(0);
  reader.LoadStreamByContent(s);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.FileType, iffGIF);
  ASSERT_TRUE(back.AlphaPresent());
  EXPECT_EQ(back.GetAlphaAt(4, 2), 0);
  EXPECT_EQ(back.GetAlphaAt(5, 2), 255);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x)
      if (x != 4 || y != 2) {
        const TIERGB a = back.GetPixelRGB(x, y), b = picture.GetPixelRGB(x, y);
        ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b) << x << "," << y;  // 20 colours: exact
      }
}
