// Buttons, dialog keys, glyph buttons, images, the default exception handler and the round trip of a
// form with controls through the layout writer and reader.
#include <windows.h>

#include <gtest/gtest.h>
#include <imm.h>

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

// ---- anchors, constraints, drag and drop, docking, window styles ----

namespace {

// Sends a mouse message to `target` at the screen point `screen`.
void MouseAt(HWND target, UINT msg, POINT screen) {
  ScreenToClient(target, &screen);
  SendMessageA(target, msg, msg == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(screen.x, screen.y));
}

std::string Describe(TObject* o, TControl* a, TControl* b) {
  return o == a ? "a" : o == b ? "b" : o ? "other" : "none";
}

}  // namespace

TEST_F(ControlsTest, AnchoredControlsFollowTheEdgesTheyAreAnchoredTo) {
  const TAnchors L = AnchorSet(akLeft), T = AnchorSet(akTop), R = AnchorSet(akRight), B = AnchorSet(akBottom);
  struct Case {
    TAnchors anchors;
    const char* name;
  } const kCases[] = {{L | T, "left top"}, {L | T | R, "left right"}, {T | R, "right"}, {T, "neither"}, {L | B, "bottom"}};
  std::vector<TEdit*> edits;
  for (const Case& c : kCases) {
    TEdit* e = Add<TEdit>(110, 10 + 30 * static_cast<int>(edits.size()), 100, 21);
    e->SetAnchors(c.anchors);
    edits.push_back(e);
  }
  form->Show();
  Pump();
  const RECT before = form->GetClientRect();
  std::vector<RECT> start;
  for (TEdit* e : edits) start.push_back(e->BoundsRect());
  form->SetBounds(form->GetLeft(), form->GetTop(), form->GetWidth() + 100, form->GetHeight() + 40);
  Pump();
  const RECT after = form->GetClientRect();
  const int dw = after.right - before.right, dh = after.bottom - before.bottom;
  ASSERT_EQ(100, dw);
  for (size_t i = 0; i < edits.size(); ++i) {
    SCOPED_TRACE(kCases[i].name);
    const RECT s = start[i], now = edits[i]->BoundsRect();
    const TAnchors a = kCases[i].anchors;
    const int right = (a & R) ? s.right + dw : ((a & L) ? s.right : now.left + 100);
    EXPECT_EQ((a & R) && !(a & L) ? s.left + dw : (a & L) ? s.left : MulDiv(160, after.right, before.right) - 50, now.left);
    EXPECT_EQ(right, now.right);
    EXPECT_EQ((a & B) ? s.top + dh : s.top, now.top);
    // The window itself is where the control says.
    RECT w;
    GetWindowRect(edits[i]->GetHandle(), &w);
    MapWindowPoints(nullptr, form->GetHandle(), reinterpret_cast<POINT*>(&w), 2);
    EXPECT_EQ(now.right, w.right);
  }
  // The right distance of the edit anchored on both sides is kept exactly.
  EXPECT_EQ(before.right - start[1].right, after.right - edits[1]->BoundsRect().right);
  // Shrinking back gives the first bounds again.
  form->SetBounds(form->GetLeft(), form->GetTop(), form->GetWidth() - 100, form->GetHeight() - 40);
  for (size_t i = 0; i < edits.size(); ++i) {
    const RECT s = start[i], now = edits[i]->BoundsRect();
    EXPECT_TRUE(EqualRect(&s, &now)) << kCases[i].name;
  }
}

