// Metafiles (EMF drawn with GDI, written back as EMF and WMF, hostile headers) and bitmap
// transparency (transparent colour, mask, drawing through the mask).
#include <gtest/gtest.h>

#include <cstring>

#include "hostenv.h"
#include "uimetafile.h"
#include "uipicture.h"

using namespace ui;

namespace {

uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// An EMF of 50 x 25 mm drawn with plain GDI: red left half, blue right half.
std::string WriteTestEmf() {
  std::string path = tq::WorkFile("halves.emf");
  HDC screen = GetDC(nullptr);
  const int pxW = MulDiv(5000, GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, HORZSIZE) * 100);
  const int pxH = MulDiv(2500, GetDeviceCaps(screen, VERTRES), GetDeviceCaps(screen, VERTSIZE) * 100);
  RECT frame{0, 0, 5000, 2500};
  HDC dc = CreateEnhMetaFileA(screen, path.c_str(), &frame, "test\0halves\0");
  ReleaseDC(nullptr, screen);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
  RECT left{0, 0, pxW / 2, pxH}, right{pxW / 2, 0, pxW, pxH};
  FillRect(dc, &left, red);
  FillRect(dc, &right, blue);
  DeleteObject(red);
  DeleteObject(blue);
  DeleteEnhMetaFile(CloseEnhMetaFile(dc));
  return path;
}

// Draws `g` into a white 100 x 50 bitmap; returns the colours at 1/4 and 3/4 of the width.
std::pair<COLORREF, COLORREF> Halves(TGraphic* g) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(100, 50);
  b.Canvas()->StretchDraw(RECT{0, 0, 100, 50}, g);
  return {ColorToRGB(b.Canvas()->GetPixel(25, 25)), ColorToRGB(b.Canvas()->GetPixel(75, 25))};
}

TEST(MetafileTest, EmfDrawnWithGdiLoadsDrawsAndSavesBackUnchanged) {
  std::string path = WriteTestEmf();
  TMetafile mf;
  mf.LoadFromFile(path);
  EXPECT_TRUE(mf.GetEnhanced());
  EXPECT_NEAR(5000, mf.GetMMWidth(), 30);
  EXPECT_NEAR(2500, mf.GetMMHeight(), 30);
  EXPECT_EQ(MulDiv(mf.GetMMWidth(), ScreenPixelsPerInch(), 2540), mf.GetWidth());
  EXPECT_EQ(std::make_pair(RGB(255, 0, 0), RGB(0, 0, 255)), Halves(&mf));

  std::string out = tq::WorkFile("again.emf");
  mf.SaveToFile(out);
  std::vector<unsigned char> bytes, original;
  ASSERT_TRUE(tq::ReadFileBytes(out, bytes));
  ASSERT_TRUE(tq::ReadFileBytes(path, original));
  EXPECT_EQ(original, bytes);  // the records are written as they were read
  ASSERT_GE(bytes.size(), 88u);
  EXPECT_EQ(1u, U32(bytes, 0));
  EXPECT_EQ(0x464D4520u, U32(bytes, 40));
  EXPECT_EQ(bytes.size(), U32(bytes, 48));

  // Through the picture's file-format registry, and copied.
  TPicture pic;
  pic.LoadFromFile(out);
  ASSERT_NE(nullptr, As<TMetafile>(pic.GetGraphic()));
  TMetafile copy;
  copy.Assign(pic.GetGraphic());
  EXPECT_EQ(std::make_pair(RGB(255, 0, 0), RGB(0, 0, 255)), Halves(&copy));
}

TEST(MetafileTest, WmfIsWrittenWithAPlaceableHeaderAndReadBack) {
  TMetafile mf;
  mf.LoadFromFile(WriteTestEmf());
  std::string wmf = tq::WorkFile("halves.wmf");
  mf.SaveToFile(wmf);
  EXPECT_FALSE(mf.GetEnhanced());
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(wmf, bytes));
  ASSERT_GT(bytes.size(), 40u);
  EXPECT_EQ(0x9AC6CDD7u, U32(bytes, 0));
  uint16_t check = 0;
  for (int i = 0; i < 10; ++i) check ^= uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
  EXPECT_EQ(check, uint16_t(bytes[20] | bytes[21] << 8));
  EXPECT_EQ(96, bytes[14] | bytes[15] << 8);
  // The Windows metafile header follows: disk type, 9 words, its size in words = the rest of the file.
  EXPECT_EQ(9, bytes[24] | bytes[25] << 8);
  EXPECT_EQ((bytes.size() - 22) / 2, U32(bytes, 22 + 6));

  TMetafile back;
  back.LoadFromFile(wmf);
  EXPECT_FALSE(back.GetEnhanced());
  EXPECT_EQ(96, back.GetInch());
  EXPECT_NEAR(5000, back.GetMMWidth(), 40);
  EXPECT_EQ(std::make_pair(RGB(255, 0, 0), RGB(0, 0, 255)), Halves(&back));
}

