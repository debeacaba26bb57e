#include "psd_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "../io/iotest_util.h"
#include "hostenv.h"

namespace psdtest {

std::vector<uint8_t> MakePSD(int channels, int width, int height, int depth, int mode,
                             const std::vector<uint8_t>& colourData, const std::vector<uint8_t>& resources,
                             const std::vector<uint8_t>& layers, const std::vector<uint8_t>& image) {
  Bytes f;
  f.str("8BPS").u16(1).u32(0).u16(0).u16(channels).u32(uint32_t(height)).u32(uint32_t(width)).u16(depth).u16(mode);
  f.block(colourData).block(resources).block(layers).raw(image);
  return f.b;
}

std::vector<uint8_t> Resource(int id, const std::vector<uint8_t>& data) {
  Bytes r;
  r.str("8BIM").u16(id).u16(0).block(data);
  if (data.size() & 1) r.u8(0);
  return r.b;
}

std::vector<PilLayer> PilLayers(const std::string& file, bool pilBoxes) {
  // one line per layer: name x0 y0 x1 y1, then the RGBA bytes in hex as ImageMagick decodes them
  // (PIL of this machine reads the pixels of ImageMagick's layers from wrong offsets, and stops at
  // layers of more than four channels)
  const std::string script =
      "import sys, subprocess\n"
      "def im(*a):\n"
      "    return subprocess.run(['convert', *a], capture_output=True, check=True).stdout\n"
      "f = sys.argv[1]\n"
      "if sys.argv[2] == '1':\n"
      "    from PIL import PsdImagePlugin\n"
      "    boxes = [(l[0], *l[2]) for l in PsdImagePlugin.PsdImageFile(f).layers]\n"
      "else:\n"
      "    boxes = []\n"
      "    for line in im(f, '-format', '%l %X %Y %w %h\\n', 'info:').decode().splitlines()[1:]:\n"
      "        n, x, y, w, h = line.split()\n"
      "        boxes.append((n, int(x), int(y), int(x) + int(w), int(y) + int(h)))\n"
      "for i, b in enumerate(boxes):\n"
      "    print(*b, im('%s[%d]' % (f, i + 1), '-depth', '8', 'RGBA:-').hex())\n";
  tq::WriteFileBytes(tq::WorkFile("host_layers.py"), script.data(), script.size());
  std::string out;
  EXPECT_EQ(tq::RunHost("/usr/bin/python3 host_layers.py " + tq::ShellQuote(file) + (pilBoxes ? " 1" : " 0") +
                            " > host_layers.txt 2>&1",
                        &out),
            0)
      << out;
  std::vector<unsigned char> text;
  tq::ReadFileBytes(tq::WorkFile("host_layers.txt"), text);
  std::istringstream in(std::string(text.begin(), text.end()));
  std::vector<PilLayer> layers;
  PilLayer l;
  std::string hex;
  while (in >> l.name >> l.x0 >> l.y0 >> l.x1 >> l.y1 >> hex) {
    l.rgba.clear();
    for (size_t i = 0; i + 1 < hex.size(); i += 2) l.rgba.push_back(uint8_t(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    layers.push_back(l);
  }
  return layers;
}

bool WriteSourcePicture(TIEBitmap& src, int w, int h, const std::string& name) {
  iotest::MakePicture(src, w, h);
  return iotest::WritePPM(src, tq::WorkFile(name));
}

std::vector<uint8_t> RGBAOf(TIEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.GetImageHeight(); ++y)
    for (int x = 0; x < b.GetImageWidth(); ++x) {
      const TIERGB c = b.GetPixelRGB(x, y);
      out.push_back(c.r);
      out.push_back(c.g);
      out.push_back(c.b);
      out.push_back(b.AlphaPresent() ? b.GetAlphaChannel()->GetRowAddress(y)[x] : 255);
    }
  return out;
}

int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 256;
  int m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
  return m;
}

}  // namespace psdtest
