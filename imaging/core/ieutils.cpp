#include "ieutils.h"

#include <windows.h>

#include "iebitmap.h"
#include "uicomponent.h"
#include "uicontrols.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr uint64_t kAutoAllocGlobalFrom = 0x100000;  // 1 MB: larger blocks come from GlobalAlloc
constexpr uint64_t kAutoAllocSlack = 4;              // origin byte + room the pixel buffer aligns in

const uint8_t kBitMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

uint8_t ClampByteFloat(double v) {
  if (v < 0) return 0;
  if (v > 255) return 255;
  return static_cast<uint8_t>(v);
}

}  // namespace

// ---- Numbers ----

int IERound(double x) {
  // Adding and taking away 1.5 x 2^52 leaves the nearest integer, halves to even, as nearbyint does in
  // the default rounding mode, without its library call (the arithmetic is SSE2 double, never x87).
  constexpr double kMagic = 6755399441055744.0;
  if (std::fabs(x) < 4503599627370496.0) return static_cast<int>((x + kMagic) - kMagic);
  return static_cast<int>(std::nearbyint(x));
}

int IECeil(double x) {
  int t = static_cast<int>(x);
  return (x - t > 0) ? t + 1 : t;
}

int IEFloor(double x) {
  int t = static_cast<int>(x);
  return (x - t < 0) ? t - 1 : t;
}

double IEMinFloat(double a, double b) { return b < a ? b : a; }
double IEMaxFloat(double a, double b) { return b > a ? b : a; }

int IEClamp(int value, int low, int high) {
  if (value <= low) return low;
  if (value < high) return value;
  return high;
}

int IEClampToByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

void IEOrderCorners(int& x1, int& y1, int& x2, int& y2) {
  if (x2 < x1) IESwapInt(x1, x2);
  if (y2 < y1) IESwapInt(y1, y2);
}

double IEIntPower(double base, int exponent) {
  // Work on the magnitude in 64 bits: -INT_MIN does not fit an int.
  uint64_t e = exponent < 0 ? uint64_t(-int64_t(exponent)) : uint64_t(exponent);
  double result = 1.0, b = base;
  while (e) {
    if (e & 1) result *= b;
    b *= b;
    e >>= 1;
  }
  return exponent < 0 ? 1.0 / result : result;
}

double IEPower(double base, double exponent) {
  if (exponent == 0) return 1.0;
  if (base == 0 && exponent > 0) return 0.0;
  if (std::trunc(exponent) == exponent && std::fabs(exponent) <= 2147483647.0)
    return IEIntPower(base, static_cast<int>(exponent));
  return std::exp2(exponent * std::log2(base));
}

double IEPowerD(double base, double exponent) {
  if (exponent == 0) return 1.0;
  bool integral = std::trunc(exponent) == exponent;
  if (base == 0 && integral) return 0.0;
  if (exponent == 1) return base;
  if (exponent == 2) return base * base;
  if (exponent == -1) return 1.0 / base;
  if (exponent == -2) return 1.0 / (base * base);
  if (base == 0 && exponent > 0) return 0.0;
  if (integral && std::fabs(exponent) <= 2147483647.0) return IEIntPower(base, static_cast<int>(exponent));
  return std::exp2(exponent * std::log2(base));
}

int64_t IEColorCountFromBits(int bitsPerSample, int samples) {
  int total = bitsPerSample * samples;
  if (bitsPerSample < 0 || samples < 0 || total > 62) return -1;  // not representable
  return int64_t(1) << total;
}

int IEBitsForCount(uint32_t n) {
  if (n == 0) return -1;
  int high = 31;
  while (!(n & (1u << high))) --high;
  return (n & (n - 1)) == 0 ? high : high + 1;
}

int IEBitFieldWidth(uint32_t mask) {
  if (mask == 0) return 0;
  while (!(mask & 1)) mask >>= 1;
  int w = 0;
  while (mask & 1) {
    ++w;
    mask >>= 1;
  }
  return w;
}

