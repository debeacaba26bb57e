// Painting helpers the image view uses for its background styles and overlays and the parameters
// preview uses for its backgrounds: bevel frames, the shadow strips of the cropped-shadow background,
// a Gaussian curve and the two background textures built on it.
//
// They draw on a device context (the canvas's) and, where a 24-bit platform bitmap is at hand, write
// its pixels directly.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "iedefs.h"

class TIEPlatformBitmap;
namespace ui {
class TCanvas;
class TFont;
class TBrush;
class TBitmap;
}  // namespace ui

// Frame lines (x1, y2)-(x1, y1)-(x2, y1) in colour1, then (x1, y2)-(x2, y2)-(x2, y1) in colour2, each
// line without its last point; solid pen of width 1.
void IEDrawBevelFrame(HDC dc, int x1, int y1, int x2, int y2, TColor colour1, TColor colour2);

// The shadow strip right of (below) the image rectangle of the cropped-shadow background; the strip
// is the rectangle (x1, y1)-(x2, y2), inclusive, beside the image, and starts its width below the
// image's top (its height right of the image's left). Mode 1: filled with the device context's brush;
// mode 2: the pixels darkened, deepest next to the image, ending in a slanted corner; mode 3: a grey
// gradient with a slanted corner, inside the strip. Pixels are changed in `bitmap` (24-bit, or
// nullptr) where it covers them, otherwise through the device context.
void IEDrawCropShadowRight(HDC dc, TIEPlatformBitmap* bitmap, int x1, int y1, int x2, int y2, int mode);
void IEDrawCropShadowBottom(HDC dc, TIEPlatformBitmap* bitmap, int x1, int y1, int x2, int y2, int mode);

// n samples of a Gaussian of width s over -1 .. 1, scaled so that the peak is `high` and zero is
// `low`.
void IEGaussianCurve(int n, double low, double high, double s, std::vector<double>& out);

// The preview's textures, 24 bits per pixel: horizontal grey stripes repeating every four rows, and
// a horizontal grey shading with random brightness runs.
bool IEMakeStripeBitmap(TIEPlatformBitmap* bitmap, int width, int height);
bool IEMakeShadedNoiseBitmap(TIEPlatformBitmap* bitmap, int width, int height);

// A soft shadow around the image rectangle (x1, y1)-(x2, y2), inclusive, of a 24-bit bitmap: a mask
// of the rectangle and two more pixels right of and below it, blurred (Gaussian, radius 2.5), darkens
// the pixels within 5 of the rectangle outside x1 <= x < x2, y1 <= y < y2. Only the part of the mask
// that reaches the bitmap is made, so a rectangle far larger than the bitmap costs no more.
void IEDrawSoftShadow(TIEPlatformBitmap* bitmap, int x1, int y1, int x2, int y2);

// A framed box of `text` at (x, y) moved inside widthLimit x heightLimit (the variables receive the
// place used); `saved` receives the canvas area the box covers, so that the caller can restore it.
void IEDrawTextBox(ui::TCanvas* canvas, int& x, int& y, const std::string& text, ui::TFont* font, ui::TBrush* brush,
                   ui::TBitmap* saved, int widthLimit, int heightLimit, TColor topLeft, TColor bottomRight);
