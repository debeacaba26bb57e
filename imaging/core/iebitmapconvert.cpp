// TIEBitmap: whole-image copies and the pixel-format conversion matrix.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "iebitmap.h"
#include "iebitmapservices.h"
#include "iedibbitmap.h"
#include "iemask.h"
#include "ieutils.h"

namespace {

// 8 x 8 ordered-dither matrix, row by row; a 1-bit pixel at (x, y) is white when entry
// (x mod 8) x 8 + (y mod 8) is smaller than the pixel's level 0..63.
const uint8_t kBayer8[64] = {
    0,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26,
    12, 44, 4,  36, 14, 46, 6,  38, 60, 28, 52, 20, 62, 30, 54, 22,
    3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27, 49, 17, 57, 25,
    15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21};

inline int Grey8(int r, int g, int b) {
  return (r * IEGrayWeightRed + g * IEGrayWeightGreen + b * IEGrayWeightBlue) / 100;
}
inline uint16_t Grey16(int r, int g, int b) {
  return uint16_t((int64_t(r) * 54484 + int64_t(g) * 183241 + int64_t(b) * 19275) / 1000);
}
inline float GreyF(double r, double g, double b) { return float((r * 0.2126 + g * 0.7152 + b * 0.0722) / 255.0); }

// Float samples outside 0..1 are limited to the range instead of keeping the low bits of the product.
inline uint32_t FloatTo(float v, uint32_t scale) {
  double d = double(v) * scale;
  if (!(d > 0)) return 0;
  if (d >= scale) return scale;
  return uint32_t(d);
}

inline uint16_t Rd16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline void Wr16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline float RdF(const uint8_t* p) { float v; std::memcpy(&v, p, 4); return v; }
inline void WrF(uint8_t* p, float v) { std::memcpy(p, &v, 4); }
inline uint32_t Rd32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline void Wr32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline bool Bit(const uint8_t* row, int x) { return (row[x >> 3] & (0x80 >> (x & 7))) != 0; }

void PutColour(TIEPixelFormat df, uint8_t* d, int x, int r, int g, int b) {
  switch (df) {
    case ie24RGB: d[3 * x] = uint8_t(b); d[3 * x + 1] = uint8_t(g); d[3 * x + 2] = uint8_t(r); break;
    case ie32RGB: d[4 * x] = uint8_t(b); d[4 * x + 1] = uint8_t(g); d[4 * x + 2] = uint8_t(r); d[4 * x + 3] = 255; break;
    case ie8g: d[x] = uint8_t(Grey8(r, g, b)); break;
    case ie16g: Wr16(d + 2 * x, Grey16(r, g, b)); break;
    case ie32f: WrF(d + 4 * x, GreyF(r, g, b)); break;
    case ieRGB48: Wr16(d + 6 * x, uint16_t(r * 257)); Wr16(d + 6 * x + 2, uint16_t(g * 257)); Wr16(d + 6 * x + 4, uint16_t(b * 257)); break;
    case ieCMYK: Wr32(d + 4 * x, IEConversionServices.RGBToCMYK((uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b))); break;
    case ieCIELab: {
      TIECIELab lab;
      IERGBToCIELab(lab, IEMakeRGB(uint8_t(r), uint8_t(g), uint8_t(b)));
      std::memcpy(d + 3 * x, &lab, 3);
      break;
    }
    default: break;
  }
}

void PutGrey(TIEPixelFormat df, uint8_t* d, int x, int v8) { PutColour(df, d, x, v8, v8, v8); }

void SetGreyPalette(TIEBitmap* b) {
  for (int i = 0; i < 256; ++i) b->SetPaletteEntry(i, IEMakeRGB(uint8_t(i), uint8_t(i), uint8_t(i)));
}

// True when the pair has a rule of its own; the others go through ie24RGB.
bool HasDirectRule(TIEPixelFormat s, TIEPixelFormat d) {
  switch (s) {
    case ie1g: case ie8p: case ie8g: case ie16g: case ie32f:
      return d != ieCMYK && d != ieCIELab;
    case ieRGB48: return d != ieCMYK && d != ieCIELab && d != ie8p;
    case ie24RGB: return true;
    case ieCMYK: case ieCIELab: case ie32RGB: return d == ie24RGB || (d == ie32RGB && s != ie32RGB);
    default: return false;
  }
}

// The 1-bit level 0..63 of the ordered dither, by source format.
int DitherLevel(TIEPixelFormat sf, const uint8_t* s, int x, TIEBitmap* src) {
  switch (sf) {
    case ie8p: { TIERGB p = src->GetPaletteEntry(s[x]); return Grey8(p.r, p.g, p.b) / 4; }
    case ie8g: return s[x] / 4;
    case ie16g: return Rd16(s + 2 * x) >> 10;
    case ie24RGB: return Grey8(s[3 * x + 2], s[3 * x + 1], s[3 * x]) / 4;
    case ie32f: return int(FloatTo(RdF(s + 4 * x), 255)) / 4;
    case ieRGB48: return Grey8(Rd16(s + 6 * x) / 256, Rd16(s + 6 * x + 2) / 256, Rd16(s + 6 * x + 4) / 256) / 4;
    default: return 0;
  }
}

// The busiest pairs without per-pixel dispatch; false for every other pair.
bool FastRow(TIEPixelFormat sf, TIEPixelFormat df, const uint8_t* s, uint8_t* d, int w) {
  if (sf == ie24RGB && df == ie32RGB) {
    for (int x = 0; x < w; ++x, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 255;
    }
    return true;
  }
  if (sf == ie32RGB && df == ie24RGB) {
    // four bytes a pixel, the fourth landing on the next pixel's first and written over by it: half
    // the loads and stores of a byte-by-byte copy
    int x = 0;
    for (; x + 1 < w; ++x, s += 4, d += 3) std::memcpy(d, s, 4);
    if (x < w) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
    return true;
  }
  if (sf == ie24RGB && df == ie8g) {
    const int wr = IEGrayWeightRed, wg = IEGrayWeightGreen, wb = IEGrayWeightBlue;
    for (int x = 0; x < w; ++x, s += 3) d[x] = uint8_t((s[2] * wr + s[1] * wg + s[0] * wb) / 100);
    return true;
  }
  return false;
}

}  // namespace

