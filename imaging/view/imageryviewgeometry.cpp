// TImageryView's geometry: zoom per axis, the scroll position, centring, the visible source rectangle,
// the lookup tables between client and image coordinates, the scroll bars, the wheel and the smooth
// scroll. Everything that draws or hit-tests goes through these conversions, so their rounding is
// fixed: Round is ties to even (lrint), Trunc is toward zero, div 2 toward zero.
#include <algorithm>
#include <cmath>

#include "iebitmap.h"
#include "ieresample.h"
#include "ietextutils.h"
#include "ieviewglobals.h"
#include "imageryview.h"
#include "uiforms.h"

namespace {
// Zoom bound. The tables hold one entry per zoomed pixel of the image, so an unbounded zoom (the
// wheel multiplies it by 1.08 a notch) would ask for hundreds of megabytes and then overflow the
// 32-bit zoomed size; at 10,000 % a 65,535-pixel axis stays within 32 bits and 27 MB per table.
constexpr double kMaxZoom = 10000.0;
// The scroll bars always run 0 .. 65535; a scale turns that into zoomed pixels.
constexpr double kScrollRange = 65536.0;
constexpr int kSmoothScrollInterval = 30;  // ms
constexpr int kSmoothScrollDivisor = 8;

int Round(double v) { return int(std::lrint(v)); }
int Trunc(double v) { return int(v); }

// Holds a linked navigator's painting while the view zooms: it would otherwise follow every step.
// It resumes quietly; the view's change then synchronises it.
class NavigatorPaintHold {
 public:
  explicit NavigatorPaintHold(TImageryView* navigator) : Navigator(navigator) {
    if (Navigator) Navigator->SuspendPainting();
  }
  ~NavigatorPaintHold() {
    if (Navigator) Navigator->ResumePaintingQuietly();
  }
  NavigatorPaintHold(const NavigatorPaintHold&) = delete;
  NavigatorPaintHold& operator=(const NavigatorPaintHold&) = delete;

 private:
  TImageryView* Navigator;
};

}  // namespace

void TImageryView::DoViewChange(int change) {
  if (OnViewChange) OnViewChange(this, change);
  SyncNavigator();
}

void TImageryView::DoViewChanging(int change, double value) {
  if (OnViewChanging) OnViewChanging(this, change, value);
}

void TImageryView::SetZoomFactors() {
  FX = ZoomX / 100;
  IX = 100 / ZoomX;
  FY = ZoomY / 100;
  IY = 100 / ZoomY;
}

// ---- extents, source rectangle, tables ----

void TImageryView::UpdateViewExtents() {
  ZoomedWidth = Round(ImageWidth * FX);
  ZoomedHeight = Round(ImageHeight * FY);
  CenterOffsetX = CenterOffsetY = 0;
  if (InState(ui::csDesigning)) {
    ExtentWidth = std::min(ZoomedWidth, GetWidth());
    ExtentHeight = std::min(ZoomedHeight, GetHeight());
    return;
  }
  const int vw = GetViewportWidth(), vh = GetViewportHeight();
  ExtentWidth = std::min(ZoomedWidth, vw);
  ExtentHeight = std::min(ZoomedHeight, vh);
  if (Center) {
    if (ExtentWidth < vw) CenterOffsetX = (vw - ExtentWidth) / 2;
    if (ExtentHeight < vh) CenterOffsetY = (vh - ExtentHeight) / 2;
  }
}

