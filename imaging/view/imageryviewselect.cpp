// The image view's selection: the polygon store the user draws, the mask made from it (the pixels
// processing acts on), the operations that make, add to, move and resize a selection, and the
// drawing of both over the window (marching ants, grips, the selection grid).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "iebitmap.h"
#include "iegdiplus.h"
#include "iegeom.h"
#include "ieutils.h"
#include "ielayer.h"
#include "iemagicwand.h"
#include "iemask.h"
#include "imageryview.h"
#include "uiforms.h"

namespace {
constexpr int kAntsInterval = 210;  // ms; also the tick of the delayed zoom filter
constexpr int kEdgeGripDistance = 3;
constexpr int kMinEllipsePoints = 50;
constexpr double kPi = 3.14159265358979323846;

int Round(double v) { return IERound(v); }
int Trunc(double v) { return int(v); }

bool IsSeparator(const POINT& p) { return p.x == kIEPolygonSeparator && p.y == kIEPolygonSeparator; }

double DefaultAntsClock() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

// The first integer from `start` in direction `step` (+1 or -1) at which `done` holds, for a `done`
// that once true stays true further on. The keep-aspect rules move a corner until it is back inside
// the image; a search finds that place in a few dozen tests where walking pixel by pixel could take
// millions of steps for an extreme aspect ratio.
template <class Pred>
int FirstWhere(int start, int step, Pred done) {
  if (done(start)) return start;
  int64_t bad = start, span = 1;
  int64_t good = start;
  bool found = false;
  for (int i = 0; i < 40; ++i) {
    const int64_t probe = int64_t(start) + step * span;
    if (probe < INT_MIN / 2 || probe > INT_MAX / 2) break;
    if (done(int(probe))) {
      good = probe;
      found = true;
      break;
    }
    bad = probe;
    span *= 2;
  }
  if (!found) return int(bad);
  // done(bad) is false, done(good) true
  while ((good - bad) * step > 1) {
    const int64_t mid = bad + (good - bad) / 2;
    if (done(int(mid))) good = mid;
    else bad = mid;
  }
  return int(good);
}

void Order(int& a, int& b) {
  if (a > b) std::swap(a, b);
}
}  // namespace

RECT IEClipRectKeepAspect(const RECT& r, int fixedCorner, int width, int height) {
  const bool fixedRight = fixedCorner == 2 || fixedCorner == 3;
  const bool fixedBottom = fixedCorner == 3 || fixedCorner == 4;
  const double fx = fixedRight ? r.right : r.left, fy = fixedBottom ? r.bottom : r.top;
  const double ox = fixedRight ? r.left : r.right, oy = fixedBottom ? r.top : r.bottom;
  double s = 1;
  // the factor that brings the free corner back onto each border it crosses
  if (ox > width && ox != fx) s = std::min(s, (width - fx) / (ox - fx));
  if (ox < 0 && ox != fx) s = std::min(s, fx / (fx - ox));
  if (oy > height && oy != fy) s = std::min(s, (height - fy) / (oy - fy));
  if (oy < 0 && oy != fy) s = std::min(s, fy / (fy - oy));
  s = std::max(s, 0.0);
  const int nx = int(fx) + Trunc((ox - fx) * s), ny = int(fy) + Trunc((oy - fy) * s);
  RECT out{std::min(int(fx), nx), std::min(int(fy), ny), std::max(int(fx), nx), std::max(int(fy), ny)};
  return out;
}

// ---- the polygon store ----

TIEPolygonStore* TImageryView::CreatePolygonStore(ui::TColor colour1, ui::TColor colour2, bool sizeable,
                                                   bool animated) {
  auto* store = new TIEPolygonStore();
  store->Colour1 = colour1;
  store->Colour2 = colour2;
  store->Sizeable = sizeable;
  store->Animated = animated;
  PolygonStores.push_back(store);
  if (PolygonStores.size() == 1 && !InState(ui::csDesigning) && (HasOwner || HasParentWindow())) {
    EnsureAntsTimer();
    AntsTimer->SetEnabled(true);
  }
  return store;
}

void TImageryView::EnsureAntsTimer() {
  if (AntsTimer) return;
  AntsTimer = ui::New<ui::TTimer>(this);
  AntsTimer->SetEnabled(false);
  AntsTimer->SetInterval(kAntsInterval);
  AntsTimer->OnTimer = [this](ui::TObject* sender) {
    try {
      DrawSelections(sender, true);
    } catch (...) {
      // a failed frame of the ants is skipped: nothing may leave the timer's window procedure
    }
    try {
      CountDownViewTimers();
    } catch (...) {
      // the filtered picture comes with the next update
    }
  };
}

bool TImageryView::AnimatedStoreShown() const {
  if (!DrawSelectionsEnabled) return false;
  for (const TIEPolygonStore* store : PolygonStores)
    if (store->Shown && store->Animated) return true;
  return false;
}

void TImageryView::CountDownViewTimers() {
  if (AntsTimer) AntsTimer->SetEnabled(FilterCountdown != 0 || AntsPauseCountdown != 0 || AnimatedStoreShown());
  if (AntsPauseCountdown > 0) --AntsPauseCountdown;
  if (FilterCountdown > 0 && --FilterCountdown == 0) UpdateView();
}

