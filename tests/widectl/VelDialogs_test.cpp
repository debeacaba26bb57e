// The wide open dialog driven by a timer that fills in and confirms (or cancels) the system
// dialog; the wide message boxes found and closed from a timer; the wide clipboard.
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "VelClipBrd.h"
#include "VelDialogs.h"
#include "VelExtCtrls.h"
#include "VelForms.h"
#include "hostenv.h"

using namespace ui;

namespace {

const wchar_t kTitle[] = L"Quill \u263A \u4E2D\u6587";

// Runs `step` from a thread timer every 100 ms (inside whatever modal loop is running) until it
// answers true; after 10 s it runs `giveUp` instead, which must end the modal loop.
class TimerDriver {
 public:
  explicit TimerDriver(std::function<bool()> step, std::function<void()> giveUp = nullptr)
      : step_(std::move(step)), giveUp_(std::move(giveUp)) {
    current_ = this;
    id_ = SetTimer(nullptr, 0, 100, Tick);
  }
  ~TimerDriver() {
    KillTimer(nullptr, id_);
    current_ = nullptr;
  }
  int ticks = 0;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!current_ || current_->done_) return;
    ++current_->ticks;
    if (current_->ticks > 100) {  // never hang the test run
      current_->done_ = true;
      ADD_FAILURE() << "the dialog was not driven within 10 s";
      if (current_->giveUp_) current_->giveUp_();
      return;
    }
    current_->done_ = current_->step_();
  }
  static TimerDriver* current_;
  std::function<bool()> step_;
  std::function<void()> giveUp_;
  UINT_PTR id_;
  bool done_ = false;
};
TimerDriver* TimerDriver::current_ = nullptr;

BOOL CALLBACK FindVisibleDialog(HWND h, LPARAM found) {
  wchar_t cls[32] = {};
  GetClassNameW(h, cls, 32);
  if (std::wstring(cls) == L"#32770" && IsWindowVisible(h)) {
    *reinterpret_cast<HWND*>(found) = h;
    return FALSE;
  }
  return TRUE;
}

// The visible system file dialog of this thread, or null.
HWND FindFileDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Types `name` into the dialog's file-name box and presses OK.
bool FillAndConfirm(const std::wstring& name) {
  HWND dialog = FindFileDialog();
  if (!dialog) return false;
  HWND box = GetDlgItem(dialog, 0x47C);  // cmb13: the file-name combo box
  if (!box) box = GetDlgItem(dialog, 0x480);  // edt1
  if (!box) return false;
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  return true;
}

void CancelFileDialog() {
  if (HWND dialog = FindFileDialog()) PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

class OpenDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(MAX_PATH, saved_);
    folder = AnsiToWide(tq::WorkDir()) + L"\\\u6587\u4EF6 \u03B1";
    CreateDirectoryW(folder.c_str(), nullptr);
    file = folder + L"\\Pr\u00E4sentation \u263A.ppt";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    dialog = New<TVelOpenDialog>(nullptr);
    dialog->SetFilterText(L"PowerPoint Presentation files|*.ppt;*.pptx");
    dialog->SetDefaultExtText(L"ppt");
    dialog->SetOptions(ofHideReadOnly | ofPathMustExist | ofEnableSizing);
    dialog->SetInitialDirText(folder + L"\\");
  }
  void TearDown() override {
    dialog->Free();
    SetCurrentDirectoryW(saved_);  // the dialog moves the current folder
  }
  wchar_t saved_[MAX_PATH] = {};
  std::wstring folder, file;
  TVelOpenDialog* dialog = nullptr;
};

TEST_F(OpenDialog, ReturnsTheChosenWidePath) {
  EXPECT_EQ(dialog->GetInitialDirText(), folder);  // stored without its trailing backslash
  int shows = 0, closes = 0;
  dialog->OnShow = [&](TObject*) { ++shows; };
  dialog->OnClose = [&](TObject*) { ++closes; };
  // The first confirmation is refused: the dialog stays open and the timer confirms again.
  int queries = 0;
  std::wstring asked;
  dialog->OnCanClose = [&](TObject*, bool& canClose) {
    asked = dialog->GetFileNameText();
    canClose = ++queries > 1;
  };
  // The dialog opens in the initial folder: the name alone is typed.
  TimerDriver driver([&] { return FillAndConfirm(WideFileNameOfPath(file)) && queries > 1; }, CancelFileDialog);
  ASSERT_TRUE(dialog->Execute());
  EXPECT_EQ(queries, 2);
  EXPECT_EQ(asked, file);
  EXPECT_EQ(dialog->GetFileNameText(), file);
  ASSERT_EQ(dialog->WideFiles()->Count(), 1);
  EXPECT_EQ(dialog->WideFiles()->GetItemAt(0), file);
  EXPECT_EQ(dialog->Files()->Get(0), WideToAnsi(file));
  EXPECT_EQ(dialog->GetFileName(), WideToAnsi(file));
  EXPECT_EQ(dialog->GetFilterIndex(), 1);
  EXPECT_EQ(shows, 1);
  EXPECT_EQ(closes, 1);
}

