// TIFF reading of hostile, cut and loosely written files: memory bounded by the data, the rows a cut
// file holds kept, files PIL and libtiff read read alike; and the rarer sample layouts.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"
#include "ioparams.h"
#include "tinytiff.h"
#include "vodevovur.h"

using namespace iotest;
using namespace misctest;
using namespace tifftest;

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// The process's peak working set and peak committed memory.
void Peaks(size_t& workingSet, size_t& committed) {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  workingSet = pmc.PeakWorkingSetSize;
  committed = pmc.PeakPagefileUsage;
}

// Loads `bytes` as `type`; the growth of both peaks must stay under 64 MiB.
void LoadWithinMemory(const std::vector<uint8_t>& bytes, TIEFileFormatCode type, TImageryIO& io,
                      const std::string& what) {
  size_t ws0 = 0, pf0 = 0, ws1 = 0, pf1 = 0;
  Peaks(ws0, pf0);
  TIEMemStream m(bytes.data(), int64_t(bytes.size()));
  io.LoadStreamAsFileType(m, type);
  Peaks(ws1, pf1);
  EXPECT_LT(ws1 - ws0, 64 * kMiB) << what;
  EXPECT_LT(pf1 - pf0, 64 * kMiB) << what;
}

const std::vector<uint8_t> kDeflate2000Zeros = {0x78, 0xda, 0x63, 0x60, 0x18, 0x05, 0xa3, 0x60, 0x14, 0x8c, 0x82, 0x51,
                                                0x30, 0x0a, 0x46, 0xc1, 0x50, 0x07, 0x00, 0x07, 0xd0, 0x00, 0x01};

// A side x side page whose only chunk holds `data`.
std::vector<uint8_t> HugePage(uint32_t spp, uint32_t compression, bool tiled, const std::vector<uint8_t>& data,
                              uint32_t side = 16384) {
  TinyTiff t;
  const uint32_t at = t.Block(data);
  std::vector<TinyTiff::Entry> tags = ImageTags(side, side, spp, 2, at, uint32_t(data.size()), compression);
  if (spp == 4) tags.push_back({338, 3, {2}});
  if (tiled) {
    for (auto& e : tags) {
      if (e.tag == 273) e.tag = 324;
      if (e.tag == 279) e.tag = 325;
    }
    tags.erase(std::remove_if(tags.begin(), tags.end(), [](const TinyTiff::Entry& e) { return e.tag == 278; }),
               tags.end());
    tags.push_back({322, 4, {side}});
    tags.push_back({323, 4, {side}});
  }
  t.First(t.Dir(tags));
  return t.Bytes();
}

class TIFFReadDamaged : public ::testing::Test {
 protected:
  void SetUp() override { IELibraryStaticInit(); }
  void TearDown() override { IELibraryStaticFini(); }
};

// Pages that claim far more pixels than their data can make are refused before anything of their
// size is allocated; a small page whose tile inflates to far less than its size is damaged too.
TEST_F(TIFFReadDamaged, HugeClaimsOfTinyFilesAreRefusedUnallocated) {
  const std::vector<uint8_t> few(10, 0x55);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  };
  const Case cases[] = {
      {"RGB Deflate tile", HugePage(3, 8, true, kDeflate2000Zeros)},
      {"RGBA Deflate tile", HugePage(4, 32946, true, kDeflate2000Zeros)},
      {"RGB Deflate strip", HugePage(3, 8, false, kDeflate2000Zeros)},
      {"RGB uncompressed strip", HugePage(3, 1, false, few)},
      {"RGBA uncompressed tile", HugePage(4, 1, true, few)},
      {"RGB PackBits strip", HugePage(3, 32773, false, {0x81, 0x00, 0x81, 0x00})},
      {"RGB LZW strip", HugePage(3, 5, false, {0x80, 0x00, 0x20, 0x20})},
      {"grey G4 strip", HugePage(1, 4, false, {0x00, 0x10, 0x01})},
      {"256 x 256 RGB Deflate tile of 2000 bytes", HugePage(3, 8, true, kDeflate2000Zeros, 256)},
  };
  for (const Case& c : cases) {
    EXPECT_LT(c.file.size(), 200u) << c.what;
    TIEBitmap b;
    TImageryIO io(&b);
    LoadWithinMemory(c.file, iffTIFF, io, c.what);
    EXPECT_TRUE(io.Aborting) << c.what;
    EXPECT_LE(int64_t(b.GetImageWidth()) * b.GetImageHeight(), int64_t(1) << 22) << c.what;
  }
}

