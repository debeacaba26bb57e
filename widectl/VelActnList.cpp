// Wide actions, their per-action storage, the wide link classes and the hooks of the controls.
#include "VelActnList.h"

#include "VelControls.h"
#include "VelSysUtils.h"
#include "uicomctrls.h"
#include "uifiler.h"
#include "uistdctrls.h"

using namespace ui;

namespace {

std::vector<TPropInfo> VelActionProps() {
  return {prop::WStr("Caption", &TVelAction::GetCaptionText, &TVelAction::SetCaptionText),
          prop::WStr("Hint", &TVelAction::GetHintText, &TVelAction::SetHintText)};
}

}  // namespace

UI_IMPLEMENT_CLASS(TCustomActionHelper, TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelAction, TAction, DefaultFactory<TVelAction>, VelActionProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelControlActionLink, TControlActionLink, DefaultFactory<TVelControlActionLink>, nullptr, nullptr,
                   nullptr)
UI_IMPLEMENT_CLASS(TVelWinControlActionLink, TWinControlActionLink, DefaultFactory<TVelWinControlActionLink>, nullptr,
                   nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelButtonActionLink, TButtonActionLink, DefaultFactory<TVelButtonActionLink>, nullptr, nullptr,
                   nullptr)
UI_IMPLEMENT_CLASS(TVelListViewActionLink, TListViewActionLink, DefaultFactory<TVelListViewActionLink>, nullptr,
                   nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelSpeedButtonActionLink, TSpeedButtonActionLink, DefaultFactory<TVelSpeedButtonActionLink>,
                   nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClass(&TVelAction::StaticClassInfo); }
} registered;
}  // namespace

// ---- Storage --------------------------------------------------------------------------------

bool TCustomActionHelper::SettingNewCaption() const {
  return captionText_.settingNew && Action->GetCaption() != captionText_.newAnsi;
}
bool TCustomActionHelper::SettingNewHint() const {
  return hintText_.settingNew && Action->GetHint() != hintText_.newAnsi;
}

std::wstring TCustomActionHelper::Read(Text& t, const std::string& current) {
  if (t.settingNew && current != t.newAnsi) return t.oldWide;
  return SyncWideText(t.wide, current);
}

void TCustomActionHelper::Write(Text& t, const std::wstring& value, const std::string& current,
                                const std::function<void(const std::string&)>& setter) {
  t.oldWide = Read(t, current);
  t.newAnsi = WideToAnsi(value);
  t.settingNew = true;
  try {
    // The links see the old wide text while they decide whether the client shows the action's text,
    // and give the client the new one. An empty step (made when only the wide form changes) leaves
    // the client empty, so the old text is forgotten for the step that follows.
    SetSyncedWideText(value, t.wide, current, [&](const std::string& s) {
      setter(s);
      if (s.empty() && !t.newAnsi.empty()) t.oldWide.clear();
    });
  } catch (...) {
    t.settingNew = false;
    throw;
  }
  t.settingNew = false;
}

std::wstring TCustomActionHelper::GetCaption() { return Read(captionText_, Action->GetCaption()); }
void TCustomActionHelper::SetCaption(const std::wstring& value) {
  Write(captionText_, value, Action->GetCaption(), [this](const std::string& s) { Action->SetCaption(s); });
}
std::wstring TCustomActionHelper::GetHint() { return Read(hintText_, Action->GetHint()); }
void TCustomActionHelper::SetHint(const std::wstring& value) {
  Write(hintText_, value, Action->GetHint(), [this](const std::string& s) { Action->SetHint(s); });
}

// ---- Routines on actions --------------------------------------------------------------------

bool IsWideAction(TBasicAction* action) { return dynamic_cast<IVelWideAction*>(action) != nullptr; }

TCustomActionHelper* ActionWideHelper(TCustomAction* action) {
  if (!action) throw EAssertionFailed("VEL Internal Error: ActionWideHelper needs an action (widectl/VelActnList).");
  if (!IsWideAction(action)) return nullptr;
  for (int i = 0; i < action->ComponentCount(); ++i)
    if (auto* helper = dynamic_cast<TCustomActionHelper*>(action->Components(i))) return helper;
  auto* helper = New<TCustomActionHelper>(action);
  helper->Action = action;
  return helper;
}

