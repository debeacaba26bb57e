// The DICOM reader against files dcmtk makes (img2dcm, dcmodify, dcmconv, dcmcrle, dcmcjpeg): every
// transfer syntax and frame decodes as dcmj2pnm shows it, the tag list holds what dcmdump lists, and
// damaged or hostile files end with the abort flag, never a crash.
#include "iedicom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "imageryio.h"
#include "iotest_util.h"
#include "misc_util.h"

using misctest::FileBytes;
using misctest::W;

namespace {

bool ToolsHere() { return tq::UnderWine() && tq::RunHost("test -x /usr/bin/img2dcm && test -x /usr/bin/dcmj2pnm") == 0; }

// The host-made files, made once for the whole program in the folder "fx".
bool HostFiles() {
  static int made = -1;
  if (made < 0) {
    std::string out;
    const int rc = tq::RunHost(
        "rm -rf fx && mkdir fx && cd fx && sh \"$TQ_SOURCE_DIR/tests/codecs_dicom/tools/dicom_fixtures.sh\"", &out);
    EXPECT_EQ(rc, 0) << out;
    made = rc == 0;
  }
  return made == 1;
}

std::string Fx(const std::string& name) { return tq::WorkFile("fx\\" + name); }

struct TLoad {
  bool aborted = false;
  TIEPixelFormat format = ieNoFormat;
};

TLoad Load(const std::string& file, TIEBitmap& b, int imageIndex = 0, TIOParamsVals* params = nullptr) {
  TImageryIO io(&b);
  io.Params.SetImageIndexValue(imageIndex);
  io.LoadAsFileType(W(Fx(file)), iffDICOM);
  if (params) params->Assign(io.Params);
  return {io.Aborting, b.GetPixelFormat()};
}

TLoad LoadBytes(const std::vector<uint8_t>& f, TIEBitmap& b, TIOParamsVals* params = nullptr) {
  TIEMemStream m(f.data(), int64_t(f.size()));
  TImageryIO io(&b);
  io.LoadStreamAsFileType(m, iffDICOM);
  if (params) params->Assign(io.Params);
  return {io.Aborting, b.GetPixelFormat()};
}

// The 8-bit R, G, B of every pixel as dcmj2pnm's PGM and PPM files hold them (16-bit samples by
// their high byte).
std::vector<uint8_t> Rgb8(TIEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      switch (b.GetPixelFormat()) {
        case ie16g: {
          const uint8_t v = uint8_t(b.GetWord(x, y) >> 8);
          out.insert(out.end(), {v, v, v});
          break;
        }
        case ieRGB48: {
          const TIERGB48 c = b.GetRGB48(x, y);
          out.insert(out.end(), {uint8_t(c.r >> 8), uint8_t(c.g >> 8), uint8_t(c.b >> 8)});
          break;
        }
        default: {
          const TIERGB c = b.GetPixelRGB(x, y);
          out.insert(out.end(), {c.r, c.g, c.b});
        }
      }
    }
  return out;
}

// Largest difference from dcmj2pnm's image of the frame; 256 when the sizes differ.
int DiffFromReference(TIEBitmap& b, const std::string& ref) {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  if (!iotest::ReadPPM(Fx("ref\\" + ref + ".pnm"), w, h, rgb)) return 257;
  if (w != b.GetImageWidth() || h != b.GetImageHeight()) return 256;
  const std::vector<uint8_t> ours = Rgb8(b);
  int worst = 0;
  for (size_t i = 0; i < rgb.size(); ++i) worst = std::max(worst, std::abs(int(ours[i]) - int(rgb[i])));
  return worst;
}

}  // namespace

