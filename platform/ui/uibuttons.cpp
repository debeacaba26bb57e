#include "uibuttons.h"

#include <algorithm>

#include "uifiler.h"
#include "uiforms.h"
#include "uiimglist.h"

namespace ui {

static std::vector<TPropInfo> ImageProps() {
  using T = TImage;
  return {prop::Object<T, TPicture>("Picture", &T::GetPicture, nullptr),
          prop::Bool("Stretch", &T::GetStretch, &T::SetStretch, false),
          prop::Bool("Center", &T::GetCenter, &T::SetCenter, false),
          prop::Bool("Proportional", &T::GetProportional, &T::SetProportional, false),
          prop::Bool("AutoSize", &T::GetAutoSize, &T::SetAutoSize, false)};
}
static const std::vector<std::string> kLayouts{"blGlyphLeft", "blGlyphRight", "blGlyphTop", "blGlyphBottom"};
static std::vector<TPropInfo> SpeedProps() {
  using T = TSpeedButton;
  return {prop::Str("Caption", &T::GetCaption, &T::SetCaption),
          prop::Object<T, TBitmap>("Glyph", &T::GetGlyph, nullptr),
          prop::Int("NumGlyphs", &T::GetNumGlyphs, &T::SetNumGlyphs, true, 1),
          prop::Enum("Layout", &T::GetLayout, &T::SetLayout, kLayouts, true, blGlyphLeft),
          prop::Int("Margin", &T::GetMargin, &T::SetMargin, true, -1),
          prop::Int("Spacing", &T::GetSpacing, &T::SetSpacing, true, 4),
          prop::Bool("Flat", &T::GetFlat, &T::SetFlat, false),
          prop::Bool("Transparent", &T::GetTransparent, &T::SetTransparent, true),
          prop::Bool("Down", &T::GetDown, &T::SetDown, false),
          prop::Int("GroupIndex", &T::GetGroupIndex, &T::SetGroupIndex, true, 0),
          prop::Bool("AllowAllUp", &T::GetAllowAllUp, &T::SetAllowAllUp, false)};
}
static std::vector<TPropInfo> BitBtnProps() {
  using T = TBitBtn;
  return {prop::Object<T, TBitmap>("Glyph", &T::GetGlyph, nullptr),
          prop::Int("NumGlyphs", &T::GetNumGlyphs, &T::SetNumGlyphs, true, 1),
          prop::Enum("Layout", &T::GetLayout, &T::SetLayout, kLayouts, true, blGlyphLeft),
          prop::Int("Margin", &T::GetMargin, &T::SetMargin, true, -1),
          prop::Int("Spacing", &T::GetSpacing, &T::SetSpacing, true, 4),
          prop::Enum("Kind", &T::GetKind, &T::SetKind,
                     {"bkCustom", "bkOK", "bkCancel", "bkHelp", "bkYes", "bkNo", "bkClose", "bkAbort", "bkRetry", "bkIgnore",
                      "bkAll"},
                     true, bkCustom)};
}

UI_IMPLEMENT_CLASS(TButtonGlyph, TObject, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TImage, TGraphicControl, DefaultFactory<TImage>, ImageProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TSpeedButton, TGraphicControl, DefaultFactory<TSpeedButton>, SpeedProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TBitBtn, TButton, DefaultFactory<TBitBtn>, BitBtnProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TSpeedButtonActionLink, TControlActionLink, DefaultFactory<TSpeedButtonActionLink>, nullptr, nullptr,
                   nullptr)

namespace {
struct Registered {
  Registered() {
    RegisterClasses({&TImage::StaticClassInfo, &TSpeedButton::StaticClassInfo, &TBitBtn::StaticClassInfo});
  }
} registered;
}  // namespace

// ---- TImage ----

TImage::TImage() : picture_(new TPicture) {
  width_ = 105;
  height_ = 105;
  picture_->OnChange = TNotifyEvent(this, &TImage::PictureChanged);
}

TImage::~TImage() { delete picture_; }

void TImage::PictureChanged(TObject*) {
  if (autoSize_ && picture_->Width() > 0 && picture_->Height() > 0)
    SetBounds(left_, top_, picture_->Width(), picture_->Height());
  Invalidate();
}

#define IMAGE_SETTER(Name, field)  \
  void TImage::Set##Name(bool v) { \
    if (field == v) return;        \
    field = v;                     \
    PictureChanged(nullptr);       \
  }
