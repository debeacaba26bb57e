// Wide (UTF-16) common controls: the list view with wide item, sub-item and column texts, the
// progress bar and the up-down control.
//
// The library's list view keeps an 8-bit copy of every text and gives the native control its texts
// as callbacks. The wide classes keep a second, wide copy beside it: the wide copy wins while its
// ANSI form still equals the 8-bit copy; a change through the wide objects is applied to the 8-bit
// copy as well. The view's window is Unicode and sends its notifications in their wide form, which
// the view answers from the wide copies.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "VelActnList.h"

#include "VelClasses.h"
#include "uicomctrls.h"

class TVelCustomListView;
class TVelListItem;

class TVelListColumn : public ui::TListColumn {
  UI_DECLARE_CLASS(TVelListColumn, ui::TListColumn)
 public:
  std::wstring GetCaptionText() const;
  void SetCaptionText(const std::wstring& value);
  void Assign(ui::TPersistent* source) override;

 private:
  mutable std::wstring caption_;
};

class TVelListColumns : public ui::TListColumns {
  UI_DECLARE_CLASS(TVelListColumns, ui::TListColumns)
 public:
  explicit TVelListColumns(TVelCustomListView* owner);
  TVelListColumn* Add() { return static_cast<TVelListColumn*>(TCollection::Add()); }
  TVelListColumn* Items(int i) const { return static_cast<TVelListColumn*>(TCollection::Items(i)); }
};

// The wide sub-items of an item. Every change is made in the wide list and in the item's 8-bit
// sub-items as well. Objects live in the 8-bit list only.
class TWideSubItems : public TVelStringList {
  UI_DECLARE_CLASS(TWideSubItems, TVelStringList)
 public:
  explicit TWideSubItems(TVelListItem* owner) : owner_(owner) {}
  ui::TObject* GetObjectAt(int index) const override;
  void SetObjectAt(int index, ui::TObject* object) override;
  void SetItemAt(int index, const std::wstring& s) override;
  int AddWithObject(const std::wstring& s, ui::TObject* object) override;
  void InsertWithObject(int index, const std::wstring& s, ui::TObject* object) override;
  void Clear() override;
  void Delete(int index) override;
  void SetUpdatingFlag(bool updating) override;

 private:
  ui::TStrings* Base() const;
  TVelListItem* owner_;
};

class TVelListItem : public ui::TListItem {
  UI_DECLARE_CLASS(TVelListItem, ui::TListItem)
 public:
  TVelListItem();
  ~TVelListItem() override;
  std::wstring GetCaption() const;
  using ui::TListItem::SetCaption;
  void SetCaption(const std::wstring& value);
  // The wide sub-items; entry 0 is the second column's text.
  TVelStrings* SubItems();
  void SetSubItems(TVelStrings* value);
  TVelCustomListView* ListView() const;
  void Assign(ui::TPersistent* source) override;

 private:
  friend class TVelCustomListView;
  // Takes the 8-bit sub-items (widened) where the wide ones no longer match them.
  void SyncSubItemsFromBase();
  mutable std::wstring caption_;
  TWideSubItems* subItems_;
};

// Editing of an item's caption in place ended with S; the handler may change S.
using TVelLVEditedEvent = ui::TEvent<void(ui::TObject* Sender, TVelListItem* Item, std::wstring& S)>;
// Owner data: the row that matches FindString (or FindData, FindPosition); Index starts at -1.
using TVelLVOwnerDataFindEvent =
    ui::TEvent<void(ui::TObject* Sender, ui::TItemFind Find, const std::wstring& FindString, const POINT& FindPosition,
                    void* FindData, int StartIndex, ui::TSearchDirection Direction, bool Wrap, int& Index)>;

class TVelListItems : public ui::TListItems {
  UI_DECLARE_CLASS(TVelListItems, ui::TListItems)
 public:
  explicit TVelListItems(TVelCustomListView* owner);
  TVelListItem* Add() { return static_cast<TVelListItem*>(TListItems::Add()); }
  TVelListItem* Item(int i) const { return static_cast<TVelListItem*>(TListItems::Item(i)); }
  TVelListItem* operator[](int i) const { return Item(i); }
};

// Offered by list controls that take an item with a wide caption (see WideListControlAddItem).
class IWideCustomListControl {
 public:
  virtual void WideAddItem(const std::wstring& item, ui::TObject* obj) = 0;

 protected:
  ~IWideCustomListControl() = default;
};

// Adds an item to `control`: with its wide caption when the control takes one, else in 8 bits.
void WideListControlAddItem(ui::TCustomListControl* control, const std::wstring& item, ui::TObject* obj);

