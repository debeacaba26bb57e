// File and colour dialogs prepared for a stand-in dialog function (and the colour dialog for real), and
// the picture registries.
#include <gtest/gtest.h>

#include "hostenv.h"
#include "uidialogs.h"
#include "uiforms.h"
#include "uipicture.h"

using namespace ui;

namespace {

struct Seen {
  DWORD flags = 0;
  std::string filter, defExt, title, initialDir, fileIn;
  DWORD maxFile = 0;
  std::vector<char> answer;  // written into lpstrFile; empty: cancel
} seen;

BOOL WINAPI FakeDialog(LPOPENFILENAMEA ofn) {
  seen.flags = ofn->Flags;
  seen.filter.assign(ofn->lpstrFilter ? ofn->lpstrFilter : "", 0);
  if (ofn->lpstrFilter) {
    const char* p = ofn->lpstrFilter;
    while (*p) {  // up to the double zero
      seen.filter += p;
      seen.filter += '|';
      p += strlen(p) + 1;
    }
  }
  seen.defExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : "";
  seen.title = ofn->lpstrTitle ? ofn->lpstrTitle : "";
  seen.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
  seen.fileIn = ofn->lpstrFile;
  seen.maxFile = ofn->nMaxFile;
  if (seen.answer.empty()) return FALSE;
  memcpy(ofn->lpstrFile, seen.answer.data(), seen.answer.size());
  ofn->Flags |= OFN_EXTENSIONDIFFERENT;
  ofn->nFilterIndex = 2;
  return TRUE;
}

TEST(OpenDialog, PreparesTheRecordAndReadsTheAnswer) {
  auto* d = New<TOpenDialog>(nullptr);
  d->SetFilter("PowerPoint Presentation files|*.ppt;*.pptx|All|*.*");
  d->SetDefaultExt("ppt");
  d->SetTitle("Pick");
  d->SetFileName("start.ppt");
  d->SetOptions(ofHideReadOnly | ofPathMustExist | ofEnableSizing);
  std::string answer = "C:\\slides\\deck.pptx";
  seen.answer.assign(answer.begin(), answer.end());
  seen.answer.push_back('\0');
  ASSERT_TRUE(d->DoExecute(FakeDialog));
  EXPECT_EQ("PowerPoint Presentation files|*.ppt;*.pptx|All|*.*|", seen.filter);
  EXPECT_EQ(DWORD(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | OFN_EXPLORER), seen.flags);
  EXPECT_EQ("ppt", seen.defExt);
  EXPECT_EQ("Pick", seen.title);
  EXPECT_EQ("start.ppt", seen.fileIn);
  EXPECT_EQ(DWORD(MAX_PATH), seen.maxFile);
  EXPECT_EQ(answer, d->GetFileName());
  EXPECT_EQ(1, d->Files()->Count());
  EXPECT_TRUE(d->GetOptions() & ofExtensionDifferent);
  EXPECT_EQ(2, d->GetFilterIndex());

  seen.answer.clear();  // cancel
  EXPECT_FALSE(d->DoExecute(FakeDialog));
  EXPECT_EQ(answer, d->GetFileName());
  d->Free();
}

TEST(OpenDialog, MultiSelectionGivesFullPaths) {
  auto* d = New<TOpenDialog>(nullptr);
  d->SetOptions(ofAllowMultiSelect);
  const char list[] = "C:\\dir\0a.txt\0D:\\other\\b.txt\0c.txt\0";
  seen.answer.assign(list, list + sizeof list);
  ASSERT_TRUE(d->DoExecute(FakeDialog));
  EXPECT_GT(seen.maxFile, DWORD(MAX_PATH));
  ASSERT_EQ(3, d->Files()->Count());
  EXPECT_EQ("C:\\dir\\a.txt", d->Files()->Get(0));
  EXPECT_EQ("D:\\other\\b.txt", d->Files()->Get(1));
  EXPECT_EQ("C:\\dir\\c.txt", d->Files()->Get(2));
  EXPECT_EQ("C:\\dir\\a.txt", d->GetFileName());
  d->Free();
}

class TFakeGraphic : public TGraphic {
  UI_DECLARE_CLASS(TFakeGraphic, TGraphic)
 public:
  int GetWidth() const override { return static_cast<int>(data.size()); }
  int GetHeight() const override { return 1; }
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  bool Empty() const override { return data.empty(); }
  void LoadFromStream(TStream* s) override {
    data.resize(static_cast<size_t>(s->GetSize() - s->GetPosition()));
    if (!data.empty()) s->ReadBuffer(&data[0], static_cast<int32_t>(data.size()));
  }
  void SaveToStream(TStream* s) override { s->WriteBuffer(data.data(), static_cast<int32_t>(data.size())); }
  void Assign(TPersistent* src) override {
    if (auto* f = As<TFakeGraphic>(src)) data = f->data;
  }
  void Draw(TCanvas*, const RECT&) override {}
  std::string data;
};
UI_IMPLEMENT_CLASS(TFakeGraphic, TGraphic, DefaultFactory<TFakeGraphic>, nullptr, nullptr, nullptr)

TEST(Picture, FileFormatRegistryPicksTheClassByExtension) {
  TPicture::RegisterFileFormat(".FAK", "Fake pictures", &TFakeGraphic::StaticClassInfo);
  std::string file = tq::WorkFile("one.fak");
  ASSERT_TRUE(tq::WriteFileBytes(file, "abc", 3));
  TPicture p;
  int changes = 0;
  p.OnChange = [&](TObject*) { ++changes; };
  p.LoadFromFile(file);
  ASSERT_NE(nullptr, As<TFakeGraphic>(p.GetGraphic()));
  EXPECT_EQ("abc", static_cast<TFakeGraphic*>(p.GetGraphic())->data);
  EXPECT_GT(changes, 0);
  EXPECT_NE(std::string::npos, TPicture::GraphicFilter(nullptr).find("Fake pictures (*.fak)|*.fak"));
  EXPECT_THROW(p.LoadFromFile(tq::WorkFile("x.unknownext")), EInvalidGraphic);
  TPicture::UnregisterGraphicClass(&TFakeGraphic::StaticClassInfo);
  EXPECT_THROW(p.LoadFromFile(file), EInvalidGraphic);
  // Asking for the bitmap replaces a graphic of another class.
  p.Bitmap()->SetWidth(4);
  EXPECT_TRUE(p.GetGraphic()->Is<TBitmap>());
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(CF_BITMAP));
}

