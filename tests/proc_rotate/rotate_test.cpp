// Rotation and flipping checked against PIL (transpose and rotate) on files this test writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "ierotate.h"

namespace {

int PixelBytes(TIEPixelFormat f) { return IEPixelFormatBitCount[f] / 8; }
size_t PackedStride(TIEBitmap& b) {
  int pb = PixelBytes(b.GetPixelFormat());
  return pb ? size_t(b.GetImageWidth()) * pb : (size_t(b.GetImageWidth()) + 7) / 8;
}

std::vector<uint8_t> Packed(TIEBitmap& b) {
  size_t s = PackedStride(b);
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    const uint8_t* r = b.GetRowAddress(y);
    out.insert(out.end(), r, r + s);
  }
  return out;
}

void FillRandom(TIEBitmap& b, uint32_t seed) {
  std::mt19937 rng(seed);
  size_t s = PackedStride(b);
  for (int y = 0; y < b.GetImageHeight(); ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (size_t i = 0; i < s; ++i) r[i] = uint8_t(rng());
    if (b.GetPixelFormat() == ie1g && b.GetImageWidth() % 8)
      r[s - 1] &= uint8_t(0xFF << (8 - b.GetImageWidth() % 8));  // padding bits stay 0, as PIL writes them
  }
}

std::string Unix(const std::string& name) { return tq::UnixPath(tq::WorkFile(name)); }

bool WriteText(const std::string& name, const std::string& text) {
  return tq::WriteFileBytes(tq::WorkFile(name), text.data(), text.size());
}

int RunPython(const std::string& script, const std::string& args, std::string* out) {
  EXPECT_TRUE(WriteText("script.py", script));
  return tq::RunHost("/usr/bin/python3 " + tq::ShellQuote(Unix("script.py")) + " " + args, out);
}

// PIL transposes every byte plane of a packed image (or the packed 1-bit image).
const char kTransposeScript[] = R"(
import sys
from PIL import Image
ops = ['FLIP_LEFT_RIGHT', 'FLIP_TOP_BOTTOM', 'ROTATE_90', 'ROTATE_180', 'ROTATE_270']
for spec in sys.argv[1:]:
    name, w, h, pb = spec.split(':'); w, h, pb = int(w), int(h), int(pb)
    data = open(name + '.raw', 'rb').read()
    for op in ops:
        t = getattr(Image.Transpose, op)
        if pb == 0:
            res = Image.frombytes('1', (w, h), data).transpose(t).tobytes()
        else:
            planes = [Image.frombytes('L', (w, h), bytes(data[k::pb])).transpose(t).tobytes() for k in range(pb)]
            res = bytearray(len(planes[0]) * pb)
            for k in range(pb):
                res[k::pb] = planes[k]
        open(name + '_' + op + '.raw', 'wb').write(bytes(res))
)";

