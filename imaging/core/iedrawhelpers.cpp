// Bevel frames, cropped-shadow strips, the Gaussian curve and the preview textures.
#include "iedrawhelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>

#include "ieplatformbitmap.h"
#include "iegaussian.h"
#include "uibitmap.h"
#include "uigraphics.h"
#include "ieutils.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Pixel access of the shadow strips: the 24-bit bitmap where it covers the point, else the device
// context.
class PixelTarget {
 public:
  PixelTarget(HDC dc, TIEPlatformBitmap* b) : DC(dc), B(b && b->GetPixelFormat() == iepf24bit ? b : nullptr) {}
  uint8_t* InBitmap(int x, int y) {
    if (!B || x < 0 || y < 0 || x >= B->GetWidth() || y >= B->GetHeight()) return nullptr;
    return B->ScanLine(y) + size_t(x) * 3;
  }
  void Scale(int x, int y, double f) {
    if (uint8_t* p = InBitmap(x, y)) {
      for (int k = 0; k < 3; ++k) p[k] = uint8_t(p[k] * f);
      return;
    }
    if (!DC) return;
    COLORREF c = GetPixel(DC, x, y);
    if (c == CLR_INVALID) return;
    SetPixelV(DC, x, y, RGB(int(GetRValue(c) * f), int(GetGValue(c) * f), int(GetBValue(c) * f)));
  }
  void Grey(int x, int y, int g) {
    if (uint8_t* p = InBitmap(x, y)) {
      p[0] = p[1] = p[2] = uint8_t(g);
      return;
    }
    if (DC) SetPixelV(DC, x, y, RGB(g, g, g));
  }

 private:
  HDC DC;
  TIEPlatformBitmap* B;
};

void FillWithBrush(HDC dc, int left, int top, int right, int bottom) {
  if (!dc) return;
  RECT r = {left, top, right, bottom};
  FillRect(dc, &r, static_cast<HBRUSH>(GetCurrentObject(dc, OBJ_BRUSH)));
}

// Darkening factor of the shadow at distance step h of a strip w wide: about 0.2 next to the image,
// about 0.9 at the far side.
double ShadeFactor(int w, int h) {
  double s = w / 3.0;
  double l = (w - h) / s;
  return std::exp(-0.1 - l * l / 6);
}

int GradientGrey(double t) { return IEClampToByte(int(std::exp(t) / std::exp(1.0) * 255)); }

}  // namespace

void IEDrawBevelFrame(HDC dc, int x1, int y1, int x2, int y2, TColor colour1, TColor colour2) {
  int oldRop = SetROP2(dc, R2_COPYPEN);
  HPEN p1 = CreatePen(PS_SOLID, 1, IERGBToColor(IEColorToRGB(colour1)));
  HPEN p2 = CreatePen(PS_SOLID, 1, IERGBToColor(IEColorToRGB(colour2)));
  HGDIOBJ old = SelectObject(dc, p1);
  MoveToEx(dc, x1, y2, nullptr);
  LineTo(dc, x1, y1);
  LineTo(dc, x2, y1);
  SelectObject(dc, p2);
  MoveToEx(dc, x1, y2, nullptr);
  LineTo(dc, x2, y2);
  LineTo(dc, x2, y1);
  SelectObject(dc, old);
  DeleteObject(p1);
  DeleteObject(p2);
  SetROP2(dc, oldRop);
}

void IEDrawCropShadowRight(HDC dc, TIEPlatformBitmap* bitmap, int x1, int y1, int x2, int y2, int mode) {
  int w = x2 - x1 + 1;
  if (w <= 0) return;
  PixelTarget t(dc, bitmap);
  if (mode == 1) {
    FillWithBrush(dc, x1, y1 + w, x2, y2 + 1);
  } else if (mode == 2) {
    for (int h = 0; h < w; ++h) {
      double f = ShadeFactor(w, h);
      for (int row = y1 + w; row <= y2 - w + h + 3; ++row) t.Scale(x1 + h, row, f);
    }
  } else if (mode == 3) {
    int hh = y2 - y1 + 1;
    if (hh <= 0) return;
    int j0 = 0;
    for (int i = 0; i < hh; ++i) {
      int rowGrey = GradientGrey(double(hh - 3 * i) / hh);
      if (i > hh - w + 1) ++j0;
      for (int j = j0; j < w; ++j) t.Grey(x1 + j, y1 + i, std::max(GradientGrey(double(j) / w), rowGrey));
    }
  }
}

