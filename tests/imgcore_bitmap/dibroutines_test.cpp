// Bit runs between 1-bit rows and the 1-to-24-bit expansion table.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "iedibroutines.h"
#include "ieutils.h"

namespace {

TEST(CopyBits, RunsKeepTheDestinationAround) {
  uint8_t dst[2] = {0xFF, 0xFF}, src[2] = {0x00, 0x00};
  IECopyBits(dst, src, 6, 0, 3, 2);
  EXPECT_EQ(dst[0], 0xFC);
  EXPECT_EQ(dst[1], 0x7F);
}

TEST(CopyBits, AgreesWithOneByOneOnEveryOffset) {
  const uint8_t src[4] = {0xA5, 0x3C, 0xF0, 0x0F};
  for (int sb = 0; sb < 9; ++sb)
    for (int db = 0; db < 9; ++db)
      for (int n = 0; n <= 16; ++n) {
        uint8_t a[4] = {0x55, 0xAA, 0x55, 0xAA}, b[4] = {0x55, 0xAA, 0x55, 0xAA};
        IECopyBits(a, src, db, sb, n, 4);
        IECopyBitsOneByOne(b, src, db, sb, n, 0);
        ASSERT_EQ(std::vector<uint8_t>(a, a + 4), std::vector<uint8_t>(b, b + 4)) << sb << " " << db << " " << n;
      }
  uint8_t c[2] = {1, 2};
  IECopyBits(c, src, -1, 0, 4, 4);
  IECopyBits(c, src, 0, 0, 0, 4);
  EXPECT_EQ(c[0], 1);
}

TEST(CopyBits, NeverReadsPastTheSource) {
  const uint8_t src[1] = {0xFF};
  uint8_t dst[4] = {};
  IECopyBits(dst, src, 0, 4, 100, 1);  // only the four bits left in the source
  EXPECT_EQ(dst[0], 0xF0);
  EXPECT_EQ(dst[1], 0);
}

TEST(ExpandTable, BytesToPixels) {
  IEProcBuildExpandTable();
  EXPECT_EQ(IEProcExpandTable[0x80][0], 255);
  EXPECT_EQ(IEProcExpandTable[0x80][3], 0);
  EXPECT_EQ(IEProcExpandTable[0x01][23], 255);
  EXPECT_EQ(IEProcExpandTable[0x01][20], 0);
}

}  // namespace

#include <cstring>

#include "iebitmap.h"
#include "iedibbitmap.h"

namespace {

TEST(DibBitmap, RowLengthsFormatsAndRowOrder) {
  TIEDibbitmap d;
  ASSERT_TRUE(d.AllocateDIB(10, 5, 24));
  EXPECT_EQ(d.GetRowLength(), 32);
  EXPECT_EQ(d.GetRowAddress(4), d.GetBits());  // row 0 is the last row in memory
  ASSERT_TRUE(d.AllocateDIB(10, 5, 1));
  EXPECT_EQ(d.GetRowLength(), 4);
  EXPECT_EQ(d.GetPixelFormat(), ie1g);
  EXPECT_FALSE(d.Allocate(10, 5, ie8g));
  EXPECT_FALSE(d.AllocateDIB(0, 5, 24));
  EXPECT_EQ(d.GetImageWidth(), 10);  // a refused size changes nothing
}

TEST(WorkBitmap, KeepsPixelsWhenUnchanged) {
  TIEWorkBitmap none(0, 10, 24);
  EXPECT_EQ(none.Bits, nullptr);
  TIEWorkBitmap w(3, 2, 24);
  ASSERT_NE(w.Bits, nullptr);
  EXPECT_EQ(w.RowLength, 12);
  w.GetRowAddress(1)[0] = 42;
  w.Allocate(3, 2, 24);
  EXPECT_EQ(w.Bits[0], 42);
}

HGLOBAL PackAndCheck(TIEBitmap& b, int x1, int y1, int x2, int y2, BITMAPINFOHEADER& bih, std::vector<uint8_t>& block) {
  HGLOBAL h = _CopyBitmaptoDIBEx(&b, x1, y1, x2, y2, 300, 300);
  if (!h) return h;
  const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(h));
  block.assign(p, p + GlobalSize(h));
  std::memcpy(&bih, p, sizeof(bih));
  GlobalUnlock(h);
  return h;
}

