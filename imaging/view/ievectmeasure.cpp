// Measuring: unit factors from the view's resolution and MeasureScale, polygon length and area, the
// length of a drag, the measure texts, the measure hint, and the ruler and angle objects.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "iedrawhelpers.h"
#include "iegdiplus.h"
#include "iegeom.h"
#include "iemask.h"
#include "ietextutils.h"
#include "ievect.h"

const char* const IEUnitNames[11] = {"pixels", "inches",  "km",   "mt",    "cm",   "mm",
                                     "microns", "nanometers", "feet", "yards", "miles"};

namespace {
constexpr int kPolygonSeparator = 0xFFFFF;
constexpr double kPi = 3.14159265358979323846;
constexpr ui::TColor kHintTextColour = 0x000000;
constexpr ui::TColor kHintBrushColour = 0x60FFFF;

// The outline of polygons split at separator points: every sub-polygon but the last is closed; the
// last one only with closeLast (a polygon still being drawn is open).
double OutlineLength(const POINT* pts, size_t n, double ux, double uy, bool closeLast) {
  auto seg = [&](POINT a, POINT b) {
    const double dx = (b.x - a.x) * ux, dy = (b.y - a.y) * uy;
    return std::sqrt(dx * dx + dy * dy);
  };
  double total = 0;
  size_t first = 0;
  for (size_t i = 0; i < n; ++i) {
    if (pts[i].x == kPolygonSeparator) continue;
    const bool atSeparator = i + 1 < n && pts[i + 1].x == kPolygonSeparator;
    if (i + 1 < n && !atSeparator) {
      total += seg(pts[i], pts[i + 1]);
    } else {
      if (i > first && (atSeparator || closeLast)) total += seg(pts[i], pts[first]);  // closes the sub-polygon
      first = i + 2;
    }
  }
  return total;
}

// Set pixels x1 .. x2 of a row of a 1-bit mask (the first pixel in the high bit).
int64_t SetBits(const uint8_t* row, int x1, int x2) {
  int64_t n = 0;
  for (int x = x1; x <= x2;) {
    if ((x & 7) == 0 && x + 7 <= x2) {
      n += __builtin_popcount(row[x >> 3]);
      x += 8;
    } else {
      n += (row[x >> 3] >> (7 - (x & 7))) & 1;
      ++x;
    }
  }
  return n;
}
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
  RefreshMeasureHint();
}

void TImageryVect::SetFloatDigits(int v) {
  FloatDigits = v;
  RefreshMeasureHint();
}

void TImageryVect::SetFloatPrecision(int v) {
  FloatPrecision = v;
  RefreshMeasureHint();
}

void TImageryVect::SetMeasureScale(double v) {
  MeasureScale = v;
  RecomputeUnitFactors();
  RefreshMeasureHint();
  UpdateView();
}

// The rulers' lengths follow the resolution: they are drawn again.
void TImageryVect::SetDpiX(int value) {
  inherited::SetDpiX(value);
  RecomputeUnitFactors();
  RefreshMeasureHint();
  InvalidateRectDirty(nullptr);
}

void TImageryVect::SetDpiY(int value) {
  inherited::SetDpiY(value);
  RecomputeUnitFactors();
  RefreshMeasureHint();
  InvalidateRectDirty(nullptr);
}

double TImageryVect::PolygonLength(const std::vector<POINT>& pts) const {
  return OutlineLength(pts.data(), pts.size(), UnitsPerPixelX, UnitsPerPixelY, true);
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
  // FloatDigits decimals of the value rounded to FloatPrecision significant digits, with the
  // locale's separator; a value with more integer digits than that is written in general form
  return IEFloatToStrF(value, ieffFixed, FloatPrecision, FloatDigits);
}

std::string TImageryVect::MeasureText(double value, TIEVValType type) {
  if (value == 0) value = LastMeasure;
  LastMeasure = value;
  std::string text = FormatMeasure(value) + " " + IEUnitNames[MUnit];
  if (type == ievtAREA) text += '\xB2';
  if (OnMeasureHint) OnMeasureHint(this, text, value);
  if (OnPresentMeasure) OnPresentMeasure(this, text, value, type);
  return text;
}

double TImageryVect::SelectionLength() {
  const POINT* pts = GetSelectionPolygon();
  const int n = GetSelectionPolygonCount();
  if (!pts || n <= 0) return 0;
  const bool drawing = GetPolygonSelecting();
  double length = OutlineLength(pts, size_t(n), UnitsPerPixelX, UnitsPerPixelY, !drawing && n > 2);
  const POINT last = pts[n - 1];
  if (drawing && IncludeCursorInLength && last.x != kPolygonSeparator) {
    const double dx = (ClientToImageX(LastMouse.x) - last.x) * UnitsPerPixelX;
    const double dy = (ClientToImageY(LastMouse.y) - last.y) * UnitsPerPixelY;
    length += std::sqrt(dx * dx + dy * dy);
  }
  return length;
}

