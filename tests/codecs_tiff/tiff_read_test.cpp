// TIFF reading against files tiffcp and netpbm wrote, decoded by tifftopnm.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"
#include "vodevovur.h"

using namespace iotest;
using namespace misctest;

namespace {

void Load(TIEBitmap&, TImageryIO& io, const std::string& name) {
  io.LoadByContent(W(tq::WorkFile(name)));
}

// Our pixels against tifftopnm's (brought to 8 bits); `tolerance` for 16-bit samples, which netpbm
// rounds and we cut to the high byte.
void ExpectLikeTifftopnm(TIEBitmap& b, const std::string& tif, int tolerance, const std::string& what) {
  Host("tifftopnm " + tif + " 2>/dev/null | pamdepth 255 2>/dev/null | pamtopnm > " + tif + ".ppm");
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPPM(tq::WorkFile(tif + ".ppm"), w, h, rgb)) << what;
  ASSERT_EQ(b.GetImageWidth(), w) << what;
  ASSERT_EQ(b.GetImageHeight(), h) << what;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TIERGB p = b.GetPixelRGB(x, y);
      const uint8_t* e = &rgb[(size_t(y) * w + x) * 3];
      if (std::abs(p.r - e[0]) > tolerance || std::abs(p.g - e[1]) > tolerance || std::abs(p.b - e[2]) > tolerance) {
        ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(p.r) << " " << int(p.g) << " "
                      << int(p.b) << ", tifftopnm says " << int(e[0]) << " " << int(e[1]) << " " << int(e[2]);
        return;
      }
    }
}

class TIFFRead : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/tiffcp") != 0) GTEST_SKIP() << "needs wine with libtiff tools";
    IELibraryStaticInit();  // the fax decode trees
    started_ = true;
  }
  void TearDown() override {
    if (started_) IELibraryStaticFini();
  }
  bool started_ = false;
};

// Every source image through every compression and layout tiffcp makes.
TEST_F(TIFFRead, TiffcpVariantsDecodeLikeTifftopnm) {
  TIEBitmap pic;
  MakePicture(pic, 67, 45);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("src.ppm")));
  struct Source {
    const char* name;
    const char* make;  // from src.ppm to <name>.tif
    int tolerance;
  };
  const Source sources[] = {
      {"rgb", "pnmtotiff src.ppm", 0},
      {"grey", "ppmtopgm src.ppm | pnmtotiff", 0},
      {"grey16", "ppmtopgm src.ppm | pamdepth 65535 | pnmtotiff", 1},
      {"rgb16", "pamdepth 65535 src.ppm | pnmtotiff", 1},
      {"grey4", "ppmtopgm src.ppm | pamdepth 15 | pnmtotiff", 0},
      {"palette", "pnmquant 40 src.ppm | pnmtotiff", 0},
      {"palette4", "convert src.ppm -colors 12 -type Palette tif:-", 0},
      {"palette1", "convert src.ppm -colors 2 -type Palette tif:-", 0},
      {"page", "ppmtopgm src.ppm | pgmtopbm | pnmtotiff", 0},
  };
  const char* variants[] = {
      "-c none", "-c lzw", "-c lzw:2", "-c zip", "-c zip:2", "-c packbits", "-c lzw -t -w 16 -l 32",
      "-c zip -p separate", "-c none -t -w 32 -l 16 -p separate", "-c lzw -r 5", "-c none -r 3 -B",
      "-c packbits -f lsb2msb", "-c lzw -f lsb2msb -B", "-c none -f lsb2msb"};
  for (const Source& s : sources) {
    const std::string base = std::string(s.name) + ".tif";
    Host("(" + std::string(s.make) + ") 2>/dev/null > " + base);
    int v = 0;
    for (const char* variant : variants) {
      const std::string file = std::string(s.name) + "_" + std::to_string(v++) + ".tif";
      // Layouts tiffcp refuses for a source (a predictor on 4-bit samples) are left out.
      if (tq::RunHost("tiffcp " + std::string(variant) + " " + base + " " + file + " 2>/dev/null") != 0) continue;
      TIEBitmap b;
      TImageryIO io(&b);
      Load(b, io, file);
      const std::string what = std::string(s.name) + " " + variant;
      ASSERT_FALSE(io.Aborting) << what;
      // tifftopnm misplaces the right edge tile of 16-bit tiled files (PIL agrees with the stripped
      // file there): those are held against the same image stripped and uncompressed.
      const bool tiled16 = s.tolerance && std::string(variant).find("-t") != std::string::npos;
      ExpectLikeTifftopnm(b, tiled16 ? std::string(s.name) + "_0.tif" : file, s.tolerance, what);
    }
  }
}

