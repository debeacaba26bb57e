#include "ieutils.h"

#include "iebitmap.h"
#include "uiforms.h"
#include "uistdctrls.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>

TEST(IEUtils, RoundingAndClamping) {
  EXPECT_EQ(IECeil(-1.5), -1);
  EXPECT_EQ(IEFloor(-1.5), -2);
  EXPECT_EQ(IECeil(2), 2);
  EXPECT_EQ(IECeil(2.1), 3);
  EXPECT_EQ(IEFloor(2.9), 2);
  EXPECT_EQ(IERound(2.5), 2);  // halves to even
  EXPECT_EQ(IERound(3.5), 4);
  EXPECT_EQ(IERound(-2.5), -2);
  EXPECT_EQ(IERound(-3.5), -4);
  EXPECT_EQ(IERound(0.49999999999999994), 0);  // just under a half: never rounded up twice
  EXPECT_EQ(IERound(-0.5000000000000001), -1);
  EXPECT_EQ(IERound(2147483646.5), 2147483646);
  EXPECT_EQ(IERound(-2147483647.6), -2147483648);
  EXPECT_EQ(IEClamp(5, 10, 20), 10);
  EXPECT_EQ(IEClamp(25, 10, 20), 20);
  EXPECT_EQ(IEClamp(10, 10, 20), 10);
  EXPECT_EQ(IEClamp(15, 10, 20), 15);
  EXPECT_EQ(IEClampToByte(-3), 0);
  EXPECT_EQ(IEClampToByte(300), 255);
  int x1 = 10, y1 = 0, x2 = 2, y2 = 5;
  IEOrderCorners(x1, y1, x2, y2);
  EXPECT_EQ(x1, 2); EXPECT_EQ(x2, 10); EXPECT_EQ(y1, 0); EXPECT_EQ(y2, 5);
}

TEST(IEUtils, Powers) {
  EXPECT_DOUBLE_EQ(IEIntPower(2, 10), 1024);
  EXPECT_DOUBLE_EQ(IEIntPower(2, -2), 0.25);
  EXPECT_DOUBLE_EQ(IEIntPower(7, 0), 1);
  EXPECT_DOUBLE_EQ(IEPower(0, 3.5), 0);
  EXPECT_DOUBLE_EQ(IEPower(5, 0), 1);
  EXPECT_NEAR(IEPower(2, 0.5), std::sqrt(2.0), 1e-12);
  EXPECT_DOUBLE_EQ(IEPowerD(0, -1), 0);  // zero base with integral exponent
  EXPECT_DOUBLE_EQ(IEPowerD(0, 0), 1);
  EXPECT_DOUBLE_EQ(IEPowerD(4, -2), 1.0 / 16);
  EXPECT_NEAR(IEPowerD(9, 0.5), 3, 1e-12);
  EXPECT_EQ(IEColorCountFromBits(8, 3), 16777216);
}

TEST(IEUtils, BitCounts) {
  struct Case { uint32_t n; int bits; } const kCases[] = {{0, -1}, {1, 0}, {2, 1}, {3, 2}, {256, 8}, {257, 9}, {0x80000000u, 31}};
  for (const Case& c : kCases) EXPECT_EQ(IEBitsForCount(c.n), c.bits) << c.n;
  EXPECT_EQ(IEBitFieldWidth(0x07E0), 6);
  EXPECT_EQ(IEBitFieldWidth(0), 0);
  EXPECT_EQ(IEBitFieldWidth(0xFF000000u), 8);
}

TEST(IEUtils, FloatToRational) {
  struct Case { double v; int n, d; } const kCases[] = {
      {0.5, 1, 2}, {3, 3, 1}, {-0.25, -1, 4}, {0.3333333333, 1, 3}, {1e-20, 1, 999999999}, {72.0, 72, 1}, {2.75, 11, 4}};
  for (const Case& c : kCases) {
    int n = 0, d = 0;
    IEFloatToRational(n, d, c.v, 1e-6);
    EXPECT_EQ(n, c.n) << c.v;
    EXPECT_EQ(d, c.d) << c.v;
  }
  // Large and irrational values stay inside 32 bits and close to the value.
  int n = 0, d = 0;
  IEFloatToRational(n, d, 3.14159265358979, 1e-12);
  EXPECT_GT(d, 0);
  EXPECT_NEAR(double(n) / d, 3.14159265358979, 1e-9);
  IEFloatToRational(n, d, 5e12, 1e-6);
  EXPECT_EQ(n, 999999999);
  EXPECT_EQ(d, 1);
}

