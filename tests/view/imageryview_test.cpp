// The image view without a window: construction, ownership, assignment, its I/O and processing
// components, the change handlers, the locks and the GDI+ binding's use count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "iegdiplus.h"
#include "iemask.h"
#include "ieresample.h"
#include "ietextcontrol.h"
#include "ievect.h"
#include "ieplatformbitmap.h"
#include "imageryio.h"
#include "imageryproc.h"
#include "imageryview.h"
#include "ioparams.h"
#include "uibitmap.h"
#include "uifiler.h"
#include "uiforms.h"
#include "uipicture.h"

using namespace ui;

namespace {

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

namespace {

// A fresh window-less view, freed at the end of the test.
struct ViewFixture : ::testing::Test {
  void SetUp() override { view = New<TImageryView>(nullptr); }
  void TearDown() override {
    if (view) view->Free();
  }
  TImageryView* view = nullptr;
};

using ImageryView = ViewFixture;

void FillBitmap(TBitmap& b, TPixelFormat pf, int w, int h, uint8_t seed) {
  b.SetPixelFormat(pf);
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int i = 0; i < b.BytesPerLine(); ++i) row[i] = uint8_t(seed + i * 13 + y * 7);
  }
}

std::vector<uint8_t> RowsOf(TBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetHeight(); ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    out.insert(out.end(), row, row + b.BytesPerLine());
  }
  return out;
}

}  // namespace

TEST_F(ImageryView, ConstructionDefaults) {
  EXPECT_EQ(300, view->GetDpiX());
  EXPECT_EQ(300, view->GetDpiY());
  EXPECT_EQ(clBtnFace, view->GetBackground());
  EXPECT_EQ(bsSingle, view->GetBorderStyle());
  EXPECT_EQ(105, view->GetWidth());
  EXPECT_EQ(105, view->GetHeight());
  EXPECT_EQ(1785, view->GetViewCursor());
  EXPECT_FALSE(view->GetHasOwner());
  EXPECT_TRUE(view->GetLegacyBitmap());
  EXPECT_EQ("3.1.1", view->GetImageryVersion());
  EXPECT_FALSE(view->HasIO());
  EXPECT_FALSE(view->HasProc());  // the components come on first use only
  EXPECT_EQ(0, view->BitmapChangeHandlerCount());
  EXPECT_EQ(0, view->GetUpdateLock());
  EXPECT_EQ(1, view->GetUpdateCount());  // construction ends with exactly one update
  ASSERT_NE(nullptr, view->GetBitmap());
  EXPECT_EQ(pf24bit, view->GetBitmap()->GetPixelFormat());
  EXPECT_EQ(ieTBitmap, view->GetIEBitmap()->GetLocation());
}

// Every form of Assign from a platform bitmap: the pixel format the view ends with, and the caller's
// bitmap left exactly as it was (format and pixels).
TEST_F(ImageryView, AssignPlatformBitmapsKeepsTheCallersBitmap) {
  struct Case {
    TPixelFormat pf;
    TIEPixelFormat expected;
  };
  const Case kCases[] = {{pf24bit, ie24RGB}, {pf32bit, ie24RGB}, {pf8bit, ie24RGB}, {pf4bit, ie24RGB},
                         {pf16bit, ie24RGB}, {pf1bit, ie1g}};
  for (const Case& c : kCases) {
    TBitmap src;
    FillBitmap(src, c.pf, 37, 21, uint8_t(c.pf * 11));
    const std::vector<uint8_t> before = RowsOf(src);
    view->Assign(&src);
    EXPECT_EQ(c.expected, view->GetIEBitmap()->GetPixelFormat()) << "pf " << c.pf;
    EXPECT_EQ(37, view->GetIEBitmap()->GetImageWidth());
    EXPECT_EQ(21, view->GetIEBitmap()->GetImageHeight());
    EXPECT_EQ(c.pf, src.GetPixelFormat()) << "the caller's bitmap changed format";
    EXPECT_TRUE(RowsOf(src) == before) << "the caller's pixels changed, pf " << c.pf;
    // the view's own bitmap holds the copy
    EXPECT_EQ(37, view->GetBitmap()->GetWidth());
  }
}

