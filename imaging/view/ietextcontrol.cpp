#include "ietextcontrol.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "iegdiplus.h"
#include "ietextutils.h"
#include "ievectglobals.h"
#include "ieviewprops.h"
#include "uidialogs.h"
#include "uifiler.h"
#include "uimenus.h"
#include "vodevovur.h"

using namespace ui;

UINT IETextMemoClipboardFormat = 0;

namespace {
const TIEStaticStepRegistrar g_textStep(iessTextControl, IETextControlStaticInit, IETextControlStaticFini);

constexpr int kCursorIBeam = -4;
constexpr int kRecordBytes = TIETextFormat::kRecordSize;

void PutI32(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(uint32_t(v) >> (8 * i));
}
int32_t GetI32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}
bool Blank(char c) { return uint8_t(c) <= 32; }
}  // namespace

void IETextControlStaticInit() { IETextMemoClipboardFormat = RegisterClipboardFormatA("IMAGERY TEXTMEMO"); }
void IETextControlStaticFini() {}

// ---- TIETextFormat ----

bool TIETextFormat::SameAs(const TIETextFormat& o) const {
  return FontName == o.FontName && FontHeight == o.FontHeight && FontStyle == o.FontStyle && Color == o.Color &&
         BackColor == o.BackColor && BackStyle == o.BackStyle && Alignment == o.Alignment;
}

void TIETextFormat::WriteRecord(uint8_t* d) const {
  std::memset(d, 0, kRecordBytes);
  PutI32(d, RefCount);
  size_t n = std::min<size_t>(FontName.size(), 255);
  d[4] = uint8_t(n);
  std::memcpy(d + 5, FontName.data(), n);
  PutI32(d + 260, FontHeight);
  d[264] = FontStyle;
  PutI32(d + 268, Color);
  PutI32(d + 272, BackColor);
  d[276] = BackStyle;
  d[277] = Alignment;
}

void TIETextFormat::ReadRecord(const uint8_t* s) {
  RefCount = GetI32(s);
  FontName.assign(reinterpret_cast<const char*>(s + 5), s[4]);
  FontHeight = GetI32(s + 260);
  FontStyle = s[264];
  Color = GetI32(s + 268);
  BackColor = GetI32(s + 272);
  BackStyle = s[276];
  Alignment = s[277];
}

// ---- construction ----

static std::vector<ui::TPropInfo> TextControlProps() {
  using T = TIETextControl;
  using namespace ieprops;
  return {Field("InsertMode", &T::InsertMode, true),
          Field("Alignment", &T::Alignment, 0),
          FloatField("ZoomFactor", &T::ZoomFactor),
          FloatField("MarginLeft", &T::MarginLeft),
          FloatField("MarginTop", &T::MarginTop),
          FloatField("MarginRight", &T::MarginRight),
          FloatField("MarginBottom", &T::MarginBottom),
          Field("LineSpacing", &T::LineSpacing, 0),
          Field("FixedLineHeight", &T::FixedLineHeight, 0),
          Field("AutoHeight", &T::AutoHeight, false),
          ui::prop::Bool("UniformFormat", &T::GetUniformFormat, &T::SetUniformFormat, false),
          Field("FixedColors", &T::FixedColors, false),
          ui::prop::Event("OnCursorMoved", &T::OnCursorMoved)};
}
UI_IMPLEMENT_CLASS(TIETextControl, ui::TCustomControl, ui::DefaultFactory<TIETextControl>, TextControlProps, nullptr,
                   nullptr)

namespace {
// Layouts may name the control.
const struct TextControlClassRegistration {
  TextControlClassRegistration() { ui::RegisterClass(&TIETextControl::StaticClassInfo); }
} g_textControlClassRegistration;
}  // namespace

TIETextControl::TIETextControl() = default;

void TIETextControl::Create(TComponent* owner) {
  inherited::Create(owner);
  TextFont = new TFont();
  TextFont->SetName("Arial");
  TextFont->SetColor(clBlack);
  TextBrush = new TBrush();
  TextBrush->SetStyle(bsClear);
  BorderPen = new TPen();
  BorderPen->SetStyle(psClear);
  BackgroundBrush = new TBrush();
  BackgroundBrush->SetColor(clWhite);
  OffScreen = new TBitmap();
  OffScreen->SetPixelFormat(pf24bit);
  if (owner) SetCursor(kCursorIBeam);
  FormatFromDefaults(CurrentFormat);
}

