#include "uitabs.h"

#include <commctrl.h>

#include <algorithm>

#include "uifiler.h"

namespace ui {

static std::vector<TPropInfo> TabSheetProps() {
  using T = TTabSheet;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Bool("TabVisible", &T::GetTabVisible, &T::SetTabVisible, true)};
}
static std::vector<TPropInfo> PageControlProps() {
  using T = TPageControl;
  return {prop::Object<T, TTabSheet>("ActivePage", &T::GetActivePage, &T::SetActivePage),
          prop::Bool("HotTrack", &T::GetHotTrack, &T::SetHotTrack, false),
          prop::Event("OnChange", &T::OnChange),
          prop::Event("OnChanging", &T::OnChanging)};
}
static std::vector<TPropInfo> TrackBarProps() {
  using T = TTrackBar;
  return {prop::Int("Min", &T::GetMin, &T::SetMin, true, 0),
          prop::Int("Max", &T::GetMax, &T::SetMax, true, 10),
          prop::Int("Position", &T::GetPosition, &T::SetPosition, true, 0),
          prop::Int("Frequency", &T::GetFrequency, &T::SetFrequency, true, 1),
          prop::Int("ThumbLength", &T::GetThumbLength, &T::SetThumbLength, true, 20),
          prop::Enum("Orientation", &T::GetOrientation, &T::SetOrientation, {"trHorizontal", "trVertical"}, true,
                     trHorizontal),
          prop::Event("OnChange", &T::OnChange)};
}

UI_IMPLEMENT_CLASS(TTabSheet, TWinControl, DefaultFactory<TTabSheet>, TabSheetProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TPageControl, TWinControl, DefaultFactory<TPageControl>, PageControlProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TTrackBar, TWinControl, DefaultFactory<TTrackBar>, TrackBarProps, nullptr, nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TTabSheet::StaticClassInfo, &TPageControl::StaticClassInfo, &TTrackBar::StaticClassInfo});
  }
} registered;

// Tabs and frame of a page control without a window (one row of tabs of the default font).
constexpr RECT kWindowlessMargins{4, 24, 4, 4};
}  // namespace

// ---- TTabSheet ----

TTabSheet::TTabSheet() {
  visible_ = false;  // only the active page shows
  width_ = 185;
  height_ = 41;
}

void TTabSheet::SetPageControl(TPageControl* pc) { SetParent(pc); }

void TTabSheet::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  p.Style |= WS_CLIPCHILDREN;
  p.WindowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
}

void TTabSheet::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (pageControl_) pageControl_->RemovePage(this);
  TWinControl::SetParent(parent);
  if (auto* pc = As<TPageControl>(parent)) pc->InsertPage(this);
}

int TTabSheet::GetPageIndex() const {
  if (!pageControl_) return -1;
  auto& p = pageControl_->pages_;
  return static_cast<int>(std::find(p.begin(), p.end(), this) - p.begin());
}

int TTabSheet::TabIndex() const {
  if (!pageControl_ || !tabVisible_) return -1;
  int n = 0;
  for (TTabSheet* s : pageControl_->pages_) {
    if (s == this) return n;
    if (s->tabVisible_) ++n;
  }
  return -1;
}

void TTabSheet::SetTabVisible(bool v) {
  if (v == tabVisible_) return;
  tabVisible_ = v;
  if (!pageControl_) return;
  if (!v) pageControl_->PageTabHidden(this);
  pageControl_->UpdateTabs();
}

void TTabSheet::WndProc(TMessage& m) {
  TWinControl::WndProc(m);
  if (m.Msg == CM_TEXTCHANGED && pageControl_) pageControl_->UpdateTabs();
}

// ---- TPageControl ----

TPageControl::TPageControl() {
  width_ = 289;
  height_ = 193;
  tabStop_ = true;
}

void TPageControl::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  CreateSubClass(p, WC_TABCONTROLA);
  p.Style |= WS_CLIPCHILDREN;
  if (hotTrack_) p.Style |= TCS_HOTTRACK;
}

void TPageControl::CreateWnd() {
  TWinControl::CreateWnd();
  UpdateTabs();
  AlignPages();
}

void TPageControl::SetHotTrack(bool v) {
  if (v == hotTrack_) return;
  hotTrack_ = v;
  RecreateWnd();
}