IMAGE_SETTER(Stretch, stretch_)
IMAGE_SETTER(Center, center_)
IMAGE_SETTER(Proportional, proportional_)
IMAGE_SETTER(AutoSize, autoSize_)
#undef IMAGE_SETTER

RECT TImage::DestRect() {
  int w = picture_->Width(), h = picture_->Height();
  int cw = width_, ch = height_;
  if (stretch_ || (proportional_ && (w > cw || h > ch))) {
    if (proportional_ && w > 0 && h > 0) {
      // Scale by the tighter side so the picture keeps its shape.
      if (int64_t(cw) * h > int64_t(ch) * w) {
        w = static_cast<int>(int64_t(w) * ch / h);
        h = ch;
      } else {
        h = static_cast<int>(int64_t(h) * cw / w);
        w = cw;
      }
    } else {
      w = cw;
      h = ch;
    }
  }
  RECT r{0, 0, w, h};
  if (center_) OffsetRect(&r, (cw - w) / 2, (ch - h) / 2);
  return r;
}

void TImage::Paint() {
  if (TGraphic* g = picture_->GetGraphic()) canvas_->StretchDraw(DestRect(), g);
}

// ---- glyph buttons ----

void LayoutGlyphButton(HDC dc, const RECT& client, TBitmap* glyph, int numGlyphs, const std::string& caption,
                       TButtonLayout layout, int margin, int spacing, POINT& glyphPos, RECT& textRect) {
  SIZE cs{client.right - client.left, client.bottom - client.top};
  SIZE gs{0, 0};
  if (glyph && !glyph->Empty()) gs = SIZE{glyph->GetWidth() / std::max(1, numGlyphs), glyph->GetHeight()};
  SIZE ts{0, 0};
  textRect = RECT{0, 0, 0, 0};
  if (!caption.empty()) {
    textRect = RECT{0, 0, cs.cx - gs.cx - 3, 0};
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect, DT_CALCRECT | DT_SINGLELINE);
    ts = SIZE{textRect.right - textRect.left, textRect.bottom - textRect.top};
  }
  bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
  POINT g{0, 0}, t{0, 0};
  if (horizontal) {
    g.y = (cs.cy - gs.cy + 1) / 2;
    t.y = (cs.cy - ts.cy + 1) / 2;
  } else {
    g.x = (cs.cx - gs.cx + 1) / 2;
    t.x = (cs.cx - ts.cx + 1) / 2;
  }
  if (ts.cx == 0 || gs.cx == 0) spacing = 0;
  long clientAxis = horizontal ? cs.cx : cs.cy;
  long glyphAxis = horizontal ? gs.cx : gs.cy, textAxis = horizontal ? ts.cx : ts.cy;
  if (margin == -1) {
    if (spacing == -1) {
      margin = static_cast<int>((clientAxis - (glyphAxis + textAxis)) / 3);
      spacing = margin;
    } else {
      margin = static_cast<int>((clientAxis - (glyphAxis + spacing + textAxis) + 1) / 2);
    }
  } else if (spacing == -1) {
    spacing = static_cast<int>((clientAxis - (margin + glyphAxis) - textAxis) / 2);
  }
  switch (layout) {
    case blGlyphLeft:
      g.x = margin;
      t.x = g.x + gs.cx + spacing;
      break;
    case blGlyphRight:
      g.x = cs.cx - margin - gs.cx;
      t.x = g.x - spacing - ts.cx;
      break;
    case blGlyphTop:
      g.y = margin;
      t.y = g.y + gs.cy + spacing;
      break;
    case blGlyphBottom:
      g.y = cs.cy - margin - gs.cy;
      t.y = g.y - spacing - ts.cy;
      break;
  }
  glyphPos = POINT{g.x + client.left, g.y + client.top};
  textRect = RECT{t.x + client.left, t.y + client.top, t.x + client.left + ts.cx, t.y + client.top + ts.cy};
}

