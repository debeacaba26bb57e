// The processing component's operations on its working bitmap: each gives what the routine it runs
// gives on a copy, makes one undo entry that brings the original back, refuses what it cannot do
// without touching the image, and works on a view's selection only.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ieareaops.h"
#include "iebitmap.h"
#include "iebitmapservices.h"
#include "iecolorconv.h"
#include "iecolorreduction.h"
#include "iemask.h"
#include "ierotate.h"
#include "imageryproc.h"
#include "imageryview.h"
#include "vodevovur.h"

namespace {

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { IELibraryStaticInit(); }
  void TearDown() override { IELibraryStaticFini(); }
};
const auto* const gEnv = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

// Blocks of a few colours with noise, so that the quantizer and the thresholds have work.
void Paint(TIEBitmap& b, unsigned seed) {
  std::mt19937 rng(seed);
  const int bytes = (b.GetImageWidth() * b.GetBitCount() + 7) / 8;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < bytes; ++x) r[x] = uint8_t(((x / 9 + y / 7) % 3) * 100 + rng() % 40);
  }
}

using Op = std::function<void(TImageryProc&)>;
using Direct = std::function<void(TIEBitmap&)>;

TEST(ProcWrappers, EqualTheirRoutinesAndUndoRestores) {
  static TIERGB palette[8], directPalette[8];
  const TIEReductionProgress none;
  struct Case {
    const char* name;
    TIEPixelFormat format;
    bool alpha;
    Op run;
    Direct direct;
    std::string caption;
  };
  const Case kCases[] = {
      {"shears", ie24RGB, true, [](TImageryProc& p) { p.Rotate(true, 0, -1, 30); },
       [](TIEBitmap& b) { IERotateBitmap(&b, true, 0, 0x123456, 30, nullptr, nullptr); }, "Rotate 30"},
      {"bicubic", ie24RGB, false, [](TImageryProc& p) { p.Rotate(true, 2, -1, -12.5); },
       [](TIEBitmap& b) { IERotateBitmap(&b, true, 2, 0x123456, -12.5, nullptr, nullptr); }, "Rotate -12.5"},
      {"nearest grey", ie8g, false, [](TImageryProc& p) { p.Rotate(false, 0, 0x808080, 90); },
       [](TIEBitmap& b) { IERotateBitmap(&b, false, 0, 0x808080, 90, nullptr, nullptr); }, "Rotate 90"},
      {"grey", ie24RGB, false, [](TImageryProc& p) { p.ConvertToGray(); },
       [](TIEBitmap& b) { IEConvertToGrayRect(&b, 0, 0, b.GetImageWidth(), b.GetImageHeight(), nullptr, nullptr); },
       "ConvertToGray"},
      {"grey of ie8g", ie8g, false, [](TImageryProc& p) { p.ConvertToGray(); },
       [](TIEBitmap& b) {
         b.ConvertPixelFormat(ie24RGB);
         IEConvertToGrayRect(&b, 0, 0, b.GetImageWidth(), b.GetImageHeight(), nullptr, nullptr);
       },
       "ConvertToGray"},
      {"fill", ie24RGB, true, [](TImageryProc& p) { p.Fill(TIERGB{1, 2, 3}); },
       [](TIEBitmap& b) { IEFillRect(&b, TIERect{0, 0, 1000, 1000}, TIERGB{1, 2, 3}, nullptr, nullptr); }, "Fill"},
      {"fill 1-bit", ie1g, false, [](TImageryProc& p) { p.Fill(TIERGB{255, 255, 0}); },
       [](TIEBitmap& b) { IEFillRect(&b, TIERect{0, 0, 1000, 1000}, TIERGB{255, 255, 0}, nullptr, nullptr); }, "Fill"},
      {"crop reaching outside", ie24RGB, true, [](TImageryProc& p) { p.Crop(5, 3, 500, 500); },
       [](TIEBitmap& b) { IECropBitmap(&b, TIERect{5, 3, 500, 500}); }, "Crop"},
      {"crop rect", ie8g, false, [](TImageryProc& p) { p.CropRect(TIERect{-4, 2, 10, 9}); },
       [](TIEBitmap& b) { IECropBitmap(&b, TIERect{0, 2, 10, 9}); }, "Crop"},
      {"threshold", ie24RGB, false, [](TImageryProc& p) { p.ConvertTo(2, true); },
       [&](TIEBitmap& b) { IEConvertToColors(&b, 2, true, none); }, "ConvertTo 2"},
      {"dither", ie24RGB, false, [](TImageryProc& p) { p.ConvertTo(1, false); },
       [&](TIEBitmap& b) { IEConvertToColors(&b, 1, false, none); }, "ConvertTo 1"},
      {"16 colours", ie24RGB, false, [](TImageryProc& p) { p.ConvertTo(16, false); },
       [&](TIEBitmap& b) { IEConvertToColors(&b, 16, false, none); }, "ConvertTo 16"},
      {"16 colours of ie8g", ie8g, false, [](TImageryProc& p) { p.ConvertTo(16, false); },
       [&](TIEBitmap& b) {
         b.ConvertPixelFormat(ie24RGB);
         IEConvertToColors(&b, 16, false, none);
       },
       "ConvertTo 16"},
      {"palette", ie24RGB, false, [](TImageryProc& p) { p.ConvertToPalette(8, palette, false); },
       [&](TIEBitmap& b) { IEConvertToPaletteColors(&b, 8, directPalette, false, none); }, "ConvertToPalette"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TImageryProc proc(true);
    proc.SetBackgroundValue(0x123456);
    TIEBitmap* work = proc.GetWorkingBitmap();
    ASSERT_TRUE(work->Allocate(37, 23, c.format));
    Paint(*work, 7);
    if (c.alpha) Paint(*work->GetAlphaChannel(), 8), work->GetAlphaChannel()->IsAll255 = false;
    TIEBitmap original, expected;
    original.Assign(work);
    expected.Assign(work);
    c.direct(expected);
    int finished = 0;
    proc.OnFinishWork = [&](void*) { ++finished; };
    c.run(proc);
    EXPECT_TRUE(IEBitmapsEqual(work, &expected));
    EXPECT_FALSE(IEBitmapsEqual(work, &original));
    EXPECT_EQ(finished, 1);
    ASSERT_EQ(proc.UndoEntryCount(), 1);
    EXPECT_EQ(proc.UndoCaptionOf(0), c.caption);
    proc.Undo(false);
    EXPECT_TRUE(IEBitmapsEqual(work, &original));
  }
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(IESameRGB(palette[i], directPalette[i])) << i;
}

TEST(ProcWrappers, RefusalsLeaveImageAndUndoAlone) {
  struct Case {
    const char* name;
    bool transparent;
    Op run;
  };
  TIERGB pal[2] = {};
  const Case kCases[] = {
      {"angle 0", false, [](TImageryProc& p) { p.Rotate(true, 1, -1, 0); }},
      {"quality 3", false, [](TImageryProc& p) { p.Rotate(true, 3, -1, 30); }},
      {"angle not finite", false, [](TImageryProc& p) { p.Rotate(true, 0, -1, std::nan("")); }},
      {"crop of the whole image", false, [](TImageryProc& p) { p.Crop(0, 0, 36, 22); }},
      {"crop beyond the whole image", false, [](TImageryProc& p) { p.Crop(-5, -5, 99, 99); }},
      {"crop wholly outside", false, [](TImageryProc& p) { p.Crop(40, 0, 50, 10); }},
      {"crop inverted", false, [](TImageryProc& p) { p.Crop(9, 9, 3, 3); }},
      {"palette of 0", false, [&](TImageryProc& p) { p.ConvertToPalette(0, pal, true); }},
      {"no palette", false, [](TImageryProc& p) { p.ConvertToPalette(8, nullptr, true); }},
      {"opaque area without alpha", false, [](TImageryProc& p) { p.CropToOpaqueArea(); }},
      {"opaque area of a transparent image", true, [](TImageryProc& p) { p.CropToOpaqueArea(); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TImageryProc proc(true);
    TIEBitmap* work = proc.GetWorkingBitmap();
    work->Allocate(37, 23, ie24RGB);
    Paint(*work, 3);
    if (c.transparent) work->GetAlphaChannel()->Fill(0), work->GetAlphaChannel()->IsAll255 = false;
    TIEBitmap original;
    original.Assign(work);
    int finished = 0;
    proc.OnFinishWork = [&](void*) { ++finished; };
    c.run(proc);
    EXPECT_TRUE(IEBitmapsEqual(work, &original));
    EXPECT_EQ(proc.UndoEntryCount(), 0);
    EXPECT_EQ(finished, 0);
  }
  // more than 1024 colours: the image stays, the entry is made all the same
  TImageryProc proc(true);
  proc.GetWorkingBitmap()->Allocate(10, 10, ie24RGB);
  Paint(*proc.GetWorkingBitmap(), 4);
  TIEBitmap original;
  original.Assign(proc.GetWorkingBitmap());
  proc.ConvertTo(2000, false);
  EXPECT_TRUE(IEBitmapsEqual(proc.GetWorkingBitmap(), &original));
  EXPECT_EQ(proc.UndoCaptionOf(0), "ConvertTo 2000");

  // a format the gate may not convert: refused before any entry
  TImageryProc strict(true);
  strict.AutoConvertFormat = false;
  strict.GetWorkingBitmap()->Allocate(10, 10, ie8g);
  strict.ConvertTo(16, false);
  EXPECT_EQ(strict.GetWorkingBitmap()->GetPixelFormat(), ie8g);
  EXPECT_EQ(strict.UndoEntryCount(), 0);
  strict.ConvertToGray();  // the selection frame's gate likewise
  EXPECT_EQ(strict.UndoEntryCount(), 0);
}

TEST(ProcWrappers, CropToOpaqueAreaMakesNoUndoEntry) {
  TImageryProc proc(true);
  TIEBitmap* work = proc.GetWorkingBitmap();
  work->Allocate(30, 20, ie24RGB);
  Paint(*work, 5);
  TIEBitmap* alpha = work->GetAlphaChannel();
  alpha->Fill(0);
  alpha->SetByte(4, 6, 1);
  alpha->SetByte(12, 15, 200);
  alpha->IsAll255 = false;
  TIEBitmap expected;
  expected.Assign(work);
  IECropBitmap(&expected, TIERect{4, 6, 12, 15});
  proc.CropToOpaqueArea();
  EXPECT_TRUE(IEBitmapsEqual(work, &expected));
  EXPECT_EQ(proc.UndoEntryCount(), 0);
  EXPECT_TRUE(proc.AutoUndo);
}

// A view whose selection is a ring: the operations change the selected pixels only.
TEST(ProcWrappers, SelectionOfAnAttachedView) {
  TImageryView* view = ui::New<TImageryView>(nullptr);
  TIEBitmap* image = view->GetIEBitmap();
  image->Allocate(40, 30, ie24RGB);
  Paint(*image, 9);
  view->UpdateView();
  TImageryProc proc(true);
  proc.SetAttachedImageryValue(view);
  TIEMask* mask = view->GetSelectionMask();
  ASSERT_EQ(mask->Width, 40);
  auto inRing = [](int x, int y) {
    const int d = (x - 20) * (x - 20) + (y - 14) * (y - 14);
    return d >= 16 && d <= 81;
  };
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      if (inRing(x, y)) mask->SetPixel(x, y, 1);
  TIEBitmap original;
  original.Assign(image);

  struct Case {
    const char* name;
    Op run;
    std::function<TIERGB(TIERGB)> selected;
  };
  const Case kCases[] = {
      {"fill", [](TImageryProc& p) { p.Fill(TIERGB{9, 8, 7}); }, [](TIERGB) { return TIERGB{9, 8, 7}; }},
      {"grey", [](TImageryProc& p) { p.ConvertToGray(); },
       [](TIERGB c) {
         const uint8_t g = uint8_t((c.r * IEGrayWeightRed + c.g * IEGrayWeightGreen + c.b * IEGrayWeightBlue) / 100);
         return TIERGB{g, g, g};
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    c.run(proc);
    TIEBitmap* work = proc.GetWorkingBitmap();
    ASSERT_EQ(work, view->GetIEBitmap());
    int wrong = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const TIERGB want = inRing(x, y) ? c.selected(original.GetRGB(x, y)) : original.GetRGB(x, y);
        if (!IESameRGB(work->GetRGB(x, y), want)) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
    proc.Undo(false);
    EXPECT_TRUE(IEBitmapsEqual(view->GetIEBitmap(), &original));
  }

  // an empty selection: the whole image
  mask->Clear();
  proc.Fill(TIERGB{1, 1, 1});
  TIEBitmap whole;
  whole.Assign(&original);
  IEFillRect(&whole, TIERect{0, 0, 39, 29}, TIERGB{1, 1, 1}, nullptr, nullptr);
  EXPECT_TRUE(IEBitmapsEqual(view->GetIEBitmap(), &whole));
  proc.SetAttachedImageryValue(nullptr);
  delete view;
}

// The library's start-up routes the pixel buffer's conversion to ie8p through the quantizer: a
// picture of exactly five colours keeps them.
TEST(ProcWrappers, StartUpInstallsTheColourReduction) {
  TIEBitmap b(20, 10, ie24RGB);
  const TIERGB colours[5] = {{0, 0, 0}, {255, 255, 255}, {10, 200, 30}, {200, 10, 90}, {7, 7, 250}};
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) b.SetRGB(x, y, colours[(x + y) % 5]);
  b.PaletteColorTarget = 5;
  b.ConvertPixelFormat(ie8p);
  ASSERT_EQ(b.GetPixelFormat(), ie8p);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_TRUE(IESameRGB(b.GetPixelRGB(x, y), colours[(x + y) % 5])) << x << "," << y;
}

}  // namespace
