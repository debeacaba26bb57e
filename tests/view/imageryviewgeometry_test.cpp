// The image view's geometry on a form under the display: maximum origin and clamping, the zoom's
// events, the lookup tables between client and image coordinates, the automatic zoom, the locks, and
// scroll bars, wheel and smooth scroll driven by real input (SendInput).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "iebitmap.h"
#include "ieresample.h"
#include "ieviewglobals.h"
#include "imageryview.h"
#include "uiforms.h"
#include "viewtest_input.h"

using namespace ui;

namespace {

void Pump(int rounds = 5) {
  for (int i = 0; i < rounds; ++i) {
    Application->ProcessMessages();
    Sleep(10);
  }
}

void SetImageSize(TImageryView* v, int w, int h) {
  v->GetIEBitmap()->Allocate(w, h, ie24RGB);
  v->UpdateView();
}

void SendMouse(DWORD flags, int screenX, int screenY, DWORD data = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = LONG(screenX * 65535.0 / (GetSystemMetrics(SM_CXSCREEN) - 1) + 0.5);
  in.mi.dy = LONG(screenY * 65535.0 / (GetSystemMetrics(SM_CYSCREEN) - 1) + 0.5);
  in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  in.mi.mouseData = data;
  SendInput(1, &in, sizeof in);
}

// Down and up are queued together: a scroll bar tracks the mouse in a loop of its own that returns
// only once the button is up.
void Click(POINT p) {
  SendMouse(0, p.x, p.y);
  Pump(2);
  SendMouse(MOUSEEVENTF_LEFTDOWN, p.x, p.y);
  SendMouse(MOUSEEVENTF_LEFTUP, p.x, p.y);
  Pump(5);
}

// A view whose client area is 500 x 500 while both scroll bars show.
class GeometryView : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(20, 20, 700, 700);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBorderStyleValue(bsNone);
    view->SetBounds(10, 10, 500 + IEScrollBarX, 500 + IEScrollBarY);
    form->Show();
    SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form->GetHandle());
    Pump();
  }
  void TearDown() override { form->Free(); }
  POINT ScreenPoint(int clientX, int clientY) {
    POINT p{clientX, clientY};
    ClientToScreen(view->GetHandle(), &p);
    return p;
  }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
};

TEST_F(GeometryView, MaximumOriginScrollsOnePixelFurtherOnlyForLargeImages) {
  SetImageSize(view, 1000, 1000);
  EXPECT_EQ(view->GetViewportWidth(), 500);
  EXPECT_EQ(view->GetViewportHeight(), 500);
  int mx = -1, my = -1;
  view->GetMaxViewOrigin(mx, my);
  EXPECT_EQ(mx, 501);
  EXPECT_EQ(my, 501);
  EXPECT_TRUE(view->CanScroll());

  view->SetViewOrigin(-5, 10000);
  EXPECT_EQ(view->GetViewOriginX(), 0);
  EXPECT_EQ(view->GetViewOriginY(), 501);

  SetImageSize(view, 400, 400);
  view->GetMaxViewOrigin(mx, my);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(my, 0);
  EXPECT_EQ(view->GetViewOriginY(), 0) << "the origin is clamped to the new maximum";
  EXPECT_FALSE(view->CanScroll());
  EXPECT_EQ(view->GetCenterOffsetX(), (view->GetViewportWidth() - 400) / 2);
}

TEST_F(GeometryView, ZoomOfZeroNegativeOrTheCurrentOnlyAnnounces) {
  SetImageSize(view, 1000, 800);
  int changing = 0, changed = 0;
  view->OnViewChanging = [&](void*, int change, double) { changing += change == 2; };
  view->OnViewChange = [&](void*, int) { ++changed; };
  const int updates = view->GetUpdateCount();
  for (double z : {0.0, -25.0, 100.0}) view->SetZoom(z);
  EXPECT_EQ(changing, 3);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(view->GetUpdateCount(), updates);
  EXPECT_EQ(view->GetZoomX(), 100);

  view->SetZoom(250);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(view->GetZoomX(), 250);
  EXPECT_EQ(view->GetZoomY(), 250);
  EXPECT_EQ(view->GetZoomedWidth(), 2500);

  view->SetZoom(1e8);  // bounded: the tables stay a few megabytes
  EXPECT_LE(view->GetZoomX(), 10000);
  EXPECT_GT(view->ClientToImageX(view->GetViewportWidth() - 1), 0);
}