void TImageryView::FreeSelectionState() {
  for (TIEPolygonStore* store : PolygonStores) delete store;
  PolygonStores.clear();
  SelectionPolygon = nullptr;
  for (TIEMemoryStream* stream : SelectionStack) delete stream;
  SelectionStack.clear();
}

void TImageryView::ClearPolygon(TIEPolygonStore* store) {
  store->Points.clear();
  store->Points.shrink_to_fit();
  store->Count = 0;
  if (PaintLock == 0) PaintView();
}

void TImageryView::AddSelectionPointRaw(TIEPolygonStore* store, int x, int y) {
  if (store->Count >= int(store->Points.size()))
    store->Points.resize(size_t(std::max(2 * int(store->Points.size()), store->Count + 1)));
  store->Points[size_t(store->Count)] = POINT{x, y};
  ++store->Count;
  if (store->Count == 2) {
    const POINT& p = store->Points[0];
    store->X1 = std::min(int(p.x), x);
    store->Y1 = std::min(int(p.y), y);
    store->X2 = std::max(int(p.x), x);
    store->Y2 = std::max(int(p.y), y);
  } else if (store->Count > 2) {
    store->X1 = std::min(store->X1, x);
    store->Y1 = std::min(store->Y1, y);
    store->X2 = std::max(store->X2, x);
    store->Y2 = std::max(store->Y2, y);
  }
  SelectionPresent = true;
}

void TImageryView::AddPolygonSeparator(TIEPolygonStore* store) {
  if (store->Count > 0 && IsSeparator(store->Points[size_t(store->Count) - 1])) return;
  // appended as a plain point: a separator is no corner and must not stretch the bounds
  if (store->Count >= int(store->Points.size()))
    store->Points.resize(size_t(std::max(2 * int(store->Points.size()), store->Count + 1)));
  store->Points[size_t(store->Count)] = POINT{kIEPolygonSeparator, kIEPolygonSeparator};
  ++store->Count;
}

void TImageryView::RemoveLastPoint(TIEPolygonStore* store) {
  if (store->Count == 0) return;
  --store->Count;
  while (store->Count > 0 && IsSeparator(store->Points[size_t(store->Count) - 1])) --store->Count;
}

void TImageryView::RemoveLastPolygon(TIEPolygonStore* store) {
  int cut = -1;
  for (int i = store->Count - 1; i >= 0; --i)
    if (IsSeparator(store->Points[size_t(i)])) {
      cut = i;
      break;
    }
  if (cut < 0) {
    ClearPolygon(store);
    return;
  }
  store->Count = cut;
  if (PaintLock == 0) PaintView();
}

void TImageryView::MovePolygon(TIEPolygonStore* store, int dx, int dy, bool cutBorders, int imageWidth,
                               int imageHeight) {
  if (!cutBorders) {
    if (store->X1 + dx < 0) dx = -store->X1;
    if (store->X2 + dx > imageWidth) dx = imageWidth - store->X2;
    if (store->Y1 + dy < 0) dy = -store->Y1;
    if (store->Y2 + dy > imageHeight) dy = imageHeight - store->Y2;
    // larger than the image: it cannot move at all
    if (store->X1 + dx < 0 || store->X2 + dx > imageWidth || store->Y1 + dy < 0 || store->Y2 + dy > imageHeight)
      return;
  } else {
    // the last column or row stays inside
    if (store->X1 + dx >= imageWidth) dx = imageWidth - 1 - store->X1;
    if (store->Y1 + dy >= imageHeight) dy = imageHeight - 1 - store->Y1;
    if (store->X2 + dx <= 0) dx = 1 - store->X2;
    if (store->Y2 + dy <= 0) dy = 1 - store->Y2;
  }
  auto cx = [&](int v) { return std::clamp(v, 0, std::max(0, imageWidth)); };
  auto cy = [&](int v) { return std::clamp(v, 0, std::max(0, imageHeight)); };
  store->X1 = cx(store->X1 + dx);
  store->X2 = cx(store->X2 + dx);
  store->Y1 = cy(store->Y1 + dy);
  store->Y2 = cy(store->Y2 + dy);
  for (int i = 0; i < store->Count; ++i) {
    POINT& p = store->Points[size_t(i)];
    if (IsSeparator(p)) continue;
    p.x = cx(p.x + dx);
    p.y = cy(p.y + dy);
  }
}

bool TImageryView::IsRectanglePolygon(const POINT* points, int count) {
  if (count != 4 || !points) return false;
  auto horizontal = [](const POINT& a, const POINT& b) { return a.y == b.y && a.x != b.x; };
  auto vertical = [](const POINT& a, const POINT& b) { return a.x == b.x && a.y != b.y; };
  const POINT &a = points[0], &b = points[1], &c = points[2], &d = points[3];
  return (horizontal(a, b) && vertical(b, c) && horizontal(c, d) && vertical(d, a)) ||
         (vertical(a, b) && horizontal(b, c) && vertical(c, d) && horizontal(d, a));
}

