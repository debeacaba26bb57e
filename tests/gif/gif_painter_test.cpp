// The animation painter on a canvas under Xvfb: events in the main thread and in frame order, the loop
// count, stopping from the main thread, and synchronous painting that keeps the message queue served.
// Nothing here leans on how precisely time passes: frames are short and only order and counts are
// checked.
#include <windows.h>

#include <psapi.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gifanimtesthelp.h"
#include "gifgraphic.h"
#include "gifimage.h"
#include "gifpainter.h"
#include "uibitmap.h"

using namespace giftest;

namespace {

const TGIFColor kFrameColors[3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

// Three 4 x 4 frames, red, green and blue, each 1/100 s; a loop-count extension on the first frame
// when `loops` >= 0. Written as GIF bytes and read back, as a file would be.
void MakeAnimation(TGIFImage& image, int loops) {
  TGIFImage built;
  for (int i = 0; i < 3; ++i) {
    TGIFSubImage* f = AddFrame(built, 0, 0, 4, 4, std::vector<uint8_t>(16, 1), {{0, 0, 0}, kFrameColors[i]});
    Control(f, 1, 1);
    if (i == 0 && loops >= 0) {
      auto loop = std::make_unique<TGIFAppExtNSLoop>(f);
      loop->Loops = uint16_t(loops);
      f->AddExtension(std::move(loop));
    }
  }
  TGIFMemoryStream bytes(SaveBytes(built));
  image.LoadFromStream(bytes);
  ASSERT_EQ(image.Images().Count(), 3);
}

// Which of the three frame colours the bitmap shows in its middle; -1 for none.
int ShownFrame(ui::TBitmap& bitmap) {
  GdiFlush();
  const auto* p = static_cast<const uint8_t*>(bitmap.ScanLine(bitmap.GetHeight() / 2)) + 3 * (bitmap.GetWidth() / 2);
  for (int i = 0; i < 3; ++i)
    if (p[2] == kFrameColors[i].Red && p[1] == kFrameColors[i].Green && p[0] == kFrameColors[i].Blue) return i;
  return -1;
}

struct TEventLog {
  std::vector<int> painted;   // active frame at each paint event
  std::vector<int> shown;     // frame seen on the canvas after each paint
  std::vector<DWORD> threads; // thread of every event
  int starts = 0, loops = 0, ends = 0;
  HANDLE thread = nullptr;    // the painter's thread, duplicated at the start event

  void Hook(TGIFImage& image, ui::TBitmap* canvasBitmap) {
    image.PaintStartEvent = ui::TNotifyEvent([this](ui::TObject* sender) {
      threads.push_back(GetCurrentThreadId());
      ++starts;
      auto* painter = static_cast<TGIFPainter*>(sender);
      if (painter->Asynchronous())
        DuplicateHandle(GetCurrentProcess(), painter->Handle(), GetCurrentProcess(), &thread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    });
    image.PaintEvent = ui::TNotifyEvent([this](ui::TObject* sender) {
      threads.push_back(GetCurrentThreadId());
      painted.push_back(static_cast<TGIFPainter*>(sender)->ActiveFrame());
    });
    image.AfterPaintEvent = ui::TNotifyEvent([this, canvasBitmap](ui::TObject*) {
      threads.push_back(GetCurrentThreadId());
      if (canvasBitmap) shown.push_back(ShownFrame(*canvasBitmap));
    });
    image.LoopEvent = ui::TNotifyEvent([this](ui::TObject*) {
      threads.push_back(GetCurrentThreadId());
      ++loops;
    });
    image.PaintEndEvent = ui::TNotifyEvent([this](ui::TObject*) {
      threads.push_back(GetCurrentThreadId());
      ++ends;
    });
  }
  ~TEventLog() {
    if (thread) CloseHandle(thread);
  }
};

// Serves the painter's synchronised calls until `done` or about 20 s have passed.
template <class F>
bool PumpUntil(F done) {
  for (int i = 0; i < 400 && !done(); ++i) ui::CheckSynchronize(50);
  return done();
}

ui::TBitmap* NewCanvasBitmap() {
  auto* bitmap = new ui::TBitmap;
  bitmap->SetPixelFormat(ui::pf24bit);
  bitmap->SetSize(8, 8);
  return bitmap;
}

}  // namespace

// The wait for a frame: delay units are hundredths of a second, scaled by the speed, less half of the
// previous frame's lateness.
TEST(GIFPainter, FrameWaitInHundredthsOfASecond) {
  struct Case {
    int units, late, speed, expected;
  } cases[] = {
      {10, 0, 100, 100}, {3, 0, 100, 30}, {100, 0, 200, 500}, {10, 40, 100, 80}, {10, 0, 50, 200}, {1, 100, 100, -40},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GIFFrameWait(c.units, c.late, c.speed), c.expected) << c.units << " " << c.late << " " << c.speed;
}

// On its own thread: every event runs in the main thread, the frames come in order on the canvas, and
// a loop count of 2 plays two passes, then the painter ends and leaves the image.
TEST(GIFPainter, AsynchronousPlaysInOrderAndStopsAfterItsLoops) {
  TGIFImage image;
  MakeAnimation(image, 2);
  std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
  TEventLog log;
  log.Hook(image, bitmap.get());
  image.DrawOptions = goAsync | goAnimate | goLoop | goDirectDraw;
  bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
  ASSERT_TRUE(PumpUntil([&] { return log.ends == 1; }));
  EXPECT_EQ(log.painted, (std::vector<int>{0, 1, 2, 0, 1, 2}));
  EXPECT_EQ(log.shown, (std::vector<int>{0, 1, 2, 0, 1, 2}));
  EXPECT_EQ(log.starts, 1);
  EXPECT_EQ(log.loops, 1);
  for (DWORD id : log.threads) EXPECT_EQ(id, ui::MainThreadID());
  ASSERT_NE(log.thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(log.thread, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(PumpUntil([&] { return image.PainterCount() == 0; }));
}

// A one-frame image is drawn at once and never gets a painter.
TEST(GIFPainter, OneFrameNeedsNoPainter) {
  TGIFImage image;
  MakeAnimation(image, -1);
  image.Images().Delete(2);
  image.Images().Delete(1);
  std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
  TEventLog log;
  log.Hook(image, nullptr);
  bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
  EXPECT_EQ(ShownFrame(*bitmap), 0);
  EXPECT_EQ(image.PainterCount(), 0);
  EXPECT_EQ(log.starts, 0);
}

// An endless animation drawn with the default options: the draw shows the first frame at once, and
// stopping from the main thread (explicitly, or by freeing the image) ends the thread without a
// deadlock even while it waits on Synchronize.
TEST(GIFPainter, StoppingFromTheMainThreadEndsThePainter) {
  for (bool freeImage : {false, true}) {
    SCOPED_TRACE(freeImage ? "freeing the image" : "halting the painter");
    auto image = std::make_unique<TGIFImage>();
    MakeAnimation(*image, 0);
    std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
    TEventLog log;
    log.Hook(*image, nullptr);
    ASSERT_EQ(image->DrawOptions & (goAsync | goAnimate | goLoop), goAsync | goAnimate | goLoop);
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, image.get());
    EXPECT_EQ(ShownFrame(*bitmap), 0);
    ASSERT_TRUE(PumpUntil([&] { return log.painted.size() >= 5; }));
    EXPECT_EQ(log.loops, 1);
    if (freeImage) {
      image.reset();
    } else {
      image->HaltOwnPainter();
      EXPECT_EQ(image->PainterCount(), 0);
    }
    EXPECT_EQ(log.ends, 1);
    ASSERT_NE(log.thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(log.thread, 10000), WAIT_OBJECT_0);
    for (DWORD id : log.threads) EXPECT_EQ(id, ui::MainThreadID());
  }
}

// An image freed by one of its own paint handlers: the painter lets go of it, fires nothing more and
// ends; a draw up the stack (the first frame is painted while the draw waits for it, and a synchronous
// animation plays inside the draw) returns without touching the image again.
TEST(GIFPainter, ImageFreedByItsOwnPaintHandler) {
  struct Case {
    const char* name;
    uint16_t options;
    int freeAtPaint;  // the frame whose paint event frees the image; -1: the end event does
  } cases[] = {
      {"own thread, direct, at the end", goAsync | goAnimate | goDirectDraw, -1},
      {"own thread, direct, at a frame", goAsync | goAnimate | goLoop | goLoopForever | goDirectDraw, 1},
      {"own thread, into its bitmap, at the first frame", goAsync | goAnimate | goLoop | goLoopForever, 0},
      {"own thread, into its bitmap, at the end", goAsync | goAnimate, -1},
      {"in the draw, direct, at the end", goAnimate | goDirectDraw, -1},
      {"in the draw, into its bitmap, at a frame", goAnimate | goLoop | goLoopForever, 1},
  };
  for (int round = 0; round < 3; ++round)
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
      auto* image = new TGIFImage;
      MakeAnimation(*image, -1);
      image->DrawOptions = c.options;
      std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
      bool freed = false;
      int heardAfterFree = 0;
      HANDLE thread = nullptr;
      auto freeImage = [&] {
        freed = true;
        delete image;
        image = nullptr;
      };
      auto heard = [&](ui::TObject*) { heardAfterFree += freed ? 1 : 0; };
      image->PaintStartEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
        auto* painter = static_cast<TGIFPainter*>(sender);
        if (painter->Asynchronous())
          DuplicateHandle(GetCurrentProcess(), painter->Handle(), GetCurrentProcess(), &thread, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
      });
      image->PaintEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
        heard(sender);
        if (!freed && static_cast<TGIFPainter*>(sender)->ActiveFrame() == c.freeAtPaint) freeImage();
      });
      image->AfterPaintEvent = ui::TNotifyEvent(heard);
      image->LoopEvent = ui::TNotifyEvent(heard);
      image->PaintEndEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
        heard(sender);
        if (!freed && c.freeAtPaint < 0) freeImage();
      });
      bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, image);
      ASSERT_TRUE(PumpUntil([&] { return freed; }));
      if (c.options & goAsync) {
        ASSERT_NE(thread, nullptr);
        EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; })) << "the painter ends";
        CloseHandle(thread);
      }
      EXPECT_EQ(heardAfterFree, 0);
    }
}

