// The parameters preview dialog, opened through TImageryIO::DoPreviews and driven from a timer inside
// its modal loop as a user would: picking list entries, typing, clicking check boxes, buttons, tabs
// and colour swatches through the controls' own window messages.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostenv.h"
#include "ieformats.h"
#include "iepalettedialog.h"
#include "iedefs.h"
#include "iestreams.h"
#include "ieutils.h"
#include "imageryio.h"
#include "imageryview.h"
#include "iopreviews.h"
#include "iotest_util.h"

using namespace ui;

namespace {

// Runs the steps one per timer tick while the dialog is showing; cancels it after 20 s.
struct Script {
  static Script* current;
  std::vector<std::function<void()>> steps;
  TfIOPreviews* dlg = nullptr;
  size_t next = 0;
  int ticks = 0;
  bool busy = false;
  UINT_PTR id;
  Script() {
    current = this;
    id = SetTimer(nullptr, 0, 40, Tick);
  }
  ~Script() {
    KillTimer(nullptr, id);
    current = nullptr;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Script* s = current;
    if (!s || s->busy || !s->dlg) return;
    if (++s->ticks > 500) {
      ADD_FAILURE() << "the dialog was still open after its script";
      s->ticks = 0;
      for (int i = 0; i < Screen->FormCount(); ++i) Screen->Forms(i)->SetModalResult(mrCancel);
      return;
    }
    if (!s->dlg->HandleAllocated() || !IsWindowVisible(s->dlg->GetHandle()) || s->next >= s->steps.size()) return;
    // the first preview ends the dialog's activation
    if (s->dlg->Imagery2->GetIEBitmap()->GetImageWidth() != s->dlg->Imagery1->GetIEBitmap()->GetImageWidth()) return;
    s->busy = true;
    s->steps[s->next++]();
    s->busy = false;
  }
};
Script* Script::current = nullptr;

// ---- the user's actions ----
void Pick(TComboBox* c, int index) {
  HWND h = c->GetHandle();
  SendMessageA(h, CB_SETCURSEL, WPARAM(index), 0);
  SendMessageA(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), CBN_SELCHANGE), LPARAM(h));
}
void Type(TEdit* e, const char* text) { SendMessageA(e->GetHandle(), WM_SETTEXT, 0, LPARAM(text)); }
void Press(TButtonControl* b) { SendMessageA(b->GetHandle(), BM_CLICK, 0, 0); }
void Slide(TTrackBar* t, int pos) {
  HWND h = t->GetHandle();
  SendMessageA(h, TBM_SETPOS, TRUE, pos);
  SendMessageA(GetParent(h), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos), LPARAM(h));
}
void ShowTab(TfIOPreviews* d, TTabSheet* page) {
  HWND h = d->PageControl1->GetHandle();
  NMHDR nm{h, UINT_PTR(GetDlgCtrlID(h)), UINT(TCN_SELCHANGING)};
  if (SendMessageA(GetParent(h), WM_NOTIFY, nm.idFrom, LPARAM(&nm))) return;
  SendMessageA(h, TCM_SETCURSEL, WPARAM(page->TabIndex()), 0);
  nm.code = UINT(TCN_SELCHANGE);
  SendMessageA(GetParent(h), WM_NOTIFY, nm.idFrom, LPARAM(&nm));
}
void ClickControl(TWinControl* c) {  // posted: the click may open a modal window
  PostMessageA(c->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageA(c->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}
TImageryPaletteDialog* OpenPaletteDialog() {
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (auto* p = dynamic_cast<TImageryPaletteDialog*>(Screen->Forms(i)))
      if (p->HandleAllocated() && IsWindowVisible(p->GetHandle())) return p;
  return nullptr;
}

std::vector<std::string> Items(TComboBox* c) {
  std::vector<std::string> v;
  for (int i = 0; i < c->GetItems()->Count(); ++i) v.push_back(c->GetItems()->Get(i));
  return v;
}
std::string Selected(TComboBox* c) {
  const int i = c->GetItemIndex();
  return i < 0 ? std::string() : c->GetItems()->Get(i);
}

class PreviewDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCursorPos(0, 0);
    iotest::MakePicture(*io.GetIEBitmap(), 96, 64);
    io.PreviewsParams = ioppApplyButton | ioppDefaultLockPreview;
    io.SimplifiedParamsDialogs = false;
    io.OnIOPreview = [this](void*, TForm* f) { script.dlg = static_cast<TfIOPreviews*>(f); };
  }
  // Opens the dialog on `pages` with `steps`; the dialog must be closed by the last step.
  bool Run(uint16_t pages, std::vector<std::function<void()>> steps) {
    script.steps = std::move(steps);
    script.next = 0;
    script.ticks = 0;
    const bool ok = io.DoPreviews(pages);
    EXPECT_EQ(script.next, script.steps.size()) << "not every step ran";
    script.dlg = nullptr;
    return ok;
  }
  TfIOPreviews*& d() { return script.dlg; }
  TImageryIO io;
  Script script;
};

