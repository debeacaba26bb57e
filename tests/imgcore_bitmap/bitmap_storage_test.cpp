// TIEBitmap storage: row lengths, the memory threshold, row addressing per location, palette and the
// alpha channel.
#include <gtest/gtest.h>

#include <cstring>

#include "iebitmap.h"
#include "ieutils.h"
#include "vodevovur.h"

namespace {

TEST(BitmapStorage, AllocateSetsRowLengthAndRefusesBadSizes) {
  struct Case { int w, h; TIEPixelFormat f; bool ok; int rowLength; int bits; };
  const Case kCases[] = {
      {100, 50, ie24RGB, true, 300, 24}, {3, 1, ie1g, true, 4, 1}, {5, 2, ie16g, true, 12, 16},
      {3, 3, ieRGB48, true, 20, 48},     {10, 10, ieNoFormat, false, 0, 0}, {0, 10, ie8g, false, 0, 0},
      {10, -1, ie8g, false, 0, 0},
  };
  for (const Case& c : kCases) {
    TIEBitmap b;
    EXPECT_EQ(b.Allocate(c.w, c.h, c.f), c.ok) << c.w << "x" << c.h << " " << int(c.f);
    EXPECT_EQ(b.GetRowLength(), c.rowLength);
    if (c.ok) {
      EXPECT_EQ(b.GetBitCount(), c.bits);
    } else {
      EXPECT_EQ(b.GetImageWidth(), 0);
      EXPECT_EQ(b.GetImageHeight(), 0);
    }
  }
}

TEST(BitmapStorage, ThresholdChoosesMemoryOrTemporaryFile) {
  TIEBitmap b;
  b.SetMemoryThreshold(3000);  // 100 x 10 x 24 bits = exactly 3000 bytes
  ASSERT_TRUE(b.Allocate(100, 10, ie24RGB));
  EXPECT_EQ(b.GetLocation(), ieMemory);
  ASSERT_TRUE(b.Allocate(100, 11, ie24RGB));
  EXPECT_EQ(b.GetLocation(), ieTempFile);
  b.SetMemoryThreshold(1 << 20);
  ASSERT_TRUE(b.Allocate(100, 12, ie24RGB));  // a temporary-file request below the threshold
  EXPECT_EQ(b.GetLocation(), ieMemory);
}

TEST(BitmapStorage, TemporaryFileRowsAndAcquiredRows) {
  TIEBitmap b;
  b.SetMemoryThreshold(0);
  ASSERT_TRUE(b.Allocate(8, 4, ie8g));
  ASSERT_EQ(b.GetLocation(), ieTempFile);
  b.Fill(0);
  uint8_t* r0 = b.GetRowAddress(0);
  r0[0] = 11;
  b.GetRowAddress(1)[0] = 22;  // the view of row 0 is written back here
  uint8_t* r2 = b.AcquireRow(2);
  uint8_t* r3 = b.AcquireRow(3);
  r2[0] = 33;
  r3[0] = 44;
  b.ReleaseRow(3);
  b.ReleaseRow(2);
  b.ReleaseRow(7);  // never acquired: nothing happens
  EXPECT_EQ(b.GetByte(0, 0), 11);
  EXPECT_EQ(b.GetByte(0, 1), 22);
  EXPECT_EQ(b.GetByte(0, 2), 33);
  EXPECT_EQ(b.GetByte(0, 3), 44);
}

TEST(BitmapStorage, MemoryRowsAreStoredBottomUp) {
  TIEBitmap b(4, 3, ie8g);
  ASSERT_EQ(b.GetLocation(), ieMemory);
  EXPECT_EQ(b.GetRowAddress(0) - b.GetRowAddress(2), 2 * b.GetRowLength());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.GetRowAddress(2)) % 64, 0u);
}

TEST(BitmapStorage, PlatformBitmapHoldsSixFormats) {
  struct Case { TIEPixelFormat f; bool ok; TIEPixelFormat result; };
  const Case kCases[] = {{ie1g, true, ie1g},     {ie8g, true, ie8g},       {ie16g, true, ie8g},
                         {ie24RGB, true, ie24RGB}, {ie32RGB, true, ie32RGB}, {ie8p, true, ie8p},
                         {ieCMYK, false, ieCMYK},  {ie32f, false, ie32f},    {ieCIELab, false, ieCIELab}};
  for (const Case& c : kCases) {
    TIEBitmap b;
    b.SetLocation(ieTBitmap);
    EXPECT_EQ(b.Allocate(5, 3, c.f), c.ok) << int(c.f);
    if (!c.ok) {
      EXPECT_EQ(b.GetImageWidth(), 0);
      continue;
    }
    if (c.f == ie8p) b.SetPaletteEntry(1, TIERGB{1, 2, 3});  // a non-grey table stays a palette image
    EXPECT_EQ(b.GetPixelFormat(), c.result) << int(c.f);
    EXPECT_EQ(b.GetImageWidth(), 5);
  }
}