double TImageryVect::SelectionArea() {
  const POINT* pts = GetSelectionPolygon();
  const int n = GetSelectionPolygonCount();
  if (pts && n > 2) return PolygonArea(std::vector<POINT>(pts, pts + n));
  TIEMask* mask = GetSelectionMask();
  if (!mask || mask->IsEmpty() || mask->MaskBitDepth != 1) return 0;
  const int x1 = std::max(mask->BoxX1, 0), x2 = std::min(mask->BoxX2, mask->Width - 1);
  const int y1 = std::max(mask->BoxY1, 0), y2 = std::min(mask->BoxY2, mask->Height - 1);
  int64_t count = 0;
  for (int y = y1; y <= y2; ++y) count += SetBits(mask->GetRowAddress(y), x1, x2);
  return double(count) * UnitsPerPixelX * UnitsPerPixelY;
}

// ---- the measure hint ----

void TImageryVect::InitMeasureHint() {
  MeasureHintFont.SetColor(kHintTextColour);
  MeasureHintFont.SetStyle(ui::fsBold);
  MeasureHintBrush.SetColor(kHintBrushColour);
  MeasureHintBrush.SetStyle(ui::bsSolid);
}

void TImageryVect::DrawMeasureHint(int x, int y) {
  if (!MeasureHintVisible) return;
  if (x == kLastHintPosition || y == kLastHintPosition) x = HintPosition.x, y = HintPosition.y;
  x = std::max(x, 0);
  y = std::max(y, 0);
  double value;
  TIEVValType type = ievtLENGTH;
  if (ObjectInteract & IEVI(iviAreaMeasure)) {
    value = SelectionArea();
    type = ievtAREA;
  } else if (ObjectInteract & IEVI(iviLengthMeasure)) {
    value = SelectionLength();
  } else if (ObjectInteract & IEVI(iviDragLength)) {
    value = DragLength(Down.x, Down.y, x, y);
  } else {
    return;
  }
  const std::string text = MeasureText(value, type);
  HintPosition = POINT{x, y};
  if (!HandleAllocated()) return;
  // a hint still shown would be saved as the screen under the new one
  EraseMeasureHint();
  int bx = x, by = y;
  IEDrawTextBox(GetCanvas(), bx, by, text, &MeasureHintFont, &MeasureHintBrush, &MeasureHintSaved, GetViewportWidth(),
                GetViewportHeight(), MeasureHintFrame1, MeasureHintFrame2);
  HintBoxAt = POINT{bx, by};
}

void TImageryVect::EraseMeasureHint() {
  if (MeasureHintSaved.GetWidth() < 2) return;
  if (HandleAllocated())
    BitBlt(GetCanvas()->GetHandle(), HintBoxAt.x, HintBoxAt.y, MeasureHintSaved.GetWidth(),
           MeasureHintSaved.GetHeight(), MeasureHintSaved.Canvas()->GetHandle(), 0, 0, SRCCOPY);
  MeasureHintSaved.SetWidth(1);
}

void TImageryVect::RefreshMeasureHint() {
  EraseMeasureHint();
  DrawMeasureHint(kLastHintPosition, kLastHintPosition);
}

// The window was painted over the hint: what was saved under it is stale, and the hint is drawn again
// where the mouse is (not while the ants pause after a scroll or zoom). A paint of only part of the
// window leaves the rest of an old box on the screen, and would save it under the new one: the parts
// the paint missed are painted once more.
void TImageryVect::PaintMeasureHint() {
  if (!HandleAllocated()) return;
  const RECT clip = GetCanvas()->ClipRect();
  auto paintAgainUnlessCovered = [&](POINT at) {
    const RECT box{at.x, at.y, at.x + MeasureHintSaved.GetWidth(), at.y + MeasureHintSaved.GetHeight()};
    if (box.left < clip.left || box.top < clip.top || box.right > clip.right || box.bottom > clip.bottom)
      InvalidateRect(GetHandle(), &box, FALSE);
  };
  if (MeasureHintSaved.GetWidth() >= 2) paintAgainUnlessCovered(HintBoxAt);
  MeasureHintSaved.SetWidth(1);
  if (AntsPauseCountdown > 0) return;
  DrawMeasureHint(LastMouse.x, LastMouse.y);
  if (MeasureHintSaved.GetWidth() >= 2) paintAgainUnlessCovered(HintBoxAt);
}

