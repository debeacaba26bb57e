// Helpers of the PDF and PostScript writer tests: a 1-bit test picture, documents as text, the
// host's renderers and extractors, and the fixture the writer tests share.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "imageryio.h"

namespace pdfpstest {

// An ie1g picture with long runs, diagonals and noise; a width that is no multiple of 8 tests the
// row padding.
void MakeBilevel(TIEBitmap& b, int w, int h);
// Replaces each pixel of an ie24RGB bitmap by its luma (0.299 R + 0.587 G + 0.114 B), as a JPEG
// coder makes grey data.
void MakeLuma(TIEBitmap& b);
std::string FileText(const std::string& winPath);
// Runs a host command in the work folder; its exit code, output in `out`.
int HostRun(const std::string& command, std::string* out = nullptr);
// A PPM or PGM file that a host tool wrote, or any image PIL reads (converted to RGB first).
bool ReadAnyImage(const std::string& name, int& w, int& h, std::vector<uint8_t>& rgb);
// The host's RGB pixels of the bitmap: equal, or for lossy data close over the picture's smooth part
// (its upper two thirds; the lowest third is noise, which DCT coding does not keep).
void ExpectPixels(TIEBitmap& expected, const std::vector<uint8_t>& rgb, bool lossy, const char* what);
// True under wine with the PDF and PostScript tools on the host.
bool DocumentToolsHere();

// A document writer's test: saving through the component into the work folder, and what the host's
// tools make of the result (their output in `out`, an image they wrote in w, h, rgb).
class DocumentWriterTest : public ::testing::Test {
 protected:
  // The 1-bit picture or the colour one, as a case asks.
  static void MakeImage(TIEBitmap& b, bool bilevel, int w, int h);
  // Saves the bitmap as `name` in the work folder (the format by its extension), `setup` adjusting
  // the parameters first; the document's bytes.
  static std::string Save(TIEBitmap& b, const std::string& name,
                          const std::function<void(TIOParamsVals&)>& setup = {});
  // A host command's exit code; its output in `out`.
  int Run(const std::string& command) { return HostRun(command, &out); }
  // An image a host tool wrote, read by ReadAnyImage.
  bool ReadImage(const std::string& name) { return ReadAnyImage(name, w, h, rgb); }
  // Ghostscript's 72 dpi rendering of the work folder's `document` (with `options`) to `name`.ppm, read
  // into w, h, rgb; false when it fails (its output in `out`).
  bool RenderWithGhostscript(const std::string& document, const std::string& name, const std::string& options = "");
  // Saving the bitmap as `format` into a stream that takes only so many bytes sets the abort flag:
  // none, `a`, `b`, half, all but `fromEnd` and all but one; all of them are enough.
  static void ExpectRefusedWritesAbort(TIEBitmap& b, TIEFileFormatCode format, int64_t a, int64_t b2, int64_t fromEnd);

  std::string out;
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
};

}  // namespace pdfpstest