void IEDrawCropShadowBottom(HDC dc, TIEPlatformBitmap* bitmap, int x1, int y1, int x2, int y2, int mode) {
  int hgt = y2 - y1 + 1;
  if (hgt <= 0) return;
  PixelTarget t(dc, bitmap);
  if (mode == 1) {
    FillWithBrush(dc, x1 + hgt, y1, x2 + 1, y2);
  } else if (mode == 2) {
    for (int h = 0; h < hgt; ++h) {
      double f = ShadeFactor(hgt, h);
      for (int col = x1 + hgt; col <= x2 - hgt + h + 3; ++col) t.Scale(col, y1 + h, f);
    }
  } else if (mode == 3) {
    int ww = x2 - x1 + 1;
    if (ww <= 0) return;
    int j0 = 0;
    for (int i = 0; i < ww; ++i) {
      int colGrey = GradientGrey(double(ww - 3 * i) / ww);
      if (i > ww - hgt + 1) ++j0;
      for (int j = j0; j < hgt; ++j) t.Grey(x1 + i, y1 + j, std::max(GradientGrey(double(j) / hgt), colGrey));
    }
  }
}

void IEGaussianCurve(int n, double low, double high, double s, std::vector<double>& out) {
  out.assign(size_t(std::max(n, 0)), 0.0);
  if (n <= 0 || s == 0) return;
  double mx = 0;
  for (int i = 0; i < n; ++i) {
    double t = 2.0 * i / n - 1;
    out[size_t(i)] = std::exp(-0.5 * s * s * t * t) / (s * std::sqrt(2 * kPi));
    mx = std::max(mx, out[size_t(i)]);
  }
  for (double& v : out) v = v / mx * (high - low) + low;
}

bool IEMakeStripeBitmap(TIEPlatformBitmap* bitmap, int width, int height) {
  if (!bitmap || !bitmap->SetPixelFormat(iepf24bit) || !bitmap->SetSize(width, height)) return false;
  std::vector<double> curve;
  IEGaussianCurve(4, 130, 255, 0.5, curve);
  for (int r = 0; r < height; ++r) std::fill_n(bitmap->ScanLine(r), size_t(width) * 3, uint8_t(curve[size_t(r % 4)]));
  return true;
}

bool IEMakeShadedNoiseBitmap(TIEPlatformBitmap* bitmap, int width, int height) {
  if (!bitmap || width <= 0 || !bitmap->SetPixelFormat(iepf24bit) || !bitmap->SetSize(width, height)) return false;
  std::vector<double> curve;
  IEGaussianCurve(width, 160, 208, 3, curve);
  static std::minstd_rand random(std::random_device{}());
  int offset = 0, counter = 0;
  for (int r = 0; r < height; ++r) {
    uint8_t* row = bitmap->ScanLine(r);
    for (int c = 0; c < width; ++c) {
      uint8_t grey = uint8_t(IEClampToByte(offset + int(curve[size_t(c)])));
      row[3 * c] = row[3 * c + 1] = row[3 * c + 2] = grey;
      if (++counter > int(random() % uint32_t(width)) + 100) {
        counter = 0;
        offset = int(random() % 11);
      }
    }
  }
  return true;
}