// ---- rulers and angles ----

namespace {

// A font made from an object's font record, scaled and turned; selected into a device context for
// the lifetime of the object.
class ScopedFont {
 public:
  ScopedFont(HDC dc, const LOGFONTA* record, double zoomY, int escapement) : dc_(dc) {
    LOGFONTA lf = record ? *record : LOGFONTA{};
    if (!record) std::snprintf(lf.lfFaceName, LF_FACESIZE, "%s", "Arial");
    const int points = std::max(3, int(std::fabs(double(record ? record->lfHeight : 10)) * zoomY));
    lf.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    lf.lfEscapement = lf.lfOrientation = escapement;
    if (PRIMARYLANGID(GetSystemDefaultLangID()) == LANG_GREEK) lf.lfCharSet = GREEK_CHARSET;
    font_ = CreateFontIndirectA(&lf);
    old_ = SelectObject(dc, font_);
  }
  ~ScopedFont() {
    SelectObject(dc_, old_);
    DeleteObject(font_);
  }
  ScopedFont(const ScopedFont&) = delete;
  ScopedFont& operator=(const ScopedFont&) = delete;

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ old_;
};

void Grow(RECT& r, int x, int y) {
  r.left = std::min<LONG>(r.left, x);
  r.top = std::min<LONG>(r.top, y);
  r.right = std::max<LONG>(r.right, x);
  r.bottom = std::max<LONG>(r.bottom, y);
}

void PrepareLinePen(TIECanvas* canvas, int penWidth, ui::TColor color) {
  canvas->GetPen()->SetStyle(ui::psSolid);
  canvas->GetPen()->SetWidth(float(penWidth));
  canvas->GetPen()->SetColor(color);
  canvas->GetBrush()->SetStyle(ui::bsClear);
}

void TextAt(HDC dc, int x, int y, UINT align, ui::TColor color, const std::string& text) {
  const UINT oldAlign = SetTextAlign(dc, align);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = SetTextColor(dc, ui::ColorToRGB(color));
  TextOutA(dc, x, y, text.data(), int(text.size()));
  SetTextColor(dc, oldColor);
  SetBkMode(dc, oldMode);
  SetTextAlign(dc, oldAlign);
}

}  // namespace

std::string TImageryVect::RulerText(POINT a, POINT b, double zoomX, double zoomY, TIEUnits unit, double length) {
  double ux, uy;
  ComputeUnitFactors(unit, ux, uy);
  if (length < 0) {
    const double dx = std::abs(b.x - a.x) * ux / zoomX, dy = std::abs(b.y - a.y) * uy / zoomY;
    length = std::sqrt(dx * dx + dy * dy);
  }
  std::string text = FormatMeasure(length) + " " + IEUnitNames[unit];
  if (OnPresentMeasure) OnPresentMeasure(this, text, length, ievtLENGTH);
  return text;
}

