#include "iedibbitmap.h"

#include <cstring>

#include "ieutils.h"

uint8_t* TIEDibbitmap::GetRowAddress(int y) { return Bits + size_t(RowLength) * size_t(Height - 1 - y); }

TIEPixelFormat TIEDibbitmap::GetPixelFormat() {
  return BitCount == 1 ? ie1g : BitCount == 24 ? ie24RGB : ieNoFormat;
}

bool TIEDibbitmap::Allocate(int width, int height, TIEPixelFormat format) {
  if (format == ie1g) return AllocateDIB(width, height, 1);
  if (format == ie24RGB) return AllocateDIB(width, height, 24);
  return false;
}

void TIEDibbitmap::Assign(TIEBaseBitmap* source) {
  auto* s = dynamic_cast<TIEDibbitmap*>(source);
  if (!s || s == this || !s->Bits) return;
  if (AllocateDIB(s->Width, s->Height, s->BitCount))
    std::memcpy(Bits, s->Bits, size_t(RowLength) * size_t(Height));
}

bool TIEDibbitmap::AllocateDIB(int width, int height, int bitCount) {
  if (width <= 0 || height <= 0 || (bitCount != 1 && bitCount != 24)) return false;
  FreeDIB();
  Width = width;
  Height = height;
  BitCount = bitCount;
  int64_t rl = IERowLength(width, bitCount, 32);
  if (rl <= 0 || rl > INT32_MAX || uint64_t(rl) * uint64_t(height) > 0x7FFFFFFFu) return false;
  RowLength = int(rl);
  DibDC = CreateCompatibleDC(nullptr);
  if (!DibDC) return false;
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[2];
  } bi = {};
  bi.h.biSize = sizeof(BITMAPINFOHEADER);
  bi.h.biWidth = width;
  bi.h.biHeight = height;  // bottom-up
  bi.h.biPlanes = 1;
  bi.h.biBitCount = WORD(bitCount);
  bi.h.biCompression = BI_RGB;
  bi.h.biSizeImage = DWORD(RowLength) * DWORD(height);
  bi.colors[1] = RGBQUAD{255, 255, 255, 0};
  void* p = nullptr;
  DibSection = CreateDIBSection(DibDC, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &p, nullptr, 0);
  if (!DibSection || !p) {
    // size and bit count stay as asked while Bits is null: callers test the result
    if (DibSection) DeleteObject(DibSection);
    DibSection = nullptr;
    return false;
  }
  Bits = static_cast<uint8_t*>(p);
  OldBitmap = SelectObject(DibDC, DibSection);
  return true;
}

void TIEDibbitmap::FreeDIB() {
  if (DibDC && OldBitmap) SelectObject(DibDC, OldBitmap);
  if (DibSection) DeleteObject(DibSection);
  if (DibDC) DeleteDC(DibDC);
  DibDC = nullptr;
  DibSection = nullptr;
  OldBitmap = nullptr;
  Bits = nullptr;
  Width = Height = BitCount = 0;
}

TIEWorkBitmap::TIEWorkBitmap(int width, int height, int bitsPerPixel) {
  if (width > 0 && height > 0) Allocate(width, height, bitsPerPixel);
}

void TIEWorkBitmap::Allocate(int width, int height, int bitsPerPixel) {
  if (width == Width && height == Height && bitsPerPixel == MaskBitDepth) return;
  Free();
  Width = width;
  Height = height;
  MaskBitDepth = bitsPerPixel;
  int64_t rl = IERowLength(width, bitsPerPixel, 32);
  RowLength = rl > 0 && rl <= INT32_MAX ? int(rl) : 0;
  if (RowLength > 0 && height > 0) Bits = static_cast<uint8_t*>(IEAutoAlloc(uint64_t(RowLength) * uint64_t(height)));
}

void TIEWorkBitmap::Free() {
  if (Bits) IEAutoFree(Bits);
  Bits = nullptr;
  Width = Height = MaskBitDepth = RowLength = 0;
}
