// In-place editing of text objects (the single-line TIEEdit) and memo objects (the rich-text
// TIETextControl): starting and ending, placing the editor over the object, and the editors' keys.
#include <algorithm>
#include <cmath>

#include "ievect.h"
#include "ietextutils.h"

using namespace ui;

namespace {

// Greek and Russian systems type in their own charset.
int EditorCharset(int current) {
  switch (PRIMARYLANGID(LANGIDFROMLCID(GetThreadLocale()))) {
    case LANG_GREEK: return GREEK_CHARSET;
    case LANG_RUSSIAN: return RUSSIAN_CHARSET;
    default: return current;
  }
}

// Width in pixels of a text in a font.
int TextWidth(TFont* font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font->GetHandle());
  SIZE sz{0, 0};
  if (!text.empty()) GetTextExtentPoint32A(dc, text.data(), int(text.size()), &sz);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return sz.cx;
}

}  // namespace

bool TImageryVect::EditText(int hobj) {
  TIEVObjectRecord* r = ObjectRecord(hobj);
  if (!r || hobj == IEV_TEMPLATE || (r->Kind != ievkTEXT && r->Kind != ievkMEMO)) return false;
  if (EditIndex >= 0) {
    EndTextEdit();
    EditIndex = -1;
  }
  EditIndex = Resolve(hobj, false);
  StartTextEdit();
  Repaint();
  return EditIndex >= 0;
}

void TImageryVect::StartTextEdit() {
  if (EditIndex < 0 || EditIndex >= int(Records.size()) || !Records[size_t(EditIndex)]) {
    EditIndex = -1;
    return;
  }
  TIEVObjectRecord& r = *Records[size_t(EditIndex)];
  // The editors take their font from the record: an object without one is not edited.
  if (!r.TextEditable || !r.Font || (r.Kind != ievkTEXT && r.Kind != ievkMEMO)) {
    EditIndex = -1;
    return;
  }
  if (r.Kind == ievkTEXT) {
    TextEdit->SetParent(this);
    TextEdit->SetBorderStyle(bsNoBorder);
    UpdateTextEditorBounds();
    TextEdit->GetFont()->SetCharset(EditorCharset(TextEdit->GetFont()->GetCharset()));
    EditStartText = r.Text;
    TextEdit->SetText(r.Text);
    TextEdit->SetVisible(true);
    if (TextEdit->CanFocus()) TextEdit->SetFocus();
  } else {
    TextControl->BackgroundBitmap = GetBackBufferBitmap();
    TextControl->SetParent(this);
    UpdateTextEditorBounds();
    TextControl->TextFont->SetCharset(EditorCharset(TextControl->TextFont->GetCharset()));
    // The control works on copies: the object keeps its own until the editing ends, so a failure on
    // the way loses nothing.
    TextControl->Text = r.Text;
    TextControl->Formats = r.MemoFormats;
    TextControl->CharFormats = r.MemoCharFormats;
    TextControl->Init();
    TextControl->SetVisible(true);
    if (TextControl->CanFocus()) TextControl->SetFocus();
  }
  if (OnActivateTextEdit) OnActivateTextEdit(this);
}

void TImageryVect::EndTextEdit() {
  if (EditIndex < 0) return;
  const int h = EditIndex;
  EditIndex = -1;  // hiding the editor moves the focus: nothing may start this again meanwhile
  if (h >= int(Records.size()) || !Records[size_t(h)]) return;
  TIEVObjectRecord& r = *Records[size_t(h)];
  if (r.Kind == ievkTEXT) {
    r.Text = TextEdit->GetText();
    if (!Destroying && r.AutoSize) r.X2 = r.X1 + int(std::trunc(TextWidth(TextEdit->GetFont(), r.Text) * 100.0 / GetZoomX()));
    TextEdit->SetVisible(false);
  } else if (r.Kind == ievkMEMO) {
    TextControl->PackFormats();
    if (!Destroying && r.AutoSize) {
      const RECT cr = TextControl->GetClientRect();
      r.Y2 = r.Y1 + int(std::trunc((cr.bottom - cr.top) * 100.0 / GetZoomY()));
    }
    r.Text = std::move(TextControl->Text);
    r.MemoFormats = std::move(TextControl->Formats);
    r.MemoCharFormats = std::move(TextControl->CharFormats);
    TextControl->Text.clear();
    TextControl->Formats.clear();
    TextControl->CharFormats.clear();
    TextControl->SetVisible(false);
    TextControl->BackgroundBitmap = nullptr;
  }
  if (OnDeactivateTextEdit) OnDeactivateTextEdit(this);
  if (!Destroying && CanFocus()) SetFocus();
  DoVectorialChanged();
}

