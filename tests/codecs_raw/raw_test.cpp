// Camera raw reading: DNG files written here against libraw-bin's linear output through the curve,
// their previews, a hand-made CRW heap, the 45-degree un-rotation, and mutated files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "ieraw.h"
#include "imageryio.h"
#include "jpegfilt.h"

using namespace iotest;

namespace {

// A little-endian TIFF built from directories of tags; values longer than 4 bytes and image data
// go after the directories.
class TiffBuilder {
 public:
  struct Tag {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> value;
    int dir = -1;  // a directory pointer: the value becomes the offset of directory `dir`
  };
  static std::vector<uint8_t> Ints(std::initializer_list<uint32_t> v, int size) {
    std::vector<uint8_t> o;
    for (uint32_t x : v)
      for (int i = 0; i < size; ++i) o.push_back(uint8_t(x >> (8 * i)));
    return o;
  }
  static Tag Short(uint16_t t, std::initializer_list<uint32_t> v) { return {t, 3, uint32_t(v.size()), Ints(v, 2)}; }
  static Tag Long(uint16_t t, std::initializer_list<uint32_t> v) { return {t, 4, uint32_t(v.size()), Ints(v, 4)}; }
  static Tag Pointer(uint16_t t, int dir) { return {t, 4, 1, Ints({0}, 4), dir}; }
  static Tag Rational(uint16_t t, uint32_t num, uint32_t den) { return {t, 5, 1, Ints({num, den}, 4)}; }
  static Tag Ascii(uint16_t t, const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return {t, 2, uint32_t(v.size()), v};
  }
  // Directories in order; in each, tag 273 (strip offset) points at `data[i]` and tag 330 (when
  // present, value 0) at the directory after it.
  static std::vector<uint8_t> Build(std::vector<std::vector<Tag>> dirs, const std::vector<std::vector<uint8_t>>& data) {
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::vector<size_t> dirAt, stripField, subField;
    std::vector<std::pair<size_t, int>> pointers;  // field position, directory
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
    };
    for (auto& d : dirs) {
      dirAt.push_back(f.size());
      f.push_back(uint8_t(d.size()));
      f.push_back(0);
      stripField.push_back(0);
      subField.push_back(0);
      std::vector<std::pair<size_t, size_t>> later;
      for (size_t i = 0; i < d.size(); ++i) {
        const Tag& t = d[i];
        for (uint8_t b : Ints({t.tag, t.type}, 2)) f.push_back(b);
        for (uint8_t b : Ints({t.count}, 4)) f.push_back(b);
        if (t.tag == 273) stripField.back() = f.size();
        if (t.tag == 330) subField.back() = f.size();
        if (t.dir >= 0) pointers.push_back({f.size(), t.dir});
        std::vector<uint8_t> v = t.value;
        if (v.size() > 4) later.push_back({f.size(), i});
        v.resize(4, 0);
        f.insert(f.end(), v.begin(), v.begin() + 4);
      }
      f.insert(f.end(), 4, 0);  // no next directory
      for (auto& l : later) {
        put32(l.first, uint32_t(f.size()));
        f.insert(f.end(), d[l.second].value.begin(), d[l.second].value.end());
        if (f.size() & 1) f.push_back(0);
      }
    }
    for (auto& p : pointers) put32(p.first, uint32_t(dirAt[size_t(p.second)]));
    for (size_t i = 0; i < dirs.size(); ++i) {
      if (subField[i] && i + 1 < dirs.size()) put32(subField[i], uint32_t(dirAt[i + 1]));
      if (stripField[i]) {
        put32(stripField[i], uint32_t(f.size()));
        f.insert(f.end(), data[i].begin(), data[i].end());
      }
    }
    return f;
  }
};

constexpr int kPreviewW = 16, kPreviewH = 12;