TEST_F(ImageryView, Assign8BitGivesTheSameColours) {
  TBitmap src;
  src.SetPixelFormat(pf8bit);
  src.SetSize(4, 2);
  RGBQUAD table[256] = {};
  table[5] = RGBQUAD{10, 20, 30, 0};
  table[9] = RGBQUAD{200, 100, 50, 0};
  src.SetColorTable(table, 256);
  static_cast<uint8_t*>(src.ScanLine(0))[0] = 5;
  static_cast<uint8_t*>(src.ScanLine(1))[3] = 9;
  view->Assign(&src);
  TIEBitmap* b = view->GetIEBitmap();
  ASSERT_EQ(ie24RGB, b->GetPixelFormat());
  EXPECT_EQ(30, b->GetPixelRGB(0, 0).r);
  EXPECT_EQ(10, b->GetPixelRGB(0, 0).b);
  EXPECT_EQ(50, b->GetPixelRGB(3, 1).r);
  EXPECT_EQ(200, b->GetPixelRGB(3, 1).b);
}

TEST_F(ImageryView, AssignFromAViewNilAndOtherClasses) {
  TImageryView* other = New<TImageryView>(nullptr);
  TBitmap src;
  FillBitmap(src, pf24bit, 12, 9, 3);
  other->Assign(&src);
  other->SetDpi(72, 96);
  other->SetBackground(0x123456);
  int changes = 0;
  view->OnImageChange = [&](TObject*) { ++changes; };
  view->Assign(other);
  EXPECT_EQ(1, changes);
  EXPECT_EQ(12, view->GetIEBitmap()->GetImageWidth());
  EXPECT_EQ(0x123456, view->GetBackground());
  EXPECT_EQ(72, view->GetDpiX());
  EXPECT_EQ(96, view->GetDpiY());
  EXPECT_EQ(other->GetIEBitmap()->GetPixelRGB(5, 5).g, view->GetIEBitmap()->GetPixelRGB(5, 5).g);
  other->Free();

  // nil: the image is filled with the background and loses its alpha channel; the size stays
  view->GetAlphaChannel()->Fill(7);
  ASSERT_TRUE(view->QueryAlphaPresent());
  view->SetBackground(RGB(1, 2, 3));
  view->Assign(nullptr);
  EXPECT_FALSE(view->QueryAlphaPresent());
  EXPECT_EQ(12, view->GetIEBitmap()->GetImageWidth());
  const TIERGB px = view->GetIEBitmap()->GetPixelRGB(11, 8);
  EXPECT_EQ(1, px.r);
  EXPECT_EQ(2, px.g);
  EXPECT_EQ(3, px.b);

  // another class: nothing happens, no exception
  TPen pen;
  EXPECT_NO_THROW(view->Assign(&pen));
  EXPECT_EQ(12, view->GetIEBitmap()->GetImageWidth());
}

TEST_F(ImageryView, ClearImageAndIsEmpty) {
  struct Case {
    int w, h;
    bool empty;
  };
  const Case kCases[] = {{1, 1, true}, {1, 500, false}, {2, 1, false}, {40, 30, false}};
  for (const Case& c : kCases) {
    TBitmap src;
    FillBitmap(src, pf24bit, c.w, c.h, 1);
    view->Assign(&src);
    EXPECT_EQ(c.empty, view->IsEmpty()) << c.w << " x " << c.h;
  }
  view->SetBackground(clBtnFace);  // a system colour: the image gets the colour it stands for
  view->ClearImage();
  EXPECT_TRUE(view->IsEmpty());
  EXPECT_EQ(1, view->GetIEBitmap()->GetImageWidth());
  EXPECT_EQ(1, view->GetIEBitmap()->GetImageHeight());
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(GetRValue(face), view->GetIEBitmap()->GetPixelRGB(0, 0).r);
  EXPECT_EQ(GetBValue(face), view->GetIEBitmap()->GetPixelRGB(0, 0).b);
  // the selection mask follows the image size
  EXPECT_EQ(1, view->GetSelectionMask()->Width);
}

