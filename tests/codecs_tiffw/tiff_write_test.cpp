// TIFF writing, checked by libtiff's tools (tiffinfo, tiffdump, tifftopnm) and PIL.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "jpegfilt.h"
#include "imageryio.h"
#include "tifencode.h"
#include "tifencoders.h"
#include "tiftagwriter.h"

using namespace iotest;
using namespace misctest;

namespace {

class TIFFWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/tiffinfo && /usr/bin/python3 -c 'import PIL'") != 0)
      GTEST_SKIP() << "needs wine with libtiff tools and PIL";
  }
};

// Writes the bitmap as a new TIFF file; returns IETIFFWrite's result.
int Save(TIEBitmap& b, TIOParamsVals& p, const std::string& name, bool* aborted = nullptr) {
  TIEMemoryStream s;
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  const int r = IETIFFWrite(s, false, &b, p, progress);
  if (aborted) *aborted = aborting;
  const std::vector<uint8_t> bytes = StreamBytes(s);
  tq::WriteFileBytes(tq::WorkFile(name), bytes.data(), bytes.size());
  return r;
}

// What a decoder should give for a file: the check script's mode, tolerance and samples.
struct TWant {
  std::string mode = "RGB";
  std::string how = "max";
  int tolerance = 0;
  std::vector<uint8_t> samples;
};

void AddToManifest(std::string& manifest, const std::string& file, const TWant& want) {
  tq::WriteFileBytes(tq::WorkFile(file + ".want"), want.samples.data(), want.samples.size());
  manifest += file + " " + want.mode + " " + want.how + " " + std::to_string(want.tolerance) + "\n";
}

// Runs the check script over the manifest; every line must pass.
void ExpectToolsAgree(const std::string& manifest) {
  tq::WriteFileBytes(tq::WorkFile("manifest.txt"), manifest.data(), manifest.size());
  std::string out;
  const int rc = tq::RunHost("/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/codecs_tiffw/tools/check_tiff.py\" manifest.txt", &out);
  EXPECT_EQ(rc, 0) << out;
}

std::string Dump(const std::string& file) {
  std::string out;
  EXPECT_EQ(tq::RunHost("tiffdump " + file, &out), 0) << out;
  return out;
}

// ---- source pictures ----

void MakeBilevel(TIEBitmap& b, int w, int h) {
  ASSERT_TRUE(b.Allocate(w, h, ie1g));
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    std::memset(r, 0, size_t(b.GetRowLength()));
    for (int x = 0; x < w; ++x)
      if (((x / 3 + y / 5) & 1) || (x * y) % 7 == 1) r[x >> 3] |= uint8_t(0x80 >> (x & 7));
  }
}

// A grey ie24RGB picture of `levels` even steps from black to white.
void MakeGreyPicture(TIEBitmap& b, int w, int h, int levels) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      const int k = (x * 7 + y * 3 + (x * y) % 5) % levels;
      std::memset(r + 3 * x, k * 255 / (levels - 1), 3);
    }
  }
}

std::vector<uint8_t> Words16(TIEBitmap& b, bool bigEndian, int channels) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    const uint16_t* r = reinterpret_cast<const uint16_t*>(b.GetRowAddress(y));
    for (int i = 0; i < b.GetImageWidth() * channels; ++i) {
      out.push_back(uint8_t(bigEndian ? r[i] >> 8 : r[i]));
      out.push_back(uint8_t(bigEndian ? r[i] : r[i] >> 8));
    }
  }
  return out;
}

struct TSource {
  std::string name;
  int bits, samples;  // what Params ask for
  TIEBitmap bitmap;
  TWant lossless;     // what a decoder gives when the page is not JPEG
};

bool Quantized(const TSource& s) { return s.samples == 1 && ((s.bits >= 2 && s.bits <= 8) || s.bits == 16); }

