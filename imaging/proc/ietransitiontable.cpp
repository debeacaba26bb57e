#include "ietransitiontable.h"

#include <algorithm>

#include "iestretchblt.h"
#include "uibitmap.h"

void ScaledTransitionSize(const RECT& rect, int progress, int& W, int& H, int& sw, int& sh) {
  W = rect.right - rect.left;
  H = rect.bottom - rect.top;
  if (W >= H) {
    sw = MulDiv(W, progress, 100);
    sh = W ? MulDiv(sw, H, W) : 0;
  } else {
    sh = MulDiv(H, progress, 100);
    sw = MulDiv(sh, W, H);
  }
}

namespace {

// What a block-transfer painter works with: the frame's and the to-picture's device contexts, the
// frame size and the scaled size.
struct Blit {
  HDC dc, src;
  int W, H, sw, sh;
  Blit(ui::TCanvas* canvas, ui::TBitmap* to, const RECT& rect, int progress)
      : dc(canvas->GetHandle()), src(to->Canvas()->GetHandle()) {
    ScaledTransitionSize(rect, progress, W, H, sw, sh);
  }
  // Rectangles are (x, y, width, height).
  void Stretch(int sx, int sy, int sWidth, int sHeight, int dx, int dy, int dWidth, int dHeight) const {
    IEStretchBltHalftone(dc, dx, dy, dWidth, dHeight, src, sx, sy, sWidth, sHeight);
  }
  void StretchAll(int dx, int dy, int dWidth, int dHeight) const { Stretch(0, 0, W, H, dx, dy, dWidth, dHeight); }
  void InPlace(int x, int y, int w, int h) const { BitBlt(dc, x, y, w, h, src, x, y, SRCCOPY); }
  void Copy(int sx, int sy, int w, int h, int dx, int dy) const { BitBlt(dc, dx, dy, w, h, src, sx, sy, SRCCOPY); }
  void BlitAt(int x, int y) const { BitBlt(dc, x, y, W, H, src, 0, 0, SRCCOPY); }
  // The frame's own content moved or squeezed on itself.
  void MoveFrame(int sx, int sy, int w, int h, int dx, int dy) const { BitBlt(dc, dx, dy, w, h, dc, sx, sy, SRCCOPY); }
  void SqueezeFrame(int dx, int dy, int w, int h) const { IEStretchBltHalftone(dc, dx, dy, w, h, dc, 0, 0, W, H); }
};

#define PAINTER_ARGS ui::TCanvas *canvas, ui::TBitmap *from, ui::TBitmap *to, const RECT &rect, int step, int progress, \
                     TIERandom &rng
#define BLIT_PAINTER(...)                          \
  [](PAINTER_ARGS) {                                \
    (void)from, (void)step, (void)rng;              \
    const Blit b(canvas, to, rect, progress);       \
    const int W = b.W, H = b.H, sw = b.sw, sh = b.sh; \
    (void)W, (void)H, (void)sw, (void)sh;           \
    __VA_ARGS__;                                    \
  }

// The roll of the unroll painters: half the unrolled part near the start, half the rest near the end,
// a tenth of the frame between.
int RollStart(int s, int extent) {
  if (s < extent / 5) return s / 2;
  if (s + extent / 5 > extent) return (extent - s) / 2;
  return extent / 10;
}
int RollEnd(int s, int extent) {
  const int d = extent - s;
  if (s < extent / 5) return s / 2;
  if (d < extent / 5) return d / 2;
  return extent / 10;
}

void Unroll(ui::TCanvas* canvas, ui::TBitmap* to, const RECT& rect, int progress, bool horizontal, bool fromEnd) {
  int W, H, sw, sh;
  ScaledTransitionSize(rect, progress, W, H, sw, sh);
  const int extent = horizontal ? W : H, s = horizontal ? sw : sh;
  // Both rectangles as (start, end) along the axis; the other axis is whole.
  int rollFrom, rollTo, srcFrom, srcTo, doneFrom, doneTo;
  if (!fromEnd) {
    const int r = RollStart(s, extent);
    rollFrom = s, rollTo = s + r, srcFrom = s + r, srcTo = s + 2 * r, doneFrom = 0, doneTo = s;
  } else {
    const int r = RollEnd(s, extent), d = extent - s;
    rollFrom = d - r, rollTo = d, srcFrom = d - 2 * r, srcTo = d - r, doneFrom = d, doneTo = extent;
  }
  auto box = [&](int a, int b) { return horizontal ? RECT{a, 0, b, H} : RECT{0, a, W, b}; };
  if (rollTo > rollFrom) StretchDrawMirrored(canvas, box(rollFrom, rollTo), to, box(srcFrom, srcTo), horizontal, !horizontal);
  if (doneTo > doneFrom) canvas->CopyRect(box(doneFrom, doneTo), to->Canvas(), box(doneFrom, doneTo));
}

// 186 and 187: the right half of the to-picture is laid first; up to half way the from-picture's right
// half folds towards the spine, then the to-picture's left half lands from the spine to the left edge.
void PaintPageFlip(ui::TCanvas* canvas, ui::TBitmap* from, ui::TBitmap* to, const RECT& rect, int progress,
                   bool edgeLine) {
  const Blit b(canvas, to, rect, progress);
  const int W = b.W, H = b.H, hw = W / 2;
  canvas->Pen()->SetColor(ui::clBlack);
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetStyle(ui::psSolid);
  b.Stretch(hw, 0, hw, H, hw, 0, hw, H);
  int x;
  if (progress <= 50) {
    const int d = MulDiv(W, 50 - progress, 100);
    IEStretchBltHalftone(b.dc, hw, 0, d, H, from->Canvas()->GetHandle(), hw, 0, hw, H);
    x = hw + d;
  } else {
    const int d = MulDiv(W, progress - 50, 50) / 2;
    b.Stretch(0, 0, hw, H, hw - d, 0, d, H);
    x = hw - d;
  }
  if (edgeLine) {
    canvas->MoveTo(x, 0);
    canvas->LineTo(x, H);
  }
}

template <int Code>
void RegionPainter(PAINTER_ARGS) {
  (void)from;
  int W, H, sw, sh;
  ScaledTransitionSize(rect, progress, W, H, sw, sh);
  HRGN rgn = CreateTransitionRegion(Code, rect, step, progress, rng, to);
  if (!rgn) return;
  HDC dc = canvas->GetHandle();
  SelectClipRgn(dc, rgn);
  BitBlt(dc, 0, 0, W, H, to->Canvas()->GetHandle(), 0, 0, SRCCOPY);
  SelectClipRgn(dc, nullptr);
  DeleteObject(rgn);
}

}  // namespace

