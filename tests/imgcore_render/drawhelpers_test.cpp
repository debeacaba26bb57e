// Drawing helpers: the Gaussian curve and textures, bevel frames and
// the cropped-shadow strips read back from DIB sections.
#include <gtest/gtest.h>

#include <cstring>

#include "iebitmap.h"
#include "iedrawhelpers.h"
#include "ieshadow.h"
#include "ieareaops.h"
#include "ieplatformbitmap.h"

namespace {

void Make(TIEDIBSectionBitmap& b, int w, int h, uint8_t grey) {
  ASSERT_TRUE(b.SetPixelFormat(iepf24bit));
  ASSERT_TRUE(b.SetSize(w, h));
  for (int y = 0; y < h; ++y) std::memset(b.ScanLine(y), grey, size_t(w) * 3);
  GdiFlush();
}

int At(TIEDIBSectionBitmap& b, int x, int y, int channel = 0) {
  GdiFlush();
  return b.ScanLine(y)[3 * x + channel];
}

TEST(DrawHelpers, GaussianCurveAndTextures) {
  std::vector<double> c;
  IEGaussianCurve(4, 130, 255, 0.5, c);
  ASSERT_EQ(c.size(), 4u);
  EXPECT_NEAR(c[0], 240.31, 0.01);
  EXPECT_NEAR(c[1], 251.15, 0.01);
  EXPECT_DOUBLE_EQ(c[2], 255);
  EXPECT_NEAR(c[3], 251.15, 0.01);

  TIEDIBSectionBitmap s;
  ASSERT_TRUE(IEMakeStripeBitmap(&s, 5, 9));
  const int kRows[] = {240, 251, 255, 251};
  for (int y = 0; y < 9; ++y) EXPECT_EQ(At(s, 4, y, 1), kRows[y % 4]) << y;

  TIEDIBSectionBitmap n;
  ASSERT_TRUE(IEMakeShadedNoiseBitmap(&n, 300, 20));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 300; ++x) {
      int v = At(n, x, y);
      ASSERT_GE(v, 160);
      ASSERT_LE(v, 218);
      ASSERT_EQ(v, At(n, x, y, 2));
    }
}

TEST(DrawHelpers, BevelFrame) {
  TIEDIBSectionBitmap b;
  Make(b, 10, 10, 0);
  IEDrawBevelFrame(b.GetDC(), 1, 1, 8, 8, RGB(255, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(At(b, 1, 5, 2), 255);  // left line in colour 1 (red)
  EXPECT_EQ(At(b, 5, 1, 2), 255);  // top
  EXPECT_EQ(At(b, 5, 8, 0), 255);  // bottom in colour 2 (blue)
  EXPECT_EQ(At(b, 8, 5, 0), 255);  // right
  EXPECT_EQ(At(b, 5, 5, 0), 0);
}

TEST(DrawHelpers, CropShadowStrips) {
  // mode 2 with a bitmap: darkened inside it, deepest next to the image
  TIEDIBSectionBitmap b;
  Make(b, 40, 40, 200);
  IEDrawCropShadowRight(nullptr, &b, 30, 0, 35, 30, 2);
  EXPECT_LT(At(b, 30, 10), At(b, 35, 10));
  EXPECT_LT(At(b, 30, 10), 60);   // about 0.2 x 200
  EXPECT_GT(At(b, 35, 10), 160);  // about 0.9 x 200
  EXPECT_EQ(At(b, 30, 5), 200);   // the strip starts its width below the top
  EXPECT_EQ(At(b, 29, 10), 200);
  EXPECT_EQ(At(b, 36, 10), 200);

  // mode 3 stays inside its strip, for a strip of any width
  for (int w : {1, 4, 9}) {
    TIEDIBSectionBitmap g;
    Make(g, 40, 40, 7);
    IEDrawCropShadowRight(nullptr, &g, 20, 5, 20 + w - 1, 24, 3);
    IEDrawCropShadowBottom(nullptr, &g, 2, 30, 17, 30 + w - 1, 3);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) {
        bool right = x >= 20 && x < 20 + w && y >= 5 && y <= 24;
        bool bottom = x >= 2 && x <= 17 && y >= 30 && y < 30 + w;
        if (!right && !bottom) {
          ASSERT_EQ(At(g, x, y), 7) << w << ": " << x << "," << y;
        }
      }
    EXPECT_EQ(At(g, 20, 5), 255);  // the row grey is white at the top
  }
  IEDrawCropShadowRight(nullptr, nullptr, 5, 5, 4, 9, 3);  // an empty strip draws nothing
}

}  // namespace