TEST_F(ImageryView, UpdateAndPaintLocks) {
  const int base = view->GetUpdateCount();
  view->SuspendUpdates();
  view->SuspendUpdates();
  view->ResumeUpdates();
  EXPECT_EQ(base, view->GetUpdateCount());
  view->ResumeUpdates();
  EXPECT_EQ(base + 1, view->GetUpdateCount());
  view->ResumeUpdates();  // at 0 already: updates, stays 0
  EXPECT_EQ(base + 2, view->GetUpdateCount());
  EXPECT_EQ(0, view->GetUpdateLock());
  view->SuspendUpdates();
  view->ResumeUpdatesQuietly();
  EXPECT_EQ(base + 2, view->GetUpdateCount());

  view->SuspendPainting();
  view->SuspendPainting();
  EXPECT_EQ(1, view->ResumePaintingQuietly());
  EXPECT_EQ(base + 2, view->GetUpdateCount());
  EXPECT_EQ(0, view->ResumePainting());
  EXPECT_EQ(base + 3, view->GetUpdateCount());
  EXPECT_EQ(0, view->ResumePainting());  // at 0: returns 0 and updates
  EXPECT_EQ(base + 4, view->GetUpdateCount());
  EXPECT_EQ(0, view->ResumePaintingQuietly());
}

TEST_F(ImageryView, ComponentsTakeTheEventsAndFollowTheView) {
  int progress = 0;
  view->SetOnProgressValue([&](void*, int) { ++progress; });
  TImageryIO* io = view->GetIO();
  EXPECT_EQ(io, view->GetIO());
  ASSERT_TRUE(bool(io->OnProgress));
  int finished = 0;
  view->SetOnFinishWorkValue([&](void*) { ++finished; });  // set after the component exists
  TBitmap src;
  FillBitmap(src, pf24bit, 30, 20, 9);
  view->Assign(&src);
  io->SaveByExtension(W(tq::WorkFile("events.tga")));
  EXPECT_GT(progress, 0);
  EXPECT_EQ(1, finished);

  // the processing component works on the view's bitmap and updates the view when done
  TImageryProc* proc = view->GetProc();
  EXPECT_EQ(proc, view->GetProc());
  EXPECT_EQ(view->GetIEBitmap(), proc->GetWorkingBitmap());
  int changes = 0;
  view->OnImageChange = [&](TObject*) { ++changes; };
  const int updates = view->GetUpdateCount();
  proc->Resample(60, 10, rfNearest);
  EXPECT_EQ(60, view->GetIEBitmap()->GetImageWidth());
  EXPECT_EQ(60, view->GetImageWidth());
  EXPECT_EQ(60, view->GetSelectionMask()->Width);
  EXPECT_GT(view->GetUpdateCount(), updates);
  EXPECT_EQ(1, changes);
  EXPECT_GE(finished, 2);  // the view's handler reached the processing component too
}

TEST_F(ImageryView, ChangeHandlersOfTheViewBase) {
  std::vector<int> order;
  auto* h1 = view->AddBitmapChangeHandler([&](TIEView*, bool d) { order.push_back(d ? -1 : 1); });
  auto* h2 = view->AddBitmapChangeHandler([&](TIEView*, bool d) { order.push_back(d ? -2 : 2); });
  view->NotifyBitmapChangeHandlers();
  EXPECT_EQ((std::vector<int>{1, 2}), order);
  view->RemoveBitmapChangeHandler(h1);
  view->RemoveBitmapChangeHandler(h1);  // twice: nothing
  view->RemoveBitmapChangeHandler(nullptr);
  EXPECT_EQ(1, view->BitmapChangeHandlerCount());
  view->NotifyBitmapChangeHandlers();
  EXPECT_EQ((std::vector<int>{1, 2, 2}), order);
  (void)h2;
  view->Free();
  view = nullptr;
  EXPECT_EQ((std::vector<int>{1, 2, 2, -2}), order);
}