TEST(MetafileTest, HostileOrTruncatedDataIsRefusedAndKeepsThePicture) {
  TMetafile good;
  good.LoadFromFile(WriteTestEmf());
  TMemoryStream ms;
  good.SaveToStream(&ms);
  std::vector<unsigned char> emf(static_cast<size_t>(ms.GetSize()));
  memcpy(emf.data(), ms.Memory(), emf.size());

  struct Case {
    const char* what;
    std::vector<unsigned char> data;
  };
  std::vector<Case> cases;
  std::vector<unsigned char> huge = emf;
  huge[48] = 0xFF, huge[49] = 0xFF, huge[50] = 0xFF, huge[51] = 0x7F;  // claims 2 GB
  cases.push_back({"size beyond the stream", huge});
  for (size_t cut : {size_t(10), size_t(60), emf.size() / 2, emf.size() - 1})
    cases.push_back({"truncated", std::vector<unsigned char>(emf.begin(), emf.begin() + static_cast<long>(cut))});
  std::vector<unsigned char> badSum = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 100, 0, 100, 0, 96, 0, 0, 0, 0, 0, 0x12, 0x34,
                                       1, 0, 9, 0, 0, 3, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  cases.push_back({"placeable header with a wrong checksum", badSum});
  cases.push_back({"not a metafile", std::vector<unsigned char>(100, 'x')});

  for (const Case& c : cases) {
    TMetafile mf;
    mf.Assign(&good);
    TMemoryStream in;
    in.WriteBuffer(c.data.data(), static_cast<int32_t>(c.data.size()));
    in.SetPosition(0);
    EXPECT_THROW(mf.LoadFromStream(&in), EInvalidGraphic) << c.what;
    EXPECT_EQ(good.GetMMWidth(), mf.GetMMWidth()) << c.what;
    EXPECT_FALSE(mf.Empty()) << c.what;
  }
}

TEST(BitmapTransparencyTest, TransparentColourMaskAndDrawingThroughTheMask) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(4, 4);
  b.Canvas()->Brush()->SetColor(clFuchsia);
  b.Canvas()->FillRect(RECT{0, 0, 4, 4});
  b.Canvas()->SetPixel(1, 1, clLime);
  b.Canvas()->SetPixel(2, 2, clNavy);
  // tmAuto: the bottom-left pixel.
  EXPECT_EQ(tmAuto, b.GetTransparentMode());
  EXPECT_EQ(ColorToRGB(clFuchsia), ColorToRGB(b.GetTransparentColor()));

  HBITMAP mask = b.MaskHandle();
  ASSERT_NE(nullptr, mask);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, mask);
  EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 0, 0));  // transparent
  EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 1, 1));
  EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 2, 2));
  SelectObject(dc, old);
  DeleteDC(dc);

  b.SetTransparent(true);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(8, 8);
  target.Canvas()->Brush()->SetColor(clYellow);
  target.Canvas()->FillRect(RECT{0, 0, 8, 8});
  target.Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &b);  // twice the size
  EXPECT_EQ(ColorToRGB(clYellow), ColorToRGB(target.Canvas()->GetPixel(0, 0)));
  EXPECT_EQ(ColorToRGB(clYellow), ColorToRGB(target.Canvas()->GetPixel(7, 7)));
  EXPECT_EQ(ColorToRGB(clLime), ColorToRGB(target.Canvas()->GetPixel(2, 3)));
  EXPECT_EQ(ColorToRGB(clNavy), ColorToRGB(target.Canvas()->GetPixel(5, 4)));

  // A fixed colour: now the lime pixel is the transparent one; drawing on the bitmap renews the mask.
  b.SetTransparentColor(clLime);
  EXPECT_EQ(tmFixed, b.GetTransparentMode());
  b.Canvas()->SetPixel(3, 0, clLime);
  TBitmap again;
  again.Assign(&b);
  EXPECT_TRUE(again.GetTransparent());
  EXPECT_EQ(clLime, again.GetTransparentColor());
  target.Canvas()->FillRect(RECT{0, 0, 8, 8});
  target.Canvas()->StretchDraw(RECT{0, 0, 8, 8}, &again);
  EXPECT_EQ(ColorToRGB(clFuchsia), ColorToRGB(target.Canvas()->GetPixel(0, 0)));
  EXPECT_EQ(ColorToRGB(clYellow), ColorToRGB(target.Canvas()->GetPixel(2, 3)));
  EXPECT_EQ(ColorToRGB(clYellow), ColorToRGB(target.Canvas()->GetPixel(7, 0)));
  b.SetTransparentMode(tmAuto);
  EXPECT_EQ(ColorToRGB(clFuchsia), ColorToRGB(b.GetTransparentColor()));
}

}  // namespace
