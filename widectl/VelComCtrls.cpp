// The wide list view (items, sub-items, columns, window and notifications), progress bar and
// up-down control.
#include "VelComCtrls.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <vector>

#include "VelControls.h"
#include "VelGraphics.h"
#include "VelStdCtrls.h"
#include "VelSysUtils.h"
#include "VelWideStrUtils.h"
#include "uifiler.h"
#include "uiforms.h"

using namespace ui;

namespace {

// Ends a wide change of a list view on every exit.
class WideItemChange {
 public:
  explicit WideItemChange(TVelCustomListView* view) : view_(view) {
    if (view_) view_->BeginWideItemChange();
  }
  ~WideItemChange() {
    if (view_) view_->EndWideItemChange();
  }
  WideItemChange(const WideItemChange&) = delete;
  WideItemChange& operator=(const WideItemChange&) = delete;

 private:
  TVelCustomListView* view_;
};

std::vector<TPropInfo> VelColumnProps() {
  return {prop::WStr("Caption", &TVelListColumn::GetCaptionText, &TVelListColumn::SetCaptionText)};
}
template <class T>
std::vector<TPropInfo> WideHintProps() {
  return {WideHintProp<T>()};
}

// The library's own caption comparison, taken from the first sort request of the first list view
// window made on the Unicode platform: its sorts are answered by the wide comparison instead.
LPARAM libraryDefaultCompare = 0;
// An exception of a comparison, kept until the sort returns (none may cross the native control).
std::exception_ptr compareError;

}  // namespace

UI_IMPLEMENT_CLASS(TVelListColumn, TListColumn, DefaultFactory<TVelListColumn>, VelColumnProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelListColumns, TListColumns, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWideSubItems, TVelStringList, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelListItem, TListItem, DefaultFactory<TVelListItem>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelListItems, TListItems, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelCustomListView, TCustomListView, nullptr, WideHintProps<TVelCustomListView>, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelListView, TVelCustomListView, DefaultFactory<TVelListView>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelProgressBar, TProgressBar, DefaultFactory<TVelProgressBar>, WideHintProps<TVelProgressBar>,
                   nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelCustomUpDown, TCustomUpDown, nullptr, WideHintProps<TVelCustomUpDown>, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelUpDown, TVelCustomUpDown, DefaultFactory<TVelUpDown>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TVelListColumn::StaticClassInfo, &TVelListView::StaticClassInfo,
                     &TVelProgressBar::StaticClassInfo, &TVelUpDown::StaticClassInfo});
  }
} registered;
}  // namespace

// ---- Columns --------------------------------------------------------------------------------

std::wstring TVelListColumn::GetCaptionText() const { return SyncWideText(caption_, GetCaption()); }

void TVelListColumn::SetCaptionText(const std::wstring& value) {
  SetSyncedWideText(value, caption_, GetCaption(), [this](const std::string& s) { SetCaption(s); });
}

void TVelListColumn::Assign(TPersistent* source) {
  inherited::Assign(source);
  if (auto* wide = As<TVelListColumn>(source))
    caption_ = wide->GetCaptionText();
  else if (auto* plain = As<TListColumn>(source))
    caption_ = AnsiToWide(plain->GetCaption());
}

TVelListColumns::TVelListColumns(TVelCustomListView* owner) : TListColumns(owner, &TVelListColumn::StaticClassInfo) {}

// ---- Sub-items ------------------------------------------------------------------------------

TStrings* TWideSubItems::Base() const { return static_cast<TListItem*>(owner_)->SubItems(); }

TObject* TWideSubItems::GetObjectAt(int index) const { return Base()->GetObject(index); }

void TWideSubItems::SetObjectAt(int index, TObject* object) { Base()->PutObject(index, object); }

void TWideSubItems::SetItemAt(int index, const std::wstring& s) {
  WideItemChange change(owner_->ListView());
  inherited::SetItemAt(index, s);
  Base()->Put(index, WideToAnsi(s));
}

int TWideSubItems::AddWithObject(const std::wstring& s, TObject* object) {
  WideItemChange change(owner_->ListView());
  const int index = inherited::AddWithObject(s, nullptr);
  Base()->AddObject(WideToAnsi(s), object);
  return index;
}