// Every pixel format and the grey and palette targets, through every compression: libtiff and PIL
// read each file and give the source pixels (JPEG within a tolerance).
TEST_F(TIFFWrite, EveryFormatAndCompressionDecodesElsewhere) {
  const int w = 67, h = 45;
  std::vector<std::unique_ptr<TSource>> sources;
  auto add = [&](const std::string& name, int bits, int samples) -> TSource& {
    sources.emplace_back(new TSource{name, bits, samples, {}, {}});
    return *sources.back();
  };
  {
    TSource& s = add("bw", 1, 1);
    MakeBilevel(s.bitmap, w, h);
    s.lossless.samples = RGBOf(s.bitmap);
  }
  {
    TSource& s = add("pal", 8, 1);
    MakePicture(s.bitmap, w, h, 40);
    s.bitmap.SetPixelFormat(ie8p);
    s.lossless.samples = RGBOf(s.bitmap);
  }
  {
    TSource& s = add("grey", 8, 1);
    MakePicture(s.bitmap, w, h);
    s.bitmap.SetPixelFormat(ie8g);
    s.lossless.samples = RGBOf(s.bitmap);
  }
  {
    TSource& s = add("grey16", 16, 1);
    ASSERT_TRUE(s.bitmap.Allocate(w, h, ie16g));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) reinterpret_cast<uint16_t*>(s.bitmap.GetRowAddress(y))[x] = uint16_t(x * 977 + y * 131);
    s.lossless.mode = "I;16";
    s.lossless.samples = Words16(s.bitmap, false, 1);
  }
  {
    TSource& s = add("rgb", 8, 3);
    MakePicture(s.bitmap, w, h);
    s.lossless.samples = RGBOf(s.bitmap);
  }
  {
    TSource& s = add("rgba", 8, 3);
    MakePicture(s.bitmap, w, h);
    TIEBitmap* a = s.bitmap.GetAlphaChannel();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) a->GetRowAddress(y)[x] = y < 10 ? 255 : uint8_t(x * 3 + y);
    s.lossless.mode = "RGBa";  // associated alpha: the file holds premultiplied colours
    s.lossless.tolerance = 1;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TIERGB c = s.bitmap.GetPixelRGB(x, y);
        const int alpha = a->GetRowAddress(y)[x];
        for (int v : {int(c.r), int(c.g), int(c.b)}) s.lossless.samples.push_back(uint8_t((v * alpha + 127) / 255));
        s.lossless.samples.push_back(uint8_t(alpha));
      }
  }
  {
    TSource& s = add("cmyk", 8, 4);
    ASSERT_TRUE(s.bitmap.Allocate(w, h, ieCMYK));
    s.lossless.mode = "CMYK";
    for (int y = 0; y < h; ++y) {
      uint8_t* r = s.bitmap.GetRowAddress(y);
      for (int x = 0; x < 4 * w; ++x) {
        r[x] = uint8_t(x * 5 + y * 11);
        s.lossless.samples.push_back(uint8_t(255 - r[x]));  // files hold ink, the bitmap its inverse
      }
    }
  }
  {
    TSource& s = add("rgb48", 16, 3);
    ASSERT_TRUE(s.bitmap.Allocate(w, h, ieRGB48));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 3 * w; ++x)
        reinterpret_cast<uint16_t*>(s.bitmap.GetRowAddress(y))[x] = uint16_t(x * 1013 + y * 577);
    s.lossless.mode = "RGB16";
    s.lossless.samples = Words16(s.bitmap, true, 3);
  }
  const struct {
    const char* name;
    int bits, colours;  // colours 0: a grey picture of 16 levels
  } targets[] = {{"pal4", 4, 16}, {"pal8", 8, 200}, {"pal16", 16, 40}, {"grey4", 4, 0}, {"grey8", 8, 0}};
  for (auto& t : targets) {
    TSource& s = add(t.name, t.bits, 1);
    if (t.colours) MakePicture(s.bitmap, w, h, t.colours);
    else MakeGreyPicture(s.bitmap, w, h, 16);
    s.lossless.samples = RGBOf(s.bitmap);
  }
  {
    TSource& s = add("grey16t", 16, 1);
    MakeGreyPicture(s.bitmap, w, h, 256);
    s.lossless.mode = "I;16";
    for (uint8_t v : RGBOf(s.bitmap)) s.lossless.samples.push_back(v);
    std::vector<uint8_t> words;
    for (size_t i = 0; i < s.lossless.samples.size(); i += 3) words.insert(words.end(), {s.lossless.samples[i], s.lossless.samples[i]});
    s.lossless.samples = words;  // g x 257, little-endian
  }

  std::string manifest;
  for (auto& src : sources) {
    for (int c = 0; c <= 10; ++c) {
      TIOParamsVals p(nullptr);
      p.BitsPerSample = src->bits;
      p.SamplesPerPixel = src->samples;
      p.TIFFCompression = c;
      const std::string file = src->name + "_" + std::to_string(c) + ".tif";
      ASSERT_EQ(Save(src->bitmap, p, file), 1) << file;
      TWant want = src->lossless;
      if ((c == 6 || c == 7) && !Quantized(*src)) {
        // the strip is what the JPEG writer makes of the picture: decoders must agree with their
        // decoding of that JPEG as a file of its own (old-style JPEG goes through libtiff's own
        // chroma upsampling, which differs on the noise)
        TIOParamsVals jp(nullptr);
        jp.JPEGQuality = 80;
        jp.JPEGColorSpace = 2;
        TIEMemoryStream js;
        TIECodecProgress progress;
        IEJPEGWrite(js, src->bitmap, jp, progress);
        want = TWant{"JPEG", "mean", c == 6 ? 8 : 2, StreamBytes(js)};
      }
      AddToManifest(manifest, file, want);
    }
  }
  ExpectToolsAgree(manifest);
}