TEST_F(ImageryView, ResolutionZeroIsIgnoredAndNotifiedComponentsCopyIt) {
  view->SetDpi(0, 0);
  EXPECT_EQ(300, view->GetDpiX());
  view->SetDpiX(150);
  view->SetDpiY(0);
  EXPECT_EQ(150, view->GetDpiX());
  EXPECT_EQ(300, view->GetDpiY());
  TImageryIO* io = view->GetIO();
  view->NotifyBitmapChangeHandlers();
  EXPECT_EQ(150, io->Params.DpiX);
  EXPECT_EQ(300, io->Params.DpiY);
}

TEST(ImageryViewOwnership, ComponentsFreedBeforeTheViewUnregister) {
  TImageryView* view = New<TImageryView>(nullptr);
  TImageryIO* io = view->GetIO();
  EXPECT_EQ(1, view->BitmapChangeHandlerCount());
  // an owned view goes with its owner, its components first
  TComponent* owner = New<TComponent>(nullptr);
  TImageryView* owned = New<TImageryView>(owner);
  EXPECT_TRUE(owned->GetHasOwner());
  owned->GetIO();
  owned->GetProc();
  const int uses = IEGdiPlusUseCount();
  owner->Free();
  EXPECT_EQ(uses - 1, IEGdiPlusUseCount());
  (void)io;
  view->Free();
}

TEST_F(ImageryView, LegacyBitmapSwitchMovesThePixelsAndTellsTheComponents) {
  TBitmap src;
  FillBitmap(src, pf24bit, 33, 17, 5);
  view->Assign(&src);
  const TIERGB before = view->GetIEBitmap()->GetPixelRGB(20, 9);
  TImageryIO* io = view->GetIO();
  int notices = 0;
  view->AddBitmapChangeHandler([&](TIEView*, bool destroying) {
    if (!destroying) ++notices;
  });

  view->SetLegacyBitmapValue(false);
  EXPECT_EQ(1, notices);
  EXPECT_EQ(nullptr, view->GetBitmap());
  EXPECT_NE(ieTBitmap, view->GetIEBitmap()->GetLocation());
  EXPECT_EQ(view->GetIEBitmap(), io->GetIEBitmap());
  EXPECT_EQ(before.g, view->GetIEBitmap()->GetPixelRGB(20, 9).g);
  // a 32-bit bitmap assigned now still ends 24-bit, in memory
  TBitmap wide;
  FillBitmap(wide, pf32bit, 8, 6, 77);
  view->Assign(&wide);
  EXPECT_EQ(ie24RGB, view->GetIEBitmap()->GetPixelFormat());
  EXPECT_EQ(8, view->GetIEBitmap()->GetImageWidth());
  view->SetLegacyBitmapValue(false);  // unchanged: no notice
  EXPECT_EQ(1, notices);

  view->Assign(&src);
  view->SetLegacyBitmapValue(true);
  EXPECT_EQ(2, notices);
  ASSERT_NE(nullptr, view->GetBitmap());
  EXPECT_EQ(ieTBitmap, view->GetIEBitmap()->GetLocation());
  EXPECT_EQ(33, view->GetBitmap()->GetWidth());
  EXPECT_EQ(17, view->GetBitmap()->GetHeight());
  EXPECT_EQ(before.r, view->GetIEBitmap()->GetPixelRGB(20, 9).r);
  // the pixels are in the view's platform bitmap itself (bytes B, G, R)
  EXPECT_EQ(before.b, static_cast<uint8_t*>(view->GetBitmap()->ScanLine(9))[3 * 20]);
}