void TImageryView::UpdateSourceRect() {
  SrcX = SrcY = SrcW = SrcH = 0;
  if (ZoomedWidth != 0) {
    const double d = double(ImageWidth) / ZoomedWidth;
    SrcX = Round(SnapOriginX(ViewOriginX) * d);
    SrcW = Round(d * ExtentWidth);
    if (ImageWidth < SrcX + SrcW) --SrcW;
  }
  if (ZoomedHeight != 0) {
    const double d = double(ImageHeight) / ZoomedHeight;
    SrcY = Round(SnapOriginY(ViewOriginY) * d);
    SrcH = Round(d * ExtentHeight);
    if (ImageHeight < SrcY + SrcH) --SrcH;
  }
  if (ZoomX > 100) {
    DrawnWidth = Trunc(SrcW * FX);
    if (DrawnWidth < ExtentWidth && ImageWidth >= SrcX + SrcW + 1) {
      ++SrcW;
      DrawnWidth = Trunc(SrcW * FX);
    }
  } else {
    DrawnWidth = ExtentWidth;
  }
  if (ZoomY > 100) {
    DrawnHeight = Trunc(SrcH * FY);
    if (DrawnHeight < ExtentHeight && ImageHeight >= SrcY + SrcH + 1) {
      ++SrcH;
      DrawnHeight = Trunc(SrcH * FY);
    }
  } else {
    DrawnHeight = ExtentHeight;
  }
}

namespace {
// One axis of the tables: toScreen maps image to client (XB), toImage client to image (XS).
void BuildAxisTables(std::vector<int>& toImage, std::vector<int>& toScreen, double zoom, double f, double i,
                     int zoomed, int drawn, int imageSize) {
  const int J = zoomed + drawn;
  const int K = Trunc((J + 1) * i) + 1;
  toImage.assign(size_t(J) + 2, 0);
  toScreen.assign(size_t(K) + 1, 0);
  const int last = std::max(imageSize - 1, 0);
  if (zoom > 100) {
    // going downward, toScreen[b] ends as the first screen column of image column b
    for (int j = J; j >= 0; --j) {
      const int b = Trunc(j * i);
      if (b >= 0 && size_t(b) < toScreen.size()) toScreen[size_t(b)] = j;
      toImage[size_t(j)] = std::min(b, last);
    }
  } else {
    // going downward, toImage[s] ends as the first image column that lands on screen column s
    for (int k = K - 1; k >= 0; --k) {
      const int s = Trunc(k * f);
      toScreen[size_t(k)] = s;
      if (s >= 0 && size_t(s) < toImage.size()) toImage[size_t(s)] = std::min(k, last);
    }
  }
}
}  // namespace

void TImageryView::UpdateCoordinateTables() {
  if (ZoomX != KeyZoomX || ZoomY != KeyZoomY || DrawnWidth != KeyDrawnW || DrawnHeight != KeyDrawnH ||
      ImageWidth != KeyImageW || ImageHeight != KeyImageH) {
    XS.clear();
    YS.clear();
    XB.clear();
    YB.clear();
    XS.shrink_to_fit();
    YS.shrink_to_fit();
    XB.shrink_to_fit();
    YB.shrink_to_fit();
    TableScreenCols = TableScreenRows = TableImageCols = TableImageRows = 0;
    XSWin = YSWin = XBWin = YBWin = nullptr;
    KeyZoomX = ZoomX;
    KeyZoomY = ZoomY;
    KeyDrawnW = DrawnWidth;
    KeyDrawnH = DrawnHeight;
    KeyImageW = ImageWidth;
    KeyImageH = ImageHeight;
    if (DrawnWidth <= 0 || DrawnHeight <= 0 || ImageWidth <= 0 || ImageHeight <= 0) return;
    TableScreenCols = DrawnWidth;
    TableScreenRows = DrawnHeight;
    TableImageCols = Trunc(DrawnWidth * IX);
    TableImageRows = Trunc(DrawnHeight * IY);
    BuildAxisTables(XS, XB, ZoomX, FX, IX, ZoomedWidth, DrawnWidth, ImageWidth);
    BuildAxisTables(YS, YB, ZoomY, FY, IY, ZoomedHeight, DrawnHeight, ImageHeight);
  }
  if (XS.empty() || YS.empty()) return;
  const size_t a = std::min(size_t(SnapOriginX(ViewOriginX)), XS.size() - 1);
  XSWin = XS.data() + a;
  XBWin = XB.data() + std::min(size_t(std::max(0, XS[a] - SrcX)), XB.size() - 1);
  const size_t b = std::min(size_t(SnapOriginY(ViewOriginY)), YS.size() - 1);
  YSWin = YS.data() + b;
  YBWin = YB.data() + std::min(size_t(std::max(0, YS[b] - SrcY)), YB.size() - 1);
}

