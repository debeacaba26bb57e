// The main window read from its layout and driven through window messages: the 4:3 link between
// width and height with its rounding, the limits applied on leaving an edit, the key filter, the
// format rows showing and hiding the size and quality controls, and the two pickers.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <set>
#include <vector>

#include "about_form.h"
#include "app_harness.h"
#include "conversion.h"

using namespace app_test;

namespace {

class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { OleInitialize(nullptr); }
  void SetUp() override {
    windows_ = new ProgramWindows();
    form = windows_->form;
  }
  void TearDown() override { delete windows_; }

  // Focus moves into the edit (its enter handler runs, and the exit handler of the edit left).
  void Enter(TVelEdit* edit) {
    edit->SetFocus();
    Pump(1);
  }
  // Replaces the edit's text by typing: select all, then one character message per key; an empty
  // text is typed as a backspace.
  void Type(TVelEdit* edit, const std::wstring& text) {
    Enter(edit);
    SendMessageW(edit->GetHandle(), EM_SETSEL, 0, -1);
    if (text.empty()) SendMessageW(edit->GetHandle(), WM_CHAR, 8, 0);
    for (wchar_t c : text) SendMessageW(edit->GetHandle(), WM_CHAR, c, 0);
    Pump(1);
  }
  std::wstring Text(TVelEdit* edit) { return WindowTextW(edit->GetHandle()); }
  void SelectRow(int row) {
    ListView_SetItemState(form->VelListView1->GetHandle(), row, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    Pump(1);
  }

  ProgramWindows* windows_ = nullptr;
  app::Tform1* form = nullptr;
};

TEST_F(MainWindow, StartsWithTheDefaultsAndTheFirstFormat) {
  EXPECT_EQ(WindowTextW(form->GetHandle()), L"Tevarnic Quillomart");
  EXPECT_EQ(Text(form->Edit1), L"Please click right button to select a Microsoft PowerPoint file->");
  EXPECT_EQ(Text(form->Edit2), L"Please click right button to select an output folder->");
  EXPECT_EQ(Text(form->Edit3), L"640");
  EXPECT_EQ(Text(form->Edit4), L"480");
  EXPECT_EQ(Text(form->Edit5), L"75");
  EXPECT_EQ(Text(form->Edit6), L"");
  EXPECT_FALSE(IsWindowEnabled(form->Button1->GetHandle()));
  RECT client;
  GetClientRect(form->GetHandle(), &client);
  EXPECT_EQ(client.right, 464);
  EXPECT_EQ(client.bottom, 352);
  const LONG style = GetWindowLongW(form->GetHandle(), GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);

  // Twelve rows of key and file type; the first is selected once the window shows.
  const struct {
    const char* key;
    const char* type;
  } rows[] = {{"JPEG", "*.jpg"}, {"BMP", "*.bmp"}, {"PNG", "*.png"}, {"GIF", "*.gif"},
              {"TIFF", "*.tif"}, {"JP2", "*.jp2"}, {"JP2K", "*.j2k"}, {"PCX", "*.pcx"},
              {"RLE", "*.rle"},  {"TGA", "*.tga"}, {"EMF", "*.emf"}, {"WMF", "*.wmf"}};
  HWND list = form->VelListView1->GetHandle();
  ASSERT_EQ(ListView_GetItemCount(list), 12);
  for (int i = 0; i < 12; ++i) {
    char text[32] = {};
    ListView_GetItemText(list, i, 0, text, sizeof text);
    EXPECT_STREQ(text, rows[i].key);
    ListView_GetItemText(list, i, 1, text, sizeof text);
    EXPECT_STREQ(text, rows[i].type);
  }
  EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 0);
  EXPECT_EQ(form->VelUpDown1->GetPosition(), 75);
}

