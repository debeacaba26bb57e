#include "uigraphics.h"

#include <cstring>

#include "uifiler.h"

namespace ui {

static std::vector<TPropInfo> FontProps() {
  using T = TFont;
  return {prop::Int("Charset", &T::GetCharset, &T::SetCharset, true, DEFAULT_CHARSET),
          prop::Int("Color", &T::GetColor, &T::SetColor, true, clWindowText),
          prop::Int("Height", &T::GetHeight, &T::SetHeight),
          prop::Str("Name", &T::GetName, &T::SetName),
          prop::Enum("Pitch", &T::GetPitch, &T::SetPitch, {"fpDefault", "fpVariable", "fpFixed"}, true, fpDefault),
          prop::Set("Style", &T::GetStyle, &T::SetStyle, {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}, true, 0)};
}
static std::vector<TPropInfo> PenProps() {
  using T = TPen;
  return {prop::Int("Color", &T::GetColor, &T::SetColor, true, clBlack),
          prop::Enum("Style", &T::GetStyle, &T::SetStyle,
                     {"psSolid", "psDash", "psDot", "psDashDot", "psDashDotDot", "psClear", "psInsideFrame"}, true, psSolid),
          prop::Int("Width", &T::GetWidth, &T::SetWidth, true, 1)};
}
static std::vector<TPropInfo> BrushProps() {
  using T = TBrush;
  return {prop::Int("Color", &T::GetColor, &T::SetColor, true, clWhite),
          prop::Enum("Style", &T::GetStyle, &T::SetStyle,
                     {"bsSolid", "bsClear", "bsHorizontal", "bsVertical", "bsFDiagonal", "bsBDiagonal", "bsCross",
                      "bsDiagCross"},
                     true, bsSolid)};
}

UI_IMPLEMENT_CLASS(TGraphicsObject, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TFont, TGraphicsObject, DefaultFactory<TFont>, FontProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TPen, TGraphicsObject, DefaultFactory<TPen>, PenProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TBrush, TGraphicsObject, DefaultFactory<TBrush>, BrushProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TGraphic, TPersistent, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TCanvas, TPersistent, DefaultFactory<TCanvas>, nullptr, nullptr, nullptr)

COLORREF ColorToRGB(TColor c) {
  if (c & clSystemColor) return GetSysColor(c & 0xFF);
  return static_cast<COLORREF>(c) & 0xFFFFFF;
}

int ScreenPixelsPerInch() {
  static int dpi = [] {
    HDC dc = GetDC(nullptr);
    int v = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return v > 0 ? v : 96;
  }();
  return dpi;
}

void TGraphicsObject::Changed() {
  if (OnChange) OnChange(this);
}

// ---- TFont ----

TFont::TFont() : PixelsPerInch(ScreenPixelsPerInch()) {}
TFont::~TFont() { Free_(); }

void TFont::Free_() {
  if (handle_) DeleteObject(handle_);
  handle_ = nullptr;
}

HFONT TFont::GetHandle() {
  if (!handle_) {
    LOGFONTA lf{};
    lf.lfHeight = height_;
    lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style_ & fsItalic) != 0;
    lf.lfUnderline = (style_ & fsUnderline) != 0;
    lf.lfStrikeOut = (style_ & fsStrikeOut) != 0;
    lf.lfCharSet = static_cast<BYTE>(charset_);
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = static_cast<BYTE>(pitch_ == fpFixed ? FIXED_PITCH : pitch_ == fpVariable ? VARIABLE_PITCH : DEFAULT_PITCH);
    std::strncpy(lf.lfFaceName, name_.c_str(), LF_FACESIZE - 1);
    handle_ = CreateFontIndirectA(&lf);
  }
  return handle_;
}

void TFont::SetHandle(HFONT h) {
  LOGFONTA lf{};
  if (!h || !GetObjectA(h, sizeof lf, &lf)) return;
  Free_();
  name_ = lf.lfFaceName;
  height_ = lf.lfHeight;
  style_ = (lf.lfWeight >= FW_BOLD ? fsBold : 0) | (lf.lfItalic ? fsItalic : 0) |
           (lf.lfUnderline ? fsUnderline : 0) | (lf.lfStrikeOut ? fsStrikeOut : 0);
  charset_ = lf.lfCharSet;
  Changed();
}

