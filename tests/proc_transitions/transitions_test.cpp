// The transition engine and its effect table, driven frame by frame on flat pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <vector>

#include "iebitmap.h"
#include "ietransitions.h"
#include "ietransitiontable.h"
#include "imageryview.h"
#include "transitionfixture.h"
#include "uibitmap.h"

using namespace ui;

namespace {
constexpr TColor kFrom = 0x2828C8;        // (R 200, G 40, B 40)
constexpr TColor kTo = 0xDCA01E;          // (R 30, G 160, B 220)
constexpr TColor kBackground = 0x1E140A;  // (R 10, G 20, B 30)

TColor PixelOf(TBitmap* b, int x, int y) {
  GdiFlush();
  const uint8_t* p = static_cast<const uint8_t*>(b->ScanLine(y)) + 3 * x;
  return TColor(p[2] | (p[1] << 8) | (p[0] << 16));
}


// A windowless view owning an engine.
struct Engine {
  TImageryView* view;
  TIETransitionEffects* fx;
  Engine() {
    view = New<TImageryView>(nullptr);
    view->SetBackground(kBackground);
    fx = view->GetTransitionEffects();
  }
  ~Engine() { view->Free(); }
  bool Start(uint8_t code, int w, int h, TColor from = kFrom, TColor to = kTo) {
    auto a = Flat(w, h, from), b = Flat(w, h, to);
    return fx->Start(a.get(), b.get(), code, w, h);
  }
  TColor At(int x, int y) { return PixelOf(fx->GetFrameBitmap(), x, y); }
  // Pixels of the frame equal to c, and pixels of neither colour given.
  int Count(TColor c) {
    int n = 0;
    for (int y = 0; y < fx->GetFrameHeight(); ++y)
      for (int x = 0; x < fx->GetFrameWidth(); ++x) n += At(x, y) == c;
    return n;
  }
  int Others(TColor a, TColor b, TColor also) {
    int n = 0;
    for (int y = 0; y < fx->GetFrameHeight(); ++y)
      for (int x = 0; x < fx->GetFrameWidth(); ++x) {
        const TColor c = At(x, y);
        n += c != a && c != b && c != also;
      }
    return n;
  }
};

uint8_t Channel(TColor c, int shift) { return uint8_t(c >> shift); }
}  // namespace

TEST(TransitionTable, NamesEveryCodeAndHasPaintersFrom31) {
  EXPECT_STREQ("Cross Fade", IETransitionEffectTable[0].Name);
  EXPECT_STREQ("Random Big Boxes", IETransitionEffectTable[184].Name);
  EXPECT_STREQ("Page Flip 2", IETransitionEffectTable[186].Name);
  std::set<std::string> names;
  for (int c = 1; c <= kTransitionEffectCount; ++c) {
    names.insert(IETransitionEffectTable[c - 1].Name);
    EXPECT_EQ(c >= kFirstTablePainter, IETransitionEffectTable[c - 1].Proc != nullptr) << c;
  }
  EXPECT_EQ(size_t(kTransitionEffectCount), names.size());
}

// Every effect on flat pictures over one fixed sequence of positions, on an odd size (halves leave a
// column) and on 120 x 100 (grids leave margins).
TEST(TransitionEffects, EveryCodeRunsFromTheFromPictureToTheToPicture) {
  const int kPositions[] = {0, 1, 10, 60, 200, 333, 511, 512, 700, 901, 1000, 1018, 1019, 1023, 1024};
  const SIZE kSizes[] = {{121, 101}, {120, 100}};
  for (SIZE size : kSizes) {
    const int W = size.cx, H = size.cy;
    for (int code = 1; code <= kTransitionEffectCount; ++code) {
      SCOPED_TRACE(testing::Message() << "code " << code << " (" << IETransitionEffectTable[code - 1].Name << ") "
                                      << W << " x " << H);
      Engine e;
      e.fx->SetRandomSeed(1234);
      ASSERT_TRUE(e.Start(uint8_t(code), W, H));
      const bool fade = code <= 4;
      const bool push = code >= 151 && code <= 158;
      // the wipes with a line draw it in red, the second page flip in black
      const TColor line = code == 6 || code == 8 || code == 10 || code == 12 ? TColor(0x0000FF)
                          : code == 187                                    ? TColor(0)
                                                                           : kFrom;
      int lastTo = -1;
      for (int p : kPositions) {
        SCOPED_TRACE(p);
        e.fx->PaintFrame(p);
        if (p == 0) {
          // the fade in starts from the background
          ASSERT_EQ(W * H, e.Count(code == 3 ? kBackground : kFrom));
          continue;
        }
        if (p == 1024) {
          ASSERT_EQ(W * H, e.Count(code == 2 ? kBackground : kTo));
          continue;
        }
        if (!fade) {
          // squeezing the frame onto itself blends the seam between the two pictures
          const int others = e.Others(kFrom, kTo, line);
          if (code >= 155 && code <= 158) {
            EXPECT_LE(others, 4 * (W + H));
          } else {
            ASSERT_EQ(0, others);
          }
        }
        const int toShare = e.Count(kTo);
        // every effect is under way (the stretches of a flat picture may fill the frame already)
        if (p == 700 && !fade) {
          EXPECT_GT(toShare, 0);
        }
        if (!push) {
          ASSERT_GE(toShare, lastTo);
        }
        lastTo = toShare;
      }
      e.fx->Stop();
    }
  }
}

