// The GIF image as a graphic of the user-interface library: a drawn 24-bit bitmap converted the way
// the slide converter does it and read back by the host's decoders; a host-made GIF loaded through
// the picture's file-format registry and drawn onto a bitmap's canvas.
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gifanimtesthelp.h"
#include "gifgraphic.h"
#include "gifimage.h"
#include "gifpainter.h"
#include "hostenv.h"
#include "uibitmap.h"
#include "uiclipbrd.h"
#include "uimetafile.h"
#include "uipicture.h"
#include "uisysutils.h"

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

// --- transparency, settings, progress ---

bool SameRgb(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

ui::TBitmap* FilledBitmap(int w, int h, ui::TColor color) {
  auto* bmp = new ui::TBitmap;
  bmp->SetPixelFormat(ui::pf24bit);
  bmp->SetSize(w, h);
  bmp->Canvas()->Brush()->SetColor(color);
  bmp->Canvas()->FillRect(RECT{0, 0, w, h});
  return bmp;
}

// A 2 x 1 still image whose left pixel is the transparent colour, red; the right one is green.
void MakeTransparentStill(TGIFImage& gif) {
  TGIFSubImage* f = giftest::AddFrame(gif, 0, 0, 2, 1, {0, 1}, {{255, 0, 0}, {0, 255, 0}});
  giftest::Control(f, 0, 0, 0);
}

// Drawn with the default options a still image shows the canvas at its transparent pixels, also when
// stretched; without goTransparent its transparent colour shows.
TEST(GIFGraphic, StillImageIsDrawnThroughItsMask) {
  TGIFImage gif;
  MakeTransparentStill(gif);
  const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};
  struct Case {
    uint16_t options;
    int w, h;
    Rgb left, right;
  } cases[] = {
      {GIFDefaultDrawOptions, 2, 1, blue, green},
      {GIFDefaultDrawOptions, 6, 3, blue, green},
      {uint16_t(GIFDefaultDrawOptions & ~goTransparent), 2, 1, red, green},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.options) + " " + std::to_string(c.w));
    std::unique_ptr<ui::TBitmap> target(FilledBitmap(c.w, c.h, ui::clBlue));
    gif.DrawOptions = c.options;
    target->Canvas()->StretchDraw(RECT{0, 0, c.w, c.h}, &gif);
    GdiFlush();
    for (int y = 0; y < c.h; ++y) {
      EXPECT_TRUE(SameRgb(BitmapPixel(*target, 0, y), c.left));
      EXPECT_TRUE(SameRgb(BitmapPixel(*target, c.w / 2 - 1, y), c.left));
      EXPECT_TRUE(SameRgb(BitmapPixel(*target, c.w / 2, y), c.right));
      EXPECT_TRUE(SameRgb(BitmapPixel(*target, c.w - 1, y), c.right));
    }
  }
}