// An EXIF thumbnail stored as strips is read as a thumbnail: a huge one costs nothing and leaves no
// thumbnail, the picture itself loads; a small one is read.
TEST_F(TIFFReadDamaged, ExifThumbnailStripsReadAsThumbnail) {
  if (!ToolsPresent()) GTEST_SKIP() << "needs wine with netpbm";
  TIEBitmap pic;
  MakePicture(pic, 8, 8);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("exif.ppm")));
  Host("pnmtojpeg exif.ppm > exif.jpg 2>/dev/null");
  const std::vector<uint8_t> jpeg = FileBytes(tq::WorkFile("exif.jpg"));
  ASSERT_GT(jpeg.size(), 4u);
  // the EXIF block: a first directory with the orientation, the second the thumbnail's strip
  auto block = [](uint32_t w, uint32_t h, const std::vector<uint8_t>& strip, uint32_t count) {
    TinyTiff t;
    const uint32_t at = t.Block(strip);
    const uint32_t second = t.Dir(ImageTags(w, h, 3, 2, at, count));
    t.First(t.Dir({{274, 3, {1}}}, second));
    std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), t.Bytes().begin(), t.Bytes().end());
    return app1;
  };
  const std::vector<uint8_t> small = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90};
  struct Case {
    const char* what;
    std::vector<uint8_t> app1;
    int thumbW;  // 0: no thumbnail
  };
  const Case cases[] = {{"16384 x 16384 strip", block(16384, 16384, {1, 2, 3}, 16384u * 16384u * 3u), 0},
                        {"3 x 2 strip", block(3, 2, small, 18), 3}};
  for (const Case& c : cases) {
    std::vector<uint8_t> file(jpeg.begin(), jpeg.begin() + 2);
    const uint16_t length = uint16_t(c.app1.size() + 2);
    file.push_back(0xFF);
    file.push_back(0xE1);
    file.push_back(uint8_t(length >> 8));
    file.push_back(uint8_t(length));
    file.insert(file.end(), c.app1.begin(), c.app1.end());
    file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
    TIEBitmap b;
    TImageryIO io(&b);
    LoadWithinMemory(file, iffJPEG, io, c.what);
    ASSERT_FALSE(io.Aborting) << c.what;
    EXPECT_EQ(b.GetImageWidth(), 8) << c.what;
    EXPECT_EQ(b.GetImageHeight(), 8) << c.what;
    EXPECT_TRUE(io.Params.HasExifData) << c.what;
    TIEBitmap* thumb = io.Params.ExifThumbnail.get();
    ASSERT_NE(thumb, nullptr) << c.what;
    EXPECT_EQ(thumb->GetImageWidth(), c.thumbW) << c.what;
    if (c.thumbW) {
      EXPECT_EQ(thumb->GetImageHeight(), 2) << c.what;
      const TIERGB p = thumb->GetPixelRGB(2, 1);
      EXPECT_EQ(int(p.r), 70) << c.what;
      EXPECT_EQ(int(p.g), 80) << c.what;
      EXPECT_EQ(int(p.b), 90) << c.what;
    }
  }
  EXPECT_LT(block(16384, 16384, {1, 2, 3}, 16384u * 16384u * 3u).size(), 160u);
}

class TIFFReadLoose : public TIFFReadDamaged {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("/usr/bin/python3 -c 'import PIL' && test -x /usr/bin/tiff2rgba") != 0)
      GTEST_SKIP() << "needs wine with PIL and libtiff tools";
    TIFFReadDamaged::SetUp();
  }
};

