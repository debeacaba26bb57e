// The wide hint action.
#include "VelStdActns.h"

#include "VelClasses.h"

static std::vector<ui::TPropInfo> VelHintActionProps() {
  return {ui::prop::WStr("Hint", &TVelHintAction::GetHintText, &TVelHintAction::SetHintText)};
}

UI_IMPLEMENT_CLASS(TVelHintAction, ui::THintAction, ui::DefaultFactory<TVelHintAction>, VelHintActionProps, nullptr,
                   nullptr)

void TVelHintAction::DefineProperties(ui::TFiler* filer) {
  inherited::DefineProperties(filer);
  DefineWidePropertyFilers(filer, this);
}

void TVelHintAction::Assign(ui::TPersistent* source) {
  inherited::Assign(source);
  CopyWideActionText(this, source);
}

std::wstring TVelHintAction::GetHintText() const { return WideActionHint(const_cast<TVelHintAction*>(this)); }

void TVelHintAction::SetHintText(const std::wstring& hint) { SetWideActionHint(this, hint); }
