// Drawing vector objects into bitmaps: exact pixels with antialiasing off, translucency, highlight,
// hidden objects, the drawing events, other pixel formats and the software antialias road.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "iebitmap.h"
#include "iegdiplus.h"
#include "ieresample.h"
#include "ievect.h"
#include "ieviewglobals.h"
#include "uiforms.h"
#include "uipicture.h"

using namespace ui;

namespace {

constexpr TColor kWhite = 0xFFFFFF, kBlack = 0x000000, kRed = 0x0000FF;

class Draw : public ::testing::Test {
 protected:
  void SetUp() override {
    view = New<TImageryVect>(nullptr);
    view->SetObjAntialias(false);
    image.Allocate(40, 30, ie24RGB);
    image.SetLocation(ieTBitmap);  // drawn into directly
    Fill(kWhite);
  }
  void TearDown() override { view->Free(); }
  void Fill(TColor c) {
    for (int y = 0; y < image.GetImageHeight(); ++y)
      for (int x = 0; x < image.GetImageWidth(); ++x) image.SetRGB(x, y, Rgb(c));
  }
  static TIERGB Rgb(TColor c) { return TIERGB{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)}; }
  TColor At(int x, int y) {
    const TIERGB p = image.GetPixelRGB(x, y);
    return TColor(p.r | (p.g << 8) | (p.b << 16));
  }
  int Add(TIEVKind kind, int x1, int y1, int x2, int y2) {
    TIEVObjectRecord r;
    r.Kind = kind;
    r.X1 = x1, r.Y1 = y1, r.X2 = x2, r.Y2 = y2;
    r.PenColor = kBlack;
    return view->AddObject(r);
  }
  // Pixels differing from white, as a string of '#' and '.' rows (for messages).
  int CountNot(TColor c) {
    int n = 0;
    for (int y = 0; y < image.GetImageHeight(); ++y)
      for (int x = 0; x < image.GetImageWidth(); ++x) n += At(x, y) != c;
    return n;
  }
  TImageryVect* view = nullptr;
  TIEBitmap image;
};

TEST_F(Draw, OnePixelLineCoversItsRowOnly) {
  Add(ievkLINE, 5, 10, 20, 10);
  view->DrawObjectsToBitmap(&image, false);
  for (int x = 5; x < 20; ++x) EXPECT_EQ(At(x, 10), kBlack) << x;
  for (int x = 0; x < 40; ++x) {
    EXPECT_EQ(At(x, 9), kWhite) << x;
    EXPECT_EQ(At(x, 11), kWhite) << x;
  }
  EXPECT_EQ(At(4, 10), kWhite);
  EXPECT_EQ(At(21, 10), kWhite);
  EXPECT_EQ(view->GetDrawnCount(), 1);
}

TEST_F(Draw, FilledBoxHasFrameAndInterior) {
  const int h = Add(ievkBOX, 5, 5, 14, 9);
  view->ObjectRecord(h)->BrushColor = kRed;
  view->ObjectRecord(h)->BrushStyle = bsSolid;
  view->DrawObjectsToBitmap(&image, false);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 5 && x <= 14 && y >= 5 && y <= 9;
      const bool frame = inside && (x == 5 || x == 14 || y == 5 || y == 9);
      const TColor want = frame ? kBlack : inside ? kRed : kWhite;
      ASSERT_EQ(At(x, y), want) << x << "," << y;
    }
}

TEST_F(Draw, LineEndsByShape) {
  // a plain line's pixels, then the same line with each start shape
  Add(ievkLINE, 5, 15, 35, 15);
  view->DrawObjectsToBitmap(&image, false);
  const int plain = CountNot(kWhite);
  struct Case {
    uint8_t shape;
    bool drawsMore;
  };
  for (const Case c : {Case{0, false}, Case{1, true}, Case{2, true}, Case{3, false}, Case{200, false}}) {
    Fill(kWhite);
    view->ObjectRecord(IEV_LAST)->StartShape = c.shape;
    view->ObjectRecord(IEV_LAST)->BrushStyle = bsSolid;
    view->ObjectRecord(IEV_LAST)->BrushColor = kBlack;
    view->DrawObjectsToBitmap(&image, false);
    if (c.drawsMore) {
      EXPECT_GT(CountNot(kWhite), plain + 20) << int(c.shape);
      EXPECT_EQ(At(4, 15), kWhite) << int(c.shape);  // nothing beyond the tip
    } else {
      EXPECT_EQ(CountNot(kWhite), plain) << int(c.shape);
    }
  }
}

