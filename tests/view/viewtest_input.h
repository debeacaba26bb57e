// Real input for the view's mouse tests: the cursor is put where asked with SetCursorPos (absolute
// SendInput coordinates land a pixel short) and a zero move makes the window see it; buttons and keys
// go through SendInput, so GetAsyncKeyState and GetCursorPos read them as the view does. Also what the
// selection tests read back: the count and the bounding box of a mask's selected pixels.
#pragma once
#include <windows.h>

#include <algorithm>
#include <climits>

#include "iemask.h"
#include "uiforms.h"

namespace viewtest {

inline void Pump(int rounds = 3) {
  for (int i = 0; i < rounds; ++i) {
    ui::Application->ProcessMessages();
    Sleep(5);
  }
}

inline void MouseTo(POINT p) {
  SetCursorPos(p.x, p.y);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &in, sizeof in);
  Pump(2);
}

inline void Buttons(DWORD flags) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  SendInput(1, &in, sizeof in);
  Pump(2);
}

inline void Key(WORD vk, bool down) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &in, sizeof in);
  Pump(2);
}

// Presses at a, moves to b in `steps` equal steps and releases there.
inline void Drag(POINT a, POINT b, int steps = 5, bool right = false) {
  MouseTo(a);
  Buttons(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
  for (int i = 1; i <= steps; ++i)
    MouseTo(POINT{a.x + (b.x - a.x) * i / steps, a.y + (b.y - a.y) * i / steps});
  Buttons(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
  Pump(3);
}

inline void Click(POINT p, bool right = false) { Drag(p, p, 0, right); }

// How many pixels a mask selects and their bounding box (x2 = y2 = -1 when none).
struct MaskStats {
  int count = 0;
  int x1 = INT_MAX, y1 = INT_MAX, x2 = -1, y2 = -1;
};

inline MaskStats Stats(TIEMask* m) {
  MaskStats s;
  for (int y = 0; y < m->Height; ++y)
    for (int x = 0; x < m->Width; ++x)
      if (m->IsSelected(x, y)) {
        ++s.count;
        s.x1 = std::min(s.x1, x), s.y1 = std::min(s.y1, y);
        s.x2 = std::max(s.x2, x), s.y2 = std::max(s.y2, y);
      }
  return s;
}

}  // namespace viewtest
