#include "uimenus.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>

#include "uicontrols.h"
#include "uifiler.h"
#include "uiforms.h"
#include "uiimglist.h"

namespace ui {

const char* const SmkcShift = "Shift+";
const char* const SmkcCtrl = "Ctrl+";
const char* const SmkcAlt = "Alt+";

namespace {
template <class T>
TPropInfo Stored(TPropInfo p, bool (T::*test)() const) {
  p.Stored = [test](TObject* o) { return (static_cast<T*>(o)->*test)(); };
  return p;
}
}  // namespace

static std::vector<TPropInfo> MenuItemProps() {
  using T = TMenuItem;
  return {Stored(prop::Str("Caption", &T::GetCaption, &T::SetCaption), &T::IsCaptionStored),
          prop::Bool("Checked", &T::GetChecked, &T::SetChecked, false),
          prop::Bool("Enabled", &T::GetEnabled, &T::SetEnabled, true),
          prop::Bool("Visible", &T::GetVisible, &T::SetVisible, true),
          prop::Bool("Default", &T::GetDefault, &T::SetDefault, false),
          prop::Bool("RadioItem", &T::GetRadioItem, &T::SetRadioItem, false),
          prop::Int("GroupIndex", &T::GetGroupIndex, &T::SetGroupIndex, true, 0),
          prop::Int("ShortCut", &T::GetShortCut, &T::SetShortCut, true, 0),
          Stored(prop::Str("Hint", &T::GetHint, &T::SetHint), &T::IsHintStored),
          prop::Int("ImageIndex", &T::GetImageIndex, &T::SetImageIndex, true, -1),
          prop::Enum("AutoHotkeys", &T::GetAutoHotkeys, &T::SetAutoHotkeys, {"maAutomatic", "maManual", "maParent"}, true,
                     maiParent),
          prop::Object<T, TBasicAction>("Action", &T::GetAction, &T::SetAction),
          prop::Event("OnClick", &T::OnClick),
          prop::Event("OnDrawItem", &T::OnDrawItem),
          prop::Event("OnAdvancedDrawItem", &T::OnAdvancedDrawItem),
          prop::Event("OnMeasureItem", &T::OnMeasureItem)};
}
static std::vector<TPropInfo> MenuProps() {
  using T = TMenu;
  return {prop::Bool("OwnerDraw", &T::GetOwnerDraw, &T::SetOwnerDraw, false),
          prop::Object<T, TCustomImageList>("Images", &T::GetImages, &T::SetImages),
          prop::Enum("AutoHotkeys", &T::GetAutoHotkeys, &T::SetAutoHotkeys, {"maAutomatic", "maManual"}, true,
                     maAutomatic)};
}
static std::vector<TPropInfo> PopupMenuProps() {
  using T = TPopupMenu;
  return {prop::Enum("Alignment", &T::GetAlignment, &T::SetAlignment, {"paLeft", "paRight", "paCenter"}, true, paLeft),
          prop::Bool("AutoPopup", &T::GetAutoPopup, &T::SetAutoPopup, true), prop::Event("OnPopup", &T::OnPopup)};
}

UI_IMPLEMENT_CLASS(TMenuItem, TComponent, DefaultFactory<TMenuItem>, MenuItemProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TMenu, TComponent, nullptr, MenuProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TMainMenu, TMenu, DefaultFactory<TMainMenu>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TPopupMenu, TMenu, DefaultFactory<TPopupMenu>, PopupMenuProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TPopupList, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TMenuActionLink, TActionLink, DefaultFactory<TMenuActionLink>, nullptr, nullptr, nullptr)

namespace {
TPopupList* ownPopupList = nullptr;

// Every popup list alive: a menu may have joined one that is no longer the one in place.
std::vector<TPopupList*>& AllPopupLists() {
  static std::vector<TPopupList*>* lists = new std::vector<TPopupList*>;
  return *lists;
}

struct Registered {
  Registered() {
    RegisterClasses({&TMainMenu::StaticClassInfo, &TMenuItem::StaticClassInfo, &TPopupMenu::StaticClassInfo});
    ownPopupList = new TPopupList();
    PopupList = ownPopupList;
  }
  // The list lives until the process ends: its window may still see messages while statics go away.
} registered;

// Command identifiers are 16-bit in WM_COMMAND; 0 is never used.
UINT NextCommand() {
  static UINT next = 0;
  next = next % 0xFFFE + 1;
  return next;
}
}  // namespace

TPopupList* PopupList = nullptr;

// ---- shortcuts ----

int ShortCut(WORD key, int shift) {
  if (key & 0xFF00) return 0;
  int s = key;
  if (shift & ssShift) s |= scShift;
  if (shift & ssCtrl) s |= scCtrl;
  if (shift & ssAlt) s |= scAlt;
  return s;
}

void ShortCutToKey(int shortCut, WORD& key, int& shift) {
  key = static_cast<WORD>(shortCut & 0xFF);
  shift = 0;
  if (shortCut & scShift) shift |= ssShift;
  if (shortCut & scCtrl) shift |= ssCtrl;
  if (shortCut & scAlt) shift |= ssAlt;
}

std::string ShortCutKeyName(WORD key) {
  static const struct {
    WORD key;
    const char* name;
  } kNames[] = {{VK_BACK, "BkSp"}, {VK_TAB, "Tab"},    {VK_RETURN, "Enter"}, {VK_ESCAPE, "Esc"},  {VK_SPACE, "Space"},
                {VK_PRIOR, "PgUp"}, {VK_NEXT, "PgDn"}, {VK_END, "End"},      {VK_HOME, "Home"},   {VK_LEFT, "Left"},
                {VK_UP, "Up"},      {VK_RIGHT, "Right"}, {VK_DOWN, "Down"},  {VK_INSERT, "Ins"},  {VK_DELETE, "Del"}};
  for (auto& n : kNames)
    if (n.key == key) return n.name;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return std::string(1, static_cast<char>(key));
  if (key >= VK_F1 && key <= VK_F24) return "F" + std::to_string(key - VK_F1 + 1);
  // Any other key: the keyboard's own name for its scan code.
  LONG scan = static_cast<LONG>(MapVirtualKeyA(key, 0)) << 16;
  if (scan == 0) return std::string();
  char name[256] = {};
  int n = GetKeyNameTextA(scan, name, sizeof name);
  return n > 0 ? std::string(name, static_cast<size_t>(n)) : std::string();
}

std::string ShortCutToText(int shortCut) {
  std::string name = ShortCutKeyName(static_cast<WORD>(shortCut & 0xFF));
  if (name.empty() || (shortCut & 0xFF) == 0) return std::string();
  std::string s;
  if (shortCut & scShift) s += SmkcShift;
  if (shortCut & scCtrl) s += SmkcCtrl;
  if (shortCut & scAlt) s += SmkcAlt;
  return s + name;
}

int TextToShortCut(const std::string& text) {
  std::string rest = text;
  int shift = 0;
  auto strip = [&](const char* prefix, int bit) {
    size_t n = std::strlen(prefix);
    if (rest.size() > n && SameText(rest.substr(0, n), prefix)) {
      rest.erase(0, n);
      shift |= bit;
      return true;
    }
    return false;
  };
  while (strip(SmkcShift, scShift) || strip(SmkcCtrl, scCtrl) || strip(SmkcAlt, scAlt)) {
  }
  if (rest.empty()) return 0;
  for (int key = 1; key < 256; ++key)
    if (SameText(ShortCutKeyName(static_cast<WORD>(key)), rest)) return key | shift;
  return 0;
}

// ---- hot keys ----

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
  Destroying();
  if (mergedWith_) {
    mergedWith_->merged_ = nullptr;
    mergedWith_->MenuChanged(true);
    mergedWith_ = nullptr;
  }
  if (merged_) merged_->mergedWith_ = nullptr;
  merged_ = nullptr;
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
  if (mergedWith_) mergedWith_->merged_ = nullptr;
  if (merged_) merged_->mergedWith_ = nullptr;
  delete actionLink_;
  if (handle_ && !menu_) DestroyMenu(handle_);
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
  MenuChanged(true);
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

void TMenuItem::Delete(int index) {
  TMenuItem* item = Items(index);
  items_.erase(items_.begin() + index);
  item->parent_ = nullptr;
  if (!InState(csDestroying)) MenuChanged(true);
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

bool TMenuItem::IsTopLevel() const { return parent_ && parent_->menu_ && parent_->menu_->Is<TMainMenu>(); }

void TMenuItem::MenuChanged(bool rebuild) {
  if (InState(csLoading | csDestroying)) return;
  TMenu* m = GetParentMenu();
  if (m && m->InState(csLoading | csDestroying)) return;
  if (rebuild) {
    // The parent's native menu shows this item: it is built again (a root rebuilds its own).
    TMenuItem* target = parent_ ? parent_ : this;
    if (target->mergedWith_) target = target->mergedWith_;
    if (target->handle_) target->RebuildHandle();
  } else {
    UpdateNativeItem();
  }
  if (m) m->Changed(this, rebuild);
}

#define MENU_SETTER(Name, field, T, rebuild) \
  void TMenuItem::Set##Name(T v) {           \
    if (field == v) return;                  \
    field = v;                               \
    MenuChanged(rebuild);                    \
  }
MENU_SETTER(Checked, checked_, bool, false)
MENU_SETTER(Enabled, enabled_, bool, false)
MENU_SETTER(Visible, visible_, bool, true)
MENU_SETTER(Default, default_, bool, false)
MENU_SETTER(RadioItem, radioItem_, bool, false)
MENU_SETTER(ShortCut, shortCut_, int, false)
MENU_SETTER(ImageIndex, imageIndex_, int, false)
MENU_SETTER(AutoHotkeys, autoHotkeys_, TMenuItemAutoFlag, true)
#undef MENU_SETTER

void TMenuItem::SetHint(const std::string& h) { hint_ = h; }

void TMenuItem::SetCaption(const std::string& s) {
  if (s == caption_) return;
  bool wasLine = IsLine();
  caption_ = s;
  // A line becomes a string (or back), or new hot keys may be due among the siblings: rebuild.
  MenuChanged(wasLine != IsLine() || (parent_ && parent_->IsAutoHotkeys()));
}

bool TMenuItem::IsAutoHotkeys() const {
  for (const TMenuItem* i = this; i; i = i->parent_) {
    if (i->autoHotkeys_ == maiAutomatic) return true;
    if (i->autoHotkeys_ == maiManual) return false;
    if (i->menu_) return i->menu_->GetAutoHotkeys() == maAutomatic;
  }
  return false;
}

std::vector<TMenuItem*> TMenuItem::VisibleItems() const {
  std::vector<TMenuItem*> out;
  if (!merged_) {
    for (TMenuItem* i : items_)
      if (i->visible_) out.push_back(i);
    return out;
  }
  // Merged: the other menu's items replace ours of the same group; all go in group order.
  std::set<int> mergedGroups;
  for (TMenuItem* i : merged_->items_) mergedGroups.insert(i->groupIndex_);
  std::vector<TMenuItem*> all;
  for (TMenuItem* i : items_)
    if (!mergedGroups.count(i->groupIndex_)) all.push_back(i);
  for (TMenuItem* i : merged_->items_) {
    auto at = std::find_if(all.begin(), all.end(), [&](TMenuItem* o) { return o->groupIndex_ > i->groupIndex_; });
    all.insert(at, i);
  }
  for (TMenuItem* i : all)
    if (i->visible_) out.push_back(i);
  return out;
}

void TMenuItem::RethinkHotkeys() {
  if (!IsAutoHotkeys()) return;
  std::vector<TMenuItem*> items = VisibleItems();
  std::set<char> used;
  for (TMenuItem* i : items)
    if (char h = GetHotkey(i->caption_)) used.insert(h);
  for (TMenuItem* i : items) {
    if (i->IsLine() || i->caption_.empty() || GetHotkey(i->caption_)) continue;
    if (i->autoHotkeys_ == maiManual) continue;
    // The first letter of a word first, then any letter or digit not yet taken by a sibling.
    const std::string& c = i->caption_;
    size_t pick = std::string::npos;
    for (int pass = 0; pass < 2 && pick == std::string::npos; ++pass)
      for (size_t k = 0; k < c.size(); ++k) {
        unsigned char ch = static_cast<unsigned char>(c[k]);
        if (!std::isalnum(ch) || ch == '&') continue;
        if (pass == 0 && k > 0 && c[k - 1] != ' ') continue;
        if (used.count(static_cast<char>(std::toupper(ch)))) continue;
        pick = k;
        break;
      }
    if (pick == std::string::npos) continue;
    used.insert(static_cast<char>(std::toupper(static_cast<unsigned char>(c[pick]))));
    i->caption_.insert(pick, 1, '&');
  }
}

void TMenuItem::RebuildHandle() {
  if (handle_) {
    while (GetMenuItemCount(handle_) > 0) RemoveMenu(handle_, 0, MF_BYPOSITION);
  } else {
    handle_ = menu_ ? menu_->CreateMenuHandle() : CreatePopupMenu();
    if (!handle_) RaiseLastOSError();
  }
  RethinkHotkeys();
  for (TMenuItem* i : VisibleItems()) i->AppendTo(handle_);
}

HMENU TMenuItem::GetHandle() {
  if (!handle_) RebuildHandle();
  return handle_;
}

void TMenuItem::FillItemInfo(MENUITEMINFOA& mi, std::string& text) {
  mi = MENUITEMINFOA{};
  mi.cbSize = sizeof mi;
  mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_DATA;
  mi.dwItemData = reinterpret_cast<ULONG_PTR>(this);
  TMenu* m = GetParentMenu();
  bool ownerDraw = m && m->IsOwnerDraw();
  if (IsLine()) {
    mi.fType = MFT_SEPARATOR | (ownerDraw ? MFT_OWNERDRAW : 0);
    return;
  }
  mi.fMask |= MIIM_STRING;
  text = caption_;
  // Sub-items show their shortcut after a tab; the menu bar's own items never do.
  if (shortCut_ && items_.empty() && !IsTopLevel()) text += "\t" + ShortCutToText(shortCut_);
  mi.dwTypeData = &text[0];
  mi.cch = static_cast<UINT>(text.size());
  mi.fType = (ownerDraw ? MFT_OWNERDRAW : 0) | (radioItem_ ? MFT_RADIOCHECK : 0);
  mi.fState = (checked_ ? MFS_CHECKED : 0) | (enabled_ ? 0 : MFS_GRAYED) | (default_ ? MFS_DEFAULT : 0);
  mi.wID = command_;
  if (!items_.empty() || merged_) {
    RebuildHandle();
    mi.hSubMenu = handle_;
  }
}

void TMenuItem::AppendTo(HMENU into) {
  MENUITEMINFOA mi;
  std::string text;
  FillItemInfo(mi, text);
  InsertMenuItemA(into, static_cast<UINT>(GetMenuItemCount(into)), TRUE, &mi);
}

void TMenuItem::UpdateNativeItem() {
  TMenuItem* p = parent_;
  if (p && p->mergedWith_) p = p->mergedWith_;
  if (!p || !p->handle_ || !visible_) return;
  std::vector<TMenuItem*> shown = p->VisibleItems();
  auto it = std::find(shown.begin(), shown.end(), this);
  if (it == shown.end()) return;
  MENUITEMINFOA mi;
  std::string text;
  FillItemInfo(mi, text);
  mi.fMask &= ~static_cast<UINT>(MIIM_SUBMENU);  // the sub-menu stays
  SetMenuItemInfoA(p->handle_, static_cast<UINT>(it - shown.begin()), TRUE, &mi);
}

void TMenuItem::Click() {
  if (!enabled_) return;
  if (OnClick)
    OnClick(this);
  else if (actionLink_ && !InState(csDesigning))
    actionLink_->Execute();
}

TMenuItem* TMenuItem::FindCommand(UINT cmd) {
  if (command_ == cmd && items_.empty() && !menu_) return this;
  for (TMenuItem* i : items_)
    if (TMenuItem* f = i->FindCommand(cmd)) return f;
  if (merged_)
    if (TMenuItem* f = merged_->FindCommand(cmd)) return f;
  return nullptr;
}

TMenuItem* TMenuItem::FindHandle(HMENU h) {
  if (handle_ && handle_ == h) return this;
  for (TMenuItem* i : items_)
    if (TMenuItem* f = i->FindHandle(h)) return f;
  if (merged_)
    if (TMenuItem* f = merged_->FindHandle(h)) return f;
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

void TMenuItem::Loaded() {
  TComponent::Loaded();
  if (actionLink_) ActionChange(actionLink_->GetAction(), true);
}

// ---- actions of menu items ----

TBasicAction* TMenuItem::GetAction() const { return actionLink_ ? actionLink_->GetAction() : nullptr; }

void TMenuItem::SetAction(TBasicAction* a) {
  if (a == GetAction()) return;
  if (LinkClientToAction(actionLink_, this, GetActionLinkClass(), a, TNotifyEvent(this, &TMenuItem::DoActionChange)))
    ActionChange(a, InState(csLoading));
}

void TMenuItem::DoActionChange(TObject* sender) {
  if (sender == GetAction()) ActionChange(sender, false);
}

void TMenuItem::ActionChange(TObject* sender, bool checkDefaults) {
  auto* a = As<TCustomAction>(sender);
  if (!a) return;
  if (!checkDefaults || caption_.empty() || caption_ == GetName()) SetCaption(a->GetCaption());
  if (!checkDefaults || !checked_) SetChecked(a->GetChecked());
  if (!checkDefaults || enabled_) SetEnabled(a->GetEnabled());
  if (!checkDefaults || hint_.empty()) SetHint(a->GetHint());
  if (!checkDefaults || imageIndex_ == -1) SetImageIndex(a->GetImageIndex());
  if (!checkDefaults || shortCut_ == 0) SetShortCut(a->GetShortCut());
  if (!checkDefaults || visible_) SetVisible(a->GetVisible());
}

TClass TMenuItem::GetActionLinkClass() { return &TMenuActionLink::StaticClassInfo; }

void TMenuItem::InitiateAction() {
  if (actionLink_) actionLink_->Update();
}

void TMenuItem::Notification(TComponent* c, TOperation op) {
  TComponent::Notification(c, op);
  if (op == opRemove && actionLink_ && c == actionLink_->GetAction()) SetAction(nullptr);
}

bool TMenuItem::IsCaptionStored() const { return !actionLink_ || !actionLink_->IsCaptionLinked(); }
bool TMenuItem::IsHintStored() const { return !actionLink_ || !actionLink_->IsHintLinked(); }

// ---- owner drawing ----

namespace {
UINT AlignmentFlags(const TMenuItem* item) {
  if (auto* p = As<TPopupMenu>(item->GetParentMenu())) {
    switch (p->GetAlignment()) {
      case paRight:
        return DT_RIGHT;
      case paCenter:
        return DT_CENTER;
      default:
        break;
    }
  }
  return DT_LEFT;
}

void UseMenuFont(TCanvas* c) {
  NONCLIENTMETRICSA ncm{};
  ncm.cbSize = sizeof ncm;
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) return;
  HFONT f = CreateFontIndirectA(&ncm.lfMenuFont);
  if (!f) return;
  c->Font()->SetHandle(f);
  DeleteObject(f);
}
}  // namespace

void TMenuItem::DoDrawText(TCanvas* canvas, const std::string& text, RECT& r, bool selected, UINT flags) {
  std::string t = text;
  // A measured empty caption (or a lone hot-key marker) still has the height of a line.
  if ((flags & DT_CALCRECT) && (t.empty() || t == "&")) t += ' ';
  canvas->Brush()->SetStyle(bsClear);
  if (default_) canvas->Font()->SetStyle(canvas->Font()->GetStyle() | fsBold);
  if (!enabled_ && !(flags & DT_CALCRECT)) {
    if (!selected) {
      RECT e = r;
      OffsetRect(&e, 1, 1);
      canvas->Font()->SetColor(clBtnHighlight);
      DrawTextA(canvas->GetHandle(), t.c_str(), static_cast<int>(t.size()), &e, flags);
    }
    bool sameAsShadow = ColorToRGB(clHighlight) == ColorToRGB(clBtnShadow);
    canvas->Font()->SetColor(selected && sameAsShadow ? clBtnHighlight : clBtnShadow);
  }
  DrawTextA(canvas->GetHandle(), t.c_str(), static_cast<int>(t.size()), &r, flags);
}

void TMenuItem::AdvancedDrawItem(TCanvas* canvas, RECT r, int state, bool topLevel) {
  if (OnAdvancedDrawItem) {
    OnAdvancedDrawItem(this, canvas, r, state);
    return;
  }
  if (OnDrawItem) {
    OnDrawItem(this, canvas, r, (state & odSelected) != 0);
    return;
  }
  bool selected = (state & odSelected) != 0;
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(selected && !topLevel ? clHighlight : clMenu);
  canvas->FillRect(r);
  if (IsLine()) {
    RECT e = r;
    e.top += (r.bottom - r.top) / 2 - 1;
    DrawEdge(canvas->GetHandle(), &e, EDGE_ETCHED, BF_TOP);
    return;
  }
  TMenu* m = GetParentMenu();
  TCustomImageList* images = m ? m->GetImages() : nullptr;
  RECT g{r.left + 1, r.top, r.left + 1, r.bottom};
  if (!topLevel) {
    g.right = g.left + (images ? images->GetWidth() : GetSystemMetrics(SM_CXMENUCHECK));
    bool image = images && imageIndex_ >= 0 && imageIndex_ < images->Count();
    if (image) {
      int y = g.top + (g.bottom - g.top - images->GetHeight()) / 2;
      images->Draw(canvas, g.left, y, imageIndex_, enabled_);
      if (checked_) {
        RECT f = g;
        DrawEdge(canvas->GetHandle(), &f, BDR_SUNKENOUTER, BF_RECT);
      }
    } else if (checked_) {
      // The check mark is a monochrome picture: drawn into a mask, then through it in the text colour.
      int cw = GetSystemMetrics(SM_CXMENUCHECK), ch = GetSystemMetrics(SM_CYMENUCHECK);
      HDC mdc = CreateCompatibleDC(canvas->GetHandle());
      HBITMAP mono = CreateBitmap(cw, ch, 1, 1, nullptr);
      HGDIOBJ old = SelectObject(mdc, mono);
      RECT cr{0, 0, cw, ch};
      DrawFrameControl(mdc, &cr, DFC_MENU, radioItem_ ? DFCS_MENUBULLET : DFCS_MENUCHECK);
      HDC dc = canvas->GetHandle();
      int x = g.left + (g.right - g.left - cw) / 2, y = g.top + (g.bottom - g.top - ch) / 2;
      COLORREF text = ColorToRGB(!enabled_ ? clGrayText : selected ? clHighlightText : clMenuText);
      COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0)), oldBk = SetBkColor(dc, RGB(255, 255, 255));
      BitBlt(dc, x, y, cw, ch, mdc, 0, 0, SRCAND);  // black mark, background kept
      SetTextColor(dc, text);
      SetBkColor(dc, RGB(0, 0, 0));
      BitBlt(dc, x, y, cw, ch, mdc, 0, 0, SRCPAINT);  // the mark takes the text colour
      SetTextColor(dc, oldText);
      SetBkColor(dc, oldBk);
      SelectObject(mdc, old);
      DeleteObject(mono);
      DeleteDC(mdc);
    }
  }
  RECT t = r;
  t.left = g.right + 3;
  t.right -= 1;
  canvas->Font()->SetColor(selected ? clHighlightText : clMenuText);
  UINT flags = AlignmentFlags(this) | DT_EXPANDTABS | DT_SINGLELINE | DT_VCENTER;
  if (state & odNoAccel) flags |= DT_HIDEPREFIX;
  if (!caption_.empty()) DoDrawText(canvas, caption_, t, selected, flags);
  if (shortCut_ && !topLevel) {
    RECT s = r;
    s.right -= 10;
    DoDrawText(canvas, ShortCutToText(shortCut_), s, selected, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
  }
}