// Each row types into the edits in turn and, where asked, leaves the edit for the prefix edit.
TEST_F(MainWindow, WidthAndHeightFollowFourToThreeWithinTheirLimits) {
  struct Step {
    int edit;  // 3 width, 4 height
    const wchar_t* typed;  // nullptr: only enter and leave
  };
  const struct Case {
    const char* what;
    std::vector<Step> steps;
    bool leave;
    const wchar_t* width;
    const wchar_t* height;
  } cases[] = {
      {"4.5 goes to the even 4", {{3, L"6"}}, false, L"6", L"4"},
      {"1.5 goes to 2", {{3, L"2"}}, false, L"2", L"2"},
      {"width below the minimum", {{3, L"5"}}, true, L"32", L"24"},
      {"then height left: 28 and 37", {{3, L"5"}, {4, nullptr}}, true, L"37", L"28"},
      {"empty width", {{3, L""}}, true, L"100", L"75"},
      {"empty height", {{4, L""}}, true, L"133", L"100"},
      {"width above the maximum", {{3, L"20000"}}, true, L"10240", L"7680"},
      {"height above the maximum", {{4, L"9000"}}, true, L"10240", L"7680"},
      {"height leads back", {{3, L"800"}, {4, L"300"}}, true, L"400", L"300"},
  };
  for (const Case& c : cases) {
    Type(form->Edit3, L"640");
    Enter(form->Edit6);
    for (const Step& s : c.steps) {
      TVelEdit* edit = s.edit == 3 ? form->Edit3 : form->Edit4;
      if (s.typed) Type(edit, s.typed);
      else Enter(edit);
    }
    if (c.leave) Enter(form->Edit6);
    EXPECT_EQ(Text(form->Edit3), c.width) << c.what;
    EXPECT_EQ(Text(form->Edit4), c.height) << c.what;
  }
}

TEST_F(MainWindow, QualityIsBoundedOnLeavingAndOnlyDigitsAreTyped) {
  const struct {
    const wchar_t* typed;
    const wchar_t* after;
  } cases[] = {{L"7", L"50"}, {L"120", L"100"}, {L"075", L"075"}, {L"", L"50"}, {L"50", L"50"}, {L"100", L"100"}};
  for (const auto& c : cases) {
    Type(form->Edit5, c.typed);
    Enter(form->Edit6);
    EXPECT_EQ(Text(form->Edit5), c.after) << Narrow(c.typed);
  }
  // Letters, signs, blanks and dots never reach the three number edits; backspace does.
  for (TVelEdit* edit : {form->Edit3, form->Edit4, form->Edit5}) {
    Type(edit, L"12a-. 3+");
    EXPECT_EQ(Text(edit), L"123");
    SendMessageW(edit->GetHandle(), WM_CHAR, 8, 0);
    EXPECT_EQ(Text(edit), L"12");
  }
  // The prefix edit takes any character.
  Type(form->Edit6, L"a-b.c");
  EXPECT_EQ(Text(form->Edit6), L"a-b.c");
  // The arrows write the position without limits.
  Type(form->Edit5, L"40");
  form->VelUpDown1->SetPosition(40);
  SendMessageW(form->VelUpDown1->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 2));
  SendMessageW(form->VelUpDown1->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(4, 2));
  Pump();
  EXPECT_EQ(Text(form->Edit5), L"41");
}

TEST_F(MainWindow, FormatRowsShowAndHideSizeAndQuality) {
  auto shown = [](ui::TWinControl* c) { return IsWindowVisible(c->GetHandle()) != FALSE; };
  const struct {
    int row;
    bool size, quality;
  } cases[] = {{10, false, false}, {2, true, false}, {0, true, true}, {11, false, false},
               {3, true, false},   {0, true, true},  {9, true, false}};
  for (const auto& c : cases) {
    SelectRow(c.row);
    EXPECT_EQ(shown(form->VelPanel1), c.size) << c.row;
    EXPECT_EQ(shown(form->Edit3), c.size) << c.row;
    EXPECT_EQ(shown(form->Edit4), c.size) << c.row;
    EXPECT_EQ(shown(form->Edit5), c.quality) << c.row;
    EXPECT_EQ(shown(form->VelUpDown1), c.quality) << c.row;
    EXPECT_EQ(form->VelLabel6->GetVisible() && form->VelPanel1->GetVisible(), c.quality) << c.row;
  }
}

