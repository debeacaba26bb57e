// Packed DIBs written by netpbm and ImageMagick (and small fixtures of our own) decode as bmptoppm
// decodes them; the YUV layouts match a Python reference of the BT.601 formulas; mutated headers
// never crash or read past the bytes handed over.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iebitmap.h"
#include "iedibdecode.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Ppm {
  int w = 0, h = 0;
  Bytes rgb;  // R, G, B per pixel, top row first
};

bool ReadPpm(const std::string& name, Ppm& p) {
  Bytes f;
  if (!tq::ReadFileBytes(tq::WorkFile(name), f)) return false;
  std::string head(f.begin(), f.begin() + std::min<size_t>(f.size(), 64));
  std::istringstream in(head);
  std::string magic;
  int maxval = 0;
  in >> magic >> p.w >> p.h >> maxval;
  if (magic != "P6" || maxval != 255) return false;
  size_t start = size_t(in.tellg()) + 1;
  p.rgb.assign(f.begin() + start, f.end());
  return p.rgb.size() == size_t(p.w) * p.h * 3;
}

// A buffer whose last byte sits just before an inaccessible page: a read past the end faults.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(const Bytes& data) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    span_ = (data.size() + page - 1) / page * page + page;
    base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, span_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + span_ - page, page, PAGE_NOACCESS, &old);
    ptr_ = base_ + span_ - page - data.size();
    if (!data.empty()) std::memcpy(ptr_, data.data(), data.size());
  }
  ~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  const unsigned char* data() const { return ptr_; }

 private:
  unsigned char* base_ = nullptr;
  unsigned char* ptr_ = nullptr;
  size_t span_ = 0;
};

// Python writes the source images; netpbm and ImageMagick turn them into BMP files of each kind
// and bmptoppm decodes every BMP into the reference .ppm.
const char kMakeImages[] = R"PY(
import random
random.seed(3)
def save(name, w, h, px):
    open(name, 'wb').write(b'P6 %d %d 255\n' % (w, h) + bytes(c for p in px for c in p))
def blobs(w, h, pal):
    return [pal[(x // 3 + y // 2) % len(pal)] if random.random() < 0.8 else random.choice(pal)
            for y in range(h) for x in range(w)]
rnd = lambda: (random.randrange(256), random.randrange(256), random.randrange(256))
save('bw.ppm', 21, 9, blobs(21, 9, [(0, 0, 0), (255, 255, 255)]))
save('p12.ppm', 13, 7, blobs(13, 7, [rnd() for _ in range(12)]))
save('p200.ppm', 37, 11, blobs(37, 11, [rnd() for _ in range(200)]))
save('p5.ppm', 16, 9, blobs(16, 9, [rnd() for _ in range(5)]))
save('full.ppm', 19, 6, [rnd() for _ in range(19 * 6)])
)PY";

struct BmpCase {
  const char* bmp;
  const char* make;  // host command writing `bmp`
  int bitCount;
};
const BmpCase kBmpCases[] = {
    {"bw1.bmp", "ppmtobmp -bpp 1 bw.ppm > bw1.bmp", 1},
    {"p4.bmp", "ppmtobmp -bpp 4 p12.ppm > p4.bmp", 4},
    {"p8.bmp", "ppmtobmp -bpp 8 p200.ppm > p8.bmp", 8},
    {"f24.bmp", "ppmtobmp -bpp 24 full.ppm > f24.bmp", 24},
    // ImageMagick's run-length coder: an even width (bmptoppm refuses its odd-width rows).
    {"rle8.bmp", "/usr/bin/convert p5.ppm -type Palette -compress RLE BMP3:rle8.bmp", 8},
    {"bf16.bmp", "/usr/bin/convert full.ppm -define bmp:subtype=RGB565 bf16.bmp", 16},
    {"bf32.bmp", "/usr/bin/convert full.ppm -alpha on -compress none bf32.bmp", 32},
    {"inv1.bmp", "", 1},    // written below: white entry first
    {"col1.bmp", "", 1},    // written below: red and blue entries
    {"rle4.bmp", "", 4},    // written below: every kind of run-length code
};

void Put32(Bytes& b, size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i)); }

