#include "ieimagingannot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ieutils.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Save(const TIEImagingAnnot& a) {
  void* p = nullptr;
  int32_t n = -1;
  a.SaveToBuffer(p, n);
  Bytes b(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + n);
  std::free(p);
  return b;
}
void SetType(TIEImagingObject& o, int32_t t) { IEWriteU32LE(o.Attributes, uint32_t(t)); }
int32_t FontHeight(TIEImagingObject& o) { return int32_t(IEReadU32LE(o.Attributes + TIEImagingObject::kFontHeightOffset)); }

// The text block's creation scale sits 12 bytes behind its "OiAnText" name.
void SetCreationScale(Bytes& b, int32_t scale) {
  for (size_t i = 0; i + 8 <= b.size(); ++i)
    if (std::memcmp(&b[i], "OiAnText", 8) == 0) IEWriteU32LE(&b[i + 12 + 8], uint32_t(scale));
}
}  // namespace

TEST(IEImagingAnnot, MarksRoundTrip) {
  TIEImagingAnnot a;
  Bytes none = Save(a);
  EXPECT_TRUE(none.empty());
  TIEImagingObject& line = a.AddObject();
  SetType(line, 3);
  line.Attributes[100] = 0x5A;
  line.Points = {10, 20, -30, 40};
  TIEImagingObject& text = a.AddObject();
  SetType(text, 7);
  IEWriteU32LE(text.Attributes + TIEImagingObject::kFontHeightOffset, uint32_t(-20));
  text.Text = "Approved";
  TIEImagingObject& image = a.AddObject();
  SetType(image, 1);
  image.DIB.assign(40 + 4, 0);
  IEWriteU32LE(image.DIB.data(), 40);
  image.DIB[43] = 0x77;
  a.AddObject();  // type 0: written, but not a mark when read back

  Bytes b = Save(a);
  TIEImagingAnnot back;
  back.LoadFromBuffer(b.data(), 0);
  EXPECT_EQ(back.Count(), 0);
  back.LoadFromBuffer(b.data(), int32_t(b.size()));
  EXPECT_FALSE(back.Changed());
  ASSERT_EQ(back.Count(), 3);
  EXPECT_EQ(back.Object(0).MarkType(), 3);
  EXPECT_EQ(back.Object(0).Points, line.Points);
  EXPECT_EQ(back.Object(0).Attributes[100], 0x5A);
  EXPECT_EQ(back.Object(1).Text, "Approved");
  EXPECT_EQ(FontHeight(back.Object(1)), -20);  // our own scale: the height stays
  EXPECT_EQ(back.Object(2).DIB.size(), 44u);
  EXPECT_EQ(back.Object(2).DIB[43], 0x77);
  EXPECT_EQ(IEReadU32LE(&back.Object(2).DIB[24]), 7874u);  // 200 dpi

  TIEImagingAnnot copy;
  copy.Assign(&back);
  EXPECT_EQ(Save(copy), Save(back));

  // Heights recorded at another creation scale are scaled once, truncating toward zero.
  const struct { int32_t scale; int32_t height; } kScales[] = {{15000, -10}, {3750, -40}, {0, -20}, {9999, -15}, {-5, -20}};
  for (const auto& c : kScales) {
    Bytes t = b;
    SetCreationScale(t, c.scale);
    TIEImagingAnnot s;
    s.LoadFromBuffer(t.data(), int32_t(t.size()));
    ASSERT_EQ(s.Count(), 3);
    EXPECT_EQ(FontHeight(s.Object(1)), c.height) << c.scale;
  }
}

TEST(IEImagingAnnot, HostileBlocksNeitherLoopNorOverread) {
  TIEImagingAnnot a;
  for (int t : {3, 7, 1}) {
    TIEImagingObject& o = a.AddObject();
    SetType(o, t);
    o.Points = {1, 2, 3, 4, 5, 6};
    o.Text = "note";
    o.DIB.assign(60, 9);
  }
  const Bytes base = Save(a);
  std::mt19937 rng(32932);
  for (int round = 0; round < 500; ++round) {
    Bytes b = base;
    if (round % 3 == 0) b.resize(rng() % b.size());
    for (int k = 0; k < 5 && !b.empty(); ++k) {
      size_t at = rng() % b.size();
      b[at] = round % 2 ? uint8_t(rng()) : uint8_t(0xFF);  // 0xFF bytes make negative sizes
    }
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() + 1]);
    if (!b.empty()) std::memcpy(exact.get(), b.data(), b.size());
    TIEImagingAnnot l;
    l.LoadFromBuffer(exact.get(), int32_t(b.size()));
    uint64_t kept = 0;
    for (int i = 0; i < l.Count(); ++i)
      kept += l.Object(i).Points.size() * 4 + l.Object(i).Text.size() + l.Object(i).DIB.size();
    EXPECT_LE(kept, b.size());
  }
}
