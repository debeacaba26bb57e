// Common controls: list view (text callbacks, owner data, label editing, sorting, owner draw, check
// boxes), progress bar, up-down.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <exception>

#include "uistrings.h"
#include "uicontrols.h"
#include "uiboxes.h"
#include "uistdctrls.h"
#include "uiimglist.h"

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
  // The column's position in the native control (the wParam of its LVM_SETCOLUMN), -1 while the
  // control has no window.
  int GetOrderTag() const { return orderTag_; }
  std::string GetDisplayName() override { return caption_.empty() ? TCollectionItem::GetDisplayName() : caption_; }
  void Assign(TPersistent* source) override;

 private:
  std::string caption_;
  int width_ = 50;
  TAlignment alignment_ = taLeftJustify;
  int orderTag_ = -1;
  friend class TCustomListView;
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

// An item of a list view. Its texts reach the native control as text callbacks: every change of the
// caption or a sub-item is announced with LVM_SETITEMTEXTA carrying the callback marker, and a change
// of the sub-item list ends with LVM_UPDATE, so a descendant view sees each one in its window procedure.
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
  int GetIndent() const { return indent_; }
  void SetIndent(int i);
  int GetOverlayIndex() const { return overlayIndex_; }
  void SetOverlayIndex(int i);
  int GetStateIndex() const { return stateIndex_; }
  void SetStateIndex(int i);
  // The check box of a view with Checkboxes.
  bool GetChecked() const;
  void SetChecked(bool v);
  bool GetSelected() const;
  void SetSelected(bool v);
  bool GetFocused() const;
  void SetFocused(bool v);
  // Position in the view; in owner-data mode the row the (temporary) item stands for.
  int Index() const;
  TListItems* Owner() const { return owner_; }
  TCustomListView* ListView() const;
  // Asks the control to show the item again (LVM_UPDATE).
  void Update();
  void Delete();
  void Assign(TPersistent* source) override;

 private:
  void SubItemsChanged(TObject*);
  // LVM_SETITEMTEXTA with the callback marker for the caption (0) or sub-item k (k + 1).
  void AnnounceText(int subItem);
  // Indent, overlay and state image to the control.
  void ApplyAttributes();
  TListItems* owner_;
  std::string caption_;
  TStringList* subItems_;
  int imageIndex_ = -1;
  int indent_ = 0;
  int overlayIndex_ = -1;
  int stateIndex_ = -1;
  mutable bool checked_ = false;
  friend class TCustomListView;
  friend class TListItems;
};

class TListItems : public TPersistent {
  UI_DECLARE_CLASS(TListItems, TPersistent)
 public:
  explicit TListItems(TCustomListView* owner = nullptr) : view_(owner) {}
  ~TListItems() override;
  // In owner-data mode: the row count the program set, and Item(i) is the view's temporary item
  // filled for row i through OnData.
  int Count() const;
  // Owner-data mode only (EInvalidOperation otherwise).
  void SetCount(int n);
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
enum TIconArrangement { iaTop, iaLeft };

// How an icon view lays its icons out; a change makes the control's window again.
class TIconOptions : public TPersistent {
  UI_DECLARE_CLASS(TIconOptions, TPersistent)
 public:
  explicit TIconOptions(TCustomListView* owner = nullptr) : view_(owner) {}
  TIconArrangement GetArrangement() const { return arrangement_; }
  void SetArrangement(TIconArrangement v);
  bool GetAutoArrange() const { return autoArrange_; }
  void SetAutoArrange(bool v);
  bool GetWrapText() const { return wrapText_; }
  void SetWrapText(bool v);
  void Assign(TPersistent* source) override;

 private:
  void Changed();
  TCustomListView* view_;
  TIconArrangement arrangement_ = iaTop;
  bool autoArrange_ = false;
  bool wrapText_ = true;
};

// A rectangle of an icon view that icons are placed in (client coordinates), with its name and the
// colour its outline is drawn in while ShowWorkAreas is set.
class TWorkArea : public TCollectionItem {
  UI_DECLARE_CLASS(TWorkArea, TCollectionItem)
 public:
  RECT GetRect() const { return rect_; }
  void SetRect(const RECT& r);
  std::string GetDisplayName() override { return displayName_; }
  void SetDisplayName(const std::string& s);
  TColor GetColor() const { return color_; }
  void SetColor(TColor c);