void TIETextControl::BeforeDestruction() {
  delete TextFont;
  TextFont = nullptr;
  delete TextBrush;
  TextBrush = nullptr;
  delete BorderPen;
  BorderPen = nullptr;
  delete BackgroundBrush;
  BackgroundBrush = nullptr;
  delete OffScreen;
  OffScreen = nullptr;
  inherited::BeforeDestruction();
}

TIETextControl::~TIETextControl() {
  delete TextFont;
  delete TextBrush;
  delete BorderPen;
  delete BackgroundBrush;
  delete OffScreen;
}

void TIETextControl::CreateParams(TCreateParams& p) {
  inherited::CreateParams(p);
  p.WindowClass.style &= ~(CS_HREDRAW | CS_VREDRAW);
}

void TIETextControl::FormatFromDefaults(TIETextFormat& f) const {
  f.FontName = TextFont->GetName().substr(0, 255);
  f.FontHeight = TextFont->GetHeight();
  f.FontStyle = uint8_t(TextFont->GetStyle() & 15);
  f.Color = TextFont->GetColor();
  f.BackColor = TextBrush->GetColor();
  f.BackStyle = uint8_t(TextBrush->GetStyle());
  f.Alignment = Alignment;
}

void TIETextControl::Init() {
  CaretPos = 0;
  SelStart = SelStop = 0;
  const int len = int(std::strlen(Text.c_str()));
  Text.resize(size_t(len));
  if (int(CharFormats.size()) != len) CharFormats.assign(size_t(len), 0);
  if (Formats.empty() && len > 0) {
    TIETextFormat f;
    FormatFromDefaults(f);
    f.RefCount = len;
    Formats.push_back(f);
  }
  // A format index outside the list would read past it: such characters take format 0.
  for (auto& idx : CharFormats)
    if (idx < 0 || idx >= int(Formats.size())) idx = 0;
  ClearCaches(0);
  FormatFromDefaults(CurrentFormat);
  if (HandleAllocated()) Invalidate();
}

void TIETextControl::SetUniformFormat(bool value) {
  UniformFormat = value;
  UpdateControl();
}

void TIETextControl::UpdateControl() {
  ClearCaches(0);
  if (HandleAllocated()) Invalidate();
}

const TIETextFormat& TIETextControl::FormatOf(int index) const {
  if (index < 0 || index >= int(CharFormats.size())) return CurrentFormat;
  int f = CharFormats[size_t(index)];
  if (f < 0 || f >= int(Formats.size())) return CurrentFormat;
  return Formats[size_t(f)];
}

void TIETextControl::ClearCaches(int from) {
  const size_t n = Text.size() + 1;
  CacheLineHeight.resize(n);
  CacheGlyphWidth.resize(n);
  CacheLeading.resize(n);
  CacheDescent.resize(n);
  CharX.resize(n);
  CharY.resize(n);
  for (size_t i = size_t(std::max(0, from)); i < n; ++i) {
    CacheLineHeight[i] = 0;
    CacheGlyphWidth[i] = -1;
    CacheLeading[i] = CacheDescent[i] = 0;
    CharX[i] = CharY[i] = -1;
  }
}

void TIETextControl::EnsureCaches() {
  if (CharX.size() != Text.size() + 1) ClearCaches(0);
}

// ---- characters and formats ----

int TIETextControl::AddFormat(const TIETextFormat& f) {
  for (size_t i = 0; i < Formats.size(); ++i)
    if (Formats[i].SameAs(f)) return int(i);
  Formats.push_back(f);
  Formats.back().RefCount = 0;
  return int(Formats.size()) - 1;
}

void TIETextControl::ReleaseFormatOf(int index) {
  int f = CharFormats[size_t(index)];
  if (f >= 0 && f < int(Formats.size()) && Formats[size_t(f)].RefCount > 0) --Formats[size_t(f)].RefCount;
}

