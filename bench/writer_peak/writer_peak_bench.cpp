// Peak memory of each slide writer at the largest size the program offers (10240 x 10240): every
// raster format in a fresh process draws one slide's metafile and writes it through SaveSlideImage,
// then reports the process's peak private commit and working set. The program is a 32-bit process
// that must also run on a 32-bit Windows (2 GB per process), so each writer is held to 1.5 GiB.
// Usage: writer_peak [side]          the table (side defaults to 10240); exit status 1 when one is over
//        writer_peak one KEY side    (child) one slide in KEY, prints its peaks
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "benchcommon.h"
#include "gdiplus_runtime.h"
#include "slide_image.h"
#include "slide_painter.h"
#include "vodevovur.h"

namespace {

constexpr double kLimitMiB = 1536;

struct Format {
  const wchar_t* key;
  const wchar_t* ext;
};
const Format kFormats[] = {{L"BMP", L".bmp"}, {L"JPEG", L".jpg"}, {L"PNG", L".png"}, {L"TIFF", L".tif"},
                           {L"GIF", L".gif"}, {L"TGA", L".tga"},  {L"PCX", L".pcx"}, {L"JP2", L".jp2"},
                           {L"JP2K", L".j2k"}, {L"RLE", L".rle"}};

using Peak = BenchPeak;


// A 4:3 slide of three filled ellipses on a coloured background, as the presentation exports it.
presenter::Deck Slide() {
  const struct {
    double x, y, cx, cy;
    COLORREF fill;
  } kShapes[] = {{0.5, 0.5, 4.0, 3.0, RGB(0xE0, 0x10, 0x10)},
                 {5.5, 0.5, 4.0, 3.0, RGB(0x10, 0xC0, 0x10)},
                 {0.5, 4.5, 9.0, 2.5, RGB(0x10, 0x10, 0xE0)}};
  presenter::Deck deck;
  deck.cx = 9144000;
  deck.cy = 6858000;
  presenter::SlideModel slide;
  slide.background = RGB(0x20, 0x30, 0x40);
  for (const auto& k : kShapes) {
    presenter::ShapeModel shape;
    shape.kind = presenter::ShapeModel::Ellipse;
    shape.x = k.x * presenter::kEmuPerInch;
    shape.y = k.y * presenter::kEmuPerInch;
    shape.cx = k.cx * presenter::kEmuPerInch;
    shape.cy = k.cy * presenter::kEmuPerInch;
    shape.hasFill = true;
    shape.fill = k.fill;
    slide.shapes.push_back(shape);
  }
  deck.slides.push_back(slide);
  return deck;
}

int Child(const std::wstring& key, int side) {
  app::GdiplusRuntime gdiplus;
  IELibraryStaticInit();
  const std::wstring work = BenchTempFolder(L"tq-bench-writer-peak");
  const std::wstring metafile = work + L"slide.emf";
  std::string error;
  if (!presenter::ExportSlide(Slide(), 0, metafile, presenter::MetafileFormat::Emf, 800, 600, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  for (const Format& f : kFormats) {
    if (key != f.key) continue;
    const std::wstring out = work + L"slide" + f.ext;
    try {
      app::SaveSlideImage(metafile, out, side, side, 90, f.key);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%ls: %s\n", f.key, e.what());
      return 1;
    }
    const Peak peak = BenchPeakMiB();
    DeleteFileW(out.c_str());
    std::printf("%.1f %.1f\n", peak.commit, peak.workingSet);
    return 0;
  }
  return 2;
}

bool RunChild(const std::wstring& key, int side, Peak& peak) {
  std::string out;
  return BenchRunSelf(L"one " + key + L" " + std::to_wstring(side), out) &&
         std::sscanf(out.c_str(), "%lf %lf", &peak.commit, &peak.workingSet) == 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "one") {
    const std::string k = argv[2];
    return Child(std::wstring(k.begin(), k.end()), std::atoi(argv[3]));
  }
  const int side = argc > 1 ? std::atoi(argv[1]) : app::kMaxSlideImageSide;
  std::printf("Peak memory of one slide written at %d x %d, each format in a fresh process (limit %.0f MiB)\n", side,
              side, kLimitMiB);
  int failures = 0;
  for (const Format& f : kFormats) {
    Peak peak{};
    if (!RunChild(f.key, side, peak)) {
      std::printf("%-5ls failed\n", f.key);
      ++failures;
      continue;
    }
    const bool ok = peak.commit <= kLimitMiB && peak.workingSet <= kLimitMiB;
    failures += ok ? 0 : 1;
    std::printf("%-5ls peak commit %7.1f MiB, working set %7.1f MiB  %s\n", f.key, peak.commit, peak.workingSet,
                ok ? "ok" : "OVER");
    std::fflush(stdout);
  }
  return failures ? 1 : 0;
}