TEST(IEUtils, BitsAndByteOrder) {
  uint8_t row[2] = {0, 0};
  IESetRowBit(row, 0, true);
  IESetRowBit(row, 9, true);
  EXPECT_EQ(row[0], 0x80);
  EXPECT_EQ(row[1], 0x40);
  EXPECT_TRUE(IEGetRowBit(row, 9));
  EXPECT_FALSE(IEGetRowBit(row, 8));
  IESetRowBit(row, 0, false);
  EXPECT_EQ(row[0], 0);
  for (int i = 0; i < 256; ++i) {
    uint8_t r = 0;
    for (int b = 0; b < 8; ++b)
      if (i & (1 << b)) r |= uint8_t(0x80 >> b);
    ASSERT_EQ(IEReverseBitsTable[i], r) << i;
  }
  uint32_t v = 0x00000001;
  IEReverseDWordBits(v);
  EXPECT_EQ(v, 0x80000000u);
  EXPECT_EQ(IESwapWord(258), 513u);
  EXPECT_EQ(IESwapWord(0xABCD0102), 0xABCD0201u);
  EXPECT_EQ(IESwapDWord(0x11223344), 0x44332211u);
  EXPECT_EQ(IESwapDWordIf(0x11223344, false), 0x11223344u);
  uint16_t w[2] = {0x0102, 0xA0B0};
  IESwapWordArray(w, 2);
  EXPECT_EQ(w[0], 0x0201);
  EXPECT_EQ(w[1], 0xB0A0);
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(IEReadU32LE(bytes), 0x04030201u);
  EXPECT_EQ(IEReadU32BE(bytes), 0x01020304u);
}

TEST(IEUtils, RowLength) {
  struct Case { int64_t w; int bpp, align; int64_t len; } const kCases[] = {
      {3, 24, 32, 12}, {3, 1, 8, 1}, {10, 24, 16, 30}, {9, 1, 32, 4}, {0, 24, 32, 0}, {100000, 48, 8, 600000},
      {5, 8, 0, -1}, {5, 8, 12, -1}};
  for (const Case& c : kCases) EXPECT_EQ(IERowLength(c.w, c.bpp, c.align), c.len) << c.w << " " << c.bpp << " " << c.align;
}

TEST(IEUtils, Colours) {
  EXPECT_EQ(IERGBToGray(IEMakeRGB(255, 255, 255)), 255);
  EXPECT_EQ(IERGBToGray(IEMakeRGB(100, 0, 0)), 21);
  EXPECT_EQ(IERGBToGray(IEMakeRGB(10, 20, 30)), (10 * 21 + 20 * 71 + 30 * 8) / 100);
  EXPECT_EQ(IERGBToColor(IEMakeRGB(1, 2, 3)), 0x030201);
  TIERGB c = IEColorToRGB(0x030201);
  EXPECT_EQ(c.r, 1); EXPECT_EQ(c.g, 2); EXPECT_EQ(c.b, 3);
  TIERGB sys = IEColorToRGB(TColor(0x80000000u | COLOR_WINDOW));
  EXPECT_EQ(IERGBToColor(sys), TColor(GetSysColor(COLOR_WINDOW)));
  EXPECT_EQ(IEColorToRGBA(0x030201, 0x80), 0x80010203u);
  uint8_t px[6] = {1, 2, 3, 4, 5, 6}, out[6];
  IECopySwapRB(out, px, 2);
  EXPECT_EQ(out[0], 3); EXPECT_EQ(out[2], 1); EXPECT_EQ(out[3], 6); EXPECT_EQ(out[5], 4);
  IESwapRowRB(px, 2);
  EXPECT_EQ(0, memcmp(px, out, 6));
  uint16_t px48[3] = {10, 20, 30};
  IESwapRow48RB(px48, 1);
  EXPECT_EQ(px48[0], 30); EXPECT_EQ(px48[2], 10);
  TIERGB y;
  IEYCbCrToRGB(y, 128, 128, 128);
  EXPECT_EQ(y.r, 128); EXPECT_EQ(y.g, 128); EXPECT_EQ(y.b, 128);
  IEYCbCrToRGB(y, 255, 255, 255);
  EXPECT_EQ(y.r, 255); EXPECT_EQ(y.b, 255);
  EXPECT_EQ(y.g, 120);  // Trunc(255 - 0.34414 x 127 - 0.71414 x 127) = Trunc(120.6)
}

