// Actions and action links. An action holds what a command shows (caption, hint, enabled, checked,
// shortcut, image) and what it does (OnExecute); the controls and menu items that use it hold a link
// that carries every change of the action to them, as long as they still show the action's value.
//
// A setter of TCustomAction first tells every client link the new value (the action still holds the
// old one, so a link can compare its client with it) and only then stores it.
#pragma once
#include <string>
#include <vector>

#include "uicomponent.h"

namespace ui {

class TBasicAction;
class TControl;

// The link between one client (a control, a menu item) and its action.
class TBasicActionLink : public TObject {
  UI_DECLARE_CLASS(TBasicActionLink, TObject)
 public:
  TBasicActionLink() = default;
  ~TBasicActionLink() override;
  TBasicAction* GetAction() const { return action_; }
  void SetAction(TBasicAction* a);
  // Called once, right after the client's link class made this link.
  virtual void AssignClient(TObject* client) = 0;
  // Executes the action for the client (a click); false when there is no action or nothing ran.
  virtual bool Execute();
  // The idle-time update of the action.
  virtual bool Update();
  // Told when the action was assigned, so the client copies its values.
  TNotifyEvent OnChange;

 protected:
  virtual void Change();
  TBasicAction* action_ = nullptr;
};

class TBasicAction : public TComponent {
  UI_DECLARE_CLASS(TBasicAction, TComponent)
 public:
  TBasicAction() = default;
  void BeforeDestruction() override;
  ~TBasicAction() override;
  // Runs the action: OnExecute when assigned. True when something executed it.
  virtual bool Execute();
  // Runs OnUpdate when assigned (the idle-time update). True when something handled it.
  virtual bool Update();
  void RegisterChanges(TBasicActionLink* link);
  void UnRegisterChanges(TBasicActionLink* link);
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  TBasicActionLink* Clients(int i) const { return clients_.at(static_cast<size_t>(i)); }

  TNotifyEvent OnExecute;
  TNotifyEvent OnUpdate;

 protected:
  std::vector<TBasicActionLink*> clients_;
};

class TCustomAction : public TBasicAction {
  UI_DECLARE_CLASS(TCustomAction, TBasicAction)
 public:
  TCustomAction() = default;
  // Updates first; a disabled action does not run. The application's OnActionExecute, then
  // OnExecute, then the application window (CM_ACTIONEXECUTE to the forms and their controls) get it.
  bool Execute() override;
  // The application's OnActionUpdate, then OnUpdate.
  bool Update() override;
  void Assign(TPersistent* source) override;

  std::string GetCaption() const { return caption_; }
  void SetCaption(const std::string& v);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool v);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v);
  std::string GetHint() const { return hint_; }
  void SetHint(const std::string& v);
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int v);
  int GetShortCut() const { return shortCut_; }
  void SetShortCut(int v);
  bool GetVisible() const { return visible_; }
  void SetVisible(bool v);

 private:
  template <class F>
  void ForEachLink(F f);
  std::string caption_, hint_;
  bool checked_ = false, enabled_ = true, visible_ = true;
  int imageIndex_ = -1;
  int shortCut_ = 0;
};

class TAction : public TCustomAction {
  UI_DECLARE_CLASS(TAction, TCustomAction)
};

// Carries the current hint to whatever shows hints (Application->SetHint executes one when the
// application has no OnHint handler).
class THintAction : public TCustomAction {
  UI_DECLARE_CLASS(THintAction, TCustomAction)
};

// The link of clients that show the action's values. Each Is...Linked says whether the client still
// shows the action's value (the base: whether the action is a custom action at all); each Set...
// gives the client a new value when it does.
class TActionLink : public TBasicActionLink {
  UI_DECLARE_CLASS(TActionLink, TBasicActionLink)
 public:
  virtual bool IsCaptionLinked();
  virtual bool IsCheckedLinked();
  virtual bool IsEnabledLinked();
  virtual bool IsHintLinked();
  virtual bool IsImageIndexLinked();
  virtual bool IsShortCutLinked();
  virtual bool IsVisibleLinked();
  virtual void SetCaption(const std::string& v) { (void)v; }
  virtual void SetChecked(bool v) { (void)v; }
  virtual void SetEnabled(bool v) { (void)v; }
  virtual void SetHint(const std::string& v) { (void)v; }
  virtual void SetImageIndex(int v) { (void)v; }
  virtual void SetShortCut(int v) { (void)v; }
  virtual void SetVisible(bool v) { (void)v; }

 protected:
  TCustomAction* CustomAction() const;
};

// Controls: caption, enabled, hint and visible follow the action.
class TControlActionLink : public TActionLink {
  UI_DECLARE_CLASS(TControlActionLink, TActionLink)
 public:
  TControlActionLink() = default;
  void AssignClient(TObject* client) override;
  TControl* Client() const { return client_; }
  bool IsCaptionLinked() override;
  bool IsEnabledLinked() override;
  bool IsHintLinked() override;
  bool IsVisibleLinked() override;
  void SetCaption(const std::string& v) override;
  void SetEnabled(bool v) override;
  void SetHint(const std::string& v) override;
  void SetVisible(bool v) override;

 protected:
  TControl* client_ = nullptr;
};

// The link classes of the control families; each family's wide variant derives from its own.
class TWinControlActionLink : public TControlActionLink {
  UI_DECLARE_CLASS(TWinControlActionLink, TControlActionLink)
};
class TButtonActionLink : public TWinControlActionLink {
  UI_DECLARE_CLASS(TButtonActionLink, TWinControlActionLink)
};
class TListViewActionLink : public TWinControlActionLink {
  UI_DECLARE_CLASS(TListViewActionLink, TWinControlActionLink)
};
class TComboBoxExActionLink : public TWinControlActionLink {
  UI_DECLARE_CLASS(TComboBoxExActionLink, TWinControlActionLink)
};
class TToolButtonActionLink : public TControlActionLink {
  UI_DECLARE_CLASS(TToolButtonActionLink, TControlActionLink)
};

// Makes a link of class `cls` (a TBasicActionLink class with a factory) for `client`.
TBasicActionLink* CreateActionLink(TClass cls, TObject* client);

}  // namespace ui
