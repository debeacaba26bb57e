// TVistaAltFix: on Windows Vista and later with visual themes, pressing Alt redraws the keyboard
// cues and leaves some controls partly unpainted. The component watches every form for
// WM_UPDATEUISTATE and repaints that form's controls at the next idle moment.
#pragma once
#include <vector>

#include "uiforms.h"

class TVistaAltFix : public ui::TComponent {
  UI_DECLARE_CLASS(TVistaAltFix, ui::TComponent)
 public:
  TVistaAltFix() = default;
  void Create(ui::TComponent* owner) override;
  ~TVistaAltFix() override;

  // Which repaint walk watchers made from now on use: every windowed control, or only buttons.
  bool GetRepaintAll() const { return repaintAll_; }
  void SetRepaintAll(bool v) { repaintAll_ = v; }
  // True when the component hooks forms (Vista or later with themes, not designing).
  bool Active() const { return events_ != nullptr; }
  // Number of forms watched at present.
  int WatchedFormCount() const { return static_cast<int>(watchers_.size()); }

 private:
  class TFormObj;
  void ApplicationIdle(ui::TObject* sender, bool& done);

  std::vector<TFormObj*> watchers_;
  ui::TApplicationEvents* events_ = nullptr;
  bool repaintAll_ = true;
};

// The activation test: a major version above 5 reported by GetVersionExA, and themes enabled.
bool VistaAltFixNeeded();
