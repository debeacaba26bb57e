// The wide panel paints its caption itself: wide, on one line centred vertically, aligned inside the
// bevels.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelControls.h"
#include "VelForms.h"
#include "VelExtCtrls.h"
#include "published.h"
#include "surface.h"
#include "uiforms.h"
#include "uithemes.h"

using namespace ui;

namespace {

struct Painted {
  std::vector<COLORREF> pixels;
  RECT dark;  // bounding box of the caption's dark pixels (the bevels are white and grey)
};

// The panel painted into a memory bitmap through its own paint handler.
Painted Paint(TWinControl* control, int w, int h) {
  MemorySurface surface(w, h);
  SendMessageW(control->GetHandle(), WM_PAINT, reinterpret_cast<WPARAM>(surface.dc()), 0);
  return {surface.Pixels(), surface.Box(IsDark, 3)};
}

TEST(VelPanel, PaintsItsWideCaptionCentredOnOneLine) {
  TVelForm* form = TCustomForm::CreateNew<TVelForm>(nullptr);
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

  // Right to left: the left-justified caption goes to the right edge.
  panel->SetAlignment(taLeftJustify);
  panel->SetBiDiMode(bdRightToLeft);
  const Painted mirrored = Paint(panel, 200, 120);
  EXPECT_GE(mirrored.dark.right, 190);
  form->Free();
}

TEST(VelPanel, PublishesItsWholeSet) {
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelPanel::StaticClassInfo,
                        {"Align", "Alignment", "Anchors", "AutoSize", "BevelEdges", "BevelInner", "BevelKind",
                         "BevelOuter", "BevelWidth", "BiDiMode", "BorderWidth", "BorderStyle", "Caption", "Color",
                         "Constraints", "Ctl3D", "UseDockManager", "DockSite", "DragCursor", "DragKind", "DragMode",
                         "Enabled", "FullRepaint", "Font", "Hint", "Locked", "ParentBiDiMode", "ParentBackground",
                         "ParentColor", "ParentCtl3D", "ParentFont", "ParentShowHint", "PopupMenu", "ShowHint",
                         "TabOrder", "TabStop", "Visible", "OnCanResize", "OnClick", "OnConstrainedResize",
                         "OnContextPopup", "OnDockDrop", "OnDockOver", "OnDblClick", "OnDragDrop", "OnDragOver",
                         "OnEndDock", "OnEndDrag", "OnEnter", "OnExit", "OnGetSiteInfo", "OnMouseDown", "OnMouseMove",
                         "OnMouseUp", "OnResize", "OnStartDock", "OnStartDrag", "OnUnDock"}));
}

}  // namespace

class TPanelLayoutForm : public TVelForm {
  UI_DECLARE_CLASS(TPanelLayoutForm, TVelForm)
 public:
  TVelPanel* Panel1 = nullptr;
};
static std::vector<TFieldInfo> PanelFormFields() { return {PublishedField("Panel1", &TPanelLayoutForm::Panel1)}; }
UI_IMPLEMENT_CLASS(TPanelLayoutForm, TVelForm, nullptr, nullptr, PanelFormFields, nullptr)

namespace {

// A layout that sets Locked loads, and the panel keeps the value.
TEST(VelPanel, ALayoutSettingLockedLoads) {
  TPanelLayoutForm* form = New<TPanelLayoutForm>(nullptr);
  ASSERT_NE(form->Panel1, nullptr);
  EXPECT_TRUE(form->Panel1->GetLocked());
  EXPECT_EQ(form->Panel1->GetCaptionText(), L"locked");
  form->Free();
}

TEST(VelPanel, WithThemesAPanelOnItsParentsBackgroundLeavesItsInsideUnpainted) {
  if (!ThemeServices().ThemesEnabled()) GTEST_SKIP() << "no visual themes: the panel always paints its colour";
  TVelForm* form = TCustomForm::CreateNew<TVelForm>(nullptr);
  form->SetBounds(20, 20, 400, 300);
  auto* panel = New<TVelPanel>(form);
  panel->SetParent(form);
  panel->SetBounds(8, 8, 100, 60);
  panel->SetColor(clBlue);
  form->Show();
  auto blue = [&] {
    const Painted p = Paint(panel, 100, 60);
    return std::count(p.pixels.begin(), p.pixels.end(), RGB(0, 0, 255));
  };
  EXPECT_GT(blue(), 80 * 40);
  panel->SetParentBackground(true);
  EXPECT_EQ(0, blue());
  form->Free();
}

}  // namespace