void IEFloatToRational(int& numerator, int& denominator, double value, double precision) {
  const double kIntMax = 2147483647.0;
  int s = value >= 0 ? 1 : -1;
  double f = std::fabs(value);
  if (std::trunc(f) == f && f <= kIntMax) {
    numerator = static_cast<int>(f) * s;
    denominator = 1;
    return;
  }
  if (f < 1e-19) {
    numerator = s;
    denominator = 999999999;
    return;
  }
  if (f > kIntMax) {
    // Beyond what a signed rational field holds (the written rule only caps at 1e19, which no
    // 32-bit numerator can carry): the largest representable value with the sign.
    numerator = s * 999999999;
    denominator = 1;
    if (f < 999999999.0) numerator = s * static_cast<int>(f);
    return;
  }
  int64_t den = 1, prev = 0, num = static_cast<int64_t>(f + 0.5);
  int64_t goodNum = num, goodDen = 1;
  double e = f;
  for (int guard = 0; guard < 64; ++guard) {
    int64_t r = den;
    double frac = e - std::trunc(e);
    if (frac == 0) break;
    e = 1.0 / frac;
    double nd = double(prev) + std::trunc(e) * double(r);
    if (nd > kIntMax) break;  // the next convergent no longer fits: keep the last one that did
    den = static_cast<int64_t>(nd);
    double nn = std::trunc(f * double(den) + 0.5);
    if (nn > kIntMax) break;
    num = static_cast<int64_t>(nn);
    goodNum = num;
    goodDen = den;
    if (std::fabs(f - double(num) / double(den)) < precision || std::trunc(e) == e) break;
    prev = r;
  }
  numerator = static_cast<int>(goodNum) * s;
  denominator = static_cast<int>(goodDen);
}

// ---- Bits and byte order ----

bool IEGetRowBit(const uint8_t* row, int n) { return (row[n >> 3] & kBitMask[n & 7]) != 0; }

void IESetRowBit(uint8_t* row, int n, bool value) {
  if (value)
    row[n >> 3] |= kBitMask[n & 7];
  else
    row[n >> 3] &= uint8_t(~kBitMask[n & 7]);
}

#define IE_R2(n) n, n + 2 * 64, n + 1 * 64, n + 3 * 64
#define IE_R4(n) IE_R2(n), IE_R2(n + 2 * 16), IE_R2(n + 1 * 16), IE_R2(n + 3 * 16)
#define IE_R6(n) IE_R4(n), IE_R4(n + 2 * 4), IE_R4(n + 1 * 4), IE_R4(n + 3 * 4)
const uint8_t IEReverseBitsTable[256] = {IE_R6(0), IE_R6(2), IE_R6(1), IE_R6(3)};
#undef IE_R2
#undef IE_R4
#undef IE_R6

void IEReverseDWordBits(uint32_t& v) {
  v = (uint32_t(IEReverseBitsTable[v & 0xFF]) << 24) | (uint32_t(IEReverseBitsTable[(v >> 8) & 0xFF]) << 16) |
      (uint32_t(IEReverseBitsTable[(v >> 16) & 0xFF]) << 8) | uint32_t(IEReverseBitsTable[v >> 24]);
}

