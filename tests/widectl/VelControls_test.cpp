// Unicode windows under the library's controls (the trap, re-creation, characters above 255,
// notification formats) and the wide text and hints of controls with and without windows.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VelControls.h"
#include "VelForms.h"
#include "VelSystem.h"
#include "road.h"
#include "uiactions.h"
#include "uiforms.h"
#include "uistdctrls.h"

namespace {

const wchar_t kMixed[] = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC \u263A \u4E2D\u6587";

// An edit whose window is made by the layer, counting the library's text-changed notifications.
class TWideTestEdit : public ui::TEdit {
  UI_DECLARE_CLASS(TWideTestEdit, ui::TEdit)
 public:
  int textChanges = 0;
  void WndProc(ui::TMessage& m) override {
    if (m.Msg == ui::CM_TEXTCHANGED) ++textChanges;
    inherited::WndProc(m);
  }

 protected:
  void CreateWindowHandle(const ui::TCreateParams& p) override { CreateUnicodeWindowHandle(this, p, L"EDIT"); }
};

class TWideTestForm : public ui::TForm {
  UI_DECLARE_CLASS(TWideTestForm, ui::TForm)
 protected:
  void CreateWindowHandle(const ui::TCreateParams& p) override { CreateUnicodeWindowHandle(this, p, L""); }
};

}  // namespace

UI_IMPLEMENT_CLASS(TWideTestEdit, ui::TEdit, nullptr, nullptr, nullptr, nullptr)
UI_IMPLEMENT_CLASS(TWideTestForm, ui::TForm, nullptr, nullptr, nullptr, nullptr)