// A transparent bitmap, an icon and a metafile, assigned or added, become frames that keep their
// transparency: PIL reads the saved file with those pixels transparent and the others in their colours.
TEST(GIFGraphic, AssignedGraphicsKeepTheirTransparency) {
  // A 4 x 2 bitmap on white, transparent by its bottom-left (white) pixel.
  ui::TBitmap bitmap;
  bitmap.SetPixelFormat(ui::pf24bit);
  bitmap.SetSize(4, 2);
  bitmap.Canvas()->SetPixel(0, 0, ui::clRed);
  bitmap.Canvas()->SetPixel(1, 0, ui::clLime);
  bitmap.SetTransparent(true);

  // A 16 x 16 icon whose left half is transparent (mask set, colour black) and right half blue.
  HDC screen = GetDC(nullptr);
  HBITMAP color = CreateCompatibleBitmap(screen, 16, 16);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, color);
  RECT left = {0, 0, 8, 16}, right = {8, 0, 16, 16};
  FillRect(dc, &left, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  HBRUSH blueBrush = CreateSolidBrush(RGB(0, 0, 255));
  FillRect(dc, &right, blueBrush);
  DeleteObject(blueBrush);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  uint16_t maskRows[16];
  for (uint16_t& row : maskRows) row = 0x00FF;  // bytes FF 00: the left eight pixels set
  HBITMAP mask = CreateBitmap(16, 16, 1, 1, maskRows);
  ICONINFO info = {TRUE, 0, 0, mask, color};
  ui::TIcon icon;
  icon.SetHandle(CreateIconIndirect(&info));
  DeleteObject(mask);
  DeleteObject(color);
  ASSERT_FALSE(icon.Empty());

  // A metafile that paints a red square in the middle of its frame and nothing else.
  RECT frame = {0, 0, 1000, 1000};  // 0.01 mm
  HDC meta = CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr);
  HBRUSH redBrush = CreateSolidBrush(RGB(255, 0, 0));
  HGDIOBJ oldBrush = SelectObject(meta, redBrush);
  SelectObject(meta, GetStockObject(NULL_PEN));
  const int mmToUnits = GetDeviceCaps(meta, HORZRES) * 100 / GetDeviceCaps(meta, HORZSIZE) / 100;  // pixels per mm
  Rectangle(meta, 3 * mmToUnits, 3 * mmToUnits, 7 * mmToUnits, 7 * mmToUnits);
  SelectObject(meta, oldBrush);
  DeleteObject(redBrush);
  ui::TMetafile metafile;
  metafile.SetHandle(CloseEnhMetaFile(meta));
  ASSERT_FALSE(metafile.Empty());

  struct Case {
    const char* name;
    ui::TGraphic* graphic;
    // Points as fractions of the size, in eighths, and what PIL must see there (alpha 0 = transparent).
    struct Point {
      int x8, y8;
      int r, g, b, a;
    } points[3];
  } cases[] = {
      {"bitmap", &bitmap, {{0, 0, 255, 0, 0, 255}, {2, 0, 0, 255, 0, 255}, {7, 7, 0, 0, 0, 0}}},
      {"icon", &icon, {{1, 1, 0, 0, 0, 0}, {6, 6, 0, 0, 255, 255}, {3, 7, 0, 0, 0, 0}}},
      {"metafile", &metafile, {{4, 4, 255, 0, 0, 255}, {0, 0, 0, 0, 0, 0}, {7, 7, 0, 0, 0, 0}}},
  };
  for (bool add : {false, true})
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (add ? ", added" : ", assigned"));
    TGIFImage gif;
    if (add)
      EXPECT_EQ(gif.AddFrame(c.graphic), 0);
    else
      gif.Assign(c.graphic);
    ASSERT_EQ(gif.Images().Count(), 1);
    EXPECT_TRUE(gif.Images()[0].Transparent());
    const std::string file = std::string(c.name) + (add ? "_added" : "") + "_transparent.gif";
    gif.SaveToFile(tq::WorkFile(file));
    std::string script = "from PIL import Image\n"
                         "im = Image.open('" + file + "')\n"
                         "assert 'transparency' in im.info\n"
                         "rgba = im.convert('RGBA')\n"
                         "w, h = rgba.size\n";
    for (const auto& p : c.points)
      script += "r, g, b, a = rgba.getpixel((min(w - 1, " + std::to_string(p.x8) + " * w // 8), min(h - 1, " +
                std::to_string(p.y8) + " * h // 8)))\n"
                "print(a if a == 0 else (r, g, b, a))\n";
    std::string out;
    ASSERT_EQ(giftest::RunPython(script, &out), 0);
    std::string want;
    for (const auto& p : c.points)
      want += p.a == 0 ? "0\n"
                       : "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) + ", 255)\n";
    EXPECT_EQ(out, want);
  }
}

