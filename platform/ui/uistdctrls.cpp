#include "uistdctrls.h"

#include <algorithm>
#include <cctype>

#include "uiactions.h"
#include "uifiler.h"
#include "uiforms.h"
#include "uimenus.h"
#include "uithemes.h"

namespace ui {

static std::vector<TPropInfo> EditProps() {
  using T = TCustomEdit;
  return {prop::Str("Text", &T::GetTextProp, &T::SetTextProp),
          prop::Bool("ReadOnly", &T::GetReadOnly, &T::SetReadOnly, false),
          prop::Int("MaxLength", &T::GetMaxLength, &T::SetMaxLength, true, 0),
          prop::Char("PasswordChar", &T::GetPasswordChar, &T::SetPasswordChar, true, '\0'),
          prop::Bool("AutoSelect", &T::GetAutoSelect, &T::SetAutoSelect, true),
          prop::Enum("CharCase", &T::GetCharCase, &T::SetCharCase, {"ecNormal", "ecUpperCase", "ecLowerCase"}, true, ecNormal),
          prop::Enum("BorderStyle", &T::GetBorderStyle, &T::SetBorderStyle, {"bsNone", "bsSingle"}, true, bsSingleBorder),
          prop::Bool("HideSelection", &T::GetHideSelection, &T::SetHideSelection, true),
          prop::Bool("OEMConvert", &T::GetOEMConvert, &T::SetOEMConvert, false),
          prop::Bool("AutoSize", &T::GetAutoSize, &T::SetAutoSize, true),
          prop::Event("OnChange", &T::OnChange)};
}
static std::vector<TPropInfo> LabelProps() {
  using T = TCustomLabel;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Bool("AutoSize", &T::GetAutoSize, &T::SetAutoSize, true),
          prop::Enum("Alignment", &T::GetAlignment, &T::SetAlignment, {"taLeftJustify", "taRightJustify", "taCenter"}, true,
                     taLeftJustify),
          prop::Enum("Layout", &T::GetLayout, &T::SetLayout, {"tlTop", "tlCenter", "tlBottom"}, true, tlTop),
          prop::Bool("WordWrap", &T::GetWordWrap, &T::SetWordWrap, false),
          prop::Bool("ShowAccelChar", &T::GetShowAccelChar, &T::SetShowAccelChar, true),
          prop::Bool("Transparent", &T::GetTransparent, &T::SetTransparent, false),
          prop::Object<T, TWinControl>("FocusControl", &T::GetFocusControl, &T::SetFocusControl)};
}
static std::vector<TPropInfo> ButtonProps() {
  using T = TButton;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Bool("Default", &T::GetDefault, &T::SetDefault, false),
          prop::Bool("Cancel", &T::GetCancel, &T::SetCancel, false),
          prop::Int("ModalResult", &T::GetModalResult, &T::SetModalResult, true, 0)};
}
static std::vector<TPropInfo> GroupBoxProps() {
  return {prop::Str("Caption", &TCustomGroupBox::GetCaption, &TCustomGroupBox::SetCaption)};
}
static std::vector<TPropInfo> PanelProps() {
  using T = TCustomPanel;
  std::vector<std::string> cuts{"bvNone", "bvLowered", "bvRaised", "bvSpace"};
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Enum("BevelInner", &T::GetBevelInner, &T::SetBevelInner, cuts, true, bvNone),
          prop::Enum("BevelOuter", &T::GetBevelOuter, &T::SetBevelOuter, cuts, true, bvRaised),
          prop::Int("BevelWidth", &T::GetBevelWidth, &T::SetBevelWidth, true, 1),
          prop::Int("BorderWidth", &T::GetBorderWidth, &T::SetBorderWidth, true, 0),
          prop::Bool("FullRepaint", &T::GetFullRepaint, &T::SetFullRepaint, true),
          prop::Enum("BorderStyle", &T::GetBorderStyle, &T::SetBorderStyle, {"bsNone", "bsSingle"}, true, bsNoBorder),
          prop::Bool("AutoSize", &T::GetAutoSize, &T::SetAutoSize, false),
          prop::Bool("Locked", &T::GetLocked, &T::SetLocked, false),
          prop::Enum("Alignment", &T::GetAlignment, &T::SetAlignment, {"taLeftJustify", "taRightJustify", "taCenter"}, true,
                     taCenter)};
}

