// Rendering into 24-bit rows: every pixel format through every geometry and alpha mode, the
// adjustment values, blend operations through the renderer, the scaled copy with alpha, and DrawDib.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "iebitmap.h"
#include "iebitmaprender.h"
#include "ieplatformbitmap.h"
#include "imageryproc.h"
#include "ieutils.h"

namespace {

constexpr int kSize = 100;
const TIERGB kBase = {30, 20, 10};  // B, G, R of the destination before a render

int Level(int x, int y) { return (x * 7 + y * 3 + 11) & 255; }

// A 100 x 100 source of the format whose pixels all differ from their neighbours.
std::unique_ptr<TIEBitmap> MakeSource(TIEPixelFormat f) {
  auto b = std::make_unique<TIEBitmap>(kSize, kSize, f);
  if (f == ie8p)
    for (int i = 0; i < 256; ++i) b->SetPaletteEntry(i, IEMakeRGB(uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)));
  for (int y = 0; y < kSize; ++y) {
    uint8_t* row = b->GetRowAddress(y);
    for (int x = 0; x < kSize; ++x) {
      int v = Level(x, y);
      switch (f) {
        case ie1g: IESetRowBit(row, x, ((x + y) & 1) != 0); break;
        case ie8p: case ie8g: row[x] = uint8_t(v); break;
        case ie16g: { uint16_t s = uint16_t(v * 257); std::memcpy(row + 2 * x, &s, 2); break; }
        case ie32f: { float s = float((v + 0.5) / 255); std::memcpy(row + 4 * x, &s, 4); break; }
        case ie24RGB: row[3 * x] = uint8_t(v); row[3 * x + 1] = uint8_t(x * 2); row[3 * x + 2] = uint8_t(y * 2); break;
        case ie32RGB:
          row[4 * x] = uint8_t(v); row[4 * x + 1] = uint8_t(x * 2); row[4 * x + 2] = uint8_t(y * 2); row[4 * x + 3] = 7;
          break;
        case ieCMYK: row[4 * x] = uint8_t(v); row[4 * x + 1] = uint8_t(x); row[4 * x + 2] = uint8_t(y); row[4 * x + 3] = 200; break;
        case ieRGB48: {
          uint16_t s[3] = {uint16_t(v * 257), uint16_t(x * 2 * 257 + 100), uint16_t(y * 2 * 257 + 255)};
          std::memcpy(row + 6 * x, s, 6);
          break;
        }
        case ieCIELab: row[3 * x] = uint8_t(v); row[3 * x + 1] = uint8_t(x - 50); row[3 * x + 2] = uint8_t(y - 50); break;
        default: break;
      }
    }
  }
  return b;
}

// The colour a source pixel shows (the pixel buffer's own decoding of every format).
TIERGB Shown(TIEBitmap* src, int x, int y) { return src->GetPixelRGB(x, y); }

TIERGB Mix(TIERGB d, TIERGB v, int m) {
  return TIERGB{IEAlphaMix(d.b, v.b, m), IEAlphaMix(d.g, v.g, m), IEAlphaMix(d.r, v.r, m)};
}

std::unique_ptr<TIEBitmap> MakeDest() {
  auto d = std::make_unique<TIEBitmap>(kSize, kSize, ie24RGB);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) d->SetRGB(x, y, kBase);
  return d;
}

