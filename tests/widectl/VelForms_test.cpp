// Unicode forms built from layout resources (a wide edit and label), the application's wide title, and wide characters typed
// into a Unicode edit under the library's 8-bit message loop; document frames and children, layered forms, menus after a
// move, and a modeless dialog under the message hook.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelForms.h"
#include "VelMenus.h"
#include "VelStdCtrls.h"
#include "VelSystem.h"
#include "hostenv.h"
#include "road.h"
#include "uifiler.h"
#include "uistdctrls.h"

namespace {

const wchar_t kMixed[] = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC \u263A \u4E2D\u6587";

std::wstring WindowText(HWND h) {
  wchar_t buffer[256] = {};
  SendMessageW(h, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

// The stored title, read as the task bar reads it (the application window is an 8-bit window, whose
// text messages go through the system code page).
std::wstring StoredTitle(HWND h) {
  wchar_t buffer[256] = {};
  InternalGetWindowText(h, buffer, 256);
  return buffer;
}

// Writes what the screen shows of `window` as a 24-bit BMP file.
void SaveScreenshot(HWND window, const std::string& path) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bmp);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  BITMAPFILEHEADER fh = {};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + stride * static_cast<DWORD>(h);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
    std::fwrite(bits, stride, static_cast<size_t>(h), f);
    std::fclose(f);
  }
  SelectObject(memory, old);
  DeleteObject(bmp);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

void PumpMessages() {
  for (int i = 0; i < 5; ++i) {
    ui::Application->ProcessMessages();
    Sleep(20);
  }
}

}  // namespace

class TWideLayoutForm : public TVelForm {
  UI_DECLARE_CLASS(TWideLayoutForm, TVelForm)
 public:
  TVelLabel* Label1 = nullptr;
  TVelEdit* Edit1 = nullptr;
  int created = 0;
  void FormCreate(ui::TObject*) { ++created; }
};

class TNoLayoutForm : public TVelForm {
  UI_DECLARE_CLASS(TNoLayoutForm, TVelForm)
};

static std::vector<ui::TFieldInfo> FormFields() {
  return {ui::PublishedField("Label1", &TWideLayoutForm::Label1), ui::PublishedField("Edit1", &TWideLayoutForm::Edit1)};
}
static std::vector<ui::TMethodInfo> FormMethods() {
  return {ui::PublishedMethod("FormCreate", &TWideLayoutForm::FormCreate)};
}
UI_IMPLEMENT_CLASS(TWideLayoutForm, TVelForm, nullptr, nullptr, FormFields, FormMethods)
UI_IMPLEMENT_CLASS(TNoLayoutForm, TVelForm, nullptr, nullptr, nullptr, nullptr)