TEST(RotateTest, RightAnglesAndFlipsMatchPilInEveryFormat) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's PIL";
  const TIEPixelFormat formats[] = {ie1g, ie8p, ie8g, ie16g, ie24RGB, ie32f, ieCMYK, ieRGB48, ieCIELab, ie32RGB};
  const int W = 13, H = 7;
  std::string args;
  for (TIEPixelFormat f : formats) {
    TIEBitmap b(W, H, f);
    FillRandom(b, f);
    std::vector<uint8_t> p = Packed(b);
    std::string name = "fmt" + std::to_string(int(f));
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(name + ".raw"), p.data(), p.size()));
    args += " " + name + ":" + std::to_string(W) + ":" + std::to_string(H) + ":" + std::to_string(PixelBytes(f));
  }
  std::string out;
  ASSERT_EQ(RunPython(kTransposeScript, args, &out), 0) << out;

  struct Case {
    const char* op;
    void (*run)(TIEBitmap& src, TIEBitmap& dst);
  };
  const uint8_t noBg[8] = {0};
  static const uint8_t* bg = noBg;
  const Case cases[] = {
      {"FLIP_LEFT_RIGHT", [](TIEBitmap& s, TIEBitmap& d) { d.Assign(&s); IEFlip(&d, faHorizontal); }},
      {"FLIP_TOP_BOTTOM", [](TIEBitmap& s, TIEBitmap& d) { d.Assign(&s); IEFlip(&d, faVertical); }},
      {"ROTATE_90", [](TIEBitmap& s, TIEBitmap& d) { IETurnCCW(&s, &d); }},
      {"ROTATE_90", [](TIEBitmap& s, TIEBitmap& d) { IERotateNearest(&s, &d, bg, nullptr, nullptr, -270); }},
      {"ROTATE_90", [](TIEBitmap& s, TIEBitmap& d) { d.Assign(&s); IERotateBitmap(&d, false, 0, 0, 450, nullptr, nullptr); }},
      {"ROTATE_180", [](TIEBitmap& s, TIEBitmap& d) { IETurn180(&s, &d); }},
      {"ROTATE_180", [](TIEBitmap& s, TIEBitmap& d) { d.Assign(&s); IERotateBitmap(&d, true, 2, 0, -180, nullptr, nullptr); }},
      {"ROTATE_270", [](TIEBitmap& s, TIEBitmap& d) { IETurnCW(&s, &d); }},
      {"ROTATE_270", [](TIEBitmap& s, TIEBitmap& d) { d.Assign(&s); IERotateBitmap(&d, true, 1, 0, -90, nullptr, nullptr); }},
  };
  for (TIEPixelFormat f : formats) {
    TIEBitmap src(W, H, f);
    FillRandom(src, f);
    if (f == ie8p) src.SetPaletteEntry(7, TIERGB{1, 2, 3});
    std::string name = "fmt" + std::to_string(int(f));
    for (const Case& c : cases) {
      SCOPED_TRACE(name + " " + c.op);
      TIEBitmap dst;
      c.run(src, dst);
      std::vector<uint8_t> want;
      ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(name + "_" + c.op + ".raw"), want));
      EXPECT_EQ(dst.GetPixelFormat(), f);
      EXPECT_EQ(Packed(dst), want);
      if (f == ie8p) {
        EXPECT_EQ(dst.GetPaletteEntry(7).r, 3);
      }
    }
  }
}

TEST(RotateTest, FlipTurnsTheAlphaChannelAlong) {
  TIEBitmap b(3, 2, ie24RGB);
  b.GetAlphaChannel()->SetByte(0, 0, 10);
  IEFlip(&b, faHorizontal);
  EXPECT_EQ(b.GetAlphaAt(2, 0), 10);
  IEFlip(&b, faVertical);
  EXPECT_EQ(b.GetAlphaAt(2, 1), 10);
}

TEST(RotateTest, RightAngleTest) {
  EXPECT_TRUE(IEIsRightAngle(-180));
  EXPECT_TRUE(IEIsRightAngle(360));
  EXPECT_TRUE(IEIsRightAngle(0));
  EXPECT_FALSE(IEIsRightAngle(90.5));
  EXPECT_FALSE(IEIsRightAngle(45));
}

// ---- any angle ----

void WritePpm(TIEBitmap& b, const std::string& name) {
  std::string s = "P6\n" + std::to_string(b.GetImageWidth()) + " " + std::to_string(b.GetImageHeight()) + "\n255\n";
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      TIERGB p = b.GetRGB(x, y);
      s += char(p.r);
      s += char(p.g);
      s += char(p.b);
    }
  ASSERT_TRUE(WriteText(name, s));
}

// Reads a binary PPM as PIL writes it (no comments).
bool ReadPpm(const std::string& name, TIEBitmap& b) {
  std::vector<uint8_t> d;
  if (!tq::ReadFileBytes(tq::WorkFile(name), d)) return false;
  std::string head(d.begin(), d.begin() + std::min<size_t>(d.size(), 40));
  std::istringstream in(head);
  std::string magic;
  int w = 0, h = 0, maxv = 0;
  in >> magic >> w >> h >> maxv;
  size_t off = size_t(in.tellg()) + 1;
  if (magic != "P6" || w <= 0 || h <= 0 || d.size() < off + size_t(w) * h * 3) return false;
  b.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &d[off + (size_t(y) * w + x) * 3];
      b.SetRGB(x, y, TIERGB{p[2], p[1], p[0]});
    }
  return true;
}

