#include "iegeom.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
const double kPi = 3.14159265358979323846;
}

TEST(IEGeom, RectanglesAndFit) {
  EXPECT_TRUE(IEPointInRect(10, 10, 0, 0, 10, 10));
  EXPECT_FALSE(IEPointInRect(5, 5, 10, 10, 0, 0));  // as given: corners not ordered
  EXPECT_TRUE(IEPointInNormalizedRect(5, 5, 10, 10, 0, 0));
  EXPECT_TRUE(IESegmentBoxIntersectsRect(0, 0, 10, 10, 10, 10, 20, 20));  // touching corner
  EXPECT_FALSE(IESegmentBoxIntersectsRect(0, 0, 9, 9, 10, 10, 20, 20));
  EXPECT_TRUE(IESegmentBoxIntersectsRect(30, 0, -5, 3, 20, 20, 0, 0));
  RECT r = {0, 0, 10, 10};
  r = IEExpandRectToPoint(r, -3, 15);
  EXPECT_EQ(r.left, -3); EXPECT_EQ(r.top, 0); EXPECT_EQ(r.right, 10); EXPECT_EQ(r.bottom, 15);
  struct Fit { int w, h, bw, bh, nw, nh; } const kFits[] = {
      {400, 200, 100, 100, 100, 50}, {1, 1000, 10, 10, 1, 10}, {30, 40, 300, 300, 225, 300}, {100, 100, 100, 100, 100, 100}};
  for (const Fit& f : kFits) {
    int nw = -1, nh = -1;
    IEFitSizeInBox(f.w, f.h, f.bw, f.bh, nw, nh);
    EXPECT_EQ(nw, f.nw) << f.w << "x" << f.h;
    EXPECT_EQ(nh, f.nh) << f.w << "x" << f.h;
  }
  int nw = -1, nh = -1;
  IEFitSizeInBox(0, 10, 5, 5, nw, nh);
  EXPECT_EQ(nw, -1);  // untouched
}