TEST_F(GeometryView, ZoomedSizesRoundTiesToEven) {
  struct Case {
    int width;
    double zoom;
    int zoomed;
  };
  const Case kCases[] = {{5, 50, 2}, {7, 50, 4}, {3, 50, 2}, {1000, 33.3, 333}, {10, 250, 25}};
  for (const Case& c : kCases) {
    SetImageSize(view, c.width, 20);
    view->SetZoom(c.zoom);
    EXPECT_EQ(view->GetZoomedWidth(), c.zoomed) << c.width << " at " << c.zoom;
    view->SetZoom(100);
  }
}

TEST_F(GeometryView, EnlargedPixelsMapToTheirFirstScreenColumn) {
  SetImageSize(view, 1000, 1000);
  view->SetZoom(300);
  view->SetViewOrigin(301, 0);
  const int sx = view->GetSourceRect().left;
  for (int d = 0; d < 3; ++d) EXPECT_EQ(view->ClientToImageX(view->GetCenterOffsetX() + d), sx) << d;
  EXPECT_EQ(view->ClientToImageX(view->GetCenterOffsetX() + 3), sx + 1);

  view->SetZoom(50);
  const int s = view->GetSourceRect().left;
  const int step = view->ImageToClientX(s + 1) - view->ImageToClientX(s);
  EXPECT_TRUE(step == 0 || step == 1) << step;
}

// Over the columns the tables cover the two conversions invert each other and keep order.
TEST_F(GeometryView, ConversionsRoundTripOverTheCoveredColumns) {
  struct Case {
    double zoom;
    int origin;
  };
  const Case kCases[] = {{1, 0},     {33.3, 0},  {50, 0},    {99, 0},     {101, 0},    {250, 0},
                         {400, 0},   {1600, 0},  {200, 37},  {200, 501},  {400, 123}, {400, 1000},
                         {1600, 77}, {1600, 5000}};
  SetImageSize(view, 1000, 700);
  for (const Case& c : kCases) {
    view->SetZoom(c.zoom);
    view->SetViewOrigin(c.origin, c.origin);
    ASSERT_EQ(view->GetZoomX(), c.zoom);
    const RECT src = view->GetSourceRect();
    const int co = view->GetCenterOffsetX();
    if (c.zoom > 100) {
      const int cols = int(view->GetDrawnWidth() * (100 / c.zoom));
      ASSERT_GT(cols, 0);
      int last = -1;
      for (int i = src.left; i < src.left + cols; ++i) {
        const int x = view->ImageToClientX(i);
        ASSERT_EQ(view->ClientToImageX(x), i) << "zoom " << c.zoom << " origin " << c.origin << " column " << i;
        ASSERT_GT(x, last) << "zoom " << c.zoom << " column " << i;
        last = x;
      }
    } else {
      ASSERT_GT(view->GetDrawnWidth(), 0);
      int last = -1;
      const int cols = int(view->GetDrawnWidth() * (100 / c.zoom));
      for (int x = co; x < co + view->GetDrawnWidth(); ++x) {
        const int i = view->ClientToImageX(x);
        if (i - src.left >= cols) break;  // past the image columns the tables cover
        ASSERT_EQ(view->ImageToClientX(i), x) << "zoom " << c.zoom << " client " << x;
        ASSERT_GT(i, last) << "zoom " << c.zoom << " client " << x;
        last = i;
      }
    }
  }
}

