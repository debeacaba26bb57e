// The image view without a window: construction, ownership, assignment, its I/O and processing
// components, the change handlers, the locks and the GDI+ binding's use count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "iegdiplus.h"
#include "iemask.h"
#include "ieplatformbitmap.h"
#include "imageryio.h"
#include "imageryproc.h"
#include "imageryview.h"
#include "ioparams.h"
#include "uibitmap.h"
#include "vodevovur.h"

using namespace ui;

namespace {

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { IELibraryStaticInit(); }
  void TearDown() override { IELibraryStaticFini(); }
};
const auto* const gEnv = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

// A 24-bit picture with gradients and flat runs, so that the run-length writers have both.
void Paint24(TBitmap& b, int w, int h) {
  b.SetPixelFormat(pf24bit);
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const bool flat = (y / 40) % 2 == 0;
      row[3 * x + 0] = uint8_t(flat ? 200 : x * 7 + y);
      row[3 * x + 1] = uint8_t(flat ? 30 : y * 3);
      row[3 * x + 2] = uint8_t(flat ? 90 : (x ^ y));
    }
  }
}

std::vector<unsigned char> Bytes(const std::string& winPath) {
  std::vector<unsigned char> out;
  EXPECT_TRUE(tq::ReadFileBytes(winPath, out)) << winPath;
  return out;
}

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The road of the conversion program, run once with the view and once with the I/O component alone:
// the files must be the same bytes.
void CheckSaveRoad(const std::string& tag) {
  TBitmap source;
  Paint24(source, 800, 600);
  const int gdiUses = IEGdiPlusUseCount();
  const std::vector<std::string> exts = {".tga", ".pcx", ".jp2", ".j2k", ".rle"};
  const double tgaDate = 45000.5;  // the TGA writer stores the parameter date: the same in both

  TIEBitmap direct;
  {
    TIETBitmapAdapter borrowed(&source);
    direct.AssignTBitmap(&borrowed);
  }
  TImageryIO plain(&direct);
  plain.Params.TGADate = tgaDate;
  for (const auto& e : exts) {
    plain.SaveByExtension(W(tq::WorkFile(tag + "_direct" + e)));
    ASSERT_FALSE(plain.Aborting) << e;
  }

  TImageryView* view = New<TImageryView>(nullptr);
  EXPECT_EQ(gdiUses + 1, IEGdiPlusUseCount());
  EXPECT_EQ(IEGdiPlusEnabled, IEGdiPlusLoaded());
  view->Assign(&source);
  TImageryIO* io = view->GetIO();
  EXPECT_EQ(io, view->GetIO());
  EXPECT_EQ(view->GetIEBitmap(), io->GetIEBitmap());
  EXPECT_EQ(800, view->GetIEBitmap()->GetImageWidth());
  EXPECT_EQ(600, view->GetIEBitmap()->GetImageHeight());
  EXPECT_EQ(ie24RGB, view->GetIEBitmap()->GetPixelFormat());
  EXPECT_EQ(50, view->GetViewportWidth());
  EXPECT_EQ(50, view->GetViewportHeight());
  EXPECT_FALSE(view->HandleAllocated());
  io->Params.TGADate = tgaDate;
  for (const auto& e : exts) {
    io->SaveByExtension(W(tq::WorkFile(tag + "_view" + e)));
    ASSERT_FALSE(io->Aborting) << e;
    const auto a = Bytes(tq::WorkFile(tag + "_direct" + e)), b = Bytes(tq::WorkFile(tag + "_view" + e));
    EXPECT_GT(a.size(), 1000u) << e;
    EXPECT_TRUE(a == b) << e << ": the view's save differs from the component's";
  }
  view->GetProc();
  EXPECT_EQ(2, view->BitmapChangeHandlerCount());

  // A handler of our own sees, when the view goes, that the components have unregistered already.
  int calls = 0, leftAtCall = -1;
  view->AddBitmapChangeHandler([&](TIEView* v, bool destroying) {
    ++calls;
    EXPECT_TRUE(destroying);
    leftAtCall = v->BitmapChangeHandlerCount();
  });
  view->Free();
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0, leftAtCall);
  EXPECT_EQ(gdiUses, IEGdiPlusUseCount());
  if (gdiUses == 0) {
    EXPECT_FALSE(IEGdiPlusLoaded());
  }
}

}  // namespace

TEST(ImageryViewSave, WindowlessViewSavesTheSameBytesAsTheComponent) {
  ASSERT_TRUE(IEGdiPlusEnabled);
  CheckSaveRoad("gdiplus");
}

TEST(ImageryViewSave, TheSameWithGdiPlusDisallowed) {
  IEGdiPlusEnabled = false;
  CheckSaveRoad("plaingdi");
  EXPECT_FALSE(IEGdiPlusLoaded());
  IEGdiPlusEnabled = true;
}