TEST_F(Draw, HighlightAndsTheBrushColour) {
  for (int y = 0; y < 30; ++y)
    for (int x = 20; x < 40; ++x) image.SetRGB(x, y, Rgb(kBlack));
  const int h = Add(ievkBOX, 10, 5, 29, 14);
  TIEVObjectRecord* r = view->ObjectRecord(h);
  r->Highlight = true;
  r->BrushColor = 0x00FFFF;  // yellow
  r->BrushStyle = bsSolid;
  view->DrawObjectsToBitmap(&image, false);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 10 && x <= 29 && y >= 5 && y <= 14;
      const TColor under = x < 20 ? kWhite : kBlack;
      const TColor want = inside && under == kWhite ? TColor(0x00FFFF) : under;
      ASSERT_EQ(At(x, y), want) << x << "," << y;
    }
  EXPECT_EQ(r->PenWidth, 1);
}

TEST_F(Draw, HighlightFarOutsideTheImageEndsAndChangesNothing) {
  const int h = Add(ievkBOX, -2000000, -1500000, -1000000, -1000000);
  view->ObjectRecord(h)->Highlight = true;
  view->ObjectRecord(h)->BrushColor = 0x00FFFF;
  const int h2 = Add(ievkBOX, 30, 20, 3000000, 2000000);  // partly inside: clipped, not shrunk away
  view->ObjectRecord(h2)->Highlight = true;
  view->ObjectRecord(h2)->BrushColor = 0x00FFFF;
  view->DrawObjectsToBitmap(&image, false);
  EXPECT_EQ(At(29, 19), kWhite);
  EXPECT_EQ(At(30, 20), TColor(0x00FFFF));
  EXPECT_EQ(At(39, 29), TColor(0x00FFFF));
  EXPECT_EQ(CountNot(kWhite), 10 * 10);
}

TEST_F(Draw, TransparencyBlendsWithWhatIsUnder) {
  struct Case {
    TIEVKind kind;
    int transparency;
  };
  // a box blends through the canvas, a text box through the intermediate
  for (const Case c : {Case{ievkBOX, 128}, Case{ievkTEXT, 128}, Case{ievkBOX, 255}}) {
    view->RemoveAllObjects();
    Fill(kWhite);
    const int h = Add(c.kind, 5, 5, 24, 19);
    TIEVObjectRecord* r = view->ObjectRecord(h);
    r->PenColor = kRed;
    r->BrushColor = kRed;
    r->BrushStyle = bsSolid;
    r->Transparency = c.transparency;
    view->DrawObjectsToBitmap(&image, false);
    const TIERGB p = image.GetPixelRGB(12, 12);
    const int g = 255 - c.transparency;  // green and blue: white towards 0 by the opacity
    EXPECT_EQ(p.r, 255) << c.kind;
    EXPECT_NEAR(p.g, g, 2) << c.kind;
    EXPECT_NEAR(p.b, g, 2) << c.kind;
    EXPECT_EQ(At(30, 25), kWhite) << c.kind;
  }
}

TEST_F(Draw, HiddenObjectsAreNotDrawn) {
  const int h = Add(ievkBOX, 5, 5, 20, 20);
  view->ObjectRecord(h)->BrushStyle = bsSolid;
  view->ObjectRecord(h)->Flags &= ~ievfVisible;
  view->ObjectRecord(h)->Transparency = 100;
  const int h2 = Add(ievkTEXT, 5, 5, 20, 20);
  view->ObjectRecord(h2)->Flags &= ~ievfVisible;
  view->ObjectRecord(h2)->Transparency = 100;  // the intermediate road
  view->DrawObjectsToBitmap(&image, false);
  EXPECT_EQ(CountNot(kWhite), 0);
  EXPECT_EQ(view->GetDrawnCount(), 0);
}

TEST_F(Draw, HandledBeforeEventSkipsDrawingButAfterEventFires) {
  const int h = Add(ievkBOX, 5, 5, 20, 20);
  std::string log;
  RECT seen{};
  view->OnBeforeDrawObject = [&](void*, int hobj, TIEBitmap* dest, const RECT& r, bool alpha, bool& handled) {
    log += "before" + std::to_string(hobj) + (alpha ? "a" : "") + (dest == &image ? "" : "?") + " ";
    seen = r;
    handled = true;
  };
  view->OnAfterDrawObject = [&](void*, int hobj, TIEBitmap*, const RECT&, bool, bool&) {
    log += "after" + std::to_string(hobj) + " ";
  };
  view->DrawObjectsToBitmap(&image, false);
  EXPECT_EQ(log, "before" + std::to_string(h) + " after" + std::to_string(h) + " ");
  EXPECT_EQ(seen.left, 5);
  EXPECT_EQ(seen.bottom, 20);
  EXPECT_EQ(CountNot(kWhite), 0);
}