void TIETextControl::SetCharFormat(int index, const TIETextFormat& f) {
  ReleaseFormatOf(index);
  int k = AddFormat(f);
  ++Formats[size_t(k)].RefCount;
  CharFormats[size_t(index)] = k;
}

void TIETextControl::InsertChar(char c) {
  CaretPos = std::clamp(CaretPos, 0, int(Text.size()));
  int k = AddFormat(CurrentFormat);
  ++Formats[size_t(k)].RefCount;
  Text.insert(Text.begin() + CaretPos, c);
  CharFormats.insert(CharFormats.begin() + CaretPos, k);
  ClearCaches(CaretPos);
  ++CaretPos;
}

void TIETextControl::DeleteChar(int index) {
  if (index < 0 || index >= int(Text.size())) return;
  ReleaseFormatOf(index);
  Text.erase(Text.begin() + index);
  CharFormats.erase(CharFormats.begin() + index);
  ClearCaches(index);
}

void TIETextControl::DeleteSelection() {
  if (SelStart >= SelStop) return;
  int stop = std::min(SelStop, int(Text.size()));
  for (int i = stop - 1; i >= SelStart; --i) DeleteChar(i);
  CaretPos = std::min(SelStart, int(Text.size()));
  ClearSelection();
}

void TIETextControl::PackFormats() {
  for (int i = int(Formats.size()) - 1; i >= 0; --i) {
    if (Formats[size_t(i)].RefCount != 0) continue;
    Formats.erase(Formats.begin() + i);
    for (auto& idx : CharFormats)
      if (idx > i) --idx;
  }
}

template <typename Fn>
void TIETextControl::ChangeSelectionFormats(Fn change) {
  int stop = std::min(SelStop, int(Text.size()));
  for (int i = SelStart; i < stop; ++i) {
    TIETextFormat f = FormatOf(i);
    change(f);
    SetCharFormat(i, f);
  }
  change(CurrentFormat);
  UpdateControl();
}

void TIETextControl::SetParagraphAlignment(uint8_t a) {
  int len = int(Text.size());
  int from = std::min(CaretPos, len);
  while (from > 0 && Text[size_t(from - 1)] != '\n') --from;
  int to = std::min(CaretPos, len);
  while (to < len && Text[size_t(to)] != '\n') ++to;
  for (int i = from; i < to; ++i) {
    TIETextFormat f = FormatOf(i);
    f.Alignment = a;
    SetCharFormat(i, f);
  }
  CurrentFormat.Alignment = a;
  UpdateControl();
}

void TIETextControl::ToggleStyle(int bit) {
  const uint8_t mask = uint8_t(1u << bit);
  if (SelStart < SelStop && SelStart < int(Text.size())) {
    bool set = (FormatOf(SelStart).FontStyle & mask) != 0;
    int stop = std::min(SelStop, int(Text.size()));
    for (int i = SelStart; i < stop; ++i) {
      TIETextFormat f = FormatOf(i);
      f.FontStyle = set ? uint8_t(f.FontStyle & ~mask) : uint8_t(f.FontStyle | mask);
      SetCharFormat(i, f);
    }
  } else {
    CurrentFormat.FontStyle ^= mask;
  }
  UpdateControl();
}

void TIETextControl::SetFontOfSelection(TFont* font) {
  const std::string name = font->GetName().substr(0, 255);
  const int height = font->GetHeight();
  const uint8_t style = uint8_t(font->GetStyle() & 15);
  const TColor color = font->GetColor();
  ChangeSelectionFormats([&](TIETextFormat& f) {
    f.FontName = name;
    f.FontHeight = height;
    f.FontStyle = style;
    f.Color = color;
  });
}

void TIETextControl::SetBackColorOfSelection(TColor color) {
  ChangeSelectionFormats([&](TIETextFormat& f) { f.BackColor = color; });
}

void TIETextControl::GrowFont() {
  ChangeSelectionFormats([](TIETextFormat& f) {
    int h = f.FontHeight >= 0 ? f.FontHeight + 1 : f.FontHeight - 1;
    f.FontHeight = h == 0 ? 1 : h;
  });
}

void TIETextControl::ShrinkFont() {
  ChangeSelectionFormats([](TIETextFormat& f) {
    int h = f.FontHeight >= 0 ? f.FontHeight - 1 : f.FontHeight + 1;
    f.FontHeight = h == 0 ? 1 : h;
  });
}