uint32_t IESwapWord(uint32_t v) { return (v & 0xFFFF0000u) | ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

void IESwapWordArray(uint16_t* p, int n) {
  for (int i = 0; i < n; ++i) p[i] = uint16_t((p[i] << 8) | (p[i] >> 8));
}

uint32_t IESwapDWord(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

int64_t IERowLength(int64_t width, int bitsPerPixel, int alignment) {
  if (alignment <= 0 || alignment % 8 != 0) return -1;
  int64_t bits = width * bitsPerPixel;
  if (alignment == 32) return ((bits + 31) / 32) * 4;
  return ((bits + alignment - 1) / alignment) * (alignment / 8);
}

// ---- Colours ----

int IERGBToGray(TIERGB rgb) {
  return (rgb.r * IEGrayWeightRed + rgb.g * IEGrayWeightGreen + rgb.b * IEGrayWeightBlue) / 100;
}

TColor IERGBToColor(TIERGB rgb) { return TColor(rgb.r | (rgb.g << 8) | (rgb.b << 16)); }

TIERGB IEColorToRGB(TColor color) {
  uint32_t c = color < 0 ? GetSysColor(color & 0xFF) : uint32_t(color);
  return IEMakeRGB(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
}

uint32_t IEColorToRGBA(TColor color, uint8_t alpha) {
  TIERGB c = IEColorToRGB(color);
  return uint32_t(c.b) | (uint32_t(c.g) << 8) | (uint32_t(c.r) << 16) | (uint32_t(alpha) << 24);
}

void IECopySwapRB(void* dest, const void* src, int n) {
  auto* d = static_cast<uint8_t*>(dest);
  auto* s = static_cast<const uint8_t*>(src);
  for (int i = 0; i < n; ++i, d += 3, s += 3) {
    uint8_t b0 = s[0];
    d[0] = s[2];
    d[1] = s[1];
    d[2] = b0;
  }
}

void IESwapRowRB(void* row, int n) {
  auto* p = static_cast<uint8_t*>(row);
  for (int i = 0; i < n; ++i, p += 3) IESwapByte(p[0], p[2]);
}

void IESwapRow48RB(void* row, int n) {
  auto* p = static_cast<uint8_t*>(row);
  for (int i = 0; i < n; ++i, p += 6) {
    uint8_t t[2] = {p[0], p[1]};
    p[0] = p[4];
    p[1] = p[5];
    p[4] = t[0];
    p[5] = t[1];
  }
}

void IESwapPaletteRB(void* palette, int n) { IESwapRowRB(palette, n); }

namespace {

// Runs fn(dc) with the DIB selected into a memory DC (the colour-table calls need one).
template <typename Fn>
auto WithDIBSelected(HBITMAP dib, Fn fn) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  auto r = fn(dc);
  SelectObject(dc, old);
  DeleteDC(dc);
  return r;
}

}  // namespace

void IESetGrayscaleDIBPalette(HBITMAP dib) {
  RGBQUAD table[256];
  for (int i = 0; i < 256; ++i) {
    table[i].rgbBlue = table[i].rgbGreen = table[i].rgbRed = uint8_t(i);
    table[i].rgbReserved = 0;
  }
  WithDIBSelected(dib, [&](HDC dc) { return SetDIBColorTable(dc, 0, 256, table); });
}

bool IEIsGrayscaleDIBPalette(HBITMAP dib) {
  RGBQUAD table[256];
  UINT n = WithDIBSelected(dib, [&](HDC dc) { return GetDIBColorTable(dc, 0, 256, table); });
  for (UINT i = 0; i < n; ++i)
    if (table[i].rgbRed != i || table[i].rgbGreen != i || table[i].rgbBlue != i) return false;
  return true;
}

void IECopyDIBPaletteToBitmap(ui::TBitmap* source, TIEBaseBitmap* dest) {
  if (!source || !dest || source->GetPixelFormat() != ui::pf8bit || dest->GetPixelFormat() != ie8p) return;
  HBITMAP dib = source->GetHandle();
  if (!dib) return;
  RGBQUAD table[256];
  UINT n = WithDIBSelected(dib, [&](HDC dc) { return GetDIBColorTable(dc, 0, 256, table); });
  for (UINT i = 0; i < n; ++i)
    dest->SetPaletteEntry(int(i), IEMakeRGB(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue));
}

void IEYCbCrToRGB(TIERGB& rgb, int Y, int Cb, int Cr) {
  rgb.r = ClampByteFloat(std::trunc(Y + 1.402 * (Cr - 128)));
  rgb.g = ClampByteFloat(std::trunc(Y - 0.34414 * (Cb - 128) - 0.71414 * (Cr - 128)));
  rgb.b = ClampByteFloat(std::trunc(Y + 1.772 * (Cb - 128)));
}

namespace {

double LinearizeSRGB(uint8_t c) {
  double v = c / 255.0;
  return v <= 0.03928 ? v / 12.92 : IEPowerD((v + 0.055) / 1.055, 2.4);
}

double LabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }

int8_t ClampSByte(double v) {
  v = std::trunc(v);
  if (v < -128) return -128;
  if (v > 127) return 127;
  return static_cast<int8_t>(v);
}

double LabInverse(double f) {
  double f3 = f * f * f;
  return f3 > 0.008856 ? f3 : (f - 0.13793103448) / 7.787;
}

uint8_t GammaByte(double v) {
  v = v <= 0.0031308 ? 12.92 * v : 1.055 * IEPowerD(v, 1.0 / 2.4) - 0.055;
  return static_cast<uint8_t>(IEClampToByte(IERound(v * 255)));
}

}  // namespace

void IERGBToCIELab(TIECIELab& lab, TIERGB rgb) {
  double r = LinearizeSRGB(rgb.r), g = LinearizeSRGB(rgb.g), b = LinearizeSRGB(rgb.b);
  double X = (0.412453 * r + 0.35758 * g + 0.180423 * b) / 0.95047;
  double Y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
  double Z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.088883;
  double fy = LabF(Y);
  double L = Y > 0.008856 ? 116 * fy - 16 : 903.3 * Y;
  lab.l = ClampByteFloat(std::trunc(L * 2.5));
  // a* and b* of sRGB colours lie within a signed byte; the clamp only guards rounding at the edges.
  lab.a = ClampSByte(500 * (LabF(X) - fy));
  lab.b = ClampSByte(200 * (fy - LabF(Z)));
}

void IECIELabToRGB(TIERGB& rgb, TIECIELab lab) {
  double L = lab.l * 0.39215686275;
  double fy = (L + 16) / 116;
  double fx = fy + lab.a / 500.0;
  double fz = fy - lab.b / 200.0;
  double X = 0.95047 * LabInverse(fx), Y = LabInverse(fy), Z = 1.08883 * LabInverse(fz);
  rgb.r = GammaByte(3.2406 * X - 1.5372 * Y - 0.4986 * Z);
  rgb.g = GammaByte(-0.9689 * X + 1.8758 * Y + 0.0415 * Z);
  rgb.b = GammaByte(0.0557 * X - 0.2040 * Y + 1.0570 * Z);
}

// ---- Memory ----

void* IEGlobalAllocZero(uint64_t size) {
  if (size > std::numeric_limits<SIZE_T>::max()) return nullptr;
  return GlobalAlloc(GPTR, static_cast<SIZE_T>(size));  // GPTR: fixed, so the handle is the pointer
}

void IEGlobalFreeAndNil(void*& p) {
  if (p) GlobalFree(p);
  p = nullptr;
}

bool IETryGetMem(void*& p, uint64_t size) {
  p = nullptr;
  if (size > std::numeric_limits<size_t>::max()) return false;
  p = std::malloc(static_cast<size_t>(size));
  return p != nullptr;
}

uint64_t IEAutoAllocLimit = UINT64_MAX;

void* IEAutoAlloc(uint64_t size) {
  if (size > IEAutoAllocLimit || size > std::numeric_limits<size_t>::max() - kAutoAllocSlack) return nullptr;
  uint64_t total = size + kAutoAllocSlack;
  uint8_t* block = nullptr;
  uint8_t origin = 0;
  if (size < kAutoAllocGlobalFrom) block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(total)));
  if (!block) {
    block = static_cast<uint8_t*>(IEGlobalAllocZero(total));
    origin = 1;
  }
  if (!block) return nullptr;
  block[0] = origin;
  return block + 1;
}

