// Conversion runs from the main window's "Convert" button against the presentation stand-in, with
// generated decks: every format's files decoded on the host at the requested size with the slides'
// colours, the call protocol in the stand-in's journal, the temporary folder gone afterwards, and the
// failure paths with their messages, cancel, and what they leave behind.
#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>

#include "app_harness.h"
#include "host_decode.h"
#include "conversion.h"
#include "gdiplus_runtime.h"
#include "progress_form.h"
#include "slide_image.h"
#include "vodevovur.h"

using namespace app_test;

namespace {

const wchar_t kControls[] = L"Software\\Tevarnic\\PresenterStandIn";

int RunServer(const std::wstring& args) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + Wide(tq::WinPath(PRESENTER_SERVER)) + L"\" " + args;
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, 20000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return int(code);
}

void SetControl(const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kControls, name, REG_DWORD, &value, sizeof value);
}

std::string JournalFile() { return tq::WorkFile("journal.txt"); }

std::string ReadJournal() {
  std::vector<unsigned char> v;
  tq::ReadFileBytes(JournalFile(), v);
  return std::string(v.begin(), v.end());
}

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

bool Exists(const std::string& path) { return GetFileAttributesW(FromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string TempPath() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  return ToUtf8(temp);
}

std::string TevarnicFolder() { return TempPath() + "tevarnic"; }

// The run folders under the temporary path's "tevarnic" folder.
std::vector<std::string> RunFolders() {
  std::vector<std::string> found;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(FromUtf8(TevarnicFolder() + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    const std::wstring name = fd.cFileName;
    if (name != L"." && name != L"..") found.push_back(ToUtf8(name));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return found;
}


class Conversion : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    OleInitialize(nullptr);
    IELibraryStaticInit();
    ASSERT_EQ(RunServer(L"/regserver"), 0);
    DeleteFileA(JournalFile().c_str());
    const std::wstring journal = Wide(JournalFile());
    RegSetKeyValueW(HKEY_CURRENT_USER, kControls, L"Journal", REG_SZ, journal.c_str(),
                    DWORD((journal.size() + 1) * sizeof(wchar_t)));
    gdiplus_ = new app::GdiplusRuntime();
  }
  static void TearDownTestSuite() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kControls);
    delete gdiplus_;
  }
  void SetUp() override {
    SetControl(L"FailOpen", 0);
    SetControl(L"FailExportAt", 0);
    SetControl(L"ExportDelayMs", 0);
    windows_ = new ProgramWindows();
    form = windows_->form;
  }
  void TearDown() override { delete windows_; }

  void Set(TVelEdit* edit, const std::string& text) { edit->SetText(FromUtf8(text)); }
  // Fills the inputs (height before width: each follows the other only while it leads) and selects
  // the format row.
  void Inputs(const std::string& deck, const std::string& folder, const char* key, int width, int height,
              const std::string& prefix) {
    Set(form->Edit1, deck);
    Set(form->Edit2, folder);
    Set(form->Edit4, std::to_string(height));
    Set(form->Edit3, std::to_string(width));
    Set(form->Edit6, prefix);
    HWND list = form->VelListView1->GetHandle();
    for (int i = 0; i < ListView_GetItemCount(list); ++i) {
      char text[16] = {};
      ListView_GetItemText(list, i, 0, text, sizeof text);
      if (std::string(text) == key)
        ListView_SetItemState(list, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    Pump(1);
  }
  // Presses "Convert" and returns once its handler has returned.
  void Convert() {
    SendMessageW(form->VelButton1->GetHandle(), BM_CLICK, 0, 0);
    Pump();
  }
  bool OpenFolderEnabled() { return IsWindowEnabled(form->Button1->GetHandle()) != FALSE; }

  static app::GdiplusRuntime* gdiplus_;
  ProgramWindows* windows_ = nullptr;
  app::Tform1* form = nullptr;
};
app::GdiplusRuntime* Conversion::gdiplus_ = nullptr;

struct Format {
  const char* key;
  const char* ext;
  const char* toPpm;  // host command, %s = input, output is out.ppm; nullptr for metafiles
  int tolerance;
};
const Format kFormats[] = {
    {"JPEG", ".jpg", "/usr/bin/djpeg -pnm -outfile out.ppm %s", 24},
    {"BMP", ".bmp", "/usr/bin/bmptoppm %s > out.ppm", 2},
    {"PNG", ".png",
     "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGB').save('out.ppm')\" %s", 2},
    {"GIF", ".gif", "/usr/bin/giftopnm %s > out.ppm", 16},
    {"TIFF", ".tif", "/usr/bin/tifftopnm %s > out.ppm", 2},
    {"TGA", ".tga", "/usr/bin/tgatoppm %s > out.ppm", 2},
    {"PCX", ".pcx", "/usr/bin/pcxtoppm %s > out.ppm", 2},
    {"JP2", ".jp2", "/usr/bin/opj_decompress -quiet -i %s -o out.ppm", 24},
    {"JP2K", ".j2k", "/usr/bin/opj_decompress -quiet -i %s -o out.ppm", 24},
    {"RLE", ".rle", "/usr/bin/bmptoppm %s > out.ppm", 2},
    {"EMF", ".emf", nullptr, 0},
    {"WMF", ".wmf", nullptr, 0},
};

// Decodes our file with the format's host decoder; false with the tool's output in `why`.
bool DecodeOnHost(const Format& f, const std::string& winPath, Ppm& ppm, std::string& why) {
  char command[1024];
  snprintf(command, sizeof command, f.toPpm, tq::ShellQuote(tq::UnixPath(winPath)).c_str());
  return tq::RunHost(command, &why) == 0 && ReadPpm(tq::WorkFile("out.ppm"), ppm);
}

// Samples as fractions of the output.
const struct {
  double fx, fy;
  COLORREF expect;
  const char* what;
} kSamples[] = {{0.25, 0.27, RGB(0xE0, 0x10, 0x10), "red box"},
                {0.75, 0.27, RGB(0x10, 0xC0, 0x10), "green box"},
                {0.50, 0.90, RGB(0x10, 0x10, 0xE0), "blue band"},
                {0.50, 0.02, RGB(0x20, 0x30, 0x40), "background"}};

// The deck, the output folder, the prefix and the user's temporary folder are named in Greek and
// Chinese, which no 8-bit code page holds both of: what the edits accept must reach every road to a
// file whole (the platform bitmap writer, GDI+, the GIF codec, the image library, the application's
// own metafile export), found under its exact name and decoded by the host.
TEST_F(Conversion, EveryFormatWritesOneDecodableFilePerSlide) {
  const std::string deck = WriteDeck("Ελλάδα_演示文稿.pptx", 2);
  const std::string prefix = "Ελλάδα_图片_";
  constexpr int kWidth = 320, kHeight = 200;  // not 4:3: the slides are stretched
  const std::string temp = FreshFolder("temp_Ελλάδα_临时");
  struct TempFolder {
    explicit TempFolder(const std::wstring& path) {
      GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
      SetEnvironmentVariableW(L"TMP", path.c_str());
    }
    ~TempFolder() { SetEnvironmentVariableW(L"TMP", old[0] ? old : nullptr); }
    wchar_t old[MAX_PATH + 1] = {};
  } tempFolder(FromUtf8(temp));
  ASSERT_EQ(TempPath(), temp + "\\");
  for (const Format& f : kFormats) {
    const std::string folder = FreshFolder(std::string("out_Ελλάδα_输出_") + f.key);
    DeleteFileA(JournalFile().c_str());
    DialogWatcher watcher;
    Inputs(deck, folder + "\\", f.key, kWidth, kHeight, prefix);
    Convert();
    ASSERT_EQ(watcher.messages, std::vector<std::wstring>{app::kSuccessMessage}) << f.key;
    EXPECT_TRUE(OpenFolderEnabled()) << f.key;
    const std::string name1 = prefix + "1" + f.ext, name2 = prefix + "2" + f.ext;
    ASSERT_EQ(FilesIn(folder), (std::vector<std::string>{name1, name2})) << f.key;
    EXPECT_TRUE(RunFolders().empty()) << f.key << ": the temporary folder stays";

    const std::string journal = ReadJournal();
    EXPECT_NE(journal.find("Presentations.Open(FileName=VT_BSTR \"" + deck +
                           "\", ReadOnly=VT_I4 0, Untitled=VT_I4 1, WithWindow=VT_I4 0)"),
              std::string::npos)
        << journal;
    EXPECT_EQ(CountOf(journal, "Slides.Count()"), 1u) << f.key;
    EXPECT_NE(journal.find("Slides.Item(Index=VT_I4 2)"), std::string::npos) << f.key;
    EXPECT_EQ(CountOf(journal, "Presentation.Close()"), 1u) << f.key;
    EXPECT_EQ(journal.find("Quit"), std::string::npos) << f.key;
    const std::string size = "ScaleWidth=VT_I4 " + std::to_string(kWidth) + ", ScaleHeight=VT_I4 " +
                             std::to_string(kHeight) + ")";
    if (!f.toPpm) {
      // Exported straight into the output folder by the application, in its own format.
      const std::string filter = std::string(f.ext + 1);
      EXPECT_NE(journal.find("FileName=VT_BSTR \"" + folder + "\\" + name2 + "\", FilterName=VT_BSTR \"" + filter +
                             "\", " + size),
                std::string::npos)
          << journal;
      EXPECT_EQ(journal.find("tevarnic"), std::string::npos) << "no temporary metafile: " << journal;
      std::vector<unsigned char> bytes;
      ASSERT_TRUE(tq::ReadFileBytes(folder + "\\" + name1, bytes));
      ASSERT_GT(bytes.size(), 44u);
      if (filter == "emf")
        EXPECT_EQ(std::string(bytes.begin() + 40, bytes.begin() + 44), " EMF");
      else
        EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | unsigned(bytes[3]) << 24, 0x9AC6CDD7u);
      Gdiplus::GpImage* image = nullptr;
      ASSERT_EQ(Gdiplus::DllExports::GdipLoadImageFromFile(FromUtf8(folder + "\\" + name1).c_str(), &image),
                Gdiplus::Ok);
      UINT w = 0, h = 0;
      Gdiplus::DllExports::GdipGetImageWidth(image, &w);
      Gdiplus::DllExports::GdipGetImageHeight(image, &h);
      Gdiplus::DllExports::GdipDisposeImage(image);
      EXPECT_EQ(w, UINT(kWidth));
      EXPECT_EQ(h, UINT(kHeight));
      continue;
    }
    EXPECT_NE(journal.find("FileName=VT_BSTR \"" + temp + "\\tevarnic\\{"), std::string::npos) << journal;
    EXPECT_NE(journal.find("\\2.emf\", FilterName=VT_BSTR \"emf\", " + size), std::string::npos) << journal;
    for (const std::string& name : {name1, name2}) {
      Ppm ppm;
      std::string output;
      ASSERT_TRUE(DecodeOnHost(f, folder + "\\" + name, ppm, output)) << name << ": " << output;
      EXPECT_EQ(ppm.width, kWidth) << name;
      EXPECT_EQ(ppm.height, kHeight) << name;
      if (ppm.width != kWidth || ppm.height != kHeight) continue;
      for (const auto& s : kSamples) {
        const int x = int(s.fx * kWidth), y = int(s.fy * kHeight);
        EXPECT_TRUE(Near(ppm.At(x, y), s.expect, f.tolerance))
            << name << " " << s.what << ": got " << std::hex << ppm.At(x, y);
      }
    }
  }
}