// A frame copied to a platform bitmap: 8 bits per pixel in the frame's colours, as PIL reads the
// bitmap's file; a transparent frame's bitmap is transparent by a colour of its own even when its
// transparent entry repeats another colour; dithered, only the cube's colours. The copy reports
// "Rendering...", and an abort from the progress handler leaves the bitmap empty.
TEST(GIFGraphic, FrameRendersToABitmap) {
  TGIFImage gif;
  gif.DrawOptions = 0;
  std::vector<uint8_t> pixels(4 * 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 4; ++x) pixels[size_t(y * 4 + x)] = uint8_t((x + y) % 4);
  TGIFSubImage* frame = giftest::AddFrame(gif, 0, 0, 4, 40, pixels, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 0}});
  giftest::Control(frame, 0, 0, 3);
  std::vector<std::string> heard;
  bool abort = false;
  gif.OnProgress = [&](ui::TObject*, ui::TProgressStage stage, uint8_t percent, bool, const RECT&,
                       const std::string& message) {
    if (message != "Rendering...") return;
    heard.push_back(std::to_string(int(stage)) + ":" + std::to_string(percent));
    if (abort && stage == ui::psRunning) ui::Abort();
  };

  ui::TBitmap bitmap;
  frame->RenderBitmap(&bitmap);
  EXPECT_EQ(heard, (std::vector<std::string>{"0:0", "1:80", "2:100"}));
  EXPECT_EQ(bitmap.GetPixelFormat(), ui::pf8bit);
  ASSERT_TRUE(bitmap.GetTransparent());
  const uint32_t key = uint32_t(ui::ColorToRGB(bitmap.GetTransparentColor()));
  EXPECT_NE(key, GIFColorValue(255, 0, 0));
  bitmap.SaveToFile(tq::WorkFile("rendered.bmp"));
  std::string out;
  ASSERT_EQ(giftest::RunPython("from PIL import Image\n"
                               "im = Image.open('rendered.bmp')\n"
                               "print(im.mode, im.size, list(im.getdata())[:8])\n"
                               "rgb = im.convert('RGB')\n"
                               "print([rgb.getpixel((x, 0)) for x in range(4)])\n",
                               &out),
            0);
  const std::string keyText = "(" + std::to_string(key & 255) + ", " + std::to_string((key >> 8) & 255) + ", " +
                              std::to_string(key >> 16) + ")";
  EXPECT_EQ(out, "P (4, 40) [0, 1, 2, 3, 1, 2, 3, 0]\n[(255, 0, 0), (0, 255, 0), (0, 0, 255), " + keyText + "]\n");

  gif.DrawOptions = goDither;
  frame->ColorMap().LoadFromPalette({{200, 10, 90}, {0, 255, 0}, {0, 0, 255}, {255, 0, 0}});
  frame->RenderBitmap(&bitmap);
  const RGBQUAD* table = bitmap.Info()->bmiColors;
  const uint32_t cubeKey = uint32_t(ui::ColorToRGB(bitmap.GetTransparentColor()));
  int offCube = 0, keyed = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 4; ++x) {
      const RGBQUAD& c = table[static_cast<const uint8_t*>(bitmap.ScanLine(y))[x]];
      if (GIFColorValue(c.rgbRed, c.rgbGreen, c.rgbBlue) == cubeKey)
        ++keyed;
      else if (c.rgbRed % 51 || c.rgbGreen % 51 || c.rgbBlue % 51)
        ++offCube;
    }
  EXPECT_EQ(offCube, 0);
  EXPECT_EQ(keyed, 40) << "exactly the transparent pixels";

  heard.clear();
  abort = true;
  frame->RenderBitmap(&bitmap);
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(heard, (std::vector<std::string>{"0:0", "1:80", "2:0"}));
}

// A picture holder hears a GIF's progress through the graphic's own event; with GIFBuildBitmapsOnLoad
// each frame read asks it to redraw.
TEST(GIFGraphic, PictureHearsTheProgressOfALoad) {
  TGIFImage gif;
  MakeTransparentStill(gif);
  gif.SaveToFile(tq::WorkFile("progress.gif"));
  for (bool build : {false, true}) {
    SCOPED_TRACE(build);
    ui::TPicture picture;
    std::vector<std::pair<ui::TProgressStage, int>> heard;
    int redraws = 0;
    picture.OnProgress = [&](ui::TObject* sender, ui::TProgressStage stage, uint8_t percent, bool redraw, const RECT&,
                             const std::string& message) {
      EXPECT_NE(ui::As<TGIFImage>(sender), nullptr);
      if (message == "Loading...") heard.push_back({stage, percent});
      if (redraw) ++redraws;
    };
    GIFBuildBitmapsOnLoad = build;
    picture.LoadFromFile(tq::WorkFile("progress.gif"));
    GIFBuildBitmapsOnLoad = false;
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard.front(), std::make_pair(ui::psStarting, 0));
    EXPECT_EQ(heard[1].first, ui::psRunning);
    EXPECT_EQ(heard.back(), std::make_pair(ui::psEnding, 100));
    EXPECT_EQ(redraws, build ? 1 : 0);
  }
}

