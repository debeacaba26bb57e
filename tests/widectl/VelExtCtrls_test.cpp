// The wide panel paints its caption itself: wide, on one line centred vertically, aligned inside the
// bevels.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "VelControls.h"
#include "VelExtCtrls.h"
#include "uiforms.h"

using namespace ui;

namespace {

class THostForm : public TForm {
  UI_DECLARE_CLASS(THostForm, TForm)
 protected:
  void CreateWindowHandle(const TCreateParams& p) override { CreateUnicodeWindowHandle(this, p, L""); }
};

}  // namespace

UI_IMPLEMENT_CLASS(THostForm, TForm, nullptr, nullptr, nullptr, nullptr)

namespace {

struct Painted {
  std::vector<COLORREF> pixels;
  RECT dark;  // bounding box of the text's dark pixels
};

// The panel painted into a memory bitmap through its own paint handler.
Painted Paint(TWinControl* control, int w, int h) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageW(control->GetHandle(), WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  Painted p;
  p.dark = {w, h, -1, -1};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      p.pixels.push_back(c);
      // The bevels are white and grey; the caption is black.
      if (x > 2 && y > 2 && x < w - 3 && y < h - 3 && GetRValue(c) < 60 && GetGValue(c) < 60 && GetBValue(c) < 60) {
        p.dark.left = std::min<LONG>(p.dark.left, x);
        p.dark.top = std::min<LONG>(p.dark.top, y);
        p.dark.right = std::max<LONG>(p.dark.right, x + 1);
        p.dark.bottom = std::max<LONG>(p.dark.bottom, y + 1);
      }
    }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return p;
}

TEST(VelPanel, PaintsItsWideCaptionCentredOnOneLine) {
  THostForm* form = TCustomForm::CreateNew<THostForm>(nullptr);
  form->SetBounds(20, 20, 400, 300);
  auto* panel = New<TVelPanel>(form);
  panel->SetParent(form);
  panel->SetBounds(8, 8, 200, 120);
  form->Show();
  panel->SetCaptionText(L"\u4E2D\u6587 \u263A");
  ASSERT_TRUE(IsWindowUnicode(panel->GetHandle()));
  const Painted wide = Paint(panel, 200, 120);
  ASSERT_GT(wide.dark.right, wide.dark.left);
  EXPECT_NEAR((wide.dark.top + wide.dark.bottom) / 2.0, 60.0, 4.0);
  EXPECT_NEAR((wide.dark.left + wide.dark.right) / 2.0, 100.0, 4.0);

  // The 8-bit form of the caption paints differently: the wide text is what shows.
  panel->SetCaptionText(AnsiToWide(WideToAnsi(L"\u4E2D\u6587 \u263A")));
  EXPECT_NE(Paint(panel, 200, 120).pixels, wide.pixels);

  panel->SetCaptionText(L"\u4E2D\u6587 \u263A");
  panel->SetAlignment(taRightJustify);
  const Painted right = Paint(panel, 200, 120);
  EXPECT_GE(right.dark.right, 190);
  EXPECT_LE(right.dark.right, 199);  // inside the bevel
  form->Free();
}

}  // namespace
