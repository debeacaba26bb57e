// The image view's mouse: the rules that keep MouseInteract to one mode, the mouse-down / move / up
// machine for zoom clicks, drag scrolling, following the mouse, and moving, resizing and rotating
// layers, automatic scrolling at the border and the information box of layer drags. The selection
// modes' share of the machine lives with the selection (imageryviewmousesel.cpp).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "iebitmap.h"
#include "ielayer.h"
#include "iemask.h"
#include "ietextutils.h"
#include "ieviewglobals.h"
#include "imageryproc.h"
#include "imageryview.h"
#include "uiforms.h"

namespace {
int Round(double v) { return int(std::lrint(v)); }
int Trunc(double v) { return int(v); }

constexpr int kZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};

constexpr TIEMouseInteract Bits(std::initializer_list<TIEMouseInteractItems> items) {
  TIEMouseInteract r = 0;
  for (TIEMouseInteractItems i : items) r = TIEMouseInteract(r | IEMouseBit(i));
  return r;
}
constexpr TIEMouseInteract kHighBits = 0xF000;     // bits 12-15 ride along with every mode
constexpr TIEMouseInteract kFrom11 = 0xF800;       // bits 11-15
constexpr TIEMouseInteract kLayerModes = Bits({miMoveLayers, miResizeLayers, miRotateLayers});

std::string FormatAngle(double a) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", a);  // the C locale: '.' separates the decimals
  return std::string(buf) + "\xB0";
}

// Restores the selection base and the zoom filter however a mouse operation ends.
struct SelectionBaseSwap {
  TIESelectionBase& base;
  TIESelectionBase saved;
  TIESelectionBase& savedField;
  SelectionBaseSwap(TIESelectionBase& b, TIESelectionBase& field) : base(b), saved(b), savedField(field) {
    savedField = b;
    base = iesbClientArea;
  }
  ~SelectionBaseSwap() { base = saved; }
};
}  // namespace

// ---- the set of modes ----

void TImageryView::SetMouseInteractValue(TIEMouseInteract a) {
  if (a == MouseInteract) return;
  const TIEMouseInteract old = MouseInteract;
  auto isNew = [&](TIEMouseInteractItems i) { return (a & IEMouseBit(i)) && !(old & IEMouseBit(i)); };
  auto has = [&](TIEMouseInteractItems i) { return (a & IEMouseBit(i)) != 0; };
  MouseInteractChanging(old);
  if (isNew(miScroll))
    a &= Bits({miZoom, miScroll, miMovingScroll}) | kHighBits;
  else if (isNew(miSelect))
    a &= Bits({miZoom, miSelect}) | kFrom11;
  else if (isNew(miSelectPolygon))
    a &= Bits({miSelectPolygon}) | kFrom11;
  else if (isNew(miSelectCircle))
    a &= Bits({miZoom, miSelectCircle}) | kFrom11;
  else if (isNew(miSelectLasso))
    a &= Bits({miZoom, miSelectLasso}) | kFrom11;
  else if (isNew(miSelectZoom))
    a &= Bits({miZoom, miSelectZoom}) | kFrom11;
  else if (isNew(miZoom))
    a &= Bits({miZoom, miScroll, miSelect, miSelectCircle, miSelectZoom, miSelectLasso}) | kFrom11;
  else if (isNew(miSelectMagicWand))
    a &= Bits({miSelectMagicWand}) | kFrom11;
  else if (has(miRotateLayers))
    a &= Bits({miMoveLayers, miRotateLayers}) | kFrom11;
  else if (has(miResizeLayers))
    a &= Bits({miMoveLayers, miResizeLayers}) | kFrom11;
  else if (has(miMoveLayers))
    a &= 0xFF00;
  if (!(a & IEMouseBit(miRotateLayers)))
    ApplyLayerRotations(-1);
  else if (CropOnRotateMode)
    CropLayersToOpaque(-1);
  MouseInteract = a;
}

// ---- events with the application's selection base ----

void TImageryView::DoLayerNotify(int layer, TIELayerEvent event) {
  if (!OnLayerNotify) return;
  std::swap(SelectionBase, SavedSelectionBase);
  struct Back {
    TImageryView* v;
    ~Back() { std::swap(v->SelectionBase, v->SavedSelectionBase); }
  } back{this};
  OnLayerNotify(this, layer, event);
}