#define FONT_SETTER(Name, field, T)  \
  void TFont::Set##Name(T v) {       \
    if (field == v) return;          \
    field = v;                       \
    Free_();                         \
    Changed();                       \
  }
FONT_SETTER(Height, height_, int)
FONT_SETTER(Style, style_, int)
FONT_SETTER(Charset, charset_, int)
FONT_SETTER(Pitch, pitch_, TFontPitch)
#undef FONT_SETTER

void TFont::SetName(const std::string& n) {
  if (n.empty() || n == name_) return;
  name_ = n;
  Free_();
  Changed();
}

void TFont::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;  // the colour is not part of the GDI font
  Changed();
}

int TFont::GetSize() const { return -MulDiv(height_, 72, PixelsPerInch); }
void TFont::SetSize(int points) { SetHeight(-MulDiv(points, PixelsPerInch, 72)); }

void TFont::Assign(TPersistent* source) {
  if (auto* f = As<TFont>(source)) {
    if (f == this) return;
    name_ = f->name_;
    height_ = MulDiv(f->height_, PixelsPerInch, f->PixelsPerInch);
    style_ = f->style_;
    color_ = f->color_;
    charset_ = f->charset_;
    pitch_ = f->pitch_;
    Free_();
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

// ---- TPen ----

TPen::~TPen() { Free_(); }
void TPen::Free_() {
  if (handle_) DeleteObject(handle_);
  handle_ = nullptr;
}
HPEN TPen::GetHandle() {
  static const int kStyles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
  if (!handle_) handle_ = CreatePen(kStyles[style_], width_, ColorToRGB(color_));
  return handle_;
}
void TPen::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Free_();
  Changed();
}
void TPen::SetWidth(int w) {
  if (w == width_ || w < 0) return;
  width_ = w;
  Free_();
  Changed();
}
void TPen::SetStyle(TPenStyle s) {
  if (s == style_) return;
  style_ = s;
  Free_();
  Changed();
}
void TPen::SetMode(TPenMode m) {
  if (m == mode_) return;
  mode_ = m;
  Changed();
}
int TPen::GetRop2() const {
  static const int kRop2[] = {R2_BLACK,       R2_WHITE,     R2_NOP,        R2_NOT,        R2_COPYPEN,    R2_NOTCOPYPEN,
                              R2_MERGEPENNOT, R2_MASKPENNOT, R2_MERGENOTPEN, R2_MASKNOTPEN, R2_MERGEPEN,  R2_NOTMERGEPEN,
                              R2_MASKPEN,     R2_NOTMASKPEN, R2_XORPEN,     R2_NOTXORPEN};
  return kRop2[mode_];
}
void TPen::SetHandle(HPEN h) {
  if (h == handle_) return;
  Free_();
  handle_ = h;
  Changed();
}
void TPen::Assign(TPersistent* source) {
  if (auto* p = As<TPen>(source)) {
    color_ = p->color_;
    width_ = p->width_;
    style_ = p->style_;
    mode_ = p->mode_;
    Free_();
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

// ---- TBrush ----

TBrush::~TBrush() { Free_(); }
void TBrush::Free_() {
  if (handle_) DeleteObject(handle_);
  handle_ = nullptr;
}
HBRUSH TBrush::GetHandle() {
  if (!handle_) {
    LOGBRUSH lb{};
    lb.lbColor = ColorToRGB(color_);
    if (style_ == bsSolid) {
      lb.lbStyle = BS_SOLID;
    } else if (style_ == bsClear) {
      lb.lbStyle = BS_HOLLOW;
    } else {
      static const int kHatch[] = {HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS};
      lb.lbStyle = BS_HATCHED;
      lb.lbHatch = static_cast<ULONG_PTR>(kHatch[style_ - bsHorizontal]);
    }
    handle_ = CreateBrushIndirect(&lb);
  }
  return handle_;
}
void TBrush::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  if (style_ == bsClear) style_ = bsSolid;
  Free_();
  Changed();
}
void TBrush::SetStyle(TBrushStyle s) {
  if (s == style_) return;
  style_ = s;
  Free_();
  Changed();
}
void TBrush::Assign(TPersistent* source) {
  if (auto* b = As<TBrush>(source)) {
    color_ = b->color_;
    style_ = b->style_;
    Free_();
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

// ---- TGraphic ----

void TGraphic::Changed() {
  Modified = true;
  if (OnChange) OnChange(this);
}
void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const RECT& r,
                        const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

void TGraphic::SetTransparent(bool t) {
  if (t == transparent_) return;
  transparent_ = t;
  Changed();
}
void TGraphic::DefineProperties(TFiler* filer) {
  TPersistent::DefineProperties(filer);
  filer->DefineBinaryProperty(
      "Data", [this](TStream* s) { LoadFromStream(s); }, [this](TStream* s) { WriteData(s); }, !Empty());
}

void TGraphic::LoadFromClipboardFormat(UINT, HANDLE, HPALETTE) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(UINT&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}
void TGraphic::SaveToFile(const std::string& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(&f);
}

// ---- TCanvas ----

TCanvas::TCanvas() : font_(new TFont), pen_(new TPen), brush_(new TBrush) {
  font_->OnChange = TNotifyEvent(this, &TCanvas::FontChanged);
  pen_->OnChange = TNotifyEvent(this, &TCanvas::PenChanged);
  brush_->OnChange = TNotifyEvent(this, &TCanvas::BrushChanged);
  InitializeCriticalSection(&lock_);
}

TCanvas::~TCanvas() {
  SetHandle(nullptr);
  delete font_;
  delete pen_;
  delete brush_;
  DeleteCriticalSection(&lock_);
}

void TCanvas::Lock() {
  EnterCriticalSection(&lock_);
  ++lockCount_;
}

bool TCanvas::TryLock() {
  if (!TryEnterCriticalSection(&lock_)) return false;
  ++lockCount_;
  return true;
}

void TCanvas::Unlock() {
  --lockCount_;
  LeaveCriticalSection(&lock_);
}

void TCanvas::FontChanged(TObject*) {
  if (state_ & csFontValid) {
    state_ &= ~csFontValid;
    SelectObject(dc_, oldFont_);
    oldFont_ = nullptr;
  }
}
void TCanvas::PenChanged(TObject*) {
  if (state_ & csPenValid) {
    state_ &= ~csPenValid;
    SelectObject(dc_, oldPen_);
    oldPen_ = nullptr;
  }
}
void TCanvas::BrushChanged(TObject*) {
  if (state_ & csBrushValid) {
    state_ &= ~csBrushValid;
    SelectObject(dc_, oldBrush_);
    oldBrush_ = nullptr;
  }
}

void TCanvas::DeselectHandles() {
  if (dc_) {
    if (oldFont_) SelectObject(dc_, oldFont_);
    if (oldPen_) SelectObject(dc_, oldPen_);
    if (oldBrush_) SelectObject(dc_, oldBrush_);
  }
  oldFont_ = oldPen_ = oldBrush_ = nullptr;
  state_ &= ~(csFontValid | csPenValid | csBrushValid);
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == dc_) return;
  DeselectHandles();
  dc_ = dc;
  state_ = dc ? static_cast<unsigned>(csHandleValid) : 0u;
}

HDC TCanvas::GetHandle() {
  RequiredState(csHandleValid | csFontValid | csPenValid | csBrushValid);
  return dc_;
}

void TCanvas::RequiredState(unsigned state) {
  unsigned need = state & ~state_;
  if (!need) return;
  if (need & csHandleValid) {
    CreateHandle();
    if (!dc_) throw EInvalidOperation("Canvas does not allow drawing");
  }
  if (need & csFontValid) {
    oldFont_ = SelectObject(dc_, font_->GetHandle());
    SetTextColor(dc_, ColorToRGB(font_->GetColor()));
    SetBkMode(dc_, TRANSPARENT);
    state_ |= csFontValid;
  }
  if (need & csPenValid) {
    oldPen_ = SelectObject(dc_, pen_->GetHandle());
    SetROP2(dc_, pen_->GetRop2());
    state_ |= csPenValid;
  }
  if (need & csBrushValid) {
    oldBrush_ = SelectObject(dc_, brush_->GetHandle());
    SetBkColor(dc_, ColorToRGB(brush_->GetColor()));
    SetBkMode(dc_, brush_->GetStyle() == bsSolid ? OPAQUE : TRANSPARENT);
    state_ |= csBrushValid;
  }
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}
void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

void TCanvas::MoveTo(int x, int y) {
  RequiredState(csHandleValid);
  MoveToEx(dc_, x, y, nullptr);
}
void TCanvas::LineTo(int x, int y) {
  Changing();
  RequiredState(csHandleValid | csPenValid | csBrushValid);
  ::LineTo(dc_, x, y);
  Changed();
}
POINT TCanvas::PenPos() {
  RequiredState(csHandleValid);
  POINT p{};
  GetCurrentPositionEx(dc_, &p);
  return p;
}
void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  Changing();
  RequiredState(csHandleValid | csPenValid | csBrushValid);
  ::Rectangle(dc_, x1, y1, x2, y2);
  Changed();
}
void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  Changing();
  RequiredState(csHandleValid | csPenValid | csBrushValid);
  ::Ellipse(dc_, x1, y1, x2, y2);
  Changed();
}
void TCanvas::Polygon(const POINT* pts, int count) {
  Changing();
  RequiredState(csHandleValid | csPenValid | csBrushValid);
  ::Polygon(dc_, pts, count);
  Changed();
}
void TCanvas::Polyline(const POINT* pts, int count) {
  Changing();
  RequiredState(csHandleValid | csPenValid | csBrushValid);
  ::Polyline(dc_, pts, count);
  Changed();
}
void TCanvas::FillRect(const RECT& r) {
  Changing();
  RequiredState(csHandleValid | csBrushValid);
  ::FillRect(dc_, &r, brush_->GetHandle());
  Changed();
}
void TCanvas::FrameRect(const RECT& r) {
  Changing();
  RequiredState(csHandleValid | csBrushValid);
  ::FrameRect(dc_, &r, brush_->GetHandle());
  Changed();
}
void TCanvas::TextOut(int x, int y, const std::string& text) {
  Changing();
  RequiredState(csHandleValid | csFontValid | csBrushValid);
  ExtTextOutA(dc_, x, y, static_cast<UINT>(TextFlags), nullptr, text.data(), static_cast<UINT>(text.size()), nullptr);
  MoveToEx(dc_, x + TextWidth(text), y, nullptr);
  Changed();
}
void TCanvas::TextRect(const RECT& r, int x, int y, const std::string& text) {
  Changing();
  RequiredState(csHandleValid | csFontValid | csBrushValid);
  UINT opts = static_cast<UINT>(TextFlags) | ETO_CLIPPED | (brush_->GetStyle() == bsSolid ? ETO_OPAQUE : 0);
  ExtTextOutA(dc_, x, y, opts, &r, text.data(), static_cast<UINT>(text.size()), nullptr);
  Changed();
}
SIZE TCanvas::TextExtent(const std::string& text) {
  RequiredState(csHandleValid | csFontValid);
  SIZE s{0, 0};
  GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &s);
  return s;
}
void TCanvas::Draw(int x, int y, TGraphic* g) {
  if (!g || g->Empty()) return;
  RECT r{x, y, x + g->GetWidth(), y + g->GetHeight()};
  StretchDraw(r, g);
}
void TCanvas::StretchDraw(const RECT& r, TGraphic* g) {
  if (!g) return;
  Changing();
  RequiredState(csHandleValid);
  g->Draw(this, r);
  Changed();
}
void TCanvas::CopyRect(const RECT& dest, TCanvas* src, const RECT& source) {
  Changing();
  RequiredState(csHandleValid | csBrushValid);
  src->RequiredState(csHandleValid | csBrushValid);
  StretchBlt(dc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, src->dc_, source.left,
             source.top, source.right - source.left, source.bottom - source.top, static_cast<DWORD>(CopyMode));
  Changed();
}
TColor TCanvas::GetPixel(int x, int y) {
  RequiredState(csHandleValid);
  return static_cast<TColor>(::GetPixel(dc_, x, y));
}
void TCanvas::SetPixel(int x, int y, TColor c) {
  Changing();
  RequiredState(csHandleValid | csPenValid);
  ::SetPixel(dc_, x, y, ColorToRGB(c));
  Changed();
}
RECT TCanvas::ClipRect() {
  RequiredState(csHandleValid);
  RECT r{};
  GetClipBox(dc_, &r);
  return r;
}

}  // namespace ui