// A DNG of a smooth scene: IFD 0 a 16 x 12 RGB preview, its sub-directory the sensor data, either a
// colour-filter (RGGB) mosaic or linear RGB.
std::vector<uint8_t> MakeDNG(bool cfa, int w, int h) {
  using T = TiffBuilder;
  std::vector<uint8_t> preview;
  for (int y = 0; y < kPreviewH; ++y)
    for (int x = 0; x < kPreviewW; ++x) {
      preview.push_back(uint8_t(x * 15));
      preview.push_back(uint8_t(y * 20));
      preview.push_back(100);
    }
  std::vector<uint8_t> sensor;
  auto scene = [&](int x, int y, int c) {  // 12-bit values, a different gradient per colour
    const int v[3] = {200 + 3000 * x / w, 300 + 2500 * y / h, 400 + 1500 * (x + y) / (w + h)};
    return v[c];
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (cfa) {
        const int c = (y & 1) == 0 ? ((x & 1) == 0 ? 0 : 1) : ((x & 1) == 0 ? 1 : 2);
        for (uint8_t b : T::Ints({uint32_t(scene(x, y, c))}, 2)) sensor.push_back(b);
      } else {
        for (int c = 0; c < 3; ++c)
          for (uint8_t b : T::Ints({uint32_t(scene(x, y, c))}, 2)) sensor.push_back(b);
      }
    }
  std::vector<uint8_t> matrix;  // XYZ to camera = XYZ to linear sRGB
  const int m[9] = {32406, -15372, -4986, -9689, 18758, 415, 557, -2040, 10570};
  for (int v : m)
    for (uint8_t b : T::Ints({uint32_t(v), 10000u}, 4)) matrix.push_back(b);
  std::vector<T::Tag> ifd0 = {
      T::Long(254, {1}), T::Long(256, {kPreviewW}), T::Long(257, {kPreviewH}), T::Short(258, {8, 8, 8}),
      T::Short(259, {1}), T::Short(262, {2}), T::Ascii(271, "Testmake"), T::Ascii(272, "Testcam"),
      T::Long(273, {0}), T::Short(277, {3}), T::Long(278, {kPreviewH}),
      T::Long(279, {uint32_t(preview.size())}), T::Short(284, {1}), T::Long(330, {0}),
      {50706, 1, 4, {1, 4, 0, 0}}, T::Ascii(50708, "Testmake Testcam"), {50721, 10, 9, matrix},
      {50728, 5, 3, T::Ints({1, 1, 1, 1, 1, 1}, 4)}, T::Short(50778, {21}), T::Pointer(34665, 2),
  };
  std::vector<T::Tag> exif = {
      T::Rational(33434, 1, 125), T::Rational(33437, 28, 10), T::Short(34855, {200}),
      T::Ascii(36867, "2024:05:06 07:08:09"),
  };
  std::vector<T::Tag> raw = {
      T::Long(254, {0}), T::Long(256, {uint32_t(w)}), T::Long(257, {uint32_t(h)}),
      cfa ? T::Short(258, {16}) : T::Short(258, {16, 16, 16}), T::Short(259, {1}),
      T::Short(262, {cfa ? 32803u : 34892u}), T::Long(273, {0}), T::Short(277, {cfa ? 1u : 3u}),
      T::Long(278, {uint32_t(h)}), T::Long(279, {uint32_t(sensor.size())}), T::Short(284, {1}),
      T::Long(50717, {4095}),
  };
  if (cfa) {
    raw.push_back(T::Short(33421, {2, 2}));
    raw.push_back({33422, 1, 4, {0, 1, 1, 2}});
  }
  return T::Build({ifd0, raw, exif}, {preview, sensor, {}});
}

// A 16-bit binary PPM's samples.
bool ReadPPM16(const std::string& winPath, int& w, int& h, std::vector<int>& samples) {
  std::vector<unsigned char> f;
  if (!tq::ReadFileBytes(winPath, f)) return false;
  std::istringstream in(std::string(f.begin(), f.end()));
  std::string magic;
  int maxval;
  in >> magic >> w >> h >> maxval;
  if (magic != "P6" || maxval != 65535) return false;
  const size_t at = size_t(in.tellg()) + 1;
  const size_t n = size_t(w) * h * 3;
  if (f.size() < at + n * 2) return false;
  samples.resize(n);
  for (size_t i = 0; i < n; ++i) samples[i] = (f[at + 2 * i] << 8) | f[at + 2 * i + 1];
  return true;
}