TEST(DICOMRead, EveryTransferSyntaxAndFrameDecodesAsTheHostDoes) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  struct Case {
    const char* file;
    int index;      // ImageIndex asked for
    int refFrame;   // the frame dcmj2pnm made
    TIEPixelFormat format;
    const char* ref = nullptr;  // the file dcmj2pnm read, when not this one
  };
  const Case kCases[] = {
      // uncompressed: byte orders, VR encodings, data sets without the preamble
      {"g8", 0, 0, ie8g}, {"g8-implicit", 0, 0, ie8g}, {"g8-big", 0, 0, ie8g},
      {"g8-nopreamble", 0, 0, ie8g}, {"s12", 0, 0, ie16g}, {"s12-big", 0, 0, ie16g},
      {"s12-nopreamble", 0, 0, ie16g}, {"u16", 0, 0, ie16g},
      // photometric interpretations, window, palette (200 entries for 256 indexes)
      {"mono1", 0, 0, ie8g}, {"window", 0, 0, ie16g}, {"palette", 0, 0, ie24RGB}, {"rgb", 0, 0, ie24RGB},
      {"rgbplanar", 0, 0, ie24RGB}, {"rgbplanar-big", 0, 0, ie24RGB},
      // RLE
      {"g8-rle", 0, 0, ie8g}, {"s12-rle", 0, 0, ie16g}, {"u16-rle", 0, 0, ie16g}, {"rgb-rle", 0, 0, ie24RGB},
      {"rgbplanar-rle", 0, 0, ie24RGB}, {"palette-rle", 0, 0, ie24RGB}, {"mono1-rle", 0, 0, ie8g},
      // baseline JPEG; RGB samples told apart from YCbCr by the data set alone (no marker says so);
      // elements coded with implicit VR under a JPEG transfer syntax
      {"g8-base", 0, 0, ie8g}, {"rgb-base", 0, 0, ie24RGB}, {"mono1-base", 0, 0, ie8g},
      {"rgb-base-rgb", 0, 0, ie24RGB}, {"rgb-base-bare", 0, 0, ie24RGB, "rgb-base-rgb"},
      {"g8-base-mixedvr", 0, 0, ie8g, "g8-base"},
      // lossless JPEG: every selection value, 8, 12 and 16 bits, colour, point transforms, fragments
      {"s12-sv1", 0, 0, ie16g}, {"s12-sv2", 0, 0, ie16g}, {"s12-sv3", 0, 0, ie16g}, {"s12-sv4", 0, 0, ie16g},
      {"s12-sv5", 0, 0, ie16g}, {"s12-sv6", 0, 0, ie16g}, {"s12-sv7", 0, 0, ie16g},
      {"u16-sv1", 0, 0, ie16g}, {"u16-sv5", 0, 0, ie16g}, {"u16-sv7", 0, 0, ie16g},
      {"g8-sv1", 0, 0, ie8g}, {"rgb-sv1", 0, 0, ie24RGB}, {"rgb-sv6", 0, 0, ie24RGB},
      {"palette-sv1", 0, 0, ie24RGB}, {"window-sv1", 0, 0, ie16g}, {"u16-pt3", 0, 0, ie16g},
      {"window-pt2", 0, 0, ie16g},
      {"g8-pt2", 0, 0, ie8g}, {"u16-fragments", 0, 0, ie16g},
      // three frames: uncompressed, RLE and lossless, with and without an offset table; an index
      // beyond the last frame reads the last
      {"s12x3", 0, 0, ie16g}, {"s12x3", 1, 1, ie16g}, {"s12x3", 2, 2, ie16g}, {"s12x3", 5, 2, ie16g},
      {"s12x3-rle", 1, 1, ie16g}, {"s12x3-rle", 2, 2, ie16g}, {"s12x3-rle-nobot", 1, 1, ie16g},
      {"s12x3-rle-nobot", 2, 2, ie16g}, {"s12x3-ll", 0, 0, ie16g}, {"s12x3-ll", 2, 2, ie16g},
      {"s12x3-ll-nobot", 1, 1, ie16g}, {"s12x3-ll-nobot", 5, 2, ie16g},
      // frames split into fragments without offsets (dcmj2pnm refuses those): found by their markers
      {"s12x3-split", 0, 0, ie16g, "s12x3-ll"}, {"s12x3-split", 1, 1, ie16g, "s12x3-ll"},
      {"s12x3-split", 2, 2, ie16g, "s12x3-ll"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(std::string(k.file) + " frame " + std::to_string(k.index));
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    const TLoad r = Load(std::string(k.file) + ".dcm", b, k.index, &p);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.format, k.format);
    EXPECT_LE(DiffFromReference(b, std::string(k.ref ? k.ref : k.file) + "-" + std::to_string(k.refFrame)), 1);
    EXPECT_EQ(p.Width, 37);
    EXPECT_EQ(p.Height, 29);
    EXPECT_EQ(p.ImageCount, std::strncmp(k.file, "s12x3", 5) == 0 ? 3 : 1);
  }
}

