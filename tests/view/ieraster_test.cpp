// The canvas's scan converter against the ideal shapes: an antialiased pixel carries the area the
// shape covers (fills between their coordinates, pens centred on pixel centres; measured here with
// 16 x 16 samples a pixel), a plain one is painted when its centre is inside; on 24- and 32-bit,
// top-down and bottom-up DIB sections, inside a clip region, and refusing surfaces it cannot draw on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "ieraster.h"

namespace {

constexpr int kSize = 40;

struct Dib {
  Dib(int bpp, bool topDown) : Bpp(bpp) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = kSize;
    bi.bmiHeader.biHeight = topDown ? -kSize : kSize;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = WORD(bpp);
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    Bits = static_cast<uint8_t*>(bits);
    Stride = ((kSize * bpp + 31) / 32) * 4;
    TopDown = topDown;
    DC = CreateCompatibleDC(nullptr);
    Old = SelectObject(DC, Bitmap);
    std::fill(Bits, Bits + Stride * kSize, uint8_t(255));
  }
  ~Dib() {
    SelectObject(DC, Old);
    DeleteDC(DC);
    DeleteObject(Bitmap);
  }
  // Blue, green, red of a pixel.
  const uint8_t* At(int x, int y) const { return Bits + (TopDown ? y : kSize - 1 - y) * Stride + x * (Bpp / 8); }
  int Bpp, Stride;
  bool TopDown;
  HBITMAP Bitmap;
  HDC DC;
  HGDIOBJ Old;
  uint8_t* Bits;
};

enum Kind { kFillRect, kStrokeRect, kFillEllipse, kStrokeEllipse, kLine };

struct Shape {
  const char* Name;
  Kind K;
  double A, B, C, D;  // rectangles: x0, y0, x1, y1; ellipses: x, y, w, h; lines: the two ends
  double Width;
};

// Whether the ideal shape holds point (x, y), grown outwards by `grow` (negative: shrunk). The point is
// in pixel-edge space, pixel i spanning [i, i + 1], where fills lie; pens are centred on pixel centres,
// half a pixel back.
bool Inside(const Shape& s, double x, double y, double grow) {
  const bool pen = s.K == kStrokeRect || s.K == kStrokeEllipse || s.K == kLine;
  if (pen) x -= 0.5, y -= 0.5;
  auto inBox = [&](double x0, double y0, double x1, double y1, double g) {
    return x >= x0 - g && x < x1 + g && y >= y0 - g && y < y1 + g;
  };
  auto inEllipse = [&](double rx, double ry) {
    if (rx <= 0 || ry <= 0) return false;
    const double cx = s.A + s.C / 2, cy = s.B + s.D / 2;
    return (x - cx) * (x - cx) / (rx * rx) + (y - cy) * (y - cy) / (ry * ry) <= 1;
  };
  const double h = s.Width / 2;
  switch (s.K) {
    case kFillRect: return inBox(s.A, s.B, s.C, s.D, grow);
    case kStrokeRect:
      return inBox(s.A - h, s.B - h, s.C + h, s.D + h, grow) && !inBox(s.A + h, s.B + h, s.C - h, s.D - h, -grow);
    case kFillEllipse: return inEllipse(s.C / 2 + grow, s.D / 2 + grow);
    case kStrokeEllipse: return inEllipse(s.C / 2 + h + grow, s.D / 2 + h + grow) && !inEllipse(s.C / 2 - h - grow, s.D / 2 - h - grow);
    case kLine: {
      const double dx = s.C - s.A, dy = s.D - s.B, len = std::hypot(dx, dy);
      const double along = ((x - s.A) * dx + (y - s.B) * dy) / len, across = ((x - s.A) * -dy + (y - s.B) * dx) / len;
      return along >= -grow && along <= len + grow && std::fabs(across) <= h + grow;
    }
  }
  return false;
}

double Coverage(const Shape& s, int px, int py) {
  int n = 0;
  for (int i = 0; i < 16; ++i)
    for (int j = 0; j < 16; ++j) n += Inside(s, px + (i + 0.5) / 16, py + (j + 0.5) / 16, 0);
  return n / 256.0;
}

