#include "ietransitions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "iebitmap.h"
#include "iebitmaprender.h"
#include "ieplatformbitmap.h"
#include "iestretchblt.h"
#include "ietransitiontable.h"
#include "ieutils.h"
#include "uibitmap.h"
#include "uiforms.h"

namespace {
constexpr int kLastBuiltInEffect = 30;
constexpr int kRandomBoxSize = 8;
constexpr ui::TColor kWipeLineColour = 255;  // red

// Halves to even, as the positions and progress values are rounded.
int RoundEven(double v) { return int(std::lrint(v)); }
// The floor of a x b / 1024 for the non-negative products of the 10-bit fixed-point scale.
int Scale(int a, int b) { return int((uint32_t(a) * uint32_t(b)) >> 10); }
}  // namespace

TIETransitionEffects::TIETransitionEffects(TIEView* owner) : Owner(owner) {
  for (ui::TBitmap** b : {&FromBitmap, &ToBitmap, &FrameBitmap}) {
    *b = new ui::TBitmap();
    (*b)->SetPixelFormat(ui::pf24bit);
    (*b)->SetSize(1, 1);
  }
  Timer = ui::New<ui::TTimer>(owner);
  Timer->SetEnabled(false);
  Timer->OnTimer = [this](ui::TObject*) { TimerStep(); };
  Timer->SetInterval(1);
}

TIETransitionEffects::~TIETransitionEffects() {
  Timer->Free();
  delete FromBitmap;
  delete ToBitmap;
  delete FrameBitmap;
}

// ---- run ----

void TIETransitionEffects::SizeBitmaps(int width, int height) {
  for (ui::TBitmap* b : {FromBitmap, ToBitmap, FrameBitmap}) {
    b->SetPixelFormat(ui::pf24bit);
    b->SetWidth(width);
    b->SetHeight(height);
  }
  FrameWidth = width;
  FrameHeight = height;
}

void TIETransitionEffects::BuildRowTables() {
  GdiFlush();
  FromRows.resize(size_t(FrameHeight));
  ToRows.resize(size_t(FrameHeight));
  FrameRows.resize(size_t(FrameHeight));
  for (int i = 0; i < FrameHeight; ++i) {
    FromRows[size_t(i)] = static_cast<uint8_t*>(FromBitmap->ScanLine(i));
    ToRows[size_t(i)] = static_cast<uint8_t*>(ToBitmap->ScanLine(i));
    FrameRows[size_t(i)] = static_cast<uint8_t*>(FrameBitmap->ScanLine(i));
  }
}

bool TIETransitionEffects::Start(ui::TBitmap* fromPicture, ui::TBitmap* toPicture, uint8_t effect, int width,
                                 int height) {
  if (effect == 0 || effect > kPanZoomEffect) return false;
  if (effect == kPanZoomEffect ? PanZoomBitmap == nullptr : (fromPicture == nullptr || toPicture == nullptr))
    return false;
  if (width <= 0) width = Owner->GetClientWidth();
  if (height <= 0) height = Owner->GetClientHeight();
  if (width <= 0 || height <= 0) return false;
  if (Running) Stop();

  SizeBitmaps(width, height);
  const RECT all{0, 0, width, height};
  for (ui::TBitmap* b : {FromBitmap, ToBitmap, FrameBitmap}) {
    b->Canvas()->Brush()->SetStyle(ui::bsSolid);
    b->Canvas()->Brush()->SetColor(Owner->GetBackground());
    b->Canvas()->FillRect(all);
  }
  if (fromPicture) FromBitmap->Canvas()->Draw(0, 0, fromPicture);
  if (toPicture) ToBitmap->Canvas()->Draw(0, 0, toPicture);
  BuildRowTables();

  Effect = effect;
  if (Duration < 1) Duration = 1;
  Position = 0;
  RandomCount = 0;
  FrameCount = 0;
  StartTick = GetTickCount();
  Owner->SuspendPainting();
  Running = true;
  Timer->SetEnabled(true);
  return true;
}