void TMenuItem::MeasureItem(TCanvas* canvas, int& width, int& height) {
  bool topLevel = IsTopLevel();
  if (IsLine()) {
    width = 10;
    height = GetSystemMetrics(SM_CYMENUSIZE) / 2;
  } else {
    RECT r{0, 0, 0, 0};
    UINT flags = AlignmentFlags(this) | DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE;
    DoDrawText(canvas, caption_, r, false, flags);
    width = r.right - r.left + 4;
    height = std::max<int>(r.bottom - r.top + 4, GetSystemMetrics(SM_CYMENUSIZE));
    TMenu* m = GetParentMenu();
    if (!topLevel) {
      TCustomImageList* images = m ? m->GetImages() : nullptr;
      width += (images ? images->GetWidth() : GetSystemMetrics(SM_CXMENUCHECK)) + 4;
      if (images) height = std::max(height, images->GetHeight() + 4);
      if (shortCut_) {
        RECT s{0, 0, 0, 0};
        DoDrawText(canvas, ShortCutToText(shortCut_), s, false, flags);
        width += s.right - s.left + 20;
      }
    }
  }
  if (OnMeasureItem) OnMeasureItem(this, canvas, width, height);
}

// ---- menu messages ----

TMenuItem* FindOwnerDrawItem(TMenu* menu, UINT_PTR itemData) {
  // The item data is the item's address, trusted only when the item really belongs to this menu.
  std::function<bool(TMenuItem*)> contains = [&](TMenuItem* i) {
    if (reinterpret_cast<UINT_PTR>(i) == itemData) return true;
    for (int k = 0; k < i->Count(); ++k)
      if (contains(i->Items(k))) return true;
    return i->Merged() && contains(i->Merged());
  };
  return contains(menu->Items()) ? reinterpret_cast<TMenuItem*>(itemData) : nullptr;
}

