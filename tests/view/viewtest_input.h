// Real input for the view's mouse tests: the cursor is put where asked with SetCursorPos (absolute
// SendInput coordinates land a pixel short) and a zero move makes the window see it; buttons and keys
// go through SendInput, so GetAsyncKeyState and GetCursorPos read them as the view does. Also what the
// selection tests read back: the count and the bounding box of a mask's selected pixels.
#pragma once
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "iemask.h"
#include "uiforms.h"

namespace viewtest {

inline void Pump(int rounds = 3) {
  for (int i = 0; i < rounds; ++i) {
    ui::Application->ProcessMessages();
    Sleep(5);
  }
}

// The mouse messages this thread has taken from its queue since the first input sent here (a
// message hook sees them).
inline std::vector<MSG>& TakenMouseMessages();

inline LRESULT CALLBACK TakeMouseMessage(int code, WPARAM removed, LPARAM msg) {
  const MSG* m = reinterpret_cast<const MSG*>(msg);
  if (code == HC_ACTION && removed == PM_REMOVE &&
      ((m->message >= WM_MOUSEFIRST && m->message <= WM_MOUSELAST) ||
       (m->message >= WM_NCMOUSEMOVE && m->message <= WM_NCXBUTTONDBLCLK)))
    TakenMouseMessages().push_back(*m);
  return CallNextHookEx(nullptr, code, removed, msg);
}

inline std::vector<MSG>& TakenMouseMessages() {
  static std::vector<MSG> taken;
  static HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, TakeMouseMessage, nullptr, GetCurrentThreadId());
  (void)hook;
  return taken;
}

// Sends one mouse input and serves the queue until this thread has taken a message that `arrived`
// accepts, for at most 10 s: the display passes input on when it gets round to it.
template <class Accept>
void SendMouseInput(DWORD flags, Accept arrived) {
  std::vector<MSG>& taken = TakenMouseMessages();
  const size_t from = taken.size();
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  SendInput(1, &in, sizeof in);
  const DWORD start = GetTickCount();
  auto seen = [&] {
    for (size_t i = from; i < taken.size(); ++i)
      if (arrived(taken[i].message, taken[i].pt)) return true;
    return false;
  };
  for (;;) {
    ui::Application->ProcessMessages();
    if (seen()) return;
    if (GetTickCount() - start > 10000) break;
    Sleep(5);
  }
  ADD_FAILURE() << "mouse input " << flags << " never reached the window";
}

inline void MouseTo(POINT p) {
  SetCursorPos(p.x, p.y);
  SendMouseInput(MOUSEEVENTF_MOVE, [p](UINT m, POINT at) {
    return (m == WM_MOUSEMOVE || m == WM_NCMOUSEMOVE) && std::abs(at.x - p.x) <= 1 && std::abs(at.y - p.y) <= 1;
  });
}

inline void Buttons(DWORD flags) {
  const bool down = flags & (MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_RIGHTDOWN);
  const bool right = flags & (MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_RIGHTUP);
  const UINT first = right ? (down ? WM_RBUTTONDOWN : WM_RBUTTONUP) : (down ? WM_LBUTTONDOWN : WM_LBUTTONUP);
  if (!down && !(GetAsyncKeyState(right ? VK_RBUTTON : VK_LBUTTON) & 0x8000)) {
    // a release of a button that is up (a test's safety net) reaches no window
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    SendInput(1, &in, sizeof in);
    Pump(2);
    return;
  }
  SendMouseInput(flags, [first, down](UINT m, POINT) {
    // a press may come as a double click; client and non-client messages keep the same order
    return m == first || (down && m == first + 2) || m == first - (WM_LBUTTONDOWN - WM_NCLBUTTONDOWN) ||
           (down && m == first + 2 - (WM_LBUTTONDOWN - WM_NCLBUTTONDOWN));
  });
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
