// The GIF object model: colour maps, frame bounds, settings, copies, transparency masks.
#include "gifextension.h"
#include "giftesthelp.h"
#include "uisysutils.h"

using giftest::WarningLog;

namespace {
const uint32_t kRed = GIFColorValue(255, 0, 0), kGreen = GIFColorValue(0, 255, 0), kBlue = GIFColorValue(0, 0, 255);

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const GIFException& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(GifColorMap, BitsOverflowAndSearch) {
  TGIFSubImage frame(nullptr);
  TGIFColorMap& map = frame.ColorMap();
  const int counts[] = {0, 1, 2, 3, 4, 5, 129, 256};
  const int bits[] = {0, 1, 1, 2, 2, 3, 8, 8};
  for (size_t i = 0; i < 8; ++i) {
    map.Clear();
    for (int k = 0; k < counts[i]; ++k) map.AppendColor(uint32_t(k));
    EXPECT_EQ(map.BitsNeeded(), bits[i]) << counts[i];
  }
  EXPECT_EQ(ErrorOf([&] { map.AppendColor(999); }), "Color table overflow");
  EXPECT_EQ(map.Count(), 256);

  map.Clear();
  map.AppendColor(kRed);
  map.AppendColor(kGreen);
  map.AppendColor(kRed);
  EXPECT_EQ(map.FindColor(kRed), 2);
  map.SetSorted(true);
  EXPECT_EQ(map.FindColor(kRed), 0);
  EXPECT_EQ(map.FindColor(kBlue), -1);
  EXPECT_EQ(ErrorOf([&] { map.RemoveColor(3); }), "Invalid color index");
}

TEST(GifColorMap, SortByUseRewritesPixels) {
  TGIFImage image;
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(0, 0, 14, 1);
  frame->ColorMap().AppendColor(kRed);
  frame->ColorMap().AppendColor(kGreen);
  frame->ColorMap().AppendColor(kBlue);
  frame->Pixels() = {0, 2, 2, 0, 2, 2, 0, 2, 2, 0, 2, 0, 2, 2};  // 0 five times, 2 nine times, 1 never
  EXPECT_TRUE(frame->ColorMap().SortByUse());
  EXPECT_EQ(frame->ColorMap().Count(), 2);
  EXPECT_TRUE(frame->ColorMap().Sorted());
  EXPECT_EQ(frame->ColorMap().ColorAt(0), kBlue);
  EXPECT_EQ(frame->ColorMap().ColorAt(1), kRed);
  EXPECT_EQ(frame->Pixels(), (std::vector<uint8_t>{1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0}));
  EXPECT_FALSE(frame->ColorMap().SortByUse());  // already in order
  EXPECT_EQ(frame->RequiredVersion(), 2);       // a sorted map needs GIF89a
}

TEST(GifColorMap, LookupOutsideTheMapWarns) {
  TGIFImage image;
  WarningLog log;
  log.Attach(image);
  EXPECT_EQ(ErrorOf([&] { image.BackgroundColor(); }), "Color table is empty");
  image.GlobalColorMap().AppendColor(kGreen);
  image.Header().Screen().BackgroundIndex = 7;
  EXPECT_EQ(image.BackgroundColor(), kGreen);
  EXPECT_TRUE(log.Has("Invalid color index"));
}

TEST(GifFrame, BoundsWidenTheImage) {
  TGIFImage image;
  image.SetWidth(50);
  image.SetHeight(20);
  WarningLog log;
  log.Attach(image);
  auto frame = std::make_unique<TGIFSubImage>(&image);
  frame->SetFrameBounds(10, 0, 100, 20);
  EXPECT_EQ(image.Width(), 110);
  EXPECT_EQ(log.messages, (std::vector<std::string>{"Image width too small for contained frames",
                                                    "Image exceeds Logical Screen size"}));
  EXPECT_EQ(frame->Pixels().size(), 2000u);
  EXPECT_EQ(ErrorOf([&] { frame->PixelRow(20); }), "Invalid pixel coordinates");
  EXPECT_EQ(ErrorOf([&] { frame->PixelAt(-1, 0); }), "Invalid pixel coordinates");
  image.AddFrame(std::move(frame));
  EXPECT_EQ(ErrorOf([&] { image.SetWidth(100); }), "Image width too small for contained frames");
  EXPECT_EQ(image.Width(), 110);
  EXPECT_EQ(ErrorOf([&] { image.SetHeight(19); }), "Image height too small for contained frames");
}

TEST(GifImage, SettingsAndCopies) {
  TGIFImage image;
  EXPECT_EQ(image.PaletteMode, gpWebSafe216);
  EXPECT_EQ(image.DitherStyle, gdNearest);
  EXPECT_EQ(image.PaletteBits(), 8);
  for (int bad : {2, 9}) EXPECT_EQ(ErrorOf([&] { image.SetPaletteBits(bad); }), "Invalid Bits Per Pixel value");
  image.SetPaletteBits(5);
  EXPECT_EQ(ErrorOf([&] { image.SetPaletteBits(9); }), "Invalid Bits Per Pixel value");
  EXPECT_EQ(image.PaletteBits(), 5);

  image.PaletteMode = gpOctree;
  image.Compression = gifRunLength;
  image.WarningEvent = [](const void*, int, const std::string&) {};
  image.Assign(giftest::Picture(9, 7, [](int x, int y) { return TGIFColor{uint8_t(x * 9), uint8_t(y), 3}; }));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(&image.Images()[0]);
  gce->SetDelay(42);
  image.Images()[0].AddExtension(std::move(gce));

  TGIFImage copy;
  copy.SetPaletteBits(7);
  copy.Assign(image);
  EXPECT_FALSE(copy.WarningEvent);
  EXPECT_EQ(copy.PaletteBits(), 7);
  EXPECT_EQ(copy.Compression, gifLZW);
  EXPECT_EQ(copy.PaletteMode, gpOctree);
  ASSERT_EQ(copy.Images().Count(), 1);
  EXPECT_EQ(copy.Images()[0].Pixels(), image.Images()[0].Pixels());
  ASSERT_NE(copy.Images()[0].GraphicControlExtension(), nullptr);
  EXPECT_EQ(copy.Images()[0].GraphicControlExtension()->Delay(), 42);
  EXPECT_EQ(copy.Width(), 9);
}

// Paletted pictures skip the colour reduction; a transparency mask adds black as a new index.
TEST(GifImage, PalettedPictureAndMask) {
  class Masked : public TGIFBitmap {
   public:
    Masked() : TGIFBitmap(4, 2, 8), mask_(8, 0) { mask_[5] = 1; }
    const uint8_t* MaskRow(int y) const override { return mask_.data() + 4 * y; }

   private:
    std::vector<uint8_t> mask_;
  } picture;
  picture.SetPalette({{9, 9, 9}, {200, 0, 0}, {0, 0, 200}});
  for (int x = 0; x < 4; ++x) {
    picture.Row(0)[x] = uint8_t(x % 3);
    picture.Row(1)[x] = 1;
  }
  TGIFImage image;
  image.PaletteMode = gpBlackWhite;  // would lose the colours if the reduction ran
  image.Assign(picture);
  TGIFSubImage& frame = image.Images()[0];
  // Sorted by use: index 1 (five pixels before the mask), 0 (two), 2 (one); black appended.
  ASSERT_EQ(frame.ColorMap().Count(), 4);
  EXPECT_EQ(frame.ColorMap().ColorAt(0), GIFColorValue(200, 0, 0));
  EXPECT_EQ(frame.ColorMap().ColorAt(3), 0u);
  EXPECT_EQ(frame.PixelAt(1, 1), 3);
  EXPECT_TRUE(frame.Transparent());
  ASSERT_NE(frame.GraphicControlExtension(), nullptr);
  EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), 3);

  WarningLog log;
  log.Attach(image);
  frame.GraphicControlExtension()->SetTransparentColorIndex(4);
  EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), 0);
  EXPECT_TRUE(log.Has("Invalid color index"));
  frame.RemoveExtension(frame.GraphicControlExtension());
  EXPECT_EQ(frame.GraphicControlExtension(), nullptr);
}