TEST(IEGeom, Distances) {
  struct Seg { int px, py, x1, y1, x2, y2; double d; } const kSegs[] = {
      {0, 0, 10, 0, 20, 0, 10},   {15, 5, 10, 0, 20, 0, 5},   {25, 0, 10, 0, 20, 0, 5},
      {3, 4, 0, 0, 0, 0, 5},      {0, 5, 0, 0, 10, 10, std::sqrt(12.5)},
      {50020, 0, 10, 0, 20, 0, 1000000}, {-50000, 0, 10, 0, 20, 0, 1000000}};
  for (const Seg& s : kSegs)
    EXPECT_NEAR(IEDistanceToSegment(s.px, s.py, s.x1, s.y1, s.x2, s.y2), s.d, 1e-9) << s.px << "," << s.py;
  EXPECT_NEAR(IEDistanceToLine(0, 5, 0, 0, 10, 0), 5, 1e-12);
  EXPECT_NEAR(IEDistanceToLine(100, 5, 0, 0, 10, 0), 5, 1e-12);  // the line, not the segment
  EXPECT_DOUBLE_EQ(IEDistance(0, 0, 3, 4), 5);

  const POINT poly[] = {{0, 0}, {10, 0}, {10, 10}};
  EXPECT_DOUBLE_EQ(IEDistanceToPolyline(5, 3, poly, 3, 0, 0, 0, 0, 1, 1, 1, false), 3);
  EXPECT_DOUBLE_EQ(IEDistanceToPolyline(0, 8, poly, 3, 0, 0, 0, 0, 1, 1, 1, false), 8);
  EXPECT_NEAR(IEDistanceToPolyline(0, 8, poly, 3, 0, 0, 0, 0, 1, 1, 1, true), 8 / std::sqrt(2.0), 1e-9);  // closing edge
  // Zoomed x2 and offset by 100: the view point (110, 106) is 6 above the mapped first edge.
  EXPECT_DOUBLE_EQ(IEDistanceToPolyline(110, 106, poly, 3, 0, 0, 100, 100, 2, 2, 1, false), 6);
  EXPECT_DOUBLE_EQ(IEDistanceToPolyline(5, 5, poly, 0, 0, 0, 0, 0, 1, 1, 1, false), 1000000);
  // A wide pen comes closer.
  EXPECT_LT(IEDistanceToPolyline(5, 3, poly, 3, 0, 0, 0, 0, 1, 1, 5, false), 3);

  // Rectangle outline 0..100: the centre is 50 from every edge; filled it is a hit.
  EXPECT_DOUBLE_EQ(IEDistanceToRectEdges(50, 50, 0, 0, 100, 100, false, 1), 50);
  EXPECT_DOUBLE_EQ(IEDistanceToRectEdges(50, 50, 0, 0, 100, 100, true, 1), 0);
  EXPECT_DOUBLE_EQ(IEDistanceToRectEdges(50, 103, 0, 0, 100, 100, false, 1), 3);
  EXPECT_DOUBLE_EQ(IEDistanceToRectEdges(50, 103, 0, 0, 100, 100, false, 5), 1);

  // Circle of radius 50 centred at (50, 50): a point on the outline is (nearly) on it; the centre is
  // about 50 away from the outline but a hit when filled.
  EXPECT_LT(IEDistanceToEllipse(100, 50, 0, 0, 100, 100, false, 1), 1.0);
  EXPECT_LT(IEDistanceToEllipse(50, 0, 0, 0, 100, 100, false, 1), 1.5);
  EXPECT_NEAR(IEDistanceToEllipse(50, 50, 0, 0, 100, 100, false, 1), 50, 2.5);
  EXPECT_EQ(IEDistanceToEllipse(50, 50, 0, 0, 100, 100, true, 1), 0);
  EXPECT_NEAR(IEDistanceToEllipse(170, 50, 0, 0, 100, 100, false, 1), 70, 1.0);
  // Just above the positive x axis (the last arc of the outline) is as near as elsewhere.
  double lastArc = IEDistanceToEllipse(50 + int(50 * std::cos(-0.08)), 50 + int(50 * std::sin(-0.08)), 0, 0, 100, 100, false, 1);
  EXPECT_LT(lastArc, 1.5);
}

TEST(IEGeom, Angles) {
  EXPECT_NEAR(IEArcCos(-1), kPi, 1e-12);
  EXPECT_NEAR(IEArcCos(1), 0, 1e-12);
  EXPECT_NEAR(IEVectorsAngle(0, 0, 10, 0, 20, 0), 0, 1e-12);
  EXPECT_NEAR(IEVectorsAngle(0, 0, 10, 0, 0, 0), kPi, 1e-12);
  EXPECT_NEAR(IEVectorsAngle(0, 0, 7, 3, 0, 0), kPi, 1e-7);  // back along an oblique line
  EXPECT_NEAR(IEVectorsAngle(0, 0, 10, 0, 10, 10), kPi / 2, 1e-12);
  EXPECT_EQ(IEVectorsAngle(0, 0, 0, 0, 10, 10), 0);
  struct Line { int x1, y1, x2, y2; double a; } const kLines[] = {
      {0, 10, 0, 0, kPi / 2}, {0, 0, 10, 0, 0},           {10, 0, 0, 0, kPi},          {0, 0, 0, 10, 3 * kPi / 2},
      {0, 0, 0, 0, 0},        {0, 0, 10, -10, kPi / 4},   {0, 0, -10, -10, 3 * kPi / 4}, {0, 0, -10, 10, 5 * kPi / 4},
      {0, 0, 10, 10, 7 * kPi / 4}, {0, 0, 10, -5, std::atan2(5.0, 10.0)}};
  for (const Line& l : kLines) EXPECT_NEAR(IELineAngle(l.x1, l.y1, l.x2, l.y2), l.a, 1e-9) << l.x2 << "," << l.y2;
  struct Turn { int x1, y1, x2, y2, x3, y3, t; } const kTurns[] = {
      {0, 0, 10, 0, 10, 10, 1}, {0, 0, 10, 0, 10, -10, -1}, {0, 0, 10, 0, -5, 0, -1}, {0, 0, 10, 0, 20, 0, 1},
      {0, 0, 10, 0, 5, 0, 0}};
  for (const Turn& t : kTurns) EXPECT_EQ(IETurnDirection(t.x1, t.y1, t.x2, t.y2, t.x3, t.y3), t.t);
  EXPECT_NEAR(IEAngleAtVertex(0, 0, 10, 0, 10, 10), kPi / 2, 1e-9);
  EXPECT_NEAR(IEAngleAtVertex(0, 0, 10, 0, 10, -10), 3 * kPi / 2, 1e-9);
  EXPECT_NEAR(IEAngleAtVertex(0, 0, 10, 0, 20, 0), kPi, 1e-9);
}