void TImageryView::DoZoomIn(double& z) {
  if (!OnZoomIn) return;
  std::swap(SelectionBase, SavedSelectionBase);
  struct Back {
    TImageryView* v;
    ~Back() { std::swap(v->SelectionBase, v->SavedSelectionBase); }
  } back{this};
  OnZoomIn(this, z);
}

void TImageryView::DoZoomOut(double& z) {
  if (!OnZoomOut) return;
  std::swap(SelectionBase, SavedSelectionBase);
  struct Back {
    TImageryView* v;
    ~Back() { std::swap(v->SelectionBase, v->SavedSelectionBase); }
  } back{this};
  OnZoomOut(this, z);
}

void TImageryView::DoMouseInResizingGrip(int grip) {
  if (!OnMouseInResizingGrip) return;
  std::swap(SelectionBase, SavedSelectionBase);
  struct Back {
    TImageryView* v;
    ~Back() { std::swap(v->SelectionBase, v->SavedSelectionBase); }
  } back{this};
  OnMouseInResizingGrip(this, grip);
}

void TImageryView::DoMouseInSel() {
  if (!OnMouseInSel) return;
  std::swap(SelectionBase, SavedSelectionBase);
  struct Back {
    TImageryView* v;
    ~Back() { std::swap(v->SelectionBase, v->SavedSelectionBase); }
  } back{this};
  OnMouseInSel(this);
}

void TImageryView::SetHint(const std::string& text, int x, int y, const std::string& measure) {
  HintText = text;
  HintX = x;
  HintY = y;
  HintTemplate = measure;
}

// ---- helpers ----

void TImageryView::ClampToLayer(int& x, int& y) {
  const RECT r = GetCurrentLayer()->ClientRect;
  x = std::clamp(x, int(r.left), std::max(int(r.left), int(r.right) + 1));
  y = std::clamp(y, int(r.top), std::max(int(r.top), int(r.bottom) + 1));
}

int TImageryView::GripCursor(int grip) const {
  switch (grip) {
    case ieTopRight:
    case ieBottomLeft: return crIEGrip24;
    case ieLeftSide:
    case ieRightSide: return crIEGripEW;
    case ieTopSide:
    case ieBottomSide: return crIEGripNS;
    case ieTopLeft:
    case ieBottomRight: return crIEGrip13;
    default: return BaseCursor;
  }
}

void TImageryView::PushLayerUndoOnce(TIEUndoSource source) {
  if (LayerUndoSaved) return;
  if (LayerUndo) GetProc()->PushUndo(source);
  LayerUndoSaved = true;
}

void TImageryView::OffsetDragPositions(int dx, int dy) {
  LastX -= dx;
  LastY -= dy;
  PrevX -= dx;
  PrevY -= dy;
  PrevRawX -= dx;
  PrevRawY -= dy;
}

bool TImageryView::AutoScroll() {
  if (!HandleAllocated() || !HasParentWindow()) return false;
  AutoScrolling = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{AutoScrolling};
  bool scrolled = false;
  for (;;) {
    POINT p;
    if (!GetCursorPos(&p)) break;
    ::ScreenToClient(GetHandle(), &p);
    const int right = CenterOffsetX + ExtentWidth - 1, bottom = CenterOffsetY + ExtentHeight - 1;
    const int dx = p.x < CenterOffsetX ? p.x - CenterOffsetX : p.x > right ? p.x - right : 0;
    const int dy = p.y < CenterOffsetY ? p.y - CenterOffsetY : p.y > bottom ? p.y - bottom : 0;
    if (dx == 0 && dy == 0) break;
    const int ox = ViewOriginX, oy = ViewOriginY;
    SetViewOrigin(ox + dx, oy + dy);
    // what the origin really moved: at the border it moves less than asked
    const int mx = ViewOriginX - ox, my = ViewOriginY - oy;
    if (mx == 0 && my == 0) break;
    scrolled = true;
    StartX -= mx;
    StartY -= my;
    DownClampX -= mx;
    DownClampY -= my;
    OffsetDragPositions(mx, my);
    Update();
  }
  return scrolled;
}

// ---- layers by the mouse ----

