// The image view's paint pipeline and window messages: the 24-bit back buffer the size of the
// viewport, recomposed only when something marked it dirty and copied to the window with the transfer
// that suits the screen; the overlays drawn straight onto the window; and the messages through which
// the library's I/O threads and the video object reach the view.
#include <algorithm>

#include "iebitmap.h"
#include "iebitmaprender.h"
#include "ielayer.h"
#include "ieviewdraw.h"
#include "ieviewglobals.h"
#include "ieds.h"
#include "imageryio.h"
#include "imageryview.h"
#include "uiforms.h"

namespace {
constexpr int kDrawDibHalftone = HALFTONE;
}  // namespace

void TImageryView::Paint() {
  try {
    if (!HandleAllocated() || !IEBitmap) return;
    const int vw = GetViewportWidth(), vh = GetViewportHeight();
    if (!HasParentWindow() || vw == 0 || vh == 0) return;
    if (PaintLock == 0) {
      RECT r{0, 0, vw, vh};
      if (!FullRepaintPending) {
        r = Canvas()->ClipRect();
        if (r.right == 0) r.right = vw;
        if (r.bottom == 0) r.bottom = vh;
      }
      DrawBackBufferToScreen(r);
      DrawSelections(this, false);
      if (OnDrawCanvas) OnDrawCanvas(this, Canvas(), RECT{0, 0, vw, vh});
    }
    FullRepaintPending = false;
    if (OnPaint) OnPaint(this);
    if (DrawVersion) DrawVersionText();
    if (!HintText.empty() && EnableInteractionHints) {
      int hx = HintX, hy = HintY;
      IEDrawInfoBox(Canvas(), hx, hy, HintTemplate, HintText);
    }
    if (VideoShown()) {
      // the video takes the current layer's place, showing the part of the frame the layer shows
      TIEDirectShow* video = IO->GetDirectShow();
      int w = 0, h = 0;
      video->GetNativeVideoSize(w, h);
      TIELayer* layer = GetCurrentLayer();
      const double kx = double(IEBitmap->GetImageWidth()) / w, ky = double(IEBitmap->GetImageHeight()) / h;
      const RECT source{int(layer->DrawInfo[4] / kx), int(layer->DrawInfo[5] / ky), int(layer->DrawInfo[6] / kx),
                        int(layer->DrawInfo[7] / ky)};
      video->SetVideoPosition(source, layer->ClientRect);
    }
    if (HasOwner && CursorPending) {
      SetCursorValue(Cursor);
      CursorPending = false;
    }
  } catch (...) {
    // a paint that fails shows what it drew so far; it must not take the window procedure down
  }
}

