// The JPEG codec against the host's libjpeg tools (cjpeg, djpeg, rdjpgcom), ImageMagick and PIL:
// decoded pixels equal djpeg's at every scale, written entropy data equals cjpeg's, markers, ICC
// chunks and CMYK samples read as the other tools see them, and hostile files never crash.
#include "jpegfilt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "coder_fixtures.h"
#include "hostenv.h"
#include "iebitmapservices.h"
#include "imageryio.h"
#include "iotest_util.h"
#include "jpegtest_read.h"

using fx::Bytes;
using namespace iotest;

namespace {

using jpegtest::Read;
using jpegtest::TRead;

Bytes Write(TIEBitmap& b, TIOParamsVals& p, bool* aborted = nullptr) {
  TIEMemoryStream s;
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  IEJPEGWrite(s, b, p, progress);
  if (aborted) *aborted = abort;
  return fx::StreamBytes(s);
}

// The source picture as src.ppm, made once.
TIEBitmap& Picture() {
  static TIEBitmap* picture = nullptr;
  if (!picture) {
    picture = new TIEBitmap();
    MakePicture(*picture, 101, 77);
    EXPECT_TRUE(WritePPM(*picture, tq::WorkFile("src.ppm")));
  }
  return *picture;
}

Bytes HostFile(const std::string& command, const std::string& name) {
  int rc = 0;
  const std::string out = fx::Host(command, &rc);
  EXPECT_EQ(rc, 0) << command << "\n" << out;
  return fx::ReadWork(name);
}

void ExpectEqualsPnm(TIEBitmap& b, const std::string& pnm) {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPPM(tq::WorkFile(pnm), w, h, rgb)) << pnm;
  ASSERT_EQ(b.GetImageWidth(), w) << pnm;
  ASSERT_EQ(b.GetImageHeight(), h) << pnm;
  EXPECT_TRUE(RGBOf(b) == rgb) << pnm;
}

// From the first start-of-scan marker to the end.
Bytes FromSOS(const Bytes& f) {
  for (size_t i = 2; i + 1 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] == 0xDA) return Bytes(f.begin() + long(i), f.end());
  return Bytes();
}

