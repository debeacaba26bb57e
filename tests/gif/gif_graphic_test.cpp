// The GIF image as a graphic of the user-interface library: a drawn 24-bit bitmap converted the way
// the slide converter does it and read back by the host's decoders; a host-made GIF loaded through
// the picture's file-format registry and drawn onto a bitmap's canvas.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gifgraphic.h"
#include "gifimage.h"
#include "giftesthelp.h"
#include "hostenv.h"
#include "uibitmap.h"
#include "uiclipbrd.h"
#include "uipicture.h"

namespace {

struct Rgb {
  int r, g, b;
};

// Pixels of a binary PPM (maxval 255) written by a host tool; empty when it is not one.
std::vector<Rgb> ReadPpm(const std::string& name, int& w, int& h) {
  std::vector<uint8_t> bytes = giftest::ReadWorkFile(name);
  std::string text(bytes.begin(), bytes.end());
  std::vector<Rgb> out;
  size_t pos = 0;
  auto token = [&]() {
    while (pos < text.size() && (isspace(uint8_t(text[pos])) || text[pos] == '#')) {
      if (text[pos] == '#') while (pos < text.size() && text[pos] != '\n') ++pos;
      else ++pos;
    }
    size_t start = pos;
    while (pos < text.size() && !isspace(uint8_t(text[pos]))) ++pos;
    return text.substr(start, pos - start);
  };
  if (token() != "P6") return out;
  w = std::atoi(token().c_str());
  h = std::atoi(token().c_str());
  if (token() != "255" || w <= 0 || h <= 0) return out;
  ++pos;  // the single white space before the pixels
  if (text.size() - pos < size_t(w) * size_t(h) * 3) return out;
  for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
    out.push_back({uint8_t(text[pos + 3 * i]), uint8_t(text[pos + 3 * i + 1]), uint8_t(text[pos + 3 * i + 2])});
  return out;
}

Rgb BitmapPixel(ui::TBitmap& bmp, int x, int y) {
  const auto* p = static_cast<const uint8_t*>(bmp.ScanLine(y)) + 3 * x;
  return {p[2], p[1], p[0]};
}

// Mean absolute difference per channel between a 24-bit bitmap and decoded pixels of its size.
double MeanError(ui::TBitmap& bmp, const std::vector<Rgb>& px) {
  double sum = 0;
  for (int y = 0; y < bmp.GetHeight(); ++y)
    for (int x = 0; x < bmp.GetWidth(); ++x) {
      Rgb a = BitmapPixel(bmp, x, y), b = px[size_t(y) * size_t(bmp.GetWidth()) + size_t(x)];
      sum += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
    }
  return sum / (3.0 * bmp.GetWidth() * bmp.GetHeight());
}

void Fill(ui::TCanvas* c, ui::TColor color) {
  c->Brush()->SetColor(color);
  c->Pen()->SetColor(color);
}

// A slide-like picture: a gradient band (more colours than a map holds) under flat shapes.
void DrawShapes(ui::TBitmap& bmp) {
  bmp.SetPixelFormat(ui::pf24bit);
  bmp.SetSize(640, 480);
  ui::TCanvas* c = bmp.Canvas();
  for (int x = 0; x < 640; ++x) {
    c->Pen()->SetColor(RGB(x * 255 / 639, 128, 255 - x * 255 / 639));
    c->MoveTo(x, 0);
    c->LineTo(x, 120);
  }
  Fill(c, RGB(200, 30, 40));
  c->Rectangle(40, 160, 300, 440);
  Fill(c, RGB(20, 90, 210));
  c->Ellipse(340, 160, 600, 420);
  Fill(c, RGB(30, 160, 60));
  POINT tri[3] = {{320, 140}, {420, 300}, {220, 300}};
  c->Polygon(tri, 3);
}

TEST(GIFGraphic, ConvertedBitmapReadsBackInHostDecoders) {
  ui::TBitmap bmp;
  DrawShapes(bmp);
  TGIFImage gif;
  gif.PaletteMode = gpOctree;
  gif.DitherStyle = gdFloydSteinberg;
  gif.SetPaletteBits(8);
  gif.Assign(&bmp);

  ASSERT_EQ(gif.Images().Count(), 1);
  const TGIFSubImage& frame = gif.Images()[0];
  EXPECT_EQ(frame.Left(), 0);
  EXPECT_EQ(frame.Top(), 0);
  EXPECT_EQ(frame.Width(), 640);
  EXPECT_EQ(frame.Height(), 480);
  EXPECT_GT(frame.ColorMap().Count(), 0);
  EXPECT_LE(frame.ColorMap().Count(), 256);
  EXPECT_EQ(gif.GlobalColorMap().Count(), 0);
  EXPECT_EQ(gif.GetWidth(), 640);
  EXPECT_EQ(gif.GetHeight(), 480);

  gif.SaveToFile(tq::WorkFile("road.gif"));  // the graphic's own file saving, through a stream
  std::vector<uint8_t> bytes = giftest::ReadWorkFile("road.gif");
  ASSERT_GT(bytes.size(), 13u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF87a");
  EXPECT_EQ(bytes[10] & 0x80, 0) << "no global colour map";

  ASSERT_EQ(tq::RunHost("/usr/bin/giftopnm road.gif > road_netpbm.ppm"), 0);
  int w = 0, h = 0;
  std::vector<Rgb> netpbm = ReadPpm("road_netpbm.ppm", w, h);
  ASSERT_EQ(w, 640);
  ASSERT_EQ(h, 480);
  ASSERT_FALSE(netpbm.empty());
  EXPECT_LT(MeanError(bmp, netpbm), 4.0);
  // The flat shapes need few colours: their centres come back exact or nearly so.
  for (POINT p : std::vector<POINT>{{170, 300}, {470, 290}, {320, 260}}) {
    Rgb a = BitmapPixel(bmp, p.x, p.y), b = netpbm[size_t(p.y) * 640 + size_t(p.x)];
    EXPECT_LE(std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b), 6) << p.x << "," << p.y;
  }

  std::string out;
  ASSERT_EQ(giftest::RunPython("from PIL import Image\n"
                               "im = Image.open('road.gif')\n"
                               "print(im.size[0], im.size[1], getattr(im, 'n_frames', 1))\n"
                               "rgb = im.convert('RGB')\n"
                               "open('road_pil.ppm', 'wb').write(b'P6 640 480 255\\n' + rgb.tobytes())\n",
                               &out),
            0);
  EXPECT_NE(out.find("640 480 1"), std::string::npos) << out;
  std::vector<Rgb> pil = ReadPpm("road_pil.ppm", w, h);
  ASSERT_EQ(pil.size(), netpbm.size());
  EXPECT_EQ(MeanError(bmp, pil), MeanError(bmp, netpbm)) << "both decoders see the same pixels";
}

// A small picture with a few colours, made into a GIF by netpbm.
class HostGif : public ::testing::Test {
 protected:
  static constexpr int kW = 37, kH = 23;
  static Rgb Color(int x, int y) { return {(x / 8) * 60, (y / 6) * 70, ((x + y) % 3) * 100}; }
  void SetUp() override {
    std::string ppm = "P6 " + std::to_string(kW) + " " + std::to_string(kH) + " 255\n";
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        Rgb c = Color(x, y);
        ppm += char(c.r);
        ppm += char(c.g);
        ppm += char(c.b);
      }
    giftest::WriteWorkFile("host.ppm", std::vector<uint8_t>(ppm.begin(), ppm.end()));
    ASSERT_EQ(tq::RunHost("/usr/bin/ppmtogif host.ppm > host.gif 2>/dev/null"), 0);
  }
  void ExpectPicture(ui::TBitmap& bmp, int dx, int dy) {
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        Rgb want = Color(x, y), got = BitmapPixel(bmp, x + dx, y + dy);
        ASSERT_TRUE(want.r == got.r && want.g == got.g && want.b == got.b) << x << "," << y;
      }
  }
};

