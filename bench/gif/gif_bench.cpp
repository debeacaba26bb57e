// GIF output of one slide: octree palette, Floyd-Steinberg dithering and LZW coding of a
// 1920 x 1080 photograph-like picture and of a flat slide picture. Writes the pictures as PPM
// files and our GIF files to /tmp/tq-gif-bench so that compare.sh can run ImageMagick on the same
// pixels and measure both outputs the same way.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gifbitmap.h"
#include "gifimage.h"

namespace {

const int kWidth = 1920, kHeight = 1080;
const char kOutDir[] = "Z:\\tmp\\tq-gif-bench\\";

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  return x ^ (x >> 16);
}

uint8_t Clamp(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void Fill(TGIFBitmap& bmp, bool photo) {
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = bmp.Row(y);
    for (int x = 0; x < kWidth; ++x) {
      double r, g, b;
      if (photo) {
        // Sky, hills and foliage-like texture: smooth gradients with fine noise everywhere.
        const double n = double(Hash(uint32_t(y * kWidth + x)) & 31) - 16;
        const double hill = 600 + 120 * std::sin(x / 170.0) + 60 * std::sin(x / 53.0);
        if (y < hill) {
          r = 90 + y * 0.08 + n * 0.3;
          g = 140 + y * 0.07 + n * 0.3;
          b = 230 - y * 0.05 + n * 0.3;
        } else {
          const double t = std::sin(x / 7.0) * std::cos(y / 5.0);
          r = 60 + 40 * t + (y - hill) * 0.05 + n;
          g = 110 + 50 * t + n;
          b = 40 + 20 * t + n * 0.5;
        }
        const double dx = x - 1400, dy = y - 300;
        if (dx * dx + dy * dy < 120 * 120) r = 250, g = 220 - std::sqrt(dx * dx + dy * dy) * 0.4, b = 120;
      } else {
        // A slide: white page, a gradient title bar, coloured boxes and text-like strokes.
        r = g = b = 255;
        if (y < 140) r = 20 + x * 0.02, g = 60 + x * 0.03, b = 140 + x * 0.05;
        if (x > 200 && x < 900 && y > 300 && y < 800) r = 240, g = 180, b = 40;
        if (x > 1000 && x < 1700 && y > 300 && y < 800) r = 60, g = 160, b = 90;
        if (y > 200 && y < 260 && (x / 9) % 3 != 0 && x > 200 && x < 1500 && (y / 4) % 2 == 0) r = g = b = 30;
        if (y > 850 && y < 1000 && x > 200 && x < 1700 && ((x + y) / 6) % 4 == 0) r = 50, g = 50, b = 60;
      }
      row[3 * x] = Clamp(b);
      row[3 * x + 1] = Clamp(g);
      row[3 * x + 2] = Clamp(r);
    }
  }
}

double Seconds() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / double(freq.QuadPart);
}

void WriteFile(const std::string& name, const void* data, size_t size) {
  FILE* f = std::fopen((std::string(kOutDir) + name).c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  CreateDirectoryA(kOutDir, nullptr);
  for (bool photo : {true, false}) {
    const char* name = photo ? "photo" : "slide";
    TGIFBitmap picture(kWidth, kHeight, 24);
    Fill(picture, photo);
    std::string ppm = "P6 1920 1080 255\n";
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const uint8_t* p = picture.Row(y) + 3 * x;
        ppm += char(p[2]);
        ppm += char(p[1]);
        ppm += char(p[0]);
      }
    WriteFile(std::string(name) + ".ppm", ppm.data(), ppm.size());

    double best = 1e9;
    std::vector<uint8_t> gif;
    double error = 0;
    for (int i = 0; i < rounds; ++i) {
      const double t0 = Seconds();
      TGIFImage image;
      image.PaletteMode = gpOctree;
      image.DitherStyle = gdFloydSteinberg;
      image.SetPaletteBits(8);
      image.Assign(picture);
      TGIFMemoryStream out;
      image.SaveToStream(out);
      best = std::min(best, Seconds() - t0);
      if (i == 0) {
        gif = out.Data();
        const TGIFSubImage& frame = image.Images()[0];
        const TGIFPalette& map = frame.ColorMap().Entries();
        double sum = 0;
        for (int y = 0; y < kHeight; ++y)
          for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = picture.Row(y) + 3 * x;
            const TGIFColor& c = map[frame.Pixels()[size_t(y) * kWidth + size_t(x)]];
            const double dr = c.Red - p[2], dg = c.Green - p[1], db = c.Blue - p[0];
            sum += std::sqrt(dr * dr + dg * dg + db * db);
          }
        error = sum / (double(kWidth) * kHeight);
      }
    }
    WriteFile(std::string(name) + "_ours.gif", gif.data(), gif.size());
    std::printf("%-6s ours:   %7.1f ms (best of %d)  mean colour error %6.2f  %8zu bytes\n", name, best * 1000,
                rounds, error, gif.size());
  }
  return 0;
}