TEST(Render, EveryFormatGeometryAndAlphaMode) {
  struct Geometry {
    const char* name;
    int dx, dy, dw, dh, sx, sy, sw, sh;
    RECT clip;  // right < left: none
    // source pixel of destination (x, y); false where nothing is drawn
    std::function<bool(int, int, int&, int&)> map;
  };
  const Geometry kGeometries[] = {
      {"1:1", 0, 0, 100, 100, 0, 0, 100, 100, {0, 0, -1, -1},
       [](int x, int y, int& sx, int& sy) { sx = x; sy = y; return true; }},
      {"2x", 0, 0, 100, 100, 0, 0, 50, 50, {0, 0, -1, -1},
       [](int x, int y, int& sx, int& sy) { sx = x / 2; sy = y / 2; return true; }},
      {"0.5x", 0, 0, 50, 50, 0, 0, 100, 100, {0, 0, -1, -1},
       [](int x, int y, int& sx, int& sy) { sx = 2 * x; sy = 2 * y; return x < 50 && y < 50; }},
      {"clipped", 0, 0, 100, 100, 0, 0, 100, 100, {10, 20, 59, 69},
       [](int x, int y, int& sx, int& sy) { sx = x; sy = y; return x >= 10 && x <= 59 && y >= 20 && y <= 69; }},
      {"negative origin", -10, -10, 100, 100, 0, 0, 100, 100, {0, 0, -1, -1},
       [](int x, int y, int& sx, int& sy) { sx = x + 10; sy = y + 10; return x < 90 && y < 90; }},
  };
  enum Mode { kOpaque, kHalf, kAlphaChannel };
  const TIEPixelFormat kFormats[] = {ie1g, ie8p, ie8g, ie16g, ie24RGB, ie32f, ieCMYK, ieRGB48, ieCIELab, ie32RGB};
  for (TIEPixelFormat f : kFormats) {
    auto src = MakeSource(f);
    for (const Geometry& g : kGeometries) {
      for (Mode mode : {kOpaque, kHalf, kAlphaChannel}) {
        SCOPED_TRACE(testing::Message() << "format " << int(f) << ", " << g.name << ", mode " << int(mode));
        if (mode == kAlphaChannel) {
          for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) src->SetAlphaAt(x, y, uint8_t((x * 3 + y * 5) & 255));
        }
        auto dst = MakeDest();
        const RECT* clip = g.clip.right >= g.clip.left ? &g.clip : nullptr;
        IERenderZoomedInto(src.get(), dst.get(), nullptr, clip, g.dx, g.dy, g.dw, g.dh, g.sx, g.sy, g.sw, g.sh,
                           mode == kAlphaChannel, true, mode == kHalf ? 128 : 255, ieboNormal);
        int wrong = 0;
        for (int y = 0; y < kSize && wrong < 3; ++y)
          for (int x = 0; x < kSize && wrong < 3; ++x) {
            int sx, sy;
            TIERGB want = kBase;
            if (g.map(x, y, sx, sy)) {
              TIERGB v = Shown(src.get(), sx, sy);
              want = mode == kOpaque ? v : Mix(kBase, v, mode == kHalf ? 128 : src->GetAlphaAt(sx, sy));
            }
            TIERGB got = dst->GetRGB(x, y);
            if (!IESameRGB(got, want)) {
              ++wrong;
              ADD_FAILURE() << "at " << x << "," << y << " got " << int(got.r) << "," << int(got.g) << ","
                            << int(got.b) << " want " << int(want.r) << "," << int(want.g) << "," << int(want.b);
            }
          }
        if (mode == kAlphaChannel) src->DiscardAlphaChannel(false);
      }
    }
  }
}

