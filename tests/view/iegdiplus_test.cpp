// The GDI+ canvas: the binding's use count, and the same drawing through GDI+ and through plain GDI.
#include <gtest/gtest.h>

#include "iegdiplus.h"
#include "uibitmap.h"

using namespace ui;

namespace {

struct Surface {
  Surface() {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(40, 40);
    bmp.Canvas()->Brush()->SetColor(clWhite);
    bmp.Canvas()->FillRect(RECT{0, 0, 40, 40});
  }
  COLORREF At(int x, int y) { return COLORREF(bmp.Canvas()->GetPixel(x, y)); }
  TBitmap bmp;
};

// Holds one use of the binding for a test, with GDI+ allowed or not.
struct GdiPlusUse {
  explicit GdiPlusUse(bool allowed) : saved(IEGdiPlusEnabled) {
    IEGdiPlusEnabled = allowed;
    IEGdiPlusLoad();
  }
  ~GdiPlusUse() {
    IEGdiPlusUnload();
    IEGdiPlusEnabled = saved;
  }
  bool saved;
};

}  // namespace

TEST(GdiPlusBinding, StartUpAllowsItAndTheUseCountLoadsAndUnloads) {
  EXPECT_TRUE(IEGdiPlusEnabled);
  ASSERT_EQ(0, IEGdiPlusUseCount());
  EXPECT_FALSE(IEGdiPlusLoaded());
  IEGdiPlusLoad();
  IEGdiPlusLoad();
  EXPECT_TRUE(IEGdiPlusLoaded());
  EXPECT_TRUE(GetModuleHandleW(L"gdiplus.dll") != nullptr);
  IEGdiPlusUnload();
  EXPECT_TRUE(IEGdiPlusAvailable());  // one use left: still running
  IEGdiPlusUnload();
  EXPECT_FALSE(IEGdiPlusLoaded());
  EXPECT_EQ(0, IEGdiPlusUseCount());

  // disallowed: counted, never loaded
  IEGdiPlusEnabled = false;
  IEGdiPlusLoad();
  EXPECT_EQ(1, IEGdiPlusUseCount());
  EXPECT_FALSE(IEGdiPlusLoaded());
  IEGdiPlusUnload();
  EXPECT_EQ(0, IEGdiPlusUseCount());
  IEGdiPlusEnabled = true;
}

class CanvasBothRoads : public ::testing::TestWithParam<bool> {};

TEST_P(CanvasBothRoads, RectanglesEllipsesAndLinesLandAlike) {
  GdiPlusUse use(GetParam());
  Surface s;
  TIECanvas c(s.bmp.Canvas(), false, true);
  EXPECT_EQ(GetParam(), c.UsesGdiPlus());
  c.GetBrush()->SetColor(clRed);
  c.GetPen()->SetColor(clBlue);
  c.Rectangle(0, 0, 10, 10);
  EXPECT_EQ(RGB(255, 0, 0), s.At(5, 5));
  EXPECT_EQ(RGB(0, 0, 255), s.At(0, 5));  // outline
  EXPECT_EQ(RGB(255, 255, 255), s.At(11, 5));
  // the brush's colour also reached the canvas's own brush
  EXPECT_EQ(clRed, s.bmp.Canvas()->Brush()->GetColor());

  c.GetBrush()->SetColor(clLime);
  c.Ellipse(20, 20, 36, 36);
  EXPECT_EQ(RGB(0, 255, 0), s.At(28, 28));
  EXPECT_EQ(RGB(255, 255, 255), s.At(20, 20));  // the corner stays outside

  c.MoveTo(2, 30);
  c.LineTo(15, 30);
  EXPECT_EQ(RGB(0, 0, 255), s.At(8, 30));
  EXPECT_EQ(15, c.GetPenPos().x);
}

TEST_P(CanvasBothRoads, ClearStylesDrawNothing) {
  GdiPlusUse use(GetParam());
  Surface s;
  TIECanvas c(s.bmp.Canvas(), false, true);
  c.GetPen()->SetColor(clBlue);
  c.GetPen()->SetStyle(psClear);
  c.GetBrush()->SetColor(clRed);
  c.GetBrush()->SetStyle(bsClear);
  c.Rectangle(0, 0, 20, 20);
  EXPECT_EQ(RGB(255, 255, 255), s.At(0, 0));
  EXPECT_EQ(RGB(255, 255, 255), s.At(10, 10));
  EXPECT_EQ(clBlue, c.GetPen()->GetColor());  // kept for a later style change
  c.GetPen()->SetStyle(psSolid);
  c.DrawLine(0, 25, 30, 25);
  EXPECT_EQ(RGB(0, 0, 255), s.At(10, 25));
}

INSTANTIATE_TEST_SUITE_P(GdiPlusAndGdi, CanvasBothRoads, ::testing::Values(true, false));

TEST(GdiPlusCanvas, TransparencyActsOnlyThroughGdiPlus) {
  for (bool allowed : {true, false}) {
    GdiPlusUse use(allowed);
    Surface s;
    TIECanvas c(s.bmp.Canvas(), false, true);
    c.GetBrush()->SetColor(clRed);
    c.GetBrush()->SetTransparency(128);
    c.FillRect(RECT{0, 0, 20, 20});
    const COLORREF px = s.At(5, 5);
    EXPECT_EQ(255, GetRValue(px));
    if (allowed) {
      EXPECT_NEAR(127, GetGValue(px), 2) << "half-transparent red over white";
    } else {
      EXPECT_EQ(0, GetGValue(px));
    }
  }
}

TEST(GdiPlusCanvas, RoundRectCornerLargerThanTheRectangle) {
  GdiPlusUse use(true);
  Surface s;
  TIECanvas c(s.bmp.Canvas(), false, true);
  c.GetBrush()->SetColor(clRed);
  c.GetPen()->SetColor(clRed);
  c.RoundRect(4, 4, 24, 24, 100, 100);  // the corner size becomes the rectangle's own: an ellipse
  EXPECT_EQ(RGB(255, 0, 0), s.At(14, 14));
  EXPECT_EQ(RGB(255, 255, 255), s.At(5, 5));
}