// ---- caret moves ----

void TIETextControl::Moved(int oldCaret, int shift) {
  if (CaretPos > 0) {
    TIETextFormat f = FormatOf(CaretPos - 1);
    f.RefCount = 0;
    CurrentFormat = f;
  }
  const int c = CaretPos;
  if (shift & ssShift) {
    if (SelStart == 0 && SelStop == 0) {
      SelStart = oldCaret;
      SelStop = c;
    } else if (oldCaret < c) {
      if (SelStop < c) SelStop = c; else SelStart = c;
    } else {
      if (c < SelStart) SelStart = c; else SelStop = c;
    }
    if (SelStop < SelStart) std::swap(SelStart, SelStop);
  } else {
    ClearSelection();
  }
  UpdateControl();
}

int TIETextControl::PreviousWordStart(int p) const {
  const int len = int(Text.size());
  if (len == 0) return 0;
  p = std::min(p, len) - 1;
  while (p > 0 && Blank(Text[size_t(p)])) --p;
  while (p > 0 && !Blank(Text[size_t(p - 1)])) --p;
  if (p >= 0 && p < len && Blank(Text[size_t(p)])) ++p;
  return std::clamp(p, 0, std::max(0, len - 1));
}

int TIETextControl::NextWordStart(int p) const {
  const int len = int(Text.size());
  if (len == 0) return 0;  // an empty text has no character to stand on
  while (p < len && !Blank(Text[size_t(p)])) ++p;
  while (p < len && Blank(Text[size_t(p)])) ++p;
  return std::clamp(p, 0, len - 1);
}

int TIETextControl::LineUpDown(int p, bool up) const {
  const int len = int(Text.size());
  if (CharY.size() != size_t(len) + 1 || CharY[size_t(p)] < 0) return p;
  const int y = CharY[size_t(p)], x = CharX[size_t(p)];
  int q = -1;
  if (up) {
    for (int i = p - 1; i >= 0; --i)
      if (CharY[size_t(i)] >= 0 && CharY[size_t(i)] < y) {
        q = i;
        break;
      }
    if (q < 0) return p;  // already on the first line
    const int lineY = CharY[size_t(q)];
    while (q > 0 && CharY[size_t(q - 1)] == lineY && CharX[size_t(q)] > x) --q;
  } else {
    for (int i = p + 1; i <= len; ++i)
      if (CharY[size_t(i)] > y) {
        q = i;
        break;
      }
    if (q < 0) return p;
    const int lineY = CharY[size_t(q)];
    while (q < len && CharY[size_t(q + 1)] == lineY && CharX[size_t(q + 1)] <= x) ++q;
  }
  const int lineY = CharY[size_t(q)];
  if (q < len && CharY[size_t(q + 1)] == lineY && std::abs(CharX[size_t(q + 1)] - x) < std::abs(CharX[size_t(q)] - x))
    ++q;
  return q;
}

// ---- keyboard ----

bool TIETextControl::DoKeyDown(TMessage& m) {
  WORD key = WORD(m.WParam);
  KeyDown(key, KeyDataToShiftState(m.LParam));
  if (key == 0) return true;
  return inherited::DoKeyDown(m);
}