// One pixel through the renderer with the source's adjustments, its operation and transparency.
TEST(Render, AdjustmentAndOperationValues) {
  struct Case {
    const char* name;
    TIEPixelFormat f;
    double sample;  // grey level (or float sample, or 16-bit sample)
    int contrast;
    double low, high;
    int transparency;
    TIEBlendOperation op;
    int destLevel, want;
  };
  const Case kCases[] = {
      {"contrast 10 below", ie24RGB, 100, 10, 0, 0, 255, ieboNormal, 0, 72},
      {"contrast 10 above", ie24RGB, 200, 10, 0, 0, 255, ieboNormal, 0, 255},
      {"contrast -100", ie24RGB, 17, -100, 0, 0, 255, ieboNormal, 0, 128},
      {"contrast 10 at 32 bits", ie32RGB, 100, 10, 0, 0, 255, ieboNormal, 0, 72},
      {"contrast 10 at 48 bits", ieRGB48, 100 * 257, 10, 0, 0, 255, ieboNormal, 0, 72},
      {"contrast 10 at 48 bits above", ieRGB48, 200 * 257, 10, 0, 0, 255, ieboNormal, 0, 255},
      {"range low", ie8g, 40, 0, 50, 150, 255, ieboNormal, 0, 0},
      {"range middle", ie8g, 100, 0, 50, 150, 255, ieboNormal, 0, 127},
      {"range high", ie8g, 200, 0, 50, 150, 255, ieboNormal, 0, 255},
      {"range at 16 bits", ie16g, 100, 0, 50, 150, 255, ieboNormal, 0, 127},
      {"range of floats", ie32f, 0.5, 0, 0.25, 0.75, 255, ieboNormal, 0, 127},
      {"float above 1", ie32f, 1.5, 0, 0, 0, 255, ieboNormal, 0, 255},
      {"float below 0", ie32f, -0.5, 0, 0, 0, 255, ieboNormal, 77, 0},
      {"white at 128 over black", ie24RGB, 255, 0, 0, 0, 128, ieboNormal, 0, 128},
      {"black at 128 over white", ie24RGB, 0, 0, 0, 0, 128, ieboNormal, 255, 127},
      {"difference of equal pixels", ie24RGB, 90, 0, 0, 0, 255, ieboDifference, 90, 0},
      {"multiply by white", ie24RGB, 255, 0, 0, 0, 255, ieboMultiply, 77, 77},
      {"difference of a grey layer", ie8g, 90, 0, 0, 0, 255, ieboDifference, 100, 10},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TIEBitmap src(1, 1, c.f), dst(1, 1, ie24RGB);
    uint8_t* row = src.GetRowAddress(0);
    int v = int(c.sample);
    switch (c.f) {
      case ie24RGB: row[0] = row[1] = row[2] = uint8_t(v); break;
      case ie32RGB: row[0] = row[1] = row[2] = uint8_t(v); row[3] = 0; break;
      case ie8g: row[0] = uint8_t(v); break;
      case ie16g: { uint16_t s = uint16_t(v); std::memcpy(row, &s, 2); break; }
      case ie32f: { float s = float(c.sample); std::memcpy(row, &s, 4); break; }
      case ieRGB48: { uint16_t s[3] = {uint16_t(v), uint16_t(v), uint16_t(v)}; std::memcpy(row, s, 6); break; }
      default: break;
    }
    src.Contrast = c.contrast;
    src.InputRangeLow = c.low;
    src.InputRangeHigh = c.high;
    dst.SetRGB(0, 0, IEMakeRGB(uint8_t(c.destLevel), uint8_t(c.destLevel), uint8_t(c.destLevel)));
    IERenderInto(&src, &dst, 0, 0, 1, 1, 0, 0, 1, 1, c.transparency, c.op);
    TIERGB got = dst.GetRGB(0, 0);
    EXPECT_EQ(got.r, c.want);
    EXPECT_EQ(got.g, c.want);
    EXPECT_EQ(got.b, c.want);
  }
}

TEST(Render, EvenRowsChangeOnlyEvenDestinationRows) {
  TIEBitmap src(4, 6, ie24RGB), dst(4, 6, ie24RGB);
  src.Fill(0);
  dst.Fill(0xFFFFFF);
  IERenderInto(&src, &dst, 0, 0, 4, 6, 0, 0, 4, 6, 255, ieboEvenRows);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(dst.GetRGB(2, y).g, y % 2 == 0 ? 0 : 255) << y;
}

// Tables kept by the caller (they hold the destination's rows) give the same picture on the next call
// with the same geometry.
TEST(Render, KeptTablesAndRowReuse) {
  auto src = MakeSource(ie24RGB);
  auto a = MakeDest();
  TIERenderTables t;
  IERenderZoomedInto(src.get(), a.get(), &t, nullptr, 0, 0, 100, 100, 0, 0, 40, 30, false, true, 255, ieboNormal);
  EXPECT_EQ(t.XTable.size(), 100u);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) a->SetRGB(x, y, kBase);
  IERenderZoomedInto(src.get(), a.get(), &t, nullptr, 0, 0, 100, 100, 0, 0, 40, 30, false, true, 255, ieboNormal);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      ASSERT_TRUE(IESameRGB(a->GetRGB(x, y), Shown(src.get(), x * 40 / 100, y * 30 / 100))) << x << "," << y;
}

// A source in a temporary file (rows reached through views) renders as one in memory.
TEST(Render, SourceInATemporaryFile) {
  auto mem = MakeSource(ie24RGB);
  TIEBitmap file;
  file.SetMemoryThreshold(0);
  file.SetLocation(ieTempFile);
  ASSERT_TRUE(file.Allocate(kSize, kSize, ie24RGB));
  ASSERT_EQ(file.GetLocation(), ieTempFile);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) file.SetRGB(x, y, mem->GetRGB(x, y));
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) file.SetAlphaAt(x, y, uint8_t(x + y));
  auto a = MakeDest();
  IERenderInto(&file, a.get(), 0, 0, 100, 100, 0, 0, 50, 50, 255, ieboNormal);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      TIERGB want = Mix(kBase, mem->GetRGB(x / 2, y / 2), (x / 2 + y / 2));
      ASSERT_TRUE(IESameRGB(a->GetRGB(x, y), want)) << x << "," << y;
    }
  EXPECT_EQ(file.RowAccess, iraRead | iraWrite);  // restored after the call
}

