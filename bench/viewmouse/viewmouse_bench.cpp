// One step of a rectangle drag, to the screen: a 4000 x 3000 photograph in a 1920 x 1080 view, fitted
// and at 1:1, the left button held in the selection mode while the mouse moves 200 times; each step
// is the mouse-move handling (the rubber band) plus the repaint it asks for, flushed to the window.
// Target: under 16 ms a step. Needs a display: xvfb-run -a bash bench/run.sh viewmouse
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "benchview.h"
#include "vodevovur.h"

using namespace ui;

namespace {
void DragSteps(TImageryView* view, const char* label, int rounds) {
  const HWND h = view->GetHandle();
  constexpr int kSteps = 200;
  std::vector<double> steps(kSteps);
  BenchSteps timed;
  for (int r = 0; r < rounds; ++r) {
    view->Deselect();
    BenchPump();
    SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
    const double t0 = BenchNow();
    for (int i = 0; i < kSteps; ++i) {
      const double s0 = BenchNow();
      SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(110 + i * 8, 105 + i * 4));
      UpdateWindow(h);
      GdiFlush();
      steps[size_t(i)] = BenchNow() - s0;
    }
    const double total = BenchNow() - t0;
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(110 + kSteps * 8, 105 + kSteps * 4));
    timed.Round(steps, total);
  }
  std::printf("rectangle drag step, %-4s %8.3f ms mean, %.3f median, %.2f worst  (zoom %.1f %%, best of %d; %d points)\n",
              label, timed.best * 1000, timed.median * 1000, timed.worst * 1000, view->GetZoom(), rounds, view->GetSelectionPolygonCount());
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  const auto [form, view] = BenchShowView();
  BenchMakePhoto(*view->GetIEBitmap(), 4000, 3000);
  view->UpdateView();
  view->SetMouseInteractValue(IEMouseBit(miSelect));
  BenchPump();
  view->SetZoom(view->GetFitZoom());
  BenchPump();
  DragSteps(view, "fit", rounds);
  view->SetZoom(100);
  BenchPump();
  DragSteps(view, "1:1", rounds);
  form->Free();
  IELibraryStaticFini();
  return 0;
}
