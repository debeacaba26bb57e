// The wide standard controls: Unicode windows, wide texts, wide drawing and accelerators.
#include "VelStdCtrls.h"

#include <commctrl.h>

#include "VelControls.h"
#include "VelForms.h"
#include "VelSysUtils.h"
#include "VelWindows.h"
#include "uifiler.h"
#include "uithemes.h"

using namespace ui;

namespace {

// Theme part and states of the group box in the "BUTTON" class.
constexpr int kGroupBoxPart = 4;       // BP_GROUPBOX
constexpr int kGroupBoxNormal = 1;     // GBS_NORMAL
constexpr int kGroupBoxDisabled = 2;   // GBS_DISABLED
// Distance of a group box caption from the frame's left end.
constexpr int kCaptionIndent = 8;

// The 8-bit stand-in of a wide password character.
char PasswordSubstitute(wchar_t c) { return c < 256 ? static_cast<char>(c) : '*'; }

SIZE WideTextExtent(HDC dc, const std::wstring& text) {
  SIZE size = {0, 0};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

std::vector<TPropInfo> VelEditProps() {
  using T = TVelCustomEdit;
  TPropInfo text = prop::WStr("Text", &T::GetText, &T::SetText);
  text.Stored = [](TObject* o) { return IsWideCaptionStored(static_cast<T*>(o)); };
  return {text, WideHintProp<T>(),
          prop::Char("PasswordChar", &T::GetPasswordCharText, &T::SetPasswordCharText, true, L'\0')};
}
std::vector<TPropInfo> VelLabelProps() {
  using T = TVelCustomLabel;
  return {WideCaptionProp<T>("Caption"), WideHintProp<T>()};
}
std::vector<TPropInfo> VelButtonProps() {
  using T = TVelButton;
  return {WideCaptionProp<T>("Caption"), WideHintProp<T>()};
}
std::vector<TPropInfo> VelGroupBoxProps() {
  using T = TVelCustomGroupBox;
  return {WideCaptionProp<T>("Caption"), WideHintProp<T>()};
}

}  // namespace

UI_IMPLEMENT_CLASS(TVelCustomEdit, TCustomEdit, nullptr, VelEditProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelEdit, TVelCustomEdit, DefaultFactory<TVelEdit>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelCustomLabel, TCustomLabel, nullptr, VelLabelProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelLabel, TVelCustomLabel, DefaultFactory<TVelLabel>, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelButton, TButton, DefaultFactory<TVelButton>, VelButtonProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelCustomGroupBox, TCustomGroupBox, nullptr, VelGroupBoxProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TVelGroupBox, TVelCustomGroupBox, DefaultFactory<TVelGroupBox>, nullptr, nullptr, nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TVelEdit::StaticClassInfo, &TVelLabel::StaticClassInfo, &TVelButton::StaticClassInfo,
                     &TVelGroupBox::StaticClassInfo});
  }
} registered;
}  // namespace

void CreateUnicodeHandle_ComCtl(TWinControl* control, const TCreateParams& params, const std::wstring& className) {
  if (className.empty())
    throw EAssertionFailed("VEL Internal Error: Only call CreateUnicodeHandle_ComCtl for Common Controls.");
  CreateUnicodeWindowHandle(control, params, className);
  if (IsUnicodePlatform && control->HandleAllocated())
    SendMessageW(control->GetHandle(), CCM_SETUNICODEFORMAT, 1, 0);
}

// ---- Edit -----------------------------------------------------------------------------------

std::wstring TVelCustomEdit::GetText() const { return WideGetControlText(const_cast<TVelCustomEdit*>(this)); }
void TVelCustomEdit::SetText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelCustomEdit::GetHintText() const { return WideGetControlHint(const_cast<TVelCustomEdit*>(this)); }
void TVelCustomEdit::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelCustomEdit::CreateWindowHandle(const TCreateParams& params) {
  if (SysLocaleFarEast && !IsUnicodePlatform && (params.Style & ES_READONLY)) {
    // Read-only double-byte edits made read-only at creation lose their input method's display;
    // the style is applied after creation instead.
    TCreateParams copy = params;
    copy.Style &= ~static_cast<DWORD>(ES_READONLY);
    CreateUnicodeWindowHandle(this, copy, L"EDIT");
    if (HandleAllocated()) SendMessageA(handle_, EM_SETREADONLY, 1, 0);
    return;
  }
  CreateUnicodeWindowHandle(this, params, L"EDIT");
}

void TVelCustomEdit::CreateWnd() {
  inherited::CreateWnd();
  const wchar_t c = GetPasswordCharText();
  if (IsUnicodePlatform && handle_) SendMessageW(handle_, EM_SETPASSWORDCHAR, c, 0);
}

wchar_t TVelCustomEdit::GetPasswordCharText() const {
  const char base = GetPasswordChar();
  if (PasswordSubstitute(passwordChar_) != base) passwordChar_ = static_cast<unsigned char>(base);
  return passwordChar_;
}