void TImageryView::MouseDownLayers(ui::TMouseButton button, int x, int y) {
  (void)button;
  LayerUndoSaved = false;
  LayerResizeStarted = false;
  LayerGrip = (MouseInteract & IEMouseBit(miResizeLayers)) ? FindLayerGrip(x, y) : 0;
  if (LayerGrip != 0) {
    ApplyLayerRotations(-1);
    TIELayer* layer = GetCurrentLayer();
    LayerDragRect = layer->ClientRect;
    for (int k = 0; k < 4; ++k) LayerDragCorners[k] = POINT{layer->DrawInfo[8 + 2 * k], layer->DrawInfo[9 + 2 * k]};
    DoLayerNotify(CurrentLayer, ielBeginResizing);
    return;
  }
  if (!(MouseInteract & (IEMouseBit(miMoveLayers) | IEMouseBit(miRotateLayers)))) return;
  const bool rotating = (MouseInteract & IEMouseBit(miRotateLayers)) != 0;
  if (rotating && FindLayerGrip(x, y) == ieRotationCenter) {
    CentreLayer = CurrentLayer;
  } else if (rotating && !IsPointInLayer(x, y, CurrentLayer)) {
    RotatingLayer = CurrentLayer;
    RotationAngle = GetCurrentLayer()->GetRotation();
  } else {
    const int found = FindLayerAt(x, y, true);
    if (found < 0) return;
    SetCurrentLayer(found);
    MovingLayer = CurrentLayer;
    DoLayerNotify(CurrentLayer, ielSelected);
    DoLayerNotify(CurrentLayer, ielBeginMoving);
    if (!GetCurrentLayer()->Locked) ShowTemporaryCursor(crIEMove);
  }
}

void TImageryView::MouseMoveLayers(int shift, int rawX, int rawY) {
  if (MovingLayer >= 0 && MovingLayer < GetLayerCount()) {
    TIELayer* layer = GetLayer(MovingLayer);
    if (layer->Locked) return;
    PushLayerUndoOnce(ieuLayer);
    AutoScroll();
    const int dx = ClientToImageX(rawX) - ClientToImageX(PrevRawX);
    const int dy = ClientToImageY(rawY) - ClientToImageY(PrevRawY);
    layer->PosX += dx;
    layer->PosY += dy;
    if (dx != 0 || dy != 0) LayerMoved = true;
    SetHint("X=" + std::to_string(layer->PosX) + " Y=" + std::to_string(layer->PosY), rawX, rawY, "X=000 Y=000");
    UpdateView();
    DoLayerNotify(MovingLayer, ielMoving);
  } else if (CentreLayer >= 0 && CentreLayer < GetLayerCount()) {
    TIELayer* layer = GetLayer(CentreLayer);
    const int w = layer->Bitmap->GetImageWidth(), h = layer->Bitmap->GetImageHeight();
    if (w <= 0 || h <= 0) return;
    layer->RotationCenterX = double(layer->ClientToBitmapX(rawX)) / w;
    layer->RotationCenterY = double(layer->ClientToBitmapY(rawY)) / h;
    SetHint("X=" + std::to_string(Round(w * layer->RotationCenterX)) +
                " Y=" + std::to_string(Round(h * layer->RotationCenterY)),
            rawX, rawY, "X=000 Y=000");
    UpdateView();
  } else if (RotatingLayer >= 0 && RotatingLayer < GetLayerCount()) {
    TIELayer* layer = GetLayer(RotatingLayer);
    if (layer->Locked) return;
    PushLayerUndoOnce(ieuFullLayer);
    double dx = (ClientToImageX(rawX) - ClientToImageX(PrevRawX)) / 4.0;
    double dy = (ClientToImageY(rawY) - ClientToImageY(PrevRawY)) / 4.0;
    RECT rects[9];
    GetLayerGripRects(RotatingLayer, rects);
    const int cx = (rects[8].left + rects[8].right) / 2, cy = (rects[8].top + rects[8].bottom) / 2;
    if (cx < rawX) dy = -dy;
    if (rawY < cy) dx = -dx;
    RotationAngle += dx + dy;
    // a snap of 0 means no snapping (it would divide by zero)
    const bool snap = (shift & ui::ssShift) && RotationSnap != 0;
    layer->SetRotation(snap ? double(Round(RotationAngle / RotationSnap)) * RotationSnap : RotationAngle);
    SetHint(FormatAngle(layer->GetRotation()), rawX, rawY, "0000\xB0");
    UpdateView();
    DoLayerNotify(RotatingLayer, ielRotating);
  } else if (LayerGrip != 0) {
    TIELayer* layer = GetCurrentLayer();
    if (layer->Locked) return;
    PushLayerUndoOnce(ieuLayer);
    if (!LayerResizeStarted) {
      LayerResizeStarted = true;
      const int w = layer->GetDisplayWidth();
      if (w != 0) LayerResizeRatio = double(layer->GetDisplayHeight()) / w;
    }
    AutoScroll();
    ResizeLayerByGrip(rawX, rawY, (shift & ui::ssAlt) || ConstrainAlways);
    SetHint(std::to_string(layer->GetDisplayWidth()) + " x " + std::to_string(layer->GetDisplayHeight()), rawX,
            rawY, "0000 x 0000");
    UpdateView();
    DoLayerNotify(CurrentLayer, ielResizing);
  }
}

