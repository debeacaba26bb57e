// Editing text and memo objects in place with real input: opening the editor, Enter and Esc, AutoSize,
// F2, objects that may not be edited, memo formats, and the editors' charset on a Greek system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vect_window.h"

using namespace ui;

namespace {

class VectEdit : public VectWindow {
 protected:
  void Tap(WORD vk) {
    Key(vk, false);
    Key(vk, true);
  }
  void Type(const std::string& letters) {
    for (char c : letters) Tap(WORD(toupper(static_cast<unsigned char>(c))));
  }
  void DoubleClick(POINT c) {
    Mouse(0, c);
    for (int i = 0; i < 2; ++i) {
      Mouse(MOUSEEVENTF_LEFTDOWN, c);
      Mouse(MOUSEEVENTF_LEFTUP, c);
    }
  }
  bool Editing() {
    return PumpUntil([this] { return view->IsEditingText(); });
  }
  bool EditingEnded() {
    return PumpUntil([this] { return !view->IsEditingText(); });
  }
  bool EditorHolds(const std::string& text) {
    return PumpUntil([this, &text] { return view->GetTextEdit()->GetText() == text; });
  }
  int AddText(TIEVKind kind, const std::string& text, int x1 = 100, int y1 = 100, int x2 = 250, int y2 = 130) {
    TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
    t->Kind = kind;
    t->X1 = x1, t->Y1 = y1, t->X2 = x2, t->Y2 = y2;
    t->Text = text;
    const int h = view->AddObject(*t);
    t->Text.clear();
    view->UpdateView();
    Pump();
    return h;
  }
};

TEST_F(VectEdit, DoubleClickOpensTheEditorOnTheBoxAndEnterStoresTheText) {
  view->SetZoom(200);
  view->SetViewOrigin(0, 0);
  const int h = AddText(ievkTEXT, "", 50, 50, 120, 70);
  view->SetObjectInteract(IEVI(iviEditObjects));
  int changed = 0, activated = 0, deactivated = 0;
  view->OnVectorialChanged = ui::TNotifyEvent([&](TObject*) { ++changed; });
  view->OnActivateTextEdit = ui::TNotifyEvent([&](TObject*) { ++activated; });
  view->OnDeactivateTextEdit = ui::TNotifyEvent([&](TObject*) { ++deactivated; });
  DoubleClick(POINT{150, 120});
  ASSERT_TRUE(Editing());
  EXPECT_EQ(view->GetEditIndex(), h);
  EXPECT_EQ(activated, 1);
  TIEEdit* e = view->GetTextEdit();
  EXPECT_TRUE(e->GetVisible());
  // the object's box in client pixels at 200 %
  EXPECT_EQ(e->GetLeft(), 100);
  EXPECT_EQ(e->GetTop(), 100);
  EXPECT_EQ(e->GetWidth(), 140);
  EXPECT_EQ(e->GetHeight(), 40);
  Type("abc");
  Tap(VK_RETURN);
  ASSERT_TRUE(EditingEnded());
  EXPECT_FALSE(e->GetVisible());
  EXPECT_EQ(view->ObjectRecord(h)->Text, "abc");
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(deactivated, 1);
}

TEST_F(VectEdit, EscBringsBackTheTextOfTheStartAfterSeveralEdits) {
  const int h = AddText(ievkTEXT, "orig");
  view->SelectObject(h);
  view->SetFocus();
  Pump();
  Tap(VK_F2);
  ASSERT_TRUE(Editing());
  Tap(VK_END);
  Type("abc");
  Tap(VK_LEFT);  // a second edit operation of the control
  Type("d");
  EXPECT_TRUE(EditorHolds("origabdc")) << view->GetTextEdit()->GetText();
  Tap(VK_ESCAPE);
  ASSERT_TRUE(EditingEnded());
  EXPECT_EQ(view->ObjectRecord(h)->Text, "orig");
}

TEST_F(VectEdit, AutoSizeGrowsByAnMWhileTypingAndEndsAtTheTextWidth) {
  const int h = AddText(ievkTEXT, "", 100, 100, 110, 130);
  view->ObjectRecord(h)->AutoSize = true;
  ASSERT_TRUE(view->EditText(h));
  Type("ab");
  ASSERT_TRUE(EditorHolds("ab")) << view->GetTextEdit()->GetText();
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, view->GetTextEdit()->GetFont()->GetHandle());
  SIZE ab{}, m{};
  GetTextExtentPoint32A(dc, "ab", 2, &ab);
  GetTextExtentPoint32A(dc, "M", 1, &m);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  ASSERT_GT(ab.cx, 0);
  EXPECT_EQ(view->ObjectRecord(h)->X2, 100 + ab.cx + m.cx);
  Tap(VK_RETURN);
  ASSERT_TRUE(EditingEnded());
  EXPECT_EQ(view->ObjectRecord(h)->X2, 100 + ab.cx);
}