size_t Find(const Bytes& f, const std::string& text, size_t from = 0) {
  for (size_t i = from; i + text.size() <= f.size(); ++i)
    if (std::equal(text.begin(), text.end(), f.begin() + long(i))) return i;
  return std::string::npos;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

// Every kind of file cjpeg makes decodes as djpeg decodes it, at full size and at 1/2, 1/4, 1/8.
TEST(JPEGRead, CjpegFilesEqualDjpegAtEveryScale) {
  Picture();
  struct Case {
    const char* name;
    const char* options;
  };
  const Case kCases[] = {
      {"baseline", "-baseline"},      {"progressive", "-progressive"}, {"optimized", "-optimize"},
      {"grey", "-grayscale"},         {"restart", "-restart 1"},       {"s444", "-sample 1x1"},
      {"s422", "-sample 2x1"},        {"s420", "-sample 2x2"},         {"arithmetic", "-arithmetic"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string jpg = std::string(c.name) + ".jpg";
    const Bytes file = HostFile("cjpeg " + std::string(c.options) + " src.ppm > " + jpg, jpg);
    for (int scale = 1; scale <= 4; ++scale) {
      const int d = 1 << (scale - 1);
      const std::string pnm = std::string(c.name) + "_" + std::to_string(d) + ".pnm";
      HostFile("djpeg -pnm -scale 1/" + std::to_string(d) + " " + jpg + " > " + pnm, pnm);
      TIEBitmap b;
      TIOParamsVals p(nullptr);
      p.JPEGScale = scale;
      const TRead r = Read(file, b, p, scale == 2);
      EXPECT_FALSE(r.aborted);
      EXPECT_EQ(r.rows, b.GetImageHeight());
      EXPECT_EQ(p.JPEGScaleUsed, d);
      EXPECT_EQ(p.StoredWidth, 101);
      EXPECT_EQ(p.JPEGWarningCount, 0);
      EXPECT_EQ(b.GetPixelFormat(), scale == 2 && c.name == std::string("grey") ? ie8g : ie24RGB);
      ExpectEqualsPnm(b, pnm);
    }
  }
}

TEST(JPEGRead, ParametersOfTheFile) {
  Picture();
  const Bytes prog = HostFile("cjpeg -progressive -grayscale src.ppm > pg.jpg", "pg.jpg");
  TIEBitmap untouched(5, 5, ie24RGB);
  TIOParamsVals p(nullptr);
  TIEMemStream s(prog.data(), int64_t(prog.size()));
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  IEJPEGRead(s, nullptr, untouched, p, progress, true, false, true, false, false, true, -1, false);
  EXPECT_FALSE(abort);
  EXPECT_EQ(untouched.GetImageWidth(), 5);  // parameters only
  EXPECT_EQ(p.Width, 101);
  EXPECT_EQ(p.Height, 77);
  EXPECT_TRUE(p.JPEGProgressive);
  EXPECT_EQ(p.JPEGColorSpace, 1);
  EXPECT_EQ(p.SamplesPerPixel, 1);

  // JFIF density in dots per centimetre: 118 becomes Trunc(118 x 2.54) = 299 dpi.
  Bytes dpcm = HostFile("cjpeg src.ppm > d.jpg", "d.jpg");
  ASSERT_EQ(Find(dpcm, std::string("JFIF\0", 5)), 6u);
  dpcm[13] = 2;
  dpcm[14] = 0, dpcm[15] = 118, dpcm[16] = 0, dpcm[17] = 118;
  TIEBitmap b;
  Read(dpcm, b, p);
  EXPECT_EQ(p.DpiX, 299);
  EXPECT_EQ(p.DpiY, 299);
}

// The start of image may follow up to 149 bytes of other data.
TEST(JPEGRead, StartOfImageWithin150Bytes) {
  Picture();
  const Bytes file = HostFile("cjpeg src.ppm > p.jpg", "p.jpg");
  for (int junk : {0, 1, 149, 150}) {
    Bytes f(size_t(junk) + 7, 0x5A);
    f.insert(f.end(), file.begin(), file.end());
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    const TRead r = Read(f, b, p, false, false, 7);
    EXPECT_EQ(r.aborted, junk == 150) << junk;
    EXPECT_EQ(r.rows, junk == 150 ? 0 : 77) << junk;
    TIEMemStream s(f.data(), int64_t(f.size()));
    s.SetPosition(7);
    EXPECT_EQ(IEJPEGFindSOI(s, true), junk == 150 ? -1 : 7 + junk);
    EXPECT_EQ(IEJPEGFindSOI(s, false), junk == 0 ? 0 : -1);
    EXPECT_EQ(s.GetPosition(), 7);
  }
}

// A file cut short keeps its rows (the library fills the rest as djpeg does), counts a warning and
// raises nothing; an empty stream aborts.
TEST(JPEGRead, TruncatedFileGivesItsRowsAndAWarning) {
  Picture();
  const Bytes file = HostFile("cjpeg -sample 2x2 src.ppm > t.jpg", "t.jpg");
  Bytes cut(file.begin(), file.begin() + long(file.size() * 6 / 10));
  ASSERT_TRUE(fx::WriteWork("cut.jpg", cut));
  HostFile("djpeg -pnm cut.jpg > cut.pnm; test -s cut.pnm", "cut.pnm");  // djpeg exits 2 on the warning
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  const TRead r = Read(cut, b, p);
  EXPECT_EQ(r.rows, 77);
  EXPECT_GT(p.JPEGWarningCount, 0);
  EXPECT_EQ(p.JPEGWarningCode, 117);  // "Corrupt JPEG data: premature end of data segment"
  ExpectEqualsPnm(b, "cut.pnm");

  const Bytes empty;
  TIEMemoryStream none;
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  EXPECT_EQ(IEJPEGRead(none, nullptr, b, p, progress, false, false, true, false, false, true, -1, false), 0);
  EXPECT_TRUE(abort);

  // rows limited on purpose: no abort, the rest is not decoded
  TIEBitmap part;
  const TRead limited = Read(file, part, p, false, false, 0, 10);
  EXPECT_EQ(limited.rows, 10);
  EXPECT_FALSE(limited.aborted);
}

// An Adobe CMYK file from ImageMagick: natively its samples as stored (PIL inverts them on reading);
// into 24 bits through the plain formula with colour management off.
TEST(JPEGRead, AdobeCMYKAgreesWithPIL) {
  Picture();
  HostFile("convert src.ppm -colorspace CMYK cmyk.jpg", "cmyk.jpg");
  const std::string py =
      "from PIL import Image\nim = Image.open('cmyk.jpg')\nassert im.mode == 'CMYK'\n"
      "assert 'adobe' in im.info\nopen('cmyk.raw', 'wb').write(im.tobytes())\n";
  ASSERT_TRUE(fx::WriteWork("cmyk.py", Text(py)));
  const Bytes pil = HostFile("/usr/bin/python3 cmyk.py", "cmyk.raw");
  ASSERT_EQ(pil.size(), size_t(101 * 77 * 4));
  const Bytes file = fx::ReadWork("cmyk.jpg");

  TIEBitmap native;
  TIOParamsVals p(nullptr);
  EXPECT_FALSE(Read(file, native, p, true).aborted);
  ASSERT_EQ(native.GetPixelFormat(), ieCMYK);
  EXPECT_TRUE(p.JPEGColorSpace == 3 || p.JPEGColorSpace == 4);  // CMYK or YCCK, as the tool chose
  EXPECT_EQ(p.SamplesPerPixel, 4);
  Bytes stored;
  for (int y = 0; y < 77; ++y) {
    const uint8_t* row = native.GetRowAddress(y);
    stored.insert(stored.end(), row, row + 101 * 4);
  }
  for (size_t i = 0; i < pil.size(); ++i) ASSERT_EQ(stored[i], 255 - pil[i]) << "sample " << i;

  // colour management off: the plain formula, whatever the library's start-up installed
  const TIEConversionServices saved = IEConversionServices;
  IEConversionServices.CMYKToRGB = IEDefaultCMYKToRGB;
  IEConversionServices.CMYKRowToRGB = IEDefaultCMYKRowToRGB;
  struct Restore {
    const TIEConversionServices& s;
    ~Restore() { IEConversionServices = s; }
  } restore{saved};
  for (bool invert : {false, true}) {
    TIEBitmap rgb;
    EXPECT_FALSE(Read(file, rgb, p, false, invert).aborted);
    ASSERT_EQ(rgb.GetPixelFormat(), ie24RGB);
    for (int i = 0; i < 101 * 77; ++i) {
      uint8_t s[4];
      for (int k = 0; k < 4; ++k) s[k] = uint8_t(invert ? pil[4 * i + k] : 255 - pil[4 * i + k]);
      const TIERGB got = rgb.GetRGB(i % 101, i / 101);
      ASSERT_EQ(got.r, s[0] * s[3] / 255) << i;
      ASSERT_EQ(got.g, s[1] * s[3] / 255) << i;
      ASSERT_EQ(got.b, s[2] * s[3] / 255) << i;
    }
  }
}

// Cut and flipped files of every kind end with or without the abort flag, never with a crash.
TEST(JPEGRead, MutatedFilesNeverCrash) {
  Picture();
  const char* kMakers[] = {"cjpeg -restart 1 src.ppm", "cjpeg -progressive src.ppm",
                           "cjpeg -arithmetic -sample 1x1 src.ppm", "convert src.ppm -colorspace CMYK jpg:-"};
  int n = 0;
  for (const char* maker : kMakers) {
    const std::string name = "m" + std::to_string(n++) + ".jpg";
    const Bytes file = HostFile(std::string(maker) + " > " + name, name);
    for (const Bytes& m : fx::Mutations(file, 150, uint32_t(n * 7919))) {
      for (bool native : {false, true}) {
        TIEBitmap b;
        TIOParamsVals p(nullptr);
        const TRead r = Read(m, b, p, native);
        EXPECT_LE(r.rows, 77);
      }
    }
  }
}

// The entropy-coded data from the first start of scan equals cjpeg's for the same pixels and options.
TEST(JPEGWrite, ScanDataEqualsCjpeg) {
  TIEBitmap& picture = Picture();
  struct Case {
    int quality, subsampling;
    bool optimize, progressive;
    uint8_t colorSpace;
    const char* options;
  };
  const Case kCases[] = {
      {80, 1, false, false, 2, "-baseline -quality 80 -sample 2x2"},
      {75, 0, false, false, 2, "-baseline -quality 75 -sample 2x1"},
      {95, 2, false, false, 2, "-baseline -quality 95 -sample 1x1"},
      {50, 1, true, false, 2, "-baseline -quality 50 -sample 2x2 -optimize"},
      {85, 0, false, true, 2, "-baseline -quality 85 -sample 2x1 -progressive"},
      {80, 1, false, false, 1, "-baseline -quality 80 -grayscale"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options);
    TIOParamsVals p(nullptr);
    p.JPEGQuality = c.quality;
    p.JPEGChromaSubsampling = c.subsampling;
    p.JPEGOptimalHuffman = c.optimize;
    p.JPEGProgressive = c.progressive;
    p.JPEGColorSpace = c.colorSpace;
    bool aborted = true;
    const Bytes ours = Write(picture, p, &aborted);
    EXPECT_FALSE(aborted);
    const Bytes theirs = HostFile("cjpeg " + std::string(c.options) + " src.ppm > c.jpg", "c.jpg");
    const Bytes a = FromSOS(ours), b = FromSOS(theirs);
    ASSERT_FALSE(b.empty());
    EXPECT_TRUE(a == b) << "sizes " << a.size() << " and " << b.size();
  }
}

// CMYK written from 24 bits: PIL reads back the inverted samples of the plain conversion.
TEST(JPEGWrite, CMYKFileReadsInPIL) {
  TIEBitmap& picture = Picture();
  TIOParamsVals p(nullptr);
  p.JPEGColorSpace = 3;
  p.JPEGQuality = 100;
  p.JPEGMarkerList.AddMarker(0xEE, "Adobe\0\0\0\0\0\0\0", 12);  // not written: the library writes its own
  const Bytes ours = Write(picture, p);
  const size_t adobe = Find(ours, "Adobe");
  ASSERT_NE(adobe, std::string::npos);
  EXPECT_EQ(Find(ours, "Adobe", adobe + 1), std::string::npos);  // only the library's own
  ASSERT_TRUE(fx::WriteWork("ours_cmyk.jpg", ours));
  const std::string py =
      "from PIL import Image\nim = Image.open('ours_cmyk.jpg')\nassert im.mode == 'CMYK'\n"
      "open('ours_cmyk.raw', 'wb').write(im.tobytes())\n";
  ASSERT_TRUE(fx::WriteWork("ours_cmyk.py", Text(py)));
  const Bytes pil = HostFile("/usr/bin/python3 ours_cmyk.py", "ours_cmyk.raw");
  ASSERT_EQ(pil.size(), size_t(101 * 77 * 4));
  int worst = 0;
  for (int i = 0; i < 101 * 77; ++i) {
    const TIERGB c = picture.GetRGB(i % 101, i / 101);
    const uint32_t v = IEConversionServices.RGBToCMYK((uint32_t(c.r) << 16) | (c.g << 8) | c.b);
    for (int k = 0; k < 4; ++k) worst = std::max(worst, std::abs(int((v >> (8 * k)) & 255) - (255 - pil[4 * i + k])));
  }
  EXPECT_LE(worst, 12);  // lossy at quality 100: small differences only
}

// Markers go out sorted (APP1, APP3, ..., COM), APP14 left out; readers see them in that order, and
// reading keeps every marker but the first APP0.
TEST(JPEGWrite, MarkersInListOrder) {
  TIEBitmap& picture = Picture();
  TIOParamsVals p(nullptr);
  TIEMarkerList& list = p.JPEGMarkerList;
  list.AddMarker(0xFE, "first comment", 13);
  list.AddMarker(0xE3, "three", 5);
  list.AddMarker(0xEE, "Adobe\0\0\0\0\0\0\0", 12);
  list.AddMarker(0xE1, "one", 3);
  list.AddMarker(0xE0, "XTRA", 4);
  const Bytes ours = Write(picture, p);
  ASSERT_TRUE(fx::WriteWork("markers.jpg", ours));
  int rc = 0;
  EXPECT_EQ(fx::Host("rdjpgcom markers.jpg", &rc), "first comment\n");
  const std::string py =
      "from PIL import Image\nim = Image.open('markers.jpg')\n"
      "print(' '.join(n + ':' + (d.decode('latin1') if n != 'APP0' or d[:4] == b'XTRA' else 'JFIF')"
      " for n, d in im.applist))\n";
  ASSERT_TRUE(fx::WriteWork("markers.py", Text(py)));
  EXPECT_EQ(fx::Host("/usr/bin/python3 markers.py", &rc), "APP0:JFIF APP0:XTRA APP1:one APP3:three COM:first comment\n");

  TIEBitmap b;
  TIOParamsVals back(nullptr);
  Read(ours, b, back);
  const TIEMarkerList& got = back.JPEGMarkerList;
  ASSERT_EQ(got.Count(), 4);
  const uint8_t kTypes[] = {0xE0, 0xE1, 0xE3, 0xFE};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(got.GetMarkerType(i), kTypes[i]);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.GetMarkerData(0)), 4), "XTRA");
}

