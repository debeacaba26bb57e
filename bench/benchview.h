// What the view benchmarks share: a shown form holding a 1920 x 1080 view (both scroll bars
// outside that area), a message pump, and the figures of a run of timed steps.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

#include "ieviewglobals.h"
#include "imageryview.h"
#include "uiforms.h"

// Dispatches whatever is queued, without waiting.
inline void BenchPump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// A form at the screen's corner with a view whose client area is 1920 x 1080, shown; freeing the
// form frees the view.
struct BenchViewForm {
  ui::TForm* form = nullptr;
  TImageryView* view = nullptr;
};

inline BenchViewForm BenchShowView() {
  BenchViewForm f;
  f.form = ui::TCustomForm::CreateNew<ui::TForm>(nullptr);
  f.form->SetBounds(0, 0, 1960, 1140);
  f.view = ui::New<TImageryView>(f.form);
  f.view->SetParent(f.form);
  f.view->SetBounds(0, 0, 1920 + IEScrollBarX, 1080 + IEScrollBarY);
  f.form->Show();
  return f;
}

// The round with the lowest mean step time, with its median and slowest step (seconds).
struct BenchSteps {
  double best = 1e9, median = 0, worst = 0;
  // Takes one round's step times, whose total was `total`.
  void Round(const std::vector<double>& steps, double total) {
    const double mean = total / double(steps.size());
    if (mean >= best) return;
    best = mean;
    std::vector<double> sorted = steps;
    std::sort(sorted.begin(), sorted.end());
    median = sorted[sorted.size() / 2];
    worst = sorted.back();
  }
};