// The 1-bit page through the fax codings, in both fill orders and both photometric senses.
TEST_F(TIFFRead, FaxPagesDecodeLikeTifftopnm) {
  TIEBitmap pic;
  MakePicture(pic, 203, 61);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("fax.ppm")));
  Host("ppmtopgm fax.ppm | pgmtopbm | pnmtotiff > fax.tif 2>/dev/null && "
       "ppmtopgm fax.ppm | pgmtopbm | pnmtotiff -minisblack > faxmb.tif 2>/dev/null");
  const char* variants[] = {"-c g3:1d", "-c g3:2d", "-c g4", "-c g3:2d:fill", "-c g3:1d -f lsb2msb",
                            "-c g4 -f lsb2msb -r 7", "-c g3:2d -r 10", "-c g4 -t -w 64 -l 32"};
  int v = 0;
  for (const char* base : {"fax.tif", "faxmb.tif"})
    for (const char* variant : variants) {
      const std::string file = "fax_" + std::to_string(v++) + ".tif";
      const std::string what = std::string(base) + " " + variant;
      ASSERT_EQ(tq::RunHost("tiffcp " + std::string(variant) + " " + base + " " + file + " 2>/dev/null"), 0) << what;
      TIEBitmap b;
      TImageryIO io(&b);
      Load(b, io, file);
      ASSERT_FALSE(io.Aborting) << what;
      EXPECT_EQ(b.GetPixelFormat(), ie1g) << what;
      ExpectLikeTifftopnm(b, file, 0, what);
    }
  // A G3 file made by the fax tools from netpbm's coder.
  Host("ppmtopgm fax.ppm | pgmtopbm | pbmtog3 > fax.g3 2>/dev/null && fax2tiff -M -1 -o fax2.tif fax.g3 >/dev/null 2>&1");
  TIEBitmap b;
  TImageryIO io(&b);
  Load(b, io, "fax2.tif");
  ASSERT_FALSE(io.Aborting);
  ExpectLikeTifftopnm(b, "fax2.tif", 0, "fax2tiff");
}

// Pixels of `tif` in PIL's mode `mode` (CMYK ink bytes, or RGBA / LA with straight alpha).
std::vector<uint8_t> PILPixels(const std::string& tif, const char* mode) {
  Host("/usr/bin/python3 -c \"import sys; from PIL import Image; "
       "open(sys.argv[3], 'wb').write(Image.open(sys.argv[1]).convert(sys.argv[2]).tobytes())\" " +
       tif + " " + mode + " " + tif + ".raw");
  return FileBytes(tq::WorkFile(tif + ".raw"));
}