 private:
  RECT rect_{0, 0, 0, 0};
  std::string displayName_;
  TColor color_ = clWindowText;
};

class TWorkAreas : public TCollection {
  UI_DECLARE_CLASS(TWorkAreas, TCollection)
 public:
  explicit TWorkAreas(TCustomListView* owner = nullptr) : TCollection(&TWorkArea::StaticClassInfo), view_(owner) {}
  TWorkArea* Add() { return static_cast<TWorkArea*>(TCollection::Add()); }
  TWorkArea* Items(int i) const { return static_cast<TWorkArea*>(TCollection::Items(i)); }

 protected:
  void Update(TCollectionItem* item) override;

 private:
  TCustomListView* view_;
};

enum THotTrackStyle { htHandPoint, htUnderlineCold, htUnderlineHot };
using THotTrackStyles = unsigned;  // bit i = THotTrackStyle i
// Stages of custom drawing, and the state bits of what is drawn (the CDIS_ values).
enum TCustomDrawStage { cdPrePaint, cdPostPaint, cdPreErase, cdPostErase };
enum : unsigned { cdsSelected = 0x1, cdsGrayed = 0x2, cdsDisabled = 0x4, cdsChecked = 0x8, cdsFocused = 0x10,
                  cdsDefault = 0x20, cdsHot = 0x40, cdsMarked = 0x80, cdsIndeterminate = 0x100 };
// Item states of owner-data notifications: a set, bit i = TItemState i.
enum TItemState { isNone, isCut, isDropHilited, isFocused, isSelected, isActivating };
using TItemStates = unsigned;
enum TItemChange { ctText, ctImage, ctState };
enum TSortType { stNone, stData, stText, stBoth };
enum TItemRequest { irText = 1, irImage = 2, irParam = 4, irState = 8, irIndent = 16 };
enum TItemFind { ifData, ifPartialString, ifExactString, ifNearest };
enum TSearchDirection { sdLeft, sdRight, sdAbove, sdBelow, sdAll };
using TLVChangeEvent = TEvent<void(TObject* Sender, TListItem* Item, TItemChange Change)>;
using TLVChangingEvent = TEvent<void(TObject* Sender, TListItem* Item, TItemChange Change, bool& AllowChange)>;
using TLVSelectItemEvent = TEvent<void(TObject* Sender, TListItem* Item, bool Selected)>;
using TLVCompareEvent = TEvent<void(TObject* Sender, TListItem* Item1, TListItem* Item2, LPARAM Data, int& Compare)>;
using TLVEditingEvent = TEvent<void(TObject* Sender, TListItem* Item, bool& AllowEdit)>;
using TLVEditedEvent = TEvent<void(TObject* Sender, TListItem* Item, std::string& S)>;
using TLVOwnerDataEvent = TEvent<void(TObject* Sender, TListItem* Item)>;
using TLVOwnerDataFindEvent =
    TEvent<void(TObject* Sender, TItemFind Find, const std::string& FindString, const POINT& FindPosition,
                void* FindData, int StartIndex, TSearchDirection Direction, bool Wrap, int& Index)>;
// The tip shown for an item (InfoTip starts with the text the control offers).
using TLVInfoTipEvent = TEvent<void(TObject* Sender, TListItem* Item, std::string& InfoTip)>;
// `State` holds the ODS_ bits of the item.
using TLVDrawItemEvent = TEvent<void(TCustomListView* Sender, TListItem* Item, const RECT& Rect, unsigned State)>;
// May replace the class of the items the view makes (a descendant of TListItem).
using TLVCreateItemClassEvent = TEvent<void(TCustomListView* Sender, TClass& ItemClass)>;
// Custom drawing: the handlers draw on the view's Canvas; DefaultDraw false leaves the control's own
// drawing out. The item and sub-item handlers may change Canvas.Font and Canvas.Brush.Color, which the
// control then draws the text with.
using TLVCustomDrawEvent = TEvent<void(TCustomListView* Sender, const RECT& ARect, bool& DefaultDraw)>;
using TLVCustomDrawItemEvent = TEvent<void(TCustomListView* Sender, TListItem* Item, unsigned State, bool& DefaultDraw)>;
using TLVCustomDrawSubItemEvent =
    TEvent<void(TCustomListView* Sender, TListItem* Item, int SubItem, unsigned State, bool& DefaultDraw)>;
using TLVAdvancedCustomDrawEvent =
    TEvent<void(TCustomListView* Sender, const RECT& ARect, TCustomDrawStage Stage, bool& DefaultDraw)>;
using TLVAdvancedCustomDrawItemEvent = TEvent<void(TCustomListView* Sender, TListItem* Item, unsigned State,
                                                   TCustomDrawStage Stage, bool& DefaultDraw)>;
using TLVAdvancedCustomDrawSubItemEvent = TEvent<void(TCustomListView* Sender, TListItem* Item, int SubItem,
                                                      unsigned State, TCustomDrawStage Stage, bool& DefaultDraw)>;
using TLVColumnClickEvent = TEvent<void(TObject* Sender, TListColumn* Column)>;
// Point: where the header was clicked, in the view's client coordinates.
using TLVColumnRClickEvent = TEvent<void(TObject* Sender, TListColumn* Column, POINT Point)>;
using TLVNotifyEvent = TEvent<void(TObject* Sender, TListItem* Item)>;
using TLVDeletedEvent = TLVNotifyEvent;
// Owner data: the rows the control is about to ask for, and a range whose states changed.
using TLVOwnerDataHintEvent = TEvent<void(TObject* Sender, int StartIndex, int EndIndex)>;
using TLVOwnerDataStateChangeEvent =
    TEvent<void(TObject* Sender, int StartIndex, int EndIndex, TItemStates OldState, TItemStates NewState)>;
// The image of sub-item SubItem (0 = the first sub-item); ImageIndex starts at -1.
using TLVSubItemImageEvent = TEvent<void(TObject* Sender, TListItem* Item, int SubItem, int& ImageIndex)>;
// A comparison for CustomSort: two items (as their TListItem pointers) and the caller's value.
using TLVCompare = int(CALLBACK*)(LPARAM item1, LPARAM item2, LPARAM data);

class TCustomListView : public TCustomListControl {
  UI_DECLARE_CLASS(TCustomListView, TCustomListControl)
 public:
  TCustomListView();
  // Makes the columns, the item collection (CreateListItems) and the owner-data temporary item
  // (CreateListItem), in that order.
  void Create(TComponent* owner) override;
  ~TCustomListView() override;
  TListColumns* GetColumns() const { return columns_; }
  void SetColumns(TListColumns* c) { columns_->Assign(c); }
  TListItems* GetItems() const { return items_; }
  void SetItems(TListItems* i) { items_->Assign(i); }
  TViewStyle GetViewStyle() const { return viewStyle_; }
  void SetViewStyle(TViewStyle v);
  bool GetRowSelect() const { return rowSelect_; }
  void SetRowSelect(bool v);
  // Without ReadOnly the user edits captions in place (OnEditing, OnEdited).
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
  bool GetCheckboxes() const { return checkboxes_; }
  void SetCheckboxes(bool v);
  // Rows come from OnData (Items.Count sets how many); the view keeps no items of its own.
  bool GetOwnerData() const { return ownerData_; }
  void SetOwnerData(bool v);
  // Report rows painted by DrawItem / OnDrawItem.
  bool GetOwnerDraw() const { return ownerDraw_; }
  void SetOwnerDraw(bool v);
  // stText and stBoth keep the items sorted by AlphaSort whenever a caption changes.
  TSortType GetSortType() const { return sortType_; }
  void SetSortType(TSortType t);
  // Sorts by OnCompare, or by caption (lstrcmp) without it. False when the view has no window and
  // there is nothing to sort.
  bool AlphaSort();
  // Sorts with `compare` (null: the OnCompare / caption order) given `data`.
  bool CustomSort(TLVCompare compare, LPARAM data);
  // The first selected item, or null.
  TListItem* GetSelected() const;
  void SetSelected(TListItem* item);
  int GetItemIndex() const override;
  void SetItemIndex(int i) override;
  int SelCount() const;
  // Asks the control to show the current texts again.
  void UpdateItems(int first, int last);
  // The canvas of owner drawing (valid inside OnDrawItem).
  TCanvas* Canvas() const { return canvas_; }
  // A new item with `item` as caption and `obj` as Data.
  void AddItem(const std::string& item, TObject* obj) override;
  // Every selected item, in order, goes to `destination` (caption and Data).
  void CopySelection(TCustomListControl* destination) override;