TEST(BitmapStorage, NewPaletteIsClearedAndOutOfRangeIndexesIgnored) {
  TIEBitmap b(2, 2, ie8p);
  ASSERT_EQ(b.GetPaletteCount(), 256);
  for (int i = 0; i < 256; ++i) {
    TIERGB c = b.GetPaletteEntry(i);
    ASSERT_EQ(c.r | c.g | c.b, 0) << i;
  }
  b.SetPaletteEntry(256, TIERGB{9, 9, 9});
  b.SetPaletteEntry(-1, TIERGB{9, 9, 9});
  TIERGB c = b.GetPaletteEntry(300);
  EXPECT_EQ(c.r | c.g | c.b, 0);
  TIEBitmap none(2, 2, ie24RGB);
  none.PaletteColorTarget = 16;
  none.CopyPaletteTo(&b);
  EXPECT_EQ(b.GetPaletteCount(), 0);
  EXPECT_EQ(b.PaletteColorTarget, 256);
}

TEST(BitmapStorage, AttachedAlphaChannels) {
  TIEBitmap b(3, 2, ie24RGB);
  TIEBitmap* first = b.GetAlphaChannel();
  auto* other = new TIEBitmap(3, 2, ie8g);
  other->Fill(9);
  TIEBitmap* previous = b.AttachAlphaChannel(other);
  EXPECT_EQ(previous, first);  // handed back to the caller
  EXPECT_TRUE(other->IsAlphaChannel());
  EXPECT_EQ(b.GetAlphaAt(2, 1), 9);
  delete b.AttachAlphaChannel(previous);
  EXPECT_EQ(b.GetAlphaAt(2, 1), 255);
  delete b.AttachAlphaChannel(new TIEBitmap(1, 1, ie8g));  // another size: dropped, never read past
  b.DiscardAlphaChannel(true, 0);
  EXPECT_FALSE(b.AlphaPresent());
}

TEST(BitmapStorage, AlphaChannelIsCreatedOpaque) {
  TIEBitmap b(3, 2, ie24RGB);
  EXPECT_FALSE(b.AlphaPresent());
  TIEBitmap* a = b.GetAlphaChannel();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetPixelFormat(), ie8g);
  EXPECT_EQ(a->GetImageWidth(), 3);
  EXPECT_TRUE(a->IsAll255);
  EXPECT_EQ(a->GetByte(2, 1), 255);
  EXPECT_EQ(a->GetAlphaChannel(), nullptr);
  b.SetAlphaAt(0, 0, 128);
  EXPECT_FALSE(a->IsAll255);
}

// Composing over the background: alpha 255 keeps the colour exactly, 0 gives the background.
TEST(BitmapStorage, DiscardAlphaChannelBlendsExactly) {
  struct Case { uint8_t pixel, alpha; TColor background; uint8_t expected; };
  const Case kCases[] = {
      {255, 255, 0x000000, 255}, {0, 255, 0xFFFFFF, 0}, {0, 0, 0xFFFFFF, 255},
      {0, 128, 0xFFFFFF, 127},   {200, 0, 0x000000, 0}, {100, 51, 0x000000, 20},
  };
  for (const Case& c : kCases) {
    TIEBitmap b(1, 1, ie24RGB);
    b.SetRGB(0, 0, TIERGB{c.pixel, c.pixel, c.pixel});
    b.SetAlphaAt(0, 0, c.alpha);
    b.DiscardAlphaChannel(true, c.background);
    EXPECT_FALSE(b.AlphaPresent());
    EXPECT_EQ(b.GetRGB(0, 0).g, c.expected) << int(c.pixel) << " a=" << int(c.alpha);
  }
}

}  // namespace