// ---- TButtonGlyph ----

TButtonGlyph::TButtonGlyph() : original_(new TBitmap) {
  original_->OnChange = TNotifyEvent(this, &TButtonGlyph::GlyphChanged);
  // Drawing on the bitmap's canvas changes the glyph as much as loading another one.
  original_->Canvas()->OnChange = TNotifyEvent(this, &TButtonGlyph::GlyphChanged);
}

TButtonGlyph::~TButtonGlyph() {
  if (list_) list_->Free();
  delete original_;
}

void TButtonGlyph::Invalidate() {
  if (list_) list_->Free();
  list_ = nullptr;
  for (int& i : indexes_) i = -1;
}

void TButtonGlyph::GlyphChanged(TObject*) {
  Invalidate();
  // A strip of square images says how many states it holds.
  if (!original_->Empty() && original_->GetHeight() > 0 && original_->GetWidth() % original_->GetHeight() == 0) {
    int n = original_->GetWidth() / original_->GetHeight();
    if (n >= 1 && n <= 4) numGlyphs_ = n;
  }
  if (OnChange) OnChange(this);
}

void TButtonGlyph::SetNumGlyphs(int n) {
  n = std::max(1, std::min(4, n));
  if (n == numGlyphs_) return;
  numGlyphs_ = n;
  Invalidate();
  if (OnChange) OnChange(this);
}

int TButtonGlyph::CreateButtonGlyph(TButtonState state) {
  if (state == bsDown && numGlyphs_ < 3) state = bsUp;
  if (state == bsExclusive && numGlyphs_ < 4) state = numGlyphs_ >= 3 ? bsDown : bsUp;
  if (indexes_[state] != -1) return indexes_[state];
  if (original_->Empty() || original_->GetWidth() < numGlyphs_ || original_->GetHeight() <= 0) return -1;
  int w = original_->GetWidth() / numGlyphs_, h = original_->GetHeight();
  if (!list_) {
    list_ = New<TImageList>(nullptr);
    list_->SetWidth(w);
    list_->SetHeight(h);
  }
  COLORREF transparent = static_cast<COLORREF>(original_->Canvas()->GetPixel(0, h - 1));
  // The state's own image: up 0, disabled 1, down 2, exclusive 3; a disabled image is made when missing.
  int source = static_cast<int>(state);
  TBitmap part;
  part.SetPixelFormat(pf24bit);
  part.SetSize(w, h);
  BitBlt(part.Canvas()->GetHandle(), 0, 0, w, h, original_->Canvas()->GetHandle(), (source < numGlyphs_ ? source : 0) * w,
         0, SRCCOPY);
  int index;
  if (state == bsDisabled && numGlyphs_ < 2) {
    const COLORREF key = transparent != RGB(255, 0, 255) ? RGB(255, 0, 255) : RGB(0, 255, 255);
    TBitmap embossed;
    MakeEmbossedImage(&part, transparent, &embossed, key);
    index = list_->AddMasked(&embossed, static_cast<TColor>(key));
  } else {
    index = list_->AddMasked(&part, static_cast<TColor>(transparent));
  }
  indexes_[state] = index;
  return index;
}

