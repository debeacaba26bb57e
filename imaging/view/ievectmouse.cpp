// Creating, selecting, moving and resizing objects with the mouse: hit tests, grips, the creation
// states with their rubber-band previews, polyline vertex editing and the keys of the vector view.
#include <algorithm>
#include <cmath>

#include "iebitmap.h"
#include "iegdiplus.h"
#include "iegeom.h"
#include "ievect.h"
#include "ieviewglobals.h"

using namespace ui;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kEllipseSteps = 64;          // sides of the polygon that stands for an ellipse in hit tests
constexpr int kVertexGripHalf = 3;         // a polyline vertex is pressed within +-3 client pixels
constexpr double kSegmentTolerance = 1.5;  // client pixels from a polyline segment
constexpr int kBuildingBox = 1000000;      // the empty box a polyline or angle starts with
// Cursor of each grip code.
constexpr int kGripCursor[13] = {0,          crIEGrip13, crIEGrip13, crIEMove,   crIEGrip24, crIEGrip24, crIEGripEW,
                                 crIEGripEW, crIEGripNS, crIEGripNS, crIEGrip24, crIEGrip24, crIEGrip24};

void SnapFrom(int ax, int ay, POINT& q) {
  int x = q.x, y = q.y;
  IESnapLineAngle(ax, ay, x, y);
  q = POINT{x, y};
}

bool IsLineKind(TIEVKind k) { return k == ievkLINE || k == ievkRULER || k == ievkLINELABEL; }

RECT Ordered(int x1, int y1, int x2, int y2) {
  return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

double PolylineDistance(double px, double py, const std::vector<POINT>& p, bool closed) {
  if (p.empty()) return -1;
  if (p.size() == 1) return std::hypot(px - p[0].x, py - p[0].y);
  double best = 1e300;
  for (size_t i = 1; i < p.size(); ++i)
    best = std::min(best, SegmentDistance(px, py, p[i - 1].x, p[i - 1].y, p[i].x, p[i].y));
  if (closed) best = std::min(best, SegmentDistance(px, py, p.back().x, p.back().y, p.front().x, p.front().y));
  return best;
}

bool InsidePolygon(double px, double py, const std::vector<POINT>& p) {  // even-odd
  bool in = false;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    if ((p[i].y > py) != (p[j].y > py) &&
        px < double(p[j].x - p[i].x) * (py - p[i].y) / double(p[j].y - p[i].y) + p[i].x)
      in = !in;
  }
  return in;
}

double BoxDistance(double px, double py, const RECT& b) {
  const double dx = std::max({double(b.left) - px, 0.0, px - double(b.right)});
  const double dy = std::max({double(b.top) - py, 0.0, py - double(b.bottom)});
  return std::hypot(dx, dy);
}

bool InBox(double px, double py, const RECT& b) {
  return px >= b.left && px <= b.right && py >= b.top && py <= b.bottom;
}

}  // namespace

// ---- settings ----

void TImageryVect::SetObjectInteract(TIEVectInteract v) {
  CancelInteract();
  ObjectInteract = v;
}

void TImageryVect::CancelInteract() {
  HoveredExtended = -1;
  CreateState = ievkNONE;
  DragGrip = 0;
  if (EditIndex >= 0) {
    EndTextEdit();
    EditIndex = -1;
    Repaint();
  }
}

void TImageryVect::Repaint() { InvalidateRectDirty(nullptr); }

void TImageryVect::RepaintNow() {
  InvalidateRectDirty(nullptr);
  if (HandleAllocated()) UpdateWindow(GetHandle());
}

POINT TImageryVect::ClampToVisible(int x, int y) {
  const RECT v = VisibleImageArea();
  if (v.right < v.left || v.bottom < v.top) return POINT{x, y};
  return POINT{std::clamp<LONG>(x, v.left, v.right), std::clamp<LONG>(y, v.top, v.bottom)};
}

// ---- hit tests ----

void TImageryVect::GetPolylineScale(const TIEVObjectRecord& r, double& sx, double& sy) const {
  const RECT& pb = r.PolyBounds;
  sx = pb.right != pb.left ? double(r.X2 - r.X1) / (pb.right - pb.left) : 1.0;
  sy = pb.bottom != pb.top ? double(r.Y2 - r.Y1) / (pb.bottom - pb.top) : 1.0;
}

std::vector<POINT> TImageryVect::MappedVertices(const TIEVObjectRecord& r) const {
  double sx, sy;
  GetPolylineScale(r, sx, sy);
  std::vector<POINT> p;
  p.reserve(r.PolyPoints.size());
  for (const POINT& v : r.PolyPoints)
    p.push_back(POINT{r.X1 + LONG(std::lround((v.x - r.PolyBounds.left) * sx)),
                      r.Y1 + LONG(std::lround((v.y - r.PolyBounds.top) * sy))});
  return p;
}

void TImageryVect::RefitPolyline(TIEVObjectRecord& r) {
  if (r.PolyPoints.empty()) return;
  const std::vector<POINT> mapped = MappedVertices(r);
  RECT box{mapped[0].x, mapped[0].y, mapped[0].x, mapped[0].y};
  RECT raw{r.PolyPoints[0].x, r.PolyPoints[0].y, r.PolyPoints[0].x, r.PolyPoints[0].y};
  for (size_t i = 0; i < mapped.size(); ++i) {
    box = RECT{std::min(box.left, mapped[i].x), std::min(box.top, mapped[i].y), std::max(box.right, mapped[i].x),
               std::max(box.bottom, mapped[i].y)};
    const POINT& v = r.PolyPoints[i];
    raw = RECT{std::min(raw.left, v.x), std::min(raw.top, v.y), std::max(raw.right, v.x), std::max(raw.bottom, v.y)};
  }
  r.X1 = box.left, r.Y1 = box.top, r.X2 = box.right, r.Y2 = box.bottom;
  r.PolyBounds = raw;
}

