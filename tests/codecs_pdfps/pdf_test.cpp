// PDF documents checked with qpdf, poppler's pdfimages and pdftoppm.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "../codecs_misc/misc_util.h"
#include "../io/iotest_util.h"
#include "hostenv.h"
#include "iepdf.h"
#include "imageryio.h"
#include "pdfps_util.h"

using namespace iotest;
using namespace misctest;
using namespace pdfpstest;

namespace {

class PDFWriter : public DocumentWriterTest {};

// The text between "N 0 obj" and its "endobj".
std::string ObjectText(const std::string& doc, int n) {
  const std::string open = "\n" + std::to_string(n) + " 0 obj\n";
  const size_t a = doc.find(open);
  if (a == std::string::npos) return "";
  const size_t b = doc.find("\nendobj", a);
  return doc.substr(a + open.size(), b - a - open.size());
}

TEST_F(PDFWriter, DefaultSaveOfAColourImage) {
  TIEBitmap b;
  MakePicture(b, 640, 480);
  const std::string doc = Save(b, "default.pdf");
  ASSERT_EQ(doc.compare(0, 9, "%PDF-1.4\n"), 0);
  EXPECT_EQ(doc.substr(9, 5), std::string("\xC8\xD2\xF0\xFE\n"));

  const std::string image = ObjectText(doc, 3);
  EXPECT_EQ(image.find("<< /Type /XObject\n/Subtype /Image\n/Length 921600\n/ColorSpace"), 0u) << image.substr(0, 80);
  EXPECT_NE(image.find("/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n/Width 640\n/Height 480\n>>"), std::string::npos);
  EXPECT_EQ(image.find("/Filter"), std::string::npos);
  EXPECT_NE(ObjectText(doc, 4).find("stream\nq\n595 0 0 446 0 396 cm\n/lm1 Do\nQ\nendstream"), std::string::npos);
  const std::string page = ObjectText(doc, 5);
  EXPECT_NE(page.find("/Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 4 0 R\n/Parent 6 0 R"),
            std::string::npos) << page;
  EXPECT_EQ(ObjectText(doc, 6), "<< /Type /Pages\n/Kids [5 0 R ]\n/Count 1\n>>");
  EXPECT_EQ(ObjectText(doc, 1), "<< /Type /Catalog\n/Pages 6 0 R\n>>");
  EXPECT_EQ(ObjectText(doc, 2), "<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n>>\n>>");

  // the cross-reference table: 20-byte entries, each pointing at its "N 0 obj" line
  const size_t xref = doc.rfind("\nxref\n") + 1;
  const size_t startxref = doc.find("startxref\n", xref);
  ASSERT_NE(startxref, std::string::npos);
  EXPECT_EQ(std::atol(doc.c_str() + startxref + 10), long(xref));
  ASSERT_EQ(doc.compare(xref, 29, "xref\n0 8\n0000000000 65535 f \n"), 0);
  for (int n = 1; n <= 7; ++n) {
    const std::string entry = doc.substr(xref + 29 + 20 * size_t(n - 1) + 0, 20);
    ASSERT_EQ(entry.substr(10), " 00000 n \n") << n;
    const size_t at = size_t(std::atol(entry.c_str()));
    EXPECT_EQ(doc.compare(at, std::to_string(n).size() + 6, std::to_string(n) + " 0 obj"), 0) << "object " << n;
  }
  EXPECT_NE(doc.find("trailer\n<< /Size 8\n/Root 1 0 R\n/Info 7 0 R\n>>\nstartxref\n"), std::string::npos);
  EXPECT_EQ(doc.substr(doc.size() - 6), "%%EOF\n");
  EXPECT_TRUE(std::regex_match(ObjectText(doc, 7), std::regex("<< /CreationDate \\(D:\\d{14}\\)\n>>")))
      << ObjectText(doc, 7);

  if (!DocumentToolsHere()) GTEST_SKIP() << "host tools missing";
  EXPECT_EQ(Run("qpdf --check default.pdf"), 0) << out;
  EXPECT_EQ(Run("pdfimages default.pdf default-img"), 0) << out;
  ASSERT_TRUE(ReadImage("default-img-000.ppm"));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_TRUE(rgb == RGBOf(b));
  // the page is rendered with the image at the top: at 72 dpi a 595 x 842 page whose lower part is white
  ASSERT_EQ(Run("pdftoppm -r 72 -singlefile default.pdf default-page"), 0) << out;
  ASSERT_TRUE(ReadImage("default-page.ppm"));
  EXPECT_EQ(w, 595);
  EXPECT_EQ(h, 842);
  EXPECT_EQ(rgb[3 * (size_t(w) * 800 + 300)], 255);
}

// Every compression, each checked against the host's extractor and renderer. The page is given the
// image's size, so a render at 72 dpi shows the image pixel for pixel.
TEST_F(PDFWriter, CompressionsReadBackInTheHostTools) {
  if (!DocumentToolsHere()) GTEST_SKIP() << "host tools missing";
  struct Case {
    bool bilevel;
    int compression;
    const char* filter;  // in the image dictionary, "" none
    const char* enc;     // pdfimages -list's encoding column
    bool lossy;
  };
  const Case kCases[] = {
      {true, 0, "", "image", false},
      {true, 1, "/Filter [/RunLengthDecode ]", "image", false},
      {true, 2, "/Filter /CCITTFaxDecode\n/DecodeParms << /K -1\n", "ccitt", false},
      {true, 3, "/Filter /CCITTFaxDecode\n/DecodeParms << /K 1\n", "ccitt", false},
      {true, 5, "/Filter /LZWDecode", "image", false},
      {false, 0, "", "image", false},
      {false, 4, "/Filter /DCTDecode", "jpeg", true},
      {false, 5, "/Filter /LZWDecode", "image", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.bilevel ? "1-bit " : "RGB ") + std::to_string(c.compression));
    TIEBitmap b;
    MakeImage(b, c.bilevel, c.bilevel ? 101 : 120, c.bilevel ? 67 : 90);
    const std::string name = std::string("c") + (c.bilevel ? "1" : "24") + "-" + std::to_string(c.compression);
    const std::string doc = Save(b, name + ".pdf", [&](TIOParamsVals& p) {
      p.PDFCompression = uint8_t(c.compression);
      p.PDFPaperWidth = b.GetImageWidth();
      p.PDFPaperHeight = b.GetImageHeight();
    });
    const std::string image = ObjectText(doc, 3);
    if (*c.filter) EXPECT_NE(image.find(c.filter), std::string::npos) << image.substr(0, 300);
    else EXPECT_EQ(image.find("/Filter"), std::string::npos);
    EXPECT_NE(image.find(c.bilevel ? "/DeviceGray\n/BitsPerComponent 1\n" : "/DeviceRGB\n/BitsPerComponent 8\n"),
              std::string::npos);

    ASSERT_EQ(Run("qpdf --check " + name + ".pdf"), 0) << out;
    ASSERT_EQ(Run("pdfimages -list " + name + ".pdf"), 0) << out;
    const std::string row = " +1 +0 image +" + std::to_string(b.GetImageWidth()) + " +" +
                            std::to_string(b.GetImageHeight()) + " +" + (c.bilevel ? "gray +1 +1 +" : "rgb +3 +8 +") +
                            c.enc + " ";
    EXPECT_TRUE(std::regex_search(out, std::regex(row))) << out << "\nwanted: " << row;

    ASSERT_EQ(Run("pdfimages -png " + name + ".pdf " + name), 0) << out;
    ASSERT_TRUE(ReadImage(name + "-000.png"));
    EXPECT_EQ(w, b.GetImageWidth());
    EXPECT_EQ(h, b.GetImageHeight());
    ExpectPixels(b, rgb, c.lossy, "extracted");
    // Ghostscript draws the image pixel for pixel; poppler's renderer smooths image edges, so it is
    // asked for the page's size only
    ASSERT_TRUE(RenderWithGhostscript(name + ".pdf", name + "-gs")) << out;
    ExpectPixels(b, rgb, c.lossy, "rendered");
    ASSERT_EQ(Run("pdftoppm -r 72 -singlefile " + name + ".pdf " + name + "-page"), 0) << out;
    ASSERT_TRUE(ReadImage(name + "-page.ppm"));
    EXPECT_EQ(w, b.GetImageWidth());
    EXPECT_EQ(h, b.GetImageHeight());
  }
}