TEST_F(ImageryView, LoadingThroughItsComponentUpdatesTheView) {
  TBitmap src;
  FillBitmap(src, pf24bit, 64, 48, 21);
  TIEBitmap picture;
  {
    TIETBitmapAdapter borrowed(&src);
    picture.AssignTBitmap(&borrowed);
  }
  TImageryIO writer(&picture);
  writer.Params.SetDpiX(150);
  writer.Params.SetDpiY(75);
  const std::string file = tq::WorkFile("load.pcx");
  writer.SaveByExtension(W(file));
  ASSERT_FALSE(writer.Aborting);

  int changes = 0;
  view->OnImageChange = [&](TObject*) { ++changes; };
  const int updates = view->GetUpdateCount();
  view->GetIO()->LoadByExtension(W(file));
  ASSERT_FALSE(view->GetIO()->Aborting);
  EXPECT_EQ(64, view->GetImageWidth());
  EXPECT_EQ(48, view->GetImageHeight());
  EXPECT_EQ(64, view->GetSelectionMask()->Width);
  EXPECT_EQ(150, view->GetDpiX());
  EXPECT_EQ(75, view->GetDpiY());
  EXPECT_EQ(1, changes);
  EXPECT_GT(view->GetUpdateCount(), updates);
  EXPECT_EQ(picture.GetPixelRGB(40, 30).g, view->GetIEBitmap()->GetPixelRGB(40, 30).g);
}

// Components that a caller attached (not the view's own) outlive the view: they forget it and work on
// a bitmap of their own instead of the view's freed one.
TEST(ImageryViewOwnership, ForeignComponentsForgetAFreedView) {
  TImageryView* view = New<TImageryView>(nullptr);
  TBitmap src;
  FillBitmap(src, pf24bit, 20, 10, 4);
  view->Assign(&src);
  TImageryIO io;
  TImageryProc proc;
  io.SetAttachedImageryValue(view);
  proc.SetAttachedImageryValue(view);
  EXPECT_EQ(view->GetIEBitmap(), io.GetIEBitmap());
  EXPECT_EQ(view->GetIEBitmap(), proc.GetWorkingBitmap());
  EXPECT_EQ(2, view->BitmapChangeHandlerCount());
  io.AttachBitmap(nullptr);  // nil while a view is attached: still attached and told
  EXPECT_EQ(2, view->BitmapChangeHandlerCount());
  TIEBitmap* viewBitmap = view->GetIEBitmap();
  view->Free();
  EXPECT_EQ(nullptr, io.GetAttachedImagery());
  EXPECT_EQ(nullptr, proc.GetAttachedImagery());
  EXPECT_NE(viewBitmap, io.GetIEBitmap());
  EXPECT_NE(viewBitmap, proc.GetWorkingBitmap());
  // both still work
  io.GetIEBitmap()->Allocate(4, 4, ie24RGB);
  io.SaveByExtension(W(tq::WorkFile("after_view.tga")));
  EXPECT_FALSE(io.Aborting);
  proc.GetWorkingBitmap()->Allocate(4, 4, ie24RGB);
  proc.Resample(8, 8, rfNearest);
  EXPECT_EQ(8, proc.GetWorkingBitmap()->GetImageWidth());
}

// ---- layouts ----

