// The processing component on a bitmap of its own: size rules of Resample, the pixel-format gate, the
// undo and redo stacks of image snapshots, ImageResize and the bitmap equality test.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "imageryproc.h"
#include "uigraphics.h"
#include "vodevovur.h"

namespace {

void FillRandom(TIEBitmap& b, unsigned seed) {
  std::mt19937 rng(seed);
  const int bytes = (b.GetImageWidth() * b.GetBitCount() + 7) / 8;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < bytes; ++x) r[x] = uint8_t(rng());
  }
}

TEST(ImageryProc, ResampleSizeRules) {
  struct Case {
    int w, h, expectW, expectH;
    bool toBitmap;
  };
  const Case kCases[] = {{-1, 300, 600, 300, false}, {200, -1, 200, 100, false}, {0, 50, 400, 50, false},
                         {-50, 0, 50, 200, false},   {-1, 0, 1, 200, true},      {-5, -5, 400, 200, false},
                         {-5, -5, 0, 0, true},       {400, 200, 400, 200, false}};
  for (const Case& c : kCases) {
    TImageryProc proc(true);
    proc.GetWorkingBitmap()->Allocate(400, 200, ie24RGB);
    FillRandom(*proc.GetWorkingBitmap(), 1);
    int finished = 0, hundred = 0;
    proc.OnFinishWork = [&](void*) { ++finished; };
    proc.OnProgress = [&](void*, int per) { hundred += per == 100; };
    if (c.toBitmap) {
      TIEBitmap out;
      proc.ResampleToBitmap(&out, c.w, c.h, rfTriangle);
      EXPECT_EQ(out.GetImageWidth(), c.expectW) << c.w << "," << c.h;
      EXPECT_EQ(out.GetImageHeight(), c.expectH) << c.w << "," << c.h;
    } else {
      proc.Resample(c.w, c.h, rfTriangle);
      EXPECT_EQ(proc.GetWorkingBitmap()->GetImageWidth(), c.expectW) << c.w << "," << c.h;
      EXPECT_EQ(proc.GetWorkingBitmap()->GetImageHeight(), c.expectH) << c.w << "," << c.h;
      const bool changed = c.expectW != 400 || c.expectH != 200;
      EXPECT_EQ(proc.UndoEntryCount(), changed ? 1 : 0) << c.w << "," << c.h;
      // one operation, one end: the resampling inside reports none of its own
      EXPECT_EQ(finished, changed ? 1 : 0) << c.w << "," << c.h;
      EXPECT_EQ(hundred, changed ? 1 : 0) << c.w << "," << c.h;
      if (changed) {
        EXPECT_EQ(proc.UndoCaptionOf(0), "Resample " + std::to_string(c.w) + "," + std::to_string(c.h));
      }
    }
  }
  // any other format comes out as 24-bit colour
  TImageryProc proc;
  proc.GetWorkingBitmap()->Allocate(30, 20, ieCMYK);
  proc.Resample(17, 9, rfLanczos3);
  EXPECT_EQ(proc.GetWorkingBitmap()->GetPixelFormat(), ie24RGB);
}

TEST(ImageryProc, FormatGateCandidates) {
  struct Case {
    TIEPixelFormat from;
    TIEPixelFormatSet allowed;
    bool autoConvert;
    bool result;
    TIEPixelFormat after;
  };
  const Case kCases[] = {
      {ie24RGB, IEFormatSet({ie8g}), true, true, ie8g},       {ie24RGB, IEFormatSet({ie8g}), false, false, ie24RGB},
      {ie1g, IEFormatSet({ieCMYK}), true, true, ieCMYK},      {ie24RGB, 0, true, true, ie24RGB},
      {ie8g, IEFormatSet({ie24RGB, ie16g}), true, true, ie16g}, {ie32f, IEFormatSet({ie32f}), false, true, ie32f},
      {ie8p, IEFormatSet({ie16g, ie8g}), true, true, ie16g},
  };
  for (const Case& c : kCases) {
    TImageryProc proc;
    proc.GetWorkingBitmap()->Allocate(4, 4, c.from);
    proc.AutoConvertFormat = c.autoConvert;
    EXPECT_EQ(proc.EnsurePixelFormat(c.allowed), c.result) << int(c.from) << " " << c.allowed;
    EXPECT_EQ(proc.GetWorkingBitmap()->GetPixelFormat(), c.after) << int(c.from) << " " << c.allowed;
  }
  TImageryProc empty;
  EXPECT_TRUE(empty.PrepareImage(0));  // any format, ieNoFormat included
  empty.ReplaceWorkingBitmap(nullptr);
  EXPECT_FALSE(empty.PrepareImage(0));
}

