// TIFF reading of JPEG data (new and old style), YCbCr, CIELab, palette with alpha, single tiles,
// sub-images and the page's descriptive tags, against libtiff's tools and PIL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "tinytiff.h"
#include "hostenv.h"
#include "imageryio.h"
#include "vodevovur.h"

using namespace iotest;
using namespace misctest;
using namespace tifftest;

namespace {

// Pixels of `tif` against `expected` (w x h R, G, B), each channel within `tolerance`, and on
// average within `mean`.
void ExpectPixels(TIEBitmap& b, int w, int h, const std::vector<uint8_t>& expected, int tolerance,
                  const std::string& what, double mean = 255) {
  ASSERT_EQ(b.GetImageWidth(), w) << what;
  ASSERT_EQ(b.GetImageHeight(), h) << what;
  ASSERT_EQ(expected.size(), size_t(w) * h * 3) << what;
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TIERGB p = b.GetPixelRGB(x, y);
      const uint8_t* e = &expected[(size_t(y) * w + x) * 3];
      sum += std::abs(p.r - e[0]) + std::abs(p.g - e[1]) + std::abs(p.b - e[2]);
      if (std::abs(p.r - e[0]) > tolerance || std::abs(p.g - e[1]) > tolerance || std::abs(p.b - e[2]) > tolerance) {
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(p.r) << " " << int(p.g) << " "
                      << int(p.b) << ", expected " << int(e[0]) << " " << int(e[1]) << " " << int(e[2]);
        return;
      }
    }
  EXPECT_LE(sum / (double(w) * h * 3), mean) << what;
}

// What libtiff's RGBA interface makes of `tif` (YCbCr, CIELab and JPEG included), as R, G, B.
std::vector<uint8_t> LibtiffRGB(const std::string& tif, int& w, int& h) {
  Host("tiff2rgba -n " + tif + " " + tif + ".rgba.tif && tifftopnm " + tif + ".rgba.tif 2>/dev/null > " + tif +
       ".ppm");
  std::vector<uint8_t> rgb;
  if (!ReadPPM(tq::WorkFile(tif + ".ppm"), w, h, rgb)) ADD_FAILURE() << "no tiff2rgba output for " << tif;
  return rgb;
}

void LoadFile(TImageryIO& io, const std::string& name) { io.LoadByContent(W(tq::WorkFile(name))); }

// Loads `file`, expects `field` of its parameters to be `value` and its pixels within `tolerance`
// (and `mean` on average) of libtiff's RGBA interface.
void ExpectLikeLibtiff(const std::string& file, int TIOParamsVals::*field, int value, int tolerance,
                       const std::string& what, double mean = 255) {
  int w = 0, h = 0;
  const std::vector<uint8_t> ref = LibtiffRGB(file, w, h);
  TIEBitmap b;
  TImageryIO io(&b);
  LoadFile(io, file);
  ASSERT_FALSE(io.Aborting) << what;
  EXPECT_EQ(io.Params.*field, value) << what;
  ExpectPixels(b, w, h, ref, tolerance, what, mean);
}

class TIFFReadKinds : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/tiffcp && test -x /usr/bin/tiff2rgba") != 0)
      GTEST_SKIP() << "needs wine with libtiff tools";
    IELibraryStaticInit();
    started_ = true;
  }
  void TearDown() override {
    if (started_) IELibraryStaticFini();
  }
  bool started_ = false;
};

// tiffcp's JPEG layouts (YCbCr subsampled, RGB, grey; strips, tiles, planes; shared tables), within
// 2 levels of libtiff's own decoding.
TEST_F(TIFFReadKinds, JPEGCompressedLikeLibtiff) {
  TIEBitmap pic;
  MakePicture(pic, 67, 45);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("j.ppm")));
  Host("pnmtotiff j.ppm > jrgb.tif 2>/dev/null && ppmtopgm j.ppm | pnmtotiff > jgrey.tif 2>/dev/null");
  const char* variants[] = {"-c jpeg", "-c jpeg:r", "-c jpeg -r 16", "-c jpeg:90 -t -w 32 -l 16",
                            "-c jpeg -p separate", "-c jpeg -B"};
  int made = 0;
  for (const char* src : {"jrgb", "jgrey"}) {
    int v = 0;
    for (const char* variant : variants) {
      const std::string file = std::string(src) + "_" + std::to_string(v++) + ".tif";
      const std::string what = std::string(src) + " " + variant;
      if (tq::RunHost("tiffcp " + std::string(variant) + " " + src + ".tif " + file + " 2>/dev/null") != 0) continue;
      ++made;
      ExpectLikeLibtiff(file, &TIOParamsVals::TIFFCompression, 7, 2, what);
    }
  }
  EXPECT_GE(made, 8);
}

