#include "ieexifglue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "ioparams.h"
#include "../support/hostenv.h"

namespace {

constexpr int kW = 11, kH = 4;  // odd width: 1-bit rows end inside a byte

// Where PIL's exif_transpose puts each pixel of a kW x kH image: for orientation o, the output size and,
// row by row, the source index y * kW + x of every output pixel.
struct Layout {
  int w = 0, h = 0;
  std::vector<int> from;
};

std::map<int, Layout> PILLayouts() {
  const std::string script =
      "from PIL import Image, ImageOps\n"
      "for o in range(1, 9):\n"
      "  im = Image.new('I', (" + std::to_string(kW) + ", " + std::to_string(kH) + "))\n"
      "  im.putdata(list(range(im.width * im.height)))\n"
      "  im.getexif()[0x0112] = o\n"
      "  t = ImageOps.exif_transpose(im)\n"
      "  print(o, t.width, t.height, *t.getdata())\n";
  std::string out;
  std::map<int, Layout> layouts;
  if (tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(script), &out) != 0) return layouts;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    int o;
    Layout l;
    if (!(ls >> o >> l.w >> l.h)) continue;
    l.from.resize(size_t(l.w) * l.h);
    for (int& v : l.from) ls >> v;
    if (ls) layouts[o] = l;
  }
  return layouts;
}

int BytesPerPixel(TIEPixelFormat f) { return IEPixelFormatBitCount[f] / 8; }

// A pixel's bytes (1-bit: its bit as 0 or 1).
std::vector<uint8_t> PixelOf(TIEBitmap& b, int x, int y) {
  const uint8_t* row = b.GetRowAddress(y);
  if (b.GetPixelFormat() == ie1g) return {uint8_t((row[x >> 3] >> (7 - (x & 7))) & 1)};
  const int n = BytesPerPixel(b.GetPixelFormat());
  return std::vector<uint8_t>(row + size_t(x) * n, row + size_t(x + 1) * n);
}

// Every pixel different from its neighbours, every byte of a pixel different.
void FillPattern(TIEBitmap& b) {
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* row = b.GetRowAddress(y);
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      const int i = y * b.GetImageWidth() + x;
      if (b.GetPixelFormat() == ie1g) {
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        if ((i * 7 + i / 3) % 5 < 2) row[x >> 3] |= bit;
        else row[x >> 3] &= uint8_t(~bit);
        continue;
      }
      const int n = BytesPerPixel(b.GetPixelFormat());
      for (int c = 0; c < n; ++c) row[size_t(x) * n + c] = uint8_t(i * 13 + c * 41 + 7);
    }
  }
}

// Checks `after` against `before` laid out as PIL's exif_transpose does for orientation o.
void ExpectLayout(TIEBitmap& before, TIEBitmap& after, const Layout& l, const std::string& what) {
  ASSERT_EQ(after.GetImageWidth(), l.w) << what;
  ASSERT_EQ(after.GetImageHeight(), l.h) << what;
  ASSERT_EQ(after.GetPixelFormat(), before.GetPixelFormat()) << what;
  int wrong = 0;
  for (int y = 0; y < l.h; ++y)
    for (int x = 0; x < l.w; ++x) {
      const int src = l.from[size_t(y) * l.w + x];
      if (PixelOf(after, x, y) != PixelOf(before, src % kW, src / kW)) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << what;
}

class ExifOrientation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { layouts_ = new std::map<int, Layout>(PILLayouts()); }
  static void TearDownTestSuite() { delete layouts_; }
  static std::map<int, Layout>* layouts_;
};
std::map<int, Layout>* ExifOrientation::layouts_ = nullptr;

TEST_F(ExifOrientation, EveryOrientationInEveryFormatMatchesPIL) {
  ASSERT_EQ(layouts_->size(), 8u) << "PIL gave no layouts";
  const TIEPixelFormat formats[] = {ie1g, ie8p, ie8g, ie16g, ie24RGB, ie32f, ieCMYK, ieRGB48, ieCIELab, ie32RGB};
  for (TIEPixelFormat f : formats) {
    for (const auto& [o, layout] : *layouts_) {
      TIEBitmap original(kW, kH, f), b(kW, kH, f);
      FillPattern(original);
      if (f == ie8p)
        for (int i = 0; i < original.GetPaletteCount(); ++i) original.SetPaletteEntry(i, TIERGB{uint8_t(i), 3, uint8_t(255 - i)});
      b.Assign(&original);
      IEApplyExifOrientation(&b, o);
      const std::string what = "format " + std::to_string(int(f)) + ", orientation " + std::to_string(o);
      ExpectLayout(original, b, layout, what);
      if (f == ie8p) {
        ASSERT_EQ(b.GetPaletteCount(), original.GetPaletteCount()) << what;
        EXPECT_EQ(std::memcmp(b.GetPalette(), original.GetPalette(), sizeof(TIERGB) * b.GetPaletteCount()), 0)
            << what;
      }
    }
  }
}

