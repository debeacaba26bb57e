// The frame optimizer: every option keeps what the animation shows (composed screen by screen over
// time), on small fixtures for each rule and on a 30-frame animation read back by PIL and giftopnm.
#include <random>
#include <set>

#include "gifanimtesthelp.h"
#include "gifframeoptimizer.h"

using giftest::AddFrame;
using giftest::Compose;
using giftest::Control;
using giftest::TimelineDifferences;

namespace {

const TGIFColor kRed{255, 0, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const GIFException& e) {
    return e.what();
  }
  return "";
}

void Optimize(TGIFImage& image, TGIFOptimizeOptions options) { image.OptimizeFrames(options, gpNone, 8, gdNearest); }

// --- the 30-frame animation ---

const int kW = 48, kH = 32;
const int kSpare = 22;  // global entry (1, 2, 3): frame 0's transparent index, shown as a colour elsewhere

TGIFPalette GlobalPalette() {
  TGIFPalette p;
  for (int i = 0; i < 20; ++i) p.push_back({uint8_t(i * 12), uint8_t(255 - i * 12), uint8_t((i * 37) % 256)});
  p.push_back(kRed);          // 20
  p.push_back(kBlue);         // 21
  p.push_back({1, 2, 3});     // 22
  p.push_back({200, 200, 0}); // 23, never shown
  return p;
}

uint8_t Pattern(int x, int y) { return uint8_t((x / 6 + y / 4) % 20); }

// A full-screen frame of the pattern with a 6 x 6 square that moves with k; its corner shows the
// spare entry as a colour.
std::vector<uint8_t> PatternWithSquare(int k) {
  std::vector<uint8_t> px(size_t(kW) * kH);
  const int sx = (3 * k) % (kW - 6), sy = (2 * k) % (kH - 6);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool in = x >= sx && x < sx + 6 && y >= sy && y < sy + 6;
      px[size_t(y) * kW + size_t(x)] = in ? uint8_t(x == sx && y == sy ? kSpare : 20 + k % 2) : Pattern(x, y);
    }
  return px;
}