TEST(DICOMRead, ParametersAndDetection) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  struct Case {
    const char* file;
    bool detected;  // by content
    int bits, samples;
  };
  const Case kCases[] = {
      {"g8.dcm", true, 8, 1}, {"s12-big.dcm", true, 16, 1}, {"rgb-rle.dcm", true, 8, 3},
      {"g8-nopreamble.dcm", false, 8, 1}, {"s12-nopreamble.dcm", false, 16, 1},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.file);
    std::vector<uint8_t> f = FileBytes(Fx(k.file));
    // the test at a position inside a larger stream, the position restored
    std::vector<uint8_t> padded(f.size() + 5, 0x20);
    std::copy(f.begin(), f.end(), padded.begin() + 5);
    TIEMemStream m(padded.data(), int64_t(padded.size()));
    m.SetPosition(5);
    EXPECT_EQ(IEDICOMTest(m), k.detected);
    EXPECT_EQ(m.GetPosition(), 5);
    TIEBitmap b;
    TImageryIO io(&b);
    if (k.detected)
      EXPECT_EQ(io.DetectFileType(W(Fx(k.file)), false), iffDICOM);
    else
      EXPECT_NE(io.DetectFileType(W(Fx(k.file)), false), iffDICOM);
    io.ReadStreamParamsAsFileType(m, iffDICOM);
    EXPECT_EQ(io.Params.FileType, iffDICOM);
    EXPECT_EQ(io.Params.BitsPerSample, k.bits);
    EXPECT_EQ(io.Params.SamplesPerPixel, k.samples);
    EXPECT_EQ(io.Params.Width, 37);
    EXPECT_TRUE(b.IsEmpty());  // parameters only
    // loaded from the middle of the larger stream
    m.SetPosition(5);
    io.LoadStreamAsFileType(m, iffDICOM);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(b.GetImageHeight(), 29);
  }
  // a short stream: no crash, position kept
  const uint8_t tiny[3] = {'D', 'I', 'C'};
  TIEMemStream m(tiny, 3);
  EXPECT_FALSE(IEDICOMTest(m));
  EXPECT_EQ(m.GetPosition(), 0);
}

TEST(DICOMRead, TagListHoldsEveryElementTheHostDumps) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  const std::regex line(R"(^\s*\(([0-9a-f]{4}),([0-9a-f]{4})\) (\S\S) (.*)$)");
  for (const char* file : {"tags.dcm", "tags-undefined.dcm", "tags-big.dcm", "tags-implicit.dcm", "s12x3-ll.dcm"}) {
    SCOPED_TRACE(file);
    std::string dump;
    ASSERT_EQ(tq::RunHost(std::string("dcmdump -q fx/") + file, &dump), 0) << dump;
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    const TLoad r = Load(file, b, 0, &p);
    EXPECT_FALSE(r.aborted);
    // the icon's own rows and columns are not the image's
    EXPECT_EQ(b.GetImageWidth(), 37);
    EXPECT_EQ(b.GetImageHeight(), 29);
    const TIEDICOMTags& tags = p.DICOMTags;
    // dcmdump's elements, in its order, up to the pixel data (encapsulated fragments are pixels)
    int at = 0, listed = 0;
    std::istringstream in(dump);
    std::string text;
    while (std::getline(in, text)) {
      std::smatch m;
      if (!std::regex_match(text, m, line) || text.find("for re-encod") != std::string::npos) continue;
      const uint16_t g = uint16_t(std::stoul(m[1].str(), nullptr, 16));
      const uint16_t e = uint16_t(std::stoul(m[2].str(), nullptr, 16));
      ++listed;
      while (at < tags.Count() && !(tags.GetTag(at).Group == g && tags.GetTag(at).Element == e)) ++at;
      ASSERT_LT(at, tags.Count()) << "missing " << m[1] << "," << m[2];
      ++at;
      if (g == 0x7FE0) break;
    }
    EXPECT_GT(listed, 30);
    if (std::strncmp(file, "tags", 4) == 0) {
      const TIEDICOMTag& name = tags.GetTag(tags.IndexOf(0x0010, 0x0010));
      EXPECT_EQ(std::string(static_cast<const char*>(name.Data), size_t(name.DataLen)), "Doe^Jane");
      const TIEDICOMTag& text = tags.GetTag(tags.IndexOf(0x0040, 0xA160));
      EXPECT_EQ(std::string(static_cast<const char*>(text.Data)).substr(0, 26), "a text of unlimited length");
      const TIEDICOMTag& rows = tags.GetTag(tags.IndexOf(0x0028, 0x0010));
      ASSERT_EQ(rows.DataLen, 2);
      const uint8_t* v = static_cast<const uint8_t*>(rows.Data);
      EXPECT_EQ(std::strcmp(file, "tags-big.dcm") == 0 ? v[1] : v[0], 29);
    }
  }
}