// Abbreviated data as TIFF files keep it: the tables in one stream, the image without them in
// another. Read with the tables stream, the image equals djpeg's reading of the same image written
// whole.
TEST(JPEGRead, TablesFromASeparateStream) {
  TIEBitmap& picture = Picture();
  auto encode = [&](int mode) {  // 0 whole file, 1 tables only, 2 image without tables
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&c, &mem, &len);
    c.image_width = 101;
    c.image_height = 77;
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 70, TRUE);
    if (mode == 2) jpeg_suppress_tables(&c, TRUE);
    if (mode == 1) {
      jpeg_write_tables(&c);
    } else {
      jpeg_start_compress(&c, mode == 0 ? TRUE : FALSE);
      while (c.next_scanline < c.image_height) {
        JSAMPROW row = picture.GetRowAddress(int(c.next_scanline));
        jpeg_write_scanlines(&c, &row, 1);
      }
      jpeg_finish_compress(&c);
    }
    Bytes out(mem, mem + len);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
  };
  const Bytes whole = encode(0), tables = encode(1), image = encode(2);
  ASSERT_LT(image.size(), whole.size());
  ASSERT_TRUE(fx::WriteWork("whole.jpg", whole));
  HostFile("djpeg -pnm whole.jpg > whole.pnm", "whole.pnm");
  TIEMemStream t(tables.data(), int64_t(tables.size())), s(image.data(), int64_t(image.size()));
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  EXPECT_EQ(IEJPEGRead(s, &t, b, p, progress, false, false, true, false, false, true, -1, false), 77);
  EXPECT_FALSE(abort);
  ExpectEqualsPnm(b, "whole.pnm");

  // without the tables the image cannot be decoded
  s.SetPosition(0);
  IEJPEGRead(s, nullptr, b, p, progress, false, false, true, false, false, true, -1, false);
  EXPECT_TRUE(abort);
}