TEST_F(PDFWriter, BilevelFaxParametersAndDCTRequest) {
  TIEBitmap b;
  MakeBilevel(b, 40, 30);
  const std::string g4 = Save(b, "fax-default.pdf");
  EXPECT_NE(ObjectText(g4, 3).find("/DecodeParms << /K -1\n/BlackIs1 true\n/Columns 40\n/Rows 30\n/EndOfLine false\n"
                                   "/Uncompressed true\n/EncodedByteAlign false\n/EndOfBlock false\n>>"),
            std::string::npos);
  TImageryIO io(&b);
  io.Params.PDFCompression = 4;  // DCT has no 1-bit form: the two-dimensional fax coding is used
  io.SaveByExtension(W(tq::WorkFile("fax-dct.pdf")));
  EXPECT_NE(ObjectText(FileText(tq::WorkFile("fax-dct.pdf")), 3).find("/K 1\n"), std::string::npos);
  EXPECT_EQ(io.Params.PDFCompression, 4);  // the caller's parameters stay as they were
  EXPECT_EQ(io.Params.BitsPerSample, 8);
  EXPECT_EQ(io.Params.SamplesPerPixel, 3);
}

TEST_F(PDFWriter, InformationHoldsOnlyTheSetStrings) {
  TIEBitmap b;
  MakePicture(b, 16, 16);
  const std::string doc = Save(b, "info.pdf", [](TIOParamsVals& p) { p.PDFTitle = "Slides (draft)"; });
  EXPECT_TRUE(std::regex_match(ObjectText(doc, 7),
                               std::regex("<< /Title \\(Slides \\\\\\(draft\\\\\\)\\)\n/CreationDate \\(D:\\d{14}\\)\n>>")))
      << ObjectText(doc, 7);
  const std::string all = Save(b, "info-all.pdf", [](TIOParamsVals& p) {
    p.PDFTitle = "t"; p.PDFAuthor = "a"; p.PDFSubject = "s"; p.PDFKeywords = "k"; p.PDFCreator = "c"; p.PDFProducer = "p";
  });
  EXPECT_EQ(ObjectText(all, 7).find("<< /Title (t)\n/Author (a)\n/Subject (s)\n/Keywords (k)\n/Creator (c)\n/Producer (p)\n"
                                    "/CreationDate (D:"),
            0u);
  if (!DocumentToolsHere()) GTEST_SKIP() << "host tools missing";
  ASSERT_EQ(Run("pdfinfo info.pdf"), 0) << out;
  EXPECT_NE(out.find("Title:           Slides (draft)"), std::string::npos) << out;
}