TIEPixelFormat IEPlatformHeldFormat(TIEPixelFormat f) {
  switch (f) {
    case ie16g: case ie32f: return ie8g;
    case ieCMYK: case ieRGB48: case ieCIELab: return ie24RGB;
    default: return f;
  }
}

void TIEBitmap::RowCopyFrom(TIEBitmap* source) {
  TIEScopedRowAccess read(source, iraRead), write(this, iraWrite);
  if (Location == ieTempFile && source->Location == ieTempFile && RowLength == source->RowLength) {
    source->ReleaseAllRowViews();
    ReleaseAllRowViews();
    source->FileBuffer->CopyTo(*FileBuffer, int64_t(RowLength) * Height, 0);
  } else {
    int n = std::min(RowLength, source->RowLength), rows = std::min(Height, source->Height);
    for (int y = 0; y < rows; ++y) std::memcpy(GetRowAddress(y), source->GetRowAddress(y), size_t(n));
  }
}

void TIEBitmap::Assign(TIEBaseBitmap* src) {
  auto* source = dynamic_cast<TIEBitmap*>(src);
  if (!source || source == this) return;
  ReallocPending = true;
  source->SyncWithTBitmap();
  TIEPixelFormat f = source->PixelFormat;
  if (Location == ieTBitmap && IEPlatformHeldFormat(f) != f) {
    // a platform bitmap cannot hold these: the copy is converted on the way
    TIEBitmap tmp;
    tmp.Assign(source);
    tmp.ConvertPixelFormat(IEPlatformHeldFormat(f));
    Assign(&tmp);
    return;
  }
  if (Location == ieTBitmap && source->IsEmpty()) return;
  if (Location != ieTBitmap || !PlatformBitmapNotOwned) FreeStorage(true);
  RowAlignment = source->RowAlignment;
  Width = source->Width;
  Height = source->Height;
  PixelFormat = f;
  if (!source->IsEmpty()) {
    if (!AllocateStorage()) Width = Height = 0;
  }
  ReallocPending = source->IsEmpty();
  IsAll255 = source->IsAll255;
  RowCopyFrom(source);
  if (!IsAlpha) {
    if (source->AlphaChannel)
      GetAlphaChannel()->Assign(source->AlphaChannel);
    else
      DiscardAlphaChannel(false);
  }
  source->CopyPaletteTo(this);
  BlackWhiteMethod = source->BlackWhiteMethod;
}