RECT TImageryVect::DrawRuler(TIECanvas* canvas, POINT a, POINT b, const LOGFONTA* font, double zoomX, double zoomY,
                             uint8_t rulerType, int penWidth, ui::TColor penColor, TIEUnits unit, double length) {
  RECT box{a.x, a.y, a.x, a.y};
  Grow(box, b.x, b.y);
  RulerTicksDrawn = 0;
  if (a.x == b.x && a.y == b.y) return box;
  PrepareLinePen(canvas, penWidth, penColor);
  canvas->DrawLine(a.x, a.y, b.x, b.y);
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double d = std::sqrt(dx * dx + dy * dy);
  const double cs = dx / d, sn = dy / d;  // along the line
  const double nx = -sn, ny = cs;         // across it
  HDC dc = canvas->GetHandle();
  if (rulerType == 0) {
    double ux, uy;
    ComputeUnitFactors(unit, ux, uy);
    // client pixels per tenth of a unit along each axis, and along the line
    const double stepX = 1.0 / (10 * ux / zoomX), stepY = 1.0 / (10 * uy / zoomY);
    const double step = std::sqrt((stepX * cs) * (stepX * cs) + (stepY * sn) * (stepY * sn));
    ScopedFont f(dc, font, zoomY, 0);
    for (int64_t k = 0; k * step < d;) {
      const double at = k * step;
      const int x = int(std::lround(a.x + cs * at)), y = int(std::lround(a.y + sn * at));
      const int reach = int((k % 10 == 0 ? 12 : k % 5 == 0 ? 8 : 6) * zoomY);
      canvas->DrawLine(int(std::lround(x - nx * reach)), int(std::lround(y - ny * reach)),
                       int(std::lround(x + nx * reach)), int(std::lround(y + ny * reach)));
      ++RulerTicksDrawn;
      if (k % 10 == 0) {
        const int tx = int(std::lround(x + nx * (reach + 20))), ty = int(std::lround(y + ny * (reach + 20)));
        TextAt(dc, tx, ty, TA_CENTER | TA_BASELINE, penColor, std::to_string(k / 10));
        Grow(box, tx + 15, ty + 15);
        Grow(box, tx - 15, ty - 15);
      }
      // A fine unit puts many ticks on one pixel (nanometres at 300 dpi: about 800,000): the
      // ticks that would land on this tick's pixel are skipped.
      int64_t next = k + 1;
      if (step < 1) next = std::max<int64_t>(next, int64_t(std::ceil((std::floor(at) + 1) / step)));
      k = next;
    }
    return box;
  }
  if (rulerType < 1 || rulerType > 3) return box;
  const int rx = int(9 * zoomX), ry = int(9 * zoomY);
  for (POINT p : {a, b}) {
    canvas->DrawLine(int(std::lround(p.x - nx * rx)), int(std::lround(p.y - ny * ry)), int(std::lround(p.x + nx * rx)),
                     int(std::lround(p.y + ny * ry)));
  }
  const std::string text = RulerText(a, b, zoomX, zoomY, unit, length);
  // direction on the screen, counter-clockwise (y grows downwards)
  double dir = std::atan2(-dy, dx);
  if (dir < 0) dir += 2 * kPi;
  const bool turned = UprightRulerText && dir > kPi / 2 && dir < 3 * kPi / 2;
  if (turned) dir -= kPi;
  if (dir < 0) dir += 2 * kPi;
  ScopedFont f(dc, font, zoomY, int(std::lround(dir * 1800 / kPi)));
  const POINT start = turned ? b : a, end = turned ? a : b;
  if (rulerType == 1) TextAt(dc, start.x, start.y, TA_LEFT | TA_BOTTOM, penColor, " " + text);
  else if (rulerType == 2) TextAt(dc, (a.x + b.x) / 2, (a.y + b.y) / 2, TA_CENTER | TA_BOTTOM, penColor, text);
  else TextAt(dc, end.x, end.y, TA_RIGHT | TA_BOTTOM, penColor, text + " ");
  SIZE ext{};
  GetTextExtentPoint32A(dc, text.data(), int(text.size()), &ext);
  InflateRect(&box, ext.cy + 15, ext.cy + 15);
  return box;
}

double TImageryVect::AngleDegrees(const POINT p[3]) const {
  double a = IEAngleAtVertex(p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y) * 180 / kPi;
  if (ReflexAngles && a >= 180) a = 360 - a;
  return a;
}

std::string TImageryVect::AngleText(const POINT p[3]) const { return FormatMeasure(AngleDegrees(p)) + "\xB0"; }

RECT TImageryVect::DrawAngle(TIECanvas* canvas, const POINT p[3], const LOGFONTA* font, double zoomY, int penWidth,
                             ui::TColor penColor) {
  RECT box{p[0].x, p[0].y, p[0].x, p[0].y};
  if (p[0].x == IEV_POINT_UNSET) return box;
  int set = 1;
  while (set < 3 && p[set].x != IEV_POINT_UNSET) ++set;
  PrepareLinePen(canvas, penWidth, penColor);
  canvas->Polyline(p, set - 1);
  for (int i = 1; i < set; ++i) Grow(box, p[i].x, p[i].y);
  if (set < 3) return box;
  HDC dc = canvas->GetHandle();
  const double raw = IEAngleAtVertex(p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y) * 180 / kPi;
  ScopedFont f(dc, font, zoomY, 0);
  const std::string text = AngleText(p);
  TextAt(dc, p[1].x, p[1].y, TA_LEFT | TA_BOTTOM, penColor, text);
  SIZE ext{};
  GetTextExtentPoint32A(dc, text.data(), int(text.size()), &ext);
  Grow(box, p[1].x + ext.cx, p[1].y - ext.cy);
  auto dist = [&](POINT q) { return int(std::sqrt(double(q.x - p[1].x) * (q.x - p[1].x) + double(q.y - p[1].y) * (q.y - p[1].y))); };
  const int r = std::min(dist(p[2]), dist(p[0])) / 4;
  const bool reflex = ReflexAngles && raw >= 180;
  const POINT from = reflex ? p[2] : p[0], to = reflex ? p[0] : p[2];
  canvas->Arc(p[1].x - r, p[1].y - r, p[1].x + r, p[1].y + r, from.x, from.y, to.x, to.y);
  Grow(box, p[1].x - r, p[1].y - r);
  Grow(box, p[1].x + r, p[1].y + r);
  return box;
}
