#include "tifccitt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "coder_fixtures.h"
#include "vodevovur.h"

using fx::Bytes;

namespace {

enum class Coding { MH, T4OneD, T4TwoD, T6 };

int RowBytes(int width) { return width <= 0 ? 0 : (width + 7) / 8; }

// A bilevel page, 1 = black (the encoders' and PBM's polarity): text-like blocks, rules, a diagonal,
// a noisy band, pixels at both edges; pad bits zero.
Bytes Page(int width, int height, uint32_t seed) {
  fx::Rng rng(seed);
  const int rb = RowBytes(width);
  Bytes b(size_t(rb) * height, 0);
  auto set = [&](int x, int y) {
    if (x >= 0 && x < width && y >= 0 && y < height) b[size_t(y) * rb + x / 8] |= uint8_t(0x80 >> (x % 8));
  };
  for (int k = 0; k < width * height / 400; ++k) {
    const int x0 = int(rng.Below(uint32_t(width))), y0 = int(rng.Below(uint32_t(height)));
    const int w = 1 + int(rng.Below(12)), h = 1 + int(rng.Below(9));
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) set(x, y);
  }
  for (int x = 0; x < width; ++x) set(x, height / 3);              // a full rule
  for (int y = 0; y < height; ++y) set((y * 7) % width, y);        // a diagonal
  for (int y = 0; y < height; ++y) set(width / 2, y);              // a vertical rule
  for (int y = height / 2; y < height / 2 + 4 && y < height; ++y)  // noise
    for (int x = 0; x < width; ++x)
      if (rng.Below(2)) set(x, y);
  set(0, 1);
  set(width - 1, 2);
  return b;
}

// Decoder rows (1 = white) in the encoders' polarity, pad bits cleared.
Bytes ToBlackIsOne(const Bytes& white) {
  Bytes b = white;
  for (uint8_t& v : b) v = uint8_t(~v);
  return b;
}
void ClearPadBits(Bytes& rows, int width) {
  const int rb = RowBytes(width);
  if (width % 8 == 0) return;
  const uint8_t mask = uint8_t(0xFF << (8 - width % 8));
  for (size_t i = size_t(rb) - 1; i < rows.size(); i += size_t(rb)) rows[i] &= mask;
}

Bytes EncodeStrip(Coding coding, const Bytes& page, int width, int height, int fillOrder) {
  TIEMemoryStream s;
  std::atomic<bool> aborting{false};
  TIECCITTEncoderCarry carry;
  const int rb = RowBytes(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &page[size_t(y) * rb];
    switch (coding) {
      case Coding::MH:
        IECCITTEncodeMHRow(row, width, s, fillOrder, aborting);
        break;
      case Coding::T4OneD:
        IECCITTEncode1DRow(row, width, s, fillOrder, aborting, carry);
        break;
      case Coding::T4TwoD:
        IECCITTEncodeT4Row(row, width, s, fillOrder, aborting, carry);
        break;
      case Coding::T6:
        IECCITTEncodeT6Row(row, width, s, fillOrder, aborting, carry);
        break;
    }
  }
  if (coding == Coding::T4TwoD) IECCITTEncodeT4Row(nullptr, 0, s, fillOrder, aborting, carry);
  if (coding == Coding::T6) {
    IECCITTEncodeT6Row(nullptr, 0, s, fillOrder, aborting, carry);
    EXPECT_EQ(carry.pendingBits, 0);
  }
  // The strip's last partial byte is the caller's to write.
  if (carry.pendingBits > 0) s.Write(&carry.pendingByte, 1);
  EXPECT_FALSE(aborting);
  return fx::StreamBytes(s);
}

