// The view's layers without a window: the layer list and its current-layer rule, hit tests, keeping
// layer sizes in step, the layer's own settings (rotation, user data) and its undo record.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "iestreams.h"
#include "imageryview.h"

using namespace ui;

namespace {

class Layers : public ::testing::Test {
 protected:
  void SetUp() override {
    view = New<TImageryView>(nullptr);
    // larger than the 50 x 50 viewport of a windowless view: no centring, client = image pixels
    view->GetIEBitmap()->Allocate(100, 80, ie24RGB);
    view->GetIEBitmap()->Fill(double(RGB(10, 20, 30)));
    view->UpdateView();
  }
  void TearDown() override { view->Free(); }
  // A new layer named by its index, so that the list order can be read back.
  int Add(const char* name) {
    const int i = view->AddLayer();
    view->GetLayer(i)->Name = name;
    return i;
  }
  std::string Names() {
    std::string s;
    for (int i = 0; i < view->GetLayerCount(); ++i) s += view->GetLayer(i)->Name.empty() ? "0" : view->GetLayer(i)->Name;
    return s;
  }
  TImageryView* view = nullptr;
};

TEST_F(Layers, AddedLayerIsCurrentAndTheWorkingBitmap) {
  view->SetBackground(RGB(1, 2, 3));
  const int i = view->AddLayer();
  EXPECT_EQ(1, i);
  EXPECT_EQ(1, view->GetCurrentLayerIndex());
  TIELayer* layer = view->GetLayer(1);
  EXPECT_EQ(view->GetIEBitmap(), layer->Bitmap);
  EXPECT_EQ(100, layer->Bitmap->GetImageWidth());
  EXPECT_EQ(80, layer->Bitmap->GetImageHeight());
  EXPECT_EQ(ie24RGB, layer->Bitmap->GetPixelFormat());
  const TIERGB c = layer->Bitmap->GetRGB(5, 5);
  EXPECT_EQ(1, c.r);
  EXPECT_EQ(3, c.b);
  EXPECT_FALSE(layer->Bitmap->AlphaPresent());
  // a new view's layer 0 shows no frame and does not move
  EXPECT_FALSE(view->GetLayer(0)->BoxVisible);
  EXPECT_TRUE(view->GetLayer(0)->Locked);
  EXPECT_TRUE(layer->BoxVisible);
  EXPECT_FALSE(layer->Locked);
  EXPECT_THROW(view->GetLayer(2), std::out_of_range);
}

TEST_F(Layers, RemoveLayerTakesTheMaskAboveAlong) {
  view->RemoveLayer(0);  // the only layer stays
  EXPECT_EQ(1, view->GetLayerCount());
  Add("a");
  Add("m");
  Add("b");
  Add("c");
  view->GetLayer(2)->IsMask = true;
  view->SetCurrentLayer(4);
  view->RemoveLayer(1);  // "a" and its mask "m"
  EXPECT_EQ("0bc", Names());
  EXPECT_EQ(2, view->GetCurrentLayerIndex());  // "c" stays current
  EXPECT_EQ(view->GetLayer(2)->Bitmap, view->GetIEBitmap());

  view->RemoveLayer(2);  // the current layer itself: the one now at its place, or the last
  EXPECT_EQ("0b", Names());
  EXPECT_EQ(1, view->GetCurrentLayerIndex());
  view->RemoveLayer(5);  // out of range: nothing
  EXPECT_EQ("0b", Names());
  view->ClearLayers();
  EXPECT_EQ(1, view->GetLayerCount());
  EXPECT_EQ(view->GetLayer(0)->Bitmap, view->GetIEBitmap());
}

TEST_F(Layers, SetCurrentLayerSkipsLayersThatMayNotBeSelected) {
  Add("a");
  Add("b");
  Add("c");
  view->GetLayer(2)->Selectable = false;
  view->GetLayer(3)->Selectable = false;
  view->GetLayer(1)->Selectable = false;
  struct Case {
    bool selectableOnly;
    int from, to, expected;
  };
  const Case cases[] = {
      {true, 0, 3, 0},   // 3, 2 and 1 pass the choice down to layer 0
      {true, 0, 2, 0},
      {false, 0, 3, 3},  // the flag is honoured only while SelectableLayersOnly is set
      {true, 3, 3, 3},   // already current: nothing
      {true, 3, 9, 3},   // out of range: nothing
  };
  for (const Case& c : cases) {
    view->SelectableLayersOnly = false;
    view->SetCurrentLayer(c.from);
    view->SelectableLayersOnly = c.selectableOnly;
    view->SetCurrentLayer(c.to);
    EXPECT_EQ(c.expected, view->GetCurrentLayerIndex()) << c.from << " -> " << c.to;
    EXPECT_EQ(view->GetLayer(c.expected)->Bitmap, view->GetIEBitmap());
  }
}

TEST_F(Layers, RotationStoresZeroForWholeTurns) {
  struct Case {
    double angle, stored;
  };
  const Case cases[] = {{360, 0}, {-720, 0}, {0, 0}, {360.5, 360.5}, {45, 45}, {-90, -90}, {720.25, 720.25}};
  TIELayer* layer = view->GetLayer(0);
  for (const Case& c : cases) {
    layer->SetRotation(c.angle);
    EXPECT_EQ(c.stored, layer->GetRotation()) << c.angle;
  }
}

TEST_F(Layers, FindLayerAtPassesTransparentPixels) {
  const int i = Add("a");
  TIELayer* layer = view->GetLayer(i);
  layer->Bitmap->Allocate(20, 20, ie24RGB);
  TIEBitmap* alpha = layer->Bitmap->GetAlphaChannel();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) alpha->SetByte(x, y, x < 10 ? 0 : 255);  // left half transparent
  layer->PosX = 10;
  layer->PosY = 10;
  view->GetLayer(0)->ClientRect = RECT{0, 0, 100, 80};
  layer->ClientRect = RECT{10, 10, 30, 30};
  struct Case {
    int x, y, expected;
  };
  const Case cases[] = {{12, 15, 0}, {25, 15, 1}, {30, 30, 1} /* edges belong to the layer */, {60, 60, 0},
                        {200, 5, -1}};
  for (const Case& c : cases) EXPECT_EQ(c.expected, view->FindLayerAt(c.x, c.y, true)) << c.x << "," << c.y;
  layer->Visible = false;
  EXPECT_EQ(0, view->FindLayerAt(25, 15, true));
  layer->Visible = true;
  layer->Selectable = false;
  EXPECT_EQ(0, view->FindLayerAt(25, 15, true));
  EXPECT_EQ(1, view->FindLayerAt(25, 15, false));
}

