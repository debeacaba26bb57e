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
      // baseline JPEG
      {"g8-base", 0, 0, ie8g}, {"rgb-base", 0, 0, ie24RGB}, {"mono1-base", 0, 0, ie8g},
      // lossless JPEG: every selection value, 8, 12 and 16 bits, colour, point transforms, fragments
      {"s12-sv1", 0, 0, ie16g}, {"s12-sv2", 0, 0, ie16g}, {"s12-sv3", 0, 0, ie16g}, {"s12-sv4", 0, 0, ie16g},
      {"s12-sv5", 0, 0, ie16g}, {"s12-sv6", 0, 0, ie16g}, {"s12-sv7", 0, 0, ie16g},
      {"u16-sv1", 0, 0, ie16g}, {"u16-sv5", 0, 0, ie16g}, {"u16-sv7", 0, 0, ie16g},
      {"g8-sv1", 0, 0, ie8g}, {"rgb-sv1", 0, 0, ie24RGB}, {"rgb-sv6", 0, 0, ie24RGB},
      {"palette-sv1", 0, 0, ie24RGB}, {"window-sv1", 0, 0, ie16g}, {"u16-pt3", 0, 0, ie16g},
      {"g8-pt2", 0, 0, ie8g}, {"u16-fragments", 0, 0, ie16g},
      // three frames: uncompressed, RLE and lossless, with and without an offset table; an index
      // beyond the last frame reads the last
      {"s12x3", 0, 0, ie16g}, {"s12x3", 1, 1, ie16g}, {"s12x3", 2, 2, ie16g}, {"s12x3", 5, 2, ie16g},
      {"s12x3-rle", 1, 1, ie16g}, {"s12x3-rle", 2, 2, ie16g}, {"s12x3-rle-nobot", 1, 1, ie16g},
      {"s12x3-rle-nobot", 2, 2, ie16g}, {"s12x3-ll", 0, 0, ie16g}, {"s12x3-ll", 2, 2, ie16g},
      {"s12x3-ll-nobot", 1, 1, ie16g}, {"s12x3-ll-nobot", 5, 2, ie16g},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(std::string(k.file) + " frame " + std::to_string(k.index));
    TIEBitmap b;
    TIOParamsVals p(nullptr);
    const TLoad r = Load(std::string(k.file) + ".dcm", b, k.index, &p);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.format, k.format);
    EXPECT_LE(DiffFromReference(b, std::string(k.file) + "-" + std::to_string(k.refFrame)), 1);
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