UI_IMPLEMENT_CLASS(TCustomEdit, TWinControl, nullptr, EditProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TEdit, TCustomEdit, DefaultFactory<TEdit>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomLabel, TGraphicControl, nullptr, LabelProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TLabel, TCustomLabel, DefaultFactory<TLabel>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TButtonControl, TWinControl, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TButton, TButtonControl, DefaultFactory<TButton>, ButtonProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomGroupBox, TCustomControl, nullptr, GroupBoxProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TGroupBox, TCustomGroupBox, DefaultFactory<TGroupBox>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCustomPanel, TCustomControl, nullptr, PanelProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TPanel, TCustomPanel, DefaultFactory<TPanel>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TEdit::StaticClassInfo, &TLabel::StaticClassInfo, &TButton::StaticClassInfo,
                     &TGroupBox::StaticClassInfo, &TPanel::StaticClassInfo});
  }
} registered;
}  // namespace

bool IsAccel(unsigned c, const std::string& caption) {
  char hot = GetHotkey(caption);
  return hot && std::toupper(static_cast<int>(c & 0xFF)) == static_cast<unsigned char>(hot);
}

void Frame3D(TCanvas* c, RECT& r, TColor topLeft, TColor bottomRight, int width) {
  c->Pen()->SetWidth(1);
  --r.right;
  --r.bottom;
  for (int i = 0; i < width; ++i) {
    c->Pen()->SetColor(topLeft);
    POINT tl[] = {{r.left, r.bottom}, {r.left, r.top}, {r.right, r.top}};
    c->Polyline(tl, 3);
    c->Pen()->SetColor(bottomRight);
    POINT br[] = {{r.right, r.top}, {r.right, r.bottom}, {r.left - 1, r.bottom}};
    c->Polyline(br, 3);
    InflateRect(&r, -1, -1);
  }
  ++r.right;
  ++r.bottom;
}

// ---- TCustomEdit ----

TCustomEdit::TCustomEdit() {
  width_ = 121;
  height_ = 21;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
  brush_->SetColor(color_);
}

void TCustomEdit::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  CreateSubClass(p, "EDIT");
  p.Style |= ES_AUTOHSCROLL | ES_LEFT;
  if (readOnly_) p.Style |= ES_READONLY;
  if (!hideSelection_) p.Style |= ES_NOHIDESEL;
  if (charCase_ == ecUpperCase) p.Style |= ES_UPPERCASE;
  if (charCase_ == ecLowerCase) p.Style |= ES_LOWERCASE;
  if (passwordChar_) p.Style |= ES_PASSWORD;
  if (oemConvert_) p.Style |= ES_OEMCONVERT;
  if (borderStyle_ == bsSingleBorder) {
    if (ctl3D_)
      p.ExStyle |= WS_EX_CLIENTEDGE;
    else
      p.Style |= WS_BORDER;
  }
}

