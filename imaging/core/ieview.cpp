#include "ieview.h"

#include <algorithm>

static std::vector<ui::TPropInfo> IEViewProps() {
  using T = TIEView;
  return {ui::prop::Int("Background", &T::GetBackground, &T::SetBackground, true, ui::clBtnFace),
          ui::prop::Enum("BorderStyle", &T::GetBorderStyle, &T::SetBorderStyleValue, {"bsNone", "bsSingle"}, true,
                         ui::bsSingle),
          ui::prop::Bool("Ctl3D", &T::GetCtl3D, &T::SetCtl3D, true),
          ui::prop::Event("OnMouseEnter", &T::OnMouseEnter),
          ui::prop::Event("OnMouseLeave", &T::OnMouseLeave)};
}
UI_IMPLEMENT_CLASS(TIEView, ui::TCustomControl, nullptr, IEViewProps, nullptr, nullptr)

TIEView::TIEView() = default;

void TIEView::Create(ui::TComponent* owner) {
  inherited::Create(owner);
  Background = ui::clBtnFace;
  BorderStyle = ui::bsSingle;
  Ctl3D = true;
}

void TIEView::WndProc(ui::TMessage& m) {
  inherited::WndProc(m);
  if (m.Msg == ui::CM_MOUSEENTER && OnMouseEnter) OnMouseEnter(this);
  else if (m.Msg == ui::CM_MOUSELEAVE && OnMouseLeave) OnMouseLeave(this);
}

void TIEView::BeforeDestruction() {
  ReleaseBitmapChangeHandlers();
  inherited::BeforeDestruction();
}

void TIEView::ReleaseBitmapChangeHandlers() {
  // Each handler is told once; it must not unregister, since its record is freed right after the call.
  while (!Handlers.empty()) {
    TIEViewHandlerRecord* r = Handlers.front();
    Handlers.erase(Handlers.begin());
    if (r && r->Handler) r->Handler(this, true);
    delete r;
  }
}

TIEView::~TIEView() {
  for (TIEViewHandlerRecord* r : Handlers) delete r;
}

TIEViewHandlerRecord* TIEView::AddBitmapChangeHandler(TIEBitmapChangeHandler handler) {
  auto* r = new TIEViewHandlerRecord{std::move(handler)};
  Handlers.push_back(r);
  return r;
}

void TIEView::RemoveBitmapChangeHandler(TIEViewHandlerRecord* handle) {
  if (!handle) return;
  auto it = std::find(Handlers.begin(), Handlers.end(), handle);
  if (it == Handlers.end()) return;
  Handlers.erase(it);
  delete handle;
}

void TIEView::NotifyBitmapChangeHandlers() {
  // the count is taken once: a handler registered during the round is first called next time
  const size_t n = Handlers.size();
  for (size_t i = 0; i < n && i < Handlers.size(); ++i)
    if (Handlers[i] && Handlers[i]->Handler) Handlers[i]->Handler(this, false);
}

void TIEView::SetBackgroundValue(ui::TColor value) { Background = value; }

void TIEView::SetBorderStyleValue(ui::TFormBorderStyle value) {
  if (value == BorderStyle) return;
  BorderStyle = value;
  if (HandleAllocated()) RecreateWnd();
}

void TIEView::SetCtl3D(bool value) {
  if (value == Ctl3D) return;
  Ctl3D = value;
  if (HandleAllocated()) RecreateWnd();
}

void TIEView::SetDpiX(int value) {
  if (value != 0) DpiX = value;
}

void TIEView::SetDpiY(int value) {
  if (value != 0) DpiY = value;
}

void TIEView::SetDpi(int x, int y) {
  SetDpiX(x);
  SetDpiY(y);
}

void TIEView::PaintBackgroundTo(ui::TCanvas* canvas, int width, int height) {
  canvas->Brush()->SetStyle(ui::bsSolid);
  canvas->Brush()->SetColor(GetBackground());
  canvas->FillRect(RECT{0, 0, width, height});
}

bool TIEView::HasParentWindow() {
  return ui::ParentFormControl(this) != nullptr || GetParentWindow() != nullptr ||
         (GetParent() && GetParent()->HandleAllocated());
}

void TIEView::CreateParams(ui::TCreateParams& p) {
  inherited::CreateParams(p);
  if (BorderStyle == ui::bsSingle) {
    if (Ctl3D)
      p.ExStyle |= WS_EX_CLIENTEDGE;
    else
      p.Style |= WS_BORDER;
  }
  // the view repaints what changed itself; a full redraw on every resize would only flicker
  p.WindowClass.style &= ~(CS_HREDRAW | CS_VREDRAW);
}
