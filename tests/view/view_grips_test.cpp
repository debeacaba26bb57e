// Layer frames, grips and overlays as the view composes them into a bitmap: the grip squares and
// their hit test, the grip event, the dimmed surroundings of a layer and the pixel grid's threshold.
#include <gtest/gtest.h>

#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "imageryview.h"
#include "uiforms.h"
#include "viewtest_input.h"

using namespace ui;

namespace {

class GripView : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(20, 20, 420, 380);
    view = New<TImageryView>(form);
    view->SetParent(form);
    view->SetBorderStyleValue(bsNone);
    view->SetBounds(0, 0, 300, 260);
    view->SetBackground(RGB(0, 90, 0));
    view->GetIEBitmap()->Allocate(120, 100, ie24RGB);
    view->GetIEBitmap()->Fill(double(RGB(100, 100, 100)));
    layer = view->GetLayer(view->AddLayer());
    layer->Bitmap->Allocate(40, 30, ie24RGB);
    layer->Bitmap->Fill(double(RGB(200, 40, 40)));
    layer->PosX = 30;
    layer->PosY = 20;
    form->Show();
    viewtest::Pump();
    Compose();
  }
  void TearDown() override { form->Free(); }
  // Composes the layers with their decorations into `out`, as the repaint does into its buffer.
  void Compose() {
    out.SetLocation(ieTBitmap);
    out.Allocate(view->GetViewportWidth(), view->GetViewportHeight(), ie24RGB);
    view->UpdateView();
    view->DrawLayers(&out, nullptr, nullptr, true, true);
  }
  TForm* form = nullptr;
  TImageryView* view = nullptr;
  TIELayer* layer = nullptr;
  TIEBitmap out;
};

TEST_F(GripView, GripSquaresAndTheirHitTest) {
  const RECT r = layer->ClientRect;
  ASSERT_EQ(r.right - r.left, 40);
  RECT rects[9];
  view->GetLayerGripRects(view->GetCurrentLayerIndex(), rects);
  EXPECT_EQ(rects[0].left, r.left - 5);
  EXPECT_EQ(rects[0].top, r.top - 5);
  EXPECT_EQ(rects[0].right, r.left + 5);
  EXPECT_EQ(rects[0].bottom, r.top + 5);
  EXPECT_EQ(rects[2].left, r.right - 5);            // bottom-right on the far corner
  EXPECT_EQ(rects[7].left, (r.left + r.right) / 2 - 5);  // bottom side at the middle
  const int cx = (rects[8].left + rects[8].right) / 2, cy = (rects[8].top + rects[8].bottom) / 2;
  EXPECT_EQ(cx, r.left + 20);
  EXPECT_EQ(cy, r.top + 15);

  // edges belong to the square; the rotation centre counts only in rotation mode
  EXPECT_EQ(view->FindLayerGrip(r.left + 5, r.top + 5), ieTopLeft);
  EXPECT_EQ(view->FindLayerGrip(r.left + 6, r.top + 6), ieNone);
  EXPECT_EQ(view->FindLayerGrip(r.right, r.bottom), ieBottomRight);
  EXPECT_EQ(view->FindLayerGrip(cx, cy), ieNone);
  view->SetMouseInteractValue(IEMouseBit(miRotateLayers));
  EXPECT_EQ(view->GetMouseInteract(), IEMouseBit(miRotateLayers));
  EXPECT_EQ(view->FindLayerGrip(cx, cy), ieRotationCenter);
  view->SetMouseInteractValue(IEMouseBit(miResizeLayers));
  EXPECT_EQ(view->FindLayerGrip(cx, cy), ieNone);
}

