// The slide painter: exported metafiles played back by GDI+ as the conversion program plays them,
// at exactly the requested size, with the right colours where the deck puts its shapes.
#include "slide_painter.h"

#include <gtest/gtest.h>

#include "deck_fixtures.h"
#include "gdiplus_session.h"
#include "metafile_probe.h"

using namespace presenter;
using namespace presenter_test;

namespace {

Deck LoadFixture(const char* name) {
  Deck deck;
  std::string error;
  EXPECT_TRUE(LoadDeck(Wide(FixturePath(name)), deck, error)) << error;
  return deck;
}

void CheckSamples(const Playback& p, double slideW, double slideH, const std::vector<Sample>& samples,
                  const std::string& context) {
  for (const Sample& s : samples) {
    const int x = int(s.xIn * p.width / slideW), y = int(s.yIn * p.height / slideH);
    const COLORREF got = p.At(x, y);
    EXPECT_TRUE(Near(got, s.expect)) << context << " " << s.what << " at " << x << "," << y << ": got " << Hex(got)
                                     << ", expected " << Hex(s.expect);
  }
}

class SlidePainter : public ::testing::Test {
 protected:
  GdiplusSession gdiplus_;
};

}  // namespace

// The generated 16:9 deck at 4:3, square (stretched, not letter-boxed) and large sizes.
TEST_F(SlidePainter, EmfPlaysBackAtTheRequestedSizeWithTheDecksColours) {
  ASSERT_TRUE(gdiplus_.ok());
  const Deck deck = LoadFixture("wide.pptx");
  ASSERT_EQ(deck.slides.size(), 3u);
  const std::vector<Sample> slide1 = {
      {0.2, 0.2, RGB(0x20, 0x30, 0x40), "background"},
      {9.8, 5.4, RGB(0x20, 0x30, 0x40), "background far corner"},
      {2.0, 1.5, RGB(255, 0, 0), "rectangle"},
      {0.55, 0.55, RGB(255, 0, 0), "rectangle corner"},
      {7.0, 1.75, RGB(0, 0xC0, 0), "ellipse centre"},
      {5.1, 0.6, RGB(0x20, 0x30, 0x40), "outside the ellipse, inside its box"},
      {2.0, 4.2, RGB(0, 0, 255), "rounded rectangle"},
  };
  const std::vector<Sample> slide2 = {
      {0.5, 0.5, RGB(0xF0, 0xE0, 0xA0), "background"},
      {5.0, 2.5, RGB(0x80, 0, 0x80), "rectangle"},
  };
  const struct {
    int w, h;
  } sizes[] = {{640, 480}, {640, 640}, {4000, 3000}, {333, 187}};
  for (const auto& size : sizes) {
    const std::string context = std::to_string(size.w) + "x" + std::to_string(size.h);
    for (size_t slide : {0u, 1u}) {
      const std::wstring path = Wide(tq::WorkFile("wide" + std::to_string(slide) + "_" + context + ".emf"));
      std::string error;
      ASSERT_TRUE(ExportSlide(deck, slide, path, MetafileFormat::Emf, size.w, size.h, error)) << error;
      const Playback p = PlayMetafile(path, size.w, size.h);
      ASSERT_TRUE(p.loaded) << context;
      EXPECT_EQ(p.imageWidth, UINT(size.w)) << context;
      EXPECT_EQ(p.imageHeight, UINT(size.h)) << context;
      CheckSamples(p, 10, 5.625, slide ? slide2 : slide1, context + " slide " + std::to_string(slide + 1));
    }
  }
}

// GDI+ must report exactly the requested size for every size, not one pixel less for most of them.
TEST_F(SlidePainter, EmfSizeIsExactForManySizes) {
  const Deck deck = LoadFixture("classic.pptx");
  const std::wstring path = Wide(tq::WorkFile("size.emf"));
  for (int w : {1, 2, 17, 333, 640, 959, 960, 1023, 1920, 2999}) {
    const int h = w * 3 / 4 + 1;
    std::string error;
    ASSERT_TRUE(ExportSlide(deck, 0, path, MetafileFormat::Emf, w, h, error)) << error;
    const Playback p = PlayMetafile(path, 1, 1);
    EXPECT_EQ(p.imageWidth, UINT(w));
    EXPECT_EQ(p.imageHeight, UINT(h));
  }
}

