// Bitmaps: white on creation, drawing through the canvas, 24-bit files checked by an independent
// decoder (PIL on the host), files written by another tool, damaged files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "hostenv.h"
#include "uibitmap.h"

using namespace ui;

// A page heap for one scope of one thread. While a FreedMemoryTrap lives, every block its thread
// allocates gets pages of its own in a reserved region; freeing such a block takes all access away
// from its pages and never hands them out again. A later read or write through a pointer to the
// freed object faults: the trap counts it, opens the page again and lets the access go on with the
// stale bytes (as it would without the trap), so a use after free shows up as a count, not a crash.
namespace {

constexpr size_t kTrapRegionBytes = 16 << 20;
constexpr size_t kTrapPage = 4096;
constexpr size_t kTrapHeader = 16;  // the block's page count, kept in front of it

char* trapRegion = nullptr;
size_t trapUsed = 0;
DWORD trapThread = 0;
long trapTouches = 0;

bool InTrapRegion(const void* p) {
  return trapRegion && p >= trapRegion && p < trapRegion + kTrapRegionBytes;
}

LONG CALLBACK CountFreedTouch(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD* r = e->ExceptionRecord;
  if (r->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  void* at = reinterpret_cast<void*>(r->ExceptionInformation[1]);
  if (!InTrapRegion(at)) return EXCEPTION_CONTINUE_SEARCH;
  ++trapTouches;
  DWORD old;
  VirtualProtect(at, 1, PAGE_READWRITE, &old);
  return EXCEPTION_CONTINUE_EXECUTION;
}

class FreedMemoryTrap {
 public:
  FreedMemoryTrap() {
    if (!trapRegion)
      trapRegion = static_cast<char*>(VirtualAlloc(nullptr, kTrapRegionBytes, MEM_RESERVE, PAGE_NOACCESS));
    handler_ = AddVectoredExceptionHandler(1, CountFreedTouch);
    trapTouches = 0;
    trapThread = GetCurrentThreadId();
  }
  ~FreedMemoryTrap() {
    trapThread = 0;
    RemoveVectoredExceptionHandler(handler_);
  }
  long Touches() const { return trapTouches; }

 private:
  void* handler_;
};

}  // namespace

void* operator new(size_t n) {
  if (trapThread == GetCurrentThreadId() && trapRegion) {
    const size_t bytes = (n + kTrapHeader + kTrapPage - 1) / kTrapPage * kTrapPage;
    if (bytes <= kTrapRegionBytes - trapUsed) {
      char* block = static_cast<char*>(VirtualAlloc(trapRegion + trapUsed, bytes, MEM_COMMIT, PAGE_READWRITE));
      if (block) {
        trapUsed += bytes;
        *reinterpret_cast<size_t*>(block) = bytes;
        return block + kTrapHeader;
      }
    }
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  if (!InTrapRegion(p)) {
    std::free(p);
    return;
  }
  char* block = static_cast<char*>(p) - kTrapHeader;
  DWORD old;
  VirtualProtect(block, *reinterpret_cast<size_t*>(block), PAGE_NOACCESS, &old);
}

void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

struct Rgb {
  uint8_t r, g, b;
};

Rgb PixelOf(TBitmap& b, int x, int y) {
  auto* row = static_cast<uint8_t*>(b.ScanLine(y));
  return Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};  // rows hold B, G, R
}

TEST(Bitmap, NewBitmapIsWhiteInEveryFormat) {
  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfDevice}) {
    TBitmap b;
    b.SetPixelFormat(pf);
    b.SetWidth(33);
    b.SetHeight(7);
    ASSERT_FALSE(b.Empty());
    EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(b.Canvas()->GetPixel(32, 6))) << "format " << pf;
    EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(b.Canvas()->GetPixel(0, 0))) << "format " << pf;
  }
}

