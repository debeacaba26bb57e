#include "iemarkerlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::string Payload(const TIEMarkerList& m, int i) {
  return std::string(reinterpret_cast<const char*>(m.GetMarkerData(i)), m.GetMarkerLength(i));
}
void Add(TIEMarkerList& m, uint8_t type, const std::string& s) { m.AddMarker(type, s.data(), int32_t(s.size())); }
std::string ICC(char seq) { return std::string("ICC_PROFILE\0", 12) + seq + '\2' + "profile"; }
}  // namespace

TEST(IEMarkerList, SortPutsExifFirstAndICCChunksInSequence) {
  TIEMarkerList m;
  const std::string xmp = "http://ns.adobe.com/xap/1.0/\0<x/>";
  const std::string exif("Exif\0\0II*\0", 10);
  Add(m, 0xE1, xmp);
  Add(m, 0xE0, "JFIF");
  Add(m, 0xE1, exif);
  Add(m, 0xE2, ICC(2));
  Add(m, 0xE2, ICC(1));
  m.Sort();
  const struct { uint8_t type; std::string data; } kWant[] = {
      {0xE0, "JFIF"}, {0xE1, exif}, {0xE1, xmp}, {0xE2, ICC(1)}, {0xE2, ICC(2)}};
  ASSERT_EQ(m.Count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(m.GetMarkerType(i), kWant[i].type) << i;
    EXPECT_EQ(Payload(m, i), kWant[i].data) << i;
  }
}

TEST(IEMarkerList, SortKeepsOrderOfEqualMarkers) {
  TIEMarkerList m;
  for (int i = 0; i < 40; ++i) Add(m, i % 3 ? 0xFE : 0xED, std::to_string(i));
  m.Sort();
  int lastCom = -1, lastApp13 = -1;
  for (int i = 0; i < m.Count(); ++i) {
    int v = std::stoi(Payload(m, i));
    int& last = m.GetMarkerType(i) == 0xFE ? lastCom : lastApp13;
    EXPECT_GT(v, last);
    last = v;
    if (i > 0) {
      EXPECT_LE(m.GetMarkerType(i - 1), m.GetMarkerType(i));
    }
  }
}

TEST(IEMarkerList, RefusesPayloadsAMarkerCannotCarry) {
  TIEMarkerList m;
  std::vector<uint8_t> big(70000, 7);
  EXPECT_EQ(m.AddMarker(0xE1, big.data(), 70000), -1);
  EXPECT_EQ(m.AddMarker(0xE1, big.data(), -1), -1);
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.AddMarker(0xE1, big.data(), TIEMarkerList::kMaxMarkerPayload), 0);
  EXPECT_FALSE(m.SetMarker(0, 0xE2, big.data(), 65536));
  EXPECT_EQ(m.GetMarkerType(0), 0xE1);
  EXPECT_EQ(m.GetMarkerLength(0), TIEMarkerList::kMaxMarkerPayload);
  EXPECT_TRUE(m.SetMarker(0, 0xFE, "abc", 3));
  EXPECT_EQ(Payload(m, 0), "abc");
  EXPECT_EQ(m.FindMarkerIndex(0xFE), 0);
  EXPECT_EQ(m.FindMarkerIndex(0xE1), -1);

  TIEMarkerList copy;
  copy.Assign(&m);
  copy.Assign(nullptr);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(Payload(copy, 0), "abc");
  copy.Delete(0);
  EXPECT_EQ(copy.Count(), 0);
}