TEST(IEUtils, CIELab) {
  TIECIELab lab;
  IERGBToCIELab(lab, IEMakeRGB(255, 255, 255));
  EXPECT_EQ(lab.l, 250);  // L* 100 stored as 100 x 2.5
  EXPECT_EQ(lab.a, 0);
  EXPECT_EQ(lab.b, 0);
  IERGBToCIELab(lab, IEMakeRGB(0, 0, 0));
  EXPECT_EQ(lab.l, 0);
  IERGBToCIELab(lab, IEMakeRGB(255, 0, 0));
  EXPECT_GT(lab.a, 70);  // red: strongly positive a*
  TIERGB back;
  TIECIELab white = {250, 0, 0};
  IECIELabToRGB(back, white);  // read back as L* 98.04: the two scales differ
  EXPECT_LT(back.r, 255);
  EXPECT_GT(back.r, 245);
  EXPECT_EQ(back.r, back.g);
  TIECIELab black = {0, 0, 0};
  IECIELabToRGB(back, black);
  EXPECT_EQ(back.r, 0);
}

TEST(IEUtils, AutoAlloc) {
  void* small = IEAutoAlloc(1000);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(IEAutoAllocOrigin(small), 0);
  memset(small, 0xAB, 1003);  // the block holds size + 3 bytes behind the returned address
  IEAutoFree(small);
  void* big = IEAutoAlloc(2 * 1024 * 1024);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(IEAutoAllocOrigin(big), 1);
  EXPECT_EQ(static_cast<uint8_t*>(big)[12345], 0);  // global memory comes zero-filled
  EXPECT_GE(GlobalSize(static_cast<uint8_t*>(big) - 1), SIZE_T(2 * 1024 * 1024 + 4));
  IEAutoFree(big);
  EXPECT_EQ(IEAutoAlloc(~uint64_t(0)), nullptr);
  void* p = nullptr;
  EXPECT_TRUE(IETryGetMem(p, 16));
  free(p);
  void* g = IEGlobalAllocZero(64);
  ASSERT_NE(g, nullptr);
  IEGlobalFreeAndNil(g);
  EXPECT_EQ(g, nullptr);
}

TEST(IEUtils, GrayscaleDIBPalette) {
  struct { BITMAPINFOHEADER h; RGBQUAD colors[256]; } bi = {};
  bi.h.biSize = sizeof(bi.h);
  bi.h.biWidth = 4;
  bi.h.biHeight = 4;
  bi.h.biPlanes = 1;
  bi.h.biBitCount = 8;
  bi.h.biClrUsed = 256;
  for (int i = 0; i < 256; ++i) bi.colors[i].rgbRed = uint8_t(255 - i);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  EXPECT_FALSE(IEIsGrayscaleDIBPalette(dib));
  IESetGrayscaleDIBPalette(dib);
  EXPECT_TRUE(IEIsGrayscaleDIBPalette(dib));
  DeleteObject(dib);
  bi.h.biBitCount = 24;  // no colour table: counts as grey
  bi.h.biClrUsed = 0;
  dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  EXPECT_TRUE(IEIsGrayscaleDIBPalette(dib));
  DeleteObject(dib);
}