void TImageryVect::UpdateTextEditorBounds() {
  if (EditIndex < 0 || EditIndex >= int(Records.size()) || !Records[size_t(EditIndex)]) return;
  TIEVObjectRecord& r = *Records[size_t(EditIndex)];
  if (!r.Font) return;
  const int x1 = ImageToClientX(r.X1), y1 = ImageToClientY(r.Y1);
  const int x2 = ImageToClientX(r.X2), y2 = ImageToClientY(r.Y2);
  if (r.Kind == ievkTEXT) {
    TextEdit->SetBounds(x1, y1, x2 - x1, y2 - y1);
    TFont* f = TextEdit->GetFont();
    f->SetColor(r.PenColor);
    TextEdit->SetColor(r.BrushStyle != bsSolid ? GetBackground() : r.BrushColor);
    f->SetHeight(r.Font->lfHeight != 0 ? int(std::trunc(r.Font->lfHeight * GetZoomY() / 100)) : y2 - y1);
    f->SetName(r.Font->lfFaceName);
    f->SetStyle(GetObjFontStyles(EditIndex));
  } else if (r.Kind == ievkMEMO) {
    TIETextControl* c = TextControl;
    c->SetBounds(x1, y1, x2 - x1 + 1, y2 - y1 + 1);
    c->MarginLeft = r.MemoMargins[0], c->MarginTop = r.MemoMargins[1];
    c->MarginRight = r.MemoMargins[2], c->MarginBottom = r.MemoMargins[3];
    c->TextFont->SetName(r.Font->lfFaceName);
    c->TextFont->SetStyle(IELogFontToStyleBits(r.Font.get()));
    c->TextFont->SetColor(r.PenColor);
    c->TextFont->SetHeight(r.Font->lfHeight);
    c->TextBrush->SetColor(r.BrushColor);
    c->TextBrush->SetStyle(TBrushStyle(r.MemoBackgroundStyle));
    c->Alignment = r.TextAlign;
    c->BackgroundBrush->SetColor(r.BrushColor);
    c->BackgroundBrush->SetStyle(TBrushStyle(r.BrushStyle));
    c->SetUniformFormat(r.MemoUniformFormat);
    c->AutoHeight = r.AutoSize;
    c->LineSpacing = r.MemoLineSpacing;
    c->BorderPen->SetColor(r.MemoBorderColor);
    c->BorderPen->SetStyle(TPenStyle(r.MemoBorderStyle));
    c->FixedLineHeight = r.MemoLineHeight;
    c->ZoomFactor = GetZoomY() / 100;
  }
}

void TImageryVect::UpdateView() {
  inherited::UpdateView();
  UpdateTextEditorBounds();
}

void TImageryVect::DoViewChange(int change) {
  inherited::DoViewChange(change);
  if (EditIndex >= 0) UpdateTextEditorBounds();
}

TNotifyEvent TImageryVect::GetOnTextEditCursorMoved() const { return TextControl->OnCursorMoved; }
void TImageryVect::SetOnTextEditCursorMoved(TNotifyEvent e) { TextControl->OnCursorMoved = e; }

// With AutoSize the object ends one "M" after the text while it is typed.
void TImageryVect::TextEditChange(TObject* Sender) {
  (void)Sender;
  if (EditIndex < 0 || EditIndex >= int(Records.size()) || !Records[size_t(EditIndex)]) return;
  TIEVObjectRecord& r = *Records[size_t(EditIndex)];
  if (r.Kind != ievkTEXT || !r.AutoSize) return;
  TFont* f = TextEdit->GetFont();
  const int w = TextWidth(f, TextEdit->GetText());
  TextEdit->SetWidth(w);
  r.X2 = r.X1 + int(std::trunc((w + TextWidth(f, "M")) * 100.0 / GetZoomX()));
  Repaint();
}

void TImageryVect::TextEditKeyDown(TObject* Sender, WORD& key, int shift) {
  (void)Sender;
  if (OnTextKeyDown) OnTextKeyDown(TextEdit, key, shift);
  if (key == VK_RETURN) {
    key = 0;
    CancelInteract();
    DoVectorialChanged();
  } else if (key == VK_ESCAPE) {
    key = 0;
    // The text as it was when the editing began: an edit control's own undo would take back only
    // its last operation.
    TextEdit->SetText(EditStartText);
    CancelInteract();
  }
}

void TImageryVect::MemoKeyDown(TObject* Sender, WORD& key, int shift) {
  (void)Sender;
  if (OnTextKeyDown) OnTextKeyDown(TextControl, key, shift);
  if (key == VK_ESCAPE) {
    key = 0;
    CancelInteract();
  }
}
