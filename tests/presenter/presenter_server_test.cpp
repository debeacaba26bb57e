// The stand-in server through COM, driven exactly as the conversion program drives it: slide counts,
// exports that GDI+ plays back at the requested size, the call journal, forced failures, bad input,
// a server started by hand, and per-user registration that respects a foreign ProgID.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "automation_client.h"
#include "deck_fixtures.h"
#include "gdiplus_session.h"
#include "metafile_probe.h"
#include "ppt_builder.h"

using namespace presenter_test;

namespace {

const wchar_t kControls[] = L"Software\\Tevarnic\\PresenterStandIn";
const wchar_t kForeignClsid[] = L"{91493441-5A91-11CF-8700-00AA0060263B}";

std::wstring ServerPath() { return Wide(tq::WinPath(PRESENTER_SERVER)); }

// Runs the server with `args` and waits; returns its exit code and what it wrote to stderr.
int RunServer(const std::wstring& args, std::string* output = nullptr) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &sa, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdError = writeEnd;
  si.hStdOutput = writeEnd;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + ServerPath() + L"\" " + args;
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
  CloseHandle(writeEnd);
  std::string out;
  char buf[512];
  DWORD n = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, 20000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  if (output) *output = out;
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

// Waits until the journal shows `count` server stops (a COM-started server ends by itself when
// its last client has gone).
bool WaitForStops(size_t count) {
  for (int i = 0; i < 200; i++) {
    if (CountOf(ReadJournal(), "server stop") >= count) return true;
    Sleep(50);
  }
  return false;
}

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += c < 128 ? char(c) : '?';
  return s;
}

class PresenterServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string out;
    ASSERT_EQ(RunServer(L"/regserver", &out), 0) << out;
    DeleteFileA(JournalFile().c_str());
    const std::wstring journal = Wide(JournalFile());
    RegSetKeyValueW(HKEY_CURRENT_USER, kControls, L"Journal", REG_SZ, journal.c_str(),
                    DWORD((journal.size() + 1) * sizeof(wchar_t)));
  }
  static void TearDownTestSuite() { RegDeleteTreeW(HKEY_CURRENT_USER, kControls); }
  void SetUp() override {
    CoInitialize(nullptr);
    SetControl(L"FailOpen", 0);
    SetControl(L"FailExportAt", 0);
    SetControl(L"ExportDelayMs", 0);
    stopsBefore_ = CountOf(ReadJournal(), "server stop");
  }
  void TearDown() override { CoUninitialize(); }

  // Opens `deck` with the program's arguments: FileName, ReadOnly 0, Untitled 1, WithWindow 0.
  static CallResult Open(const Dispatch& app, const std::wstring& deck) {
    Dispatch presentations = app.Object(L"Presentations");
    return presentations.Method(L"Open", {Var(deck), Var(0L), Var(1L), Var(0L)});
  }
  static Dispatch AsObject(const CallResult& r) {
    if (FAILED(r.hr) || V_VT(&r.value.v) != VT_DISPATCH) return Dispatch();
    V_DISPATCH(&r.value.v)->AddRef();
    return Dispatch(V_DISPATCH(&r.value.v));
  }

  presenter::GdiplusSession gdiplus_;
  size_t stopsBefore_ = 0;
};

}  // namespace

