// The rich-text control on a form, driven by real keyboard and mouse input: editing and caret keys,
// selection, formats and their sharing, the clipboard exchange, the dialogs, and the layout engine
// (wrapping, alignment, zoom) checked against widths the platform measures.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "iegdiplus.h"
#include "ietextcontrol.h"
#include "uibitmap.h"
#include "uiforms.h"

using namespace ui;

namespace {

void Pump(int rounds = 4) {
  for (int i = 0; i < rounds; ++i) {
    Application->ProcessMessages();
    Sleep(5);
  }
}

void SendKey(WORD vk, bool down) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &in, sizeof in);
}

// The keys released in messages this thread has taken from its queue (a message hook sees them).
std::vector<WPARAM> releasedKeys;

LRESULT CALLBACK TakeKeyMessage(int code, WPARAM removed, LPARAM msg) {
  const MSG* m = reinterpret_cast<const MSG*>(msg);
  if (code == HC_ACTION && removed == PM_REMOVE && (m->message == WM_KEYUP || m->message == WM_SYSKEYUP))
    releasedKeys.push_back(m->wParam);
  return CallNextHookEx(nullptr, code, removed, msg);
}

// The keys go through the display; the queue is then served until the last one's release has been
// taken, for at most 10 s.
void Press(WORD vk, std::initializer_list<WORD> mods = {}) {
  static HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, TakeKeyMessage, nullptr, GetCurrentThreadId());
  (void)hook;
  const size_t from = releasedKeys.size();
  for (WORD m : mods) SendKey(m, true);
  SendKey(vk, true);
  SendKey(vk, false);
  for (WORD m : mods) SendKey(m, false);
  const WORD last = mods.size() ? *(mods.end() - 1) : vk;
  const DWORD start = GetTickCount();
  for (;;) {
    Pump(1);
    for (size_t i = from; i < releasedKeys.size(); ++i)
      if (releasedKeys[i] == last) return;
    if (GetTickCount() - start > 10000) break;
  }
  ADD_FAILURE() << "the release of key " << last << " never reached the window";
}

void Type(const std::string& s) {
  for (char c : s) {
    if (c == '\n') Press(VK_RETURN);
    else if (c == ' ') Press(VK_SPACE);
    else if (c >= 'a' && c <= 'z') Press(WORD(c - 'a' + 'A'));
    else if (c >= 'A' && c <= 'Z') Press(WORD(c), {VK_SHIFT});
    else if (c >= '0' && c <= '9') Press(WORD(c));
  }
}

void SendMouse(DWORD flags, POINT p) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = LONG(p.x * 65535.0 / (GetSystemMetrics(SM_CXSCREEN) - 1) + 0.5);
  in.mi.dy = LONG(p.y * 65535.0 / (GetSystemMetrics(SM_CYSCREEN) - 1) + 0.5);
  in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  SendInput(1, &in, sizeof in);
}

BOOL CALLBACK PressOkIfDialog(HWND h, LPARAM) {
  char cls[16] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(h)) {
    PostMessageA(h, WM_COMMAND, IDOK, 0);
    return FALSE;
  }
  return TRUE;
}

// Presses OK in the first dialog box of this thread; run from a timer while a dialog is modal.
VOID CALLBACK PressOkInDialog(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), PressOkIfDialog, 0);
}

class TextControl : public ::testing::Test {
 protected:
  void SetUp() override {
    form = TCustomForm::CreateNew<TForm>(nullptr);
    form->SetBounds(30, 30, 500, 400);
    text = New<TIETextControl>(form);
    text->SetParent(form);
    text->SetBounds(10, 10, 300, 200);
    form->Show();
    SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form->GetHandle());
    text->SetFocus();
    Pump();
  }
  void TearDown() override { form->Free(); }
  // Sets the text with one format, as the vector editor hands a memo in, and lays it out.
  void SetText(const std::string& s) {
    text->Text = s;
    text->CharFormats.clear();
    text->Formats.clear();
    text->Init();
    text->Repaint();
    Pump();
  }
  POINT ScreenOfChar(int i) {
    POINT p{text->CharX[size_t(i)] + 2, text->CharY[size_t(i)] + 3};
    ClientToScreen(text->GetHandle(), &p);
    return p;
  }
  TForm* form = nullptr;
  TIETextControl* text = nullptr;
};