namespace {
int appMessages = 0;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    ++appMessages;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}
}  // namespace

// Within the draw call: a message posted at one frame is dispatched before the next; a quit message
// ends the animation and stays in the queue for the program's loop.
TEST(GIFPainter, SynchronousPaintingPumpsMessages) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "GIFPainterTestWindow";
  RegisterClassA(&wc);
  HWND window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);

  TGIFImage image;
  MakeAnimation(image, -1);
  std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
  TEventLog log;
  log.Hook(image, bitmap.get());
  std::vector<int> dispatched;
  image.PaintEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
    log.painted.push_back(static_cast<TGIFPainter*>(sender)->ActiveFrame());
    dispatched.push_back(appMessages);
    PostMessageA(window, WM_APP, 0, 0);
  });
  image.DrawOptions = goAnimate | goLoop | goDirectDraw;
  appMessages = 0;
  bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
  // No loop extension: one pass, all of it inside the draw.
  EXPECT_EQ(log.painted, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(log.shown, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(dispatched, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(log.ends, 1);
  EXPECT_EQ(image.PainterCount(), 0);

  // Endless, until a quit arrives at the second frame.
  log.painted.clear();
  image.DrawOptions = goAnimate | goLoop | goLoopForever | goDirectDraw;
  image.AfterPaintEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
    if (static_cast<TGIFPainter*>(sender)->ActiveFrame() == 1) PostQuitMessage(7);
  });
  bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
  EXPECT_EQ(log.painted, (std::vector<int>{0, 1}));
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
  MSG rest;
  while (PeekMessageA(&rest, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&rest);
  DestroyWindow(window);
}

namespace {

// `count` 8 x 8 frames of 1/100 s in pairs: frame 2j shows colour j, frame 2j + 1 repeats it, so the
// frame optimizer turns every second frame transparent and drops it. Each frame has its own map, which
// the colour-map optimizer replaces by one global map.
void MakeLongAnimation(TGIFImage& image, int count) {
  TGIFImage built;
  for (int i = 0; i < count; ++i) {
    const int j = i / 2;
    std::vector<uint8_t> pixels(64, 1);
    pixels[size_t(j % 64)] = 0;
    TGIFSubImage* f = AddFrame(built, 0, 0, 8, 8, pixels, {{0, 0, 0}, {uint8_t(40 + j * 5), uint8_t(j * 3), 200}});
    Control(f, 1, 1);
  }
  TGIFMemoryStream bytes(SaveBytes(built));
  image.LoadFromStream(bytes);
  ASSERT_EQ(image.Images().Count(), count);
}

}  // namespace

// Both optimizers change frames while a painter thread plays them: each first stops the painter (none
// is left when it returns, also when their progress handler draws the image), and every frame the
// painter then shows again is one the image still holds.
TEST(GIFPainter, OptimizersStopThePainterAndItShowsOnlyLiveFrames) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TGIFImage image;
    MakeLongAnimation(image, 40);
    std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
    int painted = 0, dead = 0;
    image.PaintEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
      ++painted;
      const int active = static_cast<TGIFPainter*>(sender)->ActiveFrame();
      if (active < 0 || active >= image.Images().Count()) ++dead;
    });
    image.DrawOptions = uint16_t(image.DrawOptions | goLoopForever);
    // A holder that redraws the picture as the optimizers report progress must neither hang nor start
    // a painter on frames that are changing.
    image.OnProgress = [&](ui::TObject*, ui::TProgressStage, uint8_t, bool, const RECT&, const std::string&) {
      bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    };

    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    ASSERT_TRUE(PumpUntil([&] { return painted >= 3 + round; }));
    image.OptimizeFrames(ooCrop | ooMerge | ooCleanup, gpNone, 8, gdNearest);
    EXPECT_EQ(image.PainterCount(), 0);
    EXPECT_EQ(image.Images().Count(), 20);

    painted = 0;
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    ASSERT_TRUE(PumpUntil([&] { return painted >= 2 + round; }));
    image.UnifyColorMaps();
    EXPECT_EQ(image.PainterCount(), 0);
    EXPECT_EQ(image.Images()[0].ColorMap().Count(), 0);

    painted = 0;
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    ASSERT_TRUE(PumpUntil([&] { return painted >= 25; })) << "plays on over the changed frames";
    EXPECT_EQ(dead, 0);
    image.HaltAllPainters();
  }
}

