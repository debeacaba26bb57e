// Layer compositing, pixel by pixel, through DrawLayersTo (100 %, no window): opacity, masks, the
// outside-image modes, rotated layers, magnifying glasses, the merged extent and MergeAllLayers.
#include <gtest/gtest.h>

#include <string>

#include "ieblend.h"
#include "iebitmap.h"
#include "ielayer.h"
#include "imageryview.h"

using namespace ui;

namespace {

class Compose : public ::testing::Test {
 protected:
  void SetUp() override {
    view = New<TImageryView>(nullptr);
    view->SetBackground(RGB(0, 0, 255));
    Image0(60, 60, RGB(255, 255, 255));
  }
  void TearDown() override { view->Free(); }
  void Image0(int w, int h, COLORREF c) {
    view->GetIEBitmap()->Allocate(w, h, ie24RGB);
    view->GetIEBitmap()->Fill(double(c));
    view->UpdateView();
  }
  // A new layer of w x h in one colour at (x, y); the view's current layer stays layer 0.
  TIELayer* Layer(int w, int h, COLORREF c, int x, int y) {
    const int i = view->AddLayer();
    TIELayer* l = view->GetLayer(i);
    l->Bitmap->Allocate(w, h, ie24RGB);
    l->Bitmap->Fill(double(c));
    l->PosX = x;
    l->PosY = y;
    view->SetCurrentLayer(0);
    return l;
  }
  TIERGB At(int x, int y) { return out.GetRGB(x, y); }
  TImageryView* view = nullptr;
  TIEBitmap out;
};

std::string S(int r, int g, int b) { return std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b); }
std::string S(TIERGB c) { return S(c.r, c.g, c.b); }

TEST_F(Compose, TransparencyBlendsWithTheLibrarysAlphaRule) {
  TIELayer* black = Layer(20, 20, RGB(0, 0, 0), 10, 10);
  struct Case {
    int transparency;
    uint8_t expected;
  };
  const Case cases[] = {{128, IEAlphaMix(255, 0, 128)}, {255, 0}, {0, 255}, {1, IEAlphaMix(255, 0, 1)}};
  for (const Case& c : cases) {
    black->Transparency = c.transparency;
    out.Allocate(1, 1, ie24RGB);
    view->DrawLayersTo(&out);
    ASSERT_EQ(60, out.GetImageWidth());
    EXPECT_EQ(c.expected, At(15, 15).r) << c.transparency;
    EXPECT_EQ(c.expected, At(29, 29).g) << c.transparency;
    EXPECT_EQ(S(255, 255, 255), S(At(30, 30)));  // outside the layer
  }
  EXPECT_EQ(127, IEAlphaMix(255, 0, 128));
}

TEST_F(Compose, OffsetMaskCutsTheLayerBelowIt) {
  TIELayer* red = Layer(20, 20, RGB(255, 0, 0), 10, 10);
  TIELayer* mask = Layer(20, 20, RGB(0, 0, 0), 15, 12);
  mask->IsMask = true;
  mask->Visible = false;
  mask->Bitmap->Allocate(20, 20, ie8g);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) mask->Bitmap->SetByte(x, y, uint8_t(x * 12 + y));
  view->DrawLayersTo(&out);
  // layer column i reads mask column i + 10 - 15, row j mask row j + 10 - 12; outside the mask: 0
  for (int j = 0; j < 20; ++j)
    for (int i = 0; i < 20; ++i) {
      const int m = i - 5, r = j - 2;
      const int a = m >= 0 && r >= 0 ? m * 12 + r : 0;
      const TIERGB c = At(10 + i, 10 + j);
      ASSERT_EQ(255, c.r) << i << "," << j;
      ASSERT_EQ(IEAlphaMix(255, 0, a), c.g) << i << "," << j;
    }
  // the layer's own alpha comes back after the drawing
  EXPECT_FALSE(red->Bitmap->AlphaPresent());

  // a mask above a rotated layer is not used
  mask->Bitmap->Fill(0);
  view->UpdateView();  // the combined alpha follows the change
  red->SetRotation(90);  // a square about its centre: the same place
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(255, 0, 0), S(At(12, 12)));
  EXPECT_EQ(S(255, 0, 0), S(At(28, 28)));
}

