// Metafiles drawn by the test with GDI (enhanced, Windows with and without the placeable header),
// imported at requested sizes with an alpha channel.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"
#include "uimetafile.h"

namespace {

constexpr int kW = 200, kH = 100;  // the drawing's own units

struct Shape {
  RECT r;
  COLORREF c;
};
// Among them the colour (3, 2, 1) that a key-colour alpha test would take for background, and black
// and white, which match one of the two backgrounds the import plays over.
const Shape kShapes[] = {{{10, 10, 60, 50}, RGB(3, 2, 1)},
                         {{70, 10, 120, 50}, RGB(0, 0, 0)},
                         {{130, 10, 180, 50}, RGB(255, 255, 255)},
                         {{10, 60, 60, 90}, RGB(220, 30, 40)}};
const POINT kEmpty[] = {{95, 75}, {155, 75}, {190, 5}, {5, 95}, {100, 55}};

void Draw(HDC dc, int scale) {
  SelectObject(dc, GetStockObject(NULL_PEN));
  for (const Shape& s : kShapes) {
    HBRUSH b = CreateSolidBrush(s.c);
    HGDIOBJ old = SelectObject(dc, b);
    Rectangle(dc, s.r.left * scale, s.r.top * scale, s.r.right * scale + 1, s.r.bottom * scale + 1);
    SelectObject(dc, old);
    DeleteObject(b);
  }
}

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  return dpi;
}

// An enhanced metafile of w x h screen pixels, the shapes scaled by `scale`.
void WriteEMF(const std::string& name, int w, int h, int scale) {
  const int dpi = ScreenDpi();
  RECT frame{0, 0, MulDiv(w, 2540, dpi), MulDiv(h, 2540, dpi)};
  HDC dc = CreateEnhMetaFileA(nullptr, name.c_str(), &frame, nullptr);
  ASSERT_NE(nullptr, dc);
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowExtEx(dc, w, h, nullptr);
  SetViewportExtEx(dc, MulDiv(w, GetDeviceCaps(dc, HORZRES), MulDiv(GetDeviceCaps(dc, HORZSIZE), dpi * 10, 254)),
                   MulDiv(h, GetDeviceCaps(dc, VERTRES), MulDiv(GetDeviceCaps(dc, VERTSIZE), dpi * 10, 254)), nullptr);
  Draw(dc, scale);
  DeleteEnhMetaFile(CloseEnhMetaFile(dc));
}

// A Windows metafile in a w x h window; placeable: with the 22-byte header naming it w x h at the
// screen resolution.
void WriteWMF(const std::string& name, bool placeable) {
  HDC dc = CreateMetaFileA(nullptr);
  ASSERT_NE(nullptr, dc);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SetWindowExtEx(dc, kW, kH, nullptr);
  Draw(dc, 1);
  HMETAFILE mf = CloseMetaFile(dc);
  const UINT n = GetMetaFileBitsEx(mf, 0, nullptr);
  std::vector<uint8_t> bits(n);
  GetMetaFileBitsEx(mf, n, bits.data());
  DeleteMetaFile(mf);
  std::vector<uint8_t> file;
  if (placeable) {
    uint16_t h[11] = {0xCDD7, 0x9AC6, 0, 0, 0, uint16_t(kW), uint16_t(kH), uint16_t(ScreenDpi()), 0, 0, 0};
    for (int i = 0; i < 10; ++i) h[10] ^= h[i];
    file.resize(22);
    std::memcpy(file.data(), h, 22);
  }
  const size_t header = file.size();
  file.resize(header + bits.size());
  std::copy(bits.begin(), bits.end(), file.begin() + ptrdiff_t(header));
  ASSERT_TRUE(tq::WriteFileBytes(name, file.data(), file.size()));
}

// The metafile's own size in pixels, as the platform layer reads it.
void OwnSize(const std::string& name, int& w, int& h) {
  TIEWideFileStream f(std::wstring(name.begin(), name.end()), fmOpenRead);
  TImageryIO io;
  io.ReadMetafileParams(f);
  w = io.Params.Width;
  h = io.Params.Height;
}

