#include "iedibroutines.h"

#include <algorithm>
#include <cstring>

#include "iebitmap.h"
#include "iedibbitmap.h"
#include "ieutils.h"

void IECopyBits(uint8_t* dst, const uint8_t* src, int dstBit, int srcBit, int count, int srcBytes) {
  if (count < 1 || dstBit < 0 || srcBit < 0) return;
  // a run is never read past the source's end, however long the caller says it is
  int64_t avail = (int64_t(srcBytes) - srcBit / 8) * 8 - (srcBit & 7);
  if (avail < count) count = avail > 0 ? int(avail) : 0;
  if (count < 1) return;
  if ((dstBit & 7) == 0 && (srcBit & 7) == 0) {
    int whole = count / 8;
    std::memcpy(dst + dstBit / 8, src + srcBit / 8, size_t(whole));
    dstBit += whole * 8;
    srcBit += whole * 8;
    count -= whole * 8;
  }
  IECopyBitsOneByOne(dst, src, dstBit, srcBit, count, 0);
}

void IECopyBitsOneByOne(uint8_t* dst, const uint8_t* src, int dstBit, int srcBit, int count, int /*extra*/) {
  if (count < 1 || dstBit < 0 || srcBit < 0) return;
  for (int i = 0; i < count; ++i) {
    int s = srcBit + i, d = dstBit + i;
    uint8_t m = uint8_t(0x80 >> (d & 7));
    if (src[s >> 3] & (0x80 >> (s & 7)))
      dst[d >> 3] |= m;
    else
      dst[d >> 3] &= uint8_t(~m);
  }
}

uint8_t IEProcExpandTable[256][24];

void IEProcBuildExpandTable() {
  for (int b = 0; b < 256; ++b)
    for (int i = 0; i < 8; ++i) std::memset(&IEProcExpandTable[b][3 * i], (b & (0x80 >> i)) ? 255 : 0, 3);
}

namespace {

// A packed DIB of a size the 32-bit platform can draw.
constexpr int kMaxDIBDimension = 65535;
constexpr double kInchesPerMetre = 39.3700787;

}  // namespace

HGLOBAL _CopyBitmaptoDIBEx(TIEBitmap* bitmap, int x1, int y1, int x2, int y2, int xDpi, int yDpi) {
  if (!bitmap) return nullptr;
  IEDebugLogWrite("_CopyBitmaptoDIBEx: begin");
  TIEPixelFormat f = bitmap->GetPixelFormat();
  if (f != ie1g && f != ie8p && f != ie8g && f != ie24RGB) {
    IEDebugLogWrite("_CopyBitmaptoDIBEx: not supported pixel format, converting to 24bit and recurse");
    TIEBitmap copy;
    copy.Assign(bitmap);
    copy.ConvertPixelFormat(ie24RGB);
    if (!copy.IsEmpty()) return _CopyBitmaptoDIBEx(&copy, x1, y1, x2, y2, xDpi, yDpi);
  }
  int w = bitmap->GetImageWidth(), h = bitmap->GetImageHeight();
  if (x2 == 0) x2 = w;
  if (y2 == 0) y2 = h;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, w);
  y2 = std::min(y2, h);
  int width = x2 - x1, height = y2 - y1;
  if (width <= 0 || height <= 0) return nullptr;
  int bits = f == ie1g ? 1 : (f == ie8p || f == ie8g) ? 8 : 24;
  int64_t rowBytes = IERowLength(width, bits, 32);
  uint64_t table = f == ie1g ? 8 : bits == 8 ? 1024 : 0;
  uint64_t size = 44 + table + uint64_t(rowBytes) * uint64_t(height);
  IEDebugLogWrite("_CopyBitmaptoDIBEx: allocate " + std::to_string(size) + " bytes");
  if (size > 0x7FFFFFFFu) return nullptr;
  HGLOBAL hg = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, SIZE_T(size));
  if (!hg) return nullptr;
  auto* p = static_cast<uint8_t*>(GlobalLock(hg));
  if (!p) {
    GlobalFree(hg);
    return nullptr;
  }
  std::memset(p, 0, size_t(size));
  BITMAPINFOHEADER bih = {};
  bih.biSize = sizeof(BITMAPINFOHEADER);
  bih.biWidth = width;
  bih.biHeight = height;
  bih.biPlanes = 1;
  bih.biBitCount = WORD(bits);
  bih.biCompression = BI_RGB;
  bih.biXPelsPerMeter = LONG(xDpi * kInchesPerMetre);
  bih.biYPelsPerMeter = LONG(yDpi * kInchesPerMetre);
  std::memcpy(p, &bih, sizeof(bih));
  uint8_t* t = p + sizeof(bih);
  IEDebugLogWrite(f == ie1g ? "_CopyBitmaptoDIBEx: ie1g"
                  : f == ie24RGB ? "_CopyBitmaptoDIBEx: ie24RGB"
                                 : "_CopyBitmaptoDIBEx: ie8g or ie8p");
  if (f == ie1g) {
    std::memset(t + 4, 255, 4);
  } else if (f == ie8p) {
    for (int i = 0; i < 256 && i < bitmap->GetPaletteCount(); ++i) {
      TIERGB c = bitmap->GetPaletteEntry(i);
      t[4 * i] = c.b;
      t[4 * i + 1] = c.g;
      t[4 * i + 2] = c.r;
    }
  } else if (f == ie8g) {
    for (int i = 0; i < 256; ++i) std::memset(t + 4 * i, i, 3);
  }
  uint8_t* rows = t + table;
  TIEScopedRowAccess read(bitmap, iraRead);
  try {
    for (int y = y2 - 1, out = 0; y >= y1; --y, ++out) {
      const uint8_t* src = bitmap->GetRowAddress(y);
      uint8_t* d = rows + size_t(rowBytes) * out;
      if (f == ie1g)
        IECopyBits(d, src, 0, x1, width, bitmap->GetRowLength());
      else
        std::memcpy(d, src + size_t(x1) * (bits / 8), size_t(width) * (bits / 8));
    }
  } catch (...) {
    // a row of a temporary file that cannot be read: the block goes with the failure
    GlobalUnlock(hg);
    GlobalFree(hg);
    throw;
  }
  GlobalUnlock(hg);
  return hg;
}