// Distance in image pixels from an image point to the object's outline (0 inside filled shapes), -1 for
// kinds that are never hit.
double TImageryVect::ObjectDistance(TIEVObjectRecord& r, int x, int y) {
  const double px = x, py = y;
  const double pen = r.PenWidth > 1 ? r.PenWidth / 2.0 : 0.0;
  auto widen = [&](double d) { return std::max(0.0, d - pen); };
  const RECT b = Ordered(r.X1, r.Y1, r.X2, r.Y2);
  const bool filled = r.BrushStyle != bsClear;
  switch (r.Kind) {
    case ievkLINE:
      return widen(SegmentDistance(px, py, r.X1, r.Y1, r.X2, r.Y2));
    case ievkLINELABEL: {
      const double d = widen(SegmentDistance(px, py, r.X1, r.Y1, r.X2, r.Y2));
      const RECT lb = Ordered(r.LabelBox.left, r.LabelBox.top, r.LabelBox.right, r.LabelBox.bottom);
      return std::min(d, BoxDistance(px, py, lb));
    }
    case ievkRULER:
      return SegmentDistance(px, py, r.X1, r.Y1, r.X2, r.Y2);
    case ievkBOX: {
      if (InBox(px, py, b)) {
        if (filled || HitInsideBoxes) return 0;
        return widen(std::min({px - b.left, b.right - px, py - b.top, b.bottom - py}));
      }
      return widen(BoxDistance(px, py, b));
    }
    case ievkELLIPSE:
    case ievkARC: {
      const double cx = (b.left + b.right) / 2.0, cy = (b.top + b.bottom) / 2.0;
      const double rx = (b.right - b.left) / 2.0, ry = (b.bottom - b.top) / 2.0;
      if (r.Kind == ievkELLIPSE && filled && rx > 0 && ry > 0) {
        const double u = (px - cx) / rx, v = (py - cy) / ry;
        if (u * u + v * v <= 1) return 0;
      }
      std::vector<POINT> poly;
      for (int i = 0; i < kEllipseSteps; ++i) {
        const double a = 2 * kPi * i / kEllipseSteps;
        poly.push_back(POINT{LONG(std::lround(cx + rx * std::cos(a))), LONG(std::lround(cy + ry * std::sin(a)))});
      }
      return widen(PolylineDistance(px, py, poly, true));
    }
    case ievkBITMAP: {
      if (!InBox(px, py, b)) return BoxDistance(px, py, b);
      TIEBitmap* bmp = SharedBitmap(r.BitmapIndex);
      if (AlphaHitTest && bmp && bmp->AlphaPresent() && !bmp->GetAlphaChannel()->IsAll255) {
        const int bw = bmp->GetImageWidth(), bh = bmp->GetImageHeight();
        const int bx = std::clamp(int(std::lround((px - b.left) * bw / double(b.right - b.left + 1))), 0, bw - 1);
        const int by = std::clamp(int(std::lround((py - b.top) * bh / double(b.bottom - b.top + 1))), 0, bh - 1);
        if (bmp->GetAlphaChannel()->GetRowAddress(by)[bx] == 0) return 1000;
      }
      return 0;
    }
    case ievkTEXT:
    case ievkMEMO:
    case ievkEXTENDED:
      return BoxDistance(px, py, b);
    case ievkPOLYLINE: {
      const std::vector<POINT> p = MappedVertices(r);
      if (p.empty()) return -1;
      if (r.PolyClosed && filled && p.size() > 2 && InsidePolygon(px, py, p)) return 0;
      return widen(PolylineDistance(px, py, p, r.PolyClosed));
    }
    case ievkANGLE: {
      std::vector<POINT> p;
      for (const POINT& q : r.AnglePoints)
        if (q.x != IEV_POINT_UNSET) p.push_back(q);
      return PolylineDistance(px, py, p, false);
    }
    default:
      return -1;
  }
}

int TImageryVect::HitTest(int x, int y, bool selectableOnly, double* distance) {
  const RECT vis = VisibleImageArea();
  int best = IEV_ALL;
  double bestD = 0;
  for (auto it = ObjectList.rbegin(); it != ObjectList.rend(); ++it) {
    TIEVObjectRecord& r = *Records[size_t(*it)];
    if (!(r.Flags & ievfVisible) || (selectableOnly && !(r.Flags & ievfSelectable))) continue;
    const RECT b = Ordered(ImageToClientX(std::min(r.X1, r.X2)), ImageToClientY(std::min(r.Y1, r.Y2)),
                           ImageToClientX(std::max(r.X1, r.X2) + 1), ImageToClientY(std::max(r.Y1, r.Y2) + 1));
    if (b.right < vis.left || b.left > vis.right || b.bottom < vis.top || b.top > vis.bottom) continue;
    const double d = ObjectDistance(r, x, y);
    if (d < 0) continue;
    // only a strictly nearer object replaces the best: ties keep the later-listed one
    if (best == IEV_ALL || d < bestD) best = *it, bestD = d;
  }
  if (best != IEV_ALL && HitTolerance >= 0 && bestD > HitTolerance * 100.0 / GetZoomX()) best = IEV_ALL;
  if (distance) *distance = best == IEV_ALL ? -1 : bestD;
  return best;
}

int TImageryVect::ObjectAtClient(int x, int y, double& distance) {
  return HitTest(ClientToImageX(x), ClientToImageY(y), false, &distance);
}