TEST(CameraRAW, DNGsMatchLinearDecodeThroughTheCurve) {
  if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/dcraw_emu") != 0) GTEST_SKIP() << "host tools";
  struct Case {
    const char* name;
    bool cfa;
    int trim;
  };
  const Case kCases[] = {{"cfa", true, 1}, {"linear", false, 0}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const int W = 64, H = 48;
    const std::vector<uint8_t> dng = MakeDNG(c.cfa, W, H);
    const std::string file = std::string(c.name) + ".dng";
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(file), dng.data(), dng.size()));
    // the linear 16-bit decode as a PPM (its TIFF form, through tifftopnm, comes out with 8-bit steps)
    Host("dcraw_emu -4 -Z " + std::string(c.name) + "_lin.ppm " + file);
    int w, h;
    std::vector<int> lin;
    ASSERT_TRUE(ReadPPM16(tq::WorkFile(std::string(c.name) + "_lin.ppm"), w, h, lin));
    ASSERT_EQ(w, W);
    ASSERT_EQ(h, H);
    // the curve: brightness histogram of the whole decoded image, white point, gamma 0.6
    std::vector<uint32_t> histogram(8192, 0);
    for (size_t i = 0; i < lin.size(); i += 3) ++histogram[size_t(IERAWBrightness(lin[i], lin[i + 1], lin[i + 2]) >> 3)];
    const int white = IERAWWhitePoint(histogram, 0.01, int64_t(w) * h);
    ASSERT_GT(white, 1000);
    for (bool wide : {false, true}) {
      SCOPED_TRACE(wide ? "48-bit" : "24-bit");
      TIEBitmap back;
      TImageryIO io(&back);
      io.Params.IsNativePixelFormat = wide;
      io.LoadByContent(misctest::W(tq::WorkFile(file)));
      ASSERT_FALSE(io.Aborting);
      EXPECT_EQ(io.Params.FileType, iffRAW);
      EXPECT_EQ(io.Params.RAWCamera.substr(0, 16), "Testmake Testcam");
      ASSERT_EQ(back.GetImageWidth(), W - 2 * c.trim);
      ASSERT_EQ(back.GetImageHeight(), H - 2 * c.trim);
      EXPECT_EQ(io.Params.Width, W - 2 * c.trim);
      ASSERT_EQ(back.GetPixelFormat(), wide ? ieRGB48 : ie24RGB);
      int worst = 0;
      for (int y = 0; y < back.GetImageHeight(); ++y)
        for (int x = 0; x < back.GetImageWidth(); ++x) {
          const int* p = &lin[(size_t(y + c.trim) * w + x + c.trim) * 3];
          const int br = IERAWBrightness(p[0], p[1], p[2]);
          const double k = br == 0 ? 0 : std::pow(2.0 * br / white, 0.6 - 1) * 442.0 / white * (wide ? 65535.0 / 255 : 1);
          const int limit = wide ? 65535 : 255;
          int ours[3];
          if (wide) {
            const TIERGB48 q = back.GetRGB48(x, y);
            ours[0] = q.r, ours[1] = q.g, ours[2] = q.b;
          } else {
            const TIERGB q = back.GetRGB(x, y);
            ours[0] = q.r, ours[1] = q.g, ours[2] = q.b;
          }
          for (int s = 0; s < 3; ++s) {
            const int expected = int(std::min<double>(limit, std::trunc(p[s] * k)));
            worst = std::max(worst, std::abs(expected - ours[s]));
          }
        }
      EXPECT_LE(worst, 1);
    }
    // the embedded preview instead of the sensor data
    TIEBitmap preview;
    TImageryIO io(&preview);
    io.Params.RAWReadExifThumbnail = true;
    io.LoadAsFileType(misctest::W(tq::WorkFile(file)), iffRAW);
    ASSERT_FALSE(io.Aborting);
    ASSERT_EQ(preview.GetImageWidth(), kPreviewW);
    ASSERT_EQ(preview.GetImageHeight(), kPreviewH);
    EXPECT_EQ(preview.GetRGB(5, 7).r, 75);
    EXPECT_EQ(preview.GetRGB(5, 7).g, 140);
    EXPECT_EQ(preview.GetRGB(5, 7).b, 100);
  }
}

// A CRW heap: byte order, header length, "HEAPCCDR", then the heap whose last four bytes locate its
// directory.
struct Heap {
  std::vector<uint8_t> data;
  struct Entry {
    uint16_t type;
    uint32_t size, offset;
  };
  std::vector<Entry> entries;
  uint32_t Add(uint16_t type, const std::vector<uint8_t>& bytes) {
    const uint32_t at = uint32_t(data.size());
    data.insert(data.end(), bytes.begin(), bytes.end());
    entries.push_back({type, uint32_t(bytes.size()), at});
    return at;
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> h = data;
    const uint32_t dir = uint32_t(h.size());
    auto le = [&h](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) h.push_back(uint8_t(v >> (8 * i)));
    };
    le(uint32_t(entries.size()), 2);
    for (const Entry& e : entries) {
      le(e.type, 2);
      le(e.size, 4);
      le(e.offset, 4);
    }
    le(dir, 4);
    return h;
  }
};

