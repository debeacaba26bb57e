// Measuring: unit factors from the view's resolution and MeasureScale, polygon length and area, the
// length of a drag, the measure texts, and the ruler and angle objects.
#include <cmath>
#include <cstdio>

#include "ievect.h"

const char* const IEUnitNames[11] = {"pixels", "inches",  "km",   "mt",    "cm",   "mm",
                                     "microns", "nanometers", "feet", "yards", "miles"};

namespace {
constexpr int kPolygonSeparator = 0xFFFFF;
constexpr double kPi = 3.14159265358979323846;
}  // namespace

void TImageryVect::ComputeUnitFactors(TIEUnits unit, double& px, double& py) const {
  if (unit == ieuPIXELS) {
    px = py = 1.0;
  } else {
    px = 1.0 / (DpiX > 0 ? DpiX : 1);
    py = 1.0 / (DpiY > 0 ? DpiY : 1);
    double f = 1.0;
    switch (unit) {
      case ieuKM: f = 2.54 / 100000; break;
      case ieuMETERS: f = 2.54 / 100; break;
      case ieuCENTIMETERS: f = 2.54; break;
      case ieuMILLIMETERS: f = 2.54 * 10; break;
      case ieuMICRONS: f = 2.54 * 10000; break;
      case ieuNANOMETERS: f = 2.54 * 10000000; break;
      case ieuFEET: f = 1.0 / 12; break;
      case ieuYARDS: f = 1.0 / 36; break;
      case ieuMILES: f = 1.0 / 63360; break;
      default: break;
    }
    px *= f;
    py *= f;
  }
  px *= MeasureScale;
  py *= MeasureScale;
}

void TImageryVect::RecomputeUnitFactors() { ComputeUnitFactors(MUnit, UnitsPerPixelX, UnitsPerPixelY); }

void TImageryVect::SetMUnit(TIEUnits u) {
  MUnit = u;
  Template.RulerUnit = u;
  RecomputeUnitFactors();
}

void TImageryVect::SetMeasureScale(double v) {
  MeasureScale = v;
  RecomputeUnitFactors();
  UpdateView();
}

void TImageryVect::SetDpiX(int value) {
  inherited::SetDpiX(value);
  RecomputeUnitFactors();
}

void TImageryVect::SetDpiY(int value) {
  inherited::SetDpiY(value);
  RecomputeUnitFactors();
}

double TImageryVect::PolygonLength(const std::vector<POINT>& pts) const {
  auto seg = [&](POINT a, POINT b) {
    const double dx = (b.x - a.x) * UnitsPerPixelX, dy = (b.y - a.y) * UnitsPerPixelY;
    return std::sqrt(dx * dx + dy * dy);
  };
  double total = 0;
  size_t first = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (pts[i].x == kPolygonSeparator) continue;
    const bool last = i + 1 == pts.size() || pts[i + 1].x == kPolygonSeparator;
    if (!last) {
      total += seg(pts[i], pts[i + 1]);
    } else {
      if (i > first) total += seg(pts[i], pts[first]);  // closes the sub-polygon
      first = i + 2;
    }
  }
  return total;
}

double TImageryVect::PolygonArea(const std::vector<POINT>& pts) const {
  if (pts.size() <= 2) return 0;
  double sum = 0;
  size_t first = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (pts[i].x == kPolygonSeparator) continue;
    const bool last = i + 1 == pts.size() || pts[i + 1].x == kPolygonSeparator;
    const POINT a = pts[i], b = last ? pts[first] : pts[i + 1];
    sum += UnitsPerPixelX * UnitsPerPixelY * double(a.x - b.x) * double(b.y + a.y);
    if (last) first = i + 2;
  }
  return std::fabs(sum / 2);
}

double TImageryVect::DragLength(int x0, int y0, int x, int y) const {
  const double dx = (x - x0 + 1) * UnitsPerPixelX * 100 / GetZoomX();
  const double dy = (y - y0 + 1) * UnitsPerPixelY * 100 / GetZoomY();
  return std::sqrt(dx * dx + dy * dy);
}

std::string TImageryVect::FormatMeasure(double value) const {
  char buf[64];
  const int digits = FloatDigits < 0 ? 0 : (FloatDigits > 18 ? 18 : FloatDigits);
  // the precision counts significant digits: beyond it the fixed digits carry no information
  std::snprintf(buf, sizeof buf, "%.*f", digits, value);
  (void)FloatPrecision;
  return buf;
}

std::string TImageryVect::MeasureText(double value, TIEVValType type) {
  if (value == 0) value = LastMeasure;
  LastMeasure = value;
  std::string text = FormatMeasure(value) + " " + IEUnitNames[MUnit];
  if (type == ievtAREA) text += '\xB2';
  if (OnPresentMeasure) OnPresentMeasure(this, text, value, type);
  return text;
}