void TWideSubItems::InsertWithObject(int index, const std::wstring& s, TObject* object) {
  WideItemChange change(owner_->ListView());
  inherited::InsertWithObject(index, s, nullptr);
  Base()->InsertObject(index, WideToAnsi(s), object);
}

void TWideSubItems::Clear() {
  WideItemChange change(owner_->ListView());
  inherited::Clear();
  Base()->Clear();
}

void TWideSubItems::Delete(int index) {
  WideItemChange change(owner_->ListView());
  inherited::Delete(index);
  Base()->Delete(index);
}

void TWideSubItems::SetUpdatingFlag(bool updating) {
  inherited::SetUpdatingFlag(updating);
  if (updating)
    Base()->BeginUpdate();
  else
    Base()->EndUpdate();
}

// ---- Items ----------------------------------------------------------------------------------

TVelListItem::TVelListItem() : subItems_(new TWideSubItems(this)) {}

TVelListItem::~TVelListItem() { delete subItems_; }

TVelCustomListView* TVelListItem::ListView() const { return dynamic_cast<TVelCustomListView*>(TListItem::ListView()); }

std::wstring TVelListItem::GetCaption() const { return SyncWideText(caption_, TListItem::GetCaption()); }

void TVelListItem::SetCaption(const std::wstring& value) {
  WideItemChange change(ListView());
  SetSyncedWideText(value, caption_, TListItem::GetCaption(), [this](const std::string& s) { TListItem::SetCaption(s); });
}

TVelStrings* TVelListItem::SubItems() {
  SyncSubItemsFromBase();
  return subItems_;
}

void TVelListItem::SetSubItems(TVelStrings* value) {
  if (!value) return;
  WideStringsUpdate update(subItems_);
  subItems_->Clear();
  for (int i = 0; i < value->Count(); ++i) subItems_->Add(value->GetItemAt(i));
}

void TVelListItem::SyncSubItemsFromBase() {
  TVelCustomListView* view = ListView();
  if (view && view->WideChangeCount() > 0) return;
  TStrings* base = TListItem::SubItems();
  std::vector<std::wstring> wanted;
  bool same = base->Count() == subItems_->Count();
  for (int k = 0; k < base->Count(); ++k) {
    const std::string b = base->Get(k);
    if (k < subItems_->Count() && WideToAnsi(subItems_->GetItemAt(k)) == b) {
      wanted.push_back(subItems_->GetItemAt(k));
    } else {
      wanted.push_back(AnsiToWide(b));
      same = false;
    }
  }
  if (same) return;
  // The wide list's own operations: the 8-bit side already holds these texts and the objects.
  subItems_->TVelStringList::Clear();
  for (const std::wstring& s : wanted) subItems_->TVelStringList::AddWithObject(s, nullptr);
}

void TVelListItem::Assign(TPersistent* source) {
  auto* other = As<TVelListItem>(source);
  if (!other) {
    inherited::Assign(source);
    return;
  }
  SetCaption(other->GetCaption());
  Data = other->Data;
  SetImageIndex(other->GetImageIndex());
  SetIndent(other->GetIndent());
  SetOverlayIndex(other->GetOverlayIndex());
  SetStateIndex(other->GetStateIndex());
  SetSubItems(other->SubItems());
  SetChecked(other->GetChecked());
}

TVelListItems::TVelListItems(TVelCustomListView* owner) : TListItems(owner) {}

void WideListControlAddItem(TCustomListControl* control, const std::wstring& item, TObject* obj) {
  if (auto* wide = dynamic_cast<IWideCustomListControl*>(control))
    wide->WideAddItem(item, obj);
  else
    control->AddItem(WideToAnsi(item), obj);
}

// ---- List view ------------------------------------------------------------------------------

TVelCustomListView::TVelCustomListView() {
  editTrampoline_ = MakeObjectInstance([this](TMessage& m) { EditWndProc(m); });
  ReplaceColumns(new TVelListColumns(this));
}

TVelCustomListView::~TVelCustomListView() {
  // An edit window still open gets its own procedure back before the trampoline goes.
  if (editWindow_ && IsWindow(editWindow_) && previousEditProc_)
    SetWindowLongPtrW(editWindow_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousEditProc_));
  FreeObjectInstance(editTrampoline_);
}