void TIETransitionEffects::Stop() {
  if (!Running || Effect == 0) return;
  Timer->SetEnabled(false);
  Running = false;
  for (ui::TBitmap* b : {FrameBitmap, FromBitmap, ToBitmap}) {
    b->SetWidth(1);
    b->SetHeight(1);
  }
  // The tables pointed into the bitmaps just shrunk: the next run builds its own.
  FromRows.clear();
  ToRows.clear();
  FrameRows.clear();
  FrameWidth = FrameHeight = 1;
  Owner->ResumePaintingQuietly();
  if (UpdateOnStop) Owner->UpdateView();
  if (OnTransitionStop) OnTransitionStop(Owner);
}

int TIETransitionEffects::TimingPosition(uint8_t timing, double t, int current) {
  double p;
  switch (timing) {
    case 0: p = t * 1024; break;
    case 1: p = std::exp(5 * t - 2.718) / 10 * 1024; break;
    // The logarithm has no value at 0 and falls below 0 for t under about 0.0066: both give 0.
    case 2: p = t > 0 ? (std::log(10 * t) + 2.718) / 5 * 1024 : 0; break;
    default: p = current;
  }
  return int(std::clamp(std::trunc(p), 0.0, double(kTransitionFullPosition)));
}

void TIETransitionEffects::CopyFrameToView(ui::TBitmap* bitmap) {
  if (!Owner->HandleAllocated()) return;
  BitBlt(Owner->GetCanvas()->GetHandle(), 0, 0, FrameWidth, FrameHeight, bitmap->Canvas()->GetHandle(), 0, 0,
         SRCCOPY);
}

void TIETransitionEffects::TimerStep() {
  if (!Running) return;
  if (OnTransitionStep) OnTransitionStep(Owner, Position);
  // A handler may have stopped the run, and with it shrunk the bitmaps.
  if (!Running) return;
  ++FrameCount;
  PaintFrame(Position);
  CopyFrameToView(FrameBitmap);
  if (OnTransitionPaint) OnTransitionPaint(Owner, FrameBitmap, this, Position);
  if (!Running) return;
  const DWORD elapsed = GetTickCount() - StartTick;
  if (elapsed >= DWORD(Duration)) {
    if (UpdateOnStop && Effect != kPanZoomEffect) {
      CopyFrameToView(ToBitmap);
      if (OnTransitionPaint) OnTransitionPaint(Owner, ToBitmap, this, kTransitionFullPosition);
    }
    Stop();
    return;
  }
  Position = TimingPosition(Timing, double(elapsed) / Duration, Position);
}

// ---- frames ----

void TIETransitionEffects::PaintFrame(int position) {
  if (!Running) return;
  Position = std::clamp(position, 0, kTransitionFullPosition);
  if (Effect <= kLastBuiltInEffect) {
    // Random points and boxes leave a few pixels unpicked and the lines of the wipes at the far
    // edge would stay on the picture: a finished built-in effect shows the to-picture (the
    // background for the fade out).
    if (Position == kTransitionFullPosition && Effect != 2) {
      GdiFlush();
      const size_t rowBytes = size_t(FrameBitmap->BytesPerLine());
      for (int i = 0; i < FrameHeight; ++i) std::memcpy(FrameRows[size_t(i)], ToRows[size_t(i)], rowBytes);
    } else {
      PaintBuiltIn(Effect, Position);
    }
  } else if (Effect == kPanZoomEffect) {
    PaintPanZoom(Position);
  } else {
    PaintTableEffect(Effect, Position);
  }
  GdiFlush();
}

