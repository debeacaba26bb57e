// Menus built natively: items with captions, checks, shortcuts and sub-menus; WM_COMMAND reaches
// OnClick. Items may follow an action, carry automatic hot keys, be drawn by the library (owner-drawn
// menus) and be merged from another menu; popup menus work through one process-wide popup list window.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "uiactions.h"
#include "uicontrols.h"

namespace ui {

class TMenu;
class TMenuItem;
class TMenuActionLink;
class TCustomImageList;

// Shortcut values: the low byte is the virtual key; these bits add the shift keys.
enum : int { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0 };
int ShortCut(WORD key, int shift);  // shift: ssShift / ssCtrl / ssAlt bits
void ShortCutToKey(int shortCut, WORD& key, int& shift);
// "Ctrl+S", "Shift+Ctrl+F1", "Alt+Del"; the empty text for 0 or a key without a name.
std::string ShortCutToText(int shortCut);
// The reverse; 0 when the text names no shortcut. Prefixes and key names compare without case.
int TextToShortCut(const std::string& text);
// The name of a key without shift prefixes ("S", "F1", "Enter", "PgUp"), empty when it has none.
std::string ShortCutKeyName(WORD key);
extern const char* const SmkcShift;  // "Shift+"
extern const char* const SmkcCtrl;   // "Ctrl+"
extern const char* const SmkcAlt;    // "Alt+"

// Owner-draw state bits of a menu item.
enum : int {
  odSelected = 1 << 0,
  odGrayed = 1 << 1,
  odDisabled = 1 << 2,
  odChecked = 1 << 3,
  odFocused = 1 << 4,
  odDefault = 1 << 5,
  odHotLight = 1 << 6,
  odInactive = 1 << 7,
  odNoAccel = 1 << 8,
  odNoFocusRect = 1 << 9,
};
using TMenuDrawItemEvent = TEvent<void(TObject* Sender, TCanvas* ACanvas, RECT ARect, bool Selected)>;
using TAdvancedMenuDrawItemEvent = TEvent<void(TObject* Sender, TCanvas* ACanvas, RECT ARect, int State)>;
using TMenuMeasureItemEvent = TEvent<void(TObject* Sender, TCanvas* ACanvas, int& Width, int& Height)>;

enum TMenuAutoFlag { maAutomatic, maManual };
enum TMenuItemAutoFlag { maiAutomatic, maiManual, maiParent };  // stored as maAutomatic / maManual / maParent

class TMenuItem : public TComponent {
  UI_DECLARE_CLASS(TMenuItem, TComponent)
 public:
  TMenuItem();
  void BeforeDestruction() override;
  ~TMenuItem() override;