TListItems* TVelCustomListView::CreateListItems() { return new TVelListItems(this); }

void TVelCustomListView::WideAddItem(const std::wstring& item, TObject* obj) {
  TVelListItem* added = AddItem();
  added->SetCaption(item);
  added->Data = obj;
}

void TVelCustomListView::CopySelection(TCustomListControl* destination) {
  for (int i = 0; i < GetItems()->Count(); ++i) {
    TVelListItem* item = Item(i);
    if (item->GetSelected()) WideListControlAddItem(destination, item->GetCaption(), static_cast<TObject*>(item->Data));
  }
}

std::wstring TVelCustomListView::GetHintText() const { return WideGetControlHint(const_cast<TVelCustomListView*>(this)); }
void TVelCustomListView::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

TListItem* TVelCustomListView::CreateListItem() {
  const TLVCreateItemClassEvent user = OnCreateItemClass;
  OnCreateItemClass = [user](TCustomListView* sender, TClass& itemClass) {
    itemClass = &TVelListItem::StaticClassInfo;
    if (user) user(sender, itemClass);
    if (!itemClass || !itemClass->InheritsFrom(&TVelListItem::StaticClassInfo))
      throw EVelInternalError("Internal Error: OnCreateItemClass.ItemClass must inherit from TVelListItem.");
  };
  TListItem* item;
  try {
    item = inherited::CreateListItem();
  } catch (...) {
    OnCreateItemClass = user;
    throw;
  }
  OnCreateItemClass = user;
  if (!temporaryItem_) temporaryItem_ = static_cast<TVelListItem*>(item);
  return item;
}

void TVelCustomListView::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeHandle_ComCtl(this, params, L"SysListView32");
  if (IsUnicodePlatform && handle_) {
    if (!libraryDefaultCompare) {
      testingSort_ = true;
      try {
        AlphaSort();  // sends the library's comparison, which the window procedure keeps
      } catch (...) {
        testingSort_ = false;
        throw;
      }
      testingSort_ = false;
    }
    // Inserting and removing an empty column makes the header take the wide format as well.
    LVCOLUMNW empty = {};
    SendMessageW(handle_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&empty));
    SendMessageW(handle_, LVM_DELETECOLUMN, 0, 0);
  }
}

TVelListItem* TVelCustomListView::ItemOfRecord(const LVITEMW& item) const {
  if (item.mask & LVIF_PARAM) {
    auto* found = reinterpret_cast<TVelListItem*>(item.lParam);
    return GetItems()->IndexOf(found) >= 0 ? found : nullptr;
  }
  if (item.iItem >= 0 && item.iItem < GetItems()->Count()) return Item(item.iItem);
  if (GetOwnerData()) return temporaryItem_;
  return nullptr;
}

bool TVelCustomListView::OwnerDataFetch(TListItem* item, unsigned request) {
  // The item stands for another row now: none of its wide texts may outlive the fetch.
  auto* wide = static_cast<TVelListItem*>(item);
  wide->caption_.clear();
  wide->subItems_->TVelStringList::Clear();  // the library has emptied the 8-bit ones
  return inherited::OwnerDataFetch(item, request);
}

int TVelCustomListView::OwnerDataFind(TItemFind find, const std::string& findString, const POINT& findPosition,
                                      void* findData, int startIndex, TSearchDirection direction, bool wrap) {
  const std::wstring text = pendingFindString_ ? std::wstring(pendingFindString_) : AnsiToWide(findString);
  return WideDataFind(find, text, findPosition, findData, startIndex, direction, wrap);
}

int TVelCustomListView::WideDataFind(TItemFind find, const std::wstring& findString, const POINT& findPosition,
                                     void* findData, int startIndex, TSearchDirection direction, bool wrap) {
  int index = -1;
  if (OnDataFind)
    OnDataFind(this, find, findString, findPosition, findData, startIndex, direction, wrap, index);
  else if (inherited::OnDataFind)
    inherited::OnDataFind(this, find, WideToAnsi(findString), findPosition, findData, startIndex, direction, wrap, index);
  return index;
}

