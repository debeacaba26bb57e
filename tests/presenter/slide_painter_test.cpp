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
