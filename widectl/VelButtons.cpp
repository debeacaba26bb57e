// Layout and drawing of wide glyph buttons.
#include "VelButtons.h"

#include "VelControls.h"
#include "VelForms.h"
#include "VelStdCtrls.h"
#include "VelSysUtils.h"
#include "VelWindows.h"
#include "uifiler.h"

using namespace ui;

namespace {

std::vector<TPropInfo> VelSpeedButtonProps() {
  using T = TVelSpeedButton;
  return {WideCaptionProp<T>("Caption"), WideHintProp<T>()};
}
std::vector<TPropInfo> VelBitBtnProps() {
  using T = TVelBitBtn;
  return {WideCaptionProp<T>("Caption"), WideHintProp<T>()};
}

// The face of a button held down in its group: a check of face and highlight colours.
void FillCheckedFace(HDC dc, const RECT& r) {
  const WORD pattern[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
  HBITMAP bitmap = CreateBitmap(8, 8, 1, 1, pattern);
  HBRUSH brush = CreatePatternBrush(bitmap);
  const COLORREF oldText = SetTextColor(dc, ColorToRGB(clBtnFace));
  const COLORREF oldBack = SetBkColor(dc, ColorToRGB(clBtnHighlight));
  ::FillRect(dc, &r, brush);
  SetTextColor(dc, oldText);
  SetBkColor(dc, oldBack);
  DeleteObject(brush);
  DeleteObject(bitmap);
}

void DrawWideCaption(TCanvas* canvas, const std::wstring& caption, RECT r, TButtonState state, UINT biDiFlags,
                     bool wordWrap) {
  canvas->Brush()->SetStyle(bsClear);
  HDC dc = canvas->GetHandle();
  const UINT flags = (wordWrap ? DT_CENTER | DT_WORDBREAK : DT_CENTER | DT_VCENTER) | biDiFlags;
  if (state == bsDisabled) {
    RECT moved = r;
    OffsetRect(&moved, 1, 1);
    SetTextColor(dc, ColorToRGB(clBtnHighlight));
    WideDrawText(dc, caption.c_str(), -1, &moved, flags);
    SetTextColor(dc, ColorToRGB(clBtnShadow));
  }
  WideDrawText(dc, caption.c_str(), -1, &r, flags);
}

}  // namespace

UI_IMPLEMENT_CLASS(TVelSpeedButton, TSpeedButton, DefaultFactory<TVelSpeedButton>, VelSpeedButtonProps, nullptr,
                   nullptr)
UI_IMPLEMENT_CLASS(TVelBitBtn, TBitBtn, DefaultFactory<TVelBitBtn>, VelBitBtnProps, nullptr, nullptr)

namespace {
struct Registered {
  Registered() { RegisterClasses({&TVelSpeedButton::StaticClassInfo, &TVelBitBtn::StaticClassInfo}); }
} registered;
}  // namespace

void LayoutWideGlyphButton(HDC dc, TButtonGlyph* glyph, const RECT& client, POINT offset, const std::wstring& caption,
                           TButtonLayout layout, int margin, int spacing, UINT biDiFlags, bool wordWrap,
                           POINT& glyphPos, RECT& textRect) {
  if (biDiFlags & DT_RIGHT) {
    if (layout == blGlyphLeft)
      layout = blGlyphRight;
    else if (layout == blGlyphRight)
      layout = blGlyphLeft;
  }
  const POINT clientSize = {client.right - client.left, client.bottom - client.top};
  TBitmap* bitmap = glyph->GetGlyph();
  POINT glyphSize = {0, 0};
  if (bitmap && !bitmap->Empty())
    glyphSize = {bitmap->GetWidth() / glyph->GetNumGlyphs(), bitmap->GetHeight()};

  POINT textSize = {0, 0};
  textRect = {0, 0, 0, 0};
  if (!caption.empty()) {
    textRect = {0, 0, clientSize.x - glyphSize.x - 3, 0};
    WideDrawText(dc, caption.c_str(), -1, &textRect, DT_CALCRECT | biDiFlags | (wordWrap ? DT_WORDBREAK : 0));
    textSize = {textRect.right - textRect.left, textRect.bottom - textRect.top};
  }

  const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
  POINT glyphAt = {0, 0}, textAt = {0, 0};
  if (horizontal) {
    glyphAt.y = (clientSize.y - glyphSize.y + 1) / 2;
    textAt.y = (clientSize.y - textSize.y + 1) / 2;
  } else {
    glyphAt.x = (clientSize.x - glyphSize.x + 1) / 2;
    textAt.x = (clientSize.x - textSize.x + 1) / 2;
  }
  if (textSize.x == 0 || glyphSize.x == 0) spacing = 0;

  // Sizes along the layout's axis.
  const int clientAxis = horizontal ? clientSize.x : clientSize.y;
  const int glyphAxis = horizontal ? glyphSize.x : glyphSize.y;
  const int textAxis = horizontal ? textSize.x : textSize.y;
  if (margin == -1 && spacing == -1) {
    margin = (clientAxis - (glyphAxis + textAxis)) / 3;
    spacing = margin;
  } else if (margin == -1) {
    margin = (clientAxis - (glyphAxis + spacing + textAxis) + 1) / 2;
  } else if (spacing == -1) {
    spacing = (clientAxis - (margin + glyphAxis) - textAxis) / 2;
  }

  switch (layout) {
    case blGlyphLeft:
      glyphAt.x = margin;
      textAt.x = glyphAt.x + glyphSize.x + spacing;
      break;
    case blGlyphRight:
      glyphAt.x = clientSize.x - margin - glyphSize.x;
      textAt.x = glyphAt.x - spacing - textSize.x;
      break;
    case blGlyphTop:
      glyphAt.y = margin;
      textAt.y = glyphAt.y + glyphSize.y + spacing;
      break;
    case blGlyphBottom:
      glyphAt.y = clientSize.y - margin - glyphSize.y;
      textAt.y = glyphAt.y - spacing - textSize.y;
      break;
  }
  glyphPos = {glyphAt.x + client.left + offset.x, glyphAt.y + client.top + offset.y};
  // The library's classic faces move the caption with the glyph when pressed.
  OffsetRect(&textRect, textAt.x + client.left + offset.x, textAt.y + client.top + offset.y);
}

RECT DrawWideGlyphButton(TButtonGlyph* glyph, TCanvas* canvas, const RECT& client, POINT offset,
                         const std::wstring& caption, TButtonLayout layout, int margin, int spacing,
                         TButtonState state, bool transparent, UINT biDiFlags, bool wordWrap) {
  POINT glyphPos;
  RECT textRect;
  LayoutWideGlyphButton(canvas->GetHandle(), glyph, client, offset, caption, layout, margin, spacing, biDiFlags,
                        wordWrap, glyphPos, textRect);
  glyph->DrawButtonGlyph(canvas, glyphPos, state, transparent);
  DrawWideCaption(canvas, caption, textRect, state, biDiFlags, wordWrap);
  return textRect;
}

// ---- Speed button ---------------------------------------------------------------------------

std::wstring TVelSpeedButton::GetCaptionText() const {
  return WideGetControlText(const_cast<TVelSpeedButton*>(this));
}
void TVelSpeedButton::SetCaptionText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelSpeedButton::GetHintText() const { return WideGetControlHint(const_cast<TVelSpeedButton*>(this)); }
void TVelSpeedButton::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelSpeedButton::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_HINTSHOW:
      ProcessWideHintShow(reinterpret_cast<THintInfo*>(m.LParam));
      break;
    case CM_MOUSEENTER:
      mouseInControl_ = true;
      break;
    case CM_MOUSELEAVE:
      mouseInControl_ = false;
      break;
    case CM_DIALOGCHAR:
      if (IsWideCharAccel(static_cast<unsigned>(m.WParam), GetCaptionText()) && enabled_ && visible_ && parent_ &&
          parent_->Showing()) {
        Click();
        m.Result = 1;
        return;
      }
      break;
  }
  inherited::WndProc(m);
}