// A BMP file from a BITMAPINFOHEADER's fields, a palette and the pixel bytes.
Bytes MakeBmp(int w, int h, int bits, uint32_t compression, const std::vector<uint32_t>& palette, const Bytes& pixels) {
  Bytes f(14 + 40 + 4 * palette.size(), 0);
  f[0] = 'B'; f[1] = 'M';
  Put32(f, 10, uint32_t(f.size()));
  Put32(f, 14, 40);
  Put32(f, 18, uint32_t(w));
  Put32(f, 22, uint32_t(h));
  f[26] = 1;
  f[28] = uint8_t(bits);
  Put32(f, 30, compression);
  Put32(f, 34, uint32_t(pixels.size()));
  Put32(f, 46, uint32_t(palette.size()));
  for (size_t i = 0; i < palette.size(); ++i) Put32(f, 54 + 4 * i, palette[i]);
  f.insert(f.end(), pixels.begin(), pixels.end());
  Put32(f, 2, uint32_t(f.size()));
  return f;
}

void WriteOwnFixtures() {
  // 1-bit, 10 x 2, white first in the table: set bits are black.
  Bytes px = {0xF0, 0x00, 0, 0, 0x0F, 0xC0, 0, 0};
  Bytes inv = MakeBmp(10, 2, 1, BI_RGB, {0xFFFFFF, 0x000000}, px);
  tq::WriteFileBytes(tq::WorkFile("inv1.bmp"), inv.data(), inv.size());
  Bytes col = MakeBmp(10, 2, 1, BI_RGB, {0xFF0000, 0x0000FF}, px);
  tq::WriteFileBytes(tq::WorkFile("col1.bmp"), col.data(), col.size());
  // 4-bit run-length, 7 x 4: encoded runs, absolute runs with and without padding, end of line, end
  // of bitmap (bmptoppm wants every row whole, so the delta code is checked apart).
  std::vector<uint32_t> pal;
  for (uint32_t i = 0; i < 16; ++i) pal.push_back(i * 0x0F0F0F ^ (i << 20));
  Bytes rle = {
      7, 0x12, 0, 0,                          // row 0: 1 2 1 2 1 2 1
      3, 0x34, 0, 4, 0x56, 0x78, 0, 0,        // row 1: 3 4 3, absolute 5 6 7 8
      0, 7, 0x9A, 0xBC, 0xDE, 0xF0, 0, 0,     // row 2: absolute 9 A B C D E F
      0, 3, 0x21, 0x30, 4, 0x55, 0, 1,        // row 3: absolute 2 1 3 (padded), 5 5 5 5; end
  };
  Bytes r4 = MakeBmp(7, 4, 4, BI_RLE4, pal, rle);
  tq::WriteFileBytes(tq::WorkFile("rle4.bmp"), r4.data(), r4.size());
}

class DibFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("make.py"), kMakeImages, sizeof kMakeImages - 1));
    std::string out;
    ASSERT_EQ(tq::RunHost("/usr/bin/python3 make.py", &out), 0) << out;
    WriteOwnFixtures();
    for (const BmpCase& c : kBmpCases) {
      if (*c.make) {
        ASSERT_EQ(tq::RunHost(c.make, &out), 0) << c.make << out;
      }
      // bmptoppm writes bilevel images as PBM: ppmtoppm makes every reference a PPM.
      std::string cmd = std::string("bmptoppm ") + c.bmp + " | ppmtoppm > " + c.bmp + ".ppm";
      ASSERT_EQ(tq::RunHost(cmd, &out), 0) << cmd << out;
    }
  }
};

