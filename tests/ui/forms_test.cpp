// Windows and dispatch: forms and controls made in code, driven through real window messages; document frames and
// children, layered forms and the current modeless dialog.
#include <gtest/gtest.h>

#include "uiforms.h"
#include "uimenus.h"

using namespace ui;

namespace {

class TBox : public TCustomControl {
  UI_DECLARE_CLASS(TBox, TCustomControl)
 public:
  TBox() { tabStop_ = true; }
  int paints = 0;
  std::vector<UINT> seen;
  void WndProc(TMessage& m) override {
    if (m.Msg == WM_USER + 1) {
      seen.push_back(m.Msg);
      m.Result = 42;
      return;
    }
    if (m.Msg == WM_USER + 2) throw Exception("handler failed");
    inherited::WndProc(m);
  }

 protected:
  void Paint() override {
    ++paints;
    Canvas()->Brush()->SetColor(clRed);
    Canvas()->FillRect(GetClientRect());
  }
};
UI_IMPLEMENT_CLASS(TBox, TCustomControl, DefaultFactory<TBox>, nullptr, nullptr, nullptr)

struct Log {
  std::vector<std::string> lines;
  void Add(const std::string& s) { lines.push_back(s); }
};

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(50, 50, 300, 200);
    form->SetCaption("Dispatch");
  }
  void TearDown() override {
    Application->OnException = nullptr;
    if (form) form->Free();
  }
  void Pump() {
    for (int i = 0; i < 5; ++i) Application->ProcessMessages();
  }
  TForm* form = nullptr;
};

TEST_F(FormsTest, ControlLivesWithoutWindowAndKeepsTextAcrossRecreation) {
  TBox* box = New<TBox>(form);
  box->SetText("before");  // no parent, no window: kept in the control
  EXPECT_EQ("before", box->GetText());
  box->SetParent(form);
  box->SetBounds(10, 10, 50, 30);
  form->Show();
  ASSERT_TRUE(box->HandleAllocated());
  char buf[32] = {};
  GetWindowTextA(box->GetHandle(), buf, sizeof buf);
  EXPECT_STREQ("before", buf);
  EXPECT_EQ(box, FindControl(box->GetHandle()));
  SetWindowTextA(box->GetHandle(), "changed");
  HWND old = box->GetHandle();
  box->RecreateWnd();
  EXPECT_NE(nullptr, box->GetHandle());
  EXPECT_FALSE(IsWindow(old));
  EXPECT_EQ("changed", box->GetText());
  EXPECT_EQ(42, SendMessageA(box->GetHandle(), WM_USER + 1, 0, 0));
  EXPECT_EQ(42, box->Perform(WM_USER + 1, 0, 0));
}

TEST_F(FormsTest, WindowProcCanBeReplacedAndRestoredByIdentity) {
  TBox* box = New<TBox>(form);
  box->SetParent(form);
  form->Show();
  TWndMethod saved = box->WindowProc;
  int hooked = 0;
  box->WindowProc = [&, saved](TMessage& m) {
    if (m.Msg == WM_USER + 1) ++hooked;
    saved(m);
  };
  EXPECT_EQ(42, SendMessageA(box->GetHandle(), WM_USER + 1, 0, 0));
  EXPECT_EQ(1, hooked);
  EXPECT_TRUE(saved == TWndMethod(box, &TControl::WndProc));
  box->WindowProc = saved;
  SendMessageA(box->GetHandle(), WM_USER + 1, 0, 0);
  EXPECT_EQ(1, hooked);
}

TEST_F(FormsTest, ExceptionInAHandlerReachesTheApplicationAndTheProgramGoesOn) {
  TBox* box = New<TBox>(form);
  box->SetParent(form);
  form->Show();
  std::string caught;
  TObject* sender = nullptr;
  Application->OnException = [&](TObject* s, const std::exception& e) {
    caught = e.what();
    sender = s;
  };
  SendMessageA(box->GetHandle(), WM_USER + 2, 0, 0);
  EXPECT_EQ("handler failed", caught);
  EXPECT_EQ(box, sender);
  // A timer's handler too.
  caught.clear();
  TTimer* t = New<TTimer>(form);
  t->SetInterval(10);
  t->OnTimer = [&](TObject* s) {
    static_cast<TTimer*>(s)->SetEnabled(false);
    throw Exception("timer failed");
  };
  for (int i = 0; i < 200 && caught.empty(); ++i) {
    Application->ProcessMessages();
    Sleep(5);
  }
  EXPECT_EQ("timer failed", caught);
  EXPECT_EQ(42, SendMessageA(box->GetHandle(), WM_USER + 1, 0, 0));
}