TEST(ImageryProc, UndoLimitsKeepTheNewestEntries) {
  struct Case {
    int limit, operations, expectCount, expectEvents;
  };
  const Case kCases[] = {{0, 2, 0, 0}, {1, 2, 1, 2}, {3, 5, 3, 5}, {-2, 2, 0, 0}};
  for (const Case& c : kCases) {
    TImageryProc proc(true);
    proc.SetUndoLimitValue(c.limit);
    proc.GetWorkingBitmap()->Allocate(10, 10, ie24RGB);
    int events = 0;
    proc.OnSaveUndo = [&](void*, TIEUndoSource s) {
      EXPECT_EQ(s, ieuImage);
      ++events;
    };
    for (int k = 0; k < c.operations; ++k) proc.Resample(11 + k, 10, rfTriangle);
    ASSERT_EQ(proc.UndoEntryCount(), c.expectCount) << c.limit;
    EXPECT_EQ(events, c.expectEvents) << c.limit;
    for (int p = 0; p < c.expectCount; ++p) {
      const int op = c.operations - 1 - p;
      EXPECT_EQ(proc.UndoCaptionOf(p), "Resample " + std::to_string(11 + op) + ",10");
      EXPECT_EQ(proc.UndoSourceOf(c.expectCount - 1 - p), ieuImage);
    }
    EXPECT_EQ(proc.UndoCaptionOf(-1), "");
    EXPECT_EQ(proc.UndoCaptionOf(c.expectCount), "");
    EXPECT_EQ(proc.UndoSourceOf(c.expectCount), ieuUnknown);
    // out-of-range positions do nothing
    proc.UndoToPosition(-1, true);
    proc.UndoToPosition(c.expectCount, true);
    proc.RedoToPosition(-1);
    proc.DiscardUndoEntry(-1);
    EXPECT_EQ(proc.UndoEntryCount(), c.expectCount);
    EXPECT_EQ(proc.RedoEntryCount(), 0);
  }
}

TEST(ImageryProc, UndoRestoresAndUndoWithRedoKeepsThePresentState) {
  TImageryProc proc(true);
  proc.GetWorkingBitmap()->Allocate(20, 10, ie24RGB);
  FillRandom(*proc.GetWorkingBitmap(), 4);
  TIEBitmap original;
  original.Assign(proc.GetWorkingBitmap());
  proc.SetBackgroundValue(0x00FF8000);
  proc.Clear();
  TIEBitmap cleared;
  cleared.Assign(proc.GetWorkingBitmap());
  ASSERT_EQ(proc.UndoEntryCount(), 1);
  EXPECT_EQ(proc.UndoCaptionOf(0), "Clear");
  ASSERT_NE(proc.UndoSnapshotOf(0), nullptr);
  EXPECT_EQ(proc.UndoSnapshotOf(0)->GetLocation(), ieTempFile);  // snapshots live in temporary files
  EXPECT_EQ(proc.UndoSnapshotOf(0)->SpareInteger, -1);
  EXPECT_EQ(proc.UndoSnapshotOf(1), nullptr);
  EXPECT_FALSE(IEBitmapsEqual(proc.GetWorkingBitmap(), &original));

  proc.Undo(false);
  EXPECT_TRUE(IEBitmapsEqual(proc.GetWorkingBitmap(), &original));
  proc.GetWorkingBitmap()->Fill(0);
  proc.Undo(false);  // the entry stays: the same snapshot again
  EXPECT_TRUE(IEBitmapsEqual(proc.GetWorkingBitmap(), &original));
  EXPECT_EQ(proc.UndoEntryCount(), 1);

  proc.Clear();  // limit 1: replaces the entry
  proc.Undo(true);
  EXPECT_TRUE(IEBitmapsEqual(proc.GetWorkingBitmap(), &original));
  ASSERT_EQ(proc.RedoEntryCount(), 1);
  EXPECT_EQ(proc.RedoCaptionOf(0), "");
  proc.Redo();
  EXPECT_TRUE(IEBitmapsEqual(proc.GetWorkingBitmap(), &cleared));
  EXPECT_EQ(proc.RedoEntryCount(), 1);
  proc.DiscardNewestRedo();
  proc.DiscardNewestUndo();
  proc.DiscardNewestUndo();
  EXPECT_FALSE(proc.UndoAvailable());
  EXPECT_FALSE(proc.RedoAvailable());

  // a 1 x 1 image runs the operation but makes no entry
  proc.GetWorkingBitmap()->Allocate(1, 1, ie24RGB);
  proc.Resample(5, 5, rfTriangle);
  EXPECT_EQ(proc.GetWorkingBitmap()->GetImageWidth(), 5);
  EXPECT_EQ(proc.UndoEntryCount(), 0);
}