void TButtonGlyph::DrawButtonGlyph(TCanvas* canvas, POINT p, TButtonState state, bool transparent) {
  if (original_->Empty() || original_->GetWidth() == 0 || original_->GetHeight() == 0) return;
  int index = CreateButtonGlyph(state);
  if (index < 0) return;
  HDC dc = canvas->GetHandle();
  if (transparent || state == bsExclusive)
    ImageList_DrawEx(list_->GetHandle(), index, dc, p.x, p.y, 0, 0, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
  else
    ImageList_DrawEx(list_->GetHandle(), index, dc, p.x, p.y, 0, 0, ColorToRGB(clBtnFace), CLR_NONE, ILD_NORMAL);
}

void TButtonGlyph::DrawButtonText(TCanvas* canvas, const std::string& caption, RECT r, TButtonState state) {
  if (caption.empty()) return;
  canvas->Brush()->SetStyle(bsClear);
  HDC dc = canvas->GetHandle();
  UINT flags = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
  if (state == bsDisabled) {
    RECT r1 = r;
    OffsetRect(&r1, 1, 1);
    SetTextColor(dc, ColorToRGB(clBtnHighlight));
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &r1, flags);
    SetTextColor(dc, ColorToRGB(clBtnShadow));
  }
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &r, flags);
}

RECT TButtonGlyph::Draw(TCanvas* canvas, const RECT& client, POINT offset, const std::string& caption,
                        TButtonLayout layout, int margin, int spacing, TButtonState state, bool transparent) {
  POINT gp;
  RECT tr;
  LayoutGlyphButton(canvas->GetHandle(), client, original_, numGlyphs_, caption, layout, margin, spacing, gp, tr);
  gp.x += offset.x;
  gp.y += offset.y;
  OffsetRect(&tr, offset.x, offset.y);
  DrawButtonGlyph(canvas, gp, state, transparent);
  DrawButtonText(canvas, caption, tr, state);
  return tr;
}

TSpeedButton::TSpeedButton() : glyph_(new TButtonGlyph) {
  width_ = 23;
  height_ = 22;
  glyph_->OnChange = TNotifyEvent(this, &TSpeedButton::GlyphChanged);
}

TSpeedButton::~TSpeedButton() { delete glyph_; }

void TSpeedButton::GlyphChanged(TObject*) { Invalidate(); }

#define SB_SETTER(Name, field, T)   \
  void TSpeedButton::Set##Name(T v) { \
    if (field == v) return;           \
    field = v;                        \
    Invalidate();                     \
  }
SB_SETTER(Layout, layout_, TButtonLayout)
SB_SETTER(Margin, margin_, int)
SB_SETTER(Spacing, spacing_, int)
SB_SETTER(Flat, flat_, bool)
SB_SETTER(Transparent, transparent_, bool)
#undef SB_SETTER

void TSpeedButton::SetNumGlyphs(int n) { glyph_->SetNumGlyphs(n); }

void TSpeedButton::SetDown(bool v) {
  if (groupIndex_ == 0) v = false;
  if (v == down_) return;
  if (down_ && !allowAllUp_) return;
  down_ = v;
  state_ = v ? bsExclusive : bsUp;
  if (v && parent_) {
    // The other buttons of the group come up.
    for (int i = 0; i < parent_->ControlCount(); ++i) {
      auto* sb = As<TSpeedButton>(parent_->Controls(i));
      if (sb && sb != this && sb->groupIndex_ == groupIndex_ && sb->down_) {
        sb->down_ = false;
        sb->state_ = bsUp;
        sb->Invalidate();
      }
    }
  }
  Invalidate();
}

void TSpeedButton::Click() { TGraphicControl::Click(); }

void TSpeedButton::DoMouseDown(TMouseButton b, int shift, int x, int y) {
  TGraphicControl::DoMouseDown(b, shift, x, y);
  if (b == mbLeft && enabled_ && !down_) {
    state_ = bsDown;
    Invalidate();
  }
}

void TSpeedButton::DoMouseUp(TMouseButton b, int shift, int x, int y) {
  if (b == mbLeft && enabled_) {
    if (groupIndex_ != 0 && x >= 0 && y >= 0 && x < width_ && y < height_) {
      SetDown(allowAllUp_ && down_ ? false : true);
    } else if (!down_) {
      state_ = bsUp;
    }
    Invalidate();
  }
  TGraphicControl::DoMouseUp(b, shift, x, y);
}