// clang-format off
const TEffect IETransitionEffectTable[kTransitionEffectCount] = {
  {"Cross Fade", nullptr},
  {"Fade Out", nullptr},
  {"Fade In", nullptr},
  {"Fade Out then In", nullptr},
  {"Wipe Left to Right", nullptr},
  {"Wipe Left to Right 2", nullptr},
  {"Wipe Right to Left", nullptr},
  {"Wipe Right to Left 2", nullptr},
  {"Wipe Top to Bottom", nullptr},
  {"Wipe Top to Bottom 2", nullptr},
  {"Wipe Bottom to Top", nullptr},
  {"Wipe Bottom to Top 2", nullptr},
  {"Slide from Top Left", nullptr},
  {"Slide from Top Right", nullptr},
  {"Slide from Bottom Left", nullptr},
  {"Slide from Bottom Right", nullptr},
  {"Push Left to Right", nullptr},
  {"Slide Out Left to Right", nullptr},
  {"Push Right to Left", nullptr},
  {"Slide Out Right to Left", nullptr},
  {"Push Top to Bottom", nullptr},
  {"Slide Out Top to Bottom", nullptr},
  {"Push Bottom to Top", nullptr},
  {"Slide Out Bottom to Top", nullptr},
  {"Random Points", nullptr},
  {"Random Boxes", nullptr},
  {"Wipe Out from Center", nullptr},
  {"Wipe In to Center", nullptr},
  {"Expand Out from Center", nullptr},
  {"Expand In to Center", nullptr},
  {"Expand from Left", BLIT_PAINTER(b.StretchAll(0, 0, sw, H))},
  {"Expand from Right", BLIT_PAINTER(b.StretchAll(W - sw, 0, sw, H))},
  {"Expand from Top", BLIT_PAINTER(b.StretchAll(0, 0, W, sh))},
  {"Expand from Bottom", BLIT_PAINTER(b.StretchAll(0, H - sh, W, sh))},
  {"Expand from Top Left", BLIT_PAINTER(b.StretchAll(0, 0, sw, sh))},
  {"Expand from Top Right", BLIT_PAINTER(b.StretchAll(W - sw, 0, sw, sh))},
  {"Expand from Bottom Left", BLIT_PAINTER(b.StretchAll(0, H - sh, sw, sh))},
  {"Expand from Bottom Right", BLIT_PAINTER(b.StretchAll(W - sw, H - sh, sw, sh))},
  {"Expand in from Left", BLIT_PAINTER(b.Stretch(W - sw, 0, sw, H, sw - W, 0, 2 * W - sw, H))},
  {"Expand in from Right", BLIT_PAINTER(b.Stretch(0, 0, sw, H, 0, 0, 2 * W - sw, H))},
  {"Expand in from Top", BLIT_PAINTER(b.Stretch(0, H - sh, W, sh, 0, sh - H, W, 2 * H - sh))},
  {"Expand in from Bottom", BLIT_PAINTER(b.Stretch(0, 0, W, sh, 0, 0, W, 2 * H - sh))},
  {"Expand in to Vertical Center", BLIT_PAINTER(b.Stretch((W - sw) / 2, 0, sw, H, sw - W, 0, 3 * W - 2 * sw, H))},
  {"Expand in to Horizon", BLIT_PAINTER(b.Stretch(0, (H - sh) / 2, W, sh, 0, sh - H, W, 3 * H - 2 * sh))},
  {"Expand in from Sides", BLIT_PAINTER(b.Stretch(0, 0, W / 2, H, 0, 0, sw / 2, H); b.Stretch(W / 2, 0, W / 2, H, W - sw / 2, 0, sw / 2, H))},
  {"Expand in from Top and Bottom", BLIT_PAINTER(b.Stretch(0, 0, W, H / 2, 0, 0, W, sh / 2); b.Stretch(0, H / 2, W, H / 2, 0, H - sh / 2, W, sh / 2))},
  {"Expand out from Horizon", BLIT_PAINTER(b.StretchAll(0, (H - sh) / 2, W, sh))},
  {"Expand out from Vertical Center", BLIT_PAINTER(b.StretchAll((W - sw) / 2, 0, sw, H))},
  {"Wipe from Top Left", BLIT_PAINTER(b.InPlace(0, 0, sw, sh))},
  {"Wipe from Top Right", BLIT_PAINTER(b.InPlace(W - sw, 0, sw, sh))},
  {"Wipe from Bottom Left", BLIT_PAINTER(b.InPlace(0, H - sh, sw, sh))},
  {"Wipe from Bottom Right", BLIT_PAINTER(b.InPlace(W - sw, H - sh, sw, sh))},
  {"Wipe in from Top and Bottom", BLIT_PAINTER(b.InPlace(0, 0, W, sh / 2); b.InPlace(0, H - sh / 2, W, sh / 2))},
  {"Wipe from Horizon", BLIT_PAINTER(b.InPlace(0, (H - sh) / 2, W, sh))},
  {"Wipe in from Sides", BLIT_PAINTER(b.InPlace(0, 0, sw / 2, H); b.InPlace(W - sw / 2, 0, sw / 2, H))},
  {"Wipe out from Vertical Center", BLIT_PAINTER(b.InPlace((W - sw) / 2, 0, sw, H))},
  {"Build up from Left", BLIT_PAINTER(b.InPlace(W - sw, 0, sw, H); const int xs = std::max(W - sw - W / 10, 0); b.Stretch(xs, 0, W - sw - xs, H, 0, 0, W - sw, H))},
  {"Build up from Right", BLIT_PAINTER(b.InPlace(0, 0, sw, H); b.Stretch(sw, 0, std::min(W - sw, W / 10), H, sw, 0, W - sw, H))},
  {"Build up from Top", BLIT_PAINTER(b.InPlace(0, H - sh, W, sh); const int ys = std::max(H - sh - H / 10, 0); b.Stretch(0, ys, W, H - sh - ys, 0, 0, W, H - sh))},
  {"Build up from Bottom", BLIT_PAINTER(b.InPlace(0, 0, W, sh); b.Stretch(0, sh, W, std::min(H - sh, H / 10), 0, sh, W, H - sh))},
  {"Unroll from Left", [](PAINTER_ARGS) { (void)from, (void)step, (void)rng; Unroll(canvas, to, rect, progress, true, false); }},
  {"Unroll from Right", [](PAINTER_ARGS) { (void)from, (void)step, (void)rng; Unroll(canvas, to, rect, progress, true, true); }},
  {"Unroll from Top", [](PAINTER_ARGS) { (void)from, (void)step, (void)rng; Unroll(canvas, to, rect, progress, false, false); }},
  {"Unroll from Bottom", [](PAINTER_ARGS) { (void)from, (void)step, (void)rng; Unroll(canvas, to, rect, progress, false, true); }},
  {"Slide in from Left", BLIT_PAINTER(b.BlitAt(sw - W, 0))},
  {"Slide in from Right", BLIT_PAINTER(b.BlitAt(W - sw, 0))},
  {"Slide in from Top", BLIT_PAINTER(b.BlitAt(0, sh - H))},
  {"Slide in from Bottom", BLIT_PAINTER(b.BlitAt(0, H - sh))},
  {"Shrink to Top Left", BLIT_PAINTER(b.Stretch(0, 0, sw, sh, 0, 0, 2 * W - sw, 2 * H - sh))},
  {"Shrink to Top Right", BLIT_PAINTER(b.Stretch(W - sw, 0, sw, sh, sw - W, 0, 2 * W - sw, 2 * H - sh))},
  {"Shrink to Bottom Left", BLIT_PAINTER(b.Stretch(0, H - sh, sw, sh, 0, sh - H, 2 * W - sw, 2 * H - sh))},
  {"Shrink to Bottom Right", BLIT_PAINTER(b.Stretch(W - sw, H - sh, sw, sh, sw - W, sh - H, 2 * W - sw, 2 * H - sh))},
  {"Shrink to Center", BLIT_PAINTER(b.Stretch((W - sw) / 2, (H - sh) / 2, sw, sh, sw - W, sh - H, 3 * W - 2 * sw, 3 * H - 2 * sh))},
  {"Quarters Wipe in to Center", BLIT_PAINTER(const int a = sw / 2, c = sh / 2; b.InPlace(0, 0, a, c); b.InPlace(0, H - c, a, c); b.InPlace(W - a, H - c, a, c); b.InPlace(W - a, 0, a, c))},
  {"Quarters Expand to Center", BLIT_PAINTER(const int a = sw / 2, c = sh / 2, hw = W / 2, hh = H / 2; b.Stretch(0, 0, hw, hh, 0, 0, a, c); b.Stretch(0, hh, hw, hh, 0, H - c, a, c); b.Stretch(hw, hh, hw, hh, W - a, H - c, a, c); b.Stretch(hw, 0, hw, hh, W - a, 0, a, c))},
  {"Quarters Slide in to Center", BLIT_PAINTER(const int a = sw / 2, c = sh / 2, hw = W / 2, hh = H / 2; b.Copy(0, 0, hw, hh, a - hw, 0); b.Copy(hw, 0, hw, hh, hw, c - hh); b.Copy(hw, hh, hw, hh, W - a, hh); b.Copy(0, hh, hw, hh, 0, H - c))},
  {"Curved Wipe from Left", RegionPainter<77>},
  {"Curved Wipe from Right", RegionPainter<78>},
  {"Curved Wipe from Top", RegionPainter<79>},
  {"Curved Wipe from Bottom", RegionPainter<80>},
  {"Curved Wipe from Top Left", RegionPainter<81>},
  {"Curved Wipe from Top Right", RegionPainter<82>},
  {"Curved Wipe from Bottom Left", RegionPainter<83>},
  {"Curved Wipe from Bottom Right", RegionPainter<84>},
  {"Bars in from Left", RegionPainter<85>},
  {"Bars in from Right", RegionPainter<86>},
  {"Bars from Top", RegionPainter<87>},
  {"Bars from Bottom", RegionPainter<88>},
  {"Bars Left then Right", RegionPainter<89>},
  {"Bars Right then Left", RegionPainter<90>},
  {"Bars Top then Bottom", RegionPainter<91>},
  {"Bars Bottom then Top", RegionPainter<92>},
  {"Bars from both Sides", RegionPainter<93>},
  {"Bars from Top and Bottom", RegionPainter<94>},
  {"Shredded from Left", RegionPainter<95>},
  {"Shredded from Right", RegionPainter<96>},
  {"Shredded from Top", RegionPainter<97>},
  {"Shredded from Bottom", RegionPainter<98>},
  {"Shredded from Top and Left", RegionPainter<99>},
  {"Shredded from Top and Right", RegionPainter<100>},
  {"Shredded from Bottom and Left", RegionPainter<101>},
  {"Shredded from Bottom and Right", RegionPainter<102>},
  {"Shredded from Horizon and Left", RegionPainter<103>},
  {"Shredded from Horizon and Right", RegionPainter<104>},
  {"Shredded from Top and Vertical Center", RegionPainter<105>},
  {"Shredded from Bottom and Vertical Center", RegionPainter<106>},
  {"Shredded from Center", RegionPainter<107>},
  {"Shredded to Center", RegionPainter<108>},
  {"Shredded in to Horizon", RegionPainter<109>},
  {"Shredded in to Vertical Center", RegionPainter<110>},
  {"Shredded out from Horizon", RegionPainter<111>},
  {"Shredded out from Vertical Center", RegionPainter<112>},
  {"Expanding Rectangles", RegionPainter<113>},
  {"Expanding Triangles", RegionPainter<114>},
  {"Expanding Circles", RegionPainter<115>},
  {"Expanding Diamonds", RegionPainter<116>},
  {"Circular Wipe from Center", RegionPainter<117>},
  {"Circular Wipe to Center", RegionPainter<118>},
  {"Crisscross Wipe from Top Left", RegionPainter<119>},
  {"Crisscross Wipe from Top Right", RegionPainter<120>},
  {"Crisscross Wipe from Bottom Left", RegionPainter<121>},
  {"Crisscross Wipe from Bottom Right", RegionPainter<122>},
  {"Crisscross Wipe Bounce from Top Left", RegionPainter<123>},
  {"Crisscross Wipe Bounce from Top Right", RegionPainter<124>},
  {"Crisscross Wipe Bounce from Bottom Left", RegionPainter<125>},
  {"Crisscross Wipe Bounce from Bottom Right", RegionPainter<126>},
  {"Crisscross Wipe from Left Right and Top", RegionPainter<127>},
  {"Crisscross Wipe from Left Right and Bottom", RegionPainter<128>},
  {"Crisscross Wipe from Left Top and Bottom", RegionPainter<129>},
  {"Crisscross Wipe from Top Left Right and Bottom", RegionPainter<130>},
  {"Crisscross Wipe from Right Top and Bottom", RegionPainter<131>},
  {"Crisscross Wipe from Bottom Left Top Right", RegionPainter<132>},
  {"Wipe diagonal from Top Left", RegionPainter<133>},
  {"Wipe diagonal from Top Right", RegionPainter<134>},
  {"Wipe diagonal from Bottom Left", RegionPainter<135>},
  {"Wipe diagonal from Bottom Right", RegionPainter<136>},
  {"Diagonal Sweep Clockwise", RegionPainter<137>},
  {"Diagonal Sweep Counter-Clockwise", RegionPainter<138>},
  {"Sweep Clockwise", RegionPainter<139>},
  {"Sweep Counter-Clockwise", RegionPainter<140>},
  {"Starburst Clockwise", RegionPainter<141>},
  {"Starburst Counter-Clockwise", RegionPainter<142>},
  {"Rotational Rectangle Clockwise", RegionPainter<143>},
  {"Rotational Rectangle Counter-Clockwise", RegionPainter<144>},
  {"Rotational Star Clockwise", RegionPainter<145>},
  {"Rotational Star Counter-Clockwise", RegionPainter<146>},
  {"Speckled Wipe from Left", RegionPainter<147>},
  {"Speckled Wipe from Right", RegionPainter<148>},
  {"Speckled Wipe from Top", RegionPainter<149>},
  {"Speckled Wipe from Bottom", RegionPainter<150>},
  {"Push Left and Slide out", BLIT_PAINTER(b.MoveFrame(sw, 0, W - sw, H, 0, 0); b.Copy(0, 0, sw, H, W - sw, 0))},
  {"Push Right and Slide out", BLIT_PAINTER(b.MoveFrame(0, 0, W - sw, H, sw, 0); b.Copy(W - sw, 0, sw, H, 0, 0))},
  {"Push up and Slide out", BLIT_PAINTER(b.MoveFrame(0, sh, W, H - sh, 0, 0); b.Copy(0, 0, W, sh, 0, H - sh))},
  {"Push down and Slide out", BLIT_PAINTER(b.MoveFrame(0, 0, W, H - sh, 0, sh); b.Copy(0, H - sh, W, sh, 0, 0))},
  {"Push and Squeeze Left", BLIT_PAINTER(b.SqueezeFrame(0, 0, W - sw, H); b.Copy(0, 0, sw, H, W - sw, 0))},
  {"Push and Squeeze Right", BLIT_PAINTER(b.SqueezeFrame(sw, 0, W - sw, H); b.Copy(W - sw, 0, sw, H, 0, 0))},
  {"Push and Squeeze up", BLIT_PAINTER(b.SqueezeFrame(0, 0, W, H - sh); b.Copy(0, 0, W, sh, 0, H - sh))},
  {"Push and Squeeze down", BLIT_PAINTER(b.SqueezeFrame(0, sh, W, H - sh); b.Copy(0, H - sh, W, sh, 0, 0))},
  {"Horizontal Blinds", RegionPainter<159>},
  {"Vertical Blinds", RegionPainter<160>},
  {"Uneven Blinds from Left", RegionPainter<161>},
  {"Uneven Blinds from Right", RegionPainter<162>},
  {"Uneven Blinds from Top", RegionPainter<163>},
  {"Uneven Blinds from Bottom", RegionPainter<164>},
  {"Rectangles from the Left", RegionPainter<165>},
  {"Rectangles from the Right", RegionPainter<166>},
  {"Rectangles from the Top", RegionPainter<167>},
  {"Rectangles from the Bottom", RegionPainter<168>},
  {"Spiralling Rectangle Clockwise", RegionPainter<169>},
  {"Spiralling Rectangle Counter-Clockwise", RegionPainter<170>},
  {"Arrow Wipe from Left", RegionPainter<171>},
  {"Arrow Wipe from Right", RegionPainter<172>},
  {"Arrow Wipe from Top", RegionPainter<173>},
  {"Arrow Wipe from Bottom", RegionPainter<174>},
  {"Horizontal Bow Tie Wipe", RegionPainter<175>},
  {"Vertical Bow Tie Wipe", RegionPainter<176>},
  {"Diagonal Cross from Center", RegionPainter<177>},
  {"Diagonal Cross to Center", RegionPainter<178>},
  {"Zigzag Wipe from Horizon", RegionPainter<179>},
  {"Zigzag Wipe from Vertical Center", RegionPainter<180>},
  {"Diamond Wipe from Center", RegionPainter<181>},
  {"Diamond Wipe to Center", RegionPainter<182>},
  {"Diagonal Box Wipe", RegionPainter<183>},
  {"Triangular Wipe", RegionPainter<184>},
  {"Random Big Boxes", RegionPainter<185>},
  {"Page Flip", [](PAINTER_ARGS) { (void)step, (void)rng; PaintPageFlip(canvas, from, to, rect, progress, false); }},
  {"Page Flip 2", [](PAINTER_ARGS) { (void)step, (void)rng; PaintPageFlip(canvas, from, to, rect, progress, true); }},
};
// clang-format on

void PaintTransitionEffect(int code, ui::TCanvas* canvas, ui::TBitmap* from, ui::TBitmap* to, const RECT& rect,
                           int step, int progress, TIERandom& rng) {
  if (code < kFirstTablePainter || code > kTransitionEffectCount) return;
  IETransitionEffectTable[code - 1].Proc(canvas, from, to, rect, step, progress, rng);
  if (progress >= 100)
    BitBlt(canvas->GetHandle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
           to->Canvas()->GetHandle(), 0, 0, SRCCOPY);
}