// Decodes `rows` rows of one strip as the TIFF strip decoder does; returns the rows (1 = white).
// Every row buffer is fenced; `fencesOK` reports whether a decoder wrote outside one.
Bytes DecodeStrip(Coding coding, const uint8_t* data, int64_t length, int width, int rows, int fillOrder,
                  bool skipFill, bool* fencesOK = nullptr) {
  const int rb = RowBytes(width);
  Bytes out;
  fx::FencedBuffer row{size_t(rb)}, reference{size_t(rb), 0xFF};
  int64_t pos = 0;  // bytes for MH, bits otherwise
  bool ok = true;
  for (int y = 0; y < rows; ++y) {
    switch (coding) {
      case Coding::MH: {
        const int64_t used = IECCITTDecodeMHRow(row.data(), data + pos, length - pos, fillOrder, width);
        EXPECT_LE(used, length - pos);
        pos += used;
        break;
      }
      case Coding::T4OneD:
        pos = IECCITTDecode1DRow(row.data(), data, length, fillOrder, pos, width);
        break;
      case Coding::T4TwoD:
      case Coding::T6:
        pos = IECCITTDecode2DRow(row.data(), data, length, skipFill, fillOrder, pos, reference.data(), width);
        std::memcpy(row.data(), reference.data(), size_t(rb));
        break;
    }
    if (coding != Coding::MH) {
      EXPECT_LE(pos, length * 8);
    }
    ok = ok && row.FencesIntact() && reference.FencesIntact();
    out.insert(out.end(), row.data(), row.data() + rb);
  }
  if (fencesOK) *fencesOK = ok;
  return out;
}

// "0101..." -> bytes, most significant bit first, zero-padded.
Bytes Bits(const std::string& s) {
  Bytes b((s.size() + 7) / 8, 0);
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == '1') b[i / 8] |= uint8_t(0x80 >> (i % 8));
  return b;
}

class CCITT : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { IELibraryStaticInit(); }
  static void TearDownTestSuite() { IELibraryStaticFini(); }
};

struct ToolCase {
  const char* name;
  const char* command;  // makes <name>.tif from page.tif / page.g3 in the work folder
};

}  // namespace

// The decode trees come from the library's start-up: without it nothing decodes, after it the row does.
TEST_F(CCITT, StartUpBuildsTheDecodeTrees) {
  const int width = 40;
  Bytes page(RowBytes(width), 0);
  page[0] = 0xFF;  // ten black pixels
  page[1] = 0xC0;
  const Bytes strip = EncodeStrip(Coding::MH, page, width, 1, 1);
  while (IELibraryStarted()) IELibraryStaticFini();
  Bytes row(RowBytes(width));
  IECCITTDecodeMHRow(row.data(), strip.data(), int64_t(strip.size()), 1, width);
  EXPECT_EQ(row, Bytes(RowBytes(width), 0xFF));
  IELibraryStaticInit();
  IECCITTDecodeMHRow(row.data(), strip.data(), int64_t(strip.size()), 1, width);
  EXPECT_EQ(ToBlackIsOne(row)[0], 0xFF);
  EXPECT_EQ(ToBlackIsOne(row)[1], 0xC0);
}

// Our encoders' strips, wrapped in a TIFF (compression 2; 3 with T4Options 0 and 1; 4; both fill
// orders), decode with the host's libtiff to the page; our decoders read them back too.
TEST_F(CCITT, EncodedStripsDecodeWithTifftopnm) {
  struct Case {
    const char* name;
    Coding coding;
    int compression, t4Options, fillOrder;
  };
  const Case kCases[] = {{"mh", Coding::MH, 2, -1, 1},       {"mh_lsb", Coding::MH, 2, -1, 2},
                         {"g3_1d", Coding::T4OneD, 3, 0, 1}, {"g3_1d_lsb", Coding::T4OneD, 3, 0, 2},
                         {"g3_2d", Coding::T4TwoD, 3, 1, 1}, {"g3_2d_lsb", Coding::T4TwoD, 3, 1, 2},
                         {"g4", Coding::T6, 4, -1, 1},       {"g4_lsb", Coding::T6, 4, -1, 2}};
  struct Size {
    int width, height;
  };
  const Size kSizes[] = {{517, 130}, {3000, 6}, {1, 3}};
  for (const Size& sz : kSizes) {
    const Bytes page = Page(sz.width, sz.height, uint32_t(sz.width));
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(sz.width));
      const Bytes strip = EncodeStrip(c.coding, page, sz.width, sz.height, c.fillOrder);
      fx::TiffSpec spec;
      spec.width = sz.width;
      spec.height = sz.height;
      spec.bitsPerSample = 1;
      spec.compression = c.compression;
      spec.photometric = 0;
      spec.t4Options = c.t4Options;
      spec.fillOrder = c.fillOrder == 2 ? 2 : 0;
      const std::string base = std::string("enc_") + c.name;
      ASSERT_TRUE(fx::WriteWork(base + ".tif", fx::MakeTiff(spec, strip)));
      int rc = 0;
      fx::Host("/usr/bin/tifftopnm " + base + ".tif > " + base + ".pbm 2>/dev/null", &rc);
      ASSERT_EQ(rc, 0);
      fx::Pnm pnm;
      ASSERT_TRUE(fx::ParsePnm(fx::ReadWork(base + ".pbm"), pnm));
      ASSERT_EQ(pnm.kind, '4');
      ClearPadBits(pnm.data, sz.width);
      EXPECT_EQ(pnm.data, page);

      Bytes ours = ToBlackIsOne(DecodeStrip(c.coding, strip.data(), int64_t(strip.size()), sz.width,
                                            sz.height, c.fillOrder, c.coding == Coding::T4TwoD));
      ClearPadBits(ours, sz.width);
      EXPECT_EQ(ours, page);
    }
  }
}