TEST_F(Compose, OutsideImageModes) {
  // a green layer half outside layer 0 on the right
  Layer(20, 10, RGB(0, 200, 0), 50, 5);
  // the merged area right of layer 0 starts as the Background blue (0, 0, 255)
  struct Case {
    uint8_t mode;
    int x, y;
    uint8_t r, g, b;
  };
  const Case cases[] = {
      {0, 55, 8, 0, 200, 0},                                     // inside layer 0
      {0, 65, 8, 0, 200, 0},                                     // outside, shown normally
      {1, 55, 8, 0, 200, 0},                                     // inside layer 0: opaque
      {1, 65, 8, 0, IEAlphaMix(0, 200, 60), IEAlphaMix(255, 0, 60)},  // outside: opacity 60
      {2, 65, 8, 0, 200, 0},                                     // x + y odd: kept
      {2, 66, 8, 128, 128, 128},                                 // even: grey
      {2, 66, 40, 128, 128, 128},                                // the bare area outside as well
      {2, 30, 30, 255, 255, 255},                                // inside layer 0: untouched
      {3, 65, 8, 60, 255, 60},                                   // outside: +60 per channel, clamped
      {3, 60, 20, 60, 60, 255},                                  // the first column outside
      {3, 59, 20, 255, 255, 255},                                // the last column inside
  };
  for (const Case& c : cases) {
    view->OutsideImageMode = c.mode;
    view->UpdateView();
    out.FreeStorage(true);
    view->DrawLayersTo(&out);
    ASSERT_EQ(70, out.GetImageWidth());
    EXPECT_EQ(S(c.r, c.g, c.b), S(At(c.x, c.y))) << "mode " << int(c.mode) << " at " << c.x << "," << c.y;
  }
}

TEST_F(Compose, TinyLayersAreNotDrawn) {
  TIELayer* dot = Layer(1, 1, RGB(0, 0, 0), 0, 0);
  dot->Width = dot->Height = 30;  // displayed large, still a 1 x 1 bitmap
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(255, 255, 255), S(At(10, 10)));
  dot->Bitmap->Allocate(2, 1, ie24RGB);  // 2 pixels on one axis are enough
  dot->Bitmap->Fill(0);
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(0, 0, 0), S(At(10, 10)));
}

TEST_F(Compose, RotatedLayerRecordsItsTurnedOutline) {
  TIELayer* l = Layer(20, 10, RGB(255, 0, 0), 20, 20);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 2; ++x) l->Bitmap->SetRGB(x, y, IEMakeRGB(0, 0, 255));  // the left edge blue
  l->SetRotation(90);
  view->DrawLayersTo(&out);
  // the corners turn a quarter counter-clockwise about the centre (10, 5) of the 20 x 10 layer
  const int expected[8] = {25, 35, 25, 15, 35, 15, 35, 35};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(expected[k], l->DrawInfo[8 + k]) << k;
  EXPECT_EQ(20, l->PosX);  // the saved place comes back after the drawing
  EXPECT_EQ(0, l->Width);
  // the turned layer fills (25, 15) - (35, 35): its left edge is now the bottom
  EXPECT_EQ(S(0, 0, 255), S(At(30, 34)));
  EXPECT_EQ(S(255, 0, 0), S(At(30, 16)));
  EXPECT_EQ(S(255, 255, 255), S(At(24, 25)));
  EXPECT_EQ(S(255, 255, 255), S(At(30, 36)));
  EXPECT_TRUE(view->IsPointInLayer(30, 20, 1));
  EXPECT_FALSE(view->IsPointInLayer(22, 20, 1));  // inside the unturned place, outside the outline
}