TEST_F(SlidePainter, WmfLoadsAndShowsTheSlide) {
  const Deck deck = LoadFixture("wide.pptx");
  const std::wstring path = Wide(tq::WorkFile("wide.wmf"));
  std::string error;
  ASSERT_TRUE(ExportSlide(deck, 0, path, MetafileFormat::Wmf, 640, 360, error)) << error;
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("wide.wmf"), bytes));
  ASSERT_GT(bytes.size(), 22u);
  EXPECT_EQ(bytes[0], 0xD7);  // placeable header key
  EXPECT_EQ(bytes[3], 0x9A);
  const Playback p = PlayMetafile(path, 640, 360);
  ASSERT_TRUE(p.loaded);
  EXPECT_EQ(p.imageWidth, 640u);
  EXPECT_EQ(p.imageHeight, 360u);
  CheckSamples(p, 10, 5.625, {{0.2, 0.2, RGB(0x20, 0x30, 0x40), "background"}, {2.0, 1.5, RGB(255, 0, 0), "rectangle"}},
               "wmf");
}

// The example deck from the R package: placeholders, a table and a transparent picture all draw.
TEST_F(SlidePainter, OfficerExampleExportsEverySlide) {
  const Deck deck = LoadFixture("example.pptx");
  for (size_t i = 0; i < deck.slides.size(); i++) {
    const std::wstring path = Wide(tq::WorkFile("example" + std::to_string(i + 1) + ".emf"));
    std::string error;
    ASSERT_TRUE(ExportSlide(deck, i, path, MetafileFormat::Emf, 640, 480, error)) << error;
    const Playback p = PlayMetafile(path, 640, 480);
    ASSERT_TRUE(p.loaded);
    EXPECT_EQ(p.imageWidth, 640u);
    EXPECT_EQ(p.imageHeight, 480u);
    EXPECT_TRUE(Near(p.At(3, 3), RGB(255, 255, 255))) << Hex(p.At(3, 3));
  }
  // Table cells are framed: the grid line of the first column lies 1645920 EMU right of 457200.
  const std::wstring path = Wide(tq::WorkFile("example3.emf"));
  const Playback p = PlayMetafile(path, 640, 480);
  const int gridX = int((457200 + 1645920) * 640.0 / 9144000), midY = int((1600200 + 370840 * 2.5) * 480.0 / 6858000);
  bool dark = false;
  for (int dx = -1; dx <= 1; dx++) dark |= GetRValue(p.At(gridX + dx, midY)) < 128;
  EXPECT_TRUE(dark);
}

// Shapes with known geometry: the ellipse leaves its box corners, the line draws its diagonal.
TEST_F(SlidePainter, DrawsPresetGeometries) {
  const std::string shapes =
      PresetShape("ellipse", 914400, 914400, 2743200, 2743200, "00FF00") +
      PresetShape("roundRect", 4572000, 914400, 2743200, 2743200, "0000FF") +
      "<p:cxnSp><p:nvCxnSpPr/><p:spPr><a:xfrm flipV=\"1\"><a:off x=\"914400\" y=\"4572000\"/><a:ext cx=\"1828800\" "
      "cy=\"1828800\"/></a:xfrm><a:prstGeom prst=\"line\"/><a:ln w=\"63500\"><a:solidFill><a:srgbClr val=\"FF00FF\"/>"
      "</a:solidFill></a:ln></p:spPr></p:cxnSp>";
  Deck deck;
  std::string error;
  ASSERT_TRUE(LoadDeckFromBytes(OneSlidePackage(shapes, "FFFFFF"), deck, error)) << error;
  const std::wstring path = Wide(tq::WorkFile("shapes.emf"));
  ASSERT_TRUE(ExportSlide(deck, 0, path, MetafileFormat::Emf, 1000, 750, error)) << error;
  const Playback p = PlayMetafile(path, 1000, 750);
  ASSERT_TRUE(p.loaded);
  CheckSamples(p, 10, 7.5,
               {{2.5, 2.5, RGB(0, 255, 0), "ellipse centre"},
                {1.05, 1.05, RGB(255, 255, 255), "ellipse box corner"},
                {3.95, 2.5, RGB(0, 255, 0), "ellipse right edge"},
                {6.5, 2.5, RGB(0, 0, 255), "rounded rectangle centre"},
                {5.02, 1.02, RGB(255, 255, 255), "rounded corner"},
                {5.2, 2.5, RGB(0, 0, 255), "rounded rectangle left edge"},
                {2.0, 6.0, RGB(255, 0, 255), "line midpoint (rising diagonal)"},
                {1.3, 5.3, RGB(255, 255, 255), "off the flipped line's diagonal"}},
               "shapes");
}