TEST_F(HostGif, PictureLoadsThroughTheFileFormatRegistry) {
  ui::TPicture picture;
  picture.LoadFromFile(tq::WorkFile("host.gif"));
  auto* gif = ui::As<TGIFImage>(picture.GetGraphic());
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(gif->GetWidth(), kW);
  EXPECT_EQ(gif->GetHeight(), kH);
  EXPECT_EQ(gif->Images().Count(), 1);
  EXPECT_NE(ui::TPicture::GraphicFilter(nullptr).find("GIF Image (*.gif)|*.gif"), std::string::npos);

  // A picture copies the graphic into one of the same class.
  ui::TPicture copy;
  copy.Assign(&picture);
  auto* copied = ui::As<TGIFImage>(copy.GetGraphic());
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copied, gif);
  EXPECT_EQ(copied->GetWidth(), kW);
}

TEST_F(HostGif, DrawsAndAssignsTheRightPixels) {
  TGIFImage gif;
  gif.LoadFromFile(tq::WorkFile("host.gif"));
  ASSERT_EQ(gif.GetWidth(), kW);

  ui::TBitmap target;
  target.SetPixelFormat(ui::pf24bit);
  target.SetSize(kW + 10, kH + 7);
  target.Canvas()->Draw(10, 7, &gif);
  ExpectPicture(target, 10, 7);
  Rgb corner = BitmapPixel(target, 0, 0);
  EXPECT_TRUE(corner.r == 255 && corner.g == 255 && corner.b == 255) << "outside the drawing stays white";

  // Stretched to twice the size, each pixel covers two by two.
  ui::TBitmap big;
  big.SetPixelFormat(ui::pf24bit);
  big.SetSize(2 * kW, 2 * kH);
  big.Canvas()->StretchDraw(RECT{0, 0, 2 * kW, 2 * kH}, &gif);
  Rgb want = Color(20, 13), got = BitmapPixel(big, 41, 27);
  EXPECT_TRUE(want.r == got.r && want.g == got.g && want.b == got.b);

  ui::TBitmap copy;
  copy.Assign(&gif);
  ASSERT_EQ(copy.GetWidth(), kW);
  ASSERT_EQ(copy.GetHeight(), kH);
  ExpectPicture(copy, 0, 0);
}