int TImageryVect::FindGrip(int x, int y, int* index) {
  const RECT vis = VisibleImageArea();
  for (size_t i = 0; i < SelectionList.size(); ++i) {
    TIEVObjectRecord& r = *Records[size_t(SelectionList[i])];
    const int x1 = ImageToClientX(r.X1), y1 = ImageToClientY(r.Y1);
    const int x2 = ImageToClientX(r.X2), y2 = ImageToClientY(r.Y2);
    const RECT b = Ordered(x1, y1, x2, y2);
    const int m = GripSize;
    if (b.right + m < vis.left || b.left - m > vis.right || b.bottom + m < vis.top || b.top - m > vis.bottom) continue;
    const int mx = (x1 + x2) / 2, my = (y1 + y2) / 2;
    int code = 0;
    if (PointInGrip(x1, y1, x, y)) code = ievgFirst;
    else if (PointInGrip(x2, y2, x, y)) code = ievgSecond;
    else if (!CenterGrip) {
      const double d = ObjectDistance(r, ClientToImageX(x), ClientToImageY(y));
      if (d >= 0 && d < MoveTolerance) code = ievgMove;
    } else if (PointInGrip(mx, my, x, y)) {
      code = ievgMove;
    }
    if (!IsLineKind(r.Kind)) {
      const POINT sides[6] = {{x2, y1}, {x1, y2}, {x1, my}, {x2, my}, {mx, y1}, {mx, y2}};
      for (int s = 0; s < 6; ++s)
        if (PointInGrip(sides[s].x, sides[s].y, x, y)) {
          code = ievgTopRight + s;
          break;
        }
    }
    if (r.Kind == ievkANGLE) {
      code = ievgMove;
      for (int k = 0; k < 3; ++k)
        if (PointInGrip(ImageToClientX(r.AnglePoints[k].x), ImageToClientY(r.AnglePoints[k].y), x, y)) {
          code = ievgAngle1 + k;
          break;
        }
    }
    if (r.Kind == ievkLINELABEL) {
      const RECT lb = Ordered(r.LabelBox.left, r.LabelBox.top, r.LabelBox.right, r.LabelBox.bottom);
      if (InBox(ClientToImageX(x), ClientToImageY(y), lb)) code = ievgSecond;
    }
    if (code && !(r.Flags & ievfResizable)) code = ievgMove;
    if (code) {
      if (index) *index = int(i);
      return code;
    }
  }
  return 0;
}

// ---- moving and resizing ----

void TImageryVect::MoveObject(int hobj, int dx, int dy) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) return;
  r->X1 += dx, r->Y1 += dy, r->X2 += dx, r->Y2 += dy;
  if (r->Kind == ievkANGLE)
    for (POINT& p : r->AnglePoints)
      if (p.x != IEV_POINT_UNSET) p.x += dx, p.y += dy;
}

void TImageryVect::ResizeObject(int hobj, int dx1, int dy1, int dx2, int dy2, int grip, bool keepAspect) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r) return;
  r->X1 += dx1, r->Y1 += dy1, r->X2 += dx2, r->Y2 += dy2;
  const double sw = r->SavedBox.right - r->SavedBox.left, sh = r->SavedBox.bottom - r->SavedBox.top;
  if (!keepAspect || sw == 0 || sh == 0) return;
  switch (grip) {
    case ievgFirst:
    case ievgTopRight:
    case ievgSecond:
    case ievgBottomLeft:
    case ievgLeft:
    case ievgRight: {
      const double h = (r->X2 - r->X1) * sh / sw;
      if (h == 0) return;
      if (grip == ievgFirst || grip == ievgTopRight) r->Y1 = int(std::lround(r->Y2 - h));
      else r->Y2 = int(std::lround(r->Y1 + h));
      break;
    }
    case ievgTop:
    case ievgBottom: {
      const double w = (r->Y2 - r->Y1) * sw / sh;
      if (w == 0) return;
      if (grip == ievgTop) r->X1 = int(std::lround(r->X2 - w));
      else r->X2 = int(std::lround(r->X1 + w));
      break;
    }
  }
}

// ---- selection by the mouse ----

void TImageryVect::SelectAtPoint(int shift, int x, int y, bool onMouseDown) {
  const int h = HitTest(ClientToImageX(x), ClientToImageY(y), true);
  if (h < 0) {
    if (!(shift & ssShift)) UnselectObjectsAndRepaint();
    return;
  }
  const bool selected = IsSelected(h);
  if (selected && SelectOnMouseDown && onMouseDown) {
    PressedOnSelected = true;  // a drag moves the whole selection
    return;
  }
  PressedOnSelected = false;
  if (!selected) {
    if (!(shift & ssShift)) UnselectObjects();
    SelectObjectNotify(h);
    DoUserSelectObject(h);
  } else if (shift & ssShift) {
    DoUserDeselectObject(h);
    DeselectObject(h);
  } else {
    const std::vector<int> others = SelectionList;
    for (int o : others)
      if (o != h) DoUserDeselectObject(o);
    SelectionList.assign(1, h);
    if (OnSelectObject) OnSelectObject(this);
  }
  Repaint();
}

// ---- previews ----

void TImageryVect::XorPreview(int kind, POINT a, POINT b) {
  if (!HandleAllocated()) return;
  HWND wnd = GetHandle();
  HDC dc = GetDC(wnd);
  const int oldRop = SetROP2(dc, R2_NOT);
  HGDIOBJ oldPen = ::SelectObject(dc, GetStockObject(BLACK_PEN));
  HGDIOBJ oldBrush = ::SelectObject(dc, GetStockObject(NULL_BRUSH));
  const RECT r = Ordered(a.x, a.y, b.x, b.y);
  if (kind == 1) {
    MoveToEx(dc, a.x, a.y, nullptr);
    LineTo(dc, b.x, b.y);
  } else if (kind == 2) {
    Rectangle(dc, r.left, r.top, r.right + 1, r.bottom + 1);
  } else if (kind == 3) {
    Ellipse(dc, r.left, r.top, r.right + 1, r.bottom + 1);
  }
  ::SelectObject(dc, oldBrush);
  ::SelectObject(dc, oldPen);
  SetROP2(dc, oldRop);
  ReleaseDC(wnd, dc);
}

// Drawing a preview twice restores the screen: erasing draws the one shown again.
void TImageryVect::ShowPreview(int kind, bool erase) {
  if (erase) {
    if (PreviewKind) XorPreview(PreviewKind, PreviewA, PreviewB);
    PreviewKind = 0;
    return;
  }
  if (PreviewKind) XorPreview(PreviewKind, PreviewA, PreviewB);
  PreviewKind = kind, PreviewA = Down, PreviewB = Current;
  XorPreview(kind, PreviewA, PreviewB);
}

void TImageryVect::DrawLinePreview(bool erase) { ShowPreview(1, erase); }
void TImageryVect::DrawBoxPreview(bool erase) { ShowPreview(2, erase); }
void TImageryVect::DrawEllipsePreview(bool erase) { ShowPreview(3, erase); }

