#include "uiboxes.h"

#include "uifiler.h"

namespace ui {

static std::vector<TPropInfo> CheckBoxProps() {
  using T = TCustomCheckBox;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption), prop::Bool("Checked", &T::GetChecked, &T::SetChecked, false),
          prop::Event("OnClick", &T::OnClick)};
}
static std::vector<TPropInfo> ComboBoxProps() {
  using T = TCustomComboBox;
  return {prop::Enum("Style", &T::GetStyle, &T::SetStyle, {"csDropDown", "csSimple", "csDropDownList", "csOwnerDrawFixed"},
                     true, csDropDown),
          prop::Int("ItemHeight", &T::GetItemHeight, &T::SetItemHeight, true, 16),
          prop::Object<T, TStrings>("Items", &T::GetItems, nullptr),
          // After Items: a layout's index refers to them.
          prop::Int("ItemIndex", &T::GetItemIndex, &T::SetItemIndex, true, -1),
          prop::Str("Text", &T::GetTextProp, &T::SetTextProp),
          prop::Event("OnChange", &T::OnChange),
          prop::Event("OnClick", &T::OnClick),
          prop::Event("OnDrawItem", &T::OnDrawItem)};
}

UI_IMPLEMENT_CLASS(TCustomCheckBox, TButtonControl, nullptr, CheckBoxProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCheckBox, TCustomCheckBox, DefaultFactory<TCheckBox>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomListControl, TWinControl, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomComboBox, TCustomListControl, nullptr, ComboBoxProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TComboBox, TCustomComboBox, DefaultFactory<TComboBox>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TCheckBox::StaticClassInfo, &TComboBox::StaticClassInfo}); }
} registered;

// Rows of the drop-down list below the edit part.
constexpr int kDropDownRows = 8;
}  // namespace

void PaintOwnerDrawnItem(TCanvas* canvas, TFont* font, TColor color, const DRAWITEMSTRUCT& di,
                         const std::function<void()>& paint) {
  DrawOnCanvas(canvas, di.hDC, [&] {
    const bool selected = (di.itemState & ODS_SELECTED) != 0;
    canvas->Font()->Assign(font);
    canvas->Brush()->SetColor(selected ? clHighlight : color);
    canvas->Font()->SetColor(selected ? clHighlightText : font->GetColor());
    paint();
  });
}

// ---- TCustomCheckBox ----

TCustomCheckBox::TCustomCheckBox() {
  width_ = 97;
  height_ = 17;
}

void TCustomCheckBox::CreateParams(TCreateParams& p) {
  TButtonControl::CreateParams(p);
  CreateSubClass(p, "BUTTON");
  // Not BS_AUTOCHECKBOX: the state is ours, so a click and a program change take the same path.
  p.Style |= BS_CHECKBOX;
}

void TCustomCheckBox::CreateWnd() {
  TButtonControl::CreateWnd();
  SendMessageA(handle_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCustomCheckBox::SetChecked(bool v) {
  if (v == checked_) return;
  checked_ = v;
  if (handle_) SendMessageA(handle_, BM_SETCHECK, v ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!InState(csLoading)) Click();
}

void TCustomCheckBox::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CN_COMMAND:
      if (HIWORD(m.WParam) == BN_CLICKED) SetChecked(!checked_);
      return;
    case CM_DIALOGCHAR:
      if (IsAccel(static_cast<unsigned>(m.WParam), GetCaption()) && CanFocus()) {
        SetFocus();
        SetChecked(!checked_);
        m.Result = 1;
      }
      return;
  }
  TButtonControl::WndProc(m);
}

// ---- TCustomComboBox ----

TCustomComboBox::TCustomComboBox() : items_(new TStringList), canvas_(new TCanvas) {
  width_ = 145;
  height_ = 21;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
  brush_->SetColor(color_);
  items_->OnChange = TNotifyEvent(this, &TCustomComboBox::ItemsChanged);
}

TCustomComboBox::~TCustomComboBox() {
  delete items_;
  delete canvas_;
}