bool DispatchMenuMessage(TMenu* menu, TMessage& m) {
  if (!menu) return false;
  switch (m.Msg) {
    case WM_COMMAND:
      if (m.LParam == 0 && HIWORD(m.WParam) == 0 && menu->DispatchCommand(LOWORD(m.WParam))) {
        m.Result = 0;
        return true;
      }
      return false;
    case WM_INITMENUPOPUP:
      return menu->DispatchPopup(reinterpret_cast<HMENU>(m.WParam));
    case WM_MENUSELECT: {
      UINT flags = HIWORD(m.WParam);
      if (flags == 0xFFFF && m.LParam == 0) {  // the menu closes
        if (Application) Application->SetHint("");
        return false;
      }
      TMenuItem* item = nullptr;
      if (flags & MF_POPUP) {
        HMENU sub = m.LParam ? GetSubMenu(reinterpret_cast<HMENU>(m.LParam), LOWORD(m.WParam)) : nullptr;
        item = sub ? menu->FindItem(reinterpret_cast<UINT_PTR>(sub), true) : nullptr;
      } else {
        item = menu->FindItem(LOWORD(m.WParam), false);
      }
      if (!item) return false;
      if (Application) Application->SetHint(GetLongHint(item->GetHint()));
      m.Result = 0;
      return true;
    }
    case WM_MEASUREITEM: {
      auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(m.LParam);
      if (!mi || mi->CtlType != ODT_MENU) return false;
      TMenuItem* item = FindOwnerDrawItem(menu, mi->itemData);
      if (!item) return false;
      HDC dc = GetDC(nullptr);
      TCanvas canvas;
      canvas.SetHandle(dc);
      UseMenuFont(&canvas);
      int w = static_cast<int>(mi->itemWidth), h = static_cast<int>(mi->itemHeight);
      try {
        item->MeasureItem(&canvas, w, h);
      } catch (...) {
        canvas.SetHandle(nullptr);
        ReleaseDC(nullptr, dc);
        throw;
      }
      canvas.SetHandle(nullptr);
      ReleaseDC(nullptr, dc);
      mi->itemWidth = static_cast<UINT>(std::max(0, w));
      mi->itemHeight = static_cast<UINT>(std::max(0, h));
      m.Result = TRUE;
      return true;
    }
    case WM_DRAWITEM: {
      auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam);
      if (!di || di->CtlType != ODT_MENU) return false;
      TMenuItem* item = FindOwnerDrawItem(menu, di->itemData);
      if (!item) return false;
      int state = 0;
      if (di->itemState & ODS_SELECTED) state |= odSelected;
      if (di->itemState & ODS_GRAYED) state |= odGrayed;
      if (di->itemState & ODS_DISABLED) state |= odDisabled;
      if (di->itemState & ODS_CHECKED) state |= odChecked;
      if (di->itemState & ODS_FOCUS) state |= odFocused;
      if (di->itemState & ODS_DEFAULT) state |= odDefault;
      if (di->itemState & ODS_HOTLIGHT) state |= odHotLight;
      if (di->itemState & ODS_INACTIVE) state |= odInactive;
      if (di->itemState & ODS_NOACCEL) state |= odNoAccel;
      if (di->itemState & ODS_NOFOCUSRECT) state |= odNoFocusRect;
      TCanvas canvas;
      canvas.SetHandle(di->hDC);
      int saved = SaveDC(di->hDC);
      UseMenuFont(&canvas);
      bool topLevel = item->Parent() && item->Parent() == menu->Items() && menu->Is<TMainMenu>();
      try {
        item->AdvancedDrawItem(&canvas, di->rcItem, state, topLevel);
      } catch (...) {
        canvas.SetHandle(nullptr);
        RestoreDC(di->hDC, saved);
        throw;
      }
      canvas.SetHandle(nullptr);
      RestoreDC(di->hDC, saved);
      m.Result = TRUE;
      return true;
    }
  }
  return false;
}