int IEAutoAllocOrigin(const void* p) { return static_cast<const uint8_t*>(p)[-1]; }

void IEAutoFree(void* p) {
  if (!p) return;
  uint8_t* block = static_cast<uint8_t*>(p) - 1;
  if (block[0] == 1)
    GlobalFree(block);
  else
    std::free(block);
}

int IEBitmapFormatBitCount(ui::TPixelFormat pf) {
  switch (pf) {
    case ui::pf1bit: return 1;
    case ui::pf4bit: return 4;
    case ui::pf8bit: return 8;
    case ui::pf15bit: return 15;
    case ui::pf16bit: return 16;
    case ui::pf24bit: return 24;
    case ui::pf32bit: return 32;
    default: return 0;
  }
}

TIEPixelFormat IEBitmapFormatToIE(ui::TPixelFormat pf) {
  switch (pf) {
    case ui::pf1bit: return ie1g;
    case ui::pf4bit:
    case ui::pf8bit: return ie8p;
    default: return ie24RGB;
  }
}

int64_t IEBitmapFormatRowLength(int64_t width, ui::TPixelFormat pf) {
  return IERowLength(width, IEBitmapFormatBitCount(pf), 32);
}

HWND IEFindOwnerWindow(ui::TComponent* component) {
  for (ui::TComponent* c = component; c; c = c->Owner()) {
    if (auto* w = dynamic_cast<ui::TWinControl*>(c)) return w->HandleAllocated() ? w->GetHandle() : nullptr;
  }
  return nullptr;
}

void IECopyList(const ui::TList& source, ui::TList& dest) {
  if (&source == &dest) return;
  dest.Clear();
  for (int i = 0; i < source.Count(); ++i) dest.Add(source.Get(i));
}

// ---- logs ----

void TIELogFile::Close() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

void TIELogFile::Write(const std::string& fileName, const std::string& message) {
  Close();
  file_ = CreateFileA(fileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) throw EIEError("Cannot open the log file " + fileName);
  char date[80] = {}, time[80] = {};
  GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
  const std::string line = std::string(date) + " " + time + " : " + message + "\r\n";
  DWORD written = 0;
  if (!WriteFile(file_, line.data(), DWORD(line.size()), &written, nullptr) || written != line.size() ||
      !FlushFileBuffers(file_))
    throw EIEError("Cannot write the log file " + fileName);
}

std::string IEDebugLogFileName;

namespace {
TIELogFile& DebugLog() {
  static TIELogFile log;
  return log;
}
}  // namespace

void IEDebugLogWrite(const std::string& message) {
  if (IEDebugLogFileName.empty()) return;
  DebugLog().Write(IEDebugLogFileName, message);
}

void IEDebugLogClose() { DebugLog().Close(); }
