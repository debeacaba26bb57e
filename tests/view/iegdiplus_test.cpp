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

namespace {

// The pen's mode reaches the platform pen: on the plain road a line drawn with pmNot inverts what it
// crosses, and the mode comes back with Assign; SetHandle puts a platform pen in place.
TEST(GdiPlusCanvas, PenModeAndHandleReachThePlatformPen) {
  GdiPlusUse use(false);
  Surface s;
  s.bmp.Canvas()->Brush()->SetColor(clBlack);
  s.bmp.Canvas()->FillRect(RECT{0, 0, 20, 40});
  {
    TIECanvas c(s.bmp.Canvas(), false, false);
    c.GetPen()->SetColor(RGB(200, 0, 0));
    c.GetPen()->SetMode(pmNot);
    EXPECT_EQ(pmNot, s.bmp.Canvas()->Pen()->GetMode());
    c.MoveTo(2, 10);
    c.LineTo(38, 10);
    c.GetPen()->SetMode(pmCopy);
    c.MoveTo(2, 20);
    c.LineTo(38, 20);
  }
  EXPECT_EQ(RGB(255, 255, 255), s.At(5, 10));  // black inverted
  EXPECT_EQ(RGB(0, 0, 0), s.At(30, 10));       // white inverted
  EXPECT_EQ(RGB(200, 0, 0), s.At(5, 20));
  EXPECT_EQ(RGB(200, 0, 0), s.At(30, 20));
  TPen copy;
  TPen inverting;
  inverting.SetMode(pmXor);
  copy.Assign(&inverting);
  EXPECT_EQ(pmXor, copy.GetMode());
  EXPECT_EQ(R2_XORPEN, copy.GetRop2());

  Surface t;
  {
    TIECanvas c(t.bmp.Canvas(), false, false);
    c.GetPen()->SetHandle(CreatePen(PS_SOLID, 3, RGB(0, 0, 250)));
    c.MoveTo(0, 30);
    c.LineTo(39, 30);
  }
  EXPECT_EQ(RGB(0, 0, 250), t.At(20, 31));  // 3 pixels wide
  EXPECT_EQ(RGB(0, 0, 250), t.At(20, 29));
}

// ClippedTextOut clips to its rectangle and, for right-to-left reading on a right-to-left device
// context, starts the text its width + 1 further right; other combinations draw where asked.
TEST(GdiPlusCanvas, ClippedTextOutShiftsOnlyRightToLeftReadingOnARightToLeftCanvas) {
  struct Case {
    bool rtlLayout;
    int flags;
    bool shifted;
  };
  const Case cases[] = {{false, 0, false}, {false, ETO_RTLREADING, false}, {true, 0, false}, {true, ETO_RTLREADING, true}};
  const std::string text = "il";  // narrow: shifted, it still lies inside the clip
  for (const Case& c : cases) {
    Surface drawn, expected;
    int width = 0;
    for (Surface* s : {&drawn, &expected}) {
      TCanvas* canvas = s->bmp.Canvas();
      canvas->Font()->SetHeight(-14);
      canvas->Font()->SetColor(clBlack);
      canvas->Brush()->SetStyle(bsClear);
      canvas->TextFlags = c.flags;
      SetLayout(canvas->GetHandle(), c.rtlLayout ? LAYOUT_RTL : 0);
    }
    const RECT clip{2, 2, 36, 34};
    {
      TIECanvas canvas(drawn.bmp.Canvas(), false, false);
      width = canvas.TextWidth(text);
      canvas.ClippedTextOut(clip, 6, 6, text);
    }
    // the same call made by hand at the place the rule gives
    TCanvas* e = expected.bmp.Canvas();
    const int x = 6 + (c.shifted ? width + 1 : 0);
    ExtTextOutA(e->GetHandle(), x, 6, UINT(c.flags) | ETO_CLIPPED, &clip, text.data(), UINT(text.size()), nullptr);
    int differing = 0, ink = 0, outside = 0;
    for (int y = 0; y < 40; ++y)
      for (int px = 0; px < 40; ++px) {
        differing += drawn.At(px, y) != expected.At(px, y);
        if (drawn.At(px, y) != RGB(255, 255, 255)) {
          ++ink;
          // (the rectangle is logical: on a right-to-left context it is mirrored)
          if (!c.rtlLayout) outside += px < clip.left || px >= clip.right || y < clip.top || y >= clip.bottom;
        }
      }
    EXPECT_EQ(0, differing) << c.rtlLayout << " " << c.flags;
    EXPECT_GT(ink, 0) << c.rtlLayout << " " << c.flags;
    EXPECT_EQ(0, outside) << c.rtlLayout << " " << c.flags;
  }
  // a rectangle narrower than the text cuts it
  Surface cut;
  cut.bmp.Canvas()->Font()->SetHeight(-14);
  cut.bmp.Canvas()->Brush()->SetStyle(bsClear);
  {
    TIECanvas canvas(cut.bmp.Canvas(), false, false);
    canvas.ClippedTextOut(RECT{2, 2, 9, 34}, 6, 6, "WWW");
  }
  int inside = 0, beyond = 0;
  for (int y = 0; y < 40; ++y)
    for (int px = 0; px < 40; ++px)
      if (cut.At(px, y) != RGB(255, 255, 255)) ++(px >= 2 && px < 9 ? inside : beyond);
  EXPECT_GT(inside, 0);
  EXPECT_EQ(0, beyond);
}

}  // namespace