TEST_F(GeometryView, AutoFitUsesTheControlLessItsEdge) {
  view->SetBorderStyleValue(bsSingle);  // sunken 3-D edge
  view->SetScrollBarsValue(ssNone);
  view->SetBounds(10, 10, 404, 304);
  Pump();
  ASSERT_EQ(IEEdgeX, GetSystemMetrics(SM_CXEDGE));
  struct Case {
    int w, h;
    double zoom;
  };
  const Case kCases[] = {{4000, 3000, 10}, {1, 1, 100}, {200, 150, 200}};
  view->SetAutoFit(true);
  for (const Case& c : kCases) {
    SetImageSize(view, c.w, c.h);
    EXPECT_DOUBLE_EQ(view->GetZoomX(), c.zoom) << c.w << " x " << c.h;
    EXPECT_DOUBLE_EQ(view->GetZoomY(), c.zoom) << c.w << " x " << c.h;
  }
  view->SetBounds(10, 10, 24, 24);  // 20 / 4000 is 0.5 %
  SetImageSize(view, 4000, 30);
  EXPECT_DOUBLE_EQ(view->GetZoomX(), 1);
}

TEST_F(GeometryView, ScrollBarArrowsPagesAndThumb) {
  SetImageSize(view, 2000, 2000);
  Pump();
  SCROLLBARINFO sb{};
  sb.cbSize = sizeof sb;
  ASSERT_TRUE(GetScrollBarInfo(view->GetHandle(), OBJID_HSCROLL, &sb));
  const RECT bar = sb.rcScrollBar;
  const int midY = (bar.top + bar.bottom) / 2;
  const int arrow = bar.bottom - bar.top;
  struct Case {
    double zoom;
    int step;
  };
  for (const Case& c : {Case{100, 1}, Case{300, 3}}) {
    view->SetZoom(c.zoom);
    view->SetViewOrigin(0, 0);
    Pump();
    Click(POINT{bar.right - arrow / 2, midY});
    EXPECT_EQ(view->GetViewOriginX(), c.step) << "right arrow at " << c.zoom;
    Click(POINT{bar.left + arrow / 2, midY});
    EXPECT_EQ(view->GetViewOriginX(), 0) << "left arrow at " << c.zoom;
  }
  view->SetZoom(100);
  Pump();
  ASSERT_TRUE(GetScrollBarInfo(view->GetHandle(), OBJID_HSCROLL, &sb));
  Click(POINT{bar.right - arrow - 3, midY});  // the trough right of the thumb
  EXPECT_EQ(view->GetViewOriginX(), view->GetViewportWidth());

  // Dragging the thumb moves the view, with tracking or on release without it.
  for (bool tracking : {true, false}) {
    view->HScrollBarParams.Tracking = tracking;
    view->SetViewOrigin(0, 0);
    Pump();
    ASSERT_TRUE(GetScrollBarInfo(view->GetHandle(), OBJID_HSCROLL, &sb));
    const int thumbX = bar.left + (sb.xyThumbTop + sb.xyThumbBottom) / 2;
    SendMouse(0, thumbX, midY);
    Pump(2);
    SendMouse(MOUSEEVENTF_LEFTDOWN, thumbX, midY);
    SendMouse(0, thumbX + 60, midY);
    SendMouse(MOUSEEVENTF_LEFTUP, thumbX + 60, midY);
    Pump(5);
    EXPECT_GT(view->GetViewOriginX(), 100) << "tracking " << tracking;
  }
}