void TCustomEdit::CreateWnd() {
  creating_ = true;
  try {
    TWinControl::CreateWnd();
  } catch (...) {
    creating_ = false;
    throw;
  }
  creating_ = false;
  SendMessageA(handle_, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
  if (passwordChar_) SendMessageA(handle_, EM_SETPASSWORDCHAR, static_cast<uint8_t>(passwordChar_), 0);
  SendMessageA(handle_, EM_SETMODIFY, modified_, 0);
  AdjustHeight();
}

void TCustomEdit::SetAutoSize(bool v) {
  if (v == autoSize_) return;
  autoSize_ = v;
  AdjustHeight();
}

void TCustomEdit::AdjustHeight() {
  if (!autoSize_ || !handle_ || InState(csLoading)) return;
  HDC dc = GetDC(handle_);
  HGDIOBJ old = SelectObject(dc, font_->GetHandle());
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(handle_, dc);
  RECT w, c;
  GetWindowRect(handle_, &w);
  ::GetClientRect(handle_, &c);
  const int frame = (w.bottom - w.top) - c.bottom;
  // One line of text, with a margin of two pixels above and below inside a border.
  SetHeight(tm.tmHeight + frame + (borderStyle_ == bsSingleBorder ? 4 : 0));
}

void TCustomEdit::SetReadOnly(bool v) {
  if (v == readOnly_) return;
  readOnly_ = v;
  if (handle_) SendMessageA(handle_, EM_SETREADONLY, v, 0);
}

void TCustomEdit::SetMaxLength(int v) {
  if (v == maxLength_) return;
  maxLength_ = v;
  if (handle_) SendMessageA(handle_, EM_LIMITTEXT, static_cast<WPARAM>(v), 0);
}

void TCustomEdit::SetPasswordChar(char c) {
  if (c == passwordChar_) return;
  passwordChar_ = c;
  if (handle_) {
    SendMessageA(handle_, EM_SETPASSWORDCHAR, static_cast<uint8_t>(c), 0);
    Invalidate();
  }
}

void TCustomEdit::SetCharCase(TEditCharCase c) {
  if (c == charCase_) return;
  charCase_ = c;
  RecreateWnd();
}

void TCustomEdit::SetOEMConvert(bool v) {
  if (v == oemConvert_) return;
  oemConvert_ = v;
  RecreateWnd();
}

void TCustomEdit::SetBorderStyle(TBorderStyle b) {
  if (b == borderStyle_) return;
  borderStyle_ = b;
  RecreateWnd();
}

void TCustomEdit::SetHideSelection(bool v) {
  if (v == hideSelection_) return;
  hideSelection_ = v;
  RecreateWnd();
}

bool TCustomEdit::GetModified() {
  if (handle_) modified_ = SendMessageA(handle_, EM_GETMODIFY, 0, 0) != 0;
  return modified_;
}

void TCustomEdit::SetModified(bool v) {
  modified_ = v;
  if (handle_) SendMessageA(handle_, EM_SETMODIFY, v, 0);
}

int TCustomEdit::GetSelStart() {
  DWORD s = 0;
  SendMessageA(GetHandle(), EM_GETSEL, reinterpret_cast<WPARAM>(&s), 0);
  return static_cast<int>(s);
}

void TCustomEdit::SetSelStart(int v) { SendMessageA(GetHandle(), EM_SETSEL, static_cast<WPARAM>(v), v); }

int TCustomEdit::GetSelLength() {
  DWORD s = 0, e = 0;
  SendMessageA(GetHandle(), EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  return static_cast<int>(e - s);
}

void TCustomEdit::SetSelLength(int v) {
  DWORD s = 0;
  SendMessageA(GetHandle(), EM_GETSEL, reinterpret_cast<WPARAM>(&s), 0);
  SendMessageA(handle_, EM_SETSEL, s, static_cast<LPARAM>(s + static_cast<DWORD>(v)));
  SendMessageA(handle_, EM_SCROLLCARET, 0, 0);
}

std::string TCustomEdit::GetSelText() {
  std::string t = GetText();
  int s = GetSelStart(), n = GetSelLength();
  if (s < 0 || s > static_cast<int>(t.size())) return std::string();
  return t.substr(static_cast<size_t>(s), static_cast<size_t>(n));
}

void TCustomEdit::SetSelText(const std::string& s) {
  SendMessageA(GetHandle(), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(s.c_str()));
}

void TCustomEdit::SelectAll() {
  if (handle_) SendMessageA(handle_, EM_SETSEL, 0, -1);
}

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

void TCustomEdit::DoEnter() {
  if (autoSelect_ && !(GetKeyState(VK_LBUTTON) < 0)) SelectAll();
  TWinControl::DoEnter();
}

void TCustomEdit::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_CTL3DCHANGED:
      RecreateWnd();  // the border style depends on it
      break;
    case CM_FONTCHANGED:
      TWinControl::WndProc(m);
      AdjustHeight();
      return;
    case CN_COMMAND:
      // The edit's own change notification, reflected by its parent; none while the window is made.
      if (HIWORD(m.WParam) == EN_CHANGE && !creating_) Change();
      return;
    case CM_TEXTCHANGED:
      // Text set without a window (or through the library) also counts as a change.
      if (!handle_ && !InState(csLoading)) Change();
      break;
  }
  TWinControl::WndProc(m);
}

// ---- TCustomLabel ----

TCustomLabel::TCustomLabel() {
  width_ = 65;
  height_ = 17;
}

std::string TCustomLabel::GetLabelText() { return GetCaption(); }

void TCustomLabel::DoDrawText(RECT& r, UINT flags) {
  std::string text = GetLabelText();
  if ((flags & DT_CALCRECT) && (text.empty() || (showAccelChar_ && text == "&"))) text += ' ';
  if (!showAccelChar_) flags |= DT_NOPREFIX;
  canvas_->SetFont(font_);
  HDC dc = canvas_->GetHandle();
  if (!enabled_) {
    // Disabled text is embossed: highlight below-right, shadow on top.
    OffsetRect(&r, 1, 1);
    SetTextColor(dc, ColorToRGB(clBtnHighlight));
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
    OffsetRect(&r, -1, -1);
    SetTextColor(dc, ColorToRGB(clBtnShadow));
  }
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
}

