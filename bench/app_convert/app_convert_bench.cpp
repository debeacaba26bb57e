// The conversion run's export loop against the presentation stand-in: slides per second and peak
// memory for a 50-slide generated deck at 1280 x 720 and 1920 x 1080 in every raster format (and the
// two metafile formats), then, each in a fresh process, the peak memory of 10 slides against 200
// slides of the same format, which must stay within 10 %. (Wine's GDI+ TIFF encoder keeps about one
// image's worth of memory per save, so TIFF fails that check here whatever the program does.)
// Usage: app_convert [slides]            the table, then the memory check
//        app_convert memory KEY          (child) 10 then 200 slides of KEY, prints both peaks
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchcommon.h"
#include "conversion.h"
#include "gdiplus_runtime.h"
#include "vodevovur.h"
#include "zip_builder.h"

namespace {

struct Format {
  const wchar_t* key;
  const wchar_t* ext;
};
const Format kFormats[] = {{L"JPEG", L".jpg"}, {L"BMP", L".bmp"}, {L"PNG", L".png"},   {L"GIF", L".gif"},
                           {L"TIFF", L".tif"}, {L"JP2", L".jp2"}, {L"JP2K", L".j2k"},  {L"PCX", L".pcx"},
                           {L"RLE", L".rle"},  {L"TGA", L".tga"}, {L"EMF", L".emf"},   {L"WMF", L".wmf"}};

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

using Peak = BenchPeak;

std::string Hex(unsigned v) {
  char b[8];
  snprintf(b, sizeof b, "%06X", v & 0xFFFFFF);
  return b;
}

// A deck of `count` 16:9 slides, each with three boxes whose colours change from slide to slide.
std::string Deck(int count) {
  using namespace presenter_test;
  const std::string ns =
      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
      "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";
  auto box = [](long long x, long long y, long long cx, long long cy, const std::string& fill) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"s\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"" +
           std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" +
           std::to_string(cy) + "\"/></a:xfrm><a:prstGeom prst=\"ellipse\"><a:avLst/></a:prstGeom><a:solidFill>"
           "<a:srgbClr val=\"" + fill + "\"/></a:solidFill></p:spPr></p:sp>";
  };
  std::vector<ZipMember> members;
  std::string ids, rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (int i = 1; i <= count; ++i) {
    const std::string rid = "rId" + std::to_string(i + 1);
    ids += "<p:sldId id=\"" + std::to_string(255 + i) + "\" r:id=\"" + rid + "\"/>";
    rels += "<Relationship Id=\"" + rid +
            "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide\" Target=\"slides/s" +
            std::to_string(i) + ".xml\"/>";
    const unsigned c = unsigned(i) * 0x2F1B37u;
    const std::string shapes = box(600000, 500000, 4000000, 3000000, Hex(c)) +
                               box(4800000, 800000, 3800000, 3600000, Hex(c >> 3)) +
                               box(1200000, 3200000, 9000000, 1800000, Hex(~c));
    members.push_back({"ppt/slides/s" + std::to_string(i) + ".xml",
                       "<p:sld " + ns + "><p:cSld><p:bg><p:bgPr><a:solidFill><a:srgbClr val=\"" + Hex(c * 7) +
                           "\"/></a:solidFill></p:bgPr></p:bg><p:spTree>" + shapes + "</p:spTree></p:cSld></p:sld>"});
  }
  members.push_back({"ppt/presentation.xml", "<p:presentation " + ns + "><p:sldIdLst>" + ids +
                                                 "</p:sldIdLst><p:sldSz cx=\"12192000\" cy=\"6858000\"/></p:presentation>"});
  members.push_back({"ppt/_rels/presentation.xml.rels", rels + "</Relationships>"});
  return BuildZip(members);
}

std::wstring WriteDeck(const std::wstring& folder, int count) {
  const std::wstring path = folder + L"deck" + std::to_wstring(count) + L".pptx";
  const std::string bytes = Deck(count);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return path;
}