TEST_F(GripView, GripEventDrawsAllNineAndNothingElse) {
  std::vector<int> grips;
  RECT first{};
  view->OnDrawLayerGrip = [&](void*, TIEBitmap*, int index, int grip, const RECT& rect) {
    EXPECT_EQ(index, 1);
    if (grip == 0) first = rect;
    grips.push_back(grip);
  };
  view->OnDrawLayerBox = [](void*, TIEBitmap*, int) {};  // no frame either
  view->SetMouseInteractValue(IEMouseBit(miResizeLayers));
  Compose();
  EXPECT_EQ(grips, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(first.left, layer->ClientRect.left - 5);
  // every pixel is the layer's or the image's or the background's: nothing was drawn over them
  const RECT r = layer->ClientRect;
  EXPECT_EQ(out.GetRGB(r.left, r.top).r, 200);
  EXPECT_EQ(out.GetRGB(r.left - 1, r.top - 1).r, 100);

  // a locked layer shows no grips
  grips.clear();
  layer->Locked = true;
  Compose();
  EXPECT_TRUE(grips.empty());
}

TEST_F(GripView, FrameIsDrawnInvertedOnlyInLayerModes) {
  const RECT r = layer->ClientRect;
  EXPECT_EQ(out.GetRGB(r.left, r.top + 1).r, 200);  // no mode: no frame
  view->SetMouseInteractValue(IEMouseBit(miMoveLayers));
  Compose();
  // the dotted frame inverts every other pixel of its left edge
  int inverted = 0;
  for (int y = r.top; y < r.bottom; ++y) inverted += out.GetRGB(r.left, y).r == 255 - 200;
  EXPECT_GT(inverted, 2);
  EXPECT_LT(inverted, r.bottom - r.top);
  EXPECT_EQ(out.GetRGB(r.left + 1, r.top + 1).r, 200);  // no brush: the inside stays

  // the pen as the application sets it: a solid blue line 3 pixels wide, copied
  TPen* pen = view->GetLayerBoxPen();
  pen->SetStyle(psSolid);
  pen->SetColor(RGB(0, 0, 255));
  pen->SetWidth(3);
  pen->SetMode(pmCopy);
  Compose();
  const int midY = (r.top + r.bottom) / 2;
  for (int x = r.left - 1; x <= r.left + 1; ++x) {
    const TIERGB p = out.GetRGB(x, midY);
    EXPECT_EQ(0, p.r) << x;
    EXPECT_EQ(255, p.b) << x;
  }
  EXPECT_EQ(200, out.GetRGB(r.left + 2, midY).r);
  EXPECT_NE(255, out.GetRGB(r.left - 2, midY).b);
}

TEST_F(GripView, DimOutsideMakesAnExactChecker) {
  layer->DimOutside = true;
  Compose();
  const RECT r = layer->ClientRect;
  int bad = 0, dimmed = 0;
  for (int y = 0; y < out.GetImageHeight(); ++y)
    for (int x = 0; x < out.GetImageWidth(); ++x) {
      const bool outside = x < r.left || x > r.right || y < r.top || y > r.bottom;
      const TIERGB p = out.GetRGB(x, y);
      const bool grey97 = p.r == 97 && p.g == 97 && p.b == 97;
      if (outside && (x + y) % 2 == 0) {
        bad += !grey97;
        ++dimmed;
      } else {
        bad += grey97;
      }
    }
  EXPECT_EQ(bad, 0);
  EXPECT_GT(dimmed, 1000);
  // not the current layer: nothing dimmed
  view->SetCurrentLayer(0);
  Compose();
  EXPECT_NE(out.GetRGB(0, 0).r, 97);
}

TEST_F(GripView, PixelGridFromFourHundredPercent) {
  view->ShowPixelGrid = true;
  view->SetCurrentLayer(0);
  auto inverted = [&] {
    int n = 0;
    for (int y = 0; y < out.GetImageHeight(); ++y)
      for (int x = 0; x < out.GetImageWidth(); ++x) n += out.GetRGB(x, y).r == 255 - 100;
    return n;
  };
  view->SetZoom(399);
  Compose();
  EXPECT_EQ(inverted(), 0);
  view->SetZoom(400);
  Compose();
  const int* d = view->GetCurrentLayer()->DrawInfo;
  EXPECT_GT(inverted(), 0);
  // a vertical line on every image column's left edge, through the drawn height
  const int x = d[0] + 4 * 3, y = d[1] + 2;
  EXPECT_EQ(out.GetRGB(x, y).r, 155);
  EXPECT_EQ(out.GetRGB(x + 2, y).r, 100);
  view->ShowPixelGrid = false;
  Compose();
  EXPECT_EQ(inverted(), 0);
}

}  // namespace