TEST_F(PreviewDialog, PageSets) {
  // Page set 2 for a file type without a page opens nothing.
  io.Params.FileType = iffICO;
  EXPECT_FALSE(Run(ieppFileType, {}));

  // A JPEG 2000 file shows only its page; OK stores the code stream type.
  io.Params.FileType = iffJP2;
  std::vector<std::string> visible;
  std::string active;
  auto record = [&] {
    visible.clear();
    for (int i = 0; i < d()->PageControl1->PageCount(); ++i)
      if (d()->PageControl1->Pages(i)->GetTabVisible()) visible.push_back(d()->PageControl1->Pages(i)->GetName());
    active = d()->PageControl1->GetActivePage() ? d()->PageControl1->GetActivePage()->GetName() : "";
  };
  // with the striped background picture behind the controls
  IEDialogBackgroundStyle = 1;
  int pictureW = 0, pictureH = 0, imageW = -1, imageH = -1;
  std::set<COLORREF> pictureColours;
  auto background = [&] {
    TBitmap* b = d()->Image1->GetPicture()->Bitmap();
    pictureW = b->GetWidth();
    pictureH = b->GetHeight();
    imageW = d()->Image1->GetWidth();
    imageH = d()->Image1->GetHeight();
    for (int y = 0; y < std::min(pictureH, 40); ++y) pictureColours.insert(COLORREF(b->Canvas()->GetPixel(5, y)));
  };
  EXPECT_TRUE(Run(ieppFileType, {record, background, [&] { Press(d()->Button1); }}));
  IEDialogBackgroundStyle = 0;
  EXPECT_EQ(pictureW, imageW);
  EXPECT_EQ(pictureH, imageH);
  EXPECT_GT(pictureColours.size(), 1u);
  EXPECT_EQ(visible, std::vector<std::string>{"TabSheetJ20001"});
  EXPECT_EQ(io.Params.FileType, iffJ2K);

  // Page set 1: every page of the mode, the file type's page active.
  struct Case {
    uint16_t pageSet;
    bool simplified;
    int fileType;
    std::vector<std::string> pages;
    const char* active;
  } cases[] = {
      {ieppAll, false, iffPNG,
       {"TabSheetJPEG1", "TabSheetTIFF1", "TabSheetGIF1", "TabSheetBMP1", "TabSheetPCX1", "TabSheetPNG1",
        "TabSheetTGA1", "TabSheetJ20001"},
       "TabSheetPNG1"},
      {ieppAll, true, iffGIF,
       {"TabSheetJPEG2", "TabSheetTIFF2", "TabSheetGIF2", "TabSheetBMP1", "TabSheetPCX1", "TabSheetPNG1",
        "TabSheetTGA1", "TabSheetJ20001"},
       "TabSheetGIF2"},
      // the file type's page is not asked for: the first page asked for shows
      {ieppPCX | ieppTGA, false, iffTIFF, {"TabSheetPCX1", "TabSheetTGA1"}, "TabSheetPCX1"},
  };
  for (const Case& c : cases) {
    io.SimplifiedParamsDialogs = c.simplified;
    io.Params.FileType = c.fileType;
    EXPECT_FALSE(Run(c.pageSet, {record, [&] { Press(d()->Button2); }}));
    EXPECT_EQ(visible, c.pages);
    EXPECT_EQ(active, c.active);
  }
}

