#include "ieplatformbitmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

int IEPlatformFormatBitCount(TIEPlatformPixelFormat pf) {
  switch (pf) {
    case iepf1bit: return 1;
    case iepf4bit: return 4;
    case iepf8bit: return 8;
    case iepf15bit: return 16;
    case iepf16bit: return 16;
    case iepf24bit: return 24;
    case iepf32bit: return 32;
    default: return 0;
  }
}

TIEDIBSectionBitmap::~TIEDIBSectionBitmap() { Release(); }

void TIEDIBSectionBitmap::Release() {
  if (DC) {
    if (OldBitmap) SelectObject(DC, OldBitmap);
    DeleteDC(DC);
  }
  if (Section) DeleteObject(Section);
  DC = nullptr;
  OldBitmap = nullptr;
  Section = nullptr;
  Bits = nullptr;
}

bool TIEDIBSectionBitmap::Rebuild(int width, int height, TIEPlatformPixelFormat pf) {
  // the device format is taken as 32 bits, what a true-colour screen gives
  int bits = IEPlatformFormatBitCount(pf);
  if (bits == 0) bits = 32;
  std::vector<uint8_t> old;
  int oldW = Width, oldH = Height, oldStride = Stride;
  bool sameDepth = bits == (IEPlatformFormatBitCount(Format) ? IEPlatformFormatBitCount(Format) : 32);
  if (Bits && sameDepth) old.assign(Bits, Bits + size_t(oldStride) * oldH);
  Release();
  Width = Height = Stride = 0;
  Format = pf;
  if (width <= 0 || height <= 0) return true;
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
  } bi = {};
  bi.h.biSize = sizeof(BITMAPINFOHEADER);
  bi.h.biWidth = width;
  bi.h.biHeight = height;  // bottom-up, as the user-interface bitmap keeps its rows
  bi.h.biPlanes = 1;
  bi.h.biBitCount = WORD(bits);
  bi.h.biCompression = (pf == iepf15bit || pf == iepf16bit) ? BI_BITFIELDS : BI_RGB;
  if (pf == iepf16bit) {
    DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    std::memcpy(bi.colors, masks, sizeof(masks));
  } else if (pf == iepf15bit) {
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
    std::memcpy(bi.colors, masks, sizeof(masks));
  } else if (bits <= 8) {
    int n = 1 << bits;
    if (TableCount == 0 && bits == 1) {  // a new monochrome bitmap: black and white
      Table[1].rgbRed = Table[1].rgbGreen = Table[1].rgbBlue = 255;
      TableCount = 2;
    }
    bi.h.biClrUsed = n;
    std::memcpy(bi.colors, Table, sizeof(RGBQUAD) * n);
  }
  DC = CreateCompatibleDC(nullptr);
  if (!DC) return false;
  void* p = nullptr;
  Section = CreateDIBSection(DC, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &p, nullptr, 0);
  if (!Section || !p) {
    Release();
    return false;
  }
  OldBitmap = SelectObject(DC, Section);
  Bits = static_cast<uint8_t*>(p);
  Width = width;
  Height = height;
  Stride = ((width * bits + 31) / 32) * 4;
  std::memset(Bits, 0, size_t(Stride) * height);
  if (!old.empty()) {  // keep the top-left pixels that still fit
    int rows = std::min(oldH, height), bytes = std::min(oldStride, Stride);
    for (int y = 0; y < rows; ++y)
      std::memcpy(Bits + size_t(Stride) * (height - 1 - y), old.data() + size_t(oldStride) * (oldH - 1 - y), bytes);
  }
  (void)oldW;
  return true;
}

bool TIEDIBSectionBitmap::SetPixelFormat(TIEPlatformPixelFormat pf) {
  if (pf == Format) return true;
  return Rebuild(Width, Height, pf);
}

bool TIEDIBSectionBitmap::SetSize(int width, int height) {
  if (width == Width && height == Height) return true;
  return Rebuild(width, height, Format);
}

uint8_t* TIEDIBSectionBitmap::ScanLine(int y) {
  return Bits ? Bits + size_t(Stride) * (Height - 1 - y) : nullptr;
}

int TIEDIBSectionBitmap::GetColorTable(RGBQUAD* entries, int count) const {
  int bits = IEPlatformFormatBitCount(Format);
  if (bits == 0 || bits > 8) return 0;
  int n = std::min(count, 1 << bits);
  std::memcpy(entries, Table, sizeof(RGBQUAD) * n);
  return n;
}

void TIEDIBSectionBitmap::SetColorTable(const RGBQUAD* entries, int count) {
  int n = std::min(count, 256);
  std::memcpy(Table, entries, sizeof(RGBQUAD) * n);
  TableCount = std::max(TableCount, n);
  if (DC && Section) SetDIBColorTable(DC, 0, n, Table);
}

HDC TIEDIBSectionBitmap::GetDC() { return DC; }
