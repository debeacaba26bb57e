#include "uiactions.h"

#include <algorithm>

#include "uicontrols.h"
#include "uifiler.h"
#include "uiforms.h"

namespace ui {

static std::vector<TPropInfo> BasicActionProps() {
  using T = TBasicAction;
  return {prop::Event("OnExecute", &T::OnExecute), prop::Event("OnUpdate", &T::OnUpdate)};
}
static std::vector<TPropInfo> CustomActionProps() {
  using T = TCustomAction;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Bool("Checked", &T::GetChecked, &T::SetChecked, false),
          prop::Bool("Enabled", &T::GetEnabled, &T::SetEnabled, true),
          prop::Str("Hint", &T::GetHint, &T::SetHint),
          prop::Int("ImageIndex", &T::GetImageIndex, &T::SetImageIndex, true, -1),
          prop::Int("ShortCut", &T::GetShortCut, &T::SetShortCut, true, 0),
          prop::Bool("Visible", &T::GetVisible, &T::SetVisible, true)};
}

UI_IMPLEMENT_CLASS(TBasicActionLink, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TBasicAction, TComponent, nullptr, BasicActionProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomAction, TBasicAction, nullptr, CustomActionProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TAction, TCustomAction, DefaultFactory<TAction>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(THintAction, TCustomAction, DefaultFactory<THintAction>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TActionLink, TBasicActionLink, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TControlActionLink, TActionLink, DefaultFactory<TControlActionLink>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWinControlActionLink, TControlActionLink, DefaultFactory<TWinControlActionLink>, nullptr, nullptr,
                   nullptr)
UI_IMPLEMENT_CLASS(TButtonActionLink, TWinControlActionLink, DefaultFactory<TButtonActionLink>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TListViewActionLink, TWinControlActionLink, DefaultFactory<TListViewActionLink>, nullptr, nullptr,
                   nullptr)
UI_IMPLEMENT_CLASS(TComboBoxExActionLink, TWinControlActionLink, DefaultFactory<TComboBoxExActionLink>, nullptr, nullptr,
                   nullptr)
UI_IMPLEMENT_CLASS(TToolButtonActionLink, TControlActionLink, DefaultFactory<TToolButtonActionLink>, nullptr, nullptr,
                   nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TAction::StaticClassInfo, &THintAction::StaticClassInfo}); }
} registered;
}  // namespace

TBasicActionLink* CreateActionLink(TClass cls, TObject* client) {
  if (!cls || !cls->Factory || !cls->InheritsFrom(&TBasicActionLink::StaticClassInfo))
    throw EInvalidOperation(Format("Class %s is not an action link class", cls ? cls->Name : "(none)"));
  auto* link = static_cast<TBasicActionLink*>(cls->Factory());
  link->AssignClient(client);
  return link;
}

// ---- TBasicActionLink ----

TBasicActionLink::~TBasicActionLink() {
  if (action_) action_->UnRegisterChanges(this);
}

void TBasicActionLink::SetAction(TBasicAction* a) {
  if (a == action_) return;
  if (action_) action_->UnRegisterChanges(this);
  action_ = a;
  if (a) a->RegisterChanges(this);
}

bool TBasicActionLink::Execute() { return action_ && action_->Execute(); }

bool TBasicActionLink::Update() { return action_ && action_->Update(); }

void TBasicActionLink::Change() {
  if (OnChange) OnChange(action_);
}

// ---- TBasicAction ----

void TBasicAction::BeforeDestruction() {
  // Clients were told through their free notification; links that remain only forget the action.
  TComponent::BeforeDestruction();
  while (!clients_.empty()) UnRegisterChanges(clients_.back());
}

TBasicAction::~TBasicAction() {
  for (TBasicActionLink* l : clients_) l->SetAction(nullptr);
}

void TBasicAction::RegisterChanges(TBasicActionLink* link) {
  if (std::find(clients_.begin(), clients_.end(), link) == clients_.end()) clients_.push_back(link);
  if (link->GetAction() != this) link->SetAction(this);
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* link) {
  auto it = std::find(clients_.begin(), clients_.end(), link);
  if (it == clients_.end()) return;
  clients_.erase(it);
  if (link->GetAction() == this) link->SetAction(nullptr);
}

bool TBasicAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

bool TBasicAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

// ---- TCustomAction ----