TEST_F(DibFiles, DecodeAsBmptoppm) {
  for (const BmpCase& c : kBmpCases) {
    SCOPED_TRACE(c.bmp);
    Bytes f;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(c.bmp), f));
    Ppm ref;
    ASSERT_TRUE(ReadPpm(std::string(c.bmp) + ".ppm", ref));
    const uint32_t offBits = uint32_t(f[10] | (f[11] << 8) | (f[12] << 16) | (f[13] << 24));
    ASSERT_LE(offBits, f.size());
    // Once with the pixels found behind the colour table, once with them handed over apart.
    for (int apart = 0; apart < 2; ++apart) {
      TIEBitmap bmp;
      std::string error;
      int bc = apart ? IECopyDIBToBitmap(f.data() + 14, offBits - 14, &bmp, f.data() + offBits, f.size() - offBits, &error)
                     : IECopyDIBToBitmap(f.data() + 14, f.size() - 14, &bmp, nullptr, 0, &error);
      ASSERT_EQ(bc, c.bitCount) << error;
      ASSERT_EQ(bmp.GetImageWidth(), ref.w);
      ASSERT_EQ(bmp.GetImageHeight(), ref.h);
      if (c.bitCount == 1) {
        EXPECT_EQ(bmp.GetPixelFormat(), std::string(c.bmp) == "col1.bmp" ? ie24RGB : ie1g);
      }
      // bmptoppm widens 5- and 6-bit fields by shifting, we by scaling: up to 7 levels apart.
      const int tolerance = c.bitCount == 16 ? 7 : 0;
      int bad = 0;
      for (int y = 0; y < ref.h; ++y)
        for (int x = 0; x < ref.w; ++x) {
          TIERGB p = bmp.GetPixelRGB(x, y);
          const unsigned char* q = &ref.rgb[(size_t(y) * ref.w + x) * 3];
          if (std::abs(p.r - q[0]) > tolerance || std::abs(p.g - q[1]) > tolerance || std::abs(p.b - q[2]) > tolerance)
            if (bad++ < 3) ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(p.r) << " " << int(p.g) << " " << int(p.b)
                                         << " want " << int(q[0]) << " " << int(q[1]) << " " << int(q[2]);
        }
      EXPECT_EQ(bad, 0);
    }
  }
}

TEST_F(DibFiles, GlobalHandleAndRefusals) {
  Bytes f;
  ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile("p4.bmp"), f));
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, f.size() - 14);
  std::memcpy(GlobalLock(g), f.data() + 14, f.size() - 14);
  GlobalUnlock(g);
  TIEBitmap bmp;
  EXPECT_EQ(IECopyDIBToBitmap(g, &bmp, nullptr, 0), 4);
  EXPECT_EQ(bmp.GetImageWidth(), 13);  // odd width: every pixel of the row
  GlobalFree(g);

  // A truncated pixel block is refused and leaves the destination as it was.
  TIEBitmap keep(3, 3, ie8g);
  std::string error;
  EXPECT_EQ(IECopyDIBToBitmap(f.data() + 14, f.size() - 15, &keep, nullptr, 0, &error), 0);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(keep.GetImageWidth(), 3);
  EXPECT_EQ(keep.GetPixelFormat(), ie8g);
}

TEST(DibRle, DeltaSkipsToIndexZeroAndRunsStayInside) {
  const std::vector<uint32_t> pal = {0x102030, 0xFF0000, 0x00FF00};
  // 4 x 3 RLE8: row 0 "1 1", delta (1, 1), then "2" lands at x 3 of row 1; end.
  const Bytes rle = {2, 1, 0, 2, 1, 1, 1, 2, 0, 1};
  Bytes f = MakeBmp(4, 3, 8, BI_RLE8, pal, rle);
  TIEBitmap bmp;
  std::string error;
  ASSERT_EQ(IECopyDIBToBitmap(f.data() + 14, f.size() - 14, &bmp, nullptr, 0, &error), 8) << error;
  EXPECT_EQ(bmp.GetRGB(1, 2).r, 255);  // bottom row first
  EXPECT_EQ(bmp.GetRGB(2, 2).r, 0x10);
  EXPECT_EQ(bmp.GetRGB(3, 1).g, 255);
  EXPECT_EQ(bmp.GetRGB(0, 0).r, 0x10);
  // A run longer than the row is refused, not written into the next row or past the image.
  const Bytes over = {5, 1, 0, 1};
  f = MakeBmp(4, 3, 8, BI_RLE8, pal, over);
  EXPECT_EQ(IECopyDIBToBitmap(f.data() + 14, f.size() - 14, &bmp, nullptr, 0, &error), 0);
  EXPECT_EQ(bmp.GetImageWidth(), 4);
}

