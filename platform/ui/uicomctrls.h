// Common controls: list view (report style with text callbacks), progress bar, up-down.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include "uistrings.h"
#include "uicontrols.h"
#include "uistdctrls.h"

namespace ui {

class TCustomListView;
class TListItems;

class TListColumn : public TCollectionItem {
  UI_DECLARE_CLASS(TListColumn, TCollectionItem)
 public:
  TListColumn() = default;
  std::string GetCaption() const { return caption_; }
  virtual void SetCaption(const std::string& s);
  int GetWidth() const;
  void SetWidth(int w);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  std::string GetDisplayName() override { return caption_.empty() ? TCollectionItem::GetDisplayName() : caption_; }
  void Assign(TPersistent* source) override;

 private:
  void Apply();
  std::string caption_;
  int width_ = 50;
  TAlignment alignment_ = taLeftJustify;
};

class TListColumns : public TCollection {
  UI_DECLARE_CLASS(TListColumns, TCollection)
 public:
  explicit TListColumns(TCustomListView* owner, TClass itemClass = &TListColumn::StaticClassInfo);
  TListColumn* Add() { return static_cast<TListColumn*>(TCollection::Add()); }
  TListColumn* Items(int i) const { return static_cast<TListColumn*>(TCollection::Items(i)); }
  TCustomListView* Owner() const { return view_; }

 protected:
  void Update(TCollectionItem* item) override;

 private:
  TCustomListView* view_;
};

class TListItem : public TPersistent {
  UI_DECLARE_CLASS(TListItem, TPersistent)
 public:
  explicit TListItem(TListItems* owner = nullptr);
  ~TListItem() override;
  std::string GetCaption() const { return caption_; }
  virtual void SetCaption(const std::string& s);
  TStrings* SubItems() const { return subItems_; }
  void SetSubItems(TStrings* s) { subItems_->Assign(s); }
  void* Data = nullptr;
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int i);
  bool GetSelected() const;
  void SetSelected(bool v);
  bool GetFocused() const;
  void SetFocused(bool v);
  int Index() const;
  TListItems* Owner() const { return owner_; }
  TCustomListView* ListView() const;
  void Update();
  void Delete();
  void Assign(TPersistent* source) override;

 private:
  void SubItemsChanged(TObject*);
  TListItems* owner_;
  std::string caption_;
  TStringList* subItems_;
  int imageIndex_ = -1;
  friend class TCustomListView;
  friend class TListItems;
};

class TListItems : public TPersistent {
  UI_DECLARE_CLASS(TListItems, TPersistent)
 public:
  explicit TListItems(TCustomListView* owner) : view_(owner) {}
  ~TListItems() override;
  int Count() const { return static_cast<int>(items_.size()); }
  TListItem* Item(int i) const;
  TListItem* operator[](int i) const { return Item(i); }
  TListItem* Add();
  TListItem* Insert(int index);
  void Delete(int index);
  void Clear();
  void BeginUpdate();
  void EndUpdate();
  int IndexOf(const TListItem* item) const;
  TCustomListView* Owner() const { return view_; }
  // Items are stored as "Data": a list of rows, each a list of the caption and its sub-items.
  void DefineProperties(TFiler* filer) override;
  void Assign(TPersistent* source) override;

 private:
  TCustomListView* view_;
  std::vector<TListItem*> items_;
  int updateCount_ = 0;
  friend class TCustomListView;
  friend class TListItem;
};

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };
enum TItemChange { ctText, ctImage, ctState };
using TLVChangeEvent = TEvent<void(TObject* Sender, TListItem* Item, TItemChange Change)>;
using TLVSelectItemEvent = TEvent<void(TObject* Sender, TListItem* Item, bool Selected)>;