// Without an LZW coder in the parameters the process-wide one codes; without either the data go
// unfiltered instead of through a null coder.
TEST_F(PDFWriter, MissingLZWCoderFallsBack) {
  TIEBitmap b;
  MakePicture(b, 50, 40);
  const TIETIFFLZWCompressor saved = IEGlobalTIFFLZWCompressor;
  const std::string viaDefault = Save(b, "lzw-default.pdf", [](TIOParamsVals& p) {
    p.PDFCompression = 5;
    p.TIFFLZWCompress = nullptr;
  });
  IEGlobalTIFFLZWCompressor = nullptr;
  const std::string none = Save(b, "lzw-none.pdf", [](TIOParamsVals& p) {
    p.PDFCompression = 5;
    p.TIFFLZWCompress = nullptr;
  });
  IEGlobalTIFFLZWCompressor = saved;
  EXPECT_NE(ObjectText(viaDefault, 3).find("/Filter /LZWDecode"), std::string::npos);
  EXPECT_EQ(ObjectText(none, 3).find("/Filter"), std::string::npos);
  EXPECT_NE(ObjectText(none, 3).find("/Length 6000\n"), std::string::npos);
  if (!DocumentToolsHere()) GTEST_SKIP() << "host tools missing";
  for (const char* name : {"lzw-default", "lzw-none"}) {
    ASSERT_EQ(Run(std::string("pdfimages -png ") + name + ".pdf " + name), 0) << out;
    ASSERT_TRUE(ReadImage(std::string(name) + "-000.png"));
    EXPECT_TRUE(rgb == RGBOf(b)) << name;
  }
}

