#include "giflzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "coder_fixtures.h"

using fx::Bytes;

namespace {

// A one-frame GIF around LZW data (code-size byte, sub-blocks, terminator). Palette entry i is
// (i, 255 - i, 37 i): all distinct, none black or white, so the red channel of a decoded pixel is
// its index.
Bytes MakeGif(int width, int height, int bits, bool interlaced, const Bytes& lzw) {
  Bytes g = {'G', 'I', 'F', '8', '9', 'a'};
  uint8_t b[2];
  IEWriteU16LE(b, uint16_t(width));
  g.insert(g.end(), b, b + 2);
  IEWriteU16LE(b, uint16_t(height));
  g.insert(g.end(), b, b + 2);
  g.push_back(uint8_t(0x80 | ((bits - 1) << 4) | (bits - 1)));
  g.push_back(0);
  g.push_back(0);
  for (int i = 0; i < (1 << bits); ++i) {
    g.push_back(uint8_t(i));
    g.push_back(uint8_t(255 - i));
    g.push_back(uint8_t(i * 37));
  }
  g.push_back(0x2C);
  for (int i = 0; i < 4; ++i) g.push_back(0);
  IEWriteU16LE(b, uint16_t(width));
  g.insert(g.end(), b, b + 2);
  IEWriteU16LE(b, uint16_t(height));
  g.insert(g.end(), b, b + 2);
  g.push_back(interlaced ? 0x40 : 0x00);
  g.insert(g.end(), lzw.begin(), lzw.end());
  g.push_back(0x3B);
  return g;
}

// Where the first image's LZW data starts in a GIF file, and its palette (red channel per index).
struct GifFrame {
  size_t lzwOffset = 0;
  int width = 0, height = 0;
  bool interlaced = false;
  Bytes paletteRed;
};
bool FindFrame(const Bytes& g, GifFrame& f) {
  if (g.size() < 13) return false;
  size_t i = 13;
  auto table = [&](uint8_t packed) {
    const size_t n = size_t(3) << ((packed & 7) + 1);
    f.paletteRed.clear();
    for (size_t k = 0; k < n && i + k < g.size(); k += 3) f.paletteRed.push_back(g[i + k]);
    i += n;
  };
  if (g[10] & 0x80) table(g[10]);
  while (i < g.size()) {
    if (g[i] == 0x21) {
      i += 2;
      while (i < g.size() && g[i] != 0) i += g[i] + 1;
      ++i;
    } else if (g[i] == 0x2C) {
      if (i + 10 > g.size()) return false;
      f.width = IEReadU16LE(&g[i + 5]);
      f.height = IEReadU16LE(&g[i + 7]);
      const uint8_t packed = g[i + 9];
      f.interlaced = (packed & 0x40) != 0;
      i += 10;
      if (packed & 0x80) table(packed);
      f.lzwOffset = i;
      return i < g.size();
    } else {
      return false;
    }
  }
  return false;
}

// The host's PIL: the palette indices of the first frame, in display order.
bool PilIndices(const std::string& gif, Bytes& out) {
  const std::string py =
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]); im.load()\n"
      "sys.exit(3) if im.mode != 'P' else open(sys.argv[2], 'wb').write(im.tobytes())\n";
  if (!fx::WriteWork("pil_indices.py", Bytes(py.begin(), py.end()))) return false;
  int rc = 0;
  fx::Host("/usr/bin/python3 pil_indices.py " + gif + " " + gif + ".idx", &rc);
  if (rc != 0) return false;
  out = fx::ReadWork(gif + ".idx");
  return true;
}

// The host's giftopnm: the red channel of each pixel, which our palette makes the index.
bool GiftopnmIndices(const std::string& gif, Bytes& out) {
  int rc = 0;
  fx::Host("/usr/bin/giftopnm " + gif + " > " + gif + ".ppm 2>/dev/null", &rc);
  fx::Pnm pnm;
  if (rc != 0 || !fx::ParsePnm(fx::ReadWork(gif + ".ppm"), pnm) || pnm.kind != '6') return false;
  out.clear();
  for (size_t i = 0; i < pnm.data.size(); i += 3) out.push_back(pnm.data[i]);
  return true;
}

Bytes Encode(const Bytes& pixels, int width, int height, bool interlaced, int bits) {
  TIEMemoryStream s;
  EXPECT_TRUE(IEGIFLZWCompress(s, height, width, interlaced, pixels.data(), bits));
  return fx::StreamBytes(s);
}

