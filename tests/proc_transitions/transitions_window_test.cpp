// A transition run by its timer on a view under the display: the frames reach the screen, the events
// come in order, and resizing the view stops the run.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ietransitions.h"
#include "imageryview.h"
#include "transitionfixture.h"
#include "uibitmap.h"
#include "uiforms.h"

using namespace ui;

namespace {
constexpr TColor kFrom = 0x2828C8;
constexpr TColor kTo = 0xDCA01E;

COLORREF ScreenPixel(HWND h, int x, int y) {
  HDC dc = GetDC(h);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(h, dc);
  return c;
}


class TransitionWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(40, 40, 360, 280);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBorderStyleValue(bsNone);
    view->SetBounds(10, 10, 200, 120);
    form->Show();
    Pump();
  }
  void TearDown() override { form->Free(); }
  void Pump(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) {
      Application->ProcessMessages();
      Sleep(10);
    }
  }
  bool Start(uint8_t code) {
    auto a = Flat(200, 120, kFrom), b = Flat(200, 120, kTo);
    return view->GetTransitionEffects()->Start(a.get(), b.get(), code);
  }
  // Runs the message loop until the transition ends (or 10 s pass).
  void RunToEnd() {
    const DWORD t0 = GetTickCount();
    while (view->GetTransitionEffects()->GetRunning() && GetTickCount() - t0 < 10000) {
      Application->ProcessMessages();
      Sleep(1);
    }
  }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
};
}  // namespace

TEST_F(TransitionWindow, TimerRunShowsItsFramesAndEndsOnTheToPicture) {
  TIETransitionEffects* fx = view->GetTransitionEffects();
  fx->Duration = 600;
  fx->UpdateOnStop = true;
  std::vector<std::string> log;
  int lastStep = -1;
  TBitmap* lastBitmap = nullptr;
  bool midShot = false;
  COLORREF midLeft = 0, midRight = 0, endRight = 0;
  view->SetOnTransitionStep([&](TObject* sender, int) {
    EXPECT_EQ(view, sender);
    log.push_back("step");
  });
  view->SetOnTransitionPaint([&](TObject*, TBitmap* bitmap, TIETransitionEffects* t, int step) {
    EXPECT_EQ(fx, t);
    log.push_back("paint");
    lastStep = step;
    lastBitmap = bitmap;
    // first screenshot: half way through a left-to-right wipe
    if (!midShot && step >= 400 && step <= 700) {
      midShot = true;
      midLeft = ScreenPixel(view->GetHandle(), 10, 60);
      midRight = ScreenPixel(view->GetHandle(), 190, 60);
    }
    // second screenshot: the finished picture, before the view repaints its own image
    if (step == 1024) endRight = ScreenPixel(view->GetHandle(), 190, 60);
  });
  view->SetOnTransitionStop([&](TObject*) { log.push_back("stop"); });
  const int lock = view->GetPaintLock();
  ASSERT_TRUE(Start(5));
  EXPECT_EQ(lock + 1, view->GetPaintLock());
  RunToEnd();
  ASSERT_FALSE(fx->GetRunning());
  EXPECT_EQ(lock, view->GetPaintLock());
  ASSERT_TRUE(midShot);
  EXPECT_EQ(COLORREF(kTo), midLeft);
  EXPECT_EQ(COLORREF(kFrom), midRight);
  // the last frame reported is the whole to-picture at 1024, then the stop
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ("stop", log.back());
  EXPECT_EQ("paint", log[log.size() - 2]);
  EXPECT_EQ(1024, lastStep);
  EXPECT_EQ(fx->GetToBitmap(), lastBitmap);
  EXPECT_GE(fx->GetFrameCount(), 2);
  EXPECT_EQ(COLORREF(kTo), endRight);
}

TEST_F(TransitionWindow, ResizingTheViewStopsTheRun) {
  TIETransitionEffects* fx = view->GetTransitionEffects();
  fx->Duration = 100000;
  int stops = 0;
  view->SetOnTransitionStop([&](TObject*) { ++stops; });
  const int lock = view->GetPaintLock();
  ASSERT_TRUE(Start(1));
  Pump(3);
  EXPECT_TRUE(fx->GetRunning());
  view->SetBounds(10, 10, 150, 100);
  EXPECT_FALSE(fx->GetRunning());
  EXPECT_EQ(1, stops);
  EXPECT_EQ(lock, view->GetPaintLock());
}