// ---- helpers ----

void TImageryView::SelectionPointToImage(int& x, int& y) {
  if (SelectionBase != iesbClientArea) return;
  TIELayer* layer = GetCurrentLayer();
  x = layer->ClientToBitmapX(x);
  y = layer->ClientToBitmapY(y);
}

int TImageryView::SelectionToClientX(int x) { return GetCurrentLayer()->BitmapToClientX(x); }
int TImageryView::SelectionToClientY(int y) { return GetCurrentLayer()->BitmapToClientY(y); }

bool TImageryView::InteractiveSelectionRuns() const {
  return PolygonSelecting || RectSelecting || CircleSelecting || SelectionGrip != 0 || SelectionMoveState >= 0;
}

void TImageryView::FitMaskToBitmap() {
  const int w = IEBitmap->GetImageWidth(), h = IEBitmap->GetImageHeight();
  if (SelectionMask->Width == w && SelectionMask->Height == h) return;
  if (SelectionMask->IsEmpty() || SelectionMask->MaskBitDepth == 0) SelectionMask->Allocate(w, h, MaskDepth);
  else SelectionMask->Resize(w, h);
}

void TImageryView::PaintSelectionChange() {
  BackBufferDirty = true;
  PaintView();
}

// ---- making a selection ----

void TImageryView::SelectRectInternal(int x1, int y1, int x2, int y2, int operation, bool square, bool keepInside) {
  if (x1 == x2 || y1 == y2) return;
  SelectionPointToImage(x1, y1);
  SelectionPointToImage(x2, y2);
  FitMaskToBitmap();
  const int w = IEBitmap->GetImageWidth(), h = IEBitmap->GetImageHeight();
  SelectionPresent = true;
  if (operation == 1 && SelectionPolygon->Count > 0) AddPolygonSeparator(SelectionPolygon);
  else ClearPolygon(SelectionPolygon);
  if (operation == 0) SelectionMask->Clear();
  const double r = SelectionAspectRatio;
  if (square && r == -1) {
    y2 = x2 + y1 - x1;
  } else if (r > 0) {
    y2 = Round((x2 - x1) * r) + y1;
    if (y2 >= h) x2 = Round((h - y1 - 1 + x1 * r) / r);
    if (y2 < 0) x2 = Round((x1 * r - y1) / r);
  }
  if (keepInside) {
    Order(x1, x2);
    Order(y1, y2);
    if (x1 < 0) x2 -= x1, x1 = 0;
    if (y1 < 0) y2 -= y1, y1 = 0;
    if (x2 > w - 1) x1 -= x2 - (w - 1), x2 = w - 1;
    if (y2 > h - 1) y1 -= y2 - (h - 1), y2 = h - 1;
  }
  Order(x1, x2);
  Order(y1, y2);
  x1 = std::clamp(x1, 0, std::max(0, w - 1));
  y1 = std::clamp(y1, 0, std::max(0, h - 1));
  x2 = std::clamp(x2, 0, w);
  y2 = std::clamp(y2, 0, h);
  AddSelectionPointRaw(SelectionPolygon, x1, y1);
  AddSelectionPointRaw(SelectionPolygon, x2, y1);
  AddSelectionPointRaw(SelectionPolygon, x2, y2);
  AddSelectionPointRaw(SelectionPolygon, x1, y2);
  ShowSelection(true);
}

void TImageryView::SelectRect(int x1, int y1, int x2, int y2, int operation) {
  if (x1 == x2 || y1 == y2) return;
  SelectRectInternal(x1, y1, x2, y2, operation, false, false);
  if (operation == 0) SelectionMask->Clear();
  EndSelection();
  PaintSelectionChange();
}

void TImageryView::AddEllipsePolygon(int cx, int cy, int rx, int ry) {
  const int w = IEBitmap->GetImageWidth(), h = IEBitmap->GetImageHeight();
  const int n = std::max(Trunc(std::min(rx, ry) * 2 * kPi), kMinEllipsePoints);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * kPi * i / n;
    AddSelectionPointRaw(SelectionPolygon, std::clamp(Round(cx + std::cos(a) * rx), 0, w),
                         std::clamp(Round(cy + std::sin(a) * ry), 0, h));
  }
}

void TImageryView::SelectEllipse(int cx, int cy, int rx, int ry, int operation) {
  if (SelectionBase == iesbClientArea) {
    SelectionPointToImage(cx, cy);
    rx = Trunc(rx * 100.0 / ZoomX);
    ry = Trunc(ry * 100.0 / ZoomY);
  }
  rx = std::abs(rx);
  ry = std::abs(ry);
  if (rx == 0 || ry == 0) return;
  FitMaskToBitmap();
  if (operation == 1 && SelectionPolygon->Count > 0) {
    BeginNewPolygon();
  } else {
    ClearPolygon(SelectionPolygon);
    SelectionMask->Clear();
  }
  AddEllipsePolygon(cx, cy, rx, ry);
  ShowSelection(true);
  EndSelection();
  PaintSelectionChange();
}

