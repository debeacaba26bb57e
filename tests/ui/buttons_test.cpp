// Glyph buttons: the state images of the glyph object, built while painting, as the screen shows them,
// and the layout of glyph and caption.
#include <gtest/gtest.h>

#include "uibuttons.h"
#include "uiforms.h"
#include "uiimglist.h"

using namespace ui;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 160, 0), kBlue = RGB(0, 0, 255);

// A strip of `colors.size()` 16x16 images on white (the lower-left pixel: transparent), each with an
// 8x8 block of its colour in the middle.
void MakeStrip(TBitmap* b, std::initializer_list<COLORREF> colors) {
  b->SetPixelFormat(pf24bit);
  b->SetSize(16 * static_cast<int>(colors.size()), 16);
  b->Canvas()->Brush()->SetColor(clWhite);
  b->Canvas()->FillRect(RECT{0, 0, b->GetWidth(), 16});
  int x = 0;
  for (COLORREF c : colors) {
    b->Canvas()->Brush()->SetColor(static_cast<TColor>(c));
    b->Canvas()->FillRect(RECT{x + 4, 4, x + 12, 12});
    x += 16;
  }
}

class ButtonsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(120, 120, 240, 160);
  }
  void TearDown() override {
    if (form) form->Free();
  }
  static void Pump() {
    for (int i = 0; i < 3; ++i) {
      Application->ProcessMessages();
      Sleep(10);
    }
  }
  // A pixel of window `h` as the screen shows it, read back through a window DC.
  static COLORREF ScreenPixel(HWND h, int x, int y) {
    UpdateWindow(h);
    HDC dc = GetDC(h);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, 1, 1);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, 1, 1, dc, x, y, SRCCOPY);
    COLORREF c = GetPixel(mem, 0, 0);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(h, dc);
    return c;
  }
  TForm* form = nullptr;
};

TEST_F(ButtonsTest, BitmapButtonPaintsTheGlyphOfTheUpDisabledAndDownStates) {
  TBitBtn* b = New<TBitBtn>(form);
  b->SetParent(form);
  b->SetBounds(20, 20, 60, 30);
  MakeStrip(b->GetGlyph(), {kRed, kGreen, kBlue});
  EXPECT_EQ(3, b->GetNumGlyphs());  // a strip of square images says how many it holds
  form->Show();
  Pump();
  HWND h = b->GetHandle();
  EXPECT_EQ(kRed, ScreenPixel(h, 30, 15));
  EXPECT_NE(kRed, ScreenPixel(h, 2, 15));  // the face around the glyph
  SendMessageA(h, BM_SETSTATE, TRUE, 0);
  Pump();
  EXPECT_EQ(kBlue, ScreenPixel(h, 31, 16));  // pressed: moved one pixel down and right
  SendMessageA(h, BM_SETSTATE, FALSE, 0);
  b->SetEnabled(false);
  Pump();
  EXPECT_EQ(kGreen, ScreenPixel(h, 30, 15));
  TButtonGlyph* g = b->ButtonGlyph();
  EXPECT_GE(g->StateIndex(bsUp), 0);
  EXPECT_GE(g->StateIndex(bsDisabled), 0);
  EXPECT_GE(g->StateIndex(bsDown), 0);
  EXPECT_EQ(-1, g->StateIndex(bsExclusive));
}

TEST_F(ButtonsTest, StateImagesAreBuiltWhenFirstPaintedAndDroppedWhenTheBitmapChanges) {
  TSpeedButton* sb = New<TSpeedButton>(form);
  sb->SetParent(form);
  sb->SetBounds(10, 10, 40, 30);
  MakeStrip(sb->GetGlyph(), {RGB(0, 0, 0)});
  TButtonGlyph* g = sb->ButtonGlyph();
  for (TButtonState s : {bsUp, bsDisabled, bsDown, bsExclusive}) EXPECT_EQ(-1, g->StateIndex(s));
  form->Show();
  Pump();
  HWND h = form->GetHandle();
  EXPECT_EQ(RGB(0, 0, 0), ScreenPixel(h, 30, 25));
  EXPECT_GE(g->StateIndex(bsUp), 0);
  EXPECT_EQ(-1, g->StateIndex(bsDisabled));
  ASSERT_NE(nullptr, g->GlyphList());
  EXPECT_EQ(1, g->GlyphList()->Count());

  // One image only: the disabled one is an embossed copy, the dark block in the shadow colour over a
  // highlight copy moved one pixel down and right.
  sb->SetEnabled(false);
  Pump();
  EXPECT_GE(g->StateIndex(bsDisabled), 0);
  EXPECT_EQ(ColorToRGB(clBtnShadow), ScreenPixel(h, 30, 25));
  // The glyph's block spans 8 pixels centred in the button; its lower-right edge shows the highlight.
  POINT gp;
  RECT tr;
  HDC dc = GetDC(h);
  RECT face{0, 0, 40, 30};  // the face inside the frame, as the frame drawing gives it
  HDC scratch = CreateCompatibleDC(dc);
  HBITMAP sbmp = CreateCompatibleBitmap(dc, 40, 30);
  HGDIOBJ sold = SelectObject(scratch, sbmp);
  DrawFrameControl(scratch, &face, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT);
  SelectObject(scratch, sold);
  DeleteObject(sbmp);
  DeleteDC(scratch);
  LayoutGlyphButton(dc, face, sb->GetGlyph(), 1, "", blGlyphLeft, -1, 4, gp, tr);
  ReleaseDC(h, dc);
  EXPECT_EQ(ColorToRGB(clBtnHighlight), ScreenPixel(h, 10 + gp.x + 12, 10 + gp.y + 12));

  // Down with fewer than three images shows the up image; nothing new is built for it.
  EXPECT_EQ(g->CreateButtonGlyph(bsUp), g->CreateButtonGlyph(bsDown));
  EXPECT_EQ(2, g->GlyphList()->Count());

  sb->GetGlyph()->Canvas()->SetPixel(0, 0, RGB(1, 2, 3));  // drawing on the glyph changes it
  EXPECT_EQ(nullptr, g->GlyphList());
  for (TButtonState s : {bsUp, bsDisabled, bsDown, bsExclusive}) EXPECT_EQ(-1, g->StateIndex(s));
}