bool TCustomAction::Execute() {
  Update();
  if (!enabled_) return false;
  if (Application && Application->ExecuteAction(this)) return true;
  if (TBasicAction::Execute()) return true;
  // Nobody handled it here: the application window hands it to the forms and their controls.
  return Application && SendMessageA(Application->Handle(), CM_ACTIONEXECUTE, 0, reinterpret_cast<LPARAM>(this)) == 1;
}

bool TCustomAction::Update() {
  if (Application && Application->UpdateAction(this)) return true;
  return TBasicAction::Update();
}

void TCustomAction::Assign(TPersistent* source) {
  if (auto* a = As<TCustomAction>(source)) {
    SetCaption(a->caption_);
    SetChecked(a->checked_);
    SetEnabled(a->enabled_);
    SetHint(a->hint_);
    SetImageIndex(a->imageIndex_);
    SetShortCut(a->shortCut_);
    SetVisible(a->visible_);
    OnExecute = a->OnExecute;
    OnUpdate = a->OnUpdate;
    return;
  }
  if (auto* c = As<TControl>(source)) {
    SetCaption(c->GetCaption());
    SetHint(c->GetHint());
    SetEnabled(c->GetEnabled());
    SetVisible(c->GetVisible());
    return;
  }
  TBasicAction::Assign(source);
}

template <class F>
void TCustomAction::ForEachLink(F f) {
  // A link may leave the list while it is told (its client drops the action): walk a copy.
  for (TBasicActionLink* l : std::vector<TBasicActionLink*>(clients_))
    if (std::find(clients_.begin(), clients_.end(), l) != clients_.end())
      if (auto* al = As<TActionLink>(l)) f(al);
}

// Every setter tells the links before it stores: while they are told, the action still shows the
// old value, so a link can see whether its client was showing it.
#define ACTION_SETTER(Name, field, T, Arg)          \
  void TCustomAction::Set##Name(Arg v) {            \
    if (field == v) return;                         \
    ForEachLink([&](TActionLink* l) { l->Set##Name(v); }); \
    field = v;                                      \
  }
ACTION_SETTER(Caption, caption_, std::string, const std::string&)
ACTION_SETTER(Hint, hint_, std::string, const std::string&)
ACTION_SETTER(Checked, checked_, bool, bool)
ACTION_SETTER(Enabled, enabled_, bool, bool)
ACTION_SETTER(ImageIndex, imageIndex_, int, int)
ACTION_SETTER(ShortCut, shortCut_, int, int)
ACTION_SETTER(Visible, visible_, bool, bool)
#undef ACTION_SETTER

// ---- TActionLink ----

TCustomAction* TActionLink::CustomAction() const { return As<TCustomAction>(action_); }

bool TActionLink::IsCaptionLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsCheckedLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsEnabledLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsHintLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsImageIndexLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsShortCutLinked() { return CustomAction() != nullptr; }
bool TActionLink::IsVisibleLinked() { return CustomAction() != nullptr; }

// ---- TControlActionLink ----

void TControlActionLink::AssignClient(TObject* client) {
  client_ = As<TControl>(client);
  if (!client_) throw EInvalidOperation("A control action link needs a control");
}

bool TControlActionLink::IsCaptionLinked() {
  return TActionLink::IsCaptionLinked() && client_->GetCaption() == CustomAction()->GetCaption();
}
bool TControlActionLink::IsEnabledLinked() {
  return TActionLink::IsEnabledLinked() && client_->GetEnabled() == CustomAction()->GetEnabled();
}
bool TControlActionLink::IsHintLinked() {
  return TActionLink::IsHintLinked() && client_->GetHint() == CustomAction()->GetHint();
}
bool TControlActionLink::IsVisibleLinked() {
  return TActionLink::IsVisibleLinked() && client_->GetVisible() == CustomAction()->GetVisible();
}

void TControlActionLink::SetCaption(const std::string& v) {
  if (IsCaptionLinked()) client_->SetCaption(v);
}
void TControlActionLink::SetEnabled(bool v) {
  if (IsEnabledLinked()) client_->SetEnabled(v);
}
void TControlActionLink::SetHint(const std::string& v) {
  if (IsHintLinked()) client_->SetHint(v);
}
void TControlActionLink::SetVisible(bool v) {
  if (IsVisibleLinked()) client_->SetVisible(v);
}

}  // namespace ui