// ---- TMenu ----

TMenu::TMenu() : items_(new TMenuItem) { items_->menu_ = this; }

void TMenu::BeforeDestruction() {
  Destroying();
  SetImages(nullptr);
  TComponent::BeforeDestruction();
}

TMenu::~TMenu() {
  HMENU h = items_->handle_;
  items_->menu_ = nullptr;
  items_->handle_ = nullptr;
  items_->Free();
  if (h) DestroyMenu(h);
}

void TMenu::Rebuild() { items_->RebuildHandle(); }

HMENU TMenu::GetHandle() { return items_->GetHandle(); }

void TMenu::Changed(TMenuItem* source, bool rebuild) {
  (void)source;
  (void)rebuild;
}

void TMenu::Loaded() {
  TComponent::Loaded();
  if (items_->handle_) Rebuild();
}

void TMenu::SetOwnerDraw(bool v) {
  if (v == ownerDraw_) return;
  ownerDraw_ = v;
  if (items_->handle_) Rebuild();
  Changed(nullptr, true);
}

void TMenu::SetImages(TCustomImageList* v) {
  if (v == images_) return;
  if (images_) images_->RemoveFreeNotification(this);
  images_ = v;
  // Owner-drawn items draw the list's current images whenever they are drawn; only the switch between
  // owner-drawn and plain entries needs a rebuild.
  if (v) v->FreeNotification(this);
  if (!InState(csDestroying)) ImageListChange(nullptr);
}

