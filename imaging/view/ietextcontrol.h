// TIETextControl, the rich-text editor of memo objects: 8-bit text with a format per character, word
// wrap, margins, caret and selection, keyboard and mouse editing and clipboard exchange in the format
// "IMAGERY TEXTMEMO". Its layout engine (DrawText) also draws memo objects into any canvas at any zoom.
// TIEEdit is the single-line in-place editor of text objects.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "uibitmap.h"
#include "uicontrols.h"
#include "uistdctrls.h"

class TIECanvas;

// One character format. Stored as a fixed 280-byte record (clipboard, objects stream); the record is
// always written and read field by field.
struct TIETextFormat {
  int32_t RefCount = 0;  // characters of the owning list that use it
  std::string FontName;  // at most 255 characters
  int32_t FontHeight = -11;
  uint8_t FontStyle = 0;  // bit 0 bold, 1 italic, 2 underline, 3 strike-out
  int32_t Color = 0;
  int32_t BackColor = 0xFFFFFF;
  uint8_t BackStyle = 0;  // ui::TBrushStyle
  uint8_t Alignment = 0;  // 0 left, 1 right, 2 centre, 3 justify

  static constexpr int kRecordSize = 280;
  // Everything but the reference count.
  bool SameAs(const TIETextFormat& o) const;
  void WriteRecord(uint8_t* dest) const;    // kRecordSize bytes
  void ReadRecord(const uint8_t* source);   // kRecordSize bytes
};

extern UINT IETextMemoClipboardFormat;  // "IMAGERY TEXTMEMO", registered at start-up
void IETextControlStaticInit();
void IETextControlStaticFini();

class TIETextControl : public ui::TCustomControl {
  UI_DECLARE_CLASS(TIETextControl, ui::TCustomControl)
 public:
  TIETextControl();
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;
  ~TIETextControl() override;

  // After Text (and optionally CharFormats / Formats) were set: caret and selection 0, formats
  // completed, layout caches cleared, CurrentFormat from TextFont, TextBrush and Alignment.
  void Init();
  void PackFormats();  // drops formats no character uses
  void SetUniformFormat(bool value);
  bool GetUniformFormat() const { return UniformFormat; }

  // Lays the text out in the box (width and height unzoomed) and draws it; the caches record where
  // every character and the caret went.
  void DrawText(TIECanvas* canvas, int left, int top, int width, int height);

  void InsertChar(char c);
  void DeleteChar(int index);
  void DeleteSelection();
  void ClearSelection() { SelStart = SelStop = 0; }
  void CopyToClipboard();
  void PasteFromClipboard();
  void SetParagraphAlignment(uint8_t a);
  void ToggleStyle(int bit);
  void SetFontOfSelection(ui::TFont* font);
  void SetBackColorOfSelection(ui::TColor color);
  void GrowFont();
  void ShrinkFont();
  // The key-pressed handling (the keyboard table); shift is a ui::ss* set.
  void KeyDown(WORD& key, int shift);
  void HandleChar(char c);

  // ---- text and formats ----
  std::string Text;                    // line feed separates paragraphs
  std::vector<int32_t> CharFormats;    // per character, an index into Formats
  std::vector<TIETextFormat> Formats;
  TIETextFormat CurrentFormat;         // given to the next typed character
  const TIETextFormat& FormatOf(int index) const;  // of a character, CurrentFormat when out of range

  // ---- layout caches (one entry more than the text: the caret at the end) ----
  std::vector<int16_t> CacheLineHeight, CacheGlyphWidth;
  std::vector<uint8_t> CacheLeading, CacheDescent;
  std::vector<int32_t> CharX, CharY;  // client pixels; -1 not laid out
  void ClearCaches(int from);

  // ---- caret and selection ----
  int CaretPos = 0;
  int CaretX = 0, CaretY = 0, CaretHeight = 0;
  int SelStart = 0, SelStop = 0;  // SelStart <= i < SelStop selected; both 0: none
  POINT Anchor{0, 0};
  int CaretFromPoint(int x, int y) const;

  // ---- settings ----
  bool InsertMode = true;
  uint8_t Alignment = 0;
  double ZoomFactor = 1.0;
  double MarginLeft = 0, MarginTop = 0, MarginRight = 0, MarginBottom = 0;  // percent of the box
  int LineSpacing = 0;
  int FixedLineHeight = 0;
  bool AutoHeight = false;
  bool FixedColors = false;
  bool CollectText = false;
  std::string CollectedText;

  ui::TFont* TextFont = nullptr;
  ui::TBrush* TextBrush = nullptr;
  ui::TPen* BorderPen = nullptr;
  ui::TBrush* BackgroundBrush = nullptr;
  ui::TBitmap* BackgroundBitmap = nullptr;  // not owned: the view's back buffer
  ui::TNotifyEvent OnCursorMoved;

 protected:
  void CreateParams(ui::TCreateParams& p) override;
  void WndProc(ui::TMessage& m) override;
  void Paint() override;
  bool DoKeyDown(ui::TMessage& m) override;
  void DoMouseDown(ui::TMouseButton b, int shift, int x, int y) override;
  void UpdateControl();  // clears the caches and invalidates

 private:
  int AddFormat(const TIETextFormat& f);  // an equal one reused, else appended with count 0
  void ReleaseFormatOf(int index);
  void FormatFromDefaults(TIETextFormat& f) const;  // TextFont, TextBrush, Alignment
  void Moved(int oldCaret, int shift);
  void SelectWordAtCaret();
  void EnsureCaches();
  void PaintBackground();
  // Applies `change` to a copy of the format of every selected character and to CurrentFormat.
  template <typename Fn>
  void ChangeSelectionFormats(Fn change);
  void SetCharFormat(int index, const TIETextFormat& f);
  int PreviousWordStart(int p) const;
  int NextWordStart(int p) const;
  int LineUpDown(int p, bool up) const;

  ui::TBitmap* OffScreen = nullptr;
  bool UniformFormat = false;
  bool MouseSelecting = false;
};

// The in-place editor of text objects: a platform edit that wants the arrows and swallows Tab.
class TIEEdit : public ui::TEdit {
  UI_DECLARE_CLASS(TIEEdit, ui::TEdit)
 public:
  TIEEdit() = default;

 protected:
  void WndProc(ui::TMessage& m) override;
  bool DoKeyPress(ui::TMessage& m) override;
};
