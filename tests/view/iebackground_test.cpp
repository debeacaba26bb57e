// The view's background styles, read back pixel by pixel from a 24-bit bitmap.
#include <gtest/gtest.h>

#include <memory>

#include "iebackground.h"
#include "iedrawhelpers.h"
#include "ieviewdraw.h"
#include "ieplatformbitmap.h"
#include "ieviewglobals.h"
#include "imageryview.h"
#include "uibitmap.h"
#include "uipicture.h"

using namespace ui;

namespace {
constexpr TColor kColour = 0x204060;
constexpr TColor kComplement = 0xDFBF9F;

// A 24-bit bitmap filled white, its platform wrapper and the pixel reader.
struct Target {
  TBitmap bmp;
  std::unique_ptr<TIETBitmapAdapter> adapter;
  Target(int w, int h) {
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(w, h);
    adapter.reset(new TIETBitmapAdapter(&bmp));
    bmp.Canvas()->Brush()->SetStyle(bsSolid);
    bmp.Canvas()->Brush()->SetColor(clWhite);
    bmp.Canvas()->FillRect(RECT{0, 0, w, h});
  }
  void Paint(TIEBackgroundStyle style, TColor colour, int x1, int y1, int x2, int y2, int size = 16,
             TBrushStyle brush = bsSolid, bool withBitmap = true, TPicture* wall = nullptr,
             TIEWallPaperStyle wallStyle = iewoNormal) {
    IEDrawBackground(false, bmp.Canvas(), withBitmap ? adapter.get() : nullptr, style, colour, 0, 0, bmp.GetWidth(),
                     bmp.GetHeight(), x1, y1, x2, y2, size, brush, 0xFF0000, wall, wallStyle);
    GdiFlush();
  }
  TColor At(int x, int y) {
    const uint8_t* p = static_cast<const uint8_t*>(bmp.ScanLine(y)) + 3 * x;
    return TColor(p[2] | (p[1] << 8) | (p[0] << 16));
  }
  int Count(TColor c, int x0, int y0, int x1, int y1) {  // pixels of colour c in [x0, x1) x [y0, y1)
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += At(x, y) == c;
    return n;
  }
};
}  // namespace

TEST(Background, ChessboardIntoRowsStartsWithTheColour) {
  Target t(40, 40);
  t.Paint(iebsChessboard, kColour, 0, 0, 0, 0);
  EXPECT_EQ(kColour, t.At(0, 0));
  EXPECT_EQ(kComplement, t.At(16, 0));
  EXPECT_EQ(kComplement, t.At(0, 16));
  EXPECT_EQ(kColour, t.At(15, 15));
  EXPECT_EQ(kColour, t.At(16, 16));
  EXPECT_EQ(kColour, t.At(39, 39));  // third band, third column
}

TEST(Background, ChessboardWithAHatchedBrushFillsSquaresStartingWithTheComplement) {
  Target t(40, 40);
  t.Paint(iebsChessboard, kColour, 0, 0, 0, 0, 16, bsCross);
  // a hatched square shows its colour on the lines and white between them
  EXPECT_GT(t.Count(kComplement, 0, 0, 16, 16), 0);
  EXPECT_EQ(0, t.Count(kColour, 0, 0, 16, 16));
  EXPECT_GT(t.Count(kColour, 16, 0, 32, 16), 0);
  EXPECT_EQ(0, t.Count(kComplement, 16, 0, 32, 16));
  EXPECT_GT(t.Count(kColour, 0, 16, 16, 32), 0);
  EXPECT_GT(t.Count(kComplement, 32, 32, 40, 40), 0);  // clipped last square
}

