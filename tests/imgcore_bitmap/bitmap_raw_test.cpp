// The raw bitmap stream: round trips of every pixel format with palette and alpha, the exact layout,
// and refusal of truncated and corrupted data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "iebitmap.h"
#include "iestreams.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Pattern(TIEBitmap& b) {
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int i = 0; i < b.GetRowLength(); ++i) r[i] = uint8_t(y * 31 + i * 7);
  }
}

// The rows that Pattern writes into b.
Bytes PatternOf(TIEBitmap& b) {
  Bytes out;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int i = 0; i < b.GetRowLength(); ++i) out.push_back(uint8_t(y * 31 + i * 7));
  return out;
}

Bytes RowsOf(TIEBitmap& b) {
  Bytes out;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    const uint8_t* r = b.GetRowAddress(y);
    out.insert(out.end(), r, r + b.GetRowLength());
  }
  return out;
}

TEST(RawStream, LayoutOfASmallImage) {
  TIEBitmap b(2, 2, ie24RGB);
  Bytes out;
  b.WriteRawImageStream(out);
  ASSERT_EQ(out.size(), 92u);  // 75 header bytes + 2 rows of 8 + the alpha flag
  EXPECT_EQ(std::memcmp(out.data(), "TIEBITMAPRAW", 12), 0);
  EXPECT_EQ(out[12 + 4 + 4 + 8], ie24RGB);
  EXPECT_EQ(out[91], 0);
}

class RawRoundTrip : public ::testing::TestWithParam<TIELocation> {};

TEST_P(RawRoundTrip, EveryFormatWithPaletteAndAlpha) {
  for (int f = ie1g; f <= ie32RGB; ++f) {
    TIEBitmap b;
    b.SetMemoryThreshold(GetParam() == ieTempFile ? 0 : (1 << 24));
    b.SetLocation(GetParam());
    ASSERT_TRUE(b.Allocate(5, 3, TIEPixelFormat(f)));
    Pattern(b);
    if (f == ie8p)
      for (int i = 0; i < 256; ++i) b.SetPaletteEntry(i, TIERGB{uint8_t(i), uint8_t(255 - i), 9});
    b.SetAlphaAt(4, 2, 77);
    b.InputRangeHigh = 4000.5;
    b.BrightnessOffsets[3] = -3;
    b.Contrast = 12;
    b.PaletteColorTarget = 17;
    Bytes out;
    b.WriteRawImageStream(out);

    TIEBitmap r;
    r.SetMemoryThreshold(GetParam() == ieTempFile ? 0 : (1 << 24));
    r.SetLocation(GetParam());
    size_t pos = 0;
    ASSERT_TRUE(r.ReadRawImageStream(out.data(), out.size(), &pos)) << f;
    EXPECT_EQ(pos, out.size());
    EXPECT_EQ(r.GetPixelFormat(), f);
    EXPECT_EQ(RowsOf(r), RowsOf(b)) << f;
    EXPECT_EQ(r.GetPaletteCount(), b.GetPaletteCount());
    if (f == ie8p) {
      EXPECT_EQ(r.GetPaletteEntry(200).g, 55);
    }
    ASSERT_TRUE(r.AlphaPresent());
    EXPECT_EQ(r.GetAlphaAt(4, 2), 77);
    EXPECT_EQ(r.GetAlphaAt(0, 0), 255);
    EXPECT_EQ(r.InputRangeHigh, 4000.5);
    EXPECT_EQ(r.BrightnessOffsets[3], -3);
    EXPECT_EQ(r.Contrast, 12);
    EXPECT_EQ(r.PaletteColorTarget, 17);
  }
}

INSTANTIATE_TEST_SUITE_P(Locations, RawRoundTrip, ::testing::Values(ieMemory, ieTempFile));

// Takes the first `room` bytes written, then refuses, so the raw writer raises part way through.
class TShortStream : public TIEMemoryStream {
 public:
  explicit TShortStream(int64_t room) : Room(room) {}
  int32_t Write(const void* buffer, int32_t count) override {
    return GetPosition() + count > Room ? 0 : TIEMemoryStream::Write(buffer, count);
  }

 private:
  int64_t Room;
};

class RawWriteFailure : public ::testing::TestWithParam<TIELocation> {};

// A write that raises in the image rows or in the alpha rows leaves the row access of the image and
// of its alpha channel as it was: one left read-only would drop the rows written to it next.
TEST_P(RawWriteFailure, LeavesTheRowAccessAsItWas) {
  TIEBitmap b;
  b.SetMemoryThreshold(GetParam() == ieTempFile ? 0 : (1 << 24));
  b.SetLocation(GetParam());
  ASSERT_TRUE(b.Allocate(8, 4, ie24RGB));
  TIEBitmap* alpha = b.GetAlphaChannel();
  Bytes whole;
  b.WriteRawImageStream(whole);
  // 75 header bytes: the second image row fails; three bytes short: the last alpha row fails
  for (int64_t room : {int64_t(75 + b.GetRowLength()), int64_t(whole.size()) - 3}) {
    TShortStream s(room);
    EXPECT_THROW(b.WriteRawImageStream(s), EWriteError) << room;
    EXPECT_EQ(b.RowAccess, iraRead | iraWrite) << room;
    EXPECT_EQ(alpha->RowAccess, iraRead | iraWrite) << room;
    Pattern(b);
    Pattern(*alpha);
    EXPECT_EQ(RowsOf(b), PatternOf(b)) << room;
    EXPECT_EQ(RowsOf(*alpha), PatternOf(*alpha)) << room;
  }
}