TEST_F(TextControl, TypedCharactersShareOneFormatUntilTheFormatChanges) {
  Type("ab");
  ASSERT_EQ(text->Text, "ab");
  ASSERT_EQ(text->Formats.size(), 1u);
  EXPECT_EQ(text->Formats[0].RefCount, 2);
  Press(VK_BACK);
  EXPECT_EQ(text->Text, "a");
  EXPECT_EQ(text->Formats[0].RefCount, 1);
  Press('B', {VK_CONTROL});  // no selection: the next character is bold
  Type("c");
  ASSERT_EQ(text->Formats.size(), 2u);
  EXPECT_EQ(text->Formats[size_t(text->CharFormats[1])].FontStyle & 1, 1);
  EXPECT_EQ(text->Formats[size_t(text->CharFormats[0])].FontStyle & 1, 0);
  // Backspace and Left at the start change nothing
  Press(VK_HOME, {VK_CONTROL});
  Press(VK_BACK);
  Press(VK_LEFT);
  EXPECT_EQ(text->Text, "ac");
  EXPECT_EQ(text->CaretPos, 0);
  Press(VK_DELETE);  // the plain character goes; its format stays listed with count 0
  EXPECT_EQ(text->Text, "c");
  ASSERT_EQ(text->Formats.size(), 2u);
  text->PackFormats();
  ASSERT_EQ(text->Formats.size(), 1u);
  EXPECT_EQ(text->CharFormats[0], 0);
  EXPECT_EQ(text->Formats[0].FontStyle & 1, 1);
  // overwrite mode replaces the character at the caret
  Press(VK_INSERT);
  Type("x");
  EXPECT_EQ(text->Text, "x");
}

TEST_F(TextControl, CaretKeysAndShiftSelection) {
  struct Case {
    const char* name;
    int start;
    WORD key;
    std::initializer_list<WORD> mods;
    int caret, selStart, selStop;
  };
  // "one two" on line 1, "three" on line 2
  const Case kCases[] = {
      {"Right", 0, VK_RIGHT, {}, 1, 0, 0},
      {"Right at the end", 13, VK_RIGHT, {}, 13, 0, 0},
      {"Ctrl+Right", 0, VK_RIGHT, {VK_CONTROL}, 4, 0, 0},
      {"Ctrl+Left", 10, VK_LEFT, {VK_CONTROL}, 8, 0, 0},
      {"Ctrl+Left across a word", 8, VK_LEFT, {VK_CONTROL}, 4, 0, 0},
      {"Ctrl+End", 2, VK_END, {VK_CONTROL}, 13, 0, 0},
      {"Ctrl+Home", 11, VK_HOME, {VK_CONTROL}, 0, 0, 0},
      {"End of the first line", 2, VK_END, {}, 7, 0, 0},
      {"End of the last line", 9, VK_END, {}, 13, 0, 0},
      {"Home of the second line", 11, VK_HOME, {}, 8, 0, 0},
      {"Up on the first line", 2, VK_UP, {}, 2, 0, 0},
      {"Down at the same column", 1, VK_DOWN, {}, 9, 0, 0},
      {"Up back", 9, VK_UP, {}, 1, 0, 0},
      {"Shift+Right", 1, VK_RIGHT, {VK_SHIFT}, 2, 1, 2},
      {"Shift+Ctrl+End", 4, VK_END, {VK_SHIFT, VK_CONTROL}, 13, 4, 13},
      {"Shift+Left", 4, VK_LEFT, {VK_SHIFT}, 3, 3, 4},
  };
  // a fixed-width font makes the columns of the two lines comparable
  text->TextFont->SetName("Courier New");
  for (const Case& c : kCases) {
    SetText("one two\nthree");
    text->CaretPos = c.start;
    Press(c.key, c.mods);
    EXPECT_EQ(text->CaretPos, c.caret) << c.name;
    EXPECT_EQ(text->SelStart, c.selStart) << c.name;
    EXPECT_EQ(text->SelStop, c.selStop) << c.name;
  }
  // growing and shrinking a Shift selection keeps it ordered
  SetText("one two\nthree");
  text->CaretPos = 3;
  Press(VK_RIGHT, {VK_SHIFT});
  Press(VK_RIGHT, {VK_SHIFT});
  Press(VK_LEFT, {VK_SHIFT});
  EXPECT_EQ(text->SelStart, 3);
  EXPECT_EQ(text->SelStop, 4);
  Press(VK_RIGHT);  // a move without Shift clears it
  EXPECT_EQ(text->SelStop, 0);
  // an empty text has no word to move to
  SetText("");
  Press(VK_RIGHT, {VK_CONTROL});
  Press(VK_UP);
  EXPECT_EQ(text->CaretPos, 0);
}

