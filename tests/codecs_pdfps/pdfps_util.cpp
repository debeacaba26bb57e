#include "pdfps_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"

namespace pdfpstest {

void MakeBilevel(TIEBitmap& b, int w, int h) {
  b.Allocate(w, h, ie1g);
  uint32_t seed = 777;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245 + 12345;
      bool white;
      if (y < h / 3) white = (x / 13) % 2 == 0;  // long runs of both colours
      else if (y < 2 * h / 3) white = (x + y) % 9 > 2;  // diagonals
      else white = (seed >> 28) & 1;  // noise
      if (white) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
      else row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
    }
  }
}

void MakeLuma(TIEBitmap& b) {
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* p = b.GetRowAddress(y);
    for (int x = 0; x < b.GetImageWidth(); ++x, p += 3) {
      const uint8_t l = uint8_t(0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2] + 0.5);
      p[0] = p[1] = p[2] = l;
    }
  }
}

std::string FileText(const std::string& winPath) {
  std::vector<unsigned char> b;
  tq::ReadFileBytes(winPath, b);
  return std::string(b.begin(), b.end());
}

int HostRun(const std::string& command, std::string* out) { return tq::RunHost(command, out); }

bool ReadAnyImage(const std::string& name, int& w, int& h, std::vector<uint8_t>& rgb) {
  const std::string ppm = name + ".rgb.ppm";
  if (HostRun("/usr/bin/python3 -c \"import sys; from PIL import Image; "
              "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2], 'PPM')\" " +
              tq::ShellQuote(name) + " " + tq::ShellQuote(ppm)) != 0)
    return false;
  return iotest::ReadPPM(tq::WorkFile(ppm), w, h, rgb);
}

void ExpectPixels(TIEBitmap& expected, const std::vector<uint8_t>& rgb, bool lossy, const char* what) {
  const std::vector<uint8_t> want = iotest::RGBOf(expected);
  ASSERT_EQ(rgb.size(), want.size()) << what;
  if (!lossy) {
    EXPECT_TRUE(rgb == want) << what;
    return;
  }
  const size_t smooth = size_t(expected.GetImageWidth()) * 3 * size_t(expected.GetImageHeight() * 2 / 3);
  int64_t sum = 0;
  int most = 0;
  for (size_t i = 0; i < smooth; ++i) {
    const int d = std::abs(int(rgb[i]) - int(want[i]));
    sum += d;
    most = std::max(most, d);
  }
  EXPECT_LE(double(sum) / double(smooth), 5.0) << what;
  EXPECT_LE(most, 80) << what;
}

bool DocumentToolsHere() {
  return tq::UnderWine() &&
         tq::RunHost("test -x /usr/bin/qpdf && test -x /usr/bin/pdfimages && test -x /usr/bin/gs") == 0;
}

void DocumentWriterTest::MakeImage(TIEBitmap& b, bool bilevel, int w, int h) {
  if (bilevel) MakeBilevel(b, w, h);
  else iotest::MakePicture(b, w, h);
}

std::string DocumentWriterTest::Save(TIEBitmap& b, const std::string& name,
                                     const std::function<void(TIOParamsVals&)>& setup) {
  TImageryIO io(&b);
  if (setup) setup(io.Params);
  io.SaveByExtension(misctest::W(tq::WorkFile(name)));
  EXPECT_FALSE(io.Aborting) << name;
  return FileText(tq::WorkFile(name));
}

bool DocumentWriterTest::RenderWithGhostscript(const std::string& document, const std::string& name,
                                               const std::string& options) {
  return Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 " + options + "-sOutputFile=" + name + ".ppm " +
             document) == 0 &&
         iotest::ReadPPM(tq::WorkFile(name + ".ppm"), w, h, rgb);
}

void DocumentWriterTest::ExpectRefusedWritesAbort(TIEBitmap& b, TIEFileFormatCode format, int64_t a, int64_t b2,
                                                  int64_t fromEnd) {
  TImageryIO full(&b);
  TIEMemoryStream whole;
  full.SaveStreamAsFileType(whole, format);
  ASSERT_FALSE(full.Aborting);
  const int64_t size = whole.GetSize();
  for (int64_t limit : {int64_t(0), a, b2, size / 2, size - fromEnd, size - 1}) {
    misctest::LimitedStream s(limit);
    TImageryIO io(&b);
    io.SaveStreamAsFileType(s, format);
    EXPECT_TRUE(io.Aborting) << "limit " << limit;
  }
  misctest::LimitedStream exact(size);
  TImageryIO io(&b);
  io.SaveStreamAsFileType(exact, format);
  EXPECT_FALSE(io.Aborting);
}

}  // namespace pdfpstest