void TImageryVect::DrawRulerPreview() {
  if (!HandleAllocated() || !GetCanvas()) return;
  TIECanvas cv(GetCanvas(), false, true);
  double ux, uy;
  ComputeUnitFactors(Template.RulerUnit, ux, uy);
  const double len = std::hypot((ClientToImageX(Current.x) - ClientToImageX(Down.x)) * ux,
                                (ClientToImageY(Current.y) - ClientToImageY(Down.y)) * uy);
  DrawRuler(&cv, Down, Current, Template.Font.get(), GetZoomX() / 100, GetZoomY() / 100, Template.RulerType,
            std::max(1, Template.PenWidth), Template.PenColor, Template.RulerUnit, len);
}

void TImageryVect::DrawAnglePreview() {
  if (BuildHandle < 0 || BuildHandle >= int(Records.size()) || !Records[size_t(BuildHandle)] || !GetCanvas()) return;
  const TIEVObjectRecord& r = *Records[size_t(BuildHandle)];
  POINT p[3];
  bool replaced = false;
  for (int i = 0; i < 3; ++i) {
    if (r.AnglePoints[i].x != IEV_POINT_UNSET) p[i] = POINT{ImageToClientX(r.AnglePoints[i].x), ImageToClientY(r.AnglePoints[i].y)};
    else if (!replaced) p[i] = Current, replaced = true;
    else p[i] = POINT{IEV_POINT_UNSET, 0};
  }
  TIECanvas cv(GetCanvas(), false, true);
  DrawAngle(&cv, p, r.Font.get(), GetZoomY() / 100, 1, r.PenColor);
}

// ---- mouse button pressed ----

// The measure hint is taken off the screen while the handlers draw their rubber bands and previews
// (drawn twice to be erased, they would leave a trail under a hint put back over them).
void TImageryVect::DoMouseDown(TMouseButton b, int shift, int x, int y) {
  EraseMeasureHint();
  TImageryView::DoMouseDown(b, shift, x, y);
  VectMouseDown(b, shift, x, y);
  DrawMeasureHint(x, y);
}

void TImageryVect::DoMouseMove(int shift, int x, int y) {
  EraseMeasureHint();
  TImageryView::DoMouseMove(shift, x, y);
  VectMouseMove(shift, x, y);
}

void TImageryVect::SetMouseInteractValue(TIEMouseInteract value) {
  TImageryView::SetMouseInteractValue(value);
  if (value != 0) ObjectInteract &= IEVI(iviAreaMeasure) | IEVI(iviLengthMeasure) | IEVI(iviDragToCreate);
  CancelInteract();
}

// Automatic scrolling moved the image under the mouse: the points of the drag move with it, and the
// screen that showed a preview was painted again.
void TImageryVect::OffsetDragPositions(int dx, int dy) {
  TImageryView::OffsetDragPositions(dx, dy);
  Down.x -= dx, Down.y -= dy;
  Current.x -= dx, Current.y -= dy;
  LastVertex.x -= dx, LastVertex.y -= dy;
  PreviewKind = 0;
}

void TImageryVect::VectMouseDown(TMouseButton b, int shift, int x, int y) {
  DoubleClickFlag = (shift & ssDouble) != 0;
  const bool polylineModes = (ObjectInteract & (IEVI(iviCreatePolyline) | IEVI(iviEditPolylinePoints))) != 0;
  const POINT p = polylineModes && PolylineOutside ? POINT{x, y} : ClampToVisible(x, y);
  UndoPushed = false;
  if (b != mbLeft || IsEmpty()) return;
  RawDown = POINT{x, y};
  Down = p;
  Captured = true;
  if (HandleAllocated()) SetCapture(GetHandle());
  if (EditIndex >= 0) {
    EndTextEdit();
    EditIndex = -1;
    Repaint();
  }
  SegmentIndex = -1;
  VertexIndex = -1;
  if (CreateState == ievkNONE) {
    Modified = false;
    PushObjectsUndo();
  }
  static const struct {
    TIEVectInteraction Mode;
    TIEVKind Kind;
  } kDragModes[] = {{iviCreateLine, ievkLINE},   {iviCreateLineLabel, ievkLINELABEL}, {iviCreateRuler, ievkRULER},
                    {iviCreateBox, ievkBOX},     {iviCreateEllipse, ievkELLIPSE},     {iviCreateBitmap, ievkBITMAP},
                    {iviCreateText, ievkTEXT},   {iviCreateMemo, ievkMEMO},           {iviDragLength, ievkLINE},
                    {iviCreateExtended, ievkEXTENDED}};
  bool dragMode = false;
  for (const auto& m : kDragModes)
    if (ObjectInteract & IEVI(m.Mode)) {
      CreateState = m.Kind;
      dragMode = true;
      break;
    }
  if (!dragMode) {
    if (ObjectInteract & IEVI(iviCreateAngle)) {
      if (!DoubleClickFlag) AngleClick(shift, p.x, p.y);
    } else if (ObjectInteract & IEVI(iviCreatePolyline)) {
      PolylineClick(shift, p.x, p.y);
    } else {
      if (ObjectInteract & IEVI(iviEditPolylinePoints)) PolylineVertexHit(p.x, p.y);
      if ((ObjectInteract & IEVI(iviEditObjects)) && VertexIndex < 0 && SegmentIndex < 0) {
        if (!DoubleClickFlag) {
          int g = FindGrip(p.x, p.y);
          if ((g == 0 || (g == ievgMove && !CenterGrip)) && SelectOnMouseDown) {
            SelectAtPoint(shift, p.x, p.y, true);
            g = FindGrip(p.x, p.y);
          }
          DragGrip = g;
          if (g)
            for (int h : SelectionList) {
              TIEVObjectRecord& r = *Records[size_t(h)];
              r.SavedBox = RECT{r.X1, r.Y1, r.X2, r.Y2};
            }
        } else {
          DoubleClickEdit(p.x, p.y);
        }
      }
      double d;
      const int h = ObjectAtClient(p.x, p.y, d);
      if (h >= 0 && d == 0 && Records[size_t(h)]->Extended) Records[size_t(h)]->Extended->MouseDown(int(b), shift, x, y);
    }
  }
  Current = p;
  AppliedX = AppliedY = 0;
}

