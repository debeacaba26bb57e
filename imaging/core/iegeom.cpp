#include "iegeom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ieutils.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFar = 1000000.0;        // "not near": what a hit test compares against
constexpr int kFarAxis = 45000;           // beyond this on one axis an end point counts as far away
constexpr double kNoDistance = 2147483647.0;

// Cosines computed from rounded lengths can leave -1..1 by an ulp; clamping keeps straight-back
// directions at pi instead of falling to 0 or NaN.
double ClampCos(double c) { return c < -1 ? -1 : (c > 1 ? 1 : c); }

}  // namespace

bool IEPointInRect(int x, int y, int x1, int y1, int x2, int y2) { return x1 <= x && x <= x2 && y1 <= y && y <= y2; }

bool IEPointInNormalizedRect(int x, int y, int x1, int y1, int x2, int y2) {
  IEOrderCorners(x1, y1, x2, y2);
  return IEPointInRect(x, y, x1, y1, x2, y2);
}

bool IESegmentBoxIntersectsRect(int x1, int y1, int x2, int y2, int rx1, int ry1, int rx2, int ry2) {
  IEOrderCorners(x1, y1, x2, y2);
  IEOrderCorners(rx1, ry1, rx2, ry2);
  return x1 <= rx2 && rx1 <= x2 && y1 <= ry2 && ry1 <= y2;
}

RECT IEExpandRectToPoint(RECT r, int x, int y) {
  r.left = std::min<LONG>(r.left, x);
  r.top = std::min<LONG>(r.top, y);
  r.right = std::max<LONG>(r.right, x);
  r.bottom = std::max<LONG>(r.bottom, y);
  return r;
}

void IEFitSizeInBox(int width, int height, int boxWidth, int boxHeight, int& newWidth, int& newHeight) {
  if (width == 0 || height == 0) return;
  double factor = std::min(double(boxHeight) / height, double(boxWidth) / width);
  newWidth = std::max(1, int(std::trunc(width * factor)));
  newHeight = std::max(1, int(std::trunc(height * factor)));
}

double IEDistance(double x1, double y1, double x2, double y2) { return std::hypot(x2 - x1, y2 - y1); }

double IEDistanceToLine(int px, int py, int x1, int y1, int x2, int y2) {
  double a = double(y1) - y2, b = double(x2) - x1;
  return std::fabs(a * px + b * py + double(x1) * y2 - double(x2) * y1) / std::sqrt(a * a + b * b);
}

double IEDistanceToSegment(int px, int py, int x1, int y1, int x2, int y2) {
  if (x1 == x2 && y1 == y2) return IEDistance(px, py, x1, y1);
  double dx = double(x2) - x1, dy = double(y2) - y1;
  double t = ((double(px) - x1) * dx + (double(py) - y1) * dy) / (dx * dx + dy * dy);
  if (t > 1) {
    if (std::abs(double(px) - x2) > kFarAxis || std::abs(double(py) - y2) > kFarAxis) return kFar;
    return IEDistance(px, py, x2, y2);
  }
  if (t < 0) {
    if (std::abs(double(px) - x1) > kFarAxis || std::abs(double(py) - y1) > kFarAxis) return kFar;
    return IEDistance(px, py, x1, y1);
  }
  double d = IEDistanceToLine(px, py, x1, y1, x2, y2);
  return std::isfinite(d) ? d : kFar;
}

namespace {

double IEDistanceToPolylineSegment(int px, int py, const POINT& a, const POINT& b, int penWidth) {
  double d = IEDistanceToSegment(px, py, a.x, a.y, b.x, b.y);
  if (penWidth > 1) {
    int h = penWidth / 2;
    for (int dx = -h; dx <= h; ++dx)
      for (int dy = 2; dy <= h; ++dy)
        d = std::min(d, IEDistanceToSegment(px, py, a.x + dx, a.y + dy, b.x + dx, b.y + dy));
  }
  return d;
}

}  // namespace

