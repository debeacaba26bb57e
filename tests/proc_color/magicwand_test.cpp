// Magic wand: the flood at tolerance 0 selects what PIL's ImageDraw.floodfill fills; the outline,
// filled again with TIEMask::FillPolygon, gives back the region with its holes filled.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "iemagicwand.h"
#include "iemask.h"

namespace {

// Random blob images of three or four colours; for each, seeds and the image PIL fills from each
// seed with a colour the image does not hold.
const char kScript[] = R"PY(
import random
from PIL import Image, ImageDraw
random.seed(9)
for n in range(6):
    w, h = random.randint(20, 60), random.randint(15, 45)
    pal = [(random.randrange(10, 256), random.randrange(10, 256), random.randrange(10, 256)) for _ in range(random.randint(2, 4))]
    im = Image.new('RGB', (w, h), pal[0])
    px = im.load()
    for _ in range(w * h // 6):  # random walks of other colours make blobs, holes and pinches
        x, y, c = random.randrange(w), random.randrange(h), random.choice(pal)
        for _ in range(random.randint(1, 12)):
            px[x, y] = c
            x = min(w - 1, max(0, x + random.choice((-1, 0, 1))))
            y = min(h - 1, max(0, y + random.choice((-1, 0, 1))))
    im.save('blob%d.ppm' % n)
    for k in range(4):
        sx, sy = random.randrange(w), random.randrange(h)
        f = im.copy()
        ImageDraw.floodfill(f, (sx, sy), (1, 2, 3))
        f.save('blob%d_%d.ppm' % (n, k))
        print(n, k, sx, sy)
)PY";

bool ReadPpm(const std::string& name, TIEBitmap& bmp) {
  std::vector<unsigned char> f;
  if (!tq::ReadFileBytes(tq::WorkFile(name), f)) return false;
  std::istringstream in(std::string(f.begin(), f.begin() + std::min<size_t>(f.size(), 40)));
  std::string magic;
  int w, h, maxval;
  in >> magic >> w >> h >> maxval;
  size_t pos = size_t(in.tellg()) + 1;
  if (magic != "P6" || f.size() < pos + size_t(w) * h * 3) return false;
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x, pos += 3) bmp.SetRGB(x, y, TIERGB{f[pos + 2], f[pos + 1], f[pos]});
  return true;
}

// The region with its holes filled: every pixel that background pixels cannot reach from outside
// the image (background connects through corners around a 4-connected region).
std::vector<uint8_t> FillHoles(const TIEMask& region, int w, int h) {
  std::vector<uint8_t> outside(size_t(w + 2) * (h + 2), 0);
  auto in = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && region.IsSelected(x, y); };
  std::vector<std::pair<int, int>> stack = {{-1, -1}};
  outside[0] = 1;
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        int nx = x + dx, ny = y + dy;
        if (nx < -1 || ny < -1 || nx > w || ny > h || in(nx, ny)) continue;
        uint8_t& o = outside[size_t(ny + 1) * (w + 2) + nx + 1];
        if (!o) { o = 1; stack.push_back({nx, ny}); }
      }
  }
  std::vector<uint8_t> filled(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) filled[size_t(y) * w + x] = !outside[size_t(y + 1) * (w + 2) + x + 1];
  return filled;
}

