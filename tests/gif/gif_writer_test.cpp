// The GIF writer: stream layout byte for byte, the LZW code sequence, interlace order and the
// run-length coder, checked against the host's decoders (PIL, netpbm's giftopnm).
#include <cstring>
#include <random>

#include "gifextension.h"
#include "giftesthelp.h"

using giftest::SaveBytes;

namespace {

// A frame of the given size with a local map of `colors` distinct greys and the given pixels.
TGIFSubImage* AddFrame(TGIFImage& image, int w, int h, int colors, const std::vector<uint8_t>& pixels) {
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(0, 0, w, h);
  for (int i = 0; i < colors; ++i) frame->ColorMap().AppendColor(GIFColorValue(uint8_t(i), uint8_t(255 - i), 7));
  frame->Pixels() = pixels;
  TGIFSubImage* raw = frame.get();
  image.AddFrame(std::move(frame));
  return raw;
}

// Reads the LZW codes of one image data block (code size byte at `pos`) the way a standard
// decoder sizes them; returns each code with its width.
struct Code {
  int value, width;
};
std::vector<Code> ReadCodes(const std::vector<uint8_t>& file, size_t pos) {
  const int codeSize = file[pos++];
  std::vector<uint8_t> data;
  for (int n = file[pos++]; n != 0; n = file[pos++]) {
    data.insert(data.end(), file.begin() + long(pos), file.begin() + long(pos) + n);
    pos += size_t(n);
  }
  const int clear = 1 << codeSize;
  int width = codeSize + 1, nextFree = clear + 2;
  bool first = true;
  std::vector<Code> codes;
  size_t bit = 0;
  while (bit + size_t(width) <= data.size() * 8) {
    int v = 0;
    for (int i = 0; i < width; ++i, ++bit) v |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
    codes.push_back({v, width});
    if (v == clear + 1) break;
    if (v == clear) {
      width = codeSize + 1;
      nextFree = clear + 2;
      first = true;
      continue;
    }
    if (!first && nextFree < 4096) {
      ++nextFree;
      if (nextFree == (1 << width) && width < 12) ++width;
    }
    first = false;
  }
  return codes;
}

}  // namespace

TEST(GifWriter, SinglePixelFrameLayout) {
  TGIFImage image;
  AddFrame(image, 1, 1, 2, {0});
  const std::vector<uint8_t> expected = {
      'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0x00, 0, 0,      // header, logical screen
      0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x80,                        // descriptor, 2-entry local map
      0, 255, 7, 1, 254, 7,                                      // local colour map
      2, 2, 0x44, 0x01, 0,                                       // code size 2; codes 4, 0, 5
      0x3B};
  EXPECT_EQ(SaveBytes(image), expected);
}

TEST(GifWriter, LzwCodesOfOneLongRun) {
  TGIFImage image;
  AddFrame(image, 300, 1, 2, std::vector<uint8_t>(300, 1));
  const std::vector<uint8_t> file = SaveBytes(image);
  const size_t dataPos = 6 + 7 + 10 + 6;
  std::vector<Code> codes = ReadCodes(file, dataPos);
  ASSERT_GE(codes.size(), 4u);
  EXPECT_EQ(codes[0].value, 4);
  EXPECT_EQ(codes[1].value, 1);
  EXPECT_EQ(codes.back().value, 5);
  int covered = 1, first4 = -1, first5 = -1;
  for (size_t i = 2; i + 1 < codes.size(); ++i) {
    if (i + 2 < codes.size()) {
      EXPECT_EQ(codes[i].value, int(4 + i)) << i;  // runs of 2, 3, 4, ...
    }
    if (codes[i].width == 4 && first4 < 0) first4 = codes[i].value;
    if (codes[i].width == 5 && first5 < 0) first5 = codes[i].value;
    covered += int(i);  // code 4 + i stands for a run of i pixels
  }
  EXPECT_EQ(first4, 8);
  EXPECT_EQ(first5, 16);
  EXPECT_GE(covered, 300);
  EXPECT_EQ(file.back(), 0x3B);
}

TEST(GifWriter, CommentSubBlocksAndVersion) {
  TGIFImage image;
  TGIFSubImage* frame = AddFrame(image, 1, 1, 2, {1});
  auto comment = std::make_unique<TGIFCommentExtension>(frame);
  comment->Lines.push_back(std::string(300, 'c'));
  frame->AddExtension(std::move(comment));
  const std::vector<uint8_t> file = SaveBytes(image);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
  ASSERT_GT(file.size(), 13u + 4 + 300);
  EXPECT_EQ(file[13], 0x21);
  EXPECT_EQ(file[14], 0xFE);
  EXPECT_EQ(file[15], 255);
  EXPECT_EQ(file[15 + 256], 45);
  EXPECT_EQ(file[15 + 256 + 46], 0);
  EXPECT_EQ(file[15 + 256 + 47], 0x2C);
}