// Frames are loaded, copied in and added while a painter plays the image: the painter stops before
// anything changes, and a holder that redraws at every progress report starts none until the change
// is over; then the image plays its new frames.
TEST(GIFPainter, LoadCopyAndAddStopThePainterFirst) {
  TGIFImage source;
  MakeLongAnimation(source, 40);
  const std::vector<uint8_t> bytes = SaveBytes(source);
  const TGIFBitmap picture = Picture(8, 8, [](int x, int y) { return TGIFColor{uint8_t(x * 30), uint8_t(y * 30), 9}; });
  struct Operation {
    const char* name;
    std::function<void(TGIFImage&)> run;
    int frames;  // afterwards
  } operations[] = {
      {"load",
       [&](TGIFImage& image) {
         TGIFMemoryStream stream(bytes);
         image.LoadFromStream(stream);
       },
       40},
      {"copy", [&](TGIFImage& image) { image.Assign(source); }, 40},
      {"add", [&](TGIFImage& image) { image.AddFrame(picture); }, 13},
  };
  for (int round = 0; round < 4; ++round)
    for (const Operation& op : operations) {
      SCOPED_TRACE(std::string(op.name) + ", round " + std::to_string(round));
      TGIFImage image;
      MakeLongAnimation(image, 12);
      image.DrawOptions = uint16_t(image.DrawOptions | goLoopForever);
      std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
      int painted = 0, dead = 0, reports = 0, withPainter = 0;
      const ui::TNotifyEvent count([&](ui::TObject* sender) {
        ++painted;
        const int active = static_cast<TGIFPainter*>(sender)->ActiveFrame();
        if (active < 0 || active >= image.Images().Count()) ++dead;
      });
      image.PaintEvent = count;
      ui::TProgressEvent redraw = [&](ui::TObject*, ui::TProgressStage, uint8_t, bool, const RECT&,
                                      const std::string&) {
        ++reports;
        withPainter += image.PainterCount();
        bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
        withPainter += image.PainterCount();
      };
      image.OnProgress = redraw;
      source.OnProgress = redraw;  // a copy reports through the source's handler

      bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
      ASSERT_TRUE(PumpUntil([&] { return painted >= 2 + round; }));
      GIFBuildBitmapsOnLoad = true;
      op.run(image);
      GIFBuildBitmapsOnLoad = false;
      source.OnProgress = nullptr;
      EXPECT_GT(reports, 1);
      EXPECT_EQ(withPainter, 0);
      ASSERT_EQ(image.Images().Count(), op.frames);

      image.PaintEvent = count;  // a copy takes the source's paint events
      painted = 0;
      bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
      EXPECT_TRUE(PumpUntil([&] { return painted >= 3; })) << "plays the new frames";
      EXPECT_EQ(dead, 0);
      image.HaltAllPainters();
    }
}

