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
          prop::Event("OnChange", &T::OnChange),
          prop::Event("OnSelectItem", &T::OnSelectItem)};
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
UI_IMPLEMENT_CLASS(TListItem, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TListItems, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomListView, TWinControl, nullptr, ListViewProps, nullptr, nullptr)
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

int TListItem::Index() const { return owner_ ? owner_->IndexOf(this) : -1; }

void TListItem::SetCaption(const std::string& s) {
  if (s == caption_) return;
  caption_ = s;
  Update();
  if (TCustomListView* v = ListView()) v->Change(this, ctText);
}

void TListItem::SubItemsChanged(TObject*) { Update(); }

void TListItem::SetImageIndex(int i) {
  if (i == imageIndex_) return;
  imageIndex_ = i;
  Update();
}

void TListItem::Update() {
  TCustomListView* v = ListView();
  int i = Index();
  if (v && i >= 0) v->UpdateItems(i, i);
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
    caption_ = s->caption_;
    Data = s->Data;
    imageIndex_ = s->imageIndex_;
    subItems_->Assign(s->subItems_);
    Update();
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

TListItem* TListItems::Item(int i) const {
  if (i < 0 || i >= Count()) throw EListError(Format(SListIndexError, i));
  return items_[static_cast<size_t>(i)];
}

int TListItems::IndexOf(const TListItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TListItem* TListItems::Add() { return Insert(Count()); }

TListItem* TListItems::Insert(int index) {
  if (index < 0 || index > Count()) throw EListError(Format(SListIndexError, index));
  TListItem* item = view_ ? view_->CreateListItem() : new TListItem(this);
  item->owner_ = this;
  items_.insert(items_.begin() + index, item);
  if (view_) view_->ItemInserted(item, index);
  return item;
}

void TListItems::Delete(int index) {
  TListItem* item = Item(index);
  items_.erase(items_.begin() + index);
  if (view_) view_->ItemDeleted(index);
  item->owner_ = nullptr;
  delete item;
}

void TListItems::Clear() {
  BeginUpdate();
  while (!items_.empty()) Delete(Count() - 1);
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

TCustomListView::TCustomListView() : columns_(new TListColumns(this)), items_(new TListItems(this)) {
  width_ = 250;
  height_ = 150;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
  brush_->SetColor(color_);
}

TCustomListView::~TCustomListView() {
  delete items_;
  delete columns_;
}

void TCustomListView::ReplaceColumns(TListColumns* columns) {
  if (!columns || columns == columns_) return;
  delete columns_;
  columns_ = columns;
  ColumnsChanged();
}

TListItem* TCustomListView::CreateListItem() { return new TListItem(items_); }

TClass TCustomListView::GetActionLinkClass() { return &TListViewActionLink::StaticClassInfo; }

void TCustomListView::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  CreateSubClass(p, WC_LISTVIEWA);
  static const DWORD kStyle[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
  p.Style |= kStyle[viewStyle_] | LVS_SHAREIMAGELISTS | WS_CLIPCHILDREN;
  if (!readOnly_) p.Style |= LVS_EDITLABELS;
  if (!hideSelection_) p.Style |= LVS_SHOWSELALWAYS;
  if (!multiSelect_) p.Style |= LVS_SINGLESEL;
  if (!showColumnHeaders_) p.Style |= LVS_NOCOLUMNHEADER;
  if (!columnClick_) p.Style |= LVS_NOSORTHEADER;
  p.ExStyle |= WS_EX_CLIENTEDGE;
}

DWORD TCustomListView::ListViewExStyle() const {
  return (rowSelect_ ? LVS_EX_FULLROWSELECT : 0) | (gridLines_ ? LVS_EX_GRIDLINES : 0);
}

void TCustomListView::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(handle_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES, ListViewExStyle());
  SendMessageA(handle_, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(ColorToRGB(color_)));
  SendMessageA(handle_, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(ColorToRGB(color_)));
  ColumnsChanged();
  InsertAllItems();
}

void TCustomListView::InsertAllItems() {
  filling_ = true;
  SendMessageA(handle_, LVM_DELETEALLITEMS, 0, 0);
  for (int i = 0; i < items_->Count(); ++i) ItemInserted(items_->Item(i), i);
  filling_ = false;
}

void TCustomListView::ColumnsChanged() {
  if (!handle_) return;
  // Columns are few: rebuild them all.
  while (SendMessageA(handle_, LVM_DELETECOLUMN, 0, 0)) {
  }
  static const int kFmt[] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_CENTER};
  for (int i = 0; i < columns_->Count(); ++i) {
    TListColumn* c = columns_->Items(i);
    std::string text = c->GetCaption();
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    col.fmt = kFmt[c->GetAlignment()];
    col.cx = c->GetWidth();
    col.pszText = &text[0];
    col.iSubItem = i;
    SendMessageA(handle_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col));
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
  filling_ = was;
}

void TCustomListView::ItemDeleted(int index) {
  if (handle_) SendMessageA(handle_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

void TCustomListView::UpdateItems(int first, int last) {
  if (handle_) SendMessageA(handle_, LVM_REDRAWITEMS, static_cast<WPARAM>(first), last);
}

void TCustomListView::GetDispInfo(NMLVDISPINFOA& info) {
  auto* item = reinterpret_cast<TListItem*>(info.item.lParam);
  if (!item || items_->IndexOf(item) < 0) {
    int i = info.item.iItem;
    item = i >= 0 && i < items_->Count() ? items_->Item(i) : nullptr;
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
  if (info.item.mask & LVIF_IMAGE) info.item.iImage = item->GetImageIndex();
}

void TCustomListView::Change(TListItem* item, TItemChange change) {
  if (OnChange) OnChange(this, item, change);
}

void TCustomListView::WndProc(TMessage& m) {
  if (m.Msg == CN_NOTIFY) {
    auto* hdr = reinterpret_cast<NMHDR*>(m.LParam);
    switch (hdr->code) {
      case LVN_GETDISPINFOA:
        GetDispInfo(*reinterpret_cast<NMLVDISPINFOA*>(m.LParam));
        return;
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
      case NM_CLICK:
        Click();
        return;
      case NM_DBLCLK:
        if (OnDblClick) OnDblClick(this);
        return;
    }
  }
  TWinControl::WndProc(m);
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
#undef LV_STYLE_SETTER

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
