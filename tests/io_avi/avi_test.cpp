// AVI frames read through the platform's AVI library, from files the test writes with that library.
#include <gtest/gtest.h>

#include <windows.h>
#include <vfw.h>

#include <cstring>
#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"

namespace {

constexpr int kW = 33, kH = 21, kFrames = 25;  // an odd width: DIB rows carry padding

TIERGB Palette8(int i) { return TIERGB{uint8_t(i * 3), uint8_t(255 - i), uint8_t(i)}; }  // b, g, r
int Index8(int k, int x, int y) { return (x + y * 3 + k * 5) & 255; }
TIERGB Pixel24(int k, int x, int y) {
  return TIERGB{uint8_t(x * 7 + k * 10), uint8_t(y * 11 + k), uint8_t(x ^ y ^ (k * 3))};
}
TIERGB Expected(int bits, int k, int x, int y) { return bits == 8 ? Palette8(Index8(k, x, y)) : Pixel24(k, x, y); }

// Writes kFrames uncompressed frames at 25 frames per second.
void WriteAVI(const std::string& name, int bits) {
  DeleteFileA(name.c_str());
  AVIFileInit();
  PAVIFILE file = nullptr;
  ASSERT_EQ(0, AVIFileOpenA(&file, name.c_str(), OF_CREATE | OF_WRITE, nullptr));
  const int rowLen = ((kW * bits + 31) / 32) * 4;
  AVISTREAMINFOA si{};
  si.fccType = streamtypeVIDEO;
  si.dwScale = 1;
  si.dwRate = 25;
  si.dwSuggestedBufferSize = DWORD(rowLen * kH);
  SetRect(&si.rcFrame, 0, 0, kW, kH);
  PAVISTREAM stream = nullptr;
  ASSERT_EQ(0, AVIFileCreateStreamA(file, &stream, &si));
  std::vector<uint8_t> format(sizeof(BITMAPINFOHEADER) + (bits == 8 ? 256 * 4 : 0));
  auto* bih = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
  bih->biSize = sizeof(BITMAPINFOHEADER);
  bih->biWidth = kW;
  bih->biHeight = kH;
  bih->biPlanes = 1;
  bih->biBitCount = WORD(bits);
  bih->biSizeImage = DWORD(rowLen * kH);
  if (bits == 8) {
    bih->biClrUsed = 256;
    for (int i = 0; i < 256; ++i) {
      const TIERGB c = Palette8(i);
      uint8_t* q = format.data() + sizeof(BITMAPINFOHEADER) + 4 * i;
      q[0] = c.b; q[1] = c.g; q[2] = c.r;
    }
  }
  ASSERT_EQ(0, AVIStreamSetFormat(stream, 0, format.data(), LONG(format.size())));
  std::vector<uint8_t> px(size_t(rowLen) * kH);
  for (int k = 0; k < kFrames; ++k) {
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = px.data() + size_t(rowLen) * (kH - 1 - y);  // bottom-up
      for (int x = 0; x < kW; ++x)
        if (bits == 8) {
          row[x] = uint8_t(Index8(k, x, y));
        } else {
          const TIERGB c = Pixel24(k, x, y);
          row[3 * x] = c.b; row[3 * x + 1] = c.g; row[3 * x + 2] = c.r;
        }
    }
    ASSERT_EQ(0, AVIStreamWrite(stream, k, 1, px.data(), LONG(px.size()), AVIIF_KEYFRAME, nullptr, nullptr));
  }
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  AVIFileExit();
}

void ExpectFrame(TImageryIO& io, int bits, int k) {
  TIEBitmap& b = *io.GetIEBitmap();
  ASSERT_EQ(kW, b.GetImageWidth());
  ASSERT_EQ(kH, b.GetImageHeight());
  EXPECT_EQ(ie24RGB, b.GetPixelFormat());
  int wrong = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const TIERGB e = Expected(bits, k, x, y), a = b.GetPixelRGB(x, y);
      if (a.r != e.r || a.g != e.g || a.b != e.b) ++wrong;
    }
  EXPECT_EQ(0, wrong) << "frame " << k;
}

