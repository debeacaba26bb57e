// The selection modes' share of the image view's mouse machine: rubber-band rectangles and ellipses,
// polygons and lassos point by point, the magic wand, the zoom rectangle, and dragging a selection or
// one of its grips.
#include <algorithm>
#include <cmath>

#include "iegeom.h"
#include "ielayer.h"
#include "iemask.h"
#include "ieviewglobals.h"
#include "imageryview.h"
#include "uiforms.h"

namespace {
int Round(double v) { return int(std::lrint(v)); }
int Trunc(double v) { return int(v); }

constexpr TIEMouseInteract kSelectingModes = IEMouseBit(miSelect) | IEMouseBit(miSelectPolygon) |
                                             IEMouseBit(miSelectCircle) | IEMouseBit(miSelectMagicWand) |
                                             IEMouseBit(miSelectLasso);
}  // namespace

void TImageryView::MouseInteractChanging(TIEMouseInteract old) {
  // a polygon being drawn is dropped when the polygon mode is left
  if (!PolygonSelecting || !(old & IEMouseBit(miSelectPolygon))) return;
  RemoveLastPoint(SelectionPolygon);
  SelectionMask->Clear();
  EndSelection();
  PolygonSelecting = false;
  Invalidate();
}

bool TImageryView::ShiftAdds(int shift) const { return (shift & ui::ssShift) && ShiftAddsSelection; }

void TImageryView::SnapToLastPolygonPoint(int& x, int& y) {
  const TIEPolygonStore* s = SelectionPolygon;
  if (!s || s->Count == 0) return;
  const POINT last = s->Points[size_t(s->Count) - 1];
  if (last.x == kIEPolygonSeparator) return;
  TIELayer* layer = GetCurrentLayer();
  IESnapLineAngle(layer->BitmapToClientX(last.x), layer->BitmapToClientY(last.y), x, y);
}

bool TImageryView::MouseDownSelection(ui::TMouseButton button, int shift, int x, int y) {
  if (button != ui::mbLeft) return false;
  const bool shiftHeld = (shift & ui::ssShift) != 0;
  const bool constrain = (shift & ui::ssAlt) || ConstrainAlways;
  if (MouseInteract & (IEMouseBit(miSelectPolygon) | IEMouseBit(miSelectLasso))) {
    ApplyLayerRotations(-1);
    DoBeforeSelectionChange();
    SelectionMoveState = HitSelection(x, y, shiftHeld);
    if (SelectionMoveState == -1) {
      int px = StartX, py = StartY;
      if (constrain) SnapToLastPolygonPoint(px, py);
      if (!PolygonSelecting) {
        if (ShiftAdds(shift))
          BeginNewPolygon();
        else
          Deselect();
      }
      AddSelectionPoint(px, py);
      RubberBandPoint = POINT{px, py};
      PolygonSelecting = true;
      LassoSelecting = (MouseInteract & IEMouseBit(miSelectLasso)) != 0;
      DoSelectionChanging();
    }
    return true;
  }
  if (MouseInteract & IEMouseBit(miSelect)) {
    ApplyLayerRotations(-1);
    DoBeforeSelectionChange();
    SelectionGrip = GetGripAtUnlessShift(x, y, shiftHeld);
    if (SelectionGrip == 0) SelectionMoveState = HitSelection(x, y, shiftHeld);
    if (SelectionGrip == 0 && SelectionMoveState == -1) {
      RectSelecting = true;
      if (SelectionAspectRatio == 0) SelectRectTo(StartX, StartY, shift);
    }
    DoSelectionChanging();
    if (SelectionGrip != 0) {
      GripStartX1 = SelectionPolygon->X1;
      GripStartY1 = SelectionPolygon->Y1;
      GripStartX2 = SelectionPolygon->X2;
      GripStartY2 = SelectionPolygon->Y2;
    }
    return true;
  }
  if (MouseInteract & IEMouseBit(miSelectZoom)) {
    RectSelecting = true;
    DoSelectionChanging();
    PushSelection();
    return true;
  }
  if (MouseInteract & IEMouseBit(miSelectCircle)) {
    ApplyLayerRotations(-1);
    DoBeforeSelectionChange();
    SelectionMoveState = HitSelection(x, y, shiftHeld);
    if (SelectionMoveState == -1) {
      CircleSelecting = true;
      ShowSelection(false);
      if (SelectionAspectRatio == 0) SelectCircleTo(StartX, StartY, shift);
      DoSelectionChanging();
    }
    return true;
  }
  if (MouseInteract & IEMouseBit(miSelectMagicWand)) {
    ApplyLayerRotations(-1);
    DoBeforeSelectionChange();
    SelectionMoveState = HitSelection(x, y, shiftHeld);
    return true;
  }
  return false;
}