// Fax files made by the host's tools (pbmtog3 + fax2tiff, tiffcp, PIL) decode to the page.
TEST_F(CCITT, DecodesFilesMadeByTheHostTools) {
  const int width = 611, height = 97;
  const Bytes page = Page(width, height, 3);
  ASSERT_TRUE(fx::WriteWork("page.pbm", fx::MakePnm('4', width, height, page)));
  fx::TiffSpec spec;
  spec.width = width;
  spec.height = height;
  spec.bitsPerSample = 1;
  spec.photometric = 0;
  ASSERT_TRUE(fx::WriteWork("page.tif", fx::MakeTiff(spec, page)));
  int rc = 0;
  fx::Host("/usr/bin/pbmtog3 -nofixedwidth page.pbm > page.g3 2>/dev/null", &rc);
  ASSERT_EQ(rc, 0);

  const std::string fax2tiff = "/usr/bin/fax2tiff -M -X " + std::to_string(width) + " ";
  const std::string pil =
      "/usr/bin/python3 -c \"from PIL import Image; Image.open('page.pbm').save('NAME.tif', "
      "compression='C')\"";
  auto withPil = [&](const std::string& name, const std::string& compression) {
    std::string s = pil;
    s.replace(s.find("NAME"), 4, name);
    s.replace(s.find("'C'"), 3, "'" + compression + "'");
    return s;
  };
  const std::vector<std::pair<std::string, std::string>> kFiles = {
      {"fax_1d", fax2tiff + "-5 -o fax_1d.tif page.g3"},
      {"fax_1d_packed", fax2tiff + "-5 -p -o fax_1d_packed.tif page.g3"},
      {"fax_2d", fax2tiff + "-6 -o fax_2d.tif page.g3"},
      {"fax_2d_msb", fax2tiff + "-6 -m -r 10 -o fax_2d_msb.tif page.g3"},
      {"fax_g4", fax2tiff + "-8 -o fax_g4.tif page.g3"},
      {"cp_g3_1d", "/usr/bin/tiffcp -c g3:1d page.tif cp_g3_1d.tif"},
      {"cp_g3_2d", "/usr/bin/tiffcp -c g3:2d -r 16 page.tif cp_g3_2d.tif"},
      {"cp_g3_fill", "/usr/bin/tiffcp -c g3:2d:fill page.tif cp_g3_fill.tif"},
      {"cp_g4_lsb", "/usr/bin/tiffcp -c g4 -f lsb2msb page.tif cp_g4_lsb.tif"},
      {"pil_mh", withPil("pil_mh", "tiff_ccitt")},
      {"pil_g3", withPil("pil_g3", "group3")},
      {"pil_g4", withPil("pil_g4", "group4")}};
  for (const auto& file : kFiles) {
    SCOPED_TRACE(file.first);
    fx::Host(file.second + " 2>&1", &rc);
    ASSERT_EQ(rc, 0);
    fx::TiffImage img;
    ASSERT_TRUE(fx::ReadTiff(fx::ReadWork(file.first + ".tif"), img));
    ASSERT_EQ(img.spec.width, width);
    // fax2tiff counts the six ends of line that close a G3 file as blank rows after the page.
    const int fileHeight = img.spec.height;
    ASSERT_GE(fileHeight, height);
    ASSERT_LE(fileHeight, height + 6);
    const int compression = img.spec.compression;
    ASSERT_TRUE(compression >= 2 && compression <= 4) << compression;
    const int t4 = img.spec.t4Options < 0 ? 0 : img.spec.t4Options;
    const Coding coding = compression == 2   ? Coding::MH
                          : compression == 4 ? Coding::T6
                          : (t4 & 1)         ? Coding::T4TwoD
                                             : Coding::T4OneD;
    const int fillOrder = img.spec.fillOrder == 2 ? 2 : 1;
    Bytes decoded;
    for (size_t s = 0; s < img.strips.size(); ++s) {
      const int rows = std::min(img.rowsPerStrip, fileHeight - int(s) * img.rowsPerStrip);
      const bool skipFill = compression == 3 || (t4 & 4) != 0;
      const Bytes part = DecodeStrip(coding, img.strips[s].data(), int64_t(img.strips[s].size()), width, rows,
                                     fillOrder, skipFill);
      decoded.insert(decoded.end(), part.begin(), part.end());
    }
    // PIL and fax2tiff may store min-is-black; the page is compared in black-is-one either way.
    Bytes black = img.spec.photometric == 1 ? decoded : ToBlackIsOne(decoded);
    ClearPadBits(black, width);
    ASSERT_EQ(black.size(), size_t(RowBytes(width)) * fileHeight);
    EXPECT_EQ(Bytes(black.begin(), black.begin() + long(page.size())), page);
    EXPECT_EQ(Bytes(black.begin() + long(page.size()), black.end()), Bytes(black.size() - page.size(), 0));
  }
}