// Decodes LZW data that starts at `offset` of `file`; reports the position afterwards.
bool Decode(const Bytes& file, size_t offset, int width, int height, bool interlaced, Bytes& out,
            int64_t* endPos = nullptr) {
  TIEMemStream s(file.data(), int64_t(file.size()));
  s.SetPosition(int64_t(offset));
  out.assign(size_t(width) * height, 0);
  const bool ok = IEGIFLZWDecompress(s, height, width, interlaced, out.data());
  if (endPos) *endPos = s.GetPosition();
  return ok;
}

Bytes Pattern(int width, int height, int bits, uint32_t seed, bool noise) {
  fx::Rng rng(seed);
  Bytes b(size_t(width) * height);
  const int colours = 1 << bits;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      b[size_t(y) * width + x] =
          uint8_t(noise ? rng.Below(uint32_t(colours)) : ((x / 3 + y / 5 + (rng.Below(9) == 0)) % colours));
  return b;
}

// Reads GIF codes as a decoder would (no table kept), counting clears; also checks the sub-block
// lengths.
struct GifWalk {
  int clears = 0;
  std::vector<int> blockSizes;
};
GifWalk Walk(const Bytes& lzw) {
  GifWalk w;
  const int codeSize = lzw[0];
  Bytes data;
  size_t i = 1;
  while (i < lzw.size() && lzw[i] != 0) {
    w.blockSizes.push_back(lzw[i]);
    data.insert(data.end(), lzw.begin() + long(i) + 1, lzw.begin() + long(i) + 1 + lzw[i]);
    i += lzw[i] + 1;
  }
  const int clear = 1 << codeSize;
  int width = codeSize + 1, nextFree = clear + 2;
  bool first = true;
  int64_t bit = 0;
  while (bit + width <= int64_t(data.size()) * 8) {
    int code = 0;
    for (int k = 0; k < width; ++k, ++bit) code |= ((data[bit >> 3] >> (bit & 7)) & 1) << k;
    if (code == clear) {
      ++w.clears;
      width = codeSize + 1;
      nextFree = clear + 2;
      first = true;
      continue;
    }
    if (code == clear + 1) break;
    if (!first && nextFree < 4096) {
      ++nextFree;
      if (nextFree == (1 << width) && width < 12) ++width;
    }
    first = false;
  }
  return w;
}

// An encoder that never clears: once 4096 codes exist it goes on with 12-bit codes from the full
// table, as GIF89a allows. Written independently of the library's encoder (a map, not a hash).
Bytes EncodeDeferredClear(const Bytes& pixels, int codeSize) {
  Bytes data;
  uint32_t acc = 0;
  int bits = 0;
  int width = codeSize + 1;
  auto emit = [&](int code) {
    acc |= uint32_t(code) << bits;
    bits += width;
    while (bits >= 8) {
      data.push_back(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  const int clear = 1 << codeSize;
  std::map<std::pair<int, int>, int> dict;
  int nextFree = clear + 2;
  emit(clear);
  int cur = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const int k = pixels[i];
    auto it = dict.find({cur, k});
    if (it != dict.end()) {
      cur = it->second;
      continue;
    }
    emit(cur);
    if (nextFree < 4096) {
      if (nextFree >= (1 << width) && width < 12) ++width;
      dict[{cur, k}] = nextFree++;
    }
    cur = k;
  }
  emit(cur);
  if (nextFree >= (1 << width) && width < 12) ++width;
  emit(clear + 1);
  if (bits > 0) data.push_back(uint8_t(acc));
  Bytes lzw = {uint8_t(codeSize)};
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    lzw.push_back(uint8_t(n));
    lzw.insert(lzw.end(), data.begin() + long(i), data.begin() + long(i + n));
  }
  lzw.push_back(0);
  return lzw;
}

}  // namespace