TEST_F(ButtonsTest, GroupedSpeedButtonsStayDownExclusivelyAndPaintTheirDownImage) {
  TSpeedButton* a = New<TSpeedButton>(form);
  TSpeedButton* b = New<TSpeedButton>(form);
  for (TSpeedButton* s : {a, b}) {
    s->SetParent(form);
    s->SetGroupIndex(1);
    MakeStrip(s->GetGlyph(), {kRed, kGreen, kBlue, kBlue});
  }
  a->SetBounds(10, 10, 40, 30);
  b->SetBounds(60, 10, 40, 30);
  form->Show();
  Pump();
  HWND h = form->GetHandle();
  EXPECT_EQ(kRed, ScreenPixel(h, 30, 25));
  a->SetDown(true);
  Pump();
  EXPECT_EQ(bsExclusive, a->State());
  EXPECT_EQ(kBlue, ScreenPixel(h, 31, 26));
  b->SetDown(true);
  Pump();
  EXPECT_FALSE(a->GetDown());
  EXPECT_EQ(kRed, ScreenPixel(h, 30, 25));
  a->SetDown(false);  // not allowed all up: the group keeps b down
  EXPECT_TRUE(b->GetDown());
}

TEST(GlyphLayout, GlyphAndCaptionPlacesFollowLayoutMarginAndSpacing) {
  TBitmap glyph;
  glyph.SetPixelFormat(pf24bit);
  glyph.SetSize(16, 16);
  HDC dc = CreateCompatibleDC(nullptr);
  RECT client{10, 5, 110, 45};  // 100 x 40
  SIZE text{};
  GetTextExtentPoint32A(dc, "Go", 2, &text);
  struct Case {
    TButtonLayout layout;
    int margin, spacing;
    const char* caption;
    POINT glyph;
    long textLeft;  // -1: not checked
  };
  const long tw = text.cx;
  const Case cases[] = {
      // No caption, margin and spacing -1: the glyph is centred.
      {blGlyphLeft, -1, -1, "", {10 + 42, 5 + 12}, -1},
      // Margin 4, spacing -1: the text is centred in the room right of the glyph.
      {blGlyphLeft, 4, -1, "Go", {10 + 4, 5 + 12}, 10 + 4 + 16 + (100 - 20 - tw) / 2},
      {blGlyphRight, 2, 3, "Go", {10 + 100 - 2 - 16, 5 + 12}, 10 + 100 - 2 - 16 - 3 - tw},
      {blGlyphTop, 5, 2, "", {10 + 42, 5 + 5}, -1},
      {blGlyphBottom, 5, 2, "", {10 + 42, 5 + 40 - 5 - 16}, -1},
  };
  for (const Case& c : cases) {
    POINT gp;
    RECT tr;
    LayoutGlyphButton(dc, client, &glyph, 1, c.caption, c.layout, c.margin, c.spacing, gp, tr);
    EXPECT_EQ(c.glyph.x, gp.x) << c.layout << " " << c.margin;
    EXPECT_EQ(c.glyph.y, gp.y) << c.layout << " " << c.margin;
    if (c.textLeft >= 0) {
      EXPECT_EQ(c.textLeft, tr.left) << c.layout;
      EXPECT_EQ(tw, tr.right - tr.left);
    }
  }
  DeleteDC(dc);
}

}  // namespace
