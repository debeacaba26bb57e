// The view's selection driven through its calls on a shown form: the exact masks of rectangles,
// ellipses, polygons and the magic wand, moving and resizing, the hit tests in client pixels, the
// ants' timer rule, and the selection state record with its stack.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "iemask.h"
#include "iestreams.h"
#include "imageryview.h"
#include "uiforms.h"
#include "viewtest_input.h"

using namespace ui;
using viewtest::MaskStats;
using viewtest::Pump;
using viewtest::Stats;

namespace {

class SelectionView : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(20, 20, 720, 560);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBounds(4, 4, 680, 520);
    TIEBitmap* image = view->GetIEBitmap();
    image->Allocate(640, 480, ie24RGB);
    image->Fill(double(RGB(128, 128, 128)));
    view->UpdateView();
    view->SetSelectionBase(iesbBitmap);
    form->Show();
    Pump();
  }
  void TearDown() override { form->Free(); }
  MaskStats Mask() { return Stats(view->GetSelectionMask()); }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
};

}  // namespace

TEST_F(SelectionView, RectanglesGiveExactMasks) {
  struct Case {
    const char* name;
    int x1, y1, x2, y2;
    int count, bx1, by1, bx2, by2;
  };
  const Case cases[] = {
      {"corners in any order", 50, 40, 10, 10, 40 * 30, 10, 10, 49, 39},
      {"ordered", 10, 10, 50, 40, 40 * 30, 10, 10, 49, 39},
      {"past the image is clamped", 600, 450, 700, 520, 40 * 30, 600, 450, 639, 479},
      {"before the image is clamped", -20, -30, 5, 6, 5 * 6, 0, 0, 4, 5},
  };
  for (const Case& c : cases) {
    view->SelectRect(c.x1, c.y1, c.x2, c.y2, 0);
    const MaskStats s = Mask();
    EXPECT_TRUE(view->GetSelected()) << c.name;
    EXPECT_EQ(c.count, s.count) << c.name;
    EXPECT_EQ(c.bx1, s.x1) << c.name;
    EXPECT_EQ(c.by1, s.y1) << c.name;
    EXPECT_EQ(c.bx2, s.x2) << c.name;
    EXPECT_EQ(c.by2, s.y2) << c.name;
    EXPECT_EQ(4, view->GetSelectionPolygonCount()) << c.name;
    EXPECT_EQ(c.bx1, view->SelectedLeft()) << c.name;
    EXPECT_EQ(c.by2, view->SelectedBottom()) << c.name;
  }
  // clamped to the image: the exclusive right edge is the width itself
  view->SelectRect(600, 450, 700, 520, 0);
  EXPECT_EQ(640, view->GetSelectionPolygon()[1].x);
  EXPECT_EQ(480, view->GetSelectionPolygon()[2].y);

  // zero width: nothing at all
  view->Deselect();
  view->SelectRect(10, 10, 10, 50, 0);
  EXPECT_FALSE(view->GetSelected());
  EXPECT_EQ(0, view->GetSelectionPolygonCount());
  EXPECT_TRUE(view->GetSelectionMask()->IsEmpty());
}

TEST_F(SelectionView, AddingRectanglesKeepsBothAreas) {
  view->SelectRect(10, 10, 20, 20, 0);
  view->SelectRect(100, 100, 130, 120, 1);
  EXPECT_EQ(9, view->GetSelectionPolygonCount());
  EXPECT_EQ(kIEPolygonSeparator, view->GetSelectionPolygon()[4].x);
  const MaskStats s = Mask();
  EXPECT_EQ(100 + 600, s.count);
  EXPECT_EQ(10, s.x1);
  EXPECT_EQ(129, s.x2);
  // operation 0 replaces both
  view->SelectRect(0, 0, 2, 2, 0);
  EXPECT_EQ(4, Mask().count);
  EXPECT_EQ(4, view->GetSelectionPolygonCount());
}