TEST_F(Layers, SyncLayerSizesPadsSmallerLayersTransparently) {
  const int i = Add("a");
  TIEBitmap* b = view->GetLayer(i)->Bitmap;
  b->Allocate(30, 120, ie24RGB);
  b->Fill(double(RGB(200, 0, 0)));
  view->SyncLayerSizes = true;
  view->SyncLayers();
  EXPECT_EQ(100, view->GetImageWidth());
  EXPECT_EQ(120, view->GetImageHeight());
  for (int k = 0; k < 2; ++k) {
    TIEBitmap* lb = view->GetLayer(k)->Bitmap;
    EXPECT_EQ(100, lb->GetImageWidth());
    EXPECT_EQ(120, lb->GetImageHeight());
  }
  EXPECT_EQ(255, b->GetAlphaAt(29, 119));  // the old pixels stay opaque at the top left
  EXPECT_EQ(200, b->GetRGB(29, 119).r);
  EXPECT_EQ(0, b->GetAlphaAt(30, 0));      // the new area is transparent
  TIEBitmap* b0 = view->GetLayer(0)->Bitmap;
  EXPECT_EQ(255, b0->GetAlphaAt(99, 79));
  EXPECT_EQ(0, b0->GetAlphaAt(99, 80));
}

TEST_F(Layers, UndoRecordIs123BytesBareAndRoundTrips) {
  TIELayer* layer = view->GetLayer(0);
  TIEMemoryStream bare;
  layer->SaveToStream(bare, false);
  ASSERT_EQ(123, bare.GetSize());
  const auto* p = static_cast<const uint8_t*>(bare.Memory());
  EXPECT_EQ(123u, uint32_t(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24));
  EXPECT_EQ(0, std::memcmp(p + 4, &layer->Id, 16));

  const int i = Add("glass");
  TIELayer* a = view->GetLayer(i);
  a->Width = 33;
  a->Height = 44;
  a->Visible = false;
  a->Transparency = 77;
  a->PosX = -5;
  a->PosY = 9;
  a->Magnify = true;
  a->MagnifyFactor = 3.5;
  a->MagnifyShape = 1;
  a->MagnifySource = 0;
  a->BlendOperation = 11;
  a->ResampleFilter = rfLanczos3;
  a->UseResampleFilter = true;
  a->IsMask = true;
  a->DimOutside = true;
  a->SetRotation(30);
  a->RotationCenterX = 0.25;
  a->Bitmap->Allocate(7, 5, ie24RGB);
  a->Bitmap->Fill(double(RGB(1, 2, 3)));
  a->Bitmap->SetRGB(6, 4, IEMakeRGB(9, 8, 7));
  TIEMemoryStream s;
  s.Write("xy", 2);  // a record need not start the stream
  a->SaveToStream(s, true);
  const int64_t end = s.GetPosition();

  const int j = Add("");
  TIELayer* b = view->GetLayer(j);
  s.SetPosition(2);
  b->LoadFromStream(s);
  EXPECT_EQ(end, s.GetPosition());
  EXPECT_EQ(33, b->Width);
  EXPECT_EQ(44, b->Height);
  EXPECT_FALSE(b->Visible);
  EXPECT_EQ(77, b->Transparency);
  EXPECT_EQ(-5, b->PosX);
  EXPECT_EQ(9, b->PosY);
  EXPECT_TRUE(b->Magnify);
  EXPECT_EQ(3.5, b->MagnifyFactor);
  EXPECT_EQ(1, b->MagnifyShape);
  EXPECT_EQ(0, b->MagnifySource);
  EXPECT_EQ(11, b->BlendOperation);
  EXPECT_EQ(rfLanczos3, b->ResampleFilter);
  EXPECT_TRUE(b->UseResampleFilter);
  EXPECT_EQ("glass", b->Name);
  EXPECT_TRUE(b->IsMask);
  EXPECT_TRUE(b->DimOutside);
  EXPECT_EQ(30, b->GetRotation());
  EXPECT_EQ(0.25, b->RotationCenterX);
  ASSERT_EQ(7, b->Bitmap->GetImageWidth());
  EXPECT_EQ(9, b->Bitmap->GetRGB(6, 4).r);
  EXPECT_EQ(1, b->Bitmap->GetRGB(0, 0).r);

  // a record cut short is refused with an exception, not read from beyond its end
  TIEMemoryStream cut;
  cut.Write(static_cast<const uint8_t*>(s.Memory()) + 2, 60);
  cut.SetPosition(0);
  EXPECT_THROW(b->LoadFromStream(cut), ::EStreamError);
}

