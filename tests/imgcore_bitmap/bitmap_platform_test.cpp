// The ieTBitmap location over the user-interface library's bitmap, drawing into an image through its
// canvas, and the copies between images and selection masks.
#include <gtest/gtest.h>

#include "iebitmap.h"
#include "iemask.h"
#include "uibitmap.h"

namespace {

ui::TBitmap* TBitmapOf(TIEBitmap& b) {
  auto* adapter = dynamic_cast<TIETBitmapAdapter*>(b.GetTBitmap());
  return adapter ? adapter->GetBitmap() : nullptr;
}

// A palette image at ieTBitmap: the TBitmap's own colour table (what it draws and saves with) follows
// the palette, and indices survive a resize.
TEST(PlatformLocation, PaletteReachesTheTBitmapAndIndicesSurviveResize) {
  TIEBitmap b;
  b.SetLocation(ieTBitmap);
  ASSERT_TRUE(b.Allocate(5, 3, ie8p));
  ui::TBitmap* tb = TBitmapOf(b);
  ASSERT_NE(tb, nullptr);
  EXPECT_EQ(tb->GetPixelFormat(), ui::pf8bit);
  b.SetPaletteEntry(0, TIERGB{0, 0, 0});
  b.SetPaletteEntry(7, TIERGB{30, 20, 10});  // b, g, r
  b.SetByte(4, 2, 7);
  const BITMAPINFO* info = tb->Info();
  EXPECT_EQ(info->bmiColors[7].rgbRed, 10);
  EXPECT_EQ(info->bmiColors[7].rgbBlue, 30);
  EXPECT_EQ(tb->Canvas()->GetPixel(4, 2), RGB(10, 20, 30));
  EXPECT_EQ(tb->Canvas()->GetPixel(0, 0), RGB(0, 0, 0));

  b.SetImageWidth(9);
  ASSERT_EQ(b.GetImageWidth(), 9);
  EXPECT_EQ(b.GetByte(4, 2), 7);
  EXPECT_EQ(b.GetByte(8, 2), 0);  // new columns cleared
  EXPECT_EQ(b.GetPaletteEntry(7).r, 10);
  EXPECT_EQ(TBitmapOf(b)->Canvas()->GetPixel(4, 2), RGB(10, 20, 30));
}

// Grey images get the grey table in the TBitmap and read back as ie8g.
TEST(PlatformLocation, GreyImageKeepsItsTable) {
  TIEBitmap b;
  b.SetLocation(ieTBitmap);
  ASSERT_TRUE(b.Allocate(4, 4, ie16g));  // held as 8-bit grey
  EXPECT_EQ(b.GetPixelFormat(), ie8g);
  b.SetByte(1, 1, 200);
  EXPECT_EQ(TBitmapOf(b)->Canvas()->GetPixel(1, 1), RGB(200, 200, 200));
  EXPECT_EQ(b.GetPixelFormat(), ie8g);
}

TEST(PlatformLocation, CanvasDrawsIntoThePixels) {
  for (TIEPixelFormat f : {ie24RGB, ie32RGB}) {
    TIEBitmap b(6, 5, f);
    uint8_t* px = b.GetRowAddress(4) + 5 * (f == ie32RGB ? 4 : 3);  // pixel (5, 4): b, g, r
    px[0] = 1;
    px[1] = 2;
    px[2] = 3;
    ASSERT_EQ(b.GetLocation(), ieMemory);
    ui::TCanvas* c = b.GetCanvas();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(b.GetLocation(), ieTBitmap);
    EXPECT_EQ(b.GetPixelRGB(5, 4).r, 3) << "moved " << int(f);
    EXPECT_EQ(c->GetPixel(5, 4), RGB(3, 2, 1)) << int(f);
    c->Brush()->SetColor(ui::clRed);
    c->FillRect(RECT{1, 1, 3, 4});  // columns 1-2, rows 1-3
    EXPECT_EQ(b.GetPixelRGB(1, 1).r, 255) << int(f);
    EXPECT_EQ(b.GetPixelRGB(2, 3).b, 0);
    EXPECT_EQ(b.GetPixelRGB(3, 1).r, 0);  // outside the rectangle
    EXPECT_EQ(b.GetPixelRGB(5, 4).r, 3);  // the pixels moved with the image
    EXPECT_EQ(b.GetCanvas(), c);          // already there: not moved again
  }
  TIEBitmap empty;
  EXPECT_EQ(empty.GetCanvas(), nullptr);
}

// One row pattern per mask depth: copied into an image and back, with the all-set flag.
TEST(MaskCopies, ToImageAndBack) {
  struct Case { int bits; int w, h; bool full; TIEPixelFormat format; };
  const Case kCases[] = {{1, 37, 3, false, ie1g}, {1, 9, 2, true, ie1g}, {8, 5, 4, false, ie8g},
                         {8, 3, 2, true, ie8g}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits " << c.w << "x" << c.h);
    TIEMask m;
    ASSERT_TRUE(m.Allocate(c.w, c.h, c.bits));
    if (c.full) m.Fill(255);
    else
      for (int y = 0; y < c.h; ++y)
        for (int x = y; x < c.w; x += 3) m.SetPixel(x, y, c.bits == 1 ? 1 : 40 + x);
    TIEBitmap b;
    b.CopyFromMask(&m);
    ASSERT_EQ(b.GetPixelFormat(), c.format);
    ASSERT_EQ(b.GetImageWidth(), c.w);
    EXPECT_EQ(b.IsAll255, c.full);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        int want = m.GetPixel(x, y) ? (c.bits == 1 ? 255 : m.GetPixel(x, y)) : 0;
        ASSERT_EQ(b.GetPixelRGB(x, y).r, want) << x << "," << y;
      }
    TIEMask back;
    back.Allocate(2, 2, c.bits == 1 ? 8 : 1);  // the other depth: replaced
    ASSERT_TRUE(b.CopyToMask(&back));
    EXPECT_EQ(back.MaskBitDepth, c.bits);
    EXPECT_EQ(back.AllSet(), c.full);
    EXPECT_EQ(back.IsEmpty(), m.IsEmpty() && !c.full);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) ASSERT_EQ(back.GetPixel(x, y), m.GetPixel(x, y)) << x << "," << y;
  }
}

TEST(MaskCopies, NoMaskFillsAndOtherFormatsAreRefused) {
  TIEBitmap b(3, 2, ie8g);
  b.CopyFromMask(nullptr);
  EXPECT_EQ(b.GetByte(2, 1), 255);
  TIEMask m;
  ASSERT_TRUE(m.Allocate(4, 4, 8));
  m.SetPixel(1, 1, 9);
  TIEBitmap colour(3, 3, ie24RGB);
  EXPECT_FALSE(colour.CopyToMask(&m));
  EXPECT_EQ(m.Width, 4);
  EXPECT_EQ(m.GetPixel(1, 1), 9);
}

}  // namespace