// A small frame of a ring of colour 0 around colours 1 and 2, all indices taken from `map`.
std::vector<uint8_t> Ring(int w, int h, uint8_t outer, uint8_t a, uint8_t b) {
  std::vector<uint8_t> px(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[size_t(y) * size_t(w) + size_t(x)] = (x == 0 || y == 0 || x == w - 1 || y == h - 1) ? outer : ((x + y) % 3 ? a : b);
  return px;
}

// Frame kinds after frame 0:
//  A full-screen opaque pattern with a moving square (global map), disposal 1
//  D exact copy of the frame before
//  B small opaque frame, local map sharing red with the global map, restores the previous screen
//  L small opaque frame whose local map has 256 entries of which 5 are shown
//  C small frame with a transparent border, restores to the background
//  E full-screen opaque frame that restores to the background (the next frame covers it)
//  U small frame flagged transparent whose transparent index no pixel shows
const char kKinds[] = "AADBALACAEAUADDBBACBLAEAUACAD";

void BuildAnimation(TGIFImage& image) {
  image.Header().Screen().Width = kW;
  image.Header().Screen().Height = kH;
  image.GlobalColorMap().LoadFromPalette(GlobalPalette());
  std::vector<uint8_t> first(size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) first[size_t(y) * kW + size_t(x)] = x < 2 ? uint8_t(kSpare) : Pattern(x, y);
  TGIFSubImage* f0 = AddFrame(image, 0, 0, kW, kH, first);
  Control(f0, 1, 10, kSpare);
  auto loop = std::make_unique<TGIFAppExtNSLoop>(f0);
  loop->Loops = 0;
  f0->AddExtension(std::move(loop));
  auto comment = std::make_unique<TGIFCommentExtension>(f0);
  comment->Lines.push_back("made by the optimizer test");
  f0->AddExtension(std::move(comment));

  for (int k = 1; k <= 29; ++k) {
    const TGIFSubImage& prev = image.Images()[k - 1];
    switch (kKinds[k - 1]) {
      case 'A': Control(AddFrame(image, 0, 0, kW, kH, PatternWithSquare(k)), 1, 5); break;
      case 'E': Control(AddFrame(image, 0, 0, kW, kH, PatternWithSquare(k)), 2, 2); break;
      case 'D': {
        TGIFSubImage* f = AddFrame(image, prev.Left(), prev.Top(), prev.Width(), prev.Height(), prev.Pixels());
        f->ColorMap().Assign(prev.ColorMap());
        Control(f, 1, 5);
        break;
      }
      case 'B': {
        const TGIFPalette local = {kRed, {9, 99, 199}, kWhite, {40, 40, 40}, GlobalPalette()[5], {250, 128, 0}};
        TGIFSubImage* f = AddFrame(image, (k * 3) % 38, (k * 2) % 24, 10, 8, Ring(10, 8, uint8_t(k % 6), 4, 1), local);
        Control(f, 3, 4);
        break;
      }
      case 'L': {
        TGIFPalette local(256, TGIFColor{77, 77, 77});
        for (int i = 0; i < 256; ++i) local[size_t(i)] = {uint8_t(i), uint8_t(i / 2), 77};
        local[10] = kRed;
        local[11] = GlobalPalette()[3];
        TGIFSubImage* f = AddFrame(image, 20, 10, 12, 9, Ring(12, 9, 10, 11, uint8_t(200 + k)), local);
        Control(f, 1, 3);
        break;
      }
      case 'C': {
        const TGIFPalette local = {kBlue, {0, 200, 100}, {130, 30, 230}, {0, 0, 0}};
        TGIFSubImage* f = AddFrame(image, 30 - k, 4 + k % 5, 12, 10, Ring(12, 10, 3, 1, 2), local);
        Control(f, 2, 6, 3);
        break;
      }
      case 'U': {
        const TGIFPalette local = {{90, 10, 10}, {10, 90, 10}, {10, 10, 90}, kWhite, {66, 66, 66}, {5, 5, 5}};
        TGIFSubImage* f = AddFrame(image, 5, 20, 9, 7, Ring(9, 7, 0, 1, 2), local);
        Control(f, 1, 2, 5);
        break;
      }
    }
  }
}

// The colours the frames show (not their transparent pixels).
std::set<uint32_t> ShownColors(TGIFImage& image) {
  std::set<uint32_t> colors;
  for (int i = 0; i < image.Images().Count(); ++i) {
    TGIFSubImage& f = image.Images()[i];
    const auto* gce = f.GraphicControlExtension();
    for (uint8_t p : f.Pixels()) {
      if (f.Transparent() && gce && p == gce->TransparentColorIndex()) continue;
      const TGIFColor c = f.ActiveColorMap().Entries()[p];
      colors.insert(GIFColorValue(c.Red, c.Green, c.Blue));
    }
  }
  return colors;
}

}  // namespace

// Each option alone and together keeps the composed timeline of the animation; each does its work.
TEST(GifFrameOptimizer, EveryOptionKeepsTheAnimation) {
  TGIFImage original;
  BuildAnimation(original);
  ASSERT_EQ(original.Images().Count(), 30);
  const auto reference = Compose(original);
  const TGIFOptimizeOptions kCases[] = {ooCrop,          ooMerge,           ooCleanup, ooColorMap,
                                        ooMerge | ooCrop, ooMerge | ooColorMap, kGIFAllOptimizeOptions};
  for (TGIFOptimizeOptions options : kCases) {
    SCOPED_TRACE(int(options));
    TGIFImage image;
    BuildAnimation(image);
    Optimize(image, options);
    EXPECT_EQ(TimelineDifferences(Compose(image), reference), 0u);
    for (int i = 0; i < image.Images().Count(); ++i) {
      TGIFSubImage& f = image.Images()[i];
      if (!f.Transparent()) continue;
      EXPECT_LT(f.GraphicControlExtension()->TransparentColorIndex(), f.ActiveColorMap().Count()) << i;
    }
    const std::vector<uint8_t> bytes = giftest::SaveBytes(image);  // every pixel within its map
    if (options & ooMerge && options & ooCrop) {
      EXPECT_LT(image.Images().Count(), 30);
      EXPECT_LT(bytes.size(), giftest::SaveBytes(original).size());
    }
  }
}

