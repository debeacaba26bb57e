// The view's geometry and background: 1,000 mouse-wheel zoom steps (8 % each, in then out) on a
// 4000 x 3000 image in a 1920 x 1080 view with painting suspended, so only the geometry is timed;
// and a full 1920 x 1080 chessboard back buffer. Needs a display: xvfb-run -a bash bench/run.sh viewgeo
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "benchview.h"
#include "iebackground.h"
#include "ieplatformbitmap.h"
#include "uibitmap.h"
#include "vodevovur.h"

using namespace ui;

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  const auto [form, view] = BenchShowView();
  view->GetIEBitmap()->Allocate(4000, 3000, ie24RGB);
  view->UpdateView();
  view->SuspendPainting();
  const HWND h = view->GetHandle();
  BenchSteps wheel;
  std::vector<double> steps(1000);
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    for (int i = 0; i < 1000; ++i) {
      const short delta = (i / 25) % 2 ? -WHEEL_DELTA : WHEEL_DELTA;  // 25 notches in, 25 out
      const double s0 = BenchNow();
      SendMessageW(h, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(960, 540));
      steps[size_t(i)] = BenchNow() - s0;
    }
    wheel.Round(steps, BenchNow() - t0);
  }
  std::printf("wheel zoom step (geometry only)  %8.4f ms mean, %.4f median, %.2f worst  (zoom %.1f %% to %.1f %%, best of %d)\n",
              wheel.best * 1000, wheel.median * 1000, wheel.worst * 1000, 100.0, view->GetZoom(), rounds);
  view->ResumePaintingQuietly();

  TBitmap back;
  back.SetPixelFormat(pf24bit);
  back.SetSize(1920, 1080);
  TIETBitmapAdapter adapter(&back);
  double best = 1e9;
  for (int r = 0; r < rounds * 4; ++r) {
    const double t0 = BenchNow();
    IEDrawBackground(false, back.Canvas(), &adapter, iebsChessboard, 0x808080, 0, 0, 1920, 1080, 0, 0, 0, 0, 16,
                     bsSolid, 0, nullptr, iewoNormal);
    GdiFlush();
    best = std::min(best, BenchNow() - t0);
  }
  std::printf("chessboard back buffer 1920x1080 %8.4f ms  (best of %d)\n", best * 1000, rounds * 4);
  form->Free();
  IELibraryStaticFini();
  return 0;
}