void Draw(TIERaster& r, const Shape& s, uint32_t argb, bool aa) {
  switch (s.K) {
    case kFillRect: r.FillRect(s.A, s.B, s.C, s.D, argb, aa); break;
    case kStrokeRect: r.StrokeRect(s.A, s.B, s.C, s.D, s.Width, argb, aa); break;
    case kFillEllipse: r.FillEllipse(s.A, s.B, s.C, s.D, argb, aa); break;
    case kStrokeEllipse: r.StrokeEllipse(s.A, s.B, s.C, s.D, s.Width, argb, aa); break;
    case kLine: r.StrokeLine(s.A, s.B, s.C, s.D, s.Width, argb, aa); break;
  }
}

const Shape kShapes[] = {
    {"box", kFillRect, 2, 3, 17, 12, 0},
    {"box between pixels", kFillRect, 2.3, 3.6, 17.25, 12.5, 0},
    {"frame", kStrokeRect, 3, 4, 30, 25, 1},
    {"wide frame", kStrokeRect, 5, 6, 32, 30, 4},
    {"odd frame", kStrokeRect, 5, 6, 32, 30, 3},
    {"frame thicker than its box", kStrokeRect, 10, 10, 13, 12, 6},
    {"ellipse", kFillEllipse, 4, 3, 31, 26, 0},
    {"small ellipse", kFillEllipse, 10, 10, 5, 4, 0},
    {"ring", kStrokeEllipse, 4, 3, 31, 26, 1},
    {"wide ring", kStrokeEllipse, 4, 3, 31, 26, 3},
    {"diagonal", kLine, 2, 3, 37, 30, 1},
    {"thick line", kLine, 5, 35, 30, 8, 5},
    {"flat line", kLine, 2, 10, 35, 10, 1},
    {"beyond the edges", kLine, -20, 5, 60, 30, 3},
};

}  // namespace

TEST(Raster, AntialiasedPixelsCarryTheCoveredArea) {
  for (const int bpp : {24, 32})
    for (const bool topDown : {false, true})
      for (const Shape& s : kShapes)
        for (const int alpha : {255, 128}) {
          Dib d(bpp, topDown);
          TIERaster r;
          ASSERT_TRUE(r.Bind(d.DC));
          Draw(r, s, uint32_t(alpha) << 24 | 0x2040C0, true);  // red 0x20, green 0x40, blue 0xC0
          int worst = 0;
          std::string where;
          for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
              const double a = Coverage(s, x, y) * alpha / 255;
              const uint8_t* p = d.At(x, y);
              const int want[3] = {int(std::lround(255 - (255 - 0xC0) * a)), int(std::lround(255 - (255 - 0x40) * a)),
                                   int(std::lround(255 - (255 - 0x20) * a))};
              for (int c = 0; c < 3; ++c)
                if (std::abs(p[c] - want[c]) > worst) {
                  worst = std::abs(p[c] - want[c]);
                  where = std::to_string(x) + "," + std::to_string(y);
                }
              if (bpp == 32) {
                EXPECT_EQ(p[3], 255) << "the fourth byte is left alone";
              }
            }
          // 16 x 16 samples, and a polygon for the curves: a few levels either way (a shift of half a pixel is ~100)
          EXPECT_LE(worst, 16) << s.Name << " bpp " << bpp << " top-down " << topDown << " alpha " << alpha << " at " << where;
        }
}

TEST(Raster, PlainPixelsArePaintedWhenTheirCentreIsInside) {
  for (const bool topDown : {false, true})
    for (const Shape& s : kShapes) {
      Dib d(24, topDown);
      TIERaster r;
      ASSERT_TRUE(r.Bind(d.DC));
      Draw(r, s, 0xFF000000, false);
      int painted = 0;
      for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
          const uint8_t* p = d.At(x, y);
          ASSERT_TRUE((p[0] == 0 && p[1] == 0 && p[2] == 0) || (p[0] == 255 && p[1] == 255 && p[2] == 255))
              << s.Name << " " << x << "," << y << ": plain drawing paints whole pixels";
          painted += p[0] == 0;
          // centres within a fraction of a pixel of a curve may fall either way (the curve is a polygon)
          const double margin = s.K == kFillEllipse || s.K == kStrokeEllipse || s.K == kLine ? 0.15 : 0;
          if (Inside(s, x + 0.5, y + 0.5, -margin)) {
            EXPECT_EQ(p[0], 0) << s.Name << " " << x << "," << y << " inside";
          } else if (!Inside(s, x + 0.5, y + 0.5, margin)) {
            EXPECT_EQ(p[0], 255) << s.Name << " " << x << "," << y << " outside";
          }
        }
      EXPECT_GT(painted, 0) << s.Name;
    }
}