// Y, Cb, Cr of the picture's pixel (JPEG's equations, as TIFF's default coefficients give).
void ToYCbCr(const TIERGB& p, uint8_t out[3]) {
  auto clamp = [](double v) { return uint8_t(std::min(255.0, std::max(0.0, v + 0.5))); };
  out[0] = clamp(0.299 * p.r + 0.587 * p.g + 0.114 * p.b);
  out[1] = clamp(-0.168736 * p.r - 0.331264 * p.g + 0.5 * p.b + 128);
  out[2] = clamp(0.5 * p.r - 0.418688 * p.g - 0.081312 * p.b + 128);
}

// Uncompressed YCbCr in data units of every subsampling libtiff knows, odd sizes, one strip or
// several; against libtiff's RGBA interface.
TEST_F(TIFFReadKinds, YCbCrSubsamplingLikeLibtiff) {
  const int h = 45;
  TIEBitmap pic;
  MakePicture(pic, 67, h);
  struct Case {
    int sh, sv, rows;
    bool tagged;
    int w;  // libtiff misplaces the partial right-hand units of 4 x 4 data: a whole number of units there
  };
  const Case cases[] = {{1, 1, 45, true, 67}, {2, 1, 45, true, 67}, {2, 2, 45, true, 67}, {2, 2, 8, true, 67},
                        {4, 2, 45, true, 67}, {4, 4, 12, true, 64}, {2, 2, 45, false, 67}};
  int n = 0;
  for (const Case& c : cases) {
    const int w = c.w;
    const std::string what = "subsampling " + std::to_string(c.sh) + "x" + std::to_string(c.sv) + " rows " +
                             std::to_string(c.rows) + (c.tagged ? "" : " (default)");
    TinyTiff t;
    std::vector<uint32_t> offsets, counts;
    for (int y0 = 0; y0 < h; y0 += c.rows) {
      std::vector<uint8_t> strip;
      const int rows = std::min(c.rows, h - y0);
      for (int uy = 0; uy < rows; uy += c.sv)
        for (int ux = 0; ux < w; ux += c.sh) {
          int cb = 0, cr = 0, k = 0;
          std::vector<uint8_t> luma;
          for (int j = 0; j < c.sv; ++j)
            for (int i = 0; i < c.sh; ++i) {
              // units past the edge repeat the edge pixel
              const int x = std::min(ux + i, w - 1), y = std::min(y0 + uy + j, h - 1);
              uint8_t ycc[3];
              ToYCbCr(pic.GetPixelRGB(x, y), ycc);
              luma.push_back(ycc[0]);
              cb += ycc[1];
              cr += ycc[2];
              ++k;
            }
          strip.insert(strip.end(), luma.begin(), luma.end());
          strip.push_back(uint8_t((cb + k / 2) / k));
          strip.push_back(uint8_t((cr + k / 2) / k));
        }
      offsets.push_back(t.Block(strip));
      counts.push_back(uint32_t(strip.size()));
    }
    std::vector<TinyTiff::Entry> tags = ImageTags(w, h, 3, 6, 0, 0);
    for (auto& e : tags) {
      if (e.tag == 273) e.values = offsets;
      if (e.tag == 279) e.values = counts;
      if (e.tag == 278) e.values = {uint32_t(c.rows)};
    }
    if (c.tagged) tags.push_back({530, 3, {uint32_t(c.sh), uint32_t(c.sv)}});
    t.First(t.Dir(tags));
    const std::string file = "ycc" + std::to_string(n++) + ".tif";
    ASSERT_TRUE(t.Save(file));
    ExpectLikeLibtiff(file, &TIOParamsVals::TIFFPhotometric, 6, 2, what);
    if (c.rows == 8) Mutate(t.Bytes(), 200, iffTIFF);
  }
}