// IPTC records that exiftool put into an APP13 segment are read into Params.IPTCInfo.
TEST(JPEGRead, IPTCFromExiftool) {
  Picture();
  HostFile("cjpeg src.ppm > iptc.jpg && exiftool -q -overwrite_original -IPTC:ObjectName=tevarnic "
           "-IPTC:Keywords=slide iptc.jpg",
           "iptc.jpg");
  TIEBitmap b;
  TIOParamsVals p(nullptr);
  EXPECT_FALSE(Read(fx::ReadWork("iptc.jpg"), b, p).aborted);
  std::map<int, std::string> records;
  for (int i = 0; i < p.IPTCInfo.Count(); ++i)
    if (p.IPTCInfo.GetRecordNumber(i) == 2)
      records[p.IPTCInfo.GetDataSet(i)] =
          std::string(reinterpret_cast<const char*>(p.IPTCInfo.GetData(i)), size_t(p.IPTCInfo.GetLength(i)));
  EXPECT_EQ(records[5], "tevarnic");
  EXPECT_EQ(records[25], "slide");
  EXPECT_NE(p.JPEGMarkerList.FindMarkerIndex(0xED), -1);  // the APP13 stays in the list for writing
}

// A profile PIL spreads over several APP2 chunks loads whole; a profile with a chunk missing is
// dropped rather than joined with a hole.
TEST(JPEGRead, ICCProfileAcrossChunks) {
  const std::string py =
      "from PIL import Image\nimport random\nrandom.seed(9)\n"
      "icc = bytes(random.randrange(256) for _ in range(150000))\n"
      "open('icc.bin', 'wb').write(icc)\nImage.new('RGB', (24, 16), (10, 200, 30)).save('icc.jpg', icc_profile=icc)\n";
  ASSERT_TRUE(fx::WriteWork("icc.py", Text(py)));
  const Bytes icc = HostFile("/usr/bin/python3 icc.py", "icc.bin");
  Bytes file = fx::ReadWork("icc.jpg");
  const std::string sig("ICC_PROFILE\0", 12);
  ASSERT_NE(Find(file, sig, Find(file, sig) + 1), std::string::npos);  // more than one chunk

  TIEBitmap b;
  TIOParamsVals p(nullptr);
  EXPECT_FALSE(Read(file, b, p).aborted);
  EXPECT_TRUE(p.InputICCProfile.Raw() == icc);

  file[Find(file, sig, Find(file, sig) + 1) + 12] = 1;  // chunk 2 claims to be chunk 1 again
  TIOParamsVals q(nullptr);
  EXPECT_FALSE(Read(file, b, q).aborted);
  EXPECT_TRUE(q.InputICCProfile.Raw().empty());
}