// The tags of each kind of page as tiffdump lists them.
TEST_F(TIFFWrite, TagsAsTiffdumpListsThem) {
  TIEBitmap big, bw, colour, alpha;
  MakePicture(big, 1000, 600);  // 1.8 MB of rows: strips of 200 rows
  MakeBilevel(bw, 67, 45);
  MakePicture(colour, 67, 45);
  MakePicture(alpha, 67, 45);
  for (int y = 0; y < 45; ++y) alpha.GetAlphaChannel()->GetRowAddress(y)[3] = 10;
  const TIETIFFLZWCompressor defaultLZW = IEGlobalTIFFLZWCompressor;
  const struct {
    const char* file;
    TIEBitmap* bitmap;
    int bits, samples, compression;
    bool noLZW;
    std::vector<std::string> shown, absent;
  } cases[] = {
      {"lzw.tif", &big, 8, 3, 5, false,
       {"Compression (259) SHORT (3) 1<5>", "Predictor (317) SHORT (3) 1<2>", "RowsPerStrip (278) LONG (4) 1<200>",
        "StripOffsets (273) LONG (4) 3<", "StripByteCounts (279) LONG (4) 3<"}, {}},
      {"nolzw.tif", &colour, 8, 3, 5, true, {"Compression (259) SHORT (3) 1<1>"}, {"Predictor"}},
      {"alpha.tif", &alpha, 8, 3, 0, false,
       {"ExtraSamples (338) SHORT (3) 1<1>", "BitsPerSample (258) SHORT (3) 4<8 8 8 8>",
        "SamplesPerPixel (277) SHORT (3) 1<4>"}, {}},
      {"alphalzw.tif", &alpha, 8, 3, 5, false, {"ExtraSamples (338) SHORT (3) 1<1>"}, {"Predictor"}},
      {"g3.tif", &bw, 1, 1, 3, false,
       {"Compression (259) SHORT (3) 1<3>", "Photometric (262) SHORT (3) 1<0>", "Group3Options (292) LONG (4) 1<1>"}, {}},
      {"g4.tif", &bw, 1, 1, 4, false,
       {"Compression (259) SHORT (3) 1<4>", "Photometric (262) SHORT (3) 1<0>", "FillOrder (266) SHORT (3) 1<1>",
        "CleanFaxData (327) SHORT (3) 1<0>", "Group3Options (292) LONG (4) 1<0>", "Group4Options (293) LONG (4) 1<0>"},
       {}},
      {"bwplain.tif", &bw, 1, 1, 0, false, {"Photometric (262) SHORT (3) 1<1>"}, {"FillOrder", "CleanFaxData"}},
      // a palette target never gets JPEG
      {"paljpeg.tif", &colour, 8, 1, 7, false,
       {"Compression (259) SHORT (3) 1<1>", "Photometric (262) SHORT (3) 1<3>", "Colormap (320) SHORT (3) 768<"}, {}},
      {"zip10.tif", &colour, 8, 3, 10, false, {"Compression (259) SHORT (3) 1<32946>"}, {}},
      {"text4.tif", &colour, 8, 3, 8, false,
       {"Compression (259) SHORT (3) 1<32773>", "PageName (285) ASCII (2) 4<abcd>",
        "ImageDescription (270) ASCII (2) 6<hello\\0>", "PageNumber (297) SHORT (3) 2<1 3>"}, {}},
  };
  for (auto& c : cases) {
    TIOParamsVals p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.TIFFCompression = c.compression;
    if (std::string(c.file) == "text4.tif") {
      p.TIFFPageName = "abcd";
      p.TIFFImageDescription = "hello";
      p.TIFFPageNumber = 1;
      p.TIFFPageCount = 3;
    }
    if (c.noLZW) p.TIFFLZWCompress = IEGlobalTIFFLZWCompressor = nullptr;
    ASSERT_EQ(Save(*c.bitmap, p, c.file), 1);
    IEGlobalTIFFLZWCompressor = defaultLZW;
    const std::string dump = Dump(c.file);
    for (const std::string& t : c.shown) EXPECT_NE(dump.find(t), std::string::npos) << c.file << ": " << t << "\n" << dump;
    for (const std::string& t : c.absent) EXPECT_EQ(dump.find(t), std::string::npos) << c.file << ": " << t;
  }
  std::string out;
  EXPECT_EQ(tq::RunHost("tiffinfo -D lzw.tif nolzw.tif zip10.tif alpha.tif >/dev/null", &out), 0) << out;
  EXPECT_EQ(out, "");
  // texts of up to 4 characters are kept inline without their NUL, which libtiff notes
  EXPECT_EQ(tq::RunHost("tiffinfo -D text4.tif >/dev/null", &out), 0) << out;
  EXPECT_EQ(out, "TIFFFetchNormalTag: Warning, ASCII value for tag \"PageName\" does not end in null byte.\n");
}

