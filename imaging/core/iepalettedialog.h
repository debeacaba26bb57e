// A small modal window that shows up to 256 palette colours as a grid of 16-pixel cells and returns
// the colour the user clicks.
#pragma once
#include "iedefs.h"
#include "uiforms.h"
#include "uistdctrls.h"

class TImageryPaletteDialog : public ui::TForm {
  UI_DECLARE_CLASS(TImageryPaletteDialog, ui::TForm)
 public:
  // The window is built in code (it has no layout resource): make it with
  // TCustomForm::CreateNew<TImageryPaletteDialog>(owner).
  void Create(ui::TComponent* owner) override;

  // Remembers the caller's array (neither copied nor owned) and how many entries to show; at most
  // 256 fit the window.
  void SetPalette(const TIERGB* palette, int count);
  // Shows the window modally; True when a cell was clicked, its colour is then in SelectedColor.
  bool Execute();

  int CurrentCell = -1;
  ui::TColor SelectedColor = 0;
  ui::TButton* CancelButton = nullptr;

  // The grid: cell i is at column i mod 32, row i div 32, 16 pixels apart.
  static int CellAt(int x, int y);
  static RECT CellRect(int index);

 private:
  void PaintCells(ui::TObject* sender);
  void MouseMove(ui::TObject* sender, int shift, int x, int y);
  void CellClick(ui::TObject* sender);

  const TIERGB* palette_ = nullptr;
  int count_ = 0;
};