TEST_F(ControlsTest, ConstrainedPanelStopsAtItsLimitsWhicheverWayItIsSized) {
  TPanel* p = Add<TPanel>(10, 10, 100, 50);
  p->SetAnchors(AnchorSet(akLeft) | AnchorSet(akTop) | AnchorSet(akRight));
  p->GetConstraints()->SetMaxWidth(200);
  p->GetConstraints()->SetMinHeight(40);
  form->Show();
  p->SetWidth(300);
  EXPECT_EQ(200, p->GetWidth());
  // A size from outside the library.
  SetWindowPos(p->GetHandle(), nullptr, 0, 0, 350, 20, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT w;
  GetWindowRect(p->GetHandle(), &w);
  EXPECT_EQ(200, w.right - w.left);
  EXPECT_EQ(40, w.bottom - w.top);
  EXPECT_EQ(40, p->GetHeight());
  // Growing the form pulls the anchored panel only up to its maximum.
  p->SetWidth(150);
  form->SetWidth(form->GetWidth() + 300);
  EXPECT_EQ(200, p->GetWidth());
  // The events can refuse a size or move the limits.
  int asked = 0;
  p->OnCanResize = [&](TObject*, int&, int& h, bool& resize) {
    ++asked;
    resize = h <= 100;
  };
  p->SetHeight(120);
  EXPECT_EQ(40, p->GetHeight());
  EXPECT_EQ(1, asked);
  p->OnConstrainedResize = [](TObject*, int&, int&, int& maxW, int&) { maxW = 250; };
  p->SetWidth(300);
  EXPECT_EQ(250, p->GetWidth());
  // A new limit applies at once.
  p->OnConstrainedResize = nullptr;
  p->GetConstraints()->SetMaxWidth(180);
  EXPECT_EQ(180, p->GetWidth());
}

TEST_F(ControlsTest, DragFromOneControlToAnotherRunsTheEventsInOrder) {
  TEdit* a = Add<TEdit>(10, 10, 100, 21);
  a->SetDragMode(dmAutomatic);
  TPanel* b = Add<TPanel>(150, 60, 120, 80);
  TLabel* refusing = Add<TLabel>(10, 150, 100, 30);
  refusing->SetAutoSize(false);
  refusing->OnDragOver = [](TObject*, TObject*, int, int, TDragState, bool& accept) { accept = false; };
  std::vector<std::string> log;
  HCURSOR overB = nullptr, overRefusing = nullptr;
  a->OnStartDrag = [&](TObject* sender, TDragObject*&) { log.push_back("start " + Describe(sender, a, b)); };
  b->OnDragOver = [&](TObject*, TObject* source, int x, int y, TDragState state, bool& accept) {
    static const char* kState[] = {"enter", "leave", "move"};
    log.push_back(std::string("over ") + kState[state] + " " + Describe(source, a, b) + " " + std::to_string(x) + "," +
                  std::to_string(y));
    accept = true;
  };
  b->OnDragDrop = [&](TObject* sender, TObject* source, int x, int y) {
    log.push_back("drop on " + Describe(sender, a, b) + " from " + Describe(source, a, b) + " " + std::to_string(x) +
                  "," + std::to_string(y));
  };
  a->OnEndDrag = [&](TObject* sender, TObject* target, int x, int y) {
    log.push_back("end " + Describe(sender, a, b) + " on " + Describe(target, a, b) + " " + std::to_string(x) + "," +
                  std::to_string(y));
  };
  form->Show();
  Pump();
  HWND h = a->GetHandle();
  MouseAt(h, WM_LBUTTONDOWN, a->ClientToScreen(POINT{5, 5}));
  EXPECT_TRUE(a->Dragging());
  MouseAt(h, WM_MOUSEMOVE, a->ClientToScreen(POINT{6, 6}));  // within the threshold: nothing yet
  MouseAt(h, WM_MOUSEMOVE, b->ClientToScreen(POINT{20, 30}));
  overB = GetCursor();
  MouseAt(h, WM_MOUSEMOVE, refusing->ClientToScreen(POINT{5, 5}));
  overRefusing = GetCursor();
  MouseAt(h, WM_MOUSEMOVE, b->ClientToScreen(POINT{22, 31}));
  MouseAt(h, WM_LBUTTONUP, b->ClientToScreen(POINT{22, 31}));
  EXPECT_FALSE(a->Dragging());
  const POINT left = b->ScreenToClient(refusing->ClientToScreen(POINT{5, 5}));
  const std::vector<std::string> expected{"start a",
                                          "over enter a 20,30",
                                          "over leave a " + std::to_string(left.x) + "," + std::to_string(left.y),
                                          "over enter a 22,31",
                                          "over move a 22,31",
                                          "drop on b from a 22,31",
                                          "end a on b 22,31"};
  EXPECT_EQ(expected, log);
  EXPECT_EQ(Screen->GetCursors(crDrag), overB);
  EXPECT_EQ(Screen->GetCursors(crNoDrop), overRefusing);

  // Released where nobody accepts: no drop, the source hears of no target.
  log.clear();
  MouseAt(h, WM_LBUTTONDOWN, a->ClientToScreen(POINT{5, 5}));
  MouseAt(h, WM_MOUSEMOVE, refusing->ClientToScreen(POINT{5, 5}));
  MouseAt(h, WM_LBUTTONUP, refusing->ClientToScreen(POINT{5, 5}));
  const POINT onSource = a->ScreenToClient(refusing->ClientToScreen(POINT{5, 5}));
  EXPECT_EQ((std::vector<std::string>{"start a", "end a on none " + std::to_string(onSource.x) + "," +
                                                     std::to_string(onSource.y)}),
            log);
}

TEST_F(ControlsTest, ControlDocksIntoADockSiteAndItsOldSiteMayKeepIt) {
  TPanel* site1 = Add<TPanel>(10, 10, 120, 150);
  site1->SetDockSite(true);
  TPanel* site2 = Add<TPanel>(170, 10, 120, 150);
  site2->SetDockSite(true);
  site2->SetUseDockManager(true);
  TButton* client = New<TButton>(form);
  client->SetParent(site1);
  client->SetBounds(5, 5, 80, 25);
  client->SetDragKind(dkDock);
  client->SetDragMode(dmAutomatic);
  std::vector<std::string> log;
  bool allowUnDock = true;
  site1->OnUnDock = [&](TObject*, TControl* c, TWinControl* target, bool& allow) {
    log.push_back(std::string("undock ") + (c == client ? "client" : "?") + (target == site2 ? " to site2" : " ?"));
    allow = allowUnDock;
  };
  site2->OnGetSiteInfo = [&](TObject*, TControl* c, RECT&, POINT, bool& canDock) {
    canDock = c == client;
  };
  site2->OnDockOver = [&](TObject*, TDragDockObject* source, int, int, TDragState state, bool& accept) {
    if (state == dsDragEnter) log.push_back(source->Control == client ? "enter site2" : "?");
    accept = true;
  };
  site2->OnDockDrop = [&](TObject*, TDragDockObject* source, int x, int y) {
    log.push_back("dropped " + std::to_string(x) + "," + std::to_string(y) + (source->Control->GetParent() == site2 ? " inside" : ""));
  };
  client->OnStartDock = [&](TObject*, TDragDockObject*&) { log.push_back("start"); };
  client->OnEndDock = [&](TObject*, TObject* target, int, int) {
    log.push_back(std::string("end on ") + (target == site2 ? "site2" : target ? "?" : "none"));
  };
  form->Show();
  Pump();
  auto drag = [&](POINT to) {
    HWND h = client->GetHandle();
    MouseAt(h, WM_LBUTTONDOWN, client->ClientToScreen(POINT{3, 3}));
    MouseAt(h, WM_MOUSEMOVE, to);
    MouseAt(h, WM_LBUTTONUP, to);
  };
  // Refused by the old site: the client stays.
  allowUnDock = false;
  drag(site2->ClientToScreen(POINT{30, 40}));
  EXPECT_EQ(site1, client->GetParent());
  EXPECT_EQ((std::vector<std::string>{"start", "enter site2", "undock client to site2", "end on none"}), log);
  log.clear();
  allowUnDock = true;
  drag(site2->ClientToScreen(POINT{30, 40}));
  EXPECT_EQ(site2, client->GetParent());
  EXPECT_EQ(site2, client->HostDockSite());
  EXPECT_EQ((std::vector<std::string>{"start", "enter site2", "undock client to site2", "dropped 30,40 inside", "end on site2"}),
            log);
  // The dock manager stacks its clients from the top, across the site.
  ASSERT_EQ(1, site2->DockClientCount());
  const RECT inside = site2->GetClientRect();
  EXPECT_EQ(inside.left, client->GetLeft());
  EXPECT_EQ(inside.top, client->GetTop());
  EXPECT_EQ(inside.right - inside.left, client->GetWidth());
  EXPECT_EQ(25, client->GetHeight());
}

TEST_F(ControlsTest, RightToLeftThreeDAndBevelSettingsReachTheWindow) {
  TPanel* host = Add<TPanel>(10, 10, 280, 180);
  TEdit* follows = New<TEdit>(form);
  follows->SetParent(host);
  follows->SetBounds(10, 10, 120, 24);
  TEdit* own = New<TEdit>(form);
  own->SetParent(host);
  own->SetBounds(10, 50, 120, 24);
  own->SetBiDiMode(bdLeftToRight);  // its own mode: no longer the parent's
  form->Show();
  auto ex = [](TWinControl* c) { return static_cast<DWORD>(GetWindowLongPtrA(c->GetHandle(), GWL_EXSTYLE)); };
  const DWORD rtl = WS_EX_RTLREADING | WS_EX_RIGHT | WS_EX_LEFTSCROLLBAR;
  struct Case {
    TBiDiMode mode;
    DWORD styles;
  } const kCases[] = {{bdRightToLeft, rtl},
                      {bdRightToLeftNoAlign, WS_EX_RTLREADING | WS_EX_LEFTSCROLLBAR},
                      {bdRightToLeftReadingOnly, WS_EX_RTLREADING},
                      {bdLeftToRight, 0}};
  for (const Case& c : kCases) {
    host->SetBiDiMode(c.mode);
    EXPECT_EQ(c.mode, follows->GetBiDiMode());
    EXPECT_EQ(c.styles, ex(follows) & rtl) << c.mode;
    EXPECT_EQ(0u, ex(own) & rtl) << c.mode;
  }
  host->SetBiDiMode(bdRightToLeft);
  EXPECT_EQ(static_cast<UINT>(DT_RIGHT | DT_RTLREADING), follows->DrawTextBiDiModeFlags(DT_LEFT));
  EXPECT_EQ(static_cast<UINT>(DT_LEFT | DT_RTLREADING), follows->DrawTextBiDiModeFlags(DT_RIGHT));

  // Ctl3D: a sunken edge, or a thin flat border once the parent goes flat.
  auto frame = [](TWinControl* c) {
    RECT w, cl;
    GetWindowRect(c->GetHandle(), &w);
    GetClientRect(c->GetHandle(), &cl);
    return (w.right - w.left) - cl.right;
  };
  EXPECT_TRUE(ex(follows) & WS_EX_CLIENTEDGE);
  const int sunken = frame(follows);
  host->SetCtl3D(false);
  EXPECT_FALSE(follows->GetCtl3D());
  EXPECT_FALSE(ex(follows) & WS_EX_CLIENTEDGE);
  EXPECT_LT(frame(follows), sunken);

  // A frame bevel takes its width from the client area on the chosen edges only.
  RECT plain, bevelled, leftOnly;
  GetClientRect(own->GetHandle(), &plain);
  own->SetBevelKind(bkFlat);  // inner raised + outer lowered, 1 pixel each
  GetClientRect(own->GetHandle(), &bevelled);
  own->SetBevelEdges(1u << beLeft);
  GetClientRect(own->GetHandle(), &leftOnly);
  EXPECT_EQ(plain.right - 4, bevelled.right);
  EXPECT_EQ(plain.bottom - 4, bevelled.bottom);
  EXPECT_EQ(plain.right - 2, leftOnly.right);
  EXPECT_EQ(plain.bottom, leftOnly.bottom);
}

TEST_F(ControlsTest, ContextPopupHandlerGetsClientPointAndCanKeepTheMenuAway) {
  TPanel* p = Add<TPanel>(20, 20, 100, 60);
  TPopupMenu* menu = New<TPopupMenu>(form);
  int popups = 0;
  menu->OnPopup = [&](TObject*) { ++popups; };
  menu->Items()->Add(New<TMenuItem>(form));
  p->SetPopupMenu(menu);
  POINT at{-99, -99};
  bool handle = true;
  p->OnContextPopup = [&](TObject*, POINT pos, bool& handled) {
    at = pos;
    handled = handle;
  };
  form->Show();
  POINT screen = p->ClientToScreen(POINT{7, 9});
  SendMessageA(p->GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(p->GetHandle()), MAKELPARAM(screen.x, screen.y));
  EXPECT_EQ(7, at.x);
  EXPECT_EQ(9, at.y);
  EXPECT_EQ(0, popups);
  // From the keyboard: (-1, -1).
  SendMessageA(p->GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(p->GetHandle()), MAKELPARAM(-1, -1));
  EXPECT_EQ(-1, at.x);
  EXPECT_EQ(-1, at.y);
}

TEST_F(ControlsTest, DisabledInputMethodLeavesTheControlWithoutContext) {
  TEdit* plain = Add<TEdit>(10, 10, 100, 21);
  TEdit* noIme = Add<TEdit>(10, 40, 100, 21);
  noIme->SetImeMode(imDisable);
  form->Show();
  SetForegroundWindow(form->GetHandle());
  plain->SetFocus();
  HIMC before = ImmGetContext(plain->GetHandle());
  if (before) ImmReleaseContext(plain->GetHandle(), before);
  noIme->SetFocus();
  HIMC ctx = ImmGetContext(noIme->GetHandle());
  EXPECT_EQ(nullptr, ctx);
  if (ctx) ImmReleaseContext(noIme->GetHandle(), ctx);
  EXPECT_NE(nullptr, before) << "the system gives windows no input context here";
}

TEST_F(ControlsTest, NewControlPropertiesRoundTripThroughTheLayoutStream) {
  TEdit* e = Add<TEdit>(5, 6, 70, 21);
  e->SetName("Edit1");
  e->SetAnchors(AnchorSet(akLeft) | AnchorSet(akRight));
  e->GetConstraints()->SetMaxWidth(90);
  e->SetDragMode(dmAutomatic);
  e->SetDragKind(dkDock);
  e->SetBiDiMode(bdRightToLeftNoAlign);
  e->SetBevelKind(bkSoft);
  e->SetBevelEdges(3);
  e->SetImeMode(imClose);
  e->SetImeName("Input");
  e->SetOEMConvert(true);
  e->SetCtl3D(false);
  TPanel* p = Add<TPanel>(5, 40, 100, 50);
  p->SetName("Panel1");
  p->SetDockSite(true);
  p->SetUseDockManager(true);
  p->SetFullRepaint(false);
  p->SetParentBackground(true);
  form->SetName("RoundForm");
  TMemoryStream ms;
  WriteComponentToStream(&ms, form);
  ms.SetPosition(0);
  RegisterClass(&TForm::StaticClassInfo);
  auto* copy = static_cast<TForm*>(ReadComponentFromStream(&ms, nullptr));
  auto* e2 = As<TEdit>(copy->FindComponent("Edit1"));
  auto* p2 = As<TPanel>(copy->FindComponent("Panel1"));
  ASSERT_TRUE(e2 && p2);
  EXPECT_EQ(e->GetAnchors(), e2->GetAnchors());
  EXPECT_EQ(90, e2->GetConstraints()->GetMaxWidth());
  EXPECT_EQ(dmAutomatic, e2->GetDragMode());
  EXPECT_EQ(dkDock, e2->GetDragKind());
  EXPECT_EQ(bdRightToLeftNoAlign, e2->GetBiDiMode());
  EXPECT_FALSE(e2->GetParentBiDiMode());
  EXPECT_EQ(bkSoft, e2->GetBevelKind());
  EXPECT_EQ(3u, e2->GetBevelEdges());
  EXPECT_EQ(imClose, e2->GetImeMode());
  EXPECT_EQ("Input", e2->GetImeName());
  EXPECT_TRUE(e2->GetOEMConvert());
  EXPECT_FALSE(e2->GetCtl3D());
  EXPECT_TRUE(p2->GetDockSite());
  EXPECT_TRUE(p2->GetUseDockManager());
  EXPECT_FALSE(p2->GetFullRepaint());
  EXPECT_TRUE(p2->GetParentBackground());
  copy->Free();
}

TEST_F(ControlsTest, EditHeightFollowsItsFontPanelHoldsItsChildrenAndBorderWidthFramesTheClient) {
  TEdit* e = Add<TEdit>(10, 10, 100, 50);
  TPanel* p = Add<TPanel>(10, 60, 50, 30);
  p->SetAutoSize(true);
  TButton* b = New<TButton>(form);
  b->SetParent(p);
  b->SetBounds(4, 4, 120, 40);
  form->Show();
  const int small = e->GetHeight();
  EXPECT_LT(small, 50);
  e->GetFont()->SetHeight(-30);
  EXPECT_GT(e->GetHeight(), small + 10);
  RECT client;
  GetClientRect(e->GetHandle(), &client);
  EXPECT_GE(client.bottom, 30);
  // The panel (bevel 1) ends one bevel past its child.
  EXPECT_EQ(4 + 120 + 1, p->GetWidth());
  EXPECT_EQ(4 + 40 + 1, p->GetHeight());
  b->SetWidth(200);
  EXPECT_EQ(4 + 200 + 1, p->GetWidth());

  RECT before, after;
  TListView* lv = Add<TListView>(10, 120, 100, 80);
  GetClientRect(lv->GetHandle(), &before);
  lv->SetBorderWidth(5);
  GetClientRect(lv->GetHandle(), &after);
  EXPECT_EQ(before.right - 10, after.right);
  EXPECT_EQ(before.bottom - 10, after.bottom);
}