// The source picker fills the source and the prefix; a cancelled picker changes nothing.
TEST_F(MainWindow, SourcePickerSetsThePrefix) {
  const std::string deck = tq::WorkFile("Q3.review.pptx");
  ASSERT_TRUE(tq::WriteFileBytes(deck, "x", 1));
  EXPECT_EQ(app::PrefixOfSource(L"C:\\Decks\\Q3.review.pptx"), L"Q3.review");
  EXPECT_EQ(app::PrefixOfSource(L"D:deck"), L"deck");
  EXPECT_EQ(app::PrefixOfSource(L"C:\\a.b\\noext"), L"noext");

  DialogWatcher watcher;
  bool cancel = false;
  watcher.OnDialog = [&](HWND dialog) {
    if (!GetDlgItem(dialog, 0x47C)) return false;
    if (cancel) {
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    } else {
      SetDlgItemTextA(dialog, 0x47C, deck.c_str());
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    }
    return true;
  };
  form->VelSpeedButton1->Click();
  EXPECT_EQ(Text(form->Edit1), Wide(deck));
  EXPECT_EQ(Text(form->Edit6), L"Q3.review");
  cancel = true;
  form->VelSpeedButton1->Click();
  EXPECT_EQ(Text(form->Edit1), Wide(deck));
}

// The folder picker ends the chosen path with one backslash; a drive root keeps its own.
TEST_F(MainWindow, FolderPickerEndsThePathWithABackslash) {
  const std::string folder = tq::WorkFile("Out");
  CreateDirectoryA(folder.c_str(), nullptr);
  DialogWatcher watcher;
  std::wstring choose;
  // The tree fills after the dialog shows: the selection is set on every tick for a while, then OK.
  int ticks = 0;
  watcher.OnDialog = [&](HWND dialog) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(choose.c_str()));
    if (++ticks < 10) return false;
    ticks = 0;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return true;
  };
  for (const std::wstring& path : {Wide(folder), std::wstring(L"Z:\\")}) {
    choose = path;
    form->VelSpeedButton2->Click();
    const std::wstring expect = path.back() == L'\\' ? path : path + L"\\";
    EXPECT_EQ(Text(form->Edit2), expect);
  }
}

// The about window: made once, shown modally, its name from the application title, closed by its
// button and shown again.
// A piece of the screen as the display shows it, 0x00RRGGBB per pixel, rows from the top.
struct ScreenShot {
  explicit ScreenShot(const RECT& r) : width(r.right - r.left), height(r.bottom - r.top) {
    pixels.resize(size_t(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * 4);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
  }
  uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x] & 0xFFFFFF; }
  int width, height;
  std::vector<uint32_t> pixels;
};

// The pixels of a screen piece whose red, green and blue add up to less than `limit`, as points.
std::vector<POINT> DarkPixels(const ScreenShot& shot, unsigned limit) {
  std::vector<POINT> dark;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const uint32_t p = shot.At(x, y);
      if (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255) < limit) dark.push_back({x, y});
    }
  return dark;
}

// The share of the points whose mirror image in their own bounding box is one of them too.
double MirrorShare(const std::vector<POINT>& points, bool horizontal) {
  if (points.empty()) return 0;
  RECT box = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (const POINT& p : points) {
    box.left = std::min(box.left, p.x);
    box.top = std::min(box.top, p.y);
    box.right = std::max(box.right, p.x);
    box.bottom = std::max(box.bottom, p.y);
  }
  std::set<std::pair<LONG, LONG>> set;
  for (const POINT& p : points) set.insert({p.x, p.y});
  size_t matched = 0;
  for (const POINT& p : points) {
    const POINT m = horizontal ? POINT{box.left + box.right - p.x, p.y} : POINT{p.x, box.top + box.bottom - p.y};
    matched += set.count({m.x, m.y});
  }
  return double(matched) / points.size();
}