// A destination that refuses bytes at any point of the document sets the abort flag.
TEST_F(PDFWriter, RefusedWritesAbort) {
  TIEBitmap b;
  MakePicture(b, 30, 20);
  ExpectRefusedWritesAbort(b, iffPDF, 10, 400, 30);
}

TEST_F(PDFWriter, OtherPixelFormatsAreWrittenAsRGB) {
  TIEBitmap grey;
  MakePicture(grey, 24, 18);
  grey.SetPixelFormat(ie8g);
  const std::string doc = Save(grey, "grey.pdf");
  EXPECT_EQ(grey.GetPixelFormat(), ie8g);  // the caller's bitmap is not converted
  EXPECT_NE(ObjectText(doc, 3).find("/DeviceRGB\n/BitsPerComponent 8\n/Width 24\n/Height 18"), std::string::npos);
  TIEBitmap asRGB;
  asRGB.Assign(&grey);
  asRGB.SetPixelFormat(ie24RGB);
  if (!DocumentToolsHere()) GTEST_SKIP() << "host tools missing";
  ASSERT_EQ(Run("pdfimages -png grey.pdf grey"), 0) << out;
  ASSERT_TRUE(ReadImage("grey-000.png"));
  EXPECT_TRUE(rgb == RGBOf(asRGB));
}

}  // namespace

namespace {

// DCT data follow the JPEG colour space: grey data get a grey colour space, and four-component spaces,
// which would not match the page's RGB, are written as YCbCr (the parameter itself is kept).
TEST_F(PDFWriter, DCTColourSpaces) {
  struct Case {
    uint8_t jpegSpace;
    const char* colourSpace;
    bool grey;
  };
  const Case kCases[] = {{1, "/DeviceGray", true}, {3, "/DeviceRGB", false}, {4, "/DeviceRGB", false}};
  for (const Case& c : kCases) {
    TIEBitmap b;
    MakePicture(b, 96, 72);
    const std::string name = "dct-space-" + std::to_string(c.jpegSpace);
    TImageryIO io(&b);
    io.Params.PDFCompression = 4;
    io.Params.JPEGColorSpace = c.jpegSpace;
    io.Params.PDFPaperWidth = 96;
    io.Params.PDFPaperHeight = 72;
    io.SaveByExtension(W(tq::WorkFile(name + ".pdf")));
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params.JPEGColorSpace, c.jpegSpace);
    EXPECT_NE(ObjectText(FileText(tq::WorkFile(name + ".pdf")), 3).find(std::string("/ColorSpace ") + c.colourSpace),
              std::string::npos) << name;
    if (!DocumentToolsHere()) continue;
    ASSERT_TRUE(RenderWithGhostscript(name + ".pdf", name)) << out;
    TIEBitmap expected;
    expected.Assign(&b);
    if (c.grey) MakeLuma(expected);
    ExpectPixels(expected, rgb, true, name.c_str());
  }
}

}  // namespace
