// The components attached to an image view or an image control: the view's background and resolution
// followed by loads and by processing, the view's own files loaded without a view, and the camera RAW
// hand-over to a format an application registered.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hostenv.h"
#include "imageryio.h"
#include "ielayer.h"
#include "imageryproc.h"
#include "ievect.h"
#include "imageryview.h"
#include "iotest_util.h"
#include "uibitmap.h"
#include "uibuttons.h"
#include "uipicture.h"

using namespace iotest;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

struct FreeComponent {
  void operator()(ui::TComponent* c) const { c->Free(); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeComponent>;

Owned<TImageryView> NewView() { return Owned<TImageryView>(ui::New<TImageryView>(nullptr)); }

bool IsWhite(TIEBitmap* b, int x, int y) {
  const TIERGB c = b->GetRGB(x, y);
  return c.r == 255 && c.g == 255 && c.b == 255;
}

}  // namespace

TEST(ViewBackground, ProcessingFillsWithTheViewsBackground) {
  auto view = NewView();
  view->SetBackground(ui::clWhite);
  TImageryProc* proc = view->GetProc();
  EXPECT_EQ(proc->GetBackgroundValue(), ui::clWhite);
  TIEBitmap* image = view->GetIEBitmap();
  image->Allocate(40, 30, ie24RGB);
  image->Fill(ui::clRed);
  proc->Rotate(false, 0, -1, 30);
  const int w = image->GetImageWidth(), h = image->GetImageHeight();
  ASSERT_GT(w, 40);
  for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) EXPECT_TRUE(IsWhite(image, x, y)) << x << "," << y;
  const TIERGB centre = image->GetRGB(w / 2, h / 2);
  EXPECT_EQ(centre.r, 255);
  EXPECT_EQ(centre.b, 0);

  proc->ImageResize(w + 6, h, 0, 0);
  EXPECT_TRUE(IsWhite(image, w + 5, h / 2));
  proc->SetBackgroundValue(ui::clBlue);
  EXPECT_EQ(view->GetBackground(), ui::clBlue);
  proc->Clear();
  EXPECT_EQ(image->GetRGB(3, 3).b, 255);
  EXPECT_EQ(image->GetRGB(3, 3).r, 0);
}

TEST(ViewBackground, PNGAndGIFLoadsSetTheViewsBackground) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools not reachable";
  TIEBitmap picture;
  MakePicture(picture, 12, 8, 8);
  ASSERT_TRUE(WritePPM(picture, tq::WorkFile("bg.ppm")));
  Host("pnmtopng -background=rgb:10/80/f0 bg.ppm > bkgd.png");
  Host("pnmtopng bg.ppm > plain.png");
  Host("/usr/bin/python3 -c \"from PIL import Image; Image.open('bg.ppm').convert('P', palette=Image.ADAPTIVE)"
       ".save('tr.gif', transparency=3)\"");
  auto view = NewView();
  TImageryIO* io = view->GetIO();
  io->LoadByExtension(W(tq::WorkFile("bkgd.png")));
  ASSERT_FALSE(io->Aborting);
  EXPECT_EQ(view->GetBackground(), IERGBToColor(IEMakeRGB(0x10, 0x80, 0xf0)));

  view->SetBackground(ui::clGreen);
  io->LoadByExtension(W(tq::WorkFile("plain.png")));
  ASSERT_FALSE(io->Aborting);
  EXPECT_EQ(io->Params.PNGBackground.g, 0x80) << "a file without bKGD keeps the background it was given";
  EXPECT_EQ(view->GetBackground(), ui::clGreen);

  io->LoadByExtension(W(tq::WorkFile("tr.gif")));
  ASSERT_FALSE(io->Aborting);
  ASSERT_TRUE(io->Params.GIFFlagTranspColor);
  EXPECT_EQ(view->GetBackground(), IERGBToColor(io->Params.GIFTranspColor));
}

TEST(ViewResolution, ParametersSetTheAttachedViewsResolution) {
  auto view = NewView();
  TImageryIO* io = view->GetIO();
  io->Params.SetDpiX(123);
  io->Params.SetDpiY(45);
  EXPECT_EQ(view->GetDpiX(), 123);
  EXPECT_EQ(view->GetDpiY(), 45);
  EXPECT_EQ(io->Params.ExifYResolution, 45.0);
}