void TVelSpeedButton::Paint() {
  if (!IsUnicodePlatform) {
    inherited::Paint();
    return;
  }
  TButtonState state = enabled_ ? State() : bsDisabled;
  if (enabled_ && state == bsDisabled) state = GetDown() && GetGroupIndex() != 0 ? bsExclusive : bsUp;
  canvas_->SetFont(font_);
  RECT r = {0, 0, width_, height_};
  HDC dc = canvas_->GetHandle();
  const bool pressed = state == bsDown || state == bsExclusive;
  if (!GetFlat()) {
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pressed ? DFCS_PUSHED : 0));
  } else {
    if (pressed || (mouseInControl_ && enabled_) || InState(csDesigning)) {
      RECT edge = r;
      DrawEdge(dc, &edge, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT | (GetTransparent() ? 0 : BF_MIDDLE));
    } else if (!GetTransparent()) {
      canvas_->Brush()->SetColor(color_);
      canvas_->FillRect(r);
    }
    InflateRect(&r, -1, -1);
  }
  if (state == bsExclusive && (!GetFlat() || !mouseInControl_)) FillCheckedFace(canvas_->GetHandle(), r);
  const POINT offset = {pressed ? 1 : 0, pressed ? 1 : 0};
  DrawWideGlyphButton(ButtonGlyph(), canvas_, r, offset, GetCaptionText(), GetLayout(), GetMargin(), GetSpacing(),
                      state, GetTransparent(), 0, false);
}

// ---- Bitmap button --------------------------------------------------------------------------

TVelBitBtn::TVelBitBtn() = default;
TVelBitBtn::~TVelBitBtn() = default;

std::wstring TVelBitBtn::GetCaptionText() const { return WideGetControlText(const_cast<TVelBitBtn*>(this)); }
void TVelBitBtn::SetCaptionText(const std::wstring& value) { WideSetControlText(this, value); }
std::wstring TVelBitBtn::GetHintText() const { return WideGetControlHint(const_cast<TVelBitBtn*>(this)); }
void TVelBitBtn::SetHintText(const std::wstring& value) { WideSetControlHint(this, value); }

void TVelBitBtn::CreateWindowHandle(const TCreateParams& params) { CreateUnicodeWindowHandle(this, params, L"BUTTON"); }

void TVelBitBtn::WndProc(TMessage& m) {
  if (m.Msg == CM_DIALOGCHAR) {
    WideButtonDialogChar(this, m);
    return;
  }
  inherited::WndProc(m);
}

void TVelBitBtn::DrawFace(TCanvas* canvas, const RECT& r, TButtonState state, bool focused) {
  if (!IsUnicodePlatform) {
    inherited::DrawFace(canvas, r, state, focused);
    return;
  }
  DrawWideGlyphButton(ButtonGlyph(), canvas, r, POINT{0, 0}, GetCaptionText(), GetLayout(), GetMargin(), GetSpacing(),
                      state, false, 0, false);
  if (focused && GetDefault()) {
    RECT f = GetClientRect();
    InflateRect(&f, -4, -4);
    DrawFocusRect(canvas->GetHandle(), &f);
  }
}