void TMenu::ImageListChange(TObject*) {
  if (items_->handle_ && !InState(csLoading | csDestroying)) Rebuild();
  Changed(nullptr, true);
}

void TMenu::SetAutoHotkeys(TMenuAutoFlag v) {
  if (v == autoHotkeys_) return;
  autoHotkeys_ = v;
  if (items_->handle_) Rebuild();
}

void TMenu::Notification(TComponent* c, TOperation op) {
  TComponent::Notification(c, op);
  if (op == opRemove && c == images_) {
    images_ = nullptr;
    if (!InState(csDestroying)) ImageListChange(nullptr);
  }
}

TMenuItem* TMenu::FindItem(UINT_PTR value, bool byHandle) {
  return byHandle ? items_->FindHandle(reinterpret_cast<HMENU>(value)) : items_->FindCommand(static_cast<UINT>(value));
}

bool TMenu::DispatchCommand(UINT cmd) {
  TMenuItem* i = items_->FindCommand(cmd);
  if (!i) return false;
  i->Click();
  return true;
}

bool TMenu::DispatchPopup(HMENU h) {
  TMenuItem* item = items_->FindHandle(h);
  if (!item) return false;
  // The sub-items show their actions' current state when the sub-menu opens.
  for (int i = 0; i < item->Count(); ++i) item->Items(i)->InitiateAction();
  if (item != items_ && item->OnClick) item->OnClick(item);
  return true;
}