// The first `rows` rows of the bitmap against `ref` (R, G, B of each pixel within `tolerance`, or ink
// bytes for ieCMYK).
void ExpectRows(TIEBitmap& b, const std::vector<uint8_t>& ref, int w, int rows, const std::string& what,
                int tolerance = 0) {
  const bool ink = b.GetPixelFormat() == ieCMYK;
  const int n = ink ? 4 : 3;
  ASSERT_GE(ref.size(), size_t(w) * rows * n) << what;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* e = &ref[(size_t(y) * w + x) * n];
      if (ink) {
        const uint8_t* p = b.GetRowAddress(y) + 4 * x;
        for (int k = 0; k < 4; ++k)
          if (p[k] != 255 - e[k]) {
            ADD_FAILURE() << what << ": ink of " << x << "," << y << " differs";
            return;
          }
      } else {
        const TIERGB p = b.GetPixelRGB(x, y);
        if (std::abs(p.r - e[0]) > tolerance || std::abs(p.g - e[1]) > tolerance || std::abs(p.b - e[2]) > tolerance) {
          ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << int(p.r) << " " << int(p.g) << " "
                        << int(p.b) << ", the reference says " << int(e[0]) << " " << int(e[1]) << " " << int(e[2]);
          return;
        }
      }
    }
}

// Writes <kind>.tif (uncompressed, one strip, the strip after the directory) and <kind>.ref (what
// PIL makes of it: R, G, B, or C, M, Y, K for CMYK; 16-bit grey by its high byte) for every kind.
const char kPILKinds[] = R"(from PIL import Image
import struct
src = Image.open('cut.ppm')
w, h = src.size
grey = src.convert('L').tobytes()
wide = Image.frombytes('I;16', src.size, b''.join(struct.pack('<H', v * 256 + (i * 37) % 256) for i, v in enumerate(grey)))
kinds = {'rgb': src, 'pal': src.quantize(40), 'bw': src.convert('1'), 'cmyk': src.convert('CMYK'), 'g16': wide}
for name, im in kinds.items():
    im.save(name + '.tif')
    back = Image.open(name + '.tif')
    if name == 'cmyk':
        ref = back.tobytes()
    elif name == 'g16':
        ref = b''.join(bytes([v >> 8] * 3) for v in struct.unpack('<%dH' % (w * h), back.tobytes()))
    else:
        ref = back.convert('RGB').tobytes()
    open(name + '.ref', 'wb').write(ref)
)";

// A strip cut by the end of the file keeps the rows it holds in every kind of page; the page is
// flagged incomplete.
TEST_F(TIFFReadLoose, CutStripKeepsItsRows) {
  const int w = 37, h = 29;
  TIEBitmap pic;
  MakePicture(pic, w, h);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("cut.ppm")));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("kinds.py"), kPILKinds, sizeof(kPILKinds) - 1));
  Host("/usr/bin/python3 kinds.py");
  // YCbCr without subsampling, made here with its strip last; libtiff gives the reference
  {
    const std::vector<uint8_t> rgb = RGBOf(pic);
    std::vector<uint8_t> ycc(rgb.size());
    for (size_t i = 0; i < rgb.size(); i += 3) {
      const double r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
      auto clamp = [](double v) { return uint8_t(std::min(255.0, std::max(0.0, v + 0.5))); };
      ycc[i] = clamp(0.299 * r + 0.587 * g + 0.114 * b);
      ycc[i + 1] = clamp(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
      ycc[i + 2] = clamp(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
    }
    auto build = [&](uint32_t at) {
      TinyTiff t;
      std::vector<TinyTiff::Entry> tags = ImageTags(w, h, 3, 6, at, uint32_t(ycc.size()));
      tags.push_back({530, 3, {1, 1}});
      t.First(t.Dir(tags));
      return t;
    };
    TinyTiff t = build(uint32_t(build(0).Bytes().size()));
    t.Block(ycc);
    ASSERT_TRUE(t.Save("ycc.tif"));
    Host("tiff2rgba -n ycc.tif ycc.rgba.tif && tifftopnm ycc.rgba.tif 2>/dev/null > ycc.ppm");
    int rw = 0, rh = 0;
    std::vector<uint8_t> ref;
    ASSERT_TRUE(ReadPPM(tq::WorkFile("ycc.ppm"), rw, rh, ref));
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("ycc.ref"), ref.data(), ref.size()));
  }
  struct Kind {
    const char* name;
    int rowBytes;
  };
  const Kind kinds[] = {{"rgb", 3 * w}, {"pal", w}, {"bw", (w + 7) / 8}, {"cmyk", 4 * w}, {"g16", 2 * w}, {"ycc", 3 * w}};
  for (const Kind& k : kinds) {
    std::vector<uint8_t> file = FileBytes(tq::WorkFile(std::string(k.name) + ".tif"));
    const std::vector<uint8_t> ref = FileBytes(tq::WorkFile(std::string(k.name) + ".ref"));
    // the last 12 rows and a half are missing
    const int kept = h - 13;
    file.resize(file.size() - size_t(k.rowBytes) * 12 - size_t(k.rowBytes + 1) / 2);
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.IsNativePixelFormat = std::string(k.name) == "cmyk";
    TIEMemStream m(file.data(), int64_t(file.size()));
    io.LoadStreamAsFileType(m, iffTIFF);
    EXPECT_TRUE(io.Aborting) << k.name;
    EXPECT_FALSE(io.Params.TIFFWarning.empty()) << k.name;
    ASSERT_EQ(b.GetImageWidth(), w) << k.name;
    ASSERT_EQ(b.GetImageHeight(), h) << k.name;
    // libtiff rounds the YCbCr conversion its own way
    ExpectRows(b, ref, w, kept, k.name, std::string(k.name) == "ycc" ? 2 : 0);
  }
}

