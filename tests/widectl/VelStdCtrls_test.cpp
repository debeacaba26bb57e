// The wide standard controls driven through their windows: edit text, change event, password
// character and selection; label caption, drawing and accelerator; button and group box captions
// and accelerators. Texts hold characters outside the system code page.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelControls.h"
#include "VelForms.h"
#include "VelStdCtrls.h"
#include "published.h"
#include "surface.h"
#include "uiforms.h"
#include "uithemes.h"

using namespace ui;

namespace {

const wchar_t kMixed[] = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC \u263A \u4E2D\u6587";

std::wstring WindowText(HWND h) {
  wchar_t buffer[256] = {};
  SendMessageW(h, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

// The pixels of a graphic control painted onto white.
std::vector<COLORREF> Render(TGraphicControl* control) {
  MemorySurface surface(control->GetWidth(), control->GetHeight());
  control->PaintTo(surface.dc());
  return surface.Pixels();
}

class StdCtrls : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TVelForm>(nullptr);
    form->SetBounds(20, 20, 400, 300);
  }
  void TearDown() override { form->Free(); }
  template <class T>
  T* Add(int left, int top, int width, int height) {
    T* c = New<T>(form);
    c->SetParent(form);
    c->SetBounds(left, top, width, height);
    return c;
  }
  TVelForm* form = nullptr;
};

TEST_F(StdCtrls, EditKeepsWideTextAndReportsTheChangeBeforeReturning) {
  auto* edit = Add<TVelEdit>(8, 8, 200, 24);
  std::vector<std::wstring> seen;
  edit->OnChange = [&](TObject*) { seen.push_back(edit->GetText()); };
  HWND h = edit->GetHandle();
  ASSERT_TRUE(IsWindowUnicode(h));
  edit->SetText(kMixed);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], kMixed);
  EXPECT_EQ(WindowText(h), kMixed);
  EXPECT_EQ(edit->GetText(), kMixed);
  edit->SetText(kMixed);  // unchanged: no event
  EXPECT_EQ(seen.size(), 1u);

  // Text typed into the window (here: set through the system) reads back wide, with its event.
  SetWindowTextW(h, L"\u4E2D x");
  EXPECT_EQ(edit->GetText(), L"\u4E2D x");
  EXPECT_EQ(seen.size(), 2u);

  // The selection counts UTF-16 units.
  edit->SetText(kMixed);
  SendMessageW(h, EM_SETSEL, 9, 12);
  EXPECT_EQ(edit->GetWideSelStart(), 9);
  EXPECT_EQ(edit->GetWideSelLength(), 3);
  EXPECT_EQ(edit->GetWideSelText(), L"\u263A \u4E2D");
  edit->SetWideSelStart(1);
  edit->SetWideSelLength(2);
  EXPECT_EQ(edit->GetWideSelText(), L"\u03BB\u03BB");
}