TEST(GifWriter, PixelBeyondColorMapIsRefused) {
  TGIFImage image;
  AddFrame(image, 2, 1, 3, {0, 3});
  TGIFMemoryStream s;
  try {
    image.SaveToStream(s);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "Color not in color table");
  }
  EXPECT_THROW(TGIFImage().SaveToStream(s), GIFException);  // no frames: no version to write
}

// Interlace: a frame on the global map keeps its interlace flag and is written in pass order; one
// with a local map is written non-interlaced. PIL reads both back to the same pixels.
TEST(GifWriter, InterlaceOrderReadByPil) {
  TGIFImage image;
  for (int i = 0; i < 4; ++i) image.GlobalColorMap().AppendColor(GIFColorValue(uint8_t(60 * i), 0, 0));
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(0, 0, 1, 3);
  frame->Pixels() = {0, 1, 2};
  frame->SetInterlaced(true);
  image.AddFrame(std::move(frame));
  std::vector<uint8_t> file = SaveBytes(image);
  const size_t desc = 6 + 7 + 12;
  ASSERT_EQ(file[desc], 0x2C);
  EXPECT_EQ(file[desc + 9] & 0x40, 0x40);
  std::vector<Code> codes = ReadCodes(file, desc + 10);
  ASSERT_GE(codes.size(), 5u);
  EXPECT_EQ(codes[1].value, 0);  // rows 0, 2, 1
  EXPECT_EQ(codes[2].value, 2);
  EXPECT_EQ(codes[3].value, 1);
  giftest::WriteWorkFile("interlaced.gif", file);

  TGIFImage local;
  TGIFSubImage* lf = AddFrame(local, 1, 3, 4, {0, 1, 2});
  lf->SetInterlaced(true);
  file = SaveBytes(local);
  EXPECT_EQ(file[13 + 9] & 0x40, 0);
  EXPECT_FALSE(lf->Interlaced());
  giftest::WriteWorkFile("local.gif", file);
  std::string out;
  ASSERT_EQ(giftest::RunPython("from PIL import Image\n"
                               "for n in ('interlaced.gif','local.gif'):\n"
                               "  print(list(Image.open(n).getdata()))\n",
                               &out), 0);
  EXPECT_EQ(out, "[0, 1, 2]\n[0, 1, 2]\n");
}

// The run-length coder and the LZW coder give files that the host's decoders read to the same
// pixels, for pictures with short and long runs and maps of 2 to 256 colours.
TEST(GifWriter, BothCodersDecodeOnHost) {
  struct Case {
    const char* name;
    int colors, w, h;
    int runScale;  // typical run length
    bool interlaced;
  };
  const Case kCases[] = {{"c2", 2, 61, 37, 1, false},   {"c4", 3, 200, 90, 7, false},
                         {"c16", 16, 333, 100, 40, true}, {"c256", 256, 320, 200, 3, false},
                         {"flat", 256, 800, 600, 100000, false}, {"c8long", 8, 1000, 300, 900, false}};
  std::mt19937 rng(7);
  for (const Case& c : kCases) {
    std::vector<uint8_t> pixels(size_t(c.w) * size_t(c.h));
    size_t i = 0;
    while (i < pixels.size()) {
      const int run = 1 + int(rng() % uint32_t(c.runScale));
      const uint8_t v = uint8_t(rng() % uint32_t(c.colors));
      for (int k = 0; k < run && i < pixels.size(); ++k) pixels[i++] = v;
    }
    for (TGIFCompression compression : {gifLZW, gifRunLength}) {
      SCOPED_TRACE(std::string(c.name) + (compression == gifLZW ? " lzw" : " rle"));
      TGIFImage image;
      image.Compression = compression;
      TGIFSubImage* frame = AddFrame(image, c.w, c.h, c.colors, pixels);
      // A global map keeps the interlace flag.
      if (c.interlaced) {
        image.GlobalColorMap().Assign(frame->ColorMap());
        frame->ColorMap().Clear();
        frame->SetInterlaced(true);
      }
      giftest::WriteWorkFile("coder.gif", SaveBytes(image));
      ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c " +
                            tq::ShellQuote("from PIL import Image\n"
                                           "open('pil.bin','wb').write(Image.open('coder.gif').tobytes())")),
                0);
      EXPECT_TRUE(giftest::ReadWorkFile("pil.bin") == pixels);
      ASSERT_EQ(tq::RunHost("giftopnm coder.gif > coder.ppm 2>/dev/null"), 0);
      std::vector<uint8_t> ppm = giftest::ReadWorkFile("coder.ppm");
      ASSERT_GE(ppm.size(), pixels.size() * 3);
      const uint8_t* rgb = ppm.data() + ppm.size() - pixels.size() * 3;
      size_t wrong = 0;
      for (size_t k = 0; k < pixels.size(); ++k)
        if (rgb[3 * k] != pixels[k] || rgb[3 * k + 1] != 255 - pixels[k]) ++wrong;
      EXPECT_EQ(wrong, 0u);
    }
  }
}

