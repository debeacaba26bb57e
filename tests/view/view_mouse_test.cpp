// The image view's mouse under real input: the rules of the mode set, zoom clicks, drag scrolling,
// and moving, resizing and rotating layers with their events and undo entries.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "ieresample.h"
#include "iemask.h"
#include "imageryproc.h"
#include "ieviewglobals.h"
#include "imageryview.h"
#include "uiforms.h"
#include "viewtest_input.h"

using namespace ui;
using viewtest::Drag;
using viewtest::MaskStats;
using viewtest::Pump;
using viewtest::Stats;

namespace {

constexpr TIEMouseInteract M(std::initializer_list<TIEMouseInteractItems> items) {
  TIEMouseInteract r = 0;
  for (auto i : items) r = TIEMouseInteract(r | IEMouseBit(i));
  return r;
}

TEST(MouseInteractRules, OneModeWinsByWhatIsNew) {
  struct Case {
    TIEMouseInteract from, to, expected;
  };
  const Case cases[] = {
      {M({miZoom}), M({miZoom, miSelect}), M({miZoom, miSelect})},
      {M({miSelect}), M({miSelect, miSelectPolygon}), M({miSelectPolygon})},
      {M({miSelect}), M({miScroll, miSelect, miMovingScroll}), M({miScroll, miMovingScroll})},
      {M({miZoom}), M({miZoom, miSelectMagicWand}), M({miSelectMagicWand})},
      {0, M({miZoom, miScroll, miSelectLasso}), M({miZoom, miScroll})},
      {0, M({miMoveLayers, miResizeLayers, miRotateLayers}), M({miMoveLayers, miRotateLayers})},
      {0, M({miMoveLayers, miResizeLayers}), M({miMoveLayers, miResizeLayers})},
      {0, TIEMouseInteract(M({miSelect}) | 0x8000), TIEMouseInteract(M({miSelect}) | 0x8000)},
  };
  for (const Case& c : cases) {
    TImageryView* v = New<TImageryView>(nullptr);
    v->SetMouseInteractValue(c.from);
    v->SetMouseInteractValue(c.to);
    EXPECT_EQ(v->GetMouseInteract(), c.expected) << std::hex << c.from << " -> " << c.to;
    v->Free();
  }
}

TEST(MouseInteractRules, LeavingRotationBakesTheRotation) {
  TImageryView* v = New<TImageryView>(nullptr);
  v->GetIEBitmap()->Allocate(100, 80, ie24RGB);
  TIELayer* layer = v->GetLayer(v->AddLayer());
  layer->Bitmap->Allocate(40, 20, ie24RGB);
  layer->Bitmap->Fill(255);
  v->SetMouseInteractValue(M({miRotateLayers}));
  layer->SetRotation(90);
  v->SetMouseInteractValue(M({miMoveLayers}));
  EXPECT_EQ(layer->GetRotation(), 0);
  EXPECT_EQ(layer->Bitmap->GetImageWidth(), 20);
  v->Free();
}

// A 640 x 480 image in a view whose client area is 400 x 300 with both scroll bars.
class MouseView : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(20, 20, 600, 500);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBorderStyleValue(bsNone);
    view->SetBounds(10, 10, 400 + GetSystemMetrics(SM_CXVSCROLL), 300 + GetSystemMetrics(SM_CYHSCROLL));
    TIEBitmap* image = view->GetIEBitmap();
    image->Allocate(640, 480, ie24RGB);
    image->Fill(double(RGB(120, 120, 120)));
    view->UpdateView();
    form->Show();
    SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form->GetHandle());
    Pump(5);
  }
  void TearDown() override {
    viewtest::Buttons(MOUSEEVENTF_LEFTUP);
    viewtest::Key(VK_SHIFT, false);
    form->Free();
  }
  POINT Screen(int x, int y) {
    POINT p{x, y};
    ClientToScreen(view->GetHandle(), &p);
    return p;
  }
  void Paint() {
    view->InvalidateRectDirty(nullptr);
    UpdateWindow(view->GetHandle());
    Pump(2);
  }
  // Layer 1: an opaque 80 x 60 block at (100, 50), current.
  TIELayer* AddBlock() {
    TIELayer* layer = view->GetLayer(view->AddLayer());
    layer->Bitmap->Allocate(80, 60, ie24RGB);
    layer->Bitmap->Fill(double(RGB(250, 0, 0)));
    layer->PosX = 100;
    layer->PosY = 50;
    view->UpdateView();
    Paint();
    return layer;
  }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
};