TEST(Raster, PaintsOnlyInsideTheClipRegion) {
  // top-down too: the corner pixel where a bitmap's orientation would first be looked at is clipped
  for (const bool topDown : {false, true})
    for (const bool aa : {false, true}) {
      Dib d(24, topDown);
      HRGN a = CreateRectRgn(2, 2, 12, 30), b = CreateRectRgn(20, 5, 38, 9);
      CombineRgn(a, a, b, RGN_OR);
      SelectClipRgn(d.DC, a);
      DeleteObject(a);
      DeleteObject(b);
      TIERaster r;
      ASSERT_TRUE(r.Bind(d.DC));
      r.FillEllipse(-5, -5, 50, 50, 0xFF000000, aa);
      r.StrokeLine(0, 7, 39, 7, 2, 0xFF000000, aa);
      for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
          const bool in = (x >= 2 && x < 12 && y >= 2 && y < 30) || (x >= 20 && x < 38 && y >= 5 && y < 9);
          const uint8_t* p = d.At(x, y);
          if (!in) {
            ASSERT_EQ(p[0], 255) << x << "," << y;
          } else if (y > 3 && y < 30) {
            ASSERT_EQ(p[0], 0) << x << "," << y;  // well inside the ellipse
          }
        }
    }
}

TEST(Raster, LearnsATopDownBitmapWhoseCornerIsOutsideTheMetaRegion) {
  Dib d(24, true);
  IntersectClipRect(d.DC, 5, 5, 35, 35);
  SetMetaRgn(d.DC);  // the corner pixel is out of reach whatever the clip
  TIERaster r;
  ASSERT_TRUE(r.Bind(d.DC));
  r.FillRect(10, 8, 20, 12, 0xFF000000, false);
  int painted = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const bool in = x >= 10 && x < 20 && y >= 8 && y < 12;
      EXPECT_EQ(d.At(x, y)[0], in ? 0 : 255) << x << "," << y;
      painted += d.At(x, y)[0] == 0;
    }
  EXPECT_EQ(painted, 40);
}

TEST(Raster, RefusesSurfacesItCannotDrawOn) {
  TIERaster r;
  {
    Dib d(8, false);
    EXPECT_FALSE(r.Bind(d.DC)) << "palette bitmap";
  }
  {
    Dib d(24, false);
    SetWindowOrgEx(d.DC, 3, 0, nullptr);
    EXPECT_FALSE(r.Bind(d.DC)) << "moved origin";
    SetWindowOrgEx(d.DC, 0, 0, nullptr);
    SetMapMode(d.DC, MM_LOMETRIC);
    EXPECT_FALSE(r.Bind(d.DC)) << "mapped coordinates";
  }
  HDC screen = GetDC(nullptr);
  EXPECT_FALSE(r.Bind(screen)) << "a window's device context";
  ReleaseDC(nullptr, screen);
  EXPECT_FALSE(r.Bind(nullptr));
  r.FillRect(0, 0, 10, 10, 0xFF000000, true);  // unbound: draws nothing, touches nothing
}

TEST(Raster, CoordinatesFarOutsideTheBitmapStayClipped) {
  for (const bool aa : {false, true}) {
    Dib d(24, false);
    TIERaster r;
    ASSERT_TRUE(r.Bind(d.DC));
    r.FillEllipse(-3e9, -3e9, 6e9 + 40, 6e9 + 40, 0xFF0000FF, aa);  // the bitmap lies deep inside
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) ASSERT_EQ(d.At(x, y)[1], 0) << x << "," << y;  // blue: no green left
    r.FillRect(-3e9, 10, 3e9, 12, 0xFF000000, aa);
    r.StrokeLine(-3e9, 30, 3e9, 30, 2, 0xFF000000, aa);
    r.StrokeRect(-3e9, -3e9, 3e9, 3e9, 4, 0xFF000000, aa);  // its edges far away: nothing here
    for (int x = 0; x < kSize; ++x) {
      EXPECT_EQ(d.At(x, 10)[0], 0) << x;
      EXPECT_EQ(d.At(x, 30)[0], 0) << x;
      EXPECT_EQ(d.At(x, 20)[0], 255) << x;
    }
  }
}