TEST_F(SelectionView, AspectRatioAndSquareShapeTheRectangle) {
  struct Case {
    const char* name;
    double ratio;
    bool square;
    int x1, y1, x2, y2;
    int w, h;  // of the mask's box
  };
  const Case cases[] = {
      {"ratio 0.5", 0.5, false, 0, 0, 100, 80, 100, 50},
      {"ratio 2", 2.0, false, 10, 10, 40, 15, 30, 60},
      {"square", -1, true, 0, 0, 100, 80, 100, 100},
      {"free", -1, false, 0, 0, 100, 80, 100, 80},
      // y2 would leave the image: x2 follows from the last row instead
      {"ratio 1 at the bottom", 1.0, false, 0, 400, 200, 450, 79, 80},
  };
  for (const Case& c : cases) {
    view->SetSelectionAspectRatio(c.ratio);
    view->SelectRectInternal(c.x1, c.y1, c.x2, c.y2, 0, c.square, false);
    view->EndSelection();
    const MaskStats s = Mask();
    EXPECT_EQ(c.w, s.x2 - s.x1 + 1) << c.name;
    EXPECT_EQ(c.h, s.y2 - s.y1 + 1) << c.name;
    EXPECT_EQ(c.w * c.h, s.count) << c.name;
  }
  // a ratio makes the selection sizeable, 0 (fixed size) does not
  view->SetSelectionAspectRatio(0);
  EXPECT_EQ(0, view->GetSelectionOptions() & IESelOpt(iesoSizeable));
  view->SetSelectionAspectRatio(0.5);
  EXPECT_NE(0, view->GetSelectionOptions() & IESelOpt(iesoSizeable));
}

TEST_F(SelectionView, EllipseFillsItsArea) {
  view->SelectEllipse(320, 240, 100, 50, 0);
  EXPECT_EQ(314, view->GetSelectionPolygonCount());  // Trunc(50 x 2 pi) points
  const MaskStats s = Mask();
  EXPECT_NEAR(220, s.x1, 1);
  EXPECT_NEAR(419, s.x2, 1);
  EXPECT_NEAR(190, s.y1, 1);
  EXPECT_NEAR(289, s.y2, 1);
  EXPECT_NEAR(3.14159 * 100 * 50, s.count, 3.14159 * 100 * 50 * 0.02);
  // a small one still gets 50 points, an added one is a second polygon
  view->SelectEllipse(20, 20, 3, 3, 1);
  EXPECT_EQ(314 + 1 + 50, view->GetSelectionPolygonCount());
  EXPECT_GT(Mask().count, s.count);
}

TEST_F(SelectionView, PolygonsAndLassoFillEvenOdd) {
  // a triangle point by point, its mouse position ending it twice (the last point dropped)
  const POINT tri[] = {{10, 10}, {110, 10}, {10, 110}, {10, 110}};
  for (const POINT& p : tri) view->AddSelectionPoint(p.x, p.y);
  view->EndPolygonSelection(false, true);
  EXPECT_EQ(3, view->GetSelectionPolygonCount());
  MaskStats s = Mask();
  EXPECT_NEAR(5000, s.count, 100);
  EXPECT_EQ(10, s.x1);
  EXPECT_EQ(10, s.y1);
  EXPECT_LE(s.x2, 109);

  // a second polygon of the same selection: a lasso-like square far away
  view->BeginNewPolygon();
  for (int i = 0; i <= 40; ++i) view->AddSelectionPoint(300 + i, 300);
  for (int i = 0; i <= 40; ++i) view->AddSelectionPoint(340, 300 + i);
  for (int i = 40; i >= 0; --i) view->AddSelectionPoint(300 + i, 340);
  view->EndPolygonSelection(true, false);
  s = Mask();
  EXPECT_NEAR(5000 + 1600, s.count, 100);
  EXPECT_EQ(339, s.x2);

  // cut back to the triangle, then nothing
  const int before = view->GetSelectionPolygonCount();
  view->RemoveLastPolygon(view->GetSelectionPolygonStore());
  EXPECT_EQ(3, view->GetSelectionPolygonCount());
  EXPECT_LT(3, before);
  view->RemoveLastPolygon(view->GetSelectionPolygonStore());
  EXPECT_EQ(0, view->GetSelectionPolygonCount());

  // a polygon with no area removes the selection
  view->Deselect();
  view->AddSelectionPoint(5, 5);
  view->AddSelectionPoint(50, 5);
  view->EndPolygonSelection(false, false);
  EXPECT_FALSE(view->GetSelected());
  EXPECT_EQ(0, view->GetSelectionPolygonCount());
}