TEST(IEUtils, PlatformPixelFormats) {
  struct Case { ui::TPixelFormat pf; int bits; TIEPixelFormat ie; int64_t row10; };
  const Case cases[] = {
      {ui::pf1bit, 1, ie1g, 4},     {ui::pf4bit, 4, ie8p, 8},      {ui::pf8bit, 8, ie8p, 12},
      {ui::pf15bit, 15, ie24RGB, 20}, {ui::pf16bit, 16, ie24RGB, 20}, {ui::pf24bit, 24, ie24RGB, 32},
      {ui::pf32bit, 32, ie24RGB, 40}, {ui::pfDevice, 0, ie24RGB, 0},  {ui::pfCustom, 0, ie24RGB, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.pf));
    EXPECT_EQ(IEBitmapFormatBitCount(c.pf), c.bits);
    EXPECT_EQ(IEBitmapFormatToIE(c.pf), c.ie);
    EXPECT_EQ(IEBitmapFormatRowLength(10, c.pf), c.row10);
  }
  // Row lengths beyond 32 bits of width x bits stay exact.
  EXPECT_EQ(IEBitmapFormatRowLength(int64_t(1) << 31, ui::pf32bit), (int64_t(1) << 31) * 4);
}

TEST(IEUtils, CopyDIBPaletteToBitmap) {
  ui::TBitmap platform;
  platform.SetPixelFormat(ui::pf8bit);
  platform.SetSize(4, 4);
  RGBQUAD table[256];
  for (int i = 0; i < 256; ++i) table[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x55), 0};
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, platform.GetHandle());
  ASSERT_EQ(SetDIBColorTable(dc, 0, 256, table), 256u);
  SelectObject(dc, old);
  DeleteDC(dc);

  TIEBitmap paletted;
  ASSERT_TRUE(paletted.Allocate(4, 4, ie8p));
  IECopyDIBPaletteToBitmap(&platform, &paletted);
  for (int i : {0, 1, 128, 255}) {
    TIERGB c = paletted.GetPaletteEntry(i);
    EXPECT_EQ(c.b, uint8_t(i)); EXPECT_EQ(c.g, uint8_t(255 - i)); EXPECT_EQ(c.r, uint8_t(i ^ 0x55));
  }

  // Other pairings leave the destination as it was; nulls are ignored.
  TIEBitmap rgb;
  ASSERT_TRUE(rgb.Allocate(4, 4, ie24RGB));
  IECopyDIBPaletteToBitmap(&platform, &rgb);
  EXPECT_EQ(rgb.GetPixelFormat(), ie24RGB);
  ui::TBitmap truecolour;
  truecolour.SetPixelFormat(ui::pf24bit);
  truecolour.SetSize(4, 4);
  paletted.SetPaletteEntry(7, IEMakeRGB(1, 2, 3));
  IECopyDIBPaletteToBitmap(&truecolour, &paletted);
  EXPECT_TRUE(IESameRGB(paletted.GetPaletteEntry(7), IEMakeRGB(1, 2, 3)));
  IECopyDIBPaletteToBitmap(nullptr, &paletted);
  IECopyDIBPaletteToBitmap(&platform, nullptr);
}

TEST(IEUtils, FindOwnerWindow) {
  EXPECT_EQ(IEFindOwnerWindow(nullptr), nullptr);
  ui::TForm* form = ui::TCustomForm::CreateNew<ui::TForm>(nullptr);
  ui::TLabel* label = ui::New<ui::TLabel>(form);
  ui::TComponent* loose = ui::New<ui::TComponent>(nullptr);
  EXPECT_EQ(IEFindOwnerWindow(loose), nullptr);   // no windowed control in the chain
  EXPECT_EQ(IEFindOwnerWindow(label), nullptr);   // the form's window does not exist yet
  EXPECT_FALSE(form->HandleAllocated());          // and asking did not create it
  HWND h = form->GetHandle();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(IEFindOwnerWindow(label), h);
  EXPECT_EQ(IEFindOwnerWindow(form), h);
  loose->Free();
  form->Free();
}

TEST(IEUtils, CopyList) {
  int a = 0, b = 0, c = 0;
  ui::TList src, dst;
  src.Add(&a); src.Add(&b); src.Add(nullptr); src.Add(&a);
  dst.Add(&c); dst.Add(&c); dst.Add(&c); dst.Add(&c); dst.Add(&c);
  IECopyList(src, dst);
  ASSERT_EQ(dst.Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dst.Get(i), src.Get(i));
  IECopyList(src, src);  // copying onto itself keeps the items
  EXPECT_EQ(src.Count(), 4);
  ui::TList empty;
  IECopyList(empty, dst);
  EXPECT_EQ(dst.Count(), 0);
}