TEST(IEGeom, SnapRotateAndPolygons) {
  struct Snap { int ax, ay, x, y, sx, sy; } const kSnaps[] = {
      {0, 0, 100, 10, 100, 0}, {0, 0, 10, 8, 10, 10},    {0, 0, 5, 100, 0, 100},  {0, 0, 10, 12, 12, 12},
      {0, 0, -10, -8, -8, -8},  /* left of and above: the longer extent shrinks */ {0, 0, -12, -10, -10, -10}, {0, 0, -10, 8, -10, 10}, {0, 0, 10, -8, 10, -10},
      {0, 0, 0, 20, 0, 20}};
  for (const Snap& s : kSnaps) {
    int x = s.x, y = s.y;
    IESnapLineAngle(s.ax, s.ay, x, y);
    EXPECT_EQ(x, s.sx) << s.x << "," << s.y;
    EXPECT_EQ(y, s.sy) << s.x << "," << s.y;
  }
  POINT p[2] = {{10, 0}, {0, 10}};
  IERotatePoints(p, 1, 90, 0, 0);  // counter-clockwise on the screen
  EXPECT_EQ(p[0].x, 0); EXPECT_EQ(p[0].y, -10);
  EXPECT_EQ(p[1].x, 10); EXPECT_EQ(p[1].y, 0);
  POINT q[1] = {{20, 10}};
  IERotatePoints(q, 0, 180, 10, 10);
  EXPECT_EQ(q[0].x, 0); EXPECT_EQ(q[0].y, 10);
  // a quarter turn lands on whole pixels, not one short of them (cos 90 degrees is not exactly 0)
  POINT corners[4] = {{0, 0}, {20, 0}, {20, 10}, {0, 10}};
  IERotatePoints(corners, 3, 90, 10, 5);
  const POINT turned[4] = {{5, 15}, {5, -5}, {15, -5}, {15, 15}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(turned[k].x, corners[k].x) << k;
    EXPECT_EQ(turned[k].y, corners[k].y) << k;
  }

  const POINT square[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  EXPECT_TRUE(IEPointInPolygon(0, 5, square, 3));    // left edge inside
  EXPECT_FALSE(IEPointInPolygon(10, 5, square, 3));  // right edge outside
  EXPECT_TRUE(IEPointInPolygon(5, 5, square, 3));
  EXPECT_FALSE(IEPointInPolygon(15, 5, square, 3));
  const POINT bow[] = {{0, 0}, {10, 10}, {10, 0}, {0, 10}};  // self-crossing: even-odd
  EXPECT_TRUE(IEPointInPolygon(2, 5, bow, 3));
  EXPECT_FALSE(IEPointInPolygon(5, 2, bow, 3));
  EXPECT_TRUE(IEPointInPolygonTransformed(115, 115, square, 4, 0, 0, 100, 100, 2, 2));
  EXPECT_FALSE(IEPointInPolygonTransformed(125, 115, square, 4, 0, 0, 100, 100, 2, 2));
}