TEST(ImageryProc, ImageResizePlacesTheOldImageAndFillsAlpha) {
  TImageryProc proc;
  TIEBitmap given;
  given.Allocate(100, 100, ie24RGB);
  given.Fill(0x000000FF);
  proc.SetAttachedIEBitmap(&given);
  proc.SetBackgroundValue(0x0000FF00);
  proc.ImageResize(200, 100, 1, 0, 0);
  ASSERT_EQ(given.GetImageWidth(), 200);
  ASSERT_TRUE(given.AlphaPresent());
  struct Probe {
    int x;
    uint8_t r, g, alpha;
  };
  const Probe kProbes[] = {{0, 0, 255, 0}, {49, 0, 255, 0}, {50, 255, 0, 255}, {149, 255, 0, 255}, {150, 0, 255, 0}, {199, 0, 255, 0}};
  for (const Probe& p : kProbes) {
    const TIERGB c = given.GetRGB(p.x, 40);
    EXPECT_EQ(c.r, p.r) << p.x;
    EXPECT_EQ(c.g, p.g) << p.x;
    EXPECT_EQ(given.GetAlphaAt(p.x, 40), p.alpha) << p.x;
  }
  proc.SetAttachedIEBitmap(nullptr);  // back to a bitmap of its own
  EXPECT_NE(proc.GetWorkingBitmap(), &given);

  // a 1 x 1 image is cleared to Background first, without any undo entry
  TImageryProc tiny(true);
  tiny.GetWorkingBitmap()->Allocate(1, 1, ie24RGB);
  tiny.GetWorkingBitmap()->Fill(0x00FFFFFF);
  tiny.SetBackgroundValue(0x000000FF);
  int finished = 0;
  tiny.OnFinishWork = [&](void*) { ++finished; };
  tiny.ImageResize(3, 2, 0, 0);
  EXPECT_EQ(tiny.UndoEntryCount(), 0);
  EXPECT_EQ(finished, 2);
  EXPECT_EQ(tiny.GetWorkingBitmap()->GetRGB(0, 0).r, 255);
  EXPECT_EQ(tiny.GetWorkingBitmap()->GetRGB(0, 0).g, 0);
  EXPECT_EQ(tiny.GetWorkingBitmap()->GetRGB(2, 1).r, 255);
}