TEST(Bitmap, DrawsAndSavesA24BitFileThatAnotherDecoderReadsTheSame) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetWidth(640);
  b.SetHeight(480);
  for (int y : {0, 240, 479})
    for (int x : {0, 320, 639}) {
      Rgb p = PixelOf(b, x, y);
      EXPECT_TRUE(p.r == 255 && p.g == 255 && p.b == 255) << x << "," << y;
    }
  TCanvas* c = b.Canvas();
  c->Brush()->SetColor(clRed);
  c->Pen()->SetColor(clBlue);
  c->Rectangle(10, 20, 110, 70);  // red inside, blue border
  c->Pen()->SetColor(clGreen);
  c->MoveTo(0, 479);
  c->LineTo(640, 479);
  c->SetPixel(600, 5, RGB(1, 2, 3));
  EXPECT_EQ((Rgb{255, 0, 0}).r, PixelOf(b, 50, 40).r);
  EXPECT_EQ(0, PixelOf(b, 50, 40).b);
  EXPECT_EQ(255, PixelOf(b, 10, 40).b);   // border
  EXPECT_EQ(128, PixelOf(b, 300, 479).g);  // the green line (clGreen is 0,128,0)

  std::string file = tq::WorkFile("canvas24.bmp");
  b.SaveToFile(file);
  // The host decoder turns the file into raw RGB rows, top row first.
  std::string out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; im=Image.open('canvas24.bmp'); "
                           "print(im.mode, im.size[0], im.size[1], im.info.get('compression', 0)); "
                           "open('canvas24.rgb','wb').write(im.convert('RGB').tobytes())\"",
                           &out))
      << out;
  EXPECT_EQ("RGB 640 480 0", out.substr(0, out.find_first_of("\r\n")));
  std::vector<unsigned char> raw;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("canvas24.rgb"), raw));
  ASSERT_EQ(640u * 480u * 3u, raw.size());
  int mismatches = 0;
  for (int y = 0; y < 480; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < 640; ++x) {
      const unsigned char* p = &raw[(size_t(y) * 640 + size_t(x)) * 3];
      if (p[0] != row[3 * x + 2] || p[1] != row[3 * x + 1] || p[2] != row[3 * x]) ++mismatches;
    }
  }
  EXPECT_EQ(0, mismatches);
  // The file's header says 24 bits per pixel.
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(file, bytes));
  ASSERT_GT(bytes.size(), 54u);
  EXPECT_EQ(24, bytes[28]);
}

TEST(Bitmap, ReadsFilesWrittenByAnotherTool) {
  struct Case {
    const char* mode;  // PIL mode written by the host
    TPixelFormat expect;
  };
  const Case cases[] = {{"RGB", pf24bit}, {"P", pf8bit}, {"1", pf1bit}};
  for (const Case& k : cases) {
    std::string cmd = std::string("/usr/bin/python3 -c \"from PIL import Image; im=Image.new('RGB',(37,11),(200,100,50)); "
                                  "im.putpixel((3,4),(0,0,0)); im.putpixel((36,10),(255,255,255)); "
                                  "im.convert('") + k.mode + "').save('host.bmp')\"";
    ASSERT_EQ(0, tq::RunHost(cmd)) << k.mode;
    TBitmap b;
    b.LoadFromFile(tq::WorkFile("host.bmp"));
    EXPECT_EQ(37, b.GetWidth()) << k.mode;
    EXPECT_EQ(11, b.GetHeight()) << k.mode;
    EXPECT_EQ(k.expect, b.GetPixelFormat()) << k.mode;
    EXPECT_EQ(RGB(0, 0, 0), static_cast<COLORREF>(b.Canvas()->GetPixel(3, 4))) << k.mode;
    EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(b.Canvas()->GetPixel(36, 10))) << k.mode;
    if (k.expect == pf24bit) {
      EXPECT_EQ(RGB(200, 100, 50), static_cast<COLORREF>(b.Canvas()->GetPixel(0, 0)));
    }
  }
}