std::wstring WideActionCaption(TCustomAction* action) {
  if (TCustomActionHelper* helper = ActionWideHelper(action)) return helper->GetCaption();
  return AnsiToWide(action->GetCaption());
}
std::wstring WideActionHint(TCustomAction* action) {
  if (TCustomActionHelper* helper = ActionWideHelper(action)) return helper->GetHint();
  return AnsiToWide(action->GetHint());
}
void SetWideActionCaption(TCustomAction* action, const std::wstring& value) {
  if (TCustomActionHelper* helper = ActionWideHelper(action))
    helper->SetCaption(value);
  else
    action->SetCaption(WideToAnsi(value));
}
void SetWideActionHint(TCustomAction* action, const std::wstring& value) {
  if (TCustomActionHelper* helper = ActionWideHelper(action))
    helper->SetHint(value);
  else
    action->SetHint(WideToAnsi(value));
}
std::wstring WideActionNewCaption(TCustomAction* action, const std::wstring& defaultValue) {
  TCustomActionHelper* helper = ActionWideHelper(action);
  return helper && helper->SettingNewCaption() ? helper->WideCaptionPending() : defaultValue;
}
std::wstring WideActionNewHint(TCustomAction* action, const std::wstring& defaultValue) {
  TCustomActionHelper* helper = ActionWideHelper(action);
  return helper && helper->SettingNewHint() ? helper->WideHintPending() : defaultValue;
}

// ---- TVelAction -----------------------------------------------------------------------------

std::wstring TVelAction::GetCaptionText() const { return WideActionCaption(const_cast<TVelAction*>(this)); }
void TVelAction::SetCaptionText(const std::wstring& value) { SetWideActionCaption(this, value); }
std::wstring TVelAction::GetHintText() const { return WideActionHint(const_cast<TVelAction*>(this)); }
void TVelAction::SetHintText(const std::wstring& value) { SetWideActionHint(this, value); }

void CopyWideActionText(TCustomAction* target, TPersistent* source) {
  if (auto* action = As<TCustomAction>(source)) {
    target->SetCaption(WideToAnsi(WideActionCaption(action)));
    target->SetHint(WideToAnsi(WideActionHint(action)));
  } else if (auto* control = As<TControl>(source)) {
    target->SetCaption(WideToAnsi(WideGetControlText(control)));
    target->SetHint(WideToAnsi(WideGetControlHint(control)));
  }
}

void TVelAction::Assign(TPersistent* source) {
  inherited::Assign(source);
  CopyWideActionText(this, source);
}

// ---- Hooks of the controls ------------------------------------------------------------------

TClass ChooseWideActionLinkClass(TControl* control, TClass baseLinkClass) {
  TClass chosen;
  if (dynamic_cast<TCustomListView*>(control))
    chosen = &TVelListViewActionLink::StaticClassInfo;
  else if (dynamic_cast<TSpeedButton*>(control))
    chosen = &TVelSpeedButtonActionLink::StaticClassInfo;
  else if (dynamic_cast<TButtonControl*>(control))
    chosen = &TVelButtonActionLink::StaticClassInfo;
  else if (dynamic_cast<TWinControl*>(control))
    chosen = &TVelWinControlActionLink::StaticClassInfo;
  else
    chosen = &TVelControlActionLink::StaticClassInfo;
  if (chosen->Parent != baseLinkClass)
    throw EAssertionFailed("VEL Internal Error: the wide action link does not derive from the control's link class.");
  return chosen;
}

void ApplyWideActionText(TControl* control, TObject* sender, bool checkDefaults) {
  auto* action = As<TCustomAction>(sender);
  if (!action || !IsWideAction(action)) return;
  const std::wstring text = WideGetControlText(control);
  if (!checkDefaults || text.empty() || text == AnsiToWide(control->GetName()))
    WideSetControlText(control, WideActionCaption(action));
  if (!checkDefaults || WideGetControlHint(control).empty()) WideSetControlHint(control, WideActionHint(action));
}

// ---- Link classes ---------------------------------------------------------------------------

#define VEL_IMPLEMENT_WIDE_LINK(Name)                                                                  \
  bool Name::IsCaptionLinked() {                                                                       \
    return inherited::IsCaptionLinked() && WideActionCaption(CustomAction()) == WideGetControlText(client_); \
  }                                                                                                    \
  bool Name::IsHintLinked() {                                                                          \
    return inherited::IsHintLinked() && WideActionHint(CustomAction()) == WideGetControlHint(client_);  \
  }                                                                                                    \
  void Name::SetCaption(const std::string& v) {                                                        \
    if (IsCaptionLinked()) WideSetControlText(client_, WideActionNewCaption(CustomAction(), AnsiToWide(v))); \
  }                                                                                                    \
  void Name::SetHint(const std::string& v) {                                                           \
    if (IsHintLinked()) WideSetControlHint(client_, WideActionNewHint(CustomAction(), AnsiToWide(v)));  \
  }
VEL_IMPLEMENT_WIDE_LINK(TVelControlActionLink)
VEL_IMPLEMENT_WIDE_LINK(TVelWinControlActionLink)
VEL_IMPLEMENT_WIDE_LINK(TVelButtonActionLink)
VEL_IMPLEMENT_WIDE_LINK(TVelListViewActionLink)
VEL_IMPLEMENT_WIDE_LINK(TVelSpeedButtonActionLink)
#undef VEL_IMPLEMENT_WIDE_LINK
