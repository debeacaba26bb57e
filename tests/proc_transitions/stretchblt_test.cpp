// The halftone stretch of the transitions against the pixel means it stands for, and its hand-over to
// the platform where it does not apply.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "iestretchblt.h"
#include "uibitmap.h"

using namespace ui;

namespace {

// Pixel (x, y) of the picture: blue 3x + 7y, green 5x, red 11y (mod 256).
uint8_t Sample(int x, int y, int c) {
  const int v[3] = {3 * x + 7 * y, 5 * x, 11 * y};
  return uint8_t(v[c] & 255);
}

std::unique_ptr<TBitmap> Picture(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) row[3 * x + c] = Sample(x, y, c);
  }
  return b;
}

std::unique_ptr<TBitmap> Blank(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) std::memset(b->ScanLine(y), 0x55, size_t(3 * w));
  return b;
}

uint8_t At(TBitmap* b, int x, int y, int c) {
  GdiFlush();
  return static_cast<uint8_t*>(b->ScanLine(y))[3 * x + c];
}

}  // namespace

TEST(HalftoneStretch, ShrinkingAveragesEachBoxAndEnlargingTakesTheCentrePixel) {
  auto src = Picture(40, 30);
  // halving: the rounded mean of each 2 x 2 block
  auto half = Blank(20, 15);
  IEStretchBltHalftone(half->Canvas()->GetHandle(), 0, 0, 20, 15, src->Canvas()->GetHandle(), 0, 0, 40, 30);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x)
      for (int c = 0; c < 3; ++c) {
        const int sum = Sample(2 * x, 2 * y, c) + Sample(2 * x + 1, 2 * y, c) + Sample(2 * x, 2 * y + 1, c) +
                        Sample(2 * x + 1, 2 * y + 1, c);
        ASSERT_EQ(At(half.get(), x, y, c), (sum + 2) / 4) << x << "," << y << " channel " << c;
      }
  // the whole picture into one pixel: the rounded mean of all 1200
  auto one = Blank(1, 1);
  IEStretchBltHalftone(one->Canvas()->GetHandle(), 0, 0, 1, 1, src->Canvas()->GetHandle(), 0, 0, 40, 30);
  for (int c = 0; c < 3; ++c) {
    int sum = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) sum += Sample(x, y, c);
    EXPECT_EQ(At(one.get(), 0, 0, c), (sum + 600) / 1200) << c;
  }
  // thirds across, whole rows: each pixel the mean of three neighbours of its row
  auto thirds = Blank(13, 30);
  IEStretchBltHalftone(thirds->Canvas()->GetHandle(), 0, 0, 13, 30, src->Canvas()->GetHandle(), 0, 0, 39, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 13; ++x) {
      const int sum = Sample(3 * x, y, 0) + Sample(3 * x + 1, y, 0) + Sample(3 * x + 2, y, 0);
      ASSERT_EQ(At(thirds.get(), x, y, 0), (sum + 1) / 3) << x << "," << y;
    }
  // tripling a part: every destination pixel shows the source pixel under its centre
  auto big = Blank(30, 30);
  IEStretchBltHalftone(big->Canvas()->GetHandle(), 0, 0, 30, 30, src->Canvas()->GetHandle(), 5, 4, 10, 10);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(At(big.get(), x, y, 0), Sample(5 + x / 3, 4 + y / 3, 0));
  // the same size copies exactly
  auto same = Blank(40, 30);
  IEStretchBltHalftone(same->Canvas()->GetHandle(), 0, 0, 40, 30, src->Canvas()->GetHandle(), 0, 0, 40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(At(same.get(), x, y, 2), Sample(x, y, 2));
}