void TIETextControl::KeyDown(WORD& key, int shift) {
  EnsureCaches();
  const int len = int(Text.size());
  const int old = CaretPos;
  const bool ctrl = (shift & ssCtrl) != 0;
  const int sc = ShortCut(key, shift & (ssCtrl | ssShift | ssAlt));
  auto is = [&](TIEVectShortcut s) { return IEVectShortcuts[s] != 0 && sc == IEVectShortcuts[s]; };
  auto lineStartOf = [&](int p) {
    if (p >= len && len > 0 && CharY[size_t(len)] < 0) return p;
    int y = CharY[size_t(p)];
    while (p > 0 && CharY[size_t(p - 1)] == y) --p;
    return p;
  };
  switch (key) {
    case VK_BACK:
      if (SelStart < SelStop) DeleteSelection();
      else if (CaretPos > 0) {  // at 0 there is nothing before the caret
        DeleteChar(CaretPos - 1);
        --CaretPos;
      }
      UpdateControl();
      return;
    case VK_RETURN:
      InsertChar('\n');
      UpdateControl();
      return;
    case VK_END:
      if (ctrl) CaretPos = len;
      else if (CaretPos < len) {
        int y = CharY[size_t(CaretPos)];
        int p = CaretPos;
        while (p + 1 < len && CharY[size_t(p + 1)] == y) ++p;
        CaretPos = (p + 1 == len && CharY[size_t(len)] == y && Text[size_t(p)] != '\n') ? len : p;
      }
      Moved(old, shift);
      return;
    case VK_HOME:
      CaretPos = ctrl ? 0 : lineStartOf(CaretPos);
      Moved(old, shift);
      return;
    case VK_LEFT:
      CaretPos = ctrl ? PreviousWordStart(CaretPos) : std::max(0, CaretPos - 1);
      Moved(old, shift);
      return;
    case VK_RIGHT:
      CaretPos = ctrl ? NextWordStart(CaretPos) : std::min(len, CaretPos + 1);
      Moved(old, shift);
      return;
    case VK_UP:
    case VK_DOWN:
      CaretPos = LineUpDown(CaretPos, key == VK_UP);
      Moved(old, shift);
      return;
    case VK_INSERT:
      InsertMode = !InsertMode;
      return;
    case VK_DELETE:
      if (SelStart < SelStop) DeleteSelection();
      else DeleteChar(CaretPos);
      UpdateControl();
      return;
    case VK_F1:
    case VK_F2:
      if (shift & ssShift) {
        if (key == VK_F1) ShrinkFont(); else GrowFont();
      }
      return;
    default:
      break;
  }
  if (is(iescAlignLeft)) SetParagraphAlignment(0);
  else if (is(iescAlignRight)) SetParagraphAlignment(1);
  else if (is(iescAlignCenter)) SetParagraphAlignment(2);
  else if (is(iescJustify)) SetParagraphAlignment(3);
  else if (is(iescCopy)) CopyToClipboard();
  else if (is(iescCut)) {
    CopyToClipboard();
    DeleteSelection();
    UpdateControl();
  } else if (is(iescPaste)) {
    DeleteSelection();
    PasteFromClipboard();
    UpdateControl();
  } else if (is(iescBold)) ToggleStyle(0);
  else if (is(iescItalic)) ToggleStyle(1);
  else if (is(iescUnderline)) ToggleStyle(2);
  else if (is(iescFont)) {
    if (UniformFormat) return;
    LOGFONTA lf{};
    lf.lfHeight = CurrentFormat.FontHeight;
    lf.lfWeight = (CurrentFormat.FontStyle & 1) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (CurrentFormat.FontStyle & 2) ? 1 : 0;
    lf.lfUnderline = (CurrentFormat.FontStyle & 4) ? 1 : 0;
    lf.lfStrikeOut = (CurrentFormat.FontStyle & 8) ? 1 : 0;
    lf.lfCharSet = DEFAULT_CHARSET;
    std::strncpy(lf.lfFaceName, CurrentFormat.FontName.c_str(), LF_FACESIZE - 1);
    CHOOSEFONTA cf{};
    cf.lStructSize = sizeof cf;
    cf.hwndOwner = HandleAllocated() ? GetHandle() : nullptr;
    cf.lpLogFont = &lf;
    cf.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
    cf.rgbColors = ColorToRGB(CurrentFormat.Color);
    if (ChooseFontA(&cf)) {
      TFont font;
      font.SetName(lf.lfFaceName);
      font.SetHeight(lf.lfHeight);
      font.SetStyle((lf.lfWeight >= FW_BOLD ? fsBold : 0) | (lf.lfItalic ? fsItalic : 0) |
                    (lf.lfUnderline ? fsUnderline : 0) | (lf.lfStrikeOut ? fsStrikeOut : 0));
      font.SetColor(TColor(cf.rgbColors));
      SetFontOfSelection(&font);
    }
  } else if (is(iescBackColor)) {
    if (UniformFormat) return;
    TColorDialog* dialog = New<TColorDialog>(nullptr);
    dialog->SetColor(CurrentFormat.BackColor);
    if (dialog->Execute()) SetBackColorOfSelection(dialog->GetColor());
    dialog->Free();
  }
}

