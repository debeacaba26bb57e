// Overlays the view draws through its antialiasing canvas: the shade around a navigator's rectangle,
// a bevel frame and the information box of interaction hints.
#pragma once
#include <string>

#include "iegdiplus.h"

// Darkens the outer area (x, y, width, height) around the inner rectangle with black at
// transparency 150: four fills, where two overlap the area is darkened twice. Nothing when the
// inner rectangle is empty (right not above left, or bottom not below top).
void IEShadeOutsideRect(ui::TCanvas* canvas, int outerX, int outerY, int outerWidth, int outerHeight, int innerLeft,
                        int innerTop, int innerRight, int innerBottom);

// Lines (x1, y2)-(x1, y1)-(x2, y1) in colour1, then (x1, y2)-(x2, y2)-(x2, y1) in colour2; solid pen,
// width 1, opaque.
void IEDrawBevelFrameIE(TIECanvas* canvas, int x1, int y1, int x2, int y2, ui::TColor colour1, ui::TColor colour2);

// A pale yellow, half transparent box with `text` (sized for the wider of `measure` and `text`) at
// (x, y), raised to 0; the variables receive the place used.
void IEDrawInfoBox(ui::TCanvas* canvas, int& x, int& y, const std::string& measure, const std::string& text);
