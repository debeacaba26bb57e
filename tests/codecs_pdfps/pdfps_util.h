// Helpers of the PDF and PostScript writer tests: a 1-bit test picture, documents as text, and the
// host's renderers and extractors.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "iebitmap.h"

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

}  // namespace pdfpstest