// An empty prefix names the files by their numbers only; an existing output file is replaced.
TEST_F(Conversion, EmptyPrefixAndExistingFilesReplaced) {
  const std::string deck = WriteDeck("two.pptx", 2);
  const std::string folder = FreshFolder("out_plain");
  ASSERT_TRUE(tq::WriteFileBytes(folder + "\\1.png", "old", 3));
  DialogWatcher watcher;
  Inputs(deck, folder + "\\", "PNG", 64, 48, "");
  Convert();
  EXPECT_EQ(watcher.messages, std::vector<std::wstring>{app::kSuccessMessage});
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"1.png", "2.png"}));
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(folder + "\\1.png", bytes));
  EXPECT_GT(bytes.size(), 8u);
  EXPECT_EQ(bytes[1], 'P');
}

TEST_F(Conversion, FailurePathsShowTheirMessageAndLeaveNothingBehind) {
  const std::string two = WriteDeck("two.pptx", 2);
  const std::string four = WriteDeck("four.pptx", 4);
  const std::string none = WriteDeck("none.pptx", 0);
  const std::string folder = tq::WorkFile("out_fail");
  HANDLE locked = INVALID_HANDLE_VALUE;

  const struct Case {
    const char* what;
    std::string deck;
    std::string folder;               // as typed into the folder edit
    std::function<void()> before;     // after the fresh folder is made
    std::function<void()> after;
    std::vector<std::wstring> messages;  // a message ending in "..." is found inside the text shown
    std::vector<std::string> files;
    bool opened;          // the presentation was opened (and must be closed)
    bool successAfter;    // "Open output folder" enabled afterwards
    bool cancelOnThird = false;
  } cases[] = {
      {"missing source", tq::WorkFile("absent.pptx"), folder + "\\", nullptr, nullptr,
       {app::kSourceMissingMessage}, {}, false, false},
      {"source is a folder", tq::WorkDir(), folder + "\\", nullptr, nullptr, {app::kSourceMissingMessage}, {}, false,
       false},
      {"missing folder", two, folder + "\\absent\\", nullptr, nullptr, {app::kFolderMissingMessage}, {}, false, false},
      {"application not registered", two, folder + "\\", [] { RunServer(L"/unregserver"); },
       [] { RunServer(L"/regserver"); }, {app::kNotInstalledMessage}, {}, false, false},
      {"open fails", two, folder + "\\", [] { SetControl(L"FailOpen", 1); }, nullptr, {app::kOpenFailedMessage}, {},
       false, false},
      {"temporary folder cannot be made", two, folder + "\\",
       [] {
         // A file where the runs' parent folder should be.
         RemoveDirectoryW(FromUtf8(TevarnicFolder()).c_str());
         tq::WriteFileBytes(TevarnicFolder(), "x", 1);
       },
       [] { DeleteFileW(FromUtf8(TevarnicFolder()).c_str()); }, {Wide(app::kTempFolderMessage)}, {}, true, false},
      {"output file held open", two, folder + "\\",
       [&] {
         locked = CreateFileA((folder + "\\p2.png").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
       },
       [&] { CloseHandle(locked); },
       {Wide(folder) + L"\\p2.png" + app::kFileLockedMessage},
       {"p1.png", "p2.png"}, true, false},
      {"export fails at slide 2", two, folder + "\\", [] { SetControl(L"FailExportAt", 2); }, nullptr,
       {L"slide 2 could not be exported: forced failure..."}, {"p1.png"}, true, false},
      {"cancel during slide 3", four, folder + "\\",
       [&] {
         tq::WriteFileBytes(folder + "\\p4.png", "old", 3);
         SetControl(L"ExportDelayMs", 150);
       },
       nullptr, {}, {"p1.png", "p2.png", "p3.png", "p4.png"}, true, false, true},
      {"no slides", none, folder + "\\", nullptr, nullptr, {app::kSuccessMessage}, {}, true, true},
  };
  for (const Case& c : cases) {
    FreshFolder("out_fail");
    SetControl(L"FailOpen", 0);
    SetControl(L"FailExportAt", 0);
    SetControl(L"ExportDelayMs", 0);
    if (c.before) c.before();
    DeleteFileA(JournalFile().c_str());
    form->Button1->SetEnabled(false);
    DialogWatcher watcher;
    bool cancelled = false;
    if (c.cancelOnThird) {
      // Cancel is pressed once slide 3 has been exported and before it is written.
      watcher.OnTick = [&] {
        for (int i = 0; i < ui::Screen->FormCount(); ++i) {
          auto* progress = dynamic_cast<app::Tform2*>(ui::Screen->Forms(i));
          if (!cancelled && progress && Exists(ToUtf8(progress->TempDir) + "3.emf") &&
              !Exists(folder + "\\p3.png")) {
            SendMessageW(progress->Cancel->GetHandle(), BM_CLICK, 0, 0);
            cancelled = true;
          }
        }
      };
    }
    Inputs(c.deck, c.folder, "PNG", 64, 48, "p");
    Convert();
    if (c.after) c.after();
    ASSERT_EQ(watcher.messages.size(), c.messages.size()) << c.what;
    for (size_t i = 0; i < c.messages.size(); ++i) {
      const std::wstring& m = c.messages[i];
      if (m.size() > 3 && m.compare(m.size() - 3, 3, L"...") == 0)
        EXPECT_NE(watcher.messages[i].find(m.substr(0, m.size() - 3)), std::wstring::npos)
            << c.what << ": " << Narrow(watcher.messages[i]);
      else
        EXPECT_EQ(watcher.messages[i], m) << c.what;
    }
    EXPECT_EQ(FilesIn(folder), c.files) << c.what;
    EXPECT_EQ(OpenFolderEnabled(), c.successAfter) << c.what;
    EXPECT_TRUE(RunFolders().empty()) << c.what << ": the temporary folder stays";
    const std::string journal = ReadJournal();
    EXPECT_EQ(CountOf(journal, "Presentation.Close()"), c.opened ? 1u : 0u) << c.what << "\n" << journal;
    EXPECT_EQ(journal.find("Quit"), std::string::npos) << c.what;
    if (c.cancelOnThird) {
      EXPECT_TRUE(cancelled);
      EXPECT_EQ(journal.find("Slides.Item(Index=VT_I4 4)"), std::string::npos) << journal;
      // The earlier run's file of a slide not written again is left as it was.
      std::vector<unsigned char> old;
      ASSERT_TRUE(tq::ReadFileBytes(folder + "\\p4.png", old));
      EXPECT_EQ(std::string(old.begin(), old.end()), "old");
    }
    if (std::string(c.what) == "missing folder") {
      EXPECT_EQ(GetFocus(), form->Edit2->GetHandle());
    }
  }
}

// A name Windows does not let a file have is refused before PowerPoint is asked for anything, with the
// message naming the field and the focus in it; a name that only looks odd converts.
TEST_F(Conversion, ForbiddenImageNamesAreRefusedBeforeTheRun) {
  const std::string deck = WriteDeck("two.pptx", 2);
  const std::string folder = FreshFolder("out_names");
  for (const char* name : {"a:b", "x?", "p*", "q|", "<r>", "s\\t", "u/v", "w\"x", "tab\tname", "com", "LPT", "con. ", "Nul.x"}) {
    DeleteFileA(JournalFile().c_str());
    DialogWatcher watcher;
    Inputs(deck, folder + "\\", "PNG", 64, 48, name);
    Convert();
    EXPECT_EQ(watcher.messages, std::vector<std::wstring>{app::kImageNameMessage}) << name;
    EXPECT_EQ(GetFocus(), form->Edit6->GetHandle()) << name;
    EXPECT_TRUE(FilesIn(folder).empty()) << name;
    EXPECT_EQ(ReadJournal().find("Presentations.Open"), std::string::npos) << name;
  }
  DialogWatcher watcher;
  Inputs(deck, folder + "\\", "PNG", 64, 48, "con_. ");
  Convert();
  EXPECT_EQ(watcher.messages, std::vector<std::wstring>{app::kSuccessMessage});
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"con_. 1.png", "con_. 2.png"}));
}

