// A second view linked as navigator: it shows this view's image fitted into its own window with a
// fixed-size rectangle over the part this view shows. Moving the rectangle scrolls this view, this
// view's scrolling and zooming move the rectangle, the navigator's wheel may zoom this view. Also the
// external bitmap a navigator shows, and the switch to the platform's flat scroll bars.
#include <algorithm>
#include <cmath>

#include "iebitmap.h"
#include "ielayer.h"
#include "ieviewdraw.h"
#include "ietextutils.h"
#include "imageryview.h"

namespace {
int Round(double v) { return int(std::lrint(v)); }

// The common controls' switch of a window to flat scroll bars, looked up by name (absent: the plain
// bars stay, with the same ranges and positions).
void CallFlatSB(const char* name, HWND wnd) {
  HMODULE cc = GetModuleHandleA("comctl32.dll");
  if (!cc) cc = LoadLibraryA("comctl32.dll");
  if (!cc) return;
  using Fn = BOOL(WINAPI*)(HWND);
  if (auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(cc, name)))) fn(wnd);
}
}  // namespace

// ---- external bitmap ----

void TImageryView::SetExternalBitmap(TIEBitmap* bitmap) {
  if (CurrentLayer < 0 || CurrentLayer >= int(Layers.size())) return;
  TIELayer* layer = Layers[size_t(CurrentLayer)];
  if (!bitmap) {
    IEBitmap = new TIEBitmap();
    layer->ReplaceBitmap(IEBitmap, true);
    Bitmap = nullptr;
    return;
  }
  layer->ReplaceBitmap(bitmap, false);
  IEBitmap = bitmap;
  Bitmap = layer->GetPlatformBitmap();
  NotifyBitmapChangeHandlers();
  UpdateView();
}

// ---- linking ----

void TImageryView::SetNavigator(TImageryView* view, uint8_t options) {
  if (NavigatorView) {
    TImageryView* old = NavigatorView;
    NavigatorView = nullptr;
    RemoveBitmapChangeHandler(NavigatorHandler);
    NavigatorHandler = nullptr;
    RemoveFreeNotification(old);
    old->OnSelectionChanging = nullptr;
    old->OnMouseWheel = nullptr;
    old->SetExternalBitmap(nullptr);
    old->IsNavigator = false;
  }
  NavigatorView = view;
  if (!view) return;
  view->IsNavigator = true;
  view->SetEnableAlphaChannel(EnableAlphaChannel);
  view->SetAutoFit(true);
  view->SetMouseInteractValue(IEMouseBit(miSelect));
  view->SetSelectionBase(iesbBitmap);
  view->SetSelectionOptions(IESelOpt(iesoMoveable) | IESelOpt(iesoCanScroll));
  view->SetExternalBitmap(IEBitmap);
  view->OnSelectionChanging = [this](void* sender) { NavigatorSelectionChanging(sender); };
  NavigatorOptions = options;
  view->NavigatorOptions = options;
  if (options & 1) {
    view->OnMouseWheel = [this](void*, int, int delta, POINT mouse, bool& handled) {
      NavigatorMouseWheel(delta, mouse.x, mouse.y, handled);
    };
  }
  FreeNotification(view);
  // The navigator shows this view's working bitmap, which a layer switch, a removed layer or a
  // change of storage replaces or frees: it follows every such change.
  NavigatorHandler = AddBitmapChangeHandler([this](TIEView*, bool destroying) {
    if (destroying || !NavigatorView) return;
    AttachNavigatorBitmap();
  });
  SyncNavigator();
}

void TImageryView::AttachNavigatorBitmap() {
  if (NavigatorView->GetIEBitmap() != IEBitmap) NavigatorView->SetExternalBitmap(IEBitmap);
  SyncNavigator();
}

void TImageryView::Notification(ui::TComponent* c, ui::TOperation op) {
  inherited::Notification(c, op);
  if (op == ui::opRemove && c == NavigatorView) {
    NavigatorView = nullptr;
    RemoveBitmapChangeHandler(NavigatorHandler);
    NavigatorHandler = nullptr;
  }
}

// ---- keeping the two in step ----