void TImageryView::AddSelectionPoint(int x, int y) {
  if (SelectionBase == iesbClientArea) {
    TIELayer* layer = GetCurrentLayer();
    x = std::clamp(layer->ClientToBitmapX(x), 0, IEBitmap->GetImageWidth());
    y = std::clamp(layer->ClientToBitmapY(y), 0, IEBitmap->GetImageHeight());
  }
  AddSelectionPointRaw(SelectionPolygon, x, y);
  SelectionPolygon->Shown = true;
  DrawSelections(this, true);
  PaintSelectionChange();
}

void TImageryView::EndSelection() {
  FitMaskToBitmap();
  if (SelectionPolygon->Count > 0)
    SelectionMask->DrawPolygons(MaskValue, SelectionPolygon->Points.data(), SelectionPolygon->Count);
  if (SelectionMask->IsEmpty()) {
    SelectionPresent = false;
    ClearPolygon(SelectionPolygon);
  }
}

void TImageryView::BeginNewPolygon() {
  if (SelectionPolygon->Count > 0) AddPolygonSeparator(SelectionPolygon);
}

void TImageryView::EndPolygonSelection(bool add, bool dropLastPoint) {
  if (dropLastPoint) RemoveLastPoint(SelectionPolygon);
  if (!(add && ShiftAddsSelection)) SelectionMask->Clear();
  EndSelection();
  UpdateReason = 3;
  UpdateView();
  PolygonSelecting = false;
  DoSelectionChange();
}

void TImageryView::Deselect() {
  if (SelectionPresent) {
    SelectionPresent = false;
    HideSelection(true);
  }
  ClearPolygon(SelectionPolygon);
  SelectionMask->Clear();
  PolygonSelecting = LassoSelecting = RectSelecting = CircleSelecting = false;
  SelectionGrip = 0;
  SelectionMoveState = -1;
  RestoreBaseCursor();
  UpdateReason = 3;
  UpdateView();
}

void TImageryView::SelectMagicWand(int x, int y, int operation) {
  SelectionPointToImage(x, y);
  const int w = IEBitmap->GetImageWidth(), h = IEBitmap->GetImageHeight();
  if (x < 0 || y < 0 || x >= w || y >= h) return;
  FitMaskToBitmap();
  if (MagicWandMode == 1 || MagicWandMode == 2) {
    if (operation == 0) {
      ClearPolygon(SelectionPolygon);
      SelectionMask->Clear();
    }
    if (MagicWandMode == 1)
      IEMagicWandFill(IEBitmap, x, y, MaskValue, SelectionMask, MagicWandTolerance, MagicWandMaxFilter);
    else
      IESelectSimilarColors(IEBitmap, x, y, MaskValue, SelectionMask, MagicWandTolerance);
    SelectionPresent = !SelectionMask->IsEmpty();
    ShowSelection(true);
  } else {
    std::vector<POINT> outline = IEMagicWandOutline(IEBitmap, x, y, MagicWandTolerance, MagicWandMaxFilter);
    if (!outline.empty()) {
      SelectionPresent = true;
      if (operation == 1 && SelectionPolygon->Count > 0) {
        AddPolygonSeparator(SelectionPolygon);
      } else {
        ClearPolygon(SelectionPolygon);
        SelectionMask->Clear();
      }
      for (const POINT& p : outline)
        AddSelectionPointRaw(SelectionPolygon, std::clamp(int(p.x), 0, w), std::clamp(int(p.y), 0, h));
      outline.clear();
      if (operation == 0) SelectionMask->Clear();
      EndSelection();
      ShowSelection(true);
    }
  }
  PaintSelectionChange();
}

// ---- moving and resizing ----

int TImageryView::MoveSelection(int state, int dx, int dy, bool cutBorders) {
  FitMaskToBitmap();
  if (IsRectanglePolygon(SelectionPolygon->Points.data(), SelectionPolygon->Count)) {
    SelectionMask->Clear();
    SelectionMoving = true;
  } else {
    SelectionMask->Translate(dx, dy, cutBorders);
    SelectionMoving = false;
  }
  if (dx == 0 && dy == 0) return state;
  MovePolygon(SelectionPolygon, dx, dy, cutBorders, IEBitmap->GetImageWidth(), IEBitmap->GetImageHeight());
  DrawSelections(this, true);
  return state;
}

void TImageryView::MoveSelectionBy(int dx, int dy) {
  MoveSelection(0, dx, dy, (SelectionOptions & IESelOpt(iesoCutBorders)) != 0);
  EndSelection();
  // moved by a call, not a drag: the mask is whole again
  SelectionMoving = false;
  PaintSelectionChange();
}

void TImageryView::BeginSelectionGripDrag(int grip) {
  SelectionGrip = grip;
  GripStartX1 = SelectionPolygon->X1;
  GripStartY1 = SelectionPolygon->Y1;
  GripStartX2 = SelectionPolygon->X2;
  GripStartY2 = SelectionPolygon->Y2;
}