// A page inserted into a two-page file tiffcp made goes before page TIFFImageIndex, or last when the
// index is past the end; every page keeps its pixels.
TEST_F(TIFFWrite, InsertedPageTakesItsPlace) {
  TIEBitmap a, b, page;
  MakePicture(a, 40, 30);
  MakePicture(b, 50, 20, 30);
  MakePicture(page, 33, 27, 12);
  ASSERT_TRUE(WritePPM(a, tq::WorkFile("a.ppm")));
  ASSERT_TRUE(WritePPM(b, tq::WorkFile("b.ppm")));
  Host("pnmtotiff a.ppm > a.tif 2>/dev/null && pnmtotiff -lzw b.ppm > b.tif 2>/dev/null && tiffcp a.tif b.tif two.tif");
  std::vector<uint8_t> two = FileBytes(tq::WorkFile("two.tif"));
  ASSERT_FALSE(two.empty());
  std::string manifest;
  for (int index : {0, 1, 99}) {
    TIEMemoryStream s;
    s.Write(two.data(), int32_t(two.size()));
    s.SetPosition(0);
    TIOParamsVals p(nullptr);
    p.TIFFImageIndex = index;
    p.TIFFCompression = 8;
    std::atomic<bool> aborting{false};
    TIECodecProgress progress;
    progress.Aborting = &aborting;
    EXPECT_EQ(IETIFFWrite(s, true, &page, p, progress), 3);
    EXPECT_FALSE(aborting);
    const std::string file = "ins" + std::to_string(index) + ".tif";
    const std::vector<uint8_t> bytes = StreamBytes(s);
    tq::WriteFileBytes(tq::WorkFile(file), bytes.data(), bytes.size());
    const int at = index > 2 ? 2 : index;
    TIEBitmap* order[3];
    for (int i = 0, k = 0; i < 3; ++i) order[i] = i == at ? &page : (k++ == 0 ? &a : &b);
    for (int i = 0; i < 3; ++i) {
      const std::string pageFile = file + "." + std::to_string(i) + ".tif";
      Host("tiffcp " + file + "," + std::to_string(i) + " " + pageFile);
      AddToManifest(manifest, pageFile, TWant{"RGB", "max", 0, RGBOf(*order[i])});
    }
  }
  ExpectToolsAgree(manifest);
}