TEST(Bitmap, DamagedFilesAreRefusedAndTheBitmapKept) {
  TBitmap good;
  good.SetPixelFormat(pf24bit);
  good.SetWidth(20);
  good.SetHeight(10);
  TMemoryStream full;
  good.SaveToStream(&full);
  const auto* bytes = static_cast<const uint8_t*>(full.Memory());

  TBitmap target;
  target.SetPixelFormat(pf8bit);
  target.SetWidth(3);
  target.SetHeight(3);
  for (int64_t cut = 0; cut < full.GetSize(); cut += 7) {
    TMemoryStream part;
    if (cut) part.WriteBuffer(bytes, static_cast<int32_t>(cut));
    part.SetPosition(0);
    EXPECT_THROW(target.LoadFromStream(&part), EInvalidGraphic) << "cut " << cut;
    EXPECT_EQ(3, target.GetWidth());
  }
  // A header claiming a huge picture is refused before any allocation.
  std::vector<uint8_t> hostile(bytes, bytes + full.GetSize());
  hostile[18] = 0xFF;
  hostile[19] = 0xFF;
  hostile[20] = 0xFF;
  hostile[21] = 0x7F;
  TMemoryStream h;
  h.WriteBuffer(hostile.data(), static_cast<int32_t>(hostile.size()));
  h.SetPosition(0);
  EXPECT_THROW(target.LoadFromStream(&h), EInvalidGraphic);
}

// A bitmap whose canvas holds its DIB selected (as after any drawing) lets go of the DIB through
// the living canvas, and only then frees the canvas.
TEST(Bitmap, DestroyingABitmapTouchesNoFreedMemory) {
  FreedMemoryTrap trap;
  auto* b = new TBitmap;
  b->SetPixelFormat(pf24bit);
  b->SetSize(16, 8);
  b->Canvas()->SetPixel(3, 2, RGB(10, 20, 30));
  delete b;
  EXPECT_EQ(0, trap.Touches());
}

TEST(Bitmap, AssignCopiesPixelsAndResizeKeepsThem) {
  TBitmap a;
  a.SetPixelFormat(pf24bit);
  a.SetWidth(8);
  a.SetHeight(8);
  a.Canvas()->SetPixel(2, 3, RGB(10, 20, 30));
  TBitmap b;
  b.Assign(&a);
  EXPECT_EQ(pf24bit, b.GetPixelFormat());
  EXPECT_EQ(RGB(10, 20, 30), static_cast<COLORREF>(b.Canvas()->GetPixel(2, 3)));
  b.SetWidth(16);
  EXPECT_EQ(RGB(10, 20, 30), static_cast<COLORREF>(b.Canvas()->GetPixel(2, 3)));
  EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(b.Canvas()->GetPixel(15, 7)));
  EXPECT_THROW(b.ScanLine(8), EInvalidGraphicOperation);
}

int BitsOf(TPixelFormat pf) { return pf == pf1bit ? 1 : pf == pf4bit ? 4 : 8; }

int IndexAt(TBitmap& b, int x, int y) {
  const int bits = BitsOf(b.GetPixelFormat());
  const auto* row = static_cast<uint8_t*>(b.ScanLine(y));
  const int bit = x * bits;
  return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
}

void SetIndexAt(TBitmap& b, int x, int y, int index) {
  const int bits = BitsOf(b.GetPixelFormat());
  auto* row = static_cast<uint8_t*>(b.ScanLine(y));
  const int bit = x * bits, shift = 8 - bits - bit % 8, mask = ((1 << bits) - 1) << shift;
  row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~mask) | (index << shift));
}

RGBQUAD Quad(int r, int g, int b) { return RGBQUAD{uint8_t(b), uint8_t(g), uint8_t(r), 0}; }

// A table whose white is neither the first nor the last entry, unlike every default table.
const RGBQUAD kTable[] = {Quad(200, 0, 0), Quad(0, 0, 160), Quad(255, 255, 255), Quad(0, 90, 0)};