namespace {

using Bytes = std::vector<uint8_t>;

// ---- a minimal explicit-VR little-endian file, made here for the cases no tool writes ----

Bytes U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Text(std::string s) {
  if (s.size() & 1) s += ' ';
  return Bytes(s.begin(), s.end());
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Element(uint16_t g, uint16_t e, const char* vr, const Bytes& value, bool undefined = false) {
  Bytes out = U16(g) + U16(e) + Bytes{uint8_t(vr[0]), uint8_t(vr[1])};
  const std::string v(vr);
  const uint32_t len = undefined ? 0xFFFFFFFFu : uint32_t(value.size());
  if (v == "OB" || v == "OW" || v == "SQ" || v == "UN" || v == "UT")
    out = out + U16(0) + U32(len);
  else
    out = out + U16(uint16_t(len));
  return out + value;
}

Bytes Item(const Bytes& value) { return U16(0xFFFE) + U16(0xE000) + U32(uint32_t(value.size())) + value; }

struct Image {
  std::string ts = "1.2.840.10008.1.2.1";
  int rows = 1, cols = 1, bits = 8, signedness = 0, samples = 1;
  int stored = 0;  // bits stored; 0: bits
  std::string photometric = "MONOCHROME2";
  Bytes extra;      // elements of group 0028 and up, before the pixel data, in tag order
  Bytes pixels;     // the value, or the fragment of the only frame
  bool rle = false;
};

Bytes MakeFile(const Image& im) {
  Bytes ts(im.ts.begin(), im.ts.end());
  if (ts.size() & 1) ts.push_back(0);
  Bytes f(128, 0);
  f = f + Bytes{'D', 'I', 'C', 'M'} + Element(2, 0x10, "UI", ts);
  f = f + Element(0x28, 0x02, "US", U16(uint16_t(im.samples))) + Element(0x28, 0x04, "CS", Text(im.photometric)) +
      Element(0x28, 0x10, "US", U16(uint16_t(im.rows))) + Element(0x28, 0x11, "US", U16(uint16_t(im.cols))) +
      Element(0x28, 0x100, "US", U16(uint16_t(im.bits))) + Element(0x28, 0x101, "US", U16(uint16_t(im.stored ? im.stored : im.bits))) +
      Element(0x28, 0x103, "US", U16(uint16_t(im.signedness))) + im.extra;
  if (im.rle || im.ts != "1.2.840.10008.1.2.1") {
    const Bytes seq = Item({}) + Item(im.pixels) + U16(0xFFFE) + U16(0xE0DD) + U32(0);
    return f + Element(0x7FE0, 0x10, "OB", seq, true);
  }
  return f + Element(0x7FE0, 0x10, "OW", im.pixels);
}

Bytes RLEFrame(uint32_t count, const std::vector<uint32_t>& offsets, const Bytes& data) {
  Bytes h = U32(count);
  for (int i = 0; i < 15; ++i) h = h + U32(i < int(offsets.size()) ? offsets[size_t(i)] : 0);
  return h + data;
}

Bytes Words(const std::vector<int>& v) {
  Bytes out;
  for (int x : v) out = out + U16(uint16_t(x));
  return out;
}

std::vector<int> Pixels(TIEBitmap& b) {
  std::vector<int> out;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      if (b.GetPixelFormat() == ie8g) out.push_back(b.GetByte(x, y));
      else if (b.GetPixelFormat() == ie16g) out.push_back(b.GetWord(x, y));
      else {
        const TIERGB c = b.GetPixelRGB(x, y);
        out.insert(out.end(), {c.r, c.g, c.b});
      }
    }
  return out;
}

// Replaces the first occurrence of `from` in `f` by `to` (same length).
bool Patch(Bytes& f, const Bytes& from, const Bytes& to) {
  auto at = std::search(f.begin(), f.end(), from.begin(), from.end());
  if (at == f.end()) return false;
  std::copy(to.begin(), to.end(), at);
  return true;
}

}  // namespace