class TCustomListView : public TWinControl {
  UI_DECLARE_CLASS(TCustomListView, TWinControl)
 public:
  TCustomListView();
  ~TCustomListView() override;
  TListColumns* GetColumns() const { return columns_; }
  void SetColumns(TListColumns* c) { columns_->Assign(c); }
  TListItems* GetItems() const { return items_; }
  void SetItems(TListItems* i) { items_->Assign(i); }
  TViewStyle GetViewStyle() const { return viewStyle_; }
  void SetViewStyle(TViewStyle v);
  bool GetRowSelect() const { return rowSelect_; }
  void SetRowSelect(bool v);
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  bool GetHideSelection() const { return hideSelection_; }
  void SetHideSelection(bool v);
  bool GetGridLines() const { return gridLines_; }
  void SetGridLines(bool v);
  bool GetMultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool v);
  bool GetShowColumnHeaders() const { return showColumnHeaders_; }
  void SetShowColumnHeaders(bool v);
  bool GetColumnClick() const { return columnClick_; }
  void SetColumnClick(bool v);
  // The first selected item, or null.
  TListItem* GetSelected() const;
  void SetSelected(TListItem* item);
  int GetItemIndex() const;
  void SetItemIndex(int i);
  int SelCount() const;
  // Asks the control to show the current texts again.
  void UpdateItems(int first, int last);

  TLVChangeEvent OnChange;
  TLVSelectItemEvent OnSelectItem;

  // Native side, used by the items and columns.
  void ItemInserted(TListItem* item, int index);
  void ItemDeleted(int index);
  void ColumnsChanged();

 protected:
  TClass GetActionLinkClass() override;
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void WndProc(TMessage& m) override;
  // Fills the text of an LVN_GETDISPINFOA request from the item (caption or sub-item).
  virtual void GetDispInfo(NMLVDISPINFOA& info);
  virtual void Change(TListItem* item, TItemChange change);
  // The class that Items.Add makes (descendants return their own item class).
  virtual TListItem* CreateListItem();
  DWORD ListViewExStyle() const;
  // Puts another column collection (of the descendant's column class) in place of the current one.
  void ReplaceColumns(TListColumns* columns);
  friend class TListItems;
  friend class TListItem;

 private:
  void InsertAllItems();
  TListColumns* columns_;
  TListItems* items_;
  TViewStyle viewStyle_ = vsIcon;
  bool rowSelect_ = false, readOnly_ = false, hideSelection_ = true, gridLines_ = false, multiSelect_ = false;
  bool showColumnHeaders_ = true, columnClick_ = true;
  bool filling_ = false;
};

class TListView : public TCustomListView {
  UI_DECLARE_CLASS(TListView, TCustomListView)
};

enum TProgressBarOrientation { pbHorizontal, pbVertical };

class TProgressBar : public TWinControl {
  UI_DECLARE_CLASS(TProgressBar, TWinControl)
 public:
  TProgressBar();
  int GetMin() const { return min_; }
  void SetMin(int v);
  int GetMax() const { return max_; }
  void SetMax(int v);
  int GetPosition() const;
  void SetPosition(int v);
  int GetStep() const { return step_; }
  void SetStep(int v);
  bool GetSmooth() const { return smooth_; }
  void SetSmooth(bool v);
  TProgressBarOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TProgressBarOrientation o);
  void StepIt();
  void StepBy(int delta);

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;

 private:
  int min_ = 0, max_ = 100, step_ = 10;
  mutable int position_ = 0;
  bool smooth_ = false;
  TProgressBarOrientation orientation_ = pbHorizontal;
};

enum TUDOrientation { udHorizontal, udVertical };
enum TUDAlignButton { udLeft, udRight };
enum TUDBtnType { btNext, btPrev };
using TUDClickEvent = TEvent<void(TObject* Sender, TUDBtnType Button)>;
using TUDChangingEvent = TEvent<void(TObject* Sender, bool& AllowChange)>;
enum TUpDownDirection { updNone, updUp, updDown };
using TUDChangingEventEx = TEvent<void(TObject* Sender, bool& AllowChange, int NewValue, TUpDownDirection Direction)>;

class TCustomUpDown : public TWinControl {
  UI_DECLARE_CLASS(TCustomUpDown, TWinControl)
 public:
  TCustomUpDown();
  TWinControl* GetAssociate() const { return associate_; }
  void SetAssociate(TWinControl* c);
  int GetMin() const { return min_; }
  void SetMin(int v);
  int GetMax() const { return max_; }
  void SetMax(int v);
  int GetPosition() const;
  void SetPosition(int v);
  int GetIncrement() const { return increment_; }
  void SetIncrement(int v);
  bool GetWrap() const { return wrap_; }
  void SetWrap(bool v);
  bool GetThousands() const { return thousands_; }
  void SetThousands(bool v);
  bool GetArrowKeys() const { return arrowKeys_; }
  void SetArrowKeys(bool v);
  TUDOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TUDOrientation o);
  TUDAlignButton GetAlignButton() const { return alignButton_; }
  void SetAlignButton(TUDAlignButton a);
  TUDClickEvent OnClick;
  TUDChangingEvent OnChanging;
  TUDChangingEventEx OnChangingEx;

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void WndProc(TMessage& m) override;
  void Notification(TComponent* c, TOperation op) override;
  void Loaded() override;

 private:
  void AttachBuddy();
  TWinControl* associate_ = nullptr;
  int min_ = 0, max_ = 100, increment_ = 1;
  mutable int position_ = 0;
  bool wrap_ = false, thousands_ = true, arrowKeys_ = true;
  TUDOrientation orientation_ = udVertical;
  TUDAlignButton alignButton_ = udRight;
};

class TUpDown : public TCustomUpDown {
  UI_DECLARE_CLASS(TUpDown, TCustomUpDown)
};

}  // namespace ui
