// Check box, combo box and the base of the controls that hold lists of items.
#pragma once
#include "uistdctrls.h"
#include "uistrings.h"

namespace ui {

// A control with a list of items, one of them current; items (caption and object) copy between such
// controls.
class TCustomListControl : public TWinControl {
  UI_DECLARE_CLASS(TCustomListControl, TWinControl)
 public:
  virtual int GetItemIndex() const = 0;
  virtual void SetItemIndex(int i) = 0;
  virtual void AddItem(const std::string& item, TObject* obj) = 0;
  // The selected items go to `destination` through its AddItem.
  virtual void CopySelection(TCustomListControl* destination) = 0;

 protected:
  TCustomListControl() = default;
};

// A check box that the library toggles itself: a click (or setting Checked) changes the state and
// fires OnClick.
class TCustomCheckBox : public TButtonControl {
  UI_DECLARE_CLASS(TCustomCheckBox, TButtonControl)
 public:
  TCustomCheckBox();
  bool GetChecked() const { return checked_; }
  // Fires OnClick when the state changes.
  void SetChecked(bool v);

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void WndProc(TMessage& m) override;

 private:
  bool checked_ = false;
};

class TCheckBox : public TCustomCheckBox {
  UI_DECLARE_CLASS(TCheckBox, TCustomCheckBox)
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed };
// Owner drawing: `State` holds the ODS_ bits of the item.
using TDrawItemEvent = TEvent<void(TWinControl* Control, int Index, const RECT& Rect, unsigned State)>;

class TCustomComboBox : public TCustomListControl {
  UI_DECLARE_CLASS(TCustomComboBox, TCustomListControl)
 public:
  TCustomComboBox();
  ~TCustomComboBox() override;
  // The items (with their objects); the window's list follows every change.
  TStrings* GetItems() const { return items_; }
  void SetItems(TStrings* s) { items_->Assign(s); }
  // -1: nothing selected. Setting it fires no event.
  int GetItemIndex() const override;
  void SetItemIndex(int i) override;
  void AddItem(const std::string& item, TObject* obj) override { items_->AddObject(item, obj); }
  void CopySelection(TCustomListControl* destination) override;
  TComboBoxStyle GetStyle() const { return style_; }
  void SetStyle(TComboBoxStyle s);
  // The height of an owner-drawn item.
  int GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(int h);
  std::string GetTextProp() { return GetText(); }
  void SetTextProp(const std::string& s) { SetText(s); }
  // The canvas of owner drawing (valid inside OnDrawItem).
  TCanvas* Canvas() const { return canvas_; }
  // Fired after the user picks an item (after OnClick) and when the user edits the text.
  TNotifyEvent OnChange;
  TDrawItemEvent OnDrawItem;

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& m) override;
  virtual void Change();
  // Paints item `index` (owner-draw styles); the default fills the rectangle and writes the item.
  virtual void DrawItem(int index, const RECT& r, unsigned state);

 private:
  void ItemsChanged(TObject*);
  void FillWindowList();
  TStringList* items_;
  TCanvas* canvas_;
  TComboBoxStyle style_ = csDropDown;
  mutable int itemIndex_ = -1;
  int itemHeight_ = 16;
  bool filling_ = false;
};

class TComboBox : public TCustomComboBox {
  UI_DECLARE_CLASS(TComboBox, TCustomComboBox)
};

}  // namespace ui
