// Selection mask: writers and the all-set flag, polygon fill, translation, resizing, masked copies,
// and the three drawings read back from DIB sections.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <vector>

#include "iebitmap.h"
#include "iemask.h"
#include "ieutils.h"
#include "ieplatformbitmap.h"

namespace {

// What AllSet must say, from the pixels alone.
bool AllFull(const TIEMask& m) {
  if (m.Width == 0 || m.Height == 0) return false;
  for (int y = 0; y < m.Height; ++y)
    for (int x = 0; x < m.Width; ++x)
      if (m.MaskBitDepth == 1 ? m.GetPixel(x, y) == 0 : m.GetPixel(x, y) != 255) return false;
  return true;
}

// Even-odd test of a pixel centre against a closed polygon (the reference of the half-open fill).
bool CentreInside(const std::vector<POINT>& p, int x, int y) {
  double cx = x + 0.5, cy = y + 0.5;
  bool in = false;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    if ((p[i].y > cy) != (p[j].y > cy)) {
      double xc = p[j].x + (cy - p[j].y) * double(p[i].x - p[j].x) / double(p[i].y - p[j].y);
      if (cx < xc) in = !in;
    }
  }
  return in;
}

TEST(Mask, NewAllocatedAndSingleWrites) {
  TIEMask m;
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_EQ(m.GetPixel(0, 0), 0);
  ASSERT_TRUE(m.Allocate(10, 3, 1));
  EXPECT_EQ(m.RowLength, 4);
  ASSERT_TRUE(m.Allocate(10, 3, 8));
  EXPECT_EQ(m.RowLength, 12);
  EXPECT_FALSE(m.Allocate(0, 3, 8));
  EXPECT_FALSE(m.Allocate(3, 3, 4));

  ASSERT_TRUE(m.Allocate(10, 10, 8));
  m.SetPixel(3, 4, 255);
  EXPECT_EQ(m.BoxX1, 3); EXPECT_EQ(m.BoxY1, 4); EXPECT_EQ(m.BoxX2, 3); EXPECT_EQ(m.BoxY2, 4);
  m.SetPixel(-1, 0, 255);
  m.SetPixel(0, 10, 255);
  EXPECT_EQ(m.BoxX1, 3); EXPECT_EQ(m.BoxY2, 4);
  m.SetPixel(3, 4, 0);  // zero never shrinks the box
  EXPECT_EQ(m.BoxX1, 3);
  EXPECT_EQ(m.GetPixel(3, 4), 0);
}

// Every writer, one after another on both depths; AllSet must agree with the pixels after each.
TEST(Mask, AllSetIsExactAfterEveryWriter) {
  for (int depth : {1, 8}) {
    SCOPED_TRACE(depth);
    TIEMask m;
    ASSERT_TRUE(m.Allocate(13, 5, depth));
    auto check = [&](const char* step) { EXPECT_EQ(m.AllSet(), AllFull(m)) << step; };
    check("allocate");
    m.Fill(255); check("fill 255");
    EXPECT_TRUE(m.AllSet());
    m.SetPixel(12, 4, 254); check("set 254");
    m.SetPixel(12, 4, 255); check("set 255");
    EXPECT_TRUE(m.AllSet());
    m.SetPixel(0, 0, 0); check("set 0");
    m.FillSpan(255, -5, 20, 0); check("span over the row");
    EXPECT_TRUE(m.AllSet());
    m.FillSpan(0, 3, 9, 2); check("span 0");
    m.FillSpan(255, 0, 12, 2); check("span 255");
    m.FillSpan(128, 4, 4, 3); check("span 128");
    m.FillSpan(255, 0, 12, 3); check("span 255 again");
    m.Fill(0); check("fill 0");
    EXPECT_FALSE(m.AllSet());
    m.Clear(); check("clear");
    POINT all[] = {{-2, -2}, {20, -2}, {20, 20}, {-2, 20}};
    m.FillPolygon(255, all, 4); check("polygon over all");
    EXPECT_TRUE(m.AllSet());
    POINT hole[] = {{2, 1}, {5, 1}, {5, 3}, {2, 3}};
    m.FillPolygon(0, hole, 4); check("polygon 0");
    int dx = 1, dy = 0;
    m.Translate(dx, dy, true); check("translate");
    ASSERT_TRUE(m.Resize(20, 8)); check("resize");
    m.Fill(255); check("fill");
    ASSERT_TRUE(m.Resize(7, 3)); check("resize smaller");
    EXPECT_TRUE(m.AllSet());
  }
}