void TImageryView::ResizeLayerByGrip(int x, int y, bool keepAspect) {
  TIELayer* layer = GetCurrentLayer();
  int grip = LayerGrip;
  if (grip < ieTopLeft || grip > ieBottomSide) return;
  bool keep = false;
  switch (LayerResizeAspect) {
    case 1: keep = keepAspect; break;
    case 2: keep = true; break;
    case 3: keep = grip <= ieBottomLeft; break;
    default: keep = false; break;
  }
  const int L = LayerDragRect.left, T = LayerDragRect.top, R = LayerDragRect.right, B = LayerDragRect.bottom;
  const double ratio = LayerResizeRatio;
  int w = layer->GetDisplayWidth(), h = layer->GetDisplayHeight();
  int X = layer->PosX, Y = layer->PosY;
  int f = ClientToImageX(x), g = ClientToImageY(y);
  const int pf = ClientToImageX(PrevRawX), pg = ClientToImageY(PrevRawY);
  if (keep && ratio > 0) {
    switch (grip) {
      case ieTopLeft:
      case ieBottomRight:
      case ieRightSide:
        g = ClientToImageY(T + Trunc((x - L) * ratio));
        if (grip == ieRightSide) grip = ieBottomRight;
        break;
      case ieTopRight: g = ClientToImageY(T + Trunc(ratio * (R - x))); break;
      case ieBottomLeft:
      case ieLeftSide:
        g = ClientToImageY(B + Trunc(ratio * (L - x)));
        grip = ieBottomLeft;
        break;
      case ieTopSide:
      case ieBottomSide:
        f = ClientToImageX(L + Trunc((y - T) / ratio));
        grip = grip == ieTopSide ? ieTopLeft : ieBottomRight;
        break;
      default: break;
    }
  }
  int nw = w, nh = h;
  switch (grip) {
    case ieTopLeft:
      nw = X + w - f;
      nh = Y + h - g;
      if (nw > 1) X = f;
      if (nh > 1) Y = g;
      break;
    case ieTopRight:
      nw = f - X;
      nh = Y + h - g;
      if (nh > 1) Y = g;
      break;
    case ieBottomRight:
      nw = f - ClientToImageX(L);
      nh = g - ClientToImageY(T);
      break;
    case ieBottomLeft:
      nw = X + w - f;
      if (nw > 1) X = f;
      nh = g - ClientToImageY(T);
      break;
    case ieLeftSide:
      nw = w + pf - f;
      if (nw > 1) X = X + f - pf;
      break;
    case ieRightSide: nw = f - ClientToImageX(L); break;
    case ieTopSide:
      nh = Y + h - g;
      if (nh > 1) Y = g;
      break;
    case ieBottomSide: nh = h + g - pg; break;
    default: break;
  }
  layer->Width = std::max(nw, 1);
  layer->Height = std::max(nh, 1);
  layer->PosX = X;
  layer->PosY = Y;
  if (!keep) LayerResizeRatio = double(layer->Height) / layer->Width;
}

void TImageryView::MouseUpLayers(int rawX, int rawY) {
  const bool moved = rawX != DownX || rawY != DownY;
  if (MovingLayer >= 0) {
    RestoreBaseCursor();
    if (LayerMoved) DoLayerNotify(CurrentLayer, ielMoved);
    Invalidate();
  }
  if (RotatingLayer >= 0) {
    if (moved) DoLayerNotify(CurrentLayer, ielRotated);
    Invalidate();
  }
  if ((MouseInteract & IEMouseBit(miRotateLayers)) && !moved && MovingLayer < 0 && RotatingLayer < 0 &&
      CentreLayer < 0) {
    const int found = FindLayerAt(rawX, rawY, true);
    if (found >= 0) {
      SetCurrentLayer(found);
      DoLayerNotify(CurrentLayer, ielSelected);
    }
  }
  if (LayerGrip != 0) {
    if (moved) DoLayerNotify(CurrentLayer, ielResized);
    UpdateView();
  }
  MovingLayer = RotatingLayer = CentreLayer = -1;
  LayerGrip = 0;
}