TEST_F(Draw, GreyTargetIsDrawnThroughAColourCopyAndStaysGrey) {
  TIEBitmap grey;
  grey.Allocate(20, 20, ie8g);
  grey.Fill(200);
  const int h = Add(ievkBOX, 2, 2, 9, 9);
  view->ObjectRecord(h)->BrushStyle = bsSolid;
  view->ObjectRecord(h)->BrushColor = kBlack;
  view->DrawObjectsToBitmap(&grey, false);
  EXPECT_EQ(grey.GetPixelFormat(), ie8g);
  EXPECT_EQ(grey.GetByte(5, 5), 0);
  EXPECT_EQ(grey.GetByte(2, 2), 0);
  EXPECT_EQ(grey.GetByte(15, 15), 200);
  EXPECT_EQ(grey.GetByte(10, 10), 200);
}

TEST_F(Draw, WithoutGdiPlusSoftAntialiasMergesFromADoubleSizeIntermediate) {
  const bool saved = IEGdiPlusEnabled;
  IEGdiPlusEnabled = false;
  Add(ievkLINE, 2, 2, 37, 20);
  view->DrawObjectsToBitmap(&image, true);
  IEGdiPlusEnabled = saved;
  ASSERT_NE(view->GetIntermediate(), nullptr);
  EXPECT_EQ(view->GetIntermediate()->GetImageWidth(), 80);
  EXPECT_EQ(view->GetIntermediate()->GetImageHeight(), 60);
  EXPECT_FALSE(view->GetSoftAntialias());  // restored after the call
  // the line's pixels are greys between black and white, none beyond its box
  int partial = 0, dark = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const TIERGB p = image.GetPixelRGB(x, y);
      if (p.r != 255) {
        EXPECT_TRUE(x >= 1 && x <= 38 && y >= 1 && y <= 21) << x << "," << y;
        ++dark;
        if (p.r > 0) ++partial;
        EXPECT_EQ(p.r, p.g);
      }
    }
  EXPECT_GT(dark, 30);
  EXPECT_GT(partial, 10);
}

TEST_F(Draw, BitmapObjectFillsItsBoxStraightOrThroughTheIntermediate) {
  TIEBitmap red;
  red.Allocate(2, 2, ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) red.SetRGB(x, y, Rgb(kRed));
  for (const bool throughIntermediate : {false, true}) {
    view->RemoveAllObjects();
    Fill(kWhite);
    const int h = Add(ievkBITMAP, 5, 6, 14, 15);
    view->SetObjBitmap(h, &red);
    TIEVObjectRecord* r = view->ObjectRecord(h);
    r->BitmapBorder = true;
    r->Highlight = throughIntermediate;  // any alpha work takes the intermediate road
    view->DrawObjectsToBitmap(&image, false);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool inside = x >= 5 && x <= 14 && y >= 6 && y <= 15;
        const TColor want = inside ? kRed : kWhite;  // the opaque bitmap covers its frame
        ASSERT_EQ(At(x, y), want) << x << "," << y << " " << throughIntermediate;
      }
  }
}

TEST_F(Draw, ShadowFallsByItsOffsetOutsideTheBox) {
  const int h = Add(ievkBOX, 5, 5, 14, 14);
  TIEVObjectRecord* r = view->ObjectRecord(h);
  r->PenColor = kRed;
  r->BrushColor = kRed;
  r->BrushStyle = bsSolid;
  r->Shadow.Enabled = true;
  r->Shadow.OffsetX = 4;
  r->Shadow.OffsetY = 4;
  r->Shadow.Radius = 1;
  view->DrawObjectsToBitmap(&image, false);
  EXPECT_EQ(At(10, 10), kRed);
  const TIERGB below = image.GetPixelRGB(16, 16);
  EXPECT_LT(below.r, 200);  // shadow below and to the right of the box
  EXPECT_EQ(below.r, below.b);
  EXPECT_EQ(At(2, 2), kWhite);    // none above and to the left
  EXPECT_EQ(At(35, 25), kWhite);  // nor far away
}