TEST(ViewFiles, LayersLoadMergedIntoAComponentWithoutAView) {
  auto view = NewView();
  TIEBitmap* base = view->GetIEBitmap();
  base->Allocate(20, 10, ie24RGB);
  base->Fill(ui::clRed);
  const int top = view->AddLayer();
  TIELayer* l = view->GetLayer(top);
  l->Bitmap->Allocate(5, 4, ie24RGB);
  l->Bitmap->Fill(ui::clBlue);
  l->PosX = 2;
  l->PosY = 3;
  {
    TIEWideFileStream f(W(tq::WorkFile("two.lyr")), fmCreate);
    view->SaveLayersToStream(f, -2);
  }
  TIEBitmap merged;
  TImageryIO io(&merged);
  int finished = 0;
  io.OnFinishWork = [&](void*) { ++finished; };
  io.LoadByExtension(W(tq::WorkFile("two.lyr")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, iffLYR);
  ASSERT_EQ(merged.GetImageWidth(), 20);
  ASSERT_EQ(merged.GetImageHeight(), 10);
  EXPECT_EQ(merged.GetRGB(0, 0).r, 255);
  EXPECT_EQ(merged.GetRGB(3, 4).b, 255);
  EXPECT_EQ(merged.GetRGB(3, 4).r, 0);
  EXPECT_EQ(finished, 1);
}

TEST(ViewFiles, ObjectsLoadDrawnIntoAComponentWithoutAView) {
  Owned<TImageryVect> vect(ui::New<TImageryVect>(nullptr));
  TIEVObjectRecord* t = vect->ObjectRecord(IEV_TEMPLATE);
  t->Kind = ievkBOX;
  t->X1 = 2;
  t->Y1 = 2;
  t->X2 = 20;
  t->Y2 = 12;
  t->PenColor = ui::clBlue;
  t->BrushColor = ui::clBlue;
  t->BrushStyle = ui::bsSolid;
  vect->AddObject(*t);
  {
    TIEWideFileStream f(W(tq::WorkFile("box.iev")), fmCreate);
    vect->SaveObjectsToStream(f);
  }
  TIEBitmap drawn;
  TImageryIO io(&drawn);
  io.LoadByExtension(W(tq::WorkFile("box.iev")));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, iffIEV);
  ASSERT_EQ(drawn.GetImageWidth(), 21);  // the objects' extent
  ASSERT_EQ(drawn.GetImageHeight(), 13);
  EXPECT_TRUE(IsWhite(&drawn, 0, 0));
  const TIERGB inside = drawn.GetRGB(10, 7);
  EXPECT_EQ(inside.b, 255);
  EXPECT_EQ(inside.r, 0);
}

namespace {
int gRawReads = 0;
void ReadRawStandIn(TIEStream&, TIEBitmap& bitmap, TIOParamsVals&, bool, TIECodecProgress&) {
  ++gRawReads;
  bitmap.Allocate(3, 2, ie24RGB);
  bitmap.Fill(ui::clGreen);
}
}  // namespace

TEST(CameraRAW, AnApplicationsRawFormatTakesTheData) {
  // the application's entry answers to "raw" once the built-in entry no longer does
  TIEFileFormatInfo* builtIn = IEFileFormatByType(iffRAW);
  ASSERT_NE(builtIn, nullptr);
  const std::string savedExtensions = builtIn->Extensions;
  builtIn->Extensions = "CRW;CR2;NEF";
  auto* mine = new TIEFileFormatInfo;
  mine->FileType = 90;
  mine->DisplayName = "My raw";
  mine->Extensions = "RAW";
  mine->ReadProc = ReadRawStandIn;
  IEAddFileFormat(mine);

  TIEBitmap bitmap;
  TImageryIO io(&bitmap);
  TIEMemoryStream data;
  data.WriteBuffer("not a camera file", 17);
  data.SetPosition(0);
  gRawReads = 0;
  io.LoadCameraRAWStream(data);
  EXPECT_EQ(gRawReads, 1);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(bitmap.GetImageWidth(), 3);
  EXPECT_EQ(io.Params.FileType, 0) << "the application's read path records no type";

  IERemoveFileFormat(90);
  builtIn->Extensions = savedExtensions;
  gRawReads = 0;
  data.SetPosition(0);
  io.LoadCameraRAWStream(data);
  EXPECT_EQ(gRawReads, 0);
  EXPECT_TRUE(io.Aborting);  // the library's own reader refuses the bytes
}