namespace {

// Runs first: the application window must not exist yet.
TEST(VelApplicationTitle, SetBeforeTheWindowExistsAndAfter) {
  ASSERT_FALSE(ui::Application->HandleAllocated());
  VelApplication->SetTitleText(L"Quill \u263A");
  EXPECT_EQ(ui::Application->GetTitle(), "Quill ?");
  EXPECT_EQ(VelApplication->GetTitleText(), L"Quill \u263A");
  ui::Application->Initialize();
  HWND h = ui::Application->Handle();
  EXPECT_EQ(StoredTitle(h), L"Quill \u263A");
  EXPECT_EQ(VelApplication->GetTitleText(), L"Quill \u263A");

  VelApplication->SetTitleText(kMixed);
  EXPECT_EQ(StoredTitle(h), kMixed);
  // The library's own title follows, so its message boxes carry the same title.
  EXPECT_EQ(ui::Application->GetTitle(), WideToAnsi(kMixed));
  // A title set through the library takes over.
  ui::Application->SetTitle("Plain");
  EXPECT_EQ(VelApplication->GetTitleText(), L"Plain");
}

TEST(VelApplicationHint, FollowsTheLibrarysHint) {
  VelApplication->SetHintText(L"Open \u263A");
  EXPECT_EQ(ui::Application->GetHint(), "Open ?");
  ui::Application->SetHint("other");
  // Nothing with a hint is under the mouse: the library's hint widened.
  EXPECT_EQ(VelApplication->GetHintText(), L"other");
}

TEST(VelForm, BuiltFromItsLayoutShowsWideText) {
  TWideLayoutForm* form = ui::New<TWideLayoutForm>(ui::Application);
  ASSERT_NE(form->Edit1, nullptr);
  ASSERT_NE(form->Label1, nullptr);
  EXPECT_EQ(form->created, 1);
  form->Show();
  PumpMessages();
  ASSERT_TRUE(IsWindowUnicode(form->GetHandle()));
  EXPECT_EQ(WindowText(form->GetHandle()), kMixed);
  EXPECT_EQ(WindowText(form->Edit1->GetHandle()), kMixed);
  EXPECT_EQ(form->GetCaptionText(), kMixed);
  EXPECT_EQ(form->Label1->GetCaptionText(), kMixed);
  EXPECT_EQ(form->Label1->GetCaption(), WideToAnsi(kMixed));
  form->Repaint();
  const std::string shot = tq::WorkDir() + "\\wide_layout_form.bmp";
  SaveScreenshot(form->GetHandle(), shot);
  std::printf("screenshot of the wide form: %s\n", shot.c_str());
  form->Free();
}

TEST(VelForm, WithoutLayoutResource) {
  EXPECT_THROW(
      {
        try {
          ui::New<TNoLayoutForm>(nullptr);
        } catch (const ui::EResNotFound& e) {
          EXPECT_STREQ(e.what(), "Resource TNoLayoutForm not found");
          throw;
        }
      },
      ui::EResNotFound);
  // A plain form has no layout of its own.
  TVelForm* plain = ui::New<TVelForm>(nullptr);
  plain->SetCaptionText(L"\u263A");
  EXPECT_EQ(WindowText(plain->GetHandle()), L"\u263A");
  plain->Free();
}

TEST(VelForm, AnsiRoadMakesTheLibrarysWindow) {
  ScopedRoad ansi(false);
  TVelForm* form = ui::New<TVelForm>(nullptr);
  form->SetCaptionText(L"a\u263Ab");
  EXPECT_FALSE(IsWindowUnicode(form->GetHandle()));
  EXPECT_EQ(form->GetCaptionText(), L"a?b");
  form->Free();
}

class TypedCharacters : public ::testing::Test {
 protected:
  void SetUp() override {
    form = ui::New<TWideLayoutForm>(nullptr);
    edit = form->Edit1;
    edit->SetText(L"");
    edit->HandleNeeded();
  }
  void TearDown() override {
    ui::Application->OnMessage = ui::TMessageEvent();
    form->Free();
  }
  void Type(wchar_t c) {
    PostMessageW(edit->GetHandle(), WM_CHAR, c, 1);
    ui::Application->ProcessMessages();
  }
  TWideLayoutForm* form = nullptr;
  TVelEdit* edit = nullptr;
};

TEST_F(TypedCharacters, ReachTheUnicodeEditIntact) {
  ASSERT_NE(WideGetMessageHookHandle, nullptr);
  std::vector<WPARAM> seen;
  ui::Application->OnMessage = ui::TMessageEvent([&](MSG& msg, bool& handled) {
    if (msg.message != WM_CHAR) return;
    seen.push_back(msg.wParam);
    handled = msg.wParam == 0x4E2D;  // the application's event may still suppress a character
  });
  Type(0x263A);
  Type(0xE9);  // within the code page: the library's own road
  Type(0x4E2D);
  EXPECT_EQ(WindowText(edit->GetHandle()), L"\u263A\u00E9");
  EXPECT_EQ(seen, (std::vector<WPARAM>{0x263A, 0xE9, 0x4E2D}));
}

TEST_F(TypedCharacters, WithoutTheHookTheLoopLosesThem) {
  TVelApplication* saved = VelApplication;
  VelApplication = nullptr;  // the hook passes everything on
  Type(0x263A);
  VelApplication = saved;
  EXPECT_EQ(WindowText(edit->GetHandle()), L"?");
}

std::wstring MenuString(HMENU menu, UINT position) {
  wchar_t buffer[128] = {};
  GetMenuStringW(menu, position, buffer, 128, MF_BYPOSITION);
  return buffer;
}

TEST(VelForm, DocumentChildOpensInsideItsFrame) {
  TVelForm* orphan = ui::TCustomForm::CreateNew<TVelForm>(nullptr);
  orphan->SetFormStyle(ui::fsMDIChild);
  try {
    orphan->HandleNeeded();
    ADD_FAILURE() << "a document child without a frame was created";
  } catch (const ui::EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Cannot create form. No MDI forms are currently active");
  }
  orphan->Free();

  TVelForm* frame = nullptr;
  ui::Application->CreateForm(frame);
  ASSERT_EQ(ui::Application->MainForm(), frame);
  frame->SetFormStyle(ui::fsMDIForm);
  frame->SetBounds(10, 10, 600, 400);
  frame->Show();
  HWND client = frame->ClientHandle();
  ASSERT_NE(client, nullptr);
  frame->SetCaptionText(L"Frame \u263A");

  TVelForm* child = ui::TCustomForm::CreateNew<TVelForm>(frame);
  child->SetFormStyle(ui::fsMDIChild);
  child->SetCaptionText(L"\u4E2D\u6587");
  child->Show();
  PumpMessages();
  HWND h = child->GetHandle();
  EXPECT_TRUE(IsWindowUnicode(h));
  EXPECT_EQ(GetParent(h), client);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(client, WM_MDIGETACTIVE, 0, 0)), h);
  EXPECT_EQ(WindowText(h), L"\u4E2D\u6587");
  // Maximised, the child's default processing and the frame's put the child's title into the
  // frame's, in full.
  SendMessageW(client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(h), 0);
  PumpMessages();
  EXPECT_TRUE(IsZoomed(h));
  EXPECT_EQ(WindowText(frame->GetHandle()), L"Frame \u263A - [\u4E2D\u6587]");
  // The frame's client window fills it.
  RECT frameClient, clientRect;
  GetClientRect(frame->GetHandle(), &frameClient);
  GetWindowRect(client, &clientRect);
  EXPECT_EQ(clientRect.right - clientRect.left, frameClient.right);

  // The client window destroys the child's window, also when the frame's window is re-created.
  child->RecreateWnd();
  EXPECT_EQ(GetParent(child->GetHandle()), client);
  frame->RecreateWnd();
  EXPECT_FALSE(child->HandleAllocated());
  child->Show();
  EXPECT_EQ(GetParent(child->GetHandle()), frame->ClientHandle());
  child->Free();
  frame->Free();
  EXPECT_EQ(ui::Application->MainForm(), nullptr);
}