double ShiftedDifference(TIEBitmap& a, TIEBitmap& b, int margin, int shiftX, int shiftY) {
  int w = std::min(a.GetImageWidth(), b.GetImageWidth()) - 2 * margin;
  int h = std::min(a.GetImageHeight(), b.GetImageHeight()) - 2 * margin;
  int ax = (a.GetImageWidth() - w) / 2 + shiftX, ay = (a.GetImageHeight() - h) / 2 + shiftY;
  int bx = (b.GetImageWidth() - w) / 2, by = (b.GetImageHeight() - h) / 2;
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TIERGB p = a.GetRGB(ax + x, ay + y), q = b.GetRGB(bx + x, by + y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  return sum / (3.0 * w * h);
}

// Mean absolute difference of the centred common area, less a margin around the content's rim; the
// best of the alignments within a pixel, since canvases of the methods differ by a pixel or two.
double CentredDifference(TIEBitmap& a, TIEBitmap& b, int margin, int* bestShift = nullptr) {
  double best = 1e9;
  for (int sy = -1; sy <= 1; ++sy)
    for (int sx = -1; sx <= 1; ++sx) {
      double d = ShiftedDifference(a, b, margin, sx, sy);
      if (d < best) {
        best = d;
        if (bestShift) *bestShift = sx * 10 + sy;
      }
    }
  return best;
}

// Smooth gradients with one dark block in the upper left: turning the wrong way cannot match.
void MakeScene(TIEBitmap& b) {
  b.Allocate(120, 80, ie24RGB);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) {
      bool block = x >= 15 && x < 55 && y >= 10 && y < 35;
      b.SetRGB(x, y, block ? TIERGB{40, 20, 10} : TIERGB{uint8_t(x * 2), uint8_t(y * 3), uint8_t(200 - x)});
    }
}

TEST(RotateTest, ThirtyDegreesTurnAsPilDoes) {
  if (!tq::UnderWine()) GTEST_SKIP() << "needs the host's PIL";
  TIEBitmap scene;
  MakeScene(scene);
  WritePpm(scene, "scene.ppm");
  std::string out;
  ASSERT_EQ(RunPython(R"(
from PIL import Image
im = Image.open('scene.ppm')
for name, rs in (('nearest', Image.NEAREST), ('bilinear', Image.BILINEAR), ('bicubic', Image.BICUBIC)):
    for a in (30, -30):
        im.rotate(a, resample=rs, expand=True).save('pil_%s_%d.ppm' % (name, a))
)",
                      "", &out),
            0)
      << out;
  struct Case {
    const char* name;
    bool antialias;
    int quality;
    const char* pil;
  };
  const Case cases[] = {{"nearest", false, 0, "nearest"},
                        {"shears", false, 0, "nearest"},
                        {"blended shears", true, 0, "bilinear"},
                        {"bilinear", true, 1, "bilinear"},
                        {"bicubic", true, 2, "bicubic"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap b;
    b.Assign(&scene);
    if (std::string(c.name) == "shears") ASSERT_TRUE(IERotateShear(&b, false, nullptr, nullptr, TIERGB{0, 0, 0}, 30));
    else ASSERT_TRUE(IERotateBitmap(&b, c.antialias, c.quality, 0, 30, nullptr, nullptr));
    TIEBitmap want, wrongWay;
    ASSERT_TRUE(ReadPpm(std::string("pil_") + c.pil + "_30.ppm", want));
    ASSERT_TRUE(ReadPpm(std::string("pil_") + c.pil + "_-30.ppm", wrongWay));
    EXPECT_NEAR(b.GetImageWidth(), want.GetImageWidth(), 8);
    EXPECT_NEAR(b.GetImageHeight(), want.GetImageHeight(), 8);
    int shift = 0;
    double d = CentredDifference(b, want, 12, &shift), wrong = CentredDifference(b, wrongWay, 12);
    std::printf("%s: size %dx%d vs %dx%d, diff %.2f (shift %d), wrong way %.2f\n", c.name, b.GetImageWidth(), b.GetImageHeight(), want.GetImageWidth(), want.GetImageHeight(), d, shift, wrong);
    EXPECT_LT(d, 4.0);
    EXPECT_GT(wrong, 3 * d + 10);
  }
}