  std::string GetCaption() const { return caption_; }
  void SetCaption(const std::string& s);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool v);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool GetVisible() const { return visible_; }
  void SetVisible(bool v);
  bool GetDefault() const { return default_; }
  void SetDefault(bool v);
  bool GetRadioItem() const { return radioItem_; }
  void SetRadioItem(bool v);
  int GetGroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int v) { groupIndex_ = v; }
  int GetShortCut() const { return shortCut_; }
  void SetShortCut(int v);
  std::string GetHint() const { return hint_; }
  void SetHint(const std::string& h);
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int v);
  TMenuItemAutoFlag GetAutoHotkeys() const { return autoHotkeys_; }
  void SetAutoHotkeys(TMenuItemAutoFlag v);
  // Whether hot keys are added to this item's sub-items (the flag, or the parent's / menu's).
  bool IsAutoHotkeys() const;

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int i) const;
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  void Delete(int index);
  void Remove(TMenuItem* item);
  int IndexOf(TMenuItem* item) const;
  void Clear();
  TMenuItem* Parent() const { return parent_; }
  // The command identifier of WM_COMMAND for this item.
  UINT Command() const { return command_; }
  // The native menu of this item's sub-items (built on first use, kept up to date afterwards).
  HMENU GetHandle();
  bool HandleAllocated() const { return handle_ != nullptr; }
  bool IsLine() const { return caption_ == "-"; }
  // OnClick, or the action's execution when OnClick is not assigned.
  virtual void Click();
  TMenuItem* FindCommand(UINT cmd);
  // The item whose sub-menu is `h` (this one or a descendant, merged items included), or null.
  TMenuItem* FindHandle(HMENU h);
  // The items of another menu shown in this one's place (merging), and the item this one is shown in.
  TMenuItem* Merged() const { return merged_; }
  TMenuItem* MergedWith() const { return mergedWith_; }

  // The action whose values the item shows and which its click executes.
  TBasicAction* GetAction() const;
  void SetAction(TBasicAction* a);
  TMenuActionLink* ActionLink() const { return actionLink_; }
  // The idle-time update of the item's action.
  virtual void InitiateAction();
  bool IsCaptionStored() const;
  bool IsHintStored() const;

  // Owner drawing (the menu's OwnerDraw or Images): draws the item; `state` holds od* bits.
  virtual void AdvancedDrawItem(TCanvas* canvas, RECT r, int state, bool topLevel);
  // Measures the item for owner drawing.
  virtual void MeasureItem(TCanvas* canvas, int& width, int& height);

  TNotifyEvent OnClick;
  TMenuDrawItemEvent OnDrawItem;
  TAdvancedMenuDrawItemEvent OnAdvancedDrawItem;
  TMenuMeasureItemEvent OnMeasureItem;

  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void SetParentComponent(TComponent* parent) override;
  TComponent* GetParentComponent() const override;
  bool HasParent() const override { return true; }
  TMenu* GetParentMenu() const;

 protected:
  // After a change of this item: rebuild (the parent's native menu is built again: structure, visibility)
  // or not (this item's native entry is updated in place); then the menu's change notification.
  virtual void MenuChanged(bool rebuild);
  // Copies the action's values (checkDefaults: only where the item still has its defaults).
  virtual void ActionChange(TObject* sender, bool checkDefaults);
  // The class of the link made for an action (a TMenuActionLink class).
  virtual TClass GetActionLinkClass();
  // The library's text drawing of an item (caption or shortcut text) with DrawText flags.
  virtual void DoDrawText(TCanvas* canvas, const std::string& text, RECT& r, bool selected, UINT flags);
  void Notification(TComponent* c, TOperation op) override;
  void Loaded() override;
  // Adds this item to the native menu `into` (the parent's popup or the menu bar).
  virtual void AppendTo(HMENU into);
  // Builds the native menu of the sub-items again.
  void RebuildHandle();
  friend class TMenu;
  friend class TMainMenu;
  friend class TPopupMenu;

 private:
  void FillItemInfo(MENUITEMINFOA& mi, std::string& text);
  void UpdateNativeItem();
  void RethinkHotkeys();
  bool IsTopLevel() const;
  void DoActionChange(TObject* sender);
  std::vector<TMenuItem*> VisibleItems() const;
  std::string caption_, hint_;
  bool checked_ = false, enabled_ = true, visible_ = true, default_ = false, radioItem_ = false;
  int groupIndex_ = 0;
  int shortCut_ = 0;
  int imageIndex_ = -1;
  TMenuItemAutoFlag autoHotkeys_ = maiParent;
  UINT command_;
  HMENU handle_ = nullptr;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on the root item of a menu
  TMenuItem* merged_ = nullptr;
  TMenuItem* mergedWith_ = nullptr;
  TMenuActionLink* actionLink_ = nullptr;
  std::vector<TMenuItem*> items_;
};

class TMenu : public TComponent {
  UI_DECLARE_CLASS(TMenu, TComponent)
 public:
  TMenu();
  void BeforeDestruction() override;
  ~TMenu() override;
  TMenuItem* Items() const { return items_; }
  virtual HMENU GetHandle();
  bool HandleAllocated() const { return items_->handle_ != nullptr; }
  // Finds the item of a WM_COMMAND identifier and clicks it; false when none has it.
  bool DispatchCommand(UINT cmd);
  // The opening of the sub-menu `h`: its items' actions are updated; false when it is not ours.
  bool DispatchPopup(HMENU h);
  // The item of a command identifier or of a sub-menu handle (byHandle), merged items included.
  TMenuItem* FindItem(UINT_PTR value, bool byHandle);
  // The enabled, visible item with this shortcut is clicked; false when none has it.
  bool IsShortCut(WORD key, int shift);
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  TComponent* GetChildParent() override { return items_; }
  // Told after an item changed (its native entry is already up to date); `source` null: the whole menu.
  virtual void Changed(TMenuItem* source, bool rebuild);