// Layouts the reader cannot decode are refused, never handed out as a blank image: vertical YCbCr
// subsampling finer than horizontal (not a TIFF layout), a photometric or a compression it does not
// know.
TEST_F(TIFFReadKinds, UndecodableLayoutsAbort) {
  const uint32_t w = 16, h = 8, bytes = w * h * 3;
  struct Case {
    const char* what;
    uint32_t photometric, compression;
    std::vector<uint32_t> subsampling;
  } cases[] = {{"YCbCr 1 x 2", 6, 1, {1, 2}}, {"LogLuv", 32845, 1, {}}, {"JPEG 2000 data", 2, 34712, {}}};
  for (const Case& c : cases) {
    TinyTiff t;
    const uint32_t strip = t.Block(std::vector<uint8_t>(bytes, 128));
    std::vector<TinyTiff::Entry> tags = ImageTags(w, h, 3, c.photometric, strip, bytes, c.compression);
    if (!c.subsampling.empty()) tags.push_back({530, 3, c.subsampling});
    t.First(t.Dir(tags));
    TIEMemStream m(t.Bytes().data(), int64_t(t.Bytes().size()));
    TIEBitmap b;
    TImageryIO io(&b);
    io.LoadStreamAsFileType(m, iffTIFF);
    EXPECT_TRUE(io.Aborting) << c.what;
  }
}

// CIE L*a*b* of an sRGB colour (D65), as TIFF's CIELab stores it in 8 bits: L* x 255 / 100, a* and
// b* signed, rounded.
void ToLab(const TIERGB& p, uint8_t out[3]) {
  auto lin = [](int c) {
    const double v = c / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116; };
  const double r = lin(p.r), g = lin(p.g), b = lin(p.b);
  const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047, y = 0.2126 * r + 0.7152 * g + 0.0722 * b,
               z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
  out[0] = uint8_t(std::lround((116 * f(y) - 16) * 2.55));
  out[1] = uint8_t(int8_t(std::lround(500 * (f(x) - f(y)))));
  out[2] = uint8_t(int8_t(std::lround(200 * (f(y) - f(z)))));
}

// sRGB of a stored 8-bit L*a*b* (D65), worked out in doubles.
TIERGB FromLab(const uint8_t v[3]) {
  auto inv = [](double t) { return t * t * t > 0.008856 ? t * t * t : (t - 16.0 / 116) / 7.787; };
  auto gamma = [](double c) {
    c = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
    return uint8_t(std::lround(std::min(1.0, std::max(0.0, c)) * 255));
  };
  const double fy = (v[0] / 2.55 + 16) / 116, fx = fy + int8_t(v[1]) / 500.0, fz = fy - int8_t(v[2]) / 200.0;
  const double x = 0.95047 * inv(fx), y = inv(fy), z = 1.08883 * inv(fz);
  return IEMakeRGB(gamma(3.2406 * x - 1.5372 * y - 0.4986 * z), gamma(-0.9689 * x + 1.8758 * y + 0.0415 * z),
                   gamma(0.0557 * x - 0.2040 * y + 1.0570 * z));
}

// CIELab: the picture's exact values come back as the colours they stand for; ImageMagick's files
// as libtiff's RGBA interface gives them, loosely: a step of a* moves the weak channel of a
// saturated colour by up to 20 levels near black, where sRGB is steepest, and libtiff's display
// model (some 6 levels off on average) clips such channels to 0 where we do not.
TEST_F(TIFFReadKinds, CIELabLikeTheSourceAndLibtiff) {
  const int w = 41, h = 29;
  TIEBitmap pic;
  MakePicture(pic, w, h);
  std::vector<uint8_t> lab, meant;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t v[3];
      ToLab(pic.GetPixelRGB(x, y), v);
      lab.insert(lab.end(), v, v + 3);
      const TIERGB c = FromLab(v);
      meant.insert(meant.end(), {c.r, c.g, c.b});
    }
  TinyTiff t;
  const uint32_t strip = t.Block(lab);
  t.First(t.Dir(ImageTags(w, h, 3, 8, strip, uint32_t(lab.size()))));
  ASSERT_TRUE(t.Save("labx.tif"));
  {
    TIEBitmap b;
    TImageryIO io(&b);
    LoadFile(io, "labx.tif");
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params.TIFFPhotometric, 7);
    ExpectPixels(b, w, h, meant, 1, "exact Lab");
  }
  if (tq::RunHost("test -x /usr/bin/convert") != 0) GTEST_SKIP() << "needs ImageMagick";
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("lab.ppm")));
  for (const char* depth : {"8", "16"}) {
    const std::string file = std::string("lab") + depth + ".tif";
    Host(std::string("convert lab.ppm -colorspace Lab -depth ") + depth + " " + file);
    ExpectLikeLibtiff(file, &TIOParamsVals::TIFFPhotometric, 7, 30, file, 8);
  }
}