namespace {
// The lookup of a window entry when it lies inside its table, else -1 (the caller computes).
bool WindowEntry(const std::vector<int>& table, const int* window, int index, int& out) {
  if (!window || index < 0) return false;
  const size_t at = size_t(window - table.data()) + size_t(index);
  if (at >= table.size()) return false;
  out = table[at];
  return true;
}
}  // namespace

int TImageryView::SnapOriginX(int v) {
  if (v < 0) v = 0;
  if (v < ZoomedWidth && size_t(v) < XS.size()) {
    const int b = XS[size_t(v)];
    if (b >= 0 && size_t(b) < XB.size()) return XB[size_t(b)];
  }
  return v;
}

int TImageryView::SnapOriginY(int v) {
  if (v < 0) v = 0;
  if (v < ZoomedHeight && size_t(v) < YS.size()) {
    const int b = YS[size_t(v)];
    if (b >= 0 && size_t(b) < YB.size()) return YB[size_t(b)];
  }
  return v;
}

int TImageryView::ClientToImageX(int x) {
  const int a = x - CenterOffsetX;
  int r;
  if (a >= 0 && a < TableScreenCols && WindowEntry(XS, XSWin, a, r)) return r;
  return Trunc(a * IX + SrcX);
}

int TImageryView::ClientToImageY(int y) {
  const int a = y - CenterOffsetY;
  int r;
  if (a >= 0 && a < TableScreenRows && WindowEntry(YS, YSWin, a, r)) return r;
  return Trunc(a * IY + SrcY);
}

int TImageryView::ImageToClientX(int x) {
  const int d = x - SrcX;
  int r;
  if (d >= 0 && d < TableImageCols && WindowEntry(XB, XBWin, d, r)) return r + CenterOffsetX;
  return Round((Round(-SnapOriginX(ViewOriginX) * IX) + x) * FX + CenterOffsetX);
}

int TImageryView::ImageToClientY(int y) {
  const int d = y - SrcY;
  int r;
  if (d >= 0 && d < TableImageRows && WindowEntry(YB, YBWin, d, r)) return r + CenterOffsetY;
  return Round((Round(-SnapOriginY(ViewOriginY) * IY) + y) * FY + CenterOffsetY);
}

// ---- origin ----

void TImageryView::GetMaxViewOrigin(int& maxX, int& maxY) {
  const int vw = GetViewportWidth(), vh = GetViewportHeight();
  int a = Trunc(ImageWidth * FX), b = Trunc(ImageHeight * FY);
  // an image more than 10 pixels larger than the viewport scrolls one image pixel further
  if (ZoomX != ZoomY) {
    if (vw + 10 < a) a = Trunc((ImageWidth + 1) * FX);
    if (vh + 10 < b) b = Trunc((ImageHeight + 1) * FY);
  } else if ((vw + 10 < a || vh + 10 < b) && ScrollBars != ssNone) {
    a = Trunc((ImageWidth + 1) * FX);
    b = Trunc((ImageHeight + 1) * FY);
  }
  maxX = maxY = 0;
  if (a < 1 || b < 1) return;
  maxX = a - vw;
  maxY = b - vh;
  if (maxX < 0 || ClientToImageX(maxX) == 0) maxX = 0;
  if (maxY < 0 || ClientToImageY(maxY) == 0) maxY = 0;
  if (ZoomX != ZoomY) {
    if (GetWidth() >= a) maxX = 0;
    if (GetHeight() >= b) maxY = 0;
  } else if (GetWidth() >= a && GetHeight() >= b) {
    maxX = maxY = 0;
  }
}

bool TImageryView::CanScroll() {
  int mx, my;
  GetMaxViewOrigin(mx, my);
  return mx > 0 || my > 0;
}

bool TImageryView::ScrollBarIncludes(int bar) const {
  if (bar == SB_HORZ) return ScrollBars == ssHorizontal || ScrollBars == ssBoth;
  return ScrollBars == ssVertical || ScrollBars == ssBoth;
}

