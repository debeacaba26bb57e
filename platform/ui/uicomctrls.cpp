#include "uicomctrls.h"

#include <algorithm>

#include "uiactions.h"
#include "uifiler.h"

namespace ui {

static std::vector<TPropInfo> ColumnProps() {
  using T = TListColumn;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Int("Width", &T::GetWidth, &T::SetWidth, true, 50),
          prop::Enum("Alignment", &T::GetAlignment, &T::SetAlignment, {"taLeftJustify", "taRightJustify", "taCenter"}, true,
                     taLeftJustify)};
}
static std::vector<TPropInfo> ListViewProps() {
  using T = TCustomListView;
  return {prop::Object<T, TListColumns>("Columns", &T::GetColumns, nullptr),
          prop::Object<T, TListItems>("Items", &T::GetItems, nullptr),
          prop::Enum("ViewStyle", &T::GetViewStyle, &T::SetViewStyle, {"vsIcon", "vsSmallIcon", "vsList", "vsReport"}, true,
                     vsIcon),
          prop::Bool("RowSelect", &T::GetRowSelect, &T::SetRowSelect, false),
          prop::Bool("ReadOnly", &T::GetReadOnly, &T::SetReadOnly, false),
          prop::Bool("HideSelection", &T::GetHideSelection, &T::SetHideSelection, true),
          prop::Bool("GridLines", &T::GetGridLines, &T::SetGridLines, false),
          prop::Bool("MultiSelect", &T::GetMultiSelect, &T::SetMultiSelect, false),
          prop::Bool("ShowColumnHeaders", &T::GetShowColumnHeaders, &T::SetShowColumnHeaders, true),
          prop::Bool("ColumnClick", &T::GetColumnClick, &T::SetColumnClick, true),
          prop::Bool("Checkboxes", &T::GetCheckboxes, &T::SetCheckboxes, false),
          prop::Bool("OwnerData", &T::GetOwnerData, &T::SetOwnerData, false),
          prop::Bool("OwnerDraw", &T::GetOwnerDraw, &T::SetOwnerDraw, false),
          prop::Enum("SortType", &T::GetSortType, &T::SetSortType, {"stNone", "stData", "stText", "stBoth"}, true, stNone),
          prop::Event("OnChange", &T::OnChange),
          prop::Event("OnSelectItem", &T::OnSelectItem),
          prop::Event("OnCompare", &T::OnCompare),
          prop::Event("OnEditing", &T::OnEditing),
          prop::Event("OnEdited", &T::OnEdited),
          prop::Event("OnData", &T::OnData),
          prop::Event("OnDataFind", &T::OnDataFind),
          prop::Event("OnDrawItem", &T::OnDrawItem),
          prop::Event("OnCreateItemClass", &T::OnCreateItemClass),
          prop::Event("OnInfoTip", &T::OnInfoTip),
          prop::Object<T, TCustomImageList>("SmallImages", &T::GetSmallImages, &T::SetSmallImages),
          prop::Object<T, TCustomImageList>("LargeImages", &T::GetLargeImages, &T::SetLargeImages),
          prop::Object<T, TCustomImageList>("StateImages", &T::GetStateImages, &T::SetStateImages),
          prop::Object<T, TIconOptions>("IconOptions", &T::GetIconOptions, nullptr),
          prop::Int("AllocBy", &T::GetAllocBy, &T::SetAllocBy, true, 0),
          prop::Bool("HotTrack", &T::GetHotTrack, &T::SetHotTrack, false),
          prop::Set("HotTrackStyles", &T::GetHotTrackStyles, &T::SetHotTrackStyles,
                    {"htHandPoint", "htUnderlineCold", "htUnderlineHot"}, true, 0u),
          prop::Int("HoverTime", &T::GetHoverTime, &T::SetHoverTime, true, -1),
          prop::Bool("FullDrag", &T::GetFullDrag, &T::SetFullDrag, false),
          prop::Bool("FlatScrollBars", &T::GetFlatScrollBars, &T::SetFlatScrollBars, false),
          prop::Enum("BorderStyle", &T::GetBorderStyle, &T::SetBorderStyle, {"bsNone", "bsSingle"}, true, bsSingleBorder),
          prop::Event("OnChanging", &T::OnChanging),
          prop::Bool("ShowWorkAreas", &T::GetShowWorkAreas, &T::SetShowWorkAreas, false),
          prop::Event("OnCustomDraw", &T::OnCustomDraw),
          prop::Event("OnCustomDrawItem", &T::OnCustomDrawItem),
          prop::Event("OnCustomDrawSubItem", &T::OnCustomDrawSubItem),
          prop::Event("OnAdvancedCustomDraw", &T::OnAdvancedCustomDraw),
          prop::Event("OnAdvancedCustomDrawItem", &T::OnAdvancedCustomDrawItem),
          prop::Event("OnAdvancedCustomDrawSubItem", &T::OnAdvancedCustomDrawSubItem),
          prop::Event("OnColumnClick", &T::OnColumnClick),
          prop::Event("OnColumnRightClick", &T::OnColumnRightClick),
          prop::Event("OnColumnDragged", &T::OnColumnDragged),
          prop::Event("OnDataHint", &T::OnDataHint),
          prop::Event("OnDataStateChange", &T::OnDataStateChange),
          prop::Event("OnDeletion", &T::OnDeletion),
          prop::Event("OnInsert", &T::OnInsert),
          prop::Event("OnGetImageIndex", &T::OnGetImageIndex),
          prop::Event("OnGetSubItemImage", &T::OnGetSubItemImage)};
}
static std::vector<TPropInfo> IconOptionsProps() {
  using T = TIconOptions;
  return {prop::Enum("Arrangement", &T::GetArrangement, &T::SetArrangement, {"iaTop", "iaLeft"}, true, iaTop),
          prop::Bool("AutoArrange", &T::GetAutoArrange, &T::SetAutoArrange, false),
          prop::Bool("WrapText", &T::GetWrapText, &T::SetWrapText, true)};
}
static std::vector<TPropInfo> ProgressProps() {
  using T = TProgressBar;
  return {prop::Int("Min", &T::GetMin, &T::SetMin, true, 0),
          prop::Int("Max", &T::GetMax, &T::SetMax, true, 100),
          prop::Int("Position", &T::GetPosition, &T::SetPosition, true, 0),
          prop::Int("Step", &T::GetStep, &T::SetStep, true, 10),
          prop::Bool("Smooth", &T::GetSmooth, &T::SetSmooth, false),
          prop::Enum("Orientation", &T::GetOrientation, &T::SetOrientation, {"pbHorizontal", "pbVertical"}, true,
                     pbHorizontal)};
}
static std::vector<TPropInfo> UpDownProps() {
  using T = TCustomUpDown;
  return {prop::Object<T, TWinControl>("Associate", &T::GetAssociate, &T::SetAssociate),
          prop::Int("Min", &T::GetMin, &T::SetMin, true, 0),
          prop::Int("Max", &T::GetMax, &T::SetMax, true, 100),
          prop::Int("Position", &T::GetPosition, &T::SetPosition, true, 0),
          prop::Int("Increment", &T::GetIncrement, &T::SetIncrement, true, 1),
          prop::Bool("Wrap", &T::GetWrap, &T::SetWrap, false),
          prop::Bool("Thousands", &T::GetThousands, &T::SetThousands, true),
          prop::Bool("ArrowKeys", &T::GetArrowKeys, &T::SetArrowKeys, true),
          prop::Enum("Orientation", &T::GetOrientation, &T::SetOrientation, {"udHorizontal", "udVertical"}, true, udVertical),
          prop::Enum("AlignButton", &T::GetAlignButton, &T::SetAlignButton, {"udLeft", "udRight"}, true, udRight),
          prop::Event("OnClick", &T::OnClick),
          prop::Event("OnChanging", &T::OnChanging),
          prop::Event("OnChangingEx", &T::OnChangingEx)};
}

UI_IMPLEMENT_CLASS(TListColumn, TCollectionItem, DefaultFactory<TListColumn>, ColumnProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TListColumns, TCollection, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TListItem, TPersistent, DefaultFactory<TListItem>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TListItems, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomListView, TCustomListControl, nullptr, ListViewProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TIconOptions, TPersistent, nullptr, IconOptionsProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWorkArea, TCollectionItem, DefaultFactory<TWorkArea>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWorkAreas, TCollection, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TListView, TCustomListView, DefaultFactory<TListView>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TProgressBar, TWinControl, DefaultFactory<TProgressBar>, ProgressProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomUpDown, TWinControl, nullptr, UpDownProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TUpDown, TCustomUpDown, DefaultFactory<TUpDown>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TListView::StaticClassInfo, &TProgressBar::StaticClassInfo, &TUpDown::StaticClassInfo});
  }
} registered;
}  // namespace