  TLVChangeEvent OnChange;
  // Before an item's state, text or image changes; AllowChange false keeps it.
  TLVChangingEvent OnChanging;
  TLVSelectItemEvent OnSelectItem;
  TLVCompareEvent OnCompare;
  TLVEditingEvent OnEditing;
  TLVEditedEvent OnEdited;
  TLVOwnerDataEvent OnData;
  TLVOwnerDataFindEvent OnDataFind;
  TLVDrawItemEvent OnDrawItem;
  TLVCreateItemClassEvent OnCreateItemClass;
  TLVInfoTipEvent OnInfoTip;
  TLVCustomDrawEvent OnCustomDraw;
  TLVCustomDrawItemEvent OnCustomDrawItem;
  TLVCustomDrawSubItemEvent OnCustomDrawSubItem;
  TLVAdvancedCustomDrawEvent OnAdvancedCustomDraw;
  TLVAdvancedCustomDrawItemEvent OnAdvancedCustomDrawItem;
  TLVAdvancedCustomDrawSubItemEvent OnAdvancedCustomDrawSubItem;
  TLVColumnClickEvent OnColumnClick;
  TLVColumnRClickEvent OnColumnRightClick;
  TNotifyEvent OnColumnDragged;
  TLVOwnerDataHintEvent OnDataHint;
  TLVOwnerDataStateChangeEvent OnDataStateChange;
  TLVDeletedEvent OnDeletion;
  TLVNotifyEvent OnInsert;
  // Asked for an item's image each time the control shows it (Item.ImageIndex may be set here).
  TLVNotifyEvent OnGetImageIndex;
  // Asked for sub-item images; assigned before the window is made, it turns sub-item images on.
  TLVSubItemImageEvent OnGetSubItemImage;