TEST(Mask, FillSpanSkipsRowsOutsideAndClipsColumns) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(8, 4, 8));
  EXPECT_EQ(m.FillSpan(255, 0, 7, -1), 0);
  EXPECT_EQ(m.FillSpan(255, 0, 7, 4), 0);
  EXPECT_EQ(m.FillSpan(255, -3, 2, 1), 3);
  EXPECT_EQ(m.FillSpan(255, 5, 4, 1), 0);
  for (int y : {0, 3})
    for (int x = 0; x < 8; ++x) EXPECT_EQ(m.GetPixel(x, y), 0);
}

TEST(Mask, TriangleFillsItsHalfOpenArea) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(16, 16, 8));
  POINT t[] = {{0, 0}, {10, 0}, {0, 10}};
  m.FillPolygon(255, t, 3);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(m.GetPixel(x, y) != 0, y < 10 && x < 10 - y) << x << "," << y;
  EXPECT_EQ(m.BoxX1, 0); EXPECT_EQ(m.BoxY1, 0); EXPECT_EQ(m.BoxX2, 9); EXPECT_EQ(m.BoxY2, 9);
}

// Rectilinear shapes, holes made by a ring joined to the outline (its two joining edges cancel),
// some reaching past the mask: exactly the pixels whose centres lie inside are selected.
TEST(Mask, RectilinearPolygonsWithHolesFillExactlyTheirArea) {
  struct Case {
    const char* name;
    std::vector<POINT> points;
  };
  const Case kCases[] = {
      {"L", {{2, 2}, {12, 2}, {12, 5}, {6, 5}, {6, 14}, {2, 14}}},
      {"U", {{1, 1}, {4, 1}, {4, 10}, {9, 10}, {9, 1}, {12, 1}, {12, 13}, {1, 13}}},
      {"square with hole", {{1, 1}, {15, 1}, {15, 15}, {1, 15}, {1, 1}, {5, 5}, {5, 11}, {11, 11}, {11, 5}, {5, 5}}},
      {"frame with two holes",
       {{0, 0}, {16, 0}, {16, 16}, {0, 16}, {0, 0}, {2, 2}, {2, 6}, {6, 6}, {6, 2}, {2, 2}, {0, 0},
        {8, 8}, {8, 14}, {14, 14}, {14, 8}, {8, 8}}},
      {"past the top and bottom", {{3, -6}, {9, -6}, {9, 30}, {3, 30}}},
      {"past the left and right", {{-7, 4}, {40, 4}, {40, 7}, {-7, 7}}},
      {"staircase", {{0, 0}, {3, 0}, {3, 3}, {6, 3}, {6, 6}, {9, 6}, {9, 9}, {0, 9}}},
  };
  for (int depth : {1, 8}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(c.name);
      TIEMask m;
      ASSERT_TRUE(m.Allocate(17, 16, depth));
      m.FillPolygon(255, c.points.data(), int(c.points.size()));
      int wrong = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 17; ++x) wrong += (m.GetPixel(x, y) != 0) != CentreInside(c.points, x, y);
      EXPECT_EQ(wrong, 0) << "depth " << depth;
      EXPECT_EQ(m.AllSet(), AllFull(m));
    }
  }
}

TEST(Mask, DrawPolygonsFillsEveryPartAndChecksAllSet) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(10, 10, 1));
  POINT p[] = {{0, 0}, {10, 0}, {0, 10}, {kIEPolygonSeparator, 0}, {10, 0}, {10, 10}, {0, 10}};
  m.DrawPolygons(1, p, 7);
  EXPECT_TRUE(m.AllSet());  // the two triangles tile the square
  POINT one[] = {{0, 0}, {10, 0}, {0, 10}, {kIEPolygonSeparator, 0}};
  m.Clear();
  m.DrawPolygons(1, one, 4);
  EXPECT_FALSE(m.AllSet());
  EXPECT_NE(m.GetPixel(0, 9), 0);
  EXPECT_EQ(m.GetPixel(9, 9), 0);
}