int IEDrawDIBToDibbitmap(void* dib, TIEDibbitmap* target, const void* bits, bool isPointer) {
  if (!dib || !target) return 0;
  const uint8_t* p = isPointer ? static_cast<const uint8_t*>(dib) : static_cast<const uint8_t*>(GlobalLock(dib));
  if (!p) return 0;
  // a handle tells its block size, so everything the header claims is checked against it
  uint64_t avail = isPointer ? UINT64_MAX : uint64_t(GlobalSize(dib));
  int result = 0;
  BITMAPINFOHEADER bih;
  if (avail >= sizeof(bih)) {
    std::memcpy(&bih, p, sizeof(bih));
    int w = bih.biWidth, h = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
    int bc = bih.biBitCount;
    result = bc;
    bool sane = bih.biSize >= sizeof(bih) && bih.biSize <= 1024 && w > 0 && h > 0 && w <= kMaxDIBDimension &&
                h <= kMaxDIBDimension && bih.biClrUsed <= 256;
    if (sane && target->AllocateDIB(w, h, bc == 1 ? 1 : 24)) {
      int64_t pixelAt = -1;
      uint64_t colours = bih.biClrUsed;
      switch (bc) {
        case 1: pixelAt = bih.biSize + 4 * (colours ? colours : 2); break;
        case 4: pixelAt = bih.biSize + 4 * (colours ? colours : 16); break;
        case 8: pixelAt = bih.biSize + 4 * (colours ? colours : 256); break;
        case 24: pixelAt = bih.biSize; break;
        case 16:
        case 32:
          if (bih.biCompression == BI_BITFIELDS) pixelAt = bih.biSize + 12;
          else if (bih.biCompression == BI_RGB) pixelAt = bih.biSize;
          break;
        default: break;
      }
      uint64_t need = pixelAt < 0 ? 0 : uint64_t(pixelAt) + uint64_t(IERowLength(w, bc, 32)) * uint64_t(h);
      if (pixelAt >= 0 && (bits || need <= avail)) {
        // GDI's own DIB transfer rather than DrawDib: it converts every depth and colour table the
        // same way on every platform, where DrawDib leaves palette and bit-field DIBs undrawn on some
        const void* px = bits ? bits : p + pixelAt;
        SetDIBitsToDevice(target->GetDibDC(), 0, 0, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), px,
                          reinterpret_cast<const BITMAPINFO*>(p), DIB_RGB_COLORS);
        GdiFlush();
      }
    } else if (!sane) {
      result = 0;
    }
  }
  if (!isPointer) GlobalUnlock(dib);
  return result;
}

void IECopyTBitmap(TIEPlatformBitmap* source, TIEPlatformBitmap* target) {
  if (!source || !target || source == target) return;
  const TIEPlatformPixelFormat pf = source->GetPixelFormat();
  const int w = source->GetWidth(), h = source->GetHeight();
  if (w <= 0 || h <= 0) {
    target->SetSize(1, 1);
    target->SetPixelFormat(pf);
    return;
  }
  if (target->GetWidth() != w || target->GetHeight() != h || target->GetPixelFormat() != pf) {
    target->SetSize(1, 1);
    target->SetPixelFormat(pf);
    if (!target->SetSize(w, h)) return;
  }
  RGBQUAD table[256];
  int n = source->GetColorTable(table, 256);
  if (n > 0) target->SetColorTable(table, n);
  int bits = IEPlatformFormatBitCount(pf);
  size_t rowBytes = size_t(IERowLength(w, bits ? bits : 32, 32));
  for (int y = 0; y < h; ++y) std::memcpy(target->ScanLine(y), source->ScanLine(y), rowBytes);
}

std::unique_ptr<TIEPlatformBitmap> IECloneTBitmap(TIEPlatformBitmap* source) {
  std::unique_ptr<TIEPlatformBitmap> b(new TIEDIBSectionBitmap());
  IECopyTBitmap(source, b.get());
  return b;
}