namespace {

// The root of a layout: it publishes one handler for every event signature of the three view
// classes, each doing something of its own so that no two share their code.
class TViewLayoutRoot : public TForm {
  UI_DECLARE_CLASS(TViewLayoutRoot, TForm)
 public:
  template <int N, class... A>
  void Handle(A...) {
    Called = N;
  }
  int Called = 0;
};

std::vector<TMethodInfo> ViewLayoutRootMethods() {
  using R = TViewLayoutRoot;
  return {PublishedMethod("Notify", &R::Handle<1, TObject*>),
          PublishedMethod("IntOf", &R::Handle<2, void*, int>),
          PublishedMethod("Changing", &R::Handle<3, void*, int, double>),
          PublishedMethod("Zoom", &R::Handle<4, void*, double&>),
          PublishedMethod("Finished", &R::Handle<5, void*>),
          PublishedMethod("Layer", &R::Handle<6, void*, int, TIELayerEvent>),
          PublishedMethod("SpecialKey", &R::Handle<7, void*, int, int, bool&>),
          PublishedMethod("Background", &R::Handle<8, void*, TCanvas*, const RECT&, bool&>),
          PublishedMethod("Canvas", &R::Handle<9, void*, TCanvas*, const RECT&>),
          PublishedMethod("Step", &R::Handle<10, TObject*, int>),
          PublishedMethod("Frame", &R::Handle<11, TObject*, TBitmap*, TIETransitionEffects*, int>),
          PublishedMethod("Box", &R::Handle<12, void*, TIEBitmap*, int>),
          PublishedMethod("Grip", &R::Handle<13, void*, TIEBitmap*, int, int, const RECT&>),
          PublishedMethod("Polygon", &R::Handle<14, void*, int, int, TCanvas*, int, int>),
          PublishedMethod("Undo", &R::Handle<15, void*, TIEUndoSource>),
          PublishedMethod("VirtualKey", &R::Handle<16, void*, unsigned, LPARAM, bool>),
          PublishedMethod("Wheel", &R::Handle<17, void*, int, int, POINT, bool&>),
          PublishedMethod("MoveResize", &R::Handle<18, void*, int, int, int&, int&>),
          PublishedMethod("DrawObject", &R::Handle<19, void*, int, TIEBitmap*, const RECT&, bool, bool&>),
          PublishedMethod("MeasureHint", &R::Handle<20, void*, std::string&, double>),
          PublishedMethod("Measure", &R::Handle<21, void*, std::string&, double, TIEVValType>),
          PublishedMethod("DragLen", &R::Handle<22, void*, double>),
          PublishedMethod("TextKey", &R::Handle<23, void*, WORD&, int>)};
}

}  // namespace

UI_IMPLEMENT_CLASS(TViewLayoutRoot, TForm, DefaultFactory<TViewLayoutRoot>, nullptr, nullptr,
                   ViewLayoutRootMethods)

