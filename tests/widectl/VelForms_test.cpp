// Unicode forms built from layout resources, the application's wide title, and wide characters typed
// into a Unicode edit under the library's 8-bit message loop.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelForms.h"
#include "VelSystem.h"
#include "VelWindows.h"
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

// A Unicode edit with a wide Text, and a label that draws its wide caption.
class TWideLayoutEdit : public ui::TEdit {
  UI_DECLARE_CLASS(TWideLayoutEdit, ui::TEdit)
 public:
  std::wstring GetTextW() const { return WideGetControlText(const_cast<TWideLayoutEdit*>(this)); }
  void SetTextW(const std::wstring& s) { WideSetControlText(this, s); }

 protected:
  void CreateWindowHandle(const ui::TCreateParams& p) override { CreateUnicodeWindowHandle(this, p, L"EDIT"); }
};

class TWideTestLabel : public ui::TLabel {
  UI_DECLARE_CLASS(TWideTestLabel, ui::TLabel)
 public:
  std::wstring GetCaptionW() const { return WideGetControlText(const_cast<TWideTestLabel*>(this)); }
  void SetCaptionW(const std::wstring& s) { WideSetControlText(this, s); }

 protected:
  void DoDrawText(RECT& r, UINT flags) override {
    const std::wstring text = WideGetControlText(this);
    canvas_->SetFont(font_);
    WideDrawText(canvas_->GetHandle(), text.c_str(), -1, &r, flags);
  }
};

class TWideLayoutForm : public TVelForm {
  UI_DECLARE_CLASS(TWideLayoutForm, TVelForm)
 public:
  TWideTestLabel* Label1 = nullptr;
  TWideLayoutEdit* Edit1 = nullptr;
  int created = 0;
  void FormCreate(ui::TObject*) { ++created; }
};

class TNoLayoutForm : public TVelForm {
  UI_DECLARE_CLASS(TNoLayoutForm, TVelForm)
};

static std::vector<ui::TPropInfo> EditProps() {
  return {ui::prop::WStr("Text", &TWideLayoutEdit::GetTextW, &TWideLayoutEdit::SetTextW)};
}
static std::vector<ui::TPropInfo> LabelProps() {
  return {ui::prop::WStr("Caption", &TWideTestLabel::GetCaptionW, &TWideTestLabel::SetCaptionW)};
}
static std::vector<ui::TFieldInfo> FormFields() {
  return {ui::PublishedField("Label1", &TWideLayoutForm::Label1), ui::PublishedField("Edit1", &TWideLayoutForm::Edit1)};
}
static std::vector<ui::TMethodInfo> FormMethods() {
  return {ui::PublishedMethod("FormCreate", &TWideLayoutForm::FormCreate)};
}
UI_IMPLEMENT_CLASS(TWideLayoutEdit, ui::TEdit, ui::DefaultFactory<TWideLayoutEdit>, EditProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWideTestLabel, ui::TLabel, ui::DefaultFactory<TWideTestLabel>, LabelProps, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWideLayoutForm, TVelForm, nullptr, nullptr, FormFields, FormMethods)
UI_IMPLEMENT_CLASS(TNoLayoutForm, TVelForm, nullptr, nullptr, nullptr, nullptr)

namespace {

struct RegisterTestClasses {
  RegisterTestClasses() { ui::RegisterClasses({&TWideLayoutEdit::StaticClassInfo, &TWideTestLabel::StaticClassInfo}); }
} registerTestClasses;

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
  EXPECT_EQ(WideGetControlText(form->Label1), kMixed);
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
    edit->SetTextW(L"");
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
  TWideLayoutEdit* edit = nullptr;
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

}  // namespace