// The done-when road: 30 frames built in memory, optimized with every option, colour maps merged,
// saved; PIL and giftopnm compose every frame as the animation showed before, over the same time.
TEST(GifFrameOptimizer, OptimizedAnimationReadBackByHostDecoders) {
  TGIFImage image;
  BuildAnimation(image);
  const auto reference = Compose(image);
  const std::set<uint32_t> colors = ShownColors(image);
  giftest::WriteWorkFile("compose.py", std::vector<uint8_t>(giftest::kHostCompose,
                                                            giftest::kHostCompose + strlen(giftest::kHostCompose)));
  const std::vector<uint8_t> before = giftest::SaveBytes(image);
  giftest::WriteWorkFile("before.gif", before);

  image.OptimizeFrames(kGIFAllOptimizeOptions, gpNone, 8, gdNearest);
  image.UnifyColorMaps();
  const std::vector<uint8_t> after = giftest::SaveBytes(image);
  giftest::WriteWorkFile("after.gif", after);
  EXPECT_LT(image.Images().Count(), 30);
  EXPECT_LT(after.size(), before.size());
  for (int i = 0; i < image.Images().Count(); ++i) EXPECT_EQ(image.Images()[i].ColorMap().Count(), 0) << i;
  std::set<uint32_t> merged;
  for (const TGIFColor& c : image.GlobalColorMap().Entries()) merged.insert(GIFColorValue(c.Red, c.Green, c.Blue));
  for (uint32_t c : colors) EXPECT_TRUE(merged.count(c)) << std::hex << c;
  ASSERT_NE(image.Images()[0].Extensions().size(), 0u);
  int loops = 0;
  for (const auto& e : image.Images()[0].Extensions()) loops += dynamic_cast<TGIFAppExtNSLoop*>(e.get()) != nullptr;
  EXPECT_EQ(loops, 1);

  // Before optimizing too, so the reference composition is checked against the decoders' own.
  for (const char* name : {"before.gif", "after.gif"}) {
    SCOPED_TRACE(name);
    std::string out;
    ASSERT_EQ(tq::RunHost(std::string("/usr/bin/python3 compose.py ") + name, &out), 0) << out;
    const auto pil = giftest::ReadComposed("pil.bin", kW, kH);
    const auto pnm = giftest::ReadComposed("pnm.bin", kW, kH);
    EXPECT_GT(pil.size(), 1u);
    EXPECT_EQ(TimelineDifferences(pil, reference), 0u);
    EXPECT_EQ(TimelineDifferences(pnm, reference), 0u);
  }
}

// Option 4 drops a transparency no pixel shows; one in use stays.
TEST(GifFrameOptimizer, CleanupDropsUnusedTransparency) {
  TGIFImage image;
  const TGIFPalette map = {kRed, kBlue, kWhite};
  TGIFSubImage* unused = AddFrame(image, 0, 0, 2, 1, {0, 1}, map);
  Control(unused, 1, 5, 2);
  TGIFSubImage* used = AddFrame(image, 0, 0, 2, 1, {2, 1}, map);
  Control(used, 1, 5, 2);
  Optimize(image, ooCleanup);
  EXPECT_FALSE(image.Images()[0].Transparent());
  EXPECT_FALSE(image.Images()[0].GraphicControlExtension()->Transparent());
  EXPECT_TRUE(image.Images()[1].Transparent());
}

