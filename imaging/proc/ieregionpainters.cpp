// The regions of the painters that copy the to-picture through a clipping region.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ietransitiontable.h"
#include "uibitmap.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Combines `add` into `acc` (deleting `add`); either may be 0.
HRGN Combine(HRGN acc, HRGN add, int mode = RGN_OR) {
  if (!add) return acc;
  if (!acc) {
    if (mode == RGN_OR || mode == RGN_XOR) return add;
    DeleteObject(add);
    return nullptr;
  }
  CombineRgn(acc, acc, add, mode);
  DeleteObject(add);
  return acc;
}

HRGN Triangle(POINT a, POINT b, POINT c) { return CreateTriangleRegion(a.x, a.y, b.x, b.y, c.x, c.y); }

HRGN Polygon(const POINT* pts, int n) { return CreatePolygonRgn(pts, n, WINDING); }

// Odd multiples of n (n, 3n, ...) whose distance n below lies under limit.
template <class F>
void Centres(int n, int limit, F f) {
  for (int v = n; v - n < limit; v += 2 * n) f(v);
}

HRGN Rotated(POINT* pts, int n, int cx, int cy, double angle) {
  RotatePointsRadians(pts, n - 1, cx, cy, angle);
  return Polygon(pts, n);
}

HRGN Zigzag(int W, int H, int sw, int sh, int progress, bool horizon) {
  // Along the running axis the edge has 12 points a tenth of the frame apart; across it the two edges
  // open from the centre line with teeth of a tenth of the frame.
  const int across = horizon ? H : W, along = horizon ? W : H, s = horizon ? sh : sw;
  const int m = across / 10, step = along / 10, c = across / 2;
  const int e = MulDiv(m, progress, 100) + s / 2;
  const int v0 = c + m - e, v1 = c - m - e, v2 = c + m + e, v3 = c - m + e;
  POINT pts[24];
  for (int k = 0; k <= 11; ++k) {
    const int a = k * step, b = k % 2 == 0 ? v0 : v1;
    pts[k] = horizon ? POINT{a, b} : POINT{b, a};
  }
  for (int k = 11; k >= 0; --k) {
    const int a = k * step, b = k % 2 == 0 ? v2 : v3;
    pts[12 + (11 - k)] = horizon ? POINT{a, b} : POINT{b, a};
  }
  return Polygon(pts, 24);
}

}  // namespace

