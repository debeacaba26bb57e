// Wide (UTF-16) captions and hints between actions and the controls and menu items linked to them.
// A wide action keeps a wide copy of its caption and hint; every wide control asks the action for
// the wide texts, and its action link compares and hands over the wide texts.
#pragma once
#include <functional>
#include <string>

#include "uiactions.h"
#include "uibuttons.h"
#include "uicontrols.h"

// The mark of a wide action: an action is wide when it carries this interface.
class IVelWideAction {
 public:
  virtual ~IVelWideAction() = default;
};

// The wide caption and hint of one wide action (a component owned by the action).
class TCustomActionHelper : public ui::TComponent {
  UI_DECLARE_CLASS(TCustomActionHelper, ui::TComponent)
 public:
  TCustomActionHelper() = default;
  ui::TCustomAction* Action = nullptr;
  std::wstring GetCaption();
  void SetCaption(const std::wstring& value);
  std::wstring GetHint();
  void SetHint(const std::wstring& value);
  // While a new wide value is being pushed through the 8-bit setter, the new wide value.
  bool SettingNewCaption() const;
  bool SettingNewHint() const;
  // The wide value being pushed.
  const std::wstring& WideCaptionPending() const { return captionText_.wide; }
  const std::wstring& WideHintPending() const { return hintText_.wide; }

 private:
  // One wide text of the action and the state of a change in progress.
  struct Text {
    std::wstring wide;
    bool settingNew = false;
    std::wstring oldWide;
    std::string newAnsi;
  };
  std::wstring Read(Text& t, const std::string& current);
  void Write(Text& t, const std::wstring& value, const std::string& current,
             const std::function<void(const std::string&)>& setter);
  Text captionText_, hintText_;
};

class TVelAction : public ui::TAction, public IVelWideAction {
  UI_DECLARE_CLASS(TVelAction, ui::TAction)
 public:
  TVelAction() = default;
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);
  // The base's copy, then the source's wide caption and hint (an action's, or a control's).
  void Assign(ui::TPersistent* source) override;
};

bool IsWideAction(ui::TBasicAction* action);
// The wide-action copy of an assignment: the target's 8-bit caption and hint become the ANSI forms of
// the source's wide ones (a custom action's, or a control's wide text and hint).
void CopyWideActionText(ui::TCustomAction* target, ui::TPersistent* source);
// The storage of a wide action (made on first use), null for other actions; nil is an assertion.
TCustomActionHelper* ActionWideHelper(ui::TCustomAction* action);
std::wstring WideActionCaption(ui::TCustomAction* action);
std::wstring WideActionHint(ui::TCustomAction* action);
void SetWideActionCaption(ui::TCustomAction* action, const std::wstring& value);
void SetWideActionHint(ui::TCustomAction* action, const std::wstring& value);
// `defaultValue`, except while a wide action pushes a new wide value: that value.
std::wstring WideActionNewCaption(ui::TCustomAction* action, const std::wstring& defaultValue);
std::wstring WideActionNewHint(ui::TCustomAction* action, const std::wstring& defaultValue);

// The wide link class for a control, by its family; it derives from the base's link class.
ui::TClass ChooseWideActionLinkClass(ui::TControl* control, ui::TClass baseLinkClass);
// Gives the control the wide caption and hint of a wide action (only where the control still has
// its defaults when checkDefaults).
void ApplyWideActionText(ui::TControl* control, ui::TObject* sender, bool checkDefaults);

#define VEL_DECLARE_WIDE_LINK(Name, Base)              \
  class Name : public Base {                           \
    UI_DECLARE_CLASS(Name, Base)                       \
   public:                                             \
    bool IsCaptionLinked() override;                   \
    bool IsHintLinked() override;                      \
    void SetCaption(const std::string& v) override;    \
    void SetHint(const std::string& v) override;       \
  };
VEL_DECLARE_WIDE_LINK(TVelControlActionLink, ui::TControlActionLink)
VEL_DECLARE_WIDE_LINK(TVelWinControlActionLink, ui::TWinControlActionLink)
VEL_DECLARE_WIDE_LINK(TVelButtonActionLink, ui::TButtonActionLink)
VEL_DECLARE_WIDE_LINK(TVelListViewActionLink, ui::TListViewActionLink)
VEL_DECLARE_WIDE_LINK(TVelSpeedButtonActionLink, ui::TSpeedButtonActionLink)
#undef VEL_DECLARE_WIDE_LINK

// The two hooks of a wide control class, in one line of its body.
#define VEL_WIDE_ACTION_HOOKS                                                  \
 protected:                                                                    \
  void ActionChange(ui::TObject* sender, bool checkDefaults) override {        \
    ApplyWideActionText(this, sender, checkDefaults);                          \
    inherited::ActionChange(sender, checkDefaults);                            \
  }                                                                            \
  ui::TClass GetActionLinkClass() override {                                   \
    return ChooseWideActionLinkClass(this, inherited::GetActionLinkClass());   \
  }                                                                            \
                                                                               \
 private:
