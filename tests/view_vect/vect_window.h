// The vector view on a form under the display (client 500 x 500 over a 1000 x 1000 image, focused),
// and the real mouse input the window tests drive it with.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "iebitmap.h"
#include "ievect.h"
#include "ieviewglobals.h"
#include "uiforms.h"

inline void Pump(int rounds = 5) {
  for (int i = 0; i < rounds; ++i) {
    ui::Application->ProcessMessages();
    Sleep(10);
  }
}

// Serves the queue until `done()` holds, for at most `limitMs`; whether it came to hold. Input sent
// with SendInput reaches the window when the display gets round to it, however busy the machine.
template <class F>
bool PumpUntil(F done, DWORD limitMs = 10000) {
  const DWORD start = GetTickCount();
  for (;;) {
    ui::Application->ProcessMessages();
    if (done()) return true;
    if (GetTickCount() - start > limitMs) return false;
    Sleep(5);
  }
}

inline void SendMouse(DWORD flags, POINT screen) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = LONG(screen.x * 65535.0 / (GetSystemMetrics(SM_CXSCREEN) - 1) + 0.5);
  in.mi.dy = LONG(screen.y * 65535.0 / (GetSystemMetrics(SM_CYSCREEN) - 1) + 0.5);
  in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  SendInput(1, &in, sizeof in);
}

class VectWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    taken.clear();
    hook = SetWindowsHookExA(WH_GETMESSAGE, &VectWindow::Taken, nullptr, GetCurrentThreadId());
    form = ui::TCustomForm::CreateNew<ui::TForm>(nullptr);
    form->SetBounds(20, 20, 700, 700);
    view = ui::New<TImageryVect>(form);
    view->SetParent(form);
    view->SetBorderStyleValue(ui::bsNone);
    view->SetBounds(10, 10, 500 + IEScrollBarX, 500 + IEScrollBarY);
    view->GetIEBitmap()->Allocate(1000, 1000, ie24RGB);
    view->UpdateView();
    form->Show();
    SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form->GetHandle());
    Pump();
    view->SetFocus();  // keys reach the view
    Pump();
    Mouse(0, POINT{450, 450});  // away from where the tests press
    // presses of different tests never join into a double click
    Sleep(GetDoubleClickTime() + 50);
  }
  void TearDown() override {
    form->Free();
    UnhookWindowsHookEx(hook);
  }
  // One mouse event at a client point through the display; the queue is then served until this
  // thread has taken it (the button's message, or a move to that point), for at most 10 s.
  void Mouse(DWORD flags, POINT client) {
    const POINT at = Screen(client);
    POINT now{};
    GetCursorPos(&now);
    const size_t from = taken.size();
    SendMouse(flags, at);
    if (!(flags & (MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP)) && now.x == at.x && now.y == at.y) {
      Pump(2);  // no move to wait for: the pointer is there already
      return;
    }
    auto arrived = [&] {
      for (size_t i = from; i < taken.size(); ++i) {
        const MSG& m = taken[i];
        if (flags & MOUSEEVENTF_LEFTDOWN) {
          if (m.message == WM_LBUTTONDOWN || m.message == WM_LBUTTONDBLCLK) return true;
        } else if (flags & MOUSEEVENTF_LEFTUP) {
          if (m.message == WM_LBUTTONUP) return true;
        } else if (m.message == WM_MOUSEMOVE && std::abs(m.pt.x - at.x) <= 1 && std::abs(m.pt.y - at.y) <= 1) {
          return true;
        }
      }
      return false;
    };
    EXPECT_TRUE(PumpUntil(arrived)) << "mouse event " << flags << " at " << client.x << "," << client.y
                                    << " never reached the window";
  }
  // A key pressed or released through the display; after a release the queue is served until this
  // thread has taken it, for at most 10 s.
  void Key(WORD vk, bool up) {
    const size_t from = taken.size();
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof in);
    if (!up) return;
    auto released = [&] {
      for (size_t i = from; i < taken.size(); ++i)
        if ((taken[i].message == WM_KEYUP || taken[i].message == WM_SYSKEYUP) && taken[i].wParam == vk) return true;
      return false;
    };
    EXPECT_TRUE(PumpUntil(released)) << "the release of key " << vk << " never reached the window";
  }
  POINT Screen(POINT client) {
    ClientToScreen(view->GetHandle(), &client);
    return client;
  }
  ui::TForm* form = nullptr;
  TImageryVect* view = nullptr;

 private:
  // The mouse and key messages this thread took from its queue.
  static LRESULT CALLBACK Taken(int code, WPARAM removed, LPARAM msg) {
    const MSG* m = reinterpret_cast<const MSG*>(msg);
    if (code == HC_ACTION && removed == PM_REMOVE &&
        ((m->message >= WM_MOUSEFIRST && m->message <= WM_MOUSELAST) ||
         (m->message >= WM_KEYFIRST && m->message <= WM_KEYLAST)))
      taken.push_back(*m);
    return CallNextHookEx(nullptr, code, removed, msg);
  }
  static inline std::vector<MSG> taken;
  HHOOK hook = nullptr;
};