void TVelCustomEdit::SetPasswordCharText(wchar_t c) {
  if (c == GetPasswordCharText()) return;
  passwordChar_ = c;
  if (IsUnicodePlatform && handle_) {
    // The base is shown no window while it stores its 8-bit character, so that it does no window
    // work of its own; the wide character goes to the window afterwards.
    HWND window = handle_;
    handle_ = nullptr;
    try {
      inherited::SetPasswordChar(PasswordSubstitute(c));
    } catch (...) {
      handle_ = window;
      throw;
    }
    handle_ = window;
    SendMessageW(handle_, EM_SETPASSWORDCHAR, c, 0);
    Invalidate();
  } else {
    inherited::SetPasswordChar(PasswordSubstitute(c));
  }
}

int TVelCustomEdit::GetWideSelStart() {
  if (IsUnicodePlatform) return inherited::GetSelStart();
  const std::string text = TControl::GetText();
  const size_t bytes = static_cast<size_t>(inherited::GetSelStart());
  return static_cast<int>(AnsiToWide(text.substr(0, bytes)).size());
}

void TVelCustomEdit::SetWideSelStart(int value) {
  if (IsUnicodePlatform) {
    inherited::SetSelStart(value);
    return;
  }
  const std::wstring text = GetText();
  inherited::SetSelStart(static_cast<int>(WideToAnsi(text.substr(0, static_cast<size_t>(value))).size()));
}

int TVelCustomEdit::GetWideSelLength() {
  if (IsUnicodePlatform) return inherited::GetSelLength();
  return static_cast<int>(GetWideSelText().size());
}

void TVelCustomEdit::SetWideSelLength(int value) {
  if (IsUnicodePlatform) {
    inherited::SetSelLength(value);
    return;
  }
  const std::wstring text = GetText();
  const size_t start = static_cast<size_t>(GetWideSelStart());
  const std::wstring part = start < text.size() ? text.substr(start, static_cast<size_t>(value)) : std::wstring();
  inherited::SetSelLength(static_cast<int>(WideToAnsi(part).size()));
}

std::wstring TVelCustomEdit::GetWideSelText() {
  if (!IsUnicodePlatform) return AnsiToWide(inherited::GetSelText());
  const std::wstring text = GetText();
  const size_t start = static_cast<size_t>(inherited::GetSelStart());
  if (start >= text.size()) return std::wstring();
  return text.substr(start, static_cast<size_t>(inherited::GetSelLength()));
}

// ---- Label ----------------------------------------------------------------------------------

std::wstring TVelCustomLabel::GetCaptionText() const {
  return WideGetControlText(const_cast<TVelCustomLabel*>(this));
}
void TVelCustomLabel::SetCaptionText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelCustomLabel::GetHintText() const { return WideGetControlHint(const_cast<TVelCustomLabel*>(this)); }
void TVelCustomLabel::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }
std::wstring TVelCustomLabel::GetWideLabelText() { return GetCaptionText(); }

void TVelCustomLabel::DoDrawText(RECT& r, UINT flags) {
  if (!IsUnicodePlatform) {
    inherited::DoDrawText(r, flags);
    return;
  }
  std::wstring text = GetWideLabelText();
  if ((flags & DT_CALCRECT) && (text.empty() || (GetShowAccelChar() && text == L"&"))) text += L' ';
  if (!GetShowAccelChar()) flags |= DT_NOPREFIX;
  flags = DrawTextBiDiModeFlags(flags);
  canvas_->SetFont(font_);
  HDC dc = canvas_->GetHandle();
  if (!enabled_) {
    OffsetRect(&r, 1, 1);
    SetTextColor(dc, ColorToRGB(clBtnHighlight));
    WideDrawText(dc, text.c_str(), -1, &r, flags);
    OffsetRect(&r, -1, -1);
    SetTextColor(dc, ColorToRGB(clBtnShadow));
  }
  WideDrawText(dc, text.c_str(), -1, &r, flags);
}

void TVelCustomLabel::WndProc(TMessage& m) {
  if (m.Msg == CM_HINTSHOW) ProcessWideHintShow(reinterpret_cast<THintInfo*>(m.LParam));
  if (m.Msg == CM_DIALOGCHAR) {
    TWinControl* focus = GetFocusControl();
    if (focus && enabled_ && GetShowAccelChar() &&
        IsWideCharAccel(static_cast<unsigned>(m.WParam), GetCaptionText()) && focus->CanFocus()) {
      focus->SetFocus();
      m.Result = 1;
    }
    return;
  }
  inherited::WndProc(m);
}

// ---- Button ---------------------------------------------------------------------------------

std::wstring TVelButton::GetCaptionText() const { return WideGetControlText(const_cast<TVelButton*>(this)); }
void TVelButton::SetCaptionText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelButton::GetHintText() const { return WideGetControlHint(const_cast<TVelButton*>(this)); }
void TVelButton::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelButton::CreateWindowHandle(const TCreateParams& params) { CreateUnicodeWindowHandle(this, params, L"BUTTON"); }