TEST_F(Compose, GlassOverLayer0ShowsItDoubled) {
  TIEBitmap* image = view->GetIEBitmap();
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 60; ++x) image->SetRGB(x, y, IEMakeRGB(uint8_t(x * 4), uint8_t(y * 4), 7));
  TIELayer* glass = Layer(20, 20, RGB(0, 0, 0), 20, 20);
  glass->Magnify = true;
  glass->MagnifySource = 0;
  glass->MagnifyFactor = 2;
  view->DrawLayersTo(&out);
  // the glass is centred on (30, 30) and shows the 10 x 10 image pixels around it at twice their size
  for (int gy = 0; gy < 20; ++gy)
    for (int gx = 0; gx < 20; ++gx) {
      const TIERGB c = At(20 + gx, 20 + gy);
      ASSERT_EQ((25 + gx / 2) * 4, c.r) << gx << "," << gy;
      ASSERT_EQ((25 + gy / 2) * 4, c.g) << gx << "," << gy;
    }
  EXPECT_EQ(S(19 * 4, 19 * 4, 7), S(At(19, 19)));

  // a round glass leaves its corners to what lies beneath
  glass->MagnifyShape = 1;
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(20 * 4, 20 * 4, 7), S(At(20, 20)));
  EXPECT_EQ(S((25 + 1) * 4, (25 + 5) * 4, 7), S(At(22, 30)));  // inside the ellipse: magnified
}

TEST_F(Compose, LayersLeftOfTheImageWidenTheMergedResult) {
  Image0(40, 30, RGB(255, 255, 255));
  Layer(20, 10, RGB(255, 0, 0), -10, 5);
  view->DrawLayersTo(&out);
  ASSERT_EQ(50, out.GetImageWidth());
  ASSERT_EQ(30, out.GetImageHeight());
  EXPECT_EQ(S(255, 0, 0), S(At(0, 5)));     // the layer starts at the left edge
  EXPECT_EQ(S(0, 0, 255), S(At(0, 0)));     // around it: the Background
  EXPECT_EQ(S(255, 0, 0), S(At(19, 14)));
  EXPECT_EQ(S(255, 255, 255), S(At(20, 5)));  // layer 0 from x = 10
  EXPECT_EQ(S(255, 255, 255), S(At(10, 0)));
  EXPECT_EQ(S(255, 255, 255), S(At(49, 29)));

  TIEBitmap drawn;
  drawn.Assign(&out);
  view->MergeAllLayers();
  EXPECT_EQ(1, view->GetLayerCount());
  TIEBitmap* merged = view->GetIEBitmap();
  ASSERT_EQ(50, merged->GetImageWidth());
  ASSERT_EQ(30, merged->GetImageHeight());
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 50; ++x) {
      const TIERGB a = drawn.GetRGB(x, y), b = merged->GetRGB(x, y);
      ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b) << x << "," << y;
    }
}

}  // namespace