void TVelCustomListView::DrawItem(TListItem* item, const RECT& r, unsigned state) {
  if (OnDrawItem) {
    OnDrawItem(this, item, r, state);
    return;
  }
  Canvas()->FillRect(r);
  if (item) WideCanvasTextOut(Canvas(), r.left + 2, r.top, static_cast<TVelListItem*>(item)->GetCaption());
}

void TVelCustomListView::WideFindItem(TMessage& m) {
  // The library reads the search in its 8-bit form; the wide text waits beside it.
  auto& record = *reinterpret_cast<NMLVFINDITEMW*>(m.LParam);
  const wchar_t* text = record.lvfi.psz;
  pendingFindString_ = (record.lvfi.flags & (LVFI_PARTIAL | LVFI_STRING)) ? text : nullptr;
  record.lvfi.psz = nullptr;
  record.hdr.code = static_cast<UINT>(LVN_ODFINDITEMA);
  auto restore = [&] {
    record.lvfi.psz = text;
    record.hdr.code = static_cast<UINT>(LVN_ODFINDITEMW);
    pendingFindString_ = nullptr;
  };
  try {
    inherited::WndProc(m);
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void TVelCustomListView::WideInfoTip(TMessage& m) {
  // The library answers the 8-bit form of the request; its record gets an 8-bit buffer of its own,
  // since the control's buffer takes wide characters.
  auto& wide = *reinterpret_cast<NMLVGETINFOTIPW*>(m.LParam);
  if (!wide.pszText || wide.cchTextMax <= 0) return;
  const std::string offered = WideToAnsi(wide.pszText);
  std::vector<char> buffer(std::max(offered.size() + 1, static_cast<size_t>(wide.cchTextMax) * 2));
  std::copy(offered.begin(), offered.end(), buffer.begin());
  NMLVGETINFOTIPA ansi = {};
  ansi.hdr = wide.hdr;
  ansi.hdr.code = static_cast<UINT>(LVN_GETINFOTIPA);
  ansi.dwFlags = wide.dwFlags;
  ansi.pszText = buffer.data();
  ansi.cchTextMax = static_cast<int>(buffer.size());
  ansi.iItem = wide.iItem;
  ansi.iSubItem = wide.iSubItem;
  ansi.lParam = wide.lParam;
  TMessage asAnsi = m;
  asAnsi.LParam = reinterpret_cast<LPARAM>(&ansi);
  inherited::WndProc(asAnsi);
  m.Result = asAnsi.Result;
  if (std::string(ansi.pszText) == offered) return;  // left as the control offered it
  const std::wstring tip = AnsiToWide(ansi.pszText);
  WideStrLCopy(wide.pszText, tip.c_str(), static_cast<size_t>(wide.cchTextMax - 1));
}

void TVelCustomListView::BeginLabelEdit(TMessage& m) {
  const auto& info = *reinterpret_cast<const NMLVDISPINFOW*>(m.LParam);
  m.Result = CanEdit(ItemOfRecord(info.item)) ? 0 : 1;
  if (m.Result != 0) return;
  HWND edit = reinterpret_cast<HWND>(SendMessageW(handle_, LVM_GETEDITCONTROL, 0, 0));
  if (!edit) return;
  editWindow_ = edit;
  previousEditProc_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_WNDPROC));
  SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editTrampoline_));
}

void TVelCustomListView::EditWndProc(TMessage& m) {
  HWND edit = editWindow_;
  WNDPROC previous = previousEditProc_;
  try {
    switch (m.Msg) {
      case WM_KEYDOWN:
      case WM_SYSKEYDOWN:
        if (DoKeyDown(m)) return;
        break;
      case WM_KEYUP:
      case WM_SYSKEYUP:
        if (DoKeyUp(m)) return;
        break;
      case WM_CHAR: {
        MakeCharMessageSafeForAnsi(m);
        bool handled;
        try {
          handled = DoKeyPress(m);
        } catch (...) {
          RestoreCharMessage(m);
          throw;
        }
        RestoreCharMessage(m);
        if (handled) return;
        break;
      }
      case CN_KEYDOWN:
      case CN_CHAR:
      case CN_SYSKEYDOWN:
      case CN_SYSCHAR:
        WndProc(m);
        return;
      case WM_NCDESTROY:
        // The control is done with this edit window: it leaves with its own procedure.
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        editWindow_ = nullptr;
        previousEditProc_ = nullptr;
        break;
      default:
        break;
    }
    m.Result = CallWindowProcW(previous, edit, m.Msg, m.WParam, m.LParam);
  } catch (...) {
    if (Application) Application->HandleException(this);
  }
}

