// Photoshop files and a view's layers: a view saves its layers into a PSD that ImageMagick and PIL
// read as those layers, and the file loads back into another view layer by layer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostenv.h"
#include "ielayer.h"
#include "imageryio.h"
#include "iestreams.h"
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

// A view's layers as the layer stream stores them, for comparing layer sets exactly.
std::vector<uint8_t> Saved(TImageryView* view) {
  TIEMemoryStream s;
  view->SaveLayersToStream(s, -2);
  const uint8_t* b = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(b, b + s.GetSize());
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

// A damaged PSD is read whole before anything of the view changes: its layers (with the current
// layer's transparency) stay exactly as they were; the undamaged file then replaces them.
TEST(PSDLayers, ADamagedFileLeavesTheViewsLayersExact) {
  TImageryView* source = ui::New<TImageryView>(nullptr);
  Paint(source->GetIEBitmap(), 60, 40, 20, 120, 220);
  TIELayer* top = source->GetLayer(source->AddLayer());
  Paint(top->Bitmap, 30, 20, 240, 240, 0);
  top->PosX = 10;
  top->PosY = 5;
  top->Name = "yellow";
  TIEMemoryStream psd;
  source->GetIO()->SaveStreamAsFileType(psd, iffPSD);
  ASSERT_FALSE(source->GetIO()->Aborting);
  source->Free();
  const uint8_t* bytes = static_cast<const uint8_t*>(psd.Memory());
  const std::vector<uint8_t> file(bytes, bytes + psd.GetSize());

  TImageryView* view = ui::New<TImageryView>(nullptr);
  Paint(view->GetIEBitmap(), 50, 30, 1, 2, 3);
  view->GetLayer(0)->Name = "mine";
  TIELayer* l = view->GetLayer(view->AddLayer());
  Paint(l->Bitmap, 9, 7, 90, 80, 70);
  l->Bitmap->GetAlphaChannel()->Fill(60);
  l->PosX = 4;
  view->UpdateView();
  TImageryIO* io = view->GetIO();
  io->Params.PSDLoadLayers = true;
  io->Params.PSDReplaceLayers = true;
  const std::vector<uint8_t> before = Saved(view);
  int refused = 0;
  for (size_t cut = 30; cut < file.size(); cut += file.size() / 9) {
    TIEMemStream in(file.data(), int64_t(cut));
    io->LoadStreamAsFileType(in, iffPSD);
    if (!io->Aborting) break;  // cut only in what a reader of the layers does not need
    ++refused;
    EXPECT_EQ(2, view->GetLayerCount()) << cut;
    EXPECT_EQ(1, view->GetCurrentLayerIndex()) << cut;
    EXPECT_TRUE(Saved(view) == before) << "cut at " << cut;
  }
  EXPECT_GE(refused, 4);
  TIEMemStream in(file.data(), int64_t(file.size()));
  io->LoadStreamAsFileType(in, iffPSD);
  ASSERT_FALSE(io->Aborting);
  ASSERT_EQ(2, view->GetLayerCount());
  EXPECT_EQ("yellow", view->GetLayer(1)->Name);
  EXPECT_EQ(60, view->GetLayer(0)->Bitmap->GetImageWidth());
  view->Free();
}

}  // namespace