void TIEBitmap::CopyImageFrom(TIEBitmap* source) {
  if (!source || source == this || source->IsEmpty()) return;
  source->SyncWithTBitmap();
  TIEPixelFormat f = source->PixelFormat;
  if (Location == ieTBitmap && IEPlatformHeldFormat(f) != f) {
    TIEBitmap tmp;
    tmp.Assign(source);
    tmp.ConvertPixelFormat(IEPlatformHeldFormat(f));
    CopyImageFrom(&tmp);
    return;
  }
  TIEBitmap* keepAlpha = DetachAlphaChannel();
  if (Location != ieTBitmap || !PlatformBitmapNotOwned) FreeStorage(false);
  Width = source->Width;
  Height = source->Height;
  PixelFormat = f;
  if (!AllocateStorage()) Width = Height = 0;
  ReallocPending = false;
  AlphaChannel = keepAlpha;
  IsAll255 = false;
  RowCopyFrom(source);
  source->CopyPaletteTo(this);
}

void TIEBitmap::SetPixelFormat(TIEPixelFormat format) {
  if (format != GetPixelFormat()) ConvertPixelFormat(format);
}

void TIEBitmap::ConvertPixelFormat(TIEPixelFormat format) {
  if (Location == ieTBitmap) {
    // converted through a memory copy; the platform bitmap then takes the result (a format it cannot
    // hold ends as the nearest one it can, IEPlatformHeldFormat)
    TIEBitmap tmp;
    tmp.Assign(this);
    tmp.ConvertPixelFormat(format);
    Assign(&tmp);
    return;
  }
  TIEBitmap tmp;
  MoveStorageTo(&tmp);
  TIEPixelFormat old = tmp.PixelFormat;
  Width = tmp.Width;
  Height = tmp.Height;
  PixelFormat = format;
  RowAlignment = tmp.RowAlignment;
  BlackWhiteMethod = tmp.BlackWhiteMethod;
  if (!AllocateStorage()) Width = Height = 0;
  ReallocPending = false;
  if (old != ieNoFormat) {
    ConvertFrom(&tmp);
    // the alpha channel comes back with the conversion; without one it is taken over here
    if (!AlphaChannel && tmp.AlphaChannel) AlphaChannel = tmp.DetachAlphaChannel();
  }
}