// The directory entry of `tag` in a little-endian file's first directory.
size_t EntryOf(const std::vector<uint8_t>& f, uint16_t tag) {
  const uint32_t ifd = uint32_t(f[4] | f[5] << 8 | f[6] << 16 | uint32_t(f[7]) << 24);
  const uint32_t n = uint32_t(f[ifd] | f[ifd + 1] << 8);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t e = ifd + 2 + 12 * size_t(i);
    if ((f[e] | f[e + 1] << 8) == tag) return e;
  }
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

void PutU32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) f[at + size_t(k)] = uint8_t(v >> (8 * k));
}

// Loosely written files that PIL reads: strip byte counts of 0 or too short for uncompressed data,
// and a private tag whose data lies past the end of the file (a warning, not the page).
TEST_F(TIFFReadLoose, LooseFilesReadLikePIL) {
  const int w = 23, h = 17;
  TIEBitmap pic;
  MakePicture(pic, w, h);
  ASSERT_TRUE(WritePPM(pic, tq::WorkFile("loose.ppm")));
  Host("/usr/bin/python3 -c \"from PIL import Image, TiffImagePlugin\n"
       "info = TiffImagePlugin.ImageFileDirectory_v2()\n"
       "info[40000] = b'private' * 10\n"
       "info.tagtype[40000] = 7\n"
       "Image.open('loose.ppm').save('loose.tif', tiffinfo=info)\"");
  const std::vector<uint8_t> good = FileBytes(tq::WorkFile("loose.tif"));
  struct Case {
    const char* what;
    uint16_t tag;    // the entry changed
    size_t field;    // 4 the count, 8 the value or offset
    uint32_t value;
    bool warned;
  };
  const Case cases[] = {{"strip byte count 0", 279, 8, 0, false},
                        {"strip byte count too short", 279, 8, 7, false},
                        {"private tag past the end", 40000, 8, 0x7FFFFF00u, true}};
  int n = 0;
  for (const Case& c : cases) {
    std::vector<uint8_t> f = good;
    const size_t e = EntryOf(f, c.tag);
    ASSERT_NE(e, 0u) << c.what;
    if (c.tag == 279 && (f[e + 2] | f[e + 3] << 8) == 3) {
      f[e + 8] = uint8_t(c.value);
      f[e + 9] = uint8_t(c.value >> 8);
    } else {
      PutU32(f, e + c.field, c.value);
    }
    const std::string file = "loose" + std::to_string(n++) + ".tif";
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(file), f.data(), f.size()));
    Host("/usr/bin/python3 -c \"import sys; from PIL import Image; "
         "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGB').tobytes())\" " +
         file + " " + file + ".rgb 2>/dev/null");
    const std::vector<uint8_t> ref = FileBytes(tq::WorkFile(file + ".rgb"));
    TIEBitmap b;
    TImageryIO io(&b);
    TIEMemStream m(f.data(), int64_t(f.size()));
    io.LoadStreamAsFileType(m, iffTIFF);
    ASSERT_FALSE(io.Aborting) << c.what;
    EXPECT_EQ(io.Params.TIFFWarning.empty(), !c.warned) << c.what;
    ASSERT_EQ(b.GetImageHeight(), h) << c.what;
    ExpectRows(b, ref, w, h, c.what);
  }
}