// ---- columns ----

void TListColumn::SetCaption(const std::string& s) {
  if (s == caption_) return;
  caption_ = s;
  Changed(false);
}

int TListColumn::GetWidth() const {
  auto* cols = static_cast<TListColumns*>(Collection());
  if (cols && cols->Owner() && cols->Owner()->HandleAllocated()) {
    int w = static_cast<int>(SendMessageA(cols->Owner()->GetHandle(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(GetIndex()), 0));
    if (w > 0) return w;
  }
  return width_;
}

void TListColumn::SetWidth(int w) {
  if (w == width_) return;
  width_ = w;
  Changed(false);
}

void TListColumn::SetAlignment(TAlignment a) {
  if (a == alignment_) return;
  alignment_ = a;
  Changed(false);
}

void TListColumn::Assign(TPersistent* source) {
  if (auto* c = As<TListColumn>(source)) {
    caption_ = c->caption_;
    width_ = c->width_;
    alignment_ = c->alignment_;
    Changed(false);
    return;
  }
  TCollectionItem::Assign(source);
}

TListColumns::TListColumns(TCustomListView* owner, TClass itemClass) : TCollection(itemClass, owner), view_(owner) {}

void TListColumns::Update(TCollectionItem*) {
  if (view_) view_->ColumnsChanged();
}

// ---- items ----

TListItem::TListItem(TListItems* owner) : owner_(owner), subItems_(new TStringList) {
  subItems_->OnChange = TNotifyEvent(this, &TListItem::SubItemsChanged);
}

TListItem::~TListItem() { delete subItems_; }

TCustomListView* TListItem::ListView() const { return owner_ ? owner_->view_ : nullptr; }

int TListItem::Index() const {
  TCustomListView* v = ListView();
  if (v && this == v->tempItem_) return v->tempIndex_;
  return owner_ ? owner_->IndexOf(this) : -1;
}

void TListItem::AnnounceText(int subItem) {
  TCustomListView* v = ListView();
  int i = Index();
  if (!v || !v->HandleAllocated() || i < 0) return;
  LVITEMA it{};
  it.iSubItem = subItem;
  it.pszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(v->GetHandle(), LVM_SETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&it));
  if (subItem > 0 && v->OnGetSubItemImage) {
    // The sub-item's image comes from OnGetSubItemImage, asked through LVN_GETDISPINFO.
    LVITEMA image{};
    image.mask = LVIF_IMAGE;
    image.iItem = i;
    image.iSubItem = subItem;
    image.iImage = I_IMAGECALLBACK;
    SendMessageA(v->GetHandle(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&image));
  }
}

void TListItem::SetCaption(const std::string& s) {
  if (s == caption_) return;
  caption_ = s;
  AnnounceText(0);
  TCustomListView* v = ListView();
  if (!v || this == v->tempItem_) return;
  v->Change(this, ctText);
  if (v->sortType_ != stNone && !v->InState(csLoading) && v->HandleAllocated()) v->AlphaSort();
}

void TListItem::SubItemsChanged(TObject*) {
  for (int k = 0; k < subItems_->GetCount(); ++k) AnnounceText(k + 1);
  TCustomListView* v = ListView();
  if (v && this != v->tempItem_) Update();  // and removed sub-items are gone
}

void TListItem::SetImageIndex(int i) {
  if (i == imageIndex_) return;
  imageIndex_ = i;
  Update();
}

void TListItem::SetIndent(int i) {
  if (i == indent_) return;
  indent_ = i;
  ApplyAttributes();
}

void TListItem::SetOverlayIndex(int i) {
  if (i == overlayIndex_) return;
  overlayIndex_ = i;
  ApplyAttributes();
}

void TListItem::SetStateIndex(int i) {
  if (i == stateIndex_) return;
  stateIndex_ = i;
  ApplyAttributes();
}