// The shared tail of the three origin setters: the axes not asked for keep their origin.
void TImageryView::MoveOrigin(bool horizontal, int x, bool vertical, int y) {
  if (horizontal) DoViewChanging(0, x);
  if (vertical) DoViewChanging(1, y);
  if (!horizontal) x = ViewOriginX;
  if (!vertical) y = ViewOriginY;
  if (x == ViewOriginX && y == ViewOriginY) return;
  int mx, my;
  GetMaxViewOrigin(mx, my);
  x = mx >= x ? std::max(x, 0) : mx;
  y = my >= y ? std::max(y, 0) : my;
  if (x == ViewOriginX && y == ViewOriginY) return;
  ViewOriginX = x;
  ViewOriginY = y;
  RestartViewCountdowns(ZoomX != 100 || ZoomY != 100);
  BackBufferDirty = true;
  FullRepaintPending = true;
  PaintView();
  DoViewChange(0);
  if (SelectionPresent) DrawSelections(this, true);
  if (HandleAllocated() && HasParentWindow()) {
    if (horizontal && ScrollBarIncludes(SB_HORZ)) PutScrollPos(SB_HORZ, Trunc(x / HScrollScale));
    if (vertical && ScrollBarIncludes(SB_VERT)) PutScrollPos(SB_VERT, Trunc(y / VScrollScale));
  }
}

void TImageryView::SetViewOrigin(int x, int y) { MoveOrigin(true, x, true, y); }
void TImageryView::SetViewOriginX(int x) { MoveOrigin(true, x, false, 0); }
void TImageryView::SetViewOriginY(int y) { MoveOrigin(false, 0, true, y); }

void TImageryView::PaintView() {
  // the conversions follow the new origin at once, not only once the window has painted
  UpdateSourceRect();
  UpdateCoordinateTables();
  if (PaintLock > 0 || !HandleAllocated() || !HasParentWindow()) return;
  Invalidate();
}

// ---- zoom ----

void TImageryView::ApplyZoom(double z) {
  StopSmoothScroll();
  const double f = z / 100;
  const int hw = GetViewportWidth() / 2, hh = GetViewportHeight() / 2;
  const int nx = Trunc(Round((hw + ViewOriginX - CenterOffsetX) * IX) * f - hw);
  const int ny = Trunc(Round((hh + ViewOriginY - CenterOffsetY) * IY) * f - hh);
  ZoomX = ZoomY = z;
  SetZoomFactors();
  int mx, my;
  GetMaxViewOrigin(mx, my);
  ViewOriginX = mx >= nx ? std::max(nx, 0) : mx;
  ViewOriginY = my >= ny ? std::max(ny, 0) : my;
}

void TImageryView::ApplyZoomX(double z) {
  StopSmoothScroll();
  const int hw = GetViewportWidth() / 2;
  const int nx = Trunc(Round((hw + ViewOriginX - CenterOffsetX) * IX) * (z / 100) - hw);
  ZoomX = z;
  SetZoomFactors();
  int mx, my;
  GetMaxViewOrigin(mx, my);
  ViewOriginX = mx >= nx ? std::max(nx, 0) : mx;
}

void TImageryView::ApplyZoomY(double z) {
  StopSmoothScroll();
  const int hh = GetViewportHeight() / 2;
  const int ny = Trunc(Round((hh + ViewOriginY - CenterOffsetY) * IY) * (z / 100) - hh);
  ZoomY = z;
  SetZoomFactors();
  int mx, my;
  GetMaxViewOrigin(mx, my);
  ViewOriginY = my >= ny ? std::max(ny, 0) : my;
}

// The common tail of the three zoom setters: stores the zoom through `apply` with painting held, then
// brings the geometry up to date and repaints once.
void TImageryView::RestartViewCountdowns(bool zoomed) {
  if (DelayZoomFilter && ZoomFilter != rfNone && zoomed) FilterCountdown = FilterDelayTicks;
  AntsPauseCountdown = AntsPauseTicks;
  // the timer runs them down, whether or not selections are drawn
  if ((FilterCountdown != 0 || AntsPauseCountdown != 0) && (HasOwner || HasParentWindow()) &&
      !InState(ui::csDesigning)) {
    EnsureAntsTimer();
    AntsTimer->SetEnabled(true);
  }
}

