// The palette dialog driven from a timer inside its modal loop: pointing, painting, clicking and
// cancelling.
#include <windows.h>

#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "iepalettedialog.h"
#include "ieutils.h"

using namespace ui;

namespace {

// Runs `step` every 50 ms inside the modal loop until it answers true; gives up after 10 s by
// cancelling the dialog.
struct Driver {
  static Driver* current;
  std::function<bool()> step;
  TImageryPaletteDialog* dlg;
  int ticks = 0;
  bool done = false;
  UINT_PTR id;
  Driver(TImageryPaletteDialog* d, std::function<bool()> s) : step(std::move(s)), dlg(d) {
    current = this;
    id = SetTimer(nullptr, 0, 50, Tick);
  }
  ~Driver() {
    KillTimer(nullptr, id);
    current = nullptr;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Driver* d = current;
    if (!d || d->done) return;
    if (++d->ticks > 200) {
      d->done = true;
      ADD_FAILURE() << "the dialog was not driven within 10 s";
      d->dlg->SetModalResult(mrCancel);
      return;
    }
    if (!d->dlg->HandleAllocated() || !IsWindowVisible(d->dlg->GetHandle())) return;
    d->done = d->step();
  }
};
Driver* Driver::current = nullptr;

void Move(TImageryPaletteDialog* d, int x, int y) { SendMessageA(d->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
void Click(TImageryPaletteDialog* d, int x, int y) {
  SendMessageA(d->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageA(d->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::vector<TIERGB> Ramp(int n) {
  std::vector<TIERGB> p(n);
  for (int i = 0; i < n; ++i) p[i] = TIERGB{uint8_t(i * 7), uint8_t(255 - i * 3), uint8_t(i * 11)};
  return p;
}

class PaletteDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCursorPos(0, 0);  // the real pointer stays off the centred window
    dlg = TCustomForm::CreateNew<TImageryPaletteDialog>(nullptr);
  }
  void TearDown() override { dlg->Free(); }
  TImageryPaletteDialog* dlg = nullptr;
};

TEST_F(PaletteDialog, IsBuiltInCode) {
  EXPECT_EQ(dlg->GetCaption(), "Palette");
  EXPECT_EQ(dlg->GetWidth(), 520);
  EXPECT_EQ(dlg->GetHeight(), 199);
  EXPECT_EQ(dlg->GetBorderIcons(), biSystemMenu);
  EXPECT_EQ(dlg->CancelButton->GetCaption(), "&Cancel");
  EXPECT_EQ(dlg->CancelButton->GetLeft(), 4);
  EXPECT_EQ(dlg->CancelButton->GetTop(), 136);
  EXPECT_EQ(dlg->CurrentCell, -1);
}

TEST(PaletteGrid, CellsAre16PixelsApart) {
  struct Case { int x, y, cell; } cases[] = {
      {1, 1, 0}, {16, 16, 0}, {17, 1, 1}, {32, 5, 1}, {33, 5, 2}, {512, 1, 31}, {1, 17, 32}, {20, 40, 65},
      {513, 1, -1},  // right of the 32nd column is no cell, not the next row's first
  };
  for (const Case& c : cases) EXPECT_EQ(TImageryPaletteDialog::CellAt(c.x, c.y), c.cell) << c.x << "," << c.y;
  const RECT r = TImageryPaletteDialog::CellRect(33);
  EXPECT_EQ(r.left, 17);
  EXPECT_EQ(r.top, 17);
  EXPECT_EQ(r.right, 32);
  EXPECT_EQ(r.bottom, 32);
}

TEST_F(PaletteDialog, PointingAndClickingReturnsTheCellsColour) {
  const auto pal = Ramp(16);
  dlg->SetPalette(pal.data(), 16);
  std::vector<int> seen;
  COLORREF inside = CLR_INVALID, frame = CLR_INVALID, otherFrame = CLR_INVALID;
  int stage = 0;
  Driver driver(dlg, [&] {
    switch (stage++) {
      case 0:
        // Before any cell was pointed at, a click has nothing to take: the dialog stays open.
        Click(dlg, 200, 100);
        seen.push_back(dlg->CurrentCell);
        for (int x : {1, 16, 17, 32}) {
          Move(dlg, x, 8);
          seen.push_back(dlg->CurrentCell);
        }
        Move(dlg, 8, 40);    // below the only row
        seen.push_back(dlg->CurrentCell);
        Move(dlg, 300, 8);   // right of the last entry of the row
        seen.push_back(dlg->CurrentCell);
        return false;
      case 1: {
        UpdateWindow(dlg->GetHandle());
        HDC dc = GetDC(dlg->GetHandle());
        inside = GetPixel(dc, 24, 8);      // cell 1's interior
        frame = GetPixel(dc, 17, 17 - 2);  // cell 1's frame (current: black)
        otherFrame = GetPixel(dc, 1, 1);   // cell 0's frame (white)
        ReleaseDC(dlg->GetHandle(), dc);
        Click(dlg, 300, 60);  // off the grid: takes the current cell
        return false;
      }
    }
    return false;
  });
  EXPECT_TRUE(dlg->Execute());
  EXPECT_EQ(seen, (std::vector<int>{-1, 0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(dlg->SelectedColor, IERGBToColor(pal[1]));
  EXPECT_EQ(inside, COLORREF(IERGBToColor(pal[1])));
  EXPECT_EQ(frame, RGB(0, 0, 0));
  EXPECT_EQ(otherFrame, RGB(255, 255, 255));
}

TEST_F(PaletteDialog, EscapeAndCancelReturnFalse) {
  const auto pal = Ramp(300);
  dlg->SetPalette(pal.data(), 300);  // only 256 fit: row 8 is no cell
  int after = 0;
  {
    // Keeps pressing Esc until the dialog is gone (the driver stops ticking once it is hidden).
    Driver driver(dlg, [&] {
      Move(dlg, 8, 8 * 16 + 5);
      after = dlg->CurrentCell;
      HWND focus = GetFocus();
      PostMessageA(focus ? focus : dlg->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
      return false;
    });
    EXPECT_FALSE(dlg->Execute());
  }
  EXPECT_EQ(after, -1);
  {
    Driver driver(dlg, [&] {
      SendMessageA(dlg->CancelButton->GetHandle(), BM_CLICK, 0, 0);
      return false;
    });
    EXPECT_FALSE(dlg->Execute());
  }
}

}  // namespace
