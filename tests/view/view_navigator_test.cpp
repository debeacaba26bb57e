// A navigator linked to a view: its rectangle follows the view's scrolling, dragging the rectangle
// scrolls the view, its wheel zooms the view, it follows every change of the view's bitmap and gives
// its own image back when unlinked; and flat scroll bars keep the plain ones' ranges and positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "iebitmap.h"
#include "ielayer.h"
#include "iemask.h"
#include "imageryview.h"
#include "uiforms.h"
#include "viewtest_input.h"

using namespace ui;
using viewtest::Pump;

namespace {

class Navigated : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(20, 20, 720, 420);
    view = Make(10, 400, 300);
    nav = Make(450, 200, 150);
    TIEBitmap* image = view->GetIEBitmap();
    image->Allocate(640, 480, ie24RGB);
    image->Fill(double(RGB(120, 120, 120)));
    view->UpdateView();
    form->Show();
    SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form->GetHandle());
    Pump(5);
    view->SetNavigator(nav, 1);
    Pump(3);
  }
  void TearDown() override { form->Free(); }
  TImageryView* Make(int left, int w, int h) {
    TImageryView* v = New<TImageryView>(form);
    v->SetParent(form);
    v->SetBorderStyleValue(bsNone);
    v->SetBounds(left, 10, w, h);
    return v;
  }
  // The view's visible image area: left, top, right, bottom (exclusive).
  RECT Visible() {
    return RECT{view->ClientToImageX(view->GetCenterOffsetX()), view->ClientToImageY(view->GetCenterOffsetY()),
                view->ClientToImageX(view->GetCenterOffsetX() + view->GetExtentWidth()),
                view->ClientToImageY(view->GetCenterOffsetY() + view->GetExtentHeight())};
  }
  POINT NavScreen(int imageX, int imageY) {
    TIELayer* l = nav->GetCurrentLayer();
    POINT p{l->BitmapToClientX(imageX), l->BitmapToClientY(imageY)};
    ClientToScreen(nav->GetHandle(), &p);
    return p;
  }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
  TImageryView* nav = nullptr;
};

TEST_F(Navigated, RectangleFollowsTheViewsScrolling) {
  EXPECT_TRUE(nav->GetIsNavigator());
  EXPECT_EQ(nav->GetIEBitmap(), view->GetIEBitmap());
  EXPECT_LT(nav->GetZoomX(), 100) << "the navigator fits the image";
  view->SetViewOrigin(100, 80);
  const RECT v = Visible();
  EXPECT_EQ(v.left, 100);
  EXPECT_EQ(nav->SelectedLeft(), v.left);
  EXPECT_EQ(nav->SelectedTop(), v.top);
  EXPECT_EQ(nav->SelectedRight() + 1 - nav->SelectedLeft(), v.right - v.left);
  EXPECT_EQ(nav->SelectedBottom() + 1 - nav->SelectedTop(), v.bottom - v.top);
  view->SetZoom(200);
  const RECT z = Visible();
  EXPECT_EQ(nav->SelectedLeft(), z.left);
  EXPECT_EQ(nav->SelectedRight() + 1 - nav->SelectedLeft(), z.right - z.left);
}

TEST_F(Navigated, DraggingTheRectangleScrollsTheView) {
  view->SetViewOrigin(60, 40);
  Pump(3);
  const int left = nav->SelectedLeft(), top = nav->SelectedTop();
  const POINT a = NavScreen(left + 50, top + 50);
  viewtest::MouseTo(a);
  viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
  for (int i = 1; i <= 4; ++i) {
    viewtest::MouseTo(POINT{a.x + 5 * i, a.y + 3 * i});
    // the view follows at every step, and does not put the rectangle back meanwhile (the moved
    // rectangle's mask is rebuilt only when the button goes up)
    EXPECT_EQ(view->GetViewOriginX(), int(std::lrint(nav->SelectedLeft() * view->GetZoomX() / 100)));
    EXPECT_EQ(view->GetViewOriginY(), int(std::lrint(nav->SelectedTop() * view->GetZoomX() / 100)));
    EXPECT_TRUE(nav->GetSelectionMask()->IsEmpty()) << "re-synchronised in the middle of the drag";
  }
  viewtest::Buttons(MOUSEEVENTF_LEFTUP);
  EXPECT_GT(nav->SelectedLeft(), left);
  EXPECT_GT(nav->SelectedTop(), top);
  EXPECT_EQ(view->GetViewOriginX(), nav->SelectedLeft());
  EXPECT_EQ(view->GetViewOriginY(), nav->SelectedTop());
}

