#include "iedicomtags.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {
// A value block as the reader allocates it: length + 1 bytes, the last a terminating zero.
void* Value(const char* text) {
  size_t n = std::strlen(text);
  void* p = std::malloc(n + 1);
  std::memcpy(p, text, n + 1);
  return p;
}
}  // namespace

TEST(IEDICOMTags, AddLookupAndValueRepresentation) {
  TIEDICOMTags tags;
  struct Case { uint16_t g, e; const char* vr; char vr0, vr1; } const kCases[] = {
      {0x0010, 0x0010, "PN", 'P', 'N'}, {0x0028, 0x0010, "", 0, 0}, {0x7FE0, 0x0010, "OBX", 0, 0}, {0x0008, 0x0060, "O", 0, 0}};
  for (const Case& c : kCases) tags.AddTag(c.g, c.e, c.vr, nullptr, 0);
  for (const Case& c : kCases) {
    int i = tags.IndexOf(c.g, c.e);
    ASSERT_GE(i, 0);
    EXPECT_EQ(tags.GetTag(i).VR[0], c.vr0);
    EXPECT_EQ(tags.GetTag(i).VR[1], c.vr1);
  }
  EXPECT_EQ(tags.IndexOf(0x0010, 0x0020), -1);
  EXPECT_EQ(tags.AddTag(0x0010, 0x0010, "PN", Value("Doe^John"), 8), 4);
  EXPECT_EQ(tags.IndexOf(0x0010, 0x0010), 0);  // the first such element
  EXPECT_STREQ(static_cast<const char*>(tags.GetTag(4).Data), "Doe^John");
  EXPECT_EQ(tags.Count(), 5);
  tags.Clear();
  EXPECT_EQ(tags.Count(), 0);
}

TEST(IEDICOMTags, NegativeLengthAndAssign) {
  TIEDICOMTags tags;
  tags.AddTag(0x0002, 0x0010, "UI", Value("junk"), -1);  // the block is released, nothing kept
  EXPECT_EQ(tags.GetTag(0).DataLen, 0);
  EXPECT_EQ(tags.GetTag(0).Data, nullptr);
  tags.AddTag(0x0028, 0x0030, "DS", Value("0\\5\x01"), 4);
  TIEDICOMTags copy;
  copy.AddTag(1, 1, "XX", Value("old"), 3);
  copy.Assign(tags);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.GetTag(0).Data, nullptr);
  const TIEDICOMTag& t = copy.GetTag(1);
  EXPECT_EQ(t.DataLen, 4);
  EXPECT_NE(t.Data, tags.GetTag(1).Data);  // its own block
  EXPECT_EQ(0, std::memcmp(t.Data, "0\\5\x01\0", 5));  // value and terminating zero
  EXPECT_EQ(t.VR[0], 'D');
  EXPECT_EQ(t.Group, 0x0028);
  EXPECT_EQ(t.Element, 0x0030);
}
