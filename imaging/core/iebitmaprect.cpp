// TIEBitmap: rectangle copies, fills, single-pixel access and whole-image scans.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "iebitmapservices.h"
#include "iedibroutines.h"
#include "ieutils.h"

namespace {

int PixelBytes(TIEPixelFormat f) {
  switch (f) {
    case ie8p: case ie8g: return 1;
    case ie16g: return 2;
    case ie24RGB: case ieCIELab: return 3;
    case ie32f: case ieCMYK: case ie32RGB: return 4;
    case ieRGB48: return 6;
    default: return 0;
  }
}

// One pixel of the colour formats for the platform colour `v`.
void ColourPixel(TIEPixelFormat f, TColor v, uint8_t* px) {
  TIERGB c = IEColorToRGB(v);
  switch (f) {
    case ie24RGB: std::memcpy(px, &c, 3); break;
    case ie32RGB: std::memcpy(px, &c, 3); break;  // the fourth byte is left as it is
    case ieCMYK: {
      uint32_t k = IEConversionServices.RGBToCMYK((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b);
      std::memcpy(px, &k, 4);
      break;
    }
    case ieRGB48: {
      uint16_t s[3] = {uint16_t(c.r * 257), uint16_t(c.g * 257), uint16_t(c.b * 257)};
      std::memcpy(px, s, 6);
      break;
    }
    case ieCIELab: {
      TIECIELab lab;
      IERGBToCIELab(lab, c);
      std::memcpy(px, &lab, 3);
      break;
    }
    default: break;
  }
}

bool IsColourFormat(TIEPixelFormat f) {
  return f == ie24RGB || f == ieCMYK || f == ieRGB48 || f == ieCIELab || f == ie32RGB;
}

}  // namespace

TIERGB IEDecodePixelRGB(TIEBitmap* b, const uint8_t* row, int x) {
  switch (b->GetPixelFormat()) {
    case ie1g: { uint8_t v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0; return IEMakeRGB(v, v, v); }
    case ie8p: return b->GetPaletteEntry(row[x]);
    case ie8g: return IEMakeRGB(row[x], row[x], row[x]);
    case ie16g: { uint8_t v = row[2 * x + 1]; return IEMakeRGB(v, v, v); }
    case ie24RGB: { TIERGB c; std::memcpy(&c, row + 3 * x, 3); return c; }
    case ie32f: {
      float f;
      std::memcpy(&f, row + 4 * x, 4);
      double d = double(f) * 255;
      uint8_t v = d > 0 ? (d < 255 ? uint8_t(d) : 255) : 0;
      return IEMakeRGB(v, v, v);
    }
    case ieCMYK: { uint32_t k; std::memcpy(&k, row + 4 * x, 4); TIERGB c; IEConversionServices.CMYKToRGB(k, c); return c; }
    case ieRGB48: return IEMakeRGB(row[6 * x + 1], row[6 * x + 3], row[6 * x + 5]);
    case ieCIELab: { TIECIELab lab; std::memcpy(&lab, row + 3 * x, 3); TIERGB c; IECIELabToRGB(c, lab); return c; }
    case ie32RGB: { TIERGB c; std::memcpy(&c, row + 4 * x, 3); return c; }
    default: return IEMakeRGB(0, 0, 0);
  }
}

void TIEBitmap::CopyRectTo(TIEBitmap* dest, int sx0, int sy0, int dx0, int dy0, int width, int height) {
  if (!dest) return;
  int sw = GetImageWidth(), sh = GetImageHeight(), dw = dest->GetImageWidth(), dh = dest->GetImageHeight();
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  int dx = IEClamp(dx0, 0, dw - 1), dy = IEClamp(dy0, 0, dh - 1);
  int sx = IEClamp(sx0 + (dx0 < 0 ? -dx0 : 0), 0, sw - 1), sy = IEClamp(sy0 + (dy0 < 0 ? -dy0 : 0), 0, sh - 1);
  int w = width + (dx0 < 0 ? dx0 : 0), h = height + (dy0 < 0 ? dy0 : 0);
  w = std::min(w, std::min(sw - sx, dw - dx));
  h = std::min(h, std::min(sh - sy, dh - dy));
  if (w <= 0 || h <= 0) return;
  TIEPixelFormat sf = PixelFormat, df = dest->PixelFormat;
  int pb = PixelBytes(sf);
  bool bits = sf == ie1g && df == ie1g, expand = sf == ie1g && df == ie24RGB, same = sf == df && pb > 0;
  if (!bits && !expand && !same) return;
  TIEScopedRowAccess read(this, iraRead), readWrite(dest, iraRead | iraWrite);
  std::vector<uint8_t> srow(static_cast<size_t>(RowLength));
  for (int i = 0; i < h; ++i) {
    std::memcpy(srow.data(), GetRowAddress(sy + i), srow.size());
    uint8_t* d = dest->GetRowAddress(dy + i);
    if (bits) {
      IECopyBits(d, srow.data(), dx, sx, w, RowLength);
    } else if (expand) {
      for (int x = 0; x < w; ++x)
        std::memset(d + 3 * (dx + x), (srow[(sx + x) >> 3] & (0x80 >> ((sx + x) & 7))) ? 255 : 0, 3);
    } else {
      std::memmove(d + size_t(dx) * pb, srow.data() + size_t(sx) * pb, size_t(w) * pb);
    }
  }
}

void TIEBitmap::CombineAlphaRectTo(TIEBitmap* dest, int sx0, int sy0, int dx0, int dy0, int width, int height) {
  if (!dest) return;
  TIEBitmap* sa = IsAlpha ? this : GetAlphaChannel();
  TIEBitmap* da = dest->IsAlpha ? dest : dest->GetAlphaChannel();
  if (!sa || !da || sa->PixelFormat != ie8g || da->PixelFormat != ie8g) return;
  int sw = sa->Width, sh = sa->Height, dw = da->Width, dh = da->Height;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  int dx = IEClamp(dx0, 0, dw - 1), dy = IEClamp(dy0, 0, dh - 1);
  int sx = IEClamp(sx0 + (dx0 < 0 ? -dx0 : 0), 0, sw - 1), sy = IEClamp(sy0 + (dy0 < 0 ? -dy0 : 0), 0, sh - 1);
  int w = width + (dx0 < 0 ? dx0 : 0), h = height + (dy0 < 0 ? dy0 : 0);
  w = std::min(w, std::min(sw - sx, dw - dx));
  h = std::min(h, std::min(sh - sy, dh - dy));
  std::vector<uint8_t> srow(size_t(std::max(sa->RowLength, 0)));
  for (int i = 0; i < h && w > 0; ++i) {
    std::memcpy(srow.data(), sa->GetRowAddress(sy + i), srow.size());
    uint8_t* d = da->GetRowAddress(dy + i);
    for (int x = 0; x < w; ++x) d[dx + x] = std::max(d[dx + x], srow[sx + x]);
  }
}

void TIEBitmap::Fill(double value) {
  TIEPixelFormat f = GetPixelFormat();
  if (f == ieNoFormat || IsEmpty()) return;
  TIEScopedRowAccess access(this, iraWrite);
  int64_t t = int64_t(std::trunc(value));
  std::vector<uint8_t> row(size_t(RowLength), 0);
  switch (f) {
    case ie1g: std::memset(row.data(), t != 0 ? 255 : 0, row.size()); IsAll255 = t != 0; break;
    case ie8p: case ie8g: std::memset(row.data(), int(t & 255), row.size()); IsAll255 = t == 255; break;
    case ie16g: {
      uint16_t v = uint16_t(t);
      for (int x = 0; x < Width; ++x) std::memcpy(row.data() + 2 * x, &v, 2);
      IsAll255 = t == 65535;
      break;
    }
    case ie32f: {
      float v = float(value);
      for (int x = 0; x < Width; ++x) std::memcpy(row.data() + 4 * x, &v, 4);
      IsAll255 = value == 1.0;
      break;
    }
    default: {
      int pb = PixelBytes(f);
      uint8_t px[8] = {};
      ColourPixel(f, TColor(t), px);
      for (int x = 0; x < Width; ++x) std::memcpy(row.data() + size_t(pb) * x, px, size_t(pb));
      TIERGB c = IEColorToRGB(TColor(t));
      IsAll255 = c.r == 255 && c.g == 255 && c.b == 255;
      break;
    }
  }
  if (f == ie32RGB) {
    // the fourth byte of each pixel keeps its value: rows are read and only B, G, R written
    RowAccess = iraRead | iraWrite;
    for (int y = 0; y < Height; ++y) {
      uint8_t* d = GetRowAddress(y);
      for (int x = 0; x < Width; ++x) std::memcpy(d + 4 * x, row.data() + 4 * x, 3);
    }
  } else {
    for (int y = 0; y < Height; ++y) std::memcpy(GetRowAddress(y), row.data(), row.size());
  }
}

void TIEBitmap::FillRect(int x1, int y1, int x2, int y2, double value) {
  TIEPixelFormat f = GetPixelFormat();
  if (f == ieNoFormat || IsEmpty()) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, Width - 1);
  y2 = std::min(y2, Height - 1);
  if (y2 < y1 || x2 < x1) return;
  int64_t v = int64_t(std::trunc(value));
  int pb = PixelBytes(f);
  uint8_t px[8] = {};
  switch (f) {
    case ie8p: case ie8g: px[0] = uint8_t(v); break;
    case ie16g: { uint16_t s = uint16_t(v); std::memcpy(px, &s, 2); break; }
    case ie32f: { float s = float(v); std::memcpy(px, &s, 4); break; }
    default: if (IsColourFormat(f)) ColourPixel(f, TColor(v), px); break;
  }
  if (f == ie32RGB) pb = 3;  // B, G, R only
  int stride = f == ie32RGB ? 4 : pb;
  TIEScopedRowAccess readWrite(this, iraRead | iraWrite);
  for (int y = y1; y <= y2; ++y) {
    uint8_t* d = GetRowAddress(y);
    if (f == ie1g) {
      for (int x = x1; x <= x2; ++x) {
        uint8_t m = uint8_t(0x80 >> (x & 7));
        if (v != 0) d[x >> 3] |= m; else d[x >> 3] &= uint8_t(~m);
      }
    } else if (pb == 1) {
      std::memset(d + x1, px[0], size_t(x2 - x1 + 1));
    } else {
      for (int x = x1; x <= x2; ++x) std::memcpy(d + size_t(stride) * x, px, size_t(pb));
    }
  }
}