bool TMenu::IsShortCut(WORD key, int shift) {
  int sc = ShortCut(key, shift);
  if (!sc) return false;
  std::function<TMenuItem*(TMenuItem*)> find = [&](TMenuItem* parent) -> TMenuItem* {
    for (int i = 0; i < parent->Count(); ++i) {
      TMenuItem* it = parent->Items(i);
      if (!it->GetVisible()) continue;
      it->InitiateAction();
      if (!it->GetEnabled()) continue;
      if (it->GetShortCut() == sc && it->Count() == 0) return it;
      if (TMenuItem* f = find(it)) return f;
    }
    return nullptr;
  };
  TMenuItem* hit = find(items_);
  if (!hit) return false;
  hit->Click();
  return true;
}

void TMenu::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  items_->GetChildren(proc, root);
}

// ---- TMainMenu ----

void TMainMenu::Changed(TMenuItem* source, bool rebuild) {
  TMenu::Changed(source, rebuild);
  if (WindowHandle) DrawMenuBar(WindowHandle);
}

void TMainMenu::Merge(TMainMenu* menu) {
  if (!menu || menu == this) return;
  if (items_->merged_) Unmerge(As<TMainMenu>(items_->merged_->GetParentMenu()));
  items_->merged_ = menu->items_;
  menu->items_->mergedWith_ = items_;
  if (items_->handle_) Rebuild();
  Changed(nullptr, true);
}

