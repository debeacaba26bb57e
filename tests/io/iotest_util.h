// Fixtures shared by the input/output tests: test pictures, PPM files for the host's tools, pixel
// comparison, and the library's start-up.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "vodevovur.h"

namespace iotest {

// Starts the image library once for the whole test program.
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { IELibraryStaticInit(); }
  void TearDown() override { IELibraryStaticFini(); }
};

// A 24-bit picture with gradients, flat areas (runs) and noise (literals); `colours` > 0 limits it to
// that many distinct colours.
void MakePicture(TIEBitmap& b, int w, int h, int colours = 0);
// RGB bytes of a 24-bit bitmap (R, G, B order), for comparing with PPM files.
std::vector<uint8_t> RGBOf(TIEBitmap& b);
// Writes a binary PPM of the bitmap (any format, through GetPixelRGB).
bool WritePPM(TIEBitmap& b, const std::string& winPath);
// Reads a binary PPM (P6, maxval 255) or PGM (P5); PGM grey becomes R = G = B.
bool ReadPPM(const std::string& winPath, int& w, int& h, std::vector<uint8_t>& rgb);
// Runs a host command (Unix paths relative to the work folder), expects success.
void Host(const std::string& command);
// A host command's standard output, trimmed; the command must succeed.
std::string HostOutput(const std::string& command);
// The temporary files of replacing saves ("~ie*.tmp") in the work folder.
int TemporaryFiles();
// The host decoder `command` (with {in} and {out}) turns our file into a PPM: its pixels must equal
// the bitmap's.
void ExpectHostDecodes(TIEBitmap& expected, const std::string& file, const std::string& command);
void ExpectSamePixels(TIEBitmap& a, TIEBitmap& b);
bool ToolsPresent();

}  // namespace iotest
