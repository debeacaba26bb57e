// The marching ants of a magic-wand selection on a 4000 x 3000 photograph in a 1920 x 1080 view, at
// the fitting zoom and at 1:1 (the border's drawing time and the timer interval it leads to), and one
// step of a rectangle drag shown on the screen. Arguments: rounds, wand tolerance. Needs a display:
// xvfb-run -a bash bench/run.sh selants
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "benchcommon.h"
#include "benchview.h"
#include "iemask.h"
#include "vodevovur.h"

using namespace ui;

namespace {
// Best time of one border, with the interval the timer was given after it.
void TimeAnts(TImageryView* view, const char* label, int rounds) {
  double best = 1e9;
  double last = 0;
  view->AntsClock = [&] { return BenchNow() * 1000; };
  for (int r = 0; r < rounds; ++r) {
    view->AntsPauseCountdown = 0;
    const double t0 = BenchNow();
    view->DrawSelections(view, true);
    GdiFlush();
    last = BenchNow() - t0;
    best = std::min(best, last);
  }
  std::printf("ants border, %-5s %8.2f ms best  (timer %d ms, target: border < 40 ms, timer 210 ms)\n", label,
              best * 1000, view->GetAntsTimerInterval());
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  const auto [form, view] = BenchShowView();
  BenchMakePhoto(*view->GetIEBitmap(), 4000, 3000);
  view->UpdateView();
  view->SetSelectionBase(iesbBitmap);
  view->MagicWandMode = 1;
  view->MagicWandTolerance = argc > 2 ? std::atoi(argv[2]) : 150;
  const double w0 = BenchNow();
  view->SelectMagicWand(2000, 1500, 0);
  const double wand = BenchNow() - w0;
  TIEMask* mask = view->GetSelectionMask();
  std::printf("magic wand fill %8.2f ms, box (%d, %d)-(%d, %d)\n", wand * 1000, mask->BoxX1, mask->BoxY1,
              mask->BoxX2, mask->BoxY2);

  view->ZoomToFit();
  UpdateWindow(view->GetHandle());
  BenchPump();
  TimeAnts(view, "fit", rounds);
  view->SetZoom(100);
  view->SetViewOrigin(1000, 1000);
  UpdateWindow(view->GetHandle());
  BenchPump();
  TimeAnts(view, "1:1", rounds);

  // one rubber-band step: the rectangle follows the mouse and the view shows it
  view->Deselect();
  view->SetSelectionBase(iesbClientArea);
  double best = 1e9;
  for (int r = 0; r < rounds * 10; ++r) {
    const double t0 = BenchNow();
    view->SelectRectInternal(100, 100, 600 + r, 400 + r, 0, false, false);
    view->InvalidateRectDirty(nullptr);
    UpdateWindow(view->GetHandle());
    GdiFlush();
    best = std::min(best, BenchNow() - t0);
  }
  std::printf("rectangle drag step to screen %8.2f ms best  (target < 16 ms)\n", best * 1000);
  view->AntsClock = nullptr;
  form->Free();
  IELibraryStaticFini();
  return 0;
}