namespace {

std::wstring WindowText(HWND h) {
  wchar_t buffer[256] = {};
  SendMessageW(h, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

class UnicodeWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    form = ui::TCustomForm::CreateNew<TWideTestForm>(nullptr);
    form->SetBounds(10, 10, 300, 200);
    edit = ui::New<TWideTestEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(8, 8, 200, 24);
  }
  void TearDown() override { form->Free(); }
  TWideTestForm* form = nullptr;
  TWideTestEdit* edit = nullptr;
};

TEST_F(UnicodeWindows, KeepWideTextAndTheLibrarysTextInStep) {
  HWND h = edit->GetHandle();
  ASSERT_TRUE(IsWindowUnicode(h));
  ASSERT_TRUE(IsWindowUnicode(form->GetHandle()));
  // The window carries the library's properties, so the library finds its control.
  EXPECT_EQ(ui::FindControl(h), edit);
  EXPECT_EQ(LayerControlAtom, ui::ControlAtom());

  WideSetControlText(edit, kMixed);
  EXPECT_EQ(WindowText(h), kMixed);
  EXPECT_EQ(WideGetControlText(edit), kMixed);
  // The library reads the system's 8-bit conversion of the window's text.
  EXPECT_EQ(edit->GetText(), WideToAnsi(kMixed));

  // Text set through the library's 8-bit road reaches the window converted by the system.
  edit->SetText("caf\xE9");
  EXPECT_EQ(WideGetControlText(edit), AnsiToWide("caf\xE9"));
  EXPECT_EQ(edit->GetText(), "caf\xE9");
}

TEST_F(UnicodeWindows, SameTextTwiceNotifiesOnce) {
  edit->HandleNeeded();
  edit->textChanges = 0;
  WideSetControlText(edit, L"\u263A");
  WideSetControlText(edit, L"\u263A");
  EXPECT_EQ(edit->textChanges, 1);
}

TEST_F(UnicodeWindows, TextSurvivesRecreation) {
  edit->HandleNeeded();  // the text lives in the window only
  WideSetControlText(edit, kMixed);
  WideSetControlText(form, L"Form \u263A");
  for (int round = 0; round < 2; ++round) {
    form->SetBorderStyle(round == 0 ? ui::bsSingle : ui::bsSizeable);  // re-creates the form's window
    edit->RecreateWnd();
    ASSERT_TRUE(IsWindowUnicode(edit->GetHandle()));
    EXPECT_EQ(WindowText(edit->GetHandle()), kMixed) << "round " << round;
    EXPECT_EQ(WindowText(form->GetHandle()), L"Form \u263A") << "round " << round;
    EXPECT_EQ(ui::FindControl(edit->GetHandle()), edit);
  }
  // The trap is in place on the new window: the library's own text still goes through the system.
  edit->SetText("x");
  EXPECT_EQ(WindowText(edit->GetHandle()), L"x");
}

TEST_F(UnicodeWindows, WindowlessCaptionReachesTheWindow) {
  WideSetControlText(edit, kMixed);
  EXPECT_FALSE(edit->HandleAllocated());
  EXPECT_EQ(WideGetControlText(edit), kMixed);
  EXPECT_EQ(edit->GetText(), WideToAnsi(kMixed));
  EXPECT_EQ(WindowText(edit->GetHandle()), kMixed);
}

TEST_F(UnicodeWindows, LibraryTextChangedWithoutWindowWinsOverTheKeptCaption) {
  WideSetControlText(edit, kMixed);
  edit->HandleNeeded();
  edit->DestroyHandle();
  // Changed behind the layer's back while the control has no window: the kept wide caption is stale.
  edit->SetText("plain");
  EXPECT_EQ(WideGetControlText(edit), L"plain");
  EXPECT_EQ(WindowText(edit->GetHandle()), L"plain");
}

TEST_F(UnicodeWindows, CharactersAbove255PassTheLibrarysKeyHandlers) {
  std::vector<int> seen;
  char replaceWith = -1;
  edit->OnKeyPress = ui::TKeyPressEvent([&](ui::TObject*, char& key) {
    seen.push_back(static_cast<unsigned char>(key));
    if (replaceWith != -1) key = replaceWith;
  });
  HWND h = edit->GetHandle();
  SendMessageW(h, WM_CHAR, 0x263A, 1);
  SendMessageW(h, WM_CHAR, L'a', 1);
  replaceWith = 0;  // a handler that swallows the key also drops the wide character
  SendMessageW(h, WM_CHAR, 0x4E2D, 1);
  EXPECT_EQ(WindowText(h), L"\u263Aa");
  EXPECT_EQ(seen, (std::vector<int>{255, 'a', 255}));
}

TEST_F(UnicodeWindows, AnswersNotifyFormatByTheAskingWindow) {
  HWND parent = form->GetHandle();
  HWND wideChild = edit->GetHandle();
  HWND ansiChild = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 5, 5, parent, nullptr, nullptr, nullptr);
  ASSERT_NE(ansiChild, nullptr);
  EXPECT_EQ(SendMessageW(parent, WM_NOTIFYFORMAT, reinterpret_cast<WPARAM>(wideChild), NF_QUERY), NFR_UNICODE);
  EXPECT_EQ(SendMessageW(parent, WM_NOTIFYFORMAT, reinterpret_cast<WPARAM>(ansiChild), NF_QUERY), NFR_ANSI);
  {
    ScopedRoad ansi(false);
    EXPECT_EQ(SendMessageW(parent, WM_NOTIFYFORMAT, reinterpret_cast<WPARAM>(wideChild), NF_QUERY), NFR_ANSI);
  }
  DestroyWindow(ansiChild);
}

TEST_F(UnicodeWindows, FormFreedUnderItsOwnMessage) {
  // Release frees the form while the trap's window procedure is running.
  TWideTestForm* doomed = ui::TCustomForm::CreateNew<TWideTestForm>(nullptr);
  HWND h = doomed->GetHandle();
  doomed->Release();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(UnicodeWindows, AnsiRoadMakesTheLibrarysWindow) {
  ScopedRoad ansi(false);
  WideSetControlText(edit, L"a\u263Ab");
  HWND h = edit->GetHandle();
  EXPECT_FALSE(IsWindowUnicode(h));
  EXPECT_EQ(ui::FindControl(h), edit);
  EXPECT_EQ(WideGetControlText(edit), L"a?b");
}

TEST(UnicodeClass, RegisteredOnceAndStaleRegistrationReplaced) {
  ui::TCreateParams p;
  p.WinClassName = "TStaleTestClass";
  p.WindowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  WNDCLASSW stale = {};
  stale.lpfnWndProc = DefWindowProcW;
  stale.hInstance = GetModuleHandleW(nullptr);
  stale.lpszClassName = L"TStaleTestClass.UnicodeClass";
  ASSERT_TRUE(RegisterClassW(&stale));
  std::wstring name;
  RegisterUnicodeClass(p, name);
  EXPECT_EQ(name, L"TStaleTestClass.UnicodeClass");
  WNDCLASSW wc = {};
  ASSERT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), name.c_str(), &wc));
  EXPECT_EQ(wc.lpfnWndProc, UnicodeCreationHook);
  EXPECT_EQ(wc.hCursor, p.WindowClass.hCursor);
  // A second registration finds the hook and leaves the class alone.
  RegisterUnicodeClass(p, name);
  ASSERT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), name.c_str(), &wc));
  EXPECT_EQ(wc.lpfnWndProc, UnicodeCreationHook);
}