  // Image lists: small icons (small-icon, list and report views), large icons (icon view), states.
  TCustomImageList* GetSmallImages() const { return smallImages_; }
  void SetSmallImages(TCustomImageList* v) { SetImageList(smallImages_, v, LVSIL_SMALL); }
  TCustomImageList* GetLargeImages() const { return largeImages_; }
  void SetLargeImages(TCustomImageList* v) { SetImageList(largeImages_, v, LVSIL_NORMAL); }
  TCustomImageList* GetStateImages() const { return stateImages_; }
  void SetStateImages(TCustomImageList* v) { SetImageList(stateImages_, v, LVSIL_STATE); }
  TIconOptions* GetIconOptions() const { return iconOptions_; }
  void SetIconOptions(TIconOptions* v) { iconOptions_->Assign(v); }
  // How many items the control makes room for at once.
  int GetAllocBy() const { return allocBy_; }
  void SetAllocBy(int v);
  // Items are highlighted under the pointer; HotTrackStyles add the hand pointer and underlines.
  bool GetHotTrack() const { return hotTrack_; }
  void SetHotTrack(bool v);
  THotTrackStyles GetHotTrackStyles() const { return hotTrackStyles_; }
  void SetHotTrackStyles(THotTrackStyles v);
  // Milliseconds the pointer rests before a hot-tracked item is selected; -1: the system's time.
  int GetHoverTime() const;
  void SetHoverTime(int v);
  // Columns can be reordered by dragging their headers.
  bool GetFullDrag() const { return fullDrag_; }
  void SetFullDrag(bool v);
  // Scroll bars drawn flat (where the system draws flat scroll bars).
  bool GetFlatScrollBars() const { return flatScrollBars_; }
  void SetFlatScrollBars(bool v);
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle v);
  TWorkAreas* GetWorkAreas() const { return workAreas_; }
  bool GetShowWorkAreas() const { return showWorkAreas_; }
  void SetShowWorkAreas(bool v);
  void WorkAreasChanged();

  // Native side, used by the items and columns.
  void ItemInserted(TListItem* item, int index);
  void ItemDeleted(int index);
  void ColumnsChanged();