void TIETransitionEffects::PaintTableEffect(int code, int position) {
  if (position == 0) {
    GdiFlush();
    // A copy of the pixels: the frame keeps its bitmap, so the row tables stay valid.
    const size_t rowBytes = size_t(FrameBitmap->BytesPerLine());
    for (int i = 0; i < FrameHeight; ++i) std::memcpy(FrameRows[size_t(i)], FromRows[size_t(i)], rowBytes);
    return;
  }
  if (code < kFirstTablePainter || code > kTransitionEffectCount) return;
  HDC dc = FrameBitmap->Canvas()->GetHandle();
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  const int progress = RoundEven(position / 1024.0 * 100);
  PaintTransitionEffect(code, FrameBitmap->Canvas(), FromBitmap, ToBitmap,
                        RECT{0, 0, FrameBitmap->GetWidth(), FrameBitmap->GetHeight()}, 1, progress, Rng);
}

void TIETransitionEffects::PaintFade(int p, bool towardsBackground) {
  const TIERGB bg = IEColorToRGB(TColor(Owner->GetBackground()));
  const std::vector<uint8_t*>& src = towardsBackground ? FromRows : ToRows;
  // Fade out weighs the background by p, fade in by 1024 - p.
  const uint32_t wb = towardsBackground ? uint32_t(p) : uint32_t(1024 - p), ws = 1024 - wb;
  const uint32_t b = bg.b * wb, g = bg.g * wb, r = bg.r * wb;
  for (int i = 0; i < FrameHeight; ++i) {
    const uint8_t* s = src[size_t(i)];
    uint8_t* d = FrameRows[size_t(i)];
    for (int x = 0; x < FrameWidth; ++x, s += 3, d += 3) {
      d[0] = uint8_t((b + s[0] * ws) >> 10);
      d[1] = uint8_t((g + s[1] * ws) >> 10);
      d[2] = uint8_t((r + s[2] * ws) >> 10);
    }
  }
}