// Gives an opaque alpha channel and rotates; the alpha shows where the image's inside is.
bool InsideAt(TIEBitmap& b, int x, int y, int reach) {
  for (int j = y - reach; j <= y + reach; ++j)
    for (int i = x - reach; i <= x + reach; ++i)
      if (i < 0 || j < 0 || i >= b.GetImageWidth() || j >= b.GetImageHeight() || b.GetAlphaAt(i, j) != 255)
        return false;
  return true;
}

TEST(RotateTest, FlatImageStaysFlatInsideAndOutsideIsTransparent) {
  struct Case {
    bool antialias;
    int quality;
  };
  const Case cases[] = {{false, 0}, {true, 0}, {true, 1}, {true, 2}};
  for (const Case& c : cases) {
    for (double angle : {30.0, -17.5, 123.0}) {
      SCOPED_TRACE(std::to_string(c.quality) + (c.antialias ? " aa " : " ") + std::to_string(angle));
      TIEBitmap b(61, 40, ie24RGB);
      b.Fill(0x656565);  // grey 101
      b.GetAlphaChannel();  // opaque
      ASSERT_TRUE(IERotateBitmap(&b, c.antialias, c.quality, 0xFFFFFF, angle, nullptr, nullptr));
      ASSERT_TRUE(b.AlphaPresent());
      ASSERT_EQ(b.GetAlphaChannel()->GetImageWidth(), b.GetImageWidth());
      EXPECT_EQ(b.GetAlphaAt(0, 0), 0);  // a corner of the grown canvas
      EXPECT_EQ(b.GetRGB(0, 0).g, 255);
      int inside = 0;
      for (int y = 0; y < b.GetImageHeight(); ++y)
        for (int x = 0; x < b.GetImageWidth(); ++x)
          if (InsideAt(b, x, y, 2)) {
            ++inside;
            TIERGB p = b.GetRGB(x, y);
            ASSERT_TRUE(p.r == 101 && p.g == 101 && p.b == 101) << x << "," << y << " " << int(p.g);
          }
      EXPECT_GT(inside, 61 * 40 / 2);
    }
  }
}

TEST(RotateTest, BicubicEdgeIsClampedNotReflected) {
  const int W = 100, H = 100, edge = 50;
  TIEBitmap b(W, H, ie24RGB);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) b.SetRGB(x, y, x < edge ? TIERGB{0, 0, 0} : TIERGB{255, 255, 255});
  const double a = 30 * 3.14159265358979323846 / 180;
  ASSERT_TRUE(IERotateAntialias(&b, TIERGB{128, 128, 128}, 2, nullptr, nullptr, 30));
  const double cx = (b.GetImageWidth() - 1) / 2.0, cy = (b.GetImageHeight() - 1) / 2.0;
  int dark = 0, light = 0;
  for (int j = 0; j < b.GetImageHeight(); ++j)
    for (int i = 0; i < b.GetImageWidth(); ++i) {
      // where the pixel came from (within a pixel of the exact mapping)
      double sx = (i - cx) * std::cos(a) - (j - cy) * std::sin(a) + (W - 1) / 2.0;
      double sy = (i - cx) * std::sin(a) + (j - cy) * std::cos(a) + (H - 1) / 2.0;
      if (sx < 4 || sy < 4 || sx > W - 5 || sy > H - 5) continue;
      uint8_t v = b.GetRGB(i, j).g;
      if (sx < edge - 2.5) { ++dark; ASSERT_EQ(v, 0) << i << "," << j; }
      if (sx > edge + 2.5) { ++light; ASSERT_EQ(v, 255) << i << "," << j; }
    }
  EXPECT_GT(dark, 1000);
  EXPECT_GT(light, 1000);
}

TEST(RotateTest, MethodsRefuseWhatTheyCannotDo) {
  TIEBitmap b(10, 10, ie16g);
  EXPECT_FALSE(IERotateShear(&b, true, nullptr, nullptr, TIERGB{0, 0, 0}, 30));
  TIEBitmap c(10, 10, ie24RGB);
  EXPECT_FALSE(IERotateBitmap(&c, true, 3, 0, 30, nullptr, nullptr));
  EXPECT_EQ(c.GetImageWidth(), 10);
  // other formats take the nearest path at any angle
  ASSERT_TRUE(IERotateBitmap(&b, true, 2, 0, 30, nullptr, nullptr));
  EXPECT_EQ(b.GetImageWidth(), int(std::nearbyint(10 * std::cos(0.5235987755982988) + 10 * 0.5)));
}