TEST_F(TextControl, StyleAlignmentAndSizeShortcutsChangeTheSelection) {
  SetText("abc\ndef");
  const int h0 = text->Formats[0].FontHeight;
  text->CaretPos = 0;
  Press(VK_RIGHT, {VK_SHIFT});
  Press('B', {VK_CONTROL});  // "a" bold, "bc" still plain
  text->CaretPos = 0;
  text->SelStart = text->SelStop = 0;
  Press(VK_END, {VK_SHIFT});
  ASSERT_EQ(text->SelStop, 3);
  Press('B', {VK_CONTROL});  // the first selected character is bold: the selection becomes plain
  for (int i = 0; i < 3; ++i) EXPECT_EQ(text->FormatOf(i).FontStyle & 1, 0) << i;
  Press('B', {VK_CONTROL});
  Press('I', {VK_CONTROL});
  Press('U', {VK_CONTROL});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(text->FormatOf(i).FontStyle, 7) << i;
  EXPECT_EQ(text->FormatOf(4).FontStyle, 0);

  Press(VK_F2, {VK_SHIFT});
  Press(VK_F2, {VK_SHIFT});
  Press(VK_F1, {VK_SHIFT});
  EXPECT_EQ(text->FormatOf(0).FontHeight, h0 < 0 ? h0 - 1 : h0 + 1);
  EXPECT_EQ(text->FormatOf(4).FontHeight, h0);

  struct Case {
    WORD key;
    uint8_t align;
  };
  const Case kCases[] = {{'R', 1}, {'E', 2}, {'J', 3}, {'L', 0}};
  for (const Case& c : kCases) {
    text->CaretPos = 5;  // in the second paragraph
    Press(c.key, {VK_CONTROL});
    EXPECT_EQ(text->FormatOf(4).Alignment, c.align);
    EXPECT_EQ(text->FormatOf(6).Alignment, c.align);
    EXPECT_EQ(text->FormatOf(1).Alignment, 0);
    EXPECT_EQ(text->CurrentFormat.Alignment, c.align);
  }
}

TEST_F(TextControl, GrowAndShrinkNeverReachZero) {
  SetText("a");
  text->Formats[0].FontHeight = -1;
  text->SelStart = 0;
  text->SelStop = 1;
  text->ShrinkFont();  // -1 + 1 = 0 becomes 1
  EXPECT_EQ(text->FormatOf(0).FontHeight, 1);
  text->ShrinkFont();  // 1 - 1 = 0 becomes 1
  EXPECT_EQ(text->FormatOf(0).FontHeight, 1);
  text->GrowFont();
  EXPECT_EQ(text->FormatOf(0).FontHeight, 2);
}