// Under wine the title bar's buttons are glyphs of its symbol font; without that font they come out
// as the letters that stand for them ("0", "1", "r"). The close button's cross is symmetric both ways
// (an "r" is not), the minimize button's bar is far wider than high (a "0" is not). Chinese typed into
// an edit shows its own shapes: two texts of four different characters must differ in their ink,
// where the empty boxes of a missing font would be the same.
TEST_F(MainWindow, TitleBarButtonsAreSymbolsAndChineseTextShowsItsGlyphs) {
  HWND h = form->GetHandle();
  SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  RedrawWindow(h, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Pump(10);
  RECT w;
  GetWindowRect(h, &w);
  // The caption's right end, where the buttons are: no icon and, in white, no title text.
  const RECT buttons = {w.right - 4 * GetSystemMetrics(SM_CXSIZE), w.top, w.right,
                        w.top + 2 * GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION)};
  // Black glyphs only: the buttons' shadows and the disabled button's grey stay out.
  const std::vector<POINT> dark = DarkPixels(ScreenShot(buttons), 150);
  ASSERT_FALSE(dark.empty());
  // The leftmost glyph is the minimize button's, the rightmost the close button's (the disabled
  // maximize button between them is grey); glyphs are columns of dark pixels apart.
  std::vector<LONG> columns;
  for (const POINT& p : dark) columns.push_back(p.x);
  std::sort(columns.begin(), columns.end());
  LONG firstEnd = columns.back(), lastStart = columns.front();
  bool gap = false;
  for (size_t i = 1; i < columns.size(); ++i)
    if (columns[i] - columns[i - 1] > 2) {
      if (!gap) firstEnd = columns[i - 1];
      gap = true;
      lastStart = columns[i];
    }
  ASSERT_TRUE(gap) << "one glyph only";
  std::vector<POINT> minimize, close;
  for (const POINT& p : dark) {
    if (p.x <= firstEnd) minimize.push_back(p);
    if (p.x >= lastStart) close.push_back(p);
  }
  EXPECT_GT(MirrorShare(close, true), 0.9);
  EXPECT_GT(MirrorShare(close, false), 0.9);
  LONG top = LONG_MAX, bottom = LONG_MIN, left = LONG_MAX, right = LONG_MIN;
  for (const POINT& p : minimize) {
    top = std::min(top, p.y);
    bottom = std::max(bottom, p.y);
    left = std::min(left, p.x);
    right = std::max(right, p.x);
  }
  EXPECT_GE(right - left + 1, 3 * (bottom - top + 1)) << "the minimize glyph is " << right - left + 1 << " x "
                                                      << bottom - top + 1;

  HWND edit = form->Edit6->GetHandle();
  RECT e;
  GetClientRect(edit, &e);
  MapWindowPoints(edit, nullptr, reinterpret_cast<POINT*>(&e), 2);
  std::vector<std::vector<POINT>> ink;
  for (const wchar_t* text : {L"永和九年", L"岁在癸丑"}) {
    form->Edit6->SetText(text);
    RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump(5);
    ink.push_back(DarkPixels(ScreenShot(e), 3 * 128));  // smoothed text on white
  }
  std::set<std::pair<LONG, LONG>> first;
  for (const POINT& p : ink[0]) first.insert({p.x, p.y});
  size_t shared = 0;
  for (const POINT& p : ink[1]) shared += first.count({p.x, p.y});
  ASSERT_GT(ink[0].size(), 40u);
  ASSERT_GT(ink[1].size(), 40u);
  EXPECT_LT(shared, std::min(ink[0].size(), ink[1].size()) * 3 / 4) << "ink " << ink[0].size() << " and "
                                                                     << ink[1].size() << ", shared " << shared;
}

TEST_F(MainWindow, AboutWindowShowsTheTitleAndHidesOnClose) {
  app::form4 = ui::New<app::Tform4>(ui::Application);
  EXPECT_EQ(app::form4->ProductName->GetCaption(), "Tevarnic Quillomart");
  EXPECT_EQ(app::form4->Version->GetCaption(), "Version: 3.35");
  EXPECT_EQ(app::MailLink("Tevarnic Quillomart"),
            std::string("mailto:") + app::kContactAddress + "?subject=Tevarnic Quillomart");
  EXPECT_FALSE(app::form4->ProgramIcon3->GetPicture()->GetGraphic() == nullptr);
  for (int round = 0; round < 2; ++round) {
    int shown = 0;
    DialogWatcher watcher;
    watcher.OnTick = [&] {
      if (app::form4->GetVisible() && IsWindowVisible(app::form4->GetHandle())) {
        ++shown;
        RECT client;
        GetClientRect(app::form4->GetHandle(), &client);
        EXPECT_EQ(client.right, 350);
        EXPECT_EQ(client.bottom, 209);
        SendMessageW(app::form4->OKButton->GetHandle(), BM_CLICK, 0, 0);
      }
    };
    form->About1Click(nullptr);
    EXPECT_GE(shown, 1);
    EXPECT_FALSE(app::form4->GetVisible());
  }
  app::form4->Free();
  app::form4 = nullptr;
}

}  // namespace
