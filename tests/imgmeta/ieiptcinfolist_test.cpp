#include "ieiptcinfolist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hostenv.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Save(const TIEIPTCInfoList& l, bool header) {
  void* p = nullptr;
  int32_t n = -1;
  EXPECT_TRUE(l.SaveToBuffer(p, n, header));
  Bytes b(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + n);
  std::free(p);
  return b;
}
std::string Text(const TIEIPTCInfoList& l, int i) {
  return std::string(reinterpret_cast<const char*>(l.GetData(i)), l.GetLength(i));
}
int Find(const TIEIPTCInfoList& l, int rec, int ds, int from = 0) {
  for (int i = from; i < l.Count(); ++i)
    if (l.GetRecordNumber(i) == rec && l.GetDataSet(i) == ds) return i;
  return -1;
}

// A small JPEG from the host's cjpeg, with `app13` spliced in as an APP13 marker after SOI.
Bytes JpegWithApp13(const Bytes& app13) {
  const std::string ppm = "P6\n8 8\n255\n" + std::string(8 * 8 * 3, '\x80');
  EXPECT_TRUE(tq::WriteFileBytes(tq::WorkFile("in.ppm"), ppm.data(), ppm.size()));
  EXPECT_EQ(tq::RunHost("/usr/bin/cjpeg -outfile plain.jpg in.ppm"), 0);
  Bytes jpg;
  EXPECT_TRUE(tq::ReadFileBytes(tq::WorkFile("plain.jpg"), jpg));
  size_t len = app13.size() + 2;
  Bytes seg = {0xFF, 0xED, uint8_t(len >> 8), uint8_t(len)};
  seg.insert(seg.end(), app13.begin(), app13.end());
  jpg.insert(jpg.begin() + 2, seg.begin(), seg.end());
  return jpg;
}

// The payload of the first APP13 marker of a JPEG file.
Bytes App13Of(const Bytes& jpg) {
  size_t p = 2;
  while (p + 4 <= jpg.size() && jpg[p] == 0xFF) {
    size_t len = (jpg[p + 2] << 8) | jpg[p + 3];
    if (jpg[p + 1] == 0xED) return Bytes(jpg.begin() + p + 4, jpg.begin() + p + 2 + len);
    if (jpg[p + 1] == 0xDA) break;
    p += 2 + len;
  }
  return {};
}
}  // namespace

TEST(IEIPTCInfoList, BlockSizesOfTheTwoForms) {
  TIEIPTCInfoList l;
  EXPECT_EQ(Save(l, true).size(), 0u);  // nothing to write: no block
  l.AddRecord(2, 5, "Title", 5);
  Bytes plain = Save(l, false);
  const Bytes kPlain = {0x1C, 2, 0, 0, 2, 0, 2, 0x1C, 2, 5, 0, 5, 'T', 'i', 't', 'l', 'e', 0};
  EXPECT_EQ(plain, kPlain);
  Bytes wrapped = Save(l, true);
  ASSERT_EQ(wrapped.size(), 36u);
  EXPECT_EQ(std::memcmp(wrapped.data(), "Photoshop 3.0\0" "8BIM\x04\x04\0\0\0\0\0\x0A", 26), 0);

  // The record version 2:00 and empty records are never written; a loaded plain block brings the
  // writer's own 2:00 back as an ordinary record.
  l.AddRecord(2, 0, "\0\4", 2);
  l.AddRecord(2, 25, "", 0);
  EXPECT_EQ(Save(l, false), kPlain);
  TIEIPTCInfoList back;
  ASSERT_TRUE(back.LoadFromBuffer(plain.data(), int32_t(plain.size())));
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(Find(back, 2, 0), 0);
  EXPECT_EQ(Text(back, 1), "Title");
  EXPECT_FALSE(back.Changed());
}

TEST(IEIPTCInfoList, ExtendedLengthRoundTrips) {
  TIEIPTCInfoList l;
  std::string big(40000, 'x');
  big[39999] = 'y';
  l.AddRecord(2, 120, big.data(), int32_t(big.size()));
  Bytes b = Save(l, false);
  const Bytes kHead = {0x1C, 2, 120, 0x80, 0x04, 0x00, 0x00, 0x9C, 0x40};
  EXPECT_TRUE(std::equal(kHead.begin(), kHead.end(), b.begin() + 7));
  EXPECT_EQ(b.size(), 7u + 9 + 40000);
  TIEIPTCInfoList back;
  ASSERT_TRUE(back.LoadFromBuffer(b.data(), int32_t(b.size())));
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(Text(back, 1), big);

  // A claimed extended length beyond the block stops the load; what came before stays.
  b[7 + 5] = 0x7F;
  ASSERT_TRUE(back.LoadFromBuffer(b.data(), int32_t(b.size())));
  EXPECT_EQ(back.Count(), 1);
}