TEST(JPEGWrite, RefusedWriteAndLibraryErrors) {
  TIEBitmap& picture = Picture();
  TIOParamsVals p(nullptr);
  Bytes none;
  TIEMemStream full(none.data(), 0);  // takes no bytes
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  EXPECT_NO_THROW(IEJPEGWrite(full, picture, p, progress));
  EXPECT_TRUE(abort);

  TIEBitmap wide(70000, 1, ie24RGB);  // beyond what a JPEG frame holds: refused before the library starts
  TIEMemoryStream s;
  abort = false;
  EXPECT_NO_THROW(IEJPEGWrite(s, wide, p, progress));
  EXPECT_TRUE(abort);
  EXPECT_EQ(s.GetSize(), 0);

  TIEBitmap empty;
  abort = false;
  IEJPEGWrite(s, empty, p, progress);
  EXPECT_TRUE(abort);
}

// The length scan steps over stuffed bytes and restart markers and stops after the end of image.
TEST(JPEGServices, LengthOfAnEmbeddedFile) {
  Picture();
  const Bytes file = HostFile("cjpeg -restart 1 src.ppm > r.jpg", "r.jpg");
  Bytes outer(37, 0xFF);
  outer.insert(outer.end(), file.begin(), file.end());
  outer.insert(outer.end(), 500, 0xD9);
  TIEMemStream s(outer.data(), int64_t(outer.size()));
  s.SetPosition(37);
  EXPECT_EQ(IEJPEGLength(s), int64_t(file.size()));
  EXPECT_EQ(s.GetPosition(), 37);
  const Bytes cut(file.begin(), file.end() - 2);  // no end of image: up to the end of the data
  TIEMemStream t(cut.data(), int64_t(cut.size()));
  EXPECT_EQ(IEJPEGLength(t), int64_t(cut.size()));
}

