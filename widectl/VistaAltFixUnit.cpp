// The Alt-key repaint fix: form watchers hooked into each form's window procedure, and the idle
// step that adds, serves and drops them.
#include "VistaAltFixUnit.h"

#include <algorithm>

#include "uibuttons.h"
#include "uifiler.h"
#include "uithemes.h"

using namespace ui;

namespace {

// The record size GetVersionExA expects for OSVERSIONINFOA.
constexpr DWORD kVersionInfoSize = 148;

// Repaints a windowed control at once (its own window only; children are walked separately).
void RepaintNow(TWinControl* control) {
  if (control->HandleAllocated())
    RedrawWindow(control->GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void RepaintAllWalk(TControl* control) {
  auto* windowed = dynamic_cast<TWinControl*>(control);
  if (!windowed) return;
  RepaintNow(windowed);
  for (int i = 0; i < windowed->ControlCount(); ++i) RepaintAllWalk(windowed->Controls(i));
}

void SelectiveWalk(TControl* control) {
  auto* windowed = dynamic_cast<TWinControl*>(control);
  if (!windowed || dynamic_cast<TBitBtn*>(control)) return;
  if (dynamic_cast<TButtonControl*>(control)) {
    RepaintNow(windowed);
    return;
  }
  for (int i = 0; i < windowed->ControlCount(); ++i) SelectiveWalk(windowed->Controls(i));
}

bool FormExists(TCustomForm* form) {
  for (int i = 0; Screen && i < Screen->FormCount(); ++i)
    if (Screen->Forms(i) == form) return true;
  return false;
}

std::vector<TPropInfo> VistaAltFixProps() {
  return {prop::Bool("RepaintAll", &TVistaAltFix::GetRepaintAll, &TVistaAltFix::SetRepaintAll, true)};
}

}  // namespace

UI_IMPLEMENT_CLASS(TVistaAltFix, TComponent, DefaultFactory<TVistaAltFix>, VistaAltFixProps, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClass(&TVistaAltFix::StaticClassInfo); }
} registered;
}  // namespace

// One watched form: while the watcher exists it is the form's window procedure.
class TVistaAltFix::TFormObj {
 public:
  TFormObj(TCustomForm* form, bool repaintAll) : form_(form), repaintAll_(repaintAll) {
    previous_ = form->WindowProc;
    form->WindowProc = TWndMethod(this, &TFormObj::WndProc);
  }
  // A form that still exists gets its previous procedure back, so it never calls a freed watcher.
  ~TFormObj() {
    if (FormExists(form_) && form_->WindowProc == TWndMethod(this, &TFormObj::WndProc))
      form_->WindowProc = previous_;
  }
  TFormObj(const TFormObj&) = delete;
  TFormObj& operator=(const TFormObj&) = delete;

  void RepaintWhenNeeded() {
    if (!needsRepaint_) return;
    needsRepaint_ = false;
    if (repaintAll_)
      RepaintAllWalk(form_);
    else
      SelectiveWalk(form_);
  }

  TCustomForm* form_;
  bool inUse_ = true;

 private:
  void WndProc(TMessage& m) {
    previous_(m);
    if (m.Msg == WM_UPDATEUISTATE) needsRepaint_ = true;
  }
  TWndMethod previous_;
  bool needsRepaint_ = false;
  bool repaintAll_;
};

bool VistaAltFixNeeded() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = kVersionInfoSize;
  if (!GetVersionExA(&info)) return false;
  return info.dwMajorVersion > 5 && ThemeServices().ThemesEnabled();
}

void TVistaAltFix::Create(TComponent* owner) {
  inherited::Create(owner);
  repaintAll_ = true;
  if (VistaAltFixNeeded() && !InState(csDesigning)) {
    events_ = New<TApplicationEvents>(nullptr);
    events_->OnIdle = TIdleEvent(this, &TVistaAltFix::ApplicationIdle);
  }
}

TVistaAltFix::~TVistaAltFix() {
  if (events_) events_->Free();
  for (TFormObj* w : watchers_) delete w;
}

void TVistaAltFix::ApplicationIdle(TObject*, bool&) {
  for (TFormObj* w : watchers_) w->inUse_ = false;
  for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
    TCustomForm* form = Screen->Forms(i);
    auto found = std::find_if(watchers_.begin(), watchers_.end(), [form](TFormObj* w) { return w->form_ == form; });
    if (found != watchers_.end())
      (*found)->inUse_ = true;
    else
      watchers_.push_back(new TFormObj(form, repaintAll_));
  }
  for (size_t i = watchers_.size(); i-- > 0;) {
    if (watchers_[i]->inUse_) {
      watchers_[i]->RepaintWhenNeeded();
    } else {
      delete watchers_[i];
      watchers_.erase(watchers_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}