int TImageryView::ResizeSelectionByGrip(int grip, int x, int y, bool keepAspect) {
  TIEPolygonStore* store = SelectionPolygon;
  if (!IsRectanglePolygon(store->Points.data(), store->Count)) return grip;
  SelectionPointToImage(x, y);
  const int w = IEBitmap->GetImageWidth(), h = IEBitmap->GetImageHeight();
  if (keepAspect) {
    const double X1 = GripStartX1, Y1 = GripStartY1, X2 = GripStartX2, Y2 = GripStartY2;
    if (Y2 - Y1 + 1 == 0) return grip;
    const double r = SelectionAspectRatio > 0 ? 1 / SelectionAspectRatio : (X2 - X1 + 1) / (Y2 - Y1 + 1);
    if (!(r > 0) || !std::isfinite(r)) return grip;
    // the dragged corner stays on the diagonal through the opposite one; a point far outside gives
    // values beyond int, held back before rounding
    auto Round = [](double v) { return IERound(std::clamp(v, -1e9, 1e9)); };
    auto yOf1 = [&](int px) { return Round(Y2 + (px - X2 - 1) / r + 1); };
    auto yOf2 = [&](int px) { return Round(Y2 + (X1 - px - 1) / r); };
    auto yOf3 = [&](int px) { return Round(Y1 + (px - X1 + 1) / r - 1); };
    auto yOf4 = [&](int px) { return Round(Y1 + (X2 - px + 1) / r + 1); };
    auto xOfTop = [&](int py) { return Round(X2 + 1 + r * (py - 1 - Y2)); };
    auto xOfBottom = [&](int py) { return Round(X1 - 1 + r * (py - Y1 + 1)); };
    switch (grip) {
      case 1:
      case 5:
        x = FirstWhere(x, 1, [&](int px) { return yOf1(px) >= 0; });
        y = yOf1(x);
        grip = 1;
        break;
      case 2:
        x = FirstWhere(x, -1, [&](int px) { return yOf2(px) >= 0; });
        y = yOf2(x);
        break;
      case 3:
      case 6:
        y = yOf3(x);
        grip = 3;
        break;
      case 4:
        x = FirstWhere(x, 1, [&](int px) { return yOf4(px) <= h; });
        y = yOf4(x);
        break;
      case 7:
        y = FirstWhere(y, 1, [&](int py) { return xOfTop(py) >= 0; });
        x = xOfTop(y);
        grip = 1;
        break;
      case 8:
        y = FirstWhere(y, -1, [&](int py) { return xOfBottom(py) <= w; });
        x = xOfBottom(y);
        grip = 3;
        break;
      default:
        return grip;
    }
  }
  // the right and bottom bounds are exclusive
  if (grip == 2 || grip == 3 || grip == 6) ++x;
  if (grip == 3 || grip == 4 || grip == 8) ++y;
  int x1 = store->X1, y1 = store->Y1, x2 = store->X2, y2 = store->Y2;
  if (grip == 1 || grip == 4 || grip == 5) {
    x1 = x;
    if (x1 == x2) x1 = x2 - 1;
  }
  if (grip == 2 || grip == 3 || grip == 6) {
    x2 = x;
    if (x2 == x1) x2 = x1 + 1;
  }
  if (grip == 1 || grip == 2 || grip == 7) {
    y1 = y;
    if (y1 == y2) y1 = y2 - 1;
  }
  if (grip == 3 || grip == 4 || grip == 8) {
    y2 = y;
    if (y2 == y1) y2 = y1 + 1;
  }
  if (x2 < x1) {
    static const int kFlipH[9] = {0, 2, 1, 4, 3, 6, 5, 7, 8};
    grip = kFlipH[grip];
  }
  if (y2 < y1) {
    static const int kFlipV[9] = {0, 4, 3, 2, 1, 5, 6, 8, 7};
    grip = kFlipV[grip];
  }
  ClearPolygon(store);
  Order(x1, x2);
  Order(y1, y2);
  if (keepAspect && (x1 < 0 || y1 < 0 || x2 > w || y2 > h)) {
    static const int kOpposite[5] = {0, 3, 4, 1, 2};
    const RECT c = IEClipRectKeepAspect(RECT{x1, y1, x2, y2}, grip >= 1 && grip <= 4 ? kOpposite[grip] : 1, w, h);
    x1 = c.left, y1 = c.top, x2 = c.right, y2 = c.bottom;
  }
  x1 = std::clamp(x1, 0, w);
  x2 = std::clamp(x2, 0, w);
  y1 = std::clamp(y1, 0, h);
  y2 = std::clamp(y2, 0, h);
  Order(x1, x2);
  Order(y1, y2);
  AddSelectionPointRaw(store, x1, y1);
  AddSelectionPointRaw(store, x2, y1);
  AddSelectionPointRaw(store, x2, y2);
  AddSelectionPointRaw(store, x1, y2);
  ShowSelection(true);
  return grip;
}

// ---- zoom to the selection ----

