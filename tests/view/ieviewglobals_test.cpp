// The view module's start-up values and the view's own cursors.
#include <gtest/gtest.h>

#include "ieviewglobals.h"
#include "imageryview.h"
#include "ioparams.h"

using namespace ui;

namespace {
POINT HotSpot(HCURSOR c) {
  ICONINFO ii{};
  if (!GetIconInfo(c, &ii)) return POINT{-1, -1};
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  return POINT{LONG(ii.xHotspot), LONG(ii.yHotspot)};
}
}  // namespace

TEST(ViewStartUp, RecordsScreenMetricsAndTheDefaultResolution) {
  IEDefaultDPIX = 72;
  IEDefaultDPIY = 96;
  IEImageryViewStaticInit();
  EXPECT_EQ(300, IEDefaultDPIX);
  EXPECT_EQ(300, IEDefaultDPIY);
  HDC dc = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), IEScreenBitsPerPixel);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), IEScreenDpiX);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), IEScreenDpiY);
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(GetSystemMetrics(SM_CXEDGE), IEEdgeX);
  EXPECT_EQ(GetSystemMetrics(SM_CYBORDER), IEBorderY);
  EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), IEScrollBarX);
  EXPECT_EQ(400, IEPixelGridZoom);
  ASSERT_NE(nullptr, IEGridPen);
  EXPECT_EQ(nullptr, IEGradientLibrary);
  // a view takes the default resolution
  TImageryView* view = New<TImageryView>(nullptr);
  EXPECT_EQ(300, view->GetDpiX());
  view->Free();
}

TEST(ViewCursors, EveryViewLoadsTheSameThirtySevenCursors) {
  for (int id = kIEFirstCursor; id < kIEFirstCursor + kIECursorCount; ++id) Screen->SetCursors(id, nullptr);
  TImageryView* a = New<TImageryView>(nullptr);
  std::vector<HCURSOR> first;
  for (int id = 1778; id <= 1814; ++id) {
    HCURSOR c = Screen->GetCursors(id);
    EXPECT_NE(nullptr, c) << id;
    EXPECT_NE(Screen->GetCursors(crDefault), c) << id;
    first.push_back(c);
  }
  TImageryView* b = New<TImageryView>(nullptr);
  for (int id = 1778; id <= 1814; ++id) EXPECT_EQ(first[size_t(id - 1778)], Screen->GetCursors(id)) << id;
  // identifiers that name the same resource share it
  EXPECT_EQ(Screen->GetCursors(1795), Screen->GetCursors(1796));  // "CROCE2-" twice
  EXPECT_EQ(Screen->GetCursors(1805), Screen->GetCursors(1806));  // "1803" twice
  EXPECT_NE(Screen->GetCursors(1785), Screen->GetCursors(1791));

  struct Case {
    int id;
    POINT hot;
  };
  const Case kCases[] = {{1785, {15, 15}}, {1783, {1, 30}}, {1778, {11, 11}}, {1797, {15, 15}}};
  for (const Case& c : kCases) {
    const POINT p = HotSpot(Screen->GetCursors(c.id));
    EXPECT_EQ(c.hot.x, p.x) << c.id;
    EXPECT_EQ(c.hot.y, p.y) << c.id;
  }
  b->Free();
  a->Free();
}

TEST(ViewCursors, WriterWorksWithoutOwnerButTemporaryCursorsNeedOne) {
  TImageryView* view = New<TImageryView>(nullptr);
  view->SetCursorValue(1790);
  EXPECT_EQ(1790, view->GetBaseCursor());
  EXPECT_EQ(1790, view->GetViewCursor());
  EXPECT_EQ(1790, view->GetCursor());
  view->ShowTemporaryCursor(1782);
  EXPECT_EQ(1790, view->GetViewCursor());  // no owner: never changed
  view->Free();

  TComponent* owner = New<TComponent>(nullptr);
  TImageryView* owned = New<TImageryView>(owner);
  owned->SetCursorValue(1785);
  owned->ShowTemporaryCursor(1782);
  EXPECT_EQ(1782, owned->GetViewCursor());
  EXPECT_EQ(1785, owned->GetBaseCursor());
  owned->RestoreBaseCursor();
  EXPECT_EQ(1785, owned->GetViewCursor());
  owner->Free();
}