// CMYK kept as ink (inverted) in ieCMYK, and alpha (straight or premultiplied) into the alpha
// channel, against PIL, through the layouts tiffcp makes.
TEST_F(TIFFRead, CMYKAndAlphaLikePIL) {
  if (tq::RunHost("test -x /usr/bin/convert && /usr/bin/python3 -c 'import PIL'") != 0)
    GTEST_SKIP() << "needs ImageMagick and PIL";
  TIEBitmap pic;
  MakePicture(pic, 53, 37);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("ca.ppm")));
  struct Source {
    const char* name;
    const char* make;  // from ca.ppm to <name>.tif
    const char* mode;  // PIL mode to compare in
    int channels;      // colour channels compared
  };
  const Source sources[] = {
      {"cmyk", "convert ca.ppm -colorspace CMYK -depth 8 cmyk.tif", "CMYK", 4},
      {"cmyk16", "convert ca.ppm -colorspace CMYK -depth 16 cmyk16.tif", "CMYK", 4},
      {"rgba", "convert ca.ppm -depth 8 -alpha set -channel A -fx 'i/w' +channel rgba.tif", "RGBA", 3},
      {"rgbpa", "convert ca.ppm -depth 8 -alpha set -channel A -fx 'j/h' +channel -define tiff:alpha=associated rgbpa.tif",
       "RGBA", 3},
      {"greya", "convert ca.ppm -colorspace Gray -depth 8 -alpha set -channel A -fx 'i/w' +channel greya.tif", "LA", 1},
  };
  const char* variants[] = {"-c none", "-c lzw:2", "-c zip -p separate", "-c packbits -t -w 16 -l 16", "-c lzw -B"};
  for (const Source& src : sources) {
    Host(std::string(src.make) + " 2>/dev/null");
    int v = 0;
    for (const char* variant : variants) {
      const std::string file = std::string(src.name) + "_" + std::to_string(v++) + ".tif";
      const std::string what = std::string(src.name) + " " + variant;
      // PIL reads planar grey with alpha as fully transparent; tiffcp changes the planes of 8-bit
      // samples only, and PIL opens no big-endian 16-bit CMYK.
      const bool wide = std::string(src.name) == "cmyk16";
      if ((src.channels == 1 || wide) && std::string(variant).find("separate") != std::string::npos) continue;
      if (wide && std::string(variant).find("-B") != std::string::npos) continue;
      ASSERT_EQ(tq::RunHost("tiffcp " + std::string(variant) + " " + src.name + ".tif " + file + " 2>/dev/null"), 0)
          << what;
      const std::vector<uint8_t> ref = PILPixels(file, src.mode);
      const bool isCMYK = src.channels == 4;
      const int stride = isCMYK ? 4 : src.channels + 1;
      ASSERT_EQ(ref.size(), size_t(53 * 37 * stride)) << what;
      TIEBitmap b;
      TImageryIO io(&b);
      io.Params.IsNativePixelFormat = isCMYK;
      Load(b, io, file);
      ASSERT_FALSE(io.Aborting) << what;
      ASSERT_EQ(b.GetImageWidth(), 53) << what;
      ASSERT_EQ(b.GetPixelFormat(), isCMYK ? ieCMYK : ie24RGB) << what;  // grey with alpha too
      ASSERT_EQ(b.AlphaPresent(), !isCMYK) << what;
      int bad = 0;
      for (int y = 0; y < 37 && !bad; ++y)
        for (int x = 0; x < 53 && !bad; ++x) {
          const uint8_t* e = &ref[(size_t(y) * 53 + x) * stride];
          if (isCMYK) {
            for (int k = 0; k < 4; ++k)
              if (b.GetRowAddress(y)[4 * x + k] != 255 - e[k]) bad = 1;
          } else {
            const int a = b.GetAlphaChannel()->GetRowAddress(y)[x];
            if (a != e[src.channels]) bad = 1;
            // Premultiplied colours come back only as exactly as the alpha allows.
            const TIERGB p = b.GetPixelRGB(x, y);
            const int got[3] = {p.r, p.g, p.b};
            if (a >= 32)
              for (int k = 0; k < src.channels; ++k)
                if (std::abs(got[k] - e[k]) > 255 / a + 1) bad = 1;
          }
          if (bad) ADD_FAILURE() << what << ": pixel " << x << "," << y << " differs from PIL";
        }
    }
  }
  // Without the native format CMYK arrives as RGB.
  TIEBitmap b;
  TImageryIO io(&b);
  Load(b, io, "cmyk_1.tif");
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
}

TEST_F(TIFFRead, PagesAndResolution) {
  Host("pbmmake -gray 20 10 > p1.pbm && pbmmake -black 30 12 > p2.pbm && pnmtotiff p1.pbm > a.tif 2>/dev/null && "
       "pnmtotiff p2.pbm > b.tif 2>/dev/null && tiffcp a.tif b.tif two.tif && "
       "tiffset -d 1 -s 296 3 two.tif && tiffset -d 1 -s 282 118.11 two.tif && tiffset -d 1 -s 283 118.11 two.tif");
  TIEBitmap b;
  TImageryIO io(&b);
  io.Params.TIFFImageIndex = 1;
  Load(b, io, "two.tif");
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.ImageCount, 2);
  EXPECT_EQ(b.GetImageWidth(), 30);
  EXPECT_EQ(io.Params.DpiX, 300);
  ExpectLikeTifftopnm(b, "b.tif", 0, "page 2");
  // Past the last page: nothing read, nothing wrong.
  io.Params.TIFFImageIndex = 2;
  Load(b, io, "two.tif");
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.ImageCount, 2);
  EXPECT_EQ(b.GetImageWidth(), 30);
  // Resolution unit 1 (none) takes the resolution as it stands.
  Host("tiffset -d 0 -s 296 1 two.tif && tiffset -d 0 -s 282 72.4 two.tif");
  io.Params.TIFFImageIndex = 0;
  Load(b, io, "two.tif");
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.DpiX, 72);
}

