// The image view on a form under the display: it shows an assigned image (read back from the screen,
// not from the view's own buffers), and I/O threads reach its events through posted messages.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "hostenv.h"
#include "iebitmap.h"
#include "imageryio.h"
#include "imageryview.h"
#include "uibitmap.h"
#include "uiforms.h"

using namespace ui;

namespace {

void Pump(int rounds = 5) {
  for (int i = 0; i < rounds; ++i) {
    Application->ProcessMessages();
    Sleep(10);
  }
}

// What the screen shows of a window's client area at (x, y).
COLORREF ScreenPixel(HWND h, int x, int y) {
  HDC dc = GetDC(h);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bmp = CreateCompatibleBitmap(dc, 1, 1);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, 1, 1, dc, x, y, SRCCOPY);
  const COLORREF c = GetPixel(mem, 0, 0);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(h, dc);
  return c;
}

class WindowedView : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(40, 40, 360, 280);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBounds(10, 10, 240, 180);
  }
  void TearDown() override {
    Application->OnException = nullptr;
    form->Free();
  }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
};

}  // namespace

TEST_F(WindowedView, ShowsTheAssignedImageCentredOnItsBackground) {
  TBitmap picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(80, 60);
  picture.Canvas()->Brush()->SetColor(RGB(200, 30, 40));
  picture.Canvas()->FillRect(RECT{0, 0, 80, 60});
  picture.Canvas()->Brush()->SetColor(RGB(20, 40, 220));
  picture.Canvas()->FillRect(RECT{40, 30, 80, 60});  // bottom-right quarter blue
  view->SetBackground(RGB(0, 128, 0));
  view->Assign(&picture);
  form->Show();
  SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Pump();
  HWND h = view->GetHandle();
  UpdateWindow(h);
  Pump();
  RECT client;
  GetClientRect(h, &client);
  EXPECT_EQ(client.right, view->GetViewportWidth());
  EXPECT_EQ(client.bottom, view->GetViewportHeight());
  const int ox = (client.right - 80) / 2, oy = (client.bottom - 60) / 2;
  EXPECT_EQ(RGB(200, 30, 40), ScreenPixel(h, ox + 5, oy + 5));
  EXPECT_EQ(RGB(20, 40, 220), ScreenPixel(h, ox + 70, oy + 50));
  EXPECT_EQ(RGB(0, 128, 0), ScreenPixel(h, 3, 3));
  EXPECT_EQ(RGB(0, 128, 0), ScreenPixel(h, ox + 85, oy + 30));

  // a new image shows after the view updates
  picture.Canvas()->Brush()->SetColor(RGB(250, 250, 0));
  picture.Canvas()->FillRect(RECT{0, 0, 80, 60});
  view->Assign(&picture);
  Pump();
  EXPECT_EQ(RGB(250, 250, 0), ScreenPixel(h, ox + 5, oy + 5));
}

TEST_F(WindowedView, PaintsItsBackgroundStyleAroundTheImage) {
  TBitmap picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(80, 60);
  picture.Canvas()->Brush()->SetColor(RGB(200, 30, 40));
  picture.Canvas()->FillRect(RECT{0, 0, 80, 60});
  view->SetBackground(RGB(0, 128, 0));
  view->SetBackgroundStyleValue(iebsPhotoLike);
  view->Assign(&picture);
  form->Show();
  SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Pump();
  HWND h = view->GetHandle();
  UpdateWindow(h);
  Pump();
  const int ox = view->GetCenterOffsetX(), oy = view->GetCenterOffsetY();
  EXPECT_EQ(RGB(0xB0, 0xB0, 0xB0), ScreenPixel(h, 3, 3));
  EXPECT_EQ(RGB(0, 0, 0), ScreenPixel(h, ox - 1, oy - 1));
  EXPECT_EQ(RGB(0, 0, 0), ScreenPixel(h, ox + 80, oy + 60));
  EXPECT_EQ(RGB(200, 30, 40), ScreenPixel(h, ox + 5, oy + 5));

  // a chessboard from the window's corner
  view->SetBackgroundStyleValue(iebsChessboard);
  Pump();
  EXPECT_EQ(RGB(0, 128, 0), ScreenPixel(h, 0, 0));
  EXPECT_EQ(RGB(255, 127, 255), ScreenPixel(h, 16, 0));
  EXPECT_EQ(RGB(200, 30, 40), ScreenPixel(h, ox + 5, oy + 5));
}