TEST(DICOMRead, HandMadeFilesShowTheSoundBehaviours) {
  struct Case {
    const char* name;
    Image image;
    bool aborted;
    std::vector<int> expected;  // grey samples, or R, G, B per pixel
  };
  std::vector<Case> cases;
  {
    Image im;  // a literal run, then a repeat run of 128 where 5 bytes remain: it stops at the size
    im.rows = 2, im.cols = 4, im.rle = true, im.ts = "1.2.840.10008.1.2.5";
    im.pixels = RLEFrame(1, {64}, {0x02, 10, 20, 30, 0x81, 40});
    cases.push_back({"RLE run past the frame", im, false, {0, 85, 170, 255, 255, 255, 255, 255}});
  }
  {
    Image im;  // negative values after positive ones map like the others (by the minimum of all)
    im.cols = 3, im.bits = 16, im.signedness = 1;
    im.pixels = Words({100, -50, 50});
    cases.push_back({"negative samples", im, false, {65535, 0, 43690}});
  }
  {
    Image im;  // one value throughout: nothing to stretch, the value stays
    im.rows = 2, im.cols = 3, im.bits = 16;
    im.pixels = Words({1000, 1000, 1000, 1000, 1000, 1000});
    cases.push_back({"equal samples", im, false, {1000, 1000, 1000, 1000, 1000, 1000}});
    im.bits = 8, im.photometric = "MONOCHROME1", im.rows = 1, im.cols = 2;
    im.pixels = {100, 100};
    cases.push_back({"equal samples inverted", im, false, {155, 155}});
  }
  {
    Image im;  // a window centre of 0 means no window: the samples are only stretched
    im.cols = 3;
    im.extra = Element(0x28, 0x1050, "DS", Text("0")) + Element(0x28, 0x1051, "DS", Text("10"));
    im.pixels = {0, 100, 200, 0};
    cases.push_back({"window centre 0", im, false, {0, 127, 255}});
  }
  {
    Image im;  // tables of 2 entries under a descriptor of 256: the indexes beyond take the last
    im.cols = 3, im.photometric = "PALETTE COLOR";
    for (uint16_t e = 0x1101; e <= 0x1103; ++e) im.extra = im.extra + Element(0x28, e, "US", Words({256, 0, 16}));
    im.extra = im.extra + Element(0x28, 0x1201, "OW", Words({0x0000, 0xFFFF})) +
               Element(0x28, 0x1202, "OW", Words({0x8080, 0x4040})) + Element(0x28, 0x1203, "OW", Words({0xFFFF, 0}));
    im.pixels = {0, 1, 255, 0};
    cases.push_back({"short palette", im, false, {0, 128, 255, 255, 64, 0, 255, 64, 0}});
  }
  {
    Image im;  // 16-bit indexes through 16-bit tables give 48-bit colour; 3 entries for 65536 indexes
    im.cols = 3, im.bits = 16, im.photometric = "PALETTE COLOR";
    for (uint16_t e = 0x1101; e <= 0x1103; ++e) im.extra = im.extra + Element(0x28, e, "US", Words({3, 0, 16}));
    im.extra = im.extra + Element(0x28, 0x1201, "OW", Words({0, 0xFFFF, 0x8080})) +
               Element(0x28, 0x1202, "OW", Words({0xFFFF, 0, 0x8080})) +
               Element(0x28, 0x1203, "OW", Words({0x8080, 0x8080, 0}));
    im.pixels = Words({0, 2, 40000});
    cases.push_back({"16-bit palette", im, false, {0, 255, 128, 128, 128, 0, 128, 128, 0}});
  }
  {
    Image im;  // an icon inside a sequence has pixel data of its own: not this image's
    im.cols = 2;
    const Bytes icon = Element(0x28, 0x10, "US", U16(5)) + Element(0x28, 0x11, "US", U16(5)) +
                       Element(0x7FE0, 0x10, "OB", Bytes(26, 7));
    im.extra = Element(0x88, 0x200, "SQ", Item(icon));
    im.pixels = {5, 9};
    cases.push_back({"icon sequence", im, false, {0, 255}});
  }
  auto rle = [](uint32_t count, std::vector<uint32_t> offsets) {
    Image im;
    im.rows = 1, im.cols = 2, im.rle = true, im.ts = "1.2.840.10008.1.2.5";
    im.pixels = RLEFrame(count, offsets, {0x01, 1, 2});
    return im;
  };
  cases.push_back({"RLE without segments", rle(0, {}), true, {}});
  cases.push_back({"RLE with 16 segments", rle(16, {64}), true, {}});
  cases.push_back({"RLE segment beyond the data", rle(1, {0x7FFFFF00}), true, {}});
  cases.push_back({"RLE segment inside the header", rle(1, {8}), true, {}});
  {
    Image im = rle(1, {64});  // 2^20 x 2^8 pixels from 3 bytes
    im.rows = 256, im.cols = 65535;
    cases.push_back({"RLE frame larger than its data", im, true, {}});
  }
  {
    Image im;
    im.ts = "1.2.840.10008.1.2.4.100";
    im.pixels = {1, 2};
    cases.push_back({"MPEG2", im, true, {}});
  }
  {
    Image im;  // 4 x 2 bytes claimed, 6 present
    im.rows = 2, im.cols = 4;
    im.pixels = {1, 2, 3, 4, 5, 6};
    cases.push_back({"frame beyond the data", im, true, {}});
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TIEBitmap b;
    const TLoad r = LoadBytes(MakeFile(k.image), b);
    EXPECT_EQ(r.aborted, k.aborted);
    if (!k.aborted) {
      EXPECT_EQ(Pixels(b), k.expected);
    }
    if (k.image.photometric == "PALETTE COLOR") {
      EXPECT_EQ(b.GetPixelFormat(), k.image.bits == 16 ? ieRGB48 : ie24RGB);
    }
    EXPECT_LE(int64_t(b.GetImageWidth()) * b.GetImageHeight(), 8);
  }
}

