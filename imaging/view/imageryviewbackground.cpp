// The image view's background settings.
#include <algorithm>

#include "iebackground.h"
#include "imageryview.h"
#include "uipicture.h"

void TImageryView::SetBackgroundStyleValue(TIEBackgroundStyle style) {
  BackgroundStyle = style;
  if (HandleAllocated()) InvalidateRect(GetHandle(), nullptr, FALSE);
  UpdateReason = 4;
  UpdateView();
}

void TImageryView::SetWallPaper(ui::TPicture* picture) {
  if (!WallPaper) WallPaper = new ui::TPicture();
  WallPaper->Assign(picture);
  UpdateReason = 4;
  UpdateView();
}

void TImageryView::SetWallPaperStyle(TIEWallPaperStyle style) {
  if (style == WallPaperStyle) return;
  WallPaperStyle = style;
  UpdateReason = 4;
  UpdateView();
}

void TImageryView::SetChessboardParams(int size, ui::TBrushStyle brushStyle) {
  ChessboardSize = std::max(size, 1);  // 0 or less would never advance a square
  ChessboardBrushStyle = brushStyle;
}

void TImageryView::PaintBackgroundTo(ui::TCanvas* canvas) {
  IEDrawBackground(InState(ui::csDesigning), canvas, nullptr, BackgroundStyle, Background, 0, 0, GetWidth(),
                   GetHeight(), 0, 0, 0, 0, ChessboardSize, ChessboardBrushStyle, GradientEndColor, WallPaper,
                   WallPaperStyle);
}