// Shift pressed and let go over the view, without a mouse move, swaps the crosses that add to the
// selection for the plain ones and back; other cursors, and a view where Shift adds nothing, keep theirs.
TEST_F(MouseView, ShiftAloneSwapsTheAddingCrosses) {
  struct Case {
    int cursor;
    bool shiftAdds;
    int held;
  };
  const Case cases[] = {{crIEDefaultCross, true, crIEAddCross},
                        {crIEAltCross, true, crIEAddAltCross},
                        {crIEMove, true, crIEMove},
                        {crIEDefaultCross, false, crIEDefaultCross}};
  for (const Case& c : cases) {
    view->ShiftAddsSelection = c.shiftAdds;
    view->SetCursorValue(c.cursor);
    SetFocus(view->GetHandle());
    Pump(2);
    viewtest::Key(VK_SHIFT, true);
    EXPECT_EQ(c.held, view->GetViewCursor()) << c.cursor << " " << c.shiftAdds;
    viewtest::Key(VK_SHIFT, false);
    EXPECT_EQ(c.cursor, view->GetViewCursor()) << c.cursor << " " << c.shiftAdds;
  }
}

// With the filter delayed, a press draws without it and the release brings back the application's
// filter: the one it had, or the one it chose while the button was down.
TEST_F(MouseView, DelayedFilterComesBackAfterAPress) {
  view->DelayZoomFilter = true;
  view->SetZoomFilterValue(rfBilinear);
  TResampleFilter duringPress = rfBilinear;
  bool changeIt = false;
  view->OnMouseMove = [&](TObject*, int, int, int) {
    if (GetKeyState(VK_LBUTTON) >= 0) return;
    duringPress = view->GetZoomFilter();
    if (changeIt) view->SetZoomFilterValue(rfBicubic);
  };
  Drag(Screen(50, 50), Screen(90, 80));
  EXPECT_EQ(rfNone, duringPress);
  EXPECT_EQ(rfBilinear, view->GetZoomFilter());
  changeIt = true;
  Drag(Screen(50, 50), Screen(90, 80));
  EXPECT_EQ(rfBicubic, view->GetZoomFilter());
}

TEST_F(MouseView, ZoomClicksStepThroughTheList) {
  struct Case {
    double zoom;
    bool right;
    double expected;
  };
  const Case cases[] = {{40, false, 50}, {150, false, 250}, {150, true, 100}, {1, true, 2}, {75, true, 50}};
  view->SetMouseInteractValue(M({miZoom}));
  for (const Case& c : cases) {
    view->SetZoom(c.zoom);
    Paint();
    const RECT r = view->GetCurrentLayer()->ClientRect;
    const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
    const int imageX = view->ClientToImageX(x);
    viewtest::Click(Screen(x, y), c.right);
    EXPECT_EQ(view->GetZoomX(), c.expected) << c.zoom;
    // the point clicked stays under the mouse (within a zoomed pixel)
    if (c.expected >= 100) {
      EXPECT_NEAR(view->ClientToImageX(x), imageX, 1) << c.zoom;
    }
  }
}