void IEDrawSoftShadow(TIEPlatformBitmap* bitmap, int x1, int y1, int x2, int y2) {
  if (!bitmap || bitmap->GetPixelFormat() != iepf24bit) return;
  const int64_t w = int64_t(x2) - x1 + 1, h = int64_t(y2) - y1 + 1;
  if (w < 1 || h < 1) return;
  const int bw = bitmap->GetWidth(), bh = bitmap->GetHeight();
  // the pixels that may change: inside the bitmap and within 5 of the rectangle
  const int64_t px0 = std::max<int64_t>(int64_t(x1) - 5, 0), px1 = std::min<int64_t>(int64_t(x2) + 5, bw - 1);
  const int64_t py0 = std::max<int64_t>(int64_t(y1) - 5, 0), py1 = std::min<int64_t>(int64_t(y2) + 5, bh - 1);
  if (px0 > px1 || py0 > py1) return;
  TIEGaussianKernel kernel;
  IEBuildGaussianKernel(kernel, 2.5);
  const int64_t margin = kernel.HalfWidth + 1;
  // One axis of the mask (mask coordinate m = p - (start - 5), extent size + 10, set over 5 .. size + 6),
  // cut to the changed pixels and a margin the blur reaches across. Beyond a cut the mask goes on with
  // what the blur's repeated end sample gives, or the difference lies outside the changed pixels.
  auto axis = [&](int64_t p0, int64_t p1, int64_t start, int64_t size, int64_t& c0) {
    const int64_t origin = start - 5, extent = size + 10;
    c0 = std::max<int64_t>(0, p0 - origin - margin);
    const int64_t c1 = std::min<int64_t>(extent - 1, p1 - origin + margin);
    std::vector<uint8_t> line(size_t(c1 - c0 + 1));
    for (size_t i = 0; i < line.size(); ++i) {
      const int64_t m = c0 + int64_t(i);
      line[i] = m >= 5 && m <= size + 6 ? 255 : 0;
    }
    return line;
  };
  int64_t cx0 = 0, cy0 = 0;
  const std::vector<uint8_t> rowMask = axis(px0, px1, x1, w, cx0), colMask = axis(py0, py1, y1, h, cy0);
  // Rows pass: every row of the rectangle blurs to the same line, the others stay 0.
  std::vector<uint8_t> rowBlur(rowMask.size());
  IEBlurLine(kernel, rowMask.data(), rowBlur.data(), int(rowMask.size()));
  // Columns pass: a column is its row value over the rectangle's rows; one blur per distinct value.
  std::map<uint8_t, std::vector<uint8_t>> columns;
  auto column = [&](uint8_t v) -> const std::vector<uint8_t>& {
    auto it = columns.find(v);
    if (it != columns.end()) return it->second;
    std::vector<uint8_t> in(colMask.size()), out(colMask.size());
    for (size_t j = 0; j < in.size(); ++j) in[j] = colMask[j] ? v : 0;
    IEBlurLine(kernel, in.data(), out.data(), int(in.size()));
    return columns.emplace(v, std::move(out)).first->second;
  };
  for (int64_t y = py0; y <= py1; ++y) {
    uint8_t* row = bitmap->ScanLine(int(y));
    const size_t my = size_t(y - (int64_t(y1) - 5) - cy0);
    const bool insideRows = y >= y1 && y < y2;
    for (int64_t x = px0; x <= px1; ++x) {
      if (insideRows && x >= x1 && x < x2) continue;
      const size_t mx = size_t(x - (int64_t(x1) - 5) - cx0);
      const int m = column(rowBlur[mx])[my];
      if (!m) continue;
      const double keep = 1.0 - m / 255.0;
      uint8_t* p = row + size_t(x) * 3;
      for (int k = 0; k < 3; ++k) p[k] = uint8_t(p[k] * keep);
    }
  }
}

void IEDrawTextBox(ui::TCanvas* canvas, int& x, int& y, const std::string& text, ui::TFont* font, ui::TBrush* brush,
                   ui::TBitmap* saved, int widthLimit, int heightLimit, TColor topLeft, TColor bottomRight) {
  if (!canvas) return;
  if (font) canvas->Font()->Assign(font);
  if (brush) canvas->Brush()->Assign(brush);
  const int bw = canvas->TextWidth(text) + 12, bh = canvas->TextHeight(text) + 12;
  x = std::max(0, std::min(x, widthLimit - bw - 1));
  y = std::max(0, std::min(y, heightLimit - bh - 1));
  if (saved) {
    saved->SetPixelFormat(ui::pf24bit);
    saved->SetSize(bw, bh);
    BitBlt(saved->Canvas()->GetHandle(), 0, 0, bw, bh, canvas->GetHandle(), x, y, SRCCOPY);
  }
  canvas->FillRect(RECT{x + 6, y + 6, x + bw, y + bh});
  IEDrawBevelFrame(canvas->GetHandle(), x + 6, y + 6, x + bw - 1, y + bh - 1, topLeft, bottomRight);
  canvas->TextOut(x + 9, y + 9, text);  // on the brush's colour, as the box
}