TEST(DICOMRead, DamagedHostFilesAbortAndKeepWhatIsWhole) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  const Bytes rows29 = {0x28, 0, 0x10, 0, 'U', 'S', 2, 0, 29, 0};
  const Bytes rows30 = {0x28, 0, 0x10, 0, 'U', 'S', 2, 0, 30, 0};
  const Bytes rleHeader = {1, 0, 0, 0, 64, 0, 0, 0};
  struct Case {
    const char* name;
    const char* file;
    Bytes from, to;  // patch; empty: none
    size_t cut;      // bytes taken off the end
    bool aborted;
    bool pixelsWhole;  // the frame still decodes as dcmj2pnm shows the intact file
  };
  const Case kCases[] = {
      {"pad byte missing", "g8", {}, {}, 1, true, true},
      {"last sample missing", "g8", {}, {}, 2, true, false},
      {"sequence delimiter missing", "s12-sv1", {}, {}, 8, true, true},
      {"lossless frame taller than its header says", "s12-sv1", rows29, rows30, 0, true, false},
      {"RLE segment count 0", "g8-rle", rleHeader, {0, 0, 0, 0, 64, 0, 0, 0}, 0, true, false},
      {"RLE offset beyond", "g8-rle", rleHeader, {1, 0, 0, 0, 0, 0, 0, 0x70}, 0, true, false},
      {"RLE colour with 2 segments", "rgb-rle", {3, 0, 0, 0, 64, 0, 0, 0}, {2, 0, 0, 0, 64, 0, 0, 0}, 0, true, false},
      {"baseline JPEG taller than its header says", "g8-base", rows29, rows30, 0, true, false},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    Bytes f = FileBytes(Fx(std::string(k.file) + ".dcm"));
    if (!k.from.empty()) {
      ASSERT_TRUE(Patch(f, k.from, k.to));
    }
    f.resize(f.size() - k.cut);
    TIEBitmap b;
    const TLoad r = LoadBytes(f, b);
    EXPECT_EQ(r.aborted, k.aborted);
    if (k.pixelsWhole) {
      EXPECT_LE(DiffFromReference(b, std::string(k.file) + "-0"), 1);
    }
    EXPECT_LE(int64_t(b.GetImageWidth()) * b.GetImageHeight(), 37 * 30);
  }
}