void TCustomLabel::Paint() {
  static const UINT kAlign[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
  RECT r = GetClientRect();
  if (!transparent_) {
    canvas_->Brush()->SetColor(color_);
    canvas_->Brush()->SetStyle(bsSolid);
    canvas_->FillRect(r);
  }
  canvas_->Brush()->SetStyle(bsClear);
  UINT flags = DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0) | kAlign[alignment_];
  if (layout_ != tlTop) {
    RECT calc = r;
    DoDrawText(calc, flags | DT_CALCRECT);
    int h = calc.bottom - calc.top;
    r.top = layout_ == tlBottom ? r.bottom - h : (r.top + r.bottom - h) / 2;
  }
  DoDrawText(r, flags);
}

void TCustomLabel::AdjustBounds() {
  if (!autoSize_ || InState(csLoading) || !parent_ || !parent_->HandleAllocated()) return;
  RECT r{0, 0, width_, 0};
  HDC screen = GetDC(nullptr);
  canvas_->SetHandle(screen);
  DoDrawText(r, DT_EXPANDTABS | DT_CALCRECT | (wordWrap_ ? DT_WORDBREAK : 0));
  canvas_->SetHandle(nullptr);
  ReleaseDC(nullptr, screen);
  int x = left_;
  if (alignment_ == taRightJustify) x = left_ + width_ - r.right;
  SetBounds(x, top_, r.right, r.bottom);
}

void TCustomLabel::Loaded() {
  TGraphicControl::Loaded();
  AdjustBounds();
}

void TCustomLabel::SetAutoSize(bool v) {
  if (v == autoSize_) return;
  autoSize_ = v;
  AdjustBounds();
}

#define LABEL_SETTER(Name, field, T) \
  void TCustomLabel::Set##Name(T v) {  \
    if (field == v) return;            \
    field = v;                         \
    AdjustBounds();                    \
    Invalidate();                      \
  }
LABEL_SETTER(Alignment, alignment_, TAlignment)
LABEL_SETTER(Layout, layout_, TTextLayout)
LABEL_SETTER(WordWrap, wordWrap_, bool)
LABEL_SETTER(ShowAccelChar, showAccelChar_, bool)
LABEL_SETTER(Transparent, transparent_, bool)
#undef LABEL_SETTER

void TCustomLabel::SetFocusControl(TWinControl* c) {
  if (focusControl_) focusControl_->RemoveFreeNotification(this);
  focusControl_ = c;
  if (c) c->FreeNotification(this);
}

void TCustomLabel::Notification(TComponent* c, TOperation op) {
  TGraphicControl::Notification(c, op);
  if (op == opRemove && c == focusControl_) focusControl_ = nullptr;
}

void TCustomLabel::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_TEXTCHANGED:
    case CM_FONTCHANGED:
      AdjustBounds();
      Invalidate();
      break;
    case CM_DIALOGCHAR:
      if (focusControl_ && enabled_ && showAccelChar_ && IsAccel(static_cast<unsigned>(m.WParam), GetCaption()) &&
          focusControl_->CanFocus()) {
        focusControl_->SetFocus();
        m.Result = 1;
      }
      return;
  }
  TGraphicControl::WndProc(m);
}

// ---- TButton ----

TButton::TButton() {
  width_ = 75;
  height_ = 25;
}

void TButton::CreateParams(TCreateParams& p) {
  TButtonControl::CreateParams(p);
  CreateSubClass(p, "BUTTON");
  p.Style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::SetDefault(bool v) {
  if (v == default_) return;
  default_ = v;
  if (handle_) SendMessageA(handle_, BM_SETSTYLE, v ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
  if (TCustomForm* f = GetParentForm(this))
    if (modalResult_ != mrNone) f->SetModalResult(modalResult_);
  TButtonControl::Click();
}

void TButton::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CN_COMMAND:
      if (HIWORD(m.WParam) == BN_CLICKED) Click();
      return;
    case CM_DIALOGKEY:
      // Enter presses the default button, Escape the cancel button.
      if ((m.WParam == VK_RETURN && default_) || (m.WParam == VK_ESCAPE && cancel_)) {
        if (CanFocus()) {
          Click();
          m.Result = 1;
        }
        return;
      }
      break;
    case CM_DIALOGCHAR:
      if (IsAccel(static_cast<unsigned>(m.WParam), GetCaption()) && CanFocus()) {
        Click();
        m.Result = 1;
      }
      return;
  }
  TButtonControl::WndProc(m);
}

