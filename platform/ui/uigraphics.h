// Colours, fonts, pens, brushes and canvases.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "uicomponent.h"
#include "uistreams.h"

namespace ui {

// A colour: 0x00BBGGRR, or a system colour reference (high bit set, low byte the COLOR_* index).
using TColor = int32_t;
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor SysColor(int index) { return static_cast<TColor>(0x80000000u | static_cast<uint32_t>(index)); }
constexpr TColor clBlack = 0x000000, clWhite = 0xFFFFFF, clRed = 0x0000FF, clGreen = 0x008000, clBlue = 0xFF0000,
                 clYellow = 0x00FFFF, clGray = 0x808080, clSilver = 0xC0C0C0, clNavy = 0x800000,
                 clMaroon = 0x000080, clLime = 0x00FF00, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;
constexpr TColor clBtnFace = SysColor(COLOR_BTNFACE), clWindow = SysColor(COLOR_WINDOW),
                 clWindowText = SysColor(COLOR_WINDOWTEXT), clBtnText = SysColor(COLOR_BTNTEXT),
                 clHighlight = SysColor(COLOR_HIGHLIGHT), clHighlightText = SysColor(COLOR_HIGHLIGHTTEXT),
                 clBtnShadow = SysColor(COLOR_BTNSHADOW), clBtnHighlight = SysColor(COLOR_BTNHIGHLIGHT),
                 clGrayText = SysColor(COLOR_GRAYTEXT), clInfoBk = SysColor(COLOR_INFOBK),
                 clInfoText = SysColor(COLOR_INFOTEXT), clMenu = SysColor(COLOR_MENU),
                 clMenuText = SysColor(COLOR_MENUTEXT), clWindowFrame = SysColor(COLOR_WINDOWFRAME);
// The RGB value, system references resolved.
COLORREF ColorToRGB(TColor c);

// Base of fonts, pens and brushes: one GDI object made on demand, OnChange on every change.
class TGraphicsObject : public TPersistent {
  UI_DECLARE_CLASS(TGraphicsObject, TPersistent)
 public:
  TNotifyEvent OnChange;

 protected:
  TGraphicsObject() = default;
  virtual void Changed();
};

enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum TFontPitch { fpDefault, fpVariable, fpFixed };

class TFont : public TGraphicsObject {
  UI_DECLARE_CLASS(TFont, TGraphicsObject)
 public:
  TFont();
  ~TFont() override;
  HFONT GetHandle();
  void SetHandle(HFONT h);  // adopts the description of `h`; the font keeps making its own handle
  std::string GetName() const { return name_; }
  void SetName(const std::string& n);
  int GetHeight() const { return height_; }  // pixels; negative = character height
  void SetHeight(int h);
  int GetSize() const;                       // points at PixelsPerInch
  void SetSize(int points);
  int GetStyle() const { return style_; }
  void SetStyle(int s);
  TColor GetColor() const { return color_; }
  void SetColor(TColor c);
  int GetCharset() const { return charset_; }
  void SetCharset(int c);
  TFontPitch GetPitch() const { return pitch_; }
  void SetPitch(TFontPitch p);
  int PixelsPerInch = 96;
  void Assign(TPersistent* source) override;

 private:
  void Free_();
  std::string name_ = "MS Sans Serif";
  int height_ = -11;
  int style_ = 0;
  TColor color_ = clWindowText;
  int charset_ = DEFAULT_CHARSET;
  TFontPitch pitch_ = fpDefault;
  HFONT handle_ = nullptr;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
// How a pen's pixels combine with the destination (the raster operations R2_*, in this order).
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot, pmMergeNotPen, pmMaskNotPen,
  pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

class TPen : public TGraphicsObject {
  UI_DECLARE_CLASS(TPen, TGraphicsObject)
 public:
  TPen() = default;
  ~TPen() override;
  HPEN GetHandle();
  TColor GetColor() const { return color_; }
  void SetColor(TColor c);
  int GetWidth() const { return width_; }
  void SetWidth(int w);
  TPenStyle GetStyle() const { return style_; }
  void SetStyle(TPenStyle s);
  // Set on the device context with the pen (SetROP2).
  TPenMode GetMode() const { return mode_; }
  void SetMode(TPenMode m);
  int GetRop2() const;  // the R2_* code of the mode
  // Takes a platform pen as its own (freed with the pen or the next change); colour, width and style
  // stay what they were.
  void SetHandle(HPEN h);
  void Assign(TPersistent* source) override;

 private:
  void Free_();
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
  TPenMode mode_ = pmCopy;
  HPEN handle_ = nullptr;
};

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

class TBrush : public TGraphicsObject {
  UI_DECLARE_CLASS(TBrush, TGraphicsObject)
 public:
  TBrush() = default;
  ~TBrush() override;
  HBRUSH GetHandle();
  TColor GetColor() const { return color_; }
  void SetColor(TColor c);
  TBrushStyle GetStyle() const { return style_; }
  void SetStyle(TBrushStyle s);
  void Assign(TPersistent* source) override;