// ---- cursor while no button is held ----

void TImageryView::HoverCursor(int shift, int rawX, int rawY) {
  (void)shift;
  if (MouseInteract & IEMouseBit(miRotateLayers)) {
    if (IsPointInLayer(rawX, rawY, CurrentLayer)) {
      RestoreBaseCursor();
      return;
    }
    RECT rects[9];
    GetLayerGripRects(CurrentLayer, rects);
    const int cx = (rects[8].left + rects[8].right) / 2, cy = (rects[8].top + rects[8].bottom) / 2;
    if (rawX == cx || rawY == cy) return;
    const bool left = rawX < cx, above = rawY < cy;
    ShowTemporaryCursor(left ? (above ? crIERotate1 + 3 : crIERotate1) : (above ? crIERotate1 + 1 : crIERotate1 + 2));
    return;
  }
  if (MouseInteract & (IEMouseBit(miResizeLayers) | IEMouseBit(miMoveLayers))) {
    if ((MouseInteract & IEMouseBit(miResizeLayers)) && !GetCurrentLayer()->Locked) {
      const int grip = FindLayerGrip(rawX, rawY);
      if (grip != ieNone) {
        ShowTemporaryCursor(GripCursor(grip));
        return;
      }
    }
    const int found = FindLayerAt(rawX, rawY, true);
    if (found >= 0 && !GetLayer(found)->Locked && (MouseInteract & IEMouseBit(miMoveLayers)))
      ShowTemporaryCursor(crIEMove);
    else
      RestoreBaseCursor();
  }
}

void TImageryView::FollowMouseScroll(int rawX, int rawY) {
  const int w = GetViewportWidth(), h = GetViewportHeight();
  if (w <= 0 || h <= 0) return;
  int maxX, maxY;
  GetMaxViewOrigin(maxX, maxY);
  const int tx = Trunc((double(std::clamp(rawX, 0, w - 1)) / w - 0.02) * 1.05 * maxX);
  const int ty = Trunc((double(std::clamp(rawY, 0, h - 1)) / h - 0.02) * 1.05 * maxY);
  SmoothScrollTo(tx, ty);
}

// ---- the three mouse operations ----

void TImageryView::DoMouseDown(ui::TMouseButton button, int shift, int x, int y) {
  inherited::DoMouseDown(button, shift, x, y);
  ui::TCustomForm* form = ui::GetParentForm(this);
  if (form && form->GetVisible() && CanFocus()) SetFocus();
  SavedZoomFilter = GetZoomFilter();
  if (button == ui::mbRight && GetKeyState(VK_LBUTTON) < 0) return;
  LayerMoved = false;
  const bool rightSelectsLayers =
      button == ui::mbRight && (SelectionOptions & IESelOpt(iesoRightButtonSelectLayers)) != 0;
  if (!(button == ui::mbLeft || (MouseInteract & IEMouseBit(miZoom)) || rightSelectsLayers)) return;
  if (!(MouseInteract & IEMouseBit(miScroll)) && DelayZoomFilter && ZoomFilter != rfNone) {
    ZoomFilter = rfNone;  // for the press only: the saved filter stays the application's
    UpdateView();
  }
  if (HandleAllocated()) SetCapture(GetHandle());
  MouseButtonDown = true;
  SelectionBaseSwap swap(SelectionBase, SavedSelectionBase);
  DownX = PrevRawX = x;
  DownY = PrevRawY = y;
  DownClampX = std::clamp(x, CenterOffsetX, CenterOffsetX + ExtentWidth);
  DownClampY = std::clamp(y, CenterOffsetY, CenterOffsetY + ExtentHeight);
  int cx = x, cy = y;
  ClampToLayer(cx, cy);
  StartX = PrevX = LastX = cx;
  StartY = PrevY = LastY = cy;
  DragStartOriginX = ViewOriginX;
  DragStartOriginY = ViewOriginY;
  DownPointCount = SelectionPolygon ? SelectionPolygon->Count : 0;
  if (!MouseDownSelection(button, shift, x, y) && (button == ui::mbLeft || rightSelectsLayers) &&
      (MouseInteract & kLayerModes))
    MouseDownLayers(button, x, y);
  if (button == ui::mbLeft && (MouseInteract & IEMouseBit(miScroll)) && CanScroll()) ShowTemporaryCursor(crIEHand);
}