TEST_F(PreviewDialog, TIFFCompressionList) {
  io.Params.FileType = iffTIFF;
  io.Params.TIFFCompression = 5;
  std::vector<std::string> items;
  std::string shown;
  const TIETIFFLZWCompressor coder = IEGlobalTIFFLZWCompressor;
  IEGlobalTIFFLZWCompressor = nullptr;
  EXPECT_FALSE(Run(ieppTIFF, {[&] {
                                items = Items(d()->ComboBox2);
                                shown = Selected(d()->ComboBox2);
                                Press(d()->Button2);
                              }}));
  IEGlobalTIFFLZWCompressor = coder;
  EXPECT_EQ(items, (std::vector<std::string>{"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "JPEG",
                                             "PACKBITS", "ZIP"}));
  EXPECT_EQ(shown, "PACKBITS");

  // Deflate under its second code shows as ZIP; untouched it is written back as it was, and an edit
  // anywhere on the page stores ZIP, which the writer codes the same way.
  io.Params.TIFFCompression = 10;
  io.Params.TIFFPhotometric = 2;
  EXPECT_TRUE(Run(ieppTIFF, {[&] {
                               items = Items(d()->ComboBox2);
                               shown = Selected(d()->ComboBox2);
                               Press(d()->Button1);
                             }}));
  EXPECT_EQ(items.size(), 9u);
  EXPECT_EQ(items[5], "LZW");
  EXPECT_EQ(shown, "ZIP");
  EXPECT_EQ(io.Params.TIFFCompression, 10);
  EXPECT_TRUE(Run(ieppTIFF, {[&] { Type(d()->Edit4, "scan"); }, [&] { Press(d()->Button1); }}));
  EXPECT_EQ(io.Params.TIFFCompression, 9);
  EXPECT_EQ(io.Params.TIFFDocumentName, "scan");
}

TEST_F(PreviewDialog, ApplyCancelAndPageSwitching) {
  io.Params.FileType = iffGIF;
  io.Params.BitsPerSample = 8;
  io.Params.SamplesPerPixel = 3;
  io.Params.JPEGQuality = 80;
  bool applyAtStart = true, applyAfterChange = false, applyAfterApply = true;
  std::string gifShownAgain;
  const bool ok = Run(ieppAll, {
      [&] {
        applyAtStart = d()->Button4->GetEnabled();
        Pick(d()->ComboBox5, 3);  // 16 colours, not applied
      },
      [&] { ShowTab(d(), d()->TabSheetPNG1); },
      [&] {
        ShowTab(d(), d()->TabSheetGIF1);
        gifShownAgain = Selected(d()->ComboBox5);
      },
      [&] { ShowTab(d(), d()->TabSheetJPEG1); },
      [&] {
        Type(d()->Edit22, "abc");  // no number: quality 50
        applyAfterChange = d()->Button4->GetEnabled();
      },
      [&] {
        Press(d()->Button4);
        applyAfterApply = d()->Button4->GetEnabled();
      },
      [&] { Type(d()->Edit22, "20"); },
      [&] { Press(d()->Button2); },
  });
  EXPECT_FALSE(ok);
  EXPECT_FALSE(applyAtStart);
  EXPECT_EQ(gifShownAgain, "256");  // the change was dropped with the page
  EXPECT_TRUE(applyAfterChange);
  EXPECT_FALSE(applyAfterApply);
  EXPECT_EQ(io.Params.JPEGQuality, 50);  // what Apply wrote; Cancel wrote nothing
  EXPECT_EQ(io.Params.FileType, iffJPEG);
  EXPECT_EQ(io.Params.BitsPerSample, 8);
}