TEST_F(FormsTest, PaintsThroughCanvas) {
  TBox* box = New<TBox>(form);
  box->SetParent(form);
  box->SetBounds(5, 5, 40, 40);
  form->Show();
  UpdateWindow(form->GetHandle());
  RedrawWindow(box->GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_GT(box->paints, 0);
}

TEST_F(FormsTest, ModalFormTimerAndCloseEndTheLoop) {
  TForm* dlg = TCustomForm::CreateNew<TForm>(form);
  dlg->SetBounds(80, 80, 200, 120);
  form->Show();
  TTimer* t = New<TTimer>(dlg);
  t->SetInterval(20);
  int fired = 0;
  bool mainDisabled = false;
  std::vector<std::string> order;
  dlg->OnClose = [&](TObject*, TCloseAction&) { order.push_back("close"); };
  t->OnTimer = [&](TObject*) {
    t->SetEnabled(false);  // one-shot
    ++fired;
    mainDisabled = !IsWindowEnabled(form->GetHandle());
    dlg->Close();
    order.push_back("after Close");
    EXPECT_EQ(mrCancel, dlg->GetModalResult());
    EXPECT_TRUE(dlg->GetVisible());  // still up: only the result was set
  };
  EXPECT_EQ(mrCancel, dlg->ShowModal());
  EXPECT_EQ(1, fired);
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(IsWindowEnabled(form->GetHandle()));
  EXPECT_FALSE(dlg->GetVisible());
  EXPECT_EQ((std::vector<std::string>{"after Close", "close"}), order);
  EXPECT_THROW({ dlg->Show(); dlg->ShowModal(); }, EInvalidOperation);
}

TEST_F(FormsTest, MenuCommandReachesOnClick) {
  TMainMenu* menu = New<TMainMenu>(form);
  TMenuItem* file = New<TMenuItem>(form);
  file->SetCaption("&File");
  TMenuItem* exit = New<TMenuItem>(form);
  exit->SetCaption("E&xit");
  file->Add(exit);
  menu->Items()->Add(file);
  form->SetMenu(menu);
  form->Show();
  ASSERT_NE(nullptr, GetMenu(form->GetHandle()));
  HMENU sub = GetSubMenu(GetMenu(form->GetHandle()), 0);
  ASSERT_NE(nullptr, sub);
  UINT id = GetMenuItemID(sub, 0);
  int clicks = 0;
  exit->OnClick = [&](TObject* s) {
    EXPECT_EQ(exit, s);
    ++clicks;
  };
  SendMessageA(form->GetHandle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
  EXPECT_EQ(1, clicks);
  char text[32] = {};
  GetMenuStringA(sub, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ("E&xit", text);
}

TEST_F(FormsTest, FreeingAFormWithControlsLeavesNoWindows) {
  TBox* box = New<TBox>(form);
  box->SetParent(form);
  form->Show();
  HWND fh = form->GetHandle(), bh = box->GetHandle();
  form->Free();
  form = nullptr;
  EXPECT_FALSE(IsWindow(fh));
  EXPECT_FALSE(IsWindow(bh));
}

std::string WindowTextA(HWND h) {
  char buffer[256] = {};
  GetWindowTextA(h, buffer, 256);
  return buffer;
}

TEST_F(FormsTest, DocumentChildrenLiveInTheMainFormsClientWindow) {
  form->SetFormStyle(fsMDIChild);
  EXPECT_THROW(form->HandleNeeded(), EInvalidOperation);  // no frame yet

  TForm* frame = nullptr;
  Application->CreateForm(frame);
  frame->SetFormStyle(fsMDIForm);
  frame->SetBounds(10, 10, 500, 400);
  frame->Show();
  frame->SetCaption("Frame");
  HWND client = frame->ClientHandle();
  ASSERT_NE(client, nullptr);
  form->Show();
  HWND child = form->GetHandle();
  EXPECT_EQ(GetParent(child), client);
  EXPECT_TRUE(GetWindowLongPtrA(child, GWL_EXSTYLE) & WS_EX_MDICHILD);
  SendMessageA(client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(child), 0);
  Pump();
  EXPECT_EQ(WindowTextA(frame->GetHandle()), "Frame - [Dispatch]");
  // The client window destroys the child's window.
  form->Free();
  form = nullptr;
  EXPECT_FALSE(IsWindow(child));
  EXPECT_EQ(GetWindow(client, GW_CHILD), nullptr);
  frame->Free();
}

TEST_F(FormsTest, LayeredFormsKeepAlphaAndColourKey) {
  form->SetAlphaBlend(true);
  form->SetAlphaBlendValue(300);  // kept within 0..255
  form->SetTransparentColorValue(RGB(9, 8, 7));
  form->SetTransparentColor(true);
  form->RecreateWnd();
  COLORREF key = 0;
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(form->GetHandle(), &key, &alpha, &flags));
  EXPECT_EQ(flags, DWORD(LWA_ALPHA | LWA_COLORKEY));
  EXPECT_EQ(alpha, 255);
  EXPECT_EQ(key, RGB(9, 8, 7));
  form->SetAlphaBlendValue(40);
  ASSERT_TRUE(GetLayeredWindowAttributes(form->GetHandle(), &key, &alpha, &flags));
  EXPECT_EQ(alpha, 40);
}

}  // namespace