RECT TPageControl::DisplayRect() {
  RECT r = GetClientRect();
  if (handle_) {
    SendMessageA(handle_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  } else {
    r.left += kWindowlessMargins.left;
    r.top += kWindowlessMargins.top;
    r.right -= kWindowlessMargins.right;
    r.bottom -= kWindowlessMargins.bottom;
  }
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

void TPageControl::AlignPages() {
  RECT r = DisplayRect();
  for (TTabSheet* s : pages_) s->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void TPageControl::Resize() {
  TWinControl::Resize();
  AlignPages();
}

void TPageControl::InsertPage(TTabSheet* page) {
  pages_.push_back(page);
  page->pageControl_ = this;
  page->FreeNotification(this);
  RECT r = DisplayRect();
  page->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
  page->SetVisible(page == activePage_);
  UpdateTabs();
}

void TPageControl::RemovePage(TTabSheet* page) {
  auto it = std::find(pages_.begin(), pages_.end(), page);
  if (it == pages_.end()) return;
  if (page == activePage_) PageTabHidden(page);
  if (page == activePage_) activePage_ = nullptr;
  pages_.erase(it);
  page->pageControl_ = nullptr;
  page->RemoveFreeNotification(this);
  if (!InState(csDestroying)) UpdateTabs();
}

void TPageControl::Notification(TComponent* c, TOperation op) {
  TWinControl::Notification(c, op);
  if (op == opRemove) {
    auto* page = static_cast<TTabSheet*>(c);
    if (std::find(pages_.begin(), pages_.end(), page) != pages_.end()) RemovePage(page);
  }
}

void TPageControl::PageTabHidden(TTabSheet* page) {
  if (page != activePage_) return;
  // The page whose tab takes the hidden one's place, else the one before it.
  auto it = std::find(pages_.begin(), pages_.end(), page);
  TTabSheet* next = nullptr;
  for (auto j = it + 1; j != pages_.end() && !next; ++j)
    if ((*j)->tabVisible_) next = *j;
  for (auto j = it; j != pages_.begin() && !next;)
    if ((*--j)->tabVisible_) next = *j;
  SetActivePage(next);
}

void TPageControl::UpdateTabs() {
  if (!handle_) return;
  SendMessageA(handle_, TCM_DELETEALLITEMS, 0, 0);
  int n = 0;
  for (TTabSheet* s : pages_) {
    if (!s->tabVisible_) continue;
    std::string text = s->GetCaption();
    TCITEMA item{};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = &text[0];
    item.lParam = reinterpret_cast<LPARAM>(s);
    SendMessageA(handle_, TCM_INSERTITEMA, static_cast<WPARAM>(n++), reinterpret_cast<LPARAM>(&item));
  }
  int sel = activePage_ ? activePage_->TabIndex() : -1;
  SendMessageA(handle_, TCM_SETCURSEL, static_cast<WPARAM>(sel), 0);
  AlignPages();  // one row of tabs more or less changes the display area
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->pageControl_ != this) return;
  if (page == activePage_) return;
  TTabSheet* old = activePage_;
  activePage_ = page;
  if (page) {
    page->BringToFront();
    page->SetVisible(true);
  }
  if (old) old->SetVisible(false);
  if (handle_) SendMessageA(handle_, TCM_SETCURSEL, static_cast<WPARAM>(page ? page->TabIndex() : -1), 0);
}

void TPageControl::SetActivePageIndex(int i) {
  SetActivePage(i >= 0 && i < PageCount() ? pages_[static_cast<size_t>(i)] : nullptr);
}

bool TPageControl::CanChange() {
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  return allow;
}

void TPageControl::Change() {
  if (OnChange) OnChange(this);
}

void TPageControl::WndProc(TMessage& m) {
  if (m.Msg == CN_NOTIFY) {
    auto* hdr = reinterpret_cast<NMHDR*>(m.LParam);
    switch (hdr->code) {
      case TCN_SELCHANGING:
        m.Result = CanChange() ? FALSE : TRUE;
        return;
      case TCN_SELCHANGE: {
        int tab = static_cast<int>(SendMessageA(handle_, TCM_GETCURSEL, 0, 0));
        TTabSheet* page = nullptr;
        for (TTabSheet* s : pages_)
          if (s->TabIndex() == tab && tab >= 0) page = s;
        SetActivePage(page);
        Change();
        return;
      }
    }
  }
  TWinControl::WndProc(m);
}

// ---- TTrackBar ----

TTrackBar::TTrackBar() {
  width_ = 150;
  height_ = 45;
  tabStop_ = true;
}

void TTrackBar::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  CreateSubClass(p, TRACKBAR_CLASSA);
  p.Style |= TBS_AUTOTICKS | TBS_FIXEDLENGTH | (orientation_ == trVertical ? TBS_VERT : TBS_HORZ);
}

void TTrackBar::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(handle_, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(thumbLength_), 0);
  SendMessageA(handle_, TBM_SETRANGEMIN, FALSE, min_);
  SendMessageA(handle_, TBM_SETRANGEMAX, FALSE, max_);
  SendMessageA(handle_, TBM_SETTICFREQ, static_cast<WPARAM>(frequency_), 0);
  SendMessageA(handle_, TBM_SETPOS, TRUE, position_);
}

void TTrackBar::SetMin(int v) {
  if (v == min_) return;
  min_ = v;
  if (handle_) SendMessageA(handle_, TBM_SETRANGEMIN, TRUE, v);
  if (position_ < min_) SetPosition(min_);
}

void TTrackBar::SetMax(int v) {
  if (v == max_) return;
  max_ = v;
  if (handle_) SendMessageA(handle_, TBM_SETRANGEMAX, TRUE, v);
  if (position_ > max_) SetPosition(max_);
}

int TTrackBar::GetPosition() const {
  if (handle_) position_ = static_cast<int>(SendMessageA(handle_, TBM_GETPOS, 0, 0));
  return position_;
}

void TTrackBar::SetPosition(int v) {
  v = std::max(min_, std::min(max_, v));
  if (v == GetPosition()) return;
  position_ = v;
  if (handle_) SendMessageA(handle_, TBM_SETPOS, TRUE, v);
  if (!InState(csLoading)) Changed();
}

void TTrackBar::SetFrequency(int v) {
  if (v == frequency_ || v <= 0) return;
  frequency_ = v;
  if (handle_) SendMessageA(handle_, TBM_SETTICFREQ, static_cast<WPARAM>(v), 0);
}

void TTrackBar::SetThumbLength(int v) {
  if (v == thumbLength_ || v <= 0) return;
  thumbLength_ = v;
  if (handle_) SendMessageA(handle_, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(v), 0);
}

void TTrackBar::SetOrientation(TTrackBarOrientation o) {
  if (o == orientation_) return;
  orientation_ = o;
  std::swap(width_, height_);
  RecreateWnd();
}

void TTrackBar::Changed() {
  if (OnChange) OnChange(this);
}

void TTrackBar::WndProc(TMessage& m) {
  if (m.Msg == CN_HSCROLL || m.Msg == CN_VSCROLL) {
    int old = position_;
    if (GetPosition() != old) Changed();
    return;
  }
  TWinControl::WndProc(m);
}

}  // namespace ui