uint8_t TIEBitmap::GetByte(int x, int y) { return GetRowAddress(y)[x]; }
void TIEBitmap::SetByte(int x, int y, uint8_t v) {
  GetRowAddress(y)[x] = v;
  if (v != 255) IsAll255 = false;
}
uint16_t TIEBitmap::GetWord(int x, int y) { uint16_t v; std::memcpy(&v, GetRowAddress(y) + 2 * x, 2); return v; }
void TIEBitmap::SetWord(int x, int y, uint16_t v) {
  std::memcpy(GetRowAddress(y) + 2 * x, &v, 2);
  if (v != 65535) IsAll255 = false;
}
float TIEBitmap::GetFloat(int x, int y) { float v; std::memcpy(&v, GetRowAddress(y) + 4 * x, 4); return v; }
void TIEBitmap::SetFloat(int x, int y, float v) {
  std::memcpy(GetRowAddress(y) + 4 * x, &v, 4);
  if (v < 1.0f) IsAll255 = false;
}
uint32_t TIEBitmap::GetDWord(int x, int y) { uint32_t v; std::memcpy(&v, GetRowAddress(y) + 4 * x, 4); return v; }
void TIEBitmap::SetDWord(int x, int y, uint32_t v) { std::memcpy(GetRowAddress(y) + 4 * x, &v, 4); }
TIERGB TIEBitmap::GetRGB(int x, int y) { TIERGB v; std::memcpy(&v, GetRowAddress(y) + 3 * x, 3); return v; }
void TIEBitmap::SetRGB(int x, int y, TIERGB v) { std::memcpy(GetRowAddress(y) + 3 * x, &v, 3); }
TIERGB* TIEBitmap::GetRGBPixelPtr(int x, int y) { return reinterpret_cast<TIERGB*>(GetRowAddress(y) + 3 * x); }
TIERGB48 TIEBitmap::GetRGB48(int x, int y) { TIERGB48 v; std::memcpy(&v, GetRowAddress(y) + 6 * x, 6); return v; }
void TIEBitmap::SetRGB48(int x, int y, TIERGB48 v) {
  std::memcpy(GetRowAddress(y) + 6 * x, &v, 6);
  if (v.r < 65535 || v.g < 65535 || v.b < 65535) IsAll255 = false;
}
TIERGB TIEBitmap::GetPixelRGB(int x, int y) {
  SyncWithTBitmap();
  return IEDecodePixelRGB(this, GetRowAddress(y), x);
}