TEST(Render, ResampleRectIntoCopiesWithAlpha) {
  auto src = MakeSource(ie8g);  // converted to colours on the way
  TIEBitmap dst(60, 60, ie24RGB);
  dst.Fill(0);
  IEResampleRectInto(src.get(), &dst, 10, 10, 50, 50, 0, 0, 100, 100, 90);
  EXPECT_TRUE(IESameRGB(dst.GetRGB(10, 10), Shown(src.get(), 0, 0)));
  EXPECT_TRUE(IESameRGB(dst.GetRGB(59, 59), Shown(src.get(), 98, 98)));
  EXPECT_EQ(dst.GetAlphaAt(20, 20), 90);

  auto rgb = MakeSource(ie24RGB);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) rgb->SetAlphaAt(x, y, uint8_t(x * 2));
  TIEBitmap d2(100, 100, ie24RGB);
  IEResampleRectInto(rgb.get(), &d2, 0, 0, 100, 100, 0, 0, 100, 100, 100);
  EXPECT_EQ(d2.GetAlphaAt(10, 3), 20);
  EXPECT_EQ(d2.GetAlphaAt(80, 3), 100);  // lowered to the opacity
  EXPECT_TRUE(IESameRGB(d2.GetRGB(33, 44), Shown(rgb.get(), 33, 44)));
}

// A 32-bit BI_BITFIELDS DIB drawn into a DIB section (StretchDIBits where DrawDib refuses it).
TEST(Render, DrawDibDrawsBitfieldDibs) {
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[3];
  } info = {};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = 4;
  info.h.biHeight = 2;
  info.h.biPlanes = 1;
  info.h.biBitCount = 32;
  info.h.biCompression = BI_BITFIELDS;
  info.masks[0] = 0xFF0000; info.masks[1] = 0xFF00; info.masks[2] = 0xFF;
  uint32_t px[8];
  for (int i = 0; i < 8; ++i) px[i] = 0x00102030u + uint32_t(i);
  TIEDIBSectionBitmap target;
  ASSERT_TRUE(target.SetPixelFormat(iepf24bit));
  ASSERT_TRUE(target.SetSize(4, 2));
  HANDLE dd = IEDrawDibOpen();
  EXPECT_TRUE(IEDrawDibDraw(dd, target.GetDC(), 0, 0, 4, 2, &info.h, px, 0, 0, 4, 2, 0));
  if (dd) IEDrawDibClose(dd);
  GdiFlush();
  const uint8_t* top = target.ScanLine(0);  // the DIB's last row (bottom-up source)
  EXPECT_EQ(top[0], 0x30 + 4);
  EXPECT_EQ(top[1], 0x20);
  EXPECT_EQ(top[2], 0x10);
}

}  // namespace

TEST(Render, OneToOneSourceRectanglePastTheEdgesShowsOnlyTheSource) {
  TIEBitmap src(100, 60, ie24RGB);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) std::memset(src.GetRowAddress(y) + 3 * x, 10 + (x + y) % 200, 3);
  struct Case { int sx, sy, sw, sh; } cases[] = {{50, 0, 100, 60}, {0, 30, 100, 60}, {70, 40, 80, 50}};
  for (const Case& c : cases) {
    TIEBitmap dest(200, 200, ie24RGB);
    for (int y = 0; y < 200; ++y) std::memset(dest.GetRowAddress(y), 1, 600);  // a marker
    IERenderInto(&src, &dest, 0, 0, c.sw, c.sh, c.sx, c.sy, c.sw, c.sh, 255, ieboNormal);
    const int shownW = 100 - c.sx, shownH = 60 - c.sy;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; ++x) {
        const uint8_t v = dest.GetRowAddress(y)[3 * x];
        const uint8_t want = x < shownW && y < shownH ? uint8_t(10 + (x + c.sx + y + c.sy) % 200) : 1;
        ASSERT_EQ(v, want) << c.sx << "," << c.sy << " at " << x << "," << y;
      }
  }
}

