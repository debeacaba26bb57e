// Magic-wand selection: the 4-connected region of pixels whose colour lies within a tolerance of a
// seed pixel's, written into a selection mask or returned as its outline, and the selection of every
// pixel of similar colour. A pixel matches when each of red, green and blue differs from the seed's
// by at most the tolerance. Pixels of any format are compared as colours (GetPixelRGB).
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

class TIEBitmap;
class TIEMask;

// Bit n of a row, most significant bit of byte 0 first.
bool IEGetBit(const uint8_t* row, int n);
void IESetBit(uint8_t* row, int n, bool value);

// Sets `maskValue` in `mask` (of the bitmap's size) for every pixel of the seed's region; with
// dilate, on the 3 x 3 neighbourhood of each region pixel (limited to the image). False, and the
// mask untouched, for a seed outside the bitmap.
bool IEMagicWandFill(TIEBitmap* bitmap, int seedX, int seedY, int maskValue, TIEMask* mask, int tolerance,
                     bool dilate);
// The outer outline of the seed's region (dilated as above) as a closed polygon on pixel corners,
// clockwise on screen, starting at the top-left corner of the region's first pixel; filled with
// TIEMask::FillPolygon it gives back the region with its holes filled. The start point comes first
// and last, and every corner in between twice (one pixel: eight points). Empty for a seed outside.
std::vector<POINT> IEMagicWandOutline(TIEBitmap* bitmap, int seedX, int seedY, int tolerance, bool dilate);
// Sets `maskValue` for every pixel of the image that matches the seed's colour. False, and the
// mask untouched, for a seed outside the bitmap.
bool IESelectSimilarColors(TIEBitmap* bitmap, int seedX, int seedY, int maskValue, TIEMask* mask, int tolerance);
