// Buttons, dialog keys, glyph buttons, images, the default exception handler and the round trip of a
// form with controls through the layout writer and reader.
#include <gtest/gtest.h>

#include "formfixture.h"

#include "uibuttons.h"
#include "uicomctrls.h"
#include "uifiler.h"
#include "uiforms.h"
#include "uimenus.h"
#include "uithemes.h"

using namespace ui;

namespace {

// Callbacks of the system use its calling convention, which lambdas do not have on x86.
std::string boxText;
BOOL CALLBACK ReadBoxText(HWND h, LPARAM) {
  char text[256] = {};
  GetWindowTextA(h, text, sizeof text);
  if (strstr(text, "not a number")) boxText = text;
  return TRUE;
}
void CALLBACK CloseMessageBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = VisibleDialogBox();
  if (!box) return;
  EnumChildWindows(box, ReadBoxText, 0);
  KillTimer(nullptr, id);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

using ControlsTest = FormFixture;

TEST_F(ControlsTest, EnterPressesTheDefaultButtonAndEscapeTheCancelButton) {
  TEdit* edit = Add<TEdit>(8, 8, 100, 21);
  TButton* ok = Add<TButton>(8, 40, 75, 25);
  TButton* cancel = Add<TButton>(90, 40, 75, 25);
  ok->SetDefault(true);
  cancel->SetCancel(true);
  std::vector<std::string> clicks;
  ok->OnClick = [&](TObject*) { clicks.push_back("ok"); };
  cancel->OnClick = [&](TObject*) { clicks.push_back("cancel"); };
  form->Show();
  edit->SetFocus();
  Pump();
  PostMessageA(edit->GetHandle(), WM_KEYDOWN, VK_RETURN, 1);
  Pump();
  PostMessageA(edit->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 1);
  Pump();
  EXPECT_EQ((std::vector<std::string>{"ok", "cancel"}), clicks);
  // A real click on the button's window.
  SendMessageA(ok->GetHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(3u, clicks.size());
}

TEST_F(ControlsTest, ButtonModalResultEndsTheModalLoop) {
  TForm* dlg = TCustomForm::CreateNew<TForm>(form);
  TButton* b = New<TButton>(dlg);
  b->SetParent(dlg);
  b->SetModalResult(mrOk);
  TTimer* t = New<TTimer>(dlg);
  t->SetInterval(20);
  t->OnTimer = [&](TObject*) {
    t->SetEnabled(false);
    SendMessageA(b->GetHandle(), BM_CLICK, 0, 0);
  };
  EXPECT_EQ(mrOk, dlg->ShowModal());
}

TEST_F(ControlsTest, KeyHandlerCanChangeOrSwallowTheKey) {
  TEdit* edit = Add<TEdit>(8, 8, 100, 21);
  edit->OnKeyPress = [](TObject*, char& key) {
    if (key == 'a') key = 'b';
    if (key == 'x') key = 0;
  };
  form->Show();
  SendMessageA(edit->GetHandle(), WM_CHAR, 'a', 1);
  SendMessageA(edit->GetHandle(), WM_CHAR, 'x', 1);
  SendMessageA(edit->GetHandle(), WM_CHAR, 'c', 1);
  EXPECT_EQ("bc", edit->GetText());
  // The form sees keys first when it asks for them.
  int previewed = 0;
  form->SetKeyPreview(true);
  form->OnKeyPress = [&](TObject*, char& key) {
    ++previewed;
    if (key == 'q') key = 0;
  };
  SendMessageA(edit->GetHandle(), WM_CHAR, 'q', 1);
  EXPECT_EQ(1, previewed);
  EXPECT_EQ("bc", edit->GetText());
}

TEST_F(ControlsTest, DefaultHandlerShowsTheErrorTextInAMessageBox) {
  TButton* b = Add<TButton>(8, 8, 75, 25);
  b->OnClick = [](TObject*) { throw EConvertError("'abc' is not a number"); };
  b->SetCaption("Throw");
  form->Show();
  // The message box is modal: a timer of this thread finds it and reads and closes it.
  boxText.clear();
  UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseMessageBox);
  SendMessageA(b->GetHandle(), BM_CLICK, 0, 0);
  KillTimer(nullptr, timer);
  EXPECT_EQ("'abc' is not a number.", boxText);
  // An abort is silent: no box, no handler call.
  int calls = 0;
  Application->OnException = [&](TObject*, const std::exception&) { ++calls; };
  b->OnClick = [](TObject*) { Abort(); };
  SendMessageA(b->GetHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(0, calls);
}

TEST_F(ControlsTest, SpeedButtonClicksAndPaintsItsGlyph) {
  TSpeedButton* sb = Add<TSpeedButton>(10, 10, 40, 30);
  sb->GetGlyph()->SetPixelFormat(pf24bit);
  sb->GetGlyph()->SetWidth(16);
  sb->GetGlyph()->SetHeight(16);
  sb->GetGlyph()->Canvas()->Brush()->SetColor(clRed);
  sb->GetGlyph()->Canvas()->FillRect(RECT{2, 2, 14, 14});
  int clicks = 0;
  sb->OnClick = [&](TObject*) { ++clicks; };
  form->Show();
  Pump();
  // Mouse messages on the parent reach the windowless button.
  SendMessageA(form->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  SendMessageA(form->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
  EXPECT_EQ(1, clicks);
  // Paint into a bitmap through the same code the parent uses.
  TBitmap shot;
  shot.SetPixelFormat(pf24bit);
  shot.SetWidth(40);
  shot.SetHeight(30);
  sb->PaintTo(shot.Canvas()->GetHandle());
  EXPECT_EQ(RGB(255, 0, 0), static_cast<COLORREF>(shot.Canvas()->GetPixel(20, 15)));  // glyph centred
  EXPECT_NE(RGB(255, 0, 0), static_cast<COLORREF>(shot.Canvas()->GetPixel(1, 1)));    // frame
}

TEST_F(ControlsTest, ImageDrawsItsPictureStretched) {
  TImage* img = Add<TImage>(0, 0, 40, 20);
  TBitmap* b = img->GetPicture()->Bitmap();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(4);
  b->SetHeight(2);
  b->Canvas()->SetPixel(3, 1, RGB(0, 0, 255));
  img->SetStretch(true);
  TBitmap shot;
  shot.SetPixelFormat(pf24bit);
  shot.SetWidth(40);
  shot.SetHeight(20);
  img->PaintTo(shot.Canvas()->GetHandle());
  EXPECT_EQ(RGB(0, 0, 255), static_cast<COLORREF>(shot.Canvas()->GetPixel(39, 19)));
  EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(shot.Canvas()->GetPixel(0, 0)));
}

TEST_F(ControlsTest, BitBtnKindAndOwnerDraw) {
  TBitBtn* bb = Add<TBitBtn>(10, 10, 90, 30);
  bb->SetKind(bkCancel);
  EXPECT_EQ("Cancel", bb->GetCaption());
  EXPECT_EQ(mrCancel, bb->GetModalResult());
  EXPECT_TRUE(bb->GetCancel());
  form->Show();
  EXPECT_EQ(BS_OWNERDRAW, GetWindowLongPtrA(bb->GetHandle(), GWL_STYLE) & BS_TYPEMASK);
  int clicks = 0;
  bb->OnClick = [&](TObject*) { ++clicks; };
  SendMessageA(bb->GetHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(1, clicks);
  RedrawWindow(bb->GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  (void)ThemeServices().ThemesEnabled();  // answers without a theme library too
}

TEST_F(ControlsTest, ChildrenFollowTheirParentsFontAndColourUntilGivenTheirOwn) {
  TPanel* panel = Add<TPanel>(0, 0, 200, 100);
  TLabel* label = New<TLabel>(form);
  label->SetParent(panel);
  TEdit* edit = New<TEdit>(form);
  edit->SetParent(panel);
  form->Show();
  form->GetFont()->SetName("Courier New");
  form->SetColor(clYellow);
  EXPECT_EQ("Courier New", panel->GetFont()->GetName());
  EXPECT_EQ("Courier New", label->GetFont()->GetName());
  EXPECT_EQ("Courier New", edit->GetFont()->GetName());
  EXPECT_EQ(edit->GetFont()->GetHandle(), reinterpret_cast<HFONT>(SendMessageA(edit->GetHandle(), WM_GETFONT, 0, 0)));
  EXPECT_EQ(clYellow, panel->GetColor());
  EXPECT_EQ(clYellow, label->GetColor());
  EXPECT_NE(clYellow, edit->GetColor());  // edits keep the window colour
  label->GetFont()->SetName("Arial");
  EXPECT_FALSE(label->GetParentFont());
  form->GetFont()->SetName("Times New Roman");
  EXPECT_EQ("Arial", label->GetFont()->GetName());
  EXPECT_EQ("Times New Roman", edit->GetFont()->GetName());
}

TEST_F(ControlsTest, FormWithControlsRoundTripsThroughTheWriter) {
  RegisterClass(&TForm::StaticClassInfo);
  TEdit* e = Add<TEdit>(5, 6, 70, 21);
  e->SetName("Edit1");
  e->SetText("text");
  e->SetMaxLength(12);
  TListView* lv = Add<TListView>(5, 40, 200, 100);
  lv->SetName("List1");
  lv->SetViewStyle(vsReport);
  lv->GetColumns()->Add()->SetCaption("One");
  TListItem* it = lv->GetItems()->Add();
  it->SetCaption("row");
  it->SubItems()->Add("sub");
  TUpDown* ud = Add<TUpDown>(80, 6, 17, 21);
  ud->SetName("Up1");
  ud->SetAssociate(e);
  TMainMenu* menu = New<TMainMenu>(form);
  menu->SetName("Menu1");
  TMenuItem* file = New<TMenuItem>(form);
  file->SetName("File1");
  file->SetCaption("&File");
  menu->Items()->Add(file);
  form->SetMenu(menu);
  TTimer* timer = New<TTimer>(form);
  timer->SetName("Timer1");
  timer->SetInterval(250);
  timer->SetEnabled(false);
  TSpeedButton* sb = Add<TSpeedButton>(120, 6, 23, 22);
  sb->SetName("Speed1");
  sb->GetGlyph()->SetPixelFormat(pf24bit);
  sb->GetGlyph()->SetWidth(16);
  sb->GetGlyph()->SetHeight(16);
  sb->GetGlyph()->Canvas()->SetPixel(5, 6, RGB(9, 8, 7));
  form->SetName("RoundForm");
  form->SetCaption("Round");
  TMemoryStream ms;
  WriteComponentToStream(&ms, form);
  ms.SetPosition(0);
  auto* copy = static_cast<TForm*>(ReadComponentFromStream(&ms, nullptr));
  ASSERT_TRUE(copy->Is<TForm>());
  auto* e2 = As<TEdit>(copy->FindComponent("Edit1"));
  auto* lv2 = As<TListView>(copy->FindComponent("List1"));
  auto* ud2 = As<TUpDown>(copy->FindComponent("Up1"));
  ASSERT_TRUE(e2 && lv2 && ud2);
  EXPECT_EQ(copy, e2->GetParent());
  EXPECT_EQ("text", e2->GetText());
  EXPECT_EQ(12, e2->GetMaxLength());
  EXPECT_EQ(70, e2->GetWidth());
  EXPECT_EQ(vsReport, lv2->GetViewStyle());
  ASSERT_EQ(1, lv2->GetColumns()->Count());
  EXPECT_EQ("One", lv2->GetColumns()->Items(0)->GetCaption());
  ASSERT_EQ(1, lv2->GetItems()->Count());
  EXPECT_EQ("sub", lv2->GetItems()->Item(0)->SubItems()->Get(0));
  EXPECT_EQ(e2, ud2->GetAssociate());
  EXPECT_EQ("Round", copy->GetCaption());
  auto* menu2 = As<TMainMenu>(copy->FindComponent("Menu1"));
  auto* timer2 = As<TTimer>(copy->FindComponent("Timer1"));
  ASSERT_TRUE(menu2 && timer2);
  EXPECT_EQ(menu2, copy->GetMenu());
  ASSERT_EQ(1, menu2->Items()->Count());
  EXPECT_EQ("&File", menu2->Items()->Items(0)->GetCaption());
  EXPECT_EQ(250, timer2->GetInterval());
  auto* sb2 = As<TSpeedButton>(copy->FindComponent("Speed1"));
  ASSERT_TRUE(sb2);
  ASSERT_EQ(16, sb2->GetGlyph()->GetWidth());
  EXPECT_EQ(RGB(9, 8, 7), static_cast<COLORREF>(sb2->GetGlyph()->Canvas()->GetPixel(5, 6)));
  EXPECT_FALSE(timer2->GetEnabled());
  copy->Free();
}

}  // namespace