std::vector<uint8_t> JPEGOf(int w, int h) {
  TIEBitmap b;
  MakePicture(b, w, h);
  EXPECT_TRUE(WritePPM(b, tq::WorkFile("crw_src.ppm")));
  std::string name = "crw_" + std::to_string(w) + ".jpg";
  Host("cjpeg crw_src.ppm > " + name);
  return misctest::FileBytes(tq::WorkFile(name));
}

TEST(CameraRAW, CRWHeapMetadataAndSmallestPreview) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools";
  Heap inner;
  const std::string mm = std::string("Canon") + '\0' + "Canon PowerShot Test" + '\0';
  inner.Add(0x080A, std::vector<uint8_t>(mm.begin(), mm.end()));
  const std::string fw = std::string("Firmware Version 1.0.1") + '\0';
  inner.Add(0x080B, std::vector<uint8_t>(fw.begin(), fw.end()));
  // camera settings (macro mode 1, quality 3 at indexes 1 and 3) and shot information (white
  // balance 4 at index 7)
  auto shorts = [](std::vector<uint16_t> v) {
    std::vector<uint8_t> b;
    for (uint16_t x : v) b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8)});
    return b;
  };
  const std::vector<uint16_t> settings = {24, 1, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0};
  const std::vector<uint16_t> shot = {16, 0, 160, 0, 0, 0, 0, 4};
  inner.Add(0x102D, shorts(settings));
  inner.Add(0x102A, shorts(shot));
  Heap outer;
  outer.Add(0x2007, JPEGOf(40, 30));
  outer.Add(0x2008, JPEGOf(24, 18));
  outer.Add(0x300A, inner.Bytes());
  // a sub-heap entry covering the heap itself: read once, then the walk ends
  outer.entries.push_back({0x300B, uint32_t(outer.data.size() + 2 + 10 * (outer.entries.size() + 1) + 4), 0});
  const std::vector<uint8_t> body = outer.Bytes();
  std::vector<uint8_t> file = {'I', 'I', 26, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'};
  file.resize(26, 0);
  file.insert(file.end(), body.begin(), body.end());
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("test.crw"), file.data(), file.size()));
  TIEBitmap b;
  TImageryIO io(&b);
  io.Params.RAWReadExifThumbnail = true;
  io.LoadAsFileType(misctest::W(tq::WorkFile("test.crw")), iffRAW);
  EXPECT_FALSE(io.Aborting) << "the preview stands in for the image";
  EXPECT_EQ(io.Params.ExifMake, "Canon");
  EXPECT_EQ(io.Params.ExifModel, "Canon PowerShot Test");
  EXPECT_EQ(io.Params.ExifSoftware, "Firmware Version 1.0.1");
  EXPECT_EQ(b.GetImageWidth(), 24);
  EXPECT_EQ(b.GetImageHeight(), 18);
  // the two records as maker-note tags 1 and 4: SHORT arrays of their values
  TIETagsHandler& note = io.Params.ExifMakerNote;
  ASSERT_EQ(note.EntriesCount(), 2);
  const uint8_t* mem = static_cast<const uint8_t*>(note.InternalStream().Memory());
  const int64_t memSize = note.InternalStream().GetSize();
  const std::vector<uint16_t>* want[] = {&settings, &shot};
  const uint16_t tags[] = {1, 4};
  for (int i = 0; i < 2; ++i) {
    const TIEMakerNoteEntry& e = note.Entry(i);
    EXPECT_EQ(e.Tag, tags[i]);
    EXPECT_EQ(e.Type, 3);
    ASSERT_EQ(e.Count, want[i]->size());
    ASSERT_LE(int64_t(e.Value) + 2 * e.Count, memSize);
    for (uint32_t k = 0; k < e.Count; ++k) EXPECT_EQ(IEReadU16LE(mem + e.Value + 2 * k), (*want[i])[k]) << k;
  }
  // what exiftool reads from the same records
  if (tq::RunHost("test -x /usr/bin/exiftool") == 0) {
    std::string out;
    ASSERT_EQ(tq::RunHost("exiftool -n -s3 -Make -MacroMode -Quality -WhiteBalance test.crw 2>/dev/null", &out), 0);
    EXPECT_EQ(out, "Canon\n1\n3\n4\n");
  }
  // without the preview request the sensor data cannot be identified
  TImageryIO plain(&b);
  plain.LoadAsFileType(misctest::W(tq::WorkFile("test.crw")), iffRAW);
  EXPECT_TRUE(plain.Aborting);
}