TEST_F(HostGif, TravelsOverTheClipboardAsGifImageAndBitmap) {
  TGIFImage gif;
  gif.LoadFromFile(tq::WorkFile("host.gif"));
  ASSERT_NE(CF_GIF, 0u);
  char name[64] = {};
  GetClipboardFormatNameA(CF_GIF, name, sizeof name);
  EXPECT_STREQ(name, "GIF Image");

  ui::Clipboard()->Assign(&gif);
  ASSERT_TRUE(ui::Clipboard()->HasFormat(CF_GIF));
  ASSERT_TRUE(ui::Clipboard()->HasFormat(CF_BITMAP));

  // The clipboard's GIF bytes are a GIF that the host's decoder reads to the picture.
  ui::Clipboard()->Open();
  HANDLE block = GetClipboardData(CF_GIF);
  ASSERT_NE(block, nullptr);
  const auto* p = static_cast<const uint8_t*>(GlobalLock(block));
  std::vector<uint8_t> bytes(p, p + GlobalSize(block));
  GlobalUnlock(block);
  ui::Clipboard()->Close();
  giftest::WriteWorkFile("clip.gif", bytes);
  ASSERT_EQ(tq::RunHost("/usr/bin/giftopnm clip.gif > clip.ppm"), 0);
  int w = 0, h = 0;
  std::vector<Rgb> host = ReadPpm("clip.ppm", w, h);
  ASSERT_EQ(w, kW);
  ASSERT_EQ(h, kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      Rgb want = Color(x, y), got = host[size_t(y) * kW + size_t(x)];
      ASSERT_TRUE(want.r == got.r && want.g == got.g && want.b == got.b) << x << "," << y;
    }

  // A picture takes the first registered format, the GIF; a bitmap takes the platform bitmap.
  ui::TPicture picture;
  picture.Assign(ui::Clipboard());
  auto* fromClip = ui::As<TGIFImage>(picture.GetGraphic());
  ASSERT_NE(fromClip, nullptr);
  ui::TBitmap drawn;
  drawn.Assign(fromClip);
  ExpectPicture(drawn, 0, 0);
  ui::TBitmap bitmap;
  bitmap.Assign(ui::Clipboard());
  bitmap.SetPixelFormat(ui::pf24bit);
  ExpectPicture(bitmap, 0, 0);

  // Without a handle the clipboard's own data of the format is read; a platform bitmap becomes a frame.
  TGIFImage again;
  again.LoadFromClipboardFormat(CF_GIF, nullptr, nullptr);
  EXPECT_EQ(again.GetWidth(), kW);
  TGIFImage fromBitmap;
  fromBitmap.LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr);
  EXPECT_EQ(fromBitmap.Images().Count(), 1);
  EXPECT_EQ(fromBitmap.GetHeight(), kH);
  try {
    again.LoadFromClipboardFormat(CF_TEXT, nullptr, nullptr);
    ADD_FAILURE() << "text is no picture";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Unsupported clipboard format");
  }
}

TEST(GIFGraphic, PaletteBitmapKeepsItsColoursAndOtherClassesAreRefused) {
  // An 8-bit bitmap skips the colour reduction: the frame's map is the bitmap's colour table.
  ui::TBitmap bmp;
  bmp.SetPixelFormat(ui::pf8bit);
  bmp.SetSize(16, 4);
  for (int y = 0; y < 4; ++y) {
    auto* row = static_cast<uint8_t*>(bmp.ScanLine(y));
    for (int x = 0; x < 16; ++x) row[x] = uint8_t(x * 3 + y);
  }
  TGIFImage gif;
  gif.Assign(&bmp);
  ASSERT_EQ(gif.Images().Count(), 1);
  const RGBQUAD* table = bmp.Info()->bmiColors;
  const TGIFPalette& map = gif.Images()[0].ColorMap().Entries();
  ASSERT_GE(map.size(), size_t(48));
  for (int i : {0, 7, 47}) {
    EXPECT_EQ(map[size_t(i)].Red, table[i].rgbRed);
    EXPECT_EQ(map[size_t(i)].Blue, table[i].rgbBlue);
  }
  EXPECT_EQ(gif.Images()[0].Pixels()[size_t(2 * 16 + 5)], 5 * 3 + 2);

  ui::TFont font;
  EXPECT_THROW(gif.Assign(&font), ui::EConvertError);
  EXPECT_THROW(font.Assign(&gif), ui::EConvertError);
  EXPECT_EQ(gif.Images().Count(), 1) << "a refused copy keeps the image";
}

}  // namespace