void TIETextControl::HandleChar(char c) {
  if (uint8_t(c) < 32 || uint8_t(c) == 127) return;
  DeleteSelection();
  if (!InsertMode) DeleteChar(CaretPos);
  InsertChar(c);
  ClearCaches(0);
  if (HandleAllocated()) {
    Invalidate();
    Update();
  }
}

// ---- mouse ----

int TIETextControl::CaretFromPoint(int x, int y) const {
  const int len = int(Text.size());
  if (CharY.size() != size_t(len) + 1) return 0;
  int i = 0;
  while (i <= len && (CharY[size_t(i)] < 0 || CharY[size_t(i)] <= y)) ++i;
  i = std::max(0, i - 1);
  const int lineY = CharY[size_t(i)];
  while (i > 0 && CharY[size_t(i - 1)] == lineY && x < CharX[size_t(i)] - 1) --i;
  return i;
}

void TIETextControl::DoMouseDown(TMouseButton b, int shift, int x, int y) {
  if (CanFocus()) SetFocus();
  EnsureCaches();
  if (shift & ssShift) {
    int from = CaretFromPoint(Anchor.x, Anchor.y), to = CaretFromPoint(x, y);
    SelStart = std::min(from, to);
    SelStop = std::max(from, to);
    CaretPos = to;
  } else {
    ClearSelection();
    CaretPos = CaretFromPoint(x, y);
  }
  if (CaretPos > 0) {
    CurrentFormat = FormatOf(CaretPos - 1);
    CurrentFormat.RefCount = 0;
  }
  Anchor = POINT{x, y};
  MouseSelecting = b == mbLeft;
  UpdateControl();
  if (OnCursorMoved) OnCursorMoved(this);
  inherited::DoMouseDown(b, shift, x, y);
}

void TIETextControl::SelectWordAtCaret() {
  const int len = int(Text.size());
  if (len == 0) return;
  int p = std::min(CaretPos, len - 1);
  int from = p, to = p;
  while (from > 0 && !Blank(Text[size_t(from - 1)])) --from;
  while (to < len && !Blank(Text[size_t(to)])) ++to;
  SelStart = from;
  SelStop = to;
  CaretPos = to;
  UpdateControl();
}

// ---- messages ----

void TIETextControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_ERASEBKGND:
      m.Result = 0;
      return;
    case WM_GETDLGCODE:
      m.Result = DLGC_WANTARROWS | DLGC_WANTCHARS;
      return;
    case CM_WANTSPECIALKEY:
      if (m.WParam == VK_TAB || (m.WParam >= 33 && m.WParam <= 40)) {
        m.Result = 1;
        return;
      }
      break;
    case CN_CHAR:
      HandleChar(char(m.WParam));
      m.Result = 1;
      return;
    case WM_CHAR:  // a character that reached the window without the library's loop
      HandleChar(char(m.WParam));
      m.Result = 0;
      return;
    case WM_KILLFOCUS:
      inherited::WndProc(m);
      HideCaret(GetHandle());
      DestroyCaret();
      return;
    case WM_LBUTTONDBLCLK:
      inherited::WndProc(m);
      SelectWordAtCaret();
      return;
    case WM_MOUSEMOVE:
      if (MouseSelecting && (m.WParam & MK_LBUTTON)) {
        int x = short(LOWORD(m.LParam)), y = short(HIWORD(m.LParam));
        int from = CaretFromPoint(Anchor.x, Anchor.y), to = CaretFromPoint(x, y);
        SelStart = std::min(from, to);
        SelStop = std::max(from, to);
        if (SelStart == SelStop) SelStart = SelStop = 0;
        CaretPos = to;
        UpdateControl();
        if (OnCursorMoved) OnCursorMoved(this);
      }
      break;
    case WM_LBUTTONUP:
      MouseSelecting = false;
      break;
    case WM_CUT:
    case WM_COPY:
    case WM_PASTE: {
      WORD key = m.Msg == WM_CUT ? 'X' : m.Msg == WM_COPY ? 'C' : 'V';
      KeyDown(key, ssCtrl);
      m.Result = 0;
      return;
    }
    case WM_SIZE:
      inherited::WndProc(m);
      UpdateControl();
      return;
    default:
      break;
  }
  inherited::WndProc(m);
}