void TImageryVect::AngleClick(int shift, int x, int y) {
  if (CreateState != ievkANGLE || BuildHandle < 0) {
    Modified = true;
    CreateState = ievkANGLE;
    Template.Kind = ievkANGLE;
    Template.AnglePoints[0] = POINT{ClientToImageX(x), ClientToImageY(y)};
    Template.AnglePoints[1] = Template.AnglePoints[2] = POINT{IEV_POINT_UNSET, IEV_POINT_UNSET};
    Template.X1 = Template.Y1 = kBuildingBox;
    Template.X2 = Template.Y2 = -kBuildingBox;
    BuildHandle = AddObject(Template);
    UnselectObjects();
    Repaint();
    return;
  }
  TIEVObjectRecord& r = *Records[size_t(BuildHandle)];
  const int n = AnglePointCount(BuildHandle);
  POINT q{x, y};
  if (shift & ssCtrl) {
    SnapFrom(ImageToClientX(r.AnglePoints[n - 1].x), ImageToClientY(r.AnglePoints[n - 1].y), q);
    if (n == 1) Down = q;
  }
  r.AnglePoints[n] = POINT{ClientToImageX(q.x), ClientToImageY(q.y)};
  if (n + 1 == 3) {
    const POINT v = r.AnglePoints[1];
    const int d = std::abs(v.x - std::max(r.AnglePoints[0].x, r.AnglePoints[2].x));
    const int e = std::abs(v.y - std::max(r.AnglePoints[0].y, r.AnglePoints[2].y));
    r.X1 = v.x - d, r.Y1 = v.y - e, r.X2 = v.x + d, r.Y2 = v.y + e;
    Template.X1 = r.X1, Template.Y1 = r.Y1, Template.X2 = r.X2, Template.Y2 = r.Y2;
    const int h = BuildHandle;
    CreateState = ievkNONE;
    BuildHandle = -1;
    SelectObjectNotify(h);
    DoVectorialChanged();
    DoNewObject(h);
  }
  Repaint();
}

void TImageryVect::PolylineClick(int shift, int x, int y) {
  if (CreateState != ievkPOLYLINE || BuildHandle < 0) {
    CreateState = ievkPOLYLINE;
    Template.Kind = ievkPOLYLINE;
    Template.X1 = Template.Y1 = kBuildingBox;
    Template.X2 = Template.Y2 = -kBuildingBox;
    Template.PolyPoints.clear();
    Modified = true;
    BuildHandle = AddObject(Template);
    AddPolylinePoint(BuildHandle, ClientToImageX(x), ClientToImageY(y));
    LastVertex = POINT{x, y};
    UnselectObjects();
    Repaint();
    return;
  }
  POINT q{x, y};
  if (shift & ssCtrl) SnapFrom(LastVertex.x, LastVertex.y, q);
  AddPolylinePoint(BuildHandle, ClientToImageX(q.x), ClientToImageY(q.y));
  LastVertex = q;
  if (DoubleClickFlag && PolylineMode == 0) {
    const int h = BuildHandle;
    TIEVObjectRecord& r = *Records[size_t(h)];
    Template.X1 = r.X1, Template.Y1 = r.Y1, Template.X2 = r.X2, Template.Y2 = r.Y2;
    CreateState = ievkNONE;
    BuildHandle = -1;
    SelectObjectNotify(h);
    DoVectorialChanged();
    Modified = false;
    DoNewObject(h);
  }
  Repaint();
}

void TImageryVect::PolylineVertexHit(int x, int y) {
  if (SelectionList.size() != 1) return;
  const TIEVObjectRecord& r = *Records[size_t(SelectionList[0])];
  if (r.Kind != ievkPOLYLINE) return;
  const std::vector<POINT>& p = r.DrawnPoints;
  for (size_t i = 0; i < p.size(); ++i)
    if (std::abs(p[i].x - x) <= kVertexGripHalf && std::abs(p[i].y - y) <= kVertexGripHalf) {
      VertexIndex = int(i);
      return;
    }
  const size_t n = p.size();
  const size_t segments = r.PolyClosed ? n : (n > 0 ? n - 1 : 0);
  for (size_t s = 0; s < segments; ++s) {
    const POINT& a = p[s];
    const POINT& b = p[(s + 1) % n];
    if (SegmentDistance(x, y, a.x, a.y, b.x, b.y) < kSegmentTolerance) {
      SegmentIndex = int(s);
      return;
    }
  }
}

void TImageryVect::DoubleClickEdit(int x, int y) {
  double d;
  const int h = HitTest(ClientToImageX(x), ClientToImageY(y), true, &d);
  if (h < 0) return;
  DoObjectDblClick(h);
  const TIEVObjectRecord& r = *Records[size_t(h)];
  if ((r.Kind != ievkTEXT && r.Kind != ievkMEMO) || d != 0) return;
  const bool was = IsSelected(h);
  const std::vector<int> others = SelectionList;
  for (int o : others)
    if (o != h) DoUserDeselectObject(o);
  SelectionList.assign(1, h);
  if (OnSelectObject) OnSelectObject(this);
  if (!was) DoUserSelectObject(h);
  EditIndex = h;
  StartTextEdit();
  Repaint();
}

// ---- mouse moved ----