void TImageryView::RezoomWith(void (TImageryView::*apply)(double), double z, bool zoomed, bool holdNavigator) {
  RestartViewCountdowns(zoomed);
  {
    NavigatorPaintHold hold(holdNavigator ? NavigatorView : nullptr);
    SuspendPainting();
    (this->*apply)(z);
    UpdateReason = 2;
    UpdateView();
    UpdateReason = 2;
    UpdateView();
    UpdateSourceRect();
    UpdateCoordinateTables();
    ResumePaintingQuietly();
  }
  PaintView();
  DoViewChange(1);
}

void TImageryView::SetZoom(double z) {
  StopSmoothScroll();
  DoViewChanging(2, z);
  if (!(z > 0)) return;
  z = std::min(z, kMaxZoom);
  if (z == ZoomX && z == ZoomY) return;
  RezoomWith(&TImageryView::ApplyZoom, z, ZoomX != 100 || ZoomY != 100, true);
}

void TImageryView::SetZoomX(double z) {
  StopSmoothScroll();
  DoViewChanging(2, z);
  if (!(z > 0)) return;
  z = std::min(z, kMaxZoom);
  if (z == ZoomX) return;
  RezoomWith(&TImageryView::ApplyZoomX, z, ZoomX != 100, false);
}

void TImageryView::SetZoomY(double z) {
  StopSmoothScroll();
  DoViewChanging(2, z);
  if (!(z > 0)) return;
  z = std::min(z, kMaxZoom);
  if (z == ZoomY) return;
  RezoomWith(&TImageryView::ApplyZoomY, z, ZoomY != 100, false);
}

void TImageryView::ZoomAt(int x, int y, double z, bool centre) {
  {
    NavigatorPaintHold hold(NavigatorView);
    SuspendPainting();
    const int bx = ClientToImageX(x), by = ClientToImageY(y);
    SetZoom(z);
    const double h = ZoomX / 100;
    int ox, oy;
    if (centre) {
      ox = Trunc(h * bx - GetViewportWidth() / 2);
      oy = Trunc(by * h - GetViewportHeight() / 2);
    } else {
      ox = Trunc(h * bx - x + h);
      oy = Trunc(by * h - y + h);
    }
    SetViewOrigin(ox, oy);
    ResumePainting();
    UpdateSourceRect();
    UpdateCoordinateTables();
  }
  SyncNavigator();
}

double TImageryView::GetFitZoom() {
  int mx, my;
  if (BackgroundStyle == iebsCropped) {
    mx = IEEdgeX;
    my = IEEdgeY;
  } else if (BackgroundStyle == iebsCropShadow) {
    mx = my = 5;
  } else if (BackgroundStyle == iebsSoftShadow) {
    mx = my = 9;
  } else if (BorderStyle == ui::bsNone) {
    mx = my = 0;
  } else if (Ctl3D) {
    mx = IEEdgeX;
    my = IEEdgeY;
  } else {
    mx = IEBorderX;
    my = IEBorderY;
  }
  return std::min((GetHeight() - 2 * my) / (ImageHeight / 100.0), (GetWidth() - 2 * mx) / (ImageWidth / 100.0));
}

void TImageryView::ZoomToFit() {
  if (ImageWidth == 0 || ImageHeight == 0) return;
  ShowScrollBarMarked(SB_HORZ, false);
  ShowScrollBarMarked(SB_VERT, false);
  SetZoom(GetFitZoom());
}

double TImageryView::GetAutoZoom(int width, int height, bool mayShrink, bool mayStretch, int availWidth,
                                 int availHeight) {
  if (width == 0 || height == 0 || availWidth == 0 || availHeight == 0) return 100;
  const double rw = double(width) / availWidth, rh = double(height) / availHeight;
  const bool exceeds = rw > rh ? width > availWidth : height > availHeight;
  if ((exceeds && mayShrink) || (!exceeds && mayStretch)) return GetFitZoom();
  return 100;
}