TEST(Mask, TranslateClipsOrLimitsTheOffset) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(10, 1, 1));
  m.SetPixel(8, 0, 1);
  m.SetPixel(9, 0, 1);
  int dx = 5, dy = 0;
  m.Translate(dx, dy, false);  // limited: the box already touches the right side
  EXPECT_EQ(dx, 0);
  EXPECT_NE(m.GetPixel(8, 0), 0);
  dx = 5;
  m.Translate(dx, dy, true);  // every column leaves the mask
  EXPECT_TRUE(m.IsEmpty());
  for (int x = 0; x < 10; ++x) EXPECT_EQ(m.GetPixel(x, 0), 0);

  // a random selection moved on both depths equals the pixels moved one by one
  std::mt19937 rng(7);
  for (int depth : {1, 8}) {
    for (int clip : {0, 1}) {
      TIEMask a;
      ASSERT_TRUE(a.Allocate(37, 21, depth));
      std::vector<int> ref(37 * 21, 0);
      for (int y = 4; y < 15; ++y)
        for (int x = 6; x < 30; ++x) {
          int v = (rng() % 3 == 0) ? 0 : (depth == 1 ? 1 : 1 + int(rng() % 255));
          a.SetPixel(x, y, v);
          ref[y * 37 + x] = v;
        }
      int mx = 11, my = -6;
      a.Translate(mx, my, clip != 0);
      if (!clip) {  // limited so that the box (6 .. 29, 4 .. 14) stays inside
        EXPECT_EQ(mx, 7);
        EXPECT_EQ(my, -4);
      }
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
          int sx = x - mx, sy = y - my;
          int want = (sx >= 0 && sy >= 0 && sx < 37 && sy < 21) ? ref[sy * 37 + sx] : 0;
          ASSERT_EQ(a.GetPixel(x, y) != 0, want != 0) << depth << " " << x << "," << y;
          if (depth == 8) {
            ASSERT_EQ(a.GetPixel(x, y), want);
          }
        }
    }
  }
}

TEST(Mask, ResizeKeepsTopLeftAndAddsZeros) {
  for (int depth : {1, 8}) {
    TIEMask m;
    ASSERT_TRUE(m.Allocate(9, 5, depth));
    m.Fill(255);
    ASSERT_TRUE(m.Resize(14, 7));
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 14; ++x) EXPECT_EQ(m.GetPixel(x, y) != 0, x < 9 && y < 5);
    EXPECT_EQ(m.BoxX2, 8);
    EXPECT_EQ(m.BoxY2, 4);
    ASSERT_TRUE(m.Resize(3, 2));  // the cut-off pixels do not come back when it grows again
    ASSERT_TRUE(m.Resize(14, 7));
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 14; ++x) EXPECT_EQ(m.GetPixel(x, y) != 0, x < 3 && y < 2) << depth;
  }
}

TEST(Mask, CopyMaskedPixelsMixesByTheMaskValue) {
  TIEBitmap src(4, 2, ie24RGB), dst(4, 2, ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) src.SetRGB(x, y, IEMakeRGB(200, 200, 200));
  dst.Fill(0);
  TIEMask m;
  ASSERT_TRUE(m.Allocate(4, 2, 8));
  m.SetPixel(1, 0, 128);
  m.SetPixel(2, 0, 255);
  m.SetPixel(3, 1, 1);
  m.CopyMaskedPixels(&dst, &src, false, false, true);
  EXPECT_EQ(dst.GetRGB(0, 0).g, 0);
  EXPECT_EQ(dst.GetRGB(1, 0).r, 100);  // 200 x 128 / 255 = 100.4
  EXPECT_EQ(dst.GetRGB(2, 0).b, 200);  // fully selected: the source exactly
  EXPECT_EQ(dst.GetRGB(3, 1).r, 1);
  // alpha: min(source alpha (none = 255), mask value), 0 where not selected
  EXPECT_EQ(dst.GetAlphaAt(1, 0), 128);
  EXPECT_EQ(dst.GetAlphaAt(2, 0), 255);
  EXPECT_EQ(dst.GetAlphaAt(1, 1), 0);  // inside the box, not selected
  EXPECT_EQ(dst.GetAlphaAt(0, 1), 255);  // outside the box: left alone

  // 1-bit mask, source holding only the box
  TIEBitmap box(2, 1, ie8g), g(6, 3, ie8g);
  box.SetByte(0, 0, 11);
  box.SetByte(1, 0, 22);
  g.Fill(5);
  TIEMask b;
  ASSERT_TRUE(b.Allocate(6, 3, 1));
  b.SetPixel(3, 2, 1);
  b.SetPixel(4, 2, 1);
  b.CopyMaskedPixels(&g, &box, false, true, false);
  EXPECT_EQ(g.GetByte(3, 2), 11);
  EXPECT_EQ(g.GetByte(4, 2), 22);
  EXPECT_EQ(g.GetByte(2, 2), 5);
}