TEST(TransitionEffects, FadesWeighByPosition) {
  Engine e;
  ASSERT_TRUE(e.Start(1, 4, 3));
  e.fx->PaintFrame(512);
  for (int s : {0, 8, 16}) EXPECT_EQ((Channel(kFrom, s) + Channel(kTo, s)) / 2, Channel(e.At(2, 1), s));
  e.fx->Stop();

  ASSERT_TRUE(e.Start(4, 4, 3));
  e.fx->PaintFrame(511);  // fade out at 1022
  for (int s : {0, 8, 16})
    EXPECT_EQ((Channel(kBackground, s) * 1022 + Channel(kFrom, s) * 2) >> 10, Channel(e.At(0, 0), s));
  e.fx->PaintFrame(512);  // fade in at 0: the background only
  EXPECT_EQ(12, e.Count(kBackground));
}

TEST(TransitionEffects, PositionIsKeptWithinTheScale) {
  Engine e;
  ASSERT_TRUE(e.Start(5, 8, 8));
  e.fx->PaintFrame(5000);
  EXPECT_EQ(1024, e.fx->GetPosition());
  EXPECT_EQ(64, e.Count(kTo));
  e.fx->PaintFrame(-7);
  EXPECT_EQ(0, e.fx->GetPosition());
}

TEST(TransitionEffects, TimingCurves) {
  struct Case {
    uint8_t timing;
    double t;
    int position;
  };
  const Case kCases[] = {
      {0, 0.5, 512},   {0, 1.0, 1024}, {0, 1.7, 1024},  // beyond the run: 1024
      {1, 0.0, 6},     {1, 0.5, 82},   {1, 1.0, 1003},
      {2, 0.01, 85},   {2, 0.1, 556},  {2, 0.5, 886},  {2, 0.9797, 1024}, {2, 1.0, 1024},
      {2, 0.0, 0},     {2, 0.005, 0},  // no logarithm at 0, below 0 under about 0.0066
      {9, 0.5, 321},                   // unknown curve: unchanged
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << int(c.timing) << " at " << c.t);
    EXPECT_EQ(c.position, TIETransitionEffects::TimingPosition(c.timing, c.t, 321));
  }
}

TEST(TransitionEffects, StartRefusesWhatIsNoEffect) {
  Engine e;
  const int lock = e.view->GetPaintLock();
  for (int code : {0, 189, 255}) EXPECT_FALSE(e.Start(uint8_t(code), 10, 10)) << code;
  EXPECT_FALSE(e.fx->Start(nullptr, nullptr, kPanZoomEffect, 10, 10));  // no pixel buffer
  EXPECT_FALSE(e.fx->GetRunning());
  EXPECT_EQ(lock, e.view->GetPaintLock());
}

TEST(TransitionEffects, StopReleasesTheLockOnceAndFiresOnce) {
  Engine e;
  int stops = 0;
  e.view->SetOnTransitionStop([&](TObject* sender) {
    EXPECT_EQ(e.view, sender);
    ++stops;
  });
  const int lock = e.view->GetPaintLock();
  ASSERT_TRUE(e.Start(17, 30, 20));
  EXPECT_EQ(lock + 1, e.view->GetPaintLock());
  // a second start stops the first run
  ASSERT_TRUE(e.Start(3, 30, 20));
  EXPECT_EQ(1, stops);
  EXPECT_EQ(lock + 1, e.view->GetPaintLock());
  e.fx->Stop();
  e.fx->Stop();
  EXPECT_EQ(2, stops);
  EXPECT_EQ(lock, e.view->GetPaintLock());
  EXPECT_EQ(1, e.fx->GetFrameBitmap()->GetWidth());
  EXPECT_EQ(1, e.fx->GetToBitmap()->GetHeight());
  // a new run builds its own row tables on the new bitmaps
  ASSERT_TRUE(e.Start(21, 50, 40));
  e.fx->PaintFrame(512);
  EXPECT_EQ(50 * 20, e.Count(kTo));
}

TEST(TransitionEffects, ClearingTheImageStopsTheRun) {
  Engine e;
  int stops = 0;
  e.view->SetOnTransitionStop([&](TObject*) { ++stops; });
  ASSERT_TRUE(e.Start(9, 20, 20));
  e.view->ClearImage();
  EXPECT_FALSE(e.fx->GetRunning());
  EXPECT_EQ(1, stops);
}

