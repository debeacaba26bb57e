// The platform bitmap behind a pixel buffer at the ieTBitmap location: the few operations of the
// user-interface library's bitmap that the pixel buffer needs (pixel format, size, scan lines, colour
// table, a device context to draw with). TIETBitmapAdapter puts the user-interface library's TBitmap
// behind this interface and is the storage of that location; TIEDIBSectionBitmap is a plain DIB
// section for drawing helpers that need nothing more.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

namespace ui {
class TBitmap;
class TCanvas;
}  // namespace ui

enum TIEPlatformPixelFormat : uint8_t {
  iepfDevice, iepf1bit, iepf4bit, iepf8bit, iepf15bit, iepf16bit, iepf24bit, iepf32bit
};

class TIEPlatformBitmap {
 public:
  virtual ~TIEPlatformBitmap() = default;
  virtual TIEPlatformPixelFormat GetPixelFormat() const = 0;
  // Changing the format or size keeps the pixels that still fit (as the user-interface bitmap does).
  virtual bool SetPixelFormat(TIEPlatformPixelFormat pf) = 0;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual bool SetSize(int width, int height) = 0;
  virtual uint8_t* ScanLine(int y) = 0;  // y = 0 is the top row
  // Colour table of the 1-, 4- and 8-bit formats; the number of entries read or written.
  virtual int GetColorTable(RGBQUAD* entries, int count) const = 0;
  virtual void SetColorTable(const RGBQUAD* entries, int count) = 0;
  virtual HDC GetDC() = 0;  // a memory device context with this bitmap selected
};

// Bits per pixel of a platform pixel format (0 for the device format).
int IEPlatformFormatBitCount(TIEPlatformPixelFormat pf);

class TIEDIBSectionBitmap : public TIEPlatformBitmap {
 public:
  TIEDIBSectionBitmap() = default;
  ~TIEDIBSectionBitmap() override;
  TIEDIBSectionBitmap(const TIEDIBSectionBitmap&) = delete;
  TIEDIBSectionBitmap& operator=(const TIEDIBSectionBitmap&) = delete;
  TIEPlatformPixelFormat GetPixelFormat() const override { return Format; }
  bool SetPixelFormat(TIEPlatformPixelFormat pf) override;
  int GetWidth() const override { return Width; }
  int GetHeight() const override { return Height; }
  bool SetSize(int width, int height) override;
  uint8_t* ScanLine(int y) override;
  int GetColorTable(RGBQUAD* entries, int count) const override;
  void SetColorTable(const RGBQUAD* entries, int count) override;
  HDC GetDC() override;

 private:
  bool Rebuild(int width, int height, TIEPlatformPixelFormat pf);
  void Release();
  TIEPlatformPixelFormat Format = iepfDevice;
  int Width = 0, Height = 0, Stride = 0;
  HBITMAP Section = nullptr;
  HDC DC = nullptr;
  HGDIOBJ OldBitmap = nullptr;
  uint8_t* Bits = nullptr;
  RGBQUAD Table[256] = {};
  int TableCount = 0;
};

// A TBitmap of the user-interface library behind the platform-bitmap interface, owned or borrowed.
// Indexed bitmaps (1, 4 and 8 bits) keep their indices and colour table across size changes, and a
// new colour table reaches the TBitmap's own description of its pixels, so that it draws and saves
// with the colours the pixel buffer set. Either changes the address of the rows.
class TIETBitmapAdapter : public TIEPlatformBitmap {
 public:
  TIETBitmapAdapter();                          // a new, empty TBitmap of its own
  explicit TIETBitmapAdapter(ui::TBitmap* bitmap);  // the caller's bitmap, which it keeps
  ~TIETBitmapAdapter() override;
  TIETBitmapAdapter(const TIETBitmapAdapter&) = delete;
  TIETBitmapAdapter& operator=(const TIETBitmapAdapter&) = delete;

  ui::TBitmap* GetBitmap() const { return Bitmap; }
  ui::TCanvas* GetCanvas();

  TIEPlatformPixelFormat GetPixelFormat() const override;
  bool SetPixelFormat(TIEPlatformPixelFormat pf) override;
  int GetWidth() const override;
  int GetHeight() const override;
  bool SetSize(int width, int height) override;
  uint8_t* ScanLine(int y) override;  // nullptr outside the bitmap
  int GetColorTable(RGBQUAD* entries, int count) const override;
  void SetColorTable(const RGBQUAD* entries, int count) override;
  HDC GetDC() override;  // the canvas's device context

 private:
  int IndexedBitCount() const;  // 1, 4 or 8; 0 for the other formats
  std::vector<RGBQUAD> CurrentTable() const;
  // Reloads the TBitmap at its present size and format with `table` and the top-left part of
  // `oldRows` (oldHeight rows of oldStride bytes, top row first); the rest is 0.
  bool ReloadIndexed(const std::vector<RGBQUAD>& table, const std::vector<uint8_t>& oldRows, int oldStride,
                     int oldHeight);
  ui::TBitmap* Bitmap;
  bool Owned;
};