TEST(PackDIB, TwentyFourBitsWholeImage) {
  TIEBitmap b(10, 10, ie24RGB);
  b.Fill(0);
  b.SetRGB(0, 9, TIERGB{1, 2, 3});  // bottom-left: the first pixel of the DIB
  BITMAPINFOHEADER bih;
  std::vector<uint8_t> block;
  HGLOBAL h = PackAndCheck(b, 0, 0, 0, 0, bih, block);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(block.size(), 44u + 32 * 10);
  EXPECT_EQ(bih.biBitCount, 24);
  EXPECT_EQ(bih.biXPelsPerMeter, 11811);
  EXPECT_EQ(block[40], 1);
  EXPECT_EQ(block[42], 3);

  // drawn back through DrawDib into a DIB section and taken into a pixel buffer
  TIEDibbitmap d;
  EXPECT_EQ(IEDrawDIBToDibbitmap(h, &d, nullptr, false), 24);
  TIEBitmap back;
  back.TakeFromDIB(&d);
  ASSERT_EQ(back.GetImageWidth(), 10);
  EXPECT_EQ(back.GetRGB(0, 9).r, 3);
  EXPECT_EQ(back.GetRGB(1, 9).r, 0);
  GlobalFree(h);
}

TEST(PackDIB, OtherFormatsAndRectangles) {
  TIEBitmap c(4, 2, ie32RGB);
  c.Fill(0x0000FF);
  BITMAPINFOHEADER bih;
  std::vector<uint8_t> block;
  HGLOBAL h = PackAndCheck(c, 0, 0, 0, 0, bih, block);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(bih.biBitCount, 24);  // packed as 24-bit
  GlobalFree(h);

  TIEBitmap one(16, 2, ie1g);
  one.Fill(0);
  one.GetRowAddress(1)[0] = 0x10;  // pixel 3 of the bottom row
  h = PackAndCheck(one, 3, 0, 11, 0, bih, block);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(bih.biWidth, 8);
  EXPECT_EQ(block[40], 0);     // colour 0 black
  EXPECT_EQ(block[44], 255);   // colour 1 white
  EXPECT_EQ(block[48], 0x80);  // the bottom row first, starting at pixel 3
  GlobalFree(h);

  TIEBitmap p(2, 1, ie8p);
  p.SetPaletteEntry(1, TIERGB{10, 20, 30});
  p.SetByte(1, 0, 1);
  h = PackAndCheck(p, 0, 0, 0, 0, bih, block);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(block[40 + 4], 10);  // entry 1 as B, G, R, 0
  EXPECT_EQ(block[40 + 6], 30);
  TIEDibbitmap d;
  EXPECT_EQ(IEDrawDIBToDibbitmap(h, &d, nullptr, false), 8);
  EXPECT_EQ(d.GetRowAddress(0)[3], 10);  // drawn as 24-bit: pixel 1 blue
  EXPECT_EQ(d.GetRowAddress(0)[5], 30);
  GlobalFree(h);
  EXPECT_EQ(_CopyBitmaptoDIBEx(&p, 5, 0, 9, 0, 96, 96), nullptr);  // outside the image
}

TEST(DrawDIB, BitfieldsPixelsFollowTheMasksAndBadHeadersAreRefused) {
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[3];
    WORD px[2];
  } dib = {};
  dib.h.biSize = sizeof(BITMAPINFOHEADER);
  dib.h.biWidth = 1;
  dib.h.biHeight = 1;
  dib.h.biPlanes = 1;
  dib.h.biBitCount = 16;
  dib.h.biCompression = BI_BITFIELDS;
  dib.masks[0] = 0xF800;
  dib.masks[1] = 0x07E0;
  dib.masks[2] = 0x001F;
  dib.px[0] = 0xF800;  // pure red
  TIEDibbitmap d;
  EXPECT_EQ(IEDrawDIBToDibbitmap(&dib, &d, nullptr, true), 16);
  EXPECT_GE(d.GetRowAddress(0)[2], 240);
  EXPECT_EQ(d.GetRowAddress(0)[0], 0);

  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + 16);
  auto* p = static_cast<BITMAPINFOHEADER*>(GlobalLock(h));
  *p = dib.h;
  p->biBitCount = 24;
  p->biCompression = BI_RGB;
  p->biWidth = 60000;  // far more pixels than the block holds
  p->biHeight = 60000;
  GlobalUnlock(h);
  TIEDibbitmap big;
  IEDrawDIBToDibbitmap(h, &big, nullptr, false);  // must not read past the block
  GlobalFree(h);
}

}  // namespace