TEST(ProcStartUp, TablesAndPredefinedFilters) {
  IELibraryStaticInit();
  ASSERT_EQ(IEPredefinedFilters.size(), 9u);
  ASSERT_EQ(IEPredefinedFilterNames.size(), 9u);
  const char* kNames[] = {"None", "Blur", "Edges", "Emboss", "High Pass 1", "High Pass 2", "High Pass 3", "Low Pass 1", "Low Pass 2"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(IEPredefinedFilterNames[i], kNames[i]);
  EXPECT_EQ(IEPredefinedFilters[2].Values[1][1], -8);
  EXPECT_EQ(IEPredefinedFilters[8].Divisor, 16);
  EXPECT_NE(IERawClipboardFormat, 0u);
  // 0xA0 = bits 1 0 1 0 0 0 0 0
  const uint8_t expect[8] = {255, 0, 255, 0, 0, 0, 0, 0};
  for (int j = 0; j < 8; ++j)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(IEExpand1To24Table[0xA0][3 * j + c], expect[j]) << j;
  IELibraryStaticFini();
}

TEST(BitmapsEqual, FormatAndAlphaCount) {
  TIEBitmap a(7, 3, ie8g), b(7, 3, ie8g), p(7, 3, ie8p);
  FillRandom(a, 2);
  b.Assign(&a);
  for (int y = 0; y < 3; ++y) std::memcpy(p.GetRowAddress(y), a.GetRowAddress(y), 7);
  EXPECT_TRUE(IEBitmapsEqual(&a, &b));
  EXPECT_FALSE(IEBitmapsEqual(&a, &p));  // same row bytes, different format
  b.GetAlphaChannel();
  EXPECT_FALSE(IEBitmapsEqual(&a, &b));
  TIEBitmap c(9, 1, ie1g), d(9, 1, ie1g);
  c.Fill(0);
  d.Fill(0);
  d.GetRowAddress(0)[1] |= 0x01;  // a padding bit only
  EXPECT_TRUE(IEBitmapsEqual(&c, &d));
}

// The settings kept for the processing dialogs: their defaults, a preview font copied rather than
// taken, and dialog parameters whose setters drop the stale preview and whose Reset restores all.
TEST(ImageryProc, DialogSettingsKeepTheirDefaultsAndCopies) {
  TImageryProc proc;
  EXPECT_EQ(proc.MsgLanguage, msSystem);
  EXPECT_EQ(proc.GetPreviewsParamsValue(), prppShowResetButton | prppHardReset);
  EXPECT_FALSE(proc.OnPreview);
  proc.SetPreviewsParamsValue(prppDefaultLockPreview | prppResetSelectedTab);
  EXPECT_EQ(proc.GetPreviewsParamsValue(), prppDefaultLockPreview | prppResetSelectedTab);

  ui::TFont* font = new ui::TFont();
  font->SetName("Courier New");
  font->SetSize(17);
  proc.SetPreviewFontValue(font);
  font->SetName("Arial");
  ASSERT_NE(proc.GetPreviewFont(), font);
  EXPECT_EQ(proc.GetPreviewFont()->GetName(), "Courier New");
  EXPECT_EQ(proc.GetPreviewFont()->GetSize(), 17);
  font->Free();

  TIPDialogParams& p = proc.GetDialogParams();
  for (int v : {p.ParamA(), p.ParamB(), p.ParamC(), p.ParamD()}) EXPECT_EQ(v, -1);
  const int identity[3][3] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 0}};
  EXPECT_EQ(std::memcmp(p.UserFilter.Values, identity, sizeof identity), 0);
  EXPECT_EQ(p.UserFilter.Divisor, 0);
  EXPECT_EQ(p.Colors[1].r, 255);
  EXPECT_EQ(p.Colors[2].g, 0);
  EXPECT_EQ(p.RectB[3], 150);
  EXPECT_DOUBLE_EQ(p.Factor, 1.7);
  EXPECT_EQ(p.ValuesE[1], 4);

  const char kPreview[] = "preview";
  using Setter = void (TIPDialogParams::*)(int);
  for (Setter set : {&TIPDialogParams::SetParamA, &TIPDialogParams::SetParamB, &TIPDialogParams::SetParamC,
                     &TIPDialogParams::SetParamD}) {
    p.PreviewStream().WriteBuffer(kPreview, sizeof kPreview);
    (p.*set)(7);
    EXPECT_EQ(p.PreviewStream().GetSize(), 0);
  }
  EXPECT_EQ(p.ParamA() + p.ParamB() + p.ParamC() + p.ParamD(), 28);
  p.UserFilter.Divisor = 9;
  p.Factor = 3;
  p.PreviewStream().WriteBuffer(kPreview, sizeof kPreview);
  p.Reset();
  EXPECT_EQ(p.ParamC(), -1);
  EXPECT_EQ(p.UserFilter.Divisor, 0);
  EXPECT_DOUBLE_EQ(p.Factor, 1.7);
  EXPECT_EQ(p.PreviewStream().GetSize(), 0);
}

}  // namespace