void TImageryVect::VectMouseMove(int shift, int x, int y) {
  if (DoubleClickFlag) {
    DoubleClickFlag = false;
    return;
  }
  if (x == RawDown.x && y == RawDown.y) return;
  LastMouse = POINT{x, y};
  const POINT p = ClampToVisible(x, y);
  if (Captured && CreateState != ievkNONE) {
    CreationMove(shift, p.x, p.y, x, y);
  } else if (Captured && DragGrip) {
    DragGripTo(shift, p.x, p.y);
  } else if (Captured && (ObjectInteract & IEVI(iviEditPolylinePoints)) && VertexIndex >= 0) {
    if (SelectionList.size() == 1) {
      TIEVObjectRecord& r = *Records[size_t(SelectionList[0])];
      if (r.Kind == ievkPOLYLINE && VertexIndex < r.PolyCount()) {
        const int ox = int(std::trunc((p.x - Down.x) * 100.0 / GetZoomX()));
        const int oy = int(std::trunc((p.y - Down.y) * 100.0 / GetZoomY()));
        r.PolyPoints[size_t(VertexIndex)].x += ox - AppliedX;
        r.PolyPoints[size_t(VertexIndex)].y += oy - AppliedY;
        AppliedX = ox, AppliedY = oy;
        RefitPolyline(r);
        Modified = true;  // a vertex moved: the press keeps its undo snapshot
        Repaint();
      }
    }
  } else if (Captured && (ObjectInteract & IEVI(iviEditObjects)) && AllowRectSelect) {
    DrawBoxPreview(true);
    AutoScroll();
    Current = p;
    if (!(shift & ssShift)) SelectionList.clear();
    SelectInRect(IEV_ALL, ClientToImageX(Down.x), ClientToImageY(Down.y), ClientToImageX(p.x), ClientToImageY(p.y));
    if (OnSelectObject) OnSelectObject(this);
    RepaintNow();
    DrawBoxPreview(false);
  } else if (!Captured) {
    if (CreateState == ievkPOLYLINE && BuildHandle >= 0) {
      DrawLinePreview(true);
      POINT q = p;
      if (shift & ssCtrl) SnapFrom(LastVertex.x, LastVertex.y, q);
      Down = LastVertex;
      Current = q;
      DrawLinePreview(false);
      if (ObjectInteract & IEVI(iviDragLength)) MeasureHintVisible = true;
    } else if (CreateState == ievkANGLE && BuildHandle >= 0) {
      POINT q = p;
      const TIEVObjectRecord& r = *Records[size_t(BuildHandle)];
      const int n = AnglePointCount(BuildHandle);
      if ((shift & ssCtrl) && n > 0)
        SnapFrom(ImageToClientX(r.AnglePoints[n - 1].x), ImageToClientY(r.AnglePoints[n - 1].y), q);
      Current = q;
      RepaintNow();
      DrawAnglePreview();
    } else if (OnObjectOver) {
      const int h = HitTest(ClientToImageX(p.x), ClientToImageY(p.y), false);
      if (h >= 0) DoObjectOver(h);
    }
    SetHoverCursor(shift, p.x, p.y);
  }
  DrawMeasureHint(x, y);
  if (CreateState == ievkNONE) TrackExtended(shift, x, y);
}

void TImageryVect::TrackExtended(int shift, int x, int y) {
  double d;
  int h = ObjectAtClient(x, y, d);
  if (h >= 0 && (d != 0 || !Records[size_t(h)]->Extended)) h = -1;
  if (h != HoveredExtended) {
    if (HoveredExtended >= 0 && HoveredExtended < int(Records.size()) && Records[size_t(HoveredExtended)] &&
        Records[size_t(HoveredExtended)]->Extended)
      Records[size_t(HoveredExtended)]->Extended->MouseLeave();
    HoveredExtended = h;
    if (h >= 0) Records[size_t(h)]->Extended->MouseEnter();
  }
  if (h >= 0) Records[size_t(h)]->Extended->MouseMove(shift, x, y);
}

void TImageryVect::SetHoverCursor(int shift, int x, int y) {
  if (ObjectInteract & IEVI(iviEditPolylinePoints)) {
    VertexIndex = SegmentIndex = -1;
    PolylineVertexHit(x, y);
    const int v = VertexIndex, s = SegmentIndex;
    VertexIndex = SegmentIndex = -1;
    if (v >= 0) {
      ShowTemporaryCursor((shift & ssCtrl) ? crIESubCross : crIEMove);
      return;
    }
    if (s >= 0) {
      ShowTemporaryCursor(crIEAddCross);
      return;
    }
  }
  if (ObjectInteract & IEVI(iviEditObjects)) {
    const int g = FindGrip(x, y);
    if (g > 0 && g < 13) {
      ShowTemporaryCursor(kGripCursor[g]);
      return;
    }
  }
  if (ObjectInteract & (IEVI(iviEditObjects) | IEVI(iviEditPolylinePoints))) RestoreBaseCursor();
}

void TImageryVect::CreationMove(int shift, int x, int y, int rawX, int rawY) {
  NoResampleWhileDragging = true;
  const bool dragKind = CreateState != ievkPOLYLINE && CreateState != ievkANGLE;
  if (dragKind && !(Template.Flags & ievfResizable)) {
    // the object gets the template's size where the mouse is released
    Down = Current = POINT{x, y};
    return;
  }
  POINT q{x, y};
  switch (CreateState) {
    case ievkLINE:
    case ievkLINELABEL: {
      DrawLinePreview(true);
      AutoScroll();
      const bool measuring = (ObjectInteract & IEVI(iviDragLength)) != 0;
      if (measuring) q = POINT{rawX, rawY};
      if (shift & ssCtrl) SnapFrom(Down.x, Down.y, q);
      Current = q;
      DrawLinePreview(false);
      if (measuring) MeasureHintVisible = true;
      break;
    }
    case ievkBOX:
    case ievkELLIPSE:
    case ievkEXTENDED: {
      const bool ellipse = CreateState == ievkELLIPSE;
      if (ellipse) DrawEllipsePreview(true);
      else DrawBoxPreview(true);
      AutoScroll();
      if (shift & ssCtrl) {
        const int dx = q.x - Down.x, dy = q.y - Down.y;
        const int d = std::abs(dy) < std::abs(dx) ? dx : dy;
        q = POINT{Down.x + d, Down.y + d};
      }
      Current = q;
      if (ellipse) DrawEllipsePreview(false);
      else DrawBoxPreview(false);
      break;
    }
    case ievkBITMAP: {
      DrawBoxPreview(true);
      TIEBitmap* bmp = SharedBitmap(Template.BitmapIndex);
      if (bmp && bmp->GetImageWidth() > 0 && ((shift & ssAlt) || Template.KeepAspectRatio))
        q.y = int(std::trunc(double(bmp->GetImageHeight()) / bmp->GetImageWidth() * (q.x - Down.x))) + Down.y;
      Current = q;
      DrawBoxPreview(false);
      break;
    }
    case ievkTEXT:
    case ievkMEMO:
      DrawBoxPreview(true);
      Current = q;
      DrawBoxPreview(false);
      break;
    case ievkRULER:
      if (shift & ssCtrl) SnapFrom(Down.x, Down.y, q);
      Current = q;
      RepaintNow();
      DrawRulerPreview();
      break;
    case ievkPOLYLINE: {
      if (BuildHandle < 0) break;
      const POINT v = PolylineOutside ? POINT{rawX, rawY} : q;
      AddPolylinePoint(BuildHandle, ClientToImageX(v.x), ClientToImageY(v.y));
      LastVertex = v;
      Repaint();
      break;
    }
    case ievkANGLE:
      Current = q;
      RepaintNow();
      DrawAnglePreview();
      break;
    default:
      break;
  }
}

