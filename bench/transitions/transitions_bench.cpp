// Time per frame of every transition effect at 1920 x 1080: 65 frames a run (positions 0, 16, ...,
// 1024), median and worst. The two pictures are written to /tmp for compare.sh, which times ffmpeg's
// xfade on them. It makes a view and a timer: run it under a display (xvfb-run -a bench/run.sh transitions).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "benchcommon.h"
#include "iebitmap.h"
#include "ietransitions.h"
#include "ietransitiontable.h"
#include "imageryview.h"
#include "uibitmap.h"
#include "vodevovur.h"

namespace {
constexpr int kW = 1920, kH = 1080;
constexpr double kFrameBudgetMs = 16;

// The benchmark's photograph in a platform bitmap; `inverse` gives the second picture.
std::unique_ptr<ui::TBitmap> Picture(TIEBitmap& photo, bool inverse) {
  auto b = std::make_unique<ui::TBitmap>();
  b->SetPixelFormat(ui::pf24bit);
  b->SetSize(kW, kH);
  for (int y = 0; y < kH; ++y) {
    const uint8_t* s = photo.GetRowAddress(inverse ? kH - 1 - y : y);
    auto* d = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < 3 * kW; ++x) d[x] = inverse ? uint8_t(255 - s[x]) : s[x];
  }
  return b;
}
}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  IELibraryStaticInit();
  TIEBitmap photo;
  BenchMakePhoto(photo, kW, kH);
  auto from = Picture(photo, false), to = Picture(photo, true);
  from->SaveToFile("Z:\\tmp\\tq-transition-from.bmp");
  to->SaveToFile("Z:\\tmp\\tq-transition-to.bmp");

  TImageryView* view = ui::New<TImageryView>(nullptr);
  TIETransitionEffects* fx = view->GetTransitionEffects();
  fx->PanZoomBitmap = &photo;
  fx->PanZoomFrom = RECT{0, 0, kW, kH};
  fx->PanZoomTo = RECT{kW / 2, kH / 2, kW, kH};
  std::printf("%-4s %-44s %9s %9s\n", "code", "effect", "median ms", "worst ms");
  int over = 0;
  double crossFade = 0;
  for (int code = 1; code <= kPanZoomEffect; ++code) {
    if (!fx->Start(from.get(), to.get(), uint8_t(code), kW, kH)) continue;
    std::vector<double> ms;
    for (int p = 0; p <= 1024; p += 16) {
      const double t0 = BenchNow();
      fx->PaintFrame(p);
      ms.push_back((BenchNow() - t0) * 1000);
    }
    fx->Stop();
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2], worst = ms.back();
    if (code == 1) crossFade = median;
    over += worst > kFrameBudgetMs;
    std::printf("%-4d %-44s %9.2f %9.2f%s\n", code,
                code == kPanZoomEffect ? "(pan and zoom)" : IETransitionEffectTable[code - 1].Name, median, worst,
                worst > kFrameBudgetMs ? "  over 16 ms" : "");
  }
  std::printf("effects over %.0f ms a frame at worst: %d; cross fade median %.2f ms a frame\n", kFrameBudgetMs, over,
              crossFade);
  view->Free();
  IELibraryStaticFini();
  return 0;
}