namespace {

// The soft shadow as written out: the whole (w + 10) x (h + 10) mask, blurred, applied.
void SoftShadowReference(TIEDIBSectionBitmap& b, int x1, int y1, int x2, int y2) {
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  TIEBitmap mask(w + 10, h + 10, ie8g);
  mask.Fill(0);
  mask.FillRect(5, 5, w + 6, h + 6, 255);
  IEGaussianBlurGray8(&mask, TIERect{0, 0, w + 9, h + 9}, 2.5);
  for (int y = y1 - 5; y <= y2 + 5; ++y)
    for (int x = x1 - 5; x <= x2 + 5; ++x) {
      if (x < 0 || y < 0 || x >= b.GetWidth() || y >= b.GetHeight()) continue;
      if (x >= x1 && x < x2 && y >= y1 && y < y2) continue;
      const int m = mask.GetRowAddress(y - y1 + 5)[x - x1 + 5];
      uint8_t* p = b.ScanLine(y) + 3 * x;
      for (int k = 0; k < 3; ++k) p[k] = uint8_t(p[k] * (1 - m / 255.0));
    }
}

bool SamePixels(TIEDIBSectionBitmap& a, TIEDIBSectionBitmap& b) {
  GdiFlush();
  for (int y = 0; y < a.GetHeight(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.GetWidth()) * 3) != 0) return false;
  return true;
}

}  // namespace

TEST(DrawHelpers, SoftShadowDarkensAroundTheImageOnly) {
  struct Case { int x1, y1, x2, y2; } cases[] = {
      {20, 15, 60, 40},    // wholly inside
      {-8, -3, 30, 20},    // cut by the top-left corner
      {70, 50, 140, 90},   // cut by the right and bottom edges
      {2, 2, 3, 3},        // 2 x 2
  };
  for (const Case& c : cases) {
    TIEDIBSectionBitmap ours, ref;
    Make(ours, 100, 80, 200);
    Make(ref, 100, 80, 200);
    IEDrawSoftShadow(&ours, c.x1, c.y1, c.x2, c.y2);
    SoftShadowReference(ref, c.x1, c.y1, c.x2, c.y2);
    EXPECT_TRUE(SamePixels(ours, ref)) << c.x1 << "," << c.y1;
  }
  TIEDIBSectionBitmap b;
  Make(b, 100, 80, 200);
  IEDrawSoftShadow(&b, 20, 15, 60, 40);
  EXPECT_EQ(At(b, 40, 30), 200) << "the image area is left alone";
  EXPECT_LT(At(b, 61, 41), 150) << "right of and below the image is darkest";
  EXPECT_EQ(At(b, 5, 5), 200) << "far from the image nothing changes";
}

TEST(DrawHelpers, SoftShadowOfAHugeRectangleCostsOnlyTheBitmap) {
  // A zoomed image a hundred thousand pixels wide whose right and bottom edges show: the far edges
  // cannot reach the bitmap, so the result equals that of a rectangle just past the bitmap's corner.
  TIEDIBSectionBitmap huge, closeBy;
  Make(huge, 120, 90, 180);
  Make(closeBy, 120, 90, 180);
  IEDrawSoftShadow(&huge, -200000, -150000, 80, 60);
  IEDrawSoftShadow(&closeBy, -40, -40, 80, 60);
  EXPECT_TRUE(SamePixels(huge, closeBy));
  EXPECT_LT(At(huge, 81, 61), 180);
  TIEDIBSectionBitmap untouched;
  Make(untouched, 10, 10, 99);
  IEDrawSoftShadow(&untouched, 500, 500, 600, 600);  // nowhere near
  IEDrawSoftShadow(&untouched, 5, 5, 4, 4);          // empty
  EXPECT_EQ(At(untouched, 9, 9), 99);
}