void TImageryView::ZoomSelection(bool keepAspect, bool ask) {
  if (!SelectionPresent) return;
  const int x1 = SelectedLeft(), y1 = SelectedTop();
  const int w = SelectedRight() + 1 - x1, h = SelectedBottom() + 1 - y1;
  if (x1 < 0 || y1 < 0 || w < 2 || h < 2) return;
  Deselect();
  const double cw = GetWidth(), ch = GetHeight();
  double z = std::min(ch / (h / 100.0), cw / (w / 100.0));
  if (ask && OnZoomIn) OnZoomIn(this, z);
  if (keepAspect) {
    SetZoom(z);
  } else {
    SetZoomX(cw / (w / 100.0));
    SetZoomY(ch / (h / 100.0));
  }
  const double fx = ZoomX / 100, fy = ZoomY / 100;
  SetViewOrigin(Trunc(x1 * fx) - (GetViewportWidth() - Trunc(w * fx)) / 2,
                Trunc(y1 * fy) - (GetViewportHeight() - Trunc(h * fy)) / 2);
}

// ---- queries and settings ----

int TImageryView::SelectedLeft() {
  return InteractiveSelectionRuns() ? SelectionPolygon->X1 : SelectionMask->BoxX1;
}
int TImageryView::SelectedTop() {
  return InteractiveSelectionRuns() ? SelectionPolygon->Y1 : SelectionMask->BoxY1;
}
int TImageryView::SelectedRight() {
  return InteractiveSelectionRuns() ? SelectionPolygon->X2 - 1 : SelectionMask->BoxX2;
}
int TImageryView::SelectedBottom() {
  return InteractiveSelectionRuns() ? SelectionPolygon->Y2 - 1 : SelectionMask->BoxY2;
}

const POINT* TImageryView::GetSelectionPolygon() const { return SelectionPolygon->Points.data(); }
int TImageryView::GetSelectionPolygonCount() const { return SelectionPolygon->Count; }

void TImageryView::SetSelectionColor1(ui::TColor c) {
  SelectionColour1 = c;
  if (SelectionPolygon) SelectionPolygon->Colour1 = c;
}

void TImageryView::SetSelectionColor2(ui::TColor c) {
  SelectionColour2 = c;
  if (SelectionPolygon) SelectionPolygon->Colour2 = c;
}

void TImageryView::SetSelectionOptions(TIESelectionOptions options) {
  SelectionOptions = options;
  SelectionPolygon->Animated = (options & IESelOpt(iesoAnimated)) != 0;
  SelectionPolygon->Sizeable = (options & IESelOpt(iesoSizeable)) != 0;
  UpdateReason = 3;
  UpdateView();
}

void TImageryView::SetSelectionAspectRatio(double r) {
  if (r == SelectionAspectRatio) return;
  SelectionAspectRatio = r;
  if (r != 0) SetSelectionOptions(SelectionOptions | IESelOpt(iesoSizeable));
  else SetSelectionOptions(SelectionOptions & TIESelectionOptions(~IESelOpt(iesoSizeable)));
}

void TImageryView::ShowSelection(bool draw) {
  SelectionPolygon->Shown = true;
  if (draw) DrawSelections(this, true);
}

void TImageryView::HideSelection(bool paint) {
  SelectionPolygon->Shown = false;
  if (paint && PaintLock == 0) PaintView();
}

// The handlers see the application's SelectionBase even while a mouse operation has set its own.
void TImageryView::DoSelectionChanging() {
  if (!OnSelectionChanging) return;
  std::swap(SelectionBase, SavedSelectionBase);
  try {
    OnSelectionChanging(this);
  } catch (...) {
    std::swap(SelectionBase, SavedSelectionBase);
    throw;
  }
  std::swap(SelectionBase, SavedSelectionBase);
}

void TImageryView::DoBeforeSelectionChange() {
  if (!OnBeforeSelectionChange) return;
  std::swap(SelectionBase, SavedSelectionBase);
  try {
    OnBeforeSelectionChange(this);
  } catch (...) {
    std::swap(SelectionBase, SavedSelectionBase);
    throw;
  }
  std::swap(SelectionBase, SavedSelectionBase);
}

void TImageryView::DoSelectionChange() {
  if (OnSelectionChange) OnSelectionChange(this);
}

// ---- hit tests ----

int TImageryView::GetGripAt(int x, int y) {
  TIEPolygonStore* store = SelectionPolygon;
  if (!store->Shown || !store->Sizeable || RectSelecting ||
      !IsRectanglePolygon(store->Points.data(), store->Count))
    return 0;
  for (int i = 0; i < 4; ++i) {
    const int cx = SelectionToClientX(store->Points[size_t(i)].x), cy = SelectionToClientY(store->Points[size_t(i)].y);
    if (std::abs(x - cx) <= SelectionGripSize && std::abs(y - cy) <= SelectionGripSize) return i + 1;
  }
  const int l = SelectionToClientX(store->X1), t = SelectionToClientY(store->Y1);
  const int r = SelectionToClientX(store->X2), b = SelectionToClientY(store->Y2);
  if (IEDistanceToSegment(x, y, l, t, l, b) < kEdgeGripDistance) return 5;
  if (IEDistanceToSegment(x, y, r, t, r, b) < kEdgeGripDistance) return 6;
  if (IEDistanceToSegment(x, y, l, t, r, t) < kEdgeGripDistance) return 7;
  if (IEDistanceToSegment(x, y, l, b, r, b) < kEdgeGripDistance) return 8;
  return 0;
}

