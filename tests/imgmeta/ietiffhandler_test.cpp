#include "ietiffhandler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hostenv.h"

namespace {
using Bytes = std::vector<uint8_t>;

// Little-endian builder for hand-made structures.
struct LE {
  Bytes b;
  void U16(uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
  void U32(uint32_t v) { U16(uint16_t(v)); U16(uint16_t(v >> 16)); }
  void Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) { U16(tag); U16(type); U32(count); U32(value); }
};

Bytes WriteToMemory(TIETIFFHandler& h, int page) {
  TIEMemoryStream out;
  EXPECT_TRUE(h.WriteStream(out, page));
  const uint8_t* p = static_cast<const uint8_t*>(out.Memory());
  return Bytes(p, p + out.GetSize());
}

bool Read(TIETIFFHandler& h, const Bytes& b) {
  TIEMemStream s(b.data(), int64_t(b.size()));
  return h.ReadStream(s);
}

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// tiffinfo -D without the lines that name file offsets (those move when a file is rewritten).
std::string TagsOf(const std::string& file) {
  std::string out;
  EXPECT_EQ(tq::RunHost("/usr/bin/tiffinfo -D " + file + " 2>&1 | grep -v -i offset", &out), 0) << out;
  return out;
}
}  // namespace

TEST(IETIFFHandler, RewrittenFilesKeepTheirTagsInLibtiff) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's tools";
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"from PIL import Image\n"
                        "Image.new('RGB',(40,30),(200,10,10)).save('a.tif', description='first page')\n"
                        "Image.new('L',(17,9),77).save('b.tif', compression='tiff_adobe_deflate')\" && "
                        "/usr/bin/tiffcp -B a.tif b.tif be.tif && "
                        "/usr/bin/exiftool -q -overwrite_original -Exif:ExposureTime=1/100 -Exif:ISO=200 "
                        "-GPS:GPSLatitude=45.5 -GPS:GPSLatitudeRef=N be.tif && "
                        "/usr/bin/tiffcp -L -t -w 16 -l 16 -c lzw a.tif b.tif le_tiled.tif && "
                        "/usr/bin/tiffcp -L -c lzw -r 4 a.tif b.tif le_lzw.tif && "
                        "/usr/bin/tiffcp -B -r 7 a.tif be_strips.tif", &out), 0) << out;
  for (const char* name : {"be.tif", "le_tiled.tif", "le_lzw.tif", "be_strips.tif"}) {
    SCOPED_TRACE(name);
    TIETIFFHandler h;
    ASSERT_TRUE(h.LoadFromFile(W(tq::WorkFile(name))));
    EXPECT_EQ(h.BigEndian(), name[0] == 'b');
    h.WriteFile(W(tq::WorkFile(std::string("new_") + name)), -1);
    EXPECT_EQ(TagsOf(std::string("new_") + name), TagsOf(name));
    if (std::string(name) != "le_tiled.tif") {
      EXPECT_EQ(tq::RunHost(std::string("/usr/bin/tiffcmp ") + name + " new_" + name, &out), 0) << out;
    } else {  // tiffcmp reads scanlines only: compare the tiled pages' pixels in PIL
      EXPECT_EQ(tq::RunHost(std::string("/usr/bin/python3 -c \"from PIL import Image, ImageSequence as S\n"
                                        "px = lambda f: [p.tobytes() for p in S.Iterator(Image.open(f))]\n"
                                        "assert px('") + name + "') == px('new_" + name + "')\"", &out), 0) << out;
    }
  }
  // Every value block of the rewritten file lies at an even offset, and a big-endian file stays so.
  TIETIFFHandler h;
  ASSERT_TRUE(h.LoadFromFile(W(tq::WorkFile("new_be.tif"))));
  EXPECT_TRUE(h.BigEndian());
  EXPECT_EQ(h.Magic(), 42);
  ASSERT_EQ(h.PagesCount(), 2);
  EXPECT_GE(h.FindTag(0, 34665), 0);
  Bytes raw;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("new_be.tif"), raw));
  uint32_t ifd = IEReadU32BE(&raw[4]);
  uint16_t n = IEReadU16BE(&raw[ifd]);
  uint16_t last = 0;
  for (uint16_t k = 0; k < n; ++k) {
    const uint8_t* e = &raw[ifd + 2 + 12 * k];
    EXPECT_GT(IEReadU16BE(e), last);
    last = IEReadU16BE(e);
    uint64_t size = uint64_t(IEReadU32BE(e + 4)) * IETIFFTypeSize(IEReadU16BE(e + 2));
    if (size > 4) {
      EXPECT_EQ(IEReadU32BE(e + 8) % 2, 0u) << "tag " << last;
    }
  }

  // Tags copied from another file of the same byte order.
  TIETIFFHandler le;
  ASSERT_TRUE(le.LoadFromFile(W(tq::WorkFile("le_tiled.tif"))));
  const int n0 = int(le.Page(0)->size());
  le.CopyTag(0, h.FindTag(0, 270), h, 0);  // byte orders differ: nothing happens
  EXPECT_EQ(int(le.Page(0)->size()), n0);
  TIETIFFHandler be2;
  ASSERT_TRUE(be2.LoadFromFile(W(tq::WorkFile("be_strips.tif"))));
  be2.DeleteTag(0, be2.FindTag(0, 270));
  be2.CopyTag(0, h.FindTag(0, 34665), h, 0);
  be2.CopyTag(0, h.FindTag(0, 270), h, 0);
  be2.WriteFile(W(tq::WorkFile("copied.tif")), 0);
  ASSERT_EQ(tq::RunHost("/usr/bin/tiffinfo -D copied.tif", &out), 0) << out;
  EXPECT_NE(out.find("ImageDescription: first page"), std::string::npos) << out;
  EXPECT_NE(out.find("ISOSpeedRatings: 200"), std::string::npos) << out;
  EXPECT_EQ(tq::RunHost("/usr/bin/tiffcmp be_strips.tif copied.tif", &out), 0) << out;

  // The libtiff-written files, their directories mutated: never more read than a bound of the file.
  for (const char* name : {"be.tif", "le_tiled.tif"}) {
    Bytes file;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(name), file));
    std::mt19937 rng(42);
    for (int round = 0; round < 150; ++round) {
      Bytes b = file;
      for (int k = 0; k < 6; ++k) {
        // Aim at the header and the directories (libtiff writes them behind the image data).
        size_t at = rng() % 2 ? rng() % 16 : b.size() - 1 - rng() % std::min<size_t>(b.size(), 600);
        b[at] = uint8_t(rng());
      }
      TIETIFFHandler m;
      Read(m, b);
      EXPECT_LE(WriteToMemory(m, -1).size(), 8 + 16 * (b.size() + 64)) << name << " " << round;
    }
  }
}