TEST(AVIFrames, EveryFrameAsWrittenWithCountAndDelay) {
  for (int bits : {24, 8}) {
    SCOPED_TRACE(bits);
    const std::string name = tq::WorkFile("clip" + std::to_string(bits) + ".avi");
    WriteAVI(name, bits);
    TImageryIO io;
    int finished = 0;
    io.OnFinishWork = [&](void*) { ++finished; };
    ASSERT_EQ(kFrames, io.OpenAVIFile(std::wstring(name.begin(), name.end())));
    EXPECT_EQ(kFrames, io.Params.AVIFrameCount);
    EXPECT_EQ(40, io.Params.AVIFrameDelay);
    for (int k = kFrames - 1; k >= 0; k -= 3) {
      io.LoadAVIFrame(k);
      ASSERT_FALSE(io.Aborting);
      ExpectFrame(io, bits, k);
    }
    EXPECT_EQ(8, io.Params.BitsPerSample);
    EXPECT_EQ(bits == 8 ? 1 : 3, io.Params.SamplesPerPixel);
    // past the last frame: nothing changes, the operation still ends with its notification
    finished = 0;
    io.LoadAVIFrame(kFrames);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(1, finished);
    ExpectFrame(io, bits, 0);
    io.CloseAVIFile();
    io.LoadAVIFrame(0);
    ExpectFrame(io, bits, 0);
  }
}

TEST(AVIFrames, LoadByExtensionTakesTheImageIndexFrame) {
  const std::string name = tq::WorkFile("byext.avi");
  WriteAVI(name, 24);
  TImageryIO io;
  io.Params.ImageIndex = 7;
  io.LoadByExtension(std::wstring(name.begin(), name.end()));
  ASSERT_FALSE(io.Aborting);
  ExpectFrame(io, 24, 7);
  EXPECT_EQ(iffAVI, io.Params.FileType);
  // not an AVI at all
  const std::string bad = tq::WorkFile("bad.avi");
  ASSERT_TRUE(tq::WriteFileBytes(bad, "RIFF\0\0\0\0JUNK", 12));
  int finished = 0;
  io.OnFinishWork = [&](void*) { ++finished; };
  EXPECT_EQ(0, io.OpenAVIFile(std::wstring(bad.begin(), bad.end())));
  EXPECT_TRUE(io.Aborting);
  io.LoadByExtension(std::wstring(bad.begin(), bad.end()));
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(1, finished);
  ExpectFrame(io, 24, 7);
}

TEST(AVIFrames, AStreamWithoutRateHasNoDelay) {
  const std::string name = tq::WorkFile("norate.avi");
  WriteAVI(name, 24);
  std::vector<unsigned char> f;
  ASSERT_TRUE(tq::ReadFileBytes(name, f));
  size_t strh = 0;
  for (size_t i = 0; i + 4 <= f.size() && !strh; ++i)
    if (std::memcmp(&f[i], "strh", 4) == 0) strh = i;
  ASSERT_NE(0u, strh);
  std::memset(&f[strh + 8 + 24], 0, 4);  // dwRate, after type, handler, flags, priority, language,
                                          // initial frames and scale
  ASSERT_TRUE(tq::WriteFileBytes(name, f.data(), f.size()));
  TImageryIO io;
  io.OpenAVIFile(std::wstring(name.begin(), name.end()));
  EXPECT_EQ(0, io.Params.AVIFrameDelay);
  io.LoadAVIFrame(0);  // must not crash; a frame, when the library gives one, is the first
  if (!io.Aborting && !io.GetIEBitmap()->IsEmpty()) ExpectFrame(io, 24, 0);
}

}  // namespace