namespace {

// A layout that gives every published property of the view, the vector editor and the text control
// a value other than its default, and binds every event they publish, loads back to the same state.
TEST(ImageryViewLayout, EveryPublishedMemberLoadsBack) {
  RegisterClass(&TViewLayoutRoot::StaticClassInfo);
  auto* root = TCustomForm::CreateNew<TViewLayoutRoot>(nullptr);
  auto* view = New<TImageryView>(root);
  view->SetName("View");
  auto* vect = New<TImageryVect>(root);
  vect->SetName("Vect");
  auto* text = New<TIETextControl>(root);
  text->SetName("Text");
  for (TControl* c : std::initializer_list<TControl*>{view, vect, text}) c->SetParent(root);
  TObject* const objects[] = {view, vect, text};
  const char* const names[] = {"View", "Vect", "Text"};

  struct Case {
    int object;  // 0 view, 1 vector editor, 2 text control
    const char* name;
    double value;  // ordinal or float
  };
  const int64_t selectionOptions = IESelOpt(iesoFilled) | IESelOpt(iesoMarkOuter);
  const Case cases[] = {
      {0, "LegacyBitmap", 0},           {0, "DoubleBuffer", 0},
      {0, "ZoomFilter", rfBicubic},     {0, "ScrollBars", ssVertical},
      {0, "SelectionOptions", double(selectionOptions)},
      {0, "Center", 0},                 {0, "MouseInteract", IEMouseBit(miSelect)},
      {0, "AutoFit", 1},                {0, "SelectionBase", iesbBitmap},
      {0, "BackgroundStyle", iebsChessboard},
      {0, "DelayZoomFilter", 1},        {0, "EnableAlphaChannel", 0},
      {0, "AutoStretch", 1},            {0, "AutoShrink", 1},
      {0, "DrawVersion", 1},            {0, "WallPaperStyle", iewoTile},
      {0, "EnableInteractionHints", 0}, {0, "Cursor", 1791},
      {0, "FlatScrollBars", 1},         {1, "MUnit", ieuMILLIMETERS},
      {1, "FloatDigits", 4},            {1, "FloatPrecision", 9},
      {1, "ShareBitmaps", 0},           {1, "ZoomObjectsWidth", 0},
      {1, "ObjAntialias", 0},           {1, "SelectOnMouseDown", 0},
      {1, "ObjUndoLimit", 7},           {1, "ObjAutoUndo", 1},
      {1, "ObjUndoMode", ieumShared},   {1, "BitmapResampleFilter", rfLanczos3},
      {2, "InsertMode", 0},             {2, "Alignment", 2},
      {2, "ZoomFactor", 1.5},           {2, "MarginLeft", 3.5},
      {2, "MarginTop", 4.25},           {2, "MarginRight", 5},
      {2, "MarginBottom", 6.5},         {2, "LineSpacing", 3},
      {2, "FixedLineHeight", 17},       {2, "AutoHeight", 1},
      {2, "UniformFormat", 1},          {2, "FixedColors", 1},
  };
  // every published event is bound to the root's handler of its signature
  std::vector<std::pair<int, const TPropInfo*>> events;
  for (int i = 0; i < 3; ++i)
      for (const TPropInfo& p : objects[i]->ClassType()->OwnProps()) {
        if (p.Kind == TTypeKind::Method) {
          events.emplace_back(i, &p);
          const TMethodInfo* handler = nullptr;
          for (const TMethodInfo& m : TViewLayoutRoot::StaticClassInfo.OwnMethods())
            if (*m.Signature == *p.Signature) handler = &m;
          ASSERT_TRUE(handler) << p.Name;
          ASSERT_TRUE(p.SetMethod(objects[i], static_cast<TObject*>(root), handler)) << p.Name;
          continue;
        }
        // and every other property has a case
        bool listed = p.Name == "ImageryVersion" || p.Name == "WallPaper" || p.Name == "ObjGripImage";
        for (const Case& k : cases) listed |= k.object == i && p.Name == k.name;
        EXPECT_TRUE(listed) << names[i] << "." << p.Name;
      }
  // the events the three classes publish
  const char* const publishedEvents[] = {
      "View.OnViewChange", "View.OnViewChanging", "View.OnImageChange", "View.OnSelectionChange",
      "View.OnSelectionChanging", "View.OnMouseInSel", "View.OnPaint", "View.OnMouseInResizingGrip", "View.OnZoomIn",
      "View.OnZoomOut", "View.OnProgress", "View.OnFinishWork", "View.OnBeforeSelectionChange", "View.OnDrawBackBuffer",
      "View.OnLayerNotify", "View.OnSpecialKey", "View.OnDrawBackground", "View.OnDrawCanvas", "View.OnTransitionStop",
      "View.OnTransitionStep", "View.OnTransitionPaint", "View.OnDrawLayerBox", "View.OnDrawLayerGrip",
      "View.OnDrawPolygon", "View.OnSaveUndo", "View.OnDShowNewFrame", "View.OnDShowEvent", "View.OnVirtualKey",
      "View.OnMouseWheel", "Vect.OnVectorialChanged", "Vect.OnBeforeVectorialChanged", "Vect.OnNewObject",
      "Vect.OnSelectObject", "Vect.OnUserSelectObject", "Vect.OnUserDeselectObject", "Vect.OnObjectMoveResize",
      "Vect.OnObjectClick", "Vect.OnObjectDblClick", "Vect.OnObjectOver", "Vect.OnBeforeDrawObject",
      "Vect.OnAfterDrawObject", "Vect.OnMeasureHint", "Vect.OnPresentMeasure", "Vect.OnDragLenEnd",
      "Vect.OnActivateTextEdit", "Vect.OnDeactivateTextEdit", "Vect.OnTextKeyDown", "Vect.OnTextEditCursorMoved",
      "Text.OnCursorMoved"};
  for (const char* e : publishedEvents) {
    bool found = false;
    for (const auto& bound : events) found |= std::string(names[bound.first]) + "." + bound.second->Name == e;
    EXPECT_TRUE(found) << e;
  }
  EXPECT_EQ(std::size(publishedEvents), events.size());
  for (const Case& k : cases) {
    const TPropInfo* p = objects[k.object]->ClassType()->FindProp(k.name);
    ASSERT_TRUE(p) << k.name;
    if (p->Kind == TTypeKind::Float) {
      p->SetFloat(objects[k.object], k.value);
    } else {
      ASSERT_TRUE(p->HasDefault) << k.name;
      ASSERT_NE(p->Default, int64_t(k.value)) << k.name;
      p->SetOrd(objects[k.object], int64_t(k.value));
      ASSERT_EQ(int64_t(k.value), p->GetOrd(objects[k.object])) << k.name;
    }
  }
  TBitmap paper;
  Paint24(paper, 9, 5);
  view->GetWallPaper()->SetGraphic(&paper);
  TBitmap grip;
  Paint24(grip, 14, 6);
  vect->GetObjGripImage()->SetGraphic(&grip);

  TMemoryStream layout;
  WriteComponentToStream(&layout, root);
  layout.SetPosition(0);
  auto* loaded = TCustomForm::CreateNew<TViewLayoutRoot>(nullptr);
  ReadComponentFromStream(&layout, loaded);
  TObject* copies[3];
  for (int i = 0; i < 3; ++i) {
    copies[i] = loaded->FindComponent(names[i]);
    ASSERT_TRUE(copies[i] && copies[i]->ClassType() == objects[i]->ClassType()) << names[i];
  }
  for (const Case& k : cases) {
    const TPropInfo* p = copies[k.object]->ClassType()->FindProp(k.name);
    if (p->Kind == TTypeKind::Float)
      EXPECT_EQ(k.value, p->GetFloat(copies[k.object])) << k.name;
    else
      EXPECT_EQ(int64_t(k.value), p->GetOrd(copies[k.object])) << k.name;
  }
  for (const auto& e : events) {
    const auto bound = e.second->GetMethod(copies[e.first]);
    EXPECT_EQ(static_cast<void*>(static_cast<TObject*>(loaded)), bound.first) << e.second->Name;
    const auto original = e.second->GetMethod(objects[e.first]);
    EXPECT_TRUE(bound.second == original.second) << e.second->Name;
  }
  auto* view2 = static_cast<TImageryView*>(copies[0]);
  auto* vect2 = static_cast<TImageryVect*>(copies[1]);
  EXPECT_EQ(9, view2->GetWallPaper()->Width());
  EXPECT_EQ(14, vect2->GetObjGripImage()->Width());
  EXPECT_EQ(7, vect2->GripSize);  // half the grip picture's larger side
  // the bound handlers run, whatever kind of event holds them
  view2->OnViewChanging(view2, 2, 150.0);
  EXPECT_EQ(3, loaded->Called);
  double z = 120;
  view2->OnZoomIn(view2, z);
  EXPECT_EQ(4, loaded->Called);
  view2->GetOnTransitionPaint()(view2, nullptr, nullptr, 3);
  EXPECT_EQ(11, loaded->Called);
  int dx = 0, dy = 0;
  vect2->OnObjectMoveResize(vect2, 0, 1, dx, dy);
  EXPECT_EQ(18, loaded->Called);
  loaded->Free();
  root->Free();
}

}  // namespace