TEST_F(OpenDialog, CancelKeepsTheFileName) {
  dialog->SetFileNameText(L"before \u263A.ppt");
  TimerDriver driver([] {
    HWND dialog = FindFileDialog();
    if (!dialog) return false;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return true;
  }, CancelFileDialog);
  EXPECT_FALSE(dialog->Execute());
  EXPECT_EQ(dialog->GetFileNameText(), L"before \u263A.ppt");
}

TEST(OpenDialogProperties, InitialFolderAndTextSync) {
  auto* dialog = New<TVelOpenDialog>(nullptr);
  struct Case {
    const wchar_t* value;
    const wchar_t* stored;
  };
  const Case kCases[] = {{L"C:\\", L"C:\\"}, {L"\\", L"\\"}, {L"C:\\a\\", L"C:\\a"}, {L"C:\\a\\\\", L"C:\\a\\"},
                         {L"\u263A\\", L"\u263A"}};
  for (const Case& c : kCases) {
    dialog->SetInitialDirText(c.value);
    EXPECT_EQ(dialog->GetInitialDirText(), c.stored) << testing::PrintToString(std::wstring(c.value));
  }
  // A value set through the base is seen through the wide property.
  dialog->SetTitleText(L"\u263A");
  dialog->SetTitle("Open");
  EXPECT_EQ(dialog->GetTitleText(), L"Open");
  dialog->Free();
}

// ---- Message boxes --------------------------------------------------------------------------

TVelMessageForm* ShownMessageForm() {
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (auto* f = dynamic_cast<TVelMessageForm*>(Screen->Forms(i)))
      if (f->HandleAllocated() && IsWindowVisible(f->GetHandle())) return f;
  return nullptr;
}

std::wstring ClipboardUnicodeText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return text;
}