// ---- TCustomGroupBox ----

TCustomGroupBox::TCustomGroupBox() {
  width_ = 185;
  height_ = 105;
}

void TCustomGroupBox::CreateParams(TCreateParams& p) {
  TCustomControl::CreateParams(p);
  p.WindowClass.style &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
  p.Style |= WS_CLIPCHILDREN;
}

RECT TCustomGroupBox::GetClientRect() {
  RECT r = TCustomControl::GetClientRect();
  // Children sit below the caption line and inside the frame.
  int h = 13;
  if (HandleAllocated()) {
    canvas_->SetFont(font_);
    h = canvas_->TextHeight("0");
    canvas_->SetHandle(nullptr);
    static_cast<TControlCanvas*>(canvas_)->FreeHandle();
  }
  InflateRect(&r, -1, -1);
  r.top += h - 1;
  return r;
}

void TCustomGroupBox::Paint() {
  canvas_->SetFont(font_);
  int h = canvas_->TextHeight("0");
  RECT r{0, h / 2 - 1, width_, height_};
  canvas_->Brush()->SetColor(color_);
  canvas_->Brush()->SetStyle(bsSolid);
  RECT all = TCustomControl::GetClientRect();
  canvas_->FillRect(all);
  canvas_->Brush()->SetStyle(bsClear);
  RECT f = r;
  ++f.left;
  ++f.top;
  canvas_->Brush()->SetColor(clBtnHighlight);
  canvas_->FrameRect(f);
  OffsetRect(&f, -1, -1);
  canvas_->Brush()->SetColor(clBtnShadow);
  canvas_->FrameRect(f);
  std::string text = GetCaption();
  if (!text.empty()) {
    RECT t{8, 0, 0, h};
    HDC dc = canvas_->GetHandle();
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE | DT_CALCRECT);
    canvas_->Brush()->SetColor(color_);
    canvas_->Brush()->SetStyle(bsSolid);
    dc = canvas_->GetHandle();
    SetBkMode(dc, OPAQUE);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &t, DT_SINGLELINE);
  }
}

void TCustomGroupBox::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_DIALOGCHAR:
      if (IsAccel(static_cast<unsigned>(m.WParam), GetCaption()) && CanFocus()) {
        if (TWinControl* c = FindNextControl(nullptr, true, true, true)) c->SetFocus();
        m.Result = 1;
        return;
      }
      break;
    case CM_TEXTCHANGED:
    case CM_FONTCHANGED:
      Invalidate();
      break;
  }
  TCustomControl::WndProc(m);
}

// ---- TCustomPanel ----

TCustomPanel::TCustomPanel() {
  width_ = 185;
  height_ = 41;
  bevelInner_ = bvNone;
  bevelOuter_ = bvRaised;
}