// Two identical opaque frames: merging makes the second wholly transparent through a new black entry;
// cropping then deletes it and its delay goes to the first frame, which shows all that time.
TEST(GifFrameOptimizer, IdenticalFramesMergeAndVanish) {
  auto build = [](TGIFImage& image) {
    const TGIFPalette map = {kRed, kBlue, kWhite};
    Control(AddFrame(image, 0, 0, 3, 2, {0, 1, 2, 2, 1, 0}, map), 1, 7);
    Control(AddFrame(image, 0, 0, 3, 2, {0, 1, 2, 2, 1, 0}, map), 1, 9);
  };
  TGIFImage merged;
  build(merged);
  Optimize(merged, ooMerge);
  TGIFSubImage& second = merged.Images()[1];
  ASSERT_TRUE(second.Transparent());
  EXPECT_EQ(second.ColorMap().Count(), 4);
  EXPECT_EQ(second.ColorMap().ColorAt(3), 0u);
  EXPECT_EQ(second.GraphicControlExtension()->TransparentColorIndex(), 3);
  EXPECT_EQ(second.Pixels(), std::vector<uint8_t>(6, 3));

  TGIFImage cropped;
  build(cropped);
  std::vector<std::pair<ui::TProgressStage, int>> reports;
  cropped.OnProgress = [&](ui::TObject*, ui::TProgressStage stage, uint8_t percent, bool, const RECT&,
                           const std::string& message) {
    EXPECT_EQ(message, "Optimizing...");
    reports.push_back({stage, percent});
  };
  Optimize(cropped, ooMerge | ooCrop);
  ASSERT_EQ(cropped.Images().Count(), 1);
  EXPECT_EQ(cropped.Images()[0].GraphicControlExtension()->Delay(), 16);
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.front().first, ui::psStarting);
  EXPECT_EQ(reports.back(), std::make_pair(ui::psEnding, 100));
  for (size_t i = 2; i + 1 < reports.size(); ++i) EXPECT_GE(reports[i].second, reports[i - 1].second);
}

// A frame without a local map borrows another frame's transparent index only when it does not show
// that index as a colour; otherwise black is appended to the global map.
TEST(GifFrameOptimizer, MergeBorrowsOnlyAFreeTransparentIndex) {
  TGIFImage image;
  image.GlobalColorMap().LoadFromPalette({kRed, kBlue, kWhite, {1, 2, 3}});
  Control(AddFrame(image, 0, 0, 4, 1, {3, 0, 1, 2}), 1, 5, 3);   // index 3 is transparent here
  Control(AddFrame(image, 0, 0, 4, 1, {0, 1, 2, 2}), 1, 5);      // opaque
  Control(AddFrame(image, 0, 0, 4, 1, {0, 3, 2, 1}), 1, 5);      // shows index 3 as a colour
  const auto before = Compose(image);
  Optimize(image, ooMerge);
  EXPECT_EQ(TimelineDifferences(Compose(image), before), 0u);
  EXPECT_EQ(image.GlobalColorMap().Count(), 5);
  EXPECT_EQ(image.Images()[2].GraphicControlExtension()->TransparentColorIndex(), 4);
  EXPECT_EQ(image.Images()[2].Pixels(), (std::vector<uint8_t>{4, 3, 4, 1}));
  // Frame 1 does not show index 3 and borrows frame 0's.
  EXPECT_EQ(image.Images()[1].GraphicControlExtension()->TransparentColorIndex(), 3);
  EXPECT_EQ(image.Images()[1].Pixels(), (std::vector<uint8_t>{0, 1, 2, 3}));
}