TEST_F(VectEdit, F2EditsTheFirstSelectedUnlessItIsNotEditable) {
  const int a = AddText(ievkTEXT, "one");
  const int b = AddText(ievkTEXT, "two", 100, 200, 250, 230);
  view->SelectObject(b);
  view->SelectObject(a);
  view->SetFocus();
  Pump();
  Tap(VK_F2);
  ASSERT_TRUE(Editing());
  EXPECT_EQ(view->GetEditIndex(), b);
  Tap(VK_ESCAPE);
  ASSERT_TRUE(EditingEnded());

  view->ObjectRecord(b)->TextEditable = false;
  view->SetFocus();
  Pump();
  Tap(VK_F2);
  EXPECT_FALSE(view->IsEditingText());
  EXPECT_FALSE(view->GetTextEdit()->GetVisible());
  view->SetObjectInteract(IEVI(iviEditObjects));
  DoubleClick(POINT{150, 215});
  EXPECT_FALSE(view->IsEditingText());
}

TEST_F(VectEdit, TheEditorFollowsTheObjectWhenTheViewScrolls) {
  const int h = AddText(ievkTEXT, "moving");
  ASSERT_TRUE(view->EditText(h));
  EXPECT_EQ(view->GetTextEdit()->GetLeft(), 100);
  view->SetViewOrigin(30, 20);
  Pump();
  EXPECT_EQ(view->GetTextEdit()->GetLeft(), 70);
  EXPECT_EQ(view->GetTextEdit()->GetTop(), 80);
}

TEST_F(VectEdit, AnObjectWithoutAFontRecordIsNotEdited) {
  const int h = AddText(ievkTEXT, "plain");
  view->ObjectRecord(h)->Font.reset();
  EXPECT_FALSE(view->EditText(h));
  EXPECT_FALSE(view->IsEditingText());
  EXPECT_FALSE(view->GetTextEdit()->GetVisible());
  EXPECT_EQ(view->ObjectRecord(h)->Text, "plain");
}

TEST_F(VectEdit, NonUniformMemoKeepsItsCtrlBFormatsPacked) {
  const int h = AddText(ievkMEMO, "hello", 100, 100, 300, 200);
  view->ObjectRecord(h)->MemoUniformFormat = false;
  ASSERT_TRUE(view->EditText(h));
  EXPECT_TRUE(view->GetTextControl()->GetVisible());
  EXPECT_EQ(view->GetTextControl()->Text, "hello");
  // the object keeps its own text while the control edits a copy
  EXPECT_EQ(view->ObjectRecord(h)->Text, "hello");
  Tap(VK_HOME);
  Key(VK_SHIFT, false);
  Tap(VK_RIGHT);
  Tap(VK_RIGHT);
  Key(VK_SHIFT, true);
  Key(VK_CONTROL, false);
  Tap('B');
  Key(VK_CONTROL, true);
  Tap(VK_ESCAPE);
  ASSERT_TRUE(EditingEnded());
  const TIEVObjectRecord* r = view->ObjectRecord(h);
  EXPECT_EQ(r->Text, "hello");
  ASSERT_GE(r->MemoCharFormats.size(), 5u);
  ASSERT_EQ(r->MemoFormats.size(), 2u);  // packed: the plain and the bold one only
  const TIETextFormat& first = r->MemoFormats[size_t(r->MemoCharFormats[0])];
  const TIETextFormat& last = r->MemoFormats[size_t(r->MemoCharFormats[4])];
  EXPECT_EQ(r->MemoCharFormats[0], r->MemoCharFormats[1]);
  EXPECT_TRUE(first.FontStyle & 1);
  EXPECT_FALSE(last.FontStyle & 1);
  EXPECT_TRUE(view->GetTextControl()->Text.empty());
}

TEST_F(VectEdit, NewTextEntersEditingAndReportsTheChangeWhenItEnds) {
  view->SetObjectInteract(IEVI(iviCreateText));
  int changed = 0;
  view->OnVectorialChanged = ui::TNotifyEvent([&](TObject*) { ++changed; });
  Mouse(0, POINT{100, 100});
  Mouse(MOUSEEVENTF_LEFTDOWN, POINT{100, 100});
  for (int i = 1; i <= 4; ++i) Mouse(0, POINT{100 + 30 * i, 100 + 8 * i});
  Mouse(MOUSEEVENTF_LEFTUP, POINT{220, 132});
  ASSERT_TRUE(Editing());
  ASSERT_EQ(view->ObjectsCount(), 1);
  EXPECT_EQ(changed, 0);
  Type("x");
  Tap(VK_RETURN);
  ASSERT_TRUE(EditingEnded());
  EXPECT_EQ(view->ObjectRecord(0)->Text, "x");
  EXPECT_EQ(changed, 2);
}

// Run as its own program under LANG=el_GR.UTF-8 (test view_vectedit_greek).
TEST_F(VectEdit, GreekCharset) {
  if (!std::getenv("TQ_EXPECT_GREEK")) GTEST_SKIP() << "runs under a Greek locale only";
  EXPECT_EQ(LANGIDFROMLCID(GetThreadLocale()), 0x0408);
  const int t = AddText(ievkTEXT, "a");
  ASSERT_TRUE(view->EditText(t));
  EXPECT_EQ(view->GetTextEdit()->GetFont()->GetCharset(), GREEK_CHARSET);
  view->CancelInteract();
  const int m = AddText(ievkMEMO, "b", 100, 200, 300, 300);
  ASSERT_TRUE(view->EditText(m));
  EXPECT_EQ(view->GetTextControl()->TextFont->GetCharset(), GREEK_CHARSET);
}

}  // namespace
