#include "uimenus.h"

#include <algorithm>
#include <cctype>

#include "uifiler.h"

namespace ui {

static std::vector<TPropInfo> MenuItemProps() {
  using T = TMenuItem;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Bool("Checked", &T::GetChecked, &T::SetChecked, false),
          prop::Bool("Enabled", &T::GetEnabled, &T::SetEnabled, true),
          prop::Bool("Visible", &T::GetVisible, &T::SetVisible, true),
          prop::Bool("Default", &T::GetDefault, &T::SetDefault, false),
          prop::Bool("RadioItem", &T::GetRadioItem, &T::SetRadioItem, false),
          prop::Int("GroupIndex", &T::GetGroupIndex, &T::SetGroupIndex, true, 0),
          prop::Int("ShortCut", &T::GetShortCut, &T::SetShortCut, true, 0),
          prop::Str("Hint", &T::GetHint, &T::SetHint),
          prop::Event("OnClick", &T::OnClick)};
}

UI_IMPLEMENT_CLASS(TMenuItem, TComponent, DefaultFactory<TMenuItem>, MenuItemProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TMenu, TComponent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TMainMenu, TMenu, DefaultFactory<TMainMenu>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TMainMenu::StaticClassInfo, &TMenuItem::StaticClassInfo}); }
} registered;

// Command identifiers are 16-bit in WM_COMMAND; 0 is never used.
UINT NextCommand() {
  static UINT next = 0;
  next = next % 0xFFFE + 1;
  return next;
}
}  // namespace

char GetHotkey(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
  }
  return 0;
}

std::string StripHotkey(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') out += '&';
      ++i;
      if (i < caption.size() && caption[i] != '&') out += caption[i];
      continue;
    }
    out += caption[i];
  }
  return out;
}

// ---- TMenuItem ----

TMenuItem::TMenuItem() : command_(NextCommand()) {}

void TMenuItem::BeforeDestruction() {
  if (parent_) parent_->Remove(this);
  while (!items_.empty()) {
    TMenuItem* i = items_.back();
    items_.pop_back();
    i->parent_ = nullptr;
    // Items owned by a form are freed by it; only unowned children go with their parent.
    if (!i->Owner()) i->Free();
  }
  TComponent::BeforeDestruction();
}

TMenuItem::~TMenuItem() {
  if (parent_) {
    auto& v = parent_->items_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  for (TMenuItem* i : items_) i->parent_ = nullptr;
  if (handle_) DestroyMenu(handle_);
}

TMenuItem* TMenuItem::Items(int i) const {
  if (i < 0 || i >= Count()) throw EListError(Format(SListIndexError, i));
  return items_[static_cast<size_t>(i)];
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (item->parent_) throw EInvalidOperation("Menu item is already inserted");
  if (index < 0 || index > Count()) throw EListError(Format(SListIndexError, index));
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  MenuChanged();
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Delete(int index) {
  TMenuItem* item = Items(index);
  items_.erase(items_.begin() + index);
  item->parent_ = nullptr;
  MenuChanged();
}

void TMenuItem::Remove(TMenuItem* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
}

int TMenuItem::IndexOf(TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMenuItem::Clear() {
  while (!items_.empty()) {
    TMenuItem* i = items_.back();
    Delete(Count() - 1);
    i->Free();
  }
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* i = this;
  while (i->parent_) i = i->parent_;
  return i->menu_;
}

void TMenuItem::MenuChanged() {
  if (TMenu* m = GetParentMenu())
    if (!m->InState(csLoading | csDestroying)) m->Changed();
}

#define MENU_SETTER(Name, field, T) \
  void TMenuItem::Set##Name(T v) {  \
    if (field == v) return;         \
    field = v;                      \
    MenuChanged();                  \
  }
MENU_SETTER(Checked, checked_, bool)
MENU_SETTER(Enabled, enabled_, bool)
MENU_SETTER(Visible, visible_, bool)
MENU_SETTER(Default, default_, bool)
MENU_SETTER(RadioItem, radioItem_, bool)
MENU_SETTER(ShortCut, shortCut_, int)
#undef MENU_SETTER

void TMenuItem::SetCaption(const std::string& s) {
  if (s == caption_) return;
  caption_ = s;
  MenuChanged();
}

void TMenuItem::RebuildHandle() {
  if (handle_) {
    while (GetMenuItemCount(handle_) > 0) RemoveMenu(handle_, 0, MF_BYPOSITION);
  } else {
    handle_ = CreatePopupMenu();
  }
  for (TMenuItem* i : items_)
    if (i->visible_) i->AppendTo(handle_);
}

HMENU TMenuItem::GetHandle() {
  RebuildHandle();
  return handle_;
}

void TMenuItem::AppendTo(HMENU into) {
  if (IsLine()) {
    AppendMenuA(into, MF_SEPARATOR, 0, nullptr);
    return;
  }
  UINT flags = MF_STRING | (checked_ ? MF_CHECKED : 0) | (enabled_ ? 0 : MF_GRAYED);
  if (!items_.empty()) {
    AppendMenuA(into, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(GetHandle()), caption_.c_str());
  } else {
    AppendMenuA(into, flags, command_, caption_.c_str());
  }
  if (default_) SetMenuDefaultItem(into, command_, FALSE);
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
}

TMenuItem* TMenuItem::FindCommand(UINT cmd) {
  if (command_ == cmd && items_.empty()) return this;
  for (TMenuItem* i : items_)
    if (TMenuItem* f = i->FindCommand(cmd)) return f;
  return nullptr;
}

void TMenuItem::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  for (TMenuItem* i : std::vector<TMenuItem*>(items_))
    if (i->Owner() == root) proc(i);
}

void TMenuItem::SetParentComponent(TComponent* parent) {
  if (parent_) parent_->Remove(this);
  if (auto* m = As<TMenu>(parent))
    m->Items()->Add(this);
  else if (auto* i = As<TMenuItem>(parent))
    i->Add(this);
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ && parent_->menu_) return parent_->menu_;
  return parent_;
}

// ---- TMenu ----

TMenu::TMenu() : items_(new TMenuItem) { items_->menu_ = this; }

TMenu::~TMenu() {
  items_->menu_ = nullptr;
  items_->Free();
  if (handle_) DestroyMenu(handle_);
}

void TMenu::Rebuild() {
  if (!handle_) handle_ = CreateMenuHandle();
  while (GetMenuItemCount(handle_) > 0) RemoveMenu(handle_, 0, MF_BYPOSITION);
  for (int i = 0; i < items_->Count(); ++i) {
    TMenuItem* it = items_->Items(i);
    if (it->GetVisible()) it->AppendTo(handle_);
  }
}

HMENU TMenu::GetHandle() {
  Rebuild();
  return handle_;
}

void TMenu::Changed() {
  if (handle_) Rebuild();
}

bool TMenu::DispatchCommand(UINT cmd) {
  TMenuItem* i = items_->FindCommand(cmd);
  if (!i) return false;
  i->Click();
  return true;
}

void TMenu::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  items_->GetChildren(proc, root);
}

void TMainMenu::Changed() {
  TMenu::Changed();
  if (WindowHandle) DrawMenuBar(WindowHandle);
}

}  // namespace ui