// Cropping cuts a transparent frame to its visible box and moves its origin; a frame that restores
// to the background is left whole, since its bounds are the area it clears.
TEST(GifFrameOptimizer, CropKeepsBackgroundRestoringFrames) {
  const std::vector<uint8_t> px = {3, 3, 3, 3,  //
                                   3, 0, 1, 3,  //
                                   3, 3, 2, 3};
  const TGIFPalette map = {kRed, kBlue, kWhite, {0, 0, 0}};
  for (int disposal : {1, 2, 3}) {
    SCOPED_TRACE(disposal);
    TGIFImage image;
    TGIFSubImage* f = AddFrame(image, 5, 6, 4, 3, px, map);
    Control(f, disposal, 5, 3);
    CropFrame(*f);
    if (disposal == 2) {
      EXPECT_EQ(f->Width(), 4);
      continue;
    }
    EXPECT_EQ(f->Left(), 6);
    EXPECT_EQ(f->Top(), 7);
    EXPECT_EQ(f->Width(), 2);
    EXPECT_EQ(f->Height(), 2);
    EXPECT_EQ(f->Pixels(), (std::vector<uint8_t>{0, 1, 3, 2}));
  }
}

// A restoring disposal is dropped only when the next frame is opaque, covers the whole frame and
// does not restore the previous screen itself; a smaller next frame would leave the rest showing.
TEST(GifFrameOptimizer, RestoringDisposalDroppedOnlyWhenCovered) {
  struct Case {
    int nextLeft, nextWidth, nextDisposal;
    int expected;
  };
  const Case kCases[] = {{0, 6, 1, 1}, {1, 3, 1, 2}, {0, 6, 3, 2}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.nextWidth);
    TGIFImage image;
    const TGIFPalette map = {kRed, kBlue};
    Control(AddFrame(image, 0, 0, 6, 1, std::vector<uint8_t>(6, 0), map), 2, 5);
    Control(AddFrame(image, c.nextLeft, 0, c.nextWidth, 1, std::vector<uint8_t>(size_t(c.nextWidth), 1), map),
            c.nextDisposal, 5);
    const auto before = Compose(image);
    Optimize(image, ooCleanup);
    EXPECT_EQ(image.Images()[0].GraphicControlExtension()->Disposal(), c.expected);
    EXPECT_EQ(TimelineDifferences(Compose(image), before), 0u);
  }
}

// A single frame loses comment, text, loop and unknown application extensions and a graphic
// control extension that neither makes it transparent nor waits for input.
TEST(GifFrameOptimizer, CleanupOfASingleFrame) {
  for (bool transparent : {false, true}) {
    SCOPED_TRACE(transparent);
    TGIFImage image;
    TGIFSubImage* f = AddFrame(image, 0, 0, 2, 1, {0, 1}, {kRed, kBlue});
    f->AddExtension(std::make_unique<TGIFCommentExtension>(f));
    f->AddExtension(std::make_unique<TGIFTextExtension>(f));
    f->AddExtension(std::make_unique<TGIFAppExtNSLoop>(f));
    f->AddExtension(std::make_unique<TGIFUnknownAppExtension>(f));
    Control(f, 2, 50, transparent ? 1 : -1);
    Optimize(image, ooCleanup);
    ASSERT_EQ(image.Images().Count(), 1);
    EXPECT_EQ(f->Extensions().size(), transparent ? 1u : 0u);
  }
}

// The first frame is never cropped or dropped, even wholly transparent: the screen it leaves
// uncovered would look different in different decoders. Its loop extension stays with it.
TEST(GifFrameOptimizer, FirstFrameStaysWhole) {
  TGIFImage image;
  TGIFSubImage* first = AddFrame(image, 0, 0, 3, 1, {1, 1, 1}, {kRed, kBlue});
  Control(first, 1, 5, 1);
  first->AddExtension(std::make_unique<TGIFAppExtNSLoop>(first));
  Control(AddFrame(image, 0, 0, 3, 1, {0, 1, 1}, {kRed, kBlue}), 1, 5, 1);
  Control(AddFrame(image, 0, 0, 3, 1, {1, 0, 0}, {kRed, kBlue}), 1, 5);
  Optimize(image, kGIFAllOptimizeOptions);
  ASSERT_EQ(image.Images().Count(), 3);
  EXPECT_EQ(image.Images()[0].Width(), 3);
  EXPECT_EQ(image.Images()[0].Extensions().size(), 2u);
  EXPECT_EQ(image.Images()[1].Width(), 1);  // later frames are cropped
}