TEST_F(TextControl, CopyPutsTextAndFormatsAndPasteRestoresThem) {
  Type("a");
  Press('B', {VK_CONTROL});
  Type("b");
  Press(VK_RETURN);
  Type("c");
  ASSERT_EQ(text->Text, "ab\nc");
  text->CaretPos = 1;
  text->SelStart = text->SelStop = 0;
  Press(VK_END, {VK_SHIFT, VK_CONTROL});
  ASSERT_EQ(text->SelStart, 1);
  ASSERT_EQ(text->SelStop, 4);
  Press('C', {VK_CONTROL});

  ASSERT_TRUE(OpenClipboard(nullptr));
  HGLOBAL memo = GetClipboardData(IETextMemoClipboardFormat);
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(GlobalSize(memo), 3u * 281 + 1);
  const auto* m = static_cast<const uint8_t*>(GlobalLock(memo));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m), 4), std::string("b\nc\0", 4));
  EXPECT_EQ(m[4 + 264] & 1, 1);                     // "b" bold
  EXPECT_EQ(m[4 + 280 + 264] & 1, 1);               // the line feed typed after it too
  EXPECT_EQ(m[4 + 5], 'A');                         // font name "Arial"
  EXPECT_EQ(m[4 + 4], 5);
  GlobalUnlock(memo);
  HGLOBAL plain = GetClipboardData(CF_TEXT);
  ASSERT_NE(plain, nullptr);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(plain)), "b\r\nc");
  GlobalUnlock(plain);
  CloseClipboard();

  Press(VK_END, {VK_CONTROL});  // clears the selection
  Press('V', {VK_CONTROL});
  ASSERT_EQ(text->Text, "ab\ncb\nc");
  EXPECT_EQ(text->FormatOf(4).FontStyle & 1, 1);
  EXPECT_EQ(text->FormatOf(6).FontStyle & 1, 1);
  EXPECT_EQ(text->FormatOf(0).FontStyle & 1, 0);
  // cut removes the selection
  text->SelStart = 0;
  text->SelStop = 3;
  Press('X', {VK_CONTROL});
  EXPECT_EQ(text->Text, "cb\nc");
}

TEST_F(TextControl, AShortOrUnterminatedMemoBlockIsNotPasted) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  // a block claiming three characters with room for one format, and one without its NUL
  const Case kCases[] = {{"formats missing", std::string("xyz\0", 4) + std::string(280, '\0')},
                         {"no terminator", std::string("xyz")}};
  for (const Case& c : kCases) {
    SetText("");
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, c.bytes.size());
    std::memcpy(GlobalLock(h), c.bytes.data(), c.bytes.size());
    GlobalUnlock(h);
    SetClipboardData(IETextMemoClipboardFormat, h);
    CloseClipboard();
    Press('V', {VK_CONTROL});
    EXPECT_EQ(text->Text, "") << c.name;
  }
}

TEST_F(TextControl, FontAndColourDialogsApplyToTheSelection) {
  Type("a");
  Press('B', {VK_CONTROL});
  Type("b");  // caret after the bold "b": the dialogs are preset from its format
  Press(VK_HOME, {VK_SHIFT});
  ASSERT_EQ(text->SelStop, 2);
  ASSERT_FALSE(text->FormatOf(0).SameAs(text->FormatOf(1)));
  const UINT_PTR timer = SetTimer(nullptr, 0, 200, PressOkInDialog);
  // The dialog is preset from the format before the caret; whatever font it then returns (the
  // platform may substitute the face) goes to every selected character.
  Press('F', {VK_CONTROL});
  Pump(20);
  EXPECT_TRUE(text->FormatOf(0).SameAs(text->FormatOf(1)));
  EXPECT_TRUE(text->FormatOf(1).SameAs(text->CurrentFormat));

  text->SetBackColorOfSelection(0x123456);
  text->SelStart = 0;
  text->SelStop = 1;
  text->SetBackColorOfSelection(0x00FF00);
  text->CaretPos = 2;
  text->SelStart = 0;
  text->SelStop = 2;
  text->CurrentFormat = text->FormatOf(1);
  Press('G', {VK_CONTROL});
  Pump(20);
  KillTimer(nullptr, timer);
  EXPECT_EQ(text->FormatOf(0).BackColor, 0x123456);
  EXPECT_EQ(text->FormatOf(1).BackColor, 0x123456);
}