TEST(Bitmap, ColorTableReachesHeaderCanvasPaletteDrawAndFile) {
  TBitmap b;
  b.SetPixelFormat(pf4bit);
  b.SetSize(6, 2);
  for (int x = 0; x < 6; ++x) SetIndexAt(b, x, 0, x % 4);
  b.SetColorTable(kTable, 4);
  EXPECT_EQ(3, IndexAt(b, 3, 0));  // the indices stay
  const BITMAPINFO* info = b.Info();
  ASSERT_EQ(4u, info->bmiHeader.biClrUsed);
  EXPECT_EQ(0, memcmp(info->bmiColors, kTable, sizeof kTable));
  EXPECT_EQ(RGB(0, 0, 160), static_cast<COLORREF>(b.Canvas()->GetPixel(1, 0)));
  EXPECT_EQ(RGB(0, 90, 0), static_cast<COLORREF>(b.Canvas()->GetPixel(3, 0)));

  PALETTEENTRY pe[8] = {};
  ASSERT_EQ(4u, GetPaletteEntries(b.GetPalette(), 0, 8, pe));
  EXPECT_TRUE(pe[3].peRed == 0 && pe[3].peGreen == 90 && pe[3].peBlue == 0);

  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(6, 2);
  target.Canvas()->Draw(0, 0, &b);
  EXPECT_EQ(200, PixelOf(target, 0, 0).r);
  EXPECT_EQ(160, PixelOf(target, 1, 0).b);

  b.SaveToFile(tq::WorkFile("table4.bmp"));
  std::string out;
  ASSERT_EQ(0, tq::RunHost("/usr/bin/python3 -c \"from PIL import Image; im=Image.open('table4.bmp'); "
                           "print(im.mode, list(im.convert('RGB').getdata())[:4])\"",
                           &out))
      << out;
  EXPECT_EQ("P [(200, 0, 0), (0, 0, 160), (255, 255, 255), (0, 90, 0)]", out.substr(0, out.find_first_of("\r\n")));

  TBitmap copy;
  copy.Assign(&b);
  EXPECT_EQ(0, memcmp(copy.Info()->bmiColors, kTable, sizeof kTable));

  EXPECT_THROW(b.SetColorTable(kTable, 0), EInvalidGraphicOperation);
  EXPECT_THROW(b.SetColorTable(kTable, 17), EInvalidGraphicOperation);
  TBitmap empty;
  empty.SetPixelFormat(pf8bit);
  EXPECT_THROW(empty.SetColorTable(kTable, 4), EInvalidGraphicOperation);
  EXPECT_THROW(target.SetColorTable(kTable, 4), EInvalidGraphicOperation);
}

TEST(Bitmap, ResizingAnIndexedBitmapKeepsIndicesAndColorTable) {
  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit}) {
    SCOPED_TRACE(pf);
    const int n = pf == pf1bit ? 2 : 4;
    TBitmap b;
    b.SetPixelFormat(pf);
    b.SetSize(13, 5);  // odd width: the last byte of a row is shared by kept and new pixels
    b.SetColorTable(kTable, n);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) SetIndexAt(b, x, y, (x + y) % n);
    b.SetSize(21, 7);
    ASSERT_EQ(static_cast<DWORD>(n), b.Info()->bmiHeader.biClrUsed);
    EXPECT_EQ(0, memcmp(b.Info()->bmiColors, kTable, n * sizeof(RGBQUAD)));
    int wrong = 0;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) wrong += IndexAt(b, x, y) != (x + y) % n;
    EXPECT_EQ(0, wrong);
    // The new area takes the entry nearest white: entry 2, or 0 (dark red beats dark blue) for two.
    const int white = n == 4 ? 2 : 0;
    EXPECT_EQ(white, IndexAt(b, 13, 0));
    EXPECT_EQ(white, IndexAt(b, 20, 6));
    EXPECT_EQ(white, IndexAt(b, 0, 5));
    b.SetSize(4, 3);
    EXPECT_EQ(3 % n, IndexAt(b, 1, 2));
    EXPECT_EQ(0, memcmp(b.Info()->bmiColors, kTable, n * sizeof(RGBQUAD)));
  }
}

}  // namespace