// With TIFFByteOrder 0 the writer makes big-endian files that tiffinfo and PIL read as they read the
// little-endian ones (16-bit samples included), and a page joins such a file in its byte order.
TEST_F(TIFFWrite, BigEndianFilesDecodeElsewhere) {
  const int w = 45, h = 23;
  TIEBitmap bw, rgb, alpha, pal, grey16, rgb48;
  MakeBilevel(bw, w, h);
  MakePicture(rgb, w, h);
  MakePicture(alpha, w, h);
  for (int y = 0; y < h; ++y) alpha.GetAlphaChannel()->GetRowAddress(y)[3] = 10;
  MakePicture(pal, w, h, 40);
  pal.SetPixelFormat(ie8p);
  ASSERT_TRUE(grey16.Allocate(w, h, ie16g));
  ASSERT_TRUE(rgb48.Allocate(w, h, ieRGB48));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) reinterpret_cast<uint16_t*>(grey16.GetRowAddress(y))[x] = uint16_t(x * 977 + y * 131);
    for (int x = 0; x < 3 * w; ++x) reinterpret_cast<uint16_t*>(rgb48.GetRowAddress(y))[x] = uint16_t(x * 1013 + y * 577);
  }
  std::vector<uint8_t> premultiplied;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TIERGB c = alpha.GetPixelRGB(x, y);
      const int a = alpha.GetAlphaChannel()->GetRowAddress(y)[x];
      for (int v : {int(c.r), int(c.g), int(c.b)}) premultiplied.push_back(uint8_t((v * a + 127) / 255));
      premultiplied.push_back(uint8_t(a));
    }
  const struct {
    const char* name;
    TIEBitmap* bitmap;
    int bits, samples, compression;
    TWant want;
  } cases[] = {
      {"be_g4", &bw, 1, 1, 4, {"RGB", "max", 0, RGBOf(bw)}},
      {"be_rgb", &rgb, 8, 3, 0, {"RGB", "max", 0, RGBOf(rgb)}},
      {"be_rgblzw", &rgb, 8, 3, 5, {"RGB", "max", 0, RGBOf(rgb)}},
      {"be_alpha", &alpha, 8, 3, 8, {"RGBa", "max", 1, premultiplied}},
      {"be_pal", &pal, 8, 1, 0, {"RGB", "max", 0, RGBOf(pal)}},
      {"be_grey16", &grey16, 16, 1, 5, {"I;16B", "max", 0, Words16(grey16, true, 1)}},
      {"be_rgb48", &rgb48, 16, 3, 8, {"RGB16", "max", 0, Words16(rgb48, true, 3)}},
  };
  std::string manifest;
  for (auto& c : cases) {
    TIOParamsVals p(nullptr);
    p.BitsPerSample = c.bits;
    p.SamplesPerPixel = c.samples;
    p.TIFFCompression = c.compression;
    p.TIFFByteOrder = 0;
    p.TIFFPageName = "a page name";
    const std::string file = std::string(c.name) + ".tif";
    ASSERT_EQ(Save(*c.bitmap, p, file), 1) << file;
    const std::string dump = Dump(file);
    EXPECT_NE(dump.find("Magic: 0x4d4d <big-endian>"), std::string::npos) << file << "\n" << dump;
    EXPECT_NE(dump.find("PageName (285) ASCII (2) 12<a page name\\0>"), std::string::npos) << file << "\n" << dump;
    AddToManifest(manifest, file, c.want);
  }
  // a page inserted into a big-endian file
  std::vector<uint8_t> first = FileBytes(tq::WorkFile("be_rgb.tif"));
  TIEMemoryStream s;
  s.Write(first.data(), int32_t(first.size()));
  s.SetPosition(0);
  TIOParamsVals p(nullptr);
  p.TIFFImageIndex = 99;
  p.TIFFCompression = 5;
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  EXPECT_EQ(IETIFFWrite(s, true, &pal, p, progress), 2);
  EXPECT_FALSE(aborting);
  const std::vector<uint8_t> bytes = StreamBytes(s);
  tq::WriteFileBytes(tq::WorkFile("be_two.tif"), bytes.data(), bytes.size());
  Host("tiffcp be_two.tif,0 be_two_0.tif && tiffcp be_two.tif,1 be_two_1.tif");
  AddToManifest(manifest, "be_two_0.tif", TWant{"RGB", "max", 0, RGBOf(rgb)});
  AddToManifest(manifest, "be_two_1.tif", TWant{"RGB", "max", 0, RGBOf(pal)});
  ExpectToolsAgree(manifest);
}