void TCustomPanel::CreateParams(TCreateParams& p) {
  TCustomControl::CreateParams(p);
  if (borderStyle_ == bsSingleBorder) {
    if (ctl3D_)
      p.ExStyle |= WS_EX_CLIENTEDGE;
    else
      p.Style |= WS_BORDER;
  }
  // The panel decides itself what a resize repaints (FullRepaint).
  p.WindowClass.style &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TCustomPanel::SetBorderStyle(TBorderStyle v) {
  if (v == borderStyle_) return;
  borderStyle_ = v;
  RecreateWnd();
}

void TCustomPanel::SetAutoSize(bool v) {
  if (v == autoSize_) return;
  autoSize_ = v;
  AdjustSize();
}

void TCustomPanel::AdjustSize() {
  if (!autoSize_ || adjusting_ || InState(csLoading | csDestroying)) return;
  int right = -1, bottom = -1;
  for (TControl* c : controls_) {
    if (!c->GetVisible() || c->GetAlign() != alNone) continue;
    right = std::max(right, c->GetLeft() + c->GetWidth());
    bottom = std::max(bottom, c->GetTop() + c->GetHeight());
  }
  if (right < 0) return;
  // The children sit in the window's client area; the panel's own client rectangle is inset by the
  // bevels and border, and the window may have a frame.
  const RECT whole = TCustomControl::GetClientRect(), inner = GetClientRect();
  const int frameW = width_ - (whole.right - whole.left), frameH = height_ - (whole.bottom - whole.top);
  adjusting_ = true;
  try {
    SetBounds(left_, top_, right + (whole.right - inner.right) + frameW, bottom + (whole.bottom - inner.bottom) + frameH);
  } catch (...) {
    adjusting_ = false;
    throw;
  }
  adjusting_ = false;
}

RECT TCustomPanel::GetClientRect() {
  RECT r = TCustomControl::GetClientRect();
  int b = borderWidth_ + (bevelOuter_ != bvNone ? bevelWidth_ : 0) + (bevelInner_ != bvNone ? bevelWidth_ : 0);
  InflateRect(&r, -b, -b);
  return r;
}

void TCustomPanel::Paint() {
  RECT r = TCustomControl::GetClientRect();
  auto colors = [](TBevelCut cut, TColor& tl, TColor& br) {
    tl = cut == bvLowered ? clBtnShadow : clBtnHighlight;
    br = cut == bvLowered ? clBtnHighlight : clBtnShadow;
  };
  TColor tl, br;
  if (bevelOuter_ != bvNone) {
    colors(bevelOuter_, tl, br);
    Frame3D(canvas_, r, tl, br, bevelWidth_);
  }
  // With themes a panel on its parent's background paints neither its border nor its inside.
  const bool parentBackground = parentBackground_ && ThemeServices().ThemesEnabled();
  if (parentBackground) {
    InflateRect(&r, -borderWidth_, -borderWidth_);
  } else if (borderWidth_ > 0) {
    canvas_->Brush()->SetColor(color_);
    RECT b = r;
    for (int i = 0; i < borderWidth_; ++i) {
      canvas_->FrameRect(b);
      InflateRect(&b, -1, -1);
    }
    r = b;
  }
  if (bevelInner_ != bvNone) {
    colors(bevelInner_, tl, br);
    Frame3D(canvas_, r, tl, br, bevelWidth_);
  }
  if (!parentBackground) {
    canvas_->Brush()->SetColor(color_);
    canvas_->Brush()->SetStyle(bsSolid);
    canvas_->FillRect(r);
  }
  std::string text = GetCaption();
  if (!text.empty()) {
    static const UINT kAlign[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
    canvas_->SetFont(font_);
    canvas_->Brush()->SetStyle(bsClear);
    HDC dc = canvas_->GetHandle();
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DrawTextBiDiModeFlags(DT_SINGLELINE | DT_VCENTER | kAlign[alignment_]));
  }
}

#define PANEL_SETTER(Name, field, T) \
  void TCustomPanel::Set##Name(T v) {  \
    if (field == v) return;            \
    field = v;                         \
    AlignControls();                   \
    Invalidate();                      \
  }
PANEL_SETTER(BorderWidth, borderWidth_, int)
PANEL_SETTER(Alignment, alignment_, TAlignment)
#undef PANEL_SETTER

void TCustomPanel::WndProc(TMessage& m) {
  if (m.Msg == CM_TEXTCHANGED || m.Msg == CM_FONTCHANGED || m.Msg == CM_COLORCHANGED) Invalidate();
  if (m.Msg == CM_BORDERCHANGED) {
    AlignControls();
    Invalidate();
  }
  if (m.Msg == WM_WINDOWPOSCHANGED && handle_) {
    const auto* pos = reinterpret_cast<const WINDOWPOS*>(m.LParam);
    if (!(pos->flags & SWP_NOSIZE) && (pos->cx != width_ || pos->cy != height_)) {
      if (fullRepaint_ || GetTextLen() > 0) {
        InvalidateRect(handle_, nullptr, TRUE);
      } else {
        // Only the bevels at the right and bottom edges move; the inside keeps its colour.
        int bevel = borderWidth_ + (bevelInner_ != bvNone ? bevelWidth_ : 0) + (bevelOuter_ != bvNone ? bevelWidth_ : 0);
        if (bevel > 0) {
          int oldW = std::min(width_, pos->cx), oldH = std::min(height_, pos->cy);
          RECT right{oldW - bevel - 1, 0, pos->cx, pos->cy};
          RECT bottom{0, oldH - bevel - 1, pos->cx, pos->cy};
          InvalidateRect(handle_, &right, TRUE);
          InvalidateRect(handle_, &bottom, TRUE);
        }
      }
    }
  }
  TCustomControl::WndProc(m);
}

TClass TButtonControl::GetActionLinkClass() { return &TButtonActionLink::StaticClassInfo; }

}  // namespace ui