TEST(DICOMRead, MutatedFilesNeverCrashHangOrOverAllocate) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  for (const char* file : {"g8", "s12-big", "g8-nopreamble", "palette", "rgbplanar", "s12-rle", "rgb-rle",
                           "s12-sv4", "rgb-sv6", "g8-base", "s12x3-ll", "u16-fragments", "tags-undefined"}) {
    SCOPED_TRACE(file);
    misctest::Mutate(FileBytes(Fx(std::string(file) + ".dcm")), 40, iffDICOM);
  }
}

TEST(DICOMRead, JPEG2000FramesDecodeAsTheHostDoes) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  const Bytes rescale = Element(0x28, 0x1052, "DS", Text("-100")) + Element(0x28, 0x1053, "DS", Text("2"));
  const Bytes window =
      Element(0x28, 0x1050, "DS", Text("40\\400")) + Element(0x28, 0x1051, "DS", Text("400\\900")) + rescale;
  struct Case {
    const char* stream;
    int samples, bits, stored, signedness;
    const char* photometric;
    Bytes extra;
    TIEPixelFormat format;
    const char* ref;   // the host's image of these samples
    const char* same;  // an uncompressed file of the same samples and mapping; nullptr: none
  };
  const Case kCases[] = {
      {"g8", 1, 8, 8, 0, "MONOCHROME2", {}, ie8g, "g8-j2k-0", nullptr},
      {"rgb", 3, 8, 8, 0, "RGB", {}, ie24RGB, "rgb-j2k-0", nullptr},
      // lossless 16-bit and signed 12-bit samples keep every level through rescale and window
      {"u16", 1, 16, 16, 0, "MONOCHROME2", {}, ie16g, "u16-0", "u16.dcm"},
      {"s12", 1, 16, 12, 1, "MONOCHROME2", rescale, ie16g, "s12-0", "s12.dcm"},
      {"s12", 1, 16, 12, 1, "MONOCHROME2", window, ie16g, "window-0", "window.dcm"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.ref);
    Image im;
    im.ts = "1.2.840.10008.1.2.4.91";
    im.rows = 29, im.cols = 37, im.samples = k.samples, im.photometric = k.photometric;
    im.bits = k.bits, im.stored = k.stored, im.signedness = k.signedness, im.extra = k.extra;
    im.pixels = FileBytes(Fx(std::string(k.stream) + ".j2k"));
    if (im.pixels.size() & 1) im.pixels.push_back(0);
    TIEBitmap b;
    const TLoad r = LoadBytes(MakeFile(im), b);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.format, k.format);
    EXPECT_LE(DiffFromReference(b, k.ref), 1);
    if (k.same) {
      TIEBitmap plain;
      EXPECT_FALSE(Load(k.same, plain).aborted);
      EXPECT_EQ(Pixels(b), Pixels(plain));
    }
    // a code stream of another size than the data set states is refused
    im.rows = 28;
    TIEBitmap other;
    EXPECT_TRUE(LoadBytes(MakeFile(im), other).aborted);
  }
}

TEST(DICOMRead, PlatformBitmapGetsColourAndProgressIsReported) {
  if (!ToolsHere()) GTEST_SKIP() << "dcmtk unreachable";
  ASSERT_TRUE(HostFiles());
  // storage that cannot hold 16-bit grey receives the image as 24-bit colour
  TIEBitmap b;
  ASSERT_TRUE(b.Allocate(4, 4, ie24RGB));
  b.SetLocation(ieTBitmap);
  ASSERT_EQ(b.GetLocation(), ieTBitmap);
  TImageryIO io(&b);
  std::vector<int> seen;
  io.OnProgress = [&seen](void*, int per) { seen.push_back(per); };
  io.LoadAsFileType(W(Fx("s12-sv4.dcm")), iffDICOM);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
  EXPECT_LE(DiffFromReference(b, "s12-sv4-0"), 1);
  ASSERT_GE(seen.size(), 10u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.begin() + 10));
  EXPECT_EQ(seen.back(), 100);
}
