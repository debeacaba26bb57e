// PostScript documents: their structure, and Ghostscript's rendering of them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iepsfilt.h"
#include "imageryio.h"
#include "pdfps_util.h"

using namespace iotest;
using namespace misctest;
using namespace pdfpstest;

namespace {

class PSWriter : public DocumentWriterTest {};

bool HasLine(const std::string& doc, const std::string& line) {
  return doc.find("\r\n" + line + "\r\n") != std::string::npos;
}

// Every "%%BeginData: N" must count the bytes from the end of its line to the start of "%%EndData".
void ExpectDataCounts(const std::string& doc) {
  size_t at = 0;
  int blocks = 0;
  while ((at = doc.find("%%BeginData:", at)) != std::string::npos) {
    const long n = std::atol(doc.c_str() + at + 12);
    const size_t start = doc.find("\r\n", at) + 2;
    const size_t end = doc.find("\r\n%%EndData\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(size_t(n), end + 2 - start) << "block " << blocks;
    ++blocks;
    at = end;
  }
  EXPECT_EQ(blocks, 1);
}

// Ghostscript's page of w x h points, as the document's paper.
std::string PaperOptions(int w, int h) {
  return "-dDEVICEWIDTHPOINTS=" + std::to_string(w) + " -dDEVICEHEIGHTPOINTS=" + std::to_string(h) + " -dFIXEDMEDIA ";
}

size_t Count(const std::string& doc, const std::string& what) {
  size_t n = 0;
  for (size_t at = doc.find(what); at != std::string::npos; at = doc.find(what, at + 1)) ++n;
  return n;
}

TEST_F(PSWriter, DefaultSaveOfAColourImage) {
  TIEBitmap b;
  MakePicture(b, 640, 480);
  const std::string doc = Save(b, "default.ps");
  EXPECT_EQ(doc.find("%!PS-Adobe-3.0\r\n%%Creator: Imagery by RiRivurazodi\r\n%%Title: No Title\r\n%%CreationDate: "), 0u);
  EXPECT_TRUE(std::regex_search(doc, std::regex("\r\n%%CreationDate: \\S+ \\S+ \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\r\n")));
  EXPECT_NE(doc.find("\r\n%%DocumentData: Clean7Bit\r\n%%LanguageLevel: 2\r\n%%Pages: 1     \r\n"
                     "%%BoundingBox: 0 0 594 841\r\n%%EndComments\r\n%%Page: 1 1\r\n0 842 translate\r\n"
                     "595 -446 scale\r\n640 480 8\r\n[ 640 0 0 480 0 0 ]\r\n/rstr 640 string def\r\n"
                     "/gstr 640 string def\r\n/bstr 640 string def\r\n"
                     "{currentfile /ASCII85Decode filter /RunLengthDecode filter rstr readstring pop}\r\n"
                     "{currentfile /ASCII85Decode filter /RunLengthDecode filter gstr readstring pop}\r\n"
                     "{currentfile /ASCII85Decode filter /RunLengthDecode filter bstr readstring pop}\r\n"
                     "true 3\r\n%%BeginData:      "),
            std::string::npos);
  EXPECT_EQ(Count(doc, "~>\r\n"), size_t(3 * 480));  // a block per colour and row
  EXPECT_TRUE(std::regex_search(doc, std::regex(" ASCII Bytes\r\ncolorimage\r\n")));
  const std::string end = "\r\n%%EndData\r\nshowpage\r\n%%Trailer\r\n%%EOF\r\n";
  EXPECT_EQ(doc.substr(doc.size() - end.size()), end);
  ExpectDataCounts(doc);
  EXPECT_EQ(Save(b, "default.eps").find("%!PS-Adobe-3.0\r\n"), 0u);  // the other extension of the format
}

TEST_F(PSWriter, PaperFitAndFilterLines) {
  struct Case {
    bool bilevel;
    int w, h, compression;
    std::vector<std::string> lines;
  };
  const Case kCases[] = {
      {false, 100, 100, 1, {"595 -595 scale", "100 100 8", "true 3", "colorimage"}},
      {true, 64, 32, 1,
       {"595 -297 scale", "64 32 1",
        "currentfile /ASCII85Decode filter << /K -1 /BlackIs1 true /Columns 64 /Rows 32 /EndOfLine false "
        "/Uncompressed true /EncodedByteAlign false /EndOfBlock false >> /CCITTFaxDecode filter",
        "image"}},
      {true, 64, 32, 2, {"currentfile /ASCII85Decode filter << /K 1 /BlackIs1 true /Columns 64 /Rows 32 "
                         "/EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >> "
                         "/CCITTFaxDecode filter"}},
      {true, 64, 32, 0, {"currentfile /ASCII85Decode filter /RunLengthDecode filter"}},
      {true, 64, 32, 3, {"currentfile /ASCII85Decode filter /RunLengthDecode filter"}},  // no 1-bit DCT
      {false, 300, 900, 3, {"280 -842 scale", "currentfile /ASCII85Decode filter << >> /DCTDecode filter", "false 3"}},
  };
  for (const Case& c : kCases) {
    TIEBitmap b;
    MakeImage(b, c.bilevel, c.w, c.h);
    TImageryIO io(&b);
    io.Params.PSCompression = uint8_t(c.compression);
    TIEMemoryStream m;
    io.SaveStreamAsFileType(m, iffPS);
    EXPECT_FALSE(io.Aborting);
    const std::vector<uint8_t> bytes = StreamBytes(m);
    const std::string doc(bytes.begin(), bytes.end());
    for (const std::string& line : c.lines) EXPECT_TRUE(HasLine(doc, line)) << c.w << "x" << c.h << ": " << line;
    EXPECT_EQ(io.Params.BitsPerSample, 8);  // the caller's parameters stay as they were
    EXPECT_EQ(io.Params.SamplesPerPixel, 3);
    ExpectDataCounts(doc);
  }
}

// Ghostscript renders each coding to the source pixels when the paper has the image's size.
TEST_F(PSWriter, GhostscriptRendersEveryCoding) {
  if (!DocumentToolsHere()) GTEST_SKIP() << "host tools missing";
  struct Case {
    bool bilevel;
    int compression;
    bool lossy;
  };
  const Case kCases[] = {{true, 0, false}, {true, 1, false}, {true, 2, false}, {false, 1, false}, {false, 3, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.bilevel ? "1-bit " : "RGB ") + std::to_string(c.compression));
    TIEBitmap b;
    MakeImage(b, c.bilevel, c.bilevel ? 101 : 120, c.bilevel ? 67 : 90);
    const std::string name = std::string("gs") + (c.bilevel ? "1" : "24") + "-" + std::to_string(c.compression);
    const std::string doc = Save(b, name + ".ps", [&](TIOParamsVals& p) {
      p.PSCompression = uint8_t(c.compression);
      p.PSPaperWidth = b.GetImageWidth();
      p.PSPaperHeight = b.GetImageHeight();
    });
    ExpectDataCounts(doc);
    ASSERT_TRUE(RenderWithGhostscript(name + ".ps", name, PaperOptions(b.GetImageWidth(), b.GetImageHeight()))) << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_EQ(w, b.GetImageWidth());
    EXPECT_EQ(h, b.GetImageHeight());
    ExpectPixels(b, rgb, c.lossy, "rendered");
  }
}

// Pages appended through the state keep the "%%Pages: " line's length and count.
TEST_F(PSWriter, PagesAppendToAnOpenDocument) {
  TIOParamsVals params(nullptr);
  TIEBitmap a, b;
  MakePicture(a, 20, 10);
  MakeBilevel(b, 16, 16);
  TIEMemoryStream m;
  std::atomic<bool> abort{false};
  TIECodecProgress progress;
  progress.Aborting = &abort;
  TIEPSWriterState* state = IEPSWriteHeader(m, params);
  IEPSAddPage(state, m, a, progress, params);
  IEPSAddPage(state, m, b, progress, params);
  EXPECT_TRUE(IEPSClose(state, m));
  EXPECT_EQ(state, nullptr);
  EXPECT_FALSE(abort);
  const std::vector<uint8_t> bytes = StreamBytes(m);
  const std::string doc(bytes.begin(), bytes.end());
  EXPECT_TRUE(HasLine(doc, "%%Pages: 2     "));
  EXPECT_TRUE(HasLine(doc, "%%Page: 1 1"));
  EXPECT_TRUE(HasLine(doc, "%%Page: 2 2"));
  EXPECT_EQ(Count(doc, "%%Trailer"), 1u);
  EXPECT_EQ(IEPSPadNumber(12, 6), "12    ");
  EXPECT_EQ(IEPSPadNumber(1234567, 6), "1234567");
  if (!DocumentToolsHere()) return;
  tq::WriteFileBytes(tq::WorkFile("two.ps"), bytes.data(), bytes.size());
  ASSERT_EQ(Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage two.ps"), 0) << out;
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
}

TEST_F(PSWriter, RefusedWritesAbort) {
  for (bool bilevel : {false, true}) {
    SCOPED_TRACE(bilevel ? "1-bit" : "RGB");
    TIEBitmap b;
    MakeImage(b, bilevel, 30, 20);
    ExpectRefusedWritesAbort(b, iffPS, 20, 200, 20);
  }
}

}  // namespace

namespace {

// Grey DCT data are drawn with one component; four-component JPEG spaces are written as YCbCr.
TEST_F(PSWriter, DCTColourSpaces) {
  struct Case {
    uint8_t jpegSpace;
    const char* components;
    bool grey;
  };
  const Case kCases[] = {{1, "false 1", true}, {3, "false 3", false}};
  for (const Case& c : kCases) {
    TIEBitmap b;
    MakePicture(b, 96, 72);
    const std::string name = "dct-space-" + std::to_string(c.jpegSpace);
    const std::string doc = Save(b, name + ".ps", [&](TIOParamsVals& p) {
      p.PSCompression = 3;
      p.JPEGColorSpace = c.jpegSpace;
      p.PSPaperWidth = 96;
      p.PSPaperHeight = 72;
    });
    EXPECT_TRUE(HasLine(doc, c.components)) << name;
    ExpectDataCounts(doc);
    if (!DocumentToolsHere()) continue;
    ASSERT_TRUE(RenderWithGhostscript(name + ".ps", name, PaperOptions(96, 72))) << out;
    TIEBitmap expected;
    expected.Assign(&b);
    if (c.grey) MakeLuma(expected);
    ExpectPixels(expected, rgb, true, name.c_str());
  }
}

}  // namespace