bool TImageryView::MouseMoveSelection(int shift, int x, int y, int rawX, int rawY) {
  (void)rawX;
  (void)rawY;
  if (SelectionGrip != 0) {
    AutoScroll();
    SelectionGrip = ResizeSelectionByGrip(SelectionGrip, x, y,
                                          (shift & ui::ssAlt) || ConstrainAlways || SelectionAspectRatio > 0);
    DoSelectionChanging();
    return true;
  }
  if (SelectionMoveState < 0) {
    if (RectSelecting) {
      SelectRectTo(x, y, shift);
      return true;
    }
    if (PolygonSelecting) {
      AutoScroll();
      AddSelectionPoint(x, y);
      RubberBandPoint = POINT{x, y};
      DoSelectionChanging();
      return true;
    }
    if (CircleSelecting) {
      SelectCircleTo(x, y, shift);
      return true;
    }
    return false;
  }
  if (SelectionOptions & IESelOpt(iesoCanScroll)) AutoScroll();
  TIELayer* layer = GetCurrentLayer();
  const int dx = layer->ClientToBitmapX(x) - layer->ClientToBitmapX(PrevX);
  const int dy = layer->ClientToBitmapY(y) - layer->ClientToBitmapY(PrevY);
  SelectionMoveState =
      MoveSelection(SelectionMoveState, dx, dy, (SelectionOptions & IESelOpt(iesoCutBorders)) != 0);
  DoSelectionChanging();
  return true;
}

bool TImageryView::MouseHoverSelection(int shift, int x, int y, int rawX, int rawY) {
  if (PolygonSelecting && !LassoSelecting) {
    // the rubber band follows the mouse from the last polygon point
    DrawPolygonRubberBand();
    int px = x, py = y;
    if ((shift & ui::ssAlt) || ConstrainAlways) SnapToLastPolygonPoint(px, py);
    x = px;
    y = py;
    RubberBandPoint = POINT{px, py};
    DrawPolygonRubberBand();
    DoSelectionChanging();
    return true;
  }
  if (!(MouseInteract & kSelectingModes)) return false;
  const bool shiftHeld = (shift & ui::ssShift) != 0;
  const int grip = GetGripAtUnlessShift(rawX, rawY, shiftHeld);
  DoMouseInResizingGrip(grip);
  if (grip != 0) {
    ShowTemporaryCursor(GripCursor(grip));
  } else if (HitSelection(rawX, rawY, shiftHeld) == 0) {
    ShowTemporaryCursor(crIEMove);
  } else if (ShiftAdds(shift) && (BaseCursor == crIEDefaultCross || BaseCursor == crIEAltCross)) {
    ShowTemporaryCursor(BaseCursor == crIEDefaultCross ? crIEAddCross : crIEAddAltCross);
  } else {
    RestoreBaseCursor();
  }
  return true;
}

void TImageryView::FinishRubberBand(int shift) {
  if (!ShiftAdds(shift)) SelectionMask->Clear();
  EndSelection();
}