void TImageryVect::DragGripTo(int shift, int x, int y) {
  DoBeforeVectorialChanged();
  NoResampleWhileDragging = true;
  AutoScroll();
  POINT q{x, y};
  if ((shift & ssCtrl) && !SelectionList.empty() && (DragGrip == ievgFirst || DragGrip == ievgSecond)) {
    const TIEVObjectRecord& f = *Records[size_t(SelectionList[0])];
    if (IsLineKind(f.Kind)) {
      if (DragGrip == ievgFirst) SnapFrom(ImageToClientX(f.X2), ImageToClientY(f.Y2), q);
      else SnapFrom(ImageToClientX(f.X1), ImageToClientY(f.Y1), q);
    }
  }
  const int ox = int(std::trunc((q.x - Down.x) * 100.0 / GetZoomX()));
  const int oy = int(std::trunc((q.y - Down.y) * 100.0 / GetZoomY()));
  const int sx = ox - AppliedX, sy = oy - AppliedY;
  AppliedX = ox, AppliedY = oy;
  if (sx == 0 && sy == 0) return;
  bool moveAllowed = AllowMoveOutside;
  if (!moveAllowed && DragGrip == ievgMove) {
    RECT u{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int h : SelectionList) {
      const TIEVObjectRecord& r = *Records[size_t(h)];
      u = RECT{std::min<LONG>(u.left, std::min(r.X1, r.X2)), std::min<LONG>(u.top, std::min(r.Y1, r.Y2)),
               std::max<LONG>(u.right, std::max(r.X1, r.X2)), std::max<LONG>(u.bottom, std::max(r.Y1, r.Y2))};
    }
    moveAllowed = u.left + sx >= 0 && u.top + sy >= 0 && u.right + sx < GetImageWidth() && u.bottom + sy < GetImageHeight();
  }
  const std::vector<int> selection = SelectionList;
  for (int h : selection) {
    TIEVObjectRecord& r = *Records[size_t(h)];
    int dx = sx, dy = sy;
    DoObjectMoveResize(h, DragGrip, dx, dy);
    if (r.Flags & ievfResizable) {
      const bool keep = (shift & ssAlt) || r.KeepAspectRatio;
      switch (DragGrip) {
        case ievgFirst: ResizeObject(h, dx, dy, 0, 0, DragGrip, keep); break;
        case ievgSecond: ResizeObject(h, 0, 0, dx, dy, DragGrip, keep); break;
        case ievgTopRight: ResizeObject(h, 0, dy, dx, 0, DragGrip, keep); break;
        case ievgBottomLeft: ResizeObject(h, dx, 0, 0, dy, DragGrip, keep); break;
        case ievgLeft: ResizeObject(h, dx, 0, 0, 0, DragGrip, keep); break;
        case ievgRight: ResizeObject(h, 0, 0, dx, 0, DragGrip, keep); break;
        case ievgTop: ResizeObject(h, 0, dy, 0, 0, DragGrip, keep); break;
        case ievgBottom: ResizeObject(h, 0, 0, 0, dy, DragGrip, keep); break;
        case ievgAngle1:
        case ievgAngle2:
        case ievgAngle3:
          if (r.Kind == ievkANGLE) {
            POINT& a = r.AnglePoints[DragGrip - ievgAngle1];
            a.x += dx, a.y += dy;
          }
          break;
      }
    }
    if ((r.Flags & ievfMovable) && DragGrip == ievgMove && moveAllowed) MoveObject(h, dx, dy);
  }
  Repaint();
}

// ---- mouse button released ----

void TImageryVect::DoMouseUp(TMouseButton b, int shift, int x, int y) {
  EraseMeasureHint();
  TImageryView::DoMouseUp(b, shift, x, y);
  VectMouseUp(b, shift, x, y);
}

void TImageryVect::VectMouseUp(TMouseButton b, int shift, int x, int y) {
  const POINT p = ClampToVisible(x, y);
  const bool wasCaptured = Captured;
  if (b == mbLeft) {
    Captured = false;
    if (wasCaptured && HandleAllocated() && GetCapture() == GetHandle()) ReleaseCapture();
  }
  const bool click = p.x == Down.x && p.y == Down.y;
  const bool building = (CreateState == ievkPOLYLINE && PolylineMode != 2) || CreateState == ievkANGLE;
  const bool measuring = (ObjectInteract & (IEVI(iviEditObjects) | IEVI(iviLengthMeasure) | IEVI(iviAreaMeasure))) != 0;
  const bool skip = building || b != mbLeft || !wasCaptured ||
                    (click && (ObjectInteract & IEVI(iviDragToCreate)) && !measuring);
  if (b == mbLeft && PreviewKind && !building) ShowPreview(0, true);
  if (!skip) {
    if (EditIndex >= 0) return;  // a text being edited takes no more of this press
    if (CreateState != ievkNONE) {
      EndCreation(click, p.x, p.y);
    } else {
      if (DragGrip && !(click && DragGrip == ievgMove)) {
        for (int h : SelectionList) {
          TIEVObjectRecord& r = *Records[size_t(h)];
          if (r.Kind == ievkLINE || r.Kind == ievkRULER || r.Kind == ievkPOLYLINE || r.Kind == ievkLINELABEL) continue;
          if (r.X1 > r.X2) std::swap(r.X1, r.X2);
          if (r.Y1 > r.Y2) std::swap(r.Y1, r.Y2);
        }
        DoVectorialChanged();
      } else if (click && (ObjectInteract & (IEVI(iviEditObjects) | IEVI(iviEditPolylinePoints)))) {
        if (!SelectOnMouseDown || PressedOnSelected) SelectAtPoint(shift, p.x, p.y, false);
      }
      EndPolylineVertexEdit(shift, p.x, p.y);
    }
    CreateState = ievkNONE;
    DragGrip = 0;
    if (NoResampleWhileDragging) {
      NoResampleWhileDragging = false;
      Repaint();
    }
  } else if (!building && b == mbLeft) {
    // a click that creates nothing leaves no creation behind
    CreateState = ievkNONE;
    DragGrip = 0;
  }
  PressedOnSelected = false;
  if (ObjectInteract & IEVI(iviEditObjects)) {
    double d;
    const int h = ObjectAtClient(p.x, p.y, d);
    if (h >= 0) DoObjectClick(h);
  }
  DropUnusedUndo();
  double d;
  const int h = ObjectAtClient(p.x, p.y, d);
  if (h >= 0 && d == 0 && Records[size_t(h)]->Extended) Records[size_t(h)]->Extended->MouseUp(int(b), shift, x, y);
  DrawMeasureHint(x, y);
}