// The conversion run: open, count, fetch each slide by a VT_I4 index, export at the program's
// sizes, close, let go. EMF plays back at exactly the requested size with the deck's colours.
TEST_F(PresenterServer, ConvertsDecksThroughTheProgramsProtocol) {
  HRESULT hr;
  bool attached = true;
  Dispatch app = ConnectApplication(&hr, &attached);
  ASSERT_TRUE(app) << std::hex << hr;
  EXPECT_FALSE(attached);  // nothing was running: a new local server

  struct Expect {
    const char* deck;
    long slides;
  };
  for (const Expect& e : {Expect{"wide.pptx", 3}, Expect{"example.pptx", 3}, Expect{"template.pptx", 0}}) {
    CallResult opened = Open(app, Wide(FixturePath(e.deck)));
    ASSERT_EQ(opened.hr, S_OK) << e.deck << " " << Narrow(opened.description);
    Dispatch pres = AsObject(opened);
    Dispatch slides = pres.Object(L"Slides");
    ASSERT_EQ(slides.Long(L"Count"), e.slides) << e.deck;
    for (long i = 1; i <= e.slides; i++) {
      Dispatch slide = slides.Object(L"Item", {Var(i)});
      ASSERT_TRUE(slide) << e.deck << " " << i;
      for (const auto& size : {std::pair<long, long>{640, 480}, {640, 640}, {4000, 3000}}) {
        const std::string name = std::string(e.deck) + "_" + std::to_string(i) + "_" + std::to_string(size.first) +
                                 "x" + std::to_string(size.second) + ".emf";
        const std::wstring path = Wide(tq::WorkFile(name));
        CallResult r = slide.Method(L"Export", {Var(path), Var(std::wstring(L"emf")), Var(size.first), Var(size.second)});
        ASSERT_EQ(r.hr, S_OK) << name << " " << Narrow(r.description);
        const Playback p = PlayMetafile(path, int(size.first), int(size.second));
        ASSERT_TRUE(p.loaded) << name;
        EXPECT_EQ(p.imageWidth, UINT(size.first)) << name;
        EXPECT_EQ(p.imageHeight, UINT(size.second)) << name;
        if (std::string(e.deck) == "wide.pptx" && i == 1) {
          const int w = p.width, h = p.height;
          EXPECT_TRUE(Near(p.At(w * 2 / 100, h * 2 / 100), RGB(0x20, 0x30, 0x40))) << name;
          EXPECT_TRUE(Near(p.At(w * 20 / 100, int(h * 1.5 / 5.625)), RGB(255, 0, 0))) << name;
          EXPECT_TRUE(Near(p.At(w * 70 / 100, int(h * 1.75 / 5.625)), RGB(0, 0xC0, 0))) << name;
        }
      }
      const std::wstring wmf = Wide(tq::WorkFile(std::string(e.deck) + "_" + std::to_string(i) + ".wmf"));
      CallResult r = slide.Method(L"Export", {Var(wmf), Var(std::wstring(L"wmf")), Var(640L), Var(480L)});
      ASSERT_EQ(r.hr, S_OK) << Narrow(r.description);
      const Playback p = PlayMetafile(wmf, 640, 480);
      EXPECT_TRUE(p.loaded);
      EXPECT_EQ(p.imageWidth, 640u);
      EXPECT_EQ(p.imageHeight, 480u);
    }
    EXPECT_EQ(pres.Method(L"Close").hr, S_OK);
    // After Close the objects refuse calls with a description.
    CallResult after = slides.Method(L"Count");
    EXPECT_EQ(after.hr, DISP_E_EXCEPTION);
    EXPECT_FALSE(after.description.empty());
  }
  {  // A binary deck built from the format's structure: counted and exported the same way.
  const std::string ppt = BuildPpt(PptDocument({{L"Binary deck", "body", L""}, {L"Two", "", L""}}));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("built.ppt"), ppt.data(), ppt.size()));
  CallResult opened = Open(app, Wide(tq::WorkFile("built.ppt")));
  ASSERT_EQ(opened.hr, S_OK) << Narrow(opened.description);
  Dispatch pres = AsObject(opened);
  Dispatch slides = pres.Object(L"Slides");
  EXPECT_EQ(slides.Long(L"Count"), 2);
  const std::wstring pptEmf = Wide(tq::WorkFile("built_1.emf"));
  CallResult exported =
      slides.Object(L"Item", {Var(1L)}).Method(L"Export", {Var(pptEmf), Var(std::wstring(L"emf")), Var(800L), Var(600L)});
  EXPECT_EQ(exported.hr, S_OK) << Narrow(exported.description);
  const Playback p = PlayMetafile(pptEmf, 800, 600);
  EXPECT_EQ(p.imageWidth, 800u);
  EXPECT_EQ(p.imageHeight, 600u);
  EXPECT_EQ(pres.Method(L"Close").hr, S_OK);
  }

  app.Reset();
  EXPECT_TRUE(WaitForStops(stopsBefore_ + 1)) << "the COM-started server should end with its last client";

  const std::string journal = ReadJournal();
  EXPECT_NE(journal.find("(started by COM)"), std::string::npos);
  EXPECT_NE(journal.find("Presentations.Open(FileName=VT_BSTR \"" + FixturePath("wide.pptx") +
                         "\", ReadOnly=VT_I4 0, Untitled=VT_I4 1, WithWindow=VT_I4 0)"),
            std::string::npos)
      << journal;
  EXPECT_NE(journal.find("Slides.Item(Index=VT_I4 3)"), std::string::npos);
  EXPECT_NE(journal.find("FilterName=VT_BSTR \"emf\", ScaleWidth=VT_I4 4000, ScaleHeight=VT_I4 3000)"),
            std::string::npos);
  EXPECT_NE(journal.find("FilterName=VT_BSTR \"wmf\", ScaleWidth=VT_I4 640, ScaleHeight=VT_I4 480)"),
            std::string::npos);
  EXPECT_EQ(CountOf(journal, "Presentation.Close()"), 4u);
  EXPECT_EQ(journal.find("Application.Quit"), std::string::npos);
}

