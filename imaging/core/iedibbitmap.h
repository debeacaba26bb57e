// Two small raster holders beside TIEBitmap: TIEDibbitmap, a 1- or 24-bit DIB section selected into a
// memory device context of its own, so that platform drawing can go straight into pixels the library
// reads row by row; and TIEWorkBitmap, a plain bottom-up pixel block for intermediate rows.
#pragma once
#include <windows.h>

#include <cstdint>

#include "iebitmap.h"

class TIEDibbitmap : public TIEBaseBitmap {
 public:
  TIEDibbitmap() = default;
  ~TIEDibbitmap() override { FreeDIB(); }
  TIEDibbitmap(const TIEDibbitmap&) = delete;
  TIEDibbitmap& operator=(const TIEDibbitmap&) = delete;

  uint8_t* GetRowAddress(int row) override;
  int GetBitCount() override { return BitCount; }
  int GetImageHeight() override { return Height; }
  int GetImageWidth() override { return Width; }
  TIEPixelFormat GetPixelFormat() override;  // ie1g, ie24RGB or ieNoFormat
  int GetRowLength() override { return RowLength; }
  TIERGB* GetPalette() override { return nullptr; }
  TIERGB GetPaletteEntry(int) override { return TIERGB{0, 0, 0}; }
  void SetPaletteEntry(int, TIERGB) override {}
  int GetPaletteCount() override { return 0; }
  bool Allocate(int width, int height, TIEPixelFormat format) override;  // ie1g or ie24RGB only
  void Assign(TIEBaseBitmap* source) override;  // from another TIEDibbitmap only
  void CopyPaletteTo(TIEBaseBitmap*) override {}

  // A bottom-up DIB section of bitCount (1 or 24) bits; false when it cannot be had.
  bool AllocateDIB(int width, int height, int bitCount);
  void FreeDIB();
  HDC GetDibDC() const { return DibDC; }
  uint8_t* GetBits() const { return Bits; }

 private:
  int Width = 0, Height = 0, BitCount = 0, RowLength = 0;
  HDC DibDC = nullptr;
  HBITMAP DibSection = nullptr;
  HGDIOBJ OldBitmap = nullptr;
  uint8_t* Bits = nullptr;
};

class TIEWorkBitmap {
 public:
  TIEWorkBitmap(int width, int height, int bitsPerPixel);
  ~TIEWorkBitmap() { Free(); }
  TIEWorkBitmap(const TIEWorkBitmap&) = delete;
  TIEWorkBitmap& operator=(const TIEWorkBitmap&) = delete;

  // Keeps the pixels when nothing changes; a refused block leaves Bits null.
  void Allocate(int width, int height, int bitsPerPixel);
  uint8_t* GetRowAddress(int y) { return Bits + size_t(RowLength) * size_t(Height - 1 - y); }
  void Free();
  int Width = 0, Height = 0, MaskBitDepth = 0, RowLength = 0;
  uint8_t* Bits = nullptr;
};
