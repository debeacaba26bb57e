// Glyph buttons with wide captions painting: the glyph from the library's state images, laid out
// with the wide caption, and the caption drawn wide.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelButtons.h"
#include "surface.h"
#include "VelControls.h"
#include "VelForms.h"
#include "uiforms.h"

using namespace ui;

namespace {

const COLORREF kRed = RGB(255, 0, 0);

// A 16 x 16 red glyph; its lower-left pixel (white) is the transparent colour.
void MakeGlyph(TBitmap* glyph) {
  glyph->SetSize(16, 16);
  glyph->Canvas()->Brush()->SetColor(clRed);
  glyph->Canvas()->FillRect(RECT{0, 0, 16, 16});
  SetPixel(glyph->Canvas()->GetHandle(), 0, 15, RGB(255, 255, 255));
}

RECT RedBox(const MemorySurface& s) {
  return s.Box([](COLORREF c) { return c == kRed; });
}

class GlyphButtons : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TVelForm>(nullptr);
    form->SetBounds(20, 20, 300, 200);
    form->Show();
  }
  void TearDown() override { form->Free(); }
  TVelForm* form = nullptr;
};

TEST_F(GlyphButtons, SpeedButtonCentresItsGlyphWithoutCaption) {
  auto* button = New<TVelSpeedButton>(form);
  button->SetParent(form);
  button->SetBounds(8, 8, 40, 30);
  MakeGlyph(button->GetGlyph());
  button->SetMargin(-1);
  button->SetSpacing(-1);
  MemorySurface s(40, 30);
  button->PaintTo(s.dc());
  const RECT box = RedBox(s);
  // The frame takes 2 pixels (DFCS_ADJUSTRECT) on each side: the 16 x 16 glyph sits in the middle.
  EXPECT_EQ(box.right - box.left, 16);
  EXPECT_EQ(box.bottom - box.top, 16);
  EXPECT_NEAR((box.left + box.right) / 2.0, 20.0, 1.0);
  EXPECT_NEAR((box.top + box.bottom) / 2.0, 15.0, 1.0);
}

TEST_F(GlyphButtons, WideCaptionsAreDrawnBesideTheGlyph) {
  auto* wide = New<TVelSpeedButton>(form);
  wide->SetParent(form);
  wide->SetBounds(8, 8, 140, 30);
  MakeGlyph(wide->GetGlyph());
  wide->SetCaptionText(L"\u4E2D\u6587 \u263A");
  auto* narrow = New<TVelSpeedButton>(form);
  narrow->SetParent(form);
  narrow->SetBounds(8, 48, 140, 30);
  MakeGlyph(narrow->GetGlyph());
  narrow->SetCaptionText(AnsiToWide(WideToAnsi(L"\u4E2D\u6587 \u263A")));  // what 8-bit drawing shows
  MemorySurface a(140, 30), b(140, 30);
  wide->PaintTo(a.dc());
  narrow->PaintTo(b.dc());
  EXPECT_NE(a.Pixels(), b.Pixels());
  // Glyph on the left, margin 4: at x = 2 (frame) + 4.
  wide->SetMargin(4);
  MemorySurface c(140, 30);
  wide->PaintTo(c.dc());
  EXPECT_EQ(RedBox(c).left, 6);

  // Pressed without themes: glyph and caption move one pixel right and down.
  wide->SetGroupIndex(1);
  wide->SetDown(true);
  MemorySurface d(140, 30);
  wide->PaintTo(d.dc());
  EXPECT_EQ(RedBox(d).left, 7);
  EXPECT_EQ(RedBox(d).top, RedBox(c).top + 1);
}

TEST_F(GlyphButtons, BitBtnPaintsGlyphAndWideCaption) {
  auto* button = New<TVelBitBtn>(form);
  button->SetParent(form);
  button->SetBounds(8, 8, 140, 30);
  MakeGlyph(button->GetGlyph());
  button->SetCaptionText(L"\u03A9 \u263A go");
  HWND h = button->GetHandle();
  ASSERT_TRUE(IsWindowUnicode(h));
  wchar_t text[32] = {};
  GetWindowTextW(h, text, 32);
  EXPECT_EQ(std::wstring(text), L"\u03A9 \u263A go");

  // The owner-draw request as the system sends it, into a surface of the test.
  MemorySurface s(140, 30);
  DRAWITEMSTRUCT di = {};
  di.CtlType = ODT_BUTTON;
  di.itemAction = ODA_DRAWENTIRE;
  di.hwndItem = h;
  di.hDC = s.dc();
  di.rcItem = RECT{0, 0, 140, 30};
  SendMessageW(form->GetHandle(), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&di));
  const RECT box = RedBox(s);
  EXPECT_EQ(box.right - box.left, 16);
  size_t dark = 0;
  for (COLORREF c : s.Pixels()) dark += IsDark(c);
  EXPECT_GT(dark, 20u);  // the caption and the frame's dark edge

  // Alt with the wide hot key clicks it.
  button->SetCaptionText(L"&\u03A9 go");
  int clicks = 0;
  button->OnClick = [&](TObject*) { ++clicks; };
  EXPECT_EQ(button->Perform(CM_DIALOGCHAR, 0x03C9, 0), 1);
  EXPECT_EQ(clicks, 1);
}

}  // namespace