TEST_F(ExifOrientation, AlphaChannelTurnsWithTheImage) {
  ASSERT_EQ(layouts_->size(), 8u) << "PIL gave no layouts";
  for (const auto& [o, layout] : *layouts_) {
    TIEBitmap original(kW, kH, ie24RGB), b(kW, kH, ie24RGB);
    FillPattern(original);
    FillPattern(*original.GetAlphaChannel());
    b.Assign(&original);
    IEApplyExifOrientation(&b, o);
    ASSERT_TRUE(b.AlphaPresent());
    ExpectLayout(*original.GetAlphaChannel(), *b.GetAlphaChannel(), layout,
                 "alpha, orientation " + std::to_string(o));
  }
}

TEST_F(ExifOrientation, OtherValuesLeaveTheBitmapAlone) {
  for (int o : {0, 9, -1, 65535}) {
    TIEBitmap original(kW, kH, ie24RGB), b(kW, kH, ie24RGB);
    FillPattern(original);
    b.Assign(&original);
    IEApplyExifOrientation(&b, o);
    ExpectLayout(original, b, (*layouts_)[1], "orientation " + std::to_string(o));
  }
  IEApplyExifOrientation(nullptr, 6);
  TIEBitmap empty;
  IEApplyExifOrientation(&empty, 6);
  EXPECT_TRUE(empty.IsEmpty());
}

const char kXMPId[] = "http://ns.adobe.com/xap/1.0/";

std::vector<uint8_t> Payload(const std::string& head, const std::string& packet) {
  std::vector<uint8_t> p(head.begin(), head.end());
  p.insert(p.end(), packet.begin(), packet.end());
  return p;
}

TEST(XMP, SavedPacketLoadsBackUnchanged) {
  const std::string packets[] = {
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'/>"
      "<?xpacket end='w'?>",
      std::string("a\0b", 3),  // a NUL inside the packet is kept
      "x"};
  for (const std::string& text : packets) {
    TIOParamsVals out(nullptr), in(nullptr);
    out.XMPInfo = text;
    uint8_t* buffer = nullptr;
    size_t length = 0;
    IESaveXMPToBuffer(&out, buffer, length);
    ASSERT_EQ(length, 29 + text.size());
    EXPECT_EQ(std::memcmp(buffer, kXMPId, 29), 0);
    EXPECT_TRUE(IELoadXMPFromMarker(buffer, length, &in));
    EXPECT_EQ(in.XMPInfo, text);
    delete[] buffer;
  }
}

TEST(XMP, WhatIsNotAPacket) {
  const std::string id(kXMPId, 29);
  struct Case {
    const char* name;
    std::vector<uint8_t> payload;
  };
  const Case cases[] = {
      {"identifier only (29 bytes)", Payload(id, "")},
      {"shorter than the identifier", Payload(id.substr(0, 20), "")},
      {"other namespace", Payload("http://ns.adobe.com/xmp/extension/" + std::string(1, '\0'), "<x/>")},
      {"EXIF payload", Payload(std::string("Exif\0\0", 6), std::string(40, 'I'))},
      {"no NUL anywhere", Payload(id.substr(0, 28), "<x:xmpmeta/>")},
  };
  for (const Case& c : cases) {
    TIOParamsVals p(nullptr);
    p.XMPInfo = "kept";
    EXPECT_EQ(IEFindXMPPacket(c.payload.data(), c.payload.size()), nullptr) << c.name;
    EXPECT_FALSE(IELoadXMPFromMarker(c.payload.data(), c.payload.size(), &p)) << c.name;
    EXPECT_EQ(p.XMPInfo, "kept") << c.name;
  }
  EXPECT_EQ(IEFindXMPPacket(nullptr, 100), nullptr);
}

TEST(XMP, PacketWrittenByExiftoolLoads) {
  // exiftool adds an XMP packet to a JPEG from PIL and extracts it again as the reference
  const std::string jpg = tq::WorkFile("xmp.jpg"), xmp = tq::WorkFile("xmp.xmp");
  const std::string uj = tq::ShellQuote(tq::UnixPath(jpg)), ux = tq::ShellQuote(tq::UnixPath(xmp));
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; Image.new('RGB', (4, 4)).save('" +
                        tq::UnixPath(jpg) + "')\" && exiftool -q -overwrite_original -XMP-dc:Title=Quill " + uj +
                        " && exiftool -b -XMP " + uj + " > " + ux),
            0);
  std::vector<unsigned char> ref;
  ASSERT_TRUE(tq::ReadFileBytes(xmp, ref));
  const std::string packet(ref.begin(), ref.end());
  ASSERT_NE(packet.find("Quill"), std::string::npos);
  std::vector<unsigned char> file;
  ASSERT_TRUE(tq::ReadFileBytes(jpg, file));
  // the APP1 segments of the file, until the image data starts
  bool found = false;
  for (size_t pos = 2; pos + 4 <= file.size() && file[pos] == 0xFF && file[pos + 1] != 0xDA;) {
    const size_t len = size_t(file[pos + 2]) << 8 | file[pos + 3];
    if (len < 2 || pos + 2 + len > file.size()) break;
    if (file[pos + 1] == 0xE1) {
      TIOParamsVals p(nullptr);
      if (IELoadXMPFromMarker(file.data() + pos + 4, len - 2, &p)) {
        EXPECT_EQ(p.XMPInfo, packet);
        found = true;
      }
    }
    pos += 2 + len;
  }
  EXPECT_TRUE(found);
}

}  // namespace