 private:
  void Free_();
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
  HBRUSH handle_ = nullptr;
};

class TCanvas;

enum TProgressStage { psStarting, psRunning, psEnding };
// Progress of a long operation of a graphic (loading, saving, converting): its stage, the percentage
// done, whether the picture should be drawn again now (and which part), and what is being done.
using TProgressEvent = TEvent<void(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow,
                                   const RECT& R, const std::string& Msg)>;

// A picture of some format: drawn on a canvas, loaded from and saved to streams.
class TGraphic : public TPersistent {
  UI_DECLARE_CLASS(TGraphic, TPersistent)
 public:
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual void SetWidth(int w) = 0;
  virtual void SetHeight(int h) = 0;
  virtual bool Empty() const = 0;
  virtual void LoadFromStream(TStream* s) = 0;
  virtual void SaveToStream(TStream* s) = 0;
  void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);
  virtual HPALETTE GetPalette() { return nullptr; }
  virtual void SetPalette(HPALETTE) {}
  bool GetTransparent() const { return transparent_; }
  virtual void SetTransparent(bool t);
  bool Modified = false;
  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  // Drawing is the canvas's business: Canvas.Draw / StretchDraw call this.
  virtual void Draw(TCanvas* canvas, const RECT& r) = 0;
  // The clipboard: reads the graphic from `data` of clipboard format `format` (with `palette`, may be
  // null), and gives the graphic as new data the clipboard will own. The defaults refuse with
  // EInvalidGraphic "Unsupported clipboard format".
  virtual void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette);
  virtual void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette);
  // Layouts store a graphic as "Data": its own stream (a bitmap file for bitmaps, an icon file for icons).
  void DefineProperties(TFiler* filer) override;
  // What a layout stores of the graphic (a picture's "Data" too): its own stream.
  virtual void WriteData(TStream* s) { SaveToStream(s); }

 protected:
  TGraphic() = default;
  virtual void Changed();
  // Reports progress through OnProgress.
  virtual void Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const RECT& r,
                        const std::string& msg);

 private:
  bool transparent_ = false;
};

// Drawing on a device context; the font, pen and brush are selected into it on demand.
class TCanvas : public TPersistent {
  UI_DECLARE_CLASS(TCanvas, TPersistent)
 public:
  TCanvas();
  ~TCanvas() override;
  // The device context; descendants make one on demand (CreateHandle).
  HDC GetHandle();
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return dc_ != nullptr; }
  TFont* Font() const { return font_; }
  TPen* Pen() const { return pen_; }
  TBrush* Brush() const { return brush_; }
  void SetFont(TFont* f) { font_->Assign(f); }
  void SetPen(TPen* p) { pen_->Assign(p); }
  void SetBrush(TBrush* b) { brush_->Assign(b); }

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  POINT PenPos();
  void Rectangle(int x1, int y1, int x2, int y2);
  void Ellipse(int x1, int y1, int x2, int y2);
  void Polygon(const POINT* pts, int count);
  void Polyline(const POINT* pts, int count);
  void FillRect(const RECT& r);
  void FrameRect(const RECT& r);
  void TextOut(int x, int y, const std::string& text);
  void TextRect(const RECT& r, int x, int y, const std::string& text);
  SIZE TextExtent(const std::string& text);
  int TextWidth(const std::string& text) { return TextExtent(text).cx; }
  int TextHeight(const std::string& text) { return TextExtent(text).cy; }
  void Draw(int x, int y, TGraphic* g);
  void StretchDraw(const RECT& r, TGraphic* g);
  void CopyRect(const RECT& dest, TCanvas* src, const RECT& source);
  TColor GetPixel(int x, int y);
  void SetPixel(int x, int y, TColor c);
  RECT ClipRect();
  int CopyMode = SRCCOPY;
  // ExtTextOut options the canvas's text output adds (ETO_RTLREADING: right-to-left reading).
  int TextFlags = 0;
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;
  // Painter threads and the main thread take the canvas in turn: Lock waits for it, TryLock takes it
  // only when no other thread holds it; both nest within one thread and pair with Unlock.
  void Lock();
  bool TryLock();
  void Unlock();
  int LockCount() const { return lockCount_; }

  // What a drawing call needs selected; CreateHandle is asked when no DC exists yet.
  enum : unsigned { csHandleValid = 1, csFontValid = 2, csPenValid = 4, csBrushValid = 8 };
  void RequiredState(unsigned state);

 protected:
  virtual void CreateHandle() {}
  void Changing();
  void Changed();
  void DeselectHandles();

 private:
  void FontChanged(TObject*);
  void PenChanged(TObject*);
  void BrushChanged(TObject*);
  HDC dc_ = nullptr;
  unsigned state_ = 0;
  TFont* font_;
  TPen* pen_;
  TBrush* brush_;
  HGDIOBJ oldFont_ = nullptr, oldPen_ = nullptr, oldBrush_ = nullptr;
  int lockCount_ = 0;
  CRITICAL_SECTION lock_;
};

// Lends `dc` to `canvas`, locked, while `draw` runs; the canvas gives it back also when `draw` throws.
template <class F>
void DrawOnCanvas(TCanvas* canvas, HDC dc, F&& draw) {
  canvas->SetHandle(dc);
  canvas->Lock();
  try {
    draw();
  } catch (...) {
    canvas->Unlock();
    canvas->SetHandle(nullptr);
    throw;
  }
  canvas->Unlock();
  canvas->SetHandle(nullptr);
}

// Screen DPI, read once.
int ScreenPixelsPerInch();

}  // namespace ui