TEST(IETIFFHandler, ChainsThatLoopAreReadOnce) {
  // Page 0 at 8 and page 1 at 26; case by case, page 1's next offset points back.
  for (uint32_t back : {8u, 26u, 0u}) {
    LE f;
    f.b = {'I', 'I'};
    f.U16(42);
    f.U32(8);
    f.U16(1); f.Entry(256, 3, 1, 5); f.U32(26);    // page 0
    f.U16(1); f.Entry(256, 3, 1, 6); f.U32(back);  // page 1
    TIETIFFHandler h;
    ASSERT_TRUE(Read(h, f.b));
    EXPECT_EQ(h.PagesCount(), 2) << back;
    EXPECT_EQ(h.GetTagValue(*h.Page(1), 256, 0), 6);
  }
}

TEST(IETIFFHandler, TagValues) {
  TIETIFFHandler h;
  LE f;
  f.b = {'I', 'I'};
  f.U16(42);
  f.U32(8);
  f.U16(0);
  f.U32(0);
  ASSERT_TRUE(Read(h, f.b));
  ASSERT_EQ(h.PagesCount(), 1);
  TIETIFFTagList& l = *h.Page(0);
  EXPECT_TRUE(h.SetTagValue(l, 282, 5, 0.5));
  h.SetTagValue(l, 305, std::string("abc"));
  EXPECT_TRUE(h.SetTagValue(l, 256, 3, 640));
  EXPECT_TRUE(h.SetTagValue(l, 700, 6, -3));
  EXPECT_FALSE(h.SetTagValue(l, 701, 99, 1));
  const TIETIFFTag& r = l[TIETIFFHandler::FindTagInList(l, 282)];
  EXPECT_EQ(IEReadU32LE(h.GetElementPtr(r, 0)), 5000u);
  EXPECT_EQ(IEReadU32LE(h.GetElementPtr(r, 0) + 4), 10000u);
  EXPECT_EQ(h.GetTagValue(l, 282, 0), 0);  // a RATIONAL has no integer value
  EXPECT_EQ(l[TIETIFFHandler::FindTagInList(l, 305)].count, 4u);
  EXPECT_EQ(h.GetTagValue(l, 305, 2), 'c');
  EXPECT_EQ(h.GetTagValue(l, 256, 0), 640);
  EXPECT_EQ(h.GetTagValue(l, 256, 1), 0);  // beyond the count
  EXPECT_EQ(h.GetTagValue(l, 700, 0), -3);
  EXPECT_EQ(h.GetTagValue(l, 999, 0), 0);
  EXPECT_EQ(h.FindTag(5, 256), -1);
}