// Python writes random YUV data of each layout at awkward sizes and the RGB the BT.601 studio-range
// formulas give for it (the host has no ffmpeg, so the reference is this independent decoder).
const char kYuvScript[] = R"PY(
import random, sys
random.seed(11)
def rgb(y, u, v):
    yy = 1.164 * (y - 16)
    c = lambda t: max(0, min(255, round(t)))
    return (c(yy + 1.596 * (v - 128)), c(yy - 0.813 * (v - 128) - 0.391 * (u - 128)), c(yy + 2.018 * (u - 128)))
packed = {  # group pixels, group bytes, per pixel (Y, U, V) offsets
    'IYU2': (1, 3, [(1, 0, 2)]),
    'UYVY': (2, 4, [(1, 0, 2), (3, 0, 2)]),
    'YUY2': (2, 4, [(0, 1, 3), (2, 1, 3)]),
    'YVYU': (2, 4, [(0, 3, 1), (2, 3, 1)]),
    'IYU1': (4, 6, [(1, 0, 3), (2, 0, 3), (4, 0, 3), (5, 0, 3)]),
    'Y211': (4, 4, [(0, 1, 3), (0, 1, 3), (2, 1, 3), (2, 1, 3)]),
    'Y41P': (8, 12, [(1, 0, 2), (3, 0, 2), (5, 0, 2), (7, 0, 2), (8, 4, 6), (9, 4, 6), (10, 4, 6), (11, 4, 6)]),
}
planar = {'I420': (2, 'UV'), 'YV12': (2, 'VU'), 'YVU9': (4, 'VU')}
widen = lambda v, n: (v << (8 - n)) | (v >> (2 * n - 8))
for name in list(packed) + list(planar) + ['CLJR']:
    for (w, h) in [(8, 4), (5, 3), (11, 5), (1, 1)]:
        out = []
        if name in packed:
            gp, gb, offs = packed[name]
            stride = (w + gp - 1) // gp * gb
            data = bytes(random.randrange(256) for _ in range(stride * h))
            for r in range(h):
                for x in range(w):
                    g = r * stride + x // gp * gb
                    yo, uo, vo = offs[x % gp]
                    out.append(rgb(data[g + yo], data[g + uo], data[g + vo]))
        elif name in planar:
            s, order = planar[name]
            cw, ch = (w + s - 1) // s, (h + s - 1) // s
            data = bytes(random.randrange(256) for _ in range(w * h + 2 * cw * ch))
            first, second = w * h, w * h + cw * ch
            up, vp = (first, second) if order == 'UV' else (second, first)
            for r in range(h):
                for x in range(w):
                    c = (r // s) * cw + x // s
                    out.append(rgb(data[r * w + x], data[up + c], data[vp + c]))
        else:
            stride = (w + 3) // 4 * 4
            data = bytes(random.randrange(256) for _ in range(stride * h))
            for r in range(h):
                for x in range(w):
                    word = int.from_bytes(data[r * stride + x // 4 * 4:][:4], 'little')
                    y = widen((word >> (12 + 5 * (x % 4))) & 31, 5)
                    out.append(rgb(y, widen((word >> 6) & 63, 6), widen(word & 63, 6)))
        fn = '%s_%dx%d' % (name, w, h)
        open(fn + '.yuv', 'wb').write(data)
        open(fn + '.rgb', 'wb').write(bytes(c for p in out for c in p))
        print(name, w, h, fn)
)PY";

TEST(DibYuv, LayoutsMatchReference) {
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile("yuv.py"), kYuvScript, sizeof kYuvScript - 1));
  std::string out;
  ASSERT_EQ(tq::RunHost("/usr/bin/python3 yuv.py", &out), 0) << out;
  std::istringstream in(out);
  std::string name, fn;
  int w, h, count = 0;
  while (in >> name >> w >> h >> fn) {
    SCOPED_TRACE(fn);
    ++count;
    Bytes yuv, rgb;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(fn + ".yuv"), yuv));
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(fn + ".rgb"), rgb));
    // Through the DIB loader: a header naming the layout, data kept apart, at the end of a guarded
    // buffer so that a write or read past a partial group would fault.
    Bytes hdr(40, 0);
    Put32(hdr, 0, 40);
    Put32(hdr, 4, uint32_t(w));
    Put32(hdr, 8, uint32_t(name == "Y41P" ? -h : h));  // top-down for every layout
    hdr[14] = 16;
    std::memcpy(&hdr[16], name.data(), 4);
    GuardedBuffer data(yuv);
    TIEBitmap bmp;
    std::string error;
    ASSERT_EQ(IECopyDIBToBitmap(hdr.data(), hdr.size(), &bmp, data.data(), yuv.size(), &error), 16) << error;
    ASSERT_EQ(bmp.GetImageWidth(), w);
    int bad = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        TIERGB p = bmp.GetRGB(x, y);
        const unsigned char* q = &rgb[(size_t(y) * w + x) * 3];
        if (std::abs(p.r - q[0]) > 2 || std::abs(p.g - q[1]) > 2 || std::abs(p.b - q[2]) > 2) ++bad;
      }
    EXPECT_EQ(bad, 0);
    // One byte short: refused.
    Bytes shortData(yuv.begin(), yuv.end() - 1);
    GuardedBuffer shortBuf(shortData);
    EXPECT_EQ(IECopyDIBToBitmap(hdr.data(), hdr.size(), &bmp, shortBuf.data(), shortData.size(), &error), 0);
  }
  EXPECT_EQ(count, 44);
}

