// The platform bitmap behind a pixel buffer at the ieTBitmap location: the few operations of the
// user-interface library's bitmap that the pixel buffer needs (pixel format, size, scan lines, colour
// table, a device context to draw with). TIEDIBSectionBitmap is the plain DIB-section implementation
// used until the user-interface bitmap is adapted to this interface.
#pragma once
#include <windows.h>

#include <cstdint>

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
