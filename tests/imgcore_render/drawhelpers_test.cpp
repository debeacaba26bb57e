// Drawing helpers: the Gaussian curve and textures, bevel frames and
// the cropped-shadow strips read back from DIB sections.
#include <gtest/gtest.h>

#include <cstring>

#include "iedrawhelpers.h"
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
