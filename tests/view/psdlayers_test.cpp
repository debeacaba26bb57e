// Photoshop files and a view's layers: a view saves its layers into a PSD that ImageMagick and PIL
// read as those layers, and the file loads back into another view layer by layer.
#include <gtest/gtest.h>

#include <string>

#include "hostenv.h"
#include "ielayer.h"
#include "imageryio.h"
#include "imageryview.h"
#include "uicomponent.h"

namespace {

void Paint(TIEBitmap* b, int w, int h, uint8_t r, uint8_t g, uint8_t bl) {
  b->Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b->GetRowAddress(y) + 3 * x;
      p[0] = bl;
      p[1] = g;
      p[2] = r;
    }
}

TEST(PSDLayers, AViewSavesItsLayersAndAnotherLoadsThem) {
  TImageryView* view = ui::New<TImageryView>(nullptr);
  Paint(view->GetIEBitmap(), 80, 60, 200, 30, 30);
  view->GetLayer(0)->Name = "ground";
  TIELayer* a = view->GetLayer(view->AddLayer());
  Paint(a->Bitmap, 20, 10, 10, 200, 10);
  a->PosX = 30;
  a->PosY = 20;
  a->Name = "green";
  a->Transparency = 128;
  TIELayer* b = view->GetLayer(view->AddLayer());
  Paint(b->Bitmap, 8, 8, 10, 10, 220);
  b->PosX = 5;
  b->PosY = 40;
  b->Name = "blue";
  b->Visible = false;
  view->UpdateView();
  const std::string name = tq::WorkFile("layers.psd");
  const std::wstring file(name.begin(), name.end());
  view->GetIO()->SaveByExtension(file);
  ASSERT_FALSE(view->GetIO()->Aborting);

  std::string out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('layers.psd'); "
                           "print(im.size, [(l[0], l[2][0], l[2][1]) for l in im.layers])\"",
                           &out));
  EXPECT_NE(out.find("(80, 60)"), std::string::npos) << out;
  EXPECT_NE(out.find("('green', 30, 20)"), std::string::npos) << out;
  EXPECT_NE(out.find("('blue', 5, 40)"), std::string::npos) << out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/convert layers.psd[0] -format '%[pixel:p{40,25}] %[pixel:p{2,2}]' info:", &out));
  EXPECT_NE(out.find("srgb(105,115,20)"), std::string::npos) << "merged: green at opacity 128 over red: " << out;

  TImageryView* back = ui::New<TImageryView>(nullptr);
  back->GetIO()->Params.PSDLoadLayers = true;
  back->GetIO()->LoadByExtension(file);
  ASSERT_FALSE(back->GetIO()->Aborting);
  ASSERT_EQ(back->GetLayerCount(), 3);
  EXPECT_EQ(back->GetLayer(1)->Name, "green");
  EXPECT_EQ(back->GetLayer(1)->PosX, 30);
  EXPECT_EQ(back->GetLayer(1)->PosY, 20);
  EXPECT_EQ(back->GetLayer(1)->Bitmap->GetImageWidth(), 20);
  EXPECT_EQ(back->GetLayer(2)->Visible, false);
  EXPECT_EQ(back->GetLayer(1)->Transparency, 128);
  EXPECT_EQ(back->GetLayer(2)->Bitmap->GetPixelRGB(3, 3).b, 220);
  back->Free();
  view->Free();
}

}  // namespace