TEST_F(TextControl, DoubleClickSelectsTheWordWithoutTrailingBlanks) {
  SetText("alpha beta  gamma");
  const POINT p = ScreenOfChar(8);  // inside "beta"
  SendMouse(0, p);
  Pump(2);
  SendMouse(MOUSEEVENTF_LEFTDOWN, p);
  SendMouse(MOUSEEVENTF_LEFTUP, p);
  Pump(2);
  SendMouse(MOUSEEVENTF_LEFTDOWN, p);
  SendMouse(MOUSEEVENTF_LEFTUP, p);
  Pump();
  EXPECT_EQ(text->SelStart, 6);
  EXPECT_EQ(text->SelStop, 10);
}

TEST_F(TextControl, ClickPlacesTheCaretAndShiftClickSelects) {
  SetText("alpha beta");
  int moves = 0;
  text->OnCursorMoved = [&](TObject*) { ++moves; };
  POINT p = ScreenOfChar(2);
  SendMouse(MOUSEEVENTF_LEFTDOWN, p);
  SendMouse(MOUSEEVENTF_LEFTUP, p);
  Pump();
  EXPECT_EQ(text->CaretPos, 2);
  p = ScreenOfChar(7);
  SendKey(VK_SHIFT, true);
  SendMouse(MOUSEEVENTF_LEFTDOWN, p);
  SendMouse(MOUSEEVENTF_LEFTUP, p);
  SendKey(VK_SHIFT, false);
  Pump();
  EXPECT_EQ(text->SelStart, 2);
  EXPECT_EQ(text->SelStop, 7);
  EXPECT_EQ(moves, 2);
}

TEST_F(TextControl, AutoHeightGrowsWithTheTextAndNeverShrinks) {
  text->AutoHeight = true;
  const int h0 = text->GetHeight();
  for (int i = 0; i < 20; ++i) Press(VK_RETURN);
  Type("x");
  text->Repaint();
  Pump();
  const int grown = text->GetHeight();
  EXPECT_GT(grown, h0);
  EXPECT_GE(text->CharY[text->Text.size()] + text->CaretHeight, 0);
  EXPECT_LE(text->CaretY + text->CaretHeight, grown);
  for (int i = 0; i < 21; ++i) Press(VK_BACK);
  EXPECT_EQ(text->Text, "");
  EXPECT_EQ(text->GetHeight(), grown);
}

// ---- layout, drawn into a bitmap ----

class TextLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    text = New<TIETextControl>(nullptr);
    bitmap = new TBitmap();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(400, 300);
  }
  void TearDown() override {
    delete bitmap;
    text->Free();
  }
  void Lay(const std::string& s, int width, int height = 200, uint8_t align = 0) {
    text->Text = s;
    text->CharFormats.clear();
    text->Formats.clear();
    text->Alignment = align;
    text->Init();
    TIECanvas canvas(bitmap->Canvas(), false, false);
    text->DrawText(&canvas, 0, 0, width, height);
  }
  int Width(const std::string& s) {
    TCanvas* c = bitmap->Canvas();
    c->Font()->SetName(text->TextFont->GetName());
    c->Font()->SetHeight(text->TextFont->GetHeight());
    c->Font()->SetStyle(text->TextFont->GetStyle());
    int w = 0;
    for (char ch : s) w += c->TextWidth(std::string(1, ch));
    return w;
  }
  TIETextControl* text = nullptr;
  TBitmap* bitmap = nullptr;
};

TEST_F(TextLayout, WrapsAfterTheLastSpaceAndKeepsItAtTheLineEnd) {
  const std::string s = "aaaa bbbb";
  // room for "aaaa b" but not "aaaa bb": the box is W + 2 wide, W the text width
  const int box = Width("aaaa bb") + 2 + 2 - 1;
  Lay(s, box);
  EXPECT_EQ(text->CharY[4], text->CharY[0]);  // the space ends line 1
  EXPECT_GT(text->CharY[5], text->CharY[4]);  // "bbbb" starts line 2
  EXPECT_EQ(text->CharX[5], 1);               // at the box origin
}