void TVelCustomListView::WideDisplayInfo(TMessage& m) {
  auto& info = *reinterpret_cast<NMLVDISPINFOW*>(m.LParam);
  // The base answers everything but the text, in its 8-bit form of the request.
  const UINT savedMask = info.item.mask;
  info.item.mask &= ~static_cast<UINT>(LVIF_TEXT);
  info.hdr.code = static_cast<UINT>(LVN_GETDISPINFOA);
  try {
    inherited::WndProc(m);
  } catch (...) {
    info.hdr.code = static_cast<UINT>(LVN_GETDISPINFOW);
    info.item.mask |= savedMask & LVIF_TEXT;
    throw;
  }
  info.hdr.code = static_cast<UINT>(LVN_GETDISPINFOW);
  info.item.mask |= savedMask & LVIF_TEXT;
  if (!(info.item.mask & LVIF_TEXT) || !info.item.pszText || info.item.cchTextMax <= 0) return;
  std::wstring text;
  if (TVelListItem* item = ItemOfRecord(info.item)) {
    const int sub = info.item.iSubItem;
    if (sub == 0) {
      text = item->GetCaption();
    } else {
      TVelStrings* subItems = item->SubItems();
      if (sub <= subItems->Count()) text = subItems->GetItemAt(sub - 1);
    }
  }
  WideStrLCopy(info.item.pszText, text.c_str(), static_cast<size_t>(info.item.cchTextMax - 1));
}

void TVelCustomListView::EndLabelEdit(const NMLVDISPINFOW& info) {
  std::wstring s = info.item.pszText;
  TVelListItem* item = ItemOfRecord(info.item);
  if (OnEdited) {
    OnEdited(this, item, s);
  } else if (inherited::OnEdited) {
    std::string ansi = WideToAnsi(s);
    inherited::OnEdited(this, item, ansi);
    s = AnsiToWide(ansi);
  }
  if (item) item->SetCaption(s);
}

int CALLBACK TVelCustomListView::WideDefaultCompare(LPARAM item1, LPARAM item2, LPARAM data) {
  try {
    auto* a = reinterpret_cast<TVelListItem*>(item1);
    auto* b = reinterpret_cast<TVelListItem*>(item2);
    TVelCustomListView* view = a->ListView();
    int result = 0;
    if (view && view->OnCompare)
      view->OnCompare(view, a, b, data, result);
    else
      result = lstrcmpW(a->GetCaption().c_str(), b->GetCaption().c_str());
    return result;
  } catch (...) {
    if (!compareError) compareError = std::current_exception();
    return 0;
  }
}

bool TVelCustomListView::WideHeaderNotify(TMessage& m) {
  auto& header = *reinterpret_cast<NMHEADERA*>(m.LParam);
  const UINT code = header.hdr.code;
  // The two records differ only in the text pointer of their item, which the library does not read.
  auto asAnsi = [&](UINT ansiCode, const std::function<void()>& step) {
    header.hdr.code = ansiCode;
    try {
      step();
    } catch (...) {
      header.hdr.code = code;
      throw;
    }
    header.hdr.code = code;
  };
  if (m.Msg == CN_NOTIFY) {
    // Forwarded by the control while a divider is dragged.
    if (!IsUnicodePlatform || code != static_cast<UINT>(HDN_TRACKW)) return false;
    asAnsi(static_cast<UINT>(HDN_TRACKA), [&] { inherited::WndProc(m); });
    return true;
  }
  if (code != static_cast<UINT>(HDN_ENDTRACKW) && code != static_cast<UINT>(HDN_DIVIDERDBLCLICKW)) return false;
  // The header's own message: the control and the library first, then the library's column step.
  inherited::WndProc(m);
  asAnsi(static_cast<UINT>(code == static_cast<UINT>(HDN_ENDTRACKW) ? HDN_ENDTRACKA : HDN_DIVIDERDBLCLICKA),
         [&] { HeaderNotify(header); });
  return true;
}