TEST_F(Layers, OwnedUserDataIsCopiedFreedAndNeverReplacedByAStoredPointer) {
  const int i = Add("a");
  TIELayer* a = view->GetLayer(i);
  const char text[] = "settings";
  a->SetUserData(text, sizeof(text));
  ASSERT_NE(nullptr, a->GetUserData());
  EXPECT_NE(static_cast<const void*>(text), a->GetUserData());

  // Assign gives the copy a block of its own, with the length
  const int j = Add("b");
  TIELayer* b = view->GetLayer(j);
  b->Assign(a);
  EXPECT_EQ(int(sizeof(text)), b->GetUserDataLength());
  EXPECT_NE(a->GetUserData(), b->GetUserData());
  EXPECT_STREQ(text, static_cast<const char*>(b->GetUserData()));
  view->RemoveLayer(i);  // frees a's block; b's stays readable
  b = view->GetLayer(1);
  EXPECT_STREQ(text, static_cast<const char*>(b->GetUserData()));

  // loading an undo record keeps the layer's block
  TIEMemoryStream s;
  b->SaveToStream(s, false);
  s.SetPosition(0);
  const void* before = b->GetUserData();
  b->LoadFromStream(s);
  EXPECT_EQ(before, b->GetUserData());
  EXPECT_EQ(int(sizeof(text)), b->GetUserDataLength());

  // a pointer the application owns is only referred to
  int appData = 5;
  b->SetUserDataPointer(&appData);
  EXPECT_EQ(&appData, b->GetUserData());
  EXPECT_EQ(0, b->GetUserDataLength());

  // the defaults drop the data (an owned block is freed with it)
  b->SetUserData(text, 3);
  b->SetDefaults();
  EXPECT_EQ(nullptr, b->GetUserData());
  EXPECT_EQ(0, b->GetUserDataLength());
}

}  // namespace