TEST(UnicodeClass, SubClassingAnAnsiWindowIsAnInternalError) {
  ScopedRoad ansi(false);
  TWideTestEdit* edit = ui::New<TWideTestEdit>(nullptr);
  edit->SetParentWindow(GetDesktopWindow());
  edit->HandleNeeded();
  IsUnicodePlatform = true;
  EXPECT_THROW(SubClassUnicodeControl(edit, ""), EVelInternalError);
  IsUnicodePlatform = false;
  edit->Free();
}

TEST(CharMessage, CarriesTheCharacterAboveTheLowByte) {
  struct Case {
    WPARAM in;
    WPARAM safe;
    WPARAM handlerSets;  // what a library handler leaves in the message (kept: the same as safe)
    WPARAM restored;
    wchar_t carried;
  };
  const Case kCases[] = {
      {L'a', L'a', L'a', L'a', 0},
      {0xE9, 0xE9, 0xE9, 0xE9, 0},
      {0x263A, 0x263A00FF, 0x263A00FF, 0x263A, 0x263A},
      {0x263A, 0x263A00FF, 0x263A0000, 0, 0x263A},      // swallowed by the handler
      {0x263A, 0x263A00FF, 0x263A0062, L'b', 0x263A},   // replaced by the handler
  };
  for (const Case& c : kCases) {
    ui::TMessage m = {WM_CHAR, c.in, 0, 0};
    MakeCharMessageSafeForAnsi(m);
    EXPECT_EQ(m.WParam, c.safe) << std::hex << c.in;
    m.WParam = c.handlerSets;
    EXPECT_EQ(RestoreCharMessage(m), c.carried) << std::hex << c.in;
    EXPECT_EQ(m.WParam, c.restored) << std::hex << c.in;
  }
  ui::TMessage used = {WM_CHAR, 0x10041, 0, 0};
  EXPECT_THROW(MakeCharMessageSafeForAnsi(used), ui::EAssertionFailed);
}

// ---- wide text without windows --------------------------------------------------------------

class LabelText : public BothRoads {
 protected:
  void SetUp() override {
    BothRoads::SetUp();
    label = ui::New<ui::TLabel>(nullptr);
  }
  void TearDown() override {
    label->Free();
    BothRoads::TearDown();
  }
  ui::TLabel* label = nullptr;
};

TEST_P(LabelText, WideCaptionHoldsUntilTheLibraryChangesIt) {
  WideSetControlText(label, L"a\u263Ab");
  EXPECT_EQ(label->GetCaption(), "a?b");
  EXPECT_EQ(WideGetControlText(label), Unicode() ? L"a\u263Ab" : L"a?b");
  label->SetCaption("plain");
  EXPECT_EQ(WideGetControlText(label), L"plain");
}

TEST_P(LabelText, WideHintAndTheParentsHint) {
  ui::TPanel* panel = ui::New<ui::TPanel>(nullptr);
  label->SetParent(panel);
  WideSetControlHint(panel, L"Open|Opens \u263A");
  EXPECT_EQ(panel->GetHint(), "Open|Opens ?");
  EXPECT_EQ(WideGetHintOfControlOrParent(label), Unicode() ? L"Open|Opens \u263A" : L"Open|Opens ?");
  WideSetControlHint(label, L"own");
  EXPECT_EQ(WideGetHintOfControlOrParent(label), L"own");
  label->SetParent(nullptr);
  panel->Free();
}