bool WideButtonDialogChar(TButton* button, TMessage& m) {
  if (IsWideCharAccel(static_cast<unsigned>(m.WParam), WideGetControlText(button)) && button->CanFocus()) {
    button->Click();
    m.Result = 1;
    return true;
  }
  return false;
}

void TVelButton::WndProc(TMessage& m) {
  // A button has no children to pass an unmatched character on to.
  if (m.Msg == CM_DIALOGCHAR) {
    WideButtonDialogChar(this, m);
    return;
  }
  inherited::WndProc(m);
}

// ---- Group box ------------------------------------------------------------------------------

std::wstring TVelCustomGroupBox::GetCaptionText() const {
  return WideGetControlText(const_cast<TVelCustomGroupBox*>(this));
}
void TVelCustomGroupBox::SetCaptionText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelCustomGroupBox::GetHintText() const {
  return WideGetControlHint(const_cast<TVelCustomGroupBox*>(this));
}
void TVelCustomGroupBox::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelCustomGroupBox::CreateWindowHandle(const TCreateParams& params) {
  CreateUnicodeWindowHandle(this, params, std::wstring());
}

void TVelCustomGroupBox::WndProc(TMessage& m) {
  if (m.Msg == CM_DIALOGCHAR) {
    // Unmatched characters reach the children through the form's own search.
    if (IsWideCharAccel(static_cast<unsigned>(m.WParam), GetCaptionText()) && CanFocus()) {
      if (TWinControl* first = FindNextControl(nullptr, true, true, true)) first->SetFocus();
      m.Result = 1;
    }
    return;
  }
  inherited::WndProc(m);
}

void TVelCustomGroupBox::Paint() {
  if (!IsUnicodePlatform) {
    inherited::Paint();
    return;
  }
  canvas_->SetFont(font_);
  if (ThemeServices().ThemesEnabled())
    PaintThemed();
  else
    PaintClassic();
}

void TVelCustomGroupBox::PaintThemed() {
  const std::wstring caption = GetCaptionText();
  HDC dc = canvas_->GetHandle();
  RECT captionRect = {0, 0, 0, 0};
  if (!caption.empty()) {
    const SIZE extent = WideTextExtent(dc, caption);
    captionRect = {kCaptionIndent, 0, kCaptionIndent + extent.cx, extent.cy};
    if (UseRightToLeftAlignment()) OffsetRect(&captionRect, width_ - extent.cx - kCaptionIndent - captionRect.left, 0);
  }
  RECT frame = TCustomControl::GetClientRect();
  frame.top = (captionRect.bottom - captionRect.top) / 2;
  // Children and the parent's background show through where the theme leaves the box open.
  RECT all = TCustomControl::GetClientRect();
  canvas_->Brush()->SetColor(color_);
  canvas_->Brush()->SetStyle(bsSolid);
  canvas_->FillRect(all);
  dc = canvas_->GetHandle();
  ExcludeClipRect(dc, captionRect.left, captionRect.top, captionRect.right, captionRect.bottom);
  ThemeServices().DrawElement(dc, {L"BUTTON", kGroupBoxPart, enabled_ ? kGroupBoxNormal : kGroupBoxDisabled}, frame);
  SelectClipRgn(dc, nullptr);
  if (!TControl::GetText().empty()) {
    SetBkMode(dc, TRANSPARENT);
    WideDrawText(dc, caption.c_str(), -1, &captionRect, DT_LEFT);
  }
}

void TVelCustomGroupBox::PaintClassic() {
  HDC dc = canvas_->GetHandle();
  const int h = WideTextExtent(dc, L"0").cy;
  RECT all = TCustomControl::GetClientRect();
  canvas_->Brush()->SetColor(color_);
  canvas_->Brush()->SetStyle(bsSolid);
  canvas_->FillRect(all);
  RECT r = {0, h / 2 - 1, width_, height_};
  if (GetCtl3D()) {
    ++r.left;
    ++r.top;
    canvas_->Brush()->SetColor(clBtnHighlight);
    canvas_->FrameRect(r);
    OffsetRect(&r, -1, -1);
    canvas_->Brush()->SetColor(clBtnShadow);
  } else {
    canvas_->Brush()->SetColor(clWindowFrame);
  }
  canvas_->FrameRect(r);
  const std::wstring caption = GetCaptionText();
  if (caption.empty()) return;
  dc = canvas_->GetHandle();
  RECT t = {kCaptionIndent, 0, 0, h};
  if (UseRightToLeftAlignment()) t.left = r.right - WideTextExtent(dc, caption).cx - kCaptionIndent;
  const UINT flags = DrawTextBiDiModeFlags(DT_SINGLELINE);
  WideDrawText(dc, caption.c_str(), -1, &t, flags | DT_CALCRECT);
  canvas_->Brush()->SetColor(color_);
  canvas_->Brush()->SetStyle(bsSolid);
  dc = canvas_->GetHandle();
  SetBkMode(dc, OPAQUE);
  WideDrawText(dc, caption.c_str(), -1, &t, flags);
}
