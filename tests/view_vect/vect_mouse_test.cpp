// Creating, selecting, moving and resizing objects with real mouse input (SendInput, the button held
// while dragging), the events on the way and the undo snapshots of mouse edits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "iestreams.h"
#include "imageryproc.h"
#include "vect_window.h"

using namespace ui;

namespace {

// Modifier keys held for a scope, in the thread's key state. Under Wine every mouse event of the
// display brings the display's own modifier state back, so presses made while one is held are
// posted to the window (PostedDrag, PostedClick) rather than sent through the display.
struct Keys {
  std::vector<WORD> Held;
  BYTE Saved[256];
  explicit Keys(std::vector<WORD> keys) : Held(std::move(keys)) {
    GetKeyboardState(Saved);
    BYTE state[256];
    std::copy(Saved, Saved + 256, state);
    for (WORD k : Held) state[k] = 0x80;
    SetKeyboardState(state);
  }
  ~Keys() { SetKeyboardState(Saved); }
  WPARAM Flags() const {
    WPARAM f = 0;
    for (WORD k : Held) f |= k == VK_CONTROL ? MK_CONTROL : k == VK_SHIFT ? MK_SHIFT : 0;
    return f;
  }
};

class VectMouse : public VectWindow {
 protected:
  void Move(POINT c) { Mouse(0, c); }
  void Press(POINT c) { Mouse(MOUSEEVENTF_LEFTDOWN, c); }
  void Release(POINT c) { Mouse(MOUSEEVENTF_LEFTUP, c); }
  // A press, a few moves with the button held, the release at `to`.
  void Drag(POINT from, POINT to, int steps = 6) {
    Move(from);
    Press(from);
    for (int i = 1; i <= steps; ++i)
      Move(POINT{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    Release(to);
  }
  // The same press, moves and release as Drag, posted to the view with the keys of `keys`.
  void PostedDrag(const Keys& keys, POINT from, POINT to, int steps = 6) {
    HWND w = view->GetHandle();
    auto at = [](POINT p) { return MAKELPARAM(p.x, p.y); };
    PostMessageA(w, WM_MOUSEMOVE, keys.Flags(), at(from));
    PostMessageA(w, WM_LBUTTONDOWN, keys.Flags() | MK_LBUTTON, at(from));
    Pump(2);
    for (int i = 1; i <= steps; ++i) {
      PostMessageA(w, WM_MOUSEMOVE, keys.Flags() | MK_LBUTTON,
                   at(POINT{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps}));
      Pump(2);
    }
    PostMessageA(w, WM_LBUTTONUP, keys.Flags(), at(to));
    Pump(3);
  }
  void PostedClick(const Keys& keys, POINT c) {
    PostedDrag(keys, c, c, 0);
    Sleep(GetDoubleClickTime() + 50);
  }
  void Click(POINT c) {
    Move(c);
    Press(c);
    Release(c);
    Sleep(GetDoubleClickTime() + 50);  // the next press is a click of its own
  }
  void DoubleClick(POINT c) {
    Move(c);
    for (int i = 0; i < 2; ++i) {
      Press(c);
      Release(c);
    }
  }
  RECT Box(int h) {
    const TIEVObjectRecord* r = view->ObjectRecord(h);
    return RECT{r->X1, r->Y1, r->X2, r->Y2};
  }
  int AddBox(int x1, int y1, int x2, int y2) {
    TIEVObjectRecord t;
    t.Kind = ievkBOX;
    t.X1 = x1, t.Y1 = y1, t.X2 = x2, t.Y2 = y2;
    t.BrushStyle = bsSolid;
    const int h = view->AddObject(t);
    view->UpdateView();
    return h;
  }
};

#define EXPECT_BOX(h, l, t, r, b)                                                                     \
  do {                                                                                                \
    const RECT got_ = Box(h);                                                                         \
    EXPECT_EQ(got_.left, l);                                                                          \
    EXPECT_EQ(got_.top, t);                                                                           \
    EXPECT_EQ(got_.right, r);                                                                         \
    EXPECT_EQ(got_.bottom, b);                                                                        \
  } while (0)

TEST_F(VectMouse, DraggedBoxTakesTheImagePixelsOfItsCornersAtEachZoom) {
  struct Case {
    double Zoom;
    RECT Want;
  };
  const Case kCases[] = {{100, {100, 80, 220, 170}}, {200, {50, 40, 110, 85}}};
  view->SetObjectInteract(IEVI(iviCreateBox));
  for (const Case& c : kCases) {
    view->RemoveAllObjects();
    view->SetZoom(c.Zoom);
    view->SetViewOrigin(0, 0);
    Pump();
    Drag(POINT{100, 80}, POINT{220, 170});
    ASSERT_EQ(view->ObjectsCount(), 1) << c.Zoom;
    EXPECT_EQ(view->ObjectRecord(0)->Kind, ievkBOX);
    EXPECT_BOX(0, c.Want.left, c.Want.top, c.Want.right, c.Want.bottom);
    EXPECT_TRUE(view->IsSelected(0));
    Sleep(GetDoubleClickTime() + 50);
  }
}

TEST_F(VectMouse, CtrlMakesASquareOfTheLargerSide) {
  view->SetObjectInteract(IEVI(iviCreateBox));
  {
    Keys ctrl({VK_CONTROL});
    PostedDrag(ctrl, POINT{100, 80}, POINT{220, 170});
  }
  ASSERT_EQ(view->ObjectsCount(), 1);
  EXPECT_BOX(0, 100, 80, 220, 200);
}

TEST_F(VectMouse, ClickMakesATemplateSizedObject) {
  struct Case {
    bool Center, DragToCreate;
    int Count;
    RECT Want;
  };
  const Case kCases[] = {{false, false, 1, {150, 120, 213, 183}},
                         {true, false, 1, {119, 89, 182, 152}},
                         {false, true, 0, {}}};
  for (const Case& c : kCases) {
    view->RemoveAllObjects();
    view->CenterNewObjects = c.Center;
    view->SetObjectInteract(IEVI(iviCreateBox) | (c.DragToCreate ? IEVI(iviDragToCreate) : 0));
    Click(POINT{150, 120});
    ASSERT_EQ(view->ObjectsCount(), c.Count) << c.Center << c.DragToCreate;
    if (c.Count) EXPECT_BOX(0, c.Want.left, c.Want.top, c.Want.right, c.Want.bottom);
  }
}

TEST_F(VectMouse, EveryDragKindCreatesItsObject) {
  struct Case {
    TIEVectInteraction Mode;
    TIEVKind Kind;
    WORD Key;
    RECT Want;
  };
  // the template's bitmap is 64 x 64: with Alt the height follows the width
  const Case kCases[] = {
      {iviCreateLine, ievkLINE, 0, {100, 80, 220, 170}},       {iviCreateEllipse, ievkELLIPSE, 0, {100, 80, 220, 170}},
      {iviCreateBitmap, ievkBITMAP, 0, {100, 80, 220, 170}},   {iviCreateBitmap, ievkBITMAP, VK_MENU, {100, 80, 220, 200}},
      {iviCreateText, ievkTEXT, 0, {100, 80, 220, 170}},       {iviCreateMemo, ievkMEMO, 0, {100, 80, 220, 170}},
      {iviCreateRuler, ievkRULER, 0, {100, 80, 220, 170}},     {iviCreateLineLabel, ievkLINELABEL, 0, {100, 80, 220, 170}},
  };
  view->EditNewText = false;
  for (const Case& c : kCases) {
    view->RemoveAllObjects();
    view->SetObjectInteract(IEVI(c.Mode));
    if (c.Key) {
      Keys keys({c.Key});
      PostedDrag(keys, POINT{100, 80}, POINT{220, 170});
    } else {
      Drag(POINT{100, 80}, POINT{220, 170});
    }
    ASSERT_EQ(view->ObjectsCount(), 1) << int(c.Kind);
    EXPECT_EQ(view->ObjectRecord(0)->Kind, c.Kind);
    EXPECT_BOX(0, c.Want.left, c.Want.top, c.Want.right, c.Want.bottom);
    Sleep(GetDoubleClickTime() + 50);
  }
}

TEST_F(VectMouse, DragLengthMeasuresAndCreatesNothing) {
  view->SetObjectInteract(IEVI(iviDragLength));
  double length = -1;
  view->OnDragLenEnd = [&](void*, double len) { length = len; };
  Drag(POINT{100, 100}, POINT{199, 100});
  EXPECT_EQ(view->ObjectsCount(), 0);
  EXPECT_NEAR(length, 100.0, 1.5);
}

TEST_F(VectMouse, TheDragLengthHintReadsTheLengthInTheUnit) {
  view->SetDpi(254, 254);
  view->SetMUnit(ieuCENTIMETERS);
  view->SetObjectInteract(IEVI(iviDragLength));
  std::string text;
  view->OnMeasureHint = [&](void*, std::string& t, double) { text = t; };
  struct Case {
    double Scale;
    const char* Text;
  };
  const Case kCases[] = {{1, "1.00 cm"}, {2, "2.00 cm"}};
  for (const Case& c : kCases) {
    view->SetMeasureScale(c.Scale);
    text.clear();
    Drag(POINT{10, 100}, POINT{109, 100});  // both end pixels count: 100 pixels
    EXPECT_EQ(text, c.Text) << c.Scale;
    EXPECT_FALSE(view->MeasureHintVisible) << "the end of the drag hides it";
    Sleep(GetDoubleClickTime() + 50);
  }
}

TEST_F(VectMouse, TheLengthHintOfAPolygonBeingDrawnRunsToTheMouse) {
  view->SetMouseInteractValue(IEMouseBit(miSelectPolygon));
  view->SetObjectInteract(IEVI(iviLengthMeasure));
  view->MeasureHintVisible = true;
  double value = -1;
  view->OnMeasureHint = [&](void*, std::string&, double v) { value = v; };
  Click(POINT{100, 100});
  Click(POINT{200, 100});
  Move(POINT{200, 150});
  EXPECT_DOUBLE_EQ(value, 100 + 50);  // still open, on to the mouse
  DoubleClick(POINT{100, 150});       // the third corner ends it, closed
  EXPECT_DOUBLE_EQ(value, 100 + std::hypot(100, 50) + 50);
}

// The hint is drawn over the window and takes the screen under it back when erased, also after a
// repaint of only a part of it.
TEST_F(VectMouse, TheHintComesOffTheScreenAndBackAfterARepaint) {
  view->SetObjectInteract(IEVI(iviLengthMeasure));
  view->MeasureHintVisible = true;
  HDC dc = GetDC(view->GetHandle());
  // the box drawn for the mouse at (200, 200) starts at (206, 206); its text at (209, 209)
  const POINT probes[] = {{207, 207}, {225, 207}};
  COLORREF before[2];
  for (int i = 0; i < 2; ++i) before[i] = GetPixel(dc, probes[i].x, probes[i].y);
  const COLORREF brush = ColorToRGB(view->GetMeasureHintBrush()->GetColor());
  ASSERT_NE(before[0], brush);
  Move(POINT{200, 200});
  EXPECT_EQ(GetPixel(dc, probes[0].x, probes[0].y), brush);
  const RECT part{200, 200, 210, 210};  // holds the first probe only
  InvalidateRect(view->GetHandle(), &part, FALSE);
  Pump();
  for (const POINT& p : probes) EXPECT_EQ(GetPixel(dc, p.x, p.y), brush) << p.x;
  view->EraseMeasureHint();
  for (int i = 0; i < 2; ++i) EXPECT_EQ(GetPixel(dc, probes[i].x, probes[i].y), before[i]) << probes[i].x;
  ReleaseDC(view->GetHandle(), dc);
}

TEST_F(VectMouse, ThreeClicksMakeAnAngle) {
  view->SetObjectInteract(IEVI(iviCreateAngle));
  int newObjects = 0;
  view->OnNewObject = [&](void*, int) { ++newObjects; };
  Click(POINT{100, 200});
  Click(POINT{200, 200});
  EXPECT_EQ(newObjects, 0);
  EXPECT_EQ(view->GetCreateState(), ievkANGLE);
  Click(POINT{200, 100});
  EXPECT_EQ(newObjects, 1);
  EXPECT_EQ(view->GetCreateState(), ievkNONE);
  ASSERT_EQ(view->ObjectsCount(), 1);
  const TIEVObjectRecord* r = view->ObjectRecord(0);
  EXPECT_EQ(r->Kind, ievkANGLE);
  EXPECT_EQ(r->AnglePoints[0].x, 100);
  EXPECT_EQ(r->AnglePoints[1].x, 200);
  EXPECT_EQ(r->AnglePoints[2].y, 100);
  EXPECT_EQ(view->AnglePointCount(0), 3);
  EXPECT_TRUE(view->IsSelected(0));
}

TEST_F(VectMouse, ClicksAndADoubleClickMakeAPolyline) {
  view->SetObjectInteract(IEVI(iviCreatePolyline));
  int newObjects = 0;
  view->OnNewObject = [&](void*, int) { ++newObjects; };
  Click(POINT{100, 100});
  Click(POINT{200, 100});
  DoubleClick(POINT{200, 200});
  EXPECT_EQ(newObjects, 1);
  EXPECT_EQ(view->GetCreateState(), ievkNONE);
  ASSERT_EQ(view->ObjectsCount(), 1);
  const TIEVObjectRecord* r = view->ObjectRecord(0);
  EXPECT_EQ(r->Kind, ievkPOLYLINE);
  ASSERT_EQ(r->PolyCount(), 3);
  EXPECT_EQ(r->PolyPoints[2].x, 200);
  EXPECT_EQ(r->PolyPoints[2].y, 200);
  EXPECT_BOX(0, 100, 100, 200, 200);
  EXPECT_TRUE(view->IsSelected(0));
}

TEST_F(VectMouse, CtrlClickDeletesAVertexOnlyAboveTwoAndASegmentClickAddsOne) {
  TIEVObjectRecord t;
  t.Kind = ievkPOLYLINE;
  const int h = view->AddObject(t);
  view->AddPolylinePoint(h, 100, 100);
  view->AddPolylinePoint(h, 200, 100);
  view->AddPolylinePoint(h, 200, 200);
  view->SelectObject(h);
  view->SetObjectInteract(IEVI(iviEditPolylinePoints) | IEVI(iviEditObjects));
  view->UpdateView();
  Pump();
  {
    Keys ctrl({VK_CONTROL});
    PostedClick(ctrl, POINT{200, 200});
  }
  Pump();
  ASSERT_EQ(view->ObjectRecord(h)->PolyCount(), 2);
  EXPECT_BOX(h, 100, 100, 200, 100);
  {
    Keys ctrl({VK_CONTROL});
    PostedClick(ctrl, POINT{200, 100});
  }
  EXPECT_EQ(view->ObjectRecord(h)->PolyCount(), 2);
  Pump();
  Click(POINT{150, 100});
  ASSERT_EQ(view->ObjectRecord(h)->PolyCount(), 3);
  EXPECT_EQ(view->ObjectRecord(h)->PolyPoints[1].x, 150);
  EXPECT_EQ(view->ObjectRecord(h)->PolyPoints[1].y, 100);
}

TEST_F(VectMouse, GripsShowTheirCursors) {
  const int h = AddBox(100, 100, 200, 160);
  view->SelectObject(h);
  view->SetObjectInteract(IEVI(iviEditObjects));
  Pump();
  struct Case {
    POINT At;
    int Cursor;
  };
  const Case kCases[] = {{{100, 100}, crIEGrip13}, {{200, 160}, crIEGrip13}, {{200, 100}, crIEGrip24},
                         {{100, 160}, crIEGrip24}, {{100, 130}, crIEGripEW},  {{200, 130}, crIEGripEW},
                         {{150, 100}, crIEGripNS}, {{150, 160}, crIEGripNS},  {{170, 140}, crIEMove}};
  for (const Case& c : kCases) {
    Move(c.At);
    Move(POINT{c.At.x, c.At.y + 1});  // a move of its own, never the press point
    Move(c.At);
    EXPECT_EQ(view->GetViewCursor(), c.Cursor) << c.At.x << "," << c.At.y;
  }
  EXPECT_EQ(view->FindGrip(300, 300), 0);
}

TEST_F(VectMouse, KeepAspectRatioHoldsOnASideGrip) {
  const int h = AddBox(100, 100, 200, 150);  // 2 : 1
  view->ObjectRecord(h)->KeepAspectRatio = true;
  view->SelectObject(h);
  view->SetObjectInteract(IEVI(iviEditObjects));
  Pump();
  Drag(POINT{200, 125}, POINT{300, 125});  // the right side grip, 100 pixels further
  EXPECT_BOX(h, 100, 100, 300, 200);
}

TEST_F(VectMouse, MovesOutOfTheImageAreRefusedUnlessAllowed) {
  struct Case {
    bool Allow;
    int Left;
  };
  const Case kCases[] = {{false, 20}, {true, -30}};
  view->SetObjectInteract(IEVI(iviEditObjects));
  for (const Case& c : kCases) {
    view->RemoveAllObjects();
    const int h = AddBox(20, 100, 80, 160);
    view->AllowMoveOutside = c.Allow;
    Pump();
    Drag(POINT{50, 130}, POINT{0, 130}, 1);  // one step of 50 pixels
    EXPECT_EQ(Box(h).left, c.Left) << c.Allow;
    Sleep(GetDoubleClickTime() + 50);
  }
}

TEST_F(VectMouse, RectangleDragSelectsExactlyTheEnclosedObjects) {
  const int a = AddBox(100, 100, 140, 140);
  const int b = AddBox(160, 100, 200, 140);
  const int c = AddBox(180, 100, 300, 140);  // reaches past the rectangle
  view->SetObjectInteract(IEVI(iviEditObjects));
  Pump();
  Drag(POINT{90, 90}, POINT{250, 150});
  EXPECT_TRUE(view->IsSelected(a));
  EXPECT_TRUE(view->IsSelected(b));
  EXPECT_FALSE(view->IsSelected(c));
  EXPECT_EQ(view->SelectedObjectsCount(), 2);
}

TEST_F(VectMouse, BoxCreationFiresItsEventsInOrder) {
  std::vector<std::string> events;
  view->OnBeforeVectorialChanged = ui::TNotifyEvent([&](TObject*) { events.push_back("before"); });
  view->OnSelectObject = ui::TNotifyEvent([&](TObject*) { events.push_back("select"); });
  view->OnNewObject = [&](void*, int) { events.push_back("new"); };
  view->OnVectorialChanged = ui::TNotifyEvent([&](TObject*) { events.push_back("changed"); });
  view->SetObjectInteract(IEVI(iviCreateBox));
  Drag(POINT{100, 80}, POINT{220, 170});
  EXPECT_EQ(events, (std::vector<std::string>{"before", "select", "new", "select", "changed"}));
}

TEST_F(VectMouse, LongGripDragReportsOneChange) {
  const int h = AddBox(100, 100, 200, 160);
  view->SelectObject(h);
  view->SetObjectInteract(IEVI(iviEditObjects));
  int before = 0, changed = 0, steps = 0;
  view->OnBeforeVectorialChanged = ui::TNotifyEvent([&](TObject*) { ++before; });
  view->OnVectorialChanged = ui::TNotifyEvent([&](TObject*) { ++changed; });
  view->OnObjectMoveResize = [&](void*, int, int grip, int&, int&) {
    EXPECT_EQ(grip, ievgSecond);
    ++steps;
  };
  Pump();
  Drag(POINT{200, 160}, POINT{300, 260}, 20);
  EXPECT_EQ(before, 1);
  EXPECT_EQ(changed, 1);
  EXPECT_GT(steps, 5);
  EXPECT_BOX(h, 100, 100, 300, 260);
}

TEST_F(VectMouse, SeparatedUndoKeepsTheLimitAndDropsSnapshotsOfPressesThatChangedNothing) {
  const int h = AddBox(100, 100, 200, 160);
  view->SetObjectInteract(IEVI(iviEditObjects));
  view->ObjAutoUndo = true;
  view->ObjUndoLimit = 1;
  Pump();
  Click(POINT{150, 130});  // selects: nothing changed
  EXPECT_TRUE(view->IsSelected(h));
  EXPECT_EQ(view->UndoSnapshotCount(), 0);
  Drag(POINT{150, 130}, POINT{170, 130});
  EXPECT_EQ(Box(h).left, 120);
  EXPECT_EQ(view->UndoSnapshotCount(), 1);
  Sleep(GetDoubleClickTime() + 50);
  Drag(POINT{170, 130}, POINT{190, 130});
  EXPECT_EQ(Box(h).left, 140);
  ASSERT_EQ(view->UndoSnapshotCount(), 1);
  // the snapshot is the state before the second edit
  TImageryVect* copy = New<TImageryVect>(nullptr);
  const std::vector<uint8_t>& s = view->UndoSnapshot(0);
  TIEMemStream mem(s.data(), int64_t(s.size()));
  ASSERT_TRUE(copy->LoadObjectsFromStream(mem));
  ASSERT_EQ(copy->ObjectsCount(), 1);
  EXPECT_EQ(copy->ObjectRecord(0)->X1, 120);
  copy->Free();

  view->ObjUndoLimit = 0;
  view->ClearUndoSnapshots();
  Sleep(GetDoubleClickTime() + 50);
  Drag(POINT{190, 130}, POINT{210, 130});
  EXPECT_EQ(Box(h).left, 160);
  EXPECT_EQ(view->UndoSnapshotCount(), 0);
}

TEST_F(VectMouse, SharedUndoRestoresADraggedBoxThroughTheProcessingUndo) {
  const int h = AddBox(100, 100, 200, 160);
  view->SetObjectInteract(IEVI(iviEditObjects));
  view->ObjAutoUndo = true;
  view->ObjUndoMode = ieumShared;
  TImageryProc* proc = view->GetProc();
  Pump();
  Click(POINT{150, 130});  // selects: its entry is taken off again
  EXPECT_EQ(proc->UndoEntryCount(), 0);
  Drag(POINT{150, 130}, POINT{190, 150});
  EXPECT_EQ(Box(h).left, 140);
  ASSERT_EQ(proc->UndoEntryCount(), 1);
  EXPECT_EQ(proc->UndoSourceOf(0), ieuObject);
  EXPECT_EQ(view->UndoSnapshotCount(), 0);
  proc->Undo(false);
  ASSERT_EQ(view->ObjectsCount(), 1);
  EXPECT_EQ(view->ObjectRecord(0)->X1, 100);
  EXPECT_EQ(view->ObjectRecord(0)->Y1, 100);
  EXPECT_EQ(proc->UndoEntryCount(), 1);  // restoring the objects made no entry of its own
}

TEST_F(VectMouse, FastDrawingLastsWhileThePrimaryButtonIsHeld) {
  AddBox(100, 100, 200, 160);
  Pump();
  EXPECT_FALSE(view->FastDrawing);
  Move(POINT{300, 300});
  Press(POINT{300, 300});
  view->UpdateView();
  UpdateWindow(view->GetHandle());
  EXPECT_TRUE(view->FastDrawing);
  Release(POINT{300, 300});
  for (int i = 0; i < 50 && view->FastDrawing; ++i) Pump(1);
  EXPECT_FALSE(view->FastDrawing);

  // fast drawing the application turned on stays on: the button starts no timer that would end it
  view->FastDrawing = true;
  Press(POINT{300, 300});
  view->UpdateView();
  UpdateWindow(view->GetHandle());
  Release(POINT{300, 300});
  Pump(20);  // four ticks of the timer, had it started
  EXPECT_TRUE(view->FastDrawing);
  view->FastDrawing = false;
}

TEST_F(VectMouse, AViewMouseModeEndsTheObjectModesButKeepsDragToCreate) {
  const TIEVectInteract objectModes = IEVI(iviCreateBox) | IEVI(iviEditObjects) | IEVI(iviDragToCreate) |
                                      IEVI(iviCreateExtended) | IEVI(iviLengthMeasure);
  view->SetObjectInteract(objectModes);
  view->SetMouseInteractValue(0);
  EXPECT_EQ(view->GetObjectInteract(), objectModes);
  view->SetMouseInteractValue(IEMouseBit(miScroll));
  EXPECT_EQ(view->GetObjectInteract(), IEVI(iviDragToCreate) | IEVI(iviLengthMeasure));
}

}  // namespace