void TCustomComboBox::CreateParams(TCreateParams& p) {
  TCustomListControl::CreateParams(p);
  CreateSubClass(p, "COMBOBOX");
  static const DWORD kStyle[] = {CBS_DROPDOWN, CBS_SIMPLE, CBS_DROPDOWNLIST, CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED};
  p.Style |= kStyle[style_] | CBS_AUTOHSCROLL | WS_VSCROLL;
  if (style_ == csOwnerDrawFixed) p.Style |= CBS_HASSTRINGS;
  // The window of a drop-down combo box includes its list.
  if (style_ != csSimple) p.Height = height_ + kDropDownRows * itemHeight_ + 2;
}

void TCustomComboBox::CreateWnd() {
  std::string text = text_;
  TCustomListControl::CreateWnd();
  if (style_ == csOwnerDrawFixed) SendMessageA(handle_, CB_SETITEMHEIGHT, 0, itemHeight_);
  FillWindowList();
  if (itemIndex_ < 0 && style_ != csDropDownList && style_ != csOwnerDrawFixed) SetWindowTextA(handle_, text.c_str());
}

void TCustomComboBox::DestroyWnd() {
  if (handle_) itemIndex_ = static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
  TCustomListControl::DestroyWnd();
}

void TCustomComboBox::FillWindowList() {
  if (!handle_) return;
  filling_ = true;
  SendMessageA(handle_, CB_RESETCONTENT, 0, 0);
  for (int i = 0; i < items_->GetCount(); ++i) {
    std::string s = items_->Get(i);
    SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
  }
  if (itemIndex_ >= items_->GetCount()) itemIndex_ = -1;
  SendMessageA(handle_, CB_SETCURSEL, static_cast<WPARAM>(itemIndex_), 0);
  filling_ = false;
}

void TCustomComboBox::ItemsChanged(TObject*) {
  // Keep the selected item selected when others come and go before it is read again.
  if (handle_) itemIndex_ = static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
  FillWindowList();
  if (!handle_ && itemIndex_ >= items_->GetCount()) itemIndex_ = -1;
}

int TCustomComboBox::GetItemIndex() const {
  if (handle_) itemIndex_ = static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
  return itemIndex_;
}

void TCustomComboBox::SetItemIndex(int i) {
  // A layout sets the index before the items may be complete: keep it as it is while loading.
  if (!InState(csLoading) && (i < -1 || i >= items_->GetCount())) i = -1;
  itemIndex_ = i;
  if (handle_) SendMessageA(handle_, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
  else if (i >= 0 && i < items_->GetCount()) text_ = items_->Get(i);
}

void TCustomComboBox::CopySelection(TCustomListControl* destination) {
  int i = GetItemIndex();
  if (i >= 0) destination->AddItem(items_->Get(i), items_->GetObject(i));
}

void TCustomComboBox::SetStyle(TComboBoxStyle s) {
  if (s == style_) return;
  style_ = s;
  RecreateWnd();
}

void TCustomComboBox::SetItemHeight(int h) {
  if (h == itemHeight_ || h <= 0) return;
  itemHeight_ = h;
  if (handle_ && style_ == csOwnerDrawFixed) SendMessageA(handle_, CB_SETITEMHEIGHT, 0, h);
}

void TCustomComboBox::Change() {
  if (OnChange) OnChange(this);
}

void TCustomComboBox::DrawItem(int index, const RECT& r, unsigned state) {
  if (OnDrawItem) {
    OnDrawItem(this, index, r, state);
    return;
  }
  canvas_->FillRect(r);
  if (index >= 0 && index < items_->GetCount()) canvas_->TextOut(r.left + 2, r.top, items_->Get(index));
}

void TCustomComboBox::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CN_COMMAND:
      if (filling_) return;
      switch (HIWORD(m.WParam)) {
        case CBN_SELCHANGE:
          itemIndex_ = static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
          Click();
          Change();
          break;
        case CBN_EDITCHANGE:
          Change();
          break;
      }
      return;
    case CN_DRAWITEM: {
      auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam);
      PaintOwnerDrawnItem(canvas_, font_, color_, *di, [&] {
        DrawItem(static_cast<int>(di->itemID), di->rcItem, di->itemState);
        if (di->itemState & ODS_FOCUS) DrawFocusRect(di->hDC, &di->rcItem);
      });
      m.Result = TRUE;
      return;
    }
  }
  TCustomListControl::WndProc(m);
}

}  // namespace ui