// Palette images with an alpha sample, as PIL writes them, against PIL's RGBA.
TEST_F(TIFFReadKinds, PaletteWithAlphaLikePIL) {
  if (tq::RunHost("/usr/bin/python3 -c 'import PIL'") != 0) GTEST_SKIP() << "needs PIL";
  Host("/usr/bin/python3 -c \"from PIL import Image\n"
       "im = Image.new('PA', (23, 17))\n"
       "im.putpalette([(i * 37 + k * 91) % 256 for i in range(256) for k in range(3)])\n"
       "im.putdata([((x * 7 + y * 3) % 256, (x * 11 + y * 29) % 256) for y in range(17) for x in range(23)])\n"
       "im.save('pa.tif')\n"
       "open('pa.raw', 'wb').write(Image.open('pa.tif').convert('RGBA').tobytes())\"");
  const std::vector<uint8_t> ref = FileBytes(tq::WorkFile("pa.raw"));
  ASSERT_EQ(ref.size(), size_t(23 * 17 * 4));
  TIEBitmap b;
  TImageryIO io(&b);
  LoadFile(io, "pa.tif");
  ASSERT_FALSE(io.Aborting);
  ASSERT_EQ(b.GetImageWidth(), 23);
  ASSERT_TRUE(b.AlphaPresent());
  int bad = 0;
  for (int y = 0; y < 17 && !bad; ++y)
    for (int x = 0; x < 23 && !bad; ++x) {
      const uint8_t* e = &ref[(size_t(y) * 23 + x) * 4];
      const TIERGB p = b.GetPixelRGB(x, y);
      if (p.r != e[0] || p.g != e[1] || p.b != e[2] || b.GetAlphaChannel()->GetRowAddress(y)[x] != e[3]) {
        ADD_FAILURE() << "pixel " << x << "," << y << " differs from PIL";
        bad = 1;
      }
    }
}

// One tile by number, with the tile's size as the image's; a sub-image by its SubIFDs entry.
TEST_F(TIFFReadKinds, SingleTileAndSubImage) {
  TIEBitmap pic;
  MakePicture(pic, 67, 45);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("t.ppm")));
  Host("pnmtotiff t.ppm > t0.tif 2>/dev/null && tiffcp -c lzw -t -w 16 -l 16 t0.tif tiles.tif");
  int w = 0, h = 0;
  const std::vector<uint8_t> full = LibtiffRGB("tiles.tif", w, h);
  for (int tile : {0, 2, 5, 14}) {
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.TIFFGetTile = tile;
    LoadFile(io, "tiles.tif");
    ASSERT_FALSE(io.Aborting) << "tile " << tile;
    EXPECT_EQ(io.Params.Width, 16);
    EXPECT_EQ(io.Params.Height, 16);
    // 5 tiles across: tile 14 is the right-hand partial tile of the third row
    const int x0 = tile % 5 * 16, y0 = tile / 5 * 16;
    std::vector<uint8_t> part;
    for (int y = y0; y < y0 + 16; ++y)
      for (int x = x0; x < x0 + 16; ++x)
        for (int k = 0; k < 3; ++k) part.push_back(x < w && y < h ? full[(size_t(y) * w + x) * 3 + k] : 0);
    ASSERT_EQ(b.GetImageWidth(), 16);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16 && x0 + x < w && y0 + y < h; ++x) {
        const TIERGB p = b.GetPixelRGB(x, y);
        const uint8_t* e = &part[(size_t(y) * 16 + x) * 3];
        ASSERT_TRUE(p.r == e[0] && p.g == e[1] && p.b == e[2]) << "tile " << tile << " pixel " << x << "," << y;
      }
  }
  // A tile past the last one, or a tile of a stripped image: refused.
  for (const char* file : {"tiles.tif", "t0.tif"}) {
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.TIFFGetTile = std::string(file) == "t0.tif" ? 0 : 15;
    LoadFile(io, file);
    EXPECT_TRUE(io.Aborting) << file;
  }

  // A grey page of 4 x 2 whose SubIFDs entry leads to a 6 x 3 grey image.
  TinyTiff t;
  std::vector<uint8_t> mainPixels(8, 200), subPixels;
  for (int i = 0; i < 18; ++i) subPixels.push_back(uint8_t(i * 13));
  const uint32_t subStrip = t.Block(subPixels);
  const uint32_t sub = t.Dir(ImageTags(6, 3, 1, 1, subStrip, 18));
  const uint32_t mainStrip = t.Block(mainPixels);
  std::vector<TinyTiff::Entry> tags = ImageTags(4, 2, 1, 1, mainStrip, 8);
  tags.push_back({330, 4, {sub}});
  t.First(t.Dir(tags));
  ASSERT_TRUE(t.Save("sub.tif"));
  // libtiff agrees the file holds the sub-image
  std::string dump;
  ASSERT_EQ(tq::RunHost("tiffinfo sub.tif 2>&1", &dump), 0);
  EXPECT_NE(dump.find("SubIFD"), std::string::npos) << dump;
  for (int index : {-1, 0}) {
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.TIFFSubIndex = index;
    LoadFile(io, "sub.tif");
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params.ImageCount, 1);
    const std::vector<uint8_t>& px = index < 0 ? mainPixels : subPixels;
    ASSERT_EQ(b.GetImageWidth(), index < 0 ? 4 : 6);
    for (int y = 0; y < b.GetImageHeight(); ++y)
      for (int x = 0; x < b.GetImageWidth(); ++x)
        ASSERT_EQ(b.GetPixelRGB(x, y).g, px[size_t(y) * b.GetImageWidth() + x]) << index;
  }
}