TEST(GifImage, FilesByWideName) {
  TGIFImage image;
  image.Assign(giftest::Picture(6, 4, [](int x, int y) { return TGIFColor{uint8_t(40 * x), uint8_t(60 * y), 0}; }));
  const std::string dir = tq::WorkDir() + "\\";  // ASCII: the build tree's path
  const std::wstring name(dir.begin(), dir.end());
  const std::wstring wide = name + L"caf\u00e9.gif";
  image.SaveToFile(wide);
  TGIFImage back;
  back.LoadFromFile(wide);
  ASSERT_EQ(back.Images().Count(), 1);
  EXPECT_EQ(back.Images()[0].Pixels(), image.Images()[0].Pixels());
  // Failures name the file and give the system's reason.
  EXPECT_EQ(ErrorOf([&] { back.LoadFromFile(name + L"missing.gif"); }),
            "Cannot open file \"" + dir + "missing.gif\". " + ui::SysErrorMessage(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ErrorOf([&] { image.SaveToFile(name + L"absent\\x.gif"); }),
            "Cannot create file \"" + dir + "absent\\x.gif\". " + ui::SysErrorMessage(ERROR_PATH_NOT_FOUND));
}

// A colour map becomes a platform palette of its entries, and takes colours from RGB quads and from
// the colour table of the DIB selected into a device context.
TEST(GifColorMap, PlatformPalettesAndColourTables) {
  TGIFSubImage frame(nullptr);
  TGIFColorMap& map = frame.ColorMap();
  EXPECT_EQ(map.MakePalette(), nullptr);
  const RGBQUAD quads[3] = {{30, 20, 10, 0}, {0, 0, 255, 0}, {255, 255, 255, 0}};
  map.LoadFromRGBQuads(quads, 3);
  ASSERT_EQ(map.Count(), 3);
  EXPECT_EQ(map.ColorAt(0), GIFColorValue(10, 20, 30));
  HPALETTE palette = map.MakePalette();
  ASSERT_NE(palette, nullptr);
  PALETTEENTRY entries[4] = {};
  ASSERT_EQ(GetPaletteEntries(palette, 0, 4, entries), 3u);
  EXPECT_EQ(entries[1].peRed, 255);
  EXPECT_EQ(entries[1].peBlue, 0);
  EXPECT_EQ(entries[2].peFlags, PC_NOCOLLAPSE);
  DeleteObject(palette);

  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } info = {{sizeof(BITMAPINFOHEADER), 2, 2, 1, 1, BI_RGB, 0, 0, 0, 2, 0}, {{1, 2, 3, 0}, {10, 11, 12, 0}}};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  map.LoadFromDIB(dc);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(dib);
  ASSERT_EQ(map.Count(), 2);
  EXPECT_EQ(map.ColorAt(1), GIFColorValue(12, 11, 10));
}