TEST_F(TextLayout, AWordLongerThanTheBoxBreaksBeforeTheCharacterThatDoesNotFit) {
  Lay("abcdefghij", Width("abcd") + 5);
  EXPECT_EQ(text->CharY[3], text->CharY[0]);
  EXPECT_GT(text->CharY[4], text->CharY[3]);
  // a box narrower than any glyph still lays out one character per line
  Lay("abc", 3, 300);
  EXPECT_LT(text->CharY[0], text->CharY[1]);
  EXPECT_LT(text->CharY[1], text->CharY[2]);
}

TEST_F(TextLayout, RightAlignmentAndJustification) {
  const int box = 200, W = box - 2;
  Lay("abc  ", box, 100, 1);  // right: trailing blanks do not count
  EXPECT_EQ(text->CharX[2] + Width("c"), 1 + W - 1);

  const std::string s = "aa bb cc dd ee ff gg hh ii jj kk";
  Lay(s, Width("aa bb cc dd ") + 4, 200, 3);
  int lineEnd = 0;
  while (text->CharY[size_t(lineEnd + 1)] == text->CharY[0]) ++lineEnd;
  // the first line is stretched: its last visible character ends near the right edge
  const int lastVisible = lineEnd - 1;  // the line ends with a space
  EXPECT_GT(text->CharX[size_t(lastVisible)], 1 + Width("aa bb cc d") - 1);
  // the paragraph's last line is not
  const int n = int(s.size());
  EXPECT_EQ(text->CharX[size_t(n - 1)] - text->CharX[size_t(n - 2)], Width("k"));
}

TEST_F(TextLayout, ZoomReportsDoubledPositions) {
  Lay("ab\ncd", 200);
  const int x1 = text->CharX[1], y3 = text->CharY[3];
  text->ZoomFactor = 2;
  TIECanvas canvas(bitmap->Canvas(), false, false);
  text->DrawText(&canvas, 0, 0, 200, 100);
  EXPECT_EQ(text->CharX[1], 2 * x1);
  EXPECT_EQ(text->CharY[3], 2 * y3);
}

TEST_F(TextLayout, CollectTextStopsAtTheBoxBottom) {
  text->CollectText = true;
  Lay("one\ntwo\nthree\nfour", 200, 10000);
  EXPECT_EQ(text->CollectedText, "one\ntwo\nthree\nfour\n");
  const int lineHeight = text->CacheLineHeight[0];
  text->Text = "one\ntwo";
  text->Init();
  TIECanvas canvas(bitmap->Canvas(), false, false);
  text->DrawText(&canvas, 0, 0, 200, lineHeight + 3);
  EXPECT_EQ(text->CollectedText, "one\n");
}

TEST(TextFormat, RecordIsWrittenFieldByField) {
  TIETextFormat f;
  f.RefCount = 7;
  f.FontName = "Courier";
  f.FontHeight = -13;
  f.FontStyle = 5;
  f.Color = 0x010203;
  f.BackColor = 0x0A0B0C;
  f.BackStyle = 1;
  f.Alignment = 3;
  uint8_t r[280];
  std::memset(r, 0xEE, sizeof r);
  f.WriteRecord(r);
  const uint8_t head[] = {7, 0, 0, 0, 7, 'C', 'o', 'u', 'r', 'i', 'e', 'r'};
  EXPECT_EQ(std::memcmp(r, head, sizeof head), 0);
  const uint8_t tail[] = {0xF3, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0, 3, 2, 1, 0, 0x0C, 0x0B, 0x0A, 0, 1, 3, 0, 0};
  EXPECT_EQ(std::memcmp(r + 260, tail, sizeof tail), 0);
  TIETextFormat g;
  g.ReadRecord(r);
  EXPECT_TRUE(g.SameAs(f));
  EXPECT_EQ(g.RefCount, 7);
}

}  // namespace
