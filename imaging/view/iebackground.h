// The background painter of the image view: the area around the image, and behind its transparent
// parts, in one of the view's background styles, with an optional wallpaper picture on top.
#pragma once
#include <windows.h>

#include <cstdint>

#include "imageryview.h"
#include "uigraphics.h"

class TIEPlatformBitmap;
namespace ui {
class TPicture;
}

// Paints the area (x, y, width, height) of `canvas` in `style`. (x1, y1)-(x2, y2) is where the image
// lies (all 0 without one). `bitmap`, when given, is the 24-bit bitmap behind the canvas: the
// chessboard and the shadows write its pixels directly. A chessboard size below 1 counts as 1. The
// wallpaper (nullptr, or a picture without a graphic, for none) is drawn last.
void IEDrawBackground(bool designing, ui::TCanvas* canvas, TIEPlatformBitmap* bitmap, TIEBackgroundStyle style,
                      ui::TColor colour, int x, int y, int width, int height, int x1, int y1, int x2, int y2,
                      int chessboardSize, ui::TBrushStyle chessboardBrushStyle, ui::TColor gradientEndColor,
                      ui::TPicture* wallpaper, TIEWallPaperStyle wallpaperStyle);

// Loads MSIMG32.DLL and its "GradientFill" once; False when either is missing.
bool IELoadGradientLibrary();
// A two-colour gradient over `r`, colour1 at the top-left and colour2 at the bottom-right, running
// top to bottom when `vertical`, else left to right. False when the library is missing.
bool IEGradientFill(const RECT& r, HDC dc, ui::TColor colour1, bool vertical, ui::TColor colour2);