TEST_F(Draw, MemoWritesItsTextInsideTheBoxAndKeepsIt) {
  const int h = Add(ievkMEMO, 2, 2, 37, 27);
  TIEVObjectRecord* r = view->ObjectRecord(h);
  r->Text = "Wm Wm";
  r->Font = std::make_unique<LOGFONTA>(*view->ObjectRecord(IEV_TEMPLATE)->Font);
  r->Font->lfHeight = -12;
  r->BrushStyle = bsClear;
  r->MemoBorderStyle = psClear;
  view->DrawObjectsToBitmap(&image, false);
  EXPECT_EQ(r->Text, "Wm Wm");
  EXPECT_GT(CountNot(kWhite), 10);
  for (int x = 0; x < 40; ++x) EXPECT_EQ(At(x, 0), kWhite) << x;
  for (int y = 0; y < 30; ++y) EXPECT_EQ(At(39, y), kWhite) << y;
}

TEST_F(Draw, AntialiasedDiagonalHasSoftEdgesAlongTheLine) {
  // the canvas's smoothing differs between platforms: only the shape of the result is checked
  view->SetObjAntialias(true);
  Add(ievkLINE, 2, 2, 37, 20);
  view->DrawObjectsToBitmap(&image, false);
  int partial = 0, dark = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const TIERGB p = image.GetPixelRGB(x, y);
      if (p.r == 255) continue;
      ++dark;
      partial += p.r > 0;
      EXPECT_TRUE(x >= 0 && x <= 39 && y >= 0 && y <= 22) << x << "," << y;
      // close to the line y = 2 + (x - 2) * 18 / 35
      EXPECT_LE(std::abs((y - 2) * 35 - (x - 2) * 18), 3 * 35) << x << "," << y;
    }
  EXPECT_GT(dark, 30);
  EXPECT_LE(partial, dark);  // how many edge pixels are soft is the platform's affair
}

TEST_F(Draw, FastDrawingDrawsStraightButBitmapRenderingNeverDoes) {
  const int h = Add(ievkTEXT, 5, 5, 20, 20);
  view->ObjectRecord(h)->Transparency = 100;
  view->FastDrawing = true;
  view->DrawObjectsTo(&image, true, IEV_ALL, false);
  EXPECT_EQ(view->GetIntermediate(), nullptr);
  view->DrawObjectsToBitmap(&image, false);  // full quality whatever the button does
  EXPECT_NE(view->GetIntermediate(), nullptr);
  EXPECT_TRUE(view->FastDrawing);
}

TEST(DrawInView, ClientCoordinatesFollowZoomAndSkipWhatIsNotVisible) {
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBounds(20, 20, 400, 400);
  TImageryVect* view = New<TImageryVect>(form);
  view->SetParent(form);
  view->SetBorderStyleValue(bsNone);
  view->SetBounds(0, 0, 200 + IEScrollBarX, 200 + IEScrollBarY);
  view->GetIEBitmap()->Allocate(300, 300, ie24RGB);
  view->UpdateView();
  view->SetZoom(200);
  view->SetObjAntialias(false);
  TIEBitmap back;
  back.Allocate(200, 200, ie24RGB);
  back.SetLocation(ieTBitmap);
  back.Fill(255);
  TIEVObjectRecord rec;
  rec.Kind = ievkBOX;
  rec.BrushStyle = bsSolid;
  rec.BrushColor = 0;
  rec.PenColor = 0;
  rec.PenWidth = 1;
  const int seen = view->AddObject(rec);
  TIEVObjectRecord* r = view->ObjectRecord(seen);
  const int ox = view->ClientToImageX(0), oy = view->ClientToImageY(0);
  r->X1 = ox + 10, r->Y1 = oy + 10, r->X2 = ox + 20, r->Y2 = oy + 20;
  rec.X1 = ox + 250, rec.Y1 = oy + 250, rec.X2 = ox + 260, rec.Y2 = oy + 260;  // far outside the viewport
  view->AddObject(rec);
  view->DrawObjectsTo(&back, false, IEV_ALL, false);
  EXPECT_EQ(view->GetDrawnCount(), 1);
  EXPECT_EQ(r->DrawnMargin, 2);  // the pen width grows with the zoom
  const int cx = view->ImageToClientX(ox + 15), cy = view->ImageToClientY(oy + 15);
  EXPECT_EQ(back.GetPixelRGB(cx, cy).r, 0);
  EXPECT_EQ(back.GetPixelRGB(view->ImageToClientX(ox + 21) + 3, cy).r, 255);
  EXPECT_EQ(back.GetPixelRGB(view->ImageToClientX(ox + 10) - 3, cy).r, 255);
  EXPECT_GE(r->DrawnBox.right - r->DrawnBox.left, 19);  // twenty image pixels at 200 %
  form->Free();
}

}  // namespace