// What `count` saves of a black width x height picture straight through GDI+'s TIFF encoder, with no
// program code around them, leave behind in the process.
uint64_t BareTiffSaveGrowth(int count, int width, int height, const std::wstring& path) {
  namespace gp = Gdiplus::DllExports;
  CLSID tiff;
  if (app::FindEncoderByMime(L"image/tiff", &tiff) < 0) return 0;
  auto save = [&] {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, &bitmap) != Gdiplus::Ok) return;
    gp::GdipSaveImageToFile(bitmap, path.c_str(), &tiff, nullptr);
    gp::GdipDisposeImage(bitmap);
  };
  save();
  const uint64_t before = PrivateBytes();
  for (int i = 0; i < count; ++i) save();
  const uint64_t after = PrivateBytes();
  return after > before ? after - before : 0;
}

// The loop alone, with a host that records what the window would show.
class RecordingHost : public app::ExportHost {
 public:
  void ProcessMessages() override {}
  bool IsCancelled() const override { return cancelled; }
  void SetCancelled() override { cancelled = true; }
  void SetMaximum(int count) override { maximum = count; }
  void ShowProgress(int done, const std::wstring& label) override {
    positions.push_back(done);
    labels.push_back(label);
  }
  void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
  bool cancelled = false;
  int maximum = -1;
  std::vector<int> positions;
  std::vector<std::wstring> labels;
  std::vector<std::wstring> messages;
};