TEST(VelForm, LayeredLookSurvivesRecreation) {
  struct Case {
    const char* name;
    bool alpha, colorKey;
    DWORD flags;
  };
  const Case kCases[] = {{"alpha", true, false, LWA_ALPHA},
                         {"colour key", false, true, LWA_COLORKEY},
                         {"both", true, true, LWA_ALPHA | LWA_COLORKEY}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TVelForm* form = ui::TCustomForm::CreateNew<TVelForm>(nullptr);
    form->SetAlphaBlendValue(128);
    form->SetTransparentColorValue(RGB(1, 2, 3));
    form->SetAlphaBlend(c.alpha);
    form->SetTransparentColor(c.colorKey);
    form->HandleNeeded();
    form->RecreateWnd();
    HWND h = form->GetHandle();
    ASSERT_TRUE(IsWindowUnicode(h));
    EXPECT_TRUE(GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_LAYERED);
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(h, &key, &alpha, &flags));
    EXPECT_EQ(flags, c.flags);
    if (c.alpha) {
      EXPECT_EQ(alpha, 128);
    }
    if (c.colorKey) {
      EXPECT_EQ(key, RGB(1, 2, 3));
    }
    // Switched off, the window is plain again.
    form->SetAlphaBlend(false);
    form->SetTransparentColor(false);
    EXPECT_FALSE(GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_LAYERED);
    form->Free();
  }
}