void TImageryView::SyncNavigator() {
  if (!NavigatorView || NavigatorSyncing || PaintLock > 0) return;
  NavigatorSyncing = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{NavigatorSyncing};
  PaintView();
  const int a = ClientToImageX(CenterOffsetX), b = ClientToImageY(CenterOffsetY);
  const int c = ClientToImageX(CenterOffsetX + ExtentWidth), d = ClientToImageY(CenterOffsetY + ExtentHeight);
  TImageryView* nav = NavigatorView;
  nav->FixedSelectionWidth = c - a;
  nav->FixedSelectionHeight = d - b;
  nav->SetSelectionAspectRatio(0);
  nav->SelectRect(a, b, c, d, 0);
}

void TImageryView::NavigatorSelectionChanging(void* Sender) {
  (void)Sender;
  if (NavigatorSyncing || !NavigatorView) return;
  NavigatorSyncing = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{NavigatorSyncing};
  SetViewOrigin(Round(NavigatorView->SelectedLeft() * ZoomX / 100), Round(NavigatorView->SelectedTop() * ZoomX / 100));
}

void TImageryView::NavigatorMouseWheel(int delta, int x, int y, bool& handled) {
  const TIEMouseWheelParams& w = NavigatorView->MouseWheelParams;
  int dir = delta > 0 ? -1 : 1;
  if (w.InvertDirection) dir = -dir;
  double z = ZoomX;
  if (w.Variation == 0)
    z = ZoomX + dir * w.Value;
  else if (w.Variation == 1)
    z = ZoomX + dir * std::max(Round(w.Value * ZoomX / 100), 1);
  if (z > ZoomX && OnZoomIn) OnZoomIn(this, z);
  if (z < ZoomX && OnZoomOut) OnZoomOut(this, z);
  if (w.ZoomPosition)
    ZoomAt(x, y, z, false);
  else
    SetZoom(z);
  handled = true;
}

// ---- the shaded transfer of a navigator ----

void TImageryView::PaintNavigatorShaded(const RECT& r) {
  const int vw = GetViewportWidth(), vh = GetViewportHeight();
  if (!NavigatorShade) {
    NavigatorShade = new TIEBitmap();
    NavigatorShade->SetLocation(ieTBitmap);
  }
  if (NavigatorShade->GetImageWidth() != vw || NavigatorShade->GetImageHeight() != vh)
    NavigatorShade->Allocate(vw, vh, ie24RGB);
  const int x1 = std::max(0, int(r.left)), y1 = std::max(0, int(r.top));
  const int x2 = std::min(vw, int(r.right)), y2 = std::min(vh, int(r.bottom));
  if (x2 <= x1 || y2 <= y1) return;
  HDC shade = NavigatorShade->GetTBitmap()->GetDC();
  BitBlt(shade, x1, y1, x2 - x1, y2 - y1, BackBuffer->GetTBitmap()->GetDC(), x1, y1, SRCCOPY);
  const RECT lr = GetCurrentLayer()->ClientRect;
  IEShadeOutsideRect(NavigatorShade->GetCanvas(), lr.left, lr.top, lr.right - lr.left, lr.bottom - lr.top,
                     NavigatorRect.left, NavigatorRect.top, NavigatorRect.right, NavigatorRect.bottom);
  BitBlt(Canvas()->GetHandle(), x1, y1, x2 - x1, y2 - y1, NavigatorShade->GetTBitmap()->GetDC(), x1, y1, SRCCOPY);
}

// ---- flat scroll bars ----

void TImageryView::SetFlatScrollBarsValue(bool value) {
  if (value == FlatScrollBars) return;
  FlatScrollBars = value;
  if (HandleAllocated()) {
    const HWND h = GetHandle();
    if (!value) {
      CallFlatSB("UninitializeFlatSB", h);
    } else {
      IESetScrollRange(h, SB_HORZ, 0, 0, false, false);
      IESetScrollRange(h, SB_VERT, 0, 0, false, false);
      CallFlatSB("InitializeFlatSB", h);
      IEShowScrollBar(h, SB_BOTH, false, true);
    }
  }
  // the bars start again from nothing known; the next update shows them as needed
  HBarState = TScrollBarState{};
  VBarState = TScrollBarState{};
  HScrollBarShown = VScrollBarShown = false;
  UpdateView();
}