// A stream that refuses bytes, and an insertion into something that is no TIFF or whose chain cannot
// be read, set the abort flag.
TEST_F(TIFFWrite, RefusedWritesAndForeignStreamsAbort) {
  TIEBitmap pic;
  MakePicture(pic, 300, 200);
  for (int64_t limit : {4, 100, 1000}) {
    for (int c : {0, 4, 5, 7, 9}) {
      LimitedStream s(limit);
      TIOParamsVals p(nullptr);
      p.TIFFCompression = c;
      if (c == 4) p.BitsPerSample = 1, p.SamplesPerPixel = 1;
      std::atomic<bool> aborting{false};
      TIECodecProgress progress;
      progress.Aborting = &aborting;
      EXPECT_EQ(IETIFFWrite(s, false, &pic, p, progress), 0) << limit << " " << c;
      EXPECT_TRUE(aborting) << limit << " " << c;
    }
  }
  const char* foreign[] = {"MM\0*\0\0\0\x08", "GIF89a", ""};
  for (const char* f : foreign) {
    TIEMemoryStream s;
    s.Write(f, int32_t(std::strlen(f) + (f[0] == 'M' ? 8 : 0)));
    s.SetPosition(0);
    TIOParamsVals p(nullptr);
    std::atomic<bool> aborting{false};
    TIECodecProgress progress;
    progress.Aborting = &aborting;
    EXPECT_EQ(IETIFFWrite(s, true, &pic, p, progress), 0);
    EXPECT_TRUE(aborting);
  }
}

// Files that would pass 4 GiB, and page chains that come back on themselves, are refused.
TEST_F(TIFFWrite, OffsetsPast4GiBAndLoopingChainsAbort) {
  // counts what it is given from a position just below 4 GiB
  class FarStream : public TIEStream {
   public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override {
      pos_ += count;
      size_ = std::max(size_, pos_);
      return count;
    }
    int64_t Seek(int64_t offset, int origin) override {
      pos_ = origin == soFromBeginning ? offset : origin == soFromCurrent ? pos_ + offset : size_ + offset;
      return pos_;
    }

   private:
    int64_t pos_ = 0xFFFFF000, size_ = 0xFFFFF000;
  };
  TIEBitmap pic;
  MakePicture(pic, 100, 50);
  {
    FarStream s;
    TIOParamsVals p(nullptr);
    std::atomic<bool> aborting{false};
    TIECodecProgress progress;
    progress.Aborting = &aborting;
    EXPECT_EQ(IETIFFWrite(s, false, &pic, p, progress), 0);
    EXPECT_TRUE(aborting);
  }
  // a first directory whose next offset points back at itself
  const uint8_t looping[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 4, 0, 1, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0};
  TIEMemoryStream s;
  s.Write(looping, sizeof looping);
  s.SetPosition(0);
  TIOParamsVals p(nullptr);
  p.TIFFImageIndex = 99;
  std::atomic<bool> aborting{false};
  TIECodecProgress progress;
  progress.Aborting = &aborting;
  EXPECT_EQ(IETIFFWrite(s, true, &pic, p, progress), 0);
  EXPECT_TRUE(aborting);
}

// Deflate levels outside 0 to 2 use zlib's default; the input/output component saves TIFF files.
TEST_F(TIFFWrite, DeflateLevelsAndSavingThroughTheComponent) {
  TIEBitmap pic;
  MakePicture(pic, 50, 40);
  std::string manifest;
  for (int level : {0, 1, 2, 7, -3}) {
    TIOParamsVals p(nullptr);
    p.TIFFCompression = 9;
    p.TIFFZIPCompression = level;
    const std::string file = "zip_level" + std::to_string(level) + ".tif";
    ASSERT_EQ(Save(pic, p, file), 1);
    AddToManifest(manifest, file, TWant{"RGB", "max", 0, RGBOf(pic)});
  }
  TImageryIO io(&pic);
  io.Params.TIFFCompression = 5;
  io.SaveByExtension(W(tq::WorkFile("component.tif")));
  EXPECT_FALSE(io.Aborting);
  AddToManifest(manifest, "component.tif", TWant{"RGB", "max", 0, RGBOf(pic)});
  ExpectToolsAgree(manifest);
}

