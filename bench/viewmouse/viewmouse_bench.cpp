// One step of a rectangle drag, to the screen: a 4000 x 3000 photograph in a 1920 x 1080 view, fitted
// and at 1:1, the left button held in the selection mode while the mouse moves 200 times; each step
// is the mouse-move handling (the rubber band) plus the repaint it asks for, flushed to the window.
// Target: under 16 ms a step. Needs a display: xvfb-run -a bash bench/run.sh viewmouse
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "ieviewglobals.h"
#include "imageryview.h"
#include "uiforms.h"
#include "vodevovur.h"

using namespace ui;

namespace {
void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void DragSteps(TImageryView* view, const char* label, int rounds) {
  const HWND h = view->GetHandle();
  constexpr int kSteps = 200;
  std::vector<double> steps(kSteps);
  double best = 1e9, median = 0, worst = 0;
  for (int r = 0; r < rounds; ++r) {
    view->Deselect();
    Pump();
    SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
    const double t0 = BenchNow();
    for (int i = 0; i < kSteps; ++i) {
      const double s0 = BenchNow();
      SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(110 + i * 8, 105 + i * 4));
      UpdateWindow(h);
      GdiFlush();
      steps[size_t(i)] = BenchNow() - s0;
    }
    const double mean = (BenchNow() - t0) / kSteps;
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(110 + kSteps * 8, 105 + kSteps * 4));
    if (mean < best) {
      best = mean;
      std::vector<double> sorted = steps;
      std::sort(sorted.begin(), sorted.end());
      median = sorted[kSteps / 2];
      worst = sorted[kSteps - 1];
    }
  }
  std::printf("rectangle drag step, %-4s %8.3f ms mean, %.3f median, %.2f worst  (zoom %.1f %%, best of %d; %d points)\n",
              label, best * 1000, median * 1000, worst * 1000, view->GetZoom(), rounds, view->GetSelectionPolygonCount());
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBounds(0, 0, 1960, 1140);
  TImageryView* view = New<TImageryView>(form);
  view->SetParent(form);
  view->SetBounds(0, 0, 1920 + IEScrollBarX, 1080 + IEScrollBarY);
  form->Show();
  BenchMakePhoto(*view->GetIEBitmap(), 4000, 3000);
  view->UpdateView();
  view->SetMouseInteractValue(IEMouseBit(miSelect));
  Pump();
  view->SetZoom(view->GetFitZoom());
  Pump();
  DragSteps(view, "fit", rounds);
  view->SetZoom(100);
  Pump();
  DragSteps(view, "1:1", rounds);
  form->Free();
  IELibraryStaticFini();
  return 0;
}
