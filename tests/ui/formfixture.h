// A fixture with one form made in code, and controls added to it.
#pragma once
#include <gtest/gtest.h>

#include "uiforms.h"

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