TEST(ImageControl, LoadsShowInTheControlAndProcessingWorksOnIt) {
  if (!ToolsPresent()) GTEST_SKIP() << "host tools not reachable";
  TIEBitmap picture;
  MakePicture(picture, 9, 7);
  ASSERT_TRUE(WritePPM(picture, tq::WorkFile("ctl.ppm")));
  Owned<ui::TImage> image(ui::New<ui::TImage>(nullptr));
  TImageryIO io;
  io.SetAttachedTImageValue(image.get());
  io.LoadByExtension(W(tq::WorkFile("ctl.ppm")));
  ASSERT_FALSE(io.Aborting);
  ui::TBitmap* shown = image->GetPicture()->Bitmap();
  EXPECT_EQ(io.GetBitmap(), shown);
  ASSERT_EQ(shown->GetWidth(), 9);
  ASSERT_EQ(shown->GetHeight(), 7);
  const TIERGB p = picture.GetRGB(4, 5);
  const uint8_t* row = static_cast<const uint8_t*>(shown->ScanLine(5));
  EXPECT_EQ(row[3 * 4], p.b);
  EXPECT_EQ(row[3 * 4 + 2], p.r);

  TImageryProc proc;
  proc.SetAttachedTImageValue(image.get());
  proc.Resample(18, 14, rfNone);
  EXPECT_EQ(image->GetPicture()->Bitmap()->GetWidth(), 18);
  proc.SetAttachedTImageValue(nullptr);
  io.SetAttachedTImageValue(nullptr);
}

// An image control or a view freed while both components are attached: both forget it at once and go
// on with bitmaps of their own.
TEST(ImageControl, FreedControlsAndViewsDetachBothComponents) {
  for (bool control : {true, false}) {
    SCOPED_TRACE(control ? "image control" : "view");
    TImageryIO io;
    TImageryProc proc;
    ui::TComponent* attached = nullptr;
    if (control) {
      auto* image = ui::New<ui::TImage>(nullptr);
      io.SetAttachedTImageValue(image);
      proc.SetAttachedTImageValue(image);
      attached = image;
    } else {
      auto* view = ui::New<TImageryView>(nullptr);
      view->GetIEBitmap()->Allocate(6, 5, ie24RGB);
      io.SetAttachedImageryValue(view);
      proc.SetAttachedImageryValue(view);
      attached = view;
    }
    proc.GetWorkingBitmap()->Allocate(6, 5, ie24RGB);
    proc.Clear();
    TIEBitmap* before = proc.GetWorkingBitmap();
    attached->Free();
    EXPECT_EQ(io.GetAttachedTImage(), nullptr);
    EXPECT_EQ(proc.GetAttachedTImage(), nullptr);
    EXPECT_EQ(io.GetAttachedImagery(), nullptr);
    EXPECT_EQ(proc.GetAttachedImagery(), nullptr);
    EXPECT_EQ(io.GetBitmap(), nullptr);
    if (!control) {
      EXPECT_NE(proc.GetWorkingBitmap(), before);  // the view's bitmap went with it
    }
    EXPECT_EQ(proc.GetWorkingBitmap()->GetImageWidth(), 0);

    // both work on bitmaps of their own afterwards, and nothing repaints the freed control
    proc.GetWorkingBitmap()->Allocate(4, 3, ie24RGB);
    proc.Resample(8, 6, rfNone);
    EXPECT_EQ(proc.GetWorkingBitmap()->GetImageWidth(), 8);
    TIEBitmap picture;
    MakePicture(picture, 5, 4);
    io.GetIEBitmap()->Assign(&picture);
    TIEMemoryStream m;
    io.SaveStreamAsFileType(m, iffBMP);
    EXPECT_FALSE(io.Aborting);
    io.LoadFromMemoryBlock(m.Memory(), m.GetSize(), iffBMP);
    EXPECT_FALSE(io.Aborting);
    ExpectSamePixels(picture, *io.GetIEBitmap());
  }
}