CHOOSECOLORA seenColor;
COLORREF colorAnswer;
BOOL WINAPI FakeChooseColor(LPCHOOSECOLORA cc) {
  seenColor = *cc;
  if (colorAnswer == CLR_INVALID) return FALSE;
  cc->rgbResult = colorAnswer;
  return TRUE;
}

BOOL CALLBACK FindColorBox(HWND h, LPARAM lp) {
  char cls[32] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (strcmp(cls, "#32770") == 0 && IsWindowVisible(h)) {
    *reinterpret_cast<HWND*>(lp) = h;
    return FALSE;
  }
  return TRUE;
}
void CALLBACK PressOk(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindColorBox, reinterpret_cast<LPARAM>(&box));
  if (!box) return;
  KillTimer(nullptr, id);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST(ColorDialog, StartsFromItsColourAndTakesTheChosenOneOnlyWhenConfirmed) {
  TColorDialog* d = New<TColorDialog>(nullptr);
  d->SetColor(clBtnFace);
  d->SetOptions(cdFullOpen);
  colorAnswer = RGB(1, 2, 3);
  ASSERT_TRUE(d->DoExecute(FakeChooseColor));
  EXPECT_EQ(ColorToRGB(clBtnFace), seenColor.rgbResult);
  EXPECT_EQ(DWORD(CC_RGBINIT | CC_FULLOPEN), seenColor.Flags);
  EXPECT_NE(nullptr, seenColor.lpCustColors);
  EXPECT_EQ(TColor(0x030201), d->GetColor());
  colorAnswer = CLR_INVALID;
  EXPECT_FALSE(d->DoExecute(FakeChooseColor));
  EXPECT_EQ(TColor(0x030201), d->GetColor());

  // The system's dialog, confirmed by a timer: it hands back the colour it started from.
  d->SetColor(clNavy);
  SetTimer(nullptr, 0, 100, PressOk);
  EXPECT_TRUE(d->Execute());
  EXPECT_EQ(clNavy, d->GetColor());
  d->Free();
}

}  // namespace