INSTANTIATE_TEST_SUITE_P(Locations, RawWriteFailure, ::testing::Values(ieMemory, ieTempFile));

TEST(RawStream, StreamAndBlockFormsAgree) {
  TIEBitmap b(3, 2, ie8p);
  Pattern(b);
  b.SetPaletteEntry(2, TIERGB{4, 5, 6});
  b.SetAlphaAt(0, 1, 3);
  Bytes block;
  b.WriteRawImageStream(block);
  TIEMemoryStream ms;
  ms.WriteBuffer("xy", 2);  // the data starts at the stream's position
  b.WriteRawImageStream(ms);
  ms.WriteBuffer("z", 1);
  ASSERT_EQ(ms.GetSize(), int64_t(block.size()) + 3);
  EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(ms.Memory()) + 2, block.data(), block.size()), 0);
  ms.SetPosition(2);
  TIEBitmap r;
  ASSERT_TRUE(r.ReadRawImageStream(ms));
  EXPECT_EQ(ms.GetPosition(), int64_t(block.size()) + 2);
  EXPECT_EQ(RowsOf(r), RowsOf(b));
  EXPECT_EQ(r.GetAlphaAt(0, 1), 3);
  EXPECT_EQ(r.GetPaletteEntry(2).r, 6);
  ms.SetSize(40);  // truncated inside the header
  ms.SetPosition(2);
  EXPECT_FALSE(r.ReadRawImageStream(ms));
}

TEST(RawStream, DataWithoutAlphaRemovesIt) {
  TIEBitmap b(2, 2, ie8g);
  Bytes out;
  b.WriteRawImageStream(out);
  TIEBitmap r(4, 4, ie24RGB);
  r.GetAlphaChannel();
  ASSERT_TRUE(r.ReadRawImageStream(out.data(), out.size(), nullptr));
  EXPECT_FALSE(r.AlphaPresent());
}

TEST(RawStream, RefusesBadHeaders) {
  TIEBitmap b(3, 2, ie8g);
  Bytes good;
  b.WriteRawImageStream(good);
  auto patched = [&](size_t at, std::initializer_list<uint8_t> v) {
    Bytes d = good;
    std::copy(v.begin(), v.end(), d.begin() + at);
    return d;
  };
  // offsets of a bitmap without palette: version 12, count 16, width 20, height 24, format 28,
  // row alignment 71
  struct Case { const char* name; Bytes data; bool ok; };
  const Case kCases[] = {
      {"good", good, true},
      {"version 7 reads as 0", patched(12, {7, 0, 0, 0}), true},
      {"magic", patched(0, {'X'}), false},
      {"version -1", patched(12, {0xFF, 0xFF, 0xFF, 0xFF}), false},
      {"palette count negative", patched(16, {0xFF, 0xFF, 0xFF, 0xFF}), false},
      {"palette count huge", patched(16, {0, 0, 0, 0x10}), false},
      {"width huge", patched(20, {0xFF, 0xFF, 0xFF, 0x7F}), false},
      {"height huge", patched(24, {0xFF, 0xFF, 0xFF, 0x7F}), false},
      {"negative width", patched(20, {0xFE, 0xFF, 0xFF, 0xFF}), false},
      {"format 11", patched(28, {11}), false},
      {"alignment 0", patched(71, {0, 0, 0, 0}), false},
      {"alignment 12", patched(71, {12, 0, 0, 0}), false},
      {"alpha flag 2", patched(good.size() - 1, {2}), false},
  };
  for (const Case& c : kCases) {
    TIEBitmap r(1, 1, ie24RGB);
    r.SetRGB(0, 0, TIERGB{1, 2, 3});
    EXPECT_EQ(r.ReadRawImageStream(c.data.data(), c.data.size(), nullptr), c.ok) << c.name;
    if (!c.ok) {
      EXPECT_EQ(r.GetRGB(0, 0).r, 3) << c.name;  // left as it was
    }
  }
}

// Every truncation and a few hundred random corruptions: refused or read, never a crash or an
// allocation beyond what the data holds.
TEST(RawStream, MutatedStreamsAreRefusedCleanly) {
  TIEBitmap b(7, 5, ie8p);
  Pattern(b);
  b.SetAlphaAt(1, 1, 5);
  Bytes good;
  b.WriteRawImageStream(good);
  for (size_t n = 0; n < good.size(); ++n) {
    TIEBitmap r;
    ASSERT_FALSE(r.ReadRawImageStream(good.data(), n, nullptr)) << "truncated at " << n;
  }
  std::mt19937 rng(1234);
  int accepted = 0;
  for (int i = 0; i < 400; ++i) {
    Bytes d = good;
    int flips = 1 + int(rng() % 4);
    for (int k = 0; k < flips; ++k) {
      // header bytes are hit far more often than pixels, where any value is valid
      size_t at = (rng() % 2) ? rng() % 1100 % d.size() : rng() % 80;
      d[at] = uint8_t(rng());
    }
    TIEBitmap r;
    if (r.ReadRawImageStream(d.data(), d.size(), nullptr)) {
      ++accepted;
      EXPECT_LE(uint64_t(r.GetRowLength()) * r.GetImageHeight(), d.size());
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
