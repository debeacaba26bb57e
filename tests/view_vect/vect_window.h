// The vector view on a form under the display (client 500 x 500 over a 1000 x 1000 image, focused),
// and the real mouse input the window tests drive it with.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

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
    SendMouse(0, Screen(POINT{450, 450}));  // away from where the tests press
    Pump();
    // presses of different tests never join into a double click
    Sleep(GetDoubleClickTime() + 50);
  }
  void TearDown() override { form->Free(); }
  POINT Screen(POINT client) {
    ClientToScreen(view->GetHandle(), &client);
    return client;
  }
  ui::TForm* form = nullptr;
  TImageryVect* view = nullptr;
};