namespace {

// New storage holds zeros at every location (no stale memory reaches a file through untouched rows),
// and a platform bitmap keeps 32-bit rows whatever alignment its data came with.
TEST(BitmapStorage, NewStorageIsClearedEverywhere) {
  for (TIELocation where : {ieMemory, ieTempFile, ieTBitmap}) {
    for (int round = 0; round < 2; ++round) {  // the second round reuses freed heap memory
      TIEBitmap b;
      b.SetMemoryThreshold(where == ieTempFile ? 0 : (1 << 24));
      b.SetLocation(where);
      ASSERT_TRUE(b.Allocate(33, 7, ie24RGB));
      EXPECT_TRUE(b.IsAllZero()) << int(where);
      b.Fill(0xFFFFFF);
    }
  }
  TIEBitmap src(3, 2, ie24RGB);
  src.SetRowAlignment(8);
  src.SetRGB(2, 1, TIERGB{7, 8, 9});
  TIEBitmap pb;
  pb.SetLocation(ieTBitmap);
  pb.Assign(&src);
  EXPECT_EQ(pb.GetRowLength(), 12);
  EXPECT_EQ(pb.GetRGB(2, 1).r, 9);
}

}  // namespace

namespace {

// A platform bitmap attached by the caller: its pixels are the image's, changes made to it are seen
// by the next query, and it outlives the pixel buffer.
TEST(BitmapStorage, AttachedPlatformBitmap) {
  TIEDIBSectionBitmap pb;
  ASSERT_TRUE(pb.SetPixelFormat(iepf24bit));
  ASSERT_TRUE(pb.SetSize(4, 3));
  pb.ScanLine(2)[3] = 77;  // pixel (1, 2), blue
  {
    TIEBitmap b;
    b.AttachTBitmap(&pb, true);
    EXPECT_EQ(b.GetLocation(), ieTBitmap);
    EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
    EXPECT_EQ(b.GetRGB(1, 2).b, 77);
    b.SetRGB(0, 0, TIERGB{1, 2, 3});
    ASSERT_TRUE(pb.SetSize(6, 3));  // the caller resizes it: the next query follows
    EXPECT_EQ(b.GetImageWidth(), 6);
    EXPECT_EQ(b.GetRowLength(), 20);
    EXPECT_EQ(b.GetRGB(0, 0).r, 3);
  }
  EXPECT_EQ(pb.GetWidth(), 6);
  EXPECT_EQ(pb.ScanLine(0)[2], 3);
}

}  // namespace

// When no single block holds the image, its rows go into segments of global memory; when segments are
// not allowed either, into a temporary file; with neither fall-back the allocation fails.
TEST(Storage, RowSegmentsThenTemporaryFileWhenNoBlockFits) {
  struct Restore {
    uint64_t limit = IEAutoAllocLimit;
    bool segments = IERowSegmentFallback, temp = IETempFileFallback;
    ~Restore() {
      IEAutoAllocLimit = limit;
      IERowSegmentFallback = segments;
      IETempFileFallback = temp;
    }
  } restore;
  IEAutoAllocLimit = 1 << 20;  // no block above 1 MB
  TIEBitmap b;
  b.SetMemoryThreshold(int64_t(1) << 40);
  b.Allocate(1000, 1001, ie24RGB);  // 3 MB
  ASSERT_EQ(b.GetLocation(), ieMemory);
  EXPECT_EQ(b.GetSegmentCount(), 4);
  EXPECT_EQ(b.GetRowsPerSegment(), 251);  // ceil(1001 / 4)
  for (int y = 0; y < 1001; ++y) std::memset(b.GetRowAddress(y), y & 0xFF, 3000);
  for (int y : {0, 250, 251, 502, 753, 1000}) {
    EXPECT_EQ(b.GetRowAddress(y)[0], uint8_t(y & 0xFF)) << y;
    EXPECT_EQ(b.GetRowAddress(y)[2999], uint8_t(y & 0xFF)) << y;
  }
  EXPECT_NE(b.GetRowAddress(250) + 3000, b.GetRowAddress(251)) << "the segments are separate blocks";
  TIEBitmap copy;
  copy.Assign(&b);
  EXPECT_EQ(copy.GetRowAddress(753)[1500], uint8_t(753 & 0xFF));

  IERowSegmentFallback = false;
  TIEBitmap f;
  f.SetMemoryThreshold(int64_t(1) << 40);
  f.Allocate(1000, 1001, ie24RGB);
  EXPECT_EQ(f.GetLocation(), ieTempFile);
  EXPECT_EQ(f.GetSegmentCount(), 0);

  IETempFileFallback = false;
  TIEBitmap none;
  none.SetMemoryThreshold(int64_t(1) << 40);
  EXPECT_FALSE(none.Allocate(1000, 1001, ie24RGB));
}