double IEDistanceToPolyline(int px, int py, const POINT* points, int count, int originX, int originY, int offsetX,
                            int offsetY, double zoomX, double zoomY, int penWidth, bool closed) {
  double result = kFar;
  if (count <= 0) return result;
  auto map = [&](const POINT& p) {
    POINT q;
    q.x = IERound(zoomX * (p.x - originX) + offsetX);
    q.y = IERound(zoomY * (p.y - originY) + offsetY);
    return q;
  };
  POINT prev = map(points[0]);
  const POINT first = prev;
  for (int i = 1; i < count; ++i) {
    POINT cur = map(points[i]);
    result = std::min(result, IEDistanceToPolylineSegment(px, py, prev, cur, penWidth));
    prev = cur;
  }
  if (closed) result = std::min(result, IEDistanceToPolylineSegment(px, py, prev, first, penWidth));
  return result;
}

double IEDistanceToEllipse(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth) {
  double result = kNoDistance;
  int h = penWidth / 2;
  for (int k = -h; k <= h; ++k) {
    int rx = (x2 - x1) / 2 + k, ry = (y2 - y1) / 2 + k;
    int qx = px - (x1 + rx) + k, qy = py - (y1 + ry) + k;
    int v = int(std::trunc(2 * kPi * std::min(rx, ry)));
    if (!filled) v /= 8;
    v = std::max(v, 2);
    int prevX = rx, prevY = 0;
    // The outline runs through vertex v, which is the starting point again, so that the last arc
    // (just above the positive x axis) is tested too.
    for (int i = 1; i <= v; ++i) {
      double angle = 2 * kPi * i / v;
      int vx = i == v ? rx : int(std::trunc(std::cos(angle) * rx));
      int vy = i == v ? 0 : int(std::trunc(std::sin(angle) * ry));
      double d = filled ? std::trunc(IEDistanceToSegment(qx, qy, 0, 0, vx, vy))
                        : IEDistanceToSegment(qx, qy, prevX, prevY, vx, vy);
      result = std::min(result, d);
      prevX = vx;
      prevY = vy;
    }
  }
  return result;
}

double IEDistanceToRectEdges(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth) {
  double result = kNoDistance;
  int h = penWidth / 2;
  for (int k = -h; k <= h; ++k) {
    int ax = x1 + k, ay = y1 + k, bx = x2 + k, by = y2 + k;
    double d = result;
    d = std::min(d, IEDistanceToSegment(px, py, ax, ay, bx, ay));
    d = std::min(d, IEDistanceToSegment(px, py, bx, ay, bx, by));
    d = std::min(d, IEDistanceToSegment(px, py, bx, by, ax, by));
    d = std::min(d, IEDistanceToSegment(px, py, ax, by, ax, ay));
    if (filled && IEPointInRect(px, py, ax, ay, bx, by)) return 0;
    result = d;
  }
  return result;
}

double IEArcTan2(double y, double x) { return std::atan2(y, x); }

double IEArcCos(double c) { return std::atan2(std::sqrt(std::max(0.0, 1 - c * c)), c); }

double IEVectorsAngle(int x1, int y1, int x2, int y2, int x3, int y3) {
  double ax = double(x2) - x1, ay = double(y2) - y1, bx = double(x3) - x2, by = double(y3) - y2;
  double la = std::sqrt(ax * ax + ay * ay), lb = std::sqrt(bx * bx + by * by);
  if (la == 0 || lb == 0) return 0;
  return IEArcCos(ClampCos((ax * bx + ay * by) / (la * lb)));
}

double IELineAngle(int x1, int y1, int x2, int y2) {
  if (x1 == x2) {
    if (y2 < y1) return kPi / 2;
    if (y2 > y1) return 3 * kPi / 2;
    return 0;
  }
  if (y1 == y2) return x2 < x1 ? kPi : 0;
  if (x2 > x1 && y2 < y1) return kPi - IEVectorsAngle(x2, y2, x1, y1, x2, y1);  // right and up
  double a = IEVectorsAngle(x2, y1, x1, y1, x2, y2);
  if (x2 > x1) return kPi + a;       // right and down
  if (y2 > y1) return 2 * kPi - a;   // left and down
  return a;                          // left and up
}