void TVelCustomListView::WndProc(TMessage& m) {
  if (m.Msg == LVM_SORTITEMS && testingSort_) {
    libraryDefaultCompare = m.LParam;  // dropped: nothing is sorted
    return;
  }
  if ((m.Msg == WM_NOTIFY || m.Msg == CN_NOTIFY) && WideHeaderNotify(m)) return;
  if (IsUnicodePlatform) {
    switch (m.Msg) {
      case CN_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(m.LParam);
        if (header->code == static_cast<UINT>(LVN_GETDISPINFOW)) {
          WideDisplayInfo(m);
          return;
        }
        if (header->code == static_cast<UINT>(LVN_BEGINLABELEDITW)) {
          BeginLabelEdit(m);
          return;
        }
        if (header->code == static_cast<UINT>(LVN_ODFINDITEMW)) {
          WideFindItem(m);
          return;
        }
        if (header->code == static_cast<UINT>(LVN_GETINFOTIPW)) {
          WideInfoTip(m);
          return;
        }
        if (header->code == static_cast<UINT>(LVN_ENDLABELEDITW)) {
          const auto& info = *reinterpret_cast<const NMLVDISPINFOW*>(m.LParam);
          if (info.item.pszText && info.item.iItem != -1) EndLabelEdit(info);
          m.Result = 0;  // the item shows its new caption through the text callback
          return;
        }
        break;
      }
      case LVM_SETITEMTEXTA:
        if (reinterpret_cast<const LVITEMA*>(m.LParam)->pszText == LPSTR_TEXTCALLBACKA) {
          m.Result = SendMessageW(handle_, LVM_SETITEMTEXTW, m.WParam, m.LParam);
          return;
        }
        break;
      case LVM_SORTITEMS:
        if (libraryDefaultCompare && m.LParam == libraryDefaultCompare) {
          compareError = nullptr;
          m.Result = SendMessageW(handle_, LVM_SORTITEMS, m.WParam, reinterpret_cast<LPARAM>(&WideDefaultCompare));
          if (compareError) {
            std::exception_ptr e = compareError;
            compareError = nullptr;
            std::rethrow_exception(e);
          }
          return;
        }
        break;
      case LVM_SETCOLUMNA: {
        // The base names the column's text in 8 bits: the header gets the wide caption instead.
        auto* record = reinterpret_cast<LVCOLUMNA*>(m.LParam);
        if (!(record->mask & LVCF_TEXT)) break;
        for (int i = 0; i < GetColumns()->Count(); ++i) {
          TVelListColumn* column = GetColumns()->Items(i);
          if (column->GetOrderTag() != static_cast<int>(m.WParam)) continue;
          std::wstring caption = column->GetCaptionText();
          LVCOLUMNW wide;
          static_assert(sizeof wide == sizeof *record, "the two column records share their layout");
          memcpy(&wide, record, sizeof wide);
          wide.pszText = &caption[0];
          m.Result = SendMessageW(handle_, LVM_SETCOLUMNW, m.WParam, reinterpret_cast<LPARAM>(&wide));
          return;
        }
        break;
      }
      default:
        break;
    }
  }
  if (m.Msg == LVM_SETEXTENDEDLISTVIEWSTYLE && GetCheckboxes()) {
    // Check boxes come with sub-item images and info tips. A request that names the bits it changes
    // names these as well, or the control would leave them as they were.
    const LPARAM extra = LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP;
    m.LParam |= extra;
    if (m.WParam) m.WParam |= static_cast<WPARAM>(extra);
  }
  inherited::WndProc(m);
}

// ---- Progress bar and up-down ---------------------------------------------------------------

std::wstring TVelProgressBar::GetHintText() const { return WideGetControlHint(const_cast<TVelProgressBar*>(this)); }
void TVelProgressBar::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }
void TVelProgressBar::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeHandle_ComCtl(this, params, L"msctls_progress32");
}

std::wstring TVelCustomUpDown::GetHintText() const { return WideGetControlHint(const_cast<TVelCustomUpDown*>(this)); }
void TVelCustomUpDown::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }
void TVelCustomUpDown::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeHandle_ComCtl(this, params, L"msctls_updown32");
}
