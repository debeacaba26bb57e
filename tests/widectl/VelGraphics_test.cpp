// Wide text drawn and measured on the library's canvas, on both roads.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelGraphics.h"
#include "road.h"
#include "uibitmap.h"

namespace {

// A white 24-bit bitmap to draw on, with its canvas's notifications counted.
class Surface {
 public:
  Surface() {
    bitmap_ = ui::Create<ui::TBitmap>();
    bitmap_->SetPixelFormat(ui::pf24bit);
    bitmap_->SetSize(120, 40);
    canvas_ = bitmap_->Canvas();
    canvas_->Brush()->SetColor(ui::clWhite);
    canvas_->FillRect(RECT{0, 0, 120, 40});
    canvas_->OnChanging = ui::TNotifyEvent([this](ui::TObject*) { ++changing; });
    canvas_->OnChange = ui::TNotifyEvent([this](ui::TObject*) { ++changed; });
  }
  ~Surface() { bitmap_->Free(); }
  ui::TCanvas* Canvas() const { return canvas_; }
  std::vector<COLORREF> Pixels() const {
    std::vector<COLORREF> p;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 120; ++x) p.push_back(GetPixel(canvas_->GetHandle(), x, y));
    return p;
  }
  int changing = 0, changed = 0;

 private:
  ui::TBitmap* bitmap_;
  ui::TCanvas* canvas_;
};

class WideCanvasText : public BothRoads {};

TEST_P(WideCanvasText, DrawsAndMeasuresCharactersOutsideTheCodePage) {
  const std::wstring text = L"\u263A\u0391\u4E2D";
  Surface wide, reference, ansi;
  SIZE expected = {0, 0};
  reference.Canvas()->RequiredState(ui::TCanvas::csHandleValid | ui::TCanvas::csFontValid);
  GetTextExtentPoint32W(reference.Canvas()->GetHandle(), text.c_str(), 3, &expected);
  SIZE got = WideCanvasTextExtent(wide.Canvas(), text);
  EXPECT_EQ(got.cx, expected.cx);
  EXPECT_EQ(got.cy, expected.cy);
  EXPECT_GT(WideCanvasTextWidth(wide.Canvas(), text), 0);
  EXPECT_EQ(WideCanvasTextHeight(wide.Canvas(), text), expected.cy);

  WideCanvasTextOut(wide.Canvas(), 4, 4, text);
  ExtTextOutW(reference.Canvas()->GetHandle(), 4, 4, 0, nullptr, text.c_str(), 3, nullptr);
  ansi.Canvas()->TextOut(4, 4, "???");
  EXPECT_EQ(wide.Pixels(), reference.Pixels());
  EXPECT_NE(wide.Pixels(), ansi.Pixels());
  EXPECT_EQ(wide.Canvas()->PenPos().x, 4 + got.cx);
  EXPECT_EQ(wide.changing, 1);
  EXPECT_EQ(wide.changed, 1);
}

INSTANTIATE_TEST_SUITE_P(Roads, WideCanvasText, ::testing::Bool(), RoadName);

TEST(WideCanvasTextEdges, EmptyTextOnlyNotifiesAndMovesThePen) {
  Surface s;
  const SIZE size = WideCanvasTextExtent(s.Canvas(), L"");
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, 0);
  const auto before = s.Pixels();
  WideCanvasTextOut(s.Canvas(), 7, 9, L"");
  EXPECT_EQ(s.Pixels(), before);
  EXPECT_EQ(s.Canvas()->PenPos().x, 7);
  EXPECT_EQ(s.Canvas()->PenPos().y, 9);
  EXPECT_EQ(s.changing, 1);
  EXPECT_EQ(s.changed, 1);
}

TEST(WideCanvasTextEdges, RightToLeftStartsAfterTheText) {
  Surface s;
  HDC dc = s.Canvas()->GetHandle();
  SetLayout(dc, LAYOUT_RTL);
  const int w = WideCanvasTextWidth(s.Canvas(), L"abc");
  ASSERT_GT(w, 0);
  WideCanvasTextOut(s.Canvas(), 10, 2, L"abc");
  EXPECT_EQ(s.Canvas()->PenPos().x, 10 + 2 * w + 1);
  SetLayout(dc, 0);
}

TEST(WideCanvasTextEdges, NoDeviceContextMeasuresNothing) {
  const SIZE size = WideTextExtent(nullptr, L"abc");
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, 0);
}

}  // namespace