TEST_F(SelectionView, StoreOperations) {
  TIEPolygonStore* store = view->GetSelectionPolygonStore();
  view->ClearPolygon(store);
  view->AddSelectionPointRaw(store, 30, 40);
  view->AddSelectionPointRaw(store, 10, 50);
  EXPECT_EQ(10, store->X1);
  EXPECT_EQ(40, store->Y1);
  EXPECT_EQ(30, store->X2);
  EXPECT_EQ(50, store->Y2);
  view->AddPolygonSeparator(store);
  view->AddPolygonSeparator(store);  // never two in a row
  EXPECT_EQ(3, store->Count);
  EXPECT_EQ(30, store->X2);  // a separator is no corner
  view->RemoveLastPoint(store);
  EXPECT_EQ(2, store->Count);
  view->AddPolygonSeparator(store);
  view->AddSelectionPointRaw(store, 1, 1);
  view->RemoveLastPoint(store);  // the point, and the separator left last
  EXPECT_EQ(2, store->Count);

  struct Case {
    std::vector<POINT> points;
    bool rectangle;
  };
  const Case cases[] = {
      {{{0, 0}, {5, 0}, {5, 5}, {0, 5}}, true},
      {{{0, 0}, {0, 5}, {5, 5}, {5, 0}}, true},
      {{{0, 0}, {5, 0}, {5, 5}, {1, 5}}, false},
      {{{0, 0}, {5, 0}, {5, 0}, {0, 0}}, false},
      {{{0, 0}, {5, 0}, {5, 5}}, false},
      {{{0, 0}, {5, 0}, {5, 5}, {0, 5}, {0, 0}}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.rectangle, TImageryView::IsRectanglePolygon(c.points.data(), int(c.points.size())));
}

TEST_F(SelectionView, MagicWandSelectsAFlatRegion) {
  TIEBitmap* image = view->GetIEBitmap();
  for (int y = 100; y < 150; ++y)
    for (int x = 100; x < 200; ++x) image->SetRGB(x, y, IEMakeRGB(20, 40, 200));
  for (int y = 300; y < 310; ++y)
    for (int x = 300; x < 310; ++x) image->SetRGB(x, y, IEMakeRGB(20, 40, 200));
  struct Case {
    uint8_t mode;
    int count;
  };
  const Case cases[] = {{0, 5000}, {1, 5000}, {2, 5100}};
  for (const Case& c : cases) {
    view->Deselect();
    view->MagicWandMode = c.mode;
    view->SelectMagicWand(150, 120, 0);
    const MaskStats s = Mask();
    EXPECT_TRUE(view->GetSelected()) << int(c.mode);
    EXPECT_EQ(c.count, s.count) << int(c.mode);
    EXPECT_EQ(100, s.x1) << int(c.mode);
    EXPECT_EQ(100, s.y1) << int(c.mode);
    EXPECT_EQ(c.mode == 2 ? 309 : 199, s.x2) << int(c.mode);
    // the outline becomes the polygon; a fill has none and its ants follow the mask
    if (c.mode == 0) EXPECT_GE(view->GetSelectionPolygonCount(), 4);
    else EXPECT_EQ(0, view->GetSelectionPolygonCount());
  }
  // outside the image nothing changes
  view->SelectMagicWand(700, 10, 0);
  view->SelectMagicWand(-1, 10, 0);
  EXPECT_EQ(5100, Mask().count);
  // adding the grey around the first region
  view->Deselect();
  view->MagicWandMode = 0;
  view->SelectMagicWand(150, 120, 0);
  view->SelectMagicWand(305, 305, 1);
  EXPECT_EQ(5100, Mask().count);
}

TEST_F(SelectionView, MovingStopsAtTheEdgeUnlessBordersCut) {
  view->SelectRect(10, 10, 50, 40, 0);
  view->MoveSelectionBy(1000, 5);
  MaskStats s = Mask();
  EXPECT_EQ(1200, s.count);
  EXPECT_EQ(600, s.x1);
  EXPECT_EQ(639, s.x2);
  EXPECT_EQ(15, s.y1);
  EXPECT_FALSE(view->GetSelectionMoving());

  view->SetSelectionOptions(view->GetSelectionOptions() | IESelOpt(iesoCutBorders));
  view->MoveSelectionBy(1000, 0);
  s = Mask();
  EXPECT_EQ(639, s.x1);  // the last column stays inside
  EXPECT_EQ(30, s.count);
  view->MoveSelectionBy(0, -1000);
  s = Mask();
  EXPECT_EQ(0, s.y1);
  EXPECT_EQ(0, s.y2);  // and the first row
  EXPECT_EQ(1, s.count);

  // a mask that is no rectangle moves with its pixels
  view->SetSelectionOptions(view->GetSelectionOptions() & TIESelectionOptions(~IESelOpt(iesoCutBorders)));
  view->SelectEllipse(100, 100, 20, 10, 0);
  const MaskStats e = Mask();
  view->MoveSelectionBy(-1000, 7);
  s = Mask();
  EXPECT_EQ(e.count, s.count);
  EXPECT_EQ(0, s.x1);
  EXPECT_EQ(e.y1 + 7, s.y1);
}

TEST_F(SelectionView, GripsResizeAndFlip) {
  view->SelectRect(100, 100, 200, 150, 0);
  view->BeginSelectionGripDrag(3);
  EXPECT_EQ(3, view->ResizeSelectionByGrip(3, 250, 200, false));
  view->GetSelectionMask()->Clear();
  view->EndSelection();
  MaskStats s = Mask();
  EXPECT_EQ(100, s.x1);
  EXPECT_EQ(250, s.x2);  // the right bound is exclusive: the point's column is in
  EXPECT_EQ(200, s.y2);
  EXPECT_EQ(151 * 101, s.count);

  // dragged across the opposite corner the top-left grip becomes the bottom-right one
  view->SelectRect(100, 100, 200, 150, 0);
  view->BeginSelectionGripDrag(1);
  EXPECT_EQ(3, view->ResizeSelectionByGrip(1, 300, 180, false));
  const TIEPolygonStore* store = view->GetSelectionPolygonStore();
  EXPECT_EQ(200, store->X1);
  EXPECT_EQ(150, store->Y1);
  EXPECT_EQ(300, store->X2);
  EXPECT_EQ(180, store->Y2);

  // a side grip moves one edge only
  view->SelectRect(100, 100, 200, 150, 0);
  view->BeginSelectionGripDrag(7);
  EXPECT_EQ(7, view->ResizeSelectionByGrip(7, 0, 60, false));
  EXPECT_EQ(60, store->Y1);
  EXPECT_EQ(100, store->X1);
  EXPECT_EQ(200, store->X2);

  // keep aspect with ratio 0.5: the bottom-right corner follows the diagonal
  view->SetSelectionAspectRatio(0.5);
  view->SelectRect(100, 100, 200, 150, 0);
  view->BeginSelectionGripDrag(6);
  EXPECT_EQ(3, view->ResizeSelectionByGrip(6, 300, 0, true));
  EXPECT_EQ(301, store->X2);
  EXPECT_EQ(201, store->Y2);  // Round(100 + 201 / 2 - 1) + 1
}

TEST_F(SelectionView, KeptAspectStaysInsideTheImage) {
  // the corner dragged far past the top-left: back on the diagonal, then cut back at the image edge
  view->SelectRect(100, 100, 200, 150, 0);
  view->BeginSelectionGripDrag(1);
  EXPECT_EQ(1, view->ResizeSelectionByGrip(1, -200, -300, true));
  const TIEPolygonStore* store = view->GetSelectionPolygonStore();
  EXPECT_EQ(200, store->X2);
  EXPECT_EQ(150, store->Y2);
  EXPECT_GE(store->X1, 0);
  EXPECT_GE(store->Y1, 0);
  EXPECT_LE(store->X1, 2);
  EXPECT_NEAR(101.0 / 51, double(store->X2 - store->X1) / (store->Y2 - store->Y1), 0.05);
}

TEST_F(SelectionView, ExtremeAspectClampsWithoutWalking) {
  // A ratio of a million, dragged ten million pixels out: the corner comes back inside at once.
  view->SelectRect(100, 100, 102, 400, 0);
  view->SetSelectionAspectRatio(1e6);
  view->BeginSelectionGripDrag(1);
  view->ResizeSelectionByGrip(1, -10000000, -10000000, true);
  const TIEPolygonStore* store = view->GetSelectionPolygonStore();
  EXPECT_GE(store->X1, 0);
  EXPECT_GE(store->Y1, 0);
  EXPECT_LE(store->X2, 640);
  EXPECT_LE(store->Y2, 480);
  for (int grip : {2, 4, 7, 8}) {
    view->SelectRect(300, 200, 302, 260, 0);
    view->BeginSelectionGripDrag(grip);
    view->ResizeSelectionByGrip(grip, grip == 2 ? 50000000 : -50000000, grip == 8 ? 90000000 : -90000000, true);
    EXPECT_GE(store->X1, 0) << grip;
    EXPECT_GE(store->Y1, 0) << grip;
    EXPECT_LE(store->X2, 640) << grip;
    EXPECT_LE(store->Y2, 480) << grip;
  }
}

TEST(ClipRectKeepAspect, ShrinksTowardsTheFixedCorner) {
  struct Case {
    RECT r;
    int fixed;
    RECT expected;
  };
  const Case cases[] = {
      {{0, 0, 50, 20}, 1, {0, 0, 50, 20}},        // inside: unchanged
      {{10, 10, 210, 110}, 1, {10, 10, 100, 55}},  // right edge crossed: halved...
      {{-100, 50, 100, 150}, 3, {0, 100, 100, 150}},  // left edge from the bottom-right corner
      {{50, -80, 90, 80}, 4, {50, 0, 70, 80}},         // top from the bottom-left
      {{60, 60, 80, 260}, 1, {60, 60, 64, 100}},       // bottom
  };
  for (const Case& c : cases) {
    const RECT r = IEClipRectKeepAspect(c.r, c.fixed, 100, 100);
    EXPECT_EQ(c.expected.left, r.left);
    EXPECT_EQ(c.expected.top, r.top);
    EXPECT_EQ(c.expected.right, r.right);
    EXPECT_EQ(c.expected.bottom, r.bottom);
  }
}

TEST_F(SelectionView, HitTestsInClientPixelsAt200Percent) {
  view->SetZoom(200);
  view->SetViewOrigin(0, 0);
  view->SelectRect(10, 10, 50, 40, 0);
  view->SetSelectionBase(iesbClientArea);
  const int cx = view->ImageToClientX(30), cy = view->ImageToClientY(20);
  EXPECT_EQ(0, view->HitSelection(cx, cy, false));
  EXPECT_EQ(-1, view->HitSelection(cx, cy, true));
  EXPECT_EQ(-1, view->HitSelection(view->ImageToClientX(5), cy, false));
  // far beside the image: no read outside the mask
  EXPECT_EQ(-1, view->HitSelection(-100000, -100000, false));
  EXPECT_EQ(-1, view->HitSelection(100000, 100000, false));

  const int l = view->ImageToClientX(10), t = view->ImageToClientY(10);
  const int r = view->ImageToClientX(50), b = view->ImageToClientY(40);
  view->ShowSelection(false);
  EXPECT_EQ(1, view->GetGripAt(l + 2, t - 3));
  EXPECT_EQ(2, view->GetGripAt(r, t));
  EXPECT_EQ(3, view->GetGripAt(r - 5, b + 5));
  EXPECT_EQ(4, view->GetGripAt(l, b));
  EXPECT_EQ(5, view->GetGripAt(l + 1, (t + b) / 2));
  EXPECT_EQ(6, view->GetGripAt(r - 2, (t + b) / 2));
  EXPECT_EQ(7, view->GetGripAt((l + r) / 2, t));
  EXPECT_EQ(8, view->GetGripAt((l + r) / 2, b + 2));
  EXPECT_EQ(0, view->GetGripAt((l + r) / 2, (t + b) / 2));
  EXPECT_EQ(0, view->GetGripAtUnlessShift(r, t, true));

  // client coordinates at 200 %: a rectangle from client points
  view->SelectRect(view->ImageToClientX(100), view->ImageToClientY(100), view->ImageToClientX(120),
                   view->ImageToClientY(110), 0);
  view->SetSelectionBase(iesbBitmap);
  const MaskStats s = Mask();
  EXPECT_EQ(100, s.x1);
  EXPECT_EQ(119, s.x2);
  EXPECT_EQ(200, s.count);
}

TEST_F(SelectionView, AntsTimerFollowsTheDrawingTime) {
  view->SelectRect(10, 10, 100, 100, 0);
  double now = 0;
  int reads = 0;
  view->AntsClock = [&] {
    ++reads;
    const double t = now;
    now += 60;  // every border takes 60 ms
    return t;
  };
  view->AntsPauseCountdown = 0;
  view->DrawSelections(view, true);
  EXPECT_EQ(2, reads);
  EXPECT_EQ(300, view->GetAntsTimerInterval());
  // a fast border keeps the floor of 210 ms
  view->AntsClock = [&] { return 0.0; };
  view->DrawSelections(view, true);
  EXPECT_EQ(210, view->GetAntsTimerInterval());
  // paused after a view change: no border; the timer's ticks count the pause down, not the drawing
  reads = 0;
  view->AntsClock = [&] { return double(++reads); };
  view->AntsPauseCountdown = 2;
  view->DrawSelections(view, true);
  EXPECT_EQ(0, reads);
  EXPECT_EQ(2, view->AntsPauseCountdown);
  const DWORD start = GetTickCount();
  while (view->AntsPauseCountdown > 0 && GetTickCount() - start < 10000) {
    Application->ProcessMessages();
    Sleep(10);
  }
  EXPECT_EQ(0, view->AntsPauseCountdown);
  view->AntsClock = nullptr;
}

TEST_F(SelectionView, ExtraStoresDrawTheirOutlines) {
  TIEPolygonStore* store = view->CreatePolygonStore(RGB(255, 0, 0), RGB(0, 0, 255), false, false);
  view->AddSelectionPointRaw(store, 20, 20);
  view->AddSelectionPointRaw(store, 60, 20);
  view->AddSelectionPointRaw(store, 60, 50);
  view->AddSelectionPointRaw(store, 20, 50);
  std::vector<int> corners;
  view->OnDrawPolygon = [&](void*, int storeIndex, int point, TCanvas*, int, int) {
    if (storeIndex == 1) corners.push_back(point);
  };
  view->DrawSelections(view, true);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 0}), corners);
  const RECT nav = view->GetNavigatorRect();
  EXPECT_EQ(view->ImageToClientX(20), nav.left);
  EXPECT_EQ(view->ImageToClientX(60) - 1, nav.right);
}

