// A halftone stretch between two 24-bit device-independent bitmaps, for the transitions that
// stretch pictures every frame: each destination pixel is the mean of the source pixels its area
// covers (shrinking), or the source pixel under its centre (enlarging), as the platform's HALFTONE
// stretch mode draws, at a fraction of its cost where the platform computes it slowly. Anything
// else (other formats, a clip region, mapped coordinates, mirrored sizes) goes to StretchBlt in
// HALFTONE mode.
#pragma once
#include <windows.h>

void IEStretchBltHalftone(HDC dst, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw, int sh);