void TIETransitionEffects::PaintBuiltIn(int code, int p) {
  const int W = FrameWidth, H = FrameHeight;
  ui::TCanvas* canvas = FrameBitmap->Canvas();
  HDC dc = canvas->GetHandle(), to = ToBitmap->Canvas()->GetHandle(), from = FromBitmap->Canvas()->GetHandle();
  auto inPlace = [&](int x, int y, int w, int h) { BitBlt(dc, x, y, w, h, to, x, y, SRCCOPY); };
  // The line marks the moving edge: at the start and the end there is none (at position 0 it would lie
  // on the from-picture's first column or row).
  auto line = [&](int x0, int y0, int x1, int y1) {
    if (p == 0) return;
    canvas->Pen()->SetColor(kWipeLineColour);
    canvas->MoveTo(x0, y0);
    canvas->LineTo(x1, y1);
  };
  const bool fromAtZero = (code >= 5 && code <= 16) || code == 27 || code == 29;
  if (fromAtZero && p == 0) BitBlt(dc, 0, 0, W, H, from, 0, 0, SRCCOPY);
  const int cx = W >> 1, cy = H >> 1;
  GdiFlush();
  switch (code) {
    case 1:
      for (int i = 0; i < H; ++i) {
        const uint8_t *f = FromRows[size_t(i)], *t = ToRows[size_t(i)];
        uint8_t* d = FrameRows[size_t(i)];
        for (int x = 0; x < W * 3; ++x) d[x] = uint8_t((f[x] * uint32_t(1024 - p) + t[x] * uint32_t(p)) >> 10);
      }
      break;
    case 2: PaintFade(p, true); break;
    case 3: PaintFade(p, false); break;
    case 4:
      if (p < 512) PaintFade(2 * p, true);
      else PaintFade(2 * p - 1024, false);
      break;
    case 5:
    case 6:
      inPlace(0, 0, Scale(p, W), H);
      if (code == 6) line(Scale(p, W), 0, Scale(p, W), H);
      break;
    case 7:
    case 8: {
      const int x = RoundEven(W * (1024 - p) / 1024.0);
      inPlace(x, 0, RoundEven(p * W / 1024.0), H);
      if (code == 8) line(x, 0, x, H);
      break;
    }
    case 9:
    case 10: {
      const int y = RoundEven(p * H / 1024.0);
      inPlace(0, 0, W, y);
      if (code == 10) line(0, y, W, y);
      break;
    }
    case 11:
    case 12: {
      const int y = RoundEven(H * (1024 - p) / 1024.0);
      inPlace(0, y, W, RoundEven(p * H / 1024.0));
      if (code == 12) line(0, y, W, y);
      break;
    }
    case 13:
    case 14:
    case 15:
    case 16: {
      const int dx = Scale(1024 - p, W), dy = Scale(1024 - p, H);
      const int x = code == 13 || code == 15 ? -dx : dx, y = code <= 14 ? -dy : dy;
      BitBlt(dc, x, y, W, H, to, 0, 0, SRCCOPY);
      break;
    }
    case 17: PaintPushColumns(Scale(p, W), true, false); break;
    case 18: PaintPushColumns(Scale(p, W), true, true); break;
    case 19: PaintPushColumns(Scale(1024 - p, W), false, false); break;
    case 20: PaintPushColumns(Scale(1024 - p, W), false, true); break;
    case 21:
    case 22:
    case 23:
    case 24: {
      const size_t rowBytes = size_t(IERowLength(W, 24, 32));
      const bool down = code <= 22;
      const int n = down ? Scale(p, H) : Scale(1024 - p, H);
      for (int i = 0; i < H; ++i) {
        const uint8_t* s;
        if (down) s = i < n ? ToRows[size_t(code == 21 ? H - n + i : i)] : FromRows[size_t(i - n)];
        else s = i < n ? FromRows[size_t(H - n + i)] : ToRows[size_t(code == 23 ? i - n : i)];
        std::memcpy(FrameRows[size_t(i)], s, rowBytes);
      }
      break;
    }
    case 25: PaintRandomPoints(p); break;
    case 26: PaintRandomBoxes(p); break;
    case 27:
      inPlace(cx - Scale(p, cx), cy - Scale(p, cy), Scale(p, W), Scale(p, H));
      break;
    case 28: {
      const int d = 1024 - p, x = cx - Scale(d, cx), y = cy - Scale(d, cy);
      BitBlt(dc, 0, 0, W, H, to, 0, 0, SRCCOPY);
      BitBlt(dc, x, y, Scale(d, W), Scale(d, H), from, x, y, SRCCOPY);
      break;
    }
    case 29:
      IEStretchBltHalftone(dc, cx - Scale(p, cx), cy - Scale(p, cy), Scale(p, W), Scale(p, H), to, 0, 0, W, H);
      break;
    case 30: {
      const int d = 1024 - p;
      BitBlt(dc, 0, 0, W, H, to, 0, 0, SRCCOPY);
      IEStretchBltHalftone(dc, cx - Scale(d, cx), cy - Scale(d, cy), Scale(d, W), Scale(d, H), from, 0, 0, W, H);
      break;
    }
    default: break;
  }
}

// Rows of pushes and slides along x: with toFirst, columns [0, c) come from the to-picture (its last c
// columns for a push, its first for a slide) and [c, W) are the from-picture's first W - c; otherwise
// [0, c) come from the from-picture (its last c for a push, its first for a slide) and [c, W) are the
// to-picture's first W - c.
void TIETransitionEffects::PaintPushColumns(int c, bool toFirst, bool slide) {
  const int W = FrameWidth;
  for (int i = 0; i < FrameHeight; ++i) {
    const uint8_t *f = FromRows[size_t(i)], *t = ToRows[size_t(i)];
    uint8_t* d = FrameRows[size_t(i)];
    const uint8_t* first = toFirst ? t : f;
    const uint8_t* second = toFirst ? f : t;
    std::memcpy(d, first + (slide ? 0 : size_t(W - c) * 3), size_t(c) * 3);
    std::memcpy(d + size_t(c) * 3, second, size_t(W - c) * 3);
  }
}