// The EXIF directory of a TIFF-based raw file, as exiftool reads it.
// The preview of a TIFF-structured raw file is the wider of the images of its first two directories
// that a thumbnail may be (at most 400 pixels either way).
TEST(CameraRAW, PreviewIsTheLargerThumbnailSizedDirectory) {
  if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/tiffcp") != 0) GTEST_SKIP() << "host tools";
  Host("ppmmake blue 20 10 | pnmtotiff > p20.tif 2>/dev/null && ppmmake red 40 30 | pnmtotiff > p40.tif 2>/dev/null && "
       "ppmmake green 401 8 | pnmtotiff > p401.tif 2>/dev/null && tiffcp p20.tif p40.tif small_first.tif && "
       "tiffcp p40.tif p20.tif large_first.tif && tiffcp p20.tif p401.tif too_large.tif");
  const struct {
    const char* file;
    int width;
    uint8_t red;
  } cases[] = {{"small_first.tif", 40, 255}, {"large_first.tif", 40, 255}, {"too_large.tif", 20, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    // behind a header of the camera's own, as raw files have them
    std::vector<uint8_t> bytes(16, 0x5A);
    const std::vector<uint8_t> tif = misctest::FileBytes(tq::WorkFile(c.file));
    bytes.insert(bytes.end(), tif.begin(), tif.end());
    TIEMemStream s(bytes.data(), int64_t(bytes.size()));
    ASSERT_EQ(IEFindTIFFHeader(s), 16);
    s.SetPosition(16);
    TIOParamsVals p(nullptr);
    IELoadExifFromRawStream(s, p);
    EXPECT_EQ(s.GetPosition(), 16);
    EXPECT_TRUE(p.HasExifData);
    ASSERT_TRUE(p.ExifThumbnail);
    ASSERT_EQ(p.ExifThumbnail->GetImageWidth(), c.width);
    EXPECT_EQ(p.ExifThumbnail->GetPixelRGB(3, 3).r, c.red);
  }
}

TEST(CameraRAW, ExifOfTIFFBasedFiles) {
  if (!ToolsPresent() || tq::RunHost("test -x /usr/bin/exiftool") != 0) GTEST_SKIP() << "host tools";
  const std::vector<uint8_t> dng = MakeDNG(true, 32, 24);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("exif.dng"), dng.data(), dng.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("exiftool -n -s3 -Make -Model -ExposureTime -FNumber -ISO -DateTimeOriginal exif.dng 2>/dev/null", &out), 0);
  std::istringstream in(out);
  std::string make, model, date;
  double exposure = 0, fnumber = 0;
  int iso = 0;
  std::getline(in, make);
  std::getline(in, model);
  in >> exposure >> fnumber >> iso >> std::ws;
  std::getline(in, date);
  ASSERT_EQ(make, "Testmake") << out;
  for (bool paramsOnly : {true, false}) {
    SCOPED_TRACE(paramsOnly);
    TIEBitmap b;
    TImageryIO io(&b);
    if (paramsOnly) io.ReadParamsFromMemoryBlock(dng.data(), int64_t(dng.size()), iffRAW);
    else io.LoadFromMemoryBlock(dng.data(), int64_t(dng.size()), iffRAW);
    ASSERT_FALSE(io.Aborting);
    EXPECT_TRUE(io.Params.HasExifData);
    EXPECT_EQ(io.Params.ExifMake, make);
    EXPECT_EQ(io.Params.ExifModel, model);
    EXPECT_DOUBLE_EQ(io.Params.ExifExposureTime, exposure);
    EXPECT_DOUBLE_EQ(io.Params.ExifFNumber, fnumber);
    EXPECT_EQ(io.Params.ExifISOSpeedRatings[0], iso);
    EXPECT_EQ(io.Params.ExifDateTimeOriginal, date);
    EXPECT_EQ(io.Params.DpiX, IEDefaultDPIX);
  }
}