TEST(MetafileImport, SizesAndAlphaForEachKind) {
  WriteEMF(tq::WorkFile("pic.emf"), kW, kH, 1);
  WriteWMF(tq::WorkFile("pic.wmf"), true);
  WriteWMF(tq::WorkFile("plain.wmf"), false);
  for (const char* file : {"pic.emf", "pic.wmf", "plain.wmf"}) {
    const std::string name = tq::WorkFile(file);
    int mw = 0, mh = 0;
    OwnSize(name, mw, mh);
    if (std::string(file) != "plain.wmf") {  // a plain Windows metafile states no size of its own
      EXPECT_EQ(kW, mw) << file;
      EXPECT_EQ(kH, mh) << file;
    }
    ASSERT_GT(mw, 0);
    ASSERT_GT(mh, 0);
    struct Case {
      int w, h, wantW, wantH;
    };
    const Case kCases[] = {{120, 90, 120, 90}, {150, -1, 150, mh * 150 / mw}, {-1, 60, 60 * mw / mh, 60},
                           {-1, -1, mw, mh}};
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(file) + " " + std::to_string(c.w) + " x " + std::to_string(c.h));
      TImageryIO io;
      io.LoadMetafileFile(std::wstring(name.begin(), name.end()), c.w, c.h, true);
      ASSERT_FALSE(io.Aborting);
      TIEBitmap& b = *io.GetIEBitmap();
      ASSERT_EQ(c.wantW, b.GetImageWidth());
      ASSERT_EQ(c.wantH, b.GetImageHeight());
      EXPECT_EQ(std::string(file) == "pic.emf" ? iffEMF : iffWMF, io.Params.FileType);
      ASSERT_TRUE(b.AlphaPresent());
      // a plain Windows metafile's size is the platform's guess, which its drawing need not fill
      if (std::string(file) == "plain.wmf") continue;
      auto at = [&](int x, int y) { return POINT{x * c.wantW / kW, y * c.wantH / kH}; };
      for (const Shape& s : kShapes) {
        const POINT p = at((s.r.left + s.r.right) / 2, (s.r.top + s.r.bottom) / 2);
        EXPECT_EQ(255, b.GetAlphaAt(p.x, p.y)) << p.x << "," << p.y;
        const TIERGB px = b.GetPixelRGB(p.x, p.y);
        EXPECT_EQ(s.c, RGB(px.r, px.g, px.b)) << p.x << "," << p.y;
      }
      for (const POINT& e : kEmpty) {
        const POINT p = at(e.x, e.y);
        EXPECT_EQ(0, b.GetAlphaAt(p.x, p.y)) << p.x << "," << p.y;
      }
    }
  }
}

TEST(MetafileImport, LargePicturesAreScaledToTheMaximumSide) {
  WriteEMF(tq::WorkFile("big.emf"), 10000, 5000, 50);
  struct Case {
    int w, h, wantW, wantH;
  };
  const Case kCases[] = {{-1, -1, 8000, 4000}, {-1, 9000, 8000, 4000}, {3000, -1, 3000, 1500}};
  for (const Case& c : kCases) {
    TImageryIO io;
    const std::string file = tq::WorkFile("big.emf");
    io.LoadMetafileFile(std::wstring(file.begin(), file.end()), c.w, c.h, false);
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(c.wantW, io.GetIEBitmap()->GetImageWidth());
    EXPECT_EQ(c.wantH, io.GetIEBitmap()->GetImageHeight());
    EXPECT_FALSE(io.GetIEBitmap()->AlphaPresent());
  }
}

TEST(MetafileImport, ByExtensionAndByContentWithAlpha) {
  WriteEMF(tq::WorkFile("c.emf"), kW, kH, 1);
  const std::string name = tq::WorkFile("c.emf");
  TImageryIO io;
  io.LoadByExtension(std::wstring(name.begin(), name.end()));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(kW, io.GetIEBitmap()->GetImageWidth());
  EXPECT_EQ(0, io.GetIEBitmap()->GetAlphaAt(190, 5));
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(tq::ReadFileBytes(name, bytes));
  TImageryIO mem;
  mem.LoadFromMemoryBlock(bytes.data(), int64_t(bytes.size()), 0);
  ASSERT_FALSE(mem.Aborting);
  iotest::ExpectSamePixels(*io.GetIEBitmap(), *mem.GetIEBitmap());
  // not a metafile: the platform reader's error reaches the caller, after the finish notification
  const std::string bad = tq::WorkFile("bad.wmf");
  ASSERT_TRUE(tq::WriteFileBytes(bad, "\x01\x00\x09\x00junkjunkjunkjunkjunk", 24));
  int finished = 0;
  io.OnFinishWork = [&](void*) { ++finished; };
  EXPECT_ANY_THROW(io.LoadMetafileFile(std::wstring(bad.begin(), bad.end()), -1, -1, true));
  EXPECT_EQ(1, finished);
}

}  // namespace