// Our encoder's output, wrapped in a GIF, decodes with PIL and giftopnm to the input; our decoder
// reads it back and stops after the block terminator.
TEST(GIFLZW, EncodedImagesDecodeWithPILAndGiftopnm) {
  struct Case {
    const char* name;
    int width, height, bits;
    bool interlaced, noise;
  };
  const Case kCases[] = {{"noise8", 256, 256, 8, false, true}, {"bits1", 9, 5, 1, false, true},
                         {"inter4", 37, 23, 4, true, false},   {"inter3rows", 11, 3, 8, true, true},
                         {"pixel", 1, 1, 2, false, true},      {"smooth8", 300, 200, 8, false, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes pixels = Pattern(c.width, c.height, c.bits, 21, c.noise);
    const Bytes lzw = Encode(pixels, c.width, c.height, c.interlaced, c.bits);
    ASSERT_FALSE(lzw.empty());
    EXPECT_EQ(lzw[0], std::max(2, c.bits));
    const Bytes gif = MakeGif(c.width, c.height, c.bits, c.interlaced, lzw);
    const std::string name = std::string("enc_") + c.name + ".gif";
    ASSERT_TRUE(fx::WriteWork(name, gif));
    Bytes pil, netpbm;
    ASSERT_TRUE(PilIndices(name, pil));
    EXPECT_EQ(pil, pixels);
    ASSERT_TRUE(GiftopnmIndices(name, netpbm));
    EXPECT_EQ(netpbm, pixels);

    GifFrame f;
    ASSERT_TRUE(FindFrame(gif, f));
    Bytes ours;
    int64_t end = 0;
    EXPECT_TRUE(Decode(gif, f.lzwOffset, c.width, c.height, c.interlaced, ours, &end));
    EXPECT_EQ(ours, pixels);
    EXPECT_EQ(end, int64_t(gif.size()) - 1);  // at the trailer
  }
}

TEST(GIFLZW, NoiseFillsTheTableClearsAndUses254ByteBlocks) {
  const Bytes pixels = Pattern(256, 256, 8, 5, true);
  const GifWalk w = Walk(Encode(pixels, 256, 256, false, 8));
  EXPECT_GE(w.clears, 3);
  ASSERT_GE(w.blockSizes.size(), 2u);
  for (size_t i = 0; i + 1 < w.blockSizes.size(); ++i) ASSERT_EQ(w.blockSizes[i], 254);
  EXPECT_LE(w.blockSizes.back(), 254);
}

TEST(GIFLZW, OneBitImagesUseCodeSizeTwo) {
  const Bytes lzw = Encode(Pattern(9, 5, 1, 2, true), 9, 5, false, 1);
  EXPECT_EQ(lzw[0], 2);
  // The first code is the clear code 4, in 3 bits.
  EXPECT_EQ(lzw[2] & 7, 4);
}

TEST(GIFLZW, InterlacedHeightThreeFillsRowsZeroTwoOne) {
  const Bytes rows = {1, 1, 2, 2, 3, 3};  // three rows of two pixels, in stream order
  const Bytes lzw = Encode(rows, 2, 3, false, 2);
  Bytes out;
  ASSERT_TRUE(Decode(lzw, 0, 2, 3, true, out));
  EXPECT_EQ(out, (Bytes{1, 1, 3, 3, 2, 2}));
}

// GIFs written by PIL (plain and interlaced) and by netpbm's pamtogif decode to the pixels those
// tools were given.
TEST(GIFLZW, DecodesPILAndNetpbmFiles) {
  const std::string py =
      "from PIL import Image\nimport random\nrandom.seed(4)\nw, h = 157, 91\n"
      "px = bytes(((x * 3 + y * 5) // 7 + (random.randrange(6) == 0) * random.randrange(256)) % 256\n"
      "           for y in range(h) for x in range(w))\n"
      "im = Image.frombytes('P', (w, h), px)\n"
      "im.putpalette([v for i in range(256) for v in (i, 255 - i, (i * 37) % 256)])\n"
      "im.save('pil.gif')\nim.save('pil_i.gif', interlace=True)\nopen('pil.raw', 'wb').write(px)\n";
  ASSERT_TRUE(fx::WriteWork("make_pil.py", Bytes(py.begin(), py.end())));
  int rc = 0;
  fx::Host("/usr/bin/python3 make_pil.py", &rc);
  ASSERT_EQ(rc, 0);
  const Bytes raw = fx::ReadWork("pil.raw");
  ASSERT_EQ(raw.size(), size_t(157 * 91));
  for (const char* name : {"pil.gif", "pil_i.gif"}) {
    SCOPED_TRACE(name);
    const Bytes gif = fx::ReadWork(name);
    GifFrame f;
    ASSERT_TRUE(FindFrame(gif, f));
    Bytes ours;
    ASSERT_TRUE(Decode(gif, f.lzwOffset, f.width, f.height, f.interlaced, ours));
    // PIL may reorder or trim the palette: compare colours.
    ASSERT_EQ(ours.size(), raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      ASSERT_LT(ours[i], f.paletteRed.size());
      ASSERT_EQ(f.paletteRed[ours[i]], raw[i]) << "pixel " << i;
    }
  }

  // netpbm, interlaced, from a grey image.
  Bytes grey(size_t(131) * 67);
  for (int y = 0; y < 67; ++y)
    for (int x = 0; x < 131; ++x)
      grey[size_t(y) * 131 + x] = uint8_t((x * 2 + y * 3) % 200 + (x % 7 == 0) * 40);
  ASSERT_TRUE(fx::WriteWork("grey.pgm", fx::MakePnm('5', 131, 67, grey)));
  fx::Host("/usr/bin/pamtogif -interlace grey.pgm > netpbm.gif 2>/dev/null", &rc);
  ASSERT_EQ(rc, 0);
  const Bytes gif = fx::ReadWork("netpbm.gif");
  GifFrame f;
  ASSERT_TRUE(FindFrame(gif, f));
  EXPECT_TRUE(f.interlaced);
  Bytes ours;
  ASSERT_TRUE(Decode(gif, f.lzwOffset, f.width, f.height, f.interlaced, ours));
  for (size_t i = 0; i < grey.size(); ++i) {
    ASSERT_LT(ours[i], f.paletteRed.size());
    ASSERT_EQ(f.paletteRed[ours[i]], grey[i]) << "pixel " << i;
  }
}

// A stream whose encoder keeps using the full table without a clear decodes in full, as it does with
// PIL and giftopnm.
TEST(GIFLZW, DeferredClearStreamDecodesInFull) {
  const int width = 200, height = 200;
  const Bytes pixels = Pattern(width, height, 8, 99, true);
  const Bytes lzw = EncodeDeferredClear(pixels, 8);
  EXPECT_EQ(Walk(lzw).clears, 1);  // only the initial clear
  const Bytes gif = MakeGif(width, height, 8, false, lzw);
  ASSERT_TRUE(fx::WriteWork("deferred.gif", gif));
  Bytes pil, netpbm;
  ASSERT_TRUE(PilIndices("deferred.gif", pil));
  EXPECT_EQ(pil, pixels);
  ASSERT_TRUE(GiftopnmIndices("deferred.gif", netpbm));
  EXPECT_EQ(netpbm, pixels);

  GifFrame f;
  ASSERT_TRUE(FindFrame(gif, f));
  Bytes ours;
  ASSERT_TRUE(Decode(gif, f.lzwOffset, width, height, false, ours));
  EXPECT_EQ(ours, pixels);
}

TEST(GIFLZW, CorruptCodeOrCodeSizeRestoresThePosition) {
  // Code size 3: clear 8, then the pixel 1, then 12 while the next free code is 10.
  const Bytes corrupt = {0x00, 3, 2, 0x18, 0x0C, 0};
  Bytes out;
  int64_t end = -1;
  EXPECT_FALSE(Decode(corrupt, 1, 4, 1, false, out, &end));
  EXPECT_EQ(end, 1);

  const Bytes badSize = {1, 1, 0x00, 0};
  EXPECT_FALSE(Decode(badSize, 0, 4, 1, false, out, &end));
  EXPECT_EQ(end, 0);
}

TEST(GIFLZW, MutatedStreamsNeverWriteOutsideTheImage) {
  const int width = 61, height = 40;
  const Bytes pixels = Pattern(width, height, 8, 17, false);
  const Bytes lzw = Encode(pixels, width, height, true, 8);
  const Bytes noisy = Encode(Pattern(width, height, 8, 3, true), width, height, false, 8);
  int restored = 0;
  for (const Bytes* valid : {&lzw, &noisy}) {
    for (const Bytes& m : fx::Mutations(*valid, 200, 31)) {
      TIEMemStream s(m.data(), int64_t(m.size()));
      fx::FencedBuffer dest(size_t(width) * height);
      const bool ok = IEGIFLZWDecompress(s, height, width, valid == &lzw, dest.data());
      ASSERT_TRUE(dest.FencesIntact());
      ASSERT_LE(s.GetPosition(), int64_t(m.size()));
      if (!ok) {
        ASSERT_EQ(s.GetPosition(), 0);
        ++restored;
      }
    }
  }
  EXPECT_GT(restored, 0);
}