// What OK writes after the user's edits on each page, with the coupling between a page's controls.
TEST_F(PreviewDialog, WriteBackPerPage) {
  using Steps = std::vector<std::function<void()>>;
  struct Case {
    const char* name;
    bool simplified;
    int fileType;
    Steps steps;  // OK is pressed after them
    std::function<void(const TIOParamsVals&)> check;
  };
  std::string shown;
  const Case cases[] = {
      {"TIFF palette photometric", false, iffTIFF,
       Steps{[&] {
         Pick(d()->ComboBox3, 3);
         shown = Selected(d()->ComboBox4);
       }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(shown, "256");
         EXPECT_EQ(p.TIFFPhotometric, 3);
         EXPECT_EQ(p.BitsPerSample, 8);
         EXPECT_EQ(p.SamplesPerPixel, 1);
       }},
      {"TIFF black and white", false, iffTIFF,
       Steps{[&] {
         Pick(d()->ComboBox4, 0);
         shown = Selected(d()->ComboBox3);
       }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(shown, "BLACKISZERO/Gray");
         EXPECT_EQ(p.TIFFPhotometric, 1);
         EXPECT_EQ(p.BitsPerSample, 1);
         EXPECT_EQ(p.SamplesPerPixel, 1);
       }},
      {"TIFF CMYK", false, iffTIFF, Steps{[&] { Pick(d()->ComboBox3, 5); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.TIFFPhotometric, 5);
         EXPECT_EQ(p.SamplesPerPixel, 4);
         EXPECT_EQ(p.BitsPerSample, 8);
       }},
      {"TIFF simplified fax", true, iffTIFF,
       Steps{[&] {
         Pick(d()->ComboBox16, 4);
         shown = Selected(d()->ComboBox17);
       }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(shown, "2");
         EXPECT_EQ(p.TIFFCompression, 4);
         EXPECT_EQ(p.TIFFPhotometric, 1);
         EXPECT_EQ(p.BitsPerSample, 1);
       }},
      {"TIFF simplified fax then 256 colours", true, iffTIFF,
       Steps{[&] { Pick(d()->ComboBox16, 4); }, [&] { Pick(d()->ComboBox17, 2); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.TIFFCompression, 0);
         EXPECT_EQ(p.BitsPerSample, 8);
         EXPECT_EQ(p.SamplesPerPixel, 1);
       }},
      {"BMP 32-bit entry", false, iffBMP, Steps{[&] { Pick(d()->ComboBox7, 4); }, [&] { Pick(d()->ComboBox6, 1); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.BitsPerSample, 8);
         EXPECT_EQ(p.SamplesPerPixel, 3);
         EXPECT_EQ(p.BMPCompression, 1);
         EXPECT_EQ(p.FileType, iffBMP);
       }},
      {"JPEG 2000 grey", false, iffJ2K, Steps{[&] { Pick(d()->ComboBox15, 0); }, [&] { Type(d()->Edit15, "250"); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.J2000ColorSpace, 0);
         EXPECT_EQ(p.SamplesPerPixel, 1);
         EXPECT_EQ(p.BitsPerSample, 8);
         EXPECT_DOUBLE_EQ(p.J2000Rate, 0.25);
       }},
      {"GIF keeps the samples", false, iffGIF, Steps{[&] { Pick(d()->ComboBox5, 0); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.BitsPerSample, 1);
         EXPECT_EQ(p.SamplesPerPixel, 3);
       }},
      {"TGA texts", false, iffTGA,
       Steps{[&] { Pick(d()->ComboBox14, 1); }, [&] { Type(d()->Edit13, "job"); }, [&] { Press(d()->CheckBox1); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.TGAImageName, "job");
         EXPECT_EQ(p.BitsPerSample, 8);
         EXPECT_EQ(p.SamplesPerPixel, 1);
         EXPECT_FALSE(p.TGACompressed);
       }},
      {"PNG advanced", false, iffPNG, Steps{[&] { Pick(d()->ComboBox12, 9); }, [&] { Pick(d()->ComboBox11, 2); }},
       [&](const TIOParamsVals& p) {
         EXPECT_EQ(p.PNGCompression, 9);
         EXPECT_EQ(p.PNGFilter, 2);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TIOParamsVals defaults(&io);
      io.Params.Assign(defaults);
    }
    io.Params.FileType = c.fileType;
    io.SimplifiedParamsDialogs = c.simplified;
    Steps steps = c.steps;
    // the source view shows the component's own bitmap, and no preview changes it
    TIEBitmap before;
    before.Assign(io.GetIEBitmap());
    bool shared = false;
    steps.insert(steps.begin(), [&] { shared = d()->Imagery1->GetIEBitmap() == io.GetIEBitmap(); });
    steps.push_back([&] { Press(d()->Button1); });
    EXPECT_TRUE(Run(ieppFileType, steps));
    c.check(io.Params);
    EXPECT_TRUE(shared);
    ASSERT_EQ(io.GetIEBitmap()->GetPixelFormat(), before.GetPixelFormat());
    for (int y = 0; y < before.GetImageHeight(); ++y)
      ASSERT_EQ(0, std::memcmp(before.GetRowAddress(y), io.GetIEBitmap()->GetRowAddress(y), size_t(before.GetRowLength())))
          << "row " << y;
  }
}

// With Lock Preview off a colour change is not previewed: the swatch's palette holds the colours of
// the last preview, fewer than the new count asks for, and the dialog offers only those.
TEST_F(PreviewDialog, SwatchNeverReadsPastThePreviewsPalette) {
  io.PreviewsParams = ioppApplyButton;
  io.Params.FileType = iffGIF;
  io.Params.BitsPerSample = 4;
  io.Params.GIFFlagTranspColor = true;
  int lastReachable = -1;
  EXPECT_TRUE(Run(ieppFileType, {
      [&] { Pick(d()->ComboBox5, 7); },  // 256 colours, not previewed
      [&] { ClickControl(d()->Panel3); },
      [&] {
        TImageryPaletteDialog* p = OpenPaletteDialog();
        if (!p) {
          --script.next;
          return;
        }
        for (int cell : {15, 16, 40, 255}) SendMessageA(p->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM((cell % 32) * 16 + 8, (cell / 32) * 16 + 8));
        lastReachable = p->CurrentCell;
        Press(p->CancelButton);
      },
      [&] {
        if (OpenPaletteDialog()) {
          --script.next;
          return;
        }
        Press(d()->Button1);
      },
  }));
  EXPECT_EQ(lastReachable, 15);
  EXPECT_EQ(io.Params.BitsPerSample, 8);
}

// Records the progress bar's positions.
std::vector<int>* gProgress = nullptr;
HWND gProgressWnd = nullptr;
LRESULT CALLBACK ProgressHook(int code, WPARAM w, LPARAM l) {
  const CWPSTRUCT* m = reinterpret_cast<CWPSTRUCT*>(l);
  if (code == HC_ACTION && gProgress && m->hwnd == gProgressWnd && m->message == PBM_SETPOS)
    gProgress->push_back(int(m->wParam));
  return CallNextHookEx(nullptr, code, w, l);
}

TEST_F(PreviewDialog, JPEGPreviewIsTheRealSave) {
  if (!iotest::ToolsPresent()) GTEST_SKIP() << "host tools missing";
  io.Params.FileType = iffJPEG;
  io.Params.JPEGQuality = 75;
  std::string sizeText;
  TIEBitmap result;
  std::vector<int> progress;
  HHOOK hook = nullptr;
  EXPECT_TRUE(Run(ieppFileType, {
      [&] {
        gProgress = &progress;
        gProgressWnd = d()->ProgressBar1->GetHandle();
        hook = SetWindowsHookExA(WH_CALLWNDPROC, ProgressHook, nullptr, GetCurrentThreadId());
        Slide(d()->TrackBar13, 30);
      },
      [&] {
        UnhookWindowsHookEx(hook);
        gProgress = nullptr;
        sizeText = d()->Label25->GetCaption();
        result.Assign(d()->Imagery2->GetIEBitmap());
        Press(d()->Button1);
      },
  }));
  EXPECT_EQ(io.Params.JPEGQuality, 30);
  EXPECT_EQ(d(), nullptr);

  // The same save through the component: its byte count is the label, its decode by the host's
  // decoder is the result view.
  TIEMemoryStream saved;
  io.SaveStreamAsFileType(saved, iffJPEG);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(sizeText, std::to_string(saved.GetSize()) + " bytes");
  std::vector<uint8_t> bytes(size_t(saved.GetSize()));
  saved.SetPosition(0);
  saved.Read(bytes.data(), int32_t(bytes.size()));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("q30.jpg"), bytes.data(), bytes.size()));
  iotest::Host("djpeg -dct int -outfile q30.ppm q30.jpg");
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(iotest::ReadPPM(tq::WorkFile("q30.ppm"), w, h, rgb));
  ASSERT_EQ(w, result.GetImageWidth());
  ASSERT_EQ(h, result.GetImageHeight());
  EXPECT_EQ(iotest::RGBOf(result), rgb);

  // The bar: writing fills the first half, reading the second, and it ends at 0.
  ASSERT_FALSE(progress.empty());
  bool firstHalf = false, secondHalf = false;
  for (int p : progress) {
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100);
    firstHalf |= p > 0 && p <= 50;
    secondHalf |= p > 50;
  }
  EXPECT_TRUE(firstHalf);
  EXPECT_TRUE(secondHalf);
  EXPECT_EQ(progress.back(), 0);
}