// Forced failures and bad input arrive as DISP_E_EXCEPTION with a description; the server survives.
TEST_F(PresenterServer, FailuresArriveAsExceptionsWithText) {
  HRESULT hr;
  Dispatch app = ConnectApplication(&hr);
  ASSERT_TRUE(app) << std::hex << hr;
  const std::wstring wide = Wide(FixturePath("wide.pptx"));

  SetControl(L"FailOpen", 1);
  CallResult r = Open(app, wide);
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_NE(r.description.find(L"forced failure"), std::wstring::npos) << Narrow(r.description);
  SetControl(L"FailOpen", 0);

  // Bad files: missing, locked, truncated, not a presentation.
  const std::string truncated = FixtureBytes("wide.pptx").substr(0, 20000);
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("truncated.pptx"), truncated.data(), truncated.size()));
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("notes.txt"), "just text", 9));
  const std::string lockedPath = tq::WorkFile("locked.pptx");
  const std::string good = FixtureBytes("wide.pptx");
  ASSERT_TRUE(tq::WriteFileBytes(lockedPath, good.data(), good.size()));
  HANDLE lock = CreateFileA(lockedPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const struct {
    std::string path;
    const wchar_t* expect;
  } bad[] = {{tq::WorkFile("missing.pptx"), L"cannot open the file"},
             {lockedPath, L"cannot open the file"},
             {tq::WorkFile("truncated.pptx"), L"ZIP"},
             {tq::WorkFile("notes.txt"), L"not a presentation"}};
  for (const auto& b : bad) {
    r = Open(app, Wide(b.path));
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << b.path;
    EXPECT_NE(r.description.find(b.expect), std::wstring::npos) << b.path << ": " << Narrow(r.description);
  }
  CloseHandle(lock);

  // Named and missing arguments: FileName by name, the rest left out.
  Dispatch presentations = app.Object(L"Presentations");
  r = presentations.Method(L"Open", {}, {{L"FileName", Var(wide)}, {L"WithWindow", Var(0L)}});
  ASSERT_EQ(r.hr, S_OK) << Narrow(r.description);
  Dispatch pres = AsObject(r);
  Dispatch slides = pres.Object(L"Slides");
  for (long index : {0L, 4L, -1L}) {
    r = slides.Method(L"Item", {Var(index)});
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << index;
    EXPECT_NE(r.description.find(L"out of range"), std::wstring::npos) << Narrow(r.description);
  }

  SetControl(L"FailExportAt", 2);
  Dispatch first = slides.Object(L"Item", {Var(1L)});
  Dispatch second = slides.Object(L"Item", {Var(2L)});
  r = first.Method(L"Export", {Var(Wide(tq::WorkFile("f1.emf"))), Var(std::wstring(L"emf")), Var(320L), Var(240L)});
  EXPECT_EQ(r.hr, S_OK) << Narrow(r.description);
  r = second.Method(L"Export", {Var(Wide(tq::WorkFile("f2.emf"))), Var(std::wstring(L"emf")), Var(320L), Var(240L)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_NE(r.description.find(L"slide 2 could not be exported: forced failure"), std::wstring::npos)
      << Narrow(r.description);
  SetControl(L"FailExportAt", 0);

  const struct {
    std::vector<Var> args;
    const wchar_t* expect;
  } badExports[] = {
      {{Var(Wide(tq::WorkFile("x.png"))), Var(std::wstring(L"png")), Var(10L), Var(10L)}, L"not supported"},
      {{Var(Wide(tq::WorkFile("x.emf"))), Var(std::wstring(L"emf")), Var(0L), Var(10L)}, L"out of range"},
      {{Var(Wide(tq::WorkFile("x.emf"))), Var(std::wstring(L"emf")), Var(10L), Var(99999L)}, L"out of range"},
      {{Var(Wide(tq::WorkFile("none\\x.emf"))), Var(std::wstring(L"emf")), Var(10L), Var(10L)}, L"could not be written"},
  };
  for (const auto& b : badExports) {
    r = first.Method(L"Export", b.args);
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_NE(r.description.find(b.expect), std::wstring::npos) << Narrow(r.description);
  }
  // Named export arguments, the size left to the slide's own (10 x 5.625 in at 96 dpi).
  const std::wstring named = Wide(tq::WorkFile("named.emf"));
  r = first.Method(L"Export", {}, {{L"FilterName", Var(std::wstring(L"emf"))}, {L"FileName", Var(named)}});
  EXPECT_EQ(r.hr, S_OK) << Narrow(r.description);
  const Playback p = PlayMetafile(named, 960, 540);
  EXPECT_EQ(p.imageWidth, 960u);
  EXPECT_EQ(p.imageHeight, 540u);
  EXPECT_EQ(pres.Method(L"Close").hr, S_OK);

  const std::string journal = ReadJournal();
  EXPECT_NE(journal.find("Presentations.Open(FileName=VT_BSTR \"" + FixturePath("wide.pptx") +
                         "\", ReadOnly=<missing>, Untitled=<missing>, WithWindow=VT_I4 0)"),
            std::string::npos);
  EXPECT_NE(journal.find("error 80004005 Slide.Export : slide 2 could not be exported: forced failure."),
            std::string::npos);
}

// A server started by hand is the running instance: two clients in a row attach to it, it stays
// after they go, and it quits when told.
TEST_F(PresenterServer, HandStartedServerIsReusedAndQuitsWhenTold) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + ServerPath() + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  // Should the test fail before Quit, the server must not outlive it: it would hold the test's
  // output open and keep the test runner waiting.
  struct Ender {
    HANDLE process;
    ~Ender() {
      if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 9);
    }
  } ender{pi.hProcess};
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"PowerPoint.Application", &clsid), S_OK);
  bool running = false;
  for (int i = 0; i < 200 && !running; i++) {
    IUnknown* unk = nullptr;
    running = SUCCEEDED(GetActiveObject(clsid, nullptr, &unk)) && unk;
    if (unk) unk->Release();
    if (!running) Sleep(50);
  }
  ASSERT_TRUE(running);
  for (int client = 0; client < 2; client++) {
    bool attached = false;
    Dispatch app = ConnectApplication(nullptr, &attached);
    ASSERT_TRUE(app);
    EXPECT_TRUE(attached) << client;
    CallResult r = Open(app, Wide(FixturePath("classic.pptx")));
    ASSERT_EQ(r.hr, S_OK) << Narrow(r.description);
    Dispatch pres = AsObject(r);
    EXPECT_EQ(pres.Object(L"Slides").Long(L"Count"), 1);
    EXPECT_EQ(pres.Method(L"Close").hr, S_OK);
  }
  Sleep(300);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_TIMEOUT) << "a hand-started server stays after its clients";
  {
    Dispatch app = ConnectApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app.Method(L"Quit").hr, S_OK);
  }
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(pi.hThread);
  EXPECT_EQ(CountOf(ReadJournal(), "(started by hand)"), 1u);
}