TEST_F(SelectionView, ZoomSelectionFillsTheView) {
  view->SelectRect(100, 100, 200, 150, 0);
  view->ZoomSelection(true, false);
  EXPECT_FALSE(view->GetSelected());
  const double expected = std::min(view->GetHeight() / 0.5, view->GetWidth() / 1.0);
  EXPECT_DOUBLE_EQ(expected, view->GetZoom());
  // too small: nothing
  view->SetZoom(100);
  view->SelectRect(10, 10, 11, 11, 0);
  view->ZoomSelection(true, false);
  EXPECT_DOUBLE_EQ(100, view->GetZoom());
  EXPECT_TRUE(view->GetSelected());
}

// ---- the selection state record ----

namespace {
int32_t I32At(const std::vector<uint8_t>& b, size_t at) {
  return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
}

std::vector<uint8_t> Bytes(TIEMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.GetSize());
}

void PutI32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
}
}  // namespace

TEST_F(SelectionView, RecordOfATenByTenMask) {
  view->GetIEBitmap()->Allocate(10, 10, ie24RGB);
  view->UpdateView();
  view->SelectRect(2, 3, 6, 7, 0);
  TIEMemoryStream stream;
  view->WriteSelectionStream(stream);
  const std::vector<uint8_t> b = Bytes(stream);
  ASSERT_EQ(130u, b.size());
  EXPECT_EQ(10, I32At(b, 0));
  EXPECT_EQ(10, I32At(b, 4));
  EXPECT_EQ(4, I32At(b, 8));
  const int32_t points[8] = {2, 3, 6, 3, 6, 7, 2, 7};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(points[i], I32At(b, 12 + 4 * size_t(i))) << i;
  const int32_t bounds[4] = {2, 3, 6, 7};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(bounds[i], I32At(b, 44 + 4 * size_t(i)));
  EXPECT_EQ(1, b[60]);               // selected
  EXPECT_EQ(0, I32At(b, 61));        // layer position
  EXPECT_EQ(0, I32At(b, 65));
  EXPECT_EQ(1, I32At(b, 69));        // bits per pixel
  const int32_t box[4] = {2, 3, 5, 6};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(box[i], I32At(b, 73 + 4 * size_t(i)));
  EXPECT_EQ(0, b[89]);  // not all set
  // rows bottom first, 4 bytes each, leftmost pixel in the high bit
  for (int y = 0; y < 10; ++y) {
    const size_t row = 90 + size_t(9 - y) * 4;
    EXPECT_EQ(y >= 3 && y <= 6 ? 0x3C : 0, b[row]) << y;
    EXPECT_EQ(0, b[row + 1]) << y;
  }

  // read back after a deselection, every mode gives the same selection at the same size
  for (int mode = 0; mode < 3; ++mode) {
    view->Deselect();
    stream.SetPosition(0);
    EXPECT_TRUE(view->ReadSelectionStream(stream, mode)) << mode;
    EXPECT_TRUE(view->GetSelected()) << mode;
    const MaskStats s = Mask();
    EXPECT_EQ(16, s.count) << mode;
    EXPECT_EQ(2, s.x1) << mode;
    EXPECT_EQ(6, s.y2) << mode;
  }
  EXPECT_EQ(0, view->GetSelectionPolygonCount());  // mode 2 keeps the mask alone
}