TEST(VelForm, MovingRefreshesTheMenuStrings) {
  TVelForm* form = ui::TCustomForm::CreateNew<TVelForm>(nullptr);
  auto* menu = ui::New<TVelMainMenu>(form);
  menu->SetAutoHotkeys(ui::maManual);
  auto* item = ui::New<TVelMenuItem>(form);
  item->SetCaptionText(L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC");
  menu->Items()->Add(item);
  form->SetMenu(menu);
  form->SetBounds(30, 30, 300, 200);
  HWND h = form->GetHandle();
  HMENU bar = GetMenu(h);
  ASSERT_NE(bar, nullptr);
  ModifyMenuW(bar, 0, MF_BYPOSITION | MF_STRING, item->Command(), L"stale");
  ASSERT_EQ(MenuString(bar, 0), L"stale");
  SetWindowPos(h, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(MenuString(bar, 0), L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC");
  form->Free();
}

// What the dialog manager is shown: IsDialogMessage offers each message to the thread's message
// filters first.
std::vector<WPARAM> dialogChars;
LRESULT CALLBACK DialogFilter(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* m = reinterpret_cast<const MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && m->message == WM_CHAR) dialogChars.push_back(m->wParam);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class ModelessDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    form = ui::TCustomForm::CreateNew<TVelForm>(nullptr);
    form->SetBounds(50, 50, 300, 200);
    edit = ui::New<TVelEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(10, 10, 150, 24);
    button = ui::New<TVelButton>(form);
    button->SetParent(form);
    button->SetBounds(10, 50, 100, 28);
    button->SetCaptionText(L"\u0416\u0443\u043A");
    form->Show();
    SetFocus(edit->GetHandle());
    PumpMessages();
    dialogChars.clear();
    filter = SetWindowsHookExW(WH_MSGFILTER, DialogFilter, nullptr, GetCurrentThreadId());
  }
  void TearDown() override {
    UnhookWindowsHookEx(filter);
    ui::Application->DialogHandle = nullptr;
    form->Free();
  }
  void Post(HWND to, UINT message, WPARAM wParam) {
    PostMessageW(to, message, wParam, 1);
    ui::Application->ProcessMessages();
  }
  TVelForm* form = nullptr;
  TVelEdit* edit = nullptr;
  TVelButton* button = nullptr;
  HHOOK filter = nullptr;
};

TEST_F(ModelessDialog, TabsBetweenControlsAndKeepsWideCharacters) {
  ASSERT_EQ(GetFocus(), edit->GetHandle());
  // Not the current dialog: its characters pass the dialog manager by.
  Post(edit->GetHandle(), WM_CHAR, 0x263A);
  EXPECT_TRUE(dialogChars.empty());

  ui::Application->DialogHandle = form->GetHandle();
  Post(edit->GetHandle(), WM_CHAR, 0x4E2D);
  Post(edit->GetHandle(), WM_CHAR, 0xE9);  // within the code page: the library's loop
  EXPECT_EQ(dialogChars, (std::vector<WPARAM>{0x4E2D, 0xE9}));
  EXPECT_EQ(WindowText(edit->GetHandle()), L"\u263A\u4E2D\u00E9");
  Post(edit->GetHandle(), WM_KEYDOWN, VK_TAB);
  EXPECT_EQ(GetFocus(), button->GetHandle());
  Post(button->GetHandle(), WM_KEYDOWN, VK_TAB);
  EXPECT_EQ(GetFocus(), edit->GetHandle());
}

}  // namespace