TEST_F(GeometryView, WheelZoomsAboutTheCentreOrTheMouseAndScrolls) {
  SetImageSize(view, 1000, 1000);
  const POINT at = ScreenPoint(100, 100);
  struct Case {
    bool reverse, aboutMouse;
    double zoom;
  };
  const Case kCases[] = {{false, false, 92}, {true, false, 108}, {false, true, 92}};
  for (const Case& c : kCases) {
    view->SetZoom(100);
    view->SetViewOrigin(200, 200);
    view->MouseWheelParams.InvertDirection = c.reverse;
    view->MouseWheelParams.ZoomPosition = c.aboutMouse;
    const int underMouse = view->ClientToImageX(100);
    const int centre = view->ClientToImageX(250);
    SetFocus(view->GetHandle());
    SendMouse(0, at.x, at.y);
    Pump(2);
    SendMouse(MOUSEEVENTF_WHEEL, at.x, at.y, WHEEL_DELTA);  // away from the user
    Pump(5);
    EXPECT_DOUBLE_EQ(view->GetZoomX(), c.zoom) << c.reverse;
    if (c.aboutMouse)
      EXPECT_NEAR(view->ClientToImageX(100), underMouse, 1);
    else
      EXPECT_NEAR(view->ClientToImageX(250), centre, 1);
  }

  view->MouseWheelParams.InvertDirection = false;
  view->MouseWheelParams.Action = 1;
  view->SetZoom(100);
  view->SetViewOrigin(200, 200);
  SetFocus(view->GetHandle());
  SendMouse(MOUSEEVENTF_WHEEL, at.x, at.y, WHEEL_DELTA);
  Pump(5);
  EXPECT_EQ(view->GetViewOriginY(), 200 - 40) << "8 % of the viewport";
  EXPECT_EQ(view->GetViewOriginX(), 200);

  // Ctrl held while the wheel turns: across instead
  view->SetViewOrigin(200, 200);
  viewtest::Key(VK_CONTROL, true);
  SendMouse(MOUSEEVENTF_WHEEL, at.x, at.y, WHEEL_DELTA);
  viewtest::Key(VK_CONTROL, false);
  Pump(5);
  EXPECT_LT(view->GetViewOriginX(), 200);
  EXPECT_EQ(view->GetViewOriginY(), 200);
}

TEST_F(GeometryView, SmoothScrollStepsUntilThereOrAButtonIsDown) {
  SetImageSize(view, 2000, 2000);
  view->SmoothScrollTo(400, 0);
  EXPECT_EQ(view->GetViewOriginX(), 50) << "one step at once: an eighth of the way";
  EXPECT_TRUE(view->IsSmoothScrolling());
  const DWORD start = GetTickCount();
  while (view->IsSmoothScrolling() && GetTickCount() - start < 5000) Pump(1);
  EXPECT_FALSE(view->IsSmoothScrolling());
  EXPECT_NEAR(view->GetViewOriginX(), 400, 4);

  // a button held down (on the form, outside the view) stops it after the first step
  POINT outside{form->GetLeft() + 650, form->GetTop() + 650};
  SendMouse(0, outside.x, outside.y);
  Pump(2);
  SendMouse(MOUSEEVENTF_LEFTDOWN, outside.x, outside.y);
  Pump(2);
  ASSERT_TRUE(GetAsyncKeyState(VK_LBUTTON) < 0);
  view->SmoothScrollTo(0, 0);
  EXPECT_FALSE(view->IsSmoothScrolling());
  const int after = view->GetViewOriginX();
  Pump(10);
  EXPECT_EQ(view->GetViewOriginX(), after);
  SendMouse(MOUSEEVENTF_LEFTUP, outside.x, outside.y);
  Pump(2);
}

// The locks on a view without a window, updates counted by the automatic zoom's announcement.
TEST(ViewLocks, UpdatesRunWhenTheUpdateLockReachesZero) {
  TImageryView* view = New<TImageryView>(nullptr);
  view->GetIEBitmap()->Allocate(300, 200, ie24RGB);
  view->SetAutoFit(true);
  int updates = 0;
  view->OnViewChanging = [&](void*, int change, double) { updates += change == 2; };
  view->SuspendUpdates();
  view->SuspendUpdates();
  view->ResumeUpdates();
  EXPECT_EQ(updates, 0);
  view->ResumeUpdates();
  EXPECT_EQ(updates, 1);
  view->ResumeUpdates();
  EXPECT_EQ(updates, 2);
  EXPECT_EQ(view->GetUpdateLock(), 0);
  EXPECT_EQ(view->ResumePainting(), 0);
  EXPECT_EQ(updates, 3);
  EXPECT_EQ(view->GetPaintLock(), 0);
  // window-less: a 50 x 50 viewport, no scroll bar, arithmetic only
  EXPECT_EQ(view->GetViewportWidth(), 50);
  EXPECT_LT(view->GetZoomX(), 100);
  view->Free();
}