// An optimizer run by the painter's own event handler, on the painter's thread or within the draw,
// painting on the canvas or into the image's own bitmap: the painter cannot stop before the handler
// returns, then ends without looking at a frame again; drawn again, the image plays its new frames.
TEST(GIFPainter, OptimizerInAPaintHandlerEndsThePainter) {
  for (uint16_t options : {uint16_t(goAsync | goAnimate | goDirectDraw), uint16_t(goAnimate | goDirectDraw),
                           uint16_t(goAsync | goAnimate), uint16_t(goAnimate)}) {
    SCOPED_TRACE(options);
    TGIFImage image;
    MakeLongAnimation(image, 12);
    std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
    TEventLog log;
    log.Hook(image, nullptr);
    image.AfterPaintEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
      if (static_cast<TGIFPainter*>(sender)->ActiveFrame() == 10)
        image.OptimizeFrames(ooCrop | ooMerge | ooCleanup, gpNone, 8, gdNearest);
    });
    image.DrawOptions = options;
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    ASSERT_TRUE(PumpUntil([&] { return log.ends == 1; }));
    EXPECT_EQ(log.painted, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(image.Images().Count(), 6);
    EXPECT_TRUE(PumpUntil([&] { return image.PainterCount() == 0; }));

    log.painted.clear();
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    ASSERT_TRUE(PumpUntil([&] { return log.ends == 2; })) << "plays again";
    EXPECT_EQ(log.painted, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  }
}