TEST_F(SelectionView, HostileRecordsChangeNothing) {
  view->GetIEBitmap()->Allocate(10, 10, ie24RGB);
  view->UpdateView();
  view->SelectRect(2, 3, 6, 7, 0);
  TIEMemoryStream good;
  view->WriteSelectionStream(good);
  const std::vector<uint8_t> record = Bytes(good);
  view->SelectRect(0, 0, 1, 1, 0);  // what must survive

  std::vector<std::vector<uint8_t>> bad;
  for (size_t n = 0; n < record.size(); n += 7) bad.emplace_back(record.begin(), record.begin() + long(n));
  bad.emplace_back(record.begin(), record.end() - 1);
  struct Patch {
    size_t at;
    int32_t value;
  };
  const Patch patches[] = {
      {0, -1},            // width
      {4, 1 << 30},       // height beyond any image
      {0, 100000},        // rows longer than the record
      {8, 0x7FFFFFFF},    // point count
      {8, -5},
      {8, 1000},          // more points than bytes
      {69, 4},            // bits per pixel
      {69, 0},
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> b = record;
    PutI32(b, p.at, p.value);
    bad.push_back(b);
  }
  for (size_t i = 0; i < bad.size(); ++i) {
    TIEMemoryStream s;
    if (!bad[i].empty()) s.Write(bad[i].data(), int32_t(bad[i].size()));
    s.SetPosition(0);
    EXPECT_FALSE(view->ReadSelectionStream(s, 1)) << i;
    const MaskStats m = Mask();
    EXPECT_EQ(1, m.count) << i;
    EXPECT_EQ(4, view->GetSelectionPolygonCount()) << i;
    EXPECT_TRUE(view->GetSelected()) << i;
  }
}