bool SameBuffers(TIEBitmap& a, TIEBitmap& b) {
  if (a.GetImageWidth() != b.GetImageWidth() || a.GetImageHeight() != b.GetImageHeight()) return false;
  for (int y = 0; y < a.GetImageHeight(); ++y)
    for (int x = 0; x < a.GetImageWidth(); ++x) {
      const TIERGB p = a.GetPixelRGB(x, y), q = b.GetPixelRGB(x, y);
      if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
    }
  return true;
}

// With the zoom filter delayed, a zoom or scroll draws without the filter, and the filtered picture
// comes once the countdown has run out, also while selections are not drawn: the back buffer is,
// pixel for pixel, what the view draws without a filter and then what it draws with the filter and
// no delay.
TEST_F(GeometryView, DelayedZoomFilterDrawsFastThenFilteredAfterTheCountdown) {
  TIEBitmap* image = view->GetIEBitmap();
  image->Allocate(600, 600, ie24RGB);  // larger than the viewport at every zoom used
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 600; ++x)
      image->SetRGB(x, y, (x + y) % 2 ? IEMakeRGB(uint8_t(x), 240, uint8_t(y)) : IEMakeRGB(10, uint8_t(x ^ y), 60));
  view->UpdateView();
  const HWND wnd = view->GetHandle();
  auto snapshot = [&](TIEBitmap& out) {
    UpdateWindow(wnd);
    out.Assign(view->GetBackBuffer());
  };
  const POINT centre = ScreenPoint(250, 250);
  struct Case {
    const char* what;
    std::function<void()> change;
    bool drawSelections;
  };
  const Case cases[] = {
      {"wheel", [&] { SendMessage(wnd, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), MAKELPARAM(centre.x, centre.y)); },
       true},
      {"scroll bar", [&] { SendMessage(wnd, WM_HSCROLL, SB_PAGERIGHT, 0); }, true},
      {"zoom from code", [&] { view->SetZoom(170); }, true},
      {"zoom from code, selections not drawn", [&] { view->SetZoom(170); }, false},
  };
  for (const Case& c : cases) {
    view->DrawSelectionsEnabled = c.drawSelections;
    view->DelayZoomFilter = false;
    view->SetZoomFilterValue(rfBilinear);
    view->SetZoom(200);
    view->SetViewOrigin(40, 40);
    Pump(2);
    view->DelayZoomFilter = true;
    c.change();
    TIEBitmap fast, filtered, plain, reference;
    snapshot(fast);
    EXPECT_GT(view->FilterCountdown, 0) << c.what;
    const DWORD start = GetTickCount();
    while (view->FilterCountdown > 0 && GetTickCount() - start < 10000) Pump(1);
    ASSERT_EQ(0, view->FilterCountdown) << c.what;
    snapshot(filtered);
    view->DelayZoomFilter = false;
    view->SetZoomFilterValue(rfNone);
    snapshot(plain);
    view->SetZoomFilterValue(rfBilinear);
    snapshot(reference);
    EXPECT_FALSE(SameBuffers(plain, reference)) << c.what;
    EXPECT_TRUE(SameBuffers(fast, plain)) << c.what;
    EXPECT_TRUE(SameBuffers(filtered, reference)) << c.what;
    view->DrawSelectionsEnabled = true;
  }
  // at 100 % the filter is not delayed; an automatic zoom ends both countdowns at once
  view->SetZoom(100);
  view->DelayZoomFilter = true;
  view->SetViewOrigin(0, 10);
  EXPECT_EQ(0, view->FilterCountdown);
  EXPECT_EQ(view->AntsPauseTicks, view->AntsPauseCountdown);
  view->SetZoom(150);
  view->SetViewOrigin(30, 30);
  EXPECT_EQ(view->FilterDelayTicks, view->FilterCountdown);
  view->SetAutoFit(true);
  EXPECT_EQ(0, view->FilterCountdown);
  EXPECT_EQ(0, view->AntsPauseCountdown);
  view->SetAutoFit(false);
}

}  // namespace