TEST(MessageDialogs, ShowWideMessageShowsOneOkButtonUnderTheApplicationTitle) {
  VelApplication->SetTitleText(kTitle);
  const std::wstring message = L"C:\\\u6587\u4EF6\\a.ppt was opened by other application, please close it!";
  std::wstring windowTitle, labelText, copied;
  int buttons = 0, images = 0;
  HWND okButton = nullptr;
  bool isDefault = false, isCancel = false, centred = false;
  TimerDriver driver([&] {
    TVelMessageForm* form = ShownMessageForm();
    if (!form) return false;
    wchar_t title[128] = {};
    GetWindowTextW(form->GetHandle(), title, 128);
    windowTitle = title;
    labelText = form->Message->GetCaptionText();
    for (int i = 0; i < form->ComponentCount(); ++i) {
      if (auto* b = dynamic_cast<TVelButton*>(form->Components(i))) {
        ++buttons;
        isDefault = b->GetDefault() && b->GetCaptionText() == L"OK" && b->GetName() == "OK";
        isCancel = b->GetCancel();
        okButton = b->GetHandle();
      }
      images += dynamic_cast<TVelImage*>(form->Components(i)) != nullptr;
    }
    RECT r;
    GetWindowRect(form->GetHandle(), &r);
    centred = std::abs((r.left + r.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2) <= 2 &&
              std::abs((r.top + r.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2) <= 2;
    WORD key = 'C';
    form->OnKeyDown(form, key, ssCtrl);
    copied = ClipboardUnicodeText();
    // Esc presses the cancel button, here the OK button.
    PostMessageW(okButton, WM_KEYDOWN, VK_ESCAPE, 0);
    return true;
  }, [] {
    if (TVelMessageForm* form = ShownMessageForm()) form->SetModalResult(mrAbort);
  });
  EXPECT_EQ(ShowWideMessage(message), mrOk);
  EXPECT_EQ(windowTitle, kTitle);
  EXPECT_EQ(labelText, message);
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(images, 0);
  EXPECT_TRUE(isDefault);
  EXPECT_TRUE(isCancel);
  EXPECT_TRUE(centred);
  const std::wstring divider = std::wstring(27, L'-') + L"\r\n";
  EXPECT_EQ(copied, divider + kTitle + L"\r\n" + divider + message + L"\r\n" + divider + L"OK   \r\n" + divider);
  EXPECT_EQ(ShownMessageForm(), nullptr);  // freed
}

TEST(MessageDialogs, LayoutFollowsMessageAndButtons) {
  // A long message wraps at half the screen's width.
  const std::wstring longMessage(400, L'\u4E2D');
  TVelMessageForm* wide = CreateWideMessageDialog(longMessage, mtWarning, MsgDlgButton(mbOK), mbOK);
  EXPECT_LE(wide->Message->GetWidth(), GetSystemMetrics(SM_CXSCREEN) / 2);
  EXPECT_GT(wide->Message->GetHeight(), wide->Message->GetWidth() / 40);
  EXPECT_EQ(wide->GetCaptionText(), L"Warning");
  EXPECT_NE(wide->FindComponent("Image"), nullptr);
  wide->Free();

  // Many buttons: the box is as wide as the row plus margins, buttons in table order.
  const TMsgDlgButtons all = 0x7FF;
  TVelMessageForm* many = CreateWideMessageDialog(L"x", mtConfirmation, all, mbYes);
  auto* yes = dynamic_cast<TVelButton*>(many->FindComponent("Yes"));
  auto* help = dynamic_cast<TVelButton*>(many->FindComponent("Help"));
  ASSERT_TRUE(yes && help);
  EXPECT_EQ(yes->GetLeft(), many->GetClientWidth() - (help->GetLeft() + help->GetWidth()));
  EXPECT_TRUE(yes->GetDefault());
  EXPECT_TRUE(dynamic_cast<TVelButton*>(many->FindComponent("Cancel"))->GetCancel());
  EXPECT_EQ(dynamic_cast<TVelButton*>(many->FindComponent("NoToAll"))->GetModalResult(), mrNoToAll);
  many->Free();
}

// The Help button asks the application for help at the box's topic, with the box's own help file in
// force while it is active; the box stays open. Without a handler or a help file nothing takes it.
TEST(MessageDialogs, HelpButtonOpensTheApplicationsHelpAtTheTopic) {
  EXPECT_FALSE(Application->HelpContext(7));  // no handler, no file
  std::vector<std::pair<WORD, ULONG_PTR>> requests;
  std::string fileInForce;
  Application->OnHelp = [&](WORD command, ULONG_PTR data, bool& callHelp) {
    requests.emplace_back(command, data);
    TCustomForm* active = Screen->ActiveForm();
    fileInForce = active ? active->HelpFile : std::string();
    callHelp = false;  // the test has no help viewer to open
    return true;
  };
  int phase = 0;
  TimerDriver driver([&] {
    TVelMessageForm* form = ShownMessageForm();
    if (!form) return false;
    auto* help = dynamic_cast<TVelButton*>(form->FindComponent("Help"));
    auto* ok = dynamic_cast<TVelButton*>(form->FindComponent("OK"));
    if (!help || !ok) return false;
    if (phase++ == 0) {
      SendMessageW(help->GetHandle(), BM_CLICK, 0, 0);
      return false;
    }
    SendMessageW(ok->GetHandle(), BM_CLICK, 0, 0);
    return true;
  }, [] {
    if (TVelMessageForm* form = ShownMessageForm()) form->SetModalResult(mrAbort);
  });
  EXPECT_EQ(ShowWideMessageDialogPosHelp(L"Help?", mtInformation, MsgDlgButton(mbOK) | MsgDlgButton(mbHelp), 42, -1,
                                         -1, L"guide.hlp"),
            mrOk);
  Application->OnHelp = nullptr;
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, HELP_CONTEXT);
  EXPECT_EQ(requests[0].second, 42u);
  EXPECT_EQ(fileInForce, "guide.hlp");
}

TEST(MessageDialogs, CaptionTables) {
  struct Case {
    unsigned value;
    const wchar_t* caption;
  };
  const Case kTypes[] = {{mtWarning, L"Warning"}, {mtError, L"Error"}, {mtInformation, L"Information"},
                         {mtConfirmation, L"Confirm"}, {mtCustom, L""}, {0x80 | mtError, L"Error"}};
  for (const Case& c : kTypes) EXPECT_EQ(GetMessageCaption(c.value), c.caption);
  const Case kButtons[] = {{mbYes, L"&Yes"}, {mbOK, L"OK"}, {mbNoToAll, L"N&o to All"}, {mbHelp, L"&Help"}};
  for (const Case& c : kButtons) EXPECT_EQ(GetButtonCaption(c.value), c.caption);
  EXPECT_THROW(GetMessageCaption(5), EVelInternalError);
  EXPECT_THROW(GetButtonCaption(11), EVelInternalError);
  EXPECT_THROW(CreateWideMessageDialog(L"x", static_cast<TMsgDlgType>(7), MsgDlgButton(mbOK), mbOK), EVelInternalError);
}

TEST(WideClipboard, PutsBothTextForms) {
  const std::wstring text = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC \u263A abc";
  VelClipboardInstance()->SetAsWideText(text);
  EXPECT_EQ(ClipboardUnicodeText(), text);
  EXPECT_EQ(VelClipboardInstance()->GetAsText(), WideToAnsi(text));

  VelClipboardInstance()->SetAsWideText(L"");
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE h = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 2u);
  CloseClipboard();
}

}  // namespace