TEST_F(SelectionView, RecordPointsAreHeldToTheMask) {
  view->GetIEBitmap()->Allocate(10, 10, ie24RGB);
  view->UpdateView();
  view->SelectRect(2, 3, 6, 7, 0);
  TIEMemoryStream good;
  view->WriteSelectionStream(good);
  std::vector<uint8_t> b = Bytes(good);
  PutI32(b, 28, 2000000000);  // third point x
  PutI32(b, 52, 2000000000);  // bounds x2
  TIEMemoryStream s;
  s.Write(b.data(), int32_t(b.size()));
  s.SetPosition(0);
  view->Deselect();
  ASSERT_TRUE(view->ReadSelectionStream(s, 0));
  EXPECT_EQ(10, view->GetSelectionPolygon()[2].x);
  EXPECT_EQ(10, view->GetSelectionPolygonStore()->X2);
  EXPECT_EQ(16, Mask().count);  // the mask is what the record holds
}

TEST_F(SelectionView, StackAndSmallerImage) {
  EXPECT_FALSE(view->PopSelection(true, 0));
  EXPECT_FALSE(view->GetSelected());
  view->SelectRect(600, 440, 640, 480, 0);
  view->PushSelection();
  EXPECT_EQ(1, view->GetSelectionStackCount());
  view->Deselect();
  EXPECT_TRUE(view->PopSelection(false, 0));
  EXPECT_EQ(1600, Mask().count);
  EXPECT_EQ(1, view->GetSelectionStackCount());
  // mode 1 into a smaller image: the selection moves back inside
  view->GetIEBitmap()->Allocate(320, 240, ie24RGB);
  view->UpdateView();
  EXPECT_TRUE(view->PopSelection(true, 1));
  EXPECT_EQ(0, view->GetSelectionStackCount());
  const MaskStats s = Mask();
  EXPECT_EQ(320, view->GetSelectionMask()->Width);
  EXPECT_EQ(1600, s.count);
  EXPECT_EQ(319, s.x2);
  EXPECT_EQ(239, s.y2);
  EXPECT_EQ(280, s.x1);
}