// Random points draw from the engine's own generator: the same seed paints the same frame.
TEST(TransitionEffects, RandomPointsFollowTheEnginesSeed) {
  auto frameAt = [](uint32_t seed) {
    Engine e;
    e.fx->SetRandomSeed(seed);
    EXPECT_TRUE(e.Start(25, 64, 16));
    e.fx->PaintFrame(0);
    e.fx->PaintFrame(400);
    std::vector<TColor> px;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 64; ++x) px.push_back(e.At(x, y));
    return px;
  };
  EXPECT_EQ(frameAt(7), frameAt(7));
  EXPECT_NE(frameAt(7), frameAt(8));
}

namespace {
// A pixel buffer 200 x 100: red left half, blue right half.
std::unique_ptr<TIEBitmap> PanZoomSource() {
  auto b = std::make_unique<TIEBitmap>();
  b->Allocate(200, 100, ie24RGB);
  for (int y = 0; y < 100; ++y) {
    auto* row = b->GetRowAddress(y);
    for (int x = 0; x < 200; ++x) {
      row[3 * x] = x < 100 ? 0 : 255;
      row[3 * x + 1] = 0;
      row[3 * x + 2] = x < 100 ? 255 : 0;
    }
  }
  return b;
}
}  // namespace

TEST(TransitionEffects, PanZoomInsideClippedAndEmpty) {
  auto source = PanZoomSource();
  Engine e;
  e.view->SetBackgroundStyleValue(iebsSolid);
  e.fx->PanZoomBitmap = source.get();
  struct Case {
    RECT r;
    int from, to;  // columns [from, to) of an 80 x 40 frame show the picture, the rest the background
    TColor picture;
  };
  const TColor kRed = 0x0000FF, kBlue = 0xFF0000;
  const Case kCases[] = {
      {{0, 0, 100, 100}, 0, 80, kRed},      // inside: the whole frame, no background
      {{-100, 0, 100, 100}, 20, 60, kRed},  // starts left of the buffer: 100 x 100 fitted and centred
      {{-10, -10, 0, 0}, 0, 0, kRed},       // clipped to nothing: the background only
      {{150, 0, 250, 100}, 30, 50, kBlue},  // past the right edge: the 50 x 100 inside, fitted and centred
      {{300, 0, 400, 100}, 0, 0, kBlue},    // wholly right of the buffer: the background only
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.r.left << "," << c.r.top << "," << c.r.right << "," << c.r.bottom);
    e.fx->PanZoomFrom = e.fx->PanZoomTo = c.r;
    ASSERT_TRUE(e.fx->Start(nullptr, nullptr, kPanZoomEffect, 80, 40));
    e.fx->PaintFrame(300);
    for (int x = 0; x < 80; ++x) ASSERT_EQ(x >= c.from && x < c.to ? c.picture : kBackground, e.At(x, 20)) << x;
    e.fx->Stop();
  }
}

TEST(TransitionEffects, PanZoomMovesBetweenItsRectangles) {
  auto source = PanZoomSource();
  Engine e;
  e.fx->PanZoomBitmap = source.get();
  e.fx->PanZoomFrom = RECT{0, 0, 100, 100};
  e.fx->PanZoomTo = RECT{100, 0, 200, 100};
  ASSERT_TRUE(e.fx->Start(nullptr, nullptr, kPanZoomEffect, 50, 50));
  e.fx->PaintFrame(0);
  EXPECT_EQ(50 * 50, e.Count(0x0000FF));
  e.fx->PaintFrame(1024);
  EXPECT_EQ(50 * 50, e.Count(0xFF0000));
  e.fx->PaintFrame(512);  // half of each
  EXPECT_EQ(0x0000FF, e.At(10, 10));
  EXPECT_EQ(0xFF0000, e.At(40, 10));
}

// A step handler that stops the run ends the step: nothing is painted into the bitmaps it shrank.
TEST(TransitionEffects, StepHandlerMayStopTheRun) {
  Engine e;
  int paints = 0, stops = 0;
  e.view->SetOnTransitionStep([&](TObject*, int) { e.fx->Stop(); });
  e.view->SetOnTransitionPaint([&](TObject*, TBitmap*, TIETransitionEffects*, int) { ++paints; });
  e.view->SetOnTransitionStop([&](TObject*) { ++stops; });
  ASSERT_TRUE(e.Start(17, 64, 48));
  e.fx->TimerStep();
  EXPECT_FALSE(e.fx->GetRunning());
  EXPECT_EQ(0, paints);
  EXPECT_EQ(1, stops);
  EXPECT_EQ(0, e.fx->GetFrameCount());
}