TEST(CameraRAW, FujiLayoutTurnsUpright) {
  // A picture standing on its corner as the 45-degree sensors deliver it: an upright L x F grid
  // written along diagonals, black outside the diamond.
  const int W = 24;
  TIEBitmap b(W, W, ie24RGB);
  b.Fill(0);
  // the diamond's first row starts after c black pixels and ends at L
  const int c = 5, L = 14, F = 2 * W - 2 * c - 4;
  auto colour = [](int k, int r) { return IEMakeRGB(uint8_t(40 + 10 * k), uint8_t(20 + 5 * r), 77); };
  for (int y = 0; y < W; ++y)
    for (int x = 0; x < W; ++x) {
      const int r = x + y - L + 5, kk = x + L - y - 1;
      if (r >= 0 && r < F && kk >= 0 && kk / 2 < L) b.SetRGB(x, y, colour(kk / 2, r));
    }
  for (int x = 0; x < c; ++x) b.SetRGB(x, 0, IEMakeRGB(0, 0, 0));
  for (int x = c; x <= L; ++x)
    if (b.GetRGB(x, 0).g == 0) b.SetRGB(x, 0, IEMakeRGB(1, 1, 1));
  for (int x = L + 1; x < W; ++x) b.SetRGB(x, 0, IEMakeRGB(0, 0, 0));
  IERAWFujiUnrotate(b);
  ASSERT_EQ(b.GetImageWidth(), 2 * L);
  ASSERT_EQ(b.GetImageHeight(), F);
  // the cells on even diagonals are the grid's own pixels, upright
  int checked = 0, wrong = 0;
  for (int j = 1; j < F - 1; ++j)
    for (int l = 1; l < 2 * L - 1; ++l)
      if ((j + l) % 2 == 0) {
        const TIERGB want = colour(l / 2, j);
        const TIERGB got = b.GetRGB(l, j - 1);
        if (got.r != 0 || got.g != 0) {
          ++checked;
          wrong += got.r != want.r || got.g != want.g;
        }
      }
  EXPECT_GT(checked, 50);
  EXPECT_EQ(wrong, 0);
  // a black first row (nothing to measure the diamond by) leaves the bitmap alone
  TIEBitmap dark(10, 6, ie24RGB);
  dark.Fill(0);
  dark.SetRGB(3, 4, IEMakeRGB(9, 9, 9));
  IERAWFujiUnrotate(dark);
  EXPECT_EQ(dark.GetImageWidth(), 10);
  EXPECT_EQ(dark.GetImageHeight(), 6);
}

TEST(CameraRAW, HalfSizeAndParameters) {
  const std::vector<uint8_t> dng = MakeDNG(true, 64, 48);
  TIEBitmap b;
  TImageryIO io(&b);
  io.ReadParamsFromMemoryBlock(dng.data(), int64_t(dng.size()), iffRAW);
  EXPECT_EQ(io.Params.FileType, iffRAW);
  EXPECT_EQ(io.Params.Width, 62) << "an interpolated mosaic loses its border pixel";
  EXPECT_EQ(io.Params.Height, 46);
  EXPECT_TRUE(b.IsEmpty());
  io.Params.RAWHalfSize = true;
  io.LoadFromMemoryBlock(dng.data(), int64_t(dng.size()), iffRAW);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(b.GetImageWidth(), 32) << "half size: no interpolation, no border";
  EXPECT_EQ(b.GetImageHeight(), 24);
  EXPECT_EQ(io.Params.DpiX, IEDefaultDPIX);
}

TEST(CameraRAW, WhitePointOfAnEmptyHistogramIsOne) {
  std::vector<uint32_t> histogram(8192, 0);
  EXPECT_EQ(IERAWWhitePoint(histogram, 0.01, 100), 1);
  histogram[100] = 50;
  histogram[200] = 2;  // above the 1 % of 100 pixels
  EXPECT_EQ(IERAWWhitePoint(histogram, 0.01, 100), 200 * 16);
}

TEST(CameraRAW, MutatedFilesNeverCrash) {
  const std::vector<uint8_t> dng = MakeDNG(true, 32, 24);
  misctest::Mutate(dng, 300, iffRAW);
}

}  // namespace