TEST(Background, ChessboardSizeBelowOneCountsAsOne) {
  for (int size : {0, -3}) {
    SCOPED_TRACE(size);
    Target t(6, 4);
    t.Paint(iebsChessboard, kColour, 0, 0, 0, 0, size);
    EXPECT_EQ(kColour, t.At(0, 0));
    EXPECT_EQ(kComplement, t.At(1, 0));
    EXPECT_EQ(kComplement, t.At(0, 1));
    Target h(6, 4);
    h.Paint(iebsChessboard, kColour, 0, 0, 0, 0, size, bsSolid, false);  // the FillRect road ends too
    EXPECT_EQ(kComplement, h.At(0, 0));
    EXPECT_EQ(kColour, h.At(1, 0));
  }
  TImageryView* view = New<TImageryView>(nullptr);
  view->SetChessboardParams(0, bsCross);
  EXPECT_EQ(1, view->GetChessboardSize());
  EXPECT_EQ(bsCross, view->GetChessboardBrushStyle());
  view->Free();
}

TEST(Background, PhotoLikeIsGreyWithAnOutlineAndAChessboardOverTheImage) {
  Target t(40, 40);
  t.Paint(iebsPhotoLike, kColour, 10, 10, 30, 30);
  EXPECT_EQ(0xB0B0B0, t.At(0, 0));
  EXPECT_EQ(0xB0B0B0, t.At(8, 8));
  EXPECT_EQ(clBlack, t.At(9, 9));
  EXPECT_EQ(clBlack, t.At(30, 30));
  EXPECT_EQ(clBlack, t.At(20, 9));
  EXPECT_EQ(0xB0B0B0, t.At(31, 31));
  EXPECT_EQ(kColour, t.At(10, 10));  // the chessboard starts at the image's corner
  EXPECT_EQ(kComplement, t.At(26, 10));
  EXPECT_EQ(kColour, t.At(29, 29));
  // no image: grey, and the outline's 2 x 2 square at (-1, -1)
  Target e(10, 10);
  e.Paint(iebsPhotoLike, kColour, 0, 0, 0, 0);
  EXPECT_EQ(clBlack, e.At(0, 0));
  EXPECT_EQ(0xB0B0B0, e.At(1, 1));
  EXPECT_EQ(0xB0B0B0, e.At(1, 0));
}

TEST(Background, CroppedDrawsASunkenEdgeOnlyAroundAnImageOfTwoPixelsOrMore) {
  const TColor face = TColor(ColorToRGB(clBtnFace));
  Target one(30, 30);
  one.Paint(iebsCropped, kColour, 10, 10, 11, 11);
  EXPECT_EQ(30 * 30, one.Count(face, 0, 0, 30, 30));
  Target two(30, 30);
  two.Paint(iebsCropped, kColour, 10, 10, 20, 20);
  EXPECT_EQ(face, two.At(0, 0));
  EXPECT_NE(face, two.At(10 - IEEdgeX, 15));  // the edge's outer left line
  EXPECT_NE(face, two.At(15, 20 + IEEdgeY - 1));  // and its outer bottom line
}

TEST(Background, CropShadowDarkensBesideAndBelowTheImage) {
  Target t(40, 40);
  t.Paint(iebsCropShadow, clWhite, 5, 5, 25, 25);
  EXPECT_EQ(clWhite, t.At(0, 0));
  EXPECT_EQ(clWhite, t.At(20, 20));  // the image rectangle itself is left to the image
  EXPECT_NE(clWhite, t.At(26, 15));
  EXPECT_NE(clWhite, t.At(15, 26));
  EXPECT_EQ(clWhite, t.At(35, 15));
}

TEST(Background, GradientRunsFromTheColourAtTheTopToTheEndColourAtTheBottom) {
  Target t(8, 64);
  t.Paint(iebsGradient, clRed, 0, 0, 0, 0);
  auto red = [&](int y) { return t.At(3, y) & 0xFF; };
  auto blue = [&](int y) { return (t.At(3, y) >> 16) & 0xFF; };
  EXPECT_GE(red(0), 0xF0);
  EXPECT_LE(blue(0), 0x10);
  EXPECT_LE(red(63), 0x10);
  EXPECT_GE(blue(63), 0xF0);
  for (int y = 1; y < 64; ++y) {
    EXPECT_LE(red(y), red(y - 1)) << y;
    EXPECT_GE(blue(y), blue(y - 1)) << y;
  }
  EXPECT_EQ(t.At(0, 30), t.At(7, 30));  // each row is one colour
}