uint8_t TIEBitmap::GetAlphaAt(int x, int y) {
  TIEBitmap* a = IsAlpha ? this : GetAlphaChannel();
  return a->GetRowAddress(y)[x];
}

void TIEBitmap::SetAlphaAt(int x, int y, uint8_t v) {
  TIEBitmap* a = IsAlpha ? this : GetAlphaChannel();
  a->GetRowAddress(y)[x] = v;
  if (v != 255) {
    a->IsAll255 = false;
    IsAll255 = false;
  }
}

namespace {

// Scans the pixel bytes of every row (padding excluded) while `keep` holds for each byte.
template <typename Pred>
bool ScanAll(TIEBitmap* b, Pred keep) {
  int n = int((int64_t(b->GetImageWidth()) * b->GetBitCount() + 7) / 8);
  TIEScopedRowAccess read(b, iraRead);
  bool all = true;
  for (int y = 0; y < b->GetImageHeight() && all; ++y) {
    const uint8_t* r = b->GetRowAddress(y);
    for (int i = 0; i < n && all; ++i) all = keep(r[i]);
  }
  return all;
}

}  // namespace

void TIEBitmap::UpdateOpaqueFlag() { IsAll255 = ScanAll(this, [](uint8_t v) { return v == 255; }); }
bool TIEBitmap::IsAllZero() { return ScanAll(this, [](uint8_t v) { return v == 0; }); }

bool TIEBitmap::HasOnlyGrays() {
  TIEPixelFormat f = GetPixelFormat();
  if (f == ie8p) {
    for (const TIERGB& p : Palette)
      if (p.r != p.g || p.g != p.b) return false;
    return true;
  }
  if (f != ie24RGB && f != ieRGB48 && f != ie32RGB) return true;
  TIEScopedRowAccess read(this, iraRead);
  bool grey = true;
  for (int y = 0; y < Height && grey; ++y) {
    const uint8_t* r = GetRowAddress(y);
    for (int x = 0; x < Width && grey; ++x) {
      if (f == ieRGB48) {
        TIERGB48 p;
        std::memcpy(&p, r + 6 * x, 6);
        grey = p.r == p.g && p.g == p.b;
      } else {
        const uint8_t* p = r + (f == ie24RGB ? 3 : 4) * x;
        grey = p[0] == p[1] && p[1] == p[2];
      }
    }
  }
  return grey;
}