void TImageryView::DoMouseMove(int shift, int rawX, int rawY) {
  SelectionBaseSwap swap(SelectionBase, SavedSelectionBase);
  int x = rawX, y = rawY;
  ClampToLayer(x, y);
  const bool captured = MouseButtonDown && HandleAllocated() && GetCapture() == GetHandle();
  if (captured) {
    if (MouseInteract & IEMouseBit(miScroll)) {
      SetViewOrigin(DragStartOriginX - Trunc((rawX - DownX) * MouseScrollSpeed),
                    DragStartOriginY - Trunc((rawY - DownY) * MouseScrollSpeed));
    } else if (!MouseMoveSelection(shift, x, y, rawX, rawY)) {
      MouseMoveLayers(shift, rawX, rawY);
    }
  } else {
    if (!MouseHoverSelection(shift, x, y, rawX, rawY)) HoverCursor(shift, rawX, rawY);
    if ((MouseInteract & IEMouseBit(miMovingScroll)) && (rawX != PrevRawX || rawY != PrevRawY))
      FollowMouseScroll(rawX, rawY);
  }
  // the mask is read only inside the image: a point beyond it has nothing selected
  TIELayer* current = GetCurrentLayer();
  const int ix = current->ClientToBitmapX(x), iy = current->ClientToBitmapY(y);
  if (SelectionMask && ix >= 0 && iy >= 0 && ix < SelectionMask->Width && iy < SelectionMask->Height &&
      SelectionMask->IsSelected(ix, iy))
    DoMouseInSel();
  LastX = PrevX = x;
  LastY = PrevY = y;
  PrevRawX = rawX;
  PrevRawY = rawY;
}

void TImageryView::DoMouseUp(ui::TMouseButton button, int shift, int x, int y) {
  inherited::DoMouseUp(button, shift, x, y);
  HintText.clear();
  const int rawX = x, rawY = y;
  {
    SelectionBaseSwap swap(SelectionBase, SavedSelectionBase);
    ClampToLayer(x, y);
    const bool click = rawX == StartX && rawY == StartY;
    bool handled = false;
    if ((MouseInteract & IEMouseBit(miZoom)) && click && !IsEmpty()) {
      double z = ZoomX;
      if (button == ui::mbLeft) {
        if (MouseInteract & IEMouseBit(miScroll)) RestoreBaseCursor();
        if (ZoomX >= 100) {
          z = ZoomX + 100;
        } else {
          for (int s : kZoomSteps)
            if (s > ZoomX) {
              z = s;
              break;
            }
        }
        DoZoomIn(z);
      } else if (button == ui::mbRight) {
        if (ZoomX >= 200) {
          z = ZoomX - 100;
        } else {
          z = 2;
          for (int s : kZoomSteps)
            if (s < ZoomX) z = s;
        }
        DoZoomOut(z);
      }
      if (z != ZoomX || z != ZoomY) ZoomAt(x, y, z, false);
      PolygonSelecting = false;
      handled = true;
    } else if (button == ui::mbLeft && (MouseInteract & IEMouseBit(miScroll)) && CanScroll()) {
      SetViewOrigin(DragStartOriginX - Trunc((rawX - DownX) * MouseScrollSpeed),
                    DragStartOriginY - Trunc((rawY - DownY) * MouseScrollSpeed));
      RestoreBaseCursor();
      handled = true;
    }
    bool changed = false;
    if (!handled) MouseUpSelection(button, shift, x, y, rawX, rawY, changed);
    if (button == ui::mbLeft) {
      MouseUpSelectionEnd();
      MouseUpLayers(rawX, rawY);
      SelectionMoveState = -1;
      SelectionGrip = 0;
      RectSelecting = CircleSelecting = LassoSelecting = false;
      if (changed) DoSelectionChange();
    } else if (button == ui::mbRight && (SelectionOptions & IESelOpt(iesoRightButtonTerminatePolySelect))) {
      EndPolygonSelection((shift & ui::ssShift) != 0, false);
    }
    if (button == ui::mbLeft || GetKeyState(VK_LBUTTON) >= 0) {
      MouseButtonDown = false;
      if (HandleAllocated() && GetCapture() == GetHandle()) ReleaseCapture();
    }
  }
  SetZoomFilterValue(SavedZoomFilter);
}