// A Deflate page of several megabytes is written as many strips compressed side by side: noise
// whose rows repeat every few rows, flat bands and fresh noise, at the fastest, default and best
// levels, decode to the source pixels elsewhere.
TEST_F(TIFFWrite, DeflatePagesOfManyPiecesDecodeElsewhere) {
  const int w = 1500, h = 1000;
  TIEBitmap pic;
  ASSERT_TRUE(pic.Allocate(w, h, ie24RGB));
  uint32_t seed = 12345;
  auto noise = [&seed] { return uint8_t((seed = seed * 1103515245u + 12345u) >> 23); };
  for (int y = 0; y < h; ++y) {
    uint8_t* r = pic.GetRowAddress(y);
    if (y % 100 < 40 && y % 7 != 0) {
      std::memcpy(r, pic.GetRowAddress(y - 1), size_t(w) * 3);  // repeats of the row above
    } else if (y % 100 < 60) {
      for (int x = 0; x < w; ++x) {  // flat areas of a few colours with a noisy edge
        r[3 * x] = uint8_t(40 + x / 300 * 30), r[3 * x + 1] = uint8_t(200 - y / 100 * 9), r[3 * x + 2] = 17;
        if (x % 300 > 290) r[3 * x + 2] = noise();
      }
    } else {
      for (int i = 0; i < w * 3; ++i) r[i] = noise();
    }
  }
  std::string manifest;
  for (int level : {0, 1, 2}) {
    TIOParamsVals p(nullptr);
    p.TIFFCompression = 9;
    p.TIFFZIPCompression = level;
    const std::string file = "zip_big" + std::to_string(level) + ".tif";
    bool aborted = true;
    ASSERT_EQ(Save(pic, p, file, &aborted), 1);
    EXPECT_FALSE(aborted);
    AddToManifest(manifest, file, TWant{"RGB", "max", 0, RGBOf(pic)});
  }
  ExpectToolsAgree(manifest);
  std::string out;
  EXPECT_EQ(tq::RunHost("/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/codecs_tiffw/tools/check_zlib_strips.py\" "
                        "zip_big0.tif zip_big1.tif zip_big2.tif", &out), 0) << out;
}

