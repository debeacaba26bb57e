#include "iotest_util.h"

#include <cstdio>
#include <cstring>

#include <windows.h>

#include "hostenv.h"

namespace iotest {

namespace {
::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
}

void MakePicture(TIEBitmap& b, int w, int h, int colours) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245 + 12345;
      uint8_t R, G, B;
      if (y < h / 3) {  // flat bands: long runs
        R = uint8_t((x / 20) * 40); G = 200; B = uint8_t(y * 3);
      } else if (y < 2 * h / 3) {  // gradients
        R = uint8_t(x * 255 / (w > 1 ? w - 1 : 1)); G = uint8_t(y * 255 / (h > 1 ? h - 1 : 1)); B = uint8_t(x ^ y);
      } else {  // noise
        R = uint8_t(seed >> 24); G = uint8_t(seed >> 16); B = uint8_t(seed >> 8);
      }
      if (colours > 0) {
        const int k = int((R + G * 3 + B * 7) % colours);
        R = uint8_t((k * 37) & 255); G = uint8_t((k * 91) & 255); B = uint8_t((k * 53 + 17) & 255);
      }
      r[3 * x] = B; r[3 * x + 1] = G; r[3 * x + 2] = R;
    }
  }
}

std::vector<uint8_t> RGBOf(TIEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      TIERGB c = b.GetPixelRGB(x, y);
      out.push_back(c.r); out.push_back(c.g); out.push_back(c.b);
    }
  return out;
}

bool WritePPM(TIEBitmap& b, const std::string& winPath) {
  std::string head = "P6\n" + std::to_string(b.GetImageWidth()) + " " + std::to_string(b.GetImageHeight()) + "\n255\n";
  std::vector<uint8_t> all(head.begin(), head.end());
  std::vector<uint8_t> px = RGBOf(b);
  all.insert(all.end(), px.begin(), px.end());
  return tq::WriteFileBytes(winPath, all.data(), all.size());
}

bool ReadPPM(const std::string& winPath, int& w, int& h, std::vector<uint8_t>& rgb) {
  std::vector<unsigned char> f;
  if (!tq::ReadFileBytes(winPath, f) || f.size() < 3 || f[0] != 'P' || (f[1] != '6' && f[1] != '5')) return false;
  const bool grey = f[1] == '5';
  size_t p = 2;
  int vals[3], n = 0;
  while (n < 3 && p < f.size()) {
    while (p < f.size() && (isspace(f[p]) || f[p] == '#')) {
      if (f[p] == '#') while (p < f.size() && f[p] != '\n') ++p;
      else ++p;
    }
    int v = 0;
    while (p < f.size() && isdigit(f[p])) v = v * 10 + (f[p++] - '0');
    vals[n++] = v;
  }
  ++p;
  w = vals[0]; h = vals[1];
  if (vals[2] != 255) return false;
  const size_t need = size_t(w) * h * (grey ? 1 : 3);
  if (f.size() - p < need) return false;
  rgb.clear();
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    if (grey) { rgb.push_back(f[p + i]); rgb.push_back(f[p + i]); rgb.push_back(f[p + i]); }
    else { rgb.push_back(f[p + 3 * i]); rgb.push_back(f[p + 3 * i + 1]); rgb.push_back(f[p + 3 * i + 2]); }
  }
  return true;
}

void Host(const std::string& command) {
  std::string out;
  ASSERT_EQ(tq::RunHost(command, &out), 0) << command << "\n" << out;
}

std::string HostOutput(const std::string& command) {
  std::string out;
  EXPECT_EQ(tq::RunHost(command, &out), 0) << command << "\n" << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

int TemporaryFiles() {
  int n = 0;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(tq::WorkFile("~ie*.tmp").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  do ++n; while (FindNextFileA(h, &fd));
  FindClose(h);
  return n;
}

void ExpectHostDecodes(TIEBitmap& expected, const std::string& file, const std::string& command) {
  std::string cmd = command;
  const std::string outName = file + ".host.ppm";
  for (auto pr : {std::make_pair(std::string("{in}"), file), std::make_pair(std::string("{out}"), outName)}) {
    size_t p;
    while ((p = cmd.find(pr.first)) != std::string::npos) cmd.replace(p, pr.first.size(), pr.second);
  }
  Host(cmd);
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPPM(tq::WorkFile(outName), w, h, rgb)) << cmd;
  EXPECT_EQ(w, expected.GetImageWidth());
  EXPECT_EQ(h, expected.GetImageHeight());
  EXPECT_TRUE(rgb == RGBOf(expected)) << "host decoder disagrees: " << cmd;
}

void ExpectSamePixels(TIEBitmap& a, TIEBitmap& b) {
  ASSERT_EQ(a.GetImageWidth(), b.GetImageWidth());
  ASSERT_EQ(a.GetImageHeight(), b.GetImageHeight());
  EXPECT_TRUE(RGBOf(a) == RGBOf(b));
}

bool ToolsPresent() { return tq::UnderWine() && tq::RunHost("test -x /usr/bin/tgatoppm") == 0; }

}  // namespace iotest