TEST(IETIFFHandler, OldStyleJPEGPageGetsOneStripOffsetAtStartOfScan) {
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB, 0, 3, 1, 0xFF, 0xDA, 0, 2, 9, 9, 0xFF, 0xD9};
  LE f;
  f.b = {'I', 'I'};
  f.U16(42);
  f.U32(8);
  const uint32_t data = 8 + 2 + 12 * 6 + 4;  // the JPEG block follows the directory
  f.U16(6);
  f.Entry(259, 3, 1, 6);
  f.Entry(273, 4, 1, data + 7);
  f.Entry(279, 4, 1, 8);
  f.Entry(513, 4, 1, data);
  f.Entry(514, 4, 1, uint32_t(jpeg.size()));
  f.Entry(519, 1, 1, 0);
  f.U32(0);
  f.b.insert(f.b.end(), jpeg.begin(), jpeg.end());
  TIETIFFHandler h;
  ASSERT_TRUE(Read(h, f.b));
  EXPECT_EQ(h.FindTag(0, 273), -1);
  EXPECT_EQ(h.FindTag(0, 519), -1);
  Bytes out = WriteToMemory(h, -1);
  ASSERT_GE(out.size(), 8u + 2);
  const uint16_t n = IEReadU16LE(&out[8]);
  ASSERT_EQ(n, 5);  // 259, 279, 513, 514 and the added 273, last
  const uint8_t* lastEntry = &out[8 + 2 + 12 * 4];
  EXPECT_EQ(IEReadU16LE(lastEntry), 273);
  const uint32_t sos = IEReadU32LE(lastEntry + 8);
  ASSERT_LT(sos + 1, out.size());
  EXPECT_EQ(out[sos], 0xFF);
  EXPECT_EQ(out[sos + 1], 0xDA);
  EXPECT_EQ(sos - 7, IEReadU32LE(&out[8 + 2 + 12 * 2 + 8]));  // 513's block starts 7 bytes earlier
  EXPECT_EQ(h.FindTag(0, 273), -1);  // the added entry exists only in the written file
}

TEST(IETIFFHandler, HostileStructuresAreBounded) {
  // A valid file with a sub-directory and two pages, then mutated many ways.
  LE f;
  f.b = {'I', 'I'};
  f.U16(42);
  f.U32(8);
  f.U16(5);
  f.Entry(256, 3, 1, 4);
  f.Entry(270, 2, 12, 100);
  f.Entry(273, 4, 2, 112);
  f.Entry(279, 4, 2, 120);
  f.Entry(34665, 4, 1, 130);
  f.U32(160);
  while (f.b.size() < 100) f.b.push_back(0);
  for (char c : std::string("description")) f.b.push_back(uint8_t(c));
  f.b.push_back(0);
  f.U32(140); f.U32(144);  // 112: strip offsets
  f.U32(4); f.U32(4);      // 120: byte counts
  f.U16(0);
  f.b.resize(130, 0);
  f.U16(1); f.Entry(33434, 5, 1, 150); f.U32(0);  // 130: EXIF directory
  f.b.resize(140, 0);
  f.U32(0x11223344); f.U32(0x55667788);  // 140: strips
  f.U32(1); f.U32(100);                  // 148.. (150: the rational)
  f.b.resize(160, 0);
  f.U16(1); f.Entry(256, 3, 1, 9); f.U32(8);  // 160: page 1, pointing back to page 0
  {
    TIETIFFHandler h;
    ASSERT_TRUE(Read(h, f.b));
    ASSERT_EQ(h.PagesCount(), 2);
    ASSERT_GE(h.FindTag(0, 34665), 0);
    ASSERT_GE(h.FindTag(0, 273), 0);
    Bytes out = WriteToMemory(h, -1);
    TIETIFFHandler again;
    ASSERT_TRUE(Read(again, out));
    EXPECT_EQ(again.PagesCount(), 2);
  }
  std::mt19937 rng(126);
  for (int round = 0; round < 600; ++round) {
    Bytes b = f.b;
    const int kind = round % 3;
    if (kind == 0) b.resize(rng() % b.size());
    const int flips = 1 + rng() % 6;
    for (int k = 0; k < flips && !b.empty(); ++k) {
      size_t at = rng() % b.size();
      // Sizes and offsets are the interesting bytes: push them towards the extremes.
      b[at] = kind == 2 ? uint8_t(rng() % 2 ? 0xFF : 0x80) : uint8_t(rng());
    }
    TIETIFFHandler h;
    Read(h, b);
    Bytes out = WriteToMemory(h, -1);
    // What is kept was read from the file: the rewrite cannot be far larger than the file itself.
    EXPECT_LE(out.size(), 8 + 16 * (b.size() + 64)) << round;
  }
}