namespace {

TEST_F(Compose, MovedLayer0AndLayerFiltersUseTheLayerPath) {
  Image0(20, 10, RGB(255, 255, 255));
  // layer 0 one pixel to the right: drawn at its place, the Background left of it
  view->GetLayer(0)->PosX = 1;
  view->DrawLayersTo(&out);
  ASSERT_EQ(21, out.GetImageWidth());
  EXPECT_EQ(S(0, 0, 255), S(At(0, 5)));
  EXPECT_EQ(S(255, 255, 255), S(At(1, 5)));
  view->GetLayer(0)->PosX = 0;

  // a 2 x 1 layer shown 20 wide: plain pixel doubling without filter, a ramp with its own filter
  TIELayer* l = Layer(2, 1, RGB(0, 0, 0), 0, 0);
  l->Bitmap->SetRGB(1, 0, IEMakeRGB(200, 200, 200));
  l->Width = 20;
  l->Height = 4;
  view->DrawLayersTo(&out);
  int distinct = 0;
  for (int x = 1; x < 20; ++x) distinct += At(x, 2).r != At(x - 1, 2).r;
  EXPECT_EQ(1, distinct);
  EXPECT_EQ(0, At(9, 2).r);
  EXPECT_EQ(200, At(10, 2).r);
  l->ResampleFilter = rfBilinear;
  l->UseResampleFilter = true;
  view->DrawLayersTo(&out);
  distinct = 0;
  for (int x = 1; x < 20; ++x) distinct += At(x, 2).r != At(x - 1, 2).r;
  EXPECT_GT(distinct, 4);
  EXPECT_LT(At(0, 2).r, 40);
  EXPECT_GT(At(19, 2).r, 160);
}

TEST_F(Compose, DrawLayersToPutsTheViewsGeometryBack) {
  Image0(300, 200, RGB(255, 255, 255));
  view->SetZoom(250);
  view->SetViewOrigin(40, 30);
  Layer(20, 20, RGB(0, 0, 0), -5, -5);
  const double zoom = view->GetZoom();
  const int ox = view->GetViewOriginX(), oy = view->GetViewOriginY();
  const int cx = view->GetCenterOffsetX(), cy = view->GetCenterOffsetY();
  const RECT src = view->GetSourceRect();
  const int client = view->ImageToClientX(100);
  view->DrawLayersTo(&out);
  EXPECT_EQ(305, out.GetImageWidth());
  EXPECT_EQ(zoom, view->GetZoom());
  EXPECT_EQ(ox, view->GetViewOriginX());
  EXPECT_EQ(oy, view->GetViewOriginY());
  EXPECT_EQ(cx, view->GetCenterOffsetX());
  EXPECT_EQ(cy, view->GetCenterOffsetY());
  const RECT after = view->GetSourceRect();
  EXPECT_EQ(src.left, after.left);
  EXPECT_EQ(src.right, after.right);
  EXPECT_EQ(client, view->ImageToClientX(100));
}

}  // namespace

namespace {

TEST_F(Compose, FilteredLayersShowNewPixelsAfterAnUpdate) {
  TIELayer* l = Layer(4, 4, RGB(200, 0, 0), 10, 10);
  l->Width = l->Height = 16;
  l->ResampleFilter = rfBilinear;
  l->UseResampleFilter = true;
  view->DrawLayersTo(&out);
  EXPECT_EQ(200, At(18, 18).r);
  view->DrawLayersTo(&out);  // drawn again from what was kept
  EXPECT_EQ(200, At(18, 18).r);
  l->Bitmap->Fill(double(RGB(0, 0, 90)));
  view->UpdateView();
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(0, 0, 90), S(At(18, 18)));
}

}  // namespace

namespace {

// An update told which layer changed drops that layer's kept filtered pixels only (and the layer
// below's combined alpha, which reads it as a mask); the next plain update drops them all.
TEST_F(Compose, LayerCacheToDropNamesTheLayerWhosePixelsChanged) {
  TIELayer* layers[2];
  for (int i = 0; i < 2; ++i) {
    layers[i] = Layer(4, 4, RGB(200, 0, 0), 4 + 24 * i, 10);
    layers[i]->Width = layers[i]->Height = 16;
    layers[i]->ResampleFilter = rfBilinear;
    layers[i]->UseResampleFilter = true;
  }
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(200, 0, 0), S(At(12, 18)));
  EXPECT_EQ(S(200, 0, 0), S(At(36, 18)));
  for (TIELayer* l : layers) l->Bitmap->Fill(double(RGB(0, 0, 90)));
  view->LayerCacheToDrop = 2;
  view->UpdateView();
  EXPECT_EQ(-1, view->LayerCacheToDrop);
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(200, 0, 0), S(At(12, 18)));  // layer 1 still shows what was kept of it
  EXPECT_EQ(S(0, 0, 90), S(At(36, 18)));
  view->UpdateView();
  view->DrawLayersTo(&out);
  EXPECT_EQ(S(0, 0, 90), S(At(12, 18)));
}

}  // namespace