// Inputs that used to read through freed storage or past an alpha channel of the wrong size draw
// nothing or stay inside the image.
TEST(Render, FreedSourcesAndMisfitAlphaChannels) {
  auto freed = MakeSource(ie24RGB);
  freed->SetAlphaAt(3, 3, 7);
  freed->FreeStorage(false);
  TIEBitmap dst(40, 40, ie24RGB);
  dst.Fill(0);
  IEResampleRectInto(freed.get(), &dst, 0, 0, 40, 40, 0, 0, 100, 100, 255);
  freed->ResampleRectInto(&dst, 0, 0, 40, 40, 0, 0, 100, 100, rfTriangle, 255);
  freed->RenderInto(&dst, 0, 0, 40, 40, 0, 0, 100, 100, 255, rfNone, ieboNormal);
  EXPECT_TRUE(dst.IsAllZero());

  struct Case {
    int w, h;
    TIEPixelFormat f;
  };
  const Case cases[] = {{10, 10, ie8g}, {300, 150, ie8g}, {100, 100, ie24RGB}, {0, 0, ie8g}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << int(c.f));
    auto src = MakeSource(ie24RGB);
    auto* alpha = new TIEBitmap();
    if (c.w > 0) {
      ASSERT_TRUE(alpha->Allocate(c.w, c.h, c.f));
      alpha->Fill(c.f == ie8g ? 40 : 0x282828);  // grey 40 either way
    }
    delete src->AttachAlphaChannel(alpha);
    ASSERT_EQ(src->GetAlphaChannel(), alpha);
    EXPECT_EQ(alpha->GetImageWidth(), kSize);
    EXPECT_EQ(alpha->GetImageHeight(), kSize);
    EXPECT_EQ(alpha->GetPixelFormat(), ie8g);
    // what overlapped keeps its value, the rest is opaque
    EXPECT_EQ(alpha->GetByte(5, 5), c.w > 0 ? 40 : 255);
    if (c.w == 10) {
      EXPECT_EQ(alpha->GetByte(50, 50), 255);
    }
    TIEBitmap out(kSize, kSize, ie24RGB);
    out.Fill(0);
    src->RenderInto(&out, 0, 0, kSize, kSize, 0, 0, kSize, kSize, 255, rfNone, ieboNormal);
    src->ResampleRectInto(&out, 0, 0, 50, 50, 0, 0, kSize, kSize, rfNone, 255);
  }
}

// A 2:1 shrink of a 1-bit checkerboard with a filter shows grey levels, through the members and the
// scaled copy alike; unfiltered it stays black and white.
TEST(Render, FilteredShrinkOfOneBitImageGivesGreys) {
  IEProcStaticInit();  // the resamplers the filtered path calls
  auto src = MakeSource(ie1g);
  auto greys = [](TIEBitmap& b, int w, int h) {
    int grey = 0;
    for (int y = 1; y < h - 1; ++y)
      for (int x = 1; x < w - 1; ++x) {
        const TIERGB p = b.GetRGB(x, y);
        EXPECT_TRUE(p.r == p.g && p.g == p.b);
        if (p.r > 60 && p.r < 200) ++grey;
      }
    return grey;
  };
  const int inner = (kSize / 2 - 2) * (kSize / 2 - 2);
  for (TResampleFilter f : {rfTriangle, rfLanczos3, rfBilinear}) {
    SCOPED_TRACE(int(f));
    TIEBitmap a(kSize / 2, kSize / 2, ie24RGB), b(kSize / 2, kSize / 2, ie24RGB);
    src->RenderInto(&a, 0, 0, kSize / 2, kSize / 2, 0, 0, kSize, kSize, 255, f, ieboNormal);
    src->ResampleRectInto(&b, 0, 0, kSize / 2, kSize / 2, 0, 0, kSize, kSize, f, 255);
    EXPECT_EQ(greys(a, kSize / 2, kSize / 2), inner);
    EXPECT_EQ(greys(b, kSize / 2, kSize / 2), inner);
  }
  TIEBitmap plain(kSize / 2, kSize / 2, ie24RGB);
  src->RenderInto(&plain, 0, 0, kSize / 2, kSize / 2, 0, 0, kSize, kSize, 255, rfNone, ieboNormal);
  EXPECT_EQ(greys(plain, kSize / 2, kSize / 2), 0);
  // a projection keeps black and white
  TIEBitmap projected(kSize / 2, kSize / 2, ie24RGB);
  src->RenderInto(&projected, 0, 0, kSize / 2, kSize / 2, 0, 0, kSize, kSize, 255, rfProjectWB, ieboNormal);
  EXPECT_EQ(greys(projected, kSize / 2, kSize / 2), 0);
}