TEST(Background, PlainAndHatchedStylesFillTheArea) {
  const struct {
    TIEBackgroundStyle style;
    bool solid;
  } cases[] = {{iebsSolid, true},     {iebsHorizontal, false}, {iebsVertical, false},  {iebsFDiagonal, false},
               {iebsBDiagonal, false}, {iebsCross, false},     {iebsDiagCross, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.style));
    Target t(16, 16);
    t.Paint(c.style, kColour, 0, 0, 0, 0);
    const int n = t.Count(kColour, 0, 0, 16, 16);
    if (c.solid) {
      EXPECT_EQ(256, n);
    } else {
      EXPECT_GT(n, 0);
      EXPECT_LT(n, 256);
    }
  }
  Target d(20, 20);
  d.Paint(iebsDiagonals, kColour, 0, 0, 0, 0);
  EXPECT_EQ(kComplement, d.At(5, 5));
  EXPECT_EQ(kComplement, d.At(15, 5));  // the line from the top-right corner
  EXPECT_EQ(kColour, d.At(10, 2));
}

TEST(Background, WallpaperIsDrawnOnceStretchedOrTiled) {
  TBitmap tile;
  tile.SetPixelFormat(pf24bit);
  tile.SetSize(10, 10);
  tile.Canvas()->Brush()->SetColor(clGreen);
  tile.Canvas()->FillRect(RECT{0, 0, 10, 10});
  tile.Canvas()->SetPixel(0, 0, clRed);
  TPicture picture;
  picture.Assign(&tile);
  const struct {
    TIEWallPaperStyle style;
    int reds;
  } cases[] = {{iewoNormal, 1}, {iewoTile, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.style));
    Target t(25, 15);
    t.Paint(iebsSolid, clWhite, 0, 0, 0, 0, 16, bsSolid, true, &picture, c.style);
    EXPECT_EQ(c.reds, t.Count(clRed, 0, 0, 25, 15));
    for (POINT p : {POINT{0, 0}, POINT{10, 0}, POINT{20, 0}, POINT{0, 10}, POINT{10, 10}, POINT{20, 10}})
      if (c.style == iewoTile) {
        EXPECT_EQ(clRed, t.At(p.x, p.y)) << p.x << "," << p.y;
      }
  }
  Target s(25, 15);
  s.Paint(iebsSolid, clWhite, 0, 0, 0, 0, 16, bsSolid, true, &picture, iewoStretch);
  EXPECT_EQ(0, s.Count(clWhite, 0, 0, 25, 15));
  EXPECT_EQ(clRed, s.At(0, 0));
  EXPECT_EQ(clGreen, s.At(24, 14));
  // a graphic with no width tiles nothing and ends
  TBitmap empty;
  empty.SetPixelFormat(pf24bit);
  empty.SetSize(0, 10);
  TPicture none;
  none.Assign(&empty);
  Target e(25, 15);
  e.Paint(iebsSolid, clWhite, 0, 0, 0, 0, 16, bsSolid, true, &none, iewoTile);
  EXPECT_EQ(25 * 15, e.Count(clWhite, 0, 0, 25, 15));
}

TEST(Background, ViewPaintsItsBackgroundOntoAnyCanvas) {
  TImageryView* view = New<TImageryView>(nullptr);
  view->SetBounds(0, 0, 40, 20);
  view->SetBackgroundValue(kColour);
  view->SetBackgroundStyleValue(iebsChessboard);
  view->SetChessboardParams(8, bsSolid);
  Target t(40, 20);
  view->PaintBackgroundTo(t.bmp.Canvas());
  GdiFlush();
  // no bitmap given: squares by FillRect, the first one the complement
  EXPECT_EQ(kComplement, t.At(0, 0));
  EXPECT_EQ(kColour, t.At(8, 0));
  EXPECT_EQ(kColour, t.At(0, 8));
  view->Free();
}