void TImageryView::DrawBackBufferToScreen(const RECT& r) {
  if (!HasParentWindow() || !BackBuffer) return;
  const int vw = GetViewportWidth(), vh = GetViewportHeight();
  bool whole = FullRepaintPending;
  if (BackBuffer->GetImageWidth() != vw || BackBuffer->GetImageHeight() != vh) {
    BackBuffer->Allocate(vw, vh, ie24RGB);
    BackBufferDirty = true;
    whole = true;  // a new buffer holds nothing outside the rectangle either
  }
  if (BackBufferDirty) {
    UpdateViewExtents();
    const RECT clip{std::max(0, int(r.left)), std::max(0, int(r.top)), std::min(vw, int(r.right)),
                    std::min(vh, int(r.bottom))};
    DrawLayers(BackBuffer, nullptr, whole ? nullptr : &clip, true, true);
    PaintOverLayers(BackBuffer, whole ? nullptr : &clip);
    if (OnDrawBackBuffer) OnDrawBackBuffer(this);
    BackBufferDirty = false;
  }
  GdiFlush();
  HDC dc = Canvas()->GetHandle();
  const bool video = VideoShown();
  int savedDC = 0;
  if (video) {
    // the video renders itself there: the buffer must not paint over it
    savedDC = SaveDC(dc);
    const RECT& lr = GetCurrentLayer()->ClientRect;
    ExcludeClipRect(dc, lr.left, lr.top, lr.right, lr.bottom);
  }
  const int w = std::min(int(r.right - r.left), vw), h = std::min(int(r.bottom - r.top), vh);
  const bool remote = IEViewRemoteSession;
  if ((UseDrawDib || IEScreenBitsPerPixel <= 8) && !remote) {
    if (!DrawDibHandle) DrawDibHandle = IEDrawDibOpen();
    // the buffer's rows as a bottom-up DIB: row 0 of the DIB is the buffer's last row
    struct {
      BITMAPINFOHEADER h;
      RGBQUAD colours[2];
    } info{};
    info.h.biSize = sizeof(BITMAPINFOHEADER);
    info.h.biWidth = vw;
    info.h.biHeight = vh;
    info.h.biPlanes = 1;
    const bool mono = BackBuffer->GetPixelFormat() == ie1g;
    info.h.biBitCount = mono ? 1 : 24;
    info.h.biCompression = BI_RGB;
    if (mono) info.colours[1] = RGBQUAD{255, 255, 255, 0};
    uint8_t* bits = BackBuffer->GetRowAddress(vh - 1);
    if (BackBuffer->GetRowAddress(0) < bits) {
      // rows not bottom-up in one block: copy them into one
      std::vector<uint8_t> dib(size_t(BackBuffer->GetRowLength()) * size_t(vh));
      for (int y = 0; y < vh; ++y)
        std::copy_n(BackBuffer->GetRowAddress(y), BackBuffer->GetRowLength(),
                    dib.data() + size_t(vh - 1 - y) * size_t(BackBuffer->GetRowLength()));
      IEDrawDibDraw(DrawDibHandle, dc, r.left, r.top, w, h, &info.h, dib.data(), r.left, vh - r.top - h, w, h, 0);
    } else {
      IEDrawDibDraw(DrawDibHandle, dc, r.left, r.top, w, h, &info.h, bits, r.left, vh - r.top - h, w, h, 0);
    }
  } else if (IEScreenBitsPerPixel <= 23 && !remote) {
    SetStretchBltMode(dc, kDrawDibHalftone);
    StretchBlt(dc, r.left, r.top, w, h, BackBuffer->GetTBitmap()->GetDC(), r.left, r.top, w, h, SRCCOPY);
  } else if (IsNavigator && (NavigatorOptions & 2)) {
    PaintNavigatorShaded(r);
  } else {
    BitBlt(dc, r.left, r.top, w, h, BackBuffer->GetTBitmap()->GetDC(), r.left, r.top, SRCCOPY);
  }
  if (video) RestoreDC(dc, savedDC);
  // the buffer covered the rubber band of a polygon being drawn: it is drawn again over it
  DrawPolygonRubberBand();
  if (DShowWindow && DShowWindow != GetHandle() && IO) IO->UpdateDShowNotifyWindow();
  if (DShowWindow) DShowWindow = GetHandle();
}

bool TImageryView::VideoShown() {
  if (!IO || !IO->HasDirectShow()) return false;
  TIEDirectShow* video = IO->GetDirectShow();
  if (!video->RenderIntoView || video->GetGraphState() == 0) return false;
  int w = 0, h = 0;
  video->GetNativeVideoSize(w, h);
  return w > 0 && h > 0;
}

void TImageryView::DrawVersionText() {
  const std::string text = std::string("Imagery Version ") + IEImageryVersion + " - 21/3/2010";
  HDC dc = Canvas()->GetHandle();
  HFONT font = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.data(), int(text.size()), &size);
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, OPAQUE);
  TextOutA(dc, GetViewportWidth() - size.cx, GetViewportHeight() - size.cy, text.data(), int(text.size()));
  SelectObject(dc, oldFont);
  DeleteObject(font);
}

void TImageryView::SetDrawVersionValue(bool value) {
  DrawVersion = value;
  if (HandleAllocated() && HasParentWindow()) Invalidate();
}

void TImageryView::InvalidateRectDirty(const RECT* r) {
  BackBufferDirty = true;
  if (HandleAllocated()) InvalidateRect(GetHandle(), r, FALSE);
}

ui::TBitmap* TImageryView::GetBackBufferBitmap() {
  if (!BackBuffer) return nullptr;
  auto* adapter = dynamic_cast<TIETBitmapAdapter*>(BackBuffer->GetTBitmap());
  return adapter ? adapter->GetBitmap() : nullptr;
}

