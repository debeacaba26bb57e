// The two settings objects every image view owns: how its scroll bars step and how it answers the
// mouse wheel. The view reads them for every scroll-bar notification and wheel notch.
#pragma once
#include <cstdint>

// One per view and scroll bar.
class TIEScrollBarParams {
 public:
  // -1: a line step moves by the view's default line distance; n: by n times that distance.
  int LineStep = -1;
  // -1: a page step moves by the view's visible extent; n: by n times the default line distance.
  int PageStep = -1;
  // The view scrolls while the thumb is dragged; False: only when it is released.
  bool Tracking = true;
};

// One per view. Nothing happens while the view fits the image automatically.
class TIEMouseWheelParams {
 public:
  bool InvertDirection = false;
  uint8_t Action = 2;     // 0 nothing, 1 scroll, 2 zoom
  uint8_t Variation = 1;  // 0: Value is an absolute step (lines, or zoom per cent); 1: a percentage
  // Scroll: Value lines, or Value per cent of the visible extent (at least 1 pixel). Zoom: Value per
  // cent added, or Round(Value x zoom / 100) (at least 1).
  int Value = 8;
  bool ZoomPosition = false;  // zoom about the mouse position
};