// Two directories pointing at each other: the chain ends, both pages are counted.
// LZW strips go through the coder the parameter object holds, the process-wide one by default; without
// a coder the page is refused.
int g_lzwCalls = 0;
uint8_t* CountingLZW(const uint8_t* source, int64_t length, int count, TIETIFFLZWDecoderState*& state, int fill) {
  ++g_lzwCalls;
  return IETIFFLZWDecompress(source, length, count, state, fill);
}

TEST_F(TIFFRead, LZWThroughTheParametersCoder) {
  TIEBitmap pic;
  MakePicture(pic, 30, 20);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("lzwsrc.ppm")));
  Host("pnmtotiff lzwsrc.ppm > lzwsrc.tif 2>/dev/null && tiffcp -c lzw lzwsrc.tif lzw.tif");
  const TIETIFFLZWDecompressor saved = IEGlobalTIFFLZWDecompressor;
  for (TIETIFFLZWDecompressor coder : {TIETIFFLZWDecompressor(CountingLZW), TIETIFFLZWDecompressor(nullptr)}) {
    IEGlobalTIFFLZWDecompressor = coder;
    g_lzwCalls = 0;
    TIEBitmap b;
    TImageryIO io(&b);
    Load(b, io, "lzw.tif");
    if (coder) {
      EXPECT_FALSE(io.Aborting);
      EXPECT_GT(g_lzwCalls, 0);
      ExpectLikeTifftopnm(b, "lzw.tif", 0, "counting coder");
    } else {
      EXPECT_TRUE(io.Aborting);
    }
  }
  IEGlobalTIFFLZWDecompressor = saved;
}

TEST_F(TIFFRead, LoopingChainEnds) {
  Host("pbmmake -gray 8 8 | pnmtotiff > l1.tif 2>/dev/null && tiffcp l1.tif l1.tif loop.tif");
  std::vector<uint8_t> f = FileBytes(tq::WorkFile("loop.tif"));
  ASSERT_EQ(f[0], 'I');
  auto u32 = [&](size_t o) { return uint32_t(f[o]) | f[o + 1] << 8 | f[o + 2] << 16 | uint32_t(f[o + 3]) << 24; };
  const uint32_t first = u32(4);
  const uint32_t second = u32(first + 2 + (f[first] | f[first + 1] << 8) * 12);
  ASSERT_NE(second, 0u);
  const size_t nextOfSecond = second + 2 + (f[second] | f[second + 1] << 8) * 12;
  for (int k = 0; k < 4; ++k) f[nextOfSecond + k] = uint8_t(first >> (8 * k));
  TIEMemStream m(f.data(), int64_t(f.size()));
  TIEBitmap b;
  TImageryIO io(&b);
  io.LoadStreamAsFileType(m, iffTIFF);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.ImageCount, 2);
}

TEST_F(TIFFRead, MutatedFilesFailCleanly) {
  TIEBitmap pic;
  MakePicture(pic, 40, 30);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("m.ppm")));
  Host("pnmtotiff m.ppm > m.tif 2>/dev/null");
  Host("ppmtopgm m.ppm | pgmtopbm | pnmtotiff > mb.tif 2>/dev/null");
  for (const char* c : {"g3:1d", "g3:2d", "g4"}) {
    const std::string out = std::string("mb_") + c + ".tif";
    Host(std::string("tiffcp -c ") + c + " mb.tif " + out);
    Mutate(FileBytes(tq::WorkFile(out)), 300, iffTIFF);
  }
  for (const char* c : {"none", "lzw:2", "zip", "packbits"}) {
    const std::string out = std::string("m_") + c + ".tif";
    Host(std::string("tiffcp -c ") + c + " -t -w 16 -l 16 m.tif " + out);
    Mutate(FileBytes(tq::WorkFile(out)), 300, iffTIFF);
  }
}

}  // namespace
