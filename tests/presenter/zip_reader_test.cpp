// The ZIP reader: members written by the host's own ZIP implementation, and hostile archives that
// must be refused with an error, never crash or allocate what a header claims.
#include "zip_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "hostenv.h"
#include "zip_builder.h"

using presenter::ZipReader;
using namespace presenter_test;

namespace {

std::string ReadWork(const std::string& name) {
  std::vector<unsigned char> v;
  EXPECT_TRUE(tq::ReadFileBytes(tq::WorkFile(name), v)) << name;
  return std::string(v.begin(), v.end());
}

std::string Repeated(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += char('a' + (i * 7 + i / 13) % 26);
  return s;
}

}  // namespace

// Archives written by Python's zipfile module: stored and deflated members, a comment.
TEST(ZipReader, ReadsArchivesWrittenByTheHost) {
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \""
                        "import zipfile\n"
                        "z = zipfile.ZipFile('host.zip', 'w')\n"
                        "z.writestr(zipfile.ZipInfo('a/stored.txt'), 'plain bytes')\n"
                        "z.writestr('b/deflated.xml', '<x>' + 'abc' * 5000 + '</x>', zipfile.ZIP_DEFLATED)\n"
                        "z.writestr('empty', '', zipfile.ZIP_DEFLATED)\n"
                        "z.comment = b'trailing comment'\n"
                        "z.close()\n"
                        "z = zipfile.ZipFile('host64.zip', 'w', allowZip64=True)\n"
                        "with z.open('big.bin', 'w', force_zip64=True) as f: f.write(b'x' * 100)\n"
                        "z.close()\""),
            0);
  const std::string bytes = ReadWork("host.zip");
  ZipReader zip;
  std::string error, out;
  ASSERT_TRUE(zip.Open(bytes, error)) << error;
  EXPECT_EQ(zip.EntryCount(), 3u);
  ASSERT_TRUE(zip.Read("a/stored.txt", out, error)) << error;
  EXPECT_EQ(out, "plain bytes");
  ASSERT_TRUE(zip.Read("b/deflated.xml", out, error)) << error;
  EXPECT_EQ(out.size(), 15007u);
  EXPECT_EQ(out.substr(0, 6), "<x>abc");
  ASSERT_TRUE(zip.Read("empty", out, error)) << error;
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(zip.Read("missing", out, error));
  EXPECT_NE(error.find("missing"), std::string::npos);

  const std::string zip64 = ReadWork("host64.zip");
  ZipReader z64;
  bool opened = z64.Open(zip64, error);
  if (opened) opened = z64.Read("big.bin", out, error);
  EXPECT_FALSE(opened);
  EXPECT_NE(error.find("ZIP64"), std::string::npos) << error;
}

