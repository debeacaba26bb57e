// Small helpers every part of the image library calls: rounding and clamping, bit and byte-order
// operations, row sizes, colour records and their conversions (grey, platform colour, YCbCr,
// CIE L*a*b*), rational approximation of floats, and the block allocator of pixel memory.
// Round = nearest, halves to even; Trunc = toward zero.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include <windows.h>

#include "iedefs.h"
#include "uibitmap.h"

class TIEBaseBitmap;
namespace ui {
class TComponent;
class TList;
}  // namespace ui

// The library's programming errors ("invalid operation", bad arguments, ...) raise this class or a
// descendant, with a message.
class EIEError : public std::runtime_error {
 public:
  explicit EIEError(const std::string& msg) : std::runtime_error(msg) {}
};

// An appending text log: every line is "date time : message" (the user's short date and long time
// formats). The file is reopened for each line and stays open until the next one or Close.
// Failures to open, write or flush raise EIEError.
class TIELogFile {
 public:
  TIELogFile() = default;
  ~TIELogFile() { Close(); }
  TIELogFile(const TIELogFile&) = delete;
  TIELogFile& operator=(const TIELogFile&) = delete;
  void Write(const std::string& fileName, const std::string& message);
  void Close();

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// The library's debug log (the DIB routines write to it): nothing while the file name is empty, its
// default, which nothing in the library changes.
extern std::string IEDebugLogFileName;
void IEDebugLogWrite(const std::string& message);
void IEDebugLogClose();

// Progress callback (sender, percentage). Long operations call it and stop when their abort flag is set.
using TIEProgressEvent = std::function<void(void* Sender, int per)>;

// ---- Numbers ----
int IERound(double x);          // nearest, halves to even
int IECeil(double x);           // Trunc(x), +1 when the fraction is above 0
int IEFloor(double x);          // Trunc(x), -1 when the fraction is below 0
double IEMinFloat(double a, double b);  // a when equal
double IEMaxFloat(double a, double b);
inline int IEMin(int a, int b) { return a < b ? a : b; }
inline int IEMax(int a, int b) { return a > b ? a : b; }
int IEClamp(int value, int low, int high);  // low when value <= low, value below high, else high
int IEClampToByte(int v);
inline void IESwapInt(int& a, int& b) { int t = a; a = b; b = t; }
inline void IESwapByte(uint8_t& a, uint8_t& b) { uint8_t t = a; a = b; b = t; }
void IEOrderCorners(int& x1, int& y1, int& x2, int& y2);  // x1 <= x2 and y1 <= y2 afterwards
inline int IEIfThenInt(bool f, int t, int e) { return f ? t : e; }
inline double IEIfThenFloat(bool f, double t, double e) { return f ? t : e; }
double IEIntPower(double base, int exponent);  // repeated squaring; negative exponent = reciprocal
double IEPower(double base, double exponent);
double IEPowerD(double base, double exponent);  // with fast paths for 0, +-1, +-2
int64_t IEColorCountFromBits(int bitsPerSample, int samples);  // (2^bits)^samples
int IEBitsForCount(uint32_t n);    // -1 for 0; bits needed to index n entries
int IEBitFieldWidth(uint32_t mask);  // consecutive set bits from the lowest set bit
// Continued-fraction approximation (EXIF/TIFF RATIONAL fields); the results stay in Int32 range.
void IEFloatToRational(int& numerator, int& denominator, double value, double precision);

// ---- Bits and byte order ----
// Bit n of a row counting from the most significant bit of byte 0.
bool IEGetRowBit(const uint8_t* row, int n);
void IESetRowBit(uint8_t* row, int n, bool value);
extern const uint8_t IEReverseBitsTable[256];
inline void IEReverseByteBits(uint8_t& b) { b = IEReverseBitsTable[b]; }
void IEReverseDWordBits(uint32_t& v);
uint32_t IESwapWord(uint32_t v);  // exchanges the two low bytes, bits above 16 kept
void IESwapWordArray(uint16_t* p, int n);
uint32_t IESwapDWord(uint32_t v);
inline uint32_t IESwapWordIf(uint32_t v, bool f) { return f ? IESwapWord(v) : v; }
inline uint32_t IESwapDWordIf(uint32_t v, bool f) { return f ? IESwapDWord(v) : v; }
// Unaligned little/big-endian reads and writes of untrusted byte buffers.
inline uint16_t IEReadU16LE(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint16_t IEReadU16BE(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t IEReadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t IEReadU32BE(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void IEWriteU16LE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void IEWriteU32LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
// Bytes of a row of `width` pixels of `bitsPerPixel`, padded to `alignment` bits (a multiple of 8).
// Alignment 0 or not a multiple of 8 is refused with -1 (it would divide by zero).
int64_t IERowLength(int64_t width, int bitsPerPixel, int alignment);
// Pixel formats of the user-interface library's bitmaps: bits per pixel (0 for pfDevice/pfCustom),
// the image format that holds such pixels, and the bytes of a DWORD-aligned row.
int IEBitmapFormatBitCount(ui::TPixelFormat pf);
TIEPixelFormat IEBitmapFormatToIE(ui::TPixelFormat pf);  // pf1bit ie1g, pf4bit/pf8bit ie8p, else ie24RGB
int64_t IEBitmapFormatRowLength(int64_t width, ui::TPixelFormat pf);

// ---- Colours ----
inline TIERGB IEMakeRGB(uint8_t r, uint8_t g, uint8_t b) { TIERGB c; c.r = r; c.g = g; c.b = b; return c; }
inline TIECMYK IEMakeCMYK(uint8_t c, uint8_t m, uint8_t y, uint8_t k) { TIECMYK v; v.c = c; v.m = m; v.y = y; v.k = k; return v; }
int IERGBToGray(TIERGB rgb);  // with IEGrayWeightRed/Green/Blue
TColor IERGBToColor(TIERGB rgb);
TIERGB IEColorToRGB(TColor color);  // system colours resolved first
uint32_t IEColorToRGBA(TColor color, uint8_t alpha);  // bytes B, G, R, A (little-endian)
inline bool IESameRGB(TIERGB a, TIERGB b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
void IECopySwapRB(void* dest, const void* src, int n);  // n 3-byte pixels, bytes 0 and 2 exchanged
void IESwapRowRB(void* row, int n);
void IESwapRow48RB(void* row, int n);  // first and third 16-bit sample of n 6-byte pixels
void IESwapPaletteRB(void* palette, int n);
// Colour tables of platform DIB sections (8 bits per pixel or less; others have no table).
void IESetGrayscaleDIBPalette(HBITMAP dib);      // entries (i, i, i) for every entry of its table
bool IEIsGrayscaleDIBPalette(HBITMAP dib);       // every entry is (i, i, i); an empty table counts as grey
// Copies the colour table of an 8-bit platform bitmap into the palette of an ie8p bitmap; any other
// pairing (or a null argument) leaves the destination alone.
void IECopyDIBPaletteToBitmap(ui::TBitmap* source, TIEBaseBitmap* dest);
void IEYCbCrToRGB(TIERGB& rgb, int Y, int Cb, int Cr);
void IERGBToCIELab(TIECIELab& lab, TIERGB rgb);  // sRGB, D65; L byte = L* x 2.5
void IECIELabToRGB(TIERGB& rgb, TIECIELab lab);  // L byte read as L* x 100/255

// ---- User interface ----
// The window handle of the first windowed control met walking from `component` (itself first) up its
// owner chain; nullptr when there is none or its window has not been created (never creates one).
HWND IEFindOwnerWindow(ui::TComponent* component);
// Makes `dest` hold the same pointers as `source`, in the same order.
void IECopyList(const ui::TList& source, ui::TList& dest);

// ---- Memory ----
// Pixel memory: blocks below 1 MB from the run-time heap, larger ones (or when the heap is exhausted)
// zero-filled from GlobalAlloc. The result points one byte into a block of size + 4 bytes; that first
// byte records the origin (0 heap, 1 global). nullptr when nothing could be allocated.
// The largest block IEAutoAlloc hands out (default: no limit). Lowered only to exercise what the
// callers do when a large block cannot be had.
extern uint64_t IEAutoAllocLimit;
void* IEAutoAlloc(uint64_t size);
void IEAutoFree(void* p);
int IEAutoAllocOrigin(const void* p);  // the origin byte of an IEAutoAlloc block
void* IEGlobalAllocZero(uint64_t size);  // fixed, zero-filled global memory or nullptr
void IEGlobalFreeAndNil(void*& p);
bool IETryGetMem(void*& p, uint64_t size);  // malloc'ed block (free with std::free) or false