// The row encoders other writers share: strips they code, put into TIFF files, decode with libtiff.
TEST_F(TIFFWrite, SharedRowEncodersDecodeElsewhere) {
  TIEBitmap bw, pic;
  MakeBilevel(bw, 75, 33);
  MakePicture(pic, 41, 29);
  std::vector<const uint8_t*> bwRows, rgbRows;
  std::vector<std::vector<uint8_t>> keep;  // the encoders take 1 = black
  for (int y = 0; y < 33; ++y) {
    keep.emplace_back(bw.GetRowAddress(y), bw.GetRowAddress(y) + 10);
    for (uint8_t& v : keep.back()) v = uint8_t(~v);
  }
  for (auto& r : keep) bwRows.push_back(r.data());
  std::vector<std::vector<uint8_t>> rgb;
  for (int y = 0; y < 29; ++y) {
    const uint8_t* s = pic.GetRowAddress(y);
    rgb.emplace_back();
    for (int x = 0; x < 41; ++x) rgb.back().insert(rgb.back().end(), {s[3 * x + 2], s[3 * x + 1], s[3 * x]});
  }
  for (auto& r : rgb) rgbRows.push_back(r.data());

  const struct {
    const char* file;
    bool bilevel;
    uint16_t compression;
    uint32_t t4Options;
    std::vector<uint8_t> strip;
  } cases[] = {
      {"enc_mh.tif", true, 2, 0, IEFaxEncodeRows(bwRows, 75, ifcMH, 1)},
      {"enc_g3.tif", true, 3, 0, IEFaxEncodeRows(bwRows, 75, ifcT4_1D, 1)},
      {"enc_g32d.tif", true, 3, 1, IEFaxEncodeRows(bwRows, 75, ifcT4_2D, 1)},
      {"enc_g4.tif", true, 4, 0, IEFaxEncodeRows(bwRows, 75, ifcT6, 1)},
      {"enc_lzw.tif", false, 5, 0, IELZWEncodeRows(rgbRows, 41 * 3)},
      {"enc_packbits.tif", false, 32773, 0, IEPackBitsEncodeRows(rgbRows, 41 * 3)},
  };
  std::string manifest;
  for (auto& c : cases) {
    TIEMemoryStream s;
    std::atomic<bool> aborting{false};
    TIETIFFTagWriter w(s, aborting);
    const uint8_t header[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
    w.Write(header, 8);
    const uint32_t strip = w.Offset();
    w.Write(c.strip.data(), c.strip.size());
    w.AddLong(256, c.bilevel ? 75 : 41);
    w.AddLong(257, c.bilevel ? 33 : 29);
    if (c.bilevel) w.AddShort(258, 1);
    else w.AddShorts(258, {8, 8, 8});
    w.AddShort(259, c.compression);
    w.AddShort(262, c.bilevel ? 0 : 2);
    w.AddLong(273, strip);
    w.AddShort(277, c.bilevel ? 1 : 3);
    w.AddLong(278, c.bilevel ? 33 : 29);
    w.AddLong(279, uint32_t(c.strip.size()));
    if (c.compression == 3) w.AddLong(292, c.t4Options);
    const uint32_t ifd = w.AlignEven();
    w.WriteDirectory(0);
    s.SetPosition(4);
    w.Write(&ifd, 4);
    ASSERT_FALSE(aborting);
    const std::vector<uint8_t> bytes = StreamBytes(s);
    tq::WriteFileBytes(tq::WorkFile(c.file), bytes.data(), bytes.size());
    AddToManifest(manifest, c.file, TWant{"RGB", "max", 0, RGBOf(c.bilevel ? bw : pic)});
  }
  ExpectToolsAgree(manifest);
}

}  // namespace

namespace {

// Imaging annotations go out as tag 32932, which libtiff lists with the block's length, and come
// back through the reader mark for mark; a page without them gets no tag.
TEST_F(TIFFWrite, ImagingAnnotationsRoundTrip) {
  TIEBitmap pic;
  MakePicture(pic, 30, 20);
  TIOParamsVals p(nullptr);
  p.TIFFCompression = 5;
  TIEImagingObject& text = p.GetImagingAnnot().AddObject();
  IEWriteU32LE(text.Attributes, 7);
  text.Text = "Approved";
  TIEImagingObject& line = p.GetImagingAnnot().AddObject();
  IEWriteU32LE(line.Attributes, 3);
  line.Points = {1, 2, 28, 17};
  void* block = nullptr;
  int32_t length = 0;
  p.ImagingAnnot->SaveToBuffer(block, length);
  std::free(block);
  ASSERT_GT(length, 0);
  ASSERT_EQ(Save(pic, p, "annot.tif"), 1);
  EXPECT_NE(Dump("annot.tif").find("32932 (0x80a4) BYTE (1) " + std::to_string(length) + "<"), std::string::npos)
      << Dump("annot.tif");

  TIEBitmap back;
  TImageryIO io(&back);
  io.LoadByContent(W(tq::WorkFile("annot.tif")));
  ASSERT_FALSE(io.Aborting);
  ASSERT_TRUE(io.Params.ImagingAnnot);
  ASSERT_EQ(io.Params.ImagingAnnot->Count(), 2);
  EXPECT_EQ(io.Params.ImagingAnnot->Object(0).Text, "Approved");
  EXPECT_EQ(io.Params.ImagingAnnot->Object(1).Points, line.Points);

  // the next load of a file without marks leaves none behind
  TIOParamsVals plain(nullptr);
  ASSERT_EQ(Save(pic, plain, "plain.tif"), 1);
  EXPECT_EQ(Dump("plain.tif").find("32932"), std::string::npos);
  io.LoadByContent(W(tq::WorkFile("plain.tif")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_TRUE(!io.Params.ImagingAnnot || io.Params.ImagingAnnot->Count() == 0);
}

}  // namespace