TEST_F(SelectionView, LayerSwitchKeepsTheSelectionOnScreen) {
  const int i = view->AddLayer();
  TIELayer* upper = view->GetLayer(i);
  upper->Bitmap->Allocate(200, 150, ie24RGB);
  upper->PosX = 20;
  upper->PosY = 10;
  view->SetCurrentLayer(0);
  view->UpdateView();
  Pump();
  view->SelectRect(30, 30, 60, 50, 0);
  TIELayer* base = view->GetLayer(0);
  const int screenX = base->BitmapToClientX(30), screenY = base->BitmapToClientY(30);
  view->SetCurrentLayer(i);
  ASSERT_EQ(i, view->GetCurrentLayerIndex());
  EXPECT_TRUE(view->GetSelected());
  const MaskStats s = Mask();
  EXPECT_EQ(600, s.count);
  EXPECT_EQ(10, s.x1);
  EXPECT_EQ(20, s.y1);
  EXPECT_EQ(39, s.x2);
  EXPECT_EQ(39, s.y2);
  EXPECT_EQ(screenX, upper->BitmapToClientX(s.x1));
  EXPECT_EQ(screenY, upper->BitmapToClientY(s.y1));
  EXPECT_EQ(0, view->GetSelectionStackCount());
}

TEST_F(SelectionView, AntsAndGripsAppearOnTheWindow) {
  view->SelectRect(100, 100, 200, 150, 0);
  UpdateWindow(view->GetHandle());
  Pump();
  HDC dc = GetDC(view->GetHandle());
  auto at = [&](int ix, int iy, int dx = 0) {
    return GetPixel(dc, view->ImageToClientX(ix) + dx, view->ImageToClientY(iy));
  };
  // the selection's edge pixels are dashed black and white, its inside keeps the picture
  int black = 0, white = 0;
  for (int x = 110; x < 190; ++x) {
    const COLORREF c = at(x, 100);
    black += c == RGB(0, 0, 0);
    white += c == RGB(255, 255, 255);
  }
  EXPECT_EQ(80, black + white);
  EXPECT_GT(black, 20);
  EXPECT_GT(white, 20);
  EXPECT_EQ(RGB(128, 128, 128), at(150, 125));
  // the middle grip of the right side, just outside the selection
  EXPECT_EQ(RGB(0xFF, 0xFF, 0xBA), at(200, 125, 2));
  ReleaseDC(view->GetHandle(), dc);
}

TEST_F(SelectionView, ANewImageSizeKeepsTheSelectionWithin) {
  view->SelectRect(100, 100, 300, 200, 0);
  view->GetIEBitmap()->ResizeCanvas(200, 150, 0, 255, 0, 0);  // anchored top-left
  view->UpdateView();
  const MaskStats s = Mask();
  EXPECT_EQ(200, view->GetSelectionMask()->Width);
  EXPECT_EQ(100 * 50, s.count);
  EXPECT_EQ(199, s.x2);
  // without a selection the mask simply follows
  view->Deselect();
  view->GetIEBitmap()->Allocate(50, 40, ie24RGB);
  view->UpdateView();
  EXPECT_EQ(50, view->GetSelectionMask()->Width);
  EXPECT_TRUE(view->GetSelectionMask()->IsEmpty());
}