 protected:
  TClass GetActionLinkClass() override;
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& m) override;
  // Answers an LVN_GETDISPINFOA request: in owner-data mode the temporary item is fetched for the row
  // first (whatever the mask asks); the text (caption or sub-item) and image come from the item.
  virtual void GetDispInfo(NMLVDISPINFOA& info);
  virtual void Change(TListItem* item, TItemChange change);
  // Makes one item of the class OnCreateItemClass picks (TListItem by default); EInvalidOperation
  // when that class is no TListItem.
  virtual TListItem* CreateListItem();
  // The item collection the view keeps (descendants return their own collection class).
  virtual TListItems* CreateListItems();
  // Owner data: fills `item` for the row it stands for through OnData; false without a handler.
  virtual bool OwnerDataFetch(TListItem* item, unsigned request);
  // Owner data: the row OnDataFind names, -1 without a handler.
  virtual int OwnerDataFind(TItemFind find, const std::string& findString, const POINT& findPosition, void* findData,
                            int startIndex, TSearchDirection direction, bool wrap);
  // The user may start editing the caption of `item` (fires OnEditing).
  virtual bool CanEdit(TListItem* item);
  // A header notification (HDN_TRACK as the control forwards it while a divider is dragged,
  // HDN_ENDTRACK and HDN_DIVIDERDBLCLICK from the header, 8-bit or wide): the column keeps the width
  // the user gave it, so that the width survives a re-creation of the window.
  virtual void HeaderNotify(NMHEADERA& header);
  // Paints a row of an owner-drawn view; the default fills the rectangle and writes the caption.
  virtual void DrawItem(TListItem* item, const RECT& r, unsigned state);
  // The temporary item of owner-data mode.
  TListItem* TempItem() const { return tempItem_; }
  DWORD ListViewExStyle() const;
  // Puts another column collection (of the descendant's column class) in place of the current one.
  void ReplaceColumns(TListColumns* columns);
  void Notification(TComponent* c, TOperation op) override;
  // Answers NM_CUSTOMDRAW (the CDRF_ result).
  virtual LRESULT CustomDraw(NMLVCUSTOMDRAW& cd);
  virtual void Delete(TListItem* item);
  virtual void InsertItem(TListItem* item);
  friend class TListItems;
  friend class TListItem;

 private:
  static int CALLBACK DefaultCompare(LPARAM item1, LPARAM item2, LPARAM data);
  void InsertAllItems();
  // Reads the control's item order back after a sort.
  void ReadItemOrder();
  TListItem* FetchTempItem(int index, unsigned request);
  TListItem* ItemOfRecord(const LVITEMA& item);
  void SetImageList(TCustomImageList*& field, TCustomImageList* v, int kind);
  void ApplyExStyle();
  // Runs a custom-draw handler on the Canvas over `dc`; then gives the text colours and font it left
  // to `cd` and returns the CDRF_ bits for them.
  // Sub-items start from what their item's handler left on the Canvas.
  enum class TDrawStart { View, Item };
  LRESULT RunCustomDraw(NMLVCUSTOMDRAW& cd, bool itemColours, const std::function<void()>& handler,
                        TDrawStart start = TDrawStart::View);
  void PaintWorkAreas(HDC dc);
  TCustomImageList* smallImages_ = nullptr;
  TCustomImageList* largeImages_ = nullptr;
  TCustomImageList* stateImages_ = nullptr;
  TIconOptions* iconOptions_;
  TWorkAreas* workAreas_;
  std::vector<TFont*> drawFonts_;  // fonts handed to the control during one paint
  TFont* itemFont_;                // the Canvas font the current item's handler left
  TColor itemBrush_ = clWindow;
  int allocBy_ = 0;
  int hoverTime_ = -1;
  THotTrackStyles hotTrackStyles_ = 0;
  bool hotTrack_ = false, fullDrag_ = false, showWorkAreas_ = false, flatScrollBars_ = false;
  TBorderStyle borderStyle_ = bsSingleBorder;
  TListColumns* columns_ = nullptr;
  TListItems* items_ = nullptr;
  TListItem* tempItem_ = nullptr;
  TCanvas* canvas_;
  int tempIndex_ = -1;
  int ownerDataCount_ = 0;
  TViewStyle viewStyle_ = vsIcon;
  TSortType sortType_ = stNone;
  bool rowSelect_ = false, readOnly_ = false, hideSelection_ = true, gridLines_ = false, multiSelect_ = false;
  bool showColumnHeaders_ = true, columnClick_ = true, checkboxes_ = false, ownerData_ = false, ownerDraw_ = false;
  bool filling_ = false;
  bool sorting_ = false;
  std::exception_ptr sortError_;
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