TEST(MagicWand, MatchesPilFloodfillAndOutlineRefills) {
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("blobs.py"), kScript, sizeof kScript - 1));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 blobs.py", &out), 0) << out;
  std::istringstream in(out);
  int n, k, sx, sy, cases = 0;
  while (in >> n >> k >> sx >> sy) {
    SCOPED_TRACE("blob" + std::to_string(n) + "_" + std::to_string(k));
    ++cases;
    TIEBitmap src, filled;
    ASSERT_TRUE(ReadPpm("blob" + std::to_string(n) + ".ppm", src));
    ASSERT_TRUE(ReadPpm("blob" + std::to_string(n) + "_" + std::to_string(k) + ".ppm", filled));
    const int w = src.GetImageWidth(), h = src.GetImageHeight();
    TIEMask mask;
    ASSERT_TRUE(mask.Allocate(w, h, 1));
    ASSERT_TRUE(IEMagicWandFill(&src, sx, sy, 255, &mask, 0, false));
    int diff = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        TIERGB p = filled.GetRGB(x, y);
        bool pil = p.r == 1 && p.g == 2 && p.b == 3;
        diff += pil != mask.IsSelected(x, y);
      }
    EXPECT_EQ(diff, 0);

    std::vector<POINT> outline = IEMagicWandOutline(&src, sx, sy, 0, false);
    ASSERT_GE(outline.size(), 8u);
    EXPECT_EQ(outline.front().x, outline.back().x);
    EXPECT_EQ(outline.front().y, outline.back().y);
    TIEMask refill;
    ASSERT_TRUE(refill.Allocate(w, h, 8));
    refill.FillPolygon(255, outline.data(), int(outline.size()));
    const std::vector<uint8_t> want = FillHoles(mask, w, h);
    diff = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) diff += bool(want[size_t(y) * w + x]) != refill.IsSelected(x, y);
    EXPECT_EQ(diff, 0);
  }
  EXPECT_EQ(cases, 24);
}

TEST(MagicWand, SmallCases) {
  TIEBitmap bmp(5, 4, ie24RGB);
  bmp.Fill(0);
  bmp.SetRGB(2, 1, TIERGB{9, 9, 9});
  bmp.SetRGB(3, 2, TIERGB{9, 9, 9});  // touches (2, 1) only at a corner

  // One pixel: eight points, each corner after the start twice.
  std::vector<POINT> pts = IEMagicWandOutline(&bmp, 2, 1, 0, false);
  const POINT want[] = {{2, 1}, {3, 1}, {3, 1}, {3, 2}, {3, 2}, {2, 2}, {2, 2}, {2, 1}};
  ASSERT_EQ(pts.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(pts[i].x, want[i].x) << i;
    EXPECT_EQ(pts[i].y, want[i].y) << i;
  }
  EXPECT_TRUE(IEMagicWandOutline(&bmp, 5, 0, 0, false).empty());
  EXPECT_TRUE(IEMagicWandOutline(&bmp, 0, -1, 0, false).empty());

  TIEMask mask;
  ASSERT_TRUE(mask.Allocate(5, 4, 8));
  EXPECT_TRUE(IEMagicWandFill(&bmp, 2, 1, 200, &mask, 0, false));
  EXPECT_EQ(mask.GetPixel(2, 1), 200);
  EXPECT_EQ(mask.GetPixel(3, 2), 0);  // diagonal only
  // Tolerance 9 joins the black background with the two pixels.
  EXPECT_TRUE(IEMagicWandFill(&bmp, 0, 0, 100, &mask, 9, false));
  EXPECT_EQ(mask.GetPixel(3, 2), 100);

  // Dilated single pixel at the corner: 2 x 2 inside the image.
  TIEBitmap one(4, 4, ie24RGB);
  one.Fill(0);
  one.SetRGB(0, 0, TIERGB{1, 1, 1});
  TIEMask d;
  ASSERT_TRUE(d.Allocate(4, 4, 1));
  EXPECT_TRUE(IEMagicWandFill(&one, 0, 0, 1, &d, 0, true));
  int set = 0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) set += d.IsSelected(x, y);
  EXPECT_EQ(set, 4);
  EXPECT_TRUE(d.IsSelected(1, 1));
  EXPECT_EQ(IEMagicWandOutline(&one, 0, 0, 0, true).size(), 8u);

  // Similar colours: every matching pixel, connected or not; the seed is checked.
  TIEMask s;
  ASSERT_TRUE(s.Allocate(5, 4, 1));
  EXPECT_FALSE(IESelectSimilarColors(&bmp, 5, 0, 1, &s, 255));
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_TRUE(IESelectSimilarColors(&bmp, 2, 1, 1, &s, 0));
  EXPECT_TRUE(s.IsSelected(3, 2));
  EXPECT_FALSE(s.IsSelected(0, 0));
  EXPECT_TRUE(IESelectSimilarColors(&bmp, 2, 1, 1, &s, 255));
  EXPECT_TRUE(s.CheckAllSet());
}

}  // namespace