  bool GetOwnerDraw() const { return ownerDraw_; }
  void SetOwnerDraw(bool v);
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* v);
  // Owner-drawn: OwnerDraw set or an image list given.
  bool IsOwnerDraw() const { return ownerDraw_ || images_; }
  TMenuAutoFlag GetAutoHotkeys() const { return autoHotkeys_; }
  void SetAutoHotkeys(TMenuAutoFlag v);

 protected:
  virtual HMENU CreateMenuHandle() { return CreatePopupMenu(); }
  void Loaded() override;
  void Notification(TComponent* c, TOperation op) override;
  // Builds the whole native menu again.
  void Rebuild();
  TMenuItem* items_;
  friend class TMenuItem;

 private:
  void ImageListChange(TObject*);
  bool ownerDraw_ = false;
  TCustomImageList* images_ = nullptr;
  TMenuAutoFlag autoHotkeys_ = maAutomatic;
};

class TMainMenu : public TMenu {
  UI_DECLARE_CLASS(TMainMenu, TMenu)
 public:
  // The window whose menu bar shows this menu (set by the form).
  HWND WindowHandle = nullptr;
  void Changed(TMenuItem* source, bool rebuild) override;
  // Shows the items of `menu` in this menu bar: its top-level items take the places of this menu's
  // items with the same GroupIndex, the others go in GroupIndex order.
  void Merge(TMainMenu* menu);
  void Unmerge(TMainMenu* menu);

 protected:
  HMENU CreateMenuHandle() override { return CreateMenu(); }
};

enum TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
  UI_DECLARE_CLASS(TPopupMenu, TMenu)
 public:
  void Create(TComponent* owner) override;
  void BeforeDestruction() override;
  // Shows the menu at screen point (x, y) and returns once it closed (the chosen command is posted to
  // the popup list window and runs from the message loop).
  virtual void Popup(int x, int y);
  TPopupAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TPopupAlignment a) { alignment_ = a; }
  bool GetAutoPopup() const { return autoPopup_; }
  void SetAutoPopup(bool v) { autoPopup_ = v; }
  // The component that showed the menu last (set by whoever pops it up).
  TComponent* PopupComponent = nullptr;
  TNotifyEvent OnPopup;

 private:
  TPopupAlignment alignment_ = paLeft;
  bool autoPopup_ = true;
};

// The window that receives the commands, owner-draw and menu-select messages of every popup menu.
class TPopupList : public TObject {
  UI_DECLARE_CLASS(TPopupList, TObject)
 public:
  TPopupList();
  ~TPopupList() override;
  void Add(TPopupMenu* m);
  void Remove(TPopupMenu* m);
  int Count() const { return static_cast<int>(menus_.size()); }
  TPopupMenu* Items(int i) const { return menus_.at(static_cast<size_t>(i)); }
  HWND Window();  // made on first use
  virtual void WndProc(TMessage& m);

 private:
  void MainWndProc(TMessage& m);
  std::vector<TPopupMenu*> menus_;
  HWND window_ = nullptr;
};

// The popup list in use; a layer may put its own in place (and must put the old one back).
extern TPopupList* PopupList;

// The menu messages that forms and the popup list window share: WM_COMMAND of a menu, WM_INITMENUPOPUP,
// WM_MENUSELECT, WM_DRAWITEM and WM_MEASUREITEM of menu items. True when `menu` handled the message.
bool DispatchMenuMessage(TMenu* menu, TMessage& m);

// The item of a menu-owner-draw message (draw or measure) in `menu`, or null.
TMenuItem* FindOwnerDrawItem(TMenu* menu, UINT_PTR itemId);

// The action link of menu items: caption, checked, enabled, hint, image index, shortcut and visible.
class TMenuActionLink : public TActionLink {
  UI_DECLARE_CLASS(TMenuActionLink, TActionLink)
 public:
  TMenuActionLink() = default;
  void AssignClient(TObject* client) override;
  TMenuItem* Client() const { return client_; }
  bool IsCaptionLinked() override;
  bool IsCheckedLinked() override;
  bool IsEnabledLinked() override;
  bool IsHintLinked() override;
  bool IsImageIndexLinked() override;
  bool IsShortCutLinked() override;
  bool IsVisibleLinked() override;
  void SetCaption(const std::string& v) override;
  void SetChecked(bool v) override;
  void SetEnabled(bool v) override;
  void SetHint(const std::string& v) override;
  void SetImageIndex(int v) override;
  void SetShortCut(int v) override;
  void SetVisible(bool v) override;

 protected:
  TMenuItem* client_ = nullptr;
};

// "&File" -> 'F' (upper case), 0 when the caption has no accelerator.
char GetHotkey(const std::string& caption);
std::string StripHotkey(const std::string& caption);

}  // namespace ui
