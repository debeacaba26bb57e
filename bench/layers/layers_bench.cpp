// A view's repaint and layer compositing. Repaint: a 1920 x 1080 view on a form showing a 4000 x 3000
// layer at 100 %, 33 % and 300 %, without and with a zoom filter; every frame recomposes the back
// buffer and copies it to the window (needs a display: xvfb-run bench/run.sh layers). Compositing: four
// 1920 x 1080 layers with alpha ramps merged at 100 % (DrawLayersTo); compare.sh has vips composite
// the same four layers (over, one thread). Frames per second, best of several rounds.
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>

#include "benchcommon.h"
#include "iebitmap.h"
#include "ielayer.h"
#include "ieresample.h"
#include "imageryview.h"
#include "uiforms.h"
#include "vodevovur.h"

namespace {

const int kViewW = 1920, kViewH = 1080;

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The four layers compare.sh builds: layer k a flat colour with alpha rising left to right.
void FourLayers(TImageryView* view) {
  TIEBitmap* base = view->GetIEBitmap();
  BenchMakePhoto(*base, kViewW, kViewH);
  for (int k = 1; k <= 3; ++k) {
    TIELayer* l = view->GetLayer(view->AddLayer());
    l->Bitmap->Fill(double(RGB(60 * k, 200 - 50 * k, 90)));
    TIEBitmap* a = l->Bitmap->GetAlphaChannel();
    for (int y = 0; y < kViewH; ++y) {
      uint8_t* row = a->GetRowAddress(y);
      for (int x = 0; x < kViewW; ++x) row[x] = uint8_t((x * 255 / kViewW + 40 * k) % 256);
    }
    a->IsAll255 = false;
  }
  view->SetCurrentLayer(0);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  ui::Application->Initialize();
  auto* form = ui::TCustomForm::CreateNew<ui::TForm>(nullptr);
  form->SetBorderStyle(ui::bsNone);
  form->SetBounds(0, 0, kViewW, kViewH);
  auto* view = ui::New<TImageryView>(form);
  view->SetParent(form);
  view->SetBorderStyleValue(ui::bsNone);
  view->SetBounds(0, 0, kViewW, kViewH);
  view->GetIEBitmap()->SetMemoryThreshold(int64_t(1) << 40);
  BenchMakePhoto(*view->GetIEBitmap(), 4000, 3000);
  view->UpdateView();
  form->Show();
  Pump();

  struct Case {
    const char* name;
    double zoom;
    TResampleFilter filter;
  };
  const Case cases[] = {{"4000 x 3000 at 100 %", 100, rfNone}, {"4000 x 3000 at 33 %", 33, rfNone},
                        {"4000 x 3000 at 300 %", 300, rfNone}, {"4000 x 3000 at 100 %, filter", 100, rfFastLinear},
                        {"4000 x 3000 at 33 %, filter", 33, rfFastLinear},
                        {"4000 x 3000 at 300 %, filter", 300, rfFastLinear}};
  for (const Case& c : cases) {
    view->SetZoom(c.zoom);
    view->SetZoomFilterValue(c.filter);
    Pump();
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
      const double t0 = BenchNow();
      for (int i = 0; i < 10; ++i) {
        view->InvalidateRectDirty(nullptr);
        UpdateWindow(view->GetHandle());
      }
      best = std::min(best, (BenchNow() - t0) / 10);
    }
    std::printf("%-34s view: %7.2f ms per repaint, %6.1f frames/s (best of %d)\n", c.name, best * 1000, 1 / best,
                rounds);
  }

  view->SetZoom(100);
  view->SetZoomFilterValue(rfNone);
  FourLayers(view);
  TIEBitmap merged;
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    for (int i = 0; i < 10; ++i) view->DrawLayersTo(&merged);
    best = std::min(best, (BenchNow() - t0) / 10);
  }
  std::printf("%-34s view: %7.2f ms per merge (best of %d)\n", "four alpha layers 1920 x 1080", best * 1000, rounds);
  form->Free();
  IELibraryStaticFini();
  return 0;
}