void TSpeedButton::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_DIALOGCHAR:
      if (IsAccel(static_cast<unsigned>(m.WParam), GetCaption()) && enabled_ && visible_ && parent_ && parent_->Showing()) {
        Click();
        m.Result = 1;
        return;
      }
      break;
    case CM_ENABLEDCHANGED:
      state_ = enabled_ ? (down_ ? bsExclusive : bsUp) : bsDisabled;
      Invalidate();
      break;
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
      mouseInControl_ = m.Msg == CM_MOUSEENTER;
      if (flat_ && enabled_) Invalidate();
      break;
    case CM_TEXTCHANGED:
      Invalidate();
      break;
  }
  TGraphicControl::WndProc(m);
}

void TSpeedButton::Paint() {
  TButtonState state = enabled_ ? state_ : bsDisabled;
  RECT r{0, 0, width_, height_};
  canvas_->SetFont(font_);
  HDC dc = canvas_->GetHandle();
  bool pressed = state == bsDown || state == bsExclusive;
  if (!flat_) {
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pressed ? DFCS_PUSHED : 0));
  } else {
    if (pressed || (mouseInControl_ && enabled_) || InState(csDesigning)) {
      RECT e = r;
      DrawEdge(dc, &e, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT | (transparent_ ? 0 : BF_MIDDLE));
    } else if (!transparent_) {
      canvas_->Brush()->SetColor(color_);
      canvas_->FillRect(r);
    }
    InflateRect(&r, -1, -1);
  }
  if (state == bsExclusive && (!flat_ || !mouseInControl_)) {
    // The face of a button held down in its group is checked in face and highlight colours.
    WORD pattern[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
    HBITMAP pb = CreateBitmap(8, 8, 1, 1, pattern);
    HBRUSH brush = CreatePatternBrush(pb);
    COLORREF oldText = SetTextColor(dc, ColorToRGB(clBtnFace)), oldBk = SetBkColor(dc, ColorToRGB(clBtnHighlight));
    ::FillRect(dc, &r, brush);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBk);
    DeleteObject(brush);
    DeleteObject(pb);
  }
  POINT offset{pressed ? 1 : 0, pressed ? 1 : 0};
  glyph_->Draw(canvas_, r, offset, GetCaption(), layout_, margin_, spacing_, state, transparent_);
}

// ---- TBitBtn ----

TBitBtn::TBitBtn() : glyph_(new TButtonGlyph), canvas_(new TControlCanvas(this)) {
  glyph_->OnChange = TNotifyEvent(this, &TBitBtn::GlyphChanged);
}

TBitBtn::~TBitBtn() {
  delete canvas_;
  delete glyph_;
}

void TBitBtn::GlyphChanged(TObject*) { Invalidate(); }

#define BB_SETTER(Name, field, T) \
  void TBitBtn::Set##Name(T v) {  \
    if (field == v) return;       \
    field = v;                    \
    Invalidate();                 \
  }
BB_SETTER(Layout, layout_, TButtonLayout)
BB_SETTER(Margin, margin_, int)
BB_SETTER(Spacing, spacing_, int)
#undef BB_SETTER

void TBitBtn::SetNumGlyphs(int n) { glyph_->SetNumGlyphs(n); }

void TBitBtn::SetKind(TBitBtnKind k) {
  if (k == kind_) return;
  kind_ = k;
  if (k == bkCustom) return;
  static const struct {
    const char* caption;
    int result;
  } kKinds[] = {{"", mrNone},       {"OK", mrOk},        {"Cancel", mrCancel}, {"&Help", mrNone},
                {"&Yes", mrYes},    {"&No", mrNo},       {"&Close", mrNone},   {"Abort", mrAbort},
                {"&Retry", mrRetry}, {"&Ignore", mrIgnore}, {"&All", mrAll}};
  SetCaption(kKinds[k].caption);
  SetModalResult(kKinds[k].result);
  if (k == bkOK || k == bkYes) SetDefault(true);
  if (k == bkCancel || k == bkNo) SetCancel(true);
}