void TImageryView::ApplyAutoZoom() {
  DoViewChanging(2, ZoomX);
  int mx, my;
  if (BackgroundStyle == iebsCropped) {
    mx = IEEdgeX;
    my = IEEdgeY;
  } else if (BackgroundStyle == iebsCropShadow) {
    mx = my = 5;
  } else if (BackgroundStyle == iebsSoftShadow) {
    mx = my = 9;
  } else {
    mx = (GetWidth() - GetViewportWidth()) / 2;
    my = (GetHeight() - GetViewportHeight()) / 2;
  }
  if (ImageWidth > 1 || ImageHeight > 1) {
    ZoomX = GetAutoZoom(ImageWidth, ImageHeight, AutoShrink || AutoFit, AutoStretch || AutoFit,
                        GetViewportWidth() - 2 * mx, GetViewportHeight() - 2 * my);
    ZoomY = ZoomX;
  } else {
    ZoomX = ZoomY = 100;
  }
  ZoomX = std::min(std::max(ZoomX, 1.0), kMaxZoom);
  ZoomY = std::min(std::max(ZoomY, 1.0), kMaxZoom);
  SetZoomFactors();
  UpdateSourceRect();
  UpdateCoordinateTables();
  DoViewChange(1);
  // the automatic zoom is final: drawn filtered at once, with the ants
  FilterCountdown = 0;
  AntsPauseCountdown = 0;
}

void TImageryView::SetAutoFit(bool v) {
  AutoFit = v;
  UpdateView();
}

void TImageryView::SetAutoShrink(bool v) {
  AutoShrink = v;
  UpdateView();
}

void TImageryView::SetAutoStretch(bool v) {
  AutoStretch = v;
  UpdateView();
}

void TImageryView::SetCenterValue(bool value) {
  if (value == Center) return;
  Center = value;
  UpdateReason = 1;
  UpdateView();
}

// ---- scroll bars ----

namespace {
// A bar drawn at once costs far more than the change itself (a synchronous frame paint on every zoom
// or scroll step): the frame is marked for repainting instead, and paints once when messages run.
void RedrawScrollBars(HWND h) { RedrawWindow(h, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOERASE | RDW_NOCHILDREN); }
}  // namespace

TImageryView::TScrollBarState& TImageryView::BarState(int bar) {
  TScrollBarState& st = bar == SB_HORZ ? HBarState : VBarState;
  const HWND h = GetHandle();
  if (st.Wnd != h) st = TScrollBarState{h};  // a new window starts from nothing known
  return st;
}

void TImageryView::PutScrollPos(int bar, int pos) {
  TScrollBarState& st = BarState(bar);
  if (st.Pos == pos) return;
  IESetScrollPos(st.Wnd, bar, pos, false, FlatScrollBars);
  RedrawScrollBars(st.Wnd);
  st.Pos = pos;
}

void TImageryView::ShowScrollBarMarked(int bar, bool show) {
  bool& shown = bar == SB_HORZ ? HScrollBarShown : VScrollBarShown;
  if (!HandleAllocated()) return;
  if (!show && !shown) return;
  shown = show;
  IEShowScrollBar(GetHandle(), bar, show, FlatScrollBars);
  BarState(bar).Shown = show;
}

void TImageryView::SetScrollBarsValue(TScrollStyle style) {
  ScrollBars = style;
  if (!ScrollBarIncludes(SB_VERT)) ShowScrollBarMarked(SB_VERT, false);
  if (!ScrollBarIncludes(SB_HORZ)) ShowScrollBarMarked(SB_HORZ, false);
  UpdateReason = 4;
  UpdateView();
}