TEST_F(Conversion, EightSlidesShowRoundedPercentages) {
  const std::string deck = WriteDeck("eight.pptx", 8);
  const std::string folder = FreshFolder("out_eight");
  app::TPowerPointApplication application;
  application.Connect();
  app::TPowerPointPresentation presentation;
  presentation.ConnectTo(application.OpenPresentation(Wide(deck), 0, 1, 0));
  app::TPowerPointSlide slide;
  app::ExportJob job;
  job.folder = Wide(folder) + L"\\";
  job.prefix = L"s";
  job.key = L"EMF";
  job.extension = L".emf";
  job.width = 64;
  job.height = 48;
  RecordingHost host;
  app::ExportSlides(presentation, slide, job, host);
  EXPECT_EQ(host.maximum, 8);
  EXPECT_EQ(host.positions, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(host.labels,
            (std::vector<std::wstring>{L"12%", L"25%", L"38%", L"50%", L"62%", L"75%", L"88%", L"100%"}));
  EXPECT_EQ(FilesIn(folder).size(), 8u);
  slide.Disconnect();
  presentation.Close();
  presentation.Disconnect();
  application.Disconnect();
}

// Every object of a slide is made and freed with it: a run of slides does not grow the process, in
// any of the twelve formats. Wine's GDI+ TIFF encoder keeps memory from every save on its own account,
// so the TIFF run is held to what the same number of bare saves through that encoder keep.
TEST_F(Conversion, MemoryDoesNotGrowOverARunOfSlidesInAnyFormat) {
  constexpr int kSlides = 10, kWidth = 640, kHeight = 480;  // a leaked bitmap per slide: 9 MiB
  constexpr uint64_t kAllowed = 4 * 1024 * 1024;
  const std::string deck = WriteDeck("ten.pptx", kSlides);
  app::TPowerPointApplication application;
  application.Connect();
  app::TPowerPointPresentation presentation;
  presentation.ConnectTo(application.OpenPresentation(FromUtf8(deck), 0, 1, 0));
  app::TPowerPointSlide slide;
  app::ExportJob job;
  job.folder = FromUtf8(FreshFolder("out_memory")) + L"\\";
  job.tempDir = FromUtf8(FreshFolder("tmp_memory")) + L"\\";
  job.prefix = L"m";
  job.width = kWidth;
  job.height = kHeight;
  for (const Format& f : kFormats) {
    job.key = Wide(f.key);
    job.extension = Wide(f.ext);
    RecordingHost settle, measured;
    app::ExportSlides(presentation, slide, job, settle);  // caches of GDI+, the codecs and the heap
    const uint64_t before = PrivateBytes();
    app::ExportSlides(presentation, slide, job, measured);
    const uint64_t after = PrivateBytes();
    const uint64_t growth = after > before ? after - before : 0;
    ASSERT_EQ(measured.positions.size(), size_t(kSlides)) << f.key;
    uint64_t platform = 0;
    if (job.key == L"TIFF") platform = BareTiffSaveGrowth(kSlides, kWidth, kHeight, FromUtf8(tq::WorkFile("bare.tif")));
    EXPECT_LT(growth, platform + kAllowed) << f.key << ": grew by " << growth << ", the encoder alone by " << platform;
  }
  slide.Disconnect();
  presentation.Close();
  presentation.Disconnect();
  application.Disconnect();
}

TEST(ConversionText, NumbersNamesAndFolders) {
  const struct {
    const wchar_t* text;
    int value;
  } ints[] = {{L"640", 640}, {L"  12", 12}, {L"-5", -5}, {L"+7", 7}, {L"075", 75}, {L"", -1}, {L"12 ", -1},
              {L"1e3", -1},  {L"-", -1},    {L"2147483647", 2147483647}, {L"2147483648", -1},
              {L"-2147483648", -2147483647 - 1}, {L"99999999999999999999", -1}};
  for (const auto& c : ints) EXPECT_EQ(app::StrToIntDef(c.text, -1), c.value) << Narrow(c.text);
  const struct {
    int64_t n, d, q;
  } rounds[] = {{18, 4, 4}, {6, 4, 2}, {30, 4, 8}, {10, 4, 2}, {20, 3, 7}, {112, 3, 37}, {0, 4, 0}, {-6, 4, -2}, {-18, 4, -4}};
  for (const auto& r : rounds) EXPECT_EQ(app::RoundHalfEven(r.n, r.d), r.q) << r.n << "/" << r.d;
  EXPECT_EQ(app::PercentText(0, 0), L"0%");
  EXPECT_EQ(app::PercentText(1, 3), L"33%");
  EXPECT_EQ(app::TrimText(L" \t C:\\x.pptx\r\n"), L"C:\\x.pptx");
  EXPECT_EQ(app::OutputFileName(L"D:\\Out\\", L"", 3, L".jpg"), L"D:\\Out\\3.jpg");
  const struct {
    const wchar_t* prefix;
    bool allowed;
  } names[] = {{L"", true},         {L"slide_", true},  {L"Ελλάδα 图片", true}, {L"con", true}, {L"nul", true},
               {L"com1", true},     {L"COMX", true},    {L"a:b", false},       {L"x?", false}, {L"p*", false},
               {L"q|", false},      {L"<r>", false},    {L"a\"b", false},      {L"a/b", false}, {L"a\\b", false},
               {L"a\x1f", false},   {L"\x7f", true},    {L"Com", false},       {L"lpt", false},
               {L"con.", false},    {L"aux .x", false}, {L"Com3.", false},     {L"lpt0.", false}, {L"conx.", true},
               {L"a.con", true},    {L"CONOUT$.", false}};
  for (const auto& n : names) EXPECT_EQ(app::IsAllowedImageName(n.prefix), n.allowed) << Narrow(n.prefix);

  const std::wstring guid = app::NewGuidFolderName();
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), L'{');
  EXPECT_EQ(guid.back(), L'}');
  for (wchar_t c : guid) EXPECT_TRUE(c == L'{' || c == L'}' || c == L'-' || iswdigit(c) || (c >= L'A' && c <= L'F'));
  EXPECT_NE(app::NewGuidFolderName(), guid);

  // The run folder: made with every missing level, then removed with all it holds; its parent stays.
  const std::wstring wide = app::NewTempFolderPath();
  const std::string path = ToUtf8(wide);
  EXPECT_EQ(path.rfind(TempPath() + "tevarnic\\{", 0), 0u) << path;
  ASSERT_TRUE(app::ForceDirectories(wide + L"\\deeper"));
  ASSERT_TRUE(tq::WriteFileBytes(path + "\\deeper\\1.emf", "x", 1));
  ASSERT_TRUE(tq::WriteFileBytes(path + "\\2.emf", "x", 1));
  EXPECT_TRUE(app::DeleteFolder(wide));
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(Exists(TevarnicFolder()));
  EXPECT_FALSE(app::DeleteFolder(wide));
}

}  // namespace