TEST(IEIPTCInfoList, LoadStopsAtWhatDoesNotFit) {
  struct Case { const char* name; Bytes data; int records; } const kCases[] = {
      {"no tag byte", {1, 2, 3, 4, 5, 6, 7, 8}, 0},
      {"empty record ends the block", {0x1C, 2, 5, 0, 1, 'A', 0x1C, 2, 25, 0, 0}, 1},
      {"run of tag bytes", {0, 0x1C, 0x1C, 0x1C, 2, 5, 0, 1, 'A'}, 1},
      {"length past the end", {0x1C, 2, 5, 0, 1, 'A', 0x1C, 2, 25, 0, 9, 'B'}, 1},
      {"extended length cut", {0x1C, 2, 5, 0x80, 4, 0, 0}, 0},
      {"photoshop without 8BIM", {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0, 0x1C, 2, 5, 0, 1, 'A'}, 0},
  };
  for (const Case& c : kCases) {
    TIEIPTCInfoList l;
    l.AddRecord(1, 1, "z", 1);
    EXPECT_EQ(l.LoadFromBuffer(c.data.data(), int32_t(c.data.size())), c.records > 0) << c.name;
    EXPECT_EQ(l.Count(), c.records) << c.name;
  }
  TIEIPTCInfoList l;
  l.AddRecord(1, 1, "z", 1);
  EXPECT_FALSE(l.LoadFromBuffer("", 0));
  EXPECT_EQ(l.Count(), 0);
  EXPECT_TRUE(l.Changed());
}

TEST(IEIPTCInfoList, MutatedBlocksNeverReadPastTheirEnd) {
  TIEIPTCInfoList src;
  src.AddRecord(2, 5, "Harbour", 7);
  src.AddRecord(2, 25, "boats", 5);
  std::string big(33000, 'q');
  src.AddRecord(2, 120, big.data(), int32_t(big.size()));
  const Bytes base = Save(src, true);
  std::mt19937 rng(18);
  for (int round = 0; round < 400; ++round) {
    Bytes b = base;
    if (round % 2) b.resize(rng() % b.size());
    for (int k = 0; k < 4; ++k)
      if (!b.empty()) b[rng() % std::min<size_t>(b.size(), 64)] = uint8_t(rng());
    // Own copy of exactly b.size() bytes, so a read beyond it is a fault the crash filter reports.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() + 1]);
    std::memcpy(exact.get(), b.data(), b.size());
    TIEIPTCInfoList l;
    l.LoadFromBuffer(exact.get(), int32_t(b.size()));
    uint64_t total = 0;
    for (int i = 0; i < l.Count(); ++i) total += uint64_t(l.GetLength(i));
    EXPECT_LE(total, b.size());
  }
}

TEST(IEIPTCInfoList, App13ReadsBackInPILAndExiftool) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's tools";
  TIEIPTCInfoList l;
  l.AddRecord(2, 5, "Harbour", 7);
  l.AddRecord(2, 25, "boats", 5);
  l.AddRecord(2, 80, "Ann", 3);  // makes the dataset sum odd: the block gets its pad byte
  Bytes jpg = JpegWithApp13(Save(l, true));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("ours.jpg"), jpg.data(), jpg.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 -c \"from PIL import Image, IptcImagePlugin as I\n"
                        "d = I.getiptcinfo(Image.open('ours.jpg'))\n"
                        "for k in sorted(d): print(k[0], k[1], d[k].decode())\"",
                        &out), 0) << out;
  EXPECT_EQ(out, "2 5 Harbour\n2 25 boats\n2 80 Ann\n");
  ASSERT_EQ(tq::RunHost("/usr/bin/exiftool -s3 -IPTC:ObjectName -IPTC:Keywords -IPTC:By-line ours.jpg", &out), 0) << out;
  EXPECT_EQ(out, "Harbour\nboats\nAnn\n");

  // The extended length form (PIL's reader does not know it; exiftool does).
  const std::string caption(40000, 'c');
  l.AddRecord(2, 120, caption.data(), int32_t(caption.size()));
  jpg = JpegWithApp13(Save(l, true));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("long.jpg"), jpg.data(), jpg.size()));
  ASSERT_EQ(tq::RunHost("/usr/bin/exiftool -b -IPTC:Caption-Abstract long.jpg", &out), 0);
  EXPECT_EQ(out, caption);
}

TEST(IEIPTCInfoList, LoadsApp13WrittenByExiftool) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's tools";
  Bytes jpg = JpegWithApp13({});
  jpg.erase(jpg.begin() + 2, jpg.begin() + 6);  // just the plain cjpeg file
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("theirs.jpg"), jpg.data(), jpg.size()));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/exiftool -q -overwrite_original -IPTC:ObjectName=Quay "
                        "-IPTC:Keywords=one -IPTC:Keywords=two -IPTC:City=Lyon theirs.jpg", &out), 0) << out;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("theirs.jpg"), jpg));
  Bytes app13 = App13Of(jpg);
  ASSERT_FALSE(app13.empty());
  TIEIPTCInfoList l;
  ASSERT_TRUE(l.LoadFromBuffer(app13.data(), int32_t(app13.size())));
  int i = Find(l, 2, 5);
  ASSERT_GE(i, 0);
  EXPECT_EQ(Text(l, i), "Quay");
  i = Find(l, 2, 25);
  ASSERT_GE(i, 0);
  EXPECT_EQ(Text(l, i), "one");
  i = Find(l, 2, 25, i + 1);
  ASSERT_GE(i, 0);
  EXPECT_EQ(Text(l, i), "two");
  i = Find(l, 2, 90);
  ASSERT_GE(i, 0);
  EXPECT_EQ(Text(l, i), "Lyon");
}