// ---- clipboard ----

namespace {
class ClipboardSession {
 public:
  ClipboardSession() : open_(IEOpenClipboardRetry()) {}
  ~ClipboardSession() {
    if (open_) CloseClipboard();
  }
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;
  bool IsOpen() const { return open_; }

 private:
  bool open_;
};

HGLOBAL NewBlock(size_t size) { return GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, size); }
}  // namespace

void TIETextControl::CopyToClipboard() {
  const int stop = std::min(SelStop, int(Text.size()));
  const int n = stop - SelStart;
  if (n <= 0) return;
  ClipboardSession session;
  if (!session.IsOpen()) return;
  EmptyClipboard();
  if (HGLOBAL h = NewBlock(size_t(2) * size_t(n) + 1)) {
    char* p = static_cast<char*>(GlobalLock(h));
    for (int i = SelStart; i < stop; ++i) {
      if (Text[size_t(i)] == '\n') *p++ = '\r';
      *p++ = Text[size_t(i)];
    }
    *p = 0;
    GlobalUnlock(h);
    if (!SetClipboardData(CF_TEXT, h)) GlobalFree(h);
  }
  if (HGLOBAL h = NewBlock(size_t(n) * (kRecordBytes + 1) + 1)) {
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    std::memcpy(p, Text.data() + SelStart, size_t(n));
    p[n] = 0;
    for (int i = 0; i < n; ++i) FormatOf(SelStart + i).WriteRecord(p + n + 1 + size_t(i) * kRecordBytes);
    GlobalUnlock(h);
    if (!SetClipboardData(IETextMemoClipboardFormat, h)) GlobalFree(h);
  }
}

void TIETextControl::PasteFromClipboard() {
  ClipboardSession session;
  if (!session.IsOpen()) return;
  if (IETextMemoClipboardFormat && IsClipboardFormatAvailable(IETextMemoClipboardFormat)) {
    HGLOBAL h = GetClipboardData(IETextMemoClipboardFormat);
    const size_t size = h ? GlobalSize(h) : 0;
    const auto* p = h ? static_cast<const uint8_t*>(GlobalLock(h)) : nullptr;
    if (p) {
      // The block comes from any process: the characters must end with a NUL inside it, and the
      // formats that follow must all fit.
      const auto* nul = static_cast<const uint8_t*>(std::memchr(p, 0, size));
      const size_t n = nul ? size_t(nul - p) : 0;
      const bool whole = nul && (size - n - 1) / kRecordBytes >= n;
      if (whole) {
        for (size_t i = 0; i < n; ++i) {
          CurrentFormat.ReadRecord(p + n + 1 + i * kRecordBytes);
          CurrentFormat.RefCount = 0;
          InsertChar(char(p[i]));
        }
      }
      GlobalUnlock(h);
      if (whole) return;
    }
  }
  if (IsClipboardFormatAvailable(CF_TEXT)) {
    HGLOBAL h = GetClipboardData(CF_TEXT);
    const size_t size = h ? GlobalSize(h) : 0;
    if (const char* p = h ? static_cast<const char*>(GlobalLock(h)) : nullptr) {
      for (size_t i = 0; i < size && p[i]; ++i)
        if (p[i] != '\r') InsertChar(p[i]);
      GlobalUnlock(h);
    }
  }
}

// ---- TIEEdit ----

UI_IMPLEMENT_CLASS(TIEEdit, ui::TEdit, ui::DefaultFactory<TIEEdit>, nullptr, nullptr, nullptr)

void TIEEdit::WndProc(TMessage& m) {
  if (m.Msg == CM_WANTSPECIALKEY && (m.WParam == VK_TAB || (m.WParam >= 33 && m.WParam <= 40))) {
    m.Result = 1;
    return;
  }
  inherited::WndProc(m);
}

bool TIEEdit::DoKeyPress(TMessage& m) {
  if (m.WParam == VK_TAB) {
    m.WParam = 0;
    return true;
  }
  return inherited::DoKeyPress(m);
}