void TIEBitmap::ConvertFrom(TIEBitmap* source) {
  if (!source || source == this) return;
  source->SyncWithTBitmap();
  if (Location == ieTBitmap || source->Width != Width || source->Height != Height || source->PixelFormat == ieNoFormat)
    return;
  TIEPixelFormat sf = source->PixelFormat, df = PixelFormat;
  if (sf == df) {
    RowCopyFrom(source);
    source->CopyPaletteTo(this);
  } else if (!HasDirectRule(sf, df)) {
    // through ie24RGB on a copy: the caller's source keeps its format and pixels
    TIEBitmap mid;
    mid.MemoryThreshold = MemoryThreshold;
    mid.Location = Location;
    mid.BlackWhiteMethod = BlackWhiteMethod;
    if (!mid.Allocate(Width, Height, ie24RGB)) return;
    mid.ConvertFrom(source);
    mid.DiscardAlphaChannel(false);
    ConvertFrom(&mid);
  } else if (df == ie1g && BlackWhiteMethod != 0) {
    IEConversionServices.ThresholdTo1Bit(source, this, -1);
  } else if (sf == ie24RGB && df == ie8p) {
    IEConversionServices.QuantizeToPalette(source, this, PaletteColorTarget);
  } else {
    if (df == ie8p) {
      if (sf == ie1g) {
        SetPaletteEntry(0, IEMakeRGB(0, 0, 0));
        SetPaletteEntry(1, IEMakeRGB(255, 255, 255));
      } else {
        SetGreyPalette(this);
      }
    }
    TIEScopedRowAccess read(source, iraRead), write(this, iraWrite);
    const int w = Width;
    const double rangeSpan = InputRangeHigh - InputRangeLow;
    for (int y = 0; y < Height; ++y) {
      const uint8_t* s = source->GetRowAddress(y);
      uint8_t* d = GetRowAddress(y);
      if (FastRow(sf, df, s, d, w)) continue;
      if (df == ie1g) {  // ordered dither (BlackWhiteMethod 0)
        std::memset(d, 0, size_t(RowLength));
        for (int x = 0; x < w; ++x)
          if (kBayer8[(x & 7) * 8 + (y & 7)] < DitherLevel(sf, s, x, source)) d[x >> 3] |= uint8_t(0x80 >> (x & 7));
        continue;
      }
      switch (sf) {
        case ie1g:
          for (int x = 0; x < w; ++x) {
            bool b = Bit(s, x);
            switch (df) {
              case ie8p: d[x] = b ? 1 : 0; break;
              case ie16g: Wr16(d + 2 * x, b ? 65535 : 0); break;
              case ie32f: WrF(d + 4 * x, b ? 1.0f : 0.0f); break;
              case ieRGB48: for (int k = 0; k < 3; ++k) Wr16(d + 6 * x + 2 * k, b ? 65535 : 0); break;
              default: PutGrey(df, d, x, b ? 255 : 0); break;
            }
          }
          break;
        case ie8p:
          for (int x = 0; x < w; ++x) {
            TIERGB p = source->GetPaletteEntry(s[x]);
            PutColour(df, d, x, p.r, p.g, p.b);
          }
          break;
        case ie8g:
          if (df == ie8p) {
            std::memcpy(d, s, size_t(w));
          } else if (df == ie16g) {
            for (int x = 0; x < w; ++x) Wr16(d + 2 * x, uint16_t(s[x] * 257));
          } else if (df == ie32f) {
            for (int x = 0; x < w; ++x) WrF(d + 4 * x, float(s[x] / 255.0));
          } else {
            for (int x = 0; x < w; ++x) PutGrey(df, d, x, s[x]);
          }
          break;
        case ie16g:
          for (int x = 0; x < w; ++x) {
            uint16_t v = Rd16(s + 2 * x);
            switch (df) {
              case ie8p: case ie8g: d[x] = uint8_t(v >> 8); break;
              case ie32f: WrF(d + 4 * x, float(v / 65535.0)); break;
              case ieRGB48: for (int k = 0; k < 3; ++k) Wr16(d + 6 * x + 2 * k, v); break;
              case ie24RGB:
                if (rangeSpan != 0) {
                  int lo = int(InputRangeLow), hi = int(InputRangeHigh);
                  int sv = v;
                  if (sv <= lo) sv = lo;
                  if (sv >= hi) sv = hi;
                  int c = IEClampToByte(int((sv - lo) / rangeSpan * 255));
                  PutGrey(df, d, x, c);
                } else {
                  PutGrey(df, d, x, v >> 8);
                }
                break;
              default: PutGrey(df, d, x, v >> 8); break;
            }
          }
          break;
        case ie24RGB:
          for (int x = 0; x < w; ++x) PutColour(df, d, x, s[3 * x + 2], s[3 * x + 1], s[3 * x]);
          break;
        case ie32f:
          for (int x = 0; x < w; ++x) {
            float v = RdF(s + 4 * x);
            switch (df) {
              case ie16g: Wr16(d + 2 * x, uint16_t(FloatTo(v, 65535))); break;
              case ieRGB48: for (int k = 0; k < 3; ++k) Wr16(d + 6 * x + 2 * k, uint16_t(FloatTo(v, 65535))); break;
              case ie8p: d[x] = uint8_t(FloatTo(v, 255)); break;
              default: PutGrey(df, d, x, int(FloatTo(v, 255))); break;
            }
          }
          break;
        case ieRGB48:
          for (int x = 0; x < w; ++x) {
            int r = Rd16(s + 6 * x), g = Rd16(s + 6 * x + 2), b = Rd16(s + 6 * x + 4);
            switch (df) {
              case ie16g: Wr16(d + 2 * x, uint16_t((int64_t(r) * 212 + int64_t(g) * 713 + int64_t(b) * 75) / 1000)); break;
              case ie32f: WrF(d + 4 * x, GreyF(r / 256.0, g / 256.0, b / 256.0)); break;
              default: PutColour(df, d, x, r >> 8, g >> 8, b >> 8); break;
            }
          }
          break;
        case ieCMYK:
          for (int x = 0; x < w; ++x) {
            TIERGB c;
            IEConversionServices.CMYKToRGB(Rd32(s + 4 * x), c);
            PutColour(df, d, x, c.r, c.g, c.b);
          }
          break;
        case ieCIELab:
          for (int x = 0; x < w; ++x) {
            TIECIELab lab;
            std::memcpy(&lab, s + 3 * x, 3);
            TIERGB c;
            IECIELabToRGB(c, lab);
            PutColour(df, d, x, c.r, c.g, c.b);
          }
          break;
        case ie32RGB:
          for (int x = 0; x < w; ++x) PutColour(df, d, x, s[4 * x + 2], s[4 * x + 1], s[4 * x]);
          break;
        default: break;
      }
    }
  }
  if (source->AlphaChannel && !IsAlpha) GetAlphaChannel()->Assign(source->AlphaChannel);
  UpdateTBitmapPalette();
}

