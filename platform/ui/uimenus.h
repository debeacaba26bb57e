// Menus built natively: items with captions, checks and sub-menus; WM_COMMAND reaches OnClick.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "uicomponent.h"

namespace ui {

class TMenu;

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
  void SetHint(const std::string& h) { hint_ = h; }

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
  // The sub-menu of an item with children (a popup), built on demand.
  HMENU GetHandle();
  bool IsLine() const { return caption_ == "-"; }
  virtual void Click();
  TMenuItem* FindCommand(UINT cmd);

  TNotifyEvent OnClick;

  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void SetParentComponent(TComponent* parent) override;
  TComponent* GetParentComponent() const override;
  bool HasParent() const override { return true; }
  TMenu* GetParentMenu() const;

 protected:
  // Rebuilds the native menu that shows this item.
  void MenuChanged();
  // Adds this item to the native menu `into` (the parent's popup or the menu bar).
  virtual void AppendTo(HMENU into);
  void RebuildHandle();
  friend class TMenu;

 private:
  std::string caption_, hint_;
  bool checked_ = false, enabled_ = true, visible_ = true, default_ = false, radioItem_ = false;
  int groupIndex_ = 0;
  int shortCut_ = 0;
  UINT command_;
  HMENU handle_ = nullptr;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on the root item of a menu
  std::vector<TMenuItem*> items_;
};

class TMenu : public TComponent {
  UI_DECLARE_CLASS(TMenu, TComponent)
 public:
  TMenu();
  ~TMenu() override;
  TMenuItem* Items() const { return items_; }
  virtual HMENU GetHandle();
  // Finds the item of a WM_COMMAND identifier and clicks it; false when none has it.
  bool DispatchCommand(UINT cmd);
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  TComponent* GetChildParent() override { return items_; }
  // Called after an item changed: the native menu is rebuilt.
  virtual void Changed();

 protected:
  virtual HMENU CreateMenuHandle() { return CreatePopupMenu(); }
  void Rebuild();
  TMenuItem* items_;
  HMENU handle_ = nullptr;
};

class TMainMenu : public TMenu {
  UI_DECLARE_CLASS(TMainMenu, TMenu)
 public:
  // The window whose menu bar shows this menu (set by the form).
  HWND WindowHandle = nullptr;
  void Changed() override;

 protected:
  HMENU CreateMenuHandle() override { return CreateMenu(); }
};

// "&File" -> 'F' (upper case), 0 when the caption has no accelerator.
char GetHotkey(const std::string& caption);
std::string StripHotkey(const std::string& caption);

}  // namespace ui
