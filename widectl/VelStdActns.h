// The wide hint action: the library announces the current hint to whatever shows hints by executing a
// hint action with an 8-bit hint; this one carries the hint wide (the application object puts it in
// place of the library's, see VelForms).
#pragma once
#include <string>

#include "VelActnList.h"
#include "uifiler.h"

class TVelHintAction : public ui::THintAction, public IVelWideAction {
  UI_DECLARE_CLASS(TVelHintAction, ui::THintAction)
 public:
  TVelHintAction() = default;
  void DefineProperties(ui::TFiler* filer) override;
  // The library's copy, then the source's wide caption and hint in their ANSI forms.
  void Assign(ui::TPersistent* source) override;
  // The wide hint, kept in the action's wide storage.
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& hint);
};