// Drawing the image on another canvas from its own paint handler returns at once: the painter on the
// first canvas is stopped and ends when the handler is done, and a new one plays on the second.
TEST(GIFPainter, DrawOnAnotherCanvasFromAPaintHandler) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TGIFImage image;
    MakeAnimation(image, 0);
    image.DrawOptions = goAsync | goAnimate | goLoop | goDirectDraw;
    std::unique_ptr<ui::TBitmap> first(NewCanvasBitmap()), second(NewCanvasBitmap());
    TEventLog log;
    log.Hook(image, nullptr);
    bool drawn = false;
    image.PaintEvent = ui::TNotifyEvent([&](ui::TObject* sender) {
      if (!drawn && static_cast<TGIFPainter*>(sender)->ActiveFrame() == 1 + round % 2) {
        second->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
        drawn = true;
      }
    });
    first->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    ASSERT_TRUE(PumpUntil([&] { return drawn; }));
    // the first painter reports its end before it leaves the image's list
    EXPECT_TRUE(PumpUntil([&] { return log.ends == 1 && ShownFrame(*second) >= 0 && image.PainterCount() == 1; }));
    EXPECT_EQ(image.PainterCount(), 1);
    image.HaltAllPainters();
    EXPECT_EQ(image.PainterCount(), 0);
  }
}

size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
}