void TImageryView::WndProc(ui::TMessage& m) {
  switch (m.Msg) {
    case WM_PAINT:
      if (VideoShown()) {
        HDC dc = GetDC(GetHandle());
        IO->GetDirectShow()->RepaintVideo(GetHandle(), dc);
        ReleaseDC(GetHandle(), dc);
      }
      inherited::WndProc(m);
      return;
    case WM_ERASEBKGND:
      m.Result = 0;  // the back buffer covers everything
      return;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
      // a change the view's own realization caused needs nothing more
      if (m.Msg == WM_PALETTECHANGED && HandleAllocated() && HWND(m.WParam) == GetHandle()) return;
      m.Result = PaletteChanged(m.Msg == WM_QUERYNEWPALETTE) ? 1 : 0;
      return;
    case WM_SIZE:
      StopTransition();
      inherited::WndProc(m);
      if (!Updating) {
        UpdateReason = 4;
        UpdateView();
      }
      return;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      inherited::WndProc(m);
      if (HandleAllocated()) InvalidateRect(GetHandle(), nullptr, FALSE);
      return;
    case WM_HSCROLL:
    case WM_VSCROLL:
      inherited::WndProc(m);
      HandleScrollMessage(m.Msg == WM_HSCROLL, m);
      return;
    case WM_MOUSEWHEEL: {
      inherited::WndProc(m);
      if (OnMouseWheel) {
        POINT p{short(LOWORD(m.LParam)), short(HIWORD(m.LParam))};
        ::ScreenToClient(GetHandle(), &p);
        bool handled = false;
        OnMouseWheel(this, ui::KeyboardShiftState(), GET_WHEEL_DELTA_WPARAM(m.WParam), p, handled);
        if (handled) return;
      }
      HandleMouseWheel(m);
      return;
    }
    case WM_MOUSEMOVE:
      inherited::WndProc(m);
      DoMouseMove(ui::KeyboardShiftState(), short(LOWORD(m.LParam)), short(HIWORD(m.LParam)));
      return;
    case WM_LBUTTONDBLCLK: {
      inherited::WndProc(m);
      // the second press of a double click is a press as well; then a polygon being drawn ends
      const int x = short(LOWORD(m.LParam)), y = short(HIWORD(m.LParam));
      DoMouseDown(ui::mbLeft, ui::KeyboardShiftState() | ui::ssDouble, x, y);
      if (PolygonSelecting && !LassoSelecting) EndPolygonSelection((m.WParam & MK_SHIFT) != 0, true);
      return;
    }
    case ui::CM_WANTSPECIALKEY:
      inherited::WndProc(m);
      if (OnSpecialKey) {
        bool handled = false;
        OnSpecialKey(this, int(m.WParam), ui::KeyDataToShiftState(m.LParam), handled);
        if (handled) m.Result = 1;
      }
      return;
    case ui::CN_KEYDOWN:
    case WM_SYSKEYDOWN:
      inherited::WndProc(m);
      if (OnVirtualKey) OnVirtualKey(this, unsigned(m.WParam), m.LParam, true);
      return;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      inherited::WndProc(m);
      if (OnVirtualKey) OnVirtualKey(this, unsigned(m.WParam), m.LParam, false);
      return;
    case IEM_UPDATEVIEW:
      UpdateView();
      return;
    case IEM_DSHOWNEWFRAME:
    case IEM_DSHOWGRAPHEVENT: {
      // only this view's own live video object is believed: lParam is just a number to compare
      TIEDirectShow* video = IO && IO->HasDirectShow() ? IO->GetDirectShow() : nullptr;
      if (!video || m.LParam == 0 || reinterpret_cast<TIEDirectShow*>(m.LParam) != video) return;
      if (m.Msg == IEM_DSHOWNEWFRAME) {
        video->NewFrame = false;
        if (video->Connected() && OnDShowNewFrame) OnDShowNewFrame(this);
        video->NewFrame = true;
      } else if (video->Connected() && OnDShowEvent) {
        OnDShowEvent(this);
      }
      return;
    }
    case IEM_PROGRESS:
      if (OnProgress) OnProgress(this, int(m.WParam));
      return;
    case IEM_FINISHWORK:
      if (OnFinishWork) OnFinishWork(this);
      return;
  }
  inherited::WndProc(m);
}

bool TImageryView::PaletteChanged(bool foreground) {
  ui::TCustomForm* main = ui::Application ? ui::Application->MainForm() : nullptr;
  if (main && main->HandleAllocated()) {
    // the flag goes to DrawDib as it comes: the platform's argument says "background"
    if (IEDrawDibRealize(DrawDibHandle, main->Canvas()->GetHandle(), foreground) > 0 && HandleAllocated()) Invalidate();
  } else if (!main && HandleAllocated()) {
    Invalidate();
  }
  return true;
}

bool TImageryView::DoKeyDown(ui::TMessage& m) {
  const bool swallowed = inherited::DoKeyDown(m);
  if (ShiftAddsSelection && (ui::KeyDataToShiftState(m.LParam) & ui::ssShift)) {
    if (Cursor == crIEDefaultCross)
      ShowTemporaryCursor(crIEAddCross);
    else if (Cursor == crIEAltCross)
      ShowTemporaryCursor(crIEAddAltCross);
  }
  return swallowed;
}

bool TImageryView::DoKeyUp(ui::TMessage& m) {
  const bool swallowed = inherited::DoKeyUp(m);
  if (ShiftAddsSelection && !(ui::KeyDataToShiftState(m.LParam) & ui::ssShift)) RestoreBaseCursor();
  return swallowed;
}