namespace {

// A borderless view of `viewSize` square client pixels on a form of its own (freed with the form)
// over a white image of `imageSize` square.
TImageryVect* ViewOnForm(TForm*& form, int formSize, int viewSize, int imageSize) {
  form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBounds(20, 20, formSize, formSize);
  TImageryVect* view = New<TImageryVect>(form);
  view->SetParent(form);
  view->SetBorderStyleValue(bsNone);
  view->SetBounds(0, 0, viewSize, viewSize);
  view->GetIEBitmap()->Allocate(imageSize, imageSize, ie24RGB);
  view->GetIEBitmap()->Fill(double(0xFFFFFF));
  return view;
}

TEST(DrawInView, ObjectsShowWhenTheViewPaints) {
  TForm* form = nullptr;
  TImageryVect* view = ViewOnForm(form, 300, 200, 100);
  view->SetObjAntialias(false);
  TIEVObjectRecord rec;
  rec.Kind = ievkBOX;
  rec.BrushStyle = bsSolid;
  rec.BrushColor = 0x0000FF;
  rec.PenColor = 0x0000FF;
  rec.X1 = 10, rec.Y1 = 10, rec.X2 = 30, rec.Y2 = 30;
  view->AddObject(rec);
  view->UpdateView();
  form->Show();
  UpdateWindow(view->GetHandle());
  ui::TBitmap* back = view->GetBackBufferBitmap();
  ASSERT_NE(back, nullptr);
  GdiFlush();
  const int cx = view->ImageToClientX(20), cy = view->ImageToClientY(20);
  EXPECT_EQ(GetPixel(back->Canvas()->GetHandle(), cx, cy), RGB(255, 0, 0)) << "the box in the back buffer";
  EXPECT_EQ(GetPixel(back->Canvas()->GetHandle(), view->ImageToClientX(60), cy), RGB(255, 255, 255));
  view->HideObjects = true;
  view->UpdateView();
  UpdateWindow(view->GetHandle());
  GdiFlush();
  EXPECT_EQ(GetPixel(back->Canvas()->GetHandle(), cx, cy), RGB(255, 255, 255)) << "hidden objects are not drawn";
  form->Free();
}

TEST_F(Draw, BitmapResampleFilterSmoothsUnlessADragChangesObjects) {
  // two pixels, black and white, stretched over 20: a filter makes greys between them
  TIEBitmap two;
  two.Allocate(2, 1, ie24RGB);
  two.SetRGB(0, 0, Rgb(kBlack));
  two.SetRGB(1, 0, Rgb(kWhite));
  const int h = Add(ievkBITMAP, 10, 5, 29, 14);
  view->SetObjBitmap(h, &two);
  auto greys = [&] {
    int n = 0;
    for (int x = 10; x <= 29; ++x) n += At(x, 10) != kBlack && At(x, 10) != kWhite;
    return n;
  };
  struct Case {
    TResampleFilter Filter;
    bool Dragging;
    bool Smooth;
  };
  for (const Case c : {Case{rfNone, false, false}, Case{rfTriangle, false, true}, Case{rfTriangle, true, false}}) {
    Fill(kWhite);
    view->SetBitmapResampleFilter(c.Filter);
    view->NoResampleWhileDragging = c.Dragging;
    view->DrawObjectsToBitmap(&image, false);
    EXPECT_EQ(At(10, 10), kBlack) << int(c.Filter) << c.Dragging;
    if (c.Smooth) EXPECT_GT(greys(), 3) << int(c.Filter);
    else EXPECT_EQ(greys(), 0) << int(c.Filter) << c.Dragging;
  }
}

TEST_F(Draw, GripPictureReplacesTheGripsAndSetsTheirSize) {
  TBitmap pic;
  pic.SetPixelFormat(pf24bit);
  pic.SetSize(8, 4);
  pic.Canvas()->Brush()->SetColor(kRed);
  pic.Canvas()->FillRect(RECT{0, 0, 8, 4});
  TPicture picture;
  picture.SetGraphic(&pic);
  view->SetObjGripImage(&picture);
  EXPECT_EQ(view->GripSize, 4);
  view->GetIEBitmap()->Allocate(50, 50, ie24RGB);
  view->UpdateView();
  const int h = Add(ievkLINE, 10, 10, 30, 30);
  view->SelectObject(h);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(50, 50);
  target.Canvas()->Brush()->SetColor(kWhite);
  target.Canvas()->FillRect(RECT{0, 0, 50, 50});
  view->DrawSelectionGrips(target.Canvas());
  GdiFlush();
  const int gx = view->ImageToClientX(10), gy = view->ImageToClientY(10);
  HDC dc = target.Canvas()->GetHandle();
  EXPECT_EQ(GetPixel(dc, gx, gy), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, gx - 4, gy - 2), RGB(255, 0, 0));  // the picture's top-left corner
  EXPECT_EQ(GetPixel(dc, gx - 5, gy), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(dc, gx, gy + 3), RGB(255, 255, 255));
}

}  // namespace