void TIEBitmap::TakeFromDIB(TIEDibbitmap* source) {
  if (!source || !source->GetBits()) return;
  TIEPixelFormat f = source->GetPixelFormat();
  if (f == ieNoFormat) return;
  ReallocPending = true;
  if (!Allocate(source->GetImageWidth(), source->GetImageHeight(), f)) return;
  TIEScopedRowAccess write(this, iraWrite);
  int n = std::min(RowLength, source->GetRowLength());
  for (int y = 0; y < Height; ++y) std::memcpy(GetRowAddress(y), source->GetRowAddress(y), size_t(n));
}

void TIEBitmap::AssignTBitmap(TIEPlatformBitmap* source) {
  if (!source) return;
  if (Location == ieTBitmap) {
    // through a memory copy, so the caller's bitmap keeps its format
    TIEBitmap tmp;
    tmp.AssignTBitmap(source);
    if (!tmp.IsEmpty()) Assign(&tmp);
    return;
  }
  const TIEPlatformPixelFormat pf = source->GetPixelFormat();
  const int w = source->GetWidth(), h = source->GetHeight();
  RGBQUAD table[256];
  const int tn = source->GetColorTable(table, 256);
  bool mono = pf == iepf1bit &&
              (tn < 2 || (table[0].rgbRed == 0 && table[0].rgbGreen == 0 && table[0].rgbBlue == 0 &&
                          table[1].rgbRed == 255 && table[1].rgbGreen == 255 && table[1].rgbBlue == 255));
  TIEPixelFormat f;
  switch (pf) {
    case iepf1bit: f = mono ? ie1g : ie8p; break;
    case iepf4bit: case iepf8bit: f = ie8p; break;
    case iepf15bit: case iepf16bit: case iepf24bit: f = ie24RGB; break;
    case iepf32bit: f = ie32RGB; break;
    default: return;
  }
  ReallocPending = true;
  if (!Allocate(w, h, f)) return;
  if (f == ie8p)
    for (int i = 0; i < tn; ++i) Palette[i] = TIERGB{table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed};
  const int srcRowLength = int(IERowLength(w, IEPlatformFormatBitCount(pf), 32));
  TIEScopedRowAccess write(this, iraWrite);
  for (int y = 0; y < Height; ++y) {
    const uint8_t* s = source->ScanLine(y);
    uint8_t* d = GetRowAddress(y);
    switch (pf) {
      case iepf1bit:
        if (mono) std::memcpy(d, s, size_t(std::min(RowLength, srcRowLength)));
        else for (int x = 0; x < w; ++x) d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
        break;
      case iepf4bit:
        for (int x = 0; x < w; ++x) d[x] = (x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4);
        break;
      case iepf15bit:
      case iepf16bit:
        for (int x = 0; x < w; ++x) {
          int v = s[2 * x] | (s[2 * x + 1] << 8);
          uint8_t* p = d + 3 * x;
          if (pf == iepf15bit) {
            p[2] = uint8_t(((v >> 10) & 31) << 3);
            p[1] = uint8_t(((v >> 5) & 31) << 3);
          } else {
            p[2] = uint8_t((v >> 11) << 3);
            p[1] = uint8_t(((v >> 5) & 63) << 2);
          }
          p[0] = uint8_t((v & 31) << 3);
        }
        break;
      default: std::memcpy(d, s, size_t(std::min(RowLength, srcRowLength))); break;
    }
  }
  IsAll255 = false;
}

void TIEBitmap::CopyFromMask(TIEMask* mask) {
  if (!mask) {
    Fill(255);
    return;
  }
  if (mask->MaskBitDepth != 1 && mask->MaskBitDepth != 8) return;
  if (!Allocate(mask->Width, mask->Height, mask->MaskBitDepth == 1 ? ie1g : ie8g)) return;
  int bytes = std::min(GetRowLength(), mask->RowLength);
  for (int y = 0; y < Height; ++y) std::memcpy(GetRowAddress(y), mask->GetRowAddress(y), size_t(bytes));
  IsAll255 = mask->AllSet();
}

bool TIEBitmap::CopyToMask(TIEMask* mask) {
  if (!mask) return false;
  TIEPixelFormat f = GetPixelFormat();
  if (f != ie1g && f != ie8g) return false;
  if (!mask->Allocate(Width, Height, f == ie1g ? 1 : 8)) return false;
  int bytes = std::min(RowLength, mask->RowLength);
  for (int y = 0; y < Height; ++y) std::memcpy(mask->GetRowAddress(y), GetRowAddress(y), size_t(bytes));
  // the rows, not IsAll255 (which a client may have left stale), decide the all-set flag and the box
  mask->CheckAllSet();
  mask->RecomputeBoundingBox();
  return true;
}