// Pictures written by ImageMagick (PNG, JPEG, PNG with transparency) are drawn from their parts,
// stretched into their boxes, cropped as the picture fill says, and blended over the background.
TEST_F(SlidePainter, DrawsPicturesFromTheirParts) {
  ASSERT_EQ(tq::RunHost("/usr/bin/convert -size 20x40 xc:'#FF0000' -size 20x40 xc:'#0000FF' +append lr.png && "
                        "/usr/bin/convert -size 40x20 xc:'#FF0000' -size 40x20 xc:'#00FF00' -append tb.png && "
                        "/usr/bin/convert -size 40x40 xc:'#33AA55' -quality 95 solid.jpg && "
                        "/usr/bin/convert -size 40x40 xc:none -fill '#FFFF00' -draw 'rectangle 10,10 29,29' "
                        "PNG32:alpha.png"),
            0);
  auto bytes = [](const char* name) {
    std::vector<unsigned char> v;
    EXPECT_TRUE(tq::ReadFileBytes(tq::WorkFile(name), v)) << name;
    return std::string(v.begin(), v.end());
  };
  auto pic = [](const char* rel, int xIn, int yIn, const char* crop) {
    const std::string emu = std::to_string(914400);
    return std::string("<p:pic><p:nvPicPr><p:cNvPr id=\"3\" name=\"p\"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr>"
                       "<p:blipFill><a:blip r:embed=\"") + rel + "\"/>" + crop +
           "<a:stretch><a:fillRect/></a:stretch></p:blipFill><p:spPr><a:xfrm><a:off x=\"" +
           std::to_string(914400L * xIn) + "\" y=\"" + std::to_string(914400L * yIn) + "\"/><a:ext cx=\"1828800\" "
           "cy=\"1828800\"/></a:xfrm><a:prstGeom prst=\"rect\"/></p:spPr></p:pic>";
  };
  const std::string tree = pic("rLR", 1, 1, "") + pic("rLR", 4, 1, "<a:srcRect l=\"50000\"/>") +
                           pic("rJPG", 7, 1, "") + pic("rA", 1, 4, "") + pic("rTB", 4, 4, "<a:srcRect b=\"50000\"/>");
  const std::string pres = std::string("<p:presentation ") + kPresentationNs +
                           "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/></p:sldIdLst>"
                           "<p:sldSz cx=\"9144000\" cy=\"6858000\"/></p:presentation>";
  const std::string slide = std::string("<p:sld ") + kPresentationNs +
                            "><p:cSld><p:bg><p:bgPr><a:solidFill><a:srgbClr val=\"808080\"/></a:solidFill></p:bgPr>"
                            "</p:bg><p:spTree>" + tree + "</p:spTree></p:cSld></p:sld>";
  const std::string slideRels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rLR\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
      "Target=\"../media/lr.png\"/>"
      "<Relationship Id=\"rTB\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
      "Target=\"../media/tb.png\"/>"
      "<Relationship Id=\"rJPG\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
      "Target=\"../media/solid.jpg\"/>"
      "<Relationship Id=\"rA\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
      "Target=\"/ppt/media/alpha.png\"/></Relationships>";
  const std::string zip = BuildZip({{"ppt/presentation.xml", pres},
                                    {"ppt/_rels/presentation.xml.rels", Relationships({{"rId2", "slides/slide1.xml"}})},
                                    {"ppt/slides/slide1.xml", slide},
                                    {"ppt/slides/_rels/slide1.xml.rels", slideRels},
                                    {"ppt/media/lr.png", bytes("lr.png"), false},
                                    {"ppt/media/tb.png", bytes("tb.png"), false},
                                    {"ppt/media/solid.jpg", bytes("solid.jpg"), false},
                                    {"ppt/media/alpha.png", bytes("alpha.png"), false}});
  Deck deck;
  std::string error;
  ASSERT_TRUE(LoadDeckFromBytes(zip, deck, error)) << error;
  const std::wstring path = Wide(tq::WorkFile("pictures.emf"));
  ASSERT_TRUE(ExportSlide(deck, 0, path, MetafileFormat::Emf, 1000, 750, error)) << error;
  const Playback p = PlayMetafile(path, 1000, 750);
  ASSERT_TRUE(p.loaded);
  CheckSamples(p, 10, 7.5,
               {{1.5, 2.0, RGB(255, 0, 0), "png left half"},
                {2.5, 2.0, RGB(0, 0, 255), "png right half"},
                {4.3, 2.0, RGB(0, 0, 255), "cropped to the right half: left edge"},
                {5.7, 2.0, RGB(0, 0, 255), "cropped to the right half: right edge"},
                {8.0, 2.0, RGB(0x33, 0xAA, 0x55), "jpeg"},
                {2.0, 5.0, RGB(255, 255, 0), "opaque centre of the transparent png"},
                {1.1, 4.1, RGB(128, 128, 128), "transparent corner shows the background"},
                {5.0, 4.2, RGB(255, 0, 0), "cropped to the top half: top"},
                {5.0, 5.8, RGB(255, 0, 0), "cropped to the top half: bottom"},
                {0.5, 0.5, RGB(128, 128, 128), "background"}},
               "pictures");
}