class QuietHost : public app::ExportHost {
 public:
  void ProcessMessages() override {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
  bool IsCancelled() const override { return false; }
  void SetCancelled() override {}
  void SetMaximum(int) override {}
  void ShowProgress(int, const std::wstring&) override {}
  void ShowMessage(const std::wstring& text) override { std::fwprintf(stderr, L"%ls\n", text.c_str()); }
};

// Opens the deck, exports every slide as the program's loop does, closes it; the seconds taken.
double Run(const std::wstring& deck, const std::wstring& out, const Format& f, int w, int h) {
  app::ExportJob job;
  job.folder = out;
  job.prefix = L"s";
  job.key = f.key;
  job.extension = f.ext;
  job.width = w;
  job.height = h;
  const std::wstring temp = app::NewTempFolderPath();
  app::ForceDirectories(temp);
  job.tempDir = temp + L"\\";
  app::TPowerPointApplication application;
  application.Connect();
  app::TPowerPointPresentation presentation;
  presentation.ConnectTo(application.OpenPresentation(deck, 0, 1, 0));
  app::TPowerPointSlide slide;
  QuietHost host;
  const double t0 = Now();
  app::ExportSlides(presentation, slide, job, host);
  const double t = Now() - t0;
  slide.Disconnect();
  presentation.Close();
  presentation.Disconnect();
  application.Disconnect();
  app::DeleteFolder(temp);
  return t;
}


int MemoryChild(const std::wstring& key) {
  const std::wstring work = BenchTempFolder(L"tq-bench-convert");
  for (const Format& f : kFormats) {
    if (key != f.key) continue;
    Run(WriteDeck(work, 10), work, f, 1280, 720);
    const Peak small = BenchPeakMiB();
    Run(WriteDeck(work, 200), work, f, 1280, 720);
    const Peak large = BenchPeakMiB();
    std::printf("%.1f %.1f %.1f %.1f\n", small.commit, large.commit, small.workingSet, large.workingSet);
    return 0;
  }
  return 2;
}

bool RunChild(const std::wstring& key, Peak& small, Peak& large) {
  std::string out;
  BenchRunSelf(L"memory " + key, out);
  return std::sscanf(out.c_str(), "%lf %lf %lf %lf", &small.commit, &large.commit, &small.workingSet,
                     &large.workingSet) == 4;
}

}  // namespace

int main(int argc, char** argv) {
  OleInitialize(nullptr);
  app::GdiplusRuntime gdiplus;
  IELibraryStaticInit();
  if (argc == 3 && std::string(argv[1]) == "memory") {
    const std::string k = argv[2];
    return MemoryChild(std::wstring(k.begin(), k.end()));
  }
  // The stand-in, registered in this prefix as the program's run script does.
  std::string server = std::string("Z:") + PRESENTER_SERVER;
  for (char& c : server)
    if (c == '/') c = '\\';
  std::string reg = "\"" + server + "\" /regserver";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &reg[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "cannot register the stand-in %s\n", server.c_str());
    return 1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  const int slides = argc > 1 ? std::atoi(argv[1]) : 50;
  const std::wstring work = BenchTempFolder(L"tq-bench-convert");
  const std::wstring deck = WriteDeck(work, slides);
  std::printf("%d slides per run; slides per second and the process's peak memory so far\n", slides);
  for (const auto& size : {std::pair<int, int>{1280, 720}, {1920, 1080}}) {
    for (const Format& f : kFormats) {
      try {
        const double t = Run(deck, work, f, size.first, size.second);
        const Peak peak = BenchPeakMiB();
        std::printf("%4d x %-4d %-5ls %7.1f slides/s   peak commit %7.1f MiB, working set %7.1f MiB\n", size.first,
                    size.second, f.key, slides / t, peak.commit, peak.workingSet);
      } catch (const std::exception& e) {
        std::printf("%4d x %-4d %-5ls failed: %s\n", size.first, size.second, f.key, e.what());
      }
      std::fflush(stdout);
    }
  }
  std::printf("\nPeak memory, 10 slides then 200 slides at 1280 x 720, each format in a fresh process\n");
  int failures = 0;
  for (const Format& f : kFormats) {
    Peak small{}, large{};
    if (!RunChild(f.key, small, large)) {
      std::printf("%-5ls failed\n", f.key);
      ++failures;
      continue;
    }
    const bool ok = large.commit <= small.commit * 1.10 && large.workingSet <= small.workingSet * 1.10;
    failures += ok ? 0 : 1;
    std::printf("%-5ls commit %7.1f -> %7.1f MiB (%+6.1f %%), working set %7.1f -> %7.1f MiB (%+6.1f %%)  %s\n",
                f.key, small.commit, large.commit, (large.commit / small.commit - 1) * 100, small.workingSet,
                large.workingSet, (large.workingSet / small.workingSet - 1) * 100, ok ? "within 10 %" : "OVER 10 %");
    std::fflush(stdout);
  }
  IELibraryStaticFini();
  return failures ? 1 : 0;
}