TEST_F(PreviewDialog, GIFSixteenColoursAndTheirPalette) {
  io.Params.FileType = iffGIF;
  io.Params.BitsPerSample = 8;
  std::set<uint32_t> colours;
  std::vector<TIERGB> map;
  int cellAt15 = -1, cellPast = -1;
  EXPECT_TRUE(Run(ieppFileType, {
      [&] { Pick(d()->ComboBox5, 3); },
      [&] {
        TIEBitmap* r = d()->Imagery2->GetIEBitmap();
        for (int y = 0; y < r->GetImageHeight(); ++y)
          for (int x = 0; x < r->GetImageWidth(); ++x) {
            const TIERGB c = r->GetPixelRGB(x, y);
            colours.insert(uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
          }
        map = d()->Imagery2->GetIO()->Params.ColorMap;
        Press(d()->CheckBox4);
      },
      [&] { ClickControl(d()->Panel3); },
      [&] {
        TImageryPaletteDialog* p = OpenPaletteDialog();
        if (!p) {
          --script.next;  // not up yet: this step again
          return;
        }
        SendMessageA(p->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(15 * 16 + 8, 8));
        cellAt15 = p->CurrentCell;
        SendMessageA(p->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(16 * 16 + 8, 8));  // past the 16 offered
        cellPast = p->CurrentCell;
        PostMessageA(p->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(16 * 16 + 8, 8));
        PostMessageA(p->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(16 * 16 + 8, 8));
      },
      [&] {
        if (OpenPaletteDialog()) {
          --script.next;
          return;
        }
        Press(d()->Button1);
      },
  }));
  EXPECT_LE(colours.size(), 16u);
  EXPECT_GE(colours.size(), 2u);
  ASSERT_EQ(map.size(), 16u);
  EXPECT_EQ(cellAt15, 15);
  EXPECT_EQ(cellPast, 15);
  EXPECT_EQ(io.Params.BitsPerSample, 4);
  EXPECT_TRUE(io.Params.GIFFlagTranspColor);
  EXPECT_TRUE(io.Params.GIFTranspColor.r == map[15].r && io.Params.GIFTranspColor.g == map[15].g &&
              io.Params.GIFTranspColor.b == map[15].b);
}

TEST_F(PreviewDialog, ResultFollowsTheSource) {
  iotest::MakePicture(*io.GetIEBitmap(), 400, 300);
  io.Params.FileType = iffBMP;
  std::vector<std::string> mismatches;
  auto compare = [&](const char* what) {
    TImageryView *a = d()->Imagery1, *b = d()->Imagery2;
    if (a->GetZoom() != b->GetZoom() || a->GetViewOriginX() != b->GetViewOriginX() ||
        a->GetViewOriginY() != b->GetViewOriginY())
      mismatches.push_back(std::string(what) + ": zoom " + std::to_string(a->GetZoom()) + "/" +
                           std::to_string(b->GetZoom()) + " origin " + std::to_string(a->GetViewOriginX()) + "," +
                           std::to_string(a->GetViewOriginY()) + "/" + std::to_string(b->GetViewOriginX()) + "," +
                           std::to_string(b->GetViewOriginY()));
  };
  double fitZoom = 0, zoomed = 0;
  int scrolledX = 0;
  EXPECT_FALSE(Run(ieppFileType, {
      [&] { compare("fit"); },
      [&] {
        fitZoom = d()->Imagery1->GetZoom();
        HWND h = d()->Imagery1->GetHandle();
        POINT c{90, 60};
        ClientToScreen(h, &c);
        for (int i = 0; i < 12; ++i)  // the view zooms in as the wheel turns back
          SendMessageA(h, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), MAKELPARAM(c.x, c.y));
        zoomed = d()->Imagery2->GetZoom();
        compare("wheel");
      },
      [&] {
        SendMessageA(d()->Imagery1->GetHandle(), WM_HSCROLL, MAKEWPARAM(SB_PAGERIGHT, 0), 0);
        scrolledX = d()->Imagery2->GetViewOriginX();
        compare("page right");
      },
      [&] {
        SendMessageA(d()->Imagery1->GetHandle(), WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
        compare("line down");
      },
      [&] {
        d()->Imagery1->SetZoom(150);
        compare("zoom out");
      },
      [&] {
        Pick(d()->ComboBox7, 0);  // a new preview keeps following
        compare("preview");
        Press(d()->Button2);
      },
  }));
  EXPECT_GT(zoomed, fitZoom * 2);
  EXPECT_GT(scrolledX, 0);
  EXPECT_TRUE(mismatches.empty()) << mismatches.front();
}

// The captions of Localize: one row per control (control, word slot, suffix; "  " marks a group box).
TEST(PreviewDialogWords, GermanCaptions) {
  TfIOPreviews* f = TCustomForm::CreateNew<TfIOPreviews>(nullptr);
  f->Localize(msGerman);
  auto ansi = [](const std::wstring& w) {
    std::string s(size_t(WideCharToMultiByte(CP_ACP, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr)), 0);
    if (!s.empty()) WideCharToMultiByte(CP_ACP, 0, w.c_str(), int(w.size()), &s[0], int(s.size()), nullptr, nullptr);
    return s;
  };
  struct Row {
    TControl* control;
    uint8_t slot;
    const char* suffix;
  } rows[] = {
      {f, 37, ""},              {f->Button3, 0, ""},         {f->Label1, 1, ":"},        {f->Label2, 2, ":"},
      {f->Button1, 3, ""},      {f->Button2, 4, ""},         {f->chkLockPreview, 5, ""}, {f->Button4, 120, ""},
      {f->Label72, 38, ":"},    {f->Label26, 39, ":"},       {f->Label27, 40, ":"},      {f->CheckBox2, 42, ""},
      {f->CheckBox3, 46, ""},   {f->Label58, 43, ":"},       {f->Label69, 44, ":"},      {f->GroupBox3, 45, "  "},
      {f->CheckBox1, 47, ":"},  {f->Label20, 48, ":"},       {f->Label71, 49, ":"},      {f->GroupBox1, 50, "  "},
      {f->Label64, 51, ":"},    {f->Label65, 52, ":"},       {f->Label14, 53, ":"},      {f->Label15, 54, ":"},
      {f->Label16, 55, ""},     {f->Label8, 56, ":"},        {f->Label10, 57, ":"},      {f->Label87, 58, ":"},
      {f->CheckBox4, 59, ""},   {f->Label34, 60, ":"},       {f->CheckBox5, 61, ":"},    {f->CheckBox6, 61, ""},
      {f->Label63, 62, ":"},    {f->Label31, 63, ":"},       {f->Label32, 64, ":"},      {f->Label33, 65, ":"},
      {f->Label55, 66, ":"},    {f->Label66, 123, ":"},
  };
  for (const Row& r : rows) {
    const std::string word = ansi(IEGetLocalizedWord(r.slot, msGerman));
    const std::string want = std::string(r.suffix) == "  " ? " " + word + " " : word + r.suffix;
    EXPECT_EQ(r.control->GetCaption(), want) << "slot " << int(r.slot);
  }
  EXPECT_EQ(f->Button2->GetCaption(), "Abbrechen");
  EXPECT_EQ(f->Label1->GetCaption(), "Original:");
  EXPECT_EQ(f->CancelCaption, L"&Abbrechen");
  // fixed texts stay
  EXPECT_EQ(f->TabSheetJ20001->GetCaption(), "JPEG2000");
  EXPECT_EQ(f->Label36->GetCaption(), "1/100 s");
  f->Free();
}

TEST(PreviewDialogOpener, AHandledReplacementShowsNothing) {
  TImageryIO io;
  io.GetIEBitmap()->Allocate(8, 8, ie8g);
  bool called = false;
  io.OnDoPreviews = [&](void*, bool& handled) {
    called = true;
    handled = true;
  };
  EXPECT_TRUE(io.DoPreviews(ieppAll));
  EXPECT_TRUE(called);
  EXPECT_EQ(io.GetIEBitmap()->GetPixelFormat(), ie8g);  // not converted when handled
}

}  // namespace
