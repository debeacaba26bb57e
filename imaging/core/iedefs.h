// Library-wide definitions of the image library: pixel formats, storage locations, the pixel
// records every format is made of, and the process-wide grey weights.
#pragma once
#include <cstdint>
#include <string>

// Pixel formats of a TIEBitmap, stored as a byte; the values are part of the raw bitmap stream.
enum TIEPixelFormat : uint8_t {
  ieNoFormat = 0,
  ie1g = 1,       // 8 pixels per byte, most significant bit first; a set bit is white
  ie8p = 2,       // index into a 256-entry palette
  ie8g = 3,       // grey 0..255; also the format of every alpha channel
  ie16g = 4,      // grey 0..65535
  ie24RGB = 5,    // bytes B, G, R
  ie32f = 6,      // float grey 0.0..1.0
  ieCMYK = 7,     // bytes C, M, Y, K, each stored inverted (255 = no ink)
  ieRGB48 = 8,    // 16-bit R, G, B in that order
  ieCIELab = 9,   // L (byte), a, b (signed bytes)
  ie32RGB = 10,   // bytes B, G, R and a fourth byte
};
constexpr int kIEPixelFormatCount = 11;

// Bits per pixel and channels of each format (indexed by TIEPixelFormat).
extern const int IEPixelFormatBitCount[kIEPixelFormatCount];
extern const int IEPixelFormatChannelCount[kIEPixelFormatCount];
inline bool IEIsValidPixelFormat(int f) { return f >= 0 && f < kIEPixelFormatCount; }

// Where a TIEBitmap keeps its pixels.
enum TIELocation : uint8_t { ieMemory = 0, ieTempFile = 1, ieTBitmap = 2 };

// Row-view access of the temporary-file location (a set): read the row when the view is made,
// write it back when the view is released.
using TIERowAccess = uint8_t;
constexpr TIERowAccess iraRead = 1;
constexpr TIERowAccess iraWrite = 2;

// A platform colour: 0x00BBGGRR, negative values name system colours.
typedef int32_t TColor;

#pragma pack(push, 1)
// 24-bit colour as the bytes B, G, R; read as a little-endian integer it is 0x00RRGGBB.
struct TIERGB { uint8_t b, g, r; };
struct TIECMYK { uint8_t c, m, y, k; };
struct TIERGB48 { uint16_t r, g, b; };
struct TIECIELab { uint8_t l; int8_t a, b; };
#pragma pack(pop)
static_assert(sizeof(TIERGB) == 3 && sizeof(TIECMYK) == 4 && sizeof(TIERGB48) == 6 && sizeof(TIECIELab) == 3, "packed pixels");

// Per-cent weights of the library's 8-bit grey: (R x red + G x green + B x blue) div 100.
extern int IEGrayWeightRed;
extern int IEGrayWeightGreen;
extern int IEGrayWeightBlue;
// Background of the parameters preview: 0 nothing, 1 stripes, 2 shaded noise.
extern uint8_t IEDialogBackgroundStyle;
extern std::string IELibraryVersion;

// The resampling filters; rfNone is nearest neighbour without any filtering.
enum TResampleFilter : uint8_t {
  rfNone = 0,
  rfTriangle,
  rfHermite,
  rfBell,
  rfBSpline,
  rfLanczos3,
  rfMitchell,
  rfNearest,
  rfLinear,
  rfFastLinear,
  rfBilinear,
  rfBicubic,
  rfProjectBW,
  rfProjectWB,
};

// Second step of the library's shared start-up and shut-down.
void IEDefsStaticInit();
void IEDefsStaticFini();
