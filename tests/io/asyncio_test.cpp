// The asynchronous mode: saves on I/O threads, progress through posted messages, and a component
// freed while its thread runs.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "hostenv.h"
#include "imageryio.h"
#include "iotest_util.h"

using namespace iotest;

namespace {

struct WindowLog {
  int progress = 0;
  int lastPercent = -1;
  int finish = 0;
  int update = 0;
};
WindowLog gLog;

LRESULT CALLBACK LogProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case IEM_PROGRESS: ++gLog.progress; gLog.lastPercent = int(w); return 0;
    case IEM_FINISHWORK: ++gLog.finish; return 0;
    case IEM_UPDATEVIEW: ++gLog.update; return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

// A plain top-level window standing in for the view the component serves.
class TestWindow {
 public:
  TestWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = LogProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TqIOTestWindow";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowW(L"TqIOTestWindow", L"io", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                          wc.hInstance, nullptr);
    gLog = WindowLog();
  }
  ~TestWindow() { DestroyWindow(hwnd_); }
  HWND get() const { return hwnd_; }
  static void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }

 private:
  HWND hwnd_;
};

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

TEST(AsyncIO, SaveRunsOnAThreadAndReportsThroughPostedMessages) {
  TestWindow window;
  TIEBitmap picture;
  MakePicture(picture, 300, 200);
  TImageryIO io(&picture);
  io.Asynchronous = true;
  io.NotifyWindow = window.get();
  const DWORD mainThread = GetCurrentThreadId();
  std::atomic<int> directOffMain{0};
  int direct = 0, finished = 0;
  io.OnProgress = [&](void*, int) {
    if (GetCurrentThreadId() != mainThread) ++directOffMain;
    ++direct;
  };
  io.OnFinishWork = [&](void*) { ++finished; };
  io.SaveByExtension(W(tq::WorkFile("async.bmp")));
  io.WaitForIOThreads(false);
  EXPECT_FALSE(io.Aborting);
  TestWindow::Pump();
  EXPECT_GT(gLog.progress, 0);
  EXPECT_LE(gLog.progress, 101);  // one message per change of the percentage
  EXPECT_EQ(gLog.lastPercent, 100);
  EXPECT_EQ(gLog.finish, 1);
  EXPECT_EQ(directOffMain.load(), 0);  // the thread never called a handler
  EXPECT_EQ(direct, 0);
  EXPECT_EQ(finished, 0);

  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("async.bmp")));
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
}

TEST(AsyncIO, ComponentWithItsOwnBitmapStaysSynchronous) {
  TImageryIO io;
  io.Asynchronous = true;
  MakePicture(*io.GetIEBitmap(), 20, 10);
  int finished = 0, lastPer = -1;
  io.OnProgress = [&](void*, int per) { lastPer = per; };
  io.OnFinishWork = [&](void*) { ++finished; };
  io.SaveByExtension(W(tq::WorkFile("sync.tga")));
  EXPECT_EQ(finished, 1);  // done before the call returned
  EXPECT_EQ(lastPer, 100);
  EXPECT_NE(GetFileAttributesA(tq::WorkFile("sync.tga").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(AsyncIO, FreeingTheComponentWaitsForItsThreadAndServesMessages) {
  TestWindow window;
  TIEBitmap picture;
  MakePicture(picture, 1200, 900);
  std::unique_ptr<TImageryIO> io(new TImageryIO(&picture));
  io->Asynchronous = true;
  io->NotifyWindow = window.get();
  io->OnProgress = [](void*, int) {};
  io->OnFinishWork = [](void*) {};
  io->SaveByExtension(W(tq::WorkFile("freed.jp2")));
  io.reset();  // waits for the thread; the posted messages are dispatched meanwhile
  EXPECT_GT(gLog.progress, 0);
  TIEBitmap back;
  TImageryIO reader(&back);
  reader.LoadByExtension(W(tq::WorkFile("freed.jp2")));
  ASSERT_FALSE(reader.Aborting);
  ExpectSamePixels(picture, back);
}