// Each case damages a valid two-member archive; every one must be refused (on open or on read)
// with an error naming the fault.
TEST(ZipReader, RefusesMalformedArchives) {
  const std::vector<ZipMember> members = {{"one.xml", Repeated(3000), true}, {"two.bin", "stored data", false}};
  ZipLayout l;
  const std::string good = BuildZip(members, &l);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* expect;  // part of the error text
  };
  const Case cases[] = {
      {"zip64 entry count", [&](std::string& z) { PatchU16(z, l.endOffset + 10, 0xFFFF); PatchU16(z, l.endOffset + 8, 0xFFFF); }, "ZIP64"},
      {"zip64 sizes", [&](std::string& z) { PatchU32(z, l.centralOffsets[0] + 24, 0xFFFFFFFF); }, "ZIP64"},
      {"zip64 locator", [&](std::string& z) {
         std::string loc;
         PutU32(loc, 0x07064b50);
         loc.append(16, '\0');
         z.insert(l.endOffset, loc);
       }, "ZIP64"},
      {"encrypted", [&](std::string& z) { PatchU16(z, l.centralOffsets[0] + 8, 1); }, "encrypted"},
      {"method 12", [&](std::string& z) { PatchU16(z, l.centralOffsets[0] + 10, 12); }, "method 12"},
      {"bad crc", [&](std::string& z) { PatchU32(z, l.centralOffsets[1] + 16, 0x12345678); }, "CRC"},
      {"size smaller than data", [&](std::string& z) { PatchU32(z, l.centralOffsets[0] + 24, 100); }, "damaged"},
      {"size larger than data", [&](std::string& z) { PatchU32(z, l.centralOffsets[0] + 24, 5000); }, "damaged"},
      {"huge declared size", [&](std::string& z) { PatchU32(z, l.centralOffsets[0] + 24, 0xFFFFFF00); }, "too large"},
      {"compressed size past end", [&](std::string& z) { PatchU32(z, l.centralOffsets[1] + 20, 0x7FFFFFFF); }, "past the end"},
      {"local offset outside", [&](std::string& z) { PatchU32(z, l.centralOffsets[1] + 42, 0x7FFFFFF0); }, "local header"},
      {"stored sizes differ", [&](std::string& z) { PatchU32(z, l.centralOffsets[1] + 24, 3); }, "inconsistent"},
      {"directory offset outside", [&](std::string& z) { PatchU32(z, l.endOffset + 16, 0x7FFFFFF0); }, "outside"},
      {"directory count too high", [&](std::string& z) { PatchU16(z, l.endOffset + 8, 3); PatchU16(z, l.endOffset + 10, 3); }, "damaged"},
      {"multi-disk", [&](std::string& z) { PatchU16(z, l.endOffset + 4, 1); }, "multi-disk"},
      {"name length runs off", [&](std::string& z) { PatchU16(z, l.centralOffsets[1] + 28, 0xFFFF); }, "damaged"},
      {"repeated name", [&](std::string& z) { z.replace(l.centralOffsets[1] + 46, 7, "one.xml"); }, "repeated"},
      {"no end record", [&](std::string& z) { z.resize(l.endOffset); }, "end of central directory"},
  };
  for (const Case& c : cases) {
    std::string z = good;
    c.damage(z);
    ZipReader zip;
    std::string error, out;
    bool ok = zip.Open(z, error);
    if (ok) ok = zip.Read("one.xml", out, error) && zip.Read("two.bin", out, error);
    EXPECT_FALSE(ok) << c.what;
    EXPECT_NE(error.find(c.expect), std::string::npos) << c.what << ": " << error;
  }
}

// A deflate stream that expands to far more than its header says is stopped at the declared size.
TEST(ZipReader, DeclaredSizeBoundsInflation) {
  ZipLayout l;
  std::string z = BuildZip({{"bomb", std::string(20u << 20, '\0'), true}}, &l);
  PatchU32(z, l.centralOffsets[0] + 24, 1000);
  ZipReader zip;
  std::string error, out;
  ASSERT_TRUE(zip.Open(z, error)) << error;
  EXPECT_FALSE(zip.Read("bomb", out, error));
  EXPECT_TRUE(out.empty());
}

// Truncated at every length and with random bytes changed, the reader returns and never crashes.
TEST(ZipReader, SurvivesTruncationAndBitFlips) {
  const std::string good = BuildZip({{"a.xml", Repeated(2000), true}, {"b", "bbbb", false}, {"c.xml", "<c/>", true}});
  for (size_t n = 0; n < good.size(); n++) {
    ZipReader zip;
    std::string error, out;
    const std::string cut = good.substr(0, n);
    if (zip.Open(cut, error)) {
      zip.Read("a.xml", out, error);
      zip.Read("b", out, error);
    }
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; round++) {
    std::string z = good;
    for (int k = 0; k < 1 + round % 6; k++) z[rng() % z.size()] = char(rng());
    ZipReader zip;
    std::string error, out;
    if (zip.Open(z, error))
      for (const char* name : {"a.xml", "b", "c.xml"}) zip.Read(name, out, error);
  }
  SUCCEED();
}