// A file of a few dozen bytes whose logical screen is 65535 x 21846: drawn as a still frame with every
// set of options, no painter starts and nothing of the screen's size is allocated.
TEST(GIFPainter, HugeLogicalScreenIsNotPainted) {
  TGIFImage built;
  built.GlobalColorMap().AppendColor(GIFColorValue(255, 0, 0));
  built.GlobalColorMap().AppendColor(GIFColorValue(0, 255, 0));
  for (uint8_t index : {0, 1}) AddFrame(built, 0, 0, 1, 1, {index});
  built.Header().Screen().Width = 65535;
  built.Header().Screen().Height = 21846;
  TGIFMemoryStream bytes(SaveBytes(built));
  EXPECT_LT(bytes.Size(), 100u);
  TGIFImage image;
  image.LoadFromStream(bytes);
  ASSERT_EQ(image.Images().Count(), 2);
  ASSERT_EQ(image.Width(), 65535);
  ASSERT_EQ(image.Height(), 21846);

  const size_t before = PeakWorkingSet();
  std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
  for (uint16_t options : {GIFDefaultDrawOptions, uint16_t(goAsync | goAnimate | goDirectDraw), uint16_t(goAnimate),
                           uint16_t(goAnimate | goDirectDraw | goTransparent | goTile)}) {
    SCOPED_TRACE(options);
    image.DrawOptions = options;
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    EXPECT_EQ(image.PainterCount(), 0);
  }
  TGIFPainter* painter = nullptr;
  EXPECT_EQ(image.RunPainter(painter, bitmap->Canvas(), GIFDefaultDrawOptions, RECT{0, 0, 8, 8}), nullptr);
  EXPECT_THROW(image.CompositeBitmap(), GIFException);
  EXPECT_LT(PeakWorkingSet(), before + (size_t(32) << 20));
}

// A 1 x 1 image tiled over 4000 x 3000 onto a 16 x 16 canvas: only the tiles the canvas shows are
// drawn, none is stored, whether one frame is drawn, a painter paints on the canvas or into the
// image's bitmap.
TEST(GIFPainter, TilesOverAHugeAreaCostOnlyWhatShows) {
  TGIFImage image;
  for (int i = 0; i < 2; ++i) AddFrame(image, 0, 0, 1, 1, {0}, {{255, 0, 0}});
  const size_t before = PeakWorkingSet();
  for (uint16_t options : {uint16_t(goTile), uint16_t(goAnimate | goDirectDraw | goTile), uint16_t(goAnimate | goTile)}) {
    SCOPED_TRACE(options);
    image.DrawOptions = options;
    ui::TBitmap bitmap;
    bitmap.SetPixelFormat(ui::pf24bit);
    bitmap.SetSize(16, 16);
    bitmap.Canvas()->StretchDraw(RECT{0, 0, 4000, 3000}, &image);
    GdiFlush();
    int red = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const auto* p = static_cast<const uint8_t*>(bitmap.ScanLine(y)) + 3 * x;
        red += p[2] == 255 && p[1] == 0 && p[0] == 0;
      }
    EXPECT_EQ(red, 256);
  }
  EXPECT_LT(PeakWorkingSet(), before + (size_t(32) << 20));
}

// Where no frame has painted, an animation shows the image's draw background colour when it has one;
// with goDither every colour it shows is one of the 216-colour cube's.
TEST(GIFPainter, BackgroundColourAndDitheredFrames) {
  TGIFImage image;
  image.GlobalColorMap().AppendColor(GIFColorValue(100, 100, 100));
  for (int i = 0; i < 2; ++i) AddFrame(image, 0, 0, 4, 4, std::vector<uint8_t>(16, 0));
  image.Header().Screen().Width = 8;
  image.Header().Screen().Height = 8;
  struct Case {
    uint16_t options;
    ui::TColor background;
    TGIFColor corner;
    bool cube;
  } cases[] = {
      {goAnimate | goDirectDraw, ui::clYellow, {255, 255, 0}, false},
      {goAnimate | goDirectDraw, ui::clNone, {100, 100, 100}, false},  // the global map's background entry
      {goAnimate | goDirectDraw | goDither, ui::clYellow, {255, 255, 0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    image.DrawOptions = c.options;
    image.DrawBackgroundColor = c.background;
    std::unique_ptr<ui::TBitmap> bitmap(NewCanvasBitmap());
    bitmap->Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &image);
    GdiFlush();
    const auto* corner = static_cast<const uint8_t*>(bitmap->ScanLine(7)) + 3 * 7;
    EXPECT_EQ(corner[2], c.corner.Red);
    EXPECT_EQ(corner[1], c.corner.Green);
    EXPECT_EQ(corner[0], c.corner.Blue);
    int offCube = 0;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        const auto* p = static_cast<const uint8_t*>(bitmap->ScanLine(y)) + 3 * x;
        if (p[0] % 51 || p[1] % 51 || p[2] % 51) ++offCube;
      }
    EXPECT_EQ(offCube, c.cube ? 0 : 16);
  }
}
