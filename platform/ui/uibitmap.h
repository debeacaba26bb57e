// Bitmaps on DIB sections and icons.
#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "uigraphics.h"

namespace ui {

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
// Where the transparent colour of a bitmap comes from: its bottom-left pixel, or a fixed colour.
enum TTransparentMode { tmAuto, tmFixed };

class TBitmap;

// The canvas of a bitmap: a memory DC with the bitmap selected while it is in use.
class TBitmapCanvas : public TCanvas {
  UI_DECLARE_CLASS(TBitmapCanvas, TCanvas)
 public:
  explicit TBitmapCanvas(TBitmap* b) : bitmap_(b) {}
  ~TBitmapCanvas() override;
  void FreeContext();

 protected:
  void CreateHandle() override;

 private:
  TBitmap* bitmap_;
  HDC memDC_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  HGDIOBJ oldPalette_ = nullptr;
};

// A bitmap held in a DIB section. A new bitmap is white; changing the size keeps the top-left pixels.
class TBitmap : public TGraphic {
  UI_DECLARE_CLASS(TBitmap, TGraphic)
 public:
  TBitmap();
  ~TBitmap() override;
  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  void SetWidth(int w) override { SetSize(w, height_); }
  void SetHeight(int h) override { SetSize(width_, h); }
  void SetSize(int w, int h);
  bool Empty() const override { return !dib_; }
  TPixelFormat GetPixelFormat() const { return pixelFormat_; }
  void SetPixelFormat(TPixelFormat pf);
  TCanvas* Canvas();
  HBITMAP GetHandle();
  // Adopts `h` (any bitmap): copied into a DIB section of its depth; the handle is then owned.
  void SetHandle(HBITMAP h);
  // Gives up the handle to the caller; the bitmap becomes empty.
  HBITMAP ReleaseHandle();
  HPALETTE GetPalette() override;
  // First byte of row `row` (0 = top); EInvalidGraphicOperation outside the bitmap.
  void* ScanLine(int row);
  int BytesPerLine() const { return stride_; }
  void LoadFromStream(TStream* s) override;
  void SaveToStream(TStream* s) override;
  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const RECT& r) override;
  // Fills in the DIB header and colour table that describe the pixels.
  const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info_.data()); }
  // Replaces the colour table of a 1, 4 or 8-bit bitmap with `count` entries (1 to 2^bits); the pixel
  // indices stay. EInvalidGraphicOperation for an empty bitmap, another format or a bad count.
  void SetColorTable(const RGBQUAD* colors, int count);

  // Transparency (drawn through the mask when Transparent is set).
  TColor GetTransparentColor();
  // clDefault returns to tmAuto; any other colour makes the mode tmFixed.
  void SetTransparentColor(TColor c);
  TTransparentMode GetTransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode m);
  // A monochrome bitmap of the same size, white where a pixel has the transparent colour and black
  // elsewhere; made from the current pixels on request and owned by the bitmap (valid until the next
  // change). Null for an empty bitmap.
  HBITMAP MaskHandle();

  // Clipboard format CF_BITMAP: a copy of the pixels as a device bitmap, and back.
  void LoadFromClipboardFormat(UINT format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(UINT& format, HANDLE& data, HPALETTE& palette) override;

 protected:
  void Changed() override;

 private:
  void Recreate(int w, int h, TPixelFormat pf, bool keep);
  void FreeDib();
  void FreeMask();
  void DrawTransparent(HDC dc, const RECT& r);
  void CanvasChanged(TObject*) { FreeMask(); }
  void BuildHeader(int w, int h, int bits, const RGBQUAD* colors, int ncolors, bool bitfields565);
  // Makes the DIB section from info_ for the current size; stride_ and bits_ follow it.
  void CreateDibFromInfo();
  int BitCount() const;
  int width_ = 0, height_ = 0;
  TPixelFormat pixelFormat_ = pfDevice;
  HBITMAP dib_ = nullptr;
  uint8_t* bits_ = nullptr;
  int stride_ = 0;
  HPALETTE palette_ = nullptr;
  std::vector<uint8_t> info_;  // BITMAPINFOHEADER + colour table or masks
  std::unique_ptr<TBitmapCanvas> canvas_;  // freed after the destructor has let go of the DIB
  TColor transparentColor_ = clDefault;
  TTransparentMode transparentMode_ = tmAuto;
  HBITMAP mask_ = nullptr;  // made by MaskHandle, dropped by every change of the pixels
  friend class TBitmapCanvas;
};

class TIcon : public TGraphic {
  UI_DECLARE_CLASS(TIcon, TGraphic)
 public:
  TIcon() = default;
  ~TIcon() override;
  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  void SetWidth(int) override;
  void SetHeight(int) override;
  bool Empty() const override { return !handle_; }
  HICON GetHandle() const { return handle_; }
  void SetHandle(HICON h);  // owned from now on
  HICON ReleaseHandle();
  void LoadFromStream(TStream* s) override;
  void SaveToStream(TStream* s) override;
  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const RECT& r) override;

 private:
  void Clear();
  HICON handle_ = nullptr;
  int width_ = 0, height_ = 0;
  std::vector<uint8_t> data_;  // the icon file it came from, written back unchanged
};

}  // namespace ui
