// Region builders, point rotation, the mirrored stretch and the painters with exact geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ieregions.h"
#include "ietransitiontable.h"
#include "transitionfixture.h"
#include "uibitmap.h"

using namespace ui;

namespace {
constexpr double kPi = 3.14159265358979323846;

// Owns a region for one check.
struct Region {
  HRGN h;
  explicit Region(HRGN r) : h(r) {}
  ~Region() {
    if (h) DeleteObject(h);
  }
  bool In(int x, int y) const { return PtInRegion(h, x, y) != 0; }
};

// A 24-bit bitmap whose column x has red 8x (mod 256), green 8y: a mirrored or moved copy shows where
// each pixel came from.
std::unique_ptr<TBitmap> Gradient(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x) {
      row[3 * x] = 0;
      row[3 * x + 1] = uint8_t(8 * y);
      row[3 * x + 2] = uint8_t(8 * x);
    }
  }
  return b;
}


int Red(TBitmap* b, int x, int y) {
  GdiFlush();
  return static_cast<const uint8_t*>(b->ScanLine(y))[3 * x + 2];
}
}  // namespace

TEST(ComplexRegion, GrowsInBlocksAndKeepsEveryRectangle) {
  TComplexRegion list;
  EXPECT_EQ(nullptr, list.CreateRegion());
  for (int i = 0; i < 501; ++i) {
    list.AddRect(i, 0, i + 1, 1);
    if (i == 0) {
      EXPECT_EQ(500, list.GetCapacity());
    }
  }
  EXPECT_EQ(1000, list.GetCapacity());
  EXPECT_EQ(501, list.GetCount());
  EXPECT_EQ(500, list.Rects()[500].left);
  const RECT ext = list.GetRegionExtent();
  EXPECT_EQ(0, ext.left);
  EXPECT_EQ(501, ext.right);
  Region r(list.CreateRegion());
  RECT box;
  ASSERT_EQ(SIMPLEREGION, GetRgnBox(r.h, &box));
  EXPECT_EQ(501, box.right);
}

// A long list is made in runs merged together: the region must still be the union of all its
// rectangles, overlapping, empty and inverted ones among them.
TEST(ComplexRegion, ALongListGivesTheUnionOfItsRectangles) {
  TComplexRegion list;
  TIERandom rng(99);
  Region expected(CreateRectRgn(0, 0, 0, 0));
  for (int i = 0; i < 1500; ++i) {
    const int x = rng.Random(300), y = rng.Random(200), w = rng.Random(40) - 5, h = rng.Random(30) - 5;
    list.AddRect(x, y, x + w, y + h);
    if (w > 0 && h > 0) {
      Region one(CreateRectRgn(x, y, x + w, y + h));
      CombineRgn(expected.h, expected.h, one.h, RGN_OR);
    }
  }
  Region r(list.CreateRegion());
  ASSERT_NE(nullptr, r.h);
  EXPECT_TRUE(EqualRgn(r.h, expected.h));
  RECT box;
  GetRgnBox(r.h, &box);
  EXPECT_GT(box.right - box.left, 250);  // not trivially empty
}

TEST(BarsRegion, FirstAndSecondPhaseFromTheRight) {
  struct Case {
    int X;
    int x, y;
    bool in;
  };
  // bands 7 pixels thick (300 div 50 + 1)
  const Case kCases[] = {
      {100, 300, 0, true},  {100, 299, 0, false}, {100, 399, 6, true},  {100, 350, 7, false},
      {100, 350, 14, true}, {100, 350, 20, true}, {100, 350, 21, false},
      {500, 0, 0, true},    {500, 0, 6, true},    {500, 299, 7, false}, {500, 300, 7, true},
      {500, 399, 13, true}, {500, 0, 14, true},   {500, 0, 299, true},
  };
  for (const Case& c : kCases) {
    Region r(CreateBarsRegion(c.X, 0, 400, 300, 1, 0));
    EXPECT_EQ(c.in, r.In(c.x, c.y)) << "X " << c.X << " at " << c.x << "," << c.y;
  }
  // no extent: empty rectangles make an empty region, not a missing one
  Region empty(CreateBarsRegion(0, 0, 400, 300, 1, 0));
  ASSERT_NE(nullptr, empty.h);
  RECT box;
  EXPECT_EQ(NULLREGION, GetRgnBox(empty.h, &box));
}