HRGN CreateTransitionRegion(int code, const RECT& rect, int step, int progress, TIERandom& rng, ui::TBitmap* to) {
  int W, H, sw, sh;
  ScaledTransitionSize(rect, progress, W, H, sw, sh);
  const int cx = W / 2, cy = H / 2;
  switch (code) {
    // curved and circular wipes
    case 77: return CreateRoundRectRgn(-2 * W, 0, 2 * sw, H + 1, 2 * W, 2 * W);
    case 78: return CreateRoundRectRgn(W - 2 * sw, 0, 3 * W, H + 1, 2 * W, 2 * W);
    case 79: return CreateRoundRectRgn(0, -2 * H, W + 1, 2 * sh, 2 * H, 2 * H);
    case 80: return CreateRoundRectRgn(0, H - 2 * sh, W + 1, 3 * H, 2 * H, 2 * H);
    case 81: return CreateRoundRectRgn(-W, -H, (3 * sw) / 2, (3 * sh) / 2, 2 * W, 2 * H);
    case 82: return CreateRoundRectRgn(W - (3 * sw) / 2, -H, 2 * W, (3 * sh) / 2, 2 * W, 2 * H);
    case 83: return CreateRoundRectRgn(-W, H - (3 * sh) / 2, (3 * sw) / 2, 2 * H, 2 * W, 2 * H);
    case 84: return CreateRoundRectRgn(W - (3 * sw) / 2, H - (3 * sh) / 2, 2 * W, 2 * H, 2 * W, 2 * H);
    case 117: return CreateRoundRectRgn(cx - sw, cy - sh, cx + sw, cy + sh, (9 * sw) / 5, (9 * sh) / 5);
    case 118:
      return Combine(CreateRectRgn(0, 0, W, H),
                     CreateRoundRectRgn(sw - cx, sh - cy, 3 * cx - sw, 3 * cy - sh, (9 * (W - sw)) / 5,
                                        (9 * (H - sh)) / 5),
                     RGN_XOR);

    // bars and crisscross wipes
    case 85: return CreateBarsRegion(2 * sw, 0, W, H, 2, 0);
    case 86: return CreateBarsRegion(2 * sw, 0, W, H, 1, 0);
    case 87: return CreateBarsRegion(0, 2 * sh, W, H, 0, 2);
    case 88: return CreateBarsRegion(0, 2 * sh, W, H, 0, 1);
    case 89: return CreateBarsRegion(2 * sw, 0, W, H, 4, 0);
    case 90: return CreateBarsRegion(2 * sw, 0, W, H, 5, 0);
    case 91: return CreateBarsRegion(0, 2 * sh, W, H, 0, 4);
    case 92: return CreateBarsRegion(0, 2 * sh, W, H, 0, 5);
    case 93: return CreateBarsRegion(sw, 0, W, H, 3, 0);
    case 94: return CreateBarsRegion(0, sh, W, H, 0, 3);
    case 119: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 2, 2);
    case 120: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 1, 2);
    case 121: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 2, 1);
    case 122: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 1, 1);
    case 123: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 4, 4);
    case 124: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 5, 4);
    case 125: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 4, 5);
    case 126: return CreateBarsRegion(2 * sw, 2 * sh, W, H, 5, 5);
    case 127: return CreateBarsRegion(sw, sh, W, H, 3, 2);
    case 128: return CreateBarsRegion(sw, sh, W, H, 3, 1);
    case 129: return CreateBarsRegion(sw, sh, W, H, 2, 3);
    case 130: return CreateBarsRegion(sw, sh, W, H, 3, 3);
    case 131: return CreateBarsRegion(sw, sh, W, H, 1, 3);
    case 132:
      return Combine(CreateBarsRegion(2 * sw, 2 * sh, W, H, 1, 1), CreateBarsRegion(2 * sw, 2 * sh, W, H, 2, 2),
                     RGN_AND);

    // shredded and speckled wipes
    case 95: return CreateShreddedRegion(sw, 0, W, H, 2, 0, rng);
    case 96: return CreateShreddedRegion(sw, 0, W, H, 1, 0, rng);
    case 97: return CreateShreddedRegion(0, sh, W, H, 0, 2, rng);
    case 98: return CreateShreddedRegion(0, sh, W, H, 0, 1, rng);
    case 99: return CreateShreddedRegion(sw, sh, W, H, 2, 2, rng);
    case 100: return CreateShreddedRegion(sw, sh, W, H, 1, 2, rng);
    case 101: return CreateShreddedRegion(sw, sh, W, H, 2, 1, rng);
    case 102: return CreateShreddedRegion(sw, sh, W, H, 1, 1, rng);
    case 103: return CreateShreddedRegion(sw, sh, W, H, 2, 3, rng);
    case 104: return CreateShreddedRegion(sw, sh, W, H, 1, 3, rng);
    case 105: return CreateShreddedRegion(sw, sh, W, H, 3, 2, rng);
    case 106: return CreateShreddedRegion(sw, sh, W, H, 3, 1, rng);
    case 107: return CreateShreddedRegion(sw, sh, W, H, 3, 3, rng);
    case 108: return CreateShreddedRegion(sw, sh, W, H, 4, 4, rng);
    case 109: return CreateShreddedRegion(0, sh, W, H, 0, 4, rng);
    case 110: return CreateShreddedRegion(sw, 0, W, H, 4, 0, rng);
    case 111: return CreateShreddedRegion(0, sh, W, H, 0, 3, rng);
    case 112: return CreateShreddedRegion(sw, 0, W, H, 3, 0, rng);
    case 147: return CreateSpeckledRegion(sw, sh, W, H, 2, 0, rng);
    case 148: return CreateSpeckledRegion(sw, sh, W, H, 1, 0, rng);
    case 149: return CreateSpeckledRegion(sw, sh, W, H, 0, 2, rng);
    case 150: return CreateSpeckledRegion(sw, sh, W, H, 0, 1, rng);

    // blinds and striped rectangles
    case 159:
    case 160: {
      const bool rows = code == 159;
      const int n = (rows ? H : W) / 40 + 1, a = MulDiv(n, progress, 100);
      TComplexRegion list;
      Centres(n, rows ? H : W, [&](int v) {
        if (rows) list.AddRect(0, v - a, W, v + a);
        else list.AddRect(v - a, 0, v + a, H);
      });
      return list.CreateRegion();
    }
    case 161:
    case 162:
    case 163:
    case 164: {
      const bool cols = code <= 162;
      const int n = cols ? sw : sh;
      if (n == 0) return nullptr;
      const int a = MulDiv(n, progress, 100);
      TComplexRegion list;
      if (code == 161) for (int x = 0; x < W; x += n) list.AddRect(x, 0, x + a, H);
      if (code == 162) for (int x = W; x > 0; x -= n) list.AddRect(x - a, 0, x, H);
      if (code == 163) for (int y = 0; y < H; y += n) list.AddRect(0, y, W, y + a);
      if (code == 164) for (int y = H; y > 0; y -= n) list.AddRect(0, y - a, W, y);
      return list.CreateRegion();
    }
    case 165:
    case 166: {
      const int n = sw, m = H / 20;
      if (n == 0 || m == 0) return nullptr;
      TComplexRegion list;
      const int a = MulDiv(m, progress, 100);
      for (int y = -m; y < H; y += 3 * m) list.AddRect(0, y - a, W, y + a);
      const int b = MulDiv(n, progress, 100);
      if (code == 165) for (int x = 0; x < W; x += n) list.AddRect(x, 0, x + b, H);
      else for (int x = W; x > 0; x -= n) list.AddRect(x - b, 0, x, H);
      return list.CreateRegion();
    }
    case 167:
    case 168: {
      const int n = W / 20, m = sh;
      if (n == 0 || m == 0) return nullptr;
      TComplexRegion list;
      const int a = MulDiv(n, progress, 100);
      for (int x = -n; x < W; x += 3 * n) list.AddRect(x - a, 0, x + a, H);
      const int b = MulDiv(m, progress, 100);
      if (code == 167) for (int y = 0; y < H; y += m) list.AddRect(0, y, W, y + b);
      else for (int y = H; y > 0; y -= m) list.AddRect(0, y - b, W, y);
      return list.CreateRegion();
    }

    // grids of growing shapes
    case 113: {
      const int n = std::min(W, H) / 10 + 1, a = MulDiv(n, progress, 100);
      TComplexRegion list;
      Centres(n, W, [&](int x) { Centres(n, H, [&](int y) { list.AddRect(x - a, y - a, x + a, y + a); }); });
      return list.CreateRegion();
    }
    case 114: {
      const int cw = W / 10 + 1, ch = H / 10 + 1, a = MulDiv(cw, progress, 50), b = MulDiv(ch, progress, 50);
      HRGN r = nullptr;
      Centres(cw, W, [&](int x) {
        Centres(ch, H + ch, [&](int y) { r = Combine(r, Triangle({x - a, y - b}, {x, y + b}, {x + a, y - b})); });
      });
      return r;
    }
    case 115:
    case 116: {
      const int n = std::min(W, H) / 10 + 1;
      const int r = MulDiv(3 * n, progress, 200), a = MulDiv(n, progress, 50);
      HRGN acc = nullptr;
      Centres(n, W, [&](int x) {
        Centres(n, H, [&](int y) {
          if (code == 115) {
            acc = Combine(acc, CreateEllipticRgn(x - r, y - r, x + r, y + r));
          } else {
            const POINT d[4] = {{x - a, y}, {x, y - a}, {x + a, y}, {x, y + a}};
            acc = Combine(acc, Polygon(d, 4));
          }
        });
      });
      return acc;
    }
    case 184: {
      int k = MulDiv(std::max(W, H), step, 90);
      k = k < 1 ? 1 : (k > 1 ? k / 2 : k);
      const int w = W / k, h = H / k, a = sw / k, b = sh / k;
      HRGN r = nullptr;
      for (int i = k; i >= 0; --i)
        for (int j = k; j >= 0; --j)
          r = Combine(r, Triangle({j * w - a, i * h - b}, {j * w + a, i * h - b}, {j * w - a, i * h + b}));
      return r;
    }
    case 185: {
      // Seeded alike on every step of a run (by the to-picture), so a box once shown stays shown as the
      // progress grows; a generator of its own leaves the engine's sequence alone.
      TIERandom boxes(uint32_t(reinterpret_cast<uintptr_t>(to->GetHandle())));
      const int c = std::min(W, H) / 20 + 1;
      TComplexRegion list;
      Centres(c, W, [&](int x) {
        Centres(c, H, [&](int y) {
          if (boxes.Random(100) < progress) list.AddRect(x - c, y - c, x + c, y + c);
        });
      });
      return list.CreateRegion();
    }

    // triangles and polygons
    case 133: return Triangle({0, 0}, {2 * sw, 0}, {0, 2 * sh});
    case 134: return Triangle({W, 0}, {W - 2 * sw, 0}, {W, 2 * sh});
    case 135: return Triangle({0, H}, {2 * sw, H}, {0, H - 2 * sh});
    case 136: return Triangle({W, H}, {W - 2 * sw, H}, {W, H - 2 * sh});
    case 137: return Combine(Triangle({W, 0}, {0, 0}, {W, sh}), Triangle({W, H}, {0, H}, {0, H - sh}));
    case 138: return Combine(Triangle({0, H}, {0, 0}, {sw, H}), Triangle({W, H}, {W, 0}, {W - sw, 0}));
    case 141:
    case 142: {
      const POINT C{cx, cy};
      const bool cw = code == 141;
      HRGN r = Triangle(C, {0, 0}, cw ? POINT{sw, 0} : POINT{0, sh});
      r = Combine(r, Triangle(C, {0, H}, cw ? POINT{0, H - sh} : POINT{sw, H}));
      r = Combine(r, Triangle(C, {W, H}, cw ? POINT{W - sw, H} : POINT{W, H - sh}));
      return Combine(r, Triangle(C, {W, 0}, cw ? POINT{W, sh} : POINT{W - sw, 0}));
    }
    case 171: return Triangle({0, cy - sh}, {2 * sw, cy}, {0, cy + sh});
    case 172: return Triangle({W, cy - sh}, {W - 2 * sw, cy}, {W, cy + sh});
    case 173: return Triangle({cx - sw, 0}, {cx, 2 * sh}, {cx + sw, 0});
    case 174: return Triangle({cx - sw, H}, {cx, H - 2 * sh}, {cx + sw, H});
    case 175:
      return Combine(Triangle({0, cy - sh}, {sw, cy}, {0, cy + sh}), Triangle({W, cy - sh}, {W - sw, cy}, {W, cy + sh}));
    case 176:
      return Combine(Triangle({cx - sw, 0}, {cx, 2 * sh}, {cx + sw, 0}),
                     Triangle({cx - sw, H}, {cx, H - 2 * sh}, {cx + sw, H}));
    case 177:
    case 178: {
      const bool out = code == 177;
      const int a = out ? (W - sw) / 2 : sw / 2, b = out ? (H - sh) / 2 : sh / 2;
      const int mode = out ? RGN_XOR : RGN_OR;
      HRGN r = out ? CreateRectRgn(0, 0, W, H) : nullptr;
      r = Combine(r, Triangle({0, cy - b}, {a, cy}, {0, cy + b}), mode);
      r = Combine(r, Triangle({W, cy - b}, {W - a, cy}, {W, cy + b}), mode);
      r = Combine(r, Triangle({cx - a, 0}, {cx, b}, {cx + a, 0}), mode);
      return Combine(r, Triangle({cx - a, H}, {cx, H - b}, {cx + a, H}), mode);
    }
    case 181: {
      const POINT d[4] = {{cx - sw, cy}, {cx, cy - sh}, {cx + sw, cy}, {cx, cy + sh}};
      return Polygon(d, 4);
    }
    case 182: {
      const POINT d[4] = {{sw - cx, cy}, {cx, sh - cy}, {3 * cx - sw, cy}, {cx, 3 * cy - sh}};
      return Combine(CreateRectRgn(0, 0, W, H), Polygon(d, 4), RGN_XOR);
    }
    case 183: {
      const int a = sw / 2, b = sh / 2;
      const POINT outer[4] = {{-a, cy}, {cx, -b}, {2 * cx + a, cy}, {cx, 2 * cy + b}};
      const POINT inner[4] = {{a, cy}, {cx, b}, {2 * cx - a, cy}, {cx, 2 * cy - b}};
      return Combine(Polygon(outer, 4), Polygon(inner, 4), RGN_XOR);
    }

    // zigzags
    case 179: return Zigzag(W, H, sw, sh, progress, true);
    case 180: return Zigzag(W, H, sw, sh, progress, false);

    // rotating shapes: a full turn over the run
    case 143:
    case 144:
    case 169:
    case 170: {
      const int a = sw / 2, b = sh / 2;
      const double t = progress * kPi / 50 * (code == 143 || code == 169 ? 1 : -1);
      POINT pts[4] = {{cx - a, cy - b}, {cx + a, cy - b}, {cx + a, cy + b}, {cx - a, cy + b}};
      return code <= 144 ? Rotated(pts, 4, cx, cy, t) : Rotated(pts, 4, sw, sh, t);
    }
    case 145:
    case 146: {
      const int a = sw / 2, b = sh / 2;
      const double t = progress * kPi / 50 * (code == 145 ? 1 : -1);
      POINT pts[8] = {{cx - 2 * sw, cy}, {cx - a, cy - b}, {cx, cy - 2 * sh}, {cx + a, cy - b},
                      {cx + 2 * sw, cy}, {cx + a, cy + b}, {cx, cy + 2 * sh}, {cx - a, cy + b}};
      return Rotated(pts, 8, cx, cy, t);
    }

    // sweeps from twelve o'clock
    case 139:
    case 140: {
      const double turn = progress * kPi / 50 * (code == 139 ? 1 : -1);
      return CreateFanRegion(cx, cy, int(std::ceil(std::hypot(cx, cy))), -kPi / 2, turn - kPi / 2, progress);
    }
    default: return nullptr;
  }
}