// Automatic scale: the smallest decode that still covers the size asked for.
TEST(JPEGRead, AutomaticScale) {
  TIEBitmap big;
  MakePicture(big, 1600, 1200);
  ASSERT_TRUE(WritePPM(big, tq::WorkFile("big.ppm")));
  const Bytes file = HostFile("cjpeg big.ppm > big.jpg", "big.jpg");
  struct Case {
    int width, height, used;
  };
  for (const Case& c : {Case{400, 300, 4}, Case{401, 300, 2}, Case{0, 0, 1}, Case{200, 150, 8}}) {
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    p.JPEGScale = 0;
    p.Width = c.width;
    p.Height = c.height;
    EXPECT_FALSE(Read(file, b, p).aborted);
    EXPECT_EQ(p.JPEGScaleUsed, c.used);
    EXPECT_EQ(b.GetImageWidth(), 1600 / c.used);
    EXPECT_EQ(p.Width, 1600 / c.used);
  }
}

TEST(JPEGServices, MessageTexts) {
  EXPECT_EQ(IEJPEGMessageText(12), "Wrong JPEG library version: library is ?, caller expects ?");
  EXPECT_EQ(IEJPEGMessageText(54), "Insufficient memory (case ?)");
  EXPECT_EQ(IEJPEGMessageText(117), "Corrupt JPEG data: premature end of data segment");
  EXPECT_EQ(IEJPEGMessageText(73), "");
  EXPECT_EQ(IEJPEGMessageText(124), "Corrupted");
}

// Through the component: a saved JPEG loads back, 300 dpi, its file type recorded.
TEST(JPEGRead, LoadAndSaveThroughTheComponent) {
  TIEBitmap& picture = Picture();
  TImageryIO io(&picture);
  TIEMemoryStream s;
  io.SaveStreamAsFileType(s, iffJPEG);
  EXPECT_FALSE(io.Aborting);
  TIEBitmap back;
  TImageryIO reader(&back);
  s.SetPosition(0);
  reader.LoadStreamByContent(s);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.FileType, iffJPEG);
  EXPECT_EQ(reader.Params.DpiX, 300);
  EXPECT_EQ(back.GetImageWidth(), 101);
}