TEST(ShreddedAndSpeckledRegions, ExactOnceTheExtentReachesTheFrame) {
  TIERandom rng(99);
  Region shreds(CreateShreddedRegion(400, 0, 400, 300, 2, 0, rng));
  Region speckles(CreateSpeckledRegion(400, 0, 400, 300, 2, 0, rng));
  for (int y : {0, 1, 150, 299})
    for (int x : {0, 200, 399}) {
      EXPECT_TRUE(shreds.In(x, y)) << x << "," << y;
      EXPECT_TRUE(speckles.In(x, y)) << x << "," << y;
    }
  // short of the frame the shreds are jagged around the extent, within a tenth of the frame
  Region jagged(CreateShreddedRegion(200, 0, 400, 300, 2, 0, rng));
  int beyond = 0;
  for (int y = 0; y < 300; ++y) {
    EXPECT_TRUE(jagged.In(159, y)) << y;
    EXPECT_FALSE(jagged.In(240, y)) << y;
    beyond += jagged.In(200, y);
  }
  EXPECT_GT(beyond, 0);
  EXPECT_LT(beyond, 300);
}

TEST(FanRegion, CoversItsWholeSweep) {
  Region full(CreateFanRegion(100, 100, 90, -kPi / 2, 3 * kPi / 2, 100));
  // just before twelve o'clock, inside the last 3.6-degree step
  EXPECT_TRUE(full.In(98, 40));
  EXPECT_TRUE(full.In(102, 40));
  Region quarter(CreateFanRegion(100, 100, 90, -kPi / 2, 0, 25));
  EXPECT_TRUE(quarter.In(150, 60));   // upper right
  EXPECT_FALSE(quarter.In(50, 60));   // upper left
  EXPECT_FALSE(quarter.In(150, 140)); // lower right
  EXPECT_EQ(nullptr, CreateFanRegion(0, 0, 10, 0, 1, 0));
}

TEST(RotatePoints, PositiveAnglesTurnClockwiseOnTheScreen) {
  POINT pts[2] = {{110, 100}, {100, 90}};
  RotatePointsRadians(pts, 1, 100, 100, kPi / 2);
  EXPECT_EQ(100, pts[0].x);
  EXPECT_EQ(110, pts[0].y);  // right turns to below
  EXPECT_EQ(110, pts[1].x);
  EXPECT_EQ(100, pts[1].y);  // above turns to the right
}

TEST(StretchDrawMirrored, MirrorsExactlyIntoTheDestination) {
  auto src = Gradient(20, 10);
  auto dst = Flat(20, 10, clBlack);
  StretchDrawMirrored(dst->Canvas(), RECT{5, 0, 10, 10}, src.get(), RECT{10, 0, 15, 10}, true, false);
  for (int x = 5; x < 10; ++x) EXPECT_EQ(8 * (19 - x), Red(dst.get(), x, 3)) << x;
  EXPECT_EQ(0, Red(dst.get(), 4, 3));
  EXPECT_EQ(0, Red(dst.get(), 10, 3));
  // a source partly outside the bitmap: only the part inside is drawn, over the whole destination
  auto dst2 = Flat(20, 10, clBlack);
  StretchDrawMirrored(dst2->Canvas(), RECT{0, 0, 4, 10}, src.get(), RECT{18, 0, 22, 10}, true, false);
  EXPECT_NEAR(8 * 19, Red(dst2.get(), 0, 3), 4);
  EXPECT_NEAR(8 * 18, Red(dst2.get(), 3, 3), 4);
}