void TImageryView::SetUpScrollBar(int bar, int max, int viewport) {
  TScrollBarState& st = BarState(bar);
  const HWND h = st.Wnd;
  if (max < 1) {
    if (KeepScrollBars) {
      (bar == SB_HORZ ? HScrollBarShown : VScrollBarShown) = true;
      if (!st.Disabled) IEEnableScrollBar(h, bar, ESB_DISABLE_BOTH, FlatScrollBars);
      if (!st.Shown) IEShowScrollBar(h, bar, true, FlatScrollBars);
      st.Disabled = st.Shown = true;
      st.Enabled = false;
    } else {
      ShowScrollBarMarked(bar, false);
    }
    return;
  }
  double& scale = bar == SB_HORZ ? HScrollScale : VScrollScale;
  const int origin = bar == SB_HORZ ? ViewOriginX : ViewOriginY;
  (bar == SB_HORZ ? HScrollBarShown : VScrollBarShown) = true;
  scale = (viewport + max) / kScrollRange;
  const int page = Trunc(viewport / scale), pos = Trunc(origin / scale);
  if (st.Page != page || st.Pos != pos) {
    IESetScrollInfo(h, bar, 0, 0xFFFF, page, pos, false, FlatScrollBars);
    RedrawScrollBars(h);
  }
  if (!st.Enabled) IEEnableScrollBar(h, bar, ESB_ENABLE_BOTH, FlatScrollBars);
  if (!st.Shown) IEShowScrollBar(h, bar, true, FlatScrollBars);
  st.Page = page;
  st.Pos = pos;
  st.Enabled = st.Shown = true;
  st.Disabled = false;
}

void TImageryView::ClampOriginAndSetScrollBars() {
  int mx, my;
  GetMaxViewOrigin(mx, my);
  bool changed = false;
  if (ViewOriginX > mx) {
    DoViewChanging(0, mx);
    ViewOriginX = mx;
    changed = true;
  }
  if (ViewOriginY > my) {
    DoViewChanging(1, my);
    ViewOriginY = my;
    changed = true;
  }
  if (changed) DoViewChange(0);
  try {
    if (ScrollBarIncludes(SB_HORZ)) SetUpScrollBar(SB_HORZ, mx, GetViewportWidth());
    if (ScrollBarIncludes(SB_VERT)) SetUpScrollBar(SB_VERT, my, GetViewportHeight());
  } catch (...) {
    // a scroll bar that cannot be set leaves the view as it is
  }
}

void TImageryView::ScrollAxis(bool horizontal, int action, int value) {
  const TIEScrollBarParams& p = horizontal ? HScrollBarParams : VScrollBarParams;
  const int pixel = std::max(Trunc((horizontal ? ZoomX : ZoomY) / 100), 1);
  const int line = p.LineStep == -1 ? pixel : pixel * p.LineStep;
  const int page = p.PageStep == -1 ? (horizontal ? GetViewportWidth() : GetViewportHeight()) : pixel * p.PageStep;
  const int origin = horizontal ? ViewOriginX : ViewOriginY;
  int mx, my;
  int to = origin;
  switch (action) {
    case 0: to = origin - line; break;
    case 1: to = origin + line; break;
    case 2: to = origin - page; break;
    case 3: to = origin + page; break;
    case 4: to = 0; break;
    case 5:
      GetMaxViewOrigin(mx, my);
      to = horizontal ? mx : my;
      break;
    case 6: to = value; break;
    default: break;
  }
  if (horizontal)
    SetViewOriginX(to);
  else
    SetViewOriginY(to);
}

void TImageryView::ScrollHorizontal(int action, int value) { ScrollAxis(true, action, value); }
void TImageryView::ScrollVertical(int action, int value) { ScrollAxis(false, action, value); }