// Sorting a map keeps a transparent index that no pixel shows yet, so a later merge can fill it.
TEST(GifFrameOptimizer, SortingKeepsTheTransparentEntry) {
  TGIFImage image;
  const TGIFPalette map = {kRed, kBlue, kWhite, {0, 0, 0}};
  Control(AddFrame(image, 0, 0, 3, 1, {0, 1, 2}, map), 1, 5);
  Control(AddFrame(image, 0, 0, 3, 1, {0, 1, 1}, map), 1, 5, 3);
  const auto before = Compose(image);
  Optimize(image, ooColorMap | ooMerge);
  TGIFSubImage& second = image.Images()[1];
  EXPECT_LT(second.GraphicControlExtension()->TransparentColorIndex(), second.ColorMap().Count());
  EXPECT_EQ(TimelineDifferences(Compose(image), before), 0u);
  giftest::SaveBytes(image);
}

// Sorting the global map keeps the logical screen's background colour, shown by a pixel or not.
TEST(GifFrameOptimizer, SortingKeepsTheBackgroundColour) {
  TGIFImage image;
  image.GlobalColorMap().LoadFromPalette({kRed, kWhite, kBlue});
  image.Header().Screen().BackgroundIndex = 2;
  Control(AddFrame(image, 0, 0, 3, 1, {0, 1, 1}), 1, 5);
  Optimize(image, ooColorMap);
  ASSERT_EQ(image.GlobalColorMap().Count(), 3);
  EXPECT_EQ(image.GlobalColorMap().ColorAt(0), GIFColorValue(255, 255, 255));
  EXPECT_EQ(image.BackgroundColor(), GIFColorValue(0, 0, 255));
}

// Colour reduction is not carried out; with a given palette and without clean-up it is refused
// before anything changes.
TEST(GifFrameOptimizer, ReductionWithGivenPaletteRefused) {
  TGIFImage image;
  Control(AddFrame(image, 0, 0, 2, 1, {0, 0}, {kRed, kBlue}), 1, 5);
  Control(AddFrame(image, 0, 0, 2, 1, {0, 0}, {kRed, kBlue}), 1, 5);
  EXPECT_EQ(ErrorOf([&] { image.OptimizeFrames(ooReduceColor | ooMerge | ooCrop, gpGivenPalette, 8, gdNearest); }),
            "Invalid reduction method");
  EXPECT_EQ(image.Images().Count(), 2);
  EXPECT_FALSE(image.Images()[1].Transparent());
  EXPECT_EQ(ErrorOf([&] { image.OptimizeFrames(kGIFAllOptimizeOptions, gpGivenPalette, 8, gdNearest); }), "");
  EXPECT_EQ(image.Images().Count(), 1);
}

// Damaged animations that still load are optimized and their maps merged without a crash; only the
// codec's own error may come out.
TEST(GifFrameOptimizer, DamagedAnimationsOptimizeSafely) {
  TGIFImage source;
  BuildAnimation(source);
  const std::vector<uint8_t> good = giftest::SaveBytes(source);
  std::mt19937 rng(32);
  int loaded = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes = good;
    const int changes = 1 + int(rng() % 8);
    for (int k = 0; k < changes; ++k) bytes[rng() % bytes.size()] = uint8_t(rng());
    if (round % 3 == 0) bytes.resize(13 + rng() % (bytes.size() - 13));
    TGIFImage image;
    image.WarningEvent = [](const void*, int, const std::string&) {};
    TGIFMemoryStream stream(bytes);
    try {
      image.LoadFromStream(stream);
      ++loaded;
      image.OptimizeFrames(kGIFAllOptimizeOptions, gpNone, 8, gdNearest);
      image.UnifyColorMaps();
      giftest::SaveBytes(image);
    } catch (const GIFException&) {
    }
  }
  EXPECT_GT(loaded, 100);
}