class TVelCustomListView : public ui::TCustomListView, public IWideCustomListControl {
  UI_DECLARE_CLASS(TVelCustomListView, ui::TCustomListView)
 public:
  TVelCustomListView();
  ~TVelCustomListView() override;
  TVelListColumns* GetColumns() const { return static_cast<TVelListColumns*>(inherited::GetColumns()); }
  TVelListItems* GetItems() const { return static_cast<TVelListItems*>(inherited::GetItems()); }
  TVelListItem* Item(int index) const { return GetItems()->Item(index); }
  using ui::TCustomListView::AddItem;
  TVelListItem* AddItem() { return GetItems()->Add(); }
  // A new item with the wide caption `item` and `obj` as Data.
  void WideAddItem(const std::wstring& item, ui::TObject* obj) override;
  // Every selected item, in order, goes to `destination` with its wide caption and Data.
  void CopySelection(ui::TCustomListControl* destination) override;
  // The first selected item, or null.
  TVelListItem* GetSelected() const { return static_cast<TVelListItem*>(inherited::GetSelected()); }
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

  // While above 0 a change made through the wide objects is being applied to the 8-bit ones, and
  // the wide copies are not brought in step from the 8-bit side.
  void BeginWideItemChange() { ++wideChangeCount_; }
  void EndWideItemChange() {
    if (wideChangeCount_ > 0) --wideChangeCount_;
  }
  int WideChangeCount() const { return wideChangeCount_; }

  // Wide editing of captions in place; without it the library's 8-bit OnEdited sees the text.
  TVelLVEditedEvent OnEdited;
  // Owner-data search with the wide text; without it the library's 8-bit OnDataFind is asked.
  TVelLVOwnerDataFindEvent OnDataFind;

  void WndProc(ui::TMessage& m) override;
  // The item class is TVelListItem unless OnCreateItemClass picks a descendant of it; any other
  // class raises EVelInternalError.
  ui::TListItem* CreateListItem() override;
  // The first item the view made (the library's temporary item of owner-data mode).
  TVelListItem* TemporaryItem() const { return temporaryItem_; }

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;
  ui::TListItems* CreateListItems() override;
  bool OwnerDataFetch(ui::TListItem* item, unsigned request) override;
  int OwnerDataFind(ui::TItemFind find, const std::string& findString, const POINT& findPosition, void* findData,
                    int startIndex, ui::TSearchDirection direction, bool wrap) override;
  // An owner-drawn row without OnDrawItem: the rectangle filled and the wide caption written.
  void DrawItem(ui::TListItem* item, const RECT& r, unsigned state) override;
  // The row the wide OnDataFind names, else the 8-bit one (with the text in 8 bits); -1 without either.
  virtual int WideDataFind(ui::TItemFind find, const std::wstring& findString, const POINT& findPosition,
                           void* findData, int startIndex, ui::TSearchDirection direction, bool wrap);

 private:
  static int CALLBACK WideDefaultCompare(LPARAM item1, LPARAM item2, LPARAM data);
  TVelListItem* ItemOfRecord(const LVITEMW& item) const;
  void WideDisplayInfo(ui::TMessage& m);
  void WideFindItem(ui::TMessage& m);
  void WideInfoTip(ui::TMessage& m);
  // The header's wide notifications that the library knows only in their 8-bit form; true: handled.
  bool WideHeaderNotify(ui::TMessage& m);
  void BeginLabelEdit(ui::TMessage& m);
  void EndLabelEdit(const NMLVDISPINFOW& info);
  // The window procedure put on the control's in-place edit window while a caption is edited.
  void EditWndProc(ui::TMessage& m);
  WNDPROC editTrampoline_ = nullptr;
  HWND editWindow_ = nullptr;
  WNDPROC previousEditProc_ = nullptr;
  // The wide text of an owner-data search while the library answers it in 8 bits.
  const wchar_t* pendingFindString_ = nullptr;
  int wideChangeCount_ = 0;
  bool testingSort_ = false;
  TVelListItem* temporaryItem_ = nullptr;

  VEL_WIDE_CONTROL_PATTERN
};

class TVelListView : public TVelCustomListView {
  UI_DECLARE_CLASS(TVelListView, TVelCustomListView)
};

class TVelProgressBar : public ui::TProgressBar {
  UI_DECLARE_CLASS(TVelProgressBar, ui::TProgressBar)
 public:
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;

  VEL_WIDE_CONTROL_PATTERN
};

class TVelCustomUpDown : public ui::TCustomUpDown {
  UI_DECLARE_CLASS(TVelCustomUpDown, ui::TCustomUpDown)
 public:
  std::wstring GetHintText() const;
  void SetHintText(const std::wstring& value);

 protected:
  void CreateWindowHandle(const ui::TCreateParams& params) override;

  VEL_WIDE_CONTROL_PATTERN
};

class TVelUpDown : public TVelCustomUpDown {
  UI_DECLARE_CLASS(TVelUpDown, TVelCustomUpDown)
};