void TBitBtn::CreateParams(TCreateParams& p) {
  TButton::CreateParams(p);
  p.Style = (p.Style & ~static_cast<DWORD>(BS_DEFPUSHBUTTON | BS_PUSHBUTTON)) | BS_OWNERDRAW;
}

void TBitBtn::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CN_DRAWITEM:
      DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(m.LParam));
      m.Result = TRUE;
      return;
    case CM_MOUSEENTER:
      mouseInControl_ = true;
      break;
    case CM_MOUSELEAVE:
      mouseInControl_ = false;
      break;
    case WM_LBUTTONDBLCLK:
      // Owner-drawn buttons turn a quick second click into a double click; it is a click here.
      m.Msg = WM_LBUTTONDOWN;
      break;
    case CM_TEXTCHANGED:
      Invalidate();
      break;
  }
  TButton::WndProc(m);
}

void TBitBtn::DrawItem(const DRAWITEMSTRUCT& di) {
  canvas_->SetHandle(di.hDC);
  try {
    canvas_->SetFont(font_);
    RECT r = GetClientRect();
    const bool down = (di.itemState & ODS_SELECTED) != 0;
    const bool focused = (di.itemState & ODS_FOCUS) != 0;
    const TButtonState state = !enabled_ ? bsDisabled : down ? bsDown : bsUp;
    const UINT flags = DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (down ? DFCS_PUSHED : 0) |
                       ((di.itemState & ODS_DISABLED) ? DFCS_INACTIVE : 0);
    if (focused || GetDefault()) {
      canvas_->Pen()->SetColor(SysColor(COLOR_WINDOWFRAME));
      canvas_->Brush()->SetStyle(bsClear);
      canvas_->Rectangle(r.left, r.top, r.right, r.bottom);
      InflateRect(&r, -1, -1);
    }
    if (down) {
      canvas_->Pen()->SetColor(clBtnShadow);
      canvas_->Brush()->SetColor(clBtnFace);
      canvas_->Rectangle(r.left, r.top, r.right, r.bottom);
      InflateRect(&r, -1, -1);
    } else {
      DrawFrameControl(canvas_->GetHandle(), &r, DFC_BUTTON, flags);
    }
    if (focused) {
      r = GetClientRect();
      InflateRect(&r, -1, -1);
    }
    canvas_->SetFont(font_);
    if (down) OffsetRect(&r, 1, 1);
    DrawFace(canvas_, r, state, focused);
  } catch (...) {
    canvas_->SetHandle(nullptr);
    throw;
  }
  canvas_->SetHandle(nullptr);
}

void TBitBtn::DrawFace(TCanvas* canvas, const RECT& r, TButtonState state, bool focused) {
  glyph_->Draw(canvas, r, POINT{0, 0}, GetCaption(), layout_, margin_, spacing_, state, false);
  if (focused) {
    RECT f = GetClientRect();
    InflateRect(&f, -4, -4);
    DrawFocusRect(canvas->GetHandle(), &f);
  }
}

// ---- TSpeedButtonActionLink ----

TClass TSpeedButton::GetActionLinkClass() { return &TSpeedButtonActionLink::StaticClassInfo; }

void TSpeedButtonActionLink::AssignClient(TObject* client) {
  if (!As<TSpeedButton>(client)) throw EInvalidOperation("A speed button action link needs a speed button");
  TControlActionLink::AssignClient(client);
}

bool TSpeedButtonActionLink::IsCheckedLinked() {
  auto* sb = static_cast<TSpeedButton*>(client_);
  return TControlActionLink::IsCheckedLinked() && sb->GetGroupIndex() != 0 && sb->GetAllowAllUp() &&
         sb->GetDown() == CustomAction()->GetChecked();
}

void TSpeedButtonActionLink::SetChecked(bool v) {
  if (IsCheckedLinked()) static_cast<TSpeedButton*>(client_)->SetDown(v);
}

}  // namespace ui