void TIETransitionEffects::PaintRandomPoints(int p) {
  const int W = FrameWidth;
  if (p == 0) {
    // Bottom-up rows are contiguous: the whole picture is one block from the bottom row on.
    std::memcpy(FrameRows[size_t(FrameHeight - 1)], FromRows[size_t(FrameHeight - 1)],
                size_t(FromBitmap->BytesPerLine()) * size_t(FrameHeight));
    return;
  }
  const int target = RoundEven(double(int64_t(W) * p) * (p / 180.0) / 1024);
  const int fresh = target - RandomCount;
  RandomCount = target;
  for (int i = 0; i < FrameHeight; ++i) {
    const uint8_t* t = ToRows[size_t(i)];
    uint8_t* d = FrameRows[size_t(i)];
    for (int k = 0; k < fresh; ++k) {
      const int x = Rng.Random(W);
      std::memcpy(d + size_t(x) * 3, t + size_t(x) * 3, 3);
    }
  }
}

void TIETransitionEffects::PaintRandomBoxes(int p) {
  HDC dc = FrameBitmap->Canvas()->GetHandle(), to = ToBitmap->Canvas()->GetHandle();
  if (p == 0) {
    BitBlt(dc, 0, 0, FrameWidth, FrameHeight, FromBitmap->Canvas()->GetHandle(), 0, 0, SRCCOPY);
    return;
  }
  const int64_t cells = int64_t(FrameWidth) * FrameHeight / 64;
  const int target = RoundEven(double(cells * p) * (p / 180.0) / 1024);
  const int fresh = target - RandomCount;
  RandomCount = target;
  for (int k = 0; k < fresh; ++k) {
    const int x = Rng.Random(FrameWidth) & ~(kRandomBoxSize - 1);
    const int y = Rng.Random(FrameHeight) & ~(kRandomBoxSize - 1);
    BitBlt(dc, x, y, kRandomBoxSize, kRandomBoxSize, to, x, y, SRCCOPY);
  }
}

void TIETransitionEffects::PaintPanZoom(int position) {
  if (!PanZoomBitmap) return;
  const RECT& S = PanZoomFrom;
  const RECT& E = PanZoomTo;
  auto side = [&](LONG s, LONG e) { return int(std::trunc(s - position * (double(s - e) / 1024))); };
  int x1 = side(S.left, E.left), y1 = side(S.top, E.top);
  int w = side(S.right, E.right) - x1, h = side(S.bottom, E.bottom) - y1;
  const int bw = PanZoomBitmap->GetImageWidth(), bh = PanZoomBitmap->GetImageHeight();
  bool clipped = false;
  if (x1 < 0) w += x1, x1 = 0, clipped = true;
  if (w > bw) w = bw, clipped = true;
  if (y1 < 0) h += y1, y1 = 0, clipped = true;
  if (h > bh) h = bh, clipped = true;
  // A rectangle reaching past the right or bottom edge is cut there as well, and fitted like one cut
  // at the left or top: the renderer is never asked for pixels outside the buffer.
  if (x1 + w > bw) w = bw - x1, clipped = true;
  if (y1 + h > bh) h = bh - y1, clipped = true;

  const int W = FrameWidth, H = FrameHeight;
  int dx = 0, dy = 0, dw = W, dh = H;
  if (clipped) {
    // Fit w x h into the frame keeping its aspect, centred. A rectangle clipped to nothing (or turned
    // inside out) leaves an empty destination: the frame shows only the background.
    dx = dy = dw = dh = 0;
    if (w > 0 && h > 0) {
      const double s = double(w) / W > double(h) / H ? double(W) / w : double(H) / h;
      dw = RoundEven(w * s);
      dh = RoundEven(h * s);
      dx = int(std::trunc(W / 2.0 - dw / 2.0));
      dy = int(std::trunc(H / 2.0 - dh / 2.0));
    }
    Owner->PaintBackgroundTo(FrameBitmap->Canvas(), W, H);
  }
  if (dw <= 0 || dh <= 0 || w <= 0 || h <= 0) return;
  GdiFlush();
  TIETBitmapAdapter frame(FrameBitmap);
  IERenderZoomedIntoPlatformBitmap(PanZoomBitmap, &frame, nullptr, nullptr, dx, dy, dw, dh, x1, y1, w, h, false, false,
                                   255, ieboNormal);
}