namespace {

// A translucent text box goes through the intermediate, which is prepared only around the box: the
// frame and the fill must still be merged whole, also where the box leaves the view and where the pen
// keeps its width at a small zoom, and nothing may be merged around them.
TEST(DrawInView, TranslucentTextBoxMergesWholeAtTheViewEdges) {
  TForm* form = nullptr;
  TImageryVect* view = ViewOnForm(form, 400, 200, 1200);
  view->UpdateView();
  form->Show();
  view->SetObjAntialias(false);
  struct Case {
    double zoom;
    bool zoomWidths;
    int penWidth;
    RECT client;  // the box in client pixels
  };
  const Case kCases[] = {
      {100, true, 3, {175, 170, 230, 240}},  // over the right and bottom edges
      {100, true, 3, {-10, -12, 30, 25}},    // over the left and top edges
      {200, true, 5, {-30, 40, 20, 80}},     // a pen ten pixels wide
      {25, false, 80, {60, 60, 100, 90}},    // a pen of eighty pixels at a quarter size
  };
  for (const Case& k : kCases) {
    view->SetZoom(k.zoom);
    view->SetViewOrigin(0, 0);
    view->SetZoomObjectsWidth(k.zoomWidths);
    view->RemoveAllObjects();
    TIEVObjectRecord rec;
    rec.Kind = ievkTEXT;
    rec.PenColor = rec.BrushColor = 0x0000FF;
    rec.BrushStyle = bsSolid;
    rec.PenWidth = k.penWidth;
    rec.Transparency = 128;
    rec.X1 = view->ClientToImageX(k.client.left), rec.Y1 = view->ClientToImageY(k.client.top);
    rec.X2 = view->ClientToImageX(k.client.right), rec.Y2 = view->ClientToImageY(k.client.bottom);
    view->AddObject(rec);
    const RECT box{view->ImageToClientX(rec.X1), view->ImageToClientY(rec.Y1), view->ImageToClientX(rec.X2),
                   view->ImageToClientY(rec.Y2)};
    const int half = k.zoomWidths ? int(k.penWidth * k.zoom / 100) / 2 : k.penWidth / 2;
    TIEBitmap back;
    back.Allocate(200, 200, ie24RGB);
    back.SetLocation(ieTBitmap);
    back.Fill(double(0xFFFFFF));
    view->DrawObjectsTo(&back, false, IEV_ALL, false);
    int blended = 0;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; ++x) {
        // how far the pixel lies outside the box across and along (0 inside); corners may be round
        const int dx = std::max({int(box.left) - x, x - int(box.right), 0});
        const int dy = std::max({int(box.top) - y, y - int(box.bottom), 0});
        const int d = std::max(dx, dy);
        const TIERGB p = back.GetPixelRGB(x, y);
        if (d >= half + 2) {
          ASSERT_EQ(p.g, 255) << "nothing around the box: " << x << "," << y << " zoom " << k.zoom;
        } else if (d == 0 || (std::min(dx, dy) == 0 && d + 2 <= half)) {
          ASSERT_EQ(p.r, 255) << x << "," << y << " zoom " << k.zoom;
          ASSERT_NEAR(p.g, 127, 3) << "frame and fill half red: " << x << "," << y << " zoom " << k.zoom;
          ++blended;
        }
      }
    EXPECT_GT(blended, 100) << k.zoom;
  }
  form->Free();
}

}  // namespace