// The conversion's road: a 640 x 480 24-bit picture with octree, Floyd-Steinberg and 8 bits.
TEST(GifWriter, ConversionRoadReadByPilAndNetpbm) {
  TGIFBitmap picture = giftest::Picture(640, 480, [](int x, int y) {
    const uint32_t noise = (uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 27;
    return TGIFColor{uint8_t(x * 255 / 639), uint8_t((y * 255 / 479 + noise) & 255), uint8_t((x + y) / 5 + noise)};
  });
  TGIFImage image;
  image.PaletteMode = gpOctree;
  image.DitherStyle = gdFloydSteinberg;
  image.SetPaletteBits(8);
  image.Assign(picture);
  ASSERT_EQ(image.Images().Count(), 1);
  TGIFSubImage& frame = image.Images()[0];
  EXPECT_EQ(frame.Left(), 0);
  EXPECT_EQ(frame.Top(), 0);
  EXPECT_EQ(frame.Width(), 640);
  EXPECT_EQ(frame.Height(), 480);
  EXPECT_LE(frame.ColorMap().Count(), 256);
  EXPECT_GT(frame.ColorMap().Count(), 0);
  EXPECT_TRUE(frame.Extensions().empty());
  EXPECT_EQ(image.GlobalColorMap().Count(), 0);
  EXPECT_EQ(image.Width(), 640);
  EXPECT_EQ(image.Height(), 480);

  const std::vector<uint8_t> file = SaveBytes(image);
  const int bits = frame.ColorMap().BitsNeeded();
  const std::vector<uint8_t> head = {'G', 'I', 'F', '8', '7', 'a', 0x80, 0x02, 0xE0, 0x01,
                                     uint8_t(((bits - 1) << 4) | (bits - 1)), 0, 0,
                                     0x2C, 0, 0, 0, 0, 0x80, 0x02, 0xE0, 0x01, uint8_t(0x80 | (bits - 1))};
  ASSERT_GT(file.size(), head.size() + 768);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), file.begin()));
  const size_t table = head.size();
  for (int i = 0; i < frame.ColorMap().Count(); ++i) {
    const TGIFColor& c = frame.ColorMap().Entries()[size_t(i)];
    EXPECT_EQ(file[table + 3 * size_t(i)], c.Red);
    EXPECT_EQ(file[table + 3 * size_t(i) + 2], c.Blue);
  }
  EXPECT_EQ(file[table + (size_t(3) << bits)], std::max(2, bits));  // LZW minimum code size
  EXPECT_EQ(file[file.size() - 2], 0);                               // block terminator
  EXPECT_EQ(file.back(), 0x3B);
  giftest::WriteWorkFile("road.gif", file);

  ASSERT_EQ(giftest::RunPython("from PIL import Image\n"
                               "im = Image.open('road.gif')\n"
                               "assert im.mode == 'P' and im.size == (640, 480), (im.mode, im.size)\n"
                               "open('road_idx.bin','wb').write(im.tobytes())\n"
                               "open('road_pal.bin','wb').write(bytes(im.getpalette()))\n"),
            0);
  EXPECT_TRUE(giftest::ReadWorkFile("road_idx.bin") == frame.Pixels());
  const std::vector<uint8_t> pal = giftest::ReadWorkFile("road_pal.bin");
  ASSERT_GE(pal.size(), size_t(frame.ColorMap().Count()) * 3);
  for (int i = 0; i < frame.ColorMap().Count(); ++i) {
    const TGIFColor& c = frame.ColorMap().Entries()[size_t(i)];
    EXPECT_TRUE(pal[3 * size_t(i)] == c.Red && pal[3 * size_t(i) + 1] == c.Green && pal[3 * size_t(i) + 2] == c.Blue) << i;
  }
  ASSERT_EQ(tq::RunHost("giftopnm road.gif > road.ppm"), 0);
  const std::vector<uint8_t> ppm = giftest::ReadWorkFile("road.ppm");
  ASSERT_GE(ppm.size(), size_t(640 * 480 * 3));
  const uint8_t* rgb = ppm.data() + ppm.size() - 640 * 480 * 3;
  size_t wrong = 0;
  for (size_t k = 0; k < frame.Pixels().size(); ++k) {
    const TGIFColor& c = frame.ColorMap().Entries()[frame.Pixels()[k]];
    if (rgb[3 * k] != c.Red || rgb[3 * k + 1] != c.Green || rgb[3 * k + 2] != c.Blue) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
}