TEST_F(Navigated, WheelOverTheNavigatorZoomsTheView) {
  const double navZoom = nav->GetZoomX();
  viewtest::MouseTo(NavScreen(320, 240));
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = MOUSEEVENTF_WHEEL;
  in.mi.mouseData = DWORD(-WHEEL_DELTA);
  SendInput(1, &in, sizeof in);
  Pump(3);
  EXPECT_EQ(view->GetZoomX(), 108);
  EXPECT_EQ(nav->GetZoomX(), navZoom);
}

TEST_F(Navigated, FollowsEveryBitmapChangeAndGivesItsOwnImageBack) {
  view->AddLayer();
  EXPECT_EQ(nav->GetIEBitmap(), view->GetIEBitmap());
  view->SetCurrentLayer(0);
  EXPECT_EQ(nav->GetIEBitmap(), view->GetIEBitmap());
  view->SetCurrentLayer(1);
  view->RemoveLayer(1);  // frees the bitmap the navigator showed
  EXPECT_EQ(nav->GetIEBitmap(), view->GetIEBitmap());
  view->SetLegacyBitmapValue(false);
  EXPECT_EQ(nav->GetIEBitmap(), view->GetIEBitmap());
  Pump(3);  // paints with what it shows now

  // linking another navigator gives the first its own image and handlers back
  TImageryView* second = Make(450, 120, 90);
  view->SetNavigator(second, 0);
  EXPECT_FALSE(nav->GetIsNavigator());
  EXPECT_NE(nav->GetIEBitmap(), view->GetIEBitmap());
  EXPECT_TRUE(nav->GetIEBitmap()->IsEmpty());
  EXPECT_FALSE(bool(nav->OnSelectionChanging));
  EXPECT_FALSE(bool(nav->OnMouseWheel));
  EXPECT_EQ(second->GetIEBitmap(), view->GetIEBitmap());
  // freeing the navigator unlinks it
  second->Free();
  EXPECT_EQ(view->GetNavigatorView(), nullptr);
  view->SetViewOrigin(10, 10);
  Pump(3);
}

// A navigator that notes how its painting is held.
class HeldNavigator : public TImageryView {
 public:
  void SuspendPainting() override {
    TImageryView::SuspendPainting();
    ++holds;
    deepest = std::max(deepest, GetPaintLock());
  }
  int holds = 0, deepest = 0;
};

// Zooming the view holds the navigator's painting for the zoom (from code and about a point, as the
// wheel does), and lets it go again: the navigator paints the synchronised rectangle once.
TEST_F(Navigated, ZoomingHoldsTheNavigatorsPaintingMeanwhile) {
  auto* held = New<HeldNavigator>(form);
  held->SetParent(form);
  held->SetBounds(450, 200, 200, 150);
  view->SetNavigator(held, 1);
  Pump(3);
  struct Case {
    const char* what;
    std::function<void()> zoom;
  };
  const Case cases[] = {{"zoom from code", [&] { view->SetZoom(150); }},
                        {"zoom about a point", [&] { view->ZoomAt(100, 80, 220, false); }}};
  for (const Case& c : cases) {
    held->holds = held->deepest = 0;
    c.zoom();
    EXPECT_GE(held->holds, 1) << c.what;
    EXPECT_GE(held->deepest, 1) << c.what;
    EXPECT_EQ(0, held->GetPaintLock()) << c.what;
    const RECT v = Visible();
    EXPECT_EQ(held->SelectedLeft(), v.left) << c.what;
    EXPECT_EQ(held->SelectedRight() + 1 - held->SelectedLeft(), v.right - v.left) << c.what;
  }
  view->SetNavigator(nullptr, 0);
}

TEST_F(Navigated, FlatScrollBarsKeepRangesAndPositions) {
  view->SetViewOrigin(120, 90);
  Pump(3);
  auto info = [&](int bar) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(view->GetHandle(), bar, &si);
    return si;
  };
  const SCROLLINFO h = info(SB_HORZ), v = info(SB_VERT);
  const int updates = view->GetUpdateCount();
  view->SetFlatScrollBarsValue(false);  // unchanged: nothing happens
  EXPECT_EQ(view->GetUpdateCount(), updates);
  for (bool flat : {true, false}) {
    view->SetFlatScrollBarsValue(flat);
    Pump(3);
    const SCROLLINFO h2 = info(SB_HORZ), v2 = info(SB_VERT);
    EXPECT_EQ(h2.nMax, h.nMax) << flat;
    EXPECT_EQ(h2.nPage, h.nPage) << flat;
    EXPECT_EQ(h2.nPos, h.nPos) << flat;
    EXPECT_EQ(v2.nPos, v.nPos) << flat;
    EXPECT_EQ(view->GetViewportWidth(), 400 - GetSystemMetrics(SM_CXVSCROLL)) << flat;
  }
}

}  // namespace