void TMainMenu::Unmerge(TMainMenu* menu) {
  if (!menu || items_->merged_ != menu->items_) return;
  menu->items_->mergedWith_ = nullptr;
  items_->merged_ = nullptr;
  if (items_->handle_) Rebuild();
  Changed(nullptr, true);
}

// ---- TPopupMenu and the popup list ----

void TPopupMenu::Create(TComponent* owner) {
  TMenu::Create(owner);
  if (PopupList) PopupList->Add(this);
}

void TPopupMenu::BeforeDestruction() {
  for (TPopupList* list : AllPopupLists()) list->Remove(this);
  TMenu::BeforeDestruction();
}

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  // Sub-items show their actions' current state.
  for (int i = 0; i < items_->Count(); ++i) items_->Items(i)->InitiateAction();
  Rebuild();
  HMENU h = items_->handle_;
  UINT align = alignment_ == paRight ? TPM_RIGHTALIGN : alignment_ == paCenter ? TPM_CENTERALIGN : TPM_LEFTALIGN;
  HWND w = PopupList ? PopupList->Window() : nullptr;
  if (!w) return;
  // The popup list window must be the foreground window, or the menu does not close on an outside click.
  SetForegroundWindow(w);
  TrackPopupMenu(h, align | TPM_RIGHTBUTTON, x, y, 0, w, nullptr);
  PostMessageA(w, WM_NULL, 0, 0);
}