void TImageryView::MouseUpSelection(ui::TMouseButton button, int shift, int x, int y, int rawX, int rawY,
                                    bool& changed) {
  const bool left = button == ui::mbLeft;
  const bool moved = rawX != DownX || rawY != DownY;
  auto selectionUpdate = [&] {
    changed = true;
    UpdateReason = 3;
    UpdateView();
  };
  if (left && (MouseInteract & IEMouseBit(miSelectZoom))) {
    ZoomSelection(ZoomSelectionKeepsAspect, true);
    RectSelecting = false;
    PopSelection(true, 0);
  } else if (left && (MouseInteract & IEMouseBit(miSelect))) {
    if (moved || SelectionGrip != 0 || SelectionMoveState >= 0) {
      if (RectSelecting || SelectionGrip != 0) FinishRubberBand(shift);
      RectSelecting = false;
      SelectionGrip = 0;
      SelectionMoveState = -1;
      changed = true;
      if (IsNavigator) {
        Invalidate();
      } else {
        UpdateReason = 3;
        UpdateView();
      }
    } else if (SelectionPresent) {
      Deselect();
      changed = true;
    }
    RectSelecting = false;
  } else if (left && (MouseInteract & IEMouseBit(miSelectCircle))) {
    if (!moved && SelectionAspectRatio != 0) {
      Deselect();
    } else {
      if (CircleSelecting) FinishRubberBand(shift);
      CircleSelecting = false;
      SelectionMoveState = -1;
      selectionUpdate();
    }
  } else if ((!left && (MouseInteract & IEMouseBit(miSelectLasso))) ||
             (left && (MouseInteract & IEMouseBit(miSelectPolygon)))) {
    if (SelectionMoveState >= 0) {
      SelectionMoveState = -1;
      changed = true;
    }
    UpdateReason = 3;
    UpdateView();
  } else if (left && (MouseInteract & IEMouseBit(miSelectMagicWand))) {
    if (SelectionMoveState < 0) {
      ShowTemporaryCursor(ui::crHourGlass);
      SelectMagicWand(x, y, ShiftAdds(shift) ? 1 : 0);
      RestoreBaseCursor();
    }
    SelectionMoveState = -1;
    selectionUpdate();
  } else if (left && (MouseInteract & IEMouseBit(miSelectLasso))) {
    if (!moved) {
      Deselect();
    } else {
      if (LassoSelecting) FinishRubberBand(shift);
      LassoSelecting = PolygonSelecting = false;
      SelectionMoveState = -1;
      selectionUpdate();
    }
  }
}

void TImageryView::MouseUpSelectionEnd() {
  if (SelectionMoving) {
    SelectionMask->Clear();
    EndSelection();
    SelectionMoving = false;
  }
}

void TImageryView::SelectRectTo(int x, int y, int shift) {
  AutoScroll();
  if (SelectionAspectRatio == 0) {
    const int hw = Round(FixedSelectionWidth * FX) / 2, hh = Round(FixedSelectionHeight * FY) / 2;
    StartX = x - hw;
    StartY = y - hh;
    x = x + hw - 1;
    y = y + hh - 1;
  }
  int operation = 0;
  if (ShiftAdds(shift)) {
    if (SelectionPolygon->Count > DownPointCount) RemoveLastPolygon(SelectionPolygon);
    operation = 1;
  }
  SelectRectInternal(StartX, StartY, x, y, operation, (shift & ui::ssAlt) || ConstrainAlways,
                     !(SelectionOptions & IESelOpt(iesoSizeable)));
  DoSelectionChanging();
}

void TImageryView::SelectCircleTo(int x, int y, int shift) {
  AutoScroll();
  int cx = StartX, cy = StartY, rx, ry;
  if (SelectionAspectRatio == 0) {
    cx = x;
    cy = y;
    rx = Round(FixedSelectionWidth * FX) / 2;
    ry = Round(FixedSelectionHeight * FY) / 2;
  } else {
    rx = std::abs(StartX - x);
    ry = std::abs(StartY - y);
    if (((shift & ui::ssAlt) || ConstrainAlways) && SelectionAspectRatio == -1) rx = ry = std::max(rx, ry);
    if (SelectionAspectRatio > 0) ry = Round(rx * SelectionAspectRatio);
  }
  if (ShiftAdds(shift)) {
    if (SelectionPolygon->Count > DownPointCount) RemoveLastPolygon(SelectionPolygon);
    BeginNewPolygon();
  } else {
    ClearPolygon(SelectionPolygon);
    SelectionMask->Clear();
  }
  TIELayer* layer = GetCurrentLayer();
  AddEllipsePolygon(layer->ClientToBitmapX(cx), layer->ClientToBitmapY(cy), Trunc(rx * IX), Trunc(ry * IY));
  ShowSelection(true);
  DoSelectionChanging();
}