TEST(RotateTest, ShearTinyAngleIsIdentityAndFullTurnsReduce) {
  TIEBitmap a, b, ref;
  MakeScene(ref);
  a.Assign(&ref);
  ASSERT_TRUE(IERotateShear(&a, true, nullptr, nullptr, TIERGB{0, 0, 0}, 0.0004));
  EXPECT_EQ(Packed(a), Packed(ref));
  a.Assign(&ref);
  b.Assign(&ref);
  ASSERT_TRUE(IERotateShear(&a, true, nullptr, nullptr, TIERGB{0, 0, 0}, 450));
  ASSERT_TRUE(IERotateShear(&b, true, nullptr, nullptr, TIERGB{0, 0, 0}, 90));
  EXPECT_EQ(Packed(a), Packed(b));
  EXPECT_EQ(a.GetImageWidth(), ref.GetImageHeight());
}

TEST(RotateTest, OneBitRotationKeepsBitsAndBackground) {
  TIEBitmap b(21, 9, ie1g);
  b.Fill(255);  // white
  ASSERT_TRUE(IERotateBitmap(&b, true, 0, 0, 30, nullptr, nullptr));  // black background
  EXPECT_EQ(b.GetPixelFormat(), ie1g);
  const int cx = b.GetImageWidth() / 2, cy = b.GetImageHeight() / 2;
  EXPECT_NE(b.GetRowAddress(cy)[cx / 8] & (0x80 >> (cx % 8)), 0);
  EXPECT_EQ(b.GetRowAddress(0)[0] & 0x80, 0);
}

TEST(RotateTest, PaletteIndicesAreNeverBlended) {
  TIEBitmap b(30, 20, ie8p);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) b.SetByte(x, y, x < 15 ? 3 : 7);
  ASSERT_TRUE(IERotateShear8(&b, true, 9, nullptr, nullptr, 30));
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      int v = b.GetByte(x, y);
      ASSERT_TRUE(v == 3 || v == 7 || v == 9) << v;
    }
}

TEST(RotateTest, TemporaryFileStorageGivesTheSameResult) {
  TIEBitmap mem, file;
  MakeScene(mem);
  file.Assign(&mem);
  file.SetMemoryThreshold(0);  // every reallocation stays in a temporary file
  file.SetLocation(ieTempFile);
  ASSERT_EQ(file.GetLocation(), ieTempFile);
  for (TIEBitmap* b : {&mem, &file}) {
    ASSERT_TRUE(IERotateBitmap(b, true, 2, 0, 30, nullptr, nullptr));
    IEFlip(b, faHorizontal);
    ASSERT_TRUE(IERotateBitmap(b, true, 0, 0, -12, nullptr, nullptr));
  }
  EXPECT_EQ(file.GetLocation(), ieTempFile);
  EXPECT_EQ(Packed(file), Packed(mem));
}

TEST(RotateTest, TinyImagesAndBadAngles) {
  const int qualities[] = {-1, 0, 1, 2};  // -1: without antialias
  for (int q : qualities) {
    for (int w : {1, 2}) {
      SCOPED_TRACE(std::to_string(q) + " " + std::to_string(w));
      TIEBitmap b(w, 1, ie24RGB);
      b.Fill(0x102030);
      ASSERT_TRUE(IERotateBitmap(&b, q >= 0, std::max(q, 0), 0, 33, nullptr, nullptr));
      EXPECT_GE(b.GetImageWidth(), 1);
      EXPECT_GE(b.GetImageHeight(), 1);
    }
  }
  TIEBitmap b(5, 5, ie24RGB);
  EXPECT_FALSE(IERotateBitmap(&b, true, 2, 0, std::nan(""), nullptr, nullptr));
  EXPECT_FALSE(IERotateBitmap(&b, false, 0, 0, HUGE_VAL, nullptr, nullptr));
  EXPECT_TRUE(IERotateShear(&b, true, nullptr, nullptr, TIERGB{0, 0, 0}, 3.6e11));  // whole turns, reduced away
  EXPECT_EQ(b.GetImageWidth(), 5);
}

}  // namespace