// 16-bit samples of the rarer kinds: RGB 5-5-5 in one sample (each field times 8), and the grey of
// files whose Software tag names the one program that scales by 16.
TEST_F(TIFFReadDamaged, SixteenBitRGB555AndScaledGrey) {
  const uint16_t words[] = {0x7C00, 0x03E0, 0x001F, 0x4321, 0x0ABC, 0xFFFF};
  std::vector<uint8_t> data;
  for (uint16_t v : words) {
    data.push_back(uint8_t(v));
    data.push_back(uint8_t(v >> 8));
  }
  {
    TinyTiff t;
    const uint32_t at = t.Block(data);
    std::vector<TinyTiff::Entry> tags = ImageTags(3, 2, 1, 2, at, uint32_t(data.size()));
    for (auto& e : tags)
      if (e.tag == 258) e.values = {16};
    t.First(t.Dir(tags));
    TIEBitmap b;
    TImageryIO io(&b);
    io.Params.IsNativePixelFormat = true;
    TIEMemStream m(t.Bytes().data(), int64_t(t.Bytes().size()));
    io.LoadStreamAsFileType(m, iffTIFF);
    ASSERT_FALSE(io.Aborting);
    ASSERT_EQ(b.GetPixelFormat(), ie24RGB);
    // each 5-bit field times 8
    const int rgb[6][3] = {{248, 0, 0}, {0, 248, 0}, {0, 0, 248}, {128, 200, 8}, {16, 168, 224}, {248, 248, 248}};
    for (int i = 0; i < 6; ++i) {
      const TIERGB p = b.GetPixelRGB(i % 3, i / 3);
      EXPECT_EQ(int(p.r), rgb[i][0]) << i;
      EXPECT_EQ(int(p.g), rgb[i][1]) << i;
      EXPECT_EQ(int(p.b), rgb[i][2]) << i;
    }
  }
  // the sample's bits 4..11 for the one program that stores 12-bit grey in 16 bits, else its high
  // byte; white-is-zero pages inverted first
  struct Case {
    const char* software;
    int grey[2][6];  // by photometric 0, 1
  };
  const Case cases[] = {
      {"Look@Molli v1.1 2000", {{63, 193, 254, 205, 84, 0}, {192, 62, 1, 50, 171, 255}}},
      {"Other program", {{131, 252, 255, 188, 245, 0}, {124, 3, 0, 67, 10, 255}}},
  };
  for (const Case& c : cases) {
    for (uint32_t photometric : {0u, 1u}) {
      TinyTiff t;
      const uint32_t at = t.Block(data);
      std::vector<uint32_t> text(c.software, c.software + std::strlen(c.software) + 1);
      std::vector<TinyTiff::Entry> tags = ImageTags(3, 2, 1, photometric, at, uint32_t(data.size()));
      for (auto& e : tags)
        if (e.tag == 258) e.values = {16};
      tags.push_back({305, 2, text});
      t.First(t.Dir(tags));
      TIEBitmap b;
      TImageryIO io(&b);
      TIEMemStream m(t.Bytes().data(), int64_t(t.Bytes().size()));
      io.LoadStreamAsFileType(m, iffTIFF);
      ASSERT_FALSE(io.Aborting) << c.software;
      for (int i = 0; i < 6; ++i)
        EXPECT_EQ(int(b.GetPixelRGB(i % 3, i / 3).g), c.grey[photometric][i]) << c.software << " " << i;
    }
  }
}

}  // namespace