TEST_F(WindowedView, PaintLockStopsTheCopyButNotOnPaint) {
  form->Show();
  Pump();
  int paints = 0;
  view->OnPaint = [&](TObject*) { ++paints; };
  view->SuspendPainting();
  InvalidateRect(view->GetHandle(), nullptr, FALSE);
  Pump();
  EXPECT_GT(paints, 0);
  view->ResumePainting();
}

TEST_F(WindowedView, PointerEnteringAndLeavingFiresTheMouseEvents) {
  form->Show();
  Pump();
  std::string seen;
  view->OnMouseEnter = [&](TObject* sender) { seen += sender == view ? "E" : "?"; };
  view->OnMouseLeave = [&](TObject* sender) { seen += sender == view ? "L" : "?"; };
  POINT inside{20, 20}, outside{300, 20};  // client points of the view and of the form beside it
  ClientToScreen(view->GetHandle(), &inside);
  ClientToScreen(form->GetHandle(), &outside);
  // The application's idle step looks up the control under the pointer; it runs when the queue is
  // empty, and a timer wakes the loop up again afterwards. The loop is served until one idle step
  // has run with the pointer at `p`, for at most 10 s.
  int idleSteps = 0;
  Application->OnIdle = [&](TObject*, bool&) { ++idleSteps; };
  auto idleAt = [&](POINT p) {
    SetCursorPos(p.x, p.y);
    Pump(2);
    const int before = idleSteps;
    SetTimer(form->GetHandle(), 7, 30, nullptr);
    const DWORD start = GetTickCount();
    while (idleSteps == before && GetTickCount() - start < 10000) Application->HandleMessage();
    KillTimer(form->GetHandle(), 7);
    EXPECT_NE(idleSteps, before) << "no idle step";
  };
  idleAt(outside);
  idleAt(inside);
  idleAt(inside);  // still inside: nothing new
  idleAt(outside);
  Application->OnIdle = nullptr;
  EXPECT_EQ(seen, "EL");
}

TEST_F(WindowedView, ProgressFromAnIOThreadArrivesThroughMessage8027) {
  form->Show();
  Pump();
  TBitmap picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(900, 700);
  for (int y = 0; y < 700; ++y) {
    auto* row = static_cast<uint8_t*>(picture.ScanLine(y));
    for (int i = 0; i < picture.BytesPerLine(); ++i) row[i] = uint8_t(i * 31 + y);
  }
  view->Assign(&picture);
  const DWORD uiThread = GetCurrentThreadId();
  int calls = 0, offThread = 0, last = -1, finished = 0;
  view->SetOnProgressValue([&](void* sender, int per) {
    ++calls;
    if (GetCurrentThreadId() != uiThread) ++offThread;
    EXPECT_EQ(static_cast<void*>(view), sender);  // the message handler names the view
    last = per;
  });
  view->SetOnFinishWorkValue([&](void*) { ++finished; });
  TImageryIO* io = view->GetIO();
  io->Asynchronous = true;
  const std::string file = tq::WorkFile("async_view.jp2");
  io->SaveByExtension(std::wstring(file.begin(), file.end()));
  EXPECT_EQ(0, finished);  // the save runs on a thread, whose notices wait in the view's queue
  for (int i = 0; i < 2000 && finished == 0; ++i) Pump(1);
  EXPECT_EQ(1, finished);
  EXPECT_GT(calls, 0);
  EXPECT_EQ(0, offThread);
  EXPECT_EQ(100, last);
  EXPECT_FALSE(io->Aborting);

  // the message itself: wParam is the percentage
  calls = 0;
  PostMessageW(view->GetHandle(), 8027, 57, 0);
  Pump(2);
  EXPECT_EQ(1, calls);
  EXPECT_EQ(57, last);
}