INSTANTIATE_TEST_SUITE_P(Roads, LabelText, ::testing::Bool(), RoadName);

TEST(WideText, CompanionGoesWithItsControl) {
  ui::TLabel* label = ui::New<ui::TLabel>(nullptr);
  WideSetControlText(label, L"\u263A");
  ASSERT_NE(GetWideControlHelper(label, false), nullptr);
  TWideControlHelper* helper = GetWideControlHelper(label, false);
  ui::TLabel* other = ui::New<ui::TLabel>(nullptr);
  WideSetControlText(other, L"\u4E2D");
  EXPECT_NE(GetWideControlHelper(other, false), helper);
  label->Free();
  EXPECT_EQ(WideGetControlText(other), L"\u4E2D");
  other->Free();
}

TEST(WideText, CaptionAndHintShownFromAnActionAreNotStored) {
  ui::TAction* action = ui::New<ui::TAction>(nullptr);
  action->SetCaption("Run");
  action->SetHint("Runs");
  ui::TLabel* label = ui::New<ui::TLabel>(nullptr);
  EXPECT_TRUE(IsWideCaptionStored(label));
  label->SetAction(action);
  EXPECT_FALSE(IsWideCaptionStored(label));
  EXPECT_FALSE(IsWideHintStored(label));
  WideSetControlText(label, L"Mine \u263A");  // no longer the action's caption
  EXPECT_TRUE(IsWideCaptionStored(label));
  EXPECT_FALSE(IsWideHintStored(label));
  label->Free();
  action->Free();
}

TEST(WideText, SynchronisationRule) {
  struct Case {
    const wchar_t* stored;
    const char* current;  // the library's 8-bit value
    const wchar_t* value;
    std::vector<std::string> setterCalls;
  };
  const Case kCases[] = {
      {L"", "", L"abc", {"abc"}},
      {L"abc", "abc", L"abc", {}},                      // unchanged
      {L"\u263A", "?", L"\u263A", {}},                  // still valid
      {L"\u263A", "?", L"\u4E2D", {"", "?"}},           // same 8-bit form: the library sees a change
      {L"\u263A", "changed", L"\u263A", {"?"}},         // stale stored value
      {L"x", "x", L"?", {"?"}},                         // representable: no detour
  };
  for (const Case& c : kCases) {
    std::wstring stored = c.stored;
    std::string current = c.current;
    std::vector<std::string> calls;
    SetSyncedWideText(c.value, stored, current, [&](const std::string& s) {
      calls.push_back(s);
      current = s;
    });
    EXPECT_EQ(calls, c.setterCalls) << c.current;
    EXPECT_EQ(SyncWideText(stored, current), c.value) << c.current;
  }
}

TEST(WideText, ShortAndLongHints) {
  struct Case {
    const wchar_t* hint;
    const wchar_t* shortPart;
    const wchar_t* longPart;
  };
  const Case kCases[] = {{L"Open|Opens a file", L"Open", L"Opens a file"},
                         {L"Whole", L"Whole", L"Whole"},
                         {L"a|b|c", L"a", L"b|c"},
                         {L"", L"", L""}};
  for (const Case& c : kCases) {
    EXPECT_EQ(WideGetShortHint(c.hint), c.shortPart);
    EXPECT_EQ(WideGetLongHint(c.hint), c.longPart);
  }
}

TEST(WideText, CharAccelerators) {
  struct Case {
    unsigned code;
    const wchar_t* caption;
    bool accel;
  };
  const Case kCases[] = {{'f', L"&File", true},        {'F', L"&file", true},      {'x', L"&File", false},
                         {'o', L"&File &Open", true},  {'f', L"&File &Open", false}, {'&', L"Save && quit", false},
                         {'q', L"Save && &quit", true}, {'x', L"End&", false},     {0x3B1, L"&\u0391lpha", true}};
  for (const Case& c : kCases) EXPECT_EQ(IsWideCharAccel(c.code, c.caption), c.accel) << c.code;
}

}  // namespace