void TImageryVect::EndCreation(bool click, int x, int y) {
  const TIEVKind kind = CreateState;
  RECT box;
  if (kind == ievkPOLYLINE && BuildHandle >= 0) {
    const TIEVObjectRecord& r = *Records[size_t(BuildHandle)];
    box = RECT{r.X1, r.Y1, r.X2, r.Y2};
  } else if (click) {
    const int w = Template.X2 - Template.X1, h = Template.Y2 - Template.Y1;
    int ix = ClientToImageX(x), iy = ClientToImageY(y);
    if (CenterNewObjects) ix -= w / 2, iy -= h / 2;
    box = RECT{ix, iy, ix + w, iy + h};
  } else {
    box = RECT{ClientToImageX(Down.x), ClientToImageY(Down.y), ClientToImageX(Current.x), ClientToImageY(Current.y)};
  }
  Template.X1 = box.left, Template.Y1 = box.top, Template.X2 = box.right, Template.Y2 = box.bottom;
  Template.Kind = kind;
  if (ObjectInteract & IEVI(iviDragLength)) {
    EraseMeasureHint();
    MeasureHintVisible = false;
    LastMeasure = DragLength(Down.x, Down.y, Current.x, Current.y);
    if (OnDragLenEnd) OnDragLenEnd(this, LastMeasure);
    return;
  }
  DoBeforeVectorialChanged();
  int h;
  if (kind == ievkPOLYLINE && BuildHandle >= 0) {
    h = BuildHandle;
  } else {
    if (kind == ievkPOLYLINE) Template.PolyPoints.clear();
    h = AddObject(Template);
  }
  BuildHandle = -1;
  CreateState = ievkNONE;
  UnselectObjectsAndRepaint();
  DoNewObject(h);
  SelectObjectNotify(IEV_LAST);
  Modified = true;
  if (EditNewText && (kind == ievkTEXT || kind == ievkMEMO)) {
    EditIndex = h;
    StartTextEdit();  // the change is reported when the editing ends
    if (EditIndex < 0) DoVectorialChanged();
  } else {
    DoVectorialChanged();
  }
}

void TImageryVect::EndPolylineVertexEdit(int shift, int x, int y) {
  if (!(ObjectInteract & IEVI(iviEditPolylinePoints)) || SelectionList.size() != 1) return;
  TIEVObjectRecord& r = *Records[size_t(SelectionList[0])];
  if (r.Kind != ievkPOLYLINE) return;
  if (VertexIndex >= 0 && (shift & ssCtrl) && r.PolyCount() > 2 && VertexIndex < r.PolyCount()) {
    r.PolyPoints.erase(r.PolyPoints.begin() + VertexIndex);
    RefitPolyline(r);
    Modified = true;
  } else if (SegmentIndex >= 0 && SegmentIndex < r.PolyCount()) {
    double sx, sy;
    GetPolylineScale(r, sx, sy);
    const POINT v{LONG(std::lround((ClientToImageX(x) + r.PolyBounds.left * sx - r.X1) / sx)),
                  LONG(std::lround((ClientToImageY(y) + r.PolyBounds.top * sy - r.Y1) / sy))};
    r.PolyPoints.insert(r.PolyPoints.begin() + SegmentIndex + 1, v);
    RefitPolyline(r);
    Modified = true;
    SegmentIndex = -1;
  }
  VertexIndex = -1;
  Repaint();
}

// ---- keys and window messages ----

void TImageryVect::VectKeyDown(WORD key, int shift) {
  (void)shift;
  if (key == VK_ESCAPE) {
    if (EditIndex >= 0) {
      EndTextEdit();
      EditIndex = -1;
      Repaint();
    }
  } else if (key == VK_F2 && !SelectionList.empty()) {
    const int h = SelectionList[0];
    const TIEVKind k = Records[size_t(h)]->Kind;
    if (k == ievkTEXT || k == ievkMEMO) {
      if (EditIndex >= 0) EndTextEdit();
      EditIndex = h;
      StartTextEdit();
      Repaint();
    }
  }
}

void TImageryVect::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_KEYDOWN: {
      VectKeyDown(WORD(m.WParam), KeyDataToShiftState(m.LParam));
      inherited::WndProc(m);
      if (SelectionList.size() == 1) {
        TIEVObjectRecord& r = *Records[size_t(SelectionList[0])];
        if (r.Kind == ievkEXTENDED && r.Extended) r.Extended->KeyPress(WORD(m.WParam), KeyDataToShiftState(m.LParam));
      }
      return;
    }
    case WM_GETDLGCODE:
      m.Result = DLGC_WANTARROWS | DLGC_WANTALLKEYS;
      return;
    case WM_SIZE:
      inherited::WndProc(m);
      CancelInteract();
      Repaint();
      return;
    case WM_SETFOCUS:
      inherited::WndProc(m);
      if (EditIndex >= 0 && EditIndex < int(Records.size()) && Records[size_t(EditIndex)]) {
        TWinControl* editor = Records[size_t(EditIndex)]->Kind == ievkMEMO ? static_cast<TWinControl*>(TextControl)
                                                                            : static_cast<TWinControl*>(TextEdit);
        if (editor->GetVisible() && editor->CanFocus()) editor->SetFocus();
      }
      return;
  }
  inherited::WndProc(m);
}