TPopupList::TPopupList() { AllPopupLists().push_back(this); }

TPopupList::~TPopupList() {
  auto& lists = AllPopupLists();
  lists.erase(std::remove(lists.begin(), lists.end(), this), lists.end());
  if (window_) DeallocateHWnd(window_);
}

void TPopupList::Add(TPopupMenu* m) {
  if (std::find(menus_.begin(), menus_.end(), m) == menus_.end()) menus_.push_back(m);
}

void TPopupList::Remove(TPopupMenu* m) {
  auto it = std::find(menus_.begin(), menus_.end(), m);
  if (it != menus_.end()) menus_.erase(it);
}

HWND TPopupList::Window() {
  if (!window_) window_ = AllocateHWnd(TWndMethod(this, &TPopupList::MainWndProc));
  return window_;
}

void TPopupList::MainWndProc(TMessage& m) {
  try {
    WndProc(m);
  } catch (...) {
    HandleWindowException(this);
  }
}

void TPopupList::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_COMMAND:
    case WM_INITMENUPOPUP:
    case WM_MENUSELECT:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
      for (TPopupMenu* menu : std::vector<TPopupMenu*>(menus_))
        if (DispatchMenuMessage(menu, m)) return;
      if (m.Msg == WM_MENUSELECT && Application) Application->SetHint("");
      break;
  }
  m.Result = DefWindowProcA(window_, m.Msg, m.WParam, m.LParam);
}

// ---- TMenuActionLink ----

void TMenuActionLink::AssignClient(TObject* client) {
  client_ = As<TMenuItem>(client);
  if (!client_) throw EInvalidOperation("A menu action link needs a menu item");
}

bool TMenuActionLink::IsCaptionLinked() {
  // Hot keys that the menu added on its own do not unlink the caption: compared without them and case.
  return TActionLink::IsCaptionLinked() &&
         SameText(StripHotkey(client_->GetCaption()), StripHotkey(CustomAction()->GetCaption()));
}
bool TMenuActionLink::IsCheckedLinked() {
  return TActionLink::IsCheckedLinked() && client_->GetChecked() == CustomAction()->GetChecked();
}
bool TMenuActionLink::IsEnabledLinked() {
  return TActionLink::IsEnabledLinked() && client_->GetEnabled() == CustomAction()->GetEnabled();
}
bool TMenuActionLink::IsHintLinked() {
  return TActionLink::IsHintLinked() && client_->GetHint() == CustomAction()->GetHint();
}
bool TMenuActionLink::IsImageIndexLinked() {
  return TActionLink::IsImageIndexLinked() && client_->GetImageIndex() == CustomAction()->GetImageIndex();
}
bool TMenuActionLink::IsShortCutLinked() {
  return TActionLink::IsShortCutLinked() && client_->GetShortCut() == CustomAction()->GetShortCut();
}
bool TMenuActionLink::IsVisibleLinked() {
  return TActionLink::IsVisibleLinked() && client_->GetVisible() == CustomAction()->GetVisible();
}

void TMenuActionLink::SetCaption(const std::string& v) {
  if (IsCaptionLinked()) client_->SetCaption(v);
}
void TMenuActionLink::SetChecked(bool v) {
  if (IsCheckedLinked()) client_->SetChecked(v);
}
void TMenuActionLink::SetEnabled(bool v) {
  if (IsEnabledLinked()) client_->SetEnabled(v);
}
void TMenuActionLink::SetHint(const std::string& v) {
  if (IsHintLinked()) client_->SetHint(v);
}
void TMenuActionLink::SetImageIndex(int v) {
  if (IsImageIndexLinked()) client_->SetImageIndex(v);
}
void TMenuActionLink::SetShortCut(int v) {
  if (IsShortCutLinked()) client_->SetShortCut(v);
}
void TMenuActionLink::SetVisible(bool v) {
  if (IsVisibleLinked()) client_->SetVisible(v);
}

}  // namespace ui