namespace {

// Platform bitmaps of every depth come into the pixel buffer as the conversion rules say, and are
// copied whole.
TEST(PlatformBitmaps, AssignFromEveryDepthAndCopy) {
  struct Case { TIEPlatformPixelFormat pf; uint8_t b0, b1; TIEPixelFormat expected; TIERGB pixel0; };
  const Case kCases[] = {
      {iepf16bit, 0xFF, 0xFF, ie24RGB, TIERGB{248, 252, 248}},
      {iepf15bit, 0x00, 0x7C, ie24RGB, TIERGB{0, 0, 248}},
      {iepf24bit, 1, 2, ie24RGB, TIERGB{1, 2, 0}},
      {iepf32bit, 1, 2, ie32RGB, TIERGB{1, 2, 0}},
      {iepf4bit, 0x10, 0, ie8p, TIERGB{10, 20, 30}},  // pixel 0 = index 1
      {iepf8bit, 1, 0, ie8p, TIERGB{10, 20, 30}},
      {iepf1bit, 0x80, 0, ie1g, TIERGB{255, 255, 255}},
  };
  for (const Case& c : kCases) {
    TIEDIBSectionBitmap pb;
    ASSERT_TRUE(pb.SetPixelFormat(c.pf));
    ASSERT_TRUE(pb.SetSize(3, 2));
    RGBQUAD table[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    if (c.pf == iepf4bit || c.pf == iepf8bit) table[1] = RGBQUAD{10, 20, 30, 0};
    pb.SetColorTable(table, 2);
    pb.ScanLine(0)[0] = c.b0;
    pb.ScanLine(0)[1] = c.b1;
    TIEBitmap b;
    b.AssignTBitmap(&pb);
    ASSERT_EQ(b.GetPixelFormat(), c.expected) << int(c.pf);
    TIERGB p = b.GetPixelRGB(0, 0);
    EXPECT_EQ(p.b, c.pixel0.b) << int(c.pf);
    EXPECT_EQ(p.g, c.pixel0.g) << int(c.pf);
    EXPECT_EQ(p.r, c.pixel0.r) << int(c.pf);
    EXPECT_EQ(pb.GetPixelFormat(), c.pf);  // the source keeps its format

    auto clone = IECloneTBitmap(&pb);
    ASSERT_EQ(clone->GetWidth(), 3);
    EXPECT_EQ(clone->GetPixelFormat(), c.pf);
    EXPECT_EQ(clone->ScanLine(0)[0], c.b0);
  }
  TIEDIBSectionBitmap two;  // a two-colour bitmap that is not black and white becomes a palette image
  two.SetPixelFormat(iepf1bit);
  two.SetSize(8, 1);
  RGBQUAD rg[2] = {{0, 0, 255, 0}, {0, 255, 0, 0}};
  two.SetColorTable(rg, 2);
  two.ScanLine(0)[0] = 0x40;
  TIEBitmap b;
  b.AssignTBitmap(&two);
  ASSERT_EQ(b.GetPixelFormat(), ie8p);
  EXPECT_EQ(b.GetByte(1, 0), 1);
  EXPECT_EQ(b.GetPixelRGB(0, 0).r, 255);
  EXPECT_EQ(b.GetPixelRGB(1, 0).g, 255);
}

}  // namespace

namespace {

std::string ReadAll(const char* name) {
  std::string s;
  if (FILE* f = std::fopen(name, "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
  }
  return s;
}

TEST(DebugLog, SilentWithoutANameAndOneLinePerStepWithOne) {
  DeleteFileA("dib.log");
  TIEBitmap b(4, 2, ie24RGB);
  IEDebugLogFileName.clear();
  HGLOBAL h = _CopyBitmaptoDIBEx(&b, 0, 0, 0, 0, 96, 96);
  ASSERT_NE(h, nullptr);
  GlobalFree(h);
  EXPECT_EQ(GetFileAttributesA("dib.log"), INVALID_FILE_ATTRIBUTES) << "no name: no file";

  IEDebugLogFileName = "dib.log";
  TIEBitmap cmyk(3, 1, ieCMYK);
  h = _CopyBitmaptoDIBEx(&cmyk, 0, 0, 0, 0, 96, 96);
  ASSERT_NE(h, nullptr);
  GlobalFree(h);
  IEDebugLogClose();
  IEDebugLogFileName.clear();
  const std::string log = ReadAll("dib.log");
  const char* steps[] = {"_CopyBitmaptoDIBEx: begin\r\n",
                         "_CopyBitmaptoDIBEx: not supported pixel format, converting to 24bit and recurse\r\n",
                         "_CopyBitmaptoDIBEx: begin\r\n", "_CopyBitmaptoDIBEx: allocate 56 bytes\r\n",
                         "_CopyBitmaptoDIBEx: ie24RGB\r\n"};
  size_t at = 0;
  for (const char* s : steps) {
    const size_t found = log.find(std::string(" : ") + s, at);
    ASSERT_NE(found, std::string::npos) << s << " in\n" << log;
    at = found + 1;
  }
  int lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 5);
  // each line starts with the date and time, then " : "
  EXPECT_NE(log.find(':'), 0u);
  IEDebugLogWrite("nothing");  // the name is empty again: nothing is written, nothing raised
  EXPECT_EQ(ReadAll("dib.log"), log);
}

}  // namespace
