// A fixture with one form made in code, and controls added to it; finding a system dialog box.
#pragma once
#include <gtest/gtest.h>

#include <cstring>

#include "uiforms.h"

// The visible dialog box (window class "#32770") of the calling thread, or null. Message boxes and
// common dialogs run their own loops: tests find them from a timer.
inline BOOL CALLBACK FindVisibleDialogBox(HWND h, LPARAM lp) {
  char cls[32] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(h)) {
    *reinterpret_cast<HWND*>(lp) = h;
    return FALSE;
  }
  return TRUE;
}
inline HWND VisibleDialogBox() {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindVisibleDialogBox, reinterpret_cast<LPARAM>(&box));
  return box;
}

class FormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    form = ui::TCustomForm::CreateNew<ui::TForm>(nullptr);
    form->SetBounds(60, 60, 320, 240);
  }
  void TearDown() override {
    ui::Application->OnException = nullptr;
    if (form) form->Free();
  }
  static void Pump() {
    for (int i = 0; i < 3; ++i) {
      ui::Application->ProcessMessages();
      Sleep(10);
    }
  }
  template <class T>
  T* Add(int x, int y, int w, int h) {
    T* c = ui::New<T>(form);
    c->SetParent(form);
    c->SetBounds(x, y, w, h);
    return c;
  }
  ui::TForm* form = nullptr;
};
