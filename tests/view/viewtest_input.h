// Real input for the view's mouse tests: the cursor is put where asked with SetCursorPos (absolute
// SendInput coordinates land a pixel short) and a zero move makes the window see it; buttons and keys
// go through SendInput, so GetAsyncKeyState and GetCursorPos read them as the view does.
#pragma once
#include <windows.h>

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

}  // namespace viewtest