// A copy of a GIF image takes its drawing settings and paint events, keeps its own palette bits,
// compression and animation speed, and keeps its own warning handler.
TEST(GIFGraphic, CopyTakesTheDrawingSettingsAndPaintEvents) {
  TGIFImage source;
  MakeTransparentStill(source);
  source.DrawOptions = goAsync | goTile;
  source.ThreadPriority = ui::tpLowest;
  source.DrawBackgroundColor = ui::clYellow;
  source.ForceFrame = 0;
  source.AnimationSpeed = 300;
  source.SetPaletteBits(4);
  source.Compression = gifRunLength;
  int sourcePaints = 0, sourceWarnings = 0, ownWarnings = 0;
  source.PaintEvent = ui::TNotifyEvent([&](ui::TObject*) { ++sourcePaints; });
  source.WarningEvent = [&](const void*, int, const std::string&) { ++sourceWarnings; };

  TGIFImage copy;
  copy.WarningEvent = [&](const void*, int, const std::string&) { ++ownWarnings; };
  copy.Assign(static_cast<ui::TPersistent*>(&source));
  EXPECT_EQ(copy.DrawOptions, goAsync | goTile);
  EXPECT_EQ(copy.ThreadPriority, ui::tpLowest);
  EXPECT_EQ(copy.DrawBackgroundColor, ui::clYellow);
  EXPECT_EQ(copy.ForceFrame, 0);
  EXPECT_EQ(copy.AnimationSpeed, GIFDefaultAnimationSpeed);
  EXPECT_EQ(copy.PaletteBits(), GIFDefaultPaletteBits);
  EXPECT_EQ(copy.Compression, GIFDefaultCompression);
  ASSERT_TRUE(bool(copy.PaintEvent));
  copy.PaintEvent(nullptr);
  EXPECT_EQ(sourcePaints, 1);
  copy.ReportWarning(&copy, 1, "x");
  EXPECT_EQ(ownWarnings, 1);
  EXPECT_EQ(sourceWarnings, 0);
}

// The forced frame is the one a still drawing shows; the image's palette is its global map's colours
// (the cube's when dithering), and a palette given to it is the one it hands out.
TEST(GIFGraphic, ForcedFrameAndPalette) {
  TGIFImage gif;
  gif.GlobalColorMap().AppendColor(GIFColorValue(255, 0, 0));
  gif.GlobalColorMap().AppendColor(GIFColorValue(0, 0, 255));
  giftest::AddFrame(gif, 0, 0, 2, 2, std::vector<uint8_t>(4, 0));
  giftest::AddFrame(gif, 0, 0, 2, 2, std::vector<uint8_t>(4, 1));
  gif.DrawOptions = 0;
  std::unique_ptr<ui::TBitmap> target(FilledBitmap(2, 2, ui::clWhite));
  for (int force : {-1, 1, 5}) {
    gif.ForceFrame = force;
    target->Canvas()->Draw(0, 0, &gif);
    GdiFlush();
    EXPECT_TRUE(SameRgb(BitmapPixel(*target, 1, 1), force == 1 ? Rgb{0, 0, 255} : Rgb{255, 0, 0})) << force;
  }

  PALETTEENTRY entries[256];
  HPALETTE palette = gif.GetPalette();
  ASSERT_NE(palette, nullptr);
  ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 2u);
  EXPECT_EQ(entries[1].peBlue, 255);
  EXPECT_EQ(entries[1].peFlags, PC_NOCOLLAPSE);

  gif.DrawOptions = goDither;
  gif.Clear();
  giftest::AddFrame(gif, 0, 0, 1, 1, {0}, {{1, 2, 3}});
  EXPECT_EQ(GetPaletteEntries(gif.GetPalette(), 0, 256, entries), 216u);

  LOGPALETTE given = {0x300, 1, {{9, 8, 7, 0}}};
  HPALETTE mine = CreatePalette(&given);
  gif.SetPalette(mine);
  EXPECT_EQ(gif.GetPalette(), mine);
}