int TImageryView::GetGripAtUnlessShift(int x, int y, bool shift) { return shift ? 0 : GetGripAt(x, y); }

int TImageryView::HitSelection(int x, int y, bool shift) {
  if (shift || SelectionMask->IsEmpty() || RectSelecting || PolygonSelecting || CircleSelecting) return -1;
  SelectionPointToImage(x, y);
  // the point may lie beside the image (or the layer): nothing is selected there
  if (x < 0 || y < 0 || x >= SelectionMask->Width || y >= SelectionMask->Height) return -1;
  return SelectionMask->IsSelected(x, y) && (SelectionOptions & IESelOpt(iesoMoveable)) ? 0 : -1;
}

// ---- drawing ----

int TImageryView::GetAntsTimerInterval() const { return AntsTimer ? AntsTimer->GetInterval() : 0; }

void TImageryView::DrawSelectionGrid(int x1, int y1, int x2, int y2) {
  const int n = SelectionGridSize;
  if (n < 2) return;
  Order(x1, x2);
  Order(y1, y2);
  HDC dc = Canvas()->GetHandle();
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0xA0, 0xA0, 0xA0));
  HGDIOBJ old = SelectObject(dc, pen);
  const int oldRop = SetROP2(dc, R2_COPYPEN);
  for (int b = 1; b < n; ++b) {
    const int gy = y1 + Trunc(double(b) * (y2 - y1) / n);
    MoveToEx(dc, x1, gy, nullptr);
    LineTo(dc, x2, gy);
    const int gx = x1 + Trunc(double(b) * (x2 - x1) / n);
    MoveToEx(dc, gx, y1, nullptr);
    LineTo(dc, gx, y2);
  }
  SetROP2(dc, oldRop);
  SelectObject(dc, old);
  DeleteObject(pen);
}

void TImageryView::DrawPolygonRubberBand() {
  if (!PolygonSelecting || LassoSelecting || SelectionPolygon->Count == 0) return;
  if (!HandleAllocated() || !HasParentWindow()) return;
  const POINT& last = SelectionPolygon->Points[size_t(SelectionPolygon->Count) - 1];
  if (IsSeparator(last)) return;
  HDC dc = Canvas()->GetHandle();
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
  HGDIOBJ old = SelectObject(dc, pen);
  const int oldRop = SetROP2(dc, R2_NOT);
  MoveToEx(dc, RubberBandPoint.x, RubberBandPoint.y, nullptr);
  LineTo(dc, SelectionToClientX(last.x), SelectionToClientY(last.y));
  SetROP2(dc, oldRop);
  SelectObject(dc, old);
  DeleteObject(pen);
}

namespace {
struct DashContext {
  HDC dc;
  int* counter;
  COLORREF colour1, colour2;
};

void CALLBACK PlotDash(int x, int y, LPARAM data) {
  auto* c = reinterpret_cast<DashContext*>(data);
  SetPixelV(c->dc, x, y, *c->counter < 4 ? c->colour1 : c->colour2);
  *c->counter = (*c->counter + 1) % 8;
}
}  // namespace

void TImageryView::DrawDashedLine(TIEPolygonStore* store, int x1, int y1, int x2, int y2) {
  DashContext c{Canvas()->GetHandle(), &store->DashCounter, ui::ColorToRGB(store->Colour1),
                ui::ColorToRGB(store->Colour2)};
  LineDDA(x1, y1, x2, y2, PlotDash, reinterpret_cast<LPARAM>(&c));
}

void TImageryView::DrawPolygonOutline(TIEPolygonStore* store, int storeIndex) {
  store->DashCounter = store->AntsPhase % 8;
  const POINT* p = store->Points.data();
  const int n = store->Count;
  if (n == 0) return;
  if (IsRectanglePolygon(p, n)) {
    const int l = SelectionToClientX(store->X1), t = SelectionToClientY(store->Y1);
    const int r = SelectionToClientX(store->X2) - 1, b = SelectionToClientY(store->Y2) - 1;
    NavigatorRect = RECT{l, t, r, b};
    const POINT corners[4] = {{l, t}, {r, t}, {r, b}, {l, b}};
    for (int e = 0; e < 4; ++e) {
      const POINT& a = corners[e];
      const POINT& z = corners[(e + 1) % 4];
      DrawDashedLine(store, a.x, a.y, z.x, z.y);
      if (OnDrawPolygon) OnDrawPolygon(this, storeIndex, (e + 1) % 4, Canvas(), z.x, z.y);
    }
    if (RectSelecting || SelectionMoving) DrawSelectionGrid(l, t, r, b);
    return;
  }
  int first = 0;
  for (int i = 0; i < n; ++i) {
    if (IsSeparator(p[i])) continue;
    const bool closing = i + 1 >= n || IsSeparator(p[i + 1]);
    if (closing && i + 1 < n) {
      // the polygon ends at a separator: back to its first point, and the next one starts afresh
      const int ax = SelectionToClientX(p[i].x), ay = SelectionToClientY(p[i].y);
      DrawDashedLine(store, ax, ay, SelectionToClientX(p[first].x), SelectionToClientY(p[first].y));
      if (OnDrawPolygon) OnDrawPolygon(this, storeIndex, i, Canvas(), ax, ay);
      first = i + 2;
      continue;
    }
    if (closing) break;
    const int ax = SelectionToClientX(p[i].x), ay = SelectionToClientY(p[i].y);
    DrawDashedLine(store, ax, ay, SelectionToClientX(p[i + 1].x), SelectionToClientY(p[i + 1].y));
    if (OnDrawPolygon) OnDrawPolygon(this, storeIndex, i, Canvas(), ax, ay);
  }
  // the last polygon is closed, except while it is still being drawn
  if (!PolygonSelecting && first < n && !IsSeparator(p[n - 1])) {
    const int ax = SelectionToClientX(p[n - 1].x), ay = SelectionToClientY(p[n - 1].y);
    DrawDashedLine(store, ax, ay, SelectionToClientX(p[first].x), SelectionToClientY(p[first].y));
    if (OnDrawPolygon) OnDrawPolygon(this, storeIndex, n - 1, Canvas(), ax, ay);
  }
}

