// The colour-map optimizer: one global map of the colours in use, most used first, equal colours
// shared, a black transparent slot, and the nearest kept colour for colours that do not fit.
#include "gifanimtesthelp.h"
#include "gifcolormapoptimizer.h"

using giftest::AddFrame;
using giftest::Compose;
using giftest::Control;
using giftest::TimelineDifferences;

namespace {
const TGIFColor kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

TGIFColor GlobalColor(TGIFImage& image, int index) { return image.GlobalColorMap().Entries()[size_t(index)]; }
}  // namespace

// A 256-colour local map of which 10 entries are shown becomes a global map of those 10, most used
// first, and the frame keeps its picture.
TEST(GifColorMapOptimizer, UsedColoursOfALocalMapOrderedByUse) {
  TGIFImage image;
  TGIFPalette local(256);
  for (int i = 0; i < 256; ++i) local[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
  std::vector<uint8_t> px;
  for (int k = 0; k < 10; ++k) px.insert(px.end(), size_t(k + 1), uint8_t(20 * k + 3));  // 20k+3 shown k+1 times
  AddFrame(image, 0, 0, int(px.size()), 1, px, local);
  const auto before = Compose(image);
  image.UnifyColorMaps();
  EXPECT_EQ(image.Images()[0].ColorMap().Count(), 0);
  ASSERT_EQ(image.GlobalColorMap().Count(), 10);
  EXPECT_TRUE(image.GlobalColorMap().Sorted());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(GlobalColor(image, i), local[size_t(20 * (9 - i) + 3)]) << i;
  EXPECT_EQ(image.Images()[0].Pixels().back(), 0);
  EXPECT_EQ(TimelineDifferences(Compose(image), before), 0u);
}

// Equal colours of different maps share one entry with the sum of their counts; frames on the
// global map and frames with local maps all end up on the new global map.
TEST(GifColorMapOptimizer, EqualColoursShareOneEntry) {
  TGIFImage image;
  image.GlobalColorMap().LoadFromPalette({kGreen, {9, 9, 9}, kRed});
  Control(AddFrame(image, 0, 0, 4, 1, {0, 0, 2, 0}), 1, 5);
  Control(AddFrame(image, 0, 0, 4, 1, {0, 0, 0, 1}, {kRed, kGreen}), 1, 5);
  Control(AddFrame(image, 0, 0, 4, 1, {1, 0, 1, 1}, {kBlue, kRed}), 1, 5);
  const auto before = Compose(image);
  image.UnifyColorMaps();
  // red 1 + 3 + 3 = 7, green 3 + 1 = 4, blue 1; (9, 9, 9) is never shown.
  ASSERT_EQ(image.GlobalColorMap().Count(), 3);
  EXPECT_EQ(GlobalColor(image, 0), kRed);
  EXPECT_EQ(GlobalColor(image, 1), kGreen);
  EXPECT_EQ(GlobalColor(image, 2), kBlue);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(image.Images()[i].ColorMap().Count(), 0);
  EXPECT_EQ(image.Images()[1].Pixels(), (std::vector<uint8_t>{0, 0, 0, 1}));
  EXPECT_EQ(TimelineDifferences(Compose(image), before), 0u);
}

// Transparency gets a black slot right after the kept colours; a frame flagged transparent that
// never shows its transparent index loses the flag and asks for no slot.
TEST(GifColorMapOptimizer, TransparentSlotAfterTheKeptColours) {
  for (bool shown : {true, false}) {
    SCOPED_TRACE(shown);
    TGIFImage image;
    TGIFSubImage* f = AddFrame(image, 0, 0, 3, 1, {1, 2, uint8_t(shown ? 0 : 1)}, {{7, 7, 7}, kRed, kBlue});
    Control(f, 1, 5, 0);
    const auto before = Compose(image);
    image.UnifyColorMaps();
    const int kept = 2;  // red and blue
    ASSERT_EQ(image.GlobalColorMap().Count(), kept + (shown ? 1 : 0));
    EXPECT_EQ(f->Transparent(), shown);
    if (shown) {
      EXPECT_EQ(GlobalColor(image, kept), (TGIFColor{0, 0, 0}));
      EXPECT_EQ(f->GraphicControlExtension()->TransparentColorIndex(), kept);
      EXPECT_EQ(f->Pixels()[2], kept);
    }
    EXPECT_EQ(TimelineDifferences(Compose(image), before), 0u);
  }
}

// 300 colours in use: the 256 most used stay; every other one goes to the kept colour nearest to it
// channel by channel, so a dark blue goes to blue, not to a red of the same channel sum.
TEST(GifColorMapOptimizer, ColoursBeyondTheMapGoToTheNearestKept) {
  TGIFImage image;
  TGIFPalette many(256);
  for (int i = 0; i < 256; ++i) many[size_t(i)] = {uint8_t(100 + i % 50), uint8_t(100 + i / 50), 100};
  many[0] = {250, 0, 0};
  many[1] = kBlue;
  std::vector<uint8_t> px;
  for (int i = 0; i < 256; ++i) px.insert(px.end(), i == 0 ? 6 : i == 1 ? 5 : 3, uint8_t(i));  // red before blue
  AddFrame(image, 0, 0, int(px.size()), 1, px, many);
  TGIFPalette rare(44);
  for (int i = 0; i < 44; ++i) rare[size_t(i)] = {uint8_t(110 + i), 120, 105};
  rare[0] = {0, 0, 250};
  std::vector<uint8_t> once(44);
  for (int i = 0; i < 44; ++i) once[size_t(i)] = uint8_t(i);
  AddFrame(image, 0, 1, 44, 1, once, rare);
  image.UnifyColorMaps();
  ASSERT_EQ(image.GlobalColorMap().Count(), 256);
  EXPECT_EQ(GlobalColor(image, 0), (TGIFColor{250, 0, 0}));
  EXPECT_EQ(GlobalColor(image, image.Images()[1].Pixels()[0]), kBlue);
  EXPECT_EQ(GlobalColor(image, image.Images()[0].Pixels()[6]), kBlue);
}

// A pixel beyond its map is read as entry 0 with a warning; the background index keeps its colour.
TEST(GifColorMapOptimizer, BadPixelsAndBackground) {
  TGIFImage image;
  giftest::WarningLog log;
  log.Attach(image);
  image.GlobalColorMap().LoadFromPalette({kRed, kGreen, kBlue});
  image.Header().Screen().BackgroundIndex = 2;
  AddFrame(image, 0, 0, 4, 1, {2, 2, 7, 1});
  image.UnifyColorMaps();
  EXPECT_TRUE(log.Has("Color not in color table"));
  ASSERT_EQ(image.GlobalColorMap().Count(), 3);
  EXPECT_EQ(GlobalColor(image, image.Images()[0].Pixels()[2]), kRed);
  EXPECT_EQ(GlobalColor(image, image.Header().Screen().BackgroundIndex), kBlue);
}
