// The application object: main form, Run until the main form closes, message and idle events,
// application-event components, main-window hooks, the screen's form list and cursor table.
#include <gtest/gtest.h>

#include "uibitmap.h"
#include "hostenv.h"
#include "uiforms.h"

using namespace ui;

namespace {

TEST(Application, RunsUntilTheMainFormClosesAndDeliversItsEvents) {
  Application->Initialize();
  Application->SetTitle("App test");
  TForm* main = nullptr;
  Application->CreateForm(main);
  ASSERT_EQ(main, Application->MainForm());
  EXPECT_EQ(1, Screen->FormCount());
  EXPECT_EQ(main, Screen->Forms(0));

  int idles = 0, messages = 0, appEventsMessages = 0, hooked = 0, closeQueries = 0;
  std::vector<std::string> order;
  Application->OnIdle = [&](TObject*, bool& done) {
    ++idles;
    done = true;
  };
  Application->OnMessage = [&](MSG& msg, bool& handled) {
    ++messages;
    if (msg.message == WM_USER + 7) handled = true;  // swallowed before dispatch
  };
  auto* events = New<TApplicationEvents>(main);
  events->OnMessage = [&](MSG&, bool&) { ++appEventsMessages; };
  TWindowHook hook = [&](TMessage& m) {
    if (m.Msg == WM_USER + 8) {
      ++hooked;
      m.Result = 99;
      return true;
    }
    return false;
  };
  Application->HookMainWindow(hook);
  EXPECT_TRUE(Application->HandleAllocated());  // made by Initialize
  main->OnShow = [&](TObject*) { order.push_back("show"); };
  main->OnCloseQuery = [&](TObject*, bool& can) {
    ++closeQueries;
    can = closeQueries > 1;  // the first close is refused
  };
  main->OnClose = [&](TObject*, TCloseAction&) { order.push_back("close"); };
  TTimer* t = New<TTimer>(main);
  t->SetInterval(30);
  int ticks = 0;
  t->OnTimer = [&](TObject*) {
    ++ticks;
    if (ticks == 1) {
      EXPECT_EQ(99, SendMessageA(Application->Handle(), WM_USER + 8, 0, 0));
      PostMessageA(main->GetHandle(), WM_USER + 7, 0, 0);
      main->Close();  // refused by OnCloseQuery
    } else if (idles > 0 || ticks > 300) {
      // Close once the loop has been idle at least once (a busy machine may need a few ticks).
      main->Close();
    }
  };
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_GE(ticks, 2);
  EXPECT_EQ(2, closeQueries);
  EXPECT_EQ((std::vector<std::string>{"show", "close"}), order);
  EXPECT_EQ(1, hooked);
  EXPECT_GT(messages, 0);
  EXPECT_GT(appEventsMessages, 0);
  EXPECT_GT(idles, 0);
  Application->UnhookMainWindow(hook);
  EXPECT_EQ(0, SendMessageA(Application->Handle(), WM_USER + 8, 0, 0));
  char title[64] = {};
  GetWindowTextA(Application->Handle(), title, sizeof title);
  EXPECT_STREQ("App test", title);
  EXPECT_FALSE(IsWindowVisible(Application->Handle()));
  Application->OnIdle = nullptr;
  Application->OnMessage = nullptr;
  // Without an OnException of the application, its event components get the error.
  std::string caught;
  events->OnException = [&](TObject*, const std::exception& e) { caught = e.what(); };
  TTimer* failing = New<TTimer>(main);
  failing->SetInterval(10);
  failing->OnTimer = [&](TObject*) {
    failing->SetEnabled(false);
    throw EInvalidOperation("from a timer");
  };
  for (int i = 0; i < 100 && caught.empty(); ++i) {
    Application->ProcessMessages();
    Sleep(5);
  }
  EXPECT_EQ("from a timer", caught);
  main->Free();
  EXPECT_EQ(nullptr, Application->MainForm());
  EXPECT_EQ(0, Screen->FormCount());
}

TEST(Screen, CursorTableHoldsStandardAndAddedCursors) {
  EXPECT_NE(nullptr, Screen->GetCursors(crDefault));
  EXPECT_NE(nullptr, Screen->GetCursors(crHourGlass));
  HCURSOR own = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_CROSS));
  Screen->SetCursors(1, own);
  EXPECT_EQ(own, Screen->GetCursors(1));
  EXPECT_EQ(Screen->GetCursors(crDefault), Screen->GetCursors(12345));  // unknown ids fall back
  EXPECT_GT(Screen->Width(), 0);
}

TEST(Icon, LoadsAnIconFileWrittenByAnotherTool) {
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; "
                           "Image.new('RGBA',(32,32),(0,0,255,255)).save('blue.ico', sizes=[(16,16),(32,32)])\""));
  TIcon icon;
  icon.LoadFromFile(tq::WorkFile("blue.ico"));
  EXPECT_EQ(32, icon.GetWidth());
  ASSERT_NE(nullptr, icon.GetHandle());
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetWidth(32);
  b.SetHeight(32);
  b.Canvas()->Draw(0, 0, &icon);
  EXPECT_EQ(RGB(0, 0, 255), static_cast<COLORREF>(b.Canvas()->GetPixel(16, 16)));
  TMemoryStream bad;
  bad.WriteBuffer("\0\0\1\0\5\0", 6);  // five entries promised, none present
  bad.SetPosition(0);
  EXPECT_THROW(icon.LoadFromStream(&bad), EInvalidGraphic);
  EXPECT_NE(nullptr, icon.GetHandle());  // the icon it had is kept
}

}  // namespace