// Document and page names, page numbers, compression and photometric as tiffinfo shows them.
TEST_F(TIFFReadKinds, PageTagsAsTiffinfoShows) {
  Host("pbmmake -gray 20 10 | pnmtotiff > n1.tif 2>/dev/null && ppmmake red 8 6 | pnmtotiff -truecolor > n2.tif 2>/dev/null && "
       "tiffcp -c g4 n1.tif n1g.tif && tiffcp -c lzw n2.tif n2l.tif && tiffcp n1g.tif n2l.tif names.tif && "
       "tiffset -d 1 -s 285 'Second page' names.tif && tiffset -d 1 -s 269 'The document' names.tif && "
       "tiffset -d 1 -s 297 1 2 names.tif && tiffset -d 0 -s 285 'Cover' names.tif");
  std::string info;
  ASSERT_EQ(tq::RunHost("tiffinfo names.tif 2>&1", &info), 0);
  ASSERT_NE(info.find("Page Number: 1-2"), std::string::npos) << info;
  TIEBitmap b;
  TImageryIO io(&b);
  io.Params.TIFFImageIndex = 1;
  LoadFile(io, "names.tif");
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.TIFFPageName, "Second page");
  EXPECT_EQ(io.Params.TIFFDocumentName, "The document");
  EXPECT_EQ(io.Params.TIFFPageNumber, 1);
  EXPECT_EQ(io.Params.TIFFPageCount, 2);
  EXPECT_EQ(io.Params.TIFFCompression, 5);
  EXPECT_EQ(io.Params.TIFFPhotometric, 2);
  io.Params.TIFFImageIndex = 0;
  LoadFile(io, "names.tif");
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.TIFFPageName, "Cover");
  EXPECT_EQ(io.Params.TIFFDocumentName, "Standard Input");
  EXPECT_EQ(io.Params.TIFFImageDescription, "converted PNM file");
  EXPECT_EQ(io.Params.TIFFPageNumber, 0);
  EXPECT_EQ(io.Params.TIFFCompression, 4);
  EXPECT_EQ(io.Params.TIFFPhotometric, 1);
}

