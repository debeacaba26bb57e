#include "iepalettedialog.h"

#include <algorithm>

#include "ieutils.h"

using namespace ui;

UI_IMPLEMENT_CLASS(TImageryPaletteDialog, TForm, nullptr, nullptr, nullptr, nullptr)

namespace {
constexpr int kCell = 16, kPerRow = 32, kMaxCells = 256;
}

void TImageryPaletteDialog::Create(TComponent* owner) {
  inherited::Create(owner);
  SetCaption("Palette");
  SetBorderIcons(biSystemMenu);
  SetBorderStyle(bsDialog);
  SetBounds(0, 0, 520, 199);
  SetPosition(poScreenCenter);
  CancelButton = New<TButton>(this);
  CancelButton->SetParent(this);
  CancelButton->SetCaption("&Cancel");
  CancelButton->SetLeft(4);
  CancelButton->SetTop(136);
  CancelButton->SetModalResult(mrCancel);
  CancelButton->SetCancel(true);
  OnPaint = TNotifyEvent(this, &TImageryPaletteDialog::PaintCells);
  OnMouseMove = TMouseMoveEvent(this, &TImageryPaletteDialog::MouseMove);
  OnClick = TNotifyEvent(this, &TImageryPaletteDialog::CellClick);
}

void TImageryPaletteDialog::SetPalette(const TIERGB* palette, int count) {
  palette_ = palette;
  count_ = palette ? std::clamp(count, 0, kMaxCells) : 0;
  if (CurrentCell >= count_) CurrentCell = -1;
  if (HandleAllocated()) Invalidate();
}

bool TImageryPaletteDialog::Execute() { return ShowModal() == mrOk; }

int TImageryPaletteDialog::CellAt(int x, int y) {
  // Division truncating toward zero, as the grid's own arithmetic: x = 0 still falls in column 0.
  const int col = (x - 1) / kCell, row = (y - 1) / kCell;
  if (col < 0 || col >= kPerRow || row < 0) return -1;
  return row * kPerRow + col;
}

RECT TImageryPaletteDialog::CellRect(int index) {
  const int col = index % kPerRow, row = index / kPerRow;
  return RECT{col * kCell + 1, row * kCell + 1, col * kCell + kCell, row * kCell + kCell};
}

void TImageryPaletteDialog::PaintCells(TObject*) {
  TCanvas* canvas = Canvas();
  for (int i = 0; i < count_; ++i) {
    canvas->Brush()->SetColor(IERGBToColor(palette_[i]));
    canvas->Pen()->SetColor(i == CurrentCell ? clBlack : clWhite);
    const RECT r = CellRect(i);
    canvas->Rectangle(r.left, r.top, r.right, r.bottom);
  }
}

void TImageryPaletteDialog::MouseMove(TObject*, int, int x, int y) {
  const int cell = CellAt(x, y);
  if (cell >= 0 && cell < count_ && cell != CurrentCell) {
    CurrentCell = cell;
    Invalidate();
  }
}

void TImageryPaletteDialog::CellClick(TObject*) {
  // Before the mouse has been over any cell there is nothing to take: the click does nothing.
  if (CurrentCell < 0 || CurrentCell >= count_) return;
  SelectedColor = IERGBToColor(palette_[CurrentCell]);
  SetModalResult(mrOk);
}