TEST_F(MouseView, DragScrollingFollowsPixelForPixel) {
  view->SetMouseInteractValue(M({miScroll}));
  view->SetViewOrigin(100, 100);
  const POINT a = Screen(200, 150);
  viewtest::MouseTo(a);
  viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
  for (int i = 1; i <= 3; ++i) {
    viewtest::MouseTo(POINT{a.x - 10 * i, a.y - 7 * i});
    EXPECT_EQ(view->GetViewOriginX(), 100 + 10 * i);
    EXPECT_EQ(view->GetViewOriginY(), 100 + 7 * i);
  }
  viewtest::Buttons(MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(view->GetViewOriginX(), 130);
  EXPECT_EQ(view->GetViewOriginY(), 121);
}

TEST_F(MouseView, MovingALayerByTheMouse) {
  TIELayer* layer = AddBlock();
  view->SetMouseInteractValue(M({miMoveLayers}));
  view->LayerUndo = true;
  int undos = 0;
  view->SetOnSaveUndoValue([&](void*, TIEUndoSource s) { undos += s == ieuLayer; });
  std::vector<TIELayerEvent> events;
  std::string hint;
  view->OnLayerNotify = [&](void*, int index, TIELayerEvent e) {
    EXPECT_EQ(index, 1);
    if (e == ielMoving) hint = view->GetHintText();
    if (events.empty() || events.back() != e || e != ielMoving) events.push_back(e);
  };
  view->SetCurrentLayer(0);
  const RECT r = layer->ClientRect;
  Drag(Screen(r.left + 10, r.top + 10), Screen(r.left + 40, r.top + 10), 6);
  EXPECT_EQ(layer->PosX, 130);
  EXPECT_EQ(layer->PosY, 50);
  EXPECT_EQ(view->GetCurrentLayerIndex(), 1);
  EXPECT_EQ(events, (std::vector<TIELayerEvent>{ielSelected, ielBeginMoving, ielMoving, ielMoved}));
  EXPECT_EQ(undos, 1) << "one entry per drag";
  EXPECT_EQ(hint, "X=130 Y=50");
  EXPECT_TRUE(view->GetHintText().empty()) << "the information box goes with the button";

  // at 200 % the same 30 pixels are 15 image pixels
  view->SetZoom(200);
  view->SetViewOrigin(0, 0);
  Paint();
  const RECT z = layer->ClientRect;
  Drag(Screen(z.left + 10, z.top + 10), Screen(z.left + 40, z.top + 10), 7);
  EXPECT_EQ(layer->PosX, 145);
  EXPECT_EQ(undos, 2);
}

TEST_F(MouseView, LockedLayerZeroNeverMoves) {
  AddBlock();
  view->SetMouseInteractValue(M({miMoveLayers, miResizeLayers}));
  view->SetCurrentLayer(0);
  TIELayer* image = view->GetLayer(0);
  std::vector<TIELayerEvent> events;
  view->OnLayerNotify = [&](void*, int, TIELayerEvent e) { events.push_back(e); };
  Drag(Screen(300, 250), Screen(340, 270), 4);
  EXPECT_EQ(image->PosX, 0);
  EXPECT_EQ(image->PosY, 0);
  EXPECT_EQ(events, (std::vector<TIELayerEvent>{ielSelected, ielBeginMoving}));
  // nor by a grip: layer 0's bottom-right corner lies at the view's edge
  Paint();
  ASSERT_EQ(view->FindLayerGrip(398, 298), ieBottomRight);
  Drag(Screen(398, 298), Screen(370, 280), 3);
  EXPECT_EQ(image->Width, 0);
  EXPECT_EQ(image->Height, 0);
}

TEST_F(MouseView, CornerGripResizesTheLayer) {
  TIELayer* layer = AddBlock();
  view->SetMouseInteractValue(M({miResizeLayers}));
  std::vector<TIELayerEvent> events;
  view->OnLayerNotify = [&](void*, int, TIELayerEvent e) {
    if (e != ielResizing) events.push_back(e);
  };
  const RECT r = layer->ClientRect;
  Drag(Screen(r.right, r.bottom), Screen(r.right + 30, r.bottom + 20), 5);
  EXPECT_EQ(layer->Width, 110);
  EXPECT_EQ(layer->Height, 80);
  EXPECT_EQ(layer->PosX, 100);
  EXPECT_EQ(events, (std::vector<TIELayerEvent>{ielBeginResizing, ielResized}));
  // the top-left grip moves the position with the size
  Paint();
  const RECT s = layer->ClientRect;
  Drag(Screen(s.left, s.top), Screen(s.left + 10, s.top + 5), 2);
  EXPECT_EQ(layer->PosX, 110);
  EXPECT_EQ(layer->PosY, 55);
  EXPECT_EQ(layer->Width, 100);
  EXPECT_EQ(layer->Height, 75);
}

TEST_F(MouseView, KeptAspectTakesTheHeightFromTheWidth) {
  TIELayer* layer = AddBlock();
  view->SetMouseInteractValue(M({miResizeLayers}));
  view->LayerResizeAspect = 2;  // always
  const RECT r = layer->ClientRect;
  Drag(Screen(r.right, r.bottom), Screen(r.right + 40, r.bottom + 1), 4);
  EXPECT_EQ(layer->Width, 120);
  EXPECT_EQ(layer->Height, 90);  // 60 / 80 of the width
}

TEST_F(MouseView, ShiftSnapsTheRotationAndASnapOfZeroDoesNot) {
  TIELayer* layer = AddBlock();
  view->SetMouseInteractValue(M({miRotateLayers}));
  Paint();
  // outside the layer, above and to the right of its centre: moving left turns it anticlockwise
  const RECT r = layer->ClientRect;
  const POINT start = Screen(r.right + 150, r.top - 20);
  // Under Wine every pointer motion re-reads the modifiers from the X server, where the injected Shift
  // is not down: with the button and Shift held by real input, the moves are given as messages.
  const POINT client{r.right + 150, r.top - 20};
  auto turn = [&] {
    viewtest::MouseTo(start);
    viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
    viewtest::Key(VK_SHIFT, true);
    for (int i = 1; i <= 4; ++i) {
      PostMessageA(view->GetHandle(), WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, MAKELPARAM(client.x - 50 * i, client.y));
      Pump(1);
    }
    viewtest::Key(VK_SHIFT, false);
    viewtest::Buttons(MOUSEEVENTF_LEFTUP);
  };
  turn();
  EXPECT_EQ(layer->GetRotation(), 45) << "50 degrees snap to 45";

  view->RotationSnap = 0;
  layer->SetRotation(0);
  Paint();
  turn();
  EXPECT_EQ(layer->GetRotation(), 50) << "no snapping without a step";
}

// ---- selections by the mouse ----

class SelectDrag : public MouseView {
 protected:
  MaskStats Mask() { return Stats(view->GetSelectionMask()); }
  // Button and Shift held by real input, the moves given as messages (a pointer motion under Wine
  // would re-read the modifiers from the X server); released over the last point with Shift down.
  void ShiftDrag(POINT a, POINT b, int steps) {
    viewtest::MouseTo(Screen(a.x, a.y));
    viewtest::Key(VK_SHIFT, true);
    viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
    for (int i = 1; i <= steps; ++i) {
      PostMessageA(view->GetHandle(), WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT,
                   MAKELPARAM(a.x + (b.x - a.x) * i / steps, a.y + (b.y - a.y) * i / steps));
      Pump(1);
    }
    PostMessageA(view->GetHandle(), WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(b.x, b.y));
    Pump(1);
    viewtest::Key(VK_SHIFT, false);
    ReleaseCapture();
  }
};

TEST_F(SelectDrag, RectangleAtOneAndTwoHundredPercent) {
  view->SetMouseInteractValue(M({miSelect}));
  Drag(Screen(50, 40), Screen(10, 10), 4);
  MaskStats m = Mask();
  EXPECT_EQ(m.count, 40 * 30);
  EXPECT_EQ(m.x1, 10);
  EXPECT_EQ(m.y1, 10);
  EXPECT_EQ(m.x2, 49);
  EXPECT_EQ(m.y2, 39);
  EXPECT_EQ(view->GetSelectionPolygonCount(), 4);

  view->Deselect();
  view->SetZoom(200);
  view->SetViewOrigin(0, 0);
  Paint();
  Drag(Screen(20, 20), Screen(100, 80), 4);
  m = Mask();
  EXPECT_EQ(m.count, 40 * 30);
  EXPECT_EQ(m.x1, 10);
  EXPECT_EQ(m.y2, 39);
}

TEST_F(SelectDrag, ShiftAddsASecondRectangle) {
  view->SetMouseInteractValue(M({miSelect}));
  Drag(Screen(10, 10), Screen(50, 40), 3);
  ShiftDrag(POINT{100, 100}, POINT{120, 130}, 3);
  EXPECT_EQ(view->GetSelectionPolygonCount(), 9);
  EXPECT_EQ(Mask().count, 40 * 30 + 20 * 30);
}

TEST_F(SelectDrag, AspectRatioShapesTheRubberBand) {
  view->SetMouseInteractValue(M({miSelect}));
  view->SetSelectionAspectRatio(0.5);
  Drag(Screen(0, 0), Screen(100, 80), 4);
  const MaskStats m = Mask();
  EXPECT_EQ(m.x2 - m.x1 + 1, 100);
  EXPECT_EQ(m.y2 - m.y1 + 1, 50);
}

TEST_F(SelectDrag, EllipsePolygonAndLasso) {
  view->SetMouseInteractValue(M({miSelectCircle}));
  Drag(Screen(150, 120), Screen(190, 150), 4);
  MaskStats m = Mask();
  EXPECT_NEAR(m.x1, 110, 1);
  EXPECT_NEAR(m.x2, 190, 1);
  EXPECT_NEAR(m.y1, 90, 1);
  EXPECT_NEAR(m.y2, 150, 1);
  EXPECT_NEAR(m.count, 3.14159 * 40 * 30, 150);

  // a polygon of clicks, ended by a double click (its second press adds no corner)
  view->SetMouseInteractValue(M({miSelectPolygon}));
  for (POINT p : {POINT{10, 10}, POINT{110, 10}, POINT{110, 60}}) viewtest::Click(Screen(p.x, p.y));
  viewtest::MouseTo(Screen(10, 60));
  viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
  viewtest::Buttons(MOUSEEVENTF_LEFTUP);
  viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
  viewtest::Buttons(MOUSEEVENTF_LEFTUP);
  Pump(3);
  EXPECT_EQ(view->GetSelectionPolygonCount(), 4);
  m = Mask();
  EXPECT_EQ(m.x1, 10);
  EXPECT_EQ(m.y1, 10);
  EXPECT_NEAR(m.count, 100 * 50, 160);

  // a lasso follows the drag and closes on release
  view->SetMouseInteractValue(M({miSelectLasso}));
  viewtest::MouseTo(Screen(200, 100));
  viewtest::Buttons(MOUSEEVENTF_LEFTDOWN);
  for (POINT p : {POINT{300, 100}, POINT{300, 200}, POINT{200, 200}}) viewtest::MouseTo(Screen(p.x, p.y));
  viewtest::Buttons(MOUSEEVENTF_LEFTUP);
  m = Mask();
  EXPECT_EQ(m.x1, 200);
  EXPECT_EQ(m.y1, 100);
  EXPECT_NEAR(m.count, 100 * 100, 210);
}

TEST_F(SelectDrag, MagicWandTakesAFlatRegion) {
  TIEBitmap* image = view->GetIEBitmap();
  for (int y = 200; y < 240; ++y)
    for (int x = 300; x < 350; ++x) image->SetRGB(x, y, IEMakeRGB(250, 10, 10));
  view->UpdateView();
  view->SetMouseInteractValue(M({miSelectMagicWand}));
  viewtest::Click(Screen(320, 220));
  const MaskStats m = Mask();
  EXPECT_EQ(m.count, 50 * 40);
  EXPECT_EQ(m.x1, 300);
  EXPECT_EQ(m.y2, 239);
}

TEST_F(SelectDrag, MovingGripAndClick) {
  view->SetMouseInteractValue(M({miSelect}));
  Drag(Screen(10, 10), Screen(50, 40), 3);
  // dragged left past the edge: the selection stops at it
  Drag(Screen(30, 25), Screen(0, 25), 5);
  MaskStats m = Mask();
  EXPECT_EQ(m.count, 40 * 30);
  EXPECT_EQ(m.x1, 0);
  EXPECT_EQ(m.y1, 10);
  // the bottom-right grip resizes; the pixel under the mouse is taken in
  Paint();
  Drag(Screen(40, 40), Screen(70, 60), 3);
  m = Mask();
  EXPECT_EQ(m.x1, 0);
  EXPECT_EQ(m.x2, 70);
  EXPECT_EQ(m.y2, 60);
  EXPECT_EQ(m.count, 71 * 51);
  // a click without movement removes it
  viewtest::Click(Screen(200, 200));
  EXPECT_TRUE(view->GetSelectionMask()->IsEmpty());
  EXPECT_FALSE(view->GetSelected());
}

TEST_F(SelectDrag, DraggingPastTheBorderScrollsTheView) {
  view->SetMouseInteractValue(M({miSelect}));
  int maxX, maxY;
  view->GetMaxViewOrigin(maxX, maxY);
  // the mouse held beyond the right edge: the view scrolls to its end, the rectangle goes with it
  Drag(Screen(100, 100), Screen(430, 150), 3);
  EXPECT_EQ(view->GetViewOriginX(), maxX);
  const MaskStats m = Mask();
  EXPECT_EQ(m.x1, 100);
  EXPECT_EQ(m.x2, 639);
}

TEST_F(SelectDrag, MaskIsReadOnlyInsideTheImage) {
  // a small image in the middle of the view, wholly selected
  view->GetIEBitmap()->Allocate(100, 80, ie24RGB);
  view->UpdateView();
  Paint();
  view->SetSelectionBase(iesbBitmap);
  view->SelectRect(0, 0, 100, 80, 0);
  int inSelection = 0;
  view->OnMouseInSel = [&](void*) { ++inSelection; };
  const RECT r = view->GetCurrentLayer()->ClientRect;
  viewtest::MouseTo(Screen(r.left + 50, r.top + 40));
  EXPECT_GT(inSelection, 0);
  // right of and below the image the point is held at the image's edge, which is no pixel of it
  inSelection = 0;
  viewtest::MouseTo(Screen(r.right + 20, r.bottom + 20));
  viewtest::MouseTo(Screen(r.right + 30, r.top + 10));
  EXPECT_EQ(inSelection, 0);
}

}  // namespace