TEST(HalftoneStretch, OnlyTheVisiblePartOfAnOversizedDestinationIsDrawn) {
  auto src = Picture(40, 30);
  auto dst = Blank(40, 30);
  // twice the size, starting 20 pixels left of and 10 above the bitmap
  IEStretchBltHalftone(dst->Canvas()->GetHandle(), -20, -10, 80, 60, src->Canvas()->GetHandle(), 0, 0, 40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(At(dst.get(), x, y, 0), Sample((x + 20) / 2, (y + 10) / 2, 0));
}

TEST(HalftoneStretch, APictureSqueezedOntoItselfReadsItsOwnFormerPixels) {
  auto pic = Picture(40, 30);
  HDC dc = pic->Canvas()->GetHandle();
  IEStretchBltHalftone(dc, 0, 0, 20, 30, dc, 0, 0, 40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(At(pic.get(), x, y, 1), (Sample(2 * x, y, 1) + Sample(2 * x + 1, y, 1) + 1) / 2);
  EXPECT_EQ(At(pic.get(), 30, 5, 1), Sample(30, 5, 1));  // the rest stays
}

// Drawn onto itself, a picture must come out exactly as when the same stretch reads a separate copy:
// whichever way the rows overlap, and where the overlap has no safe order of rows.
TEST(HalftoneStretch, StretchingOntoItselfEqualsStretchingFromACopy) {
  struct Case {
    const char* name;
    RECT dst, src;  // (x, y, width, height)
  };
  const Case kCases[] = {
      {"squeeze left", {0, 0, 27, 30}, {0, 0, 40, 30}},
      {"squeeze right", {13, 0, 27, 30}, {0, 0, 40, 30}},
      {"squeeze up", {0, 0, 40, 19}, {0, 0, 40, 30}},
      {"squeeze down", {0, 11, 40, 19}, {0, 0, 40, 30}},
      {"squeeze to the bottom right", {9, 7, 31, 23}, {0, 0, 40, 30}},
      {"moved down unscaled", {0, 10, 40, 20}, {0, 0, 40, 20}},
      {"moved up, partly outside", {-6, -4, 46, 26}, {0, 4, 40, 26}},
      {"a part enlarged over itself", {0, 0, 40, 30}, {10, 8, 20, 14}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto self = Picture(40, 30), ref = Picture(40, 30), source = Picture(40, 30);
    HDC dc = self->Canvas()->GetHandle();
    IEStretchBltHalftone(dc, c.dst.left, c.dst.top, c.dst.right, c.dst.bottom, dc, c.src.left, c.src.top,
                         c.src.right, c.src.bottom);
    IEStretchBltHalftone(ref->Canvas()->GetHandle(), c.dst.left, c.dst.top, c.dst.right, c.dst.bottom,
                         source->Canvas()->GetHandle(), c.src.left, c.src.top, c.src.right, c.src.bottom);
    int changed = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          ASSERT_EQ(At(self.get(), x, y, ch), At(ref.get(), x, y, ch)) << x << "," << y << " channel " << ch;
          changed += At(ref.get(), x, y, ch) != Sample(x, y, ch);
        }
    EXPECT_GT(changed, 0);  // the stretch did draw
  }
}

TEST(HalftoneStretch, AClipRegionOrAMirrorGoesToThePlatform) {
  auto src = Picture(40, 30);
  auto ours = Blank(40, 30), platform = Blank(40, 30);
  HRGN clip = CreateRectRgn(5, 5, 25, 20);
  for (TBitmap* b : {ours.get(), platform.get()}) SelectClipRgn(b->Canvas()->GetHandle(), clip);
  IEStretchBltHalftone(ours->Canvas()->GetHandle(), 0, 0, 40, 30, src->Canvas()->GetHandle(), 0, 0, 20, 15);
  HDC p = platform->Canvas()->GetHandle();
  SetStretchBltMode(p, HALFTONE);
  SetBrushOrgEx(p, 0, 0, nullptr);
  StretchBlt(p, 0, 0, 40, 30, src->Canvas()->GetHandle(), 0, 0, 20, 15, SRCCOPY);
  DeleteObject(clip);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(At(ours.get(), x, y, 0), At(platform.get(), x, y, 0)) << x << "," << y;
  EXPECT_EQ(At(ours.get(), 2, 2, 0), 0x55);  // outside the clip region: untouched

  auto mirrored = Blank(40, 30);
  IEStretchBltHalftone(mirrored->Canvas()->GetHandle(), 39, 0, -40, 30, src->Canvas()->GetHandle(), 0, 0, 40, 30);
  EXPECT_EQ(At(mirrored.get(), 0, 3, 0), Sample(39, 3, 0));
}