int IETurnDirection(int x1, int y1, int x2, int y2, int x3, int y3) {
  int64_t d1x = int64_t(x2) - x1, d1y = int64_t(y2) - y1, d2x = int64_t(x3) - x1, d2y = int64_t(y3) - y1;
  if (d1x * d2y > d1y * d2x) return 1;
  if (d1x * d2y < d1y * d2x) return -1;
  if (d1x * d2x < 0 || d1y * d2y < 0) return -1;
  if (d1x * d1x + d1y * d1y < d2x * d2x + d2y * d2y) return 1;
  return 0;
}

double IEAngleAtVertex(int x1, int y1, int x2, int y2, int x3, int y3) {
  auto side = [](int ax, int ay, int bx, int by) {
    double d = IEDistance(ax, ay, bx, by);
    return d == 0 ? 1.0 : d;
  };
  double a = side(x2, y2, x3, y3), c = side(x1, y1, x2, y2), b = side(x1, y1, x3, y3);
  double angle = IEArcCos(ClampCos((a * a + c * c - b * b) / (2 * a * c)));
  if (IETurnDirection(x1, y1, x2, y2, x3, y3) == -1) angle = 2 * kPi - angle;
  return angle;
}

void IESnapLineAngle(int ax, int ay, int& x, int& y) {
  int sx = ax - x, sy = ay - y, dx = std::abs(sx), dy = std::abs(sy);
  if (dy > dx + 30) {
    x = ax;
    return;
  }
  if (dy < dx - 30) {
    y = ay;
    return;
  }
  int d = std::abs(dx - dy);
  bool taller = dy > dx;
  if (sx < 0 && sy < 0) {
    if (taller) x += d; else y += d;
  } else if (sx > 0 && sy > 0) {
    if (taller) y += d; else x += d;
  } else if (sx > 0) {
    if (taller) x -= d; else y += d;
  } else if (sy > 0) {
    if (taller) x += d; else y -= d;
  }
}

void IERotatePoints(POINT* points, int highIndex, double angleDegrees, int cx, int cy) {
  double r = -angleDegrees * kPi / 180;
  double c = std::cos(r), s = std::sin(r);
  for (int i = 0; i <= highIndex; ++i) {
    double x = double(points[i].x) - cx, y = double(points[i].y) - cy;
    // cos and sin of right angles are not exact (cos 90 degrees is 6e-17), so a quarter turn of (10, -5)
    // comes out as -4.9999999999999994: the noise goes before truncating
    points[i].x = cx + LONG(std::trunc(std::round((c * x - s * y) * 1e9) / 1e9));
    points[i].y = cy + LONG(std::trunc(std::round((s * x + c * y) * 1e9) / 1e9));
  }
}

namespace {

template <typename GetX, typename GetY>
bool EvenOdd(double x, double y, int count, GetX gx, GetY gy) {
  bool inside = false;
  for (int i = 0, j = count - 1; i < count; j = i++) {
    double xi = gx(i), yi = gy(i), xj = gx(j), yj = gy(j);
    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
  }
  return inside;
}

}  // namespace

bool IEPointInPolygon(int x, int y, const POINT* points, int highIndex) {
  return EvenOdd(x, y, highIndex + 1, [&](int i) { return double(points[i].x); },
                 [&](int i) { return double(points[i].y); });
}

bool IEPointInPolygonTransformed(int x, int y, const POINT* points, int count, int originX, int originY, int offsetX,
                                 int offsetY, double zoomX, double zoomY) {
  return EvenOdd(x, y, count, [&](int i) { return zoomX * (points[i].x - originX) + offsetX; },
                 [&](int i) { return zoomY * (points[i].y - originY) + offsetY; });
}