// A change of the global map gives the image a palette of the new colours; a change of a frame's map
// is signalled as a change of the image. Within a change of the frames (a load) nothing is signalled.
TEST(GIFGraphic, ColourMapChangesNotify) {
  TGIFImage gif;
  gif.DrawOptions = 0;
  const uint32_t red = GIFColorValue(255, 0, 0), green = GIFColorValue(0, 255, 0), blue = GIFColorValue(0, 0, 255);
  gif.GlobalColorMap().AppendColor(red);
  TGIFSubImage* frame = giftest::AddFrame(gif, 0, 0, 3, 1, {0, 1, 1}, {{1, 2, 3}, {4, 5, 6}});
  auto paletteColors = [&] {
    PALETTEENTRY entries[256];
    const UINT n = GetPaletteEntries(gif.GetPalette(), 0, 256, entries);
    std::vector<uint32_t> colors;
    for (UINT i = 0; i < n; ++i) colors.push_back(GIFColorValue(entries[i].peRed, entries[i].peGreen, entries[i].peBlue));
    return colors;
  };
  EXPECT_EQ(paletteColors(), std::vector<uint32_t>{red});
  TGIFGlobalColorMap& global = gif.GlobalColorMap();
  TGIFLocalColorMap other(nullptr);
  other.AppendColor(blue);
  struct GlobalCase {
    const char* name;
    std::function<void()> change;
    std::vector<uint32_t> palette;
  } globalCases[] = {
      {"append", [&] { global.AppendColor(green); }, {red, green}},
      {"remove", [&] { global.RemoveColor(0); }, {green}},
      {"palette", [&] { global.LoadFromPalette({{0, 0, 255}, {255, 0, 0}}); }, {blue, red}},
      {"copy", [&] { global.Assign(other); }, {blue}},
  };
  for (const GlobalCase& c : globalCases) {
    SCOPED_TRACE(c.name);
    c.change();
    EXPECT_EQ(paletteColors(), c.palette);
  }

  int changes = 0;
  gif.OnChange = ui::TNotifyEvent([&](ui::TObject*) { ++changes; });
  TGIFLocalColorMap& local = frame->ColorMap();
  const std::function<void()> localChanges[] = {
      [&] { local.AppendColor(green); },
      [&] { local.RemoveColor(2); },
      [&] { EXPECT_TRUE(local.SortByUse()); },
      [&] { local.LoadFromPalette({{7, 7, 7}, {8, 8, 8}}); },
  };
  for (const auto& change : localChanges) {
    const int before = changes;
    change();
    EXPECT_EQ(changes, before + 1);
  }
  const std::vector<uint8_t> bytes = giftest::SaveBytes(gif);
  changes = 0;
  TGIFMemoryStream stream(bytes);
  gif.LoadFromStream(stream);
  EXPECT_EQ(changes, 0);
}

// goDither draws the 216-colour cube's colours, mixed so that a flat colour between two of them keeps
// its brightness on average; goAutoDither does so only on a paletted screen.
TEST(GIFGraphic, DitheredDrawingUsesTheColourCube) {
  TGIFImage gif;
  giftest::AddFrame(gif, 0, 0, 16, 16, std::vector<uint8_t>(256, 0), {{100, 100, 100}});
  struct Case {
    uint16_t options;
    bool dithered;
  } cases[] = {{goDither, true}, {goDither | goAutoDither, GIFScreenIsPaletted}, {0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    gif.DrawOptions = c.options;
    EXPECT_EQ(gif.DitherWanted(), c.dithered);
    std::unique_ptr<ui::TBitmap> target(FilledBitmap(16, 16, ui::clWhite));
    target->Canvas()->Draw(0, 0, &gif);
    GdiFlush();
    int sum = 0, offCube = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const Rgb p = BitmapPixel(*target, x, y);
        sum += p.g;
        if (p.r % 51 || p.g % 51 || p.b % 51) ++offCube;
      }
    if (c.dithered) {
      EXPECT_EQ(offCube, 0);
      EXPECT_NEAR(sum / 256.0, 100.0, 3.0);
    } else {
      EXPECT_EQ(offCube, 256);
    }
  }
}

// With GIFOptimizeOnStore a stored image is optimized first: a frame that repeats the one before it
// is gone from what a layout stream holds.
TEST(GIFGraphic, OptimizeOnStore) {
  for (bool optimize : {false, true}) {
    SCOPED_TRACE(optimize);
    TGIFImage gif;
    for (int i = 0; i < 2; ++i)
      giftest::Control(giftest::AddFrame(gif, 0, 0, 4, 4, std::vector<uint8_t>(16, 1), {{0, 0, 0}, {9, 99, 199}}), 1, 5);
    GIFOptimizeOnStore = optimize;
    ui::TMemoryStream stored;
    gif.WriteData(&stored);
    GIFOptimizeOnStore = false;
    giftest::WriteWorkFile("stored.gif", std::vector<uint8_t>(static_cast<const uint8_t*>(stored.Memory()),
                                                              static_cast<const uint8_t*>(stored.Memory()) + stored.GetSize()));
    std::string out;
    ASSERT_EQ(giftest::RunPython("from PIL import Image\nprint(Image.open('stored.gif').n_frames)\n", &out), 0);
    EXPECT_EQ(out, optimize ? "1\n" : "2\n");
  }
}

}  // namespace