// Old-style JPEG as files carry it: the whole JPEG at the interchange offset with the strip at its
// scan, a strip that is a JPEG of its own, or the tables at the interchange offset and the scan in
// the strip; the pixels djpeg gives.
TEST_F(TIFFReadKinds, OldStyleJPEG) {
  if (tq::RunHost("test -x /usr/bin/cjpeg && test -x /usr/bin/djpeg") != 0) GTEST_SKIP() << "needs libjpeg tools";
  const int w = 61, h = 37;
  TIEBitmap pic;
  MakePicture(pic, w, h);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("o.ppm")));
  Host("cjpeg -quality 90 o.ppm > o.jpg && djpeg -pnm o.jpg > o_ref.ppm");
  const std::vector<uint8_t> jpeg = FileBytes(tq::WorkFile("o.jpg"));
  int rw = 0, rh = 0;
  std::vector<uint8_t> ref;
  ASSERT_TRUE(ReadPPM(tq::WorkFile("o_ref.ppm"), rw, rh, ref));
  size_t sos = 2;
  while (sos + 4 < jpeg.size() && !(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA))
    sos += 2 + (size_t(jpeg[sos + 2]) << 8 | jpeg[sos + 3]);
  ASSERT_LT(sos + 4, jpeg.size());
  for (int layout = 0; layout < 3; ++layout) {
    TinyTiff t;
    const uint32_t at = t.Block(jpeg);
    std::vector<TinyTiff::Entry> tags;
    if (layout == 0) {
      tags = ImageTags(w, h, 3, 6, at + uint32_t(sos), uint32_t(jpeg.size() - sos), 6);
      tags.push_back({512, 3, {1}});
      tags.push_back({513, 4, {at}});
      tags.push_back({514, 4, {uint32_t(jpeg.size())}});
      tags.push_back({530, 3, {2, 2}});
    } else if (layout == 1) {
      tags = ImageTags(w, h, 3, 6, at, uint32_t(jpeg.size()), 6);
    } else {
      // the interchange block holds the tables only, the strip the scan
      tags = ImageTags(w, h, 3, 6, at + uint32_t(sos), uint32_t(jpeg.size() - sos), 6);
      tags.push_back({513, 4, {at}});
      tags.push_back({514, 4, {uint32_t(sos)}});
    }
    t.First(t.Dir(tags));
    const std::string file = "ojpeg" + std::to_string(layout) + ".tif";
    ASSERT_TRUE(t.Save(file));
    TIEBitmap b;
    TImageryIO io(&b);
    LoadFile(io, file);
    ASSERT_FALSE(io.Aborting) << file;
    EXPECT_EQ(io.Params.TIFFCompression, 6);
    ExpectPixels(b, rw, rh, ref, 1, file);
    Mutate(t.Bytes(), 200, iffTIFF);
  }
}

// Mutated JPEG, YCbCr and Lab files fail cleanly.
TEST_F(TIFFReadKinds, MutatedFilesFailCleanly) {
  TIEBitmap pic;
  MakePicture(pic, 40, 30);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("mk.ppm")));
  Host("pnmtotiff mk.ppm > mk.tif 2>/dev/null");
  for (const char* c : {"-c jpeg", "-c jpeg:r -t -w 16 -l 16", "-c jpeg -p separate"}) {
    if (tq::RunHost(std::string("tiffcp ") + c + " mk.tif mkj.tif 2>/dev/null") != 0) continue;
    Mutate(FileBytes(tq::WorkFile("mkj.tif")), 300, iffTIFF);
  }
  // Strips whose JPEG frames claim 4000 rows (of which the data hold 16) are refused, not decoded
  // into a frame of that size.
  ASSERT_EQ(tq::RunHost("tiffcp -c jpeg -r 16 mk.tif mkbig.tif 2>/dev/null"), 0);
  std::vector<uint8_t> big = FileBytes(tq::WorkFile("mkbig.tif"));
  int patched = 0;
  for (size_t i = 0; i + 9 < big.size(); ++i)
    if (big[i] == 0xFF && big[i + 1] == 0xC0 && big[i + 4] == 8 && big[i + 5] == 0 && big[i + 6] == 16) {
      big[i + 5] = 0x0F, big[i + 6] = 0xA0;
      ++patched;
    }
  ASSERT_GT(patched, 0);
  TIEMemStream m(big.data(), int64_t(big.size()));
  TIEBitmap b;
  TImageryIO io(&b);
  io.LoadStreamAsFileType(m, iffTIFF);
  EXPECT_TRUE(io.Aborting);
  if (tq::RunHost("test -x /usr/bin/convert") == 0) {
    Host("convert mk.ppm -colorspace Lab mklab.tif");
    Mutate(FileBytes(tq::WorkFile("mklab.tif")), 300, iffTIFF);
  }
}

}  // namespace