TEST_F(CCITT, RunOf3000IsMakeUp2560Then384ThenTerminating56) {
  const int width = 3000;
  const Bytes white(RowBytes(width), 0);
  const Bytes strip = EncodeStrip(Coding::MH, white, width, 1, 1);
  // 000000011111 00110111 01011001, zero bits to the byte.
  EXPECT_EQ(strip, (Bytes{0x01, 0xF3, 0x75, 0x90}));
  Bytes row(RowBytes(width));
  EXPECT_EQ(IECCITTDecodeMHRow(row.data(), strip.data(), int64_t(strip.size()), 1, width), 4);
  EXPECT_EQ(row, Bytes(RowBytes(width), 0xFF));
}

TEST_F(CCITT, AllWhite1728RowIsOneMakeUpAndATerminatingZero) {
  const Bytes code = Bits(
      "010011011"
      "00110101");  // 17 bits
  Bytes row(RowBytes(1728), 0);
  EXPECT_EQ(IECCITTDecodeMHRow(row.data(), code.data(), int64_t(code.size()), 1, 1728), 3);
  EXPECT_EQ(row, Bytes(RowBytes(1728), 0xFF));
}

// Hand-made rows for the decoders' corner cases (rows in decoder polarity, 1 = white).
TEST_F(CCITT, DecoderCornerCases) {
  const std::string eol = "000000000001";
  struct Case {
    const char* name;
    Coding coding;
    int width;
    std::string bits;
    Bytes reference;  // two-dimensional cases only
    Bytes expected;
  };
  const Case kCases[] = {
      // A leading end of line is skipped; a second one at the row's start gives a white row.
      {"leading EOL skipped", Coding::T4OneD, 8, eol + "0111" + "011" + "0111", {}, {0xC3}},
      {"two EOLs: white row", Coding::T4OneD, 8, eol + eol + "0111", {}, {0xFF}},
      // White 2, then an end of line inside the black run: the rest of the row is black.
      {"EOL in black run", Coding::T4OneD, 16, eol + "0111" + eol, {}, {0xC0, 0x00}},
      // Horizontal: white 3, black 20 on a row of 10: the black run is clipped to the row.
      {"horizontal clipped",
       Coding::T6,
       10,
       "001"
       "1000"
       "00001101000",
       {0xFF, 0xFF},
       {0xE0, 0x3F}},
      // VL3 from b1 = 0 puts a1 at -3; VR3 then paints from the row's start; VR3 past the end stops.
      {"vertical outside",
       Coding::T6,
       8,
       "0000010"
       "0000011"
       "0000011",
       {0x7F},
       {0x0F}},
      // Pass mode over the reference's black run keeps a0's colour: the white run goes on to 5, then
      // horizontal white 1, black 2.
      {"pass",
       Coding::T6,
       8,
       "0001"
       "001"
       "000111"
       "11",
       {0x87},
       {0xFC}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes data = Bits(c.bits);
    fx::GuardedBlock guarded(data);
    const int rb = RowBytes(c.width);
    fx::FencedBuffer row{size_t(rb)}, reference{size_t(rb), 0xFF};
    if (!c.reference.empty()) std::memcpy(reference.data(), c.reference.data(), size_t(rb));
    if (c.coding == Coding::T4OneD) {
      IECCITTDecode1DRow(row.data(), guarded.data(), int64_t(data.size()), 1, 0, c.width);
    } else {
      IECCITTDecode2DRow(row.data(), guarded.data(), int64_t(data.size()), false, 1, 0, reference.data(),
                         c.width);
      std::memcpy(row.data(), reference.data(), size_t(rb));
    }
    EXPECT_TRUE(row.FencesIntact());
    EXPECT_TRUE(reference.FencesIntact());
    Bytes got(row.data(), row.data() + rb);
    Bytes want = c.expected;
    ClearPadBits(got, c.width);
    ClearPadBits(want, c.width);
    EXPECT_EQ(got, want);
  }
}

TEST_F(CCITT, T4RowsStartWithEOLAndTagAndT6StripsEndWithEOFB) {
  const int width = 16;
  const Bytes page = Page(width, 2, 9);
  const Bytes t4 = EncodeStrip(Coding::T4TwoD, page, width, 2, 1);
  ASSERT_GE(t4.size(), 2u);
  EXPECT_EQ(t4[0], 0x00);
  EXPECT_EQ(t4[1] & 0xF8, 0x18);  // 0001 then the tag bit 1 (one-dimensional first row)

  const Bytes t6 = EncodeStrip(Coding::T6, page, width, 2, 1);
  ASSERT_GE(t6.size(), 4u);
  // The last 24 bits hold two ends of line (000000000001 twice) and zero padding after them.
  uint32_t tail = (uint32_t(t6[t6.size() - 4]) << 24) | (uint32_t(t6[t6.size() - 3]) << 16) |
                  (uint32_t(t6[t6.size() - 2]) << 8) | t6[t6.size() - 1];
  while ((tail & 1) == 0) tail >>= 1;
  EXPECT_EQ(tail & 0xFFFFFF, 0x001001u);
}

// Mutated strips of every coding never make a decoder write outside its row or read past the strip
// (which ends at an inaccessible page).
TEST_F(CCITT, MutatedStripsNeverCrashOrWriteOutsideTheRow) {
  const int width = 203, height = 60;
  const Bytes page = Page(width, height, 12);
  const Coding kCodings[] = {Coding::MH, Coding::T4OneD, Coding::T4TwoD, Coding::T6};
  for (Coding coding : kCodings) {
    const Bytes strip = EncodeStrip(coding, page, width, height, 1);
    uint32_t seed = 100 + uint32_t(coding);
    for (const Bytes& m : fx::Mutations(strip, 150, seed)) {
      fx::GuardedBlock guarded(m);
      bool fencesOK = false;
      DecodeStrip(coding, guarded.data(), int64_t(m.size()), width, height, 1, coding != Coding::T6,
                  &fencesOK);
      ASSERT_TRUE(fencesOK);
    }
  }
}