void TListItem::ApplyAttributes() {
  TCustomListView* v = ListView();
  int i = Index();
  if (!v || !v->HandleAllocated() || i < 0 || this == v->tempItem_) return;
  LVITEMA it{};
  it.mask = LVIF_INDENT | LVIF_STATE;
  it.iItem = i;
  it.iIndent = indent_;
  it.stateMask = LVIS_OVERLAYMASK | LVIS_STATEIMAGEMASK;
  it.state = INDEXTOOVERLAYMASK(overlayIndex_ + 1);
  // A check box is state image 1 (clear) or 2 (checked); otherwise the state image is StateIndex + 1.
  it.state |= v->checkboxes_ ? INDEXTOSTATEIMAGEMASK(checked_ ? 2 : 1) : INDEXTOSTATEIMAGEMASK(stateIndex_ + 1);
  SendMessageA(v->GetHandle(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

bool TListItem::GetChecked() const {
  TCustomListView* v = ListView();
  int i = Index();
  if (v && v->checkboxes_ && v->HandleAllocated() && i >= 0) {
    auto state = static_cast<UINT>(SendMessageA(v->GetHandle(), LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK));
    checked_ = (state >> 12) == 2;
  }
  return checked_;
}

void TListItem::SetChecked(bool on) {
  checked_ = on;
  TCustomListView* v = ListView();
  int i = Index();
  if (!v || !v->checkboxes_ || !v->HandleAllocated() || i < 0) return;
  LVITEMA it{};
  it.stateMask = LVIS_STATEIMAGEMASK;
  it.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
  SendMessageA(v->GetHandle(), LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&it));
}

void TListItem::Update() {
  TCustomListView* v = ListView();
  int i = Index();
  if (v && v->HandleAllocated() && i >= 0) SendMessageA(v->GetHandle(), LVM_UPDATE, static_cast<WPARAM>(i), 0);
}

bool TListItem::GetSelected() const {
  TCustomListView* v = ListView();
  if (!v || !v->HandleAllocated()) return false;
  return SendMessageA(v->GetHandle(), LVM_GETITEMSTATE, static_cast<WPARAM>(Index()), LVIS_SELECTED) != 0;
}

void TListItem::SetSelected(bool on) {
  TCustomListView* v = ListView();
  if (!v || !v->HandleAllocated()) return;
  LVITEMA it{};
  it.stateMask = LVIS_SELECTED;
  it.state = on ? LVIS_SELECTED : 0;
  SendMessageA(v->GetHandle(), LVM_SETITEMSTATE, static_cast<WPARAM>(Index()), reinterpret_cast<LPARAM>(&it));
}

bool TListItem::GetFocused() const {
  TCustomListView* v = ListView();
  if (!v || !v->HandleAllocated()) return false;
  return SendMessageA(v->GetHandle(), LVM_GETITEMSTATE, static_cast<WPARAM>(Index()), LVIS_FOCUSED) != 0;
}

void TListItem::SetFocused(bool on) {
  TCustomListView* v = ListView();
  if (!v || !v->HandleAllocated()) return;
  LVITEMA it{};
  it.stateMask = LVIS_FOCUSED;
  it.state = on ? LVIS_FOCUSED : 0;
  SendMessageA(v->GetHandle(), LVM_SETITEMSTATE, static_cast<WPARAM>(Index()), reinterpret_cast<LPARAM>(&it));
}

void TListItem::Delete() {
  if (owner_) owner_->Delete(Index());
}

void TListItem::Assign(TPersistent* source) {
  if (auto* s = As<TListItem>(source)) {
    SetCaption(s->caption_);
    Data = s->Data;
    SetImageIndex(s->imageIndex_);
    SetIndent(s->indent_);
    SetOverlayIndex(s->overlayIndex_);
    SetStateIndex(s->stateIndex_);
    subItems_->Assign(s->subItems_);
    SetChecked(s->GetChecked());
    return;
  }
  TPersistent::Assign(source);
}

TListItems::~TListItems() {
  for (TListItem* i : items_) {
    i->owner_ = nullptr;
    delete i;
  }
}

int TListItems::Count() const {
  if (view_ && view_->ownerData_) return view_->ownerDataCount_;
  return static_cast<int>(items_.size());
}

void TListItems::SetCount(int n) {
  if (!view_ || !view_->ownerData_) throw EInvalidOperation("Only a list view in owner-data mode takes an item count");
  view_->ownerDataCount_ = std::max(0, n);
  if (view_->HandleAllocated()) SendMessageA(view_->GetHandle(), LVM_SETITEMCOUNT, static_cast<WPARAM>(view_->ownerDataCount_), 0);
}

TListItem* TListItems::Item(int i) const {
  if (i < 0 || i >= Count()) throw EListError(Format(SListIndexError, i));
  if (view_ && view_->ownerData_) return view_->FetchTempItem(i, irText | irImage);
  return items_[static_cast<size_t>(i)];
}

int TListItems::IndexOf(const TListItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TListItem* TListItems::Add() { return Insert(static_cast<int>(items_.size())); }

TListItem* TListItems::Insert(int index) {
  if (view_ && view_->ownerData_) throw EInvalidOperation("A list view in owner-data mode holds no items");
  if (index < 0 || index > static_cast<int>(items_.size())) throw EListError(Format(SListIndexError, index));
  TListItem* item = view_ ? view_->CreateListItem() : new TListItem(this);
  item->owner_ = this;
  items_.insert(items_.begin() + index, item);
  if (view_) {
    view_->ItemInserted(item, index);
    view_->InsertItem(item);
  }
  return item;
}

void TListItems::Delete(int index) {
  if (view_ && view_->ownerData_) throw EInvalidOperation("A list view in owner-data mode holds no items");
  TListItem* item = Item(index);
  if (view_) view_->Delete(item);
  items_.erase(items_.begin() + index);
  if (view_) view_->ItemDeleted(index);
  item->owner_ = nullptr;
  delete item;
}

void TListItems::Clear() {
  BeginUpdate();
  while (!items_.empty()) Delete(static_cast<int>(items_.size()) - 1);
  EndUpdate();
}

void TListItems::BeginUpdate() {
  if (updateCount_++ == 0 && view_ && view_->HandleAllocated()) SendMessageA(view_->GetHandle(), WM_SETREDRAW, FALSE, 0);
}

void TListItems::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0 && view_ && view_->HandleAllocated()) {
    SendMessageA(view_->GetHandle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view_->GetHandle(), nullptr, TRUE);
  }
}

void TListItems::Assign(TPersistent* source) {
  if (auto* s = As<TListItems>(source)) {
    BeginUpdate();
    Clear();
    for (TListItem* i : s->items_) Add()->Assign(i);
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

void TListItems::DefineProperties(TFiler* filer) {
  TPersistent::DefineProperties(filer);
  filer->DefineProperty(
      "Data",
      [this](TReader* r) {
        BeginUpdate();
        try {
          Clear();
          r->ReadListBegin();
          while (!r->EndOfList()) {
            TListItem* item = Add();
            r->ReadListBegin();
            item->SetCaption(r->ReadString());
            while (!r->EndOfList()) item->SubItems()->Add(r->ReadString());
            r->ReadListEnd();
          }
          r->ReadListEnd();
        } catch (...) {
          EndUpdate();
          throw;
        }
        EndUpdate();
      },
      [this](TWriter* w) {
        w->WriteListBegin();
        for (TListItem* i : items_) {
          w->WriteListBegin();
          w->WriteString(i->GetCaption());
          for (int k = 0; k < i->SubItems()->Count(); ++k) w->WriteString(i->SubItems()->Get(k));
          w->WriteListEnd();
        }
        w->WriteListEnd();
      },
      !items_.empty());
}

// ---- TCustomListView ----

TCustomListView::TCustomListView()
    : iconOptions_(new TIconOptions(this)),
      workAreas_(new TWorkAreas(this)),
      itemFont_(new TFont),
      columns_(new TListColumns(this)),
      canvas_(new TCanvas) {
  width_ = 250;
  height_ = 150;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
  brush_->SetColor(color_);
}

void TCustomListView::Create(TComponent* owner) {
  TCustomListControl::Create(owner);
  items_ = CreateListItems();
  tempItem_ = CreateListItem();
}

TCustomListView::~TCustomListView() {
  delete tempItem_;
  delete items_;
  delete columns_;
  delete canvas_;
  delete iconOptions_;
  delete workAreas_;
  delete itemFont_;
  for (TFont* f : drawFonts_) delete f;
}

void TCustomListView::ReplaceColumns(TListColumns* columns) {
  if (!columns || columns == columns_) return;
  delete columns_;
  columns_ = columns;
  ColumnsChanged();
}

TListItems* TCustomListView::CreateListItems() { return new TListItems(this); }

TListItem* TCustomListView::CreateListItem() {
  TClass cls = &TListItem::StaticClassInfo;
  if (OnCreateItemClass) OnCreateItemClass(this, cls);
  if (!cls || !cls->Factory || !cls->InheritsFrom(&TListItem::StaticClassInfo))
    throw EInvalidOperation("OnCreateItemClass.ItemClass must inherit from TListItem");
  auto* item = static_cast<TListItem*>(cls->Factory());
  item->owner_ = items_;
  return item;
}

TClass TCustomListView::GetActionLinkClass() { return &TListViewActionLink::StaticClassInfo; }

void TCustomListView::CreateParams(TCreateParams& p) {
  TCustomListControl::CreateParams(p);
  CreateSubClass(p, WC_LISTVIEWA);
  static const DWORD kStyle[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
  p.Style |= kStyle[viewStyle_] | LVS_SHAREIMAGELISTS | WS_CLIPCHILDREN;
  if (!readOnly_) p.Style |= LVS_EDITLABELS;
  if (!hideSelection_) p.Style |= LVS_SHOWSELALWAYS;
  if (!multiSelect_) p.Style |= LVS_SINGLESEL;
  if (!showColumnHeaders_) p.Style |= LVS_NOCOLUMNHEADER;
  if (!columnClick_) p.Style |= LVS_NOSORTHEADER;
  if (ownerData_) p.Style |= LVS_OWNERDATA;
  if (ownerDraw_ && viewStyle_ == vsReport) p.Style |= LVS_OWNERDRAWFIXED;
  if (iconOptions_->GetArrangement() == iaLeft) p.Style |= LVS_ALIGNLEFT;
  if (iconOptions_->GetAutoArrange()) p.Style |= LVS_AUTOARRANGE;
  if (!iconOptions_->GetWrapText()) p.Style |= LVS_NOLABELWRAP;
  if (borderStyle_ == bsSingleBorder) {
    if (ctl3D_)
      p.ExStyle |= WS_EX_CLIENTEDGE;
    else
      p.Style |= WS_BORDER;
  }
}

DWORD TCustomListView::ListViewExStyle() const {
  return (rowSelect_ ? LVS_EX_FULLROWSELECT : 0) | (gridLines_ ? LVS_EX_GRIDLINES : 0) |
         (checkboxes_ ? LVS_EX_CHECKBOXES : 0) | (hotTrack_ ? LVS_EX_TRACKSELECT : 0) |
         ((hotTrackStyles_ & (1u << htHandPoint)) ? LVS_EX_ONECLICKACTIVATE : 0) |
         ((hotTrackStyles_ & (1u << htUnderlineCold)) ? LVS_EX_UNDERLINECOLD : 0) |
         ((hotTrackStyles_ & (1u << htUnderlineHot)) ? LVS_EX_UNDERLINEHOT : 0) |
         (fullDrag_ ? LVS_EX_HEADERDRAGDROP : 0) | (OnGetSubItemImage ? LVS_EX_SUBITEMIMAGES : 0) |
         (flatScrollBars_ ? LVS_EX_FLATSB : 0);
}

namespace {
// The extended styles the view's properties decide.
constexpr DWORD kViewExStyles = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_TRACKSELECT |
                                LVS_EX_ONECLICKACTIVATE | LVS_EX_UNDERLINECOLD | LVS_EX_UNDERLINEHOT |
                                LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES | LVS_EX_FLATSB;
// Posted to the view when a header drag ended: the new column order is in place by then.
constexpr UINT CM_COLUMNDRAGGED = CM_BASE + 90;
}  // namespace

void TCustomListView::ApplyExStyle() {
  if (handle_) SendMessageA(handle_, LVM_SETEXTENDEDLISTVIEWSTYLE, kViewExStyles, ListViewExStyle());
}

void TCustomListView::CreateWnd() {
  TCustomListControl::CreateWnd();
  ApplyExStyle();
  const std::pair<TCustomImageList*, int> lists[] = {
      {smallImages_, LVSIL_SMALL}, {largeImages_, LVSIL_NORMAL}, {stateImages_, LVSIL_STATE}};
  for (auto& l : lists)
    if (l.first) SendMessageA(handle_, LVM_SETIMAGELIST, static_cast<WPARAM>(l.second), reinterpret_cast<LPARAM>(l.first->GetHandle()));
  if (hoverTime_ != -1) SendMessageA(handle_, LVM_SETHOVERTIME, 0, hoverTime_);
  if (allocBy_ > 0 && !ownerData_) SendMessageA(handle_, LVM_SETITEMCOUNT, static_cast<WPARAM>(allocBy_), 0);
  WorkAreasChanged();
  SendMessageA(handle_, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(ColorToRGB(color_)));
  SendMessageA(handle_, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(ColorToRGB(color_)));
  ColumnsChanged();
  InsertAllItems();
  if (sortType_ != stNone && !ownerData_) AlphaSort();
}

void TCustomListView::DestroyWnd() {
  // The check marks live in the window: keep them for the next one.
  if (handle_ && checkboxes_ && !ownerData_)
    for (TListItem* i : items_->items_) i->GetChecked();
  TCustomListControl::DestroyWnd();
}

void TCustomListView::InsertAllItems() {
  filling_ = true;
  SendMessageA(handle_, LVM_DELETEALLITEMS, 0, 0);
  if (ownerData_) {
    SendMessageA(handle_, LVM_SETITEMCOUNT, static_cast<WPARAM>(ownerDataCount_), 0);
  } else {
    for (size_t i = 0; i < items_->items_.size(); ++i) ItemInserted(items_->items_[i], static_cast<int>(i));
  }
  filling_ = false;
}

void TCustomListView::ColumnsChanged() {
  if (!handle_) {
    for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->orderTag_ = -1;
    return;
  }
  // Columns are few: rebuild them all; the texts follow through LVM_SETCOLUMNA.
  while (SendMessageA(handle_, LVM_DELETECOLUMN, 0, 0)) {
  }
  static const int kFmt[] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_CENTER};
  for (int i = 0; i < columns_->Count(); ++i) {
    TListColumn* c = columns_->Items(i);
    LVCOLUMNA col{};
    col.mask = LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    col.fmt = kFmt[c->GetAlignment()];
    col.cx = c->width_;
    col.iSubItem = i;
    SendMessageA(handle_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col));
    c->orderTag_ = i;
  }
  for (int i = 0; i < columns_->Count(); ++i) {
    TListColumn* c = columns_->Items(i);
    std::string text = c->GetCaption();
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT;
    col.pszText = &text[0];
    SendMessageA(handle_, LVM_SETCOLUMNA, static_cast<WPARAM>(c->orderTag_), reinterpret_cast<LPARAM>(&col));
  }
}

void TCustomListView::ItemInserted(TListItem* item, int index) {
  if (!handle_) return;
  LVITEMA it{};
  it.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
  it.iItem = index;
  it.pszText = LPSTR_TEXTCALLBACKA;  // texts come from the items through LVN_GETDISPINFOA
  it.iImage = I_IMAGECALLBACK;
  it.lParam = reinterpret_cast<LPARAM>(item);
  bool was = filling_;
  filling_ = true;
  SendMessageA(handle_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
  item->AnnounceText(0);
  for (int k = 0; k < item->subItems_->GetCount(); ++k) item->AnnounceText(k + 1);
  item->ApplyAttributes();
  filling_ = was;
}

void TCustomListView::ItemDeleted(int index) {
  if (handle_) SendMessageA(handle_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

void TCustomListView::UpdateItems(int first, int last) {
  if (handle_) SendMessageA(handle_, LVM_REDRAWITEMS, static_cast<WPARAM>(first), last);
}

TListItem* TCustomListView::FetchTempItem(int index, unsigned request) {
  tempIndex_ = index;
  tempItem_->caption_.clear();
  TNotifyEvent keep = tempItem_->subItems_->OnChange;
  tempItem_->subItems_->OnChange = nullptr;
  tempItem_->subItems_->Clear();
  tempItem_->subItems_->OnChange = keep;
  OwnerDataFetch(tempItem_, request);
  return tempItem_;
}

TListItem* TCustomListView::ItemOfRecord(const LVITEMA& rec) {
  auto* byParam = reinterpret_cast<TListItem*>(rec.lParam);
  if (byParam && items_->IndexOf(byParam) >= 0) return byParam;
  if (ownerData_) return rec.iItem >= 0 && rec.iItem < ownerDataCount_ ? FetchTempItem(rec.iItem, irText) : nullptr;
  return rec.iItem >= 0 && rec.iItem < static_cast<int>(items_->items_.size()) ? items_->items_[static_cast<size_t>(rec.iItem)]
                                                                                : nullptr;
}

void TCustomListView::GetDispInfo(NMLVDISPINFOA& info) {
  TListItem* item;
  if (ownerData_) {
    if (info.item.iItem < 0 || info.item.iItem >= ownerDataCount_) return;
    unsigned request = ((info.item.mask & LVIF_TEXT) ? irText : 0) | ((info.item.mask & LVIF_IMAGE) ? irImage : 0) |
                       ((info.item.mask & LVIF_STATE) ? irState : 0) | ((info.item.mask & LVIF_INDENT) ? irIndent : 0);
    item = FetchTempItem(info.item.iItem, request);
  } else {
    item = ItemOfRecord(info.item);
  }
  if (!item) return;
  if (info.item.mask & LVIF_TEXT) {
    std::string text;
    int sub = info.item.iSubItem;
    if (sub == 0)
      text = item->GetCaption();
    else if (sub - 1 < item->SubItems()->Count())
      text = item->SubItems()->Get(sub - 1);
    if (info.item.pszText && info.item.cchTextMax > 0) lstrcpynA(info.item.pszText, text.c_str(), info.item.cchTextMax);
  }
  if (info.item.mask & LVIF_IMAGE) {
    if (info.item.iSubItem > 0) {
      int image = -1;
      if (OnGetSubItemImage) OnGetSubItemImage(this, item, info.item.iSubItem - 1, image);
      info.item.iImage = image;
    } else {
      if (OnGetImageIndex) OnGetImageIndex(this, item);
      info.item.iImage = item->GetImageIndex();
    }
  }
}

bool TCustomListView::OwnerDataFetch(TListItem* item, unsigned) {
  if (!OnData) return false;
  OnData(this, item);
  return true;
}

int TCustomListView::OwnerDataFind(TItemFind find, const std::string& findString, const POINT& findPosition,
                                   void* findData, int startIndex, TSearchDirection direction, bool wrap) {
  int index = -1;
  if (OnDataFind) OnDataFind(this, find, findString, findPosition, findData, startIndex, direction, wrap, index);
  return index;
}

bool TCustomListView::CanEdit(TListItem* item) {
  bool allow = true;
  if (OnEditing) OnEditing(this, item, allow);
  return allow;
}

void TCustomListView::DrawItem(TListItem* item, const RECT& r, unsigned state) {
  if (OnDrawItem) {
    OnDrawItem(this, item, r, state);
    return;
  }
  canvas_->FillRect(r);
  if (item) canvas_->TextOut(r.left + 2, r.top, item->GetCaption());
}

void TCustomListView::Change(TListItem* item, TItemChange change) {
  if (OnChange) OnChange(this, item, change);
}

int CALLBACK TCustomListView::DefaultCompare(LPARAM item1, LPARAM item2, LPARAM data) {
  auto* a = reinterpret_cast<TListItem*>(item1);
  auto* b = reinterpret_cast<TListItem*>(item2);
  TCustomListView* v = a ? a->ListView() : nullptr;
  // Called from inside the native control: nothing may be thrown through it.
  try {
    if (v && v->OnCompare) {
      int compare = 0;
      v->OnCompare(v, a, b, data, compare);
      return compare;
    }
    return lstrcmpA(a ? a->caption_.c_str() : "", b ? b->caption_.c_str() : "");
  } catch (...) {
    if (v && !v->sortError_) v->sortError_ = std::current_exception();
    return 0;
  }
}

bool TCustomListView::AlphaSort() { return CustomSort(nullptr, 0); }

bool TCustomListView::CustomSort(TLVCompare compare, LPARAM data) {
  TLVCompare proc = compare ? compare : &TCustomListView::DefaultCompare;
  if (handle_) return SendMessageA(handle_, LVM_SORTITEMS, static_cast<WPARAM>(data), reinterpret_cast<LPARAM>(proc)) != 0;
  if (ownerData_) return false;
  auto& v = items_->items_;
  std::stable_sort(v.begin(), v.end(), [&](TListItem* a, TListItem* b) {
    return proc(reinterpret_cast<LPARAM>(a), reinterpret_cast<LPARAM>(b), data) < 0;
  });
  if (sortError_) {
    std::exception_ptr e = sortError_;
    sortError_ = nullptr;
    std::rethrow_exception(e);
  }
  return true;
}

void TCustomListView::ReadItemOrder() {
  auto& v = items_->items_;
  int n = static_cast<int>(SendMessageA(handle_, LVM_GETITEMCOUNT, 0, 0));
  if (n != static_cast<int>(v.size())) return;
  std::vector<TListItem*> order;
  order.reserve(v.size());
  for (int i = 0; i < n; ++i) {
    LVITEMA it{};
    it.mask = LVIF_PARAM;
    it.iItem = i;
    SendMessageA(handle_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    order.push_back(reinterpret_cast<TListItem*>(it.lParam));
  }
  std::vector<TListItem*> a = order, b = v;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  if (a == b) v.swap(order);  // only a true reordering of our own items
}

void TCustomListView::SetSortType(TSortType t) {
  if (t == sortType_) return;
  sortType_ = t;
  if (t != stNone && !InState(csLoading)) AlphaSort();
}

void TCustomListView::AddItem(const std::string& item, TObject* obj) {
  TListItem* i = items_->Add();
  i->SetCaption(item);
  i->Data = obj;
}

void TCustomListView::CopySelection(TCustomListControl* destination) {
  for (int i = 0; i < items_->Count(); ++i) {
    TListItem* item = items_->Item(i);
    if (item->GetSelected()) destination->AddItem(item->GetCaption(), static_cast<TObject*>(item->Data));
  }
}

void TCustomListView::HeaderNotify(NMHEADERA& header) {
  int width;
  switch (header.hdr.code) {
    case HDN_TRACKA:
    case HDN_TRACKW:
    case HDN_ENDTRACKA:
    case HDN_ENDTRACKW:
      if (!header.pitem || !(header.pitem->mask & HDI_WIDTH)) return;
      width = header.pitem->cxy;
      break;
    case HDN_DIVIDERDBLCLICKA:
    case HDN_DIVIDERDBLCLICKW:
      // The control has fitted the column to its texts by now.
      if (!handle_) return;
      width = static_cast<int>(SendMessageA(handle_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(header.iItem), 0));
      break;
    default:
      return;
  }
  if (header.iItem >= 0 && header.iItem < columns_->Count() && width >= 0) columns_->Items(header.iItem)->width_ = width;
}

void TCustomListView::WndProc(TMessage& m) {
  if (m.Msg == WM_NOTIFY || m.Msg == CN_NOTIFY) {
    const UINT code = reinterpret_cast<NMHDR*>(m.LParam)->code;
    // The header speaks to the control in whichever form the control asks for (the system's control
    // asks for the wide one); what the control forwards to the form comes in the form's 8-bit form.
    const bool fromHeader = m.Msg == WM_NOTIFY && (code == HDN_ENDTRACKA || code == HDN_ENDTRACKW || code == HDN_TRACKA ||
                                                   code == HDN_TRACKW || code == HDN_DIVIDERDBLCLICKA ||
                                                   code == HDN_DIVIDERDBLCLICKW);
    if (fromHeader || (m.Msg == CN_NOTIFY && code == HDN_TRACKA)) {
      // The header's own notifications reach the control first; the one it forwards is ours alone.
      if (fromHeader) TCustomListControl::WndProc(m);
      // The two records differ only in the text pointer of their item, which is not read here.
      HeaderNotify(*reinterpret_cast<NMHEADERA*>(m.LParam));
      return;
    }
  }
  switch (m.Msg) {
    case WM_NOTIFY: {
      // The header is the control's own child: its notifications come here, not reflected.
      auto* hdr = reinterpret_cast<NMHDR*>(m.LParam);
      if (hdr && handle_ && hdr->hwndFrom == reinterpret_cast<HWND>(SendMessageA(handle_, LVM_GETHEADER, 0, 0))) {
        if (hdr->code == NM_RCLICK && OnColumnRightClick) {
          DWORD pos = GetMessagePos();
          HDHITTESTINFO hit{};
          hit.pt = POINT{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
          POINT onView = hit.pt;
          ::ScreenToClient(hdr->hwndFrom, &hit.pt);
          ::ScreenToClient(handle_, &onView);
          int index = static_cast<int>(SendMessageA(hdr->hwndFrom, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
          if (index >= 0 && index < columns_->Count()) OnColumnRightClick(this, columns_->Items(index), onView);
        } else if (hdr->code == HDN_ENDDRAG) {
          PostMessageA(handle_, CM_COLUMNDRAGGED, 0, 0);
        }
      }
      break;
    }
    case CM_COLUMNDRAGGED:
      if (OnColumnDragged) OnColumnDragged(this);
      return;
    case CM_CTL3DCHANGED:
      RecreateWnd();  // the border style depends on it
      break;
    case LVM_SORTITEMS:
      sortError_ = nullptr;
      TCustomListControl::WndProc(m);  // the control sorts, asking the comparison
      if (!ownerData_) ReadItemOrder();
      if (sortError_) {
        std::exception_ptr e = sortError_;
        sortError_ = nullptr;
        std::rethrow_exception(e);
      }
      return;
    case CN_DRAWITEM: {
      auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam);
      int index = static_cast<int>(di->itemID);
      TListItem* item = index >= 0 && index < items_->Count() ? items_->Item(index) : nullptr;
      PaintOwnerDrawnItem(canvas_, font_, color_, *di, [&] { DrawItem(item, di->rcItem, di->itemState); });
      m.Result = TRUE;
      return;
    }
    case CN_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(m.LParam);
      switch (hdr->code) {
        case LVN_GETDISPINFOA:
          GetDispInfo(*reinterpret_cast<NMLVDISPINFOA*>(m.LParam));
          return;
        case LVN_ODFINDITEMA:
        case LVN_ODFINDITEMW: {
          // Some list views ask an 8-bit parent in the wide form: the same record, a UTF-16 string.
          auto* nm = reinterpret_cast<NMLVFINDITEMA*>(m.LParam);
          const UINT f = nm->lvfi.flags;
          TItemFind find = (f & LVFI_PARAM) ? ifData : (f & LVFI_PARTIAL) ? ifPartialString
                           : (f & LVFI_STRING) ? ifExactString : ifNearest;
          TSearchDirection dir = nm->lvfi.vkDirection == VK_LEFT ? sdLeft : nm->lvfi.vkDirection == VK_RIGHT ? sdRight
                                 : nm->lvfi.vkDirection == VK_UP ? sdAbove : nm->lvfi.vkDirection == VK_DOWN ? sdBelow : sdAll;
          std::string text;
          if (nm->lvfi.psz && hdr->code == LVN_ODFINDITEMW) {
            auto* w = reinterpret_cast<const wchar_t*>(nm->lvfi.psz);
            int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
            if (n > 1) {
              text.resize(static_cast<size_t>(n));
              WideCharToMultiByte(CP_ACP, 0, w, -1, &text[0], n, nullptr, nullptr);
              text.resize(static_cast<size_t>(n - 1));
            }
          } else if (nm->lvfi.psz) {
            text = nm->lvfi.psz;
          }
          m.Result = OwnerDataFind(find, text, nm->lvfi.pt, reinterpret_cast<void*>(nm->lvfi.lParam), nm->iStart, dir,
                                   (f & LVFI_WRAP) != 0);
          return;
        }
        case LVN_BEGINLABELEDITA: {
          auto* nm = reinterpret_cast<NMLVDISPINFOA*>(m.LParam);
          m.Result = CanEdit(ItemOfRecord(nm->item)) ? FALSE : TRUE;
          return;
        }
        case LVN_ENDLABELEDITA: {
          auto* nm = reinterpret_cast<NMLVDISPINFOA*>(m.LParam);
          if (nm->item.pszText && nm->item.iItem != -1) {
            std::string s = nm->item.pszText;
            TListItem* item = ItemOfRecord(nm->item);
            if (OnEdited) OnEdited(this, item, s);
            if (item) item->SetCaption(s);
          }
          m.Result = FALSE;  // the text is the item's, shown through the callback
          return;
        }
        case LVN_ITEMCHANGING: {
          auto* nm = reinterpret_cast<NMLISTVIEW*>(m.LParam);
          m.Result = FALSE;
          if (filling_ || !OnChanging || nm->iItem < 0 || nm->iItem >= items_->Count()) return;
          const TItemChange change = (nm->uChanged & LVIF_TEXT) ? ctText : (nm->uChanged & LVIF_IMAGE) ? ctImage : ctState;
          bool allow = true;
          OnChanging(this, items_->Item(nm->iItem), change, allow);
          m.Result = allow ? FALSE : TRUE;
          return;
        }
        case LVN_ITEMCHANGED: {
          auto* nm = reinterpret_cast<NMLISTVIEW*>(m.LParam);
          if (filling_ || nm->iItem < 0 || nm->iItem >= items_->Count()) return;
          TListItem* item = items_->Item(nm->iItem);
          if (nm->uChanged & LVIF_STATE) {
            Change(item, ctState);
            if (((nm->uOldState ^ nm->uNewState) & LVIS_SELECTED) && OnSelectItem)
              OnSelectItem(this, item, (nm->uNewState & LVIS_SELECTED) != 0);
          } else if (nm->uChanged & LVIF_TEXT) {
            Change(item, ctText);
          }
          return;
        }
        case LVN_GETINFOTIPA: {
          auto* nm = reinterpret_cast<NMLVGETINFOTIPA*>(m.LParam);
          if (!OnInfoTip || !nm->pszText || nm->cchTextMax <= 0 || nm->iItem < 0 || nm->iItem >= items_->Count()) return;
          std::string tip = nm->pszText;
          OnInfoTip(this, items_->Item(nm->iItem), tip);
          lstrcpynA(nm->pszText, tip.c_str(), nm->cchTextMax);
          return;
        }
        case NM_CUSTOMDRAW:
          m.Result = CustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(m.LParam));
          return;
        case LVN_COLUMNCLICK: {
          auto* nm = reinterpret_cast<NMLISTVIEW*>(m.LParam);
          if (OnColumnClick && nm->iSubItem >= 0 && nm->iSubItem < columns_->Count())
            OnColumnClick(this, columns_->Items(nm->iSubItem));
          return;
        }
        case LVN_ODCACHEHINT: {
          auto* nm = reinterpret_cast<NMLVCACHEHINT*>(m.LParam);
          if (OnDataHint) OnDataHint(this, nm->iFrom, nm->iTo);
          return;
        }
        case LVN_ODSTATECHANGED: {
          auto* nm = reinterpret_cast<NMLVODSTATECHANGE*>(m.LParam);
          auto states = [](UINT s) {
            TItemStates r = 0;
            if (s & LVIS_CUT) r |= 1u << isCut;
            if (s & LVIS_DROPHILITED) r |= 1u << isDropHilited;
            if (s & LVIS_FOCUSED) r |= 1u << isFocused;
            if (s & LVIS_SELECTED) r |= 1u << isSelected;
            if (s & LVIS_ACTIVATING) r |= 1u << isActivating;
            return r;
          };
          if (OnDataStateChange) OnDataStateChange(this, nm->iFrom, nm->iTo, states(nm->uOldState), states(nm->uNewState));
          return;
        }
        case NM_CLICK:
          Click();
          return;
        case NM_DBLCLK:
          if (OnDblClick) OnDblClick(this);
          return;
      }
      break;
    }
  }
  TCustomListControl::WndProc(m);
}

TListItem* TCustomListView::GetSelected() const {
  int i = GetItemIndex();
  return i >= 0 && i < items_->Count() ? items_->Item(i) : nullptr;
}

void TCustomListView::SetSelected(TListItem* item) {
  if (!handle_) return;
  LVITEMA it{};
  it.stateMask = LVIS_SELECTED;
  it.state = 0;
  SendMessageA(handle_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&it));
  if (item) item->SetSelected(true);
}

int TCustomListView::GetItemIndex() const {
  if (!handle_) return -1;
  return static_cast<int>(SendMessageA(handle_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TCustomListView::SetItemIndex(int i) { SetSelected(i >= 0 && i < items_->Count() ? items_->Item(i) : nullptr); }

int TCustomListView::SelCount() const {
  return handle_ ? static_cast<int>(SendMessageA(handle_, LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
}

#define LV_STYLE_SETTER(Name, field, T) \
  void TCustomListView::Set##Name(T v) {  \
    if (field == v) return;               \
    field = v;                            \
    RecreateWnd();                        \
  }
LV_STYLE_SETTER(ViewStyle, viewStyle_, TViewStyle)
LV_STYLE_SETTER(ReadOnly, readOnly_, bool)
LV_STYLE_SETTER(HideSelection, hideSelection_, bool)
LV_STYLE_SETTER(MultiSelect, multiSelect_, bool)
LV_STYLE_SETTER(ShowColumnHeaders, showColumnHeaders_, bool)
LV_STYLE_SETTER(ColumnClick, columnClick_, bool)
LV_STYLE_SETTER(OwnerDraw, ownerDraw_, bool)
#undef LV_STYLE_SETTER

void TCustomListView::SetImageList(TCustomImageList*& field, TCustomImageList* v, int kind) {
  if (v == field) return;
  // The same list may serve as two kinds: keep the notification while another field still holds it.
  TCustomImageList* old = field;
  field = nullptr;
  if (old && old != smallImages_ && old != largeImages_ && old != stateImages_) old->RemoveFreeNotification(this);
  field = v;
  if (v) v->FreeNotification(this);
  if (handle_)
    SendMessageA(handle_, LVM_SETIMAGELIST, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(v ? v->GetHandle() : nullptr));
}

void TCustomListView::Notification(TComponent* c, TOperation op) {
  TCustomListControl::Notification(c, op);
  if (op != opRemove) return;
  if (c == smallImages_) SetSmallImages(nullptr);
  if (c == largeImages_) SetLargeImages(nullptr);
  if (c == stateImages_) SetStateImages(nullptr);
}

void TCustomListView::SetAllocBy(int v) {
  if (v < 0) v = 0;
  allocBy_ = v;
  if (handle_ && v > 0 && !ownerData_ && v > items_->Count())
    SendMessageA(handle_, LVM_SETITEMCOUNT, static_cast<WPARAM>(v), 0);
}

void TCustomListView::SetHotTrack(bool v) {
  hotTrack_ = v;
  ApplyExStyle();
}

void TCustomListView::SetHotTrackStyles(THotTrackStyles v) {
  hotTrackStyles_ = v & 7u;
  ApplyExStyle();
}

void TCustomListView::SetFlatScrollBars(bool v) {
  flatScrollBars_ = v;
  ApplyExStyle();
}

void TCustomListView::SetBorderStyle(TBorderStyle v) {
  if (v == borderStyle_) return;
  borderStyle_ = v;
  RecreateWnd();
}

void TCustomListView::SetFullDrag(bool v) {
  fullDrag_ = v;
  ApplyExStyle();
}

int TCustomListView::GetHoverTime() const {
  return handle_ ? static_cast<int>(SendMessageA(handle_, LVM_GETHOVERTIME, 0, 0)) : hoverTime_;
}

void TCustomListView::SetHoverTime(int v) {
  hoverTime_ = v;
  if (handle_) SendMessageA(handle_, LVM_SETHOVERTIME, 0, v);
}

void TCustomListView::SetShowWorkAreas(bool v) {
  if (v == showWorkAreas_) return;
  showWorkAreas_ = v;
  Invalidate();
}

void TCustomListView::WorkAreasChanged() {
  if (!handle_) return;
  std::vector<RECT> rects;
  for (int i = 0; i < workAreas_->Count(); ++i) rects.push_back(workAreas_->Items(i)->GetRect());
  SendMessageA(handle_, LVM_SETWORKAREAS, static_cast<WPARAM>(rects.size()),
               rects.empty() ? 0 : reinterpret_cast<LPARAM>(rects.data()));
  Invalidate();
}


void TCustomListView::PaintWorkAreas(HDC dc) {
  DrawOnCanvas(canvas_, dc, [&] {
    canvas_->Font()->Assign(font_);
    for (int i = 0; i < workAreas_->Count(); ++i) {
      TWorkArea* a = workAreas_->Items(i);
      RECT r = a->GetRect();
      canvas_->Brush()->SetStyle(bsSolid);
      canvas_->Brush()->SetColor(a->GetColor());
      canvas_->FrameRect(r);
      canvas_->Brush()->SetStyle(bsClear);
      canvas_->Font()->SetColor(a->GetColor());
      canvas_->TextOut(r.left + 2, r.top + 2, a->GetDisplayName());
    }
  });
}

void TCustomListView::Delete(TListItem* item) {
  if (OnDeletion) OnDeletion(this, item);
}

void TCustomListView::InsertItem(TListItem* item) {
  if (OnInsert) OnInsert(this, item);
}

LRESULT TCustomListView::RunCustomDraw(NMLVCUSTOMDRAW& cd, bool itemColours, const std::function<void()>& handler,
                                       TDrawStart start) {
  LRESULT result = CDRF_DODEFAULT;
  DrawOnCanvas(canvas_, cd.nmcd.hdc, [&] {
    canvas_->Font()->Assign(start == TDrawStart::Item ? itemFont_ : font_);
    canvas_->Brush()->SetColor(start == TDrawStart::Item ? itemBrush_ : color_);
    canvas_->Brush()->SetStyle(bsSolid);
    handler();
    if (itemColours && start == TDrawStart::View) {
      itemFont_->Assign(canvas_->Font());
      itemBrush_ = canvas_->Brush()->GetColor();
    }
    if (itemColours) {
      TFont* f = canvas_->Font();
      cd.clrText = ColorToRGB(f->GetColor());
      cd.clrTextBk = ColorToRGB(canvas_->Brush()->GetColor());
      if (f->GetName() != font_->GetName() || f->GetHeight() != font_->GetHeight() || f->GetStyle() != font_->GetStyle() ||
          f->GetCharset() != font_->GetCharset()) {
        // The control selects the font itself; it must outlive this paint.
        auto* keep = new TFont;
        keep->Assign(f);
        drawFonts_.push_back(keep);
        SelectObject(cd.nmcd.hdc, keep->GetHandle());
        result |= CDRF_NEWFONT;
      }
    }
  });
  return result;
}

LRESULT TCustomListView::CustomDraw(NMLVCUSTOMDRAW& cd) {
  const DWORD stage = cd.nmcd.dwDrawStage;
  const bool itemEvents = OnCustomDrawItem || OnAdvancedCustomDrawItem;
  const bool subItemEvents = OnCustomDrawSubItem || OnAdvancedCustomDrawSubItem;
  const bool workAreas = showWorkAreas_ && workAreas_->Count() > 0;
  bool defaultDraw = true;
  auto itemOf = [&]() -> TListItem* {
    const int i = static_cast<int>(cd.nmcd.dwItemSpec);
    return i >= 0 && i < items_->Count() ? items_->Item(i) : nullptr;
  };
  const unsigned state = cd.nmcd.uItemState;
  switch (stage) {
    case CDDS_PREPAINT: {
      for (TFont* f : drawFonts_) delete f;
      drawFonts_.clear();
      if (!OnCustomDraw && !OnAdvancedCustomDraw && !itemEvents && !subItemEvents && !workAreas) return CDRF_DODEFAULT;
      RunCustomDraw(cd, false, [&] {
        if (OnCustomDraw) OnCustomDraw(this, cd.nmcd.rc, defaultDraw);
        if (defaultDraw && OnAdvancedCustomDraw) OnAdvancedCustomDraw(this, cd.nmcd.rc, cdPrePaint, defaultDraw);
      });
      if (!defaultDraw) return CDRF_SKIPDEFAULT;
      LRESULT r = CDRF_DODEFAULT;
      if (itemEvents || subItemEvents) r |= CDRF_NOTIFYITEMDRAW;
      if (OnAdvancedCustomDraw || workAreas) r |= CDRF_NOTIFYPOSTPAINT;
      if (OnAdvancedCustomDraw) r |= CDRF_NOTIFYPOSTERASE;
      return r;
    }
    case CDDS_POSTPAINT:
      if (OnAdvancedCustomDraw)
        RunCustomDraw(cd, false, [&] { OnAdvancedCustomDraw(this, cd.nmcd.rc, cdPostPaint, defaultDraw); });
      if (workAreas) PaintWorkAreas(cd.nmcd.hdc);
      return CDRF_DODEFAULT;
    case CDDS_PREERASE:
    case CDDS_POSTERASE:
      if (OnAdvancedCustomDraw)
        RunCustomDraw(cd, false, [&] {
          OnAdvancedCustomDraw(this, cd.nmcd.rc, stage == CDDS_PREERASE ? cdPreErase : cdPostErase, defaultDraw);
        });
      return defaultDraw ? CDRF_DODEFAULT : CDRF_SKIPDEFAULT;
    case CDDS_ITEMPREPAINT: {
      TListItem* item = itemOf();
      if (!item) return CDRF_DODEFAULT;
      LRESULT r = RunCustomDraw(cd, true, [&] {
        if (OnCustomDrawItem) OnCustomDrawItem(this, item, state, defaultDraw);
        if (defaultDraw && OnAdvancedCustomDrawItem) OnAdvancedCustomDrawItem(this, item, state, cdPrePaint, defaultDraw);
      });
      if (!defaultDraw) return CDRF_SKIPDEFAULT;
      if (subItemEvents) r |= CDRF_NOTIFYSUBITEMDRAW;
      if (OnAdvancedCustomDrawItem) r |= CDRF_NOTIFYPOSTPAINT;
      return r;
    }
    case CDDS_ITEMPOSTPAINT: {
      TListItem* item = itemOf();
      if (item && OnAdvancedCustomDrawItem)
        RunCustomDraw(cd, false, [&] { OnAdvancedCustomDrawItem(this, item, state, cdPostPaint, defaultDraw); });
      return CDRF_DODEFAULT;
    }
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      TListItem* item = itemOf();
      if (!item) return CDRF_DODEFAULT;
      LRESULT r = RunCustomDraw(cd, true, [&] {
        if (OnCustomDrawSubItem) OnCustomDrawSubItem(this, item, cd.iSubItem, state, defaultDraw);
        if (defaultDraw && OnAdvancedCustomDrawSubItem)
          OnAdvancedCustomDrawSubItem(this, item, cd.iSubItem, state, cdPrePaint, defaultDraw);
      }, TDrawStart::Item);
      if (!defaultDraw) return CDRF_SKIPDEFAULT;
      if (OnAdvancedCustomDrawSubItem) r |= CDRF_NOTIFYPOSTPAINT;
      return r;
    }
    case CDDS_ITEMPOSTPAINT | CDDS_SUBITEM: {
      TListItem* item = itemOf();
      if (item && OnAdvancedCustomDrawSubItem)
        RunCustomDraw(cd, false,
                      [&] { OnAdvancedCustomDrawSubItem(this, item, cd.iSubItem, state, cdPostPaint, defaultDraw); });
      return CDRF_DODEFAULT;
    }
  }
  return CDRF_DODEFAULT;
}

// ---- icon options and work areas ----

void TIconOptions::SetArrangement(TIconArrangement v) {
  if (ChangeField(arrangement_, v)) Changed();
}
void TIconOptions::SetAutoArrange(bool v) {
  if (ChangeField(autoArrange_, v)) Changed();
}
void TIconOptions::SetWrapText(bool v) {
  if (ChangeField(wrapText_, v)) Changed();
}

void TIconOptions::Changed() {
  if (view_) view_->RecreateWnd();
}

void TIconOptions::Assign(TPersistent* source) {
  auto* o = As<TIconOptions>(source);
  if (!o) {
    TPersistent::Assign(source);
    return;
  }
  arrangement_ = o->arrangement_;
  autoArrange_ = o->autoArrange_;
  wrapText_ = o->wrapText_;
  Changed();
}

void TWorkArea::SetRect(const RECT& r) {
  rect_ = r;
  Changed(false);
}

void TWorkArea::SetDisplayName(const std::string& s) {
  displayName_ = s;
  Changed(false);
}

void TWorkArea::SetColor(TColor c) {
  color_ = c;
  Changed(false);
}

void TWorkAreas::Update(TCollectionItem*) {
  if (view_) view_->WorkAreasChanged();
}

void TCustomListView::SetOwnerData(bool v) {
  if (v == ownerData_) return;
  if (v && items_) items_->Clear();  // the rows come from OnData from now on
  ownerData_ = v;
  ownerDataCount_ = 0;
  RecreateWnd();
}

void TCustomListView::SetRowSelect(bool v) {
  if (v == rowSelect_) return;
  rowSelect_ = v;
  if (handle_) SendMessageA(handle_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, ListViewExStyle());
}

void TCustomListView::SetGridLines(bool v) {
  if (v == gridLines_) return;
  gridLines_ = v;
  if (handle_) SendMessageA(handle_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, ListViewExStyle());
}

void TCustomListView::SetCheckboxes(bool v) {
  if (v == checkboxes_) return;
  if (!v && handle_)
    for (TListItem* i : items_->items_) i->GetChecked();
  checkboxes_ = v;
  if (!handle_) return;
  SendMessageA(handle_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, ListViewExStyle());
  for (TListItem* i : items_->items_) i->ApplyAttributes();
}

// ---- TProgressBar ----

TProgressBar::TProgressBar() {
  width_ = 150;
  height_ = 16;
}

void TProgressBar::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  CreateSubClass(p, PROGRESS_CLASSA);
  if (smooth_) p.Style |= PBS_SMOOTH;
  if (orientation_ == pbVertical) p.Style |= PBS_VERTICAL;
}

void TProgressBar::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  SendMessageA(handle_, PBM_SETSTEP, static_cast<WPARAM>(step_), 0);
  SendMessageA(handle_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

void TProgressBar::SetMin(int v) {
  if (v == min_) return;
  min_ = v;
  if (handle_) SendMessageA(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
}

void TProgressBar::SetMax(int v) {
  if (v == max_) return;
  max_ = v;
  if (handle_) SendMessageA(handle_, PBM_SETRANGE32, static_cast<WPARAM>(min_), max_);
}

int TProgressBar::GetPosition() const {
  if (handle_) position_ = static_cast<int>(SendMessageA(handle_, PBM_GETPOS, 0, 0));
  return position_;
}

void TProgressBar::SetPosition(int v) {
  position_ = std::max(min_, std::min(max_, v));
  if (handle_) SendMessageA(handle_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

void TProgressBar::SetStep(int v) {
  step_ = v;
  if (handle_) SendMessageA(handle_, PBM_SETSTEP, static_cast<WPARAM>(v), 0);
}

void TProgressBar::SetSmooth(bool v) {
  if (v == smooth_) return;
  smooth_ = v;
  RecreateWnd();
}

void TProgressBar::SetOrientation(TProgressBarOrientation o) {
  if (o == orientation_) return;
  orientation_ = o;
  std::swap(width_, height_);
  RecreateWnd();
}

void TProgressBar::StepIt() {
  int p = GetPosition() + step_;
  // The native bar wraps to Min past Max; so does this one.
  SetPosition(p > max_ ? min_ + (p - max_) : p);
}

void TProgressBar::StepBy(int delta) { SetPosition(GetPosition() + delta); }

// ---- TCustomUpDown ----

TCustomUpDown::TCustomUpDown() {
  width_ = 17;
  height_ = 21;
}

void TCustomUpDown::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  CreateSubClass(p, UPDOWN_CLASSA);
  p.Style |= UDS_SETBUDDYINT;
  p.Style |= alignButton_ == udRight ? UDS_ALIGNRIGHT : UDS_ALIGNLEFT;
  if (orientation_ == udHorizontal) p.Style |= UDS_HORZ;
  if (arrowKeys_) p.Style |= UDS_ARROWKEYS;
  if (!thousands_) p.Style |= UDS_NOTHOUSANDS;
  if (wrap_) p.Style |= UDS_WRAP;
}

void TCustomUpDown::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(handle_, UDM_SETRANGE32, static_cast<WPARAM>(min_), max_);
  UDACCEL acc{0, static_cast<UINT>(increment_)};
  SendMessageA(handle_, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&acc));
  AttachBuddy();
  SendMessageA(handle_, UDM_SETPOS32, 0, position_);
}

void TCustomUpDown::AttachBuddy() {
  if (!handle_ || !associate_ || InState(csLoading)) return;
  // The native control moves itself next to its buddy and writes the position into the buddy's text.
  SendMessageA(handle_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(associate_->GetHandle()), 0);
}

void TCustomUpDown::Loaded() {
  TWinControl::Loaded();
  if (handle_ && associate_) {
    AttachBuddy();
    SendMessageA(handle_, UDM_SETPOS32, 0, position_);
  }
}

void TCustomUpDown::SetAssociate(TWinControl* c) {
  if (c == associate_) return;
  if (c && (c == this || c->Is<TCustomUpDown>() || c->Is<TCustomListView>()))
    throw EInvalidOperation("Cannot associate an up-down control with this control");
  if (associate_) {
    associate_->RemoveFreeNotification(this);
    if (handle_) SendMessageA(handle_, UDM_SETBUDDY, 0, 0);
  }
  associate_ = c;
  if (c) {
    c->FreeNotification(this);
    AttachBuddy();
    if (handle_) SendMessageA(handle_, UDM_SETPOS32, 0, position_);
  }
}

void TCustomUpDown::Notification(TComponent* c, TOperation op) {
  TWinControl::Notification(c, op);
  if (op == opRemove && c == associate_) {
    associate_ = nullptr;
    if (handle_ && !InState(csDestroying)) SendMessageA(handle_, UDM_SETBUDDY, 0, 0);
  }
}

void TCustomUpDown::SetMin(int v) {
  if (v == min_) return;
  min_ = v;
  if (handle_) SendMessageA(handle_, UDM_SETRANGE32, static_cast<WPARAM>(min_), max_);
}

void TCustomUpDown::SetMax(int v) {
  if (v == max_) return;
  max_ = v;
  if (handle_) SendMessageA(handle_, UDM_SETRANGE32, static_cast<WPARAM>(min_), max_);
}

int TCustomUpDown::GetPosition() const {
  if (handle_) {
    BOOL err = FALSE;
    int p = static_cast<int>(SendMessageA(handle_, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&err)));
    if (!err) position_ = p;
  }
  return position_;
}

void TCustomUpDown::SetPosition(int v) {
  position_ = std::max(min_, std::min(max_, v));
  if (handle_) SendMessageA(handle_, UDM_SETPOS32, 0, position_);
}

void TCustomUpDown::SetIncrement(int v) {
  if (v == increment_) return;
  increment_ = v;
  if (handle_) {
    UDACCEL acc{0, static_cast<UINT>(v)};
    SendMessageA(handle_, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&acc));
  }
}

#define UD_STYLE_SETTER(Name, field, T) \
  void TCustomUpDown::Set##Name(T v) {  \
    if (field == v) return;             \
    field = v;                          \
    RecreateWnd();                      \
  }
UD_STYLE_SETTER(Wrap, wrap_, bool)
UD_STYLE_SETTER(Thousands, thousands_, bool)
UD_STYLE_SETTER(ArrowKeys, arrowKeys_, bool)
UD_STYLE_SETTER(Orientation, orientation_, TUDOrientation)
UD_STYLE_SETTER(AlignButton, alignButton_, TUDAlignButton)
#undef UD_STYLE_SETTER

void TCustomUpDown::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CN_NOTIFY: {
      auto* nm = reinterpret_cast<NMUPDOWN*>(m.LParam);
      if (nm->hdr.code == UDN_DELTAPOS) {
        bool allow = true;
        if (OnChanging) OnChanging(this, allow);
        if (allow && OnChangingEx)
          OnChangingEx(this, allow, nm->iPos + nm->iDelta, nm->iDelta > 0 ? updUp : nm->iDelta < 0 ? updDown : updNone);
        m.Result = allow ? 0 : 1;
        return;
      }
      break;
    }
    case CN_HSCROLL:
    case CN_VSCROLL:
      if (LOWORD(m.WParam) == SB_THUMBPOSITION) {
        int old = position_;
        int now = GetPosition();
        if (OnClick && now != old) OnClick(this, now > old ? btNext : btPrev);
      }
      return;
  }
  TWinControl::WndProc(m);
}

}  // namespace ui