void TImageryView::HandleScrollMessage(bool horizontal, ui::TMessage& m) {
  const int code = LOWORD(m.WParam);
  const int pos = HIWORD(m.WParam);
  const double scale = horizontal ? HScrollScale : VScrollScale;
  const TIEScrollBarParams& p = horizontal ? HScrollBarParams : VScrollBarParams;
  switch (code) {
    case SB_LINELEFT: ScrollAxis(horizontal, 0, 0); break;
    case SB_LINERIGHT: ScrollAxis(horizontal, 1, 0); break;
    case SB_PAGELEFT: ScrollAxis(horizontal, 2, 0); break;
    case SB_PAGERIGHT: ScrollAxis(horizontal, 3, 0); break;
    case SB_LEFT: ScrollAxis(horizontal, 4, 0); break;
    case SB_RIGHT: ScrollAxis(horizontal, 5, 0); break;
    case SB_THUMBPOSITION: ScrollAxis(horizontal, 6, Round(pos * scale)); break;
    case SB_THUMBTRACK:
      if (p.Tracking) ScrollAxis(horizontal, 6, Round(pos * scale));
      break;
    default: break;  // SB_ENDSCROLL and unknown codes keep the origin
  }
}

void TImageryView::HandleMouseWheel(ui::TMessage& m) {
  POINT pt{short(LOWORD(m.LParam)), short(HIWORD(m.LParam))};
  ::ScreenToClient(GetHandle(), &pt);
  const bool ctrl = (GET_KEYSTATE_WPARAM(m.WParam) & MK_CONTROL) != 0;  // the keys as the message was sent
  const TIEMouseWheelParams& w = MouseWheelParams;
  if (w.Action == 0 || AutoFit) return;
  int dir = GET_WHEEL_DELTA_WPARAM(m.WParam) > 0 ? -1 : 1;
  if (w.InvertDirection) dir = -dir;
  if (w.Action == 1) {
    int mx, my;
    GetMaxViewOrigin(mx, my);
    const bool horizontal = ctrl || (mx > 0 && my == 0);
    const double zoom = horizontal ? ZoomX : ZoomY;
    const int viewport = horizontal ? GetViewportWidth() : GetViewportHeight();
    int step;
    if (w.Variation == 0)
      step = dir * w.Value * std::max(Trunc(zoom / 100), 1);
    else if (w.Variation == 1)
      step = dir * std::max(Round(viewport * w.Value / 100.0), 1);
    else
      return;
    if (horizontal)
      SetViewOriginX(ViewOriginX + step);
    else
      SetViewOriginY(ViewOriginY + step);
  } else if (w.Action == 2) {
    double z = ZoomX;
    if (w.Variation == 0)
      z = ZoomX + dir * w.Value;
    else if (w.Variation == 1)
      z = ZoomX + dir * std::max(Round(w.Value * ZoomX / 100), 1);
    if (z > ZoomX && OnZoomIn) OnZoomIn(this, z);
    if (z < ZoomX && OnZoomOut) OnZoomOut(this, z);
    if (w.ZoomPosition)
      ZoomAt(pt.x, pt.y, z, false);
    else
      SetZoom(z);
  }
}

// ---- smooth scroll ----

void TImageryView::SmoothScrollTo(int x, int y) {
  SmoothTargetX = x;
  SmoothTargetY = y;
  if (IsSmoothScrolling()) return;
  if (!SmoothTimer) {
    SmoothTimer = ui::New<ui::TTimer>(this);
    SmoothTimer->OnTimer = [this](ui::TObject* sender) { SmoothScrollStep(sender); };
  }
  SmoothTimer->SetInterval(kSmoothScrollInterval);
  SmoothTimer->SetEnabled(true);
  SmoothScrollStep(SmoothTimer);
}

void TImageryView::SmoothScrollStep(void*) {
  const int ox = ViewOriginX, oy = ViewOriginY;
  const int nx = Round(ox - double(ox - SmoothTargetX) / kSmoothScrollDivisor);
  const int ny = Round(oy - double(oy - SmoothTargetY) / kSmoothScrollDivisor);
  SetViewOrigin(nx, ny);
  // The timer stays with the view and is only stopped: freeing it would free the window that is
  // delivering this very tick.
  if ((ViewOriginX == ox && ViewOriginY == oy) || IEIsPrimaryButtonDown()) StopSmoothScroll();
}

void TImageryView::StopSmoothScroll() {
  if (SmoothTimer) SmoothTimer->SetEnabled(false);
}

bool TImageryView::IsSmoothScrolling() const { return SmoothTimer && SmoothTimer->GetEnabled(); }