TEST_F(StdCtrls, EditMasksWithAWidePasswordCharacter) {
  auto* edit = Add<TVelEdit>(8, 8, 200, 24);
  edit->SetPasswordCharText(L'\u25CF');
  EXPECT_EQ(edit->GetPasswordChar(), '*');  // the base's 8-bit stand-in
  HWND h = edit->GetHandle();
  EXPECT_EQ(SendMessageW(h, EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
  edit->RecreateWnd();  // a new window takes the wide character again
  h = edit->GetHandle();
  EXPECT_EQ(SendMessageW(h, EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
  EXPECT_EQ(edit->GetPasswordCharText(), L'\u25CF');
  // A character set through the base wins on the next read.
  edit->SetPasswordChar('#');
  EXPECT_EQ(edit->GetPasswordCharText(), L'#');
}

TEST_F(StdCtrls, LabelDrawsItsWideCaption) {
  form->Show();
  auto* wide = Add<TVelLabel>(8, 8, 10, 10);
  auto* narrow = Add<TVelLabel>(8, 40, 10, 10);
  wide->SetCaptionText(kMixed);
  narrow->SetCaptionText(AnsiToWide(WideToAnsi(kMixed)));  // what an 8-bit label shows
  EXPECT_EQ(wide->GetCaptionText(), kMixed);
  EXPECT_EQ(wide->GetCaption(), WideToAnsi(kMixed));
  ASSERT_GT(wide->GetWidth(), 10);  // measured with the wide text
  narrow->SetBounds(narrow->GetLeft(), narrow->GetTop(), wide->GetWidth(), wide->GetHeight());
  const std::vector<COLORREF> a = Render(wide), b = Render(narrow);
  size_t dark = 0;
  for (COLORREF c : a) dark += c != RGB(255, 255, 255) && GetRValue(c) < 128;
  EXPECT_GT(dark, 20u);
  EXPECT_NE(a, b);

  // A lone "&" keeps one line of height when the label sizes itself.
  auto* amp = Add<TVelLabel>(8, 80, 10, 10);
  amp->SetCaptionText(L"&");
  EXPECT_EQ(amp->GetHeight(), wide->GetHeight());
  EXPECT_GT(amp->GetWidth(), 0);
}

TEST_F(StdCtrls, AcceleratorsMatchWideCaptions) {
  auto* edit = Add<TVelEdit>(8, 8, 100, 24);
  auto* label = Add<TVelLabel>(8, 40, 100, 20);
  auto* button = Add<TVelButton>(8, 70, 100, 24);
  auto* group = Add<TVelGroupBox>(120, 8, 200, 150);
  auto* inner = New<TVelEdit>(form);
  inner->SetParent(group);
  inner->SetBounds(10, 30, 100, 24);
  form->Show();

  label->SetCaptionText(L"&\u4E2D label");
  label->SetFocusControl(edit);
  button->SetCaptionText(L"Go &\u263A");
  group->SetCaptionText(L"&\u03A9 group");
  int clicks = 0;
  button->OnClick = [&](TObject*) { ++clicks; };

  EXPECT_EQ(WindowText(button->GetHandle()), L"Go &\u263A");
  EXPECT_EQ(WindowText(group->GetHandle()), L"&\u03A9 group");

  EXPECT_EQ(button->Perform(CM_DIALOGCHAR, 0x263A, 0), 1);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(button->Perform(CM_DIALOGCHAR, '?', 0), 0);  // the 8-bit caption's "?" is no hot key
  EXPECT_EQ(clicks, 1);

  EXPECT_EQ(label->Perform(CM_DIALOGCHAR, 0x4E2D, 0), 1);
  EXPECT_EQ(GetFocus(), edit->GetHandle());

  // Lower case matches the upper-case hot key.
  EXPECT_EQ(group->Perform(CM_DIALOGCHAR, 0x03C9, 0), 1);
  EXPECT_EQ(GetFocus(), inner->GetHandle());
}

TEST_F(StdCtrls, CommonControlsNeedAClassName) {
  auto* edit = Add<TVelEdit>(8, 8, 100, 24);
  TCreateParams params;
  EXPECT_THROW(CreateUnicodeHandle_ComCtl(edit, params, L""), EAssertionFailed);
}

TEST(StdCtrlsPublished, EditLabelAndGroupBoxPublishTheirWholeSets) {
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelEdit::StaticClassInfo,
                        {"Align", "Anchors", "AutoSelect", "AutoSize", "BevelEdges", "BevelInner", "BevelKind",
                         "BevelOuter", "BevelWidth", "BiDiMode", "BorderStyle", "CharCase", "Color", "Constraints", "Ctl3D",
                         "DragCursor", "DragKind", "DragMode", "Enabled", "Font", "HideSelection", "Hint", "ImeMode",
                         "ImeName", "MaxLength", "OEMConvert", "ParentBiDiMode", "ParentColor", "ParentCtl3D",
                         "ParentFont", "ParentShowHint", "PasswordChar", "PopupMenu", "ReadOnly", "ShowHint", "TabOrder",
                         "TabStop", "Text", "Visible", "OnChange", "OnClick", "OnContextPopup", "OnDblClick",
                         "OnDragDrop", "OnDragOver", "OnEndDock", "OnEndDrag", "OnEnter", "OnExit", "OnKeyDown",
                         "OnKeyPress", "OnKeyUp", "OnMouseDown", "OnMouseMove", "OnMouseUp", "OnStartDock",
                         "OnStartDrag"}));
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelLabel::StaticClassInfo,
                        {"Align", "Alignment", "Anchors", "AutoSize", "BiDiMode", "Caption", "Color", "Constraints",
                         "DragCursor", "DragKind", "DragMode", "Enabled", "FocusControl", "Font", "Hint",
                         "ParentBiDiMode", "ParentColor", "ParentFont", "ParentShowHint", "PopupMenu", "ShowAccelChar",
                         "ShowHint", "Transparent", "Layout", "Visible", "WordWrap", "OnClick", "OnContextPopup",
                         "OnDblClick", "OnDragDrop", "OnDragOver", "OnEndDock", "OnEndDrag", "OnMouseDown",
                         "OnMouseMove", "OnMouseUp", "OnMouseEnter", "OnMouseLeave", "OnStartDock", "OnStartDrag"}));
  EXPECT_EQ(std::vector<std::string>{},
            Unpublished(&TVelGroupBox::StaticClassInfo,
                        {"Align", "Anchors", "BiDiMode", "Caption", "Color", "Constraints", "Ctl3D", "DockSite",
                         "DragCursor", "DragKind", "DragMode", "Enabled", "Font", "Hint", "ParentBackground",
                         "ParentBiDiMode", "ParentColor", "ParentCtl3D", "ParentFont", "ParentShowHint", "PopupMenu",
                         "ShowHint", "TabOrder", "TabStop", "Visible", "OnClick", "OnContextPopup", "OnDblClick",
                         "OnDragDrop", "OnDockDrop", "OnDockOver", "OnDragOver", "OnEndDock", "OnEndDrag", "OnEnter",
                         "OnExit", "OnGetSiteInfo", "OnMouseDown", "OnMouseMove", "OnMouseUp", "OnStartDock",
                         "OnStartDrag", "OnUnDock"}));
}

TEST_F(StdCtrls, FlatGroupBoxFramesInTheWindowFrameColourAndRightToLeftMovesTheCaption) {
  auto* group = Add<TVelGroupBox>(8, 8, 200, 120);
  form->Show();
  auto paint = [&] {
    MemorySurface surface(200, 120);
    SendMessageW(group->GetHandle(), WM_PAINT, reinterpret_cast<WPARAM>(surface.dc()), 0);
    return surface.Box(IsDark);
  };
  if (!ThemeServices().ThemesEnabled()) {  // the themed frame is the theme's, whatever Ctl3D says
    const RECT sunken = paint();
    EXPECT_LT(sunken.right, sunken.left) << "the 3-D frame has no dark line";
    group->SetCtl3D(false);
    const RECT flat = paint();
    EXPECT_EQ(0, flat.left);
    EXPECT_EQ(200, flat.right);
    EXPECT_EQ(120, flat.bottom);
    group->SetCtl3D(true);
  }
  group->SetCaptionText(L"\u0416\u0416");
  const RECT left = paint();
  group->SetBiDiMode(bdRightToLeft);
  const RECT right = paint();
  ASSERT_GT(left.right, left.left);
  EXPECT_LT(left.right, 100);
  EXPECT_GT(right.left, 100);
}

}  // namespace