TEST(DibYuv, BottomUpRowsFollowTheHeight) {
  // UYVY 2 x 2, positive height: top-down; a negative height: the first data row is the last row.
  Bytes hdr(40, 0);
  Put32(hdr, 0, 40);
  Put32(hdr, 4, 2);
  hdr[14] = 16;
  std::memcpy(&hdr[16], "UYVY", 4);
  const Bytes data = {128, 235, 128, 235, 128, 16, 128, 16};  // white row, black row
  for (int sign : {1, -1}) {
    Put32(hdr, 8, uint32_t(2 * sign));
    TIEBitmap bmp;
    ASSERT_EQ(IECopyDIBToBitmap(hdr.data(), hdr.size(), &bmp, data.data(), data.size()), 16);
    EXPECT_EQ(bmp.GetRGB(1, sign > 0 ? 0 : 1).g, 255);
    EXPECT_EQ(bmp.GetRGB(1, sign > 0 ? 1 : 0).g, 0);
  }
}

TEST_F(DibFiles, MutatedHeadersNeverReadPastTheData) {
  std::mt19937 rng(5);
  int decoded = 0, refused = 0;
  for (const BmpCase& c : kBmpCases) {
    Bytes f;
    ASSERT_TRUE(tq::ReadFileBytes(tq::WorkFile(c.bmp), f));
    const Bytes dib(f.begin() + 14, f.end());
    for (int i = 0; i < 40; ++i) {
      Bytes m = dib;
      const int kind = i % 4;
      if (kind == 0) {  // random bytes of the header and the first palette entries
        for (int k = 0; k < 3; ++k) m[rng() % std::min<size_t>(m.size(), 64)] = uint8_t(rng());
      } else if (kind == 1) {  // a field set to a hostile value
        const size_t fields[] = {0, 4, 8, 14, 16, 32};
        const uint32_t values[] = {0, 1, 2, 3, 4, 8, 12, 40, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 65535, 65536,
                                   0x32595559 /* YUY2 */, 0x30323449 /* I420 */};
        Put32(m, fields[rng() % 6], values[rng() % 15]);
      } else if (kind == 2) {  // truncated
        m.resize(rng() % m.size());
      } else {  // flipped bytes anywhere
        for (int k = 0; k < 8; ++k) m[rng() % m.size()] ^= uint8_t(1u << (rng() % 8));
      }
      GuardedBuffer buf(m);
      TIEBitmap bmp;
      if (IECopyDIBToBitmap(buf.data(), m.size(), &bmp, nullptr, 0) > 0) {
        ++decoded;
        EXPECT_FALSE(bmp.IsEmpty());
      } else {
        ++refused;
      }
    }
  }
  EXPECT_GT(decoded, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