// A ProgID that names another class is neither overwritten nor removed.
TEST_F(PresenterServer, RegistrationLeavesAForeignProgIdAlone) {
  const wchar_t key[] = L"Software\\Classes\\PowerPoint.Application\\CLSID";
  RegSetKeyValueW(HKEY_CURRENT_USER, key, nullptr, REG_SZ, kForeignClsid, DWORD(sizeof kForeignClsid));
  std::string out;
  EXPECT_EQ(RunServer(L"/regserver", &out), 2);
  EXPECT_NE(out.find("already names the class"), std::string::npos) << out;
  EXPECT_EQ(RunServer(L"/unregserver", &out), 0);
  EXPECT_NE(out.find("Left PowerPoint.Application alone"), std::string::npos) << out;
  wchar_t value[64] = {};
  DWORD bytes = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes), ERROR_SUCCESS);
  EXPECT_STREQ(value, kForeignClsid);
  EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{B4054DFA-328B-4096-8743-471BA986C10C}",
                         nullptr, RRF_RT_ANY, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);

  // Our own registration comes back once the foreign one is gone.
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\PowerPoint.Application");
  EXPECT_EQ(RunServer(L"/regserver", &out), 0) << out;
  bytes = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes), ERROR_SUCCESS);
  EXPECT_STREQ(value, L"{B4054DFA-328B-4096-8743-471BA986C10C}");
}
