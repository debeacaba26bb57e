#include "quantfixtures.h"

#include <cstdlib>
#include <cstring>

#include "hostenv.h"

namespace quant {

namespace {

uint8_t Clamp(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

std::unique_ptr<TIEBitmap> PhotoLike(int w, int h, uint32_t seed) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  uint32_t s = seed * 2654435761u + 1;
  auto rnd = [&]() { s = s * 1664525u + 1013904223u; return int((s >> 16) & 0xFF); };
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b->GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      int r, g, bl;
      int n = (rnd() - 128) / 16;
      if (y < h / 3) {  // sky: blue gradient
        r = 90 + 60 * y / h + n;
        g = 140 + 60 * y / h + n;
        bl = 230 - 20 * x / w + n;
      } else if (x < w / 2) {  // foliage: greens with texture
        r = 40 + (x * 37 + y * 11) % 50 + n;
        g = 110 + (x * 13 + y * 29) % 90 + n;
        bl = 30 + n;
      } else {  // a red object with shading and a hard edge
        r = 200 - 120 * (y - h / 3) / h + n;
        g = 40 + (x > 3 * w / 4 ? 80 : 0) + n;
        bl = 50 + 30 * x / w + n;
      }
      if (x < w / 8 && y < h / 8) r = g = bl = 255;  // pure white patch
      row[3 * x] = Clamp(bl);
      row[3 * x + 1] = Clamp(g);
      row[3 * x + 2] = Clamp(r);
    }
  }
  return b;
}

std::unique_ptr<TIEBitmap> FromColors(int w, int h, const std::vector<TIERGB>& colors) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  const size_t n = colors.size();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetRGB(x, y, colors[(size_t(y * w + x) * 7) % n]);
  return b;
}

std::string WritePPM(TIEBitmap* b, const std::string& name) {
  const int w = b->GetImageWidth(), h = b->GetImageHeight();
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<unsigned char> data(head.begin(), head.end());
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = b->GetRowAddress(y);
    for (int x = 0; x < w; ++x) {
      data.push_back(row[3 * x + 2]);
      data.push_back(row[3 * x + 1]);
      data.push_back(row[3 * x]);
    }
  }
  std::string win = tq::WorkFile(name);
  if (!tq::WriteFileBytes(win, data.data(), data.size())) return "";
  return tq::UnixPath(win);
}

double MeanError(TIEBitmap* a, TIEBitmap* b) {
  const int w = a->GetImageWidth(), h = a->GetImageHeight();
  double sum = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = a->GetRowAddress(y);
    const uint8_t* q = b->GetRowAddress(y);
    for (int i = 0; i < 3 * w; ++i) sum += std::abs(int(p[i]) - int(q[i]));
  }
  return sum / (double(w) * h);
}

double PilMedianCutError(const std::string& path, int colors) {
  std::string out;
  std::string py =
      "from PIL import Image\n"
      "import sys\n"
      "im = Image.open(sys.argv[1]).convert('RGB')\n"
      "q = im.quantize(int(sys.argv[2]), method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE).convert('RGB')\n"
      "a, b = im.tobytes(), q.tobytes()\n"
      "print(sum(abs(x - y) for x, y in zip(a, b)) / (len(a) / 3))\n";
  int rc = tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(py) + " " + tq::ShellQuote(path) + " " +
                           std::to_string(colors),
                       &out);
  if (rc != 0) return -1;
  return std::atof(out.c_str());
}

int PilColorCount(const std::string& path) {
  std::string out;
  std::string py =
      "from PIL import Image\n"
      "import sys\n"
      "print(len(Image.open(sys.argv[1]).convert('RGB').getcolors(1 << 20)))\n";
  if (tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(py) + " " + tq::ShellQuote(path), &out) != 0) return -1;
  return std::atoi(out.c_str());
}

}  // namespace quant
