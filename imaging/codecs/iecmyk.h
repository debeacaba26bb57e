// CMYK and other pixel layouts into the library's rows: through the built-in CMYK output profile
// and the system sRGB profile when colour management is available, otherwise through plain formulas.
#pragma once
#include <cstddef>
#include <cstdint>

#include "iedefs.h"

class TIEICC;
class TIOParamsVals;

extern TIEICC* IECMYKProfile;  // built-in CMYK output profile, null until first needed
extern TIEICC* IESRGBProfile;  // system sRGB profile, created with IECMYKProfile
extern bool IECMSEnabled;      // the single-colour routines and the row converter may use the profiles
// Readers convert the pixels of images that carry their own ICC profile through it to sRGB (off
// after start-up).
extern bool IEApplyICCProfiles;

// True when both profiles are loaded and valid (loading them on the first call); a profile that
// proved invalid gives false on every later call.
bool IELoadCMYKProfile();
// Frees both profiles (the next conversion loads them again).
void IEFreeCMYKProfile();

// Packed CMYK (C bits 0-7 .. K bits 24-31, 255 = no ink) to a colour.
void IECMYKToRGB(uint32_t cmyk, TIERGB& rgb);
// 0x00RRGGBB to packed CMYK.
uint32_t IERGBToCMYK(uint32_t rgb);
// n pixels of layout srcCode (IEICCFormatCode) into layout dstCode; the source row is never changed.
// Pairs without a conversion leave the destination alone.
void IEConvertPixelRow(const void* src, int srcCode, void* dst, int n, int dstCode);
// The codecs' row converter: with IEApplyICCProfiles, through params' input profile (valid and not
// yet applied) to its sRGB output profile, the transform kept prepared for the next rows; else, and
// when that fails, as above.
void IEConvertPixelRow(const void* src, int srcCode, void* dst, TIOParamsVals* params, int n, int dstCode);
// The row converter the JPEG and TIFF codecs call: IEConvertPixelRow (above) after start-up; an
// application may put its own in its place.
using TIEColorConversionHook = void (*)(const void* src, int srcCode, void* dst, TIOParamsVals* params, int n,
                                        int dstCode);
extern TIEColorConversionHook IEColorConversionHook;
// n packed CMYK pixels (bytes C, M, Y, K, 255 = no ink) into n B, G, R pixels, a row per call.
void IECMYKRowToRGB(const uint8_t* src, TIERGB* dst, int n);
// `rows` such rows, each `srcStride` / `dstStride` bytes after the one before: large images are
// converted in bands of rows on a few threads, with the same result as row by row.
void IECMYKRowsToRGB(const uint8_t* src, ptrdiff_t srcStride, TIERGB* dst, ptrdiff_t dstStride, int n, int rows);