// Text sits at the top, middle or bottom of its box as the body's anchor says.
TEST_F(SlidePainter, AnchorsTextInItsBox) {
  struct Case {
    const char* anchor;
    unsigned textBands;  // bit n: quarter n of the box (0 top .. 3 bottom) holds the text
  };
  for (const Case& c : {Case{"t", 1u}, Case{"ctr", 6u}, Case{"b", 8u}}) {
    const std::string shape =
        "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"t\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm>"
        "<a:off x=\"914400\" y=\"914400\"/><a:ext cx=\"7315200\" cy=\"4572000\"/></a:xfrm>"
        "<a:prstGeom prst=\"rect\"/></p:spPr><p:txBody><a:bodyPr anchor=\"" + std::string(c.anchor) +
        "\"/><a:p><a:r><a:rPr sz=\"4000\"/><a:t>WWWW</a:t></a:r></a:p></p:txBody></p:sp>";
    Deck deck;
    std::string error;
    ASSERT_TRUE(LoadDeckFromBytes(OneSlidePackage(shape), deck, error)) << error;
    const std::wstring path = Wide(tq::WorkFile(std::string("anchor_") + c.anchor + ".emf"));
    ASSERT_TRUE(ExportSlide(deck, 0, path, MetafileFormat::Emf, 1000, 750, error)) << error;
    const Playback p = PlayMetafile(path, 1000, 750);
    ASSERT_TRUE(p.loaded);
    // The box spans y = 100..550 at this size; count dark pixels per quarter of it.
    int dark[4] = {0, 0, 0, 0};
    for (int y = 100; y < 550; y++)
      for (int x = 100; x < 900; x++) dark[(y - 100) * 4 / 450] += GetRValue(p.At(x, y)) < 100;
    int inside = 0;
    for (int band = 0; band < 4; band++) {
      if (c.textBands & (1u << band)) inside += dark[band];
      else EXPECT_EQ(dark[band], 0) << c.anchor << " band " << band;
    }
    EXPECT_GT(inside, 100) << c.anchor;
  }
}

