// The table of the 187 transition effects (name and painter) and the painters of codes 31 to 187:
// block-transfer painters (copies, stretches and slides of the target picture, moves of the frame
// itself) and painters that copy the target picture through a clipping region. A painter draws one
// frame for a progress of 0..100 over what the frame already holds and keeps no state between calls.
#pragma once
#include <windows.h>

#include "ieregions.h"

namespace ui {
class TCanvas;
class TBitmap;
}  // namespace ui

constexpr int kTransitionEffectCount = 187;
constexpr int kFirstTablePainter = 31;  // codes below are painted by the transition engine itself

// (frame canvas, from picture, to picture, frame rectangle with its origin at (0, 0), step, progress
// 0..100, the generator of the random layouts)
using TEffectProc = void (*)(ui::TCanvas* canvas, ui::TBitmap* from, ui::TBitmap* to, const RECT& rect, int step,
                             int progress, TIERandom& rng);

struct TEffect {
  const char* Name;
  TEffectProc Proc;  // nullptr for codes 1..30
};

// Entry code - 1 describes effect code.
extern const TEffect IETransitionEffectTable[kTransitionEffectCount];

// The frame size W x H of rect and its size scaled to progress, sw x sh, keeping the frame's aspect.
void ScaledTransitionSize(const RECT& rect, int progress, int& W, int& H, int& sw, int& sh);

// Paints the frame of a table effect (31..187) for progress 0..100 with its painter. Several layouts
// stop short of the frame's edges (halves of odd sizes, grids, zigzags on narrow frames, the last
// sector of a sweep): at progress 100 the whole to-picture is shown whatever the painter left.
void PaintTransitionEffect(int code, ui::TCanvas* canvas, ui::TBitmap* from, ui::TBitmap* to, const RECT& rect,
                           int step, int progress, TIERandom& rng);

// The clipping region of a region painter (codes 77..150 and 159..185) for the frame rect; 0 when the
// painter draws nothing (or the code has no region). `to` is the target picture, whose handle value
// seeds the random big boxes.
HRGN CreateTransitionRegion(int code, const RECT& rect, int step, int progress, TIERandom& rng, ui::TBitmap* to);
