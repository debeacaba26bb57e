// The vector editor: a 2,000-character memo of mixed formats laid out and drawn at zoom 1 and 2, and
// the objects stream of 10,000 objects saved and loaded. Milliseconds, best of several rounds.
// Targets: the memo under 5 ms, each stream direction under 50 ms.
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "benchcommon.h"
#include "iegdiplus.h"
#include "iestreams.h"
#include "ietextcontrol.h"
#include "ievect.h"
#include "uibitmap.h"
#include "vodevovur.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();

  TIETextControl* memo = ui::New<TIETextControl>(nullptr);
  for (int i = 0; i < 2000; ++i) memo->Text += i % 61 == 60 ? '\n' : i % 7 == 6 ? ' ' : char('a' + i % 26);
  memo->Init();
  for (int i = 0; i < 2000; i += 40) {  // a new format every 40 characters
    memo->SelStart = i;
    memo->SelStop = i + 20;
    if (i % 80 == 0) memo->ToggleStyle(0);
    else memo->SetBackColorOfSelection(ui::TColor(i * 997));
  }
  memo->SelStart = memo->SelStop = 0;
  ui::TBitmap target;
  target.SetPixelFormat(ui::pf24bit);
  target.SetSize(1200, 1600);
  for (double zoom : {1.0, 2.0}) {
    memo->ZoomFactor = zoom;
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
      memo->ClearCaches(0);  // measure every glyph again, as after an edit at the start
      const double t0 = BenchNow();
      TIECanvas canvas(target.Canvas(), false, false);
      memo->DrawText(&canvas, 0, 0, 560, 780);
      best = std::min(best, BenchNow() - t0);
    }
    std::printf("memo of %zu characters, %zu formats, zoom %.0f: %7.2f ms (best of %d)\n", memo->Text.size(),
                memo->Formats.size(), zoom, best * 1000, rounds);
  }
  memo->Free();

  TImageryVect* view = ui::New<TImageryVect>(nullptr);
  TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
  for (int i = 0; i < 10000; ++i) {
    t->Kind = TIEVKind(1 + i % 4);
    t->X1 = i % 1000;
    t->Y1 = i / 10;
    t->X2 = t->X1 + 40;
    t->Y2 = t->Y1 + 30;
    t->Name = "object " + std::to_string(i);
    view->AddObject(*t);
  }
  TImageryVect* other = ui::New<TImageryVect>(nullptr);
  double save = 1e9, load = 1e9;
  size_t bytes = 0;
  for (int r = 0; r < rounds; ++r) {
    TIEMemoryStream s;
    double t0 = BenchNow();
    view->SaveObjectsToStream(s);
    save = std::min(save, BenchNow() - t0);
    bytes = size_t(s.GetSize());
    s.SetPosition(0);
    t0 = BenchNow();
    other->LoadObjectsFromStream(s);
    load = std::min(load, BenchNow() - t0);
  }
  std::printf("objects stream of 10,000 objects (%zu bytes): save %7.2f ms, load %7.2f ms (best of %d)\n", bytes,
              save * 1000, load * 1000, rounds);
  other->Free();
  view->Free();
  IELibraryStaticFini();
  return 0;
}