TEST(TransitionPainters, ScaledSizeKeepsTheAspect) {
  int W, H, sw, sh;
  ScaledTransitionSize(RECT{0, 0, 300, 200}, 50, W, H, sw, sh);
  EXPECT_EQ(150, sw);
  EXPECT_EQ(100, sh);
  ScaledTransitionSize(RECT{0, 0, 200, 300}, 100, W, H, sw, sh);
  EXPECT_EQ(200, sw);
  EXPECT_EQ(300, sh);
}

// The roll of "Unroll from Left" on a 100-wide frame: half the unrolled part near the start, half the
// rest near the end, a tenth between; it shows the next columns mirrored.
TEST(TransitionPainters, UnrollRollWidths) {
  struct Case {
    int progress, roll;
  };
  const Case kCases[] = {{10, 5}, {85, 7}, {50, 10}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.progress);
    auto to = Gradient(100, 50);
    auto frame = Flat(100, 50, clBlack);
    TIERandom rng;
    PaintTransitionEffect(61, frame->Canvas(), nullptr, to.get(), RECT{0, 0, 100, 50}, 1, c.progress, rng);
    const int sw = c.progress, r = c.roll;
    for (int x = 0; x < sw; ++x) ASSERT_EQ(8 * x % 256, Red(frame.get(), x, 7)) << x;
    // column sw + i shows to-column sw + 2r - 1 - i
    for (int i = 0; i < r; ++i) ASSERT_NEAR(8 * (sw + 2 * r - 1 - i) % 256, Red(frame.get(), sw + i, 7), 3) << i;
    EXPECT_EQ(0, Red(frame.get(), sw + r, 7));
  }
}

// The frame pushes move what the previous step left: two steps of sw 10 and 20 move the old picture
// by 30 columns.
TEST(TransitionPainters, FramePushMovesThePreviousFrame) {
  auto frame = Gradient(100, 50);
  auto to = Flat(100, 50, clBlack);
  TIERandom rng;
  for (int progress : {10, 20})
    PaintTransitionEffect(151, frame->Canvas(), nullptr, to.get(), RECT{0, 0, 100, 50}, 1, progress, rng);
  for (int x = 0; x < 70; ++x) ASSERT_EQ(8 * (x + 30) % 256, Red(frame.get(), x, 4)) << x;
  for (int x = 70; x < 100; ++x) ASSERT_EQ(0, Red(frame.get(), x, 4)) << x;
}

// A 640 x 480 frame at step 1 gives a 4 x 4 grid of triangles 213 x 160 apart.
TEST(TransitionPainters, TriangularWipeGrid) {
  TIERandom rng;
  Region r(CreateTransitionRegion(184, RECT{0, 0, 640, 480}, 1, 50, rng, nullptr));
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) {
      EXPECT_TRUE(r.In(j * 213 - 5, i * 160 - 5)) << i << "," << j;
      EXPECT_TRUE(r.In(j * 213 + 90, i * 160 - 75)) << i << "," << j;  // near the right corner
      EXPECT_FALSE(r.In(j * 213 + 60, i * 160 + 40)) << i << "," << j;  // beyond the long side
    }
  EXPECT_TRUE(r.In(3 * 213 - 5, 3 * 160 - 5));
}

// Random big boxes decide each box by the same number on every step: the set only grows, and the
// engine's generator is left alone.
TEST(TransitionPainters, RandomBigBoxesOnlyGrow) {
  auto to = Flat(200, 120, clBlack);
  TIERandom rng(5);
  int last = -1;
  for (int progress : {0, 10, 30, 31, 60, 99, 100}) {
    Region r(CreateTransitionRegion(185, RECT{0, 0, 200, 120}, 1, progress, rng, to.get()));
    int shown = 0;
    for (int y = 0; y < 120; y += 3)
      for (int x = 0; x < 200; x += 3) shown += r.h && r.In(x, y);
    EXPECT_GE(shown, last) << progress;
    if (progress == 0) {
      EXPECT_EQ(0, shown);
    }
    if (progress == 100) {
      EXPECT_EQ(67 * 40, shown);
    }
    last = shown;
  }
  EXPECT_EQ(5u, rng.Seed);
}