TEST(Background, SoftShadowSurroundsTheImageOnlyWhenABitmapIsGiven) {
  Target t(80, 60);
  t.Paint(iebsSoftShadow, kColour, 20, 15, 50, 40);
  EXPECT_EQ(kColour, t.At(2, 2));
  EXPECT_EQ(kColour, t.At(30, 30)) << "the image area keeps the ground";
  EXPECT_NE(kColour, t.At(51, 41)) << "darker right of and below the image";
  const TColor shade = t.At(51, 41);
  EXPECT_LT(shade & 0xFF, kColour & 0xFF);
  Target none(80, 60);
  none.Paint(iebsSoftShadow, kColour, 20, 15, 50, 40, 16, bsSolid, false);
  EXPECT_EQ(clWhite, none.At(51, 41)) << "without a bitmap nothing is painted";
}

// The overlays draw through GDI+, which a view loads while it lives.
class Overlays : public ::testing::Test {
 protected:
  void SetUp() override { IEGdiPlusLoad(); }
  void TearDown() override { IEGdiPlusUnload(); }
};

TEST_F(Overlays, ShadeOutsideDarkensTheBandsAroundTheInnerRectangle) {
  ASSERT_TRUE(IEGdiPlusAvailable());
  Target t(100, 100);
  IEShadeOutsideRect(t.bmp.Canvas(), 0, 0, 99, 99, 20, 20, 80, 80);
  GdiFlush();
  auto grey = [&](int x, int y) { return int(t.At(x, y) & 0xFF); };
  EXPECT_EQ(255, grey(50, 50)) << "inside untouched";
  EXPECT_NEAR(255 * 105 / 255, grey(5, 50), 3) << "black at transparency 150 over white";
  // The fills' right and bottom edges are excluded: the bands meet without a gap or a double shade.
  const struct { int x, y, grey; } probes[] = {
      {20, 5, 105}, {21, 5, 105}, {50, 20, 105}, {50, 21, 255}, {50, 80, 255}, {50, 81, 105},
      {79, 50, 255}, {80, 50, 105}, {50, 98, 105}, {98, 98, 105}};
  for (const auto& p : probes) EXPECT_NEAR(p.grey, grey(p.x, p.y), 3) << p.x << "," << p.y;
  Target flat(40, 40);
  IEShadeOutsideRect(flat.bmp.Canvas(), 0, 0, 39, 39, 10, 10, 10, 30);  // inner of zero width
  GdiFlush();
  EXPECT_EQ(40 * 40, flat.Count(clWhite, 0, 0, 40, 40));
}

TEST_F(Overlays, TextAndInfoBoxesStayOnTheCanvasAndSaveWhatTheyCover) {
  Target t(200, 100);
  SetPixelV(t.bmp.Canvas()->GetHandle(), 0, 10, 0x123456);
  int x = -5, y = 10;
  TBitmap saved;
  TBrush brush;
  brush.SetColor(0x00FFFF);
  IEDrawTextBox(t.bmp.Canvas(), x, y, "Zoom 100%", nullptr, &brush, &saved, 200, 100, clWhite, 0x808080);
  GdiFlush();
  EXPECT_EQ(0, x);
  EXPECT_EQ(10, y);
  EXPECT_GT(saved.GetWidth(), 12);
  EXPECT_EQ(COLORREF(0x123456), GetPixel(saved.Canvas()->GetHandle(), 0, 0)) << "the covered area was saved first";
  EXPECT_EQ(TColor(0x00FFFF), t.At(7, 17)) << "the box is filled with the brush";
  x = 500;  // moved back inside the width limit
  IEDrawTextBox(t.bmp.Canvas(), x, y, "Zoom 100%", nullptr, &brush, nullptr, 200, 100, clWhite, 0x808080);
  EXPECT_EQ(200 - saved.GetWidth() - 1, x);

  Target info(200, 100);
  int ix = -3, iy = -7;
  IEDrawInfoBox(info.bmp.Canvas(), ix, iy, "0000 x 0000", "12 x 34");
  GdiFlush();
  EXPECT_EQ(0, ix);
  EXPECT_EQ(0, iy);
  const TColor c = info.At(10, 20);  // pale yellow, half transparent over white
  EXPECT_GT(int(c & 0xFF), 200);
  EXPECT_GT(int((c >> 8) & 0xFF), 200);
  EXPECT_NEAR(int((c >> 16) & 0xFF), (0x60 + 255) / 2, 4);
}