// Hostile geometry and pictures: far-off and enormous shapes, a PNG header claiming 60000 x 60000
// pixels, bytes that are no picture. The export still succeeds and the slide still shows.
TEST_F(SlidePainter, SurvivesExtremeShapesAndPictures) {
  std::string hugePng("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
  for (uint32_t v : {60000u, 60000u}) {
    hugePng += char(v >> 24);
    hugePng += char(v >> 16);
    hugePng += char(v >> 8);
    hugePng += char(v);
  }
  hugePng += std::string("\x08\x06\0\0\0", 5) + std::string(4, '\0') + std::string(100, 'x');
  auto pic = [](const char* rel) {
    return std::string("<p:pic><p:nvPicPr><p:cNvPr id=\"3\" name=\"p\"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr>"
                       "<p:blipFill><a:blip r:embed=\"") + rel + "\"/></p:blipFill><p:spPr><a:xfrm><a:off x=\"0\" "
           "y=\"0\"/><a:ext cx=\"914400\" cy=\"914400\"/></a:xfrm></p:spPr></p:pic>";
  };
  const std::string tree =
      PresetShape("rect", -999999999999, 5, 1999999999999, 10, "FF0000") +
      PresetShape("ellipse", 100, 100, -50000000, 99999999999, "00FF00") +
      "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"t\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm>"
      "<a:off x=\"0\" y=\"0\"/><a:ext cx=\"100\" cy=\"100\"/></a:xfrm></p:spPr><p:txBody><a:bodyPr/><a:p><a:r>"
      "<a:rPr sz=\"400000\"/><a:t>huge</a:t></a:r></a:p></p:txBody></p:sp>" +
      pic("rHuge") + pic("rJunk");
  const std::string pres = std::string("<p:presentation ") + kPresentationNs +
                           "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/></p:sldIdLst>"
                           "<p:sldSz cx=\"9144000\" cy=\"6858000\"/></p:presentation>";
  const std::string slide = std::string("<p:sld ") + kPresentationNs +
                            "><p:cSld><p:bg><p:bgPr><a:solidFill><a:srgbClr val=\"123456\"/></a:solidFill></p:bgPr>"
                            "</p:bg><p:spTree>" + tree + "</p:spTree></p:cSld></p:sld>";
  const std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rHuge\" Type=\"image\" Target=\"../media/huge.png\"/>"
      "<Relationship Id=\"rJunk\" Type=\"image\" Target=\"../media/junk.png\"/></Relationships>";
  const std::string zip = BuildZip({{"ppt/presentation.xml", pres},
                                    {"ppt/_rels/presentation.xml.rels", Relationships({{"rId2", "slides/slide1.xml"}})},
                                    {"ppt/slides/slide1.xml", slide},
                                    {"ppt/slides/_rels/slide1.xml.rels", rels},
                                    {"ppt/media/huge.png", hugePng},
                                    {"ppt/media/junk.png", std::string(5000, '\x5A')}});
  Deck deck;
  std::string error;
  ASSERT_TRUE(LoadDeckFromBytes(zip, deck, error)) << error;
  const std::wstring path = Wide(tq::WorkFile("extreme.emf"));
  ASSERT_TRUE(ExportSlide(deck, 0, path, MetafileFormat::Emf, 640, 480, error)) << error;
  const Playback p = PlayMetafile(path, 640, 480);
  ASSERT_TRUE(p.loaded);
  EXPECT_EQ(p.imageWidth, 640u);
  EXPECT_TRUE(Near(p.At(600, 400), RGB(0x12, 0x34, 0x56))) << Hex(p.At(600, 400));
}

TEST_F(SlidePainter, RefusesBadExports) {
  const Deck deck = LoadFixture("wide.pptx");
  struct Case {
    size_t slide;
    int w, h;
    std::string path;
    const char* expect;
  };
  const Case cases[] = {
      {3, 640, 480, tq::WorkFile("x.emf"), "no such slide"},
      {0, 0, 480, tq::WorkFile("x.emf"), "out of range"},
      {0, 640, 20001, tq::WorkFile("x.emf"), "out of range"},
      {0, 640, 480, tq::WorkFile("no\\such\\folder\\x.emf"), "cannot be written"},
      {0, 640, 480, tq::WorkFile("no\\such\\folder\\x.wmf"), "cannot be written"},
  };
  for (const Case& c : cases) {
    std::string error;
    const MetafileFormat f = c.path.back() == 'f' && c.path[c.path.size() - 3] == 'w' ? MetafileFormat::Wmf
                                                                                      : MetafileFormat::Emf;
    EXPECT_FALSE(ExportSlide(deck, c.slide, Wide(c.path), f, c.w, c.h, error)) << c.path;
    EXPECT_NE(error.find(c.expect), std::string::npos) << error;
  }
}