void TImageryView::DrawGrips(TIEPolygonStore* store) {
  TIECanvas canvas(Canvas());
  canvas.GetBrush()->SetStyle(SelectionGripBrushStyle);
  canvas.GetBrush()->SetColor(SelectionGripBrushColour);
  canvas.GetPen()->SetColor(SelectionGripPenColour);
  const int s = SelectionGripSize;
  auto grip = [&](int cx, int cy) {
    if (SelectionGripShape == 0) canvas.Rectangle(cx - s, cy - s, cx + s, cy + s);
    else canvas.Ellipse(cx - s, cy - s, cx + s, cy + s);
  };
  int minX = INT_MAX, minY = INT_MAX, maxX = INT_MIN, maxY = INT_MIN;
  for (int i = 0; i < store->Count; ++i) {
    const POINT& p = store->Points[size_t(i)];
    if (IsSeparator(p)) continue;
    const int cx = SelectionToClientX(p.x), cy = SelectionToClientY(p.y);
    grip(cx, cy);
    minX = std::min(minX, cx), minY = std::min(minY, cy);
    maxX = std::max(maxX, cx), maxY = std::max(maxY, cy);
  }
  if (minX > maxX) return;
  if (SelectionMidGrips) {
    const int mx = (minX + maxX) / 2, my = (minY + maxY) / 2;
    grip(mx, minY);
    grip(maxX, my);
    grip(mx, maxY);
    grip(minX, my);
  }
  DrawSelectionGrid(minX, minY, maxX, maxY);
}

void TImageryView::DrawSelections(void* sender, bool honourCanvasLock) {
  if (!HandleAllocated() || !HasParentWindow() || !DrawSelectionsEnabled) return;
  bool anyAnimated = false;
  for (size_t index = 0; index < PolygonStores.size(); ++index) {
    TIEPolygonStore* store = PolygonStores[index];
    if (!store->Shown) continue;
    if (store->Animated) {
      anyAnimated = true;
      if (sender == AntsTimer && AntsTimer && !InteractiveSelectionRuns()) {
        store->AntsPhase = (store->AntsPhase + 1) % 10;
        ++AntsPhaseCounter;
      }
    }
    ui::TCanvas* canvas = Canvas();
    const RECT clip = canvas->ClipRect();
    if (clip.right <= clip.left || clip.bottom <= clip.top) continue;
    if (PaintLock > 0 || (honourCanvasLock && canvas->LockCount() > 0)) continue;
    const bool rectangle = IsRectanglePolygon(store->Points.data(), store->Count);
    if (store->Sizeable && rectangle && !RectSelecting && SelectionMoveState == -1) DrawGrips(store);
    if (store == SelectionPolygon && !SelectionMask->IsEmpty() && !InteractiveSelectionRuns()) {
      if (PauseAntsOnViewChange && AntsPauseCountdown != 0) continue;
      TIELayer* layer = GetCurrentLayer();
      const int* d = layer->DrawInfo;
      const double start = AntsClock ? AntsClock() : DefaultAntsClock();
      SelectionMask->DrawBorder(canvas->GetHandle(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7],
                                AntsPhaseCounter, store->Colour2, store->Colour1, nullptr);
      const double elapsed = (AntsClock ? AntsClock() : DefaultAntsClock()) - start;
      if (AntsTimeBudget < 0 && AntsTimer)
        AntsTimer->SetInterval(std::max(kAntsInterval, Trunc(elapsed * 100 / -AntsTimeBudget)));
      continue;
    }
    DrawPolygonOutline(store, int(index));
  }
  // the countdowns run in the timer's own tick (CountDownViewTimers): here the timer is only started
  if (anyAnimated && (HasOwner || HasParentWindow())) {
    EnsureAntsTimer();
    AntsTimer->SetEnabled(true);
  }
}
