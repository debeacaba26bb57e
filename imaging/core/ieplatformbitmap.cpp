#include "ieplatformbitmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "uibitmap.h"
#include "uistreams.h"

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

// ---- TIETBitmapAdapter ----

namespace {

void PutLE(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

int RowStride(int width, int bits) { return int(((int64_t(width) * bits + 31) / 32) * 4); }

}  // namespace

TIETBitmapAdapter::TIETBitmapAdapter() : Bitmap(new ui::TBitmap()), Owned(true) {}

TIETBitmapAdapter::TIETBitmapAdapter(ui::TBitmap* bitmap) : Bitmap(bitmap), Owned(false) {}

TIETBitmapAdapter::~TIETBitmapAdapter() {
  if (Owned) Bitmap->Free();
}

ui::TCanvas* TIETBitmapAdapter::GetCanvas() { return Bitmap->Canvas(); }

TIEPlatformPixelFormat TIETBitmapAdapter::GetPixelFormat() const {
  switch (Bitmap->GetPixelFormat()) {
    case ui::pf1bit: return iepf1bit;
    case ui::pf4bit: return iepf4bit;
    case ui::pf8bit: return iepf8bit;
    case ui::pf15bit: return iepf15bit;
    case ui::pf16bit: return iepf16bit;
    case ui::pf24bit: return iepf24bit;
    case ui::pf32bit: return iepf32bit;
    default: return iepfDevice;
  }
}

int TIETBitmapAdapter::IndexedBitCount() const {
  int bits = IEPlatformFormatBitCount(GetPixelFormat());
  return bits >= 1 && bits <= 8 ? bits : 0;
}

int TIETBitmapAdapter::GetWidth() const { return Bitmap->GetWidth(); }
int TIETBitmapAdapter::GetHeight() const { return Bitmap->GetHeight(); }

bool TIETBitmapAdapter::SetPixelFormat(TIEPlatformPixelFormat pf) {
  static const ui::TPixelFormat kUi[] = {ui::pfDevice, ui::pf1bit,  ui::pf4bit,  ui::pf8bit,
                                         ui::pf15bit,  ui::pf16bit, ui::pf24bit, ui::pf32bit};
  if (pf > iepf32bit) return false;
  try {
    Bitmap->SetPixelFormat(kUi[pf]);  // the TBitmap converts what it holds
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TIETBitmapAdapter::SetSize(int width, int height) {
  if (width == GetWidth() && height == GetHeight()) return true;
  try {
    int bits = IndexedBitCount();
    if (bits == 0 || Bitmap->Empty() || width <= 0 || height <= 0) {
      // the TBitmap keeps true-colour pixels itself
      Bitmap->SetSize(width, height);
      return true;
    }
    // The TBitmap would keep indexed pixels by their colours through a new default table, which
    // changes indices; keep the indices and the table here instead.
    std::vector<RGBQUAD> table = CurrentTable();
    int oldStride = Bitmap->BytesPerLine(), oldHeight = GetHeight();
    std::vector<uint8_t> rows(size_t(oldStride) * size_t(oldHeight));
    for (int y = 0; y < oldHeight; ++y)
      std::memcpy(rows.data() + size_t(oldStride) * y, Bitmap->ScanLine(y), size_t(oldStride));
    Bitmap->SetSize(width, height);
    return ReloadIndexed(table, rows, oldStride, oldHeight);
  } catch (const std::exception&) {
    return false;
  }
}

uint8_t* TIETBitmapAdapter::ScanLine(int y) {
  if (Bitmap->Empty() || y < 0 || y >= GetHeight()) return nullptr;
  return static_cast<uint8_t*>(Bitmap->ScanLine(y));
}

std::vector<RGBQUAD> TIETBitmapAdapter::CurrentTable() const {
  std::vector<RGBQUAD> t;
  const BITMAPINFO* info = Bitmap->Empty() ? nullptr : Bitmap->Info();
  if (!info || info->bmiHeader.biBitCount > 8) return t;
  DWORD n = std::min<DWORD>(info->bmiHeader.biClrUsed ? info->bmiHeader.biClrUsed : 1u << info->bmiHeader.biBitCount,
                            1u << info->bmiHeader.biBitCount);
  t.assign(info->bmiColors, info->bmiColors + n);
  return t;
}

int TIETBitmapAdapter::GetColorTable(RGBQUAD* entries, int count) const {
  std::vector<RGBQUAD> t = CurrentTable();
  int n = std::min(count, int(t.size()));
  if (n > 0) std::memcpy(entries, t.data(), sizeof(RGBQUAD) * size_t(n));
  return std::max(n, 0);
}

void TIETBitmapAdapter::SetColorTable(const RGBQUAD* entries, int count) {
  int bits = IndexedBitCount();
  if (bits == 0 || Bitmap->Empty() || count <= 0) return;
  std::vector<RGBQUAD> table = CurrentTable();
  table.resize(size_t(1) << bits);
  int n = std::min(count, int(table.size()));
  if (std::equal(entries, entries + n, table.begin(), [](const RGBQUAD& a, const RGBQUAD& b) {
        return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed;
      }))
    return;  // reloading moves the rows: not for nothing
  for (int i = 0; i < n; ++i) table[size_t(i)] = RGBQUAD{entries[i].rgbBlue, entries[i].rgbGreen, entries[i].rgbRed, 0};
  try {
    int stride = Bitmap->BytesPerLine(), height = GetHeight();
    std::vector<uint8_t> rows(size_t(stride) * size_t(height));
    for (int y = 0; y < height; ++y)
      std::memcpy(rows.data() + size_t(stride) * y, Bitmap->ScanLine(y), size_t(stride));
    ReloadIndexed(table, rows, stride, height);
  } catch (const std::exception&) {
    // the bitmap keeps its previous table
  }
}

bool TIETBitmapAdapter::ReloadIndexed(const std::vector<RGBQUAD>& table, const std::vector<uint8_t>& oldRows,
                                      int oldStride, int oldHeight) {
  // The TBitmap takes a colour table only from a bitmap stream, so the pixels travel through one.
  int w = GetWidth(), h = GetHeight(), bits = IndexedBitCount();
  if (bits == 0 || w <= 0 || h <= 0) return false;
  int stride = RowStride(w, bits);
  uint32_t colours = 1u << bits;
  uint64_t headerBytes = 14 + 40 + uint64_t(colours) * 4;
  uint64_t total = headerBytes + uint64_t(stride) * uint64_t(h);
  if (total > INT32_MAX) return false;
  std::vector<uint8_t> file(size_t(total), 0);
  uint8_t* p = file.data();
  p[0] = 'B';
  p[1] = 'M';
  PutLE(p + 2, uint32_t(total), 4);
  PutLE(p + 10, uint32_t(headerBytes), 4);
  PutLE(p + 14, 40, 4);
  PutLE(p + 18, uint32_t(w), 4);
  PutLE(p + 22, uint32_t(h), 4);  // bottom-up
  PutLE(p + 26, 1, 2);
  PutLE(p + 28, uint32_t(bits), 2);
  PutLE(p + 34, uint32_t(stride) * uint32_t(h), 4);
  PutLE(p + 46, colours, 4);
  for (uint32_t i = 0; i < colours && i < table.size(); ++i) {
    uint8_t* e = p + 54 + 4 * i;
    e[0] = table[i].rgbBlue;
    e[1] = table[i].rgbGreen;
    e[2] = table[i].rgbRed;
  }
  int copyBytes = std::min(stride, oldStride);
  for (int y = 0; y < std::min(h, oldHeight); ++y)
    std::memcpy(p + headerBytes + size_t(stride) * size_t(h - 1 - y), oldRows.data() + size_t(oldStride) * y,
                size_t(copyBytes));
  ui::TPixelFormat pf = Bitmap->GetPixelFormat();
  ui::TMemoryStream ms;
  ms.WriteBuffer(file.data(), int32_t(total));
  ms.SetPosition(0);
  Bitmap->LoadFromStream(&ms);
  if (Bitmap->GetPixelFormat() != pf) Bitmap->SetPixelFormat(pf);
  return true;
}

HDC TIETBitmapAdapter::GetDC() {
  if (Bitmap->Empty()) return nullptr;
  try {
    return Bitmap->Canvas()->GetHandle();
  } catch (const std::exception&) {
    return nullptr;
  }
}