// ---- drawing, read back from DIB sections ----

struct Dib {
  TIEDIBSectionBitmap bmp;
  explicit Dib(int w, int h, uint8_t grey) {
    EXPECT_TRUE(bmp.SetPixelFormat(iepf24bit));
    EXPECT_TRUE(bmp.SetSize(w, h));
    for (int y = 0; y < h; ++y) memset(bmp.ScanLine(y), grey, size_t(w) * 3);
    GdiFlush();
  }
  TIERGB At(int x, int y) {
    GdiFlush();
    const uint8_t* p = bmp.ScanLine(y) + 3 * x;
    TIERGB c;
    c.b = p[0]; c.g = p[1]; c.r = p[2];
    return c;
  }
};

TEST(MaskDrawing, InvertedShowsTheSelectionInverted) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(20, 10, 1));
  POINT r[] = {{3, 2}, {9, 2}, {9, 7}, {3, 7}};
  m.FillPolygon(1, r, 4);
  Dib d(40, 20, 0x30);
  m.DrawInverted(d.bmp.GetDC(), 0, 0, 40, 20, 0, 0, 20, 10);  // zoomed 2x
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      bool sel = m.GetPixel(x / 2, y / 2) != 0;
      ASSERT_EQ(d.At(x, y).g, sel ? 0xCF : 0x30) << x << "," << y;
    }
}

TEST(MaskDrawing, BorderStripesFollowThePhase) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(24, 24, 1));
  POINT r[] = {{4, 5}, {16, 5}, {16, 19}, {4, 19}};
  m.FillPolygon(1, r, 4);
  const TColor c1 = RGB(255, 0, 0), c2 = RGB(0, 0, 255);
  for (int zoom : {1, 2}) {
    for (int phase : {0, 1, 5}) {
      SCOPED_TRACE(testing::Message() << "zoom " << zoom << ", phase " << phase);
      Dib d(60, 60, 0x40);
      m.DrawBorder(d.bmp.GetDC(), 3, 2, 24 * zoom, 24 * zoom, 0, 0, 24, 24, phase, c1, c2, nullptr);
      int drawn = 0;
      const int x0 = 4 * zoom, x1 = 16 * zoom - 1, y0 = 5 * zoom, y1 = 19 * zoom - 1;  // the selection shown
      for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
          int mx = x - 3, my = y - 2;
          bool inside = mx >= x0 && mx <= x1 && my >= y0 && my <= y1;
          bool edge = inside && (mx == x0 || mx == x1 || my == y0 || my == y1);
          TIERGB c = d.At(x, y);
          if (!edge) {
            ASSERT_EQ(c.g, 0x40) << x << "," << y;
            ASSERT_EQ(c.r, 0x40);
            continue;
          }
          ++drawn;
          bool second = ((x + y + phase) % 8) < 4;
          ASSERT_EQ(c.b, second ? 255 : 0) << x << "," << y;
          ASSERT_EQ(c.r, second ? 0 : 255) << x << "," << y;
        }
      EXPECT_EQ(drawn, 2 * (x1 - x0 + 1) + 2 * (y1 - y0 - 1));
    }
  }
}

TEST(MaskDrawing, OverlayMarksOnlyTheUnselectedArea) {
  TIEMask m;
  ASSERT_TRUE(m.Allocate(8, 8, 8));
  for (int y = 2; y < 5; ++y) m.FillSpan(255, 2, 5, y);
  m.RecomputeBoundingBox();
  {
    Dib d(10, 10, 200);
    m.DrawOverlay(&d.bmp, 0, 0, 8, 8, 0, 0, 8, 8, -1, 0);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        bool sel = x < 8 && y < 8 && m.GetPixel(x, y) != 0;
        bool marked = x < 8 && y < 8 && !sel && ((x + y) % 2 == 0);
        ASSERT_EQ(d.At(x, y).r, marked ? 97 : 200) << x << "," << y;
      }
  }
  {
    Dib d(16, 16, 0);
    // zoomed 2x at a negative origin: the hidden part moves the source origin
    m.DrawOverlay(&d.bmp, -4, -4, 16, 16, 0, 0, 8, 8, 128, RGB(255, 255, 255));
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) {
        bool sel = m.GetPixel((x + 4) / 2, (y + 4) / 2) != 0;
        ASSERT_EQ(d.At(x, y).b, sel ? 0 : 128) << x << "," << y;
      }
  }
}

}  // namespace
